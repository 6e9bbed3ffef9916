// Tiling, resampling and convolution: against slow references written here,
// with their progress reports, margins and argument checks; and the binding
// of sources and destinations.
#include "core/Progress.h"
#include "imaging/Image.h"
#include "imaging/ImageFX.h"
#include "test_fx_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

using fxtest::Planes;

namespace {

// Records every report; cancels once `cancelAfter` reports have come.
class Recorder : public CQNF_Progress {
public:
    explicit Recorder(int cancelAfter = -1) : m_cancelAfter(cancelAfter) { SetUserDataPtr(this); }
    void Progress(uint8_t percent, void* data) override
    {
        reports.push_back(percent);
        dataOk = dataOk && data == this;
        if (m_cancelAfter >= 0 && static_cast<int>(reports.size()) >= m_cancelAfter)
            Cancel();
    }
    std::vector<int> reports;
    bool dataOk = true;

private:
    int m_cancelAfter;
};

Planes Picture(int w, int h, int ch, bool alpha, uint32_t seed)
{
    Planes s(w, h, ch, alpha);
    s.FillRandom(seed);
    return s;
}

// Scales, size and place of a resampled result.
struct RefAreaOf {
    double sx, sy;
    int rw, rh, ox, oy;
};

RefAreaOf RefArea(const Planes& s, int dw, int dh, bool keep)
{
    RefAreaOf a{double(dw) / s.w, double(dh) / s.h, dw, dh, 0, 0};
    if (keep) {
        a.sx = a.sy = std::min(a.sx, a.sy);
        a.rw = std::max(1, std::min(dw, int(s.w * a.sx)));
        a.rh = std::max(1, std::min(dh, int(s.h * a.sy)));
        a.ox = (dw - a.rw) / 2;
        a.oy = (dh - a.rh) / 2;
    }
    return a;
}

// Every destination pixel: the fill byte outside the result area, else
// value(area, plane, i, j) for result pixel (i, j).
template <class F>
Planes RefResample(const Planes& s, int dw, int dh, bool keep, uint8_t fill, F&& value)
{
    Planes d(dw, dh, s.channels, s.alpha);
    const RefAreaOf a = RefArea(s, dw, dh, keep);
    for (int p = 0; p < s.channels; ++p)
        for (int y = 0; y < dh; ++y)
            for (int x = 0; x < dw; ++x) {
                const bool inside = x >= a.ox && x < a.ox + a.rw && y >= a.oy && y < a.oy + a.rh;
                d.At(p, x, y) = inside ? value(a, p, x - a.ox, y - a.oy) : fill;
            }
    return d;
}

// The area-averaging resample, pixel by pixel from its definition.
Planes RefResize(const Planes& s, int dw, int dh, bool keep, uint8_t fill)
{
    return RefResample(s, dw, dh, keep, fill, [&](const RefAreaOf& a, int p, int i, int j) {
        const double fx = a.sx < 1 ? 1 / a.sx : 1, fy = a.sy < 1 ? 1 / a.sy : 1;
        const double kx = a.sx < 1 ? a.sx : 1, ky = a.sy < 1 ? a.sy : 1;
        const double ax = i / a.sx, bx = ax + fx, ay = j / a.sy, by = ay + fy;
        double acc = 0.0;
        for (double cy = std::floor(ay); cy < by; cy += 1) {
            const double oyv = std::min(by, cy + 1) - std::max(ay, cy);
            if (oyv <= 0)
                continue;
            const int row = int(std::min<double>(cy, s.h - 1));
            for (double cx = std::floor(ax); cx < bx; cx += 1) {
                const double oxv = std::min(bx, cx + 1) - std::max(ax, cx);
                if (oxv <= 0)
                    continue;
                const int col = int(std::min<double>(cx, s.w - 1));
                acc += (oxv * kx) * (oyv * ky) * s.At(p, col, row);
            }
        }
        return static_cast<uint8_t>(std::clamp(int(float(acc)), 0, 255));
    });
}

// The box mean, reading every kx-th column and ky-th row of each box.
Planes RefBoxResize(const Planes& s, int dw, int dh, bool keep, uint8_t fill)
{
    return RefResample(s, dw, dh, keep, fill, [&](const RefAreaOf& a, int p, int i, int j) {
        int kx = 1, ky = 1;
        while (double(s.w) / a.rw / kx > 32)
            ++kx;
        while (double(s.h) / a.rh / ky > 32)
            ++ky;
        const long x0 = i == 0 ? 0 : long(i) * s.w / a.rw, x1 = long(i + 1) * s.w / a.rw;
        const long y0 = j == 0 ? 0 : long(j) * s.h / a.rh, y1 = long(j + 1) * s.h / a.rh;
        long sum = 0, n = 0;
        for (long yy = y0; yy < y1; yy += ky)
            for (long xx = x0; xx < x1; xx += kx) {
                sum += s.At(p, int(xx), int(yy));
                ++n;
            }
        return static_cast<uint8_t>(n ? sum / n : 0);
    });
}

Planes RefConvolve(const Planes& s, const std::vector<int16_t>& k, int kw, int kh, bool alpha)
{
    Planes d = fxtest::Like(s);
    const int planes = (!alpha && s.alpha) ? s.channels - 1 : s.channels;
    for (int p = 0; p < s.channels; ++p)
        for (int y = 0; y < s.h; ++y)
            for (int x = 0; x < s.w; ++x) {
                if (p >= planes) {
                    d.At(p, x, y) = s.At(p, x, y);
                    continue;
                }
                long acc = 0, ws = 0;
                for (int j = 0; j < kh; ++j)
                    for (int i = 0; i < kw; ++i) {
                        const int xx = x + i - kw / 2, yy = y + j - kh / 2;
                        if (xx < 0 || yy < 0 || xx >= s.w || yy >= s.h)
                            continue;
                        ws += k[j * kw + i];
                        acc += long(k[j * kw + i]) * s.At(p, xx, yy);
                    }
                d.At(p, x, y) = ws ? static_cast<uint8_t>(std::clamp(acc / ws, 0L, 255L)) : 0;
            }
    return d;
}

}  // namespace

TEST(FxTile, RepeatsTheSourceAndReportsEachRow)
{
    Planes s = Picture(7, 5, 3, false, 1);
    Planes d(17, 12, 3, false);
    CQNF_ImageFX fx;
    Recorder rec;
    fx.SetProgress(&rec);
    ASSERT_TRUE(fxtest::Bind(fx, s, d));
    ASSERT_EQ(fx.Tile(), 1);
    for (int p = 0; p < 3; ++p)
        for (int y = 0; y < d.h; ++y)
            for (int x = 0; x < d.w; ++x)
                ASSERT_EQ(d.At(p, x, y), s.At(p, x % 7, y % 5));
    EXPECT_TRUE(d.PaddingIntact());
    ASSERT_EQ(rec.reports.size(), 2u + 3 * 12);
    EXPECT_EQ(rec.reports.front(), 0);
    EXPECT_EQ(rec.reports.back(), 100);
    for (size_t i = 1; i < rec.reports.size(); ++i)
        EXPECT_GE(rec.reports[i], rec.reports[i - 1]);
    EXPECT_TRUE(rec.dataOk);

    // A cancellation seen after a row ends the filter.
    Recorder stop(5);
    fx.SetProgress(&stop);
    EXPECT_EQ(fx.Tile(), 0);
    EXPECT_EQ(stop.reports.size(), 5u);

    // Channel counts must match, and an empty source cannot be tiled.
    fx.SetProgress(nullptr);
    Planes wrong(17, 12, 4, true);
    ASSERT_TRUE(fxtest::Bind(fx, s, wrong));
    EXPECT_EQ(fx.Tile(), 0);
    EXPECT_EQ(fx.GetError(), qnerr::BadArgument);
    Planes empty(0, 5, 3, false);
    fx.ResetError();
    ASSERT_TRUE(fxtest::Bind(fx, empty, d));
    EXPECT_EQ(fx.Tile(), 0);
    EXPECT_EQ(fx.GetError(), qnerr::BadArgument);
}

TEST(FxResize, SameSizeCopiesWithAReportPerPlane)
{
    Planes s = Picture(9, 6, 4, true, 2);
    Planes d = fxtest::Like(s);
    CQNF_ImageFX fx;
    Recorder rec;
    fx.SetProgress(&rec);
    ASSERT_TRUE(fxtest::Bind(fx, s, d));
    ASSERT_EQ(fx.Resize(0), 1);
    EXPECT_TRUE(d.SamePixels(s));
    EXPECT_EQ(rec.reports, (std::vector<int>{0, 25, 50, 75, 100, 100}));
}

TEST(FxResize, KeepAspectCentresTheResultInFill)
{
    Planes s = Picture(200, 100, 3, false, 3);
    Planes d(100, 100, 3, false);
    CQNF_ImageFX fx;
    fx.SetFillByte(7);
    ASSERT_TRUE(fxtest::Bind(fx, s, d));
    ASSERT_EQ(fx.Resize(1), 1);
    for (int y = 0; y < 100; ++y) {
        const bool result = y >= 25 && y < 75;
        for (int x = 0; x < 100 && !result; ++x)
            ASSERT_EQ(d.At(1, x, y), 7) << y;
    }
    EXPECT_TRUE(d.SamePixels(RefResize(s, 100, 100, true, 7)));
}

TEST(FxResize, MatchesTheReferenceBothWays)
{
    Planes s = Picture(31, 23, 2, true, 4);
    for (auto [w, h] : {std::pair{13, 9}, std::pair{62, 46}, std::pair{70, 11}, std::pair{5, 50}, std::pair{1, 1},
                        std::pair{31, 7}}) {
        for (int keep = 0; keep < 2; ++keep) {
            Planes d(w, h, 2, true);
            CQNF_ImageFX fx;
            fx.SetFillByte(3);
            ASSERT_TRUE(fxtest::Bind(fx, s, d));
            ASSERT_EQ(fx.Resize(static_cast<uint8_t>(keep)), 1);
            EXPECT_TRUE(d.SamePixels(RefResize(s, w, h, keep, 3))) << w << "x" << h << " keep " << keep;
            EXPECT_TRUE(d.PaddingIntact());
        }
    }
    // Halving averages pairs; doubling interpolates between neighbours.
    Planes row(4, 1, 1, false);
    const uint8_t v[4] = {10, 20, 100, 0};
    for (int x = 0; x < 4; ++x)
        row.At(0, x, 0) = v[x];
    Planes half(2, 1, 1, false);
    CQNF_ImageFX fx;
    ASSERT_TRUE(fxtest::Bind(fx, row, half));
    ASSERT_EQ(fx.Resize(0), 1);
    EXPECT_EQ(half.At(0, 0, 0), 15);
    EXPECT_EQ(half.At(0, 1, 0), 50);
    Planes twice(8, 1, 1, false);
    ASSERT_TRUE(fxtest::Bind(fx, row, twice));
    ASSERT_EQ(fx.Resize(0), 1);
    EXPECT_EQ(twice.At(0, 0, 0), 10);
    EXPECT_EQ(twice.At(0, 1, 0), 15);
    EXPECT_EQ(twice.At(0, 2, 0), 20);
    EXPECT_EQ(twice.At(0, 3, 0), 60);
}

TEST(FxResize, CancellationAndRefusals)
{
    Planes s = Picture(40, 40, 3, false, 5);
    Planes d(20, 20, 3, false);
    CQNF_ImageFX fx;
    Recorder stop(4);
    fx.SetProgress(&stop);
    ASSERT_TRUE(fxtest::Bind(fx, s, d));
    EXPECT_EQ(fx.Resize(0), 0);
    EXPECT_EQ(stop.reports.size(), 4u);
    fx.SetProgress(nullptr);
    for (auto [sw, sh, dw, dh, ch] : {std::tuple{40, 40, 20, 20, 4}, std::tuple{0, 40, 20, 20, 3},
                                      std::tuple{40, 40, 0, 20, 3}}) {
        Planes a(sw, sh, 3, false);
        Planes b(dw, dh, ch, ch == 4);
        fx.ResetError();
        ASSERT_TRUE(fxtest::Bind(fx, a, b));
        EXPECT_EQ(fx.Resize(1), 0);
        EXPECT_EQ(fx.GetError(), qnerr::BadArgument);
        fx.ResetError();
        EXPECT_EQ(fx.Resize_Int_ZO(1), 0);
        EXPECT_EQ(fx.GetError(), qnerr::BadArgument);
    }
}

TEST(FxResizeZO, BoxMeansAndHandsEnlargingToResize)
{
    Planes s = Picture(301, 157, 3, false, 6);
    for (auto [w, h] : {std::pair{100, 50}, std::pair{7, 3}, std::pair{1, 1}, std::pair{150, 157}}) {
        for (int keep = 0; keep < 2; ++keep) {
            Planes d(w, h, 3, false);
            CQNF_ImageFX fx;
            fx.SetFillByte(200);
            ASSERT_TRUE(fxtest::Bind(fx, s, d));
            ASSERT_EQ(fx.Resize_Int_ZO(static_cast<uint8_t>(keep)), 1);
            const bool enlarges = !keep && h >= s.h;
            const Planes want = enlarges ? RefResize(s, w, h, keep, 200) : RefBoxResize(s, w, h, keep, 200);
            EXPECT_TRUE(d.SamePixels(want)) << w << "x" << h << " keep " << keep;
        }
    }
    // Enlarging is exactly Resize.
    Planes a(400, 300, 3, false), b(400, 300, 3, false);
    CQNF_ImageFX fx;
    ASSERT_TRUE(fxtest::Bind(fx, s, a));
    ASSERT_EQ(fx.Resize_Int_ZO(1), 1);
    ASSERT_TRUE(fxtest::Bind(fx, s, b));
    ASSERT_EQ(fx.Resize(1), 1);
    EXPECT_TRUE(a.SamePixels(b));
    // Boxes above 6,250,000 source pixels are refused.
    Planes big(6000, 2000, 1, false);
    Planes dot(1, 1, 1, false);
    ASSERT_TRUE(fxtest::Bind(fx, big, dot));
    EXPECT_EQ(fx.Resize_Int_ZO(0), 0);
    EXPECT_EQ(fx.GetError(), qnerr::BadArgument);
}

TEST(FxConvolution, MatchesTheReference)
{
    Planes s = Picture(41, 27, 4, true, 7);
    const std::vector<std::tuple<int, int, std::vector<int16_t>>> kernels = {
        {3, 3, {-1, -2, -1, -2, 40, -2, -1, -2, -1}},
        {1, 1, {5}},
        {5, 3, {1, 2, 3, 2, 1, 0, -4, 9, -4, 0, 1, 2, 3, 2, 1}},
        {3, 3, {1, 0, -1, 2, 0, -2, 1, 0, -1}},  // sums to 0 inside
        {2, 4, {3, -1, 4, -1, 5, -9, 2, 6}},
        {3, 3, {32767, 32767, 32767, 32767, -32768, 32767, 32767, 32767, 32767}},
    };
    for (const auto& [kw, kh, k] : kernels) {
        for (int alpha = 0; alpha < 2; ++alpha) {
            Planes d = fxtest::Like(s);
            CQNF_ImageFX fx;
            ASSERT_TRUE(fxtest::Bind(fx, s, d));
            CQNF_ImageFX::QNFFX_CONVOLUTIONMASK m;
            m.weights = k.data();
            m.width = static_cast<uint16_t>(kw);
            m.height = static_cast<uint16_t>(kh);
            ASSERT_EQ(fx.ApplyConvolutionMask(m, static_cast<uint8_t>(alpha)), 1);
            EXPECT_TRUE(d.SamePixels(RefConvolve(s, k, kw, kh, alpha))) << kw << "x" << kh << " alpha " << alpha;
            // In place gives the same bytes.
            Planes inPlace = s;
            ASSERT_TRUE(fxtest::Bind(fx, inPlace, inPlace));
            ASSERT_EQ(fx.ApplyConvolutionMask(m, static_cast<uint8_t>(alpha)), 1);
            EXPECT_TRUE(inPlace.SamePixels(d));
        }
    }
}

TEST(FxConvolution, SharpeningKeepsConstantAreas)
{
    Planes s(20, 15, 3, false);
    for (int p = 0; p < 3; ++p)
        s.FillPlane(p, static_cast<uint8_t>(60 * p + 17));
    const std::function<int(CQNF_ImageFX&)> masks[] = {
        [](CQNF_ImageFX& fx) { return fx.filter_UnsharpenMaskDelicate(0); },
        [](CQNF_ImageFX& fx) { return fx.filter_UnsharpenMaskNormal(0); },
        [](CQNF_ImageFX& fx) { return fx.filter_UnsharpenMaskMore(0); },
    };
    for (const auto& f : masks) {
        Planes d = fxtest::Like(s);
        CQNF_ImageFX fx;
        ASSERT_TRUE(fxtest::Bind(fx, s, d));
        ASSERT_EQ(f(fx), 1);
        EXPECT_TRUE(d.SamePixels(s));
    }
    // The normal mask is (-1 -2 -1 / -2 40 -2 / -1 -2 -1) / 28.
    Planes r = Picture(12, 9, 4, true, 8);
    Planes d = fxtest::Like(r);
    CQNF_ImageFX fx;
    ASSERT_TRUE(fxtest::Bind(fx, r, d));
    ASSERT_EQ(fx.filter_UnsharpenMaskNormal(0), 1);
    EXPECT_TRUE(d.SamePixels(RefConvolve(r, {-1, -2, -1, -2, 40, -2, -1, -2, -1}, 3, 3, false)));
    CQNF_ImageFX::QNFFX_CONVOLUTIONMASK none;
    none.width = 3;
    none.height = 3;
    EXPECT_EQ(fx.ApplyConvolutionMask(none, 0), 0);
    EXPECT_EQ(fx.GetError(), qnerr::BadArgument);
}

TEST(FxBinding, RefusesUnsafeDescriptionsAndLeavesTheSideUnbound)
{
    Planes s = Picture(10, 10, 3, false, 9);
    Planes d = fxtest::Like(s);
    CQNF_ImageFX fx;
    // Only the planes in use are read from the list: a one-plane source may
    // pass a one-entry list.
    uint8_t* one[1] = {s.ptrs[0]};
    EXPECT_EQ(fx.SetSource(one, s.stride, 1, 0, 10, 10), 1);
    uint8_t* planes[5] = {s.ptrs[0], s.ptrs[1], nullptr, nullptr, nullptr};
    EXPECT_EQ(fx.SetSource(planes, s.stride, 3, 0, 10, 10), 0);  // a missing plane
    EXPECT_EQ(fx.GetError(), qnerr::BadArgument);
    EXPECT_EQ(fx.SetSource(s.ptrs, s.stride, 6, 0, 10, 10), 0);  // more than five planes
    EXPECT_EQ(fx.SetSource(s.ptrs, 9, 3, 0, 10, 10), 0);         // stride shorter than a row
    EXPECT_EQ(fx.SetSource(s.ptrs, s.stride, 0, 1, 10, 10), 0);  // alpha on no planes
    EXPECT_EQ(fx.SetSource(static_cast<uint8_t**>(nullptr), s.stride, 3, 0, 10, 10), 0);
    EXPECT_EQ(fx.SetSource(static_cast<uint8_t*>(nullptr), 10, 3, 0, 10, 10), 0);
    // After a refused binding no filter reaches the old planes.
    ASSERT_TRUE(fxtest::BindDestination(fx, d));
    const Planes before = d;
    fx.ResetError();
    EXPECT_EQ(fx.Invert(), 0);
    EXPECT_EQ(fx.GetError(), qnerr::BadArgument);
    EXPECT_EQ(d.data, before.data);
}

TEST(FxBinding, BackToBackPlanesAndTheDestinationDescription)
{
    std::vector<uint8_t> block(3 * 12 * 5);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<uint8_t>(i);
    std::vector<uint8_t> out(block.size(), 0);
    CQNF_ImageFX fx;
    ASSERT_EQ(fx.SetSource(block.data(), 12, 3, 0, 10, 5), 1);
    ASSERT_EQ(fx.SetDestination(out.data(), 12, 3, 0, 10, 5), 1);
    uint8_t* planes[5];
    uint32_t stride = 0;
    uint8_t channels = 0, alpha = 9;
    int32_t w = 0, h = 0;
    fx.GetDestination(planes, stride, channels, alpha, w, h);
    EXPECT_EQ(planes[0], out.data());
    EXPECT_EQ(planes[1], out.data() + 60);
    EXPECT_EQ(planes[2], out.data() + 120);
    EXPECT_EQ(planes[3], nullptr);
    EXPECT_EQ(stride, 12u);
    EXPECT_EQ(channels, 3);
    EXPECT_EQ(alpha, 0);
    EXPECT_EQ(w, 10);
    EXPECT_EQ(h, 5);
    ASSERT_EQ(fx.Invert(), 1);
    for (int p = 0; p < 3; ++p)
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 12; ++x) {
                const size_t i = static_cast<size_t>(p) * 60 + y * 12 + x;
                ASSERT_EQ(out[i], x < 10 ? 255 - block[i] : 0);  // the stride's slack untouched
            }
}

TEST(FxBinding, ImagesBindTheirOwnPlanes)
{
    CQNF_Image src, dst;
    ASSERT_TRUE(src.Create(20, 10, qnimg::ModeRGBA));
    ASSERT_TRUE(dst.Create(20, 10, qnimg::ModeRGBA));
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x)
            src.SetPixel(static_cast<uint16_t>(x), static_cast<uint16_t>(y),
                         qntRGBA8{static_cast<uint8_t>(x), static_cast<uint8_t>(y), 7, static_cast<uint8_t>(x + y)});
    CQNF_ImageFX fx;
    ASSERT_EQ(fx.SetSource(&src), 1);
    ASSERT_EQ(fx.SetDestination(&dst), 1);
    ASSERT_EQ(fx.Invert(), 1);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x) {
            const qntRGBA8 c = dst.GetPixel(static_cast<uint16_t>(x), static_cast<uint16_t>(y));
            ASSERT_EQ(c.r, 255 - x);
            ASSERT_EQ(c.g, 255 - y);
            ASSERT_EQ(c.b, 248);
            ASSERT_EQ(c.a, x + y);  // alpha copied, not inverted
        }
    uint8_t* planes[5];
    uint32_t stride;
    uint8_t channels, alpha;
    int32_t w, h;
    fx.GetDestination(planes, stride, channels, alpha, w, h);
    EXPECT_EQ(channels, 4);
    EXPECT_EQ(alpha, 1);
    EXPECT_EQ(stride, 20u);
    EXPECT_EQ(planes[3], dst.GetPlane(3));

    // An RGB image against an RGBA one breaks the common rule.
    CQNF_Image rgb;
    ASSERT_TRUE(rgb.Create(20, 10, qnimg::ModeRGB));
    ASSERT_EQ(fx.SetDestination(&rgb), 1);
    EXPECT_EQ(fx.Invert(), 0);
    EXPECT_EQ(fx.GetError(), qnerr::BadArgument);
    fx.ResetError();
    EXPECT_EQ(fx.SetSource(static_cast<CQNF_Image*>(nullptr)), 0);
    EXPECT_EQ(fx.GetError(), qnerr::BadArgument);
    // An image without pixels binds; there is nothing to filter.
    CQNF_Image none;
    ASSERT_EQ(fx.SetSource(&none), 1);
    ASSERT_EQ(fx.SetDestination(&none), 1);
    EXPECT_EQ(fx.GaussianBlur(3.0, 0, 1), 1);
}
