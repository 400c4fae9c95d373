// Recognising an input's encoding from its first bytes.
#pragma once

#include "grid/grid.h"

// Opens grid.name and decides its encoding: text if it starts with the four bytes "ncol",
// else double precision if its sixth double is -9999, else single precision if its sixth float
// is -9999. A regular file is left at its start (a text grid reopened in text mode); an input
// that cannot go back keeps the bytes read in grid.kept, or in its text scanner, for the
// header and the rows. Ends the run with status 98 if the file cannot be opened or is none of
// the three.
void detectEncoding(GridInput& grid);
