// The model of the skinned list: items with a selected flag and a caller's
// data word, the first visible row, the current item (the one last touched
// by a selection), and the selection walks that mouse and keys make. The
// list control paints from it and reports its changes.
#pragma once

#include "core/Types.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qnui {

class ListModel {
public:
    static constexpr uint8_t kRangeMods = 2;   // Shift
    static constexpr uint8_t kToggleMods = 8;  // Command
    static constexpr uint8_t kKeyUp = 1, kKeyDown = 2, kKeyEnd = 9, kKeyHome = 10;

    struct Item {
        std::string text;
        bool selected = false;
        void* data = nullptr;
    };

    // The item area in window coordinates.
    void SetArea(qntRECT_s area) { m_area = area; }
    qntRECT_s GetArea() const { return m_area; }
    // A line height of 0 is taken as 1: rows are counted by dividing by it.
    void SetOptions(bool multiSelect, bool showSelectionUnfocused, unsigned lineHeight, int textX, int textY);
    // Rows shown, the last possibly cut: area height / line height + 1.
    uint32_t GetVisibleRows() const;
    unsigned GetLineHeight() const { return m_lineHeight; }
    int GetTextX() const { return m_textX; }
    int GetTextY() const { return m_textY; }
    bool IsMultiSelect() const { return m_multi; }
    bool ShowsSelectionUnfocused() const { return m_showUnfocused; }

    uint32_t AddItem(const std::string& text, bool selected, void* data);
    void RemoveAllItems() { m_items.clear(); }
    uint32_t GetItemsCount() const { return uint32_t(m_items.size()); }
    bool GetItem(uint32_t index, std::string* text, bool* selected, void** data) const;
    bool SetItem(uint32_t index, const std::string* text, const bool* selected, void* const* data);
    long GetSelectedItem() const;
    void RemoveSelection();

    // Selects (or with toggle inverts) every item from `from` to `to`, both
    // included: upward when from < to as unsigned numbers, else downward as
    // signed numbers (so a walk from -1 is empty). Indexes outside the items
    // are skipped without being walked, so a select-all on an empty list
    // (0 .. 0xFFFFFFFF) costs nothing. Answers whether any item was touched.
    bool SelectItems(uint32_t from, uint32_t to, bool clear, bool toggle, bool scroll);

    // A press in window coordinates; answers whether it made a selection
    // step (the control then redraws and reports it).
    bool Click(int x, int y, uint8_t mods);
    // Up, Down, Home and End; false for every other key.
    bool Key(uint8_t key, uint8_t mods);

    uint32_t GetFirstVisible() const { return m_firstVisible; }
    void SetFirstVisible(uint32_t first) { m_firstVisible = first; }
    long GetCurrentItem() const { return m_current; }

    // Texts of the rows shown, each followed by a new line.
    std::string VisibleText() const;
    // Top rows (inside the text layer) of the selection bands to paint.
    std::vector<int> BandRows(bool focused) const;

private:
    std::vector<Item> m_items;
    qntRECT_s m_area{0, 0, 0, 0};
    bool m_multi = false;
    bool m_showUnfocused = true;
    unsigned m_lineHeight = 20;
    int m_textX = 5;
    int m_textY = 5;
    uint32_t m_firstVisible = 0;
    long m_current = -1;
};

}  // namespace qnui
