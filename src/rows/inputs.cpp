#include "rows/inputs.h"

#include <algorithm>  // clamp, copy_n, min
#include <cstdlib>    // calloc
#include <iterator>   // size
#include <new>        // nothrow

#include "grid/binary_grid.h"
#include "grid/text_grid.h"
#include "platform/byte_order.h"
#include "platform/threads.h"

namespace {

// A block holds about 32 KiB of rows (at least one row), which stay in the caches until they are
// used; a reader's ring holds about 2 MiB of them. Memory so stays flat in nrows.
constexpr std::size_t blockBytes = std::size_t{32} << 10;
constexpr std::size_t readerRingBytes = std::size_t{2} << 20;

Chunk& chunkOf(InputRows& input, std::uint64_t sequence) {
  return input.chunks[sequence % input.ring.capacity];
}

// The values a piece holds at most. A binary piece holds its bytes over the values' size (one
// value at least, for the small pieces of tests). In
// text a number and the one after it take at least two bytes (digits, then white space or the
// sign or point that starts the next); a token that runs on past the next cut adds to a piece,
// and if the values are full then, it is read on (ChunkEnd::valuesFull).
std::size_t pieceValues(GridEncoding encoding, std::size_t pieceBytes) {
  if (encoding == GridEncoding::single) return std::max(pieceBytes / sizeof(float), std::size_t{1});
  if (encoding == GridEncoding::double_precision)
    return std::max(pieceBytes / sizeof(double), std::size_t{1});
  return pieceBytes / 2 + 2;
}

CallocArray<double> valuesOf(std::size_t values) {
  return CallocArray<double>(static_cast<double*>(std::calloc(values + 1, sizeof(double))));
}

// A ring of `count` chunks, in place of the input's, the first `filled` of them with room for
// `values` values each; false, with the input as it was, where the memory cannot be had.
bool makeChunks(InputRows& input, std::size_t count, std::size_t values, std::size_t filled) {
  std::unique_ptr<Chunk[]> chunks(new (std::nothrow) Chunk[count]);
  JobRing ring;
  bool made = chunks != nullptr && makeRing(ring, count);
  for (std::size_t i = 0; made && i < filled; ++i)
    made = (chunks[i].values = valuesOf(values)) != nullptr;
  if (!made) return false;
  input.chunks = std::move(chunks);
  input.ring = std::move(ring);
  return true;
}

// Reads up to n numbers into values as pieces.readNumbers does. Long numbers are read a few at a
// time into the scratch's staging values, then copied on: stored one by one into a piece's
// values, whose lines another core has just read, they held the reading up (numbers of 18
// digits took up to a sixth more CPU on 2 cores than on one). Short ones gain nothing from it:
// after a first few, they are read straight.
std::size_t readStaged(const Pieces& pieces, JobScratch& scratch, double* values, std::size_t n) {
  constexpr std::uint64_t longNumberBytes = 14;  // with the white space after it
  std::size_t done = 0;
  while (done < n) {
    const std::size_t want = std::min(n - done, std::size(scratch.staged));
    const std::uint64_t from = consumedBytes(scratch.scanner);
    const std::size_t got = pieces.readNumbers(scratch.scanner, scratch.staged, want);
    std::copy_n(scratch.staged, got, values + done);
    done += got;
    if (got < want) return done;
    if (consumedBytes(scratch.scanner) - from < got * longNumberBytes)
      return done + pieces.readNumbers(scratch.scanner, values + done, n - done);
  }
  return done;
}

void readTextPiece(const Pieces& pieces, Chunk& chunk, JobScratch& scratch) {
  TextScanner& scanner = scratch.scanner;
  const std::uint64_t cut = pieces.first + chunk.piece * pieces.pieceBytes;
  const std::uint64_t limit = cut + pieces.pieceBytes;
  // Piece 0 starts at the end of the header; every other one from the byte before its cut, which
  // tells whether a token starts at the cut; a piece read on where its values were full stopped.
  const bool atCut = chunk.resumeAt == 0;
  PieceBytes bytes{&pieces.file, !atCut ? chunk.resumeAt : chunk.piece == 0 ? cut : cut - 1, limit};
  attachScanner(scanner, bytes, bytes.from);
  scanner.endsAtCtrlZ = pieces.endsAtCtrlZ;
  if (atCut && chunk.piece > 0 && !skipToTokenStart(scanner, limit)) {
    if (consumedBytes(scanner) < limit) chunk.end = ChunkEnd::inputEnds;
    return;
  }
  const std::size_t capacity = pieceValues(GridEncoding::text, pieces.pieceBytes);
  chunk.count = readStaged(pieces, scratch, chunk.values.get() + 1, capacity);
  if (chunk.count == capacity) {
    chunk.end = ChunkEnd::valuesFull;
    chunk.resumeAt = consumedBytes(scanner);
  } else if (scanner.outOfMemory) {
    chunk.end = ChunkEnd::noMemory;
  } else if (stoppedAtNoNumber(scanner) || !bytes.endedAtLimit) {
    chunk.end = ChunkEnd::inputEnds;
  }
}

// The values of a binary piece, in the host's byte order; floats stay floats.
template <class T>
void readBinaryPiece(const Pieces& pieces, Chunk& chunk) {
  const std::size_t n = pieceValues(
      sizeof(T) == 4 ? GridEncoding::single : GridEncoding::double_precision, pieces.pieceBytes);
  T* const values = reinterpret_cast<T*>(chunk.values.get() + 1);
  const BytesRead read = readAt(pieces.file, pieces.first + chunk.piece * n * sizeof(T),
                                reinterpret_cast<char*>(values), n * sizeof(T));
  chunk.count = read.count / sizeof(T);  // whole values, as a read of the stream counts them
  if (chunk.count < n) chunk.end = ChunkEnd::inputEnds;
  byte_order::fromLittleEndian(values, chunk.count);
}

void readPiece(InputRows& input, Chunk& chunk, JobScratch& scratch) {
  const Pieces& pieces = std::get<Pieces>(input.source);
  chunk.count = 0;
  chunk.end = ChunkEnd::goesOn;
  chunk.readByWorker = !scratch.mainThread;
  switch (input.grid->encoding) {
    case GridEncoding::text: return readTextPiece(pieces, chunk, scratch);
    case GridEncoding::single: return readBinaryPiece<float>(pieces, chunk);
    case GridEncoding::double_precision: return readBinaryPiece<double>(pieces, chunk);
  }
}

// Room for the values of the next chunk to give: its own, else that of the free chunk freed
// last that has some (so that the memory in use is that of the most chunks in use at once),
// else new.
bool findValues(InputRows& input, std::size_t values) {
  const JobRing& ring = input.ring;
  Chunk& chunk = chunkOf(input, ring.given);
  // The free slots but the next one's: of the chunks released - 1 down to given - capacity + 1.
  for (std::uint64_t s = ring.released;
       !chunk.values && s > 0 && s + ring.capacity > ring.given + 1;)
    chunk.values = std::move(chunkOf(input, --s).values);
  if (!chunk.values) chunk.values = valuesOf(values);
  return chunk.values != nullptr;
}

void doPiece(void* owner, std::uint64_t sequence, JobScratch& scratch) {
  InputRows& input = *static_cast<InputRows*>(owner);
  readPiece(input, chunkOf(input, sequence), scratch);
}

// Reads the next rows of the input into the chunk, as many as a block holds and the grid has
// left, with one read of all their values; from a stream, the rows after the first only as far
// as their bytes have come. The main thread shows the rows it has finished before it waits for
// a slow writer.
void readBlock(InputRows& input, Chunk& chunk, bool mainThread) {
  Blocks& blocks = std::get<Blocks>(input.source);
  GridInput& grid = *input.grid;
  const auto left = static_cast<std::size_t>(blocks.rows - blocks.nextRow + 1);
  RowRange rows{chunk.values.get(), input.columns, blocks.nextRow,
                std::min(blocks.rowsPerBlock, left)};
  rows.asTheyCome = grid.streamed;
  if (mainThread) rows.beforeWait = showProgressNow;
  if (grid.encoding == GridEncoding::text) readTextRows(grid, rows);
  else readBinaryRows(grid, rows);
  chunk.count = rows.got;
  chunk.end = rows.noMemory ? ChunkEnd::noMemory
              : rows.ended  ? ChunkEnd::inputEnds
                            : ChunkEnd::goesOn;
  blocks.nextRow += static_cast<std::int32_t>(rows.got / input.columns);
}

// Fills block `sequence`, given to the ring as running, with the lock released meanwhile, its
// failures as values; true where more blocks are to come.
bool fillBlock(InputRows& input, std::uint64_t sequence, bool mainThread,
               std::unique_lock<std::mutex>& held) {
  Chunk& chunk = chunkOf(input, sequence);
  held.unlock();
  std::optional<CaughtFailure> failure = catchFailure([&] { readBlock(input, chunk, mainThread); });
  relock(held);
  const bool more = !failure && chunk.end == ChunkEnd::goesOn &&
                    std::get<Blocks>(input.source).nextRow <= std::get<Blocks>(input.source).rows;
  jobDone(input.ring, sequence, std::move(failure), *input.lock);
  return more;
}

// The reader thread: reads block after block ahead until the rows end or the main thread stops
// it. A failure outside the reading of a block ends it, for the main thread to report.
void readAhead(InputRows& input) {
  Blocks& blocks = std::get<Blocks>(input.source);
  runThreadLoop(*input.lock, [&] {
    std::unique_lock held(input.lock->mutex);
    while (!blocks.stopping) {
      if (!ringHasRoom(input.ring)) waitFor(input.lock->readers, held);
      else if (!fillBlock(input, giveToRing(input.ring, JobState::running), false, held)) break;
    }
  });
}

}  // namespace

bool prepareBlocks(InputRows& input, GridInput& grid, const GridParameters& working,
                   RowLock& lock) {
  input.grid = &grid;
  input.lock = &lock;
  input.columns = columnCount(working.ncols);
  Blocks& blocks = input.source.emplace<Blocks>();
  blocks.rows = working.nrows < 1 ? 0 : static_cast<std::int32_t>(working.nrows);
  input.cells = static_cast<std::uint64_t>(blocks.rows) * input.columns;
  const std::size_t rowBytes = input.columns * sizeof(double);
  blocks.rowsPerBlock = std::clamp<std::size_t>(blockBytes / rowBytes, 1,
                                                static_cast<std::size_t>(std::max(blocks.rows, 1)));
  return makeChunks(input, 1, blocks.rowsPerBlock * input.columns, 1);
}

bool preparePieces(InputRows& input, WorkPool& pool, unsigned threads, std::size_t pieceBytes) {
  GridInput& grid = *input.grid;
  Pieces pieces;
  if (grid.kept.count > 0 || !isRegularFile(grid.file) || !openPositional(grid.file, pieces.file))
    return false;
  const bool text = grid.encoding == GridEncoding::text;
  const std::optional<std::uint64_t> first =
      text ? fileOffsetOfText(pieces.file, consumedBytes(grid.text))
           : headerValues * (grid.encoding == GridEncoding::single ? 4 : 8);
  // A binary piece holds the values of a band: it needs no more slots than pieces in work.
  const std::size_t inWork = jobsPerRing(threads), slots = text ? piecesAhead * inWork : inWork;
  if (!first || !makeChunks(input, slots, pieceValues(grid.encoding, pieceBytes), inWork)) {
    closePositional(pieces.file);
    return false;
  }
  pieces.first = *first;
  pieces.endsAtCtrlZ = textModeEndsAtCtrlZ || grid.text.endsAtCtrlZ;
  pieces.readNumbers = kernelsForThisCpu().readNumbers;
  pieces.pieceBytes = pieceBytes;
  pieces.inWork = inWork;
  input.source = std::move(pieces);
  input.ring.work = doPiece;
  input.ring.owner = &input;
  addRing(pool, input.ring);
  grid.text.buffer.reset();  // the header's scanner is done with
  return true;
}

void startReader(InputRows& input, unsigned threads) {
  Blocks* const blocks = std::get_if<Blocks>(&input.source);
  // With one thread, threads would only take turns, and rows read far ahead would leave the
  // caches.
  if (blocks == nullptr || threads < 2 || input.cells == 0) return;
  const std::size_t blockSize = blocks->rowsPerBlock * input.columns * sizeof(double);
  const std::size_t blocksOfRows =
      (static_cast<std::size_t>(blocks->rows) + blocks->rowsPerBlock - 1) / blocks->rowsPerBlock;
  const std::size_t wanted =
      std::min(blocksOfRows, std::max<std::size_t>(readerRingBytes / blockSize, 1));
  const std::size_t values = blocks->rowsPerBlock * input.columns;
  if (wanted > 1 && !makeChunks(input, wanted, values, wanted)) return;
  startThread(blocks->reader, readAhead, std::ref(input));  // else the main thread reads alone
}

bool givePieces(InputRows& input, WorkPool& pool, bool fewValuesWait) {
  Pieces& pieces = std::get<Pieces>(input.source);
  const JobRing& ring = input.ring;
  const std::uint64_t before = ring.given;
  while (ringHasRoom(ring) && ring.given - input.taken < pieces.inWork &&
         (ring.given - ring.released < pieces.inWork || fewValuesWait) &&
         findValues(input, pieceValues(input.grid->encoding, pieces.pieceBytes))) {
    const std::uint64_t sequence = queueJob(pool, input.ring);
    Chunk& chunk = chunkOf(input, sequence);
    chunk.piece = pieces.nextPiece++;
    chunk.resumeAt = 0;
  }
  return ring.given > before;
}

void readBlockHere(InputRows& input, std::unique_lock<std::mutex>& held) {
  fillBlock(input, giveToRing(input.ring, JobState::running), true, held);
}

void readChunkHere(InputRows& input, std::uint64_t sequence, WorkPool& pool,
                   std::unique_lock<std::mutex>& held) {
  Chunk& chunk = chunkOf(input, sequence);
  held.unlock();
  std::optional<CaughtFailure> failure =
      catchFailure([&] { readPiece(input, chunk, pool.mainScratch); });
  relock(held);
  slotOf(input.ring, sequence).failure = std::move(failure);
}

void finishInput(InputRows& input) {
  if (Blocks* blocks = std::get_if<Blocks>(&input.source); blocks && blocks->reader.joinable()) {
    {
      std::lock_guard held(input.lock->mutex);
      blocks->stopping = true;
      wake(input.lock->readers);
    }
    blocks->reader.join();
  }
  if (Pieces* pieces = std::get_if<Pieces>(&input.source)) closePositional(pieces->file);
  input.source.emplace<Blocks>();
}

InputRows::~InputRows() { finishInput(*this); }
