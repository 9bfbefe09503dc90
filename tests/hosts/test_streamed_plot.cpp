// The plot's figures measured from pieces against the functions on the samples in
// memory (the reference), for pieces that split the samples anywhere; arbtool's
// plot of a file's pieces against its plot of the content in memory; the ranges
// a source hands out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "analysis_commands.h"
#include "files.h"
#include "plot_data.h"
#include "power_distribution.h"
#include "sample_pieces.h"
#include "scratch_dir.h"
#include "streamed_commands.h"
#include "waveform_header.h"
#include "welch.h"

namespace {

using namespace arbsuite::analysis;
using arbsuite::PieceVisitor;
using arbsuite::RangePieces;
using arbsuite::SamplePieces;
using arbsuite::SpanPieces;

// Shaped symbols: QPSK points held for a few samples and smoothed, so that the
// timing search has a clear best phase, with some noise.
std::vector<std::int16_t> symbolSamples(std::size_t pairs, double samplesPerSymbol, unsigned seed) {
  std::mt19937 random(seed);
  std::normal_distribution<double> noise(0, 60);
  std::vector<std::int16_t> iq(2 * pairs);
  for (std::size_t k = 0; k < pairs; ++k) {
    const auto symbol = static_cast<std::size_t>(static_cast<double>(k) / samplesPerSymbol);
    const double within = static_cast<double>(k) / samplesPerSymbol - static_cast<double>(symbol);
    const double shape = std::sin(3.14159265358979 * within);
    std::minstd_rand pick(static_cast<unsigned>(symbol) * 2654435761u + seed);
    const double i = (pick() & 1 ? 3000 : -3000) * shape + noise(random);
    const double q = (pick() & 1 ? 3000 : -3000) * shape + noise(random);
    iq[2 * k] = static_cast<std::int16_t>(std::lround(i));
    iq[2 * k + 1] = static_cast<std::int16_t>(std::lround(q));
  }
  return iq;
}

PlotPanels allPanels() { return {true, true, true, true, true}; }

void expectSameSpectrum(const std::optional<Spectrum>& a, const std::optional<Spectrum>& b) {
  ASSERT_EQ(a.has_value(), b.has_value());
  if (!a) return;
  EXPECT_EQ(a->segments, b->segments);
  EXPECT_EQ(a->density, b->density);
}

void expectSameEye(const EyeTraces& a, const EyeTraces& b) {
  EXPECT_EQ(a.time, b.time);
  EXPECT_EQ(a.i, b.i);
  EXPECT_EQ(a.q, b.q);
}

struct PlotShape {
  std::size_t pairs;
  std::size_t piecePairs;
  double samplesPerSymbol;  // clock / symbol rate
};

class PlotFiguresInPieces : public ::testing::TestWithParam<PlotShape> {};

// Every figure from small pieces equals the in-memory function's on all samples:
// the instants between two pieces read the pair before the piece, the first pairs
// the eye needs span several pieces.
TEST_P(PlotFiguresInPieces, EqualTheFiguresOfTheSamplesInMemory) {
  const PlotShape shape = GetParam();
  const double clock = 8e6;
  const double symbolRate = clock / shape.samplesPerSymbol;
  const std::vector<std::int16_t> iq = symbolSamples(shape.pairs, shape.samplesPerSymbol, 7);
  SpanPieces pieces(iq, shape.piecePairs);
  const PlotFigures figures = measurePlot(pieces, clock, symbolRate, allPanels());

  const Levels levels = measureLevels(iq);
  EXPECT_EQ(figures.levels.samples, levels.samples);
  EXPECT_EQ(figures.levels.peakPower, levels.peakPower);
  EXPECT_EQ(figures.levels.meanPower, levels.meanPower);
  EXPECT_EQ(figures.levels.dcI, levels.dcI);
  EXPECT_EQ(figures.levels.clipped, levels.clipped);
  expectSameSpectrum(figures.spectrum, welchSpectrum(iq, clock));

  const DensityGrid density = constellationDensity(iq, densityCells(levels), densityRange(levels));
  EXPECT_EQ(figures.density.cells, density.cells);
  EXPECT_EQ(figures.density.range, density.range);
  EXPECT_EQ(figures.density.counts, density.counts);

  const SymbolTiming timing = estimateSymbolTiming(iq, shape.samplesPerSymbol);
  ASSERT_TRUE(figures.timing.has_value());
  EXPECT_EQ(figures.timing->phase, timing.phase);
  EXPECT_EQ(figures.symbolValues, symbolValues(iq, timing, kMaxSymbolPoints));

  const std::size_t first = std::min(shape.pairs, kTimeViewSamples);
  EXPECT_EQ(figures.firstSamples, std::vector<std::int16_t>(iq.begin(), iq.begin() + 2 * first));
  const CcdfCurve ccdf = ccdfCurve(iq, kCcdfStepDb);
  EXPECT_EQ(figures.ccdf.db, ccdf.db);
  EXPECT_EQ(figures.ccdf.fraction, ccdf.fraction);
  expectSameEye(figures.eye, eyeTraces(iq, timing, kEyeTraces, kEyePointsPerSymbol));
}

INSTANTIATE_TEST_SUITE_P(Shapes, PlotFiguresInPieces,
                         ::testing::Values(PlotShape{1, 1, 4}, PlotShape{2, 1, 2},
                                           PlotShape{15, 2, 3}, PlotShape{999, 7, 8},
                                           PlotShape{5000, 1, 8}, PlotShape{20011, 1024, 7.3},
                                           PlotShape{70001, 4099, 4},
                                           PlotShape{100003, 65536, 12.5},
                                           PlotShape{40000, 333, 100}));

TEST(PlotFiguresInPieces, MeasureOnlyThePanelsAskedFor) {
  const std::vector<std::int16_t> iq = symbolSamples(3000, 4, 3);
  SpanPieces pieces(iq, 100);
  const PlotFigures ccdfOnly = measurePlot(pieces, 0, std::nullopt, {false, false, false, true});
  EXPECT_FALSE(ccdfOnly.spectrum.has_value());
  EXPECT_FALSE(ccdfOnly.timing.has_value());
  EXPECT_TRUE(ccdfOnly.density.counts.empty());
  EXPECT_TRUE(ccdfOnly.firstSamples.empty());
  EXPECT_FALSE(ccdfOnly.ccdf.db.empty());

  // Without a symbol rate the constellation is the density alone.
  const PlotFigures density = measurePlot(pieces, 1e6, std::nullopt, {false, true, false, false});
  EXPECT_FALSE(density.timing.has_value());
  EXPECT_TRUE(density.symbolValues.empty());
  EXPECT_FALSE(density.density.counts.empty());

  // Silence and no samples give empty curves, not a failure.
  const std::vector<std::int16_t> silence(400, 0);
  SpanPieces quiet(silence, 7);
  EXPECT_TRUE(measurePlot(quiet, 1e6, 1e5, allPanels()).ccdf.db.empty());
  SpanPieces none(std::span<const std::int16_t>{}, 7);
  const PlotFigures empty = measurePlot(none, 1e6, 1e5, allPanels());
  EXPECT_EQ(empty.levels.samples, 0u);
  EXPECT_FALSE(empty.spectrum.has_value());
  EXPECT_TRUE(empty.eye.i.empty());
}

// A whole number of samples per symbol beyond the per-sample search takes the
// fractional phases: a bounded search however slow the symbols.
TEST(PlotFiguresInPieces, HugeWholeSymbolLengthsSearchBoundedPhases) {
  const std::vector<std::int16_t> iq = symbolSamples(300000, 200000, 5);
  SpanPieces pieces(iq, 4096);
  const SymbolTiming timing = estimateSymbolTiming(iq, 200000);
  EXPECT_GE(timing.phase, 0);
  EXPECT_LT(timing.phase, 200000);
  // The centre of the pulse (a sine over the symbol) is its strongest part.
  EXPECT_NEAR(timing.phase, 100000, 200000.0 / 32);
  const PlotFigures figures = measurePlot(pieces, 2e6, 10, {false, true, false, false});
  ASSERT_TRUE(figures.timing.has_value());
  EXPECT_EQ(figures.timing->phase, timing.phase);
}

TEST(PowerDistributionInPieces, ReadBeforeFinishingIsRefused) {
  PowerDistribution distribution(100);
  const std::vector<std::int16_t> iq = {3, 4, 6, 8};
  distribution.add(iq);
  EXPECT_THROW(distribution.fractionAbove(10), std::logic_error);
  distribution.finish();
  EXPECT_EQ(distribution.fractionAbove(50), 0.5);
  EXPECT_EQ(distribution.powerReachedBy(1.0), 25);
}

// A source with forEach alone: ranges come from its pieces, cut at the range.
class ForEachOnly final : public SamplePieces {
 public:
  ForEachOnly(std::span<const std::int16_t> iq, std::size_t piecePairs)
      : iq_(iq), piecePairs_(piecePairs) {}
  std::size_t samples() const override { return iq_.size() / 2; }
  void forEach(const PieceVisitor& visit) override {
    for (std::size_t at = 0; at < iq_.size(); at += 2 * piecePairs_) {
      visit(iq_.subspan(at, std::min(2 * piecePairs_, iq_.size() - at)));
    }
  }

 private:
  std::span<const std::int16_t> iq_;
  std::size_t piecePairs_;
};

TEST(RangePieces, HandOutExactlyTheirRangeFromEitherSource) {
  std::vector<std::int16_t> iq(2 * 1000);
  for (std::size_t k = 0; k < iq.size(); ++k) iq[k] = static_cast<std::int16_t>(k);
  for (const auto& [first, count] : std::vector<std::pair<std::size_t, std::size_t>>{
           {0, 1000}, {0, 0}, {999, 1}, {13, 500}, {64, 64}, {1000, 0}}) {
    ForEachOnly slow(iq, 64);
    SpanPieces fast(iq, 64);
    for (SamplePieces* whole : std::initializer_list<SamplePieces*>{&slow, &fast}) {
      RangePieces range(*whole, first, count);
      EXPECT_EQ(range.samples(), count);
      std::vector<std::int16_t> seen;
      range.forEach([&](std::span<const std::int16_t> piece) {
        EXPECT_FALSE(piece.empty());
        EXPECT_EQ(piece.size() % 2, 0u);
        seen.insert(seen.end(), piece.begin(), piece.end());
      });
      EXPECT_EQ(seen,
                std::vector<std::int16_t>(iq.begin() + 2 * first, iq.begin() + 2 * (first + count)))
          << first << " + " << count;
    }
  }
}

// An SVG drawing without the numbers of its surfaces and images, which cairo counts
// across the process.
std::string drawing(const std::string& path) {
  std::string text = arbtest::readText(path);
  for (const std::string word : {"surface", "image"}) {
    for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at)) {
      at += word.size();
      std::size_t end = at;
      while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
      text.erase(at, end - at);
    }
  }
  return text;
}

// arbtool's plot of pieces draws the same picture as its plot of the content in
// memory (SVG: text that is the same for the same drawing), for a single waveform
// and for one segment of a multi-segment file.
TEST(HostStreamedPlot, DrawsTheSamePictureAsThePlotOfTheContentInMemory) {
  arbtest::ScratchDir dir;
  const std::vector<std::int16_t> iq = symbolSamples(30011, 8, 11);
  arbsuite::ArbContent single;
  single.path = "w.arb";
  single.count = iq.size() / 2;
  single.clockHz = 8e6;
  single.displayText = " Clock:8000000HZ\n";
  single.samples.assign(iq.begin(), iq.end());
  single.samples.resize(iq.size() + 2, 0);

  arbsuite::ArbContent multi = single;
  multi.clockHz = 0;
  multi.multiSegment = true;
  multi.displayText =
      " NUMBER SEGMENTS:3\n SEGMENT_0:a.arb,8000000,10000,0.5\n"
      " SEGMENT_1:b.arb,4000000,15011,0.5\n SEGMENT_2:c.arb,8000000,5000,0.5\n";

  struct Case {
    const arbsuite::ArbContent* content;
    arbsuite::arbtool::PlotRequest plot;
  };
  arbsuite::arbtool::PlotRequest sheet;
  sheet.kind = PlotKind::All;
  sheet.symbolRate = 1e6;
  arbsuite::arbtool::PlotRequest eye;
  eye.kind = PlotKind::Eye;
  eye.symbolRate = 1e6;
  arbsuite::arbtool::PlotRequest segment = sheet;
  segment.segment = 1;
  segment.symbolRate = 5e5;
  arbsuite::arbtool::PlotRequest ccdf;
  ccdf.kind = PlotKind::Ccdf;
  int n = 0;
  for (const Case& c :
       {Case{&single, sheet}, Case{&single, eye}, Case{&multi, segment}, Case{&multi, ccdf}}) {
    arbsuite::arbtool::PlotRequest memory = c.plot;
    memory.output = dir.file("memory" + std::to_string(n) + ".svg");
    arbsuite::arbtool::PlotRequest streamed = c.plot;
    streamed.output = dir.file("streamed" + std::to_string(n) + ".svg");
    ++n;
    arbsuite::arbtool::runPlot(*c.content, memory);
    arbsuite::ArbContent described = *c.content;
    described.samples.clear();
    SpanPieces pieces(iq, 977);
    arbsuite::arbtool::runPlot(described, arbsuite::analysis::waveformLayoutOf(described), pieces,
                               streamed);
    const std::string a = drawing(memory.output);
    ASSERT_FALSE(a.empty());
    EXPECT_TRUE(a == drawing(streamed.output)) << memory.output;
  }
}

}  // namespace
