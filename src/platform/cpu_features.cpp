#include "platform/cpu_features.h"

namespace {

CpuFeatures detect() {
  CpuFeatures f;
#if CELLPROD_VECTOR_PATHS && defined(__x86_64__) && defined(__GNUC__)
  // The compiler's runtime also checks that the operating system saves the AVX-512 state.
  __builtin_cpu_init();
  f.avx512 = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
             __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl") &&
             __builtin_cpu_supports("avx512cd") && __builtin_cpu_supports("bmi") &&
             __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
  f.avx512vbmi2 = f.avx512 && __builtin_cpu_supports("avx512vbmi2");
#endif
  return f;
}

}  // namespace

const CpuFeatures& cpuFeatures() {
  static const CpuFeatures features = detect();
  return features;
}
