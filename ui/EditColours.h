// The ten colours (by role, as CQNF_CtrlEditLine::SetColors takes them) of
// the edit lines of every window of the plug-in: the main window, the
// dialogs, the knife editor and the effect windows.
#pragma once

#include "core/Types.h"

inline constexpr qntRGBA8 kPluginEditColours[10] = {
    {225, 227, 203, 255}, {250, 247, 193, 255}, {245, 247, 228, 255}, {186, 108, 10, 255}, {225, 227, 203, 255},
    {177, 3, 3, 255},     {177, 3, 3, 255},     {0, 0, 0, 255},       {255, 255, 255, 255}, {191, 193, 170, 255}};
