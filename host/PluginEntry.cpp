#include "host/PluginEntry.h"

#include "host/PluginMain.h"

#include <climits>
#include <cstdlib>
#include <new>
#include <string>

#include <dlfcn.h>

namespace {

void RunSelector(CPluginMain& plugin, int16_t selector, FilterRecord* record)
{
    switch (selector) {
    case filterSelectorAbout:
        plugin.DoAbout();
        break;
    case filterSelectorParameters:
        plugin.DoParameters();
        break;
    case filterSelectorPrepare:
        if (record)
            record->bufferSpace = 0;
        plugin.DoPrepare();
        break;
    case filterSelectorStart:
        if (!plugin.FillPluginData()) {
            if (plugin.GetError() == qnerr::HostUnsupportedImage)
                plugin.HostSetRetCode(filterBadMode);
            else
                plugin.HostSetRetCode_BadParam();
        } else {
            plugin.DoStart();
        }
        if (plugin.HostGetRetCode() == 0 && plugin.Scripting_GetMustShowUI() && record &&
            record->descriptorParameters)
            record->descriptorParameters->recordInfo = descriptorRecordDisplayDialog;
        plugin.EmptyRects();
        break;
    case filterSelectorContinue:
        plugin.DoContinue();
        break;
    case filterSelectorFinish:
        plugin.DoFinish();
        break;
    default:
        plugin.HostSetRetCode_BadParam();
        break;
    }
}

}  // namespace

void qnPluginDispatch(CPluginMain& plugin, const FSRef& folder, int16_t selector, FilterRecord* record,
                      intptr_t* data, int16_t* result) noexcept
{
    try {
        plugin.SetHostPointers(record, data, result);
        plugin.SetPluginFolder(folder);
        plugin.HostSetRetCode_NoError();
        RunSelector(plugin, selector, record);
    } catch (const std::bad_alloc&) {
        plugin.HostSetRetCode_MemFull();
        plugin.EmptyRects();
    } catch (...) {
        plugin.HostSetRetCode_BadParam();
        plugin.EmptyRects();
    }
    // Nothing is held through this call's parameter block once it returns.
    plugin.ReleasePSSuites();
}

bool qnFindLibraryFolder(const void* address, FSRef& folder)
{
    Dl_info info{};
    if (!dladdr(address, &info) || !info.dli_fname || !*info.dli_fname)
        return false;
    char resolved[PATH_MAX];
    if (!realpath(info.dli_fname, resolved))
        return false;
    std::string path(resolved);
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return false;
    folder.path = slash == 0 ? std::string() : path.substr(0, slash);
    return true;
}
