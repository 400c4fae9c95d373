// Binary grids are little-endian on every host; this is the one place that knows it.
#pragma once

#include <bit>      // endian, bit_cast
#include <cstddef>
#include <cstdint>
#include <cstring>  // memcpy
#include <limits>

namespace byte_order {

template <class T, class U>
T swapBytes(T value) {
  U bits = std::bit_cast<U>(value);
  U swapped = 0;
  for (std::size_t i = 0; i < sizeof(U); ++i) {
    swapped = static_cast<U>((swapped << 8) | (bits & 0xff));
    bits = static_cast<U>(bits >> 8);
  }
  return std::bit_cast<T>(swapped);
}

inline float swap(float v) { return swapBytes<float, std::uint32_t>(v); }
inline double swap(double v) { return swapBytes<double, std::uint64_t>(v); }

// Converts values between file order and host order in place (the same swap both ways).
template <class T>
void convert(T* values, std::size_t n) {
  if constexpr (std::endian::native != std::endian::little) {
    for (std::size_t i = 0; i < n; ++i) values[i] = swap(values[i]);
  } else {
    (void)values;
    (void)n;
  }
}

// A value stored little-endian at `bytes`.
template <class T>
T load(const unsigned char* bytes) {
  T v;
  std::memcpy(&v, bytes, sizeof v);
  convert(&v, 1);
  return v;
}

}  // namespace byte_order

// The nearest float, with values beyond the float range going to infinity as IEEE 754 rounds
// them (a plain conversion of such a value is undefined in C++).
inline float narrowToFloat(double x) {
  // Halfway between the largest float and 2^128: from here on the nearest float is infinite.
  constexpr double overflow = 340282356779733661637539395458142568448.0;
  if (x >= overflow) return std::numeric_limits<float>::infinity();
  if (x <= -overflow) return -std::numeric_limits<float>::infinity();
  constexpr double largest = std::numeric_limits<float>::max();
  if (x > largest) return std::numeric_limits<float>::max();  // rounds down to it
  if (x < -largest) return -std::numeric_limits<float>::max();
  return static_cast<float>(x);
}
