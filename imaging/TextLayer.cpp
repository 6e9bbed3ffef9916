#include "imaging/TextLayer.h"

#include <algorithm>

namespace {

constexpr unsigned long kMaxGrowSize = 30000;

int32_t ClampOffset(long v) { return static_cast<int32_t>(std::clamp<long>(v, INT32_MIN, INT32_MAX)); }

}  // namespace

bool CQNF_TextLayer::Create(short x, short y, unsigned char fixedSize, unsigned short width, unsigned short height)
{
    m_fixedSize = fixedSize;
    if (fixedSize)
        return CQNF_Layer::Create(x, y, width, height, qnimg::ModeRGBA);
    return CQNF_Layer::Create(x, y, static_cast<unsigned short>(10), static_cast<unsigned short>(10),
                              qnimg::ModeRGBA);
}

bool CQNF_TextLayer::SetText(const CQNF_String& text, qntRGBA8 colour, unsigned short lineHeight, long x, long y)
{
    m_text = text;
    m_colour = colour;
    m_lineHeight = lineHeight;
    m_offsetX = ClampOffset(x);
    m_offsetY = ClampOffset(y);
    return DrawText();
}

bool CQNF_TextLayer::SetText(const CQNF_String& text)
{
    m_text = text;
    return DrawText();
}

bool CQNF_TextLayer::SetColor(qntRGBA8 colour)
{
    m_colour = colour;
    return DrawText();
}

bool CQNF_TextLayer::SetOffSet(long x, long y)
{
    m_offsetX = ClampOffset(x);
    m_offsetY = ClampOffset(y);
    return DrawText();
}

bool CQNF_TextLayer::SetLineHeight(unsigned short lineHeight)
{
    m_lineHeight = lineHeight;
    return DrawText();
}

bool CQNF_TextLayer::SetFont(CQNF_Font* font)
{
    m_font = font;
    return DrawText();
}

uint32_t CQNF_TextLayer::AddTab(unsigned short x)
{
    const int32_t i = m_tabs.Add(x);
    if (i < 0) {
        SetError(m_tabs.GetError() ? m_tabs.GetError() : qnerr::NoMemory);
        return 0xFFFFFFFFu;
    }
    return static_cast<uint32_t>(i);
}

bool CQNF_TextLayer::GetOffSet(long& x, long& y) const
{
    x = m_offsetX;
    y = m_offsetY;
    return true;
}

int64_t CQNF_TextLayer::SpaceAdvance() const
{
    short a = 0, c = 0, top = 0;
    unsigned long gw = 0, gh = 0;
    if (' ' >= m_font->GetFirstCharCode() && ' ' <= m_font->GetLastCharCode() &&
        m_font->GetChar(' ', a, c, top, gw, gh))
        return std::max<int64_t>(1, int64_t(a) + int64_t(gw) + c);
    short ascent = 0, descent = 0;
    m_font->GetMaxAB(ascent, descent);
    return std::max<int64_t>(1, (int64_t(ascent) + descent) / 3);
}

template <class F>
void CQNF_TextLayer::ForEachGlyph(int64_t ox, int64_t oy, F&& glyph)
{
    short ascent = 0, descent = 0;
    m_font->GetMaxAB(ascent, descent);
    int64_t lineTop = oy;
    int64_t penX = ox;
    m_nextTab = 0;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(m_text.GetStr());
    const uint32_t n = m_text.GetLength();
    for (uint32_t i = 0; i < n; ++i) {
        const unsigned char code = s[i];
        if (code == 10) {
            lineTop += m_lineHeight;
            penX = ox;
            m_nextTab = 0;
            continue;
        }
        if (code == 9) {
            // A stop the line's text has already run past would draw the
            // next column over it: such stops are passed over, and past the
            // last stop the column is kept a space's width away.
            const int64_t gap = SpaceAdvance();
            bool passed = false;
            while (penX > ox && m_nextTab < m_tabs.GetSize() && int64_t(m_tabs[m_nextTab]) < penX + gap) {
                ++m_nextTab;
                passed = true;
            }
            if (m_nextTab < m_tabs.GetSize())
                penX = m_tabs[m_nextTab++];
            else if (passed)
                penX += gap;
            continue;
        }
        short a = 0, c = 0, top = 0;
        unsigned long gw = 0, gh = 0;
        if (code < m_font->GetFirstCharCode() || code > m_font->GetLastCharCode())
            continue;
        const unsigned char* cov = m_font->GetChar(code, a, c, top, gw, gh);
        if (!cov)
            continue;
        if (penX == ox && a < 0)
            penX = ox - a;
        const int64_t gx = penX + a;
        glyph(gx, lineTop + ascent + top, cov, int64_t(gw), int64_t(gh));
        penX = gx + int64_t(gw) + c;
    }
}

bool CQNF_TextLayer::DrawText()
{
    if (!m_font) {
        SetError(qnerr::BadArgument);
        return false;
    }
    unsigned long w = 0, h = 0;
    m_font->GetTextSize(m_text, m_lineHeight, w, h);

    const qntRGBA8 fill{m_colour.r, m_colour.g, m_colour.b, 0};
    const bool anyColour = m_colour.r || m_colour.g || m_colour.b || m_colour.a;
    const unsigned char planes = anyColour ? 0x0F : 0x08;
    if (w == 0 || h == 0)
        return Set(fill, planes, qnNullRect);

    int64_t ox = m_offsetX;
    int64_t oy = m_offsetY;
    if (!m_fixedSize) {
        w = std::min(w, kMaxGrowSize);
        h = std::min(h, kMaxGrowSize);
        if (GetImageWidth() < w || GetImageHeight() < h) {
            short x = 0, y = 0;
            GetPos(x, y);
            if (!CQNF_Layer::Create(x, y, static_cast<unsigned short>(w), static_cast<unsigned short>(h),
                                    qnimg::ModeRGBA))
                return false;
            if (!Set(fill, 0x0F, qnNullRect))
                return false;
        }
        ox = 0;
        oy = 0;
    }
    if (!Set(fill, planes, qnNullRect))
        return false;

    const int64_t iw = GetImageWidth();
    const int64_t ih = GetImageHeight();
    uint8_t* alpha = GetPlane(3);
    ForEachGlyph(ox, oy, [&](int64_t gx, int64_t gy, const unsigned char* cov, int64_t gw, int64_t gh) {
        const int64_t x0 = std::max<int64_t>(gx, 0), x1 = std::min<int64_t>(gx + gw, iw);
        const int64_t y0 = std::max<int64_t>(gy, 0), y1 = std::min<int64_t>(gy + gh, ih);
        for (int64_t y = y0; y < y1; ++y) {
            const unsigned char* src = cov + (y - gy) * gw;
            uint8_t* dst = alpha + y * iw;
            for (int64_t x = x0; x < x1; ++x)
                if (src[x - gx])
                    dst[x] = src[x - gx];
        }
    });
    return true;
}

qntRECT_s CQNF_TextLayer::GetInkRect()
{
    if (!m_font)
        return qnNullRect;
    int64_t l = INT64_MAX, t = INT64_MAX, r = INT64_MIN, b = INT64_MIN;
    ForEachGlyph(m_offsetX, m_offsetY, [&](int64_t gx, int64_t gy, const unsigned char* cov, int64_t gw, int64_t gh) {
        // Only inked pixels count: a glyph's empty margin may overhang.
        for (int64_t y = 0; y < gh; ++y)
            for (int64_t x = 0; x < gw; ++x)
                if (cov[y * gw + x]) {
                    l = std::min(l, gx + x);
                    t = std::min(t, gy + y);
                    r = std::max(r, gx + x + 1);
                    b = std::max(b, gy + y + 1);
                }
    });
    if (l > r)
        return qnNullRect;
    const auto c = [](int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); };
    return qntRECT_s{c(l), c(t), c(r), c(b)};
}

bool CQNF_TextLayer::TextFits()
{
    const qntRECT_s ink = GetInkRect();
    return !m_fixedSize || qnIsNullRect(ink) ||
           (ink.left >= 0 && ink.top >= 0 && ink.right <= GetImageWidth() && ink.bottom <= GetImageHeight());
}
