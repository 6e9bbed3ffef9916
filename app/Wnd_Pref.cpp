#include "app/Wnd_Pref.h"

#include "ui/CtrlButton.h"
#include "ui/CtrlEditLine.h"
#include "ui/CtrlStatic.h"
#include "ui/KeyCodes.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kWindow = "Preferences";

// The swatch rectangles in the order of CPrefDialogModel::Swatch.
const qntRECT_s& SwatchRect(const CPrefDialogModel::RECTS& r, int i)
{
    const qntRECT_s* all[] = {&r.fcb1, &r.fcb2, &r.fsolid, &r.tcb1, &r.tcb2, &r.tsolid};
    return *all[i];
}

}  // namespace

CWnd_Pref::~CWnd_Pref()
{
    if (GetWindowHandle())
        Close();
}

CQNF_Control* CWnd_Pref::i_Ctrl(const char* name) const { return qnFindControl(*this, name); }

unsigned char CWnd_Pref::OnCreate(CQNF_LayerSet*, unsigned short, unsigned short)
{
    const char* rectNames[] = {"Pref_Preview", "Pref_TCB1", "Pref_TCB2", "Pref_TSolid",
                               "Pref_FCB1",    "Pref_FCB2", "Pref_FSolid"};
    qntRECT_s* rects[] = {&m_Rects.preview, &m_Rects.tcb1, &m_Rects.tcb2,  &m_Rects.tsolid,
                          &m_Rects.fcb1,    &m_Rects.fcb2, &m_Rects.fsolid};
    for (int i = 0; i < 7; ++i)
        if (!GetResourceRect(rectNames[i], *rects[i]))
            return 0;
    const unsigned long editFont = AddFont("Edit Font");
    const unsigned long infoFont = AddFont("Info Font");
    if (editFont == None || infoFont == None)
        return 0;

    m_nOpacityId = AddControl("Pref_DisOpacity", qnctl::EditLine);
    if (m_nOpacityId == None)
        return 0;
    m_pOpacity = static_cast<CQNF_CtrlEditLine*>(GetControl(m_nOpacityId));
    m_pOpacity->SetFont(GetFont(editFont));
    m_pOpacity->SetOptions(1, 0, 0, 0, -1, 0);
    m_pOpacity->SetColors(qnDialogEditColors());
    m_pOpacity->SetText(m_Model.OpacityText().c_str(), 0);

    for (const char* b : {"Pref_CloseX", "Pref_Cancel", "Pref_Ok", "Pref_Help"})
        if (AddControl(b, qnctl::Button) == None)
            return 0;
    static_cast<CQNF_CtrlButton*>(i_Ctrl("Pref_Help"))->SetMenuMode(1);

    const CPreferences& v = m_Model.Values();
    const struct {
        const char* name;
        bool on;
    } radios[] = {{"Pref_FCB", !v.extAlphaSolid},
                  {"Pref_FSolid", v.extAlphaSolid != 0},
                  {"Pref_TCB", !v.alphaSolid},
                  {"Pref_TSolid", v.alphaSolid != 0}};
    for (const auto& r : radios) {
        const unsigned long id = AddControl(r.name, qnctl::RadioButton);
        if (id == None)
            return 0;
        GetControl(id)->SetCheck(r.on ? 1 : 0, 0);
    }

    const unsigned long statusId = AddControl("Pref_Status", qnctl::StaticText);
    if (statusId == None)
        return 0;
    auto* status = static_cast<CQNF_CtrlStaticText*>(GetControl(statusId));
    status->SetFont(GetFont(infoFont));
    status->SetText("", 3, 0, 12);

    const unsigned long fit = AddControl("Pref_FitOnLoad", qnctl::CheckBox);
    if (fit == None)
        return 0;
    GetControl(fit)->SetCheck(v.onLoadZoom ? 1 : 0, 0);

    if (!m_Preview.Create(m_Rects.preview, 2) || LSAddLayer(&m_Preview) == None)
        return 0;
    m_Preview.Set(qntRGBA8{0, 0, 0, 0}, 15);
    for (int i = 0; i < CPrefDialogModel::kSwatchCount; ++i) {
        if (!m_Swatch[i].Create(SwatchRect(m_Rects, i), 2) || LSAddLayer(&m_Swatch[i]) == None)
            return 0;
        qntRGBA8 c = m_Model.SwatchColor(CPrefDialogModel::Swatch(i));
        c.a = 255;
        m_Swatch[i].Set(c, 15);
    }

    m_Status.Start(*this, status);
    DoRedrawPreview();
    OnAboveControl(None);
    return 1;
}

void CWnd_Pref::i_ShowLayer(CQNF_Layer& layer)
{
    const qntRECT_s r = layer.GetRect();
    RenderRect(r);
    UpdateRect(r);
}

void CWnd_Pref::DoRedrawPreview()
{
    m_Model.DrawPreview(m_Preview);
    i_ShowLayer(m_Preview);
}

void CWnd_Pref::RedrawColors()
{
    for (int i = 0; i < CPrefDialogModel::kSwatchCount; ++i) {
        qntRGBA8 c = m_Model.SwatchColor(CPrefDialogModel::Swatch(i));
        c.a = 255;
        m_Swatch[i].Set(c, 15);
        i_ShowLayer(m_Swatch[i]);
    }
}

void CWnd_Pref::Close()
{
    m_Status.Stop(*this);
    CQNF_Window::Close();
}

unsigned char CWnd_Pref::OnTimer(unsigned short id) { return m_Status.OnTimer(id) ? 1 : 0; }

unsigned char CWnd_Pref::OnAboveControl(unsigned long index)
{
    if (index < GetControlCount())
        m_Model.OnAboveAnyControl();
    m_Status.Update(qnControlTip(m_Host, *this, index, kWindow));
    return 1;
}

unsigned char CWnd_Pref::OnMouseMove(short x, short y, unsigned char)
{
    if (m_underPointer < GetControlCount()) {
        m_Model.OnAboveAnyControl();
        return 0;
    }
    const CPrefDialogModel::Zone zone = CPrefDialogModel::ZoneAt(m_Rects, x, y);
    if (m_Model.OnPointerZone(zone))
        m_Status.Update(m_Host.StatusTip(CPrefDialogModel::ZoneName(zone), kWindow, 1, 255));
    return 0;
}

unsigned char CWnd_Pref::OnLMouseDown(short x, short y, unsigned char)
{
    const CPrefDialogModel::Swatch s = CPrefDialogModel::SwatchAt(m_Rects, x, y);
    if (s == CPrefDialogModel::kNoSwatch)
        return 0;
    qntRGBA8 colour = m_Model.SwatchColor(s);
    if (!m_Host.SelectColor(colour))
        return 1;
    m_Model.OnColorPicked(s, colour);
    RedrawColors();
    // The pair follows the swatch's kind, as a click on its radio would.
    if (CQNF_Control* radio = i_Ctrl(CPrefDialogModel::SwatchRadio(s)))
        radio->SetCheck(1, 0);
    const CPreferences& v = m_Model.Values();
    if (CQNF_Control* r = i_Ctrl(v.extAlphaSolid ? "Pref_FCB" : "Pref_FSolid"))
        r->SetCheck(0, 0);
    if (CQNF_Control* r = i_Ctrl(v.alphaSolid ? "Pref_TCB" : "Pref_TSolid"))
        r->SetCheck(0, 0);
    DoRedrawPreview();
    return 1;
}

unsigned char CWnd_Pref::OnKeyDown(unsigned char key, unsigned char)
{
    if (key == qnkey::Return) {
        char name[] = "Pref_Ok";
        CQNF_Control* ok = i_Ctrl(name);
        return OnCtrlMessage(qnmsg::Clicked, ok ? ok->GetControlID() : None, name, qnctl::Button, nullptr), 1;
    }
    if (key == qnkey::Escape) {
        EndModal(0);
        return 1;
    }
    return 0;
}

unsigned char CWnd_Pref::OnCtrlMessage(unsigned short msg, unsigned long, char* name, unsigned char type,
                                       void* data)
{
    const std::string n = name ? name : "";
    switch (type) {
    case qnctl::Button:
        if (n == "Pref_CloseX" || n == "Pref_Cancel") {
            EndModal(0);
        } else if (n == "Pref_Ok") {
            EndModal(1);
        } else if (n == "Pref_Help") {
            qnDialogHelpMenu(m_Host, this, 488, 30);
        } else {
            return 0;
        }
        return 1;
    case qnctl::CheckBox:
        if (CQNF_Control* c = i_Ctrl("Pref_FitOnLoad"))
            m_Model.OnFitOnLoad(c->GetCheck() != 0);
        return 1;
    case qnctl::RadioButton: {
        CQNF_Control* fs = i_Ctrl("Pref_FSolid");
        CQNF_Control* ts = i_Ctrl("Pref_TSolid");
        m_Model.OnRadios(fs && fs->GetCheck(), ts && ts->GetCheck());
        DoRedrawPreview();
        return 1;
    }
    case qnctl::EditLine:
        if (n == "Pref_DisOpacity" && msg == qnmsg::TextEdited && data)
            m_Model.OnEdit(static_cast<CQNF_String*>(data)->GetStr());
        return 1;
    case 255:
        return qnDialogPopup(m_Host, this, msg, data);
    default:
        return 0;
    }
}

void CWnd_Pref::OnCtrlLostFocus(unsigned long index)
{
    CQNF_Window::OnCtrlLostFocus(index);
    if (index == m_nOpacityId && m_pOpacity) {
        const CQNF_String text = m_pOpacity->GetText();
        m_pOpacity->SetText(m_Model.OnEdit_LF(text.GetStr()).c_str(), 1);
    }
}

int DoPrefDialog(CQNF_Window* parent, CDialogHost& host, CPreferences& prefs, bool* opacityChanged)
{
    if (opacityChanged)
        *opacityChanged = false;
    CWnd_Pref dialog(host, prefs);
    if (!dialog.CreateFromResource("Pref", -32000, -32000, parent, 1))
        return -1;
    dialog.RenderRect(qntRECT_s{0, 0, dialog.GetWidth(), dialog.GetHeight()});
    dialog.UpdateRect(qntRECT_s{0, 0, dialog.GetWidth(), dialog.GetHeight()});
    if (dialog.DoModal() != 1)
        return 0;
    const bool changed = dialog.Model().OnOk(prefs, host.Conf());
    if (opacityChanged)
        *opacityChanged = changed;
    return 1;
}
