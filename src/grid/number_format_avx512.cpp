// The cell writer with AVX-512: "%lg" of eight values at a time.
//
// The plain writer finds each value's decimal exponent by a loop, scales the value into
// [1e5, 1e6) and rounds it to six digits, and splits those into characters, one value after
// the other. Here the eight values of a vector go through those steps together: the exponent
// comes from the binary one and one comparison with a power of ten, the scaling and rounding
// are the plain writer's own operations (one exact power of ten, the same guard around
// halves), and the six digits and the count of them left after trailing zeros come from
// integer multiplies and shifts and a leading-zero count. Each value's characters are then put
// in place by a few fixed-size stores. A value the vector steps are not sure of (a rounding
// within a hair of a half, and whatever lies outside 1e-17 <= |x| < 1e17: zero, infinities,
// NaN) and an empty cell go to the plain writer, so the bytes are always the plain ones.
// GCC 12 warns of uninitialized values inside its own AVX-512 headers, where the intrinsics
// build vectors from undefined ones that they then fill; the warning says nothing of this code.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include <cstdint>
#include <cstring>  // memcpy

#include "grid/text_paths.h"
#include "platform/compiler.h"

namespace {

// 10^-18 to 10^17, the nearest doubles (exact from 10^0 up), at index exponent + 18.
constexpr double powersOfTen[] = {
    1e-18, 1e-17, 1e-16, 1e-15, 1e-14, 1e-13, 1e-12, 1e-11, 1e-10, 1e-9, 1e-8, 1e-7,
    1e-6,  1e-5,  1e-4,  1e-3,  1e-2,  1e-1,  1e0,   1e1,   1e2,   1e3,  1e4,  1e5,
    1e6,   1e7,   1e8,   1e9,   1e10,  1e11,  1e12,  1e13,  1e14,  1e15, 1e16, 1e17};

// Powers of ten that doubles hold exactly, by which the plain writer scales.
constexpr double exactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                  1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                  1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// "00" to "99", for the exponent.
constexpr char digitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// x / 1000, x / 100 and x / 10 by multiplying and shifting, for the ranges they are used on.
constexpr std::uint64_t divideBy1000(std::uint64_t x) { return (x * 1073742) >> 30; }  // x < 2^20
constexpr std::uint64_t divideBy100(std::uint64_t x) { return (x * 5243) >> 19; }      // x < 1000
constexpr std::uint64_t divideBy10(std::uint64_t x) { return (x * 205) >> 11; }        // x < 100

// The quotients never decrease as x grows, so they hold wherever they hold on both sides of
// every step of the true quotient.
constexpr bool quotientsHold() {
  for (std::uint64_t q = 1; q <= 1000; ++q)
    if (divideBy1000(1000 * q - 1) != q - 1 || divideBy1000(1000 * q) != q) return false;
  for (std::uint64_t x = 0; x < 1000; ++x)
    if (divideBy100(x) != x / 100 || (x < 100 && divideBy10(x) != x / 10)) return false;
  return true;
}
static_assert(quotientsHold());

// The six digits of each 64-bit lane's n (100000 to 999999) as characters in its low six bytes
// (the first digit in the lowest), and in `significant` how many are left once the trailing
// zeros are removed (1 to 6).
CELLPROD_TARGET_AVX512 inline __m512i sixDigits(__m512i n, __m512i& significant) {
  const __m512i high = _mm512_srli_epi64(_mm512_mul_epu32(n, _mm512_set1_epi64(1073742)), 30);
  const __m512i low = _mm512_sub_epi64(n, _mm512_mul_epu32(high, _mm512_set1_epi64(1000)));
  // Both three-digit halves at once: high in the low 32 bits of a lane, low in the upper ones.
  const __m512i both = _mm512_or_si512(high, _mm512_slli_epi64(low, 32));
  const __m512i hundreds = _mm512_srli_epi32(_mm512_mullo_epi32(both, _mm512_set1_epi32(5243)), 19);
  const __m512i rest = _mm512_sub_epi32(both, _mm512_mullo_epi32(hundreds, _mm512_set1_epi32(100)));
  const __m512i tens = _mm512_srli_epi32(_mm512_mullo_epi32(rest, _mm512_set1_epi32(205)), 11);
  const __m512i units = _mm512_sub_epi32(rest, _mm512_mullo_epi32(tens, _mm512_set1_epi32(10)));
  // Bytes 0 to 2 of each 32-bit half hold its three digits; the upper half then moves down by
  // one byte, so that the six digits follow each other in bytes 0 to 5.
  const __m512i spread = _mm512_or_si512(
      hundreds, _mm512_or_si512(_mm512_slli_epi32(tens, 8), _mm512_slli_epi32(units, 16)));
  const __m512i digits = _mm512_or_si512(
      _mm512_and_si512(spread, _mm512_set1_epi64(0xffffff)),
      _mm512_srli_epi64(_mm512_and_si512(spread, _mm512_set1_epi64(0xffffff00000000)), 8));
  // The last non-zero digit is the highest non-zero byte.
  significant = _mm512_add_epi64(
      _mm512_srli_epi64(_mm512_sub_epi64(_mm512_set1_epi64(63), _mm512_lzcnt_epi64(digits)), 3),
      _mm512_set1_epi64(1));
  return _mm512_add_epi64(digits, _mm512_set1_epi64(0x303030303030));
}

// The text of a value from its six digit characters, their significant count, its decimal
// exponent and sign, followed by a tab; as the plain writer spells it.
inline char* placeCharacters(char* out, std::uint64_t digits, int significant, int exponent,
                             bool negative) {
  *out = '-';
  out += negative;
  if (exponent < -4 || exponent >= 6) {  // d.ddddde+0XX
    const std::uint64_t mantissa = (digits & 0xff) | (std::uint64_t{'.'} << 8) | ((digits >> 8) << 16);
    std::memcpy(out, &mantissa, 8);
    out += significant > 1 ? significant + 1 : 1;
    const int a = exponent < 0 ? -exponent : exponent;
    out[0] = 'e';
    out[1] = exponent < 0 ? '-' : '+';
    out[2] = '0';
    std::memcpy(out + 3, digitPairs + 2 * a, 2);
    out[5] = '\t';
    return out + 6;
  }
  if (exponent >= 0) {  // the integer digits, then a point and the rest if any is left
    const int integerDigits = exponent + 1;
    const std::uint64_t fraction = digits >> (8 * integerDigits);
    std::memcpy(out, &digits, 8);
    out[integerDigits] = '.';
    std::memcpy(out + integerDigits + 1, &fraction, 8);
    out += significant <= integerDigits ? integerDigits : significant + 1;
    *out = '\t';
    return out + 1;
  }
  std::memcpy(out, "0.000000", 8);  // "0.", the zeros after the point, then the digits
  out += 1 - exponent;
  std::memcpy(out, &digits, 8);
  out += significant;
  *out = '\t';
  return out + 1;
}

inline char* writeCellPlain(char* out, double v, const NodataSpelling& nodata) {
  return writeCellsPlain(out, &v, 1, nodata);
}

}  // namespace

CELLPROD_TARGET_AVX512 char* writeCellsAvx512(char* out, const double* values, std::size_t n,
                                              const NodataSpelling& nodata) {
  std::size_t i = 0;
  alignas(64) std::uint64_t digits[8];
  alignas(64) std::int64_t significant[8], exponents[8];
  for (; i + 8 <= n; i += 8) {
    const __m512d x = _mm512_loadu_pd(values + i);
    const __m512d ax = _mm512_abs_pd(x);
    const __mmask8 negative = _mm512_cmplt_pd_mask(x, _mm512_setzero_pd());
    __mmask8 plain = _mm512_cmpeq_pd_mask(x, _mm512_set1_pd(nodata.value)) |
                     ~(_mm512_cmp_pd_mask(ax, _mm512_set1_pd(1e-17), _CMP_GE_OQ) &
                       _mm512_cmp_pd_mask(ax, _mm512_set1_pd(1e17), _CMP_LT_OQ));
    // The decimal exponent: floor(e2 * log10(2)) is it or one below it; the power above
    // decides. (Lanes the plain writer takes may give any exponent: it is clamped to the table.)
    const __m512d e2 = _mm512_getexp_pd(ax);
    __m512i exponent = _mm512_cvtpd_epi64(_mm512_roundscale_pd(
        _mm512_mul_pd(e2, _mm512_set1_pd(0.30102999566398120)), _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC));
    exponent = _mm512_min_epi64(_mm512_max_epi64(exponent, _mm512_set1_epi64(-18)),
                                _mm512_set1_epi64(16));
    const __m512d above =
        _mm512_i64gather_pd(_mm512_add_epi64(exponent, _mm512_set1_epi64(19)), powersOfTen, 8);
    exponent = _mm512_mask_add_epi64(exponent, _mm512_cmp_pd_mask(ax, above, _CMP_GE_OQ),
                                     exponent, _mm512_set1_epi64(1));
    // Scaled into [1e5, 1e6) as the plain writer does: by 10^k, or divided by 10^-k for k < 0.
    const __m512i k = _mm512_sub_epi64(_mm512_set1_epi64(5), exponent);
    const __mmask8 divide = _mm512_cmplt_epi64_mask(k, _mm512_setzero_si512());
    const __m512d power = _mm512_i64gather_pd(
        _mm512_min_epi64(_mm512_abs_epi64(k), _mm512_set1_epi64(22)), exactPowers, 8);
    __m512d y = _mm512_mul_pd(ax, power);
    if (divide != 0) y = _mm512_mask_div_pd(y, divide, ax, power);
    plain |= ~(_mm512_cmp_pd_mask(y, _mm512_set1_pd(1e5), _CMP_GE_OQ) &
               _mm512_cmp_pd_mask(y, _mm512_set1_pd(1e6), _CMP_LT_OQ));
    // Rounded to an integer, unless within 1e-7 of a half.
    __m512i whole = _mm512_cvttpd_epu64(_mm512_mask_mov_pd(y, plain, _mm512_set1_pd(1e5)));
    const __m512d fraction = _mm512_sub_pd(y, _mm512_cvtepu64_pd(whole));
    plain |= _mm512_cmp_pd_mask(_mm512_abs_pd(_mm512_sub_pd(fraction, _mm512_set1_pd(0.5))),
                                _mm512_set1_pd(1e-7), _CMP_LT_OQ);
    whole = _mm512_mask_add_epi64(whole, _mm512_cmp_pd_mask(fraction, _mm512_set1_pd(0.5), _CMP_GT_OQ),
                                  whole, _mm512_set1_epi64(1));
    const __mmask8 carry = _mm512_cmpeq_epi64_mask(whole, _mm512_set1_epi64(1000000));
    whole = _mm512_mask_mov_epi64(whole, carry, _mm512_set1_epi64(100000));
    exponent = _mm512_mask_add_epi64(exponent, carry, exponent, _mm512_set1_epi64(1));
    whole = _mm512_mask_mov_epi64(whole, plain, _mm512_set1_epi64(100000));

    __m512i count;
    _mm512_store_si512(digits, sixDigits(whole, count));
    _mm512_store_si512(significant, count);
    _mm512_store_si512(exponents, exponent);
    for (unsigned lane = 0; lane < 8; ++lane) {
      if ((plain >> lane) & 1) {
        out = writeCellPlain(out, values[i + lane], nodata);
      } else {
        out = placeCharacters(out, digits[lane], static_cast<int>(significant[lane]),
                              static_cast<int>(exponents[lane]), (negative >> lane) & 1);
      }
    }
  }
  return writeCellsPlain(out, values + i, n - i, nodata);
}
