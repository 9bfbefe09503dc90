// wavepack, iqsynth and arbtool run as processes against what an adversarial user
// gives them: outputs that are devices, FIFOs, sockets, links, files of other
// users or with long names; interrupts; outputs that are inputs; a standard output
// that cannot be written; truncated files; clocks the instrument does not play;
// FIFOs as inputs.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "files.h"
#include "process.h"
#include "scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using arbtest::describe;
using arbtest::listing;
using arbtest::ProcessOptions;
using arbtest::ProcessResult;
using arbtest::readText;
using arbtest::RunningProcess;
using arbtest::writeText;

constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;
constexpr double kTimeout = 60;  // seconds; a process still running then hangs

mode_t modeOf(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 ? info.st_mode : 0;
}

enum class Program { wavepack, iqsynth, arbtool };

const char* programPath(Program program) {
  switch (program) {
    case Program::wavepack:
      return WAVEPACK_PROGRAM;
    case Program::iqsynth:
      return IQSYNTH_PROGRAM;
    case Program::arbtool:
      return ARBTOOL_PROGRAM;
  }
  return "";
}

// A scratch folder holding the inputs every case uses, with its own temporary folder
// (TMPDIR of the programs run in it).
class Workspace {
 public:
  Workspace() {
    fs::create_directories(tmp());
    std::string csv = "I,Q\n";
    for (int k = 0; k < 255; ++k) {  // an odd count: the data gets its padding
      csv += std::to_string(std::sin(0.1 * k)) + "," + std::to_string(std::cos(0.07 * k)) + "\n";
    }
    writeText(file("in.csv"), csv);
  }

  std::string file(const std::string& name) const { return dir_.file(name); }
  fs::path path() const { return dir_.path(); }
  fs::path tmp() const { return dir_.path() / "tmp"; }

  ProcessOptions options() const {
    ProcessOptions options;
    options.workingDirectory = dir_.path().string();
    options.environment = {"TMPDIR=" + tmp().string()};
    options.timeoutSeconds = kTimeout;
    return options;
  }
  ProcessResult run(Program program, const std::vector<std::string>& args,
                    ProcessOptions options) const {
    return arbtest::runProcess(programPath(program), args, options);
  }
  ProcessResult run(Program program, const std::vector<std::string>& args) const {
    return run(program, args, options());
  }

  // seg.arb: the CSV input packed by wavepack (255 pairs at 1 MHz).
  void makeSegment(const std::string& name = "seg.arb") const {
    const ProcessResult r = run(Program::wavepack, {"-d", "in.csv", "-f", "1MHz", "-o", name});
    ASSERT_EQ(r.exitStatus, 0) << describe(r);
  }

 private:
  arbtest::ScratchDir dir_;
};

// --- outputs of every kind, for every writer ---------------------------------------

struct Writer {
  const char* name;
  Program program;
  std::vector<std::string> args;  // "OUT" stands for the output path
  int failure;                    // exit status when the output cannot be written
  bool arb;                       // the output is an .arb file (else CSV text)
};

void PrintTo(const Writer& w, std::ostream* out) { *out << w.name; }

std::vector<std::string> withOutput(const Writer& writer, const std::string& output) {
  std::vector<std::string> args = writer.args;
  std::replace(args.begin(), args.end(), std::string("OUT"), output);
  return args;
}

const Writer kWriters[] = {
    {"wavepack", Program::wavepack, {"-d", "in.csv", "-o", "OUT"}, 1, true},
    {"iqsynth_arb", Program::iqsynth, {"-M", "qpsk", "-n", "16", "-s", "4", "-o", "OUT"}, 4, true},
    {"iqsynth_csv",
     Program::iqsynth,
     {"-M", "qpsk", "-n", "16", "-s", "4", "--csv", "OUT"},
     4,
     false},
    {"arbtool_join",
     Program::arbtool,
     {"join", "-o", "OUT", "--config", "c.txt", "seg.arb", "blank:5"},
     3,
     true},
    {"arbtool_dump", Program::arbtool, {"dump", "seg.arb", "-o", "OUT"}, 4, false},
};

// Checks that bytes look like what the writer writes.
void expectOutputOf(const Writer& writer, const std::string& bytes) {
  if (writer.arb) {
    ASSERT_GT(bytes.size(), 208u);
    EXPECT_EQ(bytes.substr(4, 4), std::string("ARB\0", 4));
  } else {
    ASSERT_FALSE(bytes.empty());
    EXPECT_THAT(bytes, ::testing::HasSubstr(","));
    EXPECT_EQ(bytes.back(), '\n');
  }
}

class HostOutputKinds : public testing::TestWithParam<Writer> {
 protected:
  void SetUp() override { space_.makeSegment(); }
  ProcessResult write(const std::string& output) {
    return space_.run(GetParam().program, withOutput(GetParam(), output));
  }
  Workspace space_;
};

TEST_P(HostOutputKinds, CharacterDeviceIsWrittenThroughAndStays) {
  // The null device's numbers, as a node in the scratch folder.
  if (::mknod(space_.file("dev.arb").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
    GTEST_SKIP() << "cannot make a device node here: " << std::strerror(errno);
  }
  const ProcessResult r = write("dev.arb");
  EXPECT_EQ(r.exitStatus, 0) << describe(r);
  EXPECT_TRUE(S_ISCHR(modeOf(space_.file("dev.arb"))));
}

TEST_P(HostOutputKinds, FifoIsWrittenThroughAndStays) {
  ASSERT_EQ(::mkfifo(space_.file("fifo.arb").c_str(), 0666), 0);
  RunningProcess reader("/bin/cat", {space_.file("fifo.arb")});
  const ProcessResult r = write("fifo.arb");
  const ProcessResult received = reader.waitFor(kTimeout);
  EXPECT_EQ(r.exitStatus, 0) << describe(r);
  EXPECT_EQ(received.exitStatus, 0) << describe(received);
  expectOutputOf(GetParam(), received.out);
  EXPECT_TRUE(S_ISFIFO(modeOf(space_.file("fifo.arb"))));
}

TEST_P(HostOutputKinds, SocketIsRefusedAndStays) {
  const int server = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(server, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string path = space_.file("sock.arb");
  ASSERT_LT(path.size(), sizeof address.sun_path);
  std::strcpy(address.sun_path, path.c_str());
  ASSERT_EQ(::bind(server, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  const ProcessResult r = write("sock.arb");
  ::close(server);
  EXPECT_EQ(r.exitStatus, GetParam().failure) << describe(r);
  EXPECT_TRUE(S_ISSOCK(modeOf(path)));
}

TEST_P(HostOutputKinds, SymbolicLinkStaysAndItsTargetIsReplaced) {
  fs::create_directories(space_.path() / "out");
  writeText(space_.file("out/target.arb"), "old");
  fs::create_symlink("out/target.arb", space_.path() / "link.arb");
  const ProcessResult r = write("link.arb");
  EXPECT_EQ(r.exitStatus, 0) << describe(r);
  EXPECT_TRUE(fs::is_symlink(space_.path() / "link.arb"));
  expectOutputOf(GetParam(), readText(space_.file("out/target.arb")));
  EXPECT_EQ(listing(space_.path() / "out"), std::vector<std::string>{"target.arb"});
}

TEST_P(HostOutputKinds, NamesUpTo255BytesAreWritten) {
  for (const std::size_t length : {245u, 250u, 255u}) {
    const std::string name = std::string(length - 4, 'n') + ".arb";
    const ProcessResult r = write(name);
    EXPECT_EQ(r.exitStatus, 0) << length << " " << describe(r);
    expectOutputOf(GetParam(), readText(space_.file(name)));
    fs::remove(space_.file(name));
  }
  for (const std::string& name : listing(space_.path())) {
    EXPECT_FALSE(name.starts_with(".arb-") || name.size() >= 245) << name << " left behind";
  }
}

TEST_P(HostOutputKinds, ReplacedFileKeepsItsPermissionsOwnerAndGroup) {
  writeText(space_.file("kept.arb"), "old");
  ASSERT_EQ(::chmod(space_.file("kept.arb").c_str(), 0600), 0);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(space_.file("kept.arb").c_str(), kNobody, kNogroup), 0);
  }
  const ProcessResult r = write("kept.arb");
  EXPECT_EQ(r.exitStatus, 0) << describe(r);
  struct stat info {};
  ASSERT_EQ(::stat(space_.file("kept.arb").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  if (root) {
    EXPECT_EQ(info.st_uid, kNobody);
    EXPECT_EQ(info.st_gid, kNogroup);
  }
  expectOutputOf(GetParam(), readText(space_.file("kept.arb")));
}

TEST_P(HostOutputKinds, NewFileGetsTheUmaskPermissions) {
  const mode_t previous = ::umask(027);  // inherited by the program
  const ProcessResult r = write("new.arb");
  ::umask(previous);
  EXPECT_EQ(r.exitStatus, 0) << describe(r);
  EXPECT_EQ(modeOf(space_.file("new.arb")) & 07777, 0640u);
}

INSTANTIATE_TEST_SUITE_P(Writers, HostOutputKinds, testing::ValuesIn(kWriters),
                         [](const testing::TestParamInfo<Writer>& info) {
                           return std::string(info.param.name);
                         });

// --- as an unprivileged user ----------------------------------------------------------

// Copies of the programs and libraries in a folder every user may read, for runs as
// nobody (the build folder need not be readable by others).
class HostUnprivileged : public testing::TestWithParam<Writer> {
 protected:
  static void SetUpTestSuite() {
    if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0) return;
    copies_ = std::make_unique<arbtest::ScratchDir>();
    const fs::path bin = copies_->path() / "bin";
    const fs::path lib = copies_->path() / "lib";
    fs::create_directories(bin);
    fs::create_directories(lib);
    for (const char* program : {WAVEPACK_PROGRAM, IQSYNTH_PROGRAM, ARBTOOL_PROGRAM}) {
      fs::copy_file(program, bin / fs::path(program).filename());
    }
    // The programs find the libraries in ../lib, as installed: the file
    // lib<name>.so.<version> with its links lib<name>.so.<major> (the SONAME the
    // programs link) and lib<name>.so (the name the libraries are loaded by).
    for (const char* library : {SEQLINK_LIBRARY, WAVECRYPT_LIBRARY, IQSYNTH_LIBRARY}) {
      const std::string file = fs::path(library).filename().string();
      fs::copy_file(library, lib / file);
      const std::size_t so = file.find(".so");
      const std::string unversioned = file.substr(0, so + 3);
      const std::string soname = file.substr(0, file.find('.', so + 4));
      if (soname != file) fs::create_symlink(file, lib / soname);
      if (unversioned != file) fs::create_symlink(soname, lib / unversioned);
    }
    for (const fs::path& p : {copies_->path(), bin, lib}) ::chmod(p.c_str(), 0755);
  }
  static void TearDownTestSuite() { copies_.reset(); }

  void SetUp() override {
    if (!copies_) GTEST_SKIP() << "runs as nobody need root and /usr/bin/setpriv";
    space_.makeSegment();
    // Everyone may create files in the folder: only the file's own permissions refuse.
    ::chmod(space_.path().c_str(), 0777);
    ::chmod(space_.tmp().c_str(), 0777);
    for (const char* input : {"in.csv", "seg.arb"}) ::chmod(space_.file(input).c_str(), 0644);
  }

  ProcessResult runAsNobody(const std::vector<std::string>& args) {
    const std::string program =
        (copies_->path() / "bin" / fs::path(programPath(GetParam().program)).filename()).string();
    std::vector<std::string> all = {"--reuid=nobody", "--regid=nogroup", "--clear-groups", "--",
                                    program};
    all.insert(all.end(), args.begin(), args.end());
    return arbtest::runProcess("/usr/bin/setpriv", all, space_.options());
  }

  static std::unique_ptr<arbtest::ScratchDir> copies_;
  Workspace space_;
};
std::unique_ptr<arbtest::ScratchDir> HostUnprivileged::copies_;

TEST_P(HostUnprivileged, ExistingFileTheUserMayNotWriteIsRefusedAndKept) {
  // Root's file (0644) and nobody's own read-only file (0444): a plain open for
  // writing fails for both, so the writer refuses both.
  writeText(space_.file("roots.arb"), "root's");
  ASSERT_EQ(::chmod(space_.file("roots.arb").c_str(), 0644), 0);
  writeText(space_.file("readonly.arb"), "read-only");
  ASSERT_EQ(::chown(space_.file("readonly.arb").c_str(), kNobody, kNogroup), 0);
  ASSERT_EQ(::chmod(space_.file("readonly.arb").c_str(), 0444), 0);
  const std::vector<std::string> before = listing(space_.path());
  for (const char* name : {"roots.arb", "readonly.arb"}) {
    const ProcessResult r = runAsNobody(withOutput(GetParam(), name));
    EXPECT_EQ(r.exitStatus, GetParam().failure) << name << " " << describe(r);
  }
  EXPECT_EQ(readText(space_.file("roots.arb")), "root's");
  EXPECT_EQ(readText(space_.file("readonly.arb")), "read-only");
  std::vector<std::string> after = listing(space_.path());
  std::erase(after, "c.txt");           // the join's configuration
  std::erase(after, "iqSynthRun.log");  // the synthesis library's log
  EXPECT_EQ(after, before);

  // A file the user may write is replaced, and stays as it was made.
  writeText(space_.file("shared.arb"), "shared");
  ASSERT_EQ(::chmod(space_.file("shared.arb").c_str(), 0666), 0);
  const ProcessResult r = runAsNobody(withOutput(GetParam(), "shared.arb"));
  EXPECT_EQ(r.exitStatus, 0) << describe(r);
  expectOutputOf(GetParam(), readText(space_.file("shared.arb")));
  EXPECT_EQ(modeOf(space_.file("shared.arb")) & 07777, 0666u);
}

INSTANTIATE_TEST_SUITE_P(Writers, HostUnprivileged, testing::ValuesIn(kWriters),
                         [](const testing::TestParamInfo<Writer>& info) {
                           return std::string(info.param.name);
                         });

// --- interrupts -----------------------------------------------------------------------

// Waits until check() holds or the process ends; true when check() held.
bool waitUntil(RunningProcess& process, const std::function<bool()>& check) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline) {
    if (check()) return true;
    if (process.ended()) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return false;
}

// A file in folder whose name starts with prefix and whose size is size.
bool fileOfSize(const fs::path& folder, const std::string& prefix, std::uintmax_t size) {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with(prefix) && entry.file_size(error) == size && !error) return true;
  }
  return false;
}

// Whether the process holds a file in folder open other than those named.
bool holdsNewFileIn(pid_t pid, const fs::path& folder, const std::vector<std::string>& known) {
  std::error_code error;
  const std::string prefix = fs::canonical(folder, error).string() + "/";
  for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
    const std::string target = fs::read_symlink(entry.path(), error).string();
    if (error || !target.starts_with(prefix)) continue;
    const std::string name = target.substr(prefix.size());
    if (std::find(known.begin(), known.end(), name) == known.end()) return true;
  }
  return false;
}

class HostInterrupt : public testing::TestWithParam<int> {
 protected:
  void expectEndedBy(const ProcessResult& r) {
    EXPECT_EQ(r.signal, GetParam()) << describe(r);  // the shell shows 128 + the signal
    EXPECT_FALSE(r.timedOut);
  }
  Workspace space_;
};

TEST_P(HostInterrupt, WavepackRemovesItsTemporarySampleFile) {
  // The output is a FIFO without a reader: the packer waits at its open, after the
  // temporary sample file (255 pairs, 1020 bytes) is complete.
  ASSERT_EQ(::mkfifo(space_.file("fifo.arb").c_str(), 0666), 0);
  RunningProcess process(WAVEPACK_PROGRAM, {"-d", "in.csv", "-o", "fifo.arb"}, space_.options());
  ASSERT_TRUE(waitUntil(process, [&] { return fileOfSize(space_.tmp(), "PN", 1020); }));
  process.kill(GetParam());
  expectEndedBy(process.waitFor(kTimeout));
  EXPECT_TRUE(listing(space_.tmp()).empty());
  EXPECT_TRUE(S_ISFIFO(modeOf(space_.file("fifo.arb"))));
}

TEST(HostBrokenPipe, WavepackRemovesItsTemporarySampleFile) {
  // The reader of the FIFO output takes 10 bytes and goes; the rest of the 160 kB
  // file meets a broken pipe (SIGPIPE), which must not leave the samples behind.
  Workspace space;
  std::string csv;
  for (int k = 0; k < 40000; ++k)
    csv += std::to_string(k % 100) + "," + std::to_string(k % 7) + "\n";
  writeText(space.file("long.csv"), csv);
  ASSERT_EQ(::mkfifo(space.file("fifo.arb").c_str(), 0666), 0);
  RunningProcess reader("/usr/bin/head", {"-c", "10", space.file("fifo.arb")});
  const ProcessResult r = space.run(Program::wavepack, {"-d", "long.csv", "-o", "fifo.arb"});
  reader.waitFor(kTimeout);
  EXPECT_EQ(r.signal, SIGPIPE) << describe(r);
  EXPECT_TRUE(listing(space.tmp()).empty());
}

// Starts run() until the process holds a new file open in the output folder, stops
// it there, sends the signal and returns the result. A run that ends first (too
// fast to catch) is tried again.
std::optional<ProcessResult> interruptWhileWriting(
    const std::function<std::unique_ptr<RunningProcess>()>& start, const fs::path& folder,
    const std::vector<std::string>& known, int signal) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    std::unique_ptr<RunningProcess> process = start();
    if (!waitUntil(*process, [&] { return holdsNewFileIn(process->pid(), folder, known); })) {
      process->waitFor(kTimeout);
      continue;
    }
    process->kill(SIGSTOP);
    if (!holdsNewFileIn(process->pid(), folder, known)) {
      process->kill(SIGCONT);
      process->waitFor(kTimeout);
      continue;
    }
    process->kill(signal);
    process->kill(SIGCONT);
    return process->waitFor(kTimeout);
  }
  return std::nullopt;
}

TEST_P(HostInterrupt, WavepackLeavesNoPartialOutputAndKeepsTheOldOne) {
  // 4 million pairs of raw doubles: the output is written for long enough to be
  // caught while it is open.
  std::vector<double> values(8 << 20);
  for (std::size_t k = 0; k < values.size(); ++k) values[k] = std::sin(0.001 * k);
  std::vector<std::uint8_t> bytes(values.size() * sizeof(double));
  std::memcpy(bytes.data(), values.data(), bytes.size());
  arbtest::writeBytes(space_.file("big.bin"), bytes);
  fs::create_directories(space_.path() / "out");
  writeText(space_.file("out/w.arb"), "old");
  const std::optional<ProcessResult> r = interruptWhileWriting(
      [&] {
        return std::make_unique<RunningProcess>(
            WAVEPACK_PROGRAM, std::vector<std::string>{"-b", "-d", "big.bin", "-o", "out/w.arb"},
            space_.options());
      },
      space_.path() / "out", {"w.arb"}, GetParam());
  ASSERT_TRUE(r) << "the conversion was never caught writing its output";
  expectEndedBy(*r);
  EXPECT_EQ(listing(space_.path() / "out"), std::vector<std::string>{"w.arb"});
  EXPECT_EQ(readText(space_.file("out/w.arb")), "old");
  EXPECT_TRUE(listing(space_.tmp()).empty());
}

TEST_P(HostInterrupt, IqsynthLeavesNoPartialOutputAndKeepsTheOldOne) {
  // The samples are packed from memory: an interrupt while the output is written
  // leaves the old file, and nothing in $TMPDIR at any time.
  fs::create_directories(space_.path() / "out");
  writeText(space_.file("out/s.arb"), "old");
  const std::optional<ProcessResult> r = interruptWhileWriting(
      [&] {
        return std::make_unique<RunningProcess>(
            IQSYNTH_PROGRAM,
            std::vector<std::string>{"-M", "qpsk", "-n", "1000000", "-s", "4", "-o", "out/s.arb"},
            space_.options());
      },
      space_.path() / "out", {"s.arb"}, GetParam());
  ASSERT_TRUE(r) << "the synthesis was never caught writing its output";
  expectEndedBy(*r);
  EXPECT_EQ(listing(space_.path() / "out"), std::vector<std::string>{"s.arb"});
  EXPECT_EQ(readText(space_.file("out/s.arb")), "old");
  EXPECT_TRUE(listing(space_.tmp()).empty());
}

TEST_P(HostInterrupt, ArbtoolJoinLeavesNoPartialOutputAndKeepsTheOldOne) {
  // 16 million pairs of silence: 64 MB written by the library.
  space_.makeSegment();
  const ProcessResult config =
      space_.run(Program::arbtool, {"join", "-o", "out/j.arb", "--config", "c.txt",
                                    "--write-config-only", "seg.arb", "blank:16000000"});
  ASSERT_EQ(config.exitStatus, 0) << describe(config);
  fs::create_directories(space_.path() / "out");
  writeText(space_.file("out/j.arb"), "old");
  const std::optional<ProcessResult> r = interruptWhileWriting(
      [&] {
        return std::make_unique<RunningProcess>(
            ARBTOOL_PROGRAM, std::vector<std::string>{"join", "c.txt"}, space_.options());
      },
      space_.path() / "out", {"j.arb"}, GetParam());
  ASSERT_TRUE(r) << "the join was never caught writing its output";
  expectEndedBy(*r);
  EXPECT_EQ(listing(space_.path() / "out"), std::vector<std::string>{"j.arb"});
  EXPECT_EQ(readText(space_.file("out/j.arb")), "old");
}

TEST_P(HostInterrupt, ArbtoolJoinRemovesTheConfigurationItWrote) {
  // The configuration out/j-segments.txt is written before the library writes the
  // 64 MB of the output; an interrupted join leaves neither.
  space_.makeSegment();
  fs::create_directories(space_.path() / "out");
  const std::optional<ProcessResult> r = interruptWhileWriting(
      [&] {
        // A try that ran to its end before it was caught has joined: start afresh.
        writeText(space_.file("out/j.arb"), "old");
        fs::remove(space_.file("out/j-segments.txt"));
        return std::make_unique<RunningProcess>(
            ARBTOOL_PROGRAM,
            std::vector<std::string>{"join", "-o", "out/j.arb", "seg.arb", "blank:16000000"},
            space_.options());
      },
      space_.path() / "out", {"j.arb", "j-segments.txt"}, GetParam());
  ASSERT_TRUE(r) << "the join was never caught writing its output";
  expectEndedBy(*r);
  EXPECT_EQ(listing(space_.path() / "out"), std::vector<std::string>{"j.arb"});
  EXPECT_EQ(readText(space_.file("out/j.arb")), "old");
}

INSTANTIATE_TEST_SUITE_P(Signals, HostInterrupt, testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const testing::TestParamInfo<int>& info) {
                           return std::string(sigabbrev_np(info.param));
                         });

// --- outputs that are inputs ------------------------------------------------------------

struct Clash {
  const char* name;
  Program program;
  std::vector<std::string> args;
  int exitStatus;
  const char* messagePart;
};

void PrintTo(const Clash& c, std::ostream* out) { *out << c.name; }

class HostOutputIsInput : public testing::TestWithParam<Clash> {};

TEST_P(HostOutputIsInput, IsRefusedBeforeAnythingIsWritten) {
  Workspace space;
  space.makeSegment();
  writeText(space.file("x.arb"), readText(space.file("in.csv")));  // CSV under an .arb name
  fs::create_symlink("in.csv", space.path() / "link.arb");
  writeText(space.file("q.csv"), "1\n2\n");
  writeText(space.file("i.csv"), "3\n4\n");
  fs::create_hard_link(space.file("q.csv"), space.file("q-hard.arb"));
  writeText(space.file("ring.arb"), "1,0\n0,1\n-1,0\n0,-1\n");
  writeText(space.file("bits.txt"), "BIN 0110\n");
  writeText(space.file("taps.txt"), "0.25 0.5 0.25\n");
  const std::string config =
      "{NUMBER SEGMENTS:1}{SEGMENT_0:\"seg.arb\",1e6,255,1}{LEVEL MODE:UNCHANGED}"
      "{CLOCKRATE MODE:UNCHANGED}{USER CLOCKRATE:0}{OUTPUT FILE:%s}{SEGMENT MARKER:0}"
      "{FIRST SEGMENT RESTART MARKER:0}{EVERY SEGMENT RESTART MARKER:0}\n";
  for (const char* output : {"seg.arb", "self.txt"}) {
    std::string line = config;
    line.replace(line.find("%s"), 2, output);
    writeText(space.file(output == std::string("seg.arb") ? "to-seg.txt" : "self.txt"), line);
  }
  std::vector<std::pair<std::string, std::string>> files;
  std::vector<std::string> before = listing(space.path());
  for (const std::string& name : before) {
    if (fs::is_regular_file(space.path() / name)) {
      files.emplace_back(name, readText(space.file(name)));
    }
  }

  const ProcessResult r = space.run(GetParam().program, GetParam().args);
  EXPECT_EQ(r.exitStatus, GetParam().exitStatus) << describe(r);
  EXPECT_THAT(r.err, ::testing::HasSubstr(GetParam().messagePart)) << r.err;
  for (const auto& [name, content] : files) {
    EXPECT_EQ(readText(space.file(name)), content) << name << " changed";
  }
  std::vector<std::string> after = listing(space.path());
  std::erase(after, "iqSynthRun.log");  // the synthesis library's log
  std::erase(before, "iqSynthRun.log");
  EXPECT_EQ(after, before);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostOutputIsInput,
    testing::Values(
        Clash{"WavepackSameName", Program::wavepack, {"-d", "x.arb", "-o", "x.arb"}, 1, "input"},
        Clash{"WavepackThroughALink",
              Program::wavepack,
              {"-d", "in.csv", "-o", "link.arb"},
              1,
              "input"},
        Clash{"WavepackHardLinkOfTheQFile",
              Program::wavepack,
              {"-i", "i.csv", "-q", "q.csv", "-o", "q-hard.arb"},
              1,
              "input"},
        Clash{"IqsynthArbAndCsvSameFile",
              Program::iqsynth,
              {"-M", "qpsk", "-o", "w.arb", "--csv", "w.arb"},
              1,
              "same file"},
        Clash{"IqsynthArbAndCsvSameFileByAnotherPath",
              Program::iqsynth,
              {"-M", "qpsk", "-o", "tmp/../w.arb", "--csv", "w.arb"},
              1,
              "same file"},
        Clash{"IqsynthOverTheConstellation",
              Program::iqsynth,
              {"-M", "user", "--constellation", "ring.arb", "-o", "ring.arb"},
              1,
              "--constellation"},
        Clash{"IqsynthOverTheTaps",
              Program::iqsynth,
              {"-f", "user", "--taps", "taps.txt", "--csv", "taps.txt"},
              1,
              "--taps"},
        Clash{"IqsynthOverTheDataList",
              Program::iqsynth,
              {"-d", "file:bits.txt", "--csv", "bits.txt"},
              1,
              "--data"},
        Clash{"ArbtoolConfigurationOverASegment",
              Program::arbtool,
              {"join", "-o", "j.arb", "--config", "seg.arb", "seg.arb"},
              1,
              "overwrite the input seg.arb"},
        Clash{"ArbtoolOutputOverASegment",
              Program::arbtool,
              {"join", "-o", "seg.arb", "seg.arb"},
              1,
              "overwrite the input seg.arb"},
        Clash{"ArbtoolOutputOverItsConfiguration",
              Program::arbtool,
              {"join", "-o", "j.arb", "--config", "j.arb", "seg.arb"},
              1,
              "same file"},
        Clash{"ArbtoolDumpOverItsInput",
              Program::arbtool,
              {"dump", "seg.arb", "-o", "seg.arb"},
              1,
              "input"},
        Clash{"ArbtoolConfiguredOutputOverASegment",
              Program::arbtool,
              {"join", "to-seg.txt"},
              3,
              "overwrite the input seg.arb"},
        Clash{"ArbtoolConfiguredOutputOverTheConfiguration",
              Program::arbtool,
              {"join", "self.txt"},
              3,
              "overwrite the input self.txt"}),
    [](const testing::TestParamInfo<Clash>& info) { return std::string(info.param.name); });

// --- standard output ------------------------------------------------------------------

struct OutputRun {
  const char* name;
  Program program;
  std::vector<std::string> args;
};

void PrintTo(const OutputRun& c, std::ostream* out) { *out << c.name; }

class HostFullStandardOutput : public testing::TestWithParam<OutputRun> {};

TEST_P(HostFullStandardOutput, IsAnErrorWithStandardOutputFailed) {
  Workspace space;
  space.makeSegment();
  ProcessOptions options = space.options();
  options.standardOutput = "/dev/full";
  const ProcessResult r = space.run(GetParam().program, GetParam().args, options);
  EXPECT_EQ(r.exitStatus, 4) << describe(r);
  // The reason is known when the write fails at the end (it is lost when the stream
  // was flushed before and dropped its data).
  EXPECT_THAT(r.err, ::testing::HasSubstr("cannot write")) << r.err;
  // One message, not one per layer that noticed.
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Runs, HostFullStandardOutput,
    testing::Values(
        OutputRun{"WavepackConversion", Program::wavepack, {"-d", "in.csv", "-o", "w.arb"}},
        OutputRun{"WavepackVersion", Program::wavepack, {"--version"}},
        OutputRun{"WavepackCopyright", Program::wavepack, {"-c"}},
        OutputRun{"IqsynthRun", Program::iqsynth, {"-M", "qpsk", "-o", "w.arb"}},
        OutputRun{"IqsynthHelp", Program::iqsynth, {"--help"}},
        OutputRun{"ArbtoolInfo", Program::arbtool, {"info", "seg.arb"}},
        OutputRun{"ArbtoolDump", Program::arbtool, {"dump", "seg.arb"}},
        OutputRun{"ArbtoolJoin", Program::arbtool, {"join", "-o", "j.arb", "seg.arb"}},
        OutputRun{"ArbtoolVersion", Program::arbtool, {"--version"}}),
    [](const testing::TestParamInfo<OutputRun>& info) { return std::string(info.param.name); });

// --- truncated files ----------------------------------------------------------------------

struct Cut {
  const char* command;
  int bytesShort;  // bytes missing at the end of the file
};

void PrintTo(const Cut& c, std::ostream* out) { *out << c.command << " " << c.bytesShort; }

class HostTruncatedFile : public testing::TestWithParam<Cut> {};

TEST_P(HostTruncatedFile, Is2WithTheSizes) {
  // 255 pairs: 1,020 bytes of data padded to 1,024 after the text header.
  Workspace space;
  space.makeSegment();
  const std::string whole = readText(space.file("seg.arb"));
  writeText(space.file("cut.arb"), whole.substr(0, whole.size() - GetParam().bytesShort));
  const std::string command = GetParam().command;
  const ProcessResult r = command == "dump"
                              ? space.run(Program::arbtool, {"dump", "cut.arb"})
                              : space.run(Program::arbtool, {"join", "-o", "j.arb", "cut.arb"});
  EXPECT_EQ(r.exitStatus, 2) << describe(r);
  EXPECT_THAT(r.err, ::testing::HasSubstr("cut.arb: truncated")) << r.err;
  EXPECT_THAT(r.err, ::testing::HasSubstr("need " + std::to_string(whole.size()) + " bytes"))
      << r.err;
  EXPECT_THAT(r.err,
              ::testing::HasSubstr("has " + std::to_string(whole.size() - GetParam().bytesShort)))
      << r.err;
  EXPECT_FALSE(fs::exists(space.file("j.arb")));
}

INSTANTIATE_TEST_SUITE_P(Cuts, HostTruncatedFile,
                         testing::Values(Cut{"dump", 1}, Cut{"dump", 4}, Cut{"dump", 8},
                                         Cut{"dump", 200}, Cut{"join", 1}, Cut{"join", 4},
                                         Cut{"join", 64}),
                         [](const testing::TestParamInfo<Cut>& info) {
                           return std::string(info.param.command) + "_" +
                                  std::to_string(info.param.bytesShort) + "_bytes_short";
                         });

// --- clocks ---------------------------------------------------------------------------------

struct ClockRun {
  const char* name;
  Program program;
  std::vector<std::string> args;
  int exitStatus;
  const char* messagePart;
};

void PrintTo(const ClockRun& c, std::ostream* out) { *out << c.name; }

class HostClocks : public testing::TestWithParam<ClockRun> {};

TEST_P(HostClocks, OnlyPlayableClocksAreWritten) {
  Workspace space;
  space.makeSegment();
  writeText(space.file("zero.txt"),
            "{NUMBER SEGMENTS:1}{SEGMENT_0:\"seg.arb\",0,255,1}{LEVEL MODE:UNCHANGED}"
            "{CLOCKRATE MODE:UNCHANGED}{USER CLOCKRATE:0}{OUTPUT FILE:j.arb}{SEGMENT MARKER:0}"
            "{FIRST SEGMENT RESTART MARKER:0}{EVERY SEGMENT RESTART MARKER:0}\n");
  const ProcessResult r = space.run(GetParam().program, GetParam().args);
  EXPECT_EQ(r.exitStatus, GetParam().exitStatus) << describe(r);
  EXPECT_THAT(r.err, ::testing::HasSubstr(GetParam().messagePart)) << r.err;
  if (GetParam().exitStatus != 0) {
    EXPECT_FALSE(fs::exists(space.file("w.arb")));
    EXPECT_FALSE(fs::exists(space.file("j.arb")));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, HostClocks,
    testing::Values(
        ClockRun{"Iqsynth240MHz",
                 Program::iqsynth,
                 {"-r", "30MHz", "-s", "8", "-o", "w.arb"},
                 1,
                 "1 kHz to 50 MHz, or exactly 100 MHz"},
        ClockRun{"Iqsynth2Hz",
                 Program::iqsynth,
                 {"-r", "0.5", "-o", "w.arb"},
                 1,
                 "1 kHz to 50 MHz, or exactly 100 MHz"},
        ClockRun{"IqsynthNoiseAt60MHz",
                 Program::iqsynth,
                 {"-m", "noise", "--noise-rate", "60MHz", "-o", "w.arb"},
                 1,
                 "1 kHz to 50 MHz"},
        ClockRun{"IqsynthCombAt800Hz",
                 Program::iqsynth,
                 {"-m", "mccw", "--carriers", "3", "--spacing", "100", "-o", "w.arb"},
                 1,
                 "800Hz"},
        ClockRun{
            "Iqsynth100MHz", Program::iqsynth, {"-r", "12.5MHz", "-s", "8", "-o", "w.arb"}, 0, ""},
        ClockRun{"ArbtoolUserModeWithoutUserClock",
                 Program::arbtool,
                 {"join", "-o", "j.arb", "--clock", "user", "seg.arb"},
                 1,
                 "--user-clock"},
        ClockRun{"ArbtoolUserClockTooHigh",
                 Program::arbtool,
                 {"join", "-o", "j.arb", "--clock", "user", "--user-clock", "60MHz", "seg.arb"},
                 1,
                 "1 kHz to 50 MHz"},
        ClockRun{"ArbtoolUserClockTooLow",
                 Program::arbtool,
                 {"join", "-o", "j.arb", "--clock", "user", "--user-clock", "999", "seg.arb"},
                 1,
                 "1 kHz to 50 MHz"},
        ClockRun{"ArbtoolBlankClockTooLow",
                 Program::arbtool,
                 {"join", "-o", "j.arb", "seg.arb", "blank:5@2"},
                 1,
                 "1 kHz to 50 MHz"},
        ClockRun{"ArbtoolBlankClockTooHigh",
                 Program::arbtool,
                 {"join", "-o", "j.arb", "seg.arb", "blank:5@60MHz"},
                 1,
                 "1 kHz to 50 MHz"},
        ClockRun{"ArbtoolBlankWithoutAClock",
                 Program::arbtool,
                 {"join", "-o", "j.arb", "blank:5"},
                 1,
                 "blank:COUNT@CLOCK"},
        ClockRun{"ArbtoolConfiguredZeroClock", Program::arbtool, {"join", "zero.txt"}, 3, "0 Hz"},
        ClockRun{"ArbtoolClocksWithUnits",
                 Program::arbtool,
                 {"join", "-o", "j.arb", "--clock", "user", "--user-clock", "2.5MHz", "seg.arb",
                  "blank:5@2.5k"},
                 0,
                 ""}),
    [](const testing::TestParamInfo<ClockRun>& info) { return std::string(info.param.name); });

// --- FIFOs as inputs --------------------------------------------------------------------------

struct FifoRun {
  const char* name;
  Program program;
  std::vector<std::string> args;  // "p" is a FIFO without a writer
  int exitStatus;
};

void PrintTo(const FifoRun& c, std::ostream* out) { *out << c.name; }

class HostFifoInput : public testing::TestWithParam<FifoRun> {};

TEST_P(HostFifoInput, IsRefusedWithoutWaitingForAWriter) {
  Workspace space;
  ASSERT_EQ(::mkfifo(space.file("p").c_str(), 0666), 0);
  const ProcessResult r = space.run(GetParam().program, GetParam().args);
  EXPECT_FALSE(r.timedOut) << "the program waited on the FIFO";
  EXPECT_EQ(r.exitStatus, GetParam().exitStatus) << describe(r);
  EXPECT_TRUE(S_ISFIFO(modeOf(space.file("p"))));
}

INSTANTIATE_TEST_SUITE_P(
    Runs, HostFifoInput,
    testing::Values(
        FifoRun{"ArbtoolInfo", Program::arbtool, {"info", "p"}, 2},
        FifoRun{"ArbtoolDump", Program::arbtool, {"dump", "p"}, 2},
        FifoRun{"ArbtoolJoinSegment", Program::arbtool, {"join", "-o", "j.arb", "p"}, 2},
        FifoRun{"ArbtoolJoinConfiguration", Program::arbtool, {"join", "p"}, 3},
        FifoRun{"IqsynthConstellation",
                Program::iqsynth,
                {"-M", "user", "--constellation", "p", "--csv", "w.csv"},
                2},
        FifoRun{
            "IqsynthTaps", Program::iqsynth, {"-f", "user", "--taps", "p", "--csv", "w.csv"}, 2},
        FifoRun{"IqsynthDataList", Program::iqsynth, {"-d", "file:p", "--csv", "w.csv"}, 3}),
    [](const testing::TestParamInfo<FifoRun>& info) { return std::string(info.param.name); });

// --- what the multi-segment writer refuses ---------------------------------------------------

TEST(HostArbtoolJoin, SegmentNameWithABraceIsRefusedBeforeAnythingIsWritten) {
  // A brace in a name would break the text header's items.
  Workspace space;
  space.makeSegment("a{b.arb");
  writeText(space.file("brace.txt"),
            "{NUMBER SEGMENTS:1}{SEGMENT_0:\"a{b.arb\",1e6,255,1}{LEVEL MODE:UNCHANGED}"
            "{CLOCKRATE MODE:UNCHANGED}{USER CLOCKRATE:0}{OUTPUT FILE:j.arb}{SEGMENT MARKER:0}"
            "{FIRST SEGMENT RESTART MARKER:0}{EVERY SEGMENT RESTART MARKER:0}\n");
  const ProcessResult r = space.run(Program::arbtool, {"join", "brace.txt"});
  EXPECT_EQ(r.exitStatus, 3) << describe(r);
  EXPECT_THAT(r.err, ::testing::HasSubstr("(status 2)")) << r.err;
  EXPECT_FALSE(fs::exists(space.file("j.arb")));
}

TEST(HostArbtoolJoin, AFailedJoinRemovesTheConfigurationItWroteButNotOneTheUserNamed) {
  // damaged.arb has a changed letter in its text header: its count, clock and size
  // are those of a whole file, so the join writes its configuration, but the library
  // finds the header's CRC wrong when it reads the samples.
  Workspace space;
  space.makeSegment();
  std::string damaged = readText(space.file("seg.arb"));
  const std::size_t at = damaged.find("Digital");
  ASSERT_NE(at, std::string::npos);
  damaged[at + 6] = 'z';
  writeText(space.file("damaged.arb"), damaged);
  const std::vector<std::string> inputs = listing(space.path());

  ProcessResult r = space.run(Program::arbtool, {"join", "-o", "j.arb", "seg.arb", "damaged.arb"});
  EXPECT_EQ(r.exitStatus, 3) << describe(r);
  EXPECT_THAT(r.out, ::testing::HasSubstr("Wrote segment configuration j-segments.txt")) << r.out;
  EXPECT_THAT(r.err, ::testing::HasSubstr("(status 241)")) << r.err;
  EXPECT_EQ(listing(space.path()), inputs);

  // One left by an earlier join goes as well: this join had replaced it.
  r = space.run(Program::arbtool, {"join", "-o", "j.arb", "seg.arb"});
  ASSERT_EQ(r.exitStatus, 0) << describe(r);
  r = space.run(Program::arbtool, {"join", "-o", "j.arb", "seg.arb", "damaged.arb"});
  EXPECT_EQ(r.exitStatus, 3) << describe(r);
  EXPECT_FALSE(fs::exists(space.file("j-segments.txt")));
  fs::remove(space.file("j.arb"));

  r = space.run(Program::arbtool,
                {"join", "-o", "j.arb", "--config", "named.txt", "seg.arb", "damaged.arb"});
  EXPECT_EQ(r.exitStatus, 3) << describe(r);
  EXPECT_THAT(readText(space.file("named.txt")), ::testing::HasSubstr("damaged.arb"));
  fs::remove(space.file("named.txt"));
  EXPECT_EQ(listing(space.path()), inputs);
  EXPECT_TRUE(listing(space.tmp()).empty());
}

TEST(HostArbtoolJoin, WithoutConfigTheListGoesBesideOnlyARegularOutputWithRoomForItsName) {
  // The list OUT-segments.txt sits beside a regular output. Beside a FIFO it would be a
  // stray file next to the device (as root, /dev/null-segments.txt in /dev), and for a
  // 250-byte output name the list's name passes the folder's limit: both joins use a
  // private temporary list instead and leave nothing behind.
  Workspace space;
  space.makeSegment();
  const std::vector<std::string> segments = {"seg.arb", "blank:5"};
  auto join = [&](const std::string& output) {
    std::vector<std::string> args = {"join", "-o", output};
    args.insert(args.end(), segments.begin(), segments.end());
    return space.run(Program::arbtool, args);
  };

  ProcessResult r = join("plain.arb");
  EXPECT_EQ(r.exitStatus, 0) << describe(r);
  EXPECT_TRUE(fs::exists(space.file("plain-segments.txt")));

  ASSERT_EQ(::mkfifo(space.file("fifo.arb").c_str(), 0666), 0);
  RunningProcess reader("/bin/cat", {space.file("fifo.arb")});
  r = join("fifo.arb");
  const ProcessResult received = reader.waitFor(kTimeout);
  EXPECT_EQ(r.exitStatus, 0) << describe(r);
  EXPECT_EQ(received.out.substr(4, 4), std::string("ARB\0", 4));
  EXPECT_FALSE(fs::exists(space.file("fifo-segments.txt")));

  const std::string longName = std::string(246, 'n') + ".arb";
  r = join(longName);
  EXPECT_EQ(r.exitStatus, 0) << describe(r);
  EXPECT_EQ(readText(space.file(longName)).substr(4, 4), std::string("ARB\0", 4));

  // The scratch folder holds its own tmp/ ($TMPDIR of the programs), left empty.
  EXPECT_EQ(listing(space.path()),
            (std::vector<std::string>{"fifo.arb", "in.csv", longName, "plain-segments.txt",
                                      "plain.arb", "seg.arb", "tmp"}));
  EXPECT_TRUE(listing(space.tmp()).empty());

  // Naming only the output of a list that cannot sit beside it is a usage error.
  r = space.run(Program::arbtool, {"join", "-o", longName, "--write-config-only", "seg.arb"});
  EXPECT_EQ(r.exitStatus, 1) << describe(r);
  EXPECT_THAT(r.err, ::testing::HasSubstr("--config")) << r.err;
}

}  // namespace
