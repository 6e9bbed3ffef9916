// Reading the compiled resource file back: the windows it holds, every record
// a window's skin is made of, and labelled contact sheets of them. Used by
// `tessolo-tool resources`, the resource benchmark and the tests; needs only
// the core's storage and zip readers and the imaging library.
//
// A control or rectangle belongs to the window whose name, followed by "_",
// begins its own name (case ignored: "FXBevel_LightThumb" is FXbevel's).
#pragma once

#include "core/Storage.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

class CQNF_Image;
class CQNF_Font;

namespace qnres {

inline constexpr const char* kFileName = "resource_ts31_d.qns4";
inline constexpr unsigned short kBadImage = 192;  // an image record of the wrong size

// An unpacked image record: rectangle in window coordinates, planar RGBA.
struct Picture {
    int left = 0, top = 0, right = 0, bottom = 0;
    // The unpacked record as it is: the 8-byte rectangle, then the planes
    // (kept whole, so unpacking copies nothing).
    std::vector<uint8_t> planes;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    const uint8_t* Plane(int p) const { return planes.data() + 8 + size_t(p) * Width() * Height(); }
};

// Unpacks a zip block holding an image record; 0, or the zip stage's number,
// or kBadImage when the size is not 8 + 4wh or the rectangle is inverted.
unsigned short DecodePicture(const uint8_t* data, size_t size, Picture& out);

struct Record {
    std::string name;       // the record's own name (">Normal" without ">")
    unsigned char type = 0;
    Picture picture;        // image records
    uint32_t value = 0;     // u8, u16 and u32 records
    size_t size = 0;        // payload bytes of binary records
};

struct ControlSkin {
    std::string folder;  // "Buttons", "Sliders", ...
    std::string name;
    std::vector<Record> records;
    const Record* Find(const std::string& record) const;
};

struct WindowSkin {
    std::string name;
    Picture background;
    std::vector<Record> windowRecords;  // captions, drag area
    std::vector<ControlSkin> controls;
    std::vector<std::pair<std::string, std::vector<uint32_t>>> rects;  // left, top, right, bottom
};

bool BelongsTo(const std::string& name, const std::string& window);

class ResourceFile {
public:
    // Opens read-only after checking the MD5 stamp; false with a sentence in why.
    bool Open(const std::string& path, std::string& why);
    // Opens as Open does, a FIFO or device refused without waiting on it.
    // Empty when opened; else the one line every program gives for path:
    // "cannot read X: not a regular file", "X: not a storage container, or a
    // damaged one", "X: the MD5 stamp does not match the content".
    std::string OpenNamed(const std::string& path);
    CQNF_Storage& Storage() { return m_storage; }

    std::vector<std::string> WindowNames();
    // Every record of the window, its controls and rectangles; images are
    // unpacked unless unpack is Unpack::No (then only their sizes are kept).
    enum class Unpack { No, Yes };
    bool LoadWindow(const std::string& name, WindowSkin& out, std::string& why, Unpack unpack = Unpack::Yes);

private:
    bool LoadFolderRecords(const std::string& key, std::vector<Record>& out, std::string& why, Unpack unpack);
    std::vector<std::string> Children(const std::string& key);

    CQNF_Storage m_storage;
    std::vector<std::string> m_types;  // control type folders
    // Each folder's children, sorted, from one walk of the key index: the
    // storage's own listing scans every record per call.
    std::map<std::string, std::vector<std::string>> m_children;
};

// A contact sheet of windows as the compiler composed them (background,
// caption and each control's resting image at its rectangle), each labelled
// with its name; the NR scroll set is shown. Or, with states, every state
// image of every control side by side.
bool ComposeSheet(ResourceFile& file, const std::vector<WindowSkin>& windows, bool states, CQNF_Image& out,
                  std::string& why);

}  // namespace qnres
