// Every tessolo-tool command answers --help with its usage on stdout and exit
// 0, and bad input with exactly one line on stderr and a non-zero exit.
#include "hostapp/InputDocument.h"
#include "hostapp/OutputFile.h"
#include "hostapp/RasterImage.h"
#include "imaging/ImageFile.h"
#include "tool_run.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

const std::vector<std::string>& Commands()
{
    static const std::vector<std::string> names = {"convert", "core-demo", "draw-demo", "engine", "fx", "layout",
                                                   "psd", "storage", "md5", "zip", "unzip", "text-demo", "ui-tour"};
    return names;
}

TEST(ToolCli, EveryCommandPrintsItsUsageOnHelp)
{
    for (const auto& name : Commands()) {
        const Result r = RunTool(name + " --help");
        EXPECT_EQ(r.code, 0) << name;
        EXPECT_EQ(r.out.rfind("usage: tessolo-tool " + name, 0), 0u) << name << ": " << r.out;
        EXPECT_TRUE(r.err.empty()) << name << ": " << r.err;
    }
}

// A command of sub-commands answers "X Y --help" with Y's own usage: it
// names "X Y" and no other sub-command of X, and keeps the notes on Y.
TEST(ToolCli, EverySubCommandPrintsItsOwnUsageOnHelp)
{
    const struct {
        const char* command;
        std::vector<std::string> actions;
    } commands[] = {
        {"layout", {"new", "show", "block"}},       {"engine", {"lines", "pieces", "render"}},
        {"export", {"pieces", "knives"}},           {"psd", {"write", "read"}},
        {"resources", {"dump", "sheet"}},           {"shapes", {"ls", "show", "convert"}},
        {"storage", {"ls", "get", "put", "check"}},
    };
    for (const auto& c : commands) {
        for (const std::string& action : c.actions) {
            const std::string name = std::string(c.command) + " " + action;
            const Result r = RunTool(name + " --help");
            EXPECT_EQ(r.code, 0) << name;
            EXPECT_EQ(r.out.rfind("usage: tessolo-tool " + name + " ", 0), 0u) << name << ": " << r.out;
            for (const std::string& other : c.actions) {
                if (other != action) {
                    EXPECT_EQ(r.out.find(std::string(c.command) + " " + other), std::string::npos)
                        << name << " --help shows " << other << "'s usage: " << r.out;
                }
            }
        }
    }
    // The notes on one sub-command stay with it.
    EXPECT_NE(RunTool("layout new --help").out.find("--auto triangular:"), std::string::npos);
    EXPECT_EQ(RunTool("layout show --help").out.find("--auto triangular:"), std::string::npos);
    EXPECT_NE(RunTool("storage get --help").out.find("PATH: names joined by '>'"), std::string::npos);
}

// The knob's size is one setting: tessolo-mkdesc and layout new take the
// same range, 1..100 per cent of the knob as drawn, in the same words, and
// one size gives both the same settings block.
TEST(ToolCli, BothProgramsTakeTheKnobSizeInOneRange)
{
    const std::string base = ::testing::TempDir() + "knob_" + std::to_string(getpid());
    for (const char* knob : {"1", "50", "100"}) {
        const Result desc = RunProgram(TESSOLO_MKDESC, std::string("--raw --knob ") + knob + " '" + base + "_m.block'");
        ASSERT_EQ(desc.code, 0) << knob << ": " << desc.err;
        const std::string grid = std::string("layout new --grid 4x3 --knob ") + knob;
        ASSERT_EQ(RunTool(grid + " '" + base + ".qntd'").code, 0) << knob;
        ASSERT_EQ(RunTool("layout block '" + base + ".qntd' '" + base + "_t.block'").code, 0) << knob;
        EXPECT_EQ(Slurp(base + "_m.block"), Slurp(base + "_t.block")) << "--knob " << knob;
    }
    for (const char* knob : {"0", "101", "255"}) {
        const Result desc = RunProgram(TESSOLO_MKDESC, std::string("--knob ") + knob + " '" + base + ".qnds'");
        const Result layout = RunTool(std::string("layout new --grid 4x3 --knob ") + knob + " '" + base + "_x.qntd'");
        for (const Result& r : {desc, layout}) {
            EXPECT_EQ(r.code, 2) << "--knob " << knob;
            EXPECT_NE(r.err.find("--knob takes a size in per cent, 1..100"), std::string::npos) << r.err;
        }
        EXPECT_FALSE(std::filesystem::exists(base + ".qnds")) << "--knob " << knob;
        EXPECT_FALSE(std::filesystem::exists(base + "_x.qntd")) << "--knob " << knob;
    }
    for (const char* end : {"_m.block", "_t.block", ".qntd"})
        std::remove((base + end).c_str());
}

// A grid is one layout whichever program lays it: tessolo-mkdesc and layout
// new (the window's own grid) give the same settings block, knot for knot,
// so their replays are the same pixels, on small, odd and the largest grids.
TEST(ToolCli, BothProgramsLayTheSameGrid)
{
    const std::string base = ::testing::TempDir() + "grid_" + std::to_string(getpid());
    for (const char* grid : {"1x1", "2x2", "3x7", "13x9", "20x15", "99x101", "100x100"}) {
        const Result desc = RunProgram(TESSOLO_MKDESC, std::string("--raw --grid ") + grid + " '" + base + "_m.block'");
        ASSERT_EQ(desc.code, 0) << grid << ": " << desc.err;
        ASSERT_EQ(RunTool(std::string("layout new --grid ") + grid + " '" + base + ".qntd'").code, 0) << grid;
        ASSERT_EQ(RunTool("layout block '" + base + ".qntd' '" + base + "_t.block'").code, 0) << grid;
        const std::string made = Slurp(base + "_m.block");
        ASSERT_FALSE(made.empty()) << grid;
        EXPECT_TRUE(made == Slurp(base + "_t.block")) << "--grid " << grid;
    }
    for (const char* end : {"_m.block", "_t.block", ".qntd"})
        std::remove((base + end).c_str());
}

TEST(ToolCli, BadInputGivesOneLineAndFailure)
{
    const std::string missing = ::testing::TempDir() + "no_such_dir/no_such_file";
    for (const auto& name : Commands()) {
        for (const std::string& args : {std::string(), missing + " " + missing + " " + missing}) {
            const Result r = RunTool(name + " " + args);
            EXPECT_NE(r.code, 0) << name << " " << args;
            EXPECT_EQ(Lines(r.err), 1u) << name << " " << args << ": " << r.err;
            EXPECT_EQ(r.err.rfind("tessolo-tool " + name + ": ", 0), 0u) << r.err;
        }
    }
}

TEST(ToolCli, UnknownCommandIsRefused)
{
    const Result r = RunTool("no-such-command");
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(Lines(r.err), 1u);
}

// The same mistake is worded alike and gives the same exit code, 2, in
// every program.
TEST(ToolCli, BadArgumentsExitTwoEverywhere)
{
    const struct {
        const char* program;
        const char* args;
    } cases[] = {
        {TESSOLO_TOOL, "layout new --grid 0x3 x.qntd"}, {TESSOLO_TOOL, "engine pieces --frobnicate a b c"},
        {TESSOLO_TOOL, "layout new --grid 3x3 --flip sideways x.qntd"}, {TESSOLO_HOST, "--frobnicate a.png b.png"},
        {TESSOLO_HOST, "in.png out.bmp"}, {TESSOLO_MKDESC, "--grid 0x0 x.qnds"},
        {TESSOLO_MKDESC, "--frobnicate x.qnds"}, {TESSOLO_TOOL, "resources dump"},
        {TESSOLO_TOOL, "resources sheet --frobnicate"}, {TESSOLO_TOOL, "ui-gallery --frobnicate"},
        {TESSOLO_TOOL, "ui-controls --frobnicate"}, {TESSOLO_TOOL, "shapes show x.qntk --frobnicate"},
        {TESSOLO_TOOL, "ui-edit --frobnicate"},      {TESSOLO_TOOL, "ui-edit --scene nowhere"},
        {TESSOLO_TOOL, "ui-tour out --frobnicate"},  {TESSOLO_TOOL, "ui-tour out --photo"},
    };
    for (const auto& c : cases) {
        const Result r = RunProgram(c.program, c.args);
        EXPECT_EQ(r.code, 2) << c.program << " " << c.args << ": " << r.err;
        EXPECT_EQ(Lines(r.err), 1u) << r.err;
        if (std::string(c.args).find("--frobnicate") != std::string::npos) {
            EXPECT_NE(r.err.find(": unknown option --frobnicate (see --help)\n"), std::string::npos) << r.err;
        }
    }
}

// Flipped knobs and a little randomness make a natural puzzle whose pieces
// are exactly the grid's cells: no slivers, no loose knob heads.
TEST(ToolCli, NaturalLayoutsCutOnePiecePerCell)
{
    const std::string base = ::testing::TempDir() + "natural_" + std::to_string(getpid());
    const std::string sample = std::string(TESSOLO_SOURCE_DIR) + "/samples/sample.png";
    const struct {
        const char* options;
        int cells;
    } cases[] = {
        {"--grid 8x6 --seed 7 --randomize 8 --flip random --mutate 20,20,10", 48},
        {"--grid 5x4 --seed 3 --randomize 5 --flip interleaved --knob 80", 20},
        {"--grid 10x7 --seed 11 --randomize 6 --flip random --mutate 10,30,10", 70},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(RunTool(std::string("layout new ") + c.options + " '" + base + ".qntd'").code, 0) << c.options;
        ASSERT_EQ(RunTool("layout block '" + base + ".qntd' '" + base + ".block'").code, 0);
        const Result r = RunTool("engine pieces --block '" + base + ".block' '" + sample + "' '" + base + ".png'");
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_NE(r.out.find(": " + std::to_string(c.cells) + " pieces\n"), std::string::npos) << c.options;
        // Knobs that all point one way would leave every knife unflipped.
        const Result shown = RunTool("layout show '" + base + ".qntd'");
        EXPECT_EQ(shown.out.find("flipped across 0,"), std::string::npos) << shown.out;
    }
    for (const char* ext : {".qntd", ".block", ".png"})
        std::remove((base + ext).c_str());
}

// What a command made and why one failed, each said as it is: the tiling's
// largest counts made and promised alike, one merged file as one file, a
// node far out of range in a column of its own, a name with '/' as a name,
// and a cut of too many pieces as that.
TEST(ToolCli, LinesSayWhatWasMadeAndWhatFailed)
{
    const std::string base = ::testing::TempDir() + "said_" + std::to_string(getpid());
    auto F = [&](const std::string& name) { return "'" + base + name + "'"; };
    const std::string sample = "'" + std::string(TESSOLO_SOURCE_DIR) + "/samples/sample.png'";

    const Result help = RunTool("layout --help");
    EXPECT_NE(help.out.find("hexagons, at most 48 x 97"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("rows, at most 97 x 98"), std::string::npos) << help.out;
    Result r = RunTool("layout new --grid 48x97 --auto hexagonal " + F(".qntd"));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find(": 97 x 98 cells"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("48 x 97 hexagons"), std::string::npos) << r.out;
    r = RunTool("layout new --grid 97x98 --auto triangular " + F(".qntd"));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find(": 98 x 98 cells"), std::string::npos) << r.out;

    ASSERT_EQ(RunTool("layout new --grid 3x2 " + F(".qntd")).code, 0);
    r = RunTool("export pieces --to png --what merged " + F(".qntd") + " " + sample + " " + F("_merged.png"));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "wrote " + base + "_merged.png from 6 pieces\n");

    // A stroke needs transparency to draw along: the picture is at fault,
    // not the command line.
    r = RunTool("fx stroke 2 255 ff0000 " + sample + " " + F("_stroke.png"));
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_NE(r.err.find("the picture has none"), std::string::npos) << r.err;

    ASSERT_EQ(std::system(("cp '" + std::string(TESSOLO_SOURCE_DIR) + "/fuzz/corpus/shape_file/knob.qnth' " +
                           F(".qnth"))
                              .c_str()),
              0);
    ASSERT_EQ(RunTool("storage put " + F(".qnth") + " Node_H_1 6 1e300").code, 0);
    r = RunTool("shapes show " + F(".qnth"));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("     1   0.351500     1e+300   0.500000\n"), std::string::npos) << r.out;

    // In a storage key only '>' joins names.
    ASSERT_EQ(RunTool("storage put " + F(".conf") + " '/a//b' 1 7").code, 0);
    r = RunTool("storage get " + F(".conf") + " '/a//b'");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "7\n");

    // A layout whose crossing knives make more than 99999 pieces.
    ASSERT_EQ(RunTool("layout new --grid 101x101 --randomize 100 --mutate 100,100,100 --seed 3 " + F(".qntd")).code, 0);
    ASSERT_EQ(RunTool("layout block " + F(".qntd") + " " + F(".block")).code, 0);
    ASSERT_EQ(RunTool("fx resize 600 600 " + sample + " " + F("_big.png")).code, 0);
    for (const std::string& run : {"export pieces --to psd " + F(".qntd") + " " + F("_big.png") + " " + F(".psd"),
                                   "engine render --block " + F(".block") + " " + F("_big.png") + " " + F("_r.png")}) {
        r = RunTool(run);
        EXPECT_EQ(r.code, 1) << run;
        EXPECT_NE(r.err.find(": too many pieces (100000 or more; a cut makes at most 99999)\n"), std::string::npos)
            << run << ": " << r.err;
    }
    for (const char* ext : {".qntd", "_merged.png", "_stroke.png", ".qnth", ".conf", ".block", "_big.png", ".psd",
                            "_r.png"})
        std::remove((base + ext).c_str());
}

// Every command that writes a file says so on standard output, naming it;
// with - as its output the words go to standard error, and standard output
// holds the file's bytes alone, the same bytes a file gets.
TEST(ToolCli, EveryWriterSaysWhatItWrote)
{
    const std::string base = ::testing::TempDir() + "wrote_" + std::to_string(getpid());
    auto F = [&](const std::string& name) { return "'" + base + name + "'"; };
    const std::string samplePath = std::string(TESSOLO_SOURCE_DIR) + "/samples/sample.png";
    const std::string sample = "'" + samplePath + "'";
    const std::string knob = "'" + std::string(TESSOLO_SOURCE_DIR) + "/fuzz/corpus/shape_file/knob.qnth'";
    const std::string size = std::to_string(std::filesystem::file_size(samplePath));
    const std::string font = "'" + std::string(TESSOLO_SOURCE_DIR) + "/resources/fonts/DejaVuSans.ttf'";
    const std::string skin = "'" + std::string(TESSOLO_BINARY_DIR) + "/resource_ts31_d.qns4'";
    const struct {
        std::string args;
        std::string file;  // the file written, under base
        std::string says;  // in its line on standard output
    } cases[] = {
        {"fx invert " + sample + " " + F("_fx.png"), "_fx.png", ": invert 360 x 240 -> " + base + "_fx.png\n"},
        {"zip " + sample + " " + F(".zip"), ".zip", ": " + size + " bytes -> " + base + ".zip, "},
        {"unzip " + F(".zip") + " " + F("_un.png"), "_un.png", " bytes -> " + base + "_un.png, " + size + " bytes\n"},
        {"psd write " + F(".psd") + " " + sample, ".psd", base + ".psd: 360 x 240, 1 layer\n"},
        {"shapes convert " + knob + " " + F(".qnth"), ".qnth", base + ".qnth: knife shape of"},
        {"storage put " + F(".conf") + " A 1 1", ".conf", "wrote " + base + ".conf: A\n"},
        {"draw-demo " + F("_dd.png"), "_dd.png", "wrote " + base + "_dd.png\n"},
        {"text-demo " + font + " hello " + F("_td.png"), "_td.png", "wrote " + base + "_td.png\n"},
        {"ui-gallery --snap " + F("_ug.png"), "_ug.png", "wrote " + base + "_ug.png\n"},
        {"ui-controls --snap " + F("_uc.png"), "_uc.png", "wrote " + base + "_uc.png\n"},
        {"ui-edit --snap " + F("_ue.png"), "_ue.png", "wrote " + base + "_ue.png\n"},
        // A name holding a newline is said in one line, as names from files are.
        {"draw-demo " + F("_new\nline.png"), "_new\nline.png", "wrote " + base + "_new\\x0aline.png\n"},
    };
    for (const auto& c : cases) {
        const Result r = RunTool(c.args);
        ASSERT_EQ(r.code, 0) << c.args << ": " << r.err;
        EXPECT_NE(r.out.find(c.says), std::string::npos) << c.args << ": " << r.out;
        EXPECT_EQ(Lines(r.out), 1u) << c.args << ": " << r.out;
        EXPECT_TRUE(std::filesystem::exists(base + c.file)) << c.args;
    }
    EXPECT_EQ(Slurp(base + "_un.png"), Slurp(samplePath));

    // The other programs' writers, a reader that splits a file into a
    // folder of them, and a folder named with a newline, all in one line
    // each that ends what the run printed.
    const std::string layers = base + "_layers", demo = base + "_d\nir";
    std::filesystem::create_directory(layers);
    const std::string manifest = "'" + std::string(TESSOLO_SOURCE_DIR) + "/resources/manifest/ui.qnui'";
    const std::string fonts = "'" + std::string(TESSOLO_SOURCE_DIR) + "/resources/fonts'";
    const std::string guide = "'" + std::string(TESSOLO_SOURCE_DIR) + "/resources/help/guide.txt'";
    const std::string pictures = "'" + std::string(TESSOLO_BINARY_DIR) + "/help/pictures'";
    const struct {
        const char* program;
        std::string args;
        std::string ends;  // the last line printed
    } others[] = {
        {TESSOLO_RC, manifest + " -o " + F(".qns4") + " --fonts " + fonts, "\nwrote " + base + ".qns4\n"},
        // The font library keeps its caches to the end: no leak of this program's.
        {"/usr/bin/env", "ASAN_OPTIONS=detect_leaks=0 '" + std::string(TESSOLO_HELPDOC) + "' " + guide + " " + pictures +
                             " -o " + F(".pdf"),
         "\nwrote " + base + ".pdf\n"},
        {TESSOLO_TOOL, "psd read " + F(".psd") + " '" + layers + "'", " layer\nwrote 2 PNG files in " + layers + "\n"},
        {TESSOLO_TOOL, "core-demo " + F("_d\nir"), "wrote 253 bytes to " + base + "_d\\x0air/pieces.txt "},
        {TESSOLO_TOOL, "shapes show " + knob + " --png " + F("_sh.png"), "\nwrote " + base + "_sh.png: 1 shape\n"},
        {TESSOLO_S3D_DEMO, "--scene wave --view flat --size 64x48 -o " + F("_s3.png"), "\nwrote " + base + "_s3.png\n"},
        // The stand-in host too, in a pipe as on a terminal.
        {TESSOLO_HOST, "--descriptor " + F(".qnds") + " " + sample + " " + F("_host.png"),
         "\nwrote " + base + "_host.png, 360 x 240 pixels at 72 dpi\n"},
    };
    ASSERT_EQ(RunProgram(TESSOLO_MKDESC, "--grid 2x2 " + F(".qnds")).code, 0);
    for (const auto& o : others) {
        const Result r = RunProgram(o.program, o.args);
        ASSERT_EQ(r.code, 0) << o.args << ": " << r.err;
        const std::string out = "\n" + r.out;
        const size_t at = out.find(o.ends);
        ASSERT_NE(at, std::string::npos) << o.args << ": " << r.out;
        const size_t next = out.find('\n', at + o.ends.size());
        EXPECT_TRUE(next == std::string::npos || next + 1 == out.size()) << o.args << ": " << r.out;
    }
    std::filesystem::remove_all(layers);
    std::filesystem::remove_all(demo);

    // One of a thing is one, not "1 layers".
    Result r = RunTool("layout new --grid 2x1 " + F("_2.qntd"));
    EXPECT_NE(r.out.find(": 2 x 1 cells, 1 knife, 0 extra knives, pieces\n"), std::string::npos) << r.out;
    ASSERT_EQ(RunTool("layout new --grid 1x1 " + F("_1.qntd")).code, 0);
    r = RunTool("layout show " + F("_1.qntd"));
    EXPECT_NE(r.out.find("grid           1 column x 1 row\n"), std::string::npos) << r.out;
    r = RunTool("export knives --size 10x10 " + F("_2.qntd") + " " + F(".eps"));
    EXPECT_NE(r.out.find(".eps: 1 knife\n"), std::string::npos) << r.out;
    r = RunTool("engine render --grid 1x1 " + sample + " " + F("_r.png"));
    EXPECT_NE(r.out.find("_r.png: 1 piece rendered\n"), std::string::npos) << r.out;

    const struct {
        std::string args;
        std::string file;  // what the same command wrote to a file above
    } piped[] = {
        {"fx invert " + sample + " -", "_fx.png"},
        {"zip " + sample + " -", ".zip"},
        {"shapes convert " + knob + " -", ".qnth"},
        {"psd write - " + sample, ".psd"},
        {"text-demo " + font + " hello -", "_td.png"},
        // Standard output takes the first sheet alone: no second follows it.
        {"resources sheet " + skin + " -", "_sheet.png"},
    };
    ASSERT_EQ(RunTool("resources sheet " + skin + " " + F("_sheet.png")).code, 0);
    for (const auto& c : piped) {
        const Result r = RunTool(c.args);
        ASSERT_EQ(r.code, 0) << c.args << ": " << r.err;
        EXPECT_TRUE(r.out == Slurp(base + c.file)) << c.args << ": standard output is not the file's bytes alone";
        EXPECT_EQ(Lines(r.err), 1u) << c.args << ": " << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists("--states.png"));
    for (const char* ext : {"_fx.png", ".zip", "_un.png", ".psd", ".qnth", ".conf", "_dd.png", "_2.qntd", "_1.qntd", ".eps",
                            "_r.png", "_td.png", "_ug.png", "_uc.png", "_ue.png", "_new\nline.png", "_sheet.png",
                            "_sheet-states.png", "_s3.png", ".qnds", "_host.png"})
        std::remove((base + ext).c_str());
}

// Options that once did nothing: each pair of runs must give different
// pictures.
TEST(ToolCli, SwitchesChangeThePicture)
{
    const std::string base = ::testing::TempDir() + "switch_" + std::to_string(getpid());
    const std::string sample = "'" + std::string(TESSOLO_SOURCE_DIR) + "/samples/sample.png'";
    ASSERT_EQ(RunTool("layout new --grid 4x3 '" + base + ".qntd'").code, 0);
    ASSERT_EQ(RunTool("layout block '" + base + ".qntd' '" + base + ".block'").code, 0);
    const std::string block = "'" + base + ".block' ";
    const struct {
        std::string a, b;
    } pairs[] = {
        // tessolo-mkdesc --width, replayed in layout mode.
        {"M --grid 4x3 --lines", "M --grid 4x3 --lines --width 9"},
        // engine --no-smooth and --no-cut with a block.
        {"T engine lines --block " + block + sample, "T engine lines --no-cut --block " + block + sample},
        {"T engine pieces --block " + block + sample, "T engine pieces --no-smooth --block " + block + sample},
    };
    auto picture = [&](const std::string& command, const std::string& out) {
        if (command[0] == 'M') {
            EXPECT_EQ(RunProgram(TESSOLO_MKDESC, command.substr(2) + " '" + base + ".qnds'").code, 0);
            EXPECT_EQ(RunProgram(TESSOLO_HOST, "--descriptor '" + base + ".qnds' " + sample + " '" + out + "'").code, 0);
        } else {
            EXPECT_EQ(RunTool(command.substr(2) + " '" + out + "'").code, 0) << command;
        }
        return Slurp(out);
    };
    for (const auto& p : pairs) {
        const std::string a = picture(p.a, base + "_a.png"), b = picture(p.b, base + "_b.png");
        EXPECT_FALSE(a.empty());
        EXPECT_NE(a, b) << p.b;
    }
    for (const char* ext : {".qntd", ".block", ".qnds", "_a.png", "_b.png"})
        std::remove((base + ext).c_str());
}

TEST(ToolCli, FailedWriteLeavesTheExistingFileAlone)
{
    // A damaged zip block does not unpack, and the target keeps its bytes.
    const std::string dir = ::testing::TempDir() + std::to_string(getpid());
    const std::string bad = dir + "_bad.zipblock", target = dir + "_keep.bin";
    {
        std::ofstream(bad, std::ios::binary) << "QNCV2-01 but then nothing useful";
        std::ofstream(target, std::ios::binary) << "precious";
    }
    const Result r = RunTool("unzip '" + bad + "' '" + target + "'");
    EXPECT_NE(r.code, 0);
    EXPECT_EQ(Slurp(target), "precious");
    std::remove(bad.c_str());
    std::remove(target.c_str());
}

TEST(ToolCli, OtherProgramsRefuseBadInputWithOneLine)
{
    const std::string missing = ::testing::TempDir() + "no_such_dir/no_such_file";
    for (const char* program : {TESSOLO_HOST, TESSOLO_MKDESC, TESSOLO_S3D_DEMO}) {
        const Result help = RunProgram(program, "--help");
        EXPECT_EQ(help.code, 0) << program;
        EXPECT_NE(help.out.find("usage: "), std::string::npos) << program;
        const Result bad = RunProgram(program, "--no-such-option " + missing);
        EXPECT_NE(bad.code, 0) << program;
        EXPECT_EQ(Lines(bad.err), 1u) << program << ": " << bad.err;
    }
}

}  // namespace

TEST(ToolCli, EngineRenderTimesItsStagesWhenAsked)
{
    const std::string out = ::testing::TempDir() + "timed_" + std::to_string(getpid()) + ".png";
    const std::string sample = std::string(TESSOLO_SOURCE_DIR) + "/samples/sample.png";
    const std::regex line("split [0-9.]+ ms, render [0-9.]+ ms, composite [0-9.]+ ms, 3 threads\n");
    setenv("TESSOLO_THREADS", "3", 1);
    for (bool timed : {true, false}) {
        const Result r = RunTool(std::string("engine render --grid 3x2 ") + (timed ? "--time '" : "'") + sample +
                                 "' '" + out + "'");
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(std::regex_search(r.out, line), timed) << r.out;
    }
    unsetenv("TESSOLO_THREADS");
    std::remove(out.c_str());
}

// A layer's place is the first '@' with X,Y after it; everything after the
// place's colon is the layer's name, '@', ':' and a newline too, and a file
// name may hold '@' itself.
TEST(ToolCli, PsdWriteTakesEveryNameAfterThePlacesColon)
{
    const Folder d("psd_places");
    std::filesystem::create_directory(d / "layers");
    const std::string file = d / "ph@to.png";
    std::filesystem::copy_file(std::string(TESSOLO_SOURCE_DIR) + "/samples/sample.png", file);
    auto Q = [](const std::string& s) { return "'" + s + "'"; };
    const Result w = RunTool("psd write " + Q(d / "o.psd") + " " + Q(file + "@3,4:a@b") + " " +
                             Q(file + "@0,0:x\ny@1,2:z") + " " + Q(file));
    ASSERT_EQ(w.code, 0) << w.err;
    const Result r = RunTool("psd read " + Q(d / "o.psd") + " " + Q(d / "layers"));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("layer 0: \"a@b\" visible left 3 top 4 "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("layer 1: \"x\\x0ay@1,2:z\" visible left 0 top 0 "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("layer 2: \"ph@to\" visible left 0 top 0 "), std::string::npos) << r.out;
}

// A name read from a file may hold terminal controls (one that clears the
// screen, one that sets the window title), a backslash, bytes that are no
// UTF-8 and a C1 control: every listing shows them escaped, one escape a
// byte and the backslash doubled, and keeps letters of other scripts.
TEST(ToolCli, NamesFromFilesAreShownWithTheirControlsEscaped)
{
    const Folder d("escaped_names");
    std::filesystem::create_directory(d / "layers");
    const std::string evil = "\x1b[2Jevil\\ \t\x07\xc2\x9b\xff \xc3\x9c";
    const std::string shown = "\\x1b[2Jevil\\\\ \\x09\\x07\\xc2\\x9b\\xff \xc3\x9c";
    auto Q = [](const std::string& s) { return "'" + s + "'"; };
    const std::string sample = std::string(TESSOLO_SOURCE_DIR) + "/samples/sample.png";

    ASSERT_EQ(RunTool("storage put " + Q(d / "c.qns") + " " + Q("F>" + evil) + " 4 " + Q(evil)).code, 0);
    ASSERT_EQ(RunTool("psd write " + Q(d / "in.psd") + " " + Q(sample + "@0,0:" + evil)).code, 0);
    // A shape set holding one shape of that name and no nodes: its record
    // is the 64-byte name and a node count.
    {
        std::string record = evil;
        record.resize(68, '\0');
        std::ofstream(d / "shape.bin", std::ios::binary) << record;
    }
    const std::string set = Q(d / "set.qntk");
    ASSERT_EQ(RunTool("storage put " + set + " Version 4 'Quorvin Tessolo Shape Set 2.0'").code, 0);
    ASSERT_EQ(RunTool("storage put " + set + " Shape_0 5 - < " + Q(d / "shape.bin")).code, 0);
    ASSERT_EQ(RunTool("storage put " + set + " TotalShapes 3 1").code, 0);
    ASSERT_EQ(RunTool("layout new --grid 2x2 " + Q(d / (evil + ".qntd"))).code, 0);

    const std::string listings[] = {
        "storage ls " + Q(d / "c.qns"),
        "resources dump " + Q(d / "c.qns"),
        "psd read " + Q(d / "in.psd") + " " + Q(d / "layers"),
        "shapes ls " + set,
        "shapes show " + set,
        "layout show " + Q(d / (evil + ".qntd")),
    };
    for (const std::string& args : listings) {
        SCOPED_TRACE(args);
        const Result r = RunTool(args);
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_NE(r.out.find(shown), std::string::npos) << r.out;
        // Line ends, and the two tabs of each line of storage ls, are the
        // only controls left.
        std::string rest;
        for (size_t from = 0, end; (end = r.out.find('\n', from)) != std::string::npos; from = end + 1) {
            std::string line = r.out.substr(from, end - from);
            if (args.rfind("storage ls", 0) == 0) {
                EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 2) << line;
                line.erase(std::remove(line.begin(), line.end(), '\t'), line.end());
            }
            rest += line;
        }
        for (const char c : rest)
            EXPECT_FALSE((c >= 0 && c < 0x20) || c == 0x7f) << "control " << int(c) << " in " << r.out;
        EXPECT_EQ(rest.find("\xc2\x9b"), std::string::npos) << r.out;
        EXPECT_EQ(rest.find('\xff'), std::string::npos) << r.out;
    }
}

namespace {

// The file with an APP1 block after its start marker, holding the EXIF
// data of one field: the orientation.
std::string WithOrientation(const std::string& jpeg, int orientation)
{
    const std::string tiff = std::string("II*\0\x08\0\0\0", 8) + std::string("\x01\0\x12\x01\x03\0\x01\0\0\0", 10) +
                             std::string(1, char(orientation)) + std::string(7, '\0');
    const std::string payload = std::string("Exif\0\0", 6) + tiff;
    const size_t length = payload.size() + 2;
    return jpeg.substr(0, 2) + "\xFF\xE1" + char(length >> 8) + char(length & 0xFF) + payload + jpeg.substr(2);
}

}  // namespace

TEST(ToolConvert, PhotosComeOutUprightAsTheHostOpensThem)
{
    Folder d("tool_convert_upright");
    // Bands along x and y and a corner block: every turn and mirror differs.
    hostapp::RasterImage bands;
    bands.Allocate(hostapp::ColorMode::RGB, 24, 14, false);
    for (int y = 0; y < 14; ++y)
        for (int x = 0; x < 24; ++x) {
            const size_t i = size_t(y) * 24 + size_t(x);
            bands.planes[0][i] = uint8_t(x * 10);
            bands.planes[1][i] = uint8_t(y * 18);
            bands.planes[2][i] = x < 8 && y < 4 ? 255 : 40;
        }
    hostapp::HostDocument doc = hostapp::HostDocument::FromImage(bands, "Layer 1");
    std::string err;
    ASSERT_TRUE(hostapp::WriteOutput(d / "plain.jpg", hostapp::OutputKind::JPEG, doc, 95, err)) << err;
    const std::string plain = Slurp(d / "plain.jpg");
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE("orientation " + std::to_string(orientation));
        const std::string in = d / ("o" + std::to_string(orientation) + ".jpg");
        const std::string out = d / ("o" + std::to_string(orientation) + ".png");
        std::ofstream(in, std::ios::binary) << WithOrientation(plain, orientation);
        const Result r = RunTool("convert '" + in + "' '" + out + "'");
        ASSERT_EQ(r.code, 0) << r.err;
        hostapp::HostDocument host;
        hostapp::InputFacts facts;
        ASSERT_TRUE(hostapp::LoadInputDocument(in, host, facts, err)) << err;
        ASSERT_EQ(facts.orientation, orientation);
        hostapp::RasterImage converted;
        ASSERT_TRUE(hostapp::ReadImageFile(out, converted, err)) << err;
        const hostapp::RasterImage& upright = host.Target().pixels;
        ASSERT_EQ(converted.width, upright.width);
        ASSERT_EQ(converted.height, upright.height);
        for (size_t k = 0; k < 3; ++k)
            EXPECT_EQ(converted.planes[k], upright.planes[k]) << k;
        EXPECT_EQ(converted.width, orientation >= 5 ? 14 : 24);
    }
}

namespace {

// A w x h picture whose first planes change across and down and whose
// third is bright in one corner; in CMYK, a black that fades to the
// opposite corner.
hostapp::RasterImage TestPicture(hostapp::ColorMode mode, int w, int h)
{
    hostapp::RasterImage picture;
    picture.Allocate(mode, w, h, false);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = size_t(y) * w + size_t(x);
            picture.planes[0][i] = uint8_t(x * 4);
            picture.planes[1][i] = uint8_t(y * 6);
            picture.planes[2][i] = x < 20 && y < 10 ? 255 : 40;
            if (mode == hostapp::ColorMode::CMYK)
                picture.planes[3][i] = uint8_t(255 - (x + y));
        }
    return picture;
}

}  // namespace

TEST(ToolExport, PhotosAreCutUprightAsEveryProgramReadsThem)
{
    Folder d("tool_export_upright");
    // A 60 x 40 photo stored sideways: EXIF orientation 6 shows it turned a
    // quarter clockwise, 40 x 60.
    const int w = 60, h = 40;
    const hostapp::RasterImage stored = TestPicture(hostapp::ColorMode::RGB, w, h);
    hostapp::HostDocument doc = hostapp::HostDocument::FromImage(stored, "Layer 1");
    std::string err;
    ASSERT_TRUE(hostapp::WriteOutput(d / "plain.jpg", hostapp::OutputKind::JPEG, doc, 95, err)) << err;
    const std::string photo = d / "photo.jpg";
    std::ofstream(photo, std::ios::binary) << WithOrientation(Slurp(d / "plain.jpg"), 6);
    // The upright picture, turned here from the plain file's pixels: the
    // upright (x, y) shows the stored (y, h - 1 - x).
    hostapp::RasterImage plain, upright;
    ASSERT_TRUE(hostapp::ReadImageFile(d / "plain.jpg", plain, err)) << err;
    upright.Allocate(hostapp::ColorMode::RGB, h, w, false);
    for (size_t k = 0; k < 3; ++k)
        for (int y = 0; y < w; ++y)
            for (int x = 0; x < h; ++x)
                upright.planes[k][size_t(y) * h + size_t(x)] = plain.planes[k][size_t(h - 1 - x) * w + size_t(y)];
    ASSERT_TRUE(hostapp::WritePngFile(d / "upright.png", upright, err)) << err;

    // The exports cut the photo as they cut the upright picture.
    const std::string lay = d / "lay.qntd";
    ASSERT_EQ(RunTool("layout new --grid 4x3 '" + lay + "'").code, 0);
    // One resolution for both: a PNG holds 72 dpi as pixels per metre, a
    // hair above, which its PSD keeps.
    const Result fromPhoto =
        RunTool("export pieces --to psd --resolution 72 '" + lay + "' '" + photo + "' '" + (d / "a.psd") + "'");
    ASSERT_EQ(fromPhoto.code, 0) << fromPhoto.err;
    const Result fromUpright = RunTool("export pieces --to psd --resolution 72 '" + lay + "' '" + (d / "upright.png") +
                                       "' '" + (d / "b.psd") + "'");
    ASSERT_EQ(fromUpright.code, 0) << fromUpright.err;
    EXPECT_NE(fromPhoto.out.find("12 layers from 12 pieces"), std::string::npos) << fromPhoto.out;
    EXPECT_EQ(Slurp(d / "a.psd"), Slurp(d / "b.psd"));
    for (const char* picture : {"photo.jpg", "upright.png"}) {
        const std::string series = d / (std::string(picture) + ".pieces");
        std::filesystem::create_directory(series);
        ASSERT_EQ(
            RunTool("export pieces --to png --resolution 72 '" + lay + "' '" + (d / picture) + "' '" + series + "'").code,
            0);
    }
    size_t pieces = 0;
    for (const auto& f : std::filesystem::directory_iterator(d / "photo.jpg.pieces")) {
        ++pieces;
        EXPECT_EQ(Slurp(f.path().string()), Slurp(d / ("upright.png.pieces/" + f.path().filename().string())))
            << f.path();
    }
    EXPECT_EQ(pieces, 12u);
    // The knives' page is the upright picture's.
    for (const char* picture : {"photo.jpg", "upright.png"}) {
        const std::string eps = d / (std::string(picture) + ".eps");
        ASSERT_EQ(RunTool("export knives --picture '" + (d / picture) + "' '" + lay + "' '" + eps + "'").code, 0);
        EXPECT_NE(Slurp(eps).find("%%BoundingBox: 0 0 40 60"), std::string::npos) << picture;
    }
    // The host's layers come upright as its input does.
    hostapp::RasterImage layer;
    ASSERT_TRUE(hostapp::ReadImageFile(photo, layer, err)) << err;
    ASSERT_EQ(layer.width, h);
    ASSERT_EQ(layer.height, w);
    for (size_t k = 0; k < 3; ++k)
        EXPECT_EQ(layer.planes[k], upright.planes[k]) << k;
}

// A CMYK picture is cut as the host opens it for the window: in RGB, each
// colour times the black. Its pieces are those of the RGB picture the host
// makes of it.
TEST(ToolExport, CmykPicturesAreCutAsTheHostOpensThem)
{
    Folder d("tool_export_cmyk");
    const hostapp::RasterImage cmyk = TestPicture(hostapp::ColorMode::CMYK, 48, 36);
    std::string err;
    ASSERT_TRUE(hostapp::WriteOutput(d / "cmyk.psd", hostapp::OutputKind::PSD,
                                     hostapp::HostDocument::FromImage(cmyk, "Layer 1"), 90, err))
        << err;
    hostapp::RasterImage rgb;
    ASSERT_TRUE(hostapp::ReadImageFile(d / "cmyk.psd", rgb, err)) << err;
    ASSERT_EQ(rgb.mode, hostapp::ColorMode::CMYK);
    hostapp::ConvertImage(rgb, hostapp::ColorMode::RGB);
    ASSERT_TRUE(hostapp::WritePngFile(d / "rgb.png", rgb, err)) << err;

    const std::string lay = d / "lay.qntd";
    ASSERT_EQ(RunTool("layout new --grid 3x2 '" + lay + "'").code, 0);
    for (const char* picture : {"cmyk.psd", "rgb.png"}) {
        const std::string series = d / (std::string(picture) + ".pieces");
        std::filesystem::create_directory(series);
        const Result r = RunTool("export pieces --to png --names simple '" + lay + "' '" + (d / picture) + "' '" +
                                 series + "'");
        ASSERT_EQ(r.code, 0) << picture << ": " << r.err;
    }
    size_t pieces = 0;
    for (const auto& f : std::filesystem::directory_iterator(d / "cmyk.psd.pieces")) {
        ++pieces;
        hostapp::RasterImage a, b;
        ASSERT_TRUE(hostapp::ReadImageFile(f.path().string(), a, err)) << err;
        ASSERT_TRUE(hostapp::ReadImageFile(d / ("rgb.png.pieces/" + f.path().filename().string()), b, err)) << err;
        EXPECT_EQ(a.planes, b.planes) << f.path();
    }
    EXPECT_EQ(pieces, 6u);
}

// The picture's resolution as every reader takes it, and as a written file
// holds it: across and down.
std::pair<double, double> ResolutionOf(const std::string& path)
{
    CQNF_ImageFile file;
    EXPECT_TRUE(file.LoadHeader(path, CQNF_ImageFile::AllKinds, 30000, UINT64_MAX, CQNF_ImageFile::PsdRead::Opening))
        << path;
    return {file.GetResolutionX(), file.GetResolutionY()};
}

// The same resolution within what the files' forms hold (a PNG stores whole pixels
// per metre, a PSD 16.16 fixed point).
::testing::AssertionResult SameResolution(std::pair<double, double> a, std::pair<double, double> b)
{
    if (std::abs(a.first - b.first) < 0.02 && std::abs(a.second - b.second) < 0.02)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << a.first << " x " << a.second << " against " << b.first << " x "
                                         << b.second;
}

// The tool's export keeps the picture's resolution in the PSD and in every
// PNG, as the replay keeps it in its output, one direction without taking
// the other's; --resolution still sets its own.
TEST(ToolExport, PiecesKeepThePicturesResolutionAsTheReplayDoes)
{
    Folder d("tool_export_resolution");
    const struct {
        const char* name;
        hostapp::OutputKind kind;
        double across, down;
    } pictures[] = {{"p300.png", hostapp::OutputKind::PNG, 300, 300},
                    {"j300.jpg", hostapp::OutputKind::JPEG, 300, 300},
                    {"s150.psd", hostapp::OutputKind::PSD, 150, 150},
                    {"s0x200.psd", hostapp::OutputKind::PSD, 0, 200}};
    const std::string lay = d / "lay.qntd", desc = d / "lay.qnds";
    ASSERT_EQ(RunTool("layout new --grid 3x2 '" + lay + "'").code, 0);
    ASSERT_EQ(RunProgram(TESSOLO_MKDESC, "--grid 3x2 '" + desc + "'").code, 0);
    std::string err;
    for (const auto& p : pictures) {
        SCOPED_TRACE(p.name);
        hostapp::HostDocument doc =
            hostapp::HostDocument::FromImage(TestPicture(hostapp::ColorMode::RGB, 48, 36), "Layer 1");
        doc.resolution = p.across;
        doc.resolutionY = p.down;
        const std::string picture = d / p.name;
        ASSERT_TRUE(hostapp::WriteOutput(picture, p.kind, doc, 90, err)) << err;
        const auto taken = ResolutionOf(picture);
        const double named = std::max(p.across, p.down);
        ASSERT_TRUE(SameResolution(taken, {named, named}));

        // The replay's output, in both forms.
        for (const char* ending : {".psd", ".png"}) {
            const std::string out = picture + ".replay" + ending;
            const Result r = RunProgram(TESSOLO_HOST, "--descriptor '" + desc + "' '" + picture + "' '" + out + "'");
            ASSERT_EQ(r.code, 0) << r.err;
            EXPECT_TRUE(SameResolution(ResolutionOf(out), taken)) << ending;
        }
        // The tool's PSD and every PNG of its series.
        const std::string psd = picture + ".pieces.psd", series = picture + ".pieces";
        ASSERT_EQ(RunTool("export pieces '" + lay + "' '" + picture + "' '" + psd + "'").code, 0);
        EXPECT_TRUE(SameResolution(ResolutionOf(psd), taken));
        std::filesystem::create_directory(series);
        ASSERT_EQ(RunTool("export pieces --to png '" + lay + "' '" + picture + "' '" + series + "'").code, 0);
        size_t files = 0;
        for (const auto& f : std::filesystem::directory_iterator(series)) {
            ++files;
            EXPECT_TRUE(SameResolution(ResolutionOf(f.path().string()), taken)) << f.path();
        }
        EXPECT_GT(files, 1u);
    }
    // A resolution asked for is the one written.
    const std::string asked = d / "asked.psd";
    ASSERT_EQ(RunTool("export pieces --resolution 96 '" + lay + "' '" + (d / "p300.png") + "' '" + asked + "'").code, 0);
    EXPECT_TRUE(SameResolution(ResolutionOf(asked), {96.0, 96.0}));
}

namespace {

// The most memory a run of the tool held, in kilobytes, with freed memory
// given back at once (the address checker keeps it a while otherwise).
long PeakKilobytes(const std::vector<std::string>& args)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "ASAN_OPTIONS=", 13) != 0)
            env.push_back(*e);
    const char* asan = std::getenv("ASAN_OPTIONS");
    env.push_back(std::string("ASAN_OPTIONS=") + (asan ? asan + std::string(":") : "") + "quarantine_size_mb=0");
    std::vector<char*> argv{const_cast<char*>(TESSOLO_TOOL)}, envp;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::execve(TESSOLO_TOOL, argv.data(), envp.data());
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage {};
    EXPECT_EQ(::wait4(pid, &status, 0, &usage), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << args[0] << " " << args[1];
    return usage.ru_maxrss;
}

}  // namespace

// psd read decodes the merged image once and lets it go before the layers
// are read: a document of one layer costs what decoding and writing that
// one picture costs (convert), not the merged image and the layer at once.
TEST(ToolPsd, ReadHoldsTheMergedImageAndTheLayersNeverAtOnce)
{
    Folder d("tool_psd_memory");
    const int w = 2000, h = 1500;
    hostapp::RasterImage picture;
    picture.Allocate(hostapp::ColorMode::RGB, w, h, false);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (size_t k = 0; k < 3; ++k)
                picture.planes[k][size_t(y) * w + size_t(x)] = uint8_t((x * 7 + y * 13 + int(k) * 50) ^ (x * y));
    std::string err;
    ASSERT_TRUE(hostapp::WritePngFile(d / "big.png", picture, err)) << err;
    hostapp::RasterImage dot;
    dot.Allocate(hostapp::ColorMode::RGB, 1, 1, false);
    ASSERT_TRUE(hostapp::WritePngFile(d / "dot.png", dot, err)) << err;
    for (const char* name : {"big", "dot"}) {
        const std::string n = name;
        ASSERT_EQ(RunTool("psd write '" + (d / (n + ".psd")) + "' '" + (d / (n + ".png")) + "'").code, 0);
        std::filesystem::create_directory(d / (n + ".layers"));
    }
    // What the program needs before any picture, taken off each.
    const long readBig = PeakKilobytes({"psd", "read", d / "big.psd", d / "big.layers"});
    const long readDot = PeakKilobytes({"psd", "read", d / "dot.psd", d / "dot.layers"});
    const long convertBig = PeakKilobytes({"convert", d / "big.psd", d / "big-merged.png"});
    const long convertDot = PeakKilobytes({"convert", d / "dot.psd", d / "dot-merged.png"});
    EXPECT_LE(double(readBig - readDot), 1.1 * double(convertBig - convertDot))
        << "psd read " << readBig << " KB (" << readDot << " for one pixel), convert " << convertBig << " KB ("
        << convertDot << ")";
    EXPECT_TRUE(std::filesystem::exists(d / "big.layers/layer_000.png"));
}
