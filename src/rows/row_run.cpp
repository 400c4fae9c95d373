#include "rows/row_run.h"

#include <algorithm>  // min
#include <string_view>

#include "arith/product.h"
#include "grid/messages.h"
#include "platform/os.h"  // emptyOutputMeanwhile

namespace {

Chunk& chunkAt(InputRows& input, std::uint64_t sequence) {
  return input.chunks[sequence % input.ring.capacity];
}

std::uint64_t endOf(const Chunk& chunk) { return chunk.firstCell + chunk.count; }

[[noreturn]] void report(const CaughtFailure& failure) {
  if (failure.outOfMemory) failNoMemory();
  fail(failure.status, failure.message);
}

// Where the rows end, as far as the chunks taken tell: the cells before the first row that an
// input cannot give whole, and which input fails there once it is certain (grid 1 in its row, if
// grid 2 gives the rows before it; grid 2, if grid 1 gives that row whole); and the cells each
// input must give for that.
struct RowsEnd {
  std::uint64_t cells;
  const InputRows* failing = nullptr;
  std::array<std::uint64_t, 2> needed;
};

RowsEnd endOfRows(const RowRun& run) {
  const std::uint64_t n = run.columns;
  const auto failingRow = [&](const InputRows& input) {
    return input.ended && input.available < run.cells ? input.available / n : UINT64_MAX;
  };
  const std::uint64_t one = failingRow(run.inputs[0]), two = failingRow(run.inputs[1]);
  if (one == UINT64_MAX && two == UINT64_MAX) return {run.cells, nullptr, {run.cells, run.cells}};
  if (one <= two) {
    const bool certain = run.inputs[1].available >= one * n;
    return {one * n, certain ? &run.inputs[0] : nullptr, {0, one * n}};
  }
  const bool certain = run.inputs[0].available >= (two + 1) * n;
  return {two * n, certain ? &run.inputs[1] : nullptr, {(two + 1) * n, 0}};
}

[[noreturn]] void reportInputFailure(const RowRun& run, const InputRows& input) {
  if (input.failure) report(*input.failure);
  if (input.endedBy == ChunkEnd::noMemory) failNoMemory();
  const std::uint64_t row = input.available / run.columns;
  fail(rowReadFailure(input.grid->name, static_cast<int>(row + 1), input.available % run.columns));
}

// Places the values of chunk `sequence`, done, after those before; after a chunk that ends the
// input none is taken, after one whose values were full none until it is read on.
void placeChunk(InputRows& input, std::uint64_t sequence) {
  Chunk& chunk = chunkAt(input, sequence);
  const std::optional<CaughtFailure>& failure = slotOf(input.ring, sequence).failure;
  if (failure) {
    chunk.count = 0;
    input.failure = failure;
  }
  chunk.firstCell = input.available;
  input.available += chunk.count;
  input.ended = failure || chunk.end == ChunkEnd::inputEnds || chunk.end == ChunkEnd::noMemory;
  input.endedBy = chunk.end;
  if (chunk.end == ChunkEnd::valuesFull) input.readingOn = sequence;
  else if (input.readingOn == sequence) input.readingOn.reset();
}

// Takes the input's chunks that are done, in order. A piece whose job failed or ran short of
// memory on another thread is read again here first, as one thread would read it.
bool takeChunks(RowRun& run, InputRows& input, std::unique_lock<std::mutex>& held) {
  bool took = false;
  while (!input.ended && !input.readingOn && input.taken < input.ring.given &&
         slotOf(input.ring, input.taken).state == JobState::done) {
    const Chunk& chunk = chunkAt(input, input.taken);
    if (chunk.readByWorker &&
        (slotOf(input.ring, input.taken).failure || chunk.end == ChunkEnd::noMemory))
      readChunkHere(input, input.taken, run.pool, held);
    placeChunk(input, input.taken++);
    input.ring.awaited = input.taken;
    took = true;
  }
  return took;
}

// A chunk whose values were full is read on, into its own place, once the bands that use its
// values are done; the next band starts among its new values.
bool readOn(RowRun& run, InputRows& input, std::unique_lock<std::mutex>& held) {
  if (!input.readingOn || run.takenCells < input.available) return false;
  input.bandChunk = *input.readingOn;
  readChunkHere(input, *input.readingOn, run.pool, held);
  placeChunk(input, input.bandChunk);
  return true;
}

// Frees the input's chunks whose values the bands taken back have used, and those without
// values before them.
bool releaseChunks(RowRun& run, InputRows& input) {
  const std::uint64_t before = input.ring.released;
  while (input.ring.released < input.taken && input.readingOn != input.ring.released &&
         endOf(chunkAt(input, input.ring.released)) <= run.takenCells) {
    releaseJob(input.ring, JobState::done);
    input.bandChunk = std::max(input.bandChunk, input.ring.released);
  }
  if (input.ring.released == before) return false;
  // A reader waits for half its ring to be free again, or for the main thread to wait: one
  // wake-up for many blocks.
  if (input.ring.given - input.ring.released <= input.ring.capacity / 2) wake(run.lock.readers);
  return true;
}

// Gives the input's next chunks: pieces as far as the ring has room, or the next block where
// the main thread reads it, as one thread reads: only as far as the rows need, grid 1's row
// before grid 2's.
bool giveChunks(RowRun& run, std::size_t i, const RowsEnd& end,
                std::unique_lock<std::mutex>& held) {
  InputRows& input = run.inputs[i];
  const InputRows& other = run.inputs[1 - i];
  if (input.ended || input.available >= end.needed[i] || !ringHasRoom(input.ring)) return false;
  if (std::holds_alternative<Pieces>(input.source))
    return givePieces(input, run.pool, input.available - run.takenCells < 2 * bandCells);
  const bool behind =
      i == 0 ? input.available <= other.available : input.available < other.available;
  if (std::get<Blocks>(input.source).reader.joinable() || !(behind || other.ended)) return false;
  readBlockHere(input, held);
  return true;
}

// How far a band from cell `from` can reach towards `to` within maxSegments runs of the input's
// values, and those runs where `segments` is given.
std::uint64_t segmentsOf(InputRows& input, std::uint64_t from, std::uint64_t to,
                         Segment* segments) {
  std::size_t used = 0;
  for (std::uint64_t s = input.bandChunk; s < input.taken; ++s) {
    const Chunk& chunk = chunkAt(input, s);
    if (chunk.count == 0 || endOf(chunk) <= from) continue;
    if (used == maxSegments) return chunk.firstCell;
    const std::uint64_t first = std::max(from, chunk.firstCell), last = std::min(endOf(chunk), to);
    if (segments != nullptr) {
      const std::size_t skip = first - chunk.firstCell;  // the chunk's values from [1] on
      const double* const values = chunk.values.get() + 1;
      Segment& segment = segments[used] = {{}, last - first};
      if (chunksHoldFloats(input))
        segment.values.floats = reinterpret_cast<const float*>(values) + skip;
      else segment.values.doubles = values + skip;
    }
    ++used;
    if (last == to) {
      if (segments != nullptr) input.bandChunk = endOf(chunk) == to ? s + 1 : s;
      return to;
    }
  }
  checkRows(false, "a band beyond the values taken");
  return to;
}

// Gives bands over the cells that both inputs have given, each of up to bandCells cells, ending
// where a write ends where it can. A shorter band only where the rows end there, or where no
// band is in work: a slow pipe's rows are used as they come.
bool giveBands(RowRun& run, const RowsEnd& end) {
  OutputBands& out = run.bands;
  const std::uint64_t reach =
      std::min({run.inputs[0].available, run.inputs[1].available, end.cells});
  bool gave = false;
  while (ringHasRoom(out.ring) && run.banded < reach) {
    const bool idle = out.ring.given == run.bandsWritten;
    if (reach - run.banded < bandCells && reach < end.cells && !idle) break;
    const std::uint64_t from = run.banded;
    std::uint64_t to = std::min(from + bandCells, reach);
    to = segmentsOf(run.inputs[0], from, to, nullptr);
    to = segmentsOf(run.inputs[1], from, to, nullptr);
    const std::uint64_t writeStart = to - to % run.columns % out.writeCells;
    if (writeStart > from) to = writeStart;
    const std::uint64_t sequence = queueJob(run.pool, out.ring);
    Band& band = bandOf(out, sequence);
    band.firstCell = from;
    band.cells = static_cast<std::size_t>(to - from);
    for (std::size_t i = 0; i < 2; ++i)
      segmentsOf(run.inputs[i], from, to, band.segments[i].data());
    run.banded = to;
    gave = true;
  }
  return gave;
}

// Takes the bands that are done, in order: adds their products to the statistics and hands
// them to the writer; the chunks they used are freed after.
bool takeBands(RowRun& run, ProductStatistics* statistics, std::unique_lock<std::mutex>& held) {
  OutputBands& out = run.bands;
  bool took = false;
  while (!run.bandFailure && run.bandsTaken < out.ring.given &&
         slotOf(out.ring, run.bandsTaken).state == JobState::done) {
    const std::uint64_t sequence = run.bandsTaken;
    Band& band = bandOf(out, sequence);
    if (slotOf(out.ring, sequence).failure) {
      run.bandFailure = slotOf(out.ring, sequence).failure;
      break;
    }
    if (statistics != nullptr && out.statistics == nullptr) {
      held.unlock();
      forEachRun(band, [&](CellValues a, CellValues b, std::size_t, std::size_t n) {
        addProductStatistics(a, b, n, out.nodata, *statistics);
      });
      relock(held);
    }
    run.takenCells = band.firstCell + band.cells;
    out.ring.awaited = ++run.bandsTaken;
    handToWriter(out, sequence, held);
    took = true;
  }
  return took;
}

// A dot for each row written whole since the last.
void showRows(RowRun& run, std::uint64_t rows) {
  static constexpr std::string_view dots(
      "................................................................");
  while (run.rowsShown < rows) {
    const std::size_t n =
        static_cast<std::size_t>(std::min<std::uint64_t>(rows - run.rowsShown, dots.size()));
    say(dots.substr(0, n));
    run.rowsShown += n;
  }
}

// Takes the bands written, in order: their rows' dots, or the failure of a write after the rows
// before it.
bool takeWritten(RowRun& run) {
  OutputBands& out = run.bands;
  bool took = false;
  while (run.bandsWritten < run.bandsTaken &&
         slotOf(out.ring, run.bandsWritten).state == JobState::written) {
    Band& band = bandOf(out, run.bandsWritten);
    showRows(run, (band.firstCell + band.cellsWritten) / run.columns);
    if (band.writeFailure) report(*band.writeFailure);
    releaseJob(out.ring, JobState::written);
    ++run.bandsWritten;
    took = true;
  }
  return took;
}

}  // namespace

void prepareRowRun(RowRun& run, GridInput& grid1, GridInput& grid2, GridOutput& output,
                   const GridParameters& working, unsigned threads, std::size_t pieceBytes) {
  run.columns = columnCount(working.ncols);
  if (!prepareBlocks(run.inputs[0], grid1, working, run.lock) ||
      !prepareBlocks(run.inputs[1], grid2, working, run.lock) ||
      !prepareBands(run.bands, output, working, 1, run.lock))
    failNoMemory(working.ncols);
  run.cells = run.inputs[0].cells;
  run.streams = grid1.streamed || grid2.streamed;
  preparePool(run.pool, run.lock, 0);
  addRing(run.pool, run.bands.ring);  // the pool forms the bands
  if (threads < 2 || run.cells == 0) return;
  // The threads' memory and the threads, each where it can be had: the scanner of text pieces
  // first, the main thread's own. Under catchFailure, since new (std::nothrow) calls operator
  // new's handler, which would end the run.
  catchFailure([&] {
    const bool text = grid1.encoding == GridEncoding::text || grid2.encoding == GridEncoding::text;
    const std::size_t scanBytes = pieceScanBuffer(pieceBytes);
    const bool scans = !text || (initScanner(run.pool.mainScratch.scanner, scanBytes) &&
                                 (run.pool.scanBytes = scanBytes) > 0);
    for (InputRows& input : run.inputs) {
      if (scans) preparePieces(input, run.pool, threads, pieceBytes);
      startReader(input, threads);
    }
    prepareBands(run.bands, output, working, jobsPerRing(threads), run.lock);
    emptyOutputMeanwhile();
    startPoolThreads(run.pool, threads - 1);
    startWriter(run.bands);
  });
}

void runRows(RowRun& run, ProductStatistics* statistics) {
  std::unique_lock held(run.lock.mutex);
  // Without the pool's threads, the main thread forms every band itself, in order.
  if (run.pool.threads.empty()) run.bands.statistics = statistics;
  bool shown = false;  // the dots were flushed since the last progress
  for (;;) {
    if (run.lock.defect) report(*run.lock.defect);
    bool progress = false;
    for (InputRows& input : run.inputs) {
      progress |= takeChunks(run, input, held);
      progress |= readOn(run, input, held);
      progress |= releaseChunks(run, input);
    }
    const RowsEnd end = endOfRows(run);
    progress |= giveChunks(run, 0, end, held);
    progress |= giveChunks(run, 1, end, held);
    progress |= giveBands(run, end);
    progress |= takeBands(run, statistics, held);
    progress |= takeWritten(run);
    if (run.bandsWritten == run.bandsTaken && run.bandFailure) report(*run.bandFailure);
    // Bands given before a failure was known may reach into its row, whose write they never
    // complete.
    if (run.bandsWritten == run.bands.ring.given && run.banded >= end.cells) {
      if (end.failing != nullptr) reportInputFailure(run, *end.failing);
      if (end.cells == run.cells) return;
    }
    if (progress || doQueuedJob(run.pool, held)) {
      shown = false;
    } else if (run.streams && !shown) {
      // Rows finished before a wait for a slow writer are shown first.
      held.unlock();
      showProgressNow();
      relock(held);
      shown = true;
    } else {
      wakeWriter(run.bands);
      wake(run.lock.readers);
      waitFor(run.lock.main, held);
    }
  }
}

void finishRowRun(RowRun& run) {
  stopPool(run.pool);  // first: a thread may read a piece given ahead, or form a band
  finishWriter(run.bands);
  for (InputRows& input : run.inputs) finishInput(input);
}

RowRun::~RowRun() { finishRowRun(*this); }
