#include "effects/WndFX_Graded.h"

#include "effects/FxNumbers.h"
#include "ui/CtrlEditLine.h"
#include "ui/CtrlSlider.h"

#include <algorithm>

int32_t CFxParam::ToPosition(int32_t value) const
{
    // A stored value beyond the range (a damaged document's -128 saturation)
    // would otherwise give a negative position, which the slider reads as
    // its far end: the nearest end of the range instead.
    return percent ? fxnum::PercentFromStored(uint8_t(value)) : std::clamp(value, lo, hi) + offset;
}

int32_t CFxParam::FromPosition(int32_t position) const
{
    return percent ? fxnum::StoredFromPercent(position) : position - offset;
}

bool CWndFX_Graded::AddParam(CFxParam& p, const char* check, const char* edit, const char* slider1,
                             const char* slider2, const char* band, bool negatives)
{
    if (!AddBand(band, p.band, p.bandRect, qntRGBA8{255, 0, 0, 0}))
        return false;
    if (check && !(p.check = Add(check, qnctl::CheckBox)))
        return false;
    p.edit = AddEdit(edit, negatives);
    p.slider[0] = static_cast<CQNF_CtrlSlider*>(Add(slider1, qnctl::Slider));
    p.slider[1] = static_cast<CQNF_CtrlSlider*>(Add(slider2, qnctl::Slider));
    if (!p.edit || !p.slider[0] || !p.slider[1])
        return false;
    m_params.push_back(&p);
    return true;
}

void CWndFX_Graded::Init()
{
    LoadValues();
    LoadParams();
    SetAutoAdjust(false, true);
    RedrawRanges();
    Changes(CFxSession::kDelayed);
}

void CWndFX_Graded::LoadParams()
{
    for (CFxParam* p : m_params) {
        p->slider[1]->SetValue(uint32_t(p->ToPosition(p->get(1))), 0);
        p->slider[0]->SetValue(uint32_t(p->ToPosition(p->get(0))), 0);
    }
    for (CFxParam* p : m_params)
        OnSlider(*p, 0, true);
}

void CWndFX_Graded::OnSlider(CFxParam& p, uint8_t which, bool tracking)
{
    const int32_t position = int32_t(p.slider[which]->GetValue());
    SetEditText(p.edit, p.Shown(position), false);
    p.set(which, p.FromPosition(position));
    RedrawRanges();
    UpdatePreview();
    if (!tracking)
        Changes(m_releaseDelay);
}

void CWndFX_Graded::OnEdit(CFxParam& p, const char* text)
{
    const int32_t shown = fxnum::ParseClamped(text, p.ShownLo(), p.ShownHi());
    const uint8_t mode = Session().Mode();
    p.slider[mode]->SetValue(uint32_t(p.percent ? shown : shown + p.offset), 0);
    for (uint8_t which = 0; which < 2; ++which)
        p.set(which, p.FromPosition(int32_t(p.slider[which]->GetValue())));
    RedrawRanges();
    UpdatePreview();
}

void CWndFX_Graded::OnEditLostFocus(CQNF_Control* edit)
{
    for (CFxParam* p : m_params)
        if (p->edit == edit) {
            const int32_t shown = fxnum::ParseClamped(p->edit->GetText().GetStr(), p->ShownLo(), p->ShownHi());
            SetEditText(p->edit, shown, true);
            Changes(CFxSession::kDelayed);
        }
}

void CWndFX_Graded::OnGradeBox(CFxParam& p, bool on)
{
    if (p.grade)
        p.grade(on);
    for (CQNF_CtrlSlider* s : p.slider) {
        s->Enable(on ? 1 : 0);
        s->Redraw();
    }
    ShowLayer(p.band, on);
}

void CWndFX_Graded::EnableAutoAdjustments(bool on)
{
    CWndFX_Base::EnableAutoAdjustments(on);
    for (CFxParam* p : m_params) {
        if (p->check) {
            if (on) {
                p->check->Enable(1);
                p->check->SetCheck(1, 1);
                OnGradeBox(*p, true);  // also when it was checked already
            } else {
                p->check->SetCheck(0, 0);
                p->check->Enable(0);
                p->check->Redraw();
                if (p->grade)
                    p->grade(true);
                p->slider[0]->Enable(1);
                p->slider[1]->Enable(0);
                p->slider[0]->Redraw();
                p->slider[1]->Redraw();
                ShowLayer(p->band, false);
            }
        } else {
            p->slider[1]->Enable(on ? 1 : 0);
            p->slider[1]->Redraw();
            ShowLayer(p->band, on);
        }
    }
    RedrawRanges();
    UpdatePreview();
}

void CWndFX_Graded::OnChangeMode(uint8_t mode)
{
    for (CFxParam* p : m_params)
        OnSlider(*p, mode, true);
}

void CWndFX_Graded::RedrawRanges()
{
    for (CFxParam* p : m_params) {
        const uint32_t a = p->slider[0]->GetValue(), b = p->slider[1]->GetValue();
        const uint32_t width = p->band.GetImageWidth();
        const fxnum::BandSpan s =
            p->depthScale ? fxnum::DepthBand(a, b, width) : fxnum::LinearBand(a, b, p->scale, width);
        DrawBand(p->band, p->bandRect, s.from, s.to);
    }
}

unsigned char CWndFX_Graded::OnCtrlMessage(unsigned short msg, unsigned long id, char* name, unsigned char type,
                                           void* data)
{
    if (!m_created)
        return 0;
    if (CWndFX_Base::OnCtrlMessage(msg, id, name, type, data))
        return 1;
    CQNF_Control* c = GetControl(id);
    if (!c)
        return 0;
    for (CFxParam* p : m_params) {
        if (type == qnctl::Slider && (msg == qnmsg::ValueChanged || msg == qnmsg::ValueTracking)) {
            for (uint8_t which = 0; which < 2; ++which)
                if (c == p->slider[which]) {
                    ChangeMode(which);
                    OnSlider(*p, which, msg == qnmsg::ValueTracking);
                    return 1;
                }
        } else if (type == qnctl::EditLine && msg == qnmsg::TextEdited && c == p->edit && data) {
            OnEdit(*p, static_cast<CQNF_String*>(data)->GetStr());
            return 1;
        } else if (type == qnctl::CheckBox && msg == qnmsg::Clicked && c == p->check) {
            OnGradeBox(*p, c->GetCheck() != 0);
            UpdatePreview();
            RedrawRanges();
            Changes(CFxSession::kDelayed);
            return 1;
        }
    }
    return OnOwnMessage(msg, c, data);
}
