// A private scratch folder for one test: made fresh under $TMPDIR (else /tmp) and
// removed with everything in it when the test is done.
#pragma once

#include <filesystem>
#include <string>

namespace arbtest {

class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // Path of a file inside the folder.
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace arbtest
