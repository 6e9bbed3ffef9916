// The editing model of the single-line text field: text, caret, selection,
// scrolling of the visible run of glyphs, numeric stepping, the clipboard
// commands and the one-step undo. It knows nothing of windows: the field
// control feeds it input and paints from it, and a host interface carries
// its requests outward (change notices, focus loss, clipboard, beep).
//
// Indexes are byte positions in the 8-bit text; a selection is start..end
// with end exclusive, start -1 meaning none and start = end an empty one.
// Coordinates are window x positions, like the events that drive it.
#pragma once

#include "core/Types.h"

#include <cstdint>
#include <string>
#include <vector>

class CQNF_Font;
class CQNF_Image;

namespace qnui {

// Glyph metrics and coverage of one code. Codes the font does not hold
// answer null; they take no width and are never typed or pasted.
struct GlyphInfo {
    int a = 0;    // left bearing
    int c = 0;    // space after the bitmap
    int top = 0;  // bitmap top relative to the baseline
    int w = 0;
    int h = 0;
};

class GlyphSource {
public:
    virtual ~GlyphSource() = default;
    // Coverage bytes (w x h) and metrics of the code, or null when the font
    // has no glyph for it.
    virtual const uint8_t* Glyph(uint8_t code, GlyphInfo& info) const = 0;
    // Distance from a line's top to the baseline.
    virtual int Ascent() const = 0;
};

// A bitmap font of the resource storage as a glyph source.
class FontGlyphs : public GlyphSource {
public:
    explicit FontGlyphs(CQNF_Font* font = nullptr) : m_font(font) {}
    void SetFont(CQNF_Font* font) { m_font = font; }
    CQNF_Font* GetFont() const { return m_font; }
    const uint8_t* Glyph(uint8_t code, GlyphInfo& info) const override;
    int Ascent() const override;

private:
    CQNF_Font* m_font;
};

// What the model asks of the control that holds it.
class EditLineHost {
public:
    virtual ~EditLineHost() = default;
    virtual void EditRedraw() = 0;           // draw the state again and show it
    virtual void EditChanged() = 0;          // the text was edited (message 288)
    virtual void EditEndFocus() = 0;         // Return, Esc or Tab: give up the focus
    virtual void EditBeep() = 0;
    virtual bool ClipboardHasText() = 0;
    virtual bool ClipboardGetText(std::string& text) = 0;
    virtual void ClipboardSetText(const std::string& text) = 0;
};

class EditLineModel {
public:
    // Key codes of OnKeyDown and modifier bits.
    static constexpr uint8_t kKeyUp = 1, kKeyDown = 2, kKeyLeft = 3, kKeyRight = 4, kKeyBackspace = 5,
                             kKeyReturn = 6, kKeyEsc = 7, kKeyDelete = 8, kKeyEnd = 9, kKeyHome = 10, kKeyTab = 11;
    static constexpr uint8_t kModOption = 1, kModShift = 2, kModControl = 4, kModCommand = 8;
    // The modifiers that extend a selection, work by words, and pick the
    // clipboard and undo commands.
    static constexpr uint8_t kExtendMods = kModShift, kWordMods = kModOption, kCommandMods = kModCommand;

    explicit EditLineModel(EditLineHost* host = nullptr) : m_host(host) {}

    void SetHost(EditLineHost* host) { m_host = host; }
    void SetGlyphs(const GlyphSource* glyphs) { m_glyphs = glyphs; }
    // The text area (window x, right exclusive) and the field's own span,
    // past which a drag scrolls.
    void SetGeometry(int textLeft, int textRight, int fieldLeft, int fieldRight);

    // Options. The wheel step becomes 0.1 for numbers with decimals, 1 for
    // whole numbers, 0 (no stepping) for free text.
    void SetOptions(bool numeric, bool minusAllowed, bool decimalsAllowed, bool readOnly, bool tabEndsEditing);
    void SetWheelStep(double step) { m_step = step; }
    double GetWheelStep() const { return m_step; }
    bool IsEditable() const { return m_editable; }

    // Text, caret and selection.
    void SetText(const std::string& text, bool notify);
    const std::string& GetText() const { return m_text; }
    // Both ends non-negative select (ordered, start below the length, end
    // at most the length); anything else clears the selection.
    void SetSelection(long start, long end);
    void GetSelection(long* start, long* end, std::string* text) const;
    bool HasSelection() const { return m_selStart >= 0; }
    bool HasNonEmptySelection() const { return m_selStart >= 0 && m_selStart < m_selEnd; }
    void SetCaretPos(long pos);
    long GetCaretPos() const { return m_caret; }
    void SelectAll();

    // Focus, mouse and keys, as the field receives them.
    void FocusGained();
    void FocusLost();
    bool IsFocused() const { return m_focused; }
    // Whether Esc ended the last edit, the text then being as the focus
    // found it: a window that acts on the end of an edit leaves it at that.
    bool EndedByEsc() const { return m_endedByEsc; }
    void MouseDown(int x, uint8_t mods);
    void MouseDrag(int x);  // a move while the button is down
    void MouseUp();
    bool IsDragging() const { return m_dragging; }
    void DoubleClick() { SelectWordAt(m_caret); }
    void TripleClick() { SelectAll(); }
    // Steps a numeric field; false when the wheel is not taken.
    bool Wheel(int delta, uint8_t mods);
    void KeyDown(uint8_t key, uint8_t mods);
    void KeyChar(uint8_t ch, uint8_t mods);

    // Commands.
    void Copy();
    void Cut();
    void Paste();
    void Undo();
    // Adds n steps to the numeric value (nothing when not stepping).
    void Step(int n);
    void SelectWordAt(long p);

    // Visible run. Layout places the glyphs from the first visible one and,
    // while focused, scrolls so that the caret stays in view.
    void Layout();
    long GetFirstVisible() const { return m_firstVisible; }
    long GetVisibleCount() const { return m_visibleCount; }
    // x of each visible character and of the end (one more entry).
    const std::vector<int>& GetPositions() const { return m_positions; }
    const std::vector<int>& GetWidths() const { return m_widths; }
    // Index of the character boundary nearest to x (from the last layout).
    long CharAtX(int x) const;
    // x of a character boundary, or of the nearer text-area edge when it
    // is not in the visible run.
    int XOfIndex(long index) const;
    int GetTextLeft() const { return m_textLeft; }
    int GetTextRight() const { return m_textRight; }

    // Whether a code may be typed or pasted here.
    bool Accepts(uint8_t ch) const;

private:
    void ChangeStep(bool notify);
    void Snapshot();
    void DeleteRange(long from, long to);
    void DeleteSelection();
    void MoveCaret(long to, uint8_t mods);
    long WordLeft(long from) const;
    long WordRight(long from) const;
    void LayoutRun();
    void Redraw()
    {
        if (m_host)
            m_host->EditRedraw();
    }

    EditLineHost* m_host = nullptr;
    const GlyphSource* m_glyphs = nullptr;
    std::string m_text;
    bool m_editable = true;
    bool m_numeric = false;
    bool m_minusAllowed = true;
    bool m_decimalsAllowed = false;
    double m_step = 0.0;
    bool m_tabEnds = false;
    long m_selStart = -1;
    long m_selEnd = -1;
    long m_anchor = 0;
    bool m_clickClears = true;
    bool m_dragging = false;
    bool m_focused = false;
    long m_caret = 0;
    long m_firstVisible = 0;
    long m_visibleCount = 0;
    int m_textLeft = 0;
    int m_textRight = 0;
    int m_fieldLeft = 0;
    int m_fieldRight = 0;
    std::vector<int> m_positions;
    std::vector<int> m_widths;
    std::string m_undoText;
    bool m_undoTaken = false;
    std::string m_textAtFocus;
    bool m_endedByEsc = false;
};

// The field's ten colours, by role.
struct EditLineColours {
    qntRGBA8 c[10];
};
const EditLineColours& DefaultEditLineColours();

// Draws the field in a state (1 normal, 2 hovered, 4 editing, 8 disabled)
// into its layer image, whose top-left lies at (layerLeft, layerTop) in
// window coordinates; textTop/textBottom bound the text area vertically.
// Runs Layout first. Answers whether the caret was drawn.
bool PaintEditLine(CQNF_Image& layer, int layerLeft, int layerTop, int textTop, int textBottom, int textOffset,
                   EditLineModel& model, const GlyphSource* glyphs, const EditLineColours& colours, uint8_t state,
                   int caretWidth);
// Inverts the caret's pixels (drawing it or taking it away again); false
// when the caret has no place to be drawn now.
bool ToggleCaret(CQNF_Image& layer, int layerLeft, int layerTop, int textTop, int textBottom,
                 const EditLineModel& model, int caretWidth);

}  // namespace qnui
