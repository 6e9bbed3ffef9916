#include "effects/FxStatusTips.h"

#include "ui/Control.h"

#include <strings.h>

#include <algorithm>
#include <cstring>

namespace {

bool Ends(const char* name, const char* suffix)
{
    const size_t n = std::strlen(name), s = std::strlen(suffix);
    return n >= s && strcasecmp(name + n - s, suffix) == 0;
}

bool Is(const char* name, const char* other)
{
    return strcasecmp(name, other) == 0;
}

constexpr const char* kClose = "Click to close the effect's window and cancel all \nactions that you have done.";

}  // namespace

const char* FxStatusTip(const char* name, uint8_t kind)
{
    if (!name)
        name = "";
    if (kind == qnctl::EditLine)
        return "Click and enter the desired value of the parameter.\nTo confirm, press Return. To cancel, press Esc.";
    if (Ends(name, "_CloseX") || Ends(name, "_Cancel"))
        return kClose;
    if (Ends(name, "_Help"))
        return "Click for Help, On-line User Guide, About, etc.";
    if (Ends(name, "_Ok"))
        return "Click the button to confirm the actions that you \nhave done. The effect's window closes.";
    if (Ends(name, "_Reset"))
        return "Click to cancel all adjustments and set all parameters \nto their initial values. The effect window "
               "remains open.";
    if (kind == qnctl::Button && Ends(name, "_Preview"))
        return "Click to preview the created effect in the Main Preview \narea. Disabled if the Auto check box is "
               "selected.";
    if (kind == qnctl::CheckBox && Ends(name, "_Preview"))
        return "Select to see the changes in the Main Preview as you \nwill have finished adjusting the effect's any "
               "parameter.";
    if (kind == qnctl::CheckBox && Ends(name, "_AAdjust"))
        return "Turns ON the Auto Adjustments mode.  This enables \nthe Variate/Randomize and the Dual-Slider "
               "controls. ";
    if (kind == qnctl::StaticImage && (Ends(name, "_Object") || Ends(name, "_Object2")))
        return "See in real time all changes that you make in the \neffect's window.";
    if (Ends(name, "_ARND"))
        return "Each click randomizes the distribution of the \nparameter's values within the selected (or all) "
               "pieces.";
    if (kind == qnctl::RadioButton)
        return "Click to set the direction of the distribution of the \nparameter's values within the selected (or "
               "all) pieces.";
    if (Is(name, "FXbevel_HLOpacity"))
        return "Drag the slider to specify the desired value of the \nopacity of the highlight.";
    if (Is(name, "FXbevel_SHOpacity"))
        return "Drag the slider to specify the desired value of the \nopacity of the shadow.";
    if (Is(name, "FXBevel_LightThumb") || Is(name, "Zone_Bevel_3DLight"))
        return "Drag the small ball to specify the direction of the \nlighting by adjusting its Angle and Altitude.";
    if (Is(name, "Zone_Bevel_HLSwatch"))
        return "Click the swatch to start your host's color picker \nand then, choose the desired color of the "
               "highlight.";
    if (Is(name, "Zone_Bevel_SHSwatch"))
        return "Click the swatch to start your host's color picker \nand then, choose the desired color of the shadow.";
    if (Is(name, "FXcovr_Color1") || Is(name, "FXstroke_Color1"))
        return "Click the swatch to choose the color. In the Auto \nAdjustments mode, it specifies the initial color.";
    if (Is(name, "FXcovr_Color2") || Is(name, "FXstroke_Color2"))
        return "Click the swatch to choose the color. In the Auto \nAdjustments mode, it specifies the final color.";
    if (Is(name, "FXcovr_AColor") || Is(name, "FXstroke_AColor"))
        return "Select, if you want the Colors (from Color1 to Color2) \ndistributed within the selected (or all) "
               "pieces.";
    if (Is(name, "FXmblur_Dir1"))
        return "Rotate the slider for the desired value. In the Auto \nAdjustments mode specifies the parameter's "
               "initial value.";
    if (Is(name, "FXmblur_Dir2"))
        return "Rotate the slider for the desired value. In the Auto \nAdjustments mode specifies the parameter's "
               "final value.";
    if (Is(name, "FXiovr_ChooseImage"))
        return "Click and choose between Image Overlay effect's Auto \nor Manual modes. The Auto mode is the default "
               "one.";
    if (kind == qnctl::CheckBox)
        return "Select, if you want the values of the parameter \ndistributed within the selected (or all) pieces.";
    if (kind == qnctl::Slider)
        return "Drag the slider(s) for the desired value(s). In the Auto\n Adjustments mode specifies the range of the "
               "values.";
    return "Use the controls located in this window and adjust the \nparameters of the effect.";
}
