// What the fuzz targets of the path-based readers share: a memory file
// (memfd_create) that holds each input and is reached as /proc/self/fd/N, a
// folder of named links to memory files (for readers that find a second file by
// name), an independent decoder of raw datatypes to check decoded samples against,
// and a walk over a reader's pairs. Nothing of it touches the disk per input.
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pair_source.h"

namespace fuzzinputs {

// Largest input the targets read: every seed is far smaller, and bigger inputs
// only make each run slower without reaching more of the readers.
inline constexpr std::size_t kMaxInputBytes = 64 * 1024;

[[noreturn]] inline void fail(const char* what) {
  std::perror(what);
  std::abort();
}

// Most pairs (or values per variable) an input may claim in its header. The readers
// size their buffers by what a file claims before they read it, so an input's cost
// follows its claims rather than its length; inputs that claim more are left out.
inline constexpr std::uint64_t kMaxClaimedPairs = std::uint64_t{1} << 20;

// A file in memory, rewritten for each input. It is a regular file, so the
// readers' own checks accept it, and each reader opens it afresh by its path.
class MemoryFile {
 public:
  explicit MemoryFile(const char* name) : fd_(::memfd_create(name, MFD_CLOEXEC)) {
    if (fd_ < 0) fail("memfd_create");
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~MemoryFile() { ::close(fd_); }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  // Replaces the content with the `size` bytes at `data`.
  void assign(const std::uint8_t* data, std::size_t size) {
    if (::ftruncate(fd_, 0) != 0) fail("ftruncate");
    for (std::size_t done = 0; done < size;) {
      const ssize_t n = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) fail("pwrite");
      done += static_cast<std::size_t>(n);
    }
  }

  const std::string& path() const { return path_; }

 private:
  int fd_;
  std::string path_;
};

// A private folder (under $TMPDIR, else /tmp) of symbolic links to memory files,
// so that a reader that derives one file's name from another's finds both. The
// folder goes when the process ends normally.
class LinkFolder {
 public:
  LinkFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/wavepack-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) fail("mkdtemp");
    folder_ = pattern;
  }
  ~LinkFolder() {
    for (const std::string& link : links_) ::unlink(link.c_str());
    ::rmdir(folder_.c_str());
  }
  LinkFolder(const LinkFolder&) = delete;
  LinkFolder& operator=(const LinkFolder&) = delete;

  // Makes <folder>/<name> a link to `file`; returns its path.
  std::string link(const std::string& name, const MemoryFile& file) {
    const std::string path = folder_ + "/" + name;
    if (::symlink(file.path().c_str(), path.c_str()) != 0) fail("symlink");
    links_.push_back(path);
    return path;
  }

  const std::string& path() const { return folder_; }

 private:
  std::string folder_;
  std::vector<std::string> links_;
};

// A raw datatype as its name spells it, decoded here without the reader's code.
struct Datatype {
  bool complex = true;
  char kind = 'f';  // f, i or u
  unsigned bytes = 4;
  bool bigEndian = false;

  unsigned sampleBytes() const { return complex ? 2 * bytes : bytes; }

  // The value at `p`.
  double value(const std::uint8_t* p) const {
    std::uint64_t word = 0;
    for (unsigned k = 0; k < bytes; ++k) {
      const unsigned shift = 8 * (bigEndian ? bytes - 1 - k : k);
      word |= std::uint64_t{p[k]} << shift;
    }
    const double half = std::ldexp(1.0, 8 * static_cast<int>(bytes) - 1);
    if (kind == 'f')
      return bytes == 4
                 ? static_cast<double>(std::bit_cast<float>(static_cast<std::uint32_t>(word)))
                 : std::bit_cast<double>(word);
    if (kind == 'u') return static_cast<double>(word) - (half - 0.5);
    return word >= half ? static_cast<double>(word) - 2 * half : static_cast<double>(word);
  }
};

// The datatype of a valid SigMF raw name (cf32_le, ri8, ...), none for others.
inline std::optional<Datatype> datatypeNamed(std::string_view name) {
  static constexpr std::string_view kNames[] = {
      "cf64_le", "cf64_be", "cf32_le", "cf32_be", "ci32_le", "ci32_be", "ci16_le",
      "ci16_be", "cu32_le", "cu32_be", "cu16_le", "cu16_be", "ci8",     "cu8",
      "rf64_le", "rf64_be", "rf32_le", "rf32_be", "ri32_le", "ri32_be", "ri16_le",
      "ri16_be", "ru32_le", "ru32_be", "ru16_le", "ru16_be", "ri8",     "ru8"};
  bool known = false;
  for (std::string_view n : kNames) known = known || n == name;
  if (!known) return std::nullopt;
  Datatype d;
  d.complex = name[0] == 'c';
  d.kind = name[1];
  d.bytes = name.substr(2, 2) == "64" ? 8 : name.substr(2, 2) == "32" ? 4 : name[2] == '8' ? 1 : 2;
  d.bigEndian = name.size() == 7 && name.substr(5) == "be";
  return d;
}

// Reads every pair of `source` in blocks of at most `block` pairs, handing each
// block to `use`. Aborts when a reader hands out no pairs or more than asked for.
template <typename Use>
void readAll(arbsuite::wavepack::PairSource& source, std::size_t block, Use&& use) {
  std::vector<arbsuite::wavepack::IqPair> scratch(block);
  for (std::uint64_t start = 0; start < source.size();) {
    const std::span<const arbsuite::wavepack::IqPair> got = source.read(start, scratch);
    if (got.empty() || got.size() > block || got.size() > source.size() - start) std::abort();
    use(got);
    start += got.size();
  }
}

// Every pair of `source`, read as readAll reads them.
inline std::vector<arbsuite::wavepack::IqPair> readAll(arbsuite::wavepack::PairSource& source,
                                                       std::size_t block) {
  std::vector<arbsuite::wavepack::IqPair> pairs;
  readAll(source, block, [&](std::span<const arbsuite::wavepack::IqPair> got) {
    pairs.insert(pairs.end(), got.begin(), got.end());
  });
  return pairs;
}

// Reads every pair of `source` and aborts unless every value is finite (the
// readers refuse the others).
inline void requireFinite(arbsuite::wavepack::PairSource& source) {
  readAll(source, 4096, [](std::span<const arbsuite::wavepack::IqPair> got) {
    for (const arbsuite::wavepack::IqPair& p : got)
      if (!std::isfinite(p.i) || !std::isfinite(p.q)) std::abort();
  });
}

// The complex pairs of `count` samples of datatype `d` at `bytes`, decoded here;
// `finite` tells whether every value is finite.
inline std::vector<arbsuite::wavepack::IqPair> decodeComplex(const Datatype& d,
                                                             const std::uint8_t* bytes,
                                                             std::uint64_t count, bool& finite) {
  std::vector<arbsuite::wavepack::IqPair> pairs;
  finite = true;
  for (std::uint64_t k = 0; k < count; ++k) {
    const std::uint8_t* at = bytes + k * d.sampleBytes();
    pairs.push_back({d.value(at), d.value(at + d.bytes)});
    finite = finite && std::isfinite(pairs.back().i) && std::isfinite(pairs.back().q);
  }
  return pairs;
}

// Aborts unless `got` and `expected` hold the same values.
inline void requireSame(const std::vector<arbsuite::wavepack::IqPair>& got,
                        const std::vector<arbsuite::wavepack::IqPair>& expected) {
  if (got.size() != expected.size()) std::abort();
  for (std::size_t k = 0; k < got.size(); ++k)
    if (got[k].i != expected[k].i || got[k].q != expected[k].q) std::abort();
}

}  // namespace fuzzinputs
