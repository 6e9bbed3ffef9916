#include "cutter/Wnd_PresetsManager.h"

#include "core/ProgramOutput.h"
#include "cutter/Wnd_Dialogs.h"
#include "ui/App.h"
#include "ui/CtrlButton.h"
#include "ui/CtrlList.h"
#include "ui/CtrlScrollBar.h"
#include "ui/CtrlStatic.h"
#include "ui/PlatformFileDialog.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kWindow = "PresetsManager";
constexpr const char* kOwner = "Pres Mng";
// The shapes are drawn into the drawing layer's alpha; its colour is the ink:
// light on the skin's dark icon cells, dark on a selected icon's light fill.
constexpr qntRGBA8 kInk{214, 218, 224, 0};
constexpr qntRGBA8 kSelectedInk{70, 70, 70, 0};

bool Inside(const qntRECT_s& r, int32_t x, int32_t y)
{
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

qntRECT_s Union(const qntRECT_s& a, const qntRECT_s& b)
{
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
            std::max(a.bottom, b.bottom)};
}

qntRECT_s Offset(const qntRECT_s& r, const qntRECT_s& origin)
{
    return {r.left - origin.left, r.top - origin.top, r.right - origin.left, r.bottom - origin.top};
}

// The file dialog of shapes or shape sets.
void Prepare(CQNF_PlatformFileDialog& fd, const SHAPEFILEDIALOG& d, bool open, const char* title)
{
    CQNF_StringArray ext;
    ext.Add(CQNF_String(d.extension));
    fd.AddFilter(d.filterTitle, &ext, open ? d.typeCode : 0);
    fd.SetDefaultPathToAppRoot(d.folder);
    if (!open)
        fd.SetDefaultSaveName(d.saveName);
    fd.SetWindowTitle(title);
}

// What the store's state is told in (a damaged store kept aside, one that
// leads to a file the run reads): a line on standard error, as every word
// of the plug-in's own files, and the same words in a box. A name of the
// store's with a control character never breaks the line.
void TellOfStore(CDialogHost& host, CQNF_Window* parent, const std::string& notice)
{
    const std::string shown = qnShownLine(notice);
    std::fprintf(stderr, "Tessolo: %s\n", shown.c_str());
    host.ShowMessage(parent, kShapeIoTitle, shown.c_str());
}

void ShowError(CDialogHost& host, CQNF_Window* parent, ShapeIoError e)
{
    if (const char* text = ShapeIoMessage(e))
        host.ShowMessage(parent, kShapeIoTitle, text);
}

// A save that failed after its chooser: the writer's own words, or a write
// that failed, with the system's reason when there is one ("no space left
// on device"). A cancelled chooser says nothing.
void ShowSaveError(CDialogHost& host, CQNF_Window* parent, const CQNF_PlatformFileDialog& fd, ShapeIoError e)
{
    if (!fd.Chosen())
        return;
    if (const char* text = ShapeIoMessage(e == ShapeIoError::None ? ShapeIoError::WriteFailed : e))
        host.ShowMessage(parent, kShapeIoTitle, CQNF_PlatformFileDialog::WithReason(text, fd.Failure()).c_str());
}

}  // namespace

CWnd_PresetsManager::~CWnd_PresetsManager()
{
    if (GetWindowHandle())
        Close();
}

CQNF_Control* CWnd_PresetsManager::i_Ctrl(const char* name) const { return qnFindControl(*this, name); }

qntRECT_s CWnd_PresetsManager::IconRect(uint32_t slot) const
{
    if (m_nIconMode)
        return slot < 8 ? m_Small[slot] : qnNullRect;
    return slot < 2 ? m_Big[slot] : qnNullRect;
}

unsigned char CWnd_PresetsManager::OnCreate(CQNF_LayerSet*, unsigned short, unsigned short)
{
    // 1. Rectangles.
    if (!GetResourceRect("PresMng_Preview", m_Preview))
        return 0;
    char key[40];
    for (int i = 0; i < 8; ++i) {
        std::snprintf(key, sizeof key, "PresMng_SelSmallIco%d", i + 1);
        if (!GetResourceRect(key, m_SelSmall[i]))
            return 0;
        std::snprintf(key, sizeof key, "PresMng_SmallIco%d", i + 1);
        if (!GetResourceRect(key, m_Small[i]))
            return 0;
    }
    for (int i = 0; i < 2; ++i) {
        std::snprintf(key, sizeof key, "PresMng_SelBigIco%d", i + 1);
        if (!GetResourceRect(key, m_SelBig[i]))
            return 0;
        std::snprintf(key, sizeof key, "PresMng_BigIco%d", i + 1);
        if (!GetResourceRect(key, m_Big[i]))
            return 0;
    }
    // 2. Fonts and controls.
    const unsigned long infoFont = AddFont("Info Font");
    const unsigned long listFont = AddFont("List Font");
    const unsigned long smallFont = AddFont("Small 7 Normal");
    if (infoFont == None || listFont == None || smallFont == None)
        return 0;
    for (const char* b : {"PresMng_Help", "PresMng_CloseX", "PresMng_SaveSet", "PresMng_ReplaceSet", "PresMng_LoadSet",
                          "PresMng_LoadShape", "PresMng_RenShape", "PresMng_DelShape", "PresMng_Sort",
                          "PresMng_ToCutter", "PresMng_ToCutterClose", "PresMng_Done"})
        if (AddControl(b, qnctl::Button) == None)
            return 0;
    static_cast<CQNF_CtrlButton*>(i_Ctrl("PresMng_Help"))->SetMenuMode(1);
    for (const char* b : {"PresMng_SaveSet", "PresMng_RenShape", "PresMng_DelShape", "PresMng_ToCutter",
                          "PresMng_ToCutterClose"})
        i_Ctrl(b)->SetDisabledOpacity(78);
    if (AddControl("PresMng_Sico", qnctl::RadioButton) == None || AddControl("PresMng_Lico", qnctl::RadioButton) == None)
        return 0;
    i_Ctrl("PresMng_Sico")->SetCheck(1, 0);
    const unsigned long listId = AddControl("PresMng_List", qnctl::List);
    if (listId == None)
        return 0;
    m_pList = static_cast<CQNF_CtrlList*>(GetControl(listId));
    const bool nr = CQNF_App::GetScrollStyle_TwoSideArrows();
    const unsigned long vMore = AddControl("PresMng_ScrollV_Bottom", qnctl::Button);
    const unsigned long vLess = AddControl(nr ? "PresMng_ScrollV_TopNR" : "PresMng_ScrollV_TopMAC", qnctl::Button);
    const unsigned long vBar = AddControl(nr ? "PresMng_ScrollV_NR" : "PresMng_ScrollV_MAC", qnctl::ScrollBar);
    const unsigned long hMore = AddControl("PresMng_ScrollH_Right", qnctl::Button);
    const unsigned long hLess = AddControl(nr ? "PresMng_ScrollH_LeftNR" : "PresMng_ScrollH_LeftMAC", qnctl::Button);
    const unsigned long hBar = AddControl(nr ? "PresMng_ScrollH_NR" : "PresMng_ScrollH_MAC", qnctl::ScrollBar);
    if (vMore == None || vLess == None || vBar == None || hMore == None || hLess == None || hBar == None)
        return 0;
    static_cast<CQNF_CtrlScrollBar*>(GetControl(vBar))->SetButtons(vLess, vMore);
    m_pHBar = static_cast<CQNF_CtrlScrollBar*>(GetControl(hBar));
    m_pHBar->SetButtons(hLess, hMore);
    m_pHBar->InvertWheel(1);
    // 3. The list.
    m_pList->SetFont(GetFont(listFont));
    m_pList->SetOptions(1, 1, 16, 6, 2, vBar);
    // 4. Status and backgrounds.
    const unsigned long statusId = AddControl("PresMng_Status", qnctl::StaticText);
    const unsigned long bigBg = AddControl("PresMng_BigIcoBg", qnctl::StaticImage);
    const unsigned long smallBg = AddControl("PresMng_SmallIcoBg", qnctl::StaticImage);
    if (statusId == None || bigBg == None || smallBg == None)
        return 0;
    m_pStatusText = static_cast<CQNF_CtrlStaticText*>(GetControl(statusId));
    m_pStatusText->SetFont(GetFont(infoFont));
    m_pStatusText->SetText("", 3, 0, 12);
    static_cast<CQNF_CtrlStaticImage*>(GetControl(bigBg))->SetOpacity(0);
    // 5. The selection layer below the drawing layer, over the preview and
    // every icon with its selection frame (a skin may place them apart).
    for (int i = 0; i < 8; ++i)
        m_Preview = Union(Union(m_Preview, m_Small[i]), m_SelSmall[i]);
    for (int i = 0; i < 2; ++i)
        m_Preview = Union(Union(m_Preview, m_Big[i]), m_SelBig[i]);
    if (!m_SelLayer.Create(m_Preview, 2) || !m_DrawLayer.Create(m_Preview, 2) || LSAddLayer(&m_SelLayer) == None ||
        LSAddLayer(&m_DrawLayer) == None)
        return 0;
    m_SelLayer.Set(qntRGBA8{0, 0, 0, 0}, 15);
    m_DrawLayer.Set(kInk, 15);
    // 6. Names under the big icons.
    for (int i = 0; i < 2; ++i) {
        const unsigned long id = AddControl(i ? "PresMng_BigIcoName2" : "PresMng_BigIcoName1", qnctl::StaticText);
        if (id == None)
            return 0;
        m_pBigName[i] = static_cast<CQNF_CtrlStaticText*>(GetControl(id));
        m_pBigName[i]->SetFont(GetFont(smallFont));
        m_pBigName[i]->SetText("", 0, 0, 10);
        m_pBigName[i]->SetOpacity(m_nIconMode ? 0 : 255);
    }
    // 7. First run, the list, the status line.
    CQNF_Mem defSet;
    CQNF_Storage* res = m_App ? m_App->GetStorage() : nullptr;
    const bool haveDefSet = res && DefSetFromStorage(*res, defSet);
    const ShapeIoError first = initialLastUsedSetCheck(
        haveDefSet ? static_cast<const uint8_t*>(defSet.GetPtr()) : nullptr, haveDefSet ? defSet.GetSize() : 0);
    // A damaged store kept aside or left alone, or one refused, is told in
    // its own words.
    if (!Notice().empty())
        TellOfStore(m_Host, this, Notice());
    else if (first == ShapeIoError::ReadFailed)
        i_Message(ShapeIoError::ReadFailed);
    FillInWindow();
    m_Status.Start(*this, m_pStatusText);
    OnAboveControl(None);
    return 1;
}

void CWnd_PresetsManager::i_Message(ShapeIoError e) { ShowError(m_Host, this, e); }

void CWnd_PresetsManager::i_StoreMessage(ShapeIoError e)
{
    const std::string refused = (e == ShapeIoError::ReadFailed || e == ShapeIoError::UpdateFailed) && m_pFile
                                    ? RefusedStoreNotice(*m_pFile)
                                    : std::string();
    if (refused.empty())
        i_Message(e);
    else
        TellOfStore(m_Host, this, refused);
}

void CWnd_PresetsManager::i_RebuildList()
{
    m_pList->RemoveAllItems(0, 0);
    const uint32_t n = GetCount();
    for (uint32_t i = 0; i < n; ++i)
        m_pList->AddItem(Records()[i].name, IsSelected(i) ? 1 : 0, reinterpret_cast<void*>(uintptr_t(i)), 1);
    m_pList->UpdateAfterChanges();
    m_pList->Redraw();
}

void CWnd_PresetsManager::i_SelectionFromList()
{
    for (uint32_t i = 0; i < GetCount() && i < m_pList->GetItemsCount(); ++i) {
        unsigned char sel = 0;
        m_pList->GetItem(i, nullptr, &sel, nullptr);
        SetSelected(i, sel != 0);
    }
}

void CWnd_PresetsManager::i_SelectionToList()
{
    // The list is painted again once, with its last item.
    const uint32_t n = std::min<uint32_t>(GetCount(), uint32_t(m_pList->GetItemsCount()));
    for (uint32_t i = 0; i < n; ++i) {
        unsigned char sel = IsSelected(i) ? 1 : 0;
        m_pList->SetItem(i, nullptr, &sel, nullptr, i + 1 == n ? 1 : 0);
    }
}

void CWnd_PresetsManager::FillInWindow()
{
    // A damaged store the user was told of is not told of again.
    if (FillIn() != ShapeIoError::None && Notice().empty())
        i_Message(ShapeIoError::ReadFailed);
    i_RebuildList();
    DoUpdateScrollSize();
    DoBtnStates();
    DoRedrawPreview();
}

void CWnd_PresetsManager::DoUpdateScrollSize()
{
    uint32_t total = 0, page = 0;
    CWnd_PresetsManagerModel::DoUpdateScrollSize(total, page);
    m_bMovingBar = 1;
    m_pHBar->SetInfo(total, page);
    m_pHBar->SetPosition(m_nFirst);
    m_bMovingBar = 0;
}

void CWnd_PresetsManager::DoRecalcFirstByListWindow()
{
    DoRecalcFirstByList();
    // The bar stops a page before the end, while the first icon may be any
    // record: its report of the bar's own limit must not move the icons.
    m_bMovingBar = 1;
    m_pHBar->SetPosition(m_nFirst);
    m_bMovingBar = 0;
    DoBtnStates();
}

void CWnd_PresetsManager::DoBtnStates()
{
    const BUTTONSTATES b = DoBtnStateChangeByCalcingSelection();
    const struct {
        const char* name;
        uint8_t on;
    } all[] = {{"PresMng_SaveSet", b.saveSet},   {"PresMng_DelShape", b.delShape},
               {"PresMng_RenShape", b.renShape}, {"PresMng_ToCutter", b.toCutter},
               {"PresMng_ToCutterClose", b.toCutterClose}};
    for (const auto& a : all)
        if (CQNF_Control* c = i_Ctrl(a.name))
            if (c->IsEnabled() != a.on)
                c->Enable(a.on);
}

void CWnd_PresetsManager::DoRedrawPreview()
{
    if (auto* big = static_cast<CQNF_CtrlStaticImage*>(i_Ctrl("PresMng_BigIcoBg")))
        big->SetOpacity(m_nIconMode ? 0 : 255);
    if (auto* small = static_cast<CQNF_CtrlStaticImage*>(i_Ctrl("PresMng_SmallIcoBg")))
        small->SetOpacity(m_nIconMode ? 255 : 0);
    m_DrawLayer.Set(kInk, 15);
    m_SelLayer.Set(qntRGBA8{0, 0, 0, 0}, 8);
    if (GetCount() && m_nFirst >= GetCount())
        m_nFirst = GetCount() - 1;
    const uint32_t page = PageSize();
    for (uint32_t k = 0; k < page; ++k) {
        const int32_t rec = SlotRecord(k);
        if (rec >= 0) {
            const qntRECT_s icon = Offset(IconRect(k), m_Preview);
            DrawSpline(m_DrawLayer, icon, Records()[uint32_t(rec)]);
            if (IsSelected(uint32_t(rec))) {
                const qntRECT_s sel = Offset(m_nIconMode ? m_SelSmall[k] : m_SelBig[k], m_Preview);
                m_SelLayer.Set(qntRGBA8{153, 192, 229, 255}, 15, sel);
                m_SelLayer.Set(qntRGBA8{0, 0, 0, 0}, 8,
                               qntRECT_s{sel.left + 2, sel.top + 2, sel.right - 2, sel.bottom - 2});
                m_SelLayer.Set(qntRGBA8{238, 254, 255, 255}, 15, icon);
                // Dark ink on the light fill of a selected icon.
                m_DrawLayer.Set(kSelectedInk, 7, icon);
            }
        }
        if (!m_nIconMode && k < 2 && m_pBigName[k])
            m_pBigName[k]->SetText(rec >= 0 ? Records()[uint32_t(rec)].name : "");
    }
    RenderRect(m_Preview);
    UpdateRect(m_Preview);
}

void CWnd_PresetsManager::Close()
{
    m_Status.Stop(*this);
    if (!m_bClosed && GetWindowHandle()) {
        const qntRECT_s r = GetWindowRect();
        m_Host.PutWindowPos(kOwner, "Cutter", qntPOS{r.left, r.top});
    }
    CQNF_Window::Close();
    if (!m_bClosed) {
        m_bClosed = 1;
        CWnd_PresetsManagerModel::Close();
    }
}

unsigned char CWnd_PresetsManager::OnTimer(unsigned short id) { return m_Status.OnTimer(id) ? 1 : 0; }

void CWnd_PresetsManager::i_StatusNow(const char* text)
{
    if (!m_pStatusText)
        return;
    // The text shown now is the pending one: a tip still fading in or out
    // would otherwise replace it on the next tick.
    m_Status.Show(text);
    m_pStatusText->SetOpacity(255);
    m_pStatusText->SetText(text);
}

unsigned char CWnd_PresetsManager::OnAboveControl(unsigned long index)
{
    m_Status.Request(qnControlTip(m_Host, *this, index, kWindow));
    return 1;
}

unsigned char CWnd_PresetsManager::OnLMouseUp(short x, short y, unsigned char mods)
{
    for (uint32_t k = 0; k < PageSize(); ++k) {
        if (!Inside(IconRect(k), x, y))
            continue;
        if (OnIconClick(k, (mods & plat::mods::Command) != 0)) {
            i_SelectionToList();
            DoBtnStates();
            DoRedrawPreview();
        }
        break;
    }
    return 0;
}

unsigned char CWnd_PresetsManager::OnLMouseDoubleClick(short x, short y, unsigned char mods)
{
    bool act = m_pList && Inside(m_pList->GetRenderRect(), x, y);
    for (uint32_t k = 0; !act && k < PageSize(); ++k)
        act = Inside(IconRect(k), x, y) && SlotRecord(k) >= 0;
    if (act) {
        if (m_pList && Inside(m_pList->GetRenderRect(), x, y))
            i_SelectionFromList();
        RunItemAction((mods & plat::mods::Option) != 0);
    }
    return act ? 1 : 0;
}

void CWnd_PresetsManager::RunItemAction(bool option)
{
    switch (GetItemAction(option)) {
    case ItemAction::ToCutter:
        SendToCutter();
        break;
    case ItemAction::ToCutterAndClose:
        SendToCutter();
        EndModal(0);
        break;
    default:
        break;
    }
}

void CWnd_PresetsManager::SendToCutter()
{
    Spline shape{};
    if (opToCutter(shape) && m_ToCutter)
        m_ToCutter(shape);
}

unsigned char CWnd_PresetsManager::OnKeyDown(unsigned char key, unsigned char mods)
{
    switch (CWnd_PresetsManagerModel::OnKeyDown(key, (mods & plat::mods::Option) != 0)) {
    case KeyAction::Close:
        EndModal(0);
        return 1;
    case KeyAction::Delete:
        opDeleteShape();
        i_RebuildList();
        DoUpdateScrollSize();
        DoRecalcFirstByListWindow();
        DoRedrawPreview();
        return 1;
    case KeyAction::ToCutter:
        RunItemAction(false);
        return 1;
    case KeyAction::ToCutterAndClose:
        RunItemAction(true);
        return 1;
    case KeyAction::Consumed:
        return 1;
    default:
        return 0;
    }
}

unsigned char CWnd_PresetsManager::OnKeyChar(unsigned char key, unsigned char)
{
    if (CWnd_PresetsManagerModel::OnKeyChar(char(key)) == KeyAction::Rename)
        RenameSelected();
    return 0;
}

void CWnd_PresetsManager::RenameSelected()
{
    const int32_t i = FirstSelected();
    if (i < 0)
        return;
    std::string name = Records()[uint32_t(i)].name;
    if (!DoShapeNameDialog(this, m_Host, kOwner, name))
        return;
    opRenameShape(i, name.c_str());
    CQNF_String text(Records()[uint32_t(i)].name);
    m_pList->SetItem(uint32_t(i), &text, nullptr, nullptr, 1);
    DoRedrawPreview();
}

void CWnd_PresetsManager::ImportShape()
{
    CQNF_PlatformFileDialog fd;
    Prepare(fd, kShapeFileDialog, true, kShapeFileDialog.openTitle);
    if (!fd.DoFileOpenDialog(this, 0))
        return;
    Spline shape{};
    const ShapeIoError e = CWnd_CutterModel::LoadShapeFile(fd.GetResultPath().path, &shape);
    if (e != ShapeIoError::None) {
        i_Message(e);
        return;
    }
    std::string name = kImportedShapeName;
    if (!DoShapeNameDialog(this, m_Host, kOwner, name))
        return;
    const ShapeIoError a = opLoadShape(name.c_str(), shape);
    if (a != ShapeIoError::None)
        i_StoreMessage(a);
    i_RebuildList();
    DoUpdateScrollSize();
    DoBtnStates();
    DoRedrawPreview();
}

void CWnd_PresetsManager::LoadSet(bool replace)
{
    CQNF_PlatformFileDialog fd;
    Prepare(fd, kShapeSetDialog, true, replace ? kShapeSetDialog.openReplaceTitle : kShapeSetDialog.openTitle);
    if (!fd.DoFileOpenDialog(this, 0))
        return;
    const ShapeIoError e = LoadSetFile(fd.GetResultPath().path, replace);
    if (e != ShapeIoError::None) {
        // A store that may not be written takes no set: that is what counts.
        i_StoreMessage(e);
        return;
    }
    i_RebuildList();
    DoUpdateScrollSize();
    DoBtnStates();
    DoRedrawPreview();
}

namespace {
struct SAVESET {
    CWnd_PresetsManager* window;
    std::function<void(const char*)> status;
    ShapeIoError error = ShapeIoError::None;
};
unsigned char SaveSetWriter(CQNF_StdFile* file, void* data)
{
    auto* job = static_cast<SAVESET*>(data);
    job->error = job->window->stSaveSetToFile(file, job->status);
    return job->error == ShapeIoError::None ? 1 : 0;
}
}  // namespace

void CWnd_PresetsManager::SaveSet()
{
    if (GetSelectedCount() == 0)
        return;
    CQNF_PlatformFileDialog fd;
    Prepare(fd, kShapeSetDialog, false, kShapeSetDialog.saveTitle);
    SAVESET job{this, [this](const char* text) { i_StatusNow(text); }};
    if (!fd.DoFileSaveDialog(&SaveSetWriter, &job, this, kShapeSetDialog.typeCode, 0))
        ShowSaveError(m_Host, this, fd, job.error);
}

unsigned char CWnd_PresetsManager::OnCtrlMessage(unsigned short msg, unsigned long id, char* name,
                                                 unsigned char type, void* data)
{
    const std::string n = name ? name : "";
    // A keyboard shortcut comes with its command as the id.
    if (msg == qnmsg::Shortcut) {
        if (id != 2 && id != 10)
            return 0;
        id == 2 ? opSelectAll() : opInvertSelection();
        i_SelectionToList();
        DoRecalcFirstByListWindow();
        DoRedrawPreview();
        return 1;
    }
    switch (type) {
    case qnctl::RadioButton: {
        CQNF_Control* sico = i_Ctrl("PresMng_Sico");
        SetIconMode(sico && sico->GetCheck() ? 1 : 0);
        DoUpdateScrollSize();
        for (auto* t : m_pBigName)
            if (t)
                t->SetOpacity(m_nIconMode ? 0 : 255);
        DoRecalcFirstByListWindow();
        DoRedrawPreview();
        return 1;
    }
    case qnctl::List:
        i_SelectionFromList();
        DoRecalcFirstByListWindow();
        DoRedrawPreview();
        return 1;
    case qnctl::ScrollBar:
        if (m_pHBar && !m_bMovingBar && n == m_pHBar->GetName() && (msg == qnmsg::ValueChanged || msg == qnmsg::ValueTracking) &&
            data) {
            OnScroll(*static_cast<uint32_t*>(data));
            DoRedrawPreview();
        }
        return 1;
    case qnctl::Button:
        if (n == "PresMng_Sort") {
            opSort();
            i_RebuildList();
            DoRecalcFirstByListWindow();
            DoRedrawPreview();
        } else if (n == "PresMng_ToCutter") {
            SendToCutter();
        } else if (n == "PresMng_ToCutterClose") {
            SendToCutter();
            EndModal(0);
        } else if (n == "PresMng_RenShape") {
            RenameSelected();
        } else if (n == "PresMng_DelShape") {
            opDeleteShape();
            i_RebuildList();
            DoUpdateScrollSize();
            DoRecalcFirstByListWindow();
            DoRedrawPreview();
        } else if (n == "PresMng_Done" || n == "PresMng_CloseX") {
            EndModal(0);
        } else if (n == "PresMng_LoadShape") {
            ImportShape();
        } else if (n == "PresMng_LoadSet") {
            LoadSet(false);
        } else if (n == "PresMng_ReplaceSet") {
            LoadSet(true);
        } else if (n == "PresMng_SaveSet") {
            SaveSet();
        } else if (n == "PresMng_Help") {
            qnDialogHelpMenu(m_Host, this, 371, 30);
        } else {
            return 0;
        }
        return 1;
    case 255:
        return qnDialogPopup(m_Host, this, msg, data);
    default:
        return 0;
    }
}

// ---- Entry points ------------------------------------------------------------------

int DoPresMngWindow(CQNF_Window* editor, CDialogHost& host, CQNF_PresetsFile& store,
                    const std::function<void(const CWnd_CutterModel::SPLINE_STRUCT&)>& toCutter)
{
    CWnd_PresetsManager window(host, store, toCutter);
    // Its position is kept under "Pres Mng", not under the window's name.
    const qntPOS pos = host.WindowPos(kOwner, "Cutter");
    if (!window.CreateFromResource("PresMng", short(pos.x), short(pos.y), editor, 1))
        return -1;
    const qntRECT_s all{0, 0, window.GetWidth(), window.GetHeight()};
    window.RenderRect(all);
    window.UpdateRect(all);
    window.DoModal();
    return 0;
}

bool DoAddShapeToPresets(CQNF_Window* editor, CDialogHost& host, CQNF_PresetsFile& store,
                         const CWnd_CutterModel::SPLINE_STRUCT& shape)
{
    std::string name;
    if (!DoShapeNameDialog(editor, host, "Cutter", name))
        return false;
    std::string notice;
    const ShapeIoError e = CWnd_PresetsManagerModel::ShapeMng_AddShape(store, name.c_str(), shape, &notice);
    // A damaged store kept aside or left alone, or one refused, is told in
    // its own words.
    if (!notice.empty())
        TellOfStore(host, editor, notice);
    if (notice.empty() || e != ShapeIoError::ReadFailed)
        ShowError(host, editor, e);
    return e == ShapeIoError::None;
}

bool DoLoadShapeFile(CQNF_Window* parent, CDialogHost& host, CWnd_CutterModel::SPLINE_STRUCT& shape)
{
    CQNF_PlatformFileDialog fd;
    Prepare(fd, kShapeFileDialog, true, kShapeFileDialog.openTitle);
    if (!fd.DoFileOpenDialog(parent, 0))
        return false;
    CWnd_CutterModel::SPLINE_STRUCT read = shape;
    const ShapeIoError e = CWnd_CutterModel::LoadShapeFile(fd.GetResultPath().path, &read);
    ShowError(host, parent, e);
    if (e != ShapeIoError::None)
        return false;
    shape = read;
    return true;
}

namespace {
struct SAVESHAPE {
    const CWnd_CutterModel::SPLINE_STRUCT* shape;
    ShapeIoError error = ShapeIoError::None;
};
unsigned char SaveShapeWriter(CQNF_StdFile* file, void* data)
{
    auto* job = static_cast<SAVESHAPE*>(data);
    job->error = CWnd_CutterModel::stSaveShapeToFile(file, job->shape);
    return job->error == ShapeIoError::None ? 1 : 0;
}
}  // namespace

bool DoSaveShapeFile(CQNF_Window* parent, CDialogHost& host, const CWnd_CutterModel::SPLINE_STRUCT& shape)
{
    CQNF_PlatformFileDialog fd;
    Prepare(fd, kShapeFileDialog, false, kShapeFileDialog.saveTitle);
    SAVESHAPE job{&shape};
    const bool ok = fd.DoFileSaveDialog(&SaveShapeWriter, &job, parent, kShapeFileDialog.typeCode, 0);
    if (!ok)
        ShowSaveError(host, parent, fd, job.error);
    return ok;
}
