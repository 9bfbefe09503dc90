// libFuzzer target for the segment configuration on the path the programs take:
// the input is written to a file, readMultiSegConfig reads it, outputIQDataAndInf
// fills buffers sized from what it returned (as arbtool sizes them, capped to keep
// each run small), and crtMultiSegArb writes the result through to /dev/null (never
// to the input's own OUTPUT FILE). The harness works in a private folder holding
// the two segment files the seed configurations name, a.arb (64 pairs) and b.arb
// (33 pairs).
#include <dlfcn.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "arb_format.h"
#include "seqlink.h"

namespace {

constexpr const char* kConfigFile = "config.txt";

// A single-segment file of `pairs` pairs written by the library itself.
void writeSegmentFile(const char* name, int pairs) {
  std::vector<short> samples(2 * static_cast<std::size_t>(pairs));
  for (std::size_t k = 0; k < samples.size(); ++k) {
    samples[k] = static_cast<short>(static_cast<int>((k * 977) % 16384) - 8192);
  }
  char names[SEQLINK_NAME_SLOT] = "Blank";
  const double clock = 1e6;
  const double energy = 1.0;
  if (crtMultiSegArb(names, &clock, &pairs, &energy, 1, samples.data(),
                     static_cast<unsigned>(pairs), 0, name) != SEQLINK_OK) {
    std::abort();
  }
}

}  // namespace

// The readers load libwavecrypt.so and release it around every crypto call; the
// harness holds one reference for the whole run (see fuzz_readers.cpp).
extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  static void* const kept = dlopen("libwavecrypt.so", RTLD_NOW | RTLD_LOCAL);
  (void)kept;
  const char* base = std::getenv("TMPDIR");
  std::string folder =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/seqlink-fuzz-XXXXXX";
  if (::mkdtemp(folder.data()) == nullptr || ::chdir(folder.c_str()) != 0) std::abort();
  writeSegmentFile("a.arb", 64);
  writeSegmentFile("b.arb", 33);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (std::FILE* file = std::fopen(kConfigFile, "wb")) {
    if (size > 0) std::fwrite(data, 1, size, file);
    std::fclose(file);
  } else {
    std::abort();
  }
  char outputFile[SEQLINK_NAME_SLOT];
  int segments = 0;
  int total = 0;
  if (readMultiSegConfig(kConfigFile, outputFile, &segments, &total) != SEQLINK_OK) return 0;
  // The library's own bounds: a file holds at most 69 segments; the cap on the
  // pairs only keeps a run short.
  if (segments < 0 || segments > static_cast<int>(arb::kMaxSegments) || total < 0 ||
      total > (1 << 16)) {
    return 0;
  }
  const auto count = static_cast<std::size_t>(segments);
  std::vector<short> samples(2 * static_cast<std::size_t>(total) + 2);
  std::vector<char> names(SEQLINK_NAME_SLOT * count + 1);
  std::vector<double> clocks(count + 1);
  std::vector<double> energies(count + 1);
  std::vector<int> counts(count + 1);
  if (outputIQDataAndInf(samples.data(), names.data(), clocks.data(), counts.data(),
                         energies.data()) != SEQLINK_OK) {
    return 0;
  }
  crtMultiSegArb(names.data(), clocks.data(), counts.data(), energies.data(),
                 static_cast<unsigned>(segments), samples.data(), static_cast<unsigned>(total), 0,
                 "/dev/null");
  return 0;
}
