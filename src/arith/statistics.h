// Count, minimum, maximum, sum, mean and sample standard deviation of the product values,
// accumulated in one pass. Only values above nodata_value + 1 are counted.
#pragma once

struct ProductStatistics {
  double threshold = 0;
  double count = 0;
  double minimum = 0;
  double maximum = 0;
  double sum = 0;
  double sumOfSquares = 0;

  // Sets the threshold and clears count and sums; minimum and maximum are left as they are.
  void resetStatistics(double nodata);

  void addSample(double x) {
    if (!(x > threshold + 1.0)) return;  // also leaves out NaN
    sum += x;
    count += 1;
    sumOfSquares += x * x;
    if (count == 1) {
      minimum = maximum = x;
    } else if (x < minimum) {
      minimum = x;
    } else if (x > maximum) {
      maximum = x;
    }
  }

  // Mean and deviation are -9999 when undefined (no values; two values or fewer).
  void finalizeStatistics(double& countOut, double& minimumOut, double& maximumOut,
                          double& sumOut, double& mean, double& standardDeviation) const;
};
