// Ruler ticks, ladders, labels and marker, read back from the alpha plane.
#include "ui/CtrlRulerDraw.h"

#include "ctrl_skin_store.h"
#include "imaging/Font.h"

#include <gtest/gtest.h>

#include <vector>

using qnctl::DrawRuler;

namespace {

struct Plane {
    uint32_t w, h;
    std::vector<uint8_t> a;
    Plane(uint32_t width, uint32_t height) : w(width), h(height), a(size_t(width) * height, 77) {}
    uint8_t At(uint32_t x, uint32_t y) const { return a[size_t(y) * w + x]; }
    // Opaque pixels across the ruler at a position along it.
    int TickAt(uint32_t p) const
    {
        int n = 0;
        const bool vertical = w < h;
        for (uint32_t q = 0; q < (vertical ? w : h); ++q) {
            n += (vertical ? At(q, p) : At(p, q)) == 255;
        }
        return n;
    }
};

std::vector<int> Ticks(const Plane& p, uint32_t from, uint32_t to)
{
    std::vector<int> t;
    for (uint32_t i = from; i < to; ++i) {
        t.push_back(p.TickAt(i));
    }
    return t;
}

// A font of digits, every glyph a solid 3 x height block.
class DigitFont {
public:
    explicit DigitFont(uint8_t height)
    {
        std::vector<uint8_t> rec = {'Q', 'N', 'F', '2', '-', '9'};
        for (int c = '-'; c <= '9'; ++c) {
            rec.insert(rec.end(), {0, 1, uint8_t(-int(height)), 3, height});
            rec.insert(rec.end(), size_t(3) * height, 200);
        }
        store.Folder("UIResources>Fonts");
        store.Bytes("UIResources>Fonts>Digits", ctrltest::Zip(rec));
        EXPECT_TRUE(font.Open(&store.storage, "UIResources>Fonts>Digits"));
    }
    ctrltest::SkinStore store;
    CQNF_Font font;
};

}  // namespace

TEST(CtrlRuler, PixelLaddersByZoom)
{
    struct Case {
        int8_t zoom;
        int32_t first;
        uint8_t phase;
        std::vector<uint32_t> positions;
        std::vector<int> lengths;
    };
    const Case cases[] = {
        // Every 5, 10, 50 ruler pixels at z = 0.
        {0, 0, 0, {0, 1, 4, 5, 10, 15, 45, 50, 55, 100}, {15, 0, 0, 4, 7, 4, 4, 15, 4, 15}},
        // Scrolled by 3: ticks stay on image coordinates.
        {0, 3, 0, {0, 2, 7, 47}, {0, 4, 7, 15}},
        // Zoomed out twice: each ruler pixel is 2 image pixels.
        {-1, 0, 0, {5, 10, 25, 50}, {4, 7, 4, 15}},
        // z = 1: a tick every image pixel (2 ruler pixels), 10 and 50 image pixels.
        {1, 0, 0, {0, 1, 2, 3, 20, 100}, {15, 0, 4, 0, 7, 15}},
        // z = 1 with a phase: the first image pixel is half passed.
        {1, 0, 1, {0, 1, 3, 19}, {0, 4, 4, 7}},
        // z = 2: labels every 20 image pixels (80 ruler pixels).
        {2, 0, 0, {4, 40, 80, 41}, {4, 7, 15, 0}},
        // z = 3: medium and labelled ticks coincide every 10 image pixels.
        {3, 0, 0, {8, 80, 84}, {4, 15, 0}},
        // An absurd zoom stays defined.
        {127, 0, 0, {0, 1}, {15, 0}},
        {-128, 0, 0, {0, 5}, {15, 4}},
    };
    for (const Case& c : cases) {
        Plane p(120, 20);
        QNF_RulerData d;
        d.zoom = c.zoom;
        d.firstCoord = c.first;
        d.phase = c.phase;
        DrawRuler(p.a.data(), p.w, p.h, d, nullptr);
        for (size_t i = 0; i < c.positions.size(); ++i) {
            EXPECT_EQ(p.TickAt(c.positions[i]), c.lengths[i]) << "z " << int(c.zoom) << " at " << c.positions[i];
        }
    }
}

TEST(CtrlRuler, TicksStandAtTheFarEdgeBetweenInsetsAndBlanks)
{
    Plane p(60, 20);
    QNF_RulerData d;
    d.insetBefore = 2;
    d.insetAfter = 3;
    d.leadingBlank = 10;
    d.trailingBlank = 5;
    DrawRuler(p.a.data(), p.w, p.h, d, nullptr);
    // The image starts at ruler pixel 10, which is image pixel 0 (labelled).
    for (uint32_t y = 0; y < 20; ++y) {
        EXPECT_EQ(p.At(10, y), (y >= 2 && y < 17) ? 255 : 0) << y;
        EXPECT_EQ(p.At(15, y), (y >= 13 && y < 17) ? 255 : 0) << y;
        EXPECT_EQ(p.At(0, y), 0);  // leading blank cleared
        EXPECT_EQ(p.At(55, y), 0);  // trailing blank cleared (image pixel 45 would tick)
    }
    EXPECT_EQ(p.TickAt(20), 7);
    // A vertical ruler: ticks along the rows, at the right edge.
    Plane v(20, 60);
    QNF_RulerData dv;
    DrawRuler(v.a.data(), v.w, v.h, dv, nullptr);
    for (uint32_t x = 0; x < 20; ++x) {
        EXPECT_EQ(v.At(x, 5), x >= 16 ? 255 : 0) << x;
    }
    EXPECT_EQ(Ticks(v, 8, 12), (std::vector<int>{0, 0, 7, 0}));
    // Blanks longer than the ruler clear it all.
    Plane all(30, 10);
    QNF_RulerData blank;
    blank.leadingBlank = 40;
    blank.trailingBlank = 40;
    DrawRuler(all.a.data(), all.w, all.h, blank, nullptr);
    EXPECT_EQ(all.a, std::vector<uint8_t>(300, 0));
}

TEST(CtrlRuler, UnitLadders)
{
    struct Case {
        uint8_t unit;
        double resolution;
        int8_t zoom;
        std::vector<uint32_t> positions;
        std::vector<int> lengths;
    };
    const Case cases[] = {
        // Inches at 72 ppi: 1/32 and 1/16 dropped, finest tick every 1/8 inch (9 px),
        // labelled whole inches.
        {2, 72.0, 0, {0, 4, 9, 18, 27, 36, 45, 54, 72, 144}, {15, 0, 4, 5, 4, 6, 4, 5, 15, 15}},
        // Inches at 72 ppi zoomed out 8 times: whole inches only (9 px), labelled
        // every 10 so that labels stand 50 pixels apart.
        {2, 72.0, -3, {0, 4, 9, 18, 90}, {15, 0, 7, 7, 15}},
        // Zoomed out 64 times: 5-inch steps (5.625 px), ticks on the first pixel past each.
        {2, 72.0, -6, {0, 5, 6, 12, 57}, {15, 0, 7, 7, 15}},
        // Centimetres at 254 ppi: 0.1 cm every 10 px, 0.5 every 50, 1 cm labelled.
        {3, 254.0, 0, {0, 10, 50, 90, 100}, {15, 3, 5, 3, 15}},
        // Millimetres at 254 ppi (0.1 mm a pixel): 0.5, 1, 5, 10 mm levels.
        {4, 254.0, 0, {0, 5, 10, 50, 100}, {15, 3, 5, 6, 15}},
        // Percent of a 1000-pixel image: 0.1 % a pixel, so 0.5 % ticks start.
        {5, 1000.0, 0, {0, 5, 10, 20, 50, 100}, {15, 5, 7, 7, 15, 15}},
        // No resolution: pixels, for every unit (percent included).
        {2, 0.0, 0, {5, 10, 50}, {4, 7, 15}},
        {5, 0.0, 0, {5, 10, 50}, {4, 7, 15}},
        {5, -3.0, 0, {5, 10, 50}, {4, 7, 15}},
    };
    for (const Case& c : cases) {
        Plane p(200, 20);
        QNF_RulerData d;
        d.unit = c.unit;
        d.resolution = c.resolution;
        d.zoom = c.zoom;
        DrawRuler(p.a.data(), p.w, p.h, d, nullptr);
        for (size_t i = 0; i < c.positions.size(); ++i) {
            EXPECT_EQ(p.TickAt(c.positions[i]), c.lengths[i])
                << "unit " << int(c.unit) << " res " << c.resolution << " at " << c.positions[i];
        }
    }
}

TEST(CtrlRuler, TinyResolutionsEndAtOnce)
{
    // Five ruler pixels spanning astronomically many units: the whole-number
    // step is found without walking to it, and steps past any image draw none.
    for (double res : {1e-300, 1e-9, 4.9e-324}) {
        for (uint8_t unit : {2, 3, 4, 5}) {
            Plane p(100, 10);
            QNF_RulerData d;
            d.unit = unit;
            d.resolution = res;
            DrawRuler(p.a.data(), p.w, p.h, d, nullptr);
            EXPECT_EQ(p.a, std::vector<uint8_t>(1000, 0)) << int(unit) << " " << res;
        }
    }
    // Large but sane steps still draw: 0.5% of a 10-pixel image per pixel.
    Plane p(100, 10);
    QNF_RulerData d;
    d.unit = 5;
    d.resolution = 10;
    DrawRuler(p.a.data(), p.w, p.h, d, nullptr);
    EXPECT_EQ(p.TickAt(0), 10);  // a labelled tick, clipped to the thickness
}

TEST(CtrlRuler, LabelsAndMarker)
{
    DigitFont f(5);
    Plane p(120, 20);
    QNF_RulerData d;
    d.firstCoord = 50;
    d.marker = 7;
    DrawRuler(p.a.data(), p.w, p.h, d, &f.font);
    // "50" at position 2 (two glyphs of 3 pixels, a pixel apart), rows 0..4.
    for (uint32_t x : {2u, 4u, 6u, 8u}) {
        EXPECT_EQ(p.At(x, 0), 200) << x;
        EXPECT_EQ(p.At(x, 4), 200) << x;
    }
    EXPECT_EQ(p.At(5, 0), 0);  // the pixel between the glyphs
    EXPECT_EQ(p.At(9, 0), 0);
    // "100" after the tick at 50.
    EXPECT_EQ(p.At(52, 2), 200);
    EXPECT_EQ(p.At(60, 2), 200);
    // The marker: a dotted line across the ruler, 0 first.
    for (uint32_t y = 0; y < 20; ++y) {
        EXPECT_EQ(p.At(7, y), (y & 1) ? 255 : 0) << y;
    }
    Plane none(120, 20);
    d.marker = 65535;
    DrawRuler(none.a.data(), none.w, none.h, d, &f.font);
    EXPECT_EQ(none.At(7, 1), 200);  // glyph, no marker
}

TEST(CtrlRuler, GlyphsAreClippedAcrossAndAlong)
{
    // A font taller than the ruler and labels at the very end: every write
    // stays in the plane (the sanitizer watches the exact-size buffer).
    DigitFont f(40);
    for (bool vertical : {false, true}) {
        Plane p(vertical ? 6 : 103, vertical ? 103 : 12);
        QNF_RulerData d;
        d.insetBefore = 4;
        d.firstCoord = -100;
        DrawRuler(p.a.data(), p.w, p.h, d, &f.font);
        // "-100" at position 0: glyph pixels from across 4 to the edge.
        EXPECT_EQ(vertical ? p.At(4, 2) : p.At(2, 4), 200);
        EXPECT_EQ(vertical ? p.At(5, 2) : p.At(2, 11), 200);
        EXPECT_EQ(vertical ? p.At(3, 2) : p.At(2, 3), 0);
    }
}

