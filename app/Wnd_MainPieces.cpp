// The main window's side of the piece map: binding it when piece mode
// begins, the view hooks (preview, overlay, effect check boxes, status
// line), and loading a selection from a document channel in either mode.
#include "app/Wnd_ChannelList.h"
#include "app/Wnd_Main.h"

#include "host/PluginMain.h"
#include "ui/Control.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

bool CWnd_Main::BeginPieceMode(int32_t width, int32_t height, const uint8_t* alpha)
{
    if (!m_pPlugin || width <= 0 || height <= 0)
        return false;
    i_in_ForgetHoverPiece();
    return pm_Begin(&m_pPlugin->GetEngine(), &m_MainImage, &m_SourceImage, alpha, m_pSelMask, uint32_t(width),
                    uint32_t(height), m_pPlugin->GetPluginDataPtr()->colorMode);
}

void CWnd_Main::pm_RedrawPreview(uint8_t highQuality)
{
    if (GetWindowHandle())
        m_Preview.DoRedraw(1, highQuality);
}

void CWnd_Main::pm_OnExtrasChanged(uint8_t on)
{
    m_bPMExtras = on;
    if (!GetWindowHandle())
        return;
    OnChangeExtrasState();
    m_Preview.SetMaskChannel(on ? const_cast<uint8_t*>(pm_SelMap()) : nullptr, on ? m_nImageWidth : 0);
}

void CWnd_Main::pm_RefreshControls(uint16_t word)
{
    if (m_bCutMode || m_bFXMode || !GetWindowHandle())
        return;
    static const struct {
        const char* name;
        uint8_t bit;
    } boxes[] = {{"Main_FXBC", FX_BRIGHTCONTRAST}, {"Main_FXBevel", FX_BEVEL},    {"Main_FXBlur", FX_BLUR},
                 {"Main_FXCOver", FX_COLOROVERLAY}, {"Main_FXHSL", FX_HSL},        {"Main_FXIOver", FX_IMAGEOVERLAY},
                 {"Main_FXMBlur", FX_MOTIONBLUR},   {"Main_FXOpacity", FX_OPACITY}, {"Main_FXStroke", FX_STROKE}};
    for (const auto& b : boxes)
        if (CQNF_Control* c = FindControl(b.name, qnctl::CheckBox)) {
            c->SetCheck((word >> b.bit) & 1, 0);
            view_RenderAndUpdate(c->GetRenderRect());
        }
    const struct {
        const char* name;
        uint8_t on;
    } buttons[] = {{"Main_Show", uint8_t((word & kSomeHidden) != 0)}, {"Main_Hide", uint8_t((word & kSomeShown) != 0)}};
    for (const auto& b : buttons)
        if (CQNF_Control* c = FindControl(b.name, qnctl::Button)) {
            c->Enable(b.on);
            view_RenderAndUpdate(c->GetRenderRect());
        }
}

void CWnd_Main::pm_StatusDone() { m_Fader.Restart(); }

void CWnd_Main::pm_ProcessEvents() { SubProcessMessages(nullptr, 1, 1, 1, 1); }

long CWnd_Main::DoChannelListDialog(CWnd_ChannelList& dialog, uint8_t combineAllowed, uint8_t tipMode)
{
    std::unique_ptr<CHostChannelSource> host;
    if (!m_pChannelSource && m_pPlugin)
        host = std::make_unique<CHostChannelSource>(*m_pPlugin);
    dialog.m_pSource = m_pChannelSource ? m_pChannelSource : host.get();
    if (!dialog.m_pSource)
        return 0;
    dialog.m_bCombineAllowed = combineAllowed ? 1 : 0;
    dialog.m_nTipMode = tipMode;
    qntPOS at{-32000, -32000};
    if (m_pPlugin)
        at = m_pPlugin->WindowPosFromConf("ChannelList", "MAIN", qnNullSize, 1);
    if (!dialog.CreateFromResource(CQNF_String("ChannelList"), short(at.x), short(at.y), this, 1))
        return 0;
    dialog.RenderRect(qnNullRect);
    const long result = dialog.DoModal();
    if (result == 1 && m_pPlugin && !qnIsNullRect(dialog.m_ClosedAt))
        m_pPlugin->PutWindowPosToConf("ChannelList", "MAIN", qntPOS{dialog.m_ClosedAt.left, dialog.m_ClosedAt.top});
    return result;
}

void CWnd_Main::pmop_LoadSelection(uint8_t redraw)
{
    if (m_bCutMode || !pm_IsBound())
        return;
    CWnd_ChannelList dialog;
    if (DoChannelListDialog(dialog, SelectedCount() > 0, 0) != 1 || !dialog.HasChannel())
        return;
    pmop_LoadSelectionFromMap(dialog.GetChannel(), dialog.GetChannelWidth(), dialog.GetChannelHeight(),
                              dialog.m_nOperation, dialog.m_bInvert, redraw);
}

void CWnd_Main::op_LoadSelection(uint8_t)
{
    if (!m_bCutMode)
        return;
    CWnd_ChannelList dialog;
    if (DoChannelListDialog(dialog, m_bKnifeSelection, 1) != 1 || !dialog.HasChannel())
        return;
    qnSelectKnivesFromMap(*this, dialog.GetChannel(), dialog.GetChannelWidth(), dialog.GetChannelHeight(),
                          dialog.m_nOperation, dialog.m_bInvert);
    view_RenderAndUpdate(m_rcPreview);
}

// ---- Selections in preview coordinates and the drag outline ------------------------

void CWnd_Main::pmop_Sel_SelectRectLocal(qntRECT_s r, uint8_t add, uint8_t remove, uint8_t redraw)
{
    const qntPOS a = m_Preview.GetImageCoorsByPreviewCoors(qntPOS{r.left, r.top});
    const qntPOS b = m_Preview.GetImageCoorsByPreviewCoors(qntPOS{r.right, r.bottom});
    pmop_Sel_SelectRect(qntRECT_s{a.x, a.y, b.x, b.y}, add, remove, redraw);
}

void CWnd_Main::pmop_Sel_SelectFreeRgnLocal(const CQNF_DWordArray* points, uint8_t add, uint8_t remove,
                                            uint8_t redraw)
{
    if (!points || !points->GetSize())
        return;
    std::vector<uint32_t> local;
    for (uint64_t i = 0; i < points->GetSize(); ++i) {
        const uint32_t p = (*points)[i];
        local.push_back(i_PackPreview(int32_t(p >> 16) - m_rcPreview.left, int32_t(p & 0xFFFF) - m_rcPreview.top));
    }
    pmop_Sel_SelectFreeRgnLocal(local, add, remove, redraw);
}

uint32_t CWnd_Main::i_PackPreview(int32_t x, int32_t y) const
{
    // Points off the preview are pulled onto its edge, so none wraps.
    const int32_t w = std::max(1, m_rcPreview.right - m_rcPreview.left);
    const int32_t h = std::max(1, m_rcPreview.bottom - m_rcPreview.top);
    return (uint32_t(std::clamp(x, 0, w - 1)) << 16) | uint32_t(std::clamp(y, 0, h - 1));
}

void CWnd_Main::pmop_Sel_SelectFreeRgnLocal(const std::vector<uint32_t>& previewPoints, uint8_t add, uint8_t remove,
                                            uint8_t redraw)
{
    if (previewPoints.empty())
        return;
    std::vector<long> xs, ys;
    for (uint32_t p : previewPoints) {
        // Converted without the off-image snapping, so the region keeps its shape.
        const qntPOS q = m_Preview.GetImageCoorsByPreviewCoorsNoOverflowCheck(qntPOS{int32_t(p >> 16), int32_t(p & 0xFFFF)});
        xs.push_back(q.x);
        ys.push_back(q.y);
    }
    pmop_Sel_SelectFreeRgn(xs.data(), ys.data(), long(xs.size()), add, remove, redraw);
}

void CWnd_Main::i_pmop_PrepareSelLayer()
{
    CQNF_Layer* back = GetLayer(0ul);
    const int32_t lw = m_SelKnivesLayer.GetImageWidth(), lh = m_SelKnivesLayer.GetImageHeight();
    if (!back || !lw || !lh)
        return;
    const int32_t bw = back->GetImageWidth(), bh = back->GetImageHeight();
    for (int k = 0; k < 3; ++k) {
        uint8_t* d = m_SelKnivesLayer.GetPlane(k);
        const uint8_t* s = back->GetPlane(k);
        for (int32_t y = 0; y < lh; ++y)
            for (int32_t x = 0; x < lw; ++x) {
                const int32_t sx = x + m_rcPreview.left, sy = y + m_rcPreview.top;
                const uint8_t v = sx >= 0 && sy >= 0 && sx < bw && sy < bh ? s[size_t(sy) * bw + sx] : 0;
                // Contrasting with what lies beneath, channel by channel.
                d[size_t(y) * lw + x] = v < 128 ? 255 : 0;
            }
    }
}

void CWnd_Main::i_pmop_RedrawDragSelection(short x, short y)
{
    if (!m_bPMRectDrag) {
        const uint64_t n = m_PMFreePoints.GetSize();
        bool add = true;
        if (n) {
            const uint32_t last = m_PMFreePoints[n - 1];
            add = std::abs(int32_t(last >> 16) - x) > 1 || std::abs(int32_t(last & 0xFFFF) - y) > 1;
        }
        if (add)
            m_PMFreePoints.Add((uint32_t(uint16_t(std::max<short>(x, 0))) << 16) | uint16_t(std::max<short>(y, 0)));
    }
    std::vector<uint32_t> local;
    for (uint64_t i = 0; i < m_PMFreePoints.GetSize(); ++i) {
        const uint32_t p = m_PMFreePoints[i];
        local.push_back(i_PackPreview(int32_t(p >> 16) - m_rcPreview.left, int32_t(p & 0xFFFF) - m_rcPreview.top));
    }
    i_pmop_RedrawDragSelection(m_PMDragStart, qntPOS{x, y}, m_bPMRectDrag != 0, local);
}

void CWnd_Main::i_pmop_RedrawDragSelection(qntPOS press, qntPOS now, bool rectangle,
                                           const std::vector<uint32_t>& previewPoints)
{
    CQNF_Layer& l = m_SelKnivesLayer;
    if (!l.GetImageWidth())
        return;
    l.SetVisible(1);
    l.Set(qntRGBA8{0, 0, 0, 0}, 8, qnNullRect);
    if (rectangle) {
        qntRECT_s r{std::min(press.x, now.x), std::min(press.y, now.y), std::max(press.x, now.x) + 1,
                    std::max(press.y, now.y) + 1};
        r = qntRECT_s{std::max(r.left, m_rcPreview.left), std::max(r.top, m_rcPreview.top),
                      std::min(r.right, m_rcPreview.right), std::min(r.bottom, m_rcPreview.bottom)};
        if (r.left < r.right && r.top < r.bottom) {
            const int16_t L = int16_t(r.left - m_rcPreview.left), T = int16_t(r.top - m_rcPreview.top);
            const int16_t R = int16_t(r.right - m_rcPreview.left - 1), B = int16_t(r.bottom - m_rcPreview.top - 1);
            l.DrawAlphaLine(L, T, L, B, 255);
            l.DrawAlphaLine(L, T, R, T, 255);
            l.DrawAlphaLine(R, T, R, B, 255);
            l.DrawAlphaLine(L, B, R, B, 255);
        }
    } else {
        const size_t m = previewPoints.size();
        for (size_t i = 0; i < m; ++i) {
            const uint32_t a = previewPoints[i], b = previewPoints[(i + 1) % m];
            l.DrawAlphaLine(int16_t(a >> 16), int16_t(a & 0xFFFF), int16_t(b >> 16), int16_t(b & 0xFFFF), 255);
        }
    }
    view_RenderAndUpdate(m_rcPreview);
}

void CWnd_Main::i_pmop_HideDragSelection()
{
    m_SelKnivesLayer.SetVisible(0);
    m_PMFreePoints.Empty();
    view_RenderAndUpdate(m_rcPreview);
}
