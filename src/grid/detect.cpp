#include "grid/detect.h"

#include <cerrno>   // errno, ENOMEM
#include <cstring>  // memcmp
#include <new>      // nothrow

#include "grid/messages.h"
#include "platform/byte_order.h"
#include "platform/os.h"

namespace {

constexpr std::size_t binaryStreamBuffer = std::size_t{1} << 18;

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

// Reads the bytes the tests need: the four of the text test, then, unless they are the text
// magic, as many of the first 96 (the double test's twelve values) as there are. Reading on
// from the fourth byte gives the bytes a read from offset 0 would give, without going back.
void readFirstBytes(std::FILE* file, KeptBytes& first) {
  first.count = std::fread(first.bytes.data(), 1, sizeof textMagic, file);
  if (first.count < sizeof textMagic || startsWithTextMagic(first)) return;
  first.count +=
      std::fread(first.bytes.data() + first.count, 1, first.capacity - first.count, file);
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
  grid.streamBuffer.reset(new (std::nothrow) char[binaryStreamBuffer]);
  if (!grid.streamBuffer) failNoMemory();
  std::setvbuf(file, grid.streamBuffer.get(), _IOFBF, binaryStreamBuffer);

  KeptBytes& first = grid.kept;
  readFirstBytes(file, first);
  if (startsWithTextMagic(first)) {
    grid.encoding = GridEncoding::text;
  } else if (nodataIsFixed<double>(first)) {
    grid.encoding = GridEncoding::double_precision;
  } else if (nodataIsFixed<float>(first)) {
    grid.encoding = GridEncoding::single;
  } else {
    failUnrecognised(grid);
  }

  // A pipe or a FIFO cannot go back: its header and rows are read from the bytes kept, then
  // from the same stream, never reopened. On Windows that stream is not in text mode, so the
  // scanner ends it at a Ctrl-Z as text mode would; its CR LF are white space either way.
  const bool streamed = !isRegularFile(file);
  if (!streamed) returnToStart(grid, file);
  if (grid.encoding == GridEncoding::text) {
    if (!initScanner(grid.text, grid.file)) failNoMemory();
    if (streamed) {
      grid.text.endsAtCtrlZ = textModeEndsAtCtrlZ;
      preloadScanner(grid.text, reinterpret_cast<const char*>(first.bytes.data()), first.count);
      first = {};
    }
  }
}
