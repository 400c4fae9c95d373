// One run of the tool: the run state and the fixed sequence of its phases.
#pragma once

#include <cstdint>

#include "arith/statistics.h"
#include "grid/grid.h"
#include "rows/row_run.h"

struct RunContext {
  GridInput grid1;
  GridInput grid2;
  GridOutput output;
  GridParameters working;  // grid 1's parameters, which both inputs are read with
  unsigned threads = 1;    // the threads the run may use, the main thread among them
  ProductStatistics statistics;  // of a binary output, whose header holds them
  RowRun rows;                   // the row machinery, its threads ended before the records above go
};

// Runs the tool on the command line; returns 0 after a complete run, and ends the process
// with the status of the failure otherwise.
int runCellprod(int argc, char** argv);
