// What the programs write, under faults: every program keeps the README's
// promises on exit codes and overwriting, a series of files is written all
// or nothing, and an interrupted series leaves nothing behind.
#include "tool_run.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string kSample = std::string(TESSOLO_SOURCE_DIR) + "/samples/sample.png";

// Every entry under a folder (hidden ones too) with its bytes and
// permission bits; folders show as themselves.
std::map<std::string, std::string> Snapshot(const std::string& folder)
{
    std::map<std::string, std::string> all;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        const std::string name = fs::relative(e.path(), folder).string();
        const auto perms = std::to_string(unsigned(fs::symlink_status(e.path()).permissions()));
        all[name] = e.is_directory() ? "(folder)" : perms + ":" + Slurp(e.path().string());
    }
    return all;
}

std::vector<std::string> Hidden(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().filename().string()[0] == '.')
            names.push_back(e.path().filename().string());
    return names;
}

void Write(const std::string& path, const std::string& bytes, fs::perms perms = fs::perms(0644))
{
    std::ofstream(path, std::ios::binary) << bytes;
    fs::permissions(path, perms);
}

std::string Q(const std::string& path) { return "'" + path + "'"; }

// The signature and header of a w x h RGB PNG, all a reader needs to
// refuse a picture too large before its data.
std::string PngHeader(uint32_t w, uint32_t h)
{
    auto be = [](uint32_t v) {
        return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    };
    const std::string chunk = "IHDR" + be(w) + be(h) + std::string{8, 2, 0, 0, 0};
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : chunk) {
        crc ^= c;
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return "\x89PNG\r\n\x1a\n" + be(13) + chunk + be(~crc);
}

// Makes the files the table below names: a picture, a PSD picture, a
// layout document, a knife shape, and a read-only file for every kind of
// output.
void MakeInputs(const Folder& d)
{
    fs::copy_file(kSample, d / "in.png");
    fs::copy_file(std::string(TESSOLO_SOURCE_DIR) + "/fuzz/corpus/shape_file/knob.qnth", d / "knob.qnth");
    ASSERT_EQ(RunTool("psd write " + Q(d / "in.psd") + " " + Q(d / "in.png")).code, 0);
    ASSERT_EQ(RunTool("layout new --grid 3x2 " + Q(d / "lay.qntd")).code, 0);
    for (const char* ext : {"png", "psd", "eps", "qntd", "block", "zip", "qnds", "conf", "qns4", "pdf", "qnth"})
        Write(d / (std::string("ro.") + ext), "precious, read-only", fs::perms(0444));
    fs::create_directory(d / "rodir");
    fs::permissions(d / "rodir", fs::perms(0555));
}

// A run that must end at once: its exit code and, in its one line of
// error, what it says (nullptr: anything).
struct Refusal {
    const char* program;
    std::string args;
    int code;
    const char* says;
};

// Runs c; its error text, for the caller's own checks.
std::string ExpectRefused(const Refusal& c)
{
    const Result r = RunProgram(c.program, c.args);
    const std::string what = std::string(c.program) + " " + c.args + ": " + r.err;
    EXPECT_EQ(r.code, c.code) << what;
    EXPECT_EQ(Lines(r.err), 1u) << what;
    if (c.says) {
        EXPECT_NE(r.err.find(c.says), std::string::npos) << what;
    }
    return r.err;
}

}  // namespace

// Every program: a wrong command line exits 2, nothing is written over an
// input or a read-only file, the output's name chooses its format, and a
// write that fails says why; each answer is one line, and the folder holds
// exactly what it held before.
TEST(ProgramPromises, ExitCodesAndOverwritingHoldForEveryProgram)
{
    const Folder d("promises");
    MakeInputs(d);
    const std::string in = Q(d / "in.png"), psd = Q(d / "in.psd"), lay = Q(d / "lay.qntd");
    auto ro = [&](const char* ext) { return Q(d / (std::string("ro.") + ext)); };
    // Names of the outputs' formats that lead to an input.
    for (const char* name : {"in.qns4", "in.pdf"})
        fs::create_symlink(d / "in.png", d / name);
    fs::create_symlink(d / "lay.qntd", d / "lay.block");
    const std::string wide = Q(d / "wide.png");
    Write(d / "wide.png", PngHeader(40000, 2));
    const char* tool = TESSOLO_TOOL;
    const Refusal cases[] = {
        // A wrong command line.
        {tool, "export --bogus", 2, "(see --help)"},
        {tool, "export", 2, "(see --help)"},
        {tool, "export pieces " + lay + " " + in, 2, "(see --help)"},
        {tool, "export pieces --to pdf " + lay + " " + in + " " + Q(d / "o.psd"), 2, "--to"},
        {tool, "export knives --size 0x0 " + lay + " " + Q(d / "k.eps"), 2, "--size"},
        // One side limit for every export, typed or read.
        {tool, "export knives --size 30001x2 " + lay + " " + Q(d / "k.eps"), 2, "1 to 30000 each"},
        {tool, "export knives --picture " + wide + " " + lay + " " + Q(d / "k.eps"), 1, "more than the 30000 pixels a side"},
        {tool, "export pieces " + lay + " " + wide + " " + Q(d / "w.psd"), 1, "more than the 30000 pixels a side"},
        {tool, "fx gauss abc " + in + " " + Q(d / "o.png"), 2, "SIGMA"},
        {TESSOLO_S3D_DEMO, "--scene bogus -o " + Q(d / "o.png"), 2, "(see --help)"},
        {TESSOLO_S3D_DEMO, "--size 0x0 -o " + Q(d / "o.png"), 2, "(see --help)"},
        {TESSOLO_HOST, in + " " + Q(d / "o.bmp"), 2, nullptr},
        {TESSOLO_MKDESC, "--grid 0x0 " + Q(d / "o.qnds"), 2, nullptr},
        {TESSOLO_RC, in + " --fonts " + Q(d.path()), 2, "(see --help)"},
        {TESSOLO_HELPDOC, in + " " + Q(d.path()), 2, "(see --help)"},
        // The name chooses the format, or the run is refused.
        {tool, "convert " + in + " " + Q(d / "o.gif"), 2, ".png"},
        {tool, "export pieces --to psd " + lay + " " + in + " " + Q(d / "pieces.png"), 2, ".psd"},
        {tool, "export knives --to eps --size 10x10 " + lay + " " + Q(d / "k.ai"), 2, ".eps"},
        {tool, "export knives --picture " + in + " " + lay + " " + in, 2, ".eps"},
        // Never over an input.
        {tool, "convert " + in + " " + in, 1, "input"},
        {tool, "engine lines --grid 2x2 " + in + " " + in, 1, "input"},
        {tool, "fx gauss 2 " + in + " " + in, 1, "input"},
        {tool, "export pieces --to psd " + lay + " " + psd + " " + psd, 1, "input"},
        {tool, "layout block " + lay + " " + Q(d / "lay.block"), 1, "input"},
        {tool, "zip " + in + " " + in, 1, "input"},
        {tool, "shapes convert " + Q(d / "knob.qnth") + " " + Q(d / "knob.qnth"), 1, "input"},
        {tool, "psd write " + psd + " " + psd, 1, "input"},
        {TESSOLO_HOST, in + " " + in, 3, "input"},
        {TESSOLO_RC, in + " -o " + Q(d / "in.qns4") + " --fonts " + Q(d.path()), 1, "input"},
        {TESSOLO_HELPDOC, in + " " + Q(d.path()) + " -o " + Q(d / "in.pdf"), 1, "input"},
        // Never over a file without write permission.
        {tool, "convert " + in + " " + ro("png"), 1, "no write permission"},
        {tool, "engine lines --grid 2x2 " + in + " " + ro("png"), 1, "no write permission"},
        {tool, "fx invert " + in + " " + ro("png"), 1, "no write permission"},
        {tool, "export pieces " + lay + " " + in + " " + ro("psd"), 1, "no write permission"},
        {tool, "export knives --size 10x10 " + lay + " " + ro("eps"), 1, "no write permission"},
        {tool, "layout new --grid 2x2 " + ro("qntd"), 1, "no write permission"},
        {tool, "layout block " + lay + " " + ro("block"), 1, "no write permission"},
        {tool, "psd write " + ro("psd") + " " + in, 1, "no write permission"},
        {tool, "zip " + in + " " + ro("zip"), 1, "no write permission"},
        {tool, "storage put " + ro("conf") + " A 1 1", 1, "no write permission"},
        {tool, "shapes convert " + Q(d / "knob.qnth") + " " + ro("qnth"), 1, "no write permission"},
        {TESSOLO_MKDESC, "--grid 2x2 " + ro("qnds"), 1, "no write permission"},
        {TESSOLO_HOST, in + " " + ro("png"), 3, "no write permission"},
        {TESSOLO_S3D_DEMO, "--scene wave --view flat -o " + ro("png"), 1, "no write permission"},
        {TESSOLO_RC, in + " -o " + ro("qns4") + " --fonts " + Q(d.path()), 1, "no write permission"},
        {TESSOLO_HELPDOC, in + " " + Q(d.path()) + " -o " + ro("pdf"), 1, "no write permission"},
        // Never into a folder without write permission, whether one file or a series goes there.
        {tool, "convert " + in + " " + Q(d / "rodir/o.png"), 1, "the folder has no write permission"},
        {tool, "export pieces --to png " + lay + " " + in + " " + Q(d / "rodir"), 1, "no write permission"},
        {tool, "export pieces --to png " + lay + " " + in + " " + Q(d / "rodir/p"), 1, "no write permission"},
        {tool, "psd read " + psd + " " + Q(d / "rodir"), 1, "no write permission"},
        // A folder that is not there is named as such, by every writer of
        // files into a folder.
        {tool, "export pieces --to png " + lay + " " + in + " " + Q(d / "nosuch") + "/", 1, "no such folder"},
        {tool, "export pieces --to png " + lay + " " + in + " " + Q(d / "nosuch/p"), 1, "no such folder"},
        {tool, "psd read " + psd + " " + Q(d / "nosuch"), 1, "no such folder"},
        {tool, "psd read " + psd + " " + Q(d / "nosuch/deeper"), 1, "no such folder"},
        // A folder a writer makes is the last one only: no chain of them.
        {tool, "core-demo " + Q(d / "nosuch/deeper"), 1, "/nosuch/deeper: no such folder"},
        {TESSOLO_S3D_DEMO, "--all " + Q(d / "nosuch/deeper"), 1, "/nosuch/deeper: no such folder"},
        // A device is no file to write.
        {tool, "convert " + in + " /dev/full", 1, "a device, not a regular file"},
        {tool, "export knives --size 10x10 " + lay + " /dev/full", 1, "a device, not a regular file"},
        {tool, "shapes convert " + Q(d / "knob.qnth") + " /dev/full", 1, "a device, not a regular file"},
        {tool, "export pieces --to psd " + lay + " " + in + " /dev/full", 1, "a device, not a regular file"},
    };
    const auto before = Snapshot(d.path());
    for (const auto& c : cases) {
        const std::string err = ExpectRefused(c);
        EXPECT_EQ(Snapshot(d.path()), before) << c.args << ": " << err;
    }
}

// Every output of every program takes only a name that says the format it
// is written in: a picture named as a descriptor, a settings block, a
// document or a picture of another kind is a wrong command line (exit 2,
// one line naming the endings it takes), and the file of that name keeps
// its bytes. A run that writes says what it wrote, tessolo-mkdesc as well.
TEST(ProgramPromises, EveryOutputTakesOnlyANameOfItsFormat)
{
    const Folder d("endings");
    MakeInputs(d);
    fs::copy_file(kSample, d / "photo.jpg");
    fs::copy_file(kSample, d / "photo.png");
    const std::string in = Q(d / "in.png"), lay = Q(d / "lay.qntd"), knob = Q(d / "knob.qnth");
    const std::string png = Q(d / "photo.png"), jpg = Q(d / "photo.jpg");
    const std::string source = TESSOLO_SOURCE_DIR, binary = TESSOLO_BINARY_DIR;
    const std::string skin = Q(binary + "/resource_ts31_d.qns4"), font = Q(source + "/resources/fonts/DejaVuSans.ttf");
    const std::string manifest = Q(source + "/resources/manifest/ui.qnui"), fonts = Q(source + "/resources/fonts");
    const std::string guide = Q(source + "/resources/help/guide.txt"), pictures = Q(binary + "/help/pictures");
    const char* tool = TESSOLO_TOOL;
    const std::vector<std::pair<const char*, std::string>> runs = {
        {tool, "convert " + in + " " + jpg},
        {tool, "draw-demo " + jpg},
        {tool, "engine lines --grid 2x2 " + in + " " + jpg},
        {tool, "engine pieces --grid 2x2 " + in + " " + jpg},
        {tool, "engine render --grid 2x2 " + in + " " + jpg},
        {tool, "export pieces --to psd " + lay + " " + in + " " + png},
        {tool, "export pieces --to png " + lay + " " + in + " " + Q(d / "p.psd")},
        {tool, "export pieces --to png " + lay + " " + in + " " + jpg},
        {tool, "export pieces " + lay + " " + in + " " + Q(d / "p.qnds")},
        {tool, "export pieces --to png " + lay + " " + in + " " + Q(d / "p.")},
        {tool, "convert " + in + " " + Q(d / "x.")},
        {tool, "export knives --size 10x10 " + lay + " " + png},
        {tool, "fx invert " + in + " " + jpg},
        {tool, "layout new --grid 2x2 " + png},
        {tool, "layout block " + lay + " " + png},
        {tool, "psd write " + png + " " + in},
        {tool, "resources sheet " + skin + " " + jpg},
        {tool, "shapes show " + knob + " --png " + jpg},
        {tool, "shapes convert " + knob + " " + png},
        {tool, "text-demo " + font + " hello " + jpg},
        {tool, "ui-controls --snap " + jpg},
        {tool, "ui-edit --snap " + jpg},
        {tool, "ui-gallery --snap " + jpg},
        {TESSOLO_HOST, in + " " + Q(d / "photo.bmp")},
        {TESSOLO_MKDESC, "--grid 3x2 " + png},
        {TESSOLO_MKDESC, "--raw --grid 3x2 " + png},
        {TESSOLO_MKDESC, "--raw --grid 3x2 " + Q(d / "o.qnds")},
        {TESSOLO_S3D_DEMO, "--scene wave --view flat -o " + jpg},
        {TESSOLO_S3D_DEMO, "--contact-sheet " + jpg},
        {TESSOLO_RC, manifest + " -o " + png + " --fonts " + fonts},
        {TESSOLO_HELPDOC, guide + " " + pictures + " -o " + png},
    };
    const auto before = Snapshot(d.path());
    for (const auto& [program, args] : runs) {
        const std::string err = ExpectRefused({program, args, 2, "end"});
        EXPECT_EQ(Snapshot(d.path()), before) << args << ": " << err;
    }
    // What tessolo-mkdesc wrote, said as every writer says it.
    for (const auto& [option, name] : {std::pair{"", "job.qnds"}, std::pair{"--raw ", "job.block"}}) {
        const std::string written = d / name;
        const Result r = RunProgram(TESSOLO_MKDESC, std::string(option) + "--grid 3x2 " + Q(written));
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.out.rfind("wrote " + written + ": ", 0), 0u) << r.out;
        EXPECT_TRUE(fs::exists(written));
    }
}

// No program writes over a file it reads, whichever of them it is: the
// output named by a link (of the output's own format) to any one of them is
// refused as the input itself is, and every file keeps its bytes. The
// resource compiler reads its manifest's includes, expected list, fonts and
// icons; the guide's layout reads its pictures.
TEST(ProgramPromises, NoProgramWritesOverAnyFileItReads)
{
    const Folder d("inputs");
    MakeInputs(d);
    const std::string source = TESSOLO_SOURCE_DIR, binary = TESSOLO_BINARY_DIR;
    for (const char* folder : {"manifest", "fonts", "icons"}) {
        fs::create_directories(d / ("res/" + std::string(folder)));
        fs::copy(source + "/resources/" + folder, d / ("res/" + std::string(folder)), fs::copy_options::recursive);
    }
    fs::copy(binary + "/help/pictures", d / "pictures", fs::copy_options::recursive);
    fs::copy_file(source + "/resources/help/guide.txt", d / "guide.txt");
    fs::copy_file(binary + "/resource_ts31_d.qns4", d / "skin.qns4");
    ASSERT_EQ(RunTool("layout block " + Q(d / "lay.qntd") + " " + Q(d / "lay.block")).code, 0);
    ASSERT_EQ(RunTool("zip " + Q(d / "in.png") + " " + Q(d / "in.zip")).code, 0);
    const std::string in = Q(d / "in.png"), lay = Q(d / "lay.qntd"), knob = Q(d / "knob.qnth");
    const std::string manifest = Q(d / "res/manifest/ui.qnui"), fonts = Q(d / "res/fonts");
    const std::string guide = Q(d / "guide.txt"), pictures = Q(d / "pictures");
    const char* tool = TESSOLO_TOOL;
    const struct {
        const char* program;
        std::string args;  // the output is OUT
        std::vector<std::string> reads;
        int code;
    } runs[] = {
        {tool, "convert " + in + " OUT.png", {"in.png"}, 1},
        {tool, "engine pieces --block " + Q(d / "lay.block") + " " + in + " OUT.png", {"in.png", "lay.block"}, 1},
        {tool, "export pieces " + lay + " " + in + " OUT.psd", {"lay.qntd", "in.png"}, 1},
        {tool, "export knives --picture " + in + " " + lay + " OUT.eps", {"lay.qntd", "in.png"}, 1},
        {tool, "fx invert " + in + " OUT.png", {"in.png"}, 1},
        {tool, "layout block " + lay + " OUT.block", {"lay.qntd"}, 1},
        {tool, "psd write OUT.psd " + in, {"in.png"}, 1},
        {tool, "resources sheet " + Q(d / "skin.qns4") + " OUT.png", {"skin.qns4"}, 1},
        {tool, "shapes show " + knob + " --png OUT.png", {"knob.qnth"}, 1},
        {tool, "shapes convert " + knob + " OUT.qnth", {"knob.qnth"}, 1},
        {tool, "text-demo " + Q(d / "res/fonts/DejaVuSans.ttf") + " hello OUT.png", {"res/fonts/DejaVuSans.ttf"}, 1},
        {tool, "ui-edit --resource " + Q(d / "skin.qns4") + " --image " + in + " --snap OUT.png",
         {"skin.qns4", "in.png"}, 1},
        {tool, "zip " + in + " OUT", {"in.png"}, 1},
        {tool, "unzip " + Q(d / "in.zip") + " OUT", {"in.zip"}, 1},
        {TESSOLO_MKDESC, "--block " + Q(d / "lay.block") + " OUT.qnds", {"lay.block"}, 1},
        {TESSOLO_RC, manifest + " -o OUT.qns4 --fonts " + fonts,
         {"res/manifest/ui.qnui", "res/manifest/main.qnui", "res/manifest/expected.txt",
          "res/fonts/DejaVuSans.ttf", "res/fonts/DejaVuSans-Bold.ttf", "res/icons/arrow-e.svg"},
         1},
        {TESSOLO_HELPDOC, guide + " " + pictures + " -o OUT.pdf", {"guide.txt", "pictures/01_main_layout.png"}, 1},
    };
    for (const auto& run : runs) {
        for (const std::string& read : run.reads) {
            SCOPED_TRACE(run.args + " over " + read);
            // OUT and its ending become a link of that ending to the input.
            const size_t at = run.args.find("OUT");
            const size_t end = std::min(run.args.find(' ', at), run.args.size());
            const std::string link = d / ("link" + run.args.substr(at + 3, end - at - 3));
            fs::create_symlink(d / read, link);
            const std::string bytes = Slurp(d / read);
            std::string args = run.args;
            args.replace(at, end - at, Q(link));
            const std::string err = ExpectRefused({run.program, args, run.code, "it would write over the input"});
            EXPECT_EQ(Slurp(d / read), bytes) << err;
            fs::remove(link);
        }
    }
}

// One fault reads the same from every program that meets it, in plain
// words and with no internal number: a missing input is "cannot read PATH:
// no such file", a target without write permission "cannot write PATH:
// the file has no write permission" (a folder: "... the folder has no
// write permission"), and a
// layout document given as a descriptor says what it is and what to do.
// The PSD psd write made, with its layers' channels marked as compressed
// with ZIP, a kind the readers do not read: the merged image stands in.
std::string ZipLayers(std::string psd)
{
    auto u16 = [&](size_t at) { return size_t(uint8_t(psd[at])) << 8 | uint8_t(psd[at + 1]); };
    auto u32 = [&](size_t at) { return u16(at) << 16 | u16(at + 2); };
    size_t at = 26;
    at += 4 + u32(at);  // colour mode data
    at += 4 + u32(at);  // image resources
    at += 8;            // layer and mask section, layer info lengths
    const size_t layers = u16(at);
    at += 2;
    std::vector<std::vector<size_t>> lengths(layers);
    for (size_t i = 0; i < layers; ++i) {
        const size_t channels = u16(at + 16);
        at += 18;
        for (size_t k = 0; k < channels; ++k, at += 6)
            lengths[i].push_back(u32(at + 2));
        at += 12;
        at += 4 + u32(at);  // extra data
    }
    for (const auto& layer : lengths)
        for (const size_t length : layer) {
            psd[at] = 0;
            psd[at + 1] = 2;
            at += length;
        }
    return psd;
}

TEST(ProgramPromises, OneFaultReadsTheSameInEveryProgram)
{
    const Folder d("wording");
    MakeInputs(d);
    const std::string in = Q(d / "in.png"), lay = Q(d / "lay.qntd"), knob = Q(d / "knob.qnth");
    const char* tool = TESSOLO_TOOL;
    // Every input of every program, missing, a folder or a FIFO: one
    // wording of each fault, and never a wait on the FIFO.
    const char* const kExts[] = {"png", "qnds", "so",   "block", "manifest", "txt", "qntd",
                                 "psd", "qnth", "conf", "qns4",  "bin",      "zip"};
    for (const char* ext : kExts) {
        fs::create_directory(d / (std::string("dir.") + ext));
        ASSERT_EQ(::mkfifo((d / (std::string("fifo.") + ext)).c_str(), 0644), 0);
    }
    struct Input {
        const char* program;
        std::string args;
        std::string read;  // the input the line names
    };
    auto inputsNamed = [&](const std::string& gone) {
        auto missing = [&](const char* ext) { return Q(gone + "." + ext); };
        return std::vector<Input>{
            {TESSOLO_HOST, missing("png") + " " + Q(d / "o.png"), gone + ".png"},
            {TESSOLO_HOST, "--descriptor " + missing("qnds") + " " + in + " " + Q(d / "o.png"), gone + ".qnds"},
            {TESSOLO_HOST, "--add-layer " + missing("png") + " " + in + " " + Q(d / "o.psd"), gone + ".png"},
            {TESSOLO_HOST, "--plugin " + missing("so") + " " + in + " " + Q(d / "o.png"), gone + ".so"},
            {TESSOLO_MKDESC, "--block " + missing("block") + " " + Q(d / "o.qnds"), gone + ".block"},
            {TESSOLO_RC, missing("manifest") + " -o " + Q(d / "o.qns4") + " --fonts " + Q(d.path()), gone + ".manifest"},
            {TESSOLO_HELPDOC, missing("txt") + " " + Q(d.path()) + " -o " + Q(d / "o.pdf"), gone + ".txt"},
            {tool, "convert " + missing("png") + " " + Q(d / "o.png"), gone + ".png"},
            {tool, "fx invert " + missing("png") + " " + Q(d / "o.png"), gone + ".png"},
            {tool, "engine lines --grid 2x2 " + missing("png") + " " + Q(d / "o.png"), gone + ".png"},
            {tool, "engine lines --block " + missing("block") + " " + in + " " + Q(d / "o.png"), gone + ".block"},
            {tool, "export pieces " + missing("qntd") + " " + in + " " + Q(d / "o.psd"), gone + ".qntd"},
            {tool, "export pieces " + lay + " " + missing("png") + " " + Q(d / "o.psd"), gone + ".png"},
            {tool, "export knives --size 10x10 " + missing("qntd") + " " + Q(d / "k.eps"), gone + ".qntd"},
            {tool, "layout show " + missing("qntd"), gone + ".qntd"},
            {tool, "layout block " + missing("qntd") + " " + Q(d / "o.block"), gone + ".qntd"},
            {tool, "psd read " + missing("psd") + " " + Q(d.path()), gone + ".psd"},
            {tool, "psd write " + Q(d / "o.psd") + " " + missing("png"), gone + ".png"},
            {tool, "shapes ls " + missing("qnth"), gone + ".qnth"},
            {tool, "shapes show " + missing("qnth"), gone + ".qnth"},
            {tool, "shapes convert " + missing("qnth") + " " + Q(d / "o.qnth"), gone + ".qnth"},
            {tool, "storage ls " + missing("conf"), gone + ".conf"},
            {tool, "storage get " + missing("conf") + " A", gone + ".conf"},
            {tool, "resources dump " + missing("qns4"), gone + ".qns4"},
            {tool, "resources sheet " + missing("qns4") + " " + Q(d / "o.png"), gone + ".qns4"},
            {tool, "md5 " + missing("bin"), gone + ".bin"},
            {tool, "zip " + missing("bin") + " " + Q(d / "o.zip"), gone + ".bin"},
            {tool, "unzip " + missing("zip") + " " + Q(d / "o.bin"), gone + ".zip"},
        };
    };
    // A name holding a newline is named in one line, the newline shown as
    // names from files are shown.
    auto shown = [](std::string name) { return name.replace(name.find("\n"), 1, "\\x0a"); };
    for (const auto& [base, why] : {std::pair<std::string, std::string>{d / "gone", "no such file"},
                                    {d / "dir", "is a folder"},
                                    {d / "fifo", "not a regular file"},
                                    {d / "new\nline", "no such file"}})
        for (const auto& c : inputsNamed(base)) {
            const Result r = RunProgram(c.program, c.args);
            const std::string what = std::string(c.program) + " " + c.args + ": " + r.err;
            const std::string read = base.find('\n') == std::string::npos ? c.read : shown(c.read);
            EXPECT_NE(r.code, 0) << what;
            EXPECT_EQ(Lines(r.err), 1u) << what;
            EXPECT_NE(r.err.find("cannot read " + read + ": " + why), std::string::npos) << what;
            EXPECT_EQ(r.err.find("(error"), std::string::npos) << what;
        }
    // A plug-in that is no file the loader could take: the host's exit
    // for an input it cannot read.
    for (const char* plugin : {"dir.so", "fifo.so"})
        EXPECT_EQ(RunProgram(TESSOLO_HOST, "--plugin " + Q(d / plugin) + " " + in + " " + Q(d / "o.png")).code, 3);

    auto ro = [&](const char* ext) { return d / (std::string("ro.") + ext); };
    const struct {
        const char* program;
        std::string args;
        std::string target;  // the file or folder the line names
        std::string why;
    } targets[] = {
        {TESSOLO_HOST, in + " " + Q(ro("png")), ro("png"), "the file has no write permission"},
        {TESSOLO_HOST, in + " " + Q(d / "rodir/o.png"), d / "rodir/o.png", "the folder has no write permission"},
        {TESSOLO_MKDESC, "--grid 2x2 " + Q(ro("qnds")), ro("qnds"), "the file has no write permission"},
        {TESSOLO_RC, in + " -o " + Q(ro("qns4")) + " --fonts " + Q(d.path()), ro("qns4"), "the file has no write permission"},
        {TESSOLO_HELPDOC, in + " " + Q(d.path()) + " -o " + Q(ro("pdf")), ro("pdf"), "the file has no write permission"},
        {tool, "convert " + in + " " + Q(ro("png")), ro("png"), "the file has no write permission"},
        {tool, "convert " + in + " " + Q(d / "rodir/o.png"), d / "rodir/o.png", "the folder has no write permission"},
        {tool, "fx invert " + in + " " + Q(ro("png")), ro("png"), "the file has no write permission"},
        {tool, "export pieces " + lay + " " + in + " " + Q(ro("psd")), ro("psd"), "the file has no write permission"},
        {tool, "export pieces --to png " + lay + " " + in + " " + Q(d / "rodir"), d / "rodir",
         "the folder has no write permission"},
        {tool, "export pieces --to png --names simple " + lay + " " + in + " " + Q(d / "series/p.png"),
         d / "series/p_0002.png", "the file has no write permission"},
        {tool, "export knives --size 10x10 " + lay + " " + Q(ro("eps")), ro("eps"), "the file has no write permission"},
        {tool, "layout new --grid 2x2 " + Q(ro("qntd")), ro("qntd"), "the file has no write permission"},
        {tool, "psd write " + Q(ro("psd")) + " " + in, ro("psd"), "the file has no write permission"},
        {tool, "psd read " + Q(d / "in.psd") + " " + Q(d / "rodir"), d / "rodir", "the folder has no write permission"},
        {tool, "zip " + in + " " + Q(ro("zip")), ro("zip"), "the file has no write permission"},
        {tool, "storage put " + Q(ro("conf")) + " A 1 1", ro("conf"), "the file has no write permission"},
        {tool, "shapes convert " + knob + " " + Q(ro("qnth")), ro("qnth"), "the file has no write permission"},
        // A folder in a missing one reads as it does for psd read and export
        // pieces (ui-tour makes the last folder of the name alone).
        {tool, "ui-tour " + Q(d / "nodir/deeper"), d / "nodir/deeper", "no such folder"},
        // A FIFO, or a link to a device, where a file of a series goes: the
        // series' own file named, in a single file's words less "or -" (a
        // series cannot go to standard output).
        {tool, "export pieces --to png --names simple " + lay + " " + in + " " + Q(d / "series/q"),
         d / "series/q_0001.png", "a FIFO, not a regular file (name a file)"},
        {tool, "export pieces --to png --names simple " + lay + " " + in + " " + Q(d / "series/r"),
         d / "series/r_0001.png", "a device, not a regular file (name a file)"},
        // Such a file found only once the pieces are cut (their names then
        // known), whatever the series holds, and the merged picture alone
        // where it is a link to the input, a read-only file or a FIFO.
        {tool, "export pieces --to png " + lay + " " + in + " " + Q(d / "series/s"),
         d / "series/s_F0002-Piece1_R1_C2.png", "a FIFO, not a regular file (name a file)"},
        {tool, "export pieces --to png --what all " + lay + " " + in + " " + Q(d / "series/t"),
         d / "series/t_F0002-Piece1_R1_C2.png", "the file has no write permission"},
        {tool, "export pieces --to png --what merged " + lay + " " + in + " " + Q(d / "series/in.png"),
         d / "series/in.png", "it would write over the input " + d / "in.png" + "; name another output"},
        {tool, "export pieces --to png --what merged " + lay + " " + in + " " + Q(d / "series/p_0002.png"),
         d / "series/p_0002.png", "the file has no write permission"},
        {tool, "export pieces --to png --what merged " + lay + " " + in + " " + Q(d / "series/q_0001.png"),
         d / "series/q_0001.png", "a FIFO, not a regular file (name a file)"},
        // A FIFO as the output: "-" offered only by a program that takes it.
        {TESSOLO_HOST, in + " " + Q(d / "fifo.png"), d / "fifo.png", "a FIFO, not a regular file (name a file)"},
        {TESSOLO_MKDESC, "--grid 2x2 " + Q(d / "fifo.qnds"), d / "fifo.qnds",
         "a FIFO, not a regular file (name a file, or - for standard output)"},
        {tool, "convert " + in + " " + Q(d / "fifo.png"), d / "fifo.png",
         "a FIFO, not a regular file (name a file, or - for standard output)"},
        {tool, "ui-gallery --snap " + Q(d / "fifo.png"), d / "fifo.png", "a FIFO, not a regular file (name a file)"},
        // A series' name longer than the file system takes, as convert says
        // it of a file's name.
        {tool, "export pieces --to png " + lay + " " + in + " " + Q(d / std::string(300, 'n')),
         d / (std::string(300, 'n') + "_F0001-Piece0_R1_C1.png"),
         "a name of 323 bytes is longer than the 255 its file system takes"},
    };
    fs::create_directory(d / "series");
    Write(d / "series/p_0002.png", "kept", fs::perms(0444));
    ASSERT_EQ(::mkfifo((d / "series/q_0001.png").c_str(), 0644), 0);
    fs::create_symlink("/dev/null", d / "series/r_0001.png");
    ASSERT_EQ(::mkfifo((d / "series/s_F0002-Piece1_R1_C2.png").c_str(), 0644), 0);
    Write(d / "series/t_F0002-Piece1_R1_C2.png", "kept", fs::perms(0444));
    fs::create_symlink("../in.png", d / "series/in.png");
    for (const auto& c : targets) {
        const Result r = RunProgram(c.program, c.args);
        const std::string what = std::string(c.program) + " " + c.args + ": " + r.err;
        EXPECT_EQ(Lines(r.err), 1u) << what;
        EXPECT_NE(r.err.find("cannot write " + c.target + ": " + c.why + "\n"), std::string::npos) << what;
        // Said once, whoever found it.
        EXPECT_EQ(r.err.find("cannot write", r.err.find("cannot write") + 1), std::string::npos) << what;
    }

    // A layout document given as a descriptor: what it is, and the two
    // commands that make a descriptor of it.
    const Result r = RunProgram(TESSOLO_HOST, "--descriptor " + lay + " " + in + " " + Q(d / "o.png"));
    EXPECT_NE(r.err.find("lay.qntd is a layout document, not a descriptor: make one from it with tessolo-tool "
                         "layout block"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("tessolo-mkdesc --block BLOCK"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(d / "o.png"));

    // ... and a descriptor given as a layout document, the other way round.
    ASSERT_EQ(RunProgram(TESSOLO_MKDESC, "--grid 2x2 " + Q(d / "p.qnds")).code, 0);
    for (const std::string& args : {"layout show " + Q(d / "p.qnds"),
                                    "export pieces " + Q(d / "p.qnds") + " " + in + " " + Q(d / "o.psd")}) {
        const Result l = RunTool(args);
        EXPECT_EQ(Lines(l.err), 1u) << args << ": " << l.err;
        EXPECT_NE(l.err.find("p.qnds is a descriptor, not a layout document: replay it with tessolo-host "
                             "--descriptor"),
                  std::string::npos)
            << args << ": " << l.err;
    }

    // An empty knife shape, in plain words.
    Write(d / "e.qnth", "");
    const Result empty = RunTool("shapes ls " + Q(d / "e.qnth"));
    EXPECT_NE(empty.err.find("cannot read " + d / "e.qnth" + ": the file is empty\n"), std::string::npos)
        << empty.err;

    // A file of another kind, or an empty one, where a reader expects its
    // own: the reader's words, the same from every program that takes it,
    // and nothing written. A container whose stamp fails reads as that.
    const std::string png = d / "in.png", none = d / "none.bin", stamped = d / "c.conf";
    Write(none, "");
    ASSERT_EQ(RunTool("storage put " + Q(stamped) + " A 1 5").code, 0);
    std::string flipped = Slurp(stamped);
    flipped[flipped.size() - 9] ^= 1;  // the record's value: the frame still holds
    Write(stamped, flipped);
    fs::create_directory(d / "tour");
    const std::string notContainer = ": not a storage container, or a damaged one\n";
    const std::string stampFails = ": the MD5 stamp does not match the content";
    const struct {
        const char* program;
        std::string args;
        std::string says;
    } wrongKind[] = {
        {tool, "psd read " + Q(png) + " " + Q(d / "tour"), png + ": not a PSD file\n"},
        {tool, "psd read " + Q(none) + " " + Q(d / "tour"), none + ": too short to be a picture\n"},
        {tool, "convert " + Q(none) + " " + Q(d / "o.png"), none + ": too short to be a picture\n"},
        {tool, "storage ls " + Q(png), png + notContainer},
        {tool, "storage get " + Q(png) + " A", png + notContainer},
        {tool, "storage put " + Q(png) + " A 1 5", png + notContainer},
        {tool, "storage check " + Q(png), png + notContainer},
        {tool, "storage check " + Q(none), none + notContainer},
        {tool, "resources dump " + Q(png), png + notContainer},
        {tool, "resources dump " + Q(none), none + notContainer},
        {tool, "resources sheet " + Q(png) + " " + Q(d / "o.png"), png + notContainer},
        {tool, "ui-tour " + Q(d / "tour") + " --resource " + Q(png), png + notContainer},
        {tool, "ui-gallery --resource " + Q(png) + " --snap " + Q(d / "o.png"), png + notContainer},
        {tool, "ui-controls --resource " + Q(png) + " --snap " + Q(d / "o.png"), png + notContainer},
        {tool, "ui-edit --resource " + Q(none) + " --snap " + Q(d / "o.png"), none + notContainer},
        {tool, "storage ls " + Q(stamped), stamped + stampFails},
        {tool, "storage check " + Q(stamped), stamped + stampFails},
        {tool, "resources dump " + Q(stamped), stamped + stampFails},
        {TESSOLO_MKDESC, "--block " + Q(png) + " " + Q(d / "o.qnds"),
         "cannot read " + png + ": not a layout settings block, or a damaged one ("},
        {tool, "engine lines --block " + Q(png) + " " + Q(png) + " " + Q(d / "o.png"),
         "cannot read " + png + ": not a layout settings block, or a damaged one ("},
        {tool, "layout show " + Q(png), "cannot read " + png + ": not a layout document, or a damaged one\n"},
        {tool, "layout block " + Q(none) + " " + Q(d / "o.block"),
         "cannot read " + none + ": not a layout document, or a damaged one\n"},
        {tool, "export pieces " + Q(png) + " " + in + " " + Q(d / "o.psd"),
         "cannot read " + png + ": not a layout document, or a damaged one\n"},
    };
    for (const auto& c : wrongKind) {
        const Result w = RunProgram(c.program, c.args);
        const std::string what = std::string(c.program) + " " + c.args + ": " + w.err;
        EXPECT_NE(w.code, 0) << what;
        EXPECT_EQ(Lines(w.err), 1u) << what;
        EXPECT_NE(w.err.find(c.says), std::string::npos) << what;
        EXPECT_EQ(w.err.find("(result"), std::string::npos) << what;
    }
    EXPECT_TRUE(fs::is_empty(d / "tour"));
    for (const char* made : {"o.png", "o.qnds", "o.block", "o.psd"})
        EXPECT_FALSE(fs::exists(d / made)) << made;

    // An output that leads to an input, by its name or by a link, read the
    // same by a writer of one file and by every writer of a series: the
    // output named, and the input it would write over.
    fs::create_symlink(d / "in.png", d / "link.png");
    fs::create_directories(d / "links");
    fs::create_symlink(d / "in.psd", d / "links/merged.png");
    fs::create_symlink(d / "in.png", d / "links/p_F0001-Piece0_R1_C1.png");
    const struct {
        const char* program;
        std::string args;
        std::string output, input;
    } overInput[] = {
        {tool, "convert " + in + " " + in, d / "in.png", d / "in.png"},
        {tool, "convert " + in + " " + Q(d / "link.png"), d / "link.png", d / "in.png"},
        {TESSOLO_HOST, in + " " + Q(d / "link.png"), d / "link.png", d / "in.png"},
        {tool, "psd read " + Q(d / "in.psd") + " " + Q(d / "links"), d / "links/merged.png", d / "in.psd"},
        {tool, "export pieces --to png " + lay + " " + in + " " + Q(d / "links/p"),
         d / "links/p_F0001-Piece0_R1_C1.png", d / "in.png"},
    };
    for (const auto& c : overInput) {
        const Result o = RunProgram(c.program, c.args);
        const std::string what = std::string(c.program) + " " + c.args + ": " + o.err;
        EXPECT_NE(o.code, 0) << what;
        EXPECT_NE(o.err.find("cannot write " + c.output + ": it would write over the input " + c.input +
                             "; name another output"),
                  std::string::npos)
            << what;
        // Refused alone: nothing of the work it never did.
        EXPECT_EQ(o.out, "") << what;
    }
    EXPECT_EQ(Slurp(d / "in.png"), Slurp(kSample));

    // A damaged PSD is given the same reason by psd read as by convert: its
    // merged image cut short, with layers it reads and with layers of a
    // kind it does not read (ZIP).
    const std::string psd = Slurp(d / "in.psd");
    Write(d / "cut.psd", psd.substr(0, psd.size() - 100));
    Write(d / "zipcut.psd", ZipLayers(psd).substr(0, psd.size() - 100));
    for (const char* name : {"cut.psd", "zipcut.psd"}) {
        const std::string file = Q(d / name);
        const Result c = RunTool("convert " + file + " " + Q(d / "o.png"));
        fs::remove_all(d / "parts");
        fs::create_directory(d / "parts");
        const Result p = RunTool("psd read " + file + " " + Q(d / "parts"));
        const std::string why = c.err.substr(c.err.find(": ") + 2);
        EXPECT_NE(c.code, 0) << c.err;
        EXPECT_NE(p.code, 0) << p.err;
        EXPECT_EQ(p.err, "tessolo-tool psd: " + why) << c.err;
        EXPECT_TRUE(fs::is_empty(d / "parts"));
    }
}

// A series that cannot be written whole leaves every file as it was: a PNG
// export whose second target is a folder, and a damaged PSD split into a
// folder of older layer files. Once the way is clear the whole series goes
// in, and a folder named as the output takes the files.
TEST(ProgramPromises, SeriesAreWrittenAllOrNothing)
{
    const Folder d("series");
    MakeInputs(d);
    const std::string lay = Q(d / "lay.qntd");
    {
        // A damaged copy of the PSD: its layers read, its merged image not.
        const std::string bytes = Slurp(d / "in.psd");
        Write(d / "cut.psd", bytes.substr(0, bytes.size() - 100));
    }
    const struct {
        std::string args;
        std::string folder;
        std::string old;      // a file there before
        std::string blocker;  // a folder in the way of a later file ("" none)
        std::string fresh;    // the command that then succeeds
    } cases[] = {
        {"export pieces --to png --names simple " + lay + " " + Q(d / "in.png") + " " + Q(d / "out/p.png"), "out",
         "p_0001.png", "p_0002.png",
         "export pieces --to png --names simple " + lay + " " + Q(d / "in.png") + " " + Q(d / "out/p.png")},
        {"psd read " + Q(d / "cut.psd") + " " + Q(d / "layers"), "layers", "layer_000.png", "",
         "psd read " + Q(d / "in.psd") + " " + Q(d / "layers")},
    };
    for (const auto& c : cases) {
        fs::create_directory(d / c.folder);
        Write(d / (c.folder + "/" + c.old), "OLD");
        if (!c.blocker.empty())
            fs::create_directories(d / (c.folder + "/" + c.blocker + "/inside"));
        const auto before = Snapshot(d / c.folder);
        const Result r = RunTool(c.args);
        EXPECT_EQ(r.code, 1) << c.args << ": " << r.err;
        EXPECT_EQ(Lines(r.err), 1u) << r.err;
        EXPECT_EQ(Snapshot(d / c.folder), before) << c.args;

        if (!c.blocker.empty())
            fs::remove_all(d / (c.folder + "/" + c.blocker));
        const Result ok = RunTool(c.fresh);
        EXPECT_EQ(ok.code, 0) << c.fresh << ": " << ok.err;
        EXPECT_EQ(Slurp(d / (c.folder + "/" + c.old)).substr(1, 3), "PNG") << c.fresh;
        EXPECT_TRUE(Hidden(d / c.folder).empty()) << c.fresh;
    }

    // A read-only file among the targets stops the series before it starts.
    Write(d / "out/p_0003.png", "kept", fs::perms(0444));
    const auto before = Snapshot(d / "out");
    EXPECT_EQ(RunTool(cases[0].fresh).code, 1);
    EXPECT_EQ(Snapshot(d / "out"), before);

    // A folder as the output: the files go into it, none beside it.
    const auto beside = Snapshot(d.path());
    fs::create_directory(d / "into");
    const Result r = RunTool("export pieces --to png " + lay + " " + Q(d / "in.png") + " " + Q(d / "into"));
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Snapshot(d / "into").size(), 6u);
    EXPECT_TRUE(fs::exists(d / "into/piece_F0001-Piece0_R1_C1.png"));
    auto after = Snapshot(d.path());
    for (auto it = after.begin(); it != after.end();)
        it = it->first.rfind("into", 0) == 0 ? after.erase(it) : std::next(it);
    EXPECT_EQ(after, beside);
}

// A long export killed half-way: SIGTERM and SIGINT leave neither files nor
// the staging folder; SIGKILL leaves the staging folder, which the next
// export into that folder removes.
TEST(ProgramPromises, AnInterruptedSeriesLeavesNothingBehind)
{
    const Folder d("killed");
    fs::create_directory(d / "out");
    ASSERT_EQ(RunTool("layout new --grid 12x10 " + Q(d / "lay.qntd")).code, 0);
    ASSERT_EQ(RunTool("fx resize 1800 1200 " + Q(kSample) + " " + Q(d / "big.png")).code, 0);
    for (const int sig : {SIGTERM, SIGINT, SIGKILL}) {
        const std::string tool = TESSOLO_TOOL, lay = d / "lay.qntd", big = d / "big.png", out = d / "out/p";
        const char* argv[] = {tool.c_str(), "export", "pieces", "--to", "png", lay.c_str(), big.c_str(), out.c_str(),
                              nullptr};
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        sigset_t set;
        sigemptyset(&set);
        posix_spawnattr_setsigmask(&attr, &set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        posix_spawnattr_setsigdefault(&attr, &set);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        pid_t pid = 0;
        ASSERT_EQ(posix_spawn(&pid, tool.c_str(), &files, &attr, const_cast<char* const*>(argv), environ), 0);
        posix_spawn_file_actions_destroy(&files);
        posix_spawnattr_destroy(&attr);

        // Killed once a few pieces lie finished in the staging folder.
        bool midway = false;
        int status = 0;
        const auto limit = std::chrono::steady_clock::now() + std::chrono::minutes(3);
        while (!midway && std::chrono::steady_clock::now() < limit && ::waitpid(pid, &status, WNOHANG) == 0) {
            for (const std::string& name : Hidden(d / "out")) {
                std::error_code ec;
                const auto n = std::distance(fs::directory_iterator(d / ("out/" + name), ec), fs::directory_iterator());
                midway = midway || n >= 3;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_TRUE(midway) << "the export ended or never started its series";
        ::kill(pid, sig);
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << sig;
        if (sig != SIGKILL) {
            EXPECT_TRUE(fs::is_empty(d / "out")) << sig;
            continue;
        }
        ASSERT_EQ(Hidden(d / "out").size(), 1u);
        const Result next = RunTool("export pieces --to png " + Q(d / "lay.qntd") + " " + Q(kSample) + " " +
                                    Q(d / "out/q"));
        EXPECT_EQ(next.code, 0) << next.err;
        EXPECT_TRUE(Hidden(d / "out").empty());
        EXPECT_EQ(Snapshot(d / "out").size(), 120u);
    }
}

// A target that cannot be written is refused before any work: every input
// here is missing, so a program that read or rendered first would name that
// instead, and nothing may appear in the folder.
TEST(ProgramPromises, EveryBadTargetIsRefusedBeforeAnyWork)
{
    const Folder d("targets");
    ASSERT_EQ(RunTool("layout new --grid 3x2 " + Q(d / "lay.qntd")).code, 0);
    for (const char* folder : {"folder.png", "folder.psd", "folder.eps", "folder.qns4"})
        fs::create_directory(d / folder);
    const long most = ::pathconf(d.path().c_str(), _PC_NAME_MAX);
    ASSERT_GT(most, 20);
    // One name that no file may have, and a stem that fits alone but not
    // with what a series adds to it.
    const std::string tooLong = Q(d / (std::string(size_t(most) - 3, 'n') + ".png"));
    const std::string stem(size_t(most) - 5, 's');
    const std::string missing = Q(d / "missing.png"), lay = Q(d / "lay.qntd");
    const char* tool = TESSOLO_TOOL;
    const Refusal cases[] = {
        {TESSOLO_HOST, missing + " " + Q(d / "folder.png"), 3, "is a folder"},
        {TESSOLO_HOST, missing + " " + tooLong, 3, "longer than"},
        {tool, "convert " + missing + " " + Q(d / "folder.png"), 1, "is a folder"},
        {tool, "convert " + missing + " " + tooLong, 1, "longer than"},
        {tool, "engine lines --grid 2x2 " + missing + " " + Q(d / "folder.png"), 1, "is a folder"},
        {tool, "psd write " + Q(d / "folder.psd") + " " + missing, 1, "is a folder"},
        {tool, "export pieces --to psd " + lay + " " + missing + " " + Q(d / "folder.psd"), 1, "is a folder"},
        {tool, "export knives --size 10x10 " + Q(d / "missing.qntd") + " " + Q(d / "folder.eps"), 1, "is a folder"},
        {tool, "export pieces --to png " + lay + " " + missing + " " + Q(d / stem), 1, "longer than"},
        {tool, "export pieces --to png --names simple " + lay + " " + missing + " " + Q(d / (stem + ".png")), 1,
         "longer than"},
        {tool, "psd read " + Q(d / "missing.psd") + " " + Q(d / std::string(size_t(most) + 1, 'l')), 1,
         "file name too long"},
        {TESSOLO_RC, Q(d / "missing.manifest") + " -o " + Q(d / "folder.qns4") + " --fonts " + Q(d.path()), 1,
         "is a folder"},
        {TESSOLO_S3D_DEMO, "--scene wave --view flat -o " + tooLong, 1, "longer than"},
    };
    const auto before = Snapshot(d.path());
    for (const auto& c : cases) {
        const std::string err = ExpectRefused(c);
        EXPECT_EQ(err.find("missing"), std::string::npos) << c.args << ": " << err;
    }
    EXPECT_EQ(Snapshot(d.path()), before);
}

// A symbolic link named as an output stays a link, for one file and for a
// series alike: the file it names gets the new content (made where it
// points when missing), as cp writes; a link that leads to an input is
// refused as the input itself is.
TEST(ProgramPromises, WritersFollowSymbolicLinksAndKeepThem)
{
    const Folder d("links");
    MakeInputs(d);
    fs::create_directory(d / "out");
    fs::create_directory(d / "elsewhere");
    Write(d / "elsewhere/one.png", "old one");
    Write(d / "elsewhere/single.png", "old single");
    const struct {
        std::string link;
        std::string to;       // relative to the link's folder
        std::string reaches;  // the file that must then hold a PNG
    } links[] = {
        {"out/p_0001.png", "../elsewhere/one.png", "elsewhere/one.png"},
        {"out/p_0002.png", "../elsewhere/two.png", "elsewhere/two.png"},  // dangling
        {"single.png", "elsewhere/single.png", "elsewhere/single.png"},
        {"fresh.png", "elsewhere/fresh.png", "elsewhere/fresh.png"},  // dangling
    };
    for (const auto& l : links)
        fs::create_symlink(l.to, d / l.link);
    fs::create_symlink("in.png", d / "to-input.png");
    const std::string in = Q(d / "in.png");
    const std::vector<std::string> runs = {
        "export pieces --to png --names simple " + Q(d / "lay.qntd") + " " + in + " " + Q(d / "out/p.png"),
        "convert " + in + " " + Q(d / "single.png"),
        "convert " + in + " " + Q(d / "fresh.png"),
    };
    for (const std::string& run : runs) {
        const Result r = RunTool(run);
        EXPECT_EQ(r.code, 0) << run << ": " << r.err;
    }
    for (const auto& l : links) {
        EXPECT_TRUE(fs::is_symlink(d / l.link)) << l.link;
        EXPECT_EQ(fs::read_symlink(d / l.link).string(), l.to) << l.link;
        EXPECT_EQ(Slurp(d / l.reaches).substr(1, 3), "PNG") << l.reaches;
    }
    EXPECT_TRUE(Hidden(d / "out").empty());
    EXPECT_EQ(Slurp(d / "out/p_0003.png").substr(1, 3), "PNG");

    // Refused, with nothing changed: links to the input (a series' file
    // among them, found before the render) and links in a loop, which name
    // no file to follow to.
    fs::create_directory(d / "series");
    fs::create_symlink("../in.png", d / "series/q_0002.png");
    const auto before = Snapshot(d.path());
    const Result host = RunProgram(TESSOLO_HOST, in + " " + Q(d / "to-input.png"));
    EXPECT_EQ(host.code, 3);
    EXPECT_NE(host.err.find("input"), std::string::npos) << host.err;
    const Result tool = RunTool("convert " + in + " " + Q(d / "to-input.png"));
    EXPECT_EQ(tool.code, 1);
    EXPECT_NE(tool.err.find("input"), std::string::npos) << tool.err;
    const Result series = RunTool("export pieces --to png --names simple " + Q(d / "lay.qntd") + " " + in + " " +
                                  Q(d / "series/q.png"));
    EXPECT_EQ(series.code, 1);
    EXPECT_NE(series.err.find("it would write over the input"), std::string::npos) << series.err;
    EXPECT_EQ(Snapshot(d.path()), before);
    fs::create_directory(d / "loop");
    fs::create_symlink("b.png", d / "loop/a.png");
    fs::create_symlink("a.png", d / "loop/b.png");
    const Result loopHost = RunProgram(TESSOLO_HOST, in + " " + Q(d / "loop/a.png"));
    EXPECT_EQ(loopHost.code, 3);
    EXPECT_NE(loopHost.err.find("symbolic links"), std::string::npos) << loopHost.err;
    const Result loopTool = RunTool("convert " + in + " " + Q(d / "loop/a.png"));
    EXPECT_EQ(loopTool.code, 1);
    EXPECT_NE(loopTool.err.find("symbolic links"), std::string::npos) << loopTool.err;
    EXPECT_TRUE(fs::is_symlink(d / "loop/a.png"));
    EXPECT_EQ(std::distance(fs::directory_iterator(d / "loop"), fs::directory_iterator()), 2);
}

// A PNG series' OUT: a folder that exists takes the files; a bare name
// that is no folder is refused, not read as the files' first name (which
// would spill them into the current folder); a name with a folder part or
// ending in .png names the files.
TEST(ProgramPromises, APngSeriesGoesIntoTheFolderOutNames)
{
    const Folder d("outfolder");
    MakeInputs(d);
    const std::string here = fs::current_path().string();
    ASSERT_EQ(::chdir(d.path().c_str()), 0);
    const std::string run = "export pieces --to png --names simple lay.qntd in.png ";
    auto names = [&] {
        std::set<std::string> all;
        for (const auto& e : fs::directory_iterator(d.path()))
            all.insert(e.path().filename().string());
        return all;
    };
    const auto before = names();
    const Result bare = RunTool(run + "pieces");
    EXPECT_EQ(bare.code, 1);
    EXPECT_EQ(Lines(bare.err), 1u) << bare.err;
    EXPECT_NE(bare.err.find("pieces: no such folder"), std::string::npos) << bare.err;
    EXPECT_EQ(names(), before);

    fs::create_directory(d / "pieces");
    EXPECT_EQ(RunTool(run + "pieces").code, 0);
    EXPECT_EQ(RunTool(run + "./p").code, 0);
    EXPECT_EQ(RunTool(run + "q.png").code, 0);
    ASSERT_EQ(::chdir(here.c_str()), 0);
    for (const char* made : {"pieces/piece_0001.png", "p_0001.png", "q_0006.png"})
        EXPECT_EQ(Slurp(d / made).substr(1, 3), "PNG") << made;
    EXPECT_FALSE(fs::exists(d / "pieces_0001.png"));
}

// A series' names are sized by the pieces' own numbers (count, index, row
// and column): the twelve pieces of a 4 x 3 grid whose longest name is as
// long as the file system takes are written, and one byte more is refused
// by naming the file that would not fit.
TEST(ProgramPromises, ASeriesTakesEveryNameThatFits)
{
    const Folder d("namesfit");
    MakeInputs(d);
    ASSERT_EQ(RunTool("layout new --grid 4x3 " + Q(d / "lay12.qntd")).code, 0);
    const long most = ::pathconf(d.path().c_str(), _PC_NAME_MAX);
    ASSERT_GT(most, 40);
    // The longest of the twelve ends "_F0011-Piece10_R3_C3.png" (24 bytes).
    const std::string run = "export pieces --to png " + Q(d / "lay12.qntd") + " " + Q(d / "in.png") + " ";
    const std::string fits(size_t(most) - 24, 'n');
    const Result written = RunTool(run + Q(d / fits));
    ASSERT_EQ(written.code, 0) << written.err;
    size_t files = 0, longest = 0;
    for (const auto& e : fs::directory_iterator(d.path())) {
        const std::string name = e.path().filename().string();
        if (name.rfind(fits, 0) == 0) {
            ++files;
            longest = std::max(longest, name.size());
        }
    }
    EXPECT_EQ(files, 12u);
    EXPECT_EQ(longest, size_t(most));
    const std::string over = fits + "n";
    const Result refused = RunTool(run + Q(d / over));
    EXPECT_EQ(refused.code, 1);
    EXPECT_EQ(Lines(refused.err), 1u) << refused.err;
    EXPECT_NE(refused.err.find("cannot write " + d / (over + "_F0011-Piece10_R3_C3.png") + ": a name of " +
                               std::to_string(most + 1) + " bytes is longer than the " + std::to_string(most) +
                               " its file system takes\n"),
              std::string::npos)
        << refused.err;
}

// The knives' page is the picture's size as its header gives it: no pixel
// is decoded, so neither the picture's data (not there at all here) nor the
// memory a decoding would take (20000 x 20000 pixels: 1.5 GiB) keeps its
// page from being made. The side limit of every export still holds.
TEST(ProgramPromises, TheKnivesPageIsReadFromThePicturesHeader)
{
    const Folder d("knivespage");
    MakeInputs(d);
    for (const uint32_t side : {20000u, 30000u, 30001u}) {
        const uint32_t down = std::min(side, 30000u);
        // The header, and the opening of the data's first chunk.
        Write(d / "big.png", PngHeader(side, down) + std::string("\0\1\0\0IDAT", 8) + std::string(16, '\0'));
        fs::remove(d / "k.eps");
        const Result r = RunTool("export knives --picture " + Q(d / "big.png") + " " + Q(d / "lay.qntd") + " " +
                                 Q(d / "k.eps"));
        if (side > 30000) {
            EXPECT_EQ(r.code, 1);
            EXPECT_NE(r.err.find("30001 x 30000 pixels, more than the 30000 pixels a side"), std::string::npos) << r.err;
            EXPECT_FALSE(fs::exists(d / "k.eps"));
            continue;
        }
        ASSERT_EQ(r.code, 0) << side << ": " << r.err;
        EXPECT_NE(Slurp(d / "k.eps").find("%%BoundingBox: 0 0 " + std::to_string(side) + " " + std::to_string(down)), std::string::npos)
            << side;
    }
}
