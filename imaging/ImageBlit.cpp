// The picture's fills, tiles, copies, blends, rotations and flips.
#include "imaging/Image.h"

#include "core/Mem.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

uint8_t Channel(qntRGBA8 c, unsigned p)
{
    switch (p) {
    case 0:
        return c.r;
    case 1:
        return c.g;
    case 2:
        return c.b;
    default:
        return c.a;
    }
}

// x / 255 rounded to the nearest integer, for 0 <= x <= 255 * 255 * 255.
inline int Div255(int x) { return (x + 127) / 255; }

constexpr int kGeoRotate90 = 0;
constexpr int kGeoRotate180 = 1;
constexpr int kGeoRotate270 = 2;
constexpr int kGeoFlipVert = 3;

}  // namespace

bool CQNF_Image::Set(qntRGBA8 colour, unsigned char planeMask, qntRECT_s rect)
{
    if (!HasPixels()) {
        SetError(qnerr::Empty);
        return false;
    }
    if (!ClipToImage(rect))
        return true;
    const size_t plane = PlaneSize();
    const size_t w = static_cast<size_t>(rect.right - rect.left);
    auto* base = static_cast<uint8_t*>(m_pixels->GetPtr());
    for (unsigned p = 0; p < WorkPlanes(); ++p) {
        if (!(planeMask & (1u << p)))
            continue;
        const uint8_t v = Channel(colour, p);
        uint8_t* row = base + p * plane + size_t(rect.top) * m_width + rect.left;
        if (rect.left == 0 && w == m_width) {
            std::memset(row, v, w * size_t(rect.bottom - rect.top));
            continue;
        }
        for (int32_t y = rect.top; y < rect.bottom; ++y, row += m_width)
            std::memset(row, v, w);
    }
    return true;
}

bool CQNF_Image::Set(unsigned short cellWidth, unsigned short cellHeight, qntRGBA8 colourA, qntRGBA8 colourB,
                     qntRECT_s rect)
{
    if (!HasPixels()) {
        SetError(qnerr::Empty);
        return false;
    }
    if (cellWidth == 0 || cellHeight == 0) {
        SetError(qnerr::BadArgument);
        return false;
    }
    if (!ClipToImage(rect))
        return true;
    // A cell larger than the area shows as one cell whatever its size, so the
    // pattern image never needs to be larger than twice the area (nor than
    // its 16-bit size holds).
    const uint16_t cw = static_cast<uint16_t>(std::min<int32_t>({cellWidth, rect.right - rect.left, 32767}));
    const uint16_t ch = static_cast<uint16_t>(std::min<int32_t>({cellHeight, rect.bottom - rect.top, 32767}));
    CQNF_Image cell;
    if (!cell.Create(static_cast<uint16_t>(2 * cw), static_cast<uint16_t>(2 * ch), qnimg::ModeRGBA)) {
        SetError(cell.GetError() ? cell.GetError() : qnerr::NoMemory);
        return false;
    }
    cell.Set(colourA, 0x0F, qnNullRect);
    cell.Set(colourB, 0x0F, {0, 0, cw, ch});
    cell.Set(colourB, 0x0F, {cw, ch, 2 * cw, 2 * ch});
    return Tile(&cell, qnNullRect, rect);
}

bool CQNF_Image::Tile(CQNF_Image* source, qntRECT_s sourceRect, qntRECT_s destRect)
{
    ResetError();
    if (!HasPixels()) {
        SetError(qnerr::Empty);
        return false;
    }
    if (!source || source == this || !source->HasPixels()) {
        SetError(qnerr::BadArgument);
        return false;
    }
    if (!ClipToImage(destRect) || !source->ClipToImage(sourceRect))
        return true;
    const size_t plane = PlaneSize();
    const size_t splane = source->PlaneSize();
    const int32_t sw = sourceRect.right - sourceRect.left;
    const int32_t sh = sourceRect.bottom - sourceRect.top;
    const int32_t dw = destRect.right - destRect.left;
    const unsigned srcPlanes = source->WorkPlanes();
    auto* dbase = static_cast<uint8_t*>(m_pixels->GetPtr());
    const auto* sbase = static_cast<const uint8_t*>(source->m_pixels->GetPtr());
    for (int32_t y = destRect.top; y < destRect.bottom; ++y) {
        const int32_t sy = sourceRect.top + (y - destRect.top) % sh;
        for (unsigned p = 0; p < WorkPlanes(); ++p) {
            uint8_t* d = dbase + p * plane + size_t(y) * m_width + destRect.left;
            if (p >= srcPlanes) {
                std::memset(d, 255, size_t(dw));
                continue;
            }
            const uint8_t* s = sbase + p * splane + size_t(sy) * source->m_width + sourceRect.left;
            for (int32_t done = 0; done < dw;) {
                const int32_t n = std::min(sw, dw - done);
                std::memcpy(d + done, s, size_t(n));
                done += n;
            }
        }
    }
    return true;
}

namespace {

// The destination area and source point shared by the copy and the blend:
// false when nothing is to be done.
bool CopyArea(const CQNF_Image& dst, const CQNF_Image& src, long x, long y, qntRECT_s rect, qntRECT_s& area,
              qntRECT_s& from)
{
    if (qnIsNullRect(rect))
        rect = {0, 0, dst.GetImageWidth(), dst.GetImageHeight()};
    area = rect;
    if (!qnimg::ClipRect(area, dst.GetImageWidth(), dst.GetImageHeight()))
        return false;
    int64_t sx = int64_t{x} + area.left - rect.left;
    int64_t sy = int64_t{y} + area.top - rect.top;
    // A source point left of or above the source moves the destination with
    // it, so the picture keeps its alignment.
    if (sx < 0) {
        if (-sx >= area.right - area.left)
            return false;
        area.left += static_cast<int32_t>(-sx);
        sx = 0;
    }
    if (sy < 0) {
        if (-sy >= area.bottom - area.top)
            return false;
        area.top += static_cast<int32_t>(-sy);
        sy = 0;
    }
    if (sx >= src.GetImageWidth() || sy >= src.GetImageHeight())
        return false;
    const int32_t w = std::min<int64_t>(area.right - area.left, src.GetImageWidth() - sx);
    const int32_t h = std::min<int64_t>(area.bottom - area.top, src.GetImageHeight() - sy);
    area.right = area.left + w;
    area.bottom = area.top + h;
    from = {static_cast<int32_t>(sx), static_cast<int32_t>(sy), static_cast<int32_t>(sx) + w,
            static_cast<int32_t>(sy) + h};
    return w > 0 && h > 0;
}

}  // namespace

bool CQNF_Image::Set(CQNF_Image* source, long x, long y, qntRECT_s rect)
{
    ResetError();
    if (!HasPixels()) {
        SetError(qnerr::Empty);
        return false;
    }
    if (!source || !source->HasPixels()) {
        SetError(qnerr::BadArgument);
        return false;
    }
    qntRECT_s area{};
    qntRECT_s from{};
    if (!CopyArea(*this, *source, x, y, rect, area, from))
        return true;
    return Tile(source, from, area);
}

bool CQNF_Image::Blend(CQNF_Image* source, long x, long y, qntRECT_s rect, uint8_t opacity)
{
    // The copy reports a missing picture or source, and copies a source
    // without alpha, which has nothing to blend.
    if (!HasPixels() || !source || !source->HasPixels() || source->m_mode != qnimg::ModeRGBA)
        return Set(source, x, y, rect);
    ResetError();
    if ((m_mode != qnimg::ModeRGB && m_mode != qnimg::ModeRGBA) || source == this) {
        SetError(qnerr::BadArgument);
        return false;
    }
    qntRECT_s area{};
    qntRECT_s from{};
    if (!CopyArea(*this, *source, x, y, rect, area, from))
        return true;
    const size_t plane = PlaneSize();
    const size_t splane = source->PlaneSize();
    auto* dbase = static_cast<uint8_t*>(m_pixels->GetPtr());
    const auto* sbase = static_cast<const uint8_t*>(source->m_pixels->GetPtr());
    const int32_t w = area.right - area.left;
    for (int32_t row = 0; row < area.bottom - area.top; ++row) {
        const size_t doff = size_t(area.top + row) * m_width + area.left;
        const size_t soff = size_t(from.top + row) * source->m_width + from.left;
        const uint8_t* sa = sbase + 3 * splane + soff;
        for (unsigned p = 0; p < 3; ++p) {
            uint8_t* d = dbase + p * plane + doff;
            const uint8_t* s = sbase + p * splane + soff;
            if (opacity <= 99) {
                const int k = opacity;
                for (int32_t i = 0; i < w; ++i)
                    d[i] = static_cast<uint8_t>(d[i] - (sa[i] * k * (d[i] - s[i])) / 25500);
            } else {
                // Rounded division by 255: an opaque source pixel lands
                // unchanged and a transparent one leaves the destination alone.
                for (int32_t i = 0; i < w; ++i)
                    d[i] = static_cast<uint8_t>(Div255((255 - sa[i]) * d[i] + sa[i] * s[i]));
            }
        }
        if (m_mode == qnimg::ModeRGBA) {
            uint8_t* da = dbase + 3 * plane + doff;
            for (int32_t i = 0; i < w; ++i)
                da[i] = static_cast<uint8_t>(sa[i] * da[i] / 255);
        }
    }
    return true;
}

// Builds the rotated or flipped picture in a new block and swaps it in.
bool CQNF_Image::RemapInto(uint16_t newWidth, uint16_t newHeight, int kind)
{
    ResetError();
    if (!HasPixels()) {
        SetError(qnerr::Empty);
        return false;
    }
    auto* block = new (std::nothrow) CQNF_Mem;
    if (!block) {
        SetError(qnerr::NoMemory);
        return false;
    }
    if (!block->alloc(m_pixels->GetSize())) {
        SetError(block->GetError() ? block->GetError() : qnerr::NoMemory);
        delete block;
        return false;
    }
    const size_t plane = PlaneSize();
    const size_t ow = m_width;
    const size_t oh = m_height;
    const auto* sbase = static_cast<const uint8_t*>(m_pixels->GetPtr());
    auto* dbase = static_cast<uint8_t*>(block->GetPtr());
    const size_t planes = std::min<size_t>(WorkPlanes(), m_pixels->GetSize() / plane);
    for (size_t p = 0; p < planes; ++p) {
        const uint8_t* s = sbase + p * plane;
        uint8_t* d = dbase + p * plane;
        for (size_t Y = 0; Y < newHeight; ++Y) {
            uint8_t* drow = d + Y * newWidth;
            switch (kind) {
            case kGeoRotate90:  // new (X, Y) = old (ow - 1 - Y, X)
                for (size_t X = 0; X < newWidth; ++X)
                    drow[X] = s[X * ow + (ow - 1 - Y)];
                break;
            case kGeoRotate270:  // new (X, Y) = old (Y, oh - 1 - X)
                for (size_t X = 0; X < newWidth; ++X)
                    drow[X] = s[(oh - 1 - X) * ow + Y];
                break;
            case kGeoRotate180: {
                const uint8_t* srow = s + (oh - 1 - Y) * ow;
                for (size_t X = 0; X < newWidth; ++X)
                    drow[X] = srow[ow - 1 - X];
                break;
            }
            default:  // vertical flip
                std::memcpy(drow, s + (oh - 1 - Y) * ow, ow);
                break;
            }
        }
    }
    delete m_pixels;
    m_pixels = block;
    m_width = newWidth;
    m_height = newHeight;
    return true;
}

bool CQNF_Image::Rotate90() { return RemapInto(m_height, m_width, kGeoRotate90); }
bool CQNF_Image::Rotate180() { return RemapInto(m_width, m_height, kGeoRotate180); }
bool CQNF_Image::Rotate270() { return RemapInto(m_height, m_width, kGeoRotate270); }
bool CQNF_Image::FlipVert() { return RemapInto(m_width, m_height, kGeoFlipVert); }

bool CQNF_Image::FlipHor()
{
    ResetError();
    if (!HasPixels()) {
        SetError(qnerr::Empty);
        return false;
    }
    const size_t plane = PlaneSize();
    auto* base = static_cast<uint8_t*>(m_pixels->GetPtr());
    for (unsigned p = 0; p < WorkPlanes(); ++p)
        for (size_t y = 0; y < m_height; ++y)
            std::reverse(base + p * plane + y * m_width, base + p * plane + (y + 1) * m_width);
    return true;
}
