// The five effect models: each holds value 1 and value 2 of its effect's
// block, which of its parameters take part in automatic adjustment, how a
// piece's result is built, and the block the window's sample is filtered
// with. The windows keep one model each and move its values with their
// controls.
#pragma once

#include "effects/FxSession.h"

// Brightness and contrast, -100..100 each, each graded when its box is on.
class CFxBCModel : public CFxSession {
public:
    using Block = CTessolo::SFX_BRIGHTNESSCONTRAST;
    CFxBCModel(CFxMainLink& link, CFxTimers& timers) : CFxSession(fxkind::kBrightnessContrast, link, timers) {}

    // Value 1 from the current piece, value 2 the engine's default.
    void LoadInitialValues();
    // The block the sample shows: the edited value, with the parameters that
    // do not take part at their defaults while automatic adjustment is on.
    Block SampleBlock() const;

    Block value1{}, value2{};
    bool gradeBrightness = true, gradeContrast = true;

protected:
    void FillPlain(uint8_t* out) override;
    void FillGraded(double t, const uint8_t* backup, uint8_t* out) override;
};

// An effect of one parameter that is always graded (no adjustment box):
// the Gaussian blur radius 0..100 and the piece opacity 0..255.
template <class B, uint8_t B::*Field, int32_t Max>
class CFxSingleModel : public CFxSession {
public:
    using Block = B;
    CFxSingleModel(const FxKind& kind, CFxMainLink& link, CFxTimers& timers) : CFxSession(kind, link, timers) {}
    void LoadInitialValues();
    Block SampleBlock() const { return Mode() ? value2 : value1; }
    Block value1{}, value2{};

protected:
    void FillPlain(uint8_t* out) override;
    void FillGraded(double t, const uint8_t* backup, uint8_t* out) override;
};

class CFxBlurModel : public CFxSingleModel<CTessolo::SFX_GAUSSIANBLUR, &CTessolo::SFX_GAUSSIANBLUR::radius, 100> {
public:
    CFxBlurModel(CFxMainLink& link, CFxTimers& timers) : CFxSingleModel(fxkind::kBlur, link, timers) {}
};

class CFxOpacityModel : public CFxSingleModel<CTessolo::SFX_OPACITY, &CTessolo::SFX_OPACITY::opacity, 255> {
public:
    CFxOpacityModel(CFxMainLink& link, CFxTimers& timers) : CFxSingleModel(fxkind::kOpacity, link, timers) {}
};

// Bevel: size, depth and soften graded (each while its box is on); the
// light, opacities and colours are shared and always value 1's.
class CFxBevelModel : public CFxSession {
public:
    using Block = CTessolo::SFX_BEVEL;
    CFxBevelModel(CFxMainLink& link, CFxTimers& timers) : CFxSession(fxkind::kBevel, link, timers) {}
    void LoadInitialValues();
    Block SampleBlock() const;
    // Value 1 with size, depth and soften graded toward value 2 at t.
    Block i_GetFXFromRange(double t) const;
    // The shared parameters: set in both values so the sample of either shows
    // them.
    void SetHighlightPercent(int32_t percent);
    void SetShadowPercent(int32_t percent);
    void SetLightBoth(qnt3D_VECTOR light);

    Block value1{}, value2{};
    bool gradeSize = true, gradeDepth = true, gradeSoften = true;

protected:
    void FillPlain(uint8_t* out) override;
    void FillGraded(double t, const uint8_t* backup, uint8_t* out) override;
};

// Motion blur: angle -90..90 and radius 0..100, each graded while its box is on.
class CFxMBlurModel : public CFxSession {
public:
    using Block = CTessolo::SFX_MOTIONBLUR;
    CFxMBlurModel(CFxMainLink& link, CFxTimers& timers) : CFxSession(fxkind::kMotionBlur, link, timers) {}
    void LoadInitialValues();
    Block SampleBlock() const;
    Block value1{}, value2{};
    bool gradeAngle = true, gradeRadius = true;

protected:
    void FillPlain(uint8_t* out) override;
    void FillGraded(double t, const uint8_t* backup, uint8_t* out) override;
};

// Colour overlay: the opacity and the colour, each graded while its box is
// on. The colour record is graded byte by byte in every form it holds (grey,
// red-green-blue, the four CMYK bytes), with no conversion between them.
class CFxColorOverlayModel : public CFxSession {
public:
    using Block = CTessolo::SFX_COLOROVERLAY;
    CFxColorOverlayModel(CFxMainLink& link, CFxTimers& timers) : CFxSession(fxkind::kColorOverlay, link, timers) {}
    void LoadInitialValues();
    Block SampleBlock() const;
    // Value 1 graded toward value 2 at t, switched on.
    Block i_GetFXFromRange(double t) const;
    // The parameters that take part from graded, the others from fallback;
    // switched on.
    Block i_SetFX(const Block& graded, const Block& fallback) const;

    Block value1{}, value2{};
    bool gradeColor = true, gradeOpacity = true;

protected:
    void FillPlain(uint8_t* out) override;
    void FillGraded(double t, const uint8_t* backup, uint8_t* out) override;
};

// Stroke: the colour as the colour overlay's, the opacity 0..255 and the
// size 0..100 pixels, each graded while its box is on.
class CFxStrokeModel : public CFxSession {
public:
    using Block = CTessolo::SFX_STROKE;
    CFxStrokeModel(CFxMainLink& link, CFxTimers& timers) : CFxSession(fxkind::kStroke, link, timers) {}
    void LoadInitialValues();
    Block SampleBlock() const;
    Block i_GetFXFromRange(double t) const;
    Block i_SetFX(const Block& graded, const Block& fallback) const;

    Block value1{}, value2{};
    bool gradeColor = true, gradeOpacity = true, gradeSize = true;

protected:
    void FillPlain(uint8_t* out) override;
    void FillGraded(double t, const uint8_t* backup, uint8_t* out) override;
};

// Hue -180..180, saturation and lightness -100..100, each graded while its
// box is on; a piece keeps its own spare byte. The effect exists for RGB
// documents only (FxOpenWindow refuses the window elsewhere).
class CFxHSLModel : public CFxSession {
public:
    using Block = CTessolo::SFX_HSL;
    CFxHSLModel(CFxMainLink& link, CFxTimers& timers) : CFxSession(fxkind::kHSL, link, timers) {}
    void LoadInitialValues();
    Block SampleBlock() const;

    Block value1{}, value2{};
    bool gradeHue = true, gradeSaturation = true, gradeLightness = true;

protected:
    void FillPlain(uint8_t* out) override;
    void FillGraded(double t, const uint8_t* backup, uint8_t* out) override;
};
