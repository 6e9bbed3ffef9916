// surface3d-demo: builds small scenes for the mesh renderer (a wave, a card
// floating above a sheet), renders them with any renderer of either
// generation or draws a light's shadow map, and writes PNG files for a person
// to look at.
//
//   surface3d-demo --scene wave|card --view VIEW [--gen 1|2] [--size WxH]
//                  [--light X,Y,Z] [--generator pairwise|tiled] [--ss Q] -o FILE.png
//   surface3d-demo --all OUTDIR
//   surface3d-demo --contact-sheet FILE.png
//
// VIEW is a preview (flat, flat-grid, grid, grid-aa, draft), shadowmap, or a
// high-quality render: hq-simple, hq-opt (lights, shadow maps, perspective),
// hq-phong (interpolated normals), and for the first generation hq-full (all
// lights) and bgshadow (the shadow on a ground behind the mesh under an
// hq-full render). Renders are composited over a grey checkerboard so that
// uncovered pixels show; a shadow map is written as a grey picture in texture
// space (white = lit). The contact sheet shows every renderer of both
// generations, each labelled.
#include "core/String.h"
#include "imaging/Image.h"
#include "imaging/ImageFile.h"
#include "surface3d/Surface.h"
#include "surface3d/Surface2.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <exception>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

namespace {

const char* const kUsage =
    "usage: surface3d-demo --scene wave|card --view "
    "flat|flat-grid|grid|grid-aa|draft|shadowmap|hq-simple|hq-opt|hq-phong|hq-full|bgshadow [--gen 1|2] "
    "[--size WxH] [--light X,Y,Z] [--generator pairwise|tiled] [--ss Q] -o FILE.png\n"
    "       surface3d-demo --all OUTDIR\n"
    "       surface3d-demo --contact-sheet FILE.png\n";

const char* const kViews[] = {"flat",   "flat-grid", "grid",     "grid-aa", "draft",   "shadowmap",
                              "hq-simple", "hq-opt", "hq-phong", "hq-full", "bgshadow"};

bool IsView(const std::string& v)
{
    for (const char* k : kViews)
        if (v == k)
            return true;
    return false;
}

int Fail(const std::string& message)
{
    std::fprintf(stderr, "surface3d-demo: %s\n", message.c_str());
    return 1;
}

struct Options {
    std::string scene = "card";
    std::string view = "flat";
    int gen = 2;
    int width = 320;
    int height = 240;
    float light[3] = {0.5f, 0.4f, 1.0f};
    std::string generator = "pairwise";
    int ss = 3;
    std::string output;
};

// A picture to write: 8-bit rows, grey or RGB.
struct Picture {
    int width = 0, height = 0;
    bool grey = false;
    std::vector<uint8_t> pixels;
};

// Writes 8-bit rows, grey or interleaved RGB, as a PNG; the file is replaced
// only once the new one is complete.
bool WritePng(const std::string& path, int width, int height, bool grey, const std::vector<uint8_t>& pixels,
              std::string& error)
{
    const size_t n = static_cast<size_t>(width) * height;
    std::vector<uint8_t> planar;
    const unsigned char* planes[4] = {pixels.data(), nullptr, nullptr, nullptr};
    if (!grey) {
        planar.resize(n * 3);
        for (size_t i = 0; i < n; ++i)
            for (size_t c = 0; c < 3; ++c)
                planar[c * n + i] = pixels[i * 3 + c];
        for (size_t c = 0; c < 3; ++c)
            planes[c] = planar.data() + c * n;
    }
    unsigned short code = 0;
    if (!qnCodecSavePNG(path.c_str(), static_cast<uint16_t>(width), static_cast<uint16_t>(height),
                        grey ? qncodec::ModeGrey : qncodec::ModeColour, planes, nullptr,
                        static_cast<uint32_t>(width), 72.0, "surface3d-demo", code, false)) {
        error = "cannot write " + path + " (error " + std::to_string(code) + ")";
        return false;
    }
    return true;
}

// The four planes of a render over a checkerboard, interleaved RGB.
std::vector<uint8_t> OverCheckerboard(CQNF_Image& img)
{
    const int w = img.GetImageWidth(), h = img.GetImageHeight();
    std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = static_cast<size_t>(y) * w + x;
            const unsigned a = img.GetPlane(3)[i];
            const unsigned bg = ((x / 8 + y / 8) & 1) ? 200 : 160;
            for (unsigned p = 0; p < 3; ++p)
                rgb[i * 3 + p] = static_cast<uint8_t>((img.GetPlane(p)[i] * a + bg * (255 - a)) / 255);
        }
    return rgb;
}

// ---- Scenes ------------------------------------------------------------------------

// The texture of both scenes: a checkerboard sheet region on the left and,
// for the card, a region on the right with a round hole and a translucent
// band, so that its shadow shows both.
struct Texture {
    CQNF_Image front;  // colour and mask
    CQNF_Image back;   // colour of faces seen from behind
    int sheetW = 0, sheetH = 0, cardX = 0, cardSide = 0;
};

void MakeTexture(Texture& t, int sheetW, int sheetH, int cardSide)
{
    t.sheetW = sheetW;
    t.sheetH = sheetH;
    t.cardX = sheetW + 8;
    t.cardSide = cardSide;
    const int w = t.cardX + cardSide, h = std::max(sheetH, cardSide);
    t.front.Create(static_cast<uint16_t>(w), static_cast<uint16_t>(h), qnimg::ModeRGBA);
    t.back.Create(static_cast<uint16_t>(w), static_cast<uint16_t>(h), qnimg::ModeRGB);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            qntRGBA8 c{0, 0, 0, 0};
            if (x < sheetW && y < sheetH) {
                const bool odd = ((x / 16) + (y / 16)) & 1;
                c = odd ? qntRGBA8{70, uint8_t(120 + y * 100 / sheetH), 200, 255}
                        : qntRGBA8{230, 230, uint8_t(180 + x * 60 / sheetW), 255};
            } else if (x >= t.cardX && y < cardSide) {
                const double cx = x - t.cardX - cardSide / 2.0 + 0.5, cy = y - cardSide / 2.0 + 0.5;
                const double r = std::sqrt(cx * cx + cy * cy);
                uint8_t a = 255;
                if (r < cardSide * 0.18)
                    a = 0;
                else if (y > cardSide * 0.75 && y < cardSide * 0.87)
                    a = 128;
                c = qntRGBA8{240, uint8_t(110 + y * 80 / cardSide), 40, a};
            }
            t.front.SetPixel(static_cast<uint16_t>(x), static_cast<uint16_t>(y), c);
            t.back.SetPixel(static_cast<uint16_t>(x), static_cast<uint16_t>(y),
                            qntRGBA8{uint8_t(c.r / 3), uint8_t(c.g / 3), uint8_t(c.b / 3), 255});
        }
}

// A grid of n x m cells over the rectangle, z from zf, texture = position
// minus the rectangle's corner plus (u0, v0). Triangles face +z and carry all
// grid-edge bits.
template <class S, class ZFn>
void AddGrid(S& s, int n, int m, float x0, float y0, float x1, float y1, float u0, float v0, ZFn zf)
{
    const uint32_t nv = s.GetVertexCount(), nt = s.GetTriMeshCount();
    std::vector<qnt2D_VERTEX> keep(nv);
    for (uint32_t i = 0; i < nv; ++i)
        keep[i] = *s.GetMapping(i);
    s.Create(static_cast<unsigned long>(nv + (n + 1) * (m + 1)), static_cast<unsigned long>(nt + 2 * n * m));
    for (int j = 0; j <= m; ++j)
        for (int i = 0; i <= n; ++i) {
            const float x = x0 + (x1 - x0) * i / n, y = y0 + (y1 - y0) * j / m;
            *s.GetVertex(nv + j * (n + 1) + i) = qnt3D_VERTEX{x, y, zf(x, y)};
        }
    uint32_t t = nt;
    for (int j = 0; j < m; ++j)
        for (int i = 0; i < n; ++i) {
            const uint32_t a = nv + j * (n + 1) + i, b = a + 1, c = a + (n + 1) + 1, d = a + (n + 1);
            *s.GetTriMesh(t++) = {a, b, c, 7};
            *s.GetTriMesh(t++) = {a, c, d, 7};
        }
    s.RecreateMappingArrayFromCurrentValues();
    for (uint32_t i = 0; i < nv; ++i)
        *s.GetMapping(i) = keep[i];
    for (uint32_t i = nv; i < s.GetVertexCount(); ++i) {
        s.GetMapping(i)->x += u0 - x0;
        s.GetMapping(i)->y += v0 - y0;
    }
}

// A wave over most of the picture, tilted toward the viewer.
template <class S>
void BuildWave(S& s, Texture& t, int w, int h)
{
    const float mx = w * 0.08f, my = h * 0.08f;
    MakeTexture(t, w, h, 8);
    const float amp = h * 0.06f, lambda = w * 0.25f;
    AddGrid(s, 24, 18, mx, my, w - mx, h - my, mx, my, [&](float x, float y) {
        return amp * std::sin(6.2831853f * x / lambda) * std::cos(6.2831853f * y / lambda);
    });
}

// A sheet with a square card floating above it (nearer the viewer and the
// light), each on its own region of the texture.
template <class S>
void BuildCard(S& s, Texture& t, int w, int h)
{
    const float sx0 = w * 0.05f, sy0 = h * 0.07f, sx1 = w * 0.95f, sy1 = h * 0.93f;
    const int side = static_cast<int>(h * 0.36f);
    MakeTexture(t, static_cast<int>(sx1 - sx0) + 1, static_cast<int>(sy1 - sy0) + 1, side);
    AddGrid(s, 12, 9, sx0, sy0, sx1, sy1, 0, 0, [](float, float) { return 0.0f; });
    const float cx = w * 0.42f, cy = h * 0.38f;
    // Tilted a little, so that its shade differs from the sheet's.
    AddGrid(s, 4, 4, cx, cy, cx + side, cy + side, static_cast<float>(t.cardX), 0,
            [&](float, float y) { return -h * 0.2f - (y - cy) * 0.3f; });
}

template <class S>
void BuildScene(S& s, Texture& t, const Options& o)
{
    if (o.scene == "wave")
        BuildWave(s, t, o.width, o.height);
    else
        BuildCard(s, t, o.width, o.height);
}

// ---- Views -------------------------------------------------------------------------

template <class S>
bool RenderPreview(const Options& o, std::vector<uint8_t>& rgb, std::string& error)
{
    S s;
    Texture t;
    BuildScene(s, t, o);
    // A slight turn so the preview shows depth; the texture stays on the mesh.
    const qnt3D_VERTEX centre{o.width / 2.0f, o.height / 2.0f, 0};
    s.Rotate(o.scene == "wave" ? 0.55f : 0.3f, o.scene == "wave" ? 0.0f : -0.25f, 0.05f, centre);
    CQNF_Image img;
    img.Create(static_cast<uint16_t>(o.width), static_cast<uint16_t>(o.height), qnimg::ModeRGBA);
    img.Set(qntRGBA8{0, 0, 0, 0}, 255);
    const qntRGBA8 front{90, 150, 220, 255}, back{200, 90, 60, 255};
    uint8_t ok = 0;
    if (o.view == "flat")
        ok = s.RenderFlatShadedSurface(&img, 0, 0, qnNullRect, 0, qntRGBA8{0, 0, 0, 0}, front, back);
    else if (o.view == "flat-grid")
        ok = s.RenderFlatShadedSurface(&img, 0, 0, qnNullRect, 1, qntRGBA8{20, 30, 60, 255}, front, back);
    else if (o.view == "grid" || o.view == "grid-aa") {
        img.Set(qntRGBA8{255, 255, 255, 255}, 255);
        ok = s.RenderMeshGrid(&img, 0, 0, qnNullRect, o.view == "grid-aa", qntRGBA8{20, 40, 90, 255});
    } else if (o.view == "draft")
        ok = s.RenderDraftTexturedSurface(&img, 0, 0, &t.front, &t.back, qnNullRect);
    if (!ok) {
        error = "render failed (error " + std::to_string(s.GetError()) + ")";
        return false;
    }
    rgb = OverCheckerboard(img);
    return true;
}

// The shadow map of one light over the card scene's texture, as grey bytes.
bool RenderShadowMap(const Options& o, std::vector<uint8_t>& grey, int& w, int& h, std::string& error)
{
    Texture t;
    std::vector<uint8_t> alpha;
    auto takeAlpha = [&] {
        w = t.front.GetImageWidth();
        h = t.front.GetImageHeight();
        alpha.assign(t.front.GetPlane(3), t.front.GetPlane(3) + t.front.PlaneSize());
    };
    char name[] = "Key";
    if (o.gen == 1) {
        CQNF_3D_Surface s;
        BuildScene(s, t, o);
        takeAlpha();
        CQNF_3D_Surface::LIGHT_SOURCE l{};
        l.name = name;
        l.enabled = 1;
        l.x = o.light[0];
        l.y = o.light[1];
        l.z = o.light[2];
        l.smLevel = 1;
        l.smBlurMode = 1;
        l.smNearRadius = 0.5f;
        l.smFarRadius = 3.0f;
        l.useShadowMap = 1;
        if (!s.Light_Add(&l) || !s.Light_UseShadowMap(name, 1) ||
            !s.Light_GenerateAllInnerShadowMaps(alpha.data(), w, w, h, 0)) {
            error = "shadow map failed (error " + std::to_string(s.GetError()) + ")";
            return false;
        }
        grey.assign(s.Light_GetShadowMap(name), s.Light_GetShadowMap(name) + static_cast<size_t>(w) * h);
        return true;
    }
    CQNF_3D_Surface2 s;
    BuildScene(s, t, o);
    takeAlpha();
    CQNF_3D_Surface2::LIGHT_SOURCE l{};
    l.name = name;
    // The stored light vector is (-x, y, z): give x negated so that --light
    // names the vector itself, as for the first generation.
    l.x = -o.light[0];
    l.y = o.light[1];
    l.z = o.light[2];
    l.zKept = 1;
    l.castsShadow = 1;
    l.shadowSoftness = 1.5f;
    if (!s.Light_Add(&l) || !s.Light_PrecalculateLights(1) || !s.Light_CreateShadowMapStorage(name, w, h)) {
        error = "light set-up failed (error " + std::to_string(s.GetError()) + ")";
        return false;
    }
    auto* rec = s.int_Light_Get(0);
    const uint8_t ok = o.generator == "tiled"
                           ? s.int_GenerateInternalLightShadowMap_v2(rec, alpha.data(), w, w, h, 1.0f, 0, 100)
                           : s.int_GenerateInternalLightShadowMap(rec, alpha.data(), w, w, h, 1.0f, 0, 100);
    if (!ok) {
        error = "shadow map failed (error " + std::to_string(s.GetError()) + ")";
        return false;
    }
    grey.assign(rec->shadowMap, rec->shadowMap + static_cast<size_t>(w) * h);
    return true;
}

// ---- High-quality views ---------------------------------------------------------

// The turn the previews give the scenes, so that they show depth.
template <class S>
void Turn(S& s, const Options& o)
{
    const qnt3D_VERTEX centre{o.width / 2.0f, o.height / 2.0f, 0};
    s.Rotate(o.scene == "wave" ? 0.55f : 0.3f, o.scene == "wave" ? 0.0f : -0.25f, 0.05f, centre);
}

// A key light of each generation from --light, casting shadows, with a shadow
// map made for the scene's texture.
bool KeyLight(CQNF_3D_Surface2& s, const Options& o, const Texture& t, std::string& error)
{
    static char name[] = "Key";
    CQNF_3D_Surface2::LIGHT_SOURCE l{};
    l.name = name;
    // The stored vector is (-x, y, z); unit length keeps the terms in range.
    const float len = std::sqrt(o.light[0] * o.light[0] + o.light[1] * o.light[1] + o.light[2] * o.light[2]);
    l.x = -o.light[0] / len;
    l.y = o.light[1] / len;
    l.z = o.light[2] / len;
    l.zKept = 1;
    l.diffuseOpacity = 55.0f;
    l.specularOpacity = 30.0f;
    l.gloss = 40.0f;
    for (int k = 0; k < 8; ++k)
        l.diffuseColour[k] = l.specularColour[k] = 255;
    l.diffuseInHighlight = l.specularInHighlight = l.diffuseInShadow = 1;
    l.castsShadow = 1;
    l.shadowIntensity = 80.0f;
    l.shadowSoftness = 1.5f;
    uint8_t white[8] = {255, 255, 255, 255, 255, 255, 255, 255};
    const int w = t.front.GetImageWidth(), h = t.front.GetImageHeight();
    if (!s.Light_Add(&l) || !s.Light_SetAmbientLight(white, 25.0f, white, 30.0f, 0, 0) ||
        !s.Light_PrecalculateLights(1) || !s.Light_CreateShadowMapStorage(name, w, h) ||
        !s.Light_GenerateAllInnerShadowMaps(t.front.GetPlane(3), w, w, h, 1.0f)) {
        error = "light set-up failed (error " + std::to_string(s.GetError()) + ")";
        return false;
    }
    return true;
}

bool KeyLight(CQNF_3D_Surface& s, const Options& o, const Texture& t, std::string& error)
{
    static char name[] = "Key";
    CQNF_3D_Surface::LIGHT_SOURCE l{};
    l.name = name;
    l.enabled = 1;
    l.colourScale = 1.0f;
    for (float& c : l.colour)
        c = 0.7f;
    l.colourPercentage = 100.0f;
    l.diffusePercentage = 85.0f;
    // The one-light lighting takes the direction as it is: give it unit length.
    const float len = std::sqrt(o.light[0] * o.light[0] + o.light[1] * o.light[1] + o.light[2] * o.light[2]);
    l.x = o.light[0] / len;
    l.y = o.light[1] / len;
    l.z = o.light[2] / len;
    l.shadowIntensity = 80.0f;
    l.smLevel = 1;
    l.smFarRadius = 1.5f;
    l.bgShadow = 1;
    l.bgStrength = 70.0f;
    l.bgLevel = 1;
    l.bgBlurMode = 1;
    l.bgNearRadius = 1.0f;
    l.bgFarRadius = 4.0f;
    l.useShadowMap = 1;
    const int w = t.front.GetImageWidth(), h = t.front.GetImageHeight();
    if (!s.Light_Add(&l) || !s.Light_SetAmbientLight(0.35f, 0.35f, 0.35f, 0.35f) ||
        !s.Light_UseShadowMap(name, 1) || !s.Light_GenerateAllInnerShadowMaps(t.front.GetPlane(3), w, w, h, 0)) {
        error = "light set-up failed (error " + std::to_string(s.GetError()) + ")";
        return false;
    }
    return true;
}

// A four-plane picture: high-quality renders write red, green, blue and alpha.
struct Render {
    CQNF_Image img;
    Render(int w, int h)
    {
        img.Create(static_cast<uint16_t>(w), static_cast<uint16_t>(h), qnimg::ModeRGBA);
        img.Set(qntRGBA8{0, 0, 0, 0}, 255);
    }
    uint8_t* p(int c) { return img.GetPlane(static_cast<unsigned>(c)); }
};

bool RenderHQView(const Options& o, std::vector<uint8_t>& rgb, std::string& error)
{
    const uint8_t q = static_cast<uint8_t>(o.ss);
    Render r(o.width, o.height);
    const unsigned long W = static_cast<unsigned long>(o.width), H = static_cast<unsigned long>(o.height);
    uint8_t ok = 0;
    unsigned short err = 0;
    std::vector<uint8_t> ground;  // bgshadow: light grey ground darkened by the shadow
    Texture t;
    auto tex = [&](int c) { return t.front.GetPlane(static_cast<unsigned>(c)); };
    auto back = [&](int c) { return t.back.GetPlane(static_cast<unsigned>(c)); };
    uint8_t frontColour[4] = {240, 200, 80, 0}, backColour[4] = {80, 90, 160, 0};
    // The renderers both generations have, with the same arguments.
    auto shared = [&](auto& s, unsigned long tw, unsigned long th) {
        if (o.view == "hq-simple")
            return s.RenderHQ_Simple(60.0f, q, 4, r.p(0), r.p(1), r.p(2), nullptr, r.p(3), W, W, H, 0, frontColour,
                                     tex(0), tex(1), tex(2), nullptr, 0, backColour, back(0), back(1), back(2),
                                     nullptr, tex(3), tw, tw, th, qnNullRect);
        return s.RenderHQ_Opt(1, qnt3D_VERTEX{o.width / 2.0f, o.height / 2.0f, 700.0f}, 0, 1, q, 4, r.p(0), r.p(1),
                              r.p(2), nullptr, r.p(3), W, W, H, 0, frontColour, tex(0), tex(1), tex(2), nullptr, 0,
                              backColour, back(0), back(1), back(2), nullptr, tex(3), tw, tw, th, nullptr, nullptr, tw,
                              0.0f, 0.0f, qnNullRect, -1.0f);
    };
    const bool common = o.view == "hq-simple" || o.view == "hq-opt";
    if (o.gen == 2) {
        CQNF_3D_Surface2 s;
        BuildScene(s, t, o);
        Turn(s, o);
        if (!KeyLight(s, o, t, error))
            return false;
        const unsigned long tw = t.front.GetImageWidth(), th = t.front.GetImageHeight();
        if (common)
            ok = shared(s, tw, th);
        else if (o.view == "hq-phong")
            ok = s.RenderHQ_Opt_InterpolatedShading(q, 4, r.p(0), r.p(1), r.p(2), nullptr, r.p(3), W, W, H, 0,
                                                    frontColour, tex(0), tex(1), tex(2), nullptr, 0, backColour,
                                                    back(0), back(1), back(2), nullptr, tex(3), tw, tw, th, nullptr,
                                                    nullptr, tw, 0.0f, 0.0f, qnNullRect);
        else {
            error = o.view + " belongs to the first generation only (--gen 1)";
            return false;
        }
        err = s.GetError();
    } else {
        CQNF_3D_Surface s;
        BuildScene(s, t, o);
        Turn(s, o);
        if (!KeyLight(s, o, t, error))
            return false;
        const unsigned long tw = t.front.GetImageWidth(), th = t.front.GetImageHeight();
        if (common)
            ok = shared(s, tw, th);
        else if (o.view == "hq-phong")
            ok = s.RenderHQ_Opt_1Light_8_Phong(1, q, 4, r.p(0), r.p(1), r.p(2), nullptr, r.p(3), W, W, H, 0,
                                               frontColour, tex(0), tex(1), tex(2), nullptr, 0, backColour, back(0),
                                               back(1), back(2), nullptr, tex(3), tw, tw, th, nullptr, nullptr, tw,
                                               0.0f, 0.0f, qnNullRect);
        else {
            ok = s.RenderHQ(1, q, 4, 0, r.p(0), r.p(1), r.p(2), nullptr, r.p(3), W, W, H, tex(0), tex(1), tex(2),
                            nullptr, back(0), back(1), back(2), nullptr, tex(3), tw, tw, th, nullptr, nullptr, tw,
                            0.0f, 0.0f, qnNullRect);
            if (ok && o.view == "bgshadow") {
                ground.assign(static_cast<size_t>(W) * H, 0);
                ok = s.RenderHQ_BgShadow(40.0f, tex(3), tw, tw, th, ground.data(), W, W, H);
            }
        }
        err = s.GetError();
    }
    if (!ok) {
        error = "render failed (error " + std::to_string(err) + ")";
        return false;
    }
    if (ground.empty()) {
        rgb = OverCheckerboard(r.img);
        return true;
    }
    // The render over a light ground that its shadow darkens.
    rgb.resize(static_cast<size_t>(W) * H * 3);
    for (size_t i = 0; i < static_cast<size_t>(W) * H; ++i) {
        const unsigned g = 225u * (255u - ground[i]) / 255u, a = r.p(3)[i];
        for (int c = 0; c < 3; ++c)
            rgb[i * 3 + c] = static_cast<uint8_t>((r.p(c)[i] * a + g * (255 - a)) / 255);
    }
    return true;
}

// ---- Output ----------------------------------------------------------------------

bool Produce(const Options& o, Picture& pic, std::string& error)
{
    pic = Picture{};
    if (o.view == "shadowmap") {
        pic.grey = true;
        return RenderShadowMap(o, pic.pixels, pic.width, pic.height, error);
    }
    pic.width = o.width;
    pic.height = o.height;
    if (o.view.rfind("hq-", 0) == 0 || o.view == "bgshadow")
        return RenderHQView(o, pic.pixels, error);
    return o.gen == 1 ? RenderPreview<CQNF_3D_Surface>(o, pic.pixels, error)
                      : RenderPreview<CQNF_3D_Surface2>(o, pic.pixels, error);
}

int RunOne(const Options& o)
{
    std::string error;
    Picture pic;
    if (!Produce(o, pic, error) || !WritePng(o.output, pic.width, pic.height, pic.grey, pic.pixels, error))
        return Fail(error);
    std::printf("%s\n", o.output.c_str());
    return 0;
}

// A 3 x 5 pixel font for the contact sheet's labels: capitals, digits and a
// few signs, five rows of three bits per glyph.
uint16_t Glyph(char c)
{
    static const struct {
        char c;
        uint16_t bits;
    } font[] = {
        {'A', 0x2BED}, {'B', 0x6BAE}, {'C', 0x7927}, {'D', 0x6B6E}, {'E', 0x79A7}, {'F', 0x79A4}, {'G', 0x796F},
        {'H', 0x5BED}, {'I', 0x7497}, {'J', 0x124E}, {'K', 0x5BAD}, {'L', 0x4927}, {'M', 0x5FED}, {'N', 0x6B6D},
        {'O', 0x2B6A}, {'P', 0x6BA4}, {'Q', 0x2B73}, {'R', 0x6BAD}, {'S', 0x388E}, {'T', 0x7492}, {'U', 0x5B6F},
        {'V', 0x5B6A}, {'W', 0x5BFD}, {'X', 0x5AAD}, {'Y', 0x5A92}, {'Z', 0x72A7}, {'0', 0x7B6F}, {'1', 0x2C97},
        {'2', 0x62A7}, {'3', 0x728E}, {'4', 0x5BC9}, {'5', 0x798E}, {'6', 0x39EF}, {'7', 0x7249}, {'8', 0x7BEF},
        {'9', 0x7BCE}, {'+', 0x05D0}, {'-', 0x01C0}, {'/', 0x12A4}, {'.', 0x0002}, {' ', 0x0000},
    };
    const char u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const auto& g : font)
        if (g.c == u)
            return g.bits;
    return 0x7FFF;
}

void Label(std::vector<uint8_t>& rgb, int width, int x, int y, const std::string& text, int scale)
{
    for (char ch : text) {
        const uint16_t bits = Glyph(ch);
        for (int r = 0; r < 5; ++r)
            for (int c = 0; c < 3; ++c)
                if (bits & (1u << (14 - (r * 3 + c))))
                    for (int dy = 0; dy < scale; ++dy)
                        for (int dx = 0; dx < scale; ++dx) {
                            const size_t i = (static_cast<size_t>(y + r * scale + dy) * width + x + c * scale + dx) * 3;
                            if (i + 2 < rgb.size())
                                rgb[i] = rgb[i + 1] = rgb[i + 2] = 255;
                        }
        x += 4 * scale;
    }
}

// One picture of the contact sheet or of --all: a scene, a view and the
// generation drawing it; name is the cell's label or the file's name.
struct Shot {
    const char* scene;
    const char* view;
    int gen;
    const char* generator;  // empty: the base options' own
    const char* name;
};

Options ForShot(const Options& base, const Shot& shot)
{
    Options o = base;
    o.scene = shot.scene;
    o.view = shot.view;
    o.gen = shot.gen;
    if (*shot.generator)
        o.generator = shot.generator;
    return o;
}

// Every renderer of both generations, one labelled cell each.
int ContactSheet(const Options& base, const std::string& output)
{
    const Shot cells[] = {
        {"wave", "grid-aa", 2, "", "2 GRID AA"},
        {"wave", "flat-grid", 2, "", "2 FLAT + GRID"},
        {"card", "draft", 2, "", "2 DRAFT"},
        {"card", "shadowmap", 2, "pairwise", "2 SHADOW MAP PAIRWISE"},
        {"card", "shadowmap", 2, "tiled", "2 SHADOW MAP TILED"},
        {"card", "hq-simple", 2, "", "2 HQ SIMPLE"},
        {"card", "hq-opt", 2, "", "2 HQ OPT SHADOW PERSP"},
        {"wave", "hq-phong", 2, "", "2 HQ INTERPOLATED"},
        {"wave", "hq-opt", 2, "", "2 HQ OPT"},
        {"wave", "grid", 1, "", "1 GRID"},
        {"card", "flat-grid", 1, "", "1 FLAT + GRID"},
        {"wave", "draft", 1, "", "1 DRAFT"},
        {"card", "shadowmap", 1, "pairwise", "1 SHADOW MAP"},
        {"card", "hq-simple", 1, "", "1 HQ SIMPLE"},
        {"card", "hq-opt", 1, "", "1 HQ OPT SHADOW PERSP"},
        {"wave", "hq-phong", 1, "", "1 HQ PHONG"},
        {"card", "hq-full", 1, "", "1 HQ FULL"},
        {"card", "bgshadow", 1, "", "1 HQ FULL + BG SHADOW"},
    };
    const int cw = 280, ch = 210, strip = 14, cols = 6;
    const int rows = static_cast<int>((std::size(cells) + cols - 1) / cols);
    const int W = cols * cw, H = rows * (ch + strip);
    std::vector<uint8_t> sheet(static_cast<size_t>(W) * H * 3, 40);
    for (size_t k = 0; k < std::size(cells); ++k) {
        Options o = ForShot(base, cells[k]);
        o.width = cw;
        o.height = ch;
        Picture pic;
        std::string error;
        if (!Produce(o, pic, error))
            return Fail(std::string(cells[k].name) + ": " + error);
        const int x0 = static_cast<int>(k % cols) * cw, y0 = static_cast<int>(k / cols) * (ch + strip) + strip;
        // Shadow maps are texture-sized: scaled to the cell, nearest.
        for (int y = 0; y < ch; ++y)
            for (int x = 0; x < cw; ++x) {
                const int sx = x * pic.width / cw, sy = y * pic.height / ch;
                const size_t d = (static_cast<size_t>(y0 + y) * W + x0 + x) * 3;
                for (int c = 0; c < 3; ++c)
                    sheet[d + c] = pic.grey ? pic.pixels[static_cast<size_t>(sy) * pic.width + sx]
                                            : pic.pixels[(static_cast<size_t>(sy) * pic.width + sx) * 3 + c];
            }
        Label(sheet, W, x0 + 4, y0 - strip + 2, cells[k].name, 2);
    }
    std::string error;
    if (!WritePng(output, W, H, false, sheet, error))
        return Fail(error);
    std::printf("%s\n", output.c_str());
    return 0;
}

bool ParseFloats(const std::string& s, float* out, int n)
{
    const char* p = s.c_str();
    for (int i = 0; i < n; ++i) {
        char* end = nullptr;
        out[i] = std::strtof(p, &end);
        if (end == p || !std::isfinite(out[i]))
            return false;
        p = end;
        if (i + 1 < n) {
            if (*p != ',')
                return false;
            ++p;
        }
    }
    return *p == 0;
}

}  // namespace

int main(int argc, char** argv)
try {
    std::vector<std::string> args(argv + 1, argv + argc);
    Options o;
    std::string allDir, sheet;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (i + 1 >= args.size())
            return Fail("missing value after " + a);
        const std::string& v = args[++i];
        int64_t number = 0;
        uint32_t w = 0, h = 0;
        if (a == "--scene" && (v == "wave" || v == "card"))
            o.scene = v;
        else if (a == "--view" && IsView(v))
            o.view = v;
        else if (a == "--ss" && qnParseInteger(v, 1, 16, number))
            o.ss = static_cast<int>(number);
        else if (a == "--contact-sheet")
            sheet = v;
        else if (a == "--gen" && (v == "1" || v == "2"))
            o.gen = v[0] - '0';
        else if (a == "--size" && qnParseDimensions(v, 16, 4096, w, h)) {
            o.width = static_cast<int>(w);
            o.height = static_cast<int>(h);
        }
        else if (a == "--light" && ParseFloats(v, o.light, 3) && o.light[2] > 0)
            ;
        else if (a == "--generator" && (v == "pairwise" || v == "tiled"))
            o.generator = v;
        else if (a == "-o")
            o.output = v;
        else if (a == "--all")
            allDir = v;
        else
            return Fail("bad option " + a + " " + v);
    }
    if (!sheet.empty())
        return ContactSheet(o, sheet);
    if (!allDir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(allDir, ec);
        if (ec)
            return Fail("cannot create " + allDir + ": " + ec.message());
        const Shot jobs[] = {
            {"wave", "flat", 2, "", "wave_flat.png"},
            {"wave", "flat-grid", 2, "", "wave_flat_grid.png"},
            {"wave", "grid", 1, "", "wave_grid.png"},
            {"wave", "grid-aa", 2, "", "wave_grid_aa.png"},
            {"wave", "draft", 2, "", "wave_draft.png"},
            {"card", "flat-grid", 1, "", "card_flat_grid.png"},
            {"card", "draft", 2, "", "card_draft.png"},
            {"card", "shadowmap", 2, "pairwise", "card_shadowmap_pairwise.png"},
            {"card", "shadowmap", 2, "tiled", "card_shadowmap_tiled.png"},
            {"card", "shadowmap", 1, "pairwise", "card_shadowmap_gen1.png"},
            {"card", "hq-opt", 2, "", "card_hq_opt.png"},
            {"wave", "hq-phong", 2, "", "wave_hq_interpolated.png"},
            {"card", "hq-simple", 1, "", "card_hq_simple_gen1.png"},
            {"wave", "hq-phong", 1, "", "wave_hq_phong_gen1.png"},
            {"card", "bgshadow", 1, "", "card_bgshadow_gen1.png"},
        };
        for (const Shot& j : jobs) {
            Options jo = ForShot(o, j);
            jo.ss = 1;  // quick: this runs as a test under the sanitizers
            jo.output = (std::filesystem::path(allDir) / j.name).string();
            if (const int rc = RunOne(jo))
                return rc;
        }
        return 0;
    }
    if (o.output.empty())
        return Fail("no output file (-o FILE.png)");
    return RunOne(o);
} catch (const std::exception& e) {
    // No program ends by an exception nobody caught: one line, and a failure.
    std::fprintf(stderr, "surface3d-demo: %s\n", e.what());
    return 1;
} catch (...) {
    std::fprintf(stderr, "surface3d-demo: an unexpected failure\n");
    return 1;
}
