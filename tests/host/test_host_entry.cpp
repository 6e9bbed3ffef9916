// The entry dispatch: selectors, result codes, the document picture, the
// interactive road's seam and the plug-in folder.
#include "host_test_support.h"

#include "app/CutterLink.h"
#include "app/KnivesExport.h"
#include "app/MainDisplays.h"
#include "app/Wnd_Main.h"
#include "imaging/ImageFile.h"

#include <fstream>
#include <new>
#include <stdexcept>
#include <string>

using namespace hosttest;

namespace {

const FilterRect16 kSomeRect{1, 2, 3, 4};

bool SameRect(const FilterRect16& a, const FilterRect16& b)
{
    return a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right;
}

bool Empty(const FilterRect16& r)
{
    return r.top == 0 && r.left == 0 && r.bottom == 0 && r.right == 0;
}

TEST(HostEntry, UnknownSelectorsAnswerBadParametersAndLeaveTheRectangles)
{
    PluginHarness h;
    StandInHost host(Document(ColorMode::RGB, 8, 8, false), HostSettings{});
    host.Run(&PluginHarness::Entry, StandInHost::Sequence::About);  // builds the parameter block
    for (int16_t selector : {int16_t{6}, int16_t{-1}, int16_t{100}}) {
        host.Record().inRect = host.Record().outRect = host.Record().maskRect = kSomeRect;
        EXPECT_EQ(h.Call(host, selector), filterBadParameters);
        EXPECT_TRUE(SameRect(host.Record().inRect, kSomeRect));
        EXPECT_TRUE(SameRect(host.Record().maskRect, kSomeRect));
        // Clear them again so the host does not read them as requests.
        host.Record().inRect = host.Record().outRect = host.Record().maskRect = FilterRect16{};
    }
}

TEST(HostEntry, PrepareAsksForNoBufferSpaceAndContinueFinishEmptyTheRectangles)
{
    PluginHarness h;
    StandInHost host(Document(ColorMode::RGB, 8, 8, false), HostSettings{});
    host.Run(&PluginHarness::Entry, StandInHost::Sequence::About);
    host.Record().bufferSpace = 12345;
    EXPECT_EQ(h.Call(host, filterSelectorPrepare), 0);
    EXPECT_EQ(host.Record().bufferSpace, 0);
    for (int16_t selector : {filterSelectorContinue, filterSelectorFinish}) {
        host.Record().inRect = host.Record().outRect = host.Record().maskRect = FilterRect16{0, 0, 0, 0};
        host.Record().maskRect = kSomeRect;
        host.Record().outRect = kSomeRect;
        // The rectangles are asked for nothing once the call returns, so the
        // host commits nothing: checked through the record afterwards.
        EXPECT_EQ(h.Call(host, selector), 0);
        EXPECT_TRUE(Empty(host.Record().outRect));
        EXPECT_TRUE(Empty(host.Record().maskRect));
    }
}

TEST(HostEntry, UnsupportedImagesAreRefusedWithBadModeAndNothingChanges)
{
    struct Case {
        std::optional<int> mode;
        int depth;
        std::optional<int> filterCase;
    };
    for (const Case& c : {Case{filterModeIndexed, 8, {}}, Case{filterModeLab, 8, {}}, Case{{}, 16, {}},
                          Case{{}, 8, 8}, Case{{}, 8, -2}}) {
        PluginHarness h;
        HostSettings s;
        s.imageMode = c.mode;
        s.depth = c.depth;
        s.filterCase = c.filterCase;
        const HostDocument doc = Document(ColorMode::RGB, 8, 8, false);
        StandInHost host(doc, s);
        EXPECT_EQ(h.Run(host), filterBadMode) << c.mode.value_or(-1) << " " << c.depth << " "
                                              << c.filterCase.value_or(-1);
        EXPECT_EQ(host.Document().Target().pixels.planes, doc.Target().pixels.planes);
        EXPECT_TRUE(Empty(host.Record().inRect) && Empty(host.Record().outRect) && Empty(host.Record().maskRect));
        EXPECT_TRUE(host.Violations().empty());
    }
}

TEST(HostEntry, StartWithoutParameterBlockAnswersBadParameters)
{
    PluginHarness h;
    int16_t result = 1;
    intptr_t data = 0;
    qnPluginDispatch(*h.plugin, h.folder, filterSelectorStart, nullptr, &data, &result);
    EXPECT_EQ(result, filterBadParameters);
    // Without a result pointer nothing is written and nothing breaks.
    qnPluginDispatch(*h.plugin, h.folder, filterSelectorStart, nullptr, &data, nullptr);
}

TEST(HostEntry, ReplayWithoutSettingsCancelsAndWritesNothing)
{
    PluginHarness h;
    const HostDocument doc = Document(ColorMode::RGB, 16, 12, false);
    StandInHost host(doc, HostSettings{});
    EXPECT_EQ(h.Run(host), userCanceledErr);
    EXPECT_EQ(host.Document().Target().pixels.planes, doc.Target().pixels.planes);
    EXPECT_TRUE(host.Violations().empty()) << host.Violations().front();
    // A missing configuration storage was created in the plug-in folder.
    EXPECT_TRUE(std::filesystem::exists(h.File("plugin.conf")));
}

struct ScriptedRoad : CInteractiveRoad {
    int starts = 0;
    int abouts = 0;
    std::function<void(CPluginMain&)> onStart;
    void RunAbout(CPluginMain& p) override
    {
        ++abouts;
        p.HostSetRetCode_NoError();
    }
    void RunStart(CPluginMain& p) override
    {
        ++starts;
        if (onStart)
            onStart(p);
    }
};

TEST(HostEntry, DialogStartWithoutWindowsFailsCleanlyAndFinishForgetsTheDialog)
{
    PluginHarness h;
    const HostDocument doc = Document(ColorMode::RGB, 16, 12, false);
    StandInHost host(doc, HostSettings{});
    EXPECT_EQ(h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr);
    EXPECT_EQ(host.Document().Target().pixels.planes, doc.Target().pixels.planes);
    EXPECT_EQ(h.Run(host, StandInHost::Sequence::About), userCanceledErr);

    // With a road: Parameters then Start goes to the window, Finish clears
    // the wish, and a plain Start replays.
    ScriptedRoad road;
    h.plugin->SetInteractiveRoad(&road);
    road.onStart = [](CPluginMain& p) { p.HostSetRetCode_NoError(); };
    EXPECT_EQ(h.Run(host, StandInHost::Sequence::Dialog), 0);
    EXPECT_EQ(road.starts, 1);
    EXPECT_EQ(h.plugin->IsDialogWanted(), 0);
    EXPECT_EQ(h.Run(host, StandInHost::Sequence::Replay), userCanceledErr);
    EXPECT_EQ(road.starts, 1);
    EXPECT_EQ(h.Run(host, StandInHost::Sequence::About), 0);
    EXPECT_EQ(road.abouts, 1);
}

TEST(HostEntry, NoExceptionLeavesTheEntry)
{
    for (int kind = 0; kind < 2; ++kind) {
        PluginHarness h;
        ScriptedRoad road;
        road.onStart = [kind](CPluginMain& p) {
            // A request left standing must not survive the exception.
            p.GetFilterRecord()->outRect = FilterRect16{0, 0, 1, 1};
            if (kind == 0)
                throw std::bad_alloc();
            throw std::runtime_error("window toolkit failed");
        };
        h.plugin->SetInteractiveRoad(&road);
        const HostDocument doc = Document(ColorMode::Gray, 8, 8, false);
        StandInHost host(doc, HostSettings{});
        EXPECT_EQ(h.Run(host, StandInHost::Sequence::Dialog), kind == 0 ? memFullErr : filterBadParameters);
        EXPECT_TRUE(Empty(host.Record().outRect));
        EXPECT_EQ(host.Document().Target().pixels.planes, doc.Target().pixels.planes);
    }
}

TEST(HostEntry, RecordInfoAsksForTheDialogOnlyWhenTheRunWantsIt)
{
    PluginHarness h;
    ScriptedRoad road;
    road.onStart = [](CPluginMain& p) {
        p.Scripting_SetMustShowUI(1);
        p.HostSetRetCode_NoError();
    };
    h.plugin->SetInteractiveRoad(&road);
    StandInHost host(Document(ColorMode::RGB, 4, 4, false), HostSettings{});
    EXPECT_EQ(h.Run(host, StandInHost::Sequence::Dialog), 0);
    EXPECT_EQ(host.RecordInfo(), descriptorRecordDisplayDialog);
    road.onStart = [](CPluginMain& p) {
        p.Scripting_SetMustShowUI(1);
        p.HostSetRetCode_Cancel();
    };
    EXPECT_EQ(h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr);
    EXPECT_EQ(host.RecordInfo(), descriptorRecordSilent);
}

// Start's document picture for every filter case, from both host families.
TEST(HostEntry, FilterCasesGiveTransparencyEditabilityAndSelection)
{
    struct Expect {
        uint8_t has, editable, selection;
    };
    const Expect referenceHost[8] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 1}, {1, 1, 1},
                                     {1, 1, 0}, {1, 1, 1}, {1, 0, 0}, {1, 0, 1}};
    for (int filterCase = 0; filterCase < 8; ++filterCase)
        for (bool reference : {true, false}) {
            PluginHarness h;
            HostSettings s;
            s.filterCase = filterCase;
            s.hostSig = reference ? filterHostSigReference : FILTER_FOURCC('Q', 'N', 'S', 'H');
            // A transparent layer: the other host family reports it through
            // the transparency masks whatever the case says.
            StandInHost host(Document(ColorMode::RGB, 6, 5, true), s);
            h.Run(host);
            const auto* d = h.plugin->GetPluginDataPtr();
            const Expect e = referenceHost[filterCase];
            const uint8_t has = reference || filterCase == 0 ? e.has : 1;
            const uint8_t editable = reference || filterCase == 0 ? e.editable : 1;
            EXPECT_EQ(d->hasTransparency, has) << filterCase << reference;
            EXPECT_EQ(d->transparencyEditable, editable) << filterCase << reference;
            EXPECT_EQ(d->withSelection, e.selection) << filterCase << reference;
            EXPECT_EQ(d->planes, 3 + has) << filterCase << reference;
        }
}

TEST(HostEntry, DocumentPictureTakesSizesColoursResolutionAndRuler)
{
    PluginHarness h;
    HostDocument doc = Document(ColorMode::CMYK, 30, 20, false);
    doc.foreground[0] = 200;
    doc.background[2] = 7;
    doc.resolution = 300;
    doc.ruler = 6;
    doc.icc = std::vector<uint8_t>(1000, 0x5A);
    std::string err;
    std::vector<uint8_t> sel(600, 0);
    sel[5 * 30 + 10] = 255;
    sel[9 * 30 + 14] = 255;
    ASSERT_TRUE(doc.SetSelection(sel, err));
    StandInHost host(std::move(doc), HostSettings{});
    h.Run(host);
    const auto* d = h.plugin->GetPluginDataPtr();
    EXPECT_EQ(d->colorMode, 2);
    EXPECT_EQ(d->planes, 4);
    EXPECT_EQ(d->hostMask, 1);
    EXPECT_EQ(d->withSelection, 1);
    EXPECT_EQ(d->filterRect, (qntRECT_s{10, 5, 15, 10}));
    EXPECT_EQ(d->wholeSize.cx, 30);
    EXPECT_EQ(d->imageSize.cy, 20);
    EXPECT_EQ(d->documentRect, (qntRECT_s{10, 5, 15, 10}));
    EXPECT_EQ(d->resolutionH, 300.0);
    EXPECT_EQ(d->rulerUnit, 4);
    EXPECT_EQ(d->foreColor[0], 200);
    EXPECT_EQ(d->foreColor[3], 255);
    EXPECT_EQ(d->backColor[2], 7);
    ASSERT_EQ(d->iccSize, 1000u);
    EXPECT_EQ(d->iccProfile[999], 0x5A);
    EXPECT_EQ(d->channelNamesPresent, 1);
    EXPECT_EQ(d->channelCount, 4);
    EXPECT_EQ(h.plugin->GetChannelNames()[3], "Black");
    EXPECT_EQ(h.plugin->GetChannelNames()[3].GetTag(), 3u);
    EXPECT_EQ(d->layersAvailable, 1);

    // A later, smaller profile reuses the block; a host without properties
    // leaves names and ruler out.
    HostSettings s;
    s.offerProperties = false;
    HostDocument small = Document(ColorMode::Gray, 4, 4, false);
    small.icc = {1, 2, 3};
    StandInHost second(std::move(small), s);
    h.Run(second);
    EXPECT_EQ(d->iccSize, 3u);
    EXPECT_EQ(d->channelNamesPresent, 0);
    EXPECT_EQ(d->rulerUnit, 0);
}

// The page of a knives export: its bounding box line.
std::string KnivesPage(double resolution, const std::string& path)
{
    CWindowlessCutter cutter;
    CWnd_Main model;
    model.SetImageSize(240, 120);
    model.SetCutter(&cutter);
    EXPECT_TRUE(model.spl_SplitEvenParts(3, 2, 1, 1));
    model.spl_DoReFillKnivesFromCutter(0, 0.0f, 0.0f, 0.0f, 0);
    uint32_t written = 0;
    std::string message, detail;
    EXPECT_TRUE(CKnivesExport::ExportLM(model, CExportLMSettings{CExportLMSettings::kAll, CExportLMSettings::kToEPS},
                                        path, 240, 120, resolution, written, message, detail))
        << detail;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("%%BoundingBox:", 0) == 0)
            return line;
    return {};
}

// A resolution the host hands is taken as a file's is, by one rule, on every
// road of the plug-in: the document picture, the information panel and the
// knives page. 0 and a pixel wider than an inch name none; one direction
// without takes the other's.
TEST(HostEntry, EveryRoadTakesAResolutionAsTheReadersDo)
{
    PluginHarness h;
    const std::string eps = h.File("knives.eps");
    const struct {
        double across, down;
    } cases[] = {{0.0, 0.0}, {0.5, 0.5}, {0.0, 200.0}, {200.0, 0.0}, {0.5, 150.0}, {150.0, 0.5}, {300.0, 150.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.across) + " x " + std::to_string(c.down));
        double x = c.across, y = c.down;
        qnTakenResolution(x, y);

        FilterRecord record{};
        record.filterRect = FilterRect16{0, 0, 20, 30};
        record.imageMode = filterModeRGB;
        record.depth = 8;
        record.filterCase = 1;
        record.imageHRes = int32_t(c.across * 65536.0);
        record.imageVRes = int32_t(c.down * 65536.0);
        CQNF_8BFPluginVirtual adapter;
        intptr_t data = 0;
        int16_t result = 0;
        adapter.SetHostPointers(&record, &data, &result);
        ASSERT_TRUE(adapter.FillPluginData());
        EXPECT_EQ(adapter.GetPluginDataPtr()->resolutionH, x);
        EXPECT_EQ(adapter.GetPluginDataPtr()->resolutionV, y);
        adapter.SetHostPointers(nullptr, nullptr, nullptr);

        qntINFOVIEW handed, taken;
        handed.width = taken.width = 720;
        handed.height = taken.height = 360;
        handed.resX = c.across;
        handed.resY = c.down;
        taken.resX = x;
        taken.resY = y;
        const float guides[2] = {0.25f, 0.5f};
        for (uint8_t unit = 2; unit <= 4; ++unit) {
            handed.unit = taken.unit = unit;
            EXPECT_EQ(qnInfoSizeText(handed), qnInfoSizeText(taken)) << int(unit);
            EXPECT_EQ(qnInfoPositionText(handed, 300, 100, nullptr), qnInfoPositionText(taken, 300, 100, nullptr));
            for (bool column : {true, false})
                EXPECT_EQ(qnInfoSplitterText(handed, column, guides, 2, 1), qnInfoSplitterText(taken, column, guides, 2, 1));
        }

        // The knives export is handed one resolution, the across one.
        double alone = c.across, same = c.across;
        qnTakenResolution(alone, same);
        const std::string page = KnivesPage(c.across, eps);
        EXPECT_FALSE(page.empty());
        EXPECT_EQ(page, KnivesPage(alone, eps));
    }
}

TEST(HostEntry, UnreadableChannelNamesAreNumbered)
{
    PluginHarness h;
    HostSettings s;
    s.offerHandles = false;  // names come as handles, which cannot be read now
    StandInHost host(Document(ColorMode::RGB, 4, 4, false), s);
    h.Run(host);
    ASSERT_EQ(h.plugin->GetPluginDataPtr()->channelCount, 3);
    EXPECT_EQ(h.plugin->GetChannelNames()[0], "Channel 1");
    EXPECT_EQ(h.plugin->GetChannelNames()[2], "Channel 3");
}

TEST(HostEntry, LibraryFolderIsTheFolderOfTheLoadedFile)
{
    FSRef folder;
    folder.path = "unchanged";
    ASSERT_TRUE(qnFindLibraryFolder(reinterpret_cast<const void*>(&qnPluginDispatch), folder));
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
    EXPECT_EQ(folder.path, self.parent_path().string());
    FSRef untouched;
    untouched.path = "kept";
    int local = 0;
    EXPECT_FALSE(qnFindLibraryFolder(&local, untouched));
    EXPECT_EQ(untouched.path, "kept");
}

}  // namespace
