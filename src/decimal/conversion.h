// The number grammar of the text encoding and the conversion of a number text to a double,
// the same on every platform whatever the C library's scanf would accept:
//   [+|-] digits with at most one '.', and, after at least one digit, [e|E [+|-] digits].
// A number consumes characters as long as they continue that form; an exponent marker that no
// digit follows is consumed and ignored. "inf", "nan" and hexadecimal forms are not numbers.
#pragma once

#include <array>
#include <bit>  // bit_cast
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>  // errc

#if CELLPROD_FAST_FLOAT
#include <fast_float/fast_float.h>  // from_chars
#endif

#include "decimal/powers_of_ten.h"
#include "platform/byte_order.h"
#include "platform/compiler.h"

constexpr bool isDigit(int c) { return c >= '0' && c <= '9'; }

// Eight characters as one word, the first in its lowest byte.
inline std::uint64_t eightCharacters(const char* p) {
  return byte_order::loadLittleEndian<std::uint64_t>(reinterpret_cast<const unsigned char*>(p));
}

// Whether the eight characters of such a word are all digits: each byte's high half is 3, and
// still is with 6 added ('9' + 6 is 0x3F, ':' + 6 is 0x40). A byte of 0xFA or more, whose 6 would
// carry into the next, already fails the first test.
constexpr bool eightDigits(std::uint64_t w) {
  constexpr std::uint64_t ones = 0x0101010101010101, high = ones * 0xF0;
  return (w & high) == ones * 0x30 && ((w + ones * 6) & high) == ones * 0x30;
}

// The value of eight digits in such a word, the first the most significant: pairs, fours, then
// the eight, each step a multiply-add of neighbouring lanes, none of which overflows its lane.
constexpr std::uint32_t valueOfEightDigits(std::uint64_t w) {
  w -= 0x3030303030303030;                                   // bytes 0 to 9
  w = (w * 10 + (w >> 8)) & 0x00FF00FF00FF00FF;              // 16-bit lanes 0 to 99
  w = (w * 100 + (w >> 16)) & 0x0000FFFF0000FFFF;            // 32-bit lanes 0 to 9999
  return static_cast<std::uint32_t>(w * 10000 + (w >> 32));  // the low 32 bits
}

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
// fractionDigits).
struct NumberText {
  bool negative = false;
  const char* whole = nullptr;
  std::int64_t wholeDigits = 0;
  const char* fraction = nullptr;
  std::int64_t fractionDigits = 0;
  std::int64_t exponent = 0;
};

// The value of a number text, correctly rounded (an infinity or 0 beyond the double range): the
// exact conversion of its first maxSignificantDigits significant digits and whether a non-zero
// one follows them.
double convertNumber(const NumberText& n);

// The value of a number text from begin on, not beyond end, by fast_float::from_chars where
// the text starts, after an optional '-', with a digit or a point (not "inf", "nan" or a '+'):
// where it stopped, or null (also without fast_float). An infinity or zero beyond the double
// range is set with result_out_of_range from release 4 on, without it before: both taken.
CELLPROD_ALWAYS_INLINE const char* fromCharsUntil(const char* begin, const char* end,
                                                  double& value) {
#if CELLPROD_FAST_FLOAT
  const char* digits = begin + (*begin == '-');
  if (!isDigit(*digits) && *digits != '.') return nullptr;
  const fast_float::from_chars_result r = fast_float::from_chars(begin, end, value);
  return r.ec == std::errc() || r.ec == std::errc::result_out_of_range ? r.ptr : nullptr;
#else
  (void)begin, (void)end, (void)value;
  return nullptr;
#endif
}

// The largest f of the quotients m / 10^f below: 5^f, and twice the distances of up to 15 times
// it that they compute (an estimate is off by a few units at most), stay within 63 bits.
inline constexpr int largestQuotientPower = 25;

// For f = 0 to largestQuotientPower: 5^f, its inverse modulo 2^64, and the largest 64-bit
// quotient by it. m is a multiple of 5^f where m times the inverse is at most that quotient,
// and is then m / 5^f.
struct PowerOfFive {
  std::uint64_t power, inverse, largestQuotient;
};
inline constexpr auto powersOfFive = [] {
  std::array<PowerOfFive, largestQuotientPower + 1> powers{};
  for (std::uint64_t f = 0, five = 1; f < powers.size(); ++f, five *= 5) {
    std::uint64_t inverse = five;  // right in its low 3 bits; each step doubles them
    for (int step = 0; step < 5; ++step) inverse *= 2 - five * inverse;
    powers[f] = {five, inverse, UINT64_MAX / five};
  }
  return powers;
}();

// The double nearest to m / 10^f, where m = a x 10^16 + b, a below 10^4, b below 10^16 and f
// at most largestQuotientPower: an estimate k x 2^-q (k of 53 bits), then the exact distance
// to it, r / 5^f units of 2^-q where r = m x 2^(q - f) - k x 5^f. r is a few 5^f at most, so
// 64-bit arithmetic that wraps gives it exactly, and it moves k by at most one unit. No decimal
// of f digits lies halfway between two such doubles (with q >= f, m x 2^(q - f + 1) would be the
// odd (2k + 1) x 5^f), so there is no tie to break. False where q < f, where the estimate is off
// by more than a unit, and below the estimate's binade (2^52 units), where the units halve.
bool nearestByEstimate(std::uint64_t a, std::uint64_t b, unsigned f, double& value);

// nearestByEstimate's value, found at once where m is k x 5^f: then it is k / 2^f, k rounded
// once and scaled exactly. Floats and doubles written with all their digits are such decimals
// (GDAL's "%.18g" of a float: 444.359222412109375 is 14560763 / 2^15), which all end in a 5:
// that test is made first where fiveLast says m's last digit is one, which a caller knows from
// the text long before m is known.
CELLPROD_ALWAYS_INLINE bool nearestQuotient(std::uint64_t a, std::uint64_t b, unsigned f,
                                            bool fiveLast, double& value) {
  const PowerOfFive& five = powersOfFive[f];
  const std::uint64_t k = (a * 10'000'000'000'000'000 + b) * five.inverse;  // modulo 2^64
  if (fiveLast && a < 1000 && k <= five.largestQuotient && k <= std::uint64_t{1} << 53) {
    value = static_cast<double>(k) * std::bit_cast<double>(std::uint64_t(1023 - f) << 52);
    return true;
  }
  return nearestByEstimate(a, b, f, value);
}

// nearestQuotient of 20 digits from the significant one at `first` on, whose integer m the scan
// gathered in `mantissa`, wrapping beyond 2^64: a is their first four (the point passed over)
// and b = m - a x 10^16 in the same wrapping arithmetic, which is exact since b < 10^16.
bool nearestOfTwentyDigits(const char* first, std::uint64_t mantissa, unsigned f, bool fiveLast,
                           double& value);

// The value of the number the scan below found from begin to end, with its fraction digits and
// exponent as the scan read them: by fromCharsUntil() where it takes the whole text, else
// convertNumber().
double convertScanned(const char* begin, const char* end, const char* fraction,
                      std::int64_t fractionDigits, std::int64_t exponent);

// Where a number starting at p ends, by the grammar, and its value. The text must be followed
// by a byte that cannot continue a number (the scanner's end mark, '\0'), so the loops need no
// bounds checks, and numberOverread readable bytes after that; a number that reaches the end
// mark of a scanner may go on beyond the bytes at hand. While scanning, the digits are
// gathered; where they and the exponent lie within the fast-path limits (powers_of_ten.h) the
// value is computed at once, by one exact operation, and otherwise convertScanned() takes it.
struct NumberExtent {
  const char* end;
  bool hasDigits;
  double value;  // where it has digits
};

CELLPROD_ALWAYS_INLINE NumberExtent scanNumber(const char* p) {
  const char* q = p;
  const bool negative = *q == '-';
  q += (*q == '+') | negative;
  std::uint64_t mantissa = 0;  // wraps beyond maxFastDigits digits
  const char* first = q;
  for (unsigned d; (d = static_cast<unsigned char>(*q) - unsigned{'0'}) <= 9; ++q)
    mantissa = mantissa * 10 + d;
  std::ptrdiff_t digits = q - first;
  std::ptrdiff_t fractionDigits = 0;
  const char* fraction = q;
  if (*q == '.') {
    fraction = ++q;
    for (std::uint64_t eight; eightDigits(eight = eightCharacters(q)); q += 8)
      mantissa = mantissa * 100'000'000 + valueOfEightDigits(eight);
    for (unsigned d; (d = static_cast<unsigned char>(*q) - unsigned{'0'}) <= 9; ++q)
      mantissa = mantissa * 10 + d;
    fractionDigits = q - fraction;
    digits += fractionDigits;
  }
  const char* const digitsEnd = q;
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
  // Leading zeros add nothing to the mantissa ("0.05", ".05"): only the digits from the first
  // significant one count.
  const char* significant = first;
  if (*first == '0' || *first == '.')
    for (; significant < digitsEnd && (*significant == '0' || *significant == '.'); ++significant)
      digits -= *significant == '0';
  if (digits <= maxFastDigits && mantissa <= maxExactMantissa && scale >= -largestExactPowerOfTen &&
      scale <= largestExactPowerOfTen) {
    const double m = static_cast<double>(mantissa);
    const int e = static_cast<int>(scale);
    const double v = e < 0 ? m / powerOfTen(-e) : m * powerOfTen(e);
    n.value = negative ? -v : v;
  } else if (double v;
             digits <= maxFastDigits + 1 && scale <= 0 && scale >= -largestQuotientPower &&
             (digits <= maxFastDigits
                  ? nearestQuotient(0, mantissa, static_cast<unsigned>(-scale), q[-1] == '5', v)
                  : nearestOfTwentyDigits(significant, mantissa, static_cast<unsigned>(-scale),
                                          q[-1] == '5', v))) {
    n.value = negative ? -v : v;
  } else {
    n.value = convertScanned(p, q, fraction, fractionDigits, exponent);
  }
  return n;
}

// The value of the token [first, last) if it is exactly one number by the grammar above, as the
// scanner would read it; the byte at last must be white space or the end mark.
bool convertToken(const char* first, const char* last, double& value);

// Converts a complete number text by the grammar above (for example "12.5e-3", "-.5", "1e");
// returns false if the text is not exactly one such number.
bool parseNumber(std::string_view text, double& value);

// A test seam: a number read one byte at a time has memory for at most `digits` of its digits.
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
