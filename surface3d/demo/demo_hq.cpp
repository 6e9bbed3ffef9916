// The demo's high-quality views: a key light with its shadow map, the
// renderers of both generations, and the shadow on a ground behind the mesh.
#include "surface3d/demo/demo_scene.h"

#include "core/ErrorWords.h"

#include <cmath>
#include <string>
#include <vector>

namespace s3demo {

namespace {

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
        error = "light set-up failed: " + std::string(qnErrorWords(s.GetError()));
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
        error = "light set-up failed: " + std::string(qnErrorWords(s.GetError()));
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

}  // namespace

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
        error = "render failed: " + std::string(qnErrorWords(err));
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

}  // namespace s3demo
