// The presets manager and the shape files on a real X display (run under
// Xvfb) with real input from xdotool: a double click on an icon takes its
// shape; a shape is saved and loaded back through the GTK file dialogs; under
// a window manager the name asked for after Load Shape takes the keys typed.
// The rules in detail are tested headless.
#include "cutter/Wnd_PresetsManager.h"
#include "tests/window_manager.h"
#include "platform/Backend.h"
#include "ui/App.h"
#include "ui/Control.h"
#include "ui/PlatformFileDialog.h"
#include "ui/Toolkit.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include <csignal>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// "ckss.data" in memory.
class MemStore : public CQNF_PresetsFile {
public:
    std::vector<uint8_t> bytes;
    ReadResult Read(std::vector<uint8_t>& out) override
    {
        out = bytes;
        return ReadResult::Ok;
    }
    bool Write(const void* data, size_t size) override
    {
        bytes.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
        return true;
    }
};

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

TEST(PresetsManagerGui, DoubleClickOnAnIconTakesItsShape)
{
    std::string error;
    std::unique_ptr<plat::Platform> platform = plat::OpenGtk(error);
    ASSERT_TRUE(platform) << error;
    qnui::Toolkit::Get().Attach(platform.get());
    {
        CQNF_App app;
        m_App = &app;
        ASSERT_TRUE(app.InitStorgaeResource((std::string(TESSOLO_BINARY_DIR) + "/resource_ts31_d.qns4").c_str(), 0));
        MemStore store;
        std::vector<CWnd_PresetsManagerModel::SHAPESETREC> recs;
        for (int i = 0; i < 3; ++i) {
            CWnd_CutterModel::SPLINE_STRUCT s{};
            CWnd_CutterModel::SetDefaultKnife(&s);
            s.nodeCount = uint8_t(3 + i);
            recs.push_back(CWnd_PresetsManagerModel::MakeRecord(("Shape " + std::to_string(i)).c_str(), s));
        }
        store.Write(recs.data(), recs.size() * sizeof(recs[0]));
        CDialogHost host;
        int received = -1;
        CWnd_PresetsManager w(host, store, [&](const CWnd_CutterModel::SPLINE_STRUCT& s) { received = s.nodeCount; });
        ASSERT_TRUE(w.CreateFromResource("PresMng", 60, 40, nullptr, 0)) << w.GetError();
        w.RenderRect(qnNullRect);
        w.SetFocus();
        qnui::Toolkit::Get().PumpFor(400);
        const qntRECT_s win = w.GetWindowRect();
        const qntRECT_s icon = w.IconRect(2);
        const std::string at = std::to_string(win.left + (icon.left + icon.right) / 2) + " " +
                               std::to_string(win.top + (icon.top + icon.bottom) / 2);
        ASSERT_EQ(std::system(("xdotool mousemove " + at + " click --repeat 2 --delay 80 1").c_str()), 0);
        EXPECT_TRUE(PumpUntil([&] { return received >= 0; })) << "no shape came";
        EXPECT_EQ(received, 5) << "the third preset holds 5 nodes";
        EXPECT_TRUE(w.IsSelected(2));
        w.Close();
        qnui::Toolkit::Get().PumpFor(100);
        m_App = nullptr;
    }
    qnui::Toolkit::Get().Attach(nullptr);
}

// Answers the next GTK file dialog titled title from the background (the
// dialog blocks this thread while it runs): Return takes the proposed name
// of a save dialog; an open dialog gets name typed into its location field.
// A dialog still open a minute later is cancelled, so that a failure cannot
// hang.
void AnswerFileDialog(const std::string& title, const std::string& name)
{
    const std::string wait = "for i in $(seq 600); do xdotool search --onlyvisible --name '" + title +
                             "' >/dev/null 2>&1 && break; sleep 0.1; done; sleep 0.8";
    const std::string keys =
        name.empty() ? std::string("true") : "xdotool key ctrl+l; sleep 0.5; xdotool type --delay 150 '" + name + "'";
    const std::string cancel = "for i in $(seq 600); do xdotool search --onlyvisible --name '" + title +
                               "' || exit 0; sleep 0.1; done; xdotool key Escape";
    const std::string cmd = "(" + wait + "; " + keys + "; sleep 0.5; xdotool key Return; " + cancel + ") >/dev/null 2>&1 &";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
}

using wmtest::WindowManager;

// Under a window manager the desktop's file dialog hands the focus back to
// the window it was opened over as it closes; the shape name dialog that
// the presets manager's Load Shape opens next must still take the keys
// typed into it (without a click on its field first).
TEST(PresetsManagerGui, TheNameAskedForAfterLoadShapeTakesTheKeysTypedUnderAWindowManager)
{
    WindowManager wm;
    ASSERT_TRUE(wm.Managing()) << "openbox did not take the screen";
    std::string error;
    std::unique_ptr<plat::Platform> platform = plat::OpenGtk(error);
    ASSERT_TRUE(platform) << error;
    qnui::Toolkit::Get().Attach(platform.get());
    const std::string dir = ::testing::TempDir() + "tessolo_import_gui_" + std::to_string(::getpid());
    const std::string finished = dir + "/answered";
    std::filesystem::create_directories(dir + "/shapes");
    {
        CQNF_App app;
        m_App = &app;
        ASSERT_TRUE(app.InitStorgaeResource((std::string(TESSOLO_BINARY_DIR) + "/resource_ts31_d.qns4").c_str(), 0));
        CQNF_PlatformFileDialog::SetAppRootFolder(FSRef{dir});
        CWnd_CutterModel::SPLINE_STRUCT shape{};
        CWnd_CutterModel::SetDefaultKnife(&shape);
        ASSERT_EQ(CWnd_CutterModel::SaveShapeFile(dir + "/shapes/knife.qnth", shape), ShapeIoError::None);
        MemStore store;
        const auto one = CWnd_PresetsManagerModel::MakeRecord("Kept", shape);
        store.Write(&one, sizeof one);
        CDialogHost host;
        CWnd_PresetsManager w(host, store, [](const CWnd_CutterModel::SPLINE_STRUCT&) {});
        ASSERT_TRUE(w.CreateFromResource("PresMng", 60, 40, nullptr, 0)) << w.GetError();
        w.RenderRect(qnNullRect);
        w.SetFocus();
        qnui::Toolkit::Get().PumpFor(600);
        const qntRECT_s win = w.GetWindowRect();
        const qntRECT_s b = w.GetControl(w.FindControlByName("PresMng_LoadShape", qnctl::Button))->GetRenderRect();
        // From the background, as the dialogs block this thread: the click
        // on Load Shape, the file typed into the file dialog, then keys for
        // the name and Return twice (the name field takes the first, the
        // dialog the second). A name dialog that took none of them is
        // cancelled after a while, through the window manager.
        const std::string at = std::to_string(win.left + (b.left + b.right) / 2) + " " +
                               std::to_string(win.top + (b.top + b.bottom) / 2);
        const std::string wait = "for i in $(seq 600); do xdotool search --onlyvisible --name '^%s$' >/dev/null 2>&1 "
                                 "&& break; sleep 0.1; done; sleep 1";
        auto waitFor = [&wait](const std::string& title) {
            std::string s = wait;
            return s.replace(s.find("%s"), 2, title);
        };
        // With TESSOLO_SNAPSHOT_DIR set, the screen with the name typed.
        const char* snapshots = std::getenv("TESSOLO_SNAPSHOT_DIR");
        const std::string grab = snapshots && *snapshots
                                     ? "import -window root '" + std::string(snapshots) + "/shape_name_after_load.png'; "
                                     : std::string();
        const std::string cmd =
            "(xdotool mousemove " + at + " sleep 0.3 click 1; " + waitFor("Load Knife Shape...") +
            "; xdotool key ctrl+l; sleep 0.5; xdotool type --delay 150 knife.qnth; sleep 0.5; xdotool key Return; " +
            waitFor("ShapeName") + "; xdotool type --delay 150 Zq; sleep 0.5; " + grab +
            "xdotool key Return; sleep 0.3; xdotool key Return; " +
            "for i in $(seq 50); do xdotool search --onlyvisible --name '^ShapeName$' || break; sleep 0.1; done; "
            "xdotool search --onlyvisible --name '^ShapeName$' windowactivate --sync key Escape; "
            "touch '" + finished + "') >/dev/null 2>&1 &";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        EXPECT_TRUE(PumpUntil([&] { return store.bytes.size() > sizeof one || std::filesystem::exists(finished); },
                              120000));
        ASSERT_EQ(store.bytes.size(), 2 * sizeof one) << "no shape was added: the name dialog took no key";
        CWnd_PresetsManagerModel::SHAPESETREC added{};
        std::memcpy(&added, store.bytes.data() + sizeof one, sizeof added);
        EXPECT_NE(std::string(added.name).find("Zq"), std::string::npos) << added.name;
        w.Close();
        qnui::Toolkit::Get().PumpFor(100);
        CQNF_PlatformFileDialog::SetAppRootFolder(FSRef{});
        m_App = nullptr;
    }
    std::filesystem::remove_all(dir);
    qnui::Toolkit::Get().Attach(nullptr);
}

TEST(ShapeFilesGui, SaveAndLoadThroughTheRealFileDialogs)
{
    std::string error;
    std::unique_ptr<plat::Platform> platform = plat::OpenGtk(error);
    ASSERT_TRUE(platform) << error;
    qnui::Toolkit::Get().Attach(platform.get());
    const std::string dir = ::testing::TempDir() + "tessolo_shapes_gui_" + std::to_string(::getpid());
    std::filesystem::create_directories(dir);
    {
        CQNF_App app;
        m_App = &app;
        CDialogHost host;
        // The dialogs open in the "shapes" folder of the plug-in's folder.
        std::filesystem::create_directories(dir + "/shapes");
        CQNF_PlatformFileDialog::SetAppRootFolder(FSRef{dir});
        CWnd_CutterModel::SPLINE_STRUCT shape{};
        CWnd_CutterModel::SetDefaultKnife(&shape);
        shape.pos[2].H = -0.4;
        AnswerFileDialog("Save Knife Shape As...", "");
        EXPECT_TRUE(DoSaveShapeFile(nullptr, host, shape));
        EXPECT_TRUE(std::filesystem::exists(dir + "/shapes/Untitled.qnth"));
        CWnd_CutterModel::SPLINE_STRUCT back{};
        AnswerFileDialog("Load Knife Shape...", "Untitled.qnth");
        EXPECT_TRUE(DoLoadShapeFile(nullptr, host, back));
        EXPECT_TRUE(qnSameShapeValues(back, shape));
        CQNF_PlatformFileDialog::SetAppRootFolder(FSRef{});
        m_App = nullptr;
    }
    std::filesystem::remove_all(dir);
    qnui::Toolkit::Get().Attach(nullptr);
}

}  // namespace
