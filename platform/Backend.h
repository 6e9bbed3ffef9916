// Choosing and opening a window backend.
#pragma once

#include "platform/Platform.h"

#include <memory>
#include <string>

namespace plat {

// The GTK 3 backend on the X11 display (forced, so that global window
// positions and shaped windows work; a Wayland desktop runs it through
// XWayland). Null, with a one-line reason in error, when the display cannot
// be opened or the backend was not built.
std::unique_ptr<Platform> OpenGtk(std::string& error);

// "headless", "gtk", or empty for the choice of the TESSOLO_PLATFORM
// environment variable (GTK when it is unset).
std::unique_ptr<Platform> OpenPlatform(const std::string& which, std::string& error);

}  // namespace plat
