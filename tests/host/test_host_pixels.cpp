// Pixel transfers in row bands, run inside a host call through a scripted
// interactive road.
#include "host_test_support.h"


using namespace hosttest;

namespace {

TEST(HostPixels, BandsFollowTheSpaceTheHostOffers)
{
    for (int32_t space : {10, 11, 19, 20, 1 << 20}) {
        PluginHarness h;
        HostSettings s;
        s.maxSpace = space;
        s.rowPad = 13;
        const HostDocument doc = Document(ColorMode::RGB, 10, 7, false);
        StandInHost host(doc, s);
        std::vector<uint8_t> got(10 * 7);
        bool ok = false;
        InStart(h, host, [&](CPluginMain& p) {
            ok = p.HostGetChanel(1, qntRECT_s{0, 0, 10, 7}, got.data(), 10);
            p.HostSetRetCode_Cancel();
        });
        EXPECT_TRUE(ok) << space;
        EXPECT_EQ(got, doc.Target().pixels.planes[1]) << space;
        const long rows = std::min<long>(7, space / 10);
        EXPECT_EQ(host.AdvanceCalls(), (7 + rows - 1) / rows) << space;
        EXPECT_TRUE(host.Violations().empty());
    }
}

TEST(HostPixels, TooLittleSpaceOrNoAdvanceStateIsBadParameters)
{
    for (int variant = 0; variant < 3; ++variant) {
        PluginHarness h;
        HostSettings s;
        if (variant == 0)
            s.maxSpace = 9;  // below one row of 10
        if (variant == 1)
            s.maxSpace = 0;
        if (variant == 2)
            s.offerAdvanceState = false;
        StandInHost host(Document(ColorMode::Gray, 10, 4, false), s);
        std::vector<uint8_t> buf(40);
        int16_t code = 0;
        bool ok = true;
        InStart(h, host, [&](CPluginMain& p) {
            ok = p.HostGetChanel(0, qntRECT_s{0, 0, 10, 4}, buf.data(), 10);
            code = p.HostGetRetCode();
            p.HostSetRetCode_Cancel();
        });
        EXPECT_FALSE(ok) << variant;
        EXPECT_EQ(code, filterBadParameters) << variant;
        EXPECT_EQ(host.AdvanceCalls(), 0) << variant;
    }
}

TEST(HostPixels, EmptyRectangleFailsWithoutAskingTheHost)
{
    PluginHarness h;
    StandInHost host(Document(ColorMode::Gray, 10, 4, false), HostSettings{});
    std::vector<uint8_t> buf(40);
    InStart(h, host, [&](CPluginMain& p) {
        p.HostSetRetCode_Cancel();
        EXPECT_FALSE(p.HostGetChanel(0, qntRECT_s{3, 0, 3, 4}, buf.data(), 10));
        EXPECT_EQ(p.GetError(), qnerr::BadArgument);
        EXPECT_EQ(p.HostGetRetCode(), 0);
        EXPECT_FALSE(p.HostPutChanel(0, qntRECT_s{0, 2, 10, 2}, uint8_t{5}));
        p.HostSetRetCode_Cancel();
    });
    EXPECT_EQ(host.AdvanceCalls(), 0);
}

TEST(HostPixels, SelectionComesThroughTheMaskFieldsOnly)
{
    PluginHarness h;
    HostDocument doc = Document(ColorMode::RGB, 6, 6, false);
    std::string err;
    std::vector<uint8_t> sel(36);
    for (size_t i = 0; i < sel.size(); ++i)
        sel[i] = static_cast<uint8_t>(i * 7);
    ASSERT_TRUE(doc.SetSelection(sel, err));
    StandInHost host(std::move(doc), HostSettings{});
    std::vector<uint8_t> got(36);
    InStart(h, host, [&](CPluginMain& p) {
        EXPECT_TRUE(p.HostGetChanel(255, qntRECT_s{0, 0, 6, 6}, got.data(), 6));
        p.HostSetRetCode_Cancel();
    });
    EXPECT_EQ(got, sel);
    ASSERT_FALSE(host.Requests().empty());
    for (const auto& r : host.Requests())
        EXPECT_EQ(r.kind, 'm');
}

TEST(HostPixels, AbsoluteChannelsNeedHostSupport)
{
    PluginHarness h;
    HostDocument doc = Document(ColorMode::Gray, 4, 3, false);
    std::string err;
    ASSERT_TRUE(doc.AddChannel(std::vector<uint8_t>(12, 99), "Spot", err));
    StandInHost host(std::move(doc), HostSettings{});
    std::vector<uint8_t> got(12);
    InStart(h, host, [&](CPluginMain& p) {
        EXPECT_TRUE(p.HostGetAlphaChanel(1, qntRECT_s{0, 0, 4, 3}, got.data(), 4));
        EXPECT_EQ(p.GetChannelNames()[1], "Spot");
        p.GetFilterRecord()->supportsAbsolute = 0;
        EXPECT_FALSE(p.HostGetAlphaChanel(1, qntRECT_s{0, 0, 4, 3}, got.data(), 4));
        p.HostSetRetCode_Cancel();
    });
    EXPECT_EQ(got, std::vector<uint8_t>(12, 99));
}

TEST(HostPixels, WritesReachTheDocumentAndARefusedBandCancels)
{
    PluginHarness h;
    HostSettings s;
    s.maxSpace = 8;  // two rows of 4 per band
    StandInHost host(Document(ColorMode::RGB, 4, 6, false), s);
    std::vector<uint8_t> plane(4 * 6);
    for (size_t i = 0; i < plane.size(); ++i)
        plane[i] = static_cast<uint8_t>(200 + i);
    int16_t refused = 0;
    InStart(h, host, [&](CPluginMain& p) {
        EXPECT_TRUE(p.HostPutChanel(2, qntRECT_s{0, 0, 4, 6}, plane.data(), 4));
        EXPECT_TRUE(p.HostPutChanel(0, qntRECT_s{1, 1, 3, 5}, uint8_t{9}));
        p.HostSetRetCode_NoError();
    });
    EXPECT_EQ(host.Document().Target().pixels.planes[2], plane);
    EXPECT_EQ(host.Document().Target().pixels.planes[0][1 * 4 + 1], 9);
    EXPECT_EQ(host.Document().Target().pixels.planes[0][0], Picture(ColorMode::RGB, 4, 6, false).planes[0][0]);

    // A band the host refuses (outside its filter rectangle) ends with
    // userCanceledErr, and the host logs the breach.
    InStart(h, host, [&](CPluginMain& p) {
        EXPECT_FALSE(p.HostPutChanel(0, qntRECT_s{0, 4, 4, 8}, plane.data(), 4));
        refused = p.HostGetRetCode();
    });
    EXPECT_EQ(refused, userCanceledErr);
    EXPECT_EQ(host.Violations().size(), 1u);
}

TEST(HostPixels, ShortHostRowsAreRefused)
{
    PluginHarness h;
    StandInHost host(Document(ColorMode::Gray, 8, 2, false), HostSettings{});
    std::vector<uint8_t> buf(16);
    InStart(h, host, [&](CPluginMain& p) {
        // A caller's own row shorter than the rectangle is refused too.
        EXPECT_FALSE(p.HostGetChanel(0, qntRECT_s{0, 0, 8, 2}, buf.data(), 7));
        EXPECT_EQ(p.GetError(), qnerr::BadArgument);
        p.HostSetRetCode_Cancel();
    });
    EXPECT_EQ(host.AdvanceCalls(), 0);
}

TEST(HostPixels, ProgressAndAbortReachTheHost)
{
    PluginHarness h;
    HostSettings s;
    s.abortAfter = 2;
    StandInHost host(Document(ColorMode::Gray, 2, 2, false), s);
    InStart(h, host, [&](CPluginMain& p) {
        CHostProgress& progress = p.GetHostProgress();
        progress.Progress(40, nullptr);
        progress.Progress(40, nullptr);  // repeats reach the host too
        EXPECT_FALSE(progress.IsCanceled());
        EXPECT_TRUE(progress.IsCanceled());
        p.HostSetRetCode_Cancel();
    });
    EXPECT_EQ(host.ProgressDone(), (std::vector<int32_t>{40, 40}));

    HostSettings none;
    none.offerAbort = false;
    none.offerProgress = false;
    StandInHost quiet(Document(ColorMode::Gray, 2, 2, false), none);
    InStart(h, quiet, [&](CPluginMain& p) {
        EXPECT_FALSE(p.HostProgress(100, 5));
        for (int i = 0; i < 5; ++i)
            EXPECT_FALSE(p.GetHostProgress().IsCanceled());
        p.HostSetRetCode_Cancel();
    });
}

}  // namespace
