// The analysis outputs (plots, sample exports) as streams and file names on top of
// arb::OutputFile, the suite's one safe output: a failed or interrupted run leaves
// no partial file, a device or FIFO is written through, a symbolic link keeps
// pointing at the replaced file. "-" is standard output.
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>

#include "output_file.h"

namespace arbsuite::analysis {

// An output that cannot be written (exit status 4 of the hosts).
struct OutputError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class OutputFile {
 public:
  // Opens the output (or standard output for "-"). Throws OutputError naming path.
  explicit OutputFile(const std::string& path);
  // Abandons the output unless commit() succeeded.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  const std::string& path() const { return path_; }
  bool isStandardOutput() const { return path_ == "-"; }
  // A name of the open file, for writers that open it by name themselves (not for
  // "-"): the file is reached through /proc/self/fd, so it needs no name of its own
  // until commit().
  const std::string& writePath() const { return writePath_; }
  // The stream to write to, opened on first use.
  std::FILE* stream();
  // Flushes and closes the stream; throws OutputError when a write failed.
  void close();
  // close(), then puts the output in place. Throws OutputError when a write or that
  // step failed; nothing is left behind then.
  void commit();
  // Gives the output up: nothing is left behind (what went through to a device
  // stays written).
  void abandon();

 private:
  std::string path_;
  std::string writePath_;
  arb::OutputFile file_;
  std::FILE* stream_ = nullptr;
};

}  // namespace arbsuite::analysis
