// The status fade on a real static text of a headless window: the line's
// opacity and text tick by tick, as every window with a status line sees it.
#include "ctrl_window_fixture.h"
#include "ui/CtrlStatic.h"
#include "ui/StatusFader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace ctrltest;

namespace {

struct Step {
    int opacity;
    const char* text;
};

class FaderTest : public ControlWindowTest {
protected:
    CQNF_CtrlStaticText* Line()
    {
        skin.Folder("UIResources>Static Texts>S");
        skin.Image("UIResources>Static Texts>S>Normal", {10, 10, 200, 30}, qntRGBA8{0, 0, 0, 255});
        Start();
        auto* t = Add<CQNF_CtrlStaticText>("S", 3);
        if (t)
            t->SetText("old");
        return t;
    }
    // Ticks the fader on its timer until it rests, recording each tick.
    static std::vector<std::pair<int, std::string>> Run(CStatusFader& f, CQNF_CtrlStaticText& t, int most)
    {
        std::vector<std::pair<int, std::string>> seen;
        for (int i = 0; i < most && f.GetState() != CStatusFader::Idle; ++i) {
            EXPECT_TRUE(f.OnTimer(CStatusFader::kTimer));
            seen.emplace_back(t.GetOpacity(), t.GetText().GetStr());
        }
        return seen;
    }
};

std::vector<std::pair<int, std::string>> Expect(std::initializer_list<Step> steps)
{
    std::vector<std::pair<int, std::string>> out;
    for (const Step& s : steps)
        out.emplace_back(s.opacity, s.text);
    return out;
}

}  // namespace

TEST_F(FaderTest, TheLineFadesOutTakesTheNewTextAndFadesBackIn)
{
    CQNF_CtrlStaticText* t = Line();
    ASSERT_NE(t, nullptr);
    CStatusFader f;
    f.Start(window, t);
    EXPECT_FALSE(f.OnTimer(CStatusFader::kTimer + 1));  // not its timer
    EXPECT_FALSE(f.TickLine(*t));                        // nothing asked: nothing moves
    EXPECT_TRUE(f.Request("new"));
    EXPECT_FALSE(f.Request(std::string("new")));  // asked again: no restart
    EXPECT_EQ(Run(f, *t, 30), Expect({{190, "old"},
                                      {125, "old"},
                                      {60, "old"},
                                      {0, "old"},
                                      {0, "new"},
                                      {40, "new"},
                                      {80, "new"},
                                      {120, "new"},
                                      {160, "new"},
                                      {200, "new"},
                                      {240, "new"},
                                      {255, "new"},
                                      {255, "new"}}));
    EXPECT_FALSE(f.TickLine(*t));

    // A tip asked for while the line fades in turns it round where it is.
    ASSERT_TRUE(f.Request("third"));
    ASSERT_TRUE(f.OnTimer(CStatusFader::kTimer));  // 255 -> 190
    f.Request("fourth");
    EXPECT_EQ(Run(f, *t, 30).at(3), std::make_pair(0, std::string("fourth")));
    EXPECT_EQ(f.Pending(), "fourth");
    f.Stop(window);
}
