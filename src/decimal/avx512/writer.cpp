// The cell writer with AVX-512: "%lg" of eight values at a time.
//
// The plain writer finds each value's decimal exponent by a loop, scales the value into
// [1e5, 1e6) and rounds it to six digits, splits those into characters and puts them in place,
// one value after the other. Here the eight values of a vector go through those steps
// together, in stages:
//   exponent         from the binary exponent and one comparison with a power of ten;
//   scale and round  the plain writer's own operations (one exact power of ten, the same
//                    guard around halves);
//   digits           the six digits, and how many are left after trailing zeros, by integer
//                    multiplies and shifts and a leading-zero count;
//   patterns         each value's text as a byte shuffle of its characters (the digits, '.',
//                    '-', the exponent, a tab), looked up by its form, sign and digit count;
//   shuffle, store   the texts put together and stored one after the other.
// Empty cells take the header's spelling. A value the stages are not sure of (a rounding
// within a hair of a half, and whatever lies outside 1e-17 <= |x| < 1e17: zero, infinities,
// NaN) goes to the plain writer, so the bytes are always the plain ones.

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
#include "platform/byte_order.h"
#include "platform/compiler.h"

namespace {

using Lanes = __m512i;      // eight 64-bit integers, one for each value
using Values = __m512d;     // eight doubles
using LaneMask = __mmask8;  // one bit for each value

// A division by a constant as a multiply and a shift, exact for every dividend below `limit`.
struct Reciprocal {
  std::uint64_t divisor, multiplier;
  int shift;
  std::uint64_t limit;
};
constexpr Reciprocal by1000{1000, 1073742, 30, std::uint64_t{1} << 20};  // six digits in two
constexpr Reciprocal by100{100, 5243, 19, 1000};                         // three digits
constexpr Reciprocal by10{10, 205, 11, 100};                             // two digits

// The expression every stage below computes, lane by lane.
constexpr std::uint64_t quotient(std::uint64_t x, const Reciprocal& r) {
  return (x * r.multiplier) >> r.shift;
}

// Whether quotient() is the true quotient below r.limit. It never decreases as x grows, so it
// holds wherever it holds on both sides of every step of the true quotient.
constexpr bool exactBelowLimit(const Reciprocal& r) {
  for (std::uint64_t q = 1; q * r.divisor <= r.limit; ++q)
    if (quotient(q * r.divisor - 1, r) != q - 1 || quotient(q * r.divisor, r) != q) return false;
  return quotient(r.limit - 1, r) == (r.limit - 1) / r.divisor;
}
static_assert(exactBelowLimit(by1000) && exactBelowLimit(by100) && exactBelowLimit(by10));
// by100 and by10 multiply 32-bit lanes: their products must fit.
static_assert((by100.limit - 1) * by100.multiplier < (std::uint64_t{1} << 32) &&
              (by10.limit - 1) * by10.multiplier < (std::uint64_t{1} << 32));

CELLPROD_TARGET_AVX512 inline Lanes broadcast(std::uint64_t v) {
  return _mm512_set1_epi64(static_cast<long long>(v));
}

// The quotient of 64-bit lanes of at most 32 bits, and of 32-bit lanes.
CELLPROD_TARGET_AVX512 inline Lanes quotient64(Lanes x, const Reciprocal& r) {
  return _mm512_srli_epi64(_mm512_mul_epu32(x, broadcast(r.multiplier)), r.shift);
}
CELLPROD_TARGET_AVX512 inline Lanes quotient32(Lanes x, const Reciprocal& r) {
  return _mm512_srli_epi32(_mm512_mullo_epi32(x, _mm512_set1_epi32(static_cast<int>(r.multiplier))),
                           r.shift);
}

// The limits of the stages are those of the plain writer's quick path (format.h); the plain
// writer takes every value outside them.
using namespace g6_limits;
constexpr double log10Of2 = 0.30102999566398120;

// The stages hold the powers of ten 10^-16 to 10^15 of the table in four vectors of eight
// (writeCellsAvx512): powers[2] and powers[3] hold 10^0 to 10^15, which a scaling multiplies or
// divides by, and the exponent stage picks among all 32.
constexpr int vectorPowers = 32, firstVectorPower = -16;
constexpr int largestScale = vectorPowers + firstVectorPower - 1;  // 15
static_assert(smallestPowerOfTen == firstVectorPower &&
                  largestExactPowerOfTen >= vectorPowers + firstVectorPower - 1,
              "the table must start at 10^-16 and hold 10^15 exactly");
static_assert(-firstVectorPower == 2 * 8, "powers[2] must start at 10^0");

// Stage "exponent": floor(log10(ax)) for ax within the limits. floor(e2 * log10(2)) is it or
// one below it, and the power of ten above decides. The index of that power, exponent + 1, is
// clamped to the 32 powers 10^-16 to 10^15 in `powers`; outside the limits the exponent may
// come out wrong, and the scaled value then falls outside [1e5, 1e6), to the plain writer.
CELLPROD_TARGET_AVX512 inline Lanes decimalExponent(Values ax, const Values powers[4]) {
  const Values e2 = _mm512_getexp_pd(ax);
  const Lanes estimate = _mm512_cvtpd_epi64(_mm512_roundscale_pd(
      _mm512_mul_pd(e2, _mm512_set1_pd(log10Of2)), _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC));
  const Lanes aboveIndex =
      _mm512_min_epi64(_mm512_max_epi64(_mm512_add_epi64(estimate, broadcast(1 - firstVectorPower)),
                                        _mm512_setzero_si512()),
                       broadcast(vectorPowers - 1));
  const Values above =
      _mm512_mask_blend_pd(_mm512_cmpge_epi64_mask(aboveIndex, broadcast(vectorPowers / 2)),
                           _mm512_permutex2var_pd(powers[0], aboveIndex, powers[1]),
                           _mm512_permutex2var_pd(powers[2], aboveIndex, powers[3]));
  return _mm512_mask_add_epi64(estimate, _mm512_cmp_pd_mask(ax, above, _CMP_GE_OQ), estimate,
                               broadcast(1));
}

struct Rounded {
  Lanes whole;      // the six digits, 100000 to 999999
  Lanes exponent;   // the decimal exponent of the rounded value
  LaneMask unsure;  // lanes where whole is not certain
};

// Stage "scale and round": ax times 10^k, or divided by 10^-k (k = 5 - exponent), rounded to
// an integer as the plain writer does; a rounding up to 10^6 becomes 10^5 with the exponent
// one higher. Unsure where |k| exceeds largestScale, where the scaled value lies outside
// [1e5, 1e6), and where it lies within halfMargin of a half.
CELLPROD_TARGET_AVX512 inline Rounded scaleAndRound(Values ax, Lanes exponent,
                                                    const Values powers[4]) {
  const Lanes k = _mm512_sub_epi64(broadcast(5), exponent);
  const Lanes magnitudeK = _mm512_abs_epi64(k);
  const Values power = _mm512_permutex2var_pd(powers[2], magnitudeK, powers[3]);
  const LaneMask divide = _mm512_cmplt_epi64_mask(k, _mm512_setzero_si512());
  Values y = _mm512_mul_pd(ax, power);
  if (divide != 0) y = _mm512_mask_div_pd(y, divide, ax, power);
  const LaneMask unscaled =
      _mm512_cmpgt_epi64_mask(magnitudeK, broadcast(largestScale)) |
      static_cast<LaneMask>(~(_mm512_cmp_pd_mask(y, _mm512_set1_pd(sixDigitsFrom), _CMP_GE_OQ) &
                              _mm512_cmp_pd_mask(y, _mm512_set1_pd(sixDigitsLimit), _CMP_LT_OQ)));
  Lanes whole = _mm512_cvttpd_epu64(_mm512_mask_mov_pd(y, unscaled, _mm512_set1_pd(sixDigitsFrom)));
  const Values fraction = _mm512_sub_pd(y, _mm512_cvtepu64_pd(whole));
  const LaneMask nearHalf =
      _mm512_cmp_pd_mask(_mm512_abs_pd(_mm512_sub_pd(fraction, _mm512_set1_pd(0.5))),
                         _mm512_set1_pd(halfMargin), _CMP_LT_OQ);
  whole = _mm512_mask_add_epi64(
      whole, _mm512_cmp_pd_mask(fraction, _mm512_set1_pd(0.5), _CMP_GT_OQ), whole, broadcast(1));
  const LaneMask carry = _mm512_cmpeq_epi64_mask(whole, broadcast(1000000));
  return {_mm512_mask_mov_epi64(whole, carry, broadcast(100000)),
          _mm512_mask_add_epi64(exponent, carry, exponent, broadcast(1)),
          static_cast<LaneMask>(unscaled | nearHalf)};
}

// Stage "digits": the six digits of each lane's n (100000 to 999999) as characters in its low
// six bytes (the first digit in the lowest), and in `significant` how many are left once the
// trailing zeros are removed (1 to 6).
CELLPROD_TARGET_AVX512 inline Lanes sixDigits(Lanes n, Lanes& significant) {
  const Lanes high = quotient64(n, by1000);
  const Lanes low = _mm512_sub_epi64(n, _mm512_mul_epu32(high, broadcast(1000)));
  // Both three-digit halves at once: high in the low 32 bits of a lane, low in the upper ones.
  const Lanes both = _mm512_or_si512(high, _mm512_slli_epi64(low, 32));
  const Lanes hundreds = quotient32(both, by100);
  const Lanes rest = _mm512_sub_epi32(both, _mm512_mullo_epi32(hundreds, _mm512_set1_epi32(100)));
  const Lanes tens = quotient32(rest, by10);
  const Lanes units = _mm512_sub_epi32(rest, _mm512_mullo_epi32(tens, _mm512_set1_epi32(10)));
  // Bytes 0 to 2 of each 32-bit half hold its three digits; the upper half then moves down by
  // one byte, so that the six digits follow each other in bytes 0 to 5.
  const Lanes spread = _mm512_or_si512(
      hundreds, _mm512_or_si512(_mm512_slli_epi32(tens, 8), _mm512_slli_epi32(units, 16)));
  const Lanes digits =
      _mm512_or_si512(_mm512_and_si512(spread, broadcast(0xffffff)),
                      _mm512_srli_epi64(_mm512_and_si512(spread, broadcast(0xffffff00000000)), 8));
  // The last non-zero digit is the highest non-zero byte.
  significant = _mm512_add_epi64(
      _mm512_srli_epi64(_mm512_sub_epi64(broadcast(63), _mm512_lzcnt_epi64(digits)), 3),
      broadcast(1));
  return _mm512_add_epi64(digits, broadcast(0x303030303030));
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

// Stage "digits", the exponent: 'e', its sign, '0', its two digits and a tab, at bytes 8 to
// 13 of a value's characters (exponentText() puts them in the low bytes of its lane).
CELLPROD_TARGET_AVX512 inline Lanes exponentText(Lanes exponent) {
  constexpr std::uint64_t positive = 'e' | ('+' << 8) | ('0' << 16) | (std::uint64_t{'\t'} << 40);
  constexpr std::uint64_t negative = 'e' | ('-' << 8) | ('0' << 16) | (std::uint64_t{'\t'} << 40);
  const Lanes a = _mm512_abs_epi64(exponent);  // below 100 in the lanes that use it
  const Lanes tens = quotient64(a, by10);
  const Lanes units = _mm512_sub_epi64(a, _mm512_mul_epu32(tens, broadcast(10)));
  const Lanes marks = _mm512_mask_mov_epi64(
      broadcast(positive), _mm512_cmplt_epi64_mask(exponent, _mm512_setzero_si512()),
      broadcast(negative));
  return _mm512_or_si512(
      marks, _mm512_or_si512(_mm512_slli_epi64(_mm512_add_epi64(tens, broadcast('0')), 24),
                             _mm512_slli_epi64(_mm512_add_epi64(units, broadcast('0')), 32)));
}

struct Picks {
  Lanes low, high;  // the two halves of each value's pattern
  Lanes length;     // the length of each value's text, its tab included
};

// Stage "patterns": each value's pattern by its form (fixed for the exponents -4 to 5, else
// exponent notation), sign and digit count.
CELLPROD_TARGET_AVX512 inline Picks choosePatterns(Lanes exponent, LaneMask negative,
                                                   Lanes significant) {
  const LaneMask exponentForm = _mm512_cmplt_epi64_mask(exponent, broadcast(-4)) |
                                _mm512_cmpge_epi64_mask(exponent, broadcast(6));
  const Lanes form = _mm512_mask_mov_epi64(_mm512_add_epi64(exponent, broadcast(4)), exponentForm,
                                           broadcast(fixedForms));
  // patternIndex(form, negative, significant), lane by lane.
  const Lanes index = _mm512_add_epi64(
      _mm512_mul_epu32(_mm512_add_epi64(_mm512_add_epi64(form, form),
                                        _mm512_maskz_mov_epi64(negative, broadcast(1))),
                       broadcast(6)),
      _mm512_sub_epi64(significant, broadcast(1)));
  const Lanes high = _mm512_i64gather_epi64(index, textPatterns.high, 8);
  return {_mm512_i64gather_epi64(index, textPatterns.low, 8), high, _mm512_srli_epi64(high, 56)};
}

// The mask of the 64-bit lanes of the 16-byte lanes whose value has its bit in m (bits 0, 2,
// 4 and 6: the first value of each 16-byte lane).
constexpr __mmask8 pairs(unsigned m) { return static_cast<__mmask8>(m | (m << 1)); }

// Stage "shuffle": the texts of values 0, 2, 4, 6 (texts[0]) and 1, 3, 5, 7 (texts[1]), one to
// each 16-byte lane, each picked from its characters; empty cells take the spelling.
CELLPROD_TARGET_AVX512 inline void shuffleTexts(Lanes characters, Lanes exponentCharacters,
                                                const Picks& picks, LaneMask empty,
                                                Lanes nodataTexts, char (&texts)[2][64]) {
  const Lanes even = _mm512_mask_blend_epi64(
      pairs(empty & 0x55),
      _mm512_shuffle_epi8(_mm512_unpacklo_epi64(characters, exponentCharacters),
                          _mm512_unpacklo_epi64(picks.low, picks.high)),
      nodataTexts);
  const Lanes odd = _mm512_mask_blend_epi64(
      pairs((empty >> 1) & 0x55),
      _mm512_shuffle_epi8(_mm512_unpackhi_epi64(characters, exponentCharacters),
                          _mm512_unpackhi_epi64(picks.low, picks.high)),
      nodataTexts);
  _mm512_store_si512(texts[0], even);
  _mm512_store_si512(texts[1], odd);
}

// A text and its tab in the low bytes of a lane (the first byte lowest), its length, and the
// lanes where they fit in eight bytes.
struct ShortTexts {
  Lanes text, length;
  LaneMask fit;
};

// The low n bytes of a lane set, for n from 0 to 8.
CELLPROD_TARGET_AVX512 inline Lanes lowBytes(Lanes n) {
  const Lanes ones = broadcast(~std::uint64_t{0});
  return _mm512_andnot_si512(_mm512_sllv_epi64(ones, _mm512_slli_epi64(n, 3)), ones);
}

// Stage "short texts", the common case: fixed notation with the decimal exponent 0 to 5, the
// text with its tab in at most eight bytes ("-123.45" is the longest). The point goes in by
// shifting the digits after it one byte up, and the text ends after the last significant digit
// or, where none is left after the point, before the point. No pattern, no shuffle.
CELLPROD_TARGET_AVX512 inline ShortTexts shortTexts(Lanes digits, Lanes exponent, Lanes significant,
                                                    LaneMask negative) {
  const Lanes whole = _mm512_add_epi64(exponent, broadcast(1));  // digits before the point
  const Lanes pointShift = _mm512_slli_epi64(whole, 3);
  const Lanes pointed = _mm512_or_si512(
      _mm512_and_si512(digits, lowBytes(whole)),
      _mm512_or_si512(_mm512_sllv_epi64(broadcast('.'), pointShift),
                      _mm512_sllv_epi64(_mm512_srlv_epi64(digits, pointShift),
                                        _mm512_add_epi64(pointShift, broadcast(8)))));
  const Lanes textLength = _mm512_mask_add_epi64(whole, _mm512_cmpgt_epi64_mask(significant, whole),
                                                 significant, broadcast(1));
  const Lanes text =
      _mm512_or_si512(_mm512_and_si512(pointed, lowBytes(textLength)),
                      _mm512_sllv_epi64(broadcast('\t'), _mm512_slli_epi64(textLength, 3)));
  const Lanes length = _mm512_mask_add_epi64(_mm512_add_epi64(textLength, broadcast(1)), negative,
                                             textLength, broadcast(2));
  return {_mm512_mask_or_epi64(text, negative, _mm512_slli_epi64(text, 8), broadcast('-')), length,
          static_cast<LaneMask>(_mm512_cmple_epu64_mask(exponent, broadcast(5)) &
                                _mm512_cmple_epu64_mask(length, broadcast(8)))};
}

// Stage "store" of short texts: eight bytes a lane, each text after the one before.
CELLPROD_TARGET_AVX512 inline void storeShortTexts(char*& out, Lanes text, Lanes length) {
  alignas(64) std::uint64_t texts[8], lengths[8];
  _mm512_store_si512(texts, text);
  _mm512_store_si512(lengths, length);
  for (int lane = 0; lane < 8; ++lane) {
    std::memcpy(out, &texts[lane], 8);
    out += lengths[lane];
  }
}

// An empty cell's text as the stages use it: the spelling and a tab in 16 bytes, when it fits.
struct NodataText {
  bool fits;
  Lanes texts;   // the text in each 16-byte lane
  Lanes length;  // its length in each lane
  bool length8;  // whether it fits in eight bytes,
  Lanes text8;   // as it is then in each lane
};

CELLPROD_TARGET_AVX512 inline NodataText nodataText(const NodataSpelling& nodata) {
  const bool fits = nodata.length < 16;
  alignas(16) char text[16] = {};
  std::memcpy(text, nodata.text, fits ? nodata.length : 0);
  text[fits ? nodata.length : 0] = '\t';
  return {fits, _mm512_broadcast_i32x4(_mm_load_si128(reinterpret_cast<const __m128i*>(text))),
          broadcast(nodata.length + 1), nodata.length < 8,
          broadcast(byte_order::loadLittleEndian<std::uint64_t>(
              reinterpret_cast<const unsigned char*>(text)))};
}

}  // namespace

CELLPROD_TARGET_AVX512 char* writeCellsAvx512(char* out, const double* values, std::size_t n,
                                              const NodataSpelling& nodata) {
  const NodataText empties = nodataText(nodata);
  const Values powers[4] = {_mm512_loadu_pd(powersOfTen), _mm512_loadu_pd(powersOfTen + 8),
                            _mm512_loadu_pd(powersOfTen + 16), _mm512_loadu_pd(powersOfTen + 24)};
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const Values x = _mm512_loadu_pd(values + i);
    const Values ax = _mm512_abs_pd(x);
    const LaneMask negative = _mm512_cmplt_pd_mask(x, _mm512_setzero_pd());
    const LaneMask empty = _mm512_cmpeq_pd_mask(x, _mm512_set1_pd(nodata.value));
    const LaneMask outside =
        static_cast<LaneMask>(~(_mm512_cmp_pd_mask(ax, _mm512_set1_pd(quickFrom), _CMP_GE_OQ) &
                                _mm512_cmp_pd_mask(ax, _mm512_set1_pd(quickLimit), _CMP_LT_OQ)));
    const Rounded rounded = scaleAndRound(ax, decimalExponent(ax, powers), powers);
    // The values the plain writer takes: those the stages are not sure of, and empty cells
    // whose spelling does not fit; an empty cell whose spelling fits never.
    const LaneMask unsure = outside | rounded.unsure;
    const LaneMask plain = empties.fits ? unsure & ~empty : unsure | empty;
    // Lanes whose text comes from elsewhere get a harmless six digits and exponent.
    const LaneMask elsewhere = plain | empty;
    const Lanes whole = _mm512_mask_mov_epi64(rounded.whole, elsewhere, broadcast(100000));
    const Lanes exponent =
        _mm512_mask_mov_epi64(rounded.exponent, elsewhere, _mm512_setzero_si512());

    Lanes significant;
    const Lanes digits = sixDigits(whole, significant);
    ShortTexts short8 = shortTexts(digits, exponent, significant, negative);
    const LaneMask shortEmpty = empties.length8 ? empty : 0;
    if (static_cast<LaneMask>((short8.fit & ~elsewhere) | shortEmpty) == 0xff) {
      storeShortTexts(out, _mm512_mask_mov_epi64(short8.text, empty, empties.text8),
                      _mm512_mask_mov_epi64(short8.length, empty, empties.length));
      continue;
    }

    // Each value's characters: its digits, '.' and '-' in the low eight bytes, the exponent in
    // the high eight.
    const Lanes characters = _mm512_or_si512(
        digits,
        broadcast((std::uint64_t{'.'} << (8 * pointAt)) | (std::uint64_t{'-'} << (8 * minusAt))));
    Picks picks = choosePatterns(exponent, negative, significant);
    picks.length = _mm512_mask_mov_epi64(picks.length, empty, empties.length);
    alignas(64) char texts[2][64];
    shuffleTexts(characters, exponentText(exponent), picks, empty, empties.texts, texts);

    // Stage "store": the texts one after the other; the rare plain lanes by the plain writer.
    alignas(64) std::uint64_t lengths[8];
    _mm512_store_si512(lengths, picks.length);
    for (unsigned lane = 0; lane < 8; ++lane) {
      if ((plain >> lane) & 1) {
        out = writeCellsPlain(out, values + i + lane, 1, nodata);
        continue;
      }
      std::memcpy(out, texts[lane & 1] + 16 * (lane >> 1), 16);
      out += lengths[lane];
    }
  }
  return writeCellsPlain(out, values + i, n - i, nodata);
}
