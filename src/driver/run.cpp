#include "driver/run.h"

#include <cmath>  // isfinite
#include <cstdint>
#include <cstdio>
#include <optional>
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
#include "rows/row_run.h"
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
  if (!usable) fail(unusableSizeFailure(grid1.name, ncols, nrows));
}

void writeHeader(RunContext& run) {
  if (isBinary(run.output.encoding)) writeBinaryHeader(run.output, run.grid1.header);
  else writeTextHeader(run.output, run.grid1.header);
}

// Every row, multiplied and written, a dot after each. Rows without columns have nothing to
// read or write: only their dots.
void processRows(RunContext& run) {
  run.statistics.resetStatistics(run.working.nodata_value);
  if (run.working.nrows < 1) return;
  if (columnCount(run.working.ncols) == 0) {
    for (std::int32_t row = 1; row <= run.working.nrows; ++row) say(".");
    return;
  }
  prepareRowRun(run.rows, run.grid1, run.grid2, run.output, run.working, run.threads);
  // Only a binary output's header holds the statistics: a text output's products skip them.
  runRows(run.rows, isBinary(run.output.encoding) ? &run.statistics : nullptr);
  finishRowRun(run.rows);
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

// Whether both inputs are regular files too small together for threads to gain on: their set-up
// (the threads, the memory of their pieces and bands) costs a few milliseconds. Below 8 MiB where
// one is text; below 32 MiB where both are binary, whose rows cost little more than their reads.
bool smallInputs(const GridInput& grid1, const GridInput& grid2) {
  const bool text = grid1.encoding == GridEncoding::text || grid2.encoding == GridEncoding::text;
  std::uint64_t bytes = 0;
  for (const GridInput* grid : {&grid1, &grid2}) {
    const std::optional<std::uint64_t> size = regularFileSize(grid->file);
    if (!size) return false;
    bytes += *size;
  }
  return bytes < (std::uint64_t{text ? 8u : 32u} << 20);
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
  // With threads to read on, an existing output is emptied meanwhile.
  run.threads = threadCount(smallInputs(run.grid1, run.grid2));
  openOutput(run.output, run.grid1, run.grid2, run.threads >= 2);
  readHeader(run.grid1);
  readHeader(run.grid2);
  checkCompatible(run.grid1, run.grid2);
  checkUsableSize(run.grid1);
  writeHeader(run);
  run.working = parametersOf(run.grid1.header);
  processRows(run);
  say("\n");
  // The statistics of the products replace the provisional block of a binary output.
  if (isBinary(run.output.encoding))
    writeStatisticsBlock(run.output, run.statistics.finalizeStatistics());

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
