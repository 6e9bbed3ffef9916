// The motion blur window: the direction on two dials (one per value, each
// drawing its direction as a line through its centre) and the radius graded
// like every effect's parameters.
#include "effects/FxNumbers.h"
#include "effects/WndFX_Windows.h"
#include "ui/CtrlEditLine.h"
#include "ui/CtrlSlider.h"

#include <cmath>

CWndFX_MBlur::CWndFX_MBlur(CFxWindowLink& link) : CWndFX_Graded(link, fxkind::kMotionBlur), m_model(link, *this)
{
    Bind(m_model);
    m_radius.BindTo(m_model, &CFxMBlurModel::Block::distance);
    m_radius.grade = [this](bool on) { m_model.gradeRadius = on; };
}

unsigned char CWndFX_MBlur::OnCreate(CQNF_LayerSet* set, unsigned short width, unsigned short height)
{
    if (!CWndFX_Base::OnCreate(set, width, height))
        return 0;
    const char* names[2] = {"FXmblur_Dir1", "FXmblur_Dir2"};
    if (!AddParam(m_radius, "FXmblur_ARadius", "FXmblur_Radius", "FXmblur_Radius1", "FXmblur_Radius2",
                  "FXmblur_RangeRadius", false))
        return 0;
    m_angleBox = Add("FXmblur_AAngle", qnctl::CheckBox);
    for (int i = 0; i < 2; ++i) {
        m_dialEdit[i] = AddEdit(names[i], true);
        m_dial[i] = static_cast<CQNF_CtrlSlider*>(Add(names[i], qnctl::Slider));
        if (!m_dialEdit[i] || !m_dial[i])
            return 0;
    }
    if (!m_angleBox)
        return 0;
    // Each dial's line, in its own colour, lies over the dial's face (the
    // skin draws the face opaque).
    const qntRGBA8 colours[2] = {{231, 179, 117, 0}, {0, 217, 56, 0}};
    for (int i = 0; i < 2; ++i)
        if (!AddBand(names[i], m_dialLayer[i], m_dialRect[i], colours[i]))
            return 0;
    return FinishCreate();
}

void CWndFX_MBlur::Init()
{
    m_model.LoadInitialValues();
    m_dial[1]->SetValue(fxnum::AngleToDial(m_model.value2.angle), 0);
    m_dial[0]->SetValue(fxnum::AngleToDial(m_model.value1.angle), 0);
    LoadParams();
    OnDial(0, true);
    OnDial(1, true);
    SetAutoAdjust(false, true);
    RedrawRanges();
    Changes(CFxSession::kDelayed);
}

void CWndFX_MBlur::UpdatePreview()
{
    const CFxMBlurModel::Block b = m_model.SampleBlock();
    SampleFilter().MotionBlur(double(b.angle), double(b.distance), 0, 1);
    RedrawPreview();
}

void CWndFX_MBlur::OnDial(uint8_t which, bool tracking)
{
    const int32_t angle = fxnum::DialToAngle(m_dial[which]->GetValue());
    SetEditText(m_dialEdit[which], angle, false);
    (which ? m_model.value2 : m_model.value1).angle = int8_t(angle);
    RedrawSlidersBG();
    UpdatePreview();
    if (!tracking)
        Changes(CFxSession::kDelayed);
}

void CWndFX_MBlur::OnEditDial(uint8_t which, const char* text)
{
    const int32_t angle = fxnum::ParseClamped(text, -90, 90);
    m_dial[which]->SetValue(fxnum::AngleToDial(angle), 0);
    (which ? m_model.value2 : m_model.value1).angle = int8_t(angle);
    RedrawSlidersBG();
    UpdatePreview();
}

void CWndFX_MBlur::RedrawSlidersBG()
{
    constexpr double kPi = 3.14159265358979323846;
    for (int i = 0; i < 2; ++i) {
        CQNF_Layer& layer = m_dialLayer[i];
        layer.Set(qntRGBA8{0, 0, 0, 0}, 0x08);
        m_drawing.SetDestination(&layer);
        const double c = layer.GetImageWidth() * 0.5, s = c - 10.0;
        const double a = (i ? m_model.value2.angle : m_model.value1.angle) * kPi / 180.0;
        m_drawing.DrawHQLine(qntFPOS{c + s * std::cos(a), c - s * std::sin(a)},
                             qntFPOS{c - s * std::cos(a), c + s * std::sin(a)}, 4.0, 1, 1, 1);
        Refresh(m_dialRect[i]);
    }
}

void CWndFX_MBlur::OnAngleBox(bool on)
{
    m_model.gradeAngle = on;
    for (int i = 0; i < 2; ++i) {
        m_dial[i]->Enable(on ? 1 : 0);
        m_dial[i]->Redraw();
        ShowLayer(m_dialLayer[i], on);
    }
}

void CWndFX_MBlur::EnableAutoAdjustments(bool on)
{
    CWndFX_Graded::EnableAutoAdjustments(on);
    if (on) {
        m_angleBox->Enable(1);
        m_angleBox->SetCheck(1, 1);
        OnAngleBox(true);
    } else {
        m_angleBox->SetCheck(0, 0);
        m_angleBox->Enable(0);
        m_angleBox->Redraw();
        m_model.gradeAngle = true;
        m_dial[0]->Enable(1);
        m_dial[1]->Enable(0);
        m_dial[0]->Redraw();
        m_dial[1]->Redraw();
        ShowLayer(m_dialLayer[0], true);
        ShowLayer(m_dialLayer[1], false);
    }
    RedrawSlidersBG();
    UpdatePreview();
}

void CWndFX_MBlur::OnChangeMode(uint8_t mode)
{
    OnDial(mode, true);
    CWndFX_Graded::OnChangeMode(mode);
}

unsigned char CWndFX_MBlur::OnOwnMessage(unsigned short msg, CQNF_Control* c, void* data)
{
    for (uint8_t i = 0; i < 2; ++i) {
        if (c == m_dial[i] && (msg == qnmsg::ValueChanged || msg == qnmsg::ValueTracking)) {
            ChangeMode(i);
            OnDial(i, msg == qnmsg::ValueTracking);
            return 1;
        }
        if (c == m_dialEdit[i] && msg == qnmsg::TextEdited && data) {
            OnEditDial(i, static_cast<CQNF_String*>(data)->GetStr());
            return 1;
        }
    }
    if (c == m_angleBox && msg == qnmsg::Clicked) {
        OnAngleBox(c->GetCheck() != 0);
        UpdatePreview();
        RedrawRanges();
        RedrawSlidersBG();
        Changes(CFxSession::kDelayed);
        return 1;
    }
    return 0;
}

void CWndFX_MBlur::OnEditLostFocus(CQNF_Control* edit)
{
    CWndFX_Graded::OnEditLostFocus(edit);
    for (CQNF_CtrlEditLine* e : m_dialEdit)
        if (e == edit) {
            SetEditText(e, fxnum::ParseClamped(e->GetText().GetStr(), -90, 90), true);
            Changes(CFxSession::kDelayed);
        }
}
