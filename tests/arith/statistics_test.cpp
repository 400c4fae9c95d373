#include "arith/statistics.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>  // memcmp
#include <initializer_list>
#include <limits>
#include <random>
#include <vector>

#include "arith/product.h"  // the row passes

namespace {

using Block = std::array<double, 6>;  // count, minimum, maximum, sum, mean, deviation

Block blockOf(const ProductStatistics& s) {
  const StatisticsBlock r = s.finalizeStatistics();
  return {r.count, r.minimum, r.maximum, r.sum, r.mean, r.standardDeviation};
}

Block statisticsOf(double nodata, std::initializer_list<double> samples) {
  ProductStatistics s;
  s.resetStatistics(nodata);
  for (double x : samples) s.addSample(x);
  return blockOf(s);
}

TEST(ProductStatistics, NoCountedValues) {
  EXPECT_EQ(statisticsOf(-9999, {}), (Block{0, 0, 0, 0, -9999, -9999}));
  EXPECT_EQ(statisticsOf(-9999, {-9999, -9998.5}), (Block{0, 0, 0, 0, -9999, -9999}));
}

TEST(ProductStatistics, OneAndTwoValuesHaveNoDeviation) {
  EXPECT_EQ(statisticsOf(-9999, {4}), (Block{1, 4, 4, 4, 4, -9999}));
  EXPECT_EQ(statisticsOf(-9999, {4, 1}), (Block{2, 1, 4, 5, 2.5, -9999}));
}

TEST(ProductStatistics, SampleDeviation) {
  EXPECT_EQ(statisticsOf(-9999, {1, 2, 3}), (Block{3, 1, 3, 6, 2, 1}));
  EXPECT_EQ(statisticsOf(-9999, {3, 1, 2}), (Block{3, 1, 3, 6, 2, 1}));
  EXPECT_EQ(statisticsOf(-9999, {2, 2, 2}), (Block{3, 2, 2, 6, 2, 0}));
}

TEST(ProductStatistics, ThresholdIsNodataPlusOne) {
  EXPECT_EQ(statisticsOf(-9999, {-9998.000001, -9998, -9997.999999})[0], 1);
  EXPECT_EQ(statisticsOf(0, {0.5, 1, 1.0000001, 7})[0], 2);
  EXPECT_EQ(statisticsOf(-1, {-0.5, 0, 0.25})[0], 1);
  EXPECT_EQ(statisticsOf(100, {101, 101.5})[3], 101.5);
}

TEST(ProductStatistics, NegativeFirstValueSetsMinimumAndMaximum) {
  EXPECT_EQ(statisticsOf(-9999, {-5}), (Block{1, -5, -5, -5, -5, -9999}));
  EXPECT_EQ(statisticsOf(-9999, {-5, -7, -3}), (Block{3, -7, -3, -15, -5, 2}));
}

TEST(ProductStatistics, InfiniteProductIsCountedNaNIsNot) {
  const double inf = std::numeric_limits<double>::infinity();
  Block b = statisticsOf(-9999, {1, inf, 2, std::nan("")});
  EXPECT_EQ(b[0], 3);
  EXPECT_EQ(b[2], inf);
  EXPECT_EQ(b[3], inf);
  EXPECT_EQ(b[4], inf);
  EXPECT_EQ(b[5], 0);  // the corrected sum of squares is not a number
}

TEST(ProductStatistics, ResetKeepsMinimumAndMaximum) {
  ProductStatistics s;
  s.resetStatistics(-9999);
  s.addSample(5);
  s.addSample(8);
  s.resetStatistics(-9999);
  EXPECT_EQ(blockOf(s), (Block{0, 5, 8, 0, -9999, -9999}));
}

// The row-at-a-time forms give the very bits of addSample value by value: addSamples, and the
// statistics passes over products on every instruction set this CPU has; the products and their
// floats are those of one multiplication and one rounding each. Over rows of every length, rows
// without counted values, values of every kind, and signs mixed, only positive or only negative
// (so that zeros of either sign become the minimum or the maximum).
TEST(ProductStatistics, RowsGiveTheSameBitsAsSingleValues) {
  const double inf = std::numeric_limits<double>::infinity();
  const double special[] = {-9999, -9998,        -9998.5, 0.0,     -0.0,          inf,
                            -inf,  std::nan(""), 1e308,   -1e-300, -std::nan("7")};
  const std::vector<StatisticsPass> passes = availableStatisticsPasses();
  std::mt19937_64 rng(5);
  for (double nodata : {-9999.0, 0.0, 1e300, -1e300})
    for (int signs = 0; signs < 3; ++signs) {  // mixed, positive, negative
      ProductStatistics one, rows;
      std::vector<ProductStatistics> fused(passes.size());
      one.resetStatistics(nodata);
      rows.resetStatistics(nodata);
      for (ProductStatistics& s : fused) s.resetStatistics(nodata);
      for (int row = 0; row < 300; ++row) {
        const std::size_t n = rng() % 600;  // rows of several pieces too
        std::vector<double> a(n), b(n), products(n);
        for (std::size_t i = 0; i < n; ++i) {
          for (double* x : {&a[i], &b[i]}) {
            const auto kind = rng() % 8;
            if (kind == 0) *x = special[rng() % std::size(special)];
            else if (kind == 1) *x = nodata;
            else if (kind < 5) *x = 1.0;
            else
              *x = std::ldexp(static_cast<double>(rng() >> 11), static_cast<int>(rng() % 80) - 40);
          }
          if (signs == 0 && rng() % 4 == 0) a[i] = -a[i];
          if (signs == 2 && a[i] != nodata) a[i] = -std::abs(a[i]);
          if (signs != 0 && b[i] != nodata) b[i] = std::abs(b[i]);
          products[i] = a[i] == nodata || b[i] == nodata ? nodata : b[i] * a[i];
        }
        if (row % 100 == 0 && row > 0) {  // the statistics restart, keeping minimum and maximum
          one.resetStatistics(nodata);
          rows.resetStatistics(nodata);
          for (ProductStatistics& s : fused) s.resetStatistics(nodata);
        }
        for (double x : products) one.addSample(x);
        rows.addSamples(products.data(), n);
        const Block a1 = blockOf(one);
        std::vector<double> product(n + 1, 7.0);
        std::vector<float> narrowed(n + 1, 7.0f);
        std::vector<double> alone(n + 1, 7.0);  // the products without their floats
        multiplyCells({a.data()}, {b.data()}, product.data(), narrowed.data(), n, nodata);
        multiplyCells({a.data()}, {b.data()}, alone.data(), nullptr, n, nodata);
        ASSERT_EQ(std::memcmp(product.data(), alone.data(), n * sizeof(double)), 0);
        for (std::size_t i = 0; i < n; ++i) {
          // Of two NaN cells the product is b's NaN, made quiet.
          const double p = std::isnan(b[i]) && products[i] != nodata ? b[i] * b[i] : products[i];
          ASSERT_EQ(std::bit_cast<std::uint64_t>(product[i]), std::bit_cast<std::uint64_t>(p));
          ASSERT_EQ(std::bit_cast<std::uint32_t>(narrowed[i]),
                    std::bit_cast<std::uint32_t>(static_cast<float>(p)));
        }
        ASSERT_TRUE(product[n] == 7.0 && narrowed[n] == 7.0f) << "a cell after the row was written";
        for (std::size_t k = 0; k < passes.size(); ++k)
          passes[k]({a.data()}, {b.data()}, n, nodata, fused[k]);
        for (std::size_t k = 0; k <= fused.size(); ++k) {  // the last: addSamples
          const Block b1 = blockOf(k < fused.size() ? fused[k] : rows);
          for (std::size_t i = 0; i < a1.size(); ++i) {
            ASSERT_EQ(std::bit_cast<std::uint64_t>(a1[i]), std::bit_cast<std::uint64_t>(b1[i]))
                << "nodata " << nodata << ", signs " << signs << ", row " << row << ", statistic "
                << i << ", pass " << k;
          }
        }
      }
    }
}

// Floats of a single-precision input give, on every path, the very bits their widened doubles
// give: in the products, their floats and the statistics, as either input or both.
TEST(ProductStatistics, FloatsGiveTheBitsOfTheirDoubles) {
  std::mt19937_64 rng(11);
  for (std::size_t n : {1, 9, 255, 1000}) {
    std::vector<float> f(2 * n);  // a's, then b's: any bits, nodata among them
    for (float& x : f) x = rng() % 4 ? std::bit_cast<float>(std::uint32_t(rng())) : -9999.0f;
    const std::vector<double> w(f.begin(), f.end());
    for (int floats = 1; floats < 4; ++floats) {  // a's, b's, both
      const CellValues a = floats & 1 ? CellValues{nullptr, &f[0]} : CellValues{&w[0]};
      const CellValues b = floats & 2 ? CellValues{nullptr, &f[n]} : CellValues{&w[n]};
      std::vector<double> p(2 * n);
      std::vector<float> q(2 * n);
      multiplyCells(a, b, &p[0], &q[0], n, -9999);
      multiplyCells({&w[0]}, {&w[n]}, &p[n], &q[n], n, -9999);
      ASSERT_EQ(std::memcmp(&p[0], &p[n], n * 8) | std::memcmp(&q[0], &q[n], n * 4), 0);
      std::vector<ProductStatistics> s(3);
      for (ProductStatistics& x : s) x.resetStatistics(-9999);
      availableStatisticsPasses()[0]({&w[0]}, {&w[n]}, n, -9999, s[2]);
      for (std::size_t k = 0; k < availableStatisticsPasses().size(); ++k) {
        availableStatisticsPasses()[k](a, b, n, -9999, s[k]);
        ASSERT_EQ(std::memcmp(blockOf(s[k]).data(), blockOf(s[2]).data(), sizeof(Block)), 0) << n;
      }
    }
  }
}

}  // namespace
