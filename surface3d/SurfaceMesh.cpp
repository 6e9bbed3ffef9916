// The mesh of a surface: sizing, the mesh stream reader, copies, accessors
// and the texture mapping.
#include "surface3d/SurfaceBase.h"

#include <cmath>
#include <cstring>

namespace {

constexpr uint64_t kVertexBytes = 12;
constexpr uint64_t kTriangleBytes = 16;
constexpr uint64_t kStreamVertexBytes = 15;
constexpr uint64_t kStreamTriangleBytes = 13;

uint32_t ReadU32BE(const unsigned char* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

// mantissa / 10^exponent in double, rounded to f32.
float DecodeCoordinate(const unsigned char* p)
{
    const int32_t mantissa = static_cast<int32_t>(ReadU32BE(p));
    return static_cast<float>(static_cast<double>(mantissa) / std::pow(10.0, static_cast<double>(p[4])));
}

}  // namespace

static_assert(sizeof(CQNF_3D_SurfaceBase::TRIMESH) == kTriangleBytes, "triangle record is 16 bytes");
static_assert(sizeof(qnt3D_VERTEX) == kVertexBytes, "vertex is 12 bytes");
static_assert(sizeof(CQNF_3D_SurfaceBase::ZBUFFER_CELL) == 8, "z-buffer cell is 8 bytes");

CQNF_3D_SurfaceBase::CQNF_3D_SurfaceBase() = default;

CQNF_3D_SurfaceBase::~CQNF_3D_SurfaceBase() = default;

uint8_t CQNF_3D_SurfaceBase::Create(unsigned long vertexCount, unsigned long triangleCount)
{
    if (!m_vertexBlock.Resize(qnMulSize({vertexCount, kVertexBytes}))) {
        SetError(m_vertexBlock.GetError());
        return 0;
    }
    m_vertexCount = static_cast<uint32_t>(vertexCount);
    if (!m_triangleBlock.Resize(qnMulSize({triangleCount, kTriangleBytes}))) {
        SetError(m_triangleBlock.GetError());
        return 0;
    }
    m_triangleCount = static_cast<uint32_t>(triangleCount);
    return 1;
}

uint8_t CQNF_3D_SurfaceBase::Create(const unsigned char* stream, unsigned long length)
{
    if (!stream || length < 8) {
        SetError(qnerr::BadArgument);
        return 0;
    }
    const uint64_t nV = ReadU32BE(stream);
    const uint64_t nT = ReadU32BE(stream + 4);
    // Counts are 32-bit, so the needed length fits 64 bits without overflow.
    const uint64_t needed = 8 + nV * kStreamVertexBytes + nT * kStreamTriangleBytes;
    if (needed > length) {
        SetError(qnerr::BadArgument);
        return 0;
    }
    const unsigned char* tris = stream + 8 + nV * kStreamVertexBytes;
    for (uint64_t t = 0; t < nT; ++t) {
        const unsigned char* r = tris + t * kStreamTriangleBytes;
        if (ReadU32BE(r) >= nV || ReadU32BE(r + 4) >= nV || ReadU32BE(r + 8) >= nV) {
            SetError(qnerr::BadArgument);
            return 0;
        }
    }
    if (!Create(static_cast<unsigned long>(nV), static_cast<unsigned long>(nT)))
        return 0;
    qnt3D_VERTEX* v = Vertices();
    const unsigned char* p = stream + 8;
    for (uint64_t i = 0; i < nV; ++i, p += kStreamVertexBytes) {
        v[i].x = DecodeCoordinate(p);
        v[i].y = DecodeCoordinate(p + 5);
        v[i].z = DecodeCoordinate(p + 10);
    }
    TRIMESH* tr = Triangles();
    for (uint64_t t = 0; t < nT; ++t, p += kStreamTriangleBytes) {
        tr[t].a = ReadU32BE(p);
        tr[t].b = ReadU32BE(p + 4);
        tr[t].c = ReadU32BE(p + 8);
        tr[t].flags = p[12];
    }
    return 1;
}

uint8_t CQNF_3D_SurfaceBase::int_CopyMeshFrom(const CQNF_3D_SurfaceBase* source)
{
    if (!source) {
        SetError(qnerr::BadArgument);
        return 0;
    }
    if (source == this)
        return 1;
    if (!Create(source->m_vertexCount, source->m_triangleCount))
        return 0;
    if (m_vertexCount)
        std::memcpy(Vertices(), source->Vertices(), static_cast<size_t>(m_vertexCount) * kVertexBytes);
    if (m_triangleCount)
        std::memcpy(Triangles(), source->Triangles(), static_cast<size_t>(m_triangleCount) * kTriangleBytes);
    return 1;
}

qnt3D_VERTEX* CQNF_3D_SurfaceBase::GetVertex(unsigned long index)
{
    return index < m_vertexCount ? Vertices() + index : nullptr;
}

CQNF_3D_SurfaceBase::TRIMESH* CQNF_3D_SurfaceBase::GetTriMesh(unsigned long index)
{
    return index < m_triangleCount ? Triangles() + index : nullptr;
}

uint8_t CQNF_3D_SurfaceBase::GetMeshVertex(unsigned long triangle, qnt3D_VERTEX& a, qnt3D_VERTEX& b,
                                           qnt3D_VERTEX& c)
{
    if (triangle >= m_triangleCount)
        return 255;
    const TRIMESH& t = Triangles()[triangle];
    if (t.a >= m_vertexCount || t.b >= m_vertexCount || t.c >= m_vertexCount)
        return 255;
    const qnt3D_VERTEX* v = Vertices();
    a = v[t.a];
    b = v[t.b];
    c = v[t.c];
    return t.flags;
}

uint8_t CQNF_3D_SurfaceBase::RecreateMappingArrayFromCurrentValues()
{
    if (!m_mappingBlock.Resize(qnMulSize({m_vertexCount, 8}))) {
        SetError(m_mappingBlock.GetError());
        return 0;
    }
    m_mappingCount = m_vertexCount;
    qnt2D_VERTEX* m = Mapping();
    const qnt3D_VERTEX* v = Vertices();
    for (uint32_t i = 0; i < m_vertexCount; ++i) {
        m[i].x = v[i].x;
        m[i].y = v[i].y;
    }
    return 1;
}

qnt2D_VERTEX* CQNF_3D_SurfaceBase::GetMapping(unsigned long index)
{
    return index < m_mappingCount ? Mapping() + index : nullptr;
}

bool CQNF_3D_SurfaceBase::int_IndicesValid() const
{
    const TRIMESH* t = Triangles();
    for (uint32_t i = 0; i < m_triangleCount; ++i)
        if (t[i].a >= m_vertexCount || t[i].b >= m_vertexCount || t[i].c >= m_vertexCount)
            return false;
    return true;
}

bool CQNF_3D_SurfaceBase::int_IsCanceled() const { return m_progress && m_progress->IsCanceled(); }

void CQNF_3D_SurfaceBase::int_ReportProgress(double percent) const
{
    if (!m_progress)
        return;
    // Truncated, then its low 8 bits: what a byte-wide percentage receives.
    const int64_t whole = (percent > -1.0e15 && percent < 1.0e15) ? static_cast<int64_t>(percent) : 0;
    m_progress->Progress(static_cast<uint8_t>(whole & 0xFF), m_progress->GetUserDataPtr());
}
