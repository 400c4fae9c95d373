/* per_value A B OUT: multiplies two text grids into a text grid one value at a time with the
   C library's formatted I/O, fscanf("%lg") and fprintf("%lg"), as a tool without a scanner and
   writer of its own does. The reference for how fast a plain text run can be with stdio; it
   checks nothing. */
#include <stdio.h>

static int header(FILE *in, double values[6]) {
  char keyword[256];
  for (int i = 0; i < 6; ++i)
    if (fscanf(in, "%255s%lf", keyword, &values[i]) != 2) return 0;
  return 1;
}

int main(int argc, char **argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: per_value A B OUT\n");
    return 2;
  }
  FILE *a = fopen(argv[1], "rt"), *b = fopen(argv[2], "rt"), *out = fopen(argv[3], "wt");
  if (a == NULL || b == NULL || out == NULL) return 1;
  double ha[6], hb[6];
  if (!header(a, ha) || !header(b, hb)) return 1;
  const long ncols = (long)ha[0], nrows = (long)ha[1];
  fprintf(out, "ncols\t%ld\nnrows\t%ld\nxllcorner\t%lg\nyllcorner\t%lg\ncellsize\t%lg\n"
               "nodata_value\t%lg\n", ncols, nrows, ha[2], ha[3], ha[4], ha[5]);
  for (long r = 0; r < nrows; ++r) {
    for (long c = 0; c < ncols; ++c) {
      double x = 0, y = 0;
      if (fscanf(a, "%lg", &x) != 1 || fscanf(b, "%lg", &y) != 1) return 1;
      const double p = (x == ha[5] || y == hb[5]) ? ha[5] : x * y;
      fprintf(out, c + 1 < ncols ? "%lg\t" : "%lg\n", p);
    }
  }
  return fclose(out) == 0 ? 0 : 1;
}
