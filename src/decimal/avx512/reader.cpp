// The batch number reader with AVX-512.
//
// The plain reader finds where a number starts only once the one before it has ended. Here the
// white space of 64 bytes at a time gives where every token of the block starts and ends, and
// each token is converted on its own, so the CPU works on several at once: the simple form by
// the plain reader's quick path (simpleNumber), up to 20 digits with a point by nearestQuotient
// (longNumber), any other number as the plain reader converts it (convertToken). A token that
// is no number ("1-2") ends the batch, and the plain reader takes it, as it takes the bytes near
// the end of those at hand.

#include <array>
#include <bit>  // bit_cast
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
  for (; block <= lastBlock; block += blockBytes) {
    const std::uint64_t next = whiteSpace(block + blockBytes);
    for (std::uint64_t starts = tokenStarts(space, spaceBefore); starts != 0;
         starts &= starts - 1) {
      const unsigned first = static_cast<unsigned>(_tzcnt_u64(starts));
      const std::uint64_t after = space >> first;
      // The token ends at the next white space, in this block or the next.
      const unsigned length = after != 0 ? static_cast<unsigned>(_tzcnt_u64(after))
                                         : 64 - first + static_cast<unsigned>(_tzcnt_u64(next));
      const char* token = block + first;
      const bool inBlocks = !(after == 0 && next == 0);
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
      if (++done == n) {
        s.pos = static_cast<std::size_t>(resume - buffer);
        return done;
      }
    }
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
