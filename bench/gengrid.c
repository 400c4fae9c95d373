/* gengrid t|s|d|f|g|e NCOLS NROWS SEED OUT: writes a grid for the benchmark, text (t), single
   (s) or double (d) precision: xllcorner 3500000, yllcorner 5600000, cellsize 25, nodata_value
   -9999; values uniform in [0, 1000) with six significant digits, 5% of the cells empty. The
   same seed gives the same cells in every encoding; two seeds, two grids of the same raster.
   f, g and e write text grids of values with every digit, spelt as GIS programs and numpy
   spell them: f as GDAL does a Float32 raster (%.18g of the float), g a Float64 raster (%.20g),
   e as numpy's savetxt (%.18e). */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static uint64_t state;

/* splitmix64 */
static uint64_t next(void) {
  uint64_t z = (state += 0x9e3779b97f4a7c15u);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
  return z ^ (z >> 31);
}

/* A cell: -9999, or a value in [0, 1000), spelt as `kind` says (the six-digit text of t, s and
   d gives their value). */
static double cell(char *text, size_t size, char kind) {
  if (next() % 100 < 5) {
    snprintf(text, size, "-9999");
    return -9999;
  }
  const double v = (double)(next() >> 11) * 0x1p-53 * 1000.0;
  if (kind == 'f') snprintf(text, size, "%.18g", (double)(float)v);
  else if (kind == 'g') snprintf(text, size, "%.20g", v);
  else if (kind == 'e') snprintf(text, size, "%.18e", v);
  else snprintf(text, size, "%.6g", v);
  return strtod(text, NULL);
}

static int put(FILE *out, double v, char kind) {
  if (kind == 'd') return fwrite(&v, sizeof v, 1, out) == 1;
  float f = (float)v;
  return fwrite(&f, sizeof f, 1, out) == 1;
}

int main(int argc, char **argv) {
  if (argc != 6 || argv[1][0] == 0 || strchr("tsdfge", argv[1][0]) == NULL) {
    fprintf(stderr, "usage: gengrid t|s|d|f|g|e NCOLS NROWS SEED OUT\n");
    return 2;
  }
  const char kind = argv[1][0];
  const int asText = kind != 's' && kind != 'd';
  const long ncols = atol(argv[2]), nrows = atol(argv[3]);
  state = strtoull(argv[4], NULL, 10);
  FILE *out = fopen(argv[5], "wb");
  if (out == NULL) return 1;
  static char buffer[1 << 20];
  setvbuf(out, buffer, _IOFBF, sizeof buffer);
  int ok = 1;
  if (asText) {
    fprintf(out, "ncols %ld\nnrows %ld\nxllcorner 3500000\nyllcorner 5600000\ncellsize 25\n"
                 "nodata_value -9999\n", ncols, nrows);
  } else {  /* the six parameters and an empty statistics block, little-endian (x86-64) */
    const double header[12] = {ncols, nrows, 3500000, 5600000, 25, -9999};
    for (int i = 0; i < 12; ++i) ok &= put(out, header[i], kind);
  }
  char text[32];
  for (long r = 0; r < nrows; ++r) {
    for (long c = 0; c < ncols; ++c) {
      const double v = cell(text, sizeof text, kind);
      if (asText) ok &= fprintf(out, c + 1 < ncols ? "%s " : "%s\n", text) > 0;
      else ok &= put(out, v, kind);
    }
  }
  ok &= fclose(out) == 0;
  return ok ? 0 : 1;
}
