// The batch number reader with AVX-512.
//
// The plain reader finds where a number starts only once the one before it has ended, so each
// number waits for the last. Here the white space of 64 bytes at a time is found with one
// compare, which gives where every token of the block starts and ends; each token is then
// checked and converted on its own, so the CPU works on several at once. Only tokens of the
// simple form [+|-]digits[.digits], of at most 16 digits and point together, are converted
// here, by the same exact rule as the plain reader's quick path (an integer that a double
// holds exactly, divided by an exact power of ten), in stages: the form is checked, the point
// taken out, the digits put at the end of a 16-byte vector and combined into an integer. A
// token of another form (an exponent, a long number) is converted by the plain reader's own
// conversion if it is exactly one number; one that is not (a character that is no number,
// "1-2") ends the batch there, and the plain reader takes it, as it takes the bytes near the
// end of those at hand. Where most numbers of a batch are long, it takes the rest of the batch.
//
// On a CPU with VBMI2 (CpuFeatures::avx512Bytes), a batch that turns out mostly long goes on
// with long numbers read in batches of their own, in two passes: the first finds each one's
// significant digits, compresses them together and makes the first 19 an integer, with the
// place of the point; the second converts them (Eisel-Lemire, fromLeadingDigits), one after
// the other without waiting on the gathering, and hands the rare number it cannot decide to
// the exact conversion. Long numbers that end in an exponent, as printf's %e spells them,
// are converted at once instead, and where those are most of the batch the plain reader takes
// the rest: its scan reads them sooner than the gathering does.

// GCC 12 warns of uninitialized values inside its own AVX-512 headers, where the intrinsics
// build vectors from undefined ones that they then fill; the warnings say nothing of this code.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#include <immintrin.h>

#include <cstdint>
#include <optional>

#include "decimal/conversion.h"
#include "decimal/kernels.h"
#include "decimal/powers_of_ten.h"
#include "platform/byte_order.h"
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
// A token of more bytes than this cannot have the simple form: it is a long number.
constexpr unsigned longestSimpleToken = 1 + simpleLoadBytes;

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

// Where the characters of a simple token are: digits and its point, each a bit, within the m
// bytes after its sign. False unless they are digits with at most one point, at least one
// digit, and nothing else.
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

// Sixteen digit values to their integer: pairs, fours and eights by multiply-adds, then the
// two eights.
CELLPROD_TARGET_AVX512 inline std::uint64_t integerOf16Digits(__m128i d) {
  const __m128i pairs = _mm_maddubs_epi16(d, _mm_set1_epi16(0x010A));
  const __m128i fours = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00010064));
  const __m128i eights = _mm_madd_epi16(_mm_packus_epi32(fours, fours), _mm_set1_epi32(0x00012710));
  return static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm_cvtsi128_si32(eights))) *
             100000000u +
         static_cast<std::uint32_t>(_mm_extract_epi32(eights, 1));
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
  const std::uint64_t mantissa = integerOf16Digits(digitsAtTheEnd(text, m, point));
  // With a point there are at most 15 digits, which a double holds exactly; without one the
  // division is by 1, and the conversion rounds once, as the plain reader's does.
  const unsigned fractionDigits = point != 0 ? m - 1 - static_cast<unsigned>(_tzcnt_u32(point)) : 0;
  const double magnitude =
      static_cast<double>(mantissa) / powerOfTen(static_cast<int>(fractionDigits));
  value = negative ? -magnitude : magnitude;
  return true;
}

// A long token met by the block reader and read in the next batch of long tokens: where it is,
// and which value it gives.
struct LongToken {
  const char* text;
  unsigned length;
  std::size_t index;
};

// The long tokens of a batch, and the longest: a sign and 32 bytes, one vector's worth.
constexpr std::size_t longTokensInBatch = 256;
constexpr unsigned longestGathered = 1 + 32;

// How far a batch has come: the numbers read, how many of them were longer than the simple
// form, and the long tokens not yet read.
struct Batch {
  std::size_t done = 0;
  std::size_t longNumbers = 0;
  std::size_t pending = 0;
  LongToken longTokens[longTokensInBatch];
};

// Whether a batch's numbers are mostly long, judged from four long ones on: those the block
// reader hands to the plain reader's conversion one by one, on which it gains nothing. The rest
// of the batch then goes to a reader that does better on them (readNumbersWithBlocks).
inline bool mostlyLong(std::size_t done, std::size_t longNumbers) {
  return longNumbers >= 4 && 4 * longNumbers >= done;
}

// What the gathering found of a long token: the integer w of its first maxFastDigits
// significant digits and the power of ten q of the last, whether a non-zero digit follows them,
// and its sign. Not `gathered` where the token has another form than [+|-]digits[.digits], or
// is longer than a sign and one vector: convertToken decides those (an exponent among them:
// such tokens are never queued, exponentAtEnd).
struct GatheredDigits {
  std::uint64_t w = 0;
  std::int64_t q = 0;
  bool negative = false;
  bool truncated = false;
  bool gathered = false;
};

// The lowest n bits (n at most 32).
constexpr std::uint32_t lowBits(unsigned n) {
  return static_cast<std::uint32_t>((std::uint64_t{1} << n) - 1);
}

// Up to 24 digit values at the end of 32 bytes (zeros before them) to their integer: pairs and
// fours by multiply-adds, then eights, each lane packing its own; the integer of the last three
// eights. The first of those holds at most three digits where the caller keeps to 19.
CELLPROD_TARGET_AVX512_BYTES inline std::uint64_t integerOfLastDigits(__m256i d) {
  const __m256i pairs = _mm256_maddubs_epi16(d, _mm256_set1_epi16(0x010A));
  const __m256i fours = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00010064));
  const __m256i eights =
      _mm256_madd_epi16(_mm256_packus_epi32(fours, fours), _mm256_set1_epi32(0x00012710));
  // Lane 0 holds eights 0 and 1 in its first two words, lane 1 eights 2 and 3.
  const __m128i low = _mm256_castsi256_si128(eights), high = _mm256_extracti128_si256(eights, 1);
  const std::uint64_t e1 = static_cast<std::uint32_t>(_mm_extract_epi32(low, 1));
  const std::uint64_t e2 = static_cast<std::uint32_t>(_mm_cvtsi128_si32(high));
  const std::uint64_t e3 = static_cast<std::uint32_t>(_mm_extract_epi32(high, 1));
  return (e1 * 100'000'000 + e2) * 100'000'000 + e3;
}

// The digits of the long token of `length` bytes at p, whose 32 bytes after its sign are
// readable: a sign, then digits with at most one point, and at least one digit.
CELLPROD_TARGET_AVX512_BYTES inline GatheredDigits gatherDigits(const char* p, unsigned length) {
  GatheredDigits g;
  g.negative = *p == '-';
  const unsigned sign = g.negative | (*p == '+');
  const unsigned m = length - sign;
  if (m > 32) return g;
  const __m256i text = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + sign));
  const __m256i values = _mm256_sub_epi8(text, _mm256_set1_epi8('0'));
  const std::uint32_t inToken = lowBits(m);
  const std::uint32_t digits = _mm256_cmple_epu8_mask(values, _mm256_set1_epi8(9)) & inToken;
  const std::uint32_t point = _mm256_cmpeq_epi8_mask(text, _mm256_set1_epi8('.')) & inToken;
  if ((digits | point) != inToken || (point & (point - 1)) != 0 || digits == 0) return g;
  // The significant digits start at the first that is not a zero; without one, the value is 0.
  const std::uint32_t nonZero = _mm256_mask_cmpneq_epi8_mask(digits, text, _mm256_set1_epi8('0'));
  const std::uint32_t significant =
      nonZero != 0 ? digits & ~lowBits(static_cast<unsigned>(_tzcnt_u32(nonZero))) : 0;
  const unsigned count = static_cast<unsigned>(_mm_popcnt_u32(significant));
  const unsigned taken = count < maxFastDigits ? count : maxFastDigits;
  const __m256i packed = _mm256_maskz_compress_epi8(significant, values);
  // The taken digits moved to the end of the vector, the last to byte 31.
  const __m256i toEnd =
      _mm256_add_epi8(_mm256_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17,
                                       18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31),
                      _mm256_set1_epi8(static_cast<char>(taken - 32)));
  g.w = integerOfLastDigits(_mm256_maskz_permutexvar_epi8(~lowBits(32 - taken), toEnd, packed));
  g.truncated = count > taken &&
                _mm256_mask_test_epi8_mask(lowBits(count) & ~lowBits(taken), packed, packed) != 0;
  const std::uint32_t fraction =
      point != 0 ? digits & ~lowBits(static_cast<unsigned>(_tzcnt_u32(point))) : 0;
  g.q = static_cast<std::int64_t>(count - taken) - _mm_popcnt_u32(fraction);
  g.gathered = true;
  return g;
}

// Whether one of the last eight bytes before `end` (of a token longer than the simple form) is
// an exponent marker, 'e' or 'E', as in the spellings of printf's %e: a byte equal to 'e' once
// 0x20 is set in every byte.
inline bool exponentAtEnd(const char* end) {
  const std::uint64_t x = (byte_order::loadLittleEndian<std::uint64_t>(
                               reinterpret_cast<const unsigned char*>(end - 8)) |
                           0x2020202020202020u) ^
                          0x6565656565656565u;
  return ((x - 0x0101010101010101u) & ~x & 0x8080808080808080u) != 0;
}

// Reads the long tokens of the batch not yet read: all gathered first, then all converted. One
// that is not exactly one number ends the batch before it, as the plain reader would have met
// it there; false then.
CELLPROD_TARGET_AVX512_BYTES CELLPROD_NOINLINE bool readLongTokens(TextScanner& s, double* values,
                                                                   Batch& batch) {
  GatheredDigits gathered[longTokensInBatch];
  const std::size_t count = batch.pending;
  batch.pending = 0;
  for (std::size_t i = 0; i < count; ++i)
    gathered[i] = gatherDigits(batch.longTokens[i].text, batch.longTokens[i].length);
  for (std::size_t i = 0; i < count; ++i) {
    const GatheredDigits& g = gathered[i];
    const LongToken& t = batch.longTokens[i];
    const std::optional<double> value =
        g.gathered ? fromLeadingDigits(g.negative, g.w, g.q, g.truncated) : std::nullopt;
    if (value) {
      values[t.index] = *value;
    } else if (!convertToken(t.text, t.text + t.length, values[t.index])) {
      batch.done = t.index;
      s.pos = static_cast<std::size_t>(t.text - s.buffer.get());
      return false;
    }
  }
  return true;
}

// Reads tokens that are each exactly one number into values[batch.done..n), from the scanner's
// position on, while whole blocks lie well inside the bytes at hand; stops before the first
// token it does not take, and after the one that shows the batch mostly long. Where long
// tokens are `gathered`, they wait in the batch (Batch::longTokens), to be read after this
// returns; true where it stopped because those filled the batch.
template <bool gathered>
CELLPROD_TARGET_AVX512 bool readNumberTokens(TextScanner& s, double* values, std::size_t n,
                                             Batch& batch) {
  const char* const buffer = s.buffer.get();
  const char* block = buffer + s.pos;
  if (s.end - s.pos < bytesFromBlock) return false;
  const char* const lastBlock = buffer + s.end - bytesFromBlock;
  const char* resume = block;  // after the last number read
  std::size_t done = batch.done;
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
      bool taken = !(after == 0 && next == 0) && simpleNumber(token, length, values[done]);
      bool pended = false;
      if (gathered && !taken && !(after == 0 && next == 0) && length > longestSimpleToken &&
          length <= longestGathered && !exponentAtEnd(token + length)) {
        // A long number without an exponent waits for the gathering.
        batch.longTokens[batch.pending++] = {token, length, done};
        taken = pended = true;
      }
      // A token of another form is converted as the plain reader would, if it is exactly one
      // number (long ones that end in an exponent among them, which the plain conversion reads
      // sooner than the gathering does); one that is not, and one longer than the two blocks,
      // are the plain reader's.
      if (!taken &&
          ((after == 0 && next == 0) || !convertToken(token, token + length, values[done]))) {
        s.pos = static_cast<std::size_t>(token - buffer);
        batch.done = done;
        return false;
      }
      resume = token + length;
      ++done;
      // The long tokens met fill the batch: they are read before the next.
      if (gathered && batch.pending == longTokensInBatch) {
        s.pos = static_cast<std::size_t>(resume - buffer);
        batch.done = done;
        return true;
      }
      if (done == n ||
          (length > longestSimpleToken && !pended && mostlyLong(done, ++batch.longNumbers))) {
        s.pos = static_cast<std::size_t>(resume - buffer);
        batch.done = done;
        return false;
      }
    }
    spaceBefore = space >> 63;
    space = next;
  }
  s.pos = static_cast<std::size_t>(resume - buffer);
  batch.done = done;
  return false;
}

// The batch reader. Where its numbers turn out mostly long, it leaves the rest of the batch to
// `whenLong`: the plain reader, or, where the CPU has VBMI2, this reader with long numbers
// gathered, which for short numbers is a little slower than without.
template <bool gathered>
std::size_t readNumbersWithBlocks(TextScanner& s, double* values, std::size_t n,
                                  NumberReader whenLong) {
  Batch batch;
  while (batch.done < n) {
    bool full = readNumberTokens<gathered>(s, values, n, batch);
    // The long tokens met: one that is not a number moves the end of the batch back to it.
    if (gathered && batch.pending > 0 && !readLongTokens(s, values, batch)) full = false;
    if (batch.done == n) break;
    if (full) continue;
    if (mostlyLong(batch.done, batch.longNumbers))
      return batch.done + whenLong(s, values + batch.done, n - batch.done);
    // Whatever the block reader left: one number by the plain reader, which refills.
    if (!readNumber(s, values[batch.done])) return batch.done;
    ++batch.done;
  }
  return batch.done;
}

std::size_t readNumbersGathered(TextScanner& s, double* values, std::size_t n) {
  return readNumbersWithBlocks<true>(s, values, n, readNumbersPlain);
}

}  // namespace

std::size_t readNumbersAvx512(TextScanner& s, double* values, std::size_t n) {
  return readNumbersWithBlocks<false>(s, values, n, readNumbersPlain);
}

std::size_t readNumbersAvx512Bytes(TextScanner& s, double* values, std::size_t n) {
  return readNumbersWithBlocks<false>(s, values, n, readNumbersGathered);
}
