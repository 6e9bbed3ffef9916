// Makes the system's own bitmap fonts from scalable fonts (TrueType, OpenType,
// anything FreeType reads): each code of a range is rasterised anti-aliased at
// one pixel size into a "QNF2" record (see imaging/Font.h), which Pack puts
// into the zip block that the font loader expects in a storage record.
//
// Codes are 8-bit and taken as the first 256 Unicode code points (Latin-1).
// Codes the source font has no glyph for, and the control codes, become empty
// glyphs that do not move the pen.
#pragma once

#include "core/ErrorManager.h"
#include "core/Mem.h"

#include <cstdint>
#include <string>

namespace qnerr {
inline constexpr unsigned short FontSource = 178;  // the source font cannot be read, or a glyph does not fit a record
}  // namespace qnerr

class CQNF_FontBuilder : public CQNF_FrameWork {
public:
    CQNF_FontBuilder() = default;
    ~CQNF_FontBuilder() override = default;

    // Rasterises codes first..last of the font file at pixelSize (4..120)
    // into record. On failure the record is empty and GetErrorText() says why.
    bool Build(const char* fontPath, unsigned pixelSize, uint8_t first, uint8_t last, CQNF_Mem& record);
    // The record as a zip block (best compression), ready for a binary
    // storage record.
    bool Pack(const CQNF_Mem& record, CQNF_Mem& packed);

    const std::string& GetErrorText() const { return m_errorText; }

private:
    bool Fail(unsigned short error, std::string text);

    std::string m_errorText;
};
