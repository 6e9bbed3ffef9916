#include "ui/CtrlStatic.h"

#include "ui/CtrlMath.h"
#include "ui/Window.h"

#include <algorithm>

namespace {

void Refresh(CQNF_Window* window, const CQNF_Layer& layer)
{
    if (window && layer.HasPixels()) {
        window->RenderRect(layer.GetRect());
        window->UpdateRect(layer.GetRect());
    }
}

// Loads the Normal and Disabled pictures; their union.
qntRECT_s LoadPictures(CQNF_Control& control, qnctl::SkinImage& normal, qnctl::SkinImage& disabled)
{
    normal.Load(control, "Normal");
    disabled.Load(control, "Disabled");
    qntRECT_s u = qnNullRect;
    qnctl::Widen(u, normal);
    qnctl::Widen(u, disabled);
    return u;
}

// Normal for state 1; for state 8 Disabled, else Normal at the disabled opacity.
const qnctl::SkinImage* NormalOrDisabled(const qnctl::SkinImage& normal, const qnctl::SkinImage& disabled,
                                         bool disabledPicture, uint8_t state, bool& atDisabledOpacity)
{
    atDisabledOpacity = false;
    if (state == qnctl::StateDisabled) {
        if (disabled.Present() && disabledPicture) {
            return &disabled;
        }
        atDisabledOpacity = true;
    }
    return normal.Present() ? &normal : nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------
// Static image

unsigned char CQNF_CtrlStaticImage::Init(void* window, unsigned long id, CQNF_String name, CQNF_Storage* storage)
{
    if (!CQNF_Control::Init(window, id, name, storage)) {
        return 0;
    }
    m_union = LoadPictures(*this, m_normal, m_disabled);
    if (!qnIsNullRect(m_union) && m_window) {
        if (!m_layer.Create(m_union, qnimg::ModeRGBA)) {
            SetError(m_layer.GetError());
            return 0;
        }
        m_window->LSAddLayer(&m_layer);
    }
    m_ready = 1;
    SetState(qnctl::StateNormal, 0);
    return 1;
}

const qnctl::SkinImage* CQNF_CtrlStaticImage::Picture(uint8_t state, bool& atDisabledOpacity) const
{
    return NormalOrDisabled(m_normal, m_disabled, ShowsDisabledPicture(), state, atDisabledOpacity);
}

void CQNF_CtrlStaticImage::SetState(unsigned char state, unsigned char force)
{
    if (!m_ready || (state != qnctl::StateNormal && state != qnctl::StateDisabled)) {
        return;
    }
    bool dim = false;
    const qnctl::SkinImage* image = Picture(state, dim);
    if (m_layer.HasPixels()) {
        m_layer.SetOpacity(dim ? m_disabledOpacity : 255);
    }
    if (state != m_state || force) {
        if (m_layer.HasPixels()) {
            qnctl::ShowImage(*this, m_layer, image);
        }
        m_state = state;
        Redraw();
    }
}

void CQNF_CtrlStaticImage::Redraw()
{
    if (m_ready) {
        Refresh(m_window, m_layer);
    }
}

void CQNF_CtrlStaticImage::Enable(unsigned char enabled)
{
    CQNF_Control::Enable(enabled);
    SetState(enabled ? qnctl::StateNormal : qnctl::StateDisabled, 0);
}

void CQNF_CtrlStaticImage::SetOpacity(unsigned char opacity)
{
    m_layer.SetOpacity(opacity);
    Redraw();
}

unsigned char* CQNF_CtrlStaticImage::GetStateMemPtr(unsigned char state, qntRECT_s* rect)
{
    if (!m_ready) {
        return nullptr;
    }
    bool dim = false;
    const qnctl::SkinImage* image = Picture(state == qnctl::StateDisabled ? state : qnctl::StateNormal, dim);
    if (!image) {
        return nullptr;
    }
    if (rect) {
        *rect = image->rect;
    }
    return image->pixels;
}

unsigned char CQNF_CtrlStaticImage::PtAboveControl(short x, short y)
{
    if (!m_ready || (m_state != qnctl::StateNormal && m_state != qnctl::StateDisabled)) {
        return 0;
    }
    bool dim = false;
    const qnctl::SkinImage* image = Picture(m_state, dim);
    return image && x >= image->rect.left && x < image->rect.right && y >= image->rect.top &&
           y < image->rect.bottom;
}

unsigned char CQNF_CtrlRuler::PtAboveControl(short x, short y)
{
    if (x >= m_covered.left && x < m_covered.right && y >= m_covered.top && y < m_covered.bottom) {
        return 0;
    }
    return CQNF_CtrlStaticImage::PtAboveControl(x, y);
}

unsigned char CQNF_CtrlStaticImage::Forward(unsigned short msg, short x, short y, short delta)
{
    // Only a master that asked for them gets the events; otherwise they stay
    // with the window's own handlers.
    if (!m_focusMaster || !m_forwardToMaster) {
        return 0;
    }
    qnctl::ImageMouse event{x, y, delta};
    return SendMessage(msg, &event);
}

unsigned char CQNF_CtrlStaticImage::OnMouseMove(short x, short y, unsigned char)
{
    return Forward(qnmsg::ImageMouseMove, x, y, 0);
}

unsigned char CQNF_CtrlStaticImage::OnLMouseDown(short x, short y, unsigned char)
{
    return Forward(qnmsg::ImageMouseDown, x, y, 0);
}

unsigned char CQNF_CtrlStaticImage::OnLMouseUp(short x, short y, unsigned char)
{
    return Forward(qnmsg::ImageMouseUp, x, y, 0);
}

unsigned char CQNF_CtrlStaticImage::OnMouseWheel(short x, short y, unsigned char, short delta)
{
    return Forward(qnmsg::ImageMouseWheel, x, y, delta);
}

// ---------------------------------------------------------------------------
// Ruler

void CQNF_CtrlRuler::Redraw()
{
    if (!m_ready || !m_layer.HasPixels()) {
        return;
    }
    qnctl::DrawRuler(m_layer.GetPlane(3), m_layer.GetImageWidth(), m_layer.GetImageHeight(), m_data, m_font);
    Refresh(m_window, m_layer);
}

void CQNF_CtrlRuler::SetFont(CQNF_Font* font)
{
    if (font != m_font) {
        m_font = font;
        Redraw();
    }
}

void CQNF_CtrlRuler::SetData(const QNF_RulerData* data, unsigned char redraw)
{
    if (!data || *data == m_data) {
        return;
    }
    m_data = *data;
    if (redraw) {
        Redraw();
    }
}

// ---------------------------------------------------------------------------
// Static text

unsigned char CQNF_CtrlStaticText::Init(void* window, unsigned long id, CQNF_String name, CQNF_Storage* storage)
{
    if (!CQNF_Control::Init(window, id, name, storage)) {
        return 0;
    }
    m_union = LoadPictures(*this, m_normal, m_disabled);
    if (!qnIsNullRect(m_union) && m_window) {
        // A text layer is always RGBA: the text's coverage goes into alpha.
        if (!m_layer.Create(short(m_union.left), short(m_union.top), 1, uint16_t(m_union.right - m_union.left),
                            uint16_t(m_union.bottom - m_union.top))) {
            SetError(m_layer.GetError());
            return 0;
        }
        m_window->LSAddLayer(&m_layer);
    }
    m_ready = 1;
    SetState(qnctl::StateNormal);
    return 1;
}

void CQNF_CtrlStaticText::Render()
{
    if (m_layer.HasPixels() && m_layer.GetFont()) {
        m_layer.SetText(m_text, qntRGBA8{0, 0, 0, 0}, m_lineHeight, m_x, m_y);
    }
}

void CQNF_CtrlStaticText::SetState(unsigned char state)
{
    if (!m_ready || (state != qnctl::StateNormal && state != qnctl::StateDisabled)) {
        return;
    }
    bool dim = false;
    const qnctl::SkinImage* image = NormalOrDisabled(m_normal, m_disabled, ShowsDisabledPicture(), state, dim);
    if (m_layer.HasPixels()) {
        m_layer.SetOpacity(dim ? m_disabledOpacity : 255);
    }
    if (state == m_state) {
        return;
    }
    if (m_layer.HasPixels()) {
        qnctl::ShowImage(*this, m_layer, image);
    }
    m_state = state;
    Render();
    Redraw();
}

void CQNF_CtrlStaticText::Redraw()
{
    if (m_ready) {
        Refresh(m_window, m_layer);
    }
}

void CQNF_CtrlStaticText::Enable(unsigned char enabled)
{
    CQNF_Control::Enable(enabled);
    SetState(enabled ? qnctl::StateNormal : qnctl::StateDisabled);
}

void CQNF_CtrlStaticText::SetText(const char* text, short x, short y, unsigned short lineHeight)
{
    if (!text) {
        return;
    }
    m_x = x;
    m_y = y;
    m_lineHeight = lineHeight;
    SetText(text);
}

void CQNF_CtrlStaticText::SetText(const char* text)
{
    if (!text) {
        return;
    }
    m_text = text;
    Render();
    Redraw();
}

void CQNF_CtrlStaticText::SetFont(CQNF_Font* font)
{
    m_layer.SetFont(font);
    Render();
    Redraw();
}

void CQNF_CtrlStaticText::RemoveAllTabs()
{
    m_layer.RemoveAllTabs();
    Render();
    Redraw();
}

uint32_t CQNF_CtrlStaticText::AddTab(unsigned short x)
{
    const uint32_t index = m_layer.AddTab(x);
    Render();
    Redraw();
    return index;
}

void CQNF_CtrlStaticText::ShowDisabledAgain()
{
    m_state = qnctl::NoState;
    SetState(qnctl::StateDisabled);
}

void CQNF_CtrlStaticText::SetOpacity(unsigned char opacity)
{
    m_layer.SetOpacity(opacity);
    Redraw();
}

// ---------------------------------------------------------------------------
// Progress bar

unsigned char CQNF_CtrlProgress::Init(void* window, unsigned long id, CQNF_String name, CQNF_Storage* storage)
{
    if (!CQNF_Control::Init(window, id, name, storage)) {
        return 0;
    }
    if (!m_normal.Load(*this, "Normal") || !m_data.Load(*this, "Data")) {
        SetError(qnerr::ControlSkin);
        return 0;
    }
    if (m_normal.Width() > 0 && m_normal.Height() > 0 && m_window) {
        if (!m_layer.Create(m_normal.rect, qnimg::ModeRGBA)) {
            SetError(m_layer.GetError());
            return 0;
        }
        m_window->LSAddLayer(&m_layer);
    }
    m_ready = 1;
    SetValue(50.0);
    return 1;
}

void CQNF_CtrlProgress::Draw()
{
    if (!m_ready || !m_layer.HasPixels()) {
        return;
    }
    qnctl::ShowImage(*this, m_layer, &m_normal);
    const uint8_t level = qnctl::ProgressLevel(m_min, m_max, m_value);
    const qntRECT_s a = m_layer.GetRect();
    const qntRECT_s& b = m_data.rect;
    const int32_t left = std::max(a.left, b.left);
    const int32_t right = std::min(a.right, b.right);
    const int32_t top = std::max(a.top, b.top);
    const int32_t bottom = std::min(a.bottom, b.bottom);
    uint8_t* alpha = m_layer.GetPlane(3);
    const size_t lw = size_t(a.right - a.left);
    const size_t dw = size_t(m_data.Width());
    for (int32_t y = top; y < bottom; ++y) {
        for (int32_t x = left; x < right; ++x) {
            if (level < m_data.pixels[size_t(y - b.top) * dw + size_t(x - b.left)]) {
                alpha[size_t(y - a.top) * lw + size_t(x - a.left)] = 0;
            }
        }
    }
    Refresh(m_window, m_layer);
}

void CQNF_CtrlProgress::SetMinMax(double min, double max)
{
    m_min = min;
    m_max = max;
    Draw();
}

void CQNF_CtrlProgress::Visible(unsigned char visible)
{
    m_layer.SetVisible(visible);
    if (m_ready) {
        Refresh(m_window, m_layer);
    }
}

void CQNF_CtrlProgress::SetValue(double value)
{
    m_value = value;
    Draw();
    uint32_t percent = qnctl::ProgressPercent(m_min, m_max, m_value);
    SendMessage(qnmsg::ValueChanged, &percent);
}
