// The readers and writers of text rows. The plain ones, one number at a time, define the
// bytes; each vector path beside them gives exactly their results, faster, and is chosen once
// per run by the CPU's features, here and nowhere else.
#pragma once

#include <cstddef>
#include <vector>

#include "grid/number_format.h"
#include "grid/text_scanner.h"

// Reads up to n numbers into values[0..n); returns how many were read before one failed.
using NumberReader = std::size_t (*)(TextScanner& scanner, double* values, std::size_t n);

// Writes values[0..n), each followed by a tab, spelling a value equal to nodata.value as
// nodata.text; returns the end. Needs (maxGeneralLength + 1) bytes a value at out.
using CellWriter = char* (*)(char* out, const double* values, std::size_t n,
                             const NodataSpelling& nodata);

struct TextPaths {
  NumberReader readNumbers;
  CellWriter writeCells;
};

// The plain paths, then each vector path this CPU runs, the fastest last.
std::vector<TextPaths> availableTextPaths();

// The fastest paths this CPU runs, decided on the first call.
const TextPaths& textPaths();

#if CELLPROD_VECTOR_PATHS
// The AVX-512 paths; call them only where cpuFeatures().avx512 holds.
std::size_t readNumbersAvx512(TextScanner& scanner, double* values, std::size_t n);
char* writeCellsAvx512(char* out, const double* values, std::size_t n,
                       const NodataSpelling& nodata);
#endif
