// The interactive road of the plug-in: About and the interactive Start with
// windows. Both create the application object, open the resource file from
// the plug-in folder and run the application loop with the start window;
// Start then takes the apply path that the main window's closing chose.
//
// The window backend (GTK on the X display, from the module tessolo_gtk.so
// beside the plug-in) is opened for each run unless a test hands one in. Without a display
// the run says so in one line on stderr and ends cancelled.
#pragma once

#include "app/Wnd_Main.h"
#include "host/PluginMain.h"

#include "core/FSRef.h"

#include <functional>
#include <string>

class CApp;
namespace plat {
class Platform;
}

class CAppRoad : public CInteractiveRoad {
public:
    static constexpr const char* kResourceFile = "resource_ts31_d.qns4";

    void RunAbout(CPluginMain& plugin) override;
    void RunStart(CPluginMain& plugin) override;

    // A backend of the caller's (tests); null opens one per run.
    void SetPlatform(plat::Platform* platform) { m_pPlatform = platform; }
    // The knife editor the main window opens; null: the stand-in.
    void SetCutterFactory(CWnd_Main::CutterFactory factory) { m_CutterFactory = factory; }
    // Called with the application object just before its loop runs (tests
    // script their input here).
    std::function<void(CApp&)> onBeforeRun;
    // The last line the road wrote for a run without a display.
    const std::string& LastError() const { return m_LastError; }

private:
    // Runs f with a backend attached; false (and the line on stderr) when
    // none can be opened.
    bool i_WithPlatform(const FSRef& folder, const std::function<void()>& f);
    // Opens the resource file from the plug-in folder for the application
    // (and its shortcuts); on failure says so in a message box and leaves the
    // run cancelled.
    bool InitAppStorage(CApp& app, CPluginMain& plugin);
    // The application's loop with its start window; -1 when it cannot run.
    static int RunApp(CApp& app);
    static void i_ApplyFailed(CPluginMain& plugin);
    // A run whose window backend could not be loaded ends as the plug-in's
    // own reported error, not as the user's cancel.
    void i_BackendUnloadable(bool shown, CPluginMain& plugin) const;

    plat::Platform* m_pPlatform = nullptr;
    CWnd_Main::CutterFactory m_CutterFactory = nullptr;
    std::string m_LastError;
    bool m_BackendUnloadable = false;  // the last run's backend did not load
};
