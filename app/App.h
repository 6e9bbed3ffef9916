// CApp: the plug-in's application object for one interactive run (an About
// call or an interactive Start). It owns the About window and the main
// window, runs the event loop with the one the run shows, and serves every
// window with the help menu (the help document, the web links of the
// resource record "InfoM", the About window) and the status tips.
#pragma once

#include "app/HelpMenu.h"
#include "app/Wnd_Main.h"
#include "app/Wnd_MessageBox.h"
#include "ui/App.h"

#include <vector>

class CPluginMain;
class CQNF_PlatformPopupMenu;

class CApp : public CQNF_App {
public:
    static constexpr const char* kHelpFile = "Quorvin Tessolo 3.1 Help.pdf";

    CApp();
    ~CApp() override;

    // -1 when the window cannot be created, else the loop's result.
    int Run() override;

    void InitHelpMenuItems();
    void FillHelpMenu(CQNF_PlatformPopupMenu* menu, unsigned char unused);
    // 1 when id is a help-menu command (carried out), else 0.
    unsigned char HelpMenuDispatcher(unsigned short id, CQNF_Window* window);
    void ShowHelp();
    void GoToURL(const char* url);
    int DoAboutWindow_UI(CQNF_Window* parent);

    static const char* GetStatusTip(const CQNF_String& control, const CQNF_String& window, unsigned char mode,
                                    unsigned char type);

    CQNF_Window* m_MainWindow = nullptr;
    CQNF_String m_MainWindowName;
    qntPOS m_MainWindowPos{-32000, -32000};
    CWnd_About m_WndAbout;
    CWnd_Main m_WndMain;
    CPluginMain* m_pPlugin = nullptr;
    std::vector<qntHELPENTRY> m_HelpItems;
};
