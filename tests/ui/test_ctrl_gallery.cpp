// The controls gallery builds from its compiled manifest and plays every
// scene headless into a picture of the desktop it sits on.
#include "controls_gallery_resource.h"
#include "imaging/ImageFile.h"
#include "ui/gallery/ControlsGallery.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

TEST(CtrlGallery, EverySceneSnaps)
{
    const std::string resource = ::testing::TempDir() + "ctrl_gallery.qns4";
    std::string error;
    ASSERT_TRUE(ctrltest::BuildControlsGallery(resource, error)) << error;
    for (const std::string& scene : qnui::ControlsGalleryScenes()) {
        const std::string png = ::testing::TempDir() + "ctrl_gallery_" + scene + ".png";
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
