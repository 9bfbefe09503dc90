// Runs a program as a child process in a given folder and collects its exit
// status, standard output and standard error.
#pragma once

#include <string>
#include <vector>

namespace hosts_test {

struct ProcessResult {
  int exitStatus = -1;  // -1 when the process did not exit normally (signal)
  int signal = 0;
  std::string out;
  std::string err;
};

ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingDirectory);

// A fresh folder under $TMPDIR (or /tmp), removed with its content on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);

}  // namespace hosts_test
