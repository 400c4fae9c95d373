// The compatibility of two grids and their cell-by-cell product.
#pragma once

#include <cstddef>
#include <vector>

#include "arith/statistics.h"
#include "grid/grid.h"

// Returns only when the six grid parameters agree exactly; otherwise reports the first
// differing position and ends the run with status 2.
void checkCompatible(const GridInput& grid1, const GridInput& grid2);

// Fills the product row (positions 1 to ncols) from the rows of grid 1 and grid 2: nodata_value
// where either cell is empty, the product otherwise.
void multiplyCells(const GridParameters& working, const double* row1, const double* row2,
                   double* product);

// multiplyCells, and every product offered to the statistics, in one pass over the row. Where
// `narrowed` is given, it receives the nearest float of each product (positions 1 to ncols)
// instead, and `product` is not written.
void multiplyRow(const GridParameters& working, const double* row1, const double* row2,
                 double* product, float* narrowed, ProductStatistics& stats);

// The pass of multiplyRow over n cells from column 1 (a, b, product and narrowed point there).
using StatisticsRowPass = void (*)(const double* a, const double* b, double* product,
                                   float* narrowed, std::size_t n, double nodata,
                                   ProductStatistics& stats);

// The plain pass, which defines the results, then that of each instruction set this CPU runs.
std::vector<StatisticsRowPass> availableStatisticsRowPasses();
