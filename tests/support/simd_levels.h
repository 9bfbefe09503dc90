// The vector levels the parameterised kernel tests run over, with the names GoogleTest shows
// for them: one list and one printer for every suite that compares a kernel with the scalar one.
#pragma once

#include <array>
#include <ostream>
#include <string>

#include "simd_level.h"

namespace arbsuite {
// Names the level in the parameter lines of GoogleTest (found through the argument's namespace).
inline void PrintTo(SimdLevel level, std::ostream* out) { *out << simdLevelName(level); }
}  // namespace arbsuite

namespace arbtest {

// Every level, the scalar reference first.
inline constexpr std::array<arbsuite::SimdLevel, 3> kAllSimdLevels = {
    arbsuite::SimdLevel::kScalar, arbsuite::SimdLevel::kAvx2, arbsuite::SimdLevel::kAvx512};

// The vector levels only, for tests that take the scalar kernel as their reference.
inline constexpr std::array<arbsuite::SimdLevel, 2> kVectorSimdLevels = {
    arbsuite::SimdLevel::kAvx2, arbsuite::SimdLevel::kAvx512};

// The level as it appears in a test case's name: "Scalar", "Avx2" or "Avx512".
inline std::string simdLevelCaseName(arbsuite::SimdLevel level) {
  switch (level) {
    case arbsuite::SimdLevel::kAvx2:
      return "Avx2";
    case arbsuite::SimdLevel::kAvx512:
      return "Avx512";
    default:
      return "Scalar";
  }
}

// Names the cases of a suite whose parameter is the level alone.
struct SimdLevelCaseName {
  template <class ParamInfo>
  std::string operator()(const ParamInfo& info) const {
    return simdLevelCaseName(info.param);
  }
};

}  // namespace arbtest
