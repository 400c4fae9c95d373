// Grid records shared by every encoding: the twelve-value header, the parameters the row loop
// works with, and the input and output records that carry a file through a run.
#pragma once

#include <array>
#include <cstdint>  // SIZE_MAX
#include <cstdio>   // FILE
#include <cstdlib>  // free
#include <memory>   // unique_ptr
#include <string>
#include <variant>

#include "decimal/format.h"
#include "decimal/scanner.h"

// Header positions, numbered from 1 as in the grid files and in the messages.
namespace position {
constexpr int ncols = 1;
constexpr int nrows = 2;
constexpr int xllcorner = 3;
constexpr int yllcorner = 4;
constexpr int cellsize = 5;
constexpr int nodata_value = 6;
constexpr int count = 7;  // first value of the statistics block (7 to 12)
}  // namespace position

constexpr int headerValues = 12;

// The fixed marker of binary grids and the value of an undefined mean or deviation.
constexpr double fixedNodata = -9999.0;

struct GridHeader {
  std::array<double, headerValues> values{};

  double& at(int pos) { return values[static_cast<std::size_t>(pos - 1)]; }
  double at(int pos) const { return values[static_cast<std::size_t>(pos - 1)]; }
};

// Inputs are detected as text ("ascii"), single or double; outputs are text, single or double.
enum class GridEncoding { text, single, double_precision };

// Positions 1 to 6 of a header, copied out for the row loop.
struct GridParameters {
  double ncols = 0;
  double nrows = 0;
  double xllcorner = 0;
  double yllcorner = 0;
  double cellsize = 0;
  double nodata_value = 0;
};

GridParameters parametersOf(const GridHeader& header);

// The statistics of the products, as a binary output's header stores them at positions 7 to 12.
struct StatisticsBlock {
  double count = 0;
  double minimum = 0;
  double maximum = 0;
  double sum = 0;
  double mean = 0;
  double standardDeviation = 0;
};

// The number of columns a loop over 1 <= column <= ncols visits, for an ncols that passed the
// size check (0 <= ncols < 2^31 - 1).
inline std::size_t columnCount(double ncols) { return static_cast<std::size_t>(ncols); }

struct FreeDeleter {
  void operator()(void* p) const noexcept { std::free(p); }
};

// A zero-filled array from calloc: the pages of a huge row stay untouched until they are used.
template <class T>
using CallocArray = std::unique_ptr<T[], FreeDeleter>;

// The first bytes of an input that cannot go back to its start (a pipe, a FIFO), as detection
// read them: the header and the rows are read from these, then from the same stream.
struct KeptBytes {
  static constexpr std::size_t capacity = headerValues * sizeof(double);  // the double test's
  std::array<unsigned char, capacity> bytes{};
  std::size_t count = 0;  // bytes kept
  std::size_t next = 0;   // the first of them not yet read
};

// Rows first to first + count - 1 of an input, to be read one after the other into values:
// row first + i at values + i * ncols, as its positions 1 to ncols, so that the values lie
// together from values[1] on (values[0] is never used). A reader never ends the run: it counts
// the values read, and where fewer than the range's came, says whether no more will come.
struct RowRange {
  double* values;
  std::size_t columns;  // the integer part of the run's ncols, at least 1
  int first;
  std::size_t count;
  std::size_t got = 0;    // values read; after whole rows only, unless `ended`
  bool ended = false;     // no value comes after them: the input ended, a read or a number failed
  bool noMemory = false;  // as `ended`, where the memory for the next number could not be had
  // From a stream (GridInput::streamed), with asTheyCome: the rows after the first are read only
  // while their bytes have come, so that the rows whole so far are used while a slow writer has
  // sent nothing more; the range then ends early, after its rows whole so far. Before a
  // read waits for the writer, beforeWait is called where given.
  bool asTheyCome = false;
  void (*beforeWait)() = nullptr;
};

struct GridInput {
  std::string name;
  std::FILE* file = nullptr;
  KeptBytes kept;  // empty for a regular file, which detection leaves at its start
  // A pipe, a FIFO or a terminal: read from its descriptor as its bytes come, never through the
  // stream's buffer, never from its start again.
  bool streamed = false;
  GridEncoding encoding = GridEncoding::text;
  GridHeader header;
  TextScanner text;  // the buffered reader of a text input, reading from `bytes`
  std::variant<StreamBytes, ArrivingBytes> bytes;  // a stream, or a stream as its bytes come
  // A binary input's buffer of streamBufferBytes: the stream's own buffer for a regular file;
  // for a binary stream the bytes read from its descriptor and not used yet, heldNext to
  // heldCount.
  std::unique_ptr<char[]> streamBuffer;
  std::size_t heldNext = 0, heldCount = 0;
};

constexpr std::size_t streamBufferBytes = std::size_t{1} << 18;

struct GridOutput {
  std::string name;
  std::FILE* file = nullptr;
  GridEncoding encoding = GridEncoding::text;
  std::unique_ptr<char[]> streamBuffer;
  // A text output writes every cell equal to its nodata_value with the header's spelling of
  // that value, so that the empty cells read back as empty however many digits it needs.
  NodataSpelling nodata;
};
