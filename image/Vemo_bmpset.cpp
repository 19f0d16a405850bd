// Vemo_bmpset: TVemo_bmpset, the image loader (see the header for the steps
// and their messages).
#include "image/Vemo_bmpset.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>
#include <utility>

#include <sys/stat.h>

#include "base/Vemo_path.h"
#include "common/Vemo_texts.h"
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

bool IndexedBitmap::Allocate(int w, int h, std::vector<Rgb> table) {
    width = w;
    height = h;
    stride = (static_cast<std::ptrdiff_t>(w) + 3) / 4 * 4;
    colours = std::move(table);
    // Not value-initialised: every row is written once by the decoder, and
    // zeroing a scan's worth of memory first would double the cost.
    pixels.reset(new (std::nothrow) uint8_t[static_cast<std::size_t>(stride) * static_cast<std::size_t>(h)]);
    return !IsNull();
}

TVemo_bmpset::TVemo_bmpset(const std::string& imageFileName, TVemo_sysF& settings, TVemo_susieF& susie,
                           MessageSink messages, WorkingForm form)
    : m_form(form), m_imageFileName(imageFileName), m_settings(settings.GetSettings()), m_susie(susie),
      m_messages(std::move(messages)) {
    m_status = ImageLoad();
    if (m_status != 0) {
        m_baseBitmap = IndexedBitmap();
        m_workingBitmap = IndexedBitmap();
        m_packedBitmap = PackedBitmap();
    }
}

TVemo_bmpset::~TVemo_bmpset() = default;

const IndexedBitmap* TVemo_bmpset::GetIndexedBitmap() const {
    return m_status == 0 && m_form == WorkingForm::Indexed ? &m_workingBitmap : nullptr;
}

PackedBitmap TVemo_bmpset::TakePackedBitmap() { return std::move(m_packedBitmap); }

std::string TVemo_bmpset::ExtensionOf(const std::string& name) { return SplitPath(name).extension; }

void TVemo_bmpset::Tell(const std::string& text) const {
    if (m_messages) m_messages(text);
}

int TVemo_bmpset::ImageLoad() {
    // A folder, FIFO or device is there but no image: say what it is.
    struct stat image {};
    if (::stat(m_imageFileName.c_str(), &image) != 0) {
        Tell(texts::ImageFileMissing(m_imageFileName));
        return 1;
    }
    if (!S_ISREG(image.st_mode)) {
        Tell(texts::ImageNotAFile(m_imageFileName, texts::ReasonNotAFile(image.st_mode)));
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
    return ReadThroughPlugin();
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
    if (dib.DeclaredColours().empty()) {
        Tell(texts::BaseImageNotIndexed(path));
        return 1;
    }
    IndexedBitmap base;
    if (!base.Allocate(dib.Width(), dib.Height(), dib.DeclaredColours())) {
        Tell(texts::ImageNotDecodable(path, texts::kReasonNoMemory));
        return 1;
    }
    const int count = static_cast<int>(dib.DeclaredColours().size());
    const int width = dib.Width();
    const bool mono = dib.RowFormat() == DibRowFormat::Mono;
    const DibError error = dib.Decode([&](int y, const uint8_t* row) {
        uint8_t* out = base.Row(y);
        for (int x = 0; x < width; ++x) {
            const int index = mono ? (row[x / 8] >> (7 - x % 8)) & 1 : row[x];
            out[x] = static_cast<uint8_t>(index < count ? index : 0);
        }
        std::fill(out + width, out + base.stride, uint8_t{0});
    });
    if (error != DibError::None) {
        Tell(texts::ImageNotDecodable(path, dib.Reason(error)));
        return 1;
    }
    m_baseBitmap = std::move(base);
    return 0;
}

// The working bitmap in the loader's form: all paper or uninitialised, to
// be written row by row.
bool TVemo_bmpset::AllocateWorking(int width, int height) {
    if (m_form == WorkingForm::Packed) {
        try {
            m_packedBitmap = PackedBitmap(width, height);
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }
    return m_workingBitmap.Allocate(width, height, m_baseBitmap.colours);
}

// The file's headers are read first, then its rows a block at a time,
// decoded and mapped straight into the working bitmap: neither the file
// nor the decoded picture is ever held whole. A file that shrinks while it
// is read ends a read early, which the decoder reports as cut off.
int TVemo_bmpset::ReadBmp() {
    ReadOnlyFile file(m_imageFileName);
    if (!file.IsOpen()) {
        Tell(texts::ImageNotDecodable(m_imageFileName, file.Error()));
        return 1;
    }
    // Enough for every header and the largest colour table.
    uint8_t head[4096];
    const std::size_t headSize = file.ReadAt(0, head, sizeof head);
    if (!file.IsOpen()) {
        Tell(texts::ImageNotDecodable(m_imageFileName, file.Error()));
        return 1;
    }
    const TVemo_dib dib = TVemo_dib::FromBmpFile(std::span<const uint8_t>(head, headSize));
    if (dib.Error() != DibError::None) {
        Tell(texts::ImageNotDecodable(m_imageFileName, dib.Reason()));
        return 1;
    }
    if (!AllocateWorking(dib.Width(), dib.Height())) {
        Tell(texts::ImageNotDecodable(m_imageFileName, texts::kReasonNoMemory));
        return 1;
    }
    TVemo_colourmap colours(m_baseBitmap.colours);
    colours.PrepareFor(dib.RowFormat(), dib.Colours());
    const DibFileReader read = [&file](uint64_t offset, uint8_t* into, std::size_t bytes) {
        return file.ReadAt(offset, into, bytes);
    };
    const DibError error = dib.DecodeStreamed(read, file.Size(), RowMapper(colours, dib.Width()));
    if (!file.IsOpen()) {
        Tell(texts::ImageNotDecodable(m_imageFileName, file.Error()));
        return 1;
    }
    if (error != DibError::None) {
        Tell(texts::ImageNotDecodable(m_imageFileName, dib.Reason(error)));
        return 1;
    }
    m_resolution = ResolutionFromPelsPerMeter(dib.XPelsPerMeter(), dib.YPelsPerMeter());
    return 0;
}

// The working bitmap takes the picture's height and width and keeps the
// base image's colour table; its rows are mapped straight from the
// plug-in's block. On failure the plug-in loader has said why.
int TVemo_bmpset::ReadThroughPlugin() {
    const bool taken = m_susie.LoadWithPlugin(m_reader, m_imageFileName, [this](const TVemo_dib& dib) {
        if (!AllocateWorking(dib.Width(), dib.Height())) return DibError::NoMemory;
        TVemo_colourmap colours(m_baseBitmap.colours);
        colours.PrepareFor(dib.RowFormat(), dib.Colours());
        m_resolution = ResolutionFromPelsPerMeter(dib.XPelsPerMeter(), dib.YPelsPerMeter());
        return dib.Decode(RowMapper(colours, dib.Width()));
    });
    if (!taken) {
        m_workingBitmap = IndexedBitmap();
        m_packedBitmap = PackedBitmap();
        return 1;
    }
    return 0;
}

// Maps one decoded row into the working bitmap, in whichever form it has.
DibRowSink TVemo_bmpset::RowMapper(TVemo_colourmap& colours, int width) {
    if (m_form == WorkingForm::Packed) {
        auto words = std::make_shared<std::vector<uint64_t>>(m_packedBitmap.WordsPerRow());
        return [this, &colours, width, words](int y, const uint8_t* row) {
            // A row of paper is left as the bitmap starts: all paper.
            if (colours.MapRowToInk(row, words->data(), width)) m_packedBitmap.PutRow(y, words->data());
        };
    }
    return [this, &colours, width](int y, const uint8_t* row) {
        uint8_t* out = m_workingBitmap.Row(y);
        colours.MapRow(row, out, width);
        std::fill(out + width, out + m_workingBitmap.stride, uint8_t{0});
    };
}
