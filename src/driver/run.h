// One run of the tool: the run state and the fixed sequence of its phases.
#pragma once

#include <cstdint>

#include "arith/statistics.h"
#include "driver/read_ahead.h"
#include "driver/output_bands.h"
#include "driver/statistics_lane.h"
#include "driver/work_pool.h"
#include "grid/grid.h"

struct RunContext {
  GridInput grid1;
  GridInput grid2;
  GridOutput output;
  GridParameters working;  // grid 1's parameters, which both inputs are read with
  unsigned threads = 1;    // the threads the run may use, the main thread among them
  WorkPool pool;           // the threads beside the main thread, for pieces and bands
  ReadAhead ahead1, ahead2;     // the rows of grid 1 and grid 2, read ahead
  OutputBands bands;            // the output's rows, worked on side by side
  StatisticsLane lane;          // the statistics, added beside the writes
  CallocArray<float> floatRow;  // staging for single-precision output rows, positions 1 to ncols
  std::int32_t row = 0;
  ProductStatistics statistics;
};

// Runs the tool on the command line; returns 0 after a complete run, and ends the process
// with the status of the failure otherwise.
int runCellprod(int argc, char** argv);
