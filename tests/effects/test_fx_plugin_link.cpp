// What the plug-in object answers for the effect windows: the live-preview
// switch and the window position in "plugin.conf", written on OK only.
#include "effects/FxPluginLink.h"
#include "host/PluginMain.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdlib.h>

namespace {

// The main window's part, which these tests do not need.
class Link : public CFxPluginLink {
public:
    using CFxPluginLink::CFxPluginLink;
    uint32_t FxCurrentPiece() override { return 0xFFFFFFFFu; }
    bool FxBusy() override { return false; }
    bool FxRerenderPieces(const std::vector<uint32_t>&, bool) override { return true; }
    void FxExitMode() override {}
    CQNF_RandomSource& FxRandom() override { return random; }
    CQNF_Window* FxParentWindow() override { return nullptr; }
    void FxCheckerColors(qntRGBA8&, qntRGBA8&) override {}
    void FxEnterMode() override {}
    unsigned char FxForwardShortcut(unsigned short, unsigned long, char*, unsigned char, void*) override { return 0; }
    void FxFillHelpMenu(CQNF_PlatformPopupMenu&) override {}
    unsigned char FxHelpChosen(unsigned short, CQNF_Window*) override { return 0; }
    FxAlphaDisplay FxTransparencyDisplay() override { return {}; }
    const char* FxLayersTip(const char*, bool, uint8_t) override { return ""; }
    void FxFillLayersHelpMenu(CQNF_PlatformPopupMenu&) override {}
    unsigned char FxLayersHelpChosen(unsigned short, CQNF_Window*) override { return 0; }
    CQNF_SeededRandom random;
};

struct Folder {
    std::string path;
    Folder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "tessolo_fx_XXXXXX").string();
        path = mkdtemp(pattern.data()) ? pattern : "";
    }
    ~Folder()
    {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

TEST(FxPluginLink, OkStoresTheSwitchAndThePositionWhereTheNextOpeningReadsThem)
{
    Folder f;
    ASSERT_FALSE(f.path.empty());
    CPluginMain plugin;
    FSRef folder;
    folder.path = f.path;
    plugin.SetPluginFolder(folder);
    Link link(plugin);
    uint8_t value = 7;
    EXPECT_FALSE(link.FxReadSwitch("FXbevel_MainPreview", value));  // no storage open: the default applies
    EXPECT_EQ(link.FxStoredPosition("FXbevel").x, -32000);

    ASSERT_TRUE(plugin.ConfStorage_Open("plugin.conf"));
    EXPECT_FALSE(link.FxReadSwitch("FXbevel_MainPreview", value));
    link.FxStoreOnOk("FXbevel", qntPOS{40, 60}, 0);
    ASSERT_TRUE(link.FxReadSwitch("FXbevel_MainPreview", value));
    EXPECT_EQ(value, 0);
    EXPECT_FALSE(link.FxReadSwitch("FXblur_MainPreview", value));
    const qntPOS at = link.FxStoredPosition("FXbevel");
    EXPECT_EQ(at.x, 40);
    EXPECT_EQ(at.y, 60);
    EXPECT_EQ(&link.FxEngine(), &plugin.GetEngine());
}

}  // namespace
