// Bevel and inside stroke: the disc matrices exactly, each filter against a
// slow reference written here from the algorithm, and the named cases.
#include "imaging/ImageFX.h"
#include "imaging/ImageFX_Kernels.h"
#include "test_fx_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

using fxtest::Planes;

namespace {

// ---- Disc matrices -----------------------------------------------------------

// Cell by cell: the 8 x 8 sample points of each cell of the top-left
// quadrant (centre row and column included), mirrored to the others.
std::vector<uint8_t> RefCircle(int r)
{
    const int side = 2 * r + 1;
    std::vector<uint8_t> m(static_cast<size_t>(side) * side);
    for (int cy = 0; cy < side; ++cy)
        for (int cx = 0; cx < side; ++cx) {
            const int qx = cx <= r ? cx : 2 * r - cx;
            const int qy = cy <= r ? cy : 2 * r - cy;
            int count = 0;
            for (int sy = 8 * (qy - r); sy < 8 * (qy - r) + 8; ++sy)
                for (int sx = 8 * (qx - r); sx < 8 * (qx - r) + 8; ++sx)
                    if (sx * sx + sy * sy < 64 * r * r)
                        ++count;
            m[cy * side + cx] = static_cast<uint8_t>(std::min(255, 4 * count));
        }
    return m;
}

std::vector<uint8_t> Circle(int r)
{
    CQNF_Mem m;
    EXPECT_EQ(CQNF_ImageFX::Stroke_FillCircleMatrix(&m, static_cast<uint8_t>(r), 3), 1);
    const int side = 2 * r + 1;
    return std::vector<uint8_t>(m.GetPtr(), m.GetPtr() + side * side);
}

// ---- Stroke reference ------------------------------------------------------

Planes RefStroke(const Planes& s, const uint8_t* colour, int opacity, int size)
{
    Planes d = fxtest::Like(s);
    const int w = s.w, h = s.h, ap = s.channels - 1;
    auto A = [&](int x, int y) { return (x < 0 || y < 0 || x >= w || y >= h) ? 0 : int(s.At(ap, x, y)); };
    std::vector<int> mask(static_cast<size_t>(w) * h, 0);
    if (size == 0) {
        return s;
    } else if (size == 1) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const bool border = x == 0 || y == 0 || x == w - 1 || y == h - 1;
                if (A(x, y) < 255 || border) {
                    mask[y * w + x] = 255;
                    continue;
                }
                int lo = 255;
                for (int j = -1; j <= 1; ++j)
                    for (int i = -1; i <= 1; ++i)
                        if (i || j)
                            lo = std::min(lo, A(x + i, y + j));
                mask[y * w + x] = 255 - lo;
            }
    } else {
        const int side = 2 * size + 1;
        const std::vector<uint8_t> outer = RefCircle(size);
        const std::vector<uint8_t> small = RefCircle(size - 1);
        std::vector<int> inner(static_cast<size_t>(side) * side, 0);
        for (int y = 0; y < side - 2; ++y)
            for (int x = 0; x < side - 2; ++x)
                inner[(y + 1) * side + x + 1] = small[y * (side - 2) + x];
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int a = A(x, y);
                const bool border = x == 0 || y == 0 || x == w - 1 || y == h - 1;
                if (a == 255 && !border)
                    continue;
                mask[y * w + x] = 255;
                if (A(x - 1, y) < 255 && A(x + 1, y) < 255 && A(x, y - 1) < 255 && A(x, y + 1) < 255)
                    continue;
                for (int j = -size; j <= size; ++j)
                    for (int i = -size; i <= size; ++i) {
                        const int xx = x + i, yy = y + j;
                        if (xx < 0 || yy < 0 || xx >= w || yy >= h)
                            continue;
                        const int c = (j + size) * side + (i + size);
                        const int v = outer[c] - (a * (outer[c] - inner[c])) / 255;
                        mask[yy * w + xx] = std::max(mask[yy * w + xx], v);
                    }
            }
    }
    for (int p = 0; p < ap; ++p)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int v = s.At(p, x, y), m = mask[y * w + x];
                d.At(p, x, y) = static_cast<uint8_t>(opacity < 255 ? v + (opacity * m * (colour[p] - v)) / 65025
                                                                   : v + ((colour[p] - v) * m) / 255);
            }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            d.At(ap, x, y) = s.At(ap, x, y);
    return d;
}

// ---- Bevel reference -------------------------------------------------------

template <class T>
void BlurLineRef(std::vector<T>& v, double sigma, bool bytes)
{
    CQNF_Mem work;
    CQNF_ImageFX::STRUCT_Blur_VectorData kd;
    CQNF_ImageFX::Blur_PrepareBlurData(sigma, &kd, &work, 1, 0);
    std::vector<double> line(v.begin(), v.end());
    kd.line = line.data();
    kd.length = static_cast<uint32_t>(line.size());
    ASSERT_EQ(CQNF_ImageFX::Blur_BlurVector(&kd), 1);
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = bytes ? static_cast<T>(fxtest::Byte(line[i])) : static_cast<T>(static_cast<float>(line[i]));
}

template <class T>
void BlurMapRef(std::vector<T>& m, int w, int h, double sigma, bool bytes)
{
    for (int y = 0; y < h; ++y) {
        std::vector<T> row(m.begin() + y * w, m.begin() + (y + 1) * w);
        BlurLineRef(row, sigma, bytes);
        std::copy(row.begin(), row.end(), m.begin() + y * w);
    }
    for (int x = 0; x < w; ++x) {
        std::vector<T> col(h);
        for (int y = 0; y < h; ++y)
            col[y] = m[y * w + x];
        BlurLineRef(col, sigma, bytes);
        for (int y = 0; y < h; ++y)
            m[y * w + x] = col[y];
    }
}

Planes RefBevel(const Planes& s, int size, int depth, double soften, qnt3D_VECTOR light, const uint8_t* hc, int ho,
                const uint8_t* sc, int so)
{
    const int w = s.w, h = s.h, mw = w + 2, mh = h + 2;
    const float len = std::sqrt(light.x * light.x + light.y * light.y + light.z * light.z);
    const float lx = -light.x / len, ly = light.y / len, lz = light.z / len;
    std::vector<float> map(static_cast<size_t>(mw) * mh, 0.0f);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            map[(y + 1) * mw + x + 1] = s.alpha ? s.At(s.channels - 1, x, y) : 255.0f;
    BlurMapRef(map, mw, mh, size / 3.32, false);
    auto M = [&](int i, int j) { return map[j * mw + i]; };
    const float flat = std::max(lz, 0.000001f);
    std::vector<uint8_t> H(static_cast<size_t>(w) * h), S(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const float gx = (M(x + 1, y) - M(x, y)) * static_cast<float>(depth) / 100.0f;
            const float gy = (M(x + 1, y + 1) - M(x + 1, y)) * static_cast<float>(depth) / 100.0f;
            const float l = std::sqrt(gx * gx + gy * gy + 1.0f);
            const float d = std::max(0.0f, (gx * lx + gy * ly + lz) / l);
            int hv = 0, sv = 0;
            if (d > flat)
                hv = 1.0f - flat < 1e-6f ? 0 : static_cast<int>(static_cast<float>(ho) / (1.0f - flat) * (d - flat));
            else
                sv = so - static_cast<int>(d * static_cast<float>(so) / flat);
            H[y * w + x] = static_cast<uint8_t>(std::clamp(hv, 0, 255));
            S[y * w + x] = static_cast<uint8_t>(std::clamp(sv, 0, 255));
        }
    if (soften > 0) {
        BlurMapRef(H, w, h, soften, true);
        BlurMapRef(S, w, h, soften, true);
    }
    Planes d = fxtest::Like(s);
    const int colours = s.channels - (s.alpha ? 1 : 0);
    for (int p = 0; p < colours; ++p)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int v = s.At(p, x, y), k = H[y * w + x] - S[y * w + x];
                int r = v;
                if (k > 0)
                    r = v + (((hc[p] - v) * k) >> 8);
                else if (k < 0)
                    r = v + (((sc[p] - v) * -k) >> 8);
                d.At(p, x, y) = static_cast<uint8_t>(r);
            }
    if (s.alpha)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                d.At(s.channels - 1, x, y) = s.At(s.channels - 1, x, y);
    return d;
}

Planes Piece(int w, int h, uint32_t seed)
{
    Planes s(w, h, 4, true);
    s.FillPicture(seed);
    s.FillEllipseAlpha();
    return s;
}

const uint8_t kWhite[3] = {255, 255, 255};
const uint8_t kBlack[3] = {0, 0, 0};
const uint8_t kRed[3] = {230, 20, 40};

int BevelRun(Planes& s, Planes& d, int size, int depth, double soften, qnt3D_VECTOR light, int ho, int so,
             unsigned short* error = nullptr)
{
    CQNF_ImageFX fx;
    EXPECT_TRUE(fxtest::Bind(fx, s, d));
    const int r = fx.Bevel(static_cast<uint16_t>(size), static_cast<uint16_t>(depth), soften, light, kWhite,
                           static_cast<uint8_t>(ho), kBlack, static_cast<uint8_t>(so));
    if (error)
        *error = fx.GetError();
    return r;
}

}  // namespace

TEST(FxStroke, CircleMatricesAreExact)
{
    EXPECT_EQ(Circle(1), (std::vector<uint8_t>{164, 192, 164, 192, 224, 192, 164, 192, 164}));
    EXPECT_EQ(Circle(2), (std::vector<uint8_t>{60, 208, 216, 208, 60, 208, 255, 255, 255, 208, 216, 255, 255, 255,
                                               216, 208, 255, 255, 255, 208, 60, 208, 216, 208, 60}));
    for (int r : {0, 3, 7, 20, 64, 255})
        EXPECT_EQ(Circle(r), RefCircle(r)) << r;
    // Larger discs: symmetric, full in the middle, decreasing outward.
    const std::vector<uint8_t> m = Circle(9);
    const int side = 19;
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            EXPECT_EQ(m[y * side + x], m[x * side + y]);
            EXPECT_EQ(m[y * side + x], m[(side - 1 - y) * side + x]);
            if (x > 9) {
                EXPECT_LE(m[y * side + x], m[y * side + x - 1]);
            }
        }
    EXPECT_EQ(m[9 * side + 9], 255);
}

TEST(FxStroke, MatchesTheReference)
{
    for (auto [w, h] : {std::pair{40, 30}, std::pair{9, 23}, std::pair{1, 1}, std::pair{2, 5}}) {
        Planes s = Piece(w, h, static_cast<uint32_t>(w * h));
        for (int size : {1, 2, 3, 6, 40})
            for (int opacity : {0, 128, 255}) {
                CQNF_ImageFX fx;
                Planes d = fxtest::Like(s);
                ASSERT_TRUE(fxtest::Bind(fx, s, d));
                ASSERT_EQ(fx.StrokeInside(kRed, static_cast<uint8_t>(opacity), static_cast<uint8_t>(size)), 1);
                ASSERT_TRUE(d.SamePixels(RefStroke(s, kRed, opacity, size)))
                    << w << "x" << h << " size " << size << " opacity " << opacity;
                ASSERT_TRUE(d.PaddingIntact());
            }
    }
}

TEST(FxStroke, NamedCases)
{
    // Size 1 on an opaque picture strokes exactly the border pixels.
    Planes s(12, 9, 4, true);
    s.FillPicture(3);
    s.FillPlane(3, 255);
    Planes d = fxtest::Like(s);
    CQNF_ImageFX fx;
    ASSERT_TRUE(fxtest::Bind(fx, s, d));
    ASSERT_EQ(fx.StrokeInside(kRed, 255, 1), 1);
    for (int y = 0; y < s.h; ++y)
        for (int x = 0; x < s.w; ++x) {
            const bool border = x == 0 || y == 0 || x == s.w - 1 || y == s.h - 1;
            for (int p = 0; p < 3; ++p)
                ASSERT_EQ(d.At(p, x, y), border ? kRed[p] : s.At(p, x, y)) << x << "," << y;
        }
    EXPECT_TRUE(d.SamePlane(s, 3));

    // Size 0 copies; no alpha, or no pixels, is refused.
    Planes p = Piece(10, 10, 4);
    Planes c = fxtest::Like(p);
    ASSERT_TRUE(fxtest::Bind(fx, p, c));
    ASSERT_EQ(fx.StrokeInside(kRed, 255, 0), 1);
    EXPECT_TRUE(c.SamePixels(p));
    Planes rgb(10, 10, 3, false);
    Planes rgbOut = fxtest::Like(rgb);
    const Planes before = rgbOut;
    ASSERT_TRUE(fxtest::Bind(fx, rgb, rgbOut));
    EXPECT_EQ(fx.StrokeInside(kRed, 255, 3), 0);
    EXPECT_EQ(fx.GetError(), qnerr::BadArgument);
    EXPECT_EQ(rgbOut.data, before.data);
    Planes empty(0, 4, 4, true);
    Planes emptyOut(0, 4, 4, true);
    fx.ResetError();
    ASSERT_TRUE(fxtest::Bind(fx, empty, emptyOut));
    EXPECT_EQ(fx.StrokeInside(kRed, 255, 3), 0);
    EXPECT_EQ(fx.GetError(), qnerr::BadArgument);
    ASSERT_TRUE(fxtest::Bind(fx, p, c));
    EXPECT_EQ(fx.StrokeInside(nullptr, 255, 3), 0);
}

TEST(FxStroke, WorksWhenSourceAndDestinationShareTheirAlpha)
{
    Planes s = Piece(30, 20, 5);
    const Planes want = RefStroke(s, kRed, 200, 4);
    CQNF_ImageFX fx;
    ASSERT_TRUE(fxtest::Bind(fx, s, s));
    ASSERT_EQ(fx.StrokeInside(kRed, 200, 4), 1);
    EXPECT_TRUE(s.SamePixels(want));
}

TEST(FxBevel, MatchesTheReference)
{
    const qnt3D_VECTOR lights[] = {{-0.5f, 0.5f, 0.7071f}, {0.3f, -0.8f, 0.2f}, {1.0f, 0.0f, 0.0f}, {0, 0, 3.0f}};
    for (auto [w, h] : {std::pair{37, 29}, std::pair{80, 33}, std::pair{1, 1}}) {
        for (bool alpha : {true, false}) {
            Planes s = alpha ? Piece(w, h, 6) : Planes(w, h, 3, false);
            if (!alpha)
                s.FillPicture(7);
            for (int size : {0, 2, 3, 10, 40})
                for (double soften : {0.0, 0.05, 1.0, 3.5})
                    for (const auto& light : lights) {
                        const int depth = size * 13 % 400 + 50;
                        Planes d = fxtest::Like(s);
                        ASSERT_EQ(BevelRun(s, d, size, depth, soften, light, 180, 140), 1);
                        ASSERT_TRUE(d.SamePixels(RefBevel(s, size, depth, soften, light, kWhite, 180, kBlack, 140)))
                            << w << "x" << h << " alpha " << alpha << " size " << size << " soften " << soften
                            << " light " << light.x << "," << light.y << "," << light.z;
                    }
        }
    }
}

TEST(FxBevel, ALargePieceOnSeveralThreadsMatchesTheReference)
{
    // Over a quarter of a megapixel: its rows and columns go to the threads.
    // A small size (a kernel of a few taps) is made in strips of rows, each
    // with the rows its blur reaches; a large one over the whole map.
    Planes s = Piece(600, 450, 9);
    const qnt3D_VECTOR light{0.3f, -0.8f, 0.2f};
    for (auto [size, soften] : {std::pair{9, 0.0}, std::pair{9, 2.0}, std::pair{3, 0.0}, std::pair{2, 0.0}}) {
        const Planes want = RefBevel(s, size, 120, soften, light, kWhite, 190, kBlack, 170);
        for (int threads : {1, 3, 8}) {
            setenv("TESSOLO_THREADS", std::to_string(threads).c_str(), 1);
            Planes d = fxtest::Like(s);
            EXPECT_EQ(BevelRun(s, d, size, 120, soften, light, 190, 170), 1);
            EXPECT_TRUE(d.SamePixels(want)) << threads << " threads, size " << size << ", soften " << soften;
            Planes same = s;
            EXPECT_EQ(BevelRun(same, same, size, 120, soften, light, 190, 170), 1);
            EXPECT_TRUE(same.SamePixels(want))
                << threads << " threads, size " << size << ", soften " << soften << " in place";
            unsetenv("TESSOLO_THREADS");
        }
    }
}

TEST(FxBevel, EveryInstructionSetMatchesTheReference)
{
    const qnfx::LaneIsa widest = qnfx::CurrentLaneIsa();
    Planes s = Piece(70, 41, 8);
    const qnt3D_VECTOR light{-0.5f, 0.5f, 0.7071f};
    // Softened (whole planes blurred) and not (each row lit and shaded at
    // once), into other planes and in place.
    for (double soften : {2.0, 0.0}) {
        const Planes want = RefBevel(s, 12, 150, soften, light, kWhite, 200, kBlack, 200);
        for (qnfx::LaneIsa isa : {qnfx::LaneIsa::Base, qnfx::LaneIsa::Avx2, qnfx::LaneIsa::Avx512}) {
            if (!qnfx::ForceLaneIsa(isa))
                continue;
            Planes d = fxtest::Like(s);
            ASSERT_EQ(BevelRun(s, d, 12, 150, soften, light, 200, 200), 1);
            EXPECT_TRUE(d.SamePixels(want)) << static_cast<int>(isa) << " soften " << soften;
            Planes same = s;
            ASSERT_EQ(BevelRun(same, same, 12, 150, soften, light, 200, 200), 1);
            EXPECT_TRUE(same.SamePixels(want)) << static_cast<int>(isa) << " soften " << soften << " in place";
        }
    }
    qnfx::ForceLaneIsa(widest);
}

TEST(FxBevel, NamedCases)
{
    // Without alpha only a band along the border is shaded (size 3 blurs
    // with the direct kernel, whose reach is 6 pixels).
    Planes rgb(60, 50, 3, false);
    rgb.FillPicture(9);
    Planes d = fxtest::Like(rgb);
    ASSERT_EQ(BevelRun(rgb, d, 3, 300, 0.0, {-0.5f, 0.5f, 0.7071f}, 255, 255), 1);
    bool shadedBorder = false;
    for (int y = 0; y < rgb.h; ++y)
        for (int x = 0; x < rgb.w; ++x) {
            const bool inside = x >= 8 && y >= 8 && x < rgb.w - 8 && y < rgb.h - 8;
            for (int p = 0; p < 3; ++p) {
                if (inside)
                    ASSERT_EQ(d.At(p, x, y), rgb.At(p, x, y)) << x << "," << y;
                else if (d.At(p, x, y) != rgb.At(p, x, y))
                    shadedBorder = true;
            }
        }
    EXPECT_TRUE(shadedBorder);

    // The light straight above: no highlight, shadows on the slopes only.
    // (A small size keeps the middle of the shape out of the blur's reach.)
    Planes s = Piece(80, 60, 10);
    Planes top = fxtest::Like(s);
    ASSERT_EQ(BevelRun(s, top, 3, 200, 0.0, {0.0f, 0.0f, 1.0f}, 255, 255), 1);
    for (int p = 0; p < 3; ++p)
        for (int y = 0; y < s.h; ++y)
            for (int x = 0; x < s.w; ++x)
                ASSERT_LE(top.At(p, x, y), s.At(p, x, y));
    for (int p = 0; p < 3; ++p)
        for (int y = 25; y < 35; ++y)
            for (int x = 35; x < 45; ++x)
                ASSERT_EQ(top.At(p, x, y), s.At(p, x, y));  // flat middle of the shape
    EXPECT_FALSE(top.SamePixels(s));

    // No opacity and no softening: a copy.
    Planes copy = fxtest::Like(s);
    ASSERT_EQ(BevelRun(s, copy, 8, 200, 0.0, {-1.0f, 1.0f, 1.0f}, 0, 0), 1);
    EXPECT_TRUE(copy.SamePixels(s));
}

TEST(FxBevel, RefusesBadArguments)
{
    Planes s = Piece(12, 12, 11);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Bad {
        qnt3D_VECTOR light;
        double soften;
    };
    for (const Bad& b : {Bad{{0, 0, 0}, 0.0}, Bad{{nan, 0, 1}, 0.0}, Bad{{0, 0, 1}, std::nan("")},
                         Bad{{0, 0, 1}, 1e9}}) {
        Planes d = fxtest::Like(s);
        const Planes before = d;
        unsigned short error = 0;
        EXPECT_EQ(BevelRun(s, d, 5, 100, b.soften, b.light, 100, 100, &error), 0);
        EXPECT_EQ(error, 1);
        EXPECT_EQ(d.data, before.data);
    }
    Planes other(12, 11, 4, true);
    unsigned short error = 0;
    EXPECT_EQ(BevelRun(s, other, 5, 100, 0.0, {0, 0, 1}, 100, 100, &error), 0);
    EXPECT_EQ(error, 1);
    CQNF_ImageFX fx;
    Planes d = fxtest::Like(s);
    ASSERT_TRUE(fxtest::Bind(fx, s, d));
    EXPECT_EQ(fx.Bevel(5, 100, 0.0, {0, 0, 1}, nullptr, 10, kBlack, 10), 0);
    Planes empty(0, 0, 4, true);
    Planes emptyOut(0, 0, 4, true);
    ASSERT_TRUE(fxtest::Bind(fx, empty, emptyOut));
    EXPECT_EQ(fx.Bevel(5, 100, 1.0, {0, 0, 1}, kWhite, 10, kBlack, 10), 1);
}

TEST(FxBevel, LineRunsGiveTheLanesValues)
{
    // The bevel's small kernel a line at a time, run by run, must give the
    // floats of the lane kernel on lines of long flat runs (where it sums
    // once per run), of short ones and of noise, with the line's ends under
    // both constants, strided and in place.
    std::mt19937 rng(7);
    auto runs = [&](uint32_t n, uint32_t longest) {
        std::vector<float> v;
        while (v.size() < n) {
            const float value = rng() % 3 == 0 ? 255.0f : rng() % 2 ? 0.0f : float(rng() % 256);
            v.insert(v.end(), 1 + rng() % longest, value);
        }
        v.resize(n);
        return v;
    };
    for (double sigma : {0.15, 0.6, 0.9, 1.45}) {
        for (uint8_t edge : {uint8_t(0), uint8_t(9)}) {
            CQNF_Mem work;
            CQNF_ImageFX::STRUCT_Blur_VectorData kd;
            CQNF_ImageFX::Blur_PrepareBlurData(sigma, &kd, &work, 1, edge);
            ASSERT_EQ(kd.direct, 1);
            for (uint32_t n : {1u, 2u, 7u, 40u, 301u}) {
                for (uint32_t longest : {1u, 4u, 60u, 400u}) {
                    const std::vector<float> in = runs(n, longest);
                    const qnfx::LaneBlur lb = qnfx::MakeLaneBlur(kd, n, nullptr);
                    std::vector<double> buf(lb.BufferDoubles());
                    std::vector<float> want(n);
                    qnfx::BlurLanes(lb, in.data(), 1, 1, want.data(), 1, 1, 1, buf.data());
                    std::vector<double> line(n + 2 * kd.halfWidth);
                    std::vector<float> strided(3 * size_t(n), -1.0f), same = in;
                    ASSERT_TRUE(qnfx::BlurLineRuns(kd, in.data(), 1, strided.data(), 3, n, line.data()));
                    ASSERT_TRUE(qnfx::BlurLineRuns(kd, same.data(), 1, same.data(), 1, n, line.data()));
                    for (uint32_t j = 0; j < n; ++j) {
                        ASSERT_EQ(std::memcmp(&strided[3 * j], &want[j], 4), 0)
                            << "sigma " << sigma << " edge " << int(edge) << " n " << n << " run " << longest
                            << " sample " << j;
                        ASSERT_EQ(std::memcmp(&same[j], &want[j], 4), 0) << "in place, sample " << j;
                        ASSERT_EQ(strided[3 * j + 1], -1.0f);  // between the samples: untouched
                    }
                }
            }
        }
    }
    // The kernels it does not cover are refused, the output untouched.
    CQNF_Mem work;
    CQNF_ImageFX::STRUCT_Blur_VectorData kd;
    for (auto [sigma, constant] : {std::pair{0.6, uint8_t(0)}, std::pair{4.0, uint8_t(1)}}) {
        CQNF_ImageFX::Blur_PrepareBlurData(sigma, &kd, &work, constant, 0);
        float in[3] = {1, 2, 3}, out[3] = {5, 5, 5};
        double line[64];
        EXPECT_FALSE(qnfx::BlurLineRuns(kd, in, 1, out, 1, 3, line)) << sigma;
        EXPECT_EQ(out[0] + out[1] + out[2], 15.0f);
    }
}

TEST(FxBevel, ReadsAnAlphaAtAStrideOfItsOwnAndNoOtherFilterDoes)
{
    // A piece's colours in the picture it was cut from, its mask apart: the
    // same bytes as from one plane set, for the strips of a small kernel and
    // the whole map of a large one, softened or not, on one thread and on
    // several; any other filter refuses such a source and writes nothing.
    const qnt3D_VECTOR light{-0.5f, 0.5f, 0.7071f};
    for (auto [w, h] : {std::pair{40, 30}, std::pair{600, 450}}) {
        const Planes s = Piece(w, h, 12);
        Planes picture(w + 57, h, 3, false);  // wider rows than the mask's
        Planes mask(w, h, 1, false, 0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                for (int p = 0; p < 3; ++p)
                    picture.At(p, x, y) = s.At(p, x, y);
                mask.At(0, x, y) = s.At(3, x, y);
            }
        uint8_t* apart[4] = {picture.ptrs[0], picture.ptrs[1], picture.ptrs[2], mask.ptrs[0]};
        for (auto [size, soften] : {std::pair{2, 0.0}, std::pair{9, 0.0}, std::pair{9, 2.0}})
            for (int threads : {1, 8}) {
                setenv("TESSOLO_THREADS", std::to_string(threads).c_str(), 1);
                Planes one = fxtest::Like(s), from = s;
                ASSERT_EQ(BevelRun(from, one, size, 90, soften, light, 180, 140), 1);
                Planes d = fxtest::Like(s);
                CQNF_ImageFX fx;
                ASSERT_EQ(fx.SetSourceWithAlphaStride(apart, picture.stride, mask.stride, 4, uint16_t(w), uint16_t(h)),
                          1);
                ASSERT_TRUE(fxtest::BindDestination(fx, d));
                ASSERT_EQ(fx.Bevel(uint16_t(size), 90, soften, light, kWhite, 180, kBlack, 140), 1);
                EXPECT_TRUE(d.SamePixels(one)) << w << "x" << h << " size " << size << " soften " << soften << ", "
                                               << threads << " threads";
                unsetenv("TESSOLO_THREADS");
            }
        CQNF_ImageFX fx;
        Planes d = fxtest::Like(s);
        const Planes before = d;
        const std::vector<std::pair<const char*, std::function<int()>>> others = {
            {"Invert", [&] { return fx.Invert(); }},
            {"ColorOverlay", [&] { return fx.ColorOverlay(kRed, 100); }},
            {"GaussianBlur", [&] { return fx.GaussianBlur(2.0, 0, 1); }},
            {"MotionBlur", [&] { return fx.MotionBlur(30.0, 5.0, 0, 1); }},
            {"StrokeInside", [&] { return fx.StrokeInside(kRed, 200, 3); }},
            {"Tile", [&] { return fx.Tile(); }},
            {"Resize", [&] { return fx.Resize(0); }},
        };
        for (const auto& [name, filter] : others) {
            ASSERT_EQ(fx.SetSourceWithAlphaStride(apart, picture.stride, mask.stride, 4, uint16_t(w), uint16_t(h)), 1);
            ASSERT_TRUE(fxtest::BindDestination(fx, d));
            EXPECT_EQ(filter(), 0) << name;
            EXPECT_EQ(fx.GetError(), 1) << name;
            EXPECT_EQ(d.data, before.data) << name;
        }
    }
}
