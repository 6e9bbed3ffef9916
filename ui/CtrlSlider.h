// Sliders: a thumb that moves along a path of points drawn into the skin.
// Each point carries a u32 value and the slider's value is the value of the
// point under the thumb. Flagged points pin values, the stretches between
// them are linear; a path whose ends meet is a ring, on which the wheel
// wraps. Reports qnmsg::ValueTracking while dragged and qnmsg::ValueChanged
// when a drag ends, on each wheel notch and on request.
#pragma once

#include "imaging/Layer.h"
#include "ui/Control.h"
#include "ui/CtrlMath.h"
#include "ui/CtrlSkin.h"

#include <cstdint>
#include <vector>

class CQNF_CtrlSlider : public CQNF_Control {
public:
    CQNF_CtrlSlider() { m_type = qnctl::Slider; }
    ~CQNF_CtrlSlider() override = default;

    void Enable(unsigned char enabled) override;
    unsigned char Init(void* window, unsigned long id, CQNF_String name, CQNF_Storage* storage) override;
    void Redraw() override;
    unsigned char OnTimer(unsigned short id) override;
    unsigned char OnMouseMove(short x, short y, unsigned char mods) override;
    unsigned char OnLMouseDown(short x, short y, unsigned char mods) override;
    unsigned char OnLMouseUp(short x, short y, unsigned char mods) override;
    unsigned char OnMouseWheel(short x, short y, unsigned char mods, short delta) override;
    unsigned char PtInControl(short x, short y) override { return m_enabled ? PtAboveControl(x, y) : 0; }
    unsigned char PtAboveControl(short x, short y) override { return qnctl::HotZoneHit(m_hotZone, x, y); }

    // Puts the thumb on the point of this value, or the nearest one.
    virtual void SetValue(unsigned long value, unsigned char notify);
    virtual unsigned long GetValue() { return m_value; }
    // value in the caller's range min..max, mapped onto the slider's values.
    virtual void SetValueD(unsigned long min, unsigned long max, unsigned long value, unsigned char notify);
    virtual unsigned long GetValueD(unsigned long min, unsigned long max);
    // Sets the ring flag; the previous one.
    virtual unsigned char SetCircularity(unsigned char circular);
    virtual unsigned char GetCircularity() { return m_circular; }

    void SetState(unsigned char state);
    // 0 for an index past the path, else 1.
    unsigned char SetPtPos(unsigned short index, unsigned char notify);
    void SetPosByXY(short x, short y);

    unsigned short GetPointIndex() const { return m_index; }
    unsigned long GetPointCount() const { return m_points.size(); }
    const std::vector<qnctl::SliderPoint>& GetPoints() const { return m_points; }
    CQNF_Layer* GetThumbLayer() { return &m_thumbLayer; }

private:
    void ShowDisabledAgain() override;

    std::vector<qnctl::SliderPoint> m_points;
    uint8_t m_circular = 0;
    qnctl::StateImages m_background;
    qnctl::StateImages m_thumb;
    qnctl::SkinImage m_hotZone;
    CQNF_Layer m_backgroundLayer;
    CQNF_Layer m_thumbLayer;
    uint8_t m_lastBackgroundState = qnctl::NoState;
    uint8_t m_lastThumbState = qnctl::NoState;
    uint8_t m_dragging = 0;
    int32_t m_hotX = 0;
    int32_t m_hotY = 0;
    uint16_t m_index = 0;
    uint32_t m_value = 0;
    uint32_t m_start = 0;
    uint32_t m_end = 0;
};
