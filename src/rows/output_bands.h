// A text output's rows in bands, so that the work pool's threads format them beside the main
// thread. The main thread forms the products of a band's rows in order; the pool's threads
// format whole bands side by side; the main thread writes them in order, each row with the one
// write a row has when it is written alone, and its dot after it.
#pragma once

#include <cstddef>
#include <memory>  // unique_ptr
#include <vector>

#include "grid/grid.h"
#include "rows/work_pool.h"

struct OutputBand {
  CallocArray<double> products;  // row i's positions 1 to ncols from products[i * columns + 1]
  std::unique_ptr<char[], FreeDeleter> text;  // a text output's rows one after the other
  CallocArray<std::size_t> rowEnds;           // where each row's text ends
  int firstRow = 0;
  std::size_t rows = 0;  // rows formed
  Job job;
  const GridOutput* output = nullptr;
  double ncols = 0;
};

struct OutputBands {
  std::vector<OutputBand> ring;  // band i in ring[i % ring.size()]; empty unless used
  std::size_t rowsPerBand = 0;
  std::size_t columns = 0;
  std::size_t forming = 0;  // the band whose rows are being formed
  bool formingHasRows = false;  // whether it has rows yet
  std::size_t written = 0;  // text bands written
  WorkPool* pool = nullptr;
};

// Whether a text output can be written in bands: rows that one write takes, at least one column,
// and threads in the pool to format them.
bool textBandsFit(const GridOutput& output, double ncols, const WorkPool& pool);

// Sets up jobsPerUser(threads) bands. False where the memory cannot be had: the rows are then
// formed, formatted and written one by one.
bool prepareBands(OutputBands& bands, unsigned threads, const GridOutput& output, double ncols,
                  WorkPool& pool);

// Whether the output is written in bands.
inline bool inBands(const OutputBands& bands) { return !bands.ring.empty(); }

// Where the products of `row` go (positions 1 to ncols): a row of the band being formed.
double* bandRow(OutputBands& bands, int row);

// After the row bandRow gave is formed: hands a full band to the pool to format, and writes the
// oldest band where every band is in use.
void rowFormed(OutputBands& bands);

// Hands the band being formed over as it is, and writes every text band formed so far, in
// order: after the last row, before waiting for an input, before reporting a failure. Status 6
// where a write fails.
void writeBands(OutputBands& bands);
