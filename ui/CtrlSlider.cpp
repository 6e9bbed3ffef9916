#include "ui/CtrlSlider.h"

#include "core/Storage.h"
#include "ui/Window.h"

#include <cstdio>

namespace {

// Renders and blits a rectangle of the window, unless it is null.
void Refresh(CQNF_Window* window, const qntRECT_s& r)
{
    if (window && !qnIsNullRect(r)) {
        window->RenderRect(r);
        window->UpdateRect(r);
    }
}

}  // namespace

unsigned char CQNF_CtrlSlider::Init(void* window, unsigned long id, CQNF_String name, CQNF_Storage* storage)
{
    if (!CQNF_Control::Init(window, id, name, storage)) {
        return 0;
    }
    if (!m_storage) {
        SetError(qnerr::Empty);
        return 0;
    }
    // A missing count leaves 0, which the path builder refuses.
    uint16_t count = 0;
    m_storage->GetRec(ResourceKey("Data_NumPoints"), count);
    CQNF_Mem coors;
    if (!m_storage->GetRec(ResourceKey("Data_Coors"), coors)) {
        SetError(m_storage->GetError() ? m_storage->GetError() : qnerr::ControlSkin);
        return 0;
    }
    if (!m_storage->GetRec(ResourceKey("Data_ValueStart"), m_start) ||
        !m_storage->GetRec(ResourceKey("Data_ValueEnd"), m_end)) {
        SetError(qnerr::ControlSkin);
        return 0;
    }
    auto flagged = [this](uint32_t k, uint32_t& value) {
        char record[32];
        std::snprintf(record, sizeof record, "Data_Value_%u", k);
        return m_storage->GetRec(ResourceKey(record), value);
    };
    const unsigned short err = qnctl::BuildSliderPath(coors.GetPtr(), coors.GetSize(), count, m_start, m_end,
                                                      flagged, m_points);
    if (err) {
        SetError(err);
        return 0;
    }
    m_circular = qnctl::IsClosedPath(m_points) ? 1 : 0;

    m_background.Load(*this, "Background");
    m_thumb.Load(*this, "Thumb");
    uint16_t hotX = 0;
    uint16_t hotY = 0;
    if (!m_hotZone.Load(*this, "Data_HotZone") || !m_storage->GetRec(ResourceKey("HotSpot_X"), hotX) ||
        !m_storage->GetRec(ResourceKey("HotSpot_Y"), hotY)) {
        SetError(qnerr::ControlSkin);
        return 0;
    }
    const bool hasThumb = !qnIsNullRect(m_thumb.unionRect);
    m_hotX = hotX - (hasThumb ? m_thumb.unionRect.left : 0);
    m_hotY = hotY - (hasThumb ? m_thumb.unionRect.top : 0);

    const bool hasBackground = !qnIsNullRect(m_background.unionRect);
    if ((hasBackground && !m_backgroundLayer.Create(m_background.unionRect, qnimg::ModeRGBA)) ||
        (hasThumb && !m_thumbLayer.Create(m_thumb.unionRect, qnimg::ModeRGBA))) {
        SetError(qnerr::NoMemory);
        return 0;
    }
    if (hasBackground) {
        m_window->LSAddLayer(&m_backgroundLayer);
    }
    if (hasThumb) {
        m_window->LSAddLayer(&m_thumbLayer);
    }
    m_ready = 1;
    SetState(qnctl::StateNormal);
    SetPtPos(0, 1);
    return 1;
}

void CQNF_CtrlSlider::SetState(unsigned char state)
{
    if (!m_ready) {
        return;
    }
    qntRECT_s dirty = qnNullRect;
    auto apply = [&](const qnctl::StateImages& set, CQNF_Layer& layer, uint8_t& last) {
        if (!layer.HasPixels()) {
            return;
        }
        bool dim = false;
        const qnctl::SkinImage* image = set.Choose(state, dim);
        dim = dim || (state == qnctl::StateDisabled && !ShowsDisabledPicture());
        layer.SetOpacity(dim ? m_disabledOpacity : 255);
        if (state == last || set.present == 0) {
            return;
        }
        if (image) {
            layer.SetVisible(1);
            qnctl::ShowImage(*this, layer, image, set.unionRect);
        } else {
            layer.SetVisible(0);
        }
        last = state;
        dirty = qnctl::UnionRect(dirty, layer.GetRect());
    };
    apply(m_background, m_backgroundLayer, m_lastBackgroundState);
    apply(m_thumb, m_thumbLayer, m_lastThumbState);
    Refresh(m_window, dirty);
}

unsigned char CQNF_CtrlSlider::SetPtPos(unsigned short index, unsigned char notify)
{
    if (index >= m_points.size()) {
        return 0;
    }
    m_index = index;
    const qnctl::SliderPoint& p = m_points[index];
    if (m_thumbLayer.HasPixels()) {
        const qntRECT_s before = m_thumbLayer.GetRect();
        m_thumbLayer.SetPos(short(p.x - m_hotX), short(p.y - m_hotY));
        const qntRECT_s after = m_thumbLayer.GetRect();
        if (m_window) {
            m_window->RenderRect(before);
            m_window->RenderRect(after);
            m_window->UpdateRect(before);
            m_window->UpdateRect(after);
        }
    }
    m_value = p.value;
    if (notify) {
        uint32_t value = m_value;
        SendMessage(m_dragging ? qnmsg::ValueTracking : qnmsg::ValueChanged, &value);
    }
    return 1;
}

void CQNF_CtrlSlider::SetPosByXY(short x, short y)
{
    const int32_t nearest = qnctl::PointNearest(m_points, x, y);
    if (nearest >= 0) {
        SetPtPos(uint16_t(nearest), 1);
    }
}

unsigned char CQNF_CtrlSlider::OnLMouseDown(short x, short y, unsigned char)
{
    m_dragging = 1;
    SetState(qnctl::StatePressed);
    StopHoverPoll();
    SetPosByXY(x, y);
    return 1;
}

unsigned char CQNF_CtrlSlider::OnMouseMove(short x, short y, unsigned char)
{
    if (m_dragging) {
        SetState(qnctl::StatePressed);
        SetPosByXY(x, y);
    } else if (PtInControl(x, y)) {
        SetState(qnctl::StateHighlighted);
        StartHoverPoll();
    } else {
        StopHoverPoll();
        SetState(qnctl::StateNormal);
    }
    return 1;
}

unsigned char CQNF_CtrlSlider::OnLMouseUp(short x, short y, unsigned char mods)
{
    if (m_dragging) {
        m_dragging = 0;
        SetPosByXY(x, y);
    }
    return OnMouseMove(x, y, mods);
}

unsigned char CQNF_CtrlSlider::OnTimer(unsigned short id)
{
    if (id == qnctl::HoverTimer && !PointerStillOver()) {
        StopHoverPoll();
        SetState(qnctl::StateNormal);
    }
    return 1;
}

unsigned char CQNF_CtrlSlider::OnMouseWheel(short, short, unsigned char mods, short delta)
{
    int32_t step = int32_t(m_wheelSpeed) * delta * ((mods & 2) ? 10 : 1);
    if (m_wheelInvert) {
        step = -step;
    }
    const int32_t index = qnctl::WheelIndex(m_index, uint32_t(m_points.size()), step, m_circular != 0);
    if (index >= 0) {
        SetPtPos(uint16_t(index), 1);
    }
    return 1;
}

void CQNF_CtrlSlider::ShowDisabledAgain()
{
    m_lastBackgroundState = m_lastThumbState = qnctl::NoState;
    SetState(qnctl::StateDisabled);
}

void CQNF_CtrlSlider::Enable(unsigned char enabled)
{
    CQNF_Control::Enable(enabled);
    if (enabled) {
        const qntPOS p = GetMousePos();
        OnMouseMove(short(p.x), short(p.y), 0);
    } else {
        StopHoverPoll();
        SetState(qnctl::StateDisabled);
    }
}

void CQNF_CtrlSlider::Redraw()
{
    if (!m_ready) {
        return;
    }
    qntRECT_s r = qnNullRect;
    if (m_background.present && m_backgroundLayer.HasPixels()) {
        r = m_backgroundLayer.GetRect();
    }
    if (m_thumb.present && m_thumbLayer.HasPixels()) {
        r = qnctl::UnionRect(r, m_thumbLayer.GetRect());
    }
    Refresh(m_window, r);
}

void CQNF_CtrlSlider::SetValue(unsigned long value, unsigned char notify)
{
    const int32_t index = qnctl::PointOfValue(m_points, uint32_t(value));
    if (index >= 0) {
        SetPtPos(uint16_t(index), notify);
    }
}

void CQNF_CtrlSlider::SetValueD(unsigned long min, unsigned long max, unsigned long value, unsigned char notify)
{
    SetValue(qnctl::MapToSlider(uint32_t(min), uint32_t(max), uint32_t(value), m_start, m_end), notify);
}

unsigned long CQNF_CtrlSlider::GetValueD(unsigned long min, unsigned long max)
{
    return qnctl::MapFromSlider(uint32_t(min), uint32_t(max), m_value, m_start, m_end);
}

unsigned char CQNF_CtrlSlider::SetCircularity(unsigned char circular)
{
    const unsigned char previous = m_circular;
    m_circular = circular;
    return previous;
}
