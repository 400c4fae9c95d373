// The compatibility of two grids and their cell-by-cell product.
#pragma once

#include "arith/statistics.h"
#include "grid/grid.h"

// Returns only when the six grid parameters agree exactly; otherwise reports the first
// differing position and ends the run with status 2.
void checkCompatible(const GridInput& grid1, const GridInput& grid2);

// Fills the output row: grid 1's nodata_value where either cell is empty, the product
// otherwise; every product is offered to the statistics.
void multiplyRow(GridInput& grid1, GridInput& grid2, GridOutput& out, ProductStatistics& stats);
