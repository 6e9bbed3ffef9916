// The main window's headless parts: status tips, the help menu's record,
// the status fade, the information panel's texts, the on-load zoom, the
// preference records and the control states of each mode.
#include "app/HelpMenu.h"
#include "app/MainDisplays.h"
#include "app/StatusTips.h"
#include "core/Storage.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <limits>
#include <regex>
#include <string>

TEST(AppStatusTips, ChainPicksByWindowNameTypeAndMode)
{
    const std::string help = "Click for Help, On-line User Guide, About, etc.";
    const std::string fxOk = "Click the button to confirm the actions that you \nhave done. The effect's window closes.";
    const std::string fxDir =
        "Click to set the direction of the distribution of the \nparameter's values within the selected (or all) pieces.";
    const std::string mainDefault = " The Main window of Quorvin Tessolo 3.1.";
    struct Case {
        const char* control;
        const char* window;
        uint8_t mode, type;
        std::string expect;
    } cases[] = {
        // Case is ignored for both names.
        {"PREF_OK", "preferences", 1, 5,
         "Click the button to confirm the preferences that you have chosen. \nThe Preferences window closes."},
        {"", "Layers", 1, 128, "\nReady..."},
        {"Main_Help", "", 2, 5, "\nReady..."},
        {"Main_Help", "Main", 2, 5, help},
        {"ExportLM_Help", "ExportLM", 1, 5, help},
        // Suffix rules serve every effect window; a radio gets the direction text.
        {"FXbevel_Ok", "Effect", 1, 5, fxOk},
        {"FXstroke_ok", "Effect", 1, 5, fxOk},
        {"FXmblur_Anything", "Effect", 1, 6, fxDir},
        {"FXmblur_Cancel", "Effect", 1, 6,
         "Click to close the effect's window and cancel all \nactions that you have done."},
        {"FXnone_Amount", "Effect", 1, 1,
         "Drag the slider(s) for the desired value(s). In the Auto\n Adjustments mode specifies the range of the values."},
        {"FXnone_Flag", "Effect", 1, 7,
         "Select, if you want the values of the parameter \ndistributed within the selected (or all) pieces."},
        {"FXnone_Button", "Effect", 1, 5,
         "Use the controls located in this window and adjust the \nparameters of the effect."},
        // The effect windows' own texts, word for word, whoever asks.
        {"FXmblur_Dir2", "Effect", 1, 1,
         "Rotate the slider for the desired value. In the Auto \nAdjustments mode specifies the parameter's final value."},
        {"Zone_Bevel_SHSwatch", "Effect", 1, 255,
         "Click the swatch to start your host's color picker \nand then, choose the desired color of the shadow."},
        {"FXstroke_Color2", "Effect", 1, 2,
         "Click the swatch to choose the color. In the Auto \nAdjustments mode, it specifies the final color."},
        {"FXiovr_ChooseImage", "Effect", 1, 5,
         "Click and choose between Image Overlay effect's Auto \nor Manual modes. The Auto mode is the default one."},
        {"k", "Ok", 1, 5, "\nReady..."},  // a name shorter than a suffix is no match elsewhere either
        // The ruler button and the ruler itself.
        {"Main_Ruler", "Main", 2, 5, "Click the button for menu"},
        {"Main_Ruler", "Main", 2, 12, "Ruler. Right-click to change the units of measurement."},
        // Apply buttons speak only in their own mode.
        {"Main_Apply", "Main", 3, 5,
         "Click to apply the plug-in and obtain the created puzzle pieces as a flattened layer inside your host. "
         "The plug-in closes."},
        {"Main_Apply", "Main", 2, 5, mainDefault},
        {"Main_ApplyLM", "Main", 3, 5, mainDefault},
        {"Main_FXBevel", "Main", 4, 5,
         "Bevel effect. Click the button to open the effect window or the ON/OFF switch to enable/disable the "
         "effect."},
        {"Main_FXBevel", "Main", 2, 5, mainDefault},
        {"Main_Main", "Main", 7, 5, mainDefault},
        // Edit lines by type, whatever their name; the smoothness slider by mode.
        {"Cutter_Whatever", "Cutter", 1, 8,
         "Click and enter the desired value of the parameter. To confirm,\npress Return. To cancel, press Esc."},
    };
    for (const Case& c : cases)
        EXPECT_EQ(qnGetStatusTip(c.control, c.window, c.mode, c.type), c.expect) << c.window << "/" << c.control;
    EXPECT_STRNE(qnGetStatusTip("Cutter_Smoothness", "Cutter", 0, 1),
                 qnGetStatusTip("Cutter_Smoothness", "Cutter", 1, 1));
    EXPECT_STRNE(qnGetStatusTip("ChannelList_SelNew", "ChannelsList", 1, 5),
                 qnGetStatusTip("ChannelList_SelNew", "ChannelsList", 2, 5));
    // Never null, whatever comes in.
    EXPECT_NE(qnGetStatusTip(nullptr, nullptr, 0, 0), nullptr);
}

// The tips name the keys pressed on this desktop: Ctrl and Alt, never the
// other system's Cmd and Opt.
TEST(AppStatusTips, ModifierKeysAreThisDesktops)
{
    const std::regex foreign("\\b(Cmd|Opt|Command|Option)\\b");
    for (const uint8_t mode : {2, 3, 4})
        for (const char* zone : {"Zone_Preview", "Zone_HSplitter", "Zone_VSplitter", "Zone_Status", ""}) {
            const std::string tip = qnGetStatusTip(zone, "Main", mode, 255);
            EXPECT_FALSE(std::regex_search(tip, foreign)) << zone << " in mode " << int(mode) << ": " << tip;
        }
}

TEST(AppHelpMenu, InfoMParsing)
{
    std::string eleven;
    for (int i = 0; i < 11; ++i)
        eleven += "{|T" + std::to_string(i) + "|}{|http://l" + std::to_string(i) + "|}";
    struct Case {
        std::string text;
        std::vector<std::string> titles;  // "---" for a separator
    } cases[] = {
        {"{|A|}{|http://a|}{|---|}{|B|}{|http://b|}", {"A", "---", "B"}},
        // Eleven pairs: the markers past the twentieth are not looked for.
        {eleven, {"T0", "T1", "T2", "T3", "T4", "T5", "T6", "T7", "T8", "T9"}},
        // A final title without a link is dropped.
        {"{|A|}{|http://a|}{|B|}", {"A"}},
        // Unbalanced markers: nothing.
        {"{|A|}{|http://a|}{|B", {}},
        // Crossed markers end the list there.
        {"{|A|}{|http://a|}|}{|B{|http://b|}", {"A"}},
        // Separators count as entries: ten at most in all.
        {"{|---|}{|---|}{|---|}{|---|}{|---|}{|---|}{|---|}{|---|}{|---|}{|A|}{|http://a|}{|B|}{|http://b|}",
         {"---", "---", "---", "---", "---", "---", "---", "---", "---", "A"}},
        {"", {}},
    };
    for (const Case& c : cases) {
        const std::vector<qntHELPENTRY> got = qnParseHelpText(c.text.c_str());
        std::vector<std::string> titles;
        for (const qntHELPENTRY& e : got)
            titles.push_back(e.title);
        EXPECT_EQ(titles, c.titles) << c.text;
    }
    const auto entries = qnParseHelpText("{|A|}{|http://a|}{|---|}{|B|}{|http://b|}");
    // Ids count separators: B is the third entry, id 7.
    EXPECT_EQ(qnHelpCommand(7, entries).kind, qntHELPCOMMAND::Link);
    EXPECT_EQ(qnHelpCommand(7, entries).link, "http://b");
    EXPECT_EQ(qnHelpCommand(6, entries).kind, qntHELPCOMMAND::None);  // the separator
    EXPECT_EQ(qnHelpCommand(1, entries).kind, qntHELPCOMMAND::About);
    EXPECT_EQ(qnHelpCommand(2, entries).kind, qntHELPCOMMAND::Help);
    for (unsigned short id : {0, 3, 4, 8, 14, 15, 16})
        EXPECT_EQ(qnHelpCommand(id, entries).kind, qntHELPCOMMAND::None) << id;
}

TEST(AppHelpMenu, ShippedResourceFileHasItsLinks)
{
    const std::string path = std::string(TESSOLO_BINARY_DIR) + "/resource_ts31_d.qns4";
    if (!std::filesystem::exists(path))
        FAIL() << "no compiled resource file in this build";
    CQNF_Storage storage;
    ASSERT_TRUE(storage.Open(CQNF_String(path.c_str()), 1));
    const auto entries = qnReadHelpEntries(&storage);
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_TRUE(entries[3].IsSeparator());
    EXPECT_EQ(entries[0].link.rfind("https://", 0), 0u);
    EXPECT_TRUE(qnReadHelpEntries(nullptr).empty());
}

TEST(AppStatusLine, FadeTicksAndRequests)
{
    CStatusFader f;
    EXPECT_TRUE(f.Request("one"));
    EXPECT_FALSE(f.Request("one"));  // the same text does not restart the fade
    uint8_t o = 255;
    std::vector<int> seen;
    bool show = false;
    int shownAt = -1, tick = 0;
    while (f.GetState() != CStatusFader::Idle && tick < 50) {
        o = f.Tick(o, show);
        ++tick;
        if (show)
            shownAt = tick;
        seen.push_back(o);
    }
    // Out in 4 ticks, the text on the fifth, in over 7 ticks, idle on the next.
    EXPECT_EQ(seen, (std::vector<int>{190, 125, 60, 0, 0, 40, 80, 120, 160, 200, 240, 255, 255}));
    EXPECT_EQ(shownAt, 5);
    EXPECT_EQ(f.Pending(), "one");
    // A progress line is never faded.
    EXPECT_EQ(qnStatusProgressLine("Rendering", 0), "Rendering 0%\t");
    EXPECT_EQ(qnStatusProgressLine("R", 3), "R 3%\tIII ");
    EXPECT_EQ(qnStatusProgressLine("R", 45).size(), std::string("R 45%\t").size() + 46);
}

TEST(AppInfoPanel, TextsByUnit)
{
    qntINFOVIEW v;
    v.width = 7201;
    v.height = 100;
    v.resX = v.resY = 72.0;
    struct Case {
        uint8_t unit;
        double res;
        int32_t x, y;
        std::string expect;
    } cases[] = {
        {2, 72.0, 50, -1, "X: 0.69 inches (50 px)\tY: ---"},
        {2, 72.0, 7200, 0xFFFF, "X: 100.0 inches (7200 px)\tY: ---"},
        {2, 0.0, 50, 0, "X: 0.69 inches (50 px)\tY: 0.00 inches (0 px)"},  // resolution 0 is 72
        {1, 72.0, 12, 34, "X: 12 pixels\tY: 34 pixels"},
        {5, 72.0, 7200, 0, "X: 100.0 (%) (7200 px)\tY: 0.0 (%) (0 px)"},
        {4, 72.0, 72, 0, "X: 25.40 mm (72 px)\tY: 0.00 mm (0 px)"},
        {3, 7.2, 7200, 0, "X: 2540 cm (7200 px)\tY: 0.00 cm (0 px)"},
        {9, 72.0, 1, 1, ""},
    };
    for (const Case& c : cases) {
        v.unit = c.unit;
        v.resX = v.resY = c.res;
        EXPECT_EQ(qnInfoPositionText(v, c.x, c.y, nullptr), c.expect) << int(c.unit);
    }
    v.unit = 5;
    v.resX = v.resY = 72.0;
    EXPECT_EQ(qnInfoSizeText(v), "Image Size (W x H): 7201 pixels x 100 pixels");
    v.unit = 2;
    EXPECT_EQ(qnInfoSizeText(v), "Image Size (W x H): 100.01 inches x 1.39 inches (7201 px x 100 px)");
    // A one-pixel image in percent shows 0.0, not a division by zero.
    qntINFOVIEW one;
    one.width = one.height = 1;
    one.unit = 5;
    EXPECT_EQ(qnInfoPositionText(one, 0, 0, nullptr), "X: 0.0 (%) (0 px)\tY: 0.0 (%) (0 px)");
    // Piece parts outside cut mode.
    qntINFOPIECE none;
    none.count = 12;
    EXPECT_EQ(qnInfoPositionText(one, -1, -1, &none), "X: ---\tY: --- \tPiece: ??? (12)");
    qntINFOPIECE splitter{0, 12, 1, 0, 0};
    EXPECT_EQ(qnInfoPositionText(one, -1, -1, &splitter), "X: ---\tY: --- \tPiece info: ID: 0 (12); Splitter");
    qntINFOPIECE piece{5, 12, 1, 2, 3};
    EXPECT_EQ(qnInfoPositionText(one, -1, -1, &piece), "X: ---\tY: --- \tPiece info: ID: 5 (12); Column: 2; Row: 3");
    // The dragged splitter: position, before and after.
    const float g[2] = {0.25f, 0.75f};
    qntINFOVIEW s;
    s.width = 400;
    s.height = 200;
    s.unit = 1;
    EXPECT_EQ(qnInfoSplitterText(s, true, g, 2, 1), "Position: 300.0 (px) Columns: 200.0 (px) | 100.0 (px)");
    s.unit = 5;
    EXPECT_EQ(qnInfoSplitterText(s, false, g, 2, 0), "Position: 25.0 (%) Rows: 25.0 (%) | 50.0 (%)");
    EXPECT_EQ(qnInfoSplitterText(s, false, g, 2, 2), "");
}

TEST(AppMainWindow, OnLoadZoomAndUnits)
{
    EXPECT_EQ(qnOnLoadZoom(4000, 3000, 600, 500), 1);  // k = 3
    EXPECT_EQ(qnOnLoadZoom(600, 500, 600, 500), 4);    // fits at k = 0
    EXPECT_EQ(qnOnLoadZoom(601, 10, 600, 500), 3);
    EXPECT_EQ(qnOnLoadZoom(60000, 60000, 600, 500), 0);  // nothing fits: the lowest position
    EXPECT_EQ(qnUnitFromHost(3), 4);                      // millimetres
    EXPECT_EQ(qnUnitFromHost(0), 1);
    EXPECT_EQ(qnUnitFromHost(7), 1);
}

TEST(AppMainWindow, ModeTableEnableStates)
{
    auto state = [](const std::vector<qntCTRLSTATE>& s, const char* name, uint8_t type) -> const qntCTRLSTATE* {
        for (const qntCTRLSTATE& c : s)
            if (std::string(c.name) == name && c.type == type)
                return &c;
        return nullptr;
    };
    qntMODEINPUT cut;
    cut.rndKnotsValue = 0.0f;
    auto s = qnMainModeStates(cut);
    ASSERT_NE(state(s, "Main_ApplyLM", 5), nullptr);
    EXPECT_TRUE(state(s, "Main_ApplyLM", 5)->enabled);
    EXPECT_FALSE(state(s, "Main_Apply", 5)->enabled);
    EXPECT_EQ(state(s, "Main_Apply", 5)->opacity, 0);  // invisible
    EXPECT_FALSE(state(s, "Main_FXStroke", 7)->enabled);
    EXPECT_FALSE(state(s, "Main_RndKnots", 5)->enabled);  // randomness 0
    EXPECT_TRUE(state(s, "Main_RndKnots", 8)->visible);
    cut.rndKnotsValue = std::numeric_limits<float>::quiet_NaN();
    EXPECT_TRUE(state(qnMainModeStates(cut), "Main_RndKnots", 5)->enabled);  // not a number counts as not 0

    qntMODEINPUT piece;
    piece.cutMode = 0;
    s = qnMainModeStates(piece);
    EXPECT_TRUE(state(s, "Main_Apply", 5)->enabled);
    EXPECT_FALSE(state(s, "Main_ApplyLM", 5)->enabled);
    EXPECT_FALSE(state(s, "Main_RndKnots", 8)->visible);
    EXPECT_FALSE(state(s, "Main_RndKnots", 8)->enabled);
    EXPECT_EQ(state(s, "Main_RndKnots", 8)->opacity, 0);
    EXPECT_TRUE(state(s, "Main_FXBevel", 7)->enabled);
    EXPECT_FALSE(state(s, "Main_FXIOver", 5)->enabled);  // no document layers
    piece.layersAvailable = 1;
    EXPECT_TRUE(state(qnMainModeStates(piece), "Main_FXIOver", 7)->enabled);
    piece.fxMode = 1;
    s = qnMainModeStates(piece);
    for (const char* n : {"Main_Apply", "Main_Cancel", "Main_CloseX", "Main_Relayout", "Main_FXBevel"}) {
        EXPECT_FALSE(state(s, n, 5)->enabled) << n;
        EXPECT_EQ(state(s, n, 5)->opacity, 80) << n;
    }
}
