#include "grid/grid.h"

#include "grid/messages.h"

GridParameters parametersOf(const GridHeader& header) {
  return {header.at(position::ncols),     header.at(position::nrows),
          header.at(position::xllcorner), header.at(position::yllcorner),
          header.at(position::cellsize),  header.at(position::nodata_value)};
}

void failUnlessWhole(const GridInput& grid, RowRange& rows, std::size_t got) {
  const std::size_t ncols = rows.columns;
  rows.done = ncols == 0 ? rows.count : got / ncols;
  if (rows.done < rows.count)
    fail(rowReadFailure(grid.name, rows.first + static_cast<int>(rows.done), got % ncols));
}
