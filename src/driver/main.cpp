// cellprod: multiplies two raster grids cell by cell and writes the product as a third grid.
#include "driver/run.h"

int main(int argc, char** argv) { return runCellprod(argc, argv); }
