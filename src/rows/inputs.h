// The values of one input in chunks, which the main thread takes in order and places one after
// the other, by their counts, at the run's cells (row-major, from 0). A chunk comes from one of
// two kinds of source:
// - Pieces of a regular file, where the run has more than one thread: the pool's threads read
//   them by position side by side. The rows' bytes are cut every pieceBytes. A binary piece
//   holds the values whose bytes lie between its cuts. A text piece holds the numbers of the
//   tokens that start from its cut on (piece 0: from the end of the header) and before the next
//   cut, the last of them read to its end however far past the cut it runs. A token starts at a
//   byte that is no white space after one that is, and no number spans white space, so a piece
//   reads exactly the numbers that reading the whole file one number after the other reads
//   there; one within a long run of white space, NULs or one token finds no token start among
//   its bytes and is empty, so reading costs the same on any number of threads.
// - Blocks of whole rows of a stream (a pipe, a FIFO, and every input of a run on one thread),
//   read in order through the stream: by a reader thread of its own, or, on one thread or where
//   no thread can be had, by the main thread when it needs them. A block of a stream ends early
//   after the rows whose bytes have come where the writer sends nothing more for now.
// A single-precision chunk keeps its values as the file's floats (in the host's byte order),
// which the product and the statistics widen as they load them: widening a whole chunk where it
// lies would write it all out again.
// A chunk's end says what comes after its values: more values, the rest of a text piece whose
// values were full, or nothing (the input ended, a read or a number failed, or memory for a
// number ran out): the failure is a value, which the main thread reports where its row comes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>  // unique_ptr
#include <optional>
#include <thread>
#include <variant>

#include "decimal/kernels.h"
#include "grid/grid.h"
#include "rows/job_ring.h"
#include "rows/work_pool.h"

constexpr std::size_t defaultPieceBytes = std::size_t{128} << 10;

// The ring of text pieces holds this many times the pieces the pool keeps in work: those done
// stay until the bands that use their values are done, and a band may use the values of many
// pieces of long numbers.
constexpr std::size_t piecesAhead = 3;

// The scanner of a text piece holds the bytes of a piece and the lookahead of a long number.
inline std::size_t pieceScanBuffer(std::size_t pieceBytes) {
  return pieceBytes + (std::size_t{16} << 10);
}

enum class ChunkEnd : std::uint8_t {
  goesOn,      // the next chunk goes on after these values
  valuesFull,  // a text piece's values were full: its rest is read on into the same chunk
  inputEnds,   // no value comes after these: the input ended, or a read or a number failed
  noMemory,    // as inputEnds, where the memory for the next number could not be had
};

struct Chunk {
  CallocArray<double> values;  // from values[1] on (values[0] unused), or floats from there on
  std::size_t count = 0;       // values read
  ChunkEnd end = ChunkEnd::goesOn;
  std::uint64_t piece = 0;      // the piece it reads (pieces)
  std::uint64_t resumeAt = 0;   // where a text piece is read on from, where not 0
  bool readByWorker = false;    // read by a thread of the pool, not the main thread
  std::uint64_t firstCell = 0;  // where the main thread placed values[1]
};

// Where the rows of a regular file lie, and how to read them by position.
struct Pieces {
  PositionalFile file;
  std::uint64_t first = 0;   // the rows' first byte: after the header (its last number, in text)
  bool endsAtCtrlZ = false;  // the input ends at its first Ctrl-Z (text mode on Windows)
  NumberReader readNumbers = nullptr;
  std::size_t pieceBytes = defaultPieceBytes;  // smaller ones are for tests of the cuts
  std::size_t inWork = 0;                      // pieces given and not yet taken, at most
  std::uint64_t nextPiece = 0;                 // the next piece to give
};

// Blocks of whole rows read through the input's stream.
struct Blocks {
  std::size_t rowsPerBlock = 0;
  std::int32_t rows = 0;     // rows 1 to rows are read
  std::int32_t nextRow = 1;  // the first row of the next block
  std::thread reader;        // where a thread of its own reads them ahead
  bool stopping = false;     // the reader stops at its next wait
};

struct InputRows {
  GridInput* grid = nullptr;
  std::size_t columns = 0;
  std::uint64_t cells = 0;  // the cells the run needs of it
  std::variant<Blocks, Pieces> source;
  JobRing ring;  // chunk s in chunks[s % capacity]
  std::unique_ptr<Chunk[]> chunks;
  RowLock* lock = nullptr;
  // The main thread's: the chunks taken in order and the cells their values fill, and what
  // ended them.
  std::uint64_t taken = 0;
  std::uint64_t available = 0;
  bool ended = false;
  ChunkEnd endedBy = ChunkEnd::goesOn;
  std::optional<CaughtFailure> failure;    // where a chunk's job failed instead
  std::optional<std::uint64_t> readingOn;  // a chunk whose values were full, to be read on
  std::uint64_t bandChunk = 0;             // the chunk the next band starts in

  InputRows() = default;
  InputRows(const InputRows&) = delete;
  InputRows& operator=(const InputRows&) = delete;
  ~InputRows();
};

// The chunks of the input hold floats (a single-precision input).
inline bool chunksHoldFloats(const InputRows& input) {
  return input.grid->encoding == GridEncoding::single;
}

// Sets the input up to be read in blocks by the main thread, rows 1 to nrows of ncols columns
// (the run's parameters, ncols at least 1), one block at a time. False where that memory cannot
// be had.
bool prepareBlocks(InputRows& input, GridInput& grid, const GridParameters& working, RowLock& lock);

// Where the input is a regular file, it is read in pieces of pieceBytes by the pool instead,
// jobsPerRing(threads) given at a time; false where it is no such file or the memory cannot be
// had (the input stays with its blocks). Decided before any byte is read by position.
bool preparePieces(InputRows& input, WorkPool& pool, unsigned threads,
                   std::size_t pieceBytes = defaultPieceBytes);

// Where the input is read in blocks and the run has more than one thread: blocks ahead, up to
// about 2 MiB, read by a thread of its own; where the memory or the thread cannot be had the
// main thread reads them as prepared.
void startReader(InputRows& input, unsigned threads);

// With the lock held, on the main thread: gives the next pieces, up to inWork of them not yet
// taken; beyond inWork chunks in the ring only where few of the values taken wait for bands
// (`fewValuesWait`), so that bands over pieces of long numbers need not wait for slots, while
// pieces of short numbers keep the memory of inWork chunks. False where it gives none.
bool givePieces(InputRows& input, WorkPool& pool, bool fewValuesWait);

// With the lock held, on the main thread, for an input read in blocks without a reader thread:
// reads the next block into the ring, which must have room, with the lock released meanwhile.
void readBlockHere(InputRows& input, std::unique_lock<std::mutex>& held);

// Reads chunk `sequence` again on the main thread, from where its values start (its job ran
// short of memory on another thread) or, where they were full, on from where they stopped; with
// the lock released meanwhile.
void readChunkHere(InputRows& input, std::uint64_t sequence, WorkPool& pool,
                   std::unique_lock<std::mutex>& held);

// Ends the reader thread (at once where it waits for a free slot, else once its block is read)
// and closes the file the pieces were read from. The destructor does it too.
void finishInput(InputRows& input);
