// Warnings of a conversion (see diagnostics.h).
#include "diagnostics.h"

#include <stdexcept>

namespace arbsuite::wavepack {

void Diagnostics::warn(const std::string& message) {
  if (strict_) throw std::runtime_error(message);
  warnings_.push_back(message);
  if (out_ != nullptr) *out_ << "WARNING: " << message << std::endl;
}

void Diagnostics::note(const std::string& message) {
  notes_.push_back(message);
  if (out_ != nullptr) *out_ << "NOTE: " << message << std::endl;
}

}  // namespace arbsuite::wavepack
