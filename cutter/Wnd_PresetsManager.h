// CWnd_PresetsManager: the modal presets manager (window "PresMng") over the
// knife editor, on CWnd_PresetsManagerModel.
//
// It shows the presets as a multiple-selection list of names and as pages of
// icons drawn from each shape (8 small or 2 big a page, scrolled by record),
// keeps the list's selection and the icons' together, and turns the buttons,
// clicks and keys into the model's operations: send a shape to the editor
// (double click, Return, the two To Cutter buttons), rename (through the
// shape name dialog), delete, sort, import a ".qnth" shape, save, append or
// replace shape sets through the real file dialogs. Closing writes the
// presets back when they changed.
//
// Also here: the knife editor's other preset and shape file commands, one
// call each (DoAddShapeToPresets, DoLoadShapeFile, DoSaveShapeFile).
#pragma once

#include "app/Wnd_PrefHost.h"
#include "cutter/PresetsModel.h"
#include "imaging/Layer.h"
#include "ui/Window.h"

#include <functional>
#include <string>

class CQNF_CtrlList;
class CQNF_CtrlScrollBar;
class CQNF_CtrlStaticText;

class CWnd_PresetsManager : public CQNF_Window, public CWnd_PresetsManagerModel {
public:
    using Spline = CWnd_CutterModel::SPLINE_STRUCT;
    // toCutter receives the shape sent to the editor.
    CWnd_PresetsManager(CDialogHost& host, CQNF_PresetsFile& store, std::function<void(const Spline&)> toCutter)
        : CWnd_PresetsManagerModel(&store), m_Host(host), m_ToCutter(std::move(toCutter))
    {
    }
    ~CWnd_PresetsManager() override;

    void Close() override;
    unsigned char OnCreate(CQNF_LayerSet*, unsigned short, unsigned short) override;
    unsigned char OnTimer(unsigned short id) override;
    unsigned char OnLMouseUp(short x, short y, unsigned char mods) override;
    unsigned char OnLMouseDoubleClick(short x, short y, unsigned char mods) override;
    unsigned char OnKeyDown(unsigned char key, unsigned char mods) override;
    unsigned char OnKeyChar(unsigned char key, unsigned char mods) override;
    unsigned char OnAboveControl(unsigned long index) override;
    unsigned char OnCtrlMessage(unsigned short msg, unsigned long id, char* name, unsigned char type,
                                void* data) override;

    // The icon rectangles of the current mode, window coordinates.
    qntRECT_s IconRect(uint32_t slot) const;
    CQNF_CtrlList* List() const { return m_pList; }

    void FillInWindow();
    void DoRedrawPreview();
    void DoUpdateScrollSize();
    void DoRecalcFirstByListWindow();
    void DoBtnStates();
    void RunItemAction(bool option);
    void SendToCutter();
    void RenameSelected();
    void ImportShape();
    void LoadSet(bool replace);
    void SaveSet();

private:
    CQNF_Control* i_Ctrl(const char* name) const;
    void i_RebuildList();
    void i_SelectionFromList();
    void i_SelectionToList();
    void i_Message(ShapeIoError e);
    // A failure to read or write the store itself: a store that may be
    // neither is told why, any other failure as i_Message tells it.
    void i_StoreMessage(ShapeIoError e);
    void i_StatusNow(const char* text);

    CDialogHost& m_Host;
    std::function<void(const Spline&)> m_ToCutter;
    qntRECT_s m_Preview{};
    qntRECT_s m_Small[8]{}, m_SelSmall[8]{}, m_Big[2]{}, m_SelBig[2]{};
    CQNF_Layer m_SelLayer, m_DrawLayer;
    CQNF_CtrlList* m_pList = nullptr;
    CQNF_CtrlScrollBar* m_pHBar = nullptr;
    CQNF_CtrlStaticText* m_pStatusText = nullptr;
    CQNF_CtrlStaticText* m_pBigName[2] = {};
    CStatusFader m_Status;
    uint8_t m_bClosed = 0;
    uint8_t m_bMovingBar = 0;  // the window moves the icon bar itself
};

// The presets manager over the knife editor; toCutter receives each shape
// sent. Returns 0 when closed, -1 when the window could not be made.
int DoPresMngWindow(CQNF_Window* editor, CDialogHost& host, CQNF_PresetsFile& store,
                    const std::function<void(const CWnd_CutterModel::SPLINE_STRUCT&)>& toCutter);
// Add to Presets: the shape name dialog over the editor, then the shape is
// appended to the store. True when added (a failure was shown).
bool DoAddShapeToPresets(CQNF_Window* editor, CDialogHost& host, CQNF_PresetsFile& store,
                         const CWnd_CutterModel::SPLINE_STRUCT& shape);
// The editor's Load and Save of ".qnth" shape files through the file
// dialogs; failures are shown. Load changes shape only on success.
bool DoLoadShapeFile(CQNF_Window* parent, CDialogHost& host, CWnd_CutterModel::SPLINE_STRUCT& shape);
bool DoSaveShapeFile(CQNF_Window* parent, CDialogHost& host, const CWnd_CutterModel::SPLINE_STRUCT& shape);
