#include "imaging/Font.h"

#include "core/Storage.h"
#include "core/ZipBlock.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kGlyphHead = 5;

struct GlyphHead {
    int a;
    int c;
    int top;
    int width;
    int height;
};

GlyphHead ReadHead(const unsigned char* g)
{
    return {static_cast<int8_t>(g[0]), static_cast<int8_t>(g[1]), static_cast<int8_t>(g[2]), g[3], g[4]};
}

}  // namespace

void CQNF_Font::i_Reset()
{
    m_data.free();
    m_first = 0;
    m_last = 0;
    std::fill(std::begin(m_glyphs), std::end(m_glyphs), nullptr);
    m_height = 0;
    m_ascent = 0;
    m_descent = 0;
}

bool CQNF_Font::Open(CQNF_Storage* storage, const CQNF_String& key)
{
    ResetError();
    i_Reset();
    if (!storage) {
        SetError(qnerr::BadArgument);
        return false;
    }
    CQNF_Mem packed;
    if (!storage->GetRec(key, packed)) {
        SetError(storage->GetError() ? storage->GetError() : qnerr::BadArgument);
        return false;
    }
    CQNF_ZipBlock zip;
    zip.SetSourceBlock(packed);
    zip.SetDestBlock(&m_data);
    zip.SetMode(0);
    if (!zip.Process()) {
        SetError(zip.GetError() ? zip.GetError() : qnerr::FontFormat);
        i_Reset();
        return false;
    }
    if (!i_Parse()) {
        i_Reset();
        return false;
    }
    return true;
}

bool CQNF_Font::i_Parse()
{
    const unsigned char* p = m_data.GetPtr();
    const size_t size = m_data.GetSize();
    if (!p || size < 6 || std::memcmp(p, kQnFontMagic, 4) != 0 || p[4] > p[5]) {
        SetError(qnerr::FontFormat);
        return false;
    }
    const uint8_t first = p[4];
    const uint8_t last = p[5];
    int smallestTop = 10000;
    int largestBottom = -10000;
    size_t at = 6;
    for (unsigned code = first; code <= last; ++code) {
        // The head, then the coverage, must lie inside the record; a glyph
        // ending exactly at the record's end is whole.
        if (size - at < kGlyphHead) {
            SetError(qnerr::FontFormat);
            return false;
        }
        const GlyphHead g = ReadHead(p + at);
        const size_t next = at + kGlyphHead + size_t(g.width) * size_t(g.height);
        if (next > size) {
            SetError(qnerr::FontFormat);
            return false;
        }
        m_glyphs[code] = p + at;
        smallestTop = std::min(smallestTop, g.top);
        largestBottom = std::max(largestBottom, g.top + g.height);
        at = next;
    }
    m_first = first;
    m_last = last;
    m_height = static_cast<uint16_t>(largestBottom - smallestTop + 1);
    m_ascent = static_cast<int16_t>(-smallestTop);
    m_descent = static_cast<int16_t>(largestBottom);
    return true;
}

bool CQNF_Font::GetMaxAB(short& a, short& b) const
{
    a = m_ascent;
    b = m_descent;
    return true;
}

const unsigned char* CQNF_Font::GetChar(unsigned char code, short& a, short& c, short& top, unsigned long& width,
                                        unsigned long& height)
{
    if (!IsOpen()) {
        SetError(qnerr::Empty);
        return nullptr;
    }
    if (code < m_first || code > m_last || !m_glyphs[code]) {
        SetError(qnerr::FontNoGlyph);
        return nullptr;
    }
    const GlyphHead g = ReadHead(m_glyphs[code]);
    a = static_cast<short>(g.a);
    c = static_cast<short>(g.c);
    top = static_cast<short>(g.top);
    width = static_cast<unsigned long>(g.width);
    height = static_cast<unsigned long>(g.height);
    return m_glyphs[code] + kGlyphHead;
}

bool CQNF_Font::GetTextSize(const CQNF_String& text, unsigned short lineStep, unsigned long& width,
                            unsigned long& height)
{
    width = 0;
    height = 0;
    if (!IsOpen()) {
        SetError(qnerr::Empty);
        return false;
    }
    int64_t w = 0, h = 0, penX = 0, lineY = 0;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text.GetStr());
    const uint32_t n = text.GetLength();
    for (uint32_t i = 0; i < n; ++i) {
        const unsigned char code = s[i];
        if (code == 10) {
            lineY += lineStep;
            penX = 0;
            continue;
        }
        if (code < m_first || code > m_last)
            continue;
        const GlyphHead g = ReadHead(m_glyphs[code]);
        if (penX == 0 && g.a < 0)
            penX = -g.a;
        const int64_t right = penX + g.a + g.width;
        w = std::max(w, right);
        penX = right + g.c;
        h = std::max(h, m_ascent + lineY + g.top + g.height);
    }
    width = static_cast<unsigned long>(w);
    height = static_cast<unsigned long>(h);
    return true;
}
