#include "ui/ListModel.h"

#include <algorithm>

namespace qnui {

void ListModel::SetOptions(bool multiSelect, bool showSelectionUnfocused, unsigned lineHeight, int textX, int textY)
{
    m_multi = multiSelect;
    m_showUnfocused = showSelectionUnfocused;
    m_lineHeight = std::max(lineHeight, 1u);
    m_textX = textX;
    m_textY = textY;
}

uint32_t ListModel::GetVisibleRows() const
{
    const int height = std::max(m_area.bottom - m_area.top, 0);
    return uint32_t(height) / m_lineHeight + 1;
}

uint32_t ListModel::AddItem(const std::string& text, bool selected, void* data)
{
    m_items.push_back(Item{text, selected, data});
    return uint32_t(m_items.size() - 1);
}

bool ListModel::GetItem(uint32_t index, std::string* text, bool* selected, void** data) const
{
    if (index >= m_items.size())
        return false;
    const Item& item = m_items[index];
    if (text)
        *text = item.text;
    if (selected)
        *selected = item.selected;
    if (data)
        *data = item.data;
    return true;
}

bool ListModel::SetItem(uint32_t index, const std::string* text, const bool* selected, void* const* data)
{
    if (index >= m_items.size())
        return false;
    Item& item = m_items[index];
    if (text)
        item.text = *text;
    if (selected)
        item.selected = *selected;
    if (data)
        item.data = *data;
    return true;
}

long ListModel::GetSelectedItem() const
{
    for (size_t i = 0; i < m_items.size(); ++i)
        if (m_items[i].selected)
            return long(i);
    return -1;
}

void ListModel::RemoveSelection()
{
    for (Item& item : m_items)
        item.selected = false;
}

bool ListModel::SelectItems(uint32_t from, uint32_t to, bool clear, bool toggle, bool scroll)
{
    if (clear)
        RemoveSelection();
    const int64_t count = int64_t(m_items.size());
    int64_t first, last, stride;
    if (from < to) {
        // Upward, limited to the items: the skipped indexes select nothing.
        first = from;
        last = std::min<int64_t>(to, count - 1);
        stride = 1;
    } else {
        first = std::min<int64_t>(int32_t(from), count - 1);
        last = std::max<int64_t>(int32_t(to), 0);
        stride = -1;
        if (int32_t(from) < int32_t(to))
            first = last + stride;  // empty walk
    }
    bool touched = false;
    for (int64_t i = first; stride > 0 ? i <= last : i >= last; i += stride) {
        if (i < 0 || i >= count)
            continue;
        Item& item = m_items[size_t(i)];
        item.selected = toggle ? !item.selected : true;
        m_current = long(i);
        touched = true;
    }
    if (scroll && touched) {
        const uint32_t rows = GetVisibleRows();
        const uint32_t cur = uint32_t(m_current);
        if (int64_t(cur) >= int64_t(m_firstVisible) + rows - 1)
            m_firstVisible = uint32_t(int64_t(cur) - rows + 2);
        else if (cur < m_firstVisible)
            m_firstVisible = cur;
    }
    return touched;
}

bool ListModel::Click(int x, int y, uint8_t mods)
{
    const int dx = x - m_area.left - m_textX, dy = y - m_area.top - m_textY;
    if (!(dx > 0 && dx < m_area.right - m_area.left - m_textX && dy > 0 && dy < m_area.bottom - m_area.top - m_textY))
        return false;
    const uint32_t item = uint32_t(dy) / m_lineHeight + m_firstVisible;
    const bool toggle = (mods & kToggleMods) != 0, range = (mods & kRangeMods) != 0;
    auto rangeTo = [&](bool clear) {
        if (clear)
            RemoveSelection();
        if (m_current < 0)
            return;
        const uint32_t cur = uint32_t(m_current);
        SelectItems(std::min(cur, item), std::max(cur, item), false, false, true);
    };
    if (!m_multi || (!toggle && !range))
        SelectItems(item, item, true, false, true);
    else if (toggle && range)
        rangeTo(false);
    else if (toggle)
        SelectItems(item, item, false, true, true);
    else
        rangeTo(true);
    return true;
}

bool ListModel::Key(uint8_t key, uint8_t mods)
{
    const long c = m_current;
    const long lastItem = long(m_items.size()) - 1;
    long target, start;
    switch (key) {
    case kKeyUp:
        target = c < 0 ? 0 : std::max(c - 1, 0L);
        start = c;
        break;
    case kKeyDown:
        target = c < 0 ? 0 : std::min(c + 1, std::max(lastItem, 0L));
        start = c;
        break;
    case kKeyEnd:
        target = lastItem;
        start = c < 0 ? 0 : c;
        break;
    case kKeyHome:
        target = 0;
        start = c < 0 ? 0 : c;
        break;
    default:
        return false;
    }
    // A range only where several items may be selected.
    if (!(mods & kRangeMods) || !m_multi)
        SelectItems(uint32_t(target), uint32_t(target), true, false, true);
    else if (start >= 0)
        SelectItems(uint32_t(start), uint32_t(target), false, false, true);
    return true;
}

std::string ListModel::VisibleText() const
{
    std::string text;
    const uint64_t last = uint64_t(m_firstVisible) + GetVisibleRows();
    for (uint64_t i = m_firstVisible; i <= last && i < m_items.size(); ++i) {
        text += m_items[size_t(i)].text;
        text += '\n';
    }
    return text;
}

std::vector<int> ListModel::BandRows(bool focused) const
{
    std::vector<int> rows;
    if (!focused && !m_showUnfocused)
        return rows;
    const uint64_t rowsShown = GetVisibleRows();
    for (uint64_t i = m_firstVisible; i < m_items.size() && i < m_firstVisible + rowsShown; ++i) {
        if (!m_items[size_t(i)].selected)
            continue;
        rows.push_back(int(i - m_firstVisible) * int(m_lineHeight) + m_textY);
        if (!m_multi)
            break;
    }
    return rows;
}

}  // namespace qnui
