// The knife editor without its window: status fade, undo, creation, control
// messages, menus, keys, closing and Reset. Cloning, the layout parameters
// and what the main window asks of the editor are in CutterEditorLink.cpp;
// the preview's geometry and drawing in CutterShape.cpp, its mouse gestures
// in CutterMouse.cpp, the node commands in CutterNodes.cpp, the Cut in
// CutterCut.cpp.
#include "cutter/CutterEditor.h"

#include "cutter/CutterEditorHelpers.h"
#include "cutter/DialogModels.h"
#include "engine/Tessolo.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

using namespace cutteredit;

// ---- Status fade ------------------------------------------------------------------

bool CCutterStatusFader::Tick()
{
    const CStatusFader::State was = m_Fade.GetState();
    if (was == CStatusFader::Idle)
        return false;
    bool show = false;
    m_Opacity = m_Fade.Tick(m_Opacity, show);
    if (m_Fade.GetState() == CStatusFader::FadingOut && m_Opacity == 0)
        m_Opacity = m_Fade.Tick(m_Opacity, show);
    if (show)
        m_Shown = m_Fade.Pending();
    return was == CStatusFader::FadingOut || m_Fade.GetState() == CStatusFader::FadingIn;
}

// ---- Undo -----------------------------------------------------------------------------

bool CKnifeShapeUndo::Equal(const SPLINE& a, const SPLINE& b)
{
    if (a.nodeCount != b.nodeCount)
        return false;
    for (uint32_t i = 0; i < a.nodeCount && i < CWnd_CutterModel::kMaxNodes; ++i)
        if (!(a.pos[i].H == b.pos[i].H) || !(a.pos[i].U == b.pos[i].U) || !(a.S[i] == b.S[i]) ||
            a.selected[i] != b.selected[i])
            return false;
    return true;
}

void CKnifeShapeUndo::Init(const SPLINE& shape)
{
    m_nCurrent = m_nTop = 0;
    if (m_Snapshots.empty()) {
        auto* s = new (std::nothrow) SPLINE(shape);
        if (!s)
            return;
        m_Snapshots.emplace_back(s);
    }
    *m_Snapshots[0] = shape;
}

const CKnifeShapeUndo::SPLINE* CKnifeShapeUndo::Current() const
{
    return m_nCurrent < m_Snapshots.size() ? m_Snapshots[m_nCurrent].get() : nullptr;
}

bool CKnifeShapeUndo::OnNewOperation(const SPLINE& shape, bool check)
{
    if (check) {
        const SPLINE* cur = Current();
        if (!cur || Equal(*cur, shape))
            return false;
    }
    if (m_nCurrent >= kDepth && m_Snapshots.size() > kDepth) {
        // Full: the oldest step is dropped and its snapshot becomes the
        // newest, so a full history never needs memory.
        std::unique_ptr<SPLINE> oldest = std::move(m_Snapshots.front());
        m_Snapshots.erase(m_Snapshots.begin());
        *oldest = shape;
        m_Snapshots.insert(m_Snapshots.begin() + kDepth, std::move(oldest));
        m_nCurrent = kDepth;
    } else {
        const uint32_t next = m_nCurrent + 1;
        if (next < m_Snapshots.size()) {
            *m_Snapshots[next] = shape;
        } else {
            // Allocated before the indices move: a failed allocation leaves
            // the history as it was.
            auto* s = new (std::nothrow) SPLINE(shape);
            if (!s)
                return false;
            m_Snapshots.emplace_back(s);
        }
        m_nCurrent = next;
    }
    m_nTop = m_nCurrent;
    return true;
}

const CKnifeShapeUndo::SPLINE* CKnifeShapeUndo::Undo()
{
    if (m_nCurrent == 0)
        return nullptr;
    --m_nCurrent;
    return Current();
}

const CKnifeShapeUndo::SPLINE* CKnifeShapeUndo::Redo()
{
    if (m_nCurrent >= m_nTop)
        return nullptr;
    ++m_nCurrent;
    return Current();
}

// ---- Clone modes ----------------------------------------------------------------------

const CWnd_CutterEditor::CLONEMODE CWnd_CutterEditor::kCloneModes[7] = {
    {"No Cloning", "No Cloning", 0.0f, 0.0f, 0.0f, 0},
    {"Clone Without Mutation", "Cloning WITHOUT mutation", 0.0f, 0.0f, 0.0f, 1},
    {"Clone With Low Mutation", "Cloning with LOW mutation", 0.2f, 0.1f, 0.1f, 1},
    {"Clone With Medium Mutation", "Cloning with MEDIUM mutation", 0.4f, 0.2f, 0.2f, 1},
    {"Clone With High Mutation", "Cloning with HIGH mutation", 0.6f, 0.35f, 0.35f, 1},
    {"Clone With Extreme Mutation", "Cloning with EXTREME mutation", 0.8f, 0.5f, 0.5f, 1},
    {"Clone With Custom Mutation...", "Cloning with CUSTOM mutation", 0.0f, 0.0f, 0.0f, 0},
};

// ---- Construction and creation ----------------------------------------------------------

CWnd_CutterEditor::CWnd_CutterEditor() { m_Ctl.cloneDisplay = kCloneModes[1].display; }

CWnd_CutterEditor::~CWnd_CutterEditor() = default;

namespace {

bool CopyRecords(CQNF_Mem& mem, uint32_t& count, const uint8_t* bytes, uint32_t n)
{
    count = 0;
    if (!bytes || n == 0)
        return true;
    if (!mem.alloc(uint64_t(n) * CTessolo::kSettingsRecordSize))
        return false;
    std::memcpy(mem.GetPtr(), bytes, size_t(n) * CTessolo::kSettingsRecordSize);
    count = n;
    return true;
}

bool Is(const char* name, const char* what) { return name && std::strcmp(name, what) == 0; }

uint32_t U32(const void* data) { return data ? *static_cast<const uint32_t*>(data) : 0; }

}  // namespace

bool CWnd_CutterEditor::SetOpeningRecords(const uint8_t* bytes, uint32_t count)
{
    return CopyRecords(m_OpeningRecords, m_nOpeningRecords, bytes, count);
}

bool CWnd_CutterEditor::SetDocumentRecords(const uint8_t* bytes, uint32_t count)
{
    return CopyRecords(m_DocumentRecords, m_nDocumentRecords, bytes, count);
}

bool CWnd_CutterEditor::OnCreate(qntRECT_s preview, uint32_t enginePieces)
{
    const int32_t w = preview.right - preview.left, h = preview.bottom - preview.top;
    if (w <= 0 || h <= 0 || w > 65535 || h > 65535)
        return false;
    m_rcPreview = preview;
    if (!m_CurveLayer.Create(preview, qnimg::ModeRGBA) || !m_ExtrasLayer.Create(preview, qnimg::ModeRGBA))
        return false;
    // The curve is drawn into the alpha plane only, over a fixed colour.
    m_CurveLayer.Set(qntRGBA8{255, 145, 25, 0}, 15);
    m_ExtrasLayer.Set(qntRGBA8{0, 0, 0, 0}, 15);
    DoRedrawSpline();

    SetInitialStatesToControls();
    settings_LoadLastKnife(m_pConf);
    DoRedrawSpline();
    UndoInit();
    m_bCreated = 1;
    OnChangeNodeSelection();

    if (enginePieces == 0) {
        m_bCancelAllowed = 0;
        m_Ctl.cancel = m_Ctl.closeX = 0;
    }
    m_bCancelAtOpening = m_bCancelAllowed;
    m_nOpeningLayout = 0;
    if (m_pMain && !m_pMain->settings_SaveCurLayoutAndCellSettingsToMem(&m_OpeningLayout, m_nOpeningLayout))
        m_nOpeningLayout = 0;
    settings_LoadCutterOptions(m_pConf);
    m_Ctl.linkRC = m_bLinkRC;
    OnAboveControl(nullptr, 1, 128);
    view_ControlsChanged();
    return true;
}

// ---- Control messages -------------------------------------------------------------------

bool CWnd_CutterEditor::OnCtrlMessage(uint16_t message, uint32_t id, const char* name, uint8_t type, const void* data)
{
    if (!m_bCreated)
        return false;
    if (m_bCutting) {
        if (type == CT_BUTTON && Is(name, "Cutter_CuttingAbort")) {
            m_bAbortRequested = 1;
            return true;
        }
        return false;
    }
    if (message == MSG_POPUP && type == CT_MENU) {
        const uint16_t item = data ? *static_cast<const uint16_t*>(data) : 0;
        return view_HelpMenuDispatcher(item) || OnCommand(item);
    }
    if (message == MSG_SHORTCUT) {
        switch (id) {
        case 1:
        case 8:
            DoHideExtras();
            return true;
        case 2:
            opSelectAllNodes();
            return true;
        case 5:
        case 9:
            DoHideNodes();
            return true;
        case 10:
            opInvertSelection();
            return true;
        case 11:
            opUnSelectAllNodes();
            return true;
        case 36:
            DoShaperMenu(ShapeMenuPoint(kShapeMenuAtPreview));
            return true;
        default:
            return m_pMain && m_pMain->OnForwardedShortcut(uint16_t(id));
        }
    }
    if (type == CT_BUTTON) {
        if (Is(name, "Cutter_Cancel") || Is(name, "Cutter_CloseX")) {
            m_bClosingAfterCut = 0;
            Close();
        } else if (Is(name, "Cutter_Help")) {
            DoHelpMenu();
        } else if (Is(name, "Cutter_Cut")) {
            if (DoCutting()) {
                m_bClosingAfterCut = 1;
                settings_SaveLastKnife(m_pConf);
                settings_SaveCutterOptions(m_pConf);
                Close();
            }
        } else if (Is(name, "Cutter_FlipH")) {
            opFlipH();
        } else if (Is(name, "Cutter_FlipU")) {
            opFlipU();
        } else if (Is(name, "Cutter_Redo")) {
            opRedo();
        } else if (Is(name, "Cutter_Undo")) {
            opUndo();
        } else if (Is(name, "Cutter_Load")) {
            opLoadShape();
        } else if (Is(name, "Cutter_Save")) {
            DoSaveMenu();
        } else if (Is(name, "Cutter_Presets")) {
            DoPresMngWindow();
        } else if (Is(name, "Cutter_AddToPM")) {
            DoAddShapeToPresets();
        } else if (Is(name, "Cutter_ReClone")) {
            opReclone();
        } else if (Is(name, "Cutter_Clone")) {
            DoCloneMenu();
        } else if (Is(name, "Cutter_AutoLayout")) {
            DoAutoLayoutWindow();
        } else if (Is(name, "Cutter_Reset")) {
            OnBtnReset();
        } else {
            return false;
        }
        return true;
    }
    if (type == CT_SLIDER) {
        const uint32_t v = U32(data);
        const bool final = message == MSG_SLIDER_FINAL;
        if (Is(name, "Cutter_Smoothness")) {
            if (!m_bSmoothnessLive)
                return true;
            const uint32_t s = std::min<uint32_t>(v, 100);
            m_Ctl.smoothnessSlider = s;
            m_Ctl.smoothnessEdit = Number(s);
            opSetSmoothness(s / 100.0, final ? 1 : 0);
        } else if (Is(name, "Cutter_Rows")) {
            i_OnGridSlider(true, v, final);
        } else if (Is(name, "Cutter_Columns")) {
            i_OnGridSlider(false, v, final);
        } else if (Is(name, "Cutter_KnifeTh")) {
            i_OnThickness(v, final);
        } else if (Is(name, "Cutter_TipsSize")) {
            i_OnKnob(v, final);
        } else {
            return false;
        }
        view_ControlsChanged();
        return true;
    }
    if (type == CT_EDIT && message == MSG_EDIT) {
        const char* text = static_cast<const char*>(data);
        const int32_t n = qnEditInteger(text);
        if (Is(name, "Cutter_Smoothness")) {
            if (!m_bSmoothnessLive)
                return true;
            m_Ctl.smoothnessSlider = uint32_t(std::clamp<int32_t>(n, 0, 100));
            opSetSmoothness(m_Ctl.smoothnessSlider / 100.0, 0);
        } else if (Is(name, "Cutter_Rows")) {
            m_Ctl.rowsSlider = GridCells(n);
        } else if (Is(name, "Cutter_Columns")) {
            m_Ctl.columnsSlider = GridCells(n);
        } else if (Is(name, "Cutter_KnifeTh")) {
            m_nThickness = uint16_t(std::clamp<int32_t>(n, 1, 100));
            m_Ctl.thicknessSlider = m_nThickness;
        } else if (Is(name, "Cutter_TipsSize")) {
            m_nKnobSize = uint16_t(KnobSize(n));
            m_Ctl.knobSlider = m_nKnobSize;
        } else {
            return false;
        }
        view_ControlsChanged();
        return true;
    }
    if (type == CT_CHECK) {
        const uint8_t on = data && *static_cast<const uint8_t*>(data) ? 1 : 0;
        if (Is(name, "Cutter_AntiAliasing")) {
            m_bAntiAlias = on;
            m_Ctl.antiAliasing = on;
            if (m_pMain)
                m_pMain->OnCutterUpdateAntiAliasing(on);
        } else if (Is(name, "Cutter_RazorCut")) {
            i_OnRazor(on);
        } else if (Is(name, "Cutter_LinkRC")) {
            m_bLinkRC = on;
            m_Ctl.linkRC = on;
        } else {
            return false;
        }
        view_ControlsChanged();
        return true;
    }
    if (type == CT_RADIO) {
        uint8_t zoom;
        if (Is(name, "Cutter_1x1"))
            zoom = 0;
        else if (Is(name, "Cutter_1x2"))
            zoom = 1;
        else if (Is(name, "Cutter_1x4"))
            zoom = 2;
        else
            return false;
        m_nZoom = m_Ctl.zoomRadio = zoom;
        DoRedrawSpline();
        return true;
    }
    return false;
}

bool CWnd_CutterEditor::OnCtrlLostFocus(const char* name, const char* text)
{
    if (!m_bCreated || m_bCutting)
        return false;
    const int32_t n = qnEditInteger(text);
    if (Is(name, "Cutter_Smoothness")) {
        if (!m_bSmoothnessLive)
            return true;
        const uint32_t s = uint32_t(std::clamp<int32_t>(n, 0, 100));
        m_Ctl.smoothnessSlider = s;
        m_Ctl.smoothnessEdit = Number(s);
        opSetSmoothness(s / 100.0, 1);
    } else if (Is(name, "Cutter_Rows")) {
        const uint32_t r = GridCells(n);
        m_Ctl.rowsSlider = r;
        m_Ctl.rowsEdit = Number(r);
        if (m_pMain)
            m_pMain->OnCutterUpdateRowsCols(r, CCutterMainLink::kNotGiven);
    } else if (Is(name, "Cutter_Columns")) {
        const uint32_t c = GridCells(n);
        m_Ctl.columnsSlider = c;
        m_Ctl.columnsEdit = Number(c);
        if (m_pMain)
            m_pMain->OnCutterUpdateRowsCols(CCutterMainLink::kNotGiven, c);
    } else if (Is(name, "Cutter_KnifeTh")) {
        const uint32_t t = uint32_t(std::clamp<int32_t>(n, 1, 100));
        m_nThickness = uint16_t(t);
        m_Ctl.thicknessSlider = t;
        m_Ctl.thicknessEdit = Number(t);
        if (!m_bNotifiedByMain && m_pMain)
            m_pMain->OnCutterUpdateKnifeThickness(t, m_bRazorCut);
    } else if (Is(name, "Cutter_TipsSize")) {
        const uint32_t k = KnobSize(n);
        m_nKnobSize = uint16_t(k);
        m_Ctl.knobSlider = k;
        m_Ctl.knobEdit = Number(k);
        if (!m_bNotifiedByMain && m_pMain)
            m_pMain->OnCutterUpdateKnifeSize(k);
    } else {
        return false;
    }
    view_ControlsChanged();
    return true;
}

// ---- Menus and commands ------------------------------------------------------------

std::vector<CWnd_CutterEditor::MENUITEM> CWnd_CutterEditor::ShapeMenu() const
{
    const uint32_t n = std::min<uint32_t>(m_Shape.nodeCount, kMaxNodes);
    const uint32_t sel = i_SelectedCount();
    const uint8_t any = sel > 0;
    auto item = [](const char* t, uint16_t id, bool en, bool ch = false, const char* key = nullptr) {
        return MENUITEM{t, id, uint8_t(en ? 1 : 0), uint8_t(ch ? 1 : 0), key};
    };
    const MENUITEM sep{"-", 0, 0, 0, nullptr};
    return {item("Undo", ID_UNDO, m_Undo.CanUndo()),
            item("Redo", ID_REDO, m_Undo.CanRedo()),
            sep,
            item("Select All", ID_SELECT_ALL, sel < n, false, "Command-A"),
            item("Deselect", ID_DESELECT, any, false, "Command-D"),
            item("Inverse Selection", ID_INVERSE, true, false, "Command-Shift-I"),
            sep,
            item("Align Top", ID_ALIGN_FIRST + 0, any),
            item("Align Vertical Center", ID_ALIGN_FIRST + 1, any),
            item("Align Bottom", ID_ALIGN_FIRST + 2, any),
            item("Align Left", ID_ALIGN_FIRST + 3, any),
            item("Align Horizontal Center", ID_ALIGN_FIRST + 4, any),
            item("Align Right", ID_ALIGN_FIRST + 5, any),
            sep,
            item("Distribute Vertically", ID_DISTRIBUTE_V, sel >= 3),
            item("Distribute Horizontally", ID_DISTRIBUTE_H, sel >= 3),
            sep,
            item("Delete", ID_DELETE, any),
            sep,
            item("Show Extras", ID_EXTRAS, true, m_bExtrasVisible != 0, "Command-H"),
            item("Show Anchor Points", ID_ANCHORS, true, m_bAnchorsShown && m_bExtrasVisible, "Shift-H")};
}

std::vector<CWnd_CutterEditor::MENUITEM> CWnd_CutterEditor::CloneMenu() const
{
    std::vector<MENUITEM> out;
    const MENUITEM sep{"-", 0, 0, 0, nullptr};
    for (uint32_t m = 0; m < 7; ++m) {
        if (m == 6)
            out.push_back(sep);
        out.push_back(MENUITEM{kCloneModes[m].menu, uint16_t(ID_CLONE_FIRST + m), 1, uint8_t(m_nCloneMode == m),
                               nullptr});
        if (m == 0 || m == 1)
            out.push_back(sep);
    }
    return out;
}

std::vector<CWnd_CutterEditor::MENUITEM> CWnd_CutterEditor::SaveMenu() const
{
    return {MENUITEM{"Save as Quorvin Knife Shape 2.0...", ID_SAVE_SHAPE, 1, 0, nullptr}};
}

qntPOS CWnd_CutterEditor::ShapeMenuPoint(qntPOS at) const
{
    if (at.x == kShapeMenuAtPreview.x && at.y == kShapeMenuAtPreview.y)
        return qntPOS{m_rcPreview.left, m_rcPreview.top};
    return at;
}

bool CWnd_CutterEditor::OnCommand(uint16_t id)
{
    if (id >= ID_CLONE_FIRST && id < ID_CLONE_CUSTOM) {
        SetCloneMode(id - ID_CLONE_FIRST);
        return true;
    }
    if (id >= ID_ALIGN_FIRST && id < ID_ALIGN_FIRST + 6) {
        opAlign(uint8_t(id - ID_ALIGN_FIRST));
        return true;
    }
    switch (id) {
    case ID_CLONE_CUSTOM:
        SetCustomMutationsMode();
        return true;
    case ID_SAVE_SHAPE:
        opSaveShapeQNTH();
        return true;
    case ID_SELECT_ALL:
        opSelectAllNodes();
        return true;
    case ID_DESELECT:
        opUnSelectAllNodes();
        return true;
    case ID_INVERSE:
        opInvertSelection();
        return true;
    case ID_DELETE:
        opDelSelectedNodes();
        return true;
    case ID_EXTRAS:
        DoHideExtras();
        return true;
    case ID_ANCHORS:
        DoHideNodes();
        return true;
    case ID_DISTRIBUTE_V:
        opDistribute(0);
        return true;
    case ID_DISTRIBUTE_H:
        opDistribute(1);
        return true;
    case ID_UNDO:
        opUndo();
        return true;
    case ID_REDO:
        opRedo();
        return true;
    default:
        return false;
    }
}

// ---- Keys, timer, closing -------------------------------------------------------------

bool CWnd_CutterEditor::OnKeyDown(uint8_t key, uint8_t /*modifiers*/)
{
    if (!m_bCreated)
        return false;
    if (key == KEY_ESC) {
        DoEsc();
        return true;
    }
    if (key == KEY_FORWARD_DELETE && !m_bCutting) {
        opDelSelectedNodes();
        return true;
    }
    return false;
}

void CWnd_CutterEditor::DoEsc()
{
    if (m_bCutting) {
        m_bAbortRequested = 1;
        return;
    }
    if (m_bNodeDrag || m_bSelRect || m_bHandleDrag) {
        // The drag is undone: the shape returns to the current snapshot.
        m_bNodeDrag = m_bSelRect = m_bHandleDrag = 0;
        m_bRotate = 0;
        UndoRestore();
        return;
    }
    Close();
}

bool CWnd_CutterEditor::OnTimer(uint16_t timer)
{
    if (timer != 1)
        return false;
    m_bCursorTick = m_nTicks % 5 == 0;
    ++m_nTicks;
    return m_Status.Tick();
}

bool CWnd_CutterEditor::OnContextMenu(int16_t x, int16_t y)
{
    if (!m_bCreated || m_bCutting || x < m_rcPreview.left || x >= m_rcPreview.right || y < m_rcPreview.top ||
        y >= m_rcPreview.bottom)
        return false;
    DoShaperMenu(qntPOS{x, y});
    return true;
}

void CWnd_CutterEditor::OnAboveControl(const char* name, uint8_t enabled, uint8_t type)
{
    m_bAboveControl = name ? 1 : 0;
    if (Is(name, "Cutter_CuttingCover") || Is(name, "Cutter_CuttingAbort") || Is(name, "Cutter_CuttingProgress"))
        return;
    if (!name)
        UpdateStatus(view_GetStatusTip("", 1, 128));
    else
        UpdateStatus(view_GetStatusTip(name, enabled, type));
}

bool CWnd_CutterEditor::Close()
{
    if (m_bClosed)
        return true;
    if (!m_bClosingAfterCut) {
        if (!m_bCancelAllowed)
            return false;
        OnBtnReset();
    }
    m_bClosed = 1;
    view_Close();
    if (m_pMain)
        m_pMain->OnCutterClose();
    return true;
}

void CWnd_CutterEditor::OnBtnReset()
{
    if (m_nOpeningLayout == 0 || !m_pMain)
        return;
    m_pMain->uncm_SaveResetState();
    if (!m_pMain->settings_LoadCurLayoutAndCellSettingsFromMem(m_OpeningLayout.GetPtr(), m_nOpeningLayout))
        return;
    settings_LoadLastKnife(m_pConf);
    DoRedrawSpline();
    UndoInit();
    m_pMain->GetGridState(m_nRows, m_nColumns, m_bRazorCut, m_bAntiAlias);
    m_nCloneMode = 1;
    m_fMutS = m_fMutU = m_fMutH = 0.0f;
    SetInitialStatesToControls();
    m_nDocumentRecords = 0;
    m_DocumentRecords.free();
    OnChangeNodeSelection();
}
