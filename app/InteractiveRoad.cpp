#include "app/InteractiveRoad.h"

#include "app/App.h"
#include "core/ErrorWords.h"
#include "core/LibraryFile.h"
#include "core/ProgramOutput.h"
#include "core/StdFile.h"
#include "host/PluginAdapter.h"
#include "platform/Platform.h"
#include "ui/PlatformFileDialog.h"
#include "ui/Toolkit.h"

#include <cerrno>
#include <cstdio>
#include <dlfcn.h>
#include <memory>
#include <new>
#include <vector>

#include <unistd.h>

namespace {

constexpr const char* kNoResourceText =
    "Cannot load the resource file.\nPlease, try to reinstall plug-in and if the problem persists, contact Quorvin";
constexpr const char* kNoResourceTitle = "Quorvin Tessolo 3.1 Error";

// m_App for the length of one run.
struct AppScope {
    explicit AppScope(CQNF_App* app) { m_App = app; }
    ~AppScope() { m_App = nullptr; }
};

// The GTK backend lives in its own module beside the plug-in, loaded on the
// first run with windows and kept for the rest of the process (GTK cannot
// be unloaded).
std::unique_ptr<plat::Platform> OpenWindowBackend(const FSRef& folder, std::string& err, bool& unloadable)
{
    using OpenFn = plat::Platform* (*)(char*, size_t);
    static OpenFn open = nullptr;
    unloadable = false;
    if (!open) {
        const std::string path = (folder.path.empty() ? std::string(".") : folder.path) + "/tessolo_gtk.so";
        // What keeps the backend from loading is said as it is, with the
        // file: a module cut short or with its tail lost is refused before
        // the loader maps it (it would end the host with a signal).
        auto refuse = [&](const std::string& why) {
            unloadable = true;
            err = "cannot load the window backend " + path + ": " + why;
            return nullptr;
        };
        if (std::string why = qnRegularFileProblem(path); !why.empty()) {
            if (::access(path.c_str(), F_OK) != 0)
                return refuse(qnSystemWords(errno));
            unloadable = true;
            err = "cannot load the window backend: " + why;
            return nullptr;
        }
        // The backend is always this plug-in's own, so it must carry the
        // seal: one without it is no backend built with this plug-in. It
        // is loaded from the very file judged.
        qnOpenLibrary library(path);
        if (const int error = library.OpenError())
            return refuse(qnSystemWords(error));
        std::string why;
        switch (library.Judge(why, qnLibrarySeal::Required)) {
        case qnLibraryFile::NotLibrary:
            return refuse("it is no library of this system");
        case qnLibraryFile::CutShort:
        case qnLibraryFile::Damaged:
        case qnLibraryFile::ReadFails:
            return refuse(why);
        case qnLibraryFile::Unreadable:
            return refuse(qnSystemWords(EIO));
        case qnLibraryFile::Sound:
            break;
        }
        void* lib = library.Load(RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (!lib)
            return refuse(library.LoadError().empty() ? "the system gave no reason" : library.LoadError());
        open = reinterpret_cast<OpenFn>(dlsym(lib, "TessoloOpenWindowBackend"));
        if (!open)
            return refuse("it is not one of this plug-in");
    }
    char buf[256] = {};
    std::unique_ptr<plat::Platform> p(open(buf, sizeof buf));
    if (!p)
        err = buf[0] ? buf : "the window backend could not start";
    return p;
}

}  // namespace

bool CAppRoad::i_WithPlatform(const FSRef& folder, const std::function<void()>& f)
{
    m_LastError.clear();
    m_BackendUnloadable = false;
    qnui::Toolkit& tk = qnui::Toolkit::Get();
    std::unique_ptr<plat::Platform> owned;
    plat::Platform* p = m_pPlatform;
    if (!p) {
        std::string err;
        owned = OpenWindowBackend(folder, err, m_BackendUnloadable);
        if (!owned) {
            // A backend that cannot be loaded is said as the host says a
            // plug-in it cannot load: the line starts with the program's name.
            m_LastError = m_BackendUnloadable ? std::string(program_invocation_short_name) + ": " + err
                                              : "Tessolo: no display for the plug-in's window: " + err;
            std::fprintf(stderr, "%s\n", qnShownLine(m_LastError).c_str());
            return false;
        }
        p = owned.get();
    }
    tk.Attach(p);
    // The file dialogs start in the plug-in's folder (shapes, settings).
    CQNF_PlatformFileDialog::SetAppRootFolder(folder);
    // The desktop's colour chooser serves picks while this backend lives,
    // even when the run ends by an exception.
    struct PickerScope {
        explicit PickerScope(plat::Platform* p)
        {
            CQNF_8BFPluginVirtual::SetSystemColorPicker([p](uint16_t rgb[3]) { return p->PickColor(rgb); });
        }
        ~PickerScope() { CQNF_8BFPluginVirtual::SetSystemColorPicker(nullptr); }
    } picker(p);
    f();
    tk.Attach(nullptr);
    return true;
}

bool CAppRoad::InitAppStorage(CApp& app, CPluginMain& plugin)
{
    if (app.InitStorgaeResource(kResourceFile, &plugin.GetPluginFolder(), 0)) {
        app.LoadAcceleratorsFromStorage();
        return true;
    }
    CQNF_App::PlatformMessageBox(kNoResourceText, kNoResourceTitle, nullptr);
    plugin.HostSetRetCode_Cancel();
    return false;
}

int CAppRoad::RunApp(CApp& app)
{
    return app.Run();
}

void CAppRoad::RunAbout(CPluginMain& plugin)
{
    plugin.HostSetRetCode_Cancel();
    const bool shown = i_WithPlatform(plugin.GetPluginFolder(), [&] {
        auto app = std::make_unique<CApp>();
        AppScope scope(app.get());
        app->m_MainWindow = &app->m_WndAbout;
        app->m_MainWindowName = "About";
        app->m_pPlugin = &plugin;
        app->m_WndAbout.m_pPlugin = &plugin;
        if (!InitAppStorage(*app, plugin))
            return;
        if (onBeforeRun)
            onBeforeRun(*app);
        if (RunApp(*app) != -1)
            plugin.HostSetRetCode_NoError();
        else
            plugin.HostSetRetCode_Cancel();
    });
    i_BackendUnloadable(shown, plugin);
}

void CAppRoad::i_BackendUnloadable(bool shown, CPluginMain& plugin) const
{
    // Not the user's cancel: the plug-in said why on its own.
    if (!shown && m_BackendUnloadable)
        plugin.HostSetRetCode(filterErrorReported);
}

void CAppRoad::i_ApplyFailed(CPluginMain& plugin)
{
    // The user's cancel is reported as one; any other failure of the pieces'
    // apply as a lack of memory.
    if (plugin.GetHostProgress().WasCanceled())
        plugin.HostSetRetCode_Cancel();
    else
        plugin.HostSetRetCode_MemFull();
}

void CAppRoad::RunStart(CPluginMain& plugin)
{
    plugin.HostSetRetCode_Cancel();
    // 1.
    if (!plugin.PrepareCompositeAlpha(1))
        return;
    const bool shown = i_WithPlatform(plugin.GetPluginFolder(), [&] {
        // 2.
        auto app = std::make_unique<CApp>();
        AppScope scope(app.get());
        CWnd_Main& main = app->m_WndMain;
        app->m_MainWindow = &main;
        app->m_MainWindowName = "Main";
        app->m_pPlugin = &plugin;
        main.SetPlugin(&plugin);
        main.SetCutterFactory(m_CutterFactory);
        // 3.
        if (!InitAppStorage(*app, plugin))
            return;
        // The file dialogs remember their folder in the plug-in's settings
        // while the window runs.
        struct FolderMemory {
            explicit FolderMemory(CQNF_Storage* st) { CQNF_PlatformFileDialog::SetSettingsStorage(st); }
            ~FolderMemory() { CQNF_PlatformFileDialog::SetSettingsStorage(nullptr); }
        } folders(plugin.ConfStorage_GetStorage());
        // 4.
        plugin.HostSetRetCode_NoError();
        app->m_MainWindowPos = plugin.WindowPosFromConf("Main", "ROOT", qnNullSize, 0);
        // 5. Closing the window sets the result.
        if (onBeforeRun)
            onBeforeRun(*app);
        const int rc = RunApp(*app);
        // 6.
        if (rc == -1) {
            if (plugin.HostGetRetCode() == 0)
                plugin.HostSetRetCode_Cancel();
            return;
        }
        // 7.
        if (!main.m_bApply)
            return;
        // 8.
        if (main.m_bCutMode) {
            if (!plugin.Apply_DrawSpliting())
                plugin.HostSetRetCode_Cancel();
            return;
        }
        CTessolo& engine = plugin.GetEngine();
        if (plugin.GetPluginDataPtr()->colorMode != 1) {
            // Rendered again from the host's planes: the window's images go
            // first to make room, the pieces' effects are carried over.
            main.m_MainImage.Clean();
            main.m_SourceImage.Clean();
            std::vector<CTessolo::SFX_ONEPIECE> records;
            try {
                records.reserve(engine.m_nPieces);
            } catch (const std::bad_alloc&) {
                plugin.HostSetRetCode_MemFull();
                return;
            }
            for (uint32_t i = 0; i < engine.m_nPieces; ++i)
                records.push_back(CTessolo::MakeOnePiece(engine.m_pPieces[i]));
            engine.FreeSpliting();
            if (!plugin.Apply_SplittingNoUI(uint32_t(records.size()), records.data()))
                i_ApplyFailed(plugin);
            return;
        }
        if (!plugin.Apply_SplittingUI(&main.m_MainImage))
            i_ApplyFailed(plugin);
    });
    i_BackendUnloadable(shown, plugin);
}
