#include "edit_fixture.h"
#include "ui/CtrlEditLine.h"

namespace {

using qnkey::vk::DownArrow;
using qnkey::vk::End;
using qnkey::vk::Escape;
using qnkey::vk::LeftArrow;
using qnkey::vk::Return;
using qnkey::vk::Tab;
using qnkey::vk::UpArrow;

constexpr qntRECT_s kField{20, 20, 120, 36};  // text area 21..119 x 21..35

class EditLineWindow : public edittest::Fixture {
protected:
    CQNF_CtrlEditLine* Field(bool numeric)
    {
        skin.Folder("UIResources>Edits>Field");
        Rect("UIResources>Edits>Field", kField);
        Start();
        Activate();
        auto* f = Add<CQNF_CtrlEditLine>("Field", qnctl::EditLine);
        if (f) {
            f->SetFont(Font());
            f->SetOptions(numeric, 1, 0, 0, 0, 0);
        }
        return f;
    }
    size_t Changes() { return Take(qnmsg::TextEdited).size(); }
};

}  // namespace

TEST_F(EditLineWindow, TypingTwelveThenUpGivesThirteen)
{
    CQNF_CtrlEditLine* f = Field(true);
    ASSERT_NE(f, nullptr);
    Click(60, 28);
    EXPECT_EQ(f->GetState(), CQNF_CtrlEditLine::kEditing);
    Type("12");
    KeyPress(UpArrow);
    EXPECT_STREQ(f->GetText().GetStr(), "13");
    EXPECT_EQ(Changes(), 3u);
    KeyPress(DownArrow, plat::mods::Shift);
    EXPECT_STREQ(f->GetText().GetStr(), "3");
    hp.Wheel(2);
    Pump();
    EXPECT_STREQ(f->GetText().GetStr(), "5");
    Type("x-");  // a letter never reaches a numeric field; "-" goes in at the caret (0 after a step)
    EXPECT_STREQ(f->GetText().GetStr(), "-5");
}

TEST_F(EditLineWindow, ClipboardRoundTripThroughThePlatform)
{
    CQNF_CtrlEditLine* f = Field(false);
    ASSERT_NE(f, nullptr);
    f->SetText("hello", 0);
    Click(60, 28);  // focus: the whole text is selected
    KeyPress(qnkey::vk::C, plat::mods::Command, 'c');
    EXPECT_TRUE(hp.clipboardHasText);
    EXPECT_EQ(hp.clipboard, "hello");
    KeyPress(End);
    KeyPress(qnkey::vk::V, plat::mods::Command, 'v');
    EXPECT_STREQ(f->GetText().GetStr(), "hellohello");
    hp.clipboard = std::string("a\x01" "b\xE9");
    KeyPress(End);
    KeyPress(qnkey::vk::V, plat::mods::Command, 'v');
    EXPECT_STREQ(f->GetText().GetStr(), "hellohelloab");
    KeyPress(qnkey::vk::Z, plat::mods::Command, 'z');  // undo: back to the text at focus
    EXPECT_STREQ(f->GetText().GetStr(), "hello");
}

TEST_F(EditLineWindow, EscRestoresWithoutReportAndEveryKeyIsTaken)
{
    CQNF_CtrlEditLine* f = Field(false);
    ASSERT_NE(f, nullptr);
    f->SetText("keep", 0);
    Click(60, 28);
    Type("new");
    EXPECT_EQ(Changes(), 3u);
    KeyPress(Tab);  // not set to end editing: ignored
    EXPECT_TRUE(f->IsFocused());
    KeyPress(Escape);
    EXPECT_STREQ(f->GetText().GetStr(), "keep");
    EXPECT_EQ(Changes(), 0u);
    EXPECT_FALSE(f->IsFocused());
    EXPECT_EQ(window.GetFocusedControl(), CQNF_Window::None);
    // Return ends editing too, and the next click focuses again.
    Click(60, 28);
    KeyPress(Return);
    EXPECT_FALSE(f->IsFocused());
    Click(60, 28);
    EXPECT_TRUE(f->IsFocused());
}

TEST_F(EditLineWindow, StatesShowTheirColoursAndTheCaretBlinks)
{
    CQNF_CtrlEditLine* f = Field(false);
    ASSERT_NE(f, nullptr);
    f->SetText("ab", 0);
    MoveTo(100, 22);  // hovered: colour 1, opaque
    EXPECT_EQ(Pixel(100, 20), 0xDFC8EBu);
    Click(100, 28);   // editing: white background, the focus click keeps all selected
    EXPECT_EQ(Pixel(100, 20), 0xFFFFFFu);
    KeyPress(End);    // no selection: the caret at x = 21 + 12 - 1 = 32
    const uint32_t shown = Pixel(32, 28);
    EXPECT_EQ(shown, 0x000000u);  // white inverted
    Pump(CQNF_App::GetCaretDelay());
    EXPECT_EQ(Pixel(32, 28), 0xFFFFFFu);
    Pump(CQNF_App::GetCaretDelay());
    EXPECT_EQ(Pixel(32, 28), shown);
    MoveTo(200, 100);
    KeyPress(Return);  // the pointer is away: normal state again
    EXPECT_EQ(f->GetState(), CQNF_CtrlEditLine::kNormal);
    f->Enable(0);
    EXPECT_EQ(f->GetState(), CQNF_CtrlEditLine::kDisabled);
}

TEST_F(EditLineWindow, MissingRectangleFailsTheField)
{
    skin.Folder("UIResources>Edits>Half");
    skin.Number("UIResources>Edits>Half>Rect Left", uint16_t(5));
    Start();
    EXPECT_EQ(window.AddControl("Half", qnctl::EditLine), CQNF_Window::None);
    EXPECT_EQ(window.GetError(), qnerr::ControlSkin);
}
