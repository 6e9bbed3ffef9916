// Offscreen bitmap, file dialogs and pop-up menus.
#include "UiTest.h"

#include "core/SafeFileRunInputs.h"
#include "core/Storage.h"
#include "imaging/Image.h"
#include "ui/OffscreenBitmap.h"
#include "ui/PlatformFileDialog.h"
#include "ui/PlatformPopupMenu.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <utility>

#include <sys/stat.h>

using namespace uitest;
namespace fs = std::filesystem;

namespace {
unsigned char WriteNothing(CQNF_StdFile*, void*) { return 1; }
unsigned char WriteNothingSerial(CQNF_StdFile*, void*, unsigned long) { return 1; }
}  // namespace

class ServicesTest : public UiTest {
protected:
    fs::path dir;
    void SetUp() override
    {
        UiTest::SetUp();
        dir = TempPath(std::string("ui_files_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        Resources([](qnui::ResourceWriter& w) { Background(w, "W", {0, 0, 100, 60}); });
    }
    void TearDown() override
    {
        fs::remove_all(dir);
        UiTest::TearDown();
    }
    std::vector<std::string> Files() const
    {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(dir))
            out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
    static std::string Read(const fs::path& p)
    {
        std::ifstream f(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(f), {}};
    }
};

TEST_F(ServicesTest, OffscreenSetAndDrawClamp)
{
    CQNF_OffscreenBitmap bmp;
    EXPECT_FALSE(bmp.Create(0, 5));
    EXPECT_EQ(bmp.GetError(), qnerr::BadArgument);
    ASSERT_TRUE(bmp.Create(8, 4));
    EXPECT_EQ(bmp.GetRowBytes(), 32u);
    CQNF_Image img;
    ASSERT_TRUE(img.Create(10, 10, qnimg::ModeRGBA));
    for (uint16_t y = 0; y < 10; ++y)
        for (uint16_t x = 0; x < 10; ++x)
            img.SetPixel(x, y, qntRGBA8{uint8_t(x), uint8_t(y), 7, 0});  // alpha ignored
    // A rectangle partly left of and below the bitmap: only the inside part,
    // from the matching place of the image.
    bmp.Set(&img, 2, 1, {-2, 1, 3, 9});
    const uint32_t* px = bmp.GetHandle();
    EXPECT_EQ(px[1 * 8 + 0], (2u + 2u) << 16 | 1u << 8 | 7u);
    EXPECT_EQ(px[3 * 8 + 2], (2u + 2u + 2u) << 16 | 3u << 8 | 7u);
    EXPECT_EQ(px[1 * 8 + 3], 0u) << "outside the rectangle";
    EXPECT_EQ(px[0], 0u);

    RecWindow w;
    OpenPlain(w);
    const plat::WinId id = w.GetWindowHandle();
    CQNF_OffscreenBitmap::SetPort(id);
    bmp.Draw(-2, 1, {-2, 1, 3, 9});
    CQNF_OffscreenBitmap::SetPort(0);
    EXPECT_EQ(P.Pixel(id, 0, 1), px[1 * 8 + 0]);
    EXPECT_EQ(P.Pixel(id, 2, 3), px[3 * 8 + 2]);
}

TEST_F(ServicesTest, OpenDialogFilter)
{
    CQNF_PlatformFileDialog d;
    EXPECT_TRUE(d.ShowsFile("anything")) << "no filter shows every file";
    CQNF_StringArray shapes, sets;
    shapes.Add(CQNF_String("qnth"));
    sets.Add(CQNF_String("qntk"));
    sets.Add(CQNF_String("toolong"));
    d.AddFilter("Shapes", &shapes, 0x716E7468);
    d.AddFilter("Sets", &sets, 0x716E746B);
    d.AddFilter("Nothing", nullptr, 0);
    struct Case {
        const char* name;
        bool shown;
    } cases[] = {{"Shape.QNTH", true},    {"a.qnth", true},       {"qnth", false},  {".qnth", false},
                 {"Shape.qnth.bak", false}, {"x.qntk", true},     {"x.toolong", false}, {"Shapeqnth", false}};
    for (const Case& c : cases)
        EXPECT_EQ(d.ShowsFile(c.name), c.shown) << c.name;

    // The platform's dialog gets the same rule; a chosen file becomes the result.
    const fs::path f = dir / "a.qnth";
    std::ofstream(f) << "x";
    P.openAnswers.push_back(f.string());
    P.openAnswers.push_back(std::nullopt);
    d.SetWindowTitle("Load Shape");
    ASSERT_TRUE(d.DoFileOpenDialog(nullptr, 0));
    EXPECT_EQ(d.GetResultPath().path, f.string());
    ASSERT_FALSE(P.dialogsShown.empty());
    EXPECT_EQ(P.dialogsShown.back().title, "Load Shape");
    EXPECT_TRUE(P.dialogsShown.back().filter("b.QnTh"));
    EXPECT_FALSE(P.dialogsShown.back().filter("b.png"));
    CQNF_StdFile file;
    EXPECT_TRUE(d.OpenFileByResult(&file, 1));
    EXPECT_FALSE(d.DoFileOpenDialog(nullptr, 0)) << "cancelled";
    EXPECT_EQ(d.GetResultPath().path, "");
    EXPECT_FALSE(d.OpenFileByResult(&file, 1));
}

TEST_F(ServicesTest, EveryDialogListsOnlyTheCallersFilesUnderItsName)
{
    // An EPS save that listed layout documents would offer them to be
    // written over: each kind of dialog hands the platform its filter.
    CQNF_StringArray suffixes;
    suffixes.Add(CQNF_String("_1"));
    struct Kind {
        const char* what;
        std::function<void(CQNF_PlatformFileDialog&)> run;
    } kinds[] = {
        {"open", [this](CQNF_PlatformFileDialog& d) {
             P.openAnswers.push_back(std::nullopt);
             d.DoFileOpenDialog(nullptr, 0);
         }},
        {"save", [this](CQNF_PlatformFileDialog& d) {
             P.saveAnswers.push_back(std::nullopt);
             d.DoFileSaveDialog(WriteNothing, nullptr, nullptr, 0, 0);
         }},
        {"save, path only", [this](CQNF_PlatformFileDialog& d) {
             P.saveAnswers.push_back(std::nullopt);
             std::string path;
             d.DoFileSaveDialog_Path(nullptr, path);
         }},
        {"save a series", [this, &suffixes](CQNF_PlatformFileDialog& d) {
             P.saveAnswers.push_back(std::nullopt);
             d.DoFileSaveDialog_Serial(&suffixes, WriteNothingSerial, nullptr, nullptr, 0, 0);
         }},
    };
    for (const Kind& k : kinds) {
        CQNF_PlatformFileDialog d;
        CQNF_StringArray eps, ai;
        eps.Add(CQNF_String("eps"));
        ai.Add(CQNF_String("ai"));
        d.AddFilter("Encapsulated PostScript (.eps)", &eps, 0);
        d.AddFilter("Adobe Illustrator (.ai)", &ai, 0);
        k.run(d);
        ASSERT_FALSE(P.dialogsShown.empty()) << k.what;
        const plat::FileDialogSpec& shown = P.dialogsShown.back();
        ASSERT_TRUE(shown.filter) << k.what << ": every file listed";
        EXPECT_EQ(shown.filterName, "Encapsulated PostScript (.eps)") << k.what;
        for (const auto& [name, listed] : {std::pair{"knives.EPS", true}, {"knives.ai", true},
                                           {"layout.qntd", false}, {"eps", false}})
            EXPECT_EQ(shown.filter(name), listed) << k.what << ": " << name;
        // Without a filter of the caller's, every file.
        d.RemoveAllFilters();
        k.run(d);
        EXPECT_FALSE(P.dialogsShown.back().filter) << k.what;
    }
}

TEST_F(ServicesTest, DefaultFolderFromAppRoot)
{
    fs::create_directories(dir / "shapes");
    CQNF_PlatformFileDialog::SetAppRootFolder(FSRef{dir.string()});
    CQNF_PlatformFileDialog d;
    struct Case {
        const char* sub;
        fs::path want;
    } cases[] = {{"shapes", dir / "shapes"}, {"shapes sets", dir}, {"", dir}};
    for (const Case& c : cases) {
        d.SetDefaultPathToAppRoot(c.sub);
        P.openAnswers.push_back(std::nullopt);
        d.DoFileOpenDialog(nullptr, 0);
        EXPECT_EQ(P.dialogsShown.back().folder, c.want.string()) << c.sub;
    }
    CQNF_PlatformFileDialog::SetAppRootFolder(FSRef{});
}

TEST_F(ServicesTest, DialogsOpenInTheirOwnFolderElseWhereTheLastOneWentAcrossRuns)
{
    for (const char* sub : {"first", "second", "shapes"})
        fs::create_directories(dir / sub);
    std::ofstream(dir / "second" / "pic.png") << "x";
    std::ofstream(dir / "shapes" / "a.qnth") << "x";
    const std::string conf = (dir / "plugin.conf").string();
    // Each step a fresh dialog; a run is one opening of the settings file.
    // "" for a folder: none named, or none shown (the platform's choice).
    struct Step {
        const char* what;
        std::string named;
        bool openDialog;
        std::optional<std::string> answer;  // a folder saved into, or a file opened; none: cancelled
        std::string expectShown;
    } steps[] = {
        {"nothing remembered, no folder named", "", false, (dir / "first").string(), ""},
        {"the second save opens where the first went", "", false, std::nullopt, (dir / "first").string()},
        {"a dialog with a folder of its own opens there", (dir / "shapes").string(), false, (dir / "shapes").string(),
         (dir / "shapes").string()},
        {"what went there does not move the others", "", true, (dir / "second" / "pic.png").string(),
         (dir / "first").string()},
        {"an open dialog of its own folder too", (dir / "shapes").string(), true, (dir / "shapes" / "a.qnth").string(),
         (dir / "shapes").string()},
        {"next time (another run): the opened file's folder", "", false, std::nullopt, (dir / "second").string()},
        {"a named folder that is missing: the remembered one", (dir / "gone").string(), false, std::nullopt,
         (dir / "second").string()},
        {"a remembered folder that went away: the platform's choice", "", false, std::nullopt, ""},
    };
    for (const Step& st : steps) {
        if (std::string(st.what).find("went away") != std::string::npos)
            fs::remove_all(dir / "second");
        CQNF_Storage settings;
        ASSERT_TRUE(settings.Open(CQNF_String(conf.c_str()), fs::exists(conf) ? 0 : 2));
        CQNF_PlatformFileDialog::SetSettingsStorage(&settings);
        CQNF_PlatformFileDialog d;
        if (!st.named.empty())
            d.SetDefaultPath(FSRef{st.named});
        if (st.openDialog) {
            P.openAnswers.push_back(st.answer);
            EXPECT_EQ(d.DoFileOpenDialog(nullptr, 0), st.answer.has_value()) << st.what;
        } else {
            if (st.answer)
                P.saveAnswers.push_back(plat::SaveChoice{*st.answer, "a.qntd", false});
            else
                P.saveAnswers.push_back(std::nullopt);
            std::string path;
            EXPECT_EQ(d.DoFileSaveDialog_Path(nullptr, path), st.answer.has_value()) << st.what;
        }
        CQNF_PlatformFileDialog::SetSettingsStorage(nullptr);
        ASSERT_FALSE(P.dialogsShown.empty());
        EXPECT_EQ(P.dialogsShown.back().folder, st.expectShown) << st.what;
    }
}

namespace {
unsigned char WriteHello(CQNF_StdFile* f, void*)
{
    const char text[] = "hello";
    return f->Write(text, 5) ? 1 : 0;
}
unsigned char FailAfterWriting(CQNF_StdFile* f, void*)
{
    f->Write("partial", 7);
    return 0;
}
unsigned char WriteIndex(CQNF_StdFile* f, void* failAt, unsigned long i)
{
    const std::string s = "part " + std::to_string(i);
    f->Write(s.data(), uint32_t(s.size()));
    return failAt && *static_cast<unsigned long*>(failAt) == i ? 0 : 1;
}
}  // namespace

TEST_F(ServicesTest, SaveReplacesOnlyAfterTheWriterSucceeded)
{
    CQNF_PlatformFileDialog d;
    const fs::path target = dir / "doc.qntd";
    std::ofstream(target) << "precious";

    // A writer that fails costs the user nothing: the old file stays whole
    // and nothing else is left behind.
    P.saveAnswers.push_back(plat::SaveChoice{dir.string(), "doc.qntd", true});
    EXPECT_FALSE(d.DoFileSaveDialog(FailAfterWriting, nullptr, nullptr, 0, 0));
    EXPECT_EQ(Read(target), "precious");
    EXPECT_EQ(Files(), (std::vector<std::string>{"doc.qntd"}));

    P.saveAnswers.push_back(plat::SaveChoice{dir.string(), "new.qntd", false});
    EXPECT_FALSE(d.DoFileSaveDialog(FailAfterWriting, nullptr, nullptr, 0, 0));
    EXPECT_EQ(Files(), (std::vector<std::string>{"doc.qntd"})) << "a failed new file leaves nothing";

    d.SetDefaultSaveName("doc.qntd");
    P.saveAnswers.push_back(plat::SaveChoice{dir.string(), "doc.qntd", true});
    EXPECT_TRUE(d.DoFileSaveDialog(WriteHello, nullptr, nullptr, 0, 0));
    EXPECT_EQ(Read(target), "hello");
    EXPECT_EQ(d.GetResultPath().path, target.string());
    EXPECT_EQ(P.dialogsShown.back().proposedName, "doc.qntd");

    P.saveAnswers.push_back(std::nullopt);
    EXPECT_FALSE(d.DoFileSaveDialog(WriteHello, nullptr, nullptr, 0, 0)) << "cancelled";
    EXPECT_EQ(d.GetResultPath().path, "");
}

TEST_F(ServicesTest, SerialSaveNames)
{
    CQNF_StringArray suffixes;
    suffixes.Add(CQNF_String("_1"));
    suffixes.Add(CQNF_String("_2"));
    struct Case {
        const char* chosen;
        std::vector<std::string> files;
    } cases[] = {{"Pieces.png", {"Pieces_1.png", "Pieces_2.png"}},
                 {"Pieces", {"Pieces_1", "Pieces_2"}},
                 {".png", {".png_1", ".png_2"}},
                 {"a.b.png", {"a.b_1.png", "a.b_2.png"}}};
    for (const Case& c : cases) {
        fs::remove_all(dir);
        fs::create_directories(dir);
        CQNF_PlatformFileDialog d;
        P.saveAnswers.push_back(plat::SaveChoice{dir.string(), c.chosen, false});
        EXPECT_TRUE(d.DoFileSaveDialog_Serial(&suffixes, WriteIndex, nullptr, nullptr, 0, 0)) << c.chosen;
        EXPECT_EQ(Files(), c.files) << c.chosen;
        EXPECT_EQ(Read(dir / c.files[1]), "part 1");
    }
}

TEST_F(ServicesTest, SerialSaveWithAFailedPartIsNotSuccess)
{
    CQNF_StringArray suffixes;
    for (const char* s : {"_1", "_2", "_3"})
        suffixes.Add(CQNF_String(s));
    CQNF_PlatformFileDialog d;
    unsigned long failAt = 1;
    P.saveAnswers.push_back(plat::SaveChoice{dir.string(), "P.png", false});
    EXPECT_FALSE(d.DoFileSaveDialog_Serial(&suffixes, WriteIndex, &failAt, nullptr, 0, 0));
    EXPECT_EQ(Files(), (std::vector<std::string>{"P_1.png", "P_3.png"})) << "the failed part is not left behind";
}

// A name the write gate refuses is refused while the chooser is open: the
// user sees why in a box over it, and picks again; nothing is written
// until a name is taken. For a serial save every part's name counts.
TEST_F(ServicesTest, SaveChoosersAskAgainForANameTheGateRefuses)
{
    const fs::path input = dir / "input.png";
    std::ofstream(input) << "picture";
    qnAddRunInputs({input.string()});
    fs::create_symlink(input, dir / "link.qntd");
    std::ofstream(dir / "ro.qntd") << "kept";
    fs::permissions(dir / "ro.qntd", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    ASSERT_EQ(::mkfifo((dir / "fifo.qntd").c_str(), 0644), 0);
    fs::create_directories(dir / "folder.qntd");
    const std::vector<std::string> refused = {"input.png", "link.qntd", "ro.qntd", "fifo.qntd", "folder.qntd"};

    CQNF_PlatformFileDialog d;
    for (const std::string& name : refused)
        P.saveAnswers.push_back(plat::SaveChoice{dir.string(), name, true});
    P.saveAnswers.push_back(plat::SaveChoice{dir.string(), "new.qntd", false});
    EXPECT_TRUE(d.DoFileSaveDialog(WriteHello, nullptr, nullptr, 0, 0));
    EXPECT_EQ(P.dialogsShown.size(), 1u) << "the one chooser stayed open";
    ASSERT_EQ(P.alerts.size(), refused.size());
    for (size_t i = 0; i < refused.size(); ++i) {
        EXPECT_EQ(P.alerts[i].title, plat::kRefusedSaveTitle);
        EXPECT_NE(P.alerts[i].text.find((dir / refused[i]).string()), std::string::npos) << P.alerts[i].text;
    }
    EXPECT_EQ(Read(input), "picture");
    EXPECT_EQ(Read(dir / "ro.qntd"), "kept");
    EXPECT_EQ(Read(dir / "new.qntd"), "hello");
    EXPECT_TRUE(P.saveAnswers.empty());

    // The serial save: a read-only second part refuses the name.
    CQNF_StringArray suffixes;
    suffixes.Add(CQNF_String("_1"));
    suffixes.Add(CQNF_String("_2"));
    std::ofstream(dir / "P_2.png") << "kept";
    fs::permissions(dir / "P_2.png", fs::perms::owner_read);
    P.alerts.clear();
    P.saveAnswers.push_back(plat::SaveChoice{dir.string(), "P.png", false});
    P.saveAnswers.push_back(plat::SaveChoice{dir.string(), "Q.png", false});
    EXPECT_TRUE(d.DoFileSaveDialog_Serial(&suffixes, WriteIndex, nullptr, nullptr, 0, 0));
    ASSERT_EQ(P.alerts.size(), 1u);
    EXPECT_NE(P.alerts[0].text.find((dir / "P_2.png").string()), std::string::npos) << P.alerts[0].text;
    EXPECT_FALSE(fs::exists(dir / "P_1.png")) << "no part of a refused name is written";
    EXPECT_EQ(Read(dir / "P_2.png"), "kept");
    EXPECT_EQ(Read(dir / "Q_2.png"), "part 1");

    // The path-only dialog takes the caller's own judgement.
    std::string path;
    d.SetRefusal([](const std::string& p) { return p.ends_with("/no.png") ? QnRefusal{p, "taken"} : QnRefusal{}; });
    P.alerts.clear();
    P.saveAnswers.push_back(plat::SaveChoice{dir.string(), "no.png", false});
    P.saveAnswers.push_back(plat::SaveChoice{dir.string(), "yes.png", false});
    EXPECT_TRUE(d.DoFileSaveDialog_Path(nullptr, path));
    EXPECT_EQ(path, (dir / "yes.png").string());
    ASSERT_EQ(P.alerts.size(), 1u);
    EXPECT_NE(P.alerts[0].text.find((dir / "no.png").string() + "\nTaken.\n"), std::string::npos) << P.alerts[0].text;
}

// The box over the chooser says, in itself (a display without a window
// manager shows no title), its headline, the file on a line of its own,
// what is wrong with it, and what to do; a name whose ending says another
// format than the one written is refused there too, as the command line
// refuses it.
TEST_F(ServicesTest, TheRefusalBoxNamesTheFileAndWhyUnderItsHeadline)
{
    // A read-only file of a long name, in folders of a few words each.
    fs::path folder = dir;
    for (int i = 0; folder.string().size() < 200; ++i)
        folder /= "exported pieces " + std::to_string(i);
    fs::create_directories(folder);
    const fs::path kept = folder / "the layout kept for the next evening.qntd";
    std::ofstream(kept) << "kept";
    fs::permissions(kept, fs::perms::owner_read);
    ASSERT_GE(kept.string().size(), 240u);

    CQNF_PlatformFileDialog d;
    CQNF_StringArray ext;
    ext.Add(CQNF_String("qntd"));
    d.AddFilter("Layout (.qntd)", &ext, 0);
    P.saveAnswers.push_back(plat::SaveChoice{folder.string(), kept.filename().string(), true});
    P.saveAnswers.push_back(plat::SaveChoice{dir.string(), "layout.png", false});
    P.saveAnswers.push_back(plat::SaveChoice{dir.string(), "layout.QNTD", false});
    EXPECT_TRUE(d.DoFileSaveDialog(WriteHello, nullptr, nullptr, 0, 0));
    ASSERT_EQ(P.alerts.size(), 2u);
    const auto lines = [](const std::string& text) {
        std::vector<std::string> out;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);)
            out.push_back(line);
        return out;
    };
    EXPECT_EQ(lines(P.alerts[0].text),
              (std::vector<std::string>{plat::kRefusedSaveTitle, kept.string(), "The file has no write permission.", "",
                                        "Choose another name or folder."}));
    EXPECT_EQ(lines(P.alerts[1].text),
              (std::vector<std::string>{plat::kRefusedSaveTitle, (dir / "layout.png").string(),
                                        "The name must end in .qntd, the format it is written in.", "",
                                        "Choose another name or folder."}));
    EXPECT_FALSE(fs::exists(dir / "layout.png"));
    EXPECT_EQ(Read(dir / "layout.QNTD"), "hello");
    EXPECT_EQ(Read(kept), "kept");

    // A part of a serial save refused in a folder whose name holds ": ",
    // beside a folder named as its first words: the box names the part.
    const fs::path colon = dir / "holiday: day two";
    fs::create_directories(colon);
    fs::create_directories(dir / "holiday");
    std::ofstream(colon / "S_2.png") << "kept";
    fs::permissions(colon / "S_2.png", fs::perms::owner_read);
    CQNF_StringArray suffixes;
    suffixes.Add(CQNF_String("_1"));
    suffixes.Add(CQNF_String("_2"));
    P.alerts.clear();
    P.saveAnswers.push_back(plat::SaveChoice{colon.string(), "S.png", false});
    P.saveAnswers.push_back(std::nullopt);
    CQNF_PlatformFileDialog serial;
    EXPECT_FALSE(serial.DoFileSaveDialog_Serial(&suffixes, WriteIndex, nullptr, nullptr, 0, 0));
    ASSERT_EQ(P.alerts.size(), 1u);
    EXPECT_EQ(lines(P.alerts[0].text),
              (std::vector<std::string>{plat::kRefusedSaveTitle, (colon / "S_2.png").string(),
                                        "The file has no write permission.", "", "Choose another name or folder."}));
}

TEST_F(ServicesTest, PopupMenuReportsItemIds)
{
    RecWindow w;
    OpenPlain(w);
    {
        CQNF_PlatformPopupMenu m;
        EXPECT_FALSE(m.AddItem("x", 1, 0, 0));
        EXPECT_EQ(m.GetError(), qnerr::Empty);
        EXPECT_FALSE(m.DoPopup(&w, 0, 0));
        ASSERT_TRUE(m.Create());
        EXPECT_FALSE(m.Create());
        EXPECT_EQ(m.GetError(), qnerr::BadArgument);
        EXPECT_TRUE(m.AddItem("Zoom In", 10, 1, 0, 1, 0, 0, "+"));
        EXPECT_TRUE(m.AddSeparator());
        EXPECT_TRUE(m.AddSeparator());
        EXPECT_TRUE(m.AddItem(nullptr, 99, 0, 0)) << "a text the platform cannot take adds nothing";
        EXPECT_TRUE(m.AddItem("Fit", 30, 0, 1));
        P.menuAnswers = {3, -1};
        ASSERT_TRUE(m.DoPopup(&w, 20, 30));
        EXPECT_EQ(w.log.back(), "Menu 30 255") << "the chosen item's own id after separators";
        EXPECT_EQ(w.messages.back(), (std::pair<unsigned short, unsigned long>{304, 0xFFFFFFFFul}));
        EXPECT_EQ(P.menuPoints.back(), (plat::Point{120, 135}));
        const auto& items = P.menusShown.back();
        ASSERT_EQ(items.size(), 4u);
        EXPECT_TRUE(items[0].checked);
        EXPECT_TRUE(items[0].cmd);
        EXPECT_EQ(items[0].key, "+");
        EXPECT_TRUE(items[1].separator);
        EXPECT_TRUE(items[3].disabled);
        const size_t before = w.messages.size();
        ASSERT_TRUE(m.DoPopup(&w, 20, 30));
        EXPECT_EQ(w.messages.size(), before) << "a dismissed menu reports nothing";
    }
    const auto s = CQNF_PlatformPopupMenu::CreateShortcut(1, 2, 3, "K");
    EXPECT_EQ(s.command, 1);
    EXPECT_EQ(s.shift, 3) << "the argument order is command, option, shift";
    EXPECT_EQ(s.option, 2);
    EXPECT_EQ(s.key[0], 'K');
    EXPECT_EQ(s.zero, 0);
}
