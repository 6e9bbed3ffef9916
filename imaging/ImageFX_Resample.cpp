// Geometry filters of the filter engine: tiling, area-averaging and integer
// box resampling, and the small-kernel convolution with its sharpening masks.
#include "imaging/ImageFX.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

// A running progress in single precision, as the reports go out truncated.
struct Steps {
    float sum = 0.0f;
    float step = 0.0f;
    uint8_t Next()
    {
        sum += step;
        return static_cast<uint8_t>(std::clamp(static_cast<int>(sum), 0, 100));
    }
};

bool ZeroSized(int32_t w, int32_t h) { return w <= 0 || h <= 0; }

// One source cell of a resampled pixel and its weight.
struct Tap {
    int32_t index;
    double weight;
};

// For each result index the source cells it covers: [i / scale, + 1 / scale)
// when shrinking (weights scaled to an average), [i / scale, + 1) when
// enlarging (a linear interpolation). Cells past the end count as the last.
void BuildTaps(int32_t results, int32_t sourceSize, double scale, std::vector<int32_t>& first,
               std::vector<Tap>& taps)
{
    first.assign(static_cast<size_t>(results) + 1, 0);
    taps.clear();
    const double span = scale < 1.0 ? 1.0 / scale : 1.0;
    const double factor = scale < 1.0 ? scale : 1.0;
    for (int32_t i = 0; i < results; ++i) {
        first[i] = static_cast<int32_t>(taps.size());
        const double a = i / scale;
        const double b = a + span;
        for (double k = std::floor(a); k < b; k += 1.0) {
            const double overlap = std::min(b, k + 1.0) - std::max(a, k);
            if (overlap <= 0.0)
                continue;
            const int32_t idx = static_cast<int32_t>(std::min<double>(k, sourceSize - 1));
            taps.push_back({idx, overlap * factor});
        }
    }
    first[results] = static_cast<int32_t>(taps.size());
}

// The result area: the whole destination, or with keepAspect the largest
// centred area of the source's proportions.
struct Area {
    double sx, sy;
    int32_t w, h, ox, oy;
};

Area ResultArea(int32_t sw, int32_t sh, int32_t dw, int32_t dh, bool keepAspect)
{
    Area a{static_cast<double>(dw) / sw, static_cast<double>(dh) / sh, dw, dh, 0, 0};
    if (keepAspect) {
        const double s = std::min(a.sx, a.sy);
        a.sx = a.sy = s;
        a.w = static_cast<int32_t>(std::max<int64_t>(1, std::min<int64_t>(dw, static_cast<int64_t>(sw * s))));
        a.h = static_cast<int32_t>(std::max<int64_t>(1, std::min<int64_t>(dh, static_cast<int64_t>(sh * s))));
        a.ox = (dw - a.w) / 2;
        a.oy = (dh - a.h) / 2;
    }
    return a;
}

// Fills what lies outside the result area of one destination row.
void FillMargins(uint8_t* row, int32_t y, int32_t dw, const Area& a, uint8_t fill)
{
    if (y < a.oy || y >= a.oy + a.h) {
        std::memset(row, fill, static_cast<size_t>(dw));
        return;
    }
    std::memset(row, fill, static_cast<size_t>(a.ox));
    std::memset(row + a.ox + a.w, fill, static_cast<size_t>(dw - a.ox - a.w));
}

}  // namespace

int CQNF_ImageFX::Tile()
{
    if (!i_OneStride())
        return 0;
    if (m_src.channels != m_dst.channels || (m_src.channels > 0 && (ZeroSized(m_src.width, m_src.height) ||
                                                                    ZeroSized(m_dst.width, m_dst.height)))) {
        SetError(qnerr::BadArgument);
        return 0;
    }
    if (i_Report(0))
        return 0;
    Steps steps;
    if (m_src.channels > 0)
        steps.step = 100.0f / (static_cast<float>(m_src.channels) * static_cast<float>(m_dst.height));
    for (int p = 0; p < m_src.channels; ++p) {
        for (int32_t y = 0; y < m_dst.height; ++y) {
            const uint8_t* s = m_src.planes[p] + static_cast<size_t>(y % m_src.height) * m_src.stride;
            uint8_t* d = m_dst.planes[p] + static_cast<size_t>(y) * m_dst.stride;
            int32_t x = 0;
            while (x < m_dst.width) {
                const int32_t n = std::min({m_dst.width - x, m_src.width, m_dst.width});
                std::memmove(d + x, s, static_cast<size_t>(n));
                x += n;
            }
            if (i_Report(steps.Next()))
                return 0;
        }
    }
    i_Report(100);
    return 1;
}

int CQNF_ImageFX::i_ResizeCopy()
{
    Steps steps;
    steps.step = 100.0f / static_cast<float>(m_src.channels);
    for (int p = 0; p < m_src.channels; ++p) {
        i_CopyPlane(p);
        if (i_Report(steps.Next()))
            return 0;
    }
    i_Report(100);
    return 1;
}

int CQNF_ImageFX::Resize(uint8_t keepAspect)
{
    if (!i_OneStride())
        return 0;
    if (m_src.channels != m_dst.channels || (m_src.channels > 0 && (ZeroSized(m_src.width, m_src.height) ||
                                                                    ZeroSized(m_dst.width, m_dst.height)))) {
        SetError(qnerr::BadArgument);
        return 0;
    }
    if (i_Report(0))
        return 0;
    if (m_src.channels == 0) {
        i_Report(100);
        return 1;
    }
    if (m_src.width == m_dst.width && m_src.height == m_dst.height)
        return i_ResizeCopy();

    const Area a = ResultArea(m_src.width, m_src.height, m_dst.width, m_dst.height, keepAspect != 0);
    std::vector<int32_t> cFirst, rFirst;
    std::vector<Tap> cTaps, rTaps;
    BuildTaps(a.w, m_src.width, a.sx, cFirst, cTaps);
    BuildTaps(a.h, m_src.height, a.sy, rFirst, rTaps);
    // The column taps in slots: slot t of every result column side by side,
    // a column with fewer taps padded with weight 0 (which adds exactly 0
    // after its own taps), so that a row of results advances together.
    int32_t slots = 0;
    for (int32_t i = 0; i < a.w; ++i)
        slots = std::max(slots, cFirst[i + 1] - cFirst[i]);
    std::vector<int32_t> slotIndex(static_cast<size_t>(slots) * a.w, 0);
    std::vector<double> slotWeight(static_cast<size_t>(slots) * a.w, 0.0);
    for (int32_t i = 0; i < a.w; ++i)
        for (int32_t t = 0; t < cFirst[i + 1] - cFirst[i]; ++t) {
            slotIndex[static_cast<size_t>(t) * a.w + i] = cTaps[cFirst[i] + t].index;
            slotWeight[static_cast<size_t>(t) * a.w + i] = cTaps[cFirst[i] + t].weight;
        }
    std::vector<double> accRow(static_cast<size_t>(a.w));
    Steps steps;
    steps.step = 100.0f / (static_cast<float>(m_src.channels) * static_cast<float>(a.h + m_dst.height));
    const int32_t rw = a.w;
    const size_t sstride = m_src.stride;
    double* acc = accRow.data();
    for (int p = 0; p < m_src.channels; ++p) {
        const uint8_t* sp = m_src.planes[p];
        for (int32_t j = 0; j < a.h; ++j) {
            uint8_t* d = m_dst.planes[p] + static_cast<size_t>(a.oy + j) * m_dst.stride + a.ox;
            std::fill(acc, acc + rw, 0.0);
            for (int32_t ry = rFirst[j]; ry < rFirst[j + 1]; ++ry) {
                const uint8_t* srow = sp + static_cast<size_t>(rTaps[ry].index) * sstride;
                const double wy = rTaps[ry].weight;
                for (int32_t t = 0; t < slots; ++t) {
                    const int32_t* idx = slotIndex.data() + static_cast<size_t>(t) * rw;
                    const double* wx = slotWeight.data() + static_cast<size_t>(t) * rw;
                    for (int32_t i = 0; i < rw; ++i)
                        acc[i] += wx[i] * wy * srow[idx[i]];
                }
            }
            for (int32_t i = 0; i < rw; ++i) {
                const float v = static_cast<float>(acc[i]);
                d[i] = static_cast<uint8_t>(std::clamp(static_cast<int32_t>(v), 0, 255));
            }
            if (i_Report(steps.Next()))
                return 0;
        }
        for (int32_t y = 0; y < m_dst.height; ++y) {
            FillMargins(m_dst.planes[p] + static_cast<size_t>(y) * m_dst.stride, y, m_dst.width, a, m_fillByte);
            if (i_Report(steps.Next()))
                return 0;
        }
    }
    i_Report(100);
    return 1;
}

int CQNF_ImageFX::Resize_Int_ZO(uint8_t keepAspect)
{
    if (!i_OneStride())
        return 0;
    if (m_src.channels != m_dst.channels || (m_src.channels > 0 && (ZeroSized(m_src.width, m_src.height) ||
                                                                    ZeroSized(m_dst.width, m_dst.height)))) {
        SetError(qnerr::BadArgument);
        return 0;
    }
    if (m_src.channels == 0)
        return 1;
    if (m_src.width == m_dst.width && m_src.height == m_dst.height) {
        i_CopyAllPlanes();
        return 1;
    }
    const Area a = ResultArea(m_src.width, m_src.height, m_dst.width, m_dst.height, keepAspect != 0);
    if (a.sx >= 1.0 || a.sy >= 1.0)
        return Resize(keepAspect);
    const int64_t sw = m_src.width;
    const int64_t sh = m_src.height;
    const int64_t boxW = (sw + a.w - 1) / a.w;
    const int64_t boxH = (sh + a.h - 1) / a.h;
    if (boxW * boxH > 6250000) {
        SetError(qnerr::BadArgument);
        return 0;
    }
    std::vector<int32_t> ex(static_cast<size_t>(a.w) + 1, 0);
    std::vector<int32_t> ey(static_cast<size_t>(a.h) + 1, 0);
    for (int64_t i = 0; i < a.w; ++i)
        ex[i + 1] = static_cast<int32_t>(std::min(sw, (i + 1) * sw / a.w));
    for (int64_t j = 0; j < a.h; ++j)
        ey[j + 1] = static_cast<int32_t>(std::min(sh, (j + 1) * sh / a.h));
    // Large boxes are read at no more than about 32 points a side.
    auto stepFor = [](int64_t source, int32_t result) {
        const double q = static_cast<double>(source) / result;
        int32_t k = 1;
        while (q / k > 32.0)
            ++k;
        return k;
    };
    const int32_t kx = stepFor(sw, a.w);
    const int32_t ky = stepFor(sh, a.h);
    for (int p = 0; p < m_src.channels; ++p) {
        const uint8_t* sp = m_src.planes[p];
        for (int32_t j = 0; j < a.h; ++j) {
            uint8_t* d = m_dst.planes[p] + static_cast<size_t>(a.oy + j) * m_dst.stride + a.ox;
            for (int32_t i = 0; i < a.w; ++i) {
                uint64_t sum = 0;
                uint64_t count = 0;
                for (int32_t y = ey[j]; y < ey[j + 1]; y += ky) {
                    const uint8_t* srow = sp + static_cast<size_t>(y) * m_src.stride;
                    for (int32_t x = ex[i]; x < ex[i + 1]; x += kx) {
                        sum += srow[x];
                        ++count;
                    }
                }
                d[i] = static_cast<uint8_t>(count ? sum / count : 0);
            }
        }
        for (int32_t y = 0; y < m_dst.height; ++y)
            FillMargins(m_dst.planes[p] + static_cast<size_t>(y) * m_dst.stride, y, m_dst.width, a, m_fillByte);
    }
    return 1;
}

int CQNF_ImageFX::ApplyConvolutionMask(QNFFX_CONVOLUTIONMASK mask, uint8_t processAlpha)
{
    if (!i_SameShape())
        return 0;
    const int32_t mw = mask.width;
    const int32_t mh = mask.height;
    if (!mask.weights && mw * mh > 0) {
        SetError(qnerr::BadArgument);
        return 0;
    }
    const int32_t w = m_src.width;
    const int32_t h = m_src.height;
    const int planes = (!processAlpha && m_src.alpha) ? m_src.ColourPlanes() : m_src.channels;
    const int32_t cx = mw / 2;
    const int32_t cy = mh / 2;
    int64_t total = 0;
    int64_t absTotal = 0;
    for (int32_t i = 0; i < mw * mh; ++i) {
        total += mask.weights[i];
        absTotal += std::abs(static_cast<int64_t>(mask.weights[i]));
    }
    // Inside, where the whole kernel covers the image, a row of 32-bit sums;
    // a division in double gives the integer quotient exactly while the sums
    // stay below 2^31 and the divisor below 2^21.
    const bool fastInside = absTotal * 255 < (int64_t{1} << 31) && total != 0 &&
                            std::abs(total) < (int64_t{1} << 21) && mw > 0 && mh > 0;
    const int32_t ix0 = cx;
    const int32_t ix1 = w - (mw - 1 - cx);  // exclusive
    const int32_t iy0 = cy;
    const int32_t iy1 = h - (mh - 1 - cy);
    std::vector<int32_t> acc(fastInside ? static_cast<size_t>(std::max(0, ix1 - ix0)) : 0);

    for (int p = 0; p < planes; ++p) {
        const uint8_t* sp = m_src.planes[p];
        uint32_t sstride = m_src.stride;
        if (sp == m_dst.planes[p] && h > 0 && w > 0) {
            // Filtering in place would read pixels already written.
            uint8_t* copy = i_Grow(m_memBlurWork, qnMulSize({static_cast<uint64_t>(w), static_cast<uint64_t>(h)}));
            if (!copy)
                return 0;
            for (int32_t y = 0; y < h; ++y)
                std::memcpy(copy + static_cast<size_t>(y) * w, sp + static_cast<size_t>(y) * sstride, w);
            sp = copy;
            sstride = static_cast<uint32_t>(w);
        }
        for (int32_t y = 0; y < h; ++y) {
            uint8_t* d = m_dst.planes[p] + static_cast<size_t>(y) * m_dst.stride;
            const bool insideRow = fastInside && y >= iy0 && y < iy1 && ix1 > ix0;
            auto generic = [&](int32_t x) {
                int64_t a = 0;
                int64_t ws = 0;
                for (int32_t kj = 0; kj < mh; ++kj) {
                    const int32_t yy = y + kj - cy;
                    if (yy < 0 || yy >= h)
                        continue;
                    const uint8_t* srow = sp + static_cast<size_t>(yy) * sstride;
                    const int16_t* wr = mask.weights + kj * mw;
                    for (int32_t ki = 0; ki < mw; ++ki) {
                        const int32_t xx = x + ki - cx;
                        if (xx < 0 || xx >= w)
                            continue;
                        ws += wr[ki];
                        a += static_cast<int64_t>(wr[ki]) * srow[xx];
                    }
                }
                d[x] = ws != 0 ? static_cast<uint8_t>(std::clamp<int64_t>(a / ws, 0, 255)) : 0;
            };
            if (!insideRow) {
                for (int32_t x = 0; x < w; ++x)
                    generic(x);
                continue;
            }
            for (int32_t x = 0; x < ix0; ++x)
                generic(x);
            for (int32_t x = ix1; x < w; ++x)
                generic(x);
            const int32_t n = ix1 - ix0;
            int32_t* ac = acc.data();
            std::fill(ac, ac + n, 0);
            for (int32_t kj = 0; kj < mh; ++kj) {
                const uint8_t* srow = sp + static_cast<size_t>(y + kj - cy) * sstride;
                for (int32_t ki = 0; ki < mw; ++ki) {
                    const int32_t wt = mask.weights[kj * mw + ki];
                    if (wt == 0)
                        continue;
                    const uint8_t* s = srow + (ki - cx) + ix0;
                    for (int32_t k = 0; k < n; ++k)
                        ac[k] += wt * s[k];
                }
            }
            const double div = static_cast<double>(total);
            uint8_t* dd = d + ix0;
            for (int32_t k = 0; k < n; ++k) {
                const int32_t q = static_cast<int32_t>(static_cast<double>(ac[k]) / div);
                dd[k] = static_cast<uint8_t>(std::clamp(q, 0, 255));
            }
        }
    }
    if (planes < m_src.channels)
        i_CopyAlphaPlane();
    return 1;
}

int CQNF_ImageFX::i_Sharpen(int16_t centre, uint8_t processAlpha)
{
    const int16_t k[9] = {-1, -2, -1, -2, centre, -2, -1, -2, -1};
    QNFFX_CONVOLUTIONMASK mask;
    mask.weights = k;
    mask.width = 3;
    mask.height = 3;
    return ApplyConvolutionMask(mask, processAlpha);
}

int CQNF_ImageFX::filter_UnsharpenMaskDelicate(uint8_t processAlpha) { return i_Sharpen(70, processAlpha); }
int CQNF_ImageFX::filter_UnsharpenMaskNormal(uint8_t processAlpha) { return i_Sharpen(40, processAlpha); }
int CQNF_ImageFX::filter_UnsharpenMaskMore(uint8_t processAlpha) { return i_Sharpen(20, processAlpha); }
