// The edit gallery: a numeric edit line that steps with the arrow keys and
// the wheel, a free-text edit line, a list of a hundred items scrolled by
// its scroll bar, and the preview of a large picture with rulers, scroll
// bars and a navigator. Skinned from a resource file the resource compiler
// makes from ui/gallery/edit.qnui; `tessolo-tool ui-edit` shows it, and the
// tests drive it headless and on a real display.
#pragma once

#include "imaging/Image.h"
#include "ui/CtrlPreview.h"
#include "ui/Window.h"

#include <functional>
#include <string>
#include <vector>

class CQNF_CtrlEditLine;
class CQNF_CtrlList;

namespace qnui {

// Window-local places the tests aim at (as laid out in edit.qnui).
namespace editgallery {
inline constexpr qntRECT_s kNumber{16, 66, 106, 86};
inline constexpr qntRECT_s kText{16, 120, 226, 140};
inline constexpr qntRECT_s kList{16, 174, 216, 474};
inline constexpr qntRECT_s kPreview{262, 76, 742, 400};
inline constexpr qntRECT_s kNavigator{262, 424, 424, 532};
inline constexpr int kItems = 100;
}  // namespace editgallery

// A picture to preview: smooth colour fields, a grid every 100 pixels with
// numbers of its own, and a transparent band, so panning and zooming show.
bool MakeGalleryPicture(CQNF_Image& out, uint16_t width, uint16_t height);
// A PNG (or any picture file) as RGBA. False with a reason.
bool LoadGalleryPicture(const std::string& path, CQNF_Image& out, std::string& error);

class CEditGallery : public CQNF_Window {
public:
    // The picture is not owned and must outlive the window.
    explicit CEditGallery(CQNF_Image* picture) : m_picture(picture) {}

    // Told what happens ("number 13", "text abc", "selected 4 first 2",
    // "zoom 5", "offset 120,40" ...), for tests and demos.
    std::function<void(const std::string&)> onEvent;

    unsigned char OnCreate(CQNF_LayerSet* set, unsigned short width, unsigned short height) override;
    unsigned char OnCtrlMessage(unsigned short msg, unsigned long id, char* name, unsigned char type,
                                void* data) override;
    unsigned char OnKeyDown(unsigned char key, unsigned char mods) override;

    CQNF_CtrlEditLine* Number() const { return m_number; }
    CQNF_CtrlEditLine* Text() const { return m_text; }
    CQNF_CtrlList* List() const { return m_list; }
    CQNF_CtrlPreview& Preview() { return m_preview; }

private:
    CQNF_Control* Add(const char* name, uint8_t type);
    void SetText(const char* control, const std::string& text);
    void Say(const std::string& what);
    // The whole picture, small, under the navigator (which veils all but its frame).
    void PaintThumbnail(qntRECT_s navigator);

    CQNF_Image* m_picture;
    CQNF_CtrlPreview m_preview;
    CQNF_CtrlEditLine* m_number = nullptr;
    CQNF_CtrlEditLine* m_text = nullptr;
    CQNF_CtrlList* m_list = nullptr;
    unsigned long m_info = None;
};

// Scenes a snapshot can show: "rest", "typed" (12 and Up in the number),
// "scrolled" (the list wheeled down and an item picked), "panned" (the
// preview Space-dragged), "zoomed" (the wheel over the preview).
const std::vector<std::string>& EditGalleryScenes();

// The gallery drawn headless after a scene was played, saved as PNG.
bool SnapEditGallery(const std::string& resourcePath, CQNF_Image* picture, const std::string& scene,
                     const std::string& pngPath, std::string& error);

}  // namespace qnui
