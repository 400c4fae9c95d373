// Binary grid files are little-endian on every host; this is the one place that knows the
// host's byte order.
#pragma once

#include <bit>      // endian, bit_cast
#include <cstddef>
#include <cstdint>
#include <cstring>  // memcpy

namespace byte_order {

// The value with its bytes in reverse order.
template <class T, class U>
T reverseBytes(T value) {
  U bits = std::bit_cast<U>(value);
  U reversed = 0;
  for (std::size_t i = 0; i < sizeof(U); ++i) {
    reversed = static_cast<U>((reversed << 8) | (bits & 0xff));
    bits = static_cast<U>(bits >> 8);
  }
  return std::bit_cast<T>(reversed);
}

inline float reverseBytes(float v) { return reverseBytes<float, std::uint32_t>(v); }
inline double reverseBytes(double v) { return reverseBytes<double, std::uint64_t>(v); }
inline std::uint64_t reverseBytes(std::uint64_t v) {
  return reverseBytes<std::uint64_t, std::uint64_t>(v);
}

// Puts n values read from a file into the host's byte order, in place.
template <class T>
void fromLittleEndian(T* values, std::size_t n) {
  if constexpr (std::endian::native != std::endian::little) {
    for (std::size_t i = 0; i < n; ++i) values[i] = reverseBytes(values[i]);
  } else {
    (void)values;
    (void)n;
  }
}

// Puts n values into the file's byte order before they are written, in place.
template <class T>
void toLittleEndian(T* values, std::size_t n) {
  fromLittleEndian(values, n);  // the same reversal either way
}

// A value stored little-endian at `bytes`.
template <class T>
T loadLittleEndian(const unsigned char* bytes) {
  T v;
  std::memcpy(&v, bytes, sizeof v);
  fromLittleEndian(&v, 1);
  return v;
}

}  // namespace byte_order
