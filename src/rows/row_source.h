// The rows of one input, from one of two kinds of source.
// - An input that is a regular file, where the pool has threads: in pieces that the pool's
//   threads read by position side by side (pieces.h), whose values the main thread places one
//   piece after the other into rows.
// - A stream (a pipe, a FIFO, a terminal), and every input of a run on one thread: read in order
//   through its stream, in blocks of rows. With more than one thread a reader thread of its own
//   reads the blocks ahead and hands them over through a bounded ring (hand_over.h); with one
//   thread, or where the memory or the thread cannot be had, the main thread reads each block
//   itself when it needs it. A block of a stream ends early after the rows whose bytes have come
//   where the writer sends nothing more for now, so that each row is used as soon as it is whole,
//   by the main thread or the reader thread alike.
// A failure met ahead (a row cut short, a character that starts no number, a read that failed)
// takes the place of its row and is handed to the main thread when it comes to that row, so
// every message comes where the one-thread order puts it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <thread>
#include <vector>

#include "grid/grid.h"
#include "platform/console.h"
#include "rows/hand_over.h"
#include "rows/pieces.h"
#include "rows/work_pool.h"

struct RowBlock {
  CallocArray<double> values;  // rows of ncols values one after the other from values[1] on
  std::size_t filled = 0;      // rows read into it
  std::optional<CaughtFailure> failure;  // the failure that took the place of the next row
};

// A block holds about 32 KiB of rows (at least one row), which stay in the caches until the main
// thread uses them; the ring holds about 2 MiB of them. Memory so stays flat in nrows.
constexpr std::size_t blockBytes = std::size_t{32} << 10;
constexpr std::size_t ringBytes = std::size_t{2} << 20;
constexpr std::size_t maxBlocks = ringBytes / blockBytes;

// A piece and the job that reads it.
struct PieceJob {
  Piece piece;
  Job job;
  std::size_t index = 0;  // the piece it holds
  bool resume = false;    // read on where the piece's values were full
  const PieceSource* source = nullptr;
};

// The pieces of an input, given to the pool in order, a ring of them at a time.
struct PiecedRows {
  PieceSource source;
  WorkPool* pool = nullptr;
  std::vector<PieceJob> ring;  // piece i in ring[i % ring.size()]; empty unless used
  std::size_t current = 0;     // the piece the rows are taken from
  std::size_t used = 0;        // its values used
  CallocArray<double> row;     // a row that spans pieces, positions 1 to ncols
};

struct RowSource {
  GridInput* grid = nullptr;
  std::int32_t rows = 0;    // rows 1 to rows are read
  std::size_t columns = 0;  // ncols
  std::size_t rowsPerBlock = 0;
  std::array<RowBlock, maxBlocks> blocks;  // a ring of ring.places of them
  HandOver ring;                           // blocks read and handed to the main thread
  CallocArray<float> staging;              // the reader's staging for single-precision blocks
  std::int32_t nextRow = 1;                // the reader's next row
  std::thread thread;                      // the reader, if one runs
  // The main thread's place: whether it holds the oldest block filled, and the next row in it.
  bool holdsBlock = false;
  std::size_t nextInBlock = 0;
  PiecedRows pieces;
  std::optional<CaughtFailure> failure;  // what ended the rows, once takeRow has met it
};

// Sets up the reading of grid's rows 1 to nrows, of ncols columns (the run's parameters), in
// blocks, as the main thread reads them alone. Ends the run with status 3 if that memory cannot
// be had.
void prepareRowSource(RowSource& source, GridInput& grid, const GridParameters& working);

// Where the input is a regular file, sets up its reading in pieces of pieceBytes
// (smaller ones are for tests of the cuts) on the started pool, jobsPerUser(threads) of them
// given at a time, and gives the first. False where it is no such input or the memory cannot be
// had: the rows are then read as prepared. Decided before any byte is read by position.
bool startPieces(RowSource& source, WorkPool& pool, unsigned threads,
                 std::size_t pieceBytes = defaultPieceBytes);

// With more than one thread, adds blocks to the ring (as many as the rows fill, up to about
// 2 MiB) and starts the reader thread. Where either cannot be had the main thread reads alone, as
// prepared: a run never needs more memory than that.
void startReader(RowSource& source, unsigned threads);

// The next row of the input (positions 1 to ncols), which stays valid until the next call; null
// where the row cannot be read, with the failure in source.failure (reportFailure).
const double* takeRow(RowSource& source);

// False where takeRow would wait for the reader thread: for a pipe whose writer is slow or
// silent, which may never send the row.
bool rowAtHand(RowSource& source);

// Reports the failure that takeRow met and ends the run.
[[noreturn]] void reportFailure(const RowSource& source);

// Ends the reader after the last row: at once where it waits for a free block, else once the
// block it reads is read; closes the file the pieces were read from, so call it once the pool
// has stopped. A run that fails ends without it: the process ends every thread.
void finishRowSource(RowSource& source);
