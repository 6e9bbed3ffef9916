// Helpers for the mesh renderer tests: a mesh stream writer (the system has
// none), quad meshes with chosen texture regions, and a recording progress.
#pragma once

#include "core/Progress.h"
#include "surface3d/Surface.h"
#include "surface3d/Surface2.h"

#include <cstdint>
#include <vector>

namespace s3dtest {

struct StreamVertex {
    int32_t m[3];
    uint8_t e[3];
};
struct StreamTriangle {
    uint32_t a, b, c;
    uint8_t flags;
};

inline void PutU32(std::vector<unsigned char>& out, uint32_t v)
{
    out.push_back(static_cast<unsigned char>(v >> 24));
    out.push_back(static_cast<unsigned char>(v >> 16));
    out.push_back(static_cast<unsigned char>(v >> 8));
    out.push_back(static_cast<unsigned char>(v));
}

// Counts are written as given, so a test can claim more than it holds.
inline std::vector<unsigned char> WriteStream(const std::vector<StreamVertex>& v, const std::vector<StreamTriangle>& t,
                                              uint32_t claimV, uint32_t claimT)
{
    std::vector<unsigned char> out;
    PutU32(out, claimV);
    PutU32(out, claimT);
    for (const auto& x : v)
        for (int k = 0; k < 3; ++k) {
            PutU32(out, static_cast<uint32_t>(x.m[k]));
            out.push_back(x.e[k]);
        }
    for (const auto& x : t) {
        PutU32(out, x.a);
        PutU32(out, x.b);
        PutU32(out, x.c);
        out.push_back(x.flags);
    }
    return out;
}

inline std::vector<unsigned char> WriteStream(const std::vector<StreamVertex>& v, const std::vector<StreamTriangle>& t)
{
    return WriteStream(v, t, static_cast<uint32_t>(v.size()), static_cast<uint32_t>(t.size()));
}

// An axis-aligned quad at depth z from (x0, y0) to (x1, y1), as two
// triangles that face +z (flags 1 reverses the (A-B)x(C-B) order used here),
// with texture coordinates offset by (du, dv) from the position. Appended to
// the surface's mesh.
template <class Surface>
void AddQuad(Surface& s, float x0, float y0, float x1, float y1, float z, float du = 0.0f, float dv = 0.0f,
             uint8_t flags = 1)
{
    const uint32_t nv = s.GetVertexCount(), nt = s.GetTriMeshCount();
    std::vector<qnt2D_VERTEX> oldMap(nv);
    for (uint32_t i = 0; i < nv; ++i)
        if (const qnt2D_VERTEX* m = s.GetMapping(i))
            oldMap[i] = *m;
    s.Create(static_cast<unsigned long>(nv + 4), static_cast<unsigned long>(nt + 2));
    const qnt3D_VERTEX corners[4] = {{x0, y0, z}, {x1, y0, z}, {x1, y1, z}, {x0, y1, z}};
    for (uint32_t k = 0; k < 4; ++k)
        *s.GetVertex(nv + k) = corners[k];
    *s.GetTriMesh(nt) = {nv, nv + 1, nv + 2, flags};
    *s.GetTriMesh(nt + 1) = {nv, nv + 2, nv + 3, flags};
    s.RecreateMappingArrayFromCurrentValues();
    for (uint32_t i = 0; i < nv; ++i)
        *s.GetMapping(i) = oldMap[i];
    for (uint32_t k = 0; k < 4; ++k) {
        s.GetMapping(nv + k)->x += du;
        s.GetMapping(nv + k)->y += dv;
    }
}

// A regular grid of cells (2 triangles each) over [x0, x0 + n*cell] x
// [y0, y0 + m*cell] at depth z(x, y); mapping = position.
template <class Surface, class ZFn>
void MakeGrid(Surface& s, int n, int m, float x0, float y0, float cell, ZFn z, uint8_t flags = 1)
{
    s.Create(static_cast<unsigned long>((n + 1) * (m + 1)), static_cast<unsigned long>(2 * n * m));
    for (int j = 0; j <= m; ++j)
        for (int i = 0; i <= n; ++i) {
            const float x = x0 + i * cell, y = y0 + j * cell;
            *s.GetVertex(j * (n + 1) + i) = qnt3D_VERTEX{x, y, z(x, y)};
        }
    uint32_t t = 0;
    for (int j = 0; j < m; ++j)
        for (int i = 0; i < n; ++i) {
            const uint32_t a = j * (n + 1) + i, b = a + 1, c = a + (n + 1) + 1, d = a + (n + 1);
            *s.GetTriMesh(t++) = {a, b, c, flags};
            *s.GetTriMesh(t++) = {a, c, d, flags};
        }
    s.RecreateMappingArrayFromCurrentValues();
}

// Records every report; cancels from the n-th IsCanceled call on (0: never).
class RecordingProgress : public CQNF_Progress {
public:
    explicit RecordingProgress(int cancelAt = 0) : m_cancelAt(cancelAt) {}
    void Progress(uint8_t percent, void*) override { reports.push_back(percent); }
    bool IsCanceled() override { return m_cancelAt > 0 && ++m_asked >= m_cancelAt; }
    std::vector<int> reports;

private:
    int m_cancelAt;
    int m_asked = 0;
};

}  // namespace s3dtest
