#include "hostapp/PluginLoader.h"

#include "core/ErrorWords.h"
#include "core/StdFile.h"

#include <cerrno>

#include <dlfcn.h>
#include <unistd.h>

namespace hostapp {

bool PluginLoader::Load(const std::string& path, std::string& err)
{
    Unload();
    // The plug-in and the libraries it brings (cairo, pixman) stay mapped
    // until the process ends, as a host keeps its filters: a library that
    // sets up tables once when loaded must not be unloaded under them.
    // A name without a slash would be looked for along the library path:
    // the plug-in named is the file of that name in the current folder.
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    // The loader would wait for ever on a FIFO and give its own raw words
    // for a folder or a device: refused first, in the words every program
    // gives for such an input.
    if (std::string why = qnRegularFileProblem(path); !why.empty()) {
        err = std::move(why);
        return false;
    }
    m_library = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!m_library) {
        const char* why = dlerror();
        // A plug-in file missing or closed reads as any input that is.
        err = ::access(path.c_str(), R_OK) != 0 ? qnReadFailure(path, errno)
                                                : "cannot load plug-in " + path + ": " + (why ? why : "unknown reason");
        return false;
    }
    void* symbol = dlsym(m_library, filterEntryName);
    if (!symbol) {
        err = "plug-in " + path + " has no entry function " + filterEntryName;
        Unload();
        return false;
    }
    m_entry = reinterpret_cast<FilterEntryProc>(symbol);
    return true;
}

void PluginLoader::Unload()
{
    if (m_library)
        dlclose(m_library);
    m_library = nullptr;
    m_entry = nullptr;
}

}  // namespace hostapp
