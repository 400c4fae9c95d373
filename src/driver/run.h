// One run of the tool: the run state and the fixed sequence of its phases.
#pragma once

#include <cstdint>

#include "arith/statistics.h"
#include "grid/grid.h"
#include "rows/output_bands.h"
#include "rows/row_source.h"
#include "rows/work_pool.h"

struct RunContext {
  GridInput grid1;
  GridInput grid2;
  GridOutput output;
  GridParameters working;  // grid 1's parameters, which both inputs are read with
  unsigned threads = 1;    // the threads the run may use, the main thread among them
  WorkPool pool;           // the threads beside the main thread, for pieces and bands
  RowSource rows1, rows2;  // the rows of grid 1 and grid 2
  OutputBands bands;       // a text output's rows, formatted side by side
  CallocArray<float> floatRow;  // staging for single-precision output rows, positions 1 to ncols
  std::int32_t row = 0;
  ProductStatistics statistics;  // of a binary output, whose header holds them
};

// Runs the tool on the command line; returns 0 after a complete run, and ends the process
// with the status of the failure otherwise.
int runCellprod(int argc, char** argv);
