// The fixture of the wavepack program tests: a scratch folder with a private $TMPDIR,
// the program run in it, and a conversion checked against the quantisation of the
// values a test wrote.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "arb_samples.h"
#include "process.h"
#include "scratch_dir.h"

namespace wavepack_test {

namespace fs = std::filesystem;
using arbtest::ProcessResult;
using Pairs = std::vector<std::pair<double, double>>;

// trunc(v / peak x level x 8191) of every value, the peak being the largest modulus.
inline std::vector<std::int16_t> quantise(const Pairs& pairs, double level = 0.81) {
  double peak = 0;
  for (const auto& [i, q] : pairs) peak = std::max(peak, std::hypot(i, q));
  std::vector<std::int16_t> samples;
  for (const auto& [i, q] : pairs) {
    for (double v : {i, q})
      samples.push_back(
          peak == 0 ? 0 : static_cast<std::int16_t>(std::trunc(v / peak * (level * 8191))));
  }
  return samples;
}

// A test signal: a slow spiral, with the sign changes and magnitudes small formats hold.
inline Pairs spiral(std::size_t count, double scale) {
  Pairs pairs;
  for (std::size_t k = 0; k < count; ++k) {
    const double r = scale * (0.2 + 0.8 * static_cast<double>(k) / static_cast<double>(count));
    pairs.emplace_back(std::round(r * std::cos(0.37 * k)), std::round(r * std::sin(0.37 * k)));
  }
  return pairs;
}

class WavepackFormats : public testing::Test {
 protected:
  void SetUp() override { fs::create_directory(tmp_); }

  ProcessResult run(const std::vector<std::string>& args, const std::string& input = "") {
    arbtest::ProcessOptions options;
    options.workingDirectory = dir_.path().string();
    options.environment = {"TMPDIR=" + tmp_.string()};
    options.standardInput = input;
    return arbtest::runProcess(WAVEPACK_PROGRAM, args, options);
  }
  std::string path(const std::string& name) const { return dir_.file(name); }

  // Converts and checks the samples, the clock, the summary's format and the
  // diagnostics on standard error.
  void expectConversion(const std::vector<std::string>& args, const Pairs& written, int clock,
                        const std::string& format, const std::string& input = "",
                        double level = 0.81, const std::string& diagnostics = "") {
    std::vector<std::string> all = args;
    all.insert(all.end(), {"-o", "out.arb"});
    const ProcessResult r = run(all, input);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.err, diagnostics);
    const std::vector<std::int16_t> expected = quantise(written, level);
    const std::string first = r.out.substr(0, r.out.find('\n') + 1);
    EXPECT_TRUE(first == "Successfully converts the binary format file to out.arb\n" ||
                first == "Successfully converts the CSV format file to out.arb\n")
        << first;
    EXPECT_EQ(r.out.substr(first.size()), arbtest::expectedSummary(expected, clock, format) + "\n");
    std::string text;
    EXPECT_EQ(arbtest::readArb(path("out.arb"), text), expected);
    EXPECT_EQ(arbsuite::arb::findTextItem(text, "Clock"), std::to_string(clock) + "HZ");
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp_), fs::directory_iterator()), 0);
  }

  arbtest::ScratchDir dir_;
  fs::path tmp_ = dir_.path() / "tmp";
};

}  // namespace wavepack_test
