// Anti-aliased bitmap fonts, read from binary records of a storage container.
//
// The record, once its zip block is expanded:
//   0  4 bytes  "QNF2"
//   4  u8       first code
//   5  u8       last code (first <= last)
//   6  one glyph per code from first to last, back to back:
//        i8 a (left bearing), i8 c (space after the bitmap; the pen advances
//        by a + width + c), i8 top (bitmap top relative to the baseline,
//        negative above it), u8 width, u8 height, then width x height
//        coverage bytes, rows top to bottom (0 empty, 255 full).
//
// Glyphs are reached through a table of pointers into the one expanded record.
// A record is checked in full before anything is taken from it: too short, a
// wrong magic, first > last, or any glyph (head or coverage) running past the
// end is refused with error 176.
#pragma once

#include "core/ErrorManager.h"
#include "core/Mem.h"
#include "core/String.h"

#include <cstdint>

class CQNF_Storage;

namespace qnerr {
inline constexpr unsigned short FontFormat = 176;   // not a "QNF2" record, or a glyph runs past its end
inline constexpr unsigned short FontNoGlyph = 177;  // a code outside first..last
}  // namespace qnerr

inline constexpr char kQnFontMagic[4] = {'Q', 'N', 'F', '2'};

class CQNF_Font : public CQNF_FrameWork {
public:
    CQNF_Font() = default;
    ~CQNF_Font() override = default;
    CQNF_Font(const CQNF_Font&) = delete;
    CQNF_Font& operator=(const CQNF_Font&) = delete;

    // Loads the font from the binary record at the full key: the record is
    // expanded from its zip block and checked. On failure the font is not
    // open and carries the storage's, the zip stage's or its own number.
    bool Open(CQNF_Storage* storage, const CQNF_String& key);
    bool IsOpen() const { return m_height != 0; }

    unsigned char GetFirstCharCode() const { return m_first; }
    unsigned char GetLastCharCode() const { return m_last; }
    // Largest (top + height) - smallest top + 1; 0 when not open.
    unsigned short GetFontHeight() const { return m_height; }
    // a = the ascent (distance from a line's top to its baseline), b = the
    // descent (how far the lowest glyph reaches below the baseline).
    bool GetMaxAB(short& a, short& b) const;

    // The glyph's metrics and its coverage bytes; null with error 177 for a
    // code outside first..last (error 2 when the font is not open).
    const unsigned char* GetChar(unsigned char code, short& a, short& c, short& top, unsigned long& width,
                                 unsigned long& height);
    // The box the text occupies, lines lineStep apart; codes the font lacks
    // are skipped. 0 with error 2 when the font is not open.
    bool GetTextSize(const CQNF_String& text, unsigned short lineStep, unsigned long& width, unsigned long& height);

private:
    // Checks the expanded record in m_data and builds the glyph table.
    bool i_Parse();
    void i_Reset();

    uint8_t m_first = 0;
    uint8_t m_last = 0;
    CQNF_Mem m_data;
    const unsigned char* m_glyphs[256] = {};
    uint16_t m_height = 0;
    int16_t m_ascent = 0;
    int16_t m_descent = 0;
};
