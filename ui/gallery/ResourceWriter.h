// Writes the records windows read from a UI resource storage: packed image
// records, rectangles, strings, shortcut tables and fonts. The gallery and
// the toolkit's tests make their small resource files with it; the system's
// own resource file comes from the resource compiler.
#pragma once

#include "core/Storage.h"
#include "core/Types.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qnui {

// One keyboard shortcut record.
struct ShortcutSpec {
    uint8_t key;              // upper-case letter, digit, punctuation, or 220..231
    bool command = true;      // main modifier: Command (else Control)
    uint8_t mainState = 1;    // required state of the main modifier
    uint8_t option = 0;
    uint8_t shift = 0;
    uint16_t commandNumber = 0;
};

using PixelFn = std::function<qntRGBA8(int32_t x, int32_t y)>;  // image-local coordinates

// The unpacked bytes of an image record: big-endian rectangle, then planar
// red, green, blue and alpha.
std::vector<uint8_t> ImageRecordBytes(qntRECT_s rect, const PixelFn& pixel);
// Bytes packed as a zip block; empty on failure.
std::vector<uint8_t> Pack(const std::vector<uint8_t>& raw);
// The unpacked bytes of a shortcut table.
std::vector<uint8_t> ShortcutBytes(const std::vector<ShortcutSpec>& shortcuts);

class ResourceWriter {
public:
    explicit ResourceWriter(CQNF_Storage& storage) : m_s(storage) {}

    // Creates every missing folder of the key (the key included).
    bool Folder(const std::string& key);
    // A binary record, its parent folders made as needed.
    bool Binary(const std::string& key, const std::vector<uint8_t>& bytes);
    bool PackedBinary(const std::string& key, const std::vector<uint8_t>& raw) { return Binary(key, Pack(raw)); }
    bool Image(const std::string& key, qntRECT_s rect, const PixelFn& pixel)
    {
        return PackedBinary(key, ImageRecordBytes(rect, pixel));
    }
    // "UIResources>Rects>name>Rect Left" ... as u16 records.
    bool Rect(const std::string& name, qntRECT_s r);
    bool String(const std::string& name, const std::string& text);
    bool Shortcuts(const std::vector<ShortcutSpec>& shortcuts)
    {
        return PackedBinary("UIResources>Accelerators", ShortcutBytes(shortcuts));
    }
    // "UIResources>Fonts>name" rasterised from a scalable font file.
    bool Font(const std::string& name, const char* fontFile, unsigned pixelSize);

private:
    bool Parent(const std::string& key);
    CQNF_Storage& m_s;
};

}  // namespace qnui
