#include "decimal/kernels.h"

#include "platform/cpu_features.h"

std::vector<NumberKernels> availableKernels() {
  std::vector<NumberKernels> kernels{{readNumbersPlain, writeCellsPlain}};
#if CELLPROD_VECTOR_PATHS
  if (cpuFeatures().avx512) kernels.push_back({readNumbersAvx512, writeCellsAvx512});
#endif
  return kernels;
}

const NumberKernels& kernelsForThisCpu() {
  static const NumberKernels chosen = availableKernels().back();
  return chosen;
}
