// The "%lg" writers against the C library's "%g" with the three-digit exponent rule: the fast
// six-digit writer, the general one at every precision, the shortest round-trip form of header
// values, and "%f"; and every cell writer this CPU runs against the plain one.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "decimal/format.h"
#include "decimal/kernels.h"
#include "support/reference.h"

namespace {

std::string roundTripReference(double x) {
  if (!std::isfinite(x)) return referenceGeneral(x, 6);
  for (int precision = 6; precision < 17; ++precision) {
    std::string s = referenceGeneral(x, precision);
    if (std::strtod(s.c_str(), nullptr) == x) return s;
  }
  return referenceGeneral(x, 17);
}

std::string fixedReference(double x) {
  if (!std::isfinite(x)) return referenceGeneral(x, 6);
  char buf[400];
  std::snprintf(buf, sizeof buf, "%f", x);
  return buf;
}

void checkValue(double x) {
  char buf[maxGeneralLength];
  check(std::string(buf, formatG6(buf, x)) == referenceGeneral(x, 6));
  check(g6Text(x) == referenceGeneral(x, 6));
  for (int precision = 6; precision <= 17; ++precision)
    check(std::string(buf, formatGeneral(buf, x, precision)) == referenceGeneral(x, precision));
  check(std::string(buf, formatRoundTrip(buf, x)) == roundTripReference(x));
  check(fixed6Text(x) == fixedReference(x));
}

// Sixteen values around x through every cell writer this CPU runs: the same text as the plain
// writer, with x itself, or another value, as the nodata_value. The scales mix the forms of
// "%lg", or keep to those a vector of eight may write at once (x from 1 to 10).
void checkCellWriters(double x, double nodata, const double (&scale)[8]) {
  double values[16];
  for (int i = 0; i < 16; ++i) {
    values[i] = i < 8 ? x * scale[i] : std::nextafter(values[i - 8], i % 2 ? 0.0 : 1e308);
  }
  values[11] = nodata;
  const NodataSpelling spelling = spellNodata(nodata);
  char plain[16 * (maxGeneralLength + 1) + maxGeneralLength];
  char fast[sizeof plain];
  const char* plainEnd = writeCellsPlain(plain, values, 16, spelling);
  for (const NumberKernels& path : availableKernels()) {
    const char* end = path.writeCells(fast, values, 16, spelling);
    check(end - fast == plainEnd - plain && std::memcmp(fast, plain, end - fast) == 0);
  }
}

}  // namespace

// The first byte chooses how the rest becomes a double: its raw bits, or a decimal text (which
// reaches the short values and rounding ties of real grids far more often).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  double x = 0;
  if (data[0] & 1) {
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    if (text.size() > 64) text.resize(64);
    x = std::strtod(text.c_str(), nullptr);
  } else {
    std::uint64_t bits = 0;
    std::memcpy(&bits, data + 1, size - 1 < sizeof bits ? size - 1 : sizeof bits);
    std::memcpy(&x, &bits, sizeof x);
  }
  checkValue(x);
  checkValue(static_cast<float>(x));  // the values of single-precision grids
  checkCellWriters(x, (data[0] & 2) ? x : -9999.0, {1, -1, 10, 0.1, 1e5, 1e-5, 1e6, -1e-6});
  checkCellWriters(x, (data[0] & 2) ? x : -9999.0, {1, -1, 10, -100, 1e3, 1e4, -1e4, 1e5});
  return 0;
}
