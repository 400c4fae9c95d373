// The compatibility of two grids and their cell-by-cell product.
#pragma once

#include <cstddef>
#include <vector>

#include "arith/statistics.h"
#include "grid/grid.h"

// Returns only when the six grid parameters agree exactly; otherwise reports the first
// differing position and ends the run with status 2.
void checkCompatible(const GridInput& grid1, const GridInput& grid2);

// The products of n cells: nodata where a cell of either input is empty, b x a otherwise.
void multiplyCells(const double* a, const double* b, double* product, std::size_t n, double nodata);

// The nearest float of each of n products.
void narrowProducts(const double* products, float* narrowed, std::size_t n);

// Offers n products to the statistics, in their order, exactly as addSample one by one would.
void addProductStatistics(const double* products, std::size_t n, ProductStatistics& stats);

// A way of adding products to the statistics (addProductStatistics).
using StatisticsPass = void (*)(const double* products, std::size_t n, ProductStatistics& stats);

// The plain pass, which defines the results, then that of each instruction set this CPU runs.
std::vector<StatisticsPass> availableStatisticsPasses();
