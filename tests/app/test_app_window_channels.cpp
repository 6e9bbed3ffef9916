// The document channels dialog, headless, from the shipped resource file:
// its list, its preview, Invert and the combine modes, OK refused without a
// readable channel. TESSOLO_SNAPSHOT_DIR set: the dialog is saved as PNG.
#include "app/App.h"
#include "app/Wnd_ChannelList.h"
#include "imaging/ImageFile.h"
#include "platform/Headless.h"
#include "ui/CtrlList.h"
#include "ui/KeyCodes.h"
#include "ui/Toolkit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

const std::string kResourceFile = std::string(TESSOLO_BINARY_DIR) + "/resource_ts31_d.qns4";

// A 60 x 40 document: the selection is a dark disc, Red a left-to-right
// ramp, channel 9 cannot be read.
class FakeChannels : public CChannelSource {
public:
    int reads = 0;
    std::vector<qntCHANNELITEM> Items() override
    {
        return {{"- Current Selection", kChannelSelection}, {"Red", 0}, {"Broken", 9}};
    }
    uint32_t Width() override { return 60; }
    uint32_t Height() override { return 40; }
    bool Read(uint32_t value, uint8_t* buffer) override
    {
        ++reads;
        if (value == 9)
            return false;
        for (uint32_t y = 0; y < 40; ++y)
            for (uint32_t x = 0; x < 60; ++x)
                buffer[y * 60 + x] = value == kChannelSelection
                                         ? ((x - 30) * (x - 30) + (y - 20) * (y - 20) < 225 ? 0 : 255)
                                         : uint8_t(x * 255 / 59);
        return true;
    }
};

struct HeadlessRun {
    plat::HeadlessPlatform hp;
    CApp app;
    bool ok = false;
    HeadlessRun()
    {
        qnui::Toolkit::Get().Attach(&hp);
        ok = app.InitStorgaeResource(kResourceFile.c_str(), 0);
        m_App = &app;
    }
    ~HeadlessRun()
    {
        m_App = nullptr;
        qnui::Toolkit::Get().Attach(nullptr);
    }
    void Snapshot(const CQNF_Window& w, const char* file)
    {
        const char* dir = std::getenv("TESSOLO_SNAPSHOT_DIR");
        if (!dir || !*dir)
            return;
        uint16_t fw = 0, fh = 0;
        const std::vector<uint32_t>* fb = hp.Framebuffer(w.GetWindowHandle(), fw, fh);
        ASSERT_NE(fb, nullptr);
        std::vector<uint8_t> rgb(size_t(fw) * fh * 3);
        for (size_t i = 0; i < size_t(fw) * fh; ++i)
            for (int c = 0; c < 3; ++c)
                rgb[size_t(c) * fw * fh + i] = uint8_t((*fb)[i] >> (16 - 8 * c));
        const unsigned char* planes[4] = {rgb.data(), rgb.data() + size_t(fw) * fh, rgb.data() + 2 * size_t(fw) * fh,
                                          nullptr};
        unsigned short err = 0;
        EXPECT_TRUE(qnCodecSavePNG((std::string(dir) + "/" + file).c_str(), fw, fh, 1, planes, nullptr, fw, 72.0,
                                   "test", err, false));
    }
};

CQNF_Control* Named(const CQNF_Window& w, const char* name)
{
    for (unsigned long i = 0; i < w.GetControlCount(); ++i)
        if (std::string(w.GetControl(i)->GetName()) == name)
            return w.GetControl(i);
    return nullptr;
}

// Preview pixels shown as inside: opaque and dark.
size_t InsidePixels(CWnd_ChannelList& d)
{
    size_t n = 0;
    const CQNF_Layer& l = d.GetPreviewLayer();
    for (size_t i = 0; i < size_t(l.GetImageWidth()) * l.GetImageHeight(); ++i)
        n += l.GetPlane(3)[i] == 255 && l.GetPlane(0)[i] < 128;
    return n;
}

}  // namespace

TEST(AppChannelList, ListPreviewInvertAndOk)
{
    if (!std::filesystem::exists(kResourceFile))
        FAIL() << "no compiled resource file in this build";
    HeadlessRun r;
    ASSERT_TRUE(r.ok);
    FakeChannels source;
    CWnd_ChannelList d;
    d.m_pSource = &source;
    d.m_bCombineAllowed = 0;
    ASSERT_TRUE(d.CreateFromResource(CQNF_String("ChannelList"), -32000, -32000, nullptr, 1)) << d.GetError();
    d.RenderRect(qnNullRect);
    auto* list = static_cast<CQNF_CtrlList*>(Named(d, "ChannelList_List"));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->GetItemsCount(), 3u);
    EXPECT_EQ(list->GetSelectedItem(), 0);
    EXPECT_TRUE(d.HasChannel());
    // The disc is dark, the rest light.
    const size_t disc = InsidePixels(d);
    EXPECT_GT(disc, 0u);
    r.Snapshot(d, "channellist-selection.png");
    // Invert: the rest of the picture is dark, the disc not.
    Named(d, "ChannelList_Invert")->SetCheck(1, 1);
    EXPECT_EQ(d.m_bInvert, 1);
    const size_t rest = InsidePixels(d);
    EXPECT_GT(rest, disc);
    r.Snapshot(d, "channellist-inverted.png");
    // Nothing selected before: only New can be chosen.
    EXPECT_TRUE(Named(d, "ChannelList_SelNew")->IsEnabled());
    EXPECT_FALSE(Named(d, "ChannelList_SelAdd")->IsEnabled());
    EXPECT_FALSE(Named(d, "ChannelList_SelInter")->IsEnabled());
    // A channel that cannot be read: OK waits for one that can.
    list->SelectItems(2, 2, 1, 0, 1, 1, 1);
    EXPECT_FALSE(d.HasChannel());
    EXPECT_FALSE(Named(d, "ChannelList_Ok")->IsEnabled());
    list->SelectItems(1, 1, 1, 0, 1, 1, 1);
    EXPECT_TRUE(d.HasChannel());
    r.Snapshot(d, "channellist-red.png");
    // The ramp shows as a ramp on screen, dark to light, across the middle
    // row of the picture; the margins above and below show the skin.
    const CQNF_Layer& l = d.GetPreviewLayer();
    const qntRECT_s pr = l.GetRect();
    const int pw = l.GetImageWidth(), mid = l.GetImageHeight() / 2;
    uint8_t darkest = 255, lightest = 0;
    for (int x = 0; x < pw; ++x) {
        ASSERT_EQ(l.GetPlane(3)[size_t(mid) * pw + x], 255) << x;
        const uint8_t g = uint8_t(r.hp.Pixel(d.GetWindowHandle(), pr.left + x, pr.top + mid) & 0xFF);
        darkest = std::min(darkest, g);
        lightest = std::max(lightest, g);
    }
    EXPECT_LT(darkest, 40);
    EXPECT_GT(lightest, 215);
    EXPECT_EQ(l.GetPlane(3)[0], 0);  // a 3:2 channel in a square leaves margins
    const plat::Rect wr = r.hp.ContentRect(d.GetWindowHandle());
    const qntRECT_s ok = Named(d, "ChannelList_Ok")->GetRenderRect();
    r.hp.Script([&] { r.hp.Activate(d.GetWindowHandle()); });
    r.hp.Script([&] { r.hp.Click({wr.left + (ok.left + ok.right) / 2, wr.top + (ok.top + ok.bottom) / 2}); });
    EXPECT_EQ(d.DoModal(), 1);
    EXPECT_EQ(d.m_nOperation, 0);
    EXPECT_EQ(d.GetChannel()[59], 255);  // the ramp's right end
}

TEST(AppChannelList, CombineModesWhenSomethingIsSelected)
{
    if (!std::filesystem::exists(kResourceFile))
        FAIL() << "no compiled resource file in this build";
    HeadlessRun r;
    ASSERT_TRUE(r.ok);
    FakeChannels source;
    CWnd_ChannelList d;
    d.m_pSource = &source;
    d.m_bCombineAllowed = 1;
    ASSERT_TRUE(d.CreateFromResource(CQNF_String("ChannelList"), -32000, -32000, nullptr, 1));
    for (const auto& [name, op] : {std::pair{"ChannelList_SelInter", 3}, {"ChannelList_SelSub", 2},
                                   {"ChannelList_SelAdd", 1}, {"ChannelList_SelNew", 0}}) {
        ASSERT_TRUE(Named(d, name)->IsEnabled()) << name;
        Named(d, name)->SetCheck(1, 1);
        EXPECT_EQ(d.m_nOperation, op) << name;
    }
    r.hp.Script([&] { r.hp.Activate(d.GetWindowHandle()); });
    r.hp.Script([&] { r.hp.Key(qnkey::vk::Escape, 27); });
    EXPECT_EQ(d.DoModal(), 0);
}
