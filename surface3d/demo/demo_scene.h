// What the demo's files share: the options of one render, the picture it
// makes, and the two scenes built into a surface of either generation.
#pragma once

#include "imaging/Image.h"
#include "surface3d/Surface.h"
#include "surface3d/Surface2.h"

#include <cmath>
#include <string>
#include <vector>

namespace s3demo {

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

// The four planes of a render over a checkerboard, interleaved RGB.
std::vector<uint8_t> OverCheckerboard(CQNF_Image& img);

// The high-quality and background-shadow views.
bool RenderHQView(const Options& o, std::vector<uint8_t>& rgb, std::string& error);

// The picture of o's view.
bool Produce(const Options& o, Picture& pic, std::string& error);

// ---- Scenes ------------------------------------------------------------------------

// The texture of both scenes: a checkerboard sheet region on the left and,
// for the card, a region on the right with a round hole and a translucent
// band, so that its shadow shows both.
struct Texture {
    CQNF_Image front;  // colour and mask
    CQNF_Image back;   // colour of faces seen from behind
    int sheetW = 0, sheetH = 0, cardX = 0, cardSide = 0;
};

inline void MakeTexture(Texture& t, int sheetW, int sheetH, int cardSide)
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
}  // namespace s3demo
