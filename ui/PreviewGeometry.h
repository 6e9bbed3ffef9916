// Where the preview's view lies over its image: the zoom level (scale
// 2^(level - 4), level 4 is 1:1), the offset of the view's top-left in
// scaled-image pixels, the margins around a small image or past the edges
// of a large one, the offset limits, and what follows from them for the
// scroll bars, the navigator and the rulers. Pure arithmetic: the preview
// control keeps one and paints from it.
#pragma once

#include "core/Types.h"
#include "ui/CtrlRulerDraw.h"

#include <cstdint>

namespace qnui {

class PreviewGeometry {
public:
    static constexpr int kMinZoom = 0, kMaxZoom = 8, kOneToOne = 4;
    // Margin past each edge of an image larger than the view.
    static constexpr int kEdgeMargin = 50;

    void SetView(int width, int height);
    void SetImageSize(int width, int height);
    int ViewW() const { return m_viewW; }
    int ViewH() const { return m_viewH; }
    int ImageW() const { return m_imgW; }
    int ImageH() const { return m_imgH; }

    int GetZoom() const { return m_zoom; }
    int ScaledW() const { return ScaleToLevel(m_imgW, m_zoom); }
    int ScaledH() const { return ScaleToLevel(m_imgH, m_zoom); }
    // A length or coordinate of the 1:1 image at a level (arithmetic shifts).
    static int64_t ScaleToLevel(int64_t v, int level);

    // Margins and limits from the view, image and level; the offset is
    // pulled back inside the limits.
    void RecalcCoors();
    void SetOffset(int64_t x, int64_t y);
    qntPOS GetOffset() const { return {m_offX, m_offY}; }
    int MarginLeft() const { return m_marginL; }
    int MarginRight() const { return m_marginR; }
    int MarginTop() const { return m_marginT; }
    int MarginBottom() const { return m_marginB; }
    qntRECT_s Limits() const { return {m_minX, m_minY, m_maxX, m_maxY}; }

    // Changes the level (kept within 0..8) so that the image point under the
    // anchor (view coordinates; -1 = the view's centre) comes to the centre
    // of the view. False when the level stays and force is not set.
    bool SetZoom(int level, int anchorX, int anchorY, bool force);

    // Image coordinates of a view point: clipped (-1 before the image, 65535
    // beyond it) or as computed.
    qntPOS ImageCoords(qntPOS viewPoint) const;
    qntPOS ImageCoordsRaw(qntPOS viewPoint) const;

    // Scroll bars: total and visible lengths and the thumb position along
    // each axis, and the offset they ask for.
    struct ScrollInfo {
        int total, visible, position;
    };
    ScrollInfo HorizontalScroll() const;
    ScrollInfo VerticalScroll() const;
    void SetOffsetFromScroll(int horizontalPos, int verticalPos);

private:
    int m_viewW = 0, m_viewH = 0;
    int m_imgW = 0, m_imgH = 0;
    int m_zoom = kOneToOne;
    int32_t m_offX = 0, m_offY = 0;
    int m_marginL = 0, m_marginR = 0, m_marginT = 0, m_marginB = 0;
    int32_t m_minX = 0, m_minY = 0, m_maxX = 0, m_maxY = 0;
};

// The navigator: a thumbnail of the whole image with a frame around the
// part the view shows.
struct NavigatorLayout {
    bool valid = false;
    qntRECT_s frame{0, 0, 0, 0};      // left/top and right/bottom lines, navigator pixels
    qntRECT_s frameSize{0, 0, 0, 0};  // 0, 0, view width and height in navigator pixels
    qntRECT_s thumb{0, 0, 0, 0};      // where the whole image lies in the navigator
    double k = 0.0;                   // navigator pixels per scaled-image pixel
};
NavigatorLayout LayoutNavigator(const PreviewGeometry& g, int navW, int navH);
// Rewrites a planar RGBA navigator picture: black frame lines across the
// whole picture, clear inside the frame, a grey veil elsewhere.
void PaintNavigator(uint8_t* rgbaPlanes, int navW, int navH, const NavigatorLayout& nav);
// The offset that puts the frame's centre at p (navigator pixels).
qntPOS NavigatorOffset(const PreviewGeometry& g, const NavigatorLayout& nav, qntPOS p);

// What a ruler is told about the view; previewRect and rulerRect in window
// coordinates, the mouse at 65535 when away (no marker).
QNF_RulerData HorizontalRulerData(const PreviewGeometry& g, qntRECT_s previewRect, qntRECT_s rulerRect, int mouseX,
                                  uint8_t unit, double resolution);
QNF_RulerData VerticalRulerData(const PreviewGeometry& g, qntRECT_s previewRect, qntRECT_s rulerRect, int mouseY,
                                uint8_t unit, double resolution);

}  // namespace qnui
