#include "arith/product.h"

#include <string>

#include "driver/fail.h"
#include "grid/number_format.h"

void checkCompatible(const GridInput& grid1, const GridInput& grid2) {
  for (int pos = position::ncols; pos <= position::nodata_value; ++pos) {
    double a = grid1.header.at(pos);
    double b = grid2.header.at(pos);
    if (a == b) continue;
    fail(2, std::to_string(pos) + ". Parameter (" + fixed6Text(a) + ") in " + grid1.name +
                " stimmt nicht\n mit dem in " + grid2.name + " ueberein (" + fixed6Text(b) +
                ")\n");
  }
}

void multiplyRow(GridInput& grid1, GridInput& grid2, GridOutput& out, ProductStatistics& stats) {
  const double* a = grid1.row.get();
  const double* b = grid2.row.get();
  double* product = out.row.get();
  const double nodata1 = grid1.working.nodata_value;
  const double nodata2 = grid2.working.nodata_value;
  const double ncols = grid1.working.ncols;
  for (int column = 1; column <= ncols; ++column) {
    if (a[column] == nodata1 || b[column] == nodata2) {
      product[column] = nodata1;
    } else {
      product[column] = b[column] * a[column];
      stats.addSample(product[column]);
    }
  }
}
