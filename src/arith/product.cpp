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

// The products of n cells, nodata1 where a cell of either row is empty. Empty cells lie at
// random in a grid, so the loop has no branches: the compiler turns the choices into vector
// compares and blends.
void productRow(const double* a, const double* b, double* product, std::size_t n,
                double nodata1, double nodata2) {
  for (std::size_t i = 0; i < n; ++i) {
    double p = b[i] * a[i];
    p = a[i] == nodata1 ? nodata1 : p;
    p = b[i] == nodata2 ? nodata1 : p;
    product[i] = p;
  }
}

}  // namespace

void multiplyRow(GridInput& grid1, GridInput& grid2, GridOutput& out, ProductStatistics& stats) {
  // Columns 1 to n.
  const double* a = grid1.row + 1;
  const double* b = grid2.row + 1;
  double* product = out.row.get() + 1;
  const double nodata1 = grid1.working.nodata_value;
  const double nodata2 = grid2.working.nodata_value;
  const std::size_t n = columnCount(grid1.working.ncols);
  productRow(a, b, product, n, nodata1, nodata2);
  // Empty cells are offered too, which changes nothing: nodata_value never lies above
  // nodata_value + 1, so they are never counted.
  stats.addSamples(product, n);
}
