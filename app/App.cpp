#include "app/App.h"

#include "app/StatusTips.h"
#include "host/PluginMain.h"
#include "ui/PlatformPopupMenu.h"

#include <cstdlib>
#include <filesystem>

namespace {

// The host's event procedure while the loop runs (the callback has no
// context, and one run at a time exists).
FilterRecord* s_eventRecord = nullptr;

void HostEvent(const qntAPPEVENT& e)
{
    if (s_eventRecord && s_eventRecord->processEvent)
        s_eventRecord->processEvent(const_cast<qntAPPEVENT*>(&e));
}

}  // namespace

CApp::CApp() = default;

CApp::~CApp()
{
    s_eventRecord = nullptr;
}

int CApp::Run()
{
    if (!m_MainWindow)
        return -1;
    SetMainWindow(m_MainWindow);
    m_MainWindow->SetMainWindowFlag(1);
    InitHelpMenuItems();
    FilterRecord* record = m_pPlugin ? m_pPlugin->GetFilterRecord() : nullptr;
    if (record && record->processEvent) {
        s_eventRecord = record;
        SetEventCallback(&HostEvent);
    }
    if (!m_MainWindow->CreateFromResource(m_MainWindowName, short(m_MainWindowPos.x), short(m_MainWindowPos.y),
                                          nullptr, 0)) {
        // A half-made window goes now, before anything can show it.
        m_MainWindow->Close();
        SetMainWindow(nullptr);
        return -1;
    }
    m_MainWindow->RenderRect(qnNullRect);
    m_MainWindow->Show();
    m_MainWindow->SetFocus();
    const int rc = CQNF_App::Run();
    s_eventRecord = nullptr;
    SetEventCallback(nullptr);
    return rc;
}

void CApp::InitHelpMenuItems() { m_HelpItems = qnReadHelpEntries(GetStorage()); }

void CApp::FillHelpMenu(CQNF_PlatformPopupMenu* menu, unsigned char)
{
    if (!menu)
        return;
    menu->AddItem("Help...", qnhelp::kHelp, 0, 0);
    menu->AddSeparator();
    for (size_t k = 0; k < m_HelpItems.size(); ++k) {
        if (m_HelpItems[k].IsSeparator())
            menu->AddSeparator();
        else
            menu->AddItem(m_HelpItems[k].title.c_str(), static_cast<unsigned short>(qnhelp::kFirstLink + k), 0, 0);
    }
    menu->AddSeparator();
    menu->AddItem("About Plug-in...", qnhelp::kAbout, 0, 0);
}

unsigned char CApp::HelpMenuDispatcher(unsigned short id, CQNF_Window* window)
{
    const qntHELPCOMMAND c = qnHelpCommand(id, m_HelpItems);
    switch (c.kind) {
    case qntHELPCOMMAND::About:
        DoAboutWindow_UI(window);
        return 1;
    case qntHELPCOMMAND::Help:
        ShowHelp();
        return 1;
    case qntHELPCOMMAND::Link:
        GoToURL(c.link.c_str());
        return 1;
    case qntHELPCOMMAND::None:
        break;
    }
    return 0;
}

void CApp::ShowHelp()
{
    if (m_pPlugin && m_pPlugin->LaunchFile(kHelpFile))
        return;
    // The user is told what stands in the way and where the document lies,
    // so that it can be opened by hand.
    const std::string path =
        (m_pPlugin ? std::filesystem::path(m_pPlugin->GetPluginFolder().path) : std::filesystem::path()) / kHelpFile;
    std::error_code ec;
    const std::string message =
        std::filesystem::is_regular_file(path, ec)
            ? "Cannot show the help: no program to open PDF files was found. Install a PDF viewer (such as "
              "evince) and open the help from its file:\n" + path
            : "Cannot show the help: its file is missing:\n" + path + "\nInstall the plug-in again.";
    PlatformMessageBox(message.c_str(), "Error!", nullptr);
}

void CApp::GoToURL(const char* url)
{
    if (m_pPlugin && m_pPlugin->LaunchURL(url))
        return;
    // Nothing is fetched here: the address goes to the desktop's browser.
    // When none could be started the user is told which address to open
    // by hand.
    const std::string message = std::string("Cannot show the web page: no web browser could be started for it. "
                                            "Open its address in a browser by hand:\n") +
                                (url ? url : "");
    PlatformMessageBox(message.c_str(), "Error!", nullptr);
}

int CApp::DoAboutWindow_UI(CQNF_Window* parent)
{
    CWnd_About about;
    about.m_pPlugin = m_pPlugin;
    if (about.CreateFromResource(CQNF_String("About"), -32000, -32000, parent, 1)) {
        about.RenderRect(qnNullRect);
        about.DoModal();
    }
    return 0;
}

const char* CApp::GetStatusTip(const CQNF_String& control, const CQNF_String& window, unsigned char mode,
                               unsigned char type)
{
    return qnGetStatusTip(control.GetStr(), window.GetStr(), mode, type);
}
