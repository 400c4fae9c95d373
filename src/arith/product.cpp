#include "arith/product.h"

#include <string>

#include "grid/messages.h"
#include "platform/compiler.h"
#include "platform/cpu_features.h"

void checkCompatible(const GridInput& grid1, const GridInput& grid2) {
  for (int pos = position::ncols; pos <= position::nodata_value; ++pos) {
    double a = grid1.header.at(pos);
    double b = grid2.header.at(pos);
    if (a == b) continue;
    fail(parameterMismatch(pos, a, grid1.name, grid2.name, b));
  }
}

namespace {

using ProductRow = void (*)(const double* a, const double* b, double* product, std::size_t n,
                            double nodata);

// The products of n cells, nodata where a cell of either row is empty. Empty cells lie at
// random in a grid, so the loop has no branches: the compiler turns the choices into vector
// compares and blends.
CELLPROD_ALWAYS_INLINE void productCells(const double* a, const double* b, double* product,
                                         std::size_t n, double nodata) {
  for (std::size_t i = 0; i < n; ++i) {
    double p = b[i] * a[i];
    p = a[i] == nodata ? nodata : p;
    p = b[i] == nodata ? nodata : p;
    product[i] = p;
  }
}

void productRowPlain(const double* a, const double* b, double* product, std::size_t n,
                     double nodata) {
  productCells(a, b, product, n, nodata);
}

#if CELLPROD_VECTOR_PATHS
// The same loop for AVX-512, eight cells at a time: the same multiplies and exact comparisons,
// so the same bits.
CELLPROD_TARGET_AVX512 void productRowAvx512(const double* a, const double* b, double* product,
                                             std::size_t n, double nodata) {
  productCells(a, b, product, n, nodata);
}
#endif

// The product loop for this CPU, chosen once.
ProductRow productRowForThisCpu() {
#if CELLPROD_VECTOR_PATHS
  if (cpuFeatures().avx512) return productRowAvx512;
#endif
  return productRowPlain;
}

void productRow(const double* a, const double* b, double* product, std::size_t n, double nodata) {
  static const ProductRow forThisCpu = productRowForThisCpu();
  forThisCpu(a, b, product, n, nodata);
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
