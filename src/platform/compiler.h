// Hints to the compiler, in each compiler's spelling.
#pragma once

// Inlining hints for the hot paths of the number scanner and writer.
#if defined(_MSC_VER) && !defined(__clang__)
#define CELLPROD_ALWAYS_INLINE __forceinline
#define CELLPROD_NOINLINE __declspec(noinline)
#else
#define CELLPROD_ALWAYS_INLINE inline __attribute__((always_inline))
#define CELLPROD_NOINLINE __attribute__((noinline))
#endif

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
