// The single- and double-precision binary encodings: a header of twelve values (the six grid
// parameters, then the statistics block count, minimum, maximum, sum, mean, deviation) and
// the cells row after row, all little-endian, 4 or 8 bytes a value.
#pragma once

#include "grid/grid.h"

// Byte offset of the statistics block; the cells follow at twice that offset.
constexpr long statisticsOffset(GridEncoding e) { return e == GridEncoding::single ? 24 : 48; }

// Fills header positions 1 to 12; status 1 if the file holds fewer than twelve values.
void readBinaryHeader(GridInput& grid);

// Reads the rows of the range; status 5 in the row that is cut short. Single-precision values
// stay floats, from the first value's place on (values + 1), in the host's byte order.
void readBinaryRows(GridInput& grid, RowRange& rows);

// Writes the provisional header from grid 1's header, statistics block included.
void writeBinaryHeader(GridOutput& out, const GridHeader& grid1);

// Seeks back into the header and overwrites the statistics block with the final statistics;
// status 4 if that fails.
void writeStatisticsBlock(GridOutput& out, const StatisticsBlock& statistics);
