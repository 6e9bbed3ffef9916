// Helpers for the high-quality renderer tests: output planes, textures, and
// one call per renderer with the arguments most tests leave alone.
#pragma once

#include "S3DTestScenes.h"

#include <cstdint>
#include <vector>

namespace s3dtest {

// Five output planes (0 alpha, 1..4 colour) of w x h at a stride, filled with
// recognisable values so that untouched bytes show.
struct Target {
    int w, h, stride;
    std::vector<uint8_t> plane[5];
    Target(int width, int height, int rowStride = 0, uint8_t alpha = 77, uint8_t colour = 33)
        : w(width), h(height), stride(rowStride ? rowStride : width)
    {
        for (int c = 0; c < 5; ++c)
            plane[c].assign(static_cast<size_t>(stride) * h, c == 0 ? alpha : uint8_t(colour + c));
    }
    uint8_t* p(int c) { return plane[c].data(); }
    uint8_t at(int c, int x, int y) const { return plane[c][static_cast<size_t>(y) * stride + x]; }
    bool operator==(const Target& o) const
    {
        for (int c = 0; c < 5; ++c)
            if (plane[c] != o.plane[c])
                return false;
        return true;
    }
};

// Texture planes: alpha, four colour planes per side, bump maps per side.
struct Tex {
    int w, h, stride;
    std::vector<uint8_t> alpha, front[4], back[4], bump[2];
    Tex(int width, int height, uint8_t a = 255, uint8_t fc = 200, uint8_t bc = 100, int rowStride = 0)
        : w(width), h(height), stride(rowStride ? rowStride : width)
    {
        const size_t n = static_cast<size_t>(stride) * h;
        alpha.assign(n, a);
        for (int c = 0; c < 4; ++c) {
            front[c].assign(n, uint8_t(fc + c));
            back[c].assign(n, uint8_t(bc + c));
        }
        bump[0].assign(n, 0);
        bump[1].assign(n, 0);
    }
    void Set(int x, int y, uint8_t a, uint8_t fc, uint8_t bc)
    {
        const size_t i = static_cast<size_t>(y) * stride + x;
        alpha[i] = a;
        for (int c = 0; c < 4; ++c) {
            front[c][i] = uint8_t(fc + c);
            back[c][i] = uint8_t(bc + c);
        }
    }
};

// What a call may change from the defaults.
struct Args {
    uint8_t q = 1;
    uint8_t n = 4;
    qntRECT_s clip = qnNullRect;
    uint8_t frontSolid = 0, backSolid = 0;
    uint8_t frontColour[7] = {10, 20, 30, 40, 0, 0, 0};
    uint8_t backColour[7] = {50, 60, 70, 80, 0, 0, 0};
    float bumpDepth[2] = {0, 0};  // back, front
    bool bump = false;            // hand the bump maps over
    float flat = -1.0f;
    uint8_t perspective = 0;
    qnt3D_VERTEX centre{0, 0, 0};
    uint8_t autoCentre = 0;
    uint8_t shadows = 0;
    float shading = 100.0f;  // RenderHQ_Simple
};

enum class R { Simple2, Simple1, Opt2, Opt1, Full1, Phong2, Phong1 };

inline uint8_t Call(R which, CQNF_3D_Surface2* s2, CQNF_3D_Surface* s1, Target& t, Tex& x, const Args& a)
{
    uint8_t* f[4] = {x.front[0].data(), x.front[1].data(), x.front[2].data(), x.front[3].data()};
    uint8_t* b[4] = {x.back[0].data(), x.back[1].data(), x.back[2].data(), x.back[3].data()};
    uint8_t* fb = a.bump ? x.bump[1].data() : nullptr;
    uint8_t* bb = a.bump ? x.bump[0].data() : nullptr;
    uint8_t fc[7], bc[7];
    std::copy(a.frontColour, a.frontColour + 7, fc);
    std::copy(a.backColour, a.backColour + 7, bc);
    switch (which) {
    case R::Simple2:
    case R::Simple1: {
        CQNF_3D_SurfaceBase* s = which == R::Simple2 ? static_cast<CQNF_3D_SurfaceBase*>(s2) : s1;
        return s->RenderHQ_Simple(a.shading, a.q, a.n, t.p(1), t.p(2), t.p(3), t.p(4), t.p(0), t.stride, t.w, t.h,
                                  a.frontSolid, fc, f[0], f[1], f[2], f[3], a.backSolid, bc, b[0], b[1], b[2], b[3],
                                  x.alpha.data(), x.stride, x.w, x.h, a.clip);
    }
    case R::Opt2:
        return s2->RenderHQ_Opt(a.perspective, a.centre, a.autoCentre, a.shadows, a.q, a.n, t.p(1), t.p(2), t.p(3),
                                t.p(4), t.p(0), t.stride, t.w, t.h, a.frontSolid, fc, f[0], f[1], f[2], f[3],
                                a.backSolid, bc, b[0], b[1], b[2], b[3], x.alpha.data(), x.stride, x.w, x.h, fb, bb,
                                x.stride, a.bumpDepth[1], a.bumpDepth[0], a.clip, a.flat);
    case R::Opt1:
        return s1->RenderHQ_Opt(a.perspective, a.centre, a.autoCentre, a.shadows, a.q, a.n, t.p(1), t.p(2), t.p(3),
                                t.p(4), t.p(0), t.stride, t.w, t.h, a.frontSolid, fc, f[0], f[1], f[2], f[3],
                                a.backSolid, bc, b[0], b[1], b[2], b[3], x.alpha.data(), x.stride, x.w, x.h, fb, bb,
                                x.stride, a.bumpDepth[1], a.bumpDepth[0], a.clip, a.flat);
    case R::Full1:
        return s1->RenderHQ(a.shadows, a.q, a.n, 0, t.p(1), t.p(2), t.p(3), t.p(4), t.p(0), t.stride, t.w, t.h, f[0],
                            f[1], f[2], f[3], b[0], b[1], b[2], b[3], x.alpha.data(), x.stride, x.w, x.h, fb, bb,
                            x.stride, a.bumpDepth[1], a.bumpDepth[0], a.clip);
    case R::Phong2:
        return s2->RenderHQ_Opt_InterpolatedShading(a.q, a.n, t.p(1), t.p(2), t.p(3), t.p(4), t.p(0), t.stride, t.w,
                                                    t.h, a.frontSolid, fc, f[0], f[1], f[2], f[3], a.backSolid, bc,
                                                    b[0], b[1], b[2], b[3], x.alpha.data(), x.stride, x.w, x.h, fb,
                                                    bb, x.stride, a.bumpDepth[1], a.bumpDepth[0], a.clip);
    case R::Phong1:
        return s1->RenderHQ_Opt_1Light_8_Phong(a.shadows, a.q, a.n, t.p(1), t.p(2), t.p(3), t.p(4), t.p(0), t.stride,
                                               t.w, t.h, a.frontSolid, fc, f[0], f[1], f[2], f[3], a.backSolid, bc,
                                               b[0], b[1], b[2], b[3], x.alpha.data(), x.stride, x.w, x.h, fb, bb,
                                               x.stride, a.bumpDepth[1], a.bumpDepth[0], a.clip);
    }
    return 0;
}

inline bool IsGen2(R r) { return r == R::Simple2 || r == R::Opt2 || r == R::Phong2; }
inline const char* Name(R r)
{
    switch (r) {
    case R::Simple2: return "Simple2";
    case R::Simple1: return "Simple1";
    case R::Opt2: return "Opt2";
    case R::Opt1: return "Opt1";
    case R::Full1: return "Full1";
    case R::Phong2: return "Phong2";
    case R::Phong1: return "Phong1";
    }
    return "?";
}
inline const R kAll[] = {R::Simple2, R::Simple1, R::Opt2, R::Opt1, R::Full1, R::Phong2, R::Phong1};

// A light straight along z for each generation: the second's (-x, y, z)
// vector becomes (0, 0, 1); diffuse only, full strength in every channel.
inline void AddFrontLight(CQNF_3D_Surface2& s, float diffusePercent = 50.0f, float x = 0, float y = 0)
{
    static char name[] = "Key";
    CQNF_3D_Surface2::LIGHT_SOURCE l{};
    l.name = name;
    l.x = -x;
    l.y = y;
    l.z = 1.0f;
    l.zKept = 1;
    l.diffuseOpacity = diffusePercent;
    for (int k = 0; k < 8; ++k)
        l.diffuseColour[k] = 255;
    l.diffuseInHighlight = 1;
    l.diffuseInShadow = 1;
    s.Light_Add(&l);
    uint8_t zero[8] = {};
    s.Light_SetAmbientLight(zero, 0, zero, 0, 0, 0);
    s.Light_PrecalculateLights(1);
}

inline void AddFrontLight(CQNF_3D_Surface& s, float diffusePercent = 100.0f, float x = 0, float y = 0)
{
    static char name[] = "Key";
    CQNF_3D_Surface::LIGHT_SOURCE l{};
    l.name = name;
    l.enabled = 1;
    l.colourScale = 1.0f;
    for (int k = 0; k < 4; ++k)
        l.colour[k] = 0.5f;
    l.colourPercentage = 100.0f;
    l.diffusePercentage = diffusePercent;
    l.x = x;
    l.y = y;
    l.z = 1.0f;
    s.Light_Add(&l);
    s.Light_SetAmbientLight(0.1f, 0.1f, 0.1f, 0.1f);
}

}  // namespace s3dtest
