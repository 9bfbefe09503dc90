// Text output of the hosts (CSV samples, the segment configuration): a file written
// through arb::OutputFile, so that a failed or interrupted run leaves no partial
// file and never destroys an existing one, or standard output. A failure of standard
// output is the caller's to report; the exit check of standard output then ends the
// program with status 4 without a second message.
#pragma once

#include <string>
#include <string_view>

#include "output_file.h"

namespace arbsuite::cli {

class TextOutput {
 public:
  // Opens the file at path, or standard output when path is empty. Returns false,
  // with errorText() saying why, when the file cannot be opened for writing.
  bool open(const std::string& path);
  // Appends text; false when a write fails.
  bool write(std::string_view text);
  // Finishes the output (puts a file in place, flushes standard output); false when
  // that fails, and then a file leaves nothing behind.
  bool commit();
  // The reason of the last failure, as strerror gives it.
  std::string errorText() const;

 private:
  bool toStandardOutput_ = false;
  int error_ = 0;
  arb::OutputFile file_;
};

}  // namespace arbsuite::cli
