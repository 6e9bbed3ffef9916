// The two export dialogs of the main window and the exports they start.
//
//   CWnd_Export    window "Export": the pieces export (selected, all or the
//                  merged picture; one layered PSD or PNG files; names,
//                  composite, bevel, hidden pieces, positions), over
//                  CExportDialogModel
//   CWnd_ExportLM  window "ExportLM": the knives export (selected or all;
//                  EPS or AI), over CExportLMDialogModel
//
// Both show the statistics and the result count, fade their status line,
// open the help menu, end with 0 on Cancel, the close box and Esc, and with
// 1 on Export while the result is not 0. Settings and the window position are
// stored only after Export; the file is then chosen in the save dialog and
// written all or nothing (a failure leaves no file and says so).
#pragma once

#include "app/ExportSettings.h"
#include "app/Wnd_PrefHost.h"
#include "core/Progress.h"
#include "ui/Window.h"

#include <string>
#include <vector>

class CMainProgressTarget;

class CQNF_CtrlStaticText;
class CTessolo;
class CWnd_MainModel;

// What the two dialogs share: the controls every export dialog has (the
// close box, Cancel, Export and Help buttons, the status line and the
// statistics display, all named after the window), the status line and its
// timer, the help menu, the keys, and OK's storing of the window position.
// Each dialog adds its radios, texts and check boxes and answers them.
class CWnd_ExportBase : public CQNF_Window {
public:
    ~CWnd_ExportBase() override;
    void Close() override;
    unsigned char OnCreate(CQNF_LayerSet*, unsigned short, unsigned short) override;
    unsigned char OnCtrlMessage(unsigned short msg, unsigned long id, char* name, unsigned char type,
                                void* data) override;
    unsigned char OnTimer(unsigned short id) override;
    unsigned char OnLMouseDown(short, short, unsigned char) override { return 0; }
    unsigned char OnKeyDown(unsigned char key, unsigned char mods) override;
    unsigned char OnAboveControl(unsigned long index) override;
    unsigned char OnMouseMove(short x, short y, unsigned char mods) override;
    // The controls from the settings, then the display.
    virtual void OnChangeSettings() = 0;
    virtual void UpdateDisplay() = 0;
    // Export: ends the dialog with 1 unless the dialog holds it back.
    void OnOK();

protected:
    struct NAMES {
        const char* const* names;
        size_t count;
    };
    CWnd_ExportBase(CDialogHost& host, const char* window, short helpX)
        : m_Host(host), m_pWindowName(window), m_nHelpX(helpX)
    {
    }
    CQNF_Control* i_Ctrl(const char* name) const;
    // The control named the window's name + suffix ("_Display").
    CQNF_Control* i_Own(const char* suffix) const;
    bool i_On(const char* name) const;
    // Adds the buttons, radios, check boxes and texts by name; false when one
    // is missing.
    bool i_Add(const char* const* names, size_t count, unsigned char type);
    void i_SetText(const char* name, const std::string& text);
    void i_Check(const char* name, bool on);
    void i_Enable(const char* name, bool on);
    // The dialog's own controls, added after the common buttons (the texts
    // hold the status line and the display).
    virtual NAMES i_Radios() const = 0;
    virtual NAMES i_Texts() const = 0;
    virtual NAMES i_Checks() const { return NAMES{nullptr, 0}; }
    // A radio or check box changed; a dialog without check boxes leaves them.
    virtual void i_OnRadio(const std::string& name) = 0;
    virtual bool i_OnCheck(const std::string&) { return false; }
    // Whether Export may end the dialog (it may ask the user first).
    virtual bool i_MayExport() = 0;
    // The zone tip when the pointer is above no control.
    virtual const char* i_ZoneAt(short x, short y) = 0;

    CDialogHost& m_Host;
    const char* m_pWindowName;
    short m_nHelpX;
    unsigned long m_nInfoFont = None;
    CStatusFader m_Status;

private:
    // The tab stop of the statistics' numbers.
    void i_AddStatisticsTab(const char* name);
};

class CWnd_Export : public CWnd_ExportBase {
public:
    CWnd_Export(CDialogHost& host, const CExportStats& stats, const CExportSettings& settings)
        : CWnd_ExportBase(host, "Export", 346), m_Model(stats, settings)
    {
    }
    const CExportDialogModel& Model() const { return m_Model; }
    void OnChangeSettings() override;
    void UpdateDisplay() override;

private:
    NAMES i_Radios() const override;
    NAMES i_Texts() const override;
    NAMES i_Checks() const override;
    void i_OnRadio(const std::string& name) override;
    bool i_OnCheck(const std::string& name) override;
    bool i_MayExport() override;
    const char* i_ZoneAt(short x, short y) override;
    CExportDialogModel m_Model;
};

class CWnd_ExportLM : public CWnd_ExportBase {
public:
    CWnd_ExportLM(CDialogHost& host, const CExportLMStats& stats, const CExportLMSettings& settings)
        : CWnd_ExportBase(host, "ExportLM", 318), m_Model(stats, settings)
    {
    }
    const CExportLMDialogModel& Model() const { return m_Model; }
    void OnChangeSettings() override;
    void UpdateDisplay() override;

private:
    NAMES i_Radios() const override;
    NAMES i_Texts() const override;
    void i_OnRadio(const std::string& name) override;
    bool i_MayExport() override;
    const char* i_ZoneAt(short x, short y) override;
    CExportLMDialogModel m_Model;
};

// The picture the pieces were cut from, as the export writes it.
struct EXPORTPICTURE {
    uint16_t width = 0;
    uint16_t height = 0;
    // The canvas the pieces are exported on (0: width x height) and where
    // the picture lies there: the host's picture, of which a transparent
    // border was left out of the cut.
    uint16_t canvasWidth = 0;
    uint16_t canvasHeight = 0;
    uint16_t left = 0;
    uint16_t top = 0;
    double resolution = 72.0;
    const uint8_t* iccProfile = nullptr;
    uint32_t iccSize = 0;
    uint8_t colorMode = 1;  // 0 grey, 1 RGB, 2 CMYK: only RGB is exported
    // The selection and transparency the pieces were cut under (width x
    // height), which the window and Apply limit them to; null: none.
    const uint8_t* limit = nullptr;
    // The document's colour planes (width x height), where the merged
    // picture starts; null: none.
    const uint8_t* colours[3] = {};
};

// What an export run did, for the caller's status line and for tests.
struct EXPORTOUTCOME {
    int dialog = 0;                  // 1 OK, 0 Cancel, -1 not shown
    bool written = false;            // the files are in place
    std::vector<std::string> files;  // what was written
};

// The progress of a pieces export: told to the host, whose "no" stops the
// export, and shown in the main window's status line (when there is one),
// where Esc stops it too. Each percentage is passed on once.
class CExportProgress : public CQNF_Progress {
public:
    static constexpr const char* kText = "Exporting is in progress:";
    CExportProgress(CDialogHost& host, CMainProgressTarget* status) : m_Host(host), m_pStatus(status) {}
    void Progress(uint8_t percent, void* data) override;
    // Lets the windows repaint (the status line moves while the export runs)
    // and looks for Esc.
    bool IsCanceled() override;

private:
    CDialogHost& m_Host;
    CMainProgressTarget* m_pStatus;
};

// The pieces export of piece mode: refuses a document that is not RGB with
// a message, counts the pieces, runs the dialog over parent, and on Export
// stores the settings, asks for the file in the save dialog and exports,
// with its progress in status (the main window's status line; may be null),
// which afterwards fades back to its tip.
EXPORTOUTCOME DoExportDialog(CQNF_Window* parent, CDialogHost& host, CTessolo& engine,
                             const EXPORTPICTURE& picture, CMainProgressTarget* status = nullptr);
// The knives export of cut mode, the same way.
EXPORTOUTCOME DoExportLMDialog(CQNF_Window* parent, CDialogHost& host, CWnd_MainModel& model,
                               const EXPORTPICTURE& picture);
