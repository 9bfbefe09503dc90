// The progress report of wavepack, iqsynth and arbtool join, dump and compose, run as
// processes with standard error on a pseudo-terminal or on a pipe: a report line on
// the terminal, none on a pipe unless asked for (then whole lines, no carriage
// returns), none with --quiet, and standard output the same in every case.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "files.h"
#include "little_endian.h"
#include "process.h"
#include "scratch_dir.h"

namespace {

using arbtest::describe;
using arbtest::ScratchDir;

// The test setting that lets the report start at once, so that small jobs show it.
const std::string kAtOnce = "ARBSUITE_PROGRESS_AFTER_MS=0";

struct ChildRun {
  int exitStatus = -1;
  std::string out;
  std::string err;
};

// Runs program in dir with standard output on a pipe and standard error on a
// pseudo-terminal (terminal) or on a pipe; environment adds "NAME=value" settings
// (ARBSUITE_PROGRESS is removed first, so that the caller's own does not count).
ChildRun runWithStandardError(bool terminal, const std::string& program,
                              const std::vector<std::string>& args, const ScratchDir& dir,
                              const std::vector<std::string>& environment) {
  int outPipe[2];
  int errRead = -1;
  int errWrite = -1;
  EXPECT_EQ(::pipe(outPipe), 0);
  if (terminal) {
    EXPECT_EQ(::openpty(&errRead, &errWrite, nullptr, nullptr, nullptr), 0) << std::strerror(errno);
  } else {
    int errPipe[2];
    EXPECT_EQ(::pipe(errPipe), 0);
    errRead = errPipe[0];
    errWrite = errPipe[1];
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(outPipe[1], 1);
    ::dup2(errWrite, 2);
    const int in = ::open("/dev/null", O_RDONLY);
    ::dup2(in, 0);
    ::close(outPipe[0]);
    ::close(errRead);
    if (::chdir(dir.path().c_str()) != 0) ::_exit(127);
    ::unsetenv("ARBSUITE_PROGRESS");
    ::unsetenv("ARBSUITE_PROGRESS_AFTER_MS");
    for (const std::string& setting : environment) ::putenv(const_cast<char*>(setting.c_str()));
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(outPipe[1]);
  ::close(errWrite);
  ChildRun run;
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errRead, POLLIN, 0}};
  std::string* into[2] = {&run.out, &run.err};
  int open = 2;
  while (open > 0) {
    if (::poll(fds, 2, 30000) <= 0) break;
    for (int k = 0; k < 2; ++k) {
      if (fds[k].fd < 0 || fds[k].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = ::read(fds[k].fd, buffer, sizeof buffer);
      if (n > 0) {
        into[k]->append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {  // a pseudo-terminal ends with EIO
        ::close(fds[k].fd);
        fds[k].fd = -1;
        --open;
      }
    }
  }
  for (const pollfd& fd : fds)
    if (fd.fd >= 0) ::close(fd.fd);
  int status = 0;
  ::waitpid(pid, &status, 0);
  run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// The report's lines on a terminal: each "\r" starts a rewrite of the one line.
bool hasTerminalReport(const std::string& err, const std::string& what) {
  return err.find("\r" + what) != std::string::npos && err.find('%') != std::string::npos;
}

std::string describeRun(const ChildRun& run) {
  return "status " + std::to_string(run.exitStatus) + "\nstdout:\n" + run.out + "\nstderr:\n" +
         run.err;
}

// A job of one program, with the files it needs made in the folder first.
struct Job {
  const char* name;
  std::string program;
  std::vector<std::string> args;
  std::string what;  // the start of its report line
  bool quietOption;  // whether it takes --quiet and --progress (wavepack: no)
};

// An .arb file of 100,000 pairs, made by iqsynth (its report is not under test here).
void makeWaveform(const ScratchDir& dir, const std::string& name) {
  const arbtest::ProcessResult made = arbtest::runProcess(
      IQSYNTH_PROGRAM,
      {"-M", "qpsk", "-n", "12500", "-r", "1MHz", "-s", "8", "--seed", "7", "-o", name},
      dir.path());
  ASSERT_EQ(made.exitStatus, 0) << describe(made);
}

// 100,000 pairs of ci16_le samples for wavepack.
void makeRawSamples(const ScratchDir& dir) {
  std::string bytes;
  for (int k = 0; k < 200000; ++k) {
    const auto value = static_cast<std::uint16_t>((k * 37) % 6000 - 3000);
    bytes.push_back(static_cast<char>(value & 0xFF));
    bytes.push_back(static_cast<char>(value >> 8));
  }
  arbtest::writeText(dir.file("in.ci16"), bytes);
}

std::vector<Job> jobs() {
  return {
      {"wavepack",
       WAVEPACK_PROGRAM,
       {"--format", "ci16_le", "-d", "in.ci16", "-o", "w.arb"},
       "wavepack: converting: ",
       false},
      {"iqsynth",
       IQSYNTH_PROGRAM,
       {"-M", "qpsk", "-n", "12500", "-s", "8", "--seed", "3", "-o", "q.arb", "--csv", "q.csv"},
       "iqsynth: ",
       true},
      {"join", ARBTOOL_PROGRAM, {"join", "-o", "j.arb", "a.arb", "a.arb"}, "arbtool join: ", true},
      {"dump", ARBTOOL_PROGRAM, {"dump", "a.arb"}, "writing the samples: ", true},
      {"compose",
       ARBTOOL_PROGRAM,
       {"compose", "-o", "c.arb", "--clock", "16MHz", "a.arb:2MHz"},
       "packing c.arb: ",
       true},
  };
}

class ProgressProcess : public testing::TestWithParam<Job> {
 protected:
  void SetUp() override {
    makeWaveform(dir_, "a.arb");
    makeRawSamples(dir_);
  }
  // Runs the job in the test's folder; each run writes the same files again.
  ChildRun runJob(bool terminal, std::vector<std::string> environment,
                  const std::vector<std::string>& extraArgs = {}) {
    std::vector<std::string> args = GetParam().args;
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    return runWithStandardError(terminal, GetParam().program, args, dir_, environment);
  }

 private:
  ScratchDir dir_;
};

TEST_P(ProgressProcess, ReportsOnATerminalOnlyAndNeverOnStandardOutput) {
  const Job& job = GetParam();
  const ChildRun plain = runJob(false, {});
  ASSERT_EQ(plain.exitStatus, 0) << describeRun(plain);

  // On a pseudo-terminal: the line, rewritten with carriage returns and blanked at the
  // end, and the same standard output as on a pipe.
  const ChildRun shown = runJob(true, {kAtOnce});
  ASSERT_EQ(shown.exitStatus, 0) << describeRun(shown);
  EXPECT_TRUE(hasTerminalReport(shown.err, job.what)) << describeRun(shown);
  EXPECT_EQ(shown.err.back(), '\r') << "the line is blanked at the end";
  EXPECT_EQ(shown.out, plain.out);
  EXPECT_EQ(shown.out.find(job.what), std::string::npos);

  // On a pipe, even with the short delay: exactly what a run without it writes.
  const ChildRun piped = runJob(false, {kAtOnce});
  EXPECT_EQ(piped.err, plain.err);
  EXPECT_EQ(piped.out, plain.out);

  // Silenced on the terminal by --quiet, or by the environment's "off".
  const std::vector<std::string> quiet =
      job.quietOption ? std::vector<std::string>{"--quiet"} : std::vector<std::string>{};
  const ChildRun silent = runJob(
      true, {kAtOnce, "ARBSUITE_PROGRESS=" + std::string(job.quietOption ? "on" : "off")}, quiet);
  ASSERT_EQ(silent.exitStatus, 0) << describeRun(silent);
  EXPECT_EQ(silent.err.find(job.what), std::string::npos) << describeRun(silent);
  EXPECT_EQ(silent.out, plain.out);
}

TEST_P(ProgressProcess, ForcedOnAPipeGivesWholeLines) {
  const Job& job = GetParam();
  const ChildRun plain = runJob(false, {});
  const std::vector<std::string> forced =
      job.quietOption ? std::vector<std::string>{"--progress"} : std::vector<std::string>{};
  // --progress wins over the environment's "off" (wavepack has only the environment).
  const ChildRun lines = runJob(
      false, {kAtOnce, "ARBSUITE_PROGRESS=" + std::string(job.quietOption ? "off" : "on")}, forced);
  ASSERT_EQ(lines.exitStatus, 0) << describeRun(lines);
  EXPECT_EQ(lines.err.find('\r'), std::string::npos) << describeRun(lines);
  // Every line is a report line or one the program writes anyway.
  std::size_t reports = 0;
  std::size_t start = 0;
  for (std::size_t end; (end = lines.err.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = lines.err.substr(start, end - start);
    if (line.rfind(job.what, 0) == 0) {
      ++reports;
    } else {
      EXPECT_NE(plain.err.find(line + "\n"), std::string::npos) << line;
    }
  }
  EXPECT_GE(reports, 1u) << describeRun(lines);
  EXPECT_NE(lines.err.find(job.what), std::string::npos) << describeRun(lines);
  EXPECT_EQ(lines.err.back(), '\n');
  EXPECT_EQ(lines.out, plain.out);
}

INSTANTIATE_TEST_SUITE_P(Programs, ProgressProcess, testing::ValuesIn(jobs()),
                         [](const testing::TestParamInfo<Job>& info) { return info.param.name; });

// The report waits a second of work before its first line: a short job on a
// terminal shows none.
TEST(ProgressProcessDelay, AShortJobShowsNothing) {
  ScratchDir dir;
  makeWaveform(dir, "a.arb");
  const ChildRun run =
      runWithStandardError(true, ARBTOOL_PROGRAM, {"dump", "a.arb", "-o", "d.csv"}, dir, {});
  ASSERT_EQ(run.exitStatus, 0) << describeRun(run);
  EXPECT_EQ(run.err, "");
}

// A dump of a file of several read pieces is one job: one report over all of them,
// not a report per piece (each of which would start over and never last a second).
TEST(ProgressProcessDelay, ADumpOfManyPiecesIsOneReport) {
  ScratchDir dir;
  const arbtest::ProcessResult made = arbtest::runProcess(
      IQSYNTH_PROGRAM,
      {"-M", "qpsk", "-n", "400000", "-r", "1MHz", "-s", "8", "--seed", "7", "-o", "big.arb"},
      dir.path());
  ASSERT_EQ(made.exitStatus, 0) << describe(made);
  const auto start = std::chrono::steady_clock::now();
  const ChildRun run = runWithStandardError(
      false, ARBTOOL_PROGRAM, {"dump", "big.arb", "-o", "d.bin", "--format", "ci16_le"}, dir,
      {kAtOnce, "ARBSUITE_PROGRESS=on"});
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_EQ(run.exitStatus, 0) << describeRun(run);
  std::size_t lines = 0;
  for (std::size_t at = run.err.find("writing d.bin: "); at != std::string::npos;
       at = run.err.find("writing d.bin: ", at + 1)) {
    ++lines;
  }
  // Forced reports come a second apart: the first at once, then one a second.
  EXPECT_GE(lines, 1u) << describeRun(run);
  EXPECT_LE(static_cast<double>(lines), 1 + std::ceil(seconds)) << describeRun(run);
}

}  // namespace
