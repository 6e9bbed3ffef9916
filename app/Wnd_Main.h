// CWnd_Main: the plug-in's main window over the layout model.
//
// It builds the window "Main" of the resource storage (every control, the
// rulers, the source image and its navigator, the preview, the overlay
// layers the model draws the knives into), keeps the controls in step with
// the mode (cut mode while the knife editor is open, piece mode after a
// Cut, effect mode while an effect window is open), shows the information
// panel, the fading status line and the status tips, and closes with Apply
// or Cancel, which ends the run.
//
// Constructed without being created (tools, tests, the fuzz targets) it is
// the plain layout model: every view hook then does what the model's does.
//
// Files: Wnd_MainCreate.cpp (construction), Wnd_MainModes.cpp (modes, the
// knife editor hand-over, closing, control messages), Wnd_MainStatus.cpp
// (information panel, status line, timer, source image and navigator).
#pragma once

#include "app/MainDisplays.h"
#include "app/MainModel.h"
#include "host/WindowProgress.h"
#include "imaging/Layer.h"
#include "ui/CtrlPreview.h"
#include "ui/Window.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CPluginMain;
class CQNF_CtrlStaticText;
class CQNF_CtrlSlider;
class CQNF_CtrlEditLine;

// The knife editor as the main window opens it. Until the editor window
// exists a minimal editor stands in (CCutterStandIn): it holds the current
// shape and settings, never cuts, and keeps the run in cut mode.
class CMainCutter : public CCutterLink {
public:
    // Shows the editor; false when it cannot be made.
    virtual bool Open(CQNF_Window* parent) = 0;
    // True when the editor cut the image into pieces during this opening.
    virtual bool WasCut() const { return false; }
    // True when the layout changed since the pieces got their effects.
    virtual bool LayoutChanged() const { return false; }
    virtual void SaveLastKnife() {}
    virtual void SaveWindowPosition() {}
    // The effect records its Cut matches to the pieces (92 bytes each).
    virtual void SetEffectRecords(const uint8_t* /*records*/, uint32_t /*count*/) {}
};

class CWnd_Main : public CQNF_Window, public CWnd_MainModel, public CMainProgressTarget {
public:
    CWnd_Main();
    ~CWnd_Main() override;

    // ---- Host side ---------------------------------------------------------
    CPluginMain* m_pPlugin = nullptr;
    void SetPlugin(CPluginMain* plugin);
    // Makes the knife editor the window opens; null: the stand-in.
    using CutterFactory = std::unique_ptr<CMainCutter> (*)();
    void SetCutterFactory(CutterFactory factory) { m_CutterFactory = factory; }

    // ---- State read by the host adapter after the loop --------------------
    uint8_t m_bApply = 0;
    uint8_t m_bCreated = 0;
    uint8_t m_bFXMode = 0;
    uint8_t m_bPMExtras = 0;
    uint8_t m_nUnits = 1;
    CQNF_Image m_MainImage;    // the pieces composited, document size, RGBA
    CQNF_Image m_SourceImage;  // the document as RGBA
    CQNF_Mem m_SelMask;
    uint8_t* m_pSelMask = nullptr;
    int64_t m_nHoverPiece = -1;
    qntMAINPREFS m_Prefs;

    // ---- Window --------------------------------------------------------------
    void Close() override;
    unsigned char OnCreate(CQNF_LayerSet* layers, unsigned short width, unsigned short height) override;
    unsigned char OnTimer(unsigned short id) override;
    unsigned char OnAboveControl(unsigned long index) override;
    unsigned char OnCtrlMessage(unsigned short msg, unsigned long id, char* name, unsigned char type,
                                void* data) override;
    unsigned char OnKeyDown(unsigned char key, unsigned char mods) override;
    unsigned char OnRMouseDown(short, short, unsigned char) override { return 0; }
    unsigned char OnRMouseUp(short, short, unsigned char) override { return 0; }
    void OnCtrlLostFocus(unsigned long index) override;

    // ---- Modes and closing -----------------------------------------------------
    void OnChangeMode();
    void EnterFXMode();
    void ExitFXMode();
    void OnChangeExtrasState();
    bool DoCutterWindow() override;
    void OnCutterClose();
    uint8_t OnApply();
    void localClose() override;
    CMainCutter* GetCutter() const { return m_pCutterWnd.get(); }

    // ---- Displays -----------------------------------------------------------------
    void UpdateInfoPanel(qntPOS p, unsigned char outside);
    void UpdateStatus(const char* text);
    void UpdateStatusProgress(const char* text, uint8_t percent) override;
    void ProcessPendingEvents() override;
    uint8_t GetSourceDataInRGBA();
    uint8_t SetSourceToNavigator();
    const CStatusFader& GetFader() const { return m_Fader; }
    CQNF_CtrlPreview& GetPreview() { return m_Preview; }

    // A control of the window by name and type, or null.
    CQNF_Control* FindControl(const char* name, uint8_t type) const;
    unsigned long FindControlId(const char* name, uint8_t type) const;

    // ---- Model hooks ------------------------------------------------------------------
    void view_RenderAndUpdate(qntRECT_s rect) override;
    void view_StatusClear() override;
    void view_ControlsChanged() override;
    void view_RandomKnotsControls(uint32_t percent, uint8_t notify) override;
    void ShowMessageBox(const char* text, const char* title) override;

private:
    bool i_AddControls();
    bool i_AddControl(const char* name, uint8_t type, unsigned long* id = nullptr);
    void i_ApplyState(const qntCTRLSTATE& s);
    void i_SetEnabled(const char* name, uint8_t type, uint8_t enabled);
    void i_SyncOverlayLayers();
    void i_SyncViewFromPreview();
    bool i_CreateOverlayLayers();
    qntINFOVIEW i_InfoView() const;
    uint8_t i_TipMode() const { return m_bCutMode ? 2 : m_bFXMode ? 4 : 3; }
    void i_Help();
    void i_ShowProgressLine(bool force);

    struct CtrlRef {
        const char* name;
        uint8_t type;
        unsigned long id;
    };
    std::vector<CtrlRef> m_Ctrls;
    uint32_t m_SmallFont = None, m_InfoFont = None, m_EditFont = None;
    unsigned long m_idPreview = None;
    CQNF_CtrlStaticText* m_pInfo = nullptr;
    CQNF_CtrlStaticText* m_pStatus = nullptr;
    CQNF_CtrlSlider* m_pZoom = nullptr;
    CQNF_CtrlSlider* m_pRndSlider = nullptr;
    CQNF_CtrlEditLine* m_pRndEdit = nullptr;
    CQNF_CtrlPreview m_Preview;
    uint32_t m_idKnivesLayer = None, m_idSelKnivesLayer = None, m_idOverlayLayer = None;
    uint32_t m_idHRulerLayer = None, m_idVRulerLayer = None;

    std::unique_ptr<CMainCutter> m_pCutterWnd;
    CutterFactory m_CutterFactory = nullptr;
    std::unique_ptr<LastSettingsStore> m_pStore;

    CStatusFader m_Fader;
    std::string m_ProgressLine;
    uint8_t m_bProgressPending = 0;
    qntPOS m_LastInfoPos{0, 0};
    qntPOS m_LastMousePos{-32000, -32000};
    uint8_t m_nMouseTick = 0;
    unsigned long m_LastTipControl = 0xFFFFFFFE;
    uint8_t m_LastTipMode = 0;
};
