// The graded parameters of the effect windows: a value 1 slider, a value 2
// slider, the edit line showing the edited value, the band between the two
// sliders and, for some, an "A" box choosing whether the parameter is graded.
// One implementation of their messages serves every effect window: each
// window registers its parameters in m_params, and OnSlider, OnEdit,
// OnEditLostFocus and OnGradeBox over that table stand for the per-control
// handlers a window would otherwise have one by one (OnSldrDepth,
// OnEditSize_LF, OnEditBrightness and the like).
#pragma once

#include "effects/WndFX_Base.h"

#include <functional>
#include <type_traits>
#include <vector>

class CQNF_CtrlSlider;

struct CFxParam {
    // Value range; the sliders sit at value + offset, or at the percentage of
    // a stored 0..255 value when percent is set.
    int32_t lo = 0, hi = 100, offset = 0;
    bool percent = false;
    bool depthScale = false;  // the bevel's split depth band
    uint32_t scale = 100;     // slider range, for the band
    // Value 1 (which = 0) or value 2 (which = 1) of the model.
    std::function<int32_t(uint8_t which)> get;
    std::function<void(uint8_t which, int32_t value)> set;
    // The "A" box's state into the model (null: always graded).
    std::function<void(bool graded)> grade;

    CQNF_Control* check = nullptr;
    CQNF_CtrlEditLine* edit = nullptr;
    CQNF_CtrlSlider* slider[2] = {};
    CQNF_Layer band;
    qntRECT_s bandRect{};

    // get and set on a field of the model's value 1 and value 2.
    template <class Model, class Field>
    void BindTo(Model& m, Field field)
    {
        // The value is chosen first: g++ 12 copies the object of a
        // conditional expression used directly with .*, so a store through it
        // would be lost.
        get = [&m, field](uint8_t which) {
            const auto& v = which ? m.value2 : m.value1;
            return int32_t(v.*field);
        };
        set = [&m, field](uint8_t which, int32_t value) {
            auto& v = which ? m.value2 : m.value1;
            using T = std::remove_reference_t<decltype(v.*field)>;
            v.*field = T(value);
        };
    }

    int32_t ToPosition(int32_t value) const;
    int32_t FromPosition(int32_t position) const;
    // What the edit line shows for a slider position, and its clamp.
    int32_t Shown(int32_t position) const { return percent ? position : position - offset; }
    int32_t ShownLo() const { return percent ? 0 : lo; }
    int32_t ShownHi() const { return percent ? 100 : hi; }
};

class CWndFX_Graded : public CWndFX_Base {
public:
    unsigned char OnCtrlMessage(unsigned short msg, unsigned long id, char* name, unsigned char type,
                                void* data) override;
    unsigned char OnLMouseDown(short, short, unsigned char) override { return 0; }

protected:
    CWndFX_Graded(CFxWindowLink& link, const FxKind& kind) : CWndFX_Base(link, kind) {}

    // Adds the controls of a parameter (check may be null) and registers it.
    bool AddParam(CFxParam& p, const char* check, const char* edit, const char* slider1, const char* slider2,
                  const char* band, bool negatives);
    // Value 1 and value 2 from the pieces; then Init sets the controls.
    virtual void LoadValues() {}
    void Init() override;
    // The effect's own messages after the parameters' (0: not handled).
    virtual unsigned char OnOwnMessage(unsigned short, CQNF_Control*, void*) { return 0; }

    void OnSlider(CFxParam& p, uint8_t which, bool tracking);
    void OnEdit(CFxParam& p, const char* text);
    void OnEditLostFocus(CQNF_Control* edit) override;
    void OnGradeBox(CFxParam& p, bool on);
    void EnableAutoAdjustments(bool on) override;
    void OnChangeMode(uint8_t mode) override;
    void RedrawRanges();
    // Puts both sliders at the model's values (no messages) and shows value 1.
    void LoadParams();
    // How a released slider reaches the main window.
    uint16_t m_releaseDelay = CFxSession::kDelayed;

    std::vector<CFxParam*> m_params;
};
