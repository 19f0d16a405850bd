// Vemo_susie: the plug-in loader TVemo_susieF.
//
// Reads a TIFF, PNG or GIF file through an image plug-in: a ".spi" shared
// library in the system folder that follows the interface in Vemo_spi.h.
// The library is loaded, asked, used and closed within one call; nothing
// of a plug-in stays loaded between loads.
//
// The plug-in's bitmap is handed to a sink while the plug-in's blocks are
// still held, so that a caller can map it row by row into a form of its own
// without a second full copy: an A0 RGB scan's block alone is 1.7 GB. Its
// size is checked against the blocks before the sink sees it, so a header
// that claims more than its block holds costs nothing.
//
// Reads: the plug-in and, through it, the image file. Writes: what the
// sink writes, or the target picture (Mono, Indexed8, Rgb32 or Argb32, as
// the plug-in's bitmap has it); or leaves either untouched. Whenever it
// leaves them untouched it has told the user why through the message sink.
#pragma once

#include <functional>
#include <string>

#include "common/Vemo_common.h"
#include "image/Vemo_dib.h"

// Takes the plug-in's bitmap: decodes it (TVemo_dib::Decode) into a form
// of its own and returns DibError::None, or the fault that stopped it
// (NoMemory when it could not allocate). Runs at most once per load.
using PluginPictureSink = std::function<DibError(const TVemo_dib& dib)>;

class TVemo_susieF {
public:
    explicit TVemo_susieF(MessageSink messages);

    // Hands the picture of `imageFileName`, read through the plug-in at
    // `pluginPath` (a full path), to `sink`. True when the sink took it.
    bool LoadWithPlugin(const std::string& pluginPath, const std::string& imageFileName,
                        const PluginPictureSink& sink);
    // Fills `target` with the whole picture, or leaves it untouched.
    void LoadWithPlugin(const std::string& pluginPath, const std::string& imageFileName, DibPicture& target);

private:
    void Tell(const std::string& text) const;

    MessageSink m_messages;
};
