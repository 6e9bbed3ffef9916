#include "imaging/FontBuilder.h"

#include "core/ZipBlock.h"
#include "imaging/Font.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstring>
#include <memory>
#include <vector>

namespace {

struct LibraryCloser {
    void operator()(FT_Library lib) const { FT_Done_FreeType(lib); }
};
struct FaceCloser {
    void operator()(FT_Face face) const { FT_Done_Face(face); }
};
using Library = std::unique_ptr<std::remove_pointer_t<FT_Library>, LibraryCloser>;
using Face = std::unique_ptr<std::remove_pointer_t<FT_Face>, FaceCloser>;

bool FitsI8(long v) { return v >= -128 && v <= 127; }

}  // namespace

bool CQNF_FontBuilder::Fail(unsigned short error, std::string text)
{
    SetError(error);
    m_errorText = std::move(text);
    return false;
}

bool CQNF_FontBuilder::Build(const char* fontPath, unsigned pixelSize, uint8_t first, uint8_t last, CQNF_Mem& record)
{
    ResetError();
    m_errorText.clear();
    record.free();
    if (!fontPath || pixelSize < 4 || pixelSize > 120 || first > last)
        return Fail(qnerr::BadArgument, "bad arguments (pixel size 4..120, first code <= last code)");

    FT_Library rawLib = nullptr;
    if (FT_Init_FreeType(&rawLib))
        return Fail(qnerr::FontSource, "cannot start the font rasteriser");
    Library lib(rawLib);
    FT_Face rawFace = nullptr;
    if (FT_New_Face(lib.get(), fontPath, 0, &rawFace))
        return Fail(qnerr::FontSource, std::string("cannot read font ") + fontPath);
    Face face(rawFace);
    if (FT_Set_Pixel_Sizes(face.get(), 0, pixelSize))
        return Fail(qnerr::FontSource, "the font has no size " + std::to_string(pixelSize));

    std::vector<uint8_t> out(kQnFontMagic, kQnFontMagic + 4);
    out.push_back(first);
    out.push_back(last);
    for (unsigned code = first; code <= last; ++code) {
        const FT_UInt index = (code < 32 || (code >= 127 && code < 160)) ? 0 : FT_Get_Char_Index(face.get(), code);
        if (index == 0) {
            out.insert(out.end(), {0, 0, 0, 0, 0});
            continue;
        }
        if (FT_Load_Glyph(face.get(), index, FT_LOAD_RENDER | FT_LOAD_TARGET_LIGHT))
            return Fail(qnerr::FontSource, "cannot render code " + std::to_string(code));
        const FT_GlyphSlot g = face->glyph;
        const FT_Bitmap& bm = g->bitmap;
        if (bm.width > 0 && bm.rows > 0 && (bm.pixel_mode != FT_PIXEL_MODE_GRAY || bm.num_grays != 256 || bm.pitch < 0))
            return Fail(qnerr::FontSource, "code " + std::to_string(code) + " is not an 8-bit grey bitmap");
        const long a = g->bitmap_left;
        const long top = -static_cast<long>(g->bitmap_top);
        const long advance = (g->advance.x + 32) >> 6;
        const long c = advance - a - static_cast<long>(bm.width);
        if (!FitsI8(a) || !FitsI8(top) || !FitsI8(c) || bm.width > 255 || bm.rows > 255)
            return Fail(qnerr::FontSource, "code " + std::to_string(code) + " is too large for a bitmap font");
        out.push_back(static_cast<uint8_t>(static_cast<int8_t>(a)));
        out.push_back(static_cast<uint8_t>(static_cast<int8_t>(c)));
        out.push_back(static_cast<uint8_t>(static_cast<int8_t>(top)));
        out.push_back(static_cast<uint8_t>(bm.width));
        out.push_back(static_cast<uint8_t>(bm.rows));
        for (unsigned row = 0; row < bm.rows; ++row) {
            const unsigned char* src = bm.buffer + size_t(row) * size_t(bm.pitch);
            out.insert(out.end(), src, src + bm.width);
        }
    }
    if (!record.alloc(out.size()))
        return Fail(record.GetError() ? record.GetError() : qnerr::NoMemory, "out of memory");
    std::memcpy(record.GetPtr(), out.data(), out.size());
    return true;
}

bool CQNF_FontBuilder::Pack(const CQNF_Mem& record, CQNF_Mem& packed)
{
    ResetError();
    m_errorText.clear();
    CQNF_ZipBlock zip;
    zip.SetSourceBlock(record);
    zip.SetDestBlock(&packed);
    zip.SetMode(1);
    if (!zip.Process())
        return Fail(zip.GetError() ? zip.GetError() : qnerr::BadArgument, "cannot compress the font record");
    return true;
}
