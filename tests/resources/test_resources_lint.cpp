// The lint and the parser refuse broken manifests with a message naming the line.
#include "resources/compiler/Compile.h"
#include "resources/compiler/Error.h"
#include "resources/compiler/Manifest.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Window(const std::string& body, const char* size = "200x120")
{
    return std::string("window W ") + size + " \"W\"\n" + body + "end\n";
}

TEST(ResourceLint, SoundManifestIsClean)
{
    const rc::Manifest m = rc::ParseManifestText(
        Window("  button W_Ok 120,80,60,24 \"OK\"\n"
               "  radio W_A 10,40,60,20 \"A\" group=1\n  radio W_B 80,40,60,20 \"B\" group=1\n"
               "  slider W_S 10,70,100,20 0..100\n  scroll W_V 180,34,14,80 v\n"),
        "ok.qnui", ".");
    EXPECT_TRUE(rc::Lint(m).empty());
}

TEST(ResourceLint, EachKindOfBrokenManifestIsNamedWithItsLine)
{
    struct Case {
        std::string text;
        const char* message;  // expected within the first problem
    } cases[] = {
        {Window("  button W_Ok 150,80,60,24\n"), "m:2: button 'W_Ok' lies outside window 'W'"},
        {Window("  button W_Ok 10,40,0,24\n"), "m:2: button 'W_Ok' is empty"},
        {Window("  rect W_R 10,110,20,20\n"), "m:2: rect 'W_R' lies outside"},
        {Window("  radio W_A 10,40,60,20 \"A\" group=3\n"), "m:2: radio 'W_A' is alone in group 3"},
        {Window("  radio W_A 10,40,60,20 \"A\" group=255\n  radio W_B 80,40,60,20 \"B\" group=255\n"),
         "m:2: radio 'W_A' group must be 0..254"},
        {Window("  slider W_S 10,40,100,20 9..1\n"), "m:2: slider 'W_S' needs 0 <= A <= B"},
        {Window("  slider W_S 10,40,100,20 0..5000\n"), "more than 4096 positions"},
        {Window("  slider W_S 10,40,16,20 0..3\n"), "m:2: slider 'W_S' is too short: the toolkit would take it for a dial"},
        {Window("  slider W_D 10,34,30,30 0..359 dial\n"), "dial 'W_D' needs at least 40x40"},
        {Window("  slider W_D 10,34,80,80 0..2 dial\n"), "dial 'W_D' does not close"},
        {Window("  scroll W_V 180,34,14,12 v\n"), "m:2: scroll 'W_V' track is shorter than its thumb"},
        {Window("  button W_A 10,40,20,20\n  button W_A 40,40,20,20\n"), "m:3: button 'W_A' already defined in 'Buttons' at m:2"},
        {Window("  image W_A 10,40,20,20\n  ruler W_A 40,40,60,20 h\n"), "m:3: ruler 'W_A' already defined in 'Static Images'"},
        {Window("", "1400x300"), "m:1: window 'W' must be between 64x48 and the 1366x768 screen"},
        {"accel 3 Cmd+Z \"Undo\"\naccel 4 Cmd+Z \"Again\"\n", "m:2: shortcut 'Again' uses the keys of line 1"},
        {"font \"F\" x.ttf 200\n", "m:1: font 'F' size must be 4..120 px"},
    };
    for (const Case& c : cases) {
        const auto problems = rc::Lint(rc::ParseManifestText(c.text, "m", "."));
        ASSERT_FALSE(problems.empty()) << c.message;
        EXPECT_NE(problems[0].find(c.message), std::string::npos) << problems[0] << "\n  wanted: " << c.message;
    }
}

TEST(ResourceLint, MissingExpectedRecordsAreListed)
{
    rc::Manifest m = rc::ParseManifestText(Window("  button W_Ok 120,80,60,24\n"), "m", ".");
    m.expected = {{"button", "W_Ok", {"exp", 1}}, {"check", "W_Ok", {"exp", 2}}, {"window", "Other", {"exp", 3}}};
    const auto problems = rc::Lint(m);
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_EQ(problems[0], "exp:2: missing check 'W_Ok'");
    EXPECT_EQ(problems[1], "exp:3: missing window 'Other'");
}

TEST(ResourceLint, ParserRefusesMalformedLinesWithTheirLine)
{
    struct Case {
        std::string text;
        const char* message;
    } cases[] = {
        {"button W_A 1,2,3,4\n", "m:1: 'button' outside a window"},
        {Window("  knob W_A 1,2,3,4\n"), "m:2: unknown statement 'knob'"},
        {Window("  slider W_S 10,40,100,20\n"), "m:2: slider 'W_S' needs a value range"},
        {Window("  button W_A 1,2,3\n"), "m:2: '1,2,3' should be X,Y,W,H"},
        {Window("  label 1,2 \"open\n"), "m:2: unterminated text"},
        {Window("  scroll W_V 1,2,14,40\n"), "m:2: scroll 'W_V' needs exactly one of v or h"},
        {Window("  radio W_R 1,2,3,4 \"r\"\n"), "m:2: radio 'W_R' needs group=G"},
        {Window("  button W_A 1,x,3,4\n"), "m:2: 'x' is not a whole number"},
        {"window W 100x100 \"W\"\n", "window 'W' has no end"},
        {"template t\n  button $P_A 1,2,3,4\nend\nwindow W 100x100\nuse t Q=1\nend\n", "template variable left unset"},
    };
    for (const Case& c : cases) {
        try {
            rc::ParseManifestText(c.text, "m", ".");
            ADD_FAILURE() << "accepted: " << c.message;
        } catch (const rc::Error& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what() << "\n  wanted: " << c.message;
        }
    }
}

TEST(ResourceLint, TemplatesSubstituteLongestNamesFirstAndAddOffsets)
{
    const rc::Manifest m = rc::ParseManifestText(
        "template t\n  rect $RG 10,$Y+6,20,4\n  slider $R_S 10,$Y,100,20 0..9\nend\n"
        "window W 200x120 \"W\"\n  use t R=W RG=W_Band Y=40\nend\n",
        "m", ".");
    ASSERT_EQ(m.windows.size(), 1u);
    ASSERT_EQ(m.windows[0].rects.size(), 1u);
    EXPECT_EQ(m.windows[0].rects[0].name, "W_Band");
    EXPECT_EQ(m.windows[0].rects[0].box.y, 46);
    EXPECT_EQ(m.windows[0].controls[0].name, "W_S");
}

}  // namespace
