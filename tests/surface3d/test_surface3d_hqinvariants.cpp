// Properties every high-quality renderer keeps, checked on seeded random
// scenes: a flat lit plane is uniform, clipping into quarters and cutting into
// tiles change no byte, covered area equals triangle area, supersampling 1
// covers what the flat preview covers, translucent output does not depend on
// triangle order, and scenes (small ones, and ones drawn in several bands) match
// a naive per-subsample reference.
#include "S3DHQHelpers.h"
#include "imaging/Image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

using namespace s3dtest;

namespace {

struct Both {
    CQNF_3D_Surface2 s2;
    CQNF_3D_Surface s1;
    uint8_t Run(R r, Target& t, Tex& x, const Args& a) { return Call(r, &s2, &s1, t, x, a); }
};

// A wave over the picture with slopes that are not exact in binary, its
// texture translucent in places, and a light that is not straight on.
void Wave(Both& b, int w, int h, bool flat = false)
{
    auto z = [flat](float x, float y) { return flat ? 3.0f : 3.0f * std::sin(x * 0.37f) * std::cos(y * 0.29f); };
    MakeGrid(b.s2, 7, 5, -0.3f, 0.7f, w / 6.9f, z);
    MakeGrid(b.s1, 7, 5, -0.3f, 0.7f, w / 6.9f, z);
    (void)h;
    AddFrontLight(b.s2, 60.0f, 0.3f, -0.2f);
    AddFrontLight(b.s1, 70.0f, 0.3f, -0.2f);
}

Tex Patterned(int w, int h)
{
    Tex x(w, h);
    for (int y = 0; y < h; ++y)
        for (int px = 0; px < w; ++px) {
            const uint8_t a = (px / 3 + y / 4) % 5 == 0 ? 120 : (px + y) % 11 == 0 ? 0 : 255;
            x.Set(px, y, a, uint8_t(40 + px * 5), uint8_t(200 - y * 3));
            x.bump[0][y * w + px] = uint8_t((px * 7 + y * 3) % 13);
            x.bump[1][y * w + px] = uint8_t((px * 5 + y * 11) % 9);
        }
    return x;
}

}  // namespace

TEST(SurfaceHQInvariants, FlatLitPlaneIsUniform)
{
    struct Case {
        R r;
        bool perspective, bump;
    } cases[] = {{R::Simple2, false, false}, {R::Simple1, false, false}, {R::Opt2, false, false},
                 {R::Opt2, true, false},     {R::Opt2, false, true},     {R::Opt1, false, false},
                 {R::Opt1, true, true},      {R::Full1, false, false},   {R::Full1, false, true},
                 {R::Phong2, false, false},  {R::Phong1, false, false}};
    for (const Case& c : cases) {
        Both b;
        Wave(b, 32, 24, true);
        Tex x(40, 30, 255, 180, 90);
        std::fill(x.bump[0].begin(), x.bump[0].end(), 7);
        std::fill(x.bump[1].begin(), x.bump[1].end(), 7);
        Target t(32, 24);
        Args a;
        a.q = 2;
        a.perspective = c.perspective;
        a.centre = qnt3D_VERTEX{16, 12, 50};
        a.bump = c.bump;
        a.bumpDepth[0] = a.bumpDepth[1] = 2.0f;
        ASSERT_EQ(b.Run(c.r, t, x, a), 1) << Name(c.r);
        const int m = c.perspective ? 3 : 1;
        for (int y = m; y < 24 - m; ++y)
            for (int px = m; px < 32 - m; ++px)
                for (int ch = 0; ch < 5; ++ch)
                    ASSERT_EQ(t.at(ch, px, y), ch == 0 ? 255 : t.at(ch, 16, 12))
                        << Name(c.r) << " persp " << c.perspective << " bump " << c.bump << " at " << px << "," << y;
        if (c.r != R::Simple2 && c.r != R::Simple1) {
            EXPECT_NE(t.at(1, 16, 12), 180) << Name(c.r);  // the light did something
        }
    }
}

TEST(SurfaceHQInvariants, WholeOrFourClippedQuartersGiveTheSameBytes)
{
    for (R r : kAll)
        for (bool persp : {false, true}) {
            if (persp && r != R::Opt2 && r != R::Opt1)
                continue;
            Both b;
            Wave(b, 37, 29);
            Tex x = Patterned(48, 40);
            Args a;
            a.q = 3;
            a.bump = r != R::Simple1 && r != R::Simple2;
            a.bumpDepth[1] = 0.7f;
            a.perspective = persp;
            a.centre = qnt3D_VERTEX{10, 8, 30};
            Target whole(37, 29), parts(37, 29);
            ASSERT_EQ(b.Run(r, whole, x, a), 1) << Name(r);
            const qntRECT_s quarters[4] = {{0, 0, 17, 13}, {17, 0, 37, 13}, {0, 13, 17, 29}, {17, 13, 99, 99}};
            for (const qntRECT_s& q : quarters) {
                a.clip = q;
                ASSERT_EQ(b.Run(r, parts, x, a), 1) << Name(r);
            }
            EXPECT_TRUE(whole == parts) << Name(r) << " perspective " << persp;
        }
}

TEST(SurfaceHQInvariants, TileBoundariesChangeNothing)
{
    // q = 64: tiles of 12 pixels; the quarters' tiles start elsewhere.
    Both b;
    Wave(b, 26, 16);
    Tex x = Patterned(40, 32);
    Args a;
    a.q = 64;
    a.bump = true;
    a.bumpDepth[1] = 0.5f;
    Target whole(26, 16), parts(26, 16);
    ASSERT_EQ(b.Run(R::Phong2, whole, x, a), 1);
    for (const qntRECT_s q : {qntRECT_s{0, 0, 13, 7}, qntRECT_s{13, 0, 26, 7}, qntRECT_s{0, 7, 26, 16}}) {
        a.clip = q;
        ASSERT_EQ(b.Run(R::Phong2, parts, x, a), 1);
    }
    EXPECT_TRUE(whole == parts);
}

TEST(SurfaceHQInvariants, CoveredAreaEqualsTriangleArea)
{
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> pos(1.0f, 39.0f);
    for (int trial = 0; trial < 12; ++trial) {
        CQNF_3D_Surface2 s;
        s.Create(3, 1);
        qnt3D_VERTEX v[3];
        for (auto& p : v)
            p = qnt3D_VERTEX{pos(rng), pos(rng), 0.0f};
        for (uint32_t k = 0; k < 3; ++k)
            *s.GetVertex(k) = v[k];
        *s.GetTriMesh(0) = {0, 1, 2, 0};
        s.RecreateMappingArrayFromCurrentValues();
        const double area =
            std::fabs((double(v[1].x) - v[0].x) * (double(v[2].y) - v[0].y) - (double(v[2].x) - v[0].x) * (double(v[1].y) - v[0].y)) / 2;
        double perimeter = 0;
        for (int k = 0; k < 3; ++k)
            perimeter += std::hypot(double(v[(k + 1) % 3].x) - v[k].x, double(v[(k + 1) % 3].y) - v[k].y);
        Tex x(40, 40);
        for (uint8_t q : {2, 4}) {
            Target t(40, 40);
            Args a;
            a.q = q;
            ASSERT_EQ(Call(R::Simple2, &s, nullptr, t, x, a), 1);
            double covered = 0;
            for (uint8_t al : t.plane[0])
                covered += al / 255.0;
            EXPECT_NEAR(covered, area, perimeter / q + 1.0) << trial << " q " << int(q);
        }
    }
    // A pixel-aligned square: exactly full inside, empty outside, at any q.
    for (uint8_t q : {1, 2, 3, 7}) {
        CQNF_3D_Surface2 s;
        AddQuad(s, 3, 2, 9, 7, 0);
        Tex x(12, 10);
        Target t(12, 10);
        Args a;
        a.q = q;
        ASSERT_EQ(Call(R::Simple2, &s, nullptr, t, x, a), 1);
        for (int y = 0; y < 10; ++y)
            for (int px = 0; px < 12; ++px)
                EXPECT_EQ(t.at(0, px, y), px >= 3 && px < 9 && y >= 2 && y < 7 ? 255 : 0) << int(q);
    }
}

TEST(SurfaceHQInvariants, SupersamplingOneCoversWhatTheFlatPreviewCovers)
{
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> pos(0.0f, 47.99f);
    for (int trial = 0; trial < 20; ++trial) {
        CQNF_3D_Surface2 s;
        const int n = 6;
        s.Create(3 * n, n);
        for (int i = 0; i < n; ++i) {
            for (int k = 0; k < 3; ++k) {
                float x = pos(rng), y = pos(rng);
                if (trial % 2)
                    x = std::floor(x), y = std::floor(y);
                *s.GetVertex(3 * i + k) = qnt3D_VERTEX{x, y, float(i)};
            }
            *s.GetTriMesh(i) = {uint32_t(3 * i), uint32_t(3 * i + 1), uint32_t(3 * i + 2), uint8_t(i & 1)};
        }
        s.RecreateMappingArrayFromCurrentValues();
        CQNF_Image img;
        img.Create(48, 48, qnimg::ModeRGBA);
        img.Set(qntRGBA8{0, 0, 0, 0}, 255);
        ASSERT_EQ(s.RenderFlatShadedSurface(&img, 0, 0, qnNullRect, 0, qntRGBA8{0, 0, 0, 0},
                                            qntRGBA8{200, 0, 0, 255}, qntRGBA8{0, 200, 0, 255}),
                  1);
        Tex x(48, 48);
        Target t(48, 48);
        ASSERT_EQ(Call(R::Simple2, &s, nullptr, t, x, Args{}), 1);
        for (int i = 0; i < 48 * 48; ++i)
            ASSERT_EQ(img.GetPlane(3)[i], t.plane[0][i]) << trial << " pixel " << i % 48 << "," << i / 48;
    }
}

TEST(SurfaceHQInvariants, TranslucentOutputDoesNotDependOnTriangleOrder)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> pos(-2.0f, 26.0f);
    for (R r : {R::Simple2, R::Opt2, R::Full1, R::Opt1}) {
        const int n = 14;
        std::vector<qnt3D_VERTEX> v(3 * n);
        for (int i = 0; i < n; ++i)
            for (int k = 0; k < 3; ++k)
                v[3 * i + k] = qnt3D_VERTEX{pos(rng), pos(rng), float(i * 5 % n) + 0.5f};
        std::vector<int> order(n);
        for (int i = 0; i < n; ++i)
            order[i] = i;
        Target first(24, 20);
        for (int perm = 0; perm < 3; ++perm) {
            Both b;
            for (CQNF_3D_SurfaceBase* s : {static_cast<CQNF_3D_SurfaceBase*>(&b.s2), static_cast<CQNF_3D_SurfaceBase*>(&b.s1)}) {
                s->Create(3 * n, n);
                for (int i = 0; i < n; ++i) {
                    const int src = order[i];
                    for (int k = 0; k < 3; ++k)
                        *s->GetVertex(3 * i + k) = v[3 * src + k];
                    *s->GetTriMesh(i) = {uint32_t(3 * i), uint32_t(3 * i + 1), uint32_t(3 * i + 2), uint8_t(src & 1)};
                }
                s->RecreateMappingArrayFromCurrentValues();
            }
            AddFrontLight(b.s2, 60.0f, 0.2f, 0.1f);
            AddFrontLight(b.s1, 60.0f, 0.2f, 0.1f);
            Tex x = Patterned(32, 32);
            Target t(24, 20);
            Args a;
            a.q = 2;
            ASSERT_EQ(b.Run(r, t, x, a), 1);
            if (perm == 0)
                first = t;
            else
                EXPECT_TRUE(t == first) << Name(r) << " permutation " << perm;
            std::shuffle(order.begin(), order.end(), rng);
        }
    }
}

namespace {

// The naive reference: every subsample tests every triangle with the edge
// rule written out afresh, collects the fragments, sorts them nearest first
// (the later triangle first among equal depths) and composites them.
struct RefTriangle {
    float x[3], y[3], z;
    int texel;
    bool front;
};

bool Covers(const RefTriangle& t, int q, int sx, int sy)
{
    int X[3], Y[3];
    for (int k = 0; k < 3; ++k) {
        X[k] = static_cast<int>(t.x[k] * q);
        Y[k] = static_cast<int>(t.y[k] * q);
    }
    int o[3] = {0, 1, 2};
    std::stable_sort(o, o + 3, [&](int a, int b) { return Y[a] < Y[b]; });
    const int ax = X[o[0]], ay = Y[o[0]], bx = X[o[1]], by = Y[o[1]], cx = X[o[2]], cy = Y[o[2]];
    if (sy < ay || sy >= cy)
        return false;
    auto column = [](int px, int py, int qx, int qy, int row) {
        const long long k = row - py, dx = qx - px, dy = qy - py;
        long long c = px + (dx * k) / dy;
        const float exact = float(px) + float(dx) * float(k) / float(dy);
        if (exact - float(c) > 0.5f)
            ++c;
        return c;
    };
    long long c0, c1;
    if (sy < by) {
        c0 = column(ax, ay, bx, by, sy);
        c1 = column(ax, ay, cx, cy, sy);
    } else {
        c0 = column(ax, ay, cx, cy, sy);
        c1 = column(bx, by, cx, cy, sy);
    }
    return sx >= std::min(c0, c1) && sx < std::max(c0, c1);
}

void Reference(const std::vector<RefTriangle>& tris, const Tex& x, int q, Target& out)
{
    for (int py = 0; py < out.h; ++py)
        for (int px = 0; px < out.w; ++px) {
            int sumA = 0, covered = 0, sumC[4] = {};
            for (int j = 0; j < q; ++j)
                for (int i = 0; i < q; ++i) {
                    struct F {
                        float z;
                        int order, alpha, colour[4];
                    };
                    std::vector<F> frags;
                    for (size_t k = 0; k < tris.size(); ++k) {
                        const RefTriangle& t = tris[k];
                        if (!Covers(t, q, px * q + i, py * q + j) || x.alpha[t.texel] == 0)
                            continue;
                        F f{t.z, int(k), x.alpha[t.texel], {}};
                        for (int c = 0; c < 4; ++c)
                            f.colour[c] = (t.front ? x.front[c] : x.back[c])[t.texel];
                        frags.push_back(f);
                    }
                    if (frags.empty())
                        continue;
                    std::sort(frags.begin(), frags.end(),
                              [](const F& a, const F& b) { return a.z < b.z || (a.z == b.z && a.order > b.order); });
                    int A = 0, acc[4] = {};
                    for (const F& f : frags) {
                        if (A == 255)
                            break;
                        if (A == 0) {
                            A = f.alpha;
                            std::copy(f.colour, f.colour + 4, acc);
                            continue;
                        }
                        const int a = f.alpha;
                        for (int c = 0; c < 4; ++c)
                            acc[c] = ((a * f.colour[c] + acc[c] * A) * 255 - f.colour[c] * A * a) /
                                     ((A + a) * 255 - A * a);
                        A = A + a - A * a / 255;
                    }
                    sumA += A;
                    ++covered;
                    for (int c = 0; c < 4; ++c)
                        sumC[c] += acc[c];
                }
            const size_t at = static_cast<size_t>(py) * out.stride + px;
            out.plane[0][at] = uint8_t(sumA / (q * q));
            if (covered)
                for (int c = 0; c < 3; ++c)  // four channels: alpha and three colours
                    out.plane[c + 1][at] = uint8_t(sumC[c] / covered);
        }
}

}  // namespace

TEST(SurfaceHQInvariants, ScenesMatchANaiveReference)
{
    // Small pictures, and pictures wide and tall enough that a tile is drawn
    // in several bands of rows (about 32768 subsamples each), so that
    // triangles and translucent stacks straddle band boundaries.
    struct Size {
        int w, h;
        std::vector<int> qs;
        int scenes;
    };
    const Size sizes[] = {{24, 20, {1, 2, 3}, 6}, {400, 100, {1}, 2}, {150, 60, {2, 3}, 1}};
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> byte(0, 255);
    for (const Size& size : sizes)
        for (int scene = 0; scene < size.scenes; ++scene) {
            std::uniform_real_distribution<float> px(-3.0f, float(size.w) + 3.0f), py(-3.0f, float(size.h) + 3.0f);
            const int n = 10;
            Tex x(n, 1);
            for (int i = 0; i < n; ++i)
                x.Set(i, 0, i % 4 == 0 ? 255 : i % 4 == 1 ? 0 : uint8_t(byte(rng)), uint8_t(byte(rng) / 2),
                      uint8_t(byte(rng) / 2));
            std::vector<RefTriangle> tris(n);
            CQNF_3D_Surface2 s;
            s.Create(3 * n, n);
            for (int i = 0; i < n; ++i) {
                RefTriangle& t = tris[i];
                for (int k = 0; k < 3; ++k) {
                    t.x[k] = px(rng);
                    t.y[k] = py(rng);
                }
                t.z = float(byte(rng) % 5);  // equal depths happen
                t.texel = i;
                for (int k = 0; k < 3; ++k)
                    *s.GetVertex(3 * i + k) = qnt3D_VERTEX{t.x[k], t.y[k], t.z};
                *s.GetTriMesh(i) = {uint32_t(3 * i), uint32_t(3 * i + 1), uint32_t(3 * i + 2), 0};
                t.front = s.GetMeshNormal(static_cast<unsigned long>(i)).z > 0.0f;
            }
            s.RecreateMappingArrayFromCurrentValues();
            for (int i = 0; i < 3 * n; ++i)
                *s.GetMapping(i) = qnt2D_VERTEX{float(i / 3) + 0.5f, 0.5f};
            for (int q : size.qs) {
                Target got(size.w, size.h), want(size.w, size.h);
                Args a;
                a.q = uint8_t(q);
                a.shading = 0;
                ASSERT_EQ(Call(R::Simple2, &s, nullptr, got, x, a), 1);
                Reference(tris, x, q, want);
                EXPECT_TRUE(got == want) << size.w << " x " << size.h << " scene " << scene << " q " << q;
            }
        }
}
