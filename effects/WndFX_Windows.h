// The effect windows of brightness-contrast, Gaussian blur, opacity, bevel
// and motion blur. Each binds its model (effects/FxModels.h) to the controls
// of its window resource; the frame is CWndFX_Base's.
#pragma once

#include "effects/FxLight.h"
#include "effects/FxModels.h"
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
