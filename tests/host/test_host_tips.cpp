// The status lines and the information panel follow the pointer, headless,
// through the plug-in's real windows: each of the knife editor's icon buttons
// shows its own tip; after a Cut the main window shows the piece-mode tip of
// what lies under the pointer; the information panel names the point under
// the pointer and the piece found there after a Cut, a keyboard zoom and a
// zoom chosen from the context menu, without the pointer moving; every
// click a ruler's or the editor preview's tip names does what it says; and
// the tip of a control whose tip depends on its state follows the state a
// click or a key made while the pointer rests on it, a key given in an
// effect window and passed on to the main window too.
#include "road_run.h"

#include "app/StatusTips.h"
#include "cutter/Wnd_Cutter.h"
#include "effects/WndFX_Base.h"
#include "ui/Control.h"
#include "ui/CtrlStatic.h"
#include "ui/KeyCodes.h"
#include "ui/Toolkit.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

namespace {

using namespace hosttest;
using plat::mods::Command;

// "Zoom In", by its place in the preview's general menu.
constexpr size_t kZoomInItem = 2;

// A step of a drive: true when done; false to be tried again one timer tick
// (30 ms) later.
using Step = std::function<bool()>;

struct TipRun : RoadRun {
    TipRun() { road.SetCutterFactory(&qnMakeCutterWindow); }

    CWnd_Main& Main() { return app->m_WndMain; }
    CWnd_Cutter& Editor() { return static_cast<CMainCutterWindow*>(Main().GetCutter())->Window(); }
    CTessolo& Engine() { return h.plugin->GetEngine(); }

    plat::Point Global(CQNF_Window& w, int32_t x, int32_t y)
    {
        const plat::Rect r = hp.ContentRect(w.GetWindowHandle());
        return {r.left + x, r.top + y};
    }
    plat::Point Centre(CQNF_Window& w, const qntRECT_s& r)
    {
        return Global(w, (r.left + r.right) / 2, (r.top + r.bottom) / 2);
    }
    CQNF_Control* Control(CQNF_Window& w, const char* name, uint8_t type)
    {
        CQNF_Control* c = w.GetControl(w.FindControlByName(name, type));
        EXPECT_NE(c, nullptr) << name;
        return c;
    }
    void ClickIn(CQNF_Window& w, const char* name, uint8_t type)
    {
        if (CQNF_Control* c = Control(w, name, type)) {
            hp.Activate(w.GetWindowHandle());
            hp.Click(Centre(w, c->GetRenderRect()));
        }
    }
    // A point of the picture in the main window's preview, as a fraction
    // of the part of the picture the preview shows.
    plat::Point InMainPreview(double fx, double fy)
    {
        CQNF_CtrlPreview& p = Main().GetPreview();
        const qntRECT_s r = p.GetRenderRect();
        const int32_t w = r.right - r.left, h = r.bottom - r.top;
        auto inside = [&](int32_t x, int32_t y) {
            const qntPOS i = p.GetImageCoorsByPreviewCoors(qntPOS{x, y});
            return i.x != -1 && i.x != 0xFFFF && i.y != -1 && i.y != 0xFFFF;
        };
        int32_t x0 = w, x1 = -1, y0 = h, y1 = -1;
        for (int32_t x = 0; x < w; ++x)
            if (inside(x, h / 2))
                x0 = std::min(x0, x), x1 = x;
        for (int32_t y = 0; y < h; ++y)
            if (inside(w / 2, y))
                y0 = std::min(y0, y), y1 = y;
        EXPECT_LE(x0, x1) << "no picture in the preview";
        return Global(Main(), r.left + x0 + int32_t((x1 - x0) * fx), r.top + y0 + int32_t((y1 - y0) * fy));
    }
    // The editor's grid, as its sliders let go at these values.
    void SetGrid(uint32_t rows, uint32_t columns) { SetEditorGrid(Editor(), rows, columns); }
    // The editor's Cut as its button sends it, wherever the pointer is.
    void CutByButtonMessage()
    {
        CWnd_Cutter& e = Editor();
        char name[] = "Cutter_Cut";
        e.OnCtrlMessage(qnmsg::Clicked, e.FindControlByName(name, qnctl::Button), name, qnctl::Button, nullptr);
    }

    // What a status line shows once its fade is over.
    static std::string Shown(CQNF_Window& w, const char* status)
    {
        auto* s = static_cast<CQNF_CtrlStaticText*>(w.GetControl(w.FindControlByName(status, qnctl::StaticText)));
        if (!s || s->GetOpacity() != 255)
            return "(fading)";
        return s->GetText().GetStr();
    }
    static std::string Info(CWnd_Main& w)
    {
        auto* s = static_cast<CQNF_CtrlStaticText*>(w.FindControl("Main_Info", qnctl::StaticText));
        return s ? s->GetText().GetStr() : "";
    }

    // The plug-in run in host through the steps, then the main window's
    // Cancel: the run ends cancelled with every step taken.
    void Run(StandInHost& host, std::vector<Step> steps)
    {
        steps.push_back([this] {
            ClickIn(Main(), "Main_Cancel", qnctl::Button);
            return true;
        });
        Drive(std::move(steps));
        EXPECT_EQ(h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr);
        EXPECT_EQ(hp.ScriptLeft(), 0u);
    }

private:
    // Runs the steps in order, one per wait of the loop: a step that is not
    // done yet is tried again after a timer tick, for up to two seconds. The
    // steps after one that opens a modal loop run inside that loop.
    void Drive(std::vector<Step> steps)
    {
        m_steps = std::move(steps);
        m_at = 0;
        m_tries = 0;
        if (!m_steps.empty())
            hp.Script([this] { i_Step(); });
    }
    std::vector<Step> m_steps;
    size_t m_at = 0;
    int m_tries = 0;
    void i_Step()
    {
        const size_t k = m_at++;
        if (m_at < m_steps.size())
            hp.Script([this] { i_Step(); });
        if (m_steps[k]()) {
            m_tries = 0;
            return;
        }
        if (++m_tries > 66) {
            ADD_FAILURE() << "step " << k << " never came to pass";
            m_tries = 0;
            return;
        }
        m_at = k;
        hp.Advance(30);
        if (k + 1 == m_steps.size())
            hp.Script([this] { i_Step(); });
    }
};

// The piece whose mask covers image point p, from the engine's own pieces;
// -1 for none.
int64_t PieceAt(const CTessolo& engine, qntPOS p)
{
    for (uint32_t i = 0; i < engine.m_nPieces; ++i) {
        const CTessolo::SPLITEDCELL& c = engine.m_pPieces[i];
        if (p.x < c.left || p.x >= c.right || p.y < c.top || p.y >= c.bottom)
            continue;
        if (c.mask->GetPtr()[size_t(p.y - c.top) * c.Width() + (p.x - c.left)])
            return i;
    }
    return -1;
}

// The image point under the pointer, as the preview maps it now.
qntPOS UnderPointer(CWnd_Main& w)
{
    const qntPOS m = w.GetMousePos();
    const qntRECT_s r = w.GetPreview().GetRenderRect();
    return w.GetPreview().GetImageCoorsByPreviewCoors(qntPOS{m.x - r.left, m.y - r.top});
}

// The information panel names, in pixels, the image point under the pointer
// and (in piece mode) the piece found there.
void ExpectPanelFollows(TipRun& r, const char* what, bool pieces)
{
    CWnd_Main& w = r.Main();
    const std::string info = TipRun::Info(w);
    const qntPOS p = UnderPointer(w);
    int x = -1, y = -1, id = -1;
    unsigned count = 0;
    const int read = std::sscanf(info.c_str(), "X: %d pixels\tY: %d pixels \tPiece info: ID: %d (%u)", &x, &y, &id,
                                 &count);
    ASSERT_GE(read, 2) << what << ": " << info;
    EXPECT_EQ(x, p.x) << what << ": " << info;
    EXPECT_EQ(y, p.y) << what << ": " << info;
    if (!pieces)
        return;
    const int64_t piece = PieceAt(r.Engine(), p);
    ASSERT_GE(piece, 0) << what << ": the pointer is over no piece";
    EXPECT_EQ(read, 4) << what << ": " << info;
    EXPECT_EQ(id, piece) << what << ": " << info;
    EXPECT_EQ(count, r.Engine().m_nPieces) << what << ": " << info;
}

}  // namespace

TEST(HostTips, EachIconButtonAndTheCloneDisplayOfTheKnifeEditorShowItsOwnTip)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    TipRun r;
    StandInHost host(Document(ColorMode::RGB, 240, 160, false), HostSettings{});
    const std::pair<const char*, uint8_t> controls[] = {
        {"Cutter_Undo", qnctl::Button},   {"Cutter_Redo", qnctl::Button},  {"Cutter_Reset", qnctl::Button},
        {"Cutter_FlipH", qnctl::Button},  {"Cutter_FlipU", qnctl::Button}, {"Cutter_AutoLayout", qnctl::Button},
        {"Cutter_CloneDisp", qnctl::StaticText}};
    std::vector<Step> steps;
    steps.push_back([&] {
        r.hp.Activate(r.Editor().GetWindowHandle());
        return true;
    });
    const std::string zone = qnGetStatusTip("Zone_Preview", "Cutter", 1, kTipZone);
    for (const auto& [name, type] : controls) {
        // From the preview, whose own tip shows first, to the control.
        steps.push_back([&] {
            CWnd_Cutter& e = r.Editor();
            r.hp.MoveMouse(r.Centre(e, e.m_rcPreview));
            return true;
        });
        steps.push_back([&] { return TipRun::Shown(r.Editor(), "Cutter_Status") == zone; });
        steps.push_back([&r, name = name, type = type] {
            if (CQNF_Control* c = r.Control(r.Editor(), name, type))
                r.hp.MoveMouse(r.Centre(r.Editor(), c->GetRenderRect()));
            return true;
        });
        steps.push_back([&r, name = name, type = type] {
            CQNF_Control* c = r.Control(r.Editor(), name, type);
            return c && TipRun::Shown(r.Editor(), "Cutter_Status") ==
                            qnGetStatusTip(name, "Cutter", c->IsEnabled(), type);
        });
    }
    r.Run(host, std::move(steps));
}

TEST(HostTips, TheModeBadgeLeavesTheLastTipInBothModes)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    TipRun r;
    StandInHost host(Document(ColorMode::RGB, 240, 160, false), HostSettings{});
    std::vector<Step> steps;
    for (const uint8_t mode : {2, 3}) {
        const char* badge = mode == 2 ? "Main_ModeL" : "Main_ModeP";
        if (mode == 3) {
            steps.push_back([&r] {
                r.CutByButtonMessage();
                return true;
            });
            steps.push_back([&r] { return !r.Main().m_bCutMode && !qnui::Toolkit::Get().TopModal(); });
        }
        // From empty space beside the badge, with the window's default tip
        // shown, onto the badge: the tip stays.
        steps.push_back([&r, badge] {
            CQNF_Control* c = r.Control(r.Main(), badge, qnctl::StaticImage);
            if (!c)
                return true;
            const qntRECT_s b = c->GetRenderRect();
            r.hp.Activate(r.Main().GetWindowHandle());
            r.hp.MoveMouse(r.Global(r.Main(), b.right + 40, (b.top + b.bottom) / 2));
            return true;
        });
        steps.push_back([&r, mode] {
            return TipRun::Shown(r.Main(), "Main_Status") == qnGetStatusTip("", "Main", mode, kTipNoControl);
        });
        steps.push_back([&r, badge] {
            if (CQNF_Control* c = r.Control(r.Main(), badge, qnctl::StaticImage))
                r.hp.MoveMouse(r.Centre(r.Main(), c->GetRenderRect()));
            return true;
        });
        steps.push_back([&r, mode] {
            const std::string last = qnGetStatusTip("", "Main", mode, kTipNoControl);
            EXPECT_EQ(r.Main().GetFader().Pending(), last) << int(mode);
            EXPECT_EQ(TipRun::Shown(r.Main(), "Main_Status"), last) << int(mode);
            return true;
        });
    }
    r.Run(host, std::move(steps));
}

TEST(HostTips, AfterACutTheMainWindowShowsThePieceModeTipOfWhatIsUnderThePointer)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    const std::string cutTip = qnGetStatusTip("Zone_Preview", "Main", 2, kTipZone);
    const std::string pieceTip = qnGetStatusTip("Zone_Preview", "Main", 3, kTipZone);
    ASSERT_NE(cutTip, pieceTip);
    struct Case {
        const char* what;
        // What happens once the pointer rests over the main preview with the
        // cut-mode tip shown; the pointer ends over the main preview.
        std::function<std::vector<Step>(TipRun&)> cut;
    } cases[] = {
        {"the pointer stays over the preview while the editor cuts",
         [](TipRun& r) -> std::vector<Step> {
             return {[&r] {
                 r.CutByButtonMessage();
                 return true;
             }};
         }},
        {"the pointer goes to the editor's Cut and comes back",
         [](TipRun& r) -> std::vector<Step> {
             return {[&r] {
                         r.ClickIn(r.Editor(), "Cutter_Cut", qnctl::Button);
                         return true;
                     },
                     [&r] {
                         r.hp.Activate(r.Main().GetWindowHandle());
                         r.hp.MoveMouse(r.InMainPreview(0.5, 0.5));
                         return true;
                     }};
         }},
        {"a second Cut asks whether to reset the effects, answered over the preview",
         [](TipRun& r) -> std::vector<Step> {
             return {[&r] {
                         r.CutByButtonMessage();
                         return true;
                     },
                     [&r] {
                         r.ClickIn(r.Main(), "Main_Relayout", qnctl::Button);
                         return true;
                     },
                     [&r] {
                         r.SetGrid(3, 2);
                         r.CutByButtonMessage();
                         return true;
                     },
                     [&r] {
                         // The question, put over the preview and answered there.
                         CQNF_Window* box = qnui::Toolkit::Get().TopModal();
                         if (!box)
                             return false;
                         CQNF_Control* no = r.Control(*box, "MessageBox_NO", qnctl::Button);
                         if (!no)
                             return true;
                         const qntRECT_s b = no->GetRenderRect();
                         const plat::Point target = r.InMainPreview(0.4, 0.4);
                         box->MoveWindow(short(target.x - (b.left + b.right) / 2),
                                         short(target.y - (b.top + b.bottom) / 2));
                         r.ClickIn(*box, "MessageBox_NO", qnctl::Button);
                         return true;
                     }};
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TipRun r;
        StandInHost host(Document(ColorMode::RGB, 240, 160, false), HostSettings{});
        std::vector<Step> steps = {
            [&] {
                r.SetGrid(2, 2);
                r.hp.Activate(r.Main().GetWindowHandle());
                r.hp.MoveMouse(r.InMainPreview(0.5, 0.5));
                return true;
            },
            [&] { return TipRun::Shown(r.Main(), "Main_Status") == cutTip; },
        };
        for (Step& s : c.cut(r))
            steps.push_back(std::move(s));
        steps.push_back([&] {
            // Pieces, and the pointer over the main preview.
            if (r.Main().m_bCutMode || qnui::Toolkit::Get().TopModal())
                return false;
            const qntPOS m = r.Main().GetMousePos();
            const qntRECT_s p = r.Main().GetPreview().GetRenderRect();
            EXPECT_TRUE(m.x >= p.left && m.x < p.right && m.y >= p.top && m.y < p.bottom) << m.x << ", " << m.y;
            return true;
        });
        steps.push_back([&] { return TipRun::Shown(r.Main(), "Main_Status") == pieceTip; });
        r.Run(host, std::move(steps));
    }
}

TEST(HostTips, TheInformationPanelNamesThePointAndPieceUnderAStillPointer)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    struct Case {
        const char* what;
        bool pieceMode;  // a Cut comes first
        double fx, fy;   // where the pointer rests, as a fraction of the picture shown
        // What changes while the pointer rests there.
        std::function<void(TipRun&)> change;
        bool pieces;  // the panel names a piece afterwards
    } cases[] = {
        {"a Cut", false, 0.3, 0.7, [](TipRun& r) { r.CutByButtonMessage(); }, true},
        {"a keyboard zoom in piece mode", true, 0.9, 0.9,
         [](TipRun& r) {
             r.hp.Activate(r.Main().GetWindowHandle());
             r.hp.Key(24, '=', Command);  // the key that types "="
         },
         true},
        {"a zoom from the context menu in cut mode", false, 0.3, 0.375,
         [](TipRun& r) {
             r.hp.menuAnswers.push_back(int(kZoomInItem));
             r.hp.Activate(r.Main().GetWindowHandle());
             r.hp.Press(2);
             r.hp.Release(2);
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TipRun r;
        StandInHost host(Document(ColorMode::RGB, 300, 200, false), HostSettings{});
        std::string before;
        qntPOS pointBefore{};
        std::vector<Step> steps;
        steps.push_back([&] {
            r.SetGrid(4, 5);
            if (c.pieceMode)
                r.CutByButtonMessage();
            return true;
        });
        steps.push_back([&] {
            if (r.Main().m_bCutMode == c.pieceMode)
                return false;
            r.hp.Activate(r.Main().GetWindowHandle());
            r.hp.MoveMouse(r.InMainPreview(c.fx, c.fy));
            return true;
        });
        // The panel as the pointer left it.
        steps.push_back([&] {
            pointBefore = UnderPointer(r.Main());
            before = TipRun::Info(r.Main());
            return before.rfind("X: ", 0) == 0;
        });
        steps.push_back([&] {
            c.change(r);
            return true;
        });
        steps.push_back([&] {
            if (r.Main().m_bCutMode == c.pieces || qnui::Toolkit::Get().TopModal())
                return false;
            const qntPOS now = UnderPointer(r.Main());
            if (!r.hp.menusShown.empty()) {
                EXPECT_EQ(r.hp.menusShown.back().at(kZoomInItem).text, "Zoom In");
            }
            // Each change moves the point under the pointer or the pieces.
            EXPECT_TRUE(now.x != pointBefore.x || now.y != pointBefore.y || c.pieces != c.pieceMode);
            ExpectPanelFollows(r, c.what, c.pieces);
            return true;
        });
        r.Run(host, std::move(steps));
    }
}

TEST(HostTips, TheRulersAndTheirCoversOpenTheUnitsMenuWithTheClicksTheirTipsName)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    TipRun r;
    StandInHost host(Document(ColorMode::RGB, 240, 160, false), HostSettings{});
    // The clicks a tip may name, as this desktop's keys give them.
    struct Click {
        const char* named;
        uint8_t button, mods;
    };
    const Click clicks[] = {{"Right-click", 2, 0}, {"Ctrl+click", 1, Command}, {"Ctrl+Click", 1, Command}};
    struct Place {
        const char* control;
        uint8_t type;
        int dy;  // from the control's centre: the top ruler's outer half is the split ruler
    } places[] = {{"Main_RulerCover_Top", qnctl::StaticImage, 0},
                  {"Main_RulerCover_Left", qnctl::StaticImage, 0},
                  {"Main_RulerTop", qnctl::Ruler, 2},
                  {"Main_RulerLeft", qnctl::Ruler, 0}};
    std::vector<Step> steps;
    for (const Place& p : places) {
        auto tip = std::make_shared<std::string>();
        steps.push_back([&r, p] {
            CWnd_Main& w = r.Main();
            r.hp.Activate(w.GetWindowHandle());
            if (CQNF_Control* c = r.Control(w, p.control, p.type)) {
                const qntRECT_s cr = c->GetRenderRect();
                r.hp.MoveMouse(r.Global(w, (cr.left + cr.right) / 2, (cr.top + cr.bottom) / 2 + p.dy));
            }
            return true;
        });
        // The tip, once the status line shows what it was asked for.
        steps.push_back([&r, tip] {
            const CStatusFader& f = r.Main().GetFader();
            if (f.GetState() != CStatusFader::Idle || TipRun::Shown(r.Main(), "Main_Status") != f.Pending())
                return false;
            *tip = f.Pending();
            return true;
        });
        auto named = std::make_shared<size_t>(0);
        for (const Click& k : clicks) {
            auto menus = std::make_shared<size_t>(0);
            steps.push_back([&r, tip, named, menus, k] {
                if (tip->find(k.named) == std::string::npos)
                    return true;
                ++*named;
                *menus = r.hp.menusShown.size();
                r.hp.menuAnswers.push_back(-1);  // looked at, then dismissed
                r.hp.Press(k.button, k.mods);
                r.hp.Release(k.button, k.mods);
                return true;
            });
            steps.push_back([&r, p, tip, menus, k] {
                if (tip->find(k.named) == std::string::npos)
                    return true;
                EXPECT_EQ(r.hp.menusShown.size(), *menus + 1) << p.control << ": " << k.named << " showed no menu";
                if (r.hp.menusShown.size() > *menus) {
                    std::string items;
                    for (const plat::MenuItem& m : r.hp.menusShown.back())
                        items += m.text + "|";
                    EXPECT_EQ(items, "Pixels|Inches|Centimeters|Millimeters|Percent|") << p.control << ": " << k.named;
                }
                return true;
            });
        }
        steps.push_back([p, tip, named] {
            EXPECT_GT(*named, 0u) << p.control << ": its tip names no click: " << *tip;
            return true;
        });
    }
    r.Run(host, std::move(steps));
}

TEST(HostTips, TheKnifeEditorsPreviewTipNamesTheKeyThatSelectsSeveralNodes)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    TipRun r;
    StandInHost host(Document(ColorMode::RGB, 240, 160, false), HostSettings{});
    // The keys a tip may name, as this desktop's keyboard gives them.
    const std::pair<const char*, uint8_t> keys[] = {
        {"Ctrl", Command}, {"Shift", plat::mods::Shift}, {"Alt", plat::mods::Option}};
    std::string tip;
    auto node = [&r](uint32_t i) {
        CWnd_Cutter& e = r.Editor();
        const qntPOS c = e.NodeCentre(i);
        return r.Global(e, e.m_rcPreview.left + c.x, e.m_rcPreview.top + c.y);
    };
    std::vector<Step> steps = {
        [&] {
            CWnd_Cutter& e = r.Editor();
            EXPECT_GE(e.m_Shape.nodeCount, 2u);
            r.hp.Activate(e.GetWindowHandle());
            // A corner of the preview, away from the knife: a plain click
            // there selects no node.
            r.hp.Click(r.Global(e, e.m_rcPreview.left + 3, e.m_rcPreview.top + 3));
            return true;
        },
        [&] {
            const CCutterStatusFader& s = r.Editor().Status();
            if (s.State() != CCutterStatusFader::kIdle || TipRun::Shown(r.Editor(), "Cutter_Status") != s.Pending())
                return false;
            tip = s.Pending();
            return true;
        },
        [&] {
            r.hp.Click(node(0));
            return true;
        },
        [&] {
            const char* const several = "+click to select several";
            const size_t at = tip.find(several);
            EXPECT_NE(at, std::string::npos) << tip;
            uint8_t mods = 0;
            for (const auto& [name, bit] : keys)
                if (at != std::string::npos && at >= std::strlen(name) &&
                    tip.compare(at - std::strlen(name), std::strlen(name), name) == 0)
                    mods = bit;
            EXPECT_NE(mods, 0) << "no key named: " << tip;
            r.hp.SetKeyState(mods);
            r.hp.Click(node(1), mods);
            return true;
        },
        [&] {
            r.hp.SetKeyState(0);
            const CWnd_Cutter& e = r.Editor();
            EXPECT_EQ(e.m_Shape.selected[0], 1) << tip;
            EXPECT_EQ(e.m_Shape.selected[1], 1) << tip;
            for (uint32_t i = 2; i < e.m_Shape.nodeCount; ++i)
                EXPECT_EQ(e.m_Shape.selected[i], 0) << i;
            return true;
        },
    };
    r.Run(host, std::move(steps));
}

// A click or a key that changes a control under a resting pointer changes its
// tip at once: Hide Extras gives way to Show Extras (and back, by Ctrl+H and
// Ctrl+Shift+H) in both modes, and the editor's Smoothness slider, turned
// off when Delete takes its selected anchor points away, says how to turn it
// on again.
TEST(HostTips, TheTipOfAControlUnderAStillPointerFollowsTheStateAClickOrKeyMade)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    TipRun r;
    StandInHost host(Document(ColorMode::RGB, 240, 160, false), HostSettings{});
    // Waits for the line to show tip after what was done.
    auto shows = [&r](bool editor, std::string what, std::string tip) -> Step {
        return [&r, editor, what = std::move(what), tip = std::move(tip), tries = 0]() mutable {
            const std::string shown =
                editor ? TipRun::Shown(r.Editor(), "Cutter_Status") : TipRun::Shown(r.Main(), "Main_Status");
            if (shown == tip)
                return true;
            if (++tries == 60)
                ADD_FAILURE() << "after " << what << " the line stays \"" << shown << "\", the tip is \"" << tip
                              << "\"";
            return false;
        };
    };
    auto act = [](std::function<void()> f) -> Step {
        return [f = std::move(f)] {
            f();
            return true;
        };
    };
    std::vector<Step> steps;

    // The editor: one anchor point selected, the pointer on the slider.
    const std::string smoothOn = qnGetStatusTip("Cutter_Smoothness", "Cutter", 1, qnctl::Slider);
    const std::string smoothOff = qnGetStatusTip("Cutter_Smoothness", "Cutter", 0, qnctl::Slider);
    ASSERT_NE(smoothOn, smoothOff);
    steps.push_back(act([&r] {
        CWnd_Cutter& e = r.Editor();
        ASSERT_GT(e.m_Shape.nodeCount, 2u);
        e.m_Shape.selected[1] = 1;
        e.OnChangeNodeSelection();
        r.hp.Activate(e.GetWindowHandle());
        // A point of the slider's own hot zone, as a move finds it (a
        // slider has no rectangle of its own).
        const unsigned long id = e.FindControlByName("Cutter_Smoothness", qnctl::Slider);
        ASSERT_NE(e.GetControl(id), nullptr);
        for (int32_t y = 0; y < e.GetHeight(); y += 2)
            for (int32_t x = 0; x < e.GetWidth(); x += 2)
                if (e.ControlUnderPoint(short(x), short(y)) == id) {
                    r.hp.MoveMouse(r.Global(e, x, y));
                    return;
                }
        ADD_FAILURE() << "no point of the slider is under a pointer";
    }));
    steps.push_back(shows(true, "a point selected", smoothOn));
    steps.push_back(act([&r] { r.hp.Key(qnkey::vk::ForwardDelete, 0); }));
    steps.push_back(shows(true, "Delete", smoothOff));

    // The main window, in both modes.
    for (const uint8_t mode : {2, 3}) {
        const std::string hide = qnGetStatusTip("Main_HideExtras", "Main", mode, qnctl::Button);
        const std::string show = qnGetStatusTip("Main_ShowExtras", "Main", mode, qnctl::Button);
        ASSERT_NE(hide, show);
        const std::string in = mode == 2 ? " in cut mode" : " in piece mode";
        if (mode == 3) {
            steps.push_back(act([&r] { r.CutByButtonMessage(); }));
            steps.push_back([&r] { return !r.Main().m_bCutMode && !qnui::Toolkit::Get().TopModal(); });
        }
        steps.push_back(act([&r] {
            CQNF_Control* c = r.Control(r.Main(), "Main_HideExtras", qnctl::Button);
            ASSERT_TRUE(c && c->IsEnabled()) << "the extras are not shown";
            r.hp.Activate(r.Main().GetWindowHandle());
            r.hp.MoveMouse(r.Centre(r.Main(), c->GetRenderRect()));
        }));
        steps.push_back(shows(false, "the pointer came" + in, hide));
        // Each press turns the extras the other way; the line follows.
        const struct {
            const char* what;
            std::function<void()> press;
        } presses[] = {
            {"a click", [&r] { r.hp.Click(r.hp.PointerGlobal()); }},
            {"Ctrl+H", [&r] { r.hp.Key(4, 'h', plat::mods::Command); }},
            {"Ctrl+Shift+H", [&r] { r.hp.Key(4, 'H', plat::mods::Command | plat::mods::Shift); }},
            {"a click again", [&r] { r.hp.Click(r.hp.PointerGlobal()); }},
        };
        bool shown = true;
        for (const auto& p : presses) {
            shown = !shown;
            steps.push_back(act(p.press));
            steps.push_back(shows(false, p.what + in, shown ? hide : show));
        }
    }

    // An effect window holds the keyboard, the pointer rests on the main
    // window's Hide Extras: Ctrl+H, passed on to the main window, turns the
    // button and the main window's line follows, though no event of its own
    // came.
    const std::string hideFx = qnGetStatusTip("Main_HideExtras", "Main", 4, qnctl::Button);
    const std::string showFx = qnGetStatusTip("Main_ShowExtras", "Main", 4, qnctl::Button);
    ASSERT_NE(hideFx, showFx);
    steps.push_back(act([&r] {
        r.hp.Activate(r.Main().GetWindowHandle());
        r.hp.Key(11, 'b', Command);  // the key that types "B": Bevel
    }));
    steps.push_back([&r] { return r.Main().m_bFXMode && r.Main().GetFXWindow(); });
    steps.push_back(act([&r] {
        CQNF_Window* fx = r.Main().GetFXWindow();
        // Beside the main window, off its buttons.
        const qntRECT_s m = r.Main().GetWindowRect();
        fx->MoveWindow(short(m.right + 16), short(m.top));
        CQNF_Control* c = r.Control(r.Main(), "Main_HideExtras", qnctl::Button);
        ASSERT_TRUE(c && c->IsEnabled()) << "the extras are not shown";
        r.hp.Activate(fx->GetWindowHandle());
        r.hp.MoveMouse(r.Centre(r.Main(), c->GetRenderRect()));
    }));
    steps.push_back(shows(false, "the pointer came beside an effect window", hideFx));
    for (const bool shownAfter : {false, true}) {
        steps.push_back(act([&r] {
            ASSERT_EQ(qnui::Toolkit::Get().Find(r.hp.ZOrder().back()), static_cast<CQNF_Window*>(r.Main().GetFXWindow()));
            r.hp.Key(4, 'h', Command);
        }));
        steps.push_back(shows(false, "Ctrl+H in the effect window", shownAfter ? hideFx : showFx));
    }
    steps.push_back(act([&r] { r.ClickIn(*r.Main().GetFXWindow(), "FXbevel_Cancel", qnctl::Button); }));
    steps.push_back([&r] { return !r.Main().m_bFXMode; });
    r.Run(host, std::move(steps));
}

// A stopped Cut leaves no pieces, and the editor's ways out stay off: the
// tip over each says so, not what it would do were it on.
TEST(HostTips, AfterAStoppedCutTheWaysOutOfTheEditorSayTheyAreOff)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    TipRun r;
    StandInHost host(Document(ColorMode::RGB, 240, 160, false), HostSettings{});
    std::vector<Step> steps;
    steps.push_back([&r] {
        r.ClickIn(r.Editor(), "Cutter_Cut", qnctl::Button);
        // Queued behind the Cut's click: the Cut's first look at its
        // events finds it.
        r.ClickIn(r.Editor(), "Cutter_CuttingAbort", qnctl::Button);
        return true;
    });
    steps.push_back([&r] {
        CWnd_Cutter& e = r.Editor();
        return e.IsOpen() && !e.m_bCutting && !e.m_CutReported.empty() && r.Engine().m_nPieces == 0;
    });
    for (const char* way : {"Cutter_CloseX", "Cutter_Cancel"}) {
        steps.push_back([&r, way] {
            CQNF_Control* c = r.Control(r.Editor(), way, qnctl::Button);
            EXPECT_FALSE(c && c->IsEnabled()) << way;
            const std::string off = qnGetStatusTip(way, "Cutter", 0, qnctl::Button);
            EXPECT_NE(off, qnGetStatusTip(way, "Cutter", 1, qnctl::Button)) << way;
            EXPECT_NE(off.find("no pieces"), std::string::npos) << off;
            if (c)
                r.hp.MoveMouse(r.Centre(r.Editor(), c->GetRenderRect()));
            return true;
        });
        steps.push_back([&r, way] {
            return TipRun::Shown(r.Editor(), "Cutter_Status") == qnGetStatusTip(way, "Cutter", 0, qnctl::Button);
        });
    }
    r.Run(host, std::move(steps));
}
