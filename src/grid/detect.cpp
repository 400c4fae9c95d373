#include "grid/detect.h"

#include <cerrno>   // errno, ENOMEM
#include <cstring>  // memcmp
#include <new>      // nothrow

#include "grid/messages.h"
#include "platform/byte_order.h"
#include "platform/os.h"

namespace {

// The first four bytes of every text grid.
constexpr unsigned char textMagic[] = {'n', 'c', 'o', 'l'};

// The binary tests look at the first six values of a header, nodata_value the last of them.
constexpr std::size_t parametersNeeded = 6;

std::FILE* openOrFail(const GridInput& grid, const char* mode) {
  std::FILE* file = openFile(grid.name, mode);
  if (file == nullptr && errno == ENOMEM) failNoMemory();  // the stream itself
  if (file == nullptr) fail(cannotOpenInputFailure(grid.name));
  return file;
}

[[noreturn]] void failUnrecognised(const GridInput& grid) { fail(unrecognisedFailure(grid.name)); }

bool startsWithTextMagic(const KeptBytes& first) {
  return first.count >= sizeof textMagic &&
         std::memcmp(first.bytes.data(), textMagic, sizeof textMagic) == 0;
}

// Whether the first bytes hold the six grid parameters as values of type T, the sixth of them
// exactly -9999. Fewer bytes than six values fail the test.
template <class T>
bool nodataIsFixed(const KeptBytes& first) {
  const unsigned char* nodata = first.bytes.data() + (parametersNeeded - 1) * sizeof(T);
  return first.count >= parametersNeeded * sizeof(T) &&
         byte_order::loadLittleEndian<T>(nodata) == static_cast<T>(fixedNodata);
}

// The binary tests need the first six values of a double header at most.
constexpr std::size_t binaryTestBytes = parametersNeeded * sizeof(double);

// Reads on from the bytes already there until `first` holds `wanted` of them or the input has
// ended. A stream that cannot go back is read straight from its descriptor, no byte more than
// the tests need, so that detection waits for no byte of a slow writer beyond those. A regular
// file is read by position where it can be: a read through its stream would fill the stream's
// whole buffer for these few bytes.
void readUpTo(std::FILE* file, bool streamed, const PositionalFile* positional, KeptBytes& first,
              std::size_t wanted) {
  char* const bytes = reinterpret_cast<char*>(first.bytes.data());
  while (first.count < wanted) {
    const std::size_t n = wanted - first.count;
    const BytesRead read = streamed     ? readAvailable(file, bytes + first.count, n)
                           : positional ? readAt(*positional, first.count, bytes + first.count, n)
                                        : readStream(file, bytes + first.count, n);
    first.count += read.count;
    if (read.count == 0 || read.failed || !streamed) return;
  }
}

// Reads the bytes the tests need: the four of the text test, then, unless they are the text
// magic, those of the binary tests, as many as there are. Reading on from the fourth byte gives
// the bytes a read from offset 0 would give, without going back.
void readFirstBytes(std::FILE* file, bool streamed, KeptBytes& first) {
  PositionalFile byPosition;
  const PositionalFile* positional =
      !streamed && openPositional(file, byPosition) ? &byPosition : nullptr;
  readUpTo(file, streamed, positional, first, sizeof textMagic);
  if (first.count >= sizeof textMagic && !startsWithTextMagic(first))
    readUpTo(file, streamed, positional, first, binaryTestBytes);
  if (positional != nullptr) closePositional(byPosition);
}

// A regular file is read again from its start: a text grid reopened in text mode, a binary
// one rewound. What detection read is not needed any more.
void returnToStart(GridInput& grid, std::FILE* file) {
  grid.kept = {};
  if (grid.encoding == GridEncoding::text) {
    std::fclose(file);
    grid.streamBuffer.reset();  // the text scanner reads in blocks of its own
    grid.file = openOrFail(grid, "rt");
  } else if (std::fseek(file, 0, SEEK_SET) != 0) {
    failUnrecognised(grid);
  }
}

}  // namespace

void detectEncoding(GridInput& grid) {
  std::FILE* file = openOrFail(grid, "rb");
  grid.file = file;
  // A pipe or a FIFO cannot go back: its header and rows are read from the bytes kept, then
  // from the same descriptor, as they come, never reopened, and its stream's buffer is never
  // used. On Windows that stream is not in text mode, so the scanner ends it at a Ctrl-Z as
  // text mode would; its CR LF are white space either way.
  const bool streamed = !isRegularFile(file);
  grid.streamed = streamed;
  grid.streamBuffer.reset(new (std::nothrow) char[streamBufferBytes]);
  if (!grid.streamBuffer) failNoMemory();
  if (!streamed) std::setvbuf(file, grid.streamBuffer.get(), _IOFBF, streamBufferBytes);
  KeptBytes& first = grid.kept;
  readFirstBytes(file, streamed, first);
  if (startsWithTextMagic(first)) {
    grid.encoding = GridEncoding::text;
  } else if (nodataIsFixed<double>(first)) {
    grid.encoding = GridEncoding::double_precision;
  } else if (nodataIsFixed<float>(first)) {
    grid.encoding = GridEncoding::single;
  } else {
    failUnrecognised(grid);
  }

  if (!streamed) returnToStart(grid, file);
  if (grid.encoding == GridEncoding::text) {
    if (!initScanner(grid.text)) failNoMemory();
    if (streamed) {
      attachScanner(grid.text, grid.bytes.emplace<ArrivingBytes>(ArrivingBytes{grid.file}));
      grid.text.endsAtCtrlZ = textModeEndsAtCtrlZ;
      preloadScanner(grid.text, reinterpret_cast<const char*>(first.bytes.data()), first.count);
      first = {};
    } else {
      attachScanner(grid.text, grid.bytes.emplace<StreamBytes>(StreamBytes{grid.file}));
    }
  }
}
