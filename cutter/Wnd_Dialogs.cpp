#include "cutter/Wnd_Dialogs.h"

#include "app/MainModel.h"
#include "ui/CtrlButton.h"
#include "ui/CtrlEditLine.h"
#include "ui/EditColours.h"
#include "ui/CtrlSlider.h"
#include "ui/CtrlStatic.h"
#include "ui/KeyCodes.h"

#include <cstdio>
#include <cstring>

namespace {

std::string Number(uint32_t v)
{
    char b[16];
    std::snprintf(b, sizeof b, "%u", v);
    return b;
}

// The shape name dialog keeps its place under a name of its own, read and
// stored alike.
constexpr const char* kShapeNamePosition = "Shape Name";

void StorePos(CDialogHost& host, CQNF_Window& w, const char* name, const char* owner)
{
    const qntRECT_s r = w.GetWindowRect();
    host.PutWindowPos(name, owner, qntPOS{r.left, r.top});
}

}  // namespace

// ---- Shared ------------------------------------------------------------------------

CWnd_CutterDialog::~CWnd_CutterDialog()
{
    if (GetWindowHandle())
        Close();
}

CQNF_Control* CWnd_CutterDialog::i_Find(const char* name, unsigned char type) const
{
    return qnFindControl(*this, name, type);
}

bool CWnd_CutterDialog::i_AddButtons(const char* prefix)
{
    for (const char* b : {"_CloseX", "_Cancel", "_Ok", "_Help"}) {
        const std::string name = std::string(prefix) + b;
        if (AddControl(name.c_str(), qnctl::Button) == None)
            return false;
    }
    static_cast<CQNF_CtrlButton*>(i_Find((std::string(prefix) + "_Help").c_str(), qnctl::Button))->SetMenuMode(1);
    return true;
}

CQNF_CtrlEditLine* CWnd_CutterDialog::i_AddEdit(const char* name, unsigned long font, bool numeric)
{
    const unsigned long id = AddControl(name, qnctl::EditLine);
    if (id == None)
        return nullptr;
    auto* e = static_cast<CQNF_CtrlEditLine*>(GetControl(id));
    e->SetFont(GetFont(font));
    if (numeric)
        e->SetOptions(1, 0, 0, 0, -1, 0);
    else
        e->SetOptions(0, 1, 1, 0, -1, 0);
    e->SetColors(kPluginEditColours);
    return e;
}

bool CWnd_CutterDialog::i_Button(const std::string& name, short helpX)
{
    const std::string suffix = name.substr(name.find('_') == std::string::npos ? name.size() : name.find('_'));
    if (suffix == "_CloseX" || suffix == "_Cancel") {
        EndModal(0);
    } else if (suffix == "_Ok") {
        OnOk();
    } else if (suffix == "_Help") {
        qnDialogHelpMenu(m_Host, this, helpX, 30);
    } else {
        return false;
    }
    return true;
}

bool CWnd_CutterDialog::i_Popup(unsigned short msg, void* data) { return qnDialogPopup(m_Host, this, msg, data); }

unsigned char CWnd_CutterDialog::OnKeyDown(unsigned char key, unsigned char)
{
    CQNF_Control* ok = i_Find(m_pOkName, qnctl::Button);
    switch (qnDialogKey(key, ok && ok->IsEnabled())) {
    case DialogKey::Ok:
        OnOk();
        return 1;
    case DialogKey::Cancel:
        EndModal(0);
        return 1;
    case DialogKey::Consumed:
        OnReturnRefused();
        return 1;
    default:
        return 0;
    }
}

// ---- Shape name ----------------------------------------------------------------------

unsigned char CWnd_ShapeName::OnCreate(CQNF_LayerSet*, unsigned short, unsigned short)
{
    const unsigned long font = AddFont("List Font");
    if (font == None || !i_AddButtons("ShapeName"))
        return 0;
    i_Find("ShapeName_Ok", qnctl::Button)->Enable(0);
    m_pEdit = i_AddEdit("ShapeName_Name", font, false);
    if (!m_pEdit)
        return 0;
    m_pEdit->SetText(m_Name.c_str(), 1);
    m_pEdit->SetFocus(1);
    return 1;
}

unsigned char CWnd_ShapeName::OnCtrlMessage(unsigned short msg, unsigned long, char* name, unsigned char type,
                                            void* data)
{
    const std::string n = name ? name : "";
    if (type == qnctl::Button)
        return i_Button(n, 307) ? 1 : 0;
    if (type == qnctl::EditLine && msg == qnmsg::TextEdited && data) {
        i_UpdateOk(static_cast<CQNF_String*>(data)->GetStr());
        return 1;
    }
    return type == 255 && i_Popup(msg, data) ? 1 : 0;
}

void CWnd_ShapeName::OnCtrlLostFocus(unsigned long index)
{
    CWnd_CutterDialog::OnCtrlLostFocus(index);
    if (m_pEdit)
        i_UpdateOk(m_pEdit->GetText().GetStr());
}

void CWnd_ShapeName::i_UpdateOk(const char* text)
{
    if (CQNF_Control* ok = i_Find("ShapeName_Ok", qnctl::Button))
        ok->Enable(CShapeNameRule::IsOkEnabled(text) ? 1 : 0);
}

void CWnd_ShapeName::OnReturnRefused()
{
    if (m_pEdit && !m_pEdit->IsFocused())
        m_pEdit->SetFocus(1);
}

void CWnd_ShapeName::OnOk()
{
    CQNF_Control* ok = i_Find("ShapeName_Ok", qnctl::Button);
    if (!ok || !ok->IsEnabled() || !m_pEdit)
        return;
    m_Name = m_pEdit->GetText().GetStr();
    StorePos(m_Host, *this, kShapeNamePosition, m_pParentName);
    EndModal(1);
}

bool DoShapeNameDialog(CQNF_Window* parent, CDialogHost& host, const char* parentName, std::string& name)
{
    CWnd_ShapeName dialog(host, name, parentName);
    if (qnRunDialog(dialog, host, "ShapeName", kShapeNamePosition, parentName, parent) != 1)
        return false;
    name = dialog.Name();
    return true;
}

// ---- Auto layout ---------------------------------------------------------------------

namespace {
const char* const kKindNames[3] = {"AutoLayout_Tri", "AutoLayout_Hex", "AutoLayout_Hex2"};
}

unsigned char CWnd_AutoLayout::OnCreate(CQNF_LayerSet*, unsigned short, unsigned short)
{
    const unsigned long editFont = AddFont("Edit Font");
    const unsigned long infoFont = AddFont("Info Font");
    if (editFont == None || infoFont == None || !i_AddButtons("AutoLayout"))
        return 0;
    const char* names[2] = {"AutoLayout_Rows", "AutoLayout_Cols"};
    for (int i = 0; i < 2; ++i) {
        const unsigned long id = AddControl(names[i], qnctl::Slider);
        if (id == None)
            return 0;
        m_pSldr[i] = static_cast<CQNF_CtrlSlider*>(GetControl(id));
    }
    for (int i = 0; i < 2; ++i)
        if (!(m_pEdit[i] = i_AddEdit(names[i], editFont, true)))
            return 0;
    for (const char* k : kKindNames)
        if (AddControl(k, qnctl::RadioButton) == None)
            return 0;
    if (AddControl("AutoLayout_Regular", qnctl::CheckBox) == None)
        return 0;
    for (const char* k : kKindNames) {
        const unsigned long id = AddControl(k, qnctl::StaticImage);
        if (id == None)
            return 0;
        // Only the chosen kind's picture is shown; the others are disabled
        // at opacity 0, which also keeps them from taking the pointer (and
        // their tips) over the picture shown below them.
        auto* picture = static_cast<CQNF_CtrlStaticImage*>(GetControl(id));
        picture->SetDisabledOpacity(0);
        picture->GetControlLayer()->SetVisible(0);
    }
    const unsigned long statusId = AddControl("AutoLayout_Status", qnctl::StaticText);
    if (statusId == None)
        return 0;
    auto* status = static_cast<CQNF_CtrlStaticText*>(GetControl(statusId));
    status->SetFont(GetFont(infoFont));
    status->SetText("", 3, 0, 12);
    SetInitStates();
    m_Status.Start(*this, status);
    return 1;
}

void CWnd_AutoLayout::i_ShowKind()
{
    for (uint8_t k = 0; k < 3; ++k) {
        auto* img = static_cast<CQNF_CtrlStaticImage*>(i_Find(kKindNames[k], qnctl::StaticImage));
        if (!img)
            continue;
        img->Enable(k == m_Model.m_nKind ? 1 : 0);
        img->GetControlLayer()->SetVisible(k == m_Model.m_nKind ? 1 : 0);
        const qntRECT_s r = img->GetControlLayer()->GetRect();
        RenderRect(r);
        UpdateRect(r);
    }
}

void CWnd_AutoLayout::i_ShowValues(bool rows, bool cols)
{
    const CAutoLayoutModel::MAXIMA& m = m_Model.Current();
    if (rows) {
        m_pSldr[0]->SetValueD(1, m.rows, m_Model.ShownRows(), 0);
        m_pEdit[0]->SetText(Number(uint32_t(m_pSldr[0]->GetValueD(1, m.rows))).c_str(), 0);
    }
    if (cols) {
        m_pSldr[1]->SetValueD(1, m.columns, m_Model.ShownCols(), 0);
        m_pEdit[1]->SetText(Number(uint32_t(m_pSldr[1]->GetValueD(1, m.columns))).c_str(), 0);
    }
}

void CWnd_AutoLayout::SetInitStates()
{
    m_Model.SetInitStates();
    if (CQNF_Control* r = i_Find("AutoLayout_Regular", qnctl::CheckBox))
        r->SetCheck(m_Model.m_bRegular ? 1 : 0, 0);
    if (m_Model.m_nKind < 3)
        if (CQNF_Control* r = i_Find(kKindNames[m_Model.m_nKind], qnctl::RadioButton))
            r->SetCheck(1, 0);
    i_ShowKind();
    i_ShowValues(true, true);
}

void CWnd_AutoLayout::Close()
{
    m_Status.Stop(*this);
    CQNF_Window::Close();
}

unsigned char CWnd_AutoLayout::OnTimer(unsigned short id) { return m_Status.OnTimer(id) ? 1 : 0; }

unsigned char CWnd_AutoLayout::OnAboveControl(unsigned long index)
{
    CQNF_Control* c = index < GetControlCount() ? GetControl(index) : nullptr;
    if (c && c->GetType() == qnctl::StaticImage &&
        (std::strcmp(c->GetName(), "AutoLayout_Tri") == 0 || std::strcmp(c->GetName(), "AutoLayout_Hex") == 0))
        return 0;
    m_Status.Request(qnControlTip(m_Host, *this, index, "AutoLayout"));
    return 1;
}

unsigned char CWnd_AutoLayout::OnCtrlMessage(unsigned short msg, unsigned long, char* name, unsigned char type,
                                             void* data)
{
    const std::string n = name ? name : "";
    const int which = n == "AutoLayout_Rows" ? 0 : n == "AutoLayout_Cols" ? 1 : -1;
    switch (type) {
    case qnctl::Button:
        return i_Button(n, 289) ? 1 : 0;
    case qnctl::Slider:
        // Controls report while they are being built: only both pairs count.
        if (which >= 0 && m_pSldr[which] && m_pEdit[which]) {
            const CAutoLayoutModel::MAXIMA& m = m_Model.Current();
            const uint32_t max = which == 0 ? m.rows : m.columns;
            const uint32_t v = uint32_t(m_pSldr[which]->GetValueD(1, max));
            if (which == 0)
                m_Model.OnSldrRows(v);
            else
                m_Model.OnSldrCols(v);
            m_pEdit[which]->SetText(Number(v).c_str(), 0);
        }
        return 1;
    case qnctl::EditLine:
        if (which >= 0 && m_pSldr[which] && msg == qnmsg::TextEdited && data) {
            const char* text = static_cast<CQNF_String*>(data)->GetStr();
            if (which == 0)
                m_Model.OnEditRows(text);
            else
                m_Model.OnEditCols(text);
            const CAutoLayoutModel::MAXIMA& m = m_Model.Current();
            m_pSldr[which]->SetValueD(1, which == 0 ? m.rows : m.columns,
                                      which == 0 ? m_Model.ShownRows() : m_Model.ShownCols(), 0);
        }
        return 1;
    case qnctl::RadioButton:
        for (uint8_t k = 0; k < 3; ++k) {
            CQNF_Control* r = i_Find(kKindNames[k], qnctl::RadioButton);
            if (r && r->GetCheck()) {
                m_Model.OnKind(k);
                i_ShowValues(true, true);
                i_ShowKind();
                break;
            }
        }
        return 1;
    case qnctl::CheckBox:
        if (CQNF_Control* r = i_Find("AutoLayout_Regular", qnctl::CheckBox))
            m_Model.m_bRegular = r->GetCheck() ? 1 : 0;
        return 1;
    case 255:
        return i_Popup(msg, data) ? 1 : 0;
    default:
        return 0;
    }
}

void CWnd_AutoLayout::OnCtrlLostFocus(unsigned long index)
{
    CQNF_Window::OnCtrlLostFocus(index);
    for (int i = 0; i < 2; ++i) {
        if (!m_pEdit[i] || m_pEdit[i]->GetControlID() != index)
            continue;
        const CQNF_String text = m_pEdit[i]->GetText();
        const std::string shown = i == 0 ? m_Model.OnEditRowsLF(text.GetStr()) : m_Model.OnEditColsLF(text.GetStr());
        m_pEdit[i]->SetText(shown.c_str(), 1);
    }
}

void CWnd_AutoLayout::OnOk()
{
    StorePos(m_Host, *this, "AutoLayout", "Cutter");
    EndModal(1);
}

int DoAutoLayoutWindow(CQNF_Window* editor, CDialogHost& host, CWnd_MainModel* main)
{
    CAutoLayoutModel model;
    model.settings_Load(host.Conf());
    CWnd_AutoLayout dialog(host, model);
    const int r = qnRunDialog(dialog, host, "AutoLayout", "Cutter", editor);
    if (r == 1)
        dialog.Model().OnOk(host.Conf(), main);
    return r;
}

// ---- Custom mutations ----------------------------------------------------------------

namespace {
const char* const kMutNames[3] = {"CMuts_MutS", "CMuts_MutU", "CMuts_MutH"};
}

unsigned char CWnd_CustomMutations::OnCreate(CQNF_LayerSet*, unsigned short, unsigned short)
{
    const unsigned long font = AddFont("Edit Font");
    if (font == None || !i_AddButtons("CMuts"))
        return 0;
    for (int i = 0; i < 3; ++i) {
        const unsigned long id = AddControl(kMutNames[i], qnctl::Slider);
        if (id == None)
            return 0;
        m_pSldr[i] = static_cast<CQNF_CtrlSlider*>(GetControl(id));
    }
    for (int i = 0; i < 3; ++i)
        if (!(m_pEdit[i] = i_AddEdit(kMutNames[i], font, true)))
            return 0;
    SetInitStates();
    return 1;
}

void CWnd_CustomMutations::SetInitStates()
{
    for (int i = 0; i < 3; ++i) {
        m_pSldr[i]->SetValueD(0, 100, CCustomMutationsModel::DisplayPercent(m_Model.m_fAmount[i]), 0);
        m_pEdit[i]->SetText(Number(uint32_t(m_pSldr[i]->GetValueD(0, 100))).c_str(), 0);
    }
}

unsigned char CWnd_CustomMutations::OnCtrlMessage(unsigned short msg, unsigned long, char* name,
                                                  unsigned char type, void* data)
{
    const std::string n = name ? name : "";
    int which = -1;
    for (int i = 0; i < 3; ++i)
        if (n == kMutNames[i])
            which = i;
    switch (type) {
    case qnctl::Button:
        return i_Button(n, 307) ? 1 : 0;
    case qnctl::Slider:
        // Controls report while they are being built: only all three pairs count.
        if (which >= 0 && m_pEdit[2]) {
            const uint32_t v = uint32_t(m_pSldr[which]->GetValueD(0, 100));
            const bool shift = (GetKeysStatus() & plat::mods::Shift) != 0;
            m_pEdit[which]->SetText(Number(v).c_str(), 0);
            m_Model.OnSldr(CCustomMutationsModel::Which(which), v, shift);
            if (shift)
                for (int i = 0; i < 3; ++i)
                    if (i != which) {
                        m_pEdit[i]->SetText(Number(v).c_str(), 0);
                        m_pSldr[i]->SetValueD(0, 100, v, 0);
                    }
        }
        return 1;
    case qnctl::EditLine:
        if (which >= 0 && m_pSldr[which] && msg == qnmsg::TextEdited && data) {
            m_Model.OnEdit(CCustomMutationsModel::Which(which), static_cast<CQNF_String*>(data)->GetStr());
            m_pSldr[which]->SetValueD(0, 100, CCustomMutationsModel::DisplayPercent(m_Model.m_fAmount[which]), 0);
        }
        return 1;
    case 255:
        return i_Popup(msg, data) ? 1 : 0;
    default:
        return 0;
    }
}

void CWnd_CustomMutations::OnCtrlLostFocus(unsigned long index)
{
    CQNF_Window::OnCtrlLostFocus(index);
    for (int i = 0; i < 3; ++i) {
        if (!m_pEdit[i] || m_pEdit[i]->GetControlID() != index)
            continue;
        const CQNF_String text = m_pEdit[i]->GetText();
        m_pEdit[i]->SetText(m_Model.OnEditLF(CCustomMutationsModel::Which(i), text.GetStr()).c_str(), 1);
    }
}

void CWnd_CustomMutations::OnOk()
{
    StorePos(m_Host, *this, "CMuts", "Cutter");
    EndModal(1);
}

int DoCustomMutationsWindow(CQNF_Window* editor, CDialogHost& host,
                            const std::function<void(const CCustomMutationsModel&, CQNF_Storage*)>& onOk)
{
    CCustomMutationsModel model;
    model.settings_Load(host.Conf());
    CWnd_CustomMutations dialog(host, model);
    const int r = qnRunDialog(dialog, host, "CMuts", "Cutter", editor);
    if (r == 1 && onOk)
        onOk(dialog.Model(), host.Conf());
    return r;
}
