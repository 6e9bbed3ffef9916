#include "edit_fixture.h"
#include "imaging/Image.h"
#include "ui/CtrlPreview.h"
#include "ui/CtrlStatic.h"

#include <memory>

namespace {

constexpr qntRECT_s kView{20, 20, 180, 120};  // 160 x 100

class PreviewWindow : public edittest::Fixture {
protected:
    // A 400 x 300 picture whose pixel (x, y) is (x mod 256, y mod 256, 77).
    void SetUp() override
    {
        edittest::Fixture::SetUp();
        ASSERT_TRUE(image.Create(400, 300, qnimg::ModeRGBA));
        for (int y = 0; y < 300; ++y)
            for (int x = 0; x < 400; ++x)
                image.SetPixel(uint16_t(x), uint16_t(y), qntRGBA8{uint8_t(x), uint8_t(y), 77, 255});
        skin.Folder("UIResources>Static Images>Nav");
        skin.Folder("UIResources>Static Images>HR");
        skin.Image("UIResources>Static Images>Nav>Normal", {190, 20, 236, 60}, qntRGBA8{9, 9, 9, 255});
        skin.Image("UIResources>Static Images>HR>Normal", {20, 10, 180, 18}, qntRGBA8{0, 0, 0, 255});
    }
    void TearDown() override
    {
        hp.SetKeyState(0);
        edittest::Fixture::TearDown();
    }
    void Bind(bool withExtras)
    {
        Start();
        if (withExtras) {
            nav = Add<CQNF_CtrlStaticImage>("Nav", qnctl::StaticImage);
            ruler = Add<CQNF_CtrlRuler>("HR", qnctl::Ruler);
        }
        ASSERT_NE(window.AddControl_External(&preview), CQNF_Window::None);
        preview.SetData(kView, &image, nullptr, nullptr, ruler, nullptr, nav);
        preview.DoRedraw(1, 0);
        window.messages.clear();
    }
    size_t Count(unsigned short msg) { return Take(msg).size(); }
    static uint32_t Rgb(int x, int y) { return uint32_t(x % 256) << 16 | uint32_t(y % 256) << 8 | 77; }

    CQNF_Image image;
    CQNF_CtrlPreview preview;
    CQNF_CtrlStaticImage* nav = nullptr;
    CQNF_CtrlRuler* ruler = nullptr;
};

}  // namespace

TEST_F(PreviewWindow, SpaceDragPansAndRedrawsQuicklyThenFully)
{
    Bind(false);
    EXPECT_EQ(Pixel(20, 20), Rgb(0, 0));
    hp.SetKeyState(plat::mods::Space);
    Press(100, 70);
    EXPECT_TRUE(preview.IsInPanningMode());
    MoveTo(90, 65);
    EXPECT_EQ(preview.GetOffset(), (qntPOS{10, 5}));
    EXPECT_EQ(Pixel(20, 20), Rgb(10, 5));
    EXPECT_EQ(Pixel(179, 119), Rgb(169, 104));
    MoveTo(-200, -200);  // far past the limits: held at the margin
    EXPECT_EQ(preview.GetOffset(), (qntPOS{290, 250}));
    EXPECT_EQ(Pixel(179, 119), 0xC8C8C8u);  // (449, 349) lies past the image: outer colour 2
    std::vector<ctrltest::Message> quick = Take(qnmsg::PreviewQuickRedraw);
    EXPECT_GE(quick.size(), 3u);
    Release();
    EXPECT_FALSE(preview.IsInPanningMode());
    EXPECT_EQ(Count(qnmsg::PreviewFullRedraw), 1u);

    // Without Space the press is the window's and nothing moves.
    hp.SetKeyState(0);
    Press(100, 70);
    MoveTo(50, 50);
    Release();
    EXPECT_FALSE(preview.IsInPanningMode());
    EXPECT_EQ(preview.GetOffset(), (qntPOS{290, 250}));
}

TEST_F(PreviewWindow, WheelZoomKeepsThePointAndClampsAtTheEnds)
{
    Bind(false);
    preview.SetOffset(100, 50, 1);
    const qntPOS before = preview.GetImageCoorsByPreviewCoors({40, 30});
    MoveTo(60, 50);  // view point (40, 30)
    hp.Wheel(1);
    Pump();
    EXPECT_EQ(preview.GetZoom(), 5);
    EXPECT_EQ(preview.GetImageCoorsByPreviewCoors({80, 50}), before);  // now at the centre
    std::vector<ctrltest::Message> zoom = Take(qnmsg::PreviewZoom);
    ASSERT_EQ(zoom.size(), 1u);
    EXPECT_EQ(zoom[0].value, 5u);
    preview.SetZoom(200, -1, -1, 1, 0);  // past the end: the last level
    EXPECT_EQ(preview.GetZoom(), 8);
    hp.SetKeyState(plat::mods::Space | plat::mods::Command);
    Click(60, 50);  // already at the last level: nothing, but the press is taken
    EXPECT_EQ(preview.GetZoom(), 8);
    window.messages.clear();
    hp.SetKeyState(plat::mods::Space | plat::mods::Option);
    Click(60, 50);
    EXPECT_EQ(preview.GetZoom(), 7);
    // Over the margins the mouse reports -1 and 65535.
    preview.SetZoom(0, -1, -1, 1, 0);
    EXPECT_EQ(preview.GetImageCoorsByPreviewCoors({0, 0}), (qntPOS{-1, -1}));
    EXPECT_EQ(preview.GetImageCoorsByPreviewCoors({159, 99}), (qntPOS{65535, 65535}));
}

TEST_F(PreviewWindow, ReducedLevelsRefineAfterTheViewRests)
{
    Bind(false);
    preview.SetZoom(2, -1, -1, 1, 0);
    EXPECT_EQ(Count(qnmsg::PreviewFullRedraw), 1u);
    Pump(199);
    EXPECT_EQ(Count(qnmsg::PreviewFullRedraw), 0u);
    Pump(1);
    EXPECT_EQ(Count(qnmsg::PreviewFullRedraw), 1u);  // the averaged picture
    Pump(400);
    EXPECT_EQ(Count(qnmsg::PreviewFullRedraw), 0u);
    preview.SetZoom(4, -1, -1, 1, 0);
    Pump(400);
    EXPECT_EQ(Count(qnmsg::PreviewFullRedraw), 1u);  // 1:1 needs no second pass
}

TEST_F(PreviewWindow, NavigatorAndRulerFollowTheView)
{
    Bind(true);
    ASSERT_NE(nav, nullptr);
    ASSERT_NE(ruler, nullptr);
    // Navigator 46 x 40: thumbnail 40 x 30 at (3, 5); the frame of the
    // 160 x 100 view at offset 0 runs from column 3 and row 5.
    EXPECT_EQ(Pixel(193, 50), 0x000000u);
    EXPECT_EQ(Pixel(200, 25), 0x000000u);
    EXPECT_EQ(Pixel(200, 30), 0x808080u);  // clear inside: the window beneath
    MoveTo(50, 60);
    EXPECT_EQ(ruler->GetData()->marker, 30);
    EXPECT_EQ(ruler->GetData()->zoom, 0);
    EXPECT_EQ(Count(qnmsg::PreviewMouse), 1u);
    // A press on the navigator's thumbnail centre centres the view.
    Click(190 + 23, 20 + 20);
    EXPECT_EQ(preview.GetOffset(), (qntPOS{120, 100}));
    EXPECT_EQ(ruler->GetData()->firstCoord, 120);
    MoveTo(230, 150);
    Pump(200);
    EXPECT_EQ(ruler->GetData()->marker, 65535);
}

TEST_F(PreviewWindow, ImageWithoutAlphaIsRefused)
{
    Start();
    ASSERT_NE(window.AddControl_External(&preview), CQNF_Window::None);
    CQNF_Image rgb;
    ASSERT_TRUE(rgb.Create(50, 50, qnimg::ModeRGB));
    const uint32_t before = Pixel(30, 30);
    preview.SetData(kView, &rgb, nullptr, nullptr, nullptr, nullptr, nullptr);
    preview.DoRedraw(1, 0);
    EXPECT_EQ(Pixel(30, 30), before);
    EXPECT_EQ(Count(qnmsg::PreviewFullRedraw), 0u);
}

TEST_F(PreviewWindow, ExternalControlAndWindowMayGoInEitherOrder)
{
    Start();
    {
        // The control goes first (as a member of the window's owner does).
        ctrltest::RecordingWindow other;
        ASSERT_TRUE(other.CreateFromResource("Test", 300, 80, nullptr, 0));
        unsigned long id = CQNF_Window::None;
        {
            CQNF_CtrlPreview inner;
            id = other.AddControl_External(&inner);
            ASSERT_NE(id, CQNF_Window::None);
            inner.SetData(kView, &image, nullptr, nullptr, nullptr, nullptr, nullptr);
        }
        EXPECT_EQ(other.GetControl(id), nullptr);
        Pump(500);  // its timers find no control
        other.Close();
        Pump();
    }
    // The window goes first; the control outlives it.
    auto outer = std::make_unique<CQNF_CtrlPreview>();
    {
        ctrltest::RecordingWindow other;
        ASSERT_TRUE(other.CreateFromResource("Test", 300, 80, nullptr, 0));
        ASSERT_NE(other.AddControl_External(outer.get()), CQNF_Window::None);
        other.Close();
        Pump();
    }
    EXPECT_EQ(outer->GetWindow(), nullptr);
    outer.reset();
}
