// The replay road end to end in-process: settings from the descriptor or
// "last.data", applied as knife lines or as rendered pieces, in every mode,
// with and without transparency and selection.
#include "host_test_support.h"

#include "app/LayoutPlan.h"
#include "core/SafeFile.h"
#include "imaging/Image.h"

#include <algorithm>
#include <cstdlib>

using namespace hosttest;
using layoutplan::KnifeShape;
using layoutplan::LayoutPlan;

namespace {

std::vector<uint8_t> LinesBlock(uint16_t columns, uint16_t rows)
{
    LayoutPlan plan;
    plan.columns = columns;
    plan.rows = rows;
    plan.knife = KnifeShape::Straight();
    plan.piecesMode = false;
    return layoutplan::BuildLayoutBlock(plan);
}

void PutLastData(const PluginHarness& h, const std::vector<uint8_t>& block)
{
    // The plug-in in this process reads last.data: the test rewrites it as
    // the plug-in's own file.
    ASSERT_EQ(qnReplaceFile(h.File("last.data"), block.data(), block.size(), QnWrite::OwnFile), 0);
}

// The descriptor bytes the plug-in's writer leaves in a host.
std::vector<uint8_t> DescriptorFor(const std::vector<uint8_t>& block, HostSettings settings = HostSettings{})
{
    static const std::vector<uint8_t>* s_block;
    static bool s_ok;
    s_block = &block;
    s_ok = false;
    auto entry = [](int16_t selector, FilterRecord* r, intptr_t* d, int16_t* res) {
        *res = 0;
        if (selector != filterSelectorStart)
            return;
        CQNF_8BFPluginVirtual adapter;
        adapter.SetHostPointers(r, d, res);
        s_ok = adapter.WriteEncryptedScriptParameter_V2(s_block->data(), static_cast<uint32_t>(s_block->size()));
        adapter.SetHostPointers(nullptr, nullptr, nullptr);
    };
    StandInHost host(Document(ColorMode::RGB, 1, 1, false), settings);
    EXPECT_EQ(host.Run(entry, StandInHost::Sequence::Replay), 0);
    EXPECT_TRUE(s_ok);
    return host.DescriptorBytes();
}

// Settings with black lines on white.
HostDocument LinesDocument(ColorMode mode, int w, int h, bool alpha)
{
    HostDocument doc = Document(mode, w, h, alpha);
    for (int c = 0; c < 3; ++c) {
        doc.foreground[c] = 0;
        doc.background[c] = 255;
    }
    return doc;
}

// Darkest value of plane 0 in columns [x0, x1) of row y.
int MinInColumns(const RasterImage& img, int y, int x0, int x1, int plane = 0)
{
    int m = 255;
    for (int x = x0; x < x1; ++x)
        m = std::min<int>(m, img.planes[static_cast<size_t>(plane)][static_cast<size_t>(y) * img.width + x]);
    return m;
}

TEST(HostReplay, LayoutModeDrawsForegroundLinesOnTheBackgroundInEveryMode)
{
    for (ColorMode mode : {ColorMode::Gray, ColorMode::RGB, ColorMode::CMYK}) {
        PluginHarness h;
        PutLastData(h, LinesBlock(2, 1));
        StandInHost host(LinesDocument(mode, 40, 10, false), HostSettings{});
        ASSERT_EQ(h.Run(host), 0) << static_cast<int>(mode);
        EXPECT_TRUE(host.Violations().empty());
        const RasterImage& out = host.Document().Target().pixels;
        const int colours = hostapp::ColorPlanes(mode);
        for (int y = 0; y < 10; ++y) {
            // Away from the knife every colour plane is the background.
            for (int p = 0; p < colours; ++p) {
                EXPECT_EQ(MinInColumns(out, y, 0, 16, p), 255) << y;
                EXPECT_EQ(MinInColumns(out, y, 24, 40, p), 255) << y;
            }
            // The knife down the middle is dark (CMYK black stays no-ink);
            // its anti-aliased ends at the borders are lighter.
            if (y > 0 && y < 9) {
                EXPECT_LT(MinInColumns(out, y, 18, 22), 128) << y;
            }
            if (mode == ColorMode::CMYK) {
                EXPECT_EQ(MinInColumns(out, y, 0, 40, 3), 255);
            }
        }
        // The host saw progress from 0 to 100 and never backwards.
        const auto& progress = host.ProgressDone();
        ASSERT_FALSE(progress.empty());
        EXPECT_EQ(progress.front(), 0);
        EXPECT_EQ(progress.back(), 100);
        EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    }
}

TEST(HostReplay, LayoutModeOnEditableTransparencyDrawsOpaqueLinesOnNothing)
{
    PluginHarness h;
    PutLastData(h, LinesBlock(2, 1));
    StandInHost host(LinesDocument(ColorMode::RGB, 40, 10, true), HostSettings{});
    ASSERT_EQ(h.Run(host), 0);
    const RasterImage& out = host.Document().Target().pixels;
    for (size_t i = 0; i < out.PixelCount(); ++i)
        ASSERT_EQ(out.planes[0][i], 0) << i;  // foreground everywhere
    EXPECT_EQ(out.planes[3][5 * 40 + 5], 0);   // transparent away from the knife
    // The knife at x = 20 covers one pixel's width, anti-aliased across two.
    int coverage = 0;
    for (int x = 17; x < 23; ++x)
        coverage += out.planes[3][5 * 40 + x];
    EXPECT_GE(coverage, 250);
    EXPECT_LE(coverage, 260);
}

TEST(HostReplay, ProtectedTransparencyIsNeverWritten)
{
    PluginHarness h;
    PutLastData(h, LinesBlock(2, 1));
    HostSettings s;
    s.protectTransparency = true;
    HostDocument doc = LinesDocument(ColorMode::RGB, 40, 10, true);
    for (size_t i = 0; i < doc.PixelCount(); ++i)
        doc.Target().pixels.planes[3][i] = static_cast<uint8_t>(100 + i % 100);
    const std::vector<uint8_t> alpha = doc.Target().pixels.planes[3];
    StandInHost host(std::move(doc), s);
    ASSERT_EQ(h.Run(host), 0);
    EXPECT_TRUE(host.Violations().empty());
    const RasterImage& out = host.Document().Target().pixels;
    EXPECT_EQ(out.planes[3], alpha);
    EXPECT_EQ(MinInColumns(out, 5, 0, 16), 255);
    EXPECT_LT(MinInColumns(out, 5, 18, 22), 128);
}

TEST(HostReplay, SelectionBoundsTheWorkAndTheHostKeepsTheRest)
{
    PluginHarness h;
    PutLastData(h, LinesBlock(2, 1));
    HostDocument doc = LinesDocument(ColorMode::RGB, 40, 12, false);
    std::vector<uint8_t> sel(doc.PixelCount(), 0);
    for (int y = 2; y < 10; ++y)
        for (int x = 10; x < 30; ++x)
            sel[static_cast<size_t>(y) * 40 + x] = 255;
    std::string err;
    ASSERT_TRUE(doc.SetSelection(sel, err));
    const RasterImage before = doc.Target().pixels;
    StandInHost host(std::move(doc), HostSettings{});
    ASSERT_EQ(h.Run(host), 0);
    const RasterImage& out = host.Document().Target().pixels;
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 40; ++x) {
            const size_t i = static_cast<size_t>(y) * 40 + x;
            if (!sel[i]) {
                ASSERT_EQ(out.planes[1][i], before.planes[1][i]) << x << "," << y;
            }
        }
    // The knife runs down the middle of the selection, x = 20.
    EXPECT_EQ(MinInColumns(out, 5, 10, 17), 255);
    EXPECT_LT(MinInColumns(out, 5, 18, 22), 128);
    for (const auto& r : host.Requests())
        if (r.kind != 'm') {
            EXPECT_GE(r.rect.left, 10);
            EXPECT_LE(r.rect.right, 30);
        }
}

TEST(HostReplay, DescriptorWinsOverLastDataAndReplaysOnAnySize)
{
    PluginHarness h;
    PutLastData(h, LinesBlock(2, 1));                     // a vertical knife
    const std::vector<uint8_t> desc = DescriptorFor(LinesBlock(1, 2));  // a horizontal one
    for (int w : {40, 64}) {
        const int ht = w / 2;
        StandInHost host(LinesDocument(ColorMode::Gray, w, ht, false), HostSettings{});
        host.SetDescriptor(desc);
        ASSERT_EQ(h.Run(host), 0) << w;
        const RasterImage& out = host.Document().Target().pixels;
        EXPECT_EQ(MinInColumns(out, 2, 0, w), 255) << w;   // no vertical knife
        EXPECT_LT(MinInColumns(out, ht / 2, 0, w), 128) << w;
        EXPECT_LT(std::min(MinInColumns(out, ht / 2 - 1, 3, 4), MinInColumns(out, ht / 2, 3, 4)), 128) << w;
        // A replay leaves the recorded descriptor as it was.
        EXPECT_EQ(host.DescriptorBytes(), desc);
    }
}

TEST(HostReplay, AbortFromTheHostCancelsAndLeavesTheImage)
{
    for (bool pieces : {false, true}) {
        PluginHarness h;
        LayoutPlan plan;
        plan.columns = 3;
        plan.rows = 2;
        plan.piecesMode = pieces;
        PutLastData(h, layoutplan::BuildLayoutBlock(plan));
        HostSettings s;
        s.abortAfter = 1;
        const HostDocument doc = Document(ColorMode::RGB, 60, 40, false);
        StandInHost host(doc, s);
        EXPECT_EQ(h.Run(host), userCanceledErr) << pieces;
        EXPECT_GT(host.AbortCalls(), 0);
        EXPECT_EQ(host.Document().Target().pixels.planes, doc.Target().pixels.planes);
    }
}

TEST(HostReplay, TinySpaceGivesTheSameResultInManyBands)
{
    std::vector<std::vector<uint8_t>> results;
    for (int32_t space : {1 << 22, 48, 100}) {
        PluginHarness h;
        LayoutPlan plan;
        plan.columns = 3;
        plan.rows = 2;
        PutLastData(h, layoutplan::BuildLayoutBlock(plan));
        HostSettings s;
        s.maxSpace = space;
        s.rowPad = 5;
        StandInHost host(Document(ColorMode::RGB, 48, 30, false), s);
        ASSERT_EQ(h.Run(host), 0) << space;
        EXPECT_TRUE(host.Violations().empty());
        results.push_back(host.Document().Target().pixels.planes[1]);
        if (space == 48) {
            EXPECT_GT(host.AdvanceCalls(), 30 * 4);
        }
    }
    EXPECT_EQ(results[0], results[1]);
    EXPECT_EQ(results[0], results[2]);
}

TEST(HostReplay, BlocksTheEngineRefusesAreDamagedAndNoBlockCancels)
{
    PluginHarness h;
    std::vector<uint8_t> block = LinesBlock(3, 3);
    block.resize(block.size() - 3);
    PutLastData(h, block);
    const HostDocument doc = Document(ColorMode::RGB, 20, 20, false);
    StandInHost host(doc, HostSettings{});
    EXPECT_EQ(h.Run(host), filterBadParameters);
    PutLastData(h, {});
    EXPECT_EQ(h.Run(host), userCanceledErr);
    EXPECT_EQ(host.Document().Target().pixels.planes, doc.Target().pixels.planes);
}

TEST(HostReplay, ConfigurationIsCreatedAndAMissingFolderStillReplaysFromTheDescriptor)
{
    PluginHarness h;
    const std::vector<uint8_t> desc = DescriptorFor(LinesBlock(2, 1));
    StandInHost host(LinesDocument(ColorMode::RGB, 20, 10, false), HostSettings{});
    host.SetDescriptor(desc);
    ASSERT_EQ(h.Run(host), 0);
    EXPECT_TRUE(std::filesystem::exists(h.File("plugin.conf")));
    EXPECT_NE(h.plugin->ConfStorage_GetStorage(), nullptr);

    PluginHarness nowhere;
    nowhere.folder.path = h.folder.path + "/does/not/exist";
    StandInHost second(LinesDocument(ColorMode::RGB, 20, 10, false), HostSettings{});
    second.SetDescriptor(desc);
    ASSERT_EQ(nowhere.Run(second), 0);
    EXPECT_EQ(nowhere.plugin->ConfStorage_GetStorage(), nullptr);
    EXPECT_LT(MinInColumns(second.Document().Target().pixels, 5, 8, 12), 128);
}

// Pieces mode ---------------------------------------------------------------

std::array<uint8_t, 92> Record(const CTessolo& engine, uint8_t row, uint8_t column, bool bevel, bool hidden = false)
{
    CTessolo::SFX_ONEPIECE r = engine.DefaultOnePiece();
    r.bevel.on = bevel ? 1 : 0;
    r.row = row;
    r.column = column;
    if (hidden) {
        r.opacity.on = 1;
        r.opacity.opacity = 0;
    }
    std::array<uint8_t, 92> bytes{};
    r.StoreLE(bytes.data());
    return bytes;
}

// Straight cuts into columns x rows pieces, each with a record that switches
// its bevel off.
LayoutPlan PlainPieces(uint16_t columns, uint16_t rows)
{
    CTessolo engine;
    LayoutPlan plan;
    plan.columns = columns;
    plan.rows = rows;
    plan.knife = KnifeShape::Straight();
    for (uint8_t r = 1; r <= rows; ++r)
        for (uint8_t c = 1; c <= columns; ++c)
            plan.records.push_back(Record(engine, r, c, false));
    return plan;
}

TEST(HostReplay, PiecesWithoutEffectsGiveBackThePictureAwayFromTheCuts)
{
    for (ColorMode mode : {ColorMode::Gray, ColorMode::RGB, ColorMode::CMYK}) {
        PluginHarness h;
        PutLastData(h, layoutplan::BuildLayoutBlock(PlainPieces(2, 1)));
        const HostDocument doc = Document(mode, 80, 40, false);
        StandInHost host(doc, HostSettings{});
        ASSERT_EQ(h.Run(host), 0) << static_cast<int>(mode);
        const RasterImage& out = host.Document().Target().pixels;
        for (size_t p = 0; p < out.planes.size(); ++p)
            for (int y = 0; y < 40; ++y)
                for (int x = 0; x < 80; ++x) {
                    if (x >= 37 && x < 43)
                        continue;
                    const size_t i = static_cast<size_t>(y) * 80 + x;
                    ASSERT_EQ(out.planes[p][i], doc.Target().pixels.planes[p][i])
                        << static_cast<int>(mode) << " plane " << p << " at " << x << "," << y;
                }
    }
}

TEST(HostReplay, DefaultPiecesAreBevelledAtTheirEdgesOnly)
{
    PluginHarness h;
    LayoutPlan plan;
    plan.columns = 2;
    plan.rows = 1;
    plan.knife = KnifeShape::Straight();
    PutLastData(h, layoutplan::BuildLayoutBlock(plan));
    const HostDocument doc = Document(ColorMode::RGB, 80, 40, false);
    StandInHost host(doc, HostSettings{});
    ASSERT_EQ(h.Run(host), 0);
    const RasterImage& out = host.Document().Target().pixels;
    const RasterImage& in = doc.Target().pixels;
    int changedNearCut = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 36; x < 44; ++x)
            for (int p = 0; p < 3; ++p) {
                const size_t i = static_cast<size_t>(y) * 80 + x;
                changedNearCut += std::abs(out.planes[p][i] - in.planes[p][i]) > 8;
            }
    EXPECT_GT(changedNearCut, 40);
    const size_t far = 20 * 80 + 20;
    for (int p = 0; p < 3; ++p)
        EXPECT_EQ(out.planes[p][far], in.planes[p][far]);
}

TEST(HostReplay, RecordsFollowThePiecesByPositionWhenTheLayoutChanged)
{
    PluginHarness h;
    CTessolo engine;
    LayoutPlan plan;
    plan.columns = 2;
    plan.rows = 2;
    plan.knife = KnifeShape::Straight();
    // Out of order, and one extra: matched by row and column. The piece in
    // row 1, column 2 is hidden.
    plan.records = {Record(engine, 2, 2, false), Record(engine, 1, 2, false, true), Record(engine, 2, 1, false),
                    Record(engine, 1, 1, false), Record(engine, 7, 7, false)};
    PutLastData(h, layoutplan::BuildLayoutBlock(plan));
    HostDocument doc = Document(ColorMode::RGB, 60, 40, false);
    doc.background[0] = doc.background[1] = doc.background[2] = 0;
    const RasterImage in = doc.Target().pixels;
    StandInHost host(std::move(doc), HostSettings{});
    ASSERT_EQ(h.Run(host), 0);
    const RasterImage& out = host.Document().Target().pixels;
    const size_t topRight = 10 * 60 + 45, topLeft = 10 * 60 + 15, bottomRight = 30 * 60 + 45;
    EXPECT_EQ(out.planes[0][topRight], 0);  // hidden: the background shows
    EXPECT_EQ(out.planes[0][topLeft], in.planes[0][topLeft]);
    EXPECT_EQ(out.planes[0][bottomRight], in.planes[0][bottomRight]);
}

TEST(HostReplay, TransparentLayerIsWorkedOnlyWhereItIsOpaque)
{
    PluginHarness h;
    PutLastData(h, layoutplan::BuildLayoutBlock(PlainPieces(2, 1)));
    HostDocument doc = Document(ColorMode::RGB, 60, 30, true);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 60; ++x)
            if (x < 20 || y < 5)
                doc.Target().pixels.planes[3][static_cast<size_t>(y) * 60 + x] = 0;
    const RasterImage in = doc.Target().pixels;
    StandInHost host(std::move(doc), HostSettings{});
    ASSERT_EQ(h.Run(host), 0);
    EXPECT_TRUE(host.Violations().empty());
    for (const auto& r : host.Requests())
        if (r.kind == 'o') {
            EXPECT_GE(r.rect.left, 20);
            EXPECT_GE(r.rect.top, 5);
        }
    const RasterImage& out = host.Document().Target().pixels;
    EXPECT_EQ(out.planes[3][2 * 60 + 2], 0);
    // The opaque box 20..60 is cut in the middle, x = 40; away from it the
    // picture is the same, fully opaque.
    const size_t i = 15 * 60 + 28;
    EXPECT_EQ(out.planes[3][i], 255);
    EXPECT_EQ(out.planes[1][i], in.planes[1][i]);
}

TEST(HostReplay, SelectionOnATransparentLayerMultipliesTheAlpha)
{
    PluginHarness h;
    PutLastData(h, layoutplan::BuildLayoutBlock(PlainPieces(1, 1)));
    HostDocument doc = Document(ColorMode::Gray, 20, 10, true);
    for (auto& a : doc.Target().pixels.planes[1])
        a = 200;
    std::string err;
    ASSERT_TRUE(doc.SetSelection(std::vector<uint8_t>(200, 128), err));
    StandInHost host(std::move(doc), HostSettings{});
    ASSERT_EQ(h.Run(host), 0);
    // The plug-in's alpha for the one piece is 200 x 128 / 255 = 100; the
    // host then blends that result with the original through the selection.
    const int pluginAlpha = 200 * 128 / 255;
    const int expected = (pluginAlpha * 128 + 200 * 127 + 127) / 255;
    EXPECT_NEAR(host.Document().Target().pixels.planes[1][5 * 20 + 10], expected, 1);
}

}  // namespace

namespace {

TEST(HostReplay, ImageOverlayReadsAnotherLayerOfTheDocument)
{
    PluginHarness h;
    LayoutPlan plan = PlainPieces(2, 1);
    CTessolo::SFX_ONEPIECE overlay = CTessolo::SFX_ONEPIECE::LoadLE(plan.records[1].data());
    overlay.imageOverlay.on = 1;
    overlay.imageOverlay.opacity = 255;
    overlay.imageOverlay.layerChoice = 1;
    overlay.imageOverlay.layerId = 2;
    overlay.StoreLE(plan.records[1].data());
    PutLastData(h, layoutplan::BuildLayoutBlock(plan));
    HostDocument doc = Document(ColorMode::RGB, 60, 30, false);
    RasterImage red;
    red.Allocate(ColorMode::RGB, 60, 30, true, 0);
    std::fill(red.planes[0].begin(), red.planes[0].end(), 250);
    std::fill(red.planes[3].begin(), red.planes[3].end(), 255);
    std::string err;
    ASSERT_TRUE(doc.AddLayer(red, "Red", err));
    doc.target = 0;
    const RasterImage in = doc.Target().pixels;
    StandInHost host(std::move(doc), HostSettings{});
    ASSERT_EQ(h.Run(host), 0);
    EXPECT_TRUE(host.Violations().empty());
    EXPECT_GT(host.SuiteReads(), 0);
    const RasterImage& out = host.Document().Target().pixels;
    const size_t left = 15 * 60 + 10, right = 15 * 60 + 50;
    EXPECT_EQ(out.planes[0][left], in.planes[0][left]);
    EXPECT_EQ(out.planes[0][right], 250);
    EXPECT_EQ(out.planes[1][right], 0);
}

}  // namespace

namespace {

TEST(HostReplay, AnEmptyLayerKeepsItsWholeRectangleForTheLines)
{
    PluginHarness h;
    PutLastData(h, LinesBlock(2, 1));
    HostDocument doc = LinesDocument(ColorMode::RGB, 40, 10, true);
    std::fill(doc.Target().pixels.planes[3].begin(), doc.Target().pixels.planes[3].end(), 0);
    StandInHost host(std::move(doc), HostSettings{});
    ASSERT_EQ(h.Run(host), 0);
    EXPECT_EQ(h.plugin->GetPluginDataPtr()->filterRect, (qntRECT_s{0, 0, 40, 10}));
    int coverage = 0;
    for (int x = 17; x < 23; ++x)
        coverage += host.Document().Target().pixels.planes[3][5 * 40 + x];
    EXPECT_GE(coverage, 250);
}

TEST(HostReplay, PiecesReportProgressForwardOnly)
{
    PluginHarness h;
    LayoutPlan plan;
    plan.columns = 5;
    plan.rows = 4;
    PutLastData(h, layoutplan::BuildLayoutBlock(plan));
    StandInHost host(Document(ColorMode::RGB, 100, 80, false), HostSettings{});
    ASSERT_EQ(h.Run(host), 0);
    const auto& progress = host.ProgressDone();
    ASSERT_GT(progress.size(), 10u);
    EXPECT_EQ(progress.front(), 0);
    EXPECT_EQ(progress.back(), 100);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
}

TEST(HostReplay, TheWindowsImageMustMatchTheWorkRectangle)
{
    PluginHarness h;
    for (bool transparent : {false, true}) {
        StandInHost host(Document(ColorMode::RGB, 6, 4, transparent), HostSettings{});
        CQNF_Image small, right;
        ASSERT_TRUE(small.Create(5, 4, qnimg::ModeRGBA));
        ASSERT_TRUE(right.Create(6, 4, qnimg::ModeRGBA));
        for (unsigned p = 0; p < 4; ++p)
            std::fill(right.GetPlane(p), right.GetPlane(p) + right.PlaneSize(), p == 3 ? 255 : 77);
        InStart(
            h, host,
            [&](CPluginMain& p) {
                ASSERT_TRUE(p.PrepareCompositeAlpha(1));
                EXPECT_FALSE(p.Apply_SplittingUI(&small));
                EXPECT_FALSE(p.Apply_SplittingUI(nullptr));
                EXPECT_TRUE(p.Apply_SplittingUI(&right));
            },
            0);
        for (size_t i = 0; i < 24; ++i)
            ASSERT_EQ(host.Document().Target().pixels.planes[1][i], 77) << transparent;
    }
}

}  // namespace
