// The interrupt registry of a process: the table of paths the handlers remove, the
// async-signal-safe handler and installInterruptCleanup(). Only what installs the
// handlers (the programs, the tests of the handlers) links it (fileio_interrupts).
#include "interrupt_registry.h"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "interrupt_cleanup.h"

namespace arbsuite::arb {
namespace {

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
std::atomic<bool> gInstalling{false};

int armSlot(const char* path, std::size_t length) {
  if (length == 0 || length >= PATH_MAX) return -1;
  for (std::size_t i = 0; i < kSlots; ++i) {
    int expected = kFree;
    if (!gSlots[i].state.compare_exchange_strong(expected, kFilling)) continue;
    std::memcpy(gSlots[i].path, path, length);
    gSlots[i].path[length] = '\0';
    gSlots[i].state.store(kArmed, std::memory_order_release);
    return static_cast<int>(i);
  }
  return -1;
}

void releaseSlot(int slot) {
  if (slot < 0 || static_cast<std::size_t>(slot) >= kSlots) return;
  gSlots[slot].state.store(kFree, std::memory_order_release);
}

constexpr InterruptRegistry kRegistry = {armSlot, releaseSlot};

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
  if (gInstalling.exchange(true)) return;
  struct sigaction action {};
  action.sa_handler = removeRegisteredAndDie;
  action.sa_mask = interruptSignalSet();  // one cleanup at a time
  action.sa_flags = 0;
  for (const int signal : kInterruptSignals) {
    struct sigaction previous {};
    if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    ::sigaction(signal, &action, nullptr);
  }
  // From here on outputs register their named temporaries instead of holding the
  // signals back.
  publishInterruptRegistry(&kRegistry);
}

}  // namespace arbsuite::arb
