#include "arith/product.h"

#include <algorithm>  // min
#include <cstdint>
#include <limits>
#include <string>

#include "grid/messages.h"
#include "platform/compiler.h"
#include "platform/cpu_features.h"

#if CELLPROD_VECTOR_PATHS
// GCC 12 warns of uninitialized values inside its own AVX-512 headers, where the intrinsics
// build vectors from undefined ones that they then fill; the warnings say nothing of this code.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#include <immintrin.h>
#endif

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
// compares and blends. Where both cells are NaN, which of the two a multiplication gives back
// is the instruction's and the compiler's choice: b is multiplied by itself then, so that the
// product is always b's NaN (made quiet), on every CPU and path.
CELLPROD_ALWAYS_INLINE void productCells(const double* a, const double* b, double* product,
                                         std::size_t n, double nodata) {
  for (std::size_t i = 0; i < n; ++i) {
    double p = b[i] * (b[i] != b[i] ? b[i] : a[i]);
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

// The row pass of binary outputs: products, their floats where the output is single precision,
// and the statistics, in one pass over the row (plain: in pieces small enough to stay in cache).
// The plain pass defines the results; addSamples adds the products in their order.
void statisticsRowPlain(const double* a, const double* b, double* product, float* narrowed,
                        std::size_t n, double nodata, ProductStatistics& stats) {
  constexpr std::size_t piece = 256;
  double products[piece];
  for (std::size_t start = 0; start < n; start += piece) {
    const std::size_t m = std::min(piece, n - start);
    double* const p = narrowed != nullptr ? products : product + start;
    productCells(a + start, b + start, p, m, nodata);
    if (narrowed != nullptr)
      for (std::size_t i = 0; i < m; ++i) narrowed[start + i] = static_cast<float>(p[i]);
    stats.addSamples(p, m);
  }
}

#if CELLPROD_VECTOR_PATHS
// The first counted product of the row that equals zero. Zeros of either sign compare equal, so
// a vector minimum or maximum of zero does not tell which came first, as the plain pass keeps it.
double firstCountedZero(const double* a, const double* b, std::size_t n, double nodata,
                        double above) {
  for (std::size_t i = 0; i < n; ++i) {
    const double p = a[i] == nodata || b[i] == nodata ? nodata : b[i] * a[i];  // not NaN
    if (p == 0 && p > above) return p;
  }
  return 0;  // not reached: the caller saw such a product
}

// The row pass for AVX-512, eight cells at a time: the same multiplies, exact comparisons and
// roundings as the plain pass. Count, minimum and maximum do not depend on the order of the
// products, and are kept in vector form; the sum and the sum of squares do, and are added one
// product after the other in one chain, the two side by side in one register. An empty or
// uncounted cell adds -0.0 to both, which leaves every sum as it is.
CELLPROD_TARGET_AVX512 void statisticsRowAvx512(const double* a, const double* b, double* product,
                                                float* narrowed, std::size_t n, double nodata,
                                                ProductStatistics& stats) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  const __m512d empty = _mm512_set1_pd(nodata), above = _mm512_set1_pd(stats.threshold + 1.0);
  const __m512d noSum = _mm512_set1_pd(-0.0);
  // Each product beside its square: x0 x0² x1 x1² ... from the eight x and the eight squares.
  const __m512i firstFour = _mm512_setr_epi64(0, 8, 1, 9, 2, 10, 3, 11);
  const __m512i lastFour = _mm512_setr_epi64(4, 12, 5, 13, 6, 14, 7, 15);
  __m512d minimum = _mm512_set1_pd(inf), maximum = _mm512_set1_pd(-inf);
  __m128d sums = _mm_setr_pd(stats.sum, stats.sumOfSquares);
  std::uint64_t counted = 0;
  for (std::size_t i = 0; i < n; i += 8) {
    const __mmask8 lanes = n - i >= 8 ? 0xFF : static_cast<__mmask8>((1u << (n - i)) - 1);
    const __m512d x = _mm512_maskz_loadu_pd(lanes, a + i), y = _mm512_maskz_loadu_pd(lanes, b + i);
    const __mmask8 emptyCell =
        _mm512_cmp_pd_mask(x, empty, _CMP_EQ_OQ) | _mm512_cmp_pd_mask(y, empty, _CMP_EQ_OQ);
    const __m512d z = _mm512_mask_blend_pd(_mm512_cmp_pd_mask(y, y, _CMP_UNORD_Q), x, y);
    const __m512d p = _mm512_mask_blend_pd(emptyCell, _mm512_mul_pd(y, z), empty);
    if (narrowed != nullptr) _mm256_mask_storeu_ps(narrowed + i, lanes, _mm512_cvtpd_ps(p));
    else _mm512_mask_storeu_pd(product + i, lanes, p);
    const __mmask8 count = _mm512_mask_cmp_pd_mask(lanes, p, above, _CMP_GT_OQ);
    counted += static_cast<unsigned>(__builtin_popcount(count));
    minimum = _mm512_mask_min_pd(minimum, count, minimum, p);
    maximum = _mm512_mask_max_pd(maximum, count, maximum, p);
    const __m512d v = _mm512_mask_blend_pd(count, noSum, p);
    const __m512d squares = _mm512_mask_blend_pd(count, noSum, _mm512_mul_pd(p, p));
    const __m512d low = _mm512_permutex2var_pd(v, firstFour, squares);
    const __m512d high = _mm512_permutex2var_pd(v, lastFour, squares);
    sums = _mm_add_pd(sums, _mm512_castpd512_pd128(low));
    sums = _mm_add_pd(sums, _mm512_extractf64x2_pd(low, 1));
    sums = _mm_add_pd(sums, _mm512_extractf64x2_pd(low, 2));
    sums = _mm_add_pd(sums, _mm512_extractf64x2_pd(low, 3));
    sums = _mm_add_pd(sums, _mm512_castpd512_pd128(high));
    sums = _mm_add_pd(sums, _mm512_extractf64x2_pd(high, 1));
    sums = _mm_add_pd(sums, _mm512_extractf64x2_pd(high, 2));
    sums = _mm_add_pd(sums, _mm512_extractf64x2_pd(high, 3));
  }
  stats.sum = _mm_cvtsd_f64(sums);
  stats.sumOfSquares = _mm_cvtsd_f64(_mm_unpackhi_pd(sums, sums));
  if (counted == 0) return;
  // The row's smallest and largest counted products join those before them as addSample
  // would: the first counted value sets both, and a tie keeps the one seen first.
  const double countedAbove = stats.threshold + 1.0;
  const bool first = stats.count == 0;
  const double rowMinimum = _mm512_reduce_min_pd(minimum);
  const double rowMaximum = _mm512_reduce_max_pd(maximum);
  if (first || rowMinimum < stats.minimum)
    stats.minimum = rowMinimum == 0 ? firstCountedZero(a, b, n, nodata, countedAbove) : rowMinimum;
  if (first || rowMaximum > stats.maximum)
    stats.maximum = rowMaximum == 0 ? firstCountedZero(a, b, n, nodata, countedAbove) : rowMaximum;
  stats.count += static_cast<double>(counted);
}
#endif

// The row pass for this CPU, chosen once.
StatisticsRowPass statisticsRowForThisCpu() {
#if CELLPROD_VECTOR_PATHS
  if (cpuFeatures().avx512) return statisticsRowAvx512;
#endif
  return statisticsRowPlain;
}

}  // namespace

std::vector<StatisticsRowPass> availableStatisticsRowPasses() {
  std::vector<StatisticsRowPass> passes{statisticsRowPlain};
#if CELLPROD_VECTOR_PATHS
  if (cpuFeatures().avx512) passes.push_back(statisticsRowAvx512);
#endif
  return passes;
}

void multiplyCells(const GridParameters& working, const double* row1, const double* row2,
                   double* product) {
  // Columns 1 to n. Both grids' nodata_value is the run's, since their parameters agree.
  productRow(row1 + 1, row2 + 1, product + 1, columnCount(working.ncols), working.nodata_value);
}

void multiplyRow(const GridParameters& working, const double* row1, const double* row2,
                 double* product, float* narrowed, ProductStatistics& stats) {
  static const StatisticsRowPass forThisCpu = statisticsRowForThisCpu();
  forThisCpu(row1 + 1, row2 + 1, product + 1, narrowed != nullptr ? narrowed + 1 : nullptr,
             columnCount(working.ncols), working.nodata_value, stats);
}
