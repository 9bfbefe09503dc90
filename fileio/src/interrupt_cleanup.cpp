// The interrupt handles every user of fileio compiles in (see interrupt_cleanup.h):
// the deferral of signals and the removal handle, which registers through the
// process's registry once installInterruptCleanup() has published it.
#include "interrupt_cleanup.h"

#include <atomic>

#include "interrupt_registry.h"

namespace arbsuite::arb {
namespace {

std::atomic<const InterruptRegistry*> gRegistry{nullptr};

}  // namespace

sigset_t interruptSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : kInterruptSignals) sigaddset(&set, signal);
  return set;
}

const InterruptRegistry* installedInterruptRegistry() {
  return gRegistry.load(std::memory_order_acquire);
}

void publishInterruptRegistry(const InterruptRegistry* registry) {
  const InterruptRegistry* none = nullptr;
  gRegistry.compare_exchange_strong(none, registry, std::memory_order_acq_rel);
}

bool interruptCleanupInstalled() { return installedInterruptRegistry() != nullptr; }

InterruptDeferral::InterruptDeferral() {
  const sigset_t set = interruptSignalSet();
  active_ = ::pthread_sigmask(SIG_BLOCK, &set, &previous_) == 0;
}

InterruptDeferral::~InterruptDeferral() {
  if (active_) ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

InterruptRemoval::InterruptRemoval(const std::string& path) {
  const InterruptRegistry* registry = installedInterruptRegistry();
  if (registry != nullptr) slot_ = registry->arm(path.c_str(), path.size());
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
  // An armed slot came from the registry, which stays installed once published.
  installedInterruptRegistry()->release(slot_);
  slot_ = -1;
}

}  // namespace arbsuite::arb
