#include "driver/read_ahead.h"

#include <algorithm>     // clamp, copy_n, max, min
#include <cstdlib>       // calloc

#include "grid/binary_grid.h"
#include "grid/messages.h"
#include "grid/text_grid.h"
#include "grid/text_pieces.h"
#include "platform/os.h"
#include "platform/threads.h"

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

void readPiece(void* data, WorkerScratch& scratch) {
  PieceSlot& slot = *static_cast<PieceSlot*>(data);
  readTextPiece(*slot.source, slot.index, scratch.scanner, slot.piece);
}

void givePiece(PiecedRows& pieces, std::size_t index) {
  PieceSlot& slot = pieces.slots[index % pieces.slots.size()];
  slot.index = index;
  giveJob(*pieces.pool, slot.job, readPiece, &slot);
}

// The failure of a row that the input ends in, after `got` of its values.
void endRows(ReadAhead& ahead, std::size_t got) {
  const Failure failure = rowReadFailure(ahead.grid->name, ahead.nextRow, got);
  ahead.failure = CaughtFailure{failure.status, failure.text, false};
}

// The next row from the pieces: where it lies within one, its values there; else gathered into
// the row of its own. A piece is given back to the pool, for the piece a ring later, once its
// values are used.
const double* takePiecedRow(ReadAhead& ahead) {
  PiecedRows& pieces = ahead.pieces;
  const std::size_t need = ahead.columns;
  double* const row = pieces.row.get();
  std::size_t got = 0;
  for (;;) {
    PieceSlot& slot = pieces.slots[pieces.current % pieces.slots.size()];
    if (pieces.used == 0) finishJob(*pieces.pool, slot.job);
    TextPiece& piece = slot.piece;
    const std::size_t left = piece.count - pieces.used;
    if (got == 0 && left >= need) {
      pieces.used += need;
      ++ahead.nextRow;
      return piece.values.get() + (pieces.used - need);
    }
    const std::size_t n = std::min(left, need - got);
    std::copy_n(piece.values.get() + 1 + pieces.used, n, row + 1 + got);
    pieces.used += n;
    got += n;
    if (got == need) {
      ++ahead.nextRow;
      return row;
    }
    if (piece.more) {
      continueTextPiece(pieces.source, pieces.pool->scratch.back().scanner, piece);
      pieces.used = 0;
      continue;
    }
    if (piece.last) {
      endRows(ahead, got);
      return nullptr;
    }
    givePiece(pieces, pieces.current + pieces.slots.size());
    ++pieces.current;
    pieces.used = 0;
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

bool startPieces(ReadAhead& ahead, WorkPool& pool, std::size_t slotCount) {
  if (ahead.rows == 0 || ahead.columns == 0 || pool.threads.empty()) return false;
  PiecedRows& pieces = ahead.pieces;
  pieces.source = textRowsSource(*ahead.grid, kernelsForThisCpu().readNumbers);
  if (pieces.source.file == nullptr) return false;
  pieces.row.reset(static_cast<double*>(std::calloc(ahead.columns + 1, sizeof(double))));
  std::vector<PieceSlot> slots;
  catchFailure([&] { slots.resize(slotCount); });
  bool whole = pieces.row != nullptr && slots.size() == slotCount;
  for (PieceSlot& slot : slots) {
    if (!whole) break;
    slot.source = &pieces.source;
    slot.piece.values.reset(static_cast<double*>(
        std::calloc(pieceValues(pieces.source.pieceBytes) + 1, sizeof(double))));
    whole = slot.piece.values != nullptr;
  }
  if (!whole) {
    pieces.row.reset();
    return false;
  }
  pieces.slots = std::move(slots);
  pieces.pool = &pool;
  for (std::size_t i = 0; i < slotCount; ++i) givePiece(pieces, i);
  return true;
}

void startReader(ReadAhead& ahead, unsigned threads) {
  // With one thread, threads would only take turns, and rows read far ahead would leave the
  // caches.
  if (ahead.rows == 0 || threads < 2 || !ahead.pieces.slots.empty()) return;
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
  // Where the thread cannot be had, the main thread reads alone.
  if (!startThread(ahead.thread, readRows, std::ref(ahead))) keepOneBlock(ahead);
}

const double* takeRow(ReadAhead& ahead) {
  if (!ahead.pieces.slots.empty()) return takePiecedRow(ahead);
  for (;;) {
    if (ahead.holding) {
      RowBlock& block = ahead.blocks[ahead.givenBack % ahead.blockCount];
      if (ahead.nextInBlock < block.filled) return rowIn(ahead, block, ahead.nextInBlock++);
      if (block.failure) {
        ahead.failure = block.failure;
        return nullptr;
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

bool rowAtHand(ReadAhead& ahead) {
  if (!ahead.thread.joinable()) return true;
  if (ahead.holding && ahead.nextInBlock < ahead.blocks[ahead.givenBack % ahead.blockCount].filled)
    return true;
  std::lock_guard lock(ahead.mutex);
  return ahead.handedOver > ahead.givenBack + (ahead.holding ? 1 : 0);
}

void reportFailure(const ReadAhead& ahead) {
  if (ahead.failure->outOfMemory) failNoMemory();
  fail(ahead.failure->status, ahead.failure->message);
}

void finishReadAhead(ReadAhead& ahead) {
  {
    std::lock_guard lock(ahead.mutex);
    ahead.stopped = true;
  }
  ahead.changed.notify_all();
  if (ahead.thread.joinable()) ahead.thread.join();
}
