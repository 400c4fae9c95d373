// The rows of an input read ahead on a thread of its own. The thread reads the rows in order,
// through the same readers as ever, into a bounded queue of blocks of rows; the main thread
// takes them one by one. A failure of the reader (a row cut short, a character that starts no
// number) takes the place of its row in the queue and is reported by the main thread when it
// comes to that row, so every message comes where the one-thread order puts it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "grid/grid.h"
#include "platform/console.h"

struct RowBlock {
  CallocArray<double> values;  // rows of ncols values one after the other from values[1] on
  std::size_t filled = 0;      // rows read into it
  std::optional<CaughtFailure> failure;  // the failure that took the place of the next row
};

struct ReadAhead {
  GridInput* grid = nullptr;
  std::int32_t rows = 0;    // rows 1 to rows are read
  std::size_t columns = 0;  // ncols
  std::size_t rowsPerBlock = 0;
  std::vector<RowBlock> blocks;  // a ring
  CallocArray<float> staging;    // the reader's staging for single-precision blocks
  std::int32_t nextRow = 1;      // the reader's next row
  // Blocks handed to the main thread, and given back by it, counted from the start. The
  // mutex and the condition guard both; each side waits without spinning.
  std::size_t handedOver = 0, givenBack = 0;
  bool stopped = false;  // the main thread no longer takes rows
  std::mutex mutex;
  std::condition_variable changed;
  // The reader; not started with one processor, or where the system refuses a thread: the
  // main thread then reads each block itself when it needs it.
  std::thread thread;
  // The main thread's place: whether it holds block givenBack, and the next row in it.
  bool holding = false;
  std::size_t nextInBlock = 0;
};

// Sets up the queue of grid's rows 1 to nrows (of grid.working.ncols columns) and starts its
// reader. Ends the run with status 3 if the queue cannot be allocated.
void startReadAhead(ReadAhead& ahead, GridInput& grid, double nrows);

// The next row of the input (positions 1 to ncols), which stays valid until the next call;
// where the reader met a failure in this row, reports it and ends the run.
double* takeRow(ReadAhead& ahead);

// Ends the reader: at once where it waits for a free block, else once the block it reads is
// read. After the last row, or before the run ends on a failure.
void finishReadAhead(ReadAhead& ahead);
