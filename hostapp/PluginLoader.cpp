#include "hostapp/PluginLoader.h"

#include <dlfcn.h>

namespace hostapp {

bool PluginLoader::Load(const std::string& path, std::string& err)
{
    Unload();
    m_library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_library) {
        const char* why = dlerror();
        err = "cannot load plug-in " + path + ": " + (why ? why : "unknown reason");
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
