// The interrupt handlers and their list of paths to remove (see interrupt_cleanup.h).
#include "interrupt_cleanup.h"

#include <limits.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace arbsuite::arb {
namespace {

constexpr std::array<int, 4> kInterruptSignals = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
// A program registers a handful of files at a time (the temporary sample file and
// the temporaries of its outputs).
constexpr std::size_t kSlots = 8;

enum SlotState : int { kFree = 0, kFilling = 1, kArmed = 2 };

struct Slot {
  std::atomic<int> state{kFree};
  char path[PATH_MAX] = {};
};

static_assert(std::atomic<int>::is_always_lock_free, "the handler reads the flags");

Slot gSlots[kSlots];
std::atomic<bool> gInstalled{false};

sigset_t interruptSet() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : kInterruptSignals) sigaddset(&set, signal);
  return set;
}

extern "C" void removeRegisteredAndDie(int signal) {
  for (Slot& slot : gSlots) {
    if (slot.state.load(std::memory_order_acquire) == kArmed) ::unlink(slot.path);
  }
  // The default action of the same signal ends the process as the shell expects.
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal, &action, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
  ::raise(signal);
  ::_exit(128 + signal);  // not reached
}

}  // namespace

void installInterruptCleanup() {
  if (gInstalled.exchange(true)) return;
  struct sigaction action {};
  action.sa_handler = removeRegisteredAndDie;
  action.sa_mask = interruptSet();  // one cleanup at a time
  action.sa_flags = 0;
  for (const int signal : kInterruptSignals) {
    struct sigaction previous {};
    if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    ::sigaction(signal, &action, nullptr);
  }
}

bool interruptCleanupInstalled() { return gInstalled.load(); }

InterruptDeferral::InterruptDeferral() {
  const sigset_t set = interruptSet();
  active_ = ::pthread_sigmask(SIG_BLOCK, &set, &previous_) == 0;
}

InterruptDeferral::~InterruptDeferral() {
  if (active_) ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

InterruptRemoval::InterruptRemoval(const std::string& path) {
  if (path.empty() || path.size() >= PATH_MAX) return;
  for (std::size_t i = 0; i < kSlots; ++i) {
    int expected = kFree;
    if (!gSlots[i].state.compare_exchange_strong(expected, kFilling)) continue;
    std::memcpy(gSlots[i].path, path.c_str(), path.size() + 1);
    gSlots[i].state.store(kArmed, std::memory_order_release);
    slot_ = static_cast<int>(i);
    return;
  }
}

InterruptRemoval& InterruptRemoval::operator=(InterruptRemoval&& other) noexcept {
  if (this != &other) {
    disarm();
    slot_ = other.slot_;
    other.slot_ = -1;
  }
  return *this;
}

void InterruptRemoval::disarm() {
  if (slot_ < 0) return;
  gSlots[slot_].state.store(kFree, std::memory_order_release);
  slot_ = -1;
}

}  // namespace arbsuite::arb
