#include "driver/run.h"

#include <cmath>  // isfinite
#include <cstdio>
#include <new>  // nothrow
#include <string>
#include <vector>

#include "arith/product.h"
#include "driver/command_line.h"
#include "driver/output_file.h"
#include "grid/binary_grid.h"
#include "grid/detect.h"
#include "grid/messages.h"
#include "grid/text_grid.h"
#include "platform/console.h"
#include "platform/os.h"
#include "rows/output_bands.h"
#include "rows/row_source.h"
#include "rows/work_pool.h"

namespace {

constexpr std::size_t stdoutBufferSize = std::size_t{1} << 16;

bool isBinary(GridEncoding e) { return e != GridEncoding::text; }

void readHeader(GridInput& grid) {
  if (isBinary(grid.encoding)) readBinaryHeader(grid);
  else readTextHeader(grid);
}

// The row loop counts with 32-bit integers and "%ld" writes the dimensions as 32-bit values:
// refuse sizes where either would go wrong. An nrows below 1 simply gives no rows.
void checkUsableSize(const GridInput& grid1) {
  double ncols = grid1.header.at(position::ncols);
  double nrows = grid1.header.at(position::nrows);
  bool usable = std::isfinite(ncols) && std::isfinite(nrows) && ncols >= 0 &&
                ncols < 2147483647.0 && nrows > -2147483648.0 && nrows < 2147483647.0;
  if (!usable) {
    fail(unusableSizeFailure(grid1.name, ncols, nrows));
  }
}

void writeHeader(RunContext& run) {
  if (isBinary(run.output.encoding)) writeBinaryHeader(run.output, run.grid1.header);
  else writeTextHeader(run.output, run.grid1.header);
}

template <class T>
CallocArray<T> allocateRow(std::size_t n, double ncols) {
  CallocArray<T> row(static_cast<T*>(std::calloc(n, sizeof(T))));
  if (!row) failNoMemory(ncols);
  return row;
}

// Everything the rows need is allocated here, the memory of a run on one thread first; the
// threads and their memory come last and only where they can be had, and nothing is allocated
// after them.
void setUpRows(RunContext& run) {
  run.working = parametersOf(run.grid1.header);
  const double ncols = run.working.ncols;
  const std::size_t n = columnCount(ncols) + 1;
  run.output.row = allocateRow<double>(n, ncols);
  run.statistics.resetStatistics(run.working.nodata_value);
  run.floatRow = allocateRow<float>(n, ncols);
  if (run.output.encoding == GridEncoding::text) {
    run.output.textStaging.reset(new (std::nothrow) char[textStagingSize]);
    if (!run.output.textStaging) failNoMemory(ncols);
  }
  prepareRowSource(run.rows1, run.grid1, run.working);
  prepareRowSource(run.rows2, run.grid2, run.working);
  // With more than one thread, the pool reads the inputs in regular files in pieces and formats
  // a text output in bands; its threads need a scanner only for text pieces.
  const bool textInput =
      run.grid1.encoding == GridEncoding::text || run.grid2.encoding == GridEncoding::text;
  const std::size_t scanBytes = textInput ? pieceScanBuffer(defaultPieceBytes) : 0;
  if (run.threads > 1 && startPool(run.pool, run.threads, scanBytes)) {
    startPieces(run.rows1, run.pool, run.threads);
    startPieces(run.rows2, run.pool, run.threads);
    prepareBands(run.bands, run.threads, run.output, ncols, run.pool);
  }
  startReader(run.rows1, run.threads);
  startReader(run.rows2, run.threads);
}

// Writes the row of products at once, unless it goes out in a text band. A text row written
// alone is the output's own row.
void writeRow(RunContext& run, double* product) {
  if (inBands(run.bands)) return;
  if (isBinary(run.output.encoding))
    writeBinaryRow(run.output, product, run.floatRow.get(), run.working.ncols, run.row);
  else writeTextRow(run.output, run.working.ncols, run.row);
  say(".");
}

// Where an input has no row `row`: the rows before it are written first, as they would have
// been before it was read, then the failure is reported.
[[noreturn]] void failInRow(RunContext& run, const RowSource& source) {
  if (inBands(run.bands)) writeBands(run.bands);
  reportFailure(source);
}

void processRows(RunContext& run) {
  // Only a binary output's header holds the statistics: a text output's products skip them.
  const bool statistics = isBinary(run.output.encoding);
  for (run.row = 1; run.row <= run.working.nrows; ++run.row) {
    // Before waiting for an input's row, the rows formed are written, as they would have been
    // before it was read: a failing write is never held back by a slow or silent pipe.
    if (inBands(run.bands) && !(rowAtHand(run.rows1) && rowAtHand(run.rows2)))
      writeBands(run.bands);
    const double* row1 = takeRow(run.rows1);
    if (row1 == nullptr) failInRow(run, run.rows1);
    const double* row2 = takeRow(run.rows2);
    if (row2 == nullptr) failInRow(run, run.rows2);
    // The products go into their band where there are bands, else into the output's row.
    double* const product =
        inBands(run.bands) ? bandRow(run.bands, run.row) : run.output.row.get();
    if (statistics)
      multiplyRow(run.working, row1, row2, product,
                  run.output.encoding == GridEncoding::single ? run.floatRow.get() : nullptr,
                  run.statistics);
    else multiplyCells(run.working, row1, row2, product);
    writeRow(run, product);
    if (inBands(run.bands)) rowFormed(run.bands);
  }
  if (inBands(run.bands)) writeBands(run.bands);
}

// The statistics of the products replace the provisional block of the binary output.
void writeFinalStatistics(RunContext& run) {
  writeStatisticsBlock(run.output, run.statistics.finalizeStatistics());
}

// Closes the output and makes sure everything written reached the file.
void closeOutput(GridOutput& out) {
  const bool whole = closeStream(out.file);
  out.file = nullptr;
  if (!whole) fail(writeIntoFailure(out.name));
}

void closeInput(GridInput& grid) {
  closeStream(grid.file);
  grid.file = nullptr;
}

void runPhases(RunContext& run, int argc, char** argv) {
  const std::vector<std::string> arguments = commandLineArguments(argc, argv);
  checkArgumentCount(arguments.size());
  run.grid1.name = arguments[0];
  run.grid2.name = arguments[1];
  run.output.name = arguments[2];
  run.output.encoding = outputEncodingFromOption(arguments.size() > 3 ? arguments[3] : "");

  detectEncoding(run.grid1);
  detectEncoding(run.grid2);
  openOutput(run.output, run.grid1, run.grid2);
  readHeader(run.grid1);
  readHeader(run.grid2);
  checkCompatible(run.grid1, run.grid2);
  checkUsableSize(run.grid1);
  run.threads = threadCount();
  writeHeader(run);
  setUpRows(run);
  processRows(run);
  stopPool(run.pool);  // before the pieces' files close: a thread may read a piece given ahead
  finishRowSource(run.rows1);
  finishRowSource(run.rows2);
  say("\n");
  if (isBinary(run.output.encoding)) writeFinalStatistics(run);

  run.output.row.reset();
  run.floatRow.reset();
  closeInput(run.grid1);
  closeInput(run.grid2);
  closeOutput(run.output);
  std::fflush(stdout);
}

}  // namespace

int runCellprod(int argc, char** argv) {
  // Before any file is opened, so that no grid or output takes the place of a standard stream.
  openClosedStandardDescriptors();
  ignoreWriteSignals();
  if (!stdoutIsTerminal()) {
    static char stdoutBuffer[stdoutBufferSize];
    std::setvbuf(stdout, stdoutBuffer, _IOFBF, sizeof stdoutBuffer);
  }
  // Memory: the run's own buffers are allocated where a failure is seen (calloc, new
  // (std::nothrow)) and reported there; what the standard library allocates for names, answers
  // and messages and cannot have ends the run in operator new's handler, with the same status.
  endRunWhenMemoryRunsOut([] { failNoMemory(); });
  RunContext run;
  runPhases(run, argc, argv);
  return 0;
}
