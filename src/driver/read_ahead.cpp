#include "driver/read_ahead.h"

#include <algorithm>     // clamp, max, min
#include <cstdlib>       // calloc
#include <new>           // bad_alloc
#include <system_error>  // system_error

#include "grid/binary_grid.h"
#include "grid/messages.h"
#include "grid/text_grid.h"
#include "platform/os.h"

namespace {

// Row `index` of a block: its positions 1 to ncols.
double* rowIn(const ReadAhead& ahead, RowBlock& block, std::size_t index) {
  return block.values.get() + index * ahead.columns;
}

// The values a block holds: rowsPerBlock rows, and position 0.
std::size_t blockValues(const ReadAhead& ahead) { return ahead.rowsPerBlock * ahead.columns + 1; }

// A zero-filled block, or null.
CallocArray<double> allocateBlock(const ReadAhead& ahead) {
  return CallocArray<double>(static_cast<double*>(std::calloc(blockValues(ahead), sizeof(double))));
}

// Reads the next rows into the block, as many as it holds and the grid has left, with one
// read of all their values. A row that fails takes the failure's place after the rows read
// whole.
void fillBlock(ReadAhead& ahead, RowBlock& block) {
  GridInput& grid = *ahead.grid;
  const auto left = static_cast<std::size_t>(ahead.rows - ahead.nextRow + 1);
  RowRange rows{block.values.get(), ahead.columns, ahead.nextRow,
                std::min(ahead.rowsPerBlock, left)};
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
        return ahead.stopped || ahead.handedOver - ahead.givenBack < ahead.blockCount;
      });
      if (ahead.stopped) return;
      block = &ahead.blocks[ahead.handedOver % ahead.blockCount];
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

// Back to the one block the main thread reads alone.
void keepOneBlock(ReadAhead& ahead) {
  for (std::size_t i = 1; i < ahead.blockCount; ++i) ahead.blocks[i].values.reset();
  ahead.blockCount = 1;
}

}  // namespace

void prepareReadAhead(ReadAhead& ahead, GridInput& grid, const GridParameters& working) {
  ahead.grid = &grid;
  const double nrows = working.nrows, ncols = working.ncols;
  ahead.rows = nrows < 1 ? 0 : static_cast<std::int32_t>(nrows);  // nrows < 2^31 - 1 here
  if (ahead.rows == 0) return;
  ahead.columns = columnCount(ncols);
  const std::size_t rowBytes = std::max<std::size_t>(ahead.columns, 1) * sizeof(double);
  ahead.rowsPerBlock =
      std::clamp<std::size_t>(blockBytes / rowBytes, 1, static_cast<std::size_t>(ahead.rows));
  ahead.blocks[0].values = allocateBlock(ahead);
  if (!ahead.blocks[0].values) failNoMemory(ncols);
  ahead.blockCount = 1;
  if (grid.encoding == GridEncoding::single) {
    ahead.staging.reset(static_cast<float*>(std::calloc(blockValues(ahead), sizeof(float))));
    if (!ahead.staging) failNoMemory(ncols);
  }
}

void startReader(ReadAhead& ahead) {
  // With one processor, threads would only take turns, and rows read far ahead would leave the
  // caches.
  if (ahead.rows == 0 || usableProcessors() < 2) return;
  const std::size_t blockSize =
      ahead.rowsPerBlock * std::max<std::size_t>(ahead.columns, 1) * sizeof(double);
  const std::size_t blocksOfRows =
      (static_cast<std::size_t>(ahead.rows) + ahead.rowsPerBlock - 1) / ahead.rowsPerBlock;
  const std::size_t wanted =
      std::min(blocksOfRows, std::clamp<std::size_t>(ringBytes / blockSize, 1, maxBlocks));
  for (; ahead.blockCount < wanted; ++ahead.blockCount) {
    ahead.blocks[ahead.blockCount].values = allocateBlock(ahead);
    if (!ahead.blocks[ahead.blockCount].values) return keepOneBlock(ahead);
  }
  // Memory for the thread that cannot be had is thrown here, as under catchFailure, rather than
  // ending the run: the main thread then reads alone.
  catchFailure([&] {
    try {
      ahead.thread = std::thread(readRows, std::ref(ahead));
    } catch (const std::system_error&) {}
  });
  if (!ahead.thread.joinable()) keepOneBlock(ahead);
}

double* takeRow(ReadAhead& ahead) {
  for (;;) {
    if (ahead.holding) {
      RowBlock& block = ahead.blocks[ahead.givenBack % ahead.blockCount];
      if (ahead.nextInBlock < block.filled) return rowIn(ahead, block, ahead.nextInBlock++);
      if (block.failure) {
        if (block.failure->outOfMemory) failNoMemory();
        fail(block.failure->status, block.failure->message);
      }
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
      fillBlock(ahead, ahead.blocks[ahead.handedOver++ % ahead.blockCount]);
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
