// The knife editor's preview under the mouse: pressing, dragging and
// releasing on nodes, handles and the selection frame, and the cursor.
#include "cutter/CutterEditor.h"
#include "cutter/CutterEditorHelpers.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

using namespace cutteredit;

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
    if (!m_bAboveControl)
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
