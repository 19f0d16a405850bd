// Vemo_texts: every text the program shows to the user, in one place.
//
// The fixed texts are the program's own and must stay exactly as they are:
// users and their scripts know them. Texts added on this platform (file
// errors, undecodable images) follow the same style: a fixed Japanese text
// around the offending name, and the system's reason where there is one.
#pragma once

#include <string>

#include <sys/stat.h>

namespace texts {

// Status panel / progress texts, one per step of a trace run.
inline constexpr const char* kStatusLoading = "1.画像読込み";
inline constexpr const char* kStatusAnalysing = "2.画像分析";
inline constexpr const char* kStatusSynthesising = "3.画像合成";
inline constexpr const char* kStatusAdjusting = "4.線分調整";
inline constexpr const char* kStatusFinished = "トレース完了";

// Main window.
inline constexpr const char* kMainCaption = "Vemo Ver1.006";
inline constexpr const char* kNoImageGiven = "画像ファイルを指定して下さい。";
inline constexpr const char* kNoOutputFolderGiven = "出力フォルダを指定して下さい。";
inline std::string CannotDisplay(const std::string& imagePath) {
    return imagePath + "は表示できません。";
}
inline constexpr const char* kChooseFolderTitle = "フォルダを選択して下さい。";
// "ヘルプ" when no browser could be started for the help document.
inline std::string HelpNotOpened(const std::string& documentPath) {
    return "ヘルプを表示できません。ブラウザーで「" + documentPath + "」を開いて下さい。";
}

// Settings holder.
inline std::string NoSettingsFile(const std::string& fileName) {
    return "Vemoを起動できません。（" + fileName + "がない）";
}
// The user's own copy of an installed Vemo.sys is damaged or cannot be made.
inline std::string UserSettingsUnusable(const std::string& path, const std::string& reason) {
    return "設定ファイル「" + path + "」を使えません。（" + reason + "）";
}
inline std::string SettingsNotSaved(const std::string& path, const std::string& reason) {
    return "設定ファイル「" + path + "」を保存できません。（" + reason + "）";
}

// Image loading.
inline std::string ImageFileMissing(const std::string& name) {
    return "指定画像ファイル「" + name + "」がありません。";
}
inline std::string FileTypeNotSupported(const std::string& extension) {
    return "ファイルタイプ「" + extension + "」は対応していません。";
}
inline std::string BaseImageMissing(const std::string& path) {
    return "基本画像ファイル「" + path + "」がありません。";
}
inline std::string PluginMissing(const std::string& pluginPath) { return pluginPath + "が見つかりません"; }
inline std::string PluginNotLoadable(const std::string& pluginPath, const std::string& reason) {
    return "プラグイン「" + pluginPath + "」を読み込めません。（" + reason + "）";
}
inline std::string PluginExportMissing(const std::string& pluginPath, const char* exportName) {
    return "プラグイン「" + pluginPath + "」に関数「" + exportName + "」がありません。";
}
inline std::string ReasonPluginRefuses(const std::string& pluginPath) {
    return "プラグイン「" + pluginPath + "」が対応していない形式です";
}
inline std::string ImageNotDecodable(const std::string& name, const std::string& reason) {
    return "画像ファイル「" + name + "」を読み込めません。（" + reason + "）";
}

// Trace job.
inline std::string CannotProcess(const std::string& imagePath) {
    return imagePath + "は処理できません。";
}
// A run that ended on a failure without a file to name: the image and why.
inline std::string CannotProcessBecause(const std::string& imagePath, const std::string& reason) {
    return imagePath + "は処理できません。（" + reason + "）";
}
inline std::string RatioNotFinite(const char* which, const std::string& text) {
    return std::string(which) + "「" + text + "」は数として扱えません";
}
// A ratio that reads as 0 would put every point of the drawing on one line.
inline std::string RatioZero(const char* which, const std::string& text) {
    return std::string(which) + "「" + text + "」は0として読まれます。0以外の倍率を指定して下さい";
}
// A ratio stored in the settings file that vemo-trace cannot use: not a
// finite number, or one that reads as 0.
inline std::string StoredRatioUnusable(const std::string& settingsPath, const std::string& key,
                                       const std::string& text) {
    return "設定ファイル「" + settingsPath + "」の" + key + "「" + text +
           "」は倍率として使えません（0として読まれるか、数として扱えません）。";
}
// An output coordinate that the ratios made infinite (or a damaged lines
// file that holds no number): `axis` is "Ｘ" or "Ｙ".
inline std::string CoordinateNotFinite(const char* axis, const std::string& imageValue,
                                       const std::string& outputValue) {
    return std::string(axis) + "座標 " + imageValue + " は倍率を掛けると " + outputValue +
           " になり、数として扱えません";
}
// A value wider than its column of the fixed-column A10 file.
inline std::string A10ValueTooWide(const char* field, const std::string& value, std::size_t width) {
    return std::string(field) + " " + value + " はA10形式の欄（" + std::to_string(width) + "文字）に収まりません";
}
inline constexpr const char* kAxisX = "Ｘ";
inline constexpr const char* kAxisY = "Ｙ";
inline constexpr const char* kA10FieldX = "Ｘ座標";
inline constexpr const char* kA10FieldY = "Ｙ座標";
inline constexpr const char* kA10FieldPolyline = "線番号";
inline constexpr const char* kA10FieldPointCount = "点数";
inline constexpr const char* kXRatio = "Ｘ倍率";
inline constexpr const char* kYRatio = "Ｙ倍率";
// Where the user gives the resolution, as a message about a missing one
// names it: vemo-trace's option, the main window's field.
inline constexpr const char* kResolutionOption = "--dpi ";
inline constexpr const char* kResolutionField = "「解像度」欄";
inline std::string ReasonNoResolution(const char* unit, const char* where = kResolutionOption) {
    return std::string("画像に解像度が記録されていないため、") + unit + " で出力できません。" + where +
           "で解像度を指定して下さい";
}
// The main window's resolution field holding no resolution: one number
// above 0, or two ("X,Y") where the axes differ.
inline std::string ResolutionUnusable(const std::string& text) {
    return "解像度「" + text + "」は使えません。0より大きい数（Ｘ,Ｙで異なるときは 300,600 のように）を入力して下さい";
}
inline constexpr const char* kReasonUnknownError = "原因の分からないエラーです";
inline constexpr const char* kReasonEmptyImage = "画像が空です（0 × 0 画素）";
// Another run holds the intermediate files of this folder.
inline std::string FolderBusy(const std::string& folder) {
    return "フォルダ「" + folder + "」は他のトレースが使用中です。";
}
inline std::string Traced(const std::string& imagePath, const std::string& timeText) {
    return imagePath + "をトレースしました。 " + timeText;
}

// A run stopped by the user (the window's "中止", or Ctrl-C / kill for
// vemo-trace), and the checks made before a run starts.
inline std::string RunStopped(const std::string& imagePath) {
    return imagePath + "のトレースを中止しました。";
}
inline std::string OutputFolderMissing(const std::string& folder) {
    return "出力フォルダ「" + folder + "」がありません。";
}
inline std::string OutputFolderNotWritable(const std::string& folder, const std::string& reason) {
    return "出力フォルダ「" + folder + "」に書き込めません。（" + reason + "）";
}
inline constexpr const char* kStopButton = "中止";
inline constexpr const char* kStopAndClose = "トレース中です。トレースを中止して閉じますか？";

// vemo-trace's batches: an image whose trace process could not be started
// (a process or memory limit), or that ended without finishing (a crash, a
// signal, memory running out).
inline std::string TraceNotStarted(const std::string& imagePath, const std::string& reason) {
    return imagePath + "のトレースを開始できません。（" + reason + "）";
}
inline std::string TraceAborted(const std::string& imagePath, const std::string& reason) {
    return imagePath + "のトレースが途中で終了しました。（" + reason + "）";
}

// A file the trace or an export could not create, read or write.
inline std::string FileFailed(const std::string& path, const std::string& reason) {
    return "ファイル「" + path + "」を処理できません。（" + reason + "）";
}

// Image decoding on this platform: the reasons given inside ImageNotDecodable,
// and the base image that has no colour table.
inline constexpr const char* kReasonNotBmp = "BMPファイルではありません";
inline constexpr const char* kReasonTruncated = "ファイルが途中で切れています";
inline constexpr const char* kReasonCorrupt = "画像データが壊れています";
inline constexpr const char* kReasonNoMemory = "メモリーが足りません";
inline constexpr const char* kReasonPluginData = "プラグインが返した画像データが正しくありません";
inline std::string ReasonBmpHeaderSize(unsigned long size) {
    return "情報ヘッダーが " + std::to_string(size) + " バイトのBMPには対応していません";
}
inline std::string ReasonBmpBitCount(unsigned bits) {
    return "1画素 " + std::to_string(bits) + " ビットのBMPには対応していません";
}
inline std::string ReasonBmpCompression(unsigned long compression) {
    return "圧縮形式 " + std::to_string(compression) + " のBMPには対応していません";
}
inline std::string ReasonImageTooLarge(long long width, long long height, long long limit) {
    return "画像が大きすぎます：" + std::to_string(width) + " × " + std::to_string(height) + " 画素、上限は " +
           std::to_string(limit) + " 画素";
}
// A picture plug-in's GetPicture result other than 0.
inline std::string ReasonPluginFailed(int code) {
    switch (code) {
    case 1: return "プラグインの読込みが中断されました";
    case 2: return "プラグインが対応していない形式です";
    case 3: return "画像データが壊れています";
    case 4: return "メモリーを確保できません（画像が大きすぎる可能性があります）";
    case 6: return "ファイルを読み込めません";
    default: return "プラグインのエラー（コード " + std::to_string(code) + "）";
    }
}
inline std::string BaseImageNotIndexed(const std::string& path) {
    return "基本画像ファイル「" + path + "」はパレット付きのビットマップではありません。";
}

// What a path is when it is no regular file (a FIFO, folder or device
// named like an image or an intermediate file), for the messages below.
inline constexpr const char* kReasonNotRegularFile = "通常のファイルではありません";
inline const char* ReasonNotAFile(mode_t mode) {
    if (S_ISDIR(mode)) return "フォルダです";
    if (S_ISFIFO(mode)) return "名前付きパイプ（FIFO）です";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "デバイスファイルです";
    if (S_ISSOCK(mode)) return "ソケットです";
    return kReasonNotRegularFile;
}
inline std::string ImageNotAFile(const std::string& name, const char* reason) {
    return "指定画像ファイル「" + name + "」はファイルではありません。（" + reason + "）";
}
// vemo-trace's -o folder, checked before any image is traced.
inline constexpr const char* kReasonNotAFolder = "フォルダではありません";
inline std::string OutputFolderUnusable(const std::string& folder, const std::string& reason) {
    return "出力フォルダ「" + folder + "」を使えません。（" + reason + "）";
}
// A batch's trace process that ended without handing over its result (a
// plug-in that calls exit): its image is not traced, whatever the status.
inline std::string ReasonEndedWithoutResult(int exitStatus) {
    return "結果を返さずに終了しました（終了コード " + std::to_string(exitStatus) + "）";
}

}  // namespace texts
