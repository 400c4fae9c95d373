#include "grid/text_grid.h"

#include <cstring>  // memcpy
#include <string_view>

#include "platform/console.h"
#include "grid/number_format.h"

void readTextHeader(GridInput& grid) {
  for (int pos = position::ncols; pos <= position::nodata_value; ++pos) {
    if (!readToken(grid.text) || !readNumber(grid.text, grid.header.at(pos)))
      fail(1, "error reading fiel header from " + grid.name + "\n");
  }
}

void readTextRow(GridInput& grid, int row) {
  double* values = grid.row.get();
  const int ncols = static_cast<int>(columnCount(grid.working.ncols));
  for (int column = 1; column <= ncols; ++column) {
    if (!readNumber(grid.text, values[column])) {
      fail(5, "error reading from " + grid.name + " in row " + std::to_string(row) + " (" +
                  std::to_string(column - 1) + " values read)\n");
    }
  }
}

namespace {

char* appendText(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

}  // namespace

void writeTextHeader(GridOutput& out, const GridHeader& grid1) {
  char text[512];
  char* p = appendText(text, "ncols\t");
  p = appendText(p, std::to_string(truncateToInt32(grid1.at(position::ncols))));
  p = appendText(p, "\nnrows\t");
  p = appendText(p, std::to_string(truncateToInt32(grid1.at(position::nrows))));
  p = appendText(p, "\nxllcorner\t");
  p = formatRoundTrip(p, grid1.at(position::xllcorner));
  p = appendText(p, "\nyllcorner\t");
  p = formatRoundTrip(p, grid1.at(position::yllcorner));
  p = appendText(p, "\ncellsize\t");
  p = formatRoundTrip(p, grid1.at(position::cellsize));
  p = appendText(p, "\nnodata_value\t");
  out.nodata_value = grid1.at(position::nodata_value);
  out.nodataLength =
      static_cast<std::size_t>(formatRoundTrip(out.nodataText, out.nodata_value) - out.nodataText);
  p = appendText(p, std::string_view(out.nodataText, out.nodataLength));
  *p++ = '\n';
  std::size_t n = static_cast<std::size_t>(p - text);
  if (std::fwrite(text, 1, n, out.file) != n) fail(4, "error writing into " + out.name + " \n");
}

void writeTextRow(GridOutput& out, double ncols, int row) {
  const double* values = out.row.get();
  char* const chunk = out.textChunk.get();
  char* const flushAt = chunk + textChunkSize - (maxGeneralLength + 1);
  char* p = chunk;
  const int columns = static_cast<int>(columnCount(ncols));
  // A tab follows each cell while ncols is above its column, so with a fractional ncols the
  // last cell of a row is followed by a tab too.
  const char afterLast = ncols > columns ? '\t' : '\n';
  auto flush = [&] {
    std::size_t n = static_cast<std::size_t>(p - chunk);
    if (std::fwrite(chunk, 1, n, out.file) != n)
      fail(6, "error writing row " + std::to_string(row) + " in " + out.name + "\n");
    p = chunk;
  };
  const double nodata = out.nodata_value;
  for (int column = 1; column <= columns; ++column) {
    const double v = values[column];
    if (v == nodata) {
      std::memcpy(p, out.nodataText, maxGeneralLength);  // the chunk keeps room for that
      p += out.nodataLength;
    } else {
      p = formatG6(p, v);
    }
    *p++ = column < columns ? '\t' : afterLast;
    if (p >= flushAt) flush();
  }
  flush();
}
