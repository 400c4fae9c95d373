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

#include "grid/text_grid.h"
#include "rows/row_source.h"
#include "rows/work_pool.h"
#include "support/capture.h"
#include "support/reference.h"

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

// The rows read in pieces cut every pieceBytes and placed into rows by the run's own row source,
// its pool doing every piece on this thread: the values until the first piece that ends the
// input, or the failure the rows meet there.
Outcome readInPieces(const std::string& text, std::size_t pieceBytes) {
  Outcome o;
  // A file in memory, which pieces read by position as they read a file on disk.
  std::FILE* file = fdopen(memfd_create("grid", 0), "w+");
  check(file != nullptr && std::fwrite(text.data(), 1, text.size(), file) == text.size());
  std::rewind(file);
  GridInput grid;
  grid.name = gridName;
  grid.file = file;
  initScanner(grid.text);
  attachScanner(grid.text, grid.bytes.emplace<StreamBytes>(StreamBytes{file}));
  try {
    readTextHeader(grid);
    const GridParameters working = parametersOf(grid.header);
    if (rowsAreSmall(working.ncols, working.nrows) && columnCount(working.ncols) > 0 &&
        working.nrows >= 1) {
      RowSource source;
      WorkPool pool;
      prepareRowSource(source, grid, working);
      check(startPool(pool, 1, pieceScanBuffer(pieceBytes)) &&
            startPieces(source, pool, 1, pieceBytes));
      const std::size_t n = columnCount(working.ncols);
      for (int row = 1; row <= working.nrows; ++row) {
        const double* values = takeRow(source);
        if (values == nullptr) reportFailure(source);
        o.cells.insert(o.cells.end(), values + 1, values + 1 + n);
      }
      finishRowSource(source);
    }
  } catch (const RunEnded& e) {
    o.status = e.status;
    o.message = e.message;
  }
  std::fclose(file);
  return o;
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
    // In pieces that cut every number and token, and in pieces that hold many numbers.
    // Pieces of a few bytes over the padding would only find white space, slowly.
    const std::size_t pieceBytes = pieceSizes[(data[0] >> 4) & 7];
    if (expected.header.empty() || (pieceBytes < 8 && text.size() > 1024)) continue;
    if (path.readNumbers != kernelsForThisCpu().readNumbers) continue;  // the run's own
    const Outcome pieces = readInPieces(text, pieceBytes);
    check(pieces.status == (expected.status == 5 ? 5 : 0) &&
          (pieces.status == 0 || pieces.message == expected.message));
    check(sameValues(pieces.cells, expected.cells));
  }
  return 0;
}
