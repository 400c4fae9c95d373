// per_number: thread CPU time a number of this project's readers, fast_float::from_chars and
// strtod, over 1,000,000 numbers of each spelling (GDAL's Float32, %.18g of a float; its
// Float64, %.20g; numpy's savetxt, %.18e; the six digits of the benchmark's grids), in memory,
// lowest of 15 runs; then the time a cell of each cell writer, the plain one and those of the
// vector paths, on the products of bench/gengrid's two 4000 x 4000 text grids, a band of them at
// a time as the tool formats them.
// Every reader's values are checked against strtod's, bit for bit, and every writer's text
// against printf's "%lg" with an exponent of three digits; the status is 1 where any differs.
// Run it on one core (taskset -c 0); bench/run does.
#include <fast_float/fast_float.h>
#include <time.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "decimal/format.h"
#include "decimal/kernels.h"
#include "decimal/scanner.h"
#include "rows/output_bands.h"  // bandCells

namespace {

constexpr std::size_t numbers = 1'000'000;
constexpr int runs = 15;

std::uint64_t state = 1;
std::uint64_t next() {  // splitmix64, as gengrid
  std::uint64_t z = (state += 0x9e3779b97f4a7c15u);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
  return z ^ (z >> 31);
}

std::string spelled(const char* kind) {
  std::string text;
  char b[64];
  for (std::size_t i = 0; i < numbers; ++i) {
    const double v = static_cast<double>(next() >> 11) * 0x1p-53 * 1000.0;
    if (!std::strcmp(kind, "%.18g")) std::snprintf(b, sizeof b, "%.18g", double(float(v)));
    else std::snprintf(b, sizeof b, kind, v);
    text += b;
    text += i % 4000 == 3999 ? '\n' : ' ';
  }
  return text;
}

double threadSeconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The lowest thread CPU time of `read` over the runs, in ns a number; its values go to out.
template <class Read>
double timed(Read read, std::vector<double>& out) {
  double best = 1e30;
  for (int r = 0; r < runs; ++r) {
    const double start = threadSeconds();
    read(out.data());
    best = std::min(best, threadSeconds() - start);
  }
  return best / numbers * 1e9;
}

// A scanner over the text in memory, which it never refills: its end mark after the text, and
// the input at its end. Set up once; a reading starts over by s.pos = 0.
void inMemory(TextScanner& s, const std::string& text) {
  s.capacity = text.size() + 64;
  s.buffer.reset(new char[s.capacity + 1]());
  std::memcpy(s.buffer.get(), text.data(), text.size());
  s.pos = 0;
  s.end = text.size();
  s.atEof = true;
}

// The cells of bench/gengrid's text grid of this seed, as it makes them: -9999, or a value in
// [0, 1000) of six significant digits.
std::vector<double> gridCells(std::uint64_t seed, std::size_t n) {
  state = seed;
  std::vector<double> cells(n);
  char b[32];
  for (double& c : cells) {
    if (next() % 100 < 5) {
      c = -9999;
      continue;
    }
    std::snprintf(b, sizeof b, "%.6g", static_cast<double>(next() >> 11) * 0x1p-53 * 1000.0);
    c = std::strtod(b, nullptr);
  }
  return cells;
}

// printf's "%lg" of each value followed by a tab, with an exponent of at least three digits.
std::string printfCells(const std::vector<double>& values) {
  std::string text;
  char b[64];
  for (double v : values) {
    std::string t(b, static_cast<std::size_t>(std::snprintf(b, sizeof b, "%g", v)));
    if (const std::size_t e = t.find('e'); e != std::string::npos && t.size() - e - 2 < 3)
      t.insert(e + 2, 3 - (t.size() - e - 2), '0');
    text += t + '\t';
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  // per_number [SPELLING]: one spelling alone (%.18g, %.20g, %.18e or %.6g).
  const char* names[] = {"plain", "avx512", "avx512 vbmi2"};
  bool allSame = true;
  for (const char* kind : {"%.18g", "%.20g", "%.18e", "%.6g"}) {
    if (argc > 1 && std::strcmp(argv[1], kind) != 0) continue;
    const std::string text = spelled(kind);
    std::vector<double> expected(numbers), got(numbers);
    const double ns = timed(
        [&](double* v) {
          const char* p = text.c_str();
          for (std::size_t i = 0; i < numbers; ++i) {
            char* end;
            v[i] = std::strtod(p, &end);
            p = end;
          }
        },
        expected);
    std::printf("%-6s %-32s %6.1f ns a number\n", kind, "strtod", ns);
    const auto check = [&](const char* name, double t) {
      const bool same = std::memcmp(got.data(), expected.data(), numbers * sizeof(double)) == 0;
      allSame &= same;
      std::printf("%-6s %-32s %6.1f ns a number%s\n", kind, name, t,
                  same ? "" : "  VALUES DIFFER FROM strtod");
    };
    check("fast_float::from_chars", timed(
                                        [&](double* v) {
                                          const char *p = text.data(),
                                                     *end = text.data() + text.size();
                                          for (std::size_t i = 0; i < numbers; ++i) {
                                            p = fast_float::from_chars(p, end, v[i]).ptr + 1;
                                          }
                                        },
                                        got));
    const std::vector<NumberKernels> kernels = availableKernels();
    TextScanner s;
    inMemory(s, text);
    for (std::size_t k = 0; k < kernels.size(); ++k) {
      if (k > 0 && kernels[k].readNumbers == kernels[k - 1].readNumbers) continue;
      check(names[k], timed(
                          [&](double* v) {
                            s.pos = 0;
                            if (kernels[k].readNumbers(s, v, numbers) != numbers) std::exit(1);
                          },
                          got));
    }
  }
  if (argc > 1) return allSame ? 0 : 1;
  // The writers, on the products of the two grids, nodata -9999 where either cell is empty.
  constexpr std::size_t cells = std::size_t{4000} * 4000;
  std::vector<double> products = gridCells(1, cells);
  const std::vector<double> second = gridCells(2, cells);
  for (std::size_t i = 0; i < cells; ++i)
    products[i] = products[i] == -9999 || second[i] == -9999 ? -9999 : second[i] * products[i];
  const std::string oracle = printfCells(products);
  const NodataSpelling nodata = spellNodata(-9999);
  std::string out(cells * (maxGeneralLength + 1), '\0');
  // The tool formats a band of products at a time, just formed, into the band's own text; so
  // here, a band's cells a call into one band's text, which both stay in the cache. (One call
  // over all 16,000,000 cells would time the memory as much as the writer.)
  constexpr std::size_t band = bandCells;
  std::string bandText(band * (maxGeneralLength + 1), '\0');
  const std::vector<NumberKernels> kernels = availableKernels();
  for (std::size_t k = 0; k < kernels.size(); ++k) {
    double best = 1e30;
    for (int r = 0; r < 5; ++r) {
      const double start = threadSeconds();
      for (std::size_t at = 0; at < cells; at += band)
        kernels[k].writeCells(bandText.data(), products.data() + at, std::min(band, cells - at),
                              nodata);
      best = std::min(best, threadSeconds() - start);
    }
    char* end = out.data();  // the whole text, band after band, for the check
    for (std::size_t at = 0; at < cells; at += band)
      end = kernels[k].writeCells(end, products.data() + at, std::min(band, cells - at), nodata);
    const auto length = static_cast<std::size_t>(end - out.data());
    const bool same = out.compare(0, length, oracle) == 0 && length == oracle.size();
    allSame &= same;
    std::printf("writer %-32s %6.1f ns a cell%s\n", names[k], best / cells * 1e9,
                same ? "" : "  TEXT DIFFERS FROM printf");
  }
  return allSame ? 0 : 1;
}
