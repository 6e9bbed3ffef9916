// Randomised abuse of every public operation of both generations: hostile
// streams, coordinates that are not finite or far out of range, indices past
// the arrays, stale mappings, null planes, odd sizes and names. The results
// must stay 0 or 1 and the sanitizers quiet; what the operations compute is
// tested elsewhere.
#include "S3DTestScenes.h"
#include "imaging/Image.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>

namespace {

class Abuser {
public:
    explicit Abuser(unsigned seed) : rng(seed) {}

    std::mt19937 rng;

    int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
    bool Coin(int oneIn = 2) { return Int(0, oneIn - 1) == 0; }

    float Coord()
    {
        switch (Int(0, 9)) {
        case 0:
            return std::numeric_limits<float>::quiet_NaN();
        case 1:
            return Coin() ? HUGE_VALF : -HUGE_VALF;
        case 2:
            return Coin() ? 1e30f : -1e30f;
        case 3:
            return float(Int(-1000, 1000));
        default:
            return std::uniform_real_distribution<float>(-40.0f, 90.0f)(rng);
        }
    }
    float Small() { return Coin(6) ? Coord() : std::uniform_real_distribution<float>(-3.0f, 3.0f)(rng); }
    unsigned long Count(unsigned long typical)
    {
        switch (Int(0, 9)) {
        case 0:
            return 0;
        case 1:
            return 0xFFFFFFFFul;
        default:
            return static_cast<unsigned long>(Int(0, int(typical)));
        }
    }
    std::string Name()
    {
        static const size_t lengths[] = {0, 1, 4, 49, 50, 200};
        const size_t n = lengths[Int(0, 5)];
        std::string s(n, 'a');
        for (auto& ch : s)
            ch = char('a' + Int(0, 2));
        return s;
    }
    qntRECT_s Rect(int w, int h)
    {
        if (Coin(2))
            return qnNullRect;
        if (Coin(8))
            return qntRECT_s{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX};
        return qntRECT_s{Int(-10, w), Int(-10, h), Int(-10, w + 10), Int(-10, h + 10)};
    }
    qntRGBA8 Colour() { return qntRGBA8{uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), uint8_t(rng())}; }
};

template <class S>
void Mesh(Abuser& a, S& s)
{
    const unsigned long nv = a.Count(30), nt = a.Count(30);
    if (s.Create(nv, nt) != 1)
        return;
    for (uint32_t i = 0; i < s.GetVertexCount(); ++i)
        *s.GetVertex(i) = qnt3D_VERTEX{a.Coord(), a.Coord(), a.Small() * 10};
    const uint32_t nvs = s.GetVertexCount();
    for (uint32_t t = 0; t < s.GetTriMeshCount(); ++t) {
        auto idx = [&] { return nvs ? uint32_t(a.Int(0, int(nvs) - 1)) : uint32_t(a.Int(0, 3)); };
        *s.GetTriMesh(t) = {idx(), idx(), idx(), uint8_t(a.rng())};
    }
    // Now and then one index past the vertex array.
    if (s.GetTriMeshCount() && a.Coin(8))
        s.GetTriMesh(uint32_t(a.Int(0, int(s.GetTriMeshCount()) - 1)))->b = nvs + uint32_t(a.Int(0, 3));
    if (!a.Coin(5))
        s.RecreateMappingArrayFromCurrentValues();
}

void Stream(Abuser& a, CQNF_3D_SurfaceBase& s)
{
    std::vector<unsigned char> bytes(size_t(a.Int(0, 200)));
    for (auto& b : bytes)
        b = uint8_t(a.rng());
    if (bytes.size() >= 8 && a.Coin()) {
        // Plausible counts, so the records are read.
        bytes[0] = bytes[1] = bytes[2] = 0;
        bytes[3] = uint8_t(a.Int(0, 6));
        bytes[4] = bytes[5] = bytes[6] = 0;
        bytes[7] = uint8_t(a.Int(0, 6));
    }
    const uint8_t r = s.Create(bytes.data(), a.Coin(4) ? bytes.size() / 2 : bytes.size());
    EXPECT_LE(r, 1);
}

template <class S>
void Transforms(Abuser& a, S& s)
{
    const qnt3D_VERTEX c{a.Coord(), a.Coord(), a.Coord()};
    switch (a.Int(0, 8)) {
    case 0:
        s.Rotate(qnt3D_VECTOR{a.Small(), a.Small(), a.Small()}, c);
        break;
    case 1:
        s.Rotate(a.Small(), a.Small(), a.Small(), c);
        break;
    case 2:
        s.Offset(a.Small(), a.Small(), a.Small());
        break;
    case 3:
        s.OffsetByCenterXY(a.Coord(), a.Coord());
        break;
    case 4: {
        float ax, ay;
        s.OffsetWithCorrectionXY(a.Small(), a.Small(), a.Coord(), a.Coord(), a.Coord(), a.Coord(),
                                 a.Coin() ? &ax : nullptr, a.Coin() ? &ay : nullptr);
        break;
    }
    case 5:
        s.Zoom(a.Small(), a.Small(), a.Small(), c);
        break;
    case 6:
        s.PerspectiveZ(a.Small() * 30, c);
        break;
    case 7:
        s.PerspectiveZ_2(c);
        break;
    default:
        (void)s.GetObjectBounds();
        break;
    }
}

template <class S>
void Queries(Abuser& a, S& s)
{
    EXPECT_LE(s.PrepareVertexNormalsArray(), 1);
    const unsigned long i = static_cast<unsigned long>(a.Int(0, 60));
    (void)s.GetMeshNormal(i);
    qnt3D_VERTEX p, q, r;
    (void)s.GetMeshVertex(i, p, q, r);
    (void)s.GetVertexNormal(i);
    (void)s.GetMapping(i);
    s.SetMatShading(short(a.Int(-32768, 32767)));
    EXPECT_LE(s.RecreateZBuffer(uint16_t(a.Int(0, 70)), uint16_t(a.Int(0, 70))), 1);
}

template <class S>
void Renders(Abuser& a, S& s)
{
    const int w = a.Int(0, 48), h = a.Int(0, 48);
    CQNF_Image img, front, back;
    img.Create(uint16_t(w), uint16_t(h), uint8_t(a.Coin(4) ? 1 : 2));
    if (img.HasPixels())
        img.Set(a.Colour(), 255);
    const int tw = a.Int(0, 40), th = a.Int(0, 40);
    front.Create(uint16_t(tw), uint16_t(th), uint8_t(a.Int(1, 2)));
    back.Create(uint16_t(a.Coin(4) ? tw + 1 : tw), uint16_t(th), uint8_t(a.Int(1, 2)));
    if (front.HasPixels())
        front.Set(a.Colour(), 255);
    if (back.HasPixels())
        back.Set(a.Colour(), 255);
    CQNF_Image* target = a.Coin(10) ? nullptr : &img;
    const short ox = short(a.Coin(8) ? a.Int(-32768, 32767) : a.Int(-20, 20));
    const short oy = short(a.Coin(8) ? a.Int(-32768, 32767) : a.Int(-20, 20));
    const qntRECT_s clip = a.Rect(w, h);
    switch (a.Int(0, 2)) {
    case 0:
        EXPECT_LE(s.RenderMeshGrid(target, ox, oy, clip, uint8_t(a.Int(0, 1)), a.Colour()), 1);
        break;
    case 1:
        EXPECT_LE(s.RenderFlatShadedSurface(target, ox, oy, clip, uint8_t(a.Int(0, 1)), a.Colour(), a.Colour(),
                                            a.Colour()),
                  1);
        break;
    default:
        EXPECT_LE(s.RenderDraftTexturedSurface(target, ox, oy, a.Coin(10) ? nullptr : &front,
                                               a.Coin(10) ? nullptr : &back, clip),
                  1);
        break;
    }
    // The rasterisers on their own, with whatever z-buffer the surface holds.
    auto X = [&] {
        const int64_t v = a.Int(-70, 70);
        return int32_t(a.Coin(10) ? v * (INT32_MAX / 70) : v);
    };
    const qntPOS pa{X(), X()}, pb{X(), X()}, pc{X(), X()};
    const uint32_t tri = uint32_t(a.Coin(4) ? a.rng() : uint32_t(a.Int(0, 60)));
    s.int_DrawYLine(X(), X(), X(), a.Small(), a.Small(), a.Colour(), target, clip, tri);
    s.int_FillTriangle(pa, pb, pc, a.Small(), a.Small(), a.Small(), a.Colour(), target, clip, tri);
    s.int_BlendMeshPixel(X(), X(), a.Colour(), clip, target, tri);
    s.int_DrawMeshLine(X(), X(), X(), X(), a.Colour(), target, clip, tri);
    s.int_BlendAAMeshPixel(X(), X(), uint8_t(a.Int(0, 2)), a.Small(), a.Small(), a.Small(), a.Colour(), clip, target,
                           tri);
    s.int_DrawAAMeshLine(X(), X(), X(), X(), a.Colour(), target, clip, tri);
    s.int_DrawYLine_DraftMapping_Simple(X(), X(), X(), a.Small(), a.Small(), &front, &back, uint8_t(a.Int(0, 1)),
                                        a.Small(), X(), X(), target, clip, tri);
    s.int_DrawYLine_DraftMapping_Transformed(X(), X(), X(), a.Small(), a.Small(), a.Coord(), a.Coord(), a.Coord(),
                                             a.Coord(), &front, &back, 1, a.Small(), target, clip, tri);
    const qnt2D_VERTEX m[3] = {{a.Coord(), a.Coord()}, {a.Coord(), a.Coord()}, {a.Coord(), a.Coord()}};
    s.int_FillTriangle_DraftMapping_Simple(pa, pb, pc, a.Small(), a.Small(), a.Small(), &front, &back, 0, a.Small(),
                                           X(), X(), target, clip, tri);
    s.int_FillTriangle_DraftMapping_Transformed(pa, pb, pc, a.Small(), a.Small(), a.Small(), &m[0], &m[1],
                                                a.Coin(8) ? nullptr : &m[2], &front, &back, 1, a.Small(), target, clip,
                                                tri);
}

void Blurs(Abuser& a)
{
    const int w = a.Int(0, 20), h = a.Int(0, 20);
    std::vector<uint8_t> plane(size_t(w) * h + 1);
    std::vector<float> depth(size_t(w) * h + 1);
    for (auto& b : plane)
        b = uint8_t(a.rng());
    for (auto& d : depth)
        d = a.Coin(3) ? 0.0f : a.Coord();
    const float sigmas[] = {NAN, -1.0f, 1e-30f, 0.0f, 0.49f, 0.5f, 3.0f, 200.0f, 1e9f, HUGE_VALF};
    CQNF_3D_SurfaceBase::int_Blur_Const(plane.data(), w, h, sigmas[a.Int(0, 9)]);
    CQNF_3D_SurfaceBase::int_Blur_Perspective(uint8_t(a.Int(0, 2)), plane.data(), w, h, sigmas[a.Int(0, 9)],
                                              sigmas[a.Int(0, 9)], depth.data());
    CQNF_3D_Surface2 s;
    s.int_Blur_Const_v2(plane.data(), w, h, sigmas[a.Int(0, 9)]);
    const qnt2D_VERTEX t[3] = {{a.Coord(), a.Coord()}, {a.Coord(), a.Coord()}, {a.Coord(), a.Coord()}};
    EXPECT_LE(CQNF_3D_SurfaceBase::geom2D_TestLineSegIntersection(t, t + 1), 3);
    EXPECT_LE(CQNF_3D_SurfaceBase::geom2D_TestPointInTriange(t, t[1]), 1);
    EXPECT_LE(CQNF_3D_SurfaceBase::geom2D_TestTriangeTriangleIntersection(t, t), 1);
}

void Lights2(Abuser& a, CQNF_3D_Surface2& s, std::vector<std::string>& names)
{
    const std::string n = a.Name();
    names.push_back(n);
    CQNF_3D_Surface2::LIGHT_SOURCE l{};
    l.name = a.Coin(10) ? nullptr : const_cast<char*>(names.back().c_str());
    l.x = a.Small();
    l.y = a.Small();
    l.z = a.Small();
    l.zKept = uint8_t(a.Int(0, 1));
    l.gloss = a.Small() * 30;
    l.diffuseOpacity = a.Small() * 50;
    l.castsShadow = uint8_t(a.Int(0, 1));
    l.shadowSoftness = a.Small();
    char* name = const_cast<char*>(names[size_t(a.Int(0, int(names.size()) - 1))].c_str());
    char buf[64];
    switch (a.Int(0, 9)) {
    case 0:
    case 1:
        EXPECT_LE(s.Light_Add(&l), 1);
        break;
    case 2:
        EXPECT_LE(s.Light_Change(a.Coin(10) ? nullptr : &l), 1);
        break;
    case 3:
        EXPECT_LE(s.Light_GetData(&l), 1);
        break;
    case 4:
        EXPECT_LE(s.Light_GetName(unsigned(a.Int(0, 4)), a.Coin(10) ? nullptr : buf, unsigned(a.Int(0, 64))), 1);
        break;
    case 5:
        EXPECT_LE(a.Coin(4) ? s.Light_KillAll() : s.Light_Delete(name), 1);
        break;
    case 6:
        EXPECT_LE(s.Light_CreateShadowMapStorage(name, unsigned(a.Int(0, 40)), unsigned(a.Int(0, 40))), 1);
        (void)s.Light_GetShadowMap(name);
        break;
    case 7: {
        uint8_t hi[8], lo[8];
        EXPECT_LE(s.Light_SetAmbientLight(a.Coin(5) ? nullptr : hi, a.Small(), a.Coin(5) ? nullptr : lo, a.Small(),
                                          uint8_t(a.Int(0, 1)), uint8_t(a.Int(0, 1))),
                  1);
        break;
    }
    default:
        EXPECT_EQ(s.Light_PrecalculateLights(uint8_t(a.Int(0, 4))), 1);
        break;
    }
}

void Shadows2(Abuser& a, CQNF_3D_Surface2& s)
{
    const unsigned long w = unsigned(a.Int(0, 40)), h = unsigned(a.Int(0, 40));
    const unsigned long row = a.Coin(4) ? w + unsigned(a.Int(0, 3)) : w;
    std::vector<uint8_t> alpha(row * h + 1, 255);
    for (auto& b : alpha)
        b = a.Coin(3) ? 255 : uint8_t(a.rng());
    uint8_t* plane = a.Coin(10) ? nullptr : alpha.data();
    s3dtest::RecordingProgress p(a.Coin(4) ? a.Int(1, 30) : 0);
    s.SetProgress(a.Coin() ? &p : nullptr);
    const float scale = a.Small();
    switch (a.Int(0, 2)) {
    case 0:
        EXPECT_LE(s.Light_GenerateAllInnerShadowMaps(plane, row, w, h, scale), 1);
        break;
    default: {
        if (!s.Light_Count() && !a.Coin(10)) {
            char name[] = "sun";
            CQNF_3D_Surface2::LIGHT_SOURCE l{};
            l.name = name;
            l.z = 1;
            l.zKept = 1;
            s.Light_Add(&l);
            s.Light_PrecalculateLights(1);
        }
        auto* light = s.int_Light_Get(unsigned(a.Int(0, int(s.Light_Count()))));
        if (light && !a.Coin(5))
            s.Light_CreateShadowMapStorage(light->name, w, h);
        const uint8_t r = a.Coin() ? s.int_GenerateInternalLightShadowMap(light, plane, row, w, h, scale, 0, 100)
                                   : s.int_GenerateInternalLightShadowMap_v2(light, plane, row, w, h, scale, 0, 100);
        EXPECT_LE(r, 1);
        break;
    }
    }
    s.SetProgress(nullptr);
}

void LightsAndShadows1(Abuser& a, CQNF_3D_Surface& s, std::vector<std::string>& names)
{
    const std::string n = a.Name();
    names.push_back(n);
    CQNF_3D_Surface::LIGHT_SOURCE l{};
    l.name = a.Coin(10) ? nullptr : const_cast<char*>(names.back().c_str());
    l.x = a.Small();
    l.y = a.Small();
    l.z = a.Small();
    l.enabled = uint8_t(a.Int(0, 1));
    l.smLevel = uint8_t(a.Coin(4) ? 255 : a.Int(0, 2));
    l.smBlurMode = uint8_t(a.Int(0, 3));
    l.smNearRadius = a.Small();
    l.smFarRadius = a.Small();
    l.useShadowMap = uint8_t(a.Int(0, 1));
    char* name = const_cast<char*>(names[size_t(a.Int(0, int(names.size()) - 1))].c_str());
    char buf[64];
    const unsigned long w = unsigned(a.Int(0, 16)), h = unsigned(a.Int(0, 16));
    std::vector<uint8_t> alpha(w * h + 1, 255);
    switch (a.Int(0, 9)) {
    case 0:
    case 1:
        EXPECT_LE(s.Light_Add(&l), 1);
        break;
    case 2:
        EXPECT_LE(s.Light_Change(&l), 1);
        EXPECT_LE(s.Light_GetData(&l), 1);
        break;
    case 3:
        EXPECT_LE(s.Light_GetName(unsigned(a.Int(0, 4)), buf, unsigned(a.Int(0, 64))), 1);
        EXPECT_LE(s.Light_Enable(name, 1), 1);
        EXPECT_LE(s.Light_UseShadowMap(name, uint8_t(a.Int(0, 1))), 1);
        break;
    case 4:
        EXPECT_LE(a.Coin(4) ? s.Light_KillAll() : s.Light_Delete(name), 1);
        break;
    case 5:
        EXPECT_LE(s.Light_SetChangedFlag(name, uint8_t(a.Int(0, 1))) + s.Light_SetBgChangedFlag(name, 1), 2);
        EXPECT_LE(s.Light_CheckAllLightsChanges() + s.Light_CheckAllLightsBgShadowChanges(), 2);
        break;
    case 6:
        EXPECT_LE(s.Light_CreateShadowMapStorage(name, w, h), 1);
        break;
    case 7: {
        auto* light = s.int_Light_Get(unsigned(a.Int(0, int(s.Light_Count()))));
        if (light && !a.Coin(5))
            s.Light_CreateShadowMapStorage(light->name, w, h);
        EXPECT_LE(s.int_GenerateInternalLightShadowMap(light, alpha.data(), w, w, h), 1);
        break;
    }
    default:
        EXPECT_LE(s.Light_GenerateAllInnerShadowMaps(a.Coin(10) ? nullptr : alpha.data(), w, w, h, uint8_t(a.Int(0, 1))),
                  1);
        break;
    }
}

}  // namespace

TEST(SurfaceAbuse, RandomisedPublicOperationsStaySafe)
{
    for (unsigned seed = 1; seed <= 200; ++seed) {
        Abuser a(seed);
        CQNF_3D_Surface2 s2;
        CQNF_3D_Surface s1;
        std::vector<std::string> names2, names1;
        names2.reserve(200);
        names1.reserve(200);
        names2.push_back("x");
        names1.push_back("x");
        Mesh(a, s2);
        Mesh(a, s1);
        for (int step = 0; step < 40; ++step) {
            CQNF_3D_SurfaceBase& base = a.Coin() ? static_cast<CQNF_3D_SurfaceBase&>(s2) : s1;
            switch (a.Int(0, 9)) {
            case 0:
                if (a.Coin())
                    Mesh(a, s2);
                else
                    Mesh(a, s1);
                break;
            case 1:
                Stream(a, base);
                break;
            case 2:
                Transforms(a, base);
                break;
            case 3:
                Queries(a, base);
                break;
            case 4:
                Renders(a, base);
                break;
            case 5:
                Blurs(a);
                break;
            case 6:
                Lights2(a, s2, names2);
                break;
            case 7:
                Shadows2(a, s2);
                break;
            case 8:
                LightsAndShadows1(a, s1, names1);
                break;
            default: {
                CQNF_3D_Surface2 copy2;
                CQNF_3D_Surface copy1;
                EXPECT_EQ(copy2.Create(&s2), 1);
                EXPECT_LE(copy1.Create(a.Coin(10) ? nullptr : &s1), 1);
                break;
            }
            }
        }
    }
}
