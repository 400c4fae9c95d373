#include "rows/output_bands.h"

#include <algorithm>  // min
#include <bit>        // countr_zero
#include <cstdlib>    // malloc
#include <cstring>    // memcpy, memset
#include <new>        // nothrow

#include "arith/product.h"
#include "grid/messages.h"
#include "grid/text_grid.h"
#include "platform/byte_order.h"
#include "platform/os.h"  // outputEmptied, writeUnlocked
#include "platform/threads.h"

namespace {

template <class T>
CallocArray<T> uninitialized(std::size_t n) {
  return CallocArray<T>(static_cast<T*>(std::malloc(n * sizeof(T))));
}

// The cells of a band's part from `cell` on: at most `left`, up to the end of the write the
// cell lies in.
std::size_t partCells(const OutputBands& out, std::uint64_t cell, std::size_t left) {
  const std::size_t column = cell % out.columns;
  const std::size_t writeEnd =
      std::min(out.columns, (column / out.writeCells + 1) * out.writeCells);
  return std::min(writeEnd - column, left);
}

// Whether the part of n cells from `cell` on ends its write.
bool endsWrite(const OutputBands& out, std::uint64_t cell, std::size_t n) {
  const std::size_t column = (cell + n) % out.columns;
  return column == 0 || column % out.writeCells == 0;
}

// Whether a band's rows of `columns` cells are formatted with one call of the cell writer, their
// ends then found among the tabs (afterTabs, about 1.5 ns a cell), rather than with a call a row:
// where the vector writer would leave each row's last cells, fewer than eight, to the plain one
// (12 ns a cell against 4) for more than the search costs.
bool oneCallABand(CellWriter writeCells, std::size_t columns) {
  return writeCells != writeCellsPlain && 6 * (columns % 8) >= columns;
}

// The text after the n-th tab from `text` on, where the tab lies before eight bytes that can be
// read: eight bytes at a time. No cell's text holds a tab but the one that ends it.
char* afterTabs(char* text, std::size_t n) {
  constexpr std::uint64_t ones = 0x0101010101010101, low = ones * 0x7F;
  for (;; text += 8) {
    const std::uint64_t x =
        byte_order::loadLittleEndian<std::uint64_t>(reinterpret_cast<const unsigned char*>(text)) ^
        (ones * '\t');
    // Bit 7 of each byte that is a tab (x zero there), every other bit clear.
    for (std::uint64_t tabs = ~(((x & low) + low) | x) & ~low; tabs != 0; tabs &= tabs - 1)
      if (--n == 0) return text + std::countr_zero(tabs) / 8 + 1;
  }
}

// The band's cells as text, part by part, each cell followed by a tab and a row's last by what
// ends a row.
void formatBand(const OutputBands& out, Band& band) {
  const CellWriter writeCells = kernelsForThisCpu().writeCells;
  const GridOutput& output = *out.output;
  char* const text = band.text.get();
  const bool narrow = oneCallABand(writeCells, out.columns);
  if (narrow) {
    char* const last = writeCells(text, band.products.get(), band.cells, output.nodata);
    std::memset(last, 0, 8);  // the bytes afterTabs may read after the last tab
  }
  char* end = text;
  std::size_t part = 0;
  for (std::size_t at = 0; at < band.cells; ++part) {
    const std::uint64_t cell = band.firstCell + at;
    const std::size_t n = partCells(out, cell, band.cells - at);
    end = narrow ? afterTabs(end, n) : writeCells(end, band.products.get() + at, n, output.nodata);
    if ((cell + n) % out.columns == 0) end[-1] = afterLastCell(out.ncols, out.columns);
    band.partEnds[part] = static_cast<std::uint32_t>(end - text);
    at += n;
  }
}

// A band's job: the products of its cells, from the runs of values of both inputs, as doubles,
// floats or text as the output takes them. Where the bands are formed in order, by the main
// thread alone, the products go to the statistics here too, while their values are in the cache.
void formBand(void* owner, std::uint64_t sequence, JobScratch&) {
  OutputBands& out = *static_cast<OutputBands*>(owner);
  Band& band = bandOf(out, sequence);
  double* const products = band.products.get();
  float* const narrowed = band.narrowed.get();
  forEachRun(band, [&](CellValues a, CellValues b, std::size_t at, std::size_t n) {
    multiplyCells(a, b, products != nullptr ? products + at : nullptr,
                  narrowed != nullptr ? narrowed + at : nullptr, n, out.nodata);
    if (out.statistics != nullptr) addProductStatistics(a, b, n, out.nodata, *out.statistics);
  });
  if (narrowed != nullptr) byte_order::toLittleEndian(narrowed, band.cells);
  if (out.output->encoding == GridEncoding::text) formatBand(out, band);
}

// One write of the output, as one thread makes it: the bytes of cells from `cell` on, one row or
// part of a long text row. Status 6 where it fails.
void writeOnce(const OutputBands& out, const char* bytes, std::size_t size, std::uint64_t cell) {
  const GridOutput& output = *out.output;
  const int row = static_cast<int>(cell / out.columns + 1);
  const std::size_t n = size / out.valueBytes;
  // Nothing goes to a file that could not be emptied.
  const std::size_t written =
      outputEmptied() ? writeUnlocked(bytes, out.valueBytes, n, output.file) : 0;
  if (written == n) return;
  if (output.encoding == GridEncoding::single) fail(rowWriteFailure(row, written + 1, output.name));
  fail(rowWriteFailure(row, output.name));
}

// Writes the band's parts: a part that is a whole write at once, one that a band's end cuts
// gathered until its write is whole. After a failure nothing more is written.
void writeBand(OutputBands& out, Band& band) {
  band.cellsWritten = 0;
  if (out.writeFailed) return;
  band.writeFailure = catchFailure([&] {
    std::size_t start = 0;  // of the part's text
    std::size_t part = 0;
    for (std::size_t at = 0; at < band.cells; ++part) {
      const std::uint64_t cell = band.firstCell + at;
      const std::size_t n = partCells(out, cell, band.cells - at);
      const char* bytes = nullptr;
      std::size_t size = n * out.valueBytes;
      if (out.output->encoding == GridEncoding::text) {
        bytes = band.text.get() + start;
        size = band.partEnds[part] - start;
        start = band.partEnds[part];
      } else if (out.output->encoding == GridEncoding::single) {
        bytes = reinterpret_cast<const char*>(band.narrowed.get() + at);
      } else {
        byte_order::toLittleEndian(band.products.get() + at, n);
        bytes = reinterpret_cast<const char*>(band.products.get() + at);
      }
      at += n;
      if (endsWrite(out, cell, n) && out.gatheredBytes == 0) {
        writeOnce(out, bytes, size, cell);
      } else {
        if (out.gatheredBytes == 0) out.gatheredFrom = cell;
        std::memcpy(out.gathered.get() + out.gatheredBytes, bytes, size);
        out.gatheredBytes += size;
        if (!endsWrite(out, cell, n)) continue;
        const std::size_t gathered = out.gatheredBytes;
        out.gatheredBytes = 0;
        writeOnce(out, out.gathered.get(), gathered, out.gatheredFrom);
      }
      band.cellsWritten = at;
    }
  });
  out.writeFailed = band.writeFailure.has_value();
}

// The next band to write has been handed to the writer.
bool nextIsHanded(OutputBands& out) {
  return out.nextToWrite < out.ring.given &&
         slotOf(out.ring, out.nextToWrite).state == JobState::handed;
}

// The writer thread: writes the bands handed to it in order until it is stopped.
void writeInOrder(OutputBands& out) {
  runThreadLoop(*out.lock, [&] {
    std::unique_lock held(out.lock->mutex);
    for (;;) {
      const std::uint64_t next = out.nextToWrite;
      if (nextIsHanded(out)) {
        ++out.nextToWrite;
        held.unlock();
        writeBand(out, bandOf(out, next));
        relock(held);
        moveJob(out.ring, next, JobState::handed, JobState::written);
        // The main thread learns of written bands when the writer has none left, or a write
        // failed: it needs them for its dots and the slots, not one by one.
        if (!nextIsHanded(out) || bandOf(out, next).writeFailure) wake(out.lock->main);
      } else if (out.stopping) {
        return;
      } else {
        waitFor(out.lock->writer, held);
      }
    }
  });
}

}  // namespace

bool prepareBands(OutputBands& out, GridOutput& output, const GridParameters& working,
                  std::size_t count, RowLock& lock) {
  const bool text = output.encoding == GridEncoding::text;
  out.output = &output;
  out.ncols = working.ncols;
  out.nodata = working.nodata_value;
  out.columns = columnCount(working.ncols);
  out.writeCells = text ? std::min(out.columns, cellsPerWrite) : out.columns;
  out.valueBytes = text ? 1 : output.encoding == GridEncoding::single ? 4 : 8;
  out.lock = &lock;
  if (out.gathered == nullptr) {
    out.gathered =
        uninitialized<char>(out.writeCells * (text ? maxGeneralLength + 1 : out.valueBytes));
    if (out.gathered == nullptr) return false;
  }
  std::unique_ptr<Band[]> bands(new (std::nothrow) Band[count]);
  JobRing ring;
  bool made = bands != nullptr && makeRing(ring, count);
  for (std::size_t i = 0; made && i < count; ++i) {
    Band& band = bands[i];
    if (output.encoding == GridEncoding::single) {
      band.narrowed = uninitialized<float>(bandCells);
      made = band.narrowed != nullptr;
      continue;
    }
    band.products = uninitialized<double>(bandCells);
    made = band.products != nullptr;
    if (made && text) {
      band.text.reset(static_cast<char*>(std::malloc(bandCells * (maxGeneralLength + 1) + 8)));
      band.partEnds = uninitialized<std::uint32_t>(bandCells);
      made = band.text != nullptr && band.partEnds != nullptr;
    }
  }
  if (!made) return false;
  out.bands = std::move(bands);
  out.ring = std::move(ring);
  out.ring.work = formBand;
  out.ring.owner = &out;
  return true;
}

void startWriter(OutputBands& out) { startThread(out.writer, writeInOrder, std::ref(out)); }

void handToWriter(OutputBands& out, std::uint64_t sequence, std::unique_lock<std::mutex>& held) {
  moveJob(out.ring, sequence, JobState::done, JobState::handed);
  if (out.writer.joinable()) {
    if (sequence + 1 - out.nextToWrite >= writerBatch) wake(out.lock->writer);
    return;
  }
  checkRows(out.nextToWrite++ == sequence, "a band written out of order");
  held.unlock();
  writeBand(out, bandOf(out, sequence));
  relock(held);
  moveJob(out.ring, sequence, JobState::handed, JobState::written);
}

void wakeWriter(OutputBands& out) {
  if (nextIsHanded(out)) wake(out.lock->writer);
}

void finishWriter(OutputBands& out) {
  if (!out.writer.joinable()) return;
  {
    std::lock_guard held(out.lock->mutex);
    out.stopping = true;
    wake(out.lock->writer);
  }
  out.writer.join();
}

OutputBands::~OutputBands() { finishWriter(*this); }
