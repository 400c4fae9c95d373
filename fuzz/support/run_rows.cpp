#include "support/run_rows.h"

#include <sys/mman.h>  // memfd_create

#include <algorithm>  // copy_n, count
#include <cstdio>

#include "rows/row_run.h"
#include "support/capture.h"
#include "support/reference.h"

namespace {

std::FILE* memoryFile() { return fdopen(memfd_create("grid", 0), "w+b"); }

}  // namespace

RowsThroughRun rowsThroughRun(GridInput& grid, std::size_t pieceBytes, unsigned threads) {
  RowsThroughRun r;
  const GridParameters working = parametersOf(grid.header);
  r.factor = working.nodata_value == 1.0 ? 2.0 : 1.0;
  const std::size_t cells = columnCount(working.ncols) * static_cast<std::size_t>(working.nrows);
  std::vector<double> factors(headerValues + cells, r.factor);  // hosts are little-endian
  std::copy_n(grid.header.values.begin(), headerValues, factors.begin());
  GridInput second;
  second.name = "factors.grd";
  second.encoding = GridEncoding::double_precision;
  second.header = grid.header;
  second.file = memoryFile();
  check(second.file != nullptr &&
        std::fwrite(factors.data(), sizeof(double), factors.size(), second.file) == factors.size());
  std::fseek(second.file, headerValues * sizeof(double), SEEK_SET);
  GridOutput out;
  out.name = "product.grd";
  out.encoding = GridEncoding::double_precision;
  out.file = memoryFile();
  check(out.file != nullptr);
  clearSaid();
  try {
    RowRun run;
    prepareRowRun(run, grid, second, out, working, threads, pieceBytes);
    runRows(run, nullptr);
  } catch (const RunEnded& e) {  // the row machinery's threads are ended and joined by now
    r.status = e.status;
    r.message = e.message;
  }
  r.dots = static_cast<std::size_t>(std::count(said().begin(), said().end(), '.'));
  std::fflush(out.file);
  r.products.resize(static_cast<std::size_t>(std::ftell(out.file)) / sizeof(double));
  std::rewind(out.file);
  check(std::fread(r.products.data(), sizeof(double), r.products.size(), out.file) ==
        r.products.size());
  std::fclose(out.file);
  std::fclose(second.file);
  return r;
}
