// The toolkit's own control classes, by type, for CQNF_Window::AddControl.
#include "ui/Control.h"
#include "ui/CtrlButton.h"
#include "ui/CtrlEditLine.h"
#include "ui/CtrlList.h"
#include "ui/CtrlScrollBar.h"
#include "ui/CtrlSlider.h"
#include "ui/CtrlStatic.h"

namespace qnctl {

namespace {
template <typename T>
CQNF_Control* Make()
{
    return new T;
}
}  // namespace

Maker BuiltInMaker(uint8_t type)
{
    switch (type) {
    case Slider: return &Make<CQNF_CtrlSlider>;
    case StaticImage: return &Make<CQNF_CtrlStaticImage>;
    case StaticText: return &Make<CQNF_CtrlStaticText>;
    case Progress: return &Make<CQNF_CtrlProgress>;
    case Button: return &Make<CQNF_CtrlButton>;
    case RadioButton: return &Make<CQNF_CtrlRadioButton>;
    case CheckBox: return &Make<CQNF_CtrlCheckBox>;
    case EditLine: return &Make<CQNF_CtrlEditLine>;
    case ScrollBar: return &Make<CQNF_CtrlScrollBar>;
    case List: return &Make<CQNF_CtrlList>;
    case Ruler: return &Make<CQNF_CtrlRuler>;
    default: return nullptr;
    }
}

}  // namespace qnctl
