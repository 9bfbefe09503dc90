// Output files that a failure never leaves half written: the content goes to a
// temporary file in the output's folder, which replaces the output only once it
// is complete. An existing output that is not a regular file (a device, a FIFO)
// is written through; a symbolic link keeps pointing at the replaced file; "-"
// is standard output.
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>

namespace analysis {

// An output that cannot be written (exit status 4 of the hosts).
struct OutputError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class OutputFile {
 public:
  // Creates the temporary file (or opens the output to write through). Throws
  // OutputError naming path.
  explicit OutputFile(const std::string& path);
  // Removes the temporary file unless commit() succeeded.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  const std::string& path() const { return path_; }
  bool isStandardOutput() const { return path_ == "-"; }
  // The file to write, for writers that open it by name themselves (not for "-").
  const std::string& writePath() const { return writePath_; }
  // The stream to write to, opened on first use.
  std::FILE* stream();
  // Flushes and closes the stream; throws OutputError when a write failed.
  void close();
  // close(), then renames the temporary file over the output. Throws OutputError
  // when a write or the rename failed; the temporary file is then removed.
  void commit();

 private:
  std::string path_;       // as given
  std::string target_;     // the file replaced at commit (the link's target for a link)
  std::string writePath_;  // the temporary file, or target_ when written through
  bool throughPath_ = false;
  bool committed_ = false;
  std::FILE* stream_ = nullptr;
};

}  // namespace analysis
