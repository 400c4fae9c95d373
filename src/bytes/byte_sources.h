// Where the bytes of a text input come from. Each way of getting them is a small record with one
// fill function, which the scanner calls through a pointer beside the record:
// - StreamBytes: a file read through its stream, in reads that grow from a few KiB, so that a
//   header costs a small read and the bytes after it are not read for nothing;
// - ArrivingBytes: a pipe, a FIFO or a terminal, read from its descriptor as its bytes come;
// - PieceBytes: the bytes of a regular file from an offset up to a limit, read by position, and
//   past the limit only the rest of the token that the limit cuts.
#pragma once

#include <bit>  // countr_zero
#include <cstddef>
#include <cstdint>
#include <cstdio>  // FILE

#include "platform/os.h"

// The white space of the C locale, which separates tokens.
constexpr bool isSpace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The bytes of a little-endian word that are white space: bit 7 of each such byte set, every
// other bit clear. Eight bytes in a few operations, without a branch.
constexpr std::uint64_t spaceBytes(std::uint64_t word) {
  constexpr std::uint64_t ones = 0x0101010101010101, high = ones * 0x80;
  const std::uint64_t low = (word & ~high) | high;           // each byte's low 7 bits, over 0x80
  const std::uint64_t fromTab = (low - ones * '\t') & high;  // low 7 bits >= '\t'
  const std::uint64_t toReturn = ~(low - ones * ('\r' + 1)) & high;  // low 7 bits <= '\r'
  const std::uint64_t notBlank = (((word & ~high) ^ (ones * ' ')) + ~high) & high;
  return ((fromTab & toReturn) | (notBlank ^ high)) & ~word;
}

// The index of the first byte whose bit 7 is set in a mask of spaceBytes' form.
inline std::size_t firstMarkedByte(std::uint64_t mask) {
  return static_cast<std::size_t>(std::countr_zero(mask)) / 8;
}

// Fills `into` with up to `room` bytes. Where mayWait is false and the source would have to wait
// for its writer, it gives none and says so (BytesRead::dry).
using FillBytes = BytesRead (*)(void* source, char* into, std::size_t room, bool mayWait);

struct StreamBytes {
  // Reads of at most this many bytes land in the front of the scanner's buffer, to which each
  // refill moves what is left, and stay in the cache until they are scanned.
  static constexpr std::size_t largestRead = std::size_t{128} << 10;
  std::FILE* file = nullptr;
  std::size_t nextRead = std::size_t{4} << 10;  // twice as many each time, up to largestRead
};

struct ArrivingBytes {
  std::FILE* file = nullptr;
  bool seenDry = false;            // had sent nothing more when last asked, and nothing came since
  void (*beforeWait)() = nullptr;  // called, once, before a read that waits for the writer
};

// The bytes of a regular file from `from` on: those before `limit`, then the rest of the token
// the limit cuts, up to and with the first white space after it, read in growing steps; then
// none (endedAtLimit), as at the end of the file.
struct PieceBytes {
  const PositionalFile* file = nullptr;
  std::uint64_t from = 0, limit = 0;
  std::size_t tailBytes = 64;  // the next read of a token's rest past the limit
  bool lastWasSpace = false;   // the last byte given
  bool endedAtLimit = false;
};

BytesRead fillBytes(StreamBytes& source, char* into, std::size_t room, bool mayWait);
BytesRead fillBytes(ArrivingBytes& source, char* into, std::size_t room, bool mayWait);
BytesRead fillBytes(PieceBytes& source, char* into, std::size_t room, bool mayWait);

// The fill function of a record, for a scanner to call through a pointer.
template <class Source>
BytesRead fillFrom(void* source, char* into, std::size_t room, bool mayWait) {
  return fillBytes(*static_cast<Source*>(source), into, room, mayWait);
}
