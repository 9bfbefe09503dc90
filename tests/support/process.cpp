// Child processes through posix_spawn rather than fork: a sanitizer build maps
// terabytes of shadow memory, which makes copying page tables for fork slow.
// Standard output and error go to files in a private folder, read back at the end.
#include "process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "files.h"

extern char** environ;

namespace arbtest {
namespace {

std::string makeCaptureFolder() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/arbtest-io-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

// The parent's environment with the changes of options applied.
std::vector<std::string> childEnvironment(const std::vector<std::string>& changes) {
  std::vector<std::string> result;
  for (char** e = environ; *e != nullptr; ++e) result.emplace_back(*e);
  for (const std::string& change : changes) {
    const std::size_t equals = change.find('=');
    const std::string name = change.substr(0, equals);
    std::erase_if(result, [&](const std::string& entry) {
      return entry.compare(0, name.size(), name) == 0 && entry.size() > name.size() &&
             entry[name.size()] == '=';
    });
    if (equals != std::string::npos) result.push_back(change);
  }
  return result;
}

pid_t spawn(const std::string& program, const std::vector<std::string>& args,
            const ProcessOptions& options, const std::string& outPath, const std::string& errPath) {
  std::vector<std::string> argvStorage{program};
  argvStorage.insert(argvStorage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argvStorage) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStorage = childEnvironment(options.environment);
  std::vector<char*> envp;
  for (auto& e : envStorage) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!options.workingDirectory.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, options.workingDirectory.c_str());
  }
  const std::string input = options.standardInput.empty() ? "/dev/null" : options.standardInput;
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, input.c_str(), O_RDONLY, 0);
  if (options.standardOutput.empty()) {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, options.standardOutput.c_str(),
                                     O_WRONLY, 0);
  }
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  // The child starts with the default signal actions, whatever the test runner set.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t all;
  sigfillset(&all);
  posix_spawnattr_setsigdefault(&attributes, &all);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  pid_t pid = -1;
  const int spawned =
      ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), envp.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0)
    throw std::runtime_error("cannot start " + program + ": " + std::strerror(spawned));
  return pid;
}

}  // namespace

RunningProcess::RunningProcess(const std::string& program, const std::vector<std::string>& args,
                               const ProcessOptions& options) {
  const std::string folder = makeCaptureFolder();
  outPath_ = folder + "/stdout";
  errPath_ = folder + "/stderr";
  pid_ = spawn(program, args, options, outPath_, errPath_);
}

RunningProcess::~RunningProcess() {
  if (!waited_) {
    ::kill(pid_, SIGKILL);
    wait();
  }
}

void RunningProcess::kill(int signal) { ::kill(pid_, signal); }

ProcessResult RunningProcess::wait() {
  ProcessResult result;
  if (waited_) return result;
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  waited_ = true;
  if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  result.out = readText(outPath_);
  result.err = readText(errPath_);
  std::error_code ignored;
  std::filesystem::remove_all(std::filesystem::path(outPath_).parent_path(), ignored);
  return result;
}

ProcessResult RunningProcess::waitFor(double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!ended() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const bool late = !ended();
  if (late) ::kill(pid_, SIGKILL);
  ProcessResult result = wait();
  result.timedOut = late;
  return result;
}

bool RunningProcess::ended() const {
  if (waited_) return true;
  siginfo_t info{};
  // WNOWAIT leaves the process to wait().
  return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == pid_;
}

ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args,
                         const ProcessOptions& options) {
  RunningProcess process(program, args, options);
  return options.timeoutSeconds > 0 ? process.waitFor(options.timeoutSeconds) : process.wait();
}

ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingDirectory) {
  ProcessOptions options;
  options.workingDirectory = workingDirectory;
  return runProcess(program, args, options);
}

}  // namespace arbtest
