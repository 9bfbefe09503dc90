// libFuzzer target for the segment configuration on the path the programs take:
// the input is written to a file, readMultiSegConfig reads it, outputIQDataAndInf
// fills buffers sized from what it returned (as arbtool sizes them, capped to keep
// each run small), and crtMultiSegArb writes the result (never to the input's own
// OUTPUT FILE). The programs' join (readJoinSettings, joinSegments) of the same file must
// fail with the same status or write the same info block. The harness works in a
// private folder holding the two segment files the seed configurations name, a.arb
// (64 pairs) and b.arb (33 pairs).
#include <dlfcn.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "arb_format.h"
#include "segment_join.h"
#include "seqlink.h"
#include "seqlink_join.h"

namespace {

constexpr const char* kConfigFile = "config.txt";
constexpr const char* kCallsOutput = "calls.arb";
constexpr const char* kJoinOutput = "join.arb";

// The bytes of a file (empty when it is missing).
std::vector<std::uint8_t> bytesOf(const char* path) {
  std::vector<std::uint8_t> bytes;
  if (std::FILE* file = std::fopen(path, "rb")) {
    std::uint8_t block[4096];
    for (std::size_t n; (n = std::fread(block, 1, sizeof block, file)) > 0;)
      bytes.insert(bytes.end(), block, block + n);
    std::fclose(file);
  }
  return bytes;
}

// The info block of a multi-segment file: what two joins of the same plan share
// besides the samples, which each encrypts under its own key.
std::vector<std::uint8_t> infoBlockOf(const std::vector<std::uint8_t>& file) {
  arbsuite::arb::ArbHeader header;
  if (arbsuite::arb::parseHeader(file, header) != arbsuite::arb::ParseStatus::ok) std::abort();
  const auto block = arbsuite::arb::headerBlock(file, header);
  return {block.begin(), block.end()};
}

// The status of the C calls against the programs' join of the same configuration.
void compareJoins(int callsStatus, bool callsWrote) {
  arbsuite::seqlink::JoinSettings settings;
  arbsuite::seqlink::JoinStatus status = arbsuite::seqlink::readJoinSettings(kConfigFile, settings);
  if (status.status == SEQLINK_OK) {
    settings.output = kJoinOutput;
    std::vector<arbsuite::seqlink::JoinSegment> joined;
    // Nothing kept between the passes: every segment is read twice.
    status = arbsuite::seqlink::joinSegments(settings, joined, {}, 0);
  }
  if (status.status != callsStatus) std::abort();
  if (!callsWrote) return;
  const std::vector<std::uint8_t> calls = bytesOf(kCallsOutput);
  const std::vector<std::uint8_t> join = bytesOf(kJoinOutput);
  if (calls.size() != join.size() || infoBlockOf(calls) != infoBlockOf(join)) std::abort();
  std::remove(kCallsOutput);
  std::remove(kJoinOutput);
}

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
  if (segments < 0 || segments > static_cast<int>(arbsuite::arb::kMaxSegments) || total < 0 ||
      total > (1 << 16)) {
    return 0;
  }
  const auto count = static_cast<std::size_t>(segments);
  std::vector<short> samples(2 * static_cast<std::size_t>(total) + 2);
  std::vector<char> names(SEQLINK_NAME_SLOT * count + 1);
  std::vector<double> clocks(count + 1);
  std::vector<double> energies(count + 1);
  std::vector<int> counts(count + 1);
  const int loaded = outputIQDataAndInf(samples.data(), names.data(), clocks.data(), counts.data(),
                                        energies.data());
  if (loaded != SEQLINK_OK) {
    compareJoins(loaded, false);
    return 0;
  }
  const int built = crtMultiSegArb(names.data(), clocks.data(), counts.data(), energies.data(),
                                   static_cast<unsigned>(segments), samples.data(),
                                   static_cast<unsigned>(total), 0, kCallsOutput);
  compareJoins(built, built == SEQLINK_OK);
  return 0;
}
