// Slider paths and mappings, scroll-bar geometry and the progress level.
#include "ui/CtrlMath.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

using namespace qnctl;

namespace {

// Coordinate record of a straight path: point i at (10 + i, 20), flags given.
std::vector<uint8_t> Coors(uint32_t count, const std::vector<uint32_t>& flagged = {})
{
    std::vector<uint8_t> c;
    for (uint32_t i = 0; i < count; ++i) {
        const uint16_t x = uint16_t(10 + i);
        uint8_t flag = 0;
        for (uint32_t f : flagged) {
            flag |= uint8_t(f == i);
        }
        c.insert(c.end(), {uint8_t(x >> 8), uint8_t(x), 0, 20, flag});
    }
    return c;
}

std::vector<uint32_t> Values(const std::vector<SliderPoint>& path)
{
    std::vector<uint32_t> v;
    for (const auto& p : path) {
        v.push_back(p.value);
    }
    return v;
}

std::vector<SliderPoint> PathOf(const std::vector<uint32_t>& values)
{
    std::vector<SliderPoint> path;
    for (size_t i = 0; i < values.size(); ++i) {
        path.push_back({int16_t(i * 4), 0, values[i]});
    }
    return path;
}

}  // namespace

TEST(CtrlSliderPath, ValuesInterpolateWithHalvesRoundingDown)
{
    struct Case {
        uint32_t count, start, end;
        std::vector<uint32_t> flagged;
        std::map<uint32_t, uint32_t> flaggedValues;
        std::vector<uint32_t> expected;
    };
    const Case cases[] = {
        {11, 0, 100, {}, {}, {0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100}},
        {11, 0, 5, {}, {}, {0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5}},
        {5, 0, 0, {2}, {{0, 100}}, {0, 50, 100, 50, 0}},
        {6, 10, 0, {1, 3}, {{0, 1000}, {1, 2000}}, {10, 1000, 1500, 2000, 1000, 0}},
        {3, 4294967295u, 4294967293u, {}, {}, {4294967295u, 4294967294u, 4294967293u}},
        {1, 7, 9, {}, {}, {9}},  // one point is first and last: the end value wins
        {4, 0, 30, {0}, {{0, 6}}, {6, 14, 22, 30}},  // a flagged first point takes its own value
    };
    for (const Case& c : cases) {
        const auto coors = Coors(c.count, c.flagged);
        std::vector<SliderPoint> path;
        auto flagged = [&](uint32_t k, uint32_t& v) {
            auto it = c.flaggedValues.find(k);
            if (it == c.flaggedValues.end()) {
                return false;
            }
            v = it->second;
            return true;
        };
        ASSERT_EQ(BuildSliderPath(coors.data(), uint32_t(coors.size()), c.count, c.start, c.end, flagged, path), 0);
        EXPECT_EQ(Values(path), c.expected) << "count " << c.count << " end " << c.end;
        EXPECT_EQ(path.back().x, int16_t(10 + c.count - 1));
        EXPECT_EQ(path.back().y, 20);
    }
}

TEST(CtrlSliderPath, BrokenRecordsAreRefused)
{
    auto none = [](uint32_t, uint32_t&) { return false; };
    std::vector<SliderPoint> path;
    const auto three = Coors(3);
    // A count of 0 (or a missing count) with an empty record would put the
    // start and end values outside the path.
    EXPECT_EQ(BuildSliderPath(nullptr, 0, 0, 1, 2, none, path), 192);
    EXPECT_EQ(BuildSliderPath(three.data(), 0, 0, 1, 2, none, path), 192);
    EXPECT_EQ(BuildSliderPath(three.data(), 14, 3, 1, 2, none, path), 192);
    EXPECT_EQ(BuildSliderPath(three.data(), 15, 4, 1, 2, none, path), 192);
    const auto flagged = Coors(3, {1});
    EXPECT_EQ(BuildSliderPath(flagged.data(), 15, 3, 1, 2, none, path), 192);
    EXPECT_TRUE(path.empty());
}

TEST(CtrlSliderPath, RingsAreFoundByTheirEnds)
{
    struct Case {
        int16_t lastX, lastY;
        bool closed;
    };
    for (const Case& c : {Case{0, 0, true}, Case{1, 1, true}, Case{-1, 1, true}, Case{0, 2, false}, Case{2, 0, false},
                          Case{30000, -30000, false}}) {
        const std::vector<SliderPoint> path = {{0, 0, 0}, {50, 50, 1}, {c.lastX, c.lastY, 2}};
        EXPECT_EQ(IsClosedPath(path), c.closed) << c.lastX << "," << c.lastY;
    }
    EXPECT_FALSE(IsClosedPath({}));
}

TEST(CtrlSliderPath, ValueLookupPicksExactThenNearest)
{
    const auto path = PathOf({0, 10, 20, 20, 40});
    struct Case {
        uint32_t value;
        int32_t index;
    };
    for (const Case& c : {Case{20, 2}, Case{14, 1}, Case{16, 2}, Case{15, 1}, Case{30, 2}, Case{999999999, 4},
                          Case{1000000040, -1}, Case{4294967295u, -1}}) {
        EXPECT_EQ(PointOfValue(path, c.value), c.index) << c.value;
    }
    // Values more than 2^31 apart: a 32-bit difference would wrap to a tiny
    // distance and pick point 0 for 4294967295.
    EXPECT_EQ(PointOfValue(PathOf({0, 3500000000u}), 4294967295u), 1);
    EXPECT_EQ(PointOfValue(PathOf({4294967295u, 1000}), 0), 1);
    EXPECT_EQ(PointOfValue({}, 5), -1);
}

TEST(CtrlSliderPath, NearestPointByPositionTiesToTheLowestIndex)
{
    const auto path = PathOf({0, 1, 2, 3});  // x = 0, 4, 8, 12
    EXPECT_EQ(PointNearest(path, 5, 0), 1);
    EXPECT_EQ(PointNearest(path, 6, 0), 1);  // tie between 4 and 8
    EXPECT_EQ(PointNearest(path, 7, 3), 2);
    EXPECT_EQ(PointNearest(path, -100, 50), 0);
    EXPECT_EQ(PointNearest(path, 32767, -32768), 3);
    EXPECT_EQ(PointNearest({}, 0, 0), -1);
}

TEST(CtrlSliderPath, CallerRangesMapRoundingHalfUp)
{
    struct Case {
        uint32_t min, max, value, start, end, toSlider;
    };
    for (const Case& c : {Case{0, 100, 50, 0, 255, 128}, Case{0, 100, 0, 0, 255, 0}, Case{0, 100, 100, 0, 255, 255},
                          Case{10, 20, 15, 100, 200, 150}, Case{5, 5, 5, 7, 9, 7}, Case{0, 10, 3, 4, 4, 4},
                          Case{0, 100, 150, 0, 255, 255}, Case{0, 4294967295u, 4294967295u, 0, 4294967295u, 4294967295u}}) {
        EXPECT_EQ(MapToSlider(c.min, c.max, c.value, c.start, c.end), c.toSlider)
            << c.min << ".." << c.max << " " << c.value;
    }
    for (const Case& c : {Case{0, 100, 128, 0, 255, 50}, Case{0, 100, 255, 0, 255, 100}, Case{0, 0, 9, 0, 255, 0},
                          Case{3, 9, 5, 5, 5, 3}, Case{0, 255, 50, 0, 100, 128}}) {
        EXPECT_EQ(MapFromSlider(c.min, c.max, c.value, c.start, c.end), c.toSlider)
            << c.min << ".." << c.max << " " << c.value;
    }
}

TEST(CtrlSliderPath, WheelStepsWrapOnRingsAndClampOtherwise)
{
    struct Case {
        uint32_t current, count;
        int32_t step;
        bool circular;
        int32_t index;
    };
    for (const Case& c : {Case{5, 11, 1, false, 6}, Case{10, 11, 1, false, 10}, Case{10, 11, 1, true, 0},
                          Case{0, 11, -1, true, 10}, Case{0, 11, -1, false, 0}, Case{3, 11, 10, false, 10},
                          Case{3, 11, 10, true, 2}, Case{3, 10, 10, false, -1}, Case{3, 10, -10, true, -1},
                          Case{0, 0, 1, false, -1}, Case{0, 1, 0, true, 0}}) {
        EXPECT_EQ(WheelIndex(c.current, c.count, c.step, c.circular), c.index)
            << c.current << "+" << c.step << " of " << c.count;
    }
}

TEST(CtrlScrollMath, ThumbLengthFollowsTheVisibleShare)
{
    struct Case {
        int32_t track, head, tail;
        uint32_t total, visible;
        int32_t length;
    };
    for (const Case& c : {Case{100, 5, 5, 20, 10, 50}, Case{100, 5, 5, 100, 10, 10}, Case{100, 5, 5, 1000, 1, 10},
                          Case{100, 5, 5, 10, 10, 100}, Case{100, 5, 5, 0, 0, 100}, Case{100, 5, 5, 5, 0, 10},
                          Case{100, 0, 0, 3, 1, 33}, Case{8, 5, 5, 20, 10, 10}, Case{0, 0, 0, 0, 0, 0}}) {
        EXPECT_EQ(ThumbLength({c.track, c.head, c.tail}, c.total, c.visible), c.length)
            << c.total << "/" << c.visible;
    }
}

TEST(CtrlScrollMath, ThumbPositionAndFirstItemRoundTrip)
{
    // Track 100, thumb 20, 50 items of which 10 show: 2 pixels an item.
    for (uint32_t first = 0; first <= 40; ++first) {
        const int32_t offset = ThumbOffset(100, 20, 50, 10, first);
        EXPECT_EQ(offset, int32_t(first * 2));
        EXPECT_EQ(FirstFromThumb(100, 20, 50, 10, offset), first);
    }
    EXPECT_EQ(FirstFromThumb(100, 20, 50, 10, 500), 40u);
    EXPECT_EQ(FirstFromThumb(100, 20, 50, 10, -7), 0u);
    // A thumb that fills the track (the ends alone are longer than the share)
    // while items are hidden: no division by zero, the first item stays 0.
    EXPECT_EQ(FirstFromThumb(10, 10, 20, 10, 3), 0u);
    EXPECT_EQ(ThumbOffset(10, 10, 20, 10, 5), 0);
    // Everything visible, also 0 of 0.
    EXPECT_EQ(ThumbOffset(100, 100, 0, 0, 0), 0);
    EXPECT_EQ(FirstFromThumb(100, 100, 0, 0, 0), 0u);
}

TEST(CtrlProgressMath, LevelAndPercent)
{
    struct Case {
        double min, max, value;
        uint8_t level;
        uint32_t percent;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const Case& c : {Case{0, 100, 50, 127, 50}, Case{0, 100, 100, 255, 100}, Case{0, 100, -5, 0, 0},
                          Case{0, 100, 1e300, 255, 100}, Case{10, 20, 15, 127, 50}, Case{5, 5, 5, 0, 0},
                          Case{5, 5, 6, 0, 0}, Case{0, 100, nan, 0, 0}, Case{100, 0, 25, 191, 75}}) {
        EXPECT_EQ(ProgressLevel(c.min, c.max, c.value), c.level) << c.min << ".." << c.max << " " << c.value;
        EXPECT_EQ(ProgressPercent(c.min, c.max, c.value), c.percent) << c.min << ".." << c.max << " " << c.value;
    }
}
