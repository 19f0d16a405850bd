// Vemo_bmpset: TVemo_bmpset, the image loader (see the header for the steps
// and their messages).
#include "image/Vemo_bmpset.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>

#include "app/Vemo_texts.h"
#include "base/Vemo_path.h"
#include "image/Vemo_colourmap.h"
#include "image/Vemo_dib.h"
#include "image/Vemo_mappedfile.h"
#include "image/Vemo_susie.h"

namespace {

// "Exists" means a regular file: a folder or a pipe named x.bmp is not an
// image, and reading a pipe would block.
bool IsFile(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(std::filesystem::path(path), error);
}

std::string UpperAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

}  // namespace

TVemo_bmpset::TVemo_bmpset(const std::string& imageFileName, TVemo_sysF& settings, TVemo_susieF& susie,
                           MessageSink messages)
    : m_imageFileName(imageFileName), m_settings(settings.GetSettings()), m_susie(susie),
      m_messages(std::move(messages)) {
    m_status = ImageLoad();
    if (m_status != 0) {
        m_baseBitmap = QImage();
        m_workingBitmap = QImage();
    }
}

std::string TVemo_bmpset::ExtensionOf(const std::string& name) { return SplitPath(name).extension; }

void TVemo_bmpset::Tell(const std::string& text) const {
    if (m_messages) m_messages(text);
}

int TVemo_bmpset::ImageLoad() {
    if (!IsFile(m_imageFileName)) {
        Tell(texts::ImageFileMissing(m_imageFileName));
        return 1;
    }

    m_extension = UpperAscii(ExtensionOf(m_imageFileName));
    m_fileType = ImageFileType::None;
    if (m_extension == ".BMP") m_fileType = ImageFileType::Bmp;
    if (m_extension == ".TIF") m_fileType = ImageFileType::Tif;
    if (m_extension == ".PNG") m_fileType = ImageFileType::Png;
    if (m_extension == ".GIF") m_fileType = ImageFileType::Gif;
    if (m_fileType == ImageFileType::None) {
        Tell(texts::FileTypeNotSupported(m_extension));
        return 1;
    }

    const std::string basePath = m_settings.systemFolder + "/" + m_settings.basBmp;
    if (!IsFile(basePath)) {
        Tell(texts::BaseImageMissing(basePath));
        return 1;
    }
    if (LoadBaseImage(basePath) != 0) return 1;

    m_reader = "BMP";
    if (m_fileType == ImageFileType::Tif) m_reader = m_settings.systemFolder + "/" + m_settings.tifSpi;
    if (m_fileType == ImageFileType::Png) m_reader = m_settings.systemFolder + "/" + m_settings.pngSpi;
    if (m_fileType == ImageFileType::Gif) m_reader = m_settings.systemFolder + "/" + m_settings.gifSpi;

    if (m_fileType == ImageFileType::Bmp) return ReadBmp();
    QImage picture;
    m_susie.LoadWithPlugin(m_reader, m_imageFileName, picture);
    return DrawIntoWorking(picture);
}

// The base bitmap keeps the base image's pixels and its colour table as
// declared (not padded), so that the working bitmap's table is exactly the
// base image's. Pixels pointing past a short table are set to 0.
int TVemo_bmpset::LoadBaseImage(const std::string& path) {
    const MappedFile file(path);
    if (!file.IsOpen()) {
        Tell(texts::ImageNotDecodable(path, file.Error()));
        return 1;
    }
    const TVemo_dib dib = TVemo_dib::FromBmpFile(file.Data());
    if (dib.Error() != DibError::None) {
        Tell(texts::ImageNotDecodable(path, dib.Reason()));
        return 1;
    }
    if (dib.DeclaredColours().isEmpty()) {
        Tell(texts::BaseImageNotIndexed(path));
        return 1;
    }
    QImage base(dib.Width(), dib.Height(), QImage::Format_Indexed8);
    if (base.isNull()) {
        Tell(texts::ImageNotDecodable(path, texts::kReasonNoMemory));
        return 1;
    }
    base.setColorTable(dib.DeclaredColours());
    const int count = static_cast<int>(dib.DeclaredColours().size());
    const int width = dib.Width();
    const bool mono = dib.RowFormat() == QImage::Format_Mono;
    uchar* bits = base.bits();
    const qsizetype stride = base.bytesPerLine();
    const DibError error = dib.Decode([&](int y, const uchar* row) {
        uchar* out = bits + y * stride;
        for (int x = 0; x < width; ++x) {
            const int index = mono ? (row[x / 8] >> (7 - x % 8)) & 1 : row[x];
            out[x] = static_cast<uchar>(index < count ? index : 0);
        }
    });
    if (error != DibError::None) {
        Tell(texts::ImageNotDecodable(path, dib.Reason(error)));
        return 1;
    }
    m_baseBitmap = std::move(base);
    return 0;
}

bool TVemo_bmpset::AllocateWorking(int width, int height) {
    m_workingBitmap = QImage(width, height, QImage::Format_Indexed8);
    if (m_workingBitmap.isNull()) return false;
    m_workingBitmap.setColorTable(m_baseBitmap.colorTable());
    return true;
}

// The file is read whole and decoded row by row straight into the working
// bitmap: the decoded picture never exists twice.
int TVemo_bmpset::ReadBmp() {
    const MappedFile file(m_imageFileName);
    if (!file.IsOpen()) {
        Tell(texts::ImageNotDecodable(m_imageFileName, file.Error()));
        return 1;
    }
    const TVemo_dib dib = TVemo_dib::FromBmpFile(file.Data());
    if (dib.Error() != DibError::None) {
        Tell(texts::ImageNotDecodable(m_imageFileName, dib.Reason()));
        return 1;
    }
    if (!AllocateWorking(dib.Width(), dib.Height())) {
        Tell(texts::ImageNotDecodable(m_imageFileName, texts::kReasonNoMemory));
        return 1;
    }
    TVemo_colourmap colours(m_baseBitmap.colorTable());
    colours.PrepareFor(dib.RowFormat(), dib.Colours());
    uchar* bits = m_workingBitmap.bits();
    const qsizetype stride = m_workingBitmap.bytesPerLine();
    const int width = dib.Width();
    const DibError error =
        dib.Decode([&](int y, const uchar* row) { colours.MapRow(row, bits + y * stride, width); });
    if (error != DibError::None) {
        Tell(texts::ImageNotDecodable(m_imageFileName, dib.Reason(error)));
        return 1;
    }
    return 0;
}

// The working bitmap takes the picture's height and width and keeps the
// base image's format and colour table. No picture: the plug-in loader has
// said why.
int TVemo_bmpset::DrawIntoWorking(const QImage& picture) {
    if (picture.isNull()) {
        m_workingBitmap = QImage();
        return 1;
    }
    if (!AllocateWorking(picture.width(), picture.height())) {
        Tell(texts::ImageNotDecodable(m_imageFileName, texts::kReasonNoMemory));
        return 1;
    }
    TVemo_colourmap colours(m_baseBitmap.colorTable());
    colours.MapImage(picture, m_workingBitmap);
    return 0;
}
