// The settings and the dialog logic of the two exports, without any window.
//
//   CExportSettings      the pieces export's seven one-byte settings under
//                        "Export Settings" in "plugin.conf"
//   CExportStats         the piece counts the export dialog shows
//   CExportDialogModel   the dialog "Export": enabled states, the number of
//                        layers or files N, the statistics text, the name
//                        sample and the warnings OK asks
//   CExportLMSettings    the knives export's two settings under
//                        "Export LM Settings"
//   CExportLMStats       the knife counts
//   CExportLMDialogModel the dialog "ExportLM"
//
// The dialog windows turn control messages into the On... calls, then show
// what the model says (radio and check states, enabled controls, texts).
// Settings are written only by the callers' OK paths (settings_Save).
//
// A stored value outside its range falls back to its default when read, so
// the dialog always opens with one radio of each group on and a live Export
// button.
#pragma once

#include <cstdint>
#include <string>

class CQNF_Storage;
class CTessolo;
class CWnd_MainModel;

struct CExportSettings {
    enum : uint8_t { kMerged = 1, kSelected = 2, kAll = 3 };  // exportWhat
    enum : uint8_t { kToPSD = 1, kToPNG = 2 };               // exportTo
    enum : uint8_t { kNamesSimple = 1, kNamesExtended = 2 };  // namingMode

    uint8_t exportWhat = kSelected;
    uint8_t exportTo = kToPSD;
    uint8_t namingMode = kNamesExtended;
    uint8_t includeComposite = 1;     // a layer with the composite of the other pieces
    uint8_t exportWOBevel = 0;        // pieces without their bevel
    uint8_t includeHiddenPieces = 0;  // hidden pieces too (PSD only)
    uint8_t preservePosition = 1;     // each PNG at canvas size, the piece in its place

    static constexpr const char* kFolder = "Export Settings";

    // Reads the keys present (conf may be null or closed); a value outside
    // its range keeps the default.
    void settings_Load(CQNF_Storage* conf);
    // Adds the folder and writes all seven keys; false when conf is not open
    // or a write fails.
    bool settings_Save(CQNF_Storage* conf) const;
};

struct CExportStats {
    uint32_t total = 0;           // T
    uint32_t selected = 0;        // S
    uint32_t selectedHidden = 0;  // SH
    uint32_t hidden = 0;          // H

    bool SomeSelected() const { return selected != 0; }
    bool NotAllSelected() const { return total > selected; }
    bool SomeUnselectedShown() const { return (total - selected) > (hidden - selectedHidden); }
    bool SomeHidden() const { return hidden != 0; }

    // Counted over the engine's piece table (a piece is hidden when its shown
    // flag is 0).
    static CExportStats FromEngine(const CTessolo& engine);
};

class CExportDialogModel {
public:
    // What the window shows enabled, besides the controls that always are.
    struct ENABLED {
        bool selected = false;    // "Export_Selected"
        bool composite = false;   // "Export_Composite"
        bool woBevel = false;     // "Export_WOBevel"
        bool hidden = false;      // "Export_Hidden"
        bool fullCanvas = false;  // "Export_FullCanvas"
        bool exportButton = false;  // "Export_Export"
        bool naming = false;      // "Export_NamingSimple", "Export_NamingExtended"
    };
    enum class Warning : uint8_t { None, ManyLayers, ManyFiles };

    CExportDialogModel(const CExportStats& stats, const CExportSettings& settings);

    const CExportSettings& Settings() const { return m_Settings; }
    const CExportStats& Stats() const { return m_Stats; }
    const ENABLED& Enabled() const { return m_Enabled; }
    uint32_t Result() const { return m_N; }  // N: layers or files the export makes

    // A radio of a group was turned on (the window reads the group's radios).
    void OnExportWhat(uint8_t what);
    void OnExportTo(uint8_t to);
    void OnNaming(uint8_t mode);
    // A check box: "Export_Composite", "Export_WOBevel", "Export_Hidden",
    // "Export_FullCanvas" by name; false for another name.
    bool OnCheck(const std::string& name, bool checked);

    // "Export_Display": statistics and the result, one line each.
    std::string DisplayText() const;
    // "Export_NamingDisp": a sample of the names the export gives.
    std::string NamingSample() const;

    // OK with N != 0: the question to ask before ending with 1, if any.
    Warning OkWarning() const;
    static std::string WarningTitle(Warning w, uint32_t n);
    static std::string WarningText(Warning w);

private:
    // Enabled states, the switch to "all" without a selection, N.
    void i_Update();

    CExportStats m_Stats;
    CExportSettings m_Settings;
    ENABLED m_Enabled;
    uint32_t m_N = 0;
};

// ---- Knives ----------------------------------------------------------------------

struct CExportLMSettings {
    enum : uint8_t { kSelected = 2, kAll = 3 };  // exportWhat
    enum : uint8_t { kToEPS = 1, kToAI = 2 };    // exportTo

    uint8_t exportWhat = kSelected;
    uint8_t exportTo = kToEPS;

    static constexpr const char* kFolder = "Export LM Settings";

    void settings_Load(CQNF_Storage* conf);
    bool settings_Save(CQNF_Storage* conf) const;
};

struct CExportLMStats {
    uint32_t total = 0;        // T: column, row and extra knives
    uint32_t selected = 0;     // S
    uint32_t off = 0;          // K: switched off
    uint32_t selectedOff = 0;  // SK

    static CExportLMStats FromModel(const CWnd_MainModel& model);
};

class CExportLMDialogModel {
public:
    CExportLMDialogModel(const CExportLMStats& stats, const CExportLMSettings& settings);

    const CExportLMSettings& Settings() const { return m_Settings; }
    bool SelectedEnabled() const { return m_Stats.selected != 0; }  // "ExportLM_Selected"
    bool ExportEnabled() const { return m_N != 0; }                 // "ExportLM_Export"
    uint32_t Result() const { return m_N; }

    void OnExportWhat(uint8_t what);
    void OnExportTo(uint8_t to);

    // "ExportLM_Display".
    std::string DisplayText() const;

private:
    void i_Update();

    CExportLMStats m_Stats;
    CExportLMSettings m_Settings;
    uint32_t m_N = 0;
};
