// The stand-in host is a host like any other: it meets the plug-in only
// through the filter interface, so nothing in hostapp/ may reach the
// plug-in's own code (its adapter, engine, windows or layout model).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>

namespace fs = std::filesystem;

namespace {

const std::set<std::string> kAllowed = {"core", "imaging", "filterapi", "hostapp"};

TEST(HostappLayering, SourcesAndLinksReachOnlyTheFilterInterfaceAndTheBaseLibraries)
{
    const fs::path root = fs::path(TESSOLO_SOURCE_DIR) / "hostapp";
    const std::regex include(R"re(^\s*#\s*include\s*"([A-Za-z0-9_]+)/)re");
    const std::regex library(R"(\btessolo_([A-Za-z0-9_]+))");
    size_t files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string ext = entry.path().extension().string();
        const bool cmake = entry.path().filename() == "CMakeLists.txt";
        if (!cmake && ext != ".cpp" && ext != ".h")
            continue;
        ++files;
        std::ifstream in(entry.path());
        std::string line;
        for (int number = 1; std::getline(in, line); ++number) {
            // Code includes folders; the build links their libraries.
            std::smatch m;
            if (cmake && line.find("target_link_libraries") != std::string::npos) {
                for (auto it = std::sregex_iterator(line.begin(), line.end(), library); it != std::sregex_iterator();
                     ++it)
                    EXPECT_TRUE(kAllowed.count((*it)[1].str())) << entry.path() << ":" << number << ": " << line;
            } else if (std::regex_search(line, m, include)) {
                EXPECT_TRUE(kAllowed.count(m[1].str())) << entry.path() << ":" << number << ": " << line;
            }
        }
    }
    EXPECT_GT(files, 10u) << "no sources found under " << root;
}

}  // namespace
