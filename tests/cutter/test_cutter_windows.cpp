// The knife editor's dialog windows on the headless platform, driven by
// injected clicks and keys: the presets manager, the shape name, auto layout
// and custom mutations dialogs, and the shape file commands through the
// scripted file dialogs.
#include "../app/app_fixture.h"
#include "../app/test_app_dialogs_fixture.h"
#include "cutter/Wnd_Dialogs.h"
#include "cutter/Wnd_PresetsManager.h"
#include "cutter_test_util.h"
#include "ui/CtrlEditLine.h"
#include "ui/CtrlList.h"
#include "ui/CtrlScrollBar.h"
#include "ui/CtrlSlider.h"
#include "ui/CtrlStatic.h"

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
        bool ok;
        std::string name;
    } cases[] = {
        {"blanks only: Return does nothing, Esc cancels", "   ", false, ""},
        {"leading blanks are kept", "  Knob", true, "  Knob"},
    };
    for (const Case& c : cases) {
        host.positions.clear();
        std::string name;
        // One Return in the focused name field ends editing and reaches the dialog.
        P.Script([&] { Type(c.typed); });
        P.Script([&] { Return(); });
        if (!c.ok)
            P.Script([&] { Esc(); });
        EXPECT_EQ(DoShapeNameDialog(nullptr, host, "Pres Mng", name), c.ok) << c.what;
        EXPECT_EQ(name, c.name) << c.what;
        EXPECT_EQ(host.positions.count("Shape Name|Pres Mng"), c.ok ? 1u : 0u) << c.what;
        EXPECT_EQ(P.ScriptLeft(), 0u) << c.what;
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
    // Return in the edit confirms it and runs OK at once.
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
    EXPECT_NE(host.messages.back().find("Unknow file format or file corrupt..."), std::string::npos);
    w.Close();
}

TEST_F(CutterWindows, AddToPresetsAndShapeFilesThroughTheDialogs)
{
    TempDir dir;
    MemPresetsFile store;
    const SPLINE shape = MakeShape(7);
    P.Script([&] { Type("Knob"); });
    P.Script([&] { Return(); });
    EXPECT_TRUE(DoAddShapeToPresets(nullptr, host, store, shape));
    EXPECT_EQ(store.Names(), (std::vector<std::string>{"Knob"}));

    P.saveAnswers.push_back(plat::SaveChoice{dir.path.string(), "k.qnth", false});
    EXPECT_TRUE(DoSaveShapeFile(nullptr, host, shape));
    SPLINE back{};
    P.openAnswers.push_back((dir / "k.qnth"));
    EXPECT_TRUE(DoLoadShapeFile(nullptr, host, back));
    EXPECT_TRUE(cutter_test::SameShape(back, shape));

    // A save into a folder that is not there leaves nothing; an empty file
    // is refused and leaves the shape alone.
    P.saveAnswers.push_back(plat::SaveChoice{(dir / "missing"), "k.qnth", false});
    EXPECT_FALSE(DoSaveShapeFile(nullptr, host, shape));
    EXPECT_FALSE(fs::exists((dir / "missing")));
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
