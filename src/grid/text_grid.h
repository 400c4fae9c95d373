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

// Writes one row of products, tab separated, each with six significant digits, except that a
// cell equal to nodata_value is spelt as in the header; status 6 if the write fails.
void writeTextRow(GridOutput& out, double ncols, int row);

// Size of the staging area for a text row; rows longer than this are written in pieces.
constexpr std::size_t textStagingSize = std::size_t{1} << 20;

// Cells formatted into the staging area at a time, each with room for its longest text: a row of
// at most this many columns is written with one write.
constexpr std::size_t cellsPerWrite = textStagingSize / (maxGeneralLength + 1) - 1;

// Formats a row of products (positions 1 to ncols) of at most cellsPerWrite columns as
// writeTextRow writes it; returns the end. Needs (maxGeneralLength + 1) bytes a column at out.
char* formatTextRow(char* out, const double* row, double ncols, const NodataSpelling& nodata);
