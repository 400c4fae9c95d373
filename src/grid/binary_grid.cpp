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

// Reads up to n values of `size` bytes, from the bytes detection kept of an input that cannot
// go back to its start, then from the stream; returns the count of whole values, as fread does.
std::size_t readValues(GridInput& grid, void* values, std::size_t size, std::size_t n) {
  KeptBytes& kept = grid.kept;
  const std::size_t wanted = size * n;  // n is at most a row, whose size the run has checked
  const std::size_t fromKept = std::min(wanted, kept.count - kept.next);
  std::memcpy(values, kept.bytes.data() + kept.next, fromKept);
  kept.next += fromKept;
  char* const rest = static_cast<char*>(values) + fromKept;
  const std::size_t fromStream = readStream(grid.file, rest, wanted - fromKept).count;
  return (fromKept + fromStream) / size;
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

// The twelve header values stored as values of type T, widened.
template <class T>
void readHeaderValues(GridInput& grid) {
  std::array<T, headerValues> v{};
  if (readValues(grid, v.data(), sizeof(T), v.size()) != v.size())
    fail(headerReadFailure(grid.name));
  byte_order::fromLittleEndian(v.data(), v.size());
  for (std::size_t i = 0; i < v.size(); ++i) grid.header.values[i] = v[i];
}

}  // namespace

void readBinaryHeader(GridInput& grid) {
  if (grid.encoding == GridEncoding::single) readHeaderValues<float>(grid);
  else readHeaderValues<double>(grid);
}

void readBinaryRows(GridInput& grid, RowRange& rows, float* staging) {
  const std::size_t n = rows.count * rows.columns;
  double* values = rows.values;
  if (grid.encoding == GridEncoding::single) {
    const std::size_t got = readValues(grid, staging + 1, sizeof(float), n);
    byte_order::fromLittleEndian(staging + 1, got);
    for (std::size_t i = 1; i <= got; ++i) values[i] = staging[i];
    failUnlessWhole(grid, rows, got);
  } else {
    const std::size_t got = readValues(grid, values + 1, sizeof(double), n);
    byte_order::fromLittleEndian(values + 1, got);
    failUnlessWhole(grid, rows, got);
  }
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

void writeBinaryRow(GridOutput& out, double* values, float* floatRow, double ncols, int row) {
  const std::size_t n = columnCount(ncols);
  if (out.encoding == GridEncoding::single) {
    byte_order::toLittleEndian(floatRow + 1, n);
    std::size_t written = std::fwrite(floatRow + 1, sizeof(float), n, out.file);
    if (written != n) fail(rowWriteFailure(row, written + 1, out.name));
  } else if (!writeValues(out.file, values + 1, n)) {
    fail(rowWriteFailure(row, out.name));
  }
}

void writeStatisticsBlock(GridOutput& out, const StatisticsBlock& statistics) {
  if (std::fseek(out.file, statisticsOffset(out.encoding), SEEK_SET) != 0)
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
