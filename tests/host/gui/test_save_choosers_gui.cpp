// Every save chooser of every window refuses what the command line refuses,
// through the real tessolo-host and GTK's own file chooser, by real keys:
// a file the run reads (the picture, the selection, a layer, the
// descriptor, the plug-in's library and the files of its folder: window
// backend, skin, help document, preferences, presets store, last
// settings), a link to the picture, a read-only file, a FIFO and a device,
// the run's OUTPUT that Apply will write, and a name whose ending says
// another format; the PNG files' chooser a link of the series to the
// picture, a read-only folder, and a name of the series (with either
// naming) that is a read-only file, a FIFO, a socket or a folder, while the
// merged picture alone is judged as the one file it is. Each refusal is a
// box over the chooser with one line on standard error naming the file and
// why; the chooser stays open for the next name and nothing changes. Every
// name goes to one chooser of each way of asking (the gate's own question,
// and a window's question passed to the chooser); the others get one name
// of each kind of refusal. The pieces' chooser, which needs the pieces cut,
// has a run of its own. And the dialog's descriptor is judged before the
// window opens.
#include "gui_drive.h"

#include "platform/Platform.h"

#include <sys/stat.h>

#include <utility>

namespace {

using namespace guidrive;

std::string ReadAll(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
}

// A name offered to a chooser, and the start of the line it is refused
// with: the file it names and the reason.
struct Offer {
    std::string path, refusal;
};

// What a path is now, to tell that nothing replaced it: its kind, mode and
// link target, and for a regular file its bytes.
std::string Fingerprint(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return "absent";
    std::string print = std::to_string(st.st_mode);
    if (S_ISLNK(st.st_mode))
        print += " -> " + std::filesystem::read_symlink(path).string();
    else if (S_ISREG(st.st_mode))
        print += " " + ReadAll(path);
    return print;
}

// The files a dialog run reads, and a few more no writer may take.
struct Refusals {
    PluginFolder plugin;
    std::string photo = plugin.File("photo.png"), selection = plugin.File("sel.png"),
                layer = plugin.File("layers.psd"), descriptor = plugin.File("job.qnds"),
                errFile = plugin.File("host.err");
    std::vector<Offer> offers;
    std::map<std::string, std::string> before;

    Refusals()
    {
        std::filesystem::copy_file(kSample, photo);
        std::filesystem::copy_file(kSample, selection);
        std::filesystem::copy_file(std::string(TESSOLO_BUNDLE_DIR) + "/Quorvin Tessolo 3.1 Help.pdf",
                                   plugin.File("Quorvin Tessolo 3.1 Help.pdf"));
        // A layered picture of the photo's size, made by a replay, which
        // also leaves the plug-in's preferences.
        EXPECT_EQ(std::system((std::string(TESSOLO_MKDESC_FILE) + " --grid 3x2 '" + descriptor + "' >/dev/null").c_str()),
                  0);
        EXPECT_EQ(WaitExit(Spawn({"--descriptor", descriptor, kSample, layer}, plugin.path), 120000), 0);
        std::ofstream(plugin.File("readonly.qntd")) << "kept";
        ::chmod(plugin.File("readonly.qntd").c_str(), 0444);
        EXPECT_EQ(::mkfifo(plugin.File("fifo.eps").c_str(), 0644), 0);
        std::filesystem::create_symlink(photo, plugin.File("link.psd"));
        auto input = [](const std::string& path, const std::string& read, const std::string& what = "the input") {
            return Offer{path, "cannot write " + path + ": it would write over " + what + " " + read + ";"};
        };
        for (const std::string& in : {photo, selection, layer, descriptor})
            offers.push_back(input(in, in));
        // The plug-in's library and the files of its folder, its own
        // settings and presets store among them ("last.data" is not there
        // yet, and is no less the plug-in's), each named as what it is.
        const std::pair<const char*, const char*> own[] = {
            {"Tessolo.so", "the plug-in's library"},
            {"tessolo_gtk.so", "the plug-in's window backend"},
            {"resource_ts31_d.qns4", "the plug-in's skin"},
            {"Quorvin Tessolo 3.1 Help.pdf", "the plug-in's help guide"},
            {"plugin.conf", "the plug-in's settings"},
            {"ckss.data", "the plug-in's settings"},
            {"last.data", "the plug-in's settings"}};
        for (const auto& [name, what] : own)
            offers.push_back(input(plugin.File(name), plugin.File(name), what));
        offers.push_back(input(plugin.File("link.psd"), photo));
        offers.push_back({plugin.File("readonly.qntd"), "cannot write " + plugin.File("readonly.qntd") +
                                                            ": the file has no write permission"});
        offers.push_back({plugin.File("fifo.eps"), "cannot write " + plugin.File("fifo.eps") +
                                                       ": a FIFO, not a regular file (name a file)"});
        offers.push_back({"/dev/null", "cannot write /dev/null: a device, not a regular file (name a file)"});
        // The run's OUTPUT, not there yet: Apply writes it at the end, over
        // whatever a chooser had put there.
        offers.push_back({Output(), "cannot write " + Output() + ": it would write over " + Output() + ", the output"});
        // A name whose ending says another format than the one written.
        offers.push_back({plugin.File("misnamed.png"), "cannot write " + plugin.File("misnamed.png") +
                                                           ": the name must end in ."});
    }
    std::string Output() const { return plugin.File("out.png"); }
    // One offer of each way a name is refused: a file the run reads, one
    // of the plug-in's own, a link to the picture, the run's OUTPUT and
    // another format's ending. Every name is offered to one chooser of each
    // kind (Save Document asks the gate, Export Knives passes its own
    // question to the same chooser); a chooser that shares its check with
    // one of those shows with these that it asks that check.
    std::vector<Offer> Few() const
    {
        std::vector<Offer> few;
        for (const Offer& o : offers)
            if (o.path == photo || o.path == plugin.File("ckss.data") || o.path == plugin.File("link.psd") ||
                o.path == Output() || o.path == plugin.File("misnamed.png"))
                few.push_back(o);
        return few;
    }
    pid_t Start()
    {
        return Spawn({"--dialog", "--selection", selection, "--add-layer", layer, "--descriptor", descriptor, photo,
                      Output()},
                     plugin.path, errFile);
    }
    // Takes what every offered path is now.
    // The preferences the plug-in rewrites for itself while its windows
    // move and its export settings change: they must still be its own.
    std::string Preferences() const { return plugin.File("plugin.conf"); }
    void Remember()
    {
        for (const Offer& o : offers)
            if (o.path != Preferences())
                before[o.path] = Fingerprint(o.path);
    }
    void ExpectUnchanged() const
    {
        for (const auto& [path, print] : before)
            EXPECT_TRUE(Fingerprint(path) == print) << path << " changed";
        EXPECT_EQ(ReadAll(Preferences()).substr(0, 5), "QNCPS") << "the preferences were written over";
    }
};

// The host's run, killed at the end of a test that failed on the way.
struct HostRun {
    pid_t pid;
    ~HostRun()
    {
        if (pid > 0)
            WaitExit(pid, 0);
    }
    int Wait(int ms) { return WaitExit(std::exchange(pid, 0), ms); }
};

// The dialog over the refusals' files, and its two windows.
struct DialogRun {
    HostRun host;
    Geometry main, editor;
    explicit DialogRun(Refusals& r) : host{r.Start()}, main(FindWindow("Main")), editor(FindWindow("Cutter")) {}
    bool Open() const { return !main.id.empty() && !editor.id.empty(); }
};

// xdotool with these arguments, at once: what it does is waited for by the
// caller.
void XdoNow(const std::string& args) { ASSERT_EQ(std::system(("xdotool " + args).c_str()), 0) << args; }

// The id of the visible window with this title; empty when none came
// within ms (0: now).
std::string AwaitWindow(const std::string& title, int ms)
{
    for (int waited = 0;; waited += 100) {
        const std::string ids = Capture("xdotool search --onlyvisible --name '^" + title + "$'");
        if (!ids.empty())
            return ids.substr(0, ids.find('\n'));
        if (waited >= ms)
            return {};
        Sleep(100);
    }
}

// The lines of the run's standard error that tell a refused name.
std::vector<std::string> RefusalLines(const std::string& errFile)
{
    std::vector<std::string> lines;
    std::istringstream err(ReadAll(errFile));
    const std::string head = std::string(plat::kRefusedSaveTitle) + ": ";
    for (std::string line; std::getline(err, line);)
        if (line.rfind(head, 0) == 0)
            lines.push_back(line.substr(head.size()));
    return lines;
}

// Offers each path to the open save chooser `title`: each brings the
// refusal box over it, with one line on standard error naming the file and
// the reason; the box is dismissed with Return, and the chooser stays open
// for the next. The chooser is cancelled at the end. shot names a picture
// of the first box over the chooser (TESSOLO_SNAPSHOT_DIR).
void RefuseEach(const std::string& title, const std::vector<Offer>& offers, const std::string& errFile,
                const char* shot)
{
    const Geometry dialog = FindWindow(title);
    ASSERT_FALSE(dialog.id.empty()) << title << " did not open";
    // A chooser just opened may still be filling its list and placing its
    // focus: the first keys wait for it to be still.
    WaitStill(dialog, Temp("chooser.png"));
    for (const Offer& o : offers) {
        SCOPED_TRACE(title + " offered " + o.path);
        const size_t told = RefusalLines(errFile).size();
        XdoNow("windowfocus --sync " + dialog.id + " key ctrl+a type --delay 2 '" + o.path + "'");
        // The name line's completion list may come up meanwhile and take a
        // Return for itself: while no refusal was told and the chooser is
        // open, Return is pressed again.
        std::string box;
        for (int i = 0; i < 10 && box.empty() && !AwaitWindow(title, 0).empty(); ++i) {
            if (RefusalLines(errFile).size() == told)
                XdoNow("key Return");
            box = AwaitWindow(plat::kRefusedSaveTitle, 3000);
        }
        ASSERT_FALSE(box.empty()) << (AwaitWindow(title, 0).empty() ? "the chooser took the name"
                                                                     : "no refusal came");
        const std::vector<std::string> lines = RefusalLines(errFile);
        ASSERT_EQ(lines.size(), told + 1);
        EXPECT_EQ(lines.back().substr(0, o.refusal.size()), o.refusal);
        if (shot) {
            Snapshot(shot);
            shot = nullptr;
        }
        // The box may get its key before it can take one: it is pressed
        // again until the box goes.
        for (int i = 0; i < 10 && !AwaitWindow(plat::kRefusedSaveTitle, 0).empty(); ++i) {
            XdoNow("windowfocus --sync " + box + " key Return");
            WaitGone(plat::kRefusedSaveTitle, 3000);
        }
        ASSERT_TRUE(WaitGone(plat::kRefusedSaveTitle, 1000)) << "the box stayed";
        ASSERT_FALSE(AwaitWindow(title, 0).empty()) << "the chooser closed";
    }
    Xdo("windowfocus --sync " + dialog.id + " key Escape");
    EXPECT_TRUE(WaitGone(title, 30000)) << title << " stayed open";
}

}  // namespace

TEST(SaveChoosersGui, EveryChooserRefusesTheRunsFilesAndKeepsOpen)
{
    Refusals r;
    DialogRun run(r);
    ASSERT_TRUE(run.Open()) << "the windows did not open";
    HostRun& host = run.host;
    const Geometry &main = run.main, &editor = run.editor;

    // A shape in the presets store (which makes "ckss.data"), for the
    // shape set Save below.
    Xdo("windowraise " + editor.id);
    ClickControl(editor, "Cutter", "Cutter_AddToPM");
    const Geometry name = FindWindow("ShapeName", 60000);
    ASSERT_FALSE(name.id.empty());
    Xdo("windowfocus --sync " + name.id);
    ClickControl(name, "ShapeName", "ShapeName_Name");
    Xdo("key ctrl+a type --delay 20 'Kept Knife'");
    ClickControl(name, "ShapeName", "ShapeName_Ok");
    ASSERT_TRUE(WaitGone("ShapeName", 60000));
    ASSERT_TRUE(WaitFile(r.plugin.File("ckss.data"), 60000)) << "the presets store was not written";
    r.Remember();

    // Main › Save document.
    Xdo("windowfocus --sync " + main.id + " key ctrl+s");
    RefuseEach("Save Document...", r.offers, r.errFile, "gui_refused_document.png");
    if (HasFatalFailure())
        return;

    // The knife editor's shape Save, from its menu.
    Xdo("windowraise " + editor.id);
    ClickControl(editor, "Cutter", "Cutter_Save");
    for (int i = 0; i < 20 && FindWindow("Save Knife Shape As...", 1500).id.empty(); ++i)
        Xdo("key Down Return");
    RefuseEach("Save Knife Shape As...", r.Few(), r.errFile, "gui_refused_shape.png");
    if (HasFatalFailure())
        return;

    // The shape set Save of the presets manager, with the shape picked.
    Xdo("windowraise " + editor.id);
    ClickControl(editor, "Cutter", "Cutter_Presets");
    const Geometry presets = FindWindow("PresMng", 60000);
    ASSERT_FALSE(presets.id.empty());
    Xdo("windowfocus --sync " + presets.id);
    Click(presets, 80, 40 + 2 + 8);
    ClickControl(presets, "PresMng", "PresMng_SaveSet");
    RefuseEach("Save Set As...", r.Few(), r.errFile, "gui_refused_shape_set.png");
    if (HasFatalFailure())
        return;
    ClickControl(presets, "PresMng", "PresMng_Done");
    ASSERT_TRUE(WaitGone("PresMng", 60000));

    // Export Knives.
    Xdo("windowraise " + main.id);
    ClickControl(main, "Main", "Main_Export");
    const Geometry knives = FindWindow("ExportLM", 60000);
    ASSERT_FALSE(knives.id.empty());
    ClickControl(knives, "ExportLM", "ExportLM_All");
    ClickControl(knives, "ExportLM", "ExportLM_Export");
    RefuseEach("Export Knives As...", r.offers, r.errFile, "gui_refused_knives.png");
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(WaitGone("ExportLM", 60000));

    // Nothing was written while the choosers were open, the plug-in's own
    // files included.
    r.ExpectUnchanged();
    EXPECT_FALSE(std::filesystem::exists(r.Output()));
    ClickControl(main, "Main", "Main_Cancel");
    EXPECT_EQ(host.Wait(60000), 1);
    EXPECT_EQ(RefusalLines(r.errFile).size(), 2 * r.offers.size() + 2 * r.Few().size());
}

// Export Pieces, to a layered PSD and to PNG files, once the pieces are
// cut. A series writes no file of the name given, but files named after
// it: it refuses a folder it may not write in and a file of its names that
// links to the picture.
TEST(SaveChoosersGui, ThePiecesChooserJudgesEveryFileOfTheSeries)
{
    Refusals r;
    DialogRun run(r);
    ASSERT_TRUE(run.Open()) << "the windows did not open";
    HostRun& host = run.host;
    const Geometry &main = run.main, &editor = run.editor;
    r.Remember();
    Xdo("windowraise " + editor.id);
    ClickControl(editor, "Cutter", "Cutter_Cut");
    ASSERT_TRUE(WaitGone("Cutter", 300000));
    // The Export window with these choices clicked, then its chooser.
    auto openPiecesChooser = [&](const std::vector<const char*>& choices) {
        Xdo("windowraise " + main.id);
        ClickControl(main, "Main", "Main_Export");
        const Geometry dialog = FindWindow("Export", 60000);
        ASSERT_FALSE(dialog.id.empty());
        for (const char* choice : choices)
            ClickControl(dialog, "Export", choice);
        ClickControl(dialog, "Export", "Export_Export");
    };
    auto exportPieces = [&](const std::vector<const char*>& choices, const std::vector<Offer>& offers,
                            const char* shot) {
        openPiecesChooser(choices);
        if (HasFatalFailure())
            return;
        RefuseEach("Export Pieces As...", offers, r.errFile, shot);
        if (!HasFatalFailure()) {
            ASSERT_TRUE(WaitGone("Export", 60000));
        }
    };
    exportPieces({"Export_All", "Export_ToPSD"}, r.Few(), "gui_refused_pieces_psd.png");
    if (HasFatalFailure())
        return;
    const std::string link = r.plugin.File("piece_0001.png"), folder = r.plugin.File("ro");
    std::filesystem::create_symlink(r.photo, link);
    // A hard link of a series name (the first of the six pieces cut here)
    // is told in the chooser too, not after the render; a FIFO named as the
    // series' base gets no files beside it.
    const std::string hard = r.plugin.File("hard_F0001-Piece0_R1_C1.png"), fifo = r.plugin.File("pipe.png");
    std::filesystem::create_hard_link(r.photo, hard);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    std::filesystem::create_directory(folder);
    ::chmod(folder.c_str(), 0555);
    // A name of the series, with either naming, that no file can be
    // written over: a read-only file, a FIFO, a socket, a folder.
    const auto seriesName = [&r](const char* base, bool extended) {
        return r.plugin.File(std::string(base) + (extended ? "_F0001-Piece0_R1_C1.png" : "_0001.png"));
    };
    const std::string readOnly = seriesName("kept", true), fifoName = seriesName("pipes", true),
                      socketName = seriesName("sock", true), folderName = seriesName("dir", true),
                      simpleReadOnly = seriesName("simple", false);
    for (const std::string& kept : {readOnly, simpleReadOnly}) {
        std::ofstream(kept) << "kept";
        ::chmod(kept.c_str(), 0444);
    }
    ASSERT_EQ(::mkfifo(fifoName.c_str(), 0644), 0);
    ASSERT_EQ(::mknod(socketName.c_str(), S_IFSOCK | 0644, 0), 0);
    std::filesystem::create_directory(folderName);
    exportPieces({"Export_All", "Export_ToPNG", "Export_NamingExtended"},
                 {{r.plugin.File("piece.png"), "cannot write " + link + ": it would write over the input " + r.photo + ";"},
                  {r.plugin.File("hard.png"), "cannot write " + hard + ": it would write over the input " + r.photo + ";"},
                  {fifo, "cannot write " + fifo + ": a FIFO"},
                  {folder + "/piece.png", "cannot write " + folder + ": the folder has no write permission"},
                  {r.plugin.File("kept.png"), "cannot write " + readOnly + ": the file has no write permission"},
                  {r.plugin.File("pipes.png"), "cannot write " + fifoName + ": a FIFO"},
                  {r.plugin.File("sock.png"), "cannot write " + socketName + ": a socket"},
                  {r.plugin.File("dir.png"), "cannot write " + folderName + ": "}},
                 "gui_refused_pieces_png.png");
    if (HasFatalFailure())
        return;
    // Simple names are judged as they will be written; the series' ending
    // is the format's own.
    exportPieces({"Export_All", "Export_ToPNG", "Export_NamingSimple"},
                 {{r.plugin.File("simple.png"), "cannot write " + simpleReadOnly + ": the file has no write permission"},
                  {r.plugin.File("layers.psd"), "cannot write " + r.plugin.File("layers.psd") +
                                                    ": the name must end in .png, the format it is written in"}},
                 nullptr);
    if (HasFatalFailure())
        return;
    // The merged picture alone is one file: the run's OUTPUT is refused as
    // it is by every chooser, and a link onto another disk is written
    // through, as any single file is.
    exportPieces({"Export_Merged", "Export_ToPNG"},
                 {{r.Output(), "cannot write " + r.Output() + ": it would write over " + r.Output() + ", the output"}},
                 nullptr);
    if (HasFatalFailure())
        return;
    struct stat here {}, shm {};
    const std::string away = "/dev/shm/save_choosers_merged_" + std::to_string(::getpid()) + ".png";
    const bool otherDisk = ::stat(r.plugin.path.c_str(), &here) == 0 && ::stat("/dev/shm", &shm) == 0 &&
                           here.st_dev != shm.st_dev;
    if (otherDisk) {
        const std::string merged = r.plugin.File("merged.png");
        std::filesystem::create_symlink(away, merged);
        openPiecesChooser({"Export_Merged", "Export_ToPNG"});
        if (HasFatalFailure())
            return;
        const size_t told = RefusalLines(r.errFile).size();
        const std::string title = "Export Pieces As...";
        const Geometry chooser = FindWindow(title);
        ASSERT_FALSE(chooser.id.empty());
        WaitStill(chooser, Temp("chooser.png"));
        XdoNow("windowfocus --sync " + chooser.id + " key ctrl+a type --delay 8 '" + merged + "'");
        // The chooser asks whether to replace what the link names (its
        // question takes the next Return); a Return may also go to the name
        // line's completion first: pressed while the chooser is open.
        for (int i = 0; i < 10 && !AwaitWindow(title, 0).empty(); ++i) {
            XdoNow("key Return");
            WaitGone(title, 3000);
        }
        ASSERT_TRUE(WaitGone(title, 1000)) << "the chooser did not take the link";
        ASSERT_TRUE(WaitGone("Export", 60000));
        EXPECT_EQ(RefusalLines(r.errFile).size(), told) << "refused: " << RefusalLines(r.errFile).back();
        const auto isPng = [&away] { return ReadAll(away).rfind("\x89PNG", 0) == 0; };
        for (int waited = 0; waited < 120000 && !isPng(); waited += 200)
            Sleep(200);
        EXPECT_TRUE(isPng()) << "the merged picture was not written through the link";
        EXPECT_EQ(std::filesystem::read_symlink(merged), away);
        std::remove(away.c_str());
    }
    // Nothing was written while the choosers were open, the plug-in's own
    // files included.
    r.ExpectUnchanged();
    EXPECT_EQ(std::filesystem::read_symlink(link), r.photo);
    EXPECT_TRUE(std::filesystem::is_empty(folder));
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
    EXPECT_FALSE(std::filesystem::exists(r.plugin.File("pipe_F0001-Piece0_R1_C1.png")));
    EXPECT_FALSE(std::filesystem::exists(r.Output()));
    EXPECT_TRUE(std::filesystem::is_fifo(fifoName));
    EXPECT_TRUE(std::filesystem::is_socket(socketName));
    EXPECT_TRUE(std::filesystem::is_empty(folderName));
    for (const std::string& kept : {readOnly, simpleReadOnly})
        EXPECT_EQ(ReadAll(kept), "kept");
    // No series was written beside the names it refused.
    for (const auto& entry : std::filesystem::directory_iterator(r.plugin.path)) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name.find("_F0002-") == std::string::npos && name.find("_0002.png") == std::string::npos) << name;
    }

    ClickControl(main, "Main", "Main_Cancel");
    EXPECT_EQ(host.Wait(60000), 1);
    EXPECT_EQ(RefusalLines(r.errFile).size(), r.Few().size() + 11);
}

// The descriptor that Apply would write is judged before the window opens,
// as OUTPUT is: one line, the host's error code, no window.
TEST(SaveChoosersGui, TheDialogsDescriptorIsJudgedBeforeTheWindowOpens)
{
    Refusals r;
    r.Remember();
    std::filesystem::create_symlink(r.plugin.File("readonly.qntd"), r.plugin.File("ro-link.qnds"));
    std::filesystem::create_symlink(r.plugin.File("Tessolo.so"), r.plugin.File("lib-link.qnds"));
    const std::string roFolder = r.plugin.File("ro");
    std::filesystem::create_directory(roFolder);
    ::chmod(roFolder.c_str(), 0555);
    // Each line names the descriptor and the reason.
    const struct {
        std::string descriptor, words;
    } cases[] = {{r.plugin.File("readonly.qntd"), "the file has no write permission"},
                 {r.plugin.File("ro-link.qnds"), "the file has no write permission"},
                 {r.plugin.File("nowhere/job.qnds"), "no such folder"},
                 {roFolder + "/job.qnds", "the folder has no write permission"},
                 {r.plugin.File("fifo.eps"), "a FIFO, not a regular file (name a file)"},
                 {"/dev/null", "a device, not a regular file (name a file)"},
                 {r.plugin.File("lib-link.qnds"), r.plugin.File("Tessolo.so")}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.descriptor);
        const pid_t pid = Spawn({"--dialog", "--descriptor", c.descriptor, r.photo, r.plugin.File("out.png")},
                                r.plugin.path, r.errFile);
        EXPECT_EQ(WaitExit(pid, 60000), 3);
        const std::string err = ReadAll(r.errFile);
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_EQ(err.rfind("tessolo-host: --descriptor", 0), 0u) << err;
        EXPECT_NE(err.find(c.descriptor + ": "), std::string::npos) << err;
        EXPECT_NE(err.find(c.words), std::string::npos) << err;
        EXPECT_FALSE(std::filesystem::exists(r.plugin.File("out.png")));
    }
    r.ExpectUnchanged();
    EXPECT_TRUE(std::filesystem::is_empty(roFolder));
}
