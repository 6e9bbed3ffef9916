// CWnd_MessageBox: the plug-in's own question box, and CWnd_About, the About
// window. Both are modal: the opener constructs one, creates it from its
// resource window ("MessageBox", "About"), runs DoModal and destroys it.
#pragma once

#include "core/String.h"
#include "ui/Window.h"

#include <cstdint>
#include <string>

class CQNF_8BFPluginVirtual;
class CQNF_Font;

class CWnd_MessageBox : public CQNF_Window {
public:
    // Left button codes: 0 none, 1 OK, 2 YES. Right: 0 none, 1 OK, 2 YES,
    // 3 NO, 4 CANCEL.
    enum : uint8_t { NoButton = 0, OK = 1, YES = 2, NO = 3, CANCEL = 4 };

    // Stores copies of the texts and the button codes; call before creating.
    void Init(const char* header, const char* message, unsigned char left, unsigned char right);

    unsigned char OnCreate(CQNF_LayerSet*, unsigned short, unsigned short) override;
    unsigned char OnKeyDown(unsigned char key, unsigned char mods) override;
    unsigned char OnCtrlMessage(unsigned short msg, unsigned long id, char* name, unsigned char type,
                                void* data) override;

    // The offset that centres a text of the measured size in a control of
    // the given size: x falls back to 3 when it would be 0, 1 or 2, and a
    // text larger than its control gets a negative offset.
    static void CentreOffset(long ctrlW, long ctrlH, long textW, long textH, short& x, short& y);

    // The text broken into lines (joined by '\n') each at most width pixels
    // wide in font: at spaces where it can be, and a word wider than a line
    // (a long path) after its last '/' that fits, or else where it must,
    // never inside a character. Lines the text breaks itself stay broken.
    static std::string WrapToWidth(CQNF_Font& font, const std::string& text, long width);

    // Constructs, creates over parent, runs and destroys a box: 1 for OK or
    // YES, 0 for NO, CANCEL or a box that could not be created.
    static long Ask(CQNF_Window* parent, const char* header, const char* message, unsigned char left,
                    unsigned char right);

private:
    // Sets a text control's text, broken to its width; true when it could.
    // The rows the text needs beyond the control's height go to m_moreRows,
    // the row the box is stretched at to give them to m_stretchAt.
    bool i_SetText(const char* control, uint32_t font, const CQNF_String& text);

    int32_t m_stretchAt = 0;
    uint16_t m_moreRows = 0;

    uint8_t m_left = NoButton;
    uint8_t m_right = CANCEL;
    CQNF_String m_message;
    CQNF_String m_header;
    uint32_t m_headerFont = None, m_messageFont = None;
    uint32_t m_buttons[6] = {None, None, None, None, None, None};
};

class CWnd_About : public CQNF_Window {
public:
    CQNF_8BFPluginVirtual* m_pPlugin = nullptr;

    unsigned char OnCreate(CQNF_LayerSet*, unsigned short, unsigned short) override { return 1; }
    unsigned char OnLMouseDown(short, short, unsigned char) override { return localClose(); }
    unsigned char OnRMouseDown(short, short, unsigned char) override { return localClose(); }
    unsigned char OnKeyDown(unsigned char, unsigned char) override { return localClose(); }
    unsigned char OnKeyUp(unsigned char, unsigned char) override { return localClose(); }
    unsigned char OnKeyChar(unsigned char, unsigned char) override { return localClose(); }

private:
    // Any click or key ends the window's modal loop (once).
    unsigned char localClose()
    {
        if (!IsClosing())
            EndModal(0);
        return 1;
    }
};
