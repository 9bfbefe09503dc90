// arbtool's streamed dump and stats against the in-memory commands (the reference):
// the same files and the same printed figures, for pieces that split the samples
// anywhere, on single and multi-segment waveforms of odd lengths.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "analysis_commands.h"
#include "files.h"
#include "sample_pieces.h"
#include "scratch_dir.h"
#include "streamed_commands.h"

namespace {

using arbsuite::analysis::SampleFormat;
using arbsuite::analysis::SpanPieces;
using arbsuite::arbtool::ArbContent;
using arbtest::ScratchDir;

// Noise of a few standard deviations, with some values on and beyond the rails.
std::vector<short> noiseSamples(std::size_t pairs, unsigned seed) {
  std::mt19937 random(seed);
  std::normal_distribution<double> normal(0, 2500);
  std::vector<short> values(2 * pairs + 2, 0);  // readContent's two spare values
  for (std::size_t k = 0; k < 2 * pairs; ++k) {
    values[k] = static_cast<short>(std::clamp(std::lround(normal(random)), -9000L, 9000L));
  }
  return values;
}

// A single waveform, or segments of the given counts (a multi-segment file's text).
ArbContent contentOf(const std::vector<std::size_t>& segmentPairs, unsigned seed) {
  ArbContent content;
  content.path = "w.arb";
  for (const std::size_t pairs : segmentPairs) content.count += pairs;
  content.samples = noiseSamples(content.count, seed);
  if (segmentPairs.size() == 1) {
    content.clockHz = 2.5e6;
    content.displayText = " Clock:2500000HZ\n Value:1.5\n";
    return content;
  }
  content.multiSegment = true;
  content.displayText = " NUMBER SEGMENTS:" + std::to_string(segmentPairs.size()) + "\n";
  for (std::size_t k = 0; k < segmentPairs.size(); ++k) {
    content.displayText += " SEGMENT_" + std::to_string(k) + ":s" + std::to_string(k) +
                           ".arb,1000000," + std::to_string(segmentPairs[k]) + ",0.25\n";
  }
  return content;
}

// The content without its samples, as readDescription gives it.
ArbContent described(const ArbContent& content) {
  ArbContent d = content;
  d.samples.clear();
  d.samples.shrink_to_fit();
  return d;
}

struct Shape {
  std::vector<std::size_t> segments;
  std::size_t piecePairs;
};

const std::vector<Shape> kShapes = {{{1}, 1},           {{2}, 1},
                                    {{999}, 7},         {{1000}, 1000},
                                    {{4097}, 4096},     {{20011}, 1024},
                                    {{33, 1, 700}, 5},  {{4096, 4095}, 4096},
                                    {{10, 20001}, 999}, {{3001, 2999, 17}, 64}};

// Standard output of f, through a file.
template <typename F>
std::string printed(const ScratchDir& dir, F f) {
  const std::string path = dir.file("stdout.txt");
  std::fflush(stdout);
  const int saved = ::dup(STDOUT_FILENO);
  std::FILE* capture = std::fopen(path.c_str(), "w");
  ::dup2(::fileno(capture), STDOUT_FILENO);
  f();
  std::fflush(stdout);
  ::dup2(saved, STDOUT_FILENO);
  ::close(saved);
  std::fclose(capture);
  return arbtest::readText(path);
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
    text.replace(at, from.size(), to);
    at += to.size();
  }
  return text;
}

class HostStreamedDump : public ::testing::TestWithParam<SampleFormat> {};

TEST_P(HostStreamedDump, WritesTheSameBytesAsTheInMemoryDump) {
  const SampleFormat format = GetParam();
  ScratchDir dir;
  unsigned seed = 1;
  for (const Shape& shape : kShapes) {
    const ArbContent content = contentOf(shape.segments, seed++);
    const ArbContent header = described(content);
    SpanPieces pieces({content.samples.data(), 2 * content.count}, shape.piecePairs);
    const std::string memory = dir.file("memory"), streamed = dir.file("streamed");
    const std::string said =
        printed(dir, [&] { arbsuite::arbtool::runDump(content, memory, format); });
    const std::string saidStreamed =
        printed(dir, [&] { arbsuite::arbtool::runDump(header, pieces, streamed, format); });
    EXPECT_EQ(saidStreamed, replaced(said, memory, streamed)) << content.count;
    if (format == SampleFormat::Sigmf) {
      EXPECT_EQ(arbtest::readBytes(streamed + ".sigmf-data"),
                arbtest::readBytes(memory + ".sigmf-data"));
      EXPECT_EQ(arbtest::readText(streamed + ".sigmf-meta"),
                arbtest::readText(memory + ".sigmf-meta"));
    } else {
      const auto bytes = arbtest::readBytes(streamed);
      EXPECT_EQ(bytes, arbtest::readBytes(memory)) << content.count;
      EXPECT_GE(bytes.size(), 4 * content.count);  // every pair is there
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, HostStreamedDump,
                         ::testing::Values(SampleFormat::Csv, SampleFormat::Cf32Le,
                                           SampleFormat::Ci16Le, SampleFormat::Sigmf));

}  // namespace
