// The batch number reader with AVX-512.
//
// The plain reader finds where a number starts only once the one before it has ended. Here the
// white space of 64 bytes at a time gives where every token of the block starts and ends, and
// each token is converted on its own, so the CPU works on several at once: the simple form by
// the plain reader's quick path, four tokens in one vector where four of that form follow each
// other (fourSimpleNumbers), else one (simpleNumber); up to 20 digits with a point by
// nearestQuotient (longNumber), any other number as the plain reader converts it (convertToken). A
// token that is no number ("1-2") ends the batch, and the plain reader takes it, as it takes the
// bytes near the end of those at hand.

#include <algorithm>  // max
#include <array>
#include <bit>  // bit_cast, popcount
#include <cstdint>

#include "decimal/conversion.h"
#include "decimal/kernels.h"
#include "decimal/powers_of_ten.h"
#include "platform/avx512.h"
#include "platform/compiler.h"

namespace {

// The reader works on blocks of 64 bytes. For a block it looks at the block's white space and
// the next block's, in which the block's last token must end (a longer one is the plain
// reader's); a token's conversion reads 16 bytes after its sign, which starts in the block, so
// that stays within the two blocks too. A block is taken only when both lie in the bytes at
// hand, whose end mark the tokens then never reach.
constexpr std::size_t blockBytes = 64;
constexpr std::size_t simpleLoadBytes = 16;  // read after a token's sign
constexpr std::size_t bytesFromBlock = 2 * blockBytes;
static_assert((blockBytes - 1) + 1 + simpleLoadBytes <= bytesFromBlock);

// The white space of the C locale (' ' and '\t' to '\r') among 64 bytes, one bit a byte.
CELLPROD_TARGET_AVX512 inline std::uint64_t whiteSpace(const char* p) {
  const __m512i v = _mm512_loadu_si512(p);
  return _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8(' ')) |
         _mm512_cmple_epu8_mask(_mm512_sub_epi8(v, _mm512_set1_epi8('\t')),
                                _mm512_set1_epi8('\r' - '\t'));
}

// The bytes of a block where a token starts: not white space, after white space (the first
// byte: after `spaceBefore`, the last bit of the block before).
inline std::uint64_t tokenStarts(std::uint64_t space, std::uint64_t spaceBefore) {
  return ~space & ((space << 1) | spaceBefore);
}

// Where the digits and the point of a simple token are, within the m bytes after its sign: false
// unless they are digits with at most one point, at least one digit.
CELLPROD_TARGET_AVX512 inline bool simpleForm(__m128i text, unsigned m, unsigned& point) {
  const unsigned inToken = (1u << m) - 1;
  const unsigned digits =
      _mm_cmple_epu8_mask(_mm_sub_epi8(text, _mm_set1_epi8('0')), _mm_set1_epi8(9)) & inToken;
  point = _mm_cmpeq_epi8_mask(text, _mm_set1_epi8('.')) & inToken;
  return (digits | point) == inToken && (point & (point - 1)) == 0 && digits != 0;
}

// The digit values of the m characters of a simple token without its point, the last in byte
// 15 and zeros in front of the first: the digits before the point move up one place, over it,
// with a zero coming in at the front, then all move to the end.
CELLPROD_TARGET_AVX512 inline __m128i digitsAtTheEnd(__m128i text, unsigned m, unsigned point) {
  const __m128i x = _mm_sub_epi8(text, _mm_set1_epi8('0'));
  const unsigned beforePoint = point != 0 ? (point << 1) - 1 : 0;
  const __m128i joined = _mm_mask_blend_epi8(beforePoint, x, _mm_bslli_si128(x, 1));
  const __m128i toEnd = _mm_add_epi8(
      _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15),
      _mm_set1_epi8(static_cast<char>(m - 16)));  // below 0 (high bit set) gives a zero
  return _mm_shuffle_epi8(joined, toEnd);
}

// Sixteen digit values to their integer, in the low 64 bits: pairs, fours and eights by
// multiply-adds, then the two eights, all in the vector.
CELLPROD_TARGET_AVX512 inline __m128i integerOf16Digits(__m128i d) {
  const __m128i pairs = _mm_maddubs_epi16(d, _mm_set1_epi16(0x010A));
  const __m128i fours = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00010064));
  const __m128i eights = _mm_madd_epi16(_mm_packus_epi32(fours, fours), _mm_set1_epi32(0x00012710));
  return _mm_add_epi64(_mm_mul_epu32(eights, _mm_set1_epi64x(100000000)),
                       _mm_srli_epi64(eights, 32));
}

// The value of the token of `length` bytes at p, if it has the simple form; at least
// simpleLoadBytes bytes after its sign must be readable. False for every other token.
CELLPROD_TARGET_AVX512 inline bool simpleNumber(const char* p, unsigned length, double& value) {
  const bool negative = *p == '-';
  const unsigned sign = negative | (*p == '+');
  const unsigned m = length - sign;               // digits and point
  if (m - 1 > simpleLoadBytes - 1) return false;  // empty, or longer than 16
  const __m128i text = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + sign));
  unsigned point;
  if (!simpleForm(text, m, point)) return false;
  const __m128d mantissa = _mm_cvtepu64_pd(integerOf16Digits(digitsAtTheEnd(text, m, point)));
  // With a point there are at most 15 digits, which a double holds exactly; without one the
  // division is by 1, and the conversion rounds once, as the plain reader's does.
  const unsigned fractionDigits = point != 0 ? m - 1 - static_cast<unsigned>(_tzcnt_u32(point)) : 0;
  const double magnitude =
      _mm_cvtsd_f64(_mm_div_sd(mantissa, _mm_set_sd(powerOfTen(static_cast<int>(fractionDigits)))));
  value = negative ? -magnitude : magnitude;
  return true;
}

// simpleNumber of four tokens at once, each of at most 16 bytes, in a 128-bit lane with its
// sign, which counts as a leading zero: their values go to out[0..4) where all four have the
// simple form; false, with nothing written, where one has not. The masks of the lanes' bytes are
// 64-bit words of four 16-bit groups.
CELLPROD_TARGET_AVX512 inline bool fourSimpleNumbers(const char* const p[4],
                                                     const unsigned length[4], double* out) {
  const auto load = [](const char* q) CELLPROD_TARGET_AVX512 {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
  };
  const __m512i text = _mm512_inserti32x4(
      _mm512_inserti32x4(_mm512_inserti32x4(_mm512_castsi128_si512(load(p[0])), load(p[1]), 1),
                         load(p[2]), 2),
      load(p[3]), 3);
  constexpr std::uint64_t laneStarts = 0x0001000100010001, notLaneStarts = ~laneStarts;
  const __m512i iota =
      _mm512_broadcast_i32x4(_mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
  const __m512i lengths = _mm512_shuffle_epi8(
      _mm512_set1_epi32(
          static_cast<int>(length[0] | length[1] << 8 | length[2] << 16 | length[3] << 24)),
      _mm512_set_epi64(0x0303030303030303, 0x0303030303030303, 0x0202020202020202,
                       0x0202020202020202, 0x0101010101010101, 0x0101010101010101, 0, 0));
  const std::uint64_t token = _mm512_cmplt_epu8_mask(iota, lengths);
  const __m512i x = _mm512_sub_epi8(text, _mm512_set1_epi8('0'));
  const std::uint64_t digit = _mm512_cmple_epu8_mask(x, _mm512_set1_epi8(9)) & token;
  const std::uint64_t point = _mm512_cmpeq_epi8_mask(text, _mm512_set1_epi8('.')) & token;
  const std::uint64_t minus = _mm512_cmpeq_epi8_mask(text, _mm512_set1_epi8('-')) & laneStarts;
  const std::uint64_t plus = _mm512_cmpeq_epi8_mask(text, _mm512_set1_epi8('+')) & laneStarts;
  if ((digit | point | minus | plus) != token) return false;
  // The point and every byte after it in its lane; a second point among those is no number.
  std::uint64_t fromPoint = point;
  fromPoint |= (fromPoint << 1) & 0xFFFEFFFEFFFEFFFE;
  fromPoint |= (fromPoint << 2) & 0xFFFCFFFCFFFCFFFC;
  fromPoint |= (fromPoint << 4) & 0xFFF0FFF0FFF0FFF0;
  fromPoint |= (fromPoint << 8) & 0xFF00FF00FF00FF00;
  const std::uint64_t afterPoint = (fromPoint << 1) & notLaneStarts;
  if ((point & afterPoint) != 0) return false;
  const std::uint64_t hasPoint = ((fromPoint >> 15) & laneStarts) * 0xFFFF;
  // A lane without a digit ("-", ".") is no number.
  const __mmask8 digitWords =
      _mm512_test_epi64_mask(_mm512_movm_epi8(digit), _mm512_movm_epi8(digit));
  if (((digitWords | digitWords >> 1) & 0x55) != 0x55) return false;
  // The digits before the point move up one place, over it; then all move to the end.
  const __m512i d = _mm512_maskz_mov_epi8(digit, x);
  const __m512i joined =
      _mm512_mask_blend_epi8(~afterPoint & hasPoint, d, _mm512_bslli_epi128(d, 1));
  const __m512i aligned = _mm512_shuffle_epi8(
      joined, _mm512_add_epi8(iota, _mm512_sub_epi8(lengths, _mm512_set1_epi8(16))));
  const __m512i pairs = _mm512_maddubs_epi16(aligned, _mm512_set1_epi16(0x010A));
  const __m512i fours = _mm512_madd_epi16(pairs, _mm512_set1_epi32(0x00010064));
  const __m512i eights =
      _mm512_madd_epi16(_mm512_packus_epi32(fours, fours), _mm512_set1_epi32(0x00012710));
  const __m512i integers = _mm512_add_epi64(_mm512_mul_epu32(eights, _mm512_set1_epi64(100000000)),
                                            _mm512_srli_epi64(eights, 32));
  // The digits after the point, counted in each lane's two halves and added: in both halves.
  const __m512i halves = _mm512_sad_epu8(
      _mm512_maskz_mov_epi8(digit & afterPoint, _mm512_set1_epi8(1)), _mm512_setzero_si512());
  const __m512i fractionDigits =
      _mm512_add_epi64(halves, _mm512_shuffle_epi32(halves, _MM_PERM_BADC));
  const __m512d divisors =
      _mm512_permutex2var_pd(_mm512_loadu_pd(powersOfTen - smallestPowerOfTen), fractionDigits,
                             _mm512_loadu_pd(powersOfTen - smallestPowerOfTen + 8));
  __m512d v = _mm512_div_pd(_mm512_cvtepu64_pd(integers), divisors);
  v = _mm512_mask_xor_pd(v, static_cast<__mmask8>(_pdep_u64(_pext_u64(minus, laneStarts), 0x55)), v,
                         _mm512_set1_pd(-0.0));
  _mm256_storeu_pd(out, _mm512_castpd512_pd256(
                            _mm512_permutexvar_pd(_mm512_set_epi64(7, 7, 7, 7, 6, 4, 2, 0), v)));
  return true;
}

// The bytes before `end` that `bytes` selects, in 32 bytes that end with them; the others, which
// may lie before the buffer, are not read and are zero.
CELLPROD_TARGET_AVX512 inline __m256i rightAligned(const char* end, __mmask32 bytes) {
  return _mm256_maskz_loadu_epi8(
      bytes, reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(end) - 32));
}

// The value of the token [p, last) where it is [+|-]digits.digits of at most 20 digits after
// its leading zeros, in 32 bytes after its sign, with or without an exponent of one to three
// digits, by nearestQuotient: the long numbers of floats
// and doubles written with all their digits, as GDAL writes them ("%.18g", "%.20g") and numpy
// ("%.18e"). In stages: the token right-aligned in 32 bytes (those before it masked, which never
// fault); where it has an e, the exponent read and the digits loaded again, right-aligned; the
// digits checked, the point taken out, the digits combined. False for any other token, and
// where nearestQuotient does not decide.
CELLPROD_TARGET_AVX512 inline bool longNumber(const char* p, const char* last, double& value) {
  const bool negative = *p == '-';
  const char* const digits = p + (negative | (*p == '+'));
  auto length = static_cast<unsigned>(last - digits);
  if (length - 1 > 31) return false;
  __mmask32 token = ~0u << (32 - length);
  __m256i text = rightAligned(last, token);
  const char* end = last;  // of the digits and the point
  int exponent = 0;
  if (_mm256_mask_cmpeq_epi8_mask(token, _mm256_or_si256(text, _mm256_set1_epi8(0x20)),
                                  _mm256_set1_epi8('e'))) {
    // An e: found again in the bytes, which is sooner than from the vector; the exponent after
    // it, and the digits before it loaded again.
    end = last - 1;
    while (end > digits && (*end | 0x20) != 'e') --end;
    const char* x = end + 1;
    const bool exponentNegative = *x == '-';
    x += exponentNegative || *x == '+';
    if (end == digits || (*end | 0x20) != 'e' || x >= last || last - x > 3) return false;
    for (; x < last; ++x) {
      if (!isDigit(*x)) return false;
      exponent = exponent * 10 + (*x - '0');
    }
    if (exponentNegative) exponent = -exponent;
    length = static_cast<unsigned>(end - digits);
    token = ~0u << (32 - length);
    text = rightAligned(end, token);
  }
  const __m256i d = _mm256_sub_epi8(text, _mm256_set1_epi8('0'));
  const __mmask32 digit = _mm256_mask_cmple_epu8_mask(token, d, _mm256_set1_epi8(9));
  const __mmask32 point = _mm256_mask_cmpeq_epi8_mask(token, text, _mm256_set1_epi8('.'));
  if ((digit | point) != token || point == 0 || (point & (point - 1)) != 0) return false;
  // The digits before the point move up one place, over it.
  const __m256i x = _mm256_maskz_mov_epi8(digit, d);
  const __m256i up = _mm256_alignr_epi8(x, _mm256_permute2x128_si256(x, x, 0x08), 15);
  const __m256i joined = _mm256_mask_blend_epi8((point << 1) - 1, x, up);
  const auto integer = [](__m128i sixteen) CELLPROD_TARGET_AVX512 {
    return static_cast<std::uint64_t>(_mm_cvtsi128_si64(integerOf16Digits(sixteen)));
  };
  // The value is m / 10^f, f the digits after the point less the exponent.
  const int f = 31 - static_cast<int>(_tzcnt_u32(point)) - exponent;
  // The digits but the last 16 give a, below 10^4 where at most 20 digits follow leading zeros.
  const std::uint64_t a = integer(_mm256_castsi256_si128(joined));
  double v;
  if (f < 0 || f > largestQuotientPower || a >= 10'000 ||
      !nearestQuotient(a, integer(_mm256_extracti128_si256(joined, 1)), static_cast<unsigned>(f),
                       end[-1] == '5', v))
    return false;
  value = negative ? -v : v;
  return true;
}

// Reads tokens that are each exactly one number into values[done..n), from the scanner's
// position on, while whole blocks lie well inside the bytes at hand; stops before the first
// token it does not take. Returns the numbers read in all.
CELLPROD_TARGET_AVX512 std::size_t readNumberTokens(TextScanner& s, double* values, std::size_t n,
                                                    std::size_t done) {
  const char* const buffer = s.buffer.get();
  const char* block = buffer + s.pos;
  if (s.end - s.pos < bytesFromBlock) return done;
  const char* const lastBlock = buffer + s.end - bytesFromBlock;
  const char* resume = block;     // after the last number read
  std::uint64_t spaceBefore = 1;  // the reading position starts a token whatever lies before
  std::uint64_t space = whiteSpace(block);
  unsigned singles = 0;  // tokens to take one by one before four at once are tried again
  for (; block <= lastBlock; block += blockBytes) {
    const std::uint64_t next = whiteSpace(block + blockBytes);
    // The length of the token that starts at byte `at` of the block: it ends at the next white
    // space, in this block or the next (beyond 64 bytes where in neither).
    const auto lengthAt = [&](unsigned at) CELLPROD_TARGET_AVX512 {
      const std::uint64_t after = space >> at;
      return after != 0 ? static_cast<unsigned>(_tzcnt_u64(after))
                        : 64 - at + static_cast<unsigned>(_tzcnt_u64(next));
    };
    std::uint64_t starts = tokenStarts(space, spaceBefore);
    while (starts != 0) {
      // Four tokens at once where four start in the block; after four that were not all
      // simple, the next eight one by one.
      if (singles == 0 && n - done >= 4 && std::popcount(starts) >= 4) {
        const char* four[4];
        unsigned lengths[4], longest = 0;
        std::uint64_t rest = starts;
        for (unsigned i = 0; i < 4 && longest <= 16; ++i, rest &= rest - 1) {
          const auto at = static_cast<unsigned>(_tzcnt_u64(rest));
          four[i] = block + at;
          lengths[i] = lengthAt(at);
          longest = std::max(longest, lengths[i]);
        }
        if (longest <= 16 && fourSimpleNumbers(four, lengths, values + done)) {
          done += 4;
          resume = four[3] + lengths[3];
          if (done == n) break;
          starts = rest;
          continue;
        }
        singles = 8;
      }
      singles -= singles != 0;
      const unsigned first = static_cast<unsigned>(_tzcnt_u64(starts));
      const unsigned length = lengthAt(first);
      const char* token = block + first;
      const bool inBlocks = first + length < bytesFromBlock;
      // A token of another form is converted by longNumber, else as the plain reader would (by
      // convertToken), if it is exactly one number; one that is not, and one longer than the two
      // blocks, are the plain reader's. (The other forms marked unlikely keep the simple form's
      // path short.)
      if (!(inBlocks && simpleNumber(token, length, values[done]))) [[unlikely]] {
        if (!inBlocks || !(longNumber(token, token + length, values[done]) ||
                           convertToken(token, token + length, values[done]))) {
          s.pos = static_cast<std::size_t>(token - buffer);
          return done;
        }
      }
      resume = token + length;
      if (++done == n) break;
      starts &= starts - 1;
    }
    if (done == n) break;
    spaceBefore = space >> 63;
    space = next;
  }
  s.pos = static_cast<std::size_t>(resume - buffer);
  return done;
}

}  // namespace

std::size_t readNumbersAvx512(TextScanner& s, double* values, std::size_t n) {
  std::size_t done = 0;
  while (done < n) {
    done = readNumberTokens(s, values, n, done);
    // Whatever the block reader left: one number by the plain reader, which refills.
    if (done < n && !readNumber(s, values[done++])) return done - 1;
  }
  return done;
}
