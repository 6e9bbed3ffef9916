// "ui-tour OUT_FOLDER [--resource FILE] [--photo FILE]": every window of the
// plug-in in its typical state, drawn headless from the real resource file
// and saved as one PNG picture a window. The plug-in runs its interactive
// Start in the stand-in host on the photo, as a host would run it, and a
// script walks the windows the way a user opens them: the main window and
// the knife editor, the main window's dialogs, the editor's dialogs, then a
// Cut, the middle piece selected, and every effect window. A window is one row of
// the tour's table. Each picture is printed as a line "PATH WINDOW".
#include "tools/Command.h"


#include "app/App.h"
#include "app/InteractiveRoad.h"
#include "app/MainMenus.h"
#include "app/Wnd_MessageBox.h"
#include "core/ErrorWords.h"
#include "core/ProgramOutput.h"
#include "core/SafeFile.h"
#include "cutter/Wnd_Cutter.h"
#include "effects/WndFX_ImageOverlay.h"
#include "host/PluginEntry.h"
#include "host/PluginMain.h"
#include "hostapp/HostDocument.h"
#include "hostapp/RasterImage.h"
#include "hostapp/StandInHost.h"
#include "platform/Headless.h"
#include "resources/ResourceFile.h"
#include "ui/Control.h"
#include "ui/CtrlStatic.h"
#include "ui/Toolkit.h"
#include "ui/Window.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr const char* kName = "ui-tour";

namespace fs = std::filesystem;

// The one running tour, reached by the plug-in's entry function.
struct Tour;
Tour* g_Tour = nullptr;

struct Tour {
    std::unique_ptr<CPluginMain> plugin = std::make_unique<CPluginMain>();
    FSRef folder;
    plat::HeadlessPlatform hp;
    CAppRoad road;
    CApp* app = nullptr;
    std::string out;
    std::vector<std::string> saved, problems;  // saved: "PATH WINDOW" lines
    bool writeFailed = false;

    CWnd_Main& Main() { return app->m_WndMain; }
    CWnd_Cutter& Editor() { return static_cast<CMainCutterWindow*>(Main().GetCutter())->Window(); }

    static void Entry(int16_t selector, FilterRecord* record, intptr_t* data, int16_t* result)
    {
        qnPluginDispatch(*g_Tour->plugin, g_Tour->folder, selector, record, data, result);
    }

    // A press in the middle of the control of w by name and type.
    void Press(CQNF_Window& w, const char* name, uint8_t type = qnctl::Button)
    {
        CQNF_Control* c = w.GetControl(w.FindControlByName(name, type));
        if (!c) {
            problems.push_back(std::string("no control ") + name + " in " + w.GetName());
            return;
        }
        const qntRECT_s r = c->GetRenderRect();
        const plat::Rect wr = hp.ContentRect(w.GetWindowHandle());
        hp.Activate(w.GetWindowHandle());
        hp.Click({wr.left + (r.left + r.right) / 2, wr.top + (r.top + r.bottom) / 2});
    }
    void PressMain(const char* name) { Press(Main(), name); }
    // A click in the middle of the main preview: the piece there is selected.
    void PressPreviewCentre()
    {
        const qntRECT_s& r = Main().m_rcPreview;
        const plat::Rect wr = hp.ContentRect(Main().GetWindowHandle());
        hp.Activate(Main().GetWindowHandle());
        hp.Click({wr.left + (r.left + r.right) / 2, wr.top + (r.top + r.bottom) / 2});
    }
    void PressEditor(const char* name) { Press(Editor(), name); }

    // The front window.
    CQNF_Window* Top() const
    {
        const std::vector<plat::WinId> z = hp.ZOrder();
        return z.empty() ? nullptr : qnui::Toolkit::Get().Find(z.back());
    }

    // Every text the window shows must fit its control: what it shows now
    // (counts, names, results), and the status tip it shows above each of
    // its controls and above none, once the tip has faded in.
    void CheckTexts(CQNF_Window& w)
    {
        std::set<std::string> seen;
        const auto check = [&] {
            for (unsigned long i = 0; i < w.GetControlCount(); ++i) {
                CQNF_Control* c = w.GetControl(i);
                if (!c || c->GetType() != qnctl::StaticText)
                    continue;
                auto* text = static_cast<CQNF_CtrlStaticText*>(c);
                const std::string shown = text->GetText().GetStr();
                CQNF_TextLayer* layer = text->GetControlLayer();
                if (layer->TextFits() || !seen.insert(shown).second)
                    continue;
                const qntRECT_s ink = layer->GetInkRect();
                problems.push_back(std::string(w.GetName()) + ": \"" + shown + "\" does not fit " + c->GetName() +
                                   " (its letters reach " + std::to_string(ink.right) + "x" +
                                   std::to_string(ink.bottom) + ", the control is " +
                                   std::to_string(layer->GetImageWidth()) + "x" +
                                   std::to_string(layer->GetImageHeight()) + ")");
            }
        };
        const auto settle = [&] {
            for (int tick = 0; tick < 25; ++tick) {
                hp.Advance(30);
                qnui::Toolkit::Get().FireDueTimers();
            }
        };
        check();
        for (unsigned long i = 0; i <= w.GetControlCount(); ++i) {
            w.OnAboveControl(i < w.GetControlCount() ? i : CQNF_Window::None);
            settle();
            check();
        }
    }

    // The window's pixels as OUT/<file>.png; a problem when it is not the
    // window the row expects.
    void Save(CQNF_Window* w, const char* file, const char* expected)
    {
        if (!w || std::string(w->GetName()) != expected) {
            problems.push_back(std::string(expected) + " did not open (for " + file + ")");
            return;
        }
        CheckTexts(*w);
        uint16_t width = 0, height = 0;
        const std::vector<uint32_t>* fb = hp.Framebuffer(w->GetWindowHandle(), width, height);
        if (!fb) {
            problems.push_back(std::string("no pixels for ") + expected);
            return;
        }
        hostapp::RasterImage img;
        img.Allocate(hostapp::ColorMode::RGB, width, height, false);
        for (size_t i = 0; i < size_t(width) * height; ++i)
            for (int c = 0; c < 3; ++c)
                img.planes[size_t(c)][i] = uint8_t((*fb)[i] >> (16 - 8 * c));
        // A write that failed (a full disk, a folder gone) fails every later
        // one alike: it is named once, and the tour writes no more.
        if (writeFailed)
            return;
        std::string err;
        const std::string path = (fs::path(out) / (std::string(file) + ".png")).string();
        if (hostapp::WritePngFile(path, img, err)) {
            saved.push_back(qnShownName(path) + " " + qnShownLine(expected));
        } else {
            problems.push_back(err);
            writeFailed = true;
        }
    }
};

// One window of the tour: how it is opened from where the tour stands, which
// window shows it (the front one when none is named), and how it is closed
// again: a press on a control of it, or anywhere on it.
struct Row {
    const char* file;    // nullptr: a step that opens no window
    const char* window;  // the window's resource name
    std::function<void(Tour&)> open;
    std::function<CQNF_Window*(Tour&)> which;
    const char* close;   // a button of the window; nullptr: a press in its middle; "" stays open
};

CQNF_Window* MainWindow(Tour& t) { return &t.Main(); }
CQNF_Window* EditorWindow(Tour& t) { return &t.Editor(); }

void Menu(Tour& t, uint16_t item) { t.Main().OnMenuCommand(item); }

std::vector<Row> TourRows()
{
    auto effect = [](const char* file, const char* window, const char* button, const char* cancel) {
        return Row{file, window, [button](Tour& t) { t.PressMain(button); }, nullptr, cancel};
    };
    return {
        {"01_main_layout", "Main", [](Tour& t) { t.hp.Activate(t.Main().GetWindowHandle()); }, MainWindow, ""},
        {"02_knife_editor", "Cutter", [](Tour& t) { t.hp.Activate(t.Editor().GetWindowHandle()); }, EditorWindow, ""},
        {"03_preferences", "Pref", [](Tour& t) { Menu(t, qnmenu::Preferences); }, nullptr, "Pref_Cancel"},
        {"04_export_knives", "ExportLM", [](Tour& t) { Menu(t, qnmenu::Export); }, nullptr, "ExportLM_Cancel"},
        {"05_document_channels", "ChannelList", [](Tour& t) { Menu(t, qnmenu::LoadSelection); }, nullptr,
         "ChannelList_Cancel"},
        {"06_message_box", "MessageBox",
         [](Tour& t) {
             CWnd_MessageBox::Ask(&t.Main(), "Pieces Layout Has Changed", "Do you want to reset effects?",
                                  CWnd_MessageBox::YES, CWnd_MessageBox::NO);
         },
         nullptr, "MessageBox_NO"},
        {"07_about", "About", [](Tour& t) { t.app->DoAboutWindow_UI(&t.Main()); }, nullptr, nullptr},
        {"08_knife_presets", "PresMng", [](Tour& t) { t.PressEditor("Cutter_Presets"); }, nullptr, "PresMng_Done"},
        {"09_shape_name", "ShapeName", [](Tour& t) { t.PressEditor("Cutter_AddToPM"); }, nullptr,
         "ShapeName_Cancel"},
        {"10_auto_layout", "AutoLayout", [](Tour& t) { t.PressEditor("Cutter_AutoLayout"); }, nullptr,
         "AutoLayout_Cancel"},
        {"11_custom_mutations", "CMuts",
         [](Tour& t) {
             // The pop-up answers with the item's place in the menu.
             const auto items = t.Editor().CloneMenu();
             for (size_t i = 0; i < items.size(); ++i)
                 if (items[i].id == CWnd_CutterEditor::ID_CLONE_CUSTOM)
                     t.hp.menuAnswers.push_back(int(i));
             t.PressEditor("Cutter_Clone");
         },
         nullptr, "CMuts_Cancel"},
        {nullptr, nullptr, [](Tour& t) { t.PressEditor("Cutter_Cut"); }, nullptr, ""},
        {"12_main_pieces", "Main", [](Tour& t) { t.PressPreviewCentre(); }, MainWindow, ""},
        {"13_export_pieces", "Export", [](Tour& t) { Menu(t, qnmenu::Export); }, nullptr, "Export_Cancel"},
        effect("14_fx_bevel", "FXbevel", "Main_FXBevel", "FXbevel_Cancel"),
        effect("15_fx_brightness_contrast", "FXbc", "Main_FXBC", "FXbc_Cancel"),
        effect("16_fx_blur", "FXblur", "Main_FXBlur", "FXblur_Cancel"),
        effect("17_fx_motion_blur", "FXmblur", "Main_FXMBlur", "FXmblur_Cancel"),
        effect("18_fx_opacity", "FXopac", "Main_FXOpacity", "FXopac_Cancel"),
        effect("19_fx_color_overlay", "FXcovr", "Main_FXCOver", "FXcovr_Cancel"),
        effect("20_fx_stroke", "FXstroke", "Main_FXStroke", "FXstroke_Cancel"),
        effect("21_fx_hue_saturation", "FXhsl", "Main_FXHSL", "FXhsl_Cancel"),
        // The image overlay stays open for its layers list, then is cancelled.
        effect("22_fx_image_overlay", "FXiovr", "Main_FXIOver", ""),
        {"23_layers_list", "Layers",
         [](Tour& t) {
             if (CWndFX_Base* fx = t.Main().GetFXWindow()) {
                 unsigned short item = CWndFX_ImageOverlay::kItemLayers;
                 fx->OnCtrlMessage(qnmsg::PopupChoice, CQNF_Window::None, const_cast<char*>("Menu"), 255, &item);
             }
         },
         nullptr, "Layers_Cancel"},
        {nullptr, nullptr,
         [](Tour& t) {
             if (CWndFX_Base* fx = t.Main().GetFXWindow())
                 t.Press(*fx, "FXiovr_Cancel");
         },
         nullptr, ""},
    };
}

// Queues the tour's steps: each row opens its window in one step and is
// pictured and closed in the next (a modal window runs its own loop, which
// takes that next step; a modeless one is there at the main loop's next
// wait). The main window's Cancel ends the run.
void Queue(Tour& t, const std::vector<Row>& rows)
{
    for (const Row& row : rows) {
        t.hp.Script([&t, &row] { row.open(t); });
        if (!row.file)
            continue;
        t.hp.Script([&t, &row] {
            CQNF_Window* w = row.which ? row.which(t) : t.Top();
            t.Save(w, row.file, row.window);
            if (!w || std::string(w->GetName()) != row.window || (row.close && !*row.close))
                return;
            if (row.close) {
                t.Press(*w, row.close);
            } else {
                const plat::Rect r = t.hp.ContentRect(w->GetWindowHandle());
                t.hp.Click({(r.left + r.right) / 2, (r.top + r.bottom) / 2});
            }
        });
    }
    t.hp.Script([&t] { t.PressMain("Main_Cancel"); });
}

int Run(const tool::Args& args)
{
    std::string out, resource = TESSOLO_RESOURCE_FILE, photo = TESSOLO_SAMPLE_FILE;
    bool outGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--resource" || a == "--photo") {
            if (i + 1 >= args.size())
                return tool::BadArguments(kName, a + " needs a file name");
            (a == "--resource" ? resource : photo) = args[++i];
        } else if (tool::IsOption(a)) {
            return tool::BadArguments(kName, "unknown option " + a);
        } else if (!outGiven) {
            out = a;
            outGiven = true;
        } else {
            return tool::BadArguments(kName, "one OUT_FOLDER only");
        }
    }
    if (!outGiven)
        return tool::BadArguments(kName, "needs an OUT_FOLDER");
    if (const std::string why = qnStandardOutputFolderRefusal(out); !why.empty())
        return tool::Fail(kName, why);
    // A missing folder is made, as core-demo makes its own: the last one of
    // the name only, so that a mistyped path never becomes a chain of
    // folders; and only once the photo and the resource file read, so that
    // a refused run leaves no empty folder behind.
    struct stat st;
    const bool missing = ::lstat(out.c_str(), &st) != 0 && errno == ENOENT;
    // None of the pictures may be a file the tour reads, nor one that cannot
    // be written, all found before any window is drawn.
    const std::vector<Row> rows = TourRows();
    size_t longest = 0;
    for (const Row& row : rows)
        if (row.file)
            longest = std::max(longest, std::strlen(row.file) + std::strlen(".png"));
    const auto refusePictures = [&]() -> int {
        if (const QnRefusal refused = qnFolderRefusal(out, longest); !refused.empty())
            return tool::Fail(kName, refused.Line());
        for (const Row& row : rows) {
            if (!row.file)
                continue;
            const std::string picture = (fs::path(out) / (std::string(row.file) + ".png")).string();
            if (const int refused = tool::RefuseOutput(kName, picture, {resource, photo}, {}))
                return refused;
        }
        return 0;
    };
    if (!missing)
        if (const int refused = refusePictures())
            return refused;
    // A file that is no resource file is named as such before the plug-in
    // is started on it: the windows would only fail to open, one by one.
    if (const std::string refused = qnres::ResourceFile().OpenNamed(resource); !refused.empty())
        return tool::Fail(kName, refused);
    hostapp::RasterImage image;
    std::string err;
    if (!hostapp::ReadImageFile(photo, image, err))
        return tool::Fail(kName, err);
    if (missing) {
        if (const std::string why = qnMakeLastFolder(out); !why.empty())
            return tool::Fail(kName, why);
        if (const int refused = refusePictures())
            return refused;
    }
    std::error_code ec;

    // The plug-in's folder for the run: the resource file and whatever the
    // plug-in stores; gone afterwards, also when the run is stopped.
    const CQNF_ScratchFolder scratch("tessolo_tour");
    const std::string& pattern = scratch.Path();
    if (pattern.empty())
        return tool::Fail(kName, "cannot make a temporary folder");
    Tour tour;
    tour.folder.path = pattern;
    tour.out = out;
    fs::copy_file(resource, fs::path(pattern) / CAppRoad::kResourceFile, ec);
    tour.road.SetPlatform(&tour.hp);
    tour.road.SetCutterFactory(&qnMakeCutterWindow);
    tour.road.onBeforeRun = [&tour](CApp& a) { tour.app = &a; };
    tour.plugin->SetInteractiveRoad(&tour.road);
    Queue(tour, rows);
    g_Tour = &tour;
    int16_t result = 0;
    {
        // A second layer, so that the image overlay has a layer to take.
        hostapp::RasterImage layer;
        layer.Allocate(image.mode, image.width, image.height, true, 255);
        for (size_t p = 0; p + 1 < layer.planes.size() && p < image.planes.size(); ++p)
            layer.planes[p].assign(image.planes[p].rbegin(), image.planes[p].rend());
        hostapp::HostDocument doc = hostapp::HostDocument::FromImage(std::move(image), "Background");
        if (!doc.AddLayer(std::move(layer), "Turned", err))
            return tool::Fail(kName, "cannot add a layer: " + err);
        hostapp::StandInHost host(std::move(doc), hostapp::HostSettings{});
        try {
            result = host.Run(&Tour::Entry, hostapp::StandInHost::Sequence::Dialog);
        } catch (const std::exception& e) {
            tour.problems.push_back(e.what());
        }
    }
    g_Tour = nullptr;
    tour.plugin->SetInteractiveRoad(nullptr);
    if (!tour.app)
        tour.problems.push_back("the main window did not open (result " + std::to_string(result) + ")");
    if (tour.hp.ScriptLeft() != 0)
        tour.problems.push_back(std::to_string(tour.hp.ScriptLeft()) + " steps of the tour did not run");
    for (const std::string& p : tour.saved)
        std::printf("%s\n", p.c_str());
    // Every problem on a line of its own; the last line sums them up.
    for (size_t i = 1; i < tour.problems.size(); ++i)
        std::fprintf(stderr, "tessolo-tool %s: %s\n", kName, qnShownLine(tour.problems[i]).c_str());
    if (!tour.problems.empty())
        return tool::Fail(kName, tour.problems.front() + (tour.problems.size() > 1
                                                              ? " (and " + std::to_string(tour.problems.size() - 1) +
                                                                    " more problems)"
                                                              : std::string()));
    return 0;
}

const tool::Registrar reg({kName, "ui-tour OUT_FOLDER [--resource FILE] [--photo FILE]",
                           "saves every window of the plug-in in its typical state, drawn headless from the "
                           "resource file on a photo, as PNG pictures in OUT_FOLDER (made when missing)",
                           Run});

}  // namespace
