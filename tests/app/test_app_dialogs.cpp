// The main window's modal dialogs on the headless platform, driven by
// injected clicks and keys: Preferences, the pieces export and the knives
// export, with their OK and Cancel rules and the exports they start.
#include "app/KnivesExport.h"
#include "app/Wnd_Export.h"
#include "app/Wnd_Pref.h"
#include "app_fixture.h"
#include "test_app_dialogs_fixture.h"
#include "test_app_export_fixture.h"
#include "ui/CtrlEditLine.h"
#include "ui/CtrlStatic.h"

#include <fstream>
#include <functional>
#include <memory>

namespace {

using namespace dialog_test;

class PrefDialog : public DialogEnv {};
class ExportDialogs : public DialogEnv {};

CPreferences ReadBack(CQNF_Storage& st)
{
    CPreferences p;
    p.settings_Load(&st);
    return p;
}

TEST_F(PrefDialog, CancelStoresNothingOkStoresEverything)
{
    export_test::Conf conf;
    host.conf = &conf.st;
    const plat::Point swatch = RectOnScreen("Pref", "Pref_FCB1");
    const plat::Point solid = RectOnScreen("Pref", "Pref_TSolid");
    struct Case {
        const char* what;
        std::function<void()> end;
        int result;
    } cases[] = {
        {"Esc", [&] { Esc(); }, 0},
        {"Return", [&] { Return(); }, 1},
    };
    for (const Case& c : cases) {
        CPreferences prefs;
        prefs.alphaSolid = 0;
        // A pick on the frame's first swatch and one on the transparency's
        // solid swatch, which switches that pair to solid.
        P.Script([&] { P.Click(swatch); });
        P.Script([&] { P.Click(solid); });
        P.Script(c.end);
        bool opacityChanged = true;
        EXPECT_EQ(DoPrefDialog(nullptr, host, prefs, &opacityChanged), c.result) << c.what;
        EXPECT_FALSE(opacityChanged) << c.what;
        if (c.result == 0) {
            EXPECT_TRUE(prefs == CPreferences()) << "Cancel hands nothing back";
            EXPECT_TRUE(ReadBack(conf.st) == CPreferences()) << "Cancel writes nothing";
        } else {
            EXPECT_EQ(prefs.extAlphaColor1.r, 10);
            EXPECT_EQ(prefs.alphaColorSolid.b, 30);
            EXPECT_EQ(prefs.alphaSolid, 1) << "a pick on a solid swatch checks its radio";
            EXPECT_EQ(prefs.extAlphaSolid, 0);
            EXPECT_TRUE(ReadBack(conf.st) == prefs) << "OK writes all ten records";
        }
    }
}

TEST_F(PrefDialog, OpacityEditIsClampedOnLeavingAndPreviewFollowsTheRadios)
{
    CPreferences prefs;
    CWnd_Pref dlg(host, prefs);
    ASSERT_TRUE(dlg.CreateFromResource("Pref", 100, 100, nullptr, 1));
    auto* edit = Find(dlg, "Pref_DisOpacity");
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(std::string(static_cast<CQNF_CtrlEditLine*>(edit)->GetText().GetStr()), "27") << "70 shows as 27 %";
    // Select the text, type 5, leave the field: it shows 10 and stores 25.
    P.Script([&] {
        P.Click(Centre(dlg, edit->GetRenderRect()));
        P.Key(0, 'a', plat::mods::Command);
        Type("5");
    });
    P.Script([&] { P.Click(Global(dlg, 2, dlg.GetHeight() - 3)); });
    P.Script([&] { Click(dlg, "Pref_FSolid"); });
    P.Script([&] { Click(dlg, "Pref_Ok"); });
    EXPECT_EQ(dlg.DoModal(), 1);
    EXPECT_EQ(std::string(static_cast<CQNF_CtrlEditLine*>(edit)->GetText().GetStr()), "10");
    EXPECT_EQ(dlg.Model().Values().delKnifeOpacity, 25);
    EXPECT_EQ(dlg.Model().Values().extAlphaSolid, 1);
    // The preview's corner shows the frame's solid colour now.
    const CPreferences& v = dlg.Model().Values();
    CQNF_Image* canvas = dlg.GetLayerSet()->GetCanvas();
    qntRECT_s pr{};
    ASSERT_TRUE(dlg.GetResourceRect("Pref_Preview", pr));
    const qntRGBA8 corner = canvas->GetPixel(uint16_t(pr.left + 1), uint16_t(pr.top + 1));
    EXPECT_EQ(corner.r, v.extAlphaColorSolid.r);
    EXPECT_GE(host.tipsAsked.size(), 1u);
    EXPECT_EQ(host.tipsAsked.front(), "Preferences:") << "the dialog's own tip first";
}

TEST_F(PrefDialog, ReturnInTheOpacityEditConfirmsItAndTheNextRunsOk)
{
    CPreferences prefs;
    const plat::Point edit = ControlOnScreen("Pref", "Pref_DisOpacity", qnctl::EditLine);
    P.Script([&] {
        P.Click(edit);
        P.Key(0, 'a', plat::mods::Command);
        Type("5");
    });
    P.Script([&] { Return(); });
    P.Script([&] {
        ASSERT_NE(qnui::Toolkit::Get().TopModal(), nullptr) << "the Return in the field ended the dialog";
        Return();
    });
    bool opacityChanged = false;
    EXPECT_EQ(DoPrefDialog(nullptr, host, prefs, &opacityChanged), 1);
    EXPECT_EQ(prefs.delKnifeOpacity, 25) << "the typed value, confirmed and clamped, is what OK keeps";
    EXPECT_TRUE(opacityChanged);
    EXPECT_EQ(P.ScriptLeft(), 0u);
}

TEST_F(ExportDialogs, ExportButtonFollowsTheResultAndCancelStoresNothing)
{
    // Every piece hidden, to PNG: nothing to export; with no selection the
    // dialog switches to all pieces.
    CExportSettings s;
    s.exportTo = CExportSettings::kToPNG;
    CWnd_Export dlg(host, CExportStats{10, 0, 0, 10}, s);
    ASSERT_TRUE(dlg.CreateFromResource("Export", 80, 60, nullptr, 1));
    EXPECT_TRUE(Find(dlg, "Export_All")->GetCheck());
    EXPECT_FALSE(Find(dlg, "Export_Selected")->IsEnabled());
    EXPECT_FALSE(Find(dlg, "Export_Export")->IsEnabled());
    const std::string display = static_cast<CQNF_CtrlStaticText*>(Find(dlg, "Export_Display"))->GetText().GetStr();
    EXPECT_NE(display.find("Result:  --- "), std::string::npos) << display;
    P.Script([&] { P.Click(Centre(dlg, Find(dlg, "Export_Export")->GetRenderRect())); });
    P.Script([&] { Esc(); });
    EXPECT_EQ(dlg.DoModal(), 0) << "a disabled Export does not end the dialog";
    EXPECT_TRUE(host.positions.empty());
}

TEST_F(ExportDialogs, RadiosAndChecksChangeTheResultAndManyLayersAsk)
{
    CWnd_Export dlg(host, CExportStats{10, 3, 1, 2}, CExportSettings{});
    ASSERT_TRUE(dlg.CreateFromResource("Export", 80, 60, nullptr, 1));
    EXPECT_EQ(dlg.Model().Result(), 3u) << "selected to PSD: 2 shown pieces and the composite";
    P.Script([&] { Click(dlg, "Export_ToPNG"); });
    P.Script([&] { Click(dlg, "Export_Composite"); });
    P.Script([&] { Click(dlg, "Export_Export"); });
    EXPECT_EQ(dlg.DoModal(), 1);
    EXPECT_EQ(dlg.Model().Settings().exportTo, CExportSettings::kToPNG);
    EXPECT_EQ(dlg.Model().Settings().includeComposite, 0);
    EXPECT_EQ(dlg.Model().Result(), 2u);
    EXPECT_EQ(host.positions.count("Export|Main"), 1u) << "OK stores the position";

    // 150 layers to a PSD: the question comes; Cancel returns to the dialog.
    host.answerOk = false;
    CWnd_Export many(host, CExportStats{150, 150, 0, 0}, CExportSettings{});
    ASSERT_TRUE(many.CreateFromResource("Export", 80, 60, nullptr, 1));
    P.Script([&] { Click(many, "Export_Export"); });
    P.Script([&] { Esc(); });
    EXPECT_EQ(many.DoModal(), 0);
    ASSERT_EQ(host.questions.size(), 1u);
    EXPECT_EQ(host.questions[0], "You are about to save more than 100 layers!");
}

TEST_F(ExportDialogs, ExportWritesThroughTheSaveDialogAndAFailureLeavesNothing)
{
    export_test::Cut cut(90, 60, 3, 2);
    export_test::Conf conf;
    host.conf = &conf.st;
    EXPORTPICTURE picture;
    picture.width = 90;
    picture.height = 60;
    const plat::Point exportButton = ControlOnScreen("Export", "Export_Export", qnctl::Button);
    TempDir out;

    struct Case {
        const char* what;
        uint8_t to;
        std::string folder;
        bool written;
        size_t files;
    } cases[] = {
        {"PSD", CExportSettings::kToPSD, out.path.string(), true, 1},
        {"PNG series", CExportSettings::kToPNG, out.path.string() + "/series", true, 6},
        {"a folder that is not there", CExportSettings::kToPNG, out.path.string() + "/missing", false, 0},
    };
    fs::create_directory(out.path / "series");
    for (const Case& c : cases) {
        CExportSettings s;
        s.exportTo = c.to;
        ASSERT_TRUE(s.settings_Save(&conf.st));
        host.messages.clear();
        P.Script([&] { P.Click(exportButton); });
        P.saveAnswers.push_back(plat::SaveChoice{c.folder, c.to == CExportSettings::kToPSD ? "p.psd" : "p.png", false});
        // A name refused while the chooser is open is told over it, and the
        // user cancels: nothing is rendered or written.
        P.alerts.clear();
        if (!c.written)
            P.saveAnswers.push_back(std::nullopt);
        const EXPORTOUTCOME r = DoExportDialog(nullptr, host, cut.Engine(), picture);
        EXPECT_EQ(P.alerts.size(), c.written ? 0u : 1u) << c.what;
        EXPECT_EQ(r.dialog, 1) << c.what;
        EXPECT_EQ(r.written, c.written) << c.what;
        EXPECT_EQ(r.files.size(), c.files) << c.what;
        for (const std::string& f : r.files)
            EXPECT_TRUE(fs::exists(f)) << f;
        EXPECT_TRUE(host.messages.empty()) << c.what;
        CExportSettings stored;
        stored.settings_Load(&conf.st);
        EXPECT_EQ(stored.exportWhat, CExportSettings::kAll) << "what the dialog switched to is stored";
    }
    EXPECT_FALSE(fs::exists(out.path / "missing"));
    EXPECT_EQ(out.Files("series").size(), 6u) << "no temporary file is left beside the series";

    // Not RGB: a message, no dialog.
    host.messages.clear();
    picture.colorMode = 2;
    EXPECT_EQ(DoExportDialog(nullptr, host, cut.Engine(), picture).dialog, -1);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].rfind("Unsupported Color mode for Export!", 0), 0u);
}

TEST_F(ExportDialogs, KnivesExportOkWritesEpsCancelNothing)
{
    app_test::Model model(90, 60);
    ASSERT_TRUE(model.spl_SplitEvenParts(3, 2, 1, 1));
    export_test::Conf conf;
    host.conf = &conf.st;
    EXPORTPICTURE picture;
    picture.width = 90;
    picture.height = 60;
    TempDir out;
    const plat::Point exportButton = ControlOnScreen("ExportLM", "ExportLM_Export", qnctl::Button);

    P.Script([&] { Esc(); });
    EXPORTOUTCOME r = DoExportLMDialog(nullptr, host, model, picture);
    EXPECT_EQ(r.dialog, 0);
    EXPECT_TRUE(host.positions.empty());
    EXPECT_TRUE(out.Files().empty());

    P.Script([&] { P.Click(exportButton); });
    P.saveAnswers.push_back(plat::SaveChoice{out.path.string(), "knives.eps", false});
    r = DoExportLMDialog(nullptr, host, model, picture);
    EXPECT_EQ(r.dialog, 1);
    ASSERT_TRUE(r.written) << (host.messages.empty() ? "" : host.messages[0]);
    std::ifstream eps(out / "knives.eps");
    std::string head;
    std::getline(eps, head);
    EXPECT_EQ(head.rfind("%!PS", 0), 0u) << head;
    EXPECT_EQ(host.positions.count("ExportLM|Main"), 1u);
}

// After every click the texts on the screen (the statistics with the Result
// line, and the name sample) are those of a dialog opened afresh with the
// settings the click made, and the texts the export will go by.
TEST_F(ExportDialogs, ScreenTextsFollowEveryClick)
{
    auto screen = [&](const CQNF_Window& w, const char* name) {
        const qntRECT_s r = Find(w, name)->GetRenderRect();
        std::vector<uint32_t> px;
        for (int32_t y = r.top; y < r.bottom; ++y)
            for (int32_t x = r.left; x < r.right; ++x)
                px.push_back(P.Pixel(w.GetWindowHandle(), x, y));
        return px;
    };
    auto text = [&](const CQNF_Window& w, const char* name) {
        return std::string(static_cast<CQNF_CtrlStaticText*>(Find(w, name))->GetText().GetStr());
    };
    struct Dialog {
        const char* window;
        std::vector<const char*> texts;
        std::vector<const char*> clicks;
        std::function<std::unique_ptr<CWnd_ExportBase>(const CWnd_ExportBase*)> make;  // afresh, or like another
        std::function<std::vector<std::string>(const CWnd_ExportBase&)> model;         // what the texts must say
    };
    const CExportStats pieces{6, 2, 0, 1};
    const CExportLMStats knives{12, 4, 1, 0};
    const std::vector<Dialog> dialogs = {
        {"Export",
         {"Export_Display", "Export_NamingDisp"},
         {"Export_ToPNG", "Export_Merged", "Export_All", "Export_ToPSD", "Export_Hidden", "Export_Selected",
          "Export_Composite", "Export_NamingSimple"},
         [&](const CWnd_ExportBase* like) {
             return std::make_unique<CWnd_Export>(
                 host, pieces, like ? static_cast<const CWnd_Export*>(like)->Model().Settings() : CExportSettings{});
         },
         [](const CWnd_ExportBase& d) {
             const auto& m = static_cast<const CWnd_Export&>(d).Model();
             return std::vector<std::string>{m.DisplayText(), m.NamingSample()};
         }},
        {"ExportLM",
         {"ExportLM_Display"},
         {"ExportLM_All", "ExportLM_Selected", "ExportLM_All"},
         [&](const CWnd_ExportBase* like) {
             return std::make_unique<CWnd_ExportLM>(
                 host, knives,
                 like ? static_cast<const CWnd_ExportLM*>(like)->Model().Settings() : CExportLMSettings{});
         },
         [](const CWnd_ExportBase& d) {
             return std::vector<std::string>{static_cast<const CWnd_ExportLM&>(d).Model().DisplayText()};
         }},
    };
    for (const Dialog& d : dialogs) {
        std::unique_ptr<CWnd_ExportBase> dlg = d.make(nullptr);
        ASSERT_TRUE(dlg->CreateFromResource(d.window, 80, 60, nullptr, 0));
        dlg->Show();
        Pump();
        std::vector<std::string> shown = d.model(*dlg);
        for (const char* click : d.clicks) {
            SCOPED_TRACE(std::string(d.window) + ", after " + click);
            Click(*dlg, click);
            Pump();
            const std::vector<std::string> now = d.model(*dlg);
            ASSERT_NE(now, shown) << "each click changes what the dialog must say";
            shown = now;
            std::unique_ptr<CWnd_ExportBase> fresh = d.make(dlg.get());
            ASSERT_TRUE(fresh->CreateFromResource(d.window, 80, 60, nullptr, 0));
            fresh->Show();
            Pump();
            for (size_t i = 0; i < d.texts.size(); ++i) {
                EXPECT_EQ(text(*dlg, d.texts[i]), now[i]) << d.texts[i];
                EXPECT_TRUE(screen(*dlg, d.texts[i]) == screen(*fresh, d.texts[i])) << d.texts[i] << " on the screen";
            }
            fresh->Close();
            Pump();
        }
        dlg->Close();
        Pump();
    }
}

TEST_F(ExportDialogs, EveryDialogRendersItsControls)
{
    CWnd_Export e(host, CExportStats{300, 12, 2, 5}, CExportSettings{});
    ASSERT_TRUE(e.CreateFromResource("Export", 0, 0, nullptr, 0));
    Snap(e, "Export");
    e.Close();
    CWnd_ExportLM lm(host, CExportLMStats{24, 5, 6, 2}, CExportLMSettings{});
    ASSERT_TRUE(lm.CreateFromResource("ExportLM", 0, 0, nullptr, 0));
    EXPECT_EQ(lm.Model().Result(), 3u);
    Snap(lm, "ExportLM");
    lm.Close();
    CWnd_Pref p(host, CPreferences{});
    ASSERT_TRUE(p.CreateFromResource("Pref", 0, 0, nullptr, 0));
    Snap(p, "Pref");
    p.Close();
}

}  // namespace

#include "app/App.h"
#include "app/Wnd_PrefAppHost.h"

namespace {

using namespace dialog_test;

class AppHost : public DialogEnv {};

TEST_F(AppHost, AnswersWithoutThePlugin)
{
    CApp capp;
    CAppDialogHost h(capp);
    EXPECT_EQ(h.Conf(), nullptr);
    const qntPOS centred = h.WindowPos("Export", "Main");
    EXPECT_EQ(centred.x, -32000);
    qntRGBA8 c{1, 2, 3, 255};
    EXPECT_FALSE(h.SelectColor(c)) << "no picker without the host";
    EXPECT_EQ(c.r, 1);
    h.PutWindowPos("Export", "Main", qntPOS{5, 5});  // nowhere to keep it: nothing happens
    EXPECT_EQ(h.WindowPos("Export", "Main").x, -32000);
}

}  // namespace
