// The document layers list and the image overlay window: which layers cover
// the pieces' area, the rows and their order, the scaled preview and its
// marker, the overlay's own grading, and both windows on the headless
// platform over a fake host document.
#include "effects/WndFX_ImageOverlay.h"
#include "effects/WndFX_LayersList.h"
#include "fx_window_fixture.h"
#include "ui/CtrlList.h"
#include "ui/CtrlSlider.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

using namespace fxtest;

namespace {

// A pattern that differs between neighbours in both directions and planes.
uint8_t Pattern(int32_t x, int32_t y, int k)
{
    return uint8_t((x * 7 + y * 13 + k * 50) & 0xFF);
}

FxLayerEntry Entry(int32_t id, qntRECT_s bounds, const char* name)
{
    return FxLayerEntry{id, bounds, name};
}

qntRGBA8 PixelOf(const CQNF_Image& img, int32_t x, int32_t y)
{
    const size_t i = size_t(y) * img.GetImageWidth() + size_t(x);
    return qntRGBA8{img.GetPlane(0)[i], img.GetPlane(1)[i], img.GetPlane(2)[i], img.GetPlane(3)[i]};
}

bool Same(qntRGBA8 a, qntRGBA8 b)
{
    return a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a;
}

}  // namespace

// ---- The model ----------------------------------------------------------------------

TEST(FxLayersList, ALayerIsAcceptableOnlyWhenItsPixelsHoldTheWholeArea)
{
    const qntRECT_s target{10, 10, 30, 20};
    const struct {
        qntRECT_s bounds;
        bool acceptable;
        const char* what;
    } cases[] = {
        {{10, 10, 30, 20}, true, "exactly the area"},
        {{0, 0, 100, 100}, true, "larger all round"},
        {{15, 10, 30, 20}, false, "short on the left"},
        {{10, 10, 30, 19}, false, "short at the bottom"},
        {{30, 10, 50, 20}, false, "touching on the right"},
        {{50, 50, 60, 60}, false, "elsewhere"},
        {qnNullRect, false, "no pixels at all"},
    };
    for (const auto& c : cases) {
        CFxLayersListModel m;
        m.target = target;
        m.table = {Entry(4, c.bounds, "L")};
        EXPECT_EQ(m.Acceptable(0), c.acceptable) << c.what;
        EXPECT_FALSE(m.Acceptable(1)) << "past the table";
        m.target = qnNullRect;
        EXPECT_FALSE(m.Acceptable(0)) << "no area to cover: " << c.what;
    }
}

TEST(FxLayersList, RowsStartWithTheCompositeAndFollowTheChoice)
{
    const qntRECT_s target{10, 10, 30, 20};
    const std::vector<FxLayerEntry> table = {Entry(1, {0, 0, 100, 100}, "Background"),
                                             Entry(2, {20, 10, 40, 20}, "Half"), Entry(3, {5, 5, 35, 25}, "Top"),
                                             Entry(-1, {0, 0, 100, 100}, "--COMPOSITE--")};
    const struct {
        uint8_t filtered;
        int32_t chosen;
        std::vector<std::string> rows;
        int32_t select;
        int32_t chosenAfter;
    } cases[] = {
        {0, -2, {"+\t| --COMPOSITE--", "+\t| Top", " \t| Half", "+\t| Background"}, 0, -2},
        {1, -2, {"+\t| --COMPOSITE--", "+\t| Top", "+\t| Background"}, 0, -2},
        {1, 1, {"+\t| --COMPOSITE--", "+\t| Top", "+\t| Background"}, 2, 1},
        {0, 2, {"+\t| --COMPOSITE--", "+\t| Top", " \t| Half", "+\t| Background"}, 2, 2},
        // A hidden or unknown layer selects the first row and chooses nothing.
        {1, 2, {"+\t| --COMPOSITE--", "+\t| Top", "+\t| Background"}, 0, -2},
        {0, 77, {"+\t| --COMPOSITE--", "+\t| Top", " \t| Half", "+\t| Background"}, 0, -2},
    };
    for (const auto& c : cases) {
        CFxLayersListModel m;
        m.table = table;
        m.target = target;
        m.showFiltered = c.filtered;
        m.chosen = c.chosen;
        int32_t select = -5;
        const auto rows = m.Rows(select);
        std::vector<std::string> texts;
        for (const auto& r : rows) {
            texts.push_back(r.text);
            EXPECT_EQ(table[r.index].name, r.text.substr(4));
        }
        EXPECT_EQ(texts, c.rows) << "filtered " << int(c.filtered) << " chosen " << c.chosen;
        EXPECT_EQ(select, c.select) << "chosen " << c.chosen;
        EXPECT_EQ(m.chosen, c.chosenAfter);
    }
    // Nothing covers: an empty filtered list keeps the opener's choice.
    CFxLayersListModel m;
    m.table = table;
    m.target = qntRECT_s{90, 90, 120, 120};
    m.chosen = 3;
    int32_t select = 0;
    EXPECT_TRUE(m.Rows(select).empty());
    EXPECT_EQ(select, -1);
    EXPECT_EQ(m.chosen, 3);
}

TEST(FxLayersList, PreviewSizeAndMarkerFollowTheSourceShape)
{
    const struct {
        int32_t w, h, pw, ph, dw, dh;
    } sizes[] = {{20, 10, 40, 40, 40, 20}, {10, 20, 40, 40, 20, 40}, {7, 7, 40, 40, 40, 40}, {100, 1, 40, 40, 40, 0}};
    for (const auto& s : sizes) {
        int32_t dw = -1, dh = -1;
        CFxLayersListModel::ScaledSize(s.w, s.h, s.pw, s.ph, dw, dh);
        EXPECT_EQ(dw, s.dw) << s.w << "x" << s.h;
        EXPECT_EQ(dh, s.dh) << s.w << "x" << s.h;
    }
    // The target inside a 100 x 60 source shown 40 x 24: each axis its own
    // scale, and at least two pixels either way.
    const struct {
        qntRECT_s target;
        qntRECT_s marker;
    } marks[] = {{{10, 5, 30, 25}, {4, 10, 12, 18}},
                 {{50, 30, 51, 31}, {20, 20, 22, 22}},
                 {{0, 0, 100, 60}, {0, 8, 40, 32}}};
    for (const auto& m : marks)
        EXPECT_EQ(CFxLayersListModel::MarkerRect(m.target, {0, 0, 100, 60}, 40, 24, 0, 8), m.marker)
            << m.target.left << "," << m.target.top;
    // A preview wider than high scales the rows by their own factor: the
    // middle of a square source stays in the middle.
    EXPECT_EQ(CFxLayersListModel::MarkerRect({40, 40, 60, 60}, {0, 0, 100, 100}, 40, 20, 0, 0),
              (qntRECT_s{16, 8, 24, 12}));
}

TEST(FxLayersList, ACoveringLayerPreviewsTheAreaAndAnotherTheWholeLayerWithTheMarker)
{
    FakeLayers host(100, 60);
    host.Add(1, "Background", 3, qnNullRect, Pattern);
    host.Add(2, "Box", 3, qntRECT_s{20, 10, 80, 50}, [](int32_t x, int32_t y, int k) { return Pattern(y, x, k); });
    CFxLayersListModel m;
    m.table = host.FxLayerTable();
    m.target = qntRECT_s{30, 20, 50, 30};
    CQNF_Image preview, marker;
    ASSERT_TRUE(preview.Create(40, 40, qnimg::ModeRGBA));
    ASSERT_TRUE(marker.Create(40, 40, qnimg::ModeRGBA));

    // Covering: the 20 x 10 area fills 40 x 20, centred, over the black
    // display colours (so each pixel is s x 255 >> 8).
    ASSERT_TRUE(m.DrawPreview(1, host, host.display, preview, marker));
    EXPECT_EQ(m.chosen, 2);
    for (const auto& [x, y] : {std::pair{0, 0}, {39, 19}, {13, 7}, {25, 2}})
        for (int k = 0; k < 3; ++k) {
            const uint8_t s = Pattern(20 + y / 2, 30 + x / 2, k);
            EXPECT_EQ(preview.GetPlane(unsigned(k))[size_t(10 + y) * 40 + size_t(x)], (s * 255) >> 8)
                << x << "," << y << " plane " << k;
        }
    EXPECT_TRUE(Same(PixelOf(preview, 5, 5), qntRGBA8{0, 0, 0, 255}));  // above the picture
    EXPECT_EQ(PixelOf(marker, 20, 20).a, 0);

    // Not covering: the whole layer (its channels span the canvas, 40 x 24
    // from row 8), with the area marked red in a blue frame.
    m.target = qntRECT_s{10, 5, 30, 25};
    EXPECT_FALSE(m.DrawPreview(1, host, host.display, preview, marker));
    EXPECT_EQ(m.chosen, CFxLayersListModel::kNone);
    EXPECT_TRUE(Same(PixelOf(marker, 4, 10), qntRGBA8{255, 0, 0, 255}));
    EXPECT_TRUE(Same(PixelOf(marker, 11, 17), qntRGBA8{255, 0, 0, 255}));
    EXPECT_TRUE(Same(PixelOf(marker, 3, 9), qntRGBA8{0, 0, 255, 255}));
    EXPECT_TRUE(Same(PixelOf(marker, 12, 18), qntRGBA8{0, 0, 255, 255}));
    EXPECT_EQ(PixelOf(marker, 2, 8).a, 0);
    EXPECT_EQ(PixelOf(marker, 30, 30).a, 0);
    // Outside the box the layer is transparent: the display shows through.
    EXPECT_TRUE(Same(PixelOf(preview, 1, 9), qntRGBA8{0, 0, 0, 255}));
    // Inside it the layer's own pixel at the scaled place.
    EXPECT_EQ(preview.GetPlane(0)[size_t(8 + 12) * 40 + 20], (Pattern(12 * 60 / 24, 20 * 100 / 40, 0) * 255) >> 8);
}

TEST(FxLayersList, UnusableChannelsShowBlackAndRefuseOk)
{
    const struct {
        uint8_t channels;
        bool readable;
        bool ok;
    } cases[] = {{1, true, true}, {3, true, true}, {4, true, true}, {2, true, false}, {5, true, false},
                 {3, false, false}};
    for (const auto& c : cases) {
        FakeLayers host(20, 20);
        host.display.solidColour = qntRGBA8{9, 9, 9, 255};
        host.Add(5, "L", c.channels, qnNullRect, Pattern).readable = c.readable;
        CFxLayersListModel m;
        m.table = host.FxLayerTable();
        m.target = qntRECT_s{0, 0, 20, 20};
        CQNF_Image preview, marker;
        ASSERT_TRUE(preview.Create(20, 20, qnimg::ModeRGBA));
        ASSERT_TRUE(marker.Create(20, 20, qnimg::ModeRGBA));
        EXPECT_EQ(m.DrawPreview(0, host, host.display, preview, marker), c.ok) << int(c.channels);
        const qntRGBA8 p = PixelOf(preview, 3, 4);
        if (!c.ok) {
            EXPECT_TRUE(Same(p, qntRGBA8{0, 0, 0, 255})) << int(c.channels);
            continue;
        }
        // Grey spreads to all three planes; four channels are darkened by
        // the fourth.
        const uint8_t v0 = Pattern(3, 4, 0), v1 = Pattern(3, 4, 1), v3 = Pattern(3, 4, 3);
        const uint8_t r = c.channels == 4 ? uint8_t((v0 * v3) >> 8) : v0;
        const uint8_t g = c.channels == 1 ? v0 : c.channels == 4 ? uint8_t((v1 * v3) >> 8) : v1;
        EXPECT_EQ(p.r, (r * 255) >> 8) << int(c.channels);
        EXPECT_EQ(p.g, (g * 255) >> 8) << int(c.channels);
    }
}

// ---- The image overlay effect -----------------------------------------------------

TEST(FxImageOverlay, PiecesRectIsTheListedPiecesInDocumentPlaces)
{
    Puzzle p;  // 160 x 120 in 4 x 3 pieces
    FakeMain main(p);
    FakeTimers timers;
    CFxImageOverlayModel m(main, timers);
    const auto& pc = p.e.m_pPieces;
    auto rectOf = [&](uint32_t i) { return qntRECT_s{pc[i].left, pc[i].top, pc[i].right, pc[i].bottom}; };
    // Nothing selected: every piece, the whole picture.
    ASSERT_TRUE(m.PreparePieces());
    EXPECT_EQ(m.PiecesRect(qntPOS{0, 0}), (qntRECT_s{0, 0, 160, 120}));
    // Two pieces far apart, moved by the filter rectangle's corner.
    p.e.m_pPieces[0].selected = 1;
    p.e.m_pPieces[p.e.m_nPieces - 1].selected = 1;
    ASSERT_TRUE(m.PreparePieces());
    const qntRECT_s a = rectOf(0), b = rectOf(p.e.m_nPieces - 1);
    EXPECT_EQ(m.PiecesRect(qntPOS{7, 5}), (qntRECT_s{std::min(a.left, b.left) + 7, std::min(a.top, b.top) + 5,
                                                     std::max(a.right, b.right) + 7, std::max(a.bottom, b.bottom) + 5}));
    // A piece without area names no place: the null marker is not moved.
    p.e.m_pPieces[p.e.m_nPieces - 1].selected = 0;
    p.e.m_pPieces[0].right = p.e.m_pPieces[0].left;
    ASSERT_TRUE(m.PreparePieces());
    EXPECT_TRUE(qnIsNullRect(m.PiecesRect(qntPOS{7, 5})));
}

TEST(FxImageOverlay, GradingVariesTheOpacityAloneAndAutoKeepsTheLayerId)
{
    Puzzle p;
    FakeMain main(p);
    FakeTimers timers;
    CFxImageOverlayModel m(main, timers);
    ASSERT_TRUE(m.PreparePieces());
    m.LoadInitialValues();
    EXPECT_EQ(m.PreselectedLayer(), CFxLayersListModel::kNone);
    m.ChooseLayer(3);
    EXPECT_EQ(m.PreselectedLayer(), 3);
    m.value1.opacity = 0;
    m.value2.opacity = 255;
    m.SetAutoAdjust(true);
    m.SetDirection(FxDirection::Right);
    m.Regenerate();
    std::set<uint8_t> opacities;
    for (uint32_t i = 0; i < m.Pieces().size(); ++i) {
        CTessolo::SFX_IMAGEOVERLAY b;
        std::memcpy(&b, m.Result(i), sizeof b);
        EXPECT_EQ(b.on, 1);
        EXPECT_EQ(b.layerChoice, 1);
        EXPECT_EQ(b.layerId, 3);
        opacities.insert(b.opacity);
        const int32_t cx = (p.e.m_pPieces[m.Pieces()[i]].left + p.e.m_pPieces[m.Pieces()[i]].right) / 2;
        EXPECT_EQ(b.opacity == 0, cx < 40) << "piece " << i;  // the leftmost column gets value 1
    }
    EXPECT_EQ(opacities.size(), 4u);  // one per column
    // Back to automatic: the stored id stays, the list preselects nothing.
    m.ChooseAutomatic();
    EXPECT_EQ(m.value1.layerId, 3);
    EXPECT_EQ(m.value2.layerChoice, 0);
    EXPECT_EQ(m.PreselectedLayer(), CFxLayersListModel::kNone);
}

// ---- The windows ---------------------------------------------------------------------

namespace {

// A document larger than the filtered picture: a background and a box
// layer that covers the top-left piece only.
void TwoLayers(FakeLayers& host)
{
    host.Add(1, "Background", 3, qnNullRect, Pattern);
    host.Add(2, "Box", 3, qntRECT_s{10, 5, 70, 60}, [](int32_t x, int32_t y, int k) { return Pattern(y, x, k); });
}

// Where row r of the layers list is, on the screen.
plat::Point ListRow(Desk& d, plat::WinId w, int r)
{
    const plat::Rect c = d.hp.ContentRect(w);
    return {c.left + 100, c.top + 40 + r * 16 + 8};
}

}  // namespace

TEST(FxLayersWindow, ReturnWithoutACoveringLayerEndsWithOkButChoosesNothing)
{
    Desk d;
    REQUIRE_DESK(d);
    FakeLayers host(200, 150);
    TwoLayers(host);
    CWnd_LayersList list(host);
    list.SetTarget(qntRECT_s{0, 0, 80, 60});
    list.SetChosen(CFxLayersListModel::kNone);
    list.SetShowFiltered(0);
    ASSERT_TRUE(list.CreateFromResource(CQNF_String("Layers"), -32000, -32000, nullptr, 1)) << list.GetError();
    list.RenderRect(qnNullRect);
    auto* rows = static_cast<CQNF_CtrlList*>(Find(list, "Layers_List", qnctl::List));
    ASSERT_NE(rows, nullptr);
    ASSERT_EQ(rows->GetItemsCount(), 3u);
    EXPECT_EQ(rows->GetSelectedItem(), 0);
    EXPECT_EQ(list.Chosen(), -1);  // the composite covers
    CQNF_Control* ok = Find(list, "Layers_Ok", qnctl::Button);
    EXPECT_TRUE(ok->IsEnabled());
    // The box (row 1) covers only part of the area: the marker blinks.
    rows->SelectItems(1, 1, 1, 0, 1, 1, 1);
    EXPECT_FALSE(ok->IsEnabled());
    EXPECT_EQ(list.Chosen(), CFxLayersListModel::kNone);
    // Every half second the marker turns off or on, and only while OK is off.
    auto blinks = [&d, &list]() {
        int changes = 0;
        uint8_t last = list.MarkerLayer().GetOpacity();
        for (int i = 0; i < 20; ++i) {
            d.tk.PumpFor(100);
            const uint8_t now = list.MarkerLayer().GetOpacity();
            EXPECT_TRUE(now == 0 || now == 255);
            changes += now != last;
            last = now;
        }
        return changes;
    };
    const int changes = blinks();
    EXPECT_GE(changes, 3);
    EXPECT_LE(changes, 5);
    rows->SelectItems(0, 0, 1, 0, 1, 1, 1);
    EXPECT_EQ(blinks(), 0);
    EXPECT_EQ(list.MarkerLayer().GetOpacity(), 255);
    rows->SelectItems(1, 1, 1, 0, 1, 1, 1);
    // Only covering layers: the box is gone.
    Find(list, "Layers_ShowFiltered", qnctl::RadioButton)->SetCheck(1, 1);
    EXPECT_EQ(list.ShowFiltered(), 1);
    EXPECT_EQ(rows->GetItemsCount(), 2u);
    rows->SelectItems(1, 1, 1, 0, 1, 1, 1);  // the background
    EXPECT_EQ(list.Chosen(), 1);
    Find(list, "Layers_ShowAll", qnctl::RadioButton)->SetCheck(1, 1);
    rows->SelectItems(1, 1, 1, 0, 1, 1, 1);  // the box again
    d.hp.Script([&] {
        d.hp.Activate(list.GetWindowHandle());
        list.RenderRect(qnNullRect);
        list.UpdateRect(qnNullRect);
        d.Snap("Layers-marker");
    });
    d.hp.Script([&] { d.hp.Key(qnkey::vk::Return, 13); });
    EXPECT_EQ(list.DoModal(), 1);
    EXPECT_EQ(list.Chosen(), CFxLayersListModel::kNone);
    EXPECT_EQ(host.positionStores, 1);
}

TEST(FxLayersWindow, CancelAndTheCloseBoxStoreNothing)
{
    Desk d;
    REQUIRE_DESK(d);
    FakeLayers host(200, 150);
    TwoLayers(host);
    for (const bool closeBox : {false, true}) {
        CWnd_LayersList list(host);
        list.SetTarget(qntRECT_s{20, 20, 40, 40});
        list.SetChosen(2);
        ASSERT_TRUE(list.CreateFromResource(CQNF_String("Layers"), -32000, -32000, nullptr, 1));
        EXPECT_EQ(list.Chosen(), 2);  // preselected and covering
        const qntRECT_s r = Find(list, closeBox ? "Layers_CloseX" : "Layers_Cancel", qnctl::Button)->GetRenderRect();
        d.hp.Script([&] { d.hp.Activate(list.GetWindowHandle()); });
        d.hp.Script([&] {
            const plat::Rect c = d.hp.ContentRect(list.GetWindowHandle());
            d.hp.Click({c.left + (r.left + r.right) / 2, c.top + (r.top + r.bottom) / 2});
        });
        EXPECT_EQ(list.DoModal(), 0) << closeBox;
    }
    EXPECT_EQ(host.positionStores, 0);
    EXPECT_EQ(host.showFilteredStores, 0);
}

TEST(FxLayersWindow, ACreationWithoutTheHostsLayersFails)
{
    Desk d;
    REQUIRE_DESK(d);
    FakeLayers host(200, 150);
    TwoLayers(host);
    host.tableFails = true;
    CWnd_LayersList list(host);
    EXPECT_FALSE(list.CreateFromResource(CQNF_String("Layers"), -32000, -32000, nullptr, 1));
}

TEST(FxImageOverlayWindow, TheLayerPickedInTheListReachesThePiecesAndCancelRestoresThem)
{
    Desk d;
    REQUIRE_DESK(d);
    for (const bool ok : {true, false}) {
        Puzzle puzzle;
        FakeWindowMain main(puzzle);
        // The picture is filtered from (10, 5) of the document.
        FakeLayers host(200, 150);
        TwoLayers(host);
        host.origin = qntPOS{10, 5};
        main.layers = &host;
        puzzle.e.m_pHost = &host;
        puzzle.e.m_bLayerAccess = 1;
        puzzle.e.m_pPieces[0].selected = 1;  // the top-left piece, inside the box
        const std::vector<uint8_t> records = puzzle.Records();
        std::unique_ptr<CWndFX_Base> window;
        ASSERT_TRUE(FxOpenWindow(FxWindowKind::ImageOverlay, main, window)) << window->GetError();
        auto& w = static_cast<CWndFX_ImageOverlay&>(*window);
        d.tk.PumpFor(100);
        EXPECT_STREQ(w.CurrentChoiceText(), "From Auto-Selected Layers");
        const CTessolo::SPLITEDCELL& first = puzzle.e.m_pPieces[0];
        EXPECT_EQ(w.PiecesRect(), (qntRECT_s{10, 5, first.right + 10, first.bottom + 5}));
        // Opacity 50 %: stored as 127, shown as 50 again.
        static_cast<CQNF_CtrlSlider*>(Find(w, "FXiovr_Opacity", qnctl::Slider))->SetValue(50, 1);
        EXPECT_EQ(w.Model().value1.opacity, 127);
        EXPECT_EQ(puzzle.e.m_pPieces[0].imageOverlay[CTessolo::FX_REQUESTED].opacity, 127);  // at once
        // "From Document Layer...": the list opens with the composite, the
        // box (covers the piece) and the background; pick the box.
        d.hp.Script([&] {
            const plat::WinId top = d.hp.ZOrder().back();
            d.hp.Activate(top);
            d.hp.Click(ListRow(d, top, 1));
        });
        d.hp.Script([&] { d.Snap("Layers"); });
        d.hp.Script([&] { d.hp.Key(qnkey::vk::Return, 13); });
        unsigned short item = CWndFX_ImageOverlay::kItemLayers;
        EXPECT_EQ(w.OnCtrlMessage(qnmsg::PopupChoice, CQNF_Window::None, const_cast<char*>("Menu"), 255, &item), 1);
        EXPECT_EQ(w.Model().value1.layerChoice, 1);
        EXPECT_EQ(w.Model().value1.layerId, 2);
        EXPECT_EQ(w.Model().value2.layerId, 2);
        EXPECT_STREQ(w.CurrentChoiceText(), "From Manually Selected Layer");
        EXPECT_EQ(host.showFilteredStores, 1);
        d.tk.PumpFor(100);
        d.Snap("FXiovr");
        const auto& requested = puzzle.e.m_pPieces[0].imageOverlay[CTessolo::FX_REQUESTED];
        EXPECT_EQ(requested.on, 1);
        EXPECT_EQ(requested.layerId, 2);
        // Fully opaque, the piece shows the box layer's pixels from its
        // place in the document.
        static_cast<CQNF_CtrlSlider*>(Find(w, "FXiovr_Opacity", qnctl::Slider))->SetValue(100, 1);
        d.tk.PumpFor(100);
        for (const auto& [x, y] : {std::pair{20, 20}, {12, 25}, {30, 14}})
            for (uint8_t k = 0; k < 3; ++k)
                EXPECT_EQ(first.planePtrs[k][size_t(y - first.top) * first.planeStrides[k] + size_t(x - first.left)],
                          Pattern(y + 5, x + 10, k))
                    << x << "," << y << " plane " << int(k);
        // Only the listed piece took it.
        EXPECT_EQ(puzzle.e.m_pPieces[1].imageOverlay[CTessolo::FX_REQUESTED].on, 0);
        d.Key(window.get(), ok ? qnkey::vk::Return : qnkey::vk::Escape);
        d.tk.PumpFor(10);
        EXPECT_TRUE(w.Session().Closed());
        const auto& kept = puzzle.e.m_pPieces[0].imageOverlay[CTessolo::FX_REQUESTED];
        EXPECT_EQ(kept.on, ok ? 1 : 0) << ok;
        if (ok) {
            EXPECT_EQ(kept.layerId, 2);
        }
        EXPECT_EQ(puzzle.Records() == records, !ok);
        EXPECT_EQ(main.undoSteps, ok ? 1 : 0);
    }
}

// The sample shows the overlay picture over the sample piece: the opacity
// changes the sample itself, from the bare piece at 0 to the overlay at 100.
TEST(FxImageOverlayWindow, TheOpacityShowsOnTheSample)
{
    Desk d;
    REQUIRE_DESK(d);
    Puzzle puzzle;
    FakeWindowMain main(puzzle);
    FakeLayers host(200, 150);
    TwoLayers(host);
    main.layers = &host;
    puzzle.e.m_pHost = &host;
    puzzle.e.m_bLayerAccess = 1;
    std::unique_ptr<CWndFX_Base> window;
    ASSERT_TRUE(FxOpenWindow(FxWindowKind::ImageOverlay, main, window)) << window->GetError();
    d.tk.PumpFor(100);
    const qntRECT_s sample = Find(*window, "FXiovr_Object", qnctl::StaticImage)->GetRenderRect();
    const int cx = (sample.left + sample.right) / 2, cy = (sample.top + sample.bottom) / 2;
    auto* slider = static_cast<CQNF_CtrlSlider*>(Find(*window, "FXiovr_Opacity", qnctl::Slider));
    std::vector<uint32_t> at;
    for (const uint32_t opacity : {0u, 100u, 0u}) {
        slider->SetValue(opacity, 1);
        d.tk.PumpFor(100);
        at.push_back(d.hp.Pixel(window->GetWindowHandle(), cx, cy));
    }
    EXPECT_NE(at[0], at[1]);
    EXPECT_EQ(at[0], at[2]);
}
