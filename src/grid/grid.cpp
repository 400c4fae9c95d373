#include "grid/grid.h"

#include "grid/messages.h"

GridParameters parametersOf(const GridHeader& header) {
  return {header.at(position::ncols),     header.at(position::nrows),
          header.at(position::xllcorner), header.at(position::yllcorner),
          header.at(position::cellsize),  header.at(position::nodata_value)};
}
