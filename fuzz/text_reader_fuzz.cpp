// The text header and row readers over arbitrary bytes, against a reference reading of the
// same bytes: the same values bit for bit, or the same failure with the same message.
#include <sys/mman.h>  // memfd_create

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "grid/messages.h"
#include "grid/text_grid.h"
#include "support/capture.h"
#include "support/reference.h"
#include "support/run_rows.h"

namespace {

const std::string gridName = "fuzz.asc";

// What the readers must produce for `text`: the header, the rows, or the failure.
struct Expected {
  std::vector<double> header;
  std::vector<double> cells;
  int status = 0;
  std::string message;
};

struct ReferenceReader {
  const std::string& text;
  std::size_t pos = 0;

  void skipBlanks() {
    while (pos < text.size() && isBlank(static_cast<unsigned char>(text[pos]))) ++pos;
  }
  bool token() {
    skipBlanks();
    if (pos == text.size()) return false;
    while (pos < text.size() && !isBlank(static_cast<unsigned char>(text[pos]))) ++pos;
    return true;
  }
  bool number(double& value) {
    skipBlanks();
    ReferenceNumber n = referenceNumber(text, pos);
    pos = n.end;
    value = n.value;
    return n.ok;
  }
};

Expected expectedReading(const std::string& text) {
  Expected e;
  ReferenceReader r{text};
  for (int pos = 1; pos <= 6; ++pos) {
    double v = 0;
    if (!r.token() || !r.number(v)) {
      e.header.clear();  // a header that cannot be read whole yields no values
      e.status = 1;
      e.message = "error reading fiel header from " + gridName + "\n";
      return e;
    }
    e.header.push_back(v);
  }
  const double ncols = e.header[0], nrows = e.header[1];
  if (!rowsAreSmall(ncols, nrows)) return e;
  for (int row = 1; row <= nrows; ++row) {
    std::vector<double> values;
    for (int column = 1; column <= ncols; ++column) {
      double v = 0;
      if (!r.number(v)) {
        e.status = 5;
        e.message = "error reading from " + gridName + " in row " + std::to_string(row) + " (" +
                    std::to_string(column - 1) + " values read)\n";
        return e;
      }
      values.push_back(v);
    }
    e.cells.insert(e.cells.end(), values.begin(), values.end());
  }
  return e;
}

// Scanner buffers from one byte up, so that numbers and tokens straddle every refill; the
// largest holds any input the fuzzer makes, as the default buffer would.
constexpr std::size_t capacities[] = {1, 2, 3, 4, 5, 7, 8, 13, 16, 64, 4096, std::size_t{1} << 16};

constexpr std::size_t pieceSizes[] = {1, 2, 3, 5, 8, 13, 64, 256};

// What the readers make of the bytes with one number reader.
struct Outcome {
  std::vector<double> header, cells;
  int status = 0;
  std::string message;
};

Outcome readWith(const std::string& text, std::size_t capacity, NumberReader readNumbers) {
  std::string bytes = text.empty() ? std::string(1, ' ') : text;  // fmemopen needs a byte
  GridInput grid;
  grid.name = gridName;
  grid.file = fmemopen(bytes.data(), text.empty() ? 0 : bytes.size(), "r");
  check(grid.file != nullptr);
  initScanner(grid.text, capacity);
  attachScanner(grid.text, grid.bytes.emplace<StreamBytes>(StreamBytes{grid.file}));
  Outcome o;
  try {
    readTextHeader(grid);
    for (int pos = 1; pos <= 6; ++pos) o.header.push_back(grid.header.at(pos));
    const GridParameters working = parametersOf(grid.header);
    if (rowsAreSmall(working.ncols, working.nrows)) {
      const std::size_t n = columnCount(working.ncols);
      std::vector<double> values(n + 1);
      for (int row = 1; row <= working.nrows; ++row) {
        RowRange one{values.data(), n, row, 1};
        readTextRows(grid, one, readNumbers);
        if (one.got < n) fail(rowReadFailure(gridName, row, one.got));
        o.cells.insert(o.cells.end(), values.begin() + 1, values.end());
      }
    }
  } catch (const RunEnded& e) {
    o.status = e.status;
    o.message = e.message;
  }
  std::fclose(grid.file);
  return o;
}

// The rows through the run's own row machinery on `threads` threads, in pieces cut every
// pieceBytes where there are several: the values until the first row that fails, multiplied by
// the run's factors, the dots of the rows before it, or the failure there.
RowsThroughRun readThroughRun(const std::string& text, std::size_t pieceBytes, unsigned threads) {
  // A file in memory, which pieces read by position as they read a file on disk.
  std::FILE* file = fdopen(memfd_create("grid", 0), "w+");
  check(file != nullptr && std::fwrite(text.data(), 1, text.size(), file) == text.size());
  std::rewind(file);
  GridInput grid;
  grid.name = gridName;
  grid.file = file;
  initScanner(grid.text);
  attachScanner(grid.text, grid.bytes.emplace<StreamBytes>(StreamBytes{file}));
  readTextHeader(grid);  // the reference has read it
  RowsThroughRun r = rowsThroughRun(grid, pieceBytes, threads);
  std::fclose(file);
  return r;
}

}  // namespace

// Every number reader, the plain one and each vector one this CPU runs, against the reference.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t capacity = capacities[data[0] % std::size(capacities)];
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  // Trailing white space changes no reading, but puts the text far enough from the end of the
  // bytes at hand for the scanner's quick path and the vector reader's blocks.
  if (data[0] & 0x80) text.append(6000, ' ');
  const Expected expected = expectedReading(text);
  for (const NumberKernels& path : availableKernels()) {
    const Outcome o = readWith(text, capacity, path.readNumbers);
    check(o.status == expected.status && o.message == expected.message);
    check(sameValues(o.header, expected.header));
    check(sameValues(o.cells, expected.cells));
    // Through the run, in pieces that cut every number and token, and in pieces that hold many
    // numbers. Pieces of a few bytes over the padding would only find white space, slowly.
    const std::size_t pieceBytes = pieceSizes[(data[0] >> 4) & 7];
    const double ncols = expected.header.empty() ? 0 : expected.header[0];
    const double nrows = expected.header.empty() ? 0 : expected.header[1];
    if (!rowsAreSmall(ncols, nrows) || columnCount(ncols) == 0 || nrows < 1 ||
        (pieceBytes < 8 && text.size() > 1024))
      continue;
    if (path.readNumbers != kernelsForThisCpu().readNumbers) continue;  // the run's own
    const RowsThroughRun run = readThroughRun(text, pieceBytes, 1 + (data[0] >> 2) % 3);
    check(run.status == (expected.status == 5 ? 5 : 0) &&
          (run.status == 0 || run.message == expected.message));
    std::vector<double> products;
    for (double v : expected.cells)
      products.push_back(productOf(v, expected.header[5], run.factor));
    check(sameValues(run.products, products));
    check(run.dots == expected.cells.size() / columnCount(ncols));
  }
  return 0;
}
