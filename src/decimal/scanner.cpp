#include "decimal/scanner.h"

#include <algorithm>  // find_if, min
#include <cstring>    // memchr, memcpy, memmove
#include <new>        // nothrow

#include "decimal/conversion.h"
#include "platform/byte_order.h"
#include "platform/compiler.h"

namespace {

// A number shorter than this never needs the digit-by-digit path: the buffer is refilled so
// that at least this many bytes lie ahead before a number is scanned.
constexpr std::size_t lookahead = 4096;

// The end mark after the bytes at hand, and the bytes a number's scan may read after it.
void markEnd(TextScanner& s) { std::memset(s.buffer.get() + s.end, 0, 1 + numberOverread); }

// Adds the bytes read after the end of the bytes at hand to them, up to a Ctrl-Z that ends the
// input, and marks the new end. False when none were added: the input has ended. After a read
// that failed the input ends with the bytes it gave.
bool takeBytes(TextScanner& s, BytesRead read) {
  std::size_t n = read.count;
  if (s.endsAtCtrlZ) {
    const char* first = s.buffer.get() + s.end;
    if (const void* ctrlZ = std::memchr(first, '\x1a', n)) {
      n = static_cast<std::size_t>(static_cast<const char*>(ctrlZ) - first);
      s.atEof = s.metCtrlZ = true;
      read.failed = false;
    }
  }
  s.end += n;
  markEnd(s);
  if (read.failed) s.atEof = s.readFailed = true;
  if (n == 0) s.atEof = true;
  return n > 0;
}

// Where the bytes from the mark fill half the buffer (a row longer than that), the mark is
// dropped, so that there is always room for more, and the row is read to its end however long
// its bytes take.
void dropMarkWithoutRoom(TextScanner& s) {
  if (s.marked && s.end - s.mark > s.capacity / 2) s.marked = s.stopWhenDry = false;
}

// Moves the unread bytes to the front and reads more behind them. False when nothing came: the
// input ended, or, where the caller need not wait (mayWait false) or the reader stops when dry,
// a stream had sent nothing more.
bool refill(TextScanner& s, bool mayWait = true) {
  if (s.atEof || s.wentDry) return false;
  dropMarkWithoutRoom(s);
  // The unread bytes move to the front, behind the last byte read, which stays for
  // stoppedAtNoNumber(), and behind the mark.
  const std::size_t keepFrom = s.marked ? std::min(s.pos, s.mark + 1) : s.pos;
  if (keepFrom > 1) {
    const std::size_t used = keepFrom - 1;
    std::memmove(s.buffer.get(), s.buffer.get() + used, s.end - used);
    s.end -= used;
    s.dropped += used;
    s.pos -= used;
    if (s.marked) s.mark -= used;
    markEnd(s);  // also where no byte comes after the move
  }
  const BytesRead read =
      s.fill(s.source, s.buffer.get() + s.end, s.capacity - s.end, mayWait && !s.stopWhenDry);
  if (read.dry) {
    s.wentDry = mayWait;
    return false;
  }
  return takeBytes(s, read);
}

// The next byte, or -1 at the end of the input.
int peek(TextScanner& s) {
  if (s.pos == s.end && !refill(s)) return -1;
  return static_cast<unsigned char>(s.buffer[s.pos]);
}

bool skipSpace(TextScanner& s) {
  for (;;) {
    while (isSpace(static_cast<unsigned char>(s.buffer[s.pos]))) ++s.pos;  // stops at the end mark
    if (s.pos < s.end) return true;
    if (!refill(s)) return false;
  }
}

// Whether white space follows the token at the reading position within the bytes at hand.
bool tokenEndsAtHand(const TextScanner& s) {
  const char* const first = s.buffer.get() + s.pos;
  const char* const end = s.buffer.get() + s.end;
  return std::find_if(first, end, [](char c) { return isSpace(static_cast<unsigned char>(c)); }) !=
         end;
}

// Reads a number that may run past the bytes in the buffer, one byte at a time.
bool readDigitsOneByOne(TextScanner& s, double& value) {
  LongNumberText b;
  int c = peek(s);
  if (c == '+' || c == '-') {
    b.negative = c == '-';
    ++s.pos;
    c = peek(s);
  }
  bool inFraction = false;
  for (; isDigit(c) || (c == '.' && !inFraction); ++s.pos, c = peek(s)) {
    if (c == '.') inFraction = true;
    else b.addDigit(static_cast<char>(c), inFraction);
  }
  if (!b.anyDigit) return false;
  if (c == 'e' || c == 'E') {
    ++s.pos;
    c = peek(s);
    if (c == '+' || c == '-') {
      b.exponentNegative = c == '-';
      ++s.pos;
      c = peek(s);
    }
    for (; isDigit(c); ++s.pos, c = peek(s)) b.addExponentDigit(static_cast<char>(c));
  }
  if (c < 0 && s.readFailed) return false;  // the failing read took the rest of the number
  value = convertNumber(b.text());
  return true;
}

// readDigitsOneByOne; where the memory for its digits cannot be had, the number fails and ends
// the input (outOfMemory), so that the values before it stand.
CELLPROD_NOINLINE bool readLongNumber(TextScanner& s, double& value) {
  try {
    return readDigitsOneByOne(s, value);
  } catch (const std::bad_alloc&) {
    s.atEof = s.outOfMemory = true;
    return false;
  }
}

// Consumes the number that starts at p, within the bytes at hand. One that runs into their
// end before the input has ended may go on beyond them: it is read byte by byte instead.
CELLPROD_ALWAYS_INLINE bool consumeNumber(TextScanner& s, const char* p, double& value) {
  const char* const buffer = s.buffer.get();
  const NumberExtent n = scanNumber(p);
  if (n.end == buffer + s.end && (!s.atEof || s.readFailed)) {
    s.pos = static_cast<std::size_t>(p - buffer);
    return readLongNumber(s, value);
  }
  s.pos = static_cast<std::size_t>(n.end - buffer);
  if (!n.hasDigits) return false;
  value = n.value;
  return true;
}

// readNumber near the end of the bytes at hand: refills the buffer first, so that only a
// number longer than the lookahead ever needs the byte-by-byte reader. A token that ends within
// the bytes at hand needs no byte after the white space that ends it: from a stream whose writer
// has sent nothing more, it is taken as it is.
CELLPROD_NOINLINE bool readNumberNearEnd(TextScanner& s, double& value) {
  if (!skipSpace(s)) return false;
  const std::size_t wanted = std::min(lookahead, s.capacity / 2);
  while (s.end - s.pos < wanted && refill(s, !tokenEndsAtHand(s))) {}
  return consumeNumber(s, s.buffer.get() + s.pos, value);
}

// readNumber, for inlining into the loop of readNumbersPlain.
CELLPROD_ALWAYS_INLINE bool readOneNumber(TextScanner& s, double& value) {
  // Most numbers lie well inside the bytes at hand and are scanned with local pointers.
  const char* const buffer = s.buffer.get();
  const char* p = buffer + s.pos;
  while (isSpace(static_cast<unsigned char>(*p))) ++p;  // stops at the end mark
  const char* const end = buffer + s.end;
  if (static_cast<std::size_t>(end - p) < lookahead) {
    s.pos = static_cast<std::size_t>(p - buffer);
    return readNumberNearEnd(s, value);
  }
  return consumeNumber(s, p, value);
}

}  // namespace

bool initScanner(TextScanner& scanner, std::size_t capacity) {
  // One byte more than asked for, for the last byte read, which a refill keeps in front; then
  // the end mark and the bytes a number's scan may read after it, which markEnd initializes.
  scanner.capacity = capacity + 1;
  scanner.buffer.reset(new (std::nothrow) char[scanner.capacity + 1 + numberOverread]);
  if (scanner.buffer == nullptr) return false;
  scanner.pos = scanner.end = 0;
  markEnd(scanner);
  return true;
}

void attachFill(TextScanner& scanner, FillBytes fill, void* source, std::uint64_t offset) {
  scanner.fill = fill;
  scanner.source = source;
  scanner.dropped = offset;
  scanner.pos = scanner.end = 0;
  markEnd(scanner);
  scanner.atEof = scanner.metCtrlZ = scanner.readFailed = scanner.outOfMemory = false;
  scanner.stopWhenDry = scanner.wentDry = scanner.marked = false;
}

bool skipToTokenStart(TextScanner& s, std::uint64_t limit) {
  int before = peek(s);  // the byte before the cut
  if (before < 0) return false;
  ++s.pos;
  constexpr std::uint64_t high = 0x8080808080808080;
  std::uint64_t afterSpace = isSpace(before) ? 0x80 : 0;  // bit 7: the byte before pos is one
  for (;;) {
    // The piece's bytes only: a token the cut falls in, or white space, may run on far beyond.
    if (consumedBytes(s) >= limit || (s.pos == s.end && !refill(s))) return false;
    const std::size_t stop = s.pos + static_cast<std::size_t>(std::min<std::uint64_t>(
                                         s.end - s.pos, limit - consumedBytes(s)));
    const auto* const b = reinterpret_cast<const unsigned char*>(s.buffer.get());
    for (; s.pos + 8 <= stop; s.pos += 8) {
      const std::uint64_t spaces =
          spaceBytes(byte_order::loadLittleEndian<std::uint64_t>(b + s.pos));
      const std::uint64_t starts = ~spaces & high & ((spaces << 8) | afterSpace);
      if (starts != 0) {
        s.pos += firstMarkedByte(starts);
        return true;
      }
      afterSpace = spaces >> 56;
    }
    for (; s.pos < stop; ++s.pos) {
      const bool space = isSpace(b[s.pos]);
      if (afterSpace != 0 && !space) return true;
      afterSpace = space ? 0x80 : 0;
    }
  }
}

void preloadScanner(TextScanner& scanner, const char* bytes, std::size_t n) {
  n = std::min(n, scanner.capacity - scanner.end);
  if (n == 0) return;
  std::memcpy(scanner.buffer.get() + scanner.end, bytes, n);
  takeBytes(scanner, {n, false});
}

bool backToMark(TextScanner& s) {
  const bool dry = s.wentDry && s.marked;
  if (dry) s.pos = s.mark;
  s.marked = s.wentDry = false;
  return dry;
}

bool readToken(TextScanner& s) {
  if (!skipSpace(s)) return false;
  for (;;) {
    while (s.pos < s.end && !isSpace(static_cast<unsigned char>(s.buffer[s.pos]))) ++s.pos;
    if (s.pos < s.end || !refill(s)) return true;
  }
}

bool readNumber(TextScanner& s, double& value) { return readOneNumber(s, value); }

bool stoppedAtNoNumber(const TextScanner& s) {
  if (s.readFailed || s.outOfMemory) return true;
  // A read that met the end has skipped the white space before it and stands at the end; one
  // that failed stands at the character that did not fit, or after a sign or point it consumed.
  return s.pos < s.end || (s.pos > 0 && !isSpace(static_cast<unsigned char>(s.buffer[s.pos - 1])));
}

std::size_t readNumbersPlain(TextScanner& s, double* values, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (!readOneNumber(s, values[i])) return i;
  }
  return n;
}
