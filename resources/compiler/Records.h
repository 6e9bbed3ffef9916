// The payloads of the resource file's records, byte for byte as the toolkit
// and the windows read them:
//   image      zip block of BE u16 left, top, right, bottom, then the planar
//              R, G, B, A planes of the rectangle (window coordinates)
//   shortcut   108 bytes: main-modifier state, Option, Shift, main modifier
//              (nonzero Command, 0 Control), key, unused, LE u16 command,
//              then a NUL-padded label nobody reads (kept for dumps)
//   "InfoM"    zip block of "{|title|}{|url|}" pairs, "{|---|}" a separator
//   "DefSet"   a stamped storage container image: "Version", "Shape_%d"
//              (64-byte name, LE u32 n, n x LE f32 U, H, S), "TotalShapes"
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rc {

// An RGBA picture placed in window coordinates, planes one after another.
struct Pixmap {
    int left = 0, top = 0, width = 0, height = 0;
    std::vector<uint8_t> planes;  // 4 * width * height: R, G, B, A

    Pixmap() = default;
    Pixmap(int l, int t, int w, int h) : left(l), top(t), width(w), height(h), planes(size_t(4) * w * h, 0) {}
    uint8_t* Plane(int p) { return planes.data() + size_t(p) * width * height; }
    const uint8_t* Plane(int p) const { return planes.data() + size_t(p) * width * height; }
    bool Empty() const { return width <= 0 || height <= 0; }
};

// zlib behind the "QNCV2-01" header, through the core's zip stage.
std::vector<uint8_t> Zip(const std::vector<uint8_t>& raw);
std::vector<uint8_t> PackImage(const Pixmap& image);

struct Shortcut {
    uint16_t command = 0;
    bool command_key = true;  // false: the Control key is the main modifier
    bool main = true;         // false: the main modifier must be up (Shift+H)
    bool option = false;
    bool shift = false;
    uint8_t key = 0;  // upper-case letter, digit, punctuation, or 220..231 for F1..F12
    std::string label;
};
inline constexpr size_t kShortcutSize = 108;
std::vector<uint8_t> ShortcutRecords(const std::vector<Shortcut>& list);

struct HelpEntry {
    std::string title, url;  // title "---" is a separator
};
inline constexpr size_t kMaxHelpEntries = 10;
std::string HelpText(const std::vector<HelpEntry>& entries);

struct ShapeNode {
    float u = 0, h = 0, s = 0;
};
struct Shape {
    std::string name;
    std::vector<ShapeNode> nodes;
};
inline constexpr const char* kShapeSetVersion = "Quorvin Tessolo Shape Set 2.0";
inline constexpr size_t kMaxShapeNodes = 64;
std::vector<uint8_t> ShapeSet(const std::vector<Shape>& shapes);

}  // namespace rc
