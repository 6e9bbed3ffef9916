// The motion blur of the filter engine: along rows or columns through the
// Gaussian's passes (ImageFX_Blur.cpp), or along lines at an angle, many
// lines side by side in vector lanes.
#include "imaging/ImageFX.h"
#include "imaging/ImageFX_Kernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>

using qnfx::RecoverStrided;

int CQNF_ImageFX::MotionBlur(double angle, double distance, uint8_t blurAlpha, uint8_t recoverTransparent)
{
    if (!i_SameShape())
        return 0;
    if (!std::isfinite(angle) || !std::isfinite(distance) || distance > kMaxBlurSigma) {
        SetError(qnerr::BadArgument);
        return 0;
    }
    if (distance < 0.1) {
        i_CopyAllPlanes();
        return 1;
    }
    // Into 0..180: a positive multiple of 180 stays 180, a negative one gives 0.
    if (angle > 180.0) {
        angle = std::fmod(angle, 180.0);
        if (angle == 0.0)
            angle = 180.0;
    } else if (angle < 0.0) {
        angle = std::fmod(angle, 180.0);
        angle = angle < 0.0 ? angle + 180.0 : 0.0;
    }
    STRUCT_Blur_VectorData kd;
    Blur_PrepareBlurData(distance, &kd, &m_memBlurWork, 0, 0);

    const bool horizontal = angle < 0.1 || angle > 179.9;
    const bool vertical = angle > 89.9 && angle < 90.1;
    if (!horizontal && !vertical)
        return i_MotionAngle(kd, angle, blurAlpha, recoverTransparent) ? 1 : 0;

    const int alphaPlane = m_src.alpha ? m_src.channels - 1 : -1;
    for (int p = 0; p < m_src.channels; ++p) {
        if (p == alphaPlane && !blurAlpha) {
            i_CopyPlane(p);
            continue;
        }
        const bool recover = recoverTransparent && alphaPlane >= 0 && p != alphaPlane;
        const uint8_t* a = recover ? m_src.planes[alphaPlane] : nullptr;
        const bool ok = horizontal ? i_BlurRows(kd, m_src.planes[p], m_src.stride, m_dst.planes[p], m_dst.stride,
                                                a, m_src.stride, m_src.width, m_src.height)
                                   : i_BlurColumns(kd, m_src.planes[p], m_src.stride, m_dst.planes[p],
                                                   m_dst.stride, a, m_src.stride, m_src.width, m_src.height);
        if (!ok)
            return 0;
    }
    return 1;
}

namespace {

// A plane seen along the lines of an angled motion blur: element (i, v) is
// the pixel at index i across the lines (its column) and position v along
// them (its row); a negative row step gives the mirrored case.
struct LineView {
    uint8_t* base;
    ptrdiff_t sv;
};

LineView MakeView(uint8_t* plane, size_t stride, bool mirrored, int64_t nv)
{
    LineView view{plane, static_cast<ptrdiff_t>(stride)};
    if (mirrored) {
        view.base += (nv - 1) * view.sv;
        view.sv = -view.sv;
    }
    return view;
}

// What every group of lines of one plane of an angled motion blur shares:
// each line's offsets, the views of source, alpha and destination, the
// staging rows (sample j of line k at [j * kChunk + k]) and the blur.
struct MotionLines {
    const int32_t* offsets;
    LineView src, alpha, dst;
    bool recover;
    uint8_t* stagedIn;
    uint8_t* stagedAlpha;
    uint8_t* stagedOut;
    const CQNF_ImageFX::STRUCT_Blur_VectorData* kd;
    const qnfx::LaneBlur* lb;
    CQNF_ImageFX::STRUCT_Blur_VectorData* line;  // the direct blur's line, on buf
    double* buf;
};

// Up to kChunk neighbouring lines: line number, first index across, length.
struct MotionGroup {
    int64_t line[qnfx::kChunk];
    int64_t start[qnfx::kChunk];
    uint32_t length[qnfx::kChunk];
    int count = 0;
};

// The group's lines gathered into the staging rows (colours recovered under
// transparency when asked), blurred side by side, and stored back along
// their lines; the group is then empty. False when the direct blur fails.
bool BlurGroup(const MotionLines& m, MotionGroup& g)
{
    constexpr int K = qnfx::kChunk;
    for (int k = 0; k < g.count; ++k) {
        // Locals, so that the byte stores cannot make the compiler reload
        // anything. Pixel j of the line: column start + j, row line - offset.
        const uint32_t n = g.length[k];
        const int32_t* off = m.offsets + g.start[k];
        const ptrdiff_t step = m.src.sv;
        const ptrdiff_t at = g.start[k] + g.line[k] * step;
        const uint8_t* from = m.src.base;
        uint8_t* to = m.stagedIn + k;
        for (uint32_t j = 0; j < n; ++j)
            to[static_cast<size_t>(j) * K] = from[at + static_cast<ptrdiff_t>(j) - off[j] * step];
        if (m.recover) {
            const uint8_t* afrom = m.alpha.base;
            uint8_t* ato = m.stagedAlpha + k;
            for (uint32_t j = 0; j < n; ++j)
                ato[static_cast<size_t>(j) * K] = afrom[at + static_cast<ptrdiff_t>(j) - off[j] * step];
            RecoverStrided(m.stagedIn + k, m.stagedAlpha + k, n, K);
        }
    }
    if (m.kd->direct) {
        for (int k = 0; k < g.count; ++k) {
            for (uint32_t j = 0; j < g.length[k]; ++j)
                m.buf[j] = m.stagedIn[static_cast<size_t>(j) * K + k];
            m.line->length = g.length[k];
            if (!CQNF_ImageFX::Blur_BlurVectorHQ(m.line))
                return false;
            for (uint32_t j = 0; j < g.length[k]; ++j)
                m.stagedOut[static_cast<size_t>(j) * K + k] = qnfx::ToByte(m.buf[j]);
        }
    } else if (g.count > 0) {
        qnfx::BlurRagged(*m.lb, g.length, g.count, m.stagedIn, m.stagedOut, m.buf);
    }
    for (int k = 0; k < g.count; ++k) {
        const uint32_t n = g.length[k];
        const int32_t* off = m.offsets + g.start[k];
        const ptrdiff_t step = m.dst.sv;
        const ptrdiff_t at = g.start[k] + g.line[k] * step;
        uint8_t* to = m.dst.base;
        const uint8_t* from = m.stagedOut + k;
        for (uint32_t j = 0; j < n; ++j)
            to[at + static_cast<ptrdiff_t>(j) - off[j] * step] = from[static_cast<size_t>(j) * K];
    }
    g.count = 0;
    return true;
}

inline uint8_t BlendFrac(uint8_t old, uint8_t value, float frac)
{
    const float r = static_cast<float>(old) * (1.0f - frac) + frac * static_cast<float>(value);
    return static_cast<uint8_t>(std::clamp(static_cast<int32_t>(r), 0, 255));
}

}  // namespace

bool CQNF_ImageFX::i_MotionAngle(const STRUCT_Blur_VectorData& kd, double angle, uint8_t blurAlpha,
                                 uint8_t recover)
{
    const bool mirrored = angle > 90.0;
    if (mirrored)
        angle = 180.0 - angle;
    // Steeper than 45 degrees the axes change roles: the lines then run
    // along the rows, and the planes are transposed so that, either way,
    // they run down the columns of a "lines plane" (reading and writing
    // neighbouring bytes rather than a row apart).
    const bool byRows = angle > 45.0;
    const int64_t ni = byRows ? m_src.height : m_src.width;  // columns of the lines plane
    const int64_t nv = byRows ? m_src.width : m_src.height;  // its rows
    if (ni <= 0 || nv <= 0)
        return true;

    int32_t* offsets = reinterpret_cast<int32_t*>(i_Grow(m_memMotionOffsets, ni * sizeof(int32_t)));
    float* fracs = reinterpret_cast<float*>(i_Grow(m_memMotionFracs, ni * sizeof(float)));
    // Staged input, alphas and output of a group of lines, sample j of line
    // k at [j * kChunk + k].
    constexpr int K = qnfx::kChunk;
    const uint64_t lineBytes = static_cast<uint64_t>(ni);
    uint8_t* gather = i_Grow(m_memMotionGather, lineBytes * 3 * K);
    // The transposed source, alpha and destination planes.
    const uint64_t planeBytes = qnMulSize({static_cast<uint64_t>(ni), static_cast<uint64_t>(nv)});
    uint8_t* transposed = byRows ? i_Grow(m_memBlurLine, qnMulSize({planeBytes, 3})) : nullptr;
    if (!offsets || !fracs || !gather || (byRows && !transposed))
        return false;
    const double t = byRows ? std::tan((angle - 90.0) * M_PI / 180.0) : std::tan(angle * M_PI / 180.0);
    for (int64_t i = 0; i < ni; ++i) {
        const double s = byRows ? -static_cast<double>(i) * t : static_cast<double>(i) * t;
        offsets[i] = static_cast<int32_t>(static_cast<float>(s));
        fracs[i] = static_cast<float>(s - offsets[i]);
    }
    const int64_t lines = static_cast<int64_t>(offsets[ni - 1]) + nv;

    qnfx::FrontCache cache;
    const qnfx::LaneBlur lb = qnfx::MakeLaneBlur(kd, 0, &cache);
    const uint64_t lineDoubles = kd.direct ? lineBytes : lb.RaggedDoubles(static_cast<uint32_t>(ni));
    double* buf = reinterpret_cast<double*>(i_Grow(m_memMotionLine, lineDoubles * sizeof(double)));
    if (!buf)
        return false;
    uint8_t* stagedIn = gather;
    uint8_t* stagedAlpha = gather + lineBytes * K;
    uint8_t* stagedOut = gather + 2 * lineBytes * K;
    STRUCT_Blur_VectorData line = kd;
    line.line = buf;

    const int alphaPlane = m_src.alpha ? m_src.channels - 1 : -1;
    for (int p = 0; p < m_src.channels; ++p) {
        if (p == alphaPlane && !blurAlpha) {
            i_CopyPlane(p);
            continue;
        }
        const bool rec = recover && alphaPlane >= 0 && p != alphaPlane;
        uint8_t* srcLines = m_src.planes[p];
        uint8_t* alphaLines = rec ? m_src.planes[alphaPlane] : nullptr;
        uint8_t* dstLines = m_dst.planes[p];
        size_t srcStride = m_src.stride;
        size_t dstStride = m_dst.stride;
        if (byRows) {
            srcLines = transposed;
            dstLines = transposed + planeBytes;
            srcStride = dstStride = static_cast<size_t>(ni);
            qnfx::TransposeBytes(m_src.planes[p], m_src.stride, srcLines, srcStride, static_cast<int>(ni),
                                 static_cast<int>(nv));
            if (rec) {
                alphaLines = transposed + 2 * planeBytes;
                qnfx::TransposeBytes(m_src.planes[alphaPlane], m_src.stride, alphaLines, srcStride,
                                     static_cast<int>(ni), static_cast<int>(nv));
            }
        }
        const LineView sv = MakeView(srcLines, srcStride, mirrored, nv);
        const LineView av = rec ? MakeView(alphaLines, srcStride, mirrored, nv) : sv;
        const LineView dv = MakeView(dstLines, dstStride, mirrored, nv);

        // Each pixel lies on exactly one line: blur every line and store it,
        // kChunk neighbouring lines at a time.
        const MotionLines ml{offsets, sv, av, dv, rec, stagedIn, stagedAlpha, stagedOut, &kd, &lb, &line, buf};
        MotionGroup g;
        int64_t i0 = 0;
        int64_t i1 = 0;
        for (int64_t ln = 0; ln < lines; ++ln) {
            // The run of the line: offsets in (ln - nv, ln].
            while (i0 < ni && offsets[i0] <= ln - nv)
                ++i0;
            if (i1 < i0)
                i1 = i0;
            while (i1 < ni && offsets[i1] <= ln)
                ++i1;
            if (i1 <= i0)
                continue;
            g.line[g.count] = ln;
            g.start[g.count] = i0;
            g.length[g.count] = static_cast<uint32_t>(i1 - i0);
            if (++g.count == K && !BlurGroup(ml, g)) {
                SetError(m_memBlurWork.GetError());
                return false;
            }
        }
        if (!BlurGroup(ml, g)) {
            SetError(m_memBlurWork.GetError());
            return false;
        }

        // Then every pixel but the last along its line takes a share of the
        // next one, as far as its line sits off the pixel grid.
        for (int64_t v = 1; v < nv; ++v) {
            uint8_t* prev = dv.base + (v - 1) * dv.sv;
            const uint8_t* cur = dv.base + v * dv.sv;
            for (int64_t i = 0; i < ni; ++i)
                prev[i] = BlendFrac(prev[i], cur[i], fracs[i]);
        }
        if (byRows)
            qnfx::TransposeBytes(dstLines, dstStride, m_dst.planes[p], m_dst.stride, static_cast<int>(nv),
                                 static_cast<int>(ni));
    }
    return true;
}
