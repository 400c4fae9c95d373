// The batch number reader with AVX-512.
//
// The plain reader finds where a number starts only once the one before it has ended. Here the
// white space of 64 bytes at a time gives where every token of the block starts and ends, and
// each token is converted on its own, so the CPU works on several at once: the simple form by
// the plain reader's quick path (simpleNumber), up to 20 digits with a point by nearestQuotient
// (longNumber), any other number as the plain reader converts it (convertToken, from_chars
// first). A token that is no number ("1-2") ends the batch, and the plain reader takes it, as
// it takes the bytes near the end of those at hand. Where most numbers are long and of other
// forms, from_chars reads them one after the other, which needs no search for token ends.

// GCC 12 warns of uninitialized values inside its own AVX-512 headers, where the intrinsics
// build vectors from undefined ones that they then fill; the warnings say nothing of this code.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#include <immintrin.h>

#include <array>
#include <bit>  // bit_cast
#include <cstdint>

#include "decimal/conversion.h"
#include "decimal/kernels.h"
#include "decimal/powers_of_ten.h"
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

// The value of the token [p, last) where it is [+|-]digits.digits of at most 20 digits, by
// nearestQuotient: the long numbers of floats and doubles written with all their digits, as GDAL
// writes them ("%.18g" and "%.20g"). In stages: the token right-aligned in 32 bytes (those before
// it masked, which never fault), checked, the point taken out, the digits combined. False for any
// other token, and where nearestQuotient does not decide.
CELLPROD_TARGET_AVX512 inline bool longNumber(const char* p, const char* last, double& value) {
  const bool negative = *p == '-';
  const char* const digits = p + (negative | (*p == '+'));
  const auto length = static_cast<unsigned>(last - digits);
  if (length - 1 > 20) return false;
  const __mmask32 token = ~0u << (32 - length);
  const __m256i text = _mm256_maskz_loadu_epi8(
      token, reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(last) - 32));
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
  const unsigned f = 31 - static_cast<unsigned>(_tzcnt_u32(point));
  double v;
  if (!nearestQuotient(integer(_mm256_castsi256_si128(joined)),
                       integer(_mm256_extracti128_si256(joined, 1)), f, last[-1] == '5', v))
    return false;
  value = negative ? -v : v;
  return true;
}

// A token of more bytes than this cannot have the simple form: it is a long number.
constexpr unsigned longestSimpleToken = 1 + simpleLoadBytes;

// Whether the numbers read are mostly long, judged from four long ones on, and mostly of forms
// longNumber does not take: the block reader gains nothing on them, and from_chars reads them
// one after the other sooner (readLongTokens).
inline bool longRun(std::size_t done, std::size_t longNumbers, std::size_t longTaken) {
  return longNumbers >= 4 && 4 * longNumbers >= done && 2 * longTaken < longNumbers;
}

// Reads tokens that are each exactly one number into values[done..n), from the scanner's
// position on, while whole blocks lie well inside the bytes at hand; stops before the first
// token it does not take, and after the one that shows the numbers mostly long. Returns the
// numbers read in all.
CELLPROD_TARGET_AVX512 std::size_t readNumberTokens(TextScanner& s, double* values, std::size_t n,
                                                    std::size_t done, std::size_t& longNumbers,
                                                    std::size_t& longTaken) {
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
      // A token of another form (a long number, an exponent) is converted as the plain reader
      // would (up to 20 digits with a point here, else by convertToken, which tries from_chars
      // first), if it is exactly one number; one that is not, and one longer than the
      // two blocks, are the plain reader's.
      if (!inBlocks || !(simpleNumber(token, length, values[done]) ||
                         (longNumber(token, token + length, values[done]) && ++longTaken) ||
                         convertToken(token, token + length, values[done]))) {
        s.pos = static_cast<std::size_t>(token - buffer);
        return done;
      }
      resume = token + length;
      if (++done == n || (length > longestSimpleToken && longRun(done, ++longNumbers, longTaken))) {
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

// Long numbers one after the other, each by from_chars from where the white space before it
// ends, while each ends within the bytes at hand with white space after it; stops before the
// first number that does not (near the end of the bytes at hand, a number from_chars does not
// take whole, a token that is more than one number), which the plain reader takes.
std::size_t readLongTokens(TextScanner& s, double* values, std::size_t n, std::size_t done) {
  const char* const buffer = s.buffer.get();
  const char* const end = buffer + s.end;
  const char* p = buffer + s.pos;
  for (; done < n; ++done) {
    const char* token = p;
    while (isSpace(static_cast<unsigned char>(*token))) ++token;  // stops at the end mark
    const char* const after = fromCharsUntil(token, end, values[done]);
    if (after == nullptr || !isSpace(static_cast<unsigned char>(*after))) break;
    p = after;
  }
  s.pos = static_cast<std::size_t>(p - buffer);
  return done;
}

}  // namespace

std::size_t readNumbersAvx512(TextScanner& s, double* values, std::size_t n) {
  std::size_t done = 0, longNumbers = 0, longTaken = 0;
  while (done < n) {
    done = readNumberTokens(s, values, n, done, longNumbers, longTaken);
    if (done < n && longRun(done, longNumbers, longTaken))
      done = readLongTokens(s, values, n, done);
    // Whatever the block reader left: one number by the plain reader, which refills.
    if (done < n && !readNumber(s, values[done++])) return done - 1;
  }
  return done;
}
