// The progress report of long work (progress_report.h): written with write(2) to
// standard error only, as a line rewritten in place on a terminal and as whole lines
// elsewhere.
#include "progress_report.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace arbsuite::arb {
namespace {

constexpr std::chrono::milliseconds kDefaultAfter{1000};
constexpr std::chrono::milliseconds kTerminalInterval{250};
constexpr std::chrono::milliseconds kLineInterval{1000};
// A test setting beyond a day is taken as a mistake, not as "never".
constexpr long kLongestAfterMs = 86'400'000;

std::chrono::milliseconds afterFromEnvironment() {
  const char* text = std::getenv(kProgressAfterEnvironment);
  if (text == nullptr || *text == '\0') return kDefaultAfter;
  char* end = nullptr;
  errno = 0;
  const long ms = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || ms < 0 || ms > kLongestAfterMs) return kDefaultAfter;
  return std::chrono::milliseconds(ms);
}

std::atomic<ProgressMode> processMode{ProgressMode::Off};

}  // namespace

void setProgressMode(ProgressMode mode) { processMode.store(mode); }

ProgressMode progressMode() { return processMode.load(); }

ProgressMode chooseProgressMode(bool quiet, bool progress, const char* environment) {
  if (quiet) return ProgressMode::Off;
  if (progress) return ProgressMode::Forced;
  if (environment == nullptr) return ProgressMode::Auto;
  if (std::strcmp(environment, "on") == 0) return ProgressMode::Forced;
  if (std::strcmp(environment, "off") == 0) return ProgressMode::Off;
  return ProgressMode::Auto;
}

ProgressMode progressModeFromEnvironment(bool quiet, bool progress) {
  return chooseProgressMode(quiet, progress, std::getenv(kProgressEnvironment));
}

std::string siAmount(double value) {
  static constexpr const char* kPrefixes[] = {"", " k", " M", " G", " T"};
  std::size_t prefix = 0;
  while (value >= 999.5 && prefix + 1 < std::size(kPrefixes)) {
    value /= 1000.0;
    ++prefix;
  }
  char text[32];
  const int decimals = value >= 99.95 ? 0 : value >= 9.995 ? 1 : 2;
  std::snprintf(text, sizeof text, "%.*f%s", prefix == 0 ? 0 : decimals, value, kPrefixes[prefix]);
  return text;
}

std::string clockText(double seconds) {
  if (!(seconds >= 0)) seconds = 0;
  // Beyond 10 000 hours the figure says nothing more.
  const auto whole = static_cast<long long>(std::min(seconds, 36e6) + 0.5);
  char text[32];
  if (whole >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
                  whole % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
  }
  return text;
}

ProgressReport::ProgressReport(std::string what, std::uint64_t total, std::string unit)
    : ProgressReport(std::move(what), total, std::move(unit), progressMode(), Output{}) {}

ProgressReport::ProgressReport(std::string what, std::uint64_t total, std::string unit,
                               ProgressMode mode)
    : ProgressReport(std::move(what), total, std::move(unit), mode, Output{}) {}

ProgressReport::ProgressReport(std::string what, std::uint64_t total, std::string unit,
                               ProgressMode mode, Output output)
    : what_(std::move(what)), total_(total), unit_(std::move(unit)), output_(std::move(output)) {
  if (!output_.now) output_.now = [] { return Clock::now(); };
  terminal_ = output_.terminal.value_or(::isatty(output_.fd) == 1);
  active_ = mode == ProgressMode::Forced || (mode == ProgressMode::Auto && terminal_);
  after_ = output_.after.value_or(afterFromEnvironment());
  interval_ = terminal_ ? kTerminalInterval : kLineInterval;
  start_ = output_.now();
  nextDue_.store(std::chrono::nanoseconds(after_).count(), std::memory_order_relaxed);
}

ProgressReport::~ProgressReport() { finish(); }

void ProgressReport::add(std::uint64_t count) {
  done_.fetch_add(count, std::memory_order_relaxed);
  if (active_) maybeWrite();
}

void ProgressReport::advance(std::uint64_t done) {
  std::uint64_t seen = done_.load(std::memory_order_relaxed);
  while (seen < done && !done_.compare_exchange_weak(seen, done, std::memory_order_relaxed)) {
  }
  if (active_) maybeWrite();
}

void ProgressReport::maybeWrite() {
  if (finished_.load(std::memory_order_relaxed)) return;
  const std::int64_t elapsed =
      std::chrono::duration_cast<std::chrono::nanoseconds>(output_.now() - start_).count();
  // One caller writes; the others go back to work at once.
  if (elapsed <= nextDue_.load(std::memory_order_relaxed)) return;
  std::unique_lock<std::mutex> lock(write_, std::try_to_lock);
  if (!lock.owns_lock() || finished_.load(std::memory_order_relaxed)) return;
  if (elapsed <= nextDue_.load(std::memory_order_relaxed)) return;
  nextDue_.store(elapsed + std::chrono::nanoseconds(interval_).count(), std::memory_order_relaxed);
  const std::string line = lineText(static_cast<double>(elapsed) / 1e9, done());
  if (terminal_) {
    // Rewritten in place; spaces cover what a longer line before left.
    std::string text = "\r" + line;
    if (line.size() < shownLength_) text.append(shownLength_ - line.size(), ' ');
    shownLength_ = std::max(shownLength_, line.size());
    writeAll(text);
  } else {
    writeAll(line + "\n");
  }
}

std::string ProgressReport::lineText(double elapsedSeconds, std::uint64_t done) const {
  const std::uint64_t shown = total_ > 0 ? std::min(done, total_) : done;
  const double rate = elapsedSeconds > 0 ? static_cast<double>(shown) / elapsedSeconds : 0.0;
  std::string line = what_ + ": ";
  char percent[16];
  if (total_ > 0) {
    std::snprintf(percent, sizeof percent, "%3.0f%%",
                  std::floor(100.0 * static_cast<double>(shown) / static_cast<double>(total_)));
    line += percent;
    line += ", ";
  } else {
    line += siAmount(static_cast<double>(shown)) + " " + unit_ + ", ";
  }
  line += siAmount(rate) + " " + unit_ + "/s";
  if (total_ > 0) {
    line += ", ETA ";
    line += rate > 0 ? clockText(static_cast<double>(total_ - shown) / rate) : "-:--";
  }
  return line;
}

void ProgressReport::writeAll(const std::string& text) const {
  const char* at = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const ssize_t n = ::write(output_.fd, at, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a report that cannot be written is dropped, not an error
    at += n;
    left -= static_cast<std::size_t>(n);
  }
}

void ProgressReport::finish() {
  if (finished_.exchange(true)) return;
  const std::lock_guard<std::mutex> lock(write_);
  if (terminal_ && shownLength_ > 0) {
    writeAll("\r" + std::string(shownLength_, ' ') + "\r");
    shownLength_ = 0;
  }
}

}  // namespace arbsuite::arb
