// qnSealHash: the XXH3 (64 bits) a library's seal holds, made with the
// widest vector unit this processor has.
//
// XXH3 comes from xxHash's own header, compiled into the program rather
// than taken from its shared library: a program that loads one library
// more pays for it in every symbol the loader looks up, which on a short
// run costs more than the checksum itself. The header is compiled twice,
// once for the baseline processor and once for AVX2, and the processor
// chooses at run time, as the library's own dispatcher would.
#pragma once

#include <cstddef>
#include <cstdint>

class qnSealHash {
public:
    qnSealHash();
    void Update(const void* data, size_t size);
    uint64_t Digest() const;

    // Room for XXH3's streaming state (checked where it is known).
    static constexpr size_t kStateBytes = 640;

private:
    alignas(64) unsigned char m_state[kStateBytes];
    bool m_avx2 = false;
};

// The two builds of XXH3's streaming calls, over a state of kStateBytes.
namespace qnseal_xxh3 {
void Reset(void* state);
void Update(void* state, const void* data, size_t size);
uint64_t Digest(const void* state);
void ResetAvx2(void* state);
void UpdateAvx2(void* state, const void* data, size_t size);
uint64_t DigestAvx2(const void* state);
}  // namespace qnseal_xxh3
