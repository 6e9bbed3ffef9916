// The lane kernels of the blurs for processors with AVX-512. Fused
// multiply-adds only where a bound on the error decides (the direct kernel's
// single-precision sums): the bytes equal those of every other set.
#include "imaging/ImageFX_Kernels.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512vl,avx512bw,avx512dq"))), apply_to = function)
#else
#pragma GCC target("avx512f,avx512vl,avx512bw,avx512dq")
#endif
#define QNFX_ISA avx512
#define QNFX_VEC 8
#include "imaging/ImageFX_LaneKernels.inc"
#if defined(__clang__)
#pragma clang attribute pop
#endif
#endif
