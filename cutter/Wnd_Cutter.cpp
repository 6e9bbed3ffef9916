// The knife editor's window: creation from the resources, the controls in
// step with the editor, events, pop-ups, status line, cursors and the Cut's
// look.
#include "cutter/Wnd_Cutter.h"

#include "app/App.h"
#include "app/StatusTips.h"
#include "host/PluginMain.h"
#include "ui/CtrlButton.h"
#include "ui/CtrlEditLine.h"
#include "ui/EditColours.h"
#include "ui/CtrlSlider.h"
#include "ui/CtrlStatic.h"
#include "ui/PlatformPopupMenu.h"
#include "ui/Toolkit.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr const char* kButtons[16] = {"Cutter_Help",    "Cutter_CloseX",  "Cutter_FlipH",   "Cutter_FlipU",
                                      "Cutter_Save",    "Cutter_Load",    "Cutter_Presets", "Cutter_AddToPM",
                                      "Cutter_ReClone", "Cutter_Clone",   "Cutter_Cut",     "Cutter_Cancel",
                                      "Cutter_Reset",   "Cutter_Redo",    "Cutter_Undo",    "Cutter_AutoLayout"};
constexpr const char* kRadios[3] = {"Cutter_1x1", "Cutter_1x2", "Cutter_1x4"};
// Each slider has an edit line of the same name.
constexpr const char* kValues[5] = {"Cutter_Smoothness", "Cutter_Rows", "Cutter_Columns", "Cutter_KnifeTh",
                                    "Cutter_TipsSize"};
constexpr const char* kChecks[3] = {"Cutter_AntiAliasing", "Cutter_RazorCut", "Cutter_LinkRC"};

// "Command-Shift-I" and the like, as the pop-up shows it.
CQNF_PlatformPopupMenu::MENUSHORTCUT ParseShortcut(const char* text)
{
    const std::string s(text);
    const size_t dash = s.rfind('-');
    const std::string key = dash == std::string::npos ? s : s.substr(dash + 1);
    return CQNF_PlatformPopupMenu::CreateShortcut(s.find("Command") != std::string::npos,
                                                  s.find("Option") != std::string::npos,
                                                  s.find("Shift") != std::string::npos, key.c_str());
}

}  // namespace

CWnd_Cutter::CWnd_Cutter() = default;

CWnd_Cutter::~CWnd_Cutter()
{
    // The layers belong to the editor part, which goes after the window
    // part: take them out of the layer set first.
    if (GetWindowHandle())
        CQNF_Window::Close();
}

qntFIRSTPLACE qnFirstPlacement(const qntRECT_s& screen, const qntRECT_s& main, int32_t editorW, int32_t editorH,
                               bool mainStored)
{
    constexpr int32_t kGap = 8;
    const int32_t mainW = main.right - main.left;
    qntFIRSTPLACE out{qntPOS{main.left - editorW - kGap, main.top}, qntPOS{main.left, main.top}};
    if (screen.right - screen.left > 0 && out.editor.x < screen.left) {
        if (main.right + kGap + editorW <= screen.right) {
            out.editor.x = main.right + kGap;
        } else if (!mainStored && editorW + kGap + mainW <= screen.right - screen.left) {
            out.editor.x = screen.left + (screen.right - screen.left - (editorW + kGap + mainW)) / 2;
            out.main.x = out.editor.x + editorW + kGap;
        } else {
            // No room for both: the left edge hides the least of the main
            // window's buttons.
            out.editor.x = screen.left;
        }
    }
    if (screen.bottom - screen.top > 0)
        out.editor.y = std::max(screen.top, std::min(out.editor.y, screen.bottom - editorH));
    out.editor.x = std::max<int32_t>(out.editor.x, 0);
    out.editor.y = std::max<int32_t>(out.editor.y, 0);
    return out;
}

qntPOS CWnd_Cutter::FirstPlace(const std::vector<plat::Rect>& screens, unsigned short width, unsigned short height)
{
    CQNF_Window* main = GetParent();
    if (!main)
        return CQNF_Window::FirstPlace(screens, width, height);
    const qntRECT_s screen = screens.empty() ? qnNullRect
                                             : qntRECT_s{screens.front().left, screens.front().top,
                                                         screens.front().right, screens.front().bottom};
    m_firstPlace = qnFirstPlacement(screen, main->GetWindowRect(), width, height, m_mainStored);
    return m_firstPlace->editor;
}

bool CWnd_Cutter::CreateWindow(CQNF_Window* parent, qntPOS at, bool mainStored)
{
    // Without a stored place FirstPlace makes the window where it belongs: the
    // platform may show it as soon as it exists, and one first shown in the
    // middle of the screen would jump.
    m_mainStored = mainStored;
    m_firstPlace.reset();
    if (!CreateFromResource(CQNF_String(kWindowName), short(at.x), short(at.y), parent, 0) || !IsCreated())
        return false;
    if (m_firstPlace) {
        const qntRECT_s mainRect = parent->GetWindowRect();
        if (m_firstPlace->main.x != mainRect.left || m_firstPlace->main.y != mainRect.top)
            parent->MoveWindow(short(m_firstPlace->main.x), short(m_firstPlace->main.y));
    }
    Show();
    // The whole window once: until now only the controls drew themselves.
    const qntRECT_s all{0, 0, GetWidth(), GetHeight()};
    RenderRect(all);
    UpdateRect(all);
    return true;
}

void CWnd_Cutter::settings_SaveWindowPosition()
{
    if (!m_pPlugin || !GetWindowHandle())
        return;
    const qntRECT_s r = GetWindowRect();
    m_pPlugin->PutWindowPosToConf(kWindowName, "Main", qntPOS{r.left, r.top});
}

bool CWnd_Cutter::i_AddControl(const char* name, uint8_t type, unsigned long* id)
{
    const unsigned long i = AddControl(CQNF_String(name), type);
    if (id)
        *id = i;
    return i != None;
}

CQNF_Control* CWnd_Cutter::FindControl(const char* name, uint8_t type) const
{
    const unsigned long id = FindControlByName(name, type);
    return id == None ? nullptr : GetControl(id);
}

bool CWnd_Cutter::i_AddControls()
{
    using namespace qnctl;
    for (const char* b : kButtons)
        if (!i_AddControl(b, Button))
            return false;
    for (const char* b : {"Cutter_Help", "Cutter_Save", "Cutter_Clone"})
        static_cast<CQNF_CtrlButton*>(FindControl(b, Button))->SetMenuMode(1);
    for (const char* r : kRadios)
        if (!i_AddControl(r, RadioButton))
            return false;
    FindControl("Cutter_1x1", RadioButton)->SetCheck(1, 0);
    for (const char* s : kValues)
        if (!i_AddControl(s, Slider))
            return false;
    FindControl("Cutter_Smoothness", Slider)->SetDisabledOpacity(1);
    FindControl("Cutter_KnifeTh", Slider)->SetDisabledOpacity(1);
    FindControl("Cutter_Smoothness", Slider)->Enable(0);
    unsigned long id = None;
    if (!i_AddControl("Cutter_Status", StaticText, &id))
        return false;
    m_pStatus = static_cast<CQNF_CtrlStaticText*>(GetControl(id));
    m_pStatus->SetFont(GetFont(m_InfoFont));
    m_pStatus->SetText("", 1, 0, 11);
    if (!i_AddControl("Cutter_CloneDisp", StaticText, &id))
        return false;
    m_pCloneDisp = static_cast<CQNF_CtrlStaticText*>(GetControl(id));
    m_pCloneDisp->SetFont(GetFont(m_InfoFont));
    m_pCloneDisp->SetOwnTip(1);
    m_pCloneDisp->SetText("", 3, 0, 12);
    for (int i = 0; i < 5; ++i) {
        if (!i_AddControl(kValues[i], EditLine, &id))
            return false;
        m_pEdits[i] = static_cast<CQNF_CtrlEditLine*>(GetControl(id));
        m_pEdits[i]->SetFont(GetFont(m_EditFont));
        m_pEdits[i]->SetOptions(1, 0, 0, 0, -1, 0);
        m_pEdits[i]->SetColors(kPluginEditColours);
    }
    m_pEdits[0]->Enable(0);
    for (const char* c : kChecks)
        if (!i_AddControl(c, CheckBox))
            return false;
    if (!i_AddControl("Cutter_CuttingCover", StaticImage) || !i_AddControl("Cutter_CuttingAbort", Button) ||
        !i_AddControl("Cutter_CuttingProgress", Progress, &id))
        return false;
    for (const char* c : {"Cutter_CuttingCover", "Cutter_CuttingAbort"}) {
        CQNF_Control* k = FindControl(c, std::strcmp(c, "Cutter_CuttingAbort") ? StaticImage : Button);
        k->SetDisabledOpacity(0);
        k->Enable(0);
    }
    m_pProgress = static_cast<CQNF_CtrlProgress*>(GetControl(id));
    m_pProgress->SetMinMax(0, 100);
    m_pProgress->Visible(0);
    return true;
}

unsigned char CWnd_Cutter::OnCreate(CQNF_LayerSet*, unsigned short, unsigned short)
{
    // 1. The preview's layers, below every control (the Cut's cover lies
    // over them). The editor makes them, draws the shape and takes the
    // layout at opening; its control states are pushed once the controls
    // exist.
    qntRECT_s preview;
    if (!GetResourceRect("Cutter_Preview", preview))
        return 0;
    CTessolo* engine = m_pEngine;
    if (!CWnd_CutterEditor::OnCreate(preview, engine ? engine->m_nPieces : 0))
        return 0;
    m_idCurveLayer = uint32_t(LSAddLayer(&CurveLayer()));
    m_idExtrasLayer = uint32_t(LSAddLayer(&ExtrasLayer()));
    if (m_idCurveLayer == None || m_idExtrasLayer == None)
        return 0;
    // 3. Fonts and controls.
    m_SmallFont = uint32_t(AddFont(CQNF_String("Small Font")));
    m_InfoFont = uint32_t(AddFont(CQNF_String("Info Font")));
    m_EditFont = uint32_t(AddFont(CQNF_String("Edit Font")));
    if (m_SmallFont == None || m_InfoFont == None || m_EditFont == None || !i_AddControls())
        return 0;
    m_bControlsReady = 1;
    // The state the editor set while the controls did not exist yet.
    m_Shown = CONTROLS{};
    m_Shown.smoothnessSlider = 0xFFFFFFFFu;  // differs from anything: pushed once
    m_Shown.rowsSlider = m_Shown.columnsSlider = m_Shown.thicknessSlider = m_Shown.knobSlider = 0xFFFFFFFFu;
    // assign(1, '?'): assigning the literal trips a false -Wrestrict of
    // g++ 12's optimiser.
    for (std::string* shown : {&m_Shown.rowsEdit, &m_Shown.columnsEdit, &m_Shown.thicknessEdit, &m_Shown.knobEdit,
                               &m_Shown.smoothnessEdit, &m_Shown.cloneDisplay})
        shown->assign(1, '?');
    view_ControlsChanged();
    // 4. Timer 1: the status fade and the cursor.
    SetTimer(30, 1);
    m_StatusShown = Status().Pending();
    m_pStatus->SetText(m_StatusShown.c_str(), 0, 0, 12);
    return 1;
}

// ---- Controls ------------------------------------------------------------------------

void CWnd_Cutter::i_SetEnabled(const char* name, uint8_t type, uint8_t enabled)
{
    if (CQNF_Control* c = FindControl(name, type); c && c->IsEnabled() != enabled)
        c->Enable(enabled);
}

void CWnd_Cutter::i_SetEdit(CQNF_CtrlEditLine* edit, const std::string& text, std::string& shown)
{
    if (!edit || text == shown)
        return;
    shown = text;
    if (edit->GetText().GetStr() != text)
        edit->SetText(text.c_str(), 0);
}

void CWnd_Cutter::i_SetSlider(const char* name, uint32_t value, uint32_t& shown)
{
    if (value == shown)
        return;
    shown = value;
    if (auto* s = static_cast<CQNF_CtrlSlider*>(FindControl(name, qnctl::Slider)); s && s->GetValue() != value)
        s->SetValue(value, 0);
}

void CWnd_Cutter::view_ControlsChanged()
{
    if (!m_bControlsReady || !GetWindowHandle())
        return;
    using namespace qnctl;
    const CONTROLS& c = m_Ctl;
    // The Cut first: filtering decides what the rest may show.
    if (c.cutting != m_bCuttingShown)
        i_SetCutting(c.cutting);
    // The ways out of the editor change as the Cut starts and ends: they are
    // drawn as they answer; the rest keeps its state under the cover.
    i_SetEnabled("Cutter_Cancel", Button, c.cancel);
    i_SetEnabled("Cutter_CloseX", Button, c.closeX);
    if (c.cutting) {
        if (c.progress != m_Shown.progress) {
            m_Shown.progress = c.progress;
            m_pProgress->SetValue(c.progress);
        }
        return;
    }
    i_SetEnabled("Cutter_Undo", Button, c.undo);
    i_SetEnabled("Cutter_Redo", Button, c.redo);
    i_SetEnabled("Cutter_ReClone", Button, c.reClone);
    i_SetEnabled("Cutter_Smoothness", Slider, c.smoothnessEnabled);
    i_SetEnabled("Cutter_Smoothness", EditLine, c.smoothnessEnabled);
    i_SetEnabled("Cutter_KnifeTh", Slider, c.thicknessEnabled);
    i_SetEnabled("Cutter_KnifeTh", EditLine, c.thicknessEnabled);
    i_SetSlider("Cutter_Smoothness", c.smoothnessSlider, m_Shown.smoothnessSlider);
    i_SetSlider("Cutter_Rows", c.rowsSlider, m_Shown.rowsSlider);
    i_SetSlider("Cutter_Columns", c.columnsSlider, m_Shown.columnsSlider);
    i_SetSlider("Cutter_KnifeTh", c.thicknessSlider, m_Shown.thicknessSlider);
    i_SetSlider("Cutter_TipsSize", c.knobSlider, m_Shown.knobSlider);
    i_SetEdit(m_pEdits[0], c.smoothnessEdit, m_Shown.smoothnessEdit);
    i_SetEdit(m_pEdits[1], c.rowsEdit, m_Shown.rowsEdit);
    i_SetEdit(m_pEdits[2], c.columnsEdit, m_Shown.columnsEdit);
    i_SetEdit(m_pEdits[3], c.thicknessEdit, m_Shown.thicknessEdit);
    i_SetEdit(m_pEdits[4], c.knobEdit, m_Shown.knobEdit);
    const uint8_t checks[3] = {c.antiAliasing, c.razorCut, c.linkRC};
    for (int i = 0; i < 3; ++i)
        if (CQNF_Control* k = FindControl(kChecks[i], CheckBox); k && k->GetCheck() != checks[i])
            k->SetCheck(checks[i], 0);
    if (c.zoomRadio < 3)
        if (CQNF_Control* r = FindControl(kRadios[c.zoomRadio], RadioButton); r && !r->GetCheck())
            r->SetCheck(1, 0);
    if (c.cloneDisplay != m_Shown.cloneDisplay) {
        m_Shown.cloneDisplay = c.cloneDisplay;
        m_pCloneDisp->SetText(c.cloneDisplay.c_str());
    }
}

void CWnd_Cutter::i_SetCutting(uint8_t cutting)
{
    m_bCuttingShown = cutting;
    CQNF_Control* cover = FindControl("Cutter_CuttingCover", qnctl::StaticImage);
    CQNF_Control* abort = FindControl("Cutter_CuttingAbort", qnctl::Button);
    const unsigned long n = GetControlCount();
    if (cutting) {
        // Only the abort button takes input while the pieces are made.
        m_FilteredBefore.assign(n, 0);
        for (unsigned long i = 0; i < n; ++i) {
            CQNF_Control* k = GetControl(i);
            if (!k || k == abort)
                continue;
            m_FilteredBefore[i] = k->IsCtrlFiltered();
            FilterControl(1, i);
        }
        m_Shown.progress = 0;
        m_pProgress->SetValue(0);
        m_pProgress->Visible(1);
        cover->Enable(1);
        abort->Enable(1);
    } else {
        for (unsigned long i = 0; i < n && i < m_FilteredBefore.size(); ++i)
            if (CQNF_Control* k = GetControl(i); k && k != abort)
                FilterControl(m_FilteredBefore[i], i);
        m_FilteredBefore.clear();
        m_pProgress->Visible(0);
        cover->Enable(0);
        abort->Enable(0);
    }
    const qntRECT_s all{0, 0, GetWidth(), GetHeight()};
    RenderRect(all);
    UpdateRect(all);
}

void CWnd_Cutter::view_UpdatePreview()
{
    ExtrasLayer().SetVisible(m_bExtrasVisible);
    if (!GetWindowHandle() || m_idCurveLayer == None)
        return;
    RenderRect(m_rcPreview);
    UpdateRect(m_rcPreview);
}

uint8_t CWnd_Cutter::view_GetKeysStatus() const
{
    return GetWindowHandle() ? uint8_t(GetKeysStatus() & 0x1F) : m_nKeys;
}

std::string CWnd_Cutter::view_GetStatusTip(const char* name, uint8_t enabled, uint8_t type)
{
    const char* tip = qnGetStatusTip(name ? name : "", kWindowName, enabled, type);
    return tip ? tip : "";
}

// ---- Status line ----------------------------------------------------------------------------

void CWnd_Cutter::i_ShowStatus()
{
    if (!m_pStatus)
        return;
    if (Status().Shown() != m_StatusShown) {
        m_StatusShown = Status().Shown();
        m_pStatus->SetText(m_StatusShown.c_str(), 0, 0, 12);
    }
    if (Status().Opacity() != m_StatusOpacity) {
        m_StatusOpacity = Status().Opacity();
        m_pStatus->SetOpacity(m_StatusOpacity);
    }
}

unsigned char CWnd_Cutter::OnTimer(unsigned short id)
{
    if (id != 1)
        return 1;
    if (CWnd_CutterEditor::OnTimer(id))
        i_ShowStatus();
    if (IsCursorTick() && GetWindowHandle() && !IsClosed()) {
        const qntRECT_s r = GetWindowRect();
        const qntPOS m = GetMousePos();
        if (WindowFromPoint(qntPOS{m.x + r.left, m.y + r.top}) == GetWindowHandle())
            OnSetCursor(short(m.x), short(m.y));
    }
    return 1;
}

unsigned char CWnd_Cutter::OnSetCursor(short x, short y)
{
    const uint16_t id = CursorAt(x, y);
    if (id == CUR_BASE)
        return CQNF_Window::OnSetCursor(x, y);
    SetCursorByID(id);
    return 1;
}

unsigned char CWnd_Cutter::OnAboveControl(unsigned long index)
{
    CQNF_Control* c = index == None ? nullptr : GetControl(index);
    if (c)
        CWnd_CutterEditor::OnAboveControl(c->GetName(), c->IsEnabled(), c->GetType());
    else
        CWnd_CutterEditor::OnAboveControl(nullptr, 1, kTipNoControl);
    return 1;
}

// ---- Input ----------------------------------------------------------------------------------

unsigned char CWnd_Cutter::OnMouseMove(short x, short y, unsigned char mods)
{
    return CWnd_CutterEditor::OnMouseMove(x, y, mods) ? 1 : 0;
}

unsigned char CWnd_Cutter::OnLMouseDown(short x, short y, unsigned char mods)
{
    return CWnd_CutterEditor::OnLMouseDown(x, y, mods) ? 1 : 0;
}

unsigned char CWnd_Cutter::OnLMouseUp(short x, short y, unsigned char mods)
{
    return CWnd_CutterEditor::OnLMouseUp(x, y, mods) ? 1 : 0;
}

unsigned char CWnd_Cutter::OnContextMenu(short x, short y, unsigned char)
{
    return CWnd_CutterEditor::OnContextMenu(x, y) ? 1 : 0;
}

unsigned char CWnd_Cutter::OnKeyDown(unsigned char key, unsigned char mods)
{
    return CWnd_CutterEditor::OnKeyDown(key, mods) ? 1 : 0;
}

unsigned char CWnd_Cutter::OnCtrlMessage(unsigned short msg, unsigned long id, char* name, unsigned char type,
                                         void* data)
{
    // Nothing is handled before the window is complete (the sliders tell
    // their first value while they are being added).
    if (!m_bControlsReady)
        return 0;
    // An edit line sends its text object; the editor takes the characters.
    const void* payload = data;
    if (type == qnctl::EditLine && data)
        payload = static_cast<CQNF_String*>(data)->GetStr();
    return CWnd_CutterEditor::OnCtrlMessage(msg, uint32_t(id), name, type, payload) ? 1 : 0;
}

void CWnd_Cutter::OnCtrlLostFocus(unsigned long index)
{
    CQNF_Window::OnCtrlLostFocus(index);
    CQNF_Control* c = GetControl(index);
    if (!c || c->GetType() != qnctl::EditLine)
        return;
    const CQNF_String text = static_cast<CQNF_CtrlEditLine*>(c)->GetText();
    // What was typed gives way to the value taken, also when that is the
    // value the line showed before the typing ("101" typed over "100").
    std::string* shown[5] = {&m_Shown.smoothnessEdit, &m_Shown.rowsEdit, &m_Shown.columnsEdit,
                             &m_Shown.thicknessEdit, &m_Shown.knobEdit};
    for (int i = 0; i < 5; ++i)
        if (m_pEdits[i] == c)
            shown[i]->assign(1, '?');
    CWnd_CutterEditor::OnCtrlLostFocus(c->GetName(), text.GetStr());
    view_ControlsChanged();
}

// ---- Pop-ups ----------------------------------------------------------------------------------

void CWnd_Cutter::i_Popup(const std::vector<MENUITEM>& items, qntPOS at)
{
    CQNF_PlatformPopupMenu menu;
    if (!menu.Create())
        return;
    for (const MENUITEM& it : items) {
        if (it.id == 0 && it.text == "-") {
            menu.AddSeparator();
        } else if (it.shortcut) {
            const CQNF_PlatformPopupMenu::MENUSHORTCUT sc = ParseShortcut(it.shortcut);
            menu.AddItem(it.text.c_str(), it.id, it.checked, !it.enabled, &sc);
        } else {
            menu.AddItem(it.text.c_str(), it.id, it.checked, !it.enabled);
        }
    }
    menu.DoPopup(this, short(at.x), short(at.y));
}

void CWnd_Cutter::DoCloneMenu() { i_Popup(CloneMenu(), kClonePopupAt); }
void CWnd_Cutter::DoSaveMenu() { i_Popup(SaveMenu(), kSavePopupAt); }
void CWnd_Cutter::DoShaperMenu(qntPOS at) { i_Popup(ShapeMenu(), ShapeMenuPoint(at)); }

void CWnd_Cutter::DoHelpMenu()
{
    auto* app = dynamic_cast<CApp*>(m_App);
    if (!app)
        return;
    CQNF_PlatformPopupMenu menu;
    if (!menu.Create())
        return;
    app->FillHelpMenu(&menu, 0);
    menu.DoPopup(this, short(kHelpPopupAt.x), short(kHelpPopupAt.y));
}

bool CWnd_Cutter::view_HelpMenuDispatcher(uint16_t id)
{
    auto* app = dynamic_cast<CApp*>(m_App);
    return app && app->HelpMenuDispatcher(id, this);
}

// ---- The Cut's events, closing ---------------------------------------------------------------

void CWnd_Cutter::view_Beep() { CQNF_App::SystemBeep(); }

void CWnd_Cutter::view_PumpOwnEvents()
{
    // The editor's input only (the abort button, Esc); input meant for
    // any other window is dropped, so that nothing else starts while the
    // pieces are being made. Repaints and timers of every window go on.
    if (!GetWindowHandle())
        return;
    qnui::Toolkit& tk = qnui::Toolkit::Get();
    tk.Poll();
    tk.FireDueTimers();
    plat::Event e;
    while (tk.Take(plat::kMouseKinds | plat::kKeyKinds | plat::kWindowKinds, e)) {
        const bool input = (plat::Bit(e.kind) & (plat::kMouseKinds | plat::kKeyKinds)) != 0;
        if (!input || e.win == GetWindowHandle())
            tk.Dispatch(e);
        tk.FireDueTimers();
    }
}

void CWnd_Cutter::view_Close()
{
    settings_SaveWindowPosition();
    KillTimer(1);
    CQNF_Window::Close();
}

void CWnd_Cutter::Close()
{
    // The main window going away takes its editor with it, with no Reset
    // and no hand-over back.
    CQNF_Window* parent = GetParent();
    if (IsClosed() || !IsCreated() || (parent && (parent->IsClosing() || !parent->GetWindowHandle()))) {
        if (GetWindowHandle()) {
            KillTimer(1);
            CQNF_Window::Close();
        }
        return;
    }
    CWnd_CutterEditor::Close();
}
