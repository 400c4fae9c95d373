#include "bytes/byte_sources.h"

#include <algorithm>  // min

#include "platform/byte_order.h"

BytesRead fillBytes(StreamBytes& source, char* into, std::size_t room, bool) {
  const std::size_t wanted = std::min(room, source.nextRead);
  if (wanted == source.nextRead) source.nextRead = std::min(2 * wanted, StreamBytes::largestRead);
  return readStream(source.file, into, wanted);
}

BytesRead fillBytes(ArrivingBytes& source, char* into, std::size_t room, bool mayWait) {
  if (!mayWait) {
    // Asked once for the bytes at hand: a writer that had sent nothing more is not asked again
    // until more bytes have come.
    if (source.seenDry || (source.seenDry = streamIsDry(source.file))) return {0, false, true};
  } else if (source.beforeWait != nullptr && streamIsDry(source.file)) {
    source.beforeWait();
    source.beforeWait = nullptr;
  }
  const BytesRead read = readAvailable(source.file, into, room);
  if (read.count > 0) source.seenDry = false;
  return read;
}

namespace {

// The number of bytes before the first white space among n, or n.
std::size_t untilSpace(const char* bytes, std::size_t n) {
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const std::uint64_t spaces = spaceBytes(byte_order::loadLittleEndian<std::uint64_t>(
        reinterpret_cast<const unsigned char*>(bytes + i)));
    if (spaces != 0) return i + firstMarkedByte(spaces);
  }
  while (i < n && !isSpace(static_cast<unsigned char>(bytes[i]))) ++i;
  return i;
}

}  // namespace

BytesRead fillBytes(PieceBytes& source, char* into, std::size_t room, bool) {
  if (source.from < source.limit) {
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(room, source.limit - source.from));
    const BytesRead read = readAt(*source.file, source.from, into, wanted);
    source.from += read.count;
    if (read.count > 0)
      source.lastWasSpace = isSpace(static_cast<unsigned char>(into[read.count - 1]));
    return read;
  }
  // Past the limit: nothing where the last byte given is white space, so that no token starts
  // past the limit; else the rest of the token, in growing steps.
  if (source.lastWasSpace) {
    source.endedAtLimit = true;
    return {};
  }
  const std::size_t wanted = std::min(room, source.tailBytes);
  source.tailBytes = std::min(room, 2 * source.tailBytes);
  BytesRead read = readAt(*source.file, source.from, into, wanted);
  if (const std::size_t token = untilSpace(into, read.count); token < read.count) {
    read.count = token + 1;
    read.failed = false;
    source.lastWasSpace = true;
  }
  source.from += read.count;
  return read;
}
