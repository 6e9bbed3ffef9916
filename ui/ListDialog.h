// A modal dialog of a list, a preview of the chosen row and a status line
// (the document's channels for selecting by a channel, the document's layers
// for the image overlay). What such a dialog does alike: Return is OK and Esc
// cancels, the pointer entering or leaving the preview changes the tip, and
// the status line fades. Each dialog builds its controls, fills the list,
// draws the preview and says what OK does.
#pragma once

#include "ui/StatusFader.h"
#include "ui/Window.h"

class CQNF_ListDialog : public CQNF_Window {
public:
    unsigned char OnKeyDown(unsigned char key, unsigned char mods) override;
    unsigned char OnMouseMove(short x, short y, unsigned char mods) override;

    virtual void FillList() = 0;
    virtual void DoRedrawPreview() = 0;
    // A new tip for the status line (it fades in).
    void UpdateStatus(const char* text) { m_Fader.Request(text); }

protected:
    // OK, by its button or by Return.
    virtual void i_Ok() = 0;
    // The tip with the pointer over the preview (in) or just off it.
    virtual const char* i_PreviewTip(bool in) = 0;

    qntRECT_s m_rcPreview{0, 0, 0, 0};
    CStatusFader m_Fader;

private:
    bool m_bInPreview = false;  // the pointer is known to be over the preview
};
