#include "ui/EditLineModel.h"

#include "imaging/Font.h"
#include "imaging/Image.h"

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

const EditLineColours& DefaultEditLineColours()
{
    static const EditLineColours colours{{{217, 217, 217, 128},
                                          {223, 200, 235, 255},
                                          {255, 255, 255, 255},
                                          {11, 32, 235, 130},
                                          {175, 175, 175, 80},
                                          {77, 77, 77, 255},
                                          {30, 30, 30, 255},
                                          {0, 0, 0, 255},
                                          {255, 255, 255, 255},
                                          {0, 0, 0, 80}}};
    return colours;
}

namespace {

void FillRect(CQNF_Image& img, int x0, int y0, int x1, int y1, qntRGBA8 c)
{
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, int(img.GetImageWidth()));
    y1 = std::min(y1, int(img.GetImageHeight()));
    if (x0 >= x1 || y0 >= y1)
        return;
    const uint8_t v[4] = {c.r, c.g, c.b, c.a};
    const int w = img.GetImageWidth();
    for (unsigned p = 0; p < 4; ++p) {
        uint8_t* plane = img.GetPlane(p);
        for (int y = y0; y < y1; ++y)
            std::fill(plane + size_t(y) * w + x0, plane + size_t(y) * w + x1, v[p]);
    }
}

}  // namespace

bool ToggleCaret(CQNF_Image& layer, int layerLeft, int layerTop, int textTop, int textBottom,
                 const EditLineModel& m, int caretWidth)
{
    if (!m.IsFocused() || m.HasNonEmptySelection() || layer.GetImageMode() != qnimg::ModeRGBA)
        return false;
    const long caret = m.GetCaretPos();
    if (caret < m.GetFirstVisible() || caret > m.GetFirstVisible() + m.GetVisibleCount())
        return false;
    const int x = std::max(m.XOfIndex(caret) - (caretWidth >> 1) - 1, m.GetTextLeft());
    const int x0 = std::max(x - layerLeft, 0), x1 = std::min(x + caretWidth - layerLeft, int(layer.GetImageWidth()));
    const int y0 = std::max(textTop - layerTop, 0), y1 = std::min(textBottom - layerTop, int(layer.GetImageHeight()));
    const int w = layer.GetImageWidth();
    for (unsigned p = 0; p < 3; ++p) {
        uint8_t* plane = layer.GetPlane(p);
        for (int y = y0; y < y1; ++y)
            for (int xx = x0; xx < x1; ++xx)
                plane[size_t(y) * w + xx] = uint8_t(255 - plane[size_t(y) * w + xx]);
    }
    return true;
}

bool PaintEditLine(CQNF_Image& layer, int layerLeft, int layerTop, int textTop, int textBottom, int textOffset,
                   EditLineModel& m, const GlyphSource* glyphs, const EditLineColours& colours, uint8_t state,
                   int caretWidth)
{
    if (!glyphs || layer.GetImageMode() != qnimg::ModeRGBA)
        return false;
    m.Layout();
    const int roleBack = state == 2 ? 1 : state == 4 ? 2 : state == 8 ? 4 : 0;
    const int roleText = state == 2 ? 6 : state == 4 ? 7 : state == 8 ? 9 : 5;
    const int tl = m.GetTextLeft() - layerLeft, tr = m.GetTextRight() - layerLeft;
    const int tt = textTop - layerTop, tb = textBottom - layerTop;
    FillRect(layer, 0, 0, layer.GetImageWidth(), layer.GetImageHeight(), colours.c[roleBack]);
    long selStart = -1, selEnd = -1;
    m.GetSelection(&selStart, &selEnd, nullptr);
    const bool band = state == 4 && m.HasNonEmptySelection();
    if (band) {
        const int x0 = std::max(m.XOfIndex(selStart) - layerLeft, tl);
        const int x1 = std::min(m.XOfIndex(selEnd) - layerLeft, tr);
        FillRect(layer, x0, tt, x1, tb, colours.c[3]);
    }

    // Glyphs, clipped to the text area.
    const int w = layer.GetImageWidth();
    const int cx0 = std::max(tl, 0), cx1 = std::min(tr, w);
    const int cy0 = std::max(tt, 0), cy1 = std::min(tb, int(layer.GetImageHeight()));
    const int baseline = tt + glyphs->Ascent() + textOffset;
    const std::string& text = m.GetText();
    const auto& pos = m.GetPositions();
    uint8_t* planes[4] = {layer.GetPlane(0), layer.GetPlane(1), layer.GetPlane(2), layer.GetPlane(3)};
    for (long i = 0; i < m.GetVisibleCount(); ++i) {
        const long index = m.GetFirstVisible() + i;
        GlyphInfo g;
        const uint8_t* cov = glyphs->Glyph(uint8_t(text[size_t(index)]), g);
        if (!cov || g.w <= 0 || g.h <= 0)
            continue;
        const qntRGBA8 col = (band && index >= selStart && index < selEnd) ? colours.c[8] : colours.c[roleText];
        const uint8_t cv[3] = {col.r, col.g, col.b};
        const int gx = pos[size_t(i)] - layerLeft, gy = baseline + g.top;
        for (int y = std::max(gy, cy0); y < std::min(gy + g.h, cy1); ++y) {
            for (int x = std::max(gx, cx0); x < std::min(gx + g.w, cx1); ++x) {
                const int k = (cov[(y - gy) * g.w + (x - gx)] * col.a) >> 8;
                const size_t o = size_t(y) * w + x;
                for (int p = 0; p < 3; ++p)
                    planes[p][o] = uint8_t(((255 - k) * planes[p][o] + k * cv[p]) >> 8);
                planes[3][o] = uint8_t(255 - (((255 - planes[3][o]) * (255 - k)) >> 8));
            }
        }
    }
    return ToggleCaret(layer, layerLeft, layerTop, textTop, textBottom, m, caretWidth);
}

}  // namespace qnui
