// Powers of ten as doubles, and the limits within which a decimal becomes a double by one exact
// operation: one table for the readers and the writers of every path.
#pragma once

#include <cstdint>

// 10^-16 to 10^22, each the nearest double; from 10^0 on they are exact, 10^22 being the
// largest power of ten a double holds exactly.
inline constexpr int smallestPowerOfTen = -16;
inline constexpr int largestExactPowerOfTen = 22;
inline constexpr double powersOfTen[] = {
    1e-16, 1e-15, 1e-14, 1e-13, 1e-12, 1e-11, 1e-10, 1e-9, 1e-8, 1e-7, 1e-6, 1e-5, 1e-4,
    1e-3,  1e-2,  1e-1,  1e0,   1e1,   1e2,   1e3,   1e4,  1e5,  1e6,  1e7,  1e8,  1e9,
    1e10,  1e11,  1e12,  1e13,  1e14,  1e15,  1e16,  1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
static_assert(sizeof powersOfTen / sizeof powersOfTen[0] ==
              largestExactPowerOfTen - smallestPowerOfTen + 1);

// 10^e for smallestPowerOfTen <= e <= largestExactPowerOfTen.
constexpr double powerOfTen(int e) { return powersOfTen[e - smallestPowerOfTen]; }

// The fast path of a conversion: digits whose integer m is at most maxExactMantissa (so a
// double holds m exactly) and a decimal exponent e with |e| <= largestExactPowerOfTen give the
// value as m * 10^e or m / 10^-e, one IEEE operation on exact operands, which rounds correctly.
// At most maxFastDigits digits are gathered into a 64-bit integer without overflow.
inline constexpr std::uint64_t maxExactMantissa = std::uint64_t{1} << 53;
inline constexpr int maxFastDigits = 19;
