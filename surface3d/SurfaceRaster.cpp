// Preview rasterisers: z-buffered spans and triangles in one colour or from a
// draft texture, and mesh lines (plain or anti-aliased) that show only where
// the z-buffer holds their own triangle or a neighbour of it.
//
// Coordinates are 32-bit here; the renderers hand in nothing beyond 2^24
// pixels, so products of two coordinates fit in 64 bits.
#include "imaging/Image.h"
#include "surface3d/PreviewTarget.h"
#include "surface3d/S3DMath.h"
#include "surface3d/TriangleWalk.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

inline size_t PixelIndex(int32_t width, int32_t x, int32_t y)
{
    return static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x);
}

inline void OpaqueWrite(uint8_t* const* plane, size_t i, uint8_t r, uint8_t g, uint8_t b)
{
    plane[0][i] = r;
    plane[1][i] = g;
    plane[2][i] = b;
    plane[3][i] = 255;
}

// Weight of an anti-aliased line at distance d: (1 - 2|d|/3)^2 x 255 as f32,
// truncated, times the colour's alpha, >> 8. Beyond 1.5 pixels the square
// would rise again; nothing is drawn there.
inline uint8_t CoverageWeight(double d, uint8_t alpha)
{
    const double ad = std::fabs(d);
    if (!(ad < 1.5))
        return 0;
    const double t = 1.0 - 2.0 * ad / 3.0;
    const int32_t c = static_cast<int32_t>(static_cast<float>(t * t * 255.0));
    return static_cast<uint8_t>((static_cast<uint32_t>(c) * alpha) >> 8);
}

// Coordinates a rasteriser accepts when called on its own: those the
// renderers can hand in.
inline bool Drawable(int32_t v) { return v > -s3d::kMaxPixelCoord && v < s3d::kMaxPixelCoord; }
inline bool Drawable(qntPOS p) { return Drawable(p.x) && Drawable(p.y); }

}  // namespace

bool CQNF_3D_SurfaceBase::int_BindRaster(CQNF_Image* target, qntRECT_s clip, RasterTarget& rt, Clip& c) const
{
    if (!target || target->GetImageMode() != qnimg::ModeRGBA || !target->HasPixels())
        return false;
    const int32_t w = target->GetImageWidth(), h = target->GetImageHeight();
    if (clip.left < 0 || clip.top < 0 || clip.right > w || clip.bottom > h || clip.left >= clip.right ||
        clip.top >= clip.bottom)
        return false;
    if (clip.right - clip.left != m_zbWidth || clip.bottom - clip.top != m_zbHeight)
        return false;
    for (unsigned p = 0; p < 4; ++p)
        rt.plane[p] = target->GetPlane(p);
    rt.width = w;
    rt.height = h;
    c = Clip{clip.left, clip.top, clip.right, clip.bottom};
    return true;
}

bool CQNF_3D_SurfaceBase::int_BindTextures(CQNF_Image* front, CQNF_Image* back, DraftTextures& t) const
{
    if (!front || !back || front->GetImageMode() != qnimg::ModeRGBA || !front->HasPixels() || !back->HasPixels() ||
        qnimg::PlaneCountOfMode(back->GetImageMode()) < 3 || back->GetImageWidth() != front->GetImageWidth() ||
        back->GetImageHeight() != front->GetImageHeight())
        return false;
    for (unsigned p = 0; p < 4; ++p)
        t.front[p] = front->GetPlane(p);
    for (unsigned p = 0; p < 3; ++p)
        t.back[p] = back->GetPlane(p);
    t.width = front->GetImageWidth();
    t.height = front->GetImageHeight();
    return true;
}

bool CQNF_3D_SurfaceBase::int_NeighbourAllows(const Clip& c, int32_t x, int32_t y, uint32_t triangle) const
{
    const ZBUFFER_CELL& cell =
        ZCells()[static_cast<size_t>(y - c.top) * static_cast<size_t>(m_zbWidth) + static_cast<size_t>(x - c.left)];
    if (cell.triangle == kEmptyCell || cell.triangle == triangle)
        return true;
    if (cell.triangle >= m_triangleCount || triangle >= m_triangleCount)
        return false;
    const TRIMESH& a = Triangles()[triangle];
    const TRIMESH& b = Triangles()[cell.triangle];
    const uint32_t ia[3] = {a.a, a.b, a.c}, ib[3] = {b.a, b.b, b.c};
    int shared = 0;
    for (uint32_t i : ia)
        for (uint32_t j : ib)
            shared += i == j;
    return shared >= 2;
}

// The frame every span shares: the row must lie in the clip; columns run from
// max(x0, left) while below x1 and below the clip's right edge; depth is
// stepped by (z1 - z0) / (x1 - x0) per column from its value at the first.
template <class PixelFn>
void CQNF_3D_SurfaceBase::int_SpanFrame(const Clip& c, int32_t row, int32_t x0, int32_t x1, float z0, float z1,
                                        PixelFn&& pixel)
{
    if (row < c.top || row >= c.bottom || x0 >= c.right || x1 < c.left)
        return;
    const int32_t xs = std::max(x0, c.left);
    const int32_t xe = std::min(x1, c.right);
    if (xs >= xe)
        return;
    const float dz = x1 != x0 ? (z1 - z0) / static_cast<float>(static_cast<int64_t>(x1) - x0) : 0.0f;
    float z = z0 + static_cast<float>(static_cast<int64_t>(xs) - x0) * dz;
    ZBUFFER_CELL* cell =
        ZCells() + static_cast<size_t>(row - c.top) * static_cast<size_t>(m_zbWidth) + static_cast<size_t>(xs - c.left);
    for (int32_t x = xs; x < xe; ++x, ++cell, z += dz)
        pixel(x, z, *cell);
}

void CQNF_3D_SurfaceBase::int_SpanFlat(const RasterTarget& rt, const Clip& c, int32_t row, int32_t x0, int32_t x1,
                                       float z0, float z1, qntRGBA8 colour, uint32_t triangle)
{
    int_SpanFrame(c, row, x0, x1, z0, z1, [&](int32_t x, float z, ZBUFFER_CELL& cell) {
        // Strict test: of two equal depths the pixel drawn first stays.
        if (cell.triangle != kEmptyCell && !(cell.depth > z))
            return;
        cell.depth = z;
        cell.triangle = triangle;
        OpaqueWrite(rt.plane, PixelIndex(rt.width, x, row), colour.r, colour.g, colour.b);
    });
}

void CQNF_3D_SurfaceBase::int_TriFlat(const RasterTarget& rt, const Clip& c, qntPOS a, qntPOS b, qntPOS cc, float za,
                                      float zb, float zc, qntRGBA8 colour, uint32_t triangle)
{
    const s3d::WalkVertex<1> v[3] = {{a.x, a.y, {za}}, {b.x, b.y, {zb}}, {cc.x, cc.y, {zc}}};
    s3d::WalkTriangle<1>(v[0], v[1], v[2], c.top, c.bottom,
                         [&](int32_t y, int32_t xl, const float* al, int32_t xr, const float* ar) {
                             int_SpanFlat(rt, c, y, xl, xr, al[0], ar[0], colour, triangle);
                         });
}

void CQNF_3D_SurfaceBase::int_MeshPixel(const RasterTarget& rt, const Clip& c, int32_t x, int32_t y, qntRGBA8 colour,
                                        uint32_t triangle)
{
    if (x < c.left || x >= c.right || y < c.top || y >= c.bottom || !int_NeighbourAllows(c, x, y, triangle))
        return;
    OpaqueWrite(rt.plane, PixelIndex(rt.width, x, y), colour.r, colour.g, colour.b);
}

void CQNF_3D_SurfaceBase::int_MeshLine(const RasterTarget& rt, const Clip& c, int32_t x0, int32_t y0, int32_t x1,
                                       int32_t y1, qntRGBA8 colour, uint32_t triangle)
{
    // Digital differential analyser in 16.16 fixed point (64-bit, so minor
    // differences of any length fit), the minor coordinate starting half a
    // pixel in.
    const int64_t dx = int64_t{x1} - x0, dy = int64_t{y1} - y0;
    const bool rows = std::llabs(dy) > std::llabs(dx);
    const int64_t major = rows ? dy : dx, minor = rows ? dx : dy;
    const int64_t start = rows ? y0 : x0, minorStart = rows ? x0 : y0;
    const int64_t steps = std::llabs(major);
    const int64_t step = major ? (minor * 65536) / major : 0;
    const int64_t dir = major >= 0 ? 1 : -1;
    const int64_t signedStep = major > 0 ? step : -step;
    // Only positions inside the clip's range along the major axis can draw;
    // the fixed-point value at step i is start + i x step, exactly.
    const int64_t lo = rows ? c.top : c.left, hi = (rows ? c.bottom : c.right) - 1;
    int64_t i0 = 0, i1 = steps;
    if (dir > 0) {
        i0 = std::max<int64_t>(i0, lo - start);
        i1 = std::min<int64_t>(i1, hi - start);
    } else {
        i0 = std::max<int64_t>(i0, start - hi);
        i1 = std::min<int64_t>(i1, start - lo);
    }
    int64_t fixed = minorStart * 65536 + 32768 + i0 * signedStep;
    for (int64_t i = i0; i <= i1; ++i, fixed += signedStep) {
        const int64_t m = start + i * dir;
        const int64_t n = fixed >> 16;
        if (n < INT32_MIN || n > INT32_MAX)
            continue;
        if (rows)
            int_MeshPixel(rt, c, static_cast<int32_t>(n), static_cast<int32_t>(m), colour, triangle);
        else
            int_MeshPixel(rt, c, static_cast<int32_t>(m), static_cast<int32_t>(n), colour, triangle);
    }
}

void CQNF_3D_SurfaceBase::int_AAMeshPixel(const RasterTarget& rt, const Clip& c, int32_t x, int32_t y,
                                          unsigned char direction, double before, double at, double after,
                                          qntRGBA8 colour, uint32_t triangle)
{
    if (x < c.left || x >= c.right || y < c.top || y >= c.bottom || !int_NeighbourAllows(c, x, y, triangle))
        return;
    auto blend = [&](int32_t px, int32_t py, double d) {
        const uint32_t w = CoverageWeight(d, colour.a);
        if (w == 0)
            return;
        const size_t i = PixelIndex(rt.width, px, py);
        rt.plane[0][i] = static_cast<uint8_t>((colour.r * w + rt.plane[0][i] * (255 - w)) >> 8);
        rt.plane[1][i] = static_cast<uint8_t>((colour.g * w + rt.plane[1][i] * (255 - w)) >> 8);
        rt.plane[2][i] = static_cast<uint8_t>((colour.b * w + rt.plane[2][i] * (255 - w)) >> 8);
        rt.plane[3][i] = std::max<uint8_t>(static_cast<uint8_t>(w), rt.plane[3][i]);
    };
    blend(x, y, at);
    if (direction == 0) {
        if (y > c.top)
            blend(x, y - 1, before);
        if (y < c.bottom - 1)
            blend(x, y + 1, after);
    } else {
        if (x > c.left)
            blend(x - 1, y, before);
        if (x < c.right - 1)
            blend(x + 1, y, after);
    }
}

void CQNF_3D_SurfaceBase::int_AAMeshLine(const RasterTarget& rt, const Clip& c, int32_t x0, int32_t y0, int32_t x1,
                                         int32_t y1, qntRGBA8 colour, uint32_t triangle)
{
    int64_t dx = int64_t{x1} - x0, dy = int64_t{y1} - y0;
    if (dx == 0 && dy == 0) {
        int_AAMeshPixel(rt, c, x0, y0, 0, HUGE_VAL, 0.0, HUGE_VAL, colour, triangle);
        return;
    }
    // Gupta-Sproull midpoint line, three pixels across; told along the
    // columns, with columns and rows exchanged for steep lines.
    const double inv = 1.0 / (2.0 * std::sqrt(static_cast<double>(dx) * dx + static_cast<double>(dy) * dy));
    const unsigned char direction = std::llabs(dx) > std::llabs(dy) ? 0 : 1;
    int64_t a0 = direction == 0 ? x0 : y0, b0 = direction == 0 ? y0 : x0;
    int64_t a1 = direction == 0 ? x1 : y1;
    int64_t da = direction == 0 ? dx : dy, db = direction == 0 ? dy : dx;
    if (da < 0) {
        a0 = direction == 0 ? x1 : y1;
        b0 = direction == 0 ? y1 : x1;
        a1 = direction == 0 ? x0 : y0;
        da = -da;
        db = -db;
    }
    int64_t s = 1;
    if (db < 0) {
        s = -1;
        db = -db;
    }
    int64_t d = 2 * db - da;
    const int64_t incE = 2 * db, incNE = 2 * (db - da);
    const double T = 2.0 * static_cast<double>(da) * inv;
    auto plot = [&](int64_t a, int64_t b, double before, double at, double after) {
        if (a < INT32_MIN || a > INT32_MAX || b < INT32_MIN || b > INT32_MAX)
            return;
        const int32_t px = static_cast<int32_t>(direction == 0 ? a : b);
        const int32_t py = static_cast<int32_t>(direction == 0 ? b : a);
        int_AAMeshPixel(rt, c, px, py, direction, before, at, after, colour, triangle);
    };
    plot(a0, b0, T, 0.0, T);
    int64_t b = b0;
    for (int64_t a = a0 + 1; a <= a1; ++a) {
        int64_t e;
        if (d < 0) {
            e = d + da;
            d += incE;
        } else {
            b += s;
            e = d - da;
            d += incNE;
        }
        const double v = static_cast<double>(e) * inv * static_cast<double>(s);
        plot(a, b, T + v, std::fabs(static_cast<double>(e) * inv), T - v);
    }
}

void CQNF_3D_SurfaceBase::int_SpanDraftSimple(const RasterTarget& rt, const Clip& c, const DraftTextures& t,
                                              int32_t row, int32_t x0, int32_t x1, float z0, float z1,
                                              unsigned char frontFlag, double shade, int32_t offX, int32_t offY,
                                              uint32_t triangle)
{
    const int64_t ty = int64_t{row} - offY;
    if (ty < 0 || ty >= t.height)
        return;
    const uint8_t* const* colourPlanes = frontFlag ? t.front : t.back;
    int_SpanFrame(c, row, x0, x1, z0, z1, [&](int32_t x, float z, ZBUFFER_CELL& cell) {
        const int64_t tx = int64_t{x} - offX;
        if (tx < 0 || tx >= t.width)
            return;  // the texture does not reach here
        if (cell.triangle != kEmptyCell && !(cell.depth > z))
            return;
        const size_t ti = static_cast<size_t>(ty) * static_cast<size_t>(t.width) + static_cast<size_t>(tx);
        if (t.front[3][ti] == 0)
            return;
        cell.depth = z;
        cell.triangle = triangle;
        uint8_t rgb[3];
        for (int k = 0; k < 3; ++k)
            rgb[k] = shade == 1.0 ? colourPlanes[k][ti]
                                  : s3d::TruncLowByte(static_cast<float>(colourPlanes[k][ti] * shade));
        OpaqueWrite(rt.plane, PixelIndex(rt.width, x, row), rgb[0], rgb[1], rgb[2]);
    });
}

void CQNF_3D_SurfaceBase::int_SpanDraftTransformed(const RasterTarget& rt, const Clip& c, const DraftTextures& t,
                                                   int32_t row, int32_t x0, int32_t x1, float z0, float z1, float u0,
                                                   float v0, float u1, float v1, unsigned char frontFlag,
                                                   double shade, uint32_t triangle)
{
    if (row < c.top || row >= c.bottom || x0 >= c.right || x1 < c.left)
        return;
    const float len = x1 != x0 ? static_cast<float>(static_cast<int64_t>(x1) - x0) : 1.0f;
    const float du = x1 != x0 ? (u1 - u0) / len : 0.0f;
    const float dv = x1 != x0 ? (v1 - v0) / len : 0.0f;
    const float lead = static_cast<float>(static_cast<int64_t>(std::max(x0, c.left)) - x0);
    float u = u0 + lead * du, v = v0 + lead * dv;
    const float tw = static_cast<float>(t.width), th = static_cast<float>(t.height);
    const uint8_t* const* colourPlanes = frontFlag ? t.front : t.back;
    int_SpanFrame(c, row, x0, x1, z0, z1, [&](int32_t x, float z, ZBUFFER_CELL& cell) {
        const float cu = u, cv = v;
        u += du;
        v += dv;
        // trunc(u) outside [0, width): skipped (so is a coordinate that is not
        // a number).
        if (!(cu > -1.0f && cu < tw && cv > -1.0f && cv < th))
            return;
        if (cell.triangle != kEmptyCell && !(cell.depth > z))
            return;
        const size_t ti = static_cast<size_t>(static_cast<int32_t>(cv)) * static_cast<size_t>(t.width) +
                          static_cast<size_t>(static_cast<int32_t>(cu));
        if (t.front[3][ti] == 0)
            return;
        cell.depth = z;
        cell.triangle = triangle;
        uint8_t rgb[3];
        for (int k = 0; k < 3; ++k)
            rgb[k] = shade == 1.0 ? colourPlanes[k][ti]
                                  : s3d::TruncLowByte(static_cast<float>(colourPlanes[k][ti] * shade));
        OpaqueWrite(rt.plane, PixelIndex(rt.width, x, row), rgb[0], rgb[1], rgb[2]);
    });
}

void CQNF_3D_SurfaceBase::int_TriDraftSimple(const RasterTarget& rt, const Clip& c, const DraftTextures& t, qntPOS a,
                                             qntPOS b, qntPOS cc, float za, float zb, float zc,
                                             unsigned char frontFlag, double shade, int32_t offX, int32_t offY,
                                             uint32_t triangle)
{
    const s3d::WalkVertex<1> v[3] = {{a.x, a.y, {za}}, {b.x, b.y, {zb}}, {cc.x, cc.y, {zc}}};
    s3d::WalkTriangle<1>(v[0], v[1], v[2], c.top, c.bottom,
                         [&](int32_t y, int32_t xl, const float* al, int32_t xr, const float* ar) {
                             int_SpanDraftSimple(rt, c, t, y, xl, xr, al[0], ar[0], frontFlag, shade, offX, offY,
                                                 triangle);
                         });
}

void CQNF_3D_SurfaceBase::int_TriDraftTransformed(const RasterTarget& rt, const Clip& c, const DraftTextures& t,
                                                  qntPOS a, qntPOS b, qntPOS cc, float za, float zb, float zc,
                                                  const qnt2D_VERTEX& ta, const qnt2D_VERTEX& tb,
                                                  const qnt2D_VERTEX& tc, unsigned char frontFlag, double shade,
                                                  uint32_t triangle)
{
    const s3d::WalkVertex<3> v[3] = {
        {a.x, a.y, {za, ta.x, ta.y}}, {b.x, b.y, {zb, tb.x, tb.y}}, {cc.x, cc.y, {zc, tc.x, tc.y}}};
    s3d::WalkTriangle<3>(v[0], v[1], v[2], c.top, c.bottom,
                         [&](int32_t y, int32_t xl, const float* al, int32_t xr, const float* ar) {
                             int_SpanDraftTransformed(rt, c, t, y, xl, xr, al[0], ar[0], al[1], al[2], ar[1], ar[2],
                                                      frontFlag, shade, triangle);
                         });
}

// ---- The rasterisers as operations of their own --------------------------------

void CQNF_3D_SurfaceBase::int_DrawYLine(int32_t row, int32_t x0, int32_t x1, float z0, float z1, qntRGBA8 colour,
                                        CQNF_Image* target, qntRECT_s clip, uint32_t triangle)
{
    RasterTarget rt;
    Clip c;
    if (Drawable(x0) && Drawable(x1) && int_BindRaster(target, clip, rt, c))
        int_SpanFlat(rt, c, row, x0, x1, z0, z1, colour, triangle);
}

void CQNF_3D_SurfaceBase::int_FillTriangle(qntPOS a, qntPOS b, qntPOS cc, float za, float zb, float zc,
                                           qntRGBA8 colour, CQNF_Image* target, qntRECT_s clip, uint32_t triangle)
{
    RasterTarget rt;
    Clip c;
    if (Drawable(a) && Drawable(b) && Drawable(cc) && int_BindRaster(target, clip, rt, c))
        int_TriFlat(rt, c, a, b, cc, za, zb, zc, colour, triangle);
}

void CQNF_3D_SurfaceBase::int_BlendMeshPixel(int32_t x, int32_t y, qntRGBA8 colour, qntRECT_s clip,
                                             CQNF_Image* target, uint32_t triangle)
{
    RasterTarget rt;
    Clip c;
    if (int_BindRaster(target, clip, rt, c))
        int_MeshPixel(rt, c, x, y, colour, triangle);
}

void CQNF_3D_SurfaceBase::int_DrawMeshLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1, qntRGBA8 colour,
                                           CQNF_Image* target, qntRECT_s clip, uint32_t triangle)
{
    RasterTarget rt;
    Clip c;
    if (Drawable(x0) && Drawable(y0) && Drawable(x1) && Drawable(y1) && int_BindRaster(target, clip, rt, c))
        int_MeshLine(rt, c, x0, y0, x1, y1, colour, triangle);
}

void CQNF_3D_SurfaceBase::int_BlendAAMeshPixel(int32_t x, int32_t y, unsigned char direction, double before,
                                               double at, double after, qntRGBA8 colour, qntRECT_s clip,
                                               CQNF_Image* target, uint32_t triangle)
{
    RasterTarget rt;
    Clip c;
    if (int_BindRaster(target, clip, rt, c))
        int_AAMeshPixel(rt, c, x, y, direction, before, at, after, colour, triangle);
}

void CQNF_3D_SurfaceBase::int_DrawAAMeshLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1, qntRGBA8 colour,
                                             CQNF_Image* target, qntRECT_s clip, uint32_t triangle)
{
    RasterTarget rt;
    Clip c;
    if (Drawable(x0) && Drawable(y0) && Drawable(x1) && Drawable(y1) && int_BindRaster(target, clip, rt, c))
        int_AAMeshLine(rt, c, x0, y0, x1, y1, colour, triangle);
}

void CQNF_3D_SurfaceBase::int_DrawYLine_DraftMapping_Simple(int32_t row, int32_t x0, int32_t x1, float z0, float z1,
                                                            CQNF_Image* front, CQNF_Image* back,
                                                            unsigned char frontFlag, double shade,
                                                            int32_t texelXOffset, int32_t texelYOffset,
                                                            CQNF_Image* target, qntRECT_s clip, uint32_t triangle)
{
    RasterTarget rt;
    Clip c;
    DraftTextures t;
    if (Drawable(x0) && Drawable(x1) && int_BindRaster(target, clip, rt, c) && int_BindTextures(front, back, t))
        int_SpanDraftSimple(rt, c, t, row, x0, x1, z0, z1, frontFlag, shade, texelXOffset, texelYOffset, triangle);
}

void CQNF_3D_SurfaceBase::int_DrawYLine_DraftMapping_Transformed(int32_t row, int32_t x0, int32_t x1, float z0,
                                                                 float z1, float u0, float v0, float u1, float v1,
                                                                 CQNF_Image* front, CQNF_Image* back,
                                                                 unsigned char frontFlag, double shade,
                                                                 CQNF_Image* target, qntRECT_s clip,
                                                                 uint32_t triangle)
{
    RasterTarget rt;
    Clip c;
    DraftTextures t;
    if (Drawable(x0) && Drawable(x1) && int_BindRaster(target, clip, rt, c) && int_BindTextures(front, back, t))
        int_SpanDraftTransformed(rt, c, t, row, x0, x1, z0, z1, u0, v0, u1, v1, frontFlag, shade, triangle);
}

void CQNF_3D_SurfaceBase::int_FillTriangle_DraftMapping_Simple(qntPOS a, qntPOS b, qntPOS cc, float za, float zb,
                                                               float zc, CQNF_Image* front, CQNF_Image* back,
                                                               unsigned char frontFlag, double shade,
                                                               int32_t texelXOffset, int32_t texelYOffset,
                                                               CQNF_Image* target, qntRECT_s clip, uint32_t triangle)
{
    RasterTarget rt;
    Clip c;
    DraftTextures t;
    if (Drawable(a) && Drawable(b) && Drawable(cc) && int_BindRaster(target, clip, rt, c) &&
        int_BindTextures(front, back, t))
        int_TriDraftSimple(rt, c, t, a, b, cc, za, zb, zc, frontFlag, shade, texelXOffset, texelYOffset, triangle);
}

void CQNF_3D_SurfaceBase::int_FillTriangle_DraftMapping_Transformed(
    qntPOS a, qntPOS b, qntPOS cc, float za, float zb, float zc, const qnt2D_VERTEX* ta, const qnt2D_VERTEX* tb,
    const qnt2D_VERTEX* tc, CQNF_Image* front, CQNF_Image* back, unsigned char frontFlag, double shade,
    CQNF_Image* target, qntRECT_s clip, uint32_t triangle)
{
    RasterTarget rt;
    Clip c;
    DraftTextures t;
    if (ta && tb && tc && Drawable(a) && Drawable(b) && Drawable(cc) && int_BindRaster(target, clip, rt, c) &&
        int_BindTextures(front, back, t))
        int_TriDraftTransformed(rt, c, t, a, b, cc, za, zb, zc, *ta, *tb, *tc, frontFlag, shade, triangle);
}
