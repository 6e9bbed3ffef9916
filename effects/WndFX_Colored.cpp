// The colour overlay and stroke windows: their colour swatches and picker,
// and the graded opacity (and the stroke's size).
#include "effects/FxNumbers.h"
#include "effects/WndFX_Windows.h"
#include "ui/CtrlStatic.h"

#include <cstring>

namespace {

bool Inside(const qntRECT_s& r, int32_t x, int32_t y)
{
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

CQNF_String Named(const char* prefix, const char* suffix)
{
    CQNF_String s(prefix);
    s += suffix;
    return s;
}

// A stored 0..255 opacity on the percent sliders.
void PercentOpacity(CFxParam& p)
{
    p.hi = 255;
    p.percent = true;
}

}  // namespace

// ---- Swatches ------------------------------------------------------------------

bool CWndFX_Colored::AddColour()
{
    if (!(m_colorBox = AddOwn("_AColor", qnctl::CheckBox)))
        return false;
    for (uint8_t i = 0; i < 2; ++i) {
        const char* suffix = i ? "_Color2" : "_Color1";
        // The colour goes under its frame, so the frame's edge shows round it.
        if (!AddBand(Named(Prefix(), suffix).GetStr(), m_swatch[i], m_swatchRect[i], qntRGBA8{0, 0, 0, 0}))
            return false;
        if (!(m_frame[i] = AddOwn(suffix, qnctl::StaticImage)))
            return false;
        m_frame[i]->SetDisabledOpacity(50);
    }
    return true;
}

void CWndFX_Colored::Init()
{
    CWndFX_Graded::Init();
    RedrawColors();
    UpdatePreview();
}

void CWndFX_Colored::RedrawColors()
{
    for (uint8_t i = 0; i < 2; ++i) {
        uint8_t rgb[3];
        fxnum::DisplayColor(Colour(i), m_colorMode, rgb);
        m_swatch[i].Set(qntRGBA8{rgb[0], rgb[1], rgb[2], 255}, 0x0F);
        Refresh(m_swatchRect[i]);
    }
}

void CWndFX_Colored::ShowSwatch(uint8_t which, bool on)
{
    m_frame[which]->Enable(on ? 1 : 0);
    m_frame[which]->Redraw();
    ShowLayer(m_swatch[which], on);
    Refresh(m_swatchRect[which]);
}

void CWndFX_Colored::OnColourBox(bool on)
{
    SetGradeColour(on);
    ShowSwatch(0, on);
    ShowSwatch(1, on);
}

void CWndFX_Colored::EnableAutoAdjustments(bool on)
{
    CWndFX_Graded::EnableAutoAdjustments(on);
    if (on) {
        m_colorBox->Enable(1);
        m_colorBox->SetCheck(1, 1);
        OnColourBox(true);  // also when it was checked already
    } else {
        m_colorBox->SetCheck(0, 0);
        m_colorBox->Enable(0);
        m_colorBox->Redraw();
        SetGradeColour(true);
        ShowSwatch(0, true);
        ShowSwatch(1, false);
    }
    RedrawColors();
    UpdatePreview();
}

unsigned char CWndFX_Colored::OnOwnMessage(unsigned short msg, CQNF_Control* c, void*)
{
    if (c != m_colorBox || msg != qnmsg::Clicked)
        return 0;
    OnColourBox(c->GetCheck() != 0);
    UpdatePreview();
    Changes(CFxSession::kDelayed);
    return 1;
}

unsigned char CWndFX_Colored::OnLMouseDown(short x, short y, unsigned char)
{
    if (!m_created)
        return 0;
    for (uint8_t which = 0; which < 2; ++which) {
        if (!Inside(m_swatchRect[which], x, y) || !m_frame[which]->IsEnabled())
            continue;
        uint8_t record[8];
        std::memcpy(record, &Colour(which), sizeof record);
        if (m_link.FxPickColor(record)) {
            std::memcpy(&Colour(which), record, sizeof record);
            RedrawColors();
            UpdatePreview();
            Changes(CFxSession::kDelayed);
        }
        // Picked or not, the clicked value is the one edited from now on.
        ChangeMode(which);
        return 1;
    }
    return 0;
}

// ---- Colour overlay --------------------------------------------------------------

CWndFX_ColorOverlay::CWndFX_ColorOverlay(CFxWindowLink& link) : CWndFX_ColoredOf(link, fxkind::kColorOverlay)
{
    PercentOpacity(m_opacity);
    m_opacity.BindTo(m_model, &CFxColorOverlayModel::Block::opacity);
    m_opacity.grade = [this](bool on) { m_model.gradeOpacity = on; };
}

unsigned char CWndFX_ColorOverlay::OnCreate(CQNF_LayerSet* set, unsigned short width, unsigned short height)
{
    if (!CWndFX_Base::OnCreate(set, width, height))
        return 0;
    if (!AddParam(m_opacity, "FXcovr_AOpacity", "FXcovr_Opacity", "FXcovr_Opacity", "FXcovr_Opacity2",
                  "FXcovr_RangeOpacity", false) ||
        !AddColour())
        return 0;
    return FinishCreate();
}

void CWndFX_ColorOverlay::UpdatePreview()
{
    uint8_t rgb[3];
    const CFxColorOverlayModel::Block b = SampleColour(rgb);
    SampleFilter().ColorOverlay(rgb, b.opacity);
    RedrawPreview();
}

// ---- Stroke ------------------------------------------------------------------------

CWndFX_Stroke::CWndFX_Stroke(CFxWindowLink& link) : CWndFX_ColoredOf(link, fxkind::kStroke)
{
    PercentOpacity(m_opacity);
    m_opacity.BindTo(m_model, &CFxStrokeModel::Block::opacity);
    m_opacity.grade = [this](bool on) { m_model.gradeOpacity = on; };
    m_size.BindTo(m_model, &CFxStrokeModel::Block::size);
    m_size.grade = [this](bool on) { m_model.gradeSize = on; };
}

unsigned char CWndFX_Stroke::OnCreate(CQNF_LayerSet* set, unsigned short width, unsigned short height)
{
    if (!CWndFX_Base::OnCreate(set, width, height))
        return 0;
    if (!AddParam(m_opacity, "FXstroke_AOpacity", "FXstroke_Opacity", "FXstroke_Opacity", "FXstroke_Opacity2",
                  "FXstroke_RangeOpacity", false) ||
        !AddParam(m_size, "FXstroke_ASize", "FXstroke_Size", "FXstroke_Size", "FXstroke_Size2", "FXstroke_RangeSize",
                  false) ||
        !AddColour())
        return 0;
    return FinishCreate();
}

void CWndFX_Stroke::UpdatePreview()
{
    uint8_t rgb[3];
    const CFxStrokeModel::Block b = SampleColour(rgb);
    SampleFilter().StrokeInside(rgb, b.opacity, b.size);
    RedrawPreview();
}

// ---- Hue-saturation-lightness -----------------------------------------------------

CWndFX_HSL::CWndFX_HSL(CFxWindowLink& link) : CWndFX_Graded(link, fxkind::kHSL), m_model(link, *this)
{
    Bind(m_model);
    m_hue.lo = -180;
    m_hue.hi = 180;
    m_hue.offset = 180;
    m_hue.scale = 360;
    for (CFxParam* p : {&m_saturation, &m_lightness}) {
        p->lo = -100;
        p->hi = 100;
        p->offset = 100;
        p->scale = 200;
    }
    m_hue.BindTo(m_model, &CFxHSLModel::Block::hue);
    m_saturation.BindTo(m_model, &CFxHSLModel::Block::saturation);
    m_lightness.BindTo(m_model, &CFxHSLModel::Block::lightness);
    m_hue.grade = [this](bool on) { m_model.gradeHue = on; };
    m_saturation.grade = [this](bool on) { m_model.gradeSaturation = on; };
    m_lightness.grade = [this](bool on) { m_model.gradeLightness = on; };
}

unsigned char CWndFX_HSL::OnCreate(CQNF_LayerSet* set, unsigned short width, unsigned short height)
{
    if (!CWndFX_Base::OnCreate(set, width, height))
        return 0;
    if (!AddParam(m_hue, "FXhsl_AH", "FXhsl_H", "FXhsl_H1", "FXhsl_H2", "FXhsl_RangeH", true) ||
        !AddParam(m_saturation, "FXhsl_AS", "FXhsl_S", "FXhsl_S1", "FXhsl_S2", "FXhsl_RangeS", true) ||
        !AddParam(m_lightness, "FXhsl_AL", "FXhsl_L", "FXhsl_L1", "FXhsl_L2", "FXhsl_RangeL", true))
        return 0;
    return FinishCreate();
}

void CWndFX_HSL::LoadValues()
{
    m_model.LoadInitialValues();
}

void CWndFX_HSL::UpdatePreview()
{
    const CFxHSLModel::Block b = m_model.SampleBlock();
    SampleFilter().HSLCorrection(b.hue, b.saturation, b.lightness, 1);
    RedrawPreview();
}
