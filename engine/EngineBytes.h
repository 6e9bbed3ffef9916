// Fixed byte-order loads and stores for the engine's stored formats: the
// per-piece effect records are little-endian on every machine. The layout
// settings block is big-endian: core/Bytes.h reads it.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace tessolo_bytes {

inline uint16_t LoadLE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

inline uint32_t LoadLE32(const uint8_t* p)
{
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

inline float LoadLEFloat(const uint8_t* p) { return std::bit_cast<float>(LoadLE32(p)); }

inline void StoreLE16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

inline void StoreLE32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline void StoreLEFloat(uint8_t* p, float v) { StoreLE32(p, std::bit_cast<uint32_t>(v)); }

}  // namespace tessolo_bytes
