// CAppDialogHost: the dialogs' services from the running application: the
// plug-in's "plugin.conf" and window positions, the application's status
// tips and help menu, the host's colour picker and the skinned message box.
//
//   CAppDialogHost host(app);
//   DoPrefDialog(this, host, prefs, &opacityChanged);
#pragma once

#include "app/Wnd_PrefHost.h"

class CApp;

class CAppDialogHost : public CDialogHost {
public:
    explicit CAppDialogHost(CApp& app) : m_App(app) {}

    CQNF_Storage* Conf() override;
    qntPOS WindowPos(const char* name, const char* owner) override;
    void PutWindowPos(const char* name, const char* owner, qntPOS pos) override;
    std::string StatusTip(const char* control, const char* window, uint8_t mode, uint8_t type) override;
    void FillHelpMenu(CQNF_PlatformPopupMenu& menu) override;
    bool HelpMenuDispatcher(unsigned short id, CQNF_Window* window) override;
    bool SelectColor(qntRGBA8& colour) override;
    // A box that cannot be made counts as OK, as a question nobody could
    // answer must not stop the command.
    bool AskOkCancel(CQNF_Window* parent, const char* title, const char* text) override;
    void ShowMessage(CQNF_Window* parent, const char* title, const char* text) override;

private:
    CApp& m_App;
};
