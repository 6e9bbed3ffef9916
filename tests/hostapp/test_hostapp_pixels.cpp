// The stand-in host's pixel traffic: bands, commit rule, selection, refusals.
#include "host_test_plugins.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace hostapp;
using namespace hosttest;

namespace {

RasterImage Gradient(ColorMode mode, int w, int h, bool alpha)
{
    RasterImage img;
    img.Allocate(mode, w, h, alpha);
    for (size_t p = 0; p < img.planes.size(); ++p)
        for (size_t i = 0; i < img.PixelCount(); ++i)
            img.planes[p][i] = static_cast<uint8_t>(i * 7 + p * 50);
    return img;
}

class HostPixels : public ::testing::Test {
protected:
    void TearDown() override { StartScript() = nullptr; }
};

TEST_F(HostPixels, InvertInBandsChangesEveryColourPlaneAndKeepsAlpha)
{
    const RasterImage src = Gradient(ColorMode::RGB, 37, 23, true);
    HostSettings s;
    s.maxSpace = 2 * 37 * 3;  // three rows per band
    StandInHost host(HostDocument::FromImage(src, "L"), s);
    StartScript() = [](FilterRecord* r) { return InvertPlanes(r, 3); };
    ASSERT_EQ(host.Run(&ScriptedPlugin, StandInHost::Sequence::Replay), 0);
    const RasterImage& out = host.Document().Target().pixels;
    for (int p = 0; p < 3; ++p)
        for (size_t i = 0; i < src.PixelCount(); ++i)
            ASSERT_EQ(out.planes[p][i], 255 - src.planes[p][i]) << "plane " << p << " pixel " << i;
    EXPECT_EQ(out.planes[3], src.planes[3]);
    EXPECT_TRUE(host.Violations().empty());
    // 3 planes x ceil(23 / 3) bands, each one request in and one out.
    EXPECT_EQ(host.AdvanceCalls(), 3 * 8);
}

TEST_F(HostPixels, RowPaddingAndTinyBandsGiveTheSameBytes)
{
    const RasterImage src = Gradient(ColorMode::Gray, 19, 11, false);
    HostSettings wide;
    HostSettings narrow;
    narrow.maxSpace = 2 * 19;  // one row per band
    narrow.rowPad = 13;
    StandInHost a(HostDocument::FromImage(src, "L"), wide);
    StandInHost b(HostDocument::FromImage(src, "L"), narrow);
    StartScript() = [](FilterRecord* r) { return InvertPlanes(r, 1); };
    ASSERT_EQ(a.Run(&ScriptedPlugin, StandInHost::Sequence::Replay), 0);
    ASSERT_EQ(b.Run(&ScriptedPlugin, StandInHost::Sequence::Replay), 0);
    EXPECT_EQ(a.Document().Target().pixels.planes, b.Document().Target().pixels.planes);
    EXPECT_EQ(b.AdvanceCalls(), 11);
}

TEST_F(HostPixels, SelectionBlendsResultWithOriginalAndBoundsTheFilterRect)
{
    const RasterImage src = Gradient(ColorMode::Gray, 10, 10, false);
    HostDocument doc = HostDocument::FromImage(src, "L");
    std::vector<uint8_t> sel(100, 0);
    for (int y = 2; y < 5; ++y)
        for (int x = 3; x < 8; ++x)
            sel[static_cast<size_t>(y * 10 + x)] = x == 3 ? 128 : 255;
    std::string err;
    ASSERT_TRUE(doc.SetSelection(sel, err));
    StandInHost host(std::move(doc), HostSettings{});
    FilterRect16 seen{};
    int16_t filterCase = 0;
    StartScript() = [&](FilterRecord* r) {
        seen = r->filterRect;
        filterCase = r->filterCase;
        return InvertPlanes(r, 1);
    };
    ASSERT_EQ(host.Run(&ScriptedPlugin, StandInHost::Sequence::Replay), 0);
    EXPECT_EQ(seen.left, 3);
    EXPECT_EQ(seen.top, 2);
    EXPECT_EQ(seen.right, 8);
    EXPECT_EQ(seen.bottom, 5);
    EXPECT_EQ(filterCase, filterCaseFlatImageWithSelection);
    const auto& out = host.Document().Target().pixels.planes[0];
    for (size_t i = 0; i < 100; ++i) {
        const int m = sel[i];
        const int expected = ((255 - src.planes[0][i]) * m + src.planes[0][i] * (255 - m) + 127) / 255;
        ASSERT_EQ(out[i], expected) << i;
    }
}

TEST_F(HostPixels, OutputWrittenAfterTheLastRequestIsCommittedAtReturn)
{
    StandInHost host(HostDocument::FromImage(Gradient(ColorMode::Gray, 4, 4, false), "L"), HostSettings{});
    StartScript() = [](FilterRecord* r) {
        r->outRect = FilterRect16{0, 0, 4, 4};
        r->outLoPlane = r->outHiPlane = 0;
        if (r->advanceState())
            return int16_t{userCanceledErr};
        ClearRects(r);
        // The buffer stays valid until the call returns.
        for (int y = 0; y < 4; ++y)
            std::memset(static_cast<uint8_t*>(r->outData) + y * r->outRowBytes, 42, 4);
        return int16_t{0};
    };
    ASSERT_EQ(host.Run(&ScriptedPlugin, StandInHost::Sequence::Replay), 0);
    for (uint8_t v : host.Document().Target().pixels.planes[0])
        ASSERT_EQ(v, 42);
}

// Runs on one host follow each other as --repeat makes them: each starts
// from the last result, and what no output request touched keeps its value
// (the result is handed over whole, so the working copy must hold the
// picture everywhere, not only where the plug-in wrote).
TEST_F(HostPixels, RepeatedRunsStartFromTheLastResultAndKeepUntouchedPixels)
{
    const int w = 9, h = 7;
    const RasterImage src = Gradient(ColorMode::RGB, w, h, true);
    StandInHost host(HostDocument::FromImage(src, "L"), HostSettings{});
    struct Step {
        FilterRect16 rect;  // written with value in plane 1; empty: invert the colour planes
        uint8_t value;
    };
    const Step steps[] = {{{1, 2, 4, 6}, 42}, {{3, 0, 7, 3}, 7}, {{0, 0, 0, 0}, 0}, {{0, 0, 7, 9}, 200}};
    std::vector<std::vector<uint8_t>> want = src.planes;
    for (const Step& step : steps) {
        const bool invert = step.rect.bottom == 0;
        StartScript() = [step, invert](FilterRecord* r) {
            if (invert)
                return InvertPlanes(r, 3);
            r->outRect = step.rect;
            r->outLoPlane = r->outHiPlane = 1;
            if (r->advanceState())
                return int16_t{userCanceledErr};
            for (int y = 0; y < Height(step.rect); ++y)
                std::memset(static_cast<uint8_t*>(r->outData) + y * r->outRowBytes, step.value,
                            static_cast<size_t>(Width(step.rect)));
            ClearRects(r);
            return int16_t{0};
        };
        ASSERT_EQ(host.Run(&ScriptedPlugin, StandInHost::Sequence::Replay), 0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const size_t i = static_cast<size_t>(y) * w + x;
                if (invert) {
                    for (int p = 0; p < 3; ++p)
                        want[p][i] = static_cast<uint8_t>(255 - want[p][i]);
                } else if (y >= step.rect.top && y < step.rect.bottom && x >= step.rect.left && x < step.rect.right) {
                    want[1][i] = step.value;
                }
            }
        EXPECT_EQ(host.Document().Target().pixels.planes, want) << "after writing " << int(step.value);
        EXPECT_TRUE(host.Violations().empty());
    }
}

TEST_F(HostPixels, NonZeroResultLeavesTheDocumentUntouched)
{
    const RasterImage src = Gradient(ColorMode::RGB, 8, 8, false);
    StandInHost host(HostDocument::FromImage(src, "L"), HostSettings{});
    StartScript() = [](FilterRecord* r) {
        InvertPlanes(r, 3);
        return int16_t{memFullErr};
    };
    EXPECT_EQ(host.Run(&ScriptedPlugin, StandInHost::Sequence::Replay), memFullErr);
    EXPECT_EQ(host.Document().Target().pixels.planes, src.planes);
}

TEST_F(HostPixels, StrictHostRefusesBadRequestsAndRecordsThem)
{
    struct Case {
        const char* what;
        std::function<void(FilterRecord*)> set;
        bool protect;
    };
    const Case cases[] = {
        {"outside", [](FilterRecord* r) { r->inRect = FilterRect16{0, 0, 5, 9}; }, false},
        {"plane", [](FilterRecord* r) { r->inRect = FilterRect16{0, 0, 2, 2}, r->inLoPlane = r->inHiPlane = 4; },
         false},
        {"space",
         [](FilterRecord* r) {
             r->inRect = FilterRect16{0, 0, 8, 8};
             r->outRect = FilterRect16{0, 0, 8, 8};
         },
         false},
        {"protected",
         [](FilterRecord* r) {
             r->outRect = FilterRect16{0, 0, 2, 2};
             r->outLoPlane = r->outHiPlane = 3;
         },
         true},
    };
    for (const Case& c : cases) {
        HostSettings s;
        s.maxSpace = 100;
        s.protectTransparency = c.protect;
        StandInHost host(HostDocument::FromImage(Gradient(ColorMode::RGB, 8, 8, true), "L"), s);
        int16_t answer = 0;
        StartScript() = [&](FilterRecord* r) {
            c.set(r);
            answer = r->advanceState();
            return answer ? int16_t{userCanceledErr} : int16_t{0};
        };
        EXPECT_EQ(host.Run(&ScriptedPlugin, StandInHost::Sequence::Replay), userCanceledErr) << c.what;
        EXPECT_NE(answer, 0) << c.what;
        EXPECT_EQ(host.Violations().size(), 1u) << c.what;
    }
}

TEST_F(HostPixels, MaskRequestGivesTheSelectionOnlyWhenThereIsOne)
{
    for (bool withSelection : {false, true}) {
        HostDocument doc = HostDocument::FromImage(Gradient(ColorMode::Gray, 6, 6, false), "L");
        std::string err;
        if (withSelection) {
            ASSERT_TRUE(doc.SetSelection(std::vector<uint8_t>(36, 200), err));
        }
        StandInHost host(std::move(doc), HostSettings{});
        const void* mask = reinterpret_cast<const void*>(1);
        int first = -1;
        StartScript() = [&](FilterRecord* r) {
            r->maskRect = FilterRect16{1, 1, 3, 3};
            r->advanceState();
            mask = r->maskData;
            if (mask)
                first = *static_cast<const uint8_t*>(mask);
            ClearRects(r);
            return int16_t{0};
        };
        ASSERT_EQ(host.Run(&ScriptedPlugin, StandInHost::Sequence::Replay), 0);
        EXPECT_EQ(mask != nullptr, withSelection);
        if (withSelection) {
            EXPECT_EQ(first, 200);
        }
    }
}

TEST_F(HostPixels, AbsoluteRequestsReachTheExtraChannels)
{
    HostDocument doc = HostDocument::FromImage(Gradient(ColorMode::RGB, 5, 5, false), "L");
    std::string err;
    ASSERT_TRUE(doc.AddChannel(std::vector<uint8_t>(25, 77), "Alpha 1", err));
    StandInHost host(std::move(doc), HostSettings{});
    int value = -1;
    StartScript() = [&](FilterRecord* r) {
        r->wantsAbsolute = 1;
        r->inRect = FilterRect16{0, 0, 5, 5};
        r->inLoPlane = r->inHiPlane = 3;
        if (r->advanceState())
            return int16_t{userCanceledErr};
        value = static_cast<const uint8_t*>(r->inData)[r->inRowBytes + 2];
        ClearRects(r);
        return int16_t{0};
    };
    ASSERT_EQ(host.Run(&ScriptedPlugin, StandInHost::Sequence::Replay), 0);
    EXPECT_EQ(value, 77);
}

TEST_F(HostPixels, AbortAnswersFromTheNthCallAndProgressIsLogged)
{
    HostSettings s;
    s.abortAfter = 3;
    StandInHost host(HostDocument::FromImage(Gradient(ColorMode::Gray, 2, 2, false), "L"), s);
    std::vector<int> answers;
    StartScript() = [&](FilterRecord* r) {
        for (int i = 0; i < 4; ++i) {
            answers.push_back(r->abortProc());
            r->progressProc(i * 10, 100);
        }
        return int16_t{0};
    };
    ASSERT_EQ(host.Run(&ScriptedPlugin, StandInHost::Sequence::Replay), 0);
    EXPECT_EQ(answers, (std::vector<int>{0, 0, 1, 1}));
    EXPECT_EQ(host.ProgressDone(), (std::vector<int32_t>{0, 10, 20, 30}));
}

}  // namespace
