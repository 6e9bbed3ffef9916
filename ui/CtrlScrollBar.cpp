#include "ui/CtrlScrollBar.h"

#include "core/Storage.h"
#include "ui/CtrlButton.h"
#include "ui/Window.h"

#include <algorithm>
#include <cstring>

using qnctl::SkinImage;

unsigned char CQNF_CtrlScrollBar::Init(void* window, unsigned long id, CQNF_String name, CQNF_Storage* storage)
{
    if (!CQNF_Control::Init(window, id, name, storage)) {
        return 0;
    }
    if (!m_storage) {
        SetError(qnerr::Empty);
        return 0;
    }
    // Without the record the bar is horizontal.
    m_storage->GetRec(ResourceKey("Is Vertical"), m_vertical);
    m_vertical = m_vertical ? 1 : 0;
    if (m_vertical) {
        m_wheelInvert = 1;
    }
    m_background.Load(*this, "Background");
    m_thumb.Load(*this, "Thumb");
    uint16_t left = 0, top = 0, right = 0, bottom = 0;
    if (!m_thumbData.Load(*this, "Thumb_Data") || !m_storage->GetRec(ResourceKey("Rect Left"), left) ||
        !m_storage->GetRec(ResourceKey("Rect Top"), top) || !m_storage->GetRec(ResourceKey("Rect Right"), right) ||
        !m_storage->GetRec(ResourceKey("Rect Bottom"), bottom)) {
        SetError(qnerr::ControlSkin);
        return 0;
    }
    m_track = {left, top, std::max(left, right), std::max(top, bottom)};

    m_thumbUnion = m_thumb.unionRect;
    if (!qnIsNullRect(m_thumbUnion)) {
        // The thumb layer spans the whole track along the axis; the thumb
        // stands at its start and the layer moves.
        if (m_vertical) {
            m_thumbUnion.top = m_track.top;
            m_thumbUnion.bottom = m_track.bottom;
        } else {
            m_thumbUnion.left = m_track.left;
            m_thumbUnion.right = m_track.right;
        }
        if (m_thumbUnion.left >= m_thumbUnion.right || m_thumbUnion.top >= m_thumbUnion.bottom) {
            m_thumbUnion = qnNullRect;
        }
    }
    if ((!qnIsNullRect(m_background.unionRect) &&
         !m_backgroundLayer.Create(m_background.unionRect, qnimg::ModeRGBA)) ||
        (!qnIsNullRect(m_thumbUnion) && !m_thumbLayer.Create(m_thumbUnion, qnimg::ModeRGBA))) {
        SetError(qnerr::NoMemory);
        return 0;
    }

    // Segment lengths from the first pixel of each row (vertical) or column.
    const int32_t w = m_thumbData.Width();
    const int32_t h = m_thumbData.Height();
    const size_t plane = size_t(w) * size_t(h);
    const int32_t n = m_vertical ? h : w;
    for (int32_t i = 0; i < n; ++i) {
        const size_t at = m_vertical ? size_t(i) * size_t(w) : size_t(i);
        m_head += m_thumbData.pixels[at] == 255;
        m_tail += m_thumbData.pixels[plane + at] == 255;
        m_tile += m_thumbData.pixels[2 * plane + at] == 255;
    }

    if (m_backgroundLayer.HasPixels()) {
        m_window->LSAddLayer(&m_backgroundLayer);
    }
    if (m_thumbLayer.HasPixels()) {
        m_window->LSAddLayer(&m_thumbLayer);
    }
    m_ready = 1;
    SetState(qnctl::StateNormal, 0);
    MoveThumb(TrackStart() + qnctl::ThumbOffset(TrackLength(), m_thumbLength, m_total, m_visible, m_first));
    return 1;
}

int32_t CQNF_CtrlScrollBar::ThumbStart()
{
    const qntRECT_s r = m_thumbLayer.HasPixels() ? m_thumbLayer.GetRect() : m_thumbRect;
    return m_vertical ? r.top : r.left;
}

void CQNF_CtrlScrollBar::MoveThumb(int32_t start)
{
    if (m_thumbLayer.HasPixels()) {
        const qntRECT_s r = m_thumbLayer.GetRect();
        m_thumbLayer.SetPos(short(m_vertical ? r.left : start), short(m_vertical ? start : r.top));
    }
    const qntRECT_s across = qnIsNullRect(m_thumbUnion) ? m_track : m_thumbUnion;
    if (m_vertical) {
        m_thumbRect = {across.left, start, across.right, start + m_thumbLength};
    } else {
        m_thumbRect = {start, across.top, start + m_thumbLength, across.bottom};
    }
}

void CQNF_CtrlScrollBar::DrawThumb(const SkinImage& image)
{
    m_thumbLength = qnctl::ThumbLength({TrackLength(), m_head, m_tail}, m_total, m_visible);
    if (!m_thumbLayer.HasPixels()) {
        return;
    }
    const int32_t lw = m_thumbLayer.GetImageWidth();
    const int32_t lh = m_thumbLayer.GetImageHeight();
    for (unsigned p = 0; p < 4; ++p) {
        std::memset(m_thumbLayer.GetPlane(p), 0, size_t(lw) * size_t(lh));
    }
    const int32_t iw = image.Width();
    const int32_t ih = image.Height();
    const size_t plane = size_t(iw) * size_t(ih);
    const int32_t imageAlong = m_vertical ? ih : iw;
    const int32_t imageAcross = m_vertical ? iw : ih;
    const int32_t layerAlong = m_vertical ? lh : lw;
    const int32_t layerAcross = m_vertical ? lw : lh;
    // Across the axis the image keeps its place inside the thumb union.
    const int32_t acrossOffset =
        m_vertical ? image.rect.left - m_thumbUnion.left : image.rect.top - m_thumbUnion.top;
    const int32_t middle = m_thumbLength - m_head - m_tail;
    for (int32_t k = 0; k < std::min(m_thumbLength, layerAlong); ++k) {
        int32_t src;
        if (k < m_head) {
            src = k;
        } else if (k < m_head + middle) {
            src = m_tile > 0 ? m_head + (k - m_head) % m_tile : m_head;
        } else {
            src = m_head + m_tile + (k - m_head - middle);
        }
        if (src < 0 || src >= imageAlong) {
            continue;
        }
        for (int32_t i = 0; i < imageAcross; ++i) {
            const int32_t a = acrossOffset + i;
            if (a < 0 || a >= layerAcross) {
                continue;
            }
            const size_t from = m_vertical ? size_t(src) * size_t(iw) + size_t(i) : size_t(i) * size_t(iw) + size_t(src);
            const size_t to = m_vertical ? size_t(k) * size_t(lw) + size_t(a) : size_t(a) * size_t(lw) + size_t(k);
            for (unsigned p = 0; p < 4; ++p) {
                m_thumbLayer.GetPlane(p)[to] = image.pixels[p * plane + from];
            }
        }
    }
    MoveThumb(ThumbStart());
}

void CQNF_CtrlScrollBar::SetState(unsigned char state, unsigned char noRedraw)
{
    if (!m_ready) {
        return;
    }
    qntRECT_s dirty = qnNullRect;
    const uint8_t opacity = state == qnctl::StateDisabled ? m_disabledOpacity : 255;
    m_backgroundLayer.SetOpacity(opacity);
    m_thumbLayer.SetOpacity(opacity);
    bool dim = false;
    if (state != m_lastBackgroundState && m_background.present && m_backgroundLayer.HasPixels()) {
        if (const SkinImage* image = m_background.Choose(state, dim)) {
            m_backgroundLayer.SetVisible(1);
            qnctl::ShowImage(*this, m_backgroundLayer, image);
        } else {
            m_backgroundLayer.SetVisible(0);
        }
        m_lastBackgroundState = state;
        dirty = m_backgroundLayer.GetRect();
    }
    if (state != m_lastThumbState || m_total != m_drawnTotal || m_visible != m_drawnVisible) {
        const SkinImage* image = m_thumb.Choose(state, dim);
        if (image) {
            m_thumbLayer.SetVisible(1);
            DrawThumb(*image);
        } else {
            m_thumbLength = qnctl::ThumbLength({TrackLength(), m_head, m_tail}, m_total, m_visible);
            m_thumbLayer.SetVisible(0);
        }
        m_lastThumbState = state;
        m_drawnTotal = m_total;
        m_drawnVisible = m_visible;
        const int32_t end = TrackStart() + TrackLength();
        if (ThumbStart() + m_thumbLength > end) {
            MoveThumb(end - m_thumbLength);
        }
        if (m_thumbLayer.HasPixels()) {
            dirty = qnctl::UnionRect(dirty, m_thumbLayer.GetRect());
        }
    }
    if (!noRedraw && !qnIsNullRect(dirty) && m_window) {
        m_window->RenderRect(dirty);
        m_window->UpdateRect(dirty);
    }
}

void CQNF_CtrlScrollBar::Redraw()
{
    if (!m_ready || !m_window) {
        return;
    }
    qntRECT_s r = m_backgroundLayer.HasPixels() ? m_backgroundLayer.GetRect() : qnNullRect;
    if (m_thumbLayer.HasPixels()) {
        qntRECT_s t = m_thumbLayer.GetRect();
        // The layer runs past the track with the thumb; what lies beyond is empty.
        if (m_vertical) {
            t.bottom = std::min(t.bottom, m_track.bottom);
        } else {
            t.right = std::min(t.right, m_track.right);
        }
        if (t.left < t.right && t.top < t.bottom) {
            r = qnctl::UnionRect(r, t);
        }
    }
    if (!qnIsNullRect(r)) {
        m_window->RenderRect(r);
        m_window->UpdateRect(r);
    }
}

void CQNF_CtrlScrollBar::OffsetByItemFirst()
{
    const int32_t track = TrackLength();
    const int32_t start = TrackStart() + qnctl::ThumbOffset(track, m_thumbLength, m_total, m_visible, m_first);
    MoveThumb(std::clamp(start, TrackStart(), std::max(TrackStart(), TrackStart() + track - m_thumbLength)));
    Redraw();
    uint32_t first = m_first;
    SendMessage(qnmsg::ValueChanged, &first);
}

void CQNF_CtrlScrollBar::RecalcItemFirstByThumbPos()
{
    m_first = qnctl::FirstFromThumb(TrackLength(), m_thumbLength, m_total, m_visible, ThumbStart() - TrackStart());
}

void CQNF_CtrlScrollBar::SetInfo(unsigned long total, unsigned long visible)
{
    m_visible = uint32_t(visible);
    m_total = std::max(uint32_t(total), m_visible);
    m_first = std::min(m_first, m_total - m_visible);
    SetState(m_lastThumbState, 0);
    OffsetByItemFirst();
}

void CQNF_CtrlScrollBar::GetInfo(unsigned long& total, unsigned long& visible) const
{
    total = m_total;
    visible = m_visible;
}

void CQNF_CtrlScrollBar::SetPosition(unsigned long first)
{
    m_first = uint32_t(std::min<unsigned long>(first, qnctl::LastFirst(m_total, m_visible)));
    OffsetByItemFirst();
}

void CQNF_CtrlScrollBar::StepLess()
{
    if (m_first > 0) {
        --m_first;
    }
    OffsetByItemFirst();
}

void CQNF_CtrlScrollBar::StepMore()
{
    if (m_first < qnctl::LastFirst(m_total, m_visible)) {
        ++m_first;
    }
    OffsetByItemFirst();
}

void CQNF_CtrlScrollBar::PageLess()
{
    const uint32_t page = qnctl::PageSize(m_visible);
    m_first = m_first > page ? m_first - page : 0;
    OffsetByItemFirst();
}

void CQNF_CtrlScrollBar::PageMore()
{
    const uint64_t next = uint64_t(m_first) + qnctl::PageSize(m_visible);
    m_first = uint32_t(std::min<uint64_t>(next, qnctl::LastFirst(m_total, m_visible)));
    OffsetByItemFirst();
}

void CQNF_CtrlScrollBar::SetButtons(unsigned long lessId, unsigned long moreId)
{
    m_lessId = uint32_t(lessId);
    m_moreId = uint32_t(moreId);
    m_less = GetControlByID(lessId);
    m_more = GetControlByID(moreId);
    for (CQNF_Control* arrow : {m_less, m_more}) {
        if (!arrow || arrow == this) {
            continue;
        }
        arrow->SetFocusMaster(this);
        arrow->EnableMessageForwardingToFocusMaster(1);
        if (arrow->GetType() == qnctl::Button) {
            static_cast<CQNF_CtrlButton*>(arrow)->SetPeriodicMode(1);
        }
    }
}

unsigned char CQNF_CtrlScrollBar::OnCtrlMessage(unsigned short msg, unsigned long id, char*, unsigned char, void*)
{
    if (msg != qnmsg::Clicked || (m_less == nullptr && m_more == nullptr)) {
        return 0;
    }
    if (m_less && id == m_lessId) {
        StepLess();
        return 1;
    }
    if (m_more && id == m_moreId) {
        StepMore();
        return 1;
    }
    return 0;
}

unsigned char CQNF_CtrlScrollBar::PtAboveControl(short x, short y)
{
    return x >= m_track.left && x < m_track.right && y >= m_track.top && y < m_track.bottom;
}

void CQNF_CtrlScrollBar::PageScrollXY(short x, short y)
{
    const int32_t at = m_vertical ? y : x;
    const int32_t from = m_vertical ? m_thumbRect.top : m_thumbRect.left;
    const int32_t to = m_vertical ? m_thumbRect.bottom : m_thumbRect.right;
    if (at < from) {
        PageLess();
    } else if (at > to) {
        PageMore();
    }
}

unsigned char CQNF_CtrlScrollBar::OnLMouseDown(short x, short y, unsigned char)
{
    if (x >= m_thumbRect.left && x < m_thumbRect.right && y >= m_thumbRect.top && y < m_thumbRect.bottom) {
        m_dragging = 1;
        m_grabX = x - m_thumbRect.left;
        m_grabY = y - m_thumbRect.top;
        SetState(qnctl::StatePressed, 0);
        StopHoverPoll();
        return 1;
    }
    PageScrollXY(x, y);
    StartRepeatDelay();
    return 1;
}

unsigned char CQNF_CtrlScrollBar::OnMouseMove(short x, short y, unsigned char)
{
    if (m_dragging) {
        SetState(qnctl::StatePressed, 0);
        const int32_t track = TrackLength();
        const int32_t want = m_vertical ? y - m_grabY : x - m_grabX;
        MoveThumb(std::clamp(want, TrackStart(), std::max(TrackStart(), TrackStart() + track - m_thumbLength)));
        Redraw();
        const uint32_t before = m_first;
        RecalcItemFirstByThumbPos();
        if (m_first != before) {
            uint32_t first = m_first;
            SendMessage(qnmsg::ValueTracking, &first);
        }
    } else if (PtInControl(x, y)) {
        SetState(qnctl::StateHighlighted, 0);
        StartHoverPoll();
    } else {
        StopHoverPoll();
        SetState(qnctl::StateNormal, 0);
    }
    return 1;
}

unsigned char CQNF_CtrlScrollBar::OnLMouseUp(short x, short y, unsigned char mods)
{
    if (m_dragging) {
        m_dragging = 0;
        uint32_t first = m_first;
        SendMessage(qnmsg::ValueChanged, &first);
    }
    StopRepeat();
    return OnMouseMove(x, y, mods);
}

unsigned char CQNF_CtrlScrollBar::OnTimer(unsigned short id)
{
    switch (id) {
    case qnctl::HoverTimer:
        if (!PointerStillOver()) {
            StopHoverPoll();
            SetState(qnctl::StateNormal, 0);
        }
        break;
    case RepeatDelayTimer:
        RepeatDelayEnded();
        break;
    case RepeatTimer: {
        const qntPOS p = GetMousePos();
        PageScrollXY(short(p.x), short(p.y));
        break;
    }
    default: break;
    }
    return 1;
}

unsigned char CQNF_CtrlScrollBar::OnMouseWheel(short, short, unsigned char, short delta)
{
    int32_t n = int32_t(delta) * m_wheelSpeed;
    if (m_wheelInvert) {
        n = -n;
    }
    for (int32_t i = 0; i < std::abs(n); ++i) {
        if (n < 0) {
            StepLess();
        } else {
            StepMore();
        }
    }
    return 1;
}

void CQNF_CtrlScrollBar::ShowDisabledAgain()
{
    m_lastBackgroundState = m_lastThumbState = qnctl::NoState;
    SetState(qnctl::StateDisabled, 0);
}

void CQNF_CtrlScrollBar::Enable(unsigned char enabled)
{
    CQNF_Control::Enable(enabled);
    if (!enabled) {
        StopHoverPoll();
        SetState(qnctl::StateDisabled, 0);
    } else {
        const qntPOS p = GetMousePos();
        OnMouseMove(short(p.x), short(p.y), 0);
    }
    for (CQNF_Control* arrow : {m_less, m_more}) {
        if (arrow && arrow != this) {
            arrow->Enable(enabled);
        }
    }
}
