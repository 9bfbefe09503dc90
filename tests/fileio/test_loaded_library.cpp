// Libraries loaded by name when first needed: a library or function that is missing
// is a clear error, not a crash at start-up.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <stdexcept>
#include <string>

#include "loaded_library.h"

namespace {

using arbsuite::arb::LoadedLibrary;

std::string messageOf(const std::function<void()>& body) {
  try {
    body();
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "";
}

TEST(LoadedLibrary, FindsFunctionsByTheirHeadersTypes) {
  const LoadedLibrary math("libm.so.6", "computes");
  const auto cosine = math.function<double (*)(double)>("cos");
  EXPECT_EQ(cosine(0.5), std::cos(0.5));
}

TEST(LoadedLibrary, MissingLibraryOrFunctionSaysWhatAndWhy) {
  const std::string missing =
      messageOf([] { const LoadedLibrary none("libnot-there.so.7", "reads XYZ files"); });
  EXPECT_EQ(missing.rfind("cannot load libnot-there.so.7, which reads XYZ files: ", 0), 0u)
      << missing;
  EXPECT_NE(missing.find("libnot-there.so.7: cannot open shared object file"), std::string::npos)
      << missing;

  const LoadedLibrary math("libm.so.6", "computes");
  EXPECT_EQ(messageOf([&] { math.function<void (*)()>("no_such_function"); }),
            "libm.so.6 has no function no_such_function");
}

}  // namespace
