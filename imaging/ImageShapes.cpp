// The picture's drawing primitives: blended and antialiased pixels, lines,
// rectangles and circles, each cut to a clip rectangle.
#include "imaging/Image.h"

#include "core/Mem.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

// ---------------------------------------------------------------------------
// Drawing

void CQNF_Image::internal_BlendPixel(int x, int y, qntRGBA8 colour)
{
    const int a = colour.a;
    if (a == 0)
        return;
    const size_t plane = PlaneSize();
    uint8_t* p = static_cast<uint8_t*>(m_pixels->GetPtr()) + size_t(y) * m_width + size_t(x);
    if (a == 255) {
        p[0] = colour.r;
        p[plane] = colour.g;
        p[2 * plane] = colour.b;
        if (m_mode == qnimg::ModeRGBA)
            p[3 * plane] = 255;
        return;
    }
    p[0] = static_cast<uint8_t>((a * colour.r + (255 - a) * p[0]) >> 8);
    p[plane] = static_cast<uint8_t>((a * colour.g + (255 - a) * p[plane]) >> 8);
    p[2 * plane] = static_cast<uint8_t>((a * colour.b + (255 - a) * p[2 * plane]) >> 8);
    if (m_mode == qnimg::ModeRGBA)
        p[3 * plane] = static_cast<uint8_t>(255 - (((255 - a) * (255 - p[3 * plane])) >> 8));
}

void CQNF_Image::internal_BlendAlphaPixel(int x, int y, uint8_t alpha)
{
    static_cast<uint8_t*>(m_pixels->GetPtr())[3 * PlaneSize() + size_t(y) * m_width + size_t(x)] = alpha;
}

void CQNF_Image::internal_BlendAAPixel(int x, int y, double distance, qntRGBA8 colour, uint8_t accumulateAlpha)
{
    const double q = 1.0 - 2.0 * std::fabs(distance) / 3.0;
    const float f = static_cast<float>(q * q * 255.0);
    const int i = f >= 255.0f ? 255 : (f > 0.0f ? static_cast<int>(f) : 0);
    const int k = (i * colour.a) >> 8;
    if (k == 0)
        return;
    const size_t plane = PlaneSize();
    uint8_t* p = static_cast<uint8_t*>(m_pixels->GetPtr()) + size_t(y) * m_width + size_t(x);
    p[0] = static_cast<uint8_t>((colour.r * k + p[0] * (255 - k)) >> 8);
    p[plane] = static_cast<uint8_t>((colour.g * k + p[plane] * (255 - k)) >> 8);
    p[2 * plane] = static_cast<uint8_t>((colour.b * k + p[2 * plane] * (255 - k)) >> 8);
    if (m_mode == qnimg::ModeRGBA) {
        uint8_t& da = p[3 * plane];
        da = accumulateAlpha ? static_cast<uint8_t>(255 - (((255 - k) * (255 - da)) >> 8))
                             : std::max<uint8_t>(da, static_cast<uint8_t>(k));
    }
}

// The one-pixel line in 16.16 fixed point along the major axis, both end
// points included; each pixel inside the clip is blended or, for the alpha
// line, stored into the alpha plane.
void CQNF_Image::WalkLine(int x1, int y1, int x2, int y2, const qntRECT_s& clip, qntRGBA8 colour, bool alphaOnly,
                          uint8_t alpha)
{
    const int dx = x2 - x1;
    const int dy = y2 - y1;
    const bool alongX = std::abs(dy) <= std::abs(dx);
    const int majorStart = alongX ? x1 : y1;
    const int majorDelta = alongX ? dx : dy;
    const int minorStart = alongX ? y1 : x1;
    const int minorDelta = alongX ? dy : dx;
    const int steps = std::abs(majorDelta);
    const int dir = majorDelta < 0 ? -1 : 1;
    // 64-bit: a minor delta of up to 65535 shifted by 16 does not fit an int.
    const int64_t slope = steps ? int64_t{minorDelta} * 65536 / steps : 0;
    int64_t minor = int64_t{minorStart} * 65536 + 32768;
    for (int i = 0; i <= steps; ++i, minor += slope) {
        const int major = majorStart + i * dir;
        const int m = static_cast<int>(minor >> 16);
        const int x = alongX ? major : m;
        const int y = alongX ? m : major;
        if (x < clip.left || x >= clip.right || y < clip.top || y >= clip.bottom)
            continue;
        if (alphaOnly)
            internal_BlendAlphaPixel(x, y, alpha);
        else
            internal_BlendPixel(x, y, colour);
    }
}

bool CQNF_Image::DrawLine(int16_t x1, int16_t y1, int16_t x2, int16_t y2, qntRGBA8 colour, qntRECT_s clip)
{
    if (!HasPixels()) {
        SetError(qnerr::Empty);
        return false;
    }
    qntRECT_s c{};
    if (DrawClip(clip, c))
        WalkLine(x1, y1, x2, y2, c, colour, false, 0);
    return true;
}

bool CQNF_Image::DrawLine(qntPOS from, qntPOS to, qntRGBA8 colour, qntRECT_s clip)
{
    return DrawLine(static_cast<int16_t>(from.x), static_cast<int16_t>(from.y), static_cast<int16_t>(to.x),
                    static_cast<int16_t>(to.y), colour, clip);
}

bool CQNF_Image::DrawRect(qntPOS a, qntPOS b, qntRGBA8 colour, qntRECT_s clip)
{
    DrawLine(qntPOS{a.x, a.y}, qntPOS{a.x, b.y}, colour, clip);
    DrawLine(qntPOS{a.x, a.y}, qntPOS{b.x, a.y}, colour, clip);
    DrawLine(qntPOS{b.x, b.y}, qntPOS{b.x, a.y}, colour, clip);
    return DrawLine(qntPOS{b.x, b.y}, qntPOS{a.x, b.y}, colour, clip);
}

bool CQNF_Image::DrawRect(qntRECT_s r, qntRGBA8 colour, qntRECT_s clip)
{
    return DrawRect(qntPOS{r.left, r.top}, qntPOS{r.right, r.bottom}, colour, clip);
}

bool CQNF_Image::DrawCircle(int16_t cx, int16_t cy, int16_t radius, qntRGBA8 colour, qntRECT_s clip)
{
    if (!HasPixels()) {
        SetError(qnerr::Empty);
        return false;
    }
    qntRECT_s c{};
    if (!DrawClip(clip, c))
        return true;
    auto plot = [&](int x, int y) {
        if (x >= c.left && x < c.right && y >= c.top && y < c.bottom)
            internal_BlendPixel(x, y, colour);
    };
    int x = 0;
    int y = radius;
    int d = 3 - 2 * radius;
    while (x <= y) {
        plot(cx + x, cy + y);
        plot(cx - x, cy + y);
        plot(cx + x, cy - y);
        plot(cx - x, cy - y);
        plot(cx + y, cy + x);
        plot(cx - y, cy + x);
        plot(cx + y, cy - x);
        plot(cx - y, cy - x);
        if (d < 0) {
            d += 4 * x + 6;
        } else {
            d += 4 * (x - y) + 10;
            --y;
        }
        ++x;
    }
    return true;
}

bool CQNF_Image::DrawCircle(qntPOS centre, int16_t radius, qntRGBA8 colour, qntRECT_s clip)
{
    return DrawCircle(static_cast<int16_t>(centre.x), static_cast<int16_t>(centre.y), radius, colour, clip);
}

bool CQNF_Image::DrawAlphaLine(int16_t x1, int16_t y1, int16_t x2, int16_t y2, uint8_t alpha, qntRECT_s clip)
{
    if (!HasPixels()) {
        SetError(qnerr::Empty);
        return false;
    }
    if (m_mode != qnimg::ModeRGBA)
        return true;
    qntRECT_s c{};
    if (DrawClip(clip, c))
        WalkLine(x1, y1, x2, y2, c, qntRGBA8{}, true, alpha);
    return true;
}

bool CQNF_Image::DrawAALine(int16_t x1, int16_t y1, int16_t x2, int16_t y2, qntRGBA8 colour, qntRECT_s clip,
                            uint8_t accumulateAlpha)
{
    if (!HasPixels()) {
        SetError(qnerr::Empty);
        return false;
    }
    qntRECT_s c{};
    if (!DrawClip(clip, c))
        return true;
    const auto inside = [&](int x, int y) { return x >= c.left && x < c.right && y >= c.top && y < c.bottom; };

    int ax = x1, ay = y1, bx = x2, by = y2;
    int dx = bx - ax;
    int dy = by - ay;
    if (dx == 0 && dy == 0) {
        // A line of no length has no direction: only its one pixel is drawn.
        if (inside(ax, ay))
            internal_BlendAAPixel(ax, ay, 0.0, colour, accumulateAlpha);
        return true;
    }
    const double invDen = 1.0 / (2.0 * std::sqrt(double(dx) * dx + double(dy) * dy));
    const bool alongY = std::abs(dy) >= std::abs(dx);
    if (alongY ? dy < 0 : dx < 0) {
        std::swap(ax, bx);
        std::swap(ay, by);
        dx = -dx;
        dy = -dy;
    }
    const int major = alongY ? dy : dx;
    int minorDelta = alongY ? dx : dy;
    const int s = minorDelta < 0 ? -1 : 1;
    minorDelta = std::abs(minorDelta);
    const double twoMajorInvDen = 2.0 * major * invDen;

    // Centre first, then the neighbours below and above across the line.
    auto plot3 = [&](int mj, int mn, double centreDist, double lowDist, double highDist) {
        const int x = alongY ? mn : mj;
        const int y = alongY ? mj : mn;
        if (!inside(x, y))
            return;
        internal_BlendAAPixel(x, y, centreDist, colour, accumulateAlpha);
        const int lowLimit = alongY ? c.left : c.top;
        const int highLimit = (alongY ? c.right : c.bottom) - 1;
        if (mn > lowLimit)
            internal_BlendAAPixel(alongY ? x - 1 : x, alongY ? y : y - 1, lowDist, colour, accumulateAlpha);
        if (mn < highLimit)
            internal_BlendAAPixel(alongY ? x + 1 : x, alongY ? y : y + 1, highDist, colour, accumulateAlpha);
    };

    int mj = alongY ? ay : ax;
    int mn = alongY ? ax : ay;
    plot3(mj, mn, 0.0, twoMajorInvDen, twoMajorInvDen);
    int e = 2 * minorDelta - major;
    for (int i = 0; i < major; ++i) {
        int t = 0;
        if (e >= 0) {
            mn += s;
            t = e - major;
            e += 2 * (minorDelta - major);
        } else {
            t = e + major;
            e += 2 * minorDelta;
        }
        ++mj;
        const double v = t * invDen * s;
        plot3(mj, mn, std::fabs(v), twoMajorInvDen + v, twoMajorInvDen - v);
    }
    return true;
}

bool CQNF_Image::DrawAALine(qntPOS from, qntPOS to, qntRGBA8 colour, qntRECT_s clip, uint8_t accumulateAlpha)
{
    return DrawAALine(static_cast<int16_t>(from.x), static_cast<int16_t>(from.y), static_cast<int16_t>(to.x),
                      static_cast<int16_t>(to.y), colour, clip, accumulateAlpha);
}
