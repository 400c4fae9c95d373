#include "grid/text_paths.h"

#include "platform/cpu_features.h"

TextPaths plainTextPaths() { return {"plain", readNumbersPlain, writeCellsPlain}; }

namespace {

TextPaths choosePaths() {
#if CELLPROD_VECTOR_PATHS
  if (cpuFeatures().avx512) return {"avx512", readNumbersAvx512, writeCellsAvx512};
#endif
  return plainTextPaths();
}

}  // namespace

const TextPaths& textPaths() {
  static const TextPaths paths = choosePaths();
  return paths;
}
