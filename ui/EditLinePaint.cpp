// Painting the edit line into its layer: the default colours, the caret and
// the whole field.
#include "ui/EditLineModel.h"

#include "imaging/Image.h"

#include <algorithm>

namespace qnui {

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
    // The digits stand in the middle of the text area, whatever its height;
    // without a digit glyph the line stands at the area's top.
    GlyphInfo digit;
    int baseline = tt + glyphs->Ascent() + textOffset;
    if (glyphs->Glyph('0', digit) && digit.h > 0 && digit.h <= tb - tt)
        baseline = tt + (tb - tt - digit.h) / 2 - digit.top + textOffset;
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
