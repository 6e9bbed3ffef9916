// Knife rasterising: every knife of the layout as coverage in one plane.
#include "engine/Tessolo.h"

#include "imaging/Parallel.h"

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
    i_KnifeNodes(*knife, a, b, scratch);
    count = 0;
    if (!scratch.math.CalcPointSpline(scratch.nodes, n + 2, 2.0, &scratch.line, count))
        return false;
    points = reinterpret_cast<const qntFPOS*>(scratch.line.GetPtr());
    return true;
}

void CTessolo::i_KnifeNodes(const KNIFESTRUCT_RENDERER& knife, qntFPOS a, qntFPOS b, KnifeScratch& scratch) const
{
    const uint32_t n = knife.nodes;
    CQNF_2DMath::QNSPLINEPOINT* nodes = scratch.nodes;
    nodes[0] = CQNF_2DMath::QNSPLINEPOINT{a.x, a.y, 0.0f};
    for (uint32_t i = 0; i < n; ++i) {
        qntFPOS p{a.x, a.y};
        // Node values outside their ranges (or not numbers) are taken at the
        // nearest value a knife may hold.
        scratch.math.HU2Coors(a, b, Sane(knife.H[i], -3.0f, 3.0f), Sane(knife.U[i], 0.0f, 1.0f), p);
        nodes[i + 1] = CQNF_2DMath::QNSPLINEPOINT{p.x, p.y, Sane(knife.S[i], -2.0f, 2.0f)};
    }
    nodes[n + 1] = CQNF_2DMath::QNSPLINEPOINT{b.x, b.y, 0.0f};
}

uint64_t CTessolo::i_KnifeLineBytes(const KnifeStrokes::Job& job, KnifeScratch& scratch) const
{
    const KNIFESTRUCT_RENDERER* knife = job.knife;
    if (!knife || knife->nodes == kKnifeOff || knife->nodes > kMaxNodes || knife->nodes == 0)
        return 0;
    i_KnifeNodes(*knife, job.a, job.b, scratch);
    // The spline's own count: three samples a step of 2 along each chord,
    // at least 3 a chord; a chord of no number counts as the largest line.
    double points = 1.0;
    for (uint32_t i = 0; i <= knife->nodes; ++i) {
        const double chord = std::hypot(scratch.nodes[i + 1].x - scratch.nodes[i].x,
                                        scratch.nodes[i + 1].y - scratch.nodes[i].y);
        points += std::isfinite(chord) ? std::max(3.0, chord * 1.5) : 1e12;
    }
    return uint64_t(std::min(points, 1e12)) * sizeof(qntFPOS);
}

uint32_t CTessolo::i_NextKnifeBatch(const KnifeStrokes& strokes, uint32_t done, uint32_t total, uint32_t most)
{
    // The lines of a batch are made at once, each in its thread's scratch
    // memory: a batch holds as many knives as the budget's bytes of lines
    // allow, and at least one.
    uint64_t bytes = 0;
    uint32_t n = 0;
    while (done + n < total && n < most) {
        bytes += i_KnifeLineBytes(strokes.jobs[done + n], m_KnifeScratch);
        if (n > 0 && bytes > kKnifeLineBudget)
            break;
        ++n;
    }
    return n;
}

void CTessolo::KnifeScratch::Trim(unsigned threads)
{
    // What the threads keep for their next knives stays within the budget.
    if (line.GetSize() > kKnifeLineBudget / std::max(threads, 1u))
        line.free();
}

void CTessolo::i_DrawKnife(const KNIFESTRUCT_RENDERER* knife, qntFPOS a, qntFPOS b)
{
    if (m_pKnifeStrokes) {
        m_pKnifeStrokes->jobs.push_back(KnifeStrokes::Job{knife, a, b});
        return;
    }
    m_Drawing.value = 255;
    m_Drawing.antiAlias = m_bSmooth;
    const uint32_t count = i_DrawKnifeWith(m_Drawing, m_KnifeScratch, knife, a, b);
    if (count && knife->nodes > 0)
        m_nPolyLinePoints = count;
}

uint32_t CTessolo::i_DrawKnifeWith(CQNF_ImageDrawing& pen, KnifeScratch& scratch, const KNIFESTRUCT_RENDERER* knife,
                                   qntFPOS a, qntFPOS b) const
{
    const qntFPOS* points = nullptr;
    unsigned long count = 0;
    double width = 1.0;
    if (!i_KnifeLine(knife, a, b, scratch, points, count, width))
        return 0;
    if (knife->nodes == 0) {
        pen.DrawHQLine(a, b, width, 1, 1, 1);
        return 2;
    }
    pen.DrawHQPolyLine(points, count, width, 1, 1, 1, std::max(1.0, width * 0.25));
    return static_cast<uint32_t>(count);
}

// The knives drawn on several threads, each thread a knife at a time with a
// pen and scratch memory of its own, every byte raised atomically to the
// largest value a line gives it: the bytes are those of one thread drawing
// the knives in order. Progress is reported, and a cancel looked for, after
// every few knives, so that a stop is taken within the drawing of a few
// knives however long each is.
bool CTessolo::i_DrawKnivesOnThreads(const KnifeStrokes& strokes, unsigned threads, uint8_t from, uint8_t to)
{
    std::vector<KnifeScratch> scratch(threads);
    std::vector<CQNF_ImageDrawing> pens(threads, m_Drawing);
    for (CQNF_ImageDrawing& pen : pens) {
        pen.value = 255;
        pen.antiAlias = m_bSmooth;
        pen.atomicMax = 1;
    }
    const uint32_t total = static_cast<uint32_t>(strokes.jobs.size());
    for (uint32_t done = 0; done < total;) {
        const uint32_t n = i_NextKnifeBatch(strokes, done, total, threads * 2);
        qnpar::For(n, threads, [&](uint32_t i, unsigned worker) {
            const KnifeStrokes::Job& job = strokes.jobs[done + i];
            i_DrawKnifeWith(pens[worker], scratch[worker], job.knife, job.a, job.b);
            scratch[worker].Trim(threads);
        });
        done += n;
        if (!i_ProgressStep(5.0 + 95.0 * double(done) / double(total), from, to))
            return false;
    }
    return i_ProgressStep(100, from, to);
}

bool CTessolo::DrawSplitting(long width, long height, uint8_t* plane, uint32_t stride, uint8_t from, uint8_t to)
{
    if (m_bBusy)
        return false;
    BusyScope busy(m_bBusy);
    m_nSplitFailure = SplitFailure::None;
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

    // Max-merged bytes come out the same whatever order the knives are
    // drawn in; the aliased bit raster has a drawing of its own on threads.
    const unsigned threads = qnpar::ThreadCount();
    if (!m_pKnifeStrokes && !m_Drawing.bitMode && threads > 1 && total > 1) {
        KnifeStrokes strokes;
        m_pKnifeStrokes = &strokes;
        i_CollectKnives(w, h);
        m_pKnifeStrokes = nullptr;
        return i_DrawKnivesOnThreads(strokes, threads, from, to);
    }

    const double step = total ? 95.0 / double(total) : 0.0;
    double running = 5.0;
    int shown = 5;

    // After each knife: report when the integer part moves on, and look for
    // a cancel in any case: a knife can take long, and thousands of them
    // stand between two reports.
    auto advance = [&]() {
        running += step;
        const int now = static_cast<int>(running);
        if (now == shown)
            return !i_Canceled();
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

void CTessolo::i_CollectKnives(double w, double h)
{
    for (uint32_t r = 0; r < m_nVKnifeRows; ++r)
        for (uint32_t c = 0; c < m_nVKnivesPerRow; ++c)
            i_DrawKnife(&m_pVKnives[size_t(r) * m_nVKnivesPerRow + c], i_ConvertKnot(c + 1, r, w, h),
                        i_ConvertKnot(c + 1, r + 1, w, h));
    for (uint32_t r = 0; r < m_nHKnifeRows; ++r)
        for (uint32_t c = 0; c < m_nHKnivesPerRow; ++c)
            i_DrawKnife(&m_pHKnives[size_t(r) * m_nHKnivesPerRow + c], i_ConvertKnot(c, r + 1, w, h),
                        i_ConvertKnot(c + 1, r + 1, w, h));
    for (uint32_t i = 0; i < m_nFreeKnives; ++i) {
        const FREEKNIFE_RENDERER& fk = m_pFreeKnives[i];
        if (fk.knotA < m_nKnots && fk.knotB < m_nKnots)
            i_DrawKnife(&fk.knife, i_ConvertKnot(fk.knotA, w, h), i_ConvertKnot(fk.knotB, w, h));
    }
}
