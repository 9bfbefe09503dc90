// Checking at exit that a program's standard output was really written: a full
// disk or a closed pipe must not pass for success.
#pragma once

namespace arbsuite::arb {

// Exit status of a program whose standard output could not be written.
inline constexpr int kExitStandardOutputFailed = 4;

// Registers a check that runs when the program exits (returning from main or
// calling exit): when a write to standard output failed, or flushing it fails, it
// prints messagePrefix, "cannot write standard output: " and the reason on
// standard error and ends the process with kExitStandardOutputFailed. The prefix
// must live until the end of the program (a string literal).
void checkStandardOutputAtExit(const char* messagePrefix);

// Tells the exit check that the program reported a failed write of standard output
// with a message of its own: the check still ends the program with
// kExitStandardOutputFailed, without a second message.
void standardOutputFailureReported();

}  // namespace arbsuite::arb
