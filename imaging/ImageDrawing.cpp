#include "imaging/ImageDrawing.h"

#include "core/Mem.h"
#include "imaging/Image.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>

namespace {

bool Finite(double a, double b, double c, double d)
{
    return std::isfinite(a) && std::isfinite(b) && std::isfinite(c) && std::isfinite(d);
}

// A box bound: single precision, truncated toward zero. Values are first held
// to a range every int can take, so no conversion is undefined.
int BoxBound(double v)
{
    v = std::clamp(v, -1.0e9, 1.0e9);
    return static_cast<int>(static_cast<float>(v));
}

// Coordinates beyond this are first cut to the clip box: the aliased walk then
// never runs for more steps than the box is wide.
constexpr double kWalkLimit = 1 << 22;

// Liang-Barsky: cuts the segment to the box; false when nothing is left.
bool CutSegment(double& x1, double& y1, double& x2, double& y2, double l, double t, double r, double b)
{
    double t0 = 0.0, t1 = 1.0;
    const double dx = x2 - x1, dy = y2 - y1;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {x1 - l, r - x1, y1 - t, b - y1};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0.0) {
            if (q[i] < 0.0)
                return false;
            continue;
        }
        const double u = q[i] / p[i];
        if (p[i] < 0.0)
            t0 = std::max(t0, u);
        else
            t1 = std::min(t1, u);
        if (t0 > t1)
            return false;
    }
    const double ox = x1, oy = y1;
    x1 = ox + dx * t0;
    y1 = oy + dy * t0;
    x2 = ox + dx * t1;
    y2 = oy + dy * t1;
    return true;
}

// A polyline point as the aliased walk takes it: the pixel its coordinates
// truncate to in single precision, when it is finite and near enough to be
// walked as it stands.
struct Pixel {
    unsigned long index = ~0ul;
    bool near = false;
    int x = 0, y = 0;

    static Pixel Of(const qntFPOS* points, unsigned long i)
    {
        const qntFPOS p = points[i];
        Pixel out;
        out.index = i;
        out.near = std::isfinite(p.x) && std::isfinite(p.y) && std::fabs(p.x) <= kWalkLimit &&
                   std::fabs(p.y) <= kWalkLimit;
        if (out.near) {
            out.x = static_cast<int>(static_cast<float>(p.x));
            out.y = static_cast<int>(static_cast<float>(p.y));
        }
        return out;
    }
};

// The aliased walk between two pixels: one pixel per step along the longer
// axis, both ends included.
template <class Plot>
void Bresenham(int ax, int ay, int bx, int by, Plot plot)
{
    const bool alongY = std::abs(bx - ax) < std::abs(by - ay);
    const int major = alongY ? std::abs(by - ay) : std::abs(bx - ax);
    const int minor = alongY ? std::abs(bx - ax) : std::abs(by - ay);
    const int sx = bx < ax ? -1 : 1;
    const int sy = by < ay ? -1 : 1;
    int x = ax, y = ay;
    int err = 2 * minor - major;
    for (int i = 0; i < major; ++i) {
        plot(x, y);
        if (err >= 0) {
            if (alongY)
                x += sx;
            else
                y += sy;
            err -= 2 * major;
        }
        err += 2 * minor;
        if (alongY)
            y += sy;
        else
            x += sx;
    }
    plot(bx, by);
}

// Calls segment(a, b) for the segments of a polyline: from point a to the
// first point after it farther than minSqDist (squared) from it, the last
// point always reached.
template <class Segment>
void ForEachSegment(const qntFPOS* points, unsigned long count, double minSqDist, Segment segment)
{
    unsigned long a = 0;
    while (a < count - 1) {
        unsigned long b = a + 1;
        while (b < count - 1) {
            const double ex = points[b].x - points[a].x;
            const double ey = points[b].y - points[a].y;
            if (!(ex * ex + ey * ey <= minSqDist))
                break;
            ++b;
        }
        segment(a, b);
        a = b;
    }
}

// Bits set in a bit plane, those of one byte gathered and written together:
// a walk sets several bits of a byte in a row, and a shared plane then takes
// one atomic OR per byte rather than one per bit.
class BitSink {
public:
    BitSink(unsigned char* plane, uint32_t stride, bool atomic) : m_plane(plane), m_stride(stride), m_atomic(atomic) {}
    ~BitSink() { Flush(); }
    BitSink(const BitSink&) = delete;
    BitSink& operator=(const BitSink&) = delete;

    void Set(int x, int y)
    {
        const size_t at = size_t(y) * m_stride + size_t(x >> 3);
        if (at != m_at) {
            Flush();
            m_at = at;
        }
        m_mask |= static_cast<unsigned char>(0x80u >> (x & 7));
    }

private:
    void Flush()
    {
        if (!m_mask)
            return;
        if (m_atomic)
            std::atomic_ref<unsigned char>(m_plane[m_at]).fetch_or(m_mask, std::memory_order_relaxed);
        else
            m_plane[m_at] |= m_mask;
        m_mask = 0;
    }

    unsigned char* m_plane;
    size_t m_stride;
    bool m_atomic;
    size_t m_at = 0;
    unsigned char m_mask = 0;
};

// A byte of a plane, read and raised plainly or, on a plane that several
// threads draw into, atomically.
int ReadByte(const unsigned char& v, bool atomic)
{
    return atomic ? std::atomic_ref<const unsigned char>(v).load(std::memory_order_relaxed) : v;
}

void RaiseByte(unsigned char& v, int to, bool atomic)
{
    if (!atomic) {
        if (to > v)
            v = static_cast<unsigned char>(to);
        return;
    }
    std::atomic_ref<unsigned char> ref(v);
    unsigned char now = ref.load(std::memory_order_relaxed);
    while (to > now && !ref.compare_exchange_weak(now, static_cast<unsigned char>(to), std::memory_order_relaxed)) {
    }
}

// The pixels x of [left, right) of one row that can lie within reach of a
// line: |(x - x0) * cross - across| <= reachAcross and
// -reachAlong <= (x - x0) * along + alongAt <= alongLen + reachAlong, each a
// linear form in x (inverse: 1 / cross, 1 / along); the reaches come with
// room for rounding (far more than the rounding of the bounds here). False
// when no pixel can.
struct RowReach {
    double x0, cross, inverseCross, reachAcross, along, inverseAlong, reachAlong, alongLen;

    bool Run(double across, double alongAt, int& left, int& right) const
    {
        double lo = double(left) - 2.0, hi = double(right) + 2.0;
        // a <= (x - x0) * k <= b, narrowing [lo, hi].
        auto within = [&](double k, double inverse, double a, double b) {
            if (k == 0.0)
                return a <= 0.0 && b >= 0.0;
            double u = x0 + a * inverse, v = x0 + b * inverse;
            if (k < 0.0)
                std::swap(u, v);
            lo = std::max(lo, u);
            hi = std::min(hi, v);
            return true;
        };
        if (!within(cross, inverseCross, across - reachAcross, across + reachAcross) ||
            !within(along, inverseAlong, -reachAlong - alongAt, alongLen + reachAlong - alongAt) || !(lo <= hi))
            return false;
        // Both bounds now lie in [left - 2, right + 2].
        left = std::max(left, static_cast<int>(std::floor(lo)));
        right = std::min(right, static_cast<int>(std::ceil(hi)) + 1);
        return left < right;
    }
};

}  // namespace

bool CQNF_ImageDrawing::SetDestination(unsigned char* plane, unsigned long stride, long width, long height)
{
    m_plane = plane;
    m_stride = static_cast<uint32_t>(std::min<unsigned long>(stride, UINT32_MAX));
    m_width = static_cast<int32_t>(std::clamp<long>(width, 0, INT32_MAX));
    m_height = static_cast<int32_t>(std::clamp<long>(height, 0, INT32_MAX));
    return true;
}

bool CQNF_ImageDrawing::SetDestination(CQNF_Image* image)
{
    if (!image || !image->HasPixels()) {
        SetError(qnerr::BadArgument);
        return false;
    }
    unsigned plane = 0;
    if (image->GetImageMode() == qnimg::ModeRGBA)
        plane = 3;
    else if (image->GetImageMode() == 4)
        plane = 4;
    else {
        SetError(qnerr::BadArgument);
        return false;
    }
    const size_t planeSize = image->PlaneSize();
    if (image->GetMemObj()->GetSize() < (plane + 1) * planeSize) {
        SetError(qnerr::BadArgument);
        return false;
    }
    m_plane = image->GetMemObj()->GetPtr() + plane * planeSize;
    m_stride = image->GetImageWidth();
    m_width = image->GetImageWidth();
    m_height = image->GetImageHeight();
    return true;
}

// The clip rectangle cut to the plane. The plane's usable width is also held
// to what its stride allows, so a stride smaller than the width cannot lead
// a write into the next row's bytes or past the last row.
bool CQNF_ImageDrawing::ClipBox(qntRECT_s& box, bool bits) const
{
    if (!m_plane || m_width <= 0 || m_height <= 0)
        return false;
    const int64_t strideLimit = bits ? int64_t{m_stride} * 8 : int64_t{m_stride};
    const int32_t w = static_cast<int32_t>(std::min<int64_t>(m_width, strideLimit));
    box = m_clip;
    return qnimg::ClipRect(box, w, m_height);
}

bool CQNF_ImageDrawing::DrawHQLine(qntFPOS p1, qntFPOS p2, double width, unsigned char roundCaps,
                                   unsigned char maxMerge, unsigned char fixedFootprint)
{
    return DrawHQLine(p1.x, p1.y, p2.x, p2.y, width, roundCaps, maxMerge, fixedFootprint);
}

bool CQNF_ImageDrawing::DrawHQLine(double x1, double y1, double x2, double y2, double width,
                                   unsigned char roundCaps, unsigned char maxMerge, unsigned char fixedFootprint)
{
    if (!antiAlias)
        return DrawHQLineNAA(x1, y1, x2, y2, width, roundCaps, maxMerge);
    if (!Finite(x1, y1, x2, y2) || !std::isfinite(width) || width < 0.0)
        return true;
    if (x1 == x2 && y1 == y2)
        return true;
    const double r = width / 2.0;
    const bool caps = roundCaps && width >= 2.1;

    qntRECT_s clip{};
    if (!ClipBox(clip, false))
        return true;
    const int left = std::max(BoxBound(std::min(x1, x2) - r - 1.0), clip.left);
    const int right = std::min(BoxBound(std::max(x1, x2) + r + 1.0), clip.right);
    const int top = std::max(BoxBound(std::min(y1, y2) - r - 1.0), clip.top);
    const int bottom = std::min(BoxBound(std::max(y1, y2) + r + 1.0), clip.bottom);
    if (left >= right || top >= bottom)
        return true;

    const double dx = x2 - x1;
    const double dy = y2 - y1;
    const double len2 = dx * dx + dy * dy;
    if (!std::isfinite(len2) || len2 == 0.0)
        return true;
    const double len = std::sqrt(len2);
    const double foot = fixedFootprint ? 1.414213 : len / std::max(std::fabs(dx), std::fabs(dy));
    const double ox = fixedFootprint ? 0.5 : 0.0;
    const double h = foot / 2.0;
    const double cap = caps ? r / len : 0.0;
    const double e = h / len;
    const double outer = (r + h) * (r + h);
    const double inner = (r - h) * (r - h);
    const int val = value;
    const bool shared = atomicMax && maxMerge;

    // Coverage of a position at squared distance s inside the outer edge.
    auto body = [&](double s) -> int {
        if (s < inner)
            return val;
        const float k = static_cast<float>(val * ((std::sqrt(s) - r) / foot + 0.5));
        return static_cast<uint8_t>(val - static_cast<int>(std::clamp(k, 0.0f, 255.0f)));
    };

    // Only a run of each row can be inside: where the distance from the
    // line and the position along it are both within reach. The run is
    // worked out from the two linear forms with room to spare, so every
    // pixel that counts is still weighed as below and every one left out is
    // outside for certain.
    // Ends far out of any picture make the rounding of the two forms too
    // coarse for that room: such a line is weighed over its whole box.
    const bool narrow = std::max({std::fabs(x1), std::fabs(y1), std::fabs(x2), std::fabs(y2)}) <= 1e7;
    const RowReach reach{x1 - ox,
                         dy,
                         dy != 0.0 ? 1.0 / dy : 0.0,
                         std::sqrt(outer) * len * (1.0 + 1e-6),
                         dx,
                         dx != 0.0 ? 1.0 / dx : 0.0,
                         (cap + e) * len2 + (cap + e + 1.0) * len2 * 1e-6,
                         len2};
    for (int y = top; y < bottom; ++y) {
        unsigned char* row = m_plane + size_t(y) * m_stride;
        const double py = y + 0.5;
        int runLeft = left, runRight = right;
        if (narrow && !reach.Run((py - y1) * dx, (py - y1) * dy, runLeft, runRight))
            runLeft = runRight = left;
        if (!maxMerge) {
            std::fill(row + left, row + runLeft, 0);
            std::fill(row + runRight, row + right, 0);
        }
        for (int x = runLeft; x < runRight; ++x) {
            unsigned char& v = row[x];
            const int was = ReadByte(v, shared);
            if (maxMerge && was > val)
                continue;
            const double px = x + ox;
            const double t = ((px - x1) * dx + (py - y1) * dy) / len2;
            int byte = -1;  // -1: outside
            if (t >= -(cap + e) && t <= 1.0 + cap + e) {
                const double c = (px - x1) * dy - (py - y1) * dx;
                double s = c * c / len2;
                if (s <= outer) {
                    if (t < e || t > 1.0 - e) {
                        if (caps) {
                            const double s1 = (px - x1) * (px - x1) + (py - y1) * (py - y1);
                            const double s2 = (px - x2) * (px - x2) + (py - y2) * (py - y2);
                            s = std::min(s1, s2);
                            if (s <= outer)
                                byte = body(s);
                        } else {
                            const double a = t < e ? t : 1.0 - t;
                            double cov = a / (2.0 * e) + 0.5;
                            if (s >= inner)
                                cov = std::min(cov, 0.5 - (std::sqrt(s) - r) / foot);
                            const float k = static_cast<float>(cov * val);
                            byte = static_cast<int>(std::clamp(k, 0.0f, 255.0f));
                        }
                    } else {
                        byte = body(s);
                    }
                }
            }
            if (byte < 0) {
                if (!maxMerge)
                    v = 0;
            } else if (maxMerge) {
                RaiseByte(v, byte, shared);
            } else {
                v = static_cast<unsigned char>(byte);
            }
        }
    }
    return true;
}

bool CQNF_ImageDrawing::DrawHQPolyLine(const qntFPOS* points, unsigned long count, double width,
                                       unsigned char roundCaps, unsigned char maxMerge, unsigned char fixedFootprint,
                                       double minSqDist)
{
    if (!points || count < 2)
        return false;
    // Aliased bits ignore width, caps, merging and footprint.
    if (!antiAlias && bitMode) {
        DrawBitPolyLine(points, count, minSqDist);
        return true;
    }
    qntRECT_s clip{};
    if (!ClipBox(clip, false) || !std::isfinite(width))
        return true;
    // A segment is drawn only when its reach meets the clip box: a line that
    // runs long outside the plane then costs little there. The reach is
    // that of the widest pen any mode uses, with room to spare.
    const double reach = std::max(width, 0.0) / 2.0 + 2.0;
    const double cl = clip.left - reach, ct = clip.top - reach, cr = clip.right + reach, cb = clip.bottom + reach;
    // The rows under a point further on are asked for ahead, so that their
    // fetch overlaps the drawing up to it (a steep line meets a new row at
    // almost every step).
    constexpr unsigned long kAhead = 24;
    const int rows = static_cast<int>(std::min(reach, 64.0));
    ForEachSegment(points, count, minSqDist, [&](unsigned long a, unsigned long b) {
        const qntFPOS f = points[std::min(a + kAhead, count - 1)];
        if (f.x >= clip.left && f.x < clip.right && f.y >= clip.top && f.y < clip.bottom) {
            const int fx = static_cast<int>(f.x), fy = static_cast<int>(f.y);
            for (int y = std::max(fy - rows, clip.top); y < std::min(fy + rows, clip.bottom); ++y)
                __builtin_prefetch(m_plane + size_t(y) * m_stride + size_t(fx), 1);
        }
        const qntFPOS p = points[a], q = points[b];
        // (Comparisons with a number that is none are false: such a segment
        // goes on to the drawing, which refuses it.)
        if (std::max(p.x, q.x) < cl || std::min(p.x, q.x) > cr || std::max(p.y, q.y) < ct ||
            std::min(p.y, q.y) > cb)
            return;
        DrawHQLine(p, q, width, roundCaps, maxMerge, fixedFootprint);
    });
    return true;
}

void CQNF_ImageDrawing::DrawBitPolyLine(const qntFPOS* points, unsigned long count, double minSqDist)
{
    qntRECT_s box{};
    if (!ClipBox(box, true))
        return;
    // Positions are plotted inside the box and the band; segments too far
    // out are still cut to the box alone, as without a band.
    qntRECT_s in = box;
    if (m_bandTop < m_bandBottom) {
        in.top = std::max(in.top, m_bandTop);
        in.bottom = std::min(in.bottom, m_bandBottom);
        if (in.top >= in.bottom)
            return;
    }
    BitSink sink(m_plane, m_stride, atomicBits != 0);
    const auto inside = [&](int x, int y) { return x >= in.left && x < in.right && y >= in.top && y < in.bottom; };
    // A long line in a large plane meets a new cache line at almost every
    // step (a new row, for a steep one): the byte under a point further on
    // is asked for ahead, so that its fetch overlaps the walk up to it.
    constexpr unsigned long kAhead = 32;
    const uintptr_t base = reinterpret_cast<uintptr_t>(m_plane);
    Pixel last;
    ForEachSegment(points, count, minSqDist, [&](unsigned long a, unsigned long b) {
        const qntFPOS f = points[std::min(a + kAhead, count - 1)];
        if (f.x >= in.left && f.x < in.right && f.y >= in.top && f.y < in.bottom)
            __builtin_prefetch(reinterpret_cast<const void*>(base + size_t(f.y) * m_stride + (size_t(f.x) >> 3)), 1);
        // A segment starts where the last one ended: its end's pixel is kept.
        if (a != last.index)
            last = Pixel::Of(points, a);
        const Pixel from = last;
        last = Pixel::Of(points, b);
        if (!from.near || !last.near) {
            const qntFPOS p = points[a], q = points[b];
            WalkNAA(p.x, p.y, q.x, q.y, box, [&](int x, int y) {
                if (inside(x, y))
                    sink.Set(x, y);
            });
            return;
        }
        const int ax = from.x, ay = from.y, bx = last.x, by = last.y;
        // The walk stays in the rectangle of its ends: one wholly outside
        // plots nothing, one wholly inside needs no test per position.
        const int x0 = std::min(ax, bx), x1 = std::max(ax, bx);
        const int y0 = std::min(ay, by), y1 = std::max(ay, by);
        if (x1 < in.left || x0 >= in.right || y1 < in.top || y0 >= in.bottom)
            return;
        if (inside(x0, y0) && inside(x1, y1))
            Bresenham(ax, ay, bx, by, [&](int x, int y) { sink.Set(x, y); });
        else
            Bresenham(ax, ay, bx, by, [&](int x, int y) {
                if (inside(x, y))
                    sink.Set(x, y);
            });
    });
}

bool CQNF_ImageDrawing::DrawHQLineNAA(double x1, double y1, double x2, double y2, double width,
                                      unsigned char /*roundCaps*/, unsigned char /*maxMerge*/)
{
    if (bitMode)
        return DrawHQLineNAA1PixBit(x1, y1, x2, y2);
    if (!(width >= 2.0))
        return DrawHQLineNAA1Pix(x1, y1, x2, y2);
    return DrawHQLineNAAnPix(x1, y1, x2, y2, width);
}

template <class Plot>
void CQNF_ImageDrawing::WalkNAA(double x1, double y1, double x2, double y2, const qntRECT_s& box, Plot plot)
{
    if (!Finite(x1, y1, x2, y2))
        return;
    auto farOut = [&]() {
        return !Finite(x1, y1, x2, y2) ||
               std::max({std::fabs(x1), std::fabs(y1), std::fabs(x2), std::fabs(y2)}) > kWalkLimit;
    };
    // A segment whose extent overflows doubles cannot be cut reliably and is
    // refused with the non-finite ones.
    if (farOut() && (!CutSegment(x1, y1, x2, y2, box.left - 2.0, box.top - 2.0, box.right + 2.0, box.bottom + 2.0) ||
                     farOut()))
        return;
    const int ax = static_cast<int>(static_cast<float>(x1));
    const int ay = static_cast<int>(static_cast<float>(y1));
    const int bx = static_cast<int>(static_cast<float>(x2));
    const int by = static_cast<int>(static_cast<float>(y2));
    Bresenham(ax, ay, bx, by, [&](int x, int y) {
        if (x >= box.left && x < box.right && y >= box.top && y < box.bottom)
            plot(x, y);
    });
}

bool CQNF_ImageDrawing::DrawHQLineNAA1PixBit(double x1, double y1, double x2, double y2)
{
    const qntFPOS ends[2] = {{x1, y1}, {x2, y2}};
    DrawBitPolyLine(ends, 2, 0.0);
    return true;
}

bool CQNF_ImageDrawing::DrawHQLineNAA1Pix(double x1, double y1, double x2, double y2)
{
    qntRECT_s box{};
    if (!ClipBox(box, false))
        return true;
    const unsigned char val = value;
    const bool shared = atomicMax != 0;
    WalkNAA(x1, y1, x2, y2, box,
            [&](int x, int y) { RaiseByte(m_plane[size_t(y) * m_stride + size_t(x)], val, shared); });
    return true;
}

bool CQNF_ImageDrawing::DrawHQLineNAAnPix(double x1, double y1, double x2, double y2, double width)
{
    if (!std::isfinite(width))
        return true;
    qntRECT_s box{};
    if (!ClipBox(box, false))
        return true;
    const float wf = static_cast<float>(std::clamp(width, -32768.0, 32767.0));
    const int n = static_cast<int16_t>(static_cast<int>(wf));
    WalkNAA(x1, y1, x2, y2, box,
            [&](int x, int y) { internal_BlendPixelN(x, y, n, box.left, box.top, box.right, box.bottom); });
    return true;
}

void CQNF_ImageDrawing::internal_BlendPixelN(int x, int y, int n, int clipLeft, int clipTop, int clipRight,
                                             int clipBottom)
{
    if (n <= 0 || !m_plane)
        return;
    // Never beyond the plane, whatever clip the caller hands in.
    clipLeft = std::max(clipLeft, 0);
    clipTop = std::max(clipTop, 0);
    clipRight = std::min<int64_t>(clipRight, std::min<int64_t>(m_width, m_stride));
    clipBottom = std::min(clipBottom, m_height);
    const int k = n / 2;
    const int64_t n2 = int64_t{n} * n;
    const int l = std::max(x - k, clipLeft), r = std::min(x - k + n, clipRight);
    const int t = std::max(y - k, clipTop), b = std::min(y - k + n, clipBottom);
    const unsigned char val = value;
    const bool shared = atomicMax != 0;
    for (int py = t; py < b; ++py) {
        unsigned char* row = m_plane + size_t(py) * m_stride;
        const int64_t ddy = int64_t{y - py} * (y - py);
        for (int px = l; px < r; ++px) {
            const int64_t ddx = int64_t{x - px} * (x - px);
            if (n2 >= 4 * (ddx + ddy))
                RaiseByte(row[px], val, shared);
        }
    }
}
