// The file handling as libseqlink.so and the Python module have it: fileio_core
// without the interrupt registry. Removals never arm, and an output's named
// temporary holds the signals back until it is put in place or removed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "files.h"
#include "interrupt_cleanup.h"
#include "output_file.h"
#include "scratch_dir.h"

namespace {

using arbtest::listing;
using arbtest::readText;
using arbtest::writeText;

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

TEST(FileioWithoutRegistry, RemovalsNeverArmAndNothingIsInstalled) {
  arbtest::ScratchDir dir;
  writeText(dir.file("a.tmp"), "a");
  EXPECT_FALSE(arbsuite::arb::interruptCleanupInstalled());
  arbsuite::arb::InterruptRemoval removal(dir.file("a.tmp"));
  EXPECT_FALSE(removal.armed());
  arbsuite::arb::InterruptRemoval moved(std::move(removal));
  EXPECT_FALSE(moved.armed());
  moved.disarm();  // nothing to take off
  EXPECT_FALSE(moved.armed());
  EXPECT_FALSE(arbsuite::arb::interruptCleanupInstalled());
  EXPECT_EQ(readText(dir.file("a.tmp")), "a");
}

class FileioWithoutRegistrySignal : public testing::TestWithParam<int> {
 protected:
  arbtest::ScratchDir dir_;
};

TEST_P(FileioWithoutRegistrySignal, ASignalRemovesNothingAndEndsTheProcess) {
  const int signal = GetParam();
  const int status = inChild([&] {
    writeText(dir_.file("kept.tmp"), "kept");
    const arbsuite::arb::InterruptRemoval removal(dir_.file("kept.tmp"));
    ::raise(signal);
    ::_exit(10);
  });
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), signal);
  EXPECT_EQ(listing(dir_.path()), std::vector<std::string>{"kept.tmp"});
}

TEST_P(FileioWithoutRegistrySignal, ANamedTemporaryHoldsTheSignalUntilTheOutputIsInPlace) {
  const int signal = GetParam();
  writeText(dir_.file("out.arb"), "old");
  const int status = inChild([&] {
    arbsuite::arb::OutputFile out;
    if (!out.open(dir_.file("out.arb"), {false}) || !out.write("new")) ::_exit(10);
    ::kill(::getpid(), signal);
    if (!out.commit()) ::_exit(11);  // the signal arrives once the output is in place
    ::_exit(12);
  });
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), signal);
  EXPECT_EQ(listing(dir_.path()), std::vector<std::string>{"out.arb"});
  EXPECT_EQ(readText(dir_.file("out.arb")), "new");
}

TEST_P(FileioWithoutRegistrySignal, ADiscardedNamedTemporaryGoesBeforeTheSignal) {
  const int signal = GetParam();
  writeText(dir_.file("out.arb"), "old");
  const int status = inChild([&] {
    arbsuite::arb::OutputFile out;
    if (!out.open(dir_.file("out.arb"), {false}) || !out.write("half")) ::_exit(10);
    ::kill(::getpid(), signal);
    out.discard();
    ::_exit(12);
  });
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), signal);
  EXPECT_EQ(listing(dir_.path()), std::vector<std::string>{"out.arb"});
  EXPECT_EQ(readText(dir_.file("out.arb")), "old");
}

INSTANTIATE_TEST_SUITE_P(Signals, FileioWithoutRegistrySignal,
                         testing::Values(SIGINT, SIGTERM, SIGHUP, SIGPIPE),
                         [](const testing::TestParamInfo<int>& info) {
                           return std::string(sigabbrev_np(info.param));
                         });

}  // namespace
