// Blurs of the filter engine, held against slow line-by-line references
// written here from the algorithm's description, against a double-precision
// Gaussian convolution, and against the identities and edge cases.
#include "imaging/ImageFX.h"
#include "imaging/ImageFX_Kernels.h"
#include "test_fx_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <limits>
#include <vector>

using fxtest::Planes;

namespace {

// ---- Slow references -------------------------------------------------------

// One line through the recursive Gaussian or the direct kernel, sample by
// sample, exactly as described. The kernel itself (the sampled taps, or the
// recursive coefficients) is the one Blur_PrepareBlurData chooses: what it
// must be is checked on its own, by the properties of a Gaussian, in
// FxBlurLine.KernelsAreGaussians.
std::vector<double> RefBlurLine(double sigma, std::vector<double> x, bool constant, double c)
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
void RefRecover(std::vector<uint8_t>& v, const std::vector<uint8_t>& a)
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

std::vector<uint8_t> BlurBytes(double sigma, const std::vector<uint8_t>& in)
{
    std::vector<double> line(in.begin(), in.end());
    line = RefBlurLine(sigma, line, false, 0.0);
    std::vector<uint8_t> out(in.size());
    for (size_t i = 0; i < in.size(); ++i)
        out[i] = fxtest::Byte(line[i]);
    return out;
}

Planes RefGaussian(const Planes& s, double sigma, bool blurAlpha, bool recover)
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
Planes RefMotion(const Planes& s, double angle, double dist, bool blurAlpha, bool recover)
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

Planes FlipV(const Planes& s)
{
    Planes d = s;
    for (int p = 0; p < s.channels; ++p)
        for (int y = 0; y < s.h; ++y)
            for (int x = 0; x < s.w; ++x)
                d.At(p, x, y) = s.At(p, x, s.h - 1 - y);
    return d;
}

Planes Rgba(int w, int h, uint32_t seed)
{
    Planes s(w, h, 4, true);
    s.FillPicture(seed);
    s.FillEllipseAlpha();
    return s;
}

Planes RunGaussian(Planes& s, double sigma, bool blurAlpha, bool recover, int* ok = nullptr)
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

Planes RunMotion(Planes& s, double angle, double dist, bool blurAlpha, bool recover)
{
    CQNF_ImageFX fx;
    Planes d = fxtest::Like(s);
    EXPECT_TRUE(fxtest::Bind(fx, s, d));
    EXPECT_EQ(fx.MotionBlur(angle, dist, blurAlpha, recover), 1) << "error " << fx.GetError();
    EXPECT_TRUE(d.PaddingIntact());
    return d;
}

}  // namespace

// ---- The one-dimensional kernel --------------------------------------------

TEST(FxBlurLine, BlurVectorMatchesReferenceForBothEdgeRules)
{
    std::mt19937 rng(7);
    for (double sigma : {0.05, 0.3, 1.0, 1.49, 1.5, 2.2, 2.5, 4.0, 11.3, 60.0}) {
        for (size_t n : {1u, 2u, 5u, 64u, 333u}) {
            for (int constant = 0; constant < 2; ++constant) {
                std::vector<double> x(n);
                for (auto& v : x)
                    v = (rng() % 25600) / 100.0;
                CQNF_Mem work;
                CQNF_ImageFX::STRUCT_Blur_VectorData kd;
                CQNF_ImageFX::Blur_PrepareBlurData(sigma, &kd, &work, static_cast<uint8_t>(constant), 17);
                std::vector<double> got = x;
                kd.line = got.data();
                kd.length = static_cast<uint32_t>(n);
                ASSERT_EQ(CQNF_ImageFX::Blur_BlurVector(&kd), 1);
                const std::vector<double> want = RefBlurLine(sigma, x, constant != 0, 17.0);
                for (size_t i = 0; i < n; ++i)
                    ASSERT_EQ(got[i], want[i]) << "sigma " << sigma << " n " << n << " i " << i;
            }
        }
    }
}

TEST(FxBlurLine, KernelsAreGaussians)
{
    // Below sigma 1.5: taps sampled from one Gaussian (centre 1000), wider
    // than sigma so that a small blur still shows, growing with sigma, and
    // cut where a tap has faded under 0.1 % of the centre but not before it
    // falls under 0.1 % of the centre.
    CQNF_Mem work;
    CQNF_ImageFX::STRUCT_Blur_VectorData kd;
    double lastWidth = 0.0;
    for (double sigma : {0.2, 0.5, 0.8, 1.0, 1.2, 1.49}) {
        CQNF_ImageFX::Blur_PrepareBlurData(sigma, &kd, &work, 0, 0);
        ASSERT_EQ(kd.direct, 1) << sigma;
        ASSERT_GE(kd.halfWidth, 2);
        ASSERT_LE(kd.halfWidth, 20);
        EXPECT_DOUBLE_EQ(kd.weights[0], 1000.0);
        const double t = std::sqrt(-1.0 / (2.0 * std::log(kd.weights[1] / 1000.0)));
        for (int i = 0; i < kd.halfWidth; ++i)
            EXPECT_NEAR(kd.weights[i], 1000.0 * std::exp(-i * i / (2.0 * t * t)), 1e-9) << sigma << " tap " << i;
        EXPECT_GT(t, sigma);
        EXPECT_GT(t, lastWidth);
        lastWidth = t;
        EXPECT_LT(kd.weights[kd.halfWidth - 1], 1.0) << sigma;
        EXPECT_GE(kd.weights[kd.halfWidth - 2], 0.5) << sigma;
    }
    // From sigma 1.5 on: a recursive filter of unit gain whose impulse
    // response spreads like the Gaussian it stands for (a little wider, as
    // this approximation is known to be: at most a fifth).
    for (double sigma : {1.5, 2.5, 4.0, 9.0}) {
        CQNF_ImageFX::Blur_PrepareBlurData(sigma, &kd, &work, 1, 0);
        ASSERT_EQ(kd.direct, 0) << sigma;
        EXPECT_NEAR(kd.B + kd.B1 + kd.B2 + kd.B3, 1.0, 1e-12);
        std::vector<double> x(801, 0.0);
        x[400] = 1.0;
        kd.line = x.data();
        kd.length = static_cast<uint32_t>(x.size());
        ASSERT_EQ(CQNF_ImageFX::Blur_BlurVector(&kd), 1);
        double var = 0.0;
        for (int i = 0; i < 801; ++i)
            var += x[i] * (i - 400.0) * (i - 400.0);
        EXPECT_GE(std::sqrt(var), sigma) << sigma;
        EXPECT_LE(std::sqrt(var), 1.2 * sigma) << sigma;
    }
}

TEST(FxBlurLine, RecoveryFillsTransparentRunsFromTheirNeighbours)
{
    uint8_t v[10] = {9, 9, 10, 20, 30, 40, 50, 60, 70, 80};
    const uint8_t a[10] = {0, 0, 255, 0, 0, 0, 0, 9, 0, 0};
    CQNF_ImageFX::Blur_ZeroAlphaRecoveryData(v, a, 10);
    // Leading run takes the first visible value; the run 3..6 between 10
    // and 60 splits at 3 + 4/2 = 5; the trailing run takes the last visible.
    const uint8_t want[10] = {10, 10, 10, 10, 10, 60, 60, 60, 60, 60};
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(v[i], want[i]) << i;

    uint8_t none[4] = {1, 2, 3, 4};
    const uint8_t clear[4] = {0, 0, 0, 0};
    CQNF_ImageFX::Blur_ZeroAlphaRecoveryData(none, clear, 4);
    for (uint8_t x : none)
        EXPECT_EQ(x, 128);

    std::mt19937 rng(3);
    for (int round = 0; round < 200; ++round) {
        const size_t n = 1 + rng() % 40;
        std::vector<uint8_t> vals(n), al(n);
        for (size_t i = 0; i < n; ++i) {
            vals[i] = static_cast<uint8_t>(rng());
            al[i] = (rng() % 3 == 0) ? static_cast<uint8_t>(rng()) : 0;
        }
        std::vector<uint8_t> want2 = vals;
        RefRecover(want2, al);
        CQNF_ImageFX::Blur_ZeroAlphaRecoveryData(vals.data(), al.data(), static_cast<uint32_t>(n));
        ASSERT_EQ(vals, want2);
    }
}

// ---- Gaussian blur ---------------------------------------------------------

TEST(FxGaussian, MatchesTheLineByLineReference)
{
    // Sizes around the lane widths (16 rows, 64 columns) and sigmas on both
    // kernels, including sigmas whose padding is longer than the lines.
    for (auto [w, h] : {std::pair{37, 23}, std::pair{150, 70}, std::pair{3, 1}, std::pair{1, 40}}) {
        Planes s = Rgba(w, h, static_cast<uint32_t>(w * h));
        for (double sigma : {0.4, 1.0, 1.45, 1.5, 2.0, 3.7, 5.0, 12.0, 40.0}) {
            for (int flags = 0; flags < 4; ++flags) {
                const bool blurAlpha = flags & 1, recover = flags & 2;
                Planes got = RunGaussian(s, sigma, blurAlpha, recover);
                Planes want = RefGaussian(s, sigma, blurAlpha, recover);
                ASSERT_TRUE(got.SamePixels(want))
                    << w << "x" << h << " sigma " << sigma << " alpha " << blurAlpha << " recover " << recover;
            }
        }
    }
}

TEST(FxGaussian, GreyAndFivePlaneSourcesMatchTheReference)
{
    Planes grey(45, 31, 1, false);
    grey.FillRandom(11);
    EXPECT_TRUE(RunGaussian(grey, 2.5, 0, 1).SamePixels(RefGaussian(grey, 2.5, 0, 1)));
    Planes five(20, 18, 5, true);
    five.FillPicture(12);
    five.FillEllipseAlpha();
    EXPECT_TRUE(RunGaussian(five, 1.2, 0, 1).SamePixels(RefGaussian(five, 1.2, 0, 1)));
    EXPECT_TRUE(RunGaussian(five, 6.0, 1, 1).SamePixels(RefGaussian(five, 6.0, 1, 1)));
}

TEST(FxGaussian, StaysCloseToADoublePrecisionConvolution)
{
    // The recursive filter approximates the Gaussian; each of the two passes
    // truncates to bytes. Away from the edges the result stays within a few
    // levels of the exact convolution.
    const int n = 160;
    Planes s(n, n, 1, false);
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
            s.At(0, x, y) = static_cast<uint8_t>(((x / 9 + y / 13) % 2) * 200 + (x * y) % 50);
    for (double sigma : {1.5, 3.0, 5.0, 9.0}) {
        Planes got = RunGaussian(s, sigma, 0, 0);
        const int r = static_cast<int>(std::ceil(6 * sigma));
        std::vector<double> k(2 * r + 1);
        double ks = 0.0;
        for (int i = -r; i <= r; ++i)
            ks += k[i + r] = std::exp(-(i * i) / (2 * sigma * sigma));
        std::vector<double> tmp(n * n), exact(n * n);
        auto clampi = [&](int i) { return std::min(n - 1, std::max(0, i)); };
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                double a = 0.0;
                for (int i = -r; i <= r; ++i)
                    a += k[i + r] * s.At(0, clampi(x + i), y);
                tmp[y * n + x] = a / ks;
            }
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                double a = 0.0;
                for (int i = -r; i <= r; ++i)
                    a += k[i + r] * tmp[clampi(y + i) * n + x];
                exact[y * n + x] = a / ks;
            }
        double worst = 0.0;
        const int m = 4 * static_cast<int>(sigma) + 2;
        for (int y = m; y < n - m; ++y)
            for (int x = m; x < n - m; ++x)
                worst = std::max(worst, std::fabs(got.At(0, x, y) - exact[y * n + x]));
        // Two truncations to bytes, and the recursive filter's own error: its
        // impulse response is a little wider than the Gaussian's, most for
        // small sigma (up to 7 % of the 200-level steps of this picture).
        const double allowed = sigma >= 5.0 ? 3.0 : 0.07 * 200;
        EXPECT_LE(worst, allowed) << "sigma " << sigma;
    }
}

TEST(FxBlurLine, RecursiveResponseIsSymmetricAndKeepsTheMean)
{
    for (double sigma : {1.5, 4.0, 17.0}) {
        std::vector<double> x(601, 0.0);
        x[300] = 250.0;
        CQNF_Mem work;
        CQNF_ImageFX::STRUCT_Blur_VectorData kd;
        CQNF_ImageFX::Blur_PrepareBlurData(sigma, &kd, &work, 1, 0);
        kd.line = x.data();
        kd.length = static_cast<uint32_t>(x.size());
        ASSERT_EQ(CQNF_ImageFX::Blur_BlurVector(&kd), 1);
        double sum = 0.0;
        for (size_t i = 0; i < x.size(); ++i)
            sum += x[i];
        EXPECT_NEAR(sum, 250.0, 1e-6);
        for (int i = 1; i < 250; ++i)
            ASSERT_NEAR(x[300 + i], x[300 - i], 1e-9) << sigma << " " << i;
        EXPECT_GT(x[300], x[301]);
    }
}

TEST(FxGaussian, TinySigmaCopiesEveryPlaneWhateverTheFlags)
{
    Planes s = Rgba(19, 7, 5);
    for (int flags = 0; flags < 4; ++flags)
        EXPECT_TRUE(RunGaussian(s, 0.05, flags & 1, flags & 2).SamePixels(s));
    EXPECT_TRUE(RunGaussian(s, -3.0, 1, 1).SamePixels(s));
}

TEST(FxGaussian, ConstantImageStaysConstantOnBothKernels)
{
    Planes s(33, 21, 3, false);
    for (int p = 0; p < 3; ++p)
        s.FillPlane(p, static_cast<uint8_t>(40 + 90 * p));
    for (double sigma : {1.0, 5.0}) {
        Planes d = RunGaussian(s, sigma, 0, 0);
        for (int p = 0; p < 3; ++p)
            for (int y = 0; y < s.h; ++y)
                for (int x = 0; x < s.w; ++x) {
                    const int diff = s.At(p, x, y) - d.At(p, x, y);
                    ASSERT_TRUE(diff == 0 || diff == 1) << "sigma " << sigma;
                }
    }
}

TEST(FxGaussian, UnblurredAlphaIsTheSourceAlpha)
{
    Planes s = Rgba(50, 40, 9);
    Planes d = RunGaussian(s, 7.0, 0, 1);
    EXPECT_TRUE(d.SamePlane(s, 3));
    Planes b = RunGaussian(s, 7.0, 1, 1);
    EXPECT_FALSE(b.SamePlane(s, 3));
}

TEST(FxGaussian, InPlaceGivesTheSameBytes)
{
    Planes s = Rgba(70, 35, 21);
    Planes want = RunGaussian(s, 4.0, 0, 1);
    CQNF_ImageFX fx;
    ASSERT_TRUE(fxtest::Bind(fx, s, s));
    ASSERT_EQ(fx.GaussianBlur(4.0, 0, 1), 1);
    EXPECT_TRUE(s.SamePixels(want));
}

TEST(FxGaussian, RefusesMismatchesAndBadSigmasWithoutWriting)
{
    Planes s = Rgba(10, 10, 1);
    const double bad[] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                          CQNF_ImageFX::kMaxBlurSigma * 2};
    for (double sigma : bad) {
        CQNF_ImageFX fx;
        Planes d = fxtest::Like(s);
        const Planes before = d;
        ASSERT_TRUE(fxtest::Bind(fx, s, d));
        EXPECT_EQ(fx.GaussianBlur(sigma, 0, 1), 0);
        EXPECT_EQ(fx.GetError(), qnerr::BadArgument);
        EXPECT_TRUE(d.SamePixels(before));
    }
    for (auto shape : {std::tuple{11, 10, 4}, std::tuple{10, 9, 4}, std::tuple{10, 10, 3}}) {
        Planes d(std::get<0>(shape), std::get<1>(shape), std::get<2>(shape), std::get<2>(shape) == 4);
        const Planes before = d;
        CQNF_ImageFX fx;
        ASSERT_TRUE(fxtest::Bind(fx, s, d));
        EXPECT_EQ(fx.GaussianBlur(3.0, 0, 1), 0);
        EXPECT_EQ(fx.GetError(), qnerr::BadArgument);
        EXPECT_EQ(d.data, before.data);
    }
}

TEST(FxGaussian, LargestSigmaOnATinyImageFinishes)
{
    Planes s = Rgba(5, 3, 2);
    Planes got = RunGaussian(s, 300.0, 1, 1);
    EXPECT_TRUE(got.SamePixels(RefGaussian(s, 300.0, 1, 1)));
    RunGaussian(s, CQNF_ImageFX::kMaxBlurSigma, 1, 1);
}

TEST(FxGaussian, EmptyImagesSucceedWithNothingToDo)
{
    for (auto [w, h] : {std::pair{0, 0}, std::pair{0, 5}, std::pair{5, 0}}) {
        Planes s(w, h, 4, true);
        Planes d = fxtest::Like(s);
        CQNF_ImageFX fx;
        ASSERT_TRUE(fxtest::Bind(fx, s, d));
        EXPECT_EQ(fx.GaussianBlur(5.0, 1, 1), 1);
        EXPECT_EQ(fx.MotionBlur(30.0, 5.0, 1, 1), 1);
        EXPECT_EQ(fx.MotionBlur(80.0, 5.0, 1, 1), 1);
        EXPECT_EQ(fx.MotionBlur(0.0, 5.0, 1, 1), 1);
        EXPECT_EQ(fx.MotionBlur(90.0, 1.0, 1, 1), 1);
    }
}

// ---- Motion blur -----------------------------------------------------------

TEST(FxMotion, MatchesTheLineByLineReferenceAtEveryKindOfAngle)
{
    for (auto [w, h] : {std::pair{41, 29}, std::pair{90, 70}, std::pair{12, 50}, std::pair{1, 9}, std::pair{9, 1}}) {
        Planes s = Rgba(w, h, static_cast<uint32_t>(w + 100 * h));
        for (double angle : {0.0, 10.0, 30.0, 45.0, 46.0, 60.0, 80.0, 90.0, 100.0, 135.0, 170.0, -30.0, 400.0}) {
            for (double dist : {0.7, 2.0, 9.0}) {
                for (int flags = 0; flags < 4; ++flags) {
                    const bool blurAlpha = flags & 1, recover = flags & 2;
                    Planes got = RunMotion(s, angle, dist, blurAlpha, recover);
                    Planes want = RefMotion(s, angle, dist, blurAlpha, recover);
                    ASSERT_TRUE(got.SamePixels(want)) << w << "x" << h << " angle " << angle << " dist " << dist
                                                      << " alpha " << blurAlpha << " recover " << recover;
                }
            }
        }
    }
}

TEST(FxMotion, AnglesFoldOntoTheirCases)
{
    Planes s = Rgba(40, 30, 8);
    const Planes horizontal = RunMotion(s, 0.0, 4.0, 0, 1);
    for (double a : {180.0, 0.05, -180.0, 179.95, 360.0, -0.05})
        EXPECT_TRUE(RunMotion(s, a, 4.0, 0, 1).SamePixels(horizontal)) << a;
    const Planes vertical = RunMotion(s, 90.0, 4.0, 0, 1);
    for (double a : {90.05, 89.95, 270.0, -90.0})
        EXPECT_TRUE(RunMotion(s, a, 4.0, 0, 1).SamePixels(vertical)) << a;
    EXPECT_FALSE(RunMotion(s, 45.0, 4.0, 0, 1).SamePixels(horizontal));

    // 135 degrees is the 45-degree case upside down.
    Planes flipped = FlipV(s);
    const Planes at45 = FlipV(RunMotion(flipped, 45.0, 4.0, 0, 1));
    EXPECT_TRUE(RunMotion(s, 135.0, 4.0, 0, 1).SamePixels(at45));
}

TEST(FxMotion, HorizontalBlursOnlyAlongRowsAndFillsClearRowsWith128)
{
    Planes s = Rgba(30, 12, 4);
    for (int x = 0; x < s.w; ++x)
        s.At(3, x, 5) = 0;
    Planes d = RunMotion(s, 0.0, 3.0, 0, 1);
    for (int p = 0; p < 3; ++p)
        for (int x = 0; x < s.w; ++x)
            EXPECT_EQ(d.At(p, x, 5), 128);
    // A picture constant along each row does not change.
    Planes stripes(25, 9, 3, false);
    for (int p = 0; p < 3; ++p)
        for (int y = 0; y < stripes.h; ++y)
            for (int x = 0; x < stripes.w; ++x)
                stripes.At(p, x, y) = static_cast<uint8_t>(y * 27 + p);
    EXPECT_TRUE(RunMotion(stripes, 0.0, 6.0, 0, 0).SamePixels(stripes));
}

TEST(FxMotion, ZeroDistanceCopiesAndBadArgumentsAreRefused)
{
    Planes s = Rgba(20, 20, 6);
    EXPECT_TRUE(RunMotion(s, 33.0, 0.0, 1, 1).SamePixels(s));
    EXPECT_TRUE(RunMotion(s, 33.0, 0.05, 1, 1).SamePixels(s));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (auto [a, dist] : {std::pair{nan, 3.0}, std::pair{inf, 3.0}, std::pair{-inf, 3.0}, std::pair{30.0, nan},
                           std::pair{30.0, 1e9}}) {
        Planes d = fxtest::Like(s);
        const Planes before = d;
        CQNF_ImageFX fx;
        ASSERT_TRUE(fxtest::Bind(fx, s, d));
        EXPECT_EQ(fx.MotionBlur(a, dist, 0, 1), 0);
        EXPECT_EQ(fx.GetError(), qnerr::BadArgument);
        EXPECT_TRUE(d.SamePixels(before));
    }
    Planes narrow(19, 20, 4, true);
    CQNF_ImageFX fx;
    ASSERT_TRUE(fxtest::Bind(fx, s, narrow));
    EXPECT_EQ(fx.MotionBlur(30.0, 3.0, 0, 1), 0);
    EXPECT_EQ(fx.GetError(), qnerr::BadArgument);
}

TEST(FxMotion, HugeAnglesFoldQuickly)
{
    Planes s = Rgba(16, 16, 2);
    const Planes want = RunMotion(s, 30.0, 3.0, 0, 0);
    // 30 + 180e12 is exact in a double, and so is the fold: no loop of 1e12 turns.
    EXPECT_TRUE(RunMotion(s, 30.0 + 180.0 * 1e12, 3.0, 0, 0).SamePixels(want));
    EXPECT_TRUE(RunMotion(s, 30.0 + 180.0 * 5, 3.0, 0, 0).SamePixels(want));
}

// ---- Every instruction set gives the same bytes ------------------------------

TEST(FxLanes, EveryInstructionSetMatchesTheReference)
{
    const qnfx::LaneIsa widest = qnfx::CurrentLaneIsa();
    Planes s = Rgba(77, 45, 31);
    int tried = 0;
    for (qnfx::LaneIsa isa : {qnfx::LaneIsa::Base, qnfx::LaneIsa::Avx2, qnfx::LaneIsa::Avx512}) {
        if (!qnfx::ForceLaneIsa(isa))
            continue;
        ++tried;
        for (double sigma : {0.8, 3.0}) {
            EXPECT_TRUE(RunGaussian(s, sigma, 1, 1).SamePixels(RefGaussian(s, sigma, 1, 1)))
                << "set " << static_cast<int>(isa) << " sigma " << sigma;
            for (double angle : {25.0, 120.0})
                EXPECT_TRUE(RunMotion(s, angle, sigma, 0, 1).SamePixels(RefMotion(s, angle, sigma, 0, 1)))
                    << "set " << static_cast<int>(isa) << " angle " << angle;
        }
    }
    EXPECT_GE(tried, 1);
    qnfx::ForceLaneIsa(widest);
}

// ---- Threads -----------------------------------------------------------------

// Large pictures are blurred in bands on several threads: the bytes of one
// thread, whatever the count, for both kernels, with recovery, and for the
// motion blurs that run through the same passes.
TEST(FxThreads, BandsGiveTheBytesOfOneThread)
{
    Planes s = Rgba(700, 420, 17);  // past the size from which passes run in bands
    auto run = [&](int threads) {
        setenv("TESSOLO_THREADS", std::to_string(threads).c_str(), 1);
        std::vector<Planes> out;
        for (double sigma : {0.8, 3.0})
            out.push_back(RunGaussian(s, sigma, 1, 1));
        for (double angle : {0.0, 90.0})
            out.push_back(RunMotion(s, angle, 4.0, 0, 1));
        unsetenv("TESSOLO_THREADS");
        return out;
    };
    const std::vector<Planes> one = run(1);
    for (int threads : {2, 3, 8}) {
        const std::vector<Planes> many = run(threads);
        for (size_t i = 0; i < one.size(); ++i)
            EXPECT_TRUE(many[i].SamePixels(one[i])) << threads << " threads, case " << i;
    }
}
