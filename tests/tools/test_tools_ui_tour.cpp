// tessolo-tool ui-tour: one picture a window of the skin, each the size the
// skin gives that window and showing something, and a photo or resource file
// that cannot be read refused before anything is written.
#include "hostapp/RasterImage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// The windows of the skin's manifests and their sizes.
std::map<std::string, std::pair<int, int>> SkinWindows()
{
    std::map<std::string, std::pair<int, int>> sizes;
    for (const auto& f : fs::directory_iterator(std::string(TESSOLO_SOURCE_DIR) + "/resources/manifest")) {
        if (f.path().extension() != ".qnui")
            continue;
        std::ifstream in(f.path());
        for (std::string line; std::getline(in, line);) {
            char name[64];
            int w = 0, h = 0;
            if (std::sscanf(line.c_str(), "window %63s %dx%d", name, &w, &h) == 3)
                sizes[name] = {w, h};
        }
    }
    return sizes;
}


int RunTour(const std::string& args, std::string& out)
{
    const std::string capture = ::testing::TempDir() + "tour_" + std::to_string(::getpid()) + ".txt";
    const int status = std::system((std::string(TESSOLO_TOOL) + " ui-tour " + args + " >'" + capture + "' 2>&1").c_str());
    std::ifstream in(capture);
    out.assign(std::istreambuf_iterator<char>(in), {});
    std::remove(capture.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(ToolUiTour, EveryWindowIsPicturedAtItsSizeAndNotBlank)
{
    const fs::path dir = fs::path(::testing::TempDir()) / ("tour_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    std::string out;
    ASSERT_EQ(RunTour("'" + dir.string() + "'", out), 0) << out;
    const auto sizes = SkinWindows();
    std::set<std::string> pictured;
    std::istringstream lines(out);
    for (std::string path, window; lines >> path >> window;) {
        SCOPED_TRACE(path);
        pictured.insert(window);
        ASSERT_TRUE(sizes.count(window)) << window << " is no window of the skin";
        hostapp::RasterImage img;
        std::string err;
        ASSERT_TRUE(hostapp::ReadImageFile(path, img, err)) << err;
        EXPECT_EQ(img.width, sizes.at(window).first);
        EXPECT_EQ(img.height, sizes.at(window).second);
        // Not blank: many colours, and no colour covering nearly all of it.
        std::map<uint32_t, size_t> colours;
        for (size_t i = 0; i < img.PixelCount(); ++i)
            ++colours[uint32_t(img.planes[0][i]) << 16 | uint32_t(img.planes[1][i]) << 8 | img.planes[2][i]];
        size_t most = 0;
        for (const auto& [c, n] : colours)
            most = std::max(most, n);
        EXPECT_GT(colours.size(), 20u);
        EXPECT_LT(most, img.PixelCount() * 9 / 10);
    }
    // Every window of the skin that the plug-in can open is in the tour.
    for (const auto& [window, size] : sizes)
        EXPECT_EQ(pictured.count(window), 1u) << window << " is missing from the tour";
    fs::remove_all(dir);
}

TEST(ToolUiTour, UnreadableInputIsRefusedAndWritesNothing)
{
    const fs::path dir = fs::path(::testing::TempDir()) / ("tour_bad_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    const std::string missing = ::testing::TempDir() + "no_such_file.png";
    for (const std::string option : {"--photo", "--resource"}) {
        std::string out;
        EXPECT_NE(RunTour("'" + dir.string() + "' " + option + " '" + missing + "'", out), 0) << option;
        EXPECT_NE(out.find(missing), std::string::npos) << out;
        EXPECT_FALSE(fs::exists(dir)) << option;
    }
}
