// Standard output judged as any output: "-" goes there only in the programs
// that take it, never when standard output is one of the run's inputs, and a
// standard output that is closed fails every program in one wording.
#include "tool_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string Q(const std::string& path) { return "'" + path + "'"; }

// The files the runs below read, in a folder of their own.
struct Inputs {
    Folder d{"stdout_" + std::to_string(::getpid())};
    std::string in, lay, block, zip, knob, skin, font, manifest, fonts, guide, pictures;

    Inputs()
    {
        const std::string source = TESSOLO_SOURCE_DIR, binary = TESSOLO_BINARY_DIR;
        fs::copy_file(source + "/samples/sample.png", d / "in.png");
        fs::copy_file(source + "/fuzz/corpus/shape_file/knob.qnth", d / "knob.qnth");
        fs::copy_file(binary + "/resource_ts31_d.qns4", d / "skin.qns4");
        fs::copy_file(source + "/resources/fonts/DejaVuSans.ttf", d / "font.ttf");
        in = Q(d / "in.png"), lay = Q(d / "lay.qntd"), block = Q(d / "lay.block"), zip = Q(d / "in.zip");
        knob = Q(d / "knob.qnth"), skin = Q(d / "skin.qns4"), font = Q(d / "font.ttf");
        manifest = Q(source + "/resources/manifest/ui.qnui"), fonts = Q(source + "/resources/fonts");
        guide = Q(source + "/resources/help/guide.txt"), pictures = Q(binary + "/help/pictures");
        EXPECT_EQ(RunTool("layout new --grid 3x2 " + lay).code, 0);
        EXPECT_EQ(RunTool("layout block " + lay + " " + block).code, 0);
        EXPECT_EQ(RunTool("zip " + in + " " + zip).code, 0);
        EXPECT_EQ(RunProgram(TESSOLO_MKDESC, "--grid 2x2 " + Q(d / "job.qnds")).code, 0);
    }
};

}  // namespace

// Every program that takes "-" refuses it before any work when standard
// output is a file the run reads, opened for writing or for appending, in
// the words of any output that leads to an input, and the file keeps its
// bytes; with standard output elsewhere the same run writes. Every program
// that writes files only refuses "-" in one wording, writing nothing.
TEST(StandardOutput, IsNoInputOfTheRunAndOnlyWhereAProgramTakesIt)
{
    const Inputs i;
    const char* tool = TESSOLO_TOOL;
    const struct {
        const char* program;
        std::string args;
        std::vector<std::string> reads;
        std::string file;  // a name the same run writes the same bytes to
    } takes[] = {
        {tool, "convert " + i.in + " -", {"in.png"}, "out.png"},
        {tool, "fx invert " + i.in + " -", {"in.png"}, "out.png"},
        {tool, "psd write - " + i.in, {"in.png"}, "out.psd"},
        {tool, "layout block " + i.lay + " -", {"lay.qntd"}, "out.block"},
        {tool, "shapes convert " + i.knob + " -", {"knob.qnth"}, "out.qnth"},
        {tool, "zip " + i.in + " -", {"in.png"}, "out.zip"},
        {tool, "unzip " + i.zip + " -", {"in.zip"}, "out.bin"},
        {tool, "export pieces --to psd " + i.lay + " " + i.in + " -", {"lay.qntd", "in.png"}, "out.psd"},
        {tool, "resources sheet " + i.skin + " -", {"skin.qns4"}, "out.png"},
        {tool, "text-demo " + i.font + " hello -", {"font.ttf"}, "out.png"},
        {TESSOLO_MKDESC, "--block " + i.block + " -", {"lay.block"}, "out.qnds"},
        {TESSOLO_MKDESC, "--raw --block " + i.block + " -", {"lay.block"}, "out.block"},
    };
    for (const auto& t : takes) {
        const Result piped = RunProgram(t.program, t.args);
        EXPECT_EQ(piped.code, 0) << t.args << ": " << piped.err;
        EXPECT_FALSE(piped.out.empty()) << t.args;
        // Standard output holds the file alone: what the run says of it
        // goes to standard error.
        std::string named = " " + t.args + " ";
        named.replace(named.find(" - "), 3, " " + Q(i.d / t.file) + " ");
        const Result toFile = RunProgram(t.program, named);
        EXPECT_EQ(toFile.code, 0) << named << ": " << toFile.err;
        EXPECT_EQ(Slurp(i.d / t.file), piped.out) << t.args;
        fs::remove(i.d / t.file);
        for (const std::string& read : t.reads)
            for (const char* how : {"<>", ">>"}) {
                SCOPED_TRACE(t.args + " 1" + how + read);
                const std::string bytes = Slurp(i.d / read);
                const Result r = RunProgram(t.program, t.args, how + Q(i.d / read));
                EXPECT_EQ(r.code, 1) << r.err;
                EXPECT_EQ(Lines(r.err), 1u) << r.err;
                EXPECT_NE(r.err.find(": cannot write -: it would write over the input " + i.d / read + "; "),
                          std::string::npos)
                    << r.err;
                EXPECT_EQ(Slurp(i.d / read), bytes);
            }
    }

    const struct {
        const char* program;
        std::string args;
        int code;
    } filesOnly[] = {
        {tool, "engine lines --grid 2x2 " + i.in + " -", 1},
        {tool, "export knives --size 10x10 " + i.lay + " -", 1},
        {tool, "layout new --grid 2x2 -", 1},
        {tool, "shapes show " + i.knob + " --png -", 1},
        {tool, "storage put - A 1 1", 1},
        {tool, "ui-gallery --snap -", 1},
        {tool, "ui-controls --snap -", 1},
        {tool, "ui-edit --snap -", 1},
        {TESSOLO_HOST, i.in + " -", 3},
        {TESSOLO_S3D_DEMO, "--scene wave --view flat -o -", 1},
        {TESSOLO_RC, i.manifest + " -o - --fonts " + i.fonts, 1},
        {TESSOLO_HELPDOC, i.guide + " " + i.pictures + " -o -", 1},
        // Folders their files go into: "-" names none.
        {tool, "psd read " + i.in + " -", 1},
        {tool, "ui-tour -", 1},
        {tool, "core-demo -", 1},
        {tool, "export pieces --to png " + i.lay + " " + i.in + " -", 1},
        {TESSOLO_S3D_DEMO, "--all -", 1},
    };
    std::vector<std::string> before;
    for (const auto& e : fs::directory_iterator(i.d.path()))
        before.push_back(e.path().string());
    for (const auto& f : filesOnly) {
        const Result r = RunProgram(f.program, f.args);
        const std::string what = std::string(f.program) + " " + f.args + ": " + r.err;
        EXPECT_EQ(r.code, f.code) << what;
        EXPECT_EQ(Lines(r.err), 1u) << what;
        const bool folder = f.args.find("--all") != std::string::npos || f.args.find("core-demo") == 0 ||
                            f.args.find("ui-tour") == 0 || f.args.find("psd read") == 0 || f.args.find("--to png") != std::string::npos;
        EXPECT_NE(r.err.find(folder ? ": cannot write -: written to a folder only, not to standard output (name a folder)\n"
                                    : ": cannot write -: written to a file only, not to standard output (name a file)\n"),
                  std::string::npos)
            << what;
        EXPECT_FALSE(fs::exists("-")) << what;
        EXPECT_TRUE(r.out.empty()) << what;
    }
    std::vector<std::string> after;
    for (const auto& e : fs::directory_iterator(i.d.path()))
        after.push_back(e.path().string());
    EXPECT_EQ(after.size(), before.size());
}

// Standard output is an output of every program, not only where "-" names
// it: when it is a file the run reads, the lines a program prints would
// land in that file, so every program and command that reads a file
// refuses before any work, in the same words, whatever it writes and
// wherever; the input keeps its bytes and nothing else is written.
TEST(StandardOutput, ThatIsAnInputIsRefusedByEveryProgramThatReadsOne)
{
    const Inputs i;
    const char* tool = TESSOLO_TOOL;
    const std::string o = " " + Q(i.d / "out"), png = " " + Q(i.d / "out.png");
    fs::copy_file(i.d / "in.png", i.d / "in.data");
    ASSERT_EQ(RunTool("psd write " + Q(i.d / "in.psd") + " " + i.in).code, 0);
    ASSERT_EQ(RunTool("storage put " + Q(i.d / "s.conf") + " A 1 1").code, 0);
    const std::string psd = Q(i.d / "in.psd");
    const struct {
        const char* program;
        std::string args;
        std::string read;  // the input standard output is appended to
        int code;
    } cases[] = {
        {tool, "convert " + i.in + png, "in.png", 1},
        {tool, "fx invert " + i.in + png, "in.png", 1},
        {tool, "psd write " + Q(i.d / "out.psd") + " " + i.in, "in.png", 1},
        {tool, "psd read " + psd + " " + Q(i.d.path()), "in.psd", 1},
        {tool, "layout show " + i.lay, "lay.qntd", 1},
        {tool, "layout block " + i.lay + " " + Q(i.d / "out.block"), "lay.qntd", 1},
        {tool, "engine lines --grid 2x2 " + i.in + png, "in.png", 1},
        {tool, "engine render --block " + i.block + " " + i.in + png, "lay.block", 1},
        {tool, "export pieces --to psd " + i.lay + " " + i.in + " " + Q(i.d / "out.psd"), "in.png", 1},
        {tool, "export pieces --to png " + i.lay + " " + i.in + " " + Q(i.d.path()), "lay.qntd", 1},
        {tool, "export knives --size 10x10 " + i.lay + " " + Q(i.d / "out.eps"), "lay.qntd", 1},
        {tool, "shapes ls " + i.knob, "knob.qnth", 1},
        {tool, "shapes show " + i.knob + " --png" + png, "knob.qnth", 1},
        {tool, "shapes convert " + i.knob + " " + Q(i.d / "out.qnth"), "knob.qnth", 1},
        {tool, "zip " + i.in + o, "in.png", 1},
        {tool, "unzip " + i.zip + o, "in.zip", 1},
        {tool, "md5 " + i.in, "in.png", 1},
        {tool, "storage ls " + Q(i.d / "s.conf"), "s.conf", 1},
        {tool, "resources dump " + i.skin, "skin.qns4", 1},
        {tool, "resources sheet " + i.skin + png, "skin.qns4", 1},
        {tool, "text-demo " + i.font + " hello" + png, "font.ttf", 1},
        {TESSOLO_HOST, "-v " + i.in + png, "in.png", 3},
        {TESSOLO_MKDESC, "--block " + i.block + " " + Q(i.d / "out.qnds"), "lay.block", 1},
        {TESSOLO_RC, Q(i.d / "in.data") + " -o " + Q(i.d / "out.qns4") + " --fonts " + i.fonts, "in.data", 1},
        {TESSOLO_HELPDOC, Q(i.d / "in.data") + " " + i.pictures + " -o " + Q(i.d / "out.pdf"), "in.data", 1},
        // Files read from a folder named on the command line.
        {TESSOLO_RC, i.manifest + " -o " + Q(i.d / "out.qns4") + " --fonts " + Q(i.d.path()), "font.ttf", 1},
        {TESSOLO_HELPDOC, i.guide + " " + Q(i.d.path()) + " -o " + Q(i.d / "out.pdf"), "01_main_layout.png", 1},
    };
    fs::copy_file(std::string(TESSOLO_BINARY_DIR) + "/help/pictures/01_main_layout.png", i.d / "01_main_layout.png");
    std::vector<std::string> before;
    for (const auto& e : fs::directory_iterator(i.d.path()))
        before.push_back(e.path().string());
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.program) + " " + c.args + " >>" + c.read);
        const std::string bytes = Slurp(i.d / c.read);
        const Result r = RunProgram(c.program, c.args, ">>" + Q(i.d / c.read));
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_EQ(Lines(r.err), 1u) << r.err;
        EXPECT_NE(r.err.find(": cannot write -: it would write over the input "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.read + "; name another output\n"), std::string::npos) << r.err;
        EXPECT_EQ(Slurp(i.d / c.read), bytes);
    }
    std::vector<std::string> after;
    for (const auto& e : fs::directory_iterator(i.d.path()))
        after.push_back(e.path().string());
    EXPECT_EQ(after, before);
}

// A standard output closed from the start: no file a program opens takes its
// place, so a program that writes there (the file it was given "-" for, a
// line saying what it wrote, its usage) fails with one line in one wording,
// naming the command.
TEST(StandardOutput, AClosedOneFailsEveryProgramThatWritesThere)
{
    const Inputs i;
    const char* tool = TESSOLO_TOOL;
    const struct {
        const char* program;
        std::string args;
        const char* names;  // what the line begins with
        int code;
    } lost[] = {
        {tool, "convert " + i.in + " -", "tessolo-tool convert", 1},
        {tool, "fx invert " + i.in + " -", "tessolo-tool fx", 1},
        {tool, "psd write - " + i.in, "tessolo-tool psd", 1},
        {tool, "draw-demo -", "tessolo-tool draw-demo", 1},
        {tool, "zip " + i.in + " -", "tessolo-tool zip", 1},
        {tool, "unzip " + i.zip + " -", "tessolo-tool unzip", 1},
        {tool, "layout block " + i.lay + " -", "tessolo-tool layout", 1},
        {tool, "shapes convert " + i.knob + " -", "tessolo-tool shapes", 1},
        {tool, "text-demo " + i.font + " hello -", "tessolo-tool text-demo", 1},
        {tool, "resources sheet " + i.skin + " -", "tessolo-tool resources", 1},
        {tool, "export pieces --to psd " + i.lay + " " + i.in + " -", "tessolo-tool export", 1},
        {TESSOLO_MKDESC, "--grid 2x2 -", "tessolo-mkdesc", 1},
        // A file written, and the line that says so lost.
        {tool, "convert " + i.in + " " + Q(i.d / "o.png"), "tessolo-tool convert", 1},
        {tool, "ui-gallery --snap " + Q(i.d / "g.png"), "tessolo-tool ui-gallery", 1},
        {TESSOLO_MKDESC, "--grid 2x2 " + Q(i.d / "o.qnds"), "tessolo-mkdesc", 1},
        {TESSOLO_S3D_DEMO, "--scene wave --view flat -o " + Q(i.d / "s.png"), "surface3d-demo", 1},
        {TESSOLO_HOST, "--descriptor " + Q(i.d / "job.qnds") + " " + i.in + " " + Q(i.d / "h.png"), "tessolo-host", 3},
        {TESSOLO_RC, i.manifest + " -o " + Q(i.d / "r.qns4") + " --fonts " + i.fonts, "tessolo-rc", 1},
        {tool, "--help", "tessolo-tool", 1},
        {TESSOLO_HOST, "--help", "tessolo-host", 3},
        {TESSOLO_RC, "--help", "tessolo-rc", 1},
        {TESSOLO_HELPDOC, "--help", "tessolo-helpdoc", 1},
        {TESSOLO_S3D_DEMO, "--help", "surface3d-demo", 1},
    };
    for (const auto& l : lost) {
        const Result r = RunProgram(l.program, l.args, ">&-");
        EXPECT_EQ(r.code, l.code) << l.args << ": " << r.err;
        EXPECT_EQ(r.err, std::string(l.names) + ": cannot write -: bad file descriptor\n") << l.args;
    }
}

// "-" given where a program reads a file is no standard input: every reader
// says so in one line, whatever waits on standard input.
TEST(StandardOutput, IsNeverReadAsStandardInput)
{
    const Inputs i;
    const std::string o = Q(i.d / "o.png"), fed = " < " + i.in;
    const struct {
        const char* program;
        std::string args;
        int code;
    } reads[] = {
        {TESSOLO_TOOL, "convert - " + o + fed, 1},
        {TESSOLO_TOOL, "fx invert - " + o + fed, 1},
        {TESSOLO_TOOL, "engine lines - " + o + fed, 1},
        {TESSOLO_TOOL, "export pieces " + i.lay + " - " + Q(i.d / "o.psd") + fed, 1},
        {TESSOLO_TOOL, "layout show -" + fed, 1},
        {TESSOLO_TOOL, "md5 -" + fed, 1},
        {TESSOLO_HOST, "- " + o + fed, 3},
        {TESSOLO_MKDESC, "--block - " + Q(i.d / "o.qnds") + fed, 1},
    };
    for (const auto& r : reads) {
        const Result run = RunProgram(r.program, r.args);
        const std::string what = std::string(r.program) + " " + r.args + ": " + run.err;
        EXPECT_EQ(run.code, r.code) << what;
        EXPECT_EQ(Lines(run.err), 1u) << what;
        EXPECT_NE(run.err.find(": cannot read -: no such file ('-' is standard output only, never standard input: "
                               "name a file)\n"),
                  std::string::npos)
            << what;
        EXPECT_FALSE(fs::exists(i.d / "o.png")) << what;
    }
}
