// A buffered reader of white-space separated tokens and decimal numbers, by the grammar of
// conversion.h. Without any digit a number read fails, and the character that did not fit
// stays in the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>  // FILE
#include <memory>

#include "platform/os.h"  // PositionalFile

struct TextScanner {
  std::FILE* file = nullptr;
  std::unique_ptr<char[]> buffer;  // capacity bytes and an end mark '\0' after the last one read
  std::size_t capacity = 0;
  std::size_t pos = 0;  // next unread byte
  std::size_t end = 0;  // end of the bytes read so far
  bool atEof = false;   // the stream has delivered its last byte (or failed)
  // The input ends at its first Ctrl-Z byte, as a file read in text mode does on Windows; for
  // a stream that could not be reopened in text mode there, and for a piece of a file read by
  // position.
  bool endsAtCtrlZ = false;
  bool metCtrlZ = false;      // the input ended at a Ctrl-Z
  bool readFailed = false;    // the input ended at a read that failed, not at its end
  std::uint64_t dropped = 0;  // bytes taken before buffer[0], which were used and moved out
  // A piece of a file read by position (readAt) instead of through the stream: its bytes from
  // `from` on, where the tokens that start before `limit` are the piece's. Past the limit only
  // the rest of a token that started before it comes, with the white space after it; then the
  // input ends (endedAtLimit), as it does at the end of the file.
  bool byPosition = false;
  const PositionalFile* positional = nullptr;
  std::uint64_t from = 0, limit = 0;
  std::size_t tailBytes = 0;  // the next read of a token's rest past the limit
  bool endedAtLimit = false;
  // A pipe, a FIFO or a terminal, read from its descriptor as its bytes come (readAvailable):
  // a number is taken as soon as the byte after it has come, without waiting for more.
  bool streamed = false;
  bool seenDry = false;  // the stream had sent nothing more when the bytes at hand were last asked
  // Reading back to a mark (markRow): where stopWhenDry is set and the stream has sent nothing
  // more, a read that needs more bytes does not wait: the scanner goes dry, as if the input
  // ended, and goes back to the mark, whose bytes a refill keeps (backToMark).
  bool stopWhenDry = false;
  bool wentDry = false;
  void (*beforeWait)() = nullptr;  // called, once, before a read that waits for the writer
  bool marked = false;
  std::size_t mark = 0;
};

constexpr std::size_t defaultScanBuffer = std::size_t{1} << 20;

// Attaches the scanner to an open stream; a small capacity is for tests of buffer boundaries.
// False when its buffer cannot be allocated.
bool initScanner(TextScanner& scanner, std::FILE* file, std::size_t capacity = defaultScanBuffer);

// Puts bytes already taken from the stream (by detection, from an input that cannot go back to
// its start) in front of what the stream delivers next. Call it right after initScanner.
void preloadScanner(TextScanner& scanner, const char* bytes, std::size_t n);

// Makes the scanner read a piece of a file by position, from byte `first` on, the tokens that
// start before `limit` (scanner.h: byPosition); the buffer is kept.
void scanPiece(TextScanner& scanner, const PositionalFile& file, std::uint64_t first,
               std::uint64_t limit);

// For a piece set up from the byte before its cut: moves to the first token that starts from the
// cut on, before the limit. False where none does: the input ended first, or the piece has none.
bool skipToTokenStart(TextScanner& scanner);

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

// The white space of the C locale, which separates tokens.
constexpr bool isSpace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Skips white space, then consumes one token of any length. False at the end of the input.
bool readToken(TextScanner& scanner);

// Skips white space and reads one number by the grammar of conversion.h. False if no digit was
// found.
bool readNumber(TextScanner& scanner, double& value);

// After a read of numbers that stopped short: true when a number failed, false when the input
// ended (only white space was left). A number that ends the file without white space after it
// counts as failed: after it, too, the input gives no more numbers. So does a read that failed:
// a number that reaches the failing byte is not read.
bool stoppedAtNoNumber(const TextScanner& scanner);

// Reads up to n numbers into values[0..n), one after the other as readNumber does; returns how
// many were read before one failed (n if none did). This plain loop defines the batch readers
// of the vector paths (kernels.h).
std::size_t readNumbersPlain(TextScanner& scanner, double* values, std::size_t n);
