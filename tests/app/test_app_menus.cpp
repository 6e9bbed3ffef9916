// The main window's menus as lists, in cut, piece and effects mode, and the
// pure rules of the preview input (splitter stop, knot offset, fit zoom).
#include "app/MainInput.h"
#include "app/MainMenus.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

namespace {

// "text|id|shortcut|d|c" per item, "-" for a separator.
std::vector<std::string> Lines(const qntMENU& m)
{
    std::vector<std::string> out;
    for (const qntMENUITEM& it : m) {
        if (it.IsSeparator()) {
            out.push_back("-");
            continue;
        }
        std::string s = it.text + "|" + std::to_string(it.id);
        if (!it.key.empty())
            s += "|" + it.ShortcutText();
        if (it.disabled)
            s += "|d";
        if (it.checked)
            s += "|c";
        out.push_back(s);
    }
    return out;
}

const qntMENUITEM* Find(const qntMENU& m, uint16_t id)
{
    for (const qntMENUITEM& it : m)
        if (!it.IsSeparator() && it.id == id)
            return &it;
    return nullptr;
}

}  // namespace

TEST(AppMenus, MainMenuInEachMode)
{
    qntMENUSTATE cut;
    EXPECT_EQ(Lines(qnMainMenu(cut)),
              (std::vector<std::string>{"Undo|80|Cmd+Z|d", "-", "Save...|84|Cmd+S", "Load...|88|Cmd+L", "-",
                                        "Export...|89|Cmd+Shift+S", "-", "Relayout...|90|d", "-",
                                        "Apply (Draw Splitter)|86", "Cancel|85", "-", "Preferences...|81"}));
    qntMENUSTATE piece;
    piece.cutMode = 0;
    piece.undoHasStep = 1;
    const qntMENU m = qnMainMenu(piece);
    EXPECT_FALSE(Find(m, 80)->disabled);
    EXPECT_FALSE(Find(m, 90)->disabled);
    EXPECT_EQ(Find(m, 86), nullptr);
    EXPECT_EQ(Find(m, 87)->text, "Apply");
}

TEST(AppMenus, SelectMenuInCutAndPieceMode)
{
    qntMENUSTATE cut;
    cut.someSelected = 1;  // every knife selected: nothing to add
    cut.extrasShown = 1;
    EXPECT_EQ(Lines(qnSelectMenu(cut)),
              (std::vector<std::string>{"Select All Knives|32|Cmd+A|d", "Deselect Knives|33|Cmd+D",
                                        "Inverse Selection|34|Cmd+Shift+I", "-", "Select All Hidden Knives|35",
                                        "Select All Shown Knives|36", "-", "Select All Columns Splitters|37",
                                        "Select All Rows Splitters|38", "Select All Extra Knives|39|Cmd+Opt+A|d",
                                        "-", "Add Randomly Selected Knives|41|Cmd+[|d",
                                        "Deselect Random Knives|42|Cmd+]", "-", "Load Selection...|40", "-",
                                        "Show Extras|47|Cmd+H|c"}));
    qntMENUSTATE piece;
    piece.cutMode = 0;
    piece.someUnselected = 1;
    piece.splitterPiece = 1;
    EXPECT_EQ(Lines(qnSelectMenu(piece)),
              (std::vector<std::string>{"Select All Pieces|32|Cmd+A", "Deselect Pieces|33|Cmd+D|d",
                                        "Inverse Selection|34|Cmd+Shift+I", "-", "Select All Hidden Pieces|35",
                                        "Select All Shown Pieces|36", "-", "Add Randomly Selected Pieces|41|Cmd+[",
                                        "Deselect Random Pieces|42|Cmd+]|d", "-", "Add Splitter to Selection|43|Cmd+P",
                                        "Deselect Splitter|44|Cmd+Opt+P", "-", "Load Selection...|40", "-",
                                        "Show Extras|47|Cmd+H"}));
    // Razor cut: there is no splitter piece to select.
    piece.splitterPiece = 0;
    EXPECT_TRUE(Find(qnSelectMenu(piece), 43)->disabled);
    EXPECT_TRUE(Find(qnSelectMenu(piece), 44)->disabled);
}

TEST(AppMenus, AdjustMenuInCutMode)
{
    qntMENUSTATE s;
    s.canHide = 1;
    s.auxOnlySelection = 1;
    const qntMENU m = qnAdjustMenu(s);
    EXPECT_EQ(m.size(), 27u);  // 20 items, 7 separators
    struct Case {
        uint16_t id;
        bool disabled;
        std::string shortcut;
    } cases[] = {
        {96, true, ""},    {97, false, ""},   {144, false, ""},           {3936, true, ""},
        {3937, true, ""},  {110, false, "Cmd+C"}, {111, true, "Cmd+V"},   {3938, true, ""},
        {98, false, "Cmd+F"}, {99, false, "Cmd+Shift+F"}, {100, false, "Cmd+Shift+Opt+F"},
        {104, true, ""},   {109, true, ""},   {101, false, "Cmd+M"}, {103, false, "Cmd+Shift+Opt+M"},
    };
    for (const Case& c : cases) {
        const qntMENUITEM* it = Find(m, c.id);
        ASSERT_NE(it, nullptr) << c.id;
        EXPECT_EQ(bool(it->disabled), c.disabled) << c.id;
        EXPECT_EQ(it->ShortcutText(), c.shortcut) << c.id;
    }
    s.canAddKnives = s.canDelKnives = s.knifeCopied = s.canEqualize = 1;
    s.auxOnlySelection = 0;
    for (uint16_t id : {3936, 3937, 111, 3938, 104, 109})
        EXPECT_FALSE(Find(qnAdjustMenu(s), id)->disabled) << id;
}

TEST(AppMenus, AdjustMenuInPieceModeFollowsTheEffectWord)
{
    qntMENUSTATE s;
    s.cutMode = 0;
    s.documentRGB = 0;
    // Bevel (1), opacity (6), invert (7) on; a considered piece is shown (15).
    s.fxWord = uint16_t(1 << 1 | 1 << 6 | 1 << 7 | 1 << 15);
    const qntMENU m = qnAdjustMenu(s);
    struct Case {
        uint16_t id;
        bool disabled, checked;
    } cases[] = {
        {96, true, false},  {97, false, false}, {111, true, false}, {116, true, false},  {123, true, false},
        {128, true, false}, {129, true, false}, {119, false, true}, {122, false, true},  {120, false, false},
        {130, false, true}, {143, false, false}, {112, false, false}, {126, false, false},
    };
    for (const Case& c : cases) {
        const qntMENUITEM* it = Find(m, c.id);
        ASSERT_NE(it, nullptr) << c.id;
        EXPECT_EQ(bool(it->disabled), c.disabled) << c.id;
        EXPECT_EQ(bool(it->checked), c.checked) << c.id;
    }
    EXPECT_EQ(Find(m, 117)->ShortcutText(), "Cmd+Shift+U");
    EXPECT_EQ(Find(m, 128)->ShortcutText(), "Cmd+Shift+O");
    s.documentRGB = 1;
    s.layersAvailable = 1;
    s.fxClipboardFull = 1;
    for (uint16_t id : {116, 123, 128, 129, 111})
        EXPECT_FALSE(Find(qnAdjustMenu(s), id)->disabled) << id;
}

TEST(AppMenus, GeneralViewMenuShrinksInEffectsMode)
{
    qntMENUSTATE s;
    s.cutMode = 0;
    s.extrasShown = 1;
    const std::vector<std::string> piece = Lines(qnGeneralViewMenu(s));
    EXPECT_EQ(piece.front(), "Actual Pixels|48|Cmd+Opt+0");
    EXPECT_EQ(piece.back(), "Show Extras|47|Cmd+H|c");
    EXPECT_NE(std::find(piece.begin(), piece.end(), "Inverse Selection|34|Cmd+Opt+I"), piece.end());
    s.fxMode = 1;
    EXPECT_EQ(Lines(qnGeneralViewMenu(s)),
              (std::vector<std::string>{"Actual Pixels|48|Cmd+Opt+0", "Fit on Preview|49|Cmd+0", "Zoom In|50|Cmd++",
                                        "Zoom Out|51|Cmd+-"}));
    qntMENUSTATE cut;
    for (uint16_t id : {43, 44, 47})
        EXPECT_EQ(Find(qnGeneralViewMenu(cut), id), nullptr) << id;
    EXPECT_FALSE(qnGeneralViewMenu(cut).back().IsSeparator());
}

TEST(AppMenus, ContextMenusOfKnivesKnotsPiecesRulersAndUnits)
{
    qntKNIFEMENUSTATE k;
    EXPECT_TRUE(qnKnivesMenu(k).empty());
    // Only a knot: no separator before its item.
    k.knot = 1;
    k.knotAtOrigin = 1;
    EXPECT_EQ(Lines(qnKnivesMenu(k)), (std::vector<std::string>{"Reset Knot Position|263|d"}));
    k = qntKNIFEMENUSTATE{};
    k.knives = 2;
    k.someOn = k.someSelected = 1;
    const qntMENU km = qnKnivesMenu(k);
    EXPECT_TRUE(Find(km, 256)->disabled);
    EXPECT_FALSE(Find(km, 257)->disabled);
    EXPECT_TRUE(Find(km, 261)->disabled);
    EXPECT_TRUE(Find(km, 266)->disabled);
    EXPECT_TRUE(Find(km, 264)->disabled);  // two knives under the point
    EXPECT_EQ(Find(km, 263), nullptr);

    qntMENUSTATE s;
    s.cutMode = 0;
    s.fxWord = 1 << 9;
    s.layersAvailable = 1;
    const qntMENU pm = qnPieceMenu(s, 1, 1);
    EXPECT_NE(Find(pm, 273), nullptr);
    EXPECT_EQ(Find(pm, 272), nullptr);
    EXPECT_NE(Find(pm, 274), nullptr);
    EXPECT_TRUE(Find(pm, 129)->checked);
    EXPECT_TRUE(Find(pm, 277)->disabled);

    EXPECT_EQ(Lines(qnRulerHandleMenu()),
              (std::vector<std::string>{"Center|65", "-", "Select|68", "Deselect|69", "-", "Delete|67"}));
    EXPECT_EQ(Lines(qnRulerInsertMenu(0, 1)), (std::vector<std::string>{"Arrange|64|d", "-", "Insert|66"}));
    EXPECT_EQ(Lines(qnUnitsMenu(3)), (std::vector<std::string>{"Pixels|16", "Inches|17", "Centimeters|18|c",
                                                                "Millimeters|19", "Percent|20"}));
}

TEST(AppPreviewRules, SplitterStopsThreePixelsFromItsNeighbours)
{
    const float pos[3] = {0.25f, 0.5f, 0.75f};
    const double step = 3.0 / 1000;
    struct Case {
        uint16_t s;
        double f, expect;
    } cases[] = {
        {1, 0.6, 0.6},          {1, 0.9, 0.75 - step}, {1, 0.1, 0.25 + step},
        {0, -0.2, 0.0},         {2, 1.5, 1.0},         {0, 0.8, 0.5 - step},
    };
    for (const Case& c : cases)
        EXPECT_NEAR(qnClampSplitter(pos, 3, c.s, c.f, step), c.expect, 1e-6) << c.s << " " << c.f;
    // Neighbours closer than two steps: the splitter stays between them.
    const float close[3] = {0.5f, 0.501f, 0.502f};
    const float got = qnClampSplitter(close, 3, 1, 0.9, step);
    EXPECT_GT(got, 0.5f);
    EXPECT_LT(got, 0.502f);
}

TEST(AppPreviewRules, KnotOffsetAndFitZoom)
{
    EXPECT_FLOAT_EQ(qnKnotOffset(50, 100, 200), 0.25f);
    EXPECT_FLOAT_EQ(qnKnotOffset(-50, 100, 200), -0.5f);
    EXPECT_FLOAT_EQ(qnKnotOffset(900, 100, 200), 1.0f);
    EXPECT_FLOAT_EQ(qnKnotOffset(-900, 100, 200), -1.0f);
    EXPECT_FLOAT_EQ(qnKnotOffset(10, 100, 0.00001), 0.0f);
    // Small pictures grow up to 16 times; huge ones shrink to 1/16 at most.
    EXPECT_EQ(qnFitZoomStep(40, 30, 680, 508), 8);
    EXPECT_EQ(qnFitZoomStep(100, 100, 680, 508), 6);
    EXPECT_EQ(qnFitZoomStep(680, 508, 680, 508), 4);
    EXPECT_EQ(qnFitZoomStep(4000, 3000, 680, 508), 1);
    EXPECT_EQ(qnFitZoomStep(60000, 60000, 680, 508), 0);
}
