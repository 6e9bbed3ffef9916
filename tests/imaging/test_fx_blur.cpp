// Blurs of the filter engine, held against slow line-by-line references
// written here from the algorithm's description, against a double-precision
// Gaussian convolution, and against the identities and edge cases.
#include "imaging/ImageFX.h"
#include "imaging/ImageFX_Kernels.h"
#include "fx_blur_ref.h"
#include "test_fx_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

using fxtest::Planes;
using namespace fxblurtest;

// ---- The one-dimensional kernel --------------------------------------------

TEST(FxBlurLine, BlurVectorMatchesReferenceForBothEdgeRules)
{
    std::mt19937 rng(7);
    for (double sigma : {0.05, 0.3, 1.0, 1.49, 1.5, 2.2, 2.5, 4.0, 11.3, 60.0}) {
        for (size_t n : {1u, 2u, 5u, 64u, 333u}) {
            for (int constant = 0; constant < 2; ++constant) {
                std::vector<double> x(n);
                for (auto& v : x)
                    v = (rng() % 25600) / 100.0;
                CQNF_Mem work;
                CQNF_ImageFX::STRUCT_Blur_VectorData kd;
                CQNF_ImageFX::Blur_PrepareBlurData(sigma, &kd, &work, static_cast<uint8_t>(constant), 17);
                std::vector<double> got = x;
                kd.line = got.data();
                kd.length = static_cast<uint32_t>(n);
                ASSERT_EQ(CQNF_ImageFX::Blur_BlurVector(&kd), 1);
                const std::vector<double> want = RefBlurLine(sigma, x, constant != 0, 17.0);
                for (size_t i = 0; i < n; ++i)
                    ASSERT_EQ(got[i], want[i]) << "sigma " << sigma << " n " << n << " i " << i;
            }
        }
    }
}

TEST(FxBlurLine, KernelsAreGaussians)
{
    // Below sigma 1.5: taps sampled from one Gaussian (centre 1000), wider
    // than sigma so that a small blur still shows, growing with sigma, and
    // cut where a tap has faded under 0.1 % of the centre but not before it
    // falls under 0.1 % of the centre.
    CQNF_Mem work;
    CQNF_ImageFX::STRUCT_Blur_VectorData kd;
    double lastWidth = 0.0;
    for (double sigma : {0.2, 0.5, 0.8, 1.0, 1.2, 1.49}) {
        CQNF_ImageFX::Blur_PrepareBlurData(sigma, &kd, &work, 0, 0);
        ASSERT_EQ(kd.direct, 1) << sigma;
        ASSERT_GE(kd.halfWidth, 2);
        ASSERT_LE(kd.halfWidth, 20);
        EXPECT_DOUBLE_EQ(kd.weights[0], 1000.0);
        const double t = std::sqrt(-1.0 / (2.0 * std::log(kd.weights[1] / 1000.0)));
        for (int i = 0; i < kd.halfWidth; ++i)
            EXPECT_NEAR(kd.weights[i], 1000.0 * std::exp(-i * i / (2.0 * t * t)), 1e-9) << sigma << " tap " << i;
        EXPECT_GT(t, sigma);
        EXPECT_GT(t, lastWidth);
        lastWidth = t;
        EXPECT_LT(kd.weights[kd.halfWidth - 1], 1.0) << sigma;
        EXPECT_GE(kd.weights[kd.halfWidth - 2], 0.5) << sigma;
    }
    // From sigma 1.5 on: a recursive filter of unit gain whose impulse
    // response spreads like the Gaussian it stands for (a little wider, as
    // this approximation is known to be: at most a fifth).
    for (double sigma : {1.5, 2.5, 4.0, 9.0}) {
        CQNF_ImageFX::Blur_PrepareBlurData(sigma, &kd, &work, 1, 0);
        ASSERT_EQ(kd.direct, 0) << sigma;
        EXPECT_NEAR(kd.B + kd.B1 + kd.B2 + kd.B3, 1.0, 1e-12);
        std::vector<double> x(801, 0.0);
        x[400] = 1.0;
        kd.line = x.data();
        kd.length = static_cast<uint32_t>(x.size());
        ASSERT_EQ(CQNF_ImageFX::Blur_BlurVector(&kd), 1);
        double var = 0.0;
        for (int i = 0; i < 801; ++i)
            var += x[i] * (i - 400.0) * (i - 400.0);
        EXPECT_GE(std::sqrt(var), sigma) << sigma;
        EXPECT_LE(std::sqrt(var), 1.2 * sigma) << sigma;
    }
}

TEST(FxBlurLine, RecoveryFillsTransparentRunsFromTheirNeighbours)
{
    uint8_t v[10] = {9, 9, 10, 20, 30, 40, 50, 60, 70, 80};
    const uint8_t a[10] = {0, 0, 255, 0, 0, 0, 0, 9, 0, 0};
    CQNF_ImageFX::Blur_ZeroAlphaRecoveryData(v, a, 10);
    // Leading run takes the first visible value; the run 3..6 between 10
    // and 60 splits at 3 + 4/2 = 5; the trailing run takes the last visible.
    const uint8_t want[10] = {10, 10, 10, 10, 10, 60, 60, 60, 60, 60};
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(v[i], want[i]) << i;

    uint8_t none[4] = {1, 2, 3, 4};
    const uint8_t clear[4] = {0, 0, 0, 0};
    CQNF_ImageFX::Blur_ZeroAlphaRecoveryData(none, clear, 4);
    for (uint8_t x : none)
        EXPECT_EQ(x, 128);

    std::mt19937 rng(3);
    for (int round = 0; round < 200; ++round) {
        const size_t n = 1 + rng() % 40;
        std::vector<uint8_t> vals(n), al(n);
        for (size_t i = 0; i < n; ++i) {
            vals[i] = static_cast<uint8_t>(rng());
            al[i] = (rng() % 3 == 0) ? static_cast<uint8_t>(rng()) : 0;
        }
        std::vector<uint8_t> want2 = vals;
        RefRecover(want2, al);
        CQNF_ImageFX::Blur_ZeroAlphaRecoveryData(vals.data(), al.data(), static_cast<uint32_t>(n));
        ASSERT_EQ(vals, want2);
    }
}

// ---- Gaussian blur ---------------------------------------------------------

TEST(FxGaussian, MatchesTheLineByLineReference)
{
    // Sizes around the lane widths (16 rows, 64 columns) and sigmas on both
    // kernels, including sigmas whose padding is longer than the lines.
    for (auto [w, h] : {std::pair{37, 23}, std::pair{150, 70}, std::pair{3, 1}, std::pair{1, 40}}) {
        Planes s = Rgba(w, h, static_cast<uint32_t>(w * h));
        for (double sigma : {0.4, 1.0, 1.45, 1.5, 2.0, 3.7, 5.0, 12.0, 40.0}) {
            for (int flags = 0; flags < 4; ++flags) {
                const bool blurAlpha = flags & 1, recover = flags & 2;
                Planes got = RunGaussian(s, sigma, blurAlpha, recover);
                Planes want = RefGaussian(s, sigma, blurAlpha, recover);
                ASSERT_TRUE(got.SamePixels(want))
                    << w << "x" << h << " sigma " << sigma << " alpha " << blurAlpha << " recover " << recover;
            }
        }
    }
}

TEST(FxGaussian, RecursiveLanesOnEveryInstructionSetMatchTheReference)
{
    // The recursive filter's copies per instruction set convert bytes and
    // clamp each in their own way; every one must give the reference bytes,
    // on whole and partial chunks of lanes, with and without recovery.
    const qnfx::LaneIsa widest = qnfx::CurrentLaneIsa();
    for (auto isa : {qnfx::LaneIsa::Base, qnfx::LaneIsa::Avx2, qnfx::LaneIsa::Avx512}) {
        if (!qnfx::ForceLaneIsa(isa))
            continue;
        for (auto [w, h] : {std::pair{150, 70}, std::pair{37, 23}}) {
            Planes s = Rgba(w, h, static_cast<uint32_t>(w + h));
            for (double sigma : {1.5, 3.7, 12.0})
                for (int recover = 0; recover < 2; ++recover)
                    EXPECT_TRUE(RunGaussian(s, sigma, true, recover).SamePixels(RefGaussian(s, sigma, true, recover)))
                        << "isa " << static_cast<int>(isa) << " " << w << "x" << h << " sigma " << sigma;
        }
    }
    qnfx::ForceLaneIsa(widest);
}

TEST(FxGaussian, GreyAndFivePlaneSourcesMatchTheReference)
{
    Planes grey(45, 31, 1, false);
    grey.FillRandom(11);
    EXPECT_TRUE(RunGaussian(grey, 2.5, 0, 1).SamePixels(RefGaussian(grey, 2.5, 0, 1)));
    Planes five(20, 18, 5, true);
    five.FillPicture(12);
    five.FillEllipseAlpha();
    EXPECT_TRUE(RunGaussian(five, 1.2, 0, 1).SamePixels(RefGaussian(five, 1.2, 0, 1)));
    EXPECT_TRUE(RunGaussian(five, 6.0, 1, 1).SamePixels(RefGaussian(five, 6.0, 1, 1)));
}

TEST(FxGaussian, StaysCloseToADoublePrecisionConvolution)
{
    // The recursive filter approximates the Gaussian; each of the two passes
    // truncates to bytes. Away from the edges the result stays within a few
    // levels of the exact convolution.
    const int n = 160;
    Planes s(n, n, 1, false);
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
            s.At(0, x, y) = static_cast<uint8_t>(((x / 9 + y / 13) % 2) * 200 + (x * y) % 50);
    for (double sigma : {1.5, 3.0, 5.0, 9.0}) {
        Planes got = RunGaussian(s, sigma, 0, 0);
        const int r = static_cast<int>(std::ceil(6 * sigma));
        std::vector<double> k(2 * r + 1);
        double ks = 0.0;
        for (int i = -r; i <= r; ++i)
            ks += k[i + r] = std::exp(-(i * i) / (2 * sigma * sigma));
        std::vector<double> tmp(n * n), exact(n * n);
        auto clampi = [&](int i) { return std::min(n - 1, std::max(0, i)); };
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                double a = 0.0;
                for (int i = -r; i <= r; ++i)
                    a += k[i + r] * s.At(0, clampi(x + i), y);
                tmp[y * n + x] = a / ks;
            }
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                double a = 0.0;
                for (int i = -r; i <= r; ++i)
                    a += k[i + r] * tmp[clampi(y + i) * n + x];
                exact[y * n + x] = a / ks;
            }
        double worst = 0.0;
        const int m = 4 * static_cast<int>(sigma) + 2;
        for (int y = m; y < n - m; ++y)
            for (int x = m; x < n - m; ++x)
                worst = std::max(worst, std::fabs(got.At(0, x, y) - exact[y * n + x]));
        // Two truncations to bytes, and the recursive filter's own error: its
        // impulse response is a little wider than the Gaussian's, most for
        // small sigma (up to 7 % of the 200-level steps of this picture).
        const double allowed = sigma >= 5.0 ? 3.0 : 0.07 * 200;
        EXPECT_LE(worst, allowed) << "sigma " << sigma;
    }
}

TEST(FxBlurLine, RecursiveResponseIsSymmetricAndKeepsTheMean)
{
    for (double sigma : {1.5, 4.0, 17.0}) {
        std::vector<double> x(601, 0.0);
        x[300] = 250.0;
        CQNF_Mem work;
        CQNF_ImageFX::STRUCT_Blur_VectorData kd;
        CQNF_ImageFX::Blur_PrepareBlurData(sigma, &kd, &work, 1, 0);
        kd.line = x.data();
        kd.length = static_cast<uint32_t>(x.size());
        ASSERT_EQ(CQNF_ImageFX::Blur_BlurVector(&kd), 1);
        double sum = 0.0;
        for (size_t i = 0; i < x.size(); ++i)
            sum += x[i];
        EXPECT_NEAR(sum, 250.0, 1e-6);
        for (int i = 1; i < 250; ++i)
            ASSERT_NEAR(x[300 + i], x[300 - i], 1e-9) << sigma << " " << i;
        EXPECT_GT(x[300], x[301]);
    }
}

TEST(FxGaussian, TinySigmaCopiesEveryPlaneWhateverTheFlags)
{
    Planes s = Rgba(19, 7, 5);
    for (int flags = 0; flags < 4; ++flags)
        EXPECT_TRUE(RunGaussian(s, 0.05, flags & 1, flags & 2).SamePixels(s));
    EXPECT_TRUE(RunGaussian(s, -3.0, 1, 1).SamePixels(s));
}

TEST(FxGaussian, ConstantImageStaysConstantOnBothKernels)
{
    Planes s(33, 21, 3, false);
    for (int p = 0; p < 3; ++p)
        s.FillPlane(p, static_cast<uint8_t>(40 + 90 * p));
    for (double sigma : {1.0, 5.0}) {
        Planes d = RunGaussian(s, sigma, 0, 0);
        for (int p = 0; p < 3; ++p)
            for (int y = 0; y < s.h; ++y)
                for (int x = 0; x < s.w; ++x) {
                    const int diff = s.At(p, x, y) - d.At(p, x, y);
                    ASSERT_TRUE(diff == 0 || diff == 1) << "sigma " << sigma;
                }
    }
}

TEST(FxGaussian, UnblurredAlphaIsTheSourceAlpha)
{
    Planes s = Rgba(50, 40, 9);
    Planes d = RunGaussian(s, 7.0, 0, 1);
    EXPECT_TRUE(d.SamePlane(s, 3));
    Planes b = RunGaussian(s, 7.0, 1, 1);
    EXPECT_FALSE(b.SamePlane(s, 3));
}

TEST(FxGaussian, InPlaceGivesTheSameBytes)
{
    Planes s = Rgba(70, 35, 21);
    Planes want = RunGaussian(s, 4.0, 0, 1);
    CQNF_ImageFX fx;
    ASSERT_TRUE(fxtest::Bind(fx, s, s));
    ASSERT_EQ(fx.GaussianBlur(4.0, 0, 1), 1);
    EXPECT_TRUE(s.SamePixels(want));
}

TEST(FxGaussian, RefusesMismatchesAndBadSigmasWithoutWriting)
{
    Planes s = Rgba(10, 10, 1);
    const double bad[] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                          CQNF_ImageFX::kMaxBlurSigma * 2};
    for (double sigma : bad) {
        CQNF_ImageFX fx;
        Planes d = fxtest::Like(s);
        const Planes before = d;
        ASSERT_TRUE(fxtest::Bind(fx, s, d));
        EXPECT_EQ(fx.GaussianBlur(sigma, 0, 1), 0);
        EXPECT_EQ(fx.GetError(), qnerr::BadArgument);
        EXPECT_TRUE(d.SamePixels(before));
    }
    for (auto shape : {std::tuple{11, 10, 4}, std::tuple{10, 9, 4}, std::tuple{10, 10, 3}}) {
        Planes d(std::get<0>(shape), std::get<1>(shape), std::get<2>(shape), std::get<2>(shape) == 4);
        const Planes before = d;
        CQNF_ImageFX fx;
        ASSERT_TRUE(fxtest::Bind(fx, s, d));
        EXPECT_EQ(fx.GaussianBlur(3.0, 0, 1), 0);
        EXPECT_EQ(fx.GetError(), qnerr::BadArgument);
        EXPECT_EQ(d.data, before.data);
    }
}

TEST(FxGaussian, LargestSigmaOnATinyImageFinishes)
{
    Planes s = Rgba(5, 3, 2);
    Planes got = RunGaussian(s, 300.0, 1, 1);
    EXPECT_TRUE(got.SamePixels(RefGaussian(s, 300.0, 1, 1)));
    RunGaussian(s, CQNF_ImageFX::kMaxBlurSigma, 1, 1);
}

TEST(FxGaussian, EmptyImagesSucceedWithNothingToDo)
{
    for (auto [w, h] : {std::pair{0, 0}, std::pair{0, 5}, std::pair{5, 0}}) {
        Planes s(w, h, 4, true);
        Planes d = fxtest::Like(s);
        CQNF_ImageFX fx;
        ASSERT_TRUE(fxtest::Bind(fx, s, d));
        EXPECT_EQ(fx.GaussianBlur(5.0, 1, 1), 1);
        EXPECT_EQ(fx.MotionBlur(30.0, 5.0, 1, 1), 1);
        EXPECT_EQ(fx.MotionBlur(80.0, 5.0, 1, 1), 1);
        EXPECT_EQ(fx.MotionBlur(0.0, 5.0, 1, 1), 1);
        EXPECT_EQ(fx.MotionBlur(90.0, 1.0, 1, 1), 1);
    }
}

// ---- The direct kernel's single-precision shortcuts -------------------------
//
// Below sigma 1.5 the bytes of a blur are settled in single precision where
// that provably gives the byte of the double sums. Held here against the
// slow double reference on pictures chosen to sit near the points where a
// byte tips: flat stretches (whose exact values are whole numbers), specks
// one level off, hard two-level edges, noise; on each form alone and on
// every instruction set, on sizes across the band and chunk widths.

namespace {

enum class Kind { Noise, Photo, FlatsWithSpecks, TwoLevel, DarkSpecks };

Planes DirectPicture(Kind kind, int w, int h, uint32_t seed)
{
    Planes s(w, h, 1, false);
    std::mt19937 rng(seed);
    static const uint8_t kFlat[] = {0, 1, 2, 3, 64, 127, 128, 129, 200, 253, 254, 255};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t v = 0;
            switch (kind) {
            case Kind::Noise:
                v = static_cast<uint8_t>(rng());
                break;
            case Kind::Photo:
                v = static_cast<uint8_t>((x * 3 + y * 2) % 256);
                break;
            case Kind::FlatsWithSpecks: {
                v = kFlat[(x / 23 + 5 * (y / 19)) % std::size(kFlat)];
                const uint32_t r = rng() % 64;
                if (r == 0 && v < 255)
                    ++v;
                else if (r == 1 && v > 0)
                    --v;
                break;
            }
            case Kind::TwoLevel:
                v = ((x / 7 + y / 5) % 3 == 0) ? 255 : 1;
                break;
            case Kind::DarkSpecks: {
                // Black with sparse ones and whites: sums under a half, whole
                // zeros, and rows that settle next to rows that do not.
                const uint32_t r = rng() % 16;
                v = r == 0 ? 255 : r == 1 ? 1 : 0;
                break;
            }
            }
            s.At(0, x, y) = v;
        }
    return s;
}

}  // namespace

TEST(FxGaussianDirect, EveryShortcutGivesTheBytesOfTheDoubleSums)
{
    const qnfx::LaneIsa widest = qnfx::CurrentLaneIsa();
    std::mt19937 rng(2024);
    std::vector<double> sigmas = {0.1, 0.5, 1.0, 1.2, 1.4999};
    for (int i = 0; i < 5; ++i)
        sigmas.push_back(0.1 + 1.4 * (rng() % 10000) / 10000.0);
    const std::pair<int, int> sizes[] = {{300, 150}, {33, 70}, {17, 5}, {260, 1}};
    for (Kind kind : {Kind::Noise, Kind::Photo, Kind::FlatsWithSpecks, Kind::TwoLevel, Kind::DarkSpecks}) {
        for (const auto& size : sizes) {
            // Plain names: a lambda below captures them.
            const int w = size.first, h = size.second;
            Planes s = DirectPicture(kind, w, h, static_cast<uint32_t>(w * 7 + h));
            for (double sigma : sigmas) {
                const Planes want = RefGaussian(s, sigma, false, false);
                auto check = [&](qnfx::LaneIsa isa, qnfx::SettleFrom from) {
                    if (!qnfx::ForceLaneIsa(isa))
                        return;
                    qnfx::ForceSettleFrom(from);
                    const Planes got = RunGaussian(s, sigma, false, false);
                    qnfx::ForceSettleFrom(qnfx::SettleFrom::Plain);
                    EXPECT_TRUE(got.SamePixels(want))
                        << "kind " << static_cast<int>(kind) << " " << w << "x" << h << " sigma " << sigma
                        << " isa " << static_cast<int>(isa) << " from " << static_cast<int>(from);
                };
                for (auto from : {qnfx::SettleFrom::Plain, qnfx::SettleFrom::Folded, qnfx::SettleFrom::Doubles})
                    check(widest, from);
                for (auto isa : {qnfx::LaneIsa::Base, qnfx::LaneIsa::Avx2, qnfx::LaneIsa::Avx512})
                    if (isa != widest)
                        check(isa, qnfx::SettleFrom::Plain);
                qnfx::ForceLaneIsa(widest);
            }
        }
    }
}

TEST(FxGaussianDirect, RowPairsAndRegisterCutsGiveTheBytesOfTheDoubleSums)
{
    // Outputs are settled two rows at a time (the second of a pair may be
    // left open while the first settles, and an odd row is left over), and
    // a row's taps are cut from whole registers that reach past the row's
    // ends: widths and heights around those sizes, on every instruction set.
    const qnfx::LaneIsa widest = qnfx::CurrentLaneIsa();
    for (Kind kind : {Kind::DarkSpecks, Kind::Noise}) {
        for (int w : {1, 15, 16, 17, 32, 33, 47, 48, 49, 65}) {
            for (int h : {1, 2, 15, 16, 17}) {
                Planes s = DirectPicture(kind, w, h, static_cast<uint32_t>(w * 31 + h));
                for (double sigma : {0.3, 1.0, 1.45}) {
                    const Planes want = RefGaussian(s, sigma, false, false);
                    for (auto isa : {qnfx::LaneIsa::Base, qnfx::LaneIsa::Avx2, qnfx::LaneIsa::Avx512}) {
                        if (!qnfx::ForceLaneIsa(isa))
                            continue;
                        EXPECT_TRUE(RunGaussian(s, sigma, false, false).SamePixels(want))
                            << "kind " << static_cast<int>(kind) << " " << w << "x" << h << " sigma " << sigma
                            << " isa " << static_cast<int>(isa);
                    }
                    qnfx::ForceLaneIsa(widest);
                }
            }
        }
    }
}

TEST(FxGaussianDirect, BandsMatchTheLineByLineKernelOnBothEdgeRules)
{
    // Lines side by side in memory, read and written a band of rows at a
    // time, in place or not; each lane must come out as that line blurred on
    // its own by the library's scalar kernel.
    std::mt19937 rng(99);
    for (double sigma : {0.3, 0.9, 1.45}) {
        for (int constant = 0; constant < 2; ++constant) {
            CQNF_Mem work;
            CQNF_ImageFX::STRUCT_Blur_VectorData kd;
            CQNF_ImageFX::Blur_PrepareBlurData(sigma, &kd, &work, static_cast<uint8_t>(constant), 201);
            ASSERT_EQ(kd.direct, 1);
            for (uint32_t n : {1u, 9u, 64u, 65u, 200u}) {
                for (int lanes : {1, 31, 33, 256}) {
                    for (int inPlace = 0; inPlace < 2; ++inPlace) {
                        const ptrdiff_t stride = lanes + 5;
                        std::vector<uint8_t> in(static_cast<size_t>(stride) * n), out(in.size(), 0x5A);
                        for (auto& v : in)
                            v = static_cast<uint8_t>(rng() % 4 == 0 ? 255 : rng() % 3);
                        const std::vector<uint8_t> orig = in;
                        const qnfx::LaneBlur lb = qnfx::MakeLaneBlur(kd, n, nullptr);
                        std::vector<double> buf(lb.BufferDoubles());
                        uint8_t* dst = inPlace ? in.data() : out.data();
                        qnfx::BlurBand(lb, in.data(), stride, dst, stride, lanes, buf.data());
                        for (int k = 0; k < lanes; ++k) {
                            std::vector<double> line(n);
                            for (uint32_t j = 0; j < n; ++j)
                                line[j] = orig[j * stride + k];
                            kd.line = line.data();
                            kd.length = n;
                            ASSERT_EQ(CQNF_ImageFX::Blur_BlurVectorHQ(&kd), 1);
                            for (uint32_t j = 0; j < n; ++j)
                                ASSERT_EQ(dst[j * stride + k], qnfx::ToByte(line[j]))
                                    << "sigma " << sigma << " constant " << constant << " n " << n << " lanes "
                                    << lanes << " in place " << inPlace << " lane " << k << " sample " << j;
                        }
                        for (uint32_t j = 0; j < n; ++j)  // the gap between the lines is left alone
                            for (ptrdiff_t k = lanes; k < stride; ++k)
                                ASSERT_EQ(dst[j * stride + k], inPlace ? orig[j * stride + k] : 0x5A);
                    }
                }
            }
        }
    }
}

TEST(FxGaussianDirect, PlaneInPartsOfRowsGivesTheBytesOfOneCall)
{
    // The one-pass plane blur is cut into parts of rows for threads; each
    // part redoes the row blur of the rows its columns reach into. Parts of
    // every size (shorter than the reach, across the band height, uneven),
    // with and without transparent pixels, on every instruction set, must
    // give the bytes of one call over the plane, and that one call the
    // bytes of the slow reference.
    const qnfx::LaneIsa widest = qnfx::CurrentLaneIsa();
    for (double sigma : {0.6, 1.0, 1.49}) {
        CQNF_Mem work;
        CQNF_ImageFX::STRUCT_Blur_VectorData kd;
        CQNF_ImageFX::Blur_PrepareBlurData(sigma, &kd, &work, 0, 0);
        ASSERT_EQ(kd.direct, 1);
        for (auto [w, h] : {std::pair{70, 97}, std::pair{5, 40}, std::pair{33, 3}}) {
            Planes s(w, h, 2, true);
            s.FillPicture(static_cast<uint32_t>(w + h));
            s.FillEllipseAlpha();
            for (int useAlpha = 0; useAlpha < 2; ++useAlpha) {
                // The reference: the colour plane blurred line by line,
                // recovered under the alpha plane when asked.
                const Planes ref = RefGaussian(s, sigma, false, useAlpha != 0);
                const uint8_t* alpha = useAlpha ? s.ptrs[1] : nullptr;
                const qnfx::LaneBlur rowLb = qnfx::MakeLaneBlur(kd, static_cast<uint32_t>(w), nullptr);
                const qnfx::LaneBlur colLb = qnfx::MakeLaneBlur(kd, static_cast<uint32_t>(h), nullptr);
                std::vector<float> floats(qnfx::FusedFloats(static_cast<uint64_t>(w), kd.halfWidth));
                std::vector<uint8_t> bytes(static_cast<size_t>(w) + qnfx::kChunk);
                for (auto isa : {qnfx::LaneIsa::Base, qnfx::LaneIsa::Avx2, qnfx::LaneIsa::Avx512}) {
                    if (!qnfx::ForceLaneIsa(isa))
                        continue;
                    for (int partRows : {1, 4, 31, 33, 1000}) {
                        Planes d = fxtest::Like(s);
                        for (int y0 = 0; y0 < h; y0 += partRows)
                            qnfx::BlurPlaneDirect(rowLb, colLb, s.ptrs[0], s.stride, d.ptrs[0], d.stride, alpha,
                                                  s.stride, y0, std::min(h, y0 + partRows), floats.data(),
                                                  bytes.data());
                        for (int y = 0; y < h; ++y)
                            for (int x = 0; x < w; ++x)
                                ASSERT_EQ(d.At(0, x, y), ref.At(0, x, y))
                                    << "sigma " << sigma << " " << w << "x" << h << " alpha " << useAlpha << " isa "
                                    << static_cast<int>(isa) << " part rows " << partRows << " at " << x << ","
                                    << y;
                        for (int y = 0; y < h; ++y)  // the row padding is left alone
                            for (uint32_t x = static_cast<uint32_t>(w); x < d.stride; ++x)
                                ASSERT_EQ(d.ptrs[0][static_cast<size_t>(y) * d.stride + x], 0xA5);
                    }
                }
                qnfx::ForceLaneIsa(widest);
            }
        }
    }
}

TEST(FxGaussianDirect, LargePicturesOnSeveralThreadsMatchTheReference)
{
    // Large enough to be cut into parts of rows on the machine's threads,
    // both apart and in place (which stays on the two passes).
    Planes s(700, 420, 2, true);
    s.FillPicture(5);
    s.FillEllipseAlpha();
    for (double sigma : {0.5, 1.3}) {
        const Planes want = RefGaussian(s, sigma, true, true);
        EXPECT_TRUE(RunGaussian(s, sigma, true, true).SamePixels(want)) << sigma;
        Planes inPlace = s;
        CQNF_ImageFX fx;
        ASSERT_TRUE(fxtest::Bind(fx, inPlace, inPlace));
        ASSERT_EQ(fx.GaussianBlur(sigma, 1, 1), 1);
        EXPECT_TRUE(inPlace.SamePixels(want)) << sigma;
    }
}
