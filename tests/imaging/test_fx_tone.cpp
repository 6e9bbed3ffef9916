// Tone and colour filters: each table- or cache-driven filter against its
// per-pixel formula, the identities, the colour-model conversions and the
// argument checks.
#include "imaging/ImageFX.h"
#include "test_fx_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

using fxtest::Planes;

namespace {

Planes Picture(int w, int h, int ch, bool alpha, uint32_t seed)
{
    Planes s(w, h, ch, alpha);
    s.FillRandom(seed);
    return s;
}

// Runs a filter from s into a fresh destination; returns the filter's result.
int RunFx(Planes& s, Planes& d, const std::function<int(CQNF_ImageFX&)>& f, unsigned short* error = nullptr)
{
    CQNF_ImageFX fx;
    EXPECT_TRUE(fxtest::Bind(fx, s, d));
    const int r = f(fx);
    if (error)
        *error = fx.GetError();
    EXPECT_TRUE(d.PaddingIntact());
    return r;
}

// Every colour plane mapped value by value, the alpha plane copied.
void ExpectPerValue(const Planes& s, const Planes& d, const std::function<int(int, int)>& want)
{
    const int colours = s.channels - (s.alpha ? 1 : 0);
    for (int p = 0; p < colours; ++p)
        for (int y = 0; y < s.h; ++y)
            for (int x = 0; x < s.w; ++x)
                ASSERT_EQ(d.At(p, x, y), want(p, s.At(p, x, y))) << "plane " << p << " value " << int(s.At(p, x, y));
    if (s.alpha) {
        EXPECT_TRUE(d.SamePlane(s, s.channels - 1));
    }
}

int BcRef(int v, int brightness, int contrast, int mid)
{
    const int b = std::clamp(v + brightness, 0, 255);
    if (contrast < 0)
        return std::clamp(b + (contrast * (b - mid)) / 100, 0, 255);
    if (contrast >= 100)
        return b < mid ? 0 : 255;
    if (contrast == 0)
        return b;
    const double c = contrast / 100.0;
    const int k = static_cast<int>(static_cast<float>(c / (1.0 - c) * 10000.0));
    return std::clamp(b + ((b - mid) * k) / 10000, 0, 255);
}

}  // namespace

TEST(FxTone, InvertMapsEveryValueAndTwiceRestores)
{
    Planes s = Picture(33, 17, 4, true, 1);
    Planes d = fxtest::Like(s);
    ASSERT_EQ(RunFx(s, d, [](CQNF_ImageFX& fx) { return fx.Invert(); }), 1);
    ExpectPerValue(s, d, [](int, int v) { return 255 - v; });
    Planes back = fxtest::Like(s);
    ASSERT_EQ(RunFx(d, back, [](CQNF_ImageFX& fx) { return fx.Invert(); }), 1);
    EXPECT_TRUE(back.SamePixels(s));
}

TEST(FxTone, ColorOverlayBlendsWithRoundedDivision)
{
    Planes s = Picture(64, 16, 4, true, 2);
    for (int x = 0; x < 64; ++x)
        for (int y = 0; y < 4; ++y)
            s.At(0, x, y) = static_cast<uint8_t>(x * 4 + y);  // every value of plane 0
    const uint8_t colour[3] = {250, 0, 99};
    for (int opacity : {0, 1, 77, 128, 254, 255}) {
        Planes d = fxtest::Like(s);
        ASSERT_EQ(RunFx(s, d, [&](CQNF_ImageFX& fx) { return fx.ColorOverlay(colour, static_cast<uint8_t>(opacity)); }), 1);
        ExpectPerValue(s, d, [&](int p, int v) {
            return opacity == 255 ? colour[p] : ((255 - opacity) * v + colour[p] * opacity + 127) / 255;
        });
    }
    // Opacity 0 leaves the picture alone, and a colour laid over itself
    // stays that colour (white stays white at every opacity).
    Planes d0 = fxtest::Like(s);
    RunFx(s, d0, [&](CQNF_ImageFX& fx) { return fx.ColorOverlay(colour, 0); });
    EXPECT_TRUE(d0.SamePixels(s));
    Planes white(8, 8, 3, false);
    for (int p = 0; p < 3; ++p)
        white.FillPlane(p, 255);
    const uint8_t w3[3] = {255, 255, 255};
    for (int opacity = 0; opacity < 256; opacity += 15) {
        Planes d = fxtest::Like(white);
        RunFx(white, d, [&](CQNF_ImageFX& fx) { return fx.ColorOverlay(w3, static_cast<uint8_t>(opacity)); });
        EXPECT_TRUE(d.SamePixels(white)) << opacity;
    }
}

TEST(FxTone, CombineCompositesTheDestinationOverlay)
{
    Planes s = Picture(29, 13, 4, true, 3);
    Planes overlay = Picture(29, 13, 4, true, 4);
    for (int opacity : {0, 90, 255}) {
        Planes d = overlay;
        ASSERT_EQ(RunFx(s, d, [&](CQNF_ImageFX& fx) { return fx.Combine_DonStoD(static_cast<uint8_t>(opacity)); }), 1);
        for (int p = 0; p < 3; ++p)
            for (int y = 0; y < s.h; ++y)
                for (int x = 0; x < s.w; ++x) {
                    const int k = overlay.At(3, x, y) * opacity / 255;
                    ASSERT_EQ(d.At(p, x, y), (overlay.At(p, x, y) * k + s.At(p, x, y) * (255 - k)) / 255);
                }
        EXPECT_TRUE(d.SamePlane(s, 3));
    }
    // A fully transparent overlay leaves the source; an opaque one at full
    // opacity replaces it; without alpha the opacity alone weighs.
    Planes clear = overlay;
    clear.FillPlane(3, 0);
    RunFx(s, clear, [](CQNF_ImageFX& fx) { return fx.Combine_DonStoD(255); });
    EXPECT_TRUE(clear.SamePixels(s));
    Planes opaque = overlay;
    opaque.FillPlane(3, 255);
    const Planes before = opaque;
    RunFx(s, opaque, [](CQNF_ImageFX& fx) { return fx.Combine_DonStoD(255); });
    for (int p = 0; p < 3; ++p)
        EXPECT_TRUE(opaque.SamePlane(before, p));
    Planes rgb = Picture(10, 10, 3, false, 5);
    Planes over = Picture(10, 10, 3, false, 6);
    Planes half = over;
    RunFx(rgb, half, [](CQNF_ImageFX& fx) { return fx.Combine_DonStoD(100); });
    for (int p = 0; p < 3; ++p)
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 10; ++x)
                ASSERT_EQ(half.At(p, x, y), (over.At(p, x, y) * 100 + rgb.At(p, x, y) * 155) / 255);
}

TEST(FxTone, BrightnessContrastFollowsItsFormulaForEveryValue)
{
    Planes s(256, 2, 4, true);
    for (int p = 0; p < 4; ++p)
        for (int x = 0; x < 256; ++x)
            for (int y = 0; y < 2; ++y)
                s.At(p, x, y) = static_cast<uint8_t>(p == 3 ? 255 - x : x);
    for (int b : {-128, -30, 0, 17, 127})
        for (int c : {-128, -100, -40, 0, 1, 50, 99, 100, 127})
            for (int mid : {128, 60}) {
                Planes d = fxtest::Like(s);
                ASSERT_EQ(RunFx(s, d, [&](CQNF_ImageFX& fx) {
                              return fx.BrightnessContrast(static_cast<int8_t>(b), static_cast<int8_t>(c),
                                                           static_cast<uint8_t>(mid));
                          }),
                          1);
                ExpectPerValue(s, d, [&](int, int v) { return BcRef(v, b, c, mid); });
            }
    // The named cases: an identity, a threshold at the pivot, an even grey,
    // and contrast 50 doubling the distance from the pivot.
    Planes d = fxtest::Like(s);
    RunFx(s, d, [](CQNF_ImageFX& fx) { return fx.BrightnessContrast(0, 0, 128); });
    EXPECT_TRUE(d.SamePixels(s));
    RunFx(s, d, [](CQNF_ImageFX& fx) { return fx.BrightnessContrast(0, 100, 128); });
    ExpectPerValue(s, d, [](int, int v) { return v < 128 ? 0 : 255; });
    RunFx(s, d, [](CQNF_ImageFX& fx) { return fx.BrightnessContrast(0, -100, 128); });
    ExpectPerValue(s, d, [](int, int) { return 128; });
    RunFx(s, d, [](CQNF_ImageFX& fx) { return fx.BrightnessContrast(0, 50, 128); });
    EXPECT_EQ(d.At(0, 100, 0), 72);
    EXPECT_EQ(d.At(0, 150, 0), 172);
}

TEST(FxColour, ConversionsRoundTripAndHandleGreys)
{
    for (int r = 0; r < 256; r += 5)
        for (int g = 0; g < 256; g += 5)
            for (int b = 0; b < 256; b += 5) {
                double h, l, s;
                CQNF_ImageFX::Color_RGB2HLS(static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(b),
                                            h, l, s);
                ASSERT_GE(h, 0.0);
                ASSERT_LT(h, 360.0);
                ASSERT_GE(s, 0.0);
                ASSERT_LE(s, 1.0);
                uint8_t r2, g2, b2;
                CQNF_ImageFX::Color_HLS2RGB(h, l, s, r2, g2, b2);
                ASSERT_LE(std::abs(r2 - r), 1) << r << " " << g << " " << b;
                ASSERT_LE(std::abs(g2 - g), 1);
                ASSERT_LE(std::abs(b2 - b), 1);
            }
    for (int v = 0; v < 256; ++v) {
        double h, l, s;
        CQNF_ImageFX::Color_RGB2HLS(static_cast<uint8_t>(v), static_cast<uint8_t>(v), static_cast<uint8_t>(v), h, l, s);
        EXPECT_EQ(h, 0.0);
        EXPECT_EQ(s, 0.0);
        uint8_t r2, g2, b2;
        CQNF_ImageFX::Color_HLS2RGB(h, l, s, r2, g2, b2);
        EXPECT_EQ(r2, v);
        EXPECT_EQ(g2, v);
        EXPECT_EQ(b2, v);
    }
    double h, l, s;
    CQNF_ImageFX::Color_RGB2HLS(0, 0, 255, h, l, s);
    EXPECT_DOUBLE_EQ(h, 240.0);
    CQNF_ImageFX::Color_RGB2HLS(255, 0, 128, h, l, s);
    EXPECT_GT(h, 300.0);
    EXPECT_EQ(CQNF_ImageFX::Color_CorrectLightness(200, -50), 100);
    EXPECT_EQ(CQNF_ImageFX::Color_CorrectLightness(55, 50), 155);
    EXPECT_EQ(CQNF_ImageFX::Color_CorrectLightness(77, 0), 77);
}

TEST(FxColour, HslCorrectionEqualsThePerPixelConversion)
{
    Planes s = Picture(40, 20, 4, true, 8);
    // Runs of one colour, which the filter computes once.
    for (int x = 5; x < 25; ++x)
        for (int p = 0; p < 3; ++p)
            s.At(p, x, 3) = static_cast<uint8_t>(40 * p + 10);
    for (const auto& hsl : {std::tuple{30, 0, 0}, std::tuple{-180, 40, -20}, std::tuple{180, -60, 70},
                            std::tuple{0, 100, 0}, std::tuple{0, -100, 0}, std::tuple{12, 99, -100}}) {
        // Plain names: a lambda below captures them.
        const int hue = std::get<0>(hsl), sat = std::get<1>(hsl), light = std::get<2>(hsl);
        for (int first = 0; first < 2; ++first) {
            Planes d = fxtest::Like(s);
            ASSERT_EQ(RunFx(s, d, [&](CQNF_ImageFX& fx) {
                          return fx.HSLCorrection(static_cast<int16_t>(hue), static_cast<int16_t>(sat),
                                                  static_cast<int16_t>(light), static_cast<uint8_t>(first));
                      }),
                      1);
            const double sf = sat / 100.0;
            for (int y = 0; y < s.h; ++y)
                for (int x = 0; x < s.w; ++x) {
                    uint8_t r = s.At(0, x, y), g = s.At(1, x, y), b = s.At(2, x, y);
                    if (first) {
                        r = CQNF_ImageFX::Color_CorrectLightness(r, light);
                        g = CQNF_ImageFX::Color_CorrectLightness(g, light);
                        b = CQNF_ImageFX::Color_CorrectLightness(b, light);
                    }
                    double H, L, S;
                    CQNF_ImageFX::Color_RGB2HLS(r, g, b, H, L, S);
                    H += hue;
                    S = sf <= 0.0 ? S * (1.0 + sf) : (sf < 1.0 ? S / (1.0 - sf) : 1.0);
                    CQNF_ImageFX::Color_HLS2RGB(H, L, S, r, g, b);
                    if (!first) {
                        r = CQNF_ImageFX::Color_CorrectLightness(r, light);
                        g = CQNF_ImageFX::Color_CorrectLightness(g, light);
                        b = CQNF_ImageFX::Color_CorrectLightness(b, light);
                    }
                    ASSERT_EQ(d.At(0, x, y), r) << hue << " " << sat << " " << light << " at " << x << "," << y;
                    ASSERT_EQ(d.At(1, x, y), g);
                    ASSERT_EQ(d.At(2, x, y), b);
                }
            EXPECT_TRUE(d.SamePlane(s, 3));
        }
    }
}

TEST(FxColour, HslNamedCases)
{
    Planes s = Picture(16, 16, 4, true, 9);
    Planes d = fxtest::Like(s);
    ASSERT_EQ(RunFx(s, d, [](CQNF_ImageFX& fx) { return fx.HSLCorrection(0, 0, 0, 1); }), 1);
    EXPECT_TRUE(d.SamePixels(s));

    // A grey pixel has hue 0: full saturation makes it red of its lightness.
    Planes grey(4, 4, 3, false);
    for (int p = 0; p < 3; ++p)
        grey.FillPlane(p, 127);
    Planes red = fxtest::Like(grey);
    RunFx(grey, red, [](CQNF_ImageFX& fx) { return fx.HSLCorrection(0, 100, 0, 1); });
    EXPECT_EQ(red.At(0, 1, 1), 254);
    EXPECT_EQ(red.At(1, 1, 1), 0);
    EXPECT_EQ(red.At(2, 1, 1), 0);

    // Saturation -100 leaves only the lightness.
    Planes flat = fxtest::Like(s);
    RunFx(s, flat, [](CQNF_ImageFX& fx) { return fx.HSLCorrection(0, -100, 0, 1); });
    for (int y = 0; y < s.h; ++y)
        for (int x = 0; x < s.w; ++x) {
            const int mx = std::max({s.At(0, x, y), s.At(1, x, y), s.At(2, x, y)});
            const int mn = std::min({s.At(0, x, y), s.At(1, x, y), s.At(2, x, y)});
            const double L = (mx / 255.0 + mn / 255.0) / 2.0;
            const uint8_t v = fxtest::Byte(L * 255.0);
            ASSERT_EQ(flat.At(0, x, y), v);
            ASSERT_EQ(flat.At(1, x, y), v);
            ASSERT_EQ(flat.At(2, x, y), v);
        }
}

TEST(FxColour, ColorizeDependsOnLightnessOnly)
{
    Planes s = Picture(30, 12, 3, false, 10);
    for (int first = 0; first < 2; ++first) {
        Planes d = fxtest::Like(s);
        ASSERT_EQ(RunFx(s, d, [&](CQNF_ImageFX& fx) { return fx.HSLColorize(200, 60, -30, static_cast<uint8_t>(first)); }), 1);
        for (int y = 0; y < s.h; ++y)
            for (int x = 0; x < s.w; ++x) {
                uint8_t c[3] = {s.At(0, x, y), s.At(1, x, y), s.At(2, x, y)};
                if (first)
                    for (auto& v : c)
                        v = CQNF_ImageFX::Color_CorrectLightness(v, -30);
                const int sum = std::max({c[0], c[1], c[2]}) + std::min({c[0], c[1], c[2]});
                uint8_t r, g, b;
                CQNF_ImageFX::Color_HLS2RGB(200.0, sum / 510.0, 0.6, r, g, b);
                if (!first) {
                    r = CQNF_ImageFX::Color_CorrectLightness(r, -30);
                    g = CQNF_ImageFX::Color_CorrectLightness(g, -30);
                    b = CQNF_ImageFX::Color_CorrectLightness(b, -30);
                }
                ASSERT_EQ(d.At(0, x, y), r);
                ASSERT_EQ(d.At(1, x, y), g);
                ASSERT_EQ(d.At(2, x, y), b);
            }
    }
}

TEST(FxColour, RangesAndLayoutsAreChecked)
{
    Planes rgba = Picture(8, 8, 4, true, 11);
    Planes cmyk = Picture(8, 8, 4, false, 12);
    Planes grey = Picture(8, 8, 1, false, 13);
    struct Case {
        Planes* src;
        std::function<int(CQNF_ImageFX&)> f;
    };
    const Case refused[] = {
        {&cmyk, [](CQNF_ImageFX& fx) { return fx.HSLCorrection(10, 0, 0, 1); }},
        {&grey, [](CQNF_ImageFX& fx) { return fx.HSLCorrection(10, 0, 0, 1); }},
        {&rgba, [](CQNF_ImageFX& fx) { return fx.HSLCorrection(181, 0, 0, 1); }},
        {&rgba, [](CQNF_ImageFX& fx) { return fx.HSLCorrection(-181, 0, 0, 1); }},
        {&rgba, [](CQNF_ImageFX& fx) { return fx.HSLCorrection(0, 101, 0, 1); }},
        {&rgba, [](CQNF_ImageFX& fx) { return fx.HSLCorrection(0, 0, -101, 1); }},
        {&rgba, [](CQNF_ImageFX& fx) { return fx.HSLColorize(361, 0, 0, 1); }},
        {&rgba, [](CQNF_ImageFX& fx) { return fx.HSLColorize(10, -1, 0, 1); }},
        {&cmyk, [](CQNF_ImageFX& fx) { return fx.HSLColorize(10, 10, 0, 1); }},
        {&rgba, [](CQNF_ImageFX& fx) { return fx.ColorOverlay(nullptr, 10); }},
    };
    for (const Case& c : refused) {
        Planes d = fxtest::Like(*c.src);
        const Planes before = d;
        unsigned short error = 0;
        EXPECT_EQ(RunFx(*c.src, d, c.f, &error), 0);
        EXPECT_EQ(error, 1);
        EXPECT_EQ(d.data, before.data);
    }
    Planes d = fxtest::Like(rgba);
    EXPECT_EQ(RunFx(rgba, d, [](CQNF_ImageFX& fx) { return fx.HSLColorize(360, 100, 100, 0); }), 1);
}

TEST(FxTone, EveryFilterRefusesMismatchedShapes)
{
    const uint8_t colour[4] = {1, 2, 3, 4};
    const std::function<int(CQNF_ImageFX&)> filters[] = {
        [](CQNF_ImageFX& fx) { return fx.Invert(); },
        [&](CQNF_ImageFX& fx) { return fx.ColorOverlay(colour, 9); },
        [](CQNF_ImageFX& fx) { return fx.Combine_DonStoD(9); },
        [](CQNF_ImageFX& fx) { return fx.BrightnessContrast(5, 5, 128); },
        [](CQNF_ImageFX& fx) { return fx.HSLCorrection(5, 5, 5, 1); },
        [](CQNF_ImageFX& fx) { return fx.HSLColorize(5, 5, 5, 1); },
    };
    Planes s = Picture(12, 9, 4, true, 14);
    for (const auto& f : filters) {
        for (Planes d : {Planes(12, 9, 3, false), Planes(13, 9, 4, true), Planes(12, 8, 4, true)}) {
            const Planes before = d;
            unsigned short error = 0;
            EXPECT_EQ(RunFx(s, d, f, &error), 0);
            EXPECT_EQ(error, 1);
            EXPECT_EQ(d.data, before.data);
        }
    }
}

TEST(FxTone, PerPixelFiltersWorkInPlace)
{
    const uint8_t colour[3] = {9, 99, 199};
    const std::function<int(CQNF_ImageFX&)> filters[] = {
        [](CQNF_ImageFX& fx) { return fx.Invert(); },
        [&](CQNF_ImageFX& fx) { return fx.ColorOverlay(colour, 70); },
        [](CQNF_ImageFX& fx) { return fx.BrightnessContrast(-20, 35, 128); },
        [](CQNF_ImageFX& fx) { return fx.HSLCorrection(40, 20, -10, 1); },
        [](CQNF_ImageFX& fx) { return fx.HSLColorize(40, 20, -10, 0); },
    };
    for (const auto& f : filters) {
        Planes s = Picture(21, 11, 4, true, 15);
        Planes want = fxtest::Like(s);
        RunFx(s, want, f);
        CQNF_ImageFX fx;
        ASSERT_TRUE(fxtest::Bind(fx, s, s));
        ASSERT_EQ(f(fx), 1);
        EXPECT_TRUE(s.SamePixels(want));
    }
}

TEST(FxTone, GrayConvertsTheSourceInPlaceOnly)
{
    Planes s = Picture(19, 7, 4, true, 16);
    const Planes original = s;
    Planes d = fxtest::Like(s);
    const Planes before = d;
    CQNF_ImageFX fx;
    ASSERT_TRUE(fxtest::Bind(fx, s, d));
    ASSERT_EQ(fx.ConvertSourceToGray(), 1);
    for (int y = 0; y < s.h; ++y)
        for (int x = 0; x < s.w; ++x) {
            const int g = (original.At(0, x, y) + original.At(1, x, y) + original.At(2, x, y)) / 3;
            for (int p = 0; p < 3; ++p)
                ASSERT_EQ(s.At(p, x, y), g);
        }
    EXPECT_TRUE(s.SamePlane(original, 3));
    EXPECT_EQ(d.data, before.data);

    Planes grey = Picture(5, 5, 1, false, 17);
    const Planes greyBefore = grey;
    CQNF_ImageFX g;
    ASSERT_TRUE(fxtest::BindSource(g, grey));
    EXPECT_EQ(g.ConvertSourceToGray(), 0);
    EXPECT_EQ(g.GetError(), 0);
    EXPECT_EQ(grey.data, greyBefore.data);
}
