// The exit check of standard output (see standard_output.h).
#include "standard_output.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace arbsuite::arb {
namespace {

const char* gPrefix = "";
bool gReported = false;

extern "C" void checkStandardOutput() {
  errno = 0;
  // Streams synchronised with C stdio (the default) write through stdout, so its
  // error flag covers std::cout as well.
  std::cout.flush();
  bool failed = std::cout.bad() || std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
  int error = errno;
  if (!failed) {
    // Some file systems report a failed write only when a descriptor is closed.
    // Closing a duplicate reports it and keeps stdout usable for what runs later.
    const int copy = ::dup(STDOUT_FILENO);
    if (copy >= 0 && ::close(copy) != 0 && errno != EINTR) {
      failed = true;
      error = errno;
    }
  }
  if (!failed) return;
  if (gReported) ::_exit(kExitStandardOutputFailed);
  std::fprintf(stderr, "%scannot write standard output: %s\n", gPrefix,
               error != 0 ? std::strerror(error) : "write error");
  std::fflush(stderr);
  ::_exit(kExitStandardOutputFailed);
}

}  // namespace

void checkStandardOutputAtExit(const char* messagePrefix) {
  gPrefix = messagePrefix != nullptr ? messagePrefix : "";
  static const bool registered = std::atexit(checkStandardOutput) == 0;
  (void)registered;
}

void standardOutputFailureReported() { gReported = true; }

}  // namespace arbsuite::arb
