/* floor A B OUT: reads A and B to the end in 1 MiB blocks and writes A's bytes to OUT. No
   parsing and no arithmetic: the I/O any streaming product of two grids does at the least,
   when its output is as large as one input. */
#include <stdio.h>

static char block[1 << 20];

static int copy(const char *name, FILE *out) {
  FILE *in = fopen(name, "rb");
  if (in == NULL) return 0;
  size_t got;
  int ok = 1;
  while ((got = fread(block, 1, sizeof block, in)) > 0)
    if (out != NULL) ok &= fwrite(block, 1, got, out) == got;
  fclose(in);
  return ok;
}

int main(int argc, char **argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: floor A B OUT\n");
    return 2;
  }
  FILE *out = fopen(argv[3], "wb");
  if (out == NULL) return 1;
  int ok = copy(argv[1], out) & copy(argv[2], NULL);
  ok &= fclose(out) == 0;
  return ok ? 0 : 1;
}
