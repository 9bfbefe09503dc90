// Run log and helpers: entries and flushing, truncation, an uncreatable file,
// text formats of to_string, list dumps and the exception classes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <complex>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <type_traits>
#include <valarray>
#include <vector>

#include "iqSynthCfg.h"
#include "iqSynthLog.h"

namespace fs = std::filesystem;

using namespace iqsynth;  // the library's internals under test

namespace {

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream os;
  os << in.rdbuf();
  return os.str();
}

TEST(RunLog, EntriesEndWithALineAndReachTheDiskOnFlush) {
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

TEST(RunLog, UncreatableFileIsReportedAndEntriesAreDropped) {
  const fs::path path = fs::current_path() / "no-such-dir" / "x.log";
  testing::internal::CaptureStdout();
  iqSynthLog log(path.c_str());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "can not open the log file\n");
  EXPECT_FALSE(log.isOpen());
  log.writeToLog("lost");  // no crash, nothing written
  log.flush();
  EXPECT_FALSE(fs::exists(path));
}

TEST(RunLog, GlobalLogCollectsWrLogEntriesInTheWorkingDirectory) {
  const std::string marker = "marker entry " + std::to_string(::getpid());
  char modifiable[] = "modifiable text";
  wrLog(marker.c_str());
  wrLog(modifiable);
  wrLog(std::string("string object"));
  flushLog();
  const std::string text = readFile(fs::current_path() / "iqSynthRun.log");
  EXPECT_NE(text.find(marker + "\nmodifiable text\nstring object\n"), std::string::npos);
}

TEST(RunLog, ListDumpWritesSizeThenOneEntryPerElement) {
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
  EXPECT_NE(text.find(expected), std::string::npos) << text;
}

TEST(IqSynthToString, DefaultStreamFormatting) {
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
  EXPECT_EQ(to_string(iqSynthCfg::FILTER_HALF_SIN), "10");
  EXPECT_EQ(to_string(static_cast<iqSynthCfg::IQDevType_t>(3)), "3");
}

// The fast list-dump formatting must give the very text of a default stream.
TEST(IqSynthToString, ListDumpTextEqualsStreamText) {
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

template <typename E>
class NumberedException : public ::testing::Test {};
using NumberedTypes = ::testing::Types<IqSynthCfgExcept, IqSynthAwgnExcept, IqSynthFileExcept>;
TYPED_TEST_SUITE(NumberedException, NumberedTypes);

TYPED_TEST(NumberedException, CarriesNumberAndOwnCopyOfText) {
  static_assert(std::is_base_of_v<std::exception, TypeParam>);
  std::string text = "some text";
  const TypeParam e(0x40005, text);
  text = "changed";
  EXPECT_EQ(e.errNo(), 0x40005);
  EXPECT_STREQ(e.what(), "some text");
  try {
    throw TypeParam(0x20002, " file format is error");
  } catch (const std::exception& caught) {
    EXPECT_STREQ(caught.what(), " file format is error");
  }
}

TEST(IqSynthExceptions, NoiseErrorNumberCombinesTheCode) {
  const IqSynthAwgnExcept e(IQSYNTH_ERR_NOISE_BASE | 2, "AWGN ADD noise is error");
  EXPECT_EQ(e.errNo(), 0xF002);
  EXPECT_EQ(-e.errNo(), -61442);
}

TEST(IqSynthExceptions, AllocationFailureCarriesItsText) {
  static_assert(std::is_base_of_v<std::exception, IqSynthMemAllocExcept>);
  const IqSynthMemAllocExcept e("resize iMapDat is error in dataMapping.cpp at 12");
  EXPECT_STREQ(e.what(), "resize iMapDat is error in dataMapping.cpp at 12");
}

}  // namespace
