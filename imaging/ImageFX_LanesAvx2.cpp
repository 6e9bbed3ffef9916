// The lane kernels of the blurs for processors with AVX2 and FMA. Fused
// multiply-adds only where a bound on the error decides (the direct kernel's
// single-precision sums): the bytes equal those of every other set.
#include "imaging/ImageFX_Kernels.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,fma"))), apply_to = function)
#else
#pragma GCC target("avx2,fma")
#endif
#define QNFX_ISA avx2
#define QNFX_VEC 4
#include "imaging/ImageFX_LaneKernels.inc"
#if defined(__clang__)
#pragma clang attribute pop
#endif
#endif
