// The picture's storage, modes and pixel access; fills, copies, blends and
// rotations are in ImageBlit.cpp, lines and shapes in ImageShapes.cpp.
#include "imaging/Image.h"

#include "core/Mem.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

namespace qnimg {

uint8_t PlaneCountOfMode(uint8_t mode)
{
    static constexpr uint8_t kPlanes[7] = {0, 3, 4, 4, 5, 1, 2};
    return mode < 7 ? kPlanes[mode] : 0;
}

bool ModeHasAlpha(uint8_t mode) { return mode == 2 || mode == 4; }

bool ClipRect(qntRECT_s& r, int32_t width, int32_t height)
{
    if (qnIsNullRect(r)) {
        r = {0, 0, width, height};
    } else {
        r.left = std::max(r.left, 0);
        r.top = std::max(r.top, 0);
        r.right = std::min(r.right, width);
        r.bottom = std::min(r.bottom, height);
    }
    if (r.left >= r.right || r.top >= r.bottom) {
        r = qnNullRect;
        return false;
    }
    return true;
}

}  // namespace qnimg

CQNF_Image::CQNF_Image() = default;

CQNF_Image::~CQNF_Image() { Clean(); }

void CQNF_Image::Clean()
{
    delete m_pixels;
    m_pixels = nullptr;
    m_mode = 0;
    m_width = 0;
    m_height = 0;
    ResetError();
}

bool CQNF_Image::HasPixels() const
{
    return m_pixels && m_pixels->GetPtr() && m_pixels->GetSize() > 0 && m_width > 0 && m_height > 0;
}

uint8_t* CQNF_Image::GetPlane(unsigned p) const
{
    if (!HasPixels() || p >= qnimg::PlaneCountOfMode(m_mode))
        return nullptr;
    return static_cast<uint8_t*>(m_pixels->GetPtr()) + p * PlaneSize();
}

bool CQNF_Image::Create(uint16_t width, uint16_t height, uint8_t mode)
{
    Clean();
    if (width == 0 || height == 0)
        return false;
    if (mode != qnimg::ModeRGB && mode != qnimg::ModeRGBA) {
        SetError(qnerr::BadArgument);
        return false;
    }
    const uint64_t bytes = uint64_t{width} * height * qnimg::PlaneCountOfMode(mode);
    if (bytes > UINT32_MAX) {
        SetError(qnerr::NoMemory);
        return false;
    }
    auto* block = new (std::nothrow) CQNF_Mem;
    if (!block) {
        SetError(qnerr::NoMemory);
        return false;
    }
    if (!block->alloc(static_cast<uint32_t>(bytes))) {
        SetError(block->GetError() ? block->GetError() : qnerr::NoMemory);
        delete block;
        return false;
    }
    m_pixels = block;
    m_mode = mode;
    m_width = width;
    m_height = height;
    return true;
}

bool CQNF_Image::Create(CQNF_Image* source, uint8_t mode)
{
    // Copying an image onto itself would free the source before reading it.
    if (!source || source == this || !source->HasPixels()) {
        SetError(qnerr::BadArgument);
        return false;
    }
    const uint8_t m = mode ? mode : source->m_mode;
    if (!Create(source->m_width, source->m_height, m))
        return false;
    auto* dst = static_cast<uint8_t*>(m_pixels->GetPtr());
    const auto* src = static_cast<const uint8_t*>(source->m_pixels->GetPtr());
    const size_t plane = PlaneSize();
    if (m == source->m_mode) {
        std::memcpy(dst, src, std::min<size_t>(m_pixels->GetSize(), source->m_pixels->GetSize()));
        return true;
    }
    if (m != qnimg::ModeRGB)
        std::memset(dst, 255, m_pixels->GetSize());
    std::memcpy(dst, src, std::min<size_t>(3 * plane, source->m_pixels->GetSize()));
    return true;
}

bool CQNF_Image::GetImageSize(uint16_t& width, uint16_t& height) const
{
    width = m_width;
    height = m_height;
    return true;
}

bool CQNF_Image::ChangeImageMode(uint8_t mode)
{
    ResetError();
    if (!HasPixels()) {
        SetError(qnerr::Empty);
        return false;
    }
    if (mode == m_mode)
        return true;
    const size_t plane = PlaneSize();
    if (m_mode == qnimg::ModeRGBA && mode == qnimg::ModeRGB) {
        if (!m_pixels->Resize(static_cast<uint32_t>(3 * plane))) {
            SetError(m_pixels->GetError() ? m_pixels->GetError() : qnerr::NoMemory);
            return false;
        }
        m_mode = qnimg::ModeRGB;
        return true;
    }
    if (m_mode == qnimg::ModeRGB && mode == qnimg::ModeRGBA) {
        if (uint64_t{4} * plane > UINT32_MAX) {
            SetError(qnerr::NoMemory);
            return false;
        }
        if (!m_pixels->Resize(static_cast<uint32_t>(4 * plane))) {
            SetError(m_pixels->GetError() ? m_pixels->GetError() : qnerr::NoMemory);
            return false;
        }
        std::memset(static_cast<uint8_t*>(m_pixels->GetPtr()) + 3 * plane, 255, plane);
        m_mode = qnimg::ModeRGBA;
        return true;
    }
    return false;
}

qntRGBA8 CQNF_Image::GetPixel(uint16_t x, uint16_t y)
{
    ResetError();
    if (!HasPixels()) {
        SetError(qnerr::Empty);
        return {0, 0, 0, 0};
    }
    if (x >= m_width || y >= m_height) {
        SetError(qnerr::BadArgument);
        return {0, 0, 0, 0};
    }
    const size_t plane = PlaneSize();
    const uint8_t* p = static_cast<const uint8_t*>(m_pixels->GetPtr()) + size_t{y} * m_width + x;
    return {p[0], p[plane], p[2 * plane], m_mode == qnimg::ModeRGBA ? p[3 * plane] : uint8_t{255}};
}

qntRGBA8 CQNF_Image::GetPixel(qntPOS p)
{
    return GetPixel(static_cast<uint16_t>(p.x & 0xFFFF), static_cast<uint16_t>(p.y & 0xFFFF));
}

qntRGBA8 CQNF_Image::SetPixel(uint16_t x, uint16_t y, qntRGBA8 colour)
{
    const qntRGBA8 old = GetPixel(x, y);
    if (IsError())
        return {0, 0, 0, 0};
    const size_t plane = PlaneSize();
    uint8_t* p = static_cast<uint8_t*>(m_pixels->GetPtr()) + size_t{y} * m_width + x;
    p[0] = colour.r;
    p[plane] = colour.g;
    p[2 * plane] = colour.b;
    if (m_mode == qnimg::ModeRGBA)
        p[3 * plane] = colour.a;
    return old;
}

qntRGBA8 CQNF_Image::SetPixel(qntPOS p, qntRGBA8 colour)
{
    return SetPixel(static_cast<uint16_t>(p.x & 0xFFFF), static_cast<uint16_t>(p.y & 0xFFFF), colour);
}

uint8_t* CQNF_Image::GetPixelPtr(uint16_t x, uint16_t y)
{
    ResetError();
    if (!HasPixels()) {
        SetError(qnerr::Empty);
        return nullptr;
    }
    if (x >= m_width || y >= m_height) {
        SetError(qnerr::BadArgument);
        return nullptr;
    }
    return static_cast<uint8_t*>(m_pixels->GetPtr()) + size_t{y} * m_width + x;
}

bool CQNF_Image::GetImageChannels(uint8_t** planes, uint32_t& stride)
{
    const uint8_t n = qnimg::PlaneCountOfMode(m_mode);
    if (n == 0 || !planes || !HasPixels()) {
        SetError(qnerr::BadArgument);
        return false;
    }
    for (unsigned p = 0; p < n; ++p)
        planes[p] = static_cast<uint8_t*>(m_pixels->GetPtr()) + p * PlaneSize();
    stride = m_width;
    return true;
}

bool CQNF_Image::GetImageChannels(uint8_t** planes, unsigned long& stride)
{
    uint32_t s = 0;
    if (!GetImageChannels(planes, s))
        return false;
    stride = s;
    return true;
}

// Intersects r with the image; false (and r null) when nothing is left.
bool CQNF_Image::ClipToImage(qntRECT_s& r) const { return qnimg::ClipRect(r, m_width, m_height); }

// The drawing clip: the null clip is the whole image; any other is cut to it.
bool CQNF_Image::DrawClip(qntRECT_s clip, qntRECT_s& out) const
{
    out = clip;
    return ClipToImage(out);
}
