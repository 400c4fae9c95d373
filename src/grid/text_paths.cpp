#include "grid/text_paths.h"

#include "platform/cpu_features.h"

std::vector<TextPaths> availableTextPaths() {
  std::vector<TextPaths> paths{{readNumbersPlain, writeCellsPlain}};
#if CELLPROD_VECTOR_PATHS
  if (cpuFeatures().avx512) paths.push_back({readNumbersAvx512, writeCellsAvx512});
#endif
  return paths;
}

const TextPaths& textPaths() {
  static const TextPaths paths = availableTextPaths().back();
  return paths;
}
