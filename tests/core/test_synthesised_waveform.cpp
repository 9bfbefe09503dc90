// Unit tests of what the synthesis run of core gives back beside the samples: the
// words of libiqsynth's statuses, and the level statistics and raw sample form of
// the synthesised waveform.
#include <gtest/gtest.h>

#include <cmath>

#include "synthesis_statuses.h"
#include "synthesised_waveform.h"

namespace {

TEST(CoreSynthesisStatusWords, SynthesisStatusesInWords) {
  EXPECT_EQ(arbsuite::iqsynth_host::synthesisStatusWords(-(0xF000 | 2)),
            "noise generation failed (noise stage code 2)");
  EXPECT_EQ(arbsuite::iqsynth_host::synthesisStatusWords(-0x40002),
            "the modulation type is not supported");
}

TEST(CoreSynthesisedWaveform, PeakRmsAndEnergyFollowTheirFormulas) {
  arbsuite::iqsynth_host::Waveform wave;
  wave.i = {3000, 0, -4096, 0};
  wave.q = {4000, 0, 0, 8191};
  const auto s = arbsuite::iqsynth_host::measure(wave);
  EXPECT_EQ(s.samples, 4u);
  EXPECT_DOUBLE_EQ(s.peak, 8191);
  const double sumSquares = 5000.0 * 5000 + 4096.0 * 4096 + 8191.0 * 8191;
  EXPECT_DOUBLE_EQ(s.rms, std::sqrt(sumSquares / 4));
  EXPECT_DOUBLE_EQ(s.energy, sumSquares / (8192.0 * 8192));
  EXPECT_DOUBLE_EQ(arbsuite::iqsynth_host::crestFactorDb(s),
                   20 * std::log10(8191 / std::sqrt(sumSquares / 4)));
  const auto bytes = arbsuite::iqsynth_host::interleavedSamples(wave);
  ASSERT_EQ(bytes.size(), 16u);
  EXPECT_EQ(bytes[8], 0x00);  // -4096 = 0xF000, low byte first
  EXPECT_EQ(bytes[9], 0xF0);
  EXPECT_EQ(arbsuite::iqsynth_host::measure(arbsuite::iqsynth_host::Waveform{}).rms, 0);
}

}  // namespace
