// Rendering pieces with their effects and compositing them back.
#include "engine/Tessolo.h"
#include "engine_test_util.h"
#include "imaging/ImageFX_Kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <random>

using namespace engine_test;

namespace {

using Cell = CTessolo::SPLITEDCELL;

// A small puzzle, split, every effect off unless a test switches it on.
struct Puzzle {
    CTessolo e;
    TestImage img;
    int32_t w, h;

    Puzzle(int32_t width, int32_t height, uint8_t channels, uint16_t cols, uint16_t rows, bool smooth = true,
           uint8_t mode = 1)
        : img(width, height, channels), w(width), h(height)
    {
        e.m_nColorMode = mode;
        Load(e, cols, rows, true, smooth);
        EXPECT_TRUE(e.SplitCells(w, h, nullptr, 0, img.Planes(), uint32_t(w), channels, 0, 100, 0));
        NoEffects(e);
    }

    // Planes of one rendered piece, copied out.
    std::vector<std::vector<uint8_t>> PiecePlanes(uint32_t i) const
    {
        const Cell& p = e.m_pPieces[i];
        std::vector<std::vector<uint8_t>> out;
        for (uint8_t k = 0; k < e.m_nWorkPlaneCount; ++k)
            out.emplace_back(p.planePtrs[k], p.planePtrs[k] + size_t(p.Width()) * p.Height());
        return out;
    }

    std::vector<std::vector<uint8_t>> Render(uint32_t i)
    {
        EXPECT_TRUE(e.RenderPiece(i));
        return PiecePlanes(i);
    }

    // Composites into a fresh destination filled with fill.
    std::vector<std::vector<uint8_t>> Composite(const uint8_t* selection = nullptr, qntRECT_s rect = qnNullRect,
                                                uint8_t fill = 9)
    {
        std::vector<std::vector<uint8_t>> dst(size_t(e.m_nWorkPlaneCount), std::vector<uint8_t>(size_t(w) * h, fill));
        std::vector<uint8_t*> ptrs;
        for (auto& p : dst)
            ptrs.push_back(p.data());
        EXPECT_TRUE(e.CombineSplitedCells(w, h, ptrs.data(), uint32_t(w), e.m_nWorkPlaneCount,
                                          const_cast<uint8_t*>(selection), uint32_t(w), rect, nullptr, 0, 100));
        return dst;
    }
};

// Fake document layers: each layer is one colour (or one value per plane).
class FakeLayers : public CTessoloServices {
public:
    std::vector<LAYERBOUNDS> table;
    std::vector<uint8_t> values;  // colour value of each table entry
    qntPOS origin{0, 0};
    qntRECT_s lastBox = qnNullRect;
    int32_t lastRead = 0x7777;
    bool failRead = false;
    std::vector<std::string> messages;

    void PlatformMessageBox(const char* text, const char* title) override
    {
        messages.push_back(std::string(title) + ": " + text);
    }
    bool HasDocumentLayers() override { return true; }
    qntPOS GetFilterOrigin() override { return origin; }
    bool FillRealLayerBounds(const qntRECT_s& box, const LAYERBOUNDS*& t, uint32_t& count) override
    {
        lastBox = box;
        t = table.data();
        count = uint32_t(table.size());
        return true;
    }
    bool GetLayerPixels(int32_t id, uint8_t** planes, int32_t width, int32_t height, uint8_t planeCount,
                        const qntRECT_s&) override
    {
        lastRead = id;
        if (failRead)
            return false;
        uint8_t v = 0;
        for (size_t i = 0; i < table.size(); ++i)
            if (table[i].id == id)
                v = values[i];
        for (uint8_t k = 0; k < planeCount; ++k)
            std::memset(planes[k], k + 1 == planeCount ? 255 : v, size_t(width) * height);
        return true;
    }
};

}  // namespace

TEST(EngineRender, NoEffectGivesTheSourceWithTheMaskAsAlpha)
{
    Puzzle z(70, 50, 3, 3, 2);
    for (uint32_t i = 0; i < z.e.m_nPieces; ++i) {
        const auto planes = z.Render(i);
        const Cell& p = z.e.m_pPieces[i];
        for (int32_t y = 0; y < p.Height(); ++y)
            for (int32_t x = 0; x < p.Width(); ++x) {
                const size_t k = size_t(y) * p.Width() + x;
                for (uint8_t c = 0; c < 3; ++c)
                    ASSERT_EQ(planes[c][k], z.img.planes[c][size_t(p.top + y) * z.w + p.left + x]);
                ASSERT_EQ(planes[3][k], p.mask->GetPtr()[k]);
            }
    }
}

TEST(EngineRender, CompositingPlainPiecesGivesTheImageBack)
{
    for (bool smooth : {true, false}) {
        Puzzle z(90, 64, 3, 4, 3, smooth);
        for (uint32_t i = 0; i < z.e.m_nPieces; ++i)
            z.Render(i);
        const auto out = z.Composite();
        for (uint8_t c = 0; c < 3; ++c)
            EXPECT_EQ(out[c], z.img.planes[c]) << "plane " << int(c);
        // Every overlap is opaque, and no pixel is left out.
        EXPECT_EQ(out[3], std::vector<uint8_t>(size_t(z.w) * z.h, 255)) << smooth;
    }
}

TEST(EngineRender, AppliedCopiesFollowTheRequestedOnesAndBackupsStay)
{
    Puzzle z(40, 30, 3, 1, 1);
    Cell& p = z.e.m_pPieces[0];
    p.gaussianBlur[CTessolo::FX_REQUESTED] = {1, 2};
    p.brightnessContrast[CTessolo::FX_REQUESTED] = {1, 10, -20};
    p.hsl[CTessolo::FX_REQUESTED] = {1, 0, 30, 10, 0};
    p.opacity[CTessolo::FX_REQUESTED] = {1, 200};
    p.stroke[CTessolo::FX_REQUESTED].on = 1;
    p.invert[CTessolo::FX_REQUESTED] = 1;
    p.imageOverlay[CTessolo::FX_REQUESTED].on = 1;
    std::memset(&p.bevel[CTessolo::FX_BACKUP], 0x5A, sizeof p.bevel[0]);
    const CTessolo::SFX_IMAGEOVERLAY before = p.imageOverlay[CTessolo::FX_APPLIED];
    ASSERT_TRUE(z.e.RenderPiece(0));
    const CTessolo::SFX_ONEPIECE applied = CTessolo::MakeOnePiece(p);
    EXPECT_EQ(applied.gaussianBlur.radius, 2);
    EXPECT_EQ(applied.brightnessContrast.contrast, -20);
    EXPECT_EQ(applied.hsl.hue, 30);
    EXPECT_EQ(applied.opacity.opacity, 200);
    EXPECT_EQ(applied.stroke.on, 1);
    EXPECT_EQ(applied.invert, 1);
    EXPECT_EQ(applied.bevel.on, 0);
    // Without layer access the image overlay is not applied at all.
    EXPECT_EQ(std::memcmp(&p.imageOverlay[CTessolo::FX_APPLIED], &before, sizeof before), 0);
    uint8_t pattern[sizeof p.bevel[0]];
    std::memset(pattern, 0x5A, sizeof pattern);
    EXPECT_EQ(std::memcmp(&p.bevel[CTessolo::FX_BACKUP], pattern, sizeof pattern), 0);
    EXPECT_FALSE(z.e.RenderPiece(1));
}

TEST(EngineRender, EffectsRunInTheirOrder)
{
    Puzzle z(40, 30, 3, 1, 1);
    Cell& p = z.e.m_pPieces[0];
    // Invert comes before the overlay: an opaque overlay hides it.
    p.invert[CTessolo::FX_REQUESTED] = 1;
    p.colorOverlay[CTessolo::FX_REQUESTED].on = 1;
    p.colorOverlay[CTessolo::FX_REQUESTED].color = {10, 100, 150, 200, 0, 0, 0, 0};
    // Brightness comes after the overlay.
    p.brightnessContrast[CTessolo::FX_REQUESTED] = {1, 10, 0};
    const auto planes = z.Render(0);
    EXPECT_EQ(planes[0], std::vector<uint8_t>(40 * 30, 110));
    EXPECT_EQ(planes[1], std::vector<uint8_t>(40 * 30, 160));
    EXPECT_EQ(planes[2], std::vector<uint8_t>(40 * 30, 210));
}

TEST(EngineRender, OpaqueOverlaySkipsTheBlurs)
{
    Puzzle z(60, 40, 3, 2, 1);
    Cell& p = z.e.m_pPieces[0];
    p.colorOverlay[CTessolo::FX_REQUESTED].on = 1;
    const auto overlayOnly = z.Render(0);
    p.gaussianBlur[CTessolo::FX_REQUESTED] = {1, 6};
    p.motionBlur[CTessolo::FX_REQUESTED] = {1, 30, 5};
    EXPECT_EQ(z.Render(0), overlayOnly);
    EXPECT_EQ(p.gaussianBlur[CTessolo::FX_APPLIED].radius, 6);
    p.colorOverlay[CTessolo::FX_REQUESTED].opacity = 200;
    const auto translucent = z.Render(0);
    p.gaussianBlur[CTessolo::FX_REQUESTED].on = 0;
    p.motionBlur[CTessolo::FX_REQUESTED].on = 0;
    EXPECT_NE(z.Render(0), translucent);
}

TEST(EngineRender, HueSaturationOnlyOnRGB)
{
    Puzzle grey(40, 30, 1, 1, 1, true, 0);
    const auto plain = grey.Render(0);
    grey.e.m_pPieces[0].hsl[CTessolo::FX_REQUESTED] = {1, 0, 90, 50, 20};
    EXPECT_EQ(grey.Render(0), plain);
    EXPECT_EQ(grey.e.m_pPieces[0].hsl[CTessolo::FX_APPLIED].hue, 90);

    Puzzle rgb(40, 30, 3, 1, 1);
    const auto before = rgb.Render(0);
    rgb.e.m_pPieces[0].hsl[CTessolo::FX_REQUESTED] = {1, 0, 90, 50, 20};
    EXPECT_NE(rgb.Render(0), before);
}

TEST(EngineRender, ColourBytesFollowTheImageMode)
{
    auto overlay = [](uint8_t channels, uint8_t mode) {
        Puzzle z(20, 10, channels, 1, 1, true, mode);
        Cell& p = z.e.m_pPieces[0];
        p.colorOverlay[CTessolo::FX_REQUESTED].on = 1;
        p.colorOverlay[CTessolo::FX_REQUESTED].color = {11, 21, 22, 23, 31, 32, 33, 34};
        const auto planes = z.Render(0);
        std::vector<uint8_t> firsts;
        for (uint8_t c = 0; c < channels; ++c)
            firsts.push_back(planes[c][0]);
        return firsts;
    };
    EXPECT_EQ(overlay(1, 0), (std::vector<uint8_t>{11}));
    EXPECT_EQ(overlay(3, 0), (std::vector<uint8_t>{11, 11, 11}));
    EXPECT_EQ(overlay(3, 1), (std::vector<uint8_t>{21, 22, 23}));
    EXPECT_EQ(overlay(4, 2), (std::vector<uint8_t>{31, 32, 33, 34}));
}

TEST(EngineRender, ImageOverlayChoosesTheLayer)
{
    Puzzle z(60, 40, 3, 2, 1);
    FakeLayers host;
    host.origin = qntPOS{100, 200};
    const Cell& p0 = z.e.m_pPieces[0];
    const qntRECT_s doc{p0.left + 100, p0.top + 200, p0.right + 100, p0.bottom + 200};
    auto grow = [](qntRECT_s r, int32_t d) { return qntRECT_s{r.left - d, r.top - d, r.right + d, r.bottom + d}; };
    host.table = {{5, grow(doc, 1)}, {6, grow(doc, 9)}, {7, grow(doc, 1)}, {8, {0, 0, 1, 1}}, {9, qnNullRect},
                  {-1, grow(doc, 50)}};
    host.values = {50, 60, 70, 80, 90, 10};
    z.e.m_pHost = &host;
    z.e.m_bLayerAccess = 1;
    Cell& p = z.e.m_pPieces[0];
    p.imageOverlay[CTessolo::FX_REQUESTED] = {1, 255, 0, 0, -1};
    auto first = [&]() { return z.Render(0)[0][size_t(p.Height() / 2) * p.Width() + p.Width() / 2]; };

    // Automatic: the smallest layer that holds the piece, the later of two
    // equal ones.
    EXPECT_EQ(first(), 70);
    EXPECT_EQ(host.lastRead, 7);
    EXPECT_EQ(host.lastBox, doc);
    EXPECT_EQ(p.imageOverlay[CTessolo::FX_APPLIED].on, 1);
    // None holds it: the composite.
    host.table = {{8, {0, 0, 1, 1}}, {-1, grow(doc, 50)}};
    host.values = {80, 10};
    EXPECT_EQ(first(), 10);
    EXPECT_EQ(host.lastRead, -1);

    // A chosen layer must exist and hold the piece; otherwise the overlay
    // stays clear and the piece unchanged.
    host.table = {{5, grow(doc, 1)}, {8, {0, 0, 1, 1}}};
    host.values = {50, 80};
    p.imageOverlay[CTessolo::FX_REQUESTED] = {1, 255, 1, 0, 5};
    EXPECT_EQ(first(), 50);
    p.imageOverlay[CTessolo::FX_REQUESTED].layerId = 8;
    NoEffects(z.e);
    const auto plain = [&] {
        CTessolo::SFX_IMAGEOVERLAY keep = p.imageOverlay[CTessolo::FX_REQUESTED];
        p.imageOverlay[CTessolo::FX_REQUESTED].on = 0;
        auto r = z.Render(0);
        p.imageOverlay[CTessolo::FX_REQUESTED] = keep;
        return r;
    }();
    EXPECT_EQ(z.Render(0), plain);
    p.imageOverlay[CTessolo::FX_REQUESTED].layerId = 42;
    EXPECT_EQ(z.Render(0), plain);
    p.imageOverlay[CTessolo::FX_REQUESTED].layerId = 5;
    host.failRead = true;
    EXPECT_EQ(z.Render(0), plain);
}

TEST(EngineRender, OpacityAndScreenAlpha)
{
    Puzzle z(60, 40, 3, 2, 1);
    for (uint32_t i = 0; i < z.e.m_nPieces; ++i)
        z.Render(i);
    const Cell& p = z.e.m_pPieces[0];
    const size_t inside = size_t(p.top + p.Height() / 2) * z.w + (p.left + 3);

    z.e.m_pPieces[0].opacity[CTessolo::FX_APPLIED] = {1, 0};
    auto out = z.Composite();
    EXPECT_EQ(out[3][inside], 0);
    EXPECT_EQ(out[0][inside], 9);  // colours outside every piece stay

    z.e.m_pPieces[0].opacity[CTessolo::FX_APPLIED] = {0, 0};
    out = z.Composite();
    EXPECT_EQ(out[3][inside], 255);

    z.e.m_pPieces[0].opacity[CTessolo::FX_APPLIED] = {1, 128};
    out = z.Composite();
    EXPECT_EQ(out[3][inside], (255 * 128) >> 8);
    EXPECT_EQ(out[0][inside], z.img.planes[0][inside]);

    // Hidden pieces are left out.
    z.e.m_pPieces[0].opacity[CTessolo::FX_APPLIED] = {0, 0};
    z.e.m_pPieces[0].shown = 0;
    out = z.Composite();
    EXPECT_EQ(out[3][inside], 0);
}

TEST(EngineRender, OverlapAlphaFormulas)
{
    // Two pieces overlapping at their soft edge.
    Puzzle z(60, 20, 1, 2, 1);
    for (uint32_t i = 0; i < z.e.m_nPieces; ++i)
        z.Render(i);
    const Cell& a = z.e.m_pPieces[0];
    const Cell& b = z.e.m_pPieces[1];
    const auto opaque = z.Composite();
    int overlaps = 0;
    for (int32_t y = 0; y < z.h; ++y)
        for (int32_t x = std::max(a.left, b.left); x < std::min(a.right, b.right); ++x) {
            const int ma = a.mask->GetPtr()[size_t(y - a.top) * a.Width() + x - a.left];
            const int mb = b.mask->GetPtr()[size_t(y - b.top) * b.Width() + x - b.left];
            if (!ma || !mb)
                continue;
            ++overlaps;
            EXPECT_EQ(opaque[1][size_t(y) * z.w + x], 255);
        }
    EXPECT_GT(overlaps, 0);
}

TEST(EngineRender, RectangleAndSelection)
{
    Puzzle z(50, 30, 3, 2, 2);
    for (uint32_t i = 0; i < z.e.m_nPieces; ++i)
        z.Render(i);
    // Outside the image: nothing happens, true.
    auto out = z.Composite(nullptr, qntRECT_s{60, 0, 80, 10});
    EXPECT_EQ(out[3], std::vector<uint8_t>(50 * 30, 9));
    // A part: only inside it.
    out = z.Composite(nullptr, qntRECT_s{10, 5, 20, 15});
    for (int32_t y = 0; y < 30; ++y)
        for (int32_t x = 0; x < 50; ++x) {
            const bool in = x >= 10 && x < 20 && y >= 5 && y < 15;
            ASSERT_EQ(out[3][size_t(y) * 50 + x], in ? 255 : 9);
        }
    // A selection of zeros: alpha 0 in the whole rectangle.
    std::vector<uint8_t> zero(50 * 30, 0);
    out = z.Composite(zero.data());
    EXPECT_EQ(out[3], zero);
    // The wrong number of destination planes is refused.
    std::vector<uint8_t> one(50 * 30);
    uint8_t* ptrs[2] = {one.data(), one.data()};
    EXPECT_FALSE(z.e.CombineSplitedCells(50, 30, ptrs, 50, 2, nullptr, 0, qnNullRect, nullptr, 0, 100));

    // A picture thinner than the knives of its grid is cut into no piece:
    // the composite of nothing covers nothing, whatever the destination
    // held (the host blends the picture by this alpha), in the whole
    // rectangle and nowhere else.
    for (const auto& [w, h, cols, rows] : {std::array<int32_t, 4>{1, 1, 4, 3}, std::array<int32_t, 4>{50, 1, 20, 15}}) {
        Puzzle thin(w, h, 3, uint16_t(cols), uint16_t(rows));
        ASSERT_EQ(thin.e.m_nPieces, 0u) << w << "x" << h;
        EXPECT_EQ(thin.Composite()[3], std::vector<uint8_t>(size_t(w) * h, 0)) << w << "x" << h;
        if (w > 1) {
            const auto part = thin.Composite(nullptr, qntRECT_s{10, 0, 20, 1});
            for (int32_t x = 0; x < w; ++x)
                ASSERT_EQ(part[3][size_t(x)], x >= 10 && x < 20 ? 0 : 9) << x;
        }
    }
}

TEST(EngineRender, MemoryMessagesGoToTheServices)
{
    CTessolo e;
    FakeLayers host;
    e.m_pHost = &host;
    std::string longText(600, 'x');
    e.PlatformMessageBox(longText.c_str(), "Error!");
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].size(), std::string("Error!: ").size() + 250);
}

namespace {

// The composite written pixel by pixel, as plainly as it reads: the judge
// of the row code's branch-free arithmetic.
void CompositeByPixel(const CTessolo& e, std::vector<std::vector<uint8_t>>& dst, int32_t w)
{
    const uint8_t colours = uint8_t(e.m_nWorkPlaneCount - 1);
    for (uint32_t i = 0; i < e.m_nPieces; ++i) {
        const Cell& p = e.m_pPieces[i];
        const CTessolo::SFX_OPACITY op = p.opacity[CTessolo::FX_APPLIED];
        if (!p.shown || (op.on && op.opacity == 0))
            continue;
        for (int32_t y = p.top; y < p.bottom; ++y)
            for (int32_t x = p.left; x < p.right; ++x) {
                const size_t s = size_t(y - p.top) * p.planeStrides[0] + (x - p.left);
                const size_t o = size_t(y) * w + x;
                const int a = p.planePtrs[colours][s];
                if (a == 0)
                    continue;
                const int d = dst[colours][o];
                for (uint8_t k = 0; k < colours; ++k) {
                    const int src = p.planePtrs[k][s];
                    const int old = dst[k][o];
                    dst[k][o] = uint8_t(d == 0 ? src : old + int(std::floor(a * (src - old) / 256.0)));
                }
                int out;
                if (op.on && op.opacity < 255) {
                    const int a2 = a * op.opacity / 256;
                    out = d == 0 ? a2 : 255 - (255 - d) * (255 - a2) / 256;
                } else {
                    out = d == 0 ? a : 255;
                }
                dst[colours][o] = uint8_t(out);
            }
    }
}

}  // namespace

TEST(EngineRender, CompositeMatchesThePixelByPixelFormulas)
{
    // Random piece bytes with many 0 and 255 alphas over overlapping boxes,
    // every opacity state, colours already in the destination, or the
    // picture's colours to start from.
    struct Case {
        uint8_t channels;
        bool start;
    };
    const qnfx::LaneIsa widest = qnfx::CurrentLaneIsa();
    std::mt19937 rng(5);
    for (Case c : {Case{3, false}, Case{3, true}, Case{1, true}, Case{1, false}, Case{4, false}, Case{4, true}}) {
        Puzzle z(97, 61, c.channels, 4, 3, true, c.channels == 4 ? 2 : 1);
        for (uint32_t i = 0; i < z.e.m_nPieces; ++i) {
            Cell& p = z.e.m_pPieces[i];
            for (uint8_t k = 0; k < z.e.m_nWorkPlaneCount; ++k)
                for (size_t j = 0; j < size_t(p.Width()) * p.Height(); ++j) {
                    const uint32_t v = rng();
                    p.planePtrs[k][j] = uint8_t(v % 4 == 0 ? 0 : v % 4 == 1 ? 255 : v >> 8);
                }
            const uint32_t pick = rng() % 4;
            p.opacity[CTessolo::FX_APPLIED] = {uint8_t(pick != 0), uint8_t(pick == 1 ? 255 : pick == 2 ? 0 : rng())};
        }
        std::vector<std::vector<uint8_t>> before(z.e.m_nWorkPlaneCount, std::vector<uint8_t>(size_t(z.w) * z.h));
        for (auto& plane : before)
            for (auto& v : plane)
                v = uint8_t(rng());
        // The engine clears the destination's alpha inside the rectangle
        // first, and puts the colours to start from in.
        std::vector<std::vector<uint8_t>> start(before.size() - 1, std::vector<uint8_t>(before[0].size()));
        for (auto& plane : start)
            for (auto& v : plane)
                v = uint8_t(rng());
        std::vector<const uint8_t*> startPtrs;
        for (auto& plane : start)
            startPtrs.push_back(plane.data());
        auto expected = before;
        std::fill(expected.back().begin(), expected.back().end(), 0);
        if (c.start)
            std::copy(start.begin(), start.end(), expected.begin());
        CompositeByPixel(z.e, expected, z.w);
        // The same bytes from the plain rows and from every wider set the
        // processor has.
        for (qnfx::LaneIsa isa : {qnfx::LaneIsa::Base, qnfx::LaneIsa::Avx2, qnfx::LaneIsa::Avx512}) {
            if (!qnfx::ForceLaneIsa(isa))
                continue;
            auto got = before;
            std::vector<uint8_t*> ptrs;
            for (auto& plane : got)
                ptrs.push_back(plane.data());
            ASSERT_TRUE(z.e.CombineSplitedCells(z.w, z.h, ptrs.data(), uint32_t(z.w), z.e.m_nWorkPlaneCount, nullptr,
                                                0, qnNullRect, c.start ? startPtrs.data() : nullptr, 0, 100));
            for (size_t k = 0; k < got.size(); ++k)
                EXPECT_EQ(got[k], expected[k]) << "plane " << k << ", " << int(c.channels) << " channels, start "
                                               << c.start << ", set " << int(isa);
        }
        qnfx::ForceLaneIsa(widest);
    }
}
