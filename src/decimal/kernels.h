// The kernels that read and write the numbers of text rows, and the choice among them. The
// plain ones (scanner.h, format.h), one number at a time, define the results; the kernels of
// each instruction set (in a folder of their own: avx512/) give exactly those, faster. One set
// is chosen once per run by the CPU's features, here and nowhere else.
#pragma once

#include <cstddef>
#include <vector>

#include "decimal/format.h"
#include "decimal/scanner.h"

// Reads up to n numbers into values[0..n); returns how many were read before one failed.
using NumberReader = std::size_t (*)(TextScanner& scanner, double* values, std::size_t n);

// Writes values[0..n), each followed by a tab, spelling a value equal to nodata.value as
// nodata.text; returns the end. Needs (maxGeneralLength + 1) bytes a value at out.
using CellWriter = char* (*)(char* out, const double* values, std::size_t n,
                             const NodataSpelling& nodata);

struct NumberKernels {
  NumberReader readNumbers;
  CellWriter writeCells;
};

// The plain kernels, then those of each instruction set this CPU runs, the fastest last.
std::vector<NumberKernels> availableKernels();

// The fastest kernels this CPU runs, by the features cpuFeatures() detects once.
const NumberKernels& kernelsForThisCpu();

#if CELLPROD_VECTOR_PATHS
// The AVX-512 kernels; call them only where cpuFeatures().avx512 holds.
std::size_t readNumbersAvx512(TextScanner& scanner, double* values, std::size_t n);
char* writeCellsAvx512(char* out, const double* values, std::size_t n,
                       const NodataSpelling& nodata);
// The AVX-512 cell writer that stores with VBMI2; only where cpuFeatures().avx512vbmi2 holds.
char* writeCellsAvx512Vbmi2(char* out, const double* values, std::size_t n,
                            const NodataSpelling& nodata);
#endif
