#include "arith/statistics.h"

#include <cmath>  // sqrt

#include "grid/grid.h"

void ProductStatistics::resetStatistics(double nodata) {
  threshold = nodata;
  count = 0;
  sum = 0;
  sumOfSquares = 0;
}

void ProductStatistics::addSamples(const double* values, std::size_t n, double* scratch) {
  // Empty cells lie at random in a grid, where a branch per value would often be mispredicted:
  // the values to count are first gathered without branches, then summed in their order.
  const double above = threshold + 1.0;
  std::size_t counted = 0;
  for (std::size_t i = 0; i < n; ++i) {
    scratch[counted] = values[i];
    counted += values[i] > above;  // false for NaN
  }
  if (counted == 0) return;
  // A local copy keeps the sums in registers, since the stores above could alias them.
  ProductStatistics s = *this;
  if (s.count == 0) s.minimum = s.maximum = scratch[0];
  for (std::size_t i = 0; i < counted; ++i) {
    const double x = scratch[i];
    s.sum += x;
    s.sumOfSquares += x * x;
    s.count += 1;
    s.minimum = x < s.minimum ? x : s.minimum;
    s.maximum = x > s.maximum ? x : s.maximum;
  }
  *this = s;
}

void ProductStatistics::finalizeStatistics(double& countOut, double& minimumOut,
                                           double& maximumOut, double& sumOut, double& mean,
                                           double& standardDeviation) const {
  countOut = count;
  minimumOut = minimum;
  maximumOut = maximum;
  sumOut = sum;
  mean = count > 0 ? sum / count : fixedNodata;
  if (count > 2) {
    double q = sumOfSquares - sum * sum / count;
    standardDeviation = q > 0 ? std::sqrt(q / (count - 1)) : 0;
  } else {
    standardDeviation = fixedNodata;
  }
}
