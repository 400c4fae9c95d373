// Count, minimum, maximum, sum, mean and sample standard deviation of the product values,
// accumulated in one pass. Only values above nodata_value + 1 are counted.
#pragma once

#include <cstddef>

#include "grid/grid.h"

struct ProductStatistics {
  double threshold = 0;
  double count = 0;
  double minimum = 0;
  double maximum = 0;
  double sum = 0;
  double sumOfSquares = 0;

  // Sets the threshold and clears count and sums; minimum and maximum are left as they are.
  void resetStatistics(double nodata);

  // Counts x if it lies above threshold + 1.
  void addSample(double x) {
    if (!(x > threshold + 1.0)) return;  // also leaves out NaN
    sum += x;
    sumOfSquares += x * x;
    count += 1;
    if (count == 1) {
      minimum = maximum = x;
    } else {
      minimum = x < minimum ? x : minimum;
      maximum = x > maximum ? x : maximum;
    }
  }

  // Adds those of n values that lie above threshold + 1, in their order, exactly as addSample
  // one by one would.
  void addSamples(const double* values, std::size_t n);

  // Mean and deviation are -9999 when undefined (no values; two values or fewer).
  StatisticsBlock finalizeStatistics() const;
};
