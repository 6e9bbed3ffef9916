// The compiler and `tessolo-tool resources` from the outside: a broken
// manifest fails the build with its list of problems, the dump lists the
// real file's windows, the sheets are written.
#include "resources/ResourceFile.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace {

struct Output {
    int code = -1;
    std::string text;  // stdout and stderr together
};

Output Shell(const std::string& command)
{
    const std::string log = ::testing::TempDir() + "rescli_" + std::to_string(getpid()) + ".log";
    const int status = std::system((command + " >'" + log + "' 2>&1").c_str());
    std::ifstream in(log);
    std::stringstream ss;
    ss << in.rdbuf();
    std::remove(log.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ss.str()};
}

const std::string kRealFile = std::string(TESSOLO_BINARY_DIR) + "/tests/resources/" + qnres::kFileName;

TEST(ResourceCli, BrokenManifestFailsWithEveryProblemListed)
{
    const std::string dir = ::testing::TempDir() + "rescli_" + std::to_string(getpid());
    const std::string manifest = dir + ".qnui", out = dir + ".qns4";
    std::ofstream(manifest) << "window W 200x100 \"W\"\n"
                               "  button W_A 180,40,60,24\n"
                               "  radio W_R 10,40,60,20 \"r\" group=1\n"
                               "end\n";
    const Output r = Shell(std::string("'") + TESSOLO_RC + "' '" + manifest + "' -o '" + out + "' --fonts '" +
                         TESSOLO_SOURCE_DIR + "/resources/fonts'");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.text.find(manifest + ":2: button 'W_A' lies outside window 'W'"), std::string::npos) << r.text;
    EXPECT_NE(r.text.find(manifest + ":3: radio 'W_R' is alone in group 1"), std::string::npos) << r.text;
    EXPECT_NE(r.text.find("2 problem(s)"), std::string::npos) << r.text;
    EXPECT_NE(access(out.c_str(), F_OK), 0) << "no file is written for a broken manifest";
    std::remove(manifest.c_str());
}

TEST(ResourceCli, DumpListsEveryWindowOfTheRealFile)
{
    const Output r = Shell(std::string("'") + TESSOLO_TOOL + "' resources dump '" + kRealFile + "'");
    ASSERT_EQ(r.code, 0) << r.text;
    EXPECT_NE(r.text.find("22 windows"), std::string::npos);
    for (const char* key : {"UIResources>Windows>Main>Background", "UIResources>Windows>FXiovr>Caption_Active",
                            "UIResources>Sliders>FXmblur_Dir1>Data_Coors", "InfoM", "DefSet"})
        EXPECT_NE(("\n" + r.text).find(std::string("\n") + key + " "), std::string::npos) << key;
}

TEST(ResourceCli, SheetWritesBothPicturesAndRefusesBadInputInOneLine)
{
    const std::string out = ::testing::TempDir() + "rescli_sheet_" + std::to_string(getpid());
    const Output ok =
        Shell(std::string("'") + TESSOLO_TOOL + "' resources sheet '" + kRealFile + "' '" + out + ".png' --window CMuts");
    EXPECT_EQ(ok.code, 0) << ok.text;
    for (const std::string& f : {out + ".png", out + "-states.png"}) {
        EXPECT_EQ(access(f.c_str(), F_OK), 0) << f;
        std::remove(f.c_str());
    }
    for (const std::string& args : {std::string("resources"), std::string("resources dump /no/such/file"),
                                    "resources sheet " + kRealFile + " " + out + ".png --window NoSuchWindow"}) {
        const Output bad = Shell(std::string("'") + TESSOLO_TOOL + "' " + args);
        EXPECT_NE(bad.code, 0) << args;
        EXPECT_EQ(std::count(bad.text.begin(), bad.text.end(), '\n'), 1) << args << ": " << bad.text;
    }
}

}  // namespace
