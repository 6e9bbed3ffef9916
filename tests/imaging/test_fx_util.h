// Small planar pictures for the filter engine tests: planes with a stride
// wider than a row (so that stride mistakes show), filled by pattern or by a
// seeded generator, and bound to an engine as source or destination.
#pragma once

#include "imaging/ImageFX.h"

#include <cstdint>
#include <random>
#include <vector>

namespace fxtest {

struct Planes {
    int w = 0;
    int h = 0;
    int channels = 0;
    bool alpha = false;
    uint32_t stride = 0;
    std::vector<uint8_t> data;
    uint8_t* ptrs[5] = {};

    Planes() = default;
    Planes(int width, int height, int ch, bool hasAlpha, int extra = 3)
        : w(width), h(height), channels(ch), alpha(hasAlpha), stride(static_cast<uint32_t>(width + extra))
    {
        // Padding bytes hold a marker so that writes past a row show.
        data.assign(static_cast<size_t>(stride) * (h > 0 ? h : 1) * (ch > 0 ? ch : 1), 0xA5);
        Reseat();
    }
    Planes(const Planes& o) : w(o.w), h(o.h), channels(o.channels), alpha(o.alpha), stride(o.stride), data(o.data)
    {
        Reseat();
    }
    Planes& operator=(const Planes& o)
    {
        w = o.w;
        h = o.h;
        channels = o.channels;
        alpha = o.alpha;
        stride = o.stride;
        data = o.data;
        Reseat();
        return *this;
    }
    void Reseat()
    {
        for (int p = 0; p < 5; ++p)
            ptrs[p] = p < channels ? data.data() + static_cast<size_t>(p) * stride * (h > 0 ? h : 1) : nullptr;
    }

    uint8_t& At(int p, int x, int y) { return ptrs[p][static_cast<size_t>(y) * stride + x]; }
    uint8_t At(int p, int x, int y) const { return ptrs[p][static_cast<size_t>(y) * stride + x]; }

    void FillRandom(uint32_t seed)
    {
        std::mt19937 rng(seed);
        for (int p = 0; p < channels; ++p)
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    At(p, x, y) = static_cast<uint8_t>(rng() & 0xFF);
    }
    // Smooth colour gradients with some noise: a photo-like test picture.
    void FillPicture(uint32_t seed)
    {
        std::mt19937 rng(seed);
        for (int p = 0; p < channels; ++p)
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const int v = (x * (3 + p) + y * (5 - p)) * 255 / (w * 3 + h * 5 + 1) + static_cast<int>(rng() % 9) - 4;
                    At(p, x, y) = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
                }
    }
    // An alpha plane with a filled ellipse, soft at the rim, transparent outside.
    void FillEllipseAlpha()
    {
        const int p = channels - 1;
        const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0, rx = w * 0.35, ry = h * 0.35;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const double dx = (x - cx) / rx, dy = (y - cy) / ry;
                const double d = dx * dx + dy * dy;
                At(p, x, y) = d < 0.8 ? 255 : (d < 1.0 ? static_cast<uint8_t>((1.0 - d) * 5 * 255) : 0);
            }
    }
    void FillPlane(int p, uint8_t v)
    {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                At(p, x, y) = v;
    }
    bool SamePixels(const Planes& o) const
    {
        if (w != o.w || h != o.h || channels != o.channels)
            return false;
        for (int p = 0; p < channels; ++p)
            if (!SamePlane(o, p))
                return false;
        return true;
    }
    bool SamePlane(const Planes& o, int p) const
    {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (At(p, x, y) != o.At(p, x, y))
                    return false;
        return true;
    }
    // The padding bytes right of every row still hold the marker.
    bool PaddingIntact() const
    {
        for (int p = 0; p < channels; ++p)
            for (int y = 0; y < h; ++y)
                for (uint32_t x = static_cast<uint32_t>(w); x < stride; ++x)
                    if (ptrs[p][static_cast<size_t>(y) * stride + x] != 0xA5)
                        return false;
        return true;
    }
};

inline bool BindSource(CQNF_ImageFX& fx, Planes& s)
{
    return fx.SetSource(s.ptrs, s.stride, static_cast<uint8_t>(s.channels), s.alpha ? 1 : 0,
                        static_cast<uint16_t>(s.w), static_cast<uint16_t>(s.h)) == 1;
}

inline bool BindDestination(CQNF_ImageFX& fx, Planes& d)
{
    return fx.SetDestination(d.ptrs, d.stride, static_cast<uint8_t>(d.channels), d.alpha ? 1 : 0,
                             static_cast<uint16_t>(d.w), static_cast<uint16_t>(d.h)) == 1;
}

inline bool Bind(CQNF_ImageFX& fx, Planes& s, Planes& d) { return BindSource(fx, s) && BindDestination(fx, d); }

// A destination of the source's shape, filled with a marker value.
inline Planes Like(const Planes& s, uint8_t marker = 0x5A)
{
    Planes d(s.w, s.h, s.channels, s.alpha);
    for (int p = 0; p < d.channels; ++p)
        d.FillPlane(p, marker);
    return d;
}

inline uint8_t Byte(double v)
{
    v = v < 0.0 ? 0.0 : (v > 255.0 ? 255.0 : v);
    return static_cast<uint8_t>(static_cast<int32_t>(static_cast<float>(v)));
}

}  // namespace fxtest
