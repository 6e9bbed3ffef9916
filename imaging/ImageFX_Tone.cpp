// Per-pixel filters of the filter engine: invert, colour overlay, the image
// overlay combine, brightness-contrast, hue-saturation-lightness correction,
// colorize and conversion to grey, with the colour-model conversions.
//
// Filters whose result depends on one byte only run through a 256-entry
// table built from the same formula; those that depend on the whole colour
// compute each pixel, but never twice for the same colour in a row of equal
// colours.
#include "imaging/ImageFX.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

using Lut = uint8_t[256];

void ApplyLut(const uint8_t* src, uint32_t srcStride, uint8_t* dst, uint32_t dstStride, int32_t width,
              int32_t height, const Lut& lut)
{
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* s = src + static_cast<size_t>(y) * srcStride;
        uint8_t* d = dst + static_cast<size_t>(y) * dstStride;
        for (int32_t x = 0; x < width; ++x)
            d[x] = lut[s[x]];
    }
}

// v / 255 for every byte, as the conversions divide.
struct Unit {
    double v[256];
    Unit()
    {
        for (int i = 0; i < 256; ++i)
            v[i] = i / 255.0;
    }
};
const Unit kUnit;

inline uint8_t UnitToByte(double v)
{
    v *= 255.0;
    v = v < 0.0 ? 0.0 : (v > 255.0 ? 255.0 : v);
    return static_cast<uint8_t>(static_cast<int32_t>(static_cast<float>(v)));
}

inline double ChannelValue(double m1, double m2, double h)
{
    if (h > 360.0)
        h -= 360.0;
    else if (h < 0.0)
        h += 360.0;
    if (h < 60.0)
        return m1 + (m2 - m1) * h / 60.0;
    if (h < 180.0)
        return m2;
    if (h < 240.0)
        return m1 + (m2 - m1) * (240.0 - h) / 60.0;
    return m1;
}

inline void RGB2HLS(uint8_t R, uint8_t G, uint8_t B, double& h, double& l, double& s)
{
    const double r = kUnit.v[R];
    const double g = kUnit.v[G];
    const double b = kUnit.v[B];
    const double mx = std::max(r, std::max(g, b));
    const double mn = std::min(r, std::min(g, b));
    l = (mx + mn) / 2.0;
    if (R == G && G == B) {
        s = 0.0;
        h = 0.0;
        return;
    }
    const double delta = mx - mn;
    s = l <= 0.5 ? delta / (mx + mn) : delta / (2.0 - mx - mn);
    if (r == mx)
        h = (g - b) / delta;
    else if (g == mx)
        h = (b - r) / delta + 2.0;
    else
        h = (r - g) / delta + 4.0;
    h *= 60.0;
    if (h < 0.0)
        h += 360.0;
}

inline void HLS2RGB(double h, double l, double s, uint8_t& r, uint8_t& g, uint8_t& b)
{
    if (s >= 1.0)
        s = 1.0;
    if (s <= 0.0) {
        r = g = b = UnitToByte(l);
        return;
    }
    if (h > 360.0)
        h -= 360.0;
    else if (h < 0.0)
        h += 360.0;
    const double m2 = l <= 0.5 ? l * (1.0 + s) : l + s - l * s;
    const double m1 = 2.0 * l - m2;
    r = UnitToByte(ChannelValue(m1, m2, h + 120.0));
    g = UnitToByte(ChannelValue(m1, m2, h));
    b = UnitToByte(ChannelValue(m1, m2, h - 120.0));
}

}  // namespace

void CQNF_ImageFX::Color_RGB2HLS(uint8_t r, uint8_t g, uint8_t b, double& h, double& l, double& s)
{
    RGB2HLS(r, g, b, h, l, s);
}

void CQNF_ImageFX::Color_HLS2RGB(double h, double l, double s, uint8_t& r, uint8_t& g, uint8_t& b)
{
    HLS2RGB(h, l, s, r, g, b);
}

uint8_t CQNF_ImageFX::Color_CorrectLightness(uint8_t value, int lightness)
{
    const int v = value;
    int r = v;
    if (lightness < 0)
        r = v + (v * lightness) / 100;
    else if (lightness > 0)
        r = v + ((255 - v) * lightness) / 100;
    return static_cast<uint8_t>(std::clamp(r, 0, 255));
}

int CQNF_ImageFX::Invert()
{
    // Locals: byte stores could alias the engine's own fields.
    const int32_t width = m_src.width;
    const int32_t height = m_src.height;
    if (!i_SameShape())
        return 0;
    // A subtraction the compiler runs on whole registers (no table).
    for (int p = 0; p < m_src.ColourPlanes(); ++p)
        for (int32_t y = 0; y < height; ++y) {
            const uint8_t* s = m_src.planes[p] + static_cast<size_t>(y) * m_src.stride;
            uint8_t* d = m_dst.planes[p] + static_cast<size_t>(y) * m_dst.stride;
            for (int32_t x = 0; x < width; ++x)
                d[x] = static_cast<uint8_t>(255 - s[x]);
        }
    i_CopyAlphaPlane();
    return 1;
}

int CQNF_ImageFX::ColorOverlay(const uint8_t* colour, uint8_t opacity)
{
    if (!i_SameShape())
        return 0;
    if (!colour && m_src.ColourPlanes() > 0) {
        SetError(qnerr::BadArgument);
        return 0;
    }
    for (int p = 0; p < m_src.ColourPlanes(); ++p) {
        // Rounded division by 255: opacity 0 keeps every value and a colour
        // laid over itself stays that colour.
        Lut lut;
        for (int v = 0; v < 256; ++v)
            lut[v] = opacity == 255 ? colour[p]
                                    : static_cast<uint8_t>(((255 - opacity) * v + colour[p] * opacity + 127) / 255);
        ApplyLut(m_src.planes[p], m_src.stride, m_dst.planes[p], m_dst.stride, m_src.width, m_src.height, lut);
    }
    i_CopyAlphaPlane();
    return 1;
}

int CQNF_ImageFX::Combine_DonStoD(uint8_t opacity)
{
    // Locals: byte stores could alias the engine's own fields.
    const int32_t height = m_src.height;
    if (!i_SameShape())
        return 0;
    const uint8_t* dAlpha = m_dst.AlphaPlane();
    const int32_t w = m_src.width;
    for (int p = 0; p < m_src.ColourPlanes(); ++p) {
        for (int32_t y = 0; y < height; ++y) {
            const uint8_t* s = m_src.planes[p] + static_cast<size_t>(y) * m_src.stride;
            uint8_t* d = m_dst.planes[p] + static_cast<size_t>(y) * m_dst.stride;
            if (dAlpha) {
                const uint8_t* a = dAlpha + static_cast<size_t>(y) * m_dst.stride;
                for (int32_t x = 0; x < w; ++x) {
                    const uint32_t k = (static_cast<uint32_t>(a[x]) * opacity) / 255;
                    d[x] = static_cast<uint8_t>((d[x] * k + s[x] * (255 - k)) / 255);
                }
            } else {
                const uint32_t k = opacity;
                for (int32_t x = 0; x < w; ++x)
                    d[x] = static_cast<uint8_t>((d[x] * k + s[x] * (255 - k)) / 255);
            }
        }
    }
    i_CopyAlphaPlane();
    return 1;
}

int CQNF_ImageFX::BrightnessContrast(int8_t brightness, int8_t contrast, uint8_t mid)
{
    if (!i_SameShape())
        return 0;
    int k = 0;
    if (contrast >= 1 && contrast <= 99) {
        const double c = contrast / 100.0;
        k = static_cast<int>(static_cast<float>(c / (1.0 - c) * 10000.0));
    }
    Lut lut;
    for (int v = 0; v < 256; ++v) {
        const int b = std::clamp(v + brightness, 0, 255);
        int d = b;
        if (contrast < 0)
            d = std::clamp(b + (contrast * (b - mid)) / 100, 0, 255);
        else if (contrast >= 100)
            d = b < mid ? 0 : 255;
        else if (contrast > 0)
            d = std::clamp(b + ((b - mid) * k) / 10000, 0, 255);
        lut[v] = static_cast<uint8_t>(d);
    }
    for (int p = 0; p < m_src.ColourPlanes(); ++p)
        ApplyLut(m_src.planes[p], m_src.stride, m_dst.planes[p], m_dst.stride, m_src.width, m_src.height, lut);
    i_CopyAlphaPlane();
    return 1;
}

namespace {

// The three- or four-plane layout the colour-model filters need: four planes
// only with alpha.
bool RgbLayout(int channels, int alpha) { return channels == 3 || (channels == 4 && alpha); }

}  // namespace

int CQNF_ImageFX::HSLCorrection(int16_t hue, int16_t saturation, int16_t lightness, uint8_t lightnessFirst)
{
    // Locals: byte stores could alias the engine's own fields.
    const int32_t width = m_src.width;
    const int32_t height = m_src.height;
    if (!i_SameShape())
        return 0;
    if (!RgbLayout(m_src.channels, m_src.alpha) || hue < -180 || hue > 180 || saturation < -100 ||
        saturation > 100 || lightness < -100 || lightness > 100) {
        SetError(qnerr::BadArgument);
        return 0;
    }
    if (hue == 0 && saturation == 0 && lightness == 0) {
        i_CopyAllPlanes();
        return 1;
    }
    i_CopyAlphaPlane();
    Lut light;
    for (int v = 0; v < 256; ++v)
        light[v] = Color_CorrectLightness(static_cast<uint8_t>(v), lightness);
    const double s = saturation / 100.0;
    for (int32_t y = 0; y < height; ++y) {
        const size_t so = static_cast<size_t>(y) * m_src.stride;
        const size_t dof = static_cast<size_t>(y) * m_dst.stride;
        const uint8_t* sr = m_src.planes[0] + so;
        const uint8_t* sg = m_src.planes[1] + so;
        const uint8_t* sb = m_src.planes[2] + so;
        uint8_t* dr = m_dst.planes[0] + dof;
        uint8_t* dg = m_dst.planes[1] + dof;
        uint8_t* db = m_dst.planes[2] + dof;
        // The last colour computed: runs of one colour are common.
        uint32_t lastIn = 0xFFFFFFFFu;
        uint8_t lr = 0, lg = 0, lb = 0;
        for (int32_t x = 0; x < width; ++x) {
            uint8_t r = sr[x], g = sg[x], b = sb[x];
            const uint32_t key = (static_cast<uint32_t>(r) << 16) | (g << 8) | b;
            if (key != lastIn) {
                lastIn = key;
                if (lightnessFirst) {
                    r = light[r];
                    g = light[g];
                    b = light[b];
                }
                double H, L, S;
                RGB2HLS(r, g, b, H, L, S);
                H += hue;
                if (s <= 0.0)
                    S = S * (1.0 + s);
                else if (s < 1.0)
                    S = S / (1.0 - s);
                else
                    S = 1.0;
                HLS2RGB(H, L, S, r, g, b);
                if (!lightnessFirst) {
                    r = light[r];
                    g = light[g];
                    b = light[b];
                }
                lr = r;
                lg = g;
                lb = b;
            }
            dr[x] = lr;
            dg[x] = lg;
            db[x] = lb;
        }
    }
    return 1;
}

int CQNF_ImageFX::HSLColorize(uint16_t hue, int16_t saturation, int16_t lightness, uint8_t lightnessFirst)
{
    // Locals: byte stores could alias the engine's own fields.
    const int32_t width = m_src.width;
    const int32_t height = m_src.height;
    if (!i_SameShape())
        return 0;
    if (!RgbLayout(m_src.channels, m_src.alpha) || hue > 360 || saturation < 0 || saturation > 100 ||
        lightness < -100 || lightness > 100) {
        SetError(qnerr::BadArgument);
        return 0;
    }
    i_CopyAlphaPlane();
    Lut light;
    for (int v = 0; v < 256; ++v)
        light[v] = Color_CorrectLightness(static_cast<uint8_t>(v), lightness);
    // The colour depends on max + min only: one entry per sum.
    uint8_t table[511][3];
    for (int sum = 0; sum <= 510; ++sum) {
        uint8_t r, g, b;
        HLS2RGB(hue, sum / 510.0, saturation / 100.0, r, g, b);
        if (!lightnessFirst) {
            r = light[r];
            g = light[g];
            b = light[b];
        }
        table[sum][0] = r;
        table[sum][1] = g;
        table[sum][2] = b;
    }
    for (int32_t y = 0; y < height; ++y) {
        const size_t so = static_cast<size_t>(y) * m_src.stride;
        const size_t dof = static_cast<size_t>(y) * m_dst.stride;
        const uint8_t* sr = m_src.planes[0] + so;
        const uint8_t* sg = m_src.planes[1] + so;
        const uint8_t* sb = m_src.planes[2] + so;
        uint8_t* dr = m_dst.planes[0] + dof;
        uint8_t* dg = m_dst.planes[1] + dof;
        uint8_t* db = m_dst.planes[2] + dof;
        for (int32_t x = 0; x < width; ++x) {
            uint8_t r = sr[x], g = sg[x], b = sb[x];
            if (lightnessFirst) {
                r = light[r];
                g = light[g];
                b = light[b];
            }
            const int sum = std::max(r, std::max(g, b)) + std::min(r, std::min(g, b));
            dr[x] = table[sum][0];
            dg[x] = table[sum][1];
            db[x] = table[sum][2];
        }
    }
    return 1;
}

int CQNF_ImageFX::ConvertSourceToGray()
{
    // Locals: byte stores could alias the engine's own fields.
    const int32_t width = m_src.width;
    const int32_t height = m_src.height;
    if (m_src.ColourPlanes() != 3)
        return 0;
    for (int32_t y = 0; y < height; ++y) {
        const size_t o = static_cast<size_t>(y) * m_src.stride;
        uint8_t* r = m_src.planes[0] + o;
        uint8_t* g = m_src.planes[1] + o;
        uint8_t* b = m_src.planes[2] + o;
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t v = static_cast<uint8_t>((r[x] + g[x] + b[x]) / 3);
            r[x] = g[x] = b[x] = v;
        }
    }
    return 1;
}
