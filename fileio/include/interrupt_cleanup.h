// Cleaning up after an interrupted run. A program installs handlers for SIGINT,
// SIGTERM and SIGHUP (and SIGPIPE: the reader of a written-through FIFO or of
// standard output went away) that remove the files registered here (temporary
// sample files, named temporaries of outputs) and then end the process by the same
// signal, so that the shell sees 128 + the signal number. The handlers are async-signal-safe:
// the list is a fixed table of paths guarded by atomic flags.
#pragma once

#include <signal.h>

#include <cstddef>
#include <string>

namespace arbsuite::arb {

// Installs the handlers (once; signals ignored when the program started stay
// ignored). Each program that writes files calls it at its start. It belongs to
// the registry of paths (the library fileio_interrupts), which only the programs
// link: one registry in a process, in what installs the handlers.
void installInterruptCleanup();

// Whether a registry is installed for this copy of the module. Inside
// libseqlink.so and the Python module, which do not link one, it never is:
// removals do not arm and outputs hold the signals back instead.
bool interruptCleanupInstalled();

// Holds those signals back in the calling thread while it lives; one
// that arrives meanwhile is delivered when the deferral ends. Used around steps
// that must not be cut in two (creating and registering a file, publishing an
// output under its name).
class InterruptDeferral {
 public:
  InterruptDeferral();
  ~InterruptDeferral();
  InterruptDeferral(const InterruptDeferral&) = delete;
  InterruptDeferral& operator=(const InterruptDeferral&) = delete;

 private:
  sigset_t previous_;
  bool active_ = false;
};

// A path that the handlers remove while the registration lives. Registering can
// fail (no registry installed, no free slot, a path longer than PATH_MAX); armed()
// says whether it did.
// Create the file and register it inside one InterruptDeferral, so that no signal
// falls between the two.
class InterruptRemoval {
 public:
  InterruptRemoval() = default;
  explicit InterruptRemoval(const std::string& path);
  ~InterruptRemoval() { disarm(); }
  InterruptRemoval(InterruptRemoval&& other) noexcept : slot_(other.slot_) { other.slot_ = -1; }
  InterruptRemoval& operator=(InterruptRemoval&& other) noexcept;
  InterruptRemoval(const InterruptRemoval&) = delete;
  InterruptRemoval& operator=(const InterruptRemoval&) = delete;

  bool armed() const { return slot_ >= 0; }
  // Takes the path off the list (the file itself stays).
  void disarm();

 private:
  int slot_ = -1;
};

}  // namespace arbsuite::arb
