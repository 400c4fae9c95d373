#include "arith/product.h"

#include <algorithm>  // min
#include <cstdint>
#include <limits>
#include <string>

#include "grid/messages.h"
#include "platform/compiler.h"
#include "platform/cpu_features.h"

#if CELLPROD_VECTOR_PATHS
#include "platform/avx512.h"
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

using ProductRow = void (*)(CellValues a, CellValues b, double* product, float* narrowed,
                            std::size_t n, double nodata);

// Calls f(a, b) with the pointers the two hold, doubles or floats: each kernel below is one
// template for the four pairs.
template <class F>
CELLPROD_ALWAYS_INLINE void withPointers(CellValues a, CellValues b, F f) {
  if (a.floats != nullptr) {
    if (b.floats != nullptr) f(a.floats, b.floats);
    else f(a.floats, b.doubles);
  } else {
    if (b.floats != nullptr) f(a.doubles, b.floats);
    else f(a.doubles, b.doubles);
  }
}

// The product of two cells, nodata where either is empty. Empty cells lie at random in a grid, so
// there are no branches: the compiler turns the choices into vector compares and blends. Where
// both cells are NaN, which of the two a multiplication gives back is the instruction's and the
// compiler's choice: b is multiplied by itself then, so that the product is always b's NaN (made
// quiet), on every CPU and path.
CELLPROD_ALWAYS_INLINE double productOf(double a, double b, double nodata) {
  double p = b * (b != b ? b : a);
  p = a == nodata ? nodata : p;
  return b == nodata ? nodata : p;
}

// The products of n cells where `product` is given, their nearest floats where `narrowed` is.
template <bool keep, bool narrow, class A, class B>
CELLPROD_ALWAYS_INLINE void productCells(const A* a, const B* b, double* product, float* narrowed,
                                         std::size_t n, double nodata) {
  for (std::size_t i = 0; i < n; ++i) {
    const double p = productOf(a[i], b[i], nodata);
    if constexpr (keep) product[i] = p;
    if constexpr (narrow) narrowed[i] = static_cast<float>(p);
  }
}

template <class A, class B>
CELLPROD_ALWAYS_INLINE void productCells(const A* a, const B* b, double* product, float* narrowed,
                                         std::size_t n, double nodata) {
  if (narrowed == nullptr) productCells<true, false>(a, b, product, narrowed, n, nodata);
  else if (product == nullptr) productCells<false, true>(a, b, product, narrowed, n, nodata);
  else productCells<true, true>(a, b, product, narrowed, n, nodata);
}

template <class A, class B>
void productRunPlain(const A* a, const B* b, double* product, float* narrowed, std::size_t n,
                     double nodata) {
  productCells(a, b, product, narrowed, n, nodata);
}

void productRowPlain(CellValues a, CellValues b, double* product, float* narrowed, std::size_t n,
                     double nodata) {
  withPointers(a, b, [&](auto x, auto y) { productRunPlain(x, y, product, narrowed, n, nodata); });
}

#if CELLPROD_VECTOR_PATHS
// The same loops for AVX-512, eight cells at a time: the same multiplies and exact comparisons,
// so the same bits.
template <class A, class B>
CELLPROD_TARGET_AVX512 void productRunAvx512(const A* a, const B* b, double* product,
                                             float* narrowed, std::size_t n, double nodata) {
  productCells(a, b, product, narrowed, n, nodata);
}

void productRowAvx512(CellValues a, CellValues b, double* product, float* narrowed, std::size_t n,
                      double nodata) {
  withPointers(a, b, [&](auto x, auto y) { productRunAvx512(x, y, product, narrowed, n, nodata); });
}
#endif

// The product loop for this CPU, chosen once.
ProductRow productRowForThisCpu() {
#if CELLPROD_VECTOR_PATHS
  if (cpuFeatures().avx512) return productRowAvx512;
#endif
  return productRowPlain;
}

// The plain pass, which defines the statistics: the products formed again, in pieces small
// enough to stay in the cache, and added in their order.
template <class A, class B>
void statisticsRunPlain(const A* a, const B* b, std::size_t n, double nodata,
                        ProductStatistics& stats) {
  constexpr std::size_t piece = 256;
  double products[piece];
  for (std::size_t start = 0; start < n; start += piece) {
    const std::size_t m = std::min(piece, n - start);
    productCells<true, false>(a + start, b + start, products, nullptr, m, nodata);
    stats.addSamples(products, m);
  }
}

void statisticsPlain(CellValues a, CellValues b, std::size_t n, double nodata,
                     ProductStatistics& stats) {
  withPointers(a, b, [&](auto x, auto y) { statisticsRunPlain(x, y, n, nodata, stats); });
}

#if CELLPROD_VECTOR_PATHS
// The first counted product that equals zero. Zeros of either sign compare equal, so a vector
// minimum or maximum of zero does not tell which came first, as the plain pass keeps it.
template <class A, class B>
double firstCountedZero(const A* a, const B* b, std::size_t n, double nodata, double above) {
  for (std::size_t i = 0; i < n; ++i) {
    const double x = a[i], y = b[i];
    const double p = x == nodata || y == nodata ? nodata : y * x;  // not NaN
    if (p == 0 && p > above) return p;
  }
  return 0;  // not reached: the caller saw such a product
}

// Eight values of an input, as doubles.
CELLPROD_TARGET_AVX512 inline __m512d load8(__mmask8 lanes, const double* values) {
  return _mm512_maskz_loadu_pd(lanes, values);
}

CELLPROD_TARGET_AVX512 inline __m512d load8(__mmask8 lanes, const float* values) {
  return _mm512_cvtps_pd(_mm256_maskz_loadu_ps(lanes, values));
}

// The pass for AVX-512, eight cells at a time, with the same multiplies, comparisons and
// roundings as the plain pass. Count, minimum and maximum do not depend on the order of the
// products, and are kept in vector form; the sum and the sum of squares do, and are added one
// product after the other in one chain, the two side by side in one register, whose latency the
// products' own work hides. An uncounted product adds -0.0 to both, which leaves every sum as it
// is.
template <class A, class B>
CELLPROD_TARGET_AVX512 void statisticsRunAvx512(const A* a, const B* b, std::size_t n,
                                                double nodata, ProductStatistics& stats) {
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
    const __m512d x = load8(lanes, a + i), y = load8(lanes, b + i);
    const __mmask8 emptyCell =
        _mm512_cmp_pd_mask(x, empty, _CMP_EQ_OQ) | _mm512_cmp_pd_mask(y, empty, _CMP_EQ_OQ);
    const __m512d z = _mm512_mask_blend_pd(_mm512_cmp_pd_mask(y, y, _CMP_UNORD_Q), x, y);
    const __m512d p = _mm512_mask_blend_pd(emptyCell, _mm512_mul_pd(y, z), empty);
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
  // The smallest and largest counted products join those before them as addSample would: the
  // first counted value sets both, and a tie keeps the one seen first.
  const double countedAbove = stats.threshold + 1.0;
  const bool first = stats.count == 0;
  const double low = _mm512_reduce_min_pd(minimum), high = _mm512_reduce_max_pd(maximum);
  if (first || low < stats.minimum)
    stats.minimum = low == 0 ? firstCountedZero(a, b, n, nodata, countedAbove) : low;
  if (first || high > stats.maximum)
    stats.maximum = high == 0 ? firstCountedZero(a, b, n, nodata, countedAbove) : high;
  stats.count += static_cast<double>(counted);
}

void statisticsAvx512(CellValues a, CellValues b, std::size_t n, double nodata,
                      ProductStatistics& stats) {
  withPointers(a, b, [&](auto x, auto y) { statisticsRunAvx512(x, y, n, nodata, stats); });
}
#endif

// The pass for this CPU, chosen once.
StatisticsPass statisticsForThisCpu() {
#if CELLPROD_VECTOR_PATHS
  if (cpuFeatures().avx512) return statisticsAvx512;
#endif
  return statisticsPlain;
}

}  // namespace

std::vector<StatisticsPass> availableStatisticsPasses() {
  std::vector<StatisticsPass> passes{statisticsPlain};
#if CELLPROD_VECTOR_PATHS
  if (cpuFeatures().avx512) passes.push_back(statisticsAvx512);
#endif
  return passes;
}

void multiplyCells(CellValues a, CellValues b, double* product, float* narrowed, std::size_t n,
                   double nodata) {
  static const ProductRow forThisCpu = productRowForThisCpu();
  forThisCpu(a, b, product, narrowed, n, nodata);
}

void addProductStatistics(CellValues a, CellValues b, std::size_t n, double nodata,
                          ProductStatistics& stats) {
  static const StatisticsPass forThisCpu = statisticsForThisCpu();
  forThisCpu(a, b, n, nodata, stats);
}
