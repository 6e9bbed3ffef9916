// The effect windows built from the shipped resource file on the headless
// platform, over a real engine split: opening, the live path through the
// controls, the light zone, OK and Cancel. With TESSOLO_FX_SNAP set to a
// folder, each window is also saved there as a PNG.
#include "effects/FxNumbers.h"
#include "effects/FxStatusTips.h"
#include "effects/WndFX_Windows.h"
#include "fx_window_fixture.h"
#include "platform/Headless.h"
#include "ui/App.h"
#include "ui/CtrlEditLine.h"
#include "ui/CtrlSlider.h"
#include "ui/HeadlessPicture.h"
#include "ui/KeyCodes.h"
#include "ui/PlatformPopupMenu.h"
#include "ui/Toolkit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>

using namespace fxtest;

namespace {

// The nine windows and their resource names.
const struct {
    FxWindowKind kind;
    const char* name;
} kAllKinds[] = {{FxWindowKind::BrightnessContrast, "FXbc"},
                 {FxWindowKind::Blur, "FXblur"},
                 {FxWindowKind::Opacity, "FXopac"},
                 {FxWindowKind::Bevel, "FXbevel"},
                 {FxWindowKind::MotionBlur, "FXmblur"},
                 {FxWindowKind::ColorOverlay, "FXcovr"},
                 {FxWindowKind::Stroke, "FXstroke"},
                 {FxWindowKind::HSL, "FXhsl"},
                 {FxWindowKind::ImageOverlay, "FXiovr"}};

struct Session {
    Puzzle puzzle;
    FakeWindowMain main{puzzle};
    std::unique_ptr<CWndFX_Base> window;
};

TEST(FxWindows, EveryWindowOpensFromItsResourceAndCancelLeavesNoTrace)
{
    Desk d;
    REQUIRE_DESK(d);
    for (const auto& k : kAllKinds) {
        Session s;
        const std::vector<uint8_t> pixels = s.puzzle.Rendered();
        const std::vector<uint8_t> records = s.puzzle.Records();
        ASSERT_TRUE(FxOpenWindow(k.kind, s.main, s.window)) << k.name << " error " << s.window->GetError();
        EXPECT_EQ(s.main.entered, 1);
        EXPECT_EQ(s.main.renders, 0) << k.name;  // nothing before the undo snapshot
        EXPECT_STREQ(s.window->Prefix(), k.name);
        d.tk.PumpFor(200);
        EXPECT_EQ(s.main.renders, 1) << k.name;  // the opening change, 50 ms later
        d.Snap(k.name);
        d.Key(s.window.get(), qnkey::vk::Escape);
        d.tk.PumpFor(10);
        EXPECT_TRUE(s.window->Session().Closed()) << k.name;
        EXPECT_EQ(s.puzzle.Rendered(), pixels) << k.name;
        EXPECT_EQ(s.puzzle.Records(), records) << k.name;
        EXPECT_EQ(s.main.undoSteps, 0) << k.name;
        EXPECT_TRUE(s.main.stored.empty());
    }
}

TEST(FxWindows, AWindowWithoutPiecesDoesNotOpen)
{
    Desk d;
    REQUIRE_DESK(d);
    Session s;
    s.puzzle.e.FreeSpliting();
    EXPECT_FALSE(FxOpenWindow(FxWindowKind::Blur, s.main, s.window));
    EXPECT_EQ(s.main.entered, 0);
}

TEST(FxWindows, TypedValuesAreClampedAndApplyOnOk)
{
    Desk d;
    REQUIRE_DESK(d);
    Session s;
    ASSERT_TRUE(FxOpenWindow(FxWindowKind::BrightnessContrast, s.main, s.window));
    auto& w = static_cast<CWndFX_BC&>(*s.window);
    d.tk.PumpFor(100);
    unsigned long edit = CQNF_Window::None;
    for (unsigned long i = 0; i < w.GetControlCount(); ++i)
        if (w.GetControl(i)->GetType() == qnctl::EditLine && std::string(w.GetControl(i)->GetName()) == "FXbc_Bright")
            edit = i;
    ASSERT_NE(edit, CQNF_Window::None);
    auto* line = static_cast<CQNF_CtrlEditLine*>(w.GetControl(edit));
    line->SetText("250", 1);  // typed: the slider follows, the text stays
    EXPECT_EQ(w.Model().value1.brightness, 100);
    EXPECT_STREQ(line->GetText().GetStr(), "250");
    EXPECT_EQ(s.main.renders, 1);  // typing alone does not re-render
    w.OnCtrlLostFocus(edit);
    EXPECT_STREQ(static_cast<CQNF_CtrlEditLine*>(w.GetControl(edit))->GetText().GetStr(), "100");
    d.tk.PumpFor(100);
    EXPECT_EQ(s.puzzle.e.m_pPieces[0].brightnessContrast[CTessolo::FX_APPLIED].brightness, 100);
    const std::vector<uint8_t> previewed = s.puzzle.Rendered();
    d.Key(s.window.get(), qnkey::vk::Return);
    d.tk.PumpFor(10);
    EXPECT_TRUE(w.Session().Closed());
    EXPECT_EQ(s.puzzle.Rendered(), previewed);
    EXPECT_EQ(s.main.undoSteps, 1);
    ASSERT_EQ(s.main.stored.count("FXbc"), 1u);
    EXPECT_EQ(s.main.stored["FXbc"].second, 1);
}

TEST(FxWindows, DraggingTheLightBallAndTypingItsFieldsStayInStep)
{
    Desk d;
    REQUIRE_DESK(d);
    Session s;
    ASSERT_TRUE(FxOpenWindow(FxWindowKind::Bevel, s.main, s.window));
    auto& w = static_cast<CWndFX_Bevel&>(*s.window);
    d.tk.PumpFor(100);
    // The default light shows as 122 degrees at 27.
    EXPECT_STREQ(w.AngleEdit()->GetText().GetStr(), "122");
    EXPECT_STREQ(w.AltitudeEdit()->GetText().GetStr(), "27");
    d.Snap("FXbevel-before");

    // Drag the ball to the right edge of the disc, half way up.
    const CFxLightZone& z = w.Zone();
    const int32_t cx = int32_t(z.CentreX()), cy = int32_t(z.CentreY());
    d.At(w, cx - 10, cy);
    d.hp.Press();
    d.tk.PumpFor(5);
    d.At(w, cx + int32_t(z.Radius() / 2), cy);
    d.hp.Release();
    d.tk.PumpFor(100);
    const auto& light = w.Model().value1;
    EXPECT_GT(light.lightX, 0.4f);
    EXPECT_NEAR(light.lightY, 0.0f, 0.05f);
    EXPECT_STREQ(w.AngleEdit()->GetText().GetStr(), "0");
    EXPECT_NEAR(std::atoi(w.AltitudeEdit()->GetText().GetStr()), 45, 1);  // half a radius out
    EXPECT_LE(std::abs(w.ThumbPoint().x - (cx + int32_t(z.Radius() / 2))), 1);
    // The pieces took the new light after the release.
    EXPECT_EQ(s.puzzle.e.m_pPieces[0].bevel[CTessolo::FX_APPLIED].lightX, light.lightX);

    // Typing an angle moves the ball to the top of the disc.
    w.AngleEdit()->SetText("90", 1);
    EXPECT_LE(std::abs(w.ThumbPoint().x - cx), 1);
    EXPECT_LT(w.ThumbPoint().y, cy - 5);
    EXPECT_NEAR(w.Model().value2.lightY, w.Model().value1.lightY, 1e-6);  // the fields set both values
    d.Snap("FXbevel-after");
    w.OnCtrlLostFocus(w.AngleEdit()->GetControlID());  // leaving the field applies it
    d.tk.PumpFor(100);

    // A press far outside the disc is not the zone's.
    EXPECT_EQ(w.OnLMouseDown(short(cx + 60), short(cy + 60), 0), 0);
    d.Key(s.window.get(), qnkey::vk::Return);
    d.tk.PumpFor(10);
    EXPECT_EQ(s.main.undoSteps, 1);
    EXPECT_GT(s.puzzle.e.m_pPieces[3].bevel[CTessolo::FX_APPLIED].lightY, 0.4f);
}

// The light zone as the user sees it: a disc whose rim lies at the radius the
// conversions use, so a light on the horizon puts the ball on the rim.
TEST(FxWindows, TheLightZoneIsADiscWhoseRimIsTheHorizon)
{
    Desk d;
    REQUIRE_DESK(d);
    // The pixels of a bevel window opened over pieces lit from `light`.
    struct Opened {
        CFxLightZone zone{qntRECT_s{0, 0, 0, 0}};
        qntRECT_s rect{};
        std::vector<uint32_t> pixels;
        uint16_t width = 0, height = 0;
        // The colour at an offset from the disc's centre.
        uint32_t At(int32_t dx, int32_t dy) const
        {
            const int32_t x = int32_t(zone.CentreX()) + dx, y = int32_t(zone.CentreY()) + dy;
            if (x < 0 || y < 0 || x >= width || y >= height)
                return 0xFFFFFFFFu;
            return pixels[size_t(y) * width + size_t(x)] & 0xFFFFFFu;
        }
        uint32_t AtWindow(int32_t x, int32_t y) const { return At(x - int32_t(zone.CentreX()), y - int32_t(zone.CentreY())); }
    };
    auto open = [&](qnt3D_VECTOR light, const char* snap) {
        Opened o;
        Session s;
        for (uint32_t i = 0; i < s.puzzle.e.m_nPieces; ++i) {
            auto& b = s.puzzle.e.m_pPieces[i].bevel[CTessolo::FX_APPLIED];
            b.lightX = light.x, b.lightY = light.y, b.lightZ = light.z;
        }
        EXPECT_TRUE(FxOpenWindow(FxWindowKind::Bevel, s.main, s.window));
        if (!s.window)
            return o;
        auto& w = static_cast<CWndFX_Bevel&>(*s.window);
        d.tk.PumpFor(100);
        d.Snap(snap);
        o.zone = w.Zone();
        EXPECT_TRUE(w.GetResourceRect("FXbevel_LightZone", o.rect));
        if (const auto* fb = d.hp.Framebuffer(w.GetWindowHandle(), o.width, o.height))
            o.pixels = *fb;
        d.Key(s.window.get(), qnkey::vk::Escape);
        d.tk.PumpFor(10);
        return o;
    };

    // The ball off both axes: the middle row and column show the disc alone.
    const float s = std::sqrt(0.5f);
    const Opened plain = open(qnt3D_VECTOR{s, s, 0}, "FXbevel-disc");
    ASSERT_FALSE(plain.pixels.empty());
    const double R = plain.zone.Radius();
    ASSERT_NE(R, std::floor(R)) << "the rim pixels below assume a radius between two pixel centres";
    const int32_t in = int32_t(std::floor(R)), out = in + 1;  // the pixels either side of the radius
    // The corners of the zone's rectangle lie outside the disc: the window's
    // panel shows there, as it does just beyond the rim.
    const uint32_t panel = plain.AtWindow(plain.rect.left, plain.rect.top);
    // Colours as far apart as their most different channel; the rim's
    // smoothing leaves its pixels a few levels apart.
    auto apart = [](uint32_t a, uint32_t b) {
        int most = 0;
        for (int shift : {0, 8, 16})
            most = std::max(most, std::abs(int((a >> shift) & 255) - int((b >> shift) & 255)));
        return most;
    };
    const uint32_t rim = plain.At(out, 0);
    EXPECT_GT(apart(rim, panel), 24);
    const struct {
        int32_t x, y;
    } axes[] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
    for (const auto& a : axes) {
        EXPECT_LE(apart(plain.At(a.x * in, a.y * in), rim), 4) << a.x << "," << a.y;
        EXPECT_LE(apart(plain.At(a.x * out, a.y * out), rim), 4) << a.x << "," << a.y;
        for (int32_t k = out + 2; k <= out + 4; ++k)
            EXPECT_EQ(plain.At(a.x * k, a.y * k), panel) << a.x << "," << a.y << " at " << k;
        for (int32_t k = 0; k <= in - 2; ++k) {
            const uint32_t p = plain.At(a.x * k, a.y * k);
            EXPECT_TRUE(apart(p, panel) > 4 && apart(p, rim) > 24) << a.x << "," << a.y << " at " << k;
        }
    }
    const qntRECT_s& z = plain.rect;
    for (const qntPOS c : {qntPOS{z.left, z.top}, qntPOS{z.right - 1, z.top}, qntPOS{z.left, z.bottom - 1},
                           qntPOS{z.right - 1, z.bottom - 1}})
        EXPECT_EQ(plain.AtWindow(c.x, c.y), panel)
            << "corner " << c.x << "," << c.y;

    // A light on the horizon (altitude 0) puts the ball on the rim: along
    // the light's axis, the pixels the ball changed are centred on the radius.
    const struct {
        qnt3D_VECTOR light;
        int32_t x, y;  // the ball's side on the screen
    } horizon[] = {{{1, 0, 0}, 1, 0}, {{-1, 0, 0}, -1, 0}, {{0, 1, 0}, 0, -1}, {{0, -1, 0}, 0, 1}};
    for (const auto& h : horizon) {
        const Opened lit = open(h.light, "FXbevel-horizon");
        ASSERT_FALSE(lit.pixels.empty());
        int32_t first = -1, last = -1;
        for (int32_t k = 0; k <= out + 12; ++k)
            if (lit.At(h.x * k, h.y * k) != plain.At(h.x * k, h.y * k)) {
                if (first < 0)
                    first = k;
                last = k;
            }
        ASSERT_GE(first, 0) << "no ball drawn on " << h.x << "," << h.y;
        EXPECT_GE(last - first, 10) << h.x << "," << h.y;
        EXPECT_LE(std::fabs((first + last) / 2.0 - R), 1.0) << h.x << "," << h.y << ": " << first << ".." << last;
    }
}

TEST(FxWindows, AutomaticAdjustmentGradesAlongTheChosenDirection)
{
    Desk d;
    REQUIRE_DESK(d);
    Session s;
    ASSERT_TRUE(FxOpenWindow(FxWindowKind::BrightnessContrast, s.main, s.window));
    auto& w = static_cast<CWndFX_BC&>(*s.window);
    d.tk.PumpFor(100);
    auto* second = static_cast<CQNF_CtrlSlider*>(Find(w, "FXbc_Bright2", qnctl::Slider));
    ASSERT_NE(second, nullptr);
    EXPECT_FALSE(second->IsEnabled());
    Find(w, "FXbc_AAdjust", qnctl::CheckBox)->SetCheck(1, 1);
    EXPECT_TRUE(second->IsEnabled());
    Find(w, "FXbc_AContrast", qnctl::CheckBox)->SetCheck(0, 1);
    Find(w, "FXbc_AL", qnctl::RadioButton)->SetCheck(1, 1);
    second->SetValue(180, 1);  // value 2: brightness 80
    EXPECT_EQ(w.Session().Mode(), 1);
    d.tk.PumpFor(100);
    d.Snap("FXbc-auto");
    // Value 2 lands on the left, value 1 (0) on the right; contrast stays each piece's own.
    const CTessolo& e = s.puzzle.e;
    for (uint32_t i = 0; i < e.m_nPieces; ++i) {
        const auto& bc = e.m_pPieces[i].brightnessContrast[CTessolo::FX_APPLIED];
        const int32_t cx = (e.m_pPieces[i].left + e.m_pPieces[i].right) / 2;
        EXPECT_EQ(bc.on, 1);
        EXPECT_EQ(bc.contrast, 0);
        if (cx < s.puzzle.w / 4) {
            EXPECT_EQ(bc.brightness, 80);
        } else if (cx > s.puzzle.w * 3 / 4) {
            EXPECT_EQ(bc.brightness, 0);
        } else {
            EXPECT_GT(bc.brightness, 0);
            EXPECT_LT(bc.brightness, 80);
        }
    }
    // Reset goes back to the pieces' own values with automatic adjustment off.
    static_cast<CWndFX_Base&>(w).OnCtrlMessage(qnmsg::Clicked, Find(w, "FXbc_Reset", qnctl::Button)->GetControlID(),
                                               const_cast<char*>("FXbc_Reset"), qnctl::Button, nullptr);
    EXPECT_FALSE(second->IsEnabled());
    EXPECT_EQ(w.Session().Mode(), 0);
    EXPECT_FALSE(w.Session().AutoAdjust());
}

TEST(FxWindows, ReleasingTheOpacitySliderRerendersAtOnce)
{
    Desk d;
    REQUIRE_DESK(d);
    Session s;
    ASSERT_TRUE(FxOpenWindow(FxWindowKind::Opacity, s.main, s.window));
    d.tk.PumpFor(100);
    const int before = s.main.renders;
    auto* slider = static_cast<CQNF_CtrlSlider*>(Find(*s.window, "FXopac_Opacity", qnctl::Slider));
    slider->SetValue(50, 1);
    EXPECT_EQ(s.main.renders, before + 1);
    EXPECT_EQ(s.puzzle.e.m_pPieces[0].opacity[CTessolo::FX_APPLIED].opacity, 127);
}

TEST(FxWindows, SwatchesOpenTheColourPickerAndShowTheRecordForTheDocumentMode)
{
    Desk d;
    REQUIRE_DESK(d);
    Session s;
    s.main.colorMode = 0;  // Grayscale: swatches show the grey byte
    ASSERT_TRUE(FxOpenWindow(FxWindowKind::Bevel, s.main, s.window));
    auto& w = static_cast<CWndFX_Bevel&>(*s.window);
    d.tk.PumpFor(100);
    qntRECT_s hl{};
    ASSERT_TRUE(w.GetResourceRect("FXbevel_HLColor", hl));
    const auto before = w.Model().value1.highlightColor;
    EXPECT_EQ(w.OnLMouseDown(short(hl.left + 2), short(hl.top + 2), 0), 1);  // cancelled: consumed, unchanged
    EXPECT_EQ(std::memcmp(&before, &w.Model().value1.highlightColor, 8), 0);
    s.main.pickAnswer = true;
    s.main.picked[0] = 30, s.main.picked[1] = 60, s.main.picked[2] = 90;
    EXPECT_EQ(w.OnLMouseDown(short(hl.left + 2), short(hl.top + 2), 0), 1);
    EXPECT_EQ(w.Model().value1.highlightColor.blue, 90);
    EXPECT_EQ(w.Model().value2.highlightColor.blue, 255);  // value 2's colours are not touched
    d.tk.PumpFor(100);
    uint16_t fw = 0, fh = 0;
    const std::vector<uint32_t>* fb = d.hp.Framebuffer(w.GetWindowHandle(), fw, fh);
    ASSERT_NE(fb, nullptr);
    EXPECT_EQ((*fb)[size_t(hl.top + 5) * fw + size_t(hl.left + 5)] & 0xFFFFFF, 0x3C3C3Cu);  // grey 60
    EXPECT_EQ(s.puzzle.e.m_pPieces[0].bevel[CTessolo::FX_APPLIED].highlightColor.gray, 60);
}

TEST(FxWindows, OnePieceAloneCannotBeGraded)
{
    Desk d;
    REQUIRE_DESK(d);
    Session s;
    s.puzzle.e.m_pPieces[5].selected = 1;
    ASSERT_TRUE(FxOpenWindow(FxWindowKind::Blur, s.main, s.window));
    EXPECT_EQ(s.window->Session().Pieces().size(), 1u);
    EXPECT_FALSE(Find(*s.window, "FXblur_AAdjust", qnctl::CheckBox)->IsEnabled());
}

TEST(FxWindows, StatusTipsFollowTheChainFirstMatchWinning)
{
    struct Case {
        const char* name;
        uint8_t kind;
        const char* starts;
    } cases[] = {
        {"FXbevel_HLOpacity", qnctl::EditLine, "Click and enter"},  // an edit line before its own name
        {"FXbevel_HLOpacity", qnctl::Slider, "Drag the slider to specify the desired value of the \nopacity of the h"},
        {"FXbc_Preview", qnctl::Button, "Click to preview"},
        {"FXbc_Preview", qnctl::CheckBox, "Select to see"},
        {"fxbc_cancel", qnctl::Button, "Click to close"},
        {"FXmblur_Dir1", qnctl::Slider, "Rotate the slider"},
        {"FXmblur_Dir1", qnctl::EditLine, "Click and enter"},
        {"Zone_Bevel_3DLight", 255, "Drag the small ball"},
        {"FXbc_AL", qnctl::RadioButton, "Click to set the direction"},
        {"FXbc_ABrightness", qnctl::CheckBox, "Select, if you want the values"},
        {"FXbc_Bright1", qnctl::Slider, "Drag the slider(s)"},
        {"", 128, "Use the controls"},
        {nullptr, 255, "Use the controls"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(std::string(FxStatusTip(c.name, c.kind)).rfind(c.starts, 0), 0u) << (c.name ? c.name : "(null)");
}

TEST(FxWindows, ViewShortcutsReachTheMainWindow)
{
    Desk d;
    REQUIRE_DESK(d);
    Session s;
    ASSERT_TRUE(FxOpenWindow(FxWindowKind::MotionBlur, s.main, s.window));
    for (unsigned long cmd : {1ul, 8ul, 12ul, 17ul})
        EXPECT_EQ(s.window->OnCtrlMessage(qnmsg::Shortcut, cmd, nullptr, 0, nullptr), 1);
    EXPECT_EQ(s.window->OnCtrlMessage(qnmsg::Shortcut, 3, nullptr, 0, nullptr), 0);
    EXPECT_EQ(s.main.forwarded, 4);
}

}  // namespace

namespace {

// The pixel the window shows at a window point, as 0xRRGGBB.
uint32_t Shown(Desk& d, CQNF_Window& w, int32_t x, int32_t y)
{
    uint16_t fw = 0, fh = 0;
    const std::vector<uint32_t>* fb = d.hp.Framebuffer(w.GetWindowHandle(), fw, fh);
    if (!fb || x < 0 || y < 0 || x >= fw || y >= fh)
        return 0xFFFFFFFFu;
    return (*fb)[size_t(y) * fw + size_t(x)] & 0xFFFFFF;
}

void Click(CQNF_Window& w, const char* name, uint8_t kind, unsigned char check)
{
    CQNF_Control* c = Find(w, name, kind);
    ASSERT_NE(c, nullptr) << name;
    c->SetCheck(check, 1);
}

}  // namespace

// "FXhsl_AL" is both the lightness box and the direction pad's left radio:
// the box changes what is graded and not the direction, the radio the
// direction and not what is graded.
TEST(FxWindows, TheLightnessBoxAndTheLeftRadioAreToldApartByType)
{
    Desk d;
    REQUIRE_DESK(d);
    Session s;
    ASSERT_TRUE(FxOpenWindow(FxWindowKind::HSL, s.main, s.window));
    auto& w = static_cast<CWndFX_HSL&>(*s.window);
    d.tk.PumpFor(100);
    Click(w, "FXhsl_AAdjust", qnctl::CheckBox, 1);
    auto* box = Find(w, "FXhsl_AL", qnctl::CheckBox);
    auto* radio = Find(w, "FXhsl_AL", qnctl::RadioButton);
    auto* l2 = Find(w, "FXhsl_L2", qnctl::Slider);
    ASSERT_TRUE(box && radio && l2);
    EXPECT_TRUE(box->GetCheck());
    EXPECT_TRUE(l2->IsEnabled());

    box->SetCheck(0, 1);
    EXPECT_FALSE(w.Model().gradeLightness);
    EXPECT_TRUE(w.Model().gradeHue && w.Model().gradeSaturation);
    EXPECT_FALSE(l2->IsEnabled());
    EXPECT_EQ(w.Session().GetAAMode(), FxDirection::Random);
    EXPECT_FALSE(radio->GetCheck());

    radio->SetCheck(1, 1);
    EXPECT_EQ(w.Session().GetAAMode(), FxDirection::Left);
    EXPECT_FALSE(w.Model().gradeLightness);
    EXPECT_FALSE(box->GetCheck());
    EXPECT_FALSE(l2->IsEnabled());

    // The graded saturation lands on the pieces along the left direction,
    // each piece keeping its own lightness.
    static_cast<CQNF_CtrlSlider*>(Find(w, "FXhsl_S2", qnctl::Slider))->SetValue(200, 1);  // value 2: +100
    static_cast<CQNF_CtrlSlider*>(Find(w, "FXhsl_L1", qnctl::Slider))->SetValue(150, 1);  // value 1: +50, not graded
    d.tk.PumpFor(100);
    const CTessolo& e = s.puzzle.e;
    for (uint32_t i = 0; i < e.m_nPieces; ++i) {
        const auto& h = e.m_pPieces[i].hsl[CTessolo::FX_APPLIED];
        EXPECT_EQ(h.on, 1);
        EXPECT_EQ(h.lightness, 0) << i;
        if ((e.m_pPieces[i].left + e.m_pPieces[i].right) / 2 < s.puzzle.w / 4) {
            EXPECT_EQ(h.saturation, 100) << i;
        }
    }
}

// Typed values are limited to the parameter's range when the edit line
// loses the focus.
TEST(FxWindows, ColourStrokeAndHslEditsAreClampedOnLeaving)
{
    Desk d;
    REQUIRE_DESK(d);
    const struct {
        FxWindowKind kind;
        const char* edit;
        const char* typed;
        const char* shown;
    } cases[] = {
        {FxWindowKind::ColorOverlay, "FXcovr_Opacity", "150", "100"},
        {FxWindowKind::ColorOverlay, "FXcovr_Opacity", "-5", "0"},
        {FxWindowKind::Stroke, "FXstroke_Size", "250", "100"},
        {FxWindowKind::Stroke, "FXstroke_Opacity", "x", "0"},
        {FxWindowKind::HSL, "FXhsl_H", "200", "180"},
        {FxWindowKind::HSL, "FXhsl_H", "-200", "-180"},
        {FxWindowKind::HSL, "FXhsl_S", "-150", "-100"},
        {FxWindowKind::HSL, "FXhsl_L", "99999999999", "100"},
    };
    for (const auto& c : cases) {
        Session s;
        ASSERT_TRUE(FxOpenWindow(c.kind, s.main, s.window));
        auto* edit = static_cast<CQNF_CtrlEditLine*>(Find(*s.window, c.edit, qnctl::EditLine));
        ASSERT_NE(edit, nullptr) << c.edit;
        edit->SetText(c.typed, 1);
        s.window->OnCtrlLostFocus(edit->GetControlID());
        EXPECT_STREQ(edit->GetText().GetStr(), c.shown) << c.edit << " " << c.typed;
    }
}

// The swatches: a click on value 2's while automatic adjustment is off is
// not the window's; a cancelled picker changes no colour but still selects
// the clicked value; a picked colour reaches the value and the pieces. A
// Grayscale document shows the record's grey, a CMYK one its red, green and
// blue; the stroke's swatches work the same.
TEST(FxWindows, ColourSwatchesPickAndShowTheRecordForTheDocumentMode)
{
    Desk d;
    REQUIRE_DESK(d);
    const struct {
        FxWindowKind kind;
        uint8_t mode;
    } cases[] = {{FxWindowKind::ColorOverlay, 0}, {FxWindowKind::ColorOverlay, 2}, {FxWindowKind::Stroke, 1}};
    for (const auto& c : cases) {
        Session s;
        s.main.colorMode = c.mode;
        ASSERT_TRUE(FxOpenWindow(c.kind, s.main, s.window));
        auto& w = static_cast<CWndFX_Colored&>(*s.window);
        d.tk.PumpFor(100);
        const qntRECT_s r1 = w.SwatchRect(0), r2 = w.SwatchRect(1);
        EXPECT_EQ(w.OnLMouseDown(short(r2.left + 3), short(r2.top + 3), 0), 0);  // disabled
        Click(w, (std::string(w.Prefix()) + "_AAdjust").c_str(), qnctl::CheckBox, 1);
        const std::vector<uint8_t> records = s.puzzle.Records();
        EXPECT_EQ(w.OnLMouseDown(short(r2.left + 3), short(r2.top + 3), 0), 1);  // cancelled
        EXPECT_EQ(w.Session().Mode(), 1);
        EXPECT_EQ(w.OnLMouseDown(short(r1.right), short(r1.top + 3), 0), 0);  // right edge is outside
        s.main.pickAnswer = true;
        s.main.picked[0] = 30, s.main.picked[1] = 60, s.main.picked[2] = 150;
        EXPECT_EQ(w.OnLMouseDown(short(r1.left + 3), short(r1.top + 3), 0), 1);
        EXPECT_EQ(w.Session().Mode(), 0);
        d.tk.PumpFor(100);
        const uint32_t expected = c.mode == 0 ? 0x505050u : 0x1E3C96u;  // the picker's grey is 80
        EXPECT_EQ(Shown(d, w, (r1.left + r1.right) / 2, (r1.top + r1.bottom) / 2), expected) << int(c.mode);
        EXPECT_NE(s.puzzle.Records(), records);
        const CTessolo& e = s.puzzle.e;
        uint32_t left = 0;
        for (uint32_t i = 1; i < e.m_nPieces; ++i)
            if (e.m_pPieces[i].left + e.m_pPieces[i].right < e.m_pPieces[left].left + e.m_pPieces[left].right)
                left = i;
        const CTessolo::SFX_COLOR& applied = c.kind == FxWindowKind::Stroke
                                                 ? e.m_pPieces[left].stroke[CTessolo::FX_APPLIED].color
                                                 : e.m_pPieces[left].colorOverlay[CTessolo::FX_APPLIED].color;
        d.Snap(c.kind == FxWindowKind::Stroke ? "FXstroke-picked" : c.mode ? "FXcovr-cmyk" : "FXcovr-gray");
        // Value 2 (the engine's red) lands on the right: a leftmost piece
        // got the picked colour whole.
        Click(w, (std::string(w.Prefix()) + "_AR").c_str(), qnctl::RadioButton, 1);
        d.tk.PumpFor(100);
        EXPECT_EQ(applied.gray, 80);
        EXPECT_EQ(applied.blue, 150);
    }
}

// Opening brings the current piece's stored values onto the controls'
// scales: an overlay opacity of 128, which the percent scale cannot show,
// becomes 50 % (127); a damaged record's saturation of -128 becomes the
// nearest end of the range, -100, not the far one.
TEST(FxWindows, OpeningBringsStoredValuesOntoTheControlsScales)
{
    Desk d;
    REQUIRE_DESK(d);
    const struct {
        FxWindowKind kind;
        std::function<void(CTessolo::SPLITEDCELL&)> store;
        const char* edit;
        const char* shown;
        std::function<int(CWndFX_Base&)> value1;
        int expected;
    } cases[] = {
        {FxWindowKind::ColorOverlay, [](CTessolo::SPLITEDCELL& c) { c.colorOverlay[CTessolo::FX_APPLIED].opacity = 128; },
         "FXcovr_Opacity", "50", [](CWndFX_Base& w) { return int(static_cast<CWndFX_ColorOverlay&>(w).Model().value1.opacity); },
         127},
        {FxWindowKind::HSL, [](CTessolo::SPLITEDCELL& c) { c.hsl[CTessolo::FX_APPLIED].saturation = -128; },
         "FXhsl_S", "-100", [](CWndFX_Base& w) { return int(static_cast<CWndFX_HSL&>(w).Model().value1.saturation); },
         -100},
        {FxWindowKind::HSL, [](CTessolo::SPLITEDCELL& c) { c.hsl[CTessolo::FX_APPLIED].hue = -1000; },
         "FXhsl_H", "-180", [](CWndFX_Base& w) { return int(static_cast<CWndFX_HSL&>(w).Model().value1.hue); }, -180},
        {FxWindowKind::Stroke, [](CTessolo::SPLITEDCELL& c) { c.stroke[CTessolo::FX_APPLIED].size = 250; },
         "FXstroke_Size", "100", [](CWndFX_Base& w) { return int(static_cast<CWndFX_Stroke&>(w).Model().value1.size); },
         100},
    };
    for (const auto& c : cases) {
        Session s;
        s.main.current = 2;
        c.store(s.puzzle.e.m_pPieces[2]);
        ASSERT_TRUE(FxOpenWindow(c.kind, s.main, s.window));
        EXPECT_EQ(c.value1(*s.window), c.expected) << c.edit;
        EXPECT_STREQ(static_cast<CQNF_CtrlEditLine*>(Find(*s.window, c.edit, qnctl::EditLine))->GetText().GetStr(),
                     c.shown);
    }
}

TEST(FxWindows, TheHelpButtonOpensItsMenuAtTheSameWindowPointInEveryWindow)
{
    Desk d;
    REQUIRE_DESK(d);
    for (const auto& k : kAllKinds) {
        SCOPED_TRACE(k.name);
        Session s;
        ASSERT_TRUE(FxOpenWindow(k.kind, s.main, s.window));
        CWndFX_Base& w = *s.window;
        d.tk.PumpFor(100);
        CQNF_Control* help = w.GetControl(w.FindControlByName((std::string(k.name) + "_Help").c_str(), qnctl::Button));
        ASSERT_NE(help, nullptr);
        const qntRECT_s b = help->GetRenderRect();
        const plat::Rect wr = d.hp.ContentRect(w.GetWindowHandle());
        // Clicked as the user does; the menu is closed without a choice.
        d.hp.Activate(w.GetWindowHandle());
        d.hp.menuAnswers.push_back(-1);
        const size_t shown = d.hp.menuPoints.size();
        d.hp.Click({wr.left + (b.left + b.right) / 2, wr.top + (b.top + b.bottom) / 2});
        d.tk.PumpFor(10);
        ASSERT_EQ(d.hp.menuPoints.size(), shown + 1);
        // Window point (229, 30), the menu's top 5 pixels below it.
        EXPECT_EQ(d.hp.menuPoints.back(), (plat::Point{wr.left + 229, wr.top + 30 + 5}));
        d.Key(s.window.get(), qnkey::vk::Escape);
        d.tk.PumpFor(10);
    }
}
