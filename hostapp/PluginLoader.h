// Loads a filter plug-in library and finds its entry function.
#pragma once

#include "filterapi/FilterApi.h"

#include <string>

namespace hostapp {

class PluginLoader {
public:
    PluginLoader() = default;
    ~PluginLoader() { Unload(); }
    PluginLoader(const PluginLoader&) = delete;
    PluginLoader& operator=(const PluginLoader&) = delete;

    // Opens the library and looks up "PluginMain"; false with a reason on failure.
    bool Load(const std::string& path, std::string& err);
    // Closes the library; the plug-in's static objects are destroyed here.
    void Unload();
    FilterEntryProc Entry() const { return m_entry; }

private:
    void* m_library = nullptr;
    FilterEntryProc m_entry = nullptr;
};

}  // namespace hostapp
