// The progress report of long work: when it writes (terminal or forced, after its
// delay, at its interval), what a line holds, and that it clears its line at the end.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "progress_report.h"

namespace {

using arbsuite::arb::chooseProgressMode;
using arbsuite::arb::clockText;
using arbsuite::arb::ProgressMode;
using arbsuite::arb::ProgressReport;
using arbsuite::arb::siAmount;
using namespace std::chrono_literals;

// A pipe the report writes into, read back without blocking, and a clock the test moves.
class ReportHarness {
 public:
  ReportHarness() {
    EXPECT_EQ(::pipe2(fds_, O_NONBLOCK), 0);
    now_ = ProgressReport::Clock::time_point{} + 1h;
  }
  ~ReportHarness() {
    ::close(fds_[0]);
    ::close(fds_[1]);
  }
  ProgressReport::Output output(bool terminal) {
    ProgressReport::Output out;
    out.fd = fds_[1];
    out.terminal = terminal;
    out.now = [this] { return now_; };
    out.after = 1000ms;
    return out;
  }
  void wait(std::chrono::milliseconds span) { now_ += span; }
  std::string written() {
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fds_[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    return text;
  }

 private:
  int fds_[2] = {-1, -1};
  ProgressReport::Clock::time_point now_;
};

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  EXPECT_EQ(start, text.size()) << "the last line is not complete";
  return lines;
}

TEST(ProgressMode, OptionsWinOverTheEnvironment) {
  EXPECT_EQ(chooseProgressMode(false, false, nullptr), ProgressMode::Auto);
  EXPECT_EQ(chooseProgressMode(false, false, "on"), ProgressMode::Forced);
  EXPECT_EQ(chooseProgressMode(false, false, "off"), ProgressMode::Off);
  EXPECT_EQ(chooseProgressMode(false, false, "auto"), ProgressMode::Auto);
  EXPECT_EQ(chooseProgressMode(false, false, "sometimes"), ProgressMode::Auto);
  EXPECT_EQ(chooseProgressMode(true, false, "on"), ProgressMode::Off);
  EXPECT_EQ(chooseProgressMode(false, true, "off"), ProgressMode::Forced);
  EXPECT_EQ(chooseProgressMode(true, true, "on"), ProgressMode::Off);
}

TEST(ProgressMode, OffUntilAProgramSetsIt) {
  EXPECT_EQ(arbsuite::arb::progressMode(), ProgressMode::Off);
  arbsuite::arb::setProgressMode(ProgressMode::Forced);
  EXPECT_EQ(arbsuite::arb::progressMode(), ProgressMode::Forced);
  arbsuite::arb::setProgressMode(ProgressMode::Off);
}

TEST(ProgressText, AmountsAndClocks) {
  EXPECT_EQ(siAmount(0), "0");
  EXPECT_EQ(siAmount(999), "999");
  EXPECT_EQ(siAmount(1234), "1.23 k");
  EXPECT_EQ(siAmount(12'345'678), "12.3 M");
  EXPECT_EQ(siAmount(999'600), "1.00 M");
  EXPECT_EQ(siAmount(250e9), "250 G");
  EXPECT_EQ(clockText(0), "0:00");
  EXPECT_EQ(clockText(7.4), "0:07");
  EXPECT_EQ(clockText(754), "12:34");
  EXPECT_EQ(clockText(3723), "1:02:03");
  EXPECT_EQ(clockText(-5), "0:00");
}

TEST(ProgressReport, NothingBeforeTheDelayNorWhenOff) {
  ReportHarness harness;
  {
    ProgressReport report("job", 100, "items", ProgressMode::Forced, harness.output(false));
    harness.wait(999ms);
    report.add(50);
    EXPECT_EQ(harness.written(), "");
  }
  EXPECT_EQ(harness.written(), "") << "a job shorter than the delay leaves no trace";
  {
    ProgressReport report("job", 100, "items", ProgressMode::Off, harness.output(true));
    harness.wait(5s);
    report.add(50);
    EXPECT_FALSE(report.active());
  }
  EXPECT_EQ(harness.written(), "");
  {
    // Auto writes on a terminal only.
    ProgressReport report("job", 100, "items", ProgressMode::Auto, harness.output(false));
    harness.wait(5s);
    report.add(50);
  }
  EXPECT_EQ(harness.written(), "");
}

TEST(ProgressReport, ForcedOnAPipeWritesOneFullLinePerSecond) {
  ReportHarness harness;
  ProgressReport report("wavepack: packing", 4000, "samples", ProgressMode::Forced,
                        harness.output(false));
  harness.wait(2000ms);
  report.add(1000);
  // Calls within the second after a line write nothing more.
  for (int k = 0; k < 9; ++k) {
    harness.wait(100ms);
    report.add(100);
  }
  harness.wait(101ms);
  report.add(100);
  const std::string text = harness.written();
  EXPECT_EQ(text.find('\r'), std::string::npos);
  const std::vector<std::string> lines = linesOf(text);
  ASSERT_EQ(lines.size(), 2u) << text;
  // 1000 of 4000 after 2 s: 500/s, 3000 left take 6 s.
  EXPECT_EQ(lines[0], "wavepack: packing:  25%, 500 samples/s, ETA 0:06");
  // 2000 of 4000 after 3.001 s.
  EXPECT_EQ(lines[1].substr(0, 23), "wavepack: packing:  50%");
  report.finish();
  EXPECT_EQ(harness.written(), "") << "nothing to clear on a pipe";
}

TEST(ProgressReport, OnATerminalTheLineIsRewrittenAndClearedAtTheEnd) {
  ReportHarness harness;
  {
    ProgressReport report("join", 0, "pairs", ProgressMode::Auto, harness.output(true));
    harness.wait(1500ms);
    report.advance(3'000'000);
    harness.wait(1500ms);
    report.advance(100);  // never goes back
    EXPECT_EQ(report.done(), 3'000'000u);
    const std::string text = harness.written();
    EXPECT_EQ(text.find('\n'), std::string::npos);
    ASSERT_EQ(std::count(text.begin(), text.end(), '\r'), 2) << text;
    // Without a total: the count and the rate, no percentage and no time left.
    EXPECT_EQ(text.substr(0, text.find('\r', 1)), "\rjoin: 3.00 M pairs, 2.00 M pairs/s");
  }
  const std::string end = harness.written();
  ASSERT_GE(end.size(), 2u);
  EXPECT_EQ(end.front(), '\r');
  EXPECT_EQ(end.back(), '\r');
  EXPECT_EQ(end.find_first_not_of(" \r"), std::string::npos) << "the line is blanked";
}

TEST(ProgressReport, ManyThreadsCountEveryUnit) {
  ProgressReport::Output out;
  out.terminal = false;
  ProgressReport report("threads", 0, "units", ProgressMode::Off, out);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&report] {
      for (int k = 0; k < 100000; ++k) report.add(1);
    });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(report.done(), 400000u);
}

}  // namespace
