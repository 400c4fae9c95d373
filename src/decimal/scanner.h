// A buffered reader of white-space separated tokens and decimal numbers, by the grammar of
// conversion.h. Without any digit a number read fails, and the character that did not fit
// stays in the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "bytes/byte_sources.h"

struct TextScanner {
  FillBytes fill = nullptr;  // where the bytes come from (byte_sources.h), with its record
  void* source = nullptr;
  std::unique_ptr<char[]> buffer;  // capacity bytes and an end mark '\0' after the last one read
  std::size_t capacity = 0;
  std::size_t pos = 0;  // next unread byte
  std::size_t end = 0;  // end of the bytes read so far
  bool atEof = false;   // the source has delivered its last byte (or failed)
  // The input ends at its first Ctrl-Z byte, as a file read in text mode does on Windows; for
  // a stream that could not be reopened in text mode there, and for a piece of a file read by
  // position.
  bool endsAtCtrlZ = false;
  bool metCtrlZ = false;      // the input ended at a Ctrl-Z
  bool readFailed = false;    // the input ended at a read that failed, not at its end
  bool outOfMemory = false;   // a number could not be read for want of memory, and ended it
  std::uint64_t dropped = 0;  // bytes taken before buffer[0], which were used and moved out
  // Reading back to a mark (markRow): where stopWhenDry is set and a stream has sent nothing
  // more, a read that needs more bytes does not wait: the scanner goes dry, as if the input
  // ended, and goes back to the mark, whose bytes a refill keeps (backToMark).
  bool stopWhenDry = false;
  bool wentDry = false;
  bool marked = false;
  std::size_t mark = 0;
};

constexpr std::size_t defaultScanBuffer = std::size_t{1} << 20;

// Allocates the scanner's buffer; a small capacity is for tests of buffer boundaries. False when
// it cannot be had.
bool initScanner(TextScanner& scanner, std::size_t capacity = defaultScanBuffer);

// Makes the scanner read from the start of a source, whose first byte is byte `offset` of its
// input; the buffer is kept.
void attachFill(TextScanner& scanner, FillBytes fill, void* source, std::uint64_t offset);
template <class Source>
void attachScanner(TextScanner& scanner, Source& source, std::uint64_t offset = 0) {
  attachFill(scanner, fillFrom<Source>, &source, offset);
}

// Puts bytes already taken from the source (by detection, from an input that cannot go back to
// its start) in front of what it delivers next. Call it right after attachScanner.
void preloadScanner(TextScanner& scanner, const char* bytes, std::size_t n);

// For a piece read from the byte before its cut: moves to the first token that starts from the
// cut on, before byte `limit` of the input, a word at a time. False where none does: the input
// ended first, or the piece has none (its bytes are consumed up to the limit).
bool skipToTokenStart(TextScanner& scanner, std::uint64_t limit);

// Marks the reading position, the start of a row of a stream, so that a read that goes dry
// after it can start over from there (stopWhenDry).
inline void markRow(TextScanner& s) {
  s.marked = true;
  s.mark = s.pos;
  s.wentDry = false;
}

// Where the stream went dry since the mark: back to the mark, and true. The values read since
// are to be read again. No mark is kept after it.
bool backToMark(TextScanner& scanner);

// How many bytes of the input the scanner has consumed: the offset of the next unread byte.
inline std::uint64_t consumedBytes(const TextScanner& s) { return s.dropped + s.pos; }

// Skips white space, then consumes one token of any length. False at the end of the input.
bool readToken(TextScanner& scanner);

// Skips white space and reads one number by the grammar of conversion.h; false without a digit.
bool readNumber(TextScanner& scanner, double& value);

// After a read of numbers that stopped short: true when a number failed (also for want of
// memory), false when the input ended (only white space was left). A number that ends the file
// without white space after it, or reaches a byte whose read failed, counts as failed.
bool stoppedAtNoNumber(const TextScanner& scanner);

// Reads up to n numbers into values[0..n), one after the other as readNumber does; returns how
// many were read before one failed (n if none did). This plain loop defines the batch readers
// of the vector paths (kernels.h).
std::size_t readNumbersPlain(TextScanner& scanner, double* values, std::size_t n);
