// The link between the interrupt handles every user of fileio compiles in and the
// one registry of paths that only a program (fileio_interrupts) holds: the
// registry's two entry points, published by installInterruptCleanup().
#pragma once

#include <signal.h>

#include <array>
#include <cstddef>

namespace arbsuite::arb {

// The signals the handlers take and a deferral holds back: an interrupt, a
// termination, a hang-up, and SIGPIPE (the reader of a written-through FIFO or of
// standard output went away).
constexpr std::array<int, 4> kInterruptSignals = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// Those signals as a set.
sigset_t interruptSignalSet();

// The entry points of the installed registry. Both are safe to call from any
// thread; neither allocates.
struct InterruptRegistry {
  // Puts a path (length bytes, no terminating zero counted, below PATH_MAX) on the
  // list the handlers remove; returns its slot, or -1 when no slot is free.
  int (*arm)(const char* path, std::size_t length);
  // Takes the path of a slot that arm() returned off the list.
  void (*release)(int slot);
};

// The registry the handlers of this process read, or null while none is installed
// (always inside libseqlink.so and the Python module, which do not link it).
const InterruptRegistry* installedInterruptRegistry();

// Publishes the registry (once, after its handlers are in place); a later call
// keeps the first.
void publishInterruptRegistry(const InterruptRegistry* registry);

}  // namespace arbsuite::arb
