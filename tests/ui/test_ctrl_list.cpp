#include "edit_fixture.h"
#include "ui/CtrlList.h"
#include "ui/CtrlScrollBar.h"

#include <string>

namespace {

// Item area (12, 12)-(112, 107): 95 pixels at 20 a line, 5 rows.
constexpr qntRECT_s kArea{12, 12, 112, 107};
constexpr qntRGBA8 kFrame{40, 40, 40, 255}, kBand{0, 0, 200, 255};

class ListWindow : public edittest::Fixture {
protected:
    void ListSkin(const std::string& name, bool withSelected = true)
    {
        const std::string k = "UIResources>Lists>" + name;
        skin.Folder(k);
        skin.Image(k + ">Background_Normal", {10, 10, 130, 120}, kFrame);
        if (withSelected)
            skin.Image(k + ">Background_Selected", {10, 10, 130, 120}, kBand);
        skin.Image(k + ">Foreground_Normal", kArea, qntRGBA8{250, 250, 250, 255});
        skin.Image(k + ">Foreground_Selected", kArea, qntRGBA8{255, 255, 0, 255});
        Rect(k, kArea);
    }
    void ScrollSkin()
    {
        const std::string k = "UIResources>Scroll Bars>SB";
        skin.Folder(k);
        skin.Number(k + ">Is Vertical", uint8_t(1));
        Rect(k, {200, 10, 212, 110});
        skin.Image(k + ">Background_Normal", {200, 10, 212, 110}, qntRGBA8{30, 30, 30, 255});
        skin.Image(k + ">Thumb_Normal", {200, 10, 212, 30}, qntRGBA8{90, 200, 200, 255});
        skin.Image(k + ">Thumb_Data", {200, 10, 212, 30}, [](int, int y) {
            const int r = y - 10;
            return qntRGBA8{uint8_t(r < 5 ? 255 : 0), uint8_t(r >= 15 ? 255 : 0), uint8_t(r >= 5 && r < 15 ? 255 : 0),
                            255};
        });
    }
    // A list of n items with its scroll bar, on a started window.
    CQNF_CtrlList* MakeList(int n, bool multi, bool showUnfocused = true)
    {
        ListSkin("L");
        ScrollSkin();
        Start();
        Activate();
        bar = Add<CQNF_CtrlScrollBar>("SB", qnctl::ScrollBar);
        CQNF_CtrlList* l = Add<CQNF_CtrlList>("L", qnctl::List);
        if (!l || !bar)
            return nullptr;
        l->SetFont(Font());
        l->SetOptions(multi, showUnfocused, 20, 5, 5, bar->GetControlID());
        for (int i = 0; i < n; ++i)
            l->AddItem(("item " + std::to_string(i)).c_str(), 0, nullptr, 1);
        l->UpdateAfterChanges();
        Take(qnmsg::SelectionChanged);
        return l;
    }
    static int RowY(int row) { return kArea.top + 5 + row * 20 + 8; }

    CQNF_CtrlScrollBar* bar = nullptr;
};

}  // namespace

TEST_F(ListWindow, WheelScrollsThroughTheAdoptedScrollBar)
{
    CQNF_CtrlList* l = MakeList(100, false);
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(bar->GetFocusMaster(), l);
    unsigned long total = 0, visible = 0;
    bar->GetInfo(total, visible);
    EXPECT_EQ(total, 100u);
    EXPECT_EQ(visible, 4u);  // rows - 1
    MoveTo(60, 60);
    hp.Wheel(-3);
    Pump();
    const uint32_t down = l->GetModel().GetFirstVisible();
    hp.Wheel(3);
    Pump();
    const uint32_t back = l->GetModel().GetFirstVisible();
    EXPECT_NE(down, back);
    EXPECT_EQ(std::min(down, back), 0u);
    hp.Wheel(down ? -3 : 3);
    Pump();
    EXPECT_EQ(l->GetModel().GetFirstVisible(), std::max(down, back));
    EXPECT_EQ(bar->GetPosition(), l->GetModel().GetFirstVisible());
    EXPECT_TRUE(Take(qnmsg::ValueChanged).empty());  // the bar's messages go to the list, not the window
}

TEST_F(ListWindow, ClicksAndKeysSelectAndReportOnce)
{
    CQNF_CtrlList* l = MakeList(12, true);
    ASSERT_NE(l, nullptr);
    Click(60, RowY(2));
    EXPECT_EQ(Take(qnmsg::SelectionChanged).size(), 1u);
    EXPECT_EQ(l->GetSelectedItem(), 2);
    EXPECT_EQ(Pixel(11, RowY(2)), 0x0000C8u);  // the background band of the selected row
    EXPECT_EQ(Pixel(11, RowY(1)), 0x282828u);
    Click(60, RowY(4), plat::mods::Shift);
    EXPECT_EQ(Take(qnmsg::SelectionChanged).size(), 1u);
    unsigned char sel = 0;
    l->GetItem(3, nullptr, &sel, nullptr);
    EXPECT_EQ(sel, 1);
    EXPECT_EQ(l->GetModel().GetFirstVisible(), 1u);  // item 4 on the fifth row scrolled to the fourth
    KeyPress(qnkey::vk::DownArrow);
    EXPECT_EQ(l->GetModel().GetFirstVisible(), 2u);
    EXPECT_EQ(bar->GetPosition(), 2u);
    Take(qnmsg::SelectionChanged);
    KeyPress(qnkey::vk::End);
    KeyPress(qnkey::vk::DownArrow);  // on the last item: still reported
    EXPECT_EQ(Take(qnmsg::SelectionChanged).size(), 2u);
    EXPECT_EQ(l->GetSelectedItem(), 11);
}

TEST_F(ListWindow, BandsHideWhenUnfocusedIfAsked)
{
    CQNF_CtrlList* l = MakeList(5, false, false);
    ASSERT_NE(l, nullptr);
    Click(60, RowY(1));
    EXPECT_EQ(Pixel(11, RowY(1)), 0x0000C8u);
    Click(180, 140);  // outside every control: the list loses the focus
    EXPECT_FALSE(l->IsFocused());
    EXPECT_EQ(Pixel(11, RowY(1)), 0x282828u);
    EXPECT_EQ(l->GetSelectedItem(), 1);
}

TEST_F(ListWindow, DegenerateSetupsStaySafe)
{
    CQNF_CtrlList* l = MakeList(0, true);
    ASSERT_NE(l, nullptr);
    // Select-all on an empty list: count - 1 wraps to the largest index.
    l->SelectItems(0, l->GetItemsCount() - 1, 1, 0, 1, 1, 1);
    EXPECT_EQ(l->GetModel().GetCurrentItem(), -1);
    EXPECT_EQ(Take(qnmsg::SelectionChanged).size(), 1u);
    // Only a scroll bar is adopted; a zero line height counts as one.
    l->SetOptions(1, 1, 0, 5, 5, l->GetControlID());
    EXPECT_EQ(l->GetScrollBar(), nullptr);
    EXPECT_EQ(l->GetModel().GetLineHeight(), 1u);
    l->SetOptions(1, 1, 20, 5, 5, 9999);
    EXPECT_EQ(l->GetScrollBar(), nullptr);
    l->AddItem("one", 0, nullptr, 0);
    MoveTo(60, 60);
    hp.Wheel(-2);
    Pump();
    EXPECT_EQ(l->GetModel().GetFirstVisible(), 0u);
}

TEST_F(ListWindow, MissingSelectedSkinFailsTheList)
{
    ListSkin("Bare", false);
    Start();
    EXPECT_EQ(window.AddControl("Bare", qnctl::List), CQNF_Window::None);
    EXPECT_EQ(window.GetError(), qnerr::ControlSkin);
}

TEST_F(ListWindow, AListShorterThanALineGivesAFullThumb)
{
    CQNF_CtrlList* l = MakeList(0, false);
    ASSERT_NE(l, nullptr);
    // 95 pixels at 200 a line: one row, so the bar is told 0 of 0 and then n of 0.
    l->SetOptions(0, 1, 200, 5, 5, bar->GetControlID());
    l->UpdateAfterChanges();
    const qntRECT_s track = bar->GetTrackRect();
    EXPECT_EQ(bar->GetThumbLength(), track.bottom - track.top);
    for (int i = 0; i < 3; ++i)
        l->AddItem("x", 0, nullptr, 0);
    MoveTo(60, 60);
    hp.Wheel(-2);
    Pump();
    EXPECT_LE(l->GetModel().GetFirstVisible(), 3u);
    EXPECT_EQ(bar->GetPosition(), l->GetModel().GetFirstVisible());
}
