// Unit tests of what the synthesis run of core gives back beside the samples: the
// words of libiqsynth's statuses, and the level statistics and raw sample form of
// the synthesised waveform.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

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

TEST(CoreSynthesisedWaveform, InterleavedWordsAreLittleEndianIThenQUpToTheShorterTrack) {
  std::mt19937 gen(5);
  for (const std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{7}, std::size_t{4099}}) {
    arbsuite::iqsynth_host::Waveform wave;
    for (std::size_t k = 0; k < n; ++k) {
      wave.i.push_back(static_cast<short>(gen()));
      wave.q.push_back(static_cast<short>(gen()));
    }
    wave.q.push_back(-1);  // a longer Q track: its extra sample is not part of any pair
    const auto bytes = arbsuite::iqsynth_host::interleavedSamples(wave);
    ASSERT_EQ(bytes.size(), 4 * n);
    for (std::size_t k = 0; k < n; ++k) {
      const auto i = static_cast<unsigned>(static_cast<unsigned short>(wave.i[k]));
      const auto q = static_cast<unsigned>(static_cast<unsigned short>(wave.q[k]));
      ASSERT_EQ(bytes[4 * k] | (bytes[4 * k + 1] << 8), i) << k;
      ASSERT_EQ(bytes[4 * k + 2] | (bytes[4 * k + 3] << 8), q) << k;
    }
  }
}

}  // namespace
