// The part of the mesh surface that both generations share: the triangle
// mesh with its texture mapping, the transforms that rewrite the vertices in
// place, face and vertex normals, the preview z-buffer and renderers, the 2D
// overlap tests and the light-mask blurs.
//
// CQNF_3D_Surface2 (Surface2.h) and CQNF_3D_Surface (Surface.h) add their own
// light models and shadow-map generators on top. The class is not created on
// its own.
//
// Conventions: coordinates are f32; several transforms compute in double and
// store f32 (said at each operation); depth smaller means nearer. Public
// operations return a u8 boolean and leave the reason of a failure in the
// object's error number (1 bad argument or inconsistent mesh, 17 memory).
//
// Limits of this implementation, beyond what the operations themselves say:
//  * the mesh stream reader takes the stream's length and refuses streams
//    that are shorter than their counts claim or name a vertex past the end;
//  * every operation that follows triangle indices into the vertex, mapping
//    or normal arrays first checks that they are in range (a caller can write
//    any index through GetTriMesh, and Create(n, m) can shrink the vertex
//    array under existing triangles) and fails with error 1 if not;
//  * a degenerate triangle (zero-length cross product) or one with a
//    coordinate that is not finite has the face normal (0, 0, 0), which
//    counts as the back side, and adds nothing to vertex normals;
//  * the previews skip triangles with a projected coordinate that is not
//    finite or lies beyond 2^24 pixels.
#pragma once

#include "core/ErrorManager.h"
#include "core/Mem.h"
#include "core/Progress.h"
#include "core/Types.h"

#include <cstdint>

class CQNF_Image;

namespace s3d::hq {
struct Request;
struct Planes;
}  // namespace s3d::hq

// Floating rectangle: left, top, right, bottom as doubles.
struct qntFRECT {
    double left;
    double top;
    double right;
    double bottom;
};

// "None" for a floating rectangle, e.g. the bounds of an empty mesh.
inline constexpr qntFRECT qnNullFRect{-1.0e10, -1.0e10, -1.0e10, -1.0e10};

class CQNF_3D_SurfaceBase : public CQNF_FrameWork {
public:
    // Triangle: three vertex indices and a flags byte. Bits 0, 1 and 2 each
    // reverse the face normal once; the wire grid reads bits 1 and 2 to pick
    // edges; the other bits are kept as given.
    struct TRIMESH {
        uint32_t a;
        uint32_t b;
        uint32_t c;
        uint8_t flags;
    };

    // Preview z-buffer cell; triangle 0xFFFFFFFF marks an empty cell.
    struct ZBUFFER_CELL {
        float depth;
        uint32_t triangle;
    };
    static constexpr uint32_t kEmptyCell = 0xFFFFFFFFu;

    // One point-on-triangle evaluation: depth and texture coordinate; the
    // fourth value is the interpolated z of the texture triangle.
    struct SHADOW_MAP_ZVAL {
        float depth;
        float u;
        float v;
        float w;
    };

    CQNF_3D_SurfaceBase(const CQNF_3D_SurfaceBase&) = delete;
    CQNF_3D_SurfaceBase& operator=(const CQNF_3D_SurfaceBase&) = delete;
    ~CQNF_3D_SurfaceBase() override;

    // The reporter that shadow-map generation and the high-quality renderers
    // poll for progress and cancellation; null (the default) for none.
    void SetProgress(CQNF_Progress* progress) { m_progress = progress; }
    CQNF_Progress* GetProgress() const { return m_progress; }

    // ---- Mesh ---------------------------------------------------------------
    // Sizes the mesh, keeping the vertices and triangles the blocks still hold.
    // Mapping, normals and z-buffer are left alone (stale until recreated).
    uint8_t Create(unsigned long vertexCount, unsigned long triangleCount);
    // Reads a mesh stream of `length` bytes: big-endian u32 vertex and
    // triangle counts, 15-byte vertices (three i32 mantissa, u8 decimal
    // exponent pairs), 13-byte triangles (three u32 indices, flags). A stream
    // shorter than its counts claim, or a triangle naming a vertex past the
    // end, gives error 1 and leaves the mesh as it was. Trailing bytes are
    // ignored.
    uint8_t Create(const unsigned char* stream, unsigned long length);

    uint32_t GetVertexCount() const { return m_vertexCount; }
    uint32_t GetTriMeshCount() const { return m_triangleCount; }
    // Writable in place; null past the end. Valid until the next Create.
    qnt3D_VERTEX* GetVertex(unsigned long index);
    TRIMESH* GetTriMesh(unsigned long index);
    // Copies the triangle's vertices and returns its flags; 255 (and nothing
    // copied) past the end or when an index lies past the vertex array.
    uint8_t GetMeshVertex(unsigned long triangle, qnt3D_VERTEX& a, qnt3D_VERTEX& b, qnt3D_VERTEX& c);

    // Texture coordinate of every vertex := its current (x, y).
    uint8_t RecreateMappingArrayFromCurrentValues();
    // The texture coordinate of a vertex, writable; null past the mapping.
    qnt2D_VERTEX* GetMapping(unsigned long index);
    uint32_t GetMappingCount() const { return m_mappingCount; }

    // ---- Transforms (each rewrites the vertex array) ------------------------
    // Rotation that takes (n.x, -n.y, n.z) of the normalised direction onto +z
    // about the axis (n.y, n.x, 0)/r; (0,0,z) and (0,0,0) leave the mesh.
    void Rotate(qnt3D_VECTOR direction, qnt3D_VERTEX centre);
    // About z, then x, then y, by angles in radians.
    void Rotate(float angleX, float angleY, float angleZ, qnt3D_VERTEX centre);
    void Offset(float dx, float dy, float dz);
    void OffsetByCenterXY(float x, float y);
    void OffsetWithCorrectionXY(float dx, float dy, float left, float top, float right, float bottom,
                                float* appliedX, float* appliedY);
    qntFRECT GetObjectBounds() const;
    // Every coordinate becomes s * v + (1 - reference) * s, per axis; with the
    // reference (1, 1, 1) a scaling about the origin.
    void Zoom(float sx, float sy, float sz, qnt3D_VERTEX reference);
    void PerspectiveZ(float distance, qnt3D_VERTEX centre);
    void PerspectiveZ_2(qnt3D_VERTEX vanishingPoint);

    // ---- Normals --------------------------------------------------------------
    // Unit (A - B) x (C - B), reversed once per set bit 0..2 of flags; (0,0,0)
    // for a degenerate triangle or one with a coordinate that is not finite.
    static qnt3D_VECTOR GetMeshNormal(const qnt3D_VERTEX* a, const qnt3D_VERTEX* b, const qnt3D_VERTEX* c,
                                      unsigned char flags);
    // (0, 0, 0) past the end or for a triangle with an index out of range.
    qnt3D_VECTOR GetMeshNormal(unsigned long triangle) const;
    // One unit normal per vertex, the mean of its triangles' face normals.
    uint8_t PrepareVertexNormalsArray();
    // The normal PrepareVertexNormalsArray left for a vertex; null past it.
    const qnt3D_VECTOR* GetVertexNormal(unsigned long index) const;

    // ---- Z-buffer and material ---------------------------------------------------
    uint8_t RecreateZBuffer(unsigned short width, unsigned short height);
    const ZBUFFER_CELL* GetZBuffer() const;
    unsigned short GetZBufferWidth() const { return m_zbWidth; }
    unsigned short GetZBufferHeight() const { return m_zbHeight; }

    void SetMatShading(short shading);
    short GetMatShading() const { return m_matShading; }
    float GetCosPower() const { return m_cosPower; }
    void int_RecalcCosPower();

    // ---- Preview renderers -------------------------------------------------------
    uint8_t RenderMeshGrid(CQNF_Image* target, short xOffset, short yOffset, qntRECT_s clip, unsigned char antiAlias,
                           qntRGBA8 colour);
    uint8_t RenderFlatShadedSurface(CQNF_Image* target, short xOffset, short yOffset, qntRECT_s clip,
                                    unsigned char antiAlias, qntRGBA8 gridColour, qntRGBA8 frontColour,
                                    qntRGBA8 backColour);
    uint8_t RenderDraftTexturedSurface(CQNF_Image* target, short xOffset, short yOffset, CQNF_Image* frontTexture,
                                       CQNF_Image* backTexture, qntRECT_s clip);

    // ---- Preview rasterisers (internal steps of the renderers) -------------------
    // They draw only when the target is a four-plane image, the clip lies
    // inside it and the z-buffer has the clip's size, as the renderers
    // arrange; otherwise they draw nothing.
    void int_DrawYLine(int32_t row, int32_t x0, int32_t x1, float z0, float z1, qntRGBA8 colour, CQNF_Image* target,
                       qntRECT_s clip, uint32_t triangle);
    void int_FillTriangle(qntPOS a, qntPOS b, qntPOS c, float za, float zb, float zc, qntRGBA8 colour,
                          CQNF_Image* target, qntRECT_s clip, uint32_t triangle);
    void int_BlendMeshPixel(int32_t x, int32_t y, qntRGBA8 colour, qntRECT_s clip, CQNF_Image* target,
                            uint32_t triangle);
    void int_DrawMeshLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1, qntRGBA8 colour, CQNF_Image* target,
                          qntRECT_s clip, uint32_t triangle);
    void int_BlendAAMeshPixel(int32_t x, int32_t y, unsigned char direction, double before, double at, double after,
                              qntRGBA8 colour, qntRECT_s clip, CQNF_Image* target, uint32_t triangle);
    void int_DrawAAMeshLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1, qntRGBA8 colour, CQNF_Image* target,
                            qntRECT_s clip, uint32_t triangle);
    void int_DrawYLine_DraftMapping_Simple(int32_t row, int32_t x0, int32_t x1, float z0, float z1,
                                           CQNF_Image* front, CQNF_Image* back, unsigned char frontFlag, double shade,
                                           int32_t texelXOffset, int32_t texelYOffset, CQNF_Image* target,
                                           qntRECT_s clip, uint32_t triangle);
    void int_DrawYLine_DraftMapping_Transformed(int32_t row, int32_t x0, int32_t x1, float z0, float z1, float u0,
                                                float v0, float u1, float v1, CQNF_Image* front, CQNF_Image* back,
                                                unsigned char frontFlag, double shade, CQNF_Image* target,
                                                qntRECT_s clip, uint32_t triangle);
    void int_FillTriangle_DraftMapping_Simple(qntPOS a, qntPOS b, qntPOS c, float za, float zb, float zc,
                                              CQNF_Image* front, CQNF_Image* back, unsigned char frontFlag,
                                              double shade, int32_t texelXOffset, int32_t texelYOffset,
                                              CQNF_Image* target, qntRECT_s clip, uint32_t triangle);
    void int_FillTriangle_DraftMapping_Transformed(qntPOS a, qntPOS b, qntPOS c, float za, float zb, float zc,
                                                   const qnt2D_VERTEX* ta, const qnt2D_VERTEX* tb,
                                                   const qnt2D_VERTEX* tc, CQNF_Image* front, CQNF_Image* back,
                                                   unsigned char frontFlag, double shade, CQNF_Image* target,
                                                   qntRECT_s clip, uint32_t triangle);

    // ---- High-quality rendering ---------------------------------------------------
    // Textured mesh into caller-supplied 8-bit planes, supersampled q x q,
    // translucent fragments composited front to back, no lights: the factor
    // of every colour channel is 1 - (1 - Nz) x shading / 100, 0 where the
    // face normal turns away. Channel 0 is dstAlpha, channels 1..n-1 are dst1..
    // Returns 1 when rendered; 0 on failure (error set: 1 bad argument or an
    // empty render rectangle, 17 memory) or on cancel (error unchanged). Every
    // pixel of the render rectangle gets its alpha; pixels no fragment covers
    // get alpha 0 and keep their colours.
    uint8_t RenderHQ_Simple(float shading, unsigned char supersampling, unsigned char channels, unsigned char* dst1,
                            unsigned char* dst2, unsigned char* dst3, unsigned char* dst4, unsigned char* dstAlpha,
                            unsigned long dstStride, unsigned long dstWidth, unsigned long dstHeight,
                            unsigned char frontSolid, unsigned char* frontColour, unsigned char* front1,
                            unsigned char* front2, unsigned char* front3, unsigned char* front4,
                            unsigned char backSolid, unsigned char* backColour, unsigned char* back1,
                            unsigned char* back2, unsigned char* back3, unsigned char* back4,
                            unsigned char* texAlpha, unsigned long texStride, unsigned long texWidth,
                            unsigned long texHeight, qntRECT_s clip);
    // The most fragment records a high-quality render may hold per tile
    // before it gives up with error 17; 0 (the default) lets it grow as long
    // as memory lasts.
    void SetHQFragmentLimit(uint32_t records) { m_hqFragmentLimit = records; }
    uint32_t GetHQFragmentLimit() const { return m_hqFragmentLimit; }

    // What the high-quality frame reads of the mesh.
    struct MESH_VIEW {
        const qnt3D_VERTEX* vertices;
        uint32_t vertexCount;
        const TRIMESH* triangles;
        uint32_t triangleCount;
        const qnt2D_VERTEX* mapping;
        const qnt3D_VECTOR* vertexNormals;  // after PrepareVertexNormalsArray
    };

    // ---- 2D overlap tests --------------------------------------------------------
    // 1 when the segments meet, 3 when they lie on one line, else 0.
    static uint8_t geom2D_TestLineSegIntersection(const qnt2D_VERTEX* segmentA, const qnt2D_VERTEX* segmentB);
    // Even-odd crossing rule: 1 inside, 0 outside.
    static uint8_t geom2D_TestPointInTriange(const qnt2D_VERTEX* triangle, qnt2D_VERTEX point);
    static uint8_t geom2D_TestTriangeTriangleIntersection(const qnt2D_VERTEX* triangleA, const qnt2D_VERTEX* triangleB);
    // Depth and texture point of triangle a, b, c at (x, y); 0 when outside.
    static uint8_t int_ShadowMapTriangleCalc(SHADOW_MAP_ZVAL* result, float x, float y, const qnt3D_VERTEX* a,
                                             const qnt3D_VERTEX* b, const qnt3D_VERTEX* c, const qnt3D_VERTEX* ta,
                                             const qnt3D_VERTEX* tb, const qnt3D_VERTEX* tc);

    // ---- Light-mask blurs (in place; a plane of width x height, stride width) -----
    static void int_Blur_Const(unsigned char* plane, unsigned long width, unsigned long height, float sigma);
    static void int_Blur_Perspective(unsigned char separable, unsigned char* plane, unsigned long width,
                                     unsigned long height, float sigmaNear, float sigmaFar, float* depth);

protected:
    CQNF_3D_SurfaceBase();

    // Create(source) of both generations: vertices and triangles only.
    uint8_t int_CopyMeshFrom(const CQNF_3D_SurfaceBase* source);

    qnt3D_VERTEX* Vertices() const { return reinterpret_cast<qnt3D_VERTEX*>(m_vertexBlock.GetPtr()); }
    TRIMESH* Triangles() const { return reinterpret_cast<TRIMESH*>(m_triangleBlock.GetPtr()); }
    qnt2D_VERTEX* Mapping() const { return reinterpret_cast<qnt2D_VERTEX*>(m_mappingBlock.GetPtr()); }
    qnt3D_VECTOR* VertexNormals() const { return reinterpret_cast<qnt3D_VECTOR*>(m_normalBlock.GetPtr()); }
    ZBUFFER_CELL* ZCells() const { return reinterpret_cast<ZBUFFER_CELL*>(m_zBlock.GetPtr()); }

    // Every triangle index below the vertex count.
    bool int_IndicesValid() const;
    // The checks every high-quality renderer makes before it draws: its
    // arguments, and a mesh whose indices and mapping are whole; error 1 if not.
    bool int_HQReady(const s3d::hq::Request& r, const s3d::hq::Planes& planes);
    MESH_VIEW int_MeshView() const
    {
        return MESH_VIEW{Vertices(), m_vertexCount, Triangles(), m_triangleCount, Mapping(), VertexNormals()};
    }
    // A texture coordinate for every vertex.
    bool int_MappingValid() const { return m_mappingCount >= m_vertexCount; }

    // Progress and cancel through the reporter, when there is one. The value
    // is truncated to an integer and its low 8 bits are reported.
    bool int_IsCanceled() const;
    void int_ReportProgress(double percent) const;

    // The pairwise shadow-map generator both generations share: every
    // receiving triangle is rasterised in texture space and each sample is
    // tested against the triangles that stand between it and the light.
    struct PAIRWISE_JOB {
        uint8_t* map;             // width x height, filled with 255 by the job
        uint32_t width;
        uint32_t height;
        const uint8_t* alpha;     // texture alpha, same size, rows alphaRowLength apart
        uint64_t alphaRowLength;
        qnt3D_VECTOR direction;   // Rotate() direction that takes the mesh into light space
        uint32_t level;           // each texel sampled 2^level x 2^level times (0..4)
        float* distance;          // optional width x height sums of occluder distances
        bool progress;            // report from..to through the reporter
        double from;
        double to;
    };
    // 0 on cancel (error number unchanged) or when memory runs out (error set).
    uint8_t int_ShadowPairwise(const PAIRWISE_JOB& job);
    // The checks every shadow generator makes of the mesh and its texture.
    bool int_CheckShadowInputs(const uint8_t* map, uint32_t mapWidth, uint32_t mapHeight, const uint8_t* alpha,
                               unsigned long alphaRowLength, unsigned long width, unsigned long height);

private:
    // A four-plane target, the clip the renderer resolved and the textures
    // of the draft renderer, as the rasterisers walk them.
    struct RasterTarget;
    struct Clip;
    struct DraftTextures;
    // The checks the renderers make before they call the rasterisers, made
    // again when a rasteriser is called on its own.
    bool int_BindRaster(CQNF_Image* target, qntRECT_s clip, RasterTarget& rt, Clip& c) const;
    bool int_BindTextures(CQNF_Image* front, CQNF_Image* back, DraftTextures& t) const;
    bool int_BeginZRender(CQNF_Image* target, qntRECT_s clip, bool inputsOk, qntRECT_s& cr, RasterTarget& rt,
                          Clip& c);
    bool int_NeighbourAllows(const Clip& c, int32_t x, int32_t y, uint32_t triangle) const;
    template <class PixelFn>
    void int_SpanFrame(const Clip& c, int32_t row, int32_t x0, int32_t x1, float z0, float z1, PixelFn&& pixel);
    void int_SpanFlat(const RasterTarget& rt, const Clip& c, int32_t row, int32_t x0, int32_t x1, float z0, float z1,
                      qntRGBA8 colour, uint32_t triangle);
    void int_TriFlat(const RasterTarget& rt, const Clip& c, qntPOS a, qntPOS b, qntPOS cc, float za, float zb,
                     float zc, qntRGBA8 colour, uint32_t triangle);
    void int_MeshPixel(const RasterTarget& rt, const Clip& c, int32_t x, int32_t y, qntRGBA8 colour,
                       uint32_t triangle);
    void int_MeshLine(const RasterTarget& rt, const Clip& c, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                      qntRGBA8 colour, uint32_t triangle);
    void int_AAMeshPixel(const RasterTarget& rt, const Clip& c, int32_t x, int32_t y, unsigned char direction,
                         double before, double at, double after, qntRGBA8 colour, uint32_t triangle);
    void int_AAMeshLine(const RasterTarget& rt, const Clip& c, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                        qntRGBA8 colour, uint32_t triangle);
    void int_SpanDraftSimple(const RasterTarget& rt, const Clip& c, const DraftTextures& t, int32_t row, int32_t x0,
                             int32_t x1, float z0, float z1, unsigned char frontFlag, double shade, int32_t offX,
                             int32_t offY, uint32_t triangle);
    void int_SpanDraftTransformed(const RasterTarget& rt, const Clip& c, const DraftTextures& t, int32_t row,
                                  int32_t x0, int32_t x1, float z0, float z1, float u0, float v0, float u1, float v1,
                                  unsigned char frontFlag, double shade, uint32_t triangle);
    void int_TriDraftSimple(const RasterTarget& rt, const Clip& c, const DraftTextures& t, qntPOS a, qntPOS b,
                            qntPOS cc, float za, float zb, float zc, unsigned char frontFlag, double shade,
                            int32_t offX, int32_t offY, uint32_t triangle);
    void int_TriDraftTransformed(const RasterTarget& rt, const Clip& c, const DraftTextures& t, qntPOS a, qntPOS b,
                                 qntPOS cc, float za, float zb, float zc, const qnt2D_VERTEX& ta,
                                 const qnt2D_VERTEX& tb, const qnt2D_VERTEX& tc, unsigned char frontFlag,
                                 double shade, uint32_t triangle);

    CQNF_Progress* m_progress = nullptr;

    CQNF_Mem m_vertexBlock;
    uint32_t m_vertexCount = 0;
    CQNF_Mem m_normalBlock;
    uint32_t m_normalCount = 0;
    CQNF_Mem m_mappingBlock;
    uint32_t m_mappingCount = 0;
    CQNF_Mem m_triangleBlock;
    uint32_t m_triangleCount = 0;
    CQNF_Mem m_zBlock;
    unsigned short m_zbWidth = 0;
    unsigned short m_zbHeight = 0;
    short m_matShading = 0;
    float m_cosPower = 1.0f;
    uint32_t m_hqFragmentLimit = 0;
};
