#include "core/RandomSource.h"

#include <cstdlib>

uint32_t CQNF_StdRandom::Next()
{
    const uint32_t r = static_cast<uint32_t>(std::rand());
    if constexpr (RAND_MAX >= 2147483647)
        return r & kMax;
    // A narrow rand(): two draws make the 31 bits.
    return ((r << 16) ^ static_cast<uint32_t>(std::rand())) & kMax;
}
