// Motion blurs of the filter engine against their line-by-line reference, and
// the bytes of every instruction set and of every thread count against one.
#include "imaging/ImageFX.h"
#include "imaging/ImageFX_Kernels.h"
#include "fx_blur_ref.h"
#include "test_fx_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <limits>
#include <vector>

using fxtest::Planes;
using namespace fxblurtest;

// ---- Motion blur -----------------------------------------------------------

TEST(FxMotion, MatchesTheLineByLineReferenceAtEveryKindOfAngle)
{
    for (auto [w, h] : {std::pair{41, 29}, std::pair{90, 70}, std::pair{12, 50}, std::pair{1, 9}, std::pair{9, 1}}) {
        Planes s = Rgba(w, h, static_cast<uint32_t>(w + 100 * h));
        for (double angle : {0.0, 10.0, 30.0, 45.0, 46.0, 60.0, 80.0, 90.0, 100.0, 135.0, 170.0, -30.0, 400.0}) {
            for (double dist : {0.7, 2.0, 9.0}) {
                for (int flags = 0; flags < 4; ++flags) {
                    const bool blurAlpha = flags & 1, recover = flags & 2;
                    Planes got = RunMotion(s, angle, dist, blurAlpha, recover);
                    Planes want = RefMotion(s, angle, dist, blurAlpha, recover);
                    ASSERT_TRUE(got.SamePixels(want)) << w << "x" << h << " angle " << angle << " dist " << dist
                                                      << " alpha " << blurAlpha << " recover " << recover;
                }
            }
        }
    }
}

TEST(FxMotion, AnglesFoldOntoTheirCases)
{
    Planes s = Rgba(40, 30, 8);
    const Planes horizontal = RunMotion(s, 0.0, 4.0, 0, 1);
    for (double a : {180.0, 0.05, -180.0, 179.95, 360.0, -0.05})
        EXPECT_TRUE(RunMotion(s, a, 4.0, 0, 1).SamePixels(horizontal)) << a;
    const Planes vertical = RunMotion(s, 90.0, 4.0, 0, 1);
    for (double a : {90.05, 89.95, 270.0, -90.0})
        EXPECT_TRUE(RunMotion(s, a, 4.0, 0, 1).SamePixels(vertical)) << a;
    EXPECT_FALSE(RunMotion(s, 45.0, 4.0, 0, 1).SamePixels(horizontal));

    // 135 degrees is the 45-degree case upside down.
    Planes flipped = FlipV(s);
    const Planes at45 = FlipV(RunMotion(flipped, 45.0, 4.0, 0, 1));
    EXPECT_TRUE(RunMotion(s, 135.0, 4.0, 0, 1).SamePixels(at45));
}

TEST(FxMotion, HorizontalBlursOnlyAlongRowsAndFillsClearRowsWith128)
{
    Planes s = Rgba(30, 12, 4);
    for (int x = 0; x < s.w; ++x)
        s.At(3, x, 5) = 0;
    Planes d = RunMotion(s, 0.0, 3.0, 0, 1);
    for (int p = 0; p < 3; ++p)
        for (int x = 0; x < s.w; ++x)
            EXPECT_EQ(d.At(p, x, 5), 128);
    // A picture constant along each row does not change.
    Planes stripes(25, 9, 3, false);
    for (int p = 0; p < 3; ++p)
        for (int y = 0; y < stripes.h; ++y)
            for (int x = 0; x < stripes.w; ++x)
                stripes.At(p, x, y) = static_cast<uint8_t>(y * 27 + p);
    EXPECT_TRUE(RunMotion(stripes, 0.0, 6.0, 0, 0).SamePixels(stripes));
}

TEST(FxMotion, ZeroDistanceCopiesAndBadArgumentsAreRefused)
{
    Planes s = Rgba(20, 20, 6);
    EXPECT_TRUE(RunMotion(s, 33.0, 0.0, 1, 1).SamePixels(s));
    EXPECT_TRUE(RunMotion(s, 33.0, 0.05, 1, 1).SamePixels(s));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (auto [a, dist] : {std::pair{nan, 3.0}, std::pair{inf, 3.0}, std::pair{-inf, 3.0}, std::pair{30.0, nan},
                           std::pair{30.0, 1e9}}) {
        Planes d = fxtest::Like(s);
        const Planes before = d;
        CQNF_ImageFX fx;
        ASSERT_TRUE(fxtest::Bind(fx, s, d));
        EXPECT_EQ(fx.MotionBlur(a, dist, 0, 1), 0);
        EXPECT_EQ(fx.GetError(), qnerr::BadArgument);
        EXPECT_TRUE(d.SamePixels(before));
    }
    Planes narrow(19, 20, 4, true);
    CQNF_ImageFX fx;
    ASSERT_TRUE(fxtest::Bind(fx, s, narrow));
    EXPECT_EQ(fx.MotionBlur(30.0, 3.0, 0, 1), 0);
    EXPECT_EQ(fx.GetError(), qnerr::BadArgument);
}

TEST(FxMotion, HugeAnglesFoldQuickly)
{
    Planes s = Rgba(16, 16, 2);
    const Planes want = RunMotion(s, 30.0, 3.0, 0, 0);
    // 30 + 180e12 is exact in a double, and so is the fold: no loop of 1e12 turns.
    EXPECT_TRUE(RunMotion(s, 30.0 + 180.0 * 1e12, 3.0, 0, 0).SamePixels(want));
    EXPECT_TRUE(RunMotion(s, 30.0 + 180.0 * 5, 3.0, 0, 0).SamePixels(want));
}

// ---- Every instruction set gives the same bytes ------------------------------

TEST(FxLanes, EveryInstructionSetMatchesTheReference)
{
    const qnfx::LaneIsa widest = qnfx::CurrentLaneIsa();
    Planes s = Rgba(77, 45, 31);
    int tried = 0;
    for (qnfx::LaneIsa isa : {qnfx::LaneIsa::Base, qnfx::LaneIsa::Avx2, qnfx::LaneIsa::Avx512}) {
        if (!qnfx::ForceLaneIsa(isa))
            continue;
        ++tried;
        for (double sigma : {0.8, 3.0}) {
            EXPECT_TRUE(RunGaussian(s, sigma, 1, 1).SamePixels(RefGaussian(s, sigma, 1, 1)))
                << "set " << static_cast<int>(isa) << " sigma " << sigma;
            for (double angle : {25.0, 120.0})
                EXPECT_TRUE(RunMotion(s, angle, sigma, 0, 1).SamePixels(RefMotion(s, angle, sigma, 0, 1)))
                    << "set " << static_cast<int>(isa) << " angle " << angle;
        }
    }
    EXPECT_GE(tried, 1);
    qnfx::ForceLaneIsa(widest);
}

// ---- Threads -----------------------------------------------------------------

// Large pictures are blurred in bands on several threads: the bytes of one
// thread, whatever the count, for both kernels, with recovery, and for the
// motion blurs that run through the same passes.
TEST(FxThreads, BandsGiveTheBytesOfOneThread)
{
    Planes s = Rgba(700, 420, 17);  // past the size from which passes run in bands
    auto run = [&](int threads) {
        setenv("TESSOLO_THREADS", std::to_string(threads).c_str(), 1);
        std::vector<Planes> out;
        for (double sigma : {0.8, 3.0})
            out.push_back(RunGaussian(s, sigma, 1, 1));
        for (double angle : {0.0, 90.0})
            out.push_back(RunMotion(s, angle, 4.0, 0, 1));
        unsetenv("TESSOLO_THREADS");
        return out;
    };
    const std::vector<Planes> one = run(1);
    for (int threads : {2, 3, 8}) {
        const std::vector<Planes> many = run(threads);
        for (size_t i = 0; i < one.size(); ++i)
            EXPECT_TRUE(many[i].SamePixels(one[i])) << threads << " threads, case " << i;
    }
}
