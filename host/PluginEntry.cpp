#include "host/PluginEntry.h"

#include "host/PluginFiles.h"
#include "host/PluginMain.h"

#include "core/LibraryFile.h"
#include "core/SafeFileRunInputs.h"

#include <climits>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

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

// The plug-in's library and the files of its folder are files this run
// reads: nothing the plug-in writes for itself may land on one of them,
// whatever the host knows of them. Said once for each folder.
void ProtectOwnFiles(const FSRef& folder)
{
    static std::string said;
    static bool library = false;
    Dl_info info{};
    if (!library && dladdr(reinterpret_cast<const void*>(&qnPluginDispatch), &info) && info.dli_fname) {
        qnAddRunInputs({qnLoadedLibraryFile(info.dli_fname)}, QnRunInput::PluginLibrary);
        library = true;
    }
    if (!folder.path.empty() && folder.path != said) {
        for (const QnPluginFolderFile& file : kQnPluginFolderFiles)
            qnAddRunInputs({folder.path + "/" + file.name}, file.what);
        said = folder.path;
    }
}

}  // namespace

void qnPluginDispatch(CPluginMain& plugin, const FSRef& folder, int16_t selector, FilterRecord* record,
                      intptr_t* data, int16_t* result) noexcept
{
    try {
        plugin.SetHostPointers(record, data, result);
        plugin.SetPluginFolder(folder);
        ProtectOwnFiles(folder);
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
