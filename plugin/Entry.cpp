// The plug-in library's entry function and the globals of one load.
//
// The library exports PluginMain and nothing else. Everything the plug-in
// keeps between host calls lives in m_Plugin, constructed when the host loads
// the library and destroyed when it unloads it.
#include "app/InteractiveRoad.h"
#include "cutter/Wnd_Cutter.h"
#include "host/PluginEntry.h"
#include "host/PluginMain.h"

#include "core/FSRef.h"
#include "core/String.h"

extern "C" __attribute__((visibility("default"))) void PluginMain(int16_t selector, FilterRecord* record,
                                                                   intptr_t* data, int16_t* result);

// The pointers of the current host call.
FilterRecord* gFilterRecord = nullptr;
intptr_t* gData = nullptr;  // the plug-in keeps nothing in the host's data word
int16_t* gResult = nullptr;
// The folder that holds the plug-in's data files.
FSRef m_AppRootFSRef;
CPluginMain m_Plugin;
// About and the interactive Start open the plug-in's windows.
CAppRoad m_AppRoad;
CQNF_String m_AppName("Quorvin Tessolo 3.1");

namespace {

void PrepareAppInfo() noexcept
{
    // A failure keeps the folder found before; not even running out of
    // memory may leave the library.
    try {
        FSRef found;
        if (qnFindLibraryFolder(reinterpret_cast<const void*>(&PluginMain), found))
            m_AppRootFSRef = std::move(found);
    } catch (...) {
    }
}

// Resolved once at load as well: a host that opened the library by a relative
// path and then changed its directory can no longer have it resolved.
struct LoadTimeFolder {
    LoadTimeFolder()
    {
        PrepareAppInfo();
        m_AppRoad.SetCutterFactory(&qnMakeCutterWindow);
        m_Plugin.SetInteractiveRoad(&m_AppRoad);
    }
} s_loadTimeFolder;

}  // namespace

extern "C" void PluginMain(int16_t selector, FilterRecord* record, intptr_t* data, int16_t* result)
{
    gFilterRecord = record;
    gData = data;
    gResult = result;
    PrepareAppInfo();
    qnPluginDispatch(m_Plugin, m_AppRootFSRef, selector, record, data, result);
}
