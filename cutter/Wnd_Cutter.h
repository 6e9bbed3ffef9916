// CWnd_Cutter: the knife editor's window on the toolkit.
//
// Built from the window "Cutter" of the resource storage: the curve and the
// extras layers over the preview rectangle, every control of the editor, the
// status line faded by timer 1, the cursors of the preview, the pop-up menus
// (help, save, clone and the shape menu) and, during a Cut, the cover, the
// progress bar and the abort button while every other control is filtered.
// Everything it decides is CWnd_CutterEditor's; this class turns toolkit
// events into the editor's calls and shows the editor's CONTROLS.
//
// The editor and the toolkit window share some handler names (OnCreate,
// OnTimer, OnMouseMove, Close, ...), non-virtual in the editor: this class
// overrides the window's and calls the editor's versions qualified.
//
// The presets manager, adding to the presets, loading and saving shape
// files, auto layout and the custom mutations dialog run over this window
// with the running application's dialog services; the presets live in
// "ckss.data" of the plug-in's folder.
//
// CMainCutterWindow is what the main window opens in cut mode: it creates the
// window beside the main window, hands it the main window's layout model, the
// engine, the Cut's source image and the pieces' effect records, and answers
// the main window's hand-over calls. qnMakeCutterWindow is the factory the
// main window takes.
#pragma once

#include "app/Wnd_Main.h"
#include "cutter/CutterEditor.h"
#include "ui/Window.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

class CDialogHost;
class CPluginMain;
class CQNF_CtrlEditLine;
class CQNF_CtrlProgress;
class CQNF_CtrlStaticText;

// Where the editor and the main window go when the editor has no stored
// place: beside the main window where the screen leaves room on one side;
// else, when the screen is wide enough for both and the main window was not
// placed by the user, the two side by side, centred; else as close to the
// main window's left as the screen allows. Both stay on the screen.
struct qntFIRSTPLACE {
    qntPOS editor;
    qntPOS main;
};
qntFIRSTPLACE qnFirstPlacement(const qntRECT_s& screen, const qntRECT_s& main, int32_t editorW, int32_t editorH,
                               bool mainStored);

class CWnd_Cutter : public CQNF_Window, public CWnd_CutterEditor {
public:
    static constexpr const char* kWindowName = "Cutter";

    CWnd_Cutter();
    ~CWnd_Cutter() override;

    // Creates and shows the window at the stored position (or centred);
    // the editor must have its main link, engine and source set before.
    // Without one, qnFirstPlacement places it (and may move the main window
    // unless mainStored).
    bool CreateWindow(CQNF_Window* parent, qntPOS at, bool mainStored = true);
    // Stores the window's place under ("Cutter", "Main").
    void settings_SaveWindowPosition();
    void SetPlugin(CPluginMain* plugin) { m_pPlugin = plugin; }

    // A control of the window by name and type, or null.
    CQNF_Control* FindControl(const char* name, uint8_t type) const;

    // ---- Toolkit window ------------------------------------------------------
    void Close() override;
    unsigned char OnCreate(CQNF_LayerSet* layers, unsigned short width, unsigned short height) override;
    unsigned char OnTimer(unsigned short id) override;
    unsigned char OnMouseMove(short x, short y, unsigned char mods) override;
    unsigned char OnLMouseDown(short x, short y, unsigned char mods) override;
    unsigned char OnLMouseUp(short x, short y, unsigned char mods) override;
    unsigned char OnRMouseDown(short, short, unsigned char) override { return 0; }
    unsigned char OnRMouseUp(short, short, unsigned char) override { return 0; }
    unsigned char OnContextMenu(short x, short y, unsigned char mods) override;
    unsigned char OnKeyDown(unsigned char key, unsigned char mods) override;
    unsigned char OnKeyUp(unsigned char, unsigned char) override { return 0; }
    unsigned char OnKeyChar(unsigned char, unsigned char) override { return 0; }
    unsigned char OnSetCursor(short x, short y) override;
    unsigned char OnAboveControl(unsigned long index) override;
    unsigned char OnCtrlMessage(unsigned short msg, unsigned long id, char* name, unsigned char type,
                                void* data) override;
    void OnCtrlLostFocus(unsigned long index) override;
    // With no stored place the editor shows beside the main window at once.
    qntPOS FirstPlace(const std::vector<plat::Rect>& screens, unsigned short width, unsigned short height) override;

    // ---- Editor view hooks ---------------------------------------------------------
    void view_ControlsChanged() override;
    void view_UpdatePreview() override;
    uint8_t view_GetKeysStatus() const override;
    void view_Beep() override;
    std::string view_GetStatusTip(const char* name, uint8_t enabled, uint8_t type) override;
    void view_PumpOwnEvents() override;
    void DoCloneMenu() override;
    void DoShaperMenu(qntPOS at) override;
    void DoHelpMenu() override;
    bool view_HelpMenuDispatcher(uint16_t id) override;
    void DoSaveMenu() override;
    void view_Close() override;
    void DoPresMngWindow() override;
    void DoAddShapeToPresets() override;
    void opLoadShape() override;
    void opSaveShapeQNTH() override;
    void DoAutoLayoutWindow() override;
    void SetCustomMutationsMode() override;

    // The main window whose layout the auto layout lays (null: none).
    void SetMainWindow(CWnd_Main* main) { m_pMainWnd = main; }
    // "ckss.data" in the plug-in's folder; empty without a plug-in.
    std::string PresetsPath() const;

    // The last status text put on the status line.
    const std::string& ShownStatus() const { return m_StatusShown; }

private:
    bool i_AddControl(const char* name, uint8_t type, unsigned long* id = nullptr);
    bool i_AddControls();
    void i_Popup(const std::vector<MENUITEM>& items, qntPOS at);
    void i_SetCutting(uint8_t cutting);
    void i_SetEnabled(const char* name, uint8_t type, uint8_t enabled);
    void i_SetEdit(CQNF_CtrlEditLine* edit, const std::string& text, std::string& shown);
    void i_SetSlider(const char* name, uint32_t value, uint32_t& shown);
    void i_ShowStatus();

    std::unique_ptr<CDialogHost> i_DialogHost();

    CPluginMain* m_pPlugin = nullptr;
    // Where both windows go on an opening without a stored place, worked
    // out when the window is made.
    std::optional<qntFIRSTPLACE> m_firstPlace;
    bool m_mainStored = true;
    CWnd_Main* m_pMainWnd = nullptr;
    uint32_t m_SmallFont = None, m_InfoFont = None, m_EditFont = None;
    uint32_t m_idCurveLayer = None, m_idExtrasLayer = None;
    CQNF_CtrlStaticText* m_pStatus = nullptr;
    CQNF_CtrlStaticText* m_pCloneDisp = nullptr;
    CQNF_CtrlProgress* m_pProgress = nullptr;
    CQNF_CtrlEditLine* m_pEdits[5] = {};  // smoothness, rows, columns, thickness, knob size
    // What the controls show now, so that only changes are pushed (an edit
    // line being typed in keeps its caret).
    CONTROLS m_Shown;
    uint8_t m_bControlsReady = 0;
    uint8_t m_bCuttingShown = 0;
    std::vector<uint8_t> m_FilteredBefore;
    std::string m_StatusShown;
    uint8_t m_StatusOpacity = 255;
};

// The editor window as the main window opens it in cut mode.
class CMainCutterWindow : public CMainCutter {
public:
    CMainCutterWindow();
    ~CMainCutterWindow() override;

    bool Open(CQNF_Window* parent) override;
    bool WasCut() const override { return m_Wnd->m_bClosingAfterCut != 0; }
    bool LayoutChanged() const override { return m_Wnd->m_bFXMatchedByRC != 0; }
    bool IsCutting() const override { return m_Wnd->m_bCutting != 0; }
    void SaveLastKnife() override;
    void settings_SaveWindowPosition() override { m_Wnd->settings_SaveWindowPosition(); }
    void SetEffectRecords(const uint8_t* records, uint32_t count) override
    {
        m_Wnd->SetOpeningRecords(records, count);
    }
    void SetDocumentRecords(const uint8_t* records, uint32_t count) override
    {
        m_Wnd->SetDocumentRecords(records, count);
    }

    // ---- CCutterLink, answered by the editor -------------------------------------
    bool IsOpen() const override { return m_Wnd->IsOpen(); }
    const SHAPE& GetShape() const override { return m_Wnd->GetShape(); }
    void GetMutation(float& s, float& h, float& u) const override { m_Wnd->GetMutation(s, h, u); }
    uint32_t GetKnobSize() const override { return m_Wnd->GetKnobSize(); }
    uint32_t GetThickness() const override { return m_Wnd->GetThickness(); }
    void ExtSetRows(uint32_t rows) override { m_Wnd->ExtSetRows(rows); }
    void ExtSetColumns(uint32_t columns) override { m_Wnd->ExtSetColumns(columns); }
    void ShowRows(uint32_t rows) override { m_Wnd->ShowRows(rows); }
    void NotifiedByMain_NewKnobSize(uint32_t size, uint8_t mixed) override
    {
        m_Wnd->NotifiedByMain_NewKnobSize(size, mixed);
    }
    void NotifiedByMain_NewThickness(uint32_t thickness, uint8_t mixed, uint8_t razorCut) override
    {
        m_Wnd->NotifiedByMain_NewThickness(thickness, mixed, razorCut);
    }
    void SetAntiAlias(uint8_t on) override { m_Wnd->SetAntiAlias(on); }
    void SetInitialStatesToControls() override { m_Wnd->SetInitialStatesToControls(); }
    void opSetShapeFromData(const SHAPE& shape, uint8_t notify) override { m_Wnd->opSetShapeFromData(shape, notify); }

    CWnd_Cutter& Window() { return *m_Wnd; }

private:
    std::unique_ptr<CWnd_Cutter> m_Wnd;
    std::unique_ptr<CCutterMainLink> m_Link;
};

// The factory the main window takes (CWnd_Main::SetCutterFactory).
std::unique_ptr<CMainCutter> qnMakeCutterWindow();
