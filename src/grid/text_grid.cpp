#include "grid/text_grid.h"

#include <algorithm>  // max, min
#include <cstring>    // memcpy
#include <string>
#include <string_view>

#include "decimal/format.h"
#include "decimal/kernels.h"
#include "grid/messages.h"

void readTextHeader(GridInput& grid) {
  for (int pos = position::ncols; pos <= position::nodata_value; ++pos) {
    if (readToken(grid.text) && readNumber(grid.text, grid.header.at(pos))) continue;
    if (grid.text.outOfMemory) failNoMemory();
    fail(headerReadFailure(grid.name));
  }
}

namespace {

// Rows of a stream are read after the first in groups of about this many values: each group is
// one call of the number reader, and at most one group is read again where the writer paused.
constexpr std::size_t streamedGroupValues = 256;

// The range ends where a number was not read.
void endedAt(const TextScanner& s, RowRange& rows) {
  rows.ended = true;
  rows.noMemory = s.outOfMemory;
}

// The rows of a stream, the first one alone, those after it only while their bytes come: a group
// of rows during which the writer has sent nothing more is read again from its start by the next
// range, and this one ends after the rows whole before it.
void readStreamedRows(GridInput& grid, RowRange& rows, NumberReader readNumbers) {
  TextScanner& s = grid.text;
  const std::size_t n = rows.columns;
  const std::size_t perGroup =
      std::max<std::size_t>(1, streamedGroupValues / std::max<std::size_t>(n, 1));
  ArrivingBytes& bytes = std::get<ArrivingBytes>(grid.bytes);
  for (std::size_t i = 0; i < rows.count;) {
    const std::size_t group = i == 0 ? 1 : std::min(perGroup, rows.count - i);
    s.stopWhenDry = i > 0;
    bytes.beforeWait = i == 0 ? rows.beforeWait : nullptr;
    markRow(s);
    const std::size_t got = readNumbers(s, rows.values + 1 + i * n, group * n);
    s.stopWhenDry = false;
    bytes.beforeWait = nullptr;
    rows.got = i * n + got;
    if (backToMark(s)) {
      rows.got = i * n;
      return;
    }
    if (got < group * n) return endedAt(s, rows);
    i += group;
  }
}

}  // namespace

void readTextRows(GridInput& grid, RowRange& rows, NumberReader readNumbers) {
  if (grid.streamed && rows.asTheyCome) return readStreamedRows(grid, rows, readNumbers);
  rows.got = readNumbers(grid.text, rows.values + 1, rows.count * rows.columns);
  if (rows.got < rows.count * rows.columns) endedAt(grid.text, rows);
}

namespace {

char* appendText(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

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
