// The compatibility of two grids and their cell-by-cell product.
#pragma once

#include "arith/statistics.h"
#include "grid/grid.h"

// Returns only when the six grid parameters agree exactly; otherwise reports the first
// differing position and ends the run with status 2.
void checkCompatible(const GridInput& grid1, const GridInput& grid2);

// Fills the product row (positions 1 to ncols) from the rows of grid 1 and grid 2: nodata_value
// where either cell is empty, the product otherwise.
void multiplyCells(const GridParameters& working, const double* row1, const double* row2,
                   double* product);

// multiplyCells, and every product offered to the statistics.
void multiplyRow(const GridParameters& working, const double* row1, const double* row2,
                 double* product, ProductStatistics& stats);
