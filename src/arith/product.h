// The compatibility of two grids and their cell-by-cell product.
#pragma once

#include <cstddef>
#include <vector>

#include "arith/statistics.h"
#include "grid/grid.h"

// Returns only when the six grid parameters agree exactly; otherwise reports the first
// differing position and ends the run with status 2.
void checkCompatible(const GridInput& grid1, const GridInput& grid2);

// An input's values from some cell on: doubles, or the floats of a single-precision grid, which
// are widened as they are loaded (exactly, so they give the products their doubles would).
struct CellValues {
  const double* doubles = nullptr;
  const float* floats = nullptr;
};

// The products of n cells, where `product` is given: nodata where a cell of either input is
// empty, b x a otherwise; and, where `narrowed` is given, the nearest float of each.
void multiplyCells(CellValues a, CellValues b, double* product, float* narrowed, std::size_t n,
                   double nodata);

// Offers the products of n cells to the statistics, in their order, exactly as addSample one by
// one would: formed again, as multiplyCells forms them, so that no product need be kept.
void addProductStatistics(CellValues a, CellValues b, std::size_t n, double nodata,
                          ProductStatistics& stats);

// A way of adding products to the statistics (addProductStatistics).
using StatisticsPass = void (*)(CellValues a, CellValues b, std::size_t n, double nodata,
                                ProductStatistics& stats);

// The plain pass, which defines the results, then that of each instruction set this CPU runs.
std::vector<StatisticsPass> availableStatisticsPasses();
