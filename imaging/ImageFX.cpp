// CQNF_ImageFX: binding of source and destination, and the helpers every
// filter shares.
#include "imaging/ImageFX.h"

#include "core/Progress.h"
#include "imaging/Image.h"

#include <cstring>

int CQNF_ImageFX::i_Bind(Desc& d, uint8_t** planes, uint32_t stride, uint8_t channels, uint8_t alphaFlag,
                         uint16_t width, uint16_t height)
{
    // A failed binding leaves the side empty, so no filter can reach planes
    // the caller meant to replace.
    d = Desc{};
    const bool hasPixels = width > 0 && height > 0;
    if (channels > kMaxPlanes || (alphaFlag && channels == 0) || (channels > 0 && !planes)) {
        SetError(qnerr::BadArgument);
        return 0;
    }
    if (hasPixels && channels > 0 && stride < width) {
        SetError(qnerr::BadArgument);
        return 0;
    }
    for (int p = 0; p < channels; ++p) {
        if (hasPixels && !planes[p]) {
            SetError(qnerr::BadArgument);
            return 0;
        }
    }
    for (int p = 0; p < channels; ++p)
        d.planes[p] = planes[p];
    d.base = channels > 0 ? planes[0] : nullptr;
    d.stride = stride;
    d.alphaStride = stride;
    d.channels = channels;
    d.alpha = alphaFlag ? 1 : 0;
    d.width = width;
    d.height = height;
    return 1;
}

int CQNF_ImageFX::i_BindBase(Desc& d, uint8_t* base, uint32_t stride, uint8_t channels, uint8_t alphaFlag,
                             uint16_t width, uint16_t height)
{
    if (!base || channels > kMaxPlanes) {
        d = Desc{};
        SetError(qnerr::BadArgument);
        return 0;
    }
    uint8_t* planes[kMaxPlanes] = {};
    const size_t planeBytes = static_cast<size_t>(stride) * height;
    for (int p = 0; p < channels; ++p)
        planes[p] = base + p * planeBytes;
    return i_Bind(d, planes, stride, channels, alphaFlag, width, height);
}

int CQNF_ImageFX::SetSource(uint8_t** planes, uint32_t stride, uint8_t channels, uint8_t alphaFlag, uint16_t width,
                            uint16_t height)
{
    return i_Bind(m_src, planes, stride, channels, alphaFlag, width, height);
}

int CQNF_ImageFX::SetSourceWithAlphaStride(uint8_t** planes, uint32_t stride, uint32_t alphaStride, uint8_t channels,
                                           uint16_t width, uint16_t height)
{
    if (!i_Bind(m_src, planes, stride, channels, 1, width, height))
        return 0;
    if (width > 0 && height > 0 && alphaStride < width) {
        m_src = Desc{};
        SetError(qnerr::BadArgument);
        return 0;
    }
    m_src.alphaStride = alphaStride;
    return 1;
}

int CQNF_ImageFX::SetDestination(uint8_t** planes, uint32_t stride, uint8_t channels, uint8_t alphaFlag,
                                 uint16_t width, uint16_t height)
{
    return i_Bind(m_dst, planes, stride, channels, alphaFlag, width, height);
}

int CQNF_ImageFX::SetSource(uint8_t* base, uint32_t stride, uint8_t channels, uint8_t alphaFlag, uint16_t width,
                            uint16_t height)
{
    return i_BindBase(m_src, base, stride, channels, alphaFlag, width, height);
}

int CQNF_ImageFX::SetDestination(uint8_t* base, uint32_t stride, uint8_t channels, uint8_t alphaFlag,
                                 uint16_t width, uint16_t height)
{
    return i_BindBase(m_dst, base, stride, channels, alphaFlag, width, height);
}

int CQNF_ImageFX::i_BindImage(Desc& d, CQNF_Image* image)
{
    if (!image) {
        d = Desc{};
        SetError(qnerr::BadArgument);
        return 0;
    }
    // Channel count and alpha flag by mode: 1 RGB, 2 RGBA, 3 four planes,
    // 4 five with alpha, 5 grey, 6 two planes.
    static constexpr uint8_t kChannels[7] = {0, 3, 4, 4, 5, 1, 2};
    const uint8_t mode = image->GetImageMode();
    const uint8_t channels = mode < 7 ? kChannels[mode] : 0;
    const uint8_t alpha = (mode == 2 || mode == 4) ? 1 : 0;
    const uint16_t w = image->GetImageWidth();
    const uint16_t h = image->GetImageHeight();
    CQNF_Mem* block = image->GetMemObj();
    uint8_t* base = block ? block->GetPtr() : nullptr;
    // The block must hold every plane the mode names.
    const uint64_t need = qnMulSize({channels, w, h});
    if (channels > 0 && need > 0 && (!base || block->GetSize() < need)) {
        d = Desc{};
        SetError(qnerr::BadArgument);
        return 0;
    }
    if (!base || need == 0) {
        d = Desc{};
        d.channels = channels;
        d.alpha = channels ? alpha : 0;
        d.width = w;
        d.height = h;
        d.stride = w;
        return 1;
    }
    return i_BindBase(d, base, w, channels, alpha, w, h);
}

int CQNF_ImageFX::SetSource(CQNF_Image* image) { return i_BindImage(m_src, image); }

int CQNF_ImageFX::SetDestination(CQNF_Image* image) { return i_BindImage(m_dst, image); }

void CQNF_ImageFX::GetDestination(uint8_t** planes, uint32_t& stride, uint8_t& channels, uint8_t& alphaFlag,
                                  int32_t& width, int32_t& height) const
{
    if (planes)
        for (int p = 0; p < kMaxPlanes; ++p)
            planes[p] = m_dst.planes[p];
    stride = m_dst.stride;
    channels = m_dst.channels;
    alphaFlag = m_dst.alpha;
    width = m_dst.width;
    height = m_dst.height;
}

bool CQNF_ImageFX::i_OneStride()
{
    if (m_src.alphaStride != m_src.stride) {
        SetError(qnerr::BadArgument);
        return false;
    }
    return true;
}

bool CQNF_ImageFX::i_SameShape(bool alphaStrideRead)
{
    if (m_src.channels != m_dst.channels || m_src.width != m_dst.width || m_src.height != m_dst.height) {
        SetError(qnerr::BadArgument);
        return false;
    }
    return alphaStrideRead || i_OneStride();
}

void CQNF_ImageFX::i_CopyPlane(int p) { i_CopyPlaneRows(p, 0, m_src.height); }

void CQNF_ImageFX::i_CopyPlaneRows(int p, int32_t y0, int32_t y1)
{
    const uint8_t* s = m_src.planes[p];
    uint8_t* d = m_dst.planes[p];
    const uint32_t from = m_src.Stride(p), to = m_dst.Stride(p);
    if (s == d && from == to)
        return;
    for (int32_t y = y0; y < y1; ++y)
        std::memmove(d + static_cast<size_t>(y) * to, s + static_cast<size_t>(y) * from,
                     static_cast<size_t>(m_src.width));
}

void CQNF_ImageFX::i_CopyAllPlanes()
{
    for (int p = 0; p < m_src.channels; ++p)
        i_CopyPlane(p);
}

void CQNF_ImageFX::i_CopyAlphaPlane()
{
    if (m_src.alpha)
        i_CopyPlane(m_src.channels - 1);
}

unsigned char* CQNF_ImageFX::i_Grow(CQNF_Mem& block, uint64_t bytes)
{
    if (bytes == 0)
        bytes = 1;
    if (block.GetSize() >= bytes)
        return block.GetPtr();
    unsigned char* p = block.alloc(bytes);
    if (!p)
        SetError(block.GetError() ? block.GetError() : qnerr::NoMemory);
    return p;
}

bool CQNF_ImageFX::i_Report(uint8_t percent)
{
    if (!m_progress)
        return false;
    m_progress->Progress(percent, m_progress->GetUserDataPtr());
    return m_progress->IsCanceled();
}
