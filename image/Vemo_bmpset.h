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
//  5. the picture is drawn into the working bitmap: one byte per pixel
//     with the base image's colour table and the picture's size, every
//     colour mapped to the nearest base colour (Vemo_colourmap). Ink is
//     byte 0.
// The trace needs only the ink, so a loader made for it (WorkingForm::
// Packed) keeps the working bitmap as one bit per pixel instead, set where
// the byte would be 0: built straight from the file's rows, an A0 scan never
// exists at a byte per pixel. A BMP's rows are read a block at a time
// (run-length data whole), so the file is never held whole either, and
// rows of paper cost no more than reading them. The windows take the one-byte form as a
// QImage (Format_Indexed8, GetWorkingBitmap); that accessor lives in the
// small Qt library vemo_image_qt, so that the command line needs no GUI
// library at all.
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

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/Vemo_common.h"
#include "common/Vemo_sys.h"
#include "image/Vemo_dib.h"
#include "trace/Vemotrace_packed.h"

class QImage;
class TVemo_colourmap;
class TVemo_susieF;

// One byte per pixel, indexes into `colours`, rows from the top down. Rows
// start on 4-byte boundaries so that the windows can show the pixels
// without copying them; the pixels are shared with those views.
struct IndexedBitmap {
    int width = 0;
    int height = 0;
    std::ptrdiff_t stride = 0;
    std::vector<Rgb> colours;
    std::shared_ptr<uint8_t[]> pixels;

    bool IsNull() const { return !pixels; }
    uint8_t* Row(int y) const { return pixels.get() + y * stride; }
    // Uninitialised pixels of the given size (at least 1 x 1); false when
    // there is not enough memory.
    bool Allocate(int w, int h, std::vector<Rgb> table);
};

// What the loader keeps of the picture.
enum class WorkingForm { Indexed, Packed };

// The file types, as the loader numbers them.
enum class ImageFileType : int32_t { None = -1, Bmp = 0, Tif = 1, Png = 2, Gif = 3 };

class TVemo_bmpset {
public:
    TVemo_bmpset(const std::string& imageFileName, TVemo_sysF& settings, TVemo_susieF& susie, MessageSink messages,
                 WorkingForm form = WorkingForm::Indexed);
    ~TVemo_bmpset();
    TVemo_bmpset(const TVemo_bmpset&) = delete;
    TVemo_bmpset& operator=(const TVemo_bmpset&) = delete;

    // 0 loaded, 1 failed (the user has been told why).
    int GetStatus() const { return m_status; }

    // The windows' accessors (library vemo_image_qt). The working bitmap as
    // Format_Indexed8 with the base colour table, or nullptr when the
    // status is 1 or the loader keeps the packed form. The base bitmap, or nullptr when the status is
    // 1. Copies of the images share the pixels and stay valid after the
    // loader is gone.
    const QImage* GetWorkingBitmap() const;
    const QImage* GetBaseBitmap() const;

    // The one-byte working bitmap, or nullptr when the status is 1 or the
    // form is packed.
    const IndexedBitmap* GetIndexedBitmap() const;
    // The base bitmap, or nullptr when the status is 1.
    const IndexedBitmap* GetBaseIndexed() const { return m_status == 0 ? &m_baseBitmap : nullptr; }
    // The resolution the image file stores (BMP and plug-in pictures: the
    // header's pixels per metre); unknown when it stores none or the status is 1.
    ImageResolution GetResolution() const { return m_status == 0 ? m_resolution : ImageResolution(); }

    // Hands the packed working bitmap over (0 x 0 when the status is 1 or
    // the form is indexed); the loader
    // keeps an empty one.
    PackedBitmap TakePackedBitmap();

    // The part of `name` from its last "." on, provided no "/" follows it;
    // empty otherwise. Case as given.
    static std::string ExtensionOf(const std::string& name);

private:
    int ImageLoad();
    int LoadBaseImage(const std::string& path);
    int ReadBmp();
    int ReadThroughPlugin();
    bool AllocateWorking(int width, int height);
    DibRowSink RowMapper(TVemo_colourmap& colours, int width);
    void Tell(const std::string& text) const;

    WorkingForm m_form;
    IndexedBitmap m_baseBitmap;
    IndexedBitmap m_workingBitmap;  // indexed form
    PackedBitmap m_packedBitmap;    // packed form
    // The windows' views of the two bitmaps, made on first request.
    mutable std::shared_ptr<const QImage> m_workingImage;
    mutable std::shared_ptr<const QImage> m_baseImage;
    std::string m_imageFileName;
    std::string m_extension;  // upper case, with its dot
    ImageFileType m_fileType = ImageFileType::None;
    std::string m_reader;     // "BMP", or the plug-in's full path
    int m_status = 1;
    ImageResolution m_resolution;
    SettingsRecord m_settings;
    TVemo_susieF& m_susie;
    MessageSink m_messages;
};
