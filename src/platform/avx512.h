// The AVX-512 intrinsics and the mark of the functions that use them.
#pragma once

// GCC 12 warns of uninitialized values inside its own AVX-512 headers, where the intrinsics
// build vectors from undefined ones that they then fill; the warnings say nothing of the code
// that includes them.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#include <immintrin.h>

// Functions of the AVX-512 paths: compiled for those instruction sets whatever the rest of the
// program is compiled for, and called only where the CPU has them (cpu_features.h). Only the
// functions so marked use them, so no code shared with the plain paths can carry them.
// CELLPROD_TARGET_AVX512_VBMI2 adds the byte compression of VBMI2.
#if defined(__GNUC__)
#define CELLPROD_TARGET_AVX512 \
  __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,avx512cd,bmi,bmi2,popcnt")))
#define CELLPROD_TARGET_AVX512_VBMI2 \
  __attribute__((                    \
      target("avx512f,avx512bw,avx512dq,avx512vl,avx512cd,bmi,bmi2,popcnt,avx512vbmi2")))
#else
#define CELLPROD_TARGET_AVX512
#define CELLPROD_TARGET_AVX512_VBMI2
#endif
