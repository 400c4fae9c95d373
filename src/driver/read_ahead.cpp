#include "driver/read_ahead.h"

#include <algorithm>     // clamp, max, min
#include <cstdlib>       // calloc
#include <system_error>  // system_error

#include "grid/binary_grid.h"
#include "grid/messages.h"
#include "grid/text_grid.h"
#include "platform/os.h"

namespace {

// A block holds about blockBytes of rows, so that short rows are handed over many at a time;
// the queue holds about queueBytes, and at least one row however wide. Memory so stays flat in
// nrows. Without a reader thread, the main thread reads one block of about localBlockBytes at
// a time, which stays in the caches until it is used.
constexpr std::size_t blockBytes = std::size_t{512} << 10;
constexpr std::size_t queueBytes = std::size_t{2} << 20;
constexpr std::size_t maxBlocks = queueBytes / blockBytes;
constexpr std::size_t localBlockBytes = std::size_t{32} << 10;

// Row `index` of a block: its positions 1 to ncols.
double* rowIn(const ReadAhead& ahead, RowBlock& block, std::size_t index) {
  return block.values.get() + index * ahead.columns;
}

// Reads the next rows into the block, as many as it holds and the grid has left, with one
// read of all their values. A row that fails takes the failure's place after the rows read
// whole.
void fillBlock(ReadAhead& ahead, RowBlock& block) {
  GridInput& grid = *ahead.grid;
  const auto left = static_cast<std::size_t>(ahead.rows - ahead.nextRow + 1);
  RowRange rows{block.values.get(), ahead.nextRow, std::min(ahead.rowsPerBlock, left)};
  block.failure = catchFailure([&] {
    if (grid.encoding == GridEncoding::text) readTextRows(grid, rows);
    else readBinaryRows(grid, rows, ahead.staging.get());
  });
  block.filled = rows.done;
  ahead.nextRow += static_cast<std::int32_t>(rows.done);
}

bool readerEnded(const ReadAhead& ahead, const RowBlock& last) {
  return last.failure.has_value() || ahead.nextRow > ahead.rows;
}

// The reader thread: fills each block that is free, in turn, until the rows or a failure end,
// or the main thread stops it.
void readRows(ReadAhead& ahead) {
  for (;;) {
    RowBlock* block;
    {
      std::unique_lock lock(ahead.mutex);
      ahead.changed.wait(lock, [&] {
        return ahead.stopped || ahead.handedOver - ahead.givenBack < ahead.blocks.size();
      });
      if (ahead.stopped) return;
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
  ahead.columns = columnCount(ncols);
  const std::size_t rowBytes = std::max<std::size_t>(ahead.columns, 1) * sizeof(double);
  // With one processor to run on, threads would only take turns, and rows read far ahead
  // would leave the caches: the main thread then reads the rows itself when it needs them.
  const bool threaded = usableProcessors() > 1;
  ahead.rowsPerBlock = std::clamp<std::size_t>((threaded ? blockBytes : localBlockBytes) / rowBytes,
                                               1, static_cast<std::size_t>(ahead.rows));
  const std::size_t blockCount = queueBytes / (ahead.rowsPerBlock * rowBytes);
  ahead.blocks.resize(threaded ? std::clamp<std::size_t>(blockCount, 1, maxBlocks) : 1);
  const std::size_t blockValues = ahead.rowsPerBlock * ahead.columns + 1;
  for (RowBlock& block : ahead.blocks) {
    block.values.reset(static_cast<double*>(std::calloc(blockValues, sizeof(double))));
    if (!block.values) fail(noMemoryFailure(ncols));
  }
  if (grid.encoding == GridEncoding::single) {
    ahead.staging.reset(static_cast<float*>(std::calloc(blockValues, sizeof(float))));
    if (!ahead.staging) fail(noMemoryFailure(ncols));
  }
  if (!threaded) return;
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
  {
    std::lock_guard lock(ahead.mutex);
    ahead.stopped = true;
  }
  ahead.changed.notify_all();
  if (ahead.thread.joinable()) ahead.thread.join();
}
