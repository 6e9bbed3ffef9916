// Windows: creation from resources, placement, shape, canvas and redraw,
// controls, fonts and resource lookups, closing.
#include "UiTest.h"

using namespace uitest;

class WindowTest : public UiTest {};

namespace {
// A background whose left 20 columns are transparent.
qntRGBA8 NotchedLeft(int32_t x, int32_t) { return x < 20 ? qntRGBA8{0, 0, 0, 0} : qntRGBA8{10, 200, 30, 255}; }
}  // namespace

TEST_F(WindowTest, BackgroundPlacesWindowLayerAndShape)
{
    Resources([](qnui::ResourceWriter& w) { w.Image("UIResources>Windows>B>Background", {10, 8, 210, 158}, NotchedLeft); });
    RecWindow w;
    ASSERT_TRUE(w.CreateFromResource(CQNF_String("B"), 100, 100, nullptr, 0)) << w.GetError();
    EXPECT_EQ(w.GetWidth(), 220);
    EXPECT_EQ(w.GetHeight(), 166);
    short x = 0, y = 0;
    ASSERT_NE(w.GetLayer(0ul), nullptr);
    w.GetLayer(0ul)->GetPos(x, y);
    EXPECT_EQ(x, 10);
    EXPECT_EQ(y, 8);
    EXPECT_EQ(w.GetLayer(0ul)->GetImageMode(), qnimg::ModeRGB);
    // The outline lies over the drawn background: its transparent columns
    // 10..29 and the margins are outside, its first opaque column inside.
    const plat::WinId id = w.GetWindowHandle();
    struct Probe {
        int32_t x, y;
        bool inside;
    } probes[] = {{5, 50, false}, {29, 50, false}, {30, 50, true}, {209, 157, true}, {210, 50, false}, {30, 7, false}};
    for (const Probe& p : probes)
        EXPECT_EQ(P.InShape(id, p.x, p.y), p.inside) << p.x << "," << p.y;

    w.RenderRect(qnNullRect);
    w.Show();
    // Blitted canvas: background pixels where drawn, black (cleared) margins.
    EXPECT_EQ(P.Pixel(id, 30, 50), 0x0AC81Eu);
    EXPECT_EQ(P.Pixel(id, 0, 0), 0x000000u) << "the canvas starts cleared";
    EXPECT_EQ(P.Pixel(id, 215, 160), 0x000000u);
    EXPECT_EQ(P.Pixel(id, 12, 50), 0x000000u) << "transparent background pixels keep the canvas colour";
}

TEST_F(WindowTest, CreationFailures)
{
    Resources([](qnui::ResourceWriter& w) {
        auto raw = qnui::ImageRecordBytes({0, 0, 20, 10}, [](int32_t, int32_t) { return Opaque(1, 2, 3); });
        raw.pop_back();
        w.PackedBinary("UIResources>Windows>Short>Background", raw);
        w.Binary("UIResources>Windows>Garbage>Background", {1, 2, 3});
        Background(w, "Ok", {0, 0, 40, 30});
    });
    struct Case {
        const char* name;
        unsigned short error;
    } cases[] = {{"Short", qnerr::WindowImage}, {"Garbage", qnerr::WindowImage}, {"Missing", qnerr::WindowImage}};
    for (const Case& c : cases) {
        RecWindow w;
        EXPECT_FALSE(w.CreateFromResource(CQNF_String(c.name), 0, 0, nullptr, 0)) << c.name;
        EXPECT_EQ(w.GetError(), c.error) << c.name;
        EXPECT_EQ(w.GetWindowHandle(), 0u) << c.name;
    }
    RecWindow w;
    ASSERT_TRUE(w.CreateFromResource(CQNF_String("Ok"), 50, 60, nullptr, 0));
    const plat::WinId id = w.GetWindowHandle();
    EXPECT_FALSE(w.CreateFromResource(CQNF_String("Ok"), 300, 300, nullptr, 0));
    EXPECT_EQ(w.GetError(), qnerr::WindowExists);
    EXPECT_EQ(w.GetWindowHandle(), id);
    EXPECT_EQ(w.GetWindowRect(), (qntRECT_s{50, 60, 90, 90}));
}

TEST_F(WindowTest, PlacementCentresAndClamps)
{
    Resources([](qnui::ResourceWriter& w) { Background(w, "P", {0, 0, 200, 100}); });
    P.SetScreens({{0, 22, 1280, 1000}, {1280, 0, 2560, 1024}});
    struct Case {
        short x, y;
        qntPOS want;
    } cases[] = {
        {-32000, -32000, {540, 461}},  // centred in the main screen's area
        {1500, 300, {1500, 300}},      // on the second screen: kept
        {-5000, -5000, {-180, 22}},    // far off: clamped to the main screen
        {5000, 5000, {1260, 980}},     // 20 pixels stay on the main screen
        {-170, 500, {-170, 500}},      // 30 pixels on screen is enough
    };
    for (const Case& c : cases) {
        RecWindow w;
        ASSERT_TRUE(w.CreateFromResource(CQNF_String("P"), c.x, c.y, nullptr, 0));
        const qntRECT_s r = w.GetWindowRect();
        EXPECT_EQ(r.left, c.want.x) << c.x << "," << c.y;
        EXPECT_EQ(r.top, c.want.y) << c.x << "," << c.y;
    }
}

TEST_F(WindowTest, CaptionsAndDragArea)
{
    Resources([](qnui::ResourceWriter& w) {
        Background(w, "C", {0, 0, 100, 60});
        w.Image("UIResources>Windows>C>Caption_Active", {0, 0, 100, 10},
                [](int32_t x, int32_t) { return qntRGBA8{255, 255, 255, uint8_t(x < 50 ? 129 : 128)}; });
        w.Image("UIResources>Windows>C>Caption_Inactive", {0, 0, 100, 10}, [](int32_t, int32_t) { return Opaque(9, 9, 9); });
        // Beside the caption a drag area still decides.
        w.Image("UIResources>Windows>C>Drag_Area", {0, 50, 100, 60},
                [](int32_t x, int32_t) { return Opaque(x < 30 ? 255 : 0, 0, 0); });
        Background(w, "OnlyInactive", {0, 0, 100, 60});
        w.Image("UIResources>Windows>OnlyInactive>Caption_Inactive", {0, 0, 100, 10},
                [](int32_t, int32_t) { return Opaque(9, 9, 9); });
        // A drag area that claims more mask than it carries is ignored.
        Background(w, "BadDrag", {0, 0, 100, 60});
        auto bad = qnui::ImageRecordBytes({0, 0, 10, 10}, [](int32_t, int32_t) { return Opaque(200, 0, 0); });
        bad[5] = 200;  // right = 200: the mask would run past the block
        w.PackedBinary("UIResources>Windows>BadDrag>Drag_Area", bad);
        Background(w, "Drag", {0, 0, 100, 60});
        w.Image("UIResources>Windows>Drag>Drag_Area", {0, 50, 100, 60},
                [](int32_t x, int32_t) { return Opaque(x < 30 ? 255 : 0, 0, 0); });
    });
    RecWindow c;
    ASSERT_TRUE(c.CreateFromResource(CQNF_String("C"), 0, 0, nullptr, 0));
    EXPECT_TRUE(c.PtInCaption(10, 5)) << "alpha 129";
    EXPECT_FALSE(c.PtInCaption(60, 5)) << "alpha 128";
    EXPECT_FALSE(c.PtInCaption(10, 20));
    EXPECT_TRUE(c.PtInCaption(10, 55)) << "the drag area beside the caption";
    EXPECT_FALSE(c.PtInCaption(40, 55));
    ASSERT_NE(c.GetCaptionLayer(), nullptr);
    EXPECT_EQ(c.GetLayerSet()->GetLayerCount(), 3u);
    EXPECT_FALSE(c.GetLayer(2ul)->GetVisible()) << "inactive caption hidden at first";

    RecWindow onlyInactive;
    ASSERT_TRUE(onlyInactive.CreateFromResource(CQNF_String("OnlyInactive"), 0, 0, nullptr, 0));
    EXPECT_EQ(onlyInactive.GetCaptionLayer(), nullptr);
    EXPECT_EQ(onlyInactive.GetLayerSet()->GetLayerCount(), 1u);

    RecWindow bad;
    ASSERT_TRUE(bad.CreateFromResource(CQNF_String("BadDrag"), 0, 0, nullptr, 0));
    EXPECT_FALSE(bad.PtInCaption(150, 5));
    EXPECT_FALSE(bad.PtInCaption(5, 5));

    RecWindow drag;
    ASSERT_TRUE(drag.CreateFromResource(CQNF_String("Drag"), 0, 0, nullptr, 0));
    EXPECT_TRUE(drag.PtInCaption(5, 55));
    EXPECT_FALSE(drag.PtInCaption(40, 55));
    EXPECT_FALSE(drag.PtInCaption(5, 45));
}

TEST_F(WindowTest, RedrawLockAndClosing)
{
    Resources([](qnui::ResourceWriter& w) { Background(w, "R", {0, 0, 40, 40}, Opaque(1, 2, 3)); });
    RecWindow w;
    ASSERT_TRUE(w.CreateFromResource(CQNF_String("R"), 0, 0, nullptr, 0));
    w.RenderRect(qnNullRect);
    w.Show();
    const plat::WinId id = w.GetWindowHandle();
    CQNF_Layer top;
    ASSERT_TRUE(top.Create(short(5), short(5), 10, 10, qnimg::ModeRGB));
    top.Set(Opaque(250, 0, 0), 0x07);
    top.SetName(CQNF_String("Top"));
    EXPECT_EQ(w.LSAddLayer(&top), 1u);

    w.LockWindow(1);
    EXPECT_TRUE(w.RenderLayer(CQNF_String("Top")));
    EXPECT_TRUE(w.UpdateLayer(CQNF_String("Top")));
    EXPECT_EQ(P.Pixel(id, 6, 6), 0x010203u) << "a locked window neither renders nor blits";
    w.LockWindow(0);
    EXPECT_TRUE(w.RenderLayer(CQNF_String("Top")));
    EXPECT_EQ(P.Pixel(id, 6, 6), 0x010203u) << "rendering alone does not blit";
    EXPECT_TRUE(w.UpdateLayer(CQNF_String("Top")));
    EXPECT_EQ(P.Pixel(id, 6, 6), 0xFA0000u);
    EXPECT_EQ(P.Pixel(id, 20, 20), 0x010203u);

    EXPECT_FALSE(w.RenderLayer(CQNF_String("Nope")));
    EXPECT_EQ(w.GetError(), qnerr::WindowNoLayer);
    EXPECT_EQ(w.GetLayer(7ul), nullptr);

    const uint32_t flushes = P.FlushCount();
    w.ForceRedrawRect({0, 0, 5, 5});
    EXPECT_EQ(P.FlushCount(), flushes + 1);

    top.Set(Opaque(0, 250, 0), 0x07);
    w.RenderRect(qnNullRect);
    w.PreCloseWindow();
    const uint32_t blits = P.BlitCount();
    EXPECT_EQ(w.UpdateRect(qnNullRect), 1);
    EXPECT_EQ(P.BlitCount(), blits) << "a closing window draws nothing";
    w.Close();
    EXPECT_EQ(w.GetWindowHandle(), 0u);
    EXPECT_FALSE(P.Exists(id));
}

TEST_F(WindowTest, ResourceRectsStringsAndFonts)
{
    Resources([](qnui::ResourceWriter& w) {
        w.Rect("Full", {3, 4, 50, 60});
        w.String("Hello", "Hello, world");
        w.Binary("UIResources>Fonts>NotAFont", {1, 2, 3});
        w.Font("Sans", "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 11);
        Background(w, "R", {0, 0, 40, 40});
    });
    RecWindow w;
    ASSERT_TRUE(w.CreateFromResource(CQNF_String("R"), 0, 0, nullptr, 0));
    qntRECT_s r{-1, -1, -1, -1};
    EXPECT_TRUE(w.GetResourceRect("Full", r));
    EXPECT_EQ(r, (qntRECT_s{3, 4, 50, 60}));
    CQNF_String text;
    EXPECT_TRUE(w.GetResourceString("Hello", text));
    EXPECT_STREQ(text.GetStr(), "Hello, world");
    EXPECT_FALSE(w.GetResourceString("Nope", text));

    EXPECT_EQ(w.AddFont(CQNF_String("Missing")), CQNF_Window::None);
    EXPECT_EQ(w.GetError(), qnerr::BadArgument);
    EXPECT_EQ(w.AddFont(CQNF_String("NotAFont")), CQNF_Window::None);
    EXPECT_NE(w.GetError(), 0);
    const unsigned long font = w.AddFont(CQNF_String("Sans"));
    ASSERT_EQ(font, 0u);
    ASSERT_NE(w.GetFont(font), nullptr);
    EXPECT_EQ(w.GetFont(1), nullptr);
}

TEST_F(WindowTest, ResourceRectStopsAtFirstMissingField)
{
    {
        CQNF_Storage s;
        ASSERT_TRUE(s.Open(CQNF_String(resPath.c_str()), 2));
        qnui::ResourceWriter w(s);
        ASSERT_TRUE(w.Folder("UIResources>Rects>Part"));
        ASSERT_TRUE(s.SetRecord(CQNF_String("UIResources>Rects>Part>Rect Bottom"), uint16_t(77)));
        s.Close();
    }
    ASSERT_TRUE(app.InitStorgaeResource(resPath.c_str(), 0));
    RecWindow w;
    qntRECT_s r{-1, -1, -1, -1};
    EXPECT_FALSE(w.GetResourceRect("Part", r));
    EXPECT_EQ(r.bottom, 77);
    EXPECT_EQ(r.left, -1);
}

TEST_F(WindowTest, ControlsAddedByTypeAndExternally)
{
    static std::vector<std::string> log;
    qnctl::RegisterMaker(qnctl::Button, [] { return static_cast<CQNF_Control*>(new RecControl({0, 0, 5, 5}, &log, "b")); });
    Resources([](qnui::ResourceWriter& w) {
        Background(w, "R", {0, 0, 40, 40});
        w.Folder("UIResources>Buttons>Ok");
        w.Binary("UIResources>Buttons>NotFolder", {1});
    });
    RecWindow w;
    ASSERT_TRUE(w.CreateFromResource(CQNF_String("R"), 0, 0, nullptr, 0));
    struct Case {
        const char* name;
        unsigned char type;
        bool ok;
    } cases[] = {{"Ok", qnctl::Button, true},         {"Ok", 0, false},
                 {"Ok", qnctl::Preview, false},       {"Ok", 13, false},
                 {"Missing", qnctl::Button, false},   {"NotFolder", qnctl::Button, false},
                 {"Ok", qnctl::Slider, false}};  // no slider class registered here
    unsigned long next = 0;
    for (const Case& c : cases) {
        const unsigned long id = w.AddControl(CQNF_String(c.name), c.type);
        if (c.ok) {
            EXPECT_EQ(id, next++) << c.name;
            EXPECT_STREQ(w.GetControl(id)->GetName(), c.name);
        } else {
            EXPECT_EQ(id, CQNF_Window::None) << c.name << " " << int(c.type);
            EXPECT_EQ(w.GetError(), qnerr::BadArgument) << c.name << " " << int(c.type);
        }
    }
    qnctl::RegisterMaker(qnctl::Button, nullptr);

    bool externalDeleted = false;
    auto* external = new RecControl({0, 0, 5, 5}, &log, "x", qnctl::Preview);
    external->deleted = &externalDeleted;
    {
        RecWindow w2;
        ASSERT_TRUE(w2.CreateFromResource(CQNF_String("R"), 0, 0, nullptr, 0));
        EXPECT_EQ(w2.AddControl_External(external), 0u);
        EXPECT_TRUE(external->IsExternal());
        EXPECT_EQ(external->GetWindow(), &w2);
    }
    EXPECT_FALSE(externalDeleted);
    delete external;
    EXPECT_TRUE(externalDeleted);
}
