// The run-time binding of the crypto library, seen from a host: libseqlink.so is
// copied into a scratch folder, with no libwavecrypt.so beside it or with a
// stand-in, and loaded with dlopen in a child process (so that every case starts
// with nothing loaded).
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "arb_readers.h"
#include "multiseg_writer.h"
#include "seqlink.h"
#include "seqlink_test_support.h"

namespace {

using seqtest::Bytes;
using seqtest::putU32;
using seqtest::ScratchDir;
namespace fs = std::filesystem;

struct Api {
  decltype(&::readArbFileInf) readInf;
  decltype(&::readArbFileData) readData;
  decltype(&::crtMultiSegArb) create;
};

// A version-1 file with a valid header CRC whose sample bytes are stored as they
// are (the recording stand-in's cipher is the identity).
Bytes plainVersion1File(const std::vector<std::int16_t>& values) {
  const std::string text = "{Clock:1000HZ}{Value:1.0}";
  Bytes file(208, 0);
  putU32(file, 0,
         seqtest::zlibCrc(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  putU32(file, 20, 1);
  putU32(file, 200, static_cast<std::uint32_t>(values.size() / 2));
  putU32(file, 204, static_cast<std::uint32_t>(208 + text.size()));
  file.insert(file.end(), text.begin(), text.end());
  const Bytes data = seqtest::plainSamples(values);
  file.insert(file.end(), data.begin(), data.end());
  return file;
}

class SeqlinkBindingTest : public ::testing::Test {
 protected:
  // Copies libseqlink.so, and the stand-in as libwavecrypt.so when given, into the
  // scratch folder.
  void install(const char* standin) {
    fs::copy_file(SEQLINK_LIBRARY, dir_.path() / "libseqlink.so");
    if (standin != nullptr) fs::copy_file(standin, dir_.path() / "libwavecrypt.so");
    wave_ = dir_.file("wave.arb");
    arbtest::writeBytes(wave_, plainVersion1File(values_));
  }

  // Runs body in a child process with the copied library loaded; returns the
  // child's exit status (the seqlink status the body returns).
  int inChild(const std::function<int(const Api&)>& body) {
    const pid_t child = fork();
    if (child == 0) {
      void* library = dlopen((dir_.path() / "libseqlink.so").c_str(), RTLD_NOW | RTLD_LOCAL);
      if (library == nullptr) _exit(200);
      Api api{reinterpret_cast<decltype(&::readArbFileInf)>(dlsym(library, "readArbFileInf")),
              reinterpret_cast<decltype(&::readArbFileData)>(dlsym(library, "readArbFileData")),
              reinterpret_cast<decltype(&::crtMultiSegArb)>(dlsym(library, "crtMultiSegArb"))};
      if (!api.readInf || !api.readData || !api.create) _exit(201);
      _exit(body(api));
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
  }

  int readWave(const Api& api) {
    std::vector<short> out(values_.size());
    const int status =
        api.readData(wave_.c_str(), static_cast<int>(values_.size() / 2), out.data());
    if (status == 0 && !std::equal(out.begin(), out.end(), values_.begin())) return 210;
    return status;
  }

  int createMulti(const Api& api) {
    std::vector<char> names(256, '\0');
    std::strcpy(names.data(), "Blank");
    const double clock = 1e8, energy = 0;
    const int count = static_cast<int>(values_.size() / 2);
    return api.create(names.data(), &clock, &count, &energy, 1, values_.data(),
                      static_cast<unsigned>(count), 0, output().c_str());
  }

  std::string output() const { return dir_.file("multi.arb"); }

  ScratchDir dir_;
  std::string wave_;
  std::vector<std::int16_t> values_ = seqtest::rampValues(5, 3000);
};

TEST_F(SeqlinkBindingTest, LoadsFromAnyFolderWithAllSixFunctions) {
  install(nullptr);
  EXPECT_EQ(inChild([](const Api&) { return 0; }), 0);
}

TEST_F(SeqlinkBindingTest, WithoutTheCryptoLibraryIsCryptoLoadFailed) {
  install(nullptr);
  EXPECT_EQ(inChild([&](const Api& api) { return readWave(api); }), SEQLINK_CRYPTO_LOAD_FAILED);
  EXPECT_EQ(inChild([&](const Api& api) { return createMulti(api); }), SEQLINK_CRYPTO_LOAD_FAILED);
  EXPECT_FALSE(fs::exists(output()));
  // What needs no crypto still works.
  EXPECT_EQ(inChild([&](const Api& api) {
              std::vector<short> out(4);
              return api.readData("Blank", 2, out.data());
            }),
            SEQLINK_OK);
  EXPECT_EQ(inChild([&](const Api& api) {
              int count = 0;
              double clock = 0, energy = 0;
              return api.readInf(wave_.c_str(), &count, &clock, &energy);
            }),
            SEQLINK_OK);
}

TEST_F(SeqlinkBindingTest, MissingFunctionIsCryptoMissingFunction) {
  install(STANDIN_CRC_ONLY_FILE);
  EXPECT_EQ(inChild([&](const Api& api) { return readWave(api); }),
            SEQLINK_CRYPTO_MISSING_FUNCTION);  // CRC found, unwrap not
  EXPECT_EQ(inChild([&](const Api& api) { return createMulti(api); }),
            SEQLINK_CRYPTO_MISSING_FUNCTION);
  EXPECT_FALSE(fs::exists(output()));
}

TEST_F(SeqlinkBindingTest, FailingFunctionIsCryptoCallFailed) {
  install(STANDIN_FAILING_FILE);
  EXPECT_EQ(inChild([&](const Api& api) { return readWave(api); }), SEQLINK_CRYPTO_CALL_FAILED);
  EXPECT_EQ(inChild([&](const Api& api) { return createMulti(api); }), SEQLINK_CRYPTO_CALL_FAILED);
  EXPECT_FALSE(fs::exists(output()));
}

class SeqlinkRecordingBindingTest : public SeqlinkBindingTest {
 protected:
  void SetUp() override {
    install(STANDIN_RECORDING_FILE);
    setenv("SEQLINK_STANDIN_LOG", log().c_str(), 1);
  }
  void TearDown() override { unsetenv("SEQLINK_STANDIN_LOG"); }
  std::string log() const { return dir_.file("calls.log"); }
  std::string events() const {
    std::ifstream in(log());
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }
};

TEST_F(SeqlinkRecordingBindingTest, ReaderLoadsCallsAndReleasesAroundEveryCall) {
  // Statuses whose low 16 bits are zero are successes.
  EXPECT_EQ(inChild([&](const Api& api) { return readWave(api); }), SEQLINK_OK);
  EXPECT_EQ(events(),
            "load\nAfxGetCrcU32\nrelease\n"
            "load\nEncOrDecOpt\nrelease\n"
            "load\nEncOrDecOpt\nrelease\n");
}

TEST_F(SeqlinkRecordingBindingTest, BuilderCallsInOrderKeyWrapCrcEncrypt) {
  EXPECT_EQ(inChild([&](const Api& api) { return createMulti(api); }), SEQLINK_OK);
  EXPECT_EQ(events(),
            "load\nAfxgetRandKeyR5\nrelease\n"
            "load\nEncOrDecOpt\nrelease\n"
            "load\nAfxGetCrcU32\nrelease\n"
            "load\nEncOrDecOpt\nrelease\n");
  // The identity cipher leaves the samples readable in the file.
  const Bytes file = arbtest::readBytes(output());
  const std::uint32_t dataOffset = seqtest::getU32(file, 204);
  EXPECT_EQ(Bytes(file.begin() + dataOffset, file.end()), seqtest::plainSamples(values_));
  EXPECT_EQ(file[24], 0x5A);  // the wrapped key the stand-in produced
}

// Large data keeps the calls few: a read decrypts in the caller's buffer in one
// call (and an odd count's last block in a second one), a write encrypts in pieces
// of kCipherPieceLength bytes.
class SeqlinkRecordingLargeDataTest : public SeqlinkRecordingBindingTest {
 protected:
  void SetUp() override {
    values_ = seqtest::rampValues(kPairs, 3000);
    SeqlinkRecordingBindingTest::SetUp();
  }
  // Odd, beyond the staged-read limit and a little over two pieces.
  static constexpr std::size_t kPairs = 2 * arbsuite::seqlink::kCipherPieceLength / 4 + 3;
  static_assert(4 * kPairs > arbsuite::seqlink::kStagedReadLimit && kPairs % 2 == 1);
};

TEST_F(SeqlinkRecordingLargeDataTest, ReadDecryptsInPlaceAndTheLastBlockApart) {
  EXPECT_EQ(inChild([&](const Api& api) { return readWave(api); }), SEQLINK_OK);
  EXPECT_EQ(events(),
            "load\nAfxGetCrcU32\nrelease\n"
            "load\nEncOrDecOpt\nrelease\n"
            "load\nEncOrDecOpt\nrelease\n"
            "load\nEncOrDecOpt\nrelease\n");
}

TEST_F(SeqlinkRecordingLargeDataTest, WriteEncryptsInThreePieces) {
  EXPECT_EQ(inChild([&](const Api& api) { return createMulti(api); }), SEQLINK_OK);
  EXPECT_EQ(events(),
            "load\nAfxgetRandKeyR5\nrelease\n"
            "load\nEncOrDecOpt\nrelease\n"
            "load\nAfxGetCrcU32\nrelease\n"
            "load\nEncOrDecOpt\nrelease\n"
            "load\nEncOrDecOpt\nrelease\n"
            "load\nEncOrDecOpt\nrelease\n");
  const Bytes file = arbtest::readBytes(output());
  const std::uint32_t dataOffset = seqtest::getU32(file, 204);
  EXPECT_TRUE(Bytes(file.begin() + dataOffset, file.end()) == seqtest::plainSamples(values_));
}

}  // namespace
