// The pieces export on a real X display (run under Xvfb) with real input
// from xdotool: the Export dialog, then the GTK save dialog, then a layered
// PSD and PNG files in the chosen folder. The rules in detail are tested
// headless.
#include "../test_app_export_fixture.h"
#include "app/Wnd_Export.h"
#include "host/WindowProgress.h"
#include "imaging/ImageFile.h"
#include "platform/Backend.h"
#include "ui/App.h"
#include "ui/Control.h"
#include "ui/PlatformFileDialog.h"
#include "ui/CtrlStatic.h"
#include "ui/Toolkit.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

// The status line of a main window: the percentages it was shown, and
// whether it was told the export ended.
struct StatusLine : CMainProgressTarget {
    std::vector<uint8_t> shown;
    int ended = 0;
    void UpdateStatusProgress(const char*, uint8_t percent) override { shown.push_back(percent); }
    void ProcessPendingEvents() override {}
    void EndStatusProgress() override { ++ended; }
};

// The program as if started in a folder, for the life of the object.
struct StartedIn {
    std::filesystem::path was = std::filesystem::current_path();
    explicit StartedIn(const std::filesystem::path& folder) { std::filesystem::current_path(folder); }
    ~StartedIn() { std::filesystem::current_path(was); }
};

// The dialogs' services with a configuration: the stored destination.
struct ConfHost : CDialogHost {
    CQNF_Storage* conf = nullptr;
    CQNF_Storage* Conf() override { return conf; }
};

// A 20 x 15 puzzle through the Export dialog and the save dialog, as a
// layered PSD that an independent reader opens with a layer per piece, and
// as a PNG file per piece, the progress shown in the status line.
TEST(ExportGui, PuzzleGoesToAPsdAndToPngsThroughTheRealDialogs)
{
    std::string error;
    std::unique_ptr<plat::Platform> platform = plat::OpenGtk(error);
    ASSERT_TRUE(platform) << error;
    qnui::Toolkit::Get().Attach(platform.get());
    export_test::Cut cut(400, 300, 20, 15);
    const uint32_t pieces = cut.Engine().m_nPieces;
    ASSERT_EQ(pieces, 300u);
    for (const bool png : {false, true}) {
        SCOPED_TRACE(png ? "PNG files" : "PSD");
        export_test::Conf conf;
        export_test::TempDir& dir = conf.dir;
        conf.st.AddFolder(CQNF_String("Export Settings"));
        conf.st.SetRecord(CQNF_String("Export Settings>ExportTo"), uint8_t(png ? 2 : 1));
        CQNF_App app;
        m_App = &app;
        ASSERT_TRUE(app.InitStorgaeResource((std::string(TESSOLO_BINARY_DIR) + "/resource_ts31_d.qns4").c_str(), 0));
        // The save dialog names no folder: it opens where the program was
        // started (no folder is remembered here).
        const StartedIn startedIn(dir.path);

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
        // the save dialog's proposed name; a save dialog still open a minute
        // later is cancelled, so that a failure cannot hang (an Escape after
        // it closed would stop the export).
        const std::string wait = "for i in $(seq 600); do xdotool search --onlyvisible --name '%s' >/dev/null 2>&1 && "
                                 "break; sleep 0.1; done; sleep 0.8";
        auto waitFor = [&](const std::string& title) {
            std::string s = wait;
            s.replace(s.find("%s"), 2, title);
            return s;
        };
        const std::string save = "'^Export Pieces As...$'";
        const std::string cmd = "(" + waitFor("Export") + "; xdotool mousemove " + at + " click 1; " +
                                waitFor("Export Pieces As...") + "; xdotool key Return; for i in $(seq 600); do " +
                                "xdotool search --onlyvisible --name " + save + " || exit 0; sleep 0.1; done; " +
                                "xdotool key Escape) >/dev/null 2>&1 &";
        ASSERT_EQ(std::system(cmd.c_str()), 0);

        ConfHost host;
        host.conf = &conf.st;
        StatusLine status;
        EXPORTPICTURE picture;
        picture.width = 400;
        picture.height = 300;
        const EXPORTOUTCOME r = DoExportDialog(nullptr, host, cut.Engine(), picture, &status);
        EXPECT_EQ(r.dialog, 1);
        EXPECT_TRUE(r.written);
        ASSERT_FALSE(status.shown.empty());
        EXPECT_EQ(status.shown.back(), 100);
        EXPECT_EQ(status.ended, 1) << "the status line goes back to its tip";
        if (png) {
            uint32_t files = 0;
            for (const std::string& name : dir.Names())
                files += name.rfind("Untitled_F", 0) == 0 && name.size() > 4 && name.substr(name.size() - 4) == ".png";
            EXPECT_EQ(files, pieces);
            EXPECT_EQ(r.files.size(), pieces);
        } else {
            ASSERT_TRUE(std::filesystem::exists(dir / "Untitled.psd"));
            const std::string python = export_test::PsdToolsPython();
            if (!python.empty()) {
                const std::string out = export_test::Capture(
                    python + " -c 'import sys; from psd_tools import PSDImage; print(len(PSDImage.open(sys.argv[1])))' " +
                    (dir / "Untitled.psd"));
                EXPECT_EQ(out, std::to_string(pieces) + "\n");
            }
        }
        m_App = nullptr;
    }
    qnui::Toolkit::Get().Attach(nullptr);
}

// The pixels of a window's rectangle as the X server shows them.
std::vector<uint32_t> OnScreen(const CQNF_Window& w, const qntRECT_s& r)
{
    const std::string path = ::testing::TempDir() + "tessolo_" + std::to_string(::getpid()) + "_export_shot.png";
    CQNF_ImageFile shot;
    if (std::system(("import -window root '" + path + "'").c_str()) != 0 || !shot.Load(path))
        return {};
    std::remove(path.c_str());
    const qntRECT_s at = w.GetWindowRect();
    std::vector<uint32_t> px;
    for (int32_t y = at.top + r.top; y < at.top + r.bottom; ++y)
        for (int32_t x = at.left + r.left; x < at.left + r.right; ++x) {
            const size_t i = size_t(y) * shot.GetWidth() + size_t(x);
            px.push_back(uint32_t(shot.GetPlane(0)[i]) << 16 | uint32_t(shot.GetPlane(1)[i]) << 8 | shot.GetPlane(2)[i]);
        }
    return px;
}

// Clicked with the real pointer, PNG files, Merged, then All: after each
// click the Result line and the name sample on the screen are those of the
// dialog opened afresh in that state, and each differs from the one before.
TEST(ExportGui, ResultLineReadBackAfterEveryClick)
{
    std::string error;
    std::unique_ptr<plat::Platform> platform = plat::OpenGtk(error);
    ASSERT_TRUE(platform) << error;
    qnui::Toolkit::Get().Attach(platform.get());
    CQNF_App app;
    m_App = &app;
    ASSERT_TRUE(app.InitStorgaeResource((std::string(TESSOLO_BINARY_DIR) + "/resource_ts31_d.qns4").c_str(), 0));
    ConfHost host;
    const CExportStats stats{6, 2, 0, 1};
    const char* const texts[] = {"Export_Display", "Export_NamingDisp"};
    auto rect = [](const CQNF_Window& w, const char* name) {
        return w.GetControl(w.FindControlByName(name, qnctl::StaticText))->GetRenderRect();
    };
    struct Seen {
        CExportSettings settings;
        std::vector<uint32_t> pixels[2];
        std::string result;
    };
    std::vector<Seen> seen;
    {
        CWnd_Export dlg(host, stats, CExportSettings{});
        ASSERT_TRUE(dlg.CreateFromResource("Export", 40, 40, nullptr, 0));
        dlg.RenderRect(qnNullRect);
        dlg.Show();
        qnui::Toolkit::Get().PumpFor(500);
        for (const char* radio : {"Export_ToPNG", "Export_Merged", "Export_All"}) {
            SCOPED_TRACE(radio);
            CQNF_Control* c = dlg.GetControl(dlg.FindControlByName(radio, qnctl::RadioButton));
            ASSERT_NE(c, nullptr);
            const qntRECT_s w = dlg.GetWindowRect(), r = c->GetRenderRect();
            const std::string cmd = "xdotool mousemove " + std::to_string(w.left + (r.left + r.right) / 2) + " " +
                                    std::to_string(w.top + (r.top + r.bottom) / 2) + " click 1";
            ASSERT_EQ(std::system(cmd.c_str()), 0);
            // Until the click arrives (a minute at most), then what it drew reaches the X server.
            for (int wait = 0; wait < 3000 && !c->GetCheck(); ++wait)
                qnui::Toolkit::Get().PumpFor(20);
            ASSERT_TRUE(c->GetCheck());
            qnui::Toolkit::Get().PumpFor(300);
            Seen s{dlg.Model().Settings(), {}, dlg.Model().DisplayText()};
            for (int i = 0; i < 2; ++i)
                s.pixels[i] = OnScreen(dlg, rect(dlg, texts[i]));
            ASSERT_FALSE(s.pixels[0].empty());
            if (!seen.empty()) {
                EXPECT_NE(s.pixels[0], seen.back().pixels[0]) << "the Result line changed: " << s.result;
            }
            seen.push_back(s);
        }
        dlg.Close();
        qnui::Toolkit::Get().PumpFor(100);
    }
    EXPECT_EQ(seen.back().settings.exportWhat, CExportSettings::kAll);
    EXPECT_EQ(seen.back().settings.exportTo, CExportSettings::kToPNG);
    for (const Seen& s : seen) {
        SCOPED_TRACE(s.result);
        CWnd_Export fresh(host, stats, s.settings);
        ASSERT_TRUE(fresh.CreateFromResource("Export", 40, 40, nullptr, 0));
        fresh.RenderRect(qnNullRect);
        fresh.Show();
        qnui::Toolkit::Get().PumpFor(500);
        for (int i = 0; i < 2; ++i)
            EXPECT_TRUE(OnScreen(fresh, rect(fresh, texts[i])) == s.pixels[i]) << texts[i];
        fresh.Close();
        qnui::Toolkit::Get().PumpFor(100);
    }
    m_App = nullptr;
    qnui::Toolkit::Get().Attach(nullptr);
}

}  // namespace
