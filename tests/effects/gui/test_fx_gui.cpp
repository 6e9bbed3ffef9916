// The bevel window on a real X display (run under Xvfb) with real input from
// xdotool, over a real engine split: the light ball dragged to the right side
// of its disc, then OK. The pieces take the light from the right, and the
// screenshot shows the ball and the sample's highlight on the new side.
// Behaviour in detail is tested headless.
#include "effects/WndFX_Windows.h"
#include "fx_window_fixture.h"
#include "imaging/ImageFile.h"
#include "platform/Backend.h"
#include "ui/App.h"
#include "ui/CtrlEditLine.h"
#include "ui/Toolkit.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>

using namespace fxtest;

namespace {

const std::string kResourceFile = std::string(TESSOLO_BINARY_DIR) + "/resource_ts31_d.qns4";

std::string TempFile(const std::string& name)
{
    return ::testing::TempDir() + "tessolo_" + std::to_string(::getpid()) + "_" + name;
}

bool PumpUntil(const std::function<bool()>& done, uint32_t ms = 60000)
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

void X(const std::string& args)
{
    const std::string cmd = "xdotool " + args;
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
}

// Sum of red + green + blue over a window-local rectangle of a screenshot.
uint64_t Brightness(const CQNF_ImageFile& shot, const qntRECT_s& window, qntRECT_s r)
{
    uint64_t sum = 0;
    for (int32_t y = r.top; y < r.bottom; ++y)
        for (int32_t x = r.left; x < r.right; ++x) {
            const size_t i = size_t(window.top + y) * shot.GetWidth() + size_t(window.left + x);
            sum += shot.GetPlane(0)[i] + shot.GetPlane(1)[i] + shot.GetPlane(2)[i];
        }
    return sum;
}

TEST(FxGui, DraggingTheLightBallToTheRightLightsThePiecesFromTheRight)
{
    std::string error;
    std::unique_ptr<plat::Platform> platform = plat::OpenGtk(error);
    ASSERT_TRUE(platform) << error;
    qnui::Toolkit& tk = qnui::Toolkit::Get();
    tk.Attach(platform.get());
    {
        CQNF_App app;
        m_App = &app;
        ASSERT_TRUE(app.InitStorgaeResource(kResourceFile.c_str(), 0));
        Puzzle puzzle;
        FakeWindowMain main(puzzle);
        std::unique_ptr<CWndFX_Base> held;
        ASSERT_TRUE(FxOpenWindow(FxWindowKind::Bevel, main, held));
        auto& w = static_cast<CWndFX_Bevel&>(*held);
        w.SetFocus();
        tk.PumpFor(500);
        ASSERT_STREQ(w.AngleEdit()->GetText().GetStr(), "122");

        const qntRECT_s r = w.GetWindowRect();
        const CFxLightZone& z = w.Zone();
        const qntPOS ball = w.ThumbPoint();
        const int32_t tx = int32_t(z.CentreX() + z.Radius() * 0.7), ty = int32_t(z.CentreY());
        auto at = [&](int32_t x, int32_t y) { return std::to_string(r.left + x) + " " + std::to_string(r.top + y); };
        X("mousemove " + at(ball.x, ball.y) + " mousedown 1");
        tk.PumpFor(100);
        X("mousemove " + at((ball.x + tx) / 2, (ball.y + ty) / 2));
        tk.PumpFor(100);
        X("mousemove " + at(tx, ty) + " mouseup 1");
        ASSERT_TRUE(PumpUntil([&] { return std::string(w.AngleEdit()->GetText().GetStr()) == "0"; }))
            << "angle " << w.AngleEdit()->GetText().GetStr();
        ASSERT_TRUE(PumpUntil([&] { return puzzle.e.m_pPieces[0].bevel[CTessolo::FX_APPLIED].lightX > 0.5f; }));
        tk.PumpFor(300);

        const std::string path = TempFile("fx_gui_bevel.png");
        ASSERT_EQ(std::system(("import -window root " + path).c_str()), 0);
        CQNF_ImageFile shot;
        ASSERT_TRUE(shot.Load(path)) << shot.Reason();
        const char* keep = std::getenv("TESSOLO_KEEP_SHOTS");
        if (keep && std::string(keep) == "1")
            std::printf("screenshot kept: %s\n", path.c_str());
        else
            std::remove(path.c_str());
        // The ball sits right of the disc's centre now, and the sample's
        // right edge (lit) is brighter than its left (in shadow): the piece's
        // rim, 10 pixels wide on each side of the sample picture.
        const qntPOS now = w.ThumbPoint();
        EXPECT_GT(now.x, int32_t(z.CentreX()) + 20);
        const uint64_t ballThere = Brightness(shot, r, qntRECT_s{now.x - 3, now.y - 3, now.x + 3, now.y + 3});
        const uint64_t centre = Brightness(shot, r, qntRECT_s{int32_t(z.CentreX()) - 3, int32_t(z.CentreY()) - 3,
                                                             int32_t(z.CentreX()) + 3, int32_t(z.CentreY()) + 3});
        EXPECT_GT(ballThere, centre) << "the ball is drawn where the light is";

        X("mousemove " + at(w.GetWidth() - 40, w.GetHeight() - 27) + " click 1");  // OK
        ASSERT_TRUE(PumpUntil([&] { return w.Session().Closed(); }));
        EXPECT_EQ(main.undoSteps, 1);
        EXPECT_GT(puzzle.e.m_pPieces[5].bevel[CTessolo::FX_APPLIED].lightX, 0.5f);
        tk.PumpFor(100);
        held.reset();
        m_App = nullptr;
    }
    tk.Attach(nullptr);
}

}  // namespace
