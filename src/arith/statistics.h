// Count, minimum, maximum, sum, mean and sample standard deviation of the product values,
// accumulated in one pass. Only values above nodata_value + 1 are counted.
#pragma once

#include <bit>      // bit_cast
#include <cstdint>
#include <limits>

// x if take, otherwise y; by bit masks, so that the compiler emits no branch.
inline double select(bool take, double x, double y) {
  const std::uint64_t mask = 0 - static_cast<std::uint64_t>(take);
  return std::bit_cast<double>((std::bit_cast<std::uint64_t>(x) & mask) |
                               (std::bit_cast<std::uint64_t>(y) & ~mask));
}

struct ProductStatistics {
  double threshold = 0;
  double count = 0;
  double minimum = 0;
  double maximum = 0;
  double sum = 0;
  double sumOfSquares = 0;

  // Sets the threshold and clears count and sums; minimum and maximum are left as they are.
  void resetStatistics(double nodata);

  // Counts x if it lies above threshold + 1. The test decides by masks, not by branches, as
  // values left out are scattered at random through a grid: for the sums a left-out value
  // becomes +0.0, which leaves them unchanged (they start at +0 and so can never be -0), and
  // for the minimum and maximum it becomes +inf and -inf.
  void addSample(double x) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    const bool take = x > threshold + 1.0;  // never for NaN
    if (count == 0 && take) minimum = maximum = x;  // the first counted value, once a run
    const double counted = select(take, x, 0.0);
    sum += counted;
    sumOfSquares += counted * counted;
    count += static_cast<double>(take);
    const double low = select(take, x, inf);
    const double high = select(take, x, -inf);
    minimum = low < minimum ? low : minimum;
    maximum = high > maximum ? high : maximum;
  }

  // Mean and deviation are -9999 when undefined (no values; two values or fewer).
  void finalizeStatistics(double& countOut, double& minimumOut, double& maximumOut,
                          double& sumOut, double& mean, double& standardDeviation) const;
};
