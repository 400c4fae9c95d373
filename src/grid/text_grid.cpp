#include "grid/text_grid.h"

#include <cstring>  // memcpy

#include "driver/fail.h"
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

char* appendText(char* out, const char* text) {
  std::size_t n = std::strlen(text);
  std::memcpy(out, text, n);
  return out + n;
}

}  // namespace

void writeTextHeader(GridOutput& out, const GridHeader& grid1) {
  char text[512];
  char* p = appendText(text, "ncols\t");
  p = appendText(p, std::to_string(truncateToInt32(grid1.at(position::ncols))).c_str());
  p = appendText(p, "\nnrows\t");
  p = appendText(p, std::to_string(truncateToInt32(grid1.at(position::nrows))).c_str());
  p = appendText(p, "\nxllcorner\t");
  p = formatRoundTrip(p, grid1.at(position::xllcorner));
  p = appendText(p, "\nyllcorner\t");
  p = formatRoundTrip(p, grid1.at(position::yllcorner));
  p = appendText(p, "\ncellsize\t");
  p = formatRoundTrip(p, grid1.at(position::cellsize));
  p = appendText(p, "\nnodata_value\t");
  p = formatRoundTrip(p, grid1.at(position::nodata_value));
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
  for (int column = 1; column <= columns; ++column) {
    p = formatG6(p, values[column]);
    *p++ = column < columns ? '\t' : afterLast;
    if (p >= flushAt) flush();
  }
  flush();
}
