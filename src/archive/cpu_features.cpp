#include "archive/cpu_features.h"

namespace archive {

namespace {

TCpuFeatures Detect() {
  TCpuFeatures f;
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  f.bmi2 = __builtin_cpu_supports("bmi2");
  f.clmul = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse2");
  // The avx2 answer includes the system's saving of 256-bit registers.
  f.wideClmul = f.clmul && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("vpclmulqdq");
#endif
  return f;
}

}  // namespace

TCpuFeatures& CpuFeatures() {
  static TCpuFeatures features = Detect();
  return features;
}

}  // namespace archive
