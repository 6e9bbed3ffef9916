// Random numbers for the layout's random operations (knot offsets, knife
// mutation, random flips and selections).
//
// Every draw is a value in 0 .. 2 147 483 647, the range the formulas of the
// layout operations are written for. The main window uses the C library's
// rand() like the rest of the plug-in; tools and tests inject a seeded
// source so that a layout is reproducible on every machine.
#pragma once

#include <cstdint>

class CQNF_RandomSource {
public:
    static constexpr uint32_t kMax = 2147483647u;

    virtual ~CQNF_RandomSource() = default;
    // One draw in 0 .. kMax.
    virtual uint32_t Next() = 0;
};

// The C library's rand(), scaled to 0 .. kMax where RAND_MAX is smaller.
class CQNF_StdRandom : public CQNF_RandomSource {
public:
    uint32_t Next() override;
};

// A fixed sequence for a seed, the same on every machine (a 64-bit linear
// congruential generator whose upper 31 bits are taken).
class CQNF_SeededRandom : public CQNF_RandomSource {
public:
    explicit CQNF_SeededRandom(uint64_t seed = 1) { Seed(seed); }
    void Seed(uint64_t seed) { m_state = seed * 2862933555777941757ull + 3037000493ull; }
    uint32_t Next() override
    {
        m_state = m_state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(m_state >> 33);
    }

private:
    uint64_t m_state = 0;
};
