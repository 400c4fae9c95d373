#include "grid/detect.h"

#include <cstring>  // memcmp

#include "platform/byte_order.h"
#include "platform/console.h"

namespace {

constexpr std::size_t binaryStreamBuffer = std::size_t{1} << 18;

std::FILE* openOrFail(const GridInput& grid, const char* mode) {
  std::FILE* file = std::fopen(grid.name.c_str(), mode);
  if (file == nullptr) fail(98, "could not open input file " + grid.name + "\n");
  return file;
}

bool seekToStart(std::FILE* file) { return std::fseek(file, 0, SEEK_SET) == 0; }

// Whether the value at `index` of the first `count` values of type T is -9999. A read that
// delivers too few values, or a file that cannot be rewound, fails the test.
template <class T>
bool nodataIsFixed(std::FILE* file, std::size_t count, std::size_t needed) {
  unsigned char bytes[12 * sizeof(double)];
  if (!seekToStart(file)) return false;
  if (std::fread(bytes, sizeof(T), count, file) < needed) return false;
  return byte_order::loadLittleEndian<T>(bytes + 5 * sizeof(T)) == static_cast<T>(fixedNodata) &&
         seekToStart(file);
}

}  // namespace

void detectEncoding(GridInput& grid) {
  std::FILE* file = openOrFail(grid, "rb");
  grid.streamBuffer = std::make_unique_for_overwrite<char[]>(binaryStreamBuffer);
  std::setvbuf(file, grid.streamBuffer.get(), _IOFBF, binaryStreamBuffer);

  char magic[4];
  if (std::fread(magic, 1, sizeof magic, file) == sizeof magic &&
      std::memcmp(magic, "ncol", sizeof magic) == 0) {
    std::fclose(file);
    grid.file = openOrFail(grid, "rt");
    grid.encoding = GridEncoding::text;
    initScanner(grid.text, grid.file);
    return;
  }
  grid.file = file;
  if (nodataIsFixed<double>(file, 12, 6)) {
    grid.encoding = GridEncoding::double_precision;
  } else if (nodataIsFixed<float>(file, 6, 6)) {
    grid.encoding = GridEncoding::single;
  } else {
    fail(98, "could not recognise file format (ascii, single or double) for " + grid.name + "\n");
  }
}
