// The file handling shared by every reader and writer: the output file (temporary
// put in place at the end, written through to devices and FIFOs, links followed,
// permissions kept), the clash checks between outputs and inputs, the regular-file
// check of the readers, the interrupt cleanup and the exit check of standard output.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "files.h"
#include "interrupt_cleanup.h"
#include "output_file.h"
#include "regular_file.h"
#include "scratch_dir.h"
#include "standard_output.h"

namespace {

namespace fs = std::filesystem;
using arbtest::listing;
using arbtest::readText;
using arbtest::writeText;

constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;

mode_t modeOf(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 ? info.st_mode : 0;
}

// Runs body in a child process and returns its wait status.
int inChild(const std::function<void()>& body) {
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    body();
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return status;
}

bool writeThrough(const std::string& path, const std::string& text,
                  const arbsuite::arb::OutputOptions& options) {
  arbsuite::arb::OutputFile file;
  return file.open(path, options) && file.write(text) && file.commit();
}

// --- the output file, with and without the unnamed temporary -------------------

class FileioOutputFileTest : public testing::TestWithParam<bool> {
 protected:
  arbsuite::arb::OutputOptions options() const { return {GetParam()}; }
  std::string file(const std::string& name) const { return dir_.file(name); }
  arbtest::ScratchDir dir_;
};

TEST_P(FileioOutputFileTest, NewFileAppearsOnlyAtCommitWithTheUmaskPermissions) {
  const mode_t previous = ::umask(027);
  arbsuite::arb::OutputFile out;
  const bool opened = out.open(file("out.arb"), options());
  ::umask(previous);
  ASSERT_TRUE(opened) << std::strerror(out.error());
  ASSERT_TRUE(out.write(std::string(300000, 'x')));  // more than the buffer holds
  // Before the commit the output's name does not exist; an unnamed temporary has no
  // name at all, a named one a short hidden name.
  const std::vector<std::string> during = listing(dir_.path());
  if (GetParam()) {
    EXPECT_TRUE(during.empty());
  } else {
    ASSERT_EQ(during.size(), 1u);
    EXPECT_EQ(during[0].rfind(".arb-", 0), 0u) << during[0];
    EXPECT_LE(during[0].size(), 16u);
  }
  ASSERT_TRUE(out.commit()) << std::strerror(out.error());
  EXPECT_EQ(listing(dir_.path()), std::vector<std::string>{"out.arb"});
  EXPECT_EQ(readText(file("out.arb")), std::string(300000, 'x'));
  EXPECT_EQ(modeOf(file("out.arb")) & 07777, 0640u);
}

TEST_P(FileioOutputFileTest, DiscardLeavesNothingAndKeepsAnExistingFile) {
  writeText(file("out.arb"), "old");
  {
    arbsuite::arb::OutputFile out;
    ASSERT_TRUE(out.open(file("out.arb"), options()));
    ASSERT_TRUE(out.write("new content"));
    out.discard();
  }
  {
    arbsuite::arb::OutputFile out;  // abandoned by its destructor
    ASSERT_TRUE(out.open(file("out.arb"), options()));
    ASSERT_TRUE(out.write("new content"));
  }
  {
    arbsuite::arb::OutputFile out;  // a new file abandoned
    ASSERT_TRUE(out.open(file("new.arb"), options()));
    ASSERT_TRUE(out.write("new content"));
  }
  EXPECT_EQ(listing(dir_.path()), std::vector<std::string>{"out.arb"});
  EXPECT_EQ(readText(file("out.arb")), "old");
}

TEST_P(FileioOutputFileTest, ReplacedFileKeepsItsPermissionsAndOwner) {
  writeText(file("out.arb"), "old");
  ASSERT_EQ(::chmod(file("out.arb").c_str(), 0604), 0);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(file("out.arb").c_str(), kNobody, kNogroup), 0);
  }
  ASSERT_TRUE(writeThrough(file("out.arb"), "new", options()));
  EXPECT_EQ(readText(file("out.arb")), "new");
  struct stat info {};
  ASSERT_EQ(::stat(file("out.arb").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0604u);
  if (root) {
    EXPECT_EQ(info.st_uid, kNobody);
    EXPECT_EQ(info.st_gid, kNogroup);
  }
  EXPECT_EQ(listing(dir_.path()), std::vector<std::string>{"out.arb"});
}

TEST_P(FileioOutputFileTest, ReplacingAFileLeavesItsOtherLinksWithTheOldContent) {
  writeText(file("out.arb"), "old");
  ASSERT_EQ(::link(file("out.arb").c_str(), file("other.arb").c_str()), 0);
  ASSERT_TRUE(writeThrough(file("out.arb"), "new", options()));
  EXPECT_EQ(readText(file("out.arb")), "new");
  EXPECT_EQ(readText(file("other.arb")), "old");
  struct stat info {};
  ASSERT_EQ(::stat(file("other.arb").c_str(), &info), 0);
  EXPECT_EQ(info.st_nlink, 1u);  // the old file lost its name out.arb, and only that
  EXPECT_EQ(listing(dir_.path()), (std::vector<std::string>{"other.arb", "out.arb"}));
}

TEST_P(FileioOutputFileTest, FolderPutInTheOutputsPlaceMeanwhileIsNotReplaced) {
  writeText(file("out.arb"), "old");
  arbsuite::arb::OutputFile out;
  ASSERT_TRUE(out.open(file("out.arb"), options()));
  ASSERT_TRUE(out.write("new"));
  ASSERT_EQ(::unlink(file("out.arb").c_str()), 0);
  ASSERT_EQ(::mkdir(file("out.arb").c_str(), 0755), 0);
  writeText(file("out.arb/inside"), "kept");
  EXPECT_FALSE(out.commit());
  EXPECT_EQ(out.error(), EISDIR) << std::strerror(out.error());
  EXPECT_TRUE(S_ISDIR(modeOf(file("out.arb"))));
  EXPECT_EQ(readText(file("out.arb/inside")), "kept");
  EXPECT_EQ(listing(dir_.path()), std::vector<std::string>{"out.arb"});
}

TEST_P(FileioOutputFileTest, SymbolicLinksAreFollowedLinkByLinkAndStay) {
  fs::create_directories(dir_.path() / "a");
  fs::create_directories(dir_.path() / "b");
  writeText(file("b/target.arb"), "old");
  // Relative targets are relative to the folder of the link that holds them.
  fs::create_symlink("../b/second", dir_.path() / "a" / "first");
  fs::create_symlink("target.arb", dir_.path() / "b" / "second");
  ASSERT_TRUE(writeThrough(file("a/first"), "new", options()));
  EXPECT_TRUE(fs::is_symlink(dir_.path() / "a" / "first"));
  EXPECT_TRUE(fs::is_symlink(dir_.path() / "b" / "second"));
  EXPECT_EQ(readText(file("b/target.arb")), "new");
  EXPECT_EQ(listing(dir_.path() / "b"), (std::vector<std::string>{"second", "target.arb"}));

  // A link to a file that does not exist yet creates the file.
  fs::create_symlink("b/absent.arb", dir_.path() / "dangling");
  ASSERT_TRUE(writeThrough(file("dangling"), "created", options()));
  EXPECT_TRUE(fs::is_symlink(dir_.path() / "dangling"));
  EXPECT_EQ(readText(file("b/absent.arb")), "created");

  // A loop of links is refused.
  fs::create_symlink("loop2", dir_.path() / "loop1");
  fs::create_symlink("loop1", dir_.path() / "loop2");
  arbsuite::arb::OutputFile out;
  EXPECT_FALSE(out.open(file("loop1"), options()));
  EXPECT_EQ(out.error(), ELOOP);
}

TEST_P(FileioOutputFileTest, NamesUpToTheFileNameLimitAreWritten) {
  for (std::size_t length = 245; length <= 255; ++length) {
    const std::string name = std::string(length - 4, 'n') + ".arb";
    ASSERT_TRUE(writeThrough(file(name), "first", options())) << length;
    ASSERT_TRUE(writeThrough(file(name), "second", options())) << length;  // replaced
    EXPECT_EQ(readText(file(name)), "second");
    fs::remove(file(name));
  }
  EXPECT_TRUE(listing(dir_.path()).empty());
}

TEST_P(FileioOutputFileTest, DevicesAndFifosAreWrittenThroughAndStay) {
  // The null device, made in the scratch folder (needs the right to make devices).
  if (::mknod(file("dev.arb").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
    ASSERT_TRUE(writeThrough(file("dev.arb"), "into the null device", options()));
    EXPECT_TRUE(S_ISCHR(modeOf(file("dev.arb"))));
  }
  ASSERT_EQ(::mkfifo(file("fifo.arb").c_str(), 0666), 0);
  std::string received;
  std::thread reader([&] { received = readText(file("fifo.arb")); });
  const std::string text(200000, 'f');  // more than a pipe holds
  const bool written = writeThrough(file("fifo.arb"), text, options());
  reader.join();
  EXPECT_TRUE(written);
  EXPECT_EQ(received, text);
  EXPECT_TRUE(S_ISFIFO(modeOf(file("fifo.arb"))));
}

// A header filled in at the end: writeAt writes over bytes still in the buffer and
// over ones already written, and extends an empty file; a FIFO has no offsets.
TEST_P(FileioOutputFileTest, WriteAtFillsInWhatWasWrittenBefore) {
  arbsuite::arb::OutputFile out;
  ASSERT_TRUE(out.open(file("out.arb"), options()));
  ASSERT_TRUE(out.write(std::string(10, '.')));      // still buffered
  ASSERT_TRUE(out.write(std::string(300000, 'd')));  // written past the buffer
  ASSERT_TRUE(out.writeAt(2, "head", 4));            // over the buffered bytes
  ASSERT_TRUE(out.writeAt(100, "mid", 3));           // over written ones
  ASSERT_TRUE(out.write(std::string("tail")));       // appends after the rest
  ASSERT_TRUE(out.commit()) << std::strerror(out.error());
  std::string expected = std::string(10, '.') + std::string(300000, 'd') + "tail";
  expected.replace(2, 4, "head");
  expected.replace(100, 3, "mid");
  EXPECT_EQ(readText(file("out.arb")), expected);

  arbsuite::arb::OutputFile empty;
  ASSERT_TRUE(empty.open(file("empty.arb"), options()));
  ASSERT_TRUE(empty.writeAt(4, "end", 3));
  ASSERT_TRUE(empty.commit());
  EXPECT_EQ(readText(file("empty.arb")), std::string(4, '\0') + "end");

  ASSERT_EQ(::mkfifo(file("fifo.arb").c_str(), 0666), 0);
  std::string received;
  std::thread reader([&] { received = readText(file("fifo.arb")); });
  arbsuite::arb::OutputFile fifo;
  ASSERT_TRUE(fifo.open(file("fifo.arb"), options()));
  EXPECT_FALSE(fifo.writeAt(0, "x", 1));
  EXPECT_EQ(fifo.error(), ESPIPE);
  fifo.discard();
  reader.join();
  EXPECT_TRUE(received.empty());
}

TEST_P(FileioOutputFileTest, PipesAreWrittenThroughTheirProcLinks) {
  // /dev/stdout and /proc/self/fd/N reach a pipe through links no path resolves.
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  const std::string path = "/proc/self/fd/" + std::to_string(ends[1]);
  const bool written = writeThrough(path, "through the pipe", options());
  ::close(ends[1]);
  char received[64] = {};
  const ssize_t got = ::read(ends[0], received, sizeof received - 1);
  ::close(ends[0]);
  EXPECT_TRUE(written);
  EXPECT_EQ(std::string(received, got > 0 ? static_cast<std::size_t>(got) : 0), "through the pipe");
}

TEST_P(FileioOutputFileTest, FoldersAndSocketsAreRefusedAndStay) {
  fs::create_directories(dir_.path() / "folder.arb");
  arbsuite::arb::OutputFile out;
  EXPECT_FALSE(out.open(file("folder.arb"), options()));
  EXPECT_EQ(out.error(), EISDIR);
  EXPECT_FALSE(out.open(file("missing/out.arb"), options()));
  EXPECT_EQ(out.error(), ENOENT);

  const int server = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(server, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = file("socket.arb");
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  std::strcpy(address.sun_path, socketPath.c_str());
  ASSERT_EQ(::bind(server, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  EXPECT_FALSE(out.open(socketPath, options()));
  EXPECT_EQ(out.error(), ENXIO);
  ::close(server);
  EXPECT_TRUE(S_ISSOCK(modeOf(socketPath)));
  EXPECT_EQ(listing(dir_.path()), (std::vector<std::string>{"folder.arb", "socket.arb"}));
}

TEST_P(FileioOutputFileTest, FileTheUserMayNotOpenForWritingIsRefusedAndKept) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  // A folder anyone may write to, so that only the file's own permissions refuse.
  ASSERT_EQ(::chmod(dir_.path().c_str(), 0777), 0);
  writeText(file("roots.arb"), "root's");
  ASSERT_EQ(::chmod(file("roots.arb").c_str(), 0644), 0);
  writeText(file("readonly.arb"), "read-only");
  ASSERT_EQ(::chown(file("readonly.arb").c_str(), kNobody, kNogroup), 0);
  ASSERT_EQ(::chmod(file("readonly.arb").c_str(), 0444), 0);
  const bool unnamed = GetParam();
  const int status = inChild([&] {
    if (::setgid(kNogroup) != 0 || ::setuid(kNobody) != 0) ::_exit(10);
    for (const char* name : {"roots.arb", "readonly.arb"}) {
      arbsuite::arb::OutputFile out;
      if (out.open(file(name), {unnamed})) ::_exit(11);
      if (out.error() != EACCES) ::_exit(12);
    }
    // A file of its own it may write is replaced, and stays its own.
    if (!writeThrough(file("own.arb"), "own", {unnamed})) ::_exit(13);
    ::_exit(0);
  });
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(readText(file("roots.arb")), "root's");
  EXPECT_EQ(readText(file("readonly.arb")), "read-only");
  EXPECT_EQ(readText(file("own.arb")), "own");
  EXPECT_EQ(listing(dir_.path()),
            (std::vector<std::string>{"own.arb", "readonly.arb", "roots.arb"}));
}

TEST_P(FileioOutputFileTest, FailedWriteLeavesNothingAndKeepsAnExistingFile) {
  writeText(file("out.arb"), "precious");
  const bool unnamed = GetParam();
  const int status = inChild([&] {
    // Writes beyond 64 kB fail (EFBIG) in this process only.
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{65536, 65536};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    int outcome = 0;
    {
      arbsuite::arb::OutputFile out;
      if (!out.open(file("out.arb"), {unnamed})) ::_exit(10);
      const bool written = out.write(std::string(1 << 20, 'x')) && out.commit();
      outcome = !written && out.error() == EFBIG ? 0 : 11;
    }  // abandoned here
    ::_exit(outcome);
  });
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(readText(file("out.arb")), "precious");
  EXPECT_EQ(listing(dir_.path()), std::vector<std::string>{"out.arb"});
}

INSTANTIATE_TEST_SUITE_P(Temporary, FileioOutputFileTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? std::string("Unnamed") : std::string("Named");
                         });

// --- interrupts -------------------------------------------------------------------

class FileioInterruptTest : public testing::TestWithParam<int> {
 protected:
  std::string file(const std::string& name) const { return dir_.file(name); }
  arbtest::ScratchDir dir_;
};

TEST_P(FileioInterruptTest, HandlersRemoveTheRegisteredFilesAndEndByTheSignal) {
  const int signal = GetParam();
  writeText(file("kept.arb"), "kept");
  const int status = inChild([&] {
    arbsuite::arb::installInterruptCleanup();
    writeText(file("samples.tmp"), "samples");
    const arbsuite::arb::InterruptRemoval samples(file("samples.tmp"));
    writeText(file("released.tmp"), "released");
    arbsuite::arb::InterruptRemoval released(file("released.tmp"));
    released.disarm();
    // An output under a named temporary, half written, and one under an unnamed one.
    arbsuite::arb::OutputFile named;
    arbsuite::arb::OutputFile unnamed;
    if (!named.open(file("named.arb"), {false}) || !named.write("half") ||
        !unnamed.open(file("unnamed.arb"), {true}) || !unnamed.write("half")) {
      ::_exit(10);
    }
    ::raise(signal);
    ::_exit(11);
  });
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), signal);
  EXPECT_EQ(listing(dir_.path()), (std::vector<std::string>{"kept.arb", "released.tmp"}));
}

TEST_P(FileioInterruptTest, WithoutHandlersANamedTemporaryHoldsTheSignalUntilItIsInPlace) {
  // Inside a library no handler of this module runs: the named temporary defers the
  // signal instead, so that it is never left behind.
  const int signal = GetParam();
  const int status = inChild([&] {
    arbsuite::arb::OutputFile out;
    if (!out.open(file("out.arb"), {false}) || !out.write("complete")) ::_exit(10);
    ::kill(::getpid(), signal);
    if (!out.commit()) ::_exit(11);  // the signal is delivered at the end of the commit
    ::_exit(12);
  });
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), signal);
  EXPECT_EQ(listing(dir_.path()), std::vector<std::string>{"out.arb"});
  EXPECT_EQ(readText(file("out.arb")), "complete");
}

TEST_P(FileioInterruptTest, RemovalsArmOnlyOnceTheRegistryIsInstalled) {
  // A removal made before the handlers exist is not on the list: the signal leaves
  // its file, and removes only the one registered after the installation.
  const int signal = GetParam();
  const int status = inChild([&] {
    writeText(file("early.tmp"), "early");
    const arbsuite::arb::InterruptRemoval early(file("early.tmp"));
    if (early.armed() || arbsuite::arb::interruptCleanupInstalled()) ::_exit(10);
    arbsuite::arb::installInterruptCleanup();
    if (!arbsuite::arb::interruptCleanupInstalled()) ::_exit(11);
    writeText(file("late.tmp"), "late");
    const arbsuite::arb::InterruptRemoval late(file("late.tmp"));
    if (!late.armed()) ::_exit(12);
    ::raise(signal);
    ::_exit(13);
  });
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), signal);
  EXPECT_EQ(listing(dir_.path()), std::vector<std::string>{"early.tmp"});
}

TEST_P(FileioInterruptTest, SignalIgnoredAtTheStartStaysIgnored) {
  const int signal = GetParam();
  const int status = inChild([&] {
    ::signal(signal, SIG_IGN);
    arbsuite::arb::installInterruptCleanup();
    ::raise(signal);
    ::_exit(7);
  });
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 7);
}

INSTANTIATE_TEST_SUITE_P(Signals, FileioInterruptTest,
                         testing::Values(SIGINT, SIGTERM, SIGHUP, SIGPIPE),
                         [](const testing::TestParamInfo<int>& info) {
                           return std::string(sigabbrev_np(info.param));
                         });

// --- which outputs clash -------------------------------------------------------------

TEST(FileioOutputClash, SameFileByDeviceAndInodeOrSameNewName) {
  arbtest::ScratchDir dir;
  const auto file = [&](const std::string& name) { return dir.file(name); };
  writeText(file("in.csv"), "1,2\n");
  fs::create_symlink("in.csv", dir.path() / "link.arb");
  fs::create_hard_link(file("in.csv"), file("hard.arb"));
  fs::create_directories(dir.path() / "sub");

  EXPECT_TRUE(arbsuite::arb::outputOverwritesInput(file("in.csv"), file("in.csv")));
  EXPECT_TRUE(arbsuite::arb::outputOverwritesInput(file("link.arb"), file("in.csv")));
  EXPECT_TRUE(arbsuite::arb::outputOverwritesInput(file("hard.arb"), file("in.csv")));
  EXPECT_TRUE(arbsuite::arb::outputOverwritesInput(file("sub/../in.csv"), file("in.csv")));
  EXPECT_FALSE(arbsuite::arb::outputOverwritesInput(file("out.arb"), file("in.csv")));
  EXPECT_FALSE(arbsuite::arb::outputOverwritesInput(file("in.csv"), file("absent.csv")));
  EXPECT_FALSE(
      arbsuite::arb::outputOverwritesInput("/dev/null", "/dev/null"));  // not a regular file

  EXPECT_TRUE(arbsuite::arb::outputsClash(file("new.arb"), file("new.arb")));
  EXPECT_TRUE(arbsuite::arb::outputsClash(file("new.arb"), file("sub/../new.arb")));
  EXPECT_TRUE(arbsuite::arb::outputsClash(file("in.csv"), file("link.arb")));
  EXPECT_FALSE(arbsuite::arb::outputsClash(file("new.arb"), file("new.csv")));
  EXPECT_FALSE(arbsuite::arb::outputsClash(file("new.arb"), file("sub/new.arb")));
  EXPECT_FALSE(arbsuite::arb::outputsClash("/dev/null", "/dev/null"));  // a device takes both
}

// --- readers' inputs ------------------------------------------------------------------

TEST(FileioRegularFile, SpecialFilesAreRefusedWithoutBlocking) {
  arbtest::ScratchDir dir;
  ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0666), 0);
  // Without a writer, a blocking open of the FIFO would never return.
  EXPECT_EQ(arbsuite::arb::openRegularFile(dir.file("fifo").c_str()),
            arbsuite::arb::kNotRegularFile);
  EXPECT_EQ(arbsuite::arb::openRegularFile("/dev/zero"), arbsuite::arb::kNotRegularFile);
  EXPECT_EQ(arbsuite::arb::openRegularFile(dir.path().c_str()), arbsuite::arb::kNotRegularFile);
  EXPECT_EQ(arbsuite::arb::openRegularFile(dir.file("absent").c_str()), arbsuite::arb::kCannotOpen);
  EXPECT_EQ(errno, ENOENT);

  writeText(dir.file("plain"), "text");
  const int fd = arbsuite::arb::openRegularFile(dir.file("plain").c_str());
  ASSERT_GE(fd, 0);
  EXPECT_EQ(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
  EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
  ::close(fd);
}

TEST(FileioRegularFile, WholeFileReadsStopAtTheirLimit) {
  arbtest::ScratchDir dir;
  writeText(dir.file("ten"), "0123456789");
  std::string content;
  EXPECT_EQ(arbsuite::arb::readRegularFile(dir.file("ten").c_str(), 10, content),
            arbsuite::arb::ReadStatus::ok);
  EXPECT_EQ(content, "0123456789");
  EXPECT_EQ(arbsuite::arb::readRegularFile(dir.file("ten").c_str(), 9, content),
            arbsuite::arb::ReadStatus::tooLarge);
  EXPECT_TRUE(content.empty());
  EXPECT_EQ(arbsuite::arb::readRegularFile("/dev/zero", 9, content),
            arbsuite::arb::ReadStatus::notRegular);
  EXPECT_EQ(arbsuite::arb::readRegularFile(dir.file("absent").c_str(), 9, content),
            arbsuite::arb::ReadStatus::cannotOpen);
}

// --- standard output ------------------------------------------------------------------

// Runs write in a child whose standard output is `output` and standard error a
// file; returns the wait status and the error text.
int withStandardOutput(const char* output, const std::function<void()>& write, std::string& err) {
  arbtest::ScratchDir dir;
  const std::string errPath = dir.file("err");
  const int status = inChild([&] {
    const int out = ::open(output, O_WRONLY);
    const int errFd = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || errFd < 0) ::_exit(10);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(errFd, STDERR_FILENO);
    arbsuite::arb::checkStandardOutputAtExit("program: ");
    write();
    std::exit(0);
  });
  err = readText(errPath);
  return status;
}

TEST(FileioStandardOutput, AFailedWriteEndsTheProgramWithStandardOutputFailed) {
  std::string err;
  int status = withStandardOutput(
      "/dev/full", [] { std::printf("some output\n"); }, err);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), arbsuite::arb::kExitStandardOutputFailed);
  EXPECT_EQ(err, "program: cannot write standard output: No space left on device\n");

  // Nothing written: nothing failed.
  status = withStandardOutput(
      "/dev/full", [] {}, err);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(err, "");

  status = withStandardOutput(
      "/dev/null", [] { std::printf("some output\n"); }, err);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
