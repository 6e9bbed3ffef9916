// Event routing: click counting, caption drag, keys and shortcuts, wheel,
// capture and hover, focus, filtering and cursors.
#include "UiTest.h"

#include "ui/KeyCodes.h"

using namespace uitest;
namespace vk = qnkey::vk;

class EventsTest : public UiTest {
protected:
    void SetUp() override
    {
        UiTest::SetUp();
        Resources([](qnui::ResourceWriter& w) {
            Background(w, "W", {0, 0, 200, 100});
            Background(w, "Other", {0, 0, 50, 50});
            w.Image("UIResources>Windows>W>Caption_Active", {0, 0, 200, 10},
                    [](int32_t x, int32_t) { return qntRGBA8{0, 0, 255, uint8_t(x < 100 ? 129 : 128)}; });
            w.Shortcuts({{'S', true, 1, 0, 0, 501}, {224, true, 0, 0, 0, 505}, {'.', true, 1, 0, 0, 506}});
        });
    }
    // Window-local point of W (at 100, 100) to global.
    static plat::Point G(int32_t x, int32_t y) { return {100 + x, 100 + y}; }
};

TEST_F(EventsTest, ClickCounting)
{
    RecWindow w;
    OpenPlain(w);
    struct Step {
        int32_t x, y;
        uint32_t waitMs;
        const char* expect;  // the click kind the window hears, "" for single
    } steps[] = {
        {50, 50, 0, ""},        {53, 50, 100, "Double"}, {53, 53, 100, "Triple"}, {53, 53, 100, ""},
        {58, 53, 100, ""},      // 5 pixels away: single again
        {58, 53, 600, ""},      // past the double-click time
        {58, 53, 100, "Double"},
    };
    for (const Step& s : steps) {
        P.Advance(s.waitMs);
        const size_t d = w.Count("Double"), t = w.Count("Triple");
        P.Click(G(s.x, s.y));
        Pump();
        const std::string got = w.Count("Double") > d ? "Double" : w.Count("Triple") > t ? "Triple" : "";
        EXPECT_EQ(got, s.expect) << "press at " << s.x << "," << s.y << " after " << s.waitMs;
        ASSERT_FALSE(w.log.empty());
    }
    EXPECT_EQ(w.Count("LDown"), 7u);
}

TEST_F(EventsTest, CaptionPressDragsWindowAndIsNotCounted)
{
    RecWindow w;
    OpenPlain(w);
    P.MoveMouse(G(150, 5));  // alpha 128: a plain press
    P.Press();
    P.Release();
    Pump();
    EXPECT_EQ(w.Count("LDown"), 1u);

    P.MoveMouse(G(20, 5));  // alpha 129: the caption
    P.Press();
    P.MoveMouse(G(60, 25));
    P.MoveMouse(G(70, 45));
    P.Release();
    Pump();
    EXPECT_EQ(w.Count("LDown"), 1u) << "the caption press reaches no handler";
    EXPECT_EQ(w.GetWindowRect().left, 150);
    EXPECT_EQ(w.GetWindowRect().top, 140);
}

TEST_F(EventsTest, MainWindowIgnoresPressWhileAnotherIsActive)
{
    RecWindow main, dialog;
    main.SetMainWindowFlag(1);
    OpenPlain(main);
    ASSERT_TRUE(dialog.CreateFromResource(CQNF_String("Other"), 600, 600, &main, 0));
    dialog.SetFocus();
    P.Click(G(50, 50));
    Pump();
    EXPECT_EQ(main.Count("LDown"), 0u);
    main.SetFocus();
    P.Click(G(50, 50));
    Pump();
    EXPECT_EQ(main.Count("LDown"), 1u);
}

TEST_F(EventsTest, KeysAndShortcuts)
{
    RecWindow w;
    OpenPlain(w);
    struct Case {
        const char* what;
        uint8_t vkey, ch, mods;
        bool repeat;
        std::vector<std::string> expect;
    } cases[] = {
        {"Command-s: shortcut, then the reduced character", vk::S, 's', plat::mods::Command, false,
         {"Msg 336 501", "KeyChar 19 8"}},
        {"Command-S with Shift is another shortcut", vk::S, 'S', plat::mods::Command | plat::mods::Shift, false,
         {"KeyChar 243 10"}},
        {"a repeat never repeats the shortcut", vk::S, 's', plat::mods::Command, true, {"KeyChar 19 8"}},
        {"return", vk::Return, 13, 0, false, {"KeyDown 6 0"}},
        {"keypad enter", vk::KeypadEnter, 3, 0, false, {"KeyDown 6 0"}},
        {"page up is a character", vk::PageUp, 11, 0, false, {"KeyChar 11 0"}},
        {"F5 finds its shortcut and arrives as a key code", vk::F5, 0, 0, false, {"Msg 336 505", "KeyDown 224 0"}},
        {"Command-. by its key's character", vk::Period, '.', plat::mods::Command, false,
         {"Msg 336 506", "KeyChar 206 8"}},
        {"escape", vk::Escape, 27, 0, false, {"KeyDown 7 0"}},
    };
    for (const Case& c : cases) {
        w.log.clear();
        P.Key(c.vkey, c.ch, c.mods, c.repeat);
        Pump();
        EXPECT_EQ(w.log, c.expect) << c.what;
    }
    w.log.clear();
    P.KeyUp(vk::S, 's', 0);
    Pump();
    EXPECT_TRUE(w.log.empty()) << "key up reaches no handler";
}

TEST_F(EventsTest, FocusedControlGetsKeysFirst)
{
    RecWindow w;
    OpenPlain(w);
    auto* edit = w.Own(new RecControl({10, 10, 60, 30}, &w.log, "edit", qnctl::EditLine));
    P.Click(G(20, 20));
    Pump();
    EXPECT_EQ(w.GetFocusedControl(), 0u);
    w.log.clear();
    edit->keyAnswer = 1;
    P.Key(vk::UpArrow, 0);
    P.Key(vk::A, 'a');
    Pump();
    EXPECT_EQ(w.log, (std::vector<std::string>{"edit:KeyDown", "edit:KeyChar", "KeyChar 97 0"}))
        << "a taken key stops at the control; characters always reach the window";
    EXPECT_EQ(P.cursor, 1) << "I-beam over an edit line";
    P.MoveMouse(G(150, 80));
    Pump();
    EXPECT_EQ(P.cursor, 0);

    // A focused edit line sees the wheel first, wherever the pointer is.
    w.log.clear();
    edit->wheelAnswer = 1;
    P.Wheel(1);
    Pump();
    EXPECT_EQ(w.log, (std::vector<std::string>{"edit:Wheel"}));
    edit->wheelAnswer = 0;
    w.log.clear();
    P.Wheel(1);
    Pump();
    EXPECT_EQ(w.log, (std::vector<std::string>{"edit:Wheel", "Wheel 1 0"}));
}

TEST_F(EventsTest, CaptureHoverAndFocus)
{
    RecWindow w;
    OpenPlain(w);
    w.Own(new RecControl({10, 20, 50, 60}, &w.log, "a"));
    w.Own(new RecControl({40, 20, 90, 60}, &w.log, "b"));  // overlaps a, on top

    // Press on the overlap: the topmost takes it; release outside goes only
    // to the captured control.
    P.MoveMouse(G(45, 30));
    P.Press();
    P.MoveMouse(G(150, 90));
    P.Release();
    Pump();
    std::vector<std::string> got;
    for (const auto& l : w.log)
        if (l.rfind("a:", 0) == 0 || l.rfind("b:", 0) == 0 || l.rfind("LDown", 0) == 0 || l.rfind("LUp", 0) == 0)
            got.push_back(l);
    // Moves walk on past a control that does not take them; the press goes
    // to the topmost control, then the window; while captured, moves and the
    // release outside go to that control alone.
    EXPECT_EQ(got, (std::vector<std::string>{"b:Move", "a:Move", "b:LDown", "LDown 45 30", "b:Move", "b:LUp", "LUp 150 90"}));
    EXPECT_EQ(w.GetCapturedControl(), CQNF_Window::None);

    // Hover: leaving every control tells the window -1 once.
    w.log.clear();
    P.MoveMouse(G(20, 30));
    P.MoveMouse(G(150, 90));
    P.MoveMouse(G(160, 90));
    Pump();
    EXPECT_EQ(w.Count("Above 0"), 1u);
    EXPECT_EQ(w.Count("Above -1"), 1u);

    // A control the window declines counts as none: nothing is recorded, so
    // the window is asked again on the next move.
    w.log.clear();
    w.aboveAnswer = 0;
    P.MoveMouse(G(20, 30));
    P.MoveMouse(G(21, 30));
    Pump();
    EXPECT_EQ(w.Count("Above 0"), 2u);
    EXPECT_EQ(w.Count("Above -1"), 0u) << "none was reported already";
    w.aboveAnswer = 1;
    P.MoveMouse(G(150, 90));
    Pump();

    // Focus leaves the controls on a press outside them and on deactivation.
    P.Click(G(20, 30));
    Pump();
    EXPECT_EQ(w.GetFocusedControl(), 0u);
    P.Click(G(150, 90));
    Pump();
    EXPECT_EQ(w.GetFocusedControl(), CQNF_Window::None);
    P.Click(G(20, 30));
    Pump();
    w.iSetActiveCaption(0);
    EXPECT_EQ(w.GetFocusedControl(), CQNF_Window::None);

    // Filtered controls are skipped by every walk; filtering all drops focus.
    w.FilterControl(1, CQNF_Window::None);
    w.log.clear();
    P.Click(G(20, 30));
    Pump();
    EXPECT_EQ(w.Count("a:"), 0u);
    EXPECT_EQ(w.Count("LDown"), 1u);
    w.FilterControl(0, CQNF_Window::None);
}

TEST_F(EventsTest, DoubleClickReachesConsumingControlThenWindow)
{
    RecWindow w;
    OpenPlain(w);
    w.Own(new RecControl({10, 20, 50, 60}, &w.log, "a"));
    P.Click(G(20, 30));
    P.Click(G(21, 30));
    Pump();
    const auto it = std::find(w.log.begin(), w.log.end(), "a:Double");
    ASSERT_NE(it, w.log.end());
    EXPECT_EQ(*(it + 1), "Double 21 30");
}

TEST_F(EventsTest, RightButtonAndControlClick)
{
    RecWindow w;
    OpenPlain(w);
    w.Own(new RecControl({0, 0, 200, 100}, &w.log, "a"));
    P.MoveMouse(G(30, 30));
    P.Press(2);
    P.Release(2);
    P.Press(1, plat::mods::Control);
    P.Release(1, plat::mods::Control);
    w.rDownAnswer = 0;
    Pump();
    EXPECT_EQ(w.Count("RDown"), 2u);
    EXPECT_EQ(w.Count("Context"), 2u);
    EXPECT_EQ(w.Count("a:LDown"), 0u) << "controls never see the right button";
    w.rDownAnswer = 1;
    P.Press(2);
    Pump();
    EXPECT_EQ(w.Count("Context"), 2u) << "a handled right press opens no context menu";
}

TEST_F(EventsTest, WheelGoesToTheWindowUnderThePointer)
{
    RecWindow w, other;
    OpenPlain(w);
    ASSERT_TRUE(other.CreateFromResource(CQNF_String("Other"), 400, 400, nullptr, 0));
    other.Show();
    P.MoveMouse({410, 410});
    P.Wheel(3);  // sent to the active window W, handled by the one under the pointer
    Pump();
    EXPECT_EQ(other.Count("Wheel 3"), 1u);
    EXPECT_EQ(w.Count("Wheel"), 0u);
    P.MoveMouse(G(10, 50));
    P.Wheel(-2);
    Pump();
    EXPECT_EQ(w.Count("Wheel -2"), 1u);
}
