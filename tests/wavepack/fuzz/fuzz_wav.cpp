// libFuzzer target: the WAV reader (readWav, libsndfile underneath) on any bytes as
// a sound file in memory. The input is the file. It goes to a memory file and the
// reader opens it by its /proc/self/fd path, so the reader's own code (its regular
// file check, sf_open_fd on its descriptor, the frame checks and the block loop) runs
// as for a file on disk; opening the bytes with libsndfile's virtual I/O instead
// would bypass all of that. Virtual I/O serves only to read the frame count first:
// inputs that claim more than kMaxClaimedPairs frames are left out. The reader's
// failures are its documented exceptions; what it returns must be pairs of finite
// values, at least one, and the file's sample rate.
#include <sndfile.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "formats/wav_reader.h"
#include "fuzz_inputs.h"

namespace {

// Bytes in memory as libsndfile's virtual file.
struct MemoryBytes {
  const std::uint8_t* data;
  sf_count_t size;
  sf_count_t at = 0;
};

MemoryBytes& bytesOf(void* user) { return *static_cast<MemoryBytes*>(user); }

sf_count_t lengthOf(void* user) { return bytesOf(user).size; }

sf_count_t seekTo(sf_count_t offset, int whence, void* user) {
  MemoryBytes& m = bytesOf(user);
  const sf_count_t base = whence == SEEK_CUR ? m.at : whence == SEEK_END ? m.size : 0;
  if (offset < -base || offset > m.size - base) return -1;
  m.at = base + offset;
  return m.at;
}

sf_count_t readInto(void* out, sf_count_t count, void* user) {
  MemoryBytes& m = bytesOf(user);
  const sf_count_t n = std::clamp<sf_count_t>(count, 0, m.size - m.at);
  if (n > 0) std::memcpy(out, m.data + m.at, static_cast<std::size_t>(n));
  m.at += n;
  return n;
}

sf_count_t refuseWrite(const void*, sf_count_t, void*) { return 0; }

sf_count_t positionOf(void* user) { return bytesOf(user).at; }

// The frames libsndfile finds in the header of `size` bytes, or 0 when it opens none.
sf_count_t claimedFrames(const std::uint8_t* data, std::size_t size) {
  SF_VIRTUAL_IO io{lengthOf, seekTo, readInto, refuseWrite, positionOf};
  MemoryBytes bytes{data, static_cast<sf_count_t>(size)};
  SF_INFO info{};
  SNDFILE* file = sf_open_virtual(&io, SFM_READ, &info, &bytes);
  if (file == nullptr) return 0;
  sf_close(file);
  return info.frames;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > fuzzinputs::kMaxInputBytes) return 0;
  if (claimedFrames(data, size) > static_cast<sf_count_t>(fuzzinputs::kMaxClaimedPairs)) return 0;
  static fuzzinputs::MemoryFile memory("wav");
  memory.assign(data, size);
  arbsuite::wavepack::Diagnostics diagnostics;
  arbsuite::wavepack::InputData input;
  try {
    input = arbsuite::wavepack::readWav(memory.path(), diagnostics);
  } catch (const std::exception&) {
    return 0;
  }
  if (!input.pairs || input.pairs->size() == 0 || !input.sampleRate) std::abort();
  fuzzinputs::requireFinite(*input.pairs);
  return 0;
}
