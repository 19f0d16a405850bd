// Vemo_susie: TVemo_susieF::LoadWithPlugin, the plug-in side of image
// loading (see the header).
//
// The steps and their failures, in order. Every failure tells the user why,
// naming the plug-in or the image: the caller treats the empty target as
// a failed load, and the user needs to know what to mend.
//  1. dlopen the plug-in (RTLD_NOW | RTLD_LOCAL): no such file ->
//     "<path>が見つかりません"; any other failure -> the loader's reason;
//  2. look up IsSupported: missing -> the plug-in and the missing export;
//  3. open the image file and ask IsSupported with its descriptor; the
//     file is closed either way; 0 -> the image and the plug-in refusing it;
//  4. look up GetPicture: missing -> the plug-in and the missing export;
//  5. GetPicture(file name, offset 0, flag 0): a non-zero result, a null
//     block or a bitmap that makes no sense leaves the target untouched
//     and tells the user the file could not be read. The handles are not
//     touched after a failure: the plug-in did not fill them;
//  6. the bitmap goes to the sink; the bits block is freed, then the
//     information block, then the library is closed.
// Whatever the plug-in's bitmap claims, it is only read within the blocks
// malloc gave the plug-in (malloc_usable_size), so a lying header cannot
// make the host read past them, and a bits block too small for the header
// is refused before the sink allocates anything.
#include "image/Vemo_susie.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <utility>

#include <dlfcn.h>
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include "common/Vemo_texts.h"
#include "image/Vemo_dib.h"
#include "image/Vemo_spi.h"

namespace {

struct LibraryCloser {
    void operator()(void* handle) const { dlclose(handle); }
};
using Library = std::unique_ptr<void, LibraryCloser>;

// The host's LocalFree: every block a plug-in hands back goes through here.
struct BlockFree {
    void operator()(void* block) const { std::free(block); }
};
using Block = std::unique_ptr<void, BlockFree>;

template <typename Function>
Function Lookup(const Library& library, const char* name) {
    return reinterpret_cast<Function>(dlsym(library.get(), name));
}

std::span<const uint8_t> WholeBlock(const Block& block) {
    return {static_cast<const uint8_t*>(block.get()), malloc_usable_size(block.get())};
}

}  // namespace

TVemo_susieF::TVemo_susieF(MessageSink messages) : m_messages(std::move(messages)) {}

void TVemo_susieF::Tell(const std::string& text) const {
    if (m_messages) m_messages(text);
}

void TVemo_susieF::LoadWithPlugin(const std::string& pluginPath, const std::string& imageFileName,
                                  DibPicture& target) {
    DibPicture picture;
    const bool taken = LoadWithPlugin(pluginPath, imageFileName, [&picture](const TVemo_dib& dib) {
        DibError error = DibError::None;
        picture = dib.ToPicture(error);
        return error;
    });
    if (taken) target = std::move(picture);
}

bool TVemo_susieF::LoadWithPlugin(const std::string& pluginPath, const std::string& imageFileName,
                                  const PluginPictureSink& sink) {
    if (::access(pluginPath.c_str(), F_OK) != 0) {
        Tell(texts::PluginMissing(pluginPath));
        return false;
    }
    const Library library(dlopen(pluginPath.c_str(), RTLD_NOW | RTLD_LOCAL));
    if (!library) {
        const char* reason = dlerror();
        Tell(texts::PluginNotLoadable(pluginPath, reason != nullptr ? reason : ""));
        return false;
    }

    const auto isSupported = Lookup<SpiIsSupportedFn>(library, kSpiIsSupportedName);
    if (isSupported == nullptr) {
        Tell(texts::PluginExportMissing(pluginPath, kSpiIsSupportedName));
        return false;
    }
    // The interface takes the name as a modifiable string.
    std::string name = imageFileName;
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        Tell(texts::ImageNotDecodable(imageFileName, std::strerror(errno)));
        return false;
    }
    const int supported = isSupported(name.data(), static_cast<SpiDword>(fd));
    ::close(fd);
    if (supported == 0) {
        Tell(texts::ImageNotDecodable(imageFileName, texts::ReasonPluginRefuses(pluginPath)));
        return false;
    }

    const auto getPicture = Lookup<SpiGetPictureFn>(library, kSpiGetPictureName);
    if (getPicture == nullptr) {
        Tell(texts::PluginExportMissing(pluginPath, kSpiGetPictureName));
        return false;
    }
    SpiHandle infoHandle = nullptr;
    SpiHandle bitsHandle = nullptr;
    const int result = getPicture(name.data(), 0, kSpiInputFile, &infoHandle, &bitsHandle, nullptr, 0);
    if (result != kSpiAllRight) {
        Tell(texts::ImageNotDecodable(imageFileName, texts::ReasonPluginFailed(result)));
        return false;
    }
    // Declared in this order so that the bits go first, then the information.
    const Block info(infoHandle);
    const Block bits(bitsHandle);
    if (!info || !bits) {
        Tell(texts::ImageNotDecodable(imageFileName, texts::kReasonPluginData));
        return false;
    }
    const TVemo_dib dib = TVemo_dib::FromPackedDib(WholeBlock(info), WholeBlock(bits));
    DibError error = dib.CheckPixelData();
    if (error == DibError::None) error = sink(dib);
    if (error != DibError::None) {
        const bool ownFault = error == DibError::TooLarge || error == DibError::NoMemory;
        Tell(texts::ImageNotDecodable(imageFileName, ownFault ? dib.Reason(error) : texts::kReasonPluginData));
        return false;
    }
    return true;
}
