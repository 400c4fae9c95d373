// One run of the tool: the run state and the fixed sequence of its phases.
#pragma once

#include <cstdint>

#include "arith/statistics.h"
#include "grid/grid.h"

struct RunContext {
  GridInput grid1;
  GridInput grid2;
  GridOutput output;
  CallocArray<float> floatRow;  // staging for single-precision rows, positions 1 to ncols
  std::int32_t row = 0;
  ProductStatistics statistics;
};

// Runs the tool on the command line; returns 0 after a complete run, and ends the process
// with the status of the failure otherwise.
int runCellprod(int argc, char** argv);
