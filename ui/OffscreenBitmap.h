// CQNF_OffscreenBitmap: the 32-bit buffer through which a window puts its
// composited canvas on the screen.
//
// Pixels are 32-bit words 0x00RRGGBB, rows of 4 x width bytes. Set copies
// part of an image into the buffer; Draw copies part of the buffer into the
// current port, a window that the caller makes current around the call
// (SetPort / GetPort), as a window does in its redraw.
//
// Error numbers: 1 an empty size, 128 the buffer could not be had.
#pragma once

#include "core/ErrorManager.h"
#include "core/Mem.h"
#include "core/Types.h"
#include "platform/Platform.h"

#include <cstdint>

class CQNF_Image;

namespace qnerr {
inline constexpr unsigned short OffscreenBuffer = 128;
}

class CQNF_OffscreenBitmap : public CQNF_FrameWork {
public:
    CQNF_OffscreenBitmap() = default;
    ~CQNF_OffscreenBitmap() override { clean(); }
    CQNF_OffscreenBitmap(const CQNF_OffscreenBitmap&) = delete;
    CQNF_OffscreenBitmap& operator=(const CQNF_OffscreenBitmap&) = delete;

    bool Create(unsigned short width, unsigned short height);
    // Copies the image from (x, y) into rect of the bitmap (qnNullRect: all
    // of it), clamped to both; the alpha plane is ignored. Returns 1.
    unsigned char Set(CQNF_Image* image, long x, long y, qntRECT_s rect);
    // Copies rect of the bitmap (qnNullRect: all of it, clamped otherwise)
    // to the current port at (x, y), moved as the clamping moved the
    // rectangle. Returns 1.
    unsigned char Draw(long x, long y, qntRECT_s rect);
    unsigned short GetWidth() const { return m_width; }
    unsigned short GetHeight() const { return m_height; }
    const uint32_t* GetHandle() const { return reinterpret_cast<const uint32_t*>(m_pixels); }
    uint32_t GetRowBytes() const { return m_rowBytes; }
    void clean();

    // The port Draw copies into: a window of the platform, 0 for none.
    static void SetPort(plat::WinId port) { s_port = port; }
    static plat::WinId GetPort() { return s_port; }

private:
    // The rectangle inside the bitmap, or false when nothing is left.
    bool i_Clamp(const qntRECT_s& rect, qntRECT_s& out) const;

    uint16_t m_width = 0;
    uint16_t m_height = 0;
    uint8_t* m_pixels = nullptr;
    uint32_t m_rowSlack = 0;
    uint32_t m_rowBytes = 0;
    CQNF_Mem m_world;
    static plat::WinId s_port;
};
