// The gallery headless, and its command line.
#include "UiTest.h"
#include "tests/no_display.h"

#include "imaging/ImageFile.h"
#include "ui/gallery/Gallery.h"

#include <cstdlib>
#include <fstream>
#include <string>

using namespace uitest;

namespace {
std::string Tool() { return std::string(TESSOLO_BINARY_DIR) + "/tools/tessolo-tool"; }

struct ToolRun {
    int code;
    std::string err;
};

ToolRun Sh(const std::string& command)
{
    const std::string errFile = TempPath("ui_gallery_err.txt");
    const int status = std::system((command + " 2> '" + errFile + "' > /dev/null").c_str());
    std::ifstream f(errFile);
    ToolRun r{WIFEXITED(status) ? WEXITSTATUS(status) : -1, {std::istreambuf_iterator<char>(f), {}}};
    std::remove(errFile.c_str());
    return r;
}
}  // namespace

class GalleryTest : public UiTest {};

TEST_F(GalleryTest, ButtonsShortcutsAndDialogHeadless)
{
    std::string error;
    ASSERT_TRUE(qnui::BuildGalleryResource(resPath, error)) << error;
    ASSERT_TRUE(app.InitStorgaeResource(resPath.c_str(), 0));
    qnui::CGalleryWindow w;
    std::vector<std::string> events;
    w.onEvent = [&](const std::string& e) {
        events.push_back(e);
        if (e == "dialog-shown") {
            CQNF_Window* d = qnui::Toolkit::Get().TopModal();
            ASSERT_NE(d, nullptr);
            const qntRECT_s r = d->GetWindowRect();
            P.Click({r.left + qnui::gallery::kDialogOk.left + 5, r.top + qnui::gallery::kDialogOk.top + 5});
        }
    };
    ASSERT_TRUE(w.CreateFromResource(CQNF_String("Gallery"), 100, 100, nullptr, 0)) << w.GetError();
    w.RenderRect(qnNullRect);
    w.SetFocus();
    Pump();
    EXPECT_EQ(w.GetControlCount(), 4u);
    const qntRECT_s b = qnui::gallery::kDialogButton;
    P.Click({100 + b.left + 10, 100 + b.top + 10});
    Pump(1000);
    EXPECT_EQ(events, (std::vector<std::string>{"dialog-open", "dialog-shown", "dialog-closed 1"}));

    events.clear();
    P.menuAnswers.push_back(4);
    P.Key(46, 'm', plat::mods::Command);  // Command-M: the pop-up menu
    Pump();
    EXPECT_EQ(events, (std::vector<std::string>{"shortcut 2002", "menu 4"}));
    ASSERT_EQ(P.menusShown.size(), 1u);
    EXPECT_EQ(P.menusShown[0].size(), 5u);

    P.Key(53, 27);  // Escape closes the gallery
    Pump();
    EXPECT_EQ(w.GetWindowHandle(), 0u);
}

TEST_F(GalleryTest, SnapCommandDrawsTheShapedWindow)
{
    const std::string png = TempPath("ui_gallery_snap.png");
    const ToolRun ok = Sh("'" + Tool() + "' ui-gallery --snap '" + png + "'");
    ASSERT_EQ(ok.code, 0) << ok.err;
    CQNF_ImageFile f;
    ASSERT_TRUE(f.Load(png)) << f.Reason();
    auto at = [&](int x, int y) {
        const size_t i = size_t(y) * f.GetWidth() + size_t(x);
        return uint32_t(f.GetPlane(0)[i]) << 16 | uint32_t(f.GetPlane(1)[i]) << 8 | f.GetPlane(2)[i];
    };
    // The window sits at (40, 40) on a plain desktop.
    EXPECT_EQ(at(41, 41), 0x3A3F47u) << "the rounded corner shows the desktop";
    EXPECT_EQ(at(40 + 372, 40 + 244), 0x3A3F47u) << "so does the bite";
    const uint32_t body = at(40 + 12, 40 + 40), want = qnui::gallery::kBodyColour;
    for (int shift = 0; shift <= 16; shift += 8)
        EXPECT_NEAR(int(body >> shift & 255), int(want >> shift & 255), 8) << "the body, channel " << shift;
    std::remove(png.c_str());

    // A display that is not set is asked after; one that is set but does
    // not open (one no server can answer) is named.
    struct Bad {
        std::string args;
        std::string env;
        std::string says;
    } bad[] = {{"--snap", "", ""},
               {"--bogus", "", ""},
               {"--resource /no/such/file --snap x.png", "", ""},
               {"", "env -u DISPLAY -u WAYLAND_DISPLAY ", "(is DISPLAY set?)"},
               {"", std::string("env -u WAYLAND_DISPLAY DISPLAY=") + nodisplay::kDisplay + " ",
                std::string("cannot open the X display \"") + nodisplay::kDisplay + "\"\n"}};
    for (const Bad& c : bad) {
        const ToolRun r = Sh(std::string(c.env) + "'" + Tool() + "' ui-gallery " + c.args);
        EXPECT_NE(r.code, 0) << c.args;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.args << ": " << r.err;
        EXPECT_EQ(r.err.rfind("tessolo-tool ui-gallery: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
}
