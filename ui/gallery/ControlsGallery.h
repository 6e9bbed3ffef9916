// The controls gallery: one window with every kind of skinned control of the
// toolkit (buttons in their modes, check boxes, radio groups, a slider whose
// value a static text and a progress bar follow, a dial, a scroll bar with
// arrow buttons, static images and rulers whose marker follows the pointer),
// skinned from a resource file made by the resource compiler from
// ui/gallery/controls.qnui. `tessolo-tool ui-gallery --controls` shows it;
// the tests drive it headless and on a real display.
#pragma once

#include "ui/Window.h"

#include <functional>
#include <string>
#include <vector>

class CQNF_CtrlStaticText;

namespace qnui {

// Window-local places the tests aim at (as laid out in controls.qnui).
namespace controls {
inline constexpr qntRECT_s kPush{24, 62, 108, 86};
inline constexpr qntRECT_s kRepeat{114, 62, 198, 86};
inline constexpr qntRECT_s kCheckB{312, 86, 442, 106};
inline constexpr qntRECT_s kRadioTwo{450, 86, 510, 106};
inline constexpr qntRECT_s kSlider{24, 184, 274, 204};
inline constexpr qntRECT_s kValueText{284, 184, 420, 204};
inline constexpr qntRECT_s kDown{460, 368, 474, 382};
// The slider's path runs from value 0 at its left end to 100 at its right;
// these are the ends of the groove, where the thumb's centre can go.
inline constexpr int32_t kSliderFrom = 34, kSliderTo = 264, kSliderY = 194;
}  // namespace controls

class CControlsGallery : public CQNF_Window {
public:
    // Told what happens ("slider 42", "click Gal_Push", "check Gal_CheckB 1",
    // "first 3" ...), for tests and demos.
    std::function<void(const std::string&)> onEvent;

    unsigned char OnCreate(CQNF_LayerSet* set, unsigned short width, unsigned short height) override;
    unsigned char OnCtrlMessage(unsigned short msg, unsigned long id, char* name, unsigned char type,
                                void* data) override;
    unsigned char OnMouseMove(short x, short y, unsigned char mods) override;
    unsigned char OnKeyDown(unsigned char key, unsigned char mods) override;

    // The control of a name in this window, or null.
    CQNF_Control* Find(const char* name) const;
    // Every control enabled or disabled at once (the "disabled" scene).
    void EnableAll(unsigned char on);

private:
    void Say(const std::string& what);
    void SetText(const char* control, const std::string& text);

    std::vector<unsigned long> m_ids;
    unsigned long m_info = None;
    unsigned long m_small = None;
    unsigned m_pushes = 0, m_repeats = 0, m_menus = 0;
    std::vector<std::string> m_log;
};

// Scenes the snapshot can show: "rest", "hover", "pressed", "pressed-out",
// "checked", "dragged", "disabled".
const std::vector<std::string>& ControlsGalleryScenes();

// The gallery drawn headless after a scene was played with the pointer,
// saved as PNG. False with a reason.
bool SnapControlsGallery(const std::string& resourcePath, const std::string& scene, const std::string& pngPath,
                         std::string& error);

}  // namespace qnui
