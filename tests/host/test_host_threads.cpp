// The replay road renders pieces in groups on every core: the picture the
// host gets back is the same bytes whatever the thread count, with pieces
// that read another layer of the document among the others.
#include "host_test_support.h"

#include "app/LayoutPlan.h"
#include "core/SafeFile.h"

#include <algorithm>
#include <cstdlib>
#include <string>

using namespace hosttest;
using layoutplan::LayoutPlan;

namespace {

// TESSOLO_THREADS for the life of the object.
struct Threads {
    explicit Threads(int n) { setenv("TESSOLO_THREADS", std::to_string(n).c_str(), 1); }
    ~Threads() { unsetenv("TESSOLO_THREADS"); }
    Threads(const Threads&) = delete;
    Threads& operator=(const Threads&) = delete;
};

// A 6 x 5 puzzle of curved pieces with the default bevel; every fourth
// piece blurred, every seventh overlaid with the document's second layer.
std::vector<uint8_t> MixedPuzzle()
{
    CTessolo engine;
    LayoutPlan plan;
    plan.columns = 6;
    plan.rows = 5;
    int n = 0;
    for (uint8_t r = 1; r <= plan.rows; ++r)
        for (uint8_t c = 1; c <= plan.columns; ++c, ++n) {
            CTessolo::SFX_ONEPIECE rec = engine.DefaultOnePiece();
            rec.row = r;
            rec.column = c;
            if (n % 4 == 0) {
                rec.gaussianBlur.on = 1;
                rec.gaussianBlur.radius = 3;
            }
            if (n % 7 == 0) {
                rec.imageOverlay.on = 1;
                rec.imageOverlay.opacity = 160;
                rec.imageOverlay.layerChoice = 1;
                rec.imageOverlay.layerId = 2;
            }
            std::array<uint8_t, 92> bytes{};
            rec.StoreLE(bytes.data());
            plan.records.push_back(bytes);
        }
    return layoutplan::BuildLayoutBlock(plan);
}

struct Replayed {
    RasterImage picture;
    std::vector<int32_t> progress;
};

Replayed Replay(int threads, bool transparent)
{
    Threads t(threads);
    PluginHarness h;
    const std::vector<uint8_t> block = MixedPuzzle();
    EXPECT_EQ(qnReplaceFile(h.File("last.data"), block.data(), block.size()), 0);
    HostDocument doc = Document(ColorMode::RGB, 150, 110, transparent);
    RasterImage stripes;
    stripes.Allocate(ColorMode::RGB, 150, 110, true, 0);
    for (size_t i = 0; i < stripes.planes[0].size(); ++i) {
        stripes.planes[0][i] = static_cast<uint8_t>(i % 150 * 7);
        stripes.planes[2][i] = static_cast<uint8_t>(i / 150 * 5);
        stripes.planes[3][i] = 255;
    }
    std::string err;
    EXPECT_TRUE(doc.AddLayer(stripes, "Stripes", err)) << err;
    doc.target = 0;
    StandInHost host(std::move(doc), HostSettings{});
    EXPECT_EQ(h.Run(host), 0);
    EXPECT_TRUE(host.Violations().empty());
    return {host.Document().Target().pixels, host.ProgressDone()};
}

TEST(HostThreads, ReplayedPiecesAreTheSameBytesOnAnyNumberOfThreads)
{
    for (bool transparent : {false, true}) {
        const Replayed one = Replay(1, transparent);
        const Replayed three = Replay(3, transparent);
        ASSERT_EQ(one.picture.planes.size(), three.picture.planes.size());
        for (size_t p = 0; p < one.picture.planes.size(); ++p)
            EXPECT_EQ(one.picture.planes[p], three.picture.planes[p]) << "plane " << p << " alpha " << transparent;
        // The pieces changed the picture, and the bar moved forward only,
        // between the groups of pieces too.
        EXPECT_NE(one.picture.planes[0], Document(ColorMode::RGB, 150, 110, transparent).Target().pixels.planes[0]);
        for (const Replayed* r : {&one, &three}) {
            EXPECT_TRUE(std::is_sorted(r->progress.begin(), r->progress.end()));
            EXPECT_GT(std::count_if(r->progress.begin(), r->progress.end(), [](int32_t v) { return v > 60 && v < 80; }),
                      0);
        }
    }
}

}  // namespace
