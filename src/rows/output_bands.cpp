#include "rows/output_bands.h"

#include <algorithm>  // max
#include <cstdlib>    // calloc, malloc

#include "grid/messages.h"
#include "grid/text_grid.h"
#include "platform/console.h"

namespace {

// The most cells a band holds, so that its products and text stay within a few hundred KiB.
constexpr std::size_t bandCells = std::size_t{1} << 14;

OutputBand& bandOf(OutputBands& bands, std::size_t index) {
  return bands.ring[index % bands.ring.size()];
}

void formatBand(void* data, WorkerScratch&) {
  OutputBand& band = *static_cast<OutputBand*>(data);
  const std::size_t columns = columnCount(band.ncols);
  char* const text = band.text.get();
  char* end = text;
  for (std::size_t i = 0; i < band.rows; ++i) {
    end = formatTextRow(end, band.products.get() + i * columns, band.ncols, band.output->nodata);
    band.rowEnds[i] = static_cast<std::size_t>(end - text);
  }
}

// Writes the band's rows, once the pool (or the main thread, where no thread has taken it yet)
// has formatted them, and a dot after each.
void writeBand(OutputBands& bands, OutputBand& band) {
  finishJob(*bands.pool, band.job);
  const GridOutput& out = *band.output;
  std::size_t start = 0;
  for (std::size_t i = 0; i < band.rows; ++i) {
    const std::size_t bytes = band.rowEnds[i] - start;
    if (std::fwrite(band.text.get() + start, 1, bytes, out.file) != bytes)
      fail(rowWriteFailure(band.firstRow + static_cast<int>(i), out.name));
    start = band.rowEnds[i];
    say(".");
  }
  ++bands.written;
}

bool allocateBand(OutputBand& band, std::size_t rows, std::size_t columns) {
  band.products.reset(static_cast<double*>(std::calloc(rows * columns + 1, sizeof(double))));
  band.text.reset(static_cast<char*>(std::malloc(rows * columns * (maxGeneralLength + 1))));
  band.rowEnds.reset(static_cast<std::size_t*>(std::calloc(rows, sizeof(std::size_t))));
  return band.products && band.text && band.rowEnds;
}

// The band being formed is whole: to the pool.
void closeBand(OutputBands& bands) {
  OutputBand& band = bandOf(bands, bands.forming);
  giveJob(*bands.pool, band.job, formatBand, &band);
  ++bands.forming;
  bands.formingHasRows = false;
}

}  // namespace

bool textBandsFit(const GridOutput& output, double ncols, const WorkPool& pool) {
  const std::size_t columns = columnCount(ncols);
  return output.encoding == GridEncoding::text && columns > 0 && columns <= cellsPerWrite &&
         !pool.threads.empty();
}

bool prepareBands(OutputBands& bands, unsigned threads, const GridOutput& output, double ncols,
                  WorkPool& pool) {
  if (!textBandsFit(output, ncols, pool)) return false;
  const std::size_t columns = columnCount(ncols);
  const std::size_t count = jobsPerUser(threads);
  const std::size_t rowsPerBand = std::max<std::size_t>(1, bandCells / columns);
  std::vector<OutputBand> ring;
  catchFailure([&] { ring.resize(count); });
  bool allocated = ring.size() == count;
  for (OutputBand& band : ring) {
    if (!allocated) break;
    allocated = allocateBand(band, rowsPerBand, columns);
    band.output = &output;
    band.ncols = ncols;
  }
  if (!allocated) return false;
  bands.ring = std::move(ring);
  bands.rowsPerBand = rowsPerBand;
  bands.columns = columns;
  bands.pool = &pool;
  return true;
}

double* bandRow(OutputBands& bands, int row) {
  OutputBand& band = bandOf(bands, bands.forming);
  if (!bands.formingHasRows) {
    // The band this one reuses is written: rowFormed saw to that.
    band.firstRow = row;
    band.rows = 0;
    bands.formingHasRows = true;
  }
  return band.products.get() + band.rows * bands.columns;
}

void rowFormed(OutputBands& bands) {
  if (++bandOf(bands, bands.forming).rows < bands.rowsPerBand) return;
  closeBand(bands);
  if (bands.forming - bands.written == bands.ring.size())
    writeBand(bands, bandOf(bands, bands.written));
}

void writeBands(OutputBands& bands) {
  if (bands.formingHasRows) closeBand(bands);
  while (bands.written < bands.forming) writeBand(bands, bandOf(bands, bands.written));
}
