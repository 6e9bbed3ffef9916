// The blurs of the filter engine: the one-dimensional kernel (recursive
// Gaussian of Young and van Vliet, or a short direct kernel for small sigma),
// the transparent-pixel recovery, the row and column passes, and
// GaussianBlur. MotionBlur is in ImageFX_Motion.cpp.
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

namespace qnfx {

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

}  // namespace qnfx

void CQNF_ImageFX::Blur_ZeroAlphaRecoveryData(uint8_t* values, const uint8_t* alpha, uint32_t count)
{
    qnfx::RecoverStrided(values, alpha, count, 1);
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

// The direct kernel over a whole plane in one pass (BlurPlaneDirect), in
// parts of rows on several threads for a large picture; each part redoes
// the row blur of the few rows its columns reach beyond it, with the same
// bytes. Parts read rows other parts write when src is dst, so that case
// runs here only on one thread; false with `declined` set sends it to the
// two passes. False without `declined` when memory could not be had.
bool FusedDirectPlane(const CQNF_ImageFX::STRUCT_Blur_VectorData& kd, const uint8_t* src, uint32_t srcStride,
                      uint8_t* dst, uint32_t dstStride, const uint8_t* alpha, uint32_t alphaStride, int32_t width,
                      int32_t height, CQNF_Mem& ownFloats, CQNF_Mem& ownBytes, bool& declined)
{
    declined = false;
    if (width <= 0 || height <= 0)
        return true;
    const uint64_t pixels = static_cast<uint64_t>(width) * height;
    unsigned threads = pixels >= kParallelPixels ? qnpar::ThreadCount() : 1;
    if (threads > 1 && src == dst) {
        declined = true;
        return false;
    }
    const qnfx::LaneBlur rowLb = qnfx::MakeLaneBlur(kd, static_cast<uint32_t>(width), nullptr);
    const qnfx::LaneBlur colLb = qnfx::MakeLaneBlur(kd, static_cast<uint32_t>(height), nullptr);
    const uint64_t floats = qnfx::FusedFloats(static_cast<uint64_t>(width), kd.halfWidth) * sizeof(float);
    const uint64_t bytes = static_cast<uint64_t>(width) + qnfx::kChunk;
    // Parts of at least 128 rows keep the redone rows under a tenth or so.
    constexpr int32_t kLeastPartRows = 128;
    int32_t partRows = height;
    if (threads > 1) {
        const int32_t even = (height + static_cast<int32_t>(2 * threads) - 1) / static_cast<int32_t>(2 * threads);
        partRows = std::max(kLeastPartRows, even);
        partRows = (partRows + qnfx::kFuseRows - 1) / qnfx::kFuseRows * qnfx::kFuseRows;
    }
    const uint32_t parts = static_cast<uint32_t>((height + partRows - 1) / partRows);
    threads = std::min<unsigned>(threads, parts);
    auto run = [&](uint32_t part, float* f, uint8_t* b) {
        const int64_t y0 = static_cast<int64_t>(part) * partRows;
        const int64_t y1 = std::min<int64_t>(y0 + partRows, height);
        qnfx::BlurPlaneDirect(rowLb, colLb, src, srcStride, dst, dstStride, alpha, alphaStride, y0, y1, f, b);
    };
    if (threads <= 1) {
        if (!GrowBlock(&ownFloats, floats) || !GrowBlock(&ownBytes, bytes))
            return false;
        for (uint32_t part = 0; part < parts; ++part)
            run(part, reinterpret_cast<float*>(ownFloats.GetPtr()), ownBytes.GetPtr());
        return true;
    }
    std::vector<PassScratch> scratch(threads);
    std::vector<uint8_t> failed(threads, 0);
    qnpar::For(parts, threads, [&](uint32_t part, unsigned worker) {
        double* f = scratch[worker].Line((floats + sizeof(double) - 1) / sizeof(double));
        uint8_t* b = scratch[worker].Work(bytes);
        if (!f || !b) {
            failed[worker] = 1;
            return;
        }
        run(part, reinterpret_cast<float*>(f), b);
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
    // The direct kernel reads each row once for a wide band of columns.
    const bool band = kd.direct && !alpha;
    const int columnLanes = band ? qnfx::kBandLanes : kColumnLanes;
    const uint32_t parts = static_cast<uint32_t>((width + columnLanes - 1) / columnLanes);
    const uint64_t staging = alpha ? 2ull * kColumnLanes * static_cast<uint64_t>(height) : 1;
    const bool ok = RunPass(kd, static_cast<uint32_t>(height), parts, static_cast<uint64_t>(width) * height, staging,
                            m_memBlurLine, m_memBlurWork,
                            [&](uint32_t part, const qnfx::LaneBlur& lb, double* buf, uint8_t* tmp) {
                                const int32_t x0 = static_cast<int32_t>(part) * columnLanes;
                                if (band) {
                                    qnfx::BlurBand(lb, src + x0, srcStride, dst + x0, dstStride,
                                                   std::min(columnLanes, width - x0), buf);
                                    return;
                                }
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
        if (kd.direct) {
            bool declined = false;
            if (FusedDirectPlane(kd, m_src.planes[p], m_src.stride, m_dst.planes[p], m_dst.stride, a, m_src.stride,
                                 m_src.width, m_src.height, m_memBlurLine, m_memBlurWork, declined))
                continue;
            if (!declined) {
                SetError(qnerr::NoMemory);
                return 0;
            }
        }
        if (!i_BlurRows(kd, m_src.planes[p], m_src.stride, m_dst.planes[p], m_dst.stride, a, m_src.stride,
                        m_src.width, m_src.height))
            return 0;
        if (!i_BlurColumns(kd, m_dst.planes[p], m_dst.stride, m_dst.planes[p], m_dst.stride, nullptr, 0,
                           m_src.width, m_src.height))
            return 0;
    }
    return 1;
}
