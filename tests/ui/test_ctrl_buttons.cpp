// Buttons, check boxes and radio buttons on a headless window: state images
// and their fallbacks, the press and release protocol, periodic repeat on the
// fake clock, menu mode, hover polling and radio groups.
#include "ctrl_window_fixture.h"
#include "ui/CtrlButton.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

using namespace ctrltest;

namespace {

// Each state image is a solid colour whose red byte names it.
qntRGBA8 Tag(uint8_t red) { return qntRGBA8{red, 40, 60, 255}; }

constexpr qntRECT_s kRect{20, 20, 60, 40};

class ButtonTest : public ControlWindowTest {
protected:
    // A skin of the named records (each tagged), with its hot zone.
    void Skin(const std::string& folder, const std::map<std::string, uint8_t>& images, qntRECT_s r = kRect)
    {
        skin.Folder(folder);
        for (const auto& [name, red] : images) {
            skin.Image(folder + ">" + name, r, Tag(red));
        }
        HotZone(skin, folder + ">Data", r);
    }
    static uint8_t Shown(CQNF_CtrlButton* b) { return b->GetControlLayer()->GetPlane(0)[0]; }
    static uint8_t Opacity(CQNF_CtrlButton* b) { return b->GetControlLayer()->GetOpacity(); }
};

}  // namespace

TEST_F(ButtonTest, StatesFallBackToTheImagesThatExist)
{
    Skin("UIResources>Buttons>Bare", {{"Normal", 10}}, {70, 20, 110, 40});
    Skin("UIResources>Buttons>Lit", {{"Normal", 10}, {"Highlighted", 20}});
    Skin("UIResources>Buttons>Full",
         {{"Normal", 10}, {"Highlighted", 20}, {"Pressed", 30}, {"Pressed Mouse Out", 40}, {"Disabled", 50}});
    Skin("UIResources>Check Boxes>Box", {{"Normal On", 11}, {"Normal Off", 12}, {"Highlighted Off", 14},
                                          {"Pressed On", 15}, {"Disabled Off", 20}});
    Skin("UIResources>Radio Buttons>Radio", {{"Normal On", 11}, {"Normal Off", 12}, {"Highlighted", 14}});
    Start();
    struct Case {
        const char* name;
        uint8_t type;
        uint8_t state;
        uint8_t shown;
        uint8_t opacity;
    };
    const Case cases[] = {
        {"Bare", 5, 2, 10, 255},  {"Bare", 5, 4, 10, 255},   {"Bare", 5, 16, 10, 255}, {"Bare", 5, 8, 10, 80},
        {"Lit", 5, 4, 20, 255},   {"Lit", 5, 16, 10, 255},   {"Full", 5, 1, 10, 255},  {"Full", 5, 2, 20, 255},
        {"Full", 5, 4, 30, 255},  {"Full", 5, 16, 40, 255},  {"Full", 5, 8, 50, 255},
        {"Box", 7, 3, 11, 255},   {"Box", 7, 4, 14, 255},    {"Box", 7, 5, 15, 255},   {"Box", 7, 6, 14, 255},
        {"Box", 7, 7, 11, 255},   {"Box", 7, 9, 11, 80},     {"Box", 7, 10, 20, 255},
        {"Radio", 6, 1, 11, 255}, {"Radio", 6, 4, 14, 255},  {"Radio", 6, 8, 14, 255}, {"Radio", 6, 16, 12, 255},
        {"Radio", 6, 32, 11, 80}, {"Radio", 6, 64, 12, 80},
    };
    std::map<std::string, CQNF_CtrlButton*> made;
    for (const Case& c : cases) {
        CQNF_CtrlButton*& b = made[c.name];
        if (!b) {
            b = Add<CQNF_CtrlButton>(c.name, c.type);
            ASSERT_NE(b, nullptr);
        }
        b->SetState(c.state);
        EXPECT_EQ(Shown(b), c.shown) << c.name << " state " << int(c.state);
        EXPECT_EQ(Opacity(b), c.opacity) << c.name << " state " << int(c.state);
    }
    // The window shows the layer: a disabled bare button is the normal image
    // at opacity 80 over the grey background.
    made["Bare"]->Enable(0);
    EXPECT_NEAR(double(Pixel(80, 30) >> 16), (10 * 80 + 128 * 175) / 255.0, 1.0);
    made["Bare"]->SetDisabledOpacity(200);
    made["Bare"]->Enable(1);
    EXPECT_EQ(Opacity(made["Bare"]), 255);
    EXPECT_EQ(Pixel(80, 30), Xrgb(Tag(10)));
    made["Bare"]->Enable(0);
    EXPECT_EQ(Opacity(made["Bare"]), 200);
}

TEST_F(ButtonTest, RequiredRecordsAndTheLayerOverTheUnion)
{
    Skin("UIResources>Buttons>Apart", {{"Normal", 10}});
    skin.Image("UIResources>Buttons>Apart>Highlighted", {100, 50, 110, 60}, Tag(20));
    skin.Folder("UIResources>Buttons>NoZone");
    skin.Image("UIResources>Buttons>NoZone>Normal", kRect, Tag(10));
    skin.Folder("UIResources>Buttons>NoNormal");
    HotZone(skin, "UIResources>Buttons>NoNormal>Data", kRect);
    skin.Image("UIResources>Buttons>NoNormal>Highlighted", kRect, Tag(20));
    Skin("UIResources>Check Boxes>OnOnly", {{"Normal On", 11}});
    Start();
    auto* apart = Add<CQNF_CtrlButton>("Apart", 5);
    ASSERT_NE(apart, nullptr);
    EXPECT_EQ(apart->GetRenderRect(), (qntRECT_s{20, 20, 110, 60}));
    EXPECT_EQ(apart->GetControlLayer()->GetRect(), (qntRECT_s{20, 20, 110, 60}));
    for (const char* name : {"NoZone", "NoNormal"}) {
        EXPECT_EQ(window.AddControl(name, 5), CQNF_Window::None) << name;
        EXPECT_EQ(window.GetError(), qnerr::ControlSkin) << name;
    }
    EXPECT_EQ(window.AddControl("Missing", 5), CQNF_Window::None);
    // A check box without "Normal Off" shows nothing while unchecked.
    auto* box = Add<CQNF_CtrlCheckBox>("OnOnly", 7);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->GetControlLayer()->GetPlane(3)[0], 0);
    box->SetCheck(1, 0);
    EXPECT_EQ(Shown(box), 11);
}

TEST_F(ButtonTest, ClickProtocolWithDragsOutAndBackIn)
{
    Skin("UIResources>Buttons>B", {{"Normal", 10}, {"Highlighted", 20}, {"Pressed", 30}, {"Pressed Mouse Out", 40}});
    Start();
    auto* b = Add<CQNF_CtrlButton>("B", 5);
    ASSERT_NE(b, nullptr);
    MoveTo(30, 30);
    EXPECT_EQ(b->GetState(), 2);
    Press(30, 30);
    EXPECT_EQ(b->GetState(), 4);
    MoveTo(100, 100);
    EXPECT_EQ(b->GetState(), 16);
    Release();
    EXPECT_EQ(b->GetState(), 1);
    EXPECT_TRUE(Take(272).empty());

    Press(30, 30, 2);
    MoveTo(100, 100);
    MoveTo(35, 25);
    EXPECT_EQ(b->GetState(), 4);
    Release(2);
    const auto clicks = Take(272);
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_TRUE(clicks[0].hasData);
    EXPECT_EQ(clicks[0].value, 2u);  // the release's modifiers
    EXPECT_EQ(b->GetState(), 2);
    // The hover poll notices a pointer that left the window without a move.
    hp.MoveMouse({5, 5});
    Pump(60);
    EXPECT_EQ(b->GetState(), 1);
}

TEST_F(ButtonTest, PeriodicButtonWaits550MsThenRepeatsEvery50)
{
    Skin("UIResources>Buttons>Arrow", {{"Normal", 10}});
    Start();
    auto* b = Add<CQNF_CtrlButton>("Arrow", 5);
    ASSERT_NE(b, nullptr);
    b->SetPeriodicMode(1);
    struct Case {
        uint32_t holdMs;
        std::vector<uint32_t> repeatsAt;
    };
    for (const Case& c : {Case{540, {}}, Case{549, {}}, Case{725, {550, 600, 650, 700}}}) {
        Press(30, 30);
        const uint32_t t0 = hp.NowMs();
        for (uint32_t t = 0; t < c.holdMs; t += 5) {
            Pump(std::min<uint32_t>(5, c.holdMs - t));
        }
        Release();
        const auto clicks = Take(272);
        ASSERT_EQ(clicks.size(), c.repeatsAt.size() + 1) << "held " << c.holdMs;
        for (size_t i = 0; i < c.repeatsAt.size(); ++i) {
            EXPECT_FALSE(clicks[i].hasData);
            EXPECT_EQ(clicks[i].timeMs - t0, c.repeatsAt[i]) << i;
        }
        EXPECT_TRUE(clicks.back().hasData);  // the release inside
        Pump(200);
        EXPECT_TRUE(Take(272).empty()) << "repeat stopped";
    }
}

TEST_F(ButtonTest, MenuModeReportsOnThePressOnly)
{
    Skin("UIResources>Buttons>Menu", {{"Normal", 10}});
    Start();
    auto* b = Add<CQNF_CtrlButton>("Menu", 5);
    ASSERT_NE(b, nullptr);
    b->SetMenuMode(1);
    Press(30, 30, 8);
    auto clicks = Take(272);
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_EQ(clicks[0].value, 8u);
    EXPECT_EQ(window.GetCapturedControl(), CQNF_Window::None);
    Release();
    EXPECT_TRUE(Take(272).empty());
}

TEST_F(ButtonTest, CheckBoxTogglesAndReportsItsState)
{
    Skin("UIResources>Check Boxes>Box", {{"Normal On", 11}, {"Normal Off", 12}, {"Disabled On", 19}});
    Start();
    auto* box = Add<CQNF_CtrlCheckBox>("Box", 7);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->GetState(), 2);
    Click(30, 30);
    auto clicks = Take(272);
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_EQ(clicks[0].value, 1u);
    EXPECT_EQ(box->GetCheck(), 1);
    EXPECT_EQ(box->GetState(), 3);
    Click(30, 30);
    EXPECT_EQ(Take(272)[0].value, 0u);
    // A press released outside changes nothing.
    Press(30, 30);
    MoveTo(150, 100);
    EXPECT_EQ(box->GetState(), 8);
    Release();
    EXPECT_TRUE(Take(272).empty());
    EXPECT_EQ(box->GetCheck(), 0);

    box->SetCheck(0, 1);  // unchanged: nothing, even with notify
    EXPECT_TRUE(Take(272).empty());
    box->Enable(0);
    box->SetCheck(1, 1);
    EXPECT_EQ(box->GetState(), 9);
    EXPECT_EQ(Shown(box), 19);
    EXPECT_EQ(Take(272).size(), 1u);
    box->SetCheck(0, 0);
    EXPECT_EQ(box->GetState(), 10);
    EXPECT_EQ(Opacity(box), 80);
}

TEST_F(ButtonTest, RadioGroups)
{
    const qntRECT_s rects[] = {{10, 10, 30, 20}, {10, 30, 30, 40}, {10, 50, 30, 60}, {10, 70, 30, 80}};
    const char* names[] = {"R1", "R2", "R3", "R4"};
    for (int i = 0; i < 4; ++i) {
        const std::string folder = std::string("UIResources>Radio Buttons>") + names[i];
        Skin(folder, {{"Normal On", 11}, {"Normal Off", 12}, {"Disabled Off", 13}}, rects[i]);
        if (i < 3) {
            skin.Number(folder + ">Group ID", uint8_t(i < 2 ? 1 : 2));
        }
    }
    Start();
    CQNF_CtrlRadioButton* r[4];
    for (int i = 0; i < 4; ++i) {
        r[i] = Add<CQNF_CtrlRadioButton>(names[i], 6);
        ASSERT_NE(r[i], nullptr);
    }
    EXPECT_EQ(r[0]->GetGroupID(), 1);
    EXPECT_EQ(r[2]->GetGroupID(), 2);
    EXPECT_EQ(r[3]->GetGroupID(), 0);  // no "Group ID"
    r[0]->SetCheck(1, 0);
    r[2]->SetCheck(1, 0);
    EXPECT_TRUE(Take(272).empty());
    Click(20, 35, 1);
    auto clicks = Take(272);
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_EQ(clicks[0].id, r[1]->GetControlID());
    EXPECT_EQ(clicks[0].value, 1u);
    EXPECT_EQ(r[1]->GetCheck(), 1);
    EXPECT_EQ(r[0]->GetCheck(), 0);
    EXPECT_EQ(r[2]->GetCheck(), 1);  // another group
    // A checked radio button ignores the mouse.
    Click(20, 35);
    EXPECT_TRUE(Take(272).empty());
    EXPECT_EQ(r[1]->GetState(), 1);
    // Checking with notification reports without data and unchecks the group.
    r[0]->SetCheck(1, 1);
    clicks = Take(272);
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_FALSE(clicks[0].hasData);
    EXPECT_EQ(r[1]->GetCheck(), 0);
    // Unchecked while disabled: the disabled image of the new value.
    r[0]->Enable(0);
    EXPECT_EQ(r[0]->GetState(), 32);
    r[0]->SetCheck(0, 0);
    EXPECT_EQ(r[0]->GetState(), 64);
    EXPECT_EQ(Shown(r[0]), 13);
}

TEST_F(ButtonTest, FocusGoesToTheEndOfTheMasterChainOnce)
{
    Skin("UIResources>Buttons>Master", {{"Normal", 10}});
    Skin("UIResources>Buttons>Arrow", {{"Normal", 10}}, {70, 20, 110, 40});
    Start();
    auto* master = Add<CQNF_CtrlButton>("Master", 5);
    auto* arrow = Add<CQNF_CtrlButton>("Arrow", 5);
    ASSERT_TRUE(master && arrow);
    arrow->SetFocusMaster(master);
    arrow->SetFocus(1);  // the master takes it and tells the window
    EXPECT_EQ(window.focusCalls, 1);
    EXPECT_EQ(window.GetFocusedControl(), master->GetControlID());
    master->SetFocus(1);  // recorded already: the flag stays
    EXPECT_EQ(master->GetFocus(), 1);
    const int calls = window.focusCalls;
    arrow->SetFocus(1);  // the chain is focused: nothing more
    arrow->SetFocus(0);
    EXPECT_EQ(window.focusCalls, calls);
    EXPECT_EQ(arrow->GetFocus(), 1);
}
