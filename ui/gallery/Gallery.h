// The toolkit gallery: a shaped demo window built from a small resource file,
// with buttons that open a modal dialog, a pop-up menu and the file dialogs,
// keyboard shortcuts, and a status panel that says what happened. The
// `tessolo-tool ui-gallery` command shows it, and the toolkit's tests drive it
// on a real display and headless.
#pragma once

#include "imaging/Layer.h"
#include "imaging/TextLayer.h"
#include "ui/Control.h"
#include "ui/Window.h"

#include <functional>
#include <string>

namespace qnui {

// Command numbers of the gallery's buttons and shortcuts.
namespace gallery {
inline constexpr unsigned short Dialog = 2001;   // Command-D
inline constexpr unsigned short Menu = 2002;     // Command-M
inline constexpr unsigned short Open = 2003;     // Command-O
inline constexpr unsigned short Save = 2004;     // Command-S
inline constexpr unsigned short Quit = 2005;     // Command-Q
inline constexpr unsigned short Info = 2006;     // Command-I

// Window-local places the tests aim at.
inline constexpr qntRECT_s kCaption{0, 0, 380, 34};
inline constexpr qntRECT_s kDialogButton{20, 56, 185, 88};
inline constexpr qntRECT_s kDialogOk{180, 96, 260, 124};
inline constexpr uint32_t kBodyColour = 0xEEF1F5;
}  // namespace gallery

// Writes the gallery's resource file: windows, captions, fonts (from the
// DejaVu fonts), strings, rectangles and shortcuts. False with a reason.
bool BuildGalleryResource(const std::string& path, std::string& error);

// A push button drawn by code on a layer of its own; reports a click to its
// window as control message 272.
class CGalleryButton : public CQNF_Control {
public:
    CGalleryButton(qntRECT_s rect, const char* label, CQNF_Font* font);
    unsigned char Init(void* window, unsigned long id, CQNF_String name, CQNF_Storage* storage) override;
    void Redraw() override;
    unsigned char PtAboveControl(short x, short y) override;
    unsigned char OnLMouseDown(short x, short y, unsigned char mods) override;
    unsigned char OnMouseMove(short x, short y, unsigned char mods) override;
    unsigned char OnLMouseUp(short x, short y, unsigned char mods) override;
    qntRECT_s GetRenderRect() override { return m_rect; }

private:
    qntRECT_s m_rect;
    CQNF_String m_label;
    CQNF_Font* m_font;
    CQNF_Layer m_face;
    CQNF_TextLayer m_text;
    bool m_down = false;
};

class CGalleryWindow : public CQNF_Window {
public:
    // Told what happens ("dialog-open", "dialog-shown", "dialog-closed 1",
    // "shortcut 2006", "menu 3", ...), for tests and for the status panel.
    std::function<void(const std::string&)> onEvent;

    unsigned char OnCreate(CQNF_LayerSet* set, unsigned short width, unsigned short height) override;
    unsigned char OnCtrlMessage(unsigned short msg, unsigned long id, char* name, unsigned char type,
                                void* data) override;
    unsigned char OnKeyDown(unsigned char key, unsigned char mods) override;
    void Note(const std::string& what);
    void Command(unsigned short command);

private:
    void SetStatus(const std::string& text);
    unsigned long m_font = None, m_bold = None;
    CQNF_TextLayer m_title, m_status, m_help;
    CQNF_Layer m_panel;
};

class CGalleryDialog : public CQNF_Window {
public:
    explicit CGalleryDialog(CGalleryWindow* owner) : m_owner(owner) {}
    unsigned char OnCreate(CQNF_LayerSet* set, unsigned short width, unsigned short height) override;
    unsigned char OnCtrlMessage(unsigned short msg, unsigned long id, char* name, unsigned char type,
                                void* data) override;
    unsigned char OnKeyDown(unsigned char key, unsigned char mods) override;
    unsigned char OnTimer(unsigned short id) override;

private:
    CGalleryWindow* m_owner;
    unsigned long m_font = None;
    CQNF_TextLayer m_title, m_text;
    unsigned long m_ok = None, m_cancel = None;
};

// The gallery as a picture: the window drawn headless on a plain desktop,
// outside its shape the desktop showing. False with a reason.
bool SnapGallery(const std::string& resourcePath, const std::string& pngPath, std::string& error);

}  // namespace qnui
