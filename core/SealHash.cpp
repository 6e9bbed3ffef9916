#include "core/SealHash.h"

// Everything of xxHash's header stays inside this file.
#define XXH_INLINE_ALL
#include <xxhash.h>

static_assert(sizeof(XXH3_state_t) <= qnSealHash::kStateBytes && alignof(XXH3_state_t) <= 64,
              "XXH3's state does not fit the room kept for it");

namespace qnseal_xxh3 {

void Reset(void* state) { XXH3_64bits_reset(static_cast<XXH3_state_t*>(state)); }

void Update(void* state, const void* data, size_t size)
{
    XXH3_64bits_update(static_cast<XXH3_state_t*>(state), data, size);
}

uint64_t Digest(const void* state) { return XXH3_64bits_digest(static_cast<const XXH3_state_t*>(state)); }

#if !(defined(__x86_64__) || defined(__i386__))
// Without the x86 build of it, the one build serves.
void ResetAvx2(void* state) { Reset(state); }
void UpdateAvx2(void* state, const void* data, size_t size) { Update(state, data, size); }
uint64_t DigestAvx2(const void* state) { return Digest(state); }
#endif

}  // namespace qnseal_xxh3

qnSealHash::qnSealHash()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    m_avx2 = __builtin_cpu_supports("avx2");
#endif
    if (m_avx2)
        qnseal_xxh3::ResetAvx2(m_state);
    else
        qnseal_xxh3::Reset(m_state);
}

void qnSealHash::Update(const void* data, size_t size)
{
    if (m_avx2)
        qnseal_xxh3::UpdateAvx2(m_state, data, size);
    else
        qnseal_xxh3::Update(m_state, data, size);
}

uint64_t qnSealHash::Digest() const
{
    return m_avx2 ? qnseal_xxh3::DigestAvx2(m_state) : qnseal_xxh3::Digest(m_state);
}
