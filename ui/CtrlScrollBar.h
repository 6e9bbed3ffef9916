// Scroll bars: a window onto a list of items (a total, the number visible at
// once and the first visible one). The thumb is stretched to the visible
// share of the track from a head, a repeated tile and a tail, marked in the
// skin's "Thumb_Data" image (red 255 head, blue 255 tile, green 255 tail, by
// the first pixel of each row of a vertical bar or column of a horizontal
// one). A press on the track pages toward it, repeating after 500 ms every
// 50 ms; two buttons can serve as arrows. Reports qnmsg::ValueChanged with
// the first item on every repositioning and qnmsg::ValueTracking while the
// thumb is dragged and the first item changes.
#pragma once

#include "imaging/Layer.h"
#include "ui/Control.h"
#include "ui/CtrlMath.h"
#include "ui/CtrlSkin.h"

#include <cstdint>

class CQNF_CtrlScrollBar : public CQNF_Control {
public:
    static constexpr unsigned short RepeatDelayTimer = 2, RepeatTimer = 3;

    CQNF_CtrlScrollBar() { m_type = qnctl::ScrollBar; }
    ~CQNF_CtrlScrollBar() override = default;

    void Enable(unsigned char enabled) override;
    unsigned char Init(void* window, unsigned long id, CQNF_String name, CQNF_Storage* storage) override;
    void Redraw() override;
    unsigned char OnTimer(unsigned short id) override;
    unsigned char OnMouseMove(short x, short y, unsigned char mods) override;
    unsigned char OnLMouseDown(short x, short y, unsigned char mods) override;
    unsigned char OnLMouseUp(short x, short y, unsigned char mods) override;
    unsigned char OnMouseWheel(short x, short y, unsigned char mods, short delta) override;
    unsigned char PtInControl(short x, short y) override { return m_enabled ? PtAboveControl(x, y) : 0; }
    unsigned char PtAboveControl(short x, short y) override;
    // Clicks of the bound arrow buttons.
    unsigned char OnCtrlMessage(unsigned short msg, unsigned long id, char* name, unsigned char type,
                                void* data) override;

    // total becomes at least visible; first stays within range.
    void SetInfo(unsigned long total, unsigned long visible);
    void GetInfo(unsigned long& total, unsigned long& visible) const;
    void SetPosition(unsigned long first);
    unsigned long GetPosition() const { return m_first; }
    void StepLess();
    void StepMore();
    void PageLess();
    void PageMore();
    // Binds two button controls (by id) as the arrows: they forward their
    // clicks here and repeat while held.
    void SetButtons(unsigned long lessId, unsigned long moreId);
    void SetState(unsigned char state, unsigned char noRedraw);
    // Places the thumb for the first item, redraws and reports it.
    void OffsetByItemFirst();
    void RecalcItemFirstByThumbPos();
    void PageScrollXY(short x, short y);

    unsigned char IsVertical() const { return m_vertical; }
    qntRECT_s GetThumbRect() const { return m_thumbRect; }
    qntRECT_s GetTrackRect() const { return m_track; }
    int32_t GetThumbLength() const { return m_thumbLength; }

private:
    void ShowDisabledAgain() override;
    void DrawThumb(const qnctl::SkinImage& image);
    // Along the axis: the track's start and length, and the thumb layer's start.
    int32_t TrackStart() const { return m_vertical ? m_track.top : m_track.left; }
    int32_t TrackLength() const { return m_vertical ? m_track.bottom - m_track.top : m_track.right - m_track.left; }
    int32_t ThumbStart();
    void MoveThumb(int32_t start);

    qnctl::StateImages m_background;
    qnctl::StateImages m_thumb;
    qnctl::SkinImage m_thumbData;
    CQNF_Layer m_backgroundLayer;
    CQNF_Layer m_thumbLayer;
    qntRECT_s m_thumbUnion = qnNullRect;
    qntRECT_s m_track{0, 0, 0, 0};
    uint8_t m_lastBackgroundState = qnctl::NoState;
    uint8_t m_lastThumbState = qnctl::NoState;
    uint8_t m_dragging = 0;
    int32_t m_grabX = 0;
    int32_t m_grabY = 0;
    uint8_t m_vertical = 0;
    int32_t m_head = 0;
    int32_t m_tile = 0;
    int32_t m_tail = 0;
    int32_t m_thumbLength = 0;
    qntRECT_s m_thumbRect{0, 0, 0, 0};
    uint32_t m_total = 100;
    uint32_t m_visible = 10;
    uint32_t m_first = 0;
    uint32_t m_drawnTotal = 0;
    uint32_t m_drawnVisible = 0;
    uint32_t m_lessId = 0;
    uint32_t m_moreId = 0;
    CQNF_Control* m_less = nullptr;
    CQNF_Control* m_more = nullptr;
};
