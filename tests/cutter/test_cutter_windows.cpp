// The knife editor's dialog windows on the headless platform, driven by
// injected clicks and keys: the presets manager, the shape name, auto layout
// and custom mutations dialogs, and the shape file commands through the
// scripted file dialogs.
#include "../app/app_fixture.h"
#include "../app/test_app_dialogs_fixture.h"
#include "../app/test_app_export_fixture.h"
#include "app/Wnd_Export.h"
#include "app/Wnd_Pref.h"
#include "cutter/Wnd_Dialogs.h"
#include "imaging/Font.h"
#include "cutter/Wnd_PresetsManager.h"
#include "cutter_test_util.h"
#include "../ui/screen_text.h"
#include "ui/CtrlEditLine.h"
#include "ui/CtrlList.h"
#include "ui/CtrlScrollBar.h"
#include "ui/CtrlSlider.h"
#include "ui/CtrlStatic.h"
#include "ui/KeyCodes.h"

#include <functional>

namespace {

using namespace dialog_test;
using cutter_test::MakeShape;
using cutter_test::MemPresetsFile;
using SPLINE = CWnd_CutterModel::SPLINE_STRUCT;

class CutterWindows : public DialogEnv {
protected:
    std::vector<std::string> Ten()
    {
        std::vector<std::string> n;
        for (int i = 0; i < 10; ++i)
            n.push_back("Shape " + std::to_string(i));
        return n;
    }
};

TEST_F(CutterWindows, ShapeNameOkOnlyForANameThatIsNotBlank)
{
    struct Case {
        const char* what;
        std::string typed;
        std::string then;  // typed once the refused OK gave the field the focus back
        bool ok;
        std::string name;
    } cases[] = {
        {"blanks only: OK does nothing, Esc cancels", "   ", "", false, ""},
        {"leading blanks are kept", "  Knob", "", true, "  Knob"},
        // A refused Return leaves the keys that follow to the field.
        {"blanks, Return, then a name", " ", "Knob", true, "Knob"},
    };
    for (const Case& c : cases) {
        host.positions.clear();
        std::string name;
        // The first Return ends editing in the focused name field, the next
        // reaches the dialog.
        P.Script([&] { Type(c.typed); });
        P.Script([&] { Return(); });
        P.Script([&] { Return(); });
        if (!c.then.empty()) {
            P.Script([&] { Type(c.then.c_str()); });
            P.Script([&] { Return(); });
            P.Script([&] { Return(); });
        }
        if (!c.ok) {
            // The refused OK focused the field again: its Esc first.
            P.Script([&] { Esc(); });
            P.Script([&] { Esc(); });
        }
        EXPECT_EQ(DoShapeNameDialog(nullptr, host, "Pres Mng", name), c.ok) << c.what;
        // The field takes the focus back with its text selected, or with the
        // caret after it: the name is the new one either way.
        CQNF_String trimmed(name.c_str());
        trimmed.TrimBoth();
        EXPECT_EQ(c.then.empty() ? name : std::string(trimmed.GetStr()), c.name) << c.what;
        EXPECT_EQ(host.positions.count("Shape Name|Pres Mng"), c.ok ? 1u : 0u) << c.what;
        EXPECT_EQ(P.ScriptLeft(), 0u) << c.what;
    }

    // A name taken back with Esc leaves the field blank again, and OK as
    // refused as when the dialog opened: neither Return nor a click on OK
    // may make a preset without a name.
    const plat::Point ok = ControlOnScreen("ShapeName", "ShapeName_Ok", qnctl::Button);
    std::string name;
    P.Script([&] { Type("Alpha"); });
    P.Script([&] { Esc(); });
    P.Script([&] {
        CQNF_Window* d = qnui::Toolkit::Get().TopModal();
        ASSERT_NE(d, nullptr);
        EXPECT_FALSE(Find(*d, "ShapeName_Ok", qnctl::Button)->IsEnabled());
        P.Click(ok);
    });
    P.Script([&] { Return(); });
    P.Script([&] { Esc(); });
    P.Script([&] { Esc(); });
    EXPECT_FALSE(DoShapeNameDialog(nullptr, host, "Pres Mng", name));
    EXPECT_EQ(name, "");
    EXPECT_EQ(P.ScriptLeft(), 0u);
}

// Blanks typed before a shape's name take their room in the field, while it
// is edited and after: the name's first ink stands as far right of where a
// name without them starts as the blanks' advance in the field's font.
TEST_F(CutterWindows, LeadingBlanksOfAShapeNameAreDrawn)
{
    CQNF_Font font;
    ASSERT_TRUE(font.Open(app.GetStorage(), "UIResources>Fonts>List Font"));
    unsigned long withBlanks = 0, without = 0, h = 0;
    ASSERT_TRUE(font.GetTextSize(CQNF_String("  K"), 12, withBlanks, h));
    ASSERT_TRUE(font.GetTextSize(CQNF_String("K"), 12, without, h));
    ASSERT_GT(withBlanks, without);
    // The first column, from the field's left, that differs from the field's
    // own colour at its right end (focused: editing; then after a click
    // beside the field).
    auto firstInk = [&](const std::string& typed, bool focused) {
        CWnd_ShapeName dlg(host, "", "Cutter");
        EXPECT_TRUE(dlg.CreateFromResource("ShapeName", 40, 40, nullptr, 0));
        dlg.Show();
        P.Activate(dlg.GetWindowHandle());
        Pump();
        Type(typed);
        Pump();
        const qntRECT_s r = Find(dlg, "ShapeName_Name", qnctl::EditLine)->GetRenderRect();
        if (!focused) {
            P.Click(Global(dlg, r.left, r.bottom + 12));
            Pump();
        }
        EXPECT_EQ(Find(dlg, "ShapeName_Name")->IsFocused(), focused);
        int32_t first = -1;
        for (int32_t x = r.left + 2; x < r.right - 2 && first < 0; ++x)
            for (int32_t y = r.top + 2; y < r.bottom - 2 && first < 0; ++y)
                if (P.Pixel(dlg.GetWindowHandle(), x, y) != P.Pixel(dlg.GetWindowHandle(), r.right - 3, y))
                    first = x;
        dlg.Close();
        Pump();
        return first;
    };
    for (const bool focused : {true, false}) {
        SCOPED_TRACE(focused ? "editing" : "after editing");
        const int32_t plain = firstInk("Knob", focused), blanks = firstInk("  Knob", focused);
        ASSERT_GT(plain, 0);
        EXPECT_EQ(blanks - plain, int32_t(withBlanks - without));
    }
}

// In every dialog with an edit line a focused line takes Esc and Return:
// Esc gives it back the text it had when it took the focus, Return confirms
// what was typed, either ends the edit and the dialog stays. The next press,
// with no line focused, is the dialog's: Esc cancels and keeps nothing,
// Return confirms and keeps the value the line confirmed.
TEST_F(CutterWindows, EscAndReturnInAFocusedFieldEndTheEditAndTheNextPressTheDialog)
{
    TempDir dir;
    CQNF_Storage conf;
    ASSERT_TRUE(conf.Open(CQNF_String((dir / "plugin.conf").c_str()), 2));
    host.conf = &conf;
    app_test::Model main(120, 90);
    CWnd_CutterModel cutter;
    std::string name = "Knob";
    CPreferences prefs;
    const CPreferences prefsBefore = prefs;
    CAutoLayoutModel layoutBefore;
    layoutBefore.settings_Load(&conf);
    struct Row {
        const char* window;
        const char* field;
        std::function<int()> run;  // the dialog's result
        std::function<bool()> unchanged;
        std::function<bool()> kept;  // what was typed made it through OK
        const char* typed = "7";
    };
    const std::vector<Row> rows = {
        {"ShapeName", "ShapeName_Name", [&] { return int(DoShapeNameDialog(nullptr, host, "Cutter", name)); },
         [&] { return name == "Knob"; }, [&] { return name == "7"; }},
        {"AutoLayout", "AutoLayout_Rows", [&] { return DoAutoLayoutWindow(nullptr, host, &main); },
         [&] {
             CAutoLayoutModel stored;
             stored.settings_Load(&conf);
             return stored.m_nRows == layoutBefore.m_nRows && stored.m_nKind == layoutBefore.m_nKind;
         },
         [&] {
             CAutoLayoutModel stored;
             stored.settings_Load(&conf);
             return stored.m_nRows == 7;
         }},
        {"CMuts", "CMuts_MutU", [&] { return DoCustomMutationsWindow(nullptr, host, cutter); },
         [&] { return cutter.m_nCloneMode != CWnd_CutterModel::kCloneModeCustom; },
         [&] {
             return cutter.m_nCloneMode == CWnd_CutterModel::kCloneModeCustom && cutter.m_fMutU > 0.069f &&
                    cutter.m_fMutU < 0.071f;
         }},
        {"Pref", "Pref_DisOpacity", [&] { return DoPrefDialog(nullptr, host, prefs); },
         [&] { return prefs == prefsBefore; }, [&] { return prefs.delKnifeOpacity == 50 * 255 / 100; }, "50"},
    };
    for (const bool esc : {true, false})
        for (const Row& r : rows) {
            SCOPED_TRACE(std::string(r.window) + (esc ? " with Esc" : " with Return"));
            host.positions.clear();
            const plat::Point field = ControlOnScreen(r.window, r.field, qnctl::EditLine);
            auto key = [&] { esc ? Esc() : Return(); };
            std::string before;
            P.Script([&] {
                CQNF_Window* d = qnui::Toolkit::Get().TopModal();
                ASSERT_NE(d, nullptr);
                before = static_cast<CQNF_CtrlEditLine*>(Find(*d, r.field, qnctl::EditLine))->GetText().GetStr();
                P.Click(field);
                P.Key(0, 'a', plat::mods::Command);
                Type(r.typed);
            });
            P.Script(key);
            P.Script([&] {
                CQNF_Window* d = qnui::Toolkit::Get().TopModal();
                ASSERT_NE(d, nullptr) << "the key in the field ended the dialog";
                auto* e = static_cast<CQNF_CtrlEditLine*>(Find(*d, r.field, qnctl::EditLine));
                EXPECT_FALSE(e->IsFocused());
                EXPECT_EQ(std::string(e->GetText().GetStr()), esc ? before : std::string(r.typed));
                key();
            });
            EXPECT_EQ(r.run(), esc ? 0 : 1);
            EXPECT_EQ(P.ScriptLeft(), 0u);
            if (esc) {
                EXPECT_TRUE(r.unchanged());
                EXPECT_TRUE(host.positions.empty()) << "a cancelled dialog stores no position";
            } else {
                EXPECT_TRUE(r.kept());
            }
        }
}

TEST_F(CutterWindows, AutoLayoutOkStoresAndLaysCancelDoesNot)
{
    TempDir dir;
    CQNF_Storage conf;
    ASSERT_TRUE(conf.Open(CQNF_String((dir / "plugin.conf").c_str()), 2));
    host.conf = &conf;
    app_test::Model main(120, 90);
    const plat::Point hex2 = ControlOnScreen("AutoLayout", "AutoLayout_Hex2", qnctl::RadioButton);
    const plat::Point regular = ControlOnScreen("AutoLayout", "AutoLayout_Regular", qnctl::CheckBox);
    for (int ok = 0; ok < 2; ++ok) {
        P.Script([&] { P.Click(hex2); });
        P.Script([&] { P.Click(regular); });
        P.Script([&] { ok ? Return() : Esc(); });
        EXPECT_EQ(DoAutoLayoutWindow(nullptr, host, &main), ok);
        CAutoLayoutModel stored;
        stored.settings_Load(&conf);
        EXPECT_EQ(stored.m_nKind, ok ? 2 : 0);
        EXPECT_EQ(stored.m_bRegular, ok ? 1 : 0);
    }
    EXPECT_EQ(host.positions.count("AutoLayout|Cutter"), 1u);
}

TEST_F(CutterWindows, CustomMutationsEditClampsAndOkHandsTheAmountsOver)
{
    CWnd_CutterModel cutter;
    const uint32_t mode = cutter.m_nCloneMode;
    CWnd_CustomMutations dlg(host, CCustomMutationsModel{});
    ASSERT_TRUE(dlg.CreateFromResource("CMuts", 50, 50, nullptr, 1));
    auto* edit = static_cast<CQNF_CtrlEditLine*>(Find(dlg, "CMuts_MutU", qnctl::EditLine));
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(std::string(edit->GetText().GetStr()), "0");
    P.Script([&] {
        P.Click(Centre(dlg, edit->GetRenderRect()));
        P.Key(0, 'a', plat::mods::Command);
        Type("150");
    });
    // Return in the edit confirms it; the next one runs OK.
    P.Script([&] { Return(); });
    P.Script([&] { Return(); });
    EXPECT_EQ(dlg.DoModal(), 1);
    EXPECT_EQ(std::string(edit->GetText().GetStr()), "100") << "the confirmed edit shows the clamped value";
    EXPECT_FLOAT_EQ(dlg.Model().m_fAmount[CCustomMutationsModel::kU], 1.0f);
    EXPECT_EQ(static_cast<CQNF_CtrlSlider*>(Find(dlg, "CMuts_MutU", qnctl::Slider))->GetValueD(0, 100), 100u);

    // Through the entry point: Esc leaves the editor alone.
    P.Script([&] { Esc(); });
    EXPECT_EQ(DoCustomMutationsWindow(nullptr, host, cutter), 0);
    EXPECT_EQ(cutter.m_nCloneMode, mode);
    P.Script([&] { Return(); });
    EXPECT_EQ(DoCustomMutationsWindow(nullptr, host, cutter), 1);
    EXPECT_EQ(cutter.m_nCloneMode, CWnd_CutterModel::kCloneModeCustom);
}

TEST_F(CutterWindows, PresetsIconsSelectPageAndDoubleClickTakesAShape)
{
    MemPresetsFile store;
    store.Hold(Ten());
    std::vector<SPLINE> received;
    CWnd_PresetsManager w(host, store, [&](const SPLINE& s) { received.push_back(s); });
    ASSERT_TRUE(w.CreateFromResource("PresMng", 20, 20, nullptr, 1));
    w.Show();
    w.SetFocus();
    ASSERT_EQ(w.List()->GetItemsCount(), 10u);
    EXPECT_FALSE(Find(w, "PresMng_ToCutter")->IsEnabled());

    // A click on the second icon selects record 1 alone; Command-click adds
    // the third; two selected disable the single-record buttons.
    P.Click(Centre(w, w.IconRect(1)));
    Pump();
    EXPECT_EQ(w.GetSelectedCount(), 1u);
    EXPECT_TRUE(w.IsSelected(1));
    EXPECT_TRUE(Find(w, "PresMng_RenShape")->IsEnabled());
    P.Advance(1000);
    P.Click(Centre(w, w.IconRect(2)), plat::mods::Command);
    Pump();
    EXPECT_EQ(w.GetSelectedCount(), 2u);
    EXPECT_FALSE(Find(w, "PresMng_ToCutter")->IsEnabled());
    EXPECT_TRUE(Find(w, "PresMng_DelShape")->IsEnabled());
    unsigned char sel = 0;
    w.List()->GetItem(2, nullptr, &sel, nullptr);
    EXPECT_EQ(sel, 1) << "the list follows the icons";

    // Selecting record 9 in the list brings it to the first icon.
    w.List()->SelectItems(9, 9, 1, 0, 1, 1, 1);
    Pump();
    EXPECT_EQ(w.m_nFirst, 9u);
    EXPECT_EQ(w.SlotRecord(0), 9);
    EXPECT_EQ(w.SlotRecord(1), -1);

    // Big icons: two a page.
    P.Advance(1000);
    Click(w, "PresMng_Lico");
    Pump();
    EXPECT_EQ(w.PageSize(), 2u);

    // A double click on the icon of record 9 sends its shape.
    P.Advance(1000);
    const plat::Point icon = Centre(w, w.IconRect(0));
    P.Click(icon);
    Pump();
    P.Click(icon);
    Pump();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].nodeCount, 10) << "record 9 holds 10 nodes";

    // Forward delete removes the selection; Esc closes and writes the store.
    P.Script([&] { P.Key(117, 0); });
    P.Script([&] { Esc(); });
    EXPECT_EQ(w.DoModal(), 0);
    EXPECT_EQ(store.Names().size(), 9u);
    EXPECT_EQ(host.positions.count("Pres Mng|Cutter"), 1u);
}

// What the presets manager has just done is on the screen at once: the
// names under the big icons of the page shown, and the end of writing a set.
TEST_F(CutterWindows, PresetsNamesAndWritingStatusShowAtOnce)
{
    TempDir dir;
    MemPresetsFile store;
    store.Hold(Ten());
    CWnd_PresetsManager w(host, store, nullptr);
    ASSERT_TRUE(w.CreateFromResource("PresMng", 20, 20, nullptr, 1));
    w.Show();
    w.SetFocus();
    auto shown = [&](const char* name) { return screentest::ShownText(P, w, name); };
    Click(w, "PresMng_Lico");
    Pump();
    ASSERT_EQ(w.PageSize(), 2u);
    EXPECT_EQ(shown("PresMng_BigIcoName1"), "Shape 0");
    EXPECT_EQ(shown("PresMng_BigIcoName2"), "Shape 1");
    w.List()->SelectItems(4, 4, 1, 0, 1, 1, 1);
    Pump();
    EXPECT_EQ(shown("PresMng_BigIcoName1"), w.Records()[w.SlotRecord(0)].name);
    EXPECT_EQ(shown("PresMng_BigIcoName2"), w.Records()[w.SlotRecord(1)].name);
    EXPECT_NE(w.SlotRecord(0), 0);

    P.saveAnswers.push_back(plat::SaveChoice{dir.path.string(), "three.qntk", false});
    w.List()->SelectItems(0, 2, 1, 0, 1, 1, 1);
    Pump();
    Click(w, "PresMng_SaveSet");
    Pump();
    ASSERT_TRUE(fs::exists(dir / "three.qntk"));
    EXPECT_EQ(shown("PresMng_Status"), "Writing complete");
    w.Close();
}

TEST_F(CutterWindows, PresetsSelectAllAndInverseFromTheKeyboard)
{
    MemPresetsFile store;
    store.Hold(Ten());
    CWnd_PresetsManager w(host, store, nullptr);
    ASSERT_TRUE(w.CreateFromResource("PresMng", 20, 20, nullptr, 1));
    w.Show();
    w.SetFocus();
    constexpr uint8_t kVkI = 34;  // the key that types "I"
    const uint8_t inverse = plat::mods::Command | plat::mods::Shift;
    std::vector<bool> want(10, false);
    // The list as the screen shows it.
    const qntRECT_s list = Find(w, "PresMng_List")->GetRenderRect();
    auto shown = [&] {
        std::vector<uint32_t> px;
        for (int32_t y = list.top; y < list.bottom; ++y)
            for (int32_t x = list.left; x < list.right; ++x)
                px.push_back(P.Pixel(w.GetWindowHandle(), x, y));
        return px;
    };
    std::vector<uint32_t> before = shown();
    // One icon clicked; then Command-A, Command-Shift-I, Command-Shift-I:
    // each changes every item's selection, and the list shows it.
    P.Click(Centre(w, w.IconRect(3)));
    Pump();
    want[3] = true;
    EXPECT_NE(shown(), before) << "the list shows the clicked icon's record selected";
    struct Step {
        const char* what;
        uint8_t vkey, ch, mods;
    } steps[] = {{"select all", qnkey::vk::A, 'a', plat::mods::Command},
                 {"inverse of all", kVkI, 'I', inverse},
                 {"inverse of none", kVkI, 'I', inverse}};
    for (const Step& st : steps) {
        before = shown();
        P.Advance(1000);
        P.Key(st.vkey, st.ch, st.mods);
        Pump();
        EXPECT_NE(shown(), before) << st.what << ": the list is painted again";
        for (size_t i = 0; i < want.size(); ++i)
            want[i] = st.mods == inverse ? !want[i] : true;
        size_t count = 0;
        for (size_t i = 0; i < want.size(); ++i) {
            unsigned char sel = 0;
            w.List()->GetItem(uint32_t(i), nullptr, &sel, nullptr);
            EXPECT_EQ(w.IsSelected(uint32_t(i)), want[i]) << st.what << ", record " << i;
            EXPECT_EQ(sel != 0, want[i]) << st.what << ": the list follows, item " << i;
            count += want[i];
        }
        EXPECT_EQ(Find(w, "PresMng_DelShape")->IsEnabled(), count > 0) << st.what;
        EXPECT_EQ(Find(w, "PresMng_RenShape")->IsEnabled(), count == 1) << st.what;
        if (count == want.size())
            Snap(w, "PresMngAllSelected");
    }
    w.Close();
}

TEST_F(CutterWindows, EveryDialogReopensWhereItWasLeft)
{
    MemPresetsFile store;
    store.Hold(Ten());
    CWnd_CutterModel cutter;
    app_test::Model main(120, 90);
    ASSERT_TRUE(main.spl_SplitEvenParts(3, 2, 1, 1));
    export_test::Cut cut(90, 60, 3, 2);
    EXPORTPICTURE picture;
    picture.width = 90;
    picture.height = 60;
    std::string name;
    // How each dialog is opened, and the control that ends it keeping its
    // place; the key it is kept under is the one the dialog's opener reads.
    struct Case {
        std::string key;
        std::function<void()> open;
        const char* ok;
        std::function<void()> beforeOk;
    } cases[] = {
        {"Shape Name|Cutter", [&] { DoAddShapeToPresets(nullptr, host, store, MakeShape(3)); }, "ShapeName_Ok",
         [&] { Type("Knob"); }},
        {"Shape Name|Pres Mng", [&] { name = "x"; DoShapeNameDialog(nullptr, host, "Pres Mng", name); },
         "ShapeName_Ok", nullptr},
        {"Pres Mng|Cutter", [&] { DoPresMngWindow(nullptr, host, store, nullptr); }, "PresMng_Done", nullptr},
        {"AutoLayout|Cutter", [&] { DoAutoLayoutWindow(nullptr, host, &main); }, "AutoLayout_Ok", nullptr},
        {"CMuts|Cutter", [&] { DoCustomMutationsWindow(nullptr, host, cutter); }, "CMuts_Ok", nullptr},
        {"Export|Main",
         [&] {
             P.saveAnswers.push_back(std::nullopt);
             DoExportDialog(nullptr, host, cut.Engine(), picture);
         },
         "Export_Export", nullptr},
        {"ExportLM|Main",
         [&] {
             P.saveAnswers.push_back(std::nullopt);
             DoExportLMDialog(nullptr, host, main, picture);
         },
         "ExportLM_Export", nullptr},
    };
    short at = 40;
    for (const Case& c : cases) {
        host.positions.clear();
        host.positionsRead.clear();
        at = short(at + 17);
        qntRECT_s opened{};
        // First opening: moved, then OK.
        P.Script([&] {
            CQNF_Window* d = qnui::Toolkit::Get().TopModal();
            ASSERT_NE(d, nullptr) << c.key;
            d->MoveWindow(at, short(at + 5));
            if (c.beforeOk)
                c.beforeOk();
            Click(*d, c.ok, qnctl::Button);
        });
        c.open();
        // Second opening: where the first was left.
        P.Script([&] {
            CQNF_Window* d = qnui::Toolkit::Get().TopModal();
            ASSERT_NE(d, nullptr) << c.key;
            opened = d->GetWindowRect();
            if (c.beforeOk)
                c.beforeOk();
            Click(*d, c.ok, qnctl::Button);
        });
        c.open();
        EXPECT_EQ(host.positionsRead, (std::vector<std::string>{c.key, c.key})) << c.key;
        ASSERT_EQ(host.positions.size(), 1u) << c.key;
        EXPECT_EQ(host.positions.begin()->first, c.key);
        EXPECT_EQ(opened.left, at) << c.key;
        EXPECT_EQ(opened.top, at + 5) << c.key;
        EXPECT_EQ(P.ScriptLeft(), 0u) << c.key;
    }
}

TEST_F(CutterWindows, PresetsRenameSortAndSetsThroughTheFileDialogs)
{
    TempDir dir;
    MemPresetsFile store;
    store.Hold({"b", "B", "a", "ab"});
    CWnd_PresetsManager w(host, store, nullptr);
    ASSERT_TRUE(w.CreateFromResource("PresMng", 20, 20, nullptr, 1));
    w.Show();
    w.SetFocus();
    Click(w, "PresMng_Sort");
    Pump();
    EXPECT_EQ(cutter_test::Names(w), (std::vector<std::string>{"B", "a", "ab", "b"}));

    // Select "a" and rename it with R: the name dialog opens over the window.
    w.List()->SelectItems(1, 1, 1, 0, 1, 1, 1);
    Pump();
    P.Script([&] {
        P.Key(0, 'a', plat::mods::Command);
        Type("alpha");
    });
    // The name field takes the first Return, the dialog the second.
    P.Script([&] { Return(); });
    P.Script([&] { Return(); });
    P.Key(15, 'r');
    Pump();
    EXPECT_EQ(std::string(w.Records()[1].name), "alpha");

    // Save the selection as a set, then append it: five presets.
    P.saveAnswers.push_back(plat::SaveChoice{dir.path.string(), "one.qntk", false});
    Click(w, "PresMng_SaveSet");
    Pump();
    ASSERT_TRUE(fs::exists((dir / "one.qntk")));
    P.openAnswers.push_back((dir / "one.qntk"));
    Click(w, "PresMng_LoadSet");
    Pump();
    EXPECT_EQ(cutter_test::Names(w), (std::vector<std::string>{"B", "alpha", "ab", "b", "alpha"}));
    EXPECT_EQ(store.Names().size(), 5u) << "loading a set writes the store at once";

    // A set that is not one: refused with the message, nothing changes.
    cutter_test::WriteFile((dir / "bad.qntk"), {1, 2, 3});
    P.openAnswers.push_back((dir / "bad.qntk"));
    Click(w, "PresMng_ReplaceSet");
    Pump();
    EXPECT_EQ(w.GetCount(), 5u);
    ASSERT_FALSE(host.messages.empty());
    EXPECT_NE(host.messages.back().find("Unknown file format, or the file is damaged."), std::string::npos);
    w.Close();
}

TEST_F(CutterWindows, AddToPresetsAndShapeFilesThroughTheDialogs)
{
    TempDir dir;
    MemPresetsFile store;
    const SPLINE shape = MakeShape(7);
    P.Script([&] { Type("Knob"); });
    P.Script([&] { Return(); });
    P.Script([&] { Return(); });
    EXPECT_TRUE(DoAddShapeToPresets(nullptr, host, store, shape));
    EXPECT_EQ(store.Names(), (std::vector<std::string>{"Knob"}));

    // Added to a damaged store: it goes aside first, and the user is told
    // where in one message.
    const std::string damaged = dir / "ckss.data";
    cutter_test::WriteFile(damaged, cutter_test::Bytes(900, 7));
    CQNF_PresetsFileAtPath atPath(damaged);
    P.Script([&] { Type("Wave"); });
    P.Script([&] { Return(); });
    P.Script([&] { Return(); });
    const size_t told = host.messages.size();
    EXPECT_TRUE(DoAddShapeToPresets(nullptr, host, atPath, shape));
    ASSERT_EQ(host.messages.size(), told + 1);
    EXPECT_NE(host.messages.back().find("The presets file " + damaged +
                                        " was damaged (it is 900 bytes long, not a whole number of 836-byte "
                                        "presets); it was kept as " + damaged + ".bad and a new one begun."),
              std::string::npos)
        << host.messages.back();
    EXPECT_EQ(cutter_test::ReadFile(damaged + ".bad"), cutter_test::Bytes(900, 7));

    P.saveAnswers.push_back(plat::SaveChoice{dir.path.string(), "k.qnth", false});
    EXPECT_TRUE(DoSaveShapeFile(nullptr, host, shape));
    SPLINE back{};
    P.openAnswers.push_back((dir / "k.qnth"));
    EXPECT_TRUE(DoLoadShapeFile(nullptr, host, back));
    EXPECT_TRUE(cutter_test::SameShape(back, shape));

    // A save into a folder that is not there is refused while the chooser
    // is open (the user then cancels) and leaves nothing; an empty file is
    // refused and leaves the shape alone.
    P.alerts.clear();
    P.saveAnswers.push_back(plat::SaveChoice{(dir / "missing"), "k.qnth", false});
    P.saveAnswers.push_back(std::nullopt);
    EXPECT_FALSE(DoSaveShapeFile(nullptr, host, shape));
    EXPECT_FALSE(fs::exists((dir / "missing")));
    ASSERT_EQ(P.alerts.size(), 1u);
    EXPECT_NE(P.alerts[0].text.find((dir / "missing/k.qnth") + "\nNo such folder."), std::string::npos)
        << P.alerts[0].text;
    cutter_test::WriteFile((dir / "empty.qnth"), {});
    P.openAnswers.push_back((dir / "empty.qnth"));
    EXPECT_FALSE(DoLoadShapeFile(nullptr, host, back));
    EXPECT_TRUE(cutter_test::SameShape(back, shape));
    ASSERT_FALSE(host.messages.empty());
    EXPECT_NE(host.messages.back().find("File corrupt... (0-length file)"), std::string::npos);
}

TEST_F(CutterWindows, PresetsFirstRunTakesTheDefaultSetAndAnEmptyStoreStaysEmpty)
{
    MemPresetsFile missing;
    {
        CWnd_PresetsManager w(host, missing, nullptr);
        ASSERT_TRUE(w.CreateFromResource("PresMng", 20, 20, nullptr, 0));
        EXPECT_GT(w.List()->GetItemsCount(), 0u) << "the resource file's default set";
        EXPECT_EQ(w.List()->GetItemsCount(), w.GetCount());
        w.Close();
    }
    EXPECT_TRUE(missing.exists) << "the default set is written as the store";
    MemPresetsFile empty;
    empty.exists = true;
    CWnd_PresetsManager w(host, empty, nullptr);
    ASSERT_TRUE(w.CreateFromResource("PresMng", 20, 20, nullptr, 0));
    EXPECT_EQ(w.List()->GetItemsCount(), 0u);
    EXPECT_FALSE(Find(w, "PresMng_SaveSet")->IsEnabled());
    w.Close();
    EXPECT_EQ(empty.writes, 0) << "nothing changed, nothing written";
}

TEST_F(CutterWindows, EveryWindowRendersItsControls)
{
    MemPresetsFile store;
    store.Hold(Ten());
    CWnd_PresetsManager pm(host, store, nullptr);
    ASSERT_TRUE(pm.CreateFromResource("PresMng", 0, 0, nullptr, 0));
    pm.List()->SelectItems(1, 1, 1, 0, 1, 1, 1);
    Snap(pm, "PresMng");
    pm.Show();
    Click(pm, "PresMng_Lico");
    Pump();
    EXPECT_EQ(static_cast<CQNF_CtrlStaticText*>(Find(pm, "PresMng_BigIcoName2"))->GetText(), CQNF_String("Shape 1"));
    Snap(pm, "PresMngBig");
    pm.Close();
    CWnd_ShapeName sn(host, "My shape", "Cutter");
    ASSERT_TRUE(sn.CreateFromResource("ShapeName", 0, 0, nullptr, 0));
    Snap(sn, "ShapeName");
    sn.Close();
    CAutoLayoutModel al;
    al.m_nKind = 1;
    al.m_nCols = 60;
    CWnd_AutoLayout a(host, al);
    ASSERT_TRUE(a.CreateFromResource("AutoLayout", 0, 0, nullptr, 0));
    EXPECT_EQ(a.Model().ShownCols(), 48u);
    Snap(a, "AutoLayout");
    a.Close();
    CCustomMutationsModel cm;
    cm.m_fAmount[0] = 0.356f;
    CWnd_CustomMutations c(host, cm);
    ASSERT_TRUE(c.CreateFromResource("CMuts", 0, 0, nullptr, 0));
    EXPECT_EQ(std::string(static_cast<CQNF_CtrlEditLine*>(Find(c, "CMuts_MutS", qnctl::EditLine))->GetText().GetStr()),
              "36");
    Snap(c, "CMuts");
    c.Close();
}

}  // namespace
