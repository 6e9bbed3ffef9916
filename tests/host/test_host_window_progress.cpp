// The progress adapters of the plug-in's windows: the knife editor's bar
// moves at every fifth percent and its abort flag cancels; the main
// window's status line shows every new percentage and never cancels.
#include "host/WindowProgress.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Editor : CCutterProgressTarget {
    std::vector<int> bar;
    int pumps = 0;
    bool abort = false;
    void CutterProgress_SetBar(uint8_t p) override { bar.push_back(p); }
    void CutterProgress_PumpEvents() override { ++pumps; }
    bool CutterProgress_AbortRequested() const override { return abort; }
};

struct Main : CMainProgressTarget {
    std::vector<std::string> lines;
    int pumps = 0;
    void UpdateStatusProgress(const char* text, uint8_t p) override
    {
        lines.push_back(std::string(text) + " " + std::to_string(p));
    }
    void ProcessPendingEvents() override { ++pumps; }
};

}  // namespace

TEST(HostWindowProgress, CutterBarMovesEveryFifthPercent)
{
    struct Case {
        std::vector<int> fed;
        std::vector<int> bar;
    } cases[] = {
        {{}, {}},
        {{5, 5}, {5}},
        {{0, 1, 2, 3, 4, 5, 7, 10}, {0, 5, 10}},
        {{10, 3, 10}, {10, 10}},  // a change back and forth moves it again
    };
    std::vector<int> all;
    std::vector<int> fives;
    for (int p = 0; p <= 100; ++p) {
        all.push_back(p);
        if (p % 5 == 0)
            fives.push_back(p);
    }
    std::vector<Case> table(std::begin(cases), std::end(cases));
    table.push_back({all, fives});
    for (const Case& c : table) {
        Editor e;
        CCutterProgress p;
        p.SetUserDataPtr(&e);
        for (int v : c.fed)
            p.Progress(uint8_t(v), nullptr);
        EXPECT_EQ(e.bar, c.bar);
    }
    EXPECT_EQ(fives.size(), 21u);
    // The abort flag, after the editor's events were processed.
    Editor e;
    CCutterProgress p;
    p.SetUserDataPtr(&e);
    EXPECT_FALSE(p.IsCanceled());
    e.abort = true;
    EXPECT_TRUE(p.IsCanceled());
    EXPECT_EQ(e.pumps, 2);
    // Without an editor nothing happens and nothing cancels.
    CCutterProgress lone;
    lone.Progress(5, nullptr);
    EXPECT_FALSE(lone.IsCanceled());
}

TEST(HostWindowProgress, MainStatusShowsEachNewPercentAndNeverCancels)
{
    Main m;
    CMainProgress p;
    p.SetUserDataPtr(&m);
    p.m_Text = "Rendering";
    for (int v : {0, 0, 1, 1, 2, 50})
        p.Progress(uint8_t(v), nullptr);
    EXPECT_EQ(m.lines, (std::vector<std::string>{"Rendering 0", "Rendering 1", "Rendering 2", "Rendering 50"}));
    p.Cancel();
    for (int i = 0; i < 5; ++i)
        EXPECT_FALSE(p.IsCanceled());
    EXPECT_EQ(m.pumps, 5);
}
