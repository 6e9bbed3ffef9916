#include "app/Wnd_PrefAppHost.h"

#include "app/App.h"
#include "app/Wnd_MessageBox.h"
#include "host/PluginMain.h"

CQNF_Storage* CAppDialogHost::Conf()
{
    return m_App.m_pPlugin ? m_App.m_pPlugin->ConfStorage_GetStorage() : nullptr;
}

qntPOS CAppDialogHost::WindowPos(const char* name, const char* owner)
{
    if (!m_App.m_pPlugin)
        return {-32000, -32000};
    return m_App.m_pPlugin->WindowPosFromConf(name, owner, qnNullSize, 0);
}

void CAppDialogHost::PutWindowPos(const char* name, const char* owner, qntPOS pos)
{
    if (m_App.m_pPlugin)
        m_App.m_pPlugin->PutWindowPosToConf(name, owner, pos);
}

std::string CAppDialogHost::StatusTip(const char* control, const char* window, uint8_t mode, uint8_t type)
{
    const char* tip = CApp::GetStatusTip(CQNF_String(control), CQNF_String(window), mode, type);
    return tip ? tip : "";
}

void CAppDialogHost::FillHelpMenu(CQNF_PlatformPopupMenu& menu) { m_App.FillHelpMenu(&menu, 0); }

bool CAppDialogHost::HelpMenuDispatcher(unsigned short id, CQNF_Window* window)
{
    return m_App.HelpMenuDispatcher(id, window) != 0;
}

bool CAppDialogHost::SelectColor(qntRGBA8& colour)
{
    qntRGBA8 c = colour;
    if (!m_App.m_pPlugin || !m_App.m_pPlugin->SelectColor_RGB(&c))
        return false;
    colour = c;
    return true;
}

bool CAppDialogHost::AskOkCancel(CQNF_Window* parent, const char* title, const char* text)
{
    CWnd_MessageBox box;
    box.Init(title, text, CWnd_MessageBox::OK, CWnd_MessageBox::CANCEL);
    if (!box.CreateFromResource(CQNF_String("MessageBox"), -32000, -32000, parent, 1))
        return true;
    box.RenderRect(qnNullRect);
    return box.DoModal() == 1;
}

void CAppDialogHost::ShowMessage(CQNF_Window* parent, const char* title, const char* text)
{
    // A lone OK stands on the right, where OK stands beside Cancel.
    CWnd_MessageBox::Ask(parent, title, text, CWnd_MessageBox::NoButton, CWnd_MessageBox::OK);
}
