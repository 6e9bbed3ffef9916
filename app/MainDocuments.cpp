// Documents from the main window: Save... and Load... through the platform's
// file dialogs. The file format and the checks are the layout model's
// (Documents.cpp); here the dialogs, the writer callback and the hand-over
// of a loaded layout to the knife editor.
#include "app/Wnd_Main.h"

#include "ui/PlatformFileDialog.h"

namespace {

constexpr const char* kFilterTitle = "Quorvin Tessolo Document (.qntd)";
constexpr unsigned long kFileType = 0x514E7464;  // 'QNtd'

void AddDocumentFilter(CQNF_PlatformFileDialog& dialog, unsigned long type)
{
    CQNF_StringArray ext;
    ext.Add(CQNF_String("qntd"));
    dialog.AddFilter(kFilterTitle, &ext, type);
}

// Writes "QNTS30" and the version-3 block into the file the dialog made; the
// dialog puts it in place only when this answers true.
unsigned char stSaveQNTDocument(CQNF_StdFile* file, void* data)
{
    auto* w = static_cast<CWnd_Main*>(data);
    if (!file || !w)
        return 0;
    CQNF_Mem block;
    uint32_t length = 0;
    if (!w->settings_SaveCurLayoutAndCellSettingsToMem(&block, length))
        return 0;
    const bool ok = file->Write(CWnd_MainModel::kDocumentMagic, 6) == 6 &&
                    (length == 0 || file->Write(block.GetPtr(), length) == int64_t(length));
    return ok ? 1 : 0;
}

}  // namespace

void CWnd_Main::OnSaveDocument()
{
    CQNF_PlatformFileDialog dialog;
    AddDocumentFilter(dialog, 0);
    dialog.SetDefaultSaveName("Untitled.qntd");
    dialog.SetWindowTitle("Save Document...");
    // A name the gate refuses never gets here: the chooser asked again.
    // What failed after it is told with the system's reason.
    if (!dialog.DoFileSaveDialog(stSaveQNTDocument, this, this, kFileType, 0) && dialog.Chosen())
        ShowMessageBox(CQNF_PlatformFileDialog::WithReason("Cannot write file...", dialog.Failure()).c_str(),
                       "Error!");
}

void CWnd_Main::OnLoadDocument()
{
    CQNF_PlatformFileDialog dialog;
    AddDocumentFilter(dialog, kFileType);
    dialog.SetWindowTitle("Load Document...");
    if (!dialog.DoFileOpenDialog(this, 0))
        return;
    const std::string path = dialog.GetResultPath().path;
    if (path.empty())
        return;
    // A damaged or unknown file is refused with its message and the layout
    // the user has stays as it is.
    std::string message;
    if (!settings_LoadDocument(path.c_str(), message))
        return;
    if (CMainCutter* cutter = GetCutter(); cutter && m_nDocumentRecords)
        cutter->SetDocumentRecords(m_DocumentRecords.GetPtr(), m_nDocumentRecords);
}
