#include "core/2DMath.h"

#include "core/Mem.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <type_traits>
#include <vector>

namespace {

// 16 M points (256 MB): reached only by hundreds of segments each longer
// than any picture; well below what exhausts memory.
constexpr uint64_t kMaxSplinePoints = 1u << 24;

bool Finite(double v) { return std::isfinite(v); }

bool Finite(const qntFPOS& p) { return std::isfinite(p.x) && std::isfinite(p.y); }

// Closed-range test that also refuses NaN.
bool InUnit(double v) { return v >= 0.0 && v <= 1.0; }

struct Pt {
    double x;
    double y;
};

Pt operator+(Pt a, Pt b) { return {a.x + b.x, a.y + b.y}; }
Pt operator-(Pt a, Pt b) { return {a.x - b.x, a.y - b.y}; }
Pt operator*(Pt a, double k) { return {a.x * k, a.y * k}; }
double Len(Pt a) { return std::sqrt(a.x * a.x + a.y * a.y); }
Pt Mid(Pt a, Pt b) { return {(a.x + b.x) / 2.0, (a.y + b.y) / 2.0}; }

Pt NodePt(const CQNF_2DMath::QNSPLINEPOINT& n) { return {n.x, n.y}; }

// Length ratio |num| / |den|, 0 when the reference leg has no length.
double LegRatio(Pt num, Pt den)
{
    const double d = Len(den);
    return d == 0.0 ? 0.0 : Len(num) / d;
}

// The control point that follows node i on segment i (i > 0): the midpoint of
// the tangent taken forward and the one mirrored from the previous leg.
Pt ControlAfter(Pt prev, Pt cur, Pt next, double tension)
{
    const Pt a = cur + (next - cur) * tension;
    const double r = LegRatio(next - cur, prev - cur);
    const Pt b = cur - (prev - cur) * tension * r;
    return Mid(a, b);
}

// The control point that precedes node i+1 on segment i (i < n - 2).
Pt ControlBefore(Pt cur, Pt next, Pt after, double tension)
{
    const double r = LegRatio(cur - next, next - after);
    const Pt d = next - (after - next) * tension * r;
    const Pt e = next - (next - cur) * tension;
    return Mid(d, e);
}

// Bernstein polynomial of degree M (control points c[0..M]) at u.
template <int M>
Pt Bernstein(const Pt* c, double u)
{
    const double v = 1.0 - u;
    if constexpr (M == 1)
        return c[0] * v + c[1] * u;
    else if constexpr (M == 2)
        return c[0] * (v * v) + c[1] * (2.0 * u * v) + c[2] * (u * u);
    else
        return c[0] * (v * v * v) + c[1] * (3.0 * u * v * v) + c[2] * (3.0 * u * u * v) + c[3] * (u * u * u);
}

bool NodesFinite(const CQNF_2DMath::QNSPLINEPOINT* nodes, unsigned long count)
{
    for (unsigned long i = 0; i < count; ++i)
        if (!Finite(nodes[i].x) || !Finite(nodes[i].y) || !std::isfinite(nodes[i].tension))
            return false;
    return true;
}

// Grows a block to at least bytes; false with the block's error when it cannot.
bool EnsureSize(CQNF_Mem* block, uint64_t bytes, CQNF_FrameWork& owner)
{
    if (bytes > UINT32_MAX) {
        owner.SetError(qnerr::NoMemory);
        return false;
    }
    if (block->GetSize() >= bytes)
        return true;
    if (!block->Resize(static_cast<uint32_t>(bytes))) {
        owner.SetError(block->GetError() ? block->GetError() : qnerr::NoMemory);
        return false;
    }
    return true;
}

}  // namespace

unsigned char CQNF_2DMath::IntersectLineSegments(QNLINESEGMENT s1, QNLINESEGMENT s2)
{
    unsigned char collinear = 0;
    qntFPOS p{};
    return IntersectLineSegments_RetPoint(s1, s2, collinear, p);
}

unsigned char CQNF_2DMath::IntersectLineSegments_RetPoint(QNLINESEGMENT s1, QNLINESEGMENT s2,
                                                          unsigned char& collinear, qntFPOS& point)
{
    const double den = (s1.x2 - s1.x1) * (s2.y2 - s2.y1) - (s1.y2 - s1.y1) * (s2.x2 - s2.x1);
    const double na = (s2.x2 - s2.x1) * (s1.y1 - s2.y1) - (s2.y2 - s2.y1) * (s1.x1 - s2.x1);
    if (!Finite(den) || !Finite(na))
        return 0;
    if (den == 0.0) {
        if (na != 0.0)
            return 0;
        collinear = 1;
        return 1;
    }
    const double ua = na / den;
    if (!InUnit(ua))
        return 0;
    const double ub = ((s1.y1 - s2.y1) * (s1.x2 - s1.x1) - (s1.x1 - s2.x1) * (s1.y2 - s1.y1)) / den;
    if (!InUnit(ub))
        return 0;
    collinear = 0;
    point.x = s1.x1 + (s1.x2 - s1.x1) * ua;
    point.y = s1.y1 + (s1.y2 - s1.y1) * ua;
    return 1;
}

unsigned char CQNF_2DMath::PointToLineDistance(double ax, double ay, double bx, double by, double px, double py,
                                               double& distance, double& u)
{
    const double dx = bx - ax;
    const double dy = by - ay;
    const double l2 = dx * dx + dy * dy;
    if (l2 == 0.0 || !Finite(l2) || !Finite(px) || !Finite(py) || !Finite(ax) || !Finite(ay)) {
        distance = 0.0;
        u = 0.0;
        return 0;
    }
    u = ((px - ax) * dx + (py - ay) * dy) / l2;
    const double fx = ax + dx * u - px;
    const double fy = ay + dy * u - py;
    distance = std::sqrt(fx * fx + fy * fy);
    return InUnit(u) ? 1 : 0;
}

unsigned char CQNF_2DMath::PointToLineDistance(qntFPOS a, qntFPOS b, qntFPOS p, double& distance, double& u)
{
    return PointToLineDistance(a.x, a.y, b.x, b.y, p.x, p.y, distance, u);
}

unsigned char CQNF_2DMath::Coors2HU(qntFPOS a, qntFPOS b, qntFPOS p, double& H, double& U)
{
    if (!Finite(a) || !Finite(b) || !Finite(p))
        return 0;
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    const double l2 = dx * dx + dy * dy;
    if (l2 == 0.0 || !Finite(l2))
        return 0;
    const double ex = p.x - a.x;
    const double ey = p.y - a.y;
    const double u = (dx * ex + dy * ey) / l2;
    // The signed cross product puts H on the side where HU2Coors puts it, so
    // the two functions invert each other for every direction of a -> b.
    const double h = (dx * ey - dy * ex) / l2;
    if (!Finite(u) || !Finite(h))
        return 0;
    U = u;
    H = h;
    return 1;
}

unsigned char CQNF_2DMath::HU2Coors(qntFPOS a, qntFPOS b, double H, double U, qntFPOS& p)
{
    if (!Finite(a) || !Finite(b) || !Finite(H) || !Finite(U))
        return 0;
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    if ((dx == 0.0 && dy == 0.0) || !Finite(dx) || !Finite(dy))
        return 0;
    const qntFPOS r{a.x + dx * U - dy * H, a.y + dy * U + dx * H};
    if (!Finite(r))
        return 0;
    p = r;
    return 1;
}

unsigned char CQNF_2DMath::CalcPointSpline(QNSPLINEPOINT* nodes, unsigned long count, double step, CQNF_Mem* out,
                                           unsigned long& outCount, CQNF_Mem* outIndex)
{
    if (!nodes || !out || count < 3 || !(step > 0.0) || !Finite(step) || !NodesFinite(nodes, count)) {
        SetError(qnerr::BadArgument);
        return 0;
    }
    const unsigned long segs = count - 1;
    // Samples per segment: three times the chord over the step, at least 3.
    std::vector<uint32_t> samples;
    try {
        samples.resize(segs);
    } catch (const std::bad_alloc&) {
        SetError(qnerr::NoMemory);
        return 0;
    }
    uint64_t capacity = 2ull * segs;
    for (unsigned long i = 0; i < segs; ++i) {
        const double chord = Len(NodePt(nodes[i + 1]) - NodePt(nodes[i]));
        if (!Finite(chord)) {
            SetError(qnerr::BadArgument);
            return 0;
        }
        const double k = chord * 3.0 / step;
        // Single precision as the sample count always was; a chord or step of
        // no picture (k infinite included) takes the most a picture needs.
        const uint32_t ki = k < double(kMostSegmentSamples) ? static_cast<uint32_t>(static_cast<float>(k))
                                                             : kMostSegmentSamples;
        samples[i] = std::clamp<uint32_t>(ki, 3, kMostSegmentSamples);
        capacity += samples[i];
        if (capacity > kMaxSplinePoints) {
            SetError(qnerr::NoMemory);
            return 0;
        }
    }
    if (!EnsureSize(out, capacity * sizeof(qntFPOS), *this))
        return 0;
    if (outIndex && !EnsureSize(outIndex, capacity * sizeof(uint32_t), *this))
        return 0;

    auto* pts = static_cast<qntFPOS*>(static_cast<void*>(out->GetPtr()));
    auto* idx = outIndex ? static_cast<uint32_t*>(static_cast<void*>(outIndex->GetPtr())) : nullptr;
    uint64_t written = 0;
    auto emit = [&](Pt p, uint32_t seg) {
        if (written >= capacity)
            return;
        pts[written] = {p.x, p.y};
        if (idx)
            idx[written] = seg;
        ++written;
    };

    for (unsigned long i = 0; i < segs; ++i) {
        Pt c[4];
        int m = 0;
        const Pt p0 = NodePt(nodes[i]);
        const Pt p1 = NodePt(nodes[i + 1]);
        c[m] = p0;
        if (i > 0)
            c[++m] = ControlAfter(NodePt(nodes[i - 1]), p0, p1, nodes[i].tension);
        if (i + 2 < count)
            c[++m] = ControlBefore(p0, p1, NodePt(nodes[i + 2]), nodes[i + 1].tension);
        c[++m] = p1;
        const double du = 1.0 / samples[i];
        // One loop per degree: the degree is not asked again at every point.
        const auto sample = [&](auto degree) {
            for (double u = 0.0; u < 1.0; u += du)
                emit(Bernstein<decltype(degree)::value>(c, u), static_cast<uint32_t>(i));
        };
        if (m == 1)
            sample(std::integral_constant<int, 1>{});
        else if (m == 2)
            sample(std::integral_constant<int, 2>{});
        else
            sample(std::integral_constant<int, 3>{});
    }
    emit(NodePt(nodes[count - 1]), static_cast<uint32_t>(segs - 1));
    outCount = static_cast<unsigned long>(written);
    return 1;
}

unsigned char CQNF_2DMath::CalcBezierPointSpline(QNSPLINEPOINT* nodes, unsigned long count, CQNF_Mem* out,
                                                 unsigned long& outCount)
{
    if (!nodes || !out || count < 3 || !NodesFinite(nodes, count)) {
        SetError(qnerr::BadArgument);
        return 0;
    }
    const unsigned long segs = count - 1;
    if (!EnsureSize(out, 2ull * segs * sizeof(qntFPOS), *this))
        return 0;
    auto* pts = static_cast<qntFPOS*>(static_cast<void*>(out->GetPtr()));
    for (unsigned long i = 0; i < segs; ++i) {
        // A missing neighbour is the end node itself, which makes its leg 0.
        const Pt prev = NodePt(nodes[i > 0 ? i - 1 : 0]);
        const Pt cur = NodePt(nodes[i]);
        const Pt next = NodePt(nodes[i + 1]);
        const Pt after = NodePt(nodes[i + 2 < count ? i + 2 : count - 1]);
        const Pt c1 = ControlAfter(prev, cur, next, nodes[i].tension);
        const Pt c2 = ControlBefore(cur, next, after, nodes[i + 1].tension);
        pts[2 * i] = {c1.x, c1.y};
        pts[2 * i + 1] = {c2.x, c2.y};
    }
    outCount = 2 * segs;
    return 1;
}
