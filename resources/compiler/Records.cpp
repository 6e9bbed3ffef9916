#include "resources/compiler/Records.h"

#include "core/ErrorWords.h"

#include "core/BlockProcessor.h"
#include "core/ZipBlock.h"
#include "resources/compiler/Container.h"
#include "resources/compiler/Error.h"

#include <cstring>

namespace rc {

std::vector<uint8_t> Zip(const std::vector<uint8_t>& raw)
{
    if (raw.empty())
        throw Error("an empty block cannot be zipped");
    CQNF_ZipBlock zip;
    CQNF_Mem out;
    zip.SetSourceBlock(raw.data(), raw.size());
    zip.SetDestBlock(&out);
    zip.SetMode(2);  // level 6: skins are flat colours, level 9 gains little and costs build time
    if (!zip.Process())
        throw Error(std::string("zlib failed: ") + qnErrorWords(zip.GetError()));
    return std::vector<uint8_t>(out.GetPtr(), out.GetPtr() + out.GetSize());
}

std::vector<uint8_t> PackImage(const Pixmap& image)
{
    if (image.Empty() || image.left < 0 || image.top < 0 || image.left + image.width > 0xFFFF ||
        image.top + image.height > 0xFFFF)
        throw Error("image rectangle out of range");
    std::vector<uint8_t> raw(8 + image.planes.size());
    qnPutBE16(raw.data(), uint16_t(image.left));
    qnPutBE16(raw.data() + 2, uint16_t(image.top));
    qnPutBE16(raw.data() + 4, uint16_t(image.left + image.width));
    qnPutBE16(raw.data() + 6, uint16_t(image.top + image.height));
    std::memcpy(raw.data() + 8, image.planes.data(), image.planes.size());
    return Zip(raw);
}

std::vector<uint8_t> ShortcutRecords(const std::vector<Shortcut>& list)
{
    std::vector<uint8_t> out(list.size() * kShortcutSize, 0);
    for (size_t i = 0; i < list.size(); ++i) {
        uint8_t* r = out.data() + i * kShortcutSize;
        const Shortcut& s = list[i];
        r[0] = s.main;  // the main modifier must be down, or up
        r[1] = s.option;
        r[2] = s.shift;
        r[3] = s.command_key;
        r[4] = s.key;
        r[6] = uint8_t(s.command);  // the command is little-endian
        r[7] = uint8_t(s.command >> 8);
        std::memcpy(r + 8, s.label.data(), std::min<size_t>(s.label.size(), kShortcutSize - 9));
    }
    return out;
}

std::string HelpText(const std::vector<HelpEntry>& entries)
{
    if (entries.size() > kMaxHelpEntries)
        throw Error("the help menu holds at most 10 entries");
    std::string text;
    for (const HelpEntry& e : entries) {
        if (e.title == "---") {
            text += "{|---|}";
            continue;
        }
        if (e.title.find("|}") != std::string::npos || e.url.find("|}") != std::string::npos)
            throw Error("help entry '" + e.title + "' holds the token end \"|}\"");
        text += "{|" + e.title + "|}{|" + e.url + "|}";
    }
    return text;
}

static void PutLE32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

std::vector<uint8_t> ShapeSet(const std::vector<Shape>& shapes)
{
    ContainerWriter set;
    set.String("Version", kShapeSetVersion);
    for (size_t i = 0; i < shapes.size(); ++i) {
        const Shape& s = shapes[i];
        if (s.name.empty() || s.name.size() > 63)
            throw Error("shape name '" + s.name + "' must have 1..63 characters");
        if (s.nodes.size() > kMaxShapeNodes)
            throw Error("shape '" + s.name + "' has more than 64 nodes");
        std::vector<uint8_t> rec(68 + 12 * s.nodes.size(), 0);
        std::memcpy(rec.data(), s.name.data(), s.name.size());
        PutLE32(rec.data() + 64, uint32_t(s.nodes.size()));
        for (size_t n = 0; n < s.nodes.size(); ++n) {
            const float v[3] = {s.nodes[n].u, s.nodes[n].h, s.nodes[n].s};
            for (int k = 0; k < 3; ++k) {
                uint32_t bits;
                std::memcpy(&bits, &v[k], 4);
                PutLE32(rec.data() + 68 + 12 * n + 4 * k, bits);
            }
        }
        set.Binary("Shape_" + std::to_string(i), rec);
    }
    set.U32("TotalShapes", uint32_t(shapes.size()));
    return set.Finish();
}

}  // namespace rc
