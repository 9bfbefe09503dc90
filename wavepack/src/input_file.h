// Read-only view of a whole input file: memory-mapped when it is a regular file,
// read into memory otherwise (pipes, character devices).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace wavepack {

class InputFile {
 public:
  // Opens and maps `path`; throws std::runtime_error("Open " + path + " failed")
  // when it cannot be opened or read, or is a directory.
  explicit InputFile(const std::string& path);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  std::string_view bytes() const { return {data_, size_}; }

 private:
  const char* data_ = nullptr;
  std::size_t size_ = 0;
  bool mapped_ = false;
  std::vector<char> buffer_;  // used when the file cannot be mapped
};

}  // namespace wavepack
