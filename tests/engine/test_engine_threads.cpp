// Pieces rendered and composited on several threads give the bytes of one
// thread, whatever the count: every effect, several image modes, pieces
// listed out of order and twice, and image overlays (which read the host's
// layers on the calling thread).
#include "engine/Tessolo.h"
#include "engine_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace engine_test;

namespace {

// One layer of one value, for image overlays.
class OneLayer : public CTessoloServices {
public:
    void PlatformMessageBox(const char*, const char*) override {}
    bool HasDocumentLayers() override { return true; }
    qntPOS GetFilterOrigin() override { return {0, 0}; }
    bool FillRealLayerBounds(const qntRECT_s&, const LAYERBOUNDS*& t, uint32_t& count) override
    {
        t = &m_bounds;
        count = 1;
        return true;
    }
    bool GetLayerPixels(int32_t, uint8_t** planes, int32_t width, int32_t height, uint8_t planeCount,
                        const qntRECT_s&) override
    {
        for (uint8_t k = 0; k < planeCount; ++k)
            std::memset(planes[k], k + 1 == planeCount ? 200 : 40 * (k + 1), size_t(width) * height);
        return true;
    }

private:
    LAYERBOUNDS m_bounds{3, {-100000, -100000, 100000, 100000}};
};

// Sets TESSOLO_THREADS for the scope.
struct Threads {
    explicit Threads(int n) { setenv("TESSOLO_THREADS", std::to_string(n).c_str(), 1); }
    ~Threads() { unsetenv("TESSOLO_THREADS"); }
};

// Random effects on every piece, the same for a seed.
void RandomEffects(CTessolo& e, uint32_t seed)
{
    std::mt19937 rng(seed);
    for (uint32_t i = 0; i < e.m_nPieces; ++i) {
        CTessolo::SPLITEDCELL& p = e.m_pPieces[i];
        const int R = CTessolo::FX_REQUESTED;
        p.invert[R] = rng() % 5 == 0;
        p.bevel[R].on = rng() % 3 != 0;
        p.bevel[R].size = uint8_t(1 + rng() % 12);
        p.bevel[R].soften = uint8_t(rng() % 3);
        p.gaussianBlur[R].on = rng() % 3 == 0;
        p.gaussianBlur[R].radius = uint8_t(1 + rng() % 4);
        p.motionBlur[R].on = rng() % 4 == 0;
        p.motionBlur[R].angle = int8_t(int(rng() % 180) - 90);
        p.motionBlur[R].distance = uint8_t(1 + rng() % 6);
        p.stroke[R].on = rng() % 3 == 0;
        p.stroke[R].size = uint8_t(1 + rng() % 4);
        p.stroke[R].opacity = uint8_t(rng());
        p.hsl[R].on = rng() % 4 == 0;
        p.hsl[R].hue = int16_t(rng() % 90);
        p.brightnessContrast[R].on = rng() % 4 == 0;
        p.brightnessContrast[R].brightness = int8_t(int(rng() % 100) - 50);
        p.colorOverlay[R].on = rng() % 6 == 0;
        p.colorOverlay[R].opacity = uint8_t(rng());
        p.imageOverlay[R].on = rng() % 6 == 0;
        p.imageOverlay[R].opacity = uint8_t(rng());
        p.opacity[R].on = rng() % 5 == 0;
        p.opacity[R].opacity = uint8_t(rng());
        p.shown = rng() % 9 != 0;
    }
}

struct Result {
    std::vector<std::vector<uint8_t>> pieces;
    std::vector<std::vector<uint8_t>> composite;
};

// slotBytes 0: pieces one at a time, each on every thread.
Result RenderAll(int threads, uint8_t channels, uint8_t mode, bool oneByOne, uint64_t slotBytes = 32ull << 20,
                 uint32_t readInPlaceWidth = UINT32_MAX)
{
    Threads scope(threads);
    const int32_t w = 173, h = 131;
    TestImage img(w, h, channels, 9);
    OneLayer host;
    CTessolo e;
    e.m_nColorMode = mode;
    e.m_pHost = &host;
    e.m_bLayerAccess = 1;
    e.m_nRenderSlotBytes = slotBytes;
    e.m_nReadInPlaceWidth = readInPlaceWidth;
    Load(e, 6, 5, true, true);
    EXPECT_TRUE(e.SplitCells(w, h, nullptr, 0, img.Planes(), uint32_t(w), channels, 0, 100, 0));
    RandomEffects(e, 77);
    // Out of order, every piece, some twice.
    std::vector<uint32_t> order;
    for (uint32_t i = 0; i < e.m_nPieces; ++i)
        order.push_back((i * 7) % e.m_nPieces);
    order.push_back(0);
    order.push_back(e.m_nPieces / 2);
    if (oneByOne) {
        for (uint32_t i : order)
            EXPECT_TRUE(e.RenderPiece(i));
    } else {
        EXPECT_TRUE(e.RenderPieces(order.data(), uint32_t(order.size())));
    }
    Result r;
    for (uint32_t i = 0; i < e.m_nPieces; ++i) {
        const CTessolo::SPLITEDCELL& p = e.m_pPieces[i];
        for (uint8_t k = 0; k < e.m_nWorkPlaneCount; ++k)
            r.pieces.emplace_back(p.planePtrs[k], p.planePtrs[k] + size_t(p.Width()) * p.Height());
    }
    r.composite.assign(e.m_nWorkPlaneCount, std::vector<uint8_t>(size_t(w) * h, 7));
    std::vector<uint8_t*> ptrs;
    for (auto& plane : r.composite)
        ptrs.push_back(plane.data());
    EXPECT_TRUE(e.CombineSplitedCells(w, h, ptrs.data(), uint32_t(w), e.m_nWorkPlaneCount, nullptr, 0, qnNullRect,
                                      nullptr, 0, 100));
    // Again inside a rectangle and through a selection, over the first.
    std::vector<uint8_t> selection(size_t(w) * h);
    for (size_t i = 0; i < selection.size(); ++i)
        selection[i] = uint8_t(i * 29 % 256);
    EXPECT_TRUE(e.CombineSplitedCells(w, h, ptrs.data(), uint32_t(w), e.m_nWorkPlaneCount, selection.data(),
                                      uint32_t(w), qntRECT_s{17, 9, w - 23, h - 4}, nullptr, 0, 100));
    return r;
}

}  // namespace

TEST(EngineThreads, PiecesAndCompositeAreTheSameBytesWhateverTheThreadCount)
{
    struct Mode {
        uint8_t channels, mode;
    };
    for (Mode m : {Mode{3, 1}, Mode{1, 0}, Mode{4, 2}}) {
        // One piece at a time, every bevel from a copy in the work planes;
        // side by side, and with bevels that come first reading the split
        // image in place.
        const Result one = RenderAll(1, m.channels, m.mode, true);
        for (int threads : {1, 2, 3, 8})
            for (uint64_t slotBytes : {uint64_t(32) << 20, uint64_t(0)})
                for (uint32_t inPlace : {UINT32_MAX, 0u}) {
                    const Result many = RenderAll(threads, m.channels, m.mode, false, slotBytes, inPlace);
                    EXPECT_EQ(many.pieces, one.pieces) << int(m.channels) << " channels, " << threads
                                                       << " threads, slots " << slotBytes << ", in place " << inPlace;
                    EXPECT_EQ(many.composite, one.composite) << int(m.channels) << " channels, " << threads
                                                             << " threads, slots " << slotBytes << ", in place "
                                                             << inPlace;
                }
    }
}

TEST(EngineThreads, OutOfRangeIndicesAreRefusedAndTheRestRendered)
{
    Threads scope(4);
    const int32_t w = 60, h = 40;
    TestImage img(w, h, 3);
    CTessolo e;
    Load(e, 3, 2, true, true);
    ASSERT_TRUE(e.SplitCells(w, h, nullptr, 0, img.Planes(), uint32_t(w), 3, 0, 100, 0));
    ASSERT_EQ(e.m_nPieces, 6u);
    NoEffects(e);
    for (uint32_t i = 0; i < e.m_nPieces; ++i)
        std::memset(e.m_pPieces[i].planePtrs[0], 1, 1);
    const uint32_t list[] = {5, 99, 0};
    EXPECT_FALSE(e.RenderPieces(list, 3));
    EXPECT_EQ(e.m_pPieces[5].planePtrs[0][0], e.m_pPieces[5].sources[0][0]);
    EXPECT_EQ(e.m_pPieces[0].planePtrs[0][0], e.m_pPieces[0].sources[0][0]);
    EXPECT_TRUE(e.RenderPieces(nullptr, 0));
}

namespace {

struct SplitResult {
    std::vector<qntRECT_s> boxes;
    std::vector<std::vector<int64_t>> facts;  // pixels, column, row, source offset
    std::vector<std::vector<uint8_t>> masks;
};

SplitResult SplitWith(int threads, uint64_t batchBytes, uint64_t runLimit, uint32_t bands, const CutMap& map,
                      int32_t w, int32_t h, const uint8_t* selection)
{
    Threads scope(threads);
    TestImage img(w, h, 3, 4);
    CTessolo e;
    Load(e, map);
    e.m_nRegionBatchBytes = batchBytes;
    e.m_nLabelledRunLimit = runLimit;
    e.m_nCoverageBands = bands;
    EXPECT_TRUE(e.SplitCells(w, h, const_cast<uint8_t*>(selection), uint32_t(w), img.Planes(), uint32_t(w), 3, 0,
                             100, 0));
    SplitResult r;
    for (uint32_t i = 0; i < e.m_nPieces; ++i) {
        const CTessolo::SPLITEDCELL& p = e.m_pPieces[i];
        r.boxes.push_back(qntRECT_s{p.left, p.top, p.right, p.bottom});
        r.facts.push_back({int64_t(p.pixels), p.column, p.row, p.sources[0] - img.Planes()[0],
                           p.selection ? p.selection - selection : -1});
        r.masks.emplace_back(p.mask->GetPtr(), p.mask->GetPtr() + size_t(p.Width()) * p.Height());
    }
    return r;
}

}  // namespace

TEST(EngineThreads, SmoothCutPiecesAreTheSameWhateverTheThreadsAndBatches)
{
    // Random layouts with free knives; batches from one region each to all
    // at once; regions made in bands of one output row and more; too many
    // runs to label (one region after the other); with and without a
    // selection.
    struct Case {
        int threads;
        uint64_t batchBytes;
        uint64_t runLimit;
        uint32_t bands;
    };
    constexpr uint64_t kBatch = 16ull << 20, kRuns = 2000000;
    std::mt19937 rng(31);
    for (int round = 0; round < 4; ++round) {
        CutMap m = RandomMap(rng, uint16_t(2 + rng() % 5), uint16_t(2 + rng() % 4), int(rng() % 3));
        m.razor = true;
        m.antiAlias = true;
        const int32_t w = int32_t(60 + rng() % 90), h = int32_t(40 + rng() % 70);
        std::vector<uint8_t> sel(size_t(w) * h);
        for (size_t i = 0; i < sel.size(); ++i)
            sel[i] = uint8_t(i % 7 == 0 ? 0 : (i * 37) % 256);
        for (const uint8_t* selection : {static_cast<const uint8_t*>(nullptr), static_cast<const uint8_t*>(sel.data())}) {
            const SplitResult one = SplitWith(1, kBatch, kRuns, 0, m, w, h, selection);
            ASSERT_GT(one.boxes.size(), 1u);
            for (Case c : {Case{2, 1, kRuns, 0}, Case{3, 4096, kRuns, 1000}, Case{8, kBatch, kRuns, 0},
                           Case{8, kBatch, kRuns, 3}, Case{4, kBatch, 10, 0}}) {
                const SplitResult many =
                    SplitWith(c.threads, c.batchBytes, c.runLimit, c.bands, m, w, h, selection);
                ASSERT_EQ(many.boxes.size(), one.boxes.size()) << c.threads << " threads, round " << round;
                for (size_t i = 0; i < one.boxes.size(); ++i) {
                    EXPECT_EQ(std::memcmp(&many.boxes[i], &one.boxes[i], sizeof(qntRECT_s)), 0) << "piece " << i;
                    EXPECT_EQ(many.facts[i], one.facts[i]) << "piece " << i;
                    EXPECT_EQ(many.masks[i], one.masks[i]) << "piece " << i;
                }
            }
        }
    }
}

namespace {

// Bits of polylines drawn once over the whole plane, or in `bands` bands of
// rows with a drawing object each, in reverse band order.
std::vector<uint8_t> DrawBits(const std::vector<std::vector<qntFPOS>>& lines, int32_t w, int32_t h, int bands)
{
    const uint32_t rowBytes = uint32_t((w + 7) / 8);
    std::vector<uint8_t> plane(size_t(rowBytes) * h, 0);
    for (int b = bands - 1; b >= 0; --b) {
        CQNF_ImageDrawing d;
        d.antiAlias = 0;
        d.bitMode = 1;
        d.SetDestination(plane.data(), rowBytes, w, h);
        if (bands > 1)
            d.SetBitRowBand(h * b / bands, h * (b + 1) / bands);
        for (auto line : lines)
            d.DrawHQPolyLine(line.data(), line.size(), 1.0, 1, 1, 1, 1.0);
    }
    return plane;
}

}  // namespace

TEST(EngineThreads, KnifeBitsDrawnInBandsOfRowsAreTheBitsOfOneDrawing)
{
    // Steep, flat, backward and one-point lines, ends on band edges and
    // outside the plane, ends far enough out to be cut to the plane, and
    // ends that are not numbers.
    const double far = 1e8, nan = std::nan("");
    struct Case {
        const char* name;
        std::vector<std::vector<qntFPOS>> lines;
    };
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> any(-20.0, 120.0);
    std::vector<std::vector<qntFPOS>> random(12);
    for (auto& line : random)
        for (int i = 0; i < 2 + int(rng() % 9); ++i)
            line.push_back({any(rng), any(rng)});
    const Case cases[] = {
        {"steep and flat", {{{3.5, 0.2}, {7.9, 99.0}}, {{0.0, 50.0}, {99.0, 52.5}}, {{80.0, 90.0}, {10.0, 3.0}}}},
        {"band edges", {{{0.0, 25.0}, {99.0, 25.0}}, {{10.0, 24.9}, {11.0, 75.0}}, {{40.0, 40.0}, {40.0, 40.0}}}},
        {"outside", {{{-30.0, -10.0}, {130.0, 140.0}}, {{50.0, -5.0}, {60.0, -1.0}}}},
        {"far out", {{{-far, 30.0}, {far, 70.0}}, {{20.0, -far}, {80.0, far}}, {{5.0, 5.0}, {far, far}}}},
        {"not numbers", {{{nan, 10.0}, {50.0, 50.0}}, {{10.0, 10.0}, {60.0, 80.0}, {nan, nan}}}},
        {"random polylines", random},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> whole = DrawBits(c.lines, 100, 100, 1);
        EXPECT_NE(std::count(whole.begin(), whole.end(), 0), ptrdiff_t(whole.size())) << c.name;
        for (int bands : {2, 3, 4, 7, 100})
            EXPECT_EQ(DrawBits(c.lines, 100, 100, bands), whole) << c.name << ", " << bands << " bands";
    }
}

TEST(EngineThreads, PieceAreasCompositeAsTheWholeImageInsideAndTouchNothingOutside)
{
    // Some pieces change their effects after a whole composite (one is
    // hidden); compositing only their areas gives the whole composite of
    // the new state, started from the picture's colours (none of the hidden
    // piece's stays), and over a blank image it writes nothing outside
    // their boxes.
    // The changed pieces are rendered before, or by the composite itself
    // (side by side, or one after the other when they would take too much
    // memory side by side), with a repeat and an index outside the table;
    // a composite cancelled at once still renders them.
    enum Render { Before, InTheCall, InTheCallOneByOne, InACancelledCall };
    const int32_t w = 157, h = 119;
    for (int threads : {1, 4}) {
        for (auto [withSelection, render] : {std::pair{false, Before}, std::pair{true, Before},
                                             std::pair{true, InTheCall}, std::pair{false, InTheCallOneByOne},
                                             std::pair{true, InACancelledCall}}) {
            Threads scope(threads);
            TestImage img(w, h, 3, 5);
            CTessolo e;
            Load(e, 7, 6, true, true);
            ASSERT_TRUE(e.SplitCells(w, h, nullptr, 0, img.Planes(), uint32_t(w), 3, 0, 100, 0));
            RandomEffects(e, 11);
            std::vector<uint32_t> all(e.m_nPieces);
            for (uint32_t i = 0; i < e.m_nPieces; ++i)
                all[i] = i;
            ASSERT_TRUE(e.RenderPieces(all.data(), e.m_nPieces));
            std::vector<uint8_t> selection(size_t(w) * h);
            for (size_t i = 0; i < selection.size(); ++i)
                selection[i] = uint8_t(i * 13 % 256);
            uint8_t* sel = withSelection ? selection.data() : nullptr;
            auto canvas = [&](uint8_t fill) {
                return std::vector<std::vector<uint8_t>>(4, std::vector<uint8_t>(size_t(w) * h, fill));
            };
            auto composite = [&](std::vector<std::vector<uint8_t>>& c, const std::vector<uint32_t>* list,
                                 const std::vector<uint32_t>* rendering = nullptr) {
                uint8_t* ptrs[4] = {c[0].data(), c[1].data(), c[2].data(), c[3].data()};
                const uint8_t* const* start = img.Planes();
                return list ? e.CombinePieceAreas(w, h, ptrs, uint32_t(w), 4, sel, uint32_t(w), list->data(),
                                                  uint32_t(list->size()), start, 0, 100,
                                                  rendering ? rendering->data() : nullptr,
                                                  rendering ? uint32_t(rendering->size()) : 0)
                            : e.CombineSplitedCells(w, h, ptrs, uint32_t(w), 4, sel, uint32_t(w), qnNullRect, start,
                                                    0, 100);
            };
            auto updated = canvas(9);
            ASSERT_TRUE(composite(updated, nullptr));
            // Pieces far apart, so that the rectangle around them holds
            // pieces that did not change; and pieces side by side and one
            // above the other, whose boxes overlap or cut each other's rows.
            const std::vector<uint32_t> changed = {1, 3, 8, e.m_nPieces / 2, e.m_nPieces - 2};
            for (uint32_t i : changed) {
                CTessolo::SPLITEDCELL& p = e.m_pPieces[i];
                p.invert[CTessolo::FX_REQUESTED] ^= 1;
                p.opacity[CTessolo::FX_REQUESTED] = {1, 140};
            }
            e.m_pPieces[changed[1]].shown = 0;
            const std::string name = std::to_string(threads) + " threads, selection " +
                                     std::to_string(withSelection) + ", render " + std::to_string(render);
            const auto before = updated;
            auto whole = canvas(9);
            if (render == Before) {
                ASSERT_TRUE(e.RenderPieces(changed.data(), uint32_t(changed.size())));
                ASSERT_TRUE(composite(whole, nullptr));
                ASSERT_TRUE(composite(updated, &changed));
            } else {
                e.m_nRenderSlotBytes = render == InTheCall ? 32ull << 20 : 0;
                std::vector<uint32_t> rendering = changed;
                rendering.insert(rendering.begin() + 2, {changed[0], e.m_nPieces});
                ProbeProgress stop;
                stop.cancelAt = 1;
                e.m_pProgress = render == InACancelledCall ? &stop : nullptr;
                EXPECT_FALSE(composite(updated, &changed, &rendering)) << name;
                e.m_pProgress = nullptr;
                if (render == InACancelledCall) {
                    EXPECT_EQ(updated, before) << name;
                    ASSERT_TRUE(composite(updated, &changed));
                }
                ASSERT_TRUE(composite(whole, nullptr));
            }
            ASSERT_NE(whole, before) << name;
            EXPECT_EQ(updated, whole) << name;

            // Over a blank image: the whole composite where a changed
            // piece's mask reaches in a row of its box (from its first
            // covered pixel to its last), nothing outside the boxes, and in
            // the boxes' clear corners either (some are left alone).
            auto blank = canvas(3), whole3 = canvas(3);
            ASSERT_TRUE(composite(whole3, nullptr));
            ASSERT_TRUE(composite(blank, &changed));
            auto reaches = [&](const std::vector<uint32_t>& list, int32_t x, int32_t y, bool& inBox) {
                bool hit = false;
                inBox = false;
                for (uint32_t i : list) {
                    if (i >= e.m_nPieces)
                        continue;
                    const CTessolo::SPLITEDCELL& p = e.m_pPieces[i];
                    if (x < p.left || x >= p.right || y < p.top || y >= p.bottom)
                        continue;
                    inBox = true;
                    const uint8_t* row = p.sources[3] + size_t(y - p.top) * p.sourceStrides[3];
                    hit = hit || (std::any_of(row, row + (x - p.left) + 1, [](uint8_t a) { return a; }) &&
                                  std::any_of(row + (x - p.left), row + p.Width(), [](uint8_t a) { return a; }));
                }
                return hit;
            };
            size_t leftAlone = 0;
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x) {
                    bool inBox = false;
                    const bool reached = reaches(changed, x, y, inBox);
                    const size_t at = size_t(y) * w + x;
                    leftAlone += inBox && !reached && blank[3][at] == 3 && whole3[3][at] != 3;
                    for (int k = 0; k < 4; ++k) {
                        if (reached || !inBox)
                            ASSERT_EQ(blank[k][at], reached ? whole3[k][at] : 3) << x << "," << y << " plane " << k;
                        else
                            ASSERT_TRUE(blank[k][at] == 3 || blank[k][at] == whole3[k][at]) << x << "," << y;
                    }
                }
            EXPECT_GT(leftAlone, 0u) << name;
            // An index outside the table is refused; the others are done.
            const std::vector<uint32_t> bad = {changed[0], e.m_nPieces};
            auto some = canvas(3);
            EXPECT_FALSE(composite(some, &bad));
            const CTessolo::SPLITEDCELL& first = e.m_pPieces[changed[0]];
            for (int32_t y = first.top; y < first.bottom; ++y)
                for (int32_t x = first.left; x < first.right; ++x) {
                    bool inBox = false;
                    if (!reaches(bad, x, y, inBox))
                        continue;
                    for (int k = 0; k < 4; ++k)
                        ASSERT_EQ(some[k][size_t(y) * w + x], whole3[k][size_t(y) * w + x]);
                }
        }
    }
}

namespace {

// A knife of 64 nodes zigzagging `across` of its length to either side: most
// of its line runs outside the picture, back and forth.
Knife Zigzag(float across, uint8_t width)
{
    Knife k;
    for (int i = 0; i < 64; ++i) {
        k.U.push_back(float(i) / 63.0f);
        k.H.push_back(i % 2 ? -across : across);
        k.S.push_back(0.0f);
    }
    k.thickness = width;
    return k;
}

// Random layouts with zigzag free knives of several widths beside ordinary
// ones, in every mode of the lines and the cut.
std::vector<CutMap> KnifeMaps()
{
    std::mt19937 rng(77);
    std::vector<CutMap> maps;
    for (int round = 0; round < 4; ++round) {
        CutMap m = RandomMap(rng, uint16_t(2 + rng() % 4), uint16_t(2 + rng() % 3), 3);
        for (int i = 0; i < 6; ++i) {
            ExtraKnife x;
            x.knife = Zigzag(round % 2 ? 0.9f : 0.3f, uint8_t(1 + (i * 3 + round) % 9));
            x.knotA = uint32_t(rng() % m.knots.size());
            x.knotB = uint32_t(rng() % m.knots.size());
            m.extra.push_back(x);
        }
        m.razor = round / 2;
        m.antiAlias = round != 3;
        maps.push_back(m);
    }
    return maps;
}

}  // namespace

// The knives of a layout drawn on several threads (each knife by one thread,
// bytes raised atomically; wide lines of the smooth cut once into the whole
// raster) give the bytes of one thread drawing them in order: the lines
// plane, and the pieces cut along them.
TEST(EngineThreads, KnivesDrawnOnThreadsAreTheBytesOfOneThread)
{
    const int32_t w = 150, h = 110;
    for (const CutMap& m : KnifeMaps()) {
        auto lines = [&](int threads) {
            Threads scope(threads);
            CTessolo e;
            Load(e, m);
            std::vector<uint8_t> plane(size_t(w) * h, 7);
            EXPECT_TRUE(e.DrawSplitting(w, h, plane.data(), uint32_t(w), 0, 100));
            return plane;
        };
        const std::vector<uint8_t> one = lines(1);
        ASSERT_GT(std::count_if(one.begin(), one.end(), [](uint8_t v) { return v != 0; }), w * 2);
        for (int threads : {2, 3, 8})
            EXPECT_EQ(lines(threads), one) << threads << " threads, cut " << int(m.razor) << " smooth "
                                           << int(m.antiAlias);

        const SplitResult pieces = SplitWith(1, 16ull << 20, 2000000, 0, m, w, h, nullptr);
        ASSERT_GT(pieces.boxes.size(), 1u);
        for (int threads : {2, 5}) {
            const SplitResult many = SplitWith(threads, 16ull << 20, 2000000, 0, m, w, h, nullptr);
            ASSERT_EQ(many.boxes.size(), pieces.boxes.size()) << threads;
            for (size_t i = 0; i < pieces.boxes.size(); ++i)
                EXPECT_EQ(many.masks[i], pieces.masks[i]) << threads << " threads, piece " << i;
        }
    }
}

// A cancel that comes while the knives are drawn is taken within a few
// knives, on one thread and on several, however many knives stand between
// two reports of progress.
TEST(EngineThreads, ACancelWhileKnivesAreDrawnStopsWithinAFewKnives)
{
    // 2000 short free knives, each along the top of a cell of its own, after
    // the grid's own knives, which are off.
    const uint16_t cells = 100;
    CutMap m = EvenMap(cells, cells);
    for (auto& k : m.columnKnives)
        k.flags |= 4;
    for (auto& k : m.rowKnives)
        k.flags |= 4;
    const uint32_t knives = 2000, knotsPerRow = cells + 1u;
    for (uint32_t i = 0; i < knives; ++i) {
        ExtraKnife x;
        x.knife.thickness = 1;
        x.knotA = (i / cells + 1) * knotsPerRow + i % cells;
        x.knotB = x.knotA + 1;
        m.extra.push_back(x);
    }
    m.razor = 0;
    const int32_t side = 1000;
    std::vector<uint8_t> plane(size_t(side) * side);
    auto drawn = [&]() {
        uint32_t n = 0;
        for (uint32_t i = 0; i < knives; ++i) {
            const int32_t x = int32_t((i % cells) * side / cells + side / cells / 2);
            const int32_t y = int32_t((i / cells + 1) * side / cells);
            n += plane[size_t(y) * side + x] != 0 || plane[size_t(y - 1) * side + x] != 0;
        }
        return n;
    };
    // Cancels as soon as a knife shows in the plane (asked on the calling
    // thread, between knives).
    class CancelOnFirstKnife : public CQNF_Progress {
    public:
        explicit CancelOnFirstKnife(std::function<uint32_t()> count) : m_count(std::move(count)) {}
        void Progress(uint8_t, void*) override {}
        bool IsCanceled() override { return m_count() > 0; }

    private:
        std::function<uint32_t()> m_count;
    };
    for (int threads : {1, 4}) {
        Threads scope(threads);
        CTessolo e;
        Load(e, m);
        std::fill(plane.begin(), plane.end(), 0);
        CancelOnFirstKnife progress(drawn);
        e.m_pProgress = &progress;
        EXPECT_FALSE(e.DrawSplitting(side, side, plane.data(), uint32_t(side), 0, 100));
        EXPECT_GE(drawn(), 1u) << threads;
        EXPECT_LE(drawn(), uint32_t(2 * threads)) << threads << " threads";
        // Without a cancel every knife is there.
        e.m_pProgress = nullptr;
        ASSERT_TRUE(e.DrawSplitting(side, side, plane.data(), uint32_t(side), 0, 100));
        EXPECT_EQ(drawn(), knives) << threads;
    }
}
