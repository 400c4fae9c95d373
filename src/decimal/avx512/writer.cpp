// The cell writer with AVX-512: "%lg" of eight values at a time.
//
// The plain writer finds each value's decimal exponent by a loop, scales the value into
// [1e5, 1e6) and rounds it to six digits, splits those into characters and puts them in place,
// one value after the other. Here the eight values of a vector go through those steps
// together: the exponent comes from the binary one and one comparison with a power of ten; the
// scaling and rounding are the plain writer's own operations (one exact power of ten, the same
// guard around halves); the six digits and how many are left after trailing zeros come from
// integer multiplies and shifts and a leading-zero count. Each value's text is then one byte
// shuffle of its characters (the digits, '.', '-', the exponent, a tab), by a pattern looked up
// from its form, sign and digit count, and the texts are stored one after the other. Empty
// cells take the header's spelling. A value the vector steps are not sure of (a rounding within
// a hair of a half, and whatever lies outside 1e-17 <= |x| < 1e17: zero, infinities, NaN) goes
// to the plain writer, so the bytes are always the plain ones.

// GCC 12 warns of uninitialized values inside its own AVX-512 headers, where the intrinsics
// build vectors from undefined ones that they then fill; the warnings say nothing of this code.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#include <immintrin.h>

#include <cstdint>
#include <cstring>  // memcpy

#include "decimal/kernels.h"
#include "decimal/powers_of_ten.h"
#include "platform/compiler.h"

namespace {

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

// A value's characters, in the 16 bytes a shuffle picks from: the six digits, then these.
constexpr int pointAt = 6, minusAt = 7, eAt = 8, exponentSignAt = 9, zeroAt = 10,
              exponentDigitsAt = 11, tabAt = 13;

// Forms of a text: 0 to 9 for fixed notation with the decimal exponent -4 to 5, 10 for
// exponent notation.
constexpr int fixedForms = 10, forms = 11;

struct TextPattern {
  unsigned char picks[16];  // for each byte of the text, where it comes from (0x80: nothing)
  std::uint64_t length;     // bytes of the text, its tab included
};

// The text of each form, sign and count of significant digits (1 to 6), as the plain writer
// spells it, followed by a tab.
constexpr TextPattern textPattern(int form, bool negative, int significant) {
  TextPattern t{};
  int n = 0;
  auto pick = [&](int from) { t.picks[n++] = static_cast<unsigned char>(from); };
  if (negative) pick(minusAt);
  if (form == fixedForms) {  // d.ddddde+0XX
    pick(0);
    if (significant > 1) pick(pointAt);
    for (int d = 1; d < significant; ++d) pick(d);
    for (int c : {eAt, exponentSignAt, zeroAt, exponentDigitsAt, exponentDigitsAt + 1}) pick(c);
  } else if (const int exponent = form - 4; exponent >= 0) {  // the integer digits, then the rest
    for (int d = 0; d <= exponent; ++d) pick(d);
    if (significant > exponent + 1) pick(pointAt);
    for (int d = exponent + 1; d < significant; ++d) pick(d);
  } else {  // 0.000ddd
    pick(zeroAt);
    pick(pointAt);
    for (int z = 1; z < -exponent; ++z) pick(zeroAt);
    for (int d = 0; d < significant; ++d) pick(d);
  }
  pick(tabAt);
  t.length = static_cast<std::uint64_t>(n);
  while (n < 16) pick(0x80);
  return t;
}

constexpr int patternIndex(int form, bool negative, int significant) {
  return (form * 2 + negative) * 6 + significant - 1;
}

struct TextPatterns {
  // The picks split in halves, so that a 64-bit gather fetches each. The last byte of a text
  // pattern picks for a byte no text reaches (they are 14 bytes at most), and holds its length.
  std::uint64_t low[forms * 12], high[forms * 12];
};

constexpr TextPatterns makeTextPatterns() {
  TextPatterns p{};
  for (int form = 0; form < forms; ++form) {
    for (int negative = 0; negative < 2; ++negative) {
      for (int significant = 1; significant <= 6; ++significant) {
        const TextPattern t = textPattern(form, negative, significant);
        const int i = patternIndex(form, negative, significant);
        for (int b = 0; b < 8; ++b) {
          p.low[i] |= std::uint64_t{t.picks[b]} << (8 * b);
          p.high[i] |= std::uint64_t{t.picks[b + 8]} << (8 * b);
        }
        p.high[i] = (p.high[i] & 0x00ffffffffffffff) | (t.length << 56);
      }
    }
  }
  return p;
}

constexpr TextPatterns textPatterns = makeTextPatterns();

// The mask of the 64-bit lanes of the 16-byte lanes whose value has its bit in m (bits 0, 2,
// 4 and 6: the first value of each 16-byte lane).
constexpr __mmask8 pairs(unsigned m) { return static_cast<__mmask8>(m | (m << 1)); }

}  // namespace

CELLPROD_TARGET_AVX512 char* writeCellsAvx512(char* out, const double* values, std::size_t n,
                                              const NodataSpelling& nodata) {
  // An empty cell's text, when it fits the 16 bytes of the others: the spelling and a tab.
  const bool nodataFits = nodata.length < 16;
  alignas(16) char nodataText[16] = {};
  std::memcpy(nodataText, nodata.text, nodataFits ? nodata.length : 0);
  nodataText[nodataFits ? nodata.length : 0] = '\t';
  const __m512i nodataTexts =
      _mm512_broadcast_i32x4(_mm_load_si128(reinterpret_cast<const __m128i*>(nodataText)));
  const __m512d powers[4] = {_mm512_loadu_pd(powersOfTen), _mm512_loadu_pd(powersOfTen + 8),
                             _mm512_loadu_pd(powersOfTen + 16), _mm512_loadu_pd(powersOfTen + 24)};
  const __m512i nodataLength = _mm512_set1_epi64(static_cast<std::int64_t>(nodata.length + 1));
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m512d x = _mm512_loadu_pd(values + i);
    const __m512d ax = _mm512_abs_pd(x);
    const __mmask8 negative = _mm512_cmplt_pd_mask(x, _mm512_setzero_pd());
    const __mmask8 empty = _mm512_cmpeq_pd_mask(x, _mm512_set1_pd(nodata.value));
    __mmask8 plain = ~(_mm512_cmp_pd_mask(ax, _mm512_set1_pd(1e-17), _CMP_GE_OQ) &
                       _mm512_cmp_pd_mask(ax, _mm512_set1_pd(1e17), _CMP_LT_OQ));
    // The decimal exponent: floor(e2 * log10(2)) is it or one below it; the power above
    // decides. (Lanes the plain writer takes may give any exponent.)
    const __m512d e2 = _mm512_getexp_pd(ax);
    __m512i exponent = _mm512_cvtpd_epi64(
        _mm512_roundscale_pd(_mm512_mul_pd(e2, _mm512_set1_pd(0.30102999566398120)),
                             _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC));
    // 10^(exponent + 1) from the 32 powers 10^-16 to 10^15, the index clamped to them; outside
    // them the exponent may come out wrong, and the scaled value then falls outside
    // [1e5, 1e6), to the plain writer.
    const __m512i aboveIndex = _mm512_min_epi64(
        _mm512_max_epi64(_mm512_add_epi64(exponent, _mm512_set1_epi64(17)), _mm512_setzero_si512()),
        _mm512_set1_epi64(31));
    const __m512d above = _mm512_mask_blend_pd(
        _mm512_cmpge_epi64_mask(aboveIndex, _mm512_set1_epi64(16)),
        _mm512_permutex2var_pd(powers[0], aboveIndex, powers[1]),
        _mm512_permutex2var_pd(powers[2], aboveIndex, powers[3]));
    exponent = _mm512_mask_add_epi64(exponent, _mm512_cmp_pd_mask(ax, above, _CMP_GE_OQ),
                                     exponent, _mm512_set1_epi64(1));
    // Scaled into [1e5, 1e6) as the plain writer does: by 10^k, or divided by 10^-k for k < 0;
    // the plain writer takes the few with |k| above 15.
    const __m512i k = _mm512_sub_epi64(_mm512_set1_epi64(5), exponent);
    const __mmask8 divide = _mm512_cmplt_epi64_mask(k, _mm512_setzero_si512());
    const __m512i magnitudeK = _mm512_abs_epi64(k);
    plain |= _mm512_cmpgt_epi64_mask(magnitudeK, _mm512_set1_epi64(15));
    const __m512d power = _mm512_permutex2var_pd(powers[2], magnitudeK, powers[3]);
    __m512d y = _mm512_mul_pd(ax, power);
    if (divide != 0) y = _mm512_mask_div_pd(y, divide, ax, power);
    plain |= ~(_mm512_cmp_pd_mask(y, _mm512_set1_pd(1e5), _CMP_GE_OQ) &
               _mm512_cmp_pd_mask(y, _mm512_set1_pd(1e6), _CMP_LT_OQ));
    // Rounded to an integer, unless within 1e-7 of a half.
    __m512i whole = _mm512_cvttpd_epu64(_mm512_mask_mov_pd(y, plain, _mm512_set1_pd(1e5)));
    const __m512d fraction = _mm512_sub_pd(y, _mm512_cvtepu64_pd(whole));
    plain |= _mm512_cmp_pd_mask(_mm512_abs_pd(_mm512_sub_pd(fraction, _mm512_set1_pd(0.5))),
                                _mm512_set1_pd(1e-7), _CMP_LT_OQ);
    whole = _mm512_mask_add_epi64(whole,
                                  _mm512_cmp_pd_mask(fraction, _mm512_set1_pd(0.5), _CMP_GT_OQ),
                                  whole, _mm512_set1_epi64(1));
    const __mmask8 carry = _mm512_cmpeq_epi64_mask(whole, _mm512_set1_epi64(1000000));
    whole = _mm512_mask_mov_epi64(whole, carry, _mm512_set1_epi64(100000));
    exponent = _mm512_mask_add_epi64(exponent, carry, exponent, _mm512_set1_epi64(1));
    // Empty cells take the header's spelling, here if it fits, else from the plain writer.
    plain = nodataFits ? plain & ~empty : plain | empty;
    whole = _mm512_mask_mov_epi64(whole, plain | empty, _mm512_set1_epi64(100000));
    exponent = _mm512_mask_mov_epi64(exponent, plain | empty, _mm512_setzero_si512());

    // Each value's characters: its digits, '.' and '-' in the low eight bytes; 'e', the sign of
    // the exponent, '0', the two digits of the exponent and a tab in the high eight.
    __m512i significant;
    const __m512i digits = sixDigits(whole, significant);
    const __m512i characters = _mm512_or_si512(
        digits, _mm512_set1_epi64(static_cast<std::int64_t>((std::uint64_t{'.'} << 48) |
                                                            (std::uint64_t{'-'} << 56))));
    const __mmask8 negativeExponent = _mm512_cmplt_epi64_mask(exponent, _mm512_setzero_si512());
    const __m512i a = _mm512_abs_epi64(exponent);
    const __m512i tens = _mm512_srli_epi64(_mm512_mul_epu32(a, _mm512_set1_epi64(205)), 11);
    const __m512i units = _mm512_sub_epi64(a, _mm512_mul_epu32(tens, _mm512_set1_epi64(10)));
    const __m512i exponentText = _mm512_or_si512(
        _mm512_mask_mov_epi64(_mm512_set1_epi64('e' | ('+' << 8) | ('0' << 16) | (std::int64_t{'\t'} << 40)),
                              negativeExponent,
                              _mm512_set1_epi64('e' | ('-' << 8) | ('0' << 16) | (std::int64_t{'\t'} << 40))),
        _mm512_or_si512(_mm512_slli_epi64(_mm512_add_epi64(tens, _mm512_set1_epi64('0')), 24),
                        _mm512_slli_epi64(_mm512_add_epi64(units, _mm512_set1_epi64('0')), 32)));
    // The pattern of each: its form (the fixed ones by exponent, else exponent notation),
    // sign and digit count.
    const __mmask8 exponentForm = _mm512_cmplt_epi64_mask(exponent, _mm512_set1_epi64(-4)) |
                                  _mm512_cmpge_epi64_mask(exponent, _mm512_set1_epi64(6));
    const __m512i form = _mm512_mask_mov_epi64(_mm512_add_epi64(exponent, _mm512_set1_epi64(4)),
                                               exponentForm, _mm512_set1_epi64(fixedForms));
    const __m512i index = _mm512_add_epi64(
        _mm512_mul_epu32(_mm512_add_epi64(_mm512_add_epi64(form, form),
                                            _mm512_maskz_mov_epi64(negative, _mm512_set1_epi64(1))),
                           _mm512_set1_epi64(6)),
        _mm512_sub_epi64(significant, _mm512_set1_epi64(1)));
    const __m512i picksLow = _mm512_i64gather_epi64(index, textPatterns.low, 8);
    const __m512i picksHigh = _mm512_i64gather_epi64(index, textPatterns.high, 8);
    __m512i length = _mm512_srli_epi64(picksHigh, 56);
    length = _mm512_mask_mov_epi64(length, empty, nodataLength);
    // Values 0, 2, 4, 6 and 1, 3, 5, 7, one to each 16-byte lane, shuffled into their texts;
    // empty cells take the spelling.
    const __m512i even = _mm512_mask_blend_epi64(
        pairs(empty & 0x55), _mm512_shuffle_epi8(_mm512_unpacklo_epi64(characters, exponentText),
                                                 _mm512_unpacklo_epi64(picksLow, picksHigh)),
        nodataTexts);
    const __m512i odd = _mm512_mask_blend_epi64(
        pairs((empty >> 1) & 0x55),
        _mm512_shuffle_epi8(_mm512_unpackhi_epi64(characters, exponentText),
                            _mm512_unpackhi_epi64(picksLow, picksHigh)),
        nodataTexts);
    alignas(64) char texts[2][64];
    alignas(64) std::uint64_t lengths[8];
    _mm512_store_si512(texts[0], even);
    _mm512_store_si512(texts[1], odd);
    _mm512_store_si512(lengths, length);
    for (unsigned lane = 0; lane < 8; ++lane) {
      if ((plain >> lane) & 1) {  // rare: a value for the plain writer
        out = writeCellsPlain(out, values + i + lane, 1, nodata);
        continue;
      }
      std::memcpy(out, texts[lane & 1] + 16 * (lane >> 1), 16);
      out += lengths[lane];
    }
  }
  return writeCellsPlain(out, values + i, n - i, nodata);
}
