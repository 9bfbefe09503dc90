// PackuserIQdata: the file it writes, field by field, against values computed here
// (zlib's CRC-32, the text template typed out again, the data decrypted with the
// unwrapped key), and its results for bad arguments and failing files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

#include "arb_pack.h"
#include "files.h"
#include "little_endian.h"
#include "scratch_dir.h"
#include "wavecrypt.h"
#include "wavepack.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using arbtest::getU32;

std::string expectedText(int clock, double value, int num, const char* source, int length, int rate,
                         const char* modulation, const char* filter, double coefficient,
                         int impulse, int over) {
  char buf[1000];
  std::snprintf(buf, sizeof buf,
                "{Clock:%dHZ}{ModulationMode:Digital}{Value:%f}{Num:%d}{DataSource:%s}{Length:%d}"
                "{SymbolRate:%dHz}{ModulationType:%s}{FilterType:%s}{FilterCoefficients :%f}"
                "{ImpulseLength:%d}{OverSample:%d}",
                clock, value, num, source, length, rate, modulation, filter, coefficient, impulse,
                over);
  return buf;
}

Bytes samplesToBytes(const std::vector<std::int16_t>& words) {
  Bytes out;
  for (std::int16_t w : words) {
    out.push_back(static_cast<std::uint8_t>(w & 0xFF));
    out.push_back(static_cast<std::uint8_t>((static_cast<std::uint16_t>(w) >> 8) & 0xFF));
  }
  return out;
}

// Unwraps the file's key and decrypts its whole data area in one call.
Bytes decryptData(const Bytes& file) {
  std::uint8_t key[16] = {};
  std::uint32_t keyLength = 16;
  EXPECT_EQ(
      static_cast<std::int16_t>(EncOrDecOpt(3, file.data() + 24, 84, nullptr, key, &keyLength, 1)),
      0);
  const std::uint32_t offset = getU32(file, 204);
  Bytes cipher(file.begin() + offset, file.end());
  cipher.reserve(1);  // a valid pointer also for an empty data area
  Bytes plain(cipher.size() + 8, 0xEE);
  std::uint32_t plainLength = static_cast<std::uint32_t>(plain.size());
  EXPECT_EQ(static_cast<std::int16_t>(EncOrDecOpt(2, cipher.data(),
                                                  static_cast<std::uint32_t>(cipher.size()), key,
                                                  plain.data(), &plainLength, 1)),
            0);
  plain.resize(plainLength);
  return plain;
}

class WavepackPacker : public testing::Test {
 protected:
  // Packs `input` with the converter's own arguments (PRBS9, 32QAM, Raised cosine).
  int pack(const Bytes& input, std::int32_t fs = 10000000) {
    arbtest::writeBytes(inputPath_, input);
    return PackuserIQdata(inputPath_.c_str(), outputPath_.c_str(), 1, 0, fs, 1, 1, 1.0, 1, 1);
  }
  Bytes output() const { return arbtest::readBytes(outputPath_); }
  std::string text(const Bytes& file) const {
    return std::string(file.begin() + 208, file.begin() + getU32(file, 204));
  }
  std::size_t leftoverFiles() const {
    std::size_t n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
      if (entry.path().string().find(".part") != std::string::npos) ++n;
    return n;
  }

  arbtest::ScratchDir dir_;
  std::string inputPath_ = dir_.file("samples.raw");
  std::string outputPath_ = dir_.file("wave.arb");
};

TEST_F(WavepackPacker, WritesEveryHeaderFieldTheTextAndTheEncryptedSamples) {
  const std::vector<std::int16_t> words = {3980, 5307, 0, 1326, -3317, 0, 8191, -8192};
  ASSERT_EQ(pack(samplesToBytes(words), 2500), WAVEPACK_OK);
  const Bytes file = output();
  ASSERT_GE(file.size(), 208u);

  double level = 0;
  for (std::int16_t w : words) level += std::pow(w / 8192.0, 2);
  const std::string expected =
      expectedText(2500, level, 4, "PRBS9", 8, 2500, "32QAM", "Raised cosine", 1.0, 1, 1);
  const std::uint32_t textLength = static_cast<std::uint32_t>(expected.size());

  EXPECT_EQ(getU32(file, 0), crc32(0, reinterpret_cast<const Bytef*>(expected.data()), textLength));
  EXPECT_EQ(Bytes(file.begin() + 4, file.begin() + 8), (Bytes{0x41, 0x52, 0x42, 0x00}));
  EXPECT_EQ(getU32(file, 8), 208u);
  EXPECT_EQ(getU32(file, 12), 208u + textLength + 16);
  EXPECT_EQ(getU32(file, 16), 0u);  // flags and reserved bytes
  EXPECT_EQ(getU32(file, 20), 1u);
  EXPECT_EQ(Bytes(file.begin() + 108, file.begin() + 200), Bytes(92, 0));
  EXPECT_EQ(getU32(file, 200), 4u);
  EXPECT_EQ(getU32(file, 204), 208u + textLength);
  EXPECT_EQ(text(file), expected);
  EXPECT_EQ(file.size(), getU32(file, 12));
  EXPECT_EQ(decryptData(file), samplesToBytes(words));
}

TEST_F(WavepackPacker, LevelValueReadsWordsAs14BitSamples) {
  // 0x4001 has bit 13 clear and low bits 1: magnitude 1. 0x2000 is -8192: magnitude 8192.
  ASSERT_EQ(pack(samplesToBytes({0x4001, 0x2000, -1, 100})), WAVEPACK_OK);
  const double level =
      std::pow(1 / 8192.0, 2) + 1.0 + std::pow(1 / 8192.0, 2) + std::pow(100 / 8192.0, 2);
  char value[64];
  std::snprintf(value, sizeof value, "{Value:%f}", level);
  EXPECT_THAT(text(output()), ::testing::HasSubstr(value)) << text(output());
}

TEST_F(WavepackPacker, LevelValueOfManyWordsIsTheSumInFileOrder) {
  // Every 16-bit pattern, several blocks of them, and the large 14-bit magnitudes
  // that make the sum grow: the Value is the sum of the terms taken in file order.
  std::vector<std::int16_t> words;
  for (int round = 0; round < 4; ++round)
    for (int w = -32768; w <= 32767; ++w) words.push_back(static_cast<std::int16_t>(w));
  for (int k = 0; k < 300000; ++k) words.push_back(static_cast<std::int16_t>(k % 2 ? 8191 : -8192));
  ASSERT_EQ(pack(samplesToBytes(words)), WAVEPACK_OK);
  double level = 0;
  for (std::int16_t w : words) {
    const unsigned low = static_cast<std::uint16_t>(w) & 0x1FFFu;
    const double m = (static_cast<std::uint16_t>(w) & 0x2000u) ? 8192.0 - low : low;
    level += (m / 8192.0) * (m / 8192.0);
  }
  char value[64];
  std::snprintf(value, sizeof value, "{Value:%f}", level);
  EXPECT_THAT(text(output()), ::testing::HasSubstr(value)) << value;
}

struct SizeCase {
  std::size_t inputBytes;
  std::uint32_t sampleCount;
  std::size_t dataBytes;
};

void PrintTo(const SizeCase& c, std::ostream* os) { *os << c.inputBytes << " bytes"; }

class WavepackPackerSizes : public WavepackPacker, public testing::WithParamInterface<SizeCase> {};

TEST_P(WavepackPackerSizes, FileLengthIsTheRealLength) {
  const SizeCase& c = GetParam();
  Bytes input(c.inputBytes);
  for (std::size_t k = 0; k < input.size(); ++k) input[k] = static_cast<std::uint8_t>(k * 7 + 1);
  ASSERT_EQ(pack(input), WAVEPACK_OK);
  const Bytes file = output();
  const std::size_t textLength = text(file).size();
  EXPECT_EQ(getU32(file, 200), c.sampleCount);
  EXPECT_EQ(file.size(), 208 + textLength + c.dataBytes);
  EXPECT_EQ(getU32(file, 12), file.size());
  Bytes padded = input;
  padded.resize(c.dataBytes, 0);
  EXPECT_EQ(decryptData(file), padded);
  const std::string t = text(file);
  EXPECT_THAT(t, ::testing::HasSubstr("{Num:" + std::to_string(c.inputBytes / 4) + "}"));
  EXPECT_THAT(t, ::testing::HasSubstr("{Length:" + std::to_string(c.inputBytes / 2) + "}"));
}

INSTANTIATE_TEST_SUITE_P(WavepackInputs, WavepackPackerSizes,
                         testing::Values(SizeCase{0, 0, 0}, SizeCase{12, 3, 16},
                                         SizeCase{16, 4, 16}, SizeCase{256, 64, 256},
                                         SizeCase{260, 65, 264}, SizeCase{1028, 257, 1032},
                                         SizeCase{6, 1, 8}, SizeCase{13, 3, 16}));

TEST_F(WavepackPacker, EmptyInputHasZeroValueNumAndLength) {
  ASSERT_EQ(pack({}), WAVEPACK_OK);
  const std::string t = text(output());
  EXPECT_THAT(t, ::testing::HasSubstr("{Value:0.000000}{Num:0}"));
  EXPECT_THAT(t, ::testing::HasSubstr("{Length:0}"));
}

TEST_F(WavepackPacker, EveryTableNameAndEveryArgumentReachesTheText) {
  arbtest::writeBytes(inputPath_, {});
  ASSERT_EQ(PackuserIQdata(inputPath_.c_str(), outputPath_.c_str(), 7, 99, 1000, 13, 3, 0.35, 8, 4),
            WAVEPACK_OK);
  EXPECT_EQ(text(output()),
            expectedText(4000, 0, 0, "UserData", 0, 1000, "Pi/4DQPSK", "Gauss Filter", 0.35, 8, 4));
  ASSERT_EQ(PackuserIQdata(inputPath_.c_str(), outputPath_.c_str(), 0, 0, 1, 17, 0, 1.0, 1, 1),
            WAVEPACK_OK);
  const std::string t = text(output());
  EXPECT_THAT(t, ::testing::HasSubstr("{DataSource:PRBS7}"));
  EXPECT_THAT(t, ::testing::HasSubstr("{ModulationType:4FSK}"));
  EXPECT_THAT(t, ::testing::HasSubstr("{FilterType:none}"));
}

TEST_F(WavepackPacker, HeaderCrcCoversTheTextOnly) {
  ASSERT_EQ(pack(samplesToBytes({1, 2, 3, 4})), WAVEPACK_OK);
  const Bytes a = output();
  ASSERT_EQ(pack(samplesToBytes({4000, 2, 3, 4})), WAVEPACK_OK);  // other level: other text
  const Bytes b = output();
  ASSERT_EQ(pack(samplesToBytes({-1, -2, -3, 4})), WAVEPACK_OK);  // same text, other data
  const Bytes c = output();
  EXPECT_NE(getU32(a, 0), getU32(b, 0));
  EXPECT_EQ(text(a), text(c));
  EXPECT_EQ(getU32(a, 0), getU32(c, 0));
}

class WavepackBadIndex
    : public WavepackPacker,
      public testing::WithParamInterface<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>> {
};

TEST_P(WavepackBadIndex, ReturnsBadParameterBeforeTouchingAnyFile) {
  const auto [source, modulation, filter] = GetParam();
  const std::string missingInput = dir_.file("does-not-exist.raw");
  EXPECT_EQ(PackuserIQdata(missingInput.c_str(), outputPath_.c_str(), source, 0, 1000, modulation,
                           filter, 1.0, 1, 1),
            WAVEPACK_BAD_PARAMETER);
  EXPECT_FALSE(std::filesystem::exists(outputPath_));
}

INSTANTIATE_TEST_SUITE_P(WavepackIndexes, WavepackBadIndex,
                         testing::Values(std::make_tuple(8u, 0u, 0u), std::make_tuple(0u, 18u, 0u),
                                         std::make_tuple(0u, 0u, 4u),
                                         std::make_tuple(0xFFFFFFFFu, 0u, 0u)));

TEST_F(WavepackPacker, FailuresLeaveNoFileAndKeepAnExistingOne) {
  const std::string missing = dir_.file("none.raw");
  EXPECT_EQ(PackuserIQdata(missing.c_str(), outputPath_.c_str(), 1, 0, 1000, 1, 1, 1.0, 1, 1),
            WAVEPACK_INPUT_FAILED);
  EXPECT_FALSE(std::filesystem::exists(outputPath_));

  arbtest::writeText(outputPath_, "precious");
  EXPECT_EQ(PackuserIQdata(missing.c_str(), outputPath_.c_str(), 1, 0, 1000, 1, 1, 1.0, 1, 1),
            WAVEPACK_INPUT_FAILED);
  arbtest::writeBytes(inputPath_, Bytes(8, 0));
  const std::string noDir = dir_.file("no-such-dir/wave.arb");
  EXPECT_EQ(PackuserIQdata(inputPath_.c_str(), noDir.c_str(), 1, 0, 1000, 1, 1, 1.0, 1, 1),
            WAVEPACK_OUTPUT_FAILED);
  const std::string dirAsInput = dir_.path().string();
  EXPECT_EQ(PackuserIQdata(dirAsInput.c_str(), outputPath_.c_str(), 1, 0, 1000, 1, 1, 1.0, 1, 1),
            WAVEPACK_INPUT_FAILED);
  EXPECT_EQ(PackuserIQdata(nullptr, outputPath_.c_str(), 1, 0, 1000, 1, 1, 1.0, 1, 1),
            WAVEPACK_INPUT_FAILED);
  EXPECT_EQ(PackuserIQdata(inputPath_.c_str(), nullptr, 1, 0, 1000, 1, 1, 1.0, 1, 1),
            WAVEPACK_OUTPUT_FAILED);
  EXPECT_EQ(arbtest::readBytes(outputPath_), (Bytes{'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}));

  // Success replaces it, with the permissions a plain create gives, and leaves no part file.
  ASSERT_EQ(pack(Bytes(8, 0)), WAVEPACK_OK);
  EXPECT_EQ(getU32(output(), 200), 2u);
  EXPECT_EQ(leftoverFiles(), 0u);
  const auto perms = std::filesystem::status(outputPath_).permissions();
  EXPECT_NE(perms & std::filesystem::perms::owner_read, std::filesystem::perms::none);
}

TEST_F(WavepackPacker, InputTooLargeForTheHeaderFieldsIsRefused) {
  // A sparse file of 2^31 bytes: one byte more than the 32-bit signed size allows.
  { std::ofstream(inputPath_, std::ios::binary).put('\0'); }
  std::filesystem::resize_file(inputPath_, std::uintmax_t{1} << 31);
  EXPECT_EQ(PackuserIQdata(inputPath_.c_str(), outputPath_.c_str(), 1, 0, 1000, 1, 1, 1.0, 1, 1),
            WAVEPACK_BAD_PARAMETER);
  EXPECT_FALSE(std::filesystem::exists(outputPath_));
  EXPECT_EQ(leftoverFiles(), 0u);
}

TEST_F(WavepackPacker, AFailedWriteIsOutputFailedAndLeavesNothing) {
  arbtest::writeBytes(inputPath_, Bytes(200000, 0x11));
  arbtest::writeText(outputPath_, "precious");
  // In a child process, limit the size of written files so that the write fails
  // part way, as on a full disk.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{100000, 100000};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const int result =
        PackuserIQdata(inputPath_.c_str(), outputPath_.c_str(), 1, 0, 1000, 1, 1, 1.0, 1, 1);
    std::_Exit(result);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), WAVEPACK_OUTPUT_FAILED);
  EXPECT_EQ(arbtest::readBytes(outputPath_), (Bytes{'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}));
  EXPECT_EQ(leftoverFiles(), 0u);
}

// PackuserIQdata in a child process that first gives up every capability. Root then
// meets file permissions as any other user does (CAP_DAC_OVERRIDE is what lets it
// write into a read-only folder), so the same expectation holds for every user.
// Returns the packer's result, or -1 when the child could not run it.
int packWithoutCapabilities(const std::string& input, const std::string& output) {
  const pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capset, &header, none) != 0) std::_Exit(255);
    std::_Exit(PackuserIQdata(input.c_str(), output.c_str(), 1, 0, 1000, 1, 1, 1.0, 1, 1));
  }
  int status = 0;
  if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status) == 255 ? -1 : WEXITSTATUS(status);
}

TEST_F(WavepackPacker, OutputThatCannotBeWrittenIsOutputFailed) {
  // The part file beside the target cannot be created in a read-only folder.
  const std::string folder = dir_.file("ro");
  std::filesystem::create_directory(folder);
  std::filesystem::permissions(
      folder, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  arbtest::writeBytes(inputPath_, Bytes(8, 0));
  const std::string target = folder + "/wave.arb";
  const int result = packWithoutCapabilities(inputPath_, target);
  std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
  EXPECT_EQ(result, WAVEPACK_OUTPUT_FAILED);
  EXPECT_FALSE(std::filesystem::exists(target));
  EXPECT_TRUE(std::filesystem::is_empty(folder));
}

TEST_F(WavepackPacker, OutputBelowARegularFileIsOutputFailed) {
  // No user, root included, can create a file below a regular file.
  arbtest::writeBytes(inputPath_, Bytes(8, 0));
  const std::string notAFolder = dir_.file("plain");
  arbtest::writeText(notAFolder, "plain");
  const std::string target = notAFolder + "/wave.arb";
  EXPECT_EQ(PackuserIQdata(inputPath_.c_str(), target.c_str(), 1, 0, 1000, 1, 1, 1.0, 1, 1),
            WAVEPACK_OUTPUT_FAILED);
  EXPECT_EQ(arbtest::readText(notAFolder), "plain");
  EXPECT_EQ(leftoverFiles(), 0u);
}

// Every code the packer returns has words of its own (the programs print them after
// "cannot write OUT:"), and an unknown code is named by its number.
TEST(WavepackPackerStatus, EachResultHasItsWords) {
  EXPECT_EQ(arbsuite::packStatusWords(WAVEPACK_OK), "success");
  const int failures[] = {WAVEPACK_INPUT_FAILED,  WAVEPACK_OUTPUT_FAILED, 20,
                          WAVEPACK_BAD_PARAMETER, WAVEPACK_FORMAT_FAILED, WAVEPACK_CRYPTO_FAILED};
  std::set<std::string> words;
  for (const int status : failures) {
    const std::string text = arbsuite::packStatusWords(status);
    EXPECT_THAT(text, ::testing::Not(::testing::HasSubstr("packer error"))) << status;
    words.insert(text);
  }
  EXPECT_EQ(words.size(), std::size(failures));
  EXPECT_EQ(arbsuite::packStatusWords(99), "packer error 99");
}

// PackuserIQdata on a sample file and the programs' packing of the same samples from
// memory write the same file but for the key: the same header fields and text, and
// the same samples under their own keys.
TEST(WavepackPackerStatus, MemoryAndFilePackingWriteTheSameFile) {
  arbtest::ScratchDir dir;
  std::vector<std::int16_t> words;
  for (int k = 0; k < 2 * 70001; ++k)
    words.push_back(static_cast<std::int16_t>((k * 7919) % 16383 - 8191));
  arbtest::writeBytes(dir.file("in.bin"), samplesToBytes(words));
  ASSERT_EQ(PackuserIQdata(dir.file("in.bin").c_str(), dir.file("file.arb").c_str(), 2, 0, 12345, 4,
                           3, 0.35, 6, 4),
            WAVEPACK_OK);
  arbsuite::Version1Fields fields;
  fields.dataSource = 2;
  fields.symbolRate = 12345;
  fields.modulationType = 4;
  fields.filterType = 3;
  fields.filterCoefficient = 0.35;
  fields.impulseLength = 6;
  fields.overSampling = 4;
  ASSERT_EQ(arbsuite::packSamples(words, fields, dir.file("memory.arb").c_str()),
            arbsuite::kPackOk);
  const Bytes fromFile = arbtest::readBytes(dir.file("file.arb"));
  const Bytes fromMemory = arbtest::readBytes(dir.file("memory.arb"));
  ASSERT_EQ(fromFile.size(), fromMemory.size());
  // Everything but the wrapped key (bytes 24 to 107) and the encrypted data.
  const std::uint32_t dataOffset = getU32(fromFile, 204);
  EXPECT_TRUE(std::equal(fromFile.begin(), fromFile.begin() + 24, fromMemory.begin()));
  EXPECT_TRUE(
      std::equal(fromFile.begin() + 108, fromFile.begin() + dataOffset, fromMemory.begin() + 108));
  const Bytes plain = decryptData(fromMemory);
  EXPECT_EQ(decryptData(fromFile), plain);
  ASSERT_GE(plain.size(), 4u * 70001);
  EXPECT_EQ(Bytes(plain.begin(), plain.begin() + 4 * 70001), samplesToBytes(words));
}

}  // namespace
