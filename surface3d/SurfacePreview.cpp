// Preview renderers: the wire grid, the flat-shaded surface and the draft
// textured surface. No lights, no shadows, no supersampling: integer scan
// conversion through the preview z-buffer.
#include "imaging/Image.h"
#include "surface3d/PreviewTarget.h"
#include "surface3d/S3DMath.h"

#include <algorithm>
#include <cmath>

namespace {

// The clip of a render: qnNullRect is the whole image, anything else is cut to
// it. False when nothing is left.
bool ResolveClip(const CQNF_Image* target, qntRECT_s clip, qntRECT_s& out)
{
    const int32_t w = target->GetImageWidth(), h = target->GetImageHeight();
    if (qnIsNullRect(clip))
        out = qntRECT_s{0, 0, w, h};
    else
        out = qntRECT_s{std::max(clip.left, 0), std::max(clip.top, 0), std::min(clip.right, w),
                        std::min(clip.bottom, h)};
    return out.left < out.right && out.top < out.bottom;
}

// A vertex projected to a pixel: trunc(x) + x offset, trunc(y) + y offset.
bool Project(const qnt3D_VERTEX& v, short xOffset, short yOffset, qntPOS& p)
{
    int32_t x, y;
    if (!s3d::TruncPixel(v.x, x) || !s3d::TruncPixel(v.y, y) || !std::isfinite(v.z))
        return false;
    p = qntPOS{x + xOffset, y + yOffset};
    return true;
}

bool InClip(const qntPOS& p, const qntRECT_s& c)
{
    return p.x >= c.left && p.x < c.right && p.y >= c.top && p.y < c.bottom;
}

bool FitsShort(const qntPOS& p) { return p.x >= -32768 && p.x <= 32767 && p.y >= -32768 && p.y <= 32767; }

// A triangle ready to draw: projected, with its vertices.
struct Projected {
    qntPOS p[3];
    const qnt3D_VERTEX* v[3];
};

}  // namespace

// The set-up of the two z-buffered renderers: a four-plane target, a clip
// left after cutting it to the image, a mesh whose indices are in range and
// whatever else the renderer needs (inputsOk); then the z-buffer sized to the
// clip and emptied. Error 1 for bad input (nothing touched), the z-buffer's
// error when it cannot be sized.
bool CQNF_3D_SurfaceBase::int_BeginZRender(CQNF_Image* target, qntRECT_s clip, bool inputsOk, qntRECT_s& cr,
                                           RasterTarget& rt, Clip& c)
{
    if (!target || target->GetImageMode() != qnimg::ModeRGBA || !ResolveClip(target, clip, cr) || !inputsOk ||
        !int_IndicesValid()) {
        SetError(qnerr::BadArgument);
        return false;
    }
    if (!RecreateZBuffer(static_cast<unsigned short>(cr.right - cr.left),
                         static_cast<unsigned short>(cr.bottom - cr.top)))
        return false;
    if (!int_BindRaster(target, cr, rt, c)) {
        SetError(qnerr::BadArgument);
        return false;
    }
    return true;
}

uint8_t CQNF_3D_SurfaceBase::RenderMeshGrid(CQNF_Image* target, short xOffset, short yOffset, qntRECT_s clip,
                                            unsigned char antiAlias, qntRGBA8 colour)
{
    qntRECT_s c;
    if (!target || !ResolveClip(target, clip, c) || !int_IndicesValid()) {
        SetError(qnerr::BadArgument);
        return 0;
    }
    const qnt3D_VERTEX* v = Vertices();
    const TRIMESH* tr = Triangles();
    for (uint32_t i = 0; i < m_triangleCount; ++i) {
        const TRIMESH& t = tr[i];
        qntPOS a, b, cc;
        if (!Project(v[t.a], xOffset, yOffset, a) || !Project(v[t.b], xOffset, yOffset, b) ||
            !Project(v[t.c], xOffset, yOffset, cc))
            continue;
        // Only triangles with a vertex inside the clip are drawn.
        if (!InClip(a, c) && !InClip(b, c) && !InClip(cc, c))
            continue;
        // The line drawers take 16-bit end points.
        if (!FitsShort(a) || !FitsShort(b) || !FitsShort(cc))
            continue;
        auto line = [&](qntPOS from, qntPOS to) {
            if (antiAlias)
                target->DrawAALine(from, to, colour, c, 0);
            else
                target->DrawLine(from, to, colour, c);
        };
        if (t.flags & 4)
            line(a, b);
        if (t.flags & 2)
            line(b, cc);
        if (t.flags & 6)
            line(cc, a);
    }
    return 1;
}

uint8_t CQNF_3D_SurfaceBase::RenderFlatShadedSurface(CQNF_Image* target, short xOffset, short yOffset, qntRECT_s clip,
                                                     unsigned char antiAlias, qntRGBA8 gridColour,
                                                     qntRGBA8 frontColour, qntRGBA8 backColour)
{
    qntRECT_s cr;
    RasterTarget rt;
    Clip c;
    if (!int_BeginZRender(target, clip, true, cr, rt, c))
        return 0;
    const qnt3D_VERTEX* v = Vertices();
    const TRIMESH* tr = Triangles();
    auto project = [&](uint32_t i, Projected& p) {
        const TRIMESH& t = tr[i];
        const uint32_t idx[3] = {t.a, t.b, t.c};
        for (int k = 0; k < 3; ++k) {
            p.v[k] = &v[idx[k]];
            if (!Project(*p.v[k], xOffset, yOffset, p.p[k]))
                return false;
        }
        return InClip(p.p[0], cr) || InClip(p.p[1], cr) || InClip(p.p[2], cr);
    };
    for (uint32_t i = 0; i < m_triangleCount; ++i) {
        Projected p;
        if (!project(i, p))
            continue;
        const float d = GetMeshNormal(i).z;
        const qntRGBA8 base = d > 0.0f ? frontColour : backColour;
        // 0.6 + 0.4 |d|: the product rounded to f32, the sum in double.
        const float slant = static_cast<float>(0.4 * std::fabs(static_cast<double>(d)));
        double f = 0.6 + static_cast<double>(slant);
        if (f > 1.0)
            f = 1.0;
        const float ff = static_cast<float>(f);
        const qntRGBA8 shaded{s3d::TruncLowByte(base.r * ff), s3d::TruncLowByte(base.g * ff),
                              s3d::TruncLowByte(base.b * ff), base.a};
        int_TriFlat(rt, c, p.p[0], p.p[1], p.p[2], p.v[0]->z, p.v[1]->z, p.v[2]->z, shaded, i);
    }
    if (gridColour.a == 0)
        return 1;
    // The grid shows where its own triangle or a neighbour won the depth test.
    for (uint32_t i = 0; i < m_triangleCount; ++i) {
        Projected p;
        if (!project(i, p))
            continue;
        auto line = [&](const qntPOS& from, const qntPOS& to) {
            if (antiAlias)
                int_AAMeshLine(rt, c, from.x, from.y, to.x, to.y, gridColour, i);
            else
                int_MeshLine(rt, c, from.x, from.y, to.x, to.y, gridColour, i);
        };
        if (tr[i].flags & 4)
            line(p.p[0], p.p[1]);
        if (tr[i].flags & 2)
            line(p.p[1], p.p[2]);
    }
    return 1;
}

uint8_t CQNF_3D_SurfaceBase::RenderDraftTexturedSurface(CQNF_Image* target, short xOffset, short yOffset,
                                                        CQNF_Image* frontTexture, CQNF_Image* backTexture,
                                                        qntRECT_s clip)
{
    qntRECT_s cr;
    RasterTarget rt;
    Clip c;
    DraftTextures tex;
    if (!int_BeginZRender(target, clip, int_BindTextures(frontTexture, backTexture, tex) && int_MappingValid(), cr,
                          rt, c))
        return 0;
    const qnt3D_VERTEX* v = Vertices();
    const qnt2D_VERTEX* m = Mapping();
    const TRIMESH* tr = Triangles();
    for (uint32_t i = 0; i < m_triangleCount; ++i) {
        const TRIMESH& t = tr[i];
        const uint32_t idx[3] = {t.a, t.b, t.c};
        qntPOS p[3];
        bool ok = true;
        for (int k = 0; k < 3; ++k)
            ok = ok && Project(v[idx[k]], xOffset, yOffset, p[k]);
        if (!ok || (!InClip(p[0], cr) && !InClip(p[1], cr) && !InClip(p[2], cr)))
            continue;
        const float d = GetMeshNormal(i).z;
        const unsigned char front = d > 0.0f ? 1 : 0;
        const double shade = std::fabs(static_cast<double>(d));
        // Unrotated and unscaled on its texture: every vertex sits at the same
        // offset from its texture coordinate.
        float dx[3], dy[3];
        for (int k = 0; k < 3; ++k) {
            dx[k] = v[idx[k]].x - m[idx[k]].x;
            dy[k] = v[idx[k]].y - m[idx[k]].y;
        }
        int32_t ox, oy;
        if (dx[0] == dx[1] && dx[1] == dx[2] && dy[0] == dy[1] && dy[1] == dy[2] && s3d::TruncPixel(dx[0], ox) &&
            s3d::TruncPixel(dy[0], oy)) {
            int_TriDraftSimple(rt, c, tex, p[0], p[1], p[2], v[idx[0]].z, v[idx[1]].z, v[idx[2]].z, front, shade,
                               xOffset + ox, yOffset + oy, i);
        } else {
            int_TriDraftTransformed(rt, c, tex, p[0], p[1], p[2], v[idx[0]].z, v[idx[1]].z, v[idx[2]].z, m[idx[0]],
                                    m[idx[1]], m[idx[2]], front, shade, i);
        }
    }
    return 1;
}
