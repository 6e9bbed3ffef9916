// What a static text of a headless window shows the user: its text when the
// control's pixels on the screen are those a render of the window's layers
// gives now, else a note of what is wrong. A text set but not shown, or
// shown at opacity 0, never reads as shown.
#pragma once

#include "platform/Headless.h"
#include "ui/CtrlStatic.h"
#include "ui/Window.h"

#include <cstdint>
#include <string>
#include <vector>

namespace screentest {

inline std::string ShownText(plat::HeadlessPlatform& hp, CQNF_Window& w, const char* name)
{
    const unsigned long id = w.FindControlByName(name, qnctl::StaticText);
    auto* t = id == CQNF_Window::None ? nullptr : static_cast<CQNF_CtrlStaticText*>(w.GetControl(id));
    if (!t)
        return std::string("<no static text ") + name + ">";
    const qntRECT_s r = t->GetRenderRect();
    auto pixels = [&] {
        std::vector<uint32_t> px;
        for (int32_t y = r.top; y < r.bottom; ++y)
            for (int32_t x = r.left; x < r.right; ++x)
                px.push_back(hp.Pixel(w.GetWindowHandle(), x, y));
        return px;
    };
    const std::vector<uint32_t> screen = pixels();
    w.RenderRect(r);
    w.UpdateRect(r);
    const std::string text = t->GetText().GetStr();
    if (screen != pixels())
        return "<not on the screen: " + text + ">";
    if (t->GetOpacity() == 0 && !text.empty())
        return "<invisible: " + text + ">";
    return text;
}

}  // namespace screentest
