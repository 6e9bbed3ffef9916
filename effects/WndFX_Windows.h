// The effect windows of brightness-contrast, Gaussian blur, opacity, bevel
// and motion blur. Each binds its model (effects/FxModels.h) to the controls
// of its window resource; the frame is CWndFX_Base's.
#pragma once

#include "effects/FxLight.h"
#include "effects/FxModels.h"
#include "effects/FxNumbers.h"
#include "effects/WndFX_Graded.h"
#include "imaging/ImageDrawing.h"

class CWndFX_BC : public CWndFX_Graded {
public:
    explicit CWndFX_BC(CFxWindowLink& link);
    unsigned char OnCreate(CQNF_LayerSet* set, unsigned short width, unsigned short height) override;
    CFxBCModel& Model() { return m_model; }

protected:
    void LoadValues() override;
    void UpdatePreview() override;

private:
    CFxBCModel m_model;
    CFxParam m_bright, m_contrast;
};

// Blur and opacity: one parameter, always graded.
class CWndFX_OneValue : public CWndFX_Graded {
public:
    unsigned char OnCreate(CQNF_LayerSet* set, unsigned short width, unsigned short height) override;

protected:
    CWndFX_OneValue(CFxWindowLink& link, const FxKind& kind) : CWndFX_Graded(link, kind) {}
    CFxParam m_value;
    const char* m_valueName = "";  // the value 1 slider, the edit line
};

class CWndFX_Blur : public CWndFX_OneValue {
public:
    explicit CWndFX_Blur(CFxWindowLink& link);
    CFxBlurModel& Model() { return m_model; }

protected:
    void LoadValues() override;
    void UpdatePreview() override;

private:
    CFxBlurModel m_model;
};

class CWndFX_Opacity : public CWndFX_OneValue {
public:
    explicit CWndFX_Opacity(CFxWindowLink& link);
    CFxOpacityModel& Model() { return m_model; }

protected:
    void LoadValues() override;
    void UpdatePreview() override;

private:
    CFxOpacityModel m_model;
};

class CWndFX_Bevel : public CWndFX_Graded {
public:
    explicit CWndFX_Bevel(CFxWindowLink& link);
    unsigned char OnCreate(CQNF_LayerSet* set, unsigned short width, unsigned short height) override;
    unsigned char OnMouseMove(short x, short y, unsigned char mods) override;
    unsigned char OnLMouseDown(short x, short y, unsigned char mods) override;
    unsigned char OnLMouseUp(short x, short y, unsigned char mods) override;
    unsigned char OnAboveControl(unsigned long index) override;
    CFxBevelModel& Model() { return m_model; }
    const CFxLightZone& Zone() const { return m_zone; }
    // Where the thumb's centre is drawn, window coordinates.
    qntPOS ThumbPoint() const { return m_thumbPoint; }
    CQNF_CtrlEditLine* AngleEdit() const { return m_angle; }
    CQNF_CtrlEditLine* AltitudeEdit() const { return m_altitude; }

protected:
    void Init() override;
    void UpdatePreview() override;
    unsigned char OnOwnMessage(unsigned short msg, CQNF_Control* c, void* data) override;
    void OnEditLostFocus(CQNF_Control* edit) override;

private:
    void RedrawByVector(qnt3D_VECTOR v);
    void RedrawByXY(short x, short y);
    void UpdateAnAl();
    void RedrawColors();
    void OnOpacity(bool highlight, bool tracking);
    void OnEditOpacity(bool highlight, const char* text);
    void OnEditAngles(bool angle, const char* text);
    void PickColor(bool highlight);
    void MouseMoveStatusBarText(short x, short y);

    CFxBevelModel m_model;
    CFxParam m_size, m_depth, m_soften;
    CQNF_CtrlSlider* m_hlSlider = nullptr;
    CQNF_CtrlSlider* m_shSlider = nullptr;
    CQNF_CtrlEditLine* m_hlEdit = nullptr;
    CQNF_CtrlEditLine* m_shEdit = nullptr;
    CQNF_CtrlEditLine* m_angle = nullptr;
    CQNF_CtrlEditLine* m_altitude = nullptr;
    CQNF_Layer m_hlSwatch, m_shSwatch, m_thumb;
    qntRECT_s m_hlRect{}, m_shRect{}, m_zoneRect{};
    CFxLightZone m_zone{qntRECT_s{0, 0, 0, 0}};
    qntPOS m_thumbPoint{0, 0};
    uint8_t m_dragging = 0;
    uint8_t m_lastZone = 255;
    unsigned long m_hover = None;
};

class CWndFX_MBlur : public CWndFX_Graded {
public:
    explicit CWndFX_MBlur(CFxWindowLink& link);
    unsigned char OnCreate(CQNF_LayerSet* set, unsigned short width, unsigned short height) override;
    CFxMBlurModel& Model() { return m_model; }

protected:
    void Init() override;
    void UpdatePreview() override;
    void EnableAutoAdjustments(bool on) override;
    void OnChangeMode(uint8_t mode) override;
    unsigned char OnOwnMessage(unsigned short msg, CQNF_Control* c, void* data) override;
    void OnEditLostFocus(CQNF_Control* edit) override;

private:
    void OnDial(uint8_t which, bool tracking);
    void OnEditDial(uint8_t which, const char* text);
    void RedrawSlidersBG();
    void OnAngleBox(bool on);

    CFxMBlurModel m_model;
    CFxParam m_radius;
    CQNF_Control* m_angleBox = nullptr;
    CQNF_CtrlSlider* m_dial[2] = {};
    CQNF_CtrlEditLine* m_dialEdit[2] = {};
    CQNF_Layer m_dialLayer[2];
    qntRECT_s m_dialRect[2]{};
    CQNF_ImageDrawing m_drawing;
};

// The colour overlay and stroke windows' colour: the "AColor" box, two
// swatch frames with a layer each showing value 1's and value 2's colour
// (grey in a Grayscale document), and a click on an enabled swatch that
// opens the host's colour picker for that value.
class CWndFX_Colored : public CWndFX_Graded {
public:
    unsigned char OnLMouseDown(short x, short y, unsigned char mods) override;
    CQNF_Control* ColorBox() const { return m_colorBox; }
    const qntRECT_s& SwatchRect(uint8_t which) const { return m_swatchRect[which]; }
    CQNF_Layer& Swatch(uint8_t which) { return m_swatch[which]; }

protected:
    CWndFX_Colored(CFxWindowLink& link, const FxKind& kind) : CWndFX_Graded(link, kind) {}
    // The model's colour of value 1 (which = 0) or value 2.
    virtual CTessolo::SFX_COLOR& Colour(uint8_t which) = 0;
    virtual void SetGradeColour(bool on) = 0;
    // The box, the swatch layers and their frames.
    bool AddColour();
    void Init() override;
    void EnableAutoAdjustments(bool on) override;
    unsigned char OnOwnMessage(unsigned short msg, CQNF_Control* c, void* data) override;
    void RedrawColors();

private:
    void OnColourBox(bool on);
    void ShowSwatch(uint8_t which, bool on);

    CQNF_Control* m_colorBox = nullptr;
    CQNF_Control* m_frame[2] = {};
    CQNF_Layer m_swatch[2];
    qntRECT_s m_swatchRect[2]{};
};

// A colour window over its model: value 1's and value 2's colour records
// and the colour's "A" box are the model's.
template <class Model>
class CWndFX_ColoredOf : public CWndFX_Colored {
protected:
    CWndFX_ColoredOf(CFxWindowLink& link, const FxKind& kind) : CWndFX_Colored(link, kind), m_model(link, *this)
    {
        Bind(m_model);
    }
    void LoadValues() override { m_model.LoadInitialValues(); }
    CTessolo::SFX_COLOR& Colour(uint8_t which) override { return which ? m_model.value2.color : m_model.value1.color; }
    void SetGradeColour(bool on) override { m_model.gradeColor = on; }
    // Red, green and blue of the sample's block as the document shows them.
    typename Model::Block SampleColour(uint8_t rgb[3]) const
    {
        const typename Model::Block b = m_model.SampleBlock();
        fxnum::DisplayColor(b.color, m_colorMode, rgb);
        return b;
    }

    Model m_model;
};

class CWndFX_ColorOverlay : public CWndFX_ColoredOf<CFxColorOverlayModel> {
public:
    explicit CWndFX_ColorOverlay(CFxWindowLink& link);
    unsigned char OnCreate(CQNF_LayerSet* set, unsigned short width, unsigned short height) override;
    CFxColorOverlayModel& Model() { return m_model; }

protected:
    void UpdatePreview() override;

private:
    CFxParam m_opacity;
};

class CWndFX_Stroke : public CWndFX_ColoredOf<CFxStrokeModel> {
public:
    explicit CWndFX_Stroke(CFxWindowLink& link);
    unsigned char OnCreate(CQNF_LayerSet* set, unsigned short width, unsigned short height) override;
    CFxStrokeModel& Model() { return m_model; }

protected:
    void UpdatePreview() override;

private:
    CFxParam m_opacity, m_size;
};

// Hue, saturation and lightness. Its lightness box "FXhsl_AL" has the name
// of the direction pad's left radio: both are told apart by control type.
class CWndFX_HSL : public CWndFX_Graded {
public:
    explicit CWndFX_HSL(CFxWindowLink& link);
    unsigned char OnCreate(CQNF_LayerSet* set, unsigned short width, unsigned short height) override;
    CFxHSLModel& Model() { return m_model; }

protected:
    void LoadValues() override;
    void UpdatePreview() override;

private:
    CFxHSLModel m_model;
    CFxParam m_hue, m_saturation, m_lightness;
};
