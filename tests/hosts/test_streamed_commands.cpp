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
#include "stats.h"
#include "streamed_commands.h"
#include "streamed_stats.h"
#include "waveform_header.h"

namespace {

using arbsuite::ArbContent;
using arbsuite::SpanPieces;
using arbsuite::analysis::SampleFormat;
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
    // Three segments or more play at two clocks: the whole has none.
    const char* clock = segmentPairs.size() > 2 && k % 2 == 1 ? "2000000" : "1000000";
    content.displayText += " SEGMENT_" + std::to_string(k) + ":s" + std::to_string(k) + ".arb," +
                           clock + "," + std::to_string(segmentPairs[k]) + ",0.25\n";
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
                                    {{10, 20001}, 999}, {{3001, 2999, 17}, 64},
                                    {{15}, 2},          {{16}, 3},
                                    {{17}, 16},         {{100, 0, 61, 1}, 9}};

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

// Every figure of two reports, to the last bit.
void expectSameStats(const arbsuite::analysis::Stats& a, const arbsuite::analysis::Stats& b,
                     const std::string& where) {
  EXPECT_EQ(a.samples, b.samples) << where;
  EXPECT_EQ(a.clockHz, b.clockHz) << where;
  EXPECT_EQ(a.durationS, b.durationS) << where;
  EXPECT_EQ(a.peak, b.peak) << where;
  EXPECT_EQ(a.peakDbfs, b.peakDbfs) << where;
  EXPECT_EQ(a.rmsDbfs, b.rmsDbfs) << where;
  EXPECT_EQ(a.paprDb, b.paprDb) << where;
  EXPECT_EQ(a.ccdfDb, b.ccdfDb) << where;
  EXPECT_EQ(a.dcI, b.dcI) << where;
  EXPECT_EQ(a.dcQ, b.dcQ) << where;
  EXPECT_EQ(a.clipped, b.clipped) << where;
  EXPECT_EQ(a.obwHz, b.obwHz) << where;
  EXPECT_EQ(a.seamLsb, b.seamLsb) << where;
  EXPECT_EQ(a.seamRatio, b.seamRatio) << where;
  EXPECT_EQ(a.loopRegrowthDb, b.loopRegrowthDb) << where;
}

TEST(HostStreamedStats, EqualsTheInMemoryFiguresAndPrintsTheSameText) {
  ScratchDir dir;
  unsigned seed = 100;
  for (const Shape& shape : kShapes) {
    const ArbContent content = contentOf(shape.segments, seed++);
    const ArbContent header = described(content);
    SpanPieces pieces({content.samples.data(), 2 * content.count}, shape.piecePairs);
    const std::string where =
        std::to_string(content.count) + " in pieces of " + std::to_string(shape.piecePairs);

    const auto memory =
        arbsuite::analysis::measureWaveform(arbsuite::analysis::waveformOf(content));
    const auto layout = arbsuite::analysis::waveformLayoutOf(header);
    const auto streamed =
        arbsuite::analysis::measureWaveform(pieces, layout.clockHz, layout.segments);
    expectSameStats(streamed.whole, memory.whole, where);
    ASSERT_EQ(streamed.segments.size(), memory.segments.size()) << where;
    for (std::size_t k = 0; k < memory.segments.size(); ++k) {
      EXPECT_EQ(streamed.segments[k].name, memory.segments[k].name);
      expectSameStats(streamed.segments[k].stats, memory.segments[k].stats,
                      where + ", segment " + std::to_string(k));
    }
    ASSERT_EQ(streamed.boundaries.size(), memory.boundaries.size()) << where;
    for (std::size_t k = 0; k < memory.boundaries.size(); ++k) {
      EXPECT_EQ(streamed.boundaries[k].from, memory.boundaries[k].from) << where;
      EXPECT_EQ(streamed.boundaries[k].seamLsb, memory.boundaries[k].seamLsb) << where;
      EXPECT_EQ(streamed.boundaries[k].seamRatio, memory.boundaries[k].seamRatio) << where;
    }

    for (const bool json : {false, true}) {
      EXPECT_EQ(printed(dir, [&] { arbsuite::arbtool::runStats(header, pieces, json); }),
                printed(dir, [&] { arbsuite::arbtool::runStats(content, json); }))
          << where << (json ? " (JSON)" : "");
    }
  }
}

// A loud piece after quiet ones: the power histogram's bins widen on the way, and
// the CCDF still comes out of the bins the final peak gives.
TEST(HostStreamedStats, PeakThatGrowsPieceByPieceGivesTheSameCcdf) {
  std::vector<std::int16_t> iq;
  for (int amplitude : {3, 40, 300, 2000, 9000, 32767}) {
    for (int k = 0; k < 500; ++k) {
      iq.push_back(static_cast<std::int16_t>(amplitude * std::sin(0.1 * k)));
      iq.push_back(static_cast<std::int16_t>(amplitude * std::cos(0.37 * k) / 2));
    }
  }
  iq.push_back(-32768);
  iq.push_back(-32768);
  arbsuite::analysis::Waveform waveform;
  waveform.iq = iq;
  waveform.clockHz = 1e6;
  const auto memory = arbsuite::analysis::measureWaveform(waveform);
  for (const std::size_t piecePairs : {1, 499, 500, 4096}) {
    SpanPieces pieces(iq, piecePairs);
    const auto streamed = arbsuite::analysis::measureWaveform(pieces, 1e6, {});
    expectSameStats(streamed.whole, memory.whole, std::to_string(piecePairs));
  }
}

}  // namespace
