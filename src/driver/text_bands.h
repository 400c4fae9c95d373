// The rows of a text output in bands: the main thread forms the products of a band's rows in
// order (the statistics with them), the work pool's threads format bands into text side by
// side, and the main thread writes the bands in order, each row with the one write a row has
// when it is written alone, and prints each row's dot after its write.
#pragma once

#include <cstddef>
#include <memory>  // unique_ptr
#include <vector>

#include "driver/work_pool.h"
#include "grid/grid.h"

struct TextBand {
  CallocArray<double> products;       // row i's positions 1 to ncols from products[i * columns + 1]
  std::unique_ptr<char[], FreeDeleter> text;  // the rows' text one after the other
  CallocArray<std::size_t> rowEnds;   // where each row's text ends
  int firstRow = 0;
  std::size_t rows = 0;  // rows formed
  bool given = false;    // to the pool to format
  Job job;
  const GridOutput* output = nullptr;
  double ncols = 0;
};

struct TextBands {
  std::vector<TextBand> ring;  // band i in ring[i % ring.size()]; empty unless used
  std::size_t rowsPerBand = 0;
  std::size_t columns = 0;
  std::size_t filling = 0;  // the band whose rows are being formed
  std::size_t written = 0;  // bands written
  WorkPool* pool = nullptr;
};

// Sets up `count` bands where the output is text with rows that one write takes, at least one
// column, and the pool has threads. False where not, or where the memory cannot be had: the rows
// are then formatted and written one by one.
bool prepareBands(TextBands& bands, std::size_t count, const GridOutput& output, double ncols,
                  WorkPool& pool);

// Where the products of `row` go (positions 1 to ncols): a row of the band being formed.
double* bandRow(TextBands& bands, int row);

// After the row bandRow gave is formed: gives a full band to the pool, and writes the oldest
// band where every band is in use.
void rowFormed(TextBands& bands);

// Writes every band formed so far, the one being formed too, in order. Status 6 where a write
// fails.
void writeBands(TextBands& bands);
