// The demo's previews and shadow maps, and the picker of the view to render.
#include "surface3d/demo/demo_scene.h"

#include "core/ErrorWords.h"

#include <string>
#include <vector>

namespace s3demo {

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

namespace {

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
        error = "render failed: " + std::string(qnErrorWords(s.GetError()));
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
            error = "shadow map failed: " + std::string(qnErrorWords(s.GetError()));
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
        error = "light set-up failed: " + std::string(qnErrorWords(s.GetError()));
        return false;
    }
    auto* rec = s.int_Light_Get(0);
    const uint8_t ok = o.generator == "tiled"
                           ? s.int_GenerateInternalLightShadowMap_v2(rec, alpha.data(), w, w, h, 1.0f, 0, 100)
                           : s.int_GenerateInternalLightShadowMap(rec, alpha.data(), w, w, h, 1.0f, 0, 100);
    if (!ok) {
        error = "shadow map failed: " + std::string(qnErrorWords(s.GetError()));
        return false;
    }
    grey.assign(rec->shadowMap, rec->shadowMap + static_cast<size_t>(w) * h);
    return true;
}

}  // namespace

// ---- The view to render ------------------------------------------------------------

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

}  // namespace s3demo
