// A layer whose RGBA image holds one text: the colour in the red, green and
// blue planes and the glyph coverage in the alpha plane, so that the layer set
// composites the text over whatever lies below it.
//
// Every setter redraws at once. A layer of fixed size keeps the size given to
// Create and draws from its offset; a growing layer is re-created at exactly
// the text's size (at most 30000 a side) whenever the text no longer fits and
// draws from its top-left corner. A colour of all zeros rewrites only the
// coverage, leaving red, green and blue as the caller painted them.
#pragma once

#include "core/Array.h"
#include "core/String.h"
#include "core/Types.h"
#include "imaging/Font.h"
#include "imaging/Layer.h"

#include <cstdint>

class CQNF_TextLayer : public CQNF_Layer {
public:
    CQNF_TextLayer() = default;
    ~CQNF_TextLayer() override = default;

    // An RGBA layer at (x, y): width x height when fixedSize is nonzero, else
    // 10 x 10 to begin with.
    bool Create(short x, short y, unsigned char fixedSize, unsigned short width, unsigned short height);

    bool SetText(const CQNF_String& text, qntRGBA8 colour, unsigned short lineHeight, long x, long y);
    bool SetText(const CQNF_String& text);
    bool SetColor(qntRGBA8 colour);
    bool SetOffSet(long x, long y);
    bool SetLineHeight(unsigned short lineHeight);
    // The font must be open and stay alive while the layer is drawn.
    bool SetFont(CQNF_Font* font);

    // Tab stops: x positions in the image, in the order given (no redraw).
    uint32_t AddTab(unsigned short x);
    void RemoveAllTabs() { m_tabs.Empty(); }
    uint32_t GetTabsCount() const { return m_tabs.GetSize(); }

    CQNF_Font* GetFont() const { return m_font; }
    unsigned short GetLineHeight() const { return m_lineHeight; }
    const CQNF_String& GetText() const { return m_text; }
    CQNF_String GetTextCopy() const { return m_text; }
    bool GetOffSet(long& x, long& y) const;
    qntRGBA8 GetColor() const { return m_colour; }

    // Renders the text into the image.
    bool DrawText();
    // The box of the text's inked pixels, laid out as DrawText lays it out,
    // in the layer's image (the text may reach past it); qnNullRect for no ink.
    qntRECT_s GetInkRect();
    // Whether all of that ink lands inside a layer of fixed size (which would
    // clip it); a growing layer always fits.
    bool TextFits();

private:
    // Lays the text out from (ox, oy): glyph(x, y, coverage, width, height)
    // for every glyph, lines and tab stops as drawn.
    template <class F>
    void ForEachGlyph(int64_t ox, int64_t oy, F&& glyph);
    // How far a space moves the pen in the layer's font (a third of the
    // line's height when the font has no space).
    int64_t SpaceAdvance() const;

    CQNF_Font* m_font = nullptr;
    CQNF_String m_text;
    uint16_t m_lineHeight = 15;
    uint8_t m_fixedSize = 0;
    int32_t m_offsetX = 0;
    int32_t m_offsetY = 0;
    qntRGBA8 m_colour{0, 0, 0, 0};
    CQNF_WordArray m_tabs;
    uint32_t m_nextTab = 0;
};
