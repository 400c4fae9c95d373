#include "decimal/kernels.h"

#include "platform/cpu_features.h"

namespace {

constexpr NumberKernels plainKernels{readNumbersPlain, writeCellsPlain};
#if CELLPROD_VECTOR_PATHS
constexpr NumberKernels avx512Kernels{readNumbersAvx512, writeCellsAvx512};
constexpr NumberKernels vbmi2Kernels{readNumbersAvx512, writeCellsAvx512Vbmi2};
#endif

}  // namespace

std::vector<NumberKernels> availableKernels() {
  std::vector<NumberKernels> kernels{plainKernels};
#if CELLPROD_VECTOR_PATHS
  if (cpuFeatures().avx512) kernels.push_back(avx512Kernels);
  if (cpuFeatures().avx512vbmi2) kernels.push_back(vbmi2Kernels);
#endif
  return kernels;
}

// Chosen without allocating anything, so that a reader thread may be the first to ask.
const NumberKernels& kernelsForThisCpu() {
#if CELLPROD_VECTOR_PATHS
  if (cpuFeatures().avx512vbmi2) return vbmi2Kernels;
  if (cpuFeatures().avx512) return avx512Kernels;
#endif
  return plainKernels;
}
