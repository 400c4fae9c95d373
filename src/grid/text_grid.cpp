#include "grid/text_grid.h"

#include <algorithm>  // min
#include <cstring>    // memcpy
#include <string>
#include <string_view>

#include "decimal/format.h"
#include "decimal/kernels.h"
#include "grid/messages.h"

void readTextHeader(GridInput& grid) {
  for (int pos = position::ncols; pos <= position::nodata_value; ++pos) {
    if (!readToken(grid.text) || !readNumber(grid.text, grid.header.at(pos)))
      fail(headerReadFailure(grid.name));
  }
}

void readTextRows(GridInput& grid, RowRange& rows, NumberReader readNumbers) {
  const std::size_t got = readNumbers(grid.text, rows.values + 1, rows.count * rows.columns);
  failUnlessWhole(grid, rows, got);
}

namespace {

char* appendText(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

// Cells formatted into the staging area at a time, each with room for its longest text.
constexpr std::size_t cellsPerChunk = textChunkSize / (maxGeneralLength + 1) - 1;

}  // namespace

void writeTextHeader(GridOutput& out, const GridHeader& grid1) {
  out.nodata = spellNodata(grid1.at(position::nodata_value));
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
  p = appendText(p, std::string_view(out.nodata.text, out.nodata.length));
  *p++ = '\n';
  std::size_t n = static_cast<std::size_t>(p - text);
  if (std::fwrite(text, 1, n, out.file) != n) fail(writeIntoFailure(out.name));
}

void writeTextRow(GridOutput& out, double ncols, int row) {
  const double* values = out.row.get() + 1;
  char* const chunk = out.textChunk.get();
  const std::size_t columns = columnCount(ncols);
  // Each cell is followed by a tab, except the last of a row by a line end; with a fractional
  // ncols, ncols lies above the last column, and that cell is followed by a tab too.
  const char afterLast = ncols > static_cast<double>(columns) ? '\t' : '\n';
  const CellWriter writeCells = kernelsForThisCpu().writeCells;
  for (std::size_t first = 0; first < columns; first += cellsPerChunk) {
    const std::size_t n = std::min(cellsPerChunk, columns - first);
    char* end = writeCells(chunk, values + first, n, out.nodata);
    if (first + n == columns) end[-1] = afterLast;
    const std::size_t bytes = static_cast<std::size_t>(end - chunk);
    if (std::fwrite(chunk, 1, bytes, out.file) != bytes)
      fail(rowWriteFailure(row, out.name));
  }
}
