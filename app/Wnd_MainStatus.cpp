// The main window's information panel, status line and its fade, the
// periodic timer, the status tips, the source image and the navigator.
#include "app/Wnd_Main.h"

#include "app/App.h"
#include "app/StatusTips.h"
#include "host/PluginMain.h"
#include "imaging/ImageFX.h"
#include "ui/CtrlStatic.h"
#include "ui/Toolkit.h"

#include <cstring>

qntINFOVIEW CWnd_Main::i_InfoView() const
{
    qntINFOVIEW v;
    v.width = m_SourceImage.GetImageWidth();
    v.height = m_SourceImage.GetImageHeight();
    if (m_pPlugin) {
        v.resX = m_pPlugin->GetPluginDataPtr()->resolutionH;
        v.resY = m_pPlugin->GetPluginDataPtr()->resolutionV;
    }
    v.unit = m_nUnits;
    return v;
}

CWnd_Main::CANVAS CWnd_Main::i_Canvas() const
{
    CANVAS c;
    c.width = m_SourceImage.GetImageWidth();
    c.height = m_SourceImage.GetImageHeight();
    if (!m_pPlugin)
        return c;
    const qntRECT_s handed = m_pPlugin->GetHandedRect(), work = m_pPlugin->GetPluginDataPtr()->filterRect;
    if (handed.left <= work.left && handed.top <= work.top && work.right <= handed.right &&
        work.bottom <= handed.bottom && uint32_t(work.right - work.left) == c.width &&
        uint32_t(work.bottom - work.top) == c.height && handed.right - handed.left <= 65535 &&
        handed.bottom - handed.top <= 65535) {
        c.width = uint32_t(handed.right - handed.left);
        c.height = uint32_t(handed.bottom - handed.top);
        c.left = uint32_t(work.left - handed.left);
        c.top = uint32_t(work.top - handed.top);
    }
    return c;
}

void CWnd_Main::UpdateInfoPanel(qntPOS p, unsigned char outside)
{
    if (!m_pInfo)
        return;
    if (p.x == qnNullPOS.x && p.y == qnNullPOS.y) {
        const qntPOS m = GetMousePos();
        const qntRECT_s r = m_Preview.GetRenderRect();
        if (!outside && m.x >= r.left && m.x < r.right && m.y >= r.top && m.y < r.bottom)
            p = m_Preview.GetImageCoorsByPreviewCoors(qntPOS{m.x - r.left, m.y - r.top});
        else
            p = m_LastInfoPos;
    }
    m_LastInfoPos = p;
    const qntINFOVIEW v = i_InfoView();
    std::string text;
    if (m_Gesture.splitterDrag) {
        const bool rows = m_Gesture.dragRowSplitter;
        text = qnInfoSplitterText(v, !rows, rows ? m_RowSplitters : m_ColSplitters,
                                  rows ? m_nRowSplitters : m_nColSplitters, m_Gesture.dragSplitter);
    } else if (outside) {
        qntINFOVIEW whole = v;
        const CANVAS c = i_Canvas();
        whole.width = c.width;
        whole.height = c.height;
        text = qnInfoSizeText(whole);
    } else if (m_bCutMode || !m_pPlugin) {
        text = qnInfoPositionText(v, p.x, p.y, nullptr);
    } else {
        // The piece under the pointer is looked up by the piece map; until
        // it is there the panel names no piece.
        const CTessolo& engine = m_pPlugin->GetEngine();
        qntINFOPIECE piece;
        piece.count = engine.m_nPieces;
        piece.splitter = engine.m_bLinesMode;
        // The piece at the position shown, whatever was looked up last.
        piece.index = i_in_PieceAt(p);
        // The column and row the piece's effect record carries (0 and 0 for
        // an index past the pieces).
        if (piece.index >= 0 && uint64_t(piece.index) < engine.m_nPieces && engine.m_pPieces) {
            const CTessolo::SPLITEDCELL& cell = engine.m_pPieces[piece.index];
            piece.column = uint8_t(cell.column);
            piece.row = uint8_t(cell.row);
        }
        text = qnInfoPositionText(v, p.x, p.y, &piece);
    }
    if (m_pInfo->GetText().Compare(text.c_str()) == 0)
        return;
    m_pInfo->SetText(text.c_str());  // shows itself
}

unsigned char CWnd_Main::OnTimer(unsigned short id)
{
    if (id != 1 || !GetWindowHandle())
        return 0;
    // 1. The pointer, every fifth tick.
    if (m_nMouseTick == 0) {
        const qntPOS m = GetMousePos();
        const bool over = i_PointerOver(m);
        if (m.x != m_LastMousePos.x || m.y != m_LastMousePos.y) {
            m_LastMousePos = m;
            i_ShowInfoAt(m, over);
        }
        if (over)
            OnSetCursor(short(m.x), short(m.y));
    }
    m_nMouseTick = m_nMouseTick + 1 < 5 ? m_nMouseTick + 1 : 0;
    // 3. The status fade, after a progress line not drawn yet.
    if (m_bProgressPending && m_Fader.GetState() == CStatusFader::Idle)
        i_ShowProgressLine(false);
    m_bProgressPending = 0;
    if (m_pStatus && m_Fader.GetState() != CStatusFader::Idle) {
        bool show = false;
        const uint8_t o = m_Fader.Tick(m_pStatus->GetOpacity(), show);
        // Each call shows its change.
        if (show)
            m_pStatus->SetText(m_Fader.Pending().c_str());
        if (m_pStatus->GetOpacity() != o)
            m_pStatus->SetOpacity(o);
    }
    return 0;
}

void CWnd_Main::UpdateStatus(const char* text) { m_Fader.Request(text); }

bool CWnd_Main::i_PointerOver(qntPOS m) const
{
    const qntRECT_s wr = GetWindowRect();
    return WindowFromPoint(qntPOS{m.x + wr.left, m.y + wr.top}) == GetWindowHandle();
}

// The position under the pointer when it is over the preview, else the
// image size.
void CWnd_Main::i_ShowInfoAt(qntPOS m, bool over)
{
    const qntRECT_s r = m_Preview.GetRenderRect();
    const bool inPreview = m.x >= r.left && m.x < r.right && m.y >= r.top && m.y < r.bottom;
    UpdateInfoPanel(qnNullPOS, over && inPreview ? 0 : 1);
}

void CWnd_Main::i_ShowInfoForPointer()
{
    if (!m_bCreated || !GetWindowHandle())
        return;
    const qntPOS m = GetMousePos();
    i_ShowInfoAt(m, i_PointerOver(m));
}

void CWnd_Main::i_AskTipForPointer()
{
    if (!m_bCreated || !GetWindowHandle())
        return;
    const qntPOS m = GetMousePos();
    const bool over = i_PointerOver(m);
    // Another window over the pointer (or none of ours): as when it left.
    const uint32_t under = over ? uint32_t(ControlUnderPoint(short(m.x), short(m.y))) : None;
    m_underPointer = under;
    m_LastTipControl = kAskTipAgain;
    m_bBadgeKeepsTip = 0;
    if (under != None || !over) {
        OnAboveControl(under);
        m_Gesture.lastZone = 255;
    } else {
        m_Gesture.lastZone = qntGESTURE::kAskAgain;
        i_in_StatusTip(short(m.x), short(m.y));
    }
}

bool CWnd_Main::i_IsModeBadge(unsigned long index) const
{
    const CQNF_Control* c = index == None ? nullptr : GetControl(index);
    return c && (!std::strcmp(c->GetName(), "Main_ModeL") || !std::strcmp(c->GetName(), "Main_ModeP"));
}

unsigned char CWnd_Main::OnAboveControl(unsigned long index)
{
    // The mode badges have no tip: the one shown stays, and they count as
    // no control. The toolkit, told so, reports that the pointer left the
    // control it came from; that too leaves the tip alone while the
    // pointer is on the badge (see i_in_StatusTip for leaving it).
    if (i_IsModeBadge(index)) {
        m_bBadgeKeepsTip = 1;
        return 0;
    }
    if (index == None && m_bBadgeKeepsTip)
        return 1;
    m_bBadgeKeepsTip = 0;
    const uint8_t mode = i_TipMode();
    // Asked only when the control or the mode changed: the chain is long.
    if (index == m_LastTipControl && mode == m_LastTipMode)
        return 1;
    m_LastTipControl = index;
    m_LastTipMode = mode;
    const char* name = "";
    uint8_t type = kTipNoControl;
    if (index != None) {
        if (index == m_idPreview) {
            name = "Zone_Preview";
            type = kTipZone;
        } else if (CQNF_Control* c = GetControl(index)) {
            name = c->GetName();
            type = c->GetType();
            // Both rulers have the ruler's tip (the split rulers beside them
            // are zones).
            if (!std::strcmp(name, "Main_RulerTop") || !std::strcmp(name, "Main_RulerLeft")) {
                name = "Main_Ruler";
            }
        }
    }
    UpdateStatus(qnGetStatusTip(name, "Main", mode, type));
    return 1;
}

void CWnd_Main::UpdateStatusProgress(const char* text, uint8_t percent)
{
    if (!m_pStatus)
        return;
    m_Fader.Stop();
    m_ProgressLine = qnStatusProgressLine(text, percent);
    // Between the forced repaints nothing reaches the screen while the
    // operation runs: the line is drawn only when it is shown (here at every
    // tenth percent, else at the next tick).
    m_bProgressPending = 1;
    if (percent % 10 == 0)
        i_ShowProgressLine(true);
}

void CWnd_Main::i_ShowProgressLine(bool force)
{
    if (!m_bProgressPending || !m_pStatus)
        return;
    m_bProgressPending = 0;
    if (m_pStatus->GetOpacity() != 255)
        m_pStatus->SetOpacity(255);
    m_pStatus->SetText(m_ProgressLine.c_str());  // shows itself
    // On the screen now, though no events are processed until it ends.
    if (force)
        ForceRedrawRect(m_pStatus->GetRenderRect());
}

void CWnd_Main::ProcessPendingEvents() { SubProcessMessages(nullptr, 1, 1, 0, 0); }

bool CWnd_Main::StopRequested() { return GetWindowHandle() && ESCIsInMessageQueue(); }

uint8_t CWnd_Main::GetSourceDataInRGBA()
{
    if (!m_pPlugin)
        return 0;
    CQNF_8BFPluginVirtual::PLUGINDATA* d = m_pPlugin->GetPluginDataPtr();
    const qntRECT_s r = d->filterRect;
    const int32_t w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0 || w > 65535 || h > 65535 || !m_SourceImage.Create(uint16_t(w), uint16_t(h), 2))
        return 0;
    uint8_t* planes[4] = {m_SourceImage.GetPlane(0), m_SourceImage.GetPlane(1), m_SourceImage.GetPlane(2),
                          m_SourceImage.GetPlane(3)};
    const uint32_t n = uint32_t(w) * uint32_t(h);
    uint8_t reads = 0;
    switch (d->colorMode) {
    case 0:
        reads = 1;
        break;
    case 1:
        reads = 3;
        break;
    case 2:
        reads = 4;
        break;
    default:
        m_pPlugin->HostSetRetCode_BadParam();
        return 0;
    }
    for (uint8_t p = 0; p < reads; ++p)
        if (!m_pPlugin->HostGetChanel(p, r, planes[p], uint32_t(w)))
            return 0;
    if (d->colorMode != 1 && !m_pPlugin->ConvertArrayToRGB_Internal(planes, planes, n)) {
        m_pPlugin->HostSetRetCode_BadParam();
        return 0;
    }
    int32_t aw = 0, ah = 0;
    const uint8_t* alpha = m_pPlugin->GetCompositeAlpha(aw, ah);
    if (alpha && aw == w && ah == h)
        std::memcpy(planes[3], alpha, n);
    else
        std::memset(planes[3], 255, n);
    return 1;
}

uint8_t CWnd_Main::SetSourceToNavigator()
{
    auto* nav = static_cast<CQNF_CtrlStaticImage*>(FindControl("Main_Navigator", qnctl::StaticImage));
    CQNF_Layer* canvas = GetLayer(0ul);
    if (!nav || !canvas)
        return 0;
    const qntRECT_s R = nav->GetRenderRect();
    const int32_t w = R.right - R.left - 5, h = R.bottom - R.top - 5;
    CQNF_Image scaled, sharp;
    if (w <= 0 || h <= 0 || !scaled.Create(uint16_t(w), uint16_t(h), 2) || !sharp.Create(uint16_t(w), uint16_t(h), 2))
        return 0;
    CQNF_ImageFX fx;
    if (!fx.SetSource(&m_SourceImage) || !fx.SetDestination(&scaled) || !fx.Resize_Int_ZO(1))
        return 0;
    CQNF_ImageFX sharpen;
    if (!sharpen.SetSource(&scaled) || !sharpen.SetDestination(&sharp) || !sharpen.filter_UnsharpenMaskNormal(0))
        return 0;
    // The background layer's own position places it in the window.
    short bx = 0, by = 0;
    canvas->GetPos(bx, by);
    const qntRECT_s dest{R.left + 3 - bx, R.top + 3 - by, R.left + 3 - bx + w, R.top + 3 - by + h};
    return canvas->Blend(&sharp, 0, 0, dest, 100) ? 1 : 0;
}
