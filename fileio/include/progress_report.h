// A one-line progress report of long work on standard error: done fraction, rate and
// time left, shown only when standard error is a terminal (or when asked for), and
// only once the work has run for more than a second. Standard output is never touched.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace arbsuite::arb {

// Auto: only when the report's descriptor is a terminal. Forced: also on a pipe or a
// file, one full line per report and no carriage returns. Off: never.
enum class ProgressMode { Auto, Forced, Off };

// The environment setting every program reads: ARBSUITE_PROGRESS=on|off|auto.
inline constexpr const char* kProgressEnvironment = "ARBSUITE_PROGRESS";
// For the tests: the milliseconds of work before the first report (default 1000).
inline constexpr const char* kProgressAfterEnvironment = "ARBSUITE_PROGRESS_AFTER_MS";

// The mode from a program's options and the environment text (nullptr when unset):
// --quiet gives Off, --progress Forced (quiet wins when both are given); without
// either, "on" gives Forced, "off" Off, and anything else (or nothing) Auto.
ProgressMode chooseProgressMode(bool quiet, bool progress, const char* environment);

// chooseProgressMode with the process's ARBSUITE_PROGRESS.
ProgressMode progressModeFromEnvironment(bool quiet = false, bool progress = false);

// The mode of the reports made without one: Off until a program sets it from its
// options and the environment, so that a library user (the Python module) sees none.
void setProgressMode(ProgressMode mode);
ProgressMode progressMode();

// "12.3 k", "4.50 M" and the like: a rate with an SI prefix, three significant digits.
std::string siAmount(double value);
// "0:07", "12:34", "1:02:03": whole seconds as minutes (and hours) and seconds.
std::string clockText(double seconds);

class ProgressReport {
 public:
  using Clock = std::chrono::steady_clock;

  // Where and how the report is written; the defaults are the process's own.
  struct Output {
    int fd = 2;                                      // standard error
    std::optional<bool> terminal;                    // default: isatty(fd)
    std::function<Clock::time_point()> now;          // default: Clock::now
    std::optional<std::chrono::milliseconds> after;  // default: 1 s, or the test setting
  };

  // `what` names the work ("wavepack: packing"), `total` counts its units (0 when
  // unknown: no percentage and no time left), `unit` names them ("samples"); without
  // a mode, the process's (progressMode()).
  ProgressReport(std::string what, std::uint64_t total, std::string unit);
  ProgressReport(std::string what, std::uint64_t total, std::string unit, ProgressMode mode);
  ProgressReport(std::string what, std::uint64_t total, std::string unit, ProgressMode mode,
                 Output output);
  // Ends the report as finish() does.
  ~ProgressReport();
  ProgressReport(const ProgressReport&) = delete;
  ProgressReport& operator=(const ProgressReport&) = delete;

  // Adds `count` units of work done; any thread may call it, as often as it likes
  // (a report is written at most every quarter second on a terminal, every second
  // elsewhere).
  void add(std::uint64_t count);
  // Sets the units done so far (it never goes back).
  void advance(std::uint64_t done);
  // A callable that adds its argument, for the loops that take a callback.
  std::function<void(std::uint64_t)> adder() {
    return [this](std::uint64_t count) { add(count); };
  }
  // Ends the report: on a terminal the line is cleared, so that what the program
  // prints next starts on a clean line. Further calls to add do nothing.
  void finish();

  // Whether this report writes anything at all.
  bool active() const { return active_; }
  std::uint64_t done() const { return done_.load(std::memory_order_relaxed); }

 private:
  void maybeWrite();
  std::string lineText(double elapsedSeconds, std::uint64_t done) const;
  void writeAll(const std::string& text) const;

  std::string what_;
  std::uint64_t total_;
  std::string unit_;
  Output output_;
  bool active_ = false;
  bool terminal_ = false;
  Clock::time_point start_;
  std::chrono::milliseconds after_{1000};
  std::chrono::milliseconds interval_{1000};
  std::atomic<std::uint64_t> done_{0};
  std::atomic<std::int64_t> nextDue_{0};  // nanoseconds since start_
  std::atomic<bool> finished_{false};
  std::mutex write_;
  std::size_t shownLength_ = 0;  // of the line on the terminal, 0 when none is shown
};

}  // namespace arbsuite::arb
