#include "app/Wnd_Export.h"

#include "app/KnivesExport.h"
#include "app/MainModel.h"
#include "app/PiecesExport.h"
#include "core/SafeFile.h"
#include "core/SafeFileRunInputs.h"
#include "engine/Tessolo.h"
#include "host/WindowProgress.h"
#include "imaging/Font.h"
#include "ui/CtrlButton.h"
#include "ui/CtrlStatic.h"
#include "ui/KeyCodes.h"
#include "ui/PlatformFileDialog.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>

#include <sys/stat.h>

namespace {

bool Inside(const qntRECT_s& r, short x, short y)
{
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

}  // namespace

void CExportProgress::Progress(uint8_t percent, void*)
{
    if (percent == m_lastPercent)
        return;
    m_lastPercent = percent;
    if (m_pStatus)
        m_pStatus->UpdateStatusProgress(kText, percent);
    if (!m_Host.Progress(percent))
        Cancel();
}

bool CExportProgress::IsCanceled()
{
    if (!m_canceled && m_pStatus) {
        m_pStatus->ProcessPendingEvents();
        if (m_pStatus->StopRequested())
            Cancel();
    }
    return m_canceled != 0;
}

// ---- Shared ------------------------------------------------------------------------

CWnd_ExportBase::~CWnd_ExportBase()
{
    if (GetWindowHandle())
        Close();
}

void CWnd_ExportBase::Close()
{
    m_Status.Stop(*this);
    CQNF_Window::Close();
}

CQNF_Control* CWnd_ExportBase::i_Ctrl(const char* name) const { return qnFindControl(*this, name); }

CQNF_Control* CWnd_ExportBase::i_Own(const char* suffix) const
{
    return i_Ctrl((std::string(m_pWindowName) + suffix).c_str());
}

bool CWnd_ExportBase::i_On(const char* name) const
{
    CQNF_Control* c = i_Ctrl(name);
    return c && c->GetCheck();
}

bool CWnd_ExportBase::i_Add(const char* const* names, size_t count, unsigned char type)
{
    for (size_t i = 0; i < count; ++i) {
        const unsigned long id = AddControl(names[i], type);
        if (id == None)
            return false;
        if (type == qnctl::StaticText) {
            auto* t = static_cast<CQNF_CtrlStaticText*>(GetControl(id));
            t->SetFont(GetFont(m_nInfoFont));
            t->SetText("", 3, 0, 12);
        }
    }
    return true;
}

unsigned char CWnd_ExportBase::OnCreate(CQNF_LayerSet*, unsigned short, unsigned short)
{
    const std::string w = m_pWindowName;
    const std::string own[] = {w + "_CloseX", w + "_Cancel", w + "_Export", w + "_Help"};
    const char* const buttons[] = {own[0].c_str(), own[1].c_str(), own[2].c_str(), own[3].c_str()};
    const NAMES radios = i_Radios(), texts = i_Texts(), checks = i_Checks();
    m_nInfoFont = AddFont("Info Font");
    if (m_nInfoFont == None || !i_Add(buttons, 4, qnctl::Button) ||
        !i_Add(radios.names, radios.count, qnctl::RadioButton) ||
        !i_Add(texts.names, texts.count, qnctl::StaticText) || !i_Add(checks.names, checks.count, qnctl::CheckBox))
        return 0;
    static_cast<CQNF_CtrlButton*>(i_Own("_Help"))->SetMenuMode(1);
    i_AddStatisticsTab((w + "_Display").c_str());
    OnChangeSettings();
    auto* status = static_cast<CQNF_CtrlStaticText*>(i_Own("_Status"));
    if (!status)
        return 0;
    m_Status.Start(*this, status);
    OnAboveControl(None);
    return 1;
}

void CWnd_ExportBase::i_AddStatisticsTab(const char* name)
{
    auto* t = static_cast<CQNF_CtrlStaticText*>(i_Ctrl(name));
    if (!t)
        return;
    // The numbers stand at 65 pixels, or just right of the longest label
    // when the font makes the labels wider than that.
    unsigned long w = 0, h = 0;
    CQNF_Font* font = GetFont(m_nInfoFont);
    unsigned short tab = 65;
    if (font && font->GetTextSize(CQNF_String(" ...selected :"), 12, w, h) && w + 6 > tab)
        tab = static_cast<unsigned short>(w + 6);
    t->AddTab(tab);
}

void CWnd_ExportBase::i_SetText(const char* name, const std::string& text)
{
    if (auto* t = static_cast<CQNF_CtrlStaticText*>(i_Ctrl(name))) {
        // Each call shows its change.
        if (t->GetOpacity() != 255)
            t->SetOpacity(255);
        t->SetText(text.c_str());
    }
}

void CWnd_ExportBase::i_Check(const char* name, bool on)
{
    if (CQNF_Control* c = i_Ctrl(name))
        if ((c->GetCheck() != 0) != on)
            c->SetCheck(on ? 1 : 0, 0);
}

void CWnd_ExportBase::i_Enable(const char* name, bool on)
{
    if (CQNF_Control* c = i_Ctrl(name))
        if ((c->IsEnabled() != 0) != on)
            c->Enable(on ? 1 : 0);
}

void CWnd_ExportBase::OnOK()
{
    if (!i_MayExport())
        return;
    const qntRECT_s r = GetWindowRect();
    m_Host.PutWindowPos(m_pWindowName, "Main", qntPOS{r.left, r.top});
    EndModal(1);
}

unsigned char CWnd_ExportBase::OnCtrlMessage(unsigned short msg, unsigned long, char* name, unsigned char type,
                                             void* data)
{
    const std::string n = name ? name : "";
    const std::string w = m_pWindowName;
    switch (type) {
    case qnctl::Button:
        if (n == w + "_Cancel" || n == w + "_CloseX")
            EndModal(0);
        else if (n == w + "_Export")
            OnOK();
        else if (n == w + "_Help")
            qnDialogHelpMenu(m_Host, this, m_nHelpX, 30);
        return 1;
    case qnctl::RadioButton:
        i_OnRadio(n);
        OnChangeSettings();
        return 1;
    case qnctl::CheckBox:
        if (!i_OnCheck(n))
            return 0;
        OnChangeSettings();
        return 1;
    case 255:
        return qnDialogPopup(m_Host, this, msg, data);
    default:
        return 0;
    }
}

unsigned char CWnd_ExportBase::OnTimer(unsigned short id) { return m_Status.OnTimer(id) ? 1 : 0; }

unsigned char CWnd_ExportBase::OnKeyDown(unsigned char key, unsigned char)
{
    if (key != qnkey::Escape)
        return 0;
    EndModal(0);
    return 1;
}

unsigned char CWnd_ExportBase::OnAboveControl(unsigned long index)
{
    m_Status.Request(qnControlTip(m_Host, *this, index, m_pWindowName));
    return 1;
}

unsigned char CWnd_ExportBase::OnMouseMove(short x, short y, unsigned char)
{
    if (m_underPointer >= GetControlCount())
        m_Status.Request(m_Host.StatusTip(i_ZoneAt(x, y), m_pWindowName, 1, 255));
    return 0;
}

// ---- Pieces ------------------------------------------------------------------------

CWnd_ExportBase::NAMES CWnd_Export::i_Radios() const
{
    static const char* const kRadios[] = {"Export_Merged", "Export_Selected",     "Export_All",
                                          "Export_ToPSD",  "Export_ToPNG",        "Export_NamingSimple",
                                          "Export_NamingExtended"};
    return NAMES{kRadios, 7};
}

CWnd_ExportBase::NAMES CWnd_Export::i_Texts() const
{
    static const char* const kTexts[] = {"Export_Status", "Export_Display", "Export_NamingDisp"};
    return NAMES{kTexts, 3};
}

CWnd_ExportBase::NAMES CWnd_Export::i_Checks() const
{
    static const char* const kChecks[] = {"Export_Composite", "Export_WOBevel", "Export_Hidden",
                                          "Export_FullCanvas"};
    return NAMES{kChecks, 4};
}

void CWnd_Export::OnChangeSettings()
{
    const CExportSettings& s = m_Model.Settings();
    i_Check("Export_Merged", s.exportWhat == CExportSettings::kMerged);
    i_Check("Export_Selected", s.exportWhat == CExportSettings::kSelected);
    i_Check("Export_All", s.exportWhat == CExportSettings::kAll);
    i_Check("Export_ToPSD", s.exportTo == CExportSettings::kToPSD);
    i_Check("Export_ToPNG", s.exportTo == CExportSettings::kToPNG);
    i_Check("Export_NamingSimple", s.namingMode == CExportSettings::kNamesSimple);
    i_Check("Export_NamingExtended", s.namingMode == CExportSettings::kNamesExtended);
    i_Check("Export_Composite", s.includeComposite != 0);
    i_Check("Export_WOBevel", s.exportWOBevel != 0);
    i_Check("Export_Hidden", s.includeHiddenPieces != 0);
    i_Check("Export_FullCanvas", s.preservePosition != 0);
    const CExportDialogModel::ENABLED& e = m_Model.Enabled();
    i_Enable("Export_Selected", e.selected);
    i_Enable("Export_Composite", e.composite);
    i_Enable("Export_WOBevel", e.woBevel);
    i_Enable("Export_Hidden", e.hidden);
    i_Enable("Export_FullCanvas", e.fullCanvas);
    i_Enable("Export_Export", e.exportButton);
    i_Enable("Export_NamingSimple", e.naming);
    i_Enable("Export_NamingExtended", e.naming);
    UpdateDisplay();
}

void CWnd_Export::UpdateDisplay()
{
    i_SetText("Export_Display", m_Model.DisplayText());
    i_SetText("Export_NamingDisp", m_Model.NamingSample());
}

bool CWnd_Export::i_MayExport()
{
    if (m_Model.Result() == 0)
        return false;
    const CExportDialogModel::Warning w = m_Model.OkWarning();
    return w == CExportDialogModel::Warning::None ||
           m_Host.AskOkCancel(this, CExportDialogModel::WarningTitle(w, m_Model.Result()).c_str(),
                              CExportDialogModel::WarningText(w).c_str());
}

void CWnd_Export::i_OnRadio(const std::string& n)
{
    if (n == "Export_Merged" || n == "Export_Selected" || n == "Export_All")
        m_Model.OnExportWhat(i_On("Export_All")        ? uint8_t(CExportSettings::kAll)
                             : i_On("Export_Merged")   ? uint8_t(CExportSettings::kMerged)
                             : i_On("Export_Selected") ? uint8_t(CExportSettings::kSelected)
                                                       : m_Model.Settings().exportWhat);
    else if (n == "Export_ToPSD" || n == "Export_ToPNG")
        m_Model.OnExportTo(i_On("Export_ToPNG") ? CExportSettings::kToPNG : CExportSettings::kToPSD);
    else
        m_Model.OnNaming(i_On("Export_NamingSimple") ? CExportSettings::kNamesSimple
                                                     : CExportSettings::kNamesExtended);
}

bool CWnd_Export::i_OnCheck(const std::string& n)
{
    m_Model.OnCheck(n, i_On(n.c_str()));
    return true;
}

const char* CWnd_Export::i_ZoneAt(short x, short y)
{
    CQNF_Control* d = i_Ctrl("Export_Display");
    CQNF_Control* n = i_Ctrl("Export_NamingDisp");
    if (d && Inside(d->GetRenderRect(), x, y))
        return "Zone_Display";
    if (n && Inside(n->GetRenderRect(), x, y))
        return "Zone_DisplayNaming";
    return "";
}

// ---- Knives ------------------------------------------------------------------------

CWnd_ExportBase::NAMES CWnd_ExportLM::i_Radios() const
{
    static const char* const kRadios[] = {"ExportLM_Selected", "ExportLM_All", "ExportLM_ToEPS", "ExportLM_ToAI"};
    return NAMES{kRadios, 4};
}

CWnd_ExportBase::NAMES CWnd_ExportLM::i_Texts() const
{
    static const char* const kTexts[] = {"ExportLM_Status", "ExportLM_Display"};
    return NAMES{kTexts, 2};
}

void CWnd_ExportLM::OnChangeSettings()
{
    const CExportLMSettings& s = m_Model.Settings();
    i_Check("ExportLM_Selected", s.exportWhat == CExportLMSettings::kSelected);
    i_Check("ExportLM_All", s.exportWhat == CExportLMSettings::kAll);
    i_Check("ExportLM_ToEPS", s.exportTo == CExportLMSettings::kToEPS);
    i_Check("ExportLM_ToAI", s.exportTo == CExportLMSettings::kToAI);
    i_Enable("ExportLM_Selected", m_Model.SelectedEnabled());
    i_Enable("ExportLM_Export", m_Model.ExportEnabled());
    UpdateDisplay();
}

void CWnd_ExportLM::UpdateDisplay() { i_SetText("ExportLM_Display", m_Model.DisplayText()); }

bool CWnd_ExportLM::i_MayExport() { return m_Model.ExportEnabled(); }

void CWnd_ExportLM::i_OnRadio(const std::string& n)
{
    if (n == "ExportLM_Selected" || n == "ExportLM_All")
        m_Model.OnExportWhat(i_On("ExportLM_All") ? CExportLMSettings::kAll : CExportLMSettings::kSelected);
    else
        m_Model.OnExportTo(i_On("ExportLM_ToAI") ? CExportLMSettings::kToAI : CExportLMSettings::kToEPS);
}

const char* CWnd_ExportLM::i_ZoneAt(short x, short y)
{
    CQNF_Control* d = i_Ctrl("ExportLM_Display");
    return d && Inside(d->GetRenderRect(), x, y) ? "Zone_Display" : "";
}

// ---- Entry points ------------------------------------------------------------------

namespace {

// Asks where the export goes; false when the user cancelled. A name the
// export may not write is refused while the chooser is open (by the
// write gate's rule, or by refusal for an export of several files).
bool AskPath(CQNF_Window* parent, const char* filter, const char* extension, const char* saveName,
             const char* title, std::string& path,
             std::function<QnRefusal(const std::string& path)> refusal = nullptr)
{
    CQNF_PlatformFileDialog fd;
    // A series' first part may have no ending: "pieces" makes
    // pieces_0001.png, as on the command line.
    fd.SetBareNameTaken(refusal != nullptr);
    if (refusal)
        fd.SetRefusal(std::move(refusal));
    CQNF_StringArray ext;
    ext.Add(CQNF_String(extension));
    fd.AddFilter(filter, &ext, 0);
    // No folder of its own: where the user last saved such files (the
    // plug-in's folder is no place for the user's pictures).
    fd.SetDefaultSaveName(saveName);
    fd.SetWindowTitle(title);
    return fd.DoFileSaveDialog_Path(parent, path);
}

}  // namespace

EXPORTOUTCOME DoExportDialog(CQNF_Window* parent, CDialogHost& host, CTessolo& engine, const EXPORTPICTURE& picture,
                             CMainProgressTarget* status)
{
    EXPORTOUTCOME out;
    if (picture.colorMode != 1) {
        out.dialog = -1;
        host.ShowMessage(parent, "Unsupported Color mode for Export!",
                         "Export feature is supported ONLY for \ndocuments in the RGB color mode.");
        return out;
    }
    CExportSettings settings;
    settings.settings_Load(host.Conf());
    CWnd_Export dialog(host, CExportStats::FromEngine(engine), settings);
    out.dialog = qnRunDialog(dialog, host, "Export", "Main", parent);
    if (out.dialog != 1)
        return out;
    settings = dialog.Model().Settings();
    settings.settings_Save(host.Conf());

    const bool png = settings.exportTo == CExportSettings::kToPNG;
    // A PNG series writes many files from the one name: its folder and the
    // names it would take are judged as the export judges them, and the
    // merged picture is the named file itself.
    const bool composite = dialog.Model().Enabled().composite && settings.includeComposite;
    const CTessolo* cut = &engine;
    auto seriesRefusal = [settings, composite, cut](const std::string& path) {
        // The name given is the series' base; one that is a device, a FIFO
        // or a folder is no name for files to be made beside it.
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
            return qnWriteRefusal(path, QnWrite::Output, false);
        return CPiecesExport::SeriesRefusal(path, settings, cut, composite, qnRunInputs());
    };
    CPiecesExport::REQUEST request;
    if (!AskPath(parent, png ? "PNG Image (.png)" : "Photoshop Document (.psd)", png ? "png" : "psd",
                 png ? "Untitled.png" : "Untitled.psd", "Export Pieces As...", request.path,
                 png ? std::function<QnRefusal(const std::string&)>(seriesRefusal) : nullptr))
        return out;
    request.settings = settings;
    request.width = picture.width;
    request.height = picture.height;
    request.canvasWidth = picture.canvasWidth;
    request.canvasHeight = picture.canvasHeight;
    request.left = picture.left;
    request.top = picture.top;
    request.resolution = picture.resolution;
    request.iccProfile = picture.iccProfile;
    request.iccSize = picture.iccSize;
    request.limit = picture.limit;
    std::copy(std::begin(picture.colours), std::end(picture.colours), request.colours);
    CPiecesExport exporter(engine);
    CExportProgress progress(host, status);
    exporter.SetProgress(&progress);
    CPiecesExport::RESULT result;
    out.written = exporter.Export(request, result);
    host.Progress(100);
    if (status)
        status->EndStatusProgress();
    if (out.written)
        out.files = result.files;
    else if (exporter.Message() == CPiecesExport::kCannotWriteMessage)
        host.ShowMessage(parent, exporter.MessageTitle().c_str(),
                         CQNF_PlatformFileDialog::WithReason(exporter.Message(), exporter.Detail()).c_str());
    else if (!exporter.Message().empty())
        host.ShowMessage(parent, exporter.MessageTitle().c_str(), exporter.Message().c_str());
    return out;
}

EXPORTOUTCOME DoExportLMDialog(CQNF_Window* parent, CDialogHost& host, CWnd_MainModel& model,
                               const EXPORTPICTURE& picture)
{
    EXPORTOUTCOME out;
    CExportLMSettings settings;
    settings.settings_Load(host.Conf());
    CWnd_ExportLM dialog(host, CExportLMStats::FromModel(model), settings);
    out.dialog = qnRunDialog(dialog, host, "ExportLM", "Main", parent);
    if (out.dialog != 1)
        return out;
    settings = dialog.Model().Settings();
    settings.settings_Save(host.Conf());
    const bool ai = settings.exportTo == CExportLMSettings::kToAI;
    std::string path;
    if (!AskPath(parent, ai ? "Adobe Illustrator (.ai)" : "Encapsulated PostScript (.eps)", ai ? "ai" : "eps",
                 ai ? "Untitled.ai" : "Untitled.eps", "Export Knives As...", path))
        return out;
    uint32_t written = 0;
    std::string message, detail;
    out.written = CKnivesExport::ExportLM(model, settings, path, picture.width, picture.height, picture.resolution,
                                          written, message, detail);
    if (out.written)
        out.files.push_back(path);
    else if (!message.empty())
        host.ShowMessage(parent, "Error!", CQNF_PlatformFileDialog::WithReason(message, detail).c_str());
    return out;
}
