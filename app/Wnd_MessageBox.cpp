#include "app/Wnd_MessageBox.h"

#include "imaging/Font.h"
#include "ui/Control.h"
#include "ui/CtrlStatic.h"
#include "ui/KeyCodes.h"

namespace {

// In the order of the member table: left OK, left YES, right OK, right YES,
// NO, CANCEL.
constexpr const char* kButtons[6] = {"MessageBox_OKl", "MessageBox_YESl", "MessageBox_OKr",
                                     "MessageBox_YESr", "MessageBox_NO",   "MessageBox_CANCEL"};
constexpr long kLineStep = 12;

}  // namespace

void CWnd_MessageBox::Init(const char* header, const char* message, unsigned char left, unsigned char right)
{
    m_header = header ? header : "";
    m_message = message ? message : "";
    m_left = left;
    m_right = right;
}

void CWnd_MessageBox::CentreOffset(long ctrlW, long ctrlH, long textW, long textH, short& x, short& y)
{
    if (textW <= 0 || textH <= 0) {
        x = 3;
        y = 0;
        return;
    }
    // Signed: a text wider than its control is centred over it.
    long ox = (ctrlW - textW) / 2;
    if (ox >= 0 && ox <= 2)
        ox = 3;
    x = short(ox);
    y = short((ctrlH - textH) / 2);
}

bool CWnd_MessageBox::i_SetText(const char* control, uint32_t font, const CQNF_String& text)
{
    unsigned long id = AddControl(CQNF_String(control), qnctl::StaticText);
    if (id == None)
        return false;
    auto* t = static_cast<CQNF_CtrlStaticText*>(GetControl(id));
    CQNF_Font* f = GetFont(font);
    t->SetFont(f);
    const qntRECT_s r = t->GetRenderRect();
    unsigned long w = 0, h = 0;
    short x = 3, y = 0;
    if (f && !qnIsNullRect(r) && f->GetTextSize(text, kLineStep, w, h))
        CentreOffset(r.right - r.left, r.bottom - r.top, long(w), long(h), x, y);
    t->SetText(text.GetStr(), x, y, kLineStep);
    return true;
}

unsigned char CWnd_MessageBox::OnCreate(CQNF_LayerSet*, unsigned short, unsigned short)
{
    m_headerFont = AddFont(CQNF_String("Message Font"));
    m_messageFont = AddFont(CQNF_String("List Font"));
    if (m_headerFont == None || m_messageFont == None)
        return 0;
    for (int i = 0; i < 6; ++i) {
        m_buttons[i] = AddControl(CQNF_String(kButtons[i]), qnctl::Button);
        if (m_buttons[i] == None)
            return 0;
        CQNF_Control* c = GetControl(m_buttons[i]);
        c->SetDisabledOpacity(0);
        c->Enable(0);
    }
    if (m_left == OK || m_left == YES)
        GetControl(m_buttons[m_left - 1])->Enable(1);
    if (m_right >= OK && m_right <= CANCEL)
        GetControl(m_buttons[m_right + 1])->Enable(1);
    return i_SetText("MessageBox_Text", m_messageFont, m_message) &&
                   i_SetText("MessageBox_TextHDR", m_headerFont, m_header)
               ? 1
               : 0;
}

unsigned char CWnd_MessageBox::OnKeyDown(unsigned char key, unsigned char)
{
    // Neither Return nor Esc answers the question: a stray key must not
    // choose for the user.
    return key == qnkey::Return || key == qnkey::Escape ? 1 : 0;
}

unsigned char CWnd_MessageBox::OnCtrlMessage(unsigned short msg, unsigned long id, char*, unsigned char type, void*)
{
    if (msg != qnmsg::Clicked || type != qnctl::Button)
        return 1;
    for (int i = 0; i < 6; ++i) {
        if (id == m_buttons[i]) {
            // OKl, YESl, OKr, YESr answer yes; NO and CANCEL no.
            EndModal(i < 4 ? 1 : 0);
            break;
        }
    }
    return 1;
}

long CWnd_MessageBox::Ask(CQNF_Window* parent, const char* header, const char* message, unsigned char left,
                          unsigned char right)
{
    CWnd_MessageBox box;
    box.Init(header, message, left, right);
    if (!box.CreateFromResource(CQNF_String("MessageBox"), -32000, -32000, parent, 1))
        return 0;
    box.RenderRect(qnNullRect);
    return box.DoModal() == 1 ? 1 : 0;
}
