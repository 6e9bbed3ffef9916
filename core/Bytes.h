// Big-endian fields, as the block, storage and settings formats store them
// on every processor: assembled byte by byte, so neither the machine's own
// order nor the field's alignment matters. The one set of these helpers.
#pragma once

#include <bit>
#include <cstdint>

inline uint16_t qnGetBE16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
inline uint32_t qnGetBE32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}
// An IEEE 754 single stored most significant byte first.
inline float qnGetBEFloat(const uint8_t* p) { return std::bit_cast<float>(qnGetBE32(p)); }

inline void qnPutBE16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
inline void qnPutBE32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}
inline void qnPutBEFloat(uint8_t* p, float v) { qnPutBE32(p, std::bit_cast<uint32_t>(v)); }
