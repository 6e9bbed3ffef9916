// Document layers through the channel-ports suite, colours and the services
// the windows call.
#include "host_test_support.h"

#include "core/Launcher.h"
#include "imaging/Image.h"

#include <cstring>

using namespace hosttest;

namespace {

// A background, a layer opaque only in a box, and a fully transparent one.
HostDocument Layered(ColorMode mode)
{
    HostDocument doc = Document(mode, 30, 12, false);
    std::string err;
    RasterImage box = Picture(mode, 30, 12, true);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 30; ++x)
            box.planes.back()[static_cast<size_t>(y) * 30 + x] = x >= 10 && x < 20 && y >= 5 && y < 8 ? 180 : 0;
    EXPECT_TRUE(doc.AddLayer(box, "Box", err));
    RasterImage empty = Picture(mode, 30, 12, true);
    std::fill(empty.planes.back().begin(), empty.planes.back().end(), 0);
    EXPECT_TRUE(doc.AddLayer(empty, "A rather long layer name that goes on and on past ninety-nine characters, "
                                    "surely longer than anyone would type",
                             err));
    return doc;
}

TEST(HostLayers, TableHoldsEveryLayerShrunkToItsPixelsAndTheCompositeLast)
{
    PluginHarness h;
    StandInHost host(Layered(ColorMode::RGB), HostSettings{});
    InStart(h, host, [&](CPluginMain& p) {
        ASSERT_EQ(p.GetPluginDataPtr()->layersAvailable, 1);
        ASSERT_TRUE(p.PS_FillRealLayerBounds(qnNullRect, 0));
        uint32_t n = 0;
        const auto* t = p.GetLayerTable(n);
        ASSERT_EQ(n, 4u);
        EXPECT_EQ(t[0].id, 1);
        EXPECT_STREQ(t[0].name, "Background");
        EXPECT_EQ((qntRECT_s{t[0].left, t[0].top, t[0].right, t[0].bottom}), (qntRECT_s{0, 0, 30, 12}));
        EXPECT_EQ(t[1].id, 2);
        EXPECT_EQ((qntRECT_s{t[1].left, t[1].top, t[1].right, t[1].bottom}), (qntRECT_s{10, 5, 20, 8}));
        EXPECT_EQ(t[2].left, -32000);  // fully transparent, still listed
        EXPECT_EQ(std::strlen(t[2].name), 99u);
        EXPECT_EQ(t[3].id, -1);
        EXPECT_STREQ(t[3].name, "--COMPOSITE--");

        // Kept unless forced; a forced rebuild takes the new clip.
        ASSERT_TRUE(p.PS_FillRealLayerBounds(qntRECT_s{0, 0, 15, 6}, 0));
        EXPECT_EQ(p.GetLayerTable(n)[1].right, 20);
        ASSERT_TRUE(p.PS_FillRealLayerBounds(qntRECT_s{0, 0, 15, 6}, 1));
        t = p.GetLayerTable(n);
        EXPECT_EQ((qntRECT_s{t[1].left, t[1].top, t[1].right, t[1].bottom}), (qntRECT_s{10, 5, 15, 6}));
        EXPECT_EQ(p.PS_GetLayerBounds(2), (qntRECT_s{0, 0, 30, 12}));
        EXPECT_TRUE(qnIsNullRect(p.PS_GetLayerBounds(77)));
    });
    EXPECT_EQ(host.HeldSuites(), 0);
    EXPECT_GT(host.SuiteReads(), 0);
    EXPECT_TRUE(host.Violations().empty()) << host.Violations().front();
}

TEST(HostLayers, LayersReadAsRgbFromGrayAndCmykAndWithoutTransparency)
{
    for (ColorMode mode : {ColorMode::Gray, ColorMode::CMYK}) {
        PluginHarness h;
        const HostDocument doc = Layered(mode);
        StandInHost host(doc, HostSettings{});
        InStart(h, host, [&](CPluginMain& p) {
            std::vector<uint8_t> mem(4 * 6);
            uint8_t* planes[4] = {&mem[0], &mem[6], &mem[12], &mem[18]};
            const qntRECT_s r{12, 5, 15, 7};
            ASSERT_TRUE(p.PS_GetLayerWithColorConversionIfNeeded(2, planes, 3, 2, 4, r));
            const auto& src = doc.layers[1].pixels;
            for (int y = 0; y < 2; ++y)
                for (int x = 0; x < 3; ++x) {
                    const size_t s = static_cast<size_t>(5 + y) * 30 + 12 + x;
                    const size_t d = static_cast<size_t>(y) * 3 + x;
                    if (mode == ColorMode::Gray) {
                        EXPECT_EQ(planes[0][d], src.planes[0][s]);
                        EXPECT_EQ(planes[2][d], src.planes[0][s]);
                    } else {
                        EXPECT_EQ(planes[1][d], src.planes[1][s] * src.planes[3][s] / 256);
                    }
                    EXPECT_EQ(planes[3][d], 180);
                }
            // The background has no transparency: alpha 255.
            ASSERT_TRUE(p.PS_GetLayerWithColorConversionIfNeeded(1, planes, 3, 2, 4, r));
            EXPECT_EQ(planes[3][0], 255);
            // Without conversion the channel count must fit.
            EXPECT_FALSE(p.PS_GetLayer(2, planes, 3, 2, 4, r));
            // Unknown layer or a size mismatch: the buffers stay untouched.
            std::fill(mem.begin(), mem.end(), 7);
            EXPECT_FALSE(p.PS_GetLayerWithColorConversionIfNeeded(99, planes, 3, 2, 4, r));
            EXPECT_FALSE(p.PS_GetLayerWithColorConversionIfNeeded(2, planes, 2, 2, 4, r));
            EXPECT_EQ(mem, std::vector<uint8_t>(24, 7));
        });
        EXPECT_TRUE(host.Violations().empty());
    }
}

TEST(HostLayers, ScaledLayersReadAsRgbInEveryMode)
{
    // Half size: each pixel of the scaled image is the full-size layer's
    // pixel at twice its coordinates, converted the same way.
    for (ColorMode mode : {ColorMode::RGB, ColorMode::Gray, ColorMode::CMYK}) {
        PluginHarness h;
        StandInHost host(Layered(mode), HostSettings{});
        InStart(h, host, [&](CPluginMain& p) {
            const qntRECT_s whole{0, 0, 30, 12};
            std::vector<uint8_t> mem(4 * 30 * 12);
            uint8_t* full[4] = {&mem[0], &mem[360], &mem[720], &mem[1080]};
            ASSERT_TRUE(p.PS_GetLayerWithColorConversionIfNeeded(2, full, 30, 12, 4, whole));
            for (uint8_t imageMode : {qnimg::ModeRGBA, qnimg::ModeRGB}) {
                CQNF_Image half;
                ASSERT_TRUE(half.Create(15, 6, imageMode));
                ASSERT_TRUE(p.PS_GetScaledLayerRGB(2, &half, whole)) << int(mode);
                const unsigned planes = imageMode == qnimg::ModeRGBA ? 4 : 3;
                for (unsigned c = 0; c < planes; ++c)
                    for (int y = 0; y < 6; ++y)
                        for (int x = 0; x < 15; ++x)
                            ASSERT_EQ(half.GetPlane(c)[y * 15 + x], full[c][(2 * y) * 30 + 2 * x])
                                << "mode " << int(mode) << " plane " << c << " at " << x << "," << y;
            }
            // A layer without transparency reads opaque.
            CQNF_Image back;
            ASSERT_TRUE(back.Create(10, 4, qnimg::ModeRGBA));
            ASSERT_TRUE(p.PS_GetScaledLayerRGB(1, &back, whole));
            EXPECT_EQ(back.GetPlane(3)[17], 255);
            // No image, an empty rectangle or an unknown layer.
            EXPECT_FALSE(p.PS_GetScaledLayerRGB(2, nullptr, whole));
            EXPECT_FALSE(p.PS_GetScaledLayerRGB(2, &back, qntRECT_s{5, 5, 5, 9}));
            EXPECT_FALSE(p.PS_GetScaledLayerRGB(99, &back, whole));
        });
        EXPECT_TRUE(host.Violations().empty()) << host.Violations().front();
    }
}

TEST(HostLayers, NoSuitesMeansNoLayers)
{
    PluginHarness h;
    HostSettings s;
    s.offerSuites = false;
    StandInHost host(Layered(ColorMode::RGB), s);
    InStart(h, host, [&](CPluginMain& p) {
        EXPECT_EQ(p.GetPluginDataPtr()->layersAvailable, 0);
        EXPECT_FALSE(p.PS_FillRealLayerBounds(qnNullRect, 1));
        EXPECT_EQ(p.GetEngine().m_bLayerAccess, 0);
    });
}

TEST(HostColours, ColourLinesUseTheHostOrThePlainRules)
{
    for (bool services : {true, false}) {
        PluginHarness h;
        HostSettings s;
        s.offerColorServices = services;
        StandInHost host(Document(ColorMode::RGB, 2, 2, false), s);
        InStart(h, host, [&](CPluginMain& p) {
            uint8_t line[8] = {0, 30, 60, 91, 0, 0, 0, 0};
            ASSERT_TRUE(p.Fill8ByteColorLineFromRGB(line));
            EXPECT_EQ(line[0], 60);
            // Plane form: 255 is no ink, on both roads.
            EXPECT_EQ(line[4], 30);
            EXPECT_EQ(line[6], 91);
            EXPECT_EQ(line[7], 255);
        });
    }
}

TEST(HostColours, PickingAColourAndCancelling)
{
    PluginHarness h;
    HostSettings s;
    s.pickCancels = false;
    s.pick[0] = 1;
    s.pick[1] = 2;
    s.pick[2] = 3;
    StandInHost host(Document(ColorMode::RGB, 2, 2, false), s);
    InStart(h, host, [&](CPluginMain& p) {
        qntRGBA8 c{9, 9, 9, 0};
        ASSERT_TRUE(p.SelectColor_RGB(&c));
        EXPECT_EQ(c.r, 1);
        EXPECT_EQ(c.b, 3);
        EXPECT_EQ(c.a, 255);
        uint8_t line[8] = {};
        ASSERT_TRUE(p.SelectColor_ALL(line));
        EXPECT_EQ(line[0], 2);
        EXPECT_EQ(line[5], 2);
        EXPECT_FALSE(p.SelectColor_RGB(nullptr));
    });
    HostSettings cancel;
    StandInHost cancelling(Document(ColorMode::RGB, 2, 2, false), cancel);
    InStart(h, cancelling, [&](CPluginMain& p) {
        uint8_t line[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        EXPECT_FALSE(p.SelectColor_ALL(line));
        EXPECT_EQ(line[1], 2);
    });
}

TEST(HostColours, WithoutTheHostsPickerTheDesktopsOpensOnSixteenBitChannels)
{
    PluginHarness h;
    HostSettings s;
    s.offerColorServices = false;
    StandInHost host(Document(ColorMode::RGB, 2, 2, false), s);
    std::vector<std::array<uint16_t, 3>> offered;
    std::optional<std::array<uint16_t, 3>> answer;
    InStart(h, host, [&](CPluginMain& p) {
        // No chooser installed (no window runs): a cancel that changes nothing.
        uint8_t line[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        EXPECT_FALSE(p.SelectColor_ALL(line));
        EXPECT_EQ(line[2], 3);
        CQNF_8BFPluginVirtual::SetSystemColorPicker([&](uint16_t rgb[3]) {
            offered.push_back({rgb[0], rgb[1], rgb[2]});
            if (answer)
                std::copy(answer->begin(), answer->end(), rgb);
            return answer.has_value();
        });
        answer = std::array<uint16_t, 3>{65535, 32896, 0};  // 255, 128, 0 widened
        ASSERT_TRUE(p.SelectColor_ALL(line));
        EXPECT_EQ(line[1], 255);
        EXPECT_EQ(line[2], 128);
        EXPECT_EQ(line[3], 0);
        answer = std::array<uint16_t, 3>{65534, 256, 257};  // narrowed down, never up
        qntRGBA8 c{};
        ASSERT_TRUE(p.SelectColor_RGB(&c));
        EXPECT_EQ(int(c.r), 254);
        EXPECT_EQ(int(c.g), 0);
        EXPECT_EQ(int(c.b), 1);
        answer.reset();
        uint8_t kept[8] = {9, 10, 11, 12, 0, 0, 0, 0};
        EXPECT_FALSE(p.SelectColor_ALL(kept));
        EXPECT_EQ(kept[1], 10);
        CQNF_8BFPluginVirtual::SetSystemColorPicker(nullptr);
    });
    // Each chooser opened on the colour it was given, 8 bits widened x 257.
    ASSERT_EQ(offered.size(), 3u);
    EXPECT_EQ(offered[0], (std::array<uint16_t, 3>{514, 771, 1028}));
    EXPECT_EQ(offered[1], (std::array<uint16_t, 3>{0, 0, 0}));
    EXPECT_EQ(offered[2], (std::array<uint16_t, 3>{2570, 2827, 3084}));
}

TEST(HostColours, ArraysAndHostColoursToRgb)
{
    for (ColorMode mode : {ColorMode::Gray, ColorMode::RGB, ColorMode::CMYK}) {
        PluginHarness h;
        HostDocument doc = Document(mode, 2, 2, false);
        doc.foreground[0] = 200;
        doc.foreground[1] = 100;
        doc.foreground[2] = 50;
        StandInHost host(std::move(doc), HostSettings{});
        InStart(h, host, [&](CPluginMain& p) {
            uint8_t a[3] = {10, 200, 255}, b[3] = {20, 100, 255}, c[3] = {30, 50, 255}, k[3] = {255, 128, 0};
            uint8_t* in[4] = {a, b, c, k};
            uint8_t r[3], g[3], bl[3];
            uint8_t* out[3] = {r, g, bl};
            ASSERT_TRUE(p.ConvertArrayToRGB_Internal(in, out, 3));
            if (mode == ColorMode::Gray) {
                EXPECT_EQ(bl[1], 200);
            } else if (mode == ColorMode::RGB) {
                EXPECT_EQ(g[1], 100);
            } else {
                EXPECT_EQ(r[0], 10 * 255 / 256);
                EXPECT_EQ(r[1], 200 * 128 / 256);
                EXPECT_EQ(r[2], 0);
            }
            ASSERT_TRUE(p.ConvertArrayToRGB(in, out, 3));
            qntRGBA8 fg{};
            ASSERT_TRUE(p.GetForeColor_RGB(&fg));
            if (mode == ColorMode::Gray)
                EXPECT_EQ(fg.r, (200 + 100 + 50) / 3);
            else
                EXPECT_EQ(fg.g, 100);
        });
    }
}

TEST(HostServices, OnlyWebAndMailLinksAreOpened)
{
    PluginHarness h;
    std::vector<std::string> opened;
    CQNF_Launcher::SetHandler([&](const std::string& t) {
        opened.push_back(t);
        return true;
    });
    CPluginMain& p = *h.plugin;
    p.SetPluginFolder(h.folder);
    EXPECT_TRUE(p.LaunchURL("https://example.org/help"));
    EXPECT_TRUE(p.LaunchURL("mailto:someone@example.org"));
    EXPECT_FALSE(p.LaunchURL("file:///etc/passwd"));
    EXPECT_FALSE(p.LaunchURL("/usr/bin/xterm"));
    EXPECT_FALSE(p.LaunchURL(nullptr));
    EXPECT_FALSE(p.LaunchFile("Quorvin Tessolo 3.1 Help.pdf"));  // not in the folder
    EXPECT_FALSE(p.LaunchFile("../outside"));
    CQNF_Launcher::SetHandler(nullptr);
    EXPECT_EQ(opened.size(), 2u);
}

}  // namespace

namespace {

TEST(HostLayers, ANewStartForgetsTheLayersOfTheLastDocument)
{
    PluginHarness h;
    StandInHost first(Layered(ColorMode::RGB), HostSettings{});
    InStart(h, first, [&](CPluginMain& p) { ASSERT_TRUE(p.PS_FillRealLayerBounds(qnNullRect, 0)); });
    StandInHost second(Document(ColorMode::RGB, 30, 12, false), HostSettings{});
    InStart(h, second, [&](CPluginMain& p) {
        uint32_t n = 0;
        EXPECT_EQ(p.GetLayerTable(n), nullptr);
        ASSERT_TRUE(p.PS_FillRealLayerBounds(qnNullRect, 0));
        p.GetLayerTable(n);
        EXPECT_EQ(n, 2u);  // its one layer and the composite
    });
}

}  // namespace
