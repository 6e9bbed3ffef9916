// Sliders and scroll bars on a headless window: path loading, dragging, the
// wheel, value mapping, thumb building and geometry, paging with repeat,
// thumb drags and arrow buttons.
#include "ctrl_window_fixture.h"
#include "ui/CtrlButton.h"
#include "ui/CtrlScrollBar.h"
#include "ui/CtrlSlider.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace ctrltest;

namespace {

std::vector<uint8_t> PathRecord(const std::vector<std::pair<int, int>>& points)
{
    std::vector<uint8_t> c;
    for (auto [x, y] : points) {
        c.insert(c.end(), {uint8_t(x >> 8), uint8_t(x), uint8_t(y >> 8), uint8_t(y), 0});
    }
    return c;
}

class ValueTest : public ControlWindowTest {
protected:
    // A slider of points along a line or given explicitly, values start..end.
    void SliderSkin(const std::string& name, const std::vector<std::pair<int, int>>& points, uint32_t start,
                    uint32_t end, bool withCount = true)
    {
        const std::string k = "UIResources>Sliders>" + name;
        skin.Folder(k);
        if (withCount) {
            skin.Number(k + ">Data_NumPoints", uint16_t(points.size()));
        }
        skin.Bytes(k + ">Data_Coors", PathRecord(points));
        skin.Number(k + ">Data_ValueStart", start);
        skin.Number(k + ">Data_ValueEnd", end);
        skin.Image(k + ">Background_Normal", {10, 40, 140, 60}, qntRGBA8{90, 90, 90, 255});
        skin.Image(k + ">Thumb_Normal", {16, 42, 25, 58}, qntRGBA8{250, 250, 0, 255});
        skin.Image(k + ">Thumb_Pressed", {16, 42, 25, 58}, qntRGBA8{250, 0, 0, 255});
        HotZone(skin, k + ">Data_HotZone", {10, 40, 140, 60});
        skin.Number(k + ">HotSpot_X", uint16_t(20));
        skin.Number(k + ">HotSpot_Y", uint16_t(50));
    }
    static std::vector<std::pair<int, int>> Line(int n, int step = 10)
    {
        std::vector<std::pair<int, int>> p;
        for (int i = 0; i < n; ++i) {
            p.push_back({20 + step * i, 50});
        }
        return p;
    }
    // A vertical bar: track x 200..212, y 10..110; the thumb image rows
    // carry their own index in red, 5 head rows, 10 tile rows, 5 tail rows.
    // A horizontal one: track x 10..110, y 140..152, the same thumb by columns.
    void ScrollSkin(const std::string& name, bool vertical = true)
    {
        const std::string k = "UIResources>Scroll Bars>" + name;
        const qntRECT_s track = vertical ? qntRECT_s{200, 10, 212, 110} : qntRECT_s{10, 140, 110, 152};
        const qntRECT_s thumb = vertical ? qntRECT_s{200, 10, 212, 30} : qntRECT_s{10, 140, 30, 152};
        skin.Folder(k);
        skin.Number(k + ">Is Vertical", uint8_t(vertical));
        skin.Number(k + ">Rect Left", uint16_t(track.left));
        skin.Number(k + ">Rect Top", uint16_t(track.top));
        skin.Number(k + ">Rect Right", uint16_t(track.right));
        skin.Number(k + ">Rect Bottom", uint16_t(track.bottom));
        skin.Image(k + ">Background_Normal", track, qntRGBA8{30, 30, 30, 255});
        auto along = [vertical](int x, int y) { return (vertical ? y : x) - 10; };
        skin.Image(k + ">Thumb_Normal", thumb,
                   [&](int x, int y) { return qntRGBA8{uint8_t(along(x, y)), 200, 200, 255}; });
        skin.Image(k + ">Thumb_Data", thumb, [&](int x, int y) {
            const int r = along(x, y);
            return qntRGBA8{uint8_t(r < 5 ? 255 : 0), uint8_t(r >= 15 ? 255 : 0), uint8_t(r >= 5 && r < 15 ? 255 : 0),
                            255};
        });
    }
    std::vector<uint32_t> Values(unsigned short msg)
    {
        std::vector<uint32_t> v;
        for (const Message& m : Take(msg)) {
            v.push_back(m.value);
        }
        return v;
    }
};

}  // namespace

TEST_F(ValueTest, SliderReportsItsFirstPointAndFollowsADrag)
{
    SliderSkin("S", Line(11), 0, 100);
    Start();
    auto* s = Add<CQNF_CtrlSlider>("S", 1);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(Values(256), (std::vector<uint32_t>{0}));
    EXPECT_EQ(s->GetCircularity(), 0);
    // The thumb's hot spot (20, 50) sits on the point.
    s->SetValue(30, 0);
    short x = 0, y = 0;
    s->GetThumbLayer()->GetPos(x, y);
    EXPECT_EQ(x, 50 - 4);
    EXPECT_EQ(y, 42);
    EXPECT_TRUE(Take(256).empty());

    Press(52, 50);
    MoveTo(81, 52);
    MoveTo(84, 52);
    EXPECT_EQ(Values(261), (std::vector<uint32_t>{30, 60, 60}));
    EXPECT_EQ(Pixel(80, 50), 0xFA0000u);  // pressed thumb
    MoveTo(400, 50);  // far right: the last point
    Release();
    const auto changed = Take(256);
    ASSERT_EQ(changed.size(), 1u);
    EXPECT_EQ(changed[0].value, 100u);
    EXPECT_EQ(s->GetValue(), 100u);
    EXPECT_EQ(Pixel(120, 50), 0xFAFA00u);
}

TEST_F(ValueTest, SliderWheelStepsAndRings)
{
    SliderSkin("Line", Line(11), 0, 100);
    SliderSkin("Short", Line(10), 0, 9);
    // A ring of 8 points whose ends lie one pixel apart.
    SliderSkin("Ring", {{60, 50}, {70, 45}, {75, 50}, {70, 55}, {60, 58}, {50, 55}, {45, 50}, {61, 51}}, 0, 7);
    Start();
    auto* line = Add<CQNF_CtrlSlider>("Line", 1);
    auto* shortOne = Add<CQNF_CtrlSlider>("Short", 1);
    auto* ring = Add<CQNF_CtrlSlider>("Ring", 1);
    ASSERT_TRUE(line && shortOne && ring);
    EXPECT_EQ(ring->GetCircularity(), 1);
    Take(256);
    struct Case {
        CQNF_CtrlSlider* s;
        uint16_t from;
        short delta;
        uint8_t mods;
        int32_t to;  // -1: ignored
    };
    for (const Case& c : {Case{line, 10, 1, 0, 10}, Case{line, 0, 1, 2, 10}, Case{shortOne, 3, 1, 2, -1},
                          Case{ring, 7, 1, 0, 0}, Case{ring, 0, -2, 0, 6}}) {
        c.s->SetPtPos(c.from, 0);
        c.s->OnMouseWheel(0, 0, c.mods, c.delta);
        const auto v = Values(256);
        if (c.to < 0) {
            EXPECT_TRUE(v.empty());
            EXPECT_EQ(c.s->GetPointIndex(), c.from);
        } else {
            ASSERT_EQ(v.size(), 1u);
            EXPECT_EQ(c.s->GetPointIndex(), uint16_t(c.to)) << c.from << " by " << c.delta;
        }
    }
    EXPECT_EQ(ring->SetCircularity(0), 1);
    ring->SetPtPos(7, 0);
    ring->OnMouseWheel(0, 0, 0, 1);
    EXPECT_EQ(ring->GetPointIndex(), 7);
    // Inverted wheel, double speed.
    line->InvertWheel(1);
    line->SetWheelSpeed(2);
    line->SetPtPos(5, 0);
    line->OnMouseWheel(0, 0, 0, 1);
    EXPECT_EQ(line->GetPointIndex(), 3);
    EXPECT_EQ(line->SetPtPos(11, 1), 0);
}

TEST_F(ValueTest, SlidersWithoutAPathAreRefused)
{
    SliderSkin("Empty", {}, 0, 10);  // count 0, empty coordinates
    SliderSkin("NoCount", {}, 0, 10, false);
    SliderSkin("Wrong", Line(3), 0, 10);
    skin.Number("UIResources>Sliders>Wrong>Data_NumPoints", uint16_t(4));
    SliderSkin("NoSpot", Line(3), 0, 10);
    skin.storage.KillRec("UIResources>Sliders>NoSpot>HotSpot_Y");
    Start();
    for (const char* name : {"Empty", "NoCount", "Wrong", "NoSpot"}) {
        EXPECT_EQ(window.AddControl(name, 1), CQNF_Window::None) << name;
        EXPECT_EQ(window.GetError(), qnerr::ControlSkin) << name;
    }
    EXPECT_EQ(window.GetControlCount(), 0u);
}

TEST_F(ValueTest, ScrollBarThumbGeometryAndPositions)
{
    ScrollSkin("V");
    ScrollSkin("H", false);
    Start();
    for (const char* name : {"V", "H"}) {
        auto* bar = Add<CQNF_CtrlScrollBar>(name, 9);
        ASSERT_NE(bar, nullptr);
        const bool vertical = bar->IsVertical() != 0;
        EXPECT_EQ(vertical, name[0] == 'V');
        struct Case {
            uint32_t total, visible, position;
            uint32_t first;
            int32_t length, start;
        };
        for (const Case& c : {Case{5, 10, 3, 0, 100, 10}, Case{0, 0, 0, 0, 100, 10}, Case{50, 10, 20, 20, 20, 50},
                              Case{50, 10, 99, 40, 20, 90}, Case{25, 10, 15, 15, 40, 70},
                              Case{1000, 1, 500, 500, 10, 55}}) {
            bar->SetInfo(c.total, c.visible);
            bar->SetPosition(c.position);
            const qntRECT_s r = bar->GetThumbRect();
            EXPECT_EQ(bar->GetPosition(), c.first) << name << " " << c.total << "/" << c.visible;
            EXPECT_EQ(bar->GetThumbLength(), c.length) << name << " " << c.total << "/" << c.visible;
            EXPECT_EQ(vertical ? r.top : r.left, c.start) << name << " " << c.total << "/" << c.visible;
            unsigned long total = 0, visible = 0;
            bar->GetInfo(total, visible);
            EXPECT_EQ(total, std::max(c.total, c.visible));
            // Every repositioning reports, changed or not.
            EXPECT_EQ(Values(256).back(), c.first);
        }
        // The 40-pixel thumb: 5 head pixels, the tile repeated, 5 tail pixels.
        bar->SetInfo(25, 10);
        bar->SetPosition(0);
        auto at = [&](int along) { return vertical ? Pixel(205, 10 + along) : Pixel(10 + along, 146); };
        for (auto [pos, red] : std::vector<std::pair<int, uint32_t>>{
                 {0, 0}, {4, 4}, {5, 5}, {14, 14}, {15, 5}, {34, 14}, {35, 15}, {39, 19}}) {
            EXPECT_EQ(at(pos) >> 16, red) << name << " " << pos;
        }
        EXPECT_EQ(at(40), 0x1E1E1Eu);  // the track past the thumb
    }
}

TEST_F(ValueTest, ScrollBarPagingStepsAndRepeat)
{
    ScrollSkin("V");
    Start();
    auto* bar = Add<CQNF_CtrlScrollBar>("V", 9);
    ASSERT_NE(bar, nullptr);
    for (auto [visible, page] : std::vector<std::pair<uint32_t, uint32_t>>{{10, 9}, {1, 1}}) {
        bar->SetInfo(100, visible);
        bar->SetPosition(0);
        bar->PageMore();
        EXPECT_EQ(bar->GetPosition(), page);
        bar->PageLess();
        EXPECT_EQ(bar->GetPosition(), 0u);
        bar->StepLess();
        EXPECT_EQ(bar->GetPosition(), 0u);
    }
    bar->SetInfo(50, 10);  // thumb 20 px, 2 px an item
    bar->SetPosition(0);
    Take(256);
    // A press below the thumb pages at once, then after 500 ms every 50 ms
    // until the thumb reaches the pointer.
    Press(205, 109);
    EXPECT_EQ(Values(256), (std::vector<uint32_t>{9}));
    Pump(499);
    EXPECT_TRUE(Take(256).empty());
    Pump(51);
    EXPECT_EQ(Values(256), (std::vector<uint32_t>{18}));
    Pump(200);
    EXPECT_EQ(Values(256), (std::vector<uint32_t>{27, 36, 40}));  // then the thumb is under the pointer
    Release();
    Pump(200);
    EXPECT_TRUE(Take(256).empty());
    // Wheel: the vertical bar inverts, one report per step.
    MoveTo(205, 60);
    hp.Wheel(-2);
    Pump();
    EXPECT_EQ(Values(256), (std::vector<uint32_t>{40, 40}));
    hp.Wheel(3);
    Pump();
    EXPECT_EQ(Values(256), (std::vector<uint32_t>{39, 38, 37}));
}

TEST_F(ValueTest, ScrollBarThumbDrag)
{
    ScrollSkin("V");
    Start();
    auto* bar = Add<CQNF_CtrlScrollBar>("V", 9);
    ASSERT_NE(bar, nullptr);
    bar->SetInfo(50, 10);
    bar->SetPosition(20);  // thumb 50..70
    Take(256);
    Press(205, 55);
    MoveTo(205, 65);  // thumb at 60: item 25
    MoveTo(205, 66);  // 61: still 25
    MoveTo(205, 500);  // clamped at the end: item 40
    EXPECT_EQ(Values(261), (std::vector<uint32_t>{25, 40}));
    EXPECT_EQ(bar->GetThumbRect().top, 90);
    MoveTo(205, 100);  // 90 again: no change, no report
    Release();
    EXPECT_EQ(Values(256), (std::vector<uint32_t>{40}));
    // A bar whose thumb fills the track cannot be scrolled by dragging.
    bar->SetInfo(0, 0);
    Take(256);
    Press(205, 20);
    MoveTo(205, 80);
    Release();
    EXPECT_TRUE(Take(261).empty());
    EXPECT_EQ(Values(256), (std::vector<uint32_t>{0}));
}

TEST_F(ValueTest, ArrowButtonsStepTheBarAndRepeat)
{
    ScrollSkin("V");
    for (const char* name : {"Up", "Down"}) {
        const std::string k = std::string("UIResources>Buttons>") + name;
        const qntRECT_s r = name[0] == 'U' ? qntRECT_s{214, 10, 226, 22} : qntRECT_s{214, 98, 226, 110};
        skin.Folder(k);
        skin.Image(k + ">Normal", r, qntRGBA8{0, 0, 200, 255});
        HotZone(skin, k + ">Data", r);
    }
    Start();
    auto* bar = Add<CQNF_CtrlScrollBar>("V", 9);
    auto* up = Add<CQNF_CtrlButton>("Up", 5);
    auto* down = Add<CQNF_CtrlButton>("Down", 5);
    ASSERT_TRUE(bar && up && down);
    bar->SetButtons(up->GetControlID(), down->GetControlID());
    EXPECT_EQ(down->GetPeriodicMode(), 1);
    bar->SetInfo(50, 10);
    Take(256);
    Click(220, 104);
    for (const Message& m : window.messages) {
        EXPECT_NE(m.msg, 272);  // the click went to the bar, not the window
    }
    EXPECT_EQ(Values(256), (std::vector<uint32_t>{1}));
    Press(220, 104);
    Pump(600);
    Release();
    EXPECT_EQ(Values(256), (std::vector<uint32_t>{2, 3, 4}));
    Click(220, 15);
    EXPECT_EQ(Values(256), (std::vector<uint32_t>{3}));
    bar->Enable(0);
    EXPECT_EQ(up->IsEnabled(), 0);
    EXPECT_EQ(down->GetState(), CQNF_CtrlButton::StDisabled);
}
