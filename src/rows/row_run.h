// The rows of a run: the values of both inputs in chunks (inputs.h), their products in bands
// formed by the pool and written by the writer (output_bands.h). The main thread keeps the order
// and little else: it takes the chunks in order and places their values at the run's cells, gives
// the bands, takes them back in order to add their products to the statistics (one chain in row
// order) and hand them to the writer, prints a dot for each row written, and reports a failure
// where the one-thread run would: after the rows before it are written, whatever thread met it.
// Where it has nothing else to do it does a queued job itself.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "arith/statistics.h"
#include "grid/grid.h"
#include "rows/inputs.h"
#include "rows/job_ring.h"
#include "rows/output_bands.h"
#include "rows/work_pool.h"

struct RowRun {
  RowLock lock;
  WorkPool pool;
  std::array<InputRows, 2> inputs;  // grid 1's and grid 2's
  OutputBands bands;
  std::uint64_t cells = 0;  // the run's: nrows x columns
  std::size_t columns = 0;
  bool streams = false;  // an input is a stream, whose rows may come slowly
  // The main thread's place: cells given to bands, bands taken back (and the cells they cover),
  // bands written, rows shown with their dots.
  std::uint64_t banded = 0;
  std::uint64_t bandsTaken = 0;
  std::uint64_t takenCells = 0;
  std::uint64_t bandsWritten = 0;
  std::uint64_t rowsShown = 0;
  std::optional<CaughtFailure> bandFailure;  // a band's job that failed, at bandsTaken

  RowRun() = default;
  RowRun(const RowRun&) = delete;
  RowRun& operator=(const RowRun&) = delete;
  ~RowRun();
};

// Sets up the rows of a run of `threads` threads, rows of ncols columns (at least 1): the memory
// of a run on one thread first (status 3 where it cannot be had); then, with more threads, the
// pieces of inputs in regular files, readers of streams, more bands and the threads, each only
// where it can be had.
void prepareRowRun(RowRun& run, GridInput& grid1, GridInput& grid2, GridOutput& output,
                   const GridParameters& working, unsigned threads,
                   std::size_t pieceBytes = defaultPieceBytes);

// Multiplies and writes every row, a dot after each, adding the products to `statistics` in row
// order where it is given; ends the run at the first failure in row order.
void runRows(RowRun& run, ProductStatistics* statistics);

// Ends every thread of the rows (once the jobs they are doing are done) and closes the files of
// the pieces; also after a failure. The destructor does it too.
void finishRowRun(RowRun& run);
