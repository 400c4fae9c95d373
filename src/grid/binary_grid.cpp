#include "grid/binary_grid.h"

#include <algorithm>  // min
#include <array>
#include <cstring>  // memcpy
#include <limits>
#include <string>

#include "grid/messages.h"
#include "platform/byte_order.h"
#include "platform/console.h"
#include "platform/os.h"

namespace {

// The nearest float. With IEEE 754 types the range of float includes the infinities, so a
// value beyond the largest float converts to infinity (or to the largest float) by the
// ordinary rounding rule.
static_assert(std::numeric_limits<float>::is_iec559 && std::numeric_limits<double>::is_iec559);
float narrowToFloat(double x) { return static_cast<float>(x); }

// Takes up to n bytes from what is held in front of the input's next bytes.
std::size_t takeHeld(const char* held, std::size_t& next, std::size_t count, char* bytes,
                     std::size_t n) {
  const std::size_t taken = std::min(n, count - next);
  if (taken > 0) std::memcpy(bytes, held + next, taken);
  next += taken;
  return taken;
}

// Reads up to `wanted` bytes of a stream as they come, through the bytes it holds, or straight
// into place where at least a buffer's worth is wanted. The header takes every byte detection
// kept, so rows start here, at a row's first byte. Read as they come (RowRange::asTheyCome),
// where the rows after the first have not come whole yet and the writer has sent nothing more,
// stops after the rows whole so far (endedEarly) and holds the bytes of the row begun again,
// unless they are more than the buffer takes: that row is then read to its end.
std::size_t readStreamed(GridInput& grid, char* bytes, std::size_t wanted, std::size_t rowBytes,
                         const RowRange* rows, bool& endedEarly) {
  void (*beforeWait)() = rows != nullptr ? rows->beforeWait : nullptr;
  char* const held = grid.streamBuffer.get();
  std::size_t got = 0;
  for (;;) {
    got += takeHeld(held, grid.heldNext, grid.heldCount, bytes + got, wanted - got);
    if (got == wanted) return got;
    const std::size_t begun = got % rowBytes;
    const bool dry = (rows != nullptr || beforeWait != nullptr) && streamIsDry(grid.file);
    if (dry && got >= rowBytes && begun <= streamBufferBytes) {
      if (begun > 0) std::memcpy(held, bytes + got - begun, begun);
      grid.heldNext = 0;
      grid.heldCount = begun;
      endedEarly = true;
      return got - begun;
    }
    if (dry && got < rowBytes && beforeWait != nullptr) {
      beforeWait();
      beforeWait = nullptr;
    }
    const bool direct = wanted - got >= streamBufferBytes;
    const BytesRead read = readAvailable(grid.file, direct ? bytes + got : held,
                                         direct ? wanted - got : streamBufferBytes);
    if (direct) {
      got += read.count;
    } else {
      grid.heldNext = 0;
      grid.heldCount = read.count;
    }
    if (read.count == 0 || read.failed) return got;
  }
}

// Reads up to n values of `size` bytes, from the bytes detection kept of an input that cannot
// go back to its start, then from the file; returns the count of whole values, as fread does.
// From a stream, the rows of a range read as they come (RowRange::asTheyCome) may stop short
// of n: endedEarly is then set.
std::size_t readValues(GridInput& grid, void* values, std::size_t size, std::size_t n,
                       std::size_t rowValues, const RowRange* rows, bool& endedEarly) {
  const std::size_t wanted = size * n;  // n is at most a row, whose size the run has checked
  char* const bytes = static_cast<char*>(values);
  KeptBytes& kept = grid.kept;
  const std::size_t fromKept = takeHeld(reinterpret_cast<const char*>(kept.bytes.data()), kept.next,
                                        kept.count, bytes, wanted);
  const std::size_t rest =
      grid.streamed ? readStreamed(grid, bytes + fromKept, wanted - fromKept,
                                   size * std::max<std::size_t>(rowValues, 1), rows, endedEarly)
                    : readStream(grid.file, bytes + fromKept, wanted - fromKept).count;
  return (fromKept + rest) / size;
}

template <class T>
bool writeValues(std::FILE* file, T* values, std::size_t n) {
  byte_order::toLittleEndian(values, n);
  return std::fwrite(values, sizeof(T), n, file) == n;
}

// Values narrowed or copied for writing as values of type T.
template <class T, std::size_t n>
std::array<T, n> valuesAs(const std::array<double, n>& values) {
  std::array<T, n> v{};
  for (std::size_t i = 0; i < n; ++i) {
    if constexpr (sizeof(T) == sizeof(float)) v[i] = narrowToFloat(values[i]);
    else v[i] = values[i];
  }
  return v;
}

// The header's bytes of a regular file, read by position, and its stream placed after them: a
// read through the stream would fill the stream's whole buffer, which only rows read through the
// stream need. False where the file cannot be read by position.
bool readHeaderAt(GridInput& grid, char* bytes, std::size_t n, bool& whole) {
  PositionalFile byPosition;
  if (grid.streamed || !openPositional(grid.file, byPosition)) return false;
  const BytesRead read = readAt(byPosition, 0, bytes, n);
  closePositional(byPosition);
  whole =
      read.count == n && !read.failed && std::fseek(grid.file, static_cast<long>(n), SEEK_SET) == 0;
  return true;
}

// The twelve header values stored as values of type T, widened.
template <class T>
void readHeaderValues(GridInput& grid) {
  std::array<T, headerValues> v{};
  bool endedEarly = false, whole = false;
  char* const bytes = reinterpret_cast<char*>(v.data());
  if (!readHeaderAt(grid, bytes, sizeof v, whole))
    whole =
        readValues(grid, v.data(), sizeof(T), v.size(), v.size(), nullptr, endedEarly) == v.size();
  if (!whole) fail(headerReadFailure(grid.name));
  byte_order::fromLittleEndian(v.data(), v.size());
  for (std::size_t i = 0; i < v.size(); ++i) grid.header.values[i] = v[i];
}

}  // namespace

void readBinaryHeader(GridInput& grid) {
  if (grid.encoding == GridEncoding::single) readHeaderValues<float>(grid);
  else readHeaderValues<double>(grid);
}

void readBinaryRows(GridInput& grid, RowRange& rows) {
  const std::size_t n = rows.count * rows.columns;
  double* values = rows.values;
  std::size_t got;
  bool endedEarly = false;
  const RowRange* asTheyCome = rows.asTheyCome ? &rows : nullptr;
  if (grid.encoding == GridEncoding::single) {
    float* const floats = reinterpret_cast<float*>(values + 1);
    got = readValues(grid, floats, sizeof(float), n, rows.columns, asTheyCome, endedEarly);
    byte_order::fromLittleEndian(floats, got);
  } else {
    got = readValues(grid, values + 1, sizeof(double), n, rows.columns, asTheyCome, endedEarly);
    byte_order::fromLittleEndian(values + 1, got);
  }
  // A range that ended early, where a stream had sent nothing more, holds whole rows only.
  rows.got = endedEarly ? got / rows.columns * rows.columns : got;
  rows.ended = !endedEarly && got < n;
}

void writeBinaryHeader(GridOutput& out, const GridHeader& grid1) {
  if (out.encoding == GridEncoding::single) {
    auto v = valuesAs<float>(grid1.values);
    writeValues(out.file, v.data(), v.size());  // a lost header is caught when the file closes
  } else {
    auto v = valuesAs<double>(grid1.values);
    if (!writeValues(out.file, v.data(), v.size())) say(writeIntoText(out.name));
  }
}

void writeStatisticsBlock(GridOutput& out, const StatisticsBlock& statistics) {
  if (!outputEmptied() || std::fseek(out.file, statisticsOffset(out.encoding), SEEK_SET) != 0)
    fail(writeIntoFailure(out.name));
  const std::array<double, headerValues - position::count + 1> block{
      statistics.count, statistics.minimum, statistics.maximum,
      statistics.sum,   statistics.mean,    statistics.standardDeviation};
  bool written;
  if (out.encoding == GridEncoding::single) {
    auto v = valuesAs<float>(block);
    written = writeValues(out.file, v.data(), v.size());
  } else {
    auto v = valuesAs<double>(block);
    written = writeValues(out.file, v.data(), v.size());
  }
  if (!written) fail(writeIntoFailure(out.name));
}
