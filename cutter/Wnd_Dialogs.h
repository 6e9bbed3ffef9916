// The knife editor's small modal dialogs, on the models of DialogModels.h:
//
//   CWnd_ShapeName         window "ShapeName": the name of a preset; OK only
//                          while the name is not blank
//   CWnd_AutoLayout        window "AutoLayout": triangles or one of the two
//                          hexagon kinds, rows, columns, Regular
//   CWnd_CustomMutations   window "CMuts": the three mutation amounts
//
// Each ends with 1 on OK (its button, or Return while OK is enabled; Return
// is consumed either way) and 0 on Cancel, the close box or Esc. Keys and
// window positions are stored only after OK.
#pragma once

#include "app/Wnd_PrefHost.h"
#include "cutter/CutterModel.h"
#include "cutter/DialogModels.h"
#include "ui/Window.h"

#include <functional>
#include <string>

class CQNF_CtrlEditLine;
class CQNF_CtrlSlider;
class CQNF_Storage;
class CWnd_MainModel;

// What the three dialogs share: controls by name and type, help, keys.
class CWnd_CutterDialog : public CQNF_Window {
public:
    ~CWnd_CutterDialog() override;
    unsigned char OnKeyDown(unsigned char key, unsigned char mods) override;

protected:
    CWnd_CutterDialog(CDialogHost& host, const char* okName) : m_Host(host), m_pOkName(okName) {}
    CQNF_Control* i_Find(const char* name, unsigned char type) const;
    // Buttons CloseX, Cancel, Ok and Help (menu mode) of prefix.
    bool i_AddButtons(const char* prefix);
    CQNF_CtrlEditLine* i_AddEdit(const char* name, unsigned long font, bool numeric);
    // The buttons every dialog has; true when name was one of them.
    bool i_Button(const std::string& name, short helpX);
    bool i_Popup(unsigned short msg, void* data);
    virtual void OnOk() = 0;
    // Return came while OK is disabled: the field it took the focus from
    // gets it back, so that what the user types next is not lost.
    virtual void OnReturnRefused() {}

    CDialogHost& m_Host;
    const char* m_pOkName;
};

class CWnd_ShapeName : public CWnd_CutterDialog {
public:
    // parentName: "Cutter" or "Pres Mng", the owner part of the position key.
    CWnd_ShapeName(CDialogHost& host, const std::string& name, const char* parentName)
        : CWnd_CutterDialog(host, "ShapeName_Ok"), m_Name(name), m_pParentName(parentName)
    {
    }
    const std::string& Name() const { return m_Name; }

    unsigned char OnCreate(CQNF_LayerSet*, unsigned short, unsigned short) override;
    unsigned char OnCtrlMessage(unsigned short msg, unsigned long id, char* name, unsigned char type,
                                void* data) override;
    void OnOk() override;
    void OnReturnRefused() override;
    // Esc puts the field's text back without a change message: OK follows
    // the text the edit ended with.
    void OnCtrlLostFocus(unsigned long index) override;

private:
    // OK only for a name that is not blank.
    void i_UpdateOk(const char* text);

    std::string m_Name;
    const char* m_pParentName;
    CQNF_CtrlEditLine* m_pEdit = nullptr;
};

class CWnd_AutoLayout : public CWnd_CutterDialog {
public:
    CWnd_AutoLayout(CDialogHost& host, const CAutoLayoutModel& model)
        : CWnd_CutterDialog(host, "AutoLayout_Ok"), m_Model(model)
    {
    }
    const CAutoLayoutModel& Model() const { return m_Model; }

    void Close() override;
    unsigned char OnCreate(CQNF_LayerSet*, unsigned short, unsigned short) override;
    unsigned char OnTimer(unsigned short id) override;
    unsigned char OnAboveControl(unsigned long index) override;
    unsigned char OnCtrlMessage(unsigned short msg, unsigned long id, char* name, unsigned char type,
                                void* data) override;
    void OnCtrlLostFocus(unsigned long index) override;
    void OnOk() override;
    void SetInitStates();

private:
    void i_ShowKind();
    void i_ShowValues(bool rows, bool cols);

    CAutoLayoutModel m_Model;
    CQNF_CtrlSlider* m_pSldr[2] = {};      // rows, columns
    CQNF_CtrlEditLine* m_pEdit[2] = {};    // rows, columns
    CStatusFader m_Status;
};

class CWnd_CustomMutations : public CWnd_CutterDialog {
public:
    CWnd_CustomMutations(CDialogHost& host, const CCustomMutationsModel& model)
        : CWnd_CutterDialog(host, "CMuts_Ok"), m_Model(model)
    {
    }
    const CCustomMutationsModel& Model() const { return m_Model; }

    unsigned char OnCreate(CQNF_LayerSet*, unsigned short, unsigned short) override;
    unsigned char OnCtrlMessage(unsigned short msg, unsigned long id, char* name, unsigned char type,
                                void* data) override;
    void OnCtrlLostFocus(unsigned long index) override;
    void OnOk() override;
    void SetInitStates();

private:
    CCustomMutationsModel m_Model;
    CQNF_CtrlSlider* m_pSldr[3] = {};    // S, U, H
    CQNF_CtrlEditLine* m_pEdit[3] = {};  // S, U, H
};

// ---- Entry points of the knife editor ----------------------------------------------
// The shape name over parent; true with name on OK. name comes in as the
// name proposed.
bool DoShapeNameDialog(CQNF_Window* parent, CDialogHost& host, const char* parentName, std::string& name);
// Auto layout: reads the keys, runs the dialog over the editor and on OK
// stores them and has main lay the layout. 1 OK, 0 Cancel, -1 not shown.
int DoAutoLayoutWindow(CQNF_Window* editor, CDialogHost& host, CWnd_MainModel* main);
// Custom mutations: reads the keys, runs the dialog over the editor; on OK
// onOk gets the dialog and "plugin.conf" (the editor stores the amounts and
// takes them in the custom clone mode). 1 OK, 0 Cancel, -1 not shown.
int DoCustomMutationsWindow(CQNF_Window* editor, CDialogHost& host,
                            const std::function<void(const CCustomMutationsModel&, CQNF_Storage*)>& onOk);
// The same with the editor's own OnCustomMutationsOk (the knife editor's
// also re-sends the clone mode to the main window).
template <class Cutter>
int DoCustomMutationsWindow(CQNF_Window* editor, CDialogHost& host, Cutter& cutter)
{
    return DoCustomMutationsWindow(editor, host, [&cutter](const CCustomMutationsModel& d, CQNF_Storage* conf) {
        cutter.OnCustomMutationsOk(d, conf);
    });
}
