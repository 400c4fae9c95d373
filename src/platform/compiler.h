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
