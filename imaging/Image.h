// Planar 8-bit image: the one raster type of the system.
//
// The colour components are stored as separate planes, one after another in
// one owned memory block: plane p starts at byte p * width * height and row y
// of a plane at y * width, so the row stride of every plane is the width.
// Plane 0 is red, 1 green, 2 blue, 3 alpha (mode 2); alpha 255 is opaque.
//
// Modes: 1 = RGB (3 planes), 2 = RGBA (4 planes). Modes 3..6 are known by
// their plane counts only (see PlaneCountOfMode); Create makes 1 and 2.
//
// Operations return true on success and false on failure, leaving the reason
// in the error number: 1 bad argument, 2 no pixels, 17 out of memory (or the
// pixel block's own number when its allocation fails).
//
// Drawing clips every pixel to the clip rectangle intersected with the image,
// so no clip can make a write land outside the planes.
#pragma once

#include "core/ErrorManager.h"
#include "core/Types.h"

#include <cstddef>
#include <cstdint>

class CQNF_Mem;

namespace qnimg {
inline constexpr uint8_t ModeNone = 0;
inline constexpr uint8_t ModeRGB = 1;
inline constexpr uint8_t ModeRGBA = 2;

// Plane count of a mode (0 for an unknown mode), and whether its last plane
// is an alpha plane.
uint8_t PlaneCountOfMode(uint8_t mode);
bool ModeHasAlpha(uint8_t mode);

// Intersects r with {0, 0, width, height}; qnNullRect stands for all of it.
// False, with r set to qnNullRect, when nothing is left.
bool ClipRect(qntRECT_s& r, int32_t width, int32_t height);
}  // namespace qnimg

class CQNF_Image : public CQNF_FrameWork {
public:
    CQNF_Image();
    ~CQNF_Image() override;
    CQNF_Image(const CQNF_Image&) = delete;
    CQNF_Image& operator=(const CQNF_Image&) = delete;

    // Lifetime and shape.
    void Clean();
    // Fresh pixels of width x height in mode 1 or 2, not cleared. A zero size
    // fails without an error number.
    bool Create(uint16_t width, uint16_t height, uint8_t mode);
    // A copy of source in mode (0 = the source's mode); RGBA to RGB drops the
    // alpha, RGB to RGBA gets an opaque one.
    bool Create(CQNF_Image* source, uint8_t mode = 0);
    uint8_t GetImageMode() const { return m_mode; }
    uint16_t GetImageWidth() const { return m_width; }
    uint16_t GetImageHeight() const { return m_height; }
    CQNF_Mem* GetMemObj() const { return m_pixels; }
    bool GetImageSize(uint16_t& width, uint16_t& height) const;
    bool ChangeImageMode(uint8_t mode);
    // True when the image has pixels.
    bool HasPixels() const;
    // Bytes of one plane (width x height).
    size_t PlaneSize() const { return static_cast<size_t>(m_width) * m_height; }
    // Start of plane p, or null when there is no such plane.
    uint8_t* GetPlane(unsigned p) const;

    // Pixel access; packed colours carry alpha 255 outside mode 2.
    qntRGBA8 GetPixel(uint16_t x, uint16_t y);
    qntRGBA8 GetPixel(qntPOS p);
    // Writes the pixel and returns its previous value.
    qntRGBA8 SetPixel(uint16_t x, uint16_t y, qntRGBA8 colour);
    qntRGBA8 SetPixel(qntPOS p, qntRGBA8 colour);
    uint8_t* GetPixelPtr(uint16_t x, uint16_t y);
    // Plane pointers (count from the mode) and the row stride (the width).
    bool GetImageChannels(uint8_t** planes, uint32_t& stride);
    bool GetImageChannels(uint8_t** planes, unsigned long& stride);

    // Fills the planes whose bit is set in planeMask (bit 0 red .. bit 3
    // alpha) inside rect (qnNullRect = the whole image) with the colour.
    bool Set(qntRGBA8 colour, unsigned char planeMask, qntRECT_s rect = qnNullRect);
    // Checkerboard of cellWidth x cellHeight cells starting with a colour-B
    // cell at the rectangle's top-left corner.
    bool Set(unsigned short cellWidth, unsigned short cellHeight, qntRGBA8 colourA, qntRGBA8 colourB,
             qntRECT_s rect);
    // Copies source, from its point (x, y), into rect of this image.
    bool Set(CQNF_Image* source, long x, long y, qntRECT_s rect);
    // Repeats sourceRect of source over destRect, anchored at destRect's
    // top-left; planes the source lacks become 255.
    bool Tile(CQNF_Image* source, qntRECT_s sourceRect, qntRECT_s destRect);
    // Alpha blend of an RGBA source with opacity in percent (100 and above:
    // the source alpha alone). A source without alpha is copied.
    bool Blend(CQNF_Image* source, long x, long y, qntRECT_s rect, uint8_t opacity);

    // Geometry; on failure the image is unchanged.
    bool Rotate90();   // a quarter turn counter-clockwise
    bool Rotate180();
    bool Rotate270();  // a quarter turn clockwise
    bool FlipVert();
    bool FlipHor();

    // Drawing. A colour's alpha weights it over the pixel; both end points of a
    // line are drawn.
    bool DrawLine(int16_t x1, int16_t y1, int16_t x2, int16_t y2, qntRGBA8 colour, qntRECT_s clip = qnNullRect);
    bool DrawLine(qntPOS from, qntPOS to, qntRGBA8 colour, qntRECT_s clip = qnNullRect);
    bool DrawRect(qntPOS a, qntPOS b, qntRGBA8 colour, qntRECT_s clip = qnNullRect);
    bool DrawRect(qntRECT_s r, qntRGBA8 colour, qntRECT_s clip = qnNullRect);
    bool DrawCircle(int16_t cx, int16_t cy, int16_t radius, qntRGBA8 colour, qntRECT_s clip = qnNullRect);
    bool DrawCircle(qntPOS centre, int16_t radius, qntRGBA8 colour, qntRECT_s clip = qnNullRect);
    // Stores alpha into the alpha plane along the line (mode 2 only).
    bool DrawAlphaLine(int16_t x1, int16_t y1, int16_t x2, int16_t y2, uint8_t alpha, qntRECT_s clip = qnNullRect);
    // Anti-aliased line three pixels across. With accumulateAlpha the alpha
    // plane takes the union of coverages, else the larger of the two.
    bool DrawAALine(int16_t x1, int16_t y1, int16_t x2, int16_t y2, qntRGBA8 colour, qntRECT_s clip,
                    uint8_t accumulateAlpha);
    bool DrawAALine(qntPOS from, qntPOS to, qntRGBA8 colour, qntRECT_s clip, uint8_t accumulateAlpha);

protected:
    // The colour of one pixel blended by the colour's alpha.
    void internal_BlendPixel(int x, int y, qntRGBA8 colour);
    void internal_BlendAlphaPixel(int x, int y, uint8_t alpha);
    void internal_BlendAAPixel(int x, int y, double distance, qntRGBA8 colour, uint8_t accumulateAlpha);

private:
    // Planes the ordinary operations touch: 4 in mode 2, 3 otherwise.
    unsigned WorkPlanes() const { return m_mode == qnimg::ModeRGBA ? 4u : 3u; }
    bool ClipToImage(qntRECT_s& r) const;
    bool DrawClip(qntRECT_s clip, qntRECT_s& out) const;
    bool RemapInto(uint16_t newWidth, uint16_t newHeight, int kind);
    void WalkLine(int x1, int y1, int x2, int y2, const qntRECT_s& clip, qntRGBA8 colour, bool alphaOnly,
                  uint8_t alpha);

    CQNF_Mem* m_pixels = nullptr;
    uint8_t m_mode = 0;
    uint16_t m_width = 0;
    uint16_t m_height = 0;
};
