// Transforms, normals, the preview z-buffer and the material shading. Every
// transform rewrites the vertex array in place; there is no matrix stack.
#include "surface3d/SurfaceBase.h"

#include <cmath>
#include <limits>

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();

struct BoundsXY {
    float minX = kInf, maxX = -kInf, minY = kInf, maxY = -kInf;
    void Add(const qnt3D_VERTEX& v)
    {
        // NaN coordinates fail every comparison and so take no part.
        if (v.x < minX)
            minX = v.x;
        if (v.x > maxX)
            maxX = v.x;
        if (v.y < minY)
            minY = v.y;
        if (v.y > maxY)
            maxY = v.y;
    }
};

}  // namespace

void CQNF_3D_SurfaceBase::Rotate(qnt3D_VECTOR direction, qnt3D_VERTEX centre)
{
    if (direction.x == 0.0f && direction.y == 0.0f && direction.z == 0.0f)
        return;
    const float len = std::sqrt(direction.x * direction.x + direction.y * direction.y + direction.z * direction.z);
    const float nx = direction.x / len;
    const float ny = direction.y / len;
    const float nz = direction.z / len;
    if (nx == 0.0f && ny == 0.0f)
        return;
    if (!(std::isfinite(nx) && std::isfinite(ny) && std::isfinite(nz)))
        return;  // a direction of infinite length has no usable orientation
    const float r = std::sqrt(nx * nx + ny * ny);
    const double A = ny / r;
    const double B = nx / r;
    const double c = nz;
    const double s = std::sin(std::acos(c));
    const double t = 1.0 - c;
    const double m00 = c + A * A * t, m01 = A * B * t, m02 = -B * s;
    const double m10 = A * B * t, m11 = c + B * B * t, m12 = A * s;
    const double m20 = B * s, m21 = -A * s, m22 = c;
    qnt3D_VERTEX* v = Vertices();
    for (uint32_t i = 0; i < m_vertexCount; ++i) {
        const double X = v[i].x - centre.x;
        const double Y = v[i].y - centre.y;
        const double Z = v[i].z - centre.z;
        // Each row summed left to right, as written, then moved back.
        v[i].x = static_cast<float>(m00 * X + m01 * Y + m02 * Z + centre.x);
        v[i].y = static_cast<float>(m10 * X + m11 * Y + m12 * Z + centre.y);
        v[i].z = static_cast<float>(m20 * X + m21 * Y + m22 * Z + centre.z);
    }
}

void CQNF_3D_SurfaceBase::Rotate(float angleX, float angleY, float angleZ, qnt3D_VERTEX centre)
{
    const double cz = std::cos(static_cast<double>(angleZ)), sz = std::sin(static_cast<double>(angleZ));
    const double cx = std::cos(static_cast<double>(angleX)), sx = std::sin(static_cast<double>(angleX));
    const double cy = std::cos(static_cast<double>(angleY)), sy = std::sin(static_cast<double>(angleY));
    qnt3D_VERTEX* v = Vertices();
    for (uint32_t i = 0; i < m_vertexCount; ++i) {
        const float X = v[i].x - centre.x;
        const float Y = v[i].y - centre.y;
        const float Z = v[i].z - centre.z;
        const float x1 = static_cast<float>(X * cz + Y * sz);
        const float y1 = static_cast<float>(-X * sz + Y * cz);
        const float y2 = static_cast<float>(y1 * cx + Z * sx);
        const float z2 = static_cast<float>(-y1 * sx + Z * cx);
        const float x3 = static_cast<float>(x1 * cy - z2 * sy);
        const float z3 = static_cast<float>(x1 * sy + z2 * cy);
        v[i].x = x3 + centre.x;
        v[i].y = y2 + centre.y;
        v[i].z = z3 + centre.z;
    }
}

void CQNF_3D_SurfaceBase::Offset(float dx, float dy, float dz)
{
    qnt3D_VERTEX* v = Vertices();
    for (uint32_t i = 0; i < m_vertexCount; ++i) {
        v[i].x += dx;
        v[i].y += dy;
        v[i].z += dz;
    }
}

void CQNF_3D_SurfaceBase::OffsetByCenterXY(float x, float y)
{
    if (m_vertexCount == 0)
        return;
    qnt3D_VERTEX* v = Vertices();
    BoundsXY b;
    for (uint32_t i = 0; i < m_vertexCount; ++i)
        b.Add(v[i]);
    const double shiftX = static_cast<double>(x) - (static_cast<double>(b.maxX) - b.minX) / 2.0 - b.minX;
    const double shiftY = static_cast<double>(y) - (static_cast<double>(b.maxY) - b.minY) / 2.0 - b.minY;
    for (uint32_t i = 0; i < m_vertexCount; ++i) {
        v[i].x = static_cast<float>(v[i].x + shiftX);
        v[i].y = static_cast<float>(v[i].y + shiftY);
    }
}

void CQNF_3D_SurfaceBase::OffsetWithCorrectionXY(float dx, float dy, float left, float top, float right, float bottom,
                                                 float* appliedX, float* appliedY)
{
    if (appliedX)
        *appliedX = dx;
    if (appliedY)
        *appliedY = dy;
    qnt3D_VERTEX* v = Vertices();
    BoundsXY b;
    for (uint32_t i = 0; i < m_vertexCount; ++i) {
        v[i].x += dx;
        v[i].y += dy;
        b.Add(v[i]);
    }
    // Too wide or too tall for the window: no side can be honoured, so
    // neither axis is corrected.
    if (left > b.minX && b.maxX > right)
        return;
    if (top > b.minY && b.maxY > bottom)
        return;
    float cx = 0.0f;
    if (left > b.minX)
        cx = left - b.minX;
    else if (b.maxX > right)
        cx = right - b.maxX;
    float cy = 0.0f;
    if (top > b.minY)
        cy = top - b.minY;
    else if (b.maxY > bottom)
        cy = bottom - b.maxY;
    if (cx != 0.0f || cy != 0.0f) {
        for (uint32_t i = 0; i < m_vertexCount; ++i) {
            v[i].x += cx;
            v[i].y += cy;
        }
    }
    if (appliedX)
        *appliedX += cx;
    if (appliedY)
        *appliedY += cy;
}

qntFRECT CQNF_3D_SurfaceBase::GetObjectBounds() const
{
    const qnt3D_VERTEX* v = Vertices();
    BoundsXY b;
    for (uint32_t i = 0; i < m_vertexCount; ++i)
        b.Add(v[i]);
    if (b.maxX >= b.minX && b.maxY >= b.minY)
        return qntFRECT{b.minX, b.minY, b.maxX, b.maxY};
    return qnNullFRect;
}

void CQNF_3D_SurfaceBase::Zoom(float sx, float sy, float sz, qnt3D_VERTEX reference)
{
    const float ox = (1.0f - reference.x) * sx;
    const float oy = (1.0f - reference.y) * sy;
    const float oz = (1.0f - reference.z) * sz;
    qnt3D_VERTEX* v = Vertices();
    for (uint32_t i = 0; i < m_vertexCount; ++i) {
        v[i].x = sx * v[i].x + ox;
        v[i].y = sy * v[i].y + oy;
        v[i].z = sz * v[i].z + oz;
    }
}

void CQNF_3D_SurfaceBase::PerspectiveZ(float distance, qnt3D_VERTEX centre)
{
    if (distance == 0.0f)
        return;
    qnt3D_VERTEX* v = Vertices();
    for (uint32_t i = 0; i < m_vertexCount; ++i) {
        const float w = v[i].z / distance + 1.0f;
        v[i].x = (v[i].x - centre.x) / w + centre.x;
        v[i].y = (v[i].y - centre.y) / w + centre.y;
        v[i].z = (v[i].z - centre.z) / w + centre.z;
    }
}

void CQNF_3D_SurfaceBase::PerspectiveZ_2(qnt3D_VERTEX vanishingPoint)
{
    if (m_vertexCount == 0)
        return;
    qnt3D_VERTEX* v = Vertices();
    float minZ = kInf;
    for (uint32_t i = 0; i < m_vertexCount; ++i)
        if (v[i].z < minZ)
            minZ = v[i].z;
    const double D = static_cast<double>(vanishingPoint.z) - minZ;
    if (D > -1e-7 && D < 1e-7)
        return;
    for (uint32_t i = 0; i < m_vertexCount; ++i) {
        const double dz = static_cast<double>(v[i].z) - minZ;
        const double k = 1.0 - dz / D;
        v[i].x = static_cast<float>((static_cast<double>(v[i].x) - vanishingPoint.x) * k + vanishingPoint.x);
        v[i].y = static_cast<float>((static_cast<double>(v[i].y) - vanishingPoint.y) * k + vanishingPoint.y);
        v[i].z = static_cast<float>(dz * k + minZ);
    }
}

qnt3D_VECTOR CQNF_3D_SurfaceBase::GetMeshNormal(const qnt3D_VERTEX* a, const qnt3D_VERTEX* b, const qnt3D_VERTEX* c,
                                                unsigned char flags)
{
    const float ux = a->x - b->x, uy = a->y - b->y, uz = a->z - b->z;
    const float vx = c->x - b->x, vy = c->y - b->y, vz = c->z - b->z;
    float nx = uy * vz - uz * vy;
    float ny = uz * vx - ux * vz;
    float nz = ux * vy - uy * vx;
    const int flips = (flags & 1) + ((flags >> 1) & 1) + ((flags >> 2) & 1);
    if (flips & 1) {
        nx = -nx;
        ny = -ny;
        nz = -nz;
    }
    const float len = std::sqrt(nx * nx + ny * ny + nz * nz);
    // A degenerate triangle has no direction; neither has one whose
    // coordinates overflow. (0, 0, 0) keeps NaN out of every later stage.
    if (!(len > 0.0f) || !std::isfinite(len))
        return qnNull3DVect;
    return qnt3D_VECTOR{nx / len, ny / len, nz / len};
}

qnt3D_VECTOR CQNF_3D_SurfaceBase::GetMeshNormal(unsigned long triangle) const
{
    if (triangle >= m_triangleCount)
        return qnNull3DVect;
    const TRIMESH& t = Triangles()[triangle];
    if (t.a >= m_vertexCount || t.b >= m_vertexCount || t.c >= m_vertexCount)
        return qnNull3DVect;
    const qnt3D_VERTEX* v = Vertices();
    return GetMeshNormal(&v[t.a], &v[t.b], &v[t.c], t.flags);
}

uint8_t CQNF_3D_SurfaceBase::PrepareVertexNormalsArray()
{
    if (!int_IndicesValid()) {
        SetError(qnerr::BadArgument);
        return 0;
    }
    const uint64_t bytes = qnMulSize({m_vertexCount, 12});
    if (m_normalBlock.GetSize() < bytes) {
        if (!m_normalBlock.Zalloc(bytes)) {
            SetError(m_normalBlock.GetError());
            m_normalCount = 0;
            return 0;
        }
    }
    m_normalCount = m_vertexCount;
    if (m_vertexCount == 0)
        return 1;
    // One pass over the triangles in index order adds each face normal to its
    // distinct vertices: the same sums, in the same order, as scanning every
    // triangle for every vertex, at linear cost.
    CQNF_Mem sums;
    if (!sums.Zalloc(qnMulSize({m_vertexCount, 4 * sizeof(double)}))) {
        SetError(sums.GetError());
        return 0;
    }
    double* acc = reinterpret_cast<double*>(sums.GetPtr());
    const TRIMESH* tr = Triangles();
    const qnt3D_VERTEX* v = Vertices();
    for (uint32_t i = 0; i < m_triangleCount; ++i) {
        const TRIMESH& t = tr[i];
        const qnt3D_VECTOR n = GetMeshNormal(&v[t.a], &v[t.b], &v[t.c], t.flags);
        if (n.x == 0.0f && n.y == 0.0f && n.z == 0.0f)
            continue;  // no direction to contribute
        const uint32_t idx[3] = {t.a, t.b, t.c};
        for (int k = 0; k < 3; ++k) {
            if ((k >= 1 && idx[k] == idx[0]) || (k == 2 && idx[2] == idx[1]))
                continue;  // a triangle that lists a vertex twice counts once
            double* s = acc + static_cast<size_t>(idx[k]) * 4;
            s[0] += n.x;
            s[1] += n.y;
            s[2] += n.z;
            s[3] += 1.0;
        }
    }
    qnt3D_VECTOR* out = VertexNormals();
    for (uint32_t i = 0; i < m_vertexCount; ++i) {
        const double* s = acc + static_cast<size_t>(i) * 4;
        if (s[3] == 0.0) {
            out[i] = qnNull3DVect;  // no triangle uses it
            continue;
        }
        const float mx = static_cast<float>(s[0] / s[3]);
        const float my = static_cast<float>(s[1] / s[3]);
        const float mz = static_cast<float>(s[2] / s[3]);
        if (mx == 0.0f && my == 0.0f && mz == 0.0f) {
            out[i] = qnt3D_VECTOR{mx, my, mz};
            continue;
        }
        const float len = std::sqrt(mx * mx + my * my + mz * mz);
        out[i] = qnt3D_VECTOR{mx / len, my / len, mz / len};
    }
    return 1;
}

const qnt3D_VECTOR* CQNF_3D_SurfaceBase::GetVertexNormal(unsigned long index) const
{
    return index < m_normalCount ? VertexNormals() + index : nullptr;
}

uint8_t CQNF_3D_SurfaceBase::RecreateZBuffer(unsigned short width, unsigned short height)
{
    const uint64_t cells = static_cast<uint64_t>(width) * height;
    const uint64_t bytes = cells * sizeof(ZBUFFER_CELL);
    // The block only grows: previews of varying size reuse it.
    if (bytes > m_zBlock.GetSize()) {
        if (!m_zBlock.Resize(bytes)) {
            SetError(m_zBlock.GetError());
            return 0;
        }
    }
    m_zbWidth = width;
    m_zbHeight = height;
    ZBUFFER_CELL* z = ZCells();
    for (uint64_t i = 0; i < cells; ++i)
        z[i].triangle = kEmptyCell;
    return 1;
}

const CQNF_3D_SurfaceBase::ZBUFFER_CELL* CQNF_3D_SurfaceBase::GetZBuffer() const { return ZCells(); }

void CQNF_3D_SurfaceBase::SetMatShading(short shading)
{
    m_matShading = shading;
    int_RecalcCosPower();
}

void CQNF_3D_SurfaceBase::int_RecalcCosPower()
{
    const double s = m_matShading;
    if (m_matShading == 0)
        m_cosPower = 1.0f;
    else if (m_matShading < 0)
        m_cosPower = static_cast<float>(1.0 / std::pow(2.0, -s / 50.0));
    else
        m_cosPower = static_cast<float>(std::pow(2.0, s / 20.0));
}
