// The knife editor's preview: geometry per zoom, node hit rectangles and
// transform handles, drawing of the curve and the extras, the gestures of
// the mouse and the node commands.
#include "cutter/CutterEditor.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace {

// Pixel coordinates from doubles that may be huge: saturated before the
// integer conversion.
int32_t Pix(double v)
{
    if (!(v == v))
        return 0;
    return int32_t(std::clamp(v, -1.0e9, 1.0e9));
}

int32_t Round(double v) { return Pix(std::floor(v + 0.5)); }

qntRECT_s Rect(int32_t l, int32_t t, int32_t r, int32_t b) { return qntRECT_s{l, t, r, b}; }

bool Inside(const qntRECT_s& r, int32_t x, int32_t y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }

bool Overlap(const qntRECT_s& a, const qntRECT_s& b)
{
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

}  // namespace

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
                x.DrawCircle(cx, cy, m_nRotRadius, box);
                x.DrawCircle(cx, cy, int16_t(m_nRotRadius - 8), box);
                fill(Rect(m_RotGrip[0] - 3, m_RotGrip[1] - 3, m_RotGrip[0] + 4, m_RotGrip[1] + 4), box);
                x.DrawCircle(cx, cy, 4, box);
                x.DrawLine(int16_t(cx - 6), cy, int16_t(cx + 6), cy, box);
                x.DrawLine(cx, int16_t(cy - 6), cx, int16_t(cy + 6), box);
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

// ---- Mouse -----------------------------------------------------------------------------------

bool CWnd_CutterEditor::OnLMouseDown(int16_t wx, int16_t wy, uint8_t modifiers)
{
    if (!m_bCreated || m_bCutting)
        return false;
    if (!Inside(m_rcPreview, wx, wy))
        return true;
    const int32_t px = wx - m_rcPreview.left, py = wy - m_rcPreview.top;
    const bool command = modifiers & KM_COMMAND, shift = modifiers & KM_SHIFT;
    const uint8_t keys = view_GetKeysStatus();
    const bool option = keys & KM_OPTION, space = keys & KM_SPACE;
    const uint32_t n = std::min<uint32_t>(m_Shape.nodeCount, kMaxNodes);

    if (!m_bExtrasVisible) {
        DoHideExtras();
        return true;
    }
    auto startNodeDrag = [&](uint32_t i) {
        m_bNodeDrag = 1;
        m_nAnchorNode = uint8_t(i);
        m_nGrabX = px - (m_NodeRects[i].left + 3);
        m_nGrabY = py - (m_NodeRects[i].top + 3);
    };
    if (m_bAnchorsShown) {
        for (uint32_t i = 0; i < n; ++i) {
            if (!Inside(m_NodeRects[i], px, py))
                continue;
            startNodeDrag(i);
            bool changed = false;
            if (!m_Shape.selected[i]) {
                if (!command)
                    std::fill(m_Shape.selected, m_Shape.selected + n, uint8_t(0));
                m_Shape.selected[i] = 1;
                changed = true;
            } else if (command) {
                m_Shape.selected[i] = 0;
                m_bNodeDrag = 0;
                changed = true;
            }
            if (changed)
                OnChangeNodeSelection();
            DoRedrawSpline();
            return true;
        }
    }
    int32_t box[4] = {0, 0, 0, 0};
    const bool anySel = i_SelectedCentreBox(box);
    for (uint32_t h = 0; h < 8; ++h) {
        if (!m_bHandleEnabled[h] || !Inside(m_HandleRects[h], px, py))
            continue;
        m_bHandleDrag = 1;
        m_nHandle = uint8_t(h);
        m_HandleStart[0] = px, m_HandleStart[1] = py;
        std::copy(box, box + 4, m_HandleBox);
        m_bRotate = command;
        double cx = (box[0] + box[2]) / 2.0, cy = (box[1] + box[3]) / 2.0, far = 0;
        for (uint32_t i = 0; i < n; ++i) {
            if (!m_Shape.selected[i])
                continue;
            const qntPOS c = NodeCentre(i);
            if (m_bRotate) {
                m_HandleKept[i][0] = c.x, m_HandleKept[i][1] = c.y;
                far = std::max(far, std::hypot(c.x - cx, c.y - cy));
            } else {
                const int32_t ew = box[2] - box[0], eh = box[3] - box[1];
                m_HandleKept[i][0] = ew ? double(c.x - box[0]) / ew : 0.0;
                m_HandleKept[i][1] = eh ? double(c.y - box[1]) / eh : 0.0;
            }
        }
        if (m_bRotate) {
            m_RotCentre[0] = cx, m_RotCentre[1] = cy;
            m_nRotRadius = int16_t(std::clamp(std::max(Round(far), 10) + 8, 0, 32767));
            const double d = std::hypot(px - cx, py - cy);
            const double ux = d > 0 ? (px - cx) / d : 1.0, uy = d > 0 ? (py - cy) / d : 0.0;
            m_RotGrip[0] = Round(cx + m_nRotRadius * ux);
            m_RotGrip[1] = Round(cy + m_nRotRadius * uy);
        }
        DoRedrawSpline();
        return true;
    }
    if ((!space && m_bAnchorsShown) || !anySel) {
        if (n == 0) {
            double dist = 0, u = 0;
            if (m_Math.PointToLineDistance(m_Geo.start, m_Geo.end, qntFPOS{double(px), double(py)}, dist, u) &&
                dist < kInsertDistance) {
                if (opAddNode(qntFPOS{double(px), double(py)}, 0, 0))
                    startNodeDrag(0);
                DoRedrawSpline();
                return true;
            }
        } else {
            const qntFPOS* s = Sampled();
            const uint32_t* seg = static_cast<const uint32_t*>(static_cast<const void*>(m_SampledIndex.GetPtr()));
            for (uint32_t k = 0; k + 1 < m_nSampled && s && seg; ++k) {
                double dist = 0, u = 0;
                if (!m_Math.PointToLineDistance(s[k], s[k + 1], qntFPOS{double(px), double(py)}, dist, u) ||
                    dist >= kInsertDistance)
                    continue;
                const uint32_t at = std::min<uint32_t>(seg[k], n);
                if (opAddNode(qntFPOS{double(px), double(py)}, command ? 1 : 0, at))
                    startNodeDrag(at);
                DoRedrawSpline();
                return true;
            }
        }
        m_bSelRect = 1;
        if (!option && !command && !shift) {
            std::fill(m_Shape.selected, m_Shape.selected + n, uint8_t(0));
            OnChangeNodeSelection();
        }
        m_SelRect[0] = m_SelRect[2] = px;
        m_SelRect[1] = m_SelRect[3] = py;
        std::copy(m_Shape.selected, m_Shape.selected + kMaxNodes, m_SelAtStart);
        DoRedrawSpline();
        return true;
    }
    if (px >= box[0] - 3 && px <= box[2] + 3 && py >= box[1] && py <= box[3]) {
        uint32_t last = 0;
        for (uint32_t i = 0; i < n; ++i)
            if (m_Shape.selected[i])
                last = i;
        startNodeDrag(last);
    } else if (!m_bAnchorsShown) {
        DoHideNodes();
    }
    return true;
}

void CWnd_CutterEditor::i_MoveSelectedTo(const qntFPOS* points)
{
    for (uint32_t i = 0; i < m_Shape.nodeCount && i < kMaxNodes; ++i) {
        if (!m_Shape.selected[i])
            continue;
        const qntFPOS hu = i_ToHU(points[i].x, points[i].y);
        m_Shape.pos[i].H = std::clamp(hu.x, -m_Geo.hLimit, m_Geo.hLimit);
        m_Shape.pos[i].U = std::clamp(hu.y, 0.0, 1.0);
    }
}

bool CWnd_CutterEditor::OnMouseMove(int16_t wx, int16_t wy, uint8_t modifiers)
{
    if (!m_bCreated || m_bCutting)
        return false;
    const int32_t px = wx - m_rcPreview.left, py = wy - m_rcPreview.top;
    const bool shift = modifiers & KM_SHIFT;
    const bool option = view_GetKeysStatus() & KM_OPTION;
    const uint32_t n = std::min<uint32_t>(m_Shape.nodeCount, kMaxNodes);
    UpdateStatus(view_GetStatusTip(Inside(m_rcPreview, wx, wy) ? "Zone_Preview" : "", 1, 255));

    if (m_bNodeDrag && m_nAnchorNode < n) {
        const qntFPOS t = i_ToHU(double(px - m_nGrabX), double(py - m_nGrabY));
        const double tu = std::clamp(t.y, 0.0, 1.0);
        double dH = m_Shape.pos[m_nAnchorNode].H - t.x;
        double dU = m_Shape.pos[m_nAnchorNode].U - tu;
        const double lim = m_Geo.hLimit;
        for (uint32_t i = 0; i < n; ++i) {
            if (!m_Shape.selected[i])
                continue;
            const double h = m_Shape.pos[i].H, u = m_Shape.pos[i].U;
            if (h - dH > lim)
                dH = h - lim;
            if (h - dH < -lim)
                dH = h + lim;
            if (u - dU > 1.0)
                dU = u - 1.0;
            if (u - dU < 0.0)
                dU = u;
        }
        for (uint32_t i = 0; i < n; ++i) {
            if (!m_Shape.selected[i])
                continue;
            m_Shape.pos[i].H -= dH;
            m_Shape.pos[i].U -= dU;
        }
        DoRedrawSpline();
    } else if (m_bSelRect) {
        const int32_t w = m_rcPreview.right - m_rcPreview.left, h = m_rcPreview.bottom - m_rcPreview.top;
        m_SelRect[2] = std::clamp(px, 0, w);
        m_SelRect[3] = std::clamp(py, 0, h);
        const qntRECT_s r = Rect(std::min(m_SelRect[0], m_SelRect[2]), std::min(m_SelRect[1], m_SelRect[3]),
                                 std::max(m_SelRect[0], m_SelRect[2]) + 1, std::max(m_SelRect[1], m_SelRect[3]) + 1);
        std::copy(m_SelAtStart, m_SelAtStart + kMaxNodes, m_Shape.selected);
        for (uint32_t i = 0; i < n; ++i) {
            if (!Overlap(m_NodeRects[i], r))
                continue;
            if (!option && !m_Shape.selected[i])
                m_Shape.selected[i] = 1;
            else if (option && m_Shape.selected[i])
                m_Shape.selected[i] = 0;
        }
        DoRedrawExtras(1);
        OnChangeNodeSelection();
    } else if (m_bHandleDrag && m_bRotate) {
        const double cx = m_RotCentre[0], cy = m_RotCentre[1];
        const double a0 = std::atan2(cy - m_HandleStart[1], cx - m_HandleStart[0]);
        const double a1 = std::atan2(cy - py, cx - px);
        m_RotGrip[0] = Round(cx - m_nRotRadius * std::cos(a1));
        m_RotGrip[1] = Round(cy - m_nRotRadius * std::sin(a1));
        double d = a0 - a1;
        if (shift) {
            const double step = option ? 45.0 : 15.0;
            d = std::trunc(d * 180.0 / std::numbers::pi / step) * step * std::numbers::pi / 180.0;
        }
        const double c = std::cos(d), s = std::sin(d);
        qntFPOS to[kMaxNodes];
        for (uint32_t i = 0; i < n; ++i) {
            const double x = m_HandleKept[i][0] - cx, y = m_HandleKept[i][1] - cy;
            to[i] = qntFPOS{x * c + y * s + cx, y * c - x * s + cy};
        }
        i_MoveSelectedTo(to);
        DoRedrawSpline();
    } else if (m_bHandleDrag) {
        int32_t L = m_HandleBox[0], T = m_HandleBox[1], R = m_HandleBox[2], B = m_HandleBox[3];
        const int32_t w = R - L, h = B - T;
        int32_t dx = px - m_HandleStart[0], dy = py - m_HandleStart[1];
        int32_t mw = kMinBox, mh = kMinBox;
        const uint8_t hd = m_nHandle;
        const bool corner = hd == 0 || hd == 2 || hd == 4 || hd == 6;
        if (shift && corner && (w > 0 || h > 0)) {
            if (hd == 0 || hd == 4) {
                if (w <= h)
                    dx = dy * w / h, mw = w * kMinBox / h;
                else
                    dy = dx * h / w, mh = h * kMinBox / w;
            } else {
                if (h < w)
                    dy = -(dx * h / w), mh = h * kMinBox / w;
                else
                    dx = -(dy * w / h), mw = w * kMinBox / h;
            }
        }
        // Which edges follow the mouse; with Option the opposite ones move
        // the other way.
        const bool left = hd == 0 || hd == 6 || hd == 7, right = hd == 2 || hd == 3 || hd == 4;
        const bool top = hd == 0 || hd == 1 || hd == 2, bottom = hd == 4 || hd == 5 || hd == 6;
        if (left) {
            L += dx;
            if (option)
                R -= dx;
        }
        if (right) {
            R += dx;
            if (option)
                L -= dx;
        }
        if (top) {
            T += dy;
            if (option)
                B -= dy;
        }
        if (bottom) {
            B += dy;
            if (option)
                T -= dy;
        }
        // Past the opposite edge the box collapses, then turns inside out.
        if (left && L > R)
            L = L - R < mw ? R : L - mw;
        if (right && R < L)
            R = L - R < mw ? L : R + mw;
        if (top && T > B)
            T = T - B < mh ? B : T - mh;
        if (bottom && B < T)
            B = T - B < mh ? T : B + mh;
        qntFPOS to[kMaxNodes];
        for (uint32_t i = 0; i < n; ++i)
            to[i] = qntFPOS{L + (R - L) * m_HandleKept[i][0], T + (B - T) * m_HandleKept[i][1]};
        i_MoveSelectedTo(to);
        DoRedrawSpline();
    }
    return true;
}

bool CWnd_CutterEditor::OnLMouseUp(int16_t /*x*/, int16_t /*y*/, uint8_t /*modifiers*/)
{
    if (!m_bCreated || m_bCutting)
        return false;
    if (m_bNodeDrag || m_bHandleDrag)
        NotifyMain_ShapeChanged(1);
    i_EndDrags();
    DoRedrawExtras(0);
    OnNewOperation(true);
    return true;
}

void CWnd_CutterEditor::i_EndDrags()
{
    m_bNodeDrag = m_bSelRect = m_bHandleDrag = m_bRotate = 0;
}

uint16_t CWnd_CutterEditor::CursorAt(int16_t wx, int16_t wy) const
{
    if (!Inside(m_rcPreview, wx, wy))
        return CUR_BASE;
    const int32_t px = wx - m_rcPreview.left, py = wy - m_rcPreview.top;
    auto byHandle = [](uint32_t h) -> uint16_t {
        return uint16_t(h == 3 || h == 7 ? CUR_HORIZONTAL : h == 1 || h == 5 ? CUR_VERTICAL : CUR_MOVE);
    };
    if (m_bHandleDrag)
        return m_bRotate ? uint16_t(CUR_ROTATE) : byHandle(m_nHandle);
    if (m_bNodeDrag)
        return CUR_MOVE;
    const uint32_t n = std::min<uint32_t>(m_Shape.nodeCount, kMaxNodes);
    if (m_bAnchorsShown)
        for (uint32_t i = 0; i < n; ++i)
            if (Inside(m_NodeRects[i], px, py))
                return CUR_MOVE;
    const uint8_t keys = view_GetKeysStatus();
    for (uint32_t h = 0; h < 8; ++h)
        if (m_bHandleEnabled[h] && Inside(m_HandleRects[h], px, py))
            return (keys & KM_COMMAND) ? uint16_t(CUR_ROTATE) : byHandle(h);
    int32_t box[4];
    if ((!m_bAnchorsShown || (keys & KM_SPACE)) && i_SelectedCentreBox(box) && px >= box[0] - 3 &&
        px <= box[2] + 3 && py >= box[1] && py <= box[3])
        return CUR_MOVE;
    return CUR_DEFAULT;
}

// ---- Node operations ---------------------------------------------------------------------------

uint8_t CWnd_CutterEditor::opAddNode(qntFPOS point, uint8_t keepSelection, uint32_t position)
{
    const uint32_t n = std::min<uint32_t>(m_Shape.nodeCount, kMaxNodes);
    if (n >= kMaxNodes) {
        view_Beep();
        return 0;
    }
    position = std::min(position, n);
    const qntFPOS hu = i_ToHU(point.x, point.y);
    SPLINE_STRUCT s = m_Shape;
    for (uint32_t i = n; i > position; --i) {
        s.pos[i] = s.pos[i - 1];
        s.S[i] = s.S[i - 1];
        s.selected[i] = s.selected[i - 1];
    }
    s.pos[position] = {hu.x, hu.y};
    s.S[position] = m_fNewSmoothness;
    s.nodeCount = uint8_t(n + 1);
    for (uint32_t i = 0; i <= n; ++i)
        if (!keepSelection)
            s.selected[i] = 0;
    s.selected[position] = 1;
    m_Shape = s;
    DoRedrawSpline();
    OnNewOperation(true);
    OnChangeNodeSelection();
    return 1;
}

void CWnd_CutterEditor::opDelSelectedNodes()
{
    const uint32_t n = std::min<uint32_t>(m_Shape.nodeCount, kMaxNodes);
    uint32_t k = 0;
    for (uint32_t i = 0; i < n; ++i) {
        if (m_Shape.selected[i])
            continue;
        m_Shape.pos[k] = m_Shape.pos[i];
        m_Shape.S[k] = m_Shape.S[i];
        m_Shape.selected[k] = 0;
        ++k;
    }
    m_Shape.nodeCount = uint8_t(k);
    DoRedrawSpline();
    OnNewOperation(true);
    OnChangeNodeSelection();
    NotifyMain_ShapeChanged(0);
}

namespace {

template <class F>
void ForNodes(CWnd_CutterModel::SPLINE_STRUCT& s, F f)
{
    for (uint32_t i = 0; i < s.nodeCount && i < CWnd_CutterModel::kMaxNodes; ++i)
        f(i);
}

}  // namespace

void CWnd_CutterEditor::i_SetSelection(int mode)
{
    ForNodes(m_Shape, [&](uint32_t i) { m_Shape.selected[i] = mode < 0 ? !m_Shape.selected[i] : mode > 0; });
    m_bAnchorsShown = 1;
    DoRedrawExtras(1);
    OnChangeNodeSelection();
    OnNewOperation(true);
}

void CWnd_CutterEditor::opSelectAllNodes() { i_SetSelection(1); }

void CWnd_CutterEditor::opUnSelectAllNodes() { i_SetSelection(0); }

void CWnd_CutterEditor::opInvertSelection() { i_SetSelection(-1); }

void CWnd_CutterEditor::opAlign(uint8_t mode)
{
    bool any = false;
    double minH = 0, maxH = 0, minU = 0, maxU = 0;
    ForNodes(m_Shape, [&](uint32_t i) {
        if (!m_Shape.selected[i])
            return;
        const double h = m_Shape.pos[i].H, u = m_Shape.pos[i].U;
        if (!any) {
            minH = maxH = h, minU = maxU = u;
            any = true;
        }
        minH = std::min(minH, h), maxH = std::max(maxH, h), minU = std::min(minU, u), maxU = std::max(maxU, u);
    });
    if (any)
        ForNodes(m_Shape, [&](uint32_t i) {
            if (!m_Shape.selected[i])
                return;
            auto& p = m_Shape.pos[i];
            switch (mode) {
            case 0: p.U = minU; break;
            case 1: p.U = (minU + maxU) / 2; break;
            case 2: p.U = maxU; break;
            // Positive H lies to the left of the knife.
            case 3: p.H = maxH; break;
            case 4: p.H = (minH + maxH) / 2; break;
            case 5: p.H = minH; break;
            default: break;
            }
        });
    DoRedrawSpline();
    OnNewOperation(true);
    NotifyMain_ShapeChanged(0);
}

int CWnd_CutterEditor::CNodesSorterIDS::CompareElements(const void* a, const void* b)
{
    uint32_t i, j;
    std::memcpy(&i, a, 4);
    std::memcpy(&j, b, 4);
    if (!m_pEditor)
        return 0;
    const SPLINE_STRUCT& s = m_pEditor->m_Shape;
    const uint32_t n = std::min<uint32_t>(s.nodeCount, kMaxNodes);
    if (i >= n || j >= n)
        return 0;
    const double x = m_bByU ? s.pos[i].U : s.pos[i].H;
    const double y = m_bByU ? s.pos[j].U : s.pos[j].H;
    if (x == y)
        return 0;
    return y > x ? -1 : 1;
}

void CWnd_CutterEditor::opDistribute(uint8_t mode)
{
    // The array's exchange sort stays within bounds whatever the values
    // (a NaN compares unordered both ways).
    CNodesSorterIDS ids(this, mode == 0);
    ForNodes(m_Shape, [&](uint32_t i) {
        if (m_Shape.selected[i])
            ids.Add(i);
    });
    if (ids.GetSize() < 3 || !ids.SortElements(1))
        return;
    auto value = [&](uint32_t i) -> double& { return mode == 0 ? m_Shape.pos[i].U : m_Shape.pos[i].H; };
    const uint32_t c = ids.GetSize();
    const double first = value(ids[0]), last = value(ids[c - 1]);
    for (uint32_t k = 1; k + 1 < c; ++k)
        value(ids[k]) = first + double(k) * (last - first) / double(c - 1);
    DoRedrawSpline();
    OnNewOperation(true);
    NotifyMain_ShapeChanged(0);
}

void CWnd_CutterEditor::opFlipH()
{
    ForNodes(m_Shape, [&](uint32_t i) { m_Shape.pos[i].H = -m_Shape.pos[i].H; });
    DoRedrawSpline();
    OnNewOperation(true);
    NotifyMain_ShapeChanged_FlipH();
}

void CWnd_CutterEditor::opFlipU()
{
    const uint32_t n = std::min<uint32_t>(m_Shape.nodeCount, kMaxNodes);
    ForNodes(m_Shape, [&](uint32_t i) { m_Shape.pos[i].U = 1.0 - m_Shape.pos[i].U; });
    std::reverse(m_Shape.pos, m_Shape.pos + n);
    std::reverse(m_Shape.S, m_Shape.S + n);
    std::reverse(m_Shape.selected, m_Shape.selected + n);
    DoRedrawSpline();
    OnNewOperation(true);
    NotifyMain_ShapeChanged_FlipU();
}

void CWnd_CutterEditor::opSetSmoothness(double s, uint8_t commit)
{
    m_fNewSmoothness = s;
    bool changed = false;
    ForNodes(m_Shape, [&](uint32_t i) {
        if (m_Shape.selected[i] && m_Shape.S[i] != s) {
            m_Shape.S[i] = s;
            changed = true;
        }
    });
    if (changed)
        DoRedrawSpline();
    if (commit) {
        OnNewOperation(true);
        NotifyMain_ShapeChanged(1);
    }
}

void CWnd_CutterEditor::opSetShapeFromData(const SPLINE_STRUCT& shape, uint8_t notify)
{
    SPLINE_STRUCT s{};
    s.nodeCount = uint8_t(std::min<uint32_t>(shape.nodeCount, kMaxNodes));
    for (uint32_t i = 0; i < s.nodeCount; ++i) {
        s.pos[i] = shape.pos[i];
        s.S[i] = shape.S[i];
        s.selected[i] = 1;
    }
    m_Shape = s;
    DoRedrawSpline();
    OnNewOperation(false);
    OnChangeNodeSelection();
    if (notify)
        NotifyMain_ShapeChanged(0);
}

void CWnd_CutterEditor::i_SetSmoothnessControls(uint32_t value, bool mixed)
{
    m_Ctl.smoothnessSlider = std::min<uint32_t>(value, 100);
    m_Ctl.smoothnessEdit = mixed ? " ???" : std::to_string(m_Ctl.smoothnessSlider);
}

void CWnd_CutterEditor::OnChangeNodeSelection()
{
    m_bSmoothnessLive = 0;
    const uint32_t n = std::min<uint32_t>(m_Shape.nodeCount, kMaxNodes);
    uint32_t count = 0;
    double sum = 0, common = 0;
    bool differ = false;
    for (uint32_t i = 0; i < n; ++i) {
        if (!m_Shape.selected[i])
            continue;
        if (count == 0)
            common = m_Shape.S[i];
        else if (m_Shape.S[i] != common)
            differ = true;
        sum += m_Shape.S[i];
        ++count;
    }
    auto percent = [](double v) -> uint32_t {
        const double p = v * 100.0;
        return p >= 100.0 ? 100u : p > 0.0 ? uint32_t(p) : 0u;
    };
    if (count) {
        m_Ctl.smoothnessEnabled = 1;
        if (differ)
            i_SetSmoothnessControls(percent(sum / count), true);
        else
            i_SetSmoothnessControls(percent(common), false);
    } else {
        m_Ctl.smoothnessEnabled = 0;
    }
    i_UpdateReClone();
    m_bSmoothnessLive = 1;
    view_ControlsChanged();
}

// ---- Undo glue ------------------------------------------------------------------------------

void CWnd_CutterEditor::OnChangeUndoBtnsState(uint8_t undoEnabled, uint8_t redoEnabled)
{
    m_Ctl.undo = undoEnabled;
    m_Ctl.redo = redoEnabled;
}

void CWnd_CutterEditor::i_UpdateUndoButtons() { OnChangeUndoBtnsState(m_Undo.CanUndo(), m_Undo.CanRedo()); }

void CWnd_CutterEditor::UndoInit()
{
    m_Undo.Init(m_Shape);
    i_UpdateUndoButtons();
}

void CWnd_CutterEditor::OnNewOperation(bool check)
{
    m_Undo.OnNewOperation(m_Shape, check);
    i_UpdateUndoButtons();
    view_ControlsChanged();
}

void CWnd_CutterEditor::UndoRestore()
{
    const SPLINE_STRUCT* s = m_Undo.Current();
    if (!s)
        return;
    m_Shape = *s;
    DoRedrawSpline();
    OnChangeNodeSelection();
    NotifyMain_ShapeChanged(0);
}

void CWnd_CutterEditor::opUndo()
{
    if (m_Undo.Undo())
        UndoRestore();
    i_UpdateUndoButtons();
    view_ControlsChanged();
}

void CWnd_CutterEditor::opRedo()
{
    if (m_Undo.Redo())
        UndoRestore();
    i_UpdateUndoButtons();
    view_ControlsChanged();
}
