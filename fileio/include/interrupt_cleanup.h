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
// ignored). Each program that writes files calls it at its start.
void installInterruptCleanup();

// Whether this copy of the module installed its handlers: the file handling is
// compiled into each program and into libseqlink.so, whose copy never does.
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
// fail (no free slot, a path longer than PATH_MAX); armed() says whether it did.
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
