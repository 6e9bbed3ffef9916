// The controls gallery builds from its compiled manifest and plays every
// scene headless into a picture of the desktop it sits on.
#include "controls_gallery_resource.h"
#include "imaging/ImageFile.h"
#include "ui/gallery/ControlsGallery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>
#include <sys/wait.h>

TEST(CtrlGallery, EverySceneSnaps)
{
    const std::string resource = ::testing::TempDir() + "ctrl_gallery.qns4";
    std::string error;
    ASSERT_TRUE(ctrltest::BuildControlsGallery(resource, error)) << error;
    for (const std::string& scene : qnui::ControlsGalleryScenes()) {
        const std::string png = ::testing::TempDir() + "tessolo_" + std::to_string(::getpid()) + "_ctrl_gallery_" + scene + ".png";
        ASSERT_TRUE(qnui::SnapControlsGallery(resource, scene, png, error)) << scene << ": " << error;
        CQNF_ImageFile shot;
        ASSERT_TRUE(shot.Load(png)) << shot.Reason();
        EXPECT_EQ(shot.GetWidth(), 640u);
        std::remove(png.c_str());
    }
    EXPECT_FALSE(qnui::SnapControlsGallery(resource, "upside-down", "/dev/null", error));
    EXPECT_EQ(error, "unknown scene 'upside-down'");
    EXPECT_FALSE(qnui::SnapControlsGallery(resource + ".missing", "rest", "/dev/null", error));
    std::remove(resource.c_str());
}

TEST(CtrlGallery, CommandLine)
{
    const std::string resource = ::testing::TempDir() + "tessolo_" + std::to_string(::getpid()) + "_ctrl_gallery_cli.qns4";
    std::string error;
    ASSERT_TRUE(ctrltest::BuildControlsGallery(resource, error)) << error;
    const std::string tool = std::string(TESSOLO_BINARY_DIR) + "/tools/tessolo-tool";
    const std::string png = ::testing::TempDir() + "tessolo_" + std::to_string(::getpid()) + "_ctrl_gallery_cli.png";
    const std::string errFile = ::testing::TempDir() + "tessolo_" + std::to_string(::getpid()) + "_ctrl_gallery_cli.err";
    auto run = [&](const std::string& args, std::string& err) {
        const int status = std::system(("'" + tool + "' " + args + " 2> '" + errFile + "' > /dev/null").c_str());
        std::ifstream f(errFile);
        err.assign(std::istreambuf_iterator<char>(f), {});
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    std::string err;
    EXPECT_EQ(run("ui-gallery --controls --resource '" + resource + "' --snap '" + png + "' --scene checked", err), 0)
        << err;
    CQNF_ImageFile shot;
    EXPECT_TRUE(shot.Load(png)) << shot.Reason();
    for (const char* bad : {"--bogus", "--scene", "--scene nope --snap x.png", "--resource /no/such/file"}) {
        EXPECT_NE(run("ui-controls " + std::string(bad), err), 0) << bad;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << bad << ": " << err;
        EXPECT_EQ(err.rfind("tessolo-tool ui-controls: ", 0), 0u) << err;
    }
    std::remove(png.c_str());
    std::remove(errFile.c_str());
    std::remove(resource.c_str());
}
