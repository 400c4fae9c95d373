#include "arith/product.h"

#include <string>

#include "grid/messages.h"

void checkCompatible(const GridInput& grid1, const GridInput& grid2) {
  for (int pos = position::ncols; pos <= position::nodata_value; ++pos) {
    double a = grid1.header.at(pos);
    double b = grid2.header.at(pos);
    if (a == b) continue;
    fail(parameterMismatch(pos, a, grid1.name, grid2.name, b));
  }
}

namespace {

// The products of n cells, nodata where a cell of either row is empty. Empty cells lie at
// random in a grid, so the loop has no branches: the compiler turns the choices into vector
// compares and blends.
void productRow(const double* a, const double* b, double* product, std::size_t n, double nodata) {
  for (std::size_t i = 0; i < n; ++i) {
    double p = b[i] * a[i];
    p = a[i] == nodata ? nodata : p;
    p = b[i] == nodata ? nodata : p;
    product[i] = p;
  }
}

}  // namespace

void multiplyCells(const GridParameters& working, const double* row1, const double* row2,
                   double* product) {
  // Columns 1 to n. Both grids' nodata_value is the run's, since their parameters agree.
  productRow(row1 + 1, row2 + 1, product + 1, columnCount(working.ncols), working.nodata_value);
}

void multiplyRow(const GridParameters& working, const double* row1, const double* row2,
                 double* product, ProductStatistics& stats) {
  multiplyCells(working, row1, row2, product);
  // Empty cells are offered too, which changes nothing: nodata_value never lies above
  // nodata_value + 1, so they are never counted.
  stats.addSamples(product + 1, columnCount(working.ncols));
}
