// CQNF_CtrlPreview (type 11): shows an RGBA image in a rectangle of a window
// at one of nine zoom levels (1:16 .. 16:1), painted straight into the
// window's bottom layer so the owner's higher layers composite over it.
// Scrolls with two scroll bars, by Space-drag panning and through a
// navigator; keeps two rulers in step; draws transparency over a
// checkerboard, can wash the image out and overlay a mask channel.
//
// Not built from the resource storage: the owner creates it, hands it to
// AddControl_External and binds it with SetData. Messages to the owner:
// 320 zoom changed (u8 level), 321 mouse over the image (qntPOS, -1 before
// and 65535 beyond the image), 322 / 323 around a full / quick redraw (the
// offset as qntPOS).
//
// Redraws during drags are quick: only the view is painted, unaveraged and
// without wash-out, and copied straight to the screen; the full picture (and
// the averaged one below 1:1, 200 ms after the view comes to rest) follows.
#pragma once

#include "ui/Control.h"
#include "ui/PreviewGeometry.h"
#include "ui/PreviewPaint.h"

#include <cstdint>

class CQNF_CtrlRuler;
class CQNF_CtrlScrollBar;
class CQNF_CtrlStaticImage;
class CQNF_Image;
class CQNF_Layer;

namespace qnmsg {
inline constexpr unsigned short PreviewZoom = 320;
inline constexpr unsigned short PreviewMouse = 321;
inline constexpr unsigned short PreviewFullRedraw = 322;
inline constexpr unsigned short PreviewQuickRedraw = 323;
}  // namespace qnmsg

class CQNF_CtrlPreview : public CQNF_Control {
public:
    static constexpr unsigned short kPollTimer = 1, kRefineTimer = 2;
    static constexpr unsigned long kPollMs = 200, kRefineMs = 200;

    CQNF_CtrlPreview() { m_type = qnctl::Preview; }
    ~CQNF_CtrlPreview() override = default;

    qntRECT_s GetRenderRect() override { return m_rect; }
    unsigned char OnTimer(unsigned short id) override;
    unsigned char OnMouseMove(short x, short y, unsigned char mods) override;
    unsigned char OnLMouseDown(short x, short y, unsigned char mods) override;
    unsigned char OnLMouseUp(short x, short y, unsigned char mods) override;
    unsigned char OnMouseWheel(short x, short y, unsigned char mods, short delta) override;
    unsigned char PtInControl(short x, short y) override { return PtAboveControl(x, y); }
    unsigned char PtAboveControl(short x, short y) override;
    unsigned char OnCtrlMessage(unsigned short msg, unsigned long id, char* name, unsigned char type,
                                void* data) override;

    // Binds the view; any control may be null. An image that is not RGBA is
    // refused and nothing further is bound. Does not draw.
    void SetData(qntRECT_s rect, CQNF_Image* image, CQNF_CtrlScrollBar* vertical, CQNF_CtrlScrollBar* horizontal,
                 CQNF_CtrlRuler* horizontalRuler, CQNF_CtrlRuler* verticalRuler, CQNF_CtrlStaticImage* navigator);
    // level is kept within 0..8; (x, y) in view coordinates, -1 = the centre.
    void SetZoom(unsigned char level, short x, short y, unsigned char full, unsigned char force);
    void ZoomIn(short x, short y);
    void ZoomOut(short x, short y);
    unsigned char GetZoom() const { return uint8_t(m_geom.GetZoom()); }
    void SetOffset(long x, long y, unsigned char updateScrollBars);
    void SetOffset(qntPOS p, unsigned char updateScrollBars) { SetOffset(p.x, p.y, updateScrollBars); }
    qntPOS GetOffset() const { return m_geom.GetOffset(); }
    void DoRedraw(unsigned char full, unsigned char quality);
    qntPOS GetImageCoorsByPreviewCoors(qntPOS p) const { return m_geom.ImageCoords(p); }
    qntPOS GetImageCoorsByPreviewCoorsNoOverflowCheck(qntPOS p) const { return m_geom.ImageCoordsRaw(p); }
    unsigned char IsInPanningMode() const { return m_panning; }
    // Whether the view shows its finished picture: the last redraw was a
    // full one and no averaged one is still to follow.
    unsigned char IsFinished() const { return m_finished; }
    void SetMaskChannel(unsigned char* mask, unsigned long rowLength);

    void RecalcCoors() { m_geom.RecalcCoors(); }
    void UpdateScrollbars(unsigned char redraw);
    void UpdateRulers();
    void UpdateNavigator();
    void NavigateByNavigator(qntPOS p);

    const qnui::PreviewGeometry& GetGeometry() const { return m_geom; }

    // Set by the owner; they take effect at the next redraw.
    double m_verticalResolution = 0.0;
    double m_horizontalResolution = 0.0;
    uint8_t m_rulerUnit = 1;
    uint8_t m_washOut = 0;
    qntRGBA8 m_inner1{255, 255, 255, 255}, m_inner2{192, 192, 192, 255};
    qntRGBA8 m_outer1{204, 204, 204, 255}, m_outer2{200, 200, 200, 255};
    qntRGBA8 m_maskColour{255, 0, 0, 255};

private:
    void Send(unsigned short msg, qntPOS p);
    qntPOS ViewPoint(short x, short y) const { return {x - m_rect.left, y - m_rect.top}; }
    void ZoomSteps(int steps, qntPOS anchor);

    qntRECT_s m_rect{0, 0, 0, 0};
    CQNF_Layer* m_canvas = nullptr;  // the window's bottom layer
    CQNF_Image* m_image = nullptr;
    CQNF_CtrlScrollBar* m_vertical = nullptr;
    CQNF_CtrlScrollBar* m_horizontal = nullptr;
    CQNF_CtrlRuler* m_horizontalRuler = nullptr;
    CQNF_CtrlRuler* m_verticalRuler = nullptr;
    CQNF_CtrlStaticImage* m_navigator = nullptr;
    qntRECT_s m_navRect{0, 0, 0, 0};
    unsigned char* m_navPixels = nullptr;
    uint8_t m_navigating = 0;
    qnui::NavigatorLayout m_nav;
    qnui::PreviewGeometry m_geom;
    uint8_t m_panning = 0;
    qntPOS m_panMouse{0, 0};
    qntPOS m_panOffset{0, 0};
    uint8_t m_redrawn = 1;
    uint8_t m_acceptScroll = 1;
    uint8_t m_overlaysStale = 1;
    int32_t m_mouseX = 65535, m_mouseY = 65535;
    uint8_t m_quality = 0;
    uint8_t m_finished = 0;
    const unsigned char* m_mask = nullptr;
    uint32_t m_maskRowLength = 0;
};
