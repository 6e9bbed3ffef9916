// The edit line's state: glyph source, geometry, options, text, selection,
// focus and layout. Mouse and key input are in EditLineInput.cpp, painting in
// EditLinePaint.cpp.
#include "ui/EditLineModel.h"

#include "imaging/Font.h"
#include "imaging/Image.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace qnui {

const uint8_t* FontGlyphs::Glyph(uint8_t code, GlyphInfo& info) const
{
    info = GlyphInfo{};
    if (!m_font || !m_font->IsOpen() || code < m_font->GetFirstCharCode() || code > m_font->GetLastCharCode())
        return nullptr;
    short a = 0, c = 0, top = 0;
    unsigned long w = 0, h = 0;
    const unsigned char* cov = m_font->GetChar(code, a, c, top, w, h);
    if (!cov)
        return nullptr;
    info.a = a;
    info.c = c;
    info.top = top;
    info.w = int(w);
    info.h = int(h);
    return cov;
}

int FontGlyphs::Ascent() const
{
    short a = 0, b = 0;
    if (m_font && m_font->IsOpen())
        m_font->GetMaxAB(a, b);
    return a;
}

void EditLineModel::SetGeometry(int textLeft, int textRight, int fieldLeft, int fieldRight)
{
    m_textLeft = textLeft;
    m_textRight = textRight;
    m_fieldLeft = fieldLeft;
    m_fieldRight = fieldRight;
}

void EditLineModel::SetOptions(bool numeric, bool minusAllowed, bool decimalsAllowed, bool readOnly,
                               bool tabEndsEditing)
{
    m_numeric = numeric;
    m_minusAllowed = minusAllowed;
    m_decimalsAllowed = decimalsAllowed;
    m_editable = !readOnly;
    m_tabEnds = tabEndsEditing;
    m_step = numeric ? (decimalsAllowed ? 0.1 : 1.0) : 0.0;
}

bool EditLineModel::Accepts(uint8_t ch) const
{
    GlyphInfo info;
    if (!m_glyphs || !m_glyphs->Glyph(ch, info))
        return false;
    if (!m_numeric)
        return true;
    return (ch >= '0' && ch <= '9') || (ch == '.' && m_decimalsAllowed) || (ch == '-' && m_minusAllowed);
}

void EditLineModel::Snapshot()
{
    if (!m_undoTaken) {
        m_undoText = m_text;
        m_undoTaken = true;
    }
}

void EditLineModel::ChangeStep(bool notify)
{
    const long len = long(m_text.size());
    m_caret = std::clamp(m_caret, 0L, len);
    if (m_caret == m_firstVisible && m_caret >= 1)
        m_firstVisible = m_caret - 1;
    m_firstVisible = std::max(0L, std::min(m_firstVisible, len - 1));
    Redraw();
    if (notify && m_host)
        m_host->EditChanged();
}

void EditLineModel::SetText(const std::string& text, bool notify)
{
    Snapshot();
    m_text = text;
    m_selStart = m_selEnd = -1;
    m_caret = 0;
    ChangeStep(notify);
}

void EditLineModel::SetSelection(long start, long end)
{
    const long len = long(m_text.size());
    if (start >= 0 && end >= 0) {
        // A reversed pair would make the next edit use a negative length.
        if (start > end)
            std::swap(start, end);
        m_selStart = std::min(start, len - 1);
        m_selEnd = std::min(end, len);
        if (m_selStart < 0)
            m_selStart = m_selEnd = -1;
    } else {
        m_selStart = m_selEnd = -1;
    }
    Redraw();
}

void EditLineModel::GetSelection(long* start, long* end, std::string* text) const
{
    if (start)
        *start = m_selStart;
    if (end)
        *end = m_selEnd;
    if (text)
        *text = HasNonEmptySelection() ? m_text.substr(size_t(m_selStart), size_t(m_selEnd - m_selStart)) : "";
}

void EditLineModel::SetCaretPos(long pos)
{
    m_caret = std::clamp(pos, 0L, long(m_text.size()));
    Redraw();
}

void EditLineModel::SelectAll()
{
    m_selStart = 0;
    m_selEnd = long(m_text.size());
    Redraw();
}

void EditLineModel::FocusGained()
{
    m_focused = true;
    m_selStart = 0;
    m_selEnd = long(m_text.size());
    m_caret = 0;
    m_anchor = 0;
    m_firstVisible = 0;
    m_clickClears = false;
    m_textAtFocus = m_text;
    m_endedByEsc = false;
    m_undoText = m_text;
    m_undoTaken = false;
}

void EditLineModel::FocusLost()
{
    m_focused = false;
    m_dragging = false;
    m_firstVisible = 0;
}

void EditLineModel::DeleteRange(long from, long to)
{
    const long len = long(m_text.size());
    from = std::clamp(from, 0L, len);
    to = std::clamp(to, from, len);
    m_text.erase(size_t(from), size_t(to - from));
}

void EditLineModel::DeleteSelection()
{
    DeleteRange(m_selStart, m_selEnd);
    m_caret = std::clamp(m_selStart, 0L, long(m_text.size()));
    m_selStart = m_selEnd = -1;
}


void EditLineModel::LayoutRun()
{
    m_positions.clear();
    m_widths.clear();
    int x = m_textLeft;
    const long len = long(m_text.size());
    for (long i = m_firstVisible; i < len; ++i) {
        GlyphInfo g;
        if (!m_glyphs || !m_glyphs->Glyph(uint8_t(m_text[size_t(i)]), g))
            g = GlyphInfo{};  // no glyph: no width
        x += g.a;
        if (x + g.w + g.c > m_textRight)
            break;
        m_positions.push_back(x);
        m_widths.push_back(g.w);
        x += g.w + g.c;
    }
    m_visibleCount = long(m_positions.size());
    m_positions.push_back(x);
    m_widths.push_back(5);
}

void EditLineModel::Layout()
{
    const long len = long(m_text.size());
    if (!m_focused) {
        m_firstVisible = 0;
        LayoutRun();
        return;
    }
    m_firstVisible = std::clamp(m_firstVisible, 0L, len);
    if (m_caret < m_firstVisible)
        m_firstVisible = m_caret;
    LayoutRun();
    while (m_caret > m_firstVisible + m_visibleCount && m_firstVisible < len) {
        ++m_firstVisible;
        LayoutRun();
    }
}

long EditLineModel::CharAtX(int x) const
{
    if (m_positions.empty())
        return std::min(m_firstVisible, long(m_text.size()));
    size_t best = 0;
    for (size_t i = 1; i < m_positions.size(); ++i)
        if (std::abs(m_positions[i] - x) < std::abs(m_positions[best] - x))
            best = i;
    return std::min(m_firstVisible + long(best), long(m_text.size()));
}

int EditLineModel::XOfIndex(long index) const
{
    if (index < m_firstVisible || m_positions.empty())
        return m_textLeft;
    if (index > m_firstVisible + m_visibleCount)
        return m_textRight;
    return m_positions[size_t(index - m_firstVisible)];
}

}  // namespace qnui
