// For fuzz targets: the rows of a grid through the run's own row machinery, with real threads,
// multiplied by factors whose products are known exactly, so that the values read can be held
// to a reference reading.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "grid/grid.h"

struct RowsThroughRun {
  double factor = 1;             // every cell of the factors: 2 where nodata_value is 1, else 1
  std::vector<double> products;  // the output's cells, as written
  std::size_t dots = 0;          // rows shown as done
  int status = 0;                // 0, or how the run ended, and its message
  std::string message;
};

// Multiplies the rows of `grid`, its header read, by a double-precision grid of the same raster
// whose cells are all the factor, into a double-precision output in memory, on `threads`
// threads, inputs in regular files read in pieces of pieceBytes.
RowsThroughRun rowsThroughRun(GridInput& grid, std::size_t pieceBytes, unsigned threads);

// The product the run forms of a value read and the factor: nodata_value where the value is
// empty, else their product.
inline double productOf(double value, double nodata, double factor) {
  return value == nodata ? nodata : factor * value;
}
