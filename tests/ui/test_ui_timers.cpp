// Timers, pumping and modal loops.
#include "UiTest.h"

#include "ui/KeyCodes.h"

using namespace uitest;
namespace vk = qnkey::vk;

class TimersTest : public UiTest {
protected:
    void SetUp() override
    {
        UiTest::SetUp();
        Resources([](qnui::ResourceWriter& w) {
            Background(w, "W", {0, 0, 200, 100});
            Background(w, "D", {0, 0, 60, 40});
        });
    }
};

TEST_F(TimersTest, ControlTimerEncoding)
{
    RecWindow w;
    OpenPlain(w);
    std::vector<RecControl*> controls;
    for (int i = 0; i < 8; ++i)
        controls.push_back(w.Own(new RecControl({0, 0, 1, 1}, &w.log, "c")));
    struct Case {
        unsigned short t;
        int index;
        bool ok;
        unsigned short id;
    } cases[] = {{2, 7, true, 52007}, {1, 0, true, 42000}, {3, 7, true, 62007}, {0, 3, true, 32003},
                 {4, 0, false, 0},    {9, 0, false, 0}};
    for (const Case& c : cases) {
        unsigned short id = 0;
        EXPECT_EQ(w.EncodeCtrlTimer(c.t, controls[size_t(c.index)], id), c.ok) << c.t << "/" << c.index;
        if (c.ok) {
            EXPECT_EQ(id, c.id);
        }
    }
    RecControl stranger({0, 0, 1, 1}, &w.log, "s");
    unsigned short id = 0;
    EXPECT_FALSE(w.EncodeCtrlTimer(1, &stranger, id));
    EXPECT_FALSE(w.SetCtrlTimer(10, 1, &stranger));

    ASSERT_TRUE(controls[7]->SetTimer(30, 2));
    Pump(95);
    EXPECT_EQ(controls[7]->ticks, (std::vector<unsigned short>{2, 2, 2}));
    EXPECT_TRUE(w.ticks.empty());
    ASSERT_TRUE(controls[7]->KillTimer(2));
    Pump(100);
    EXPECT_EQ(controls[7]->ticks.size(), 3u);
}

TEST_F(TimersTest, TickRouting)
{
    RecWindow w;
    OpenPlain(w);
    auto* c0 = w.Own(new RecControl({0, 0, 1, 1}, &w.log, "c0"));
    struct Case {
        unsigned short id;
        const char* to;
        unsigned short delivered;
    } cases[] = {{31999, "window", 31999}, {32000, "control", 0}, {42000, "control", 1}, {32005, "nobody", 0}};
    for (const Case& c : cases) {
        w.ticks.clear();
        c0->ticks.clear();
        const unsigned char r = w.iOnTimer(c.id);
        if (std::string(c.to) == "window")
            EXPECT_EQ(w.ticks, (std::vector<unsigned short>{c.delivered})) << c.id;
        else if (std::string(c.to) == "control")
            EXPECT_EQ(c0->ticks, (std::vector<unsigned short>{c.delivered})) << c.id;
        else
            EXPECT_EQ(r, 0) << "a tick for a control that is gone is dropped";
    }
}

TEST_F(TimersTest, SetAndKillByIdWithDuplicates)
{
    RecWindow never;
    EXPECT_FALSE(never.SetTimer(10, 1)) << "no platform window";
    EXPECT_FALSE(never.KillTimer(1));

    RecWindow w;
    OpenPlain(w);
    EXPECT_TRUE(w.KillTimer(77)) << "killing an id never set answers true";
    ASSERT_TRUE(w.SetTimer(10, 5));
    ASSERT_TRUE(w.SetTimer(25, 5));  // same id: a second timer
    Pump(50);
    EXPECT_EQ(w.ticks.size(), 7u);  // 5 of the first, 2 of the second
    ASSERT_TRUE(w.KillTimer(5));    // the first one
    w.ticks.clear();
    Pump(50);
    EXPECT_EQ(w.ticks.size(), 2u) << "the 25 ms timer runs on";
}

TEST_F(TimersTest, TicksWhileTimersAreOffAreLost)
{
    RecWindow w, other;
    OpenPlain(w);
    ASSERT_TRUE(other.CreateFromResource(CQNF_String("D"), 0, 0, nullptr, 0));
    ASSERT_TRUE(w.SetTimer(10, 1));
    ASSERT_TRUE(other.SetTimer(10, 2));
    P.Advance(35);
    w.SubProcessMessages(nullptr, 0, 1, 0, 0);
    EXPECT_TRUE(w.ticks.empty());
    EXPECT_EQ(other.ticks.size(), 1u) << "only this window's ticks are held back";
    EXPECT_TRUE(w.AreTimersEnabled());
    Pump(0);
    EXPECT_TRUE(w.ticks.empty()) << "nothing was queued for later";
    Pump(10);
    EXPECT_EQ(w.ticks.size(), 1u);
}

TEST_F(TimersTest, NestedPumpKeepsOuterTimersOff)
{
    RecWindow w;
    OpenPlain(w);
    ASSERT_TRUE(w.SetTimer(10, 1));
    w.EnableTimers(0);  // an outer operation that must not be re-entered
    P.Advance(20);
    w.SubProcessMessages(nullptr, 1, 1, 0, 0);
    w.CheckForInputMessagesInQueue();
    w.ESCIsInMessageQueue();
    EXPECT_FALSE(w.AreTimersEnabled()) << "pumps restore the flag they found";
    w.EnableTimers(1);
}

TEST_F(TimersTest, TimersSetAndKilledFromInsideATick)
{
    RecWindow w;
    OpenPlain(w);
    int round = 0;
    w.onTimer = [&](unsigned short id) {
        if (id == 1) {
            ++round;
            w.KillTimer(1);   // itself
            w.KillTimer(2);   // a sibling due in the same turn
            w.SetTimer(5, 3);  // and a new one
        }
    };
    ASSERT_TRUE(w.SetTimer(10, 1));
    ASSERT_TRUE(w.SetTimer(10, 2));
    ASSERT_TRUE(w.SetTimer(10, 1));  // a second timer with the same id
    Pump(10);
    EXPECT_EQ(round, 2) << "both timers of id 1 tick once in the turn";
    EXPECT_EQ(std::count(w.ticks.begin(), w.ticks.end(), 2), 0) << "a killed sibling does not tick";
    w.ticks.clear();
    Pump(12);
    EXPECT_EQ(std::count(w.ticks.begin(), w.ticks.end(), 1), 0);
    EXPECT_GE(std::count(w.ticks.begin(), w.ticks.end(), 3), 2);
}

TEST_F(TimersTest, QueueProbes)
{
    RecWindow w;
    OpenPlain(w);
    EXPECT_EQ(w.CheckForInputMessagesInQueue(), 0);
    P.Key(vk::A, 'a');
    EXPECT_EQ(w.CheckForInputMessagesInQueue(), 1);
    EXPECT_EQ(w.CheckForInputMessagesInQueue(), 1) << "looking removes nothing";
    P.Key(vk::Escape, 27);
    P.Key(vk::D, 'd');
    EXPECT_EQ(w.ESCIsInMessageQueue(), 1);
    EXPECT_EQ(w.ESCIsInMessageQueue(), 0) << "keys up to the escape were taken; the rest too on the second look";
    P.Key(vk::Period, '.', plat::mods::Command);
    EXPECT_EQ(w.ESCIsInMessageQueue(), 1);
    P.Key(vk::Period, '.', 0);
    EXPECT_EQ(w.ESCIsInMessageQueue(), 0);
    P.Click({150, 150});
    w.CleanMessageQueue();
    EXPECT_EQ(w.CheckForInputMessagesInQueue(), 0);
    Pump();
    EXPECT_EQ(w.Count("LDown"), 0u);
}

TEST_F(TimersTest, ModalResults)
{
    RecWindow main;
    OpenPlain(main);
    struct Case {
        const char* what;
        std::function<void(RecWindow&)> end;
        long want;
    } cases[] = {
        {"EndModal(5)", [](RecWindow& d) { d.EndModal(5); }, 5},
        {"EndModal(-128)", [](RecWindow& d) { d.EndModal(-128); }, -128},
        {"closed without EndModal", [](RecWindow& d) { d.Close(); }, 0},
    };
    for (const Case& c : cases) {
        RecWindow dialog;
        ASSERT_TRUE(dialog.CreateFromResource(CQNF_String("D"), 10, 10, &main, 1));
        P.Script([&] {
            EXPECT_TRUE(dialog.IsModal());
            EXPECT_EQ(P.ActiveWindow(), dialog.GetWindowHandle());
            c.end(dialog);
        });
        EXPECT_EQ(dialog.DoModal(), c.want) << c.what;
        EXPECT_FALSE(dialog.IsModal());
        EXPECT_EQ(P.ActiveWindow(), main.GetWindowHandle()) << "the opener gets the focus back";
    }
    RecWindow never;
    EXPECT_EQ(never.DoModal(), -1);
}

TEST_F(TimersTest, ModalLoopHoldsInputToItsFamily)
{
    RecWindow main;
    OpenPlain(main);
    RecWindow dialog;
    ASSERT_TRUE(dialog.CreateFromResource(CQNF_String("D"), 500, 500, &main, 1));
    P.Script([&] {
        P.Click({150, 150});  // on the main window: refused with a beep
        P.Click({510, 510});  // on the dialog
    });
    P.Script([&] { dialog.EndModal(1); });
    const uint32_t beeps = P.beeps;
    EXPECT_EQ(dialog.DoModal(), 1);
    EXPECT_EQ(main.Count("LDown"), 0u);
    EXPECT_EQ(dialog.Count("LDown"), 1u);
    EXPECT_EQ(P.beeps, beeps + 1);
}

TEST_F(TimersTest, ParentlessModalDialogLeavesTheApplicationLoop)
{
    RecWindow main;
    OpenPlain(main);
    app.SetMainWindow(&main);
    long result = 99;
    bool stillRunning = false;
    P.Script([&] {
        RecWindow dialog;  // no parent
        ASSERT_TRUE(dialog.CreateFromResource(CQNF_String("D"), 10, 10, nullptr, 1));
        P.Script([&] { dialog.EndModal(3); });
        result = dialog.DoModal();
        // Runs only if the application loop waits again after the dialog.
        P.Script([&] {
            stillRunning = true;
            main.Close();
        });
    });
    app.Run();
    EXPECT_EQ(result, 3);
    EXPECT_TRUE(stillRunning) << "closing the dialog ended the application loop";
    EXPECT_EQ(P.ScriptLeft(), 0u);
}

TEST_F(TimersTest, ModalDialogKeepsTimersOfOtherWindows)
{
    RecWindow main;
    OpenPlain(main);
    ASSERT_TRUE(main.SetTimer(10, 9));
    RecWindow dialog;
    ASSERT_TRUE(dialog.CreateFromResource(CQNF_String("D"), 10, 10, &main, 1));
    ASSERT_TRUE(dialog.SetTimer(100, 1));
    dialog.onTimer = [&](unsigned short) { dialog.EndModal(7); };
    EXPECT_EQ(dialog.DoModal(), 7);
    EXPECT_GE(main.ticks.size(), 9u);
}
