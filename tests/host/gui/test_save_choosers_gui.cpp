// Every save chooser of every window refuses what the command line refuses,
// through the real tessolo-host and GTK's own file chooser: a file the run
// reads (the picture, the selection, a layer, the descriptor, the
// plug-in's library, window backend, skin and help document), a link to the
// picture, a read-only file, a FIFO and a device. Each refusal is a box over
// the chooser, which stays open for the next name; no file changes. And the
// dialog's descriptor is judged before the window opens.
#include "gui_drive.h"

#include "platform/Platform.h"

#include <sys/stat.h>

namespace {

using namespace guidrive;

std::string ReadAll(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
}

// The files a dialog run reads, and a few more no writer may take.
struct Refusals {
    PluginFolder plugin;
    std::string photo = plugin.File("photo.png"), selection = plugin.File("sel.png"),
                layer = plugin.File("layers.psd"), descriptor = plugin.File("job.qnds"),
                errFile = plugin.File("host.err");
    std::vector<std::string> names;
    std::map<std::string, std::string> before;

    Refusals()
    {
        std::filesystem::copy_file(kSample, photo);
        std::filesystem::copy_file(kSample, selection);
        // A layered picture of the photo's size, made by a replay.
        EXPECT_EQ(std::system((std::string(TESSOLO_MKDESC_FILE) + " --grid 3x2 '" + descriptor + "' >/dev/null").c_str()),
                  0);
        EXPECT_EQ(WaitExit(Spawn({"--descriptor", descriptor, kSample, layer}, plugin.path), 120000), 0);
        std::ofstream(plugin.File("readonly.qntd")) << "kept";
        ::chmod(plugin.File("readonly.qntd").c_str(), 0444);
        EXPECT_EQ(::mkfifo(plugin.File("fifo.eps").c_str(), 0644), 0);
        std::filesystem::create_symlink(photo, plugin.File("link.psd"));
        names = {photo,
                 selection,
                 layer,
                 descriptor,
                 plugin.File("Tessolo.so"),
                 plugin.File("tessolo_gtk.so"),
                 plugin.File("resource_ts31_d.qns4"),
                 plugin.File("Quorvin Tessolo 3.1 Help.pdf"),
                 plugin.File("link.psd"),
                 plugin.File("readonly.qntd"),
                 plugin.File("fifo.eps"),
                 "/dev/null"};
        for (const std::string& n : names)
            if (n != plugin.File("fifo.eps") && n != "/dev/null")
                before[n] = ReadAll(n);
    }
    pid_t Start()
    {
        return Spawn({"--dialog", "--selection", selection, "--add-layer", layer, "--descriptor", descriptor, photo,
                      plugin.File("out.png")},
                     plugin.path, errFile);
    }
    void ExpectUnchanged() const
    {
        for (const auto& [name, bytes] : before)
            EXPECT_TRUE(ReadAll(name) == bytes) << name << " changed";
        EXPECT_EQ(std::filesystem::status(plugin.File("fifo.eps")).type(), std::filesystem::file_type::fifo);
    }
};

// Offers each path to the open save chooser `title`: each brings the
// refusal box over it, dismissed with Return, and the chooser stays open
// for the next. The chooser is cancelled at the end.
void RefuseEach(const std::string& title, const std::vector<std::string>& paths, const char* shot = nullptr)
{
    const Geometry dialog = FindWindow(title);
    ASSERT_FALSE(dialog.id.empty()) << title << " did not open";
    const std::string grab = Temp("chooser.png");
    for (const std::string& p : paths) {
        Xdo("windowfocus --sync " + dialog.id);
        Xdo("key ctrl+a type --delay 10 '" + p + "'");
        WaitStill(dialog, grab);
        Xdo("key Return");
        const Geometry box = FindWindow(plat::kRefusedSaveTitle, 30000);
        ASSERT_FALSE(box.id.empty()) << title << " took " << p;
        if (shot) {
            Snapshot(shot);
            shot = nullptr;
        }
        Xdo("windowfocus --sync " + box.id + " key Return");
        ASSERT_TRUE(WaitGone(plat::kRefusedSaveTitle, 30000));
        ASSERT_FALSE(Capture("xdotool search --onlyvisible --name '^" + title + "$'").empty())
            << title << " closed after " << p;
    }
    Xdo("windowfocus --sync " + dialog.id + " key Escape");
    EXPECT_TRUE(WaitGone(title, 30000)) << title << " stayed open";
}

// The host's standard error has the box's line for each path.
void ExpectBoxLines(const std::string& errFile, const std::vector<std::string>& paths, size_t times)
{
    const std::string err = ReadAll(errFile);
    for (const std::string& p : paths) {
        size_t n = 0;
        for (size_t at = 0; (at = err.find(std::string(plat::kRefusedSaveTitle) + ": cannot write " + p + ":", at)) !=
                            std::string::npos;
             ++at)
            ++n;
        EXPECT_EQ(n, times) << p << "\n" << err;
    }
}

void ClickIn(const Geometry& main, const std::string& window, const std::string& control)
{
    Xdo("windowraise " + main.id);
    ClickControl(main, window, control);
}

}  // namespace

TEST(SaveChoosersGui, EveryChooserRefusesTheRunsFilesAndKeepsOpen)
{
    Refusals r;
    const pid_t pid = r.Start();
    const Geometry main = FindWindow("Main");
    const Geometry editor = FindWindow("Cutter");
    ASSERT_FALSE(main.id.empty() || editor.id.empty()) << "the windows did not open";

    // Main › Save document.
    Xdo("windowfocus --sync " + main.id + " sleep 0.3 key ctrl+s");
    RefuseEach("Save Document...", r.names, "gui_refused_save_box.png");

    // The knife editor's shape Save, from its menu.
    Xdo("windowraise " + editor.id);
    ClickControl(editor, "Cutter", "Cutter_Save");
    for (int i = 0; i < 20 && FindWindow("Save Knife Shape As...", 1500).id.empty(); ++i)
        Xdo("key Down Return");
    RefuseEach("Save Knife Shape As...", r.names);

    // The shape set Save of the presets manager, with a shape in its list.
    Xdo("windowraise " + editor.id);
    ClickControl(editor, "Cutter", "Cutter_AddToPM");
    const Geometry name = FindWindow("ShapeName", 60000);
    ASSERT_FALSE(name.id.empty());
    ClickControl(name, "ShapeName", "ShapeName_Name");
    Xdo("key ctrl+a type --delay 20 'Kept Knife'");
    ClickControl(name, "ShapeName", "ShapeName_Ok");
    ASSERT_TRUE(WaitGone("ShapeName", 60000));
    Xdo("windowraise " + editor.id);
    ClickControl(editor, "Cutter", "Cutter_Presets");
    const Geometry presets = FindWindow("PresMng", 60000);
    ASSERT_FALSE(presets.id.empty());
    Click(presets, 80, 40 + 2 + 8);
    ClickControl(presets, "PresMng", "PresMng_SaveSet");
    RefuseEach("Save Set As...", r.names);
    ClickControl(presets, "PresMng", "PresMng_Done");
    ASSERT_TRUE(WaitGone("PresMng", 60000));

    // Export Knives.
    ClickIn(main, "Main", "Main_Export");
    const Geometry knives = FindWindow("ExportLM", 60000);
    ASSERT_FALSE(knives.id.empty());
    ClickControl(knives, "ExportLM", "ExportLM_All");
    ClickControl(knives, "ExportLM", "ExportLM_Export");
    RefuseEach("Export Knives As...", r.names);

    // Export Pieces, to a layered PSD and to PNG files: a series refuses a
    // folder it cannot write in and a link of its names to the picture.
    Xdo("windowraise " + editor.id);
    ClickControl(editor, "Cutter", "Cutter_Cut");
    ASSERT_TRUE(WaitGone("Cutter", 300000));
    auto exportPieces = [&](const char* format, const std::vector<std::string>& paths) {
        ClickIn(main, "Main", "Main_Export");
        const Geometry dialog = FindWindow("Export", 60000);
        ASSERT_FALSE(dialog.id.empty());
        ClickControl(dialog, "Export", "Export_All");
        ClickControl(dialog, "Export", format);
        ClickControl(dialog, "Export", "Export_Export");
        RefuseEach("Export Pieces As...", paths);
        ASSERT_TRUE(WaitGone("Export", 60000));
    };
    exportPieces("Export_ToPSD", r.names);
    std::filesystem::create_symlink(r.photo, r.plugin.File("piece_1.png"));
    const std::vector<std::string> series = {r.plugin.File("piece.png"), r.plugin.File("nowhere/piece.png")};
    exportPieces("Export_ToPNG", series);

    ClickControl(main, "Main", "Main_Cancel");
    EXPECT_EQ(WaitExit(pid, 60000), 1);
    ExpectBoxLines(r.errFile, r.names, 5);
    r.ExpectUnchanged();
    const std::string err = ReadAll(r.errFile);
    EXPECT_NE(err.find(r.plugin.File("piece_1.png") + ": "), std::string::npos) << err;
    EXPECT_NE(err.find(r.plugin.File("nowhere")), std::string::npos) << err;
}

// The descriptor that Apply would write is judged before the window opens,
// as OUTPUT is: one line, the host's error code, no window.
TEST(SaveChoosersGui, TheDialogsDescriptorIsJudgedBeforeTheWindowOpens)
{
    Refusals r;
    std::filesystem::create_symlink(r.plugin.File("readonly.qntd"), r.plugin.File("ro-link.qnds"));
    std::filesystem::create_symlink(r.plugin.File("Tessolo.so"), r.plugin.File("lib-link.qnds"));
    const struct {
        std::string descriptor, words;
    } cases[] = {{r.plugin.File("readonly.qntd"), "read-only"},
                 {r.plugin.File("ro-link.qnds"), "read-only"},
                 {r.plugin.File("nowhere/job.qnds"), "no such folder"},
                 {r.plugin.File("fifo.eps"), "FIFO"},
                 {"/dev/null", "not a regular file"},
                 {r.plugin.File("lib-link.qnds"), "Tessolo.so"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.descriptor);
        const pid_t pid = Spawn({"--dialog", "--descriptor", c.descriptor, r.photo, r.plugin.File("out.png")},
                                r.plugin.path, r.errFile);
        EXPECT_EQ(WaitExit(pid, 60000), 3);
        const std::string err = ReadAll(r.errFile);
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_NE(err.find("--descriptor"), std::string::npos) << err;
        EXPECT_NE(err.find(c.words), std::string::npos) << err;
        EXPECT_FALSE(std::filesystem::exists(r.plugin.File("out.png")));
    }
    r.ExpectUnchanged();
}
