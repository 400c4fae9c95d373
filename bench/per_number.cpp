// per_number: thread CPU time a number of this project's readers, fast_float::from_chars and
// strtod, over 1,000,000 numbers of each spelling (GDAL's Float32, %.18g of a float; its
// Float64, %.20g; numpy's savetxt, %.18e; the six digits of the benchmark's grids), in memory,
// lowest of 15 runs.
// Every reader's values are checked against strtod's, bit for bit. Run it on one core
// (taskset -c 0); bench/run does.
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

#include "decimal/kernels.h"
#include "decimal/scanner.h"

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
// the input at its end.
void inMemory(TextScanner& s, const std::string& text) {
  s.capacity = text.size() + 64;
  s.buffer.reset(new char[s.capacity + 1]());
  std::memcpy(s.buffer.get(), text.data(), text.size());
  s.pos = 0;
  s.end = text.size();
  s.atEof = true;
}

}  // namespace

int main(int argc, char** argv) {
  // per_number [SPELLING]: one spelling alone (%.18g, %.20g, %.18e or %.6g).
  const char* names[] = {"plain", "avx512"};
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
    for (std::size_t k = 0; k < kernels.size(); ++k) {
      TextScanner s;
      check(names[k], timed(
                          [&](double* v) {
                            inMemory(s, text);
                            if (kernels[k].readNumbers(s, v, numbers) != numbers) std::exit(1);
                          },
                          got));
    }
  }
  return allSame ? 0 : 1;
}
