// Runs the suite's programs as child processes, as a user's shell would, and
// collects their exit status, standard output and standard error.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace arbtest {

struct ProcessResult {
  int exitStatus = -1;    // -1 when the process did not exit normally
  int signal = 0;         // the signal that ended it, if one did
  bool timedOut = false;  // killed after ProcessOptions::timeoutSeconds
  std::string out;
  std::string err;
};

struct ProcessOptions {
  std::string workingDirectory;          // empty: the test's own
  std::vector<std::string> environment;  // "NAME=value" set, or "NAME" removed
  std::string standardInput;             // file given as standard input; empty: /dev/null
  std::string standardOutput;            // file given as standard output; empty: captured
  double timeoutSeconds = 0;             // runProcess kills the process after it; 0: none
};

// Starts program with args and waits for it.
ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args,
                         const ProcessOptions& options = {});
// The same in a working folder.
ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingDirectory);

// A process left running, for tests that signal it; waited for on destruction.
class RunningProcess {
 public:
  RunningProcess(const std::string& program, const std::vector<std::string>& args,
                 const ProcessOptions& options = {});
  ~RunningProcess();
  RunningProcess(const RunningProcess&) = delete;
  RunningProcess& operator=(const RunningProcess&) = delete;

  pid_t pid() const { return pid_; }
  void kill(int signal);
  ProcessResult wait();
  // Waits at most seconds; a process still running then is killed (SIGKILL) and its
  // result says timedOut.
  ProcessResult waitFor(double seconds);
  // Whether the process has ended (without reaping it).
  bool ended() const;

 private:
  pid_t pid_ = -1;
  std::string outPath_;
  std::string errPath_;
  bool waited_ = false;
};

}  // namespace arbtest
