// The blurs of the filter engine: the one-dimensional kernel (recursive
// Gaussian of Young and van Vliet, or a short direct kernel for small sigma),
// the transparent-pixel recovery, GaussianBlur and MotionBlur.
#include "imaging/ImageFX.h"
#include "imaging/ImageFX_Kernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Lanes per call: rows of a horizontal pass read K streams at once; columns
// of a vertical pass one cache line of each row.
constexpr int kRowLanes = 16;
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
    if (sigma < 1.5) {
        const double t = sigma < 0.1 ? 0.1 : 1.5 * sigma + 0.1;
        const int n = static_cast<int>(3.8 * t) + 2;
        if (n < 20) {
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

void CQNF_ImageFX::Blur_ZeroAlphaRecoveryData(uint8_t* values, const uint8_t* alpha, uint32_t count)
{
    uint32_t first = 0;
    while (first < count && alpha[first] == 0)
        ++first;
    if (first == count) {
        std::memset(values, 128, count);
        return;
    }
    std::memset(values, values[first], first);
    uint32_t i = first + 1;
    while (i < count) {
        if (alpha[i] != 0) {
            ++i;
            continue;
        }
        // A transparent run [a, b) after the visible pixel a - 1.
        const uint32_t a = i;
        uint32_t b = a;
        while (b < count && alpha[b] == 0)
            ++b;
        if (b == count) {
            std::memset(values + a, values[a - 1], b - a);
        } else {
            const uint32_t m = a + (b - a) / 2;
            std::memset(values + a, values[a - 1], m - a);
            std::memset(values + m, values[b], b - m);
        }
        i = b;
    }
}

bool CQNF_ImageFX::i_BlurRows(const STRUCT_Blur_VectorData& kd, const uint8_t* src, uint32_t srcStride,
                              uint8_t* dst, uint32_t dstStride, const uint8_t* alpha, uint32_t alphaStride,
                              int32_t width, int32_t height)
{
    if (width <= 0 || height <= 0)
        return true;
    qnfx::FrontCache cache;
    const qnfx::LaneBlur lb = qnfx::MakeLaneBlur(kd, static_cast<uint32_t>(width), &cache);
    double* buf = reinterpret_cast<double*>(i_Grow(m_memBlurLine, lb.BufferDoubles(kRowLanes) * sizeof(double)));
    if (!buf)
        return false;
    uint8_t* tmp = nullptr;
    if (alpha) {
        tmp = i_Grow(m_memBlurWork, static_cast<uint64_t>(kRowLanes) * width);
        if (!tmp)
            return false;
    }
    for (int32_t y0 = 0; y0 < height; y0 += kRowLanes) {
        const int lanes = std::min(kRowLanes, height - y0);
        const uint8_t* in = src + static_cast<size_t>(y0) * srcStride;
        ptrdiff_t inK = srcStride;
        if (alpha) {
            for (int k = 0; k < lanes; ++k) {
                uint8_t* row = tmp + static_cast<size_t>(k) * width;
                std::memcpy(row, in + static_cast<size_t>(k) * srcStride, width);
                Blur_ZeroAlphaRecoveryData(row, alpha + static_cast<size_t>(y0 + k) * alphaStride, width);
            }
            in = tmp;
            inK = width;
        }
        qnfx::BlurLanes(lb, in, 1, inK, dst + static_cast<size_t>(y0) * dstStride, 1, dstStride, lanes, buf);
    }
    return true;
}

bool CQNF_ImageFX::i_BlurColumns(const STRUCT_Blur_VectorData& kd, const uint8_t* src, uint32_t srcStride,
                                 uint8_t* dst, uint32_t dstStride, const uint8_t* alpha, uint32_t alphaStride,
                                 int32_t width, int32_t height)
{
    if (width <= 0 || height <= 0)
        return true;
    qnfx::FrontCache cache;
    const qnfx::LaneBlur lb = qnfx::MakeLaneBlur(kd, static_cast<uint32_t>(height), &cache);
    double* buf =
        reinterpret_cast<double*>(i_Grow(m_memBlurLine, lb.BufferDoubles(kColumnLanes) * sizeof(double)));
    if (!buf)
        return false;
    uint8_t* tmp = nullptr;
    if (alpha) {
        tmp = i_Grow(m_memBlurWork, 2ull * kColumnLanes * static_cast<uint64_t>(height));
        if (!tmp)
            return false;
    }
    for (int32_t x0 = 0; x0 < width; x0 += kColumnLanes) {
        const int lanes = std::min(kColumnLanes, width - x0);
        const uint8_t* in = src + x0;
        ptrdiff_t inJ = srcStride;
        ptrdiff_t inK = 1;
        if (alpha) {
            // Columns side by side, each with its alpha, for the recovery.
            uint8_t* cols = tmp;
            uint8_t* acols = tmp + static_cast<size_t>(kColumnLanes) * height;
            for (int32_t y = 0; y < height; ++y) {
                const uint8_t* s = src + static_cast<size_t>(y) * srcStride + x0;
                const uint8_t* a = alpha + static_cast<size_t>(y) * alphaStride + x0;
                for (int k = 0; k < lanes; ++k) {
                    cols[static_cast<size_t>(k) * height + y] = s[k];
                    acols[static_cast<size_t>(k) * height + y] = a[k];
                }
            }
            for (int k = 0; k < lanes; ++k)
                Blur_ZeroAlphaRecoveryData(cols + static_cast<size_t>(k) * height,
                                           acols + static_cast<size_t>(k) * height, height);
            in = cols;
            inJ = 1;
            inK = height;
        }
        qnfx::BlurLanes(lb, in, inJ, inK, dst + x0, dstStride, 1, lanes, buf);
    }
    return true;
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
// the pixel at index i across the lines (column or row) and position v along
// them; a negative v step gives the mirrored case.
struct LineView {
    uint8_t* base;
    ptrdiff_t si;
    ptrdiff_t sv;

    uint8_t& At(int64_t i, int64_t v) const { return base[i * si + v * sv]; }
};

LineView MakeView(uint8_t* plane, uint32_t stride, bool byRows, bool mirrored, int64_t nv)
{
    LineView view{plane, byRows ? static_cast<ptrdiff_t>(stride) : 1, byRows ? 1 : static_cast<ptrdiff_t>(stride)};
    if (mirrored) {
        view.base += (nv - 1) * view.sv;
        view.sv = -view.sv;
    }
    return view;
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
    const bool byRows = angle > 45.0;
    const int64_t ni = byRows ? m_src.height : m_src.width;  // indices across the lines
    const int64_t nv = byRows ? m_src.width : m_src.height;  // positions along them
    if (ni <= 0 || nv <= 0)
        return true;

    int32_t* offsets = reinterpret_cast<int32_t*>(i_Grow(m_memMotionOffsets, ni * sizeof(int32_t)));
    float* fracs = reinterpret_cast<float*>(i_Grow(m_memMotionFracs, ni * sizeof(float)));
    uint8_t* gather = i_Grow(m_memMotionGather, 3 * static_cast<uint64_t>(std::max(ni, nv)));
    if (!offsets || !fracs || !gather)
        return false;
    const double t = byRows ? std::tan((angle - 90.0) * M_PI / 180.0) : std::tan(angle * M_PI / 180.0);
    for (int64_t i = 0; i < ni; ++i) {
        const double s = byRows ? -static_cast<double>(i) * t : static_cast<double>(i) * t;
        offsets[i] = static_cast<int32_t>(static_cast<float>(s));
        fracs[i] = static_cast<float>(s - offsets[i]);
    }
    const int64_t lines = static_cast<int64_t>(offsets[ni - 1]) + nv;

    qnfx::FrontCache cache;
    uint8_t* values = gather;
    uint8_t* alphas = gather + std::max(ni, nv);
    uint8_t* blurred = alphas + std::max(ni, nv);
    const int alphaPlane = m_src.alpha ? m_src.channels - 1 : -1;
    for (int p = 0; p < m_src.channels; ++p) {
        if (p == alphaPlane && !blurAlpha) {
            i_CopyPlane(p);
            continue;
        }
        const bool rec = recover && alphaPlane >= 0 && p != alphaPlane;
        const LineView sv = MakeView(m_src.planes[p], m_src.stride, byRows, mirrored, nv);
        const LineView dv = MakeView(m_dst.planes[p], m_dst.stride, byRows, mirrored, nv);
        const LineView av = rec ? MakeView(m_src.planes[alphaPlane], m_src.stride, byRows, mirrored, nv) : sv;
        // Each pixel lies on exactly one line: blur every line and store it.
        int64_t i0 = 0;
        int64_t i1 = 0;
        for (int64_t line = 0; line < lines; ++line) {
            // The run of the line: offsets in (line - nv, line].
            while (i0 < ni && offsets[i0] <= line - nv)
                ++i0;
            if (i1 < i0)
                i1 = i0;
            while (i1 < ni && offsets[i1] <= line)
                ++i1;
            if (i1 <= i0)
                continue;
            const int64_t n = i1 - i0;
            for (int64_t k = 0; k < n; ++k)
                values[k] = sv.At(i0 + k, line - offsets[i0 + k]);
            if (rec) {
                for (int64_t k = 0; k < n; ++k)
                    alphas[k] = av.At(i0 + k, line - offsets[i0 + k]);
                Blur_ZeroAlphaRecoveryData(values, alphas, static_cast<uint32_t>(n));
            }
            const qnfx::LaneBlur lb = qnfx::MakeLaneBlur(kd, static_cast<uint32_t>(n), &cache);
            double* buf = reinterpret_cast<double*>(i_Grow(m_memMotionLine, lb.BufferDoubles(1) * sizeof(double)));
            if (!buf)
                return false;
            qnfx::BlurLanes(lb, values, 1, 0, blurred, 1, 0, 1, buf);
            for (int64_t k = 0; k < n; ++k)
                dv.At(i0 + k, line - offsets[i0 + k]) = blurred[k];
        }
        // Then every pixel but the last along its line takes a share of the
        // next one, as far as its line sits off the pixel grid.
        if (!byRows) {
            for (int64_t v = 1; v < nv; ++v) {
                uint8_t* prev = &dv.At(0, v - 1);
                const uint8_t* cur = &dv.At(0, v);
                for (int64_t i = 0; i < ni; ++i)
                    prev[i] = BlendFrac(prev[i], cur[i], fracs[i]);
            }
        } else {
            for (int64_t i = 0; i < ni; ++i) {
                const float f = fracs[i];
                for (int64_t v = 1; v < nv; ++v) {
                    uint8_t& prev = dv.At(i, v - 1);
                    prev = BlendFrac(prev, dv.At(i, v), f);
                }
            }
        }
    }
    return true;
}
