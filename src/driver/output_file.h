// Creating the output file, with the console dialogue for another name while that fails.
#pragma once

#include "grid/grid.h"

// Opens out.name for writing ("wb" for binary encodings, "wt" for text). While the file cannot
// be created, or the name refers to one of the inputs, reports it, asks for another name on
// standard input and tries again; an empty answer or the end of input ends the run with
// status 1. On return out.name holds the name that was opened. With `emptyLater` an existing
// file is emptied while the run goes on (openOutputFile).
void openOutput(GridOutput& out, const GridInput& grid1, const GridInput& grid2, bool emptyLater);
