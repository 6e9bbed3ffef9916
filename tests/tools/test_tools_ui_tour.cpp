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


std::string Slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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

// The folder's name holds a newline: each picture is still listed on a line
// of its own, the newline shown as "\x0a".
TEST(ToolUiTour, EveryWindowIsPicturedAtItsSizeAndNotBlank)
{
    const std::string folder = "tour_" + std::to_string(::getpid()) + "\nnext";
    const fs::path dir = fs::path(::testing::TempDir()) / folder;
    fs::remove_all(dir);
    fs::create_directories(dir);
    // The photo as a PSD: the tour opens it as every program does.
    const fs::path photo = fs::path(::testing::TempDir()) / ("tour_photo_" + std::to_string(::getpid()) + ".psd");
    const std::string write = std::string(TESSOLO_TOOL) + " psd write '" + photo.string() + "' '" +
                              TESSOLO_SOURCE_DIR + "/samples/sample.png' >/dev/null";
    ASSERT_EQ(std::system(write.c_str()), 0);
    std::string out;
    ASSERT_EQ(RunTour("'" + dir.string() + "' --photo '" + photo.string() + "'", out), 0) << out;
    fs::remove(photo);
    const auto sizes = SkinWindows();
    std::set<std::string> pictured;
    std::istringstream lines(out);
    for (std::string path, window; lines >> path >> window;) {
        SCOPED_TRACE(path);
        const size_t shown = path.find("\\x0a");
        ASSERT_NE(shown, std::string::npos);
        path.replace(shown, 4, "\n");
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
    fs::create_directories(dir);
    const std::string missing = ::testing::TempDir() + "no_such_file.png";
    // A PSD cut short after its header, refused in the words of every
    // program that reads a picture.
    const std::string cut = ::testing::TempDir() + "tour_cut_" + std::to_string(::getpid()) + ".psd";
    std::ofstream(cut, std::ios::binary).write("8BPS\0\1\0\0\0\0\0\0\0\3\0\0\0\x10\0\0\0\x10\0\x08\0\3", 26);
    const struct {
        const char* option;
        std::string file, says;
    } cases[] = {{"--photo", missing, missing + ": no such file"},
                 {"--resource", missing, missing + ": no such file"},
                 {"--photo", cut, cut + ": PSD file is "}};
    for (const auto& c : cases) {
        std::string out;
        EXPECT_NE(RunTour("'" + dir.string() + "' " + c.option + " '" + c.file + "'", out), 0) << c.option;
        EXPECT_NE(out.find(c.says), std::string::npos) << out;
        EXPECT_TRUE(fs::is_empty(dir)) << c.option;
    }
    std::remove(cut.c_str());
    fs::remove_all(dir);
}

// The tour makes a missing folder as core-demo does, the last one of the
// name only, and only once its photo reads; it writes over no file it
// reads: a photo or resource file that one of the tour's pictures is (a
// copy in the folder, a symbolic or a hard link from a picture's name) is
// refused before any window is drawn, the file keeping its bytes and the
// folder its files.
TEST(ToolUiTour, AMissingFolderIsMadeAndAPictureThatIsAnInputIsRefused)
{
    const fs::path dir = fs::path(::testing::TempDir()) / ("tour_inputs_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::string out;
    const fs::path made = dir / "made", deeper = dir / "nowhere" / "deeper";
    EXPECT_EQ(RunTour("'" + made.string() + "'", out), 0) << out;
    EXPECT_TRUE(fs::is_regular_file(made / "01_main_layout.png")) << out;
    EXPECT_EQ(RunTour("'" + deeper.string() + "'", out), 1) << out;
    EXPECT_NE(out.find("cannot write " + deeper.string() + ": no such folder"), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(deeper.parent_path()));
    EXPECT_NE(RunTour("'" + (dir / "unread").string() + "' --photo '" + (dir / "none.png").string() + "'", out), 0);
    EXPECT_NE(out.find("no such file"), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(dir / "unread")) << "a refused tour left its folder";

    const fs::path photo = dir / "photo.png", resource = dir / "skin.qns4";
    fs::copy_file(std::string(TESSOLO_SOURCE_DIR) + "/samples/sample.png", photo);
    fs::copy_file(std::string(TESSOLO_BINARY_DIR) + "/resource_ts31_d.qns4", resource);
    const fs::path tour = dir / "tour";
    const struct {
        const char* option;
        fs::path file;
        int link;  // 0: the file itself lies in the folder; 1 symbolic, 2 hard link to it
    } cases[] = {{"--photo", tour / "12_main_pieces.png", 0}, {"--photo", photo, 1}, {"--photo", photo, 2},
                 {"--resource", resource, 1}, {"--resource", resource, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.option) + " " + c.file.string() + " link " + std::to_string(c.link));
        fs::remove_all(tour);
        fs::create_directories(tour);
        if (c.link == 0)
            fs::copy_file(photo, c.file);
        else if (c.link == 1)
            fs::create_symlink(c.file, tour / "07_about.png");
        else
            fs::create_hard_link(c.file, tour / "07_about.png");
        const std::string bytes = Slurp(c.file);
        const size_t held = size_t(std::distance(fs::directory_iterator(tour), fs::directory_iterator()));
        EXPECT_EQ(RunTour("'" + tour.string() + "' " + c.option + " '" + c.file.string() + "'", out), 1) << out;
        EXPECT_NE(out.find("it would write over the input"), std::string::npos) << out;
        EXPECT_EQ(Slurp(c.file), bytes);
        EXPECT_EQ(size_t(std::distance(fs::directory_iterator(tour), fs::directory_iterator())), held);
    }
    fs::remove_all(dir);
}
