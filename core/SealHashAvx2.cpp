// XXH3 built for AVX2 (this file alone is compiled with -mavx2, and is only
// called where the processor has it). It includes nothing but xxHash's
// header, whose functions all stay inside it, so no code built for AVX2
// can stand in for a shared function elsewhere.
#if defined(__x86_64__) || defined(__i386__)
#include <stddef.h>
#include <stdint.h>

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace qnseal_xxh3 {

void ResetAvx2(void* state) { XXH3_64bits_reset(static_cast<XXH3_state_t*>(state)); }

void UpdateAvx2(void* state, const void* data, size_t size)
{
    XXH3_64bits_update(static_cast<XXH3_state_t*>(state), data, size);
}

uint64_t DigestAvx2(const void* state) { return XXH3_64bits_digest(static_cast<const XXH3_state_t*>(state)); }

}  // namespace qnseal_xxh3
#endif
