#include "rows/row_source.h"

#include <algorithm>  // clamp, copy_n, max, min
#include <cstdlib>    // calloc

#include "grid/binary_grid.h"
#include "grid/messages.h"
#include "grid/text_grid.h"
#include "platform/threads.h"

namespace {

// Row `index` of a block: its positions 1 to ncols.
double* rowIn(const RowSource& source, RowBlock& block, std::size_t index) {
  return block.values.get() + index * source.columns;
}

// The values a block holds: rowsPerBlock rows, and position 0.
std::size_t blockValues(const RowSource& source) {
  return source.rowsPerBlock * source.columns + 1;
}

// A zero-filled block, or null.
CallocArray<double> allocateBlock(const RowSource& source) {
  return CallocArray<double>(
      static_cast<double*>(std::calloc(blockValues(source), sizeof(double))));
}

// Reads the next rows into the block, as many as it holds and the grid has left, with one
// read of all their values; from a stream, the rows after the first only as far as their bytes
// have come. The main thread, which reads alone, shows the rows it has finished before it waits
// for a slow writer. A row that fails takes the failure's place after the rows read whole.
void fillBlock(RowSource& source, RowBlock& block, bool mainThread) {
  GridInput& grid = *source.grid;
  const auto left = static_cast<std::size_t>(source.rows - source.nextRow + 1);
  RowRange rows{block.values.get(), source.columns, source.nextRow,
                std::min(source.rowsPerBlock, left)};
  rows.asTheyCome = grid.streamed;
  if (mainThread) rows.beforeWait = showProgressNow;
  block.failure = catchFailure([&] {
    if (grid.encoding == GridEncoding::text) readTextRows(grid, rows);
    else readBinaryRows(grid, rows, source.staging.get());
  });
  block.filled = rows.done;
  source.nextRow += static_cast<std::int32_t>(rows.done);
}

// Fills the next free block of the ring and hands it over; false where the rows have ended
// (read whole, or a failure took a row's place) or the main thread takes no more. A block of a
// stream holds the rows whose bytes have come, at least one.
bool readBlock(RowSource& source, bool mainThread) {
  std::size_t filled = 0;
  if (!waitForFreePlace(source.ring, filled)) return false;
  RowBlock& block = source.blocks[filled % source.ring.places];
  fillBlock(source, block, mainThread);
  handOver(source.ring);
  return !block.failure && source.nextRow <= source.rows;
}

// The reader thread: reads block after block until the rows end or the main thread stops it.
void readRows(RowSource& source) {
  while (readBlock(source, false)) {}
}

void doPieceJob(void* data, WorkerScratch& scratch) {
  PieceJob& work = *static_cast<PieceJob*>(data);
  if (work.resume) continuePiece(*work.source, work.index, scratch.scanner, work.piece);
  else readPiece(*work.source, work.index, scratch.scanner, work.piece);
}

void givePiece(PiecedRows& pieces, std::size_t index, bool resume) {
  PieceJob& work = pieces.ring[index % pieces.ring.size()];
  work.index = index;
  work.resume = resume;
  giveJob(*pieces.pool, work.job, doPieceJob, &work);
}

// The failure of the row that the input ends in, after `got` of its values.
void failRowAfter(RowSource& source, std::size_t got) {
  const Failure failure = rowReadFailure(source.grid->name, source.nextRow, got);
  source.failure = CaughtFailure{failure.status, failure.text, false};
}

// The next row from the pieces: where it lies within one, its values there; else gathered into
// the row of its own. A piece is given back to the pool, for the piece a ring later, once its
// values are used; one whose values were full is read on first.
const double* takePiecedRow(RowSource& source) {
  PiecedRows& pieces = source.pieces;
  const std::size_t need = source.columns;
  double* const row = pieces.row.get();
  std::size_t got = 0;
  for (;;) {
    PieceJob& work = pieces.ring[pieces.current % pieces.ring.size()];
    if (pieces.used == 0) finishJob(*pieces.pool, work.job);
    Piece& piece = work.piece;
    const std::size_t left = piece.count - pieces.used;
    if (got == 0 && left >= need) {
      pieces.used += need;
      ++source.nextRow;
      return piece.values.get() + (pieces.used - need);
    }
    const std::size_t n = std::min(left, need - got);
    std::copy_n(piece.values.get() + 1 + pieces.used, n, row + 1 + got);
    pieces.used += n;
    got += n;
    if (got == need) {
      ++source.nextRow;
      return row;
    }
    pieces.used = 0;
    if (piece.valuesFull) {
      givePiece(pieces, pieces.current, true);
      continue;
    }
    if (piece.endsInput) {
      failRowAfter(source, got);
      return nullptr;
    }
    givePiece(pieces, pieces.current + pieces.ring.size(), false);
    ++pieces.current;
  }
}

// Back to the one block the main thread reads alone.
void keepOneBlock(RowSource& source) {
  for (std::size_t i = 1; i < source.ring.places; ++i) source.blocks[i].values.reset();
  source.ring.places = 1;
}

// Memory for the pieces: a row that spans pieces, and the ring of pieces with their values.
bool allocatePieces(PiecedRows& pieces, std::size_t columns, std::size_t count,
                    std::size_t values) {
  pieces.row.reset(static_cast<double*>(std::calloc(columns + 1, sizeof(double))));
  catchFailure([&] { pieces.ring.resize(count); });
  bool allocated = pieces.row != nullptr && pieces.ring.size() == count;
  for (PieceJob& work : pieces.ring) {
    if (!allocated) break;
    work.source = &pieces.source;
    work.piece.values.reset(static_cast<double*>(std::calloc(values + 1, sizeof(double))));
    allocated = work.piece.values != nullptr;
  }
  return allocated;
}

}  // namespace

void prepareRowSource(RowSource& source, GridInput& grid, const GridParameters& working) {
  source.grid = &grid;
  const double nrows = working.nrows, ncols = working.ncols;
  source.rows = nrows < 1 ? 0 : static_cast<std::int32_t>(nrows);  // nrows < 2^31 - 1 here
  if (source.rows == 0) return;
  source.columns = columnCount(ncols);
  const std::size_t rowBytes = std::max<std::size_t>(source.columns, 1) * sizeof(double);
  source.rowsPerBlock =
      std::clamp<std::size_t>(blockBytes / rowBytes, 1, static_cast<std::size_t>(source.rows));
  source.blocks[0].values = allocateBlock(source);
  if (!source.blocks[0].values) failNoMemory(ncols);
  source.ring.places = 1;
  if (grid.encoding == GridEncoding::single) {
    source.staging.reset(static_cast<float*>(std::calloc(blockValues(source), sizeof(float))));
    if (!source.staging) failNoMemory(ncols);
  }
}

bool startPieces(RowSource& source, WorkPool& pool, unsigned threads, std::size_t pieceBytes) {
  if (source.rows == 0 || source.columns == 0 || !poolStarted(pool)) return false;
  PiecedRows& pieces = source.pieces;
  const std::size_t values = pieceValues(source.grid->encoding, pieceBytes);
  if (allocatePieces(pieces, source.columns, jobsPerUser(threads), values)) {
    pieces.source = pieceSource(*source.grid, kernelsForThisCpu().readNumbers);
    pieces.source.pieceBytes = pieceBytes;
  }
  if (!pieces.source.open) {
    pieces.row.reset();
    pieces.ring.clear();
    return false;
  }
  pieces.pool = &pool;
  for (std::size_t i = 0; i < pieces.ring.size(); ++i) givePiece(pieces, i, false);
  return true;
}

void startReader(RowSource& source, unsigned threads) {
  // With one thread, threads would only take turns, and rows read far ahead would leave the
  // caches.
  if (source.rows == 0 || threads < 2 || !source.pieces.ring.empty()) return;
  const std::size_t blockSize =
      source.rowsPerBlock * std::max<std::size_t>(source.columns, 1) * sizeof(double);
  const std::size_t blocksOfRows =
      (static_cast<std::size_t>(source.rows) + source.rowsPerBlock - 1) / source.rowsPerBlock;
  const std::size_t wanted =
      std::min(blocksOfRows, std::clamp<std::size_t>(ringBytes / blockSize, 1, maxBlocks));
  for (; source.ring.places < wanted; ++source.ring.places) {
    source.blocks[source.ring.places].values = allocateBlock(source);
    if (!source.blocks[source.ring.places].values) return keepOneBlock(source);
  }
  // Where the thread cannot be had, the main thread reads alone.
  if (!startThread(source.thread, readRows, std::ref(source))) keepOneBlock(source);
}

const double* takeRow(RowSource& source) {
  if (!source.pieces.ring.empty()) return takePiecedRow(source);
  HandOver& ring = source.ring;
  for (;;) {
    if (source.holdsBlock) {
      RowBlock& block = source.blocks[ring.given % ring.places];
      if (source.nextInBlock < block.filled) return rowIn(source, block, source.nextInBlock++);
      if (block.failure) {
        source.failure = block.failure;
        return nullptr;
      }
      giveBack(ring);
      source.holdsBlock = false;
    }
    if (source.thread.joinable()) {
      // Rows finished before a wait for a slow writer are shown first.
      if (!placesFilled(ring)) showProgressNow();
      waitForFilledPlace(ring);
    } else {
      readBlock(source, true);
    }
    source.holdsBlock = true;
    source.nextInBlock = 0;
  }
}

bool rowAtHand(RowSource& source) {
  if (!source.thread.joinable()) return true;
  if (source.holdsBlock &&
      source.nextInBlock < source.blocks[source.ring.given % source.ring.places].filled)
    return true;
  return placesFilled(source.ring, source.holdsBlock ? 1 : 0);
}

void reportFailure(const RowSource& source) {
  if (source.failure->outOfMemory) failNoMemory();
  fail(source.failure->status, source.failure->message);
}

void finishRowSource(RowSource& source) {
  stopHandOver(source.ring);
  if (source.thread.joinable()) source.thread.join();
  closePieceSource(source.pieces.source);
}
