// The README's commands work as typed in the clone: every ctest command names
// the build it runs in, and every program it names is where the build puts it.
#include "tool_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

namespace fs = std::filesystem;

namespace {

TEST(Readme, CommandsNameTheirBuildAndProgramsLieWhereTheBuildPutsThem)
{
    const std::string readme = Slurp(std::string(TESSOLO_SOURCE_DIR) + "/README.md");
    ASSERT_FALSE(readme.empty());
    // In the clone a bare ctest finds no tests (and leaves a Testing/ folder).
    const std::regex ctest(R"(`(ctest[^`]*)`)");
    size_t commands = 0;
    for (auto it = std::sregex_iterator(readme.begin(), readme.end(), ctest); it != std::sregex_iterator(); ++it) {
        ++commands;
        EXPECT_NE((*it)[1].str().find("--test-dir build/"), std::string::npos) << (*it)[1].str();
    }
    EXPECT_GT(commands, 2u);
    // The programs list ("- `hostapp/tessolo-host [options] ...`") and the
    // release paths of the README and the demo script.
    const std::regex listed(R"((?:^- `|build/release/)((?:hostapp|tools)/[a-z0-9-]+))", std::regex::multiline);
    size_t programs = 0;
    for (const std::string& text : {readme, Slurp(std::string(TESSOLO_SOURCE_DIR) + "/scripts/demo.sh")}) {
        for (auto it = std::sregex_iterator(text.begin(), text.end(), listed); it != std::sregex_iterator(); ++it) {
            ++programs;
            EXPECT_TRUE(fs::is_regular_file(fs::path(TESSOLO_BINARY_DIR) / (*it)[1].str())) << (*it)[1].str();
        }
    }
    EXPECT_GT(programs, 4u);
}

}  // namespace
