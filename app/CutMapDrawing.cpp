// Drawing the cut map over the preview: every knife as a spline line into
// the alpha plane of one of three overlay images (knives, selected knives,
// knot markers and dragged knives), the prospective grid as plain lines, and
// the splitter handles on the two split rulers. Compositing the images and
// putting them on the screen is the window's (view_RenderAndUpdate).
#include "app/MainModel.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

using namespace cutflag;

namespace {

bool Empty(const qntRECT_s& r) { return qnIsNullRect(r) || r.right <= r.left || r.bottom <= r.top; }

qntRECT_s WholeOf(const CQNF_Image& img) { return qntRECT_s{0, 0, img.GetImageWidth(), img.GetImageHeight()}; }

void ClearAlpha(CQNF_Image& img, const qntRECT_s& r)
{
    if (img.GetImageWidth() && !Empty(r))
        img.Set(qntRGBA8{0, 0, 0, 0}, 8, r);
}

}  // namespace

bool CWnd_MainModel::SetView(qntRECT_s preview, qntRECT_s hRuler, qntRECT_s vRuler, uint8_t zoom, int32_t scrollX,
                             int32_t scrollY)
{
    m_rcPreview = preview;
    m_rcHSplitRuler = hRuler;
    m_rcVSplitRuler = vRuler;
    m_nZoom = std::min<uint8_t>(zoom, 8);
    m_nScrollX = scrollX;
    m_nScrollY = scrollY;
    const int32_t pw = preview.right - preview.left, ph = preview.bottom - preview.top;
    if (pw <= 0 || ph <= 0 || pw > 65535 || ph > 65535)
        return false;
    // Black, red and blue colour planes; the drawing writes the alpha.
    const qntRGBA8 colours[3] = {{0, 0, 0, 0}, {255, 0, 0, 0}, {0, 0, 255, 0}};
    CQNF_Image* layers[3] = {&m_KnivesLayer, &m_SelKnivesLayer, &m_OverlayLayer};
    for (int i = 0; i < 3; ++i) {
        if (layers[i]->GetImageWidth() != pw || layers[i]->GetImageHeight() != ph) {
            if (!layers[i]->Create(uint16_t(pw), uint16_t(ph), 2))
                return false;
        }
        layers[i]->Set(colours[i], 255, qnNullRect);
    }
    auto ruler = [](CQNF_Image& img, const qntRECT_s& r) {
        const int32_t w = r.right - r.left, h = r.bottom - r.top;
        if (w <= 0 || h <= 0 || w > 65535 || h > 65535)
            return true;
        return img.Create(uint16_t(w), uint16_t(h), 2) && img.Set(qntRGBA8{213, 142, 31, 0}, 255, qnNullRect);
    };
    if (!ruler(m_HSplitRulerImage, hRuler) || !ruler(m_VSplitRulerImage, vRuler))
        return false;
    DoRedrawOverlay();
    return true;
}

void CWnd_MainModel::DoRedrawOverlay()
{
    spl_DoRedrawHVSplitRulers();
    if (!m_bCutMode)
        return;
    const int32_t pw = m_rcPreview.right - m_rcPreview.left, ph = m_rcPreview.bottom - m_rcPreview.top;
    const int32_t zw = i_ZoomValue(int32_t(std::min<uint32_t>(m_nImageWidth, 65535)));
    const int32_t zh = i_ZoomValue(int32_t(std::min<uint32_t>(m_nImageHeight, 65535)));
    qntRECT_s view{std::max(-m_nScrollX, 0), std::max(-m_nScrollY, 0), std::min(zw - m_nScrollX, pw),
                   std::min(zh - m_nScrollY, ph)};
    if (view.right <= view.left || view.bottom <= view.top)
        view = qnNullRect;
    // The scroll position and the visible size in image pixels.
    auto unzoom = [&](int32_t v) {
        if (m_nZoom >= 4)
            return v >> (m_nZoom - 4);
        return v << (4 - m_nZoom);
    };
    qntRECT_s image = qnNullRect;
    if (!qnIsNullRect(view)) {
        image.left = m_nScrollX < 0 ? 0 : unzoom(m_nScrollX);
        image.top = m_nScrollY < 0 ? 0 : unzoom(m_nScrollY);
        image.right = image.left + unzoom(view.right - view.left);
        image.bottom = image.top + unzoom(view.bottom - view.top);
    }
    spl_DoRedrawSplitting(view, image, kClearAll);
}

void CWnd_MainModel::i_DrawKnotMarker(qntFPOS p, uint32_t knot, uint8_t fixed)
{
    const int32_t x = static_cast<int32_t>(std::clamp(p.x + 0.5, -1.0e6, 1.0e6));
    const int32_t y = static_cast<int32_t>(std::clamp(p.y + 0.5, -1.0e6, 1.0e6));
    const int32_t pw = m_OverlayLayer.GetImageWidth(), ph = m_OverlayLayer.GetImageHeight();
    qntRECT_s r{std::max(x - 3, 0), std::max(y - 3, 0), std::min(x + 4, pw), std::min(y + 4, ph)};
    if (r.right <= r.left || r.bottom <= r.top)
        return;
    m_OverlayLayer.Set(qntRGBA8{0, 0, 0, 255}, 8, r);
    if (m_nKnotMarkers < m_KnotMarkers.size())
        m_KnotMarkers[m_nKnotMarkers++] = KNOTMARKER{r, knot, fixed};
    if (fixed) {
        const qntRECT_s inner{r.left + 1, r.top + 1, r.right - 1, r.bottom - 1};
        if (inner.right > inner.left && inner.bottom > inner.top)
            m_SelKnivesLayer.Set(qntRGBA8{0, 0, 0, 50}, 8, inner);
    }
    if ((m_nSelKnots >= 1 && knot == m_SelKnot1) || (m_nSelKnots >= 2 && knot == m_SelKnot2))
        m_OverlayLayer.DrawCircle(int16_t(std::clamp(x, -32000, 32000)), int16_t(std::clamp(y, -32000, 32000)), 6,
                                  qntRGBA8{0, 0, 255, 255}, WholeOf(m_OverlayLayer));
}

void CWnd_MainModel::spl_DoRedrawSplitting(qntRECT_s view, qntRECT_s image, uint8_t clearAll)
{
    m_SplitViewRect = view;
    m_SplitImageRect = image;
    if (!m_KnivesLayer.GetImageWidth() || Empty(view) || qnIsNullRect(image))
        return;
    ClearAlpha(m_KnivesLayer, clearAll ? WholeOf(m_KnivesLayer) : view);
    m_bOverlayLayerVisible = m_bCMExtras;
    if (m_bCMExtras)
        ClearAlpha(m_OverlayLayer, WholeOf(m_OverlayLayer));

    int32_t scrollX = i_ZoomValue(image.left), scrollY = i_ZoomValue(image.top);
    if (m_nZoom > 4) {
        const int32_t step = 1 << (m_nZoom - 4);
        if (m_nScrollX > 0)
            scrollX += m_nScrollX % step;
        if (m_nScrollY > 0)
            scrollY += m_nScrollY % step;
    }
    const qntFPOS origin{double(scrollX - view.left), double(scrollY - view.top)};
    const double ew = i_ZoomValue(int32_t(std::min<uint32_t>(m_nImageWidth, 65535)));
    const double eh = i_ZoomValue(int32_t(std::min<uint32_t>(m_nImageHeight, 65535)));
    m_Drawing.SetClipRect(view);
    m_Drawing.SetDestination(&m_KnivesLayer);
    m_bSelKnivesLayerVisible = 0;
    m_nKnotMarkers = 0;

    const uint32_t total = GetKnifeCount();
    const bool progress = total > 0 && !(total <= 100 && m_bRazorCut);
    double counter = 0.0;
    int lastShown = -1;
    auto step = [&]() {
        if (!progress)
            return;
        counter += 100.0 / total;
        const int now = int(counter);
        if (now != lastShown) {
            lastShown = now;
            UpdateStatusProgress("The Splitter's calculation is in progress:", uint8_t(std::min(now, 100)));
        }
    };
    auto prepare = [&](KNIFESTRUCT& k, qntFPOS a, qntFPOS b) {
        k.length = static_cast<float>(std::hypot(b.x - a.x, b.y - a.y));
        if (!m_bSelKnivesLayerVisible && k.selected) {
            ClearAlpha(m_SelKnivesLayer, WholeOf(m_SelKnivesLayer));
            m_bSelKnivesLayerVisible = 1;
        }
    };

    const uint32_t C = m_nColSplitters, R = m_nRowSplitters, stride = m_nKnotCols;
    for (uint32_t r = 0; r <= R && C; ++r)
        for (uint32_t c = 0; c < C; ++c) {
            KNIFESTRUCT& k = m_ColKnives[r * C + c];
            const qntFPOS a = i_spl_ConvertKnot(c + 1, r, ew, eh, origin);
            const qntFPOS b = i_spl_ConvertKnot(c + 1, r + 1, ew, eh, origin);
            prepare(k, a, b);
            m_Knots[r * stride + c + 1].pos = a;
            m_Knots[(r + 1) * stride + c + 1].pos = b;
            if (m_bCMExtras) {
                i_DrawKnotMarker(a, r * stride + c + 1, 0);
                if (r == R)
                    i_DrawKnotMarker(b, (r + 1) * stride + c + 1, 0);
            }
            i_spl_DrawKnife(&k, a, b);
            step();
        }
    for (uint32_t r = 0; r < R; ++r)
        for (uint32_t c = 0; c <= C; ++c) {
            KNIFESTRUCT& k = m_RowKnives[r * (C + 1) + c];
            const qntFPOS a = i_spl_ConvertKnot(c, r + 1, ew, eh, origin);
            const qntFPOS b = i_spl_ConvertKnot(c + 1, r + 1, ew, eh, origin);
            prepare(k, a, b);
            m_Knots[(r + 1) * stride + c].pos = a;
            m_Knots[(r + 1) * stride + c + 1].pos = b;
            if (m_bCMExtras) {
                if (c == 0)
                    i_DrawKnotMarker(a, (r + 1) * stride + c, 0);
                if (c == C)
                    i_DrawKnotMarker(b, (r + 1) * stride + c + 1, 0);
            }
            i_spl_DrawKnife(&k, a, b);
            step();
        }
    for (uint32_t i = 0; i < m_nAuxKnives; ++i) {
        AUXKNIFESTRUCT& x = m_AuxKnives[i];
        const qntFPOS a = i_spl_ConvertKnot(x.knotA, ew, eh, origin);
        const qntFPOS b = i_spl_ConvertKnot(x.knotB, ew, eh, origin);
        prepare(x.knife, a, b);
        i_spl_DrawKnife(&x.knife, a, b);
        step();
    }
    if (m_bCMExtras && m_nKnots >= 4) {
        const uint32_t corners[4] = {0, C + 1, (R + 2) * (C + 2) - 1, (C + 2) * (R + 1)};
        for (uint32_t knot : corners) {
            const qntFPOS p = i_spl_ConvertKnot(knot, ew, eh, origin);
            m_Knots[knot].pos = p;
            i_DrawKnotMarker(p, knot, 1);
        }
    }
    if (progress)
        view_StatusClear();
}

void CWnd_MainModel::i_spl_DrawKnife(KNIFESTRUCT* knife, qntFPOS start, qntFPOS end)
{
    const double dx = end.x - start.x, dy = end.y - start.y;
    if (!knife || !(dx * dx + dy * dy >= 1e-7))
        return;
    double w = 1.0;
    if (!m_bRazorCut)
        w = std::clamp(double(i_ZoomValue(int32_t(std::min<uint32_t>(knife->thickness, 255)))), 1.0, 1600.0);

    CQNF_Image* dest = &m_KnivesLayer;
    if (knife->moving) {
        dest = &m_OverlayLayer;
        w = 1.0;
    } else if (knife->selected) {
        dest = &m_SelKnivesLayer;
    }
    if (!dest->GetImageWidth())
        return;
    m_Drawing.SetDestination(dest);
    m_Drawing.antiAlias = m_bAntiAlias;
    m_Drawing.value = knife->off ? m_nDelKnifeOpacity : 255;

    if (!knife->points) {
        knife->points = new (std::nothrow) CQNF_Mem();
        if (!knife->points)
            return;
    }
    unsigned long count = 0;
    if (spl_KnifePolyline(*knife, start, end, *knife->points, count)) {
        knife->pointCount = uint32_t(count);
        if (knife->nodeCount >= 1)
            m_Drawing.DrawHQPolyLine(reinterpret_cast<qntFPOS*>(knife->points->GetPtr()), count, w, 1, 1, 1,
                                     std::max(1.0, w / 2.0));
        else
            m_Drawing.DrawHQLine(start, end, w, 1, 1, 1);
    }
    m_Drawing.SetDestination(&m_KnivesLayer);
}

bool CWnd_MainModel::spl_KnifePolyline(const KNIFESTRUCT& knife, qntFPOS start, qntFPOS end, CQNF_Mem& points,
                                       unsigned long& count)
{
    count = 0;
    const uint32_t n = std::min<uint32_t>(knife.nodeCount, kMaxNodes);
    if (n == 0) {
        if (points.GetSize() < 2 * sizeof(qntFPOS) && !points.alloc(2 * sizeof(qntFPOS)))
            return false;
        qntFPOS* pts = reinterpret_cast<qntFPOS*>(points.GetPtr());
        pts[0] = start;
        pts[1] = end;
        count = 2;
        return true;
    }
    m_KnifeSplinePoints[0] = CQNF_2DMath::QNSPLINEPOINT{start.x, start.y, 0.0f};
    const float c = knife.flipU ? 1.0f - knife.centerU : knife.centerU;
    const float kk = knife.knobSize / 100.0f;
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t j = knife.flipU ? n - 1 - i : i;
        float u = knife.flipU ? 1.0f - knife.U[j] : knife.U[j];
        float h = knife.flipH ? -knife.H[j] : knife.H[j];
        if (knife.knobSize != 100) {
            h *= kk;
            u = (u - c) * kk + c;
        }
        qntFPOS p = start;
        m_Math.HU2Coors(start, end, h, u, p);
        m_KnifeSplinePoints[i + 1] = CQNF_2DMath::QNSPLINEPOINT{p.x, p.y, knife.S[j]};
    }
    m_KnifeSplinePoints[n + 1] = CQNF_2DMath::QNSPLINEPOINT{end.x, end.y, 0.0f};
    return m_Math.CalcPointSpline(m_KnifeSplinePoints, n + 2, 8.0, &points, count);
}

void CWnd_MainModel::spl_DoShowFurtherSplitting(uint16_t columns, uint16_t rows, qntRECT_s view, qntRECT_s image)
{
    const uint16_t c = i_SplitterCount(columns);
    const uint16_t r = i_SplitterCount(rows);
    float cols[kMaxSplitters], rws[kMaxSplitters];
    if (c == m_nColSplitters)
        std::memcpy(cols, m_ColSplitters, sizeof(cols));
    else
        i_EvenSplit(cols, c);
    if (r == m_nRowSplitters)
        std::memcpy(rws, m_RowSplitters, sizeof(rws));
    else
        i_EvenSplit(rws, r);
    spl_DoRedrawBySimpleLines(c, r, cols, rws, view, image);
}

void CWnd_MainModel::spl_DoRedrawBySimpleLines(uint16_t nCols, uint16_t nRows, const float* colPos,
                                               const float* rowPos, qntRECT_s view, qntRECT_s image)
{
    if (!m_KnivesLayer.GetImageWidth() || Empty(view) || qnIsNullRect(image))
        return;
    ClearAlpha(m_KnivesLayer, view);
    m_bOverlayLayerVisible = 0;
    m_bSelKnivesLayerVisible = 0;
    m_Drawing.SetDestination(&m_KnivesLayer);
    m_Drawing.SetClipRect(view);
    m_Drawing.antiAlias = 1;
    m_Drawing.value = 255;
    const double zw = i_ZoomValue(int32_t(std::min<uint32_t>(m_nImageWidth, 65535)));
    const double zh = i_ZoomValue(int32_t(std::min<uint32_t>(m_nImageHeight, 65535)));
    const double sx = i_ZoomValue(image.left) - view.left, sy = i_ZoomValue(image.top) - view.top;
    for (uint16_t i = 0; i < nCols; ++i) {
        const double x = colPos[i] * zw - sx;
        if (x >= view.left && x <= view.right)
            m_Drawing.DrawHQLine(x, view.top, x, view.bottom, 1.0, 1, 1, 1);
    }
    for (uint16_t i = 0; i < nRows; ++i) {
        const double y = rowPos[i] * zh - sy;
        if (y >= view.top && y <= view.bottom)
            m_Drawing.DrawHQLine(view.left, y, view.right, y, 1.0, 1, 1, 1);
    }
}

void CWnd_MainModel::spl_DoRedrawHVSplitRulers()
{
    m_nColHandles = m_nRowHandles = 0;
    const qntRGBA8 colour = m_bCutMode ? qntRGBA8{213, 142, 31, 0} : qntRGBA8{200, 200, 200, 0};
    const double extentX = i_ZoomValue(int32_t(std::min<uint32_t>(m_nImageWidth, 65535)));
    const double extentY = i_ZoomValue(int32_t(std::min<uint32_t>(m_nImageHeight, 65535)));
    const int32_t pw = m_rcPreview.right - m_rcPreview.left, ph = m_rcPreview.bottom - m_rcPreview.top;
    m_PreviewMap[0] = double(m_nScrollX) - (m_rcPreview.left - m_rcHSplitRuler.left);
    m_PreviewMap[1] = extentX;
    m_PreviewMap[2] = double(m_nScrollY) - (m_rcPreview.top - m_rcVSplitRuler.top);
    m_PreviewMap[3] = extentY;

    auto box = [](CQNF_Image& img, int32_t l, int32_t t, int32_t r, int32_t b) {
        img.Set(qntRGBA8{0, 0, 0, 255}, 8, qntRECT_s{l, t, r, b});
    };
    if (m_HSplitRulerImage.GetImageWidth()) {
        m_HSplitRulerImage.Set(colour, 255, qnNullRect);
        const int32_t from = m_rcPreview.left - m_rcHSplitRuler.left;
        for (uint16_t i = 0; i < m_nColSplitters; ++i) {
            const float fx = static_cast<float>(m_ColSplitters[i] * extentX - m_PreviewMap[0]);
            if (!(fx >= float(from) && fx < float(from + pw)))
                continue;
            const int32_t x = static_cast<int32_t>(fx);
            box(m_HSplitRulerImage, x, 6, x + 1, 7);
            box(m_HSplitRulerImage, x - 1, 5, x + 2, 6);
            box(m_HSplitRulerImage, x - 2, 1, x + 3, 5);
            m_ColHandles[m_nColHandles] = qntPOS{x, 3};
            m_ColHandleSplitter[m_nColHandles++] = i;
        }
    }
    if (m_VSplitRulerImage.GetImageWidth()) {
        m_VSplitRulerImage.Set(colour, 255, qnNullRect);
        const int32_t from = m_rcPreview.top - m_rcVSplitRuler.top;
        for (uint16_t i = 0; i < m_nRowSplitters; ++i) {
            const float fy = static_cast<float>(m_RowSplitters[i] * extentY - m_PreviewMap[2]);
            if (!(fy >= float(from) && fy < float(from + ph)))
                continue;
            const int32_t y = static_cast<int32_t>(fy);
            box(m_VSplitRulerImage, 6, y, 7, y + 1);
            box(m_VSplitRulerImage, 5, y - 1, 6, y + 2);
            box(m_VSplitRulerImage, 1, y - 2, 5, y + 3);
            m_RowHandles[m_nRowHandles] = qntPOS{3, y};
            m_RowHandleSplitter[m_nRowHandles++] = i;
        }
    }
    view_RenderAndUpdate(m_rcHSplitRuler);
    view_RenderAndUpdate(m_rcVSplitRuler);
}
