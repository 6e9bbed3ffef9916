// The knife editor's dialogs from its own buttons and menus, headless inside
// the interactive road: each button opens its dialog over the editor, a
// knife added to the presets is in "ckss.data" of the plug-in's folder and
// comes back from the presets manager, shape files go through the scripted
// file dialogs, and a hexagonal auto layout changes the main window. With
// TESSOLO_SNAPSHOT_DIR set, the presets manager is saved there as a PNG.
#include "road_run.h"
#include "../ui/screen_text.h"

#include "app/StatusTips.h"
#include "app/Wnd_MessageBox.h"
#include "core/SafeFileRunInputs.h"
#include "imaging/Font.h"
#include "cutter/PresetsModel.h"
#include "cutter/Wnd_Cutter.h"
#include "cutter/Wnd_PresetsManager.h"
#include "ui/CtrlList.h"
#include "ui/CtrlStatic.h"
#include "ui/Toolkit.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>

namespace {

using namespace hosttest;
using SPLINE = CWnd_CutterModel::SPLINE_STRUCT;

struct DialogRun : RoadRun {
    DialogRun() { road.SetCutterFactory(&qnMakeCutterWindow); }

    CWnd_Main& Main() { return app->m_WndMain; }
    CWnd_Cutter& Editor() { return static_cast<CMainCutterWindow*>(Main().GetCutter())->Window(); }
    plat::Point Global(CQNF_Window& w, int32_t x, int32_t y)
    {
        const plat::Rect r = hp.ContentRect(w.GetWindowHandle());
        return {r.left + x, r.top + y};
    }
    // A click on the control of w by name and type.
    void ClickIn(CQNF_Window& w, const char* name, uint8_t type)
    {
        CQNF_Control* c = w.GetControl(w.FindControlByName(name, type));
        ASSERT_NE(c, nullptr) << name;
        const qntRECT_s r = c->GetRenderRect();
        hp.Activate(w.GetWindowHandle());
        hp.Click(Global(w, (r.left + r.right) / 2, (r.top + r.bottom) / 2));
    }
    void ClickEditor(const char* name) { ClickIn(Editor(), name, qnctl::Button); }
    static CQNF_Window* Dialog() { return qnui::Toolkit::Get().TopModal(); }
    static std::string DialogName()
    {
        CQNF_Window* w = Dialog();
        return w ? w->GetName() : "";
    }
    void Esc() { hp.Key(53, 27); }
    void Return() { hp.Key(36, 13); }
    void Type(const char* text)
    {
        for (; *text; ++text)
            hp.Key(0xFF, uint8_t(*text));
    }
    std::string Presets() const { return h.File("ckss.data"); }
    // Cancels the main window (and with it the editor) and ends the run.
    void Finish()
    {
        hp.Script([this] {
ClickIn(Main(), "Main_Cancel", qnctl::Button);
        });
    }
};

// The same knife, up to the float precision the files keep.
bool Near(const SPLINE& a, const SPLINE& b)
{
    if (a.nodeCount != b.nodeCount)
        return false;
    for (uint32_t i = 0; i < a.nodeCount && i < CWnd_CutterModel::kMaxNodes; ++i)
        if (std::fabs(a.pos[i].H - b.pos[i].H) > 1e-5 || std::fabs(a.pos[i].U - b.pos[i].U) > 1e-5 ||
            std::fabs(a.S[i] - b.S[i]) > 1e-5)
            return false;
    return true;
}

// Where the pop-up menu of items shows the command id.
int MenuIndex(const std::vector<CWnd_CutterEditor::MENUITEM>& items, uint16_t id)
{
    for (size_t i = 0; i < items.size(); ++i)
        if (items[i].id == id)
            return int(i);
    return -1;
}

int32_t FindPreset(const std::vector<CWnd_PresetsManagerModel::SHAPESETREC>& records, const char* name)
{
    for (size_t i = 0; i < records.size(); ++i)
        if (std::strcmp(records[i].name, name) == 0)
            return int32_t(i);
    return -1;
}

}  // namespace

TEST(HostCutterDialogs, EveryButtonAndMenuOpensItsDialogOverTheEditor)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    struct Case {
        const char* button;
        int menuAnswer;  // the clone menu's command, 0 for none
        const char* dialog;
    } cases[] = {
        {"Cutter_Presets", 0, "PresMng"},
        {"Cutter_AddToPM", 0, "ShapeName"},
        {"Cutter_AutoLayout", 0, "AutoLayout"},
        {"Cutter_Clone", CWnd_CutterEditor::ID_CLONE_CUSTOM, "CMuts"},
    };
    DialogRun r;
    StandInHost host(Document(ColorMode::RGB, 240, 160, false), HostSettings{});
    std::vector<std::string> seen;
    for (const Case& c : cases) {
        r.hp.Script([&r, c] {
            if (c.menuAnswer)
                r.hp.menuAnswers.push_back(MenuIndex(r.Editor().CloneMenu(), uint16_t(c.menuAnswer)));
            r.ClickEditor(c.button);
        });
        r.hp.Script([&r, &seen] {
            seen.push_back(r.DialogName());
            r.Esc();
        });
        // A focused edit line takes the first Esc.
        r.hp.Script([&r] {
            if (r.Dialog())
                r.Esc();
        });
        r.hp.Script([&r] { EXPECT_EQ(r.Dialog(), nullptr) << r.DialogName(); });
    }
    // Load and Save: the file dialogs, cancelled.
    r.hp.Script([&r] {
        r.hp.openAnswers.push_back(std::nullopt);
        r.ClickEditor("Cutter_Load");
        r.hp.saveAnswers.push_back(std::nullopt);
        r.hp.menuAnswers.push_back(MenuIndex(r.Editor().SaveMenu(), CWnd_CutterEditor::ID_SAVE_SHAPE));
        r.ClickEditor("Cutter_Save");
    });
    r.Finish();
    EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr);
    EXPECT_EQ(r.hp.ScriptLeft(), 0u);
    ASSERT_EQ(seen.size(), std::size(cases));
    for (size_t i = 0; i < seen.size(); ++i)
        EXPECT_EQ(seen[i], cases[i].dialog) << cases[i].button;
    EXPECT_EQ(r.hp.dialogsShown.size(), 2u);
    EXPECT_TRUE(r.hp.openAnswers.empty() && r.hp.saveAnswers.empty());
    // The store is in the plug-in's folder (the first opening seeds it).
    EXPECT_TRUE(std::filesystem::exists(r.Presets()));
}

TEST(HostCutterDialogs, AKnifeAddedToThePresetsComesBackFromTheManager)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    DialogRun r;
    StandInHost host(Document(ColorMode::RGB, 240, 160, false), HostSettings{});
    SPLINE added{};
    // A knife of its own (flipped), added as "Knob": the name dialog's
    // field ends editing on the first Return, the second is its OK.
    r.hp.Script([&r, &added] {
        r.Editor().opFlipH();
        added = r.Editor().m_Shape;
        r.ClickEditor("Cutter_AddToPM");
    });
    r.hp.Script([&r] { r.Type("Knob"); });
    r.hp.Script([&r] { r.Return(); });
    r.hp.Script([&r] { r.Return(); });
    // Back to another knife, then the preset is taken by a double click.
    r.hp.Script([&r, &added] {
        r.Editor().opFlipH();
        EXPECT_FALSE(Near(r.Editor().m_Shape, added));
        r.ClickEditor("Cutter_Presets");
    });
    r.hp.Script([&r] {
        auto* pm = dynamic_cast<CWnd_PresetsManager*>(r.Dialog());
        ASSERT_NE(pm, nullptr);
        const int32_t k = FindPreset(pm->Records(), "Knob");
        ASSERT_GE(k, 0);
        for (uint32_t i = 0; i < pm->GetCount(); ++i)
            pm->SetSelected(i, int32_t(i) == k);
        pm->FillInWindow();
        SaveWindowSnapshot(r.hp, pm->GetWindowHandle(), "cutter_presets.png");
        const qntRECT_s icon = pm->IconRect(0);
        const plat::Point at = r.Global(*pm, (icon.left + icon.right) / 2, (icon.top + icon.bottom) / 2);
        r.hp.Click(at);
        r.hp.Click(at);
    });
    r.hp.Script([&r] {
        if (r.Dialog())
            r.ClickIn(*r.Dialog(), "PresMng_Done", qnctl::Button);
    });
    r.hp.Script([&r, &added] {
        EXPECT_EQ(r.Dialog(), nullptr);
        EXPECT_TRUE(Near(r.Editor().m_Shape, added));
    });
    r.Finish();
    EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr);
    EXPECT_EQ(r.hp.ScriptLeft(), 0u);
    // A fresh store on the same file, as after restarting the host.
    CQNF_PresetsFileAtPath store(r.Presets());
    std::vector<CWnd_PresetsManagerModel::SHAPESETREC> records;
    ASSERT_EQ(CWnd_PresetsManagerModel::ShapeMng_Load(store, records), CQNF_PresetsFile::ReadResult::Ok);
    const int32_t k = FindPreset(records, "Knob");
    ASSERT_GE(k, 0);
    EXPECT_TRUE(Near(CWnd_PresetsManagerModel::ToSpline(records[size_t(k)]), added));
}

// A presets store that leads to a file the run reads is neither read nor
// written: opening the presets manager says so, in the plug-in's words for
// its own files, on standard error and in a box that shows every word of
// it (lines broken to the box's width, all of them within its height, the
// box grown for them). A damaged store kept aside past a copy's name that
// leads to such a file is told alike.
TEST(HostCutterDialogs, APresetsStoreThatLeadsToAFileTheRunReadsIsToldWhole)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    for (const bool damaged : {false, true}) {
        SCOPED_TRACE(damaged ? "damaged, its copy's name linked" : "linked");
        DialogRun r;
        StandInHost host(Document(ColorMode::RGB, 240, 160, false), HostSettings{});
        // Long folder names, as a person's may be: the line needs more
        // lines than the box's layout has.
        const std::filesystem::path root(r.h.folder.path + "_pictures of the summer holidays by the sea");
        const std::filesystem::path docs =
            root / "the whole family with the grandparents and the dog" /
            "the second week in the old house in the hills above the village";
        std::filesystem::create_directories(docs);
        const std::string picture = (docs / "in.png").string();
        std::ofstream(picture, std::ios::binary) << "the host's picture";
        qnAddRunInputs({picture});
        std::string line;
        if (damaged) {
            std::ofstream(r.Presets(), std::ios::binary) << "no presets at all";
            std::filesystem::create_symlink(picture, r.Presets() + ".bad");
            line = "The presets file " + r.Presets() +
                   " was damaged (it is 17 bytes long, not a whole number of 836-byte presets); it was kept as " +
                   r.Presets() + ".bad2 and a new one begun.";
        } else {
            std::filesystem::create_symlink(picture, r.Presets());
            line = "cannot write " + r.Presets() + ": it leads to " + picture +
                   ", a file this run reads; presets are not kept in this run";
        }
        std::string boxText;
        r.hp.Script([&r] { r.ClickEditor("Cutter_Presets"); });
        r.hp.Script([&] {
            auto* box = dynamic_cast<CWnd_MessageBox*>(r.Dialog());
            ASSERT_NE(box, nullptr) << r.DialogName();
            SaveWindowSnapshot(r.hp, box->GetWindowHandle(),
                               damaged ? "presets_kept_aside_box.png" : "presets_refused_box.png");
            auto* text = static_cast<CQNF_CtrlStaticText*>(
                box->GetControl(box->FindControlByName("MessageBox_Text", qnctl::StaticText)));
            ASSERT_NE(text, nullptr);
            boxText = text->GetText().GetStr();
            CQNF_Font* font = text->GetControlLayer()->GetFont();
            ASSERT_NE(font, nullptr);
            const qntRECT_s area = text->GetRenderRect();
            unsigned long w = 0, h = 0;
            ASSERT_TRUE(font->GetTextSize(CQNF_String(boxText.c_str()), 12, w, h));
            EXPECT_LE(long(h), area.bottom - area.top) << boxText;
            if (!damaged) {
                EXPECT_GT(area.bottom - area.top, 48) << "the box has grown";
            }
            // Its buttons stay below the text, within the box.
            const qntRECT_s ok =
                box->GetControl(box->FindControlByName("MessageBox_OKr", qnctl::Button))->GetRenderRect();
            EXPECT_GE(ok.top, area.bottom);
            EXPECT_LE(ok.bottom, int32_t(box->GetHeight()));
            size_t start = 0;
            while (start <= boxText.size()) {
                const size_t end = std::min(boxText.find('\n', start), boxText.size());
                const std::string one = boxText.substr(start, end - start);
                ASSERT_TRUE(font->GetTextSize(CQNF_String(one.c_str()), 12, w, h));
                EXPECT_LE(long(w), area.right - area.left - 6) << one;
                start = end + 1;
            }
            r.ClickIn(*box, "MessageBox_OKr", qnctl::Button);
        });
        r.hp.Script([&] {
            auto* pm = dynamic_cast<CWnd_PresetsManager*>(r.Dialog());
            ASSERT_NE(pm, nullptr) << r.DialogName();
            EXPECT_EQ(pm->GetCount() > 0, damaged) << "a store begun again holds the first presets";
            r.ClickIn(*pm, "PresMng_Done", qnctl::Button);
        });
        r.Finish();
        testing::internal::CaptureStderr();
        EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(r.hp.ScriptLeft(), 0u);
        EXPECT_NE(said.find("Tessolo: " + line + "\n"), std::string::npos) << said;
        // Every word, in order, broken only where a line ends.
        std::string joined = boxText, whole = line;
        std::erase(joined, '\n');
        std::erase(joined, ' ');
        std::erase(whole, ' ');
        EXPECT_EQ(joined, whole) << boxText;
        std::ifstream in(picture, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "the host's picture");
        if (damaged) {
            EXPECT_TRUE(std::filesystem::is_symlink(r.Presets() + ".bad"));
            std::ifstream kept(r.Presets() + ".bad2", std::ios::binary);
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "no presets at all");
        } else {
            EXPECT_TRUE(std::filesystem::is_symlink(r.Presets()));
            EXPECT_FALSE(std::filesystem::exists(r.Presets() + ".bad"));
        }
        std::filesystem::remove_all(root);
    }
}

// Save Set writes the shapes selected in the presets manager's list, and the
// tip the status line shows with the pointer on the button says so.
TEST(HostCutterDialogs, SaveSetWritesTheSelectionItsTipNames)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    DialogRun r;
    StandInHost host(Document(ColorMode::RGB, 240, 160, false), HostSettings{});
    const std::string set = r.h.File("chosen.qntk");
    std::vector<std::string> names, want;
    std::string tip;
    auto manager = [&r] { return dynamic_cast<CWnd_PresetsManager*>(r.Dialog()); };
    r.hp.Script([&r] { r.ClickEditor("Cutter_Presets"); });
    r.hp.Script([&] {
        CWnd_PresetsManager* pm = manager();
        ASSERT_NE(pm, nullptr);
        ASSERT_GE(pm->GetCount(), 3u);
        for (uint32_t i = 0; i < pm->GetCount(); ++i)
            names.push_back(pm->Records()[i].name);
        want = names;
        want.insert(want.end(), {names[1], names[2]});
        pm->List()->SelectItems(1, 2, 1, 0, 1, 1, 1);
        CQNF_Control* save = pm->GetControl(pm->FindControlByName("PresMng_SaveSet", qnctl::Button));
        ASSERT_NE(save, nullptr);
        const qntRECT_s b = save->GetRenderRect();
        r.hp.MoveMouse(r.Global(*pm, (b.left + b.right) / 2, (b.top + b.bottom) / 2));
    });
    // The status line fades to the tip on the window's timer.
    for (int tick = 0; tick < 40; ++tick)
        r.hp.Script([&] {
            r.hp.Advance(30);
            if (CWnd_PresetsManager* pm = manager())
                tip = screentest::ShownText(r.hp, *pm, "PresMng_Status");
        });
    r.hp.Script([&] {
        EXPECT_NE(tip.find("selected"), std::string::npos) << tip;
        EXPECT_EQ(tip.find(" all "), std::string::npos) << tip;
        r.hp.saveAnswers.push_back(plat::SaveChoice{r.h.folder.path, "chosen.qntk", false});
        r.ClickIn(*manager(), "PresMng_SaveSet", qnctl::Button);
    });
    // Appended back: the two selected shapes, in list order.
    r.hp.Script([&] {
        ASSERT_TRUE(std::filesystem::exists(set));
        r.hp.openAnswers.push_back(set);
        r.ClickIn(*manager(), "PresMng_LoadSet", qnctl::Button);
    });
    r.hp.Script([&] {
        CWnd_PresetsManager* pm = manager();
        ASSERT_NE(pm, nullptr);
        std::vector<std::string> now;
        for (uint32_t i = 0; i < pm->GetCount(); ++i)
            now.push_back(pm->Records()[i].name);
        EXPECT_EQ(now, want);
        r.ClickIn(*pm, "PresMng_Done", qnctl::Button);
    });
    r.Finish();
    EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr);
    EXPECT_EQ(r.hp.ScriptLeft(), 0u);
}

// "Writing complete" stays on the status line when Save Set is clicked while
// the button's tip is still fading out or in: the tip came first.
TEST(HostCutterDialogs, WritingCompleteOutlastsTheSaveSetTipStillFading)
{
    if (!HasResources())
        GTEST_SKIP() << "no compiled resource file in this build";
    for (const int ticks : {1, 3, 6}) {
        DialogRun r;
        StandInHost host(Document(ColorMode::RGB, 240, 160, false), HostSettings{});
        std::string shown;
        auto manager = [&r] { return dynamic_cast<CWnd_PresetsManager*>(r.Dialog()); };
        r.hp.Script([&r] { r.ClickEditor("Cutter_Presets"); });
        r.hp.Script([&] {
            CWnd_PresetsManager* pm = manager();
            ASSERT_NE(pm, nullptr);
            pm->List()->SelectItems(0, 0, 1, 0, 1, 1, 1);
            CQNF_Control* save = pm->GetControl(pm->FindControlByName("PresMng_SaveSet", qnctl::Button));
            const qntRECT_s b = save->GetRenderRect();
            r.hp.Activate(pm->GetWindowHandle());
            r.hp.MoveMouse(r.Global(*pm, (b.left + b.right) / 2, (b.top + b.bottom) / 2));
        });
        for (int tick = 0; tick < ticks; ++tick)
            r.hp.Script([&] { r.hp.Advance(30); });
        r.hp.Script([&] {
            CWnd_PresetsManager* pm = manager();
            auto* line = static_cast<CQNF_CtrlStaticText*>(
                pm->GetControl(pm->FindControlByName("PresMng_Status", qnctl::StaticText)));
            EXPECT_LT(line->GetOpacity(), 255) << "the tip is no longer fading after " << ticks << " ticks";
            r.hp.saveAnswers.push_back(plat::SaveChoice{r.h.folder.path, "quick.qntk", false});
            r.ClickIn(*pm, "PresMng_SaveSet", qnctl::Button);
        });
        for (int tick = 0; tick < 40; ++tick)
            r.hp.Script([&] {
                r.hp.Advance(30);
                if (CWnd_PresetsManager* pm = manager())
                    shown = screentest::ShownText(r.hp, *pm, "PresMng_Status");
            });
        r.hp.Script([&] {
            EXPECT_TRUE(std::filesystem::exists(r.h.File("quick.qntk"))) << ticks;
            EXPECT_EQ(shown, "Writing complete") << "clicked " << ticks << " ticks after pointing";
            SaveWindowSnapshot(r.hp, manager()->GetWindowHandle(), "cutter_presets_written.png");
            r.ClickIn(*manager(), "PresMng_Done", qnctl::Button);
        });
        r.Finish();
        EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr);
        EXPECT_EQ(r.hp.ScriptLeft(), 0u);
    }
}

TEST(HostCutterDialogs, ShapeFilesSaveAndLoadThroughTheFileDialogs)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    DialogRun r;
    StandInHost host(Document(ColorMode::RGB, 240, 160, false), HostSettings{});
    const std::string folder = r.h.folder.path;
    SPLINE saved{};
    r.hp.Script([&] {
        r.Editor().opFlipH();
        saved = r.Editor().m_Shape;
        r.hp.saveAnswers.push_back(plat::SaveChoice{folder, "knife.qnth", false});
        r.hp.menuAnswers.push_back(MenuIndex(r.Editor().SaveMenu(), CWnd_CutterEditor::ID_SAVE_SHAPE));
        r.ClickEditor("Cutter_Save");
    });
    r.hp.Script([&] {
        ASSERT_TRUE(std::filesystem::exists(folder + "/knife.qnth"));
        r.Editor().opFlipH();
        ASSERT_FALSE(Near(r.Editor().m_Shape, saved));
        // A file that is not a shape changes nothing; the good one loads.
        std::FILE* f = std::fopen((folder + "/bad.qnth").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs("not a shape", f);
        std::fclose(f);
        r.hp.openAnswers.push_back(folder + "/bad.qnth");
        r.ClickEditor("Cutter_Load");
    });
    r.hp.Script([&] {
        // The failure is told in the message box over the editor.
        ASSERT_NE(r.Dialog(), nullptr);
        r.ClickIn(*r.Dialog(), "MessageBox_OKr", qnctl::Button);
    });
    r.hp.Script([&] {
        EXPECT_EQ(r.Dialog(), nullptr);
        EXPECT_FALSE(Near(r.Editor().m_Shape, saved));
        r.hp.openAnswers.push_back(folder + "/knife.qnth");
        r.ClickEditor("Cutter_Load");
    });
    r.hp.Script([&] { EXPECT_TRUE(Near(r.Editor().m_Shape, saved)); });
    r.Finish();
    EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr);
    EXPECT_EQ(r.hp.ScriptLeft(), 0u);
}

// The plug-in's folder laid out as the build's bundle: the knife shape
// dialogs open in its "shapes" folder and the shape set dialogs in "shapes
// sets", not among the plug-in's own files.
TEST(HostCutterDialogs, ShapeDialogsOpenInTheBundlesShapeFolders)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    DialogRun r;
    const std::filesystem::path bundle = std::string(TESSOLO_BINARY_DIR) + "/bundle/Tessolo";
    for (const auto& e : std::filesystem::directory_iterator(bundle))
        if (e.is_directory())
            std::filesystem::copy(e.path(), r.h.File(e.path().filename().c_str()),
                                  std::filesystem::copy_options::recursive);
    StandInHost host(Document(ColorMode::RGB, 240, 160, false), HostSettings{});
    auto managerOpens = [&r](const char* button) {
        return [&r, button] {
            r.hp.openAnswers.push_back(std::nullopt);
            r.ClickIn(*r.Dialog(), button, qnctl::Button);
        };
    };
    struct Case {
        const char* what;
        std::function<void()> open;
        const char* folder;
    } cases[] = {
        {"the editor's Load",
         [&r] {
             r.hp.openAnswers.push_back(std::nullopt);
             r.ClickEditor("Cutter_Load");
         },
         "shapes"},
        {"the editor's Save",
         [&r] {
             r.hp.saveAnswers.push_back(std::nullopt);
             r.hp.menuAnswers.push_back(MenuIndex(r.Editor().SaveMenu(), CWnd_CutterEditor::ID_SAVE_SHAPE));
             r.ClickEditor("Cutter_Save");
         },
         "shapes"},
        {"the presets manager's Load Shape", managerOpens("PresMng_LoadShape"), "shapes"},
        {"the presets manager's Append Set", managerOpens("PresMng_LoadSet"), "shapes sets"},
        {"the presets manager's Replace Set", managerOpens("PresMng_ReplaceSet"), "shapes sets"},
    };
    std::vector<std::string> shown;
    size_t before = 0;
    for (const Case& c : cases) {
        if (std::string(c.what).find("presets manager") != std::string::npos)
            r.hp.Script([&r] {
                if (!r.Dialog())
                    r.ClickEditor("Cutter_Presets");
            });
        r.hp.Script([&r, &before, c] {
            before = r.hp.dialogsShown.size();
            c.open();
        });
        r.hp.Script([&r, &before, &shown] {
            shown.push_back(r.hp.dialogsShown.size() > before ? r.hp.dialogsShown.back().folder : "no dialog");
        });
    }
    r.hp.Script([&r] {
        if (r.Dialog())
            r.ClickIn(*r.Dialog(), "PresMng_Done", qnctl::Button);
    });
    r.Finish();
    EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr);
    EXPECT_EQ(r.hp.ScriptLeft(), 0u);
    ASSERT_EQ(shown.size(), std::size(cases));
    for (size_t i = 0; i < shown.size(); ++i)
        EXPECT_EQ(shown[i], r.h.File(cases[i].folder)) << cases[i].what;
}

// Whether the hexagons drawn in a picture have flat tops: their longest
// straight runs of line pixels lie along the rows rather than the columns.
// Returns -1 when the picture holds no clear lines either way.
int FlatTopped(const std::vector<uint32_t>& fb, uint16_t width, const qntRECT_s& r)
{
    std::map<uint32_t, size_t> count;
    for (int32_t y = r.top; y < r.bottom; ++y)
        for (int32_t x = r.left; x < r.right; ++x)
            ++count[fb[size_t(y) * width + size_t(x)]];
    uint32_t background = 0;
    size_t most = 0;
    for (const auto& [colour, n] : count)
        if (n > most)
            most = n, background = colour;
    auto line = [&](int32_t x, int32_t y) { return fb[size_t(y) * width + size_t(x)] != background; };
    int32_t alongRows = 0, alongColumns = 0;
    for (int32_t y = r.top + 2; y < r.bottom - 2; ++y)
        for (int32_t x = r.left + 2, run = 0; x < r.right - 2; ++x)
            alongRows = std::max(alongRows, run = line(x, y) ? run + 1 : 0);
    for (int32_t x = r.left + 2; x < r.right - 2; ++x)
        for (int32_t y = r.top + 2, run = 0; y < r.bottom - 2; ++y)
            alongColumns = std::max(alongColumns, run = line(x, y) ? run + 1 : 0);
    // A side of a hexagon is as long as its radius; a slanted side crosses
    // a row or a column in a few pixels only.
    if (alongRows >= alongColumns + 4)
        return 1;
    if (alongColumns >= alongRows + 4)
        return 0;
    return -1;
}

// Each hexagon kind of the Auto Layout dialog: the picture it shows is the
// layout OK builds. Flat-topped hexagons have their tops and bottoms on row
// knives and no column knife on; pointed ones stand on column knives and no
// row knife is on.
TEST(HostCutterDialogs, HexagonalAutoLayoutsBuildWhatTheirPicturesShow)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    for (const char* kind : {"AutoLayout_Hex", "AutoLayout_Hex2"}) {
        DialogRun r;
        StandInHost host(Document(ColorMode::RGB, 240, 160, false), HostSettings{});
        std::vector<uint32_t> before;
        uint32_t extrasBefore = 0;
        int pictureFlat = -1;
        auto pixels = [&r] {
            uint16_t w = 0, h = 0;
            const std::vector<uint32_t>* fb = r.hp.Framebuffer(r.Main().GetWindowHandle(), w, h);
            return fb ? *fb : std::vector<uint32_t>{};
        };
        r.hp.Script([&] {
            before = pixels();
            extrasBefore = r.Main().m_nAuxKnives;
            r.ClickEditor("Cutter_AutoLayout");
        });
        r.hp.Script([&] {
            ASSERT_NE(r.Dialog(), nullptr);
            r.ClickIn(*r.Dialog(), kind, qnctl::RadioButton);
        });
        r.hp.Script([&] {
            CQNF_Window& d = *r.Dialog();
            CQNF_Control* picture = d.GetControl(d.FindControlByName(kind, qnctl::StaticImage));
            ASSERT_NE(picture, nullptr) << kind;
            uint16_t w = 0, h = 0;
            const std::vector<uint32_t>* fb = r.hp.Framebuffer(d.GetWindowHandle(), w, h);
            ASSERT_NE(fb, nullptr);
            SaveWindowSnapshot(r.hp, d.GetWindowHandle(), (std::string(kind) + ".png").c_str());
            pictureFlat = FlatTopped(*fb, w, picture->GetRenderRect());
            ASSERT_NE(pictureFlat, -1) << kind << ": no hexagons seen in the picture";
            r.Return();
        });
        r.hp.Script([&] {
            EXPECT_EQ(r.Dialog(), nullptr);
            CWnd_Main& m = r.Main();
            EXPECT_NE(m.m_nAuxKnives, extrasBefore) << kind;
            uint32_t rowsOn = 0, columnsOn = 0;
            for (uint32_t k = 0; k < m.m_nRowKnives; ++k)
                rowsOn += !m.m_RowKnives[k].off;
            for (uint32_t k = 0; k < m.m_nColKnives; ++k)
                columnsOn += !m.m_ColKnives[k].off;
            ASSERT_NE(rowsOn + columnsOn, 0u) << kind;
            const bool builtFlat = rowsOn > 0 && columnsOn == 0;
            const bool builtPointed = columnsOn > 0 && rowsOn == 0;
            ASSERT_TRUE(builtFlat || builtPointed) << kind << ": rows on " << rowsOn << ", columns on " << columnsOn;
            EXPECT_EQ(pictureFlat == 1, builtFlat) << kind << ": the picture shows " << (pictureFlat ? "flat" : "pointed")
                                                   << " tops, OK built " << (builtFlat ? "flat" : "pointed") << " ones";
            // The kind's tip names the tops it builds, and only those.
            const std::string tip = qnGetStatusTip(kind, "AutoLayout", 1, qnctl::RadioButton);
            EXPECT_NE(tip.find(builtFlat ? "flat" : "pointed"), std::string::npos) << kind << ": " << tip;
            EXPECT_EQ(tip.find(builtFlat ? "pointed" : "flat"), std::string::npos) << kind << ": " << tip;
            const std::vector<uint32_t> after = pixels();
            size_t differing = 0;
            for (size_t i = 0; i < std::min(before.size(), after.size()); ++i)
                differing += before[i] != after[i];
            EXPECT_GT(differing, 100u) << kind;
            // The editor shows the main window's new grid.
            EXPECT_EQ(r.Editor().m_nColumns, m.m_nColSplitters + 1u) << kind;
        });
        r.Finish();
        EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr) << kind;
        EXPECT_EQ(r.hp.ScriptLeft(), 0u) << kind;
    }
}

// With one kind chosen, the pointer on the Auto Layout picture never gets the
// tip of a kind whose picture is hidden there.
TEST(HostCutterDialogs, AutoLayoutHiddenPicturesTakeNoTip)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    const char* const kinds[] = {"AutoLayout_Tri", "AutoLayout_Hex", "AutoLayout_Hex2"};
    for (const char* kind : kinds) {
        DialogRun r;
        StandInHost host(Document(ColorMode::RGB, 240, 160, false), HostSettings{});
        std::string tip;
        r.hp.Script([&r] { r.ClickEditor("Cutter_AutoLayout"); });
        r.hp.Script([&] {
            ASSERT_NE(r.Dialog(), nullptr);
            r.ClickIn(*r.Dialog(), kind, qnctl::RadioButton);
        });
        r.hp.Script([&] {
            CQNF_Window& d = *r.Dialog();
            const qntRECT_s p = d.GetControl(d.FindControlByName(kind, qnctl::StaticImage))->GetRenderRect();
            r.hp.MoveMouse(r.Global(d, (p.left + p.right) / 2, (p.top + p.bottom) / 2));
        });
        // The status line fades to the tip on the window's timer.
        for (int tick = 0; tick < 40; ++tick)
            r.hp.Script([&] {
                r.hp.Advance(30);
                if (CQNF_Window* d = r.Dialog())
                    tip = screentest::ShownText(r.hp, *d, "AutoLayout_Status");
            });
        r.hp.Script([&] {
            EXPECT_FALSE(tip.empty()) << kind;
            for (const char* other : kinds) {
                if (std::strcmp(other, kind) != 0) {
                    EXPECT_NE(tip, qnGetStatusTip(other, "AutoLayout", 1, qnctl::StaticImage))
                        << kind << " shown, the tip is " << other << "'s";
                }
            }
            r.Esc();
        });
        r.Finish();
        EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr) << kind;
        EXPECT_EQ(r.hp.ScriptLeft(), 0u) << kind;
    }
}

namespace {

// The clone display says on the screen, at once, the mode the Clone menu has
// just picked: every mode of the menu, the custom one through its dialog.
TEST(HostCutterDialogs, CloneDisplayFollowsTheCloneMenu)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    DialogRun r;
    StandInHost host(Document(ColorMode::RGB, 240, 160, false), HostSettings{});
    const uint16_t picks[] = {2, 5, 0, 3, 1, 4, 6};  // modes, the last one custom
    std::vector<std::string> shown;
    for (const uint16_t mode : picks) {
        r.hp.Script([&r, mode] {
            const uint16_t id = uint16_t(CWnd_CutterEditor::ID_CLONE_FIRST + mode);
            r.hp.menuAnswers.push_back(MenuIndex(r.Editor().CloneMenu(), id));
            r.ClickEditor("Cutter_Clone");
        });
        if (mode == 6)
            r.hp.Script([&r] { r.ClickIn(*r.Dialog(), "CMuts_Ok", qnctl::Button); });
        r.hp.Script([&r, &shown] { shown.push_back(screentest::ShownText(r.hp, r.Editor(), "Cutter_CloneDisp")); });
    }
    r.Finish();
    EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr);
    EXPECT_EQ(r.hp.ScriptLeft(), 0u);
    std::vector<std::string> expected;
    for (const uint16_t mode : picks)
        expected.push_back(CWnd_CutterEditor::kCloneModes[mode].display);
    EXPECT_EQ(shown, expected);
}

}  // namespace
