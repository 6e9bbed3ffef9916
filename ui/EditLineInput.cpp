// The edit line's input: mouse clicks and drags, the wheel and number steps,
// keys, typed characters, the clipboard and undo.
#include "ui/EditLineModel.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace qnui {

namespace {

bool IsWordChar(char ch)
{
    return (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z');
}

// The longest leading number of the text (blanks skipped), 0 without one.
std::string LeadingNumber(const std::string& text, bool decimals)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    std::string out;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        out += text[i++];
    bool digits = false, point = false;
    for (; i < text.size(); ++i) {
        const char ch = text[i];
        if (ch >= '0' && ch <= '9') {
            out += ch;
            digits = true;
        } else if (decimals && ch == '.' && !point) {
            out += ch;
            point = true;
        } else {
            break;
        }
    }
    return digits ? out : std::string("0");
}

long long ParseWhole(const std::string& text)
{
    const std::string n = LeadingNumber(text, false);
    return std::clamp<long long>(std::strtoll(n.c_str(), nullptr, 10), INT_MIN, INT_MAX);
}

double ParseReal(const std::string& text)
{
    const double v = std::strtod(LeadingNumber(text, true).c_str(), nullptr);
    return std::isfinite(v) ? v : 0.0;
}

}  // namespace

void EditLineModel::MouseDown(int x, uint8_t mods)
{
    if (m_clickClears && (mods & kExtendMods)) {
        m_caret = CharAtX(x);
        if (m_selStart >= 0) {
            // The end nearer to the click follows it; on a tie the end does.
            if (std::labs(m_selStart - m_caret) < std::labs(m_selEnd - m_caret))
                m_selStart = m_caret;
            else
                m_selEnd = m_caret;
            if (m_selStart > m_selEnd)
                std::swap(m_selStart, m_selEnd);
        } else {
            m_selStart = std::min(m_anchor, m_caret);
            m_selEnd = std::max(m_anchor, m_caret);
        }
        Redraw();
        m_dragging = true;
        return;
    }
    if (m_clickClears)
        m_selStart = m_selEnd = -1;
    m_caret = CharAtX(x);
    Redraw();
    m_dragging = true;
    m_anchor = m_caret;
}

void EditLineModel::MouseDrag(int x)
{
    if (!m_focused || !m_dragging)
        return;
    const long len = long(m_text.size());
    if (x < m_fieldLeft && m_firstVisible > 0) {
        --m_firstVisible;
        LayoutRun();
    } else if (x >= m_fieldRight && m_firstVisible + m_visibleCount < len) {
        ++m_firstVisible;
        LayoutRun();
    }
    m_caret = CharAtX(x);
    m_selStart = std::min(m_anchor, m_caret);
    m_selEnd = std::max(m_anchor, m_caret);
    Redraw();
}

void EditLineModel::MouseUp()
{
    m_clickClears = true;
    m_dragging = false;
}

void EditLineModel::SelectWordAt(long p)
{
    const long len = long(m_text.size());
    p = std::clamp(p, 0L, len);
    long start = p;
    while (start > 0 && IsWordChar(m_text[size_t(start - 1)]))
        --start;
    long end = p;
    while (end < len && IsWordChar(m_text[size_t(end)]))
        ++end;
    if (start == end) {
        while (start > 0 && !IsWordChar(m_text[size_t(start - 1)]))
            --start;
        while (start > 0 && IsWordChar(m_text[size_t(start - 1)]))
            --start;
    }
    if (start < end) {
        m_selStart = start;
        m_selEnd = end;
    } else {
        m_selStart = m_selEnd = -1;
    }
    Redraw();
}

bool EditLineModel::Wheel(int delta, uint8_t mods)
{
    if (!m_focused || !m_numeric || m_step == 0.0)
        return false;
    Step(delta * ((mods & kModShift) ? 10 : 1));
    return true;
}

void EditLineModel::Step(int n)
{
    if (!m_numeric || m_step == 0.0)
        return;
    char buf[400];
    if (m_decimalsAllowed) {
        double v = ParseReal(m_text) + n * m_step;
        if (!m_minusAllowed && v < 0)
            v = 0;
        const double hundredths = std::trunc(std::fabs(m_step) * 100.0);
        const char* fmt = hundredths <= 9 ? "%.2f" : hundredths <= 99 ? "%.1f" : "%.0f";
        std::snprintf(buf, sizeof buf, fmt, std::clamp(v, -1e300, 1e300));
    } else {
        const long long step = (long long)std::clamp(std::trunc(m_step), double(INT_MIN), double(INT_MAX));
        long long v = std::clamp<long long>(ParseWhole(m_text) + (long long)n * step, INT_MIN, INT_MAX);
        if (!m_minusAllowed && v < 0)
            v = 0;
        std::snprintf(buf, sizeof buf, "%d", int(v));
    }
    SetText(buf, true);
}

long EditLineModel::WordLeft(long from) const
{
    long i = std::min(from, long(m_text.size())) - 1;
    while (i >= 0 && !IsWordChar(m_text[size_t(i)]))
        --i;
    while (i >= 0 && IsWordChar(m_text[size_t(i)]))
        --i;
    return i + 1;
}

long EditLineModel::WordRight(long from) const
{
    const long len = long(m_text.size());
    long i = std::max(from, 0L);
    while (i < len && !IsWordChar(m_text[size_t(i)]))
        ++i;
    while (i < len && IsWordChar(m_text[size_t(i)]))
        ++i;
    return i;
}

void EditLineModel::MoveCaret(long to, uint8_t mods)
{
    const long old = m_caret;
    m_caret = std::clamp(to, 0L, long(m_text.size()));
    if (!(mods & kExtendMods)) {
        m_selStart = m_selEnd = -1;
    } else {
        if (m_selStart < 0)
            m_anchor = old;
        m_selStart = std::min(m_anchor, m_caret);
        m_selEnd = std::max(m_anchor, m_caret);
    }
    Redraw();
}

void EditLineModel::KeyDown(uint8_t key, uint8_t mods)
{
    const bool stepping = m_numeric && m_step != 0.0;
    if (!stepping && key == kKeyUp)
        key = kKeyHome;
    if (!stepping && key == kKeyDown)
        key = kKeyEnd;
    if (mods == kModControl && key == kKeyLeft)
        key = kKeyHome;
    if (mods == kModControl && key == kKeyRight)
        key = kKeyEnd;
    const bool byWord = (mods & kWordMods) != 0;
    switch (key) {
    case kKeyUp:
        Step((mods & kModShift) ? 10 : 1);
        break;
    case kKeyDown:
        Step((mods & kModShift) ? -10 : -1);
        break;
    case kKeyLeft:
        MoveCaret(byWord ? WordLeft(m_caret) : m_caret - 1, mods);
        break;
    case kKeyRight:
        MoveCaret(byWord ? WordRight(m_caret) : m_caret + 1, mods);
        break;
    case kKeyHome:
        MoveCaret(0, mods);
        break;
    case kKeyEnd:
        MoveCaret(long(m_text.size()), mods);
        break;
    case kKeyBackspace:
    case kKeyDelete:
        if (!m_editable)
            break;
        Snapshot();
        if (HasNonEmptySelection()) {
            DeleteSelection();
        } else if (key == kKeyBackspace) {
            const long from = byWord ? WordLeft(m_caret) : m_caret - 1;
            const long to = m_caret;
            DeleteRange(from, to);
            m_caret = std::max(from, 0L);
        } else {
            DeleteRange(m_caret, byWord ? WordRight(m_caret) : m_caret + 1);
        }
        ChangeStep(true);
        break;
    case kKeyReturn:
        if (m_host)
            m_host->EditEndFocus();
        break;
    case kKeyEsc:
        m_text = m_textAtFocus;
        m_endedByEsc = true;
        m_selStart = m_selEnd = -1;
        m_caret = std::min(m_caret, long(m_text.size()));
        if (m_host)
            m_host->EditEndFocus();
        break;
    case kKeyTab:
        if (m_tabEnds && m_host)
            m_host->EditEndFocus();
        break;
    default:
        break;
    }
}

void EditLineModel::KeyChar(uint8_t ch, uint8_t mods)
{
    if (mods & kCommandMods) {
        switch (ch) {
        case 1: SelectAll(); break;
        case 3: Copy(); break;
        case 22: Paste(); break;
        case 24: Cut(); break;
        case 26: Undo(); break;
        default: break;
        }
        return;
    }
    if (!m_editable || !Accepts(ch))
        return;
    if (m_selStart >= 0) {
        Snapshot();
        DeleteSelection();
    }
    m_undoTaken = false;
    m_caret = std::clamp(m_caret, 0L, long(m_text.size()));
    m_text.insert(size_t(m_caret), 1, char(ch));
    ++m_caret;
    ChangeStep(true);
}

void EditLineModel::Copy()
{
    if (HasNonEmptySelection() && m_host)
        m_host->ClipboardSetText(m_text.substr(size_t(m_selStart), size_t(m_selEnd - m_selStart)));
}

void EditLineModel::Cut()
{
    Copy();
    if (!m_editable || !HasNonEmptySelection())
        return;
    Snapshot();
    DeleteSelection();
    ChangeStep(true);
}

void EditLineModel::Paste()
{
    if (!m_host || !m_host->ClipboardHasText())
        return;
    if (!m_editable) {
        m_host->EditBeep();
        return;
    }
    std::string clip;
    if (!m_host->ClipboardGetText(clip))
        return;
    // What could not be typed is not pasted either: characters without a
    // glyph, and in numeric fields anything but the number's characters.
    std::string keep;
    for (char ch : clip)
        if (Accepts(uint8_t(ch)))
            keep += ch;
    if (m_selStart >= 0) {
        Snapshot();
        DeleteSelection();
    }
    const long at = std::clamp(m_caret, 0L, long(m_text.size()));
    m_text.insert(size_t(at), keep);
    m_selStart = at;
    m_selEnd = at + long(keep.size());
    m_caret = m_selEnd;
    ChangeStep(true);
}

void EditLineModel::Undo()
{
    if (!m_editable)
        return;
    std::swap(m_text, m_undoText);
    m_undoTaken = false;
    m_caret = 0;
    m_selStart = m_selEnd = -1;
    ChangeStep(true);
}

}  // namespace qnui
