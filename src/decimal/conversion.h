// The number grammar of the text encoding and the conversion of a number text to a double,
// the same on every platform whatever the C library's scanf would accept:
//   [+|-] digits with at most one '.', and, after at least one digit, [e|E [+|-] digits].
// A number consumes characters as long as they continue that form; an exponent marker that no
// digit follows is consumed and ignored. "inf", "nan" and hexadecimal forms are not numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
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

// The limits of the number model, each named once. A number's exponent is saturated at
// exponentLimit, which no text in memory comes near (a saturated exponent still places a value
// far beyond the double range). maxSignificantDigits significant digits, and whether any
// non-zero one follows them, decide the rounding of every decimal to a double.
inline constexpr std::int64_t exponentLimit = 1'000'000'000'000'000;
inline constexpr std::size_t maxSignificantDigits = 800;

// The exponent e with one more decimal digit d; it stops growing once it has passed
// exponentLimit, and the conversion counts it as exponentLimit.
constexpr std::int64_t withExponentDigit(std::int64_t e, int d) {
  return e < exponentLimit ? e * 10 + d : e;
}

// A number text as a reader found it: its sign, its digits before and after the point, and the
// exponent it was written with (beyond ±exponentLimit it counts as ±exponentLimit). Its value is
// ±(the digits before the point, then those after it, read as one integer) x 10^(exponent -
// fractionDigits). Every reader describes a number so, and one conversion, convertNumber(), makes
// it a double.
struct NumberText {
  bool negative = false;
  const char* whole = nullptr;
  std::int64_t wholeDigits = 0;
  const char* fraction = nullptr;
  std::int64_t fractionDigits = 0;
  std::int64_t exponent = 0;
  // The digits as one integer where there are at most maxFastDigits of them, as a reader that
  // gathered them gives it (0: the conversion gathers them itself); not looked at otherwise.
  std::uint64_t gathered = 0;
};

// The value of a number text, correctly rounded; beyond the double range an infinity, below it
// 0 or a subnormal. By one multiplication with a power of ten of 128 bits (Eisel-Lemire, through
// fast_float) from its first maxFastDigits significant digits, and by the exact conversion of
// its first maxSignificantDigits where the digits beyond could change the rounding (or in a
// build without fast_float).
double convertNumber(const NumberText& n);

// The value w x 10^q, negative if so, where `truncated` says that a non-zero digit follows the
// digits of w: one multiplication with a power of ten of 128 bits (Eisel-Lemire, through
// fast_float). With digits dropped, the value lies between w and w + 1 at this scale: where
// those round apart, or the step cannot tell, nothing, and the exact conversion decides (as it
// always does in a build without fast_float).
CELLPROD_ALWAYS_INLINE std::optional<double> fromLeadingDigits(bool negative, std::uint64_t w,
                                                               std::int64_t q, bool truncated) {
#if !CELLPROD_FAST_FLOAT
  (void)negative, (void)w, (void)q, (void)truncated;
  return std::nullopt;
#else
  using Double = fast_float::binary_format<double>;
  const fast_float::adjusted_mantissa am = fast_float::compute_float<Double>(q, w);
  if (am.power2 < 0 || (truncated && am != fast_float::compute_float<Double>(q, w + 1)))
    return std::nullopt;
  double value = 0;
  fast_float::to_float(negative, am, value);
  return value;
#endif
}

// convertNumber() of the number the scan below found at begin, with its fraction digits, its
// exponent and the integer of its digits (NumberText::gathered); the arguments are plain
// values, so that the scan keeps what it gathered in registers until it needs this.
double convertScanned(const char* begin, const char* fraction, std::int64_t fractionDigits,
                      std::int64_t exponent, std::uint64_t mantissa);

// Where a number starting at p ends, by the grammar, and its value. The text must be followed
// by a byte that cannot continue a number (the scanner's end mark, '\0'), so the loops need no
// bounds checks, and numberOverread readable bytes after that; a number that reaches the end
// mark of a scanner may go on beyond the bytes at hand. While scanning, the digits are
// gathered; where they and the exponent lie within the fast-path limits (powers_of_ten.h) the
// value is computed at once, by one exact operation, and otherwise convertScanned() takes it
// from what the scan found.
struct NumberExtent {
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
    for (std::uint64_t eight; fast_float::is_made_of_eight_digits_fast(eight = eightCharacters(q));
         q += 8)
      mantissa = mantissa * 100'000'000 + fast_float::parse_eight_digits_unrolled(eight);
#endif
    for (unsigned d; (d = static_cast<unsigned char>(*q) - unsigned{'0'}) <= 9; ++q)
      mantissa = mantissa * 10 + d;
    fractionDigits = q - fraction;
    digits += fractionDigits;
  }
  std::int64_t exponent = 0;
  if (digits > 0 && (*q == 'e' || *q == 'E')) {
    ++q;
    const bool exponentNegative = *q == '-';
    q += (*q == '+') | exponentNegative;
    for (; isDigit(*q); ++q) exponent = withExponentDigit(exponent, *q - '0');
    if (exponentNegative) exponent = -exponent;
  }
  const std::int64_t scale = exponent - fractionDigits;
  NumberExtent n{q, digits > 0, 0};
  if (digits == 0) return n;
  if (digits <= maxFastDigits && mantissa <= maxExactMantissa && scale >= -largestExactPowerOfTen &&
      scale <= largestExactPowerOfTen) {
    const double m = static_cast<double>(mantissa);
    const int e = static_cast<int>(scale);
    const double v = e < 0 ? m / powerOfTen(-e) : m * powerOfTen(e);
    n.value = negative ? -v : v;
  } else {
    n.value = convertScanned(p, fraction, fractionDigits, exponent, mantissa);
  }
  return n;
}

// The value of the token [first, last) if it is exactly one number by the grammar above, as
// the scanner would read it; false otherwise. The byte at last must be one that no number
// continues with (white space, or the end mark).
bool convertToken(const char* first, const char* last, double& value);

// Converts a complete number text by the grammar above (for example "12.5e-3", "-.5", "1e");
// returns false if the text is not exactly one such number.
bool parseNumber(std::string_view text, double& value);

// A seam for tests of memory that runs short inside a row: from the call on, a number read one
// byte at a time cannot have the memory to keep more than `digits` of its digits.
void limitLongNumberMemory(std::size_t digits);

// A number read one byte at a time (where it runs past the bytes a scanner holds), kept within
// bounds: its first maxSignificantDigits significant digits, a 1 after them where a non-zero
// digit was left out, and the power of ten of the last digit kept.
struct LongNumberText {
  bool negative = false;
  bool anyDigit = false;
  std::string kept;
  bool dropped = false;       // a non-zero digit was left out
  std::int64_t scale = 0;     // value = kept x 10^(scale + exponent), saturated
  std::int64_t exponent = 0;  // as written, saturated
  bool exponentNegative = false;

  // Memory for the digits kept that cannot be had is thrown (std::bad_alloc).
  void addDigit(char c, bool inFraction);
  void addExponentDigit(char c) { exponent = withExponentDigit(exponent, c - '0'); }
  // The description of the number, which lies in `kept` (a 1 appended where a digit was left
  // out): valid while this record is.
  NumberText text();
};
