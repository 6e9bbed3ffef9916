// Slow references for the blur tests, written here from the algorithm's
// description, and the pictures and runs they are held against.
#pragma once

#include "imaging/ImageFX.h"
#include "imaging/ImageFX_Kernels.h"
#include "test_fx_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace fxblurtest {

using fxtest::Planes;

// ---- Slow references -------------------------------------------------------

// One line through the recursive Gaussian or the direct kernel, sample by
// sample, exactly as described. The kernel itself (the sampled taps, or the
// recursive coefficients) is the one Blur_PrepareBlurData chooses: what it
// must be is checked on its own, by the properties of a Gaussian, in
// FxBlurLine.KernelsAreGaussians.
inline std::vector<double> RefBlurLine(double sigma, std::vector<double> x, bool constant, double c)
{
    const size_t n = x.size();
    if (n == 0)
        return x;
    CQNF_Mem work;
    CQNF_ImageFX::STRUCT_Blur_VectorData kd;
    CQNF_ImageFX::Blur_PrepareBlurData(sigma, &kd, &work, 0, 0);
    if (kd.direct) {
        const int taps = kd.halfWidth;
        const double* w = kd.weights;
        std::vector<double> out(n);
        for (size_t i = 0; i < n; ++i) {
            double sum = 0.0, ws = 0.0;
            for (int k = 0; k < taps; ++k) {
                const long pos = static_cast<long>(i) + k;
                if (pos < static_cast<long>(n))
                    sum = sum + w[k] * x[pos];
                else if (constant)
                    sum = sum + w[k] * c;
                else
                    break;
                ws += w[k];
            }
            for (int k = 1; k < taps; ++k) {
                const long pos = static_cast<long>(i) - k;
                if (pos >= 0)
                    sum = sum + w[k] * x[pos];
                else if (constant)
                    sum = sum + w[k] * c;
                else
                    break;
                ws += w[k];
            }
            out[i] = sum / ws;
        }
        return out;
    }
    const double B1 = kd.B1, B2 = kd.B2, B3 = kd.B3, B = kd.B;
    const size_t L = static_cast<size_t>(7.0 * sigma) + n;
    const size_t pad = (L - n) / 2;
    std::vector<double> w(L);
    for (size_t i = 0; i < L; ++i) {
        if (i < pad)
            w[i] = constant ? c : x[0];
        else if (i < pad + n)
            w[i] = x[i - pad];
        else
            w[i] = constant ? c : x[n - 1];
    }
    w[0] = (B + B1 + B2 + B3) * w[0];
    w[1] = B * w[1] + (B1 + B2 + B3) * w[0];
    w[2] = B * w[2] + B1 * w[1] + (B2 + B3) * w[0];
    for (size_t i = 3; i < L; ++i)
        w[i] = B * w[i] + B1 * w[i - 1] + B2 * w[i - 2] + B3 * w[i - 3];
    w[L - 1] = (B + B1 + B2 + B3) * w[L - 1];
    w[L - 2] = B * w[L - 2] + (B1 + B2 + B3) * w[L - 1];
    w[L - 3] = B * w[L - 3] + B1 * w[L - 2] + (B2 + B3) * w[L - 1];
    for (long i = static_cast<long>(L) - 4; i >= 0; --i)
        w[i] = B * w[i] + B1 * w[i + 1] + B2 * w[i + 2] + B3 * w[i + 3];
    std::vector<double> out(n);
    for (size_t i = 0; i < n; ++i)
        out[i] = std::min(255.0, std::max(0.0, w[pad + i]));
    return out;
}

// Each transparent pixel from its nearest visible neighbours.
inline void RefRecover(std::vector<uint8_t>& v, const std::vector<uint8_t>& a)
{
    const std::vector<uint8_t> orig = v;
    const long n = static_cast<long>(v.size());
    for (long i = 0; i < n; ++i) {
        if (a[i] != 0)
            continue;
        long p = i - 1, q = i + 1;
        while (p >= 0 && a[p] == 0)
            --p;
        while (q < n && a[q] == 0)
            ++q;
        if (p < 0 && q >= n)
            v[i] = 128;
        else if (p < 0)
            v[i] = orig[q];
        else if (q >= n)
            v[i] = orig[p];
        else
            v[i] = i < (p + 1) + (q - (p + 1)) / 2 ? orig[p] : orig[q];
    }
}

inline std::vector<uint8_t> BlurBytes(double sigma, const std::vector<uint8_t>& in)
{
    std::vector<double> line(in.begin(), in.end());
    line = RefBlurLine(sigma, line, false, 0.0);
    std::vector<uint8_t> out(in.size());
    for (size_t i = 0; i < in.size(); ++i)
        out[i] = fxtest::Byte(line[i]);
    return out;
}

inline Planes RefGaussian(const Planes& s, double sigma, bool blurAlpha, bool recover)
{
    Planes d = fxtest::Like(s);
    const int ap = s.alpha ? s.channels - 1 : -1;
    for (int p = 0; p < s.channels; ++p) {
        for (int y = 0; y < s.h; ++y)
            for (int x = 0; x < s.w; ++x)
                d.At(p, x, y) = s.At(p, x, y);
        if (sigma < 0.1 || (p == ap && !blurAlpha))
            continue;
        for (int y = 0; y < s.h; ++y) {
            std::vector<uint8_t> row(s.w), al(s.w);
            for (int x = 0; x < s.w; ++x) {
                row[x] = s.At(p, x, y);
                if (ap >= 0)
                    al[x] = s.At(ap, x, y);
            }
            if (recover && ap >= 0 && p != ap)
                RefRecover(row, al);
            row = BlurBytes(sigma, row);
            for (int x = 0; x < s.w; ++x)
                d.At(p, x, y) = row[x];
        }
        for (int x = 0; x < s.w; ++x) {
            std::vector<uint8_t> col(s.h);
            for (int y = 0; y < s.h; ++y)
                col[y] = d.At(p, x, y);
            col = BlurBytes(sigma, col);
            for (int y = 0; y < s.h; ++y)
                d.At(p, x, y) = col[y];
        }
    }
    return d;
}

// The motion blur walked line by line, storing each value and blending it
// into the previous pixel of its column (or row) as it goes.
inline Planes RefMotion(const Planes& s, double angle, double dist, bool blurAlpha, bool recover)
{
    Planes d = fxtest::Like(s);
    const int ap = s.alpha ? s.channels - 1 : -1;
    for (int p = 0; p < s.channels; ++p)
        for (int y = 0; y < s.h; ++y)
            for (int x = 0; x < s.w; ++x)
                d.At(p, x, y) = s.At(p, x, y);
    if (dist < 0.1)
        return d;
    while (angle > 180.0)
        angle -= 180.0;
    while (angle < 0.0)
        angle += 180.0;
    const bool horizontal = angle < 0.1 || angle > 179.9;
    const bool vertical = angle > 89.9 && angle < 90.1;
    const bool mirrored = angle > 90.0;
    if (mirrored)
        angle = 180.0 - angle;
    const bool byRows = angle > 45.0;
    const int ni = horizontal ? s.h : vertical ? s.w : byRows ? s.h : s.w;
    const int nv = horizontal ? s.w : vertical ? s.h : byRows ? s.w : s.h;
    // Pixel of index i at position v along its line, in plane p.
    auto px = [&](const Planes& pl, int p, int i, int v) -> uint8_t {
        if (horizontal)
            return pl.At(p, v, i);
        if (vertical)
            return pl.At(p, i, v);
        const int vv = mirrored ? nv - 1 - v : v;
        return byRows ? pl.At(p, vv, i) : pl.At(p, i, vv);
    };
    auto put = [&](int p, int i, int v, uint8_t value) {
        if (horizontal)
            d.At(p, v, i) = value;
        else if (vertical)
            d.At(p, i, v) = value;
        else {
            const int vv = mirrored ? nv - 1 - v : v;
            (byRows ? d.At(p, vv, i) : d.At(p, i, vv)) = value;
        }
    };
    std::vector<int> off(ni, 0);
    std::vector<float> frac(ni, 0.0f);
    if (!horizontal && !vertical) {
        for (int i = 0; i < ni; ++i) {
            const double sv = byRows ? -static_cast<double>(i) * std::tan((angle - 90.0) * M_PI / 180.0)
                                     : static_cast<double>(i) * std::tan(angle * M_PI / 180.0);
            off[i] = static_cast<int>(static_cast<float>(sv));
            frac[i] = static_cast<float>(sv - off[i]);
        }
    }
    const bool straight = horizontal || vertical;
    for (int p = 0; p < s.channels; ++p) {
        if (p == ap && !blurAlpha)
            continue;
        const bool rec = recover && ap >= 0 && p != ap;
        const int lines = straight ? ni : off[ni - 1] + nv;
        for (int L = 0; L < lines; ++L) {
            // Walk the indices; straight lines cover all positions.
            std::vector<int> is, vs;
            if (straight) {
                for (int v = 0; v < nv; ++v) {
                    is.push_back(L);
                    vs.push_back(v);
                }
            } else {
                int i = 0;
                while (i < ni && !(L - off[i] >= 0 && L - off[i] < nv))
                    ++i;
                while (i < ni && L - off[i] >= 0 && L - off[i] < nv) {
                    is.push_back(i);
                    vs.push_back(L - off[i]);
                    ++i;
                }
            }
            if (is.empty())
                continue;
            std::vector<uint8_t> vals(is.size()), al(is.size());
            for (size_t k = 0; k < is.size(); ++k) {
                vals[k] = px(s, p, is[k], vs[k]);
                if (ap >= 0)
                    al[k] = px(s, ap, is[k], vs[k]);
            }
            if (rec)
                RefRecover(vals, al);
            vals = BlurBytes(dist, vals);
            for (size_t k = 0; k < is.size(); ++k) {
                const int v = vs[k];
                put(p, is[k], v, vals[k]);
                if (!straight && v > 0) {
                    const uint8_t old = px(d, p, is[k], v - 1);
                    const float f = frac[is[k]];
                    const float r = static_cast<float>(old) * (1.0f - f) + f * static_cast<float>(vals[k]);
                    put(p, is[k], v - 1, static_cast<uint8_t>(static_cast<int>(r)));
                }
            }
        }
    }
    return d;
}

inline Planes FlipV(const Planes& s)
{
    Planes d = s;
    for (int p = 0; p < s.channels; ++p)
        for (int y = 0; y < s.h; ++y)
            for (int x = 0; x < s.w; ++x)
                d.At(p, x, y) = s.At(p, x, s.h - 1 - y);
    return d;
}

inline Planes Rgba(int w, int h, uint32_t seed)
{
    Planes s(w, h, 4, true);
    s.FillPicture(seed);
    s.FillEllipseAlpha();
    return s;
}

inline Planes RunGaussian(Planes& s, double sigma, bool blurAlpha, bool recover, int* ok = nullptr)
{
    CQNF_ImageFX fx;
    Planes d = fxtest::Like(s);
    EXPECT_TRUE(fxtest::Bind(fx, s, d));
    const int r = fx.GaussianBlur(sigma, blurAlpha, recover);
    if (ok)
        *ok = r;
    else
        EXPECT_EQ(r, 1) << "error " << fx.GetError();
    EXPECT_TRUE(d.PaddingIntact());
    return d;
}

inline Planes RunMotion(Planes& s, double angle, double dist, bool blurAlpha, bool recover)
{
    CQNF_ImageFX fx;
    Planes d = fxtest::Like(s);
    EXPECT_TRUE(fxtest::Bind(fx, s, d));
    EXPECT_EQ(fx.MotionBlur(angle, dist, blurAlpha, recover), 1) << "error " << fx.GetError();
    EXPECT_TRUE(d.PaddingIntact());
    return d;
}

}  // namespace fxblurtest
