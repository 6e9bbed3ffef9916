#include "app/Wnd_PrefHost.h"

#include "ui/App.h"
#include "ui/Control.h"
#include "ui/CtrlStatic.h"
#include "ui/PlatformPopupMenu.h"
#include "ui/Window.h"

#include <algorithm>
#include <cstring>

void CDialogHost::ShowMessage(CQNF_Window* parent, const char* title, const char* text)
{
    CQNF_App::PlatformMessageBox(text, title, parent);
}

void qnDialogHelpMenu(CDialogHost& host, CQNF_Window* window, short x, short y)
{
    CQNF_PlatformPopupMenu menu;
    if (!menu.Create())
        return;
    host.FillHelpMenu(menu);
    // An empty menu is not worth a pop-up.
    if (!menu.Items().empty())
        menu.DoPopup(window, x, y);
}

CQNF_Control* qnFindControl(const CQNF_Window& w, const char* name, int type)
{
    for (unsigned long i = 0; i < w.GetControlCount(); ++i) {
        CQNF_Control* c = w.GetControl(i);
        if (c && std::strcmp(c->GetName(), name) == 0 && (type < 0 || c->GetType() == type))
            return c;
    }
    return nullptr;
}

int qnRunDialog(CQNF_Window& dialog, CDialogHost& host, const char* name, const char* owner, CQNF_Window* parent)
{
    return qnRunDialog(dialog, host, name, name, owner, parent);
}

int qnRunDialog(CQNF_Window& dialog, CDialogHost& host, const char* name, const char* posName, const char* owner,
                CQNF_Window* parent)
{
    const qntPOS pos = host.WindowPos(posName, owner);
    if (!dialog.CreateFromResource(name, short(pos.x), short(pos.y), parent, 1))
        return -1;
    const qntRECT_s all{0, 0, dialog.GetWidth(), dialog.GetHeight()};
    dialog.RenderRect(all);
    dialog.UpdateRect(all);
    return dialog.DoModal() == 1 ? 1 : 0;
}

std::string qnControlTip(CDialogHost& host, const CQNF_Window& w, unsigned long index, const char* window)
{
    CQNF_Control* c = index < w.GetControlCount() ? w.GetControl(index) : nullptr;
    return c ? host.StatusTip(c->GetName(), window, c->IsEnabled(), c->GetType()) : host.StatusTip("", window, 1, 128);
}

void CDialogStatus::Start(CQNF_Window& w, CQNF_CtrlStaticText* text)
{
    m_pText = text;
    m_bTimer = w.SetTimer(kTickMs, kTimer) ? 1 : 0;
}

void CDialogStatus::Stop(CQNF_Window& w)
{
    if (m_bTimer)
        w.KillTimer(kTimer);
    m_bTimer = 0;
}

bool CDialogStatus::OnTimer(unsigned short id)
{
    if (id != kTimer)
        return false;
    OnTick();
    return true;
}

unsigned char qnDialogPopup(CDialogHost& host, CQNF_Window* window, unsigned short msg, void* data)
{
    return msg == qnmsg::PopupChoice && data && host.HelpMenuDispatcher(*static_cast<unsigned short*>(data), window)
               ? 1
               : 0;
}

void CDialogStatus::Update(const std::string& text)
{
    if (text == m_Held)
        return;
    m_Held = text;
    m_State = 2;
}

void CDialogStatus::OnTick()
{
    if (!m_pText || m_State == 0)
        return;
    const int opacity = m_pText->GetOpacity();
    if (m_State == 2) {
        if (opacity == 0) {
            m_pText->SetText(m_Held.c_str());
            m_State = 1;
        } else {
            m_pText->SetOpacity(uint8_t(std::max(0, opacity - 65)));
        }
    } else if (opacity >= 255) {
        m_State = 0;
    } else {
        m_pText->SetOpacity(uint8_t(std::min(255, opacity + 40)));
    }
}

const qntRGBA8* qnDialogEditColors()
{
    static const qntRGBA8 colours[10] = {{225, 227, 203, 255}, {250, 247, 193, 255}, {245, 247, 228, 255},
                                         {186, 108, 10, 255},  {225, 227, 203, 255}, {177, 3, 3, 255},
                                         {177, 3, 3, 255},     {0, 0, 0, 255},       {255, 255, 255, 255},
                                         {191, 193, 170, 255}};
    return colours;
}
