// Plain reference readings for the fuzz targets: the number grammar matched character by
// character and converted by the C library's strtod (correctly rounded on glibc), independent
// of the tool's scanner and its fast paths.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct ReferenceNumber {
  bool ok = false;         // at least one digit
  std::size_t end = 0;     // index after the consumed characters
  double value = 0;
};

bool isBlank(unsigned char c);

// Reads a number starting at text[pos] (no white space skipped).
ReferenceNumber referenceNumber(const std::string& text, std::size_t pos);

// "%.*g" of the C library, with the exponent widened to three digits and "inf", "-inf", "nan".
std::string referenceGeneral(double x, int precision);

// True if the two doubles have the same bits.
bool sameBits(double a, double b);

// True if both hold the same number of values with the same bits.
bool sameValues(const std::vector<double>& a, const std::vector<double>& b);

// Ends the run with a finding (libFuzzer stores the input) when a check fails.
void check(bool ok);

// The readers' rows are followed only for grids this small, so that every input stays quick.
bool rowsAreSmall(double ncols, double nrows);
