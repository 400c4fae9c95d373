#include "driver/run.h"

#include <bit>    // endian
#include <cmath>  // isfinite
#include <cstdio>
#include <new>  // nothrow
#include <string>
#include <vector>

#include "arith/product.h"
#include "driver/command_line.h"
#include "driver/output_file.h"
#include "driver/output_bands.h"
#include "driver/read_ahead.h"
#include "driver/statistics_lane.h"
#include "driver/work_pool.h"
#include "grid/binary_grid.h"
#include "grid/detect.h"
#include "grid/messages.h"
#include "grid/text_grid.h"
#include "platform/console.h"
#include "platform/os.h"

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

// The pool's threads: for the pieces of text inputs in regular files and for the bands of a text
// output, where there are any.
bool poolHasWork(const RunContext& run) {
  return run.threads > 1 &&
         (run.grid1.encoding == GridEncoding::text || run.grid2.encoding == GridEncoding::text ||
          run.output.encoding == GridEncoding::text);
}

// Bands of the output's rows: for a text output that the pool formats, and for any output whose
// statistics a lane adds beside the writes. The lane pays from four threads on: with fewer, it
// only takes turns with the readers and the main thread (a run of two single-precision grids on
// two processors took 20 to 40 % longer with it). It reads the products while the main thread
// writes them, which a double-precision output on a big-endian CPU turns around in place.
void setUpBands(RunContext& run, std::size_t count) {
  const bool text = textBandsFit(run.output, run.working.ncols, run.pool);
  const bool binary = isBinary(run.output.encoding);
  const bool lane = run.threads >= 4 && (text || binary) &&
                    (std::endian::native == std::endian::little ||
                     run.output.encoding != GridEncoding::double_precision);
  if (!(text || lane) || !prepareBands(run.bands, count, run.output, run.working.ncols, run.pool,
                                       text))
    return;
  if (lane && startLane(run.lane, run.statistics, count)) run.bands.lane = &run.lane;
  if (!text && run.bands.lane == nullptr) run.bands.ring.clear();  // nothing for bands to do
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
    run.output.textChunk.reset(new (std::nothrow) char[textChunkSize]);
    if (!run.output.textChunk) failNoMemory(ncols);
  }
  prepareReadAhead(run.ahead1, run.grid1, run.working);
  prepareReadAhead(run.ahead2, run.grid2, run.working);
  // Every thread keeps a piece of each text input and a band in work, and one more of each
  // waits, so that no thread runs out of jobs while the main thread uses the results.
  const std::size_t inFlight = run.threads + 1;
  if (poolHasWork(run)) startPool(run.pool, run.threads - 1, pieceScanBuffer(defaultPieceBytes));
  startPieces(run.ahead1, run.pool, inFlight);
  startPieces(run.ahead2, run.pool, inFlight);
  setUpBands(run, inFlight);
  startReader(run.ahead1, run.threads);
  startReader(run.ahead2, run.threads);
}

bool inBands(const RunContext& run) { return !run.bands.ring.empty(); }

// Writes the row of products at once, unless it goes out in a text band. A text row written
// alone is the output's own row.
void writeRow(RunContext& run, double* product) {
  if (run.bands.text) return;
  if (isBinary(run.output.encoding))
    writeBinaryRow(run.output, product, run.floatRow.get(), run.working.ncols, run.row);
  else writeTextRow(run.output, run.working.ncols, run.row);
  say(".");
}

// Where an input has no row `row`: the rows before it are written first, as they would have
// been before it was read, then the failure is reported.
[[noreturn]] void failInRow(RunContext& run, const ReadAhead& ahead) {
  if (inBands(run)) writeBands(run.bands);
  reportFailure(ahead);
}

void processRows(RunContext& run) {
  for (run.row = 1; run.row <= run.working.nrows; ++run.row) {
    // Before waiting for an input's row, the rows formed are written, as they would have been
    // before it was read: a failing write is never held back by a slow or silent pipe.
    if (run.bands.text && !(rowAtHand(run.ahead1) && rowAtHand(run.ahead2)))
      writeBands(run.bands);
    const double* row1 = takeRow(run.ahead1);
    if (row1 == nullptr) failInRow(run, run.ahead1);
    const double* row2 = takeRow(run.ahead2);
    if (row2 == nullptr) failInRow(run, run.ahead2);
    // The products go into their band where there are bands, else into the output's row; the
    // statistics are added by the lane where it runs.
    double* const product = inBands(run) ? bandRow(run.bands, run.row) : run.output.row.get();
    if (laneRuns(run.lane)) multiplyCells(run.working, row1, row2, product);
    else multiplyRow(run.working, row1, row2, product, run.statistics);
    writeRow(run, product);
    if (inBands(run)) rowFormed(run.bands);
  }
  if (inBands(run)) writeBands(run.bands);
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
  finishReadAhead(run.ahead1);
  finishReadAhead(run.ahead2);
  stopLane(run.lane);  // every product added
  stopPool(run.pool);
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
  ignoreBrokenPipes();
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
