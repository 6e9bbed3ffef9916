#include "app/App.h"

#include "app/StatusTips.h"
#include "host/PluginMain.h"
#include "ui/PlatformPopupMenu.h"

#include "core/Launcher.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The host's event procedure while the loop runs (the callback has no
// context, and one run at a time exists).
FilterRecord* s_eventRecord = nullptr;

void HostEvent(const qntAPPEVENT& e)
{
    if (s_eventRecord && s_eventRecord->processEvent)
        s_eventRecord->processEvent(const_cast<qntAPPEVENT*>(&e));
}

// Whether program is an executable file in a folder of PATH, as execvp
// would find it (an empty entry is the current folder).
bool OnPath(const char* program)
{
    const char* path = std::getenv("PATH");
    const std::string folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
    for (size_t at = 0; at <= folders.size();) {
        const size_t end = std::min(folders.find(':', at), folders.size());
        const std::string folder = end > at ? folders.substr(at, end - at) : ".";
        if (access((folder + "/" + program).c_str(), X_OK) == 0)
            return true;
        at = end + 1;
    }
    return false;
}

// What xdg-mime names as the desktop's program for PDF files: empty when
// none is registered; "?" when it could not be asked (then xdg-open is
// left to find out for itself).
std::string PdfViewer()
{
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return "?";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, 2);
    char* const argv[] = {const_cast<char*>("xdg-mime"), const_cast<char*>("query"), const_cast<char*>("default"),
                          const_cast<char*>("application/pdf"), nullptr};
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, "xdg-mime", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string answer;
    char buffer[256];
    ssize_t got = 0;
    while (spawned == 0 && (got = read(out[0], buffer, sizeof buffer)) != 0) {
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            break;
        if (answer.size() < 4096)
            answer.append(buffer, size_t(got));
    }
    close(out[0]);
    if (spawned != 0)
        return "?";
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "?";
    answer.erase(0, answer.find_first_not_of(" \t\n"));
    return answer.substr(0, answer.find_first_of(" \t\n"));
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
    // The user is told what stands in the way and where the document lies,
    // so that it can be opened by hand.
    const std::string path =
        (m_pPlugin ? std::filesystem::path(m_pPlugin->GetPluginFolder().path) : std::filesystem::path()) / kHelpFile;
    std::error_code ec;
    const bool there = std::filesystem::is_regular_file(path, ec);
    std::string message;
    // xdg-open starts apart from the plug-in, and a PDF file it has no
    // program for goes nowhere in silence: what it needs is looked for first.
    if (there && CQNF_Launcher::UsesDefault()) {
        if (!OnPath("xdg-open"))
            message = "Cannot show the help: xdg-open, which opens it, is missing. Install the Debian package "
                      "xdg-utils and a PDF viewer (such as evince), or open its file by hand:\n" + path;
        else if (PdfViewer().empty())
            message = "Cannot show the help: no PDF viewer is registered for PDF files. Install one (such as the "
                      "Debian package evince), or open its file by hand:\n" + path;
    }
    if (message.empty() && m_pPlugin && m_pPlugin->LaunchFile(kHelpFile))
        return;
    if (message.empty())
        message = there ? "Cannot show the help: no program to open PDF files was found. Install a PDF viewer (such as "
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
