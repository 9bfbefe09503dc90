// Frequencies in the messages of the preparation steps: nine significant digits and
// the unit ("61440000 Hz", "25000.5 Hz").
#pragma once

#include <cstdio>
#include <string>

namespace arbsuite::prep {

inline std::string hertz(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.9g Hz", value);
  return text;
}

}  // namespace arbsuite::prep
