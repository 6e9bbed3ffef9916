// RenderHQ_Simple, the same in both generations: the high-quality frame with
// the flat percentage rule instead of lights, no bump maps, no perspective.
// Also the checks every high-quality renderer shares.
#include "surface3d/HQFrame.h"

bool CQNF_3D_SurfaceBase::int_HQReady(const s3d::hq::Request& r, const s3d::hq::Planes& planes)
{
    if (!s3d::hq::Check(r, planes) || !int_IndicesValid() || !int_MappingValid()) {
        SetError(qnerr::BadArgument);
        return false;
    }
    return true;
}

uint8_t CQNF_3D_SurfaceBase::RenderHQ_Simple(float shading, unsigned char supersampling, unsigned char channels,
                                             unsigned char* dst1, unsigned char* dst2, unsigned char* dst3,
                                             unsigned char* dst4, unsigned char* dstAlpha, unsigned long dstStride,
                                             unsigned long dstWidth, unsigned long dstHeight,
                                             unsigned char frontSolid, unsigned char* frontColour,
                                             unsigned char* front1, unsigned char* front2, unsigned char* front3,
                                             unsigned char* front4, unsigned char backSolid,
                                             unsigned char* backColour, unsigned char* back1, unsigned char* back2,
                                             unsigned char* back3, unsigned char* back4, unsigned char* texAlpha,
                                             unsigned long texStride, unsigned long texWidth,
                                             unsigned long texHeight, qntRECT_s clip)
{
    const s3d::hq::Planes p{dst1,      dst2,       dst3,       dst4,      dstAlpha,  dstStride, dstWidth,
                            dstHeight, frontSolid, frontColour, front1,   front2,    front3,    front4,
                            backSolid, backColour, back1,      back2,     back3,     back4,     texAlpha,
                            texStride, texWidth,   texHeight,  nullptr,   nullptr,   0,         0.0f,
                            0.0f};
    s3d::hq::Request r;
    s3d::hq::Fill(r, supersampling, channels, p, clip);
    r.bumpAllowed = false;
    r.fragmentLimit = m_hqFragmentLimit;
    if (!int_HQReady(r, p))
        return 0;
    s3d::hq::SimpleLighting light(shading / 100.0f);
    return s3d::hq::Render(
        *this, r, light, m_progress, [] { return true; }, [this] { return int_MeshView(); });
}
