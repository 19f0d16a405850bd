// Vemo_susie: the plug-in loader TVemo_susieF.
//
// Reads a TIFF, PNG or GIF file through an image plug-in: a ".spi" shared
// library in the system folder that follows the interface in Vemo_spi.h.
// The library is loaded, asked, used and closed within one call; nothing
// of a plug-in stays loaded between loads.
//
// Reads: the plug-in and, through it, the image file. Writes: the target
// picture (Mono, Indexed8, Rgb32 or Argb32, as the plug-in's bitmap has
// it), or leaves it untouched. Whenever it leaves the target untouched it
// has told the user why through the message sink.
#pragma once

#include <string>

#include "common/Vemo_common.h"
#include "image/Vemo_dib.h"

class TVemo_susieF {
public:
    explicit TVemo_susieF(MessageSink messages);

    // Fills `target` from `imageFileName` through the plug-in at
    // `pluginPath` (a full path), or leaves it untouched.
    void LoadWithPlugin(const std::string& pluginPath, const std::string& imageFileName, DibPicture& target);

private:
    void Tell(const std::string& text) const;

    MessageSink m_messages;
};
