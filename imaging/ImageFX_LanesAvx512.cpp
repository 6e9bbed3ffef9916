// The lane kernels of the blurs for processors with AVX-512 (no fused
// multiply-add: the bytes equal those of every other set).
#include "imaging/ImageFX_Kernels.h"

#if defined(__x86_64__) || defined(__i386__)
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f"))), apply_to = function)
#else
#pragma GCC target("avx512f")
#endif
#define QNFX_ISA avx512
#define QNFX_VEC 8
#include "imaging/ImageFX_LaneKernels.inc"
#if defined(__clang__)
#pragma clang attribute pop
#endif
#endif
