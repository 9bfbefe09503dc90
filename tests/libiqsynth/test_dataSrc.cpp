// Data source: fixed sources, the user pattern and data list file readers, the
// PRBS registers against reference sequences built from their recurrences,
// and the errors for settings a run cannot use.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <type_traits>
#include <valarray>
#include <vector>

#include "dataSrc.h"
#include "iqSynthCfg.h"
#include "iqSynthLog.h"
#include "iqsynth.h"
#include "quiet_stdout.h"

namespace fs = std::filesystem;

using namespace arbsuite::iqsynth;  // the library's internals under test

namespace {

class IqsynthDataSrcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cfg = quiet([] { return std::make_unique<iqSynthCfg>("dataSrc test"); });
    cfg->overSamplingRate = 1;
  }

  void setBits(int k) {
    cfg->digiModulatingType = static_cast<iqSynthCfg::DigiModulatingType_t>(k);
  }

  void setPattern(const std::string& pattern, bool hex) {
    cfg->dataSrc = iqSynthCfg::DATA_SRC_PATTERN;
    std::copy(pattern.begin(), pattern.end(), cfg->usrList);
    cfg->usrListSize = static_cast<int>(pattern.size());
    cfg->dataFormatIsHex = hex;
  }

  void setFile(const std::string& content) {
    const fs::path path = fs::current_path() / "data_list.txt";
    std::ofstream(path, std::ios::binary) << content;
    cfg->dataSrc = iqSynthCfg::DATA_SRC_FILE;
    cfg->dataFileList = path.string();
  }

  // Runs the source for n symbols with R = 1 and offset 0 and returns them.
  std::vector<int> run(int n) {
    cfg->sequenceLength = n;
    cfg->sampleLength = n * cfg->overSamplingRate;
    std::valarray<short> symbols(static_cast<std::size_t>(n));
    EXPECT_EQ(quiet([&] { return runDataSrc(*cfg, symbols, 0); }), 0);
    return {std::begin(symbols), std::end(symbols)};
  }

  // The number of the error of the given kind that the data source throws for n symbols; 0
  // when it throws none.
  int errorOf(IqSynthError::Kind kind, int n) {
    cfg->sequenceLength = n;
    cfg->sampleLength = n;
    std::valarray<short> symbols(static_cast<std::size_t>(n > 0 ? n : 1));
    try {
      quiet([&] { return runDataSrc(*cfg, symbols, 0); });
    } catch (const IqSynthError& e) {
      EXPECT_EQ(e.kind(), kind);
      lastText = e.what();
      return e.errNo();
    }
    return 0;
  }

  std::unique_ptr<iqSynthCfg> cfg;
  std::string lastText;
};

TEST_F(IqsynthDataSrcTest, AllZeroAndAllOne) {
  setBits(3);
  cfg->dataSrc = iqSynthCfg::DATA_SRC_ALL_ONE;
  EXPECT_EQ(run(4), (std::vector<int>{7, 7, 7, 7}));
  setBits(8);
  EXPECT_EQ(run(2), (std::vector<int>{255, 255}));
  cfg->dataSrc = iqSynthCfg::DATA_SRC_ALL_ZERO;
  EXPECT_EQ(run(3), (std::vector<int>{0, 0, 0}));
}

TEST_F(IqsynthDataSrcTest, SymbolsSitEveryRSamplesAfterTheOffset) {
  setBits(2);
  cfg->dataSrc = iqSynthCfg::DATA_SRC_ALL_ONE;
  cfg->overSamplingRate = 4;
  cfg->sequenceLength = 3;
  cfg->sampleLength = 12;
  std::valarray<short> symbols(20);
  runDataSrc(*cfg, symbols, 5);
  for (std::size_t i = 0; i < symbols.size(); ++i) {
    const bool isSymbol = i == 5 || i == 9 || i == 13;
    EXPECT_EQ(symbols[i], isSymbol ? 3 : 0) << i;
  }
}

TEST_F(IqsynthDataSrcTest, TrackShorterThanTheSymbolsIsNotOverrun) {
  setBits(1);
  setPattern("1", false);
  cfg->overSamplingRate = 3;
  cfg->sequenceLength = 100;
  cfg->sampleLength = 300;
  std::valarray<short> symbols(7);  // room for slots 1, 4 only
  runDataSrc(*cfg, symbols, 1);
  EXPECT_EQ(symbols[1], 1);
  EXPECT_EQ(symbols[4], 1);
  EXPECT_EQ(symbols[6], 0);
  cfg->dataSrc = iqSynthCfg::DATA_SRC_ALL_ONE;
  std::valarray<short> empty;
  EXPECT_EQ(runDataSrc(*cfg, empty, 0), 0);
}

TEST_F(IqsynthDataSrcTest, HexPatternIsReadMostSignificantBitFirst) {
  setBits(2);
  setPattern("B4", true);
  EXPECT_EQ(run(4), (std::vector<int>{2, 3, 1, 0}));
  // Symbols straddle character boundaries: 0xA5 0x3C as 3-bit groups.
  setBits(3);
  setPattern("A53C", true);
  // 1010 0101 0011 1100 -> 101 001 010 011 110 (0 left over)
  EXPECT_EQ(run(5), (std::vector<int>{5, 1, 2, 3, 6}));
  // Lower-case digits and a character that is no digit (reads as 0).
  setBits(4);
  setPattern("fz", true);
  EXPECT_EQ(run(3), (std::vector<int>{15, 0, 15}));
}

TEST_F(IqsynthDataSrcTest, HexPatternWrapsAndKeepsBitsAcrossTheWrap) {
  // 3 bits from a one-digit pattern "9" = 1001: stream 1001 1001 1001 ...
  setBits(3);
  setPattern("9", true);
  EXPECT_EQ(run(4), (std::vector<int>{4, 6, 3, 1}));  // 100 110 011 001
}

TEST_F(IqsynthDataSrcTest, BinaryPatternWrapsAcrossSymbols) {
  setBits(3);
  setPattern("1011", false);
  EXPECT_EQ(run(3), (std::vector<int>{5, 6, 7}));  // 101 110 111
  // A group with another character reads as 0.
  setBits(2);
  setPattern("1x11", false);
  EXPECT_EQ(run(3), (std::vector<int>{0, 3, 0}));
}

TEST_F(IqsynthDataSrcTest, PatternLongerThanTheCapacityUsesTheCharactersHeld) {
  setBits(1);
  setPattern(std::string(2048, '0'), false);
  cfg->usrList[2047] = '1';
  cfg->usrListSize = 10000;
  const auto symbols = run(2050);
  EXPECT_EQ(symbols[2047], 1);
  EXPECT_EQ(symbols[2048], 0);  // wrapped to the first character
  EXPECT_EQ(symbols[2046], 0);
}

TEST_F(IqsynthDataSrcTest, FileFormatsAndWrapping) {
  setBits(2);
  setFile("HEX\n B4 \n");
  EXPECT_EQ(run(6), (std::vector<int>{2, 3, 1, 0, 2, 3}));
  setFile("hex B\n\t4");
  EXPECT_EQ(run(4), (std::vector<int>{2, 3, 1, 0}));
  setBits(3);
  setFile("BIN 10\n1 1");  // white space between data characters is skipped
  EXPECT_EQ(run(3), (std::vector<int>{5, 6, 7}));
  setFile("bin 1");
  EXPECT_EQ(run(2), (std::vector<int>{7, 7}));
}

TEST_F(IqsynthDataSrcTest, FileFormatWordIsCaseExact) {
  setBits(1);
  for (const char* content : {"Hex B4", "Bin 01", "HEX1", "DATA 1", "", "   \n"}) {
    setFile(content);
    EXPECT_EQ(errorOf(IqSynthError::Kind::File, 4), IQSYNTH_ERR_FILE_FORMAT) << content;
  }
  setFile("Hex B4");
  errorOf(IqSynthError::Kind::File, 4);
  EXPECT_EQ(lastText, " file format is error");
}

TEST_F(IqsynthDataSrcTest, FileWithoutDataAfterTheFormatWordFails) {
  setBits(1);
  for (const char* content : {"HEX", "BIN \n\n  "}) {
    setFile(content);
    EXPECT_EQ(errorOf(IqSynthError::Kind::File, 4), IQSYNTH_ERR_FILE_FORMAT) << content;
  }
}

TEST_F(IqsynthDataSrcTest, MissingFileNamesThePath) {
  setBits(1);
  cfg->dataSrc = iqSynthCfg::DATA_SRC_FILE;
  cfg->dataFileList = "no/such/list.txt";
  EXPECT_EQ(errorOf(IqSynthError::Kind::File, 4), IQSYNTH_ERR_FILE_OPEN);
  EXPECT_EQ(lastText, "Can not open the data list file" + cfg->dataFileList);
}

TEST_F(IqsynthDataSrcTest, SpecialFilesAreRefusedBeforeTheyCanBlockOrGrow) {
  // A FIFO without a writer blocks an open for reading; /dev/zero fed the format
  // word without end (16 GB). Both are refused as files that cannot be opened.
  setBits(1);
  const fs::path fifo = fs::current_path() / "data_list_fifo";
  fs::remove(fifo);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
  cfg->dataSrc = iqSynthCfg::DATA_SRC_FILE;
  for (const std::string& path : {fifo.string(), std::string("/dev/zero")}) {
    cfg->dataFileList = path;
    EXPECT_EQ(errorOf(IqSynthError::Kind::File, 4), IQSYNTH_ERR_FILE_OPEN) << path;
    EXPECT_EQ(lastText, "Can not open the data list file" + path + " (not a regular file)");
  }
  fs::remove(fifo);
}

TEST_F(IqsynthDataSrcTest, OverlongFormatWordIsRefusedWithoutReadingItAll) {
  // No format word has more than a few letters: a word of megabytes is an unknown
  // word, found after its first characters.
  setBits(1);
  setFile(std::string(8 << 20, 'H') + " 1");
  EXPECT_EQ(errorOf(IqSynthError::Kind::File, 4), IQSYNTH_ERR_FILE_FORMAT);
  setFile("HEXB4");  // the word ends only at white space
  EXPECT_EQ(errorOf(IqSynthError::Kind::File, 4), IQSYNTH_ERR_FILE_FORMAT);
}

TEST_F(IqsynthDataSrcTest, UnknownSourceFails) {
  for (int src : {-1, 5, 100}) {
    cfg->dataSrc = static_cast<iqSynthCfg::DataSrc_t>(src);
    EXPECT_EQ(errorOf(IqSynthError::Kind::Config, 4), IQSYNTH_ERR_DATA_SRC) << src;
    EXPECT_EQ(lastText, " data src type is no exist");
  }
}

TEST_F(IqsynthDataSrcTest, SettingsTheSourcesCannotUseFailWithErrCfgValue) {
  setBits(2);
  setPattern("1", false);
  cfg->usrListSize = 0;
  EXPECT_EQ(errorOf(IqSynthError::Kind::Config, 4), IQSYNTH_ERR_CFG_VALUE);
  EXPECT_THAT(lastText, ::testing::HasSubstr("usrListSize 0")) << lastText;
  cfg->usrListSize = -3;
  EXPECT_EQ(errorOf(IqSynthError::Kind::Config, 4), IQSYNTH_ERR_CFG_VALUE);

  for (int k : {0, 9, 16}) {
    setBits(k);
    setPattern("1", false);
    EXPECT_EQ(errorOf(IqSynthError::Kind::Config, 4), IQSYNTH_ERR_CFG_VALUE) << "pattern k=" << k;
    setFile("BIN 1");
    EXPECT_EQ(errorOf(IqSynthError::Kind::Config, 4), IQSYNTH_ERR_CFG_VALUE) << "file k=" << k;
  }
  setBits(17);
  cfg->dataSrc = iqSynthCfg::DATA_SRC_PRBS;
  cfg->prbs = iqSynthCfg::PRBS9;
  EXPECT_EQ(errorOf(IqSynthError::Kind::Config, 4), IQSYNTH_ERR_CFG_VALUE);

  setBits(1);
  cfg->dataSrc = iqSynthCfg::DATA_SRC_ALL_ONE;
  cfg->overSamplingRate = 0;
  EXPECT_EQ(errorOf(IqSynthError::Kind::Config, 4), IQSYNTH_ERR_CFG_VALUE);
  EXPECT_THAT(lastText, ::testing::HasSubstr("overSamplingRate 0")) << lastText;
}

// ---- PRBS ----

struct PrbsCase {
  int order;
  std::vector<int> taps;  // s(n + order) = s(n) + sum of s(n + t), t in taps (mod 2)
  bool inverted;          // + 1 (XNOR feedback)
  unsigned seed;
};

void PrintTo(const PrbsCase& c, std::ostream* os) { *os << "PRBS" << c.order; }

// Reference bit sequence from the recurrence: the first `order` bits are the
// seed's bits, low bit first (they are shifted out first).
std::vector<int> referenceBits(const PrbsCase& c, std::size_t count) {
  std::vector<int> s;
  for (int i = 0; i < c.order; ++i) {
    s.push_back(static_cast<int>((c.seed >> i) & 1u));
  }
  while (s.size() < count) {
    const std::size_t n = s.size() - static_cast<std::size_t>(c.order);
    int bit = s[n];
    for (int t : c.taps) {
      bit ^= s[n + static_cast<std::size_t>(t)];
    }
    s.push_back(bit ^ (c.inverted ? 1 : 0));
  }
  s.resize(count);
  return s;
}

unsigned (*registerStep(int order))(unsigned&) {
  switch (order) {
    case 9:
      return genPRBS9_11_20_21<9, 4>;
    case 11:
      return genPRBS9_11_20_21<11, 2>;
    case 15:
      return genPRBS15;
    case 16:
      return genPRBS16;
    case 20:
      return genPRBS9_11_20_21<20, 3>;
    case 21:
      return genPRBS9_11_20_21<21, 2>;
    default:
      return genPRBS23;
  }
}

class IqsynthPrbs : public IqsynthDataSrcTest, public ::testing::WithParamInterface<PrbsCase> {};

TEST_P(IqsynthPrbs, RegisterFollowsTheRecurrenceAndHasFullPeriod) {
  const PrbsCase& c = GetParam();
  ASSERT_EQ(prbsSeed(c.order), c.seed);
  const auto step = registerStep(c.order);
  const auto reference = referenceBits(c, 4000);
  unsigned reg = c.seed;
  for (std::size_t i = 0; i < reference.size(); ++i) {
    ASSERT_EQ(static_cast<int>(step(reg)), reference[i]) << "bit " << i;
  }
  // Period 2^n - 1: the register comes back to the seed then and not before;
  // a maximal sequence holds 2^(n-1) ones per period (one fewer for the
  // XNOR registers, whose output is the complement of a maximal sequence).
  const unsigned period = (1u << c.order) - 1u;
  reg = c.seed;
  unsigned ones = 0;
  unsigned firstReturn = 0;
  for (unsigned i = 1; i <= period; ++i) {
    ones += step(reg);
    if (reg == c.seed) {
      firstReturn = i;
      break;
    }
  }
  EXPECT_EQ(firstReturn, period);
  EXPECT_EQ(ones, (1u << (c.order - 1)) - (c.inverted ? 1u : 0u));
}

TEST_P(IqsynthPrbs, SourceBuildsSymbolsMostSignificantBitFirstFromTheSeed) {
  const PrbsCase& c = GetParam();
  cfg->dataSrc = iqSynthCfg::DATA_SRC_PRBS;
  cfg->prbs = static_cast<iqSynthCfg::Prbs_t>(c.order);
  const auto bits = referenceBits(c, 3 * 60);
  setBits(3);
  const auto symbols = run(60);
  for (std::size_t j = 0; j < symbols.size(); ++j) {
    const int want = bits[3 * j] * 4 + bits[3 * j + 1] * 2 + bits[3 * j + 2];
    ASSERT_EQ(symbols[j], want) << "symbol " << j;
  }
  // Every run starts again from the seed.
  EXPECT_EQ(run(60), symbols);
}

// The library's own generator, as a run drives it (runDataSrc with 16-bit symbols),
// over a whole period and one register length more: its bits follow the recurrence of
// the table from the seed, every register state of a period occurs once (so the period
// is 2^n - 1 and no shorter), and a period holds 2^(n-1) ones (one fewer for XNOR).
TEST_P(IqsynthPrbs, SourceRunsAWholePeriodOnTheRecurrence) {
  const PrbsCase& c = GetParam();
  const auto order = static_cast<std::size_t>(c.order);
  const std::size_t period = (std::size_t{1} << order) - 1;
  cfg->dataSrc = iqSynthCfg::DATA_SRC_PRBS;
  cfg->prbs = static_cast<iqSynthCfg::Prbs_t>(c.order);
  setBits(16);
  const auto symbols = run(static_cast<int>((period + order + 15) / 16));
  std::vector<std::uint8_t> bits;
  for (const int symbol : symbols) {
    for (int b = 15; b >= 0; --b) {
      bits.push_back(static_cast<std::uint8_t>((static_cast<unsigned>(symbol) >> b) & 1u));
    }
  }
  ASSERT_GE(bits.size(), period + order);

  for (std::size_t i = 0; i < order; ++i) {
    ASSERT_EQ(unsigned{bits[i]}, (c.seed >> i) & 1u) << "seed bit " << i;
  }
  for (std::size_t n = 0; n + order < bits.size(); ++n) {
    unsigned next = bits[n] ^ (c.inverted ? 1u : 0u);
    for (const int t : c.taps) next ^= bits[n + static_cast<std::size_t>(t)];
    ASSERT_EQ(unsigned{bits[n + order]}, next) << "bit " << n + order;
  }

  std::vector<bool> seen(std::size_t{1} << order, false);
  std::size_t states = 0;
  std::size_t ones = 0;
  std::size_t window = 0;  // bits n .. n + order - 1, bit n lowest: the register
  for (std::size_t i = 0; i < order; ++i) window |= std::size_t{bits[i]} << i;
  for (std::size_t n = 0; n < period; ++n) {
    if (!seen[window]) {
      seen[window] = true;
      ++states;
    }
    ones += bits[n];
    window = (window >> 1) | (std::size_t{bits[n + order]} << (order - 1));
  }
  EXPECT_EQ(states, period);
  EXPECT_EQ(window, c.seed);  // back at the seed after one period
  EXPECT_EQ(ones, (std::size_t{1} << (order - 1)) - (c.inverted ? 1u : 0u));
}

// The registers as the data source describes them (feedback enters at the top bit):
//   PRBS9  b0 ^ b4            s(n+9)  = s(n) + s(n+4)
//   PRBS11 b0 ^ b2            s(n+11) = s(n) + s(n+2)
//   PRBS15 !(b0 ^ b1)         s(n+15) = s(n) + s(n+1) + 1, seed 0x7FFE
//   PRBS16 b0 ^ b2 ^ b3 ^ b5  s(n+16) = s(n) + s(n+2) + s(n+3) + s(n+5)
//   PRBS20 b0 ^ b3            s(n+20) = s(n) + s(n+3)
//   PRBS21 b0 ^ b2            s(n+21) = s(n) + s(n+2)
//   PRBS23 !(b0 ^ b5)         s(n+23) = s(n) + s(n+5) + 1, seed 0x7FFFFE
INSTANTIATE_TEST_SUITE_P(
    DataSrc, IqsynthPrbs,
    ::testing::Values(PrbsCase{9, {4}, false, 1u}, PrbsCase{11, {2}, false, 1u},
                      PrbsCase{15, {1}, true, 0x7FFEu}, PrbsCase{16, {2, 3, 5}, false, 1u},
                      PrbsCase{20, {3}, false, 1u}, PrbsCase{21, {2}, false, 1u},
                      PrbsCase{23, {5}, true, 0x7FFFFEu}),
    [](const auto& info) { return "PRBS" + std::to_string(info.param.order); });

TEST_F(IqsynthDataSrcTest, Prbs9StartsWithTheSeedAndRepeatsAfter511) {
  setBits(1);
  cfg->dataSrc = iqSynthCfg::DATA_SRC_PRBS;
  cfg->prbs = iqSynthCfg::PRBS9;
  const auto symbols = run(1100);
  EXPECT_EQ(std::vector<int>(symbols.begin(), symbols.begin() + 9),
            (std::vector<int>{1, 0, 0, 0, 0, 0, 0, 0, 0}));
  for (std::size_t i = 0; i + 511 < symbols.size(); ++i) {
    ASSERT_EQ(symbols[i], symbols[i + 511]) << i;
  }
}

TEST_F(IqsynthDataSrcTest, Prbs15FirstBitIsZeroAndSymbolsArePrinted) {
  setBits(1);
  cfg->dataSrc = iqSynthCfg::DATA_SRC_PRBS;
  cfg->prbs = iqSynthCfg::PRBS15;
  cfg->sequenceLength = 3;
  std::valarray<short> track(3);
  testing::internal::CaptureStdout();
  runDataSrc(*cfg, track, 0);
  const std::string printed = testing::internal::GetCapturedStdout();
  const std::vector<int> symbols(std::begin(track), std::end(track));
  EXPECT_EQ(symbols[0], 0);
  EXPECT_EQ(printed, "0th is : " + std::to_string(symbols[0]) +
                         "\n1th is : " + std::to_string(symbols[1]) +
                         "\n2th is : " + std::to_string(symbols[2]) + "\n");
}

TEST_F(IqsynthDataSrcTest, UnknownPrbsOrderLeavesTheSymbols) {
  setBits(2);
  cfg->dataSrc = iqSynthCfg::DATA_SRC_PRBS;
  cfg->prbs = static_cast<iqSynthCfg::Prbs_t>(10);
  cfg->sequenceLength = 3;
  std::valarray<short> symbols = {1, 2, 3};
  EXPECT_EQ(runDataSrc(*cfg, symbols, 0), 0);
  EXPECT_EQ(symbols[2], 3);
}

TEST(IqsynthDataSrcTables, LookupTablesHoldTheirEntries) {
  std::size_t entries = 0;
  for (int k = 1; k <= 8; ++k) {
    entries += pBitToDataMapTbl[k - 1]->size();
    EXPECT_EQ(maskMap.at(k), (1 << k) - 1);
  }
  EXPECT_EQ(entries, 510u);
  EXPECT_EQ(bitToDataMap8.at("11111111"), 255);
  EXPECT_EQ(bitToDataMap8.at("10000000"), 128);
  EXPECT_EQ(bitToDataMap3.at("011"), 3);
  EXPECT_EQ(charToIntMap.size(), 22u);
  EXPECT_EQ(hexDigitValue('F'), 15);
  EXPECT_EQ(hexDigitValue('a'), 10);
  EXPECT_EQ(hexDigitValue('g'), 0);
  EXPECT_EQ(bitStringValue("102", 3), 0);
}

}  // namespace
