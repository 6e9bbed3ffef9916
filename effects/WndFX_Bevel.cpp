// The bevel window: size, depth and soften graded like every effect's
// parameters, the shared highlight and shadow (opacity sliders and colour
// swatches that open the host's picker), and the light zone, where dragging
// the ball and typing the angle and altitude set the light and stay in step.
#include "effects/FxNumbers.h"
#include "effects/FxStatusTips.h"
#include "effects/WndFX_Windows.h"
#include "ui/CtrlEditLine.h"
#include "ui/CtrlSlider.h"
#include "ui/CtrlStatic.h"

#include <cstring>

namespace {

bool Inside(const qntRECT_s& r, int32_t x, int32_t y)
{
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

qnt3D_VECTOR LightOf(const CTessolo::SFX_BEVEL& b)
{
    return qnt3D_VECTOR{b.lightX, b.lightY, b.lightZ};
}

}  // namespace

CWndFX_Bevel::CWndFX_Bevel(CFxWindowLink& link) : CWndFX_Graded(link, fxkind::kBevel), m_model(link, *this)
{
    Bind(m_model);
    auto bind = [this](CFxParam& p, int32_t hi, uint32_t scale, auto field, bool& graded) {
        p.hi = hi;
        p.scale = scale;
        p.BindTo(m_model, field);
        p.grade = [&graded](bool on) { graded = on; };
    };
    bind(m_size, 200, 200, &CFxBevelModel::Block::size, m_model.gradeSize);
    bind(m_depth, 999, 999, &CFxBevelModel::Block::depth, m_model.gradeDepth);
    bind(m_soften, 20, 20, &CFxBevelModel::Block::soften, m_model.gradeSoften);
    m_depth.depthScale = true;
}

unsigned char CWndFX_Bevel::OnCreate(CQNF_LayerSet* set, unsigned short width, unsigned short height)
{
    if (!CWndFX_Base::OnCreate(set, width, height))
        return 0;
    if (!AddParam(m_size, "FXbevel_ASize", "FXbevel_Size", "FXbevel_Size1", "FXbevel_Size2", "FXbevel_RangeSize",
                  false) ||
        !AddParam(m_depth, "FXbevel_ADepth", "FXbevel_Depth", "FXbevel_Depth1", "FXbevel_Depth2",
                  "FXbevel_RangeDepth", false) ||
        !AddParam(m_soften, "FXbevel_ASoften", "FXbevel_Soften", "FXbevel_Soften1", "FXbevel_Soften2",
                  "FXbevel_RangeSoften", false))
        return 0;
    if (!AddBand("FXbevel_HLColor", m_hlSwatch, m_hlRect, qntRGBA8{255, 0, 0, 0}) ||
        !AddBand("FXbevel_SHColor", m_shSwatch, m_shRect, qntRGBA8{255, 0, 0, 0}))
        return 0;

    // The light zone, and the ball as a layer of its own over it.
    if (!GetResourceRect("FXbevel_LightZone", m_zoneRect))
        return 0;
    m_zone = CFxLightZone(m_zoneRect);
    auto* thumb = static_cast<CQNF_CtrlStaticImage*>(Add("FXBevel_LightThumb", qnctl::StaticImage));
    if (!thumb)
        return 0;
    thumb->GetControlLayer()->SetVisible(0);
    qntRECT_s tr{};
    const uint8_t* pixels = thumb->GetStateMemPtr(1, &tr);
    const uint16_t tw = uint16_t(tr.right - tr.left), th = uint16_t(tr.bottom - tr.top);
    if (!pixels || !m_thumb.Create(0, 0, tw, th, qnimg::ModeRGBA))
        return 0;
    for (unsigned p = 0; p < 4; ++p)
        std::memcpy(m_thumb.GetPlane(p), pixels + size_t(p) * tw * th, size_t(tw) * th);
    m_thumb.SetVisible(1);
    LSAddLayer(&m_thumb);

    m_hlEdit = AddEdit("FXbevel_HLOpacity", false);
    m_shEdit = AddEdit("FXbevel_SHOpacity", false);
    m_angle = AddEdit("FXbevel_Angle", false);
    m_altitude = AddEdit("FXbevel_Alt", false);
    m_hlSlider = static_cast<CQNF_CtrlSlider*>(Add("FXbevel_HLOpacity", qnctl::Slider));
    m_shSlider = static_cast<CQNF_CtrlSlider*>(Add("FXbevel_SHOpacity", qnctl::Slider));
    if (!m_hlEdit || !m_shEdit || !m_angle || !m_altitude || !m_hlSlider || !m_shSlider)
        return 0;

    return FinishCreate();
}

void CWndFX_Bevel::Init()
{
    m_model.LoadInitialValues();
    LoadParams();
    m_hlSlider->SetValue(fxnum::PercentFromStored(m_model.value1.highlightOpacity), 0);
    m_shSlider->SetValue(fxnum::PercentFromStored(m_model.value1.shadowOpacity), 0);
    OnOpacity(true, true);
    OnOpacity(false, true);
    SetAutoAdjust(false, true);
    RedrawByVector(LightOf(m_model.value1));
    UpdatePreview();
    UpdateAnAl();
    RedrawRanges();
    RedrawColors();
    Changes(CFxSession::kDelayed);
}

void CWndFX_Bevel::UpdatePreview()
{
    const CFxBevelModel::Block b = m_model.SampleBlock();
    uint8_t hl[3], sh[3];
    fxnum::DisplayColor(b.highlightColor, m_colorMode, hl);
    fxnum::DisplayColor(b.shadowColor, m_colorMode, sh);
    SampleFilter().Bevel(b.size, b.depth, double(b.soften), CFxLightZone::Usable(LightOf(b)), hl,
                         b.highlightOpacity, sh, b.shadowOpacity);
    RedrawPreview();
}

// ---- highlight and shadow ----------------------------------------------------------

void CWndFX_Bevel::OnOpacity(bool highlight, bool tracking)
{
    CQNF_CtrlSlider* slider = highlight ? m_hlSlider : m_shSlider;
    const int32_t percent = int32_t(slider->GetValue());
    SetEditText(highlight ? m_hlEdit : m_shEdit, percent, false);
    if (highlight)
        m_model.SetHighlightPercent(percent);
    else
        m_model.SetShadowPercent(percent);
    UpdatePreview();
    if (!tracking)
        Changes(CFxSession::kDelayed);
}

void CWndFX_Bevel::OnEditOpacity(bool highlight, const char* text)
{
    CQNF_CtrlSlider* slider = highlight ? m_hlSlider : m_shSlider;
    slider->SetValue(uint32_t(fxnum::ParseClamped(text, 0, 100)), 0);
    if (highlight)
        m_model.SetHighlightPercent(int32_t(slider->GetValue()));
    else
        m_model.SetShadowPercent(int32_t(slider->GetValue()));
    UpdatePreview();
}

void CWndFX_Bevel::RedrawColors()
{
    uint8_t rgb[3];
    fxnum::DisplayColor(m_model.value1.highlightColor, m_colorMode, rgb);
    m_hlSwatch.Set(qntRGBA8{rgb[0], rgb[1], rgb[2], 255}, 0x0F);
    fxnum::DisplayColor(m_model.value1.shadowColor, m_colorMode, rgb);
    m_shSwatch.Set(qntRGBA8{rgb[0], rgb[1], rgb[2], 255}, 0x0F);
    Refresh(m_hlRect);
    Refresh(m_shRect);
}

void CWndFX_Bevel::PickColor(bool highlight)
{
    CTessolo::SFX_COLOR& colour = highlight ? m_model.value1.highlightColor : m_model.value1.shadowColor;
    uint8_t record[8];
    std::memcpy(record, &colour, sizeof record);
    if (!m_link.FxPickColor(record))
        return;
    std::memcpy(&colour, record, sizeof record);
    RedrawColors();
    UpdatePreview();
    Changes(CFxSession::kDelayed);
}

// ---- the light ---------------------------------------------------------------------

void CWndFX_Bevel::RedrawByVector(qnt3D_VECTOR v)
{
    m_thumbPoint = m_zone.i_ConvertVectorToXY(v);
    // The ball's centre on the light's point.
    m_thumb.SetPos(short(m_thumbPoint.x - m_thumb.GetImageWidth() / 2),
                   short(m_thumbPoint.y - m_thumb.GetImageHeight() / 2));
    Refresh(qntRECT_s{m_zoneRect.left - 15, m_zoneRect.top - 15, m_zoneRect.right + 15, m_zoneRect.bottom + 15});
}

void CWndFX_Bevel::RedrawByXY(short x, short y)
{
    // The drag moves value 1's light only; every piece takes value 1's.
    const qnt3D_VECTOR v = m_zone.i_ConvertXYToVector(x, y);
    m_model.value1.lightX = v.x;
    m_model.value1.lightY = v.y;
    m_model.value1.lightZ = v.z;
    RedrawByVector(v);
}

void CWndFX_Bevel::UpdateAnAl()
{
    int32_t angle = 0, altitude = 0;
    CFxLightZone::i_ConvertVectorToAnAl(LightOf(m_model.value1), angle, altitude);
    SetEditText(m_angle, CFxLightZone::ClampAngle(angle), false);
    SetEditText(m_altitude, CFxLightZone::ClampAltitude(altitude), false);
}

void CWndFX_Bevel::OnEditAngles(bool angleField, const char* text)
{
    int32_t angle = 0, altitude = 0;
    CFxLightZone::i_ConvertVectorToAnAl(LightOf(m_model.value1), angle, altitude);
    if (angleField)
        angle = fxnum::ParseClamped(text, 0, 359);
    else
        altitude = fxnum::ParseClamped(text, 1, 90);
    const qnt3D_VECTOR v = CFxLightZone::i_ConvertAnAlToVector(angle, altitude);
    m_model.SetLightBoth(v);
    RedrawByVector(v);
    UpdatePreview();
}

unsigned char CWndFX_Bevel::OnLMouseDown(short x, short y, unsigned char)
{
    if (!m_created)
        return 0;
    if (Inside(m_hlRect, x, y) || Inside(m_shRect, x, y)) {
        PickColor(Inside(m_hlRect, x, y));
        return 1;
    }
    if (!m_zone.AcceptsPress(x, y))
        return 0;
    m_dragging = 1;
    RedrawByXY(x, y);
    UpdatePreview();
    UpdateAnAl();
    return 1;
}

unsigned char CWndFX_Bevel::OnMouseMove(short x, short y, unsigned char)
{
    if (!m_created)
        return 0;
    MouseMoveStatusBarText(x, y);
    if (!m_dragging)
        return 0;
    RedrawByXY(x, y);
    UpdatePreview();
    UpdateAnAl();
    return 1;
}

unsigned char CWndFX_Bevel::OnLMouseUp(short, short, unsigned char)
{
    if (!m_dragging)
        return 0;
    m_dragging = 0;
    Changes(CFxSession::kDelayed);
    return 1;
}

unsigned char CWndFX_Bevel::OnAboveControl(unsigned long index)
{
    m_hover = index;
    return CWndFX_Base::OnAboveControl(index);
}

void CWndFX_Bevel::MouseMoveStatusBarText(short x, short y)
{
    CQNF_Control* hover = m_hover == None ? nullptr : GetControl(m_hover);
    if (hover) {
        const char* name = hover->GetName();
        const size_t n = std::strlen(name);
        if (n < 5 || std::strcmp(name + n - 5, "_GFrm") != 0) {
            m_lastZone = 255;
            return;
        }
    }
    const uint8_t zone = Inside(m_zoneRect, x, y) ? 0 : Inside(m_hlRect, x, y) ? 1 : Inside(m_shRect, x, y) ? 2 : 255;
    if (zone == m_lastZone)
        return;
    m_lastZone = zone;
    static const char* const kZones[3] = {"Zone_Bevel_3DLight", "Zone_Bevel_HLSwatch", "Zone_Bevel_SHSwatch"};
    UpdateStatus(FxStatusTip(zone < 3 ? kZones[zone] : "", 255));
}

// ---- messages --------------------------------------------------------------------------

unsigned char CWndFX_Bevel::OnOwnMessage(unsigned short msg, CQNF_Control* c, void* data)
{
    if (c == m_hlSlider || c == m_shSlider) {
        if (msg != qnmsg::ValueChanged && msg != qnmsg::ValueTracking)
            return 0;
        OnOpacity(c == m_hlSlider, msg == qnmsg::ValueTracking);
        return 1;
    }
    if (msg != qnmsg::TextEdited || !data)
        return 0;
    const char* text = static_cast<CQNF_String*>(data)->GetStr();
    if (c == m_hlEdit || c == m_shEdit)
        OnEditOpacity(c == m_hlEdit, text);
    else if (c == m_angle || c == m_altitude)
        OnEditAngles(c == m_angle, text);
    else
        return 0;
    return 1;
}

void CWndFX_Bevel::OnEditLostFocus(CQNF_Control* edit)
{
    CWndFX_Graded::OnEditLostFocus(edit);
    struct Field {
        CQNF_CtrlEditLine* edit;
        int32_t lo, hi;
    } fields[] = {{m_hlEdit, 0, 100}, {m_shEdit, 0, 100}, {m_angle, 0, 359}, {m_altitude, 1, 90}};
    for (const Field& f : fields)
        if (f.edit == edit) {
            SetEditText(f.edit, fxnum::ParseClamped(f.edit->GetText().GetStr(), f.lo, f.hi), true);
            Changes(CFxSession::kDelayed);
        }
}
