// The cell writer with AVX-512: "%lg" of eight values at a time, through the plain writer's
// steps (format.cpp) together, in stages:
//   exponent         from the binary exponent and one comparison with a power of ten;
//   scale and round  the plain writer's own operations (one exact power of ten, the same
//                    guard around halves);
//   digits           the six digits, and how many are left after trailing zeros;
//   texts            each value's text and its tab put together in its lane by shifts: eight
//                    bytes in the common case (fixed notation, 1 <= |x| < 999999.5), else 16;
//   store            the texts one after the other.
// Empty cells take the header's spelling. A value the stages are not sure of (near a half, or
// outside 1e-17 <= |x| < 1e17) goes to the plain writer, so the bytes are always the plain ones.

#include <cstdint>
#include <cstring>  // memcpy

#include "decimal/kernels.h"
#include "decimal/powers_of_ten.h"
#include "platform/avx512.h"
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
constexpr Reciprocal by100{100, 656, 16, 1000};                          // three digits
constexpr Reciprocal by10{10, 6554, 16, 100};                            // two digits

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
static_assert(by100.shift == 16 && by10.shift == 16 && by100.limit < 0x10000);  // quotient16's

CELLPROD_TARGET_AVX512 inline Lanes broadcast(std::uint64_t v) {
  return _mm512_set1_epi64(static_cast<long long>(v));
}

// The quotient of 64-bit lanes of at most 32 bits; and of the 16-bit halves of 32-bit lanes
// (the upper halves zero), the high half of a 16-bit product, and x - q * d there.
CELLPROD_TARGET_AVX512 inline Lanes quotient64(Lanes x, const Reciprocal& r) {
  return _mm512_srli_epi64(_mm512_mul_epu32(x, broadcast(r.multiplier)), r.shift);
}
CELLPROD_TARGET_AVX512 inline Lanes quotient16(Lanes x, const Reciprocal& r) {
  return _mm512_mulhi_epu16(x, _mm512_set1_epi32(static_cast<int>(r.multiplier)));
}
CELLPROD_TARGET_AVX512 inline Lanes remainder16(Lanes x, Lanes q, int d) {
  return _mm512_sub_epi32(x, _mm512_mullo_epi16(q, _mm512_set1_epi32(d)));
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
  const Lanes hundreds = quotient16(both, by100);
  const Lanes rest = remainder16(both, hundreds, 100);
  const Lanes tens = quotient16(rest, by10);
  const Lanes units = remainder16(rest, tens, 10);
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

// A value's text and its tab in 16 bytes, the first byte lowest: bytes 0 to 7 in `low`, 8 to 15
// in `high`.
struct Texts {
  Lanes low, high;
};

// The low n bytes of a lane set, for n from 0 to 8.
CELLPROD_TARGET_AVX512 inline Lanes lowBytes(Lanes n) {
  const Lanes ones = broadcast(~std::uint64_t{0});
  return _mm512_andnot_si512(_mm512_sllv_epi64(ones, _mm512_slli_epi64(n, 3)), ones);
}

// Stage "exponent text": 'e', its sign, '0' and its two digits, in the low five bytes ('-' is
// '+' + 2).
CELLPROD_TARGET_AVX512 inline Lanes exponentText(Lanes exponent) {
  const Lanes a = _mm512_abs_epi64(exponent);  // below 100 in the lanes that use it
  const Lanes tens = quotient64(a, by10);
  const Lanes digits = _mm512_add_epi64(
      _mm512_slli_epi64(tens, 24),
      _mm512_slli_epi64(_mm512_sub_epi64(a, _mm512_mul_epu32(tens, broadcast(10))), 32));
  const Lanes text = _mm512_add_epi64(digits, broadcast(0x3030302B65));  // "e+000"
  return _mm512_mask_add_epi64(text, _mm512_cmplt_epi64_mask(exponent, _mm512_setzero_si512()),
                               text, broadcast(2 << 8));
}

// Stage "texts": each value's text, put together in its lane by shifts. Every text is a head
// of at most seven bytes, then a tail at the head's end, then the tab:
//   fixed notation, exponent 0 to 5:   head "ddd.ddd" (the point after the exponent + 1 whole
//                                      digits, where a significant digit follows it), no tail;
//   fixed notation, exponent -4 to -1: head "0." and -1 - exponent zeros, tail the digits;
//   exponent notation:                 head "d.ddddd" (one whole digit), tail "e+0XX".
// A '-' goes before it all: 14 bytes at most with the tab ("-1.23456e+016"). With `anyForm`
// false, every lane has the first form, the common one, and the other two are not built.
template <bool anyForm>
CELLPROD_TARGET_AVX512 inline Texts valueTexts(Lanes digits, Lanes exponent, Lanes significant,
                                               LaneMask negative, Lanes& length) {
  const Lanes one = broadcast(1);
  const LaneMask small = _mm512_cmplt_epi64_mask(exponent, _mm512_setzero_si512());
  const LaneMask fixed = static_cast<LaneMask>(_mm512_cmpge_epi64_mask(exponent, broadcast(-4)) &
                                               _mm512_cmple_epi64_mask(exponent, broadcast(5)));
  // The head of whole digits: the digits before the point (their trailing zeros included), the
  // point, the significant digits after it.
  const Lanes whole = anyForm ? _mm512_mask_add_epi64(one, fixed & ~small, exponent, one)
                              : _mm512_add_epi64(exponent, one);
  const Lanes pointShift = _mm512_slli_epi64(whole, 3);
  Lanes head = _mm512_or_si512(
      _mm512_and_si512(digits, lowBytes(whole)),
      _mm512_or_si512(_mm512_sllv_epi64(broadcast('.'), pointShift),
                      _mm512_sllv_epi64(_mm512_srlv_epi64(digits, pointShift),
                                        _mm512_add_epi64(pointShift, broadcast(8)))));
  Lanes headLength =
      _mm512_mask_add_epi64(whole, _mm512_cmpgt_epi64_mask(significant, whole), significant, one);
  Lanes textLength = headLength;
  const Lanes tab = broadcast('\t'), bits = broadcast(64);
  Texts t{};
  if constexpr (anyForm) {
    // The head "0.000" of a small fixed value; its tail, the significant digits.
    const LaneMask zeros = fixed & small;
    headLength = _mm512_mask_sub_epi64(headLength, zeros, one, exponent);  // 1 - exponent
    head = _mm512_mask_mov_epi64(head, zeros, broadcast(0x3030303030302e30));
    const Lanes tail =
        _mm512_mask_mov_epi64(_mm512_maskz_and_epi64(zeros, digits, lowBytes(significant)),
                              static_cast<LaneMask>(~fixed), exponentText(exponent));
    textLength = _mm512_add_epi64(
        headLength, _mm512_mask_mov_epi64(_mm512_maskz_mov_epi64(zeros, significant),
                                          static_cast<LaneMask>(~fixed), broadcast(5)));
    // The tail shifted by the head's length (1 to 7 bytes), into the high half too. Shifts by
    // 64 bits or more, "negative" ones included, give zeros.
    const Lanes tailShift = _mm512_slli_epi64(headLength, 3);
    t.low = _mm512_sllv_epi64(tail, tailShift);
    t.high = _mm512_or_si512(
        _mm512_srlv_epi64(tail, _mm512_sub_epi64(bits, tailShift)),
        _mm512_sllv_epi64(tab, _mm512_sub_epi64(_mm512_slli_epi64(textLength, 3), bits)));
  }
  t.low = _mm512_or_si512(_mm512_or_si512(t.low, _mm512_and_si512(head, lowBytes(headLength))),
                          _mm512_sllv_epi64(tab, _mm512_slli_epi64(textLength, 3)));
  // The sign: the text one byte up, '-' in the first.
  t.high = _mm512_mask_mov_epi64(
      t.high, negative,
      _mm512_or_si512(_mm512_slli_epi64(t.high, 8), _mm512_srli_epi64(t.low, 56)));
  t.low = _mm512_mask_or_epi64(t.low, negative, _mm512_slli_epi64(t.low, 8), broadcast('-'));
  length =
      _mm512_mask_add_epi64(_mm512_add_epi64(textLength, one), negative, textLength, broadcast(2));
  return t;
}

// Stage "store": the texts one after the other, the lanes in `plain` by the plain writer.
CELLPROD_TARGET_AVX512 inline void storeTexts(char*& out, const Texts& t, Lanes length,
                                              LaneMask plain, const double* values,
                                              const NodataSpelling& nodata) {
  // The texts of values 0, 2, 4 and 6 in texts[0], those of 1, 3, 5 and 7 in texts[1].
  alignas(64) char texts[2][64];
  alignas(64) std::uint64_t lengths[8];
  _mm512_store_si512(texts[0], _mm512_unpacklo_epi64(t.low, t.high));
  _mm512_store_si512(texts[1], _mm512_unpackhi_epi64(t.low, t.high));
  _mm512_store_si512(lengths, length);
  for (unsigned lane = 0; lane < 8; ++lane) {
    if ((plain >> lane) & 1) {
      out = writeCellsPlain(out, values + lane, 1, nodata);
      continue;
    }
    std::memcpy(out, texts[lane & 1] + 16 * (lane >> 1), 16);
    out += lengths[lane];
  }
}

// Stage "store" of texts of eight bytes with VBMI2: the bytes of the eight texts compressed
// into one vector, stored at once. (Texts of 16 bytes gain nothing from it.)
CELLPROD_TARGET_AVX512_VBMI2 inline void storeCompressed(char*& out, Lanes text, Lanes length) {
  // Each lane's length in all its bytes, by a byte shuffle (a 64-bit multiply is slow).
  const Lanes lengths =
      _mm512_shuffle_epi8(length, _mm512_set_epi64(0x0808080808080808, 0, 0x0808080808080808, 0,
                                                   0x0808080808080808, 0, 0x0808080808080808, 0));
  const __mmask64 kept = _mm512_cmplt_epu8_mask(broadcast(0x0706050403020100), lengths);
  _mm512_storeu_si512(out, _mm512_maskz_compress_epi8(kept, text));
  out += _mm_popcnt_u64(kept);
}

// An empty cell's text as the stages use it: the spelling and a tab, when they fit in 16 bytes.
struct NodataText {
  bool fits;
  Texts text;
  Lanes length;
};

CELLPROD_TARGET_AVX512 inline NodataText nodataText(const NodataSpelling& nodata) {
  const bool fits = nodata.length < 16;
  unsigned char text[16] = {};
  std::memcpy(text, nodata.text, fits ? nodata.length : 0);
  text[fits ? nodata.length : 0] = '\t';
  return {fits,
          {broadcast(byte_order::loadLittleEndian<std::uint64_t>(text)),
           broadcast(byte_order::loadLittleEndian<std::uint64_t>(text + 8))},
          broadcast(nodata.length + 1)};
}

// The loop of both writers, `compress` that of VBMI2.
template <bool compress>
CELLPROD_TARGET_AVX512 CELLPROD_ALWAYS_INLINE char* writeCells(char* out, const double* values,
                                                               std::size_t n,
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
    Lanes significant, length;
    const Lanes digits = sixDigits(whole, significant);
    // The common case first: every lane empty or in fixed notation with the exponent 0 to 5;
    // eight bytes for each text, or 16 where one is longer ("-123.456").
    const bool common = _mm512_cmpgt_epu64_mask(exponent, broadcast(5)) == 0;
    Texts t = common ? valueTexts<false>(digits, exponent, significant, negative, length)
                     : valueTexts<true>(digits, exponent, significant, negative, length);
    t.low = _mm512_mask_mov_epi64(t.low, empty, empties.text.low);
    t.high = _mm512_mask_mov_epi64(t.high, empty, empties.text.high);
    length = _mm512_mask_mov_epi64(length, empty, empties.length);
    if (compress && plain == 0 && _mm512_cmpgt_epu64_mask(length, broadcast(8)) == 0) {
      if constexpr (compress) storeCompressed(out, t.low, length);
    } else {
      storeTexts(out, t, length, plain, values + i, nodata);
    }
  }
  return writeCellsPlain(out, values + i, n - i, nodata);
}

}  // namespace

CELLPROD_TARGET_AVX512 char* writeCellsAvx512(char* out, const double* values, std::size_t n,
                                              const NodataSpelling& nodata) {
  return writeCells<false>(out, values, n, nodata);
}

CELLPROD_TARGET_AVX512_VBMI2 char* writeCellsAvx512Vbmi2(char* out, const double* values,
                                                         std::size_t n,
                                                         const NodataSpelling& nodata) {
  return writeCells<true>(out, values, n, nodata);
}
