// CWnd_Pref: the modal Preferences dialog (window "Pref") over the main
// window. It edits a copy of the display preferences (CPrefDialogModel):
// the knife opacity in percent, the colours of the six swatches through the
// host's colour picker, the two radio pairs and fit on load, with a live
// preview and a fading status line. Nothing reaches the main window or
// "plugin.conf" unless the dialog ends with OK (the button or Return).
#pragma once

#include "app/Preferences.h"
#include "app/Wnd_PrefHost.h"
#include "imaging/Layer.h"
#include "ui/Window.h"

class CQNF_CtrlEditLine;

class CWnd_Pref : public CQNF_Window {
public:
    CWnd_Pref(CDialogHost& host, const CPreferences& values) : m_Host(host), m_Model(values) {}
    ~CWnd_Pref() override;

    CPrefDialogModel& Model() { return m_Model; }
    const CPrefDialogModel::RECTS& Rects() const { return m_Rects; }

    void Close() override;
    unsigned char OnCreate(CQNF_LayerSet*, unsigned short, unsigned short) override;
    unsigned char OnTimer(unsigned short id) override;
    unsigned char OnMouseMove(short x, short y, unsigned char mods) override;
    unsigned char OnLMouseDown(short x, short y, unsigned char mods) override;
    unsigned char OnKeyDown(unsigned char key, unsigned char mods) override;
    unsigned char OnAboveControl(unsigned long index) override;
    unsigned char OnCtrlMessage(unsigned short msg, unsigned long id, char* name, unsigned char type,
                                void* data) override;
    void OnCtrlLostFocus(unsigned long index) override;

    void RedrawColors();
    void DoRedrawPreview();

private:
    void i_ShowLayer(CQNF_Layer& layer);
    CQNF_Control* i_Ctrl(const char* name) const;

    CDialogHost& m_Host;
    CPrefDialogModel m_Model;
    CPrefDialogModel::RECTS m_Rects{};
    CQNF_Layer m_Preview;
    CQNF_Layer m_Swatch[CPrefDialogModel::kSwatchCount];
    CQNF_CtrlEditLine* m_pOpacity = nullptr;
    unsigned long m_nOpacityId = None;
    CStatusFader m_Status;
};

// Runs the dialog over parent (the main window). On OK the values go into
// prefs and all ten records are written to host.Conf() when it is open;
// *opacityChanged (when given) tells whether the knife opacity changed, so
// that the main window rebuilds its knife overlay in cut mode. Returns 1 for
// OK, 0 for Cancel, -1 when the window could not be made (nothing changes).
int DoPrefDialog(CQNF_Window* parent, CDialogHost& host, CPreferences& prefs, bool* opacityChanged = nullptr);
