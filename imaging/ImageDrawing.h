// Wide line segments and polylines as coverage into one 8-bit plane.
//
// The single line rasteriser of the system: knives into the knife mask, knife
// lines into a layer's alpha plane, knife shapes in the editors. The plane
// holds 0 for nothing and `value` for full coverage; colour comes from whoever
// owns the plane. Modes:
//   - anti-aliased (antiAlias != 0): distance-based coverage, optional round
//     caps (width >= 2.1), optional max-merge, optional fixed footprint;
//   - aliased: one bit per pixel (bitMode), one pixel wide, or n-pixel discs.
//
// The object owns nothing. Every write is cut to the plane whatever the clip
// rectangle says, and non-finite coordinates or widths draw nothing.
#pragma once

#include "core/ErrorManager.h"
#include "core/Types.h"

#include <cstdint>

class CQNF_Image;

class CQNF_ImageDrawing : public CQNF_FrameWork {
public:
    CQNF_ImageDrawing() = default;
    ~CQNF_ImageDrawing() override = default;

    // Set directly by callers before drawing.
    uint8_t antiAlias = 1;
    uint8_t value = 255;
    uint8_t bitMode = 0;
    // Bit mode only: bits are set by atomic OR, so that several threads,
    // each with its own drawing object, may draw into one plane at once
    // (the bits come out the same whatever order the lines are drawn in).
    uint8_t atomicBits = 0;
    // Byte modes, with max-merge: bytes are read and raised atomically, so
    // that several threads, each with its own drawing object, may draw into
    // one plane at once (a byte ends as the largest value any line gives
    // it, whatever order the lines are drawn in). Drawing without max-merge
    // on a shared plane is not order-free and is left to one thread.
    uint8_t atomicMax = 0;

    // A raw plane; stride in bytes per row (rows of ceil(width / 8) bytes or
    // more in bit mode).
    bool SetDestination(unsigned char* plane, unsigned long stride, long width, long height);
    // The alpha plane of an RGBA image (mode 2, plane 3) or a mode-4 image
    // (plane 4). Any other image: error 1, the old destination is kept.
    bool SetDestination(CQNF_Image* image);
    // qnNullRect: the whole plane.
    void SetClipRect(qntRECT_s clip) { m_clip = clip; }
    qntRECT_s GetClipRect() const { return m_clip; }
    // Bit mode only: plots only rows [top, bottom), each line still walked
    // as over the whole clip box, so that bands of rows drawn apart (on
    // several threads, each with its own drawing object) give together the
    // bits of one drawing. top >= bottom: every row.
    void SetBitRowBand(int32_t top, int32_t bottom)
    {
        m_bandTop = top;
        m_bandBottom = bottom;
    }

    bool DrawHQLine(double x1, double y1, double x2, double y2, double width, unsigned char roundCaps,
                    unsigned char maxMerge, unsigned char fixedFootprint);
    bool DrawHQLine(qntFPOS p1, qntFPOS p2, double width, unsigned char roundCaps, unsigned char maxMerge,
                    unsigned char fixedFootprint);
    // Draws from point to point, skipping points whose squared distance from
    // the last one drawn to does not exceed minSqDist; the last point is
    // always reached. False for fewer than 2 points.
    bool DrawHQPolyLine(const qntFPOS* points, unsigned long count, double width, unsigned char roundCaps,
                        unsigned char maxMerge, unsigned char fixedFootprint, double minSqDist);

    // The aliased dispatcher and its three rasterisers.
    bool DrawHQLineNAA(double x1, double y1, double x2, double y2, double width, unsigned char roundCaps,
                       unsigned char maxMerge);
    bool DrawHQLineNAA1PixBit(double x1, double y1, double x2, double y2);
    bool DrawHQLineNAA1Pix(double x1, double y1, double x2, double y2);
    bool DrawHQLineNAAnPix(double x1, double y1, double x2, double y2, double width);

protected:
    // Stamps a disc of diameter n centred on (x, y), cut to the clip box.
    void internal_BlendPixelN(int x, int y, int n, int clipLeft, int clipTop, int clipRight, int clipBottom);

private:
    // The clip rectangle cut to the plane (counted in bits for a bit plane);
    // false when nothing is left.
    bool ClipBox(qntRECT_s& box, bool bits) const;
    // Walks the aliased one-pixel line; plot(x, y) for each point in the box.
    // The bit-mode polyline: the plane's clip box and band are taken once for
    // all the segments rather than once per segment.
    void DrawBitPolyLine(const qntFPOS* points, unsigned long count, double minSqDist);

    template <class Plot>
    void WalkNAA(double x1, double y1, double x2, double y2, const qntRECT_s& box, Plot plot);

    unsigned char* m_plane = nullptr;
    uint32_t m_stride = 0;
    int32_t m_width = 0;
    int32_t m_height = 0;
    qntRECT_s m_clip = qnNullRect;
    int32_t m_bandTop = 0;
    int32_t m_bandBottom = 0;
};
