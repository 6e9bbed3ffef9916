#include "imaging/Layer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace {

void Fill(CQNF_Image& img, uint8_t r, uint8_t g, uint8_t b, uint8_t a = 255)
{
    ASSERT_TRUE(img.Set(qntRGBA8{r, g, b, a}, 0xFF, qnNullRect));
}

uint8_t Canvas(CQNF_LayerSet& set, unsigned plane, int x, int y)
{
    return set.GetCanvas()->GetPlane(plane)[y * set.GetCanvasWidth() + x];
}

std::unique_ptr<CQNF_Layer> MakeLayer(short x, short y, unsigned short w, unsigned short h, unsigned char mode)
{
    auto l = std::make_unique<CQNF_Layer>();
    EXPECT_TRUE(l->Create(x, y, w, h, mode));
    return l;
}

}  // namespace

TEST(RasterLayer, CreateFormsAndAccessors)
{
    CQNF_Layer l;
    ASSERT_TRUE(l.Create(qntRECT_s{-5, 7, 15, 10}, 2));
    EXPECT_EQ(l.GetImageWidth(), 20);
    EXPECT_EQ(l.GetImageHeight(), 3);
    EXPECT_EQ(l.GetRect(), (qntRECT_s{-5, 7, 15, 10}));
    ASSERT_TRUE(l.Create(3L, 4L, 13L, 24L, 1));
    EXPECT_EQ(l.GetRect(), (qntRECT_s{3, 4, 13, 24}));
    // A position or size the 16-bit fields cannot hold is refused.
    EXPECT_FALSE(l.Create(40000L, 0L, 40010L, 10L, 1));
    EXPECT_EQ(l.GetError(), qnerr::BadArgument);
    EXPECT_FALSE(l.Create(qntRECT_s{10, 0, 5, 10}, 1));
    EXPECT_EQ(l.GetError(), qnerr::BadArgument);

    CQNF_Image src;
    ASSERT_TRUE(src.Create(4, 2, 1));
    ASSERT_TRUE(l.Create(short(-2), short(1), &src, 2));
    EXPECT_EQ(l.GetImageMode(), 2);
    short x = 0, y = 0;
    EXPECT_TRUE(l.GetPos(x, y));
    EXPECT_EQ(x, -2);
    EXPECT_EQ(y, 1);

    EXPECT_EQ(l.GetOpacity(), 255);
    EXPECT_EQ(l.GetVisible(), 1);
    EXPECT_TRUE(qnIsNullRect(l.GetClipRect()));
    l.SetName("Preview");
    EXPECT_EQ(l.GetName(), "Preview");
}

TEST(RasterLayer, GetLineSpans)
{
    CQNF_Layer l;
    ASSERT_TRUE(l.Create(short(10), short(5), 20, 4, 2));
    // Row outside, span outside: empty records.
    EXPECT_EQ(l.GetLine(0, 4, 100).empty, 1u);
    EXPECT_EQ(l.GetLine(0, 9, 100).empty, 1u);
    EXPECT_EQ(l.GetLine(0, 6, 10).empty, 1u);
    qntLAYERLINE line = l.GetLine(4, 6, 20);
    ASSERT_EQ(line.empty, 0u);
    EXPECT_EQ(line.start, 6);
    EXPECT_EQ(line.end, 20);
    EXPECT_EQ(line.red, l.GetPixelPtr(0, 1));
    EXPECT_EQ(line.alpha, l.GetPixelPtr(0, 1) + 3 * 80);
    EXPECT_EQ(line.opacity, 255);

    // The clip narrows both directions; the null clip switches it off.
    l.SetClipRect({15, 7, 100, 100});
    EXPECT_EQ(l.GetLine(0, 6, 100).empty, 1u);
    line = l.GetLine(0, 7, 100);
    EXPECT_EQ(line.start, 15);
    EXPECT_EQ(line.end, 30);
    l.SetClipRect(qnNullRect);
    EXPECT_EQ(l.GetLine(0, 5, 100).start, 10);

    l.SetOpacity(0);
    EXPECT_EQ(l.GetLine(0, 6, 100).empty, 1u);
    l.SetOpacity(9);
    l.SetVisible(0);
    EXPECT_EQ(l.GetLine(0, 6, 100).empty, 1u);
}

TEST(RasterLayer, MembersAndNames)
{
    CQNF_LayerSet set;
    ASSERT_TRUE(set.Create(10, 10));
    CQNF_Layer a, b, c, d;
    EXPECT_EQ(set.AddLayer(&a), 0u);
    EXPECT_EQ(set.AddLayer(&b), 1u);
    EXPECT_EQ(set.InsertLayer(&c, 1), 1u);
    EXPECT_EQ(set.InsertLayer(&d, 99), 3u);
    EXPECT_EQ(set.GetLayer(1), &c);
    EXPECT_EQ(set.GetLayer(2), &b);
    EXPECT_EQ(set.GetLayer(4), nullptr);
    EXPECT_EQ(set.AddLayer(nullptr), CQNF_LayerSet::NotFound);

    b.SetName("Knives");
    d.SetName("Knives");
    EXPECT_EQ(set.FindLayerByName("Knives"), 2u);
    EXPECT_EQ(set.FindLayerByName("knives"), CQNF_LayerSet::NotFound);

    EXPECT_EQ(set.DeleteLayer(0), 1u);
    EXPECT_EQ(set.GetLayerCount(), 3u);
    EXPECT_EQ(set.GetLayer(0), &c);
    EXPECT_EQ(set.DeleteLayer(3), 0u);
    EXPECT_FALSE(set.RenderLayer(7));
    set.Clean();
    EXPECT_EQ(set.GetLayerCount(), 0u);
    EXPECT_EQ(set.GetCanvasWidth(), 0);
    EXPECT_FALSE(set.Render(qnNullRect));
    EXPECT_EQ(set.GetError(), qnerr::Empty);
}

TEST(RasterLayer, RenderCopiesBaseAndBlendsAbove)
{
    CQNF_LayerSet set;
    ASSERT_TRUE(set.Create(8, 4));
    Fill(*set.GetCanvas(), 7, 7, 7);
    // Nothing to render: canvas untouched.
    EXPECT_TRUE(set.Render(qnNullRect));
    EXPECT_EQ(Canvas(set, 0, 0, 0), 7);

    // The base is translucent and has alpha, yet it is copied as it is.
    auto base = MakeLayer(0, 0, 6, 4, 2);
    Fill(*base, 255, 0, 100, 10);
    base->SetOpacity(20);
    // Above: opaque black with alpha 255 over the white red plane, and
    // opaque white over the zero green plane.
    auto top = MakeLayer(2, 1, 3, 2, 2);
    Fill(*top, 0, 255, 100, 255);
    set.AddLayer(base.get());
    set.AddLayer(top.get());
    ASSERT_TRUE(set.Render(qnNullRect));
    EXPECT_EQ(Canvas(set, 0, 0, 0), 255);
    EXPECT_EQ(Canvas(set, 2, 0, 0), 100);
    EXPECT_EQ(Canvas(set, 0, 2, 1), 0);    // exact, not 1
    EXPECT_EQ(Canvas(set, 1, 3, 2), 255);  // exact
    // Columns no layer covers keep their values.
    EXPECT_EQ(Canvas(set, 0, 6, 0), 7);
    EXPECT_EQ(Canvas(set, 1, 7, 3), 7);

    // Transparent pixels leave the canvas exactly alone.
    Fill(*top, 0, 0, 0, 0);
    ASSERT_TRUE(set.Render(qnNullRect));
    EXPECT_EQ(Canvas(set, 0, 3, 1), 255);
    EXPECT_EQ(Canvas(set, 2, 3, 1), 100);

    // A hidden base neither blends nor becomes the copied base: the next
    // layer up is copied instead.
    Fill(*top, 50, 60, 70, 0);
    base->SetVisible(0);
    Fill(*set.GetCanvas(), 1, 1, 1);
    ASSERT_TRUE(set.Render(qnNullRect));
    EXPECT_EQ(Canvas(set, 0, 3, 1), 50);
    EXPECT_EQ(Canvas(set, 0, 0, 0), 1);
}

TEST(RasterLayer, RenderRectangleAndLayerClip)
{
    CQNF_LayerSet set;
    ASSERT_TRUE(set.Create(10, 6));
    Fill(*set.GetCanvas(), 0, 0, 0);
    auto l = MakeLayer(0, 0, 10, 6, 1);
    Fill(*l, 200, 200, 200);
    set.AddLayer(l.get());
    ASSERT_TRUE(set.Render(qntRECT_s{-5, 4, 3, 40}));
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 10; ++x)
            EXPECT_EQ(Canvas(set, 0, x, y), (x < 3 && y >= 4) ? 200 : 0) << x << "," << y;
    ASSERT_TRUE(set.Render(qntRECT_s{10, 0, 20, 6}));
    EXPECT_EQ(Canvas(set, 0, 9, 0), 0);

    Fill(*set.GetCanvas(), 0, 0, 0);
    l->SetClipRect({2, 1, 5, 100});
    ASSERT_TRUE(set.RenderLayer(0));
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 10; ++x)
            EXPECT_EQ(Canvas(set, 1, x, y), (x >= 2 && x < 5 && y >= 1) ? 200 : 0) << x << "," << y;
    // RenderLayer ignores the member's visibility.
    l->SetVisible(0);
    EXPECT_TRUE(set.RenderLayer(0));
}

// Floating-point reference of the compositor: each canvas value is rounded
// to 8 bits after every layer, as the canvas stores it.
TEST(RasterLayer, MatchesFloatingPointReference)
{
    std::mt19937 rng(2024);
    for (int trial = 0; trial < 200; ++trial) {
        const int cw = 8 + int(rng() % 40), ch = 8 + int(rng() % 30);
        CQNF_LayerSet set;
        ASSERT_TRUE(set.Create(uint16_t(cw), uint16_t(ch)));
        CQNF_Image* canvas = set.GetCanvas();
        for (uint32_t i = 0; i < canvas->GetMemObj()->GetSize(); ++i)
            canvas->GetMemObj()->GetPtr()[i] = uint8_t(rng());
        std::vector<uint8_t> ref(canvas->GetMemObj()->GetPtr(),
                                 canvas->GetMemObj()->GetPtr() + canvas->GetMemObj()->GetSize());

        std::vector<std::unique_ptr<CQNF_Layer>> layers;
        const int n = 1 + int(rng() % 5);
        for (int k = 0; k < n; ++k) {
            const short x = short(int(rng() % (cw + 10)) - 5), y = short(int(rng() % (ch + 10)) - 5);
            auto l = MakeLayer(x, y, uint16_t(1 + rng() % 30), uint16_t(1 + rng() % 20), uint8_t(1 + rng() % 2));
            for (uint32_t i = 0; i < l->GetMemObj()->GetSize(); ++i)
                l->GetMemObj()->GetPtr()[i] = uint8_t(rng());
            const int op = int(rng() % 4);
            l->SetOpacity(op == 0 ? 255 : op == 1 ? 0 : uint8_t(rng()));
            l->SetVisible(rng() % 6 != 0);
            if (rng() % 3 == 0)
                l->SetClipRect({int(rng() % cw), int(rng() % ch), int(rng() % (cw + 5)), int(rng() % (ch + 5))});
            set.AddLayer(l.get());
            layers.push_back(std::move(l));
        }
        const qntRECT_s area = rng() % 2 ? qnNullRect
                                         : qntRECT_s{int(rng() % cw) - 3, int(rng() % ch) - 3, int(rng() % (cw + 6)),
                                                     int(rng() % (ch + 6))};
        ASSERT_TRUE(set.Render(area));

        const qntRECT_s r = qnIsNullRect(area) ? qntRECT_s{0, 0, cw, ch} : area;
        const int rl = std::max(0, r.left), rr = std::min(cw, r.right);
        // The part of a layer that contributes: its rectangle cut by its clip.
        auto reach = [](const CQNF_Layer& l) {
            qntRECT_s c = l.GetRect();
            if (!qnIsNullRect(l.GetClipRect())) {
                const qntRECT_s k = l.GetClipRect();
                c = {std::max(c.left, k.left), std::max(c.top, k.top), std::min(c.right, k.right),
                     std::min(c.bottom, k.bottom)};
            }
            return c;
        };
        for (int y = std::max(0, r.top); y < std::min(ch, r.bottom); ++y) {
            // The lowest layer with a span on this row is copied over its
            // span; every other one is blended.
            const CQNF_Layer* base = nullptr;
            for (const auto& l : layers) {
                const qntRECT_s c = reach(*l);
                if (l->GetVisible() && l->GetOpacity() && y >= c.top && y < c.bottom &&
                    std::max(c.left, rl) < std::min(c.right, rr)) {
                    base = l.get();
                    break;
                }
            }
            for (int x = rl; x < rr; ++x) {
                for (const auto& l : layers) {
                    const qntRECT_s c = reach(*l);
                    if (!l->GetVisible() || !l->GetOpacity() || x < c.left || x >= c.right || y < c.top ||
                        y >= c.bottom)
                        continue;
                    const qntRECT_s lr = l->GetRect();
                    const qntRGBA8 s = l->GetPixel(uint16_t(x - lr.left), uint16_t(y - lr.top));
                    const uint8_t sv[3] = {s.r, s.g, s.b};
                    const double w = (l->GetImageMode() == 2 ? s.a / 255.0 : 1.0) * (l->GetOpacity() / 255.0);
                    for (int p = 0; p < 3; ++p) {
                        uint8_t& d = ref[size_t(p) * cw * ch + size_t(y) * cw + x];
                        d = l.get() == base ? sv[p] : uint8_t(std::floor(d + (sv[p] - d) * w + 0.5));
                    }
                }
                for (int p = 0; p < 3; ++p)
                    ASSERT_NEAR(Canvas(set, p, x, y), ref[size_t(p) * cw * ch + size_t(y) * cw + x], 1)
                        << "trial " << trial << " plane " << p << " at " << x << "," << y;
            }
        }
        // Outside the render rectangle nothing changed.
        for (int y = 0; y < ch; ++y)
            for (int x = 0; x < cw; ++x)
                if (x < r.left || x >= r.right || y < r.top || y >= r.bottom) {
                    ASSERT_EQ(Canvas(set, 0, x, y), ref[size_t(y) * cw + x]);
                }
    }
}

TEST(RasterLayer, OpaqueLayersLandExactly)
{
    CQNF_LayerSet set;
    ASSERT_TRUE(set.Create(16, 16));
    Fill(*set.GetCanvas(), 0, 0, 0);
    auto base = MakeLayer(0, 0, 16, 16, 1);
    Fill(*base, 33, 66, 99);
    auto rgb = MakeLayer(1, 1, 16, 16, 1);
    auto rgba = MakeLayer(3, 3, 16, 16, 2);
    std::mt19937 rng(5);
    for (auto* l : {rgb.get(), rgba.get()})
        for (uint32_t i = 0; i < l->GetMemObj()->GetSize(); ++i)
            l->GetMemObj()->GetPtr()[i] = uint8_t(rng());
    rgba->Set(qntRGBA8{0, 0, 0, 255}, 8, qnNullRect);
    set.AddLayer(base.get());
    set.AddLayer(rgb.get());
    set.AddLayer(rgba.get());
    ASSERT_TRUE(set.Render(qnNullRect));
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const qntRGBA8 want = x >= 3 && y >= 3   ? rgba->GetPixel(uint16_t(x - 3), uint16_t(y - 3))
                                  : x >= 1 && y >= 1 ? rgb->GetPixel(uint16_t(x - 1), uint16_t(y - 1))
                                                     : base->GetPixel(uint16_t(x), uint16_t(y));
            EXPECT_EQ(Canvas(set, 0, x, y), want.r);
            EXPECT_EQ(Canvas(set, 1, x, y), want.g);
            EXPECT_EQ(Canvas(set, 2, x, y), want.b);
        }
}
