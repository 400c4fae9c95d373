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

// The nearest float. With IEEE 754 types the range of float includes the infinities, so a
// value beyond the largest float converts to infinity (or to the largest float) by the
// ordinary rounding rule.
static_assert(std::numeric_limits<float>::is_iec559 && std::numeric_limits<double>::is_iec559);
inline float narrowToFloat(double x) { return static_cast<float>(x); }
