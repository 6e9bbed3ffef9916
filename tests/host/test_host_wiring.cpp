// The main window as the running program builds it, headless: after a Cut
// its own piece map answers the commands, menus and gestures. Clicks with
// modifiers select real pieces, a Shift-click on an effect button switches
// the effect for the selection and re-renders those pieces alone, keys and
// shortcuts reach the map, and Command-Z undoes.
#include "host_test_support.h"
#include "window_cut.h"
#include "window_snapshot.h"

#include "app/App.h"
#include "app/CutterStandIn.h"
#include "app/InteractiveRoad.h"
#include "app/Preferences.h"
#include "effects/WndFX_Base.h"
#include "effects/WndFX_ImageOverlay.h"
#include "hostapp/RasterImage.h"
#include "imaging/ImageFile.h"
#include "imaging/PSDCodec.h"
#include "ui/CtrlPreview.h"
#include "ui/CtrlSlider.h"
#include "ui/CtrlStatic.h"
#include "app/MainMenus.h"
#include "platform/Headless.h"
#include "ui/Control.h"
#include "ui/KeyCodes.h"
#include "ui/Toolkit.h"
#include "ui/Window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>

namespace {

using namespace hosttest;
using plat::mods::Command;
using plat::mods::Option;
using plat::mods::Shift;

const std::string kResources = std::string(TESSOLO_BINARY_DIR) + "/resource_ts31_d.qns4";
constexpr int kW = 160, kH = 120;

// The editor's Cut, as the knife editor window does it.
class CutNow : public CCutterStandIn {
public:
    bool cut = false;
    bool WasCut() const override { return cut; }
};

bool Cut(CWnd_Main& w, CPluginMain& plugin)
{
    const bool done = CutInWindow(w, plugin);
    static_cast<CutNow*>(w.GetCutter())->cut = done;
    return done;
}

CQNF_Control* ControlOf(CQNF_Window& w, const char* name, uint8_t type)
{
    for (unsigned long i = 0; i < w.GetControlCount(); ++i)
        if (CQNF_Control* c = w.GetControl(i); c && !std::strcmp(c->GetName(), name) && c->GetType() == type)
            return c;
    return nullptr;
}

// A piece's rendered planes, read as the composite reads them.
std::vector<uint8_t> Rendered(const CTessolo::SPLITEDCELL& c)
{
    std::vector<uint8_t> out;
    const size_t area = size_t(c.Width()) * size_t(c.Height());
    for (size_t k = 0; area && k < 5 && c.planePtrs[k]; ++k)
        for (int32_t y = 0; y < c.Height(); ++y) {
            const uint8_t* row = c.planePtrs[k] + size_t(y) * c.planeStrides[k];
            out.insert(out.end(), row, row + c.Width());
        }
    return out;
}

// The plug-in's interactive Start on a headless backend with a knife editor
// that cuts; steps run one per wait of the window's loop.
class WiredRun {
public:
    PluginHarness h;
    plat::HeadlessPlatform hp;
    CAppRoad road;
    CApp* app = nullptr;
    // Window points of the six pieces of a 3 x 2 cut, by cell (row-major).
    std::vector<uint32_t> cell;
    std::vector<plat::Point> at;
    // The document the host runs the plug-in on, when not a plain picture.
    std::function<HostDocument()> document;

    WiredRun()
    {
        std::filesystem::copy_file(kResources, h.File(CAppRoad::kResourceFile));
        road.SetPlatform(&hp);
        road.onBeforeRun = [this](CApp& a) {
            app = &a;
            a.m_WndMain.SetCutterFactory([]() -> std::unique_ptr<CMainCutter> { return std::make_unique<CutNow>(); });
        };
        h.plugin->SetInteractiveRoad(&road);
        Do([this] { hp.Activate(W().GetWindowHandle()); });
    }
    ~WiredRun() { h.plugin->SetInteractiveRoad(nullptr); }

    CWnd_Main& W() { return app->m_WndMain; }
    CTessolo::SPLITEDCELL& Piece(uint32_t i) { return h.plugin->GetEngine().m_pPieces[i]; }
    void Do(std::function<void()> f) { hp.Script(std::move(f)); }

    // Cuts 3 x 2 (after `layout` changed the knives) and finds a window
    // point inside each piece: the middle of its cell of the grid.
    void CutIntoSix(std::function<void(CWnd_Main&)> layout = nullptr)
    {
        Do([this, layout] {
            CWnd_Main& w = W();
            w.spl_SplitEvenParts(3, 2, 1, 1);
            if (layout)
                layout(w);
            ASSERT_TRUE(Cut(w, *h.plugin));
            w.OnCutterClose();
            ASSERT_EQ(w.m_bCutMode, 0);
            ASSERT_TRUE(w.pm_IsBound());
            ASSERT_EQ(w.GetPreview().GetZoom(), 4);  // one image pixel a preview pixel
            const qntPOS o = w.GetPreview().GetImageCoorsByPreviewCoorsNoOverflowCheck(qntPOS{0, 0});
            const plat::Rect wr = hp.ContentRect(w.GetWindowHandle());
            // The picture worked on: the whole document, or the selection's box.
            const int iw = w.m_MainImage.GetImageWidth(), ih = w.m_MainImage.GetImageHeight();
            for (int row = 0; row < 2; ++row)
                for (int col = 0; col < 3; ++col) {
                    const int x = iw / 6 + col * iw / 3, y = ih / 4 + row * ih / 2;
                    cell.push_back(w.GetPieceByXY(qntPOS{x, y}));
                    ASSERT_LT(cell.back(), w.pm_PieceCount());
                    at.push_back({wr.left + w.m_rcPreview.left + x - o.x, wr.top + w.m_rcPreview.top + y - o.y});
                }
            ASSERT_EQ(std::set<uint32_t>(cell.begin(), cell.end()).size(), 6u);
        });
    }
    void Click(std::function<plat::Point()> where, uint32_t mods)
    {
        Do([=, this] {
            hp.SetKeyState(mods);
            hp.MoveMouse(where());
            hp.Press(1, uint8_t(mods));
        });
        Do([=, this] { hp.Release(1, uint8_t(mods)); });
        Do([this] { hp.SetKeyState(0); });
    }
    void ClickCell(int c, uint32_t mods = 0)
    {
        Click([this, c] { return at[size_t(c)]; }, mods);
    }
    void ClickButton(const char* name, uint32_t mods = 0)
    {
        Click(
            [this, name] {
                CQNF_Control* b = W().FindControl(name, qnctl::Button);
                EXPECT_NE(b, nullptr) << name;
                const qntRECT_s r = b ? b->GetRenderRect() : qntRECT_s{0, 0, 0, 0};
                const plat::Rect wr = hp.ContentRect(W().GetWindowHandle());
                return plat::Point{wr.left + (r.left + r.right) / 2, wr.top + (r.top + r.bottom) / 2};
            },
            mods);
    }
    // The cells whose pieces are selected.
    std::set<int> Selected()
    {
        std::set<int> s;
        for (int c = 0; c < 6; ++c)
            if (Piece(cell[size_t(c)]).selected)
                s.insert(c);
        return s;
    }
    // Ends with Cancel; queued by the caller when a dialog's steps must come
    // first.
    int16_t Cancel(bool queue = true, ColorMode mode = ColorMode::RGB)
    {
        if (queue)
            Do([this] { W().OnButton("Main_Cancel"); });
        StandInHost host(document ? document() : Document(mode, kW, kH, false), HostSettings{});
        const int16_t r = h.Run(host, StandInHost::Sequence::Dialog);
        EXPECT_EQ(hp.ScriptLeft(), 0u);
        return r;
    }
};

#define NEED_RESOURCES()                          \
    if (!std::filesystem::exists(kResources))     \
    FAIL() << "no compiled resource file in this build"

}  // namespace

TEST(HostWiring, PieceClicksWithModifiersSelectThroughTheRealMapAndUndo)
{
    NEED_RESOURCES();
    WiredRun r;
    r.Do([&] {
        // The window made its own piece map when it was created.
        ASSERT_NE(r.W().GetPieceMap(), nullptr);
    });
    r.CutIntoSix();
    // The information panel names the piece under the pointer by its
    // column and row (1-based, cells 0 1 2 on the top row).
    for (int c = 0; c < 6; ++c) {
        r.Do([&r, c] { r.hp.MoveMouse(r.at[size_t(c)]); });
        r.Do([&r, c] {
            CWnd_Main& w = r.W();
            w.UpdateInfoPanel(qnNullPOS, 0);
            auto* info = static_cast<CQNF_CtrlStaticText*>(w.FindControl("Main_Info", qnctl::StaticText));
            ASSERT_NE(info, nullptr);
            const std::string want = "Column: " + std::to_string(c % 3 + 1) + "; Row: " + std::to_string(c / 3 + 1);
            EXPECT_NE(std::string(info->GetText().GetStr()).find(want), std::string::npos)
                << "cell " << c << ": " << info->GetText().GetStr();
        });
    }
    struct Step {
        int cell;
        uint32_t mods;
        std::set<int> selected;
    };
    // Cells: 0 1 2 on the top row, 3 4 5 below.
    const std::vector<Step> steps = {
        {0, 0, {0}},                        // only this one
        {2, Command, {0, 2}},               // Command adds
        {2, Command, {0}},                  // and takes away
        {4, Shift, {0, 1, 2, 4, 5}},        // a block from the last piece selected by a click
        {3, Shift | Option, {0, 1, 2, 5}},  // Option-Shift takes a block away
        {5, 0, {5}},
    };
    for (const Step& s : steps) {
        r.ClickCell(s.cell, s.mods);
        r.Do([&r, s] { EXPECT_EQ(r.Selected(), s.selected) << "cell " << s.cell << " mods " << s.mods; });
    }
    // The last clicked piece is the current one, the one effect windows start from.
    r.Do([&] { EXPECT_EQ(r.W().m_nCurrentPiece, r.cell[5]); });
    // Command-Z undoes the last click, and again redoes it.
    r.Do([&] { r.hp.Key(qnkey::vk::Z, 'z', Command); });
    r.Do([&] { EXPECT_EQ(r.Selected(), (std::set<int>{0, 1, 2, 5})); });
    r.Do([&] { r.hp.Key(qnkey::vk::Z, 'z', Command); });
    r.Do([&] { EXPECT_EQ(r.Selected(), (std::set<int>{5})); });
    // A plain click beside the picture, in the preview, deselects all.
    r.Click(
        [&] {
            const plat::Point p = r.at[2];
            return plat::Point{p.x + kW, p.y};
        },
        0);
    r.Do([&] { EXPECT_TRUE(r.Selected().empty()); });
    // Shortcuts and keys: select all, hide the selection with Forward
    // Delete, show it again with Backspace.
    r.Do([&] {
        CWnd_Main& w = r.W();
        EXPECT_EQ(w.OnShortcut(2), 1);
        EXPECT_EQ(r.Selected().size(), 6u);
        EXPECT_EQ(w.SelectedCount(), w.pm_PieceCount());
    });
    r.Do([&] { r.hp.Key(qnkey::vk::ForwardDelete, 0); });
    r.Do([&] {
        for (uint32_t p : r.cell)
            EXPECT_TRUE(r.W().IsPieceHidden(p)) << p;
        EXPECT_TRUE(r.W().FindControl("Main_Show", qnctl::Button)->IsEnabled());
    });
    r.Do([&] { r.hp.Key(qnkey::vk::Backspace, 8); });
    r.Do([&] {
        for (uint32_t p : r.cell)
            EXPECT_FALSE(r.W().IsPieceHidden(p)) << p;
    });
    EXPECT_EQ(r.Cancel(), userCanceledErr);
}

TEST(HostWiring, ShiftClickOnAnEffectButtonSwitchesItForTheSelectionAndRerendersThoseAlone)
{
    NEED_RESOURCES();
    WiredRun r;
    r.CutIntoSix();
    std::vector<uint8_t> before;
    std::vector<std::vector<uint8_t>> rendered;
    r.ClickCell(0);
    r.ClickCell(4, Shift);  // cells 0, 1, 3 and 4
    r.Do([&] {
        ASSERT_EQ(r.Selected(), (std::set<int>{0, 1, 3, 4}));
        // Every piece has the bevel after the cut: its check box says so.
        EXPECT_TRUE(r.W().FindControl("Main_FXBevel", qnctl::CheckBox)->GetCheck());
        before = Planes(r.W().m_MainImage);
        for (uint32_t p : r.cell)
            rendered.push_back(Rendered(r.Piece(p)));
    });
    r.ClickButton("Main_FXBevel", Shift);
    r.Do([&] {
        CWnd_Main& w = r.W();
        EXPECT_FALSE(w.m_bFXMode);  // no effect window was opened
        EXPECT_FALSE(w.FindControl("Main_FXBevel", qnctl::CheckBox)->GetCheck());
        SaveWindowSnapshot(r.hp, w.GetWindowHandle(), "wiring_main_bevel_off.png");
        const std::set<int> sel = r.Selected();
        std::vector<uint8_t> changed(size_t(kW) * kH, 0);
        for (int c = 0; c < 6; ++c) {
            const CTessolo::SPLITEDCELL& p = r.Piece(r.cell[size_t(c)]);
            const bool on = sel.count(c) == 0;
            EXPECT_EQ(p.bevel[CTessolo::FX_APPLIED].on != 0, on) << "cell " << c;
            if (on)
                EXPECT_EQ(Rendered(p), rendered[size_t(c)]) << "cell " << c << " rendered again";
            else
                EXPECT_NE(Rendered(p), rendered[size_t(c)]) << "cell " << c << " not rendered";
        }
        // Pixels of the pieces left alone are what they were.
        const std::vector<uint8_t> after = Planes(w.m_MainImage);
        const size_t n = size_t(kW) * kH;
        size_t kept = 0;
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                const uint32_t p = w.GetPieceByXY(qntPOS{x, y});
                if (p == CPieceMap::kNone || w.IsPieceSelected(p))
                    continue;
                // Not on an edge a selected piece shares.
                bool edge = false;
                for (int dy = -2; dy <= 2 && !edge; ++dy)
                    for (int dx = -2; dx <= 2 && !edge; ++dx) {
                        const uint32_t q = w.GetPieceByXY(qntPOS{x + dx, y + dy});
                        edge = q != CPieceMap::kNone && w.IsPieceSelected(q);
                    }
                if (edge)
                    continue;
                ++kept;
                const size_t i = size_t(y) * kW + x;
                for (int k = 0; k < 4; ++k)
                    ASSERT_EQ(after[k * n + i], before[k * n + i]) << x << "," << y;
            }
        EXPECT_GT(kept, n / 5);
        EXPECT_NE(after, before);
    });
    // Command-Z brings the bevel back, pixel for pixel.
    r.Do([&] { r.hp.Key(qnkey::vk::Z, 'z', Command); });
    r.Do([&] {
        EXPECT_EQ(Planes(r.W().m_MainImage), before);
        for (uint32_t p : r.cell)
            EXPECT_TRUE(r.Piece(p).bevel[CTessolo::FX_APPLIED].on) << p;
        EXPECT_TRUE(r.W().FindControl("Main_FXBevel", qnctl::CheckBox)->GetCheck());
    });
    EXPECT_EQ(r.Cancel(), userCanceledErr);
}

TEST(HostWiring, PreferencesAndExportCommandsOpenTheirDialogsOverTheWindow)
{
    NEED_RESOURCES();
    WiredRun r;
    r.Do([&] {
        CWnd_Main& w = r.W();
        ASSERT_EQ(w.m_Prefs.alphaSolid, 0);
        // Where the transparency's solid radio lies in the dialog.
        qntRECT_s radio{};
        {
            CQNF_Window probe;
            ASSERT_TRUE(probe.CreateFromResource("Pref", -32000, -32000, nullptr, 0));
            const unsigned long id = probe.AddControl("Pref_TSolid", qnctl::RadioButton);
            ASSERT_NE(id, CQNF_Window::None);
            radio = probe.GetControl(id)->GetRenderRect();
            probe.Close();
        }
        // The dialog's own steps, then the knives export of cut mode, closed
        // with Esc, then the end of the run.
        r.hp.Script([&r, radio] {
            const plat::WinId box = r.hp.ZOrder().back();
            ASSERT_NE(box, r.W().GetWindowHandle());
            const plat::Rect br = r.hp.ContentRect(box);
            r.hp.Click({br.left + (radio.left + radio.right) / 2, br.top + (radio.top + radio.bottom) / 2});
        });
        r.hp.Script([&r] { r.hp.Key(qnkey::vk::Return, 13); });
        EXPECT_EQ(w.OnMenuCommand(qnmenu::Preferences), 1);
        // OK: the window and its preview take the solid colour, and all the
        // records are in the configuration.
        EXPECT_EQ(w.m_Prefs.alphaSolid, 1);
        const qntRGBA8 solid = w.m_Prefs.alphaColorSolid;
        for (const qntRGBA8& c : {w.GetPreview().m_inner1, w.GetPreview().m_inner2})
            EXPECT_TRUE(c.r == solid.r && c.g == solid.g && c.b == solid.b) << int(c.r) << "," << int(c.g);
        CPreferences stored;
        stored.settings_Load(r.h.plugin->ConfStorage_GetStorage());
        EXPECT_EQ(stored.alphaSolid, 1);

        bool exportShown = false;
        r.hp.Script([&r, &exportShown] {
            exportShown = r.hp.ZOrder().back() != r.W().GetWindowHandle();
            r.hp.Key(qnkey::vk::Escape, 27);
        });
        EXPECT_EQ(w.OnMenuCommand(qnmenu::Export), 1);  // in cut mode: the knives
        EXPECT_TRUE(exportShown);
        r.hp.Script([&r] { r.W().OnButton("Main_Cancel"); });
    });
    EXPECT_EQ(r.Cancel(false), userCanceledErr);
}

namespace {

// The documents the matrix below works on.
enum class Doc { RGB, Gray, Holes, Layered, Edges };

// A picture whose transparency has holes: clear in one block, partly clear
// in another.
RasterImage WithHoles()
{
    RasterImage img = Picture(ColorMode::RGB, kW, kH, true);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            uint8_t& a = img.planes[3][size_t(y) * kW + x];
            if (x >= 40 && x < 60 && y >= 44 && y < 70)
                a = 0;
            else if (x >= 96 && x < 136 && y >= 66 && y < 104)
                a = uint8_t(x * 5 + y * 3);
        }
    return img;
}

// The holes, over a ramp of transparency across the picture whose left
// columns are clear: a border the host leaves out of the work.
RasterImage ClearEdgeAndRamp()
{
    RasterImage img = WithHoles();
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            uint8_t& a = img.planes[3][size_t(y) * kW + x];
            a = x < 12 ? 0 : uint8_t(a * (51 + 204 * x / kW) / 255);
        }
    return img;
}

HostDocument MatrixDocument(Doc kind, bool selection)
{
    HostDocument doc = kind == Doc::Holes   ? HostDocument::FromImage(WithHoles(), "Layer 1")
                       : kind == Doc::Edges ? HostDocument::FromImage(ClearEdgeAndRamp(), "Layer 1")
                                          : Document(kind == Doc::Gray ? ColorMode::Gray : ColorMode::RGB, kW, kH,
                                                     false);
    std::string err;
    if (kind == Doc::Layered) {
        // A transparent layer over the picture, the one filtered.
        RasterImage top = WithHoles();
        for (size_t i = 0; i < top.planes[0].size(); ++i)
            top.planes[1][i] = uint8_t(255 - top.planes[1][i]);
        EXPECT_TRUE(doc.AddLayer(top, "Top", err)) << err;
        doc.target = doc.layers.size() - 1;
    }
    if (selection) {
        // Partly selected: a ramp inside a rectangle, nothing outside.
        std::vector<uint8_t> mask(size_t(kW) * kH, 0);
        for (int y = 10; y < kH - 14; ++y)
            for (int x = 12; x < kW - 20; ++x)
                mask[size_t(y) * kW + x] = uint8_t(40 + (x * 7 + y * 3) % 216);
        EXPECT_TRUE(doc.SetSelection(mask, err)) << err;
    }
    return doc;
}

}  // namespace

namespace {

// Runs the tool in folder; false with its words on failure.
bool Tool(const std::string& folder, const std::string& args)
{
    const std::string cmd = "cd '" + folder + "' && '" + TESSOLO_BINARY_DIR + "/tools/tessolo-tool' " + args +
                            " >tool.txt 2>&1";
    const bool ok = std::system(cmd.c_str()) == 0;
    if (!ok) {
        std::ifstream words(folder + "/tool.txt");
        ADD_FAILURE() << args << ": " << std::string(std::istreambuf_iterator<char>(words), {});
    }
    return ok;
}

// The picture as a PNG file cut by the window's layout document in the
// tool: its merged picture, as a PNG and as a PSD's merged image, and (the
// pieces at full opacity) its piece files on the full canvas put together
// are what Apply gave, over white; each piece keeps the picture's
// transparency.
void ExpectTheToolsExportIsApplied(const std::string& folder, const RasterImage& picture, const std::string& layout,
                                   const std::function<unsigned(size_t, int)>& applied, bool composeFiles)
{
    std::string err;
    ASSERT_TRUE(hostapp::WritePngFile(folder + "picture.png", picture, err)) << err;
    std::filesystem::create_directory(folder + "series");
    ASSERT_TRUE(Tool(folder, "export pieces --what merged '" + layout + "' picture.png merged.png"));
    ASSERT_TRUE(Tool(folder, "export pieces '" + layout + "' picture.png tool.psd"));
    ASSERT_TRUE(Tool(folder, "export pieces --names extended '" + layout + "' picture.png series/"));
    const size_t n = size_t(kW) * kH;
    auto overWhite = [](unsigned c, unsigned a) { return (c * a + 255 * (255 - a)) / 255; };
    for (const char* name : {"merged.png", "tool.psd"}) {
        CQNF_ImageFile file;
        ASSERT_TRUE(file.Load(folder + name)) << file.Reason();
        ASSERT_EQ(file.GetWidth(), kW);
        ASSERT_EQ(file.GetHeight(), kH);
        const uint8_t* alpha = file.GetKind() == CQNF_ImageFile::KindPNG ? file.GetPlane(-1) : nullptr;
        size_t differ = 0;
        for (size_t i = 0; i < n; ++i)
            for (int p = 0; p < 3; ++p)
                differ += overWhite(file.GetPlane(static_cast<signed char>(p))[i], alpha ? alpha[i] : 255) != applied(i, p);
        EXPECT_EQ(differ, 0u) << name << ": bytes that are not the applied picture over white";
    }
    if (!composeFiles)
        return;
    // The piece files put together as the composite puts the pieces, in
    // the order of the engine's table (the number after "Piece"): each over
    // what lies below, a pixel that two soft edges cover whole, and no more
    // than the picture's own transparency.
    std::map<unsigned long, std::filesystem::path> byPiece;
    for (const auto& f : std::filesystem::directory_iterator(folder + "series")) {
        const std::string name = f.path().filename().string();
        const size_t at = name.find("-Piece");
        ASSERT_NE(at, std::string::npos) << name;
        byPiece[std::stoul(name.substr(at + 6))] = f.path();
    }
    EXPECT_GT(byPiece.size(), 1u);
    std::vector<uint8_t> colours(3 * n, 0), alpha(n, 0);
    for (const auto& [index, path] : byPiece) {
        CQNF_ImageFile piece;
        ASSERT_TRUE(piece.Load(path.string(), CQNF_ImageFile::KindPNG)) << piece.Reason();
        ASSERT_EQ(piece.GetWidth(), kW);
        ASSERT_EQ(piece.GetHeight(), kH);
        const uint8_t* a = piece.GetPlane(-1);
        for (size_t i = 0; i < n; ++i) {
            if (!a[i])
                continue;
            for (int p = 0; p < 3; ++p) {
                uint8_t& t = colours[size_t(p) * n + i];
                const unsigned s = piece.GetPlane(static_cast<signed char>(p))[i];
                t = uint8_t(alpha[i] ? (t * (255u - a[i]) + s * a[i]) / 255 : s);
            }
            alpha[i] = alpha[i] ? 255 : a[i];
        }
    }
    size_t differ = 0;
    for (size_t i = 0; i < n; ++i)
        for (int p = 0; p < 3; ++p) {
            const unsigned a = std::min(alpha[i], picture.planes[3][i]);
            const int d = int(overWhite(colours[size_t(p) * n + i], a)) - int(applied(i, p));
            differ += d < -2 || d > 2;
        }
    EXPECT_EQ(differ, 0u) << "bytes where the piece files put together are not the applied picture over white";
}

}  // namespace

// One picture for every setting: what Apply gives the host, what a replay
// of the descriptor that Apply kept gives again, and what a PSD export
// carries for the programs that show no layers are the same bytes. Cuts
// with soft edges (a razor cut, and knives of every width with and without
// anti-aliasing, shaped and straight), the knife lines' piece shown, hidden
// or with effects, pieces hidden or at reduced opacity (0 too), on a flat,
// grey, transparent and layered picture, with a partly selected area.
// Where soft edges meet, the picture is whole; where it ends transparent,
// the host keeps the document's colours, not those of a hidden piece.
TEST(HostWiring, ApplyItsReplayAndTheExportedPsdGiveOnePictureForEverySetting)
{
    NEED_RESOURCES();
    enum Splitter { Shown, Hidden, WithEffects };
    struct Case {
        const char* what;
        uint16_t knifeWidth;  // 0: razor cut
        bool antiAlias;
        bool straight;
        Splitter splitter;
        Doc doc;
        bool selection;
        std::set<int> hidden;                    // cells, with a red overlay first
        std::vector<std::pair<int, int>> opacity;  // cell, opacity
        std::set<int> selected;                  // exported over the composite of the rest
    } cases[] = {
        {"razor cut", 0, true, false, Shown, Doc::RGB, false, {}, {}, {}},
        {"razor cut, two pieces over the composite of the others", 0, true, false, Shown, Doc::RGB, false, {}, {},
         {1, 4}},
        {"knives 2", 2, true, false, Shown, Doc::RGB, false, {}, {}, {}},
        {"knives 6, lines with effects, a piece at half opacity", 6, true, false, WithEffects, Doc::RGB, false, {},
         {{2, 128}}, {}},
        {"straight knives 10, lines hidden, a hidden piece", 10, true, true, Hidden, Doc::RGB, false, {3}, {}, {}},
        {"knives 6 without anti-aliasing", 6, false, false, Shown, Doc::RGB, false, {}, {{0, 0}}, {}},
        {"grey, knives 6, opacity 0 and a hidden piece", 6, true, false, Shown, Doc::Gray, false, {5}, {{0, 0}}, {}},
        {"holes, knives 10, hidden and clear pieces", 10, true, false, Shown, Doc::Holes, false, {1}, {{4, 0}}, {}},
        {"layered, knives 6, lines hidden", 6, true, false, Hidden, Doc::Layered, false, {2}, {{3, 90}}, {}},
        {"layered, straight knives 10 without anti-aliasing, lines with effects", 10, false, true, WithEffects,
         Doc::Layered, false, {}, {}, {}},
        {"selection, straight knives 2, a hidden piece", 2, true, true, Shown, Doc::RGB, true, {0}, {}, {}},
        {"holes under a selection, razor cut, opacity 0", 0, true, false, Shown, Doc::Holes, true, {}, {{1, 0}},
         {}},
        {"layered under a selection, knives 6, lines with effects", 6, true, false, WithEffects, Doc::Layered, true,
         {4}, {{0, 60}}, {}},
        {"clear edge columns over a ramp, knives 6, a hidden piece", 6, true, false, Shown, Doc::Edges, false, {2}, {},
         {}},
        {"clear edge columns over a ramp, razor cut, two pieces over the composite of the others", 0, true, false,
         Shown, Doc::Edges, false, {}, {}, {0, 5}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WiredRun r;
        r.document = [&c] { return MatrixDocument(c.doc, c.selection); };
        r.CutIntoSix([&c](CWnd_Main& w) {
            w.spl_DoSetKnifeTh(c.knifeWidth, c.knifeWidth == 0, 0);
            w.m_bAntiAlias = c.antiAlias;
            if (c.straight) {
                for (uint32_t i = 0; i < w.m_nColKnives; ++i)
                    w.m_ColKnives[i].nodeCount = 0;
                for (uint32_t i = 0; i < w.m_nRowKnives; ++i)
                    w.m_RowKnives[i].nodeCount = 0;
            }
        });
        // The pieces' effects, through the window's own map.
        r.Do([&r, &c] {
            CWnd_Main& w = r.W();
            ASSERT_EQ(w.HasSplitterPiece(), c.knifeWidth != 0);
            std::vector<uint32_t> changed;
            CTessolo::SFX_COLOROVERLAY red{1, 255, {76, 255, 0, 0, 0, 255, 255, 0}};
            if (c.splitter == WithEffects) {
                r.Piece(0).colorOverlay[CTessolo::FX_REQUESTED] = red;
                r.Piece(0).invert[CTessolo::FX_REQUESTED] = 1;
                changed.push_back(0);
            }
            for (int cell : c.hidden) {
                r.Piece(r.cell[size_t(cell)]).colorOverlay[CTessolo::FX_REQUESTED] = red;
                changed.push_back(r.cell[size_t(cell)]);
            }
            for (auto [cell, opacity] : c.opacity) {
                r.Piece(r.cell[size_t(cell)]).opacity[CTessolo::FX_REQUESTED] = {1, uint8_t(opacity)};
                changed.push_back(r.cell[size_t(cell)]);
            }
            if (!changed.empty()) {
                ASSERT_TRUE(w.pmop_RerenderPieces(changed, 1, 0));
            }
            for (int cell : c.hidden)
                w.pmop_ShowHidePiece(r.cell[size_t(cell)], 0, 1);
            if (c.splitter == Hidden)
                w.pmop_ShowHidePiece(0, 0, 1);
        });
        for (int cell : c.selected)
            r.ClickCell(cell, cell == *c.selected.begin() ? 0 : Command);
        // A PSD export of a picture the export takes (RGB, no selection the
        // host would blend by).
        const bool exported = c.doc != Doc::Gray && !c.selection;
        // The tool's export of the same layout, on the picture as a file.
        const bool tool = (c.doc == Doc::Holes || c.doc == Doc::Edges) && !c.selection;
        const std::string psd = r.h.File("pieces.psd"), layout = r.h.File("layout.qntd");
        size_t soft = 0;
        std::vector<uint8_t> preview;
        // The work rectangle (a clear border left out) and the pieces'
        // boxes on it.
        qntRECT_s work{};
        std::set<std::array<int32_t, 4>> boxes;
        const std::string shot = "apply_matrix_" + std::to_string(&c - cases);
        r.Do([&r, &c, &soft, &preview, &shot, &work, &boxes, &layout, exported, tool] {
            EXPECT_EQ(r.Selected(), c.selected);
            preview = Planes(r.W().m_MainImage);
            work = r.h.plugin->GetPluginDataPtr()->filterRect;
            // The size the window names is the picture's, a clear border
            // left out of the cut or not.
            if (!c.selection) {
                r.W().UpdateInfoPanel(qnNullPOS, 1);
                auto* info = static_cast<CQNF_CtrlStaticText*>(r.W().FindControl("Main_Info", qnctl::StaticText));
                ASSERT_NE(info, nullptr);
                const std::string text = info->GetText().GetStr(), w = std::to_string(kW), h = std::to_string(kH);
                EXPECT_TRUE(text.find(w + " pixels x " + h + " pixels") != std::string::npos ||
                            text.find(w + " px x " + h + " px") != std::string::npos)
                    << text;
            }
            for (uint32_t i = 0; i < r.W().pm_PieceCount(); ++i)
                boxes.insert({r.Piece(i).left, r.Piece(i).top, r.Piece(i).Width(), r.Piece(i).Height()});
            std::string message;
            if (tool) {
                EXPECT_TRUE(r.W().settings_SaveDocument(layout.c_str(), message)) << message;
            }
            // With TESSOLO_SNAPSHOT_DIR set, the preview without extras at 1:1
            // and at 4:1 over a crossing of the knives.
            if (std::getenv("TESSOLO_SNAPSHOT_DIR")) {
                CQNF_CtrlPreview& view = r.W().GetPreview();
                r.W().pmop_Extras(0, 1);
                SaveWindowSnapshot(r.hp, r.W().GetWindowHandle(), (shot + "_100.png").c_str());
                const qntPOS o = view.GetImageCoorsByPreviewCoorsNoOverflowCheck(qntPOS{0, 0});
                const int iw = r.W().m_MainImage.GetImageWidth(), ih = r.W().m_MainImage.GetImageHeight();
                view.SetZoom(6, short(iw / 3 - o.x), short(ih / 2 - o.y), 1, 1);
                SaveWindowSnapshot(r.hp, r.W().GetWindowHandle(), (shot + "_400.png").c_str());
                view.SetZoom(4, 0, 0, 1, 1);
                r.W().pmop_Extras(1, 1);
            }
            // Where pieces meet, their edges are partly transparent.
            for (uint32_t i = 0; i < r.W().pm_PieceCount(); ++i) {
                const CTessolo::SPLITEDCELL& p = r.Piece(i);
                for (int32_t y = 0; y < p.Height(); ++y)
                    for (int32_t x = 0; x < p.Width(); ++x) {
                        const uint8_t a = p.planePtrs[3][size_t(y) * p.planeStrides[3] + size_t(x)];
                        soft += a != 0 && a != 255;
                    }
            }
            if (!exported)
                return;
            // The export dialog, whose modal loop takes the next step.
            r.hp.saveAnswers.push_back(plat::SaveChoice{r.h.folder.path, "pieces.psd", false});
            EXPECT_EQ(r.W().OnMenuCommand(qnmenu::Export), 1);
        });
        // Its OK with the stored settings (the selected pieces and the
        // composite, or all when none is selected); the file goes where
        // the save dialog answered.
        if (exported) {
            r.Do([&r] {
                CQNF_Window* dialog = qnui::Toolkit::Get().TopModal();
                ASSERT_NE(dialog, nullptr);
                CQNF_Control* ok = ControlOf(*dialog, "Export_Export", qnctl::Button);
                ASSERT_NE(ok, nullptr);
                const qntRECT_s b = ok->GetRenderRect();
                const plat::Rect dr = r.hp.ContentRect(dialog->GetWindowHandle());
                r.hp.Activate(dialog->GetWindowHandle());
                r.hp.Click({dr.left + (b.left + b.right) / 2, dr.top + (b.top + b.bottom) / 2});
            });
            r.Do([&psd] { EXPECT_TRUE(std::filesystem::exists(psd)); });
        }
        r.Do([&r] {
            CQNF_Control* apply = r.W().FindControl("Main_Apply", qnctl::Button);
            ASSERT_NE(apply, nullptr);
            const qntRECT_s b = apply->GetRenderRect();
            const plat::Rect wr = r.hp.ContentRect(r.W().GetWindowHandle());
            r.hp.Click({wr.left + (b.left + b.right) / 2, wr.top + (b.top + b.bottom) / 2});
        });
        StandInHost host(MatrixDocument(c.doc, c.selection), HostSettings{});
        ASSERT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), 0);
        EXPECT_EQ(r.hp.ScriptLeft(), 0u);
        EXPECT_TRUE(!c.antiAlias || soft > 100u) << "the cut has no soft edge to check";
        const RasterImage& applied = host.Document().Target().pixels;
        ASSERT_FALSE(host.DescriptorBytes().empty());

        // The replay of the descriptor Apply kept, in a plug-in that never
        // showed its window.
        PluginHarness again;
        StandInHost replay(MatrixDocument(c.doc, c.selection), HostSettings{});
        replay.SetDescriptor(host.DescriptorBytes());
        ASSERT_EQ(again.Run(replay), 0);
        const RasterImage& replayed = replay.Document().Target().pixels;
        ASSERT_EQ(replayed.planes.size(), applied.planes.size());
        for (size_t p = 0; p < applied.planes.size(); ++p) {
            size_t differ = 0;
            for (size_t i = 0; i < applied.planes[p].size(); ++i)
                differ += applied.planes[p][i] != replayed.planes[p][i];
            EXPECT_EQ(differ, 0u) << "pixels of plane " << p << " where Apply and its replay differ";
        }

        // The window showed what Apply wrote: its picture over the
        // background colour, or with its transparency.
        // A clear border is left out of the window's picture.
        const int32_t ww = work.right - work.left, wh = work.bottom - work.top;
        if (!c.selection) {
            EXPECT_EQ(c.doc == Doc::Edges, ww < kW) << "the clear border was not left out of the work";
        }
        if (c.doc != Doc::Gray && !c.selection) {
            const size_t n = size_t(ww) * size_t(wh);
            ASSERT_EQ(preview.size(), 4 * n);
            const bool layer = applied.planes.size() == 4;
            size_t differ = 0;
            for (int32_t y = 0; y < wh; ++y)
                for (int32_t x = 0; x < ww; ++x) {
                    const size_t i = size_t(y) * size_t(ww) + size_t(x);
                    const size_t at = size_t(y + work.top) * kW + size_t(x + work.left);
                    for (size_t p = 0; p < 4; ++p) {
                        const uint8_t a = preview[3 * n + i];
                        const uint8_t shown = layer ? preview[p * n + i]
                                            : p < 3 ? uint8_t((preview[p * n + i] * a + 255 * (255 - a)) / 255)
                                                    : 255;
                        if (p < applied.planes.size())
                            differ += shown != applied.planes[p][at];
                    }
                }
            EXPECT_EQ(differ, 0u) << "bytes where the window's picture is not what Apply wrote";
        }
        // What Apply shows over white, the ground of a picture in programs
        // that read no transparency.
        auto appliedOverWhite = [&applied](size_t i, int p) {
            const unsigned a = applied.planes.size() == 4 ? applied.planes[3][i] : 255;
            return (applied.planes[size_t(p)][i] * a + 255 * (255 - a)) / 255;
        };

        if (!exported)
            continue;
        CQNF_ImageFile merged;
        ASSERT_TRUE(merged.Load(psd, CQNF_ImageFile::KindPSD)) << merged.Reason();
        ASSERT_EQ(merged.GetWidth(), kW);
        ASSERT_EQ(merged.GetHeight(), kH);
        // The merged image is the picture over white, as the host puts a
        // layer with transparency on a white ground.
        size_t differ = 0;
        for (size_t i = 0; i < size_t(kW) * kH; ++i) {
            bool same = true;
            for (int p = 0; p < 3; ++p)
                same = same && merged.GetPlane(p)[i] == appliedOverWhite(i, p);
            differ += !same;
        }
        EXPECT_EQ(differ, 0u) << "pixels where the PSD's merged image is not the applied picture";
        // Every layer in its place on the canvas: a piece's box moved by
        // the border left out of the cut, or the whole canvas.
        auto& layers = static_cast<CQNF_ImagePSD&>(*merged.GetReader());
        ASSERT_TRUE(layers.LParseLayersLocal());
        size_t pieces = 0;
        for (uint32_t i = 0; i < layers.GetLayersCount(); ++i) {
            CQNF_ImagePSD::PSDLayerInfoExt_s info{};
            ASSERT_TRUE(layers.GetLayerInfo(i, info));
            const bool canvas = info.left == 0 && info.top == 0 && info.width == uint32_t(kW) &&
                                info.height == uint32_t(kH);
            const bool placed = boxes.count({info.left - work.left, info.top - work.top, int32_t(info.width),
                                             int32_t(info.height)}) != 0;
            EXPECT_TRUE(canvas || placed) << "layer " << i << " at " << info.left << ", " << info.top;
            pieces += placed;
        }
        EXPECT_GT(pieces, 0u);
        if (tool)
            ExpectTheToolsExportIsApplied(r.h.File(""), MatrixDocument(c.doc, false).Target().pixels, layout,
                                          appliedOverWhite, c.opacity.empty());
    }
}

TEST(HostWiring, AnEffectButtonOpensItsWindowWhoseOkIsOneUndoStep)
{
    NEED_RESOURCES();
    WiredRun r;
    r.CutIntoSix();
    std::vector<uint8_t> before;
    r.ClickCell(1);
    r.Do([&] { before = Planes(r.W().m_MainImage); });
    // The effect records the last settings, the descriptor and documents
    // keep for the pieces.
    auto records = [&r] {
        CQNF_Mem mem;
        uint32_t count = 0;
        EXPECT_TRUE(r.W().settings_GetPieceRecords(&mem, count));
        return std::vector<uint8_t>(mem.GetPtr(), mem.GetPtr() + size_t(count) * CWnd_MainModel::kPieceRecordSize);
    };
    std::vector<uint8_t> recordsBefore;
    r.Do([&] { recordsBefore = records(); });
    r.ClickButton("Main_FXOpacity");
    auto opacity = [&r](int c) { return r.Piece(r.cell[size_t(c)]).opacity[CTessolo::FX_APPLIED]; };
    r.Do([&] {
        CWnd_Main& w = r.W();
        ASSERT_TRUE(w.m_bFXMode);
        CWndFX_Base* fx = w.GetFXWindow();
        ASSERT_NE(fx, nullptr);
        EXPECT_EQ(r.hp.ZOrder().back(), fx->GetWindowHandle());
        SaveWindowSnapshot(r.hp, w.GetWindowHandle(), "wiring_main_fxmode.png");
        SaveWindowSnapshot(r.hp, fx->GetWindowHandle(), "wiring_opacity_window.png");
        EXPECT_EQ(w.OnShortcut(2), 0);  // the main window refuses edits meanwhile
        auto* slider = static_cast<CQNF_CtrlSlider*>(ControlOf(*fx, "FXopac_Opacity", qnctl::Slider));
        ASSERT_NE(slider, nullptr);
        slider->SetValue(50, 1);
        // Released: the main window re-rendered the selected piece alone.
        for (int c = 0; c < 6; ++c)
            EXPECT_EQ(opacity(c).on && opacity(c).opacity == 127, c == 1) << "cell " << c;
    });
    // The window's timer gives OK back once the render is over.
    r.Do([&] { r.hp.Advance(200); });
    r.Do([] {});
    r.Do([&] {
        CWndFX_Base* fx = r.W().GetFXWindow();
        CQNF_Control* ok = ControlOf(*fx, "FXopac_Ok", qnctl::Button);
        ASSERT_NE(ok, nullptr);
        EXPECT_TRUE(ok->IsEnabled());
        r.hp.Activate(fx->GetWindowHandle());
        const plat::Rect br = r.hp.ContentRect(fx->GetWindowHandle());
        const qntRECT_s q = ok->GetRenderRect();
        r.hp.Click({br.left + (q.left + q.right) / 2, br.top + (q.top + q.bottom) / 2});
    });
    r.Do([&] {
        CWnd_Main& w = r.W();
        EXPECT_FALSE(w.m_bFXMode);
        EXPECT_TRUE(opacity(1).on);
        EXPECT_EQ(opacity(1).opacity, 127);
        EXPECT_TRUE(w.FindControl("Main_FXOpacity", qnctl::CheckBox)->GetCheck());
        EXPECT_NE(Planes(w.m_MainImage), before);
        // The records follow: only the clicked piece's record changed.
        const std::vector<uint8_t> now = records();
        ASSERT_EQ(recordsBefore.size(), 6 * CWnd_MainModel::kPieceRecordSize);
        ASSERT_EQ(now.size(), recordsBefore.size());
        for (uint32_t p = 0; p < 6; ++p) {
            const auto at = std::ptrdiff_t(p * CWnd_MainModel::kPieceRecordSize);
            const bool same = std::equal(now.begin() + at, now.begin() + at + CWnd_MainModel::kPieceRecordSize,
                                         recordsBefore.begin() + at);
            EXPECT_EQ(same, p != r.cell[1]) << "piece " << p;
        }
    });
    // The whole effect window is one step: Command-Z takes it back.
    r.Do([&] { r.hp.Key(qnkey::vk::Z, 'z', Command); });
    r.Do([&] {
        CWnd_Main& w = r.W();
        EXPECT_FALSE(opacity(1).on);
        EXPECT_EQ(Planes(w.m_MainImage), before);
        EXPECT_EQ(records(), recordsBefore) << "the undone effect stayed in the records";
        // An effect without a window of its own is refused quietly.
        w.pmfx_DoEffect(CPieceMap::FX_INVERT);
        EXPECT_FALSE(w.m_bFXMode);
        EXPECT_EQ(r.hp.ZOrder().back(), w.GetWindowHandle());
    });
    EXPECT_EQ(r.Cancel(), userCanceledErr);
}

TEST(HostWiring, EachNamedEffectOpenerOpensItsOwnWindow)
{
    NEED_RESOURCES();
    WiredRun r;
    r.CutIntoSix();
    r.ClickCell(2);
    struct Case {
        void (CWnd_Main::*open)();
        const char* prefix;
    };
    const Case cases[] = {
        {&CWnd_Main::pmfx_DoBlur, "FXblur"},
        {&CWnd_Main::pmfx_DoBevel, "FXbevel"},
        {&CWnd_Main::pmfx_DoHSL, "FXhsl"},
        {&CWnd_Main::pmfx_DoColorOverlay, "FXcovr"},
        {&CWnd_Main::pmfx_DoBrightContrast, "FXbc"},
        {&CWnd_Main::pmfx_DoMotionBlur, "FXmblur"},
        {&CWnd_Main::pmfx_DoOpacity, "FXopac"},
        {&CWnd_Main::pmfx_DoStroke, "FXstroke"},
        {&CWnd_Main::pmfx_DoImageOverlay, "FXiovr"},
    };
    for (const Case& c : cases) {
        r.Do([&] {
            CWnd_Main& w = r.W();
            ASSERT_FALSE(w.m_bFXMode) << c.prefix;
            (w.*c.open)();
            ASSERT_TRUE(w.m_bFXMode) << c.prefix;
            ASSERT_NE(w.GetFXWindow(), nullptr) << c.prefix;
            EXPECT_STREQ(w.GetFXWindow()->Prefix(), c.prefix);
        });
        // Once the first render is over the window closes as with Cancel,
        // and the main window leaves effect mode.
        r.Do([&] { r.hp.Advance(200); });
        r.Do([] {});
        r.Do([&] {
            if (CWndFX_Base* fx = r.W().GetFXWindow())
                fx->Close();
        });
        r.Do([&] { EXPECT_FALSE(r.W().m_bFXMode) << c.prefix; });
    }
    EXPECT_EQ(r.Cancel(), userCanceledErr);
}

// The colour overlay and stroke windows open in every colour mode of the
// document; hue-saturation only in an RGB one, and elsewhere the main window
// stays as it was.
TEST(HostWiring, ColourOverlayStrokeAndHueSaturationOpenAsTheDocumentModeAllows)
{
    NEED_RESOURCES();
    for (ColorMode mode : {ColorMode::Gray, ColorMode::RGB, ColorMode::CMYK}) {
        WiredRun r;
        r.CutIntoSix();
        const struct {
            CPieceMap::FX bit;
            const char* prefix;
        } effects[] = {{CPieceMap::FX_COLOROVERLAY, "FXcovr"},
                       {CPieceMap::FX_STROKE, "FXstroke"},
                       {CPieceMap::FX_HSL, "FXhsl"}};
        for (const auto& e : effects)
            r.Do([&r, e, mode] {
                CWnd_Main& w = r.W();
                const bool opens = e.bit != CPieceMap::FX_HSL || mode == ColorMode::RGB;
                w.pmfx_DoEffect(e.bit);
                EXPECT_EQ(w.m_bFXMode != 0, opens) << e.prefix << " in mode " << int(mode);
                CWndFX_Base* fx = w.GetFXWindow();
                if (!opens) {
                    EXPECT_TRUE(fx == nullptr || !fx->GetWindowHandle());
                    EXPECT_EQ(r.hp.ZOrder().back(), w.GetWindowHandle());
                    return;
                }
                ASSERT_NE(fx, nullptr);
                EXPECT_STREQ(fx->Prefix(), e.prefix);
                EXPECT_EQ(r.hp.ZOrder().back(), fx->GetWindowHandle());
                fx->Close();  // as Cancel
                EXPECT_FALSE(w.m_bFXMode);
            });
        EXPECT_EQ(r.Cancel(true, mode), userCanceledErr);
    }
}

namespace {

void OverlayFromTheBoxLayer(ColorMode mode)
{
    WiredRun r;
    const qntRECT_s box{30, 40, 130, 120};
    auto boxPixel = [](int32_t x, int32_t y, int c) { return uint8_t((x * 5 + y * 3 + c * 70) & 0xFF); };
    const int colours = hostapp::ColorPlanes(mode);
    const std::string tag = std::to_string(colours);
    r.document = [&] {
        HostDocument doc = Document(mode, kW, kH, false);
        RasterImage layer = Picture(mode, kW, kH, true);
        for (int32_t y = 0; y < kH; ++y)
            for (int32_t x = 0; x < kW; ++x) {
                const size_t i = size_t(y) * kW + size_t(x);
                for (int c = 0; c < colours; ++c)
                    layer.planes[size_t(c)][i] = boxPixel(x, y, c);
                layer.planes[size_t(colours)][i] =
                    x >= box.left && x < box.right && y >= box.top && y < box.bottom ? 255 : 0;
            }
        std::string err;
        EXPECT_TRUE(doc.AddLayer(layer, "Box", err)) << err;
        doc.target = 0;  // the background is filtered
        return doc;
    };
    r.CutIntoSix();
    r.ClickCell(4);
    r.ClickButton("Main_FXIOver");
    // "From Document Layer...": the list's steps run inside its own loop.
    r.Do([&] {
        CWndFX_Base* fx = r.W().GetFXWindow();
        ASSERT_NE(fx, nullptr);
        unsigned short item = CWndFX_ImageOverlay::kItemLayers;
        EXPECT_EQ(fx->OnCtrlMessage(qnmsg::PopupChoice, CQNF_Window::None, const_cast<char*>("Menu"), 255, &item), 1);
    });
    r.Do([&] {
        const plat::WinId list = r.hp.ZOrder().back();
        ASSERT_NE(list, r.W().GetFXWindow()->GetWindowHandle());
        SaveWindowSnapshot(r.hp, list, ("wiring_layers_list_" + tag + ".png").c_str());
        r.hp.Activate(list);
        const plat::Rect c = r.hp.ContentRect(list);
        r.hp.Click({c.left + 100, c.top + 40 + 16 + 8});  // the second row: the box
    });
    r.Do([&] { r.hp.Key(qnkey::vk::Return, 13); });
    r.Do([&] {
        auto& fx = static_cast<CWndFX_ImageOverlay&>(*r.W().GetFXWindow());
        EXPECT_EQ(fx.Model().value1.layerChoice, 1);
        EXPECT_EQ(fx.Model().value1.layerId, 2);
        static_cast<CQNF_CtrlSlider*>(ControlOf(fx, "FXiovr_Opacity", qnctl::Slider))->SetValue(100, 1);
    });
    r.Do([&] { r.hp.Advance(200); });
    r.Do([] {});
    r.Do([&] {
        CWndFX_Base* fx = r.W().GetFXWindow();
        SaveWindowSnapshot(r.hp, fx->GetWindowHandle(), ("wiring_image_overlay_window_" + tag + ".png").c_str());
        r.hp.Activate(fx->GetWindowHandle());
        r.hp.Key(qnkey::vk::Return, 13);
    });
    r.Do([&] {
        EXPECT_FALSE(r.W().m_bFXMode);
        SaveWindowSnapshot(r.hp, r.W().GetWindowHandle(), ("wiring_image_overlay_main_" + tag + ".png").c_str());
        const CTessolo::SPLITEDCELL& p = r.Piece(r.cell[4]);
        const auto& io = p.imageOverlay[CTessolo::FX_APPLIED];
        EXPECT_EQ(io.on, 1);
        EXPECT_EQ(io.layerChoice, 1);
        EXPECT_EQ(io.layerId, 2);
        EXPECT_EQ(io.opacity, 255);
        ASSERT_TRUE(p.left >= box.left && p.top >= box.top && p.right <= box.right && p.bottom <= box.bottom);
        const int32_t cx = (p.left + p.right) / 2, cy = (p.top + p.bottom) / 2;
        // CMYK pieces are worked in RGB: each ink darkened by the black.
        auto expected = [&](int32_t x, int32_t y, int c) {
            return colours == 4 ? uint8_t(boxPixel(x, y, c) * boxPixel(x, y, 3) / 256) : boxPixel(x, y, c);
        };
        for (const auto& [x, y] : {std::pair{cx, cy}, {cx - 9, cy + 4}, {cx + 7, cy - 11}})
            for (int c = 0; c < std::min(colours, 3); ++c)
                EXPECT_EQ(p.planePtrs[c][size_t(y - p.top) * p.planeStrides[c] + size_t(x - p.left)], expected(x, y, c))
                    << x << "," << y << " plane " << c << " of " << colours;
        // The pieces not listed keep no overlay.
        EXPECT_EQ(r.Piece(r.cell[0]).imageOverlay[CTessolo::FX_APPLIED].on, 0);
    });
    EXPECT_EQ(r.Cancel(), userCanceledErr);
}

}  // namespace

// The image overlay from a layer smaller than the picture and placed inside
// it: the layer is picked in the document layers list (the composite, the
// box and the background are listed, all covering the bottom middle piece),
// and at full opacity the piece shows the box layer's own pixels there, in
// every colour mode.
TEST(HostWiring, ImageOverlayFromALayerOfAnotherSizeAndPlace)
{
    NEED_RESOURCES();
    for (const ColorMode mode : {ColorMode::Gray, ColorMode::RGB, ColorMode::CMYK})
        OverlayFromTheBoxLayer(mode);
}
