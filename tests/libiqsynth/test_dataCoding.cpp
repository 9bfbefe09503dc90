// Symbol coding: differential sums, Gray coding and FSK levels against a
// reference model written here, plus the grid and the cases coding leaves alone.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <valarray>
#include <vector>

#include "dataCoding.h"
#include "iqSynthCfg.h"

using namespace arbsuite::iqsynth;  // the library's internals under test

namespace {

std::unique_ptr<iqSynthCfg> makeCfg(int type, int coding, int R, int sampleLength) {
  auto cfg = std::make_unique<iqSynthCfg>("coding test");
  cfg->digiModulatingType = static_cast<iqSynthCfg::DigiModulatingType_t>(type);
  cfg->codingType = static_cast<iqSynthCfg::CodingType_t>(coding);
  cfg->overSamplingRate = R;
  cfg->sampleLength = sampleLength;
  return cfg;
}

std::vector<int> code(int type, int coding, const std::vector<int>& in) {
  auto cfg = makeCfg(type, coding, 1, static_cast<int>(in.size()));
  std::valarray<short> symbols(in.size());
  for (std::size_t i = 0; i < in.size(); ++i) {
    symbols[i] = static_cast<short>(in[i]);
  }
  EXPECT_EQ(runDataCoding(*cfg, symbols, 0), 0);
  return {std::begin(symbols), std::end(symbols)};
}

TEST(IqsynthDataCoding, DifferentialExamples) {
  const int qpsk = iqSynthCfg::MOD_QPSK;  // M = 4
  EXPECT_EQ(code(qpsk, iqSynthCfg::CODING_DIFF, {1, 1, 1}), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(code(qpsk, iqSynthCfg::CODING_DIFF_FROM_ONE, {1, 1, 1}), (std::vector<int>{2, 3, 0}));
  EXPECT_EQ(code(qpsk, iqSynthCfg::CODING_DIFF, {3, 3, 2, 0}), (std::vector<int>{3, 2, 0, 0}));
  EXPECT_EQ(code(qpsk, iqSynthCfg::CODING_NONE, {3, 0, 2}), (std::vector<int>{3, 0, 2}));
}

TEST(IqsynthDataCoding, GrayCodesOfThreeBits) {
  EXPECT_EQ(code(iqSynthCfg::MOD_8PSK, iqSynthCfg::CODING_GRAY, {0, 1, 2, 3, 4, 5, 6, 7}),
            (std::vector<int>{0, 1, 3, 2, 6, 7, 5, 4}));
  // Gray then running sum: gray(1)=1, gray(2)=3, gray(3)=2 -> 1, 4, 6 (mod 8).
  EXPECT_EQ(code(iqSynthCfg::MOD_8PSK, iqSynthCfg::CODING_GRAY_DIFF, {1, 2, 3}),
            (std::vector<int>{1, 4, 6}));
}

TEST(IqsynthDataCoding, FskLevelsAreOddAndSymmetric) {
  EXPECT_EQ(code(iqSynthCfg::MOD_FSK4, iqSynthCfg::CODING_NONE, {0, 1, 2, 3}),
            (std::vector<int>{-3, -1, 1, 3}));
  EXPECT_EQ(code(iqSynthCfg::MOD_FSK2, iqSynthCfg::CODING_NONE, {0, 1}), (std::vector<int>{-1, 1}));
  EXPECT_EQ(code(iqSynthCfg::MOD_FSK4, iqSynthCfg::CODING_DIFF, {1, 1, 1}),
            (std::vector<int>{-1, 1, 3}));
  // An unknown coding leaves FSK symbols as values, not levels.
  EXPECT_EQ(code(iqSynthCfg::MOD_FSK4, 3, {0, 3}), (std::vector<int>{0, 3}));
}

// Reference model of the coding, written independently of the library.
std::vector<int> referenceCoding(int bits, bool fsk, int coding, const std::vector<int>& in) {
  const int M = 1 << bits;
  const auto gray = [](int s) { return s ^ (s >> 1); };
  std::vector<int> out;
  int acc = coding == 6 ? 1 : 0;
  for (int s : in) {
    int v = s;
    if (coding == 2 || coding == 6) {
      acc = (acc + s) % M;
      v = acc;
    } else if (coding == 4) {
      acc = (acc + gray(s)) % M;
      v = acc;
    } else if (coding == 5) {
      v = gray(s);
    } else if (coding != 1) {
      out.push_back(s);
      continue;
    }
    out.push_back(fsk ? 2 * v - M + 1 : v);
  }
  return out;
}

struct CodingCase {
  int type;
  int coding;
};

class IqsynthCodingModel : public ::testing::TestWithParam<CodingCase> {};

TEST_P(IqsynthCodingModel, MatchesTheReferenceOnRandomSymbols) {
  const auto [type, coding] = GetParam();
  const int bits = type & 0xFFFF;
  const bool fsk = (type & ~0xFFFF) == 0x30000;
  std::mt19937 rng(static_cast<unsigned>(type * 31 + coding));
  std::uniform_int_distribution<int> pick(0, (1 << bits) - 1);
  std::vector<int> in(500);
  for (int& s : in) {
    s = pick(rng);
  }
  EXPECT_EQ(code(type, coding, in), referenceCoding(bits, fsk, coding, in));
}

std::vector<CodingCase> codingCases() {
  std::vector<CodingCase> cases;
  for (int type :
       {0x90001, 0x90002, 0x90003, 0x00004, 0x00006, 0x00008, 0x30001, 0x30002, 0x30003, 0x30004}) {
    for (int coding : {1, 2, 3, 4, 5, 6, 7}) {
      cases.push_back({type, coding});
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(IqsynthDataCoding, IqsynthCodingModel, ::testing::ValuesIn(codingCases()),
                         [](const auto& info) {
                           return "type" + std::to_string(info.param.type) + "_coding" +
                                  std::to_string(info.param.coding);
                         });

TEST(IqsynthDataCoding, OnlySymbolSlotsOfTheSpanAreCoded) {
  auto cfg = makeCfg(iqSynthCfg::MOD_FSK4, iqSynthCfg::CODING_NONE, 3, 6);
  std::valarray<short> symbols = {9, 9, 0, 9, 9, 3, 9, 9, 2, 9};
  runDataCoding(*cfg, symbols, 2);
  // Slots 2 and 5 lie below offset + sampleLength = 8; slot 8 does not.
  const std::valarray<short> want = {9, 9, -3, 9, 9, 3, 9, 9, 2, 9};
  for (std::size_t i = 0; i < symbols.size(); ++i) {
    EXPECT_EQ(symbols[i], want[i]) << i;
  }
}

TEST(IqsynthDataCoding, SpanBeyondTheTrackAndDegenerateSettingsAreSafe) {
  auto cfg = makeCfg(iqSynthCfg::MOD_QPSK, iqSynthCfg::CODING_DIFF, 1, 1000);
  std::valarray<short> symbols = {1, 1};
  runDataCoding(*cfg, symbols, 0);
  EXPECT_EQ(symbols[1], 2);

  // Sixteen bits and more: the 16-bit alphabet size is 0, coding is skipped
  // rather than dividing by zero.
  cfg->digiModulatingType = static_cast<iqSynthCfg::DigiModulatingType_t>(16);
  symbols = {5, 6};
  runDataCoding(*cfg, symbols, 0);
  EXPECT_EQ(symbols[1], 6);

  // No step: nothing is coded (and no endless loop).
  cfg->digiModulatingType = iqSynthCfg::MOD_QPSK;
  cfg->overSamplingRate = 0;
  runDataCoding(*cfg, symbols, 0);
  EXPECT_EQ(symbols[0], 5);
}

TEST(IqsynthDataCoding, NegativeSymbolValuesStayInTheAlphabet) {
  // 16-bit symbols can be negative; the running sum stays within 0..M-1.
  EXPECT_EQ(code(iqSynthCfg::MOD_QPSK, iqSynthCfg::CODING_DIFF, {-1, -1}),
            (std::vector<int>{3, 2}));
}

TEST(IqsynthDataCoding, BinaryToGrayOnSixteenBits) {
  for (int s = 0; s < 65536; s += 257) {
    const int want = s ^ (s >> 1);
    EXPECT_EQ(static_cast<unsigned short>(binaryToGray(static_cast<short>(s))), want) << s;
  }
}

}  // namespace
