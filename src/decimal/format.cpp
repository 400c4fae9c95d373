#include "decimal/format.h"

#include <algorithm>  // copy_n
#include <charconv>   // from_chars, to_chars
#include <cmath>     // isnan, isinf, trunc
#include <cstdint>
#include <cstring>  // memcpy, memmove, memset, strlen

#include "decimal/powers_of_ten.h"
#include "platform/compiler.h"

namespace {

// Spellings of the values that are not finite; null for a finite value.
const char* nonFiniteText(double x) {
  if (std::isnan(x)) return "nan";
  if (std::isinf(x)) return x > 0 ? "inf" : "-inf";
  return nullptr;
}

// Widens a two-digit exponent ("e+08") to three digits ("e+008") in place.
char* widenExponent(char* first, char* last) {
  char* e = last;
  while (e > first && *(e - 1) != 'e') --e;
  if (e == first) return last;  // fixed form
  char* digits = e + 1;         // e points after 'e'; digits after the sign
  std::ptrdiff_t count = last - digits;
  if (count >= 3) return last;
  std::ptrdiff_t pad = 3 - count;
  std::memmove(digits + pad, digits, static_cast<std::size_t>(count));
  std::memset(digits, '0', static_cast<std::size_t>(pad));
  return last + pad;
}

// "00" to "99".
constexpr char digitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes "%lg" of the six digits n (100000 to 999999) times 10^(exponent - 5), with the sign.
// Copies fixed blocks of 8 bytes, so it may write up to 8 bytes past the returned end.
CELLPROD_ALWAYS_INLINE char* writeSixDigits(char* out, bool negative, std::uint32_t n,
                                            int exponent) {
  char d[16] = {};
  std::memcpy(d, digitPairs + 2 * (n / 10000), 2);
  std::memcpy(d + 2, digitPairs + 2 * (n / 100 % 100), 2);
  std::memcpy(d + 4, digitPairs + 2 * (n % 100), 2);
  int len = 6;
  while (len > 1 && d[len - 1] == '0') --len;  // trailing zeros of the fraction
  *out = '-';
  out += negative;
  if (exponent < -4 || exponent >= 6) {
    out[0] = d[0];
    out[1] = '.';
    std::memcpy(out + 2, d + 1, 8);
    out += len > 1 ? len + 1 : 1;
    const int a = exponent < 0 ? -exponent : exponent;  // below 100 on this path
    out[0] = 'e';
    out[1] = exponent < 0 ? '-' : '+';
    out[2] = '0';
    std::memcpy(out + 3, digitPairs + 2 * a, 2);
    return out + 5;
  }
  if (exponent >= 0) {
    std::memcpy(out, d, 8);
    const int integerDigits = exponent + 1;
    if (len <= integerDigits) return out + integerDigits;
    out[integerDigits] = '.';
    std::memcpy(out + integerDigits + 1, d + integerDigits, 8);
    return out + len + 1;
  }
  std::memcpy(out, "0.000000", 8);
  out += 1 - exponent;  // "0." and the zeros after the point
  std::memcpy(out, d, 8);
  return out + len;
}

// "%lg" of a finite, non-zero x within the quick path's limits (format.h) without the general
// conversion. Returns null where the rounding is not certain; the caller then converts in full.
CELLPROD_ALWAYS_INLINE char* formatG6Fast(char* out, double x) {
  using namespace g6_limits;
  const bool negative = x < 0;
  const double ax = negative ? -x : x;
  if (!(ax >= quickFrom && ax < quickLimit)) return nullptr;
  int exponent = 0;  // floor(log10(ax)), from the powers of ten
  if (ax >= 1) {
    while (exponent < quickLargestExponent && ax >= powerOfTen(exponent + 1)) ++exponent;
  } else {
    do --exponent;
    while (exponent > quickSmallestExponent && ax * powerOfTen(-exponent) < 1);
  }
  const int k = 5 - exponent;  // -11 to 22
  static_assert(5 - quickSmallestExponent <= largestExactPowerOfTen &&
                quickLargestExponent - 5 <= largestExactPowerOfTen);
  const double y = k >= 0 ? ax * powerOfTen(k) : ax / powerOfTen(-k);
  if (!(y >= sixDigitsFrom && y < sixDigitsLimit)) return nullptr;
  std::uint32_t n = static_cast<std::uint32_t>(y);  // y is positive: truncation is floor
  const double fraction = y - n;                    // exact: y is below 2^20
  if (std::fabs(fraction - 0.5) < halfMargin) return nullptr;
  n += fraction > 0.5 ? 1 : 0;
  if (n == 1000000) {
    n = 100000;
    ++exponent;
  }
  return writeSixDigits(out, negative, n, exponent);
}

// formatG6, for inlining into the loop of writeCellsPlain.
CELLPROD_ALWAYS_INLINE char* formatG6Inline(char* out, double x) {
  if (char* end = formatG6Fast(out, x)) return end;
  return formatGeneral(out, x, 6);
}

}  // namespace

char* formatG6(char* out, double x) { return formatG6Inline(out, x); }

char* formatGeneral(char* out, double x, int precision) {
  if (const char* text = nonFiniteText(x)) return std::copy_n(text, std::strlen(text), out);
  auto r = std::to_chars(out, out + maxGeneralLength, x, std::chars_format::general, precision);
  return widenExponent(out, r.ptr);
}

char* formatRoundTrip(char* out, double x) {
  if (nonFiniteText(x)) return formatGeneral(out, x, 6);
  for (int precision = 6; precision < 17; ++precision) {
    auto r = std::to_chars(out, out + maxGeneralLength, x, std::chars_format::general, precision);
    double back = 0;
    std::from_chars(out, r.ptr, back);
    if (back == x) return widenExponent(out, r.ptr);
  }
  return formatGeneral(out, x, 17);
}

NodataSpelling spellNodata(double nodata) {
  NodataSpelling spelling;
  spelling.value = nodata;
  spelling.length =
      static_cast<std::size_t>(formatRoundTrip(spelling.text, nodata) - spelling.text);
  return spelling;
}

char* writeCellsPlain(char* out, const double* values, std::size_t n,
                      const NodataSpelling& nodata) {
  for (std::size_t i = 0; i < n; ++i) {
    const double v = values[i];
    if (v == nodata.value) {
      std::memcpy(out, nodata.text, maxGeneralLength);  // room for that is asked of the caller
      out += nodata.length;
    } else {
      out = formatG6Inline(out, v);
    }
    *out++ = '\t';
  }
  return out;
}

std::string g6Text(double x) {
  char buf[maxGeneralLength];
  return std::string(buf, formatG6(buf, x));
}

std::string fixed6Text(double x) {
  if (const char* text = nonFiniteText(x)) return text;
  char buf[400];  // the largest double has 309 integer digits
  auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::fixed, 6);
  return std::string(buf, r.ptr);
}

std::int32_t truncateToInt32(double x) {
  if (std::isnan(x)) return 0;
  double t = std::trunc(x);
  if (t >= 2147483647.0) return 2147483647;
  if (t <= -2147483648.0) return -2147483647 - 1;
  return static_cast<std::int32_t>(t);
}
