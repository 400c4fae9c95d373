// The text encoding: six keyword/value header lines, then the cell values separated by white
// space. Keywords are read as tokens and not examined; values are taken by position.
#pragma once

#include "grid/grid.h"
#include "decimal/kernels.h"

// Fills header positions 1 to 6; ends the run with status 1 if a value cannot be read.
void readTextHeader(GridInput& grid);

// Reads the rows of the range; ends the run with status 5 in the row where a value cannot be
// read. The numbers are read by the kernel chosen for this CPU, or by the one given.
void readTextRows(GridInput& grid, RowRange& rows,
                  NumberReader readNumbers = kernelsForThisCpu().readNumbers);

// Writes the six header lines from grid 1's header; status 4 if the write fails. Keeps the
// spelling of nodata_value in `out` for the rows.
void writeTextHeader(GridOutput& out, const GridHeader& grid1);

// A row of products is written as its cells with six significant digits, except that a cell
// equal to nodata_value is spelt as in the header, each followed by a tab, the last of the row
// by afterLastCell(): a line end, or, with a fractional ncols, which lies above the last column,
// a tab as after every other cell. A row of at most cellsPerWrite cells is written with one
// write, a longer one in writes of that many cells (about 1 MiB of text at most).
constexpr std::size_t cellsPerWrite = (std::size_t{1} << 20) / (maxGeneralLength + 1) - 1;

inline char afterLastCell(double ncols, std::size_t columns) {
  return ncols > static_cast<double>(columns) ? '\t' : '\n';
}
