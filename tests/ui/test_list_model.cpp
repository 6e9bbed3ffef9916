#include "ui/ListModel.h"

#include <gtest/gtest.h>

#include <string>

using qnui::ListModel;

namespace {

// Item area (10, 20)-(110, 115): 95 pixels at 20 a line gives 5 rows; text
// origin 5, 5 inside it.
ListModel MakeList(int items, bool multi)
{
    ListModel l;
    l.SetArea({10, 20, 110, 115});
    l.SetOptions(multi, true, 20, 5, 5);
    for (int i = 0; i < items; ++i)
        l.AddItem("item " + std::to_string(i), false, nullptr);
    return l;
}

std::string Selected(const ListModel& l)
{
    std::string s;
    for (uint32_t i = 0; i < l.GetItemsCount(); ++i) {
        bool sel = false;
        l.GetItem(i, nullptr, &sel, nullptr);
        if (sel)
            s += (s.empty() ? "" : ",") + std::to_string(i);
    }
    return s;
}

// The window y of the middle of a row.
int RowY(int row) { return 20 + 5 + row * 20 + 5; }

constexpr uint8_t kShift = ListModel::kRangeMods, kCmd = ListModel::kToggleMods;

}  // namespace

TEST(ListModel, RowsAndLineHeight)
{
    ListModel l = MakeList(0, false);
    EXPECT_EQ(l.GetVisibleRows(), 5u);  // 95 / 20 + 1
    l.SetOptions(false, true, 0, 5, 5);  // no division by a zero line height
    EXPECT_EQ(l.GetLineHeight(), 1u);
    EXPECT_EQ(l.GetVisibleRows(), 96u);
    l.SetArea({0, 0, 10, -5});  // an inverted area: one row
    EXPECT_EQ(l.GetVisibleRows(), 1u);
}

TEST(ListModel, SelectItemsWalks)
{
    struct Case {
        uint32_t from, to;
        bool clear, toggle;
        const char* want;
        long current;
    } cases[] = {
        {2, 4, true, false, "2,3,4", 4},
        {4, 2, true, false, "2,3,4", 2},          // downward ends on the lower
        {0xFFFFFFFFu, 3, true, false, "", 1},      // -1 down to 3: an empty walk
        {5, 50, true, false, "5,6,7,8,9", 9},      // beyond the items: skipped
        {50, 8, true, false, "8,9", 8},
        {1, 1, false, true, "", 1},                // toggles item 1 off
        {3, 5, false, false, "1,3,4,5", 5},
        {0, 0xFFFFFFFFu, true, false, "0,1,2,3,4,5,6,7,8,9", 9},
    };
    for (const Case& c : cases) {
        ListModel l = MakeList(10, true);
        l.SelectItems(1, 1, false, false, false);
        l.SelectItems(c.from, c.to, c.clear, c.toggle, false);
        EXPECT_EQ(Selected(l), c.want) << c.from << ".." << c.to;
        EXPECT_EQ(l.GetCurrentItem(), c.current) << c.from << ".." << c.to;
    }
}

TEST(ListModel, SelectAllOnAnEmptyListReturnsAtOnce)
{
    ListModel l = MakeList(0, true);
    // count - 1 as an unsigned number: the walk is limited to the items.
    EXPECT_FALSE(l.SelectItems(0, uint32_t(l.GetItemsCount() - 1), true, false, true));
    EXPECT_EQ(l.GetCurrentItem(), -1);
    EXPECT_EQ(l.GetFirstVisible(), 0u);
}

TEST(ListModel, ClicksSelectByModifiers)
{
    struct Case {
        bool multi;
        int firstRow;
        uint8_t firstMods;
        int secondRow;
        uint8_t secondMods;
        const char* want;
    } cases[] = {
        {false, 1, 0, 3, 0, "3"},
        {false, 1, 0, 3, kCmd, "3"},          // single selection ignores modifiers
        {true, 1, 0, 3, kCmd, "1,3"},         // toggle adds
        {true, 1, 0, 1, kCmd, ""},            // toggle removes
        {true, 1, 0, 3, kShift, "1,2,3"},     // range after clearing
        {true, 3, 0, 1, kShift, "1,2,3"},
        {true, 0, 0, 2, kCmd, "0,2"},
        {false, 1, 0, 4, 0, "4"},
    };
    for (const Case& c : cases) {
        ListModel l = MakeList(5, c.multi);
        EXPECT_TRUE(l.Click(50, RowY(c.firstRow), c.firstMods));
        EXPECT_TRUE(l.Click(50, RowY(c.secondRow), c.secondMods));
        EXPECT_EQ(Selected(l), c.want) << c.firstRow << " then " << c.secondRow << " mods " << int(c.secondMods);
    }
    // Command-Shift adds a range to what is there.
    ListModel l = MakeList(8, true);
    l.Click(50, RowY(0), 0);
    l.Click(50, RowY(2), kCmd);
    l.Click(50, RowY(4), kCmd | kShift);
    EXPECT_EQ(Selected(l), "0,2,3,4");
    EXPECT_EQ(l.GetCurrentItem(), 4);
    // Below the last item: cleared, nothing selected; outside the text span: ignored.
    ListModel s = MakeList(2, false);
    s.Click(50, RowY(1), 0);
    EXPECT_TRUE(s.Click(50, RowY(3), 0));
    EXPECT_EQ(Selected(s), "");
    EXPECT_FALSE(s.Click(12, RowY(0), 0));
    EXPECT_FALSE(s.Click(50, 22, 0));
}

TEST(ListModel, KeysWalkAndScroll)
{
    ListModel l = MakeList(12, true);
    EXPECT_TRUE(l.Key(ListModel::kKeyDown, 0));  // no current item: the first
    EXPECT_EQ(Selected(l), "0");
    for (int i = 0; i < 4; ++i)
        l.Key(ListModel::kKeyDown, 0);
    EXPECT_EQ(Selected(l), "4");
    EXPECT_EQ(l.GetFirstVisible(), 1u);  // the fifth row scrolled up to the fourth
    l.Key(ListModel::kKeyUp, kShift);
    l.Key(ListModel::kKeyUp, kShift);
    EXPECT_EQ(Selected(l), "2,3,4");
    l.Key(ListModel::kKeyEnd, 0);
    EXPECT_EQ(Selected(l), "11");
    EXPECT_EQ(l.GetFirstVisible(), 8u);
    EXPECT_TRUE(l.Key(ListModel::kKeyDown, 0));  // on the last: stays
    EXPECT_EQ(Selected(l), "11");
    l.Key(ListModel::kKeyHome, 0);
    EXPECT_EQ(l.GetFirstVisible(), 0u);
    l.Key(ListModel::kKeyEnd, kShift);
    EXPECT_EQ(l.GetCurrentItem(), 11);
    EXPECT_EQ(Selected(l), "0,1,2,3,4,5,6,7,8,9,10,11");
    EXPECT_FALSE(l.Key(5, 0));  // other keys go on to the window

    // Single selection: Shift does not make a range.
    ListModel s = MakeList(5, false);
    s.Key(ListModel::kKeyDown, 0);
    s.Key(ListModel::kKeyDown, kShift);
    EXPECT_EQ(Selected(s), "1");
    ListModel e = MakeList(0, true);
    EXPECT_TRUE(e.Key(ListModel::kKeyEnd, 0));
    EXPECT_TRUE(e.Key(ListModel::kKeyUp, kShift));
    EXPECT_EQ(e.GetCurrentItem(), -1);
}

TEST(ListModel, VisibleTextAndBands)
{
    ListModel l = MakeList(9, true);
    l.SetFirstVisible(3);
    // Rows 3 .. 3 + 5, the last one cut by the area.
    EXPECT_EQ(l.VisibleText(), "item 3\nitem 4\nitem 5\nitem 6\nitem 7\nitem 8\n");
    l.SelectItems(2, 2, false, false, false);
    l.SelectItems(4, 4, false, false, false);
    l.SelectItems(7, 8, false, false, false);
    EXPECT_EQ(l.BandRows(true), (std::vector<int>{25, 85}));  // rows 1 and 4; 8 is past the rows shown
    l.SetOptions(true, false, 20, 5, 5);
    EXPECT_TRUE(l.BandRows(false).empty());
    l.SetOptions(false, true, 20, 5, 5);
    EXPECT_EQ(l.BandRows(false), (std::vector<int>{25}));  // single: the first only
}
