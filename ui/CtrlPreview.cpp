#include "ui/CtrlPreview.h"

#include "imaging/Image.h"
#include "imaging/Layer.h"
#include "ui/CtrlScrollBar.h"
#include "ui/CtrlStatic.h"
#include "ui/Window.h"

#include <algorithm>

namespace {
constexpr uint32_t kSpace = 16, kOption = 1, kCommand = 8;  // key-state bits
}  // namespace

void CQNF_CtrlPreview::SetData(qntRECT_s rect, CQNF_Image* image, CQNF_CtrlScrollBar* vertical,
                               CQNF_CtrlScrollBar* horizontal, CQNF_CtrlRuler* horizontalRuler,
                               CQNF_CtrlRuler* verticalRuler, CQNF_CtrlStaticImage* navigator)
{
    m_enabled = 1;
    m_rect = rect;
    m_canvas = m_window ? m_window->GetLayer(0ul) : nullptr;
    if (!image || image->GetImageMode() != qnimg::ModeRGBA)
        return;
    m_image = image;
    m_vertical = vertical;
    m_horizontal = horizontal;
    m_horizontalRuler = horizontalRuler;
    m_verticalRuler = verticalRuler;
    m_navigator = navigator;
    for (CQNF_Control* c : {static_cast<CQNF_Control*>(vertical), static_cast<CQNF_Control*>(horizontal),
                            static_cast<CQNF_Control*>(navigator)}) {
        if (c) {
            c->SetFocusMaster(this);
            c->EnableMessageForwardingToFocusMaster(1);
        }
    }
    m_navPixels = navigator ? navigator->GetStateMemPtr(1, &m_navRect) : nullptr;
    m_geom.SetView(rect.right - rect.left, rect.bottom - rect.top);
    m_geom.SetImageSize(image->GetImageWidth(), image->GetImageHeight());
    m_geom.RecalcCoors();
    UpdateScrollbars(0);
    // Bound again (a new image): still one poll.
    KillTimer(kPollTimer);
    SetTimer(kPollMs, kPollTimer);
}

void CQNF_CtrlPreview::SetMaskChannel(unsigned char* mask, unsigned long rowLength)
{
    m_mask = mask;
    m_maskRowLength = mask ? uint32_t(rowLength) : 0;
}

void CQNF_CtrlPreview::Send(unsigned short msg, qntPOS p) { SendMessage(msg, &p); }

void CQNF_CtrlPreview::SetOffset(long x, long y, unsigned char updateScrollBars)
{
    m_geom.SetOffset(x, y);
    if (updateScrollBars)
        UpdateScrollbars(0);
}

void CQNF_CtrlPreview::SetZoom(unsigned char level, short x, short y, unsigned char full, unsigned char force)
{
    if (!m_geom.SetZoom(level, x, y, force))
        return;
    UpdateScrollbars(0);
    uint8_t zoom = GetZoom();
    SendMessage(qnmsg::PreviewZoom, &zoom);
    DoRedraw(full, 0);
}

void CQNF_CtrlPreview::ZoomSteps(int steps, qntPOS anchor)
{
    for (; steps > 0 && GetZoom() < qnui::PreviewGeometry::kMaxZoom; --steps)
        SetZoom(uint8_t(GetZoom() + 1), short(anchor.x), short(anchor.y), 1, 0);
    for (; steps < 0 && GetZoom() > qnui::PreviewGeometry::kMinZoom; ++steps)
        SetZoom(uint8_t(GetZoom() - 1), short(anchor.x), short(anchor.y), 1, 0);
}

void CQNF_CtrlPreview::ZoomIn(short x, short y) { ZoomSteps(1, {x, y}); }

void CQNF_CtrlPreview::ZoomOut(short x, short y) { ZoomSteps(-1, {x, y}); }

void CQNF_CtrlPreview::DoRedraw(unsigned char full, unsigned char quality)
{
    m_quality = quality;
    m_redrawn = 1;
    if (!m_image || !m_canvas || !m_window)
        return;
    qnui::PreviewPaintOptions o;
    o.inner1 = m_inner1;
    o.inner2 = m_inner2;
    o.outer1 = m_outer1;
    o.outer2 = m_outer2;
    o.washOut = full && m_washOut;
    o.quality = quality != 0;
    o.mask = m_mask;
    o.maskRowLength = m_maskRowLength;
    o.maskColour = m_maskColour;
    const qntRECT_s origin = m_canvas->GetRect();
    const qntRECT_s inCanvas{m_rect.left - origin.left, m_rect.top - origin.top, m_rect.right - origin.left,
                             m_rect.bottom - origin.top};
    qnui::PaintPreview(*m_image, *m_canvas, inCanvas, m_geom, o);
    const bool refineFollows = full && !quality && m_geom.GetZoom() < qnui::PreviewGeometry::kOneToOne;
    m_finished = full && !refineFollows;
    if (full) {
        if (refineFollows) {
            KillTimer(kRefineTimer);
            SetTimer(kRefineMs, kRefineTimer);
        }
        Send(qnmsg::PreviewFullRedraw, GetOffset());
        m_window->RenderRect(m_rect);
        m_window->UpdateRect(m_rect);
        m_overlaysStale = 0;
    } else {
        Send(qnmsg::PreviewQuickRedraw, GetOffset());
        if (origin.left == 0 && origin.top == 0) {
            m_window->UpdateRect_Direct(m_canvas, m_rect);
        } else {
            // The direct copy takes window coordinates; a bottom layer placed
            // elsewhere goes through the composite.
            m_window->RenderRect(m_rect);
            m_window->UpdateRect(m_rect);
        }
        m_overlaysStale = 1;
    }
    UpdateRulers();
    UpdateNavigator();
}

void CQNF_CtrlPreview::UpdateScrollbars(unsigned char redraw)
{
    if (!m_image || !m_canvas)
        return;
    m_redrawn = 0;
    m_acceptScroll = 0;
    const qnui::PreviewGeometry::ScrollInfo h = m_geom.HorizontalScroll(), v = m_geom.VerticalScroll();
    for (auto [bar, info] : {std::pair{m_horizontal, h}, std::pair{m_vertical, v}}) {
        if (!bar)
            continue;
        unsigned long total = 0, visible = 0;
        bar->GetInfo(total, visible);
        if (total != unsigned(info.total) || visible != unsigned(info.visible)) {
            bar->SetInfo(unsigned(info.total), unsigned(info.visible));
            bar->Enable(info.visible < info.total);
        }
        bar->SetPosition(unsigned(std::max(info.position, 0)));
    }
    if (redraw)
        DoRedraw(0, 0);
    m_acceptScroll = 1;
}

void CQNF_CtrlPreview::UpdateRulers()
{
    if (m_horizontalRuler) {
        const QNF_RulerData d = qnui::HorizontalRulerData(m_geom, m_rect, m_horizontalRuler->GetRenderRect(),
                                                          m_mouseX, m_rulerUnit, m_horizontalResolution);
        if (!(d == *m_horizontalRuler->GetData()))
            m_horizontalRuler->SetData(&d, 1);
    }
    if (m_verticalRuler) {
        const QNF_RulerData d = qnui::VerticalRulerData(m_geom, m_rect, m_verticalRuler->GetRenderRect(), m_mouseY,
                                                        m_rulerUnit, m_verticalResolution);
        if (!(d == *m_verticalRuler->GetData()))
            m_verticalRuler->SetData(&d, 1);
    }
}

void CQNF_CtrlPreview::UpdateNavigator()
{
    if (!m_navigator || !m_navPixels)
        return;
    m_nav = qnui::LayoutNavigator(m_geom, m_navRect.right - m_navRect.left, m_navRect.bottom - m_navRect.top);
    qnui::PaintNavigator(m_navPixels, m_navRect.right - m_navRect.left, m_navRect.bottom - m_navRect.top, m_nav);
    m_navigator->DoRedraw();
}

void CQNF_CtrlPreview::NavigateByNavigator(qntPOS p)
{
    if (!m_nav.valid)
        m_nav = qnui::LayoutNavigator(m_geom, m_navRect.right - m_navRect.left, m_navRect.bottom - m_navRect.top);
    SetOffset(qnui::NavigatorOffset(m_geom, m_nav, p), 1);
    DoRedraw(0, 0);
}

unsigned char CQNF_CtrlPreview::PtAboveControl(short x, short y)
{
    return x >= m_rect.left && x < m_rect.right && y >= m_rect.top && y < m_rect.bottom;
}

unsigned char CQNF_CtrlPreview::OnLMouseDown(short x, short y, unsigned char)
{
    const uint32_t keys = CQNF_Window::GetKeysStatus();
    if (!(keys & kSpace))
        return 0;  // the press is the window's
    const qntPOS at = ViewPoint(x, y);
    if (keys & kOption) {
        ZoomSteps(-1, at);
    } else if (keys & kCommand) {
        ZoomSteps(1, at);
    } else {
        m_panning = 1;
        m_panMouse = {x, y};
        m_panOffset = GetOffset();
        DoRedraw(0, 0);
    }
    return 1;
}

unsigned char CQNF_CtrlPreview::OnMouseMove(short x, short y, unsigned char)
{
    m_mouseX = x;
    m_mouseY = y;
    if (m_panning) {
        SetOffset(long(m_panOffset.x) + m_panMouse.x - x, long(m_panOffset.y) + m_panMouse.y - y, 1);
        DoRedraw(0, 0);
    } else {
        Send(qnmsg::PreviewMouse, m_geom.ImageCoords(ViewPoint(x, y)));
        UpdateRulers();
    }
    return 1;
}

unsigned char CQNF_CtrlPreview::OnLMouseUp(short, short, unsigned char)
{
    m_redrawn = 1;
    if (m_panning) {
        m_panning = 0;
        DoRedraw(1, 0);
    }
    if (m_overlaysStale && m_window) {
        m_overlaysStale = 0;
        m_window->RenderRect(m_rect);
        m_window->UpdateRect(m_rect);
    }
    return 0;  // the window sees every release
}

unsigned char CQNF_CtrlPreview::OnMouseWheel(short x, short y, unsigned char, short delta)
{
    ZoomSteps(delta, ViewPoint(x, y));
    return 1;
}

unsigned char CQNF_CtrlPreview::OnTimer(unsigned short id)
{
    if (id == kPollTimer) {
        const qntPOS p = GetMousePos();
        if (!PtAboveControl(short(p.x), short(p.y)) && (m_mouseX != 65535 || m_mouseY != 65535)) {
            m_mouseX = m_mouseY = 65535;
            UpdateRulers();
        }
    } else if (id == kRefineTimer) {
        KillTimer(kRefineTimer);
        DoRedraw(1, 1);
    }
    return 1;
}

unsigned char CQNF_CtrlPreview::OnCtrlMessage(unsigned short msg, unsigned long id, char*, unsigned char, void* data)
{
    const bool fromBar = (m_horizontal && id == m_horizontal->GetControlID()) ||
                         (m_vertical && id == m_vertical->GetControlID());
    if (fromBar && (msg == qnmsg::ValueChanged || msg == qnmsg::ValueTracking)) {
        if (!m_acceptScroll)
            return 0;
        const qntPOS before = GetOffset();
        const long hx = m_horizontal ? long(m_horizontal->GetPosition()) : long(before.x + m_geom.MarginLeft());
        const long vy = m_vertical ? long(m_vertical->GetPosition()) : long(before.y + m_geom.MarginTop());
        m_geom.SetOffsetFromScroll(int(hx), int(vy));
        if (m_redrawn)
            DoRedraw(msg == qnmsg::ValueChanged, 0);
        return 0;
    }
    if (!m_navigator || id != m_navigator->GetControlID() || !data)
        return 0;
    const auto* e = static_cast<const qnctl::ImageMouse*>(data);
    const qntPOS p{e->x - m_navRect.left, e->y - m_navRect.top};
    switch (msg) {
    case qnmsg::ImageMouseDown:
        m_navigating = 1;
        NavigateByNavigator(p);
        break;
    case qnmsg::ImageMouseMove:
        if (m_navigating)
            NavigateByNavigator(p);
        break;
    case qnmsg::ImageMouseUp:
        m_navigating = 0;
        DoRedraw(1, 0);
        break;
    case qnmsg::ImageMouseWheel:
        ZoomSteps(e->delta, {-1, -1});
        break;
    default:
        break;
    }
    return 0;
}
