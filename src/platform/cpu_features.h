// The vector instruction sets of this CPU, for the fast paths chosen once per run.
#pragma once

struct CpuFeatures {
  // AVX-512 F, BW, DQ, VL and CD, with BMI1, BMI2 and POPCNT, and an operating system
  // that keeps the vector registers.
  bool avx512 = false;
  bool avx512vbmi2 = false;  // all of that, and VBMI2
};

// Detected on the first call. In a build without vector paths, or on a CPU other than x86-64,
// every feature is false.
const CpuFeatures& cpuFeatures();
