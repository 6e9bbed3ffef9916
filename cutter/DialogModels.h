// What the knife editor's small modal dialogs decide, without any window:
// the shape name dialog's OK rule, the auto layout dialog's kinds, limits
// and keys, and the custom mutations dialog's amounts and keys. The dialog
// windows turn their control messages into these calls and show the values;
// their keys are written only when the dialog ends with OK (the On...Ok
// calls below), never on Cancel.
#pragma once

#include <cstdint>
#include <string>

class CQNF_Storage;
class CWnd_MainModel;

// The whole number at the start of a numeric edit's text, as the edits take
// it: leading blanks, an optional sign, digits; 0 when there are none. A
// number beyond 32 bits gives the nearest 32-bit value instead of undefined
// behaviour.
int32_t qnEditInteger(const char* text);

// Keys of the toolkit that the dialogs handle.
inline constexpr uint8_t kKeyReturn = 6;
inline constexpr uint8_t kKeyEsc = 7;
inline constexpr uint8_t kKeyForwardDelete = 8;

// The keys of the shape name, auto layout and custom mutations dialogs:
// Return runs OK while it is enabled and is consumed either way, Esc
// cancels, every other key is left to the window.
enum class DialogKey : uint8_t { NotHandled, Consumed, Ok, Cancel };
DialogKey qnDialogKey(uint8_t key, bool okEnabled);

// ---- Shape name (window "ShapeName") --------------------------------------------
struct CShapeNameRule {
    // OK is enabled while the text is not empty after trimming blanks at
    // both ends; the name returned is the text as typed.
    static bool IsOkEnabled(const char* text);
};

// ---- Auto layout (window "AutoLayout") ------------------------------------------
class CAutoLayoutModel {
public:
    enum : uint8_t { kTriangles = 0, kHexagons = 1, kHexagons2 = 2 };
    struct MAXIMA {
        uint32_t columns;
        uint32_t rows;
    };
    // The limits of a kind; any other kind has those of triangles.
    static MAXIMA Maxima(uint8_t kind);

    uint32_t m_nRows = 2;
    uint32_t m_nCols = 2;
    uint8_t m_bRegular = 0;
    uint8_t m_nKind = kTriangles;

    // Reads the keys present under "Auto Layout Settings" (conf may be
    // null). Rows and columns are brought into 1..the kind's limits: a
    // stored 0 would lay no layout at all and, with Regular, divide by 0.
    void settings_Load(CQNF_Storage* conf);
    // OK: writes the four keys (when conf is open) and has the main window
    // lay the chosen layout; a kind above 2 lays nothing.
    void OnOk(CQNF_Storage* conf, CWnd_MainModel* main) const;

    const MAXIMA& Current() const { return m_Current; }
    // The rows and columns shown: within 1..the current limits.
    uint32_t ShownRows() const;
    uint32_t ShownCols() const;
    // A slider moved: its value within 1..its limit.
    void OnSldrRows(uint32_t value);
    void OnSldrCols(uint32_t value);
    // Typing in an edit: the value takes effect, the text stays as typed.
    void OnEditRows(const char* text);
    void OnEditCols(const char* text);
    // Leaving an edit: the same, and the text the edit then shows.
    std::string OnEditRowsLF(const char* text);
    std::string OnEditColsLF(const char* text);
    // A kind's radio button: its limits become current, then columns and
    // rows are clamped to them.
    void OnKind(uint8_t kind);

    // Sets the current limits from the kind (after settings_Load).
    void SetInitStates();

private:
    static uint32_t Clamp(int64_t n, uint32_t max);
    MAXIMA m_Current = Maxima(kTriangles);
};

// ---- Custom mutations (window "CMuts") -------------------------------------------
class CCustomMutationsModel {
public:
    enum Which : uint8_t { kS = 0, kU = 1, kH = 2 };
    // Amounts as fractions 0..1, in the order S, U, H.
    float m_fAmount[3] = {0.0f, 0.0f, 0.0f};

    // Reads the keys present under "Custom Mutations Settings" (conf may be
    // null), each limited to 0..1; a value that is not a number reads 0.
    void settings_Load(CQNF_Storage* conf);
    // OK: writes the three amounts as doubles (when conf is open).
    void settings_Save(CQNF_Storage* conf) const;

    // The percent a slider and its edit show for an amount.
    static uint16_t DisplayPercent(float amount);
    // A slider moved to v (0..100). With Shift the other two follow.
    void OnSldr(Which which, uint32_t v, bool shift);
    // Typing in an edit: the amount follows, the text stays as typed.
    void OnEdit(Which which, const char* text);
    // Leaving an edit: the same, and the text the edit then shows.
    std::string OnEditLF(Which which, const char* text);

private:
    static uint32_t ClampPercent(int64_t n);
};
