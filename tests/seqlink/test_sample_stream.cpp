// The piece reader against readArbFileData: the same statuses and the same pairs,
// whatever the piece length, on whole, truncated and damaged files.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "crypto_binding.h"
#include "seqlink.h"
#include "seqlink_stream.h"
#include "seqlink_test_support.h"

namespace {

using seqtest::Bytes;
using seqtest::putU32;
using seqtest::ScratchDir;

const std::string kText = "{Clock:10000000HZ}{Value:3.250000}{DataSource:PRBS9}";

// A version-2 file whose one entry is the text, with encrypted or plain samples.
Bytes makeVersion2File(const std::vector<std::int16_t>& values, bool encrypted) {
  Bytes block(4 + 16, 0);
  putU32(block, 0, 1);
  putU32(block, 4, 1);
  putU32(block, 8, static_cast<std::uint32_t>(kText.size()));
  putU32(block, 12, 208 + 20);
  block.insert(block.end(), kText.begin(), kText.end());
  Bytes file(208, 0);
  putU32(file, 0, seqtest::zlibCrc(block.data(), block.size()));
  file[4] = 'A';
  file[5] = 'R';
  file[6] = 'B';
  putU32(file, 8, 208);
  file[16] = encrypted ? 1 : 0;
  file[19] = 1;
  putU32(file, 20, 2);
  const auto wrapped = seqtest::wrapKey(seqtest::testKey());
  std::copy(wrapped.begin(), wrapped.end(), file.begin() + 24);
  putU32(file, 200, static_cast<std::uint32_t>(values.size() / 2));
  putU32(file, 204, static_cast<std::uint32_t>(208 + block.size()));
  file.insert(file.end(), block.begin(), block.end());
  const Bytes data = encrypted ? seqtest::encryptSamples(values, seqtest::testKey())
                               : seqtest::plainSamples(values);
  file.insert(file.end(), data.begin(), data.end());
  putU32(file, 12, static_cast<std::uint32_t>(file.size()));
  return file;
}

struct Read {
  int status = -1;
  std::vector<std::int16_t> values;
};

// readArbFileData of pairs pairs, the reference.
Read wholeRead(const std::string& path, int pairs) {
  Read r;
  r.values.assign(2 * static_cast<std::size_t>(pairs), 0x5A5A);
  r.status = readArbFileData(path.c_str(), pairs, r.values.data());
  return r;
}

// The pieces of the stream joined; every piece but the last holds piecePairs pairs.
Read streamedRead(const std::string& path, int pairs, std::size_t piecePairs) {
  Read r;
  arbsuite::seqlink::ArbSampleStream stream;
  r.status = stream.open(path.c_str(), static_cast<std::uint64_t>(pairs), piecePairs);
  if (r.status != SEQLINK_OK) return r;
  std::span<const std::int16_t> piece;
  while ((r.status = stream.next(piece)) == SEQLINK_OK && !piece.empty()) {
    EXPECT_EQ(piece.size() % 2, 0u);
    EXPECT_LE(piece.size(), 2 * piecePairs);
    if (piece.size() < 2 * piecePairs) {
      EXPECT_EQ(stream.position(), stream.pairs()) << "a short piece that is not the last";
    }
    r.values.insert(r.values.end(), piece.begin(), piece.end());
  }
  return r;
}

enum class Kind { version1, version2Encrypted, version2Plain };

Bytes fileOf(Kind kind, const std::vector<std::int16_t>& values) {
  switch (kind) {
    case Kind::version1:
      return seqtest::makeVersion1File(kText, values);
    case Kind::version2Encrypted:
      return makeVersion2File(values, true);
    case Kind::version2Plain:
      break;
  }
  return makeVersion2File(values, false);
}

class SeqlinkSampleStreamTest : public ::testing::TestWithParam<std::tuple<Kind, int>> {};

// Every piece length, even and odd, and counts below, at and past what the file holds.
TEST_P(SeqlinkSampleStreamTest, PiecesJoinToTheWholeRead) {
  const auto [kind, pairs] = GetParam();
  ScratchDir dir;
  const std::string path = dir.file("wave.arb");
  const std::vector<std::int16_t> values =
      seqtest::rampValues(static_cast<std::size_t>(pairs), 32767, pairs);
  arbtest::writeBytes(path, fileOf(kind, values));
  for (const int requested : {pairs > 0 ? pairs - 1 : 0, pairs, pairs + 3}) {
    const Read whole = wholeRead(path, requested);
    ASSERT_EQ(whole.status, SEQLINK_OK);
    for (const std::size_t piecePairs : {2, 3, 5, 64, 1000, 4096}) {
      const Read streamed = streamedRead(path, requested, piecePairs);
      ASSERT_EQ(streamed.status, SEQLINK_OK) << requested << " " << piecePairs;
      EXPECT_EQ(streamed.values, whole.values) << requested << " " << piecePairs;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(KindsAndLengths, SeqlinkSampleStreamTest,
                         ::testing::Combine(::testing::Values(Kind::version1,
                                                              Kind::version2Encrypted,
                                                              Kind::version2Plain),
                                            ::testing::Values(0, 1, 2, 3, 7, 64, 1001)));

TEST(SeqlinkSampleStreamFileTest, RewindGivesTheSamePairsAgain) {
  ScratchDir dir;
  const std::string path = dir.file("wave.arb");
  const std::vector<std::int16_t> values = seqtest::rampValues(301, 8191);
  arbtest::writeBytes(path, seqtest::makeVersion1File(kText, values));
  arbsuite::seqlink::ArbSampleStream stream;
  ASSERT_EQ(stream.open(path.c_str(), 301, 7), SEQLINK_OK);
  for (int pass = 0; pass < 2; ++pass) {
    std::vector<std::int16_t> got;
    std::span<const std::int16_t> piece;
    while (stream.next(piece) == SEQLINK_OK && !piece.empty()) {
      got.insert(got.end(), piece.begin(), piece.end());
    }
    EXPECT_EQ(got, values) << pass;
    stream.rewind();
  }
}

// Cut anywhere: the header checks fail as readArbFileData's do, and the blocks the
// file still holds give the same pairs.
TEST(SeqlinkSampleStreamFileTest, TruncatedFilesGiveTheWholeReadsStatusAndPairs) {
  ScratchDir dir;
  const std::string path = dir.file("cut.arb");
  for (const Kind kind : {Kind::version1, Kind::version2Encrypted, Kind::version2Plain}) {
    const std::vector<std::int16_t> values = seqtest::rampValues(13, 5000, 4);
    const Bytes file = fileOf(kind, values);
    for (std::size_t length = 0; length <= file.size(); ++length) {
      arbtest::writeBytes(path, Bytes(file.begin(), file.begin() + static_cast<long>(length)));
      const Read whole = wholeRead(path, 13);
      for (const std::size_t piecePairs : {2, 3, 8}) {
        const Read streamed = streamedRead(path, 13, piecePairs);
        ASSERT_EQ(streamed.status, whole.status) << length;
        if (whole.status == SEQLINK_OK) {
          EXPECT_EQ(streamed.values, whole.values) << length;
        }
      }
    }
  }
}

TEST(SeqlinkSampleStreamFileTest, DamagedHeadersAndUnopenablePathsGiveTheSameStatus) {
  ScratchDir dir;
  const Bytes file = seqtest::makeVersion1File(kText, seqtest::rampValues(9, 100));
  std::vector<std::string> paths = {dir.file("absent.arb"), dir.path().string(), "Blank", "blank"};
  for (const std::size_t at : {0, 5, 12, 20, 30, 204, 215}) {
    Bytes broken = file;
    broken[at] ^= 0x40;
    paths.push_back(dir.file("broken" + std::to_string(at) + ".arb"));
    arbtest::writeBytes(paths.back(), broken);
  }
  for (const std::string& path : paths) {
    const Read whole = wholeRead(path, 9);
    const Read streamed = streamedRead(path, 9, 4);
    EXPECT_EQ(streamed.status, whole.status) << path;
    if (whole.status == SEQLINK_OK) {
      EXPECT_EQ(streamed.values, whole.values) << path;
    }
  }
  arbsuite::seqlink::ArbSampleStream stream;
  EXPECT_EQ(stream.open(nullptr, 2), SEQLINK_DATA_CANNOT_OPEN);
  std::span<const std::int16_t> piece;
  EXPECT_EQ(stream.next(piece), SEQLINK_OK);  // a stream that failed to open is empty
  EXPECT_TRUE(piece.empty());
}

// With two buffers a piece is left as it was while the next one is read, in every
// kind of file; reopened on another file, the stream reuses its buffers, and the
// pairs that file lacks read as silence, never as the last file's samples.
TEST(SeqlinkSampleStreamFileTest, TwoBuffersKeepEachPieceUntilTheCallAfterNext) {
  ScratchDir dir;
  for (const Kind kind : {Kind::version1, Kind::version2Encrypted, Kind::version2Plain}) {
    const std::vector<std::int16_t> values = seqtest::rampValues(1001, 30000, 6);
    const std::string path = dir.file("wave.arb");
    arbtest::writeBytes(path, fileOf(kind, values));
    const Read whole = wholeRead(path, 1001);
    arbsuite::seqlink::ArbSampleStream stream;
    ASSERT_EQ(stream.open(path.c_str(), 1001, 64, arbsuite::seqlink::PieceBuffers::Two),
              SEQLINK_OK);
    std::vector<std::int16_t> got;
    std::span<const std::int16_t> last;
    std::vector<std::int16_t> lastCopy;
    std::span<const std::int16_t> piece;
    while (stream.next(piece) == SEQLINK_OK && !piece.empty()) {
      // The piece before is untouched by this read.
      EXPECT_TRUE(std::equal(last.begin(), last.end(), lastCopy.begin(), lastCopy.end()));
      EXPECT_NE(piece.data(), last.data());
      got.insert(got.end(), piece.begin(), piece.end());
      last = piece;
      lastCopy.assign(piece.begin(), piece.end());
    }
    EXPECT_EQ(got, whole.values);

    // The same stream on a file cut short: its own pairs, then silence.
    const std::string cut = dir.file("cut.arb");
    const Bytes file = fileOf(kind, seqtest::rampValues(1001, 12000, 7));
    arbtest::writeBytes(cut, Bytes(file.begin(), file.end() - 1600));
    const Read cutWhole = wholeRead(cut, 1001);
    ASSERT_EQ(cutWhole.status, SEQLINK_OK);
    ASSERT_EQ(stream.open(cut.c_str(), 1001, 64, arbsuite::seqlink::PieceBuffers::Two), SEQLINK_OK);
    got.clear();
    while (stream.next(piece) == SEQLINK_OK && !piece.empty()) {
      got.insert(got.end(), piece.begin(), piece.end());
    }
    EXPECT_EQ(got, cutWhole.values);
  }
}

}  // namespace

// The hold keeps the crypto library loaded between the binding's calls, which go on
// working as before, and only while it lives.
TEST(SeqlinkCryptoLibraryHold, KeepsTheLibraryLoadedBetweenCallsOnlyWhileItLives) {
  const auto loaded = [] {
    void* handle = ::dlopen(arbsuite::seqlink::kCryptoLibraryName, RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr) ::dlclose(handle);
    return handle != nullptr;
  };
  const bool before = loaded();
  std::uint32_t crc = 0;
  {
    const arbsuite::seqlink::CryptoLibraryHold hold;
    ASSERT_TRUE(hold.holding());
    EXPECT_TRUE(loaded());
    ASSERT_EQ(arbsuite::seqlink::cryptoCrc32("123456789", 9, crc), SEQLINK_OK);
    EXPECT_EQ(crc, 0xCBF43926u);
    EXPECT_TRUE(loaded());
  }
  EXPECT_EQ(loaded(), before);
  ASSERT_EQ(arbsuite::seqlink::cryptoCrc32("123456789", 9, crc), SEQLINK_OK);
  EXPECT_EQ(crc, 0xCBF43926u);
}
