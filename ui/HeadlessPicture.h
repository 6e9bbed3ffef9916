// A picture of the headless desktop: every visible window drawn in its
// stacking order over a plain background, each only inside its shape, the
// way a screen would show them. Tests and demos save it to look at windows
// without a display.
#pragma once

#include "imaging/Image.h"
#include "platform/Headless.h"

#include <string>

namespace qnui {

// The desktop's bounds as an RGB image; false when it is empty or too large.
bool DesktopPicture(plat::HeadlessPlatform& platform, CQNF_Image& out, uint32_t background = 0x3A3F47);
// The same saved as a PNG file; false with a reason.
bool SaveDesktopPNG(plat::HeadlessPlatform& platform, const std::string& path, std::string& error,
                    uint32_t background = 0x3A3F47);

}  // namespace qnui
