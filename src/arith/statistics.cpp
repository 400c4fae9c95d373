#include "arith/statistics.h"

#include <cmath>  // sqrt

#include "grid/grid.h"

void ProductStatistics::resetStatistics(double nodata) {
  threshold = nodata;
  count = 0;
  sum = 0;
  sumOfSquares = 0;
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
