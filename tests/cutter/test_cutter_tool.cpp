// "tessolo-tool shapes": lists, shows and converts every kind of shape file;
// bad input gets one line on stderr and a non-zero exit.
#include "cutter_test_util.h"

#include <sys/wait.h>

#include <cstdlib>

using namespace cutter_test;

namespace {

struct Result {
    int code = -1;
    std::string out;
    std::string err;
};

Result RunTool(const TempDir& dir, const std::string& args)
{
    const std::string out = dir / "tool.out", err = dir / "tool.err";
    const std::string cmd = std::string("'") + TESSOLO_TOOL + "' shapes " + args + " >'" + out + "' 2>'" + err + "'";
    const int status = std::system(cmd.c_str());
    Result r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const Bytes o = ReadFile(out), e = ReadFile(err);
    r.out.assign(o.begin(), o.end());
    r.err.assign(e.begin(), e.end());
    return r;
}

size_t Lines(const std::string& s) { return size_t(std::count(s.begin(), s.end(), '\n')); }

Bytes LegacyBytes()
{
    Bytes b(CWnd_CutterModel::kLegacyMagic, CWnd_CutterModel::kLegacyMagic + 29);
    const int32_t a[6] = {200, 100, 0, 0, 0, 50};
    for (int32_t v : a)
        for (int k = 0; k < 4; ++k)
            b.push_back(uint8_t(uint32_t(v) >> (8 * k)));
    return b;
}

}  // namespace

TEST(CutterTool, ListsShowsAndConverts)
{
    TempDir dir;
    ASSERT_EQ(CWnd_CutterModel::SaveShapeFile(dir / "knob.qnth", MakeShape(5)), ShapeIoError::None);
    WriteFile(dir / "old.qnth", LegacyBytes());
    WriteFile(dir / "set.qntk", SetImage({"alpha", "beta", "gamma"}));
    MemPresetsFile store;
    store.Hold({"one", "two"});
    WriteFile(dir / "ckss.data", store.bytes);

    const struct {
        std::string args;
        std::string kind;
        size_t lines;
    } cases[] = {
        {"ls '" + (dir / "knob.qnth") + "'", "knife shape, 1 shape", 2},
        {"ls '" + (dir / "old.qnth") + "'", "legacy knife shape, 1 shape", 2},
        {"ls '" + (dir / "set.qntk") + "'", "shape set, 3 shapes", 4},
        {"ls '" + (dir / "ckss.data") + "'", "presets store, 2 shapes", 3},
    };
    for (const auto& c : cases) {
        const Result r = RunTool(dir, c.args);
        EXPECT_EQ(r.code, 0) << c.args << r.err;
        EXPECT_NE(r.out.find(c.kind), std::string::npos) << r.out;
        EXPECT_EQ(Lines(r.out), c.lines) << r.out;
    }

    Result r = RunTool(dir, "show '" + (dir / "set.qntk") + "' --index 1");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("shape 1 \"beta\": 1 node\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("alpha"), std::string::npos);
    r = RunTool(dir, "show '" + (dir / "set.qntk") + "' --png '" + (dir / "icons.png") + "'");
    EXPECT_EQ(r.code, 0) << r.err;
    const Bytes png = ReadFile(dir / "icons.png");
    ASSERT_GT(png.size(), 8u);
    EXPECT_EQ(std::string(png.begin() + 1, png.begin() + 4), "PNG");

    // The legacy shape becomes a shape file that reads back the same.
    r = RunTool(dir, "convert '" + (dir / "old.qnth") + "' '" + (dir / "new.qnth") + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    SPLINE from{}, to{};
    const Bytes legacy = LegacyBytes();
    ASSERT_EQ(CWnd_CutterModel::stLoadShapeFromMem(legacy.data(), legacy.size(), &from), ShapeIoError::None);
    ASSERT_EQ(CWnd_CutterModel::LoadShapeFile(dir / "new.qnth", &to), ShapeIoError::None);
    EXPECT_TRUE(SameShape(from, to));
    r = RunTool(dir, "convert '" + (dir / "set.qntk") + "' '" + (dir / "g.qnth") + "' --index 2");
    ASSERT_EQ(r.code, 0) << r.err;
    ASSERT_EQ(CWnd_CutterModel::LoadShapeFile(dir / "g.qnth", &to), ShapeIoError::None);
    EXPECT_EQ(to.nodeCount, 2);
}

TEST(CutterTool, BadInputGetsOneLine)
{
    TempDir dir;
    WriteFile(dir / "junk.qnth", Bytes(100, 'j'));
    WriteFile(dir / "set.qntk", SetImage({"a", "b"}));
    const std::string junk = "'" + (dir / "junk.qnth") + "'", set = "'" + (dir / "set.qntk") + "'";
    const struct {
        std::string args;
        const char* says;
    } cases[] = {
        {"", "needs ls, show or convert"},
        {"frob x", "unknown action"},
        {"ls", "ls takes one FILE"},
        {"ls " + junk, "or the file is damaged"},
        {"ls '" + (dir / "none.qnth") + "'", "none.qnth: no such file"},
        {"show " + set + " --index 5", "no shape 5"},
        {"show " + set + " --index x", "--index takes"},
        {"convert " + set + " '" + (dir / "o.qnth") + "'", "choose one with --index"},
        {"convert " + set + " '" + (dir / "none/o.qnth") + "' --index 0", "no such folder"},
    };
    for (const auto& c : cases) {
        const Result r = RunTool(dir, c.args);
        EXPECT_NE(r.code, 0) << c.args;
        EXPECT_EQ(Lines(r.err), 1u) << c.args << ": " << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << ": " << r.err;
    }
    const Result help = RunTool(dir, "--help");
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("usage: tessolo-tool shapes"), std::string::npos);
}
