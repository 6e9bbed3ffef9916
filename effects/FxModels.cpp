#include "effects/FxModels.h"

#include "effects/FxNumbers.h"

#include <cstring>

namespace {

template <class B>
B Load(const uint8_t* bytes)
{
    B b;
    std::memcpy(&b, bytes, sizeof b);
    return b;
}

template <class B>
void Store(const B& b, uint8_t* out)
{
    std::memcpy(out, &b, sizeof b);
}

// With automatic adjustment off every piece gets value 1 switched on.
template <class B>
void Plain(B& value1, uint8_t* out)
{
    value1.on = 1;
    Store(value1, out);
}

}  // namespace

// ---- Brightness-contrast ---------------------------------------------------

void CFxBCModel::LoadInitialValues()
{
    value1 = Load<Block>(InitialBackup());
    value2 = Load<Block>(Defaults());
}

CFxBCModel::Block CFxBCModel::SampleBlock() const
{
    Block b = Mode() ? value2 : value1;
    const Block d = Load<Block>(Defaults());
    if (AutoAdjust()) {
        if (!gradeBrightness)
            b.brightness = d.brightness;
        if (!gradeContrast)
            b.contrast = d.contrast;
    }
    return b;
}

void CFxBCModel::FillPlain(uint8_t* out)
{
    Plain(value1, out);
}

void CFxBCModel::FillGraded(double t, const uint8_t* backup, uint8_t* out)
{
    Block b = Load<Block>(backup);
    if (gradeBrightness)
        b.brightness = int8_t(fxnum::Grade(value1.brightness, value2.brightness, t, -100, 100));
    if (gradeContrast)
        b.contrast = int8_t(fxnum::Grade(value1.contrast, value2.contrast, t, -100, 100));
    b.on = 1;
    Store(b, out);
}

// ---- Blur and opacity ------------------------------------------------------

template <class B, uint8_t B::*Field, int32_t Max>
void CFxSingleModel<B, Field, Max>::LoadInitialValues()
{
    value1 = Load<Block>(InitialBackup());
    value2 = Load<Block>(Defaults());
}

template <class B, uint8_t B::*Field, int32_t Max>
void CFxSingleModel<B, Field, Max>::FillPlain(uint8_t* out)
{
    Plain(value1, out);
}

template <class B, uint8_t B::*Field, int32_t Max>
void CFxSingleModel<B, Field, Max>::FillGraded(double t, const uint8_t*, uint8_t* out)
{
    Block b{};
    b.on = 1;
    b.*Field = uint8_t(fxnum::Grade(value1.*Field, value2.*Field, t, 0, Max));
    Store(b, out);
}

template class CFxSingleModel<CTessolo::SFX_GAUSSIANBLUR, &CTessolo::SFX_GAUSSIANBLUR::radius, 100>;
template class CFxSingleModel<CTessolo::SFX_OPACITY, &CTessolo::SFX_OPACITY::opacity, 255>;

// ---- Bevel -----------------------------------------------------------------

void CFxBevelModel::LoadInitialValues()
{
    value1 = Load<Block>(InitialBackup());
    value2 = Load<Block>(Defaults());
    // Both values share the opacities, taken through the percent scale the
    // sliders show them on.
    SetHighlightPercent(fxnum::PercentFromStored(value1.highlightOpacity));
    SetShadowPercent(fxnum::PercentFromStored(value1.shadowOpacity));
}

CFxBevelModel::Block CFxBevelModel::i_GetFXFromRange(double t) const
{
    Block b = value1;
    b.on = 1;
    b.size = uint8_t(fxnum::Grade(value1.size, value2.size, t, 0, 200));
    b.depth = uint16_t(fxnum::Grade(value1.depth, value2.depth, t, 0, 999));
    b.soften = uint8_t(fxnum::Grade(value1.soften, value2.soften, t, 0, 20));
    return b;
}

CFxBevelModel::Block CFxBevelModel::SampleBlock() const
{
    Block b = Mode() ? value2 : value1;
    if (AutoAdjust()) {
        const Block d = Load<Block>(Defaults());
        if (!gradeSize)
            b.size = d.size;
        if (!gradeDepth)
            b.depth = d.depth;
        if (!gradeSoften)
            b.soften = d.soften;
    }
    return b;
}

void CFxBevelModel::SetHighlightPercent(int32_t percent)
{
    value1.highlightOpacity = value2.highlightOpacity = fxnum::StoredFromPercent(percent);
}

void CFxBevelModel::SetShadowPercent(int32_t percent)
{
    value1.shadowOpacity = value2.shadowOpacity = fxnum::StoredFromPercent(percent);
}

void CFxBevelModel::SetLightBoth(qnt3D_VECTOR light)
{
    value1.lightX = value2.lightX = light.x;
    value1.lightY = value2.lightY = light.y;
    value1.lightZ = value2.lightZ = light.z;
}

void CFxBevelModel::FillPlain(uint8_t* out)
{
    Plain(value1, out);
}

void CFxBevelModel::FillGraded(double t, const uint8_t* backup, uint8_t* out)
{
    // Never built on the backup: every piece takes value 1's light, opacities
    // and colours; only the parameters left out keep the piece's own value.
    const Block own = Load<Block>(backup);
    Block b = i_GetFXFromRange(t);
    if (!gradeSize)
        b.size = own.size;
    if (!gradeDepth)
        b.depth = own.depth;
    if (!gradeSoften)
        b.soften = own.soften;
    Store(b, out);
}

// ---- Motion blur -----------------------------------------------------------

void CFxMBlurModel::LoadInitialValues()
{
    value1 = Load<Block>(InitialBackup());
    value2 = Load<Block>(Defaults());
}

CFxMBlurModel::Block CFxMBlurModel::SampleBlock() const
{
    Block b = Mode() ? value2 : value1;
    if (AutoAdjust() && !(gradeAngle && gradeRadius)) {
        const Block d = Load<Block>(Defaults());
        if (!gradeAngle)
            b.angle = d.angle;
        if (!gradeRadius)
            b.distance = d.distance;
    }
    return b;
}

void CFxMBlurModel::FillPlain(uint8_t* out)
{
    Plain(value1, out);
}

void CFxMBlurModel::FillGraded(double t, const uint8_t* backup, uint8_t* out)
{
    Block b = Load<Block>(backup);
    if (gradeAngle)
        b.angle = int8_t(fxnum::Grade(value1.angle, value2.angle, t, -90, 90));
    if (gradeRadius)
        b.distance = uint8_t(fxnum::Grade(value1.distance, value2.distance, t, 0, 100));
    b.on = 1;
    Store(b, out);
}

// ---- Colour overlay and stroke ----------------------------------------------

namespace {

// Every byte of a colour record graded on its own.
CTessolo::SFX_COLOR GradeColour(const CTessolo::SFX_COLOR& a, const CTessolo::SFX_COLOR& b, double t)
{
    uint8_t from[8], to[8], out[8];
    std::memcpy(from, &a, 8);
    std::memcpy(to, &b, 8);
    for (int i = 0; i < 8; ++i)
        out[i] = uint8_t(fxnum::Grade(from[i], to[i], t, 0, 255));
    CTessolo::SFX_COLOR c;
    std::memcpy(&c, out, 8);
    return c;
}

template <class B>
B MixColourOpacity(bool colour, bool opacity, const B& graded, const B& fallback)
{
    B b = fallback;
    if (colour)
        b.color = graded.color;
    if (opacity)
        b.opacity = graded.opacity;
    b.on = 1;
    return b;
}

}  // namespace

void CFxColorOverlayModel::LoadInitialValues()
{
    value1 = Load<Block>(InitialBackup());
    value2 = Load<Block>(Defaults());
}

CFxColorOverlayModel::Block CFxColorOverlayModel::i_GetFXFromRange(double t) const
{
    Block b{};
    b.on = 1;
    b.opacity = uint8_t(fxnum::Grade(value1.opacity, value2.opacity, t, 0, 255));
    b.color = GradeColour(value1.color, value2.color, t);
    return b;
}

CFxColorOverlayModel::Block CFxColorOverlayModel::i_SetFX(const Block& graded, const Block& fallback) const
{
    return MixColourOpacity(gradeColor, gradeOpacity, graded, fallback);
}

CFxColorOverlayModel::Block CFxColorOverlayModel::SampleBlock() const
{
    const Block& edited = Mode() ? value2 : value1;
    return AutoAdjust() ? i_SetFX(edited, Load<Block>(Defaults())) : edited;
}

void CFxColorOverlayModel::FillPlain(uint8_t* out)
{
    Plain(value1, out);
}

void CFxColorOverlayModel::FillGraded(double t, const uint8_t* backup, uint8_t* out)
{
    Store(i_SetFX(i_GetFXFromRange(t), Load<Block>(backup)), out);
}

void CFxStrokeModel::LoadInitialValues()
{
    value1 = Load<Block>(InitialBackup());
    value2 = Load<Block>(Defaults());
}

CFxStrokeModel::Block CFxStrokeModel::i_GetFXFromRange(double t) const
{
    Block b{};
    b.on = 1;
    b.opacity = uint8_t(fxnum::Grade(value1.opacity, value2.opacity, t, 0, 255));
    b.size = uint8_t(fxnum::Grade(value1.size, value2.size, t, 0, 100));
    b.color = GradeColour(value1.color, value2.color, t);
    return b;
}

CFxStrokeModel::Block CFxStrokeModel::i_SetFX(const Block& graded, const Block& fallback) const
{
    Block b = MixColourOpacity(gradeColor, gradeOpacity, graded, fallback);
    if (gradeSize)
        b.size = graded.size;
    return b;
}

CFxStrokeModel::Block CFxStrokeModel::SampleBlock() const
{
    const Block& edited = Mode() ? value2 : value1;
    return AutoAdjust() ? i_SetFX(edited, Load<Block>(Defaults())) : edited;
}

void CFxStrokeModel::FillPlain(uint8_t* out)
{
    Plain(value1, out);
}

void CFxStrokeModel::FillGraded(double t, const uint8_t* backup, uint8_t* out)
{
    Store(i_SetFX(i_GetFXFromRange(t), Load<Block>(backup)), out);
}

// ---- Hue-saturation-lightness ------------------------------------------------

void CFxHSLModel::LoadInitialValues()
{
    value1 = Load<Block>(InitialBackup());
    value2 = Load<Block>(Defaults());
}

CFxHSLModel::Block CFxHSLModel::SampleBlock() const
{
    Block b = Mode() ? value2 : value1;
    if (AutoAdjust()) {
        const Block d = Load<Block>(Defaults());
        if (!gradeHue)
            b.hue = d.hue;
        if (!gradeSaturation)
            b.saturation = d.saturation;
        if (!gradeLightness)
            b.lightness = d.lightness;
    }
    return b;
}

void CFxHSLModel::FillPlain(uint8_t* out)
{
    Plain(value1, out);
}

void CFxHSLModel::FillGraded(double t, const uint8_t* backup, uint8_t* out)
{
    Block b = Load<Block>(backup);
    if (gradeHue)
        b.hue = int16_t(fxnum::Grade(value1.hue, value2.hue, t, -180, 180));
    if (gradeSaturation)
        b.saturation = int8_t(fxnum::Grade(value1.saturation, value2.saturation, t, -100, 100));
    if (gradeLightness)
        b.lightness = int8_t(fxnum::Grade(value1.lightness, value2.lightness, t, -100, 100));
    b.on = 1;
    Store(b, out);
}
