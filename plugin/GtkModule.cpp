// tessolo_gtk.so: the GTK window backend as a module of its own, beside the
// plug-in in its bundle. The plug-in opens it only when a run shows a
// window, so a host that merely loads the plug-in (or replays it without
// the dialog) never loads GTK and the libraries under it.
#include "platform/Backend.h"

#include <cstddef>
#include <cstring>
#include <string>

extern "C" __attribute__((visibility("default"))) plat::Platform* TessoloOpenWindowBackend(char* error,
                                                                                          size_t errorSize)
{
    std::string err;
    std::unique_ptr<plat::Platform> p;
    try {
        p = plat::OpenGtk(err);
    } catch (...) {
        err = "the window backend could not start";
    }
    if (!p && error && errorSize) {
        std::strncpy(error, err.c_str(), errorSize - 1);
        error[errorSize - 1] = 0;
    }
    return p.release();
}
