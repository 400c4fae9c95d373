#include "driver/read_ahead.h"

#include <algorithm>     // clamp, min
#include <cstdlib>       // calloc
#include <system_error>  // system_error

#include "grid/binary_grid.h"
#include "grid/messages.h"
#include "grid/text_grid.h"

namespace {

// A block holds about blockBytes of rows, so that short rows are handed over many at a time;
// the queue holds about queueBytes, and at least one row however wide. Memory so stays flat in
// nrows.
constexpr std::size_t blockBytes = std::size_t{512} << 10;
constexpr std::size_t queueBytes = std::size_t{2} << 20;
constexpr std::size_t maxBlocks = queueBytes / blockBytes;

double* rowIn(const ReadAhead& ahead, RowBlock& block, std::size_t index) {
  return block.values.get() + index * ahead.stride;
}

// Reads rows into the block until it is full, the rows end, or a row fails: that failure then
// takes the place of the row after the ones read.
void fillBlock(ReadAhead& ahead, RowBlock& block) {
  GridInput& grid = *ahead.grid;
  block.filled = 0;
  block.failure = catchFailure([&] {
    for (; block.filled < ahead.rowsPerBlock && ahead.nextRow <= ahead.rows;
         ++block.filled, ++ahead.nextRow) {
      double* row = rowIn(ahead, block, block.filled);
      if (grid.encoding == GridEncoding::text) readTextRow(grid, row, ahead.nextRow);
      else readBinaryRow(grid, row, ahead.floatRow.get(), ahead.nextRow);
    }
  });
}

bool readerEnded(const ReadAhead& ahead, const RowBlock& last) {
  return last.failure.has_value() || ahead.nextRow > ahead.rows;
}

// The reader thread: fills each block that is free, in turn, until the rows or a failure end.
void readRows(ReadAhead& ahead) {
  for (;;) {
    RowBlock* block;
    {
      std::unique_lock lock(ahead.mutex);
      ahead.changed.wait(lock,
                         [&] { return ahead.handedOver - ahead.givenBack < ahead.blocks.size(); });
      block = &ahead.blocks[ahead.handedOver % ahead.blocks.size()];
    }
    fillBlock(ahead, *block);
    const bool ended = readerEnded(ahead, *block);
    {
      std::lock_guard lock(ahead.mutex);
      ++ahead.handedOver;
    }
    ahead.changed.notify_all();
    if (ended) return;
  }
}

}  // namespace

void startReadAhead(ReadAhead& ahead, GridInput& grid, double nrows) {
  ahead.grid = &grid;
  ahead.rows = nrows < 1 ? 0 : static_cast<std::int32_t>(nrows);  // nrows < 2^31 - 1 here
  if (ahead.rows == 0) return;
  const double ncols = grid.working.ncols;
  ahead.stride = columnCount(ncols) + 1;
  const std::size_t rowBytes = ahead.stride * sizeof(double);
  ahead.rowsPerBlock =
      std::clamp<std::size_t>(blockBytes / rowBytes, 1, static_cast<std::size_t>(ahead.rows));
  ahead.blocks.resize(
      std::clamp<std::size_t>(queueBytes / (ahead.rowsPerBlock * rowBytes), 1, maxBlocks));
  for (RowBlock& block : ahead.blocks) {
    block.values.reset(
        static_cast<double*>(std::calloc(ahead.rowsPerBlock * ahead.stride, sizeof(double))));
    if (!block.values) fail(noMemoryFailure(ncols));
  }
  if (grid.encoding == GridEncoding::single) {
    ahead.floatRow.reset(static_cast<float*>(std::calloc(ahead.stride, sizeof(float))));
    if (!ahead.floatRow) fail(noMemoryFailure(ncols));
  }
  try {
    ahead.thread = std::thread(readRows, std::ref(ahead));
  } catch (const std::system_error&) {
    // No thread to be had: takeRow() reads each block itself when it needs it.
  }
}

double* takeRow(ReadAhead& ahead) {
  for (;;) {
    if (ahead.holding) {
      RowBlock& block = ahead.blocks[ahead.givenBack % ahead.blocks.size()];
      if (ahead.nextInBlock < block.filled) return rowIn(ahead, block, ahead.nextInBlock++);
      if (block.failure) fail(block.failure->status, block.failure->message);
      {
        std::lock_guard lock(ahead.mutex);
        ++ahead.givenBack;
      }
      ahead.changed.notify_all();
      ahead.holding = false;
    }
    if (ahead.thread.joinable()) {
      std::unique_lock lock(ahead.mutex);
      ahead.changed.wait(lock, [&] { return ahead.handedOver > ahead.givenBack; });
    } else {
      fillBlock(ahead, ahead.blocks[ahead.handedOver++ % ahead.blocks.size()]);
    }
    ahead.holding = true;
    ahead.nextInBlock = 0;
  }
}

void finishReadAhead(ReadAhead& ahead) {
  if (ahead.thread.joinable()) ahead.thread.join();
}
