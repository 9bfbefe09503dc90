// The temporary sample file handed to the packer: raw little-endian int16 words.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace wavepack {

// Creates a new, empty, uniquely named file whose name begins with "PN" in $TMPDIR
// (or /tmp when it is unset or empty) and returns its full path.
// Throws std::runtime_error("Get Temp Path failed") when the folder is not a usable
// directory, "Get Temp File Name failed" when the file cannot be created.
std::string makeTempFilePath();

// Writes the samples as little-endian 16-bit words, replacing the file's content.
// Throws "Open " + path + " failed" or "Write " + path + " failed".
void writeTempSamples(std::span<const std::int16_t> samples, const std::string& path);

// Removes a file when it goes out of scope.
class FileRemover {
 public:
  explicit FileRemover(std::string path) : path_(std::move(path)) {}
  ~FileRemover();
  FileRemover(const FileRemover&) = delete;
  FileRemover& operator=(const FileRemover&) = delete;

 private:
  std::string path_;
};

}  // namespace wavepack
