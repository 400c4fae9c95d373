// Detection and the binary header and row readers over arbitrary file contents, against a
// reference decoding of the same bytes: the same encoding, values bit for bit, or the same
// failure with the same message.
#include <unistd.h>  // getpid

#include <algorithm>  // min
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "grid/binary_grid.h"
#include "grid/detect.h"
#include "grid/messages.h"
#include "support/capture.h"
#include "support/reference.h"
#include "support/run_rows.h"

namespace {

template <class T>
double valueAt(const std::string& bytes, std::size_t index) {
  T v;
  std::memcpy(&v, bytes.data() + index * sizeof(T), sizeof v);  // hosts are little-endian
  return v;
}

struct Outcome {
  GridEncoding encoding = GridEncoding::text;
  std::vector<double> header;
  std::vector<double> cells;  // or their products with the factor, where it is not 0
  double factor = 0;
  int status = 0;
  std::string message;
};

template <class T>
void decode(const std::string& bytes, const std::string& name, Outcome& o) {
  const std::size_t available = bytes.size() / sizeof(T);
  if (available < 12) {
    o.status = 1;
    o.message = "error reading fiel header from " + name + "\n";
    return;
  }
  for (std::size_t i = 0; i < 12; ++i) o.header.push_back(valueAt<T>(bytes, i));
  const double ncols = o.header[0], nrows = o.header[1];
  if (!rowsAreSmall(ncols, nrows)) return;
  const std::size_t n = static_cast<std::size_t>(ncols);
  for (int row = 1; row <= nrows; ++row) {
    const std::size_t first = 12 + static_cast<std::size_t>(row - 1) * n;
    const std::size_t got = available >= first ? std::min(n, available - first) : 0;
    if (got < n) {
      o.status = 5;
      o.message = "error reading from " + name + " in row " + std::to_string(row) + " (" +
                  std::to_string(got) + " values read)\n";
      return;
    }
    for (std::size_t i = 0; i < n; ++i) o.cells.push_back(valueAt<T>(bytes, first + i));
  }
}

Outcome expectedReading(const std::string& bytes, const std::string& name) {
  Outcome o;
  if (bytes.size() >= 4 && bytes.compare(0, 4, "ncol") == 0) return o;
  if (bytes.size() >= 48 && valueAt<double>(bytes, 5) == -9999.0) {
    o.encoding = GridEncoding::double_precision;
    decode<double>(bytes, name, o);
  } else if (bytes.size() >= 24 && valueAt<float>(bytes, 5) == -9999.0f) {
    o.encoding = GridEncoding::single;
    decode<float>(bytes, name, o);
  } else {
    o.status = 98;
    o.message = "could not recognise file format (ascii, single or double) for " + name + "\n";
  }
  return o;
}

// The tool's reading: row by row through the stream, or, with threads, through the run's own
// row machinery (in pieces of pieceBytes where there are several), the values multiplied by the
// run's factors and the dots of the rows before a failure counted.
Outcome actualReading(const std::string& name, unsigned threads, std::size_t pieceBytes) {
  Outcome o;
  GridInput grid;
  grid.name = name;
  try {
    detectEncoding(grid);
    o.encoding = grid.encoding;
    if (grid.encoding != GridEncoding::text) {
      readBinaryHeader(grid);
      o.header.assign(grid.header.values.begin(), grid.header.values.end());
      const GridParameters working = parametersOf(grid.header);
      const bool small = rowsAreSmall(working.ncols, working.nrows);
      const std::size_t n = small ? columnCount(working.ncols) : 0;
      if (threads > 0 && small && n > 0 && working.nrows >= 1) {
        const RowsThroughRun run = rowsThroughRun(grid, pieceBytes, threads);
        check(run.dots * n == run.products.size());
        o.cells = run.products;
        o.factor = run.factor;
        o.status = run.status;
        o.message = run.message;
      } else if (small) {
        std::vector<double> values(n + 1);
        const float* const floats = reinterpret_cast<const float*>(values.data() + 1);
        for (int row = 1; row <= working.nrows; ++row) {
          RowRange one{values.data(), n, row, 1};
          readBinaryRows(grid, one);
          if (one.got < n) fail(rowReadFailure(name, row, one.got));
          if (grid.encoding == GridEncoding::single)
            o.cells.insert(o.cells.end(), floats, floats + n);
          else o.cells.insert(o.cells.end(), values.begin() + 1, values.end());
        }
      }
    }
  } catch (const RunEnded& e) {
    o.status = e.status;
    o.message = e.message;
  }
  if (grid.file) std::fclose(grid.file);
  return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A file on a memory file system where there is one: detection opens inputs by name.
  // Removed when the fuzzer exits.
  static const struct TempFile {
    std::string name = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                       "/cellprod-fuzz-" + std::to_string(getpid()) + ".grd";
    ~TempFile() { std::remove(name.c_str()); }
  } file;
  const std::string& name = file.name;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::FILE* f = std::fopen(name.c_str(), "wb");
  check(f != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size());
  check(std::fclose(f) == 0);

  const Outcome expected = expectedReading(bytes, name);
  for (unsigned threads : {0u, 1u + static_cast<unsigned>(size % 3)}) {
    const Outcome actual = actualReading(name, threads, 8 * (1 + size % 32));
    check(actual.status == expected.status && actual.message == expected.message);
    check(actual.encoding == expected.encoding);
    check(sameValues(actual.header, expected.header));
    std::vector<double> cells = expected.cells;
    if (actual.factor != 0)
      for (double& v : cells) v = productOf(v, expected.header[5], actual.factor);
    check(sameValues(actual.cells, cells));
  }
  return 0;
}
