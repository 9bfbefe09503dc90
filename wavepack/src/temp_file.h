// The temporary sample file handed to the packer: raw little-endian int16 words.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "interrupt_cleanup.h"

namespace arbsuite::wavepack {

// Creates a new, empty, uniquely named file whose name begins with "PN" in $TMPDIR
// (or /tmp when it is unset or empty) and returns its full path.
// Throws std::runtime_error("Get Temp Path failed") when the folder is not a usable
// directory, "Get Temp File Name failed" when the file cannot be created.
std::string makeTempFilePath();

// Writes 16-bit samples as little-endian words to a file, block by block.
class SampleFileWriter {
 public:
  // Opens `path` for binary output, truncating it; throws "Open " + path + " failed".
  explicit SampleFileWriter(const std::string& path);
  ~SampleFileWriter();
  SampleFileWriter(const SampleFileWriter&) = delete;
  SampleFileWriter& operator=(const SampleFileWriter&) = delete;

  // Appends samples; throws std::system_error("Write " + path + " failed") with the
  // cause as its code.
  void write(std::span<const std::int16_t> samples);
  // Flushes and closes; throws the same failure when that fails.
  void close();

 private:
  [[noreturn]] void fail() const;

  std::string path_;
  std::FILE* file_ = nullptr;
  std::vector<std::uint8_t> encoded_;
};

// Writes the samples as little-endian 16-bit words, replacing the file's content.
// Throws "Open " + path + " failed" or "Write " + path + " failed".
void writeTempSamples(std::span<const std::int16_t> samples, const std::string& path);

// Removes a file when it goes out of scope, and puts it on the list of files that
// an interrupt removes meanwhile (create the file and the remover inside one
// arb::InterruptDeferral, so that no interrupt falls between the two).
class FileRemover {
 public:
  explicit FileRemover(std::string path) : path_(std::move(path)), onInterrupt_(path_) {}
  ~FileRemover();
  FileRemover(const FileRemover&) = delete;
  FileRemover& operator=(const FileRemover&) = delete;

 private:
  std::string path_;
  arb::InterruptRemoval onInterrupt_;
};

}  // namespace arbsuite::wavepack
