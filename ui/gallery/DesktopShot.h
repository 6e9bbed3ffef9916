// A picture of the headless desktop: every window where the backend shows
// it (shape and stacking included) over a plain desktop colour, saved as
// PNG. The galleries' snapshots are made with it.
#pragma once

#include "platform/Headless.h"

#include <cstdint>
#include <string>

namespace qnui {

// The desktop's top-left width x height pixels. False with a reason.
bool SaveHeadlessDesktop(plat::HeadlessPlatform& p, int32_t width, int32_t height, const std::string& pngPath,
                         std::string& error);

}  // namespace qnui
