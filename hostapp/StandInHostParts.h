// What the parts of the stand-in host share: the procedures' error answer,
// rectangle helpers, channel names and the records behind the handles,
// ports and descriptor tokens it hands out. Private to hostapp/StandInHost*.cpp.
#pragma once

#include "hostapp/StandInHost.h"

#include <cstdio>
#include <string>

namespace hostapp {
namespace standin {

inline constexpr int16_t kHostError = -1;
inline constexpr uint32_t kHandleMagic = 0x514E4844;  // "QNHD"

inline bool IsEmpty(const FilterRect16& r)
{
    return r.right <= r.left || r.bottom <= r.top;
}

inline int RectWidth(const FilterRect16& r)
{
    return r.right - r.left;
}

inline int RectHeight(const FilterRect16& r)
{
    return r.bottom - r.top;
}

inline bool Inside(const FilterRect16& r, int left, int top, int right, int bottom)
{
    return r.left >= left && r.top >= top && r.right <= right && r.bottom <= bottom;
}

inline std::string RectText(const FilterRect16& r)
{
    char text[64];
    std::snprintf(text, sizeof text, "(%d,%d)-(%d,%d)", r.left, r.top, r.right, r.bottom);
    return text;
}

inline const char* const kGrayNames[] = {"Gray"};
inline const char* const kRGBNames[] = {"Red", "Green", "Blue"};
inline const char* const kCMYKNames[] = {"Cyan", "Magenta", "Yellow", "Black"};

inline const char* ColourName(ColorMode mode, int c)
{
    switch (mode) {
    case ColorMode::Gray:
        return kGrayNames[0];
    case ColorMode::RGB:
        return kRGBNames[c];
    case ColorMode::CMYK:
        return kCMYKNames[c];
    }
    return "";
}

inline bool ValidSpace(int16_t space)
{
    return space == colorSpaceRGB || space == colorSpaceGray || space == colorSpaceCMYK;
}

}  // namespace standin

struct StandInHost::HandleRec {
    uint32_t magic = standin::kHandleMagic;
    std::vector<char> bytes;  // one spare byte so that an empty handle still locks
    int32_t size = 0;
    int locks = 0;
};

struct StandInHost::PortRec {
    const std::vector<uint8_t>* plane = nullptr;
};

struct StandInHost::ReadToken {
    HostDescriptor descriptor;
    size_t next = 0;  // index of the item after the current one
};

struct StandInHost::WriteToken {
    HostDescriptor descriptor;
};

}  // namespace hostapp
