// Every tessolo-tool command answers --help with its usage on stdout and exit
// 0, and bad input with exactly one line on stderr and a non-zero exit.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Result {
    int code = -1;
    std::string out;
    std::string err;
};

std::string Slurp(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

Result RunProgram(const char* program, const std::string& args)
{
    // CTest runs the tests of this program side by side: each call gets its
    // own capture files.
    static int calls = 0;
    const std::string base = ::testing::TempDir() + "tool_" + std::to_string(getpid()) + "_" + std::to_string(++calls);
    const std::string out = base + ".out", err = base + ".err";
    const std::string cmd = std::string("'") + program + "' " + args + " >'" + out + "' 2>'" + err + "'";
    const int status = std::system(cmd.c_str());
    Result r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = Slurp(out);
    r.err = Slurp(err);
    std::remove(out.c_str());
    std::remove(err.c_str());
    return r;
}

Result RunTool(const std::string& args) { return RunProgram(TESSOLO_TOOL, args); }

size_t Lines(const std::string& s)
{
    size_t n = 0;
    for (char c : s)
        n += c == '\n';
    return n;
}

const std::vector<std::string>& Commands()
{
    static const std::vector<std::string> names = {"convert", "core-demo", "draw-demo", "engine", "fx", "layout",
                                                   "psd", "storage", "md5", "zip", "unzip", "text-demo"};
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
    EXPECT_NE(r.code, 0);
    EXPECT_EQ(Lines(r.err), 1u);
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
