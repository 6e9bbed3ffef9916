// Display controls: static images (which can pass the mouse on to a focus
// master, making them a small input surface), rulers (ticks, numbers and a
// mouse marker drawn into the alpha of a static image), static texts (a text
// layer over a skin whose colours the letters take) and progress bars (a
// fill that follows a per-pixel threshold map, so it can take any shape).
#pragma once

#include "imaging/Layer.h"
#include "imaging/TextLayer.h"
#include "ui/Control.h"
#include "ui/CtrlRulerDraw.h"
#include "ui/CtrlSkin.h"

#include <cstdint>

class CQNF_Font;

namespace qnctl {
// What a static image sends its master with qnmsg::ImageMouse*: the point in
// window coordinates and, for the wheel, its delta.
struct ImageMouse {
    int32_t x;
    int32_t y;
    int16_t delta;
};
}  // namespace qnctl

class CQNF_CtrlStaticImage : public CQNF_Control {
public:
    CQNF_CtrlStaticImage() { m_type = qnctl::StaticImage; }
    ~CQNF_CtrlStaticImage() override = default;

    void Enable(unsigned char enabled) override;
    unsigned char Init(void* window, unsigned long id, CQNF_String name, CQNF_Storage* storage) override;
    qntRECT_s GetRenderRect() override { return m_layer.HasPixels() ? m_layer.GetRect() : qnNullRect; }
    void Redraw() override;
    unsigned char OnMouseMove(short x, short y, unsigned char mods) override;
    unsigned char OnLMouseDown(short x, short y, unsigned char mods) override;
    unsigned char OnLMouseUp(short x, short y, unsigned char mods) override;
    unsigned char OnMouseWheel(short x, short y, unsigned char mods, short delta) override;
    // The same test with or without the enabled flag.
    unsigned char PtInControl(short x, short y) override { return PtAboveControl(x, y); }
    unsigned char PtAboveControl(short x, short y) override;

    // States 1 (normal) and 8 (disabled); force copies the picture again.
    void SetState(unsigned char state, unsigned char force);
    void DoRedraw() { SetState(m_state, 1); }
    void SetOpacity(unsigned char opacity);
    CQNF_Layer* GetControlLayer() { return &m_layer; }
    // Pixels and rectangle of the picture a state shows; null before Init.
    unsigned char* GetStateMemPtr(unsigned char state, qntRECT_s* rect);

protected:
    // The picture a state shows and whether at the disabled opacity.
    const qnctl::SkinImage* Picture(uint8_t state, bool& atDisabledOpacity) const;
    void ShowDisabledAgain() override { SetState(qnctl::StateDisabled, 1); }
    unsigned char Forward(unsigned short msg, short x, short y, short delta);

    qnctl::SkinImage m_normal;
    qnctl::SkinImage m_disabled;
    qntRECT_s m_union = qnNullRect;
    CQNF_Layer m_layer;
    uint8_t m_state = qnctl::NoState;
};

class CQNF_CtrlRuler : public CQNF_CtrlStaticImage {
public:
    using QNF_RulerData = ::QNF_RulerData;

    CQNF_CtrlRuler() { m_type = qnctl::Ruler; }

    // Draws the ruler over the picture, then renders and blits it.
    void Redraw() override;
    // A new font draws the numbers again.
    void SetFont(CQNF_Font* font);
    // Copies the record; an identical record changes nothing.
    void SetData(const QNF_RulerData* data, unsigned char redraw);
    const QNF_RulerData* GetData() const { return &m_data; }
    // A part of the ruler (window coordinates) that another strip lies over:
    // the pointer there is not above the ruler. qnNullRect gives it back.
    void SetCoveredRect(const qntRECT_s& rect) { m_covered = rect; }
    unsigned char PtAboveControl(short x, short y) override;

private:
    CQNF_Font* m_font = nullptr;
    qntRECT_s m_covered = qnNullRect;
    QNF_RulerData m_data;
};

class CQNF_CtrlStaticText : public CQNF_Control {
public:
    CQNF_CtrlStaticText() { m_type = qnctl::StaticText; }
    ~CQNF_CtrlStaticText() override = default;

    void Enable(unsigned char enabled) override;
    unsigned char Init(void* window, unsigned long id, CQNF_String name, CQNF_Storage* storage) override;
    qntRECT_s GetRenderRect() override { return m_union; }
    void Redraw() override;

    void SetState(unsigned char state);
    // Each setter below that changes what the text looks like renders it and
    // shows it: the screen holds the new text when the call returns.
    void SetFont(CQNF_Font* font);
    // Colour 0: the letters take the skin's colours. A null text is ignored.
    void SetText(const char* text, short x, short y, unsigned short lineHeight);
    void SetText(const char* text);
    CQNF_String GetText() const { return m_text; }
    void RemoveAllTabs();
    uint32_t AddTab(unsigned short x);
    uint32_t GetTabsCount() const { return m_layer.GetTabsCount(); }
    void SetOpacity(unsigned char opacity);
    unsigned char GetOpacity() const { return m_layer.GetOpacity(); }
    CQNF_TextLayer* GetControlLayer() { return &m_layer; }
    // A text is not under the pointer (its window's zones and default tip
    // show through it) unless it has a tip of its own.
    void SetOwnTip(unsigned char own) { m_ownTip = own; }
    unsigned char PtAboveControl(short x, short y) override
    {
        return m_ownTip && m_ready && x >= m_union.left && x < m_union.right && y >= m_union.top &&
               y < m_union.bottom;
    }

private:
    void Render();
    void ShowDisabledAgain() override;

    qnctl::SkinImage m_normal;
    qnctl::SkinImage m_disabled;
    qntRECT_s m_union = qnNullRect;
    CQNF_TextLayer m_layer;
    uint8_t m_state = qnctl::NoState;
    uint8_t m_ownTip = 0;
    CQNF_String m_text;
    int16_t m_x = 0;
    int16_t m_y = 0;
    uint16_t m_lineHeight = 15;
};

class CQNF_CtrlProgress : public CQNF_Control {
public:
    CQNF_CtrlProgress() { m_type = qnctl::Progress; }
    ~CQNF_CtrlProgress() override = default;

    unsigned char Init(void* window, unsigned long id, CQNF_String name, CQNF_Storage* storage) override;
    qntRECT_s GetRenderRect() override { return m_normal.Present() ? m_normal.rect : qnNullRect; }

    // Draws the bar for the new range (no message: the value is unchanged).
    void SetMinMax(double min, double max);
    void GetMinMax(double& min, double& max) const
    {
        min = m_min;
        max = m_max;
    }
    // Draws and reports the percent (0..100) with qnmsg::ValueChanged.
    void SetValue(double value);
    double GetValue() const { return m_value; }
    void Draw();
    void Visible(unsigned char visible);
    unsigned char IsVisible() const { return m_layer.GetVisible(); }
    CQNF_Layer* GetControlLayer() { return &m_layer; }

private:
    qnctl::SkinImage m_normal;
    qnctl::SkinImage m_data;
    CQNF_Layer m_layer;
    double m_min = 0.0;
    double m_max = 100.0;
    double m_value = 50.0;
};
