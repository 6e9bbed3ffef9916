// Relief filters of the filter engine: the bevel, which lights a height map
// made from the alpha plane, and the inside stroke along the alpha edge.
#include "imaging/ImageFX.h"
#include "imaging/ImageFX_Kernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr int kMapRowLanes = 16;
constexpr int kMapColumnLanes = 64;

}  // namespace

int CQNF_ImageFX::Bevel(uint16_t size, uint16_t depth, double soften, qnt3D_VECTOR light,
                        const uint8_t* highlightColour, uint8_t highlightOpacity, const uint8_t* shadowColour,
                        uint8_t shadowOpacity)
{
    if (!i_SameShape())
        return 0;
    const float lenSq = light.x * light.x + light.y * light.y + light.z * light.z;
    const float len = std::sqrt(lenSq);
    // A light without a direction lights nothing: refuse it rather than
    // divide by zero.
    if (!std::isfinite(soften) || soften > kMaxBlurSigma || !std::isfinite(len) || !(len > 0.0f) ||
        (m_src.ColourPlanes() > 0 && (!highlightColour || !shadowColour))) {
        SetError(qnerr::BadArgument);
        return 0;
    }
    const int32_t w = m_src.width;
    const int32_t h = m_src.height;
    if (w == 0 || h == 0)
        return 1;
    const float lx = -light.x / len;
    const float ly = light.y / len;
    const float lz = light.z / len;

    // Height map with a one-pixel border of 0.
    const int64_t mw = static_cast<int64_t>(w) + 2;
    const int64_t mh = static_cast<int64_t>(h) + 2;
    float* map = reinterpret_cast<float*>(i_Grow(m_memBevelHeight, qnMulSize({static_cast<uint64_t>(mw),
                                                                              static_cast<uint64_t>(mh), 4})));
    uint8_t* hi = i_Grow(m_memBevelHigh, qnMulSize({static_cast<uint64_t>(w), static_cast<uint64_t>(h)}));
    uint8_t* sh = i_Grow(m_memBevelShadow, qnMulSize({static_cast<uint64_t>(w), static_cast<uint64_t>(h)}));
    if (!map || !hi || !sh)
        return 0;
    const uint8_t* alpha = m_src.AlphaPlane();
    std::fill(map, map + mw, 0.0f);
    std::fill(map + (mh - 1) * mw, map + mh * mw, 0.0f);
    for (int32_t y = 0; y < h; ++y) {
        float* row = map + (y + 1) * mw;
        row[0] = 0.0f;
        row[mw - 1] = 0.0f;
        if (alpha) {
            const uint8_t* a = alpha + static_cast<size_t>(y) * m_src.stride;
            for (int32_t x = 0; x < w; ++x)
                row[x + 1] = a[x];
        } else {
            std::fill(row + 1, row + 1 + w, 255.0f);
        }
    }

    // Round the edge: blur the map, rows then columns, with 0 beyond it.
    STRUCT_Blur_VectorData kd;
    Blur_PrepareBlurData(size / 3.32, &kd, &m_memBlurWork, 1, 0);
    {
        const qnfx::LaneBlur rows = qnfx::MakeLaneBlur(kd, static_cast<uint32_t>(mw), nullptr);
        const qnfx::LaneBlur cols = qnfx::MakeLaneBlur(kd, static_cast<uint32_t>(mh), nullptr);
        const uint64_t need = std::max(rows.BufferDoubles(kMapRowLanes), cols.BufferDoubles(kMapColumnLanes));
        double* buf = reinterpret_cast<double*>(i_Grow(m_memBlurLine, need * sizeof(double)));
        if (!buf)
            return 0;
        for (int64_t y0 = 0; y0 < mh; y0 += kMapRowLanes) {
            const int lanes = static_cast<int>(std::min<int64_t>(kMapRowLanes, mh - y0));
            float* p = map + y0 * mw;
            qnfx::BlurLanes(rows, p, 1, mw, p, 1, mw, lanes, buf);
        }
        for (int64_t x0 = 0; x0 < mw; x0 += kMapColumnLanes) {
            const int lanes = static_cast<int>(std::min<int64_t>(kMapColumnLanes, mw - x0));
            float* p = map + x0;
            qnfx::BlurLanes(cols, p, mw, 1, p, mw, 1, lanes, buf);
        }
    }

    // Light the slopes.
    const float flat = std::max(lz, 0.000001f);
    // With the light straight above nothing can face it more than a flat area;
    // only rounding could say otherwise.
    const bool noHighlight = 1.0f - flat < 1e-6f;
    const float hiScale = noHighlight ? 0.0f : static_cast<float>(highlightOpacity) / (1.0f - flat);
    const float fdepth = depth;
    const float fshadow = shadowOpacity;
    for (int32_t y = 0; y < h; ++y) {
        const float* up = map + y * mw;   // map row y
        const float* mid = up + mw;       // map row y + 1
        uint8_t* hr = hi + static_cast<size_t>(y) * w;
        uint8_t* sr = sh + static_cast<size_t>(y) * w;
        for (int32_t x = 0; x < w; ++x) {
            const float gx = (up[x + 1] - up[x]) * fdepth / 100.0f;
            const float gy = (mid[x + 1] - up[x + 1]) * fdepth / 100.0f;
            const float l = std::sqrt(gx * gx + gy * gy + 1.0f);
            float d = (gx * lx + gy * ly + lz) / l;
            d = std::max(0.0f, d);
            int hv = 0;
            int sv = 0;
            if (d > flat) {
                if (!noHighlight)
                    hv = static_cast<int>(hiScale * (d - flat));
            } else {
                sv = shadowOpacity - static_cast<int>(d * fshadow / flat);
            }
            hr[x] = static_cast<uint8_t>(std::clamp(hv, 0, 255));
            sr[x] = static_cast<uint8_t>(std::clamp(sv, 0, 255));
        }
    }

    if (soften > 0.0) {
        STRUCT_Blur_VectorData sd;
        Blur_PrepareBlurData(soften, &sd, &m_memBlurWork, 1, 0);
        for (uint8_t* m : {hi, sh}) {
            if (!i_BlurRows(sd, m, w, m, w, nullptr, 0, w, h) || !i_BlurColumns(sd, m, w, m, w, nullptr, 0, w, h))
                return 0;
        }
    }

    for (int p = 0; p < m_src.ColourPlanes(); ++p) {
        const int hc = highlightColour[p];
        const int sc = shadowColour[p];
        for (int32_t y = 0; y < h; ++y) {
            const uint8_t* s = m_src.planes[p] + static_cast<size_t>(y) * m_src.stride;
            uint8_t* d = m_dst.planes[p] + static_cast<size_t>(y) * m_dst.stride;
            const uint8_t* hr = hi + static_cast<size_t>(y) * w;
            const uint8_t* sr = sh + static_cast<size_t>(y) * w;
            for (int32_t x = 0; x < w; ++x) {
                const int v = s[x];
                const int k = hr[x] - sr[x];
                int r = v;
                if (k > 0)
                    r = v + (((hc - v) * k) >> 8);
                else if (k < 0)
                    r = v + (((sc - v) * -k) >> 8);
                d[x] = static_cast<uint8_t>(r);
            }
        }
    }
    i_CopyAlphaPlane();
    return 1;
}

int CQNF_ImageFX::Stroke_FillCircleMatrix(CQNF_Mem* matrix, uint8_t radius, uint8_t shift)
{
    if (!matrix || shift > 7)
        return 0;
    const int r = radius;
    const int side = 2 * r + 1;
    if (matrix->GetSize() < static_cast<uint32_t>(side * side) && !matrix->alloc(side * side))
        return 0;
    uint8_t* m = matrix->GetPtr();
    std::memset(m, 0, static_cast<size_t>(side) * side);
    const int sub = 1 << shift;
    const int add = std::max(1, 256 >> (2 * shift));
    const int64_t big = static_cast<int64_t>(sub) * r;
    const int64_t limit = big * big;
    // The top-left quadrant with the centre row and column.
    for (int64_t sy = -big; sy < sub; ++sy) {
        const int row = static_cast<int>((sy >> shift) + r);
        const int64_t sy2 = sy * sy;
        for (int64_t sx = -big; sx < sub; ++sx) {
            if (sx * sx + sy2 < limit) {
                uint8_t& cell = m[row * side + static_cast<int>((sx >> shift) + r)];
                cell = static_cast<uint8_t>(std::min(255, cell + add));
            }
        }
    }
    for (int y = 0; y < side; ++y) {
        const int qy = y <= r ? y : 2 * r - y;
        for (int x = 0; x < side; ++x) {
            const int qx = x <= r ? x : 2 * r - x;
            m[y * side + x] = m[qy * side + qx];
        }
    }
    return 1;
}

int CQNF_ImageFX::StrokeInside(const uint8_t* colour, uint8_t opacity, uint8_t size)
{
    if (!i_SameShape())
        return 0;
    const int32_t w = m_src.width;
    const int32_t h = m_src.height;
    if (w < 1 || h < 1 || !m_src.alpha || (!colour && m_src.ColourPlanes() > 0)) {
        SetError(qnerr::BadArgument);
        return 0;
    }
    if (size == 0) {
        i_CopyAllPlanes();
        return 1;
    }
    // The mask is built apart from the destination, so that a destination
    // sharing its alpha plane with the source still reads the source alpha.
    uint8_t* mask = i_Grow(m_memBevelHigh, qnMulSize({static_cast<uint64_t>(w), static_cast<uint64_t>(h)}));
    if (!mask)
        return 0;
    std::memset(mask, 0, static_cast<size_t>(w) * h);
    const uint8_t* alpha = m_src.AlphaPlane();
    const uint32_t as = m_src.stride;
    auto A = [&](int32_t x, int32_t y) -> int {
        return (x < 0 || y < 0 || x >= w || y >= h) ? 0 : alpha[static_cast<size_t>(y) * as + x];
    };

    if (size == 1) {
        for (int32_t y = 0; y < h; ++y) {
            for (int32_t x = 0; x < w; ++x) {
                const int a = alpha[static_cast<size_t>(y) * as + x];
                uint8_t m = 255;
                if (a == 255 && x > 0 && y > 0 && x < w - 1 && y < h - 1) {
                    int lo = 255;
                    for (int j = -1; j <= 1; ++j)
                        for (int i = -1; i <= 1; ++i)
                            if (i || j)
                                lo = std::min(lo, A(x + i, y + j));
                    m = static_cast<uint8_t>(255 - lo);
                }
                mask[static_cast<size_t>(y) * w + x] = m;
            }
        }
    } else {
        const int s = size;
        const int side = 2 * s + 1;
        CQNF_Mem outer;
        CQNF_Mem inner;
        if (!Stroke_FillCircleMatrix(&outer, static_cast<uint8_t>(s), 3) ||
            !Stroke_FillCircleMatrix(&inner, static_cast<uint8_t>(s - 1), 3)) {
            SetError(outer.GetError() ? outer.GetError() : (inner.GetError() ? inner.GetError() : qnerr::NoMemory));
            return 0;
        }
        // Inner disc inside a one-cell frame of 0, the size of the outer one.
        std::vector<uint8_t> framed(static_cast<size_t>(side) * side, 0);
        for (int y = 0; y < side - 2; ++y)
            std::memcpy(&framed[static_cast<size_t>(y + 1) * side + 1], inner.GetPtr() + y * (side - 2), side - 2);
        const uint8_t* am = outer.GetPtr();
        // The stamp of an edge pixel with alpha a, made once per a.
        std::vector<std::vector<uint8_t>> stamps(256);
        auto stampFor = [&](int a) -> const uint8_t* {
            std::vector<uint8_t>& st = stamps[a];
            if (st.empty()) {
                st.resize(static_cast<size_t>(side) * side);
                for (size_t c = 0; c < st.size(); ++c) {
                    const int av = am[c];
                    st[c] = static_cast<uint8_t>(av - (a * (av - framed[c])) / 255);
                }
            }
            return st.data();
        };
        for (int32_t y = 0; y < h; ++y) {
            for (int32_t x = 0; x < w; ++x) {
                const int a = alpha[static_cast<size_t>(y) * as + x];
                const bool border = x == 0 || y == 0 || x == w - 1 || y == h - 1;
                if (a == 255 && !border)
                    continue;
                mask[static_cast<size_t>(y) * w + x] = 255;
                if (A(x - 1, y) < 255 && A(x + 1, y) < 255 && A(x, y - 1) < 255 && A(x, y + 1) < 255)
                    continue;
                const uint8_t* st = stampFor(a);
                const int32_t x0 = std::max(0, x - s);
                const int32_t x1 = std::min(w - 1, x + s);
                const int32_t y0 = std::max(0, y - s);
                const int32_t y1 = std::min(h - 1, y + s);
                const int32_t n = x1 - x0 + 1;
                for (int32_t yy = y0; yy <= y1; ++yy) {
                    uint8_t* mr = mask + static_cast<size_t>(yy) * w + x0;
                    const uint8_t* sr = st + static_cast<size_t>(yy - y + s) * side + (x0 - x + s);
                    for (int32_t k = 0; k < n; ++k)
                        mr[k] = std::max(mr[k], sr[k]);
                }
            }
        }
    }

    const int planes = m_src.channels - 1;
    for (int p = 0; p < planes; ++p) {
        const int c = colour[p];
        for (int32_t y = 0; y < h; ++y) {
            const uint8_t* sp = m_src.planes[p] + static_cast<size_t>(y) * m_src.stride;
            uint8_t* dp = m_dst.planes[p] + static_cast<size_t>(y) * m_dst.stride;
            const uint8_t* mr = mask + static_cast<size_t>(y) * w;
            if (opacity < 255) {
                for (int32_t x = 0; x < w; ++x) {
                    const int v = sp[x];
                    dp[x] = static_cast<uint8_t>(v + (opacity * mr[x] * (c - v)) / 65025);
                }
            } else {
                for (int32_t x = 0; x < w; ++x) {
                    const int v = sp[x];
                    dp[x] = static_cast<uint8_t>(v + ((c - v) * mr[x]) / 255);
                }
            }
        }
    }
    i_CopyPlane(m_src.channels - 1);
    return 1;
}
