#include "app/ExportSettings.h"

#include "app/MainModel.h"
#include "app/PiecesExport.h"
#include "core/Storage.h"
#include "engine/Tessolo.h"

#include <string>

namespace {

const char kSeparator[] = "---------------------------------";

// One byte setting: its key, its member, its default and its range.
template <class S>
struct ByteKey {
    const char* key;
    uint8_t S::*field;
    uint8_t low;
    uint8_t high;
};

const ByteKey<CExportSettings> kPiecesKeys[7] = {
    {"Export Settings>ExportWhat", &CExportSettings::exportWhat, 1, 3},
    {"Export Settings>ExportTo", &CExportSettings::exportTo, 1, 2},
    {"Export Settings>NamingMode", &CExportSettings::namingMode, 1, 2},
    {"Export Settings>IncludeComposite", &CExportSettings::includeComposite, 0, 1},
    {"Export Settings>ExportWOBevel", &CExportSettings::exportWOBevel, 0, 1},
    {"Export Settings>IncludeHiddenPieces", &CExportSettings::includeHiddenPieces, 0, 1},
    {"Export Settings>PreservePosition", &CExportSettings::preservePosition, 0, 1},
};

const ByteKey<CExportLMSettings> kKnivesKeys[2] = {
    {"Export LM Settings>ExportWhat", &CExportLMSettings::exportWhat, 2, 3},
    {"Export LM Settings>ExportTo", &CExportLMSettings::exportTo, 1, 2},
};

template <class S, size_t N>
void LoadKeys(S& s, CQNF_Storage* conf, const ByteKey<S> (&keys)[N])
{
    if (!conf || !conf->IsOpened())
        return;
    for (const ByteKey<S>& k : keys) {
        uint8_t v = 0;
        // A value no radio button stands for would leave its group empty
        // and the Export button dead: the default serves instead.
        if (conf->GetRec(k.key, v) && v >= k.low && v <= k.high)
            s.*k.field = v;
    }
}

template <class S, size_t N>
bool SaveKeys(const S& s, CQNF_Storage* conf, const char* folder, const ByteKey<S> (&keys)[N])
{
    if (!conf || !conf->IsOpened())
        return false;
    conf->AddFolder(folder);  // present after the first OK; no failure
    bool ok = true;
    for (const ByteKey<S>& k : keys)
        ok = conf->SetRecord(k.key, s.*k.field) && ok;
    return ok;
}

// The statistics block both dialogs show: totals, shown, hidden.
std::string StatisticsText(const char* heading, uint32_t total, uint32_t selected, uint32_t hidden,
                           uint32_t selectedHidden)
{
    auto line = [](const char* label, uint32_t v) { return std::string(label) + std::to_string(v) + "\n"; };
    std::string t = std::string(heading) + "\n" + kSeparator + "\n";
    t += line(" Total :\t", total) + line(" Selected :\t", selected) + kSeparator + "\n";
    t += std::string(" Shown...\n") + line(" ...total :\t", total - hidden) +
         line(" ...selected :\t", selected - selectedHidden) + "\n";
    t += std::string(" Hidden...\n") + line(" ...total :\t", hidden) + line(" ...selected :\t", selectedHidden);
    t += std::string(kSeparator) + "\n" + kSeparator + "\n";
    return t;
}

std::string Counted(uint32_t n, const char* one, const char* many)
{
    return n == 1 ? std::string("1 ") + one : std::to_string(n) + " " + many;
}

}  // namespace

// ---- Pieces -----------------------------------------------------------------------

void CExportSettings::settings_Load(CQNF_Storage* conf) { LoadKeys(*this, conf, kPiecesKeys); }

bool CExportSettings::settings_Save(CQNF_Storage* conf) const { return SaveKeys(*this, conf, kFolder, kPiecesKeys); }

CExportStats CExportStats::FromEngine(const CTessolo& engine)
{
    CExportStats s;
    s.total = engine.m_nPieces;
    for (uint32_t i = 0; i < engine.m_nPieces; ++i) {
        const CTessolo::SPLITEDCELL& p = engine.m_pPieces[i];
        s.selected += p.selected != 0;
        s.hidden += p.shown == 0;
        s.selectedHidden += p.selected != 0 && p.shown == 0;
    }
    return s;
}

CExportDialogModel::CExportDialogModel(const CExportStats& stats, const CExportSettings& settings)
    : m_Stats(stats), m_Settings(settings)
{
    i_Update();
}

void CExportDialogModel::i_Update()
{
    CExportSettings& s = m_Settings;
    // Nothing selected: "selected pieces" would export nothing.
    if (!m_Stats.SomeSelected() && s.exportWhat == CExportSettings::kSelected)
        s.exportWhat = CExportSettings::kAll;

    ENABLED& e = m_Enabled;
    e.selected = m_Stats.SomeSelected();
    e.composite = m_Stats.SomeSelected() && s.exportWhat == CExportSettings::kSelected && m_Stats.NotAllSelected() &&
                  m_Stats.SomeUnselectedShown();
    e.woBevel = s.exportWhat != CExportSettings::kMerged;
    e.hidden = s.exportTo == CExportSettings::kToPSD && m_Stats.SomeHidden() &&
               (s.exportWhat == CExportSettings::kAll ||
                (s.exportWhat == CExportSettings::kSelected && m_Stats.selectedHidden != 0));
    e.fullCanvas = s.exportTo == CExportSettings::kToPNG && s.exportWhat != CExportSettings::kMerged;

    const bool dropHidden = s.exportTo == CExportSettings::kToPNG || !s.includeHiddenPieces;
    switch (s.exportWhat) {
    case CExportSettings::kMerged: m_N = 1; break;
    case CExportSettings::kSelected:
        m_N = m_Stats.selected - (dropHidden ? m_Stats.selectedHidden : 0) +
              (e.composite && s.includeComposite ? 1 : 0);
        break;
    default: m_N = m_Stats.total - (dropHidden ? m_Stats.hidden : 0); break;
    }
    e.exportButton = m_N != 0;
    e.naming = m_N != 0 && s.exportWhat != CExportSettings::kMerged;
}

void CExportDialogModel::OnExportWhat(uint8_t what)
{
    if (what >= CExportSettings::kMerged && what <= CExportSettings::kAll)
        m_Settings.exportWhat = what;
    i_Update();
}

void CExportDialogModel::OnExportTo(uint8_t to)
{
    if (to == CExportSettings::kToPSD || to == CExportSettings::kToPNG)
        m_Settings.exportTo = to;
    i_Update();
}

void CExportDialogModel::OnNaming(uint8_t mode)
{
    if (mode == CExportSettings::kNamesSimple || mode == CExportSettings::kNamesExtended)
        m_Settings.namingMode = mode;
    i_Update();
}

bool CExportDialogModel::OnCheck(const std::string& name, bool checked)
{
    const uint8_t v = checked ? 1 : 0;
    if (name == "Export_Composite")
        m_Settings.includeComposite = v;
    else if (name == "Export_WOBevel")
        m_Settings.exportWOBevel = v;
    else if (name == "Export_Hidden")
        m_Settings.includeHiddenPieces = v;
    else if (name == "Export_FullCanvas")
        m_Settings.preservePosition = v;
    else
        return false;
    i_Update();
    return true;
}

std::string CExportDialogModel::DisplayText() const
{
    std::string t = StatisticsText("Pieces' Statistics:", m_Stats.total, m_Stats.selected, m_Stats.hidden,
                                   m_Stats.selectedHidden);
    t += "Result: ";
    if (m_N == 0)
        t += " --- ";
    else if (m_Settings.exportTo == CExportSettings::kToPNG)
        t += Counted(m_N, "file", "files");
    else
        t += Counted(m_N, "layer", "layers");
    return t + "\n";
}

std::string CExportDialogModel::NamingSample() const
{
    if (m_N == 0)
        return " ---";
    const bool png = m_Settings.exportTo == CExportSettings::kToPNG;
    if (m_Settings.exportWhat == CExportSettings::kMerged)
        return png ? "[file]" : "Merged";
    const bool extended = m_Settings.namingMode == CExportSettings::kNamesExtended;
    // A made-up layer: the 112th exported, piece 95 at row 8, column 12.
    return png ? CPiecesExport::FileName("[file]", extended, 112, 95, 8, 12)
               : CPiecesExport::LayerName(extended, 112, 95, 8, 12);
}

CExportDialogModel::Warning CExportDialogModel::OkWarning() const
{
    if (m_Settings.exportTo == CExportSettings::kToPSD && m_N >= 101)
        return Warning::ManyLayers;
    if (m_Settings.exportTo == CExportSettings::kToPNG && m_N >= 501)
        return Warning::ManyFiles;
    return Warning::None;
}

std::string CExportDialogModel::WarningTitle(Warning w, uint32_t n)
{
    switch (w) {
    case Warning::ManyLayers: return "You are about to save more than 100 layers!";
    case Warning::ManyFiles: return "You are about to save very many files (" + std::to_string(n) + ")!";
    default: return "";
    }
}

std::string CExportDialogModel::WarningText(Warning w)
{
    switch (w) {
    case Warning::ManyLayers:
        return "An old versions of Adobe Photoshop and some over hosts,\nmay not open such PSD document.";
    case Warning::ManyFiles: return "Please, make sure you know what you do...";
    default: return "";
    }
}

// ---- Knives -----------------------------------------------------------------------

void CExportLMSettings::settings_Load(CQNF_Storage* conf) { LoadKeys(*this, conf, kKnivesKeys); }

bool CExportLMSettings::settings_Save(CQNF_Storage* conf) const
{
    return SaveKeys(*this, conf, kFolder, kKnivesKeys);
}

CExportLMStats CExportLMStats::FromModel(const CWnd_MainModel& model)
{
    CExportLMStats s;
    model.i_ForEachKnife([&](const CWnd_MainModel::KNIFESTRUCT& k, uint32_t) {
        ++s.total;
        s.selected += k.selected != 0;
        s.off += k.off != 0;
        s.selectedOff += k.selected != 0 && k.off != 0;
    });
    return s;
}

CExportLMDialogModel::CExportLMDialogModel(const CExportLMStats& stats, const CExportLMSettings& settings)
    : m_Stats(stats), m_Settings(settings)
{
    i_Update();
}

void CExportLMDialogModel::i_Update()
{
    if (m_Stats.selected == 0 && m_Settings.exportWhat == CExportLMSettings::kSelected)
        m_Settings.exportWhat = CExportLMSettings::kAll;
    if (m_Settings.exportWhat == CExportLMSettings::kSelected)
        m_N = m_Stats.selected - m_Stats.selectedOff;
    else if (m_Settings.exportWhat == CExportLMSettings::kAll)
        m_N = m_Stats.total - m_Stats.off;
}

void CExportLMDialogModel::OnExportWhat(uint8_t what)
{
    if (what == CExportLMSettings::kSelected || what == CExportLMSettings::kAll)
        m_Settings.exportWhat = what;
    i_Update();
}

void CExportLMDialogModel::OnExportTo(uint8_t to)
{
    if (to == CExportLMSettings::kToEPS || to == CExportLMSettings::kToAI)
        m_Settings.exportTo = to;
    i_Update();
}

std::string CExportLMDialogModel::DisplayText() const
{
    std::string t =
        StatisticsText("Knives' Statistics:", m_Stats.total, m_Stats.selected, m_Stats.off, m_Stats.selectedOff);
    t += "Result: ";
    t += m_N == 0 ? std::string(" --- ") : Counted(m_N, "knife", "knives");
    return t + "\n";
}
