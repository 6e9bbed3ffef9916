// The knife editor wired into the running program, headless: every shortcut
// a menu shows reaches the command of its item, the node limit beeps, a
// loaded document's effects last until Reset, and a Cut that has no picture
// to cut leaves the old pieces and the way out of the editor.
#include "road_run.h"

#include "cutter/Wnd_Cutter.h"
#include "ui/Control.h"
#include "ui/KeyCodes.h"
#include "ui/Toolkit.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <utility>

namespace {

using namespace hosttest;
using SPLINE = CWnd_CutterModel::SPLINE_STRUCT;
constexpr uint8_t kVkL = 37;  // the key that types "L"

struct EditorRun : RoadRun {
    EditorRun() { road.SetCutterFactory(&qnMakeCutterWindow); }

    CWnd_Main& Main() { return app->m_WndMain; }
    CWnd_Cutter& Editor() { return static_cast<CMainCutterWindow*>(Main().GetCutter())->Window(); }
    CTessolo& Engine() { return h.plugin->GetEngine(); }
    void Do(std::function<void()> step) { hp.Script(std::move(step)); }
    plat::Point Global(CQNF_Window& w, int32_t x, int32_t y)
    {
        const plat::Rect r = hp.ContentRect(w.GetWindowHandle());
        return {r.left + x, r.top + y};
    }
    // A click on a control of w, which comes to the front first.
    void ClickIn(CQNF_Window& w, const char* name, uint8_t type, uint8_t mods = 0)
    {
        CQNF_Control* c = w.GetControl(w.FindControlByName(name, type));
        ASSERT_NE(c, nullptr) << name;
        const qntRECT_s r = c->GetRenderRect();
        hp.Activate(w.GetWindowHandle());
        hp.Click(Global(w, (r.left + r.right) / 2, (r.top + r.bottom) / 2), mods);
    }
    // With Shift held until the next step.
    void ShiftClick(CQNF_Window& w, const char* button)
    {
        hp.SetKeyState(plat::mods::Shift);
        ClickIn(w, button, qnctl::Button, plat::mods::Shift);
    }
    // A point of the editor's preview, preview-local, on screen.
    plat::Point InPreview(double x, double y)
    {
        CWnd_Cutter& e = Editor();
        return Global(e, e.m_rcPreview.left + int32_t(x), e.m_rcPreview.top + int32_t(y));
    }
    void RightClickPreview()
    {
        hp.Activate(Editor().GetWindowHandle());
        hp.MoveMouse(InPreview(4, 4));
        hp.Press(2);
        hp.Release(2);
    }
    // The editor's grid, as its sliders let go at these values.
    void SetGrid(uint32_t rows, uint32_t columns) { SetEditorGrid(Editor(), rows, columns); }
    // The keys a menu item shows, pressed in the active window.
    void PressShown(const plat::MenuItem& item)
    {
        ASSERT_EQ(item.key.size(), 1u) << item.text;
        const uint8_t want = uint8_t(std::toupper(static_cast<unsigned char>(item.key[0])));
        uint8_t vkey = 0xFF;
        for (uint8_t v = 0; v < 128 && vkey == 0xFF; ++v)
            if (qnkey::ShortcutCharOf(v) == want)
                vkey = v;
        ASSERT_NE(vkey, 0xFF) << item.text << ": no key types '" << item.key << "'";
        const uint8_t mods = uint8_t((item.cmd ? plat::mods::Command : 0) | (item.shift ? plat::mods::Shift : 0) |
                                     (item.option ? plat::mods::Option : 0));
        const uint8_t ch = std::isalpha(want) ? uint8_t(item.shift ? want : std::tolower(want)) : 0;
        hp.Key(vkey, ch, mods);
    }
    uint32_t BevelledPieces()
    {
        uint32_t n = 0;
        for (uint32_t i = 0; i < Engine().m_nPieces; ++i)
            n += Engine().m_pPieces[i].bevel[CTessolo::FX_APPLIED].on != 0;
        return n;
    }
};

// A shape of n nodes on the knife's line, packed into its first third.
SPLINE Packed(uint32_t n)
{
    SPLINE s{};
    s.nodeCount = uint8_t(n);
    for (uint32_t i = 0; i < n; ++i) {
        s.pos[i].U = 0.01 + 0.3 * i / std::max<uint32_t>(n, 1);
        s.pos[i].H = 0.0;
        s.S[i] = 0.5;
    }
    return s;
}

// What the shape menu's commands change: the node selection, the anchor
// points and the extras.
std::string EditorState(const CWnd_Cutter& e)
{
    std::string s;
    for (uint32_t i = 0; i < e.m_Shape.nodeCount; ++i)
        s += char('0' + e.m_Shape.selected[i]);
    return s + "|anchors " + char('0' + e.m_bAnchorsShown) + "|extras " + char('0' + e.m_bExtrasVisible);
}

// What the main window's commands change: the layout and the pieces'
// records, zoom, extras, mode, the file dialogs shown and the window that
// came up on top.
std::string MainState(EditorRun& r)
{
    CWnd_Main& w = r.Main();
    CQNF_Mem block;
    uint32_t length = 0;
    std::string bytes;
    if (w.settings_SaveCurLayoutAndCellSettingsToMem(&block, length) && block.GetPtr())
        bytes.assign(reinterpret_cast<const char*>(block.GetPtr()), length);
    std::string top;
    if (!r.hp.ZOrder().empty())
        if (CQNF_Window* t = qnui::Toolkit::Get().Find(r.hp.ZOrder().back()))
            top = t->GetName();
    return "layout " + std::to_string(std::hash<std::string>{}(bytes)) + "|zoom " + std::to_string(w.m_nZoom) +
           "|extras " + std::to_string(w.m_bCMExtras) + std::to_string(w.m_bPMExtras) + "|cut " +
           std::to_string(w.m_bCutMode) + "|fx " + std::to_string(w.m_bFXMode) + "|file dialogs " +
           std::to_string(r.hp.dialogsShown.size()) +
           (r.hp.dialogsShown.empty() ? "" : " " + r.hp.dialogsShown.back().title) + "|top " + top;
}

constexpr const char* kMainMenus[] = {"Main_Select", "Main_Adjust", "Main_Ruler", "Main_Main"};

// Every command whose shortcut a menu of the main window shows, run one
// after another from the same start, chosen from its menu or typed; the
// window's state after each, by item text.
std::vector<std::pair<std::string, std::string>> RunMainCommands(bool pieces, bool typed)
{
    std::vector<std::pair<std::string, std::string>> out;
    EditorRun r;
    StandInHost host(Document(ColorMode::RGB, 160, 120, false), HostSettings{});
    if (pieces) {
        r.Do([&] { r.SetGrid(2, 3); });
        r.Do([&] { r.ClickIn(r.Editor(), "Cutter_Cut", qnctl::Button); });
    }
    // The rows of each menu as first shown.
    std::vector<std::vector<plat::MenuItem>> menus(std::size(kMainMenus));
    for (size_t m = 0; m < std::size(kMainMenus); ++m) {
        r.Do([&, m] {
            r.hp.menuAnswers.push_back(-1);
            r.ClickIn(r.Main(), kMainMenus[m], qnctl::Button);
        });
        r.Do([&, m] { menus[m] = r.hp.menusShown.back(); });
    }
    for (size_t m = 0; m < std::size(kMainMenus); ++m)
        for (size_t row = 0; row < 40; ++row) {
            auto item = [&menus, m, row]() -> const plat::MenuItem* {
                return row < menus[m].size() && !menus[m][row].key.empty() ? &menus[m][row] : nullptr;
            };
            // The menu as it is now: an item disabled here is not run.
            r.Do([&, m, item] {
                if (!item())
                    return;
                r.hp.menuAnswers.push_back(-1);
                r.ClickIn(r.Main(), kMainMenus[m], qnctl::Button);
            });
            r.Do([&, m, row, item] {
                if (!item() || r.hp.menusShown.back()[row].disabled)
                    return;
                std::srand(7);
                r.hp.saveAnswers.push_back(std::nullopt);
                r.hp.openAnswers.push_back(std::nullopt);
                if (typed) {
                    r.hp.Activate(r.Main().GetWindowHandle());
                    r.PressShown(*item());
                } else {
                    r.hp.menuAnswers.push_back(int(row));
                    r.ClickIn(r.Main(), kMainMenus[m], qnctl::Button);
                }
            });
            // Inside the dialog it opened, if any: the state, then Esc.
            r.Do([&, item] {
                if (!item())
                    return;
                out.emplace_back(item()->text, MainState(r));
                r.hp.saveAnswers.clear();
                r.hp.openAnswers.clear();
                const plat::WinId top = r.hp.ZOrder().back();
                if (top != r.Main().GetWindowHandle()) {
                    r.hp.Activate(top);
                    r.hp.Key(qnkey::vk::Escape, 27);
                }
            });
        }
    r.Do([&] { r.ClickIn(r.Main(), "Main_Cancel", qnctl::Button); });
    EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr);
    EXPECT_EQ(r.hp.ScriptLeft(), 0u);
    return out;
}

}  // namespace

TEST(HostCutterWiring, EveryShortcutTheMainMenusShowDoesWhatItsItemDoes)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    for (const bool pieces : {false, true}) {
        const auto viaMenu = RunMainCommands(pieces, false);
        const auto viaKeys = RunMainCommands(pieces, true);
        ASSERT_EQ(viaKeys.size(), viaMenu.size());
        EXPECT_GT(viaMenu.size(), 15u);
        for (size_t i = 0; i < viaMenu.size(); ++i)
            EXPECT_EQ(viaKeys[i], viaMenu[i]) << (pieces ? "piece mode: " : "cut mode: ") << viaMenu[i].first
                                              << ": its shortcut does something else";
    }
}

TEST(HostCutterWiring, EveryShortcutTheShapeMenuShowsDoesWhatItsItemDoes)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    EditorRun r;
    StandInHost host(Document(ColorMode::RGB, 160, 120, false), HostSettings{});
    std::vector<plat::MenuItem> menu;
    // Half the nodes selected, anchors and extras shown: every command of
    // the menu changes something from here.
    auto base = [&] {
        CWnd_Cutter& e = r.Editor();
        for (uint32_t i = 0; i < e.m_Shape.nodeCount; ++i)
            e.m_Shape.selected[i] = uint8_t(i % 2);
        if (!e.m_bAnchorsShown)
            e.DoHideNodes();
        if (!e.m_bExtrasVisible)
            e.DoHideExtras();
        return EditorState(e);
    };
    r.Do([&] {
        r.Editor().opSetShapeFromData(Packed(6), 1);
        base();
        r.hp.menuAnswers.push_back(-1);
        r.RightClickPreview();
    });
    r.Do([&] {
        ASSERT_EQ(r.hp.menusShown.size(), 1u);
        menu = r.hp.menusShown[0];
    });
    // Per item with a shortcut: the item chosen, then its keys pressed, both
    // from the same state.
    std::vector<std::string> checked;
    std::string viaMenu, before;
    for (size_t i = 0; i < 32; ++i) {
        r.Do([&, i] {
            if (i >= menu.size() || menu[i].key.empty())
                return;
            before = base();
            r.hp.menuAnswers.push_back(int(i));
            r.RightClickPreview();
        });
        r.Do([&, i] {
            if (i >= menu.size() || menu[i].key.empty())
                return;
            viaMenu = EditorState(r.Editor());
            EXPECT_NE(viaMenu, before) << menu[i].text << " changed nothing";
            base();
            r.PressShown(menu[i]);
        });
        r.Do([&, i] {
            if (i >= menu.size() || menu[i].key.empty())
                return;
            EXPECT_EQ(EditorState(r.Editor()), viaMenu) << menu[i].text << ": its shortcut does something else";
            checked.push_back(menu[i].text);
        });
    }
    r.Do([&] { r.ClickIn(r.Main(), "Main_Cancel", qnctl::Button); });
    EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr);
    EXPECT_EQ(checked, (std::vector<std::string>{"Select All", "Deselect", "Inverse Selection", "Show Extras",
                                                 "Show Anchor Points"}));
}

TEST(HostCutterWiring, TheNodeLimitBeepsAndAddsNothing)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    struct Case {
        uint32_t nodes, after, beeps;
    } cases[] = {{63, 64, 0}, {64, 64, 1}};
    for (const Case& c : cases) {
        EditorRun r;
        StandInHost host(Document(ColorMode::RGB, 160, 120, false), HostSettings{});
        uint32_t beeps = 0;
        r.Do([&] {
            CWnd_Cutter& e = r.Editor();
            e.opSetShapeFromData(Packed(c.nodes), 1);
            // A click on the knife's line below the last node inserts a node.
            const CWnd_CutterEditor::GEOMETRY& g = e.Geometry();
            beeps = r.hp.beeps;
            r.hp.Activate(e.GetWindowHandle());
            r.hp.Click(r.InPreview(g.start.x + 0.8 * (g.end.x - g.start.x), g.start.y + 0.8 * (g.end.y - g.start.y)));
        });
        r.Do([&] {
            EXPECT_EQ(r.Editor().m_Shape.nodeCount, c.after) << c.nodes;
            EXPECT_EQ(r.hp.beeps - beeps, c.beeps) << c.nodes;
            r.ClickIn(r.Main(), "Main_Cancel", qnctl::Button);
        });
        EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr);
        EXPECT_EQ(r.hp.ScriptLeft(), 0u);
    }
}

TEST(HostCutterWiring, ALoadedDocumentsEffectsLastUntilReset)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    for (const bool reset : {false, true}) {
        EditorRun r;
        StandInHost host(Document(ColorMode::RGB, 160, 120, false), HostSettings{});
        const std::string doc = r.h.File("pieces.qntd");
        r.Do([&] { r.SetGrid(2, 2); });
        r.Do([&] { r.ClickIn(r.Editor(), "Cutter_Cut", qnctl::Button); });
        // Every piece bevelled by default; the bevel off for all of them,
        // saved so, and on again.
        r.Do([&] {
            ASSERT_EQ(r.Engine().m_nPieces, 4u);
            EXPECT_EQ(r.BevelledPieces(), 4u);
            r.hp.Activate(r.Main().GetWindowHandle());
            r.hp.Key(qnkey::vk::A, 'a', plat::mods::Command);
        });
        r.Do([&] { r.ShiftClick(r.Main(), "Main_FXBevel"); });
        r.Do([&] {
            r.hp.SetKeyState(0);
            ASSERT_EQ(r.BevelledPieces(), 0u);
            r.hp.saveAnswers.push_back(plat::SaveChoice{r.h.folder.path, "pieces.qntd", false});
            r.hp.Key(qnkey::vk::S, 's', plat::mods::Command);
        });
        r.Do([&] {
            ASSERT_TRUE(std::filesystem::exists(doc));
            r.ShiftClick(r.Main(), "Main_FXBevel");
        });
        // Loading goes back to the editor, whose Cut gives the document's
        // effects, or after Reset those the pieces had when it opened.
        r.Do([&] {
            r.hp.SetKeyState(0);
            ASSERT_EQ(r.BevelledPieces(), 4u);
            r.hp.openAnswers.push_back(doc);
            r.hp.Activate(r.Main().GetWindowHandle());
            r.hp.Key(kVkL, 'l', plat::mods::Command);
        });
        r.Do([&] {
            ASSERT_EQ(r.Main().m_bCutMode, 1);
            ASSERT_TRUE(r.Editor().IsOpen());
            if (reset)
                r.ClickIn(r.Editor(), "Cutter_Reset", qnctl::Button);
        });
        r.Do([&] { r.ClickIn(r.Editor(), "Cutter_Cut", qnctl::Button); });
        r.Do([&] {
            EXPECT_EQ(r.Main().m_bCutMode, 0);
            ASSERT_EQ(r.Engine().m_nPieces, 4u);
            EXPECT_EQ(r.BevelledPieces(), reset ? 4u : 0u) << (reset ? "after Reset" : "without Reset");
            r.ClickIn(r.Main(), "Main_Cancel", qnctl::Button);
        });
        EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr);
        EXPECT_EQ(r.hp.ScriptLeft(), 0u) << reset;
    }
}

TEST(HostCutterWiring, ACutWithNoPictureKeepsThePiecesAndTheWayOut)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    EditorRun r;
    StandInHost host(Document(ColorMode::RGB, 160, 120, false), HostSettings{});
    r.Do([&] { r.SetGrid(2, 3); });
    r.Do([&] { r.ClickIn(r.Editor(), "Cutter_Cut", qnctl::Button); });
    r.Do([&] {
        ASSERT_EQ(r.Engine().m_nPieces, 6u);
        r.ClickIn(r.Main(), "Main_Relayout", qnctl::Button);
    });
    // The editor finds no picture to cut (as when the document's alpha and
    // colours differ in size).
    r.Do([&] {
        ASSERT_TRUE(r.Editor().IsOpen());
        r.Editor().SetCutSource(CWnd_CutterEditor::CUTSOURCE{});
        r.ClickIn(r.Editor(), "Cutter_Cut", qnctl::Button);
    });
    r.Do([&] {
        CWnd_Cutter& e = r.Editor();
        EXPECT_TRUE(e.IsOpen());
        EXPECT_EQ(r.Engine().m_nPieces, 6u) << "the old pieces are kept";
        EXPECT_EQ(e.m_bCutting, 0);
        EXPECT_TRUE(e.FindControl("Cutter_Cancel", qnctl::Button)->IsEnabled());
        r.ClickIn(e, "Cutter_Cancel", qnctl::Button);
    });
    r.Do([&] {
        EXPECT_FALSE(r.Main().GetCutter()->IsOpen());
        EXPECT_EQ(r.Main().m_bCutMode, 0) << "back to the pieces";
        EXPECT_EQ(r.Engine().m_nPieces, 6u);
        r.ClickIn(r.Main(), "Main_Cancel", qnctl::Button);
    });
    EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr);
    EXPECT_EQ(r.hp.ScriptLeft(), 0u);
}

TEST(HostCutterWiring, WindowsAndDialogsReopenWhereTheyWereLeft)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    EditorRun r;
    // Where each window is put in the first run, and found in the second.
    struct Place {
        const char* what;
        short x, y;
        qntRECT_s found;
    } mainAt{"main window", 61, 47, {}}, fxAt{"bevel window", 333, 211, {}}, editorAt{"knife editor", 517, 93, {}},
        nameAt{"shape name dialog", 405, 301, {}}, presetsAt{"presets manager", 222, 111, {}};
    // A dialog the editor opens with a button: moved in the first run,
    // found in the second, and left with the control that keeps its place.
    auto dialog = [&](const char* button, Place& place, const char* leave, int run) {
        r.Do([&, button] { r.ClickIn(r.Editor(), button, qnctl::Button); });
        r.Do([&, leave, run] {
            CQNF_Window* d = qnui::Toolkit::Get().TopModal();
            ASSERT_NE(d, nullptr) << place.what;
            if (run)
                place.found = d->GetWindowRect();
            else
                d->MoveWindow(place.x, place.y);
            if (!std::strcmp(leave, "ShapeName_Ok"))
                for (const char ch : std::string("Knob"))
                    r.hp.Key(0xFF, uint8_t(ch));
            r.ClickIn(*d, leave, qnctl::Button);
        });
    };
    auto top = [&] { return qnui::Toolkit::Get().Find(r.hp.ZOrder().back()); };
    for (int run = 0; run < 2; ++run) {
        StandInHost host(Document(ColorMode::RGB, 160, 120, false), HostSettings{});
        r.Do([&, run] {
            if (run)
                mainAt.found = r.Main().GetWindowRect();
            else
                r.Main().MoveWindow(mainAt.x, mainAt.y);
            r.SetGrid(2, 2);
        });
        r.Do([&] { r.ClickIn(r.Editor(), "Cutter_Cut", qnctl::Button); });
        r.Do([&] {
            ASSERT_EQ(r.Main().m_bCutMode, 0);
            r.hp.Activate(r.Main().GetWindowHandle());
            r.hp.Key(11, 'b', plat::mods::Command);  // the key that types "B": Bevel
        });
        r.Do([&, run] {
            CQNF_Window* fx = top();
            ASSERT_NE(fx, nullptr);
            ASSERT_STREQ(fx->GetName(), "FXbevel");
            if (run)
                fxAt.found = fx->GetWindowRect();
            else
                fx->MoveWindow(fxAt.x, fxAt.y);
            r.ClickIn(*fx, "FXbevel_Ok", qnctl::Button);
        });
        r.Do([&] {
            ASSERT_EQ(r.Main().m_bFXMode, 0);
            r.ClickIn(r.Main(), "Main_Relayout", qnctl::Button);
        });
        dialog("Cutter_AddToPM", nameAt, "ShapeName_Ok", run);
        dialog("Cutter_Presets", presetsAt, "PresMng_Done", run);
        r.Do([&, run] {
            CWnd_Cutter& e = r.Editor();
            ASSERT_TRUE(e.IsOpen());
            if (run)
                editorAt.found = e.GetWindowRect();
            else
                e.MoveWindow(editorAt.x, editorAt.y);
            r.ClickIn(e, "Cutter_Cancel", qnctl::Button);
        });
        r.Do([&] { r.ClickIn(r.Main(), "Main_Cancel", qnctl::Button); });
        EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr) << run;
        EXPECT_EQ(r.hp.ScriptLeft(), 0u) << run;
    }
    for (const Place* p : {&mainAt, &fxAt, &editorAt, &nameAt, &presetsAt}) {
        EXPECT_EQ(p->found.left, p->x) << p->what;
        EXPECT_EQ(p->found.top, p->y) << p->what;
    }
}
