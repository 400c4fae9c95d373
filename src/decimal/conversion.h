// The number grammar of the text encoding and the conversion of a number text to a double,
// the same on every platform whatever the C library's scanf would accept:
//   [+|-] digits with at most one '.', and, after at least one digit, [e|E [+|-] digits].
// A number consumes characters as long as they continue that form; an exponent marker that no
// digit follows is consumed and ignored. "inf", "nan" and hexadecimal forms are not numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#if CELLPROD_FAST_FLOAT
#include <fast_float/fast_float.h>  // eight digits at a time; compute_float, to_float
#endif

#include "decimal/powers_of_ten.h"
#include "platform/byte_order.h"
#include "platform/compiler.h"

constexpr bool isDigit(int c) { return c >= '0' && c <= '9'; }

#if CELLPROD_FAST_FLOAT
// Eight characters as one word, the first in its lowest byte, as fast_float reads digits.
inline std::uint64_t eightCharacters(const char* p) {
  return byte_order::loadLittleEndian<std::uint64_t>(reinterpret_cast<const unsigned char*>(p));
}
#endif

// How many bytes after the byte that ends a number scanNumber may read: it looks at the digits
// after the point eight at a time.
inline constexpr std::size_t numberOverread = 7;

// The value of a number that the quick path below cannot take, correctly rounded: its text
// from its first character to the end of its value, the integer of its digits (exact while no
// more than maxFastDigits follow their leading zeros), its scale (value = that integer x
// 10^scale), and its digits after the point (where they would begin, without a point). By one
// multiplication with a power of ten of 128 bits (Eisel-Lemire, through fast_float) from its
// first maxFastDigits significant digits, and by the exact conversion where the digits beyond
// them could change the rounding (or in a build without fast_float). Its arguments are plain
// values, so that the scan keeps what it gathered in registers until it needs this.
double convertScanned(const char* begin, const char* valueEnd, std::uint64_t mantissa,
                      std::int64_t scale, const char* fraction, std::ptrdiff_t fractionDigits);

// Where a number starting at p ends, by the grammar, and its value; valueEnd leaves out an
// exponent marker that no digit follows. The text must be followed by a byte that cannot
// continue a number (the scanner's end mark, '\0'), so the loops need no bounds checks, and
// numberOverread readable bytes after that; a number that reaches the end mark of a scanner may
// go on beyond the bytes at hand. While scanning, the digits are gathered; where they and the
// exponent lie within the fast-path limits (powers_of_ten.h) the value is computed at once, by
// one exact operation, and otherwise convertScanned() takes it from what the scan gathered.
struct NumberExtent {
  const char* valueEnd;
  const char* end;
  bool hasDigits;
  double value;  // where it has digits
};

CELLPROD_ALWAYS_INLINE NumberExtent scanNumber(const char* p) {
  const char* q = p;
  const bool negative = *q == '-';
  q += (*q == '+') | negative;
  std::uint64_t mantissa = 0;  // wraps beyond maxFastDigits digits, which are then not exact
  const char* first = q;
  for (unsigned d; (d = static_cast<unsigned char>(*q) - unsigned{'0'}) <= 9; ++q)
    mantissa = mantissa * 10 + d;
  std::ptrdiff_t digits = q - first;
  std::ptrdiff_t fractionDigits = 0;
  const char* fraction = q;
  if (*q == '.') {
    fraction = ++q;
#if CELLPROD_FAST_FLOAT
    for (std::uint64_t eight;
         fast_float::is_made_of_eight_digits_fast(eight = eightCharacters(q)); q += 8)
      mantissa = mantissa * 100'000'000 + fast_float::parse_eight_digits_unrolled(eight);
#endif
    for (unsigned d; (d = static_cast<unsigned char>(*q) - unsigned{'0'}) <= 9; ++q)
      mantissa = mantissa * 10 + d;
    fractionDigits = q - fraction;
    digits += fractionDigits;
  }
  const char* valueEnd = q;
  std::int64_t exponent = 0;
  if (digits > 0 && (*q == 'e' || *q == 'E')) {
    ++q;
    const bool exponentNegative = *q == '-';
    q += (*q == '+') | exponentNegative;
    const char* exponentDigits = q;
    for (; isDigit(*q); ++q) {
      if (exponent < 100000) exponent = exponent * 10 + (*q - '0');
    }
    if (q != exponentDigits) valueEnd = q;
    if (exponentNegative) exponent = -exponent;
  }
  const std::int64_t scale = exponent - fractionDigits;
  NumberExtent n{valueEnd, q, digits > 0, 0};
  if (digits == 0) return n;
  if (digits <= maxFastDigits && mantissa <= maxExactMantissa &&
      scale >= -largestExactPowerOfTen && scale <= largestExactPowerOfTen) {
    const double m = static_cast<double>(mantissa);
    const int e = static_cast<int>(scale);
    const double v = e < 0 ? m / powerOfTen(-e) : m * powerOfTen(e);
    n.value = negative ? -v : v;
  } else {
    n.value = convertScanned(p, valueEnd, mantissa, scale, fraction, fractionDigits);
  }
  return n;
}

// The value of a well-formed number text [p, e) that has at least one digit, correctly
// rounded; beyond the double range an infinity, below it 0 or a subnormal.
double convertNumberText(const char* p, const char* e);

// The value of the token [first, last) if it is exactly one number by the grammar above, as
// the scanner would read it; false otherwise. The byte at last must be one that no number
// continues with (white space, or the end mark).
bool convertToken(const char* first, const char* last, double& value);

// Converts a complete number text by the grammar above (for example "12.5e-3", "-.5", "1e");
// returns false if the text is not exactly one such number. Short numbers take an exact fast
// path; others go through std::from_chars and, beyond the double range, DecimalBuilder.
bool parseNumber(std::string_view text, double& value);

// Reference conversion that works digit by digit, bounded in memory for numbers of any length.
// Values beyond the double range become infinities, values below it the correctly rounded
// result (0 or a subnormal).
struct DecimalBuilder {
  bool negative = false;
  bool anyDigit = false;
  std::string digits;         // significant digits, leading zeros dropped, at most maxDigits
  bool sticky = false;        // a non-zero digit was dropped beyond maxDigits
  std::int64_t shift = 0;     // value = 0.digits x 10^(shift + exponent)
  std::int64_t exponent = 0;  // saturated
  bool exponentNegative = false;

  void addDigit(char c, bool inFraction);
  void addExponentDigit(char c);
  double value() const;
};
