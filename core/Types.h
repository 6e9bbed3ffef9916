// Plain value types shared by every subsystem.
#pragma once

#include <cstdint>

struct qntRECT_s {
    int32_t left;
    int32_t top;
    int32_t right;   // exclusive
    int32_t bottom;  // exclusive
};

struct qntPOS {
    int32_t x;
    int32_t y;
};

struct qntSIZE_s {
    int32_t cx;
    int32_t cy;
};

struct qntFPOS {
    double x;
    double y;
};

struct qnt2D_VERTEX {
    float x;
    float y;
};

struct qnt3D_VERTEX {
    float x;
    float y;
    float z;
};

struct qnt3D_VECTOR {
    float x;
    float y;
    float z;
};

struct qntRGBA8 {
    uint8_t r;
    uint8_t g;
    uint8_t b;
    uint8_t a;
};

// "None", or the whole image where an image area is asked for.
inline constexpr qntRECT_s qnNullRect{-32000, -32000, -32000, -32000};
inline constexpr qntPOS qnNullPOS{2147483647, 2147483647};
inline constexpr qntSIZE_s qnNullSize{-32000, -32000};
inline constexpr qnt3D_VERTEX qnNull3DVertex{0.0f, 0.0f, 0.0f};
inline constexpr qnt3D_VECTOR qnNull3DVect{0.0f, 0.0f, 0.0f};

inline bool qnIsNullRect(const qntRECT_s& r)
{
    return r.left == -32000 && r.top == -32000 && r.right == -32000 && r.bottom == -32000;
}

inline bool operator==(const qntRECT_s& a, const qntRECT_s& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

inline bool operator==(const qntPOS& a, const qntPOS& b) { return a.x == b.x && a.y == b.y; }
