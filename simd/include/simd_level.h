// Which vector instruction set the kernels of this suite may use on this processor. The kernels
// carry per-function target attributes and the rest of the code is built for the baseline x86-64,
// so a library still loads and runs where AVX2 is missing; each caller asks here once and picks.
#pragma once

#include <algorithm>

namespace arbsuite {

// Ordered: each level includes the ones below it.
enum class SimdLevel : int {
  kScalar = 0,  // the portable code, also the reference the vector kernels are tested against
  kAvx2 = 1,    // 256-bit integer and double vectors (the avx2 flag)
  kAvx512 = 2,  // 512-bit vectors (avx512f; AVX2 as well)
};

inline const char* simdLevelName(SimdLevel level) {
  switch (level) {
    case SimdLevel::kAvx2:
      return "AVX2";
    case SimdLevel::kAvx512:
      return "AVX-512";
    default:
      return "scalar";
  }
}

// The highest level this processor offers and its operating system saves the registers of (the
// compiler's processor model checks both). Detected on the first call, read back afterwards.
inline SimdLevel detectedSimdLevel() noexcept {
#if defined(__x86_64__) || defined(__i386__)
  static const SimdLevel level = [] {
    __builtin_cpu_init();  // may run before the runtime's own initialiser (static construction)
    if (!__builtin_cpu_supports("avx2")) {
      return SimdLevel::kScalar;
    }
    return __builtin_cpu_supports("avx512f") ? SimdLevel::kAvx512 : SimdLevel::kAvx2;
  }();
  return level;
#else
  return SimdLevel::kScalar;
#endif
}

// The level a kernel runs at when `wanted` is asked for: never above what the processor offers.
inline SimdLevel usableSimdLevel(SimdLevel wanted) noexcept {
  return std::min(wanted, detectedSimdLevel());
}

}  // namespace arbsuite
