#include "ui/PreviewPaint.h"

#include "imaging/Image.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace qnui {

namespace {

inline uint8_t WashOut(int c) { return uint8_t(128 + c / 2); }

// c over b with alpha a; a = 255 is the colour itself.
inline uint8_t Over(int b, int c, int a)
{
    if (a == 255)
        return uint8_t(c);
    return uint8_t(b - (((b - c) * a) >> 8));
}

struct Rows {
    // [phase][plane][column] of the view span being painted.
    std::vector<uint8_t> inner[2][3];
    std::vector<uint8_t> outer[2][3];
};

void BuildCheckerRows(Rows& rows, int x0, int x1, int32_t offX, const PreviewPaintOptions& o)
{
    const int n = x1 - x0;
    const uint8_t in[2][3] = {{o.inner1.r, o.inner1.g, o.inner1.b}, {o.inner2.r, o.inner2.g, o.inner2.b}};
    const uint8_t out[2][3] = {{o.outer1.r, o.outer1.g, o.outer1.b}, {o.outer2.r, o.outer2.g, o.outer2.b}};
    for (int phase = 0; phase < 2; ++phase)
        for (int p = 0; p < 3; ++p) {
            rows.inner[phase][p].resize(size_t(n));
            rows.outer[phase][p].resize(size_t(n));
        }
    for (int i = 0; i < n; ++i) {
        // Cells of 8 pixels counted from the scaled image's origin; the
        // cell at the origin takes colour 1.
        const int cell = int(((int64_t(x0) + i + offX) >> 3) & 1);
        for (int phase = 0; phase < 2; ++phase) {
            const int pick = cell ^ phase;
            for (int p = 0; p < 3; ++p) {
                rows.inner[phase][p][size_t(i)] = in[pick][p];
                rows.outer[phase][p][size_t(i)] = out[pick][p];
            }
        }
    }
}

// Sums of f x f blocks (f = 2^red) side by side from column first of the f
// rows below the four plane pointers: sums[plane * n + block].
template <int F>
void SumBlocksOf(const uint8_t* const planes[4], int stride, int32_t first, size_t n, uint32_t* sums)
{
    for (int p = 0; p < 4; ++p) {
        uint32_t* out = sums + size_t(p) * n;
        std::fill(out, out + n, 0u);
        for (int r = 0; r < F; ++r) {
            const uint8_t* s = planes[p] + size_t(r) * stride + first;
            for (size_t i = 0; i < n; ++i, s += F) {
                uint32_t acc = 0;
                for (int k = 0; k < F; ++k)
                    acc += s[k];
                out[i] += acc;
            }
        }
    }
}

void SumBlocks(const uint8_t* const planes[4], int stride, int red, int32_t first, size_t n, uint32_t* sums)
{
    switch (red) {
    case 1: SumBlocksOf<2>(planes, stride, first, n, sums); break;
    case 2: SumBlocksOf<4>(planes, stride, first, n, sums); break;
    case 3: SumBlocksOf<8>(planes, stride, first, n, sums); break;
    default: SumBlocksOf<16>(planes, stride, first, n, sums); break;
    }
}

}  // namespace

bool PaintPreview(const CQNF_Image& image, CQNF_Image& canvas, qntRECT_s rect, const PreviewGeometry& g,
                  const PreviewPaintOptions& o)
{
    if (image.GetImageMode() != qnimg::ModeRGBA || !image.HasPixels() || !canvas.HasPixels() ||
        qnimg::PlaneCountOfMode(canvas.GetImageMode()) < 3)
        return false;
    const int cw = canvas.GetImageWidth(), ch = canvas.GetImageHeight();
    // The view span painted, in view coordinates, clipped to the canvas.
    const int vw = std::min(rect.right - rect.left, g.ViewW()), vh = std::min(rect.bottom - rect.top, g.ViewH());
    const int x0 = std::max(0, -rect.left), x1 = std::min(vw, cw - rect.left);
    const int y0 = std::max(0, -rect.top), y1 = std::min(vh, ch - rect.top);
    if (x0 >= x1 || y0 >= y1)
        return true;

    const int z = g.GetZoom();
    const int mag = std::max(z - PreviewGeometry::kOneToOne, 0), red = std::max(PreviewGeometry::kOneToOne - z, 0);
    const int sw = g.ScaledW(), sh = g.ScaledH();
    const qntPOS off = g.GetOffset();
    const int iw = image.GetImageWidth();
    const size_t srcPlane = image.PlaneSize();
    const uint8_t* src = image.GetPlane(0);
    uint8_t* dst[3] = {canvas.GetPlane(0), canvas.GetPlane(1), canvas.GetPlane(2)};

    Rows rows;
    BuildCheckerRows(rows, x0, x1, off.x, o);
    // Image columns of the view columns inside the scaled image.
    const int ix0 = std::clamp(-off.x, x0, x1), ix1 = std::clamp(sw - off.x, ix0, x1);
    std::vector<int32_t> col(size_t(ix1 - ix0));
    for (int x = ix0; x < ix1; ++x)
        col[size_t(x - ix0)] = int32_t((int64_t(x) + off.x) >> mag) << red;
    const bool averaging = o.quality && red > 0;
    std::vector<uint32_t> sums(averaging ? size_t(ix1 - ix0) * 4 : 0);
    std::vector<uint8_t> alpha(col.size());
    const uint8_t maskRGB[3] = {o.maskColour.r, o.maskColour.g, o.maskColour.b};

    for (int y = y0; y < y1; ++y) {
        const int64_t sy = int64_t(y) + off.y;
        const int phase = int((sy >> 3) & 1);
        const size_t rowStart = size_t(rect.top + y) * cw + size_t(rect.left + x0);
        uint8_t* out[3] = {dst[0] + rowStart, dst[1] + rowStart, dst[2] + rowStart};
        if (sy < 0 || sy >= sh) {
            for (int p = 0; p < 3; ++p)
                std::memcpy(out[p], rows.outer[phase][p].data(), size_t(x1 - x0));
            continue;
        }
        for (int p = 0; p < 3; ++p) {
            std::memcpy(out[p], rows.outer[phase][p].data(), size_t(ix0 - x0));
            std::memcpy(out[p] + (ix1 - x0), rows.outer[phase][p].data() + (ix1 - x0), size_t(x1 - ix1));
        }
        const int srcY = int((sy >> mag) << red);
        const size_t srcRow = size_t(srcY) * iw;
        const uint8_t* planes[4] = {src + srcRow, src + srcPlane + srcRow, src + 2 * srcPlane + srcRow,
                                    src + 3 * srcPlane + srcRow};
        if (averaging)
            SumBlocks(planes, iw, red, col.empty() ? 0 : col[0], col.size(), sums.data());
        const uint8_t* maskRow = o.mask ? o.mask + size_t(srcY) * o.maskRowLength : nullptr;
        if (!averaging && !maskRow) {
            // The common case, plane by plane: one gather per byte.
            for (size_t i = 0; i < col.size(); ++i)
                alpha[i] = planes[3][col[i]];
            for (int p = 0; p < 3; ++p) {
                const uint8_t* s = planes[p];
                const uint8_t* b = rows.inner[phase][p].data() + (ix0 - x0);
                uint8_t* o2 = out[p] + (ix0 - x0);
                if (o.washOut)
                    for (size_t i = 0; i < col.size(); ++i)
                        o2[i] = Over(b[i], WashOut(s[col[i]]), alpha[i]);
                else
                    for (size_t i = 0; i < col.size(); ++i)
                        o2[i] = Over(b[i], s[col[i]], alpha[i]);
            }
            continue;
        }
        for (int x = ix0; x < ix1; ++x) {
            const size_t i = size_t(x - ix0), d = size_t(x - x0);
            int c[4];
            if (averaging) {
                for (int p = 0; p < 4; ++p)
                    c[p] = int(sums[size_t(p) * col.size() + i] >> (2 * red));
            } else {
                const int32_t sx = col[i];
                for (int p = 0; p < 4; ++p)
                    c[p] = planes[p][sx];
            }
            bool wash = o.washOut, stripe = false;
            if (maskRow && maskRow[col[i]]) {
                wash = true;
                stripe = ((int64_t(x) + off.x) & 3) == 0;
            }
            for (int p = 0; p < 3; ++p) {
                const int b = rows.inner[phase][p][d];
                if (stripe)
                    out[p][d] = maskRGB[p];
                else
                    out[p][d] = Over(b, wash ? WashOut(c[p]) : c[p], c[3]);
            }
        }
    }
    return true;
}

}  // namespace qnui
