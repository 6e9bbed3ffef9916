#include "ui/EditLineModel.h"

#include "imaging/Image.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

using qnui::EditLineModel;

namespace {

// Codes 32..126 only; every glyph 5 wide with 1 after it ('W' is 9 wide),
// so positions are easy to reckon. Code 127 and up have no glyph.
class FakeGlyphs : public qnui::GlyphSource {
public:
    const uint8_t* Glyph(uint8_t code, qnui::GlyphInfo& g) const override
    {
        if (code < 32 || code > 126)
            return nullptr;
        g.a = 0;
        g.c = 1;
        g.top = -7;
        g.w = code == 'W' ? 9 : 5;
        g.h = 7;
        return full_;
    }
    int Ascent() const override { return 7; }

private:
    uint8_t full_[9 * 7] = {255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
                            255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
                            255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
                            255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255};
};

struct Recorder : qnui::EditLineHost {
    int redraws = 0, changes = 0, endFocus = 0, beeps = 0;
    std::vector<std::string> changedTexts;
    std::string clipboard;
    bool hasClip = false;
    EditLineModel* model = nullptr;
    void EditRedraw() override { ++redraws; }
    void EditChanged() override
    {
        ++changes;
        changedTexts.push_back(model->GetText());
    }
    void EditEndFocus() override { ++endFocus; }
    void EditBeep() override { ++beeps; }
    bool ClipboardHasText() override { return hasClip; }
    bool ClipboardGetText(std::string& t) override
    {
        t = clipboard;
        return hasClip;
    }
    void ClipboardSetText(const std::string& t) override
    {
        clipboard = t;
        hasClip = true;
    }
};

// A field whose text area runs from x = 10 to 70 (ten 6-pixel glyphs).
struct Field {
    FakeGlyphs glyphs;
    Recorder host;
    EditLineModel m;
    explicit Field(const std::string& text = "", bool focus = true)
    {
        host.model = &m;
        m.SetHost(&host);
        m.SetGlyphs(&glyphs);
        m.SetGeometry(10, 70, 9, 71);
        m.SetText(text, false);
        if (focus)
            m.FocusGained();
        m.Layout();
        host.changes = 0;
        host.changedTexts.clear();
    }
    std::string Sel()
    {
        long s, e;
        m.GetSelection(&s, &e, nullptr);
        return std::to_string(s) + ".." + std::to_string(e);
    }
};

constexpr uint8_t kShift = EditLineModel::kModShift, kOpt = EditLineModel::kModOption,
                  kCmd = EditLineModel::kModCommand, kCtrl = EditLineModel::kModControl;

}  // namespace

TEST(EditLineModel, SetSelectionOrdersAndLimitsItsEnds)
{
    struct Case {
        const char* text;
        long start, end;
        const char* want;
    } cases[] = {
        {"hello", 1, 3, "1..3"},   {"hello", 4, 1, "1..4"},   // reversed: ordered
        {"hello", 9, 2, "2..5"},   {"hello", 7, 9, "4..5"},   // limited to the text
        {"hello", -1, 3, "-1..-1"}, {"hello", 2, -5, "-1..-1"}, // a negative end: none
        {"", 0, 0, "-1..-1"},
    };
    for (const Case& c : cases) {
        Field f(c.text);
        f.m.SetSelection(c.start, c.end);
        EXPECT_EQ(f.Sel(), c.want) << c.text << " " << c.start << "," << c.end;
    }
    // A reversed selection is then replaced without harm.
    Field f("abcdef");
    f.m.SetSelection(4, 1);
    f.m.KeyChar('x', 0);
    EXPECT_EQ(f.m.GetText(), "axef");
    EXPECT_EQ(f.m.GetCaretPos(), 2);
}

TEST(EditLineModel, MouseSelectionAroundTheFocusClick)
{
    Field f("abcdefgh", false);
    f.m.FocusGained();   // the focusing click's SetFocus(1)
    f.m.MouseDown(40, 0);  // the click itself keeps the whole text selected
    EXPECT_EQ(f.Sel(), "0..8");
    f.m.MouseUp();
    f.m.MouseDown(22, 0);  // the next click clears and puts the caret at 2
    EXPECT_EQ(f.Sel(), "-1..-1");
    EXPECT_EQ(f.m.GetCaretPos(), 2);
    f.m.MouseDrag(40);  // a drag selects from the click
    EXPECT_EQ(f.Sel(), "2..5");
    f.m.MouseDrag(10);  // back past the anchor: ordered
    EXPECT_EQ(f.Sel(), "0..2");
    f.m.MouseUp();
    f.m.MouseDown(46, kShift);  // Shift moves the nearer end (the end, 2) to 6
    EXPECT_EQ(f.Sel(), "0..6");
    f.m.MouseUp();
    f.m.MouseDown(15, kShift);  // caret 1 (x 16): the start is nearer
    EXPECT_EQ(f.Sel(), "1..6");
}

TEST(EditLineModel, WordAndAllSelection)
{
    struct Case {
        const char* text;
        long p;
        const char* want;
    } cases[] = {
        {"ab cd-ef", 4, "3..5"},  {"ab cd-ef", 3, "3..5"},  {"ab cd-ef", 5, "3..5"},
        {"ab  cd", 3, "0..3"},    // between words: the previous word and the blanks
        {"  ab", 0, "-1..-1"},    // nothing before: no selection
        {"  ab", 1, "0..1"},      // the blanks before, with no word
        {"x9Z", 0, "0..3"},
    };
    for (const Case& c : cases) {
        Field f(c.text);
        f.m.SelectWordAt(c.p);
        EXPECT_EQ(f.Sel(), c.want) << c.text << " at " << c.p;
    }
    Field f("some text");
    f.m.TripleClick();
    EXPECT_EQ(f.Sel(), "0..9");
    f.m.KeyChar(1, kCmd);  // Command-A
    EXPECT_EQ(f.Sel(), "0..9");
}

TEST(EditLineModel, KeysMoveTheCaretAndExtendTheSelection)
{
    struct Case {
        const char* text;
        long caret;
        uint8_t key, mods;
        long wantCaret;
        const char* wantSel;
    } cases[] = {
        {"ab cd ef", 4, EditLineModel::kKeyLeft, 0, 3, "-1..-1"},
        {"ab cd ef", 4, EditLineModel::kKeyLeft, kOpt, 3, "-1..-1"},
        {"ab cd ef", 3, EditLineModel::kKeyLeft, kOpt, 0, "-1..-1"},
        {"ab cd ef", 3, EditLineModel::kKeyRight, kOpt, 5, "-1..-1"},
        {"ab cd ef", 5, EditLineModel::kKeyRight, kOpt, 8, "-1..-1"},
        {"ab cd ef", 0, EditLineModel::kKeyLeft, 0, 0, "-1..-1"},
        {"ab cd ef", 8, EditLineModel::kKeyRight, 0, 8, "-1..-1"},
        {"ab cd ef", 4, EditLineModel::kKeyRight, kShift, 5, "4..5"},
        {"ab cd ef", 4, EditLineModel::kKeyLeft, kShift | kOpt, 3, "3..4"},
        {"ab cd ef", 4, EditLineModel::kKeyLeft, kCtrl, 0, "-1..-1"},   // Control-Left is Home
        {"ab cd ef", 4, EditLineModel::kKeyRight, kCtrl, 8, "-1..-1"},  // Control-Right is End
        {"ab cd ef", 4, EditLineModel::kKeyUp, 0, 0, "-1..-1"},         // free text: Up is Home
        {"ab cd ef", 4, EditLineModel::kKeyDown, kShift, 8, "4..8"},    // Shift-Down is Shift-End
    };
    for (const Case& c : cases) {
        Field f(c.text);
        f.m.SetSelection(-1, -1);
        f.m.SetCaretPos(c.caret);
        f.m.KeyDown(c.key, c.mods);
        EXPECT_EQ(f.m.GetCaretPos(), c.wantCaret) << c.caret << " key " << int(c.key) << " mods " << int(c.mods);
        EXPECT_EQ(f.Sel(), c.wantSel) << c.caret << " key " << int(c.key) << " mods " << int(c.mods);
        EXPECT_EQ(f.host.changes, 0);
    }
}

TEST(EditLineModel, DeletionsReportEveryChange)
{
    struct Case {
        const char* text;
        long caret;
        uint8_t key, mods;
        const char* want;
        long wantCaret;
    } cases[] = {
        {"abc", 0, EditLineModel::kKeyBackspace, 0, "abc", 0},  // nothing deleted, still reported
        {"abc", 2, EditLineModel::kKeyBackspace, 0, "ac", 1},
        {"ab cd", 5, EditLineModel::kKeyBackspace, kOpt, "ab ", 3},
        {"abc", 1, EditLineModel::kKeyDelete, 0, "ac", 1},
        {"ab cd", 0, EditLineModel::kKeyDelete, kOpt, " cd", 0},
        {"abc", 3, EditLineModel::kKeyDelete, 0, "abc", 3},
    };
    for (const Case& c : cases) {
        Field f(c.text);
        f.m.SetSelection(-1, -1);
        f.m.SetCaretPos(c.caret);
        f.m.KeyDown(c.key, c.mods);
        EXPECT_EQ(f.m.GetText(), c.want) << c.text << " key " << int(c.key);
        EXPECT_EQ(f.m.GetCaretPos(), c.wantCaret) << c.text << " key " << int(c.key);
        EXPECT_EQ(f.host.changes, 1) << c.text << " key " << int(c.key);
    }
    Field ro("abc");
    ro.m.SetOptions(false, true, false, true, false);
    ro.m.KeyDown(EditLineModel::kKeyBackspace, 0);
    ro.m.KeyChar('x', 0);
    EXPECT_EQ(ro.m.GetText(), "abc");
    EXPECT_EQ(ro.host.changes, 0);
}

TEST(EditLineModel, TypingAndTheNumericFilter)
{
    Field f("123");
    f.m.SetOptions(true, false, false, false, false);
    f.m.FocusGained();      // whole text selected
    f.m.KeyChar('5', 0);    // replaces it, one report with "5"
    EXPECT_EQ(f.host.changedTexts, std::vector<std::string>{"5"});
    for (uint8_t ch : {uint8_t('-'), uint8_t('.'), uint8_t('a'), uint8_t(' ')})
        f.m.KeyChar(ch, 0);
    EXPECT_EQ(f.m.GetText(), "5");
    f.m.SetOptions(true, true, true, false, false);
    f.m.KeyChar('.', 0);
    f.m.KeyChar('-', 0);
    EXPECT_EQ(f.m.GetText(), "5.-");
    EXPECT_EQ(f.host.changes, 3);

    // A code the font lacks is not typed.
    Field t("ab");
    t.m.SetCaretPos(2);
    t.m.KeyChar(200, 0);
    t.m.KeyChar(7, 0);
    EXPECT_EQ(t.m.GetText(), "ab");
    EXPECT_EQ(t.host.changes, 0);
}

TEST(EditLineModel, NumericSteppingFormatsAndLimits)
{
    struct Case {
        bool decimals, minus;
        double step;
        const char* text;
        int n;
        const char* want;
    } cases[] = {
        {false, true, 1, "12", 1, "13"},         {false, true, 1, "12", -10, "2"},
        {false, false, 1, "3", -10, "0"},        {false, true, 1, "3", -10, "-7"},
        {false, true, 1, " 7kg", 1, "8"},        {false, true, 1, "", 1, "1"},
        {false, true, 5, "2147483647", 1, "2147483647"},  // held at the end of the range
        {false, true, 0.5, "4", 1, "4"},          // a whole-number step of 0
        {true, true, 0.1, "1.25", 1, "1.4"},      // %.1f
        {true, true, 0.05, "1", 1, "1.05"},       // %.2f
        {true, true, 1, "2.6", 1, "4"},           // %.0f
        {true, false, 0.1, "0.05", -1, "0.0"},    // not below 0
        {true, true, 0.1, "0.1", -3, "-0.2"},
    };
    for (const Case& c : cases) {
        Field f(c.text);
        f.m.SetOptions(true, c.minus, c.decimals, false, false);
        f.m.SetWheelStep(c.step);
        f.m.Step(c.n);
        EXPECT_EQ(f.m.GetText(), c.want) << c.text << " + " << c.n << " x " << c.step;
    }
    // Up steps once, Shift-Up ten times; the wheel likewise, only when focused.
    Field f("12");
    f.m.SetOptions(true, true, false, false, false);
    f.m.KeyDown(EditLineModel::kKeyUp, 0);
    EXPECT_EQ(f.m.GetText(), "13");
    f.m.KeyDown(EditLineModel::kKeyDown, kShift);
    EXPECT_EQ(f.m.GetText(), "3");
    EXPECT_TRUE(f.m.Wheel(2, kShift));
    EXPECT_EQ(f.m.GetText(), "23");
    EXPECT_EQ(f.host.changes, 3);
    f.m.FocusLost();
    EXPECT_FALSE(f.m.Wheel(1, 0));
}

TEST(EditLineModel, EscReturnAndTabEndEditing)
{
    Field f("old");
    f.m.KeyChar('n', 0);
    EXPECT_EQ(f.m.GetText(), "n");
    f.host.changes = 0;
    f.m.KeyDown(EditLineModel::kKeyEsc, 0);
    EXPECT_EQ(f.m.GetText(), "old");  // restored, without a report
    EXPECT_EQ(f.host.changes, 0);
    EXPECT_EQ(f.host.endFocus, 1);
    f.m.KeyDown(EditLineModel::kKeyTab, 0);
    EXPECT_EQ(f.host.endFocus, 1);  // Tab ignored
    f.m.SetOptions(false, true, false, false, true);
    f.m.KeyDown(EditLineModel::kKeyTab, 0);
    f.m.KeyDown(EditLineModel::kKeyReturn, 0);
    EXPECT_EQ(f.host.endFocus, 3);
}

TEST(EditLineModel, ClipboardRoundTripAndFilters)
{
    Field f("hello world");
    f.m.SetSelection(0, 5);
    f.m.KeyChar(3, kCmd);  // copy
    EXPECT_EQ(f.host.clipboard, "hello");
    EXPECT_EQ(f.host.changes, 0);
    f.m.KeyChar(24, kCmd);  // cut
    EXPECT_EQ(f.m.GetText(), " world");
    f.m.SetCaretPos(6);
    f.m.KeyChar(22, kCmd);  // paste at the end: the pasted text becomes the selection
    EXPECT_EQ(f.m.GetText(), " worldhello");
    EXPECT_EQ(f.Sel(), "6..11");
    EXPECT_EQ(f.host.changes, 2);

    // Characters without a glyph (and control codes) are dropped on paste.
    Field g("");
    g.host.ClipboardSetText(std::string("a\tb\xE9" "c\n"));
    g.m.Paste();
    EXPECT_EQ(g.m.GetText(), "abc");

    // Numeric fields keep only what may be typed there.
    Field n("7");
    n.m.SetOptions(true, false, true, false, false);
    n.host.ClipboardSetText("-1,234.5 kg");
    n.m.Paste();  // replaces the selection from the focus
    EXPECT_EQ(n.m.GetText(), "1234.5");

    // Read-only: paste beeps, cut only copies.
    Field r("keep");
    r.m.SetOptions(false, true, false, true, false);
    r.host.ClipboardSetText("x");
    r.m.Paste();
    EXPECT_EQ(r.host.beeps, 1);
    r.m.SelectAll();
    r.m.Cut();
    EXPECT_EQ(r.m.GetText(), "keep");
    EXPECT_EQ(r.host.clipboard, "keep");
}

TEST(EditLineModel, UndoSwapsTheTwoTexts)
{
    Field f("first");
    f.m.SetText("second", true);
    f.m.KeyChar(26, kCmd);
    EXPECT_EQ(f.m.GetText(), "first");
    f.m.KeyChar(26, kCmd);
    EXPECT_EQ(f.m.GetText(), "second");
    EXPECT_EQ(f.host.changes, 3);
    EXPECT_EQ(f.Sel(), "-1..-1");
}

TEST(EditLineModel, ScrollingKeepsTheCaretVisible)
{
    Field f("0123456789abcdefghij");  // 20 glyphs, 10 fit
    f.m.SetSelection(-1, -1);
    f.m.KeyDown(EditLineModel::kKeyEnd, 0);
    f.m.Layout();
    EXPECT_EQ(f.m.GetFirstVisible(), 10);  // 10..19 and the caret at the end
    EXPECT_EQ(f.m.GetVisibleCount(), 10);
    for (int i = 0; i < 10; ++i)
        f.m.KeyDown(EditLineModel::kKeyLeft, 0);
    f.m.Layout();
    EXPECT_EQ(f.m.GetFirstVisible(), 10);
    EXPECT_EQ(f.m.GetCaretPos(), 10);
    // A change with the caret on the first visible one shows one more on the left.
    f.m.KeyDown(EditLineModel::kKeyDelete, 0);
    EXPECT_EQ(f.m.GetFirstVisible(), 9);
    f.m.KeyDown(EditLineModel::kKeyLeft, 0);
    f.m.Layout();
    EXPECT_EQ(f.m.GetFirstVisible(), 9);
    f.m.KeyChar('x', 0);
    EXPECT_EQ(f.m.GetFirstVisible(), 9);
    // A drag past the right edge scrolls one character a move.
    f.m.SetCaretPos(0);
    f.m.Layout();
    f.m.MouseDown(10, 0);
    const long before = f.m.GetFirstVisible();
    f.m.MouseDrag(200);
    EXPECT_EQ(f.m.GetFirstVisible(), before + 1);
}

TEST(EditLineModel, CharactersWithoutGlyphTakeNoWidth)
{
    Field f("a\x01\xF0" "b", false);
    f.m.Layout();
    ASSERT_EQ(f.m.GetVisibleCount(), 4);
    const auto& pos = f.m.GetPositions();
    EXPECT_EQ(pos[1], 16);
    EXPECT_EQ(pos[2], 16);
    EXPECT_EQ(pos[3], 16);
    EXPECT_EQ(pos[4], 22);
    EXPECT_EQ(f.m.GetWidths()[1], 0);
}

TEST(EditLineModel, PaintsBandTextAndCaret)
{
    Field f("ab");
    CQNF_Image layer;
    ASSERT_TRUE(layer.Create(64, 12, qnimg::ModeRGBA));
    const auto& col = qnui::DefaultEditLineColours();
    // Layer at (9, 0); text area 10..70 x 1..11. Selection 0..1 shows the
    // band over 'a' with the glyph in colour 8 (white), 'b' in black.
    f.m.SetSelection(0, 1);
    EXPECT_FALSE(qnui::PaintEditLine(layer, 9, 0, 1, 11, 0, f.m, &f.glyphs, col, 4, 1));
    auto px = [&](int x, int y, int p) { return layer.GetPlane(p)[y * 64 + x]; };
    EXPECT_EQ(px(0, 5, 0), 255);   // left margin: background of state 4
    EXPECT_EQ(px(3, 0, 2), 255);   // top margin: no band
    EXPECT_EQ(px(6, 10, 2), 235);  // band below the glyph (x 15 is 'a''s gap column)
    EXPECT_EQ(px(2, 4, 0), 253);   // 'a' drawn white over the band: k = 254
    EXPECT_EQ(px(8, 4, 0), 0);     // 'b' black on white
    // Without a selection the caret inverts one column before the caret.
    f.m.SetSelection(-1, -1);
    f.m.SetCaretPos(2);
    EXPECT_TRUE(qnui::PaintEditLine(layer, 9, 0, 1, 11, 0, f.m, &f.glyphs, col, 4, 1));
    EXPECT_EQ(px(12, 5, 0), 0);  // x = 22 - 0 - 1 = 21: white inverted
    EXPECT_EQ(px(12, 0, 0), 255);
    EXPECT_TRUE(qnui::ToggleCaret(layer, 9, 0, 1, 11, f.m, 1));
    EXPECT_EQ(px(12, 5, 0), 255);
}

// The digits stand in the middle of the text area, however tall it is.
TEST(EditLineModel, DigitsAreCentredInTheTextArea)
{
    const auto& col = qnui::DefaultEditLineColours();
    for (const int height : {7, 10, 13, 20, 25}) {
        SCOPED_TRACE(height);
        Field f("0");
        CQNF_Image layer;
        ASSERT_TRUE(layer.Create(64, uint16_t(height + 4), qnimg::ModeRGBA));
        // Layer at (9, 0); text area rows 2 .. 2 + height.
        qnui::PaintEditLine(layer, 9, 0, 2, 2 + height, 0, f.m, &f.glyphs, col, 1, 1);
        int first = -1, last = -1;
        for (int y = 0; y < layer.GetImageHeight(); ++y)
            for (int x = 0; x < 64; ++x)
                if (layer.GetPlane(0)[y * 64 + x] != col.c[0].r) {
                    first = first < 0 ? y : first;
                    last = y;
                }
        ASSERT_GE(first, 0);
        const int above = first - 2, below = 2 + height - 1 - last;
        EXPECT_LE(std::abs(above - below), 1) << above << " above, " << below << " below";
    }
}
