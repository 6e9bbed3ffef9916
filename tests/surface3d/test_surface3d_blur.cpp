// Light-mask blurs: the separable constant Gaussian and the depth-dependent
// spread of shadow.
#include "surface3d/Surface2.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

using Plane = std::vector<uint8_t>;

void BlurConst(Plane& p, unsigned long w, unsigned long h, float sigma)
{
    CQNF_3D_SurfaceBase::int_Blur_Const(p.data(), w, h, sigma);
}

// Two renormalised passes (columns, then rows) with a given tap table.
Plane ReferenceBlur(const Plane& in, int w, int h, const std::vector<int>& taps)
{
    const int r = int(taps.size()) / 2;
    Plane t(in.size()), out(in.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            unsigned sw = 0, sv = 0;
            for (int k = -r; k <= r; ++k)
                if (y + k >= 0 && y + k < h) {
                    sw += taps[k + r];
                    sv += taps[k + r] * in[(y + k) * w + x];
                }
            t[y * w + x] = uint8_t(sv / sw);
        }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            unsigned sw = 0, sv = 0;
            for (int k = -r; k <= r; ++k)
                if (x + k >= 0 && x + k < w) {
                    sw += taps[k + r];
                    sv += taps[k + r] * t[y * w + x + k];
                }
            out[y * w + x] = uint8_t(sv / sw);
        }
    return out;
}

Plane Noise(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    Plane p(n);
    for (auto& b : p)
        b = uint8_t(rng());
    return p;
}

}  // namespace

TEST(SurfaceBlurConst, KernelTablesOfTheThreeReferenceRadii)
{
    const struct {
        float sigma;
        std::vector<int> taps;
    } cases[] = {
        {0.5f, {0, 34, 255, 34, 0}},
        {1.0f, {0, 2, 34, 154, 255, 154, 34, 2, 0}},
        {2.0f, {0, 2, 11, 34, 82, 154, 225, 255, 225, 154, 82, 34, 11, 2, 0}},
    };
    for (const auto& c : cases) {
        const Plane in = Noise(23 * 17, 3);
        Plane p = in;
        BlurConst(p, 23, 17, c.sigma);
        EXPECT_EQ(p, ReferenceBlur(in, 23, 17, c.taps)) << c.sigma;
    }
}

TEST(SurfaceBlurConst, BelowHalfAPixelNothingChanges)
{
    const Plane in = Noise(40 * 30, 4);
    Plane p = in;
    BlurConst(p, 40, 30, 0.49f);
    EXPECT_EQ(p, in);
    BlurConst(p, 40, 30, NAN);
    EXPECT_EQ(p, in);
    BlurConst(p, 0, 30, 3.0f);
    CQNF_3D_SurfaceBase::int_Blur_Const(nullptr, 40, 30, 3.0f);
    EXPECT_EQ(p, in);
}

TEST(SurfaceBlurConst, ConstantPlaneKeepsItsLevelAtAnyRadius)
{
    for (float sigma : {0.5f, 1.3f, 7.0f, 40.0f, 1.0e9f}) {
        Plane p(31 * 9, 77);
        BlurConst(p, 31, 9, sigma);
        EXPECT_TRUE(std::all_of(p.begin(), p.end(), [](uint8_t v) { return v == 77; })) << sigma;
    }
}

TEST(SurfaceBlurConst, ImpulseSpreadsSymmetricallyAroundItself)
{
    const int w = 21, h = 21;
    Plane p(w * h, 255);
    p[10 * w + 10] = 0;
    BlurConst(p, w, h, 2.0f);
    const auto darkest = std::min_element(p.begin(), p.end()) - p.begin();
    EXPECT_EQ(darkest, 10 * w + 10);
    EXPECT_LT(p[10 * w + 10], 255);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            EXPECT_EQ(p[y * w + x], p[y * w + (w - 1 - x)]);
            EXPECT_EQ(p[y * w + x], p[(h - 1 - y) * w + x]);
        }
}

TEST(SurfaceBlurPerspective, WithoutDistancesOrWithoutRangeItIsTheConstantBlur)
{
    const Plane in = Noise(30 * 20, 6);
    Plane expected = in;
    BlurConst(expected, 30, 20, 2.5f);

    Plane p = in;
    std::vector<float> depth(30 * 20, 0.0f);
    depth[5] = -1.0f;
    CQNF_3D_SurfaceBase::int_Blur_Perspective(1, p.data(), 30, 20, 1.0f, 2.5f, depth.data());
    EXPECT_EQ(p, expected);

    // All distances equal: no range to spread over.
    p = in;
    std::fill(depth.begin(), depth.end(), 4.0f);
    CQNF_3D_SurfaceBase::int_Blur_Perspective(0, p.data(), 30, 20, 1.0f, 2.5f, depth.data());
    EXPECT_EQ(p, expected);

    // sigmaNear not below sigmaFar: the constant blur, depth map untouched.
    p = in;
    std::vector<float> ramp(30 * 20);
    for (size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = float(i % 7);
    const auto rampCopy = ramp;
    CQNF_3D_SurfaceBase::int_Blur_Perspective(1, p.data(), 30, 20, 2.5f, 2.5f, ramp.data());
    EXPECT_EQ(p, expected);
    EXPECT_EQ(ramp, rampCopy);
}

TEST(SurfaceBlurPerspective, FullyLitPlaneStaysLitAndDistancesBecomeRadii)
{
    for (unsigned char separable : {0, 1}) {
        Plane p(16 * 16, 255);
        std::vector<float> depth(16 * 16, 0.0f);
        depth[3] = 10.0f;
        depth[100] = 20.0f;
        depth[200] = 15.0f;
        CQNF_3D_SurfaceBase::int_Blur_Perspective(separable, p.data(), 16, 16, 1.0f, 3.0f, depth.data());
        EXPECT_TRUE(std::all_of(p.begin(), p.end(), [](uint8_t v) { return v == 255; }));
        EXPECT_EQ(depth[3], 1.0f);
        EXPECT_EQ(depth[100], 3.0f);
        EXPECT_EQ(depth[200], 2.0f);
    }
}

TEST(SurfaceBlurPerspective, NearShadowStaysSharpFarShadowSpreads)
{
    for (unsigned char separable : {0, 1}) {
        const int w = 110, h = 32;
        Plane p(w * h, 255);
        std::vector<float> depth(w * h, 0.0f);
        // Two dark squares, one close to its occluder (distance 1), one far (9).
        for (int y = 11; y < 21; ++y)
            for (int x = 0; x < 10; ++x) {
                p[y * w + 20 + x] = 0;
                depth[y * w + 20 + x] = 1.0f;
                p[y * w + 70 + x] = 0;
                depth[y * w + 70 + x] = 9.0f;
            }
        CQNF_3D_SurfaceBase::int_Blur_Perspective(separable, p.data(), w, h, 0.5f, 4.0f, depth.data());
        auto halo = [&](int x0) {
            int n = 0;
            for (int y = 0; y < h; ++y)
                for (int x = x0 - 15; x < x0 + 25; ++x) {
                    const bool inside = y >= 11 && y < 21 && x >= x0 && x < x0 + 10;
                    n += !inside && p[y * w + x] < 255;
                }
            return n;
        };
        EXPECT_LT(p[15 * w + 24], 16);   // the sharp shadow keeps its core
        EXPECT_LT(p[15 * w + 74], 192);  // the soft one is lighter but still shadow
        EXPECT_LT(halo(20), halo(70)) << int(separable);
        if (separable) {
            // Pixels beside a shadow took its radius when the spread reached them.
            EXPECT_EQ(depth[15 * w + 80], 4.0f);
            EXPECT_EQ(depth[15 * w + 30], 0.5f);
        }
    }
}

TEST(SurfaceBlurPerspective, HugeRadiiAreBounded)
{
    // Radii of 1000 and more need kernels beyond the 1000-tap table; they are
    // cut to its size rather than written past it.
    for (unsigned char separable : {0, 1}) {
        Plane p(8 * 8, 0);
        std::vector<float> depth(8 * 8, 0.0f);
        depth[27] = 1.0f;
        depth[0] = 2.0f;
        CQNF_3D_SurfaceBase::int_Blur_Perspective(separable, p.data(), 8, 8, 300.0f, 1.0e6f, depth.data());
        EXPECT_LT(*std::min_element(p.begin(), p.end()), 255);
    }
}

TEST(SurfaceBlurEngine, FilterEngineBlurAgreesWithTheSeparableOne)
{
    CQNF_3D_Surface2 s;
    Plane flat(40 * 30, 90);
    s.int_Blur_Const_v2(flat.data(), 40, 30, 3.0f);
    EXPECT_TRUE(std::all_of(flat.begin(), flat.end(), [](uint8_t v) { return v >= 89 && v <= 90; }));

    Plane a(64 * 64, 255);
    for (int y = 20; y < 44; ++y)
        for (int x = 16; x < 40; ++x)
            a[y * 64 + x] = 0;
    Plane b = a;
    s.int_Blur_Const_v2(a.data(), 64, 64, 2.0f);
    BlurConst(b, 64, 64, 2.0f);
    double diff = 0;
    for (size_t i = 0; i < a.size(); ++i)
        diff += std::abs(int(a[i]) - int(b[i]));
    EXPECT_LT(diff / a.size(), 3.0);
    EXPECT_LT(a[32 * 64 + 28], 10);
    EXPECT_GT(a[32 * 64 + 10], 245);

    // Wider than the engine's 16-bit sizes: the separable blur takes over.
    Plane wide = Noise(70000, 8), ref = wide;
    s.int_Blur_Const_v2(wide.data(), 70000, 1, 1.0f);
    BlurConst(ref, 70000, 1, 1.0f);
    EXPECT_EQ(wide, ref);
    s.int_Blur_Const_v2(nullptr, 10, 10, 1.0f);
}
