<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<!-- English for the windows. The Japanese texts are the sources; the context "texts" holds those
     of common/Vemo_texts.h, composed ones with %1, %2 for what is put in (see app/Vemo_language.h). -->
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>TVemo_mainF</name>
    <message>
        <source>画像ファイル指定</source>
        <translation>Image and output</translation>
    </message>
    <message>
        <source>画像ファイル</source>
        <translation>Image file</translation>
    </message>
    <message>
        <source>参照</source>
        <translation>Browse</translation>
    </message>
    <message>
        <source>ファイル作成フォルダ</source>
        <translation>Output folder</translation>
    </message>
    <message>
        <source>座標系の調整</source>
        <translation>Coordinate axes</translation>
    </message>
    <message>
        <source>Ｘ軸反転</source>
        <translation>Flip X axis</translation>
    </message>
    <message>
        <source>Ｙ軸反転</source>
        <translation>Flip Y axis</translation>
    </message>
    <message>
        <source>座標倍率</source>
        <translation>Coordinate ratios</translation>
    </message>
    <message>
        <source>Ｘ倍率</source>
        <translation>X ratio</translation>
    </message>
    <message>
        <source>Ｙ倍率</source>
        <translation>Y ratio</translation>
    </message>
    <message>
        <source>作成ファイル形式</source>
        <translation>Output formats</translation>
    </message>
    <message>
        <source>テキスト形式</source>
        <translation>Text</translation>
    </message>
    <message>
        <source>DXF形式</source>
        <translation>DXF</translation>
    </message>
    <message>
        <source>A10形式</source>
        <translation>A10</translation>
    </message>
    <message>
        <source>トレース実行</source>
        <translation>Trace</translation>
    </message>
    <message>
        <source>閉じる</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>画像Viewer</source>
        <translation>Viewer</translation>
    </message>
    <message>
        <source>ヘルプ</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>オプション</source>
        <translation>Options</translation>
    </message>
    <message>
        <source>SVG形式</source>
        <translation>SVG</translation>
    </message>
    <message>
        <source>線をつないで整える</source>
        <translation>Join and clean lines</translation>
    </message>
    <message>
        <source>直線・円弧・円に当てはめる</source>
        <translation>Fit lines, arcs, circles</translation>
    </message>
    <message>
        <source>つないだ線を直線・円弧・円にまとめます（線をつなぐ処理も行います）</source>
        <translation>Turns the joined lines into lines, arcs and circles (joins the lines too)</translation>
    </message>
    <message>
        <source>水平・垂直に揃える</source>
        <translation>Snap angles</translation>
    </message>
    <message>
        <source>水平・垂直に近い直線（0.5度以内）を水平・垂直にします</source>
        <translation>Makes lines within 0.5 degrees of level or upright exactly so</translation>
    </message>
    <message>
        <source>出力単位</source>
        <translation>Unit</translation>
    </message>
    <message>
        <source>解像度</source>
        <translation>Resolution</translation>
    </message>
    <message>
        <source>画像の値</source>
        <translation>stored</translation>
    </message>
    <message>
        <source>空欄のときは画像に記録された解像度を使います。入力した値は記録より優先します（Ｘ,Ｙで異なるときは 300,600 のように）</source>
        <translation>Empty: the resolution the image stores. A value given here is used instead (X,Y such as 300,600 where they differ)</translation>
    </message>
</context>
<context>
    <name>TVemo_viewareF</name>
    <message>
        <source>線画</source>
        <translation>Lines</translation>
    </message>
    <message>
        <source>正方形化</source>
        <translation>Squares</translation>
    </message>
    <message>
        <source>閉じる</source>
        <translation>Close</translation>
    </message>
</context>
<context>
    <name>texts</name>
    <message>
        <source>1.画像読込み</source>
        <translation>1. Loading image</translation>
    </message>
    <message>
        <source>2.画像分析</source>
        <translation>2. Analysing image</translation>
    </message>
    <message>
        <source>3.画像合成</source>
        <translation>3. Building lines</translation>
    </message>
    <message>
        <source>4.線分調整</source>
        <translation>4. Adjusting lines</translation>
    </message>
    <message>
        <source>トレース完了</source>
        <translation>Trace finished</translation>
    </message>
    <message>
        <source>画像ファイルを指定して下さい。</source>
        <translation>Please specify the image file.</translation>
    </message>
    <message>
        <source>出力フォルダを指定して下さい。</source>
        <translation>Please specify the output folder.</translation>
    </message>
    <message>
        <source>フォルダを選択して下さい。</source>
        <translation>Please select a folder.</translation>
    </message>
    <message>
        <source>Ｘ倍率</source>
        <translation>X ratio</translation>
    </message>
    <message>
        <source>Ｙ倍率</source>
        <translation>Y ratio</translation>
    </message>
    <message>
        <source>原因の分からないエラーです</source>
        <translation>an error of unknown cause</translation>
    </message>
    <message>
        <source>画像が空です（0 × 0 画素）</source>
        <translation>the image is empty (0 × 0 pixels)</translation>
    </message>
    <message>
        <source>BMPファイルではありません</source>
        <translation>not a BMP file</translation>
    </message>
    <message>
        <source>ファイルが途中で切れています</source>
        <translation>the file is cut short</translation>
    </message>
    <message>
        <source>画像データが壊れています</source>
        <translation>the image data is damaged</translation>
    </message>
    <message>
        <source>メモリーが足りません</source>
        <translation>not enough memory</translation>
    </message>
    <message>
        <source>プラグインが返した画像データが正しくありません</source>
        <translation>the plug-in returned invalid image data</translation>
    </message>
    <message>
        <source>プラグインの読込みが中断されました</source>
        <translation>the plug-in stopped reading</translation>
    </message>
    <message>
        <source>プラグインが対応していない形式です</source>
        <translation>the plug-in does not support this format</translation>
    </message>
    <message>
        <source>メモリーを確保できません（画像が大きすぎる可能性があります）</source>
        <translation>memory could not be allocated (the image may be too large)</translation>
    </message>
    <message>
        <source>ファイルを読み込めません</source>
        <translation>the file cannot be read</translation>
    </message>
    <message>
        <source>%1は表示できません。</source>
        <translation>%1 cannot be displayed.</translation>
    </message>
    <message>
        <source>ヘルプを表示できません。ブラウザーで「%1」を開いて下さい。</source>
        <translation>The help cannot be shown. Please open "%1" in a browser.</translation>
    </message>
    <message>
        <source>Vemoを起動できません。（%1がない）</source>
        <translation>Vemo cannot start. (%1 is missing)</translation>
    </message>
    <message>
        <source>設定ファイル「%1」を保存できません。（%2）</source>
        <translation>The settings file "%1" cannot be saved. (%2)</translation>
    </message>
    <message>
        <source>指定画像ファイル「%1」がありません。</source>
        <translation>The image file "%1" does not exist.</translation>
    </message>
    <message>
        <source>ファイルタイプ「%1」は対応していません。</source>
        <translation>The file type "%1" is not supported.</translation>
    </message>
    <message>
        <source>基本画像ファイル「%1」がありません。</source>
        <translation>The base image file "%1" does not exist.</translation>
    </message>
    <message>
        <source>%1が見つかりません</source>
        <translation>%1 not found</translation>
    </message>
    <message>
        <source>プラグイン「%1」を読み込めません。（%2）</source>
        <translation>The plug-in "%1" cannot be loaded. (%2)</translation>
    </message>
    <message>
        <source>プラグイン「%1」に関数「%2」がありません。</source>
        <translation>The plug-in "%1" has no function "%2".</translation>
    </message>
    <message>
        <source>プラグイン「%1」が対応していない形式です</source>
        <translation>the plug-in "%1" does not support this format</translation>
    </message>
    <message>
        <source>画像ファイル「%1」を読み込めません。（%2）</source>
        <translation>The image file "%1" cannot be read. (%2)</translation>
    </message>
    <message>
        <source>%1は処理できません。</source>
        <translation>%1 cannot be processed.</translation>
    </message>
    <message>
        <source>%1は処理できません。（%2）</source>
        <translation>%1 cannot be processed. (%2)</translation>
    </message>
    <message>
        <source>%1「%2」は数として扱えません</source>
        <translation>%1 "%2" is not a usable number</translation>
    </message>
    <message>
        <source>%1「%2」は0として読まれます。0以外の倍率を指定して下さい</source>
        <translation>%1 "%2" reads as 0. Please give a ratio other than 0</translation>
    </message>
    <message>
        <source>設定ファイル「%1」の%2「%3」は倍率として使えません（0として読まれるか、数として扱えません）。</source>
        <translation>%2 "%3" in the settings file "%1" cannot be used as a ratio (it reads as 0 or is not a usable number).</translation>
    </message>
    <message>
        <source>%1座標 %2 は倍率を掛けると %3 になり、数として扱えません</source>
        <translation>%1 coordinate %2 becomes %3 with the ratio, which is not a usable number</translation>
    </message>
    <message>
        <source>%1 %2 はA10形式の欄（%3文字）に収まりません</source>
        <translation>%1 %2 does not fit its column of the A10 file (%3 characters)</translation>
    </message>
    <message>
        <source>Ｘ</source>
        <translation>X</translation>
    </message>
    <message>
        <source>Ｙ</source>
        <translation>Y</translation>
    </message>
    <message>
        <source>Ｘ座標</source>
        <translation>X coordinate</translation>
    </message>
    <message>
        <source>Ｙ座標</source>
        <translation>Y coordinate</translation>
    </message>
    <message>
        <source>線番号</source>
        <translation>Polyline number</translation>
    </message>
    <message>
        <source>点数</source>
        <translation>Point count</translation>
    </message>
    <message>
        <source>画像に解像度が記録されていないため、%1 で出力できません。%2で解像度を指定して下さい</source>
        <translation>the image stores no resolution, so it cannot be written in %1. Please give the resolution in %2</translation>
    </message>
    <message>
        <source>「解像度」欄</source>
        <translation>the field "Resolution"</translation>
    </message>
    <message>
        <source>解像度「%1」は使えません。0より大きい数（Ｘ,Ｙで異なるときは 300,600 のように）を入力して下さい</source>
        <translation>The resolution "%1" cannot be used. Please enter a number above 0 (X,Y such as 300,600 where they differ).</translation>
    </message>
    <message>
        <source>%1のトレースを中止しました。</source>
        <translation>The trace of %1 was stopped.</translation>
    </message>
    <message>
        <source>出力フォルダ「%1」がありません。</source>
        <translation>The output folder "%1" does not exist.</translation>
    </message>
    <message>
        <source>出力フォルダ「%1」に書き込めません。（%2）</source>
        <translation>Cannot write to the output folder "%1". (%2)</translation>
    </message>
    <message>
        <source>中止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>トレース中です。トレースを中止して閉じますか？</source>
        <translation>A trace is running. Stop it and close?</translation>
    </message>
    <message>
        <source>フォルダ「%1」は他のトレースが使用中です。</source>
        <translation>The folder "%1" is in use by another trace.</translation>
    </message>
    <message>
        <source>%1をトレースしました。 %2</source>
        <translation>%1 has been traced. %2</translation>
    </message>
    <message>
        <source>ファイル「%1」を処理できません。（%2）</source>
        <translation>The file "%1" cannot be processed. (%2)</translation>
    </message>
    <message>
        <source>基本画像ファイル「%1」はパレット付きのビットマップではありません。</source>
        <translation>The base image file "%1" is not a bitmap with a colour table.</translation>
    </message>
    <message>
        <source>情報ヘッダーが %1 バイトのBMPには対応していません</source>
        <translation>BMP files with a %1-byte information header are not supported</translation>
    </message>
    <message>
        <source>1画素 %1 ビットのBMPには対応していません</source>
        <translation>BMP files with %1 bits per pixel are not supported</translation>
    </message>
    <message>
        <source>圧縮形式 %1 のBMPには対応していません</source>
        <translation>BMP files with compression %1 are not supported</translation>
    </message>
    <message>
        <source>画像が大きすぎます：%1 × %2 画素、上限は %3 画素</source>
        <translation>the image is too large: %1 × %2 pixels, the limit is %3 pixels</translation>
    </message>
    <message>
        <source>プラグインのエラー（コード %1）</source>
        <translation>plug-in error (code %1)</translation>
    </message>
</context>
</TS>
