// Run log and helpers: entries and flushing, truncation, an uncreatable file,
// text formats of to_string, list dumps and the exception classes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <complex>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>
#include <valarray>
#include <vector>

#include "global_log.h"
#include "iqSynthCfg.h"
#include "iqSynthLog.h"
#include "iqSynthLogStdout.h"
#include "iqsynth.h"

namespace fs = std::filesystem;

using namespace arbsuite::iqsynth;  // the library's internals under test

namespace {

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream os;
  os << in.rdbuf();
  return os.str();
}

TEST(IqsynthRunLog, EntriesEndWithALineAndReachTheDiskOnFlush) {
  const fs::path path = fs::current_path() / "entries.log";
  {
    std::ofstream old(path);
    old << "stale content that must disappear\n";
  }
  {
    iqSynthLog log(path.c_str());
    ASSERT_TRUE(log.isOpen());
    EXPECT_EQ(fs::file_size(path), 0u);  // truncated on opening
    log.writeToLog("first");
    log.writeToLog(std::string("two\nlines"));
    log.writeToLog(42);
    log.flush();
    EXPECT_EQ(readFile(path), "first\ntwo\nlines\n42\n");
    log.writeToLog("after flush");
  }
  // Closing at the end of the log's life writes what was still buffered.
  EXPECT_EQ(readFile(path), "first\ntwo\nlines\n42\nafter flush\n");
}

TEST(IqsynthRunLog, UncreatableFileIsReportedAndEntriesAreDropped) {
  const fs::path path = fs::current_path() / "no-such-dir" / "x.log";
  testing::internal::CaptureStdout();
  iqSynthLog log(path.c_str());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "can not open the log file\n");
  EXPECT_FALSE(log.isOpen());
  log.writeToLog("lost");  // no crash, nothing written
  log.flush();
  EXPECT_FALSE(fs::exists(path));
}

TEST(IqsynthRunLog, GlobalLogCollectsWrLogEntriesInTheWorkingDirectory) {
  const std::string marker = "marker entry " + std::to_string(::getpid());
  char modifiable[] = "modifiable text";
  wrLog(marker.c_str());
  wrLog(modifiable);
  wrLog(std::string("string object"));
  flushLog();
  const std::string text = readFile(fs::current_path() / "iqSynthRun.log");
  EXPECT_THAT(text, ::testing::HasSubstr(marker + "\nmodifiable text\nstring object\n"));
}

TEST(IqsynthRunLog, ListDumpWritesSizeThenOneEntryPerElement) {
  const std::string before = "before dump " + std::to_string(::getpid());
  wrLog(before);
  ite_print(std::valarray<short>{3, -4});
  ite_print(std::vector<std::complex<double>>{{1.0, 0.5}});
  ite_print(std::valarray<double>{});
  flushLog();
  const std::string text = readFile(fs::current_path() / "iqSynthRun.log");
  const std::string expected = before +
                               "\n run here  list size is 2\n0th is 3\n1th is -4\n"
                               " run here  list size is 1\n0th is (1,0.5)\n"
                               " run here  list size is 0\n";
  EXPECT_THAT(text, ::testing::HasSubstr(expected)) << text;
}

TEST(IqsynthToString, DefaultStreamFormatting) {
  EXPECT_EQ(to_string(1000000.0), "1e+06");
  EXPECT_EQ(to_string(0.35), "0.35");
  EXPECT_EQ(to_string(2.5e-05), "2.5e-05");
  EXPECT_EQ(to_string(123456.0), "123456");
  EXPECT_EQ(to_string(1234567.0), "1.23457e+06");
  EXPECT_EQ(to_string(-7), "-7");
  EXPECT_EQ(to_string(4000000000u), "4000000000");
  EXPECT_EQ(to_string(static_cast<short>(-32768)), "-32768");
  EXPECT_EQ(to_string(true), "1");
  EXPECT_EQ(to_string(false), "0");
  EXPECT_EQ(to_string(std::complex<double>(0.5, -1e7)), "(0.5,-1e+07)");
  EXPECT_EQ(to_string(std::string("text")), "text");
  EXPECT_EQ(to_string("dataSrc.cpp"), "dataSrc.cpp");
  EXPECT_EQ(to_string(iqSynthCfg::MOD_QPSK), "589826");
  EXPECT_EQ(to_string(iqSynthCfg::FILTER_HALF_SINE), "10");
  EXPECT_EQ(to_string(static_cast<iqSynthCfg::IQDevType_t>(3)), "3");
}

// The fast list-dump formatting must give the very text of a default stream.
TEST(IqsynthToString, ListDumpTextEqualsStreamText) {
  auto fast = [](const auto& value) {
    char text[kMaxValueText];
    return std::string(text, writeValueText(text, value));
  };
  const double special[] = {0.0,   -0.0,      1.0,        -1.0,      0.35,
                            1e6,   1e-5,      123456.0,   1234567.0, 0.1 + 0.2,
                            1e300, -4.9e-324, 0.9 * 8192, 1.0 / 3.0};
  for (double v : special) {
    EXPECT_EQ(fast(v), to_string(v)) << v;
  }
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
  std::uniform_int_distribution<int> exponent(-20, 20);
  for (int k = 0; k < 2000; ++k) {
    const double v = std::ldexp(mantissa(rng), exponent(rng));
    ASSERT_EQ(fast(v), to_string(v)) << v;
  }
  const std::complex<double> z(-0.25, 3e7);
  EXPECT_EQ(fast(z), to_string(z));
  EXPECT_EQ(fast(static_cast<short>(-32768)), "-32768");
  EXPECT_EQ(fast(std::size_t{4000000000u}), "4000000000");
  EXPECT_EQ(fast(true), "1");
}

std::string fastDouble(double v) {
  char text[kMaxDoubleText];
  return std::string(text, writeDoubleText(text, v));
}

std::string streamText(double v) {
  std::ostringstream os;
  os << v;
  return os.str();
}

// The special values and the edges of the fixed and exponent forms.
TEST(IqsynthLogNumberText, SpecialValuesAsTheStreamWritesThem) {
  const double special[] = {0.0,
                            -0.0,
                            std::numeric_limits<double>::denorm_min(),
                            -std::numeric_limits<double>::denorm_min(),
                            2.2250738585072009e-308,  // largest denormal
                            std::numeric_limits<double>::min(),
                            std::numeric_limits<double>::max(),
                            -std::numeric_limits<double>::max(),
                            std::numeric_limits<double>::infinity(),
                            -std::numeric_limits<double>::infinity(),
                            std::numeric_limits<double>::quiet_NaN(),
                            -std::numeric_limits<double>::quiet_NaN(),
                            1e-5,
                            -1e-5,
                            9.99999e-6,
                            9.999995e-6,
                            1e-4,
                            9.999995e-5,
                            0.0001,
                            0.00012345649999,
                            1e5,
                            99999.95,
                            999999.0,
                            999999.4,
                            999999.5,
                            999999.5000001,
                            -999999.5,
                            1e6,
                            123456.5,
                            1234565.0,
                            1234575.0,
                            0.5,
                            2.5,
                            1e15,
                            9.999995e14,
                            1e16,
                            1e17,
                            0.9,
                            0.707107,
                            -0.7071067811865476};
  for (double v : special) {
    EXPECT_EQ(fastDouble(v), streamText(v)) << std::hexfloat << v;
  }
}

// Random doubles of every kind: any bit pattern, magnitudes spread over the scaled range,
// and decimal values of seven significant digits, which sit on or next to rounding ties.
TEST(IqsynthLogNumberText, RandomDoublesAsTheStreamWritesThem) {
  std::mt19937_64 rng(2024);
  for (int k = 0; k < 200000; ++k) {
    const double v = std::bit_cast<double>(rng());
    ASSERT_EQ(fastDouble(v), streamText(v)) << std::hexfloat << v;
  }
  std::uniform_real_distribution<double> decade(-7.0, 17.0);
  for (int k = 0; k < 300000; ++k) {
    const double v = std::pow(10.0, decade(rng)) * ((k & 1) ? -1.0 : 1.0);
    ASSERT_EQ(fastDouble(v), streamText(v)) << std::hexfloat << v;
  }
  std::uniform_int_distribution<long long> digits(1000000, 9999999);
  std::uniform_int_distribution<int> exponent(-12, 9);
  for (int k = 0; k < 300000; ++k) {
    const long long d = (k % 3 == 0) ? digits(rng) / 10 * 10 + 5 : digits(rng);  // ties often
    const int e = exponent(rng);
    const double v = e >= 0 ? static_cast<double>(d) * std::pow(10.0, e)
                            : static_cast<double>(d) / std::pow(10.0, -e);
    ASSERT_EQ(fastDouble(v), streamText(v)) << std::hexfloat << v;
    ASSERT_EQ(fastDouble(std::nextafter(v, 0.0)), streamText(std::nextafter(v, 0.0)));
    ASSERT_EQ(fastDouble(std::nextafter(v, HUGE_VAL)), streamText(std::nextafter(v, HUGE_VAL)));
  }
}

// Values written again and again, more of them than the cache holds and with bit patterns
// that differ only in the sign or the last bit, keep their own text on every repeat.
TEST(IqsynthLogNumberText, RepeatedValuesThroughTheCacheKeepTheirText) {
  std::vector<double> levels = {0.0,
                                -0.0,
                                0.707107,
                                -0.707107,
                                std::nextafter(0.707107, 1.0),
                                std::numeric_limits<double>::quiet_NaN(),
                                -std::numeric_limits<double>::infinity()};
  std::mt19937_64 rng(5);
  for (int k = 0; k < 200; ++k) levels.push_back(std::bit_cast<double>(rng()));
  DoubleTextCache cache;
  for (int pass = 0; pass < 3; ++pass) {
    for (std::size_t k = 0; k < levels.size(); k += pass + 1) {
      char text[kMaxDoubleText];
      const char* end = cache.copyTo(text, levels[k]);
      const char* begin = text;
      ASSERT_EQ(std::string(begin, end), streamText(levels[k])) << "pass " << pass << " #" << k;
    }
  }
}

TEST(IqsynthLogNumberText, RunningIndexTextAcrossPowersOfTen) {
  // Starts below and across every carry: into a new digit, into the digits above the last
  // eight (10^8), and within them.
  const std::size_t starts[] = {0,
                                7,
                                95,
                                990,
                                99990,
                                99999990,
                                99999999,
                                999999990,
                                1999999990,
                                9999999990,
                                99999999999990,
                                std::numeric_limits<std::size_t>::max() - 20};
  for (const std::size_t start : starts) {
    DecimalCounter counter(start);
    for (std::size_t i = start; i < start + 20; ++i, counter.next()) {
      char copied[64];
      const char* end = counter.copyTo(copied);
      const char* begin = copied;
      ASSERT_EQ(std::string(begin, end), std::to_string(i)) << "from " << start;
    }
  }
  DecimalCounter counter(0);
  char text[kMaxIntegerText];
  for (std::size_t i = 0; i < 1100000; ++i, counter.next()) {
    char copied[64];
    const char* end = counter.copyTo(copied);
    const char* begin = copied;
    ASSERT_EQ(std::string_view(begin, end),
              std::string_view(text, std::to_chars(text, text + sizeof text, i).ptr));
  }
}

TEST(IqsynthLogNumberText, LabelsShortAndLong) {
  for (const std::string& text :
       {std::string(), std::string("th is "), std::string(PaddedLabel::kCopyLength, 'x'),
        std::string(PaddedLabel::kCopyLength + 9, 'y')}) {
    const PaddedLabel label(text);
    char out[128];
    const char* end = label.copyTo(out);
    const char* begin = out;
    EXPECT_EQ(std::string(begin, end), text);
  }
}

// The values of the environment variables read at load.
TEST(IqsynthRunLogSettings, LogFileAndStandardOutputFromTheEnvironment) {
  EXPECT_STREQ(runLogFileFor(nullptr), "iqSynthRun.log");
  EXPECT_EQ(runLogFileFor(""), nullptr);
  EXPECT_STREQ(runLogFileFor("/tmp/x.log"), "/tmp/x.log");
  EXPECT_STREQ(runLogFileFor("0"), "0");
  EXPECT_TRUE(stdoutEnabledFor(nullptr));
  EXPECT_FALSE(stdoutEnabledFor("0"));
  for (const char* other : {"", "1", "00", " 0", "0 ", "no", "false"}) {
    EXPECT_TRUE(stdoutEnabledFor(other)) << '"' << other << '"';
  }
}

TEST(IqsynthRunLog, ALogThatIsOffCreatesNothingAndDropsEverything) {
  const fs::path path = fs::current_path() / "never.log";
  fs::remove(path);
  testing::internal::CaptureStdout();
  iqSynthLog log(nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");  // no "can not open" notice
  EXPECT_FALSE(log.isOpen());
  log.writeToLog("lost");
  log.writeText("lost\n", 5);
  log.flush();
  log.reopen(path.c_str());
  EXPECT_TRUE(log.isOpen());
  log.writeToLog("kept");
  log.reopen(nullptr);  // closing writes what was buffered
  EXPECT_FALSE(log.isOpen());
  EXPECT_EQ(readFile(path), "kept\n");
}

TEST(IqsynthRunLog, IndexedListsEqualTheReferenceTextInEveryFormat) {
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> value(-2.0, 2.0);
  auto dumpAll = [&](std::size_t length) {
    std::valarray<double> doubles(length);
    std::valarray<short> shorts(length);
    std::vector<std::complex<double>> points(length);
    for (std::size_t k = 0; k < length; ++k) {
      doubles[k] = (k % 5 == 0) ? 0.0 : value(rng);
      shorts[k] = static_cast<short>(rng());
      points[k] = {value(rng), -value(rng)};
    }
    return [=] {
      ite_print(doubles);
      ite_print(shorts);
      ite_print(points);
      logIndexedLines("th pIDat is ", length, [&](std::size_t k) { return shorts[k]; });
      wrLog("between lists");
    };
  };
  for (const std::size_t length : {0, 1, 7, 8, 100, 1234, 70000}) {
    const auto dump = dumpAll(length);
    std::string reference;
    {
      const GlobalLogToFile log("lists-reference.log");
      setLogFormatOptions(kReferenceLogFormat);
      dump();
      reference = log.text();
    }
    for (const LogFormatOptions& format : kFastLogFormats) {
      const GlobalLogToFile log("lists-fast.log");
      setLogFormatOptions(format);
      dump();
      ASSERT_EQ(log.text(), reference) << length << " lines, " << format.threads << " threads";
    }
  }
}

// A list written while the log is off formats nothing: the value function is never called.
TEST(IqsynthRunLog, ListsAreNotFormattedWhenTheLogIsOff) {
  const GlobalLogToFile log("off.log");
  iqSynthLogClass::m_iqSynthLog.reopen(nullptr);
  int calls = 0;
  logIndexedLines("th is ", 1000, [&](std::size_t) { return ++calls; });
  ite_print(std::valarray<double>(1.0, 1000));
  EXPECT_EQ(calls, 0);
  EXPECT_FALSE(logEnabled());
}

class IqsynthNumberedError : public ::testing::TestWithParam<IqSynthError::Kind> {};
INSTANTIATE_TEST_SUITE_P(Kinds, IqsynthNumberedError,
                         ::testing::Values(IqSynthError::Kind::Config, IqSynthError::Kind::Awgn,
                                           IqSynthError::Kind::File));

TEST_P(IqsynthNumberedError, CarriesKindNumberAndOwnCopyOfText) {
  static_assert(std::is_base_of_v<std::exception, IqSynthError>);
  std::string text = "some text";
  const IqSynthError e(GetParam(), 0x40005, text);
  text = "changed";
  EXPECT_EQ(e.kind(), GetParam());
  EXPECT_EQ(e.errNo(), IQSYNTH_ERR_CFG_VALUE);
  EXPECT_STREQ(e.what(), "some text");
  try {
    throw IqSynthError(GetParam(), 0x20002, " file format is error");
  } catch (const std::exception& caught) {
    EXPECT_STREQ(caught.what(), " file format is error");
  }
}

TEST(IqsynthErrors, NoiseErrorNumberCombinesTheCode) {
  const IqSynthError e(IqSynthError::Kind::Awgn, IQSYNTH_ERR_NOISE_BASE | 2,
                       "AWGN ADD noise is error");
  EXPECT_EQ(e.errNo(), IQSYNTH_ERR_NOISE);
  EXPECT_EQ(-e.errNo(), -61442);
}

TEST(IqsynthErrors, AllocationFailureCarriesItsText) {
  const IqSynthError e = IqSynthError::memAlloc("resize iMapDat is error in dataMapping.cpp at 12");
  EXPECT_EQ(e.kind(), IqSynthError::Kind::MemAlloc);
  EXPECT_EQ(e.errNo(), IQSYNTH_ERR_MEM_ALLOC);
  EXPECT_STREQ(e.what(), "resize iMapDat is error in dataMapping.cpp at 12");
}

}  // namespace

// The per-symbol standard-output lines: written a block at a time, the very characters the
// stream's own formatting gives, also across block ends; a host's own formatting of std::cout
// is kept line by line.
TEST(IqsynthStdoutLines, BlocksGiveTheStreamsOwnTextAndKeepAHostsFormatting) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> spread(-30, 30);
  std::vector<double> values = {0.0,
                                -0.0,
                                1.0,
                                -1.5,
                                1e-5,
                                123456.5,
                                1e15,
                                0.1 + 0.2,
                                std::numeric_limits<double>::quiet_NaN(),
                                std::numeric_limits<double>::infinity()};
  for (int i = 0; i < 5000; ++i) values.push_back(std::pow(10.0, spread(rng)) * (i % 2 ? -1 : 1));
  const auto run = [&](bool hostFormat) {
    std::ostringstream captured;
    std::streambuf* const previous = std::cout.rdbuf(captured.rdbuf());
    const std::streamsize precision = std::cout.precision();
    if (hostFormat) std::cout.precision(12);
    {
      arbsuite::iqsynth::iqSynthStdoutLines lines;
      for (std::size_t j = 0; j < values.size(); ++j) {
        lines.line(j, "th is : ", static_cast<short>(j * 37));
        lines.line("iMapDat[ i ] : ", values[j]);
      }
    }
    std::cout.precision(precision);
    std::cout.rdbuf(previous);
    return captured.str();
  };
  for (const bool hostFormat : {false, true}) {
    std::ostringstream expected;
    if (hostFormat) expected.precision(12);
    for (std::size_t j = 0; j < values.size(); ++j) {
      expected << j << "th is : " << static_cast<short>(j * 37) << '\n';
      expected << "iMapDat[ i ] : " << values[j] << '\n';
    }
    EXPECT_EQ(run(hostFormat), expected.str()) << "host format " << hostFormat;
  }
}
