// The printf-style number forms of the text encoding and the messages, produced the same way on
// every platform: "%lg" with an exponent of at least three digits, "%f", "%ld" of a 32-bit value,
// and "inf", "-inf" and "nan" for values that are not finite.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Longest "%lg" text at precision 17: "-1.2345678901234567e-308".
constexpr int maxGeneralLength = 32;

// The quick path of the six-digit "%lg" writers, the plain one and each vector one: a finite x
// with quickFrom <= |x| < quickLimit (decimal exponents quickSmallestExponent to
// quickLargestExponent) is scaled by one power of ten of the table into [sixDigitsFrom,
// sixDigitsLimit), where a single IEEE operation errs by less than 2^-33, so its rounding to an
// integer is certain unless it lies within halfMargin of a half. Every other value, and those
// near a half, take the general conversion.
namespace g6_limits {
inline constexpr double quickFrom = 1e-17, quickLimit = 1e17;
inline constexpr int quickSmallestExponent = -17, quickLargestExponent = 16;
inline constexpr double sixDigitsFrom = 1e5, sixDigitsLimit = 1e6, halfMargin = 1e-7;
}  // namespace g6_limits

// Writes x as "%lg" with `precision` significant digits; returns the end. No terminator.
char* formatGeneral(char* out, double x, int precision);

// "%lg": six significant digits; the same text as formatGeneral(out, x, 6), faster. Needs
// maxGeneralLength bytes at out whatever the length of the text.
char* formatG6(char* out, double x);

// The spelling of a grid's nodata_value in a text output: its header form, which every cell
// equal to it takes too, so that empty cells read back as empty.
struct NodataSpelling {
  double value = 0;
  char text[maxGeneralLength] = {};
  std::size_t length = 0;
};

NodataSpelling spellNodata(double nodata);

// Writes values[0..n) each as formatG6 does (or as nodata.text where equal to nodata.value),
// each followed by a tab; returns the end. Needs (maxGeneralLength + 1) bytes a value at out.
// This plain loop defines the cell writers of the vector paths (kernels.h).
char* writeCellsPlain(char* out, const double* values, std::size_t n, const NodataSpelling& nodata);

// The "%lg" form with the fewest significant digits, at least six, that reads back as x.
char* formatRoundTrip(char* out, double x);

std::string g6Text(double x);

// "%f": six decimals.
std::string fixed6Text(double x);

// Truncation toward zero to a 32-bit integer, for "%ld" of a grid dimension. The caller has
// checked that the value fits; values outside are clamped rather than left undefined.
std::int32_t truncateToInt32(double x);
