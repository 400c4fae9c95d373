#include "driver/text_bands.h"

#include <algorithm>  // max
#include <cstdlib>    // calloc, malloc

#include "grid/messages.h"
#include "grid/text_grid.h"
#include "platform/console.h"

namespace {

// The most cells a band holds, so that its products and text stay within a few hundred KiB.
constexpr std::size_t bandCells = std::size_t{1} << 14;

TextBand& bandOf(TextBands& bands, std::size_t index) {
  return bands.ring[index % bands.ring.size()];
}

void formatBand(void* data, WorkerScratch&) {
  TextBand& band = *static_cast<TextBand*>(data);
  const std::size_t columns = columnCount(band.ncols);
  char* const text = band.text.get();
  char* end = text;
  for (std::size_t i = 0; i < band.rows; ++i) {
    end = formatTextRow(end, band.products.get() + i * columns, band.ncols, band.output->nodata);
    band.rowEnds[i] = static_cast<std::size_t>(end - text);
  }
}

// Writes the band's rows, each after its text is whole, and a dot after each.
void writeBand(TextBands& bands, TextBand& band) {
  if (band.given) finishJob(*bands.pool, band.job);
  else formatBand(&band, bands.pool->scratch.back());
  const GridOutput& out = *band.output;
  std::size_t start = 0;
  for (std::size_t i = 0; i < band.rows; ++i) {
    const std::size_t bytes = band.rowEnds[i] - start;
    if (std::fwrite(band.text.get() + start, 1, bytes, out.file) != bytes)
      fail(rowWriteFailure(band.firstRow + static_cast<int>(i), out.name));
    start = band.rowEnds[i];
    say(".");
  }
  band.rows = 0;
  band.given = false;
  ++bands.written;
}

bool allocateBand(TextBand& band, std::size_t rows, std::size_t columns) {
  band.products.reset(static_cast<double*>(std::calloc(rows * columns + 1, sizeof(double))));
  band.text.reset(static_cast<char*>(std::malloc(rows * columns * (maxGeneralLength + 1))));
  band.rowEnds.reset(static_cast<std::size_t*>(std::calloc(rows, sizeof(std::size_t))));
  return band.products && band.text && band.rowEnds;
}

}  // namespace

bool prepareBands(TextBands& bands, std::size_t count, const GridOutput& output, double ncols,
                  WorkPool& pool) {
  const std::size_t columns = columnCount(ncols);
  if (output.encoding != GridEncoding::text || columns == 0 || columns > cellsPerChunk ||
      pool.threads.empty())
    return false;
  const std::size_t rowsPerBand = std::max<std::size_t>(1, bandCells / columns);
  std::vector<TextBand> ring;
  catchFailure([&] { ring.resize(count); });
  bool whole = ring.size() == count;
  for (TextBand& band : ring) {
    if (!whole) break;
    whole = allocateBand(band, rowsPerBand, columns);
    band.output = &output;
    band.ncols = ncols;
  }
  if (!whole) return false;
  bands.ring = std::move(ring);
  bands.rowsPerBand = rowsPerBand;
  bands.columns = columns;
  bands.pool = &pool;
  return true;
}

double* bandRow(TextBands& bands, int row) {
  TextBand& band = bandOf(bands, bands.filling);
  if (band.rows == 0) band.firstRow = row;
  return band.products.get() + band.rows * bands.columns;
}

void rowFormed(TextBands& bands) {
  TextBand& band = bandOf(bands, bands.filling);
  if (++band.rows < bands.rowsPerBand) return;
  band.given = true;
  giveJob(*bands.pool, band.job, formatBand, &band);
  ++bands.filling;
  if (bands.filling - bands.written == bands.ring.size())
    writeBand(bands, bandOf(bands, bands.written));
}

void writeBands(TextBands& bands) {
  while (bands.written < bands.filling) writeBand(bands, bandOf(bands, bands.written));
  TextBand& band = bandOf(bands, bands.filling);
  if (band.rows > 0) {
    writeBand(bands, band);
    ++bands.filling;
  }
}
