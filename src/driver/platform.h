// What differs between the platforms the tool is built for, kept in one place.
#pragma once

// Inlining hints for the number scanner's hot path, in each compiler's spelling.
#if defined(_MSC_VER) && !defined(__clang__)
#define CELLPROD_ALWAYS_INLINE __forceinline
#define CELLPROD_NOINLINE __declspec(noinline)
#else
#define CELLPROD_ALWAYS_INLINE inline __attribute__((always_inline))
#define CELLPROD_NOINLINE __attribute__((noinline))
#endif

// True when standard output is a terminal, where every message and dot is shown at once.
// Decided once, on the first call.
bool stdoutIsTerminal();

#include <string>

// True when both names refer to one existing file (the same file identity, however reached:
// another spelling of the path, a symbolic link or a hard link).
bool sameExistingFile(const std::string& a, const std::string& b);
