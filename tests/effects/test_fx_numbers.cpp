// The numbers of the effect controls: percent scale, typed values, grading,
// dials, range bands, display colours and the light conversions.
#include "effects/FxLight.h"
#include "effects/FxNumbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

TEST(FxNumbers, PercentScaleRoundsAtSixTenths)
{
    struct Case {
        uint8_t stored, shown;
    } cases[] = {{0, 0}, {1, 0}, {2, 1}, {102, 40}, {103, 40}, {104, 41}, {127, 50}, {128, 50}, {191, 75}, {254, 100},
                 {255, 100}};
    for (const Case& c : cases)
        EXPECT_EQ(fxnum::PercentFromStored(c.stored), c.shown) << int(c.stored);

    struct Back {
        int32_t percent;
        uint8_t stored;
    } back[] = {{0, 0}, {50, 127}, {75, 191}, {100, 255}, {120, 255}, {-3, 0}, {1, 2}};
    for (const Back& b : back)
        EXPECT_EQ(fxnum::StoredFromPercent(b.percent), b.stored) << b.percent;
}

TEST(FxNumbers, EveryPercentSurvivesTheRoundTripExceptWhereTheScaleIsCoarser)
{
    // 101 percentages on 256 stored values: a percentage stored and shown
    // again is never off by more than one.
    for (int p = 0; p <= 100; ++p)
        EXPECT_LE(std::abs(int(fxnum::PercentFromStored(fxnum::StoredFromPercent(p))) - p), 1) << p;
}

TEST(FxNumbers, TypedTextIsReadSaturatedAndClamped)
{
    struct Case {
        const char* text;
        int32_t lo, hi, expected;
    } cases[] = {
        {"250", -100, 100, 100},
        {"abc", -100, 100, 0},
        {"-5", 0, 100, 0},
        {"150", 0, 100, 100},
        {"-30", -90, 90, -30},
        {"120", -90, 90, 90},
        {"  -30 deg", -90, 90, -30},
        {"+7", 0, 100, 7},
        {"", 0, 100, 0},
        {nullptr, 1, 90, 1},
        {"0", 1, 90, 1},
        {"95", 1, 90, 90},
        {"400", 0, 359, 359},
        {"-20", 0, 359, 0},
        {"99999999999999999999999999", 0, 999, 999},
        {"-99999999999999999999999999", -100, 100, -100},
        {"2147483648", std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(),
         std::numeric_limits<int32_t>::max()},
        {"-2147483648", std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(),
         std::numeric_limits<int32_t>::min()},
    };
    for (const Case& c : cases)
        EXPECT_EQ(fxnum::ParseClamped(c.text, c.lo, c.hi), c.expected) << (c.text ? c.text : "(null)");
}

TEST(FxNumbers, GradedValuesRoundHalfUpToTheNearestAndClamp)
{
    struct Case {
        double first, second, t;
        int32_t lo, hi, expected;
    } cases[] = {
        {-100, 0, 0.493, -100, 100, -51},  // -50.7 is nearer -51
        {-50, 50, 0.0, -100, 100, -50},    // the ends give the values themselves
        {-50, 50, 1.0, -100, 100, 50},
        {-90, 90, 0.0, -90, 90, -90},
        {-100, 100, 0.0025, -100, 100, -99},  // -99.5 rounds half up
        {10, 200, 0.5, 0, 200, 105},       // 105.5
        {-90, 90, 0.25, -90, 90, -45},
        {-90, 90, 0.2, -90, 90, -54},      // -54
        {0, 10, 0.5, 0, 100, 5},           // 5.5
        {0, 255, 0.5, 0, 255, 128},        // 128.0
        {0, 10, 0.0, 0, 100, 0},
        {0, 10, 1.0, 0, 100, 10},
        {0, 255, 1.0, 0, 100, 100},
        {0, 999, 1.0, 0, 999, 999},
        {5, 5, std::numeric_limits<double>::quiet_NaN(), 0, 100, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(fxnum::Grade(c.first, c.second, c.t, c.lo, c.hi), c.expected) << c.first << ".." << c.second;
}

TEST(FxNumbers, DialPositionsCoverHalfATurnOfAngles)
{
    struct Case {
        uint32_t position;
        int32_t angle;
    } cases[] = {{0, 0}, {45, 45}, {90, 90}, {91, -89}, {135, -45}, {180, 0}, {270, 90}, {271, -89}, {300, -60},
                 {359, -1}};
    for (const Case& c : cases)
        EXPECT_EQ(fxnum::DialToAngle(c.position), c.angle) << c.position;
    EXPECT_EQ(fxnum::DialToAngle(fxnum::AngleToDial(-90)), 90);  // the same direction
    for (int32_t a = -89; a <= 90; ++a) {
        const uint32_t p = fxnum::AngleToDial(a);
        EXPECT_LT(p, 360u);
        EXPECT_EQ(fxnum::DialToAngle(p), a);
    }
    EXPECT_EQ(fxnum::AngleToDial(-30), 330u);
}

TEST(FxNumbers, RangeBandsSpanBetweenTheSlidersEitherWayRound)
{
    struct Case {
        uint32_t a, b, scale, width, from, to;
    } cases[] = {
        {20, 60, 100, 101, 20, 61},
        {60, 20, 100, 101, 20, 61},
        {0, 100, 100, 51, 0, 51},
        {100, 100, 200, 201, 100, 101},
        {0, 200, 200, 101, 0, 101},
        {3, 3, 20, 41, 6, 7},
    };
    for (const Case& c : cases) {
        const fxnum::BandSpan s = fxnum::LinearBand(c.a, c.b, c.scale, c.width);
        EXPECT_EQ(s.from, c.from) << c.a << ".." << c.b;
        EXPECT_EQ(s.to, c.to) << c.a << ".." << c.b;
    }
    // The depth scale is split: 0..100 fill the first half, 100..999 the second.
    const fxnum::BandSpan upper = fxnum::DepthBand(999, 100, 201);
    EXPECT_EQ(upper.from, 100u);
    EXPECT_GE(upper.to, 199u);
    EXPECT_LE(upper.to, 201u);
    const fxnum::BandSpan lower = fxnum::DepthBand(0, 100, 201);
    EXPECT_EQ(lower.from, 0u);
    EXPECT_EQ(lower.to, 101u);
    EXPECT_EQ(fxnum::DepthBand(5, 5, 0).from, 0u);  // a band without width draws nothing wrong
}

TEST(FxNumbers, ColourRecordsShowGreyInGrayscaleDocumentsAndRgbOtherwise)
{
    const CTessolo::SFX_COLOR red{85, 255, 0, 0, 255, 0, 0, 255};
    struct Case {
        uint8_t mode;
        uint8_t rgb[3];
    } cases[] = {{0, {85, 85, 85}}, {1, {255, 0, 0}}, {2, {255, 0, 0}}};
    for (const Case& c : cases) {
        uint8_t rgb[3];
        fxnum::DisplayColor(red, c.mode, rgb);
        EXPECT_EQ(rgb[0], c.rgb[0]);
        EXPECT_EQ(rgb[1], c.rgb[1]);
        EXPECT_EQ(rgb[2], c.rgb[2]);
    }
}

// A light zone of radius 40: min(77, 77) + 3 = 80 across.
const CFxLightZone kZone(qntRECT_s{100, 50, 177, 127});

TEST(FxLight, ZoneMarksEdgeCases)
{
    EXPECT_DOUBLE_EQ(kZone.Radius(), 40.0);
    struct Case {
        double dx, dy;
        int32_t angle, altitude;
    } cases[] = {
        {0, 0, 0, 90},     // the centre: straight above
        {0, -20, 90, 45},  // half a radius straight up
        {43, 0, 0, 1},     // 3 pixels beyond the rim: just above the horizon
        {-20, 0, 180, 45},
        {0, 20, 270, 45},
    };
    for (const Case& c : cases) {
        const qnt3D_VECTOR v = kZone.i_ConvertXYToVector(kZone.CentreX() + c.dx, kZone.CentreY() + c.dy);
        EXPECT_NEAR(std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z), 1.0, 1e-6);
        int32_t angle = 0, altitude = 0;
        CFxLightZone::i_ConvertVectorToAnAl(v, angle, altitude);
        EXPECT_EQ(CFxLightZone::ClampAngle(angle), c.angle) << c.dx << "," << c.dy;
        EXPECT_EQ(CFxLightZone::ClampAltitude(altitude), c.altitude) << c.dx << "," << c.dy;
    }
    const qnt3D_VECTOR top = kZone.i_ConvertXYToVector(kZone.CentreX(), kZone.CentreY());
    EXPECT_EQ(top.x, 0.0f);
    EXPECT_EQ(top.y, 0.0f);
    EXPECT_EQ(top.z, 1.0f);
}

TEST(FxLight, PressesCountUpToFivePixelsBeyondTheRim)
{
    EXPECT_TRUE(kZone.AcceptsPress(kZone.CentreX() + 43, kZone.CentreY()));
    EXPECT_TRUE(kZone.AcceptsPress(kZone.CentreX(), kZone.CentreY() - 45));
    EXPECT_FALSE(kZone.AcceptsPress(kZone.CentreX() + 45.5, kZone.CentreY()));
}

TEST(FxLight, DefaultLightShowsAs122DegreesAt27)
{
    int32_t angle = 0, altitude = 0;
    CFxLightZone::i_ConvertVectorToAnAl(CFxLightZone::kDefaultLight, angle, altitude);
    EXPECT_EQ(angle, 122);
    EXPECT_EQ(altitude, 27);
}

TEST(FxLight, AnglesAndPointsSurviveTheirRoundTrips)
{
    for (int32_t a = 0; a < 360; a += 7)
        for (int32_t b = 1; b <= 90; b += 5) {
            int32_t a2 = 0, b2 = 0;
            CFxLightZone::i_ConvertVectorToAnAl(CFxLightZone::i_ConvertAnAlToVector(a, b), a2, b2);
            if (b < 90) {  // straight above, the angle means nothing
                EXPECT_LE(std::abs(((a2 - a) % 360 + 540) % 360 - 180), 1) << a << "/" << b;
            }
            EXPECT_LE(std::abs(b2 - b), 1) << a << "/" << b;
        }
    // A point of the disc gives a light that is drawn back at that point.
    for (int dy = -38; dy <= 38; dy += 4)
        for (int dx = -38; dx <= 38; dx += 4) {
            if (dx * dx + dy * dy > 38 * 38)
                continue;
            const double x = kZone.CentreX() + dx, y = kZone.CentreY() + dy;
            const qntPOS p = kZone.i_ConvertVectorToXY(kZone.i_ConvertXYToVector(x, y));
            EXPECT_LE(std::abs(p.x - x), 1.5) << dx << "," << dy;
            EXPECT_LE(std::abs(p.y - y), 1.5) << dx << "," << dy;
        }
}

TEST(FxLight, StoredLightsThatAreNoLightShowAsTheDefault)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const qnt3D_VECTOR hostile[] = {{0, 0, 0}, {nan, 0, 1}, {0, inf, 0.5f}, {0, 0, -1}, {0.3f, 0.3f, -0.7071f}};
    int32_t da = 0, db = 0;
    CFxLightZone::i_ConvertVectorToAnAl(CFxLightZone::kDefaultLight, da, db);
    const qntPOS dp = kZone.i_ConvertVectorToXY(CFxLightZone::kDefaultLight);
    for (const qnt3D_VECTOR& v : hostile) {
        int32_t a = 0, b = 0;
        CFxLightZone::i_ConvertVectorToAnAl(v, a, b);
        EXPECT_EQ(a, da);
        EXPECT_EQ(b, db);
        const qntPOS p = kZone.i_ConvertVectorToXY(v);
        EXPECT_EQ(p.x, dp.x);
        EXPECT_EQ(p.y, dp.y);
    }
    // A z a little over 1 after float rounding is still straight above.
    int32_t a = 0, b = 0;
    CFxLightZone::i_ConvertVectorToAnAl(qnt3D_VECTOR{0, 0, 1.0000001f}, a, b);
    EXPECT_EQ(b, 90);
    const qntPOS centre = kZone.i_ConvertVectorToXY(qnt3D_VECTOR{0, 0, 1.0000001f});
    EXPECT_EQ(centre.x, int32_t(kZone.CentreX()));
}

}  // namespace
