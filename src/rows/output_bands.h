// The output in bands: runs of cells (row-major, from 0) whose products the pool forms side by
// side from the values of both inputs where they lie in their chunks, narrowed to floats for a
// single-precision output and formatted for a text one; and the writer, which writes the bands in
// order, with the writes one thread makes: one write a row (a text row longer than
// cellsPerWrite in writes of that many cells), the rows of a band, and a row that a band's end
// cuts gathered first. The writer is a thread of its own, or, on one thread or where no thread
// can be had, the main thread itself. Its failures, like every job's, are values, which the main
// thread reports after the rows before them.
#pragma once

#include <algorithm>  // min
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>  // unique_ptr
#include <optional>
#include <thread>

#include "arith/product.h"
#include "arith/statistics.h"
#include "grid/grid.h"
#include "rows/job_ring.h"
#include "rows/work_pool.h"

// The most cells a band holds, and the most runs of values it takes from each input.
constexpr std::size_t bandCells = std::size_t{1} << 15;
constexpr std::size_t maxSegments = 16;

// Values of an input that lie together in a chunk: doubles, or floats widened as they are used.
struct Segment {
  CellValues values;
  std::size_t count = 0;
};

// A segment's values from `from` on.
inline CellValues valuesAt(const Segment& segment, std::size_t from) {
  const auto [doubles, floats] = segment.values;
  return floats != nullptr ? CellValues{nullptr, floats + from} : CellValues{doubles + from};
}

struct Band {
  std::uint64_t firstCell = 0;
  std::size_t cells = 0;
  std::array<std::array<Segment, maxSegments>, 2> segments;  // of grid 1 and of grid 2
  CallocArray<double> products;  // cells of them, for a text or double-precision output
  CallocArray<float> narrowed;   // a single-precision output's floats
  std::unique_ptr<char[], FreeDeleter> text;  // a text output's
  CallocArray<std::uint32_t> partEnds;        // text: where the band's part of each write ends
  // The writer's: the cells written whole before a write failed, and the failure.
  std::uint64_t cellsWritten = 0;
  std::optional<CaughtFailure> writeFailure;
};

struct OutputBands {
  GridOutput* output = nullptr;
  double ncols = 0;
  double nodata = 0;  // the run's nodata_value
  // Where the bands are formed one after the other in order, by the main thread alone, the
  // statistics their jobs add the products to; else the main thread adds them up.
  ProductStatistics* statistics = nullptr;
  std::size_t columns = 0;
  std::size_t writeCells = 0;  // the cells of one write: a row, or a part of a long text row
  std::size_t valueBytes = 0;  // a binary output's bytes a value
  JobRing ring;                // band s in bands[s % capacity]
  std::unique_ptr<Band[]> bands;
  // The writer's: a write that bands cut, gathered; the next band to write.
  std::unique_ptr<char[], FreeDeleter> gathered;
  std::size_t gatheredBytes = 0;
  std::uint64_t gatheredFrom = 0;  // its first cell
  std::uint64_t nextToWrite = 0;
  bool writeFailed = false;  // nothing is written after a failure
  std::thread writer;        // where a thread of its own writes
  bool stopping = false;
  RowLock* lock = nullptr;

  OutputBands() = default;
  OutputBands(const OutputBands&) = delete;
  OutputBands& operator=(const OutputBands&) = delete;
  ~OutputBands();
};

// Sets up `count` bands for the output's rows of ncols (at least 1) columns, and the writer's
// gathering; false where the memory cannot be had.
bool prepareBands(OutputBands& bands, GridOutput& output, const GridParameters& working,
                  std::size_t count, RowLock& lock);

// Calls work(a, b, at, n) for each run of n cells from the band's cell `at` on whose values lie
// together in both inputs' chunks, a and b their values there.
template <class Work>
void forEachRun(const Band& band, Work work) {
  const auto& [one, two] = band.segments;
  std::size_t i = 0, j = 0, inOne = 0, inTwo = 0;  // the segments, and the place in each
  for (std::size_t at = 0; at < band.cells;) {
    const std::size_t n = std::min(one[i].count - inOne, two[j].count - inTwo);
    work(valuesAt(one[i], inOne), valuesAt(two[j], inTwo), at, n);
    at += n;
    inOne += n;
    inTwo += n;
    if (inOne == one[i].count) ++i, inOne = 0;
    if (inTwo == two[j].count) ++j, inTwo = 0;
  }
}

// The band of job `sequence`.
inline Band& bandOf(OutputBands& bands, std::uint64_t sequence) {
  return bands.bands[sequence % bands.ring.capacity];
}

// Starts the writer thread; where it cannot be had, the main thread writes.
void startWriter(OutputBands& bands);

// With the lock held, on the main thread: the band of `sequence`, done and added up, goes to be
// written: to the writer thread, woken once writerBatch bands wait for it, or written here with
// the lock released meanwhile.
constexpr std::uint64_t writerBatch = 4;
void handToWriter(OutputBands& bands, std::uint64_t sequence, std::unique_lock<std::mutex>& held);

// With the lock held: wakes the writer where bands wait for it, before the main thread waits.
void wakeWriter(OutputBands& bands);

// Ends the writer once it has written what it was handed. The destructor does it too.
void finishWriter(OutputBands& bands);
