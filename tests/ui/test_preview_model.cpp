#include "ui/PreviewGeometry.h"
#include "ui/PreviewPaint.h"

#include "imaging/Image.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using qnui::PreviewGeometry;

namespace {

PreviewGeometry Make(int viewW, int viewH, int imgW, int imgH, int zoom = 4)
{
    PreviewGeometry g;
    g.SetView(viewW, viewH);
    g.SetImageSize(imgW, imgH);
    g.SetZoom(zoom, -1, -1, true);
    return g;
}

// A random RGBA image with some fully transparent, some opaque pixels.
void FillRandom(CQNF_Image& img, int w, int h, unsigned seed)
{
    ASSERT_TRUE(img.Create(uint16_t(w), uint16_t(h), qnimg::ModeRGBA));
    std::mt19937 rng(seed);
    for (unsigned p = 0; p < 4; ++p)
        for (size_t i = 0; i < img.PlaneSize(); ++i)
            img.GetPlane(p)[i] = uint8_t(rng());
    for (size_t i = 0; i < img.PlaneSize(); i += 3)
        img.GetPlane(3)[i] = (i % 2) ? 255 : 0;
}

// The picture by its definition, one view pixel at a time.
qntRGBA8 Expected(const CQNF_Image& img, const PreviewGeometry& g, int px, int py, const qnui::PreviewPaintOptions& o)
{
    const int64_t sx = int64_t(px) + g.GetOffset().x, sy = int64_t(py) + g.GetOffset().y;
    const bool one = (((sx >> 3) + (sy >> 3)) & 1) == 0;
    if (sx < 0 || sy < 0 || sx >= g.ScaledW() || sy >= g.ScaledH())
        return one ? o.outer1 : o.outer2;
    const qntRGBA8 b = one ? o.inner1 : o.inner2;
    const qntPOS ip = g.ImageCoordsRaw({px, py});
    const int z = g.GetZoom();
    const int f = z < 4 ? 1 << (4 - z) : 1;
    int c[4];
    for (int p = 0; p < 4; ++p) {
        long sum = 0;
        const int n = o.quality ? f : 1;
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x)
                sum += img.GetPlane(p)[size_t(ip.y + y) * img.GetImageWidth() + ip.x + x];
        c[p] = int(sum / (n * n));
    }
    const int bb[3] = {b.r, b.g, b.b};
    uint8_t out[3];
    for (int p = 0; p < 3; ++p) {
        const int cc = o.washOut ? 128 + c[p] / 2 : c[p];
        out[p] = c[3] == 255 ? uint8_t(cc) : uint8_t(bb[p] - (((bb[p] - cc) * c[3]) >> 8));
    }
    return {out[0], out[1], out[2], 0};
}

}  // namespace

TEST(PreviewGeometry, SmallImagesAreCentredAndLargeOnesClamped)
{
    struct Case {
        int imgW, imgH, zoom;
        int64_t askX, askY;
        int wantX, wantY;
    } cases[] = {
        {100, 60, 4, 0, 0, -50, -20},      // centred: (200 - 100) / 2, (100 - 60) / 2
        {101, 61, 4, 99, 99, -49, -19},    // odd remainders: the floor goes before
        {400, 300, 4, 1000, -1000, 250, -50},
        {400, 300, 4, -7, 12, -7, 12},
        {400, 300, 2, 500, 500, -50, -12},  // 100 x 75 at 1:4: centred again
        {400, 300, 8, 1LL << 40, 0, 6250, 0},
    };
    for (const Case& c : cases) {
        PreviewGeometry g = Make(200, 100, c.imgW, c.imgH, c.zoom);
        g.SetOffset(c.askX, c.askY);
        EXPECT_EQ(g.GetOffset().x, c.wantX) << c.imgW << "x" << c.imgH << " z" << c.zoom;
        EXPECT_EQ(g.GetOffset().y, c.wantY) << c.imgW << "x" << c.imgH << " z" << c.zoom;
    }
}

TEST(PreviewGeometry, ZoomLevelsAreClampedAndKeepTheAnchor)
{
    struct Case {
        int ask, level, scaledW;
    } cases[] = {{-3, 0, 375}, {0, 0, 375}, {3, 3, 3000}, {4, 4, 6000}, {8, 8, 96000}, {12, 8, 96000}, {255, 8, 96000}};
    for (const Case& c : cases) {
        PreviewGeometry g = Make(1000, 600, 6000, 4000);
        g.SetZoom(c.ask, -1, -1, false);
        EXPECT_EQ(g.GetZoom(), c.level) << c.ask;
        EXPECT_EQ(g.ScaledW(), c.scaledW) << c.ask;
    }
    // The image point under the anchor comes to the centre, at every step.
    PreviewGeometry g = Make(200, 100, 1000, 800);
    g.SetOffset(300, 200);
    EXPECT_EQ(g.ImageCoords({20, 30}), (qntPOS{320, 230}));
    EXPECT_TRUE(g.SetZoom(5, 20, 30, false));
    EXPECT_EQ(g.GetOffset(), (qntPOS{540, 410}));
    EXPECT_EQ(g.ImageCoords({100, 50}), (qntPOS{320, 230}));
    EXPECT_TRUE(g.SetZoom(3, 100, 50, false));
    EXPECT_EQ(g.ImageCoords({100, 50}), (qntPOS{320, 230}));
    EXPECT_FALSE(g.SetZoom(3, 0, 0, false));
}

TEST(PreviewGeometry, ImageCoordinatesOverMarginsAreClipped)
{
    PreviewGeometry g = Make(200, 100, 100, 60);  // margins 50 and 20
    EXPECT_EQ(g.ImageCoords({10, 10}), (qntPOS{-1, -1}));
    EXPECT_EQ(g.ImageCoords({160, 90}), (qntPOS{65535, 65535}));
    EXPECT_EQ(g.ImageCoords({50, 20}), (qntPOS{0, 0}));
    EXPECT_EQ(g.ImageCoordsRaw({10, 10}), (qntPOS{-40, -10}));
    g.SetZoom(6, -1, -1, false);  // 400 x 240 scaled; margins 50 past each edge
    g.SetOffset(-3, -3);
    EXPECT_EQ(g.ImageCoordsRaw({0, 0}), (qntPOS{-1, -1}));  // arithmetic shift, not toward 0
    EXPECT_EQ(g.ImageCoordsRaw({7, 3}), (qntPOS{1, 0}));
}

TEST(PreviewGeometry, ScrollBarsFollowTheOffset)
{
    PreviewGeometry g = Make(200, 100, 400, 300);
    g.SetOffset(30, 40);
    const auto h = g.HorizontalScroll(), v = g.VerticalScroll();
    EXPECT_EQ(h.total, 500);  // 200 + 250 - (-50)
    EXPECT_EQ(h.visible, 200);
    EXPECT_EQ(h.position, 80);
    EXPECT_EQ(v.total, 400);
    EXPECT_EQ(v.position, 90);
    g.SetOffsetFromScroll(0, 400);
    EXPECT_EQ(g.GetOffset(), (qntPOS{-50, 250}));
}

TEST(PreviewGeometry, NavigatorFramesTheView)
{
    // 1000 x 500 image, navigator 106 x 56: s = 0.1, thumbnail 100 x 50.
    PreviewGeometry g = Make(200, 100, 1000, 500);
    g.SetOffset(300, 100);
    qnui::NavigatorLayout nav = qnui::LayoutNavigator(g, 106, 56);
    ASSERT_TRUE(nav.valid);
    EXPECT_DOUBLE_EQ(nav.k, 0.1);
    EXPECT_EQ(nav.thumb, (qntRECT_s{3, 3, 103, 53}));
    EXPECT_EQ(nav.frame, (qntRECT_s{33, 13, 54, 24}));  // 200 x 100 visible: 20 + 1, 10 + 1
    EXPECT_EQ(nav.frameSize, (qntRECT_s{0, 0, 20, 10}));

    std::vector<uint8_t> px(106 * 56 * 4, 7);
    qnui::PaintNavigator(px.data(), 106, 56, nav);
    auto at = [&](int x, int y, int p) { return px[size_t(p) * 106 * 56 + size_t(y) * 106 + x]; };
    EXPECT_EQ(at(33, 0, 3), 255);   // frame columns run across the whole navigator
    EXPECT_EQ(at(33, 0, 0), 0);
    EXPECT_EQ(at(0, 24, 3), 255);
    EXPECT_EQ(at(40, 18, 3), 0);    // clear inside
    EXPECT_EQ(at(10, 40, 3), 100);  // grey veil outside
    EXPECT_EQ(at(10, 40, 1), 200);

    // A press at the thumbnail's centre centres the view.
    const qntPOS off = qnui::NavigatorOffset(g, nav, {53, 28});
    EXPECT_EQ(off, (qntPOS{400, 200}));

    // The whole image visible: the frame is the thumbnail, navigating keeps the offset.
    PreviewGeometry small = Make(200, 100, 100, 50);
    nav = qnui::LayoutNavigator(small, 106, 56);
    EXPECT_EQ(nav.frame.right - nav.frame.left, 100);
    EXPECT_EQ(qnui::NavigatorOffset(small, nav, {90, 40}), small.GetOffset());
    EXPECT_FALSE(qnui::LayoutNavigator(Make(200, 100, 0, 0), 106, 56).valid);
}

TEST(PreviewGeometry, RulersFollowZoomAndOffset)
{
    struct Case {
        int zoom;
        int64_t offX;
        int lead, trail, exp, first, phase;
    } cases[] = {
        {4, 120, 4, 2, 0, 120, 0},
        {6, 13, 4, 2, 2, 3, 1},     // 13 ruler pixels = 3 image pixels and 1 of the next
        {3, -50, 54, 2, -1, 0, 0},   // 500 wide: the left margin shows
        {2, 0, 4 + 75, 2 + 75, -2, 0, 0},  // 250 wide: centred, 75 each side
        {8, 3000, 4, 2, 4, 187, 8},
    };
    const qntRECT_s preview{20, 30, 420, 230}, ruler{16, 10, 422, 28};
    for (const Case& c : cases) {
        PreviewGeometry g = Make(400, 200, 1000, 800, c.zoom);
        g.SetOffset(c.offX, 0);
        const QNF_RulerData r = qnui::HorizontalRulerData(g, preview, ruler, 100, 1, 72.0);
        EXPECT_EQ(r.leadingBlank, c.lead) << "z" << c.zoom;
        EXPECT_EQ(r.trailingBlank, c.trail) << "z" << c.zoom;
        EXPECT_EQ(r.zoom, c.exp) << "z" << c.zoom;
        EXPECT_EQ(r.firstCoord, c.first) << "z" << c.zoom;
        EXPECT_EQ(r.phase, c.phase) << "z" << c.zoom;
        EXPECT_EQ(r.marker, 84);
        EXPECT_EQ(r.insetBefore, 1);
    }
    PreviewGeometry g = Make(400, 200, 1000, 800);
    const QNF_RulerData v = qnui::VerticalRulerData(g, {20, 30, 420, 230}, {0, 30, 18, 230}, 65535, 5, 72.0);
    EXPECT_EQ(v.marker, 65535);
    EXPECT_EQ(v.insetBefore, 2);
    EXPECT_DOUBLE_EQ(v.resolution, 800.0);  // percent: the image's height
}

TEST(PreviewPaint, MatchesTheDefinitionAtEveryLevel)
{
    CQNF_Image img;
    FillRandom(img, 67, 45, 1);
    CQNF_Image canvas;
    ASSERT_TRUE(canvas.Create(90, 70, qnimg::ModeRGBA));
    const qntRECT_s rect{-7, 5, 73, 65};  // 80 x 60, its left part off the canvas
    for (int zoom = 0; zoom <= 8; ++zoom) {
        for (int variant = 0; variant < 3; ++variant) {
            PreviewGeometry g = Make(80, 60, 67, 45, zoom);
            g.SetOffset(variant == 0 ? -1000 : variant == 1 ? 13 : 1 << 20, variant == 2 ? 5 : -1000);
            qnui::PreviewPaintOptions o;
            o.washOut = variant == 1;
            o.quality = variant == 2;
            canvas.Set(qntRGBA8{1, 2, 3, 99}, 15);
            ASSERT_TRUE(qnui::PaintPreview(img, canvas, rect, g, o));
            int wrong = 0;
            for (int y = 0; y < 60; ++y) {
                for (int x = 7; x < 80; ++x) {
                    const qntRGBA8 want = Expected(img, g, x, y, o);
                    const qntRGBA8 got = canvas.GetPixel(uint16_t(x - 7), uint16_t(y + 5));
                    wrong += got.r != want.r || got.g != want.g || got.b != want.b || got.a != 99;
                }
            }
            EXPECT_EQ(wrong, 0) << "zoom " << zoom << " variant " << variant;
        }
    }
    // Outside the preview rectangle nothing is touched.
    EXPECT_EQ(canvas.GetPixel(80, 2).r, 1);
}

TEST(PreviewPaint, CheckerboardAndMaskStripes)
{
    CQNF_Image img;
    ASSERT_TRUE(img.Create(32, 16, qnimg::ModeRGBA));
    img.Set(qntRGBA8{0, 0, 0, 0}, 15);  // fully transparent
    CQNF_Image canvas;
    ASSERT_TRUE(canvas.Create(32, 16, qnimg::ModeRGB));
    PreviewGeometry g = Make(32, 16, 32, 16);
    qnui::PreviewPaintOptions o;
    ASSERT_TRUE(qnui::PaintPreview(img, canvas, {0, 0, 32, 16}, g, o));
    EXPECT_EQ(canvas.GetPixel(0, 0).r, 255);   // the origin cell: colour 1
    EXPECT_EQ(canvas.GetPixel(8, 0).r, 192);
    EXPECT_EQ(canvas.GetPixel(8, 8).r, 255);
    // Half the image masked: every fourth column of it shows the mask colour.
    std::vector<uint8_t> mask(32 * 16, 0);
    for (int y = 0; y < 16; ++y)
        for (int x = 16; x < 32; ++x)
            mask[size_t(y) * 32 + x] = 1;
    o.mask = mask.data();
    o.maskRowLength = 32;
    img.Set(qntRGBA8{100, 100, 100, 255}, 15);
    ASSERT_TRUE(qnui::PaintPreview(img, canvas, {0, 0, 32, 16}, g, o));
    const qntRGBA8 plain = canvas.GetPixel(4, 3), stripe = canvas.GetPixel(20, 3), washed = canvas.GetPixel(21, 3);
    EXPECT_EQ(plain.r, 100);
    EXPECT_EQ(stripe.r, 255);
    EXPECT_EQ(stripe.g, 0);
    EXPECT_EQ(washed.r, 178);  // 128 + 100 / 2
    EXPECT_FALSE(qnui::PaintPreview(canvas, canvas, {0, 0, 32, 16}, g, o));  // not RGBA
}
