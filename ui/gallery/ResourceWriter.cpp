#include "ui/gallery/ResourceWriter.h"

#include "core/ZipBlock.h"
#include "imaging/FontBuilder.h"

#include <algorithm>

namespace qnui {

std::vector<uint8_t> ImageRecordBytes(qntRECT_s rect, const PixelFn& pixel)
{
    const int32_t w = std::max(0, rect.right - rect.left), h = std::max(0, rect.bottom - rect.top);
    const size_t plane = size_t(w) * size_t(h);
    std::vector<uint8_t> out(8 + plane * 4);
    qnPutBE16(out.data(), uint16_t(rect.left));
    qnPutBE16(out.data() + 2, uint16_t(rect.top));
    qnPutBE16(out.data() + 4, uint16_t(rect.right));
    qnPutBE16(out.data() + 6, uint16_t(rect.bottom));
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const qntRGBA8 c = pixel(x, y);
            const size_t at = 8 + size_t(y) * w + x;
            out[at] = c.r;
            out[at + plane] = c.g;
            out[at + 2 * plane] = c.b;
            out[at + 3 * plane] = c.a;
        }
    return out;
}

std::vector<uint8_t> Pack(const std::vector<uint8_t>& raw)
{
    CQNF_Mem packed;
    CQNF_ZipBlock zip;
    zip.SetSourceBlock(raw.data(), raw.size());
    zip.SetDestBlock(&packed);
    if (raw.empty() || !zip.Compress(9))
        return {};
    return {packed.GetPtr(), packed.GetPtr() + packed.GetSize()};
}

std::vector<uint8_t> ShortcutBytes(const std::vector<ShortcutSpec>& shortcuts)
{
    std::vector<uint8_t> out(shortcuts.size() * 108, 0);
    for (size_t i = 0; i < shortcuts.size(); ++i) {
        const ShortcutSpec& s = shortcuts[i];
        uint8_t* r = out.data() + i * 108;
        r[0] = s.mainState;
        r[1] = s.option;
        r[2] = s.shift;
        r[3] = s.command ? 1 : 0;
        r[4] = s.key;
        r[6] = uint8_t(s.commandNumber);  // little-endian
        r[7] = uint8_t(s.commandNumber >> 8);
    }
    return out;
}

bool ResourceWriter::Folder(const std::string& key)
{
    size_t at = 0;
    for (;;) {
        const size_t sep = key.find('>', at);
        const std::string part = key.substr(0, sep);
        if (m_s.GetRecType(CQNF_String(part.c_str())) == kQnStorageNoRecord &&
            !m_s.AddFolder(CQNF_String(part.c_str())))
            return false;
        if (sep == std::string::npos)
            return true;
        at = sep + 1;
    }
}

bool ResourceWriter::Parent(const std::string& key)
{
    const size_t sep = key.rfind('>');
    return sep == std::string::npos || Folder(key.substr(0, sep));
}

bool ResourceWriter::Binary(const std::string& key, const std::vector<uint8_t>& bytes)
{
    return !bytes.empty() && Parent(key) && m_s.SetRecord(CQNF_String(key.c_str()), bytes.data(), uint32_t(bytes.size()));
}

bool ResourceWriter::Rect(const std::string& name, qntRECT_s r)
{
    const std::string base = "UIResources>Rects>" + name;
    if (!Folder(base))
        return false;
    const struct {
        const char* field;
        int32_t v;
    } fields[] = {{">Rect Left", r.left}, {">Rect Top", r.top}, {">Rect Right", r.right}, {">Rect Bottom", r.bottom}};
    for (const auto& f : fields)
        if (!m_s.SetRecord(CQNF_String((base + f.field).c_str()), uint16_t(f.v)))
            return false;
    return true;
}

bool ResourceWriter::String(const std::string& name, const std::string& text)
{
    const std::string key = "UIResources>Strings>" + name;
    return Parent(key) && m_s.SetRecord(CQNF_String(key.c_str()), CQNF_String(text.c_str()));
}

bool ResourceWriter::Font(const std::string& name, const char* fontFile, unsigned pixelSize)
{
    CQNF_FontBuilder builder;
    CQNF_Mem record, packed;
    if (!builder.Build(fontFile, pixelSize, 32, 255, record) || !builder.Pack(record, packed))
        return false;
    const std::string key = "UIResources>Fonts>" + name;
    return Parent(key) && m_s.SetRecord(CQNF_String(key.c_str()), packed.GetPtr(), packed.GetSize());
}

}  // namespace qnui
