// Test helper: runs a stage with its standard output captured. The data source
// prints a line per symbol; capturing keeps assertion messages readable.
#pragma once

#include <gtest/gtest.h>

#include <type_traits>

template <typename F>
auto quiet(F f) {
  testing::internal::CaptureStdout();
  try {
    if constexpr (std::is_void_v<decltype(f())>) {
      f();
      testing::internal::GetCapturedStdout();
    } else {
      auto result = f();
      testing::internal::GetCapturedStdout();
      return result;
    }
  } catch (...) {
    testing::internal::GetCapturedStdout();
    throw;
  }
}
