// The brightness-contrast, blur and opacity windows.
#include "effects/WndFX_Windows.h"

#include "ui/CtrlStatic.h"

#include <cstring>

// ---- Brightness-contrast ---------------------------------------------------------

CWndFX_BC::CWndFX_BC(CFxWindowLink& link) : CWndFX_Graded(link, fxkind::kBrightnessContrast), m_model(link, *this)
{
    Bind(m_model);
    for (CFxParam* p : {&m_bright, &m_contrast}) {
        p->lo = -100;
        p->hi = 100;
        p->offset = 100;
        p->scale = 200;
    }
    m_bright.BindTo(m_model, &CFxBCModel::Block::brightness);
    m_contrast.BindTo(m_model, &CFxBCModel::Block::contrast);
    m_bright.grade = [this](bool on) { m_model.gradeBrightness = on; };
    m_contrast.grade = [this](bool on) { m_model.gradeContrast = on; };
}

unsigned char CWndFX_BC::OnCreate(CQNF_LayerSet* set, unsigned short width, unsigned short height)
{
    if (!CWndFX_Base::OnCreate(set, width, height))
        return 0;
    if (!AddParam(m_bright, "FXbc_ABrightness", "FXbc_Bright", "FXbc_Bright1", "FXbc_Bright2", "FXbc_RangeBright",
                  true) ||
        !AddParam(m_contrast, "FXbc_AContrast", "FXbc_Contrast", "FXbc_Contrast1", "FXbc_Contrast2",
                  "FXbc_RangeContrast", true))
        return 0;
    return FinishCreate();
}

void CWndFX_BC::LoadValues()
{
    m_model.LoadInitialValues();
}

void CWndFX_BC::UpdatePreview()
{
    const CFxBCModel::Block b = m_model.SampleBlock();
    SampleFilter().BrightnessContrast(b.brightness, b.contrast, 128);
    RedrawPreview();
}

// ---- Blur and opacity --------------------------------------------------------------

unsigned char CWndFX_OneValue::OnCreate(CQNF_LayerSet* set, unsigned short width, unsigned short height)
{
    if (!CWndFX_Base::OnCreate(set, width, height))
        return 0;
    CQNF_String second(m_valueName), band(Prefix());
    second += "2";
    band += "_Range";
    band += m_valueName + std::strlen(Prefix()) + 1;
    if (!AddParam(m_value, nullptr, m_valueName, m_valueName, second.GetStr(), band.GetStr(), false))
        return 0;
    if (m_value.percent) {
        // The opacity's sample is the picture itself, shown at the opacity.
        ShowLayer(SampleLayer(), false);
        SampleObject()->GetControlLayer()->SetVisible(1);
    }
    return FinishCreate();
}

CWndFX_Blur::CWndFX_Blur(CFxWindowLink& link) : CWndFX_OneValue(link, fxkind::kBlur), m_model(link, *this)
{
    Bind(m_model);
    m_valueName = "FXblur_Radius";
    m_value.BindTo(m_model, &CFxBlurModel::Block::radius);
}

void CWndFX_Blur::LoadValues()
{
    m_model.LoadInitialValues();
}

void CWndFX_Blur::UpdatePreview()
{
    SampleFilter().GaussianBlur(double(m_model.SampleBlock().radius), 0, 1);
    RedrawPreview();
}

CWndFX_Opacity::CWndFX_Opacity(CFxWindowLink& link) : CWndFX_OneValue(link, fxkind::kOpacity), m_model(link, *this)
{
    Bind(m_model);
    m_valueName = "FXopac_Opacity";
    m_value.hi = 255;
    m_value.percent = true;
    m_value.BindTo(m_model, &CFxOpacityModel::Block::opacity);
    // A released opacity slider shows in the main window at once.
    m_releaseDelay = CFxSession::kNow;
}

void CWndFX_Opacity::LoadValues()
{
    m_model.LoadInitialValues();
}

void CWndFX_Opacity::UpdatePreview()
{
    SampleObject()->GetControlLayer()->SetOpacity(m_model.SampleBlock().opacity);
    RedrawPreview();
}
