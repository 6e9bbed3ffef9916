// The pieces export on a real X display (run under Xvfb) with real input
// from xdotool: the Export dialog, then the GTK save dialog, then a layered
// PSD in the chosen folder. The rules in detail are tested headless.
#include "../test_app_export_fixture.h"
#include "app/Wnd_Export.h"
#include "platform/Backend.h"
#include "ui/App.h"
#include "ui/Control.h"
#include "ui/PlatformFileDialog.h"
#include "ui/Toolkit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include <unistd.h>

namespace {

TEST(ExportGui, PiecesGoToAPsdThroughTheRealDialogs)
{
    std::string error;
    std::unique_ptr<plat::Platform> platform = plat::OpenGtk(error);
    ASSERT_TRUE(platform) << error;
    qnui::Toolkit::Get().Attach(platform.get());
    export_test::TempDir dir;
    {
        CQNF_App app;
        m_App = &app;
        ASSERT_TRUE(app.InitStorgaeResource((std::string(TESSOLO_BINARY_DIR) + "/resource_ts31_d.qns4").c_str(), 0));
        CQNF_PlatformFileDialog::SetAppRootFolder(FSRef{dir.path.string()});
        export_test::Cut cut(90, 60, 3, 2);

        // Where the centred dialog's Export button lies.
        CQNF_Window probe;
        ASSERT_TRUE(probe.CreateFromResource("Export", -32000, -32000, nullptr, 0));
        const unsigned long id = probe.AddControl("Export_Export", qnctl::Button);
        ASSERT_NE(id, CQNF_Window::None);
        const qntRECT_s w = probe.GetWindowRect(), b = probe.GetControl(id)->GetRenderRect();
        const std::string at = std::to_string(w.left + (b.left + b.right) / 2) + " " +
                               std::to_string(w.top + (b.top + b.bottom) / 2);
        probe.Close();

        // From the background: click Export once the dialog shows, then take
        // the save dialog's proposed name; anything still open later is
        // cancelled, so that a failure cannot hang.
        const std::string wait = "for i in $(seq 150); do xdotool search --onlyvisible --name '%s' >/dev/null 2>&1 && "
                                 "break; sleep 0.1; done; sleep 0.8";
        auto waitFor = [&](const std::string& title) {
            std::string s = wait;
            s.replace(s.find("%s"), 2, title);
            return s;
        };
        const std::string cmd = "(" + waitFor("Export") + "; xdotool mousemove " + at + " click 1; " +
                                waitFor("Export Pieces As...") + "; xdotool key Return; sleep 10; xdotool key Escape)" +
                                " >/dev/null 2>&1 &";
        ASSERT_EQ(std::system(cmd.c_str()), 0);

        CDialogHost host;
        EXPORTPICTURE picture;
        picture.width = 90;
        picture.height = 60;
        const EXPORTOUTCOME r = DoExportDialog(nullptr, host, cut.Engine(), picture);
        EXPECT_EQ(r.dialog, 1);
        EXPECT_TRUE(r.written);
        EXPECT_TRUE(std::filesystem::exists(dir / "Untitled.psd"));
        CQNF_PlatformFileDialog::SetAppRootFolder(FSRef{});
        m_App = nullptr;
    }
    qnui::Toolkit::Get().Attach(nullptr);
}

}  // namespace
