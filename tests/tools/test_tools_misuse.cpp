// A wrong command line, in every program and every sub-command: missing,
// extra and unknown arguments, values out of range, not numbers, NaN,
// infinite or huge. Each is answered before any work with exit 2 and one
// line on stderr that names the fault, nothing on stdout and nothing
// written.
#include "tool_run.h"

#include <gtest/gtest.h>

#include "hostapp/RasterImage.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Every file below a folder with its size: what a run may not change.
std::map<std::string, uintmax_t> Listing(const fs::path& folder)
{
    std::map<std::string, uintmax_t> all;
    for (const auto& e : fs::recursive_directory_iterator(folder))
        all[fs::relative(e.path(), folder).string()] = e.is_regular_file() ? e.file_size() : 0;
    return all;
}

TEST(CommandLineMisuse, EveryProgramAnswersExitTwoWithOneLineNamingTheFault)
{
    const fs::path d = fs::path(::testing::TempDir()) / ("misuse_" + std::to_string(::getpid()));
    fs::remove_all(d);
    fs::create_directories(d);
    auto F = [&](const char* name) { return "'" + (d / name).string() + "'"; };
    // Real inputs, so that only the command line is at fault.
    fs::copy_file(std::string(TESSOLO_SOURCE_DIR) + "/samples/sample.png", d / "in.png");
    fs::copy_file(std::string(TESSOLO_SOURCE_DIR) + "/fuzz/corpus/shape_file/knob.qnth", d / "knob.qnth");
    ASSERT_EQ(RunTool("layout new --grid 3x2 " + F("lay.qntd")).code, 0);
    ASSERT_EQ(RunTool("layout block " + F("lay.qntd") + " " + F("lay.block")).code, 0);
    ASSERT_EQ(RunTool("psd write " + F("in.psd") + " " + F("in.png")).code, 0);
    ASSERT_EQ(RunTool("storage put " + F("store.conf") + " A 1 1").code, 0);
    const std::string in = F("in.png"), lay = F("lay.qntd"), png = " " + F("in.png") + " " + F("o.png");

    const char* const T = TESSOLO_TOOL;
    const char* const H = TESSOLO_HOST;
    const char* const M = TESSOLO_MKDESC;
    const char* const S = TESSOLO_S3D_DEMO;
    const char* const R = TESSOLO_RC;
    const char* const D = TESSOLO_HELPDOC;
    const struct {
        const char* program;
        std::string args;
        const char* says;  // in the one line
    } cases[] = {
        {T, "", "no COMMAND given"},
        {T, "bogus", "unknown command 'bogus' (see --help)"},
        {T, "resources bogus", "expected 'dump FILE' or 'sheet FILE OUT.png [--window NAME]' (see --help)"},
        {T, "convert " + in, "expected two arguments"},
        {T, "convert --bogus" + png, "unknown option --bogus"},
        {T, "core-demo --bogus", "unknown option --bogus"},
        {T, "draw-demo --bogus", "unknown option --bogus"},
        {T, "text-demo --size", "--size needs a value"},
        {T, "text-demo --size nan f t " + F("o.png"), "--size"},
        {T, "text-demo --bogus f t " + F("o.png"), "unknown option --bogus"},
        {T, "engine lines " + in, "expected lines|pieces|render"},
        {T, "engine lines --grid", "--grid needs"},
        {T, "engine lines --grid 102x1" + png, "--grid"},
        {T, "engine lines --seed -1" + png, "--seed"},
        {T, "engine render --blur nan" + png, "--blur"},
        {T, "engine lines" + png + " extra", "expected lines|pieces|render"},
        {T, "engine pieces --stroke 2" + png, "--stroke is taken by engine render only"},
        // An option the rest of the line leaves without use.
        {T, "engine render --block " + F("lay.block") + " --seed 3" + png, "--seed varies a --grid only"},
        {T, "layout new --grid 3x3 --seed 4 " + F("o.qntd"), "--seed repeats the randomness of --randomize"},
        {T, "fx gauss 2 --repeat 3" + png, "--repeat goes with --time"},
        {T, "fx gray --grey" + png, "gray changes colours, and --grey reads the picture as one grey plane"},
        {T, "ui-controls --scene hover", "--scene goes with --snap"},
        {T, "ui-edit --scene typed", "--scene goes with --snap"},
        {T, "ui-gallery --controls --scene hover", "--scene goes with --snap"},
        // A value the document leaves without meaning: the range it has.
        {H, "--filter-case 7" + png, "--filter-case 7 tells of transparency, and the filtered layer has none: it takes 0 to 2"},
        {H, "--filter-case 3 --selection " + in + png, "--filter-case 3"},
        {H, "--target 1" + png, "--target 1: the document has layer 0 only: --target takes 0"},
        {H, "--add-layer " + in + ":Top --target 2" + png, "--target takes 0 to 1"},
        {T, "fx gauss -5" + png, "SIGMA takes a number from 0 to 4096, not '-5'"},
        {T, "fx gauss 1e300" + png, "SIGMA"},
        {T, "fx gauss nan" + png, "SIGMA"},
        {T, "fx gauss inf" + png, "SIGMA"},
        {T, "fx gauss" + png, "usage: fx gauss SIGMA"},
        {T, "fx gauss 2" + png + " extra", "usage: fx gauss SIGMA"},
        {T, "fx motion 1e300 5" + png, "ANGLE"},
        {T, "fx motion 30 -1" + png, "DISTANCE"},
        {T, "fx bevel 10 100 nan 1,1,1 200 200" + png, "SOFTEN"},
        {T, "fx bevel 10 100 2 0,0,0 200 200" + png, "0,0,0"},
        {T, "fx bevel 10 100 2 1,1,1x 200 200" + png, "'1x'"},
        {T, "fx hsl 40000 0 0" + png, "HUE"},
        {T, "fx hsl 1000 0 0" + png, "HUE must be an integer from -180 to 180"},
        {T, "fx hsl 0 101 0" + png, "SATURATION must be an integer from -100 to 100"},
        {T, "fx hsl 0 0 -101" + png, "LIGHTNESS must be an integer from -100 to 100"},
        {T, "fx colorize 361 0 0" + png, "HUE must be an integer from 0 to 360"},
        {T, "fx colorize 0 500 0" + png, "SATURATION must be an integer from 0 to 100"},
        {T, "fx colorize 0 -1 0" + png, "SATURATION must be an integer from 0 to 100"},
        {T, "fx colorize 0 0 101" + png, "LIGHTNESS must be an integer from -100 to 100"},
        {T, "fx hsl 10 0 0 --grey" + png, "hsl changes colours, and --grey reads the picture as one grey plane: leave out --grey"},
        {T, "fx colorize 10 50 0 --grey" + png, "colorize changes colours"},
        {T, "fx resize 65535 65535" + png, "65535 x 65535"},
        {T, "fx --repeat", "--repeat needs a value"},
        {T, "fx --bogus gauss 2" + png, "unknown option --bogus"},
        {T, "layout new --grid", "--grid needs a value"},
        {T, "layout new --grid 3x3 --seed", "--seed needs a value"},
        {T, "layout new --grid 3x3 --randomize nan " + F("o.qntd"), "--randomize"},
        {T, "layout new --grid 3x3 " + F("o.qntd") + " " + F("p.qntd"), "more than one output file"},
        {T, "layout new --grid 101x101 --auto hexagonal " + F("o.qntd"),
         "--auto hexagonal makes at most 48 x 97 hexagons, not 101 x 101"},
        {T, "layout new --grid 49x2 --auto hexagonal " + F("o.qntd"), "at most 48 x 97 hexagons"},
        {T, "layout new --grid 2x98 --auto hexagonal " + F("o.qntd"), "at most 48 x 97 hexagons"},
        {T, "layout new --grid 97x99 --auto triangular " + F("o.qntd"), "--auto triangular makes at most 97 x 98"},
        {T, "layout new --grid 98x1 --auto triangular " + F("o.qntd"), "at most 97 x 98 triangles"},
        {T, "fx stroke 0 255 ff0000" + png, "SIZE must be an integer from 1 to 255, got '0'"},
        {T, "fx stroke 256 255 ff0000" + png, "SIZE must be an integer from 1 to 255"},
        {T, "storage put " + F("store.conf") + " '' 1 1", "PATH is empty"},
        {T, "storage get " + F("store.conf") + " ''", "PATH is empty"},
        {T, "storage put " + F("store.conf") + " 'A>>B' 1 1", "PATH 'A>>B' has an empty name"},
        {T, "storage put " + F("store.conf") + " 'A>' 1 1", "PATH 'A>' has an empty name"},
        {T, "storage get " + F("store.conf") + " '>A'", "PATH '>A' has an empty name"},
        {T, "layout show --bogus " + lay, "unknown option --bogus"},
        {T, "layout block " + lay, "block takes FILE.qntd and OUT"},
        {T, "export pieces --to", "--to needs a value"},
        {T, "export pieces --resolution 1e300 " + lay + png, "--resolution"},
        {T, "export pieces " + lay + png + " extra", "pieces takes LAYOUT.qntd PICTURE OUT"},
        {T, "export knives --size", "--size needs a value"},
        {T, "export knives --size 100x100 --picture " + in + " " + lay + " " + F("k.eps"),
         "--size and --picture cannot be given together"},
        {T, "layout new --grid 3x3 --pieces --lines " + F("o.qntd"), "--pieces and --lines cannot be given together"},
        {T, "engine lines --grid 5x5 --block " + F("lay.block") + png, "--grid and --block cannot be given together"},
        {T, "psd write " + F("o.psd") + " " + F("in.png@1,2,3"), "must be X,Y (two integers), not '1,2,3'"},
        {T, "psd write " + F("o.psd") + [] {
             std::string many;
             for (int i = 0; i < 32768; ++i)
                 many += " x";
             return many;
         }(),
         "a PSD file holds at most 32767 layers, and 32768 were given"},
        {T, "psd write " + F("o.psd") + " " + F("in.png@1,"), "must be X,Y (two integers), not '1,'"},
        {T, "export pieces --to png " + lay + " " + in + " ''", "OUT is an empty name"},
        {T, "export pieces ''" + png, "LAYOUT.qntd is an empty name"},
        {T, "convert ''" + std::string(" ") + F("o.png"), "IN is an empty name"},
        {T, "convert " + in + " ''", "OUT.png is an empty name"},
        {T, "fx combine '' 50 " + in + " " + F("o.png"), "OVERLAY.png is an empty name"},
        {T, "psd write --bogus " + F("o.psd") + " " + in, "unknown option --bogus"},
        {T, "psd write " + F("o.psd") + " " + F("in.png@40000,0"), "-32768 to 32767"},
        {T, "psd read --bogus " + F("in.psd") + " " + F("out"), "unknown option --bogus"},
        {T, "storage ls --bogus " + F("store.conf"), "unknown option --bogus"},
        {T, "storage put " + F("store.conf") + " B 6 nan", "VALUE takes a finite number"},
        {T, "storage put " + F("store.conf") + " B 6 1e999", "VALUE"},
        {T, "storage put " + F("store.conf") + " B 1 256", "VALUE '256'"},
        {T, "storage get " + F("store.conf"), "expected: storage ls FILE"},
        {T, "md5 --bogus " + in, "unknown option --bogus"},
        {T, "zip --bogus " + in + " " + F("o.zip"), "unknown option --bogus"},
        {T, "unzip " + in, "expected two arguments"},
        {T, "shapes ls --bogus " + F("knob.qnth"), "unknown option --bogus"},
        {T, "shapes show " + F("knob.qnth") + " --index", "--index needs a value"},
        {T, "shapes convert " + F("knob.qnth") + " " + F("o.qnth") + " extra", "unexpected argument 'extra'"},
        {T, "resources dump --bogus", "unknown option --bogus"},
        {T, "resources sheet a " + F("o.png") + " --window", "--window needs a value"},
        {T, "ui-tour " + F("t1") + " " + F("t2"), "one OUT_FOLDER only"},
        {T, "ui-tour ''", "OUT_FOLDER is an empty name"},
        {T, "psd read " + F("in.psd") + " ''", "OUTDIR is an empty name"},
        {T, "psd read '' " + F("out"), "IN.psd is an empty name"},
        {T, "ui-gallery extra", "unexpected argument 'extra'"},
        // An empty name of a file or folder, in one wording everywhere: the
        // usage's word for it.
        {T, "fx invert ''" + std::string(" ") + F("o.png"), "IN.png is an empty name"},
        {T, "fx gauss 2 " + in + " ''", "OUT.png is an empty name"},
        {T, "shapes show " + F("knob.qnth") + " --png ''", "OUT is an empty name"},
        {T, "shapes ls ''", "FILE is an empty name"},
        {T, "shapes convert " + F("knob.qnth") + " ''", "OUT.qnth is an empty name"},
        {T, "layout show ''", "FILE.qntd is an empty name"},
        {T, "layout block '' " + F("o.block"), "FILE.qntd is an empty name"},
        {T, "layout new --grid 2x2 ''", "OUT.qntd is an empty name"},
        {T, "engine lines --grid 2x2 '' " + F("o.png"), "INPUT.png is an empty name"},
        {T, "engine render --block '' " + in + " " + F("o.png"), "FILE is an empty name"},
        {T, "export knives --size 10x10 " + lay + " ''", "OUT is an empty name"},
        {T, "zip " + in + " ''", "OUT is an empty name"},
        {T, "unzip '' " + F("o.bin"), "IN is an empty name"},
        {T, "md5 ''", "FILE is an empty name"},
        {T, "storage ls ''", "FILE is an empty name"},
        {T, "storage put '' A 1 1", "FILE is an empty name"},
        {T, "resources dump ''", "FILE is an empty name"},
        {T, "resources sheet '' " + F("o.png"), "FILE is an empty name"},
        {T, "text-demo '' hello " + F("o.png"), "FONTFILE is an empty name"},
        {T, "psd write '' " + in, "OUT.psd is an empty name"},
        {T, "psd write " + F("o.psd") + " " + in + " ''", "LAYER.png is an empty name"},
        {T, "draw-demo ''", "OUT.png is an empty name"},
        {T, "core-demo ''", "OUTDIR is an empty name"},
        {T, "ui-gallery --snap ''", "OUT.png is an empty name"},
        {T, "ui-controls --resource ''", "FILE is an empty name"},
        {T, "ui-edit --image ''", "PICTURE is an empty name"},
        {T, "ui-tour " + F("t") + " --photo ''", "FILE is an empty name"},
        {H, "--plugin ''" + png, "PATH is an empty name"},
        {H, "--icc ''" + png, "FILE is an empty name"},
        {M, "--block '' " + F("o.qnds"), "FILE is an empty name"},
        {R, "'' -o " + F("o.qns4") + " --fonts " + F(""), "MANIFEST is an empty name"},
        {R, in + " -o '' --fonts " + F(""), "OUT is an empty name"},
        {R, in + " -o " + F("o.qns4") + " --fonts ''", "DIR is an empty name"},
        {S, "--all ''", "OUTDIR is an empty name"},
        {S, "--contact-sheet ''", "FILE.png is an empty name"},
        // An empty number or text is no name: its own check answers.
        {T, "engine render --blur ''" + png, "--blur"},
        {T, "storage put " + F("store.conf") + " A 1 ''", "VALUE ''"},
        {T, "ui-controls --snap " + F("o.png") + " --scene bogus", "unknown scene 'bogus'"},
        {T, "ui-edit --scene", "--scene needs a value"},
        {H, "", "expected INPUT and OUTPUT"},
        {H, png + " extra", "expected INPUT and OUTPUT"},
        {H, "--bogus" + png, "unknown option --bogus"},
        {H, "--descriptor", "--descriptor needs a value"},
        {H, "--descriptor ''" + png, "FILE is an empty name"},
        {H, "--quality nan" + png, "--quality"},
        {H, "--dialog --no-descriptor --descriptor " + F("job.qnds") + png,
         "--descriptor cannot be read or recorded by a host that offers no descriptors (--no-descriptor)"},
        {H, "--target -1" + png, "--target"},
        {H, "'' " + F("o.png"), "INPUT is an empty name"},
        {H, in + " ''", "OUTPUT is an empty name"},
        {M, "", "expected OUT.qnds"},
        {M, "--grid", "--grid needs a value"},
        {M, "--block", "--block needs a value"},
        {M, "--knob 256 " + F("o.qnds"), "--knob"},
        {M, "--max-text 1000 " + F("o.qnds"), "--max-text takes 1004 or more"},
        {M, "--max-text 1e300 " + F("o.qnds"), "--max-text"},
        {M, F("o.qnds") + " " + F("p.qnds"), "unexpected argument"},
        {M, "''", "OUT.qnds is an empty name"},
        {M, "--grid 2x2 --lines --pieces " + F("o.qnds"), "--lines and --pieces cannot be given together"},
        {R, "--bogus", "unexpected argument '--bogus' (see --help)"},
        {R, in, "MANIFEST, -o OUT and --fonts DIR are required (see --help)"},
        {R, in + " -o " + F("o.png") + " --fonts " + F(""), ".qns4, the format it is written in (see --help)"},
        {D, "'' " + F("") + " -o " + F("o.pdf"), "GUIDE is an empty name"},
        {D, in + " '' -o " + F("o.pdf"), "PICTURES is an empty name"},
        {D, in + " " + F("") + " -o ''", "OUT.pdf is an empty name"},
        {S, "--bogus", "unknown option --bogus"},
        {S, "--bogus 1 -o " + F("o.png"), "unknown option --bogus"},
        {S, "extra -o " + F("o.png"), "unexpected argument 'extra'"},
        {S, "--scene", "--scene needs a value"},
        {S, "-o ''", "FILE.png is an empty name"},
        {S, "--scene bogus -o " + F("o.png"), "unknown scene 'bogus'"},
        {S, "--view bogus -o " + F("o.png"), "unknown view 'bogus'"},
        {S, "--ss 17 -o " + F("o.png"), "--ss takes a whole number from 1 to 16, not '17'"},
        {S, "--gen 3 -o " + F("o.png"), "--gen takes 1 or 2, not '3'"},
        {S, "--size 8x8 -o " + F("o.png"), "--size takes WxH"},
        {S, "--light 0,0,-1 -o " + F("o.png"), "--light takes X,Y,Z with Z above 0"},
        {S, "--light nan,0,1 -o " + F("o.png"), "--light takes X,Y,Z"},
        {S, "--generator bogus -o " + F("o.png"), "unknown generator 'bogus'"},
        {S, "--scene wave", "no output file"},
        {S, "--view hq-full -o " + F("o.png"), "hq-full belongs to the first generation only (--gen 1)"},
        {S, "--view bgshadow --gen 2 -o " + F("o.png"), "bgshadow belongs to the first generation only"},
        {S, "--all " + F("all") + " -o " + F("o.png"), "cannot be given together"},
    };
    const auto before = Listing(d);
    for (const auto& c : cases) {
        const Result r = RunProgram(c.program, c.args);
        const std::string name = fs::path(c.program).filename().string();
        const std::string what = name + " " + c.args + ": " + r.err;
        EXPECT_EQ(r.code, 2) << what;
        EXPECT_EQ(Lines(r.err), 1u) << what;
        EXPECT_EQ(r.err.rfind(name, 0), 0u) << what;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << what;
        EXPECT_TRUE(r.out.empty()) << what << r.out;
        EXPECT_EQ(Listing(d), before) << what;
    }
    fs::remove_all(d);
}

// The options a --help lists with the word for each one's value (empty
// for a switch): in a tool's usage line ("[--grid CxR [--seed N] | ...]",
// "[--pieces|--lines]"), or one to a line ("  --grid CxR   columns ...").
std::map<std::string, std::string> ListedOptions(const std::string& help)
{
    std::vector<std::string> words;
    const bool oneLine = help.rfind("usage: tessolo-tool ", 0) == 0;
    for (size_t at = 0; at < help.size();) {
        const size_t end = std::min(help.find('\n', at), help.size());
        const std::string line = help.substr(at, end - at);
        at = end + 1;
        const bool usage = line.rfind("usage: ", 0) == 0 || line.rfind("  | ", 0) == 0 || line.rfind("       ", 0) == 0;
        if (oneLine ? !usage : line.rfind("  -", 0) != 0)
            continue;
        std::vector<std::string> lineWords;
        for (size_t w = 0; w < line.size();) {
            const size_t stop = std::min(line.find(' ', w), line.size());
            if (stop > w)
                lineWords.push_back(line.substr(w, stop - w));
            w = stop + 1;
        }
        // One to a line: the option and its value, then what it does.
        if (!oneLine)
            lineWords.resize(std::min<size_t>(lineWords.size(), 2));
        words.insert(words.end(), lineWords.begin(), lineWords.end());
        words.push_back("");
    }
    const auto bare = [](std::string w) {
        w.erase(std::remove_if(w.begin(), w.end(), [](char c) { return c == '[' || c == ']' || c == '(' || c == ')'; }),
                w.end());
        return w;
    };
    std::map<std::string, std::string> listed;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string w = bare(words[i]);
        if (w.rfind("-", 0) != 0 || w.size() < 2)
            continue;
        const std::string next = i + 1 < words.size() ? words[i + 1] : "";
        const bool closed = words[i].back() == ']' || words[i].back() == ')';
        const bool value = !closed && !next.empty() && next[0] != '[' && next[0] != '-' && next[0] != '|' &&
                           next[0] != '(' && (next[0] < 'a' || next[0] > 'z' || next.find('|') != std::string::npos);
        for (size_t from = 0; from < w.size();) {
            const size_t bar = std::min(w.find('|', from), w.size());
            listed[w.substr(from, bar - from)] = value ? bare(next) : "";
            from = bar + 1;
        }
    }
    return listed;
}

// Every sub-command of every program takes each option its --help lists,
// and refuses, with exit 2 and one line naming it, an option of another
// sub-command of its program and one the format, mode or road at hand has
// no use for: none is taken in silence, and no usage lists one that is
// refused.
TEST(CommandLineMisuse, EverySubCommandTakesTheOptionsItsHelpListsAndRefusesOthers)
{
    Folder d("walk");
    const auto F = [&](const std::string& name) { return "'" + (d / name) + "'"; };
    const std::string source = TESSOLO_SOURCE_DIR, build = fs::path(TESSOLO_TOOL).parent_path().parent_path().string();
    fs::copy_file(source + "/samples/sample.png", d / "in.png");
    fs::copy_file(source + "/fuzz/corpus/shape_file/knob.qnth", d / "knob.qnth");
    fs::create_directories(d / "series");
    ASSERT_EQ(RunTool("layout new --grid 3x2 " + F("lay.qntd")).code, 0);
    ASSERT_EQ(RunTool("layout block " + F("lay.qntd") + " " + F("lay.block")).code, 0);
    ASSERT_EQ(RunTool("psd write " + F("in.psd") + " " + F("in.png")).code, 0);
    ASSERT_EQ(RunTool("storage put " + F("store.conf") + " A 1 1").code, 0);
    // Pieces on a transparent ground, for the filters that work along its edge.
    ASSERT_EQ(RunTool("engine render --grid 3x2 " + F("in.png") + " " + F("pieces.png")).code, 0);
    const std::string in = F("in.png"), lay = F("lay.qntd"), skin = "'" + build + "/resource_ts31_d.qns4'";
    // A value for each usage word that is enough to name it; the rest by option.
    const std::map<std::string, std::string> byWord = {
        {"PPI", "300"}, {"N", "1"}, {"CxR", "3x2"}, {"COLSxROWS", "3x2"}, {"R", "2"}, {"S", "2"}, {"WxH", "100x80"},
        {"PERCENT", "10"}, {"TENSION,ACROSS,ALONG", "10,10,10"}, {"PICTURE", in}, {"OUT.png", F("snap.png")},
        {"NAME", "rest"}, {"FILE", F("lay.block")}};

    struct Row {
        const char* program;
        std::string command;  // what comes before --help or the options
        std::string args;     // the rest of a run that succeeds
        std::map<std::string, std::string> values = {};  // by option, where the usage word is not enough
        std::map<std::string, std::string> with = {};    // what an option needs beside it
        std::vector<std::string> refused = {};           // listed, but of no use here
        std::map<std::string, std::string> instead = {};  // args for an option that names its output otherwise
        std::map<std::string, int> code = {};  // an option's run that ends otherwise than in success
        std::string leading = {};              // the option that must come first
        int ends = 0;                          // how a run of this row ends when no option says otherwise
        std::vector<std::string> only = {};    // when given, the only listed options of use here
    };
    const char* const T = TESSOLO_TOOL;
    const char* const M = TESSOLO_MKDESC;
    const std::vector<std::string> merged = {"--names", "--no-composite", "--without-bevel", "--hidden", "--pieces-alone"};
    const std::vector<std::string> layoutOptions = {"--grid",  "--pieces", "--lines",  "--straight",
                                                    "--knob",  "--width",  "--no-cut", "--no-smooth"};
    const std::map<std::string, std::string> text = {{"--max-text", "100000"}}, raw = {{"--raw", F("o.block")}};
    // tessolo-host's roads: a replay, the dialog and About. Without a display
    // the last two end in a host error (3) once the command line is taken.
    const char* const H = TESSOLO_HOST;
    ASSERT_EQ(RunProgram(M, F("job.qnds")).code, 0);
    std::ofstream(d / "profile.icc") << "an ICC profile";
    const std::map<std::string, std::string> host = {
        {"--plugin", "'" + OwnPluginFolder() + "/Tessolo.so'"}, {"--descriptor", F("job.qnds")},
        {"--selection", in}, {"--add-layer", in}, {"--channel", in}, {"--target", "0"}, {"--fg", "102030"},
        {"--bg", "102030"}, {"--pick", "102030"}, {"--resolution", "300"}, {"--icc", F("profile.icc")},
        {"--image-mode", "3"}, {"--depth", "8"}, {"--max-space", "8388608"}, {"--max-text", "100000"},
        {"--abort-after", "1000000"}};
    const std::string job = "--descriptor " + F("job.qnds") + " " + in + " ";
    // Without advanceState the plug-in cannot ask for its pixels.
    const std::map<std::string, int> pixels = {{"--no-advance-state", 3}};
    std::vector<Row> rows = {
        {T, "engine lines", in + " " + F("o.png")},
        {T, "engine pieces", in + " " + F("o.png")},
        {T, "engine render", in + " " + F("o.png")},
        {T, "export pieces", lay + " " + in + " " + F("o.psd"), {{"--to", "psd"}}, {{"--no-composite", "--what selected"}},
         {"--pieces-alone"}},
        {T, "export pieces", lay + " " + in + " " + F("series"), {{"--to", "png"}},
         {{"--no-composite", "--what selected"}}, {"--hidden"}},
        {T, "export pieces", "--what merged " + lay + " " + in + " " + F("o.psd"), {{"--to", "psd"}, {"--what", "merged"}},
         {}, merged},
        {T, "export knives", lay + " " + F("k.eps"), {{"--to", "eps"}, {"--what", "all"}, {"--picture", in}},
         {{"--to", "--size 100x80"}, {"--what", "--size 100x80"}, {"--resolution", "--size 100x80"}}},
        {T, "layout new", "--grid 3x2 " + F("o.qntd"), {{"--flip", "random"}}, {{"--seed", "--randomize 5"}}},
        {T, "layout show", lay},
        {T, "layout block", lay + " " + F("o.block")},
        {T, "shapes ls", F("knob.qnth")},
        {T, "shapes show", F("knob.qnth"), {{"--index", "0"}, {"--png", F("shape.png")}}},
        {T, "shapes convert", F("knob.qnth") + " " + F("o.qnth"), {{"--index", "0"}}},
        {T, "storage ls", F("store.conf")},
        {T, "storage get", F("store.conf") + " A"},
        {T, "storage put", F("store.conf") + " B 1 1"},
        {T, "storage check", F("store.conf")},
        {T, "resources dump", skin},
        {T, "resources sheet", skin + " " + F("sheet.png"), {{"--window", "About"}}},
        {T, "psd write", F("o.psd") + " " + in},
        {T, "psd read", F("in.psd") + " " + F("read")},
        {T, "ui-controls", "--snap " + F("c.png"), {{"--resource", "'" + build + "/controls_gallery.qns4'"}}},
        {T, "ui-edit", "--snap " + F("e.png"), {{"--resource", "'" + build + "/edit_gallery.qns4'"}}},
        // A skin without the gallery's window is read, and refused as such.
        {T, "ui-gallery", "--snap " + F("g.png"), {{"--resource", skin}}, {}, {}, {}, {{"--resource", 1}},
         "--controls"},
        {T, "ui-tour", F("tour"), {{"--resource", skin}, {"--photo", in}}},
        {T, "text-demo", "'" + source + "/resources/fonts/DejaVuSans.ttf' hello " + F("t.png"), {{"--size", "12"}}},
        {M, "", F("o.qnds"), text, {}, {}, raw},
        {M, "", "--block " + F("lay.block") + " " + F("o.qnds"), text, {}, layoutOptions, raw},
        {M, "", "--raw " + F("o.block"), text, {}, {"--max-text"}},
        {M, "", "--straight " + F("o.qnds"), text, {}, {"--knob", "--block"}, raw},
        {H, "", "--replay " + job + F("o.psd"), host, {}, {"--dialog", "--about", "--quality", "--pick", "--no-handles",
         "--no-descriptor"}, {}, pixels},
        {H, "", job + F("o.jpg"), host, {}, {"--about", "--pick", "--no-handles", "--no-descriptor"}, {},
         {{"--no-advance-state", 3}, {"--dialog", 3}}},
        {H, "", "--dialog " + in + " " + F("o.png"), host, {}, {"--replay", "--about", "--quality"}, {}, {}, "", 3},
        {H, "", "--about", host, {}, {}, {}, {}, "", 3, {"--about", "--plugin", "--repeat", "-v"}},
    };
    // Each filter is a sub-command of fx, with arguments of its own.
    const std::map<std::string, std::string> filters = {
        {"gauss", "2"},          {"motion", "30 4"},    {"bevel", "4 100 2 1,1,1 200 200"}, {"stroke", "2 255 ff0000"},
        {"hsl", "10 0 0"},       {"colorize", "10 50 0"}, {"bc", "10 10"},                  {"invert", ""},
        {"gray", ""},            {"overlay", "ff0000 50"}, {"combine", F("pieces.png") + " 50"},         {"resize", "100 50"},
        {"resizezo", "100 50"},  {"tile", "400 300"},   {"convolution", "1 1 1"},           {"sharpen", "normal"}};
    const Result all = RunTool("fx --help");
    for (size_t at = all.out.find("fx "); at != std::string::npos; at = all.out.find("| fx ", at + 1)) {
        const size_t from = all.out.find("fx ", at) + 3;
        const std::string name = all.out.substr(from, all.out.find(' ', from) - from);
        ASSERT_TRUE(filters.count(name)) << "no arguments for fx " << name;
        rows.push_back(
            {T, "fx " + name, filters.at(name) + " " + F("pieces.png") + " " + F("o.png"), {}, {{"--repeat", "--time"}}});
    }

    // The dialog and About end alike whatever display the test was given.
    struct NoDisplay {
        std::string was;
        bool had = false;
        NoDisplay()
        {
            if (const char* v = std::getenv("DISPLAY"))
                was = v, had = true;
            unsetenv("DISPLAY");
        }
        ~NoDisplay()
        {
            if (had)
                setenv("DISPLAY", was.c_str(), 1);
        }
    } noDisplay;

    // The options of each row, and of every row of its program and command.
    std::map<std::string, std::map<std::string, std::string>> ofCommand;
    std::vector<std::map<std::string, std::string>> listed;
    for (const Row& row : rows) {
        const Result help = RunProgram(row.program, row.command + " --help");
        ASSERT_EQ(help.code, 0) << row.command;
        listed.push_back(ListedOptions(help.out));
        const std::string key = std::string(row.program) + row.command.substr(0, row.command.find(' '));
        ofCommand[key].insert(listed.back().begin(), listed.back().end());
    }
    for (size_t r = 0; r < rows.size(); ++r) {
        const Row& row = rows[r];
        const std::string key = std::string(row.program) + row.command.substr(0, row.command.find(' '));
        for (const auto& [option, word] : ofCommand[key]) {
            std::string value = row.values.count(option) ? row.values.at(option) : "";
            if (!word.empty() && value.empty())
                value = byWord.count(word) ? byWord.at(word) : word.substr(0, word.find('|'));
            const std::string args = row.instead.count(option) ? row.instead.at(option) : row.args;
            const std::string line = option == row.leading ? row.command + " " + option + " " + args :
                                     row.command + " " + args + " " +
                                     (row.with.count(option) ? row.with.at(option) + " " : "") + option +
                                     (word.empty() ? "" : " " + value);
            const bool takes = listed[r].count(option) &&
                               std::find(row.refused.begin(), row.refused.end(), option) == row.refused.end() &&
                               (row.only.empty() || std::find(row.only.begin(), row.only.end(), option) != row.only.end());
            const Result run = RunProgram(row.program, line);
            const std::string what = fs::path(row.program).filename().string() + " " + line + ": " + run.err;
            if (takes) {
                EXPECT_EQ(run.code, row.code.count(option) ? row.code.at(option) : row.ends) << what;
            } else {
                EXPECT_EQ(run.code, 2) << what;
                EXPECT_EQ(Lines(run.err), 1u) << what;
                EXPECT_NE(run.err.find(option), std::string::npos) << what;
            }
        }
    }
}

}  // namespace

namespace {

// A presets store record as the presets manager writes one: its name, its
// node count, and U, H, S for each node in this machine's byte order, the
// rest 0.
std::string PresetRecord(const std::string& name, int nodes)
{
    std::string rec(836, '\0');
    rec.replace(0, name.size(), name);
    rec[64] = char(nodes);
    for (int i = 0; i < nodes; ++i) {
        const float u = float(i) / float(nodes), h = 0.1f * float(i % 3), s = 0.5f;
        std::memcpy(&rec[68 + 4 * i], &u, 4);
        std::memcpy(&rec[324 + 4 * i], &h, 4);
        std::memcpy(&rec[580 + 4 * i], &s, 4);
    }
    return rec;
}

void Write(const fs::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

}  // namespace

// The presets store is checked as a shape file is: a store cut anywhere
// but at a record's end, an empty one, random bytes and a PNG renamed are
// refused by every shapes command in one line with exit 1, and convert
// writes no shape of them.
TEST(CommandLineMisuse, EveryShapesCommandRefusesADamagedPresetsStore)
{
    const fs::path d = fs::path(::testing::TempDir()) / ("store_" + std::to_string(::getpid()));
    fs::remove_all(d);
    fs::create_directories(d);
    const std::string store = (d / "ckss.data").string(), out = (d / "out.qnth").string();
    const std::string sound = PresetRecord("knob", 5) + PresetRecord("wave", 9);
    std::vector<std::pair<std::string, std::string>> damaged;  // what, bytes
    for (size_t n = 0; n < sound.size(); n += 97)
        if (n % 836)
            damaged.push_back({"cut to " + std::to_string(n) + " bytes", sound.substr(0, n)});
    damaged.push_back({"cut by one byte", sound.substr(0, sound.size() - 1)});
    damaged.push_back({"empty", ""});
    std::string noise(2 * 836, '\0');
    uint32_t x = 66;
    for (char& c : noise)
        c = char((x = x * 1103515245u + 12345u) >> 24);
    damaged.push_back({"random bytes", noise});
    {
        hostapp::RasterImage picture;
        picture.Allocate(hostapp::ColorMode::RGB, 20, 20, false, 128);
        std::string err;
        ASSERT_TRUE(hostapp::WritePngFile((d / "p.png").string(), picture, err)) << err;
        std::string png = Slurp((d / "p.png").string());
        damaged.push_back({"a PNG renamed", png});
        png.resize((png.size() / 836 + 1) * 836, '\0');
        damaged.push_back({"a PNG renamed, padded to whole records", png});
    }
    // Records no preset is: all zeros (no name), a blank name, and values
    // that are no number. A named record without nodes is a straight knife;
    // a value far along or across the knife is still a shape, as in a shape
    // file.
    damaged.push_back({"zeros", std::string(2 * 836, '\0')});
    damaged.push_back({"a blank name", PresetRecord("   ", 5)});
    damaged.push_back({"a straight knife, unnamed", PresetRecord("knob", 5) + PresetRecord("", 0)});
    auto withValue = [&](size_t at, float v) {
        std::string bytes = sound;
        std::memcpy(&bytes[836 + at], &v, 4);
        return bytes;
    };
    damaged.push_back({"U no number", withValue(68 + 4, std::numeric_limits<float>::quiet_NaN())});
    damaged.push_back({"H infinite", withValue(324 + 8, -std::numeric_limits<float>::infinity())});
    const std::string far = withValue(68, 1e38f);
    for (const std::string& taken : {sound + PresetRecord("straight", 0), far}) {
        Write(store, taken);
        fs::remove(out);
        for (const std::string& run : {"shapes ls " + store, "shapes show " + store,
                                       "shapes convert " + store + " " + out + " --index 1"}) {
            const Result r = RunTool(run);
            EXPECT_EQ(r.code, 0) << run << ": " << r.err;
        }
        ASSERT_TRUE(fs::exists(out));
    }
    for (const auto& [what, bytes] : damaged) {
        SCOPED_TRACE(what);
        Write(store, bytes);
        fs::remove(out);
        for (const std::string& run : {"shapes ls " + store, "shapes show " + store,
                                       "shapes convert " + store + " " + out + " --index 0"}) {
            const Result r = RunTool(run);
            EXPECT_EQ(r.code, 1) << run;
            EXPECT_EQ(r.out, "") << run;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << run << ": " << r.err;
            EXPECT_EQ(r.err.rfind("tessolo-tool shapes: " + store + ": ", 0), 0u) << run << ": " << r.err;
            EXPECT_FALSE(fs::exists(out)) << run;
        }
    }
    fs::remove_all(d);
}
