// The run driver as a host uses it: setters, runIqSynth into host arrays, the
// read-back getters and the run log. Output lengths, normalisation, the OQPSK
// delay, quantisation, statuses and "nothing written on failure"; a fixed-seed noise run
// against GSL's own generator, levels that overflow, and whole runs from two threads.
#include <gmock/gmock.h>
#include <gsl/gsl_randist.h>
#include <gsl/gsl_rng.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <complex>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <numbers>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "awgn.h"
#include "cdmModulation.h"
#include "global_log.h"
#include "gsl_noise.h"
#include "iqSynthCfg.h"
#include "iqSynthLog.h"
#include "iqSynthRun.h"
#include "iqsynth.h"
#include "scoped_env.h"

using namespace arbsuite::iqsynth;  // the library's internals under test

namespace {

constexpr short kSentinel = 0x5A5A;
constexpr double kFullScale = 8192.0;
constexpr double kPeak = 0.9 * kFullScale;  // 7372.8
// Envelope error of two floor-quantised components: below sqrt(2) steps.
constexpr double kEnvelopeTolerance = 1.5;

struct HostArrays {
  std::vector<short> i, q;
  explicit HostArrays(std::size_t room) : i(room, kSentinel), q(room, kSentinel) {}
  int run() { return runIqSynth(i.data(), q.data()); }
  // Number of leading entries the run wrote (the rest still hold the sentinel).
  bool untouchedFrom(std::size_t from) const {
    return std::all_of(i.begin() + from, i.end(), [](short v) { return v == kSentinel; }) &&
           std::all_of(q.begin() + from, q.end(), [](short v) { return v == kSentinel; });
  }
  double envelope(std::size_t k) const { return std::hypot(double(i[k]), double(q[k])); }
  double peakEnvelope(std::size_t n) const {
    double peak = 0.0;
    for (std::size_t k = 0; k < n; ++k) {
      peak = std::max(peak, envelope(k));
    }
    return peak;
  }
};

// Host-side settings of a plain digital run; every test starts from these.
void setDigital(int type, int symbols, int osr, int filterLength) {
  setWorkingMode(iqSynthCfg::WORKING_MODE_DIGITAL);
  setDigiModulatingType(type);
  setSequenceLenth(symbols);
  setOverSamplingRate(osr);
  setFilterLengh(filterLength);
  setShapingFilterType(iqSynthCfg::FILTER_ROOT_RAISED_COSINE);
  setAlphaBt(0.35);
  setSymbolRate(1e6);
  setCodingType(iqSynthCfg::CODING_NONE);
  setDataSrc(iqSynthCfg::DATA_SRC_PRBS);
  setPrbs(iqSynthCfg::PRBS9);
  setMaxAskDepth(1.0);
  setMaxFskDev(250e3);
}

class IqsynthRunIqSynthTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setPowerRampEnable(false);
    setPowerRampItem(0);
    setSigAddNoiseIsEnable(0);
    setDigital(iqSynthCfg::MOD_QPSK, 10, 4, 8);
  }
  void TearDown() override { setGslRngAllocForTesting(nullptr); }
};

std::string readLog() {
  std::ifstream in("iqSynthRun.log");
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// 14-bit value of a normalised sample, written out from the quantisation rule.
short expectedSample(double x) {
  double product = std::trunc(x * 32768.0);
  product = std::clamp(product, -32768.0, 32767.0);
  return static_cast<short>(static_cast<int>(std::floor(product / 4.0)));
}

TEST_F(IqsynthRunIqSynthTest, DigitalRunIsTheNormalisedDataWindow) {
  // The pipeline on its own gives the full tracks with a lead-in of F x R = 32.
  setDigital(iqSynthCfg::MOD_QPSK, 10, 4, 8);
  gIqSynthCfg.sampleLength = 40;
  runCDMModulation(gIqSynthCfg, {iMapDat, qMapDat, mapDat});
  ASSERT_EQ(iMapDat.size(), 72u);
  const std::valarray<double> fullI = iMapDat, fullQ = qMapDat;

  HostArrays host(48);
  ASSERT_EQ(host.run(), 0);
  EXPECT_TRUE(host.untouchedFrom(40));
  EXPECT_EQ(iMapDat.size(), 0u);  // the tracks are released at the end

  double peak = 0.0;
  for (std::size_t k = 32; k < 72; ++k) {
    peak = std::max(peak, std::hypot(fullI[k], fullQ[k]));
  }
  for (std::size_t k = 0; k < 40; ++k) {
    EXPECT_EQ(host.i[k], expectedSample(fullI[32 + k] * 0.9 / peak)) << k;
    EXPECT_EQ(host.q[k], expectedSample(fullQ[32 + k] * 0.9 / peak)) << k;
  }
}

// Runs without power ramping and noise shape their window from the symbols a block at a time;
// the host's samples and the maxima of the log are those of the full tracks the pipeline
// builds, normalised by their largest envelope and quantised sample by sample.
struct WindowRunCase {
  const char* name;
  int type;
  int filter;
  int S, L, symbols;
  double askDepth;
};

void PrintTo(const WindowRunCase& c, std::ostream* os) { *os << c.name; }

class IqsynthWindowRunTest : public IqsynthRunIqSynthTest,
                             public ::testing::WithParamInterface<WindowRunCase> {};

TEST_P(IqsynthWindowRunTest, SamplesAndMaximaAreThoseOfTheTracks) {
  const WindowRunCase c = GetParam();
  setDigital(c.type, c.symbols, c.S, c.L);
  setShapingFilterType(c.filter);
  setMaxAskDepth(c.askDepth);
  if (modFamilyOf(c.type) == iqSynthCfg::MOD_FAMILY_USER) {
    const double map[8] = {1, 1, -1, 1, -1, -1, 1, -1};
    setUsrModulatingSymbolItem(4);
    setUsrModulatingConstelMap(map);
  }
  const std::size_t n = static_cast<std::size_t>(c.symbols) * static_cast<std::size_t>(c.S);
  const std::size_t lead = static_cast<std::size_t>(c.L) * static_cast<std::size_t>(c.S);
  runCDMModulation(gIqSynthCfg, {iMapDat, qMapDat, mapDat});
  ASSERT_EQ(iMapDat.size(), lead + n);
  const std::valarray<double> fullI = iMapDat, fullQ = qMapDat;

  double peakPower = 0.0;
  for (std::size_t k = lead; k < lead + n; ++k) {
    peakPower = std::max(peakPower, fullI[k] * fullI[k] + fullQ[k] * fullQ[k]);
  }
  double divisor = std::sqrt(peakPower) / 0.9;
  if (c.type == iqSynthCfg::MOD_ASK) {
    divisor /= c.askDepth;
  }
  const std::size_t delay = c.type == iqSynthCfg::MOD_OQPSK ? static_cast<std::size_t>(c.S / 2) : 0;
  std::vector<short> wantI(n), wantQ(n);
  double maxI = -std::numeric_limits<double>::infinity(), maxQ = maxI;
  for (std::size_t k = 0; k < n; ++k) {
    const double x = fullI[lead + k] / divisor;
    const double y = fullQ[lead + (k + n - delay) % n] / divisor;
    wantI[k] = quantiseSample(x);
    wantQ[k] = quantiseSample(y);
    maxI = std::max(maxI, x);
    maxQ = std::max(maxQ, y);
  }

  const std::size_t before = readLog().size();
  HostArrays host(n + 8);
  ASSERT_EQ(host.run(), 0);
  EXPECT_TRUE(host.untouchedFrom(n));
  EXPECT_EQ(iMapDat.size(), 0u);
  EXPECT_EQ(qMapDat.size(), 0u);
  for (std::size_t k = 0; k < n; ++k) {
    ASSERT_EQ(host.i[k], wantI[k]) << k;
    ASSERT_EQ(host.q[k], wantQ[k]) << k;
  }
  const std::string log = readLog().substr(before);
  EXPECT_THAT(log, ::testing::HasSubstr("\nidat max is " + to_string(maxI) + "\nqdat max is " +
                                        to_string(maxQ) + "\n"));
}

constexpr int kRrcFilter = iqSynthCfg::FILTER_ROOT_RAISED_COSINE;

INSTANTIATE_TEST_SUITE_P(
    Runs, IqsynthWindowRunTest,
    ::testing::Values(
        WindowRunCase{"QpskS8L16", iqSynthCfg::MOD_QPSK, kRrcFilter, 8, 16, 1500, 1.0},
        WindowRunCase{"OqpskOddS7", iqSynthCfg::MOD_OQPSK, kRrcFilter, 7, 5, 301, 1.0},
        WindowRunCase{"OqpskS8", iqSynthCfg::MOD_OQPSK, kRrcFilter, 8, 8, 300, 1.0},
        WindowRunCase{"AskDepth", iqSynthCfg::MOD_ASK, kRrcFilter, 8, 6, 200, 0.6},
        WindowRunCase{"Qam64S3", iqSynthCfg::MOD_QAM64, iqSynthCfg::FILTER_RAISED_COSINE, 3, 7, 500,
                      1.0},
        WindowRunCase{"Psk8S32", iqSynthCfg::MOD_8PSK, kRrcFilter, 32, 4, 100, 1.0},
        WindowRunCase{"EdgeGaussLinear", iqSynthCfg::MOD_EDGE_8PSK,
                      iqSynthCfg::FILTER_GAUSSIAN_LINEARIZED, 4, 5, 300, 1.0},
        WindowRunCase{"UserRect", iqSynthCfg::MOD_USER, iqSynthCfg::FILTER_RECT, 8, 1, 200, 1.0},
        // One sample per symbol: the tracks are built and filtered whole.
        WindowRunCase{"QpskS1", iqSynthCfg::MOD_QPSK, kRrcFilter, 1, 16, 400, 1.0}),
    [](const ::testing::TestParamInfo<WindowRunCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(IqsynthRunIqSynthTest, AllZeroAskGivesZeros) {
  setDigital(iqSynthCfg::MOD_ASK, 16, 4, 4);
  setDataSrc(iqSynthCfg::DATA_SRC_ALL_ZERO);
  for (double depth : {1.0, 0.0}) {  // depth 0 makes the divided peak 0/0
    setMaxAskDepth(depth);
    HostArrays host(64);
    ASSERT_EQ(host.run(), 0);
    EXPECT_TRUE(std::all_of(host.i.begin(), host.i.end(), [](short v) { return v == 0; }));
    EXPECT_TRUE(std::all_of(host.q.begin(), host.q.end(), [](short v) { return v == 0; }));
  }
}

TEST_F(IqsynthRunIqSynthTest, AskDepthScalesThePeak) {
  setDigital(iqSynthCfg::MOD_ASK, 64, 4, 8);
  setMaxAskDepth(0.0);
  HostArrays zero(256);
  ASSERT_EQ(zero.run(), 0);
  EXPECT_EQ(zero.peakEnvelope(256), 0.0);

  setMaxAskDepth(0.5);
  HostArrays half(256);
  ASSERT_EQ(half.run(), 0);
  EXPECT_NEAR(half.peakEnvelope(256), 0.45 * kFullScale, kEnvelopeTolerance);

  // Depth 2: the envelope reaches 1.8 of full scale and saturates.
  setMaxAskDepth(2.0);
  HostArrays over(256);
  ASSERT_EQ(over.run(), 0);
  EXPECT_EQ(*std::max_element(over.i.begin(), over.i.end()), 8191);
  for (short v : over.i) {
    EXPECT_GE(v, -8192);
  }
}

TEST_F(IqsynthRunIqSynthTest, FskHasConstantEnvelope) {
  for (int type : {iqSynthCfg::MOD_FSK2, iqSynthCfg::MOD_FSK4, iqSynthCfg::MOD_FSK16}) {
    setDigital(type, 32, 8, 4);
    setShapingFilterType(iqSynthCfg::FILTER_GAUSSIAN_FSK);
    setAlphaBt(0.5);
    HostArrays host(256);
    ASSERT_EQ(host.run(), 0) << type;
    for (std::size_t k = 0; k < 256; ++k) {
      ASSERT_NEAR(host.envelope(k), kPeak, kEnvelopeTolerance)
          << "type " << type << " sample " << k;
    }
  }
}

TEST_F(IqsynthRunIqSynthTest, OqpskDelaysQByHalfASymbol) {
  for (int osr : {5, 1, 8}) {
    setDigital(iqSynthCfg::MOD_QPSK, 20, osr, 4);
    const std::size_t n = 20u * osr;
    HostArrays qpsk(n);
    ASSERT_EQ(qpsk.run(), 0);
    // OQPSK maps with the QPSK table; only the delay of Q differs.
    setDigiModulatingType(iqSynthCfg::MOD_OQPSK);
    HostArrays oqpsk(n);
    ASSERT_EQ(oqpsk.run(), 0);
    const std::size_t d = static_cast<std::size_t>(osr / 2);
    for (std::size_t k = 0; k < n; ++k) {
      EXPECT_EQ(oqpsk.i[k], qpsk.i[k]) << "R " << osr << " sample " << k;
      EXPECT_EQ(oqpsk.q[k], qpsk.q[(k + n - d) % n]) << "R " << osr << " sample " << k;
    }
  }
}

struct QuantCase {
  double value;    // wanted I value after normalisation
  double depth;    // ASK depth: envelope 0.9 x depth
  short expected;  // 14-bit I
};

void PrintTo(const QuantCase& c, std::ostream* os) { *os << c.value << " at depth " << c.depth; }

class IqsynthQuantiseTest : public IqsynthRunIqSynthTest,
                            public ::testing::WithParamInterface<QuantCase> {};

// One carrier at 0 Hz gives a constant sample; its phase picks the I value.
// The ASK type scales the envelope beyond full scale when the depth exceeds 1/0.9.
TEST_P(IqsynthQuantiseTest, FourteenBitSamples) {
  const QuantCase c = GetParam();
  const double envelope = 0.9 * c.depth;
  setWorkingMode(iqSynthCfg::WORKING_MODE_MCCW);
  setDigiModulatingType(iqSynthCfg::MOD_ASK);
  setMaxAskDepth(c.depth);
  setMccwCarrierItem(1);
  setMccwCarrierSpacing(1e6);
  const char on = 1;
  const double level = 0.0;
  const double phase = std::acos(std::clamp(c.value / envelope, -1.0, 1.0));
  setMccwCarrierEn(&on);
  setMccwCarrierSAmp(&level);
  setMccwCarrierPhase(&phase);
  setMccwOptCrestFactorEn(0);
  runMccwCarrierParamGen();
  ASSERT_EQ(getMccwCarrierSample(), 8);
  HostArrays host(8);
  ASSERT_EQ(host.run(), 0);
  for (std::size_t k = 0; k < 8; ++k) {
    EXPECT_EQ(host.i[k], c.expected) << c.value;
  }
}

INSTANTIATE_TEST_SUITE_P(Values, IqsynthQuantiseTest,
                         ::testing::Values(QuantCase{-0.5, 1.0, -4096}, QuantCase{0.5, 1.0, 4096},
                                           QuantCase{-0.00001, 1.0, 0}, QuantCase{0.00001, 1.0, 0},
                                           QuantCase{0.9, 1.0, 7372}, QuantCase{-0.9, 1.0, -7373},
                                           QuantCase{1.0, 1.0 / 0.9, 8191},
                                           QuantCase{1.5, 2.0, 8191},
                                           QuantCase{-1.0, 1.0 / 0.9, -8192},
                                           QuantCase{-1.7, 2.0, -8192}));

// The quantiser of whole tracks (two samples at a time where the processor allows) gives
// what the one-sample rule gives, with and without the envelope division, odd counts too.
TEST(IqsynthQuantiser, TrackQuantiserEqualsTheSampleRule) {
  std::vector<double> values = {0.0,
                                -0.0,
                                1.0,
                                -1.0,
                                0.99999,
                                -0.99999,
                                32766.5 / 32768.0,
                                32767.0 / 32768.0,
                                -32767.5 / 32768.0,
                                -32768.5 / 32768.0,
                                HUGE_VAL,
                                -HUGE_VAL,
                                std::nan(""),
                                -std::nan(""),
                                std::numeric_limits<double>::denorm_min(),
                                -0.00001,
                                -0.0001,
                                5e-324,
                                1e300,
                                -1e300};
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> wide(-1.3, 1.3);
  for (int k = 0; k < 5001; ++k) {
    values.push_back(wide(rng));
  }
  for (const double divisor : {1.0, 0.9, 3.7, -2.5, 1e-300, HUGE_VAL, std::nan("")}) {
    for (const bool divide : {false, true}) {
      std::vector<short> out(values.size() + 1, kSentinel);
      quantiseSamples(values.data(), values.size(), divide, divisor, out.data());
      for (std::size_t k = 0; k < values.size(); ++k) {
        const double x = divide ? values[k] / divisor : values[k];
        ASSERT_EQ(out[k], quantiseSample(x)) << values[k] << " / " << divisor;
      }
      EXPECT_EQ(out.back(), kSentinel);  // nothing past the count
    }
  }
}

TEST(IqsynthQuantiser, TruncatesSaturatesAndDropsNaN) {
  EXPECT_EQ(quantiseSample(-0.5), -4096);
  EXPECT_EQ(quantiseSample(-0.00001), 0);  // truncation toward zero before the shift
  EXPECT_EQ(quantiseSample(-0.0001), -1);  // -3 before the shift, floor(-3/4)
  EXPECT_EQ(quantiseSample(0.9), 7372);
  EXPECT_EQ(quantiseSample(0.99999), 8191);
  EXPECT_EQ(quantiseSample(1.0), 8191);  // saturates instead of wrapping to -8192
  EXPECT_EQ(quantiseSample(1.8), 8191);
  EXPECT_EQ(quantiseSample(HUGE_VAL), 8191);
  EXPECT_EQ(quantiseSample(-1.0), -8192);
  EXPECT_EQ(quantiseSample(-1.5), -8192);
  EXPECT_EQ(quantiseSample(-HUGE_VAL), -8192);
  EXPECT_EQ(quantiseSample(std::nan("")), 0);
  for (int k = -32768; k <= 32767; k += 7) {
    const double x = (k + 0.5) / 32768.0;
    ASSERT_EQ(quantiseSample(x), expectedSample(x)) << x;
  }
}

TEST_F(IqsynthRunIqSynthTest, ModeThatProducesNothingWritesNothing) {
  // Even after a run that failed with its tracks still full.
  setPowerRampEnable(true);
  setPowerRampItem(1);
  const int start = 2;
  const double level = -6.0;
  setPowerRampStartSymbol(&start);
  setPowerRampAttenuation(&level);
  setPowerRampTime(1.0);
  setPowerRampFunc(4);
  HostArrays failed(40);
  EXPECT_EQ(failed.run(), -0x40004);
  EXPECT_TRUE(failed.untouchedFrom(0));

  setPowerRampEnable(false);
  for (int mode : {0, 2, 7}) {
    setWorkingMode(mode);
    HostArrays host(40);
    EXPECT_EQ(host.run(), 0) << mode;
    EXPECT_TRUE(host.untouchedFrom(0)) << mode;
  }
}

TEST_F(IqsynthRunIqSynthTest, UnknownModulationFailsWithoutWriting) {
  setDigiModulatingType(0x10002);
  HostArrays host(40);
  EXPECT_EQ(host.run(), -262146);
  EXPECT_TRUE(host.untouchedFrom(0));
}

// The one place errors become numbers: each kind gives the status the host has always seen
// (the numbers of iqsynth.h written out), and a failed allocation is known by its kind alone.
TEST(IqsynthRunStatusOf, EachKindGivesItsStatus) {
  using Kind = IqSynthError::Kind;
  struct Case {
    Kind kind;
    int errNo;
    int status;
  };
  const Case cases[] = {
      {Kind::Config, 0x40001, -0x40001},  // filter type
      {Kind::Config, 0x40002, -0x40002},  // modulation type
      {Kind::Config, 0x40005, -0x40005},  // value
      {Kind::Awgn, 0xF000 | 2, -61442},   // noise base ORed with the routine's code
      {Kind::File, 0x20001, -0x20001},    // data list cannot be opened
      {Kind::File, 0x20002, -0x20002},    // data list format
      {Kind::MemAlloc, 0x10001, -65537},
      {Kind::MemAlloc, 0, -65537},  // the kind decides, not a stray number
  };
  for (const Case& c : cases) {
    EXPECT_EQ(runStatusOf(IqSynthError(c.kind, c.errNo, "text")), c.status)
        << static_cast<int>(c.kind) << " " << c.errNo;
  }
  EXPECT_EQ(runStatusOf(IqSynthError::memAlloc("resize x is error in y at 1")), -65537);
}

// Exceptions thrown from inside a run through the noise generator seam; IqSynthError stands for
// a failed allocation.
template <typename E>
gsl_rng* throwingAlloc(const gsl_rng_type*) {
  if constexpr (std::is_same_v<E, IqSynthError>) {
    throw IqSynthError::memAlloc("resize test array is error in test at 1");
  } else if constexpr (std::is_same_v<E, int>) {
    throw 42;
  } else {
    throw E("thrown by the test");
  }
}
gsl_rng* refusingAlloc(const gsl_rng_type*) { return nullptr; }

TEST_F(IqsynthRunIqSynthTest, StatusOfEachFailure) {
  struct Case {
    const char* what;
    int status;
  };
  auto expectStatus = [](const Case& c) {
    HostArrays host(40);
    EXPECT_EQ(host.run(), c.status) << c.what;
    EXPECT_EQ(host.untouchedFrom(0), c.status != 0) << c.what;
  };

  setShapingFilterType(1);
  expectStatus({"filter type", -0x40001});
  setShapingFilterType(iqSynthCfg::FILTER_ROOT_RAISED_COSINE);

  setDataSrc(9);
  expectStatus({"data source", -0x40003});
  setDataSrc(iqSynthCfg::DATA_SRC_FILE);
  setDataFileList("no such directory/no such list.txt");
  expectStatus({"data list file", -0x20001});
  setDataSrc(iqSynthCfg::DATA_SRC_PRBS);

  setPowerRampEnable(true);
  setPowerRampItem(0);
  setPowerRampFunc(0);
  expectStatus({"no ramp entry, so no shape is needed", 0});
  setPowerRampItem(33);
  expectStatus({"ramp table size", -0x40005});
  setPowerRampEnable(false);

  setSigAddNoiseIsEnable(1);
  setNoiseSystemBandwidth(2e5);
  setBandWidthRatio(2.0);
  setNoiseCNR(20.0);
  setGslRngAllocForTesting(&refusingAlloc);
  expectStatus({"noise generator", -61442});
  setGslRngAllocForTesting(&throwingAlloc<IqSynthError>);
  expectStatus({"allocation", -65537});
  setGslRngAllocForTesting(&throwingAlloc<std::invalid_argument>);
  expectStatus({"invalid argument", -16});
  setGslRngAllocForTesting(&throwingAlloc<std::runtime_error>);
  expectStatus({"other exception", -655361});
  setGslRngAllocForTesting(&throwingAlloc<int>);
  expectStatus({"not an exception class", -655361});
  setGslRngAllocForTesting(nullptr);

  setSymbolRate(0.0);
  expectStatus({"noise sample rate", -0x40005});
}

TEST_F(IqsynthRunIqSynthTest, FailedRunIsLoggedOnDiskWhenItReturns) {
  setPowerRampEnable(true);
  setPowerRampItem(1);
  const int start = 1;
  const double level = -3.0;
  setPowerRampStartSymbol(&start);
  setPowerRampAttenuation(&level);
  setPowerRampTime(1.0);
  setPowerRampFunc(0);
  HostArrays host(40);
  ASSERT_EQ(host.run(), -0x40004);
  const std::string log = readLog();  // no flush by the test: the run flushed
  const std::string tail = "Unknown power ramping mode\n";
  ASSERT_GE(log.size(), tail.size());
  EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
}

TEST_F(IqsynthRunIqSynthTest, LogHasOneLinePerOutputSample) {
  setDigital(iqSynthCfg::MOD_QPSK, 10, 4, 8);
  HostArrays host(40);
  const std::size_t before = readLog().size();
  ASSERT_EQ(host.run(), 0);
  const std::string log = readLog().substr(before);

  std::string expectedI = "the output pIDat is : at line ";
  EXPECT_THAT(log, ::testing::HasSubstr(expectedI));
  for (std::size_t k = 0; k < 40; ++k) {
    const std::string lineI =
        "\n" + std::to_string(k) + "th pIDat is " + std::to_string(host.i[k]) + "\n";
    const std::string lineQ =
        "\n" + std::to_string(k) + "th pQDat is " + std::to_string(host.q[k]) + "\n";
    EXPECT_THAT(log, ::testing::HasSubstr(lineI)) << lineI;
    EXPECT_THAT(log, ::testing::HasSubstr(lineQ)) << lineQ;
  }
  EXPECT_THAT(log, ::testing::Not(::testing::HasSubstr("\n40th pIDat is ")));
  EXPECT_THAT(log,
              ::testing::HasSubstr(
                  "INFO : Running to end \nprint constelMap\n run here  list size is 4\n0th is ("));
  std::vector<char> flags(256);
  getSymbolMap(flags.data(), 256);
  for (int k = 0; k < 256; ++k) {
    const std::string line =
        "\n" + std::to_string(k) + "th mapbuf is " + std::to_string(int(flags[k])) + "\n";
    EXPECT_THAT(log, ::testing::HasSubstr(line)) << line;
  }
  EXPECT_THAT(log, ::testing::HasSubstr("\n255th mapbuf is "));
  EXPECT_EQ(log.back(), '\n');
}

TEST_F(IqsynthRunIqSynthTest, NoiseLevelsOfADigitalRun) {
  setDigital(iqSynthCfg::MOD_8PSK, 300, 8, 8);  // 2400 samples: band-limited noise
  setSigAddNoiseIsEnable(1);
  setNoiseSystemBandwidth(1e6);
  setBandWidthRatio(2.0);
  setNoiseCNR(20.0);
  HostArrays host(2400);
  ASSERT_EQ(host.run(), 0);
  EXPECT_NEAR(host.peakEnvelope(2400), kPeak, kEnvelopeTolerance);
  EXPECT_DOUBLE_EQ(getNoiseBandWidth(), 2e6 + 0.0001 * (8e6 - 2e6));
  EXPECT_NEAR(getNoiseLvlSysBW(), getCarrierLvldB() - 20.0, 1e-9);
  EXPECT_NEAR(getNoiseLvlTotalBW(),
              getNoiseLvlSysBW() + 10.0 * std::log10(getNoiseBandWidth() / 1e6), 1e-9);
  EXPECT_EQ(getSigLvlPep(), 0.0);
  EXPECT_LT(getCarrierLvldB(), 0.0);
  EXPECT_LT(getSigLvldB(), 0.0);
}

TEST_F(IqsynthRunIqSynthTest, NoiseOnlyMode) {
  setWorkingMode(iqSynthCfg::WORKING_MODE_AWGN);
  setNoiseSeqLength(3000);
  setNoiseSampleRate(4e6);
  setNoiseSystemBandwidth(5e5);
  setBandWidthRatio(2.0);
  HostArrays host(3100);
  ASSERT_EQ(host.run(), 0);
  EXPECT_TRUE(host.untouchedFrom(3000));
  EXPECT_NEAR(host.peakEnvelope(3000), kPeak, kEnvelopeTolerance);
  EXPECT_EQ(getSigLvlPep(), 0.0);
  EXPECT_NEAR(getNoiseLvlSysBW(),
              getNoiseLvlTotalBW() + 10.0 * std::log10(5e5 / getNoiseBandWidth()), 1e-9);

  setNoiseSeqLength(0);
  HostArrays none(10);
  EXPECT_EQ(none.run(), -0x40005);
  EXPECT_TRUE(none.untouchedFrom(0));
}

TEST_F(IqsynthRunIqSynthTest, StaleSampleLengthStaysWithinTheTracks) {
  // A long digital run leaves sampleLength at 4000; the noise-only run that
  // follows holds 100 samples, with ramping and added noise on.
  setDigital(iqSynthCfg::MOD_QPSK, 500, 8, 4);
  HostArrays first(4000);
  ASSERT_EQ(first.run(), 0);
  setWorkingMode(iqSynthCfg::WORKING_MODE_AWGN);
  setNoiseSeqLength(100);
  setNoiseSampleRate(1e6);
  setNoiseSystemBandwidth(1e5);
  setBandWidthRatio(2.0);
  setNoiseCNR(10.0);
  setSigAddNoiseIsEnable(1);
  setPowerRampEnable(true);
  setPowerRampFunc(iqSynthCfg::RAMP_LINEAR);
  setPowerRampTime(2.0);
  setPowerRampItem(2);
  const int starts[] = {10, 300};
  const double levels[] = {-6.0, 0.0};
  setPowerRampStartSymbol(starts);
  setPowerRampAttenuation(levels);
  HostArrays host(120);
  ASSERT_EQ(host.run(), 0);
  EXPECT_TRUE(host.untouchedFrom(100));
}

TEST_F(IqsynthRunIqSynthTest, MultiCarrierRun) {
  setWorkingMode(iqSynthCfg::WORKING_MODE_MCCW);
  setMccwCarrierItem(4);
  setMccwCarrierSpacing(1e6);
  const char on[4] = {1, 1, 1, 1};
  const double levels[4] = {0, -3, -6, 0};
  const double phases[4] = {0.1, 0.2, 0.3, 0.4};
  setMccwCarrierEn(on);
  setMccwCarrierSAmp(levels);
  setMccwCarrierPhase(phases);
  runMccwCarrierParamGen();
  ASSERT_EQ(getMccwCarrierSample(), 32);
  EXPECT_DOUBLE_EQ(getMccwCarrierSampleFreq(), 16e6);
  HostArrays host(40);
  ASSERT_EQ(host.run(), 0);
  EXPECT_TRUE(host.untouchedFrom(32));
  EXPECT_NEAR(host.peakEnvelope(32), kPeak, kEnvelopeTolerance);
}

TEST_F(IqsynthRunIqSynthTest, MultiCarrierSettingsThatCannotBeHonoured) {
  setWorkingMode(iqSynthCfg::WORKING_MODE_MCCW);
  const std::pair<int, double> cases[] = {{0, 1e6}, {8193, 1e6}, {4, std::nan("")}, {4, -1.0}};
  for (const auto& [carriers, spacing] : cases) {
    setMccwCarrierItem(carriers);
    setMccwCarrierSpacing(spacing);
    runMccwCarrierParamGen();
    EXPECT_EQ(getMccwCarrierSample(), 0);
    HostArrays host(40);
    EXPECT_EQ(host.run(), -0x40005) << carriers << " carriers";
    EXPECT_TRUE(host.untouchedFrom(0));
  }
}

struct FamilyCase {
  const char* name;
  int type;
  int filter;
  int points;  // constellation list size
};

void PrintTo(const FamilyCase& c, std::ostream* os) { *os << c.name; }

class IqsynthFamilyRunTest : public IqsynthRunIqSynthTest,
                             public ::testing::WithParamInterface<FamilyCase> {};

TEST_P(IqsynthFamilyRunTest, FullDigitalRun) {
  const FamilyCase c = GetParam();
  const int symbols = 128, osr = 4;
  const std::size_t n = static_cast<std::size_t>(symbols * osr);
  setDigital(c.type, symbols, osr, 8);
  setShapingFilterType(c.filter);
  setAlphaBt(c.filter == iqSynthCfg::FILTER_GAUSSIAN_FSK ? 0.5 : 0.35);
  if (modFamilyOf(c.type) == iqSynthCfg::MOD_FAMILY_USER) {
    const double map[8] = {1, 1, -1, 1, -1, -1, 1, -1};
    setUsrModulatingSymbolItem(4);
    setUsrModulatingConstelMap(map);
  }
  HostArrays host(n + 16);
  ASSERT_EQ(host.run(), 0);
  EXPECT_TRUE(host.untouchedFrom(n));

  double peak = host.peakEnvelope(n);
  if (c.type == iqSynthCfg::MOD_OQPSK) {
    // The envelope is normalised before Q is delayed by R/2 samples.
    peak = 0.0;
    for (std::size_t k = 0; k < n; ++k) {
      peak = std::max(peak, std::hypot(double(host.i[k]), double(host.q[(k + osr / 2) % n])));
    }
  }
  EXPECT_NEAR(peak, kPeak, kEnvelopeTolerance);

  std::vector<double> points(512);
  EXPECT_EQ(getConstelMap(points.data()), c.points);
  std::vector<char> flags(256);
  getSymbolMap(flags.data(), 256);
  int set = 0;
  for (int k = 0; k < 256; ++k) {
    EXPECT_TRUE(flags[k] == 0 || flags[k] == 1) << k;
    if (flags[k] != 0) {
      EXPECT_LT(k, c.points) << "flag beyond the constellation";
      ++set;
    }
  }
  EXPECT_GE(set, 2);
  if (c.points <= 4) {
    EXPECT_EQ(set, c.points);  // 128 PRBS symbols visit every point of a small alphabet
  }
}

constexpr int kRrc = iqSynthCfg::FILTER_ROOT_RAISED_COSINE;
constexpr int kGaussFsk = iqSynthCfg::FILTER_GAUSSIAN_FSK;

INSTANTIATE_TEST_SUITE_P(
    Families, IqsynthFamilyRunTest,
    ::testing::Values(FamilyCase{"QAM16", iqSynthCfg::MOD_QAM16, kRrc, 16},
                      FamilyCase{"QAM32", iqSynthCfg::MOD_QAM32, kRrc, 32},
                      FamilyCase{"QAM64", iqSynthCfg::MOD_QAM64, kRrc, 64},
                      FamilyCase{"QAM128", iqSynthCfg::MOD_QAM128, kRrc, 128},
                      FamilyCase{"QAM256", iqSynthCfg::MOD_QAM256, kRrc, 256},
                      FamilyCase{"BPSK", iqSynthCfg::MOD_BPSK, kRrc, 2},
                      FamilyCase{"QPSK", iqSynthCfg::MOD_QPSK, kRrc, 4},
                      FamilyCase{"PSK8", iqSynthCfg::MOD_8PSK, kRrc, 8},
                      FamilyCase{"OQPSK", iqSynthCfg::MOD_OQPSK, kRrc, 4},
                      FamilyCase{"ASK", iqSynthCfg::MOD_ASK, kRrc, 2},
                      FamilyCase{"EDGE", iqSynthCfg::MOD_EDGE_8PSK, kRrc, 16},
                      FamilyCase{"FSK2", iqSynthCfg::MOD_FSK2, kGaussFsk, 2},
                      FamilyCase{"FSK4", iqSynthCfg::MOD_FSK4, kGaussFsk, 4},
                      FamilyCase{"FSK8", iqSynthCfg::MOD_FSK8, kGaussFsk, 8},
                      FamilyCase{"FSK16", iqSynthCfg::MOD_FSK16, kGaussFsk, 16},
                      FamilyCase{"PI4DQPSK", iqSynthCfg::MOD_PI4_DQPSK, kRrc, 8},
                      FamilyCase{"PI8D8PSK", iqSynthCfg::MOD_PI8_D8PSK, kRrc, 16},
                      FamilyCase{"USER4", iqSynthCfg::MOD_USER, kRrc, 4}),
    [](const ::testing::TestParamInfo<FamilyCase>& info) { return std::string(info.param.name); });

// ---- Fixed-seed noise ------------------------------------------------------------------

// A white noise-only run with GSL_RNG_SEED = s: I from GSL's generator seeded 4s, Q from 4s + 1,
// both of deviation 3.4076, normalised to an envelope peak of 0.9 and quantised.
TEST_F(IqsynthRunIqSynthTest, FixedSeedNoiseOnlyRunIsGslsNoiseNormalisedAndQuantised) {
  const unsigned long s = 31337;
  const ScopedEnv seed("GSL_RNG_SEED", std::to_string(s));
  const std::size_t n = 1500;
  setWorkingMode(iqSynthCfg::WORKING_MODE_AWGN);
  setNoiseSeqLength(static_cast<int>(n));
  setNoiseSampleRate(2e6);
  setNoiseSystemBandwidth(2e5);
  setBandWidthRatio(2.0);
  const std::size_t logBefore = readLog().size();
  HostArrays host(n);
  ASSERT_EQ(host.run(), 0);

  const std::vector<double> noiseI = gslGaussian(n, 3.4076, 4 * s);
  const std::vector<double> noiseQ = gslGaussian(n, 3.4076, 4 * s + 1);
  double peak = 0.0;
  for (std::size_t k = 0; k < n; ++k) {
    peak = std::max(peak, std::sqrt(noiseI[k] * noiseI[k] + noiseQ[k] * noiseQ[k]));
  }
  peak /= 0.9;
  for (std::size_t k = 0; k < n; ++k) {
    ASSERT_EQ(host.i[k], expectedSample(noiseI[k] / peak)) << k;
    ASSERT_EQ(host.q[k], expectedSample(noiseQ[k] / peak)) << k;
  }
  EXPECT_NE(readLog().find("\nINFO : noise seed is 31337 (from GSL_RNG_SEED)\n", logBefore),
            std::string::npos);
}

TEST_F(IqsynthRunIqSynthTest, UnusableSeedFailsRunsThatMakeNoiseOnly) {
  const ScopedEnv seed("GSL_RNG_SEED", "12ab");
  HostArrays quiet(40);
  EXPECT_EQ(quiet.run(), 0);  // no noise: the variable is not read

  setSigAddNoiseIsEnable(1);
  setNoiseSystemBandwidth(2e5);
  setBandWidthRatio(2.0);
  setNoiseCNR(20.0);
  HostArrays host(40);
  EXPECT_EQ(host.run(), -IQSYNTH_ERR_CFG_VALUE);
  EXPECT_TRUE(host.untouchedFrom(0));
  const std::string log = readLog();
  const std::string tail = "GSL_RNG_SEED \"12ab\" is not a decimal seed from 0 to 4294967295\n";
  ASSERT_GE(log.size(), tail.size());
  EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
}

// ---- Levels that overflow ----------------------------------------------------------------

struct CarrierLevelCase {
  const char* name;
  std::vector<double> levels;  // dB
  std::vector<double> phases;  // radians
  std::vector<char> enabled;
  std::string failure;  // the start of the logged text, or empty for a run that succeeds
};

void PrintTo(const CarrierLevelCase& c, std::ostream* os) { *os << c.name; }

class IqsynthCarrierLevelTest : public IqsynthRunIqSynthTest,
                                public ::testing::WithParamInterface<CarrierLevelCase> {};

TEST_P(IqsynthCarrierLevelTest, LevelsThatOverflowFailNamingTheField) {
  const CarrierLevelCase c = GetParam();
  const int carriers = static_cast<int>(c.levels.size());
  setWorkingMode(iqSynthCfg::WORKING_MODE_MCCW);
  setMccwCarrierItem(carriers);
  setMccwCarrierSpacing(1e6);
  setMccwCarrierEn(c.enabled.data());
  setMccwCarrierSAmp(c.levels.data());
  setMccwCarrierPhase(c.phases.data());
  setMccwOptCrestFactorEn(0);
  runMccwCarrierParamGen();
  const std::size_t n = static_cast<std::size_t>(getMccwCarrierSample());
  HostArrays host(n);
  if (c.failure.empty()) {
    ASSERT_EQ(host.run(), 0);
    EXPECT_NEAR(host.peakEnvelope(n), kPeak, kEnvelopeTolerance);
    return;
  }
  const std::size_t logBefore = readLog().size();
  EXPECT_EQ(host.run(), -IQSYNTH_ERR_CFG_VALUE);
  EXPECT_TRUE(host.untouchedFrom(0));
  EXPECT_NE(readLog().find("\n" + c.failure, logBefore), std::string::npos)
      << readLog().substr(logBefore).substr(0, 2000);
}

const double kNan = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();
// The largest amplitude a single carrier of an 8-sample record may have: sqrt(DBL_MAX / 8),
// so that the record's summed envelope power stays finite; and its level in dB.
const double kLargestAmplitude = std::sqrt(std::numeric_limits<double>::max() / 8);
const double kLoudestSingle = 20.0 * std::log10(kLargestAmplitude);

// The text of a level just above that limit, with numbers in the default stream form.
std::string aboveLimitText() {
  const double level = kLoudestSingle + 0.001;
  std::ostringstream text;
  text << "mccwCarrierAmp[0] " << level << " dB overflows the carrier power: the carrier "
       << "amplitudes add up to " << std::pow(10.0, level / 20.0) << ", at most "
       << kLargestAmplitude << " for 8 samples\n";
  return text.str();
}

INSTANTIATE_TEST_SUITE_P(
    Levels, IqsynthCarrierLevelTest,
    ::testing::Values(
        CarrierLevelCase{"From4000dB",
                         {4000, 0, 0},
                         {0, 0.5, 1},
                         {1, 1, 1},
                         "mccwCarrierAmp[0] 4000 dB overflows the carrier power"},
        CarrierLevelCase{"InfiniteAmplitude",
                         {0, 7000, 0},
                         {0, 0.5, 1},
                         {1, 1, 1},
                         "mccwCarrierAmp[1] 7000 dB overflows the carrier power"},
        CarrierLevelCase{"NaNLevel",
                         {0, 0, kNan},
                         {0, 0.5, 1},
                         {1, 1, 1},
                         "mccwCarrierAmp[2] nan dB overflows the carrier power"},
        CarrierLevelCase{"InfiniteLevel",
                         {kInf, 0, 0},
                         {0, 0.5, 1},
                         {1, 1, 1},
                         "mccwCarrierAmp[0] inf dB overflows the carrier power"},
        CarrierLevelCase{"NaNPhase",
                         {0, 0, 0},
                         {0, kNan, 1},
                         {1, 1, 1},
                         "mccwCarrierPhase[1] nan is not a finite phase in radians"},
        CarrierLevelCase{"InfinitePhase",
                         {0, 0, 0},
                         {0, 0.5, -kInf},
                         {1, 1, 1},
                         "mccwCarrierPhase[2] -inf is not a finite phase in radians"},
        CarrierLevelCase{"LoudCarrierOff", {4000, 0, 0}, {kNan, 0.5, 1}, {0, 1, 1}, ""},
        CarrierLevelCase{"SilentCarrier", {-kInf, 0, 0}, {0, 0.5, 1}, {1, 1, 1}, ""},
        CarrierLevelCase{"Loud2000dB", {2000, 0, 0}, {0, 0.5, 1}, {1, 1, 1}, ""},
        CarrierLevelCase{"JustBelowTheLimit", {kLoudestSingle - 0.001}, {0.3}, {1}, ""},
        CarrierLevelCase{
            "JustAboveTheLimit", {kLoudestSingle + 0.001}, {0.3}, {1}, aboveLimitText()}),
    [](const ::testing::TestParamInfo<CarrierLevelCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(IqsynthRunIqSynthTest, SamplesThatAreNotFiniteFailTheRun) {
  // A user constellation of huge points: the envelope power of the filtered track overflows.
  setDigital(iqSynthCfg::MOD_USER, 32, 4, 4);
  const double huge = 1e200;
  const double map[8] = {huge, huge, -huge, huge, -huge, -huge, huge, -huge};
  setUsrModulatingSymbolItem(4);
  setUsrModulatingConstelMap(map);
  HostArrays host(128);
  EXPECT_EQ(host.run(), -IQSYNTH_ERR_CFG_VALUE);
  EXPECT_TRUE(host.untouchedFrom(0));
  EXPECT_THAT(readLog(), ::testing::HasSubstr(
                             "the samples of workingMode 1 are not finite or their envelope power "
                             "overflows"));
  // The same shape at a sane size runs.
  const double unit[8] = {1, 1, -1, 1, -1, -1, 1, -1};
  setUsrModulatingConstelMap(unit);
  EXPECT_EQ(host.run(), 0);
}

// ---- Runs from several threads -------------------------------------------------------------

// Two threads make whole runs at once (digital with band-limited noise at a fixed seed), a
// third recomputes the multi-carrier parameters meanwhile: every run gives the samples of a
// run made alone, and nothing crashes (the sanitizer build checks the memory).
TEST_F(IqsynthRunIqSynthTest, WholeRunsFromSeveralThreadsTakeTurns) {
  const ScopedEnv seed("GSL_RNG_SEED", "4242");
  setDigital(iqSynthCfg::MOD_QAM16, 400, 8, 8);
  setSigAddNoiseIsEnable(1);
  setNoiseSystemBandwidth(1e6);
  setBandWidthRatio(2.0);
  setNoiseCNR(25.0);
  setMccwCarrierItem(16);
  setMccwCarrierSpacing(250e3);
  setStdoutEnabled(false);
  const std::size_t n = 3200;
  HostArrays reference(n);
  ASSERT_EQ(reference.run(), 0);
  runMccwCarrierParamGen();
  const int referenceRecord = getMccwCarrierSample();

  std::atomic<int> failed{0}, differed{0}, records{0};
  auto runs = [&] {
    for (int r = 0; r < 5; ++r) {
      HostArrays host(n);
      if (host.run() != 0) {
        ++failed;
      } else if (host.i != reference.i || host.q != reference.q) {
        ++differed;
      }
    }
  };
  auto parameters = [&] {
    for (int r = 0; r < 200; ++r) {
      runMccwCarrierParamGen();
      records += getMccwCarrierSample() == referenceRecord ? 0 : 1;
    }
  };
  std::thread first(runs), second(runs), third(parameters);
  first.join();
  second.join();
  third.join();
  setStdoutEnabled(true);
  EXPECT_EQ(failed.load(), 0);
  EXPECT_EQ(differed.load(), 0);
  EXPECT_EQ(records.load(), 0);
}

// ---- The run log's text ---------------------------------------------------------------

struct ModeLogCase {
  const char* name;
  std::function<void()> configure;
  std::size_t samples;
};

void PrintTo(const ModeLogCase& c, std::ostream* os) { *os << c.name; }

class IqsynthRunLogTextTest : public IqsynthRunIqSynthTest,
                              public ::testing::WithParamInterface<ModeLogCase> {};

// A whole run's log is the same text, byte for byte, whichever way its long lists are
// formatted: the reference (every line through to_string), one thread, several threads.
TEST_P(IqsynthRunLogTextTest, FastFormatsGiveTheReferenceText) {
  const ModeLogCase c = GetParam();
  const ScopedEnv seed("GSL_RNG_SEED", "777");
  setStdoutEnabled(false);  // GlobalLogToFile switches it on again when it is done
  c.configure();
  // A first run leaves the result fields that the report of every later run shows.
  HostArrays warm(c.samples);
  ASSERT_EQ(warm.run(), 0);
  std::string reference;
  {
    const GlobalLogToFile log("mode-reference.log");
    setLogFormatOptions(kReferenceLogFormat);
    setStdoutEnabled(false);
    HostArrays host(c.samples);
    ASSERT_EQ(host.run(), 0);
    EXPECT_EQ(host.i, warm.i);
    reference = log.text();
  }
  ASSERT_THAT(reference,
              ::testing::HasSubstr("\n" + std::to_string(c.samples - 1) + "th pQDat is "));
  for (const LogFormatOptions& format : kFastLogFormats) {
    const GlobalLogToFile log("mode-fast.log");
    setLogFormatOptions(format);
    setStdoutEnabled(false);
    HostArrays host(c.samples);
    ASSERT_EQ(host.run(), 0);
    EXPECT_TRUE(log.text() == reference)
        << format.threads << " threads, blocks of " << format.blockLines << " lines";
  }
}

// The log's bytes do not depend on its file being written by the writer thread during the run
// or by the run itself as it hands each chunk over.
TEST_P(IqsynthRunLogTextTest, OverlappedWritingGivesTheSameBytes) {
  const ModeLogCase c = GetParam();
  const ScopedEnv seed("GSL_RNG_SEED", "777");
  setStdoutEnabled(false);
  c.configure();
  HostArrays warm(c.samples);
  ASSERT_EQ(warm.run(), 0);
  auto logOfARun = [&](bool overlapped, unsigned threads) {
    const GlobalLogToFile log(overlapped ? "mode-overlapped.log" : "mode-in-turn.log");
    iqSynthLogClass::m_iqSynthLog.setOverlappedWriting(overlapped);
    setLogFormatOptions({false, threads, 7});  // small blocks: many chunks in the queue
    setStdoutEnabled(false);
    HostArrays host(c.samples);
    EXPECT_EQ(host.run(), 0);
    EXPECT_EQ(host.i, warm.i);
    iqSynthLogClass::m_iqSynthLog.setOverlappedWriting(true);
    return log.text();
  };
  const std::string inTurn = logOfARun(false, 1);
  ASSERT_THAT(inTurn, ::testing::HasSubstr("\n" + std::to_string(c.samples - 1) + "th pQDat is "));
  EXPECT_TRUE(logOfARun(true, 1) == inTurn);
  EXPECT_TRUE(logOfARun(true, 3) == inTurn);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, IqsynthRunLogTextTest,
    ::testing::Values(ModeLogCase{"DigitalQpsk",
                                  [] { setDigital(iqSynthCfg::MOD_QPSK, 3000, 4, 8); }, 12000},
                      ModeLogCase{"DigitalQam16WithNoise",
                                  [] {
                                    setDigital(iqSynthCfg::MOD_QAM16, 1000, 8, 8);
                                    setSigAddNoiseIsEnable(1);
                                    setNoiseSystemBandwidth(1e6);
                                    setBandWidthRatio(2.0);
                                    setNoiseCNR(20.0);
                                  },
                                  8000},
                      ModeLogCase{"DigitalPi4Dqpsk",
                                  [] { setDigital(iqSynthCfg::MOD_PI4_DQPSK, 500, 4, 8); }, 2000},
                      ModeLogCase{"DigitalFsk4",
                                  [] {
                                    setDigital(iqSynthCfg::MOD_FSK4, 500, 8, 4);
                                    setShapingFilterType(iqSynthCfg::FILTER_GAUSSIAN_FSK);
                                    setAlphaBt(0.5);
                                  },
                                  4000},
                      ModeLogCase{"NoiseOnly",
                                  [] {
                                    setWorkingMode(iqSynthCfg::WORKING_MODE_AWGN);
                                    setNoiseSeqLength(5000);
                                    setNoiseSampleRate(4e6);
                                    setNoiseSystemBandwidth(5e5);
                                    setBandWidthRatio(2.0);
                                  },
                                  5000},
                      ModeLogCase{"MultiCarrier",
                                  [] {
                                    setWorkingMode(iqSynthCfg::WORKING_MODE_MCCW);
                                    setMccwCarrierItem(16);
                                    setMccwCarrierSpacing(250e3);
                                    std::vector<char> on(16, 1);
                                    std::vector<double> levels(16), phases(16);
                                    for (int k = 0; k < 16; ++k) {
                                      levels[static_cast<std::size_t>(k)] = -0.5 * k;
                                      phases[static_cast<std::size_t>(k)] = 0.1 * k * k;
                                    }
                                    setMccwCarrierEn(on.data());
                                    setMccwCarrierSAmp(levels.data());
                                    setMccwCarrierPhase(phases.data());
                                    setMccwOptCrestFactorEn(0);
                                    runMccwCarrierParamGen();
                                  },
                                  128}),
    [](const ::testing::TestParamInfo<ModeLogCase>& info) { return std::string(info.param.name); });

// Threads of this process now.
std::size_t threadCount() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    ++count;
  }
  return count;
}

// A log whose writes fail (a full device) is not the run's failure, as before the writer thread:
// the run succeeds with the samples of a run without log, whether the writer thread or the run
// writes the file, and no thread of the log is left when runIqSynth returns.
TEST_F(IqsynthRunIqSynthTest, FailingLogWritesLeaveTheRunAndNoThreadBehind) {
  if (!std::filesystem::exists("/dev/full")) {
    GTEST_SKIP() << "no /dev/full";
  }
  setStdoutEnabled(false);
  setDigital(iqSynthCfg::MOD_QPSK, 20000, 8, 8);
  const std::size_t samples = 160000;
  iqSynthLogClass::m_iqSynthLog.reopen(nullptr);
  HostArrays quiet(samples);
  ASSERT_EQ(quiet.run(), 0);
  for (const bool overlapped : {true, false}) {
    iqSynthLogClass::m_iqSynthLog.reopen("/dev/full");
    ASSERT_TRUE(iqSynthLogClass::m_iqSynthLog.isOpen());
    iqSynthLogClass::m_iqSynthLog.setOverlappedWriting(overlapped);
    const std::size_t before = threadCount();
    HostArrays host(samples);
    EXPECT_EQ(host.run(), 0) << overlapped;
    EXPECT_EQ(threadCount(), before) << overlapped;
    EXPECT_TRUE(host.i == quiet.i && host.q == quiet.q) << overlapped;
  }
  iqSynthLogClass::m_iqSynthLog.setOverlappedWriting(true);
  iqSynthLogClass::m_iqSynthLog.reopen(iqSynthLog::kDefaultFileName);
  setStdoutEnabled(true);
}

}  // namespace
