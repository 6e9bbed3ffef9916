#include "ui/App.h"

#include "core/ErrorManager.h"
#include "core/ErrorWords.h"
#include "core/ZipBlock.h"
#include "ui/Toolkit.h"
#include "ui/Window.h"

#include <cstring>
#include <string>

CQNF_App* m_App = nullptr;

namespace {
plat::Platform* P() { return qnui::Toolkit::Get().P(); }

std::string Latin1Cut(const char* s, size_t n)
{
    std::string out = s ? s : "";
    if (out.size() > n)
        out.resize(n);
    return out;
}
}  // namespace

CQNF_App::~CQNF_App()
{
    if (m_App == this)
        m_App = nullptr;
}

bool CQNF_App::i_Opened()
{
    m_storageOpen = 1;
    LoadAcceleratorsFromStorage();
    return true;
}

bool CQNF_App::InitStorgaeResource(const char* name, const FSRef* folder, unsigned char checkMD5)
{
    ResetError();
    if (checkMD5 && !m_storage.CheckMD5(name, folder)) {
        SetError(m_storage.GetError());
        return false;
    }
    if (!m_storage.Open(name, folder, 1)) {
        SetError(m_storage.GetError());
        return false;
    }
    return i_Opened();
}

bool CQNF_App::InitStorgaeResource(const char* path, unsigned char checkMD5)
{
    ResetError();
    CQNF_String p(path);
    if (checkMD5 && !m_storage.CheckMD5(p)) {
        SetError(m_storage.GetError());
        return false;
    }
    if (!m_storage.Open(p, 1)) {
        SetError(m_storage.GetError());
        return false;
    }
    return i_Opened();
}

bool CQNF_App::InitStorgaeResource(unsigned char)
{
    ResetError();
    SetError(qnerr::NoResourceStorage);
    return false;
}

void CQNF_App::LoadAcceleratorsFromStorage()
{
    m_shortcutBlock.free();
    m_shortcuts = nullptr;
    m_shortcutCount = 0;
    if (!m_storageOpen)
        return;
    CQNF_Mem packed;
    if (!m_storage.GetRec(CQNF_String("UIResources>Accelerators"), packed)) {
        m_storage.ResetError();
        return;
    }
    CQNF_ZipBlock zip;
    zip.SetSourceBlock(packed);
    zip.SetDestBlock(&m_shortcutBlock);
    if (!zip.Decompress()) {
        m_shortcutBlock.free();
        return;
    }
    m_shortcutCount = m_shortcutBlock.GetSize() / kShortcutSize;
    m_shortcuts = m_shortcutCount ? m_shortcutBlock.GetPtr() : nullptr;
}

unsigned short CQNF_App::GetAcceleratorCmd(unsigned char key, unsigned char control, unsigned char option,
                                           unsigned char shift, unsigned char command) const
{
    if (key >= 'a' && key <= 'z')
        key = uint8_t(key - 'a' + 'A');
    for (uint32_t i = 0; i < m_shortcutCount; ++i) {
        const unsigned char* r = m_shortcuts + size_t(i) * kShortcutSize;
        if (r[4] != key || r[1] != option || r[2] != shift)
            continue;
        const bool ok = r[3] ? (command == r[0] && control == 0) : (control == r[0] && command == 0);
        if (ok)
            return uint16_t(r[6] | r[7] << 8);
    }
    return kNoCommand;
}

void CQNF_App::TranslateAccelerator(unsigned char key, unsigned char modifiers, CQNF_Window* window)
{
    if (!m_shortcutCount || !window)
        return;
    const unsigned short cmd =
        GetAcceleratorCmd(key, (modifiers & plat::mods::Control) ? 1 : 0, (modifiers & plat::mods::Option) ? 1 : 0,
                          (modifiers & plat::mods::Shift) ? 1 : 0, (modifiers & plat::mods::Command) ? 1 : 0);
    if (cmd != kNoCommand)
        window->OnCtrlMessage(qnmsg::Shortcut, cmd, nullptr, 0, nullptr);
}

void CQNF_App::TranslateAccelerator(unsigned char key, CQNF_Window* window)
{
    TranslateAccelerator(key, uint8_t(CQNF_Window::GetKeysStatus() & 0x0F), window);
}

void CQNF_App::i_AppEvent(const plat::Event& e)
{
    if (!m_handlerInstalled || !m_eventCallback)
        return;
    qntAPPEVENT a{};
    switch (e.kind) {
    case plat::Kind::AppActivated: a.kind = qntAPPEVENT::Activated; break;
    case plat::Kind::AppDeactivated: a.kind = qntAPPEVENT::Deactivated; break;
    case plat::Kind::WinDraw: a.kind = qntAPPEVENT::WindowUpdate; break;
    default: return;
    }
    a.window = e.win;
    a.timeMs = e.timeMs;
    m_eventCallback(a);
}

int CQNF_App::Run()
{
    if (m_mainWindow)
        m_mainWindow->SetAppLoopFlag(1);
    CQNF_Window::SetNormalCursor();
    m_handlerInstalled = m_eventCallback && m_mainWindow;
    qnui::Toolkit::Frame frame;
    frame.owner = m_mainWindow;
    // Without a main window nothing can end the loop: there is nothing to run.
    if (m_mainWindow)
        qnui::Toolkit::Get().RunLoop(frame);
    m_handlerInstalled = false;
    if (m_mainWindow)
        m_mainWindow->SetAppLoopFlag(0);
    return 0;
}

int CQNF_App::DoAppSpecialModal() { return m_App ? m_App->Run() : -1; }

uint32_t CQNF_App::GetDoubleClickTime() { return P() ? P()->DoubleClickMs() : 500; }
uint32_t CQNF_App::GetCaretDelay() { return P() ? P()->CaretBlinkMs() * 2 : 1000; }
uint32_t CQNF_App::GetPeriodicCounter() { return P() ? P()->NowMs() : 0; }

bool CQNF_App::Clipboard_IsTextDataAvailable() { return P() && P()->ClipboardHasText(); }

bool CQNF_App::Clipboard_GetText(CQNF_String& text)
{
    std::string s;
    if (!P() || !P()->ClipboardGetText(s) || s.empty())
        return false;
    // The text's bytes, exactly as long as the text (a 0 byte included).
    if (!text.Space(uint32_t(s.size())))
        return false;
    std::copy(s.begin(), s.end(), text.GetStr());
    return true;
}

bool CQNF_App::Clipboard_SetText(CQNF_String text)
{
    return P() && P()->ClipboardSetText(std::string(text.GetStr(), text.GetLength()));
}

void CQNF_App::SystemBeep()
{
    if (P())
        P()->Beep();
}

int CQNF_App::PlatformMessageBox(const char* text, const char* title, CQNF_Window* window)
{
    if (!P())
        return -1;
    // Over the window it speaks of.
    return P()->Alert(Latin1Cut(title, 250), Latin1Cut(text, 250), window ? window->GetWindowHandle() : 0);
}

bool CQNF_App::GetScrollStyle_TwoSideArrows() { return P() && P()->ScrollArrowsAtBothEnds(); }

std::string qnWindowNotMadeWords(const std::string& what, const std::string& resource, const char* windowName,
                                 unsigned short error)
{
    const char* words = qnErrorWords(error);
    // A window whose records are missing or unreadable fails with a number
    // that has no words of its own: the file lacks that window.
    if (error == qnerr::WindowImage || error == 1 || std::strcmp(words, "error") == 0)
        return what + " cannot be made: " + resource + " has no complete \"" + windowName +
               "\" window (give the resource file that holds it)";
    return what + " cannot be made: " + words;
}
