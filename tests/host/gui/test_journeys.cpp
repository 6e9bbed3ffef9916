// Whole journeys through the real programs as a person makes them: the host
// started with the dialog on a photo, every step a real click or key press
// on the windows, and what is checked is what the person gets: files on disk
// and pictures of the windows. Each journey saves its screens as PNG files in
// TESSOLO_JOURNEY_DIR (the build tree's "journeys" folder), named after the
// journey and the step.
#include "gui_drive.h"
#include "tests/need_program.h"

#include "cutter/CutterEditor.h"

#include <fstream>
#include <iostream>
#include <iterator>
#include <regex>
#include <set>

namespace {

using namespace guidrive;

// The screen as a PNG file of the journeys' folder; the folder is named in
// the test output once.
void Shot(const std::string& name)
{
    const char* dir = std::getenv("TESSOLO_JOURNEY_DIR");
    if (!dir || !*dir)
        return;
    static bool told = false;
    if (!told) {
        std::filesystem::create_directories(dir);
        std::cout << "journey screenshots: " << dir << std::endl;
        told = true;
    }
    // A loaded machine may still be painting.
    Sleep(1200);
    if (std::system(("import -window root " + std::string(dir) + "/" + name + ".png").c_str()) != 0)
        ADD_FAILURE() << "no screenshot " << name;
}

std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The names of the knife shapes a shape file, shape set or presets store
// holds, as tessolo-tool reads them; empty for none or an unreadable file.
std::vector<std::string> ShapeNames(const std::string& file)
{
    std::vector<std::string> names;
    std::istringstream out(Capture(std::string(TESSOLO_TOOL_FILE) + " shapes ls '" + file + "'"));
    const std::regex row(R"re(^\s+\d+\s+"(.*)"\s+\d+ nodes$)re");
    std::smatch m;
    for (std::string line; std::getline(out, line);)
        if (std::regex_match(line, m, row))
            names.push_back(m[1]);
    return names;
}

// The layers psd-tools sees in a PSD file; -1 when it could not read it.
int PsdLayerCount(const std::string& file)
{
    const std::string out =
        Capture("/usr/bin/python3 -c 'import sys; from psd_tools import PSDImage; "
                "print(len(list(PSDImage.open(sys.argv[1]).descendants())))' '" +
                file + "'");
    return out.empty() ? -1 : std::atoi(out.c_str());
}

// A journey's own folder with a plug-in folder of its own in it ("plugin"),
// removed at the end unless the journey failed (its pictures stay for a look).
struct Journey {
    std::string dir = UniqueFolder();
    std::string bundle = dir + "/plugin";
    Journey()
    {
        EXPECT_FALSE(dir.empty());
        std::filesystem::create_directories(bundle);
        CopyBundle(bundle);
    }
    ~Journey()
    {
        if (!::testing::Test::HasFailure())
            std::filesystem::remove_all(dir);
    }
    std::string File(const std::string& name) const { return dir + "/" + name; }
};

// The host with the dialog on photo: the main window and the knife editor
// (brought to the front, as nothing else keeps it above the main window).
struct Session {
    pid_t pid = -1;
    Geometry main, editor;
    // Where the host's standard error goes, when named before Start.
    std::string errFile;
    Session() = default;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    // A journey that stopped half-way leaves no windows for the next one.
    ~Session()
    {
        if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    // The exit code of the host, once it ended within ms.
    int Exit(int ms)
    {
        const int code = WaitExit(pid, ms);
        pid = -1;
        return code;
    }
    bool Start(const std::string& bundle, const std::string& photo, const std::string& out,
               const std::vector<std::string>& extra = {})
    {
        std::vector<std::string> args = {"--dialog", photo, out};
        args.insert(args.end(), extra.begin(), extra.end());
        pid = Spawn(args, bundle, errFile);
        main = FindWindow("Main");
        editor = FindWindow("Cutter");
        return !main.id.empty() && !editor.id.empty() && RaiseEditor();
    }
    // Without a window manager nothing keeps the editor above the main
    // window, which may come to the front when it takes the focus.
    bool RaiseEditor() const
    {
        const bool raised = std::system(("xdotool windowraise " + editor.id).c_str()) == 0;
        Sleep(300);
        return raised;
    }
    // A button of the knife editor, brought to the front first.
    void ClickEditor(const std::string& button) const
    {
        EXPECT_TRUE(RaiseEditor());
        ClickControl(editor, "Cutter", button);
    }
    // A shortcut of the main window.
    void MainKey(const std::string& key) const
    {
        Xdo("windowfocus --sync " + main.id + " sleep 0.3 key " + key);
    }
    void Cut()
    {
        ClickEditor("Cutter_Cut");
        EXPECT_TRUE(WaitGone("Cutter", 300000)) << "the knife editor stayed open";
    }
    // Cancel: the host ends with the cancel code.
    int Cancel()
    {
        ClickControl(main, "Main", "Main_Cancel");
        return Exit(60000);
    }
};

// The OK of an effect window (title `window`), pressed once the main
// window's pieces are rendered again (which takes a while on a large
// picture); false when the window did not go.
bool PressOk(const Session& s, const Geometry& g, const std::string& window, const std::string& button,
             const std::string& file)
{
    const auto [x, y] = Skin::Get().Centre(window, button);
    return PressOkOnceIdle(s.main, g, window, x, y, file, 300000);
}

// The knife editor's preview.
constexpr Area kEditorPreview{12, 118, 428, 354};

// The ids of the visible windows.
std::set<std::string> VisibleWindows()
{
    std::set<std::string> ids;
    std::istringstream out(Capture("xdotool search --onlyvisible --name '.*'"));
    for (std::string id; std::getline(out, id);)
        if (!id.empty())
            ids.insert(id);
    return ids;
}

// The message that came after a file of the dialog `title` was refused: a
// window not among `before` and not that dialog; pictured and answered with
// its OK (the skin's message box, or the system's alert).
void AnswerMessage(const std::set<std::string>& before, const std::string& title, const std::string& shot)
{
    std::string id, name;
    for (int waited = 0; waited < 60000 && id.empty(); waited += 200) {
        for (const std::string& w : VisibleWindows()) {
            if (before.count(w))
                continue;
            name = Capture("xdotool getwindowname " + w);
            if (!name.empty() && name.back() == '\n')
                name.pop_back();
            if (name != title) {
                id = w;
                break;
            }
        }
        if (id.empty())
            Sleep(200);
    }
    ASSERT_FALSE(id.empty()) << "no message came";
    Sleep(800);
    Shot(shot);
    if (name == "MessageBox") {
        Geometry box;
        box.id = id;
        ASSERT_TRUE(ReadPosition(box)) << "the message box has no place on the screen";
        // A lone OK stands on the right, where it stands beside Cancel.
        ClickControl(box, "MessageBox", "MessageBox_OKr");
    } else {
        Xdo("windowfocus --sync " + id + " sleep 0.3 key Return");
    }
    for (int waited = 0; waited < 60000 && VisibleWindows().count(id); waited += 200)
        Sleep(200);
    EXPECT_FALSE(VisibleWindows().count(id)) << "the message " << name << " stayed";
}

}  // namespace

// A hexagonal layout from the auto layout dialog saved as a document; the
// host started again loads it and shows the same knives, cuts, exports the
// pieces to a layered PSD and to PNG files, and Cancel leaves the host's
// picture as it was.
TEST(Journey, HexagonsSavedReopenedCutAndExported)
{
    NEED_PYTHON_MODULE("psd_tools", "python3-psd-tools");
    Journey j;
    const std::string photo = j.File("photo.png");
    std::filesystem::copy_file(kSample, photo);
    const std::string photoBytes = ReadBytes(photo);
    const std::string out = j.File("out.png");

    Session s;
    ASSERT_TRUE(s.Start(j.bundle, photo, out)) << "the windows did not open";
    const hostapp::RasterImage grid = GrabSettled(s.main, j.File("grid.png"));
    s.ClickEditor("Cutter_AutoLayout");
    const Geometry autoLayout = FindWindow("AutoLayout", 60000);
    ASSERT_FALSE(autoLayout.id.empty()) << "the auto layout dialog did not open";
    ClickControl(autoLayout, "AutoLayout", "AutoLayout_Hex");
    Shot("j2_auto_layout");
    ClickControl(autoLayout, "AutoLayout", "AutoLayout_Ok");
    ASSERT_TRUE(WaitGone("AutoLayout", 60000));
    const hostapp::RasterImage hex = GrabSettled(s.main, j.File("hex.png"));
    EXPECT_GT(PreviewDiff(grid, hex), 1000u) << "the hexagons did not reach the main window";
    Shot("j2_hexagons");
    s.MainKey("ctrl+s");
    SavePath("Save Document...", j.File("hex.qntd"));
    for (int i = 0; i < 600 && !std::filesystem::exists(j.File("hex.qntd")); ++i)
        Sleep(100);
    EXPECT_EQ(ReadBytes(j.File("hex.qntd")).substr(0, 6), "QNTS30");
    EXPECT_EQ(s.Cancel(), 1);

    // Again, from the start: the document brings the hexagons back.
    Session again;
    ASSERT_TRUE(again.Start(j.bundle, photo, out)) << "the windows did not open again";
    EXPECT_GT(PreviewDiff(hex, GrabSettled(again.main, j.File("fresh.png"))), 1000u)
        << "the hexagons were there before the document was loaded";
    again.MainKey("ctrl+l");
    OpenPath("Load Document...", j.File("hex.qntd"));
    ASSERT_TRUE(again.RaiseEditor());
    EXPECT_LT(SettleLike(again.main, hex, j.File("loaded.png")), 20u) << "the document did not bring the hexagons";
    Shot("j2_document_loaded");
    again.Cut();
    const hostapp::RasterImage pieces = GrabSettled(again.main, j.File("pieces.png"));
    Shot("j2_pieces");

    // All pieces, to a layered PSD and then to PNG files.
    auto exportAll = [&](const char* format, const std::string& path) {
        ClickControl(again.main, "Main", "Main_Export");
        const Geometry dialog = FindWindow("Export", 60000);
        ASSERT_FALSE(dialog.id.empty()) << "the export dialog did not open";
        ClickControl(dialog, "Export", "Export_All");
        ClickControl(dialog, "Export", format);
        Shot(std::string("j2_export_") + format);
        ClickControl(dialog, "Export", "Export_Export");
        SavePath("Export Pieces As...", path);
        ASSERT_TRUE(WaitGone("Export", 60000));
    };
    std::filesystem::create_directories(j.File("png"));
    exportAll("Export_ToPSD", j.File("pieces.psd"));
    exportAll("Export_ToPNG", j.File("png/piece.png"));
    // The export runs on with its progress in the status line: done when the
    // folder stops growing.
    auto countPngs = [&j] {
        size_t n = 0;
        for (const auto& f : std::filesystem::directory_iterator(j.File("png")))
            n += f.path().extension() == ".png";
        return n;
    };
    size_t pngs = 0;
    for (int waited = 0, still = 0; waited < 300000 && still < 10; waited += 500) {
        Sleep(500);
        const size_t now = countPngs();
        still = now == pngs && now > 0 ? still + 1 : 0;
        pngs = now;
    }
    EXPECT_LT(SettleLike(again.main, pieces, j.File("after_export.png"), 120000), 20u);
    // Hexagons on the 360 x 240 sample: more pieces than the plain 3 x 2 grid.
    EXPECT_GT(pngs, 6u);
    {
        const int layers = PsdLayerCount(j.File("pieces.psd"));
        // One layer a piece; a composite layer may come on top.
        EXPECT_GE(layers, int(pngs));
        EXPECT_LE(layers, int(pngs) + 1);
    }
    EXPECT_EQ(again.Cancel(), 1);
    EXPECT_FALSE(std::filesystem::exists(out)) << "Cancel wrote a picture";
    EXPECT_EQ(ReadBytes(photo), photoBytes) << "the host's picture changed";
}

// A knife shaped in the editor goes to the presets under a name; after a
// restart the presets manager holds it and gives it back to the editor; the
// presets are saved as a shape set, and a fresh plug-in folder takes the set
// in.
TEST(Journey, AKnifeShapeThroughThePresetsAndAShapeSet)
{
    Journey j;
    const std::string out = j.File("out.png");
    const std::string store = j.bundle + "/ckss.data";
    Session s;
    ASSERT_TRUE(s.Start(j.bundle, kSample, out));
    const hostapp::RasterImage plain = GrabSettled(s.editor, j.File("plain.png"), 30000, kEditorPreview);
    // Flip the knife, then drag the middle of its preview's knife downwards.
    s.ClickEditor("Cutter_FlipH");
    const int mx = (kEditorPreview.x0 + kEditorPreview.x1) / 2, my = (kEditorPreview.y0 + kEditorPreview.y1) / 2;
    auto at = [&](int x, int y) { return std::to_string(s.editor.x + x) + " " + std::to_string(s.editor.y + y); };
    Xdo("mousemove " + at(mx, my) + " sleep 0.3 mousedown 1 sleep 0.2 mousemove " + at(mx + 4, my + 10) +
        " sleep 0.2 mousemove " + at(mx + 8, my + 24) + " sleep 0.3 mouseup 1");
    const hostapp::RasterImage shaped = GrabSettled(s.editor, j.File("shaped.png"), 30000, kEditorPreview);
    EXPECT_GT(AreaDiff(plain, shaped, kEditorPreview), 200u) << "the knife did not change";
    // Every knife of the main window has that shape.
    const hostapp::RasterImage shapedMain = GrabSettled(s.main, j.File("shaped_main.png"));
    Shot("j3_shaped");
    const std::vector<std::string> before = ShapeNames(store);
    s.ClickEditor("Cutter_AddToPM");
    const Geometry name = FindWindow("ShapeName", 60000);
    ASSERT_FALSE(name.id.empty()) << "the shape name dialog did not open";
    Xdo("windowfocus --sync " + name.id);
    ClickControl(name, "ShapeName", "ShapeName_Name");
    Xdo("key ctrl+a type --delay 20 'Journey Knife'");
    Shot("j3_shape_name");
    ClickControl(name, "ShapeName", "ShapeName_Ok");
    ASSERT_TRUE(WaitGone("ShapeName", 60000));
    const std::vector<std::string> after = ShapeNames(store);
    ASSERT_EQ(after.size(), before.size() + 1);
    const auto found = std::find(after.begin(), after.end(), "Journey Knife");
    ASSERT_NE(found, after.end()) << "the presets store lacks the shape";
    const int row = int(found - after.begin());
    EXPECT_EQ(s.Cancel(), 1);

    // After a restart: the editor starts with its own knife; the manager
    // has the shape in its list and gives it back.
    Session again;
    ASSERT_TRUE(again.Start(j.bundle, kSample, out));
    again.ClickEditor("Cutter_Reset");
    const hostapp::RasterImage reset = GrabSettled(again.editor, j.File("reset.png"), 30000, kEditorPreview);
    EXPECT_GT(AreaDiff(reset, shaped, kEditorPreview), 200u);
    again.ClickEditor("Cutter_Presets");
    const Geometry presets = FindWindow("PresMng", 60000);
    ASSERT_FALSE(presets.id.empty()) << "the presets manager did not open";
    // The list's rows are 16 pixels high below a 2-pixel margin; the first
    // eighteen show without scrolling.
    ASSERT_LT(row, 18);
    Click(presets, 80, 40 + 2 + 16 * row + 8);
    Shot("j3_presets_manager");
    ClickControl(presets, "PresMng", "PresMng_ToCutterClose");
    ASSERT_TRUE(WaitGone("PresMng", 60000)) << "the presets manager stayed open";
    ASSERT_TRUE(again.RaiseEditor());
    // The knives of the main window have the stored shape again (the
    // editor's own preview also marks the selected nodes, which differ).
    EXPECT_LT(SettleLike(again.main, shapedMain, j.File("taken.png")), 20u) << "the stored shape did not come back";
    Shot("j3_taken");

    // The shape, picked in the list, saved as a shape set.
    again.ClickEditor("Cutter_Presets");
    const Geometry presets2 = FindWindow("PresMng", 60000);
    ASSERT_FALSE(presets2.id.empty());
    Click(presets2, 80, 40 + 2 + 16 * row + 8);
    ClickControl(presets2, "PresMng", "PresMng_SaveSet");
    SavePath("Save Set As...", j.File("journey.qntk"));
    ClickControl(presets2, "PresMng", "PresMng_Done");
    ASSERT_TRUE(WaitGone("PresMng", 60000));
    EXPECT_EQ(ShapeNames(j.File("journey.qntk")), std::vector<std::string>{"Journey Knife"});
    EXPECT_EQ(again.Cancel(), 1);

    // A fresh configuration folder takes the set in.
    const std::string fresh = j.File("fresh");
    std::filesystem::create_directories(fresh);
    CopyBundle(fresh);
    Session third;
    ASSERT_TRUE(third.Start(fresh, kSample, out));
    third.ClickEditor("Cutter_Presets");
    const Geometry presets3 = FindWindow("PresMng", 60000);
    ASSERT_FALSE(presets3.id.empty());
    ClickControl(presets3, "PresMng", "PresMng_LoadSet");
    OpenPath("Append Set...", j.File("journey.qntk"));
    Shot("j3_set_appended");
    ClickControl(presets3, "PresMng", "PresMng_Done");
    ASSERT_TRUE(WaitGone("PresMng", 60000));
    const std::vector<std::string> imported = ShapeNames(fresh + "/ckss.data");
    EXPECT_NE(std::find(imported.begin(), imported.end(), "Journey Knife"), imported.end())
        << "the fresh folder's presets lack the shape";
    EXPECT_EQ(third.Cancel(), 1);
}

// A damaged layout document, shape file and shape set, each opened through
// its window: each gives its message box, and the layout on screen and the
// presets store stay as they were.
TEST(Journey, DamagedFilesGiveTheirMessageAndChangeNothing)
{
    Journey j;
    // Right magics and names, wrong insides.
    std::ofstream(j.File("damaged.qntd"), std::ios::binary) << "QNTS30" << std::string(40, '\x7f');
    std::ofstream(j.File("damaged.qnth"), std::ios::binary) << "not a knife shape at all";
    std::ofstream(j.File("damaged.qntk"), std::ios::binary) << std::string(64, '\xff');
    const std::string store = j.bundle + "/ckss.data";

    Session s;
    s.errFile = j.File("stderr.txt");
    ASSERT_TRUE(s.Start(j.bundle, kSample, j.File("out.png")));
    const hostapp::RasterImage layout = GrabSettled(s.main, j.File("layout.png"));
    std::set<std::string> before = VisibleWindows();
    s.MainKey("ctrl+l");
    OpenPath("Load Document...", j.File("damaged.qntd"));
    AnswerMessage(before, "Load Document...", "j5_damaged_document");
    ASSERT_TRUE(s.RaiseEditor());
    EXPECT_LT(SettleLike(s.main, layout, j.File("layout_after.png")), 20u) << "the layout changed";

    const hostapp::RasterImage knife = GrabSettled(s.editor, j.File("knife.png"), 30000, kEditorPreview);
    before = VisibleWindows();
    s.ClickEditor("Cutter_Load");
    OpenPath("Load Knife Shape...", j.File("damaged.qnth"));
    AnswerMessage(before, "Load Knife Shape...", "j5_damaged_shape");
    ASSERT_TRUE(s.RaiseEditor());
    EXPECT_LT(SettleLike(s.editor, knife, j.File("knife_after.png"), 30000, kEditorPreview), 20u)
        << "the knife changed";

    s.ClickEditor("Cutter_Presets");
    const Geometry presets = FindWindow("PresMng", 60000);
    ASSERT_FALSE(presets.id.empty());
    const bool hadStore = std::filesystem::exists(store);
    const std::string storeBytes = ReadBytes(store);
    before = VisibleWindows();
    ClickControl(presets, "PresMng", "PresMng_LoadSet");
    OpenPath("Append Set...", j.File("damaged.qntk"));
    AnswerMessage(before, "Append Set...", "j5_damaged_set");
    ClickControl(presets, "PresMng", "PresMng_Done");
    ASSERT_TRUE(WaitGone("PresMng", 60000));
    EXPECT_EQ(std::filesystem::exists(store), hadStore);
    EXPECT_EQ(ReadBytes(store), storeBytes) << "the presets store changed";

    // A store that leads to the picture the host reads is neither read nor
    // written: the manager says so in a box before it shows no presets.
    std::filesystem::remove(store);
    std::filesystem::create_symlink(kSample, store);
    const std::string sampleBytes = ReadBytes(kSample);
    s.ClickEditor("Cutter_Presets");
    const Geometry refused = FindWindow("MessageBox", 60000);
    ASSERT_FALSE(refused.id.empty()) << "no message for a store that leads to the picture";
    Shot("j5_presets_refused");
    ClickControl(refused, "MessageBox", "MessageBox_OKr");
    const Geometry none = FindWindow("PresMng", 60000);
    ASSERT_FALSE(none.id.empty());
    ClickControl(none, "PresMng", "PresMng_Done");
    ASSERT_TRUE(WaitGone("PresMng", 60000));
    EXPECT_TRUE(std::filesystem::is_symlink(store));
    EXPECT_EQ(ReadBytes(kSample), sampleBytes) << "the picture changed";
    EXPECT_EQ(s.Cancel(), 1);
    const std::string said = ReadBytes(s.errFile);
    const std::string line = "Tessolo: cannot write " + (std::filesystem::canonical(j.bundle) / "ckss.data").string() +
                             ": it leads to " + kSample + ", a file this run reads; presets are not kept in this run\n";
    EXPECT_NE(said.find(line), std::string::npos) << said;
}

namespace {

// A photo made from the bundled sample at the size given, with seeded grain
// so that every part of it is distinct.
bool MakePhoto(const std::string& path, const std::string& size)
{
    return std::system(("convert '" + kSample + "' -filter Triangle -resize " + size +
                        "! -seed 7 -attenuate 0.3 +noise Uniform -define png:compression-level=1 '" + path + "'")
                           .c_str()) == 0;
}

hostapp::RasterImage ReadPicture(const std::string& path)
{
    hostapp::RasterImage img;
    std::string err;
    EXPECT_TRUE(hostapp::ReadImageFile(path, img, err)) << path << ": " << err;
    return img;
}

// Where the preview of grab (at actual pixels) shows the image: the offset of
// the image point under the preview's top-left corner whose pixels match
// best within `reach` of the centred guess; and how many of the preview's
// pixels then differ by more than 8 in a plane.
struct Match {
    int ox = 0, oy = 0;
    size_t differing = size_t(-1), compared = 0;
};
Match MatchPreview(const hostapp::RasterImage& grab, const hostapp::RasterImage& image, int reach)
{
    const Area a = kMainPreview;
    const int pw = a.x1 - a.x0, ph = a.y1 - a.y0;
    auto pixelDiff = [&](int gx, int gy, int ix, int iy) {
        const size_t g = size_t(gy) * grab.width + gx, i = size_t(iy) * image.width + ix;
        int d = 0;
        for (int c = 0; c < 3; ++c)
            d = std::max(d, std::abs(int(grab.planes[size_t(c)][g]) - int(image.planes[size_t(c)][i])));
        return d;
    };
    Match best;
    long bestCost = -1;
    const int cx = (image.width - pw) / 2, cy = (image.height - ph) / 2;
    for (int oy = cy - reach; oy <= cy + reach; ++oy)
        for (int ox = cx - reach; ox <= cx + reach; ++ox) {
            long cost = 0;
            for (int y = 4; y < ph; y += 24)
                for (int x = 4; x < pw; x += 24)
                    cost += pixelDiff(a.x0 + x, a.y0 + y, ox + x, oy + y);
            if (bestCost < 0 || cost < bestCost) {
                bestCost = cost;
                best.ox = ox;
                best.oy = oy;
            }
        }
    best.differing = 0;
    for (int y = 0; y < ph; ++y)
        for (int x = 0; x < pw; ++x, ++best.compared)
            best.differing += pixelDiff(a.x0 + x, a.y0 + y, best.ox + x, best.oy + y) > 8;
    return best;
}

// Types digits into the edit line `control` of the window.
void TypeInto(const Geometry& g, const std::string& window, const std::string& control, const char* digits,
              std::pair<int, int> away)
{
    const auto [x, y] = Skin::Get().Centre(window, control, "edit");
    TypeNumber(g, x, y, digits, away.first, away.second);
}

// The mean absolute difference of neighbouring pixels inside the middle of
// each cell of a 3 x 2 grid (away from the pieces' edges, their knobs and
// bevels), on the picture made gray: lower when the pieces are blurred.
double InnerSharpness(hostapp::RasterImage img)
{
    hostapp::ConvertImage(img, hostapp::ColorMode::Gray);
    double sum = 0;
    size_t n = 0;
    for (int row = 0; row < 2; ++row)
        for (int col = 0; col < 3; ++col) {
            const int cx = img.width * (2 * col + 1) / 6, cy = img.height * (2 * row + 1) / 4;
            const int r = std::min(img.width / 30, img.height / 20);
            for (int y = cy - r; y < cy + r; ++y)
                for (int x = cx - r + 1; x < cx + r; ++x, ++n) {
                    const size_t i = size_t(y) * img.width + x;
                    sum += std::abs(int(img.planes[0][i]) - int(img.planes[0][i - 1]));
                }
        }
    return n ? sum / double(n) : 0;
}

}  // namespace

// A 12-megapixel photo cut in 12 x 9 with a knife shaped by two node drags,
// cloned, the knots a little random; a row of pieces gets a stronger bevel
// and then a colour overlay, that last step is undone, and Apply writes the
// picture. The written picture is
// what the preview showed at actual pixels, and a replay of the recorded
// settings without the dialog gives the same pixels.
TEST(Journey, APhotoCutShapedGivenEffectsAppliedAndReplayed)
{
    Journey j;
    const std::string photo = j.File("photo.png"), out = j.File("out.png"), replay = j.File("replay.png");
    const std::string descriptor = j.File("last.qnds");
    ASSERT_TRUE(MakePhoto(photo, "4000x3000"));
    Session s;
    ASSERT_TRUE(s.Start(j.bundle, photo, out, {"--descriptor", descriptor}));
    const std::pair<int, int> editorAway{200, 575}, mainAway{100, 611};
    // Each number, once taken, lays the main window's grid anew, which
    // takes a while on a large picture and a loaded machine.
    auto setNumber = [&](const char* control, const char* digits, const hostapp::RasterImage& ref,
                         const char* file) {
        EXPECT_TRUE(s.RaiseEditor());
        TypeInto(s.editor, "Cutter", control, digits, editorAway);
        // Nothing to wait for when the digits could not be typed.
        if (::testing::Test::HasFatalFailure())
            return ref;
        return GrabChanged(s.main, ref, j.File(file), 1000, 300000);
    };
    const hostapp::RasterImage start = GrabSettled(s.main, j.File("start.png"));
    const hostapp::RasterImage rows = setNumber("Cutter_Rows", "9", start, "rows.png");
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_GT(PreviewDiff(start, rows), 1000u) << "the rows did not change";
    const hostapp::RasterImage plain = setNumber("Cutter_Columns", "12", rows, "plain.png");
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_GT(PreviewDiff(rows, plain), 1000u) << "the columns did not change";
    ASSERT_TRUE(s.RaiseEditor());

    // Two nodes of the default knife, where the editor draws them.
    CWnd_CutterEditor model;
    const qntRECT_s preview{kEditorPreview.x0, kEditorPreview.y0, kEditorPreview.x1, kEditorPreview.y1};
    ASSERT_TRUE(model.OnCreate(preview, 0));
    for (const uint32_t node : {uint32_t(model.m_Shape.nodeCount / 2), uint32_t(1)}) {
        const qntPOS c = model.NodeCentre(node);
        const int nx = s.editor.x + preview.left + c.x, ny = s.editor.y + preview.top + c.y;
        auto at = [](int x, int y) { return std::to_string(x) + " " + std::to_string(y); };
        Xdo("mousemove " + at(nx, ny) + " sleep 0.3 mousedown 1 sleep 0.2 mousemove " + at(nx + 6, ny + 4) +
            " sleep 0.2 mousemove " + at(nx + 12, ny + 10) + " sleep 0.3 mouseup 1");
    }
    ASSERT_TRUE(s.RaiseEditor());
    s.ClickEditor("Cutter_ReClone");
    Shot("j1_knife_shaped");
    // The knots a little random (10 %).
    ASSERT_NO_FATAL_FAILURE(TypeInto(s.main, "Main", "Main_RndKnots", "10", mainAway));
    ClickControl(s.main, "Main", "Main_RndKnots", "button");
    ASSERT_TRUE(s.RaiseEditor());
    const hostapp::RasterImage shaped = GrabChanged(s.main, plain, j.File("shaped.png"), 2000);
    EXPECT_GT(PreviewDiff(plain, shaped), 2000u) << "the knives did not change";
    Shot("j1_layout");
    s.Cut();
    Shot("j1_pieces");

    // The whole picture in the preview: at 1:8 it is 500 x 375, centred.
    // The fifth row: its first piece, and a Shift-click on its last.
    s.MainKey("ctrl+0");
    const int left = (kMainPreview.x0 + kMainPreview.x1 - 500) / 2, top = (kMainPreview.y0 + kMainPreview.y1 - 375) / 2;
    const int rowY = top + 375 * 9 / 18;
    auto colX = [left](int c) { return left + 500 * (2 * c + 1) / 24; };
    const hostapp::RasterImage before = GrabSettled(s.main, j.File("before.png"));
    Click(s.main, colX(0), rowY);
    Xdo("keydown shift sleep 0.2");
    Click(s.main, colX(11), rowY);
    Xdo("keyup shift");
    const hostapp::RasterImage selected = GrabChanged(s.main, before, j.File("selected.png"), 500);
    EXPECT_GT(PreviewDiff(before, selected), 500u) << "the row was not selected";
    // Bevel of size 12 for the row.
    ClickControl(s.main, "Main", "Main_FXBevel", "button");
    const Geometry bevel = FindWindow("FXbevel", 60000);
    ASSERT_FALSE(bevel.id.empty()) << "the bevel window did not open";
    ASSERT_NO_FATAL_FAILURE(TypeInto(bevel, "FXbevel", "FXbevel_Size", "12", {150, 640}));
    Shot("j1_bevel_window");
    ASSERT_TRUE(PressOk(s, bevel, "FXbevel", "FXbevel_Ok", j.File("idle.png"))) << "the bevel window stayed open";
    const hostapp::RasterImage bevelled = GrabChanged(s.main, selected, j.File("bevelled.png"), 500);
    EXPECT_GT(PreviewDiff(selected, bevelled), 500u) << "the bevel did not change the row";
    // A colour overlay for the row (60 %), then that step undone.
    ClickControl(s.main, "Main", "Main_FXCOver", "button");
    const Geometry overlay = FindWindow("FXcovr", 60000);
    ASSERT_FALSE(overlay.id.empty()) << "the colour overlay window did not open";
    ASSERT_NO_FATAL_FAILURE(TypeInto(overlay, "FXcovr", "FXcovr_Opacity", "60", {150, 380}));
    Shot("j1_color_overlay_window");
    ASSERT_TRUE(PressOk(s, overlay, "FXcovr", "FXcovr_Ok", j.File("idle.png")))
        << "the colour overlay window stayed open";
    EXPECT_GT(PreviewDiff(bevelled, GrabChanged(s.main, bevelled, j.File("overlaid.png"), 500)), 500u)
        << "the colour overlay did nothing";
    s.MainKey("ctrl+z");
    EXPECT_LT(SettleLike(s.main, bevelled, j.File("undone.png")), 20u) << "Undo did not take the step back";
    Shot("j1_effects");
    s.MainKey("ctrl+d");

    // At actual pixels, extras hidden: what the preview shows.
    s.MainKey("ctrl+alt+0");
    ClickControl(s.main, "Main", "Main_HideExtras");
    const hostapp::RasterImage shown = GrabSettled(s.main, j.File("actual.png"));
    Shot("j1_actual_pixels");
    ClickControl(s.main, "Main", "Main_Apply");
    ASSERT_EQ(s.Exit(300000), 0) << "Apply did not end the run";
    const hostapp::RasterImage written = ReadPicture(out);
    ASSERT_EQ(written.width, 4000);
    ASSERT_EQ(written.height, 3000);
    const Match m = MatchPreview(shown, written, 60);
    EXPECT_LT(m.differing, m.compared / 100) << "the picture differs from the preview at " << m.ox << "," << m.oy;
    // It is not the photo as it came: the pieces are rendered.
    const Match original = MatchPreview(shown, ReadPicture(photo), 60);
    EXPECT_GT(original.differing, m.differing + 1000);

    // The replay from the recorded settings, without the dialog.
    ASSERT_TRUE(std::filesystem::exists(descriptor)) << "no descriptor was recorded";
    const pid_t again = Spawn({"--descriptor", descriptor, photo, replay}, j.bundle);
    ASSERT_EQ(WaitExit(again, 300000), 0);
    const hostapp::RasterImage replayed = ReadPicture(replay);
    ASSERT_EQ(replayed.PixelCount(), written.PixelCount());
    size_t differ = 0;
    for (size_t i = 0; i < written.PixelCount(); ++i)
        for (int c = 0; c < 3; ++c)
            differ += written.planes[size_t(c)][i] != replayed.planes[size_t(c)][i];
    EXPECT_EQ(differ, 0u) << "the replay gave other pixels";
}

// A Grayscale and a CMYK picture: cut, hue-saturation refused, the Gaussian
// blur of every piece, Apply; the written picture keeps its size and is
// softer than the photo.
TEST(Journey, GrayscaleAndCmykPicturesCutBlurredAndApplied)
{
    for (const std::string mode : {"gray", "cmyk"}) {
        SCOPED_TRACE(mode);
        Journey j;
        const std::string photo = j.File("photo.png"), out = j.File("out.png");
        ASSERT_TRUE(MakePhoto(photo, "360x240"));
        Session s;
        ASSERT_TRUE(s.Start(j.bundle, photo, out, {"--mode", mode}));
        s.Cut();
        s.MainKey("ctrl+a");
        // Hue and saturation need colour: refused, no window comes.
        ClickControl(s.main, "Main", "Main_FXHSL", "button");
        EXPECT_TRUE(FindWindow("FXhsl", 4000).id.empty()) << "hue-saturation opened on a " << mode << " picture";
        ClickControl(s.main, "Main", "Main_FXBlur", "button");
        const Geometry blur = FindWindow("FXblur", 60000);
        ASSERT_FALSE(blur.id.empty()) << "the blur window did not open";
        ASSERT_NO_FATAL_FAILURE(TypeInto(blur, "FXblur", "FXblur_Radius", "4", {150, 200}));
        Shot("j4_" + mode + "_blur_window");
        ASSERT_TRUE(PressOk(s, blur, "FXblur", "FXblur_Ok", j.File("idle.png"))) << "the blur window stayed open";
        Shot("j4_" + mode + "_blurred");
        ClickControl(s.main, "Main", "Main_Apply");
        ASSERT_EQ(s.Exit(60000), 0) << "Apply did not end the run";
        const hostapp::RasterImage written = ReadPicture(out), sample = ReadPicture(photo);
        ASSERT_EQ(written.width, sample.width);
        ASSERT_EQ(written.height, sample.height);
        EXPECT_LT(InnerSharpness(written), InnerSharpness(sample) * 0.8) << "the pieces are not blurred";
    }
}
