// The edit gallery on a real X display (run under Xvfb) with real input from
// xdotool: typing and stepping a number, the clipboard through GTK, the
// wheel over the list, and a Space-drag of the preview read back from
// screenshots. Behaviour in detail is tested headless.
#include "imaging/ImageFile.h"
#include "platform/Backend.h"
#include "ui/App.h"
#include "ui/CtrlEditLine.h"
#include "ui/CtrlList.h"
#include "ui/Toolkit.h"
#include "ui/gallery/EditGallery.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

using qnui::CEditGallery;
namespace eg = qnui::editgallery;

std::unique_ptr<plat::Platform> g_platform;
CQNF_Image g_picture;

// Temporary files by process, so that builds running this test at once do not collide.
std::string TempFile(const std::string& name)
{
    return ::testing::TempDir() + "tessolo_" + std::to_string(::getpid()) + "_" + name;
}

class EditGui : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        std::string error;
        g_platform = plat::OpenGtk(error);
        ASSERT_TRUE(g_platform) << error;
        // A large PNG, written and read back through the codecs.
        CQNF_Image made;
        ASSERT_TRUE(qnui::MakeGalleryPicture(made, 6000, 4000));
        const std::string png = TempFile("edit_gui_large.png");
        unsigned short e = 0;
        ASSERT_TRUE(qnSaveImagePNG(png.c_str(), made, "Tessolo", e)) << e;
        ASSERT_TRUE(qnui::LoadGalleryPicture(png, g_picture, error)) << error;
        std::remove(png.c_str());
    }
    static void TearDownTestSuite()
    {
        g_platform.reset();
        g_picture.Clean();
    }

    CQNF_App app;
    std::unique_ptr<CEditGallery> w;
    std::vector<std::string> events;

    void SetUp() override
    {
        ASSERT_TRUE(g_platform);
        qnui::Toolkit::Get().Attach(g_platform.get());
        m_App = &app;
        ASSERT_TRUE(app.InitStorgaeResource(TESSOLO_EDIT_GALLERY_FILE, 0));
        w = std::make_unique<CEditGallery>(&g_picture);
        ASSERT_TRUE(w->CreateFromResource(CQNF_String("EditGallery"), 60, 40, nullptr, 0)) << w->GetError();
        w->onEvent = [this](const std::string& e) { events.push_back(e); };
        w->RenderRect(qnNullRect);
        w->SetFocus();
        Settle();
    }
    void TearDown() override
    {
        if (w && w->GetWindowHandle())
            w->Close();
        Settle();
        w.reset();
        m_App = nullptr;
        qnui::Toolkit::Get().Attach(nullptr);
    }

    static bool PumpUntil(const std::function<bool()>& done, uint32_t ms = 60000)
    {
        qnui::Toolkit& tk = qnui::Toolkit::Get();
        const uint32_t start = tk.P()->NowMs();
        while (!done()) {
            if (tk.P()->NowMs() - start > ms)
                return false;
            tk.PumpFor(20);
        }
        return true;
    }
    static void Settle(uint32_t ms = 400) { qnui::Toolkit::Get().PumpFor(ms); }
    static void X(const std::string& args)
    {
        const std::string cmd = "xdotool " + args;
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    }
    std::string At(int32_t x, int32_t y) const
    {
        const qntRECT_s r = w->GetWindowRect();
        return std::to_string(r.left + x) + " " + std::to_string(r.top + y);
    }
    void ClickAt(int32_t x, int32_t y) { X("mousemove " + At(x, y) + " click 1"); }

    struct Shot {
        CQNF_ImageFile file;
        uint32_t Pixel(int32_t x, int32_t y) const
        {
            const size_t i = size_t(y) * file.GetWidth() + size_t(x);
            return uint32_t(file.GetPlane(0)[i]) << 16 | uint32_t(file.GetPlane(1)[i]) << 8 | file.GetPlane(2)[i];
        }
    };
    void Screenshot(Shot& shot, const std::string& keep = "")
    {
        const std::string path = TempFile(keep.empty() ? "edit_gui_shot.png" : keep);
        ASSERT_EQ(std::system(("import -window root " + path).c_str()), 0);
        ASSERT_TRUE(shot.file.Load(path)) << shot.file.Reason();
        // TESSOLO_KEEP_SHOTS=1 keeps the named screenshots to look at.
        const char* want = std::getenv("TESSOLO_KEEP_SHOTS");
        if (keep.empty() || !want || std::string(want) != "1")
            std::remove(path.c_str());
        else
            std::printf("screenshot kept: %s\n", path.c_str());
    }
    // A screenshot of the preview's finished picture: once the view has
    // drawn it, shots are taken until two in a row agree, since the X
    // server paints what it was sent when it gets round to it.
    void FinishedShot(Shot& shot, const std::string& keep)
    {
        ASSERT_TRUE(PumpUntil([&] { return w->Preview().IsFinished() != 0; })) << "the view never finished";
        const qntRECT_s v = eg::kPreview;
        auto same = [&](const Shot& a, const Shot& b) {
            for (int32_t y = v.top; y < v.bottom; ++y)
                for (int32_t x = v.left; x < v.right; ++x)
                    if (Local(a, x, y) != Local(b, x, y))
                        return false;
            return true;
        };
        Screenshot(shot, keep);
        Shot again;
        for (int tries = 0; tries < 50; ++tries) {
            Settle(100);
            Screenshot(again, keep);
            if (same(shot, again))
                return;
            Settle(100);
            Screenshot(shot, keep);
            if (same(shot, again))
                return;
        }
        FAIL() << "the preview never stood still";
    }
    // A window-local pixel of a screenshot.
    uint32_t Local(const Shot& s, int32_t x, int32_t y) const
    {
        const qntRECT_s r = w->GetWindowRect();
        return s.Pixel(r.left + x, r.top + y);
    }
};

TEST_F(EditGui, TypingTwelveAndUpReadsThirteen)
{
    const qntRECT_s n = eg::kNumber;
    ClickAt((n.left + n.right) / 2, (n.top + n.bottom) / 2);
    ASSERT_TRUE(PumpUntil([&] { return w->Number()->IsFocused(); }));
    X("type 12");
    X("key Up");
    ASSERT_TRUE(PumpUntil([&] { return std::string(w->Number()->GetText().GetStr()) == "13"; }))
        << "text: " << w->Number()->GetText().GetStr();
    X("key shift+Down");
    ASSERT_TRUE(PumpUntil([&] { return std::string(w->Number()->GetText().GetStr()) == "3"; }))
        << "text: " << w->Number()->GetText().GetStr();
    EXPECT_EQ(events.back(), "number 3");
}

TEST_F(EditGui, CopyAndPasteThroughTheDesktopClipboard)
{
    const qntRECT_s t = eg::kText;
    w->Text()->SetText("tessolo", 0);
    ClickAt((t.left + t.right) / 2, (t.top + t.bottom) / 2);  // focus: all selected
    ASSERT_TRUE(PumpUntil([&] { return w->Text()->IsFocused(); }));
    X("key ctrl+c");
    std::string clip;
    ASSERT_TRUE(PumpUntil([&] { return g_platform->ClipboardGetText(clip) && clip == "tessolo"; })) << clip;
    X("key End ctrl+v");
    ASSERT_TRUE(PumpUntil([&] { return std::string(w->Text()->GetText().GetStr()) == "tessolotessolo"; }))
        << "text: " << w->Text()->GetText().GetStr();
}

TEST_F(EditGui, WheelScrollsTheList)
{
    const qntRECT_s l = eg::kList;
    Shot before;
    Screenshot(before);
    X("mousemove " + At(l.left + 80, l.top + 100) + " click 5 click 5 click 5");
    ASSERT_TRUE(PumpUntil([&] { return w->List()->GetModel().GetFirstVisible() >= 3; }))
        << "first visible " << w->List()->GetModel().GetFirstVisible();
    Settle();
    Shot after;
    Screenshot(after);
    int changed = 0;
    for (int y = l.top + 8; y < l.top + 100; ++y)
        for (int x = l.left + 6; x < l.left + 60; ++x)
            changed += Local(before, x, y) != Local(after, x, y);
    EXPECT_GT(changed, 20) << "the rows' texts moved";
}

TEST_F(EditGui, SpaceDragMovesThePicture)
{
    const qntRECT_s v = eg::kPreview;
    const int cx = (v.left + v.right) / 2, cy = (v.top + v.bottom) / 2;
    Shot before;
    FinishedShot(before, "edit_gui_before_pan.png");
    const qntPOS off0 = w->Preview().GetOffset();
    X("mousemove " + At(cx, cy) + " keydown space");
    Settle(100);
    X("mousedown 1");
    ASSERT_TRUE(PumpUntil([&] { return w->Preview().IsInPanningMode(); }));
    X("mousemove " + At(cx - 60, cy - 30));
    Settle(100);
    X("mousemove " + At(cx - 120, cy - 60));
    ASSERT_TRUE(PumpUntil([&] { return w->Preview().GetOffset().x == off0.x + 120; }))
        << "offset " << w->Preview().GetOffset().x;
    X("mouseup 1 keyup space");
    ASSERT_TRUE(PumpUntil([&] { return !w->Preview().IsInPanningMode(); }));
    Shot after;
    FinishedShot(after, "edit_gui_after_pan.png");
    EXPECT_EQ(w->Preview().GetOffset().y, off0.y + 60);
    // What stood at a point now stands 120 left and 60 up of it.
    int same = 0, samples = 0;
    for (int y = v.top + 70; y < v.bottom - 10; y += 23) {
        for (int x = v.left + 130; x < v.right - 10; x += 37) {
            ++samples;
            same += Local(before, x, y) == Local(after, x - 120, y - 60);
        }
    }
    EXPECT_GT(same, samples * 9 / 10) << same << " of " << samples;
    int moved = 0;
    for (int x = v.left + 10; x < v.right - 10; x += 7)
        moved += Local(before, x, cy) != Local(after, x, cy);
    EXPECT_GT(moved, 10) << "the picture under the pointer changed";
}

}  // namespace
