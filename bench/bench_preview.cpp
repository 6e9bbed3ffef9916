// The preview's redraw: a 1000 x 600 view of a 6000 x 4000 (24-megapixel)
// RGBA image at each zoom level, while panning (the offset moves every
// frame). Beside it, a plain scaled copy of the same pixels (one gather per
// colour byte, no checkerboard and no blending): the memory floor a redraw
// cannot beat.
#include "imaging/Image.h"
#include "ui/PreviewGeometry.h"
#include "ui/PreviewPaint.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

constexpr int kImgW = 6000, kImgH = 4000, kViewW = 1000, kViewH = 600;

// A photograph stand-in: smooth colour ramps, a transparent band and a soft
// edge, so every blending case runs.
const CQNF_Image& BigImage()
{
    static CQNF_Image img;
    if (!img.HasPixels()) {
        img.Create(kImgW, kImgH, qnimg::ModeRGBA);
        uint8_t* p[4] = {img.GetPlane(0), img.GetPlane(1), img.GetPlane(2), img.GetPlane(3)};
        for (int y = 0; y < kImgH; ++y) {
            for (int x = 0; x < kImgW; ++x) {
                const size_t o = size_t(y) * kImgW + x;
                p[0][o] = uint8_t(x * 255 / kImgW);
                p[1][o] = uint8_t(y * 255 / kImgH);
                p[2][o] = uint8_t((x ^ y) >> 4);
                p[3][o] = y < 300 ? 0 : y < 556 ? uint8_t(y - 300) : 255;
            }
        }
    }
    return img;
}

qnui::PreviewGeometry Geometry(int zoom)
{
    qnui::PreviewGeometry g;
    g.SetView(kViewW, kViewH);
    g.SetImageSize(kImgW, kImgH);
    g.SetZoom(zoom, -1, -1, true);
    g.SetOffset(0, 0);
    return g;
}

// Moves the view a few pixels each frame, back and forth within the limits.
void Pan(qnui::PreviewGeometry& g, int frame)
{
    const qntRECT_s lim = g.Limits();
    const int64_t spanX = std::max<int64_t>(int64_t(lim.right) - lim.left, 1);
    const int64_t spanY = std::max<int64_t>(int64_t(lim.bottom) - lim.top, 1);
    g.SetOffset(lim.left + (int64_t(frame) * 7) % spanX, lim.top + (int64_t(frame) * 5) % spanY);
}

void BM_PreviewRedraw(benchmark::State& state)
{
    const CQNF_Image& img = BigImage();
    CQNF_Image canvas;
    canvas.Create(kViewW + 40, kViewH + 40, qnimg::ModeRGBA);
    qnui::PreviewGeometry g = Geometry(int(state.range(0)));
    qnui::PreviewPaintOptions o;
    o.quality = state.range(1) != 0;
    int frame = 0;
    for (auto _ : state) {
        Pan(g, frame++);
        qnui::PaintPreview(img, canvas, {20, 20, 20 + kViewW, 20 + kViewH}, g, o);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * int64_t(kViewW) * kViewH);
    state.SetLabel(o.quality ? "refined" : "quick");
}
BENCHMARK(BM_PreviewRedraw)
    ->ArgsProduct({{0, 1, 2, 3, 4, 5, 6, 7, 8}, {0}})
    ->ArgsProduct({{0, 1, 2, 3}, {1}})
    ->Unit(benchmark::kMillisecond);

// The same view as a bare nearest-neighbour copy of red, green and blue.
void BM_PreviewScaledCopy(benchmark::State& state)
{
    const CQNF_Image& img = BigImage();
    CQNF_Image canvas;
    canvas.Create(kViewW + 40, kViewH + 40, qnimg::ModeRGBA);
    qnui::PreviewGeometry g = Geometry(int(state.range(0)));
    const int cw = canvas.GetImageWidth();
    std::vector<int32_t> col(kViewW);
    int frame = 0;
    for (auto _ : state) {
        Pan(g, frame++);
        for (int x = 0; x < kViewW; ++x) {
            const int c = g.ImageCoordsRaw({x, 0}).x;
            col[size_t(x)] = c >= 0 && c < kImgW ? c : -1;
        }
        const bool straight = g.GetZoom() == qnui::PreviewGeometry::kOneToOne && col[0] >= 0 && col[kViewW - 1] >= 0;
        for (int y = 0; y < kViewH; ++y) {
            const int sy = g.ImageCoordsRaw({0, y}).y;
            if (sy < 0 || sy >= kImgH)
                continue;
            for (unsigned p = 0; p < 3; ++p) {
                const uint8_t* s = img.GetPlane(p) + size_t(sy) * kImgW;
                uint8_t* d = canvas.GetPlane(p) + size_t(20 + y) * cw + 20;
                if (straight) {
                    std::memcpy(d, s + col[0], size_t(kViewW));
                    continue;
                }
                for (int x = 0; x < kViewW; ++x)
                    d[x] = col[size_t(x)] >= 0 ? s[col[size_t(x)]] : 0;
            }
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * int64_t(kViewW) * kViewH);
}
BENCHMARK(BM_PreviewScaledCopy)->DenseRange(0, 8)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
