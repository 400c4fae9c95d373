#include "grid/text_paths.h"

#include "platform/cpu_features.h"

TextPaths plainTextPaths() { return {"plain", readNumbersPlain, writeCellsPlain}; }

std::vector<TextPaths> availableTextPaths() {
  std::vector<TextPaths> paths{plainTextPaths()};
#if CELLPROD_VECTOR_PATHS
  if (cpuFeatures().avx512) paths.push_back({"avx512", readNumbersAvx512, writeCellsAvx512});
#endif
  return paths;
}

const TextPaths& textPaths() {
  static const TextPaths paths = availableTextPaths().back();
  return paths;
}
