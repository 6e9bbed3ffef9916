// Knife rasterising: every knife of the layout as coverage in one plane.
#include "engine/Tessolo.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

float Sane(float v, float lo, float hi)
{
    if (!(v == v))
        return 0.0f;
    return std::min(std::max(v, lo), hi);
}

}  // namespace

bool CTessolo::i_KnifeLine(const KNIFESTRUCT_RENDERER* knife, qntFPOS a, qntFPOS b, KnifeScratch& scratch,
                           const qntFPOS*& points, unsigned long& count, double& width) const
{
    // A knife that is off, or whose node count no record can hold, draws
    // nothing; so does a knife between two knots in one place.
    if (!knife || knife->nodes == kKnifeOff || knife->nodes > kMaxNodes)
        return false;
    const double ddx = b.x - a.x;
    const double ddy = b.y - a.y;
    if (ddx * ddx + ddy * ddy < 1e-07)
        return false;

    width = std::max(1.0, double(knife->width));
    if (m_bCut)
        width = 1.0;

    const uint32_t n = knife->nodes;
    if (n == 0) {
        scratch.ends[0] = a;
        scratch.ends[1] = b;
        points = scratch.ends;
        count = 2;
        return true;
    }
    CQNF_2DMath::QNSPLINEPOINT* nodes = scratch.nodes;
    nodes[0] = CQNF_2DMath::QNSPLINEPOINT{a.x, a.y, 0.0f};
    for (uint32_t i = 0; i < n; ++i) {
        qntFPOS p{a.x, a.y};
        // Node values outside their ranges (or not numbers) are taken at the
        // nearest value a knife may hold.
        scratch.math.HU2Coors(a, b, Sane(knife->H[i], -3.0f, 3.0f), Sane(knife->U[i], 0.0f, 1.0f), p);
        nodes[i + 1] = CQNF_2DMath::QNSPLINEPOINT{p.x, p.y, Sane(knife->S[i], -2.0f, 2.0f)};
    }
    nodes[n + 1] = CQNF_2DMath::QNSPLINEPOINT{b.x, b.y, 0.0f};
    count = 0;
    if (!scratch.math.CalcPointSpline(nodes, n + 2, 2.0, &scratch.line, count))
        return false;
    points = reinterpret_cast<const qntFPOS*>(scratch.line.GetPtr());
    return true;
}

void CTessolo::i_DrawKnife(const KNIFESTRUCT_RENDERER* knife, qntFPOS a, qntFPOS b)
{
    if (m_pKnifeStrokes) {
        m_pKnifeStrokes->jobs.push_back(KnifeStrokes::Job{knife, a, b});
        return;
    }
    const qntFPOS* points = nullptr;
    unsigned long count = 0;
    double width = 1.0;
    if (!i_KnifeLine(knife, a, b, m_KnifeScratch, points, count, width))
        return;
    m_Drawing.value = 255;
    m_Drawing.antiAlias = m_bSmooth;
    if (knife->nodes == 0) {
        m_Drawing.DrawHQLine(a, b, width, 1, 1, 1);
        return;
    }
    m_nPolyLinePoints = static_cast<uint32_t>(count);
    m_Drawing.DrawHQPolyLine(points, count, width, 1, 1, 1, std::max(1.0, width * 0.25));
}

bool CTessolo::DrawSplitting(long width, long height, uint8_t* plane, uint32_t stride, uint8_t from, uint8_t to)
{
    if (m_bBusy)
        return false;
    BusyScope busy(m_bBusy);
    return i_DrawSplitting(width, height, plane, stride, from, to);
}

bool CTessolo::i_DrawSplitting(long width, long height, uint8_t* plane, uint32_t stride, uint8_t from, uint8_t to)
{
    if (!plane || width <= 0 || height <= 0)
        return false;
    if (!i_ProgressStep(0, from, to))
        return false;
    if (!m_pKnifeStrokes)
        std::memset(plane, 0, size_t(height) * stride);
    if (i_Canceled())
        return false;
    SetLocalProgress(5, from, to);

    if (!m_pKnifeStrokes)
        m_Drawing.SetDestination(plane, stride, width, height);

    const double w = double(width);
    const double h = double(height);
    const uint64_t total = uint64_t(m_nVKnives) + m_nHKnives + m_nFreeKnives;
    const double step = total ? 95.0 / double(total) : 0.0;
    double running = 5.0;
    int shown = 5;

    // After each knife: report when the integer part moves on.
    auto advance = [&]() {
        running += step;
        const int now = static_cast<int>(running);
        if (now == shown)
            return true;
        shown = now;
        return i_ProgressStep(now, from, to);
    };

    for (uint32_t r = 0; r < m_nVKnifeRows; ++r)
        for (uint32_t c = 0; c < m_nVKnivesPerRow; ++c) {
            i_DrawKnife(&m_pVKnives[size_t(r) * m_nVKnivesPerRow + c], i_ConvertKnot(c + 1, r, w, h),
                        i_ConvertKnot(c + 1, r + 1, w, h));
            if (!advance())
                return false;
        }
    for (uint32_t r = 0; r < m_nHKnifeRows; ++r)
        for (uint32_t c = 0; c < m_nHKnivesPerRow; ++c) {
            i_DrawKnife(&m_pHKnives[size_t(r) * m_nHKnivesPerRow + c], i_ConvertKnot(c, r + 1, w, h),
                        i_ConvertKnot(c + 1, r + 1, w, h));
            if (!advance())
                return false;
        }
    for (uint32_t i = 0; i < m_nFreeKnives; ++i) {
        const FREEKNIFE_RENDERER& fk = m_pFreeKnives[i];
        // Knot numbers come from callers and files: one outside the grid
        // draws nothing rather than reading past the knots.
        if (fk.knotA < m_nKnots && fk.knotB < m_nKnots)
            i_DrawKnife(&fk.knife, i_ConvertKnot(fk.knotA, w, h), i_ConvertKnot(fk.knotB, w, h));
        if (!advance())
            return false;
    }
    return i_ProgressStep(100, from, to);
}
