// Recognising an input's encoding from its first bytes.
#pragma once

#include "grid/grid.h"

// Opens grid.name and decides its encoding: text if it starts with the four bytes "ncol"
// (reopened in text mode), else double precision if its sixth double is -9999, else single
// precision if its sixth float is -9999. Leaves the file at its start. Ends the run with
// status 98 if the file cannot be opened or is none of the three.
void detectEncoding(GridInput& grid);
