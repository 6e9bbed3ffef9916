// The knife editor's preview: geometry per zoom, node hit rectangles and
// transform handles, and drawing of the curve and the extras. The mouse
// gestures are in CutterMouse.cpp, the node commands in CutterNodes.cpp.
#include "cutter/CutterEditor.h"
#include "cutter/CutterEditorHelpers.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

using namespace cutteredit;

// ---- Geometry ---------------------------------------------------------------------------

CWnd_CutterEditor::GEOMETRY CWnd_CutterEditor::ComputeGeometry(int32_t width, int32_t height, uint8_t zoom)
{
    GEOMETRY g;
    g.length = double(height - 25) / double(1 << std::min<uint8_t>(zoom, 2));
    const double x = double(width / 2);
    const double y0 = std::max(0.0, (height - g.length) / 2.0);
    g.start = qntFPOS{x, y0};
    g.end = qntFPOS{x, std::min(double(height - 1), y0 + g.length)};
    g.hLimit = g.length > 0 ? (double(width - 25) / 2.0) / g.length : 1.0;
    return g;
}

qntFPOS CWnd_CutterEditor::NodeCentreExact(uint32_t i) const
{
    qntFPOS p{0, 0};
    const_cast<CQNF_2DMath&>(m_Math).HU2Coors(m_Geo.start, m_Geo.end, m_Shape.pos[i].H, m_Shape.pos[i].U, p);
    return p;
}

qntPOS CWnd_CutterEditor::NodeCentre(uint32_t i) const
{
    const qntFPOS p = NodeCentreExact(i);
    return qntPOS{Pix(p.x), Pix(p.y)};
}

qntFPOS CWnd_CutterEditor::i_ToHU(double x, double y) const
{
    double h = 0, u = 0;
    const_cast<CQNF_2DMath&>(m_Math).Coors2HU(m_Geo.start, m_Geo.end, qntFPOS{x, y}, h, u);
    return qntFPOS{h, u};
}

uint32_t CWnd_CutterEditor::i_SelectedCount() const
{
    uint32_t n = 0;
    for (uint32_t i = 0; i < m_Shape.nodeCount && i < kMaxNodes; ++i)
        n += m_Shape.selected[i] != 0;
    return n;
}

bool CWnd_CutterEditor::i_SelectedCentreBox(int32_t box[4]) const
{
    bool any = false;
    for (uint32_t i = 0; i < m_Shape.nodeCount && i < kMaxNodes; ++i) {
        if (!m_Shape.selected[i])
            continue;
        const qntPOS c = NodeCentre(i);
        if (!any) {
            box[0] = box[2] = c.x;
            box[1] = box[3] = c.y;
            any = true;
        } else {
            box[0] = std::min(box[0], c.x);
            box[1] = std::min(box[1], c.y);
            box[2] = std::max(box[2], c.x);
            box[3] = std::max(box[3], c.y);
        }
    }
    return any;
}

void CWnd_CutterEditor::i_ComputeNodeRects()
{
    for (uint32_t i = 0; i < m_Shape.nodeCount && i < kMaxNodes; ++i) {
        const qntPOS c = NodeCentre(i);
        m_NodeRects[i] = Rect(c.x - 3, c.y - 3, c.x + 4, c.y + 4);
    }
}

void CWnd_CutterEditor::i_ComputeHandles()
{
    std::fill(std::begin(m_bHandleEnabled), std::end(m_bHandleEnabled), uint8_t(0));
    if (m_bSelRect || i_SelectedCount() < 2)
        return;
    int32_t l = 0, t = 0, r = 0, b = 0;
    bool first = true;
    for (uint32_t i = 0; i < m_Shape.nodeCount && i < kMaxNodes; ++i) {
        if (!m_Shape.selected[i])
            continue;
        const qntRECT_s& n = m_NodeRects[i];
        if (first) {
            l = n.left, t = n.top, r = n.right, b = n.bottom;
            first = false;
        } else {
            l = std::min(l, n.left), t = std::min(t, n.top), r = std::max(r, n.right), b = std::max(b, n.bottom);
        }
    }
    const int32_t mx = (l + r) / 2, my = (t + b) / 2;
    m_HandleRects[0] = Rect(l - 6, t - 6, l - 1, t - 1);
    m_HandleRects[1] = Rect(mx - 2, t - 6, mx + 3, t - 1);
    m_HandleRects[2] = Rect(r + 1, t - 6, r + 6, t - 1);
    m_HandleRects[3] = Rect(r + 1, my - 2, r + 6, my + 3);
    m_HandleRects[4] = Rect(r + 1, b + 1, r + 6, b + 6);
    m_HandleRects[5] = Rect(mx - 2, b + 1, mx + 3, b + 6);
    m_HandleRects[6] = Rect(l - 6, b + 1, l - 1, b + 6);
    m_HandleRects[7] = Rect(l - 6, my - 2, l - 1, my + 3);
    const bool oneColumn = r - l == 7, oneRow = b - t == 7;
    for (uint32_t h = 0; h < 8; ++h) {
        bool on = true;
        if (oneColumn && h != 1 && h != 5)
            on = false;
        if (oneRow && h != 3 && h != 7)
            on = false;
        m_bHandleEnabled[h] = on;
    }
}

bool CWnd_CutterEditor::i_SampleCurve()
{
    m_nSampled = 0;
    const uint32_t n = std::min<uint32_t>(m_Shape.nodeCount, kMaxNodes);
    if (n == 0)
        return true;
    m_SplinePoints[0] = {m_Geo.start.x, m_Geo.start.y, 0.0f};
    for (uint32_t i = 0; i < n; ++i) {
        const qntFPOS c = NodeCentreExact(i);
        m_SplinePoints[i + 1] = {c.x, c.y, float(m_Shape.S[i])};
    }
    m_SplinePoints[n + 1] = {m_Geo.end.x, m_Geo.end.y, 0.0f};
    unsigned long count = 0;
    if (!m_Math.CalcPointSpline(m_SplinePoints, n + 2, 4.0, &m_Sampled, count, &m_SampledIndex))
        return false;
    m_nSampled = uint32_t(count);
    return true;
}

// ---- Drawing ------------------------------------------------------------------------------

void CWnd_CutterEditor::DoRedrawSpline()
{
    const int32_t w = m_rcPreview.right - m_rcPreview.left, h = m_rcPreview.bottom - m_rcPreview.top;
    m_Geo = ComputeGeometry(w, h, m_nZoom);
    const bool layer = m_CurveLayer.GetImageWidth() != 0;
    if (layer) {
        m_CurveLayer.Set(qntRGBA8{0, 0, 0, 0}, 8);
        m_Drawing.SetDestination(&m_CurveLayer);
        m_Drawing.SetClipRect(qnNullRect);
    }
    static const double kWidth[3] = {1.5, 1.2, 1.0};
    static const double kMinSq[3] = {4.0, 2.0, 1.0};
    const uint8_t z = std::min<uint8_t>(m_nZoom, 2);
    if (std::min<uint32_t>(m_Shape.nodeCount, kMaxNodes) == 0) {
        m_nSampled = 0;
        if (layer) {
            qntFPOS line[2] = {m_Geo.start, m_Geo.end};
            m_Drawing.DrawHQPolyLine(line, 2, kWidth[z], 1, 1, 1, 1.0);
        }
    } else {
        if (!i_SampleCurve())
            return;
        if (layer)
            m_Drawing.DrawHQPolyLine(reinterpret_cast<qntFPOS*>(m_Sampled.GetPtr()), m_nSampled, kWidth[z], 1, 1, 1,
                                     kMinSq[z]);
    }
    DoRedrawExtras(0);
}

void CWnd_CutterEditor::DoRedrawExtras(uint8_t show)
{
    i_ComputeNodeRects();
    i_ComputeHandles();
    CQNF_Image& x = m_ExtrasLayer;
    if (x.GetImageWidth() != 0) {
        x.Set(qntRGBA8{0, 0, 0, 0}, 15);
        const qntRGBA8 anchor{4, 58, 138, 255}, box{12, 135, 6, 90};
        auto fill = [&](qntRECT_s r, qntRGBA8 c) { x.Set(c, 15, r); };
        auto outline = [&](qntRECT_s r, qntRGBA8 c) {
            fill(Rect(r.left, r.top, r.right, r.top + 1), c);
            fill(Rect(r.left, r.bottom - 1, r.right, r.bottom), c);
            fill(Rect(r.left, r.top, r.left + 1, r.bottom), c);
            fill(Rect(r.right - 1, r.top, r.right, r.bottom), c);
        };
        const uint32_t n = std::min<uint32_t>(m_Shape.nodeCount, kMaxNodes);
        if (m_bAnchorsShown)
            for (uint32_t i = 0; i < n; ++i)
                {
                if (m_Shape.selected[i])
                    fill(m_NodeRects[i], anchor);
                else
                    outline(m_NodeRects[i], anchor);
            }
        if (!m_bSelRect && i_SelectedCount() >= 2) {
            if (m_bHandleDrag && m_bRotate) {
                const int16_t cx = int16_t(Round(m_RotCentre[0])), cy = int16_t(Round(m_RotCentre[1]));
                // The layer holds straight colours over transparency, where a
                // blended stroke would come out darkened by its own alpha and
                // all but vanish. The strokes go down opaque and then take
                // the box's alpha, so they show as the box and handles do.
                const qntRGBA8 stroke{box.r, box.g, box.b, 255};
                const int16_t far = int16_t(m_nRotRadius + 1);
                x.DrawCircle(cx, cy, m_nRotRadius, stroke);
                x.DrawCircle(cx, cy, int16_t(m_nRotRadius - 8), stroke);
                x.DrawCircle(cx, cy, 4, stroke);
                x.DrawLine(int16_t(cx - 6), cy, int16_t(cx + 6), cy, stroke);
                x.DrawLine(cx, int16_t(cy - 6), cx, int16_t(cy + 6), stroke);
                qntRECT_s around = Rect(cx - far, cy - far, cx + far + 1, cy + far + 1);
                if (qnimg::ClipRect(around, x.GetImageWidth(), x.GetImageHeight())) {
                    uint8_t* planes[4] = {x.GetPlane(0), x.GetPlane(1), x.GetPlane(2), x.GetPlane(3)};
                    const size_t stride = x.GetImageWidth();
                    for (int32_t yy = around.top; yy < around.bottom; ++yy)
                        for (int32_t xx = around.left; xx < around.right; ++xx) {
                            const size_t at = size_t(yy) * stride + size_t(xx);
                            if (planes[3][at] == 255 && planes[0][at] == box.r && planes[1][at] == box.g &&
                                planes[2][at] == box.b)
                                planes[3][at] = box.a;
                        }
                }
                fill(Rect(m_RotGrip[0] - 3, m_RotGrip[1] - 3, m_RotGrip[0] + 4, m_RotGrip[1] + 4), box);
            } else {
                const qntRECT_s& h0 = m_HandleRects[0];
                const qntRECT_s& h4 = m_HandleRects[4];
                outline(Rect(h0.right, h0.bottom, h4.left, h4.top), box);
                for (uint32_t h = 0; h < 8; ++h)
                    {
                    if (m_bHandleEnabled[h])
                        fill(m_HandleRects[h], box);
                    else
                        outline(m_HandleRects[h], box);
                }
            }
        }
        if (m_bSelRect) {
            qntRECT_s r = Rect(std::min(m_SelRect[0], m_SelRect[2]), std::min(m_SelRect[1], m_SelRect[3]),
                               std::max(m_SelRect[0], m_SelRect[2]) + 1, std::max(m_SelRect[1], m_SelRect[3]) + 1);
            if (qnimg::ClipRect(r, x.GetImageWidth(), x.GetImageHeight())) {
                // Only where nothing else is drawn.
                uint8_t* planes[4];
                for (unsigned p = 0; p < 4; ++p)
                    planes[p] = x.GetPlane(p);
                const size_t stride = x.GetImageWidth();
                for (int32_t yy = r.top; yy < r.bottom; ++yy)
                    for (int32_t xx = r.left; xx < r.right; ++xx) {
                        const size_t at = size_t(yy) * stride + size_t(xx);
                        if (planes[3][at])
                            continue;
                        const bool edge = yy == r.top || yy == r.bottom - 1 || xx == r.left || xx == r.right - 1;
                        const qntRGBA8 c = edge ? qntRGBA8{137, 132, 4, 220} : qntRGBA8{241, 236, 98, 80};
                        planes[0][at] = c.r, planes[1][at] = c.g, planes[2][at] = c.b, planes[3][at] = c.a;
                    }
            }
        }
        if (m_nZoom != 0) {
            const qntRGBA8 zl{0, 0, 180, 200};
            fill(Rect(0, Pix(m_Geo.start.y), x.GetImageWidth(), Pix(m_Geo.start.y) + 1), zl);
            fill(Rect(0, Pix(m_Geo.end.y), x.GetImageWidth(), Pix(m_Geo.end.y) + 1), zl);
        }
    }
    if (show == 1)
        m_bExtrasVisible = 1;
    view_UpdatePreview();
}

void CWnd_CutterEditor::DoHideNodes()
{
    m_bAnchorsShown = m_bExtrasVisible ? uint8_t(!m_bAnchorsShown) : uint8_t(1);
    DoRedrawExtras(1);
}

void CWnd_CutterEditor::DoHideExtras()
{
    if (m_bAnchorsShown) {
        m_bExtrasVisible = !m_bExtrasVisible;
        view_UpdatePreview();
    } else {
        m_bAnchorsShown = 1;
        DoRedrawExtras(1);
    }
}
