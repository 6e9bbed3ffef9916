// Private to the filter engine: the one-dimensional blur run over many lines
// at once.
//
// A blur of one line is a chain of dependent steps (each recursive output
// needs the previous three), so a line at a time leaves the processor waiting
// on every multiplication. Here K lines ("lanes") advance together: sample j
// of every lane sits in one row of a buffer, and each step of the recurrence
// is one loop across the lanes, which the compiler turns into vector code.
// Each lane sees exactly the operations of Blur_BlurVector in the same order,
// so the bytes are identical; only the schedule differs.
//
// The lanes are read and written through (j, k) strides: a block of image
// columns is (stride, 1), a block of rows is (1, stride).
#pragma once

#include "imaging/ImageFX.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace qnfx {

// The most lanes one call of a lane kernel takes.
inline constexpr int kMaxLanes = 128;

// The recursive coefficients with the sums the first and last steps use,
// each formed in one fixed order.
struct Recursive {
    double B, B1, B2, B3;
    double sAll;  // B + B1 + B2 + B3
    double s123;  // B1 + B2 + B3
    double s23;   // B2 + B3
};

inline Recursive MakeRecursive(const CQNF_ImageFX::STRUCT_Blur_VectorData& d)
{
    Recursive r;
    r.B = d.B;
    r.B1 = d.B1;
    r.B2 = d.B2;
    r.B3 = d.B3;
    r.sAll = d.B + d.B1 + d.B2 + d.B3;
    r.s123 = d.B1 + d.B2 + d.B3;
    r.s23 = d.B2 + d.B3;
    return r;
}

// Samples added to a line by the recursive filter, and the part in front.
inline uint32_t RecursiveExtension(double sigma) { return static_cast<uint32_t>(7.0 * sigma); }

inline double Clamp255(double v) { return v < 0.0 ? 0.0 : (v > 255.0 ? 255.0 : v); }

// A blurred sample as a pixel byte: single precision, truncated toward zero.
inline uint8_t ToByte(double v) { return static_cast<uint8_t>(static_cast<int32_t>(static_cast<float>(Clamp255(v)))); }

// The last three outputs of the forward pass over `pad` copies of x (pad >= 3),
// in the order w[pad-1], w[pad-2], w[pad-3].
inline void FrontState(const Recursive& rc, double x, uint32_t pad, double out[3])
{
    double e3 = rc.sAll * x;                      // w[0]
    double e2 = rc.B * x + rc.s123 * e3;          // w[1]
    double e1 = rc.B * x + rc.B1 * e2 + rc.s23 * e3;  // w[2]
    for (uint32_t i = 3; i < pad; ++i) {
        const double e = rc.B * x + rc.B1 * e1 + rc.B2 * e2 + rc.B3 * e3;
        e3 = e2;
        e2 = e1;
        e1 = e;
    }
    out[0] = e1;
    out[1] = e2;
    out[2] = e3;
}

// Front states of byte-valued lines, computed once per value seen.
struct FrontCache {
    double state[256][3];
    bool have[256] = {};

    const double* Get(const Recursive& rc, uint8_t v, uint32_t pad)
    {
        if (!have[v]) {
            FrontState(rc, v, pad, state[v]);
            have[v] = true;
        }
        return state[v];
    }
};

// Everything a lane kernel needs to know about the blur of one line length.
struct LaneBlur {
    const CQNF_ImageFX::STRUCT_Blur_VectorData* kd;
    Recursive rc;
    uint32_t n;     // samples per lane
    uint32_t pad;   // recursive: samples in front
    uint32_t back;  // recursive: samples behind
    FrontCache* cache;  // replicate rule with byte input; may be null

    // Doubles the lane buffer needs for K lanes.
    uint64_t BufferDoubles(int lanes) const
    {
        if (kd->direct)
            return static_cast<uint64_t>(n) * lanes + lanes;
        return (static_cast<uint64_t>(n) + back + 3) * lanes;
    }
    // True when the blur leaves lines as they are.
    bool Identity() const { return n == 0 || (kd->direct && kd->sigma < 0.1); }
};

inline LaneBlur MakeLaneBlur(const CQNF_ImageFX::STRUCT_Blur_VectorData& kd, uint32_t n, FrontCache* cache)
{
    LaneBlur lb{&kd, MakeRecursive(kd), n, 0, 0, cache};
    const uint32_t ext = RecursiveExtension(kd.sigma);
    lb.pad = ext / 2;
    lb.back = ext - lb.pad;
    return lb;
}

template <class TI>
inline void LoadRow(const TI* p, ptrdiff_t inK, int lanes, double* __restrict x)
{
    if (inK == 1) {
        for (int k = 0; k < lanes; ++k)
            x[k] = static_cast<double>(p[k]);
    } else {
        for (int k = 0; k < lanes; ++k)
            x[k] = static_cast<double>(p[k * inK]);
    }
}

template <class TO>
inline void StoreRow(const double* __restrict v, int lanes, TO* p, ptrdiff_t outK, bool clamp)
{
    if constexpr (std::is_same_v<TO, uint8_t>) {
        (void)clamp;
        if (outK == 1) {
            for (int k = 0; k < lanes; ++k)
                p[k] = ToByte(v[k]);
        } else {
            for (int k = 0; k < lanes; ++k)
                p[k * outK] = ToByte(v[k]);
        }
    } else {
        for (int k = 0; k < lanes; ++k)
            p[k * outK] = static_cast<TO>(clamp ? Clamp255(v[k]) : v[k]);
    }
}

// Recursive filter over K lanes. buf holds (n + back + 3) * K doubles; rows 0..2
// carry the front state, rows 3.. the forward pass.
template <class TI, class TO>
void RecursiveLanes(const LaneBlur& lb, const TI* in, ptrdiff_t inJ, ptrdiff_t inK, TO* out, ptrdiff_t outJ,
                    ptrdiff_t outK, int lanes, double* buf)
{
    const Recursive rc = lb.rc;
    const uint32_t n = lb.n;
    const uint32_t total = n + lb.back;
    const auto& kd = *lb.kd;
    const double c = kd.constantValue;

    // Front state per lane.
    double* s = buf;  // rows 0 (w-3), 1 (w-2), 2 (w-1)
    if (kd.constantEdge) {
        double st[3];
        FrontState(rc, c, lb.pad, st);
        for (int k = 0; k < lanes; ++k) {
            s[2 * lanes + k] = st[0];
            s[lanes + k] = st[1];
            s[k] = st[2];
        }
    } else {
        for (int k = 0; k < lanes; ++k) {
            double st[3];
            const TI first = in[k * inK];
            const double* sp = st;
            if constexpr (std::is_same_v<TI, uint8_t>) {
                if (lb.cache)
                    sp = lb.cache->Get(rc, first, lb.pad);
                else
                    FrontState(rc, first, lb.pad, st);
            } else {
                FrontState(rc, static_cast<double>(first), lb.pad, st);
            }
            s[2 * lanes + k] = sp[0];
            s[lanes + k] = sp[1];
            s[k] = sp[2];
        }
    }

    // Forward pass: the samples, then the back padding.
    double x[kMaxLanes];
    double edge[kMaxLanes];  // padding value per lane
    for (uint32_t j = 0; j < total; ++j) {
        double* __restrict row = buf + static_cast<size_t>(j + 3) * lanes;
        const double* __restrict p1 = row - lanes;
        const double* __restrict p2 = row - 2 * lanes;
        const double* __restrict p3 = row - 3 * lanes;
        const double* xs;
        if (j < n) {
            LoadRow(in + static_cast<ptrdiff_t>(j) * inJ, inK, lanes, x);
            xs = x;
            if (j == n - 1) {
                for (int k = 0; k < lanes; ++k)
                    edge[k] = kd.constantEdge ? c : x[k];
            }
        } else {
            xs = edge;
        }
        for (int k = 0; k < lanes; ++k)
            row[k] = rc.B * xs[k] + rc.B1 * p1[k] + rc.B2 * p2[k] + rc.B3 * p3[k];
    }

    // Backward pass, in place; rows below n are written out.
    for (uint32_t jj = total; jj-- > 0;) {
        double* __restrict row = buf + static_cast<size_t>(jj + 3) * lanes;
        if (jj == total - 1) {
            for (int k = 0; k < lanes; ++k)
                row[k] = rc.sAll * row[k];
        } else if (jj == total - 2) {
            const double* __restrict q1 = row + lanes;
            for (int k = 0; k < lanes; ++k)
                row[k] = rc.B * row[k] + rc.s123 * q1[k];
        } else if (jj == total - 3) {
            const double* __restrict q1 = row + lanes;
            const double* __restrict q2 = row + 2 * lanes;
            for (int k = 0; k < lanes; ++k)
                row[k] = rc.B * row[k] + rc.B1 * q1[k] + rc.s23 * q2[k];
        } else {
            const double* __restrict q1 = row + lanes;
            const double* __restrict q2 = row + 2 * lanes;
            const double* __restrict q3 = row + 3 * lanes;
            for (int k = 0; k < lanes; ++k)
                row[k] = rc.B * row[k] + rc.B1 * q1[k] + rc.B2 * q2[k] + rc.B3 * q3[k];
        }
        if (jj < n)
            StoreRow(row, lanes, out + static_cast<ptrdiff_t>(jj) * outJ, outK, true);
    }
}

// Direct kernel over K lanes. buf holds n * K doubles plus K for the sums.
template <class TI, class TO>
void DirectLanes(const LaneBlur& lb, const TI* in, ptrdiff_t inJ, ptrdiff_t inK, TO* out, ptrdiff_t outJ,
                 ptrdiff_t outK, int lanes, double* buf)
{
    const auto& kd = *lb.kd;
    const int64_t n = lb.n;
    const int taps = kd.halfWidth;
    const bool constant = kd.constantEdge != 0;
    const double c = kd.constantValue;
    for (int64_t j = 0; j < n; ++j)
        LoadRow(in + j * inJ, inK, lanes, buf + j * lanes);
    double* __restrict acc = buf + n * lanes;
    for (int64_t j = 0; j < n; ++j) {
        for (int k = 0; k < lanes; ++k)
            acc[k] = 0.0;
        double wsum = 0.0;
        for (int t = 0; t < taps; ++t) {
            const double w = kd.weights[t];
            if (j + t < n) {
                const double* __restrict xr = buf + (j + t) * lanes;
                for (int k = 0; k < lanes; ++k)
                    acc[k] = acc[k] + w * xr[k];
            } else if (constant) {
                for (int k = 0; k < lanes; ++k)
                    acc[k] = acc[k] + w * c;
            } else {
                break;
            }
            wsum += w;
        }
        for (int t = 1; t < taps; ++t) {
            const double w = kd.weights[t];
            if (j - t >= 0) {
                const double* __restrict xr = buf + (j - t) * lanes;
                for (int k = 0; k < lanes; ++k)
                    acc[k] = acc[k] + w * xr[k];
            } else if (constant) {
                for (int k = 0; k < lanes; ++k)
                    acc[k] = acc[k] + w * c;
            } else {
                break;
            }
            wsum += w;
        }
        for (int k = 0; k < lanes; ++k)
            acc[k] = acc[k] / wsum;
        StoreRow(acc, lanes, out + j * outJ, outK, false);
    }
}

// Blurs K lanes of n samples from in to out (which may be the same memory).
template <class TI, class TO>
void BlurLanes(const LaneBlur& lb, const TI* in, ptrdiff_t inJ, ptrdiff_t inK, TO* out, ptrdiff_t outJ,
               ptrdiff_t outK, int lanes, double* buf)
{
    if (lb.n == 0)
        return;
    if (lb.Identity()) {
        for (uint32_t j = 0; j < lb.n; ++j)
            for (int k = 0; k < lanes; ++k)
                out[j * outJ + k * outK] = static_cast<TO>(in[j * inJ + k * inK]);
        return;
    }
    if (lb.kd->direct)
        DirectLanes(lb, in, inJ, inK, out, outJ, outK, lanes, buf);
    else
        RecursiveLanes(lb, in, inJ, inK, out, outJ, outK, lanes, buf);
}

}  // namespace qnfx
