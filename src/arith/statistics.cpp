#include "arith/statistics.h"

#include <cmath>  // sqrt

void ProductStatistics::resetStatistics(double nodata) {
  threshold = nodata;
  count = 0;
  sum = 0;
  sumOfSquares = 0;
}

void ProductStatistics::addSamples(const double* values, std::size_t n) {
  // Empty cells lie at random in a grid, where a branch per value would often be mispredicted:
  // the values to count are first gathered without branches, a piece at a time, then summed in
  // their order.
  constexpr std::size_t piece = 256;
  double gathered[piece];
  const double above = threshold + 1.0;
  for (std::size_t start = 0; start < n; start += piece) {
    const std::size_t end = n - start < piece ? n : start + piece;
    std::size_t counted = 0;
    for (std::size_t i = start; i < end; ++i) {
      gathered[counted] = values[i];
      counted += values[i] > above;  // false for NaN
    }
    if (counted == 0) continue;
    // A local copy keeps the sums in registers, since the stores above could alias them.
    ProductStatistics s = *this;
    if (s.count == 0) s.minimum = s.maximum = gathered[0];
    for (std::size_t i = 0; i < counted; ++i) {
      const double x = gathered[i];
      s.sum += x;
      s.sumOfSquares += x * x;
      s.count += 1;
      s.minimum = x < s.minimum ? x : s.minimum;
      s.maximum = x > s.maximum ? x : s.maximum;
    }
    *this = s;
  }
}

StatisticsBlock ProductStatistics::finalizeStatistics() const {
  StatisticsBlock block{count,      minimum, maximum, sum, count > 0 ? sum / count : fixedNodata,
                        fixedNodata};
  if (count > 2) {
    double q = sumOfSquares - sum * sum / count;
    block.standardDeviation = q > 0 ? std::sqrt(q / (count - 1)) : 0;
  }
  return block;
}
