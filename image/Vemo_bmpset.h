// Vemo_bmpset: the image loader TVemo_bmpset.
//
// Turns the name of an image file into the working bitmap the trace reads.
// The constructor does the whole load (ImageLoad):
//  1. the image file must exist            -> "指定画像ファイル「…」がありません。"
//  2. its extension, in upper case, must be .BMP, .TIF, .PNG or .GIF
//                                          -> "ファイルタイプ「…」は対応していません。"
//  3. the base image (system folder + "/" + BASBMP) must exist
//                                          -> "基本画像ファイル「…」がありません。"
//     and have a colour table; it becomes the base bitmap;
//  4. BMP files are read directly, the others through the plug-in the
//     settings name (TIFSPI, PNGSPI, GIFSPI) in the system folder;
//  5. the picture is drawn into the working bitmap: Format_Indexed8 with
//     the base image's colour table and the picture's size, every colour
//     mapped to the nearest base colour (Vemo_colourmap). Ink is byte 0.
// A plug-in that fails (missing, not loadable, lacking an export, refusing
// or unable to read the file) ends the load with status 1 after the
// plug-in loader's message: an empty picture is no drawing, and tracing it
// would replace good output files with empty ones. A BMP or base image
// that cannot be decoded ends with status 1 and a message naming the file
// and the reason. With status 0 the working bitmap is never empty.
//
// Reads: the settings (through TVemo_sysF), the base image, the image file.
// Writes: nothing but its two bitmaps, which it owns.
#pragma once

#include <cstdint>
#include <string>

#include <QImage>

#include "app/Vemo_common.h"
#include "app/Vemo_sys.h"

class TVemo_susieF;

// The file types, as the loader numbers them.
enum class ImageFileType : int32_t { None = -1, Bmp = 0, Tif = 1, Png = 2, Gif = 3 };

class TVemo_bmpset {
public:
    TVemo_bmpset(const std::string& imageFileName, TVemo_sysF& settings, TVemo_susieF& susie, MessageSink messages);
    TVemo_bmpset(const TVemo_bmpset&) = delete;
    TVemo_bmpset& operator=(const TVemo_bmpset&) = delete;

    // 0 loaded, 1 failed (the user has been told why).
    int GetStatus() const { return m_status; }
    // The working bitmap, or nullptr when the status is 1.
    const QImage* GetWorkingBitmap() const { return m_status == 0 ? &m_workingBitmap : nullptr; }
    // The base bitmap, or nullptr when the status is 1.
    const QImage* GetBaseBitmap() const { return m_status == 0 ? &m_baseBitmap : nullptr; }

    // The part of `name` from its last "." on, provided no "/" follows it;
    // empty otherwise. Case as given.
    static std::string ExtensionOf(const std::string& name);

private:
    int ImageLoad();
    int LoadBaseImage(const std::string& path);
    int ReadBmp();
    int DrawIntoWorking(const QImage& picture);
    bool AllocateWorking(int width, int height);
    void Tell(const std::string& text) const;

    QImage m_baseBitmap;
    QImage m_workingBitmap;
    std::string m_imageFileName;
    std::string m_extension;  // upper case, with its dot
    ImageFileType m_fileType = ImageFileType::None;
    std::string m_reader;     // "BMP", or the plug-in's full path
    int m_status = 1;
    SettingsRecord m_settings;
    TVemo_susieF& m_susie;
    MessageSink m_messages;
};
