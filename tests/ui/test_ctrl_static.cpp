// Static images, rulers, static texts and progress bars on a headless window.
#include "ctrl_window_fixture.h"
#include "ui/CtrlStatic.h"

#include "imaging/Font.h"

#include <gtest/gtest.h>

#include <vector>

using namespace ctrltest;

namespace {

class StaticTest : public ControlWindowTest {
protected:
    // A font of digits, every glyph a solid 3 x 5 block of coverage 200.
    void DigitFont()
    {
        std::vector<uint8_t> rec = {'Q', 'N', 'F', '2', '0', '9'};
        for (int c = '0'; c <= '9'; ++c) {
            rec.insert(rec.end(), {0, 1, uint8_t(-5), 3, 5});
            rec.insert(rec.end(), 15, 200);
        }
        skin.Bytes("UIResources>Fonts>Digits", Zip(rec));
    }
    // A master that records what a static image forwards.
    class Master : public CQNF_Control {
    public:
        unsigned char OnCtrlMessage(unsigned short msg, unsigned long, char*, unsigned char, void* data) override
        {
            events.push_back({msg, *static_cast<qnctl::ImageMouse*>(data)});
            return 1;
        }
        std::vector<std::pair<unsigned short, qnctl::ImageMouse>> events;
    };
};

}  // namespace

TEST_F(StaticTest, StaticTextLettersTakeTheSkinColours)
{
    DigitFont();
    skin.Folder("UIResources>Static Texts>T");
    skin.Image("UIResources>Static Texts>T>Normal", {10, 100, 60, 115}, qntRGBA8{200, 30, 40, 255});
    skin.Folder("UIResources>Static Texts>Bare");
    Start();
    auto* t = Add<CQNF_CtrlStaticText>("T", 3);
    ASSERT_NE(t, nullptr);
    const unsigned long font = window.AddFont("Digits");
    ASSERT_NE(font, CQNF_Window::None);
    t->SetFont(window.GetFont(font));
    t->SetText("42", 2, 3, 12);
    t->Redraw();
    CQNF_TextLayer* layer = t->GetControlLayer();
    EXPECT_EQ(layer->GetImageMode(), qnimg::ModeRGBA);
    // Glyph pixels: the skin's colour at the coverage; elsewhere transparent.
    EXPECT_EQ(layer->GetPixel(2, 3).r, 200);
    EXPECT_EQ(layer->GetPixel(2, 3).a, 200);
    EXPECT_EQ(layer->GetPixel(40, 10).a, 0);
    EXPECT_EQ(layer->GetPixel(40, 10).g, 30);
    EXPECT_EQ(Pixel(40, 110), Xrgb(kGrey));
    EXPECT_NEAR(double(Pixel(12, 103) >> 16), (200 * 200 + 128 * 55) / 255.0, 1.0);
    EXPECT_STREQ(t->GetText().GetStr(), "42");
    t->SetText(nullptr);
    EXPECT_STREQ(t->GetText().GetStr(), "42");
    // Disabled without a Disabled image: the same picture at the disabled opacity.
    t->Enable(0);
    EXPECT_EQ(t->GetOpacity(), 80);
    EXPECT_EQ(layer->GetPixel(2, 3).a, 200);
    // No images at all: the control still exists, with nothing to show.
    auto* bare = Add<CQNF_CtrlStaticText>("Bare", 3);
    ASSERT_NE(bare, nullptr);
    EXPECT_TRUE(qnIsNullRect(bare->GetRenderRect()));
    bare->SetText("1");
}

TEST_F(StaticTest, StaticImagesHitTestAndForwardTheMouseToTheirMaster)
{
    skin.Folder("UIResources>Static Images>I");
    skin.Image("UIResources>Static Images>I>Normal", {20, 20, 60, 50}, qntRGBA8{0, 90, 0, 255});
    skin.Folder("UIResources>Static Images>D");
    skin.Image("UIResources>Static Images>D>Normal", {100, 20, 120, 40}, qntRGBA8{0, 0, 90, 255});
    skin.Image("UIResources>Static Images>D>Disabled", {100, 20, 110, 30}, qntRGBA8{9, 0, 0, 255});
    Start();
    auto* img = Add<CQNF_CtrlStaticImage>("I", 2);
    auto* dis = Add<CQNF_CtrlStaticImage>("D", 2);
    ASSERT_TRUE(img && dis);
    EXPECT_EQ(Pixel(30, 30), 0x005A00u);
    img->Enable(0);
    EXPECT_EQ(img->GetControlLayer()->GetOpacity(), 80);
    EXPECT_TRUE(img->PtInControl(59, 49));  // hit-tests on Normal, enabled or not
    EXPECT_FALSE(img->PtInControl(60, 49));
    dis->Enable(0);
    EXPECT_TRUE(dis->PtInControl(109, 29));
    EXPECT_FALSE(dis->PtInControl(115, 35));  // outside the Disabled rectangle
    EXPECT_EQ(Pixel(105, 25), 0x090000u);
    EXPECT_EQ(dis->GetControlLayer()->GetOpacity(), 255);
    qntRECT_s r{};
    EXPECT_NE(dis->GetStateMemPtr(8, &r), nullptr);
    EXPECT_EQ(r, (qntRECT_s{100, 20, 110, 30}));

    // Without a master the mouse stays with the window.
    EXPECT_EQ(img->OnMouseMove(30, 30, 0), 0);
    Master master;
    img->SetFocusMaster(&master);
    EXPECT_EQ(img->OnLMouseDown(30, 30, 0), 0);  // a master, but forwarding off
    img->EnableMessageForwardingToFocusMaster(1);
    EXPECT_EQ(img->OnLMouseDown(31, 32, 0), 1);
    EXPECT_EQ(img->OnMouseWheel(33, 34, 0, -3), 1);
    ASSERT_EQ(master.events.size(), 2u);
    EXPECT_EQ(master.events[0].first, 337);
    EXPECT_EQ(master.events[0].second.x, 31);
    EXPECT_EQ(master.events[1].first, 339);
    EXPECT_EQ(master.events[1].second.delta, -3);
    EXPECT_TRUE(Take(337).empty());  // never to the window
}

TEST_F(StaticTest, ProgressFillFollowsTheThresholdMap)
{
    const std::string k = "UIResources>Progresses>P";
    skin.Folder(k);
    skin.Image(k + ">Normal", {10, 130, 110, 140}, qntRGBA8{0, 0, 250, 255});
    // A map rising from 0 at the left to 255 at the right.
    skin.Image(k + ">Data", {10, 130, 110, 140},
               [](int x, int) { return qntRGBA8{uint8_t((x - 10) * 255 / 99), 0, 0, 255}; });
    skin.Folder("UIResources>Progresses>NoMap");
    skin.Image("UIResources>Progresses>NoMap>Normal", {10, 130, 110, 140}, kGrey);
    Start();
    auto* p = Add<CQNF_CtrlProgress>("P", 4);
    ASSERT_NE(p, nullptr);
    auto reported = [&] {
        const auto m = Take(256);
        return m.empty() ? uint32_t(999) : m.back().value;
    };
    EXPECT_EQ(reported(), 50u);  // Init's SetValue(50)
    auto filled = [&] {
        int n = 0;
        const uint8_t* a = p->GetControlLayer()->GetPlane(3);
        for (int x = 0; x < 100; ++x) {
            n += a[x] != 0;
        }
        return n;
    };
    struct Case {
        double min, max, value;
        uint32_t percent;
        int filled;
    };
    for (const Case& c : {Case{0, 100, 100, 100, 100}, Case{0, 100, -5, 0, 1}, Case{0, 100, 50, 50, 50},
                          Case{5, 5, 5, 0, 1}, Case{5, 5, 1e9, 0, 1}}) {
        p->SetMinMax(c.min, c.max);
        p->SetValue(c.value);
        EXPECT_EQ(reported(), c.percent) << c.min << ".." << c.max << " " << c.value;
        EXPECT_EQ(filled(), c.filled) << c.min << ".." << c.max << " " << c.value;
    }
    EXPECT_EQ(Pixel(10, 135), 0x0000FAu);
    EXPECT_EQ(Pixel(50, 135), Xrgb(kGrey));
    EXPECT_EQ(window.AddControl("NoMap", 4), CQNF_Window::None);
    EXPECT_EQ(window.GetError(), qnerr::ControlSkin);
}

TEST_F(StaticTest, RulerRedrawsOnlyForANewRecord)
{
    DigitFont();
    skin.Folder("UIResources>Static Images>R");
    skin.Image("UIResources>Static Images>R>Normal", {10, 10, 210, 30}, qntRGBA8{20, 20, 20, 255});
    Start();
    auto* ruler = Add<CQNF_CtrlRuler>("R", 12);
    ASSERT_NE(ruler, nullptr);
    EXPECT_EQ(ruler->GetType(), 12);
    ruler->SetFont(window.GetFont(window.AddFont("Digits")));
    QNF_RulerData d;
    d.marker = 65535;
    ruler->SetData(&d, 1);  // the initial record: nothing to do
    const uint32_t blits = hp.BlitCount();
    d.firstCoord = 100;
    ruler->SetData(&d, 1);
    EXPECT_GT(hp.BlitCount(), blits);
    // Ticks stand at the bottom: a labelled one at 0, a medium one at 10.
    EXPECT_EQ(Pixel(10, 29), 0x141414u);
    EXPECT_EQ(Pixel(20, 23), 0x141414u);
    EXPECT_EQ(Pixel(20, 22), Xrgb(kGrey));
    EXPECT_NEAR(double(Pixel(12, 10) & 0xFF), (20 * 200 + 128 * 55) / 255.0, 1.0);  // the "1" of "100"
    const uint32_t after = hp.BlitCount();
    ruler->SetData(&d, 1);
    EXPECT_EQ(hp.BlitCount(), after);
    EXPECT_EQ(ruler->GetData()->firstCoord, 100);
}
