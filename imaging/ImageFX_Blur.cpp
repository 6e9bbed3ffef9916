// The blurs of the filter engine: the one-dimensional kernel (recursive
// Gaussian of Young and van Vliet, or a short direct kernel for small sigma),
// the transparent-pixel recovery, GaussianBlur and MotionBlur.
#include "imaging/ImageFX.h"
#include "imaging/ImageFX_Kernels.h"
#include "imaging/Parallel.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

// Lanes per call: a horizontal pass blurs kRowLanes rows at a time through a
// transposed block; a vertical pass kColumnLanes columns, one cache line of
// each row.
constexpr int kRowLanes = 32;
constexpr int kColumnLanes = 64;

bool GrowBlock(CQNF_Mem* block, uint64_t bytes)
{
    if (bytes == 0)
        bytes = 1;
    if (block->GetSize() >= bytes)
        return true;
    return block->alloc(bytes) != nullptr;
}

}  // namespace

int CQNF_ImageFX::Blur_PrepareBlurData(double sigma, STRUCT_Blur_VectorData* data, CQNF_Mem* work,
                                       uint8_t constantEdge, uint8_t constantValue)
{
    double q;
    if (sigma >= 2.5)
        q = 0.98711 * sigma - 0.9633;
    else
        q = 3.97156 - 4.14554 * std::sqrt(1.0 - 0.26891 * sigma);
    const double q2 = q * q;
    const double q3 = q2 * q;
    const double b0 = 1.57825 + 2.44413 * q + 1.4281 * q2 + 0.422205 * q3;
    const double b1 = 2.44413 * q + 2.85619 * q2 + 1.26661 * q3;
    const double b2 = -(1.4281 * q2 + 1.26661 * q3);
    const double b3 = 0.422205 * q3;
    data->B1 = b1 / b0;
    data->B2 = b2 / b0;
    data->B3 = b3 / b0;
    data->B = 1.0 - (data->B1 + data->B2 + data->B3);
    data->sigma = sigma;
    data->work = work;
    data->constantEdge = constantEdge ? 1 : 0;
    data->constantValue = constantValue;
    data->direct = 0;
    data->halfWidth = 0;
    // Below sigma 1.5 the recursive filter strays from a Gaussian, so a
    // sampled kernel stands in. Its width is widened to 1.5 sigma + 0.1 (never
    // under 0.1), which keeps a small blur visible, and it runs 3.8 widths
    // out, where a tap falls under exp(-7.2), less than 0.1 % of the centre.
    constexpr double kDirectBelowSigma = 1.5;
    constexpr double kWidthPerSigma = 1.5, kWidthOffset = 0.1, kLeastWidth = 0.1;
    constexpr double kReachInWidths = 3.8;
    if (sigma < kDirectBelowSigma) {
        const double t = sigma < kLeastWidth ? kLeastWidth : kWidthPerSigma * sigma + kWidthOffset;
        const int n = static_cast<int>(kReachInWidths * t) + 2;  // + 2: the centre and one tap past the reach
        if (n < 20) {  // the weights table holds 20 taps
            for (int i = 0; i < n; ++i)
                data->weights[i] = 1000.0 * std::exp(-static_cast<double>(i * i) / (2.0 * t * t));
            data->direct = 1;
            data->halfWidth = static_cast<uint16_t>(n);
        }
    }
    return 1;
}

int CQNF_ImageFX::Blur_BlurVector(STRUCT_Blur_VectorData* data)
{
    if (data->direct)
        return Blur_BlurVectorHQ(data);
    const uint32_t n = data->length;
    if (n == 0)
        return 1;
    const uint32_t ext = qnfx::RecursiveExtension(data->sigma);
    const uint64_t total = static_cast<uint64_t>(ext) + n;
    const uint32_t pad = ext / 2;
    if (!GrowBlock(data->work, total * sizeof(double)))
        return 0;
    double* w = reinterpret_cast<double*>(data->work->GetPtr());
    const double* x = data->line;
    const double first = data->constantEdge ? data->constantValue : x[0];
    const double last = data->constantEdge ? data->constantValue : x[n - 1];
    for (uint32_t i = 0; i < pad; ++i)
        w[i] = first;
    std::memcpy(w + pad, x, n * sizeof(double));
    for (uint64_t i = pad + n; i < total; ++i)
        w[i] = last;

    const qnfx::Recursive rc = qnfx::MakeRecursive(*data);
    // Forward pass, in place (each input is read before its slot is written).
    w[0] = rc.sAll * w[0];
    w[1] = rc.B * w[1] + rc.s123 * w[0];
    w[2] = rc.B * w[2] + rc.B1 * w[1] + rc.s23 * w[0];
    for (uint64_t i = 3; i < total; ++i)
        w[i] = rc.B * w[i] + rc.B1 * w[i - 1] + rc.B2 * w[i - 2] + rc.B3 * w[i - 3];
    // Backward pass.
    const uint64_t e = total - 1;
    w[e] = rc.sAll * w[e];
    w[e - 1] = rc.B * w[e - 1] + rc.s123 * w[e];
    w[e - 2] = rc.B * w[e - 2] + rc.B1 * w[e - 1] + rc.s23 * w[e];
    for (uint64_t i = e - 2; i-- > 0;)
        w[i] = rc.B * w[i] + rc.B1 * w[i + 1] + rc.B2 * w[i + 2] + rc.B3 * w[i + 3];
    for (uint32_t i = 0; i < n; ++i)
        data->line[i] = qnfx::Clamp255(w[pad + i]);
    return 1;
}

int CQNF_ImageFX::Blur_BlurVectorHQ(STRUCT_Blur_VectorData* data)
{
    const int64_t n = data->length;
    if (n == 0 || data->sigma < 0.1)
        return 1;
    if (!GrowBlock(data->work, static_cast<uint64_t>(n) * sizeof(double)))
        return 0;
    double* out = reinterpret_cast<double*>(data->work->GetPtr());
    const double* x = data->line;
    const int taps = data->halfWidth;
    const double c = data->constantValue;
    for (int64_t i = 0; i < n; ++i) {
        double sum = 0.0;
        double wsum = 0.0;
        for (int k = 0; k < taps; ++k) {
            const double w = data->weights[k];
            if (i + k < n)
                sum = sum + w * x[i + k];
            else if (data->constantEdge)
                sum = sum + w * c;
            else
                break;
            wsum += w;
        }
        for (int k = 1; k < taps; ++k) {
            const double w = data->weights[k];
            if (i - k >= 0)
                sum = sum + w * x[i - k];
            else if (data->constantEdge)
                sum = sum + w * c;
            else
                break;
            wsum += w;
        }
        out[i] = sum / wsum;
    }
    std::memcpy(data->line, out, static_cast<size_t>(n) * sizeof(double));
    return 1;
}

namespace {

// The recovery over samples `step` bytes apart.
void RecoverStrided(uint8_t* v, const uint8_t* alpha, uint32_t count, size_t step)
{
    auto V = [&](uint32_t i) -> uint8_t& { return v[i * step]; };
    auto A = [&](uint32_t i) { return alpha[i * step]; };
    uint32_t first = 0;
    while (first < count && A(first) == 0)
        ++first;
    if (first == count) {
        for (uint32_t i = 0; i < count; ++i)
            V(i) = 128;
        return;
    }
    for (uint32_t i = 0; i < first; ++i)
        V(i) = V(first);
    uint32_t i = first + 1;
    while (i < count) {
        if (A(i) != 0) {
            ++i;
            continue;
        }
        // A transparent run [a, b) after the visible pixel a - 1.
        const uint32_t a = i;
        uint32_t b = a;
        while (b < count && A(b) == 0)
            ++b;
        const uint32_t m = b == count ? b : a + (b - a) / 2;
        const uint8_t before = V(a - 1);
        for (uint32_t k = a; k < m; ++k)
            V(k) = before;
        if (b < count) {
            const uint8_t after = V(b);
            for (uint32_t k = m; k < b; ++k)
                V(k) = after;
        }
        i = b;
    }
}

}  // namespace

void CQNF_ImageFX::Blur_ZeroAlphaRecoveryData(uint8_t* values, const uint8_t* alpha, uint32_t count)
{
    RecoverStrided(values, alpha, count, 1);
}

namespace {

// Passes over pictures from this size on run in bands on several threads;
// smaller ones (a piece, mostly) are not worth starting threads for.
constexpr uint64_t kParallelPixels = 1u << 18;

// The memory one thread of a pass works in: the lane buffer and the staging
// blocks, grown as needed.
struct PassScratch {
    CQNF_Mem line, work;
    double* Line(uint64_t doubles)
    {
        return GrowBlock(&line, doubles * sizeof(double)) ? reinterpret_cast<double*>(line.GetPtr()) : nullptr;
    }
    uint8_t* Work(uint64_t bytes) { return GrowBlock(&work, bytes) ? work.GetPtr() : nullptr; }
};

// Rows y0 .. y0 + lanes - 1 blurred as columns of a transposed block: the
// lanes then read and write whole registers instead of one byte per row.
// With alpha, each row's transparent pixels are recovered first.
void BlurRowBlock(const qnfx::LaneBlur& lb, double* buf, uint8_t* work, const uint8_t* src, uint32_t srcStride,
                  uint8_t* dst, uint32_t dstStride, const uint8_t* alpha, uint32_t alphaStride, int32_t width,
                  int32_t y0, int lanes, int rowLanes)
{
    const uint64_t block = static_cast<uint64_t>(rowLanes) * width;
    uint8_t* across = work;
    uint8_t* blurred = work + block;
    uint8_t* recovered = work + 2 * block;
    const uint8_t* in = src + static_cast<size_t>(y0) * srcStride;
    size_t inStride = srcStride;
    if (alpha) {
        for (int k = 0; k < lanes; ++k) {
            uint8_t* row = recovered + static_cast<size_t>(k) * width;
            std::memcpy(row, in + static_cast<size_t>(k) * srcStride, width);
            CQNF_ImageFX::Blur_ZeroAlphaRecoveryData(row, alpha + static_cast<size_t>(y0 + k) * alphaStride, width);
        }
        in = recovered;
        inStride = static_cast<size_t>(width);
    }
    qnfx::TransposeBytes(in, inStride, across, rowLanes, lanes, width);
    qnfx::BlurLanes(lb, across, rowLanes, 1, blurred, rowLanes, 1, lanes, buf);
    qnfx::TransposeBytes(blurred, rowLanes, dst + static_cast<size_t>(y0) * dstStride, dstStride, width, lanes);
}

// Columns x0 .. x0 + lanes - 1; with alpha, gathered side by side with
// their alpha for the recovery first (tmp holds 2 kColumnLanes x height).
void BlurColumnBlock(const qnfx::LaneBlur& lb, double* buf, uint8_t* tmp, const uint8_t* src, uint32_t srcStride,
                     uint8_t* dst, uint32_t dstStride, const uint8_t* alpha, uint32_t alphaStride, int32_t height,
                     int32_t x0, int lanes, int columnLanes)
{
    const uint8_t* in = src + x0;
    ptrdiff_t inJ = srcStride;
    ptrdiff_t inK = 1;
    if (alpha) {
        uint8_t* cols = tmp;
        uint8_t* acols = tmp + static_cast<size_t>(columnLanes) * height;
        for (int32_t y = 0; y < height; ++y) {
            const uint8_t* s = src + static_cast<size_t>(y) * srcStride + x0;
            const uint8_t* a = alpha + static_cast<size_t>(y) * alphaStride + x0;
            for (int k = 0; k < lanes; ++k) {
                cols[static_cast<size_t>(k) * height + y] = s[k];
                acols[static_cast<size_t>(k) * height + y] = a[k];
            }
        }
        for (int k = 0; k < lanes; ++k)
            CQNF_ImageFX::Blur_ZeroAlphaRecoveryData(cols + static_cast<size_t>(k) * height,
                                                     acols + static_cast<size_t>(k) * height, height);
        in = cols;
        inJ = 1;
        inK = height;
    }
    qnfx::BlurLanes(lb, in, inJ, inK, dst + x0, dstStride, 1, lanes, buf);
}

// Runs block(part, lane blur, buffer, staging) for every part of a pass: on
// the calling thread with the engine's own blocks, or, for a large picture,
// in bands on the machine's threads, each with its own scratch (and its own
// front-state cache). Every part writes its own rows or columns, so the bytes
// are the same either way. False when memory for a buffer could not be had.
template <class Block>
bool RunPass(const CQNF_ImageFX::STRUCT_Blur_VectorData& kd, uint32_t n, uint32_t parts, uint64_t pixels,
             uint64_t stagingBytes, CQNF_Mem& ownLine, CQNF_Mem& ownWork, Block&& block)
{
    const unsigned threads = pixels >= kParallelPixels ? std::min<unsigned>(qnpar::ThreadCount(), parts) : 1;
    if (threads <= 1) {
        qnfx::FrontCache cache;
        const qnfx::LaneBlur lb = qnfx::MakeLaneBlur(kd, n, &cache);
        if (!GrowBlock(&ownLine, lb.BufferDoubles() * sizeof(double)) || !GrowBlock(&ownWork, stagingBytes))
            return false;
        for (uint32_t part = 0; part < parts; ++part)
            block(part, lb, reinterpret_cast<double*>(ownLine.GetPtr()), ownWork.GetPtr());
        return true;
    }
    std::vector<PassScratch> scratch(threads);
    std::vector<qnfx::FrontCache> caches(threads);
    std::vector<uint8_t> failed(threads, 0);
    qnpar::For(parts, threads, [&](uint32_t part, unsigned worker) {
        const qnfx::LaneBlur lb = qnfx::MakeLaneBlur(kd, n, &caches[worker]);
        double* buf = scratch[worker].Line(lb.BufferDoubles());
        uint8_t* work = scratch[worker].Work(stagingBytes);
        if (!buf || !work) {
            failed[worker] = 1;
            return;
        }
        block(part, lb, buf, work);
    });
    return std::find(failed.begin(), failed.end(), 1) == failed.end();
}

}  // namespace

bool CQNF_ImageFX::i_BlurRows(const STRUCT_Blur_VectorData& kd, const uint8_t* src, uint32_t srcStride,
                              uint8_t* dst, uint32_t dstStride, const uint8_t* alpha, uint32_t alphaStride,
                              int32_t width, int32_t height)
{
    if (width <= 0 || height <= 0)
        return true;
    const uint32_t parts = static_cast<uint32_t>((height + kRowLanes - 1) / kRowLanes);
    const uint64_t staging = static_cast<uint64_t>(kRowLanes) * width * (alpha ? 3 : 2);
    const bool ok = RunPass(kd, static_cast<uint32_t>(width), parts, static_cast<uint64_t>(width) * height, staging,
                            m_memBlurLine, m_memBlurWork,
                            [&](uint32_t part, const qnfx::LaneBlur& lb, double* buf, uint8_t* work) {
                                const int32_t y0 = static_cast<int32_t>(part) * kRowLanes;
                                BlurRowBlock(lb, buf, work, src, srcStride, dst, dstStride, alpha, alphaStride,
                                             width, y0, std::min(kRowLanes, height - y0), kRowLanes);
                            });
    if (!ok)
        SetError(qnerr::NoMemory);
    return ok;
}

bool CQNF_ImageFX::i_BlurColumns(const STRUCT_Blur_VectorData& kd, const uint8_t* src, uint32_t srcStride,
                                 uint8_t* dst, uint32_t dstStride, const uint8_t* alpha, uint32_t alphaStride,
                                 int32_t width, int32_t height)
{
    if (width <= 0 || height <= 0)
        return true;
    const uint32_t parts = static_cast<uint32_t>((width + kColumnLanes - 1) / kColumnLanes);
    const uint64_t staging = alpha ? 2ull * kColumnLanes * static_cast<uint64_t>(height) : 1;
    const bool ok = RunPass(kd, static_cast<uint32_t>(height), parts, static_cast<uint64_t>(width) * height, staging,
                            m_memBlurLine, m_memBlurWork,
                            [&](uint32_t part, const qnfx::LaneBlur& lb, double* buf, uint8_t* tmp) {
                                const int32_t x0 = static_cast<int32_t>(part) * kColumnLanes;
                                BlurColumnBlock(lb, buf, tmp, src, srcStride, dst, dstStride, alpha, alphaStride,
                                                height, x0, std::min(kColumnLanes, width - x0), kColumnLanes);
                            });
    if (!ok)
        SetError(qnerr::NoMemory);
    return ok;
}

int CQNF_ImageFX::GaussianBlur(double sigma, uint8_t blurAlpha, uint8_t recoverTransparent)
{
    if (!i_SameShape())
        return 0;
    if (!std::isfinite(sigma) || sigma > kMaxBlurSigma) {
        SetError(qnerr::BadArgument);
        return 0;
    }
    if (sigma < 0.1) {
        i_CopyAllPlanes();
        return 1;
    }
    STRUCT_Blur_VectorData kd;
    Blur_PrepareBlurData(sigma, &kd, &m_memBlurWork, 0, 0);
    const int alphaPlane = m_src.alpha ? m_src.channels - 1 : -1;
    for (int p = 0; p < m_src.channels; ++p) {
        if (p == alphaPlane && !blurAlpha) {
            i_CopyPlane(p);
            continue;
        }
        // The recovery fills colour under transparent pixels; the alpha plane
        // itself is blurred as it is, or every shape would grow to the line ends.
        const bool recover = recoverTransparent && alphaPlane >= 0 && p != alphaPlane;
        const uint8_t* a = recover ? m_src.planes[alphaPlane] : nullptr;
        if (!i_BlurRows(kd, m_src.planes[p], m_src.stride, m_dst.planes[p], m_dst.stride, a, m_src.stride,
                        m_src.width, m_src.height))
            return 0;
        if (!i_BlurColumns(kd, m_dst.planes[p], m_dst.stride, m_dst.planes[p], m_dst.stride, nullptr, 0,
                           m_src.width, m_src.height))
            return 0;
    }
    return 1;
}

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
