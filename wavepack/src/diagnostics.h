// Warnings of a conversion: reported on standard error as they are found, or, in
// strict mode, the first one ends the run as an error. Notes say how an input was
// read where that was unambiguous but not its plain form; they never end a run.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace arbsuite::wavepack {

class Diagnostics {
 public:
  // `out` receives "WARNING: " + message + "\n" for each warning; null keeps them
  // only in warnings().
  explicit Diagnostics(bool strict = false, std::ostream* out = nullptr)
      : strict_(strict), out_(out) {}

  // Reports a warning; in strict mode throws std::runtime_error(message) instead.
  void warn(const std::string& message);
  // Reports "NOTE: " + message, in strict mode too.
  void note(const std::string& message);

  bool strict() const { return strict_; }
  const std::vector<std::string>& warnings() const { return warnings_; }
  const std::vector<std::string>& notes() const { return notes_; }

 private:
  bool strict_;
  std::ostream* out_;
  std::vector<std::string> warnings_;
  std::vector<std::string> notes_;
};

}  // namespace arbsuite::wavepack
