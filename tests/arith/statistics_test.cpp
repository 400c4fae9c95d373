#include "arith/statistics.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <initializer_list>
#include <limits>

namespace {

using Block = std::array<double, 6>;  // count, minimum, maximum, sum, mean, deviation

Block statisticsOf(double nodata, std::initializer_list<double> samples) {
  ProductStatistics s;
  s.resetStatistics(nodata);
  for (double x : samples) s.addSample(x);
  Block b{};
  s.finalizeStatistics(b[0], b[1], b[2], b[3], b[4], b[5]);
  return b;
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
  Block b{};
  s.finalizeStatistics(b[0], b[1], b[2], b[3], b[4], b[5]);
  EXPECT_EQ(b, (Block{0, 5, 8, 0, -9999, -9999}));
}

}  // namespace
