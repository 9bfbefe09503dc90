// crtMultiSegArb: the version-2 file byte by byte, its limits and its failures.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "arb_readers.h"
#include "multiseg_writer.h"
#include "seqlink.h"
#include "seqlink_test_support.h"
#include "version2_layout_check.h"

namespace {

using seqtest::Bytes;
using seqtest::getU32;
using seqtest::ScratchDir;

struct Segments {
  std::vector<char> names;
  std::vector<double> clocks;
  std::vector<int> counts;
  std::vector<double> energies;
  std::vector<short> samples;

  void add(const std::string& name, double clock, int count, double energy, int amplitude) {
    names.resize(names.size() + 256, '\0');
    std::memcpy(&names[names.size() - 256], name.data(), std::min<std::size_t>(name.size(), 256));
    clocks.push_back(clock);
    counts.push_back(count);
    energies.push_back(energy);
    const auto values = seqtest::rampValues(static_cast<std::size_t>(count), amplitude,
                                            static_cast<int>(clocks.size()));
    samples.insert(samples.end(), values.begin(), values.end());
  }
  unsigned count() const { return static_cast<unsigned>(clocks.size()); }
  unsigned total() const { return static_cast<unsigned>(samples.size() / 2); }

  int write(const std::string& path) const {
    return crtMultiSegArb(names.data(), clocks.data(), counts.data(), energies.data(), count(),
                          samples.data(), total(), 0xDEADBEEF, path.c_str());
  }
};

// The segment table the file is checked against.
seqtest::SegmentTable tableOf(const Segments& s) {
  seqtest::SegmentTable table{{}, s.clocks, s.counts, s.energies, s.samples};
  for (unsigned i = 0; i < s.count(); ++i)
    table.names.emplace_back(&s.names[256 * i], strnlen(&s.names[256 * i], 256));
  return table;
}

void checkFile(const Bytes& file, const Segments& s) {
  seqtest::checkVersion2File(file, tableOf(s));
}

class SeqlinkMultiSegWriterTest : public ::testing::Test {
 protected:
  ScratchDir dir_;
  std::string path_ = dir_.file("multi.arb");
};

TEST_F(SeqlinkMultiSegWriterTest, OneSegmentOfThreePairs) {
  Segments s;
  s.add("first.arb", 1e8, 3, 0.5, 4000);
  ASSERT_EQ(s.write(path_), SEQLINK_OK);
  const Bytes file = arbtest::readBytes(path_);
  // The layout of the example: entries at 212, 228, 244; blocks at 260, 276, 556.
  EXPECT_EQ(getU32(file, 212 + 8), 260u);
  EXPECT_EQ(getU32(file, 228 + 8), 276u);
  EXPECT_EQ(getU32(file, 244 + 8), 556u);
  EXPECT_EQ(getU32(file, 12), 556 + getU32(file, 244 + 4) + 16);
  checkFile(file, s);
}

TEST_F(SeqlinkMultiSegWriterTest, ZeroSegments) {
  Segments s;
  ASSERT_EQ(s.write(path_), SEQLINK_OK);
  const Bytes file = arbtest::readBytes(path_);
  EXPECT_EQ(getU32(file, 208), 2u);
  EXPECT_EQ(getU32(file, 244), 0u);
  EXPECT_EQ(getU32(file, 248), 260u);  // first-record offset: the text block
  checkFile(file, s);
  EXPECT_EQ(std::string(file.begin() + 260, file.end()),
            "{Value:0.000000}{Num:0}{NUMBER SEGMENTS:0}");
}

TEST_F(SeqlinkMultiSegWriterTest, SeveralSegmentsOddTotalAndReadBack) {
  Segments s;
  s.add("a.arb", 1e8, 4, 1.25, 8191);
  s.add("Blank", 2e8, 3, 0.0, 0);
  s.add(std::string(255, 'n'), 5e7, 6, 3.5, -8000);
  ASSERT_EQ(s.write(path_), SEQLINK_OK);
  const Bytes file = arbtest::readBytes(path_);
  checkFile(file, s);

  // The readers of this library read it back.
  int count = -1;
  double clock = 0, energy = 0;
  EXPECT_EQ(readArbFileInf(path_.c_str(), &count, &clock, &energy), SEQLINK_MULTI_SEGMENT_REFUSED);
  EXPECT_EQ(count, 13);
  std::vector<short> back(2 * 13);
  ASSERT_EQ(readArbFileData(path_.c_str(), 13, back.data()), SEQLINK_OK);
  EXPECT_EQ(back, s.samples);
  std::vector<char> text(SEQLINK_TEXT_CAPACITY, '\0');
  int length = 0;
  ASSERT_EQ(readArbFileAllInf(path_.c_str(), text.data(), &length), SEQLINK_OK);
  const std::string display(text.data());
  EXPECT_EQ(std::count(display.begin(), display.end(), '\n'), 5);  // 6 lines
  EXPECT_EQ(display.rfind(" Value", 0), 0u);
  EXPECT_THAT(display, ::testing::HasSubstr("\n Num            :52\n"));
}

// Switches the numeric locale for one scope and back to "C" after it.
class NumericLocale {
 public:
  explicit NumericLocale(const char* name) : set_(std::setlocale(LC_NUMERIC, name) != nullptr) {}
  ~NumericLocale() { std::setlocale(LC_NUMERIC, "C"); }
  NumericLocale(const NumericLocale&) = delete;
  NumericLocale& operator=(const NumericLocale&) = delete;
  bool isSet() const { return set_; }

 private:
  bool set_;
};

TEST_F(SeqlinkMultiSegWriterTest, NumIsFourTimesTheTotalAndTextUsesADecimalPoint) {
  int status = -1;
  {
    // A locale whose decimal separator is a comma; tools/install-deps.sh generates it.
    const NumericLocale german("de_DE.UTF-8");
    ASSERT_TRUE(german.isSet()) << "locale de_DE.UTF-8 is missing (tools/install-deps.sh)";
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    Segments s;
    s.add("a.arb", 1.5e8, 10, 0.25, 100);
    status = s.write(path_);
  }
  ASSERT_EQ(status, SEQLINK_OK);
  const Bytes file = arbtest::readBytes(path_);
  const std::string text(file.begin() + 212 + 48 + 16 + 280, file.begin() + getU32(file, 204));
  EXPECT_THAT(text, ::testing::HasSubstr("{Num:40}"));
  EXPECT_THAT(text, ::testing::HasSubstr("{SEGMENT_0:a.arb,150000000.000000,10,0.250000}"));
}

// The text-space rule, written out: summary in S bytes, item i in S - 512 (i + 1).
bool textFits(const Segments& s) {
  const long long space = 20460 - 16LL * (s.count() + 2) - 280LL * s.count();
  if (space <= 0) return false;
  std::string text = seqtest::format("{Value:%.6Lf}{Num:%llu}{NUMBER SEGMENTS:%u}", 0.0L,
                                     4ull * s.total(), s.count());
  if (static_cast<long long>(text.size()) + 1 > space) return false;
  for (unsigned i = 0; i < s.count(); ++i) {
    const std::string item = seqtest::format("{SEGMENT_%u:%s,%.6f,%d,%.6f}", i, &s.names[256 * i],
                                             s.clocks[i], s.counts[i], s.energies[i]);
    if (static_cast<long long>(text.size() + item.size()) + 1 > space - 512LL * (i + 1))
      return false;
    text += item;
  }
  return true;
}

TEST_F(SeqlinkMultiSegWriterTest, TextSpaceLimitsTheSegmentCount) {
  Segments s;
  int lastAccepted = -1;
  for (int c = 0; c <= 30; ++c) {
    const int status = s.write(path_);
    EXPECT_EQ(status, textFits(s) ? 0 : 242) << c << " segments";
    if (status == 0) lastAccepted = c;
    s.add("Blank", 1e8, 1, 0.0, 0);
  }
  EXPECT_GT(lastAccepted, 10);
  EXPECT_LT(lastAccepted, 30);
}

TEST_F(SeqlinkMultiSegWriterTest, TooManySegmentsIsDataNoMemoryBeforeAnythingIsWritten) {
  arbtest::writeText(path_, "precious");
  std::vector<char> names(256 * 100, '\0');
  std::vector<double> clocks(100, 1.0), energies(100, 0.0);
  std::vector<int> counts(100, 0);
  for (const unsigned count : {70u, 100u}) {
    EXPECT_EQ(crtMultiSegArb(names.data(), clocks.data(), counts.data(), energies.data(), count,
                             nullptr, 0, 0, path_.c_str()),
              242);
  }
  // A count far beyond the buffers is refused before they are read.
  EXPECT_EQ(crtMultiSegArb(names.data(), clocks.data(), counts.data(), energies.data(), 0xFFFFFFFFu,
                           nullptr, 0, 0, path_.c_str()),
            242);
  EXPECT_EQ(arbtest::readBytes(path_), (Bytes{'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 1);
}

TEST_F(SeqlinkMultiSegWriterTest, ItemLongerThanItsBufferIsDataNoMemory) {
  Segments s;
  s.add(std::string(255, 'n'), 1e300, 1, 0.0, 0);  // 255 + 300 digits
  EXPECT_EQ(s.write(path_), SEQLINK_DATA_NO_MEMORY);
  EXPECT_FALSE(std::filesystem::exists(path_));
}

TEST_F(SeqlinkMultiSegWriterTest, InconsistentArgumentsAreBadItem) {
  Segments s;
  s.add("a.arb", 1e8, 4, 1.0, 100);
  s.add("b.arb", 1e8, 2, 1.0, 100);
  std::vector<int> counts = s.counts;
  // Counts that do not add up to the total.
  EXPECT_EQ(crtMultiSegArb(s.names.data(), s.clocks.data(), s.counts.data(), s.energies.data(), 2,
                           s.samples.data(), 5, 0, path_.c_str()),
            2);
  counts = {8, -2};
  EXPECT_EQ(crtMultiSegArb(s.names.data(), s.clocks.data(), counts.data(), s.energies.data(), 2,
                           s.samples.data(), 6, 0, path_.c_str()),
            2);
  EXPECT_EQ(crtMultiSegArb(nullptr, s.clocks.data(), s.counts.data(), s.energies.data(), 2,
                           s.samples.data(), 6, 0, path_.c_str()),
            2);
  EXPECT_EQ(crtMultiSegArb(s.names.data(), s.clocks.data(), s.counts.data(), s.energies.data(), 2,
                           nullptr, 6, 0, path_.c_str()),
            2);
  // 4 x total must fit in 32 bits.
  std::vector<int> huge = {1 << 30};
  EXPECT_EQ(crtMultiSegArb(s.names.data(), s.clocks.data(), huge.data(), s.energies.data(), 1,
                           s.samples.data(), 1u << 30, 0, path_.c_str()),
            2);
  EXPECT_EQ(s.write(""), SEQLINK_DATA_CANNOT_OPEN);
  EXPECT_EQ(crtMultiSegArb(s.names.data(), s.clocks.data(), s.counts.data(), s.energies.data(), 2,
                           s.samples.data(), 6, 0, nullptr),
            240);
  EXPECT_FALSE(std::filesystem::exists(path_));
}

TEST_F(SeqlinkMultiSegWriterTest, NameOf255IsWrittenAndAnUnterminatedSlotIsNameTooLong) {
  Segments s;
  s.add(std::string(255, 'n'), 1e8, 1, 0.0, 10);
  ASSERT_EQ(s.write(path_), SEQLINK_OK);
  checkFile(arbtest::readBytes(path_), s);
  std::memset(s.names.data(), 'n', 256);
  EXPECT_EQ(s.write(dir_.file("other.arb")), SEQLINK_NAME_TOO_LONG);
  EXPECT_FALSE(std::filesystem::exists(dir_.file("other.arb")));
}

TEST_F(SeqlinkMultiSegWriterTest, NewFileGetsTheUmaskPermissionsAndAReplacedFileKeepsItsOwn) {
  Segments s;
  s.add("a.arb", 1e8, 2, 1.0, 100);
  const mode_t previous = umask(027);
  const int created = s.write(path_);
  umask(previous);
  ASSERT_EQ(created, 0);
  struct stat info {};
  ASSERT_EQ(stat(path_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);

  arbtest::writeText(path_, "old content");
  ASSERT_EQ(chmod(path_.c_str(), 0604), 0);
  ASSERT_EQ(s.write(path_), SEQLINK_OK);
  checkFile(arbtest::readBytes(path_), s);
  ASSERT_EQ(stat(path_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0604u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 1);
}

TEST_F(SeqlinkMultiSegWriterTest, WritesThroughASymbolicLink) {
  const std::string target = dir_.file("target.arb");
  arbtest::writeText(target, "old content");
  std::filesystem::create_symlink(target, path_);
  Segments s;
  s.add("a.arb", 1e8, 3, 1.0, 100);
  ASSERT_EQ(s.write(path_), SEQLINK_OK);
  EXPECT_TRUE(std::filesystem::is_symlink(path_));
  checkFile(arbtest::readBytes(target), s);
}

TEST_F(SeqlinkMultiSegWriterTest, UncreatableOutputIsDataCannotOpen) {
  Segments s;
  s.add("a.arb", 1e8, 2, 1.0, 100);
  EXPECT_EQ(s.write(dir_.file("missing-folder/out.arb")), SEQLINK_DATA_CANNOT_OPEN);
  EXPECT_EQ(s.write(dir_.path().string()), SEQLINK_DATA_CANNOT_OPEN);  // a folder is in the way
  EXPECT_TRUE(std::filesystem::is_directory(dir_.path()));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 0);
}

TEST_F(SeqlinkMultiSegWriterTest, FailedWriteIsDataCannotOpenAndKeepsTheExistingFile) {
  arbtest::writeText(path_, "precious");
  Segments s;
  s.add("a.arb", 1e8, 5000, 1.0, 1000);  // about 20 kB, beyond the size limit below
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Writes beyond 4 kB fail (EFBIG) in this process only.
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    _exit(s.write(path_) == 240 ? 0 : 1);
  }
  int wstatus = 0;
  ASSERT_EQ(waitpid(child, &wstatus, 0), child);
  ASSERT_TRUE(WIFEXITED(wstatus));
  EXPECT_EQ(WEXITSTATUS(wstatus), 0);
  EXPECT_EQ(arbtest::readBytes(path_), (Bytes{'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 1);
}

// A segment whose clock, energy or name the file cannot hold: refused with status 2
// before anything is written, in any position among good segments.
struct BadSegment {
  const char* what;
  std::string name;
  double clock;
  double energy;
};

void PrintTo(const BadSegment& c, std::ostream* out) { *out << c.what; }

class SeqlinkMultiSegBadSegmentTest : public SeqlinkMultiSegWriterTest,
                                      public testing::WithParamInterface<BadSegment> {};

TEST_P(SeqlinkMultiSegBadSegmentTest, IsBadItemBeforeAnythingIsWritten) {
  arbtest::writeText(path_, "precious");
  const BadSegment& bad = GetParam();
  for (int position = 0; position < 3; ++position) {
    Segments s;
    for (int i = 0; i < 3; ++i) {
      if (i == position) {
        s.add(bad.name, bad.clock, 2, bad.energy, 100);
      } else {
        s.add("good.arb", 1e8, 2, 1.0, 100);
      }
    }
    EXPECT_EQ(s.write(path_), SEQLINK_BAD_ITEM) << "at " << position;
    EXPECT_EQ(s.write(dir_.file("new.arb")), SEQLINK_BAD_ITEM) << "at " << position;
  }
  EXPECT_EQ(arbtest::readBytes(path_), (Bytes{'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 1);
}

INSTANTIATE_TEST_SUITE_P(Values, SeqlinkMultiSegBadSegmentTest,
                         testing::Values(BadSegment{"NanClock", "a.arb", std::nan(""), 1.0},
                                         BadSegment{"InfiniteClock", "a.arb", HUGE_VAL, 1.0},
                                         BadSegment{"NegativeClock", "a.arb", -1e6, 1.0},
                                         BadSegment{"NanEnergy", "a.arb", 1e8, std::nan("")},
                                         BadSegment{"InfiniteEnergy", "a.arb", 1e8, -HUGE_VAL},
                                         BadSegment{"NegativeEnergy", "a.arb", 1e8, -0.5},
                                         BadSegment{"OpeningBrace", "a{b.arb", 1e8, 1.0},
                                         BadSegment{"ClosingBrace", "a}.arb", 1e8, 1.0},
                                         BadSegment{"LineFeed", "a\nb.arb", 1e8, 1.0},
                                         BadSegment{"CarriageReturn", "a.arb\r", 1e8, 1.0}),
                         [](const testing::TestParamInfo<BadSegment>& info) {
                           return std::string(info.param.what);
                         });

TEST_F(SeqlinkMultiSegWriterTest, WritesThroughToADeviceAndAFifo) {
  Segments s;
  s.add("a.arb", 1e8, 3, 1.0, 100);
  // What the file would be, written to a regular file for comparison of its size.
  ASSERT_EQ(s.write(path_), SEQLINK_OK);
  const std::size_t size = arbtest::readBytes(path_).size();
  const std::string fifo = dir_.file("fifo.arb");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
  Bytes received;
  std::thread reader([&] { received = arbtest::readBytes(fifo); });
  EXPECT_EQ(s.write(fifo), SEQLINK_OK);
  reader.join();
  ASSERT_EQ(received.size(), size);
  checkFile(received, s);
  struct stat info {};
  ASSERT_EQ(lstat(fifo.c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
  EXPECT_EQ(s.write("/dev/null"), SEQLINK_OK);
  ASSERT_EQ(lstat("/dev/null", &info), 0);
  EXPECT_TRUE(S_ISCHR(info.st_mode));
}

TEST(SeqlinkExactEnergyTest, SumsSquaresOverFullScale) {
  const std::vector<std::int16_t> values = {-32768, 32767, 8192, -1, 0};
  long double expected = 0;
  for (const auto v : values) expected += (v / 8192.0L) * (v / 8192.0L);
  EXPECT_EQ(arbsuite::arb::exactSignalEnergy(values), expected);
}

// ---------------------------------------------------------------------------
// The samples encrypted in pieces: the bytes of one call over all of them.
// ---------------------------------------------------------------------------

// One EncOrDecOpt call over all the bytes, as the file's data would be without pieces.
Bytes encryptedInOneCall(const Bytes& plain, const seqtest::DataKey& key) {
  Bytes cipher((plain.size() + 7) / 8 * 8);
  std::uint32_t length = static_cast<std::uint32_t>(cipher.size());
  if (!plain.empty()) {
    EXPECT_EQ(EncOrDecOpt(2, plain.data(), static_cast<std::uint32_t>(plain.size()), key.data(),
                          cipher.data(), &length, 0) &
                  0xFFFF,
              0);
  }
  return cipher;
}

class SeqlinkPieceEncryptionTest
    : public ::testing::TestWithParam<std::tuple<std::size_t, std::size_t>> {};

TEST_P(SeqlinkPieceEncryptionTest, PiecesMakeTheBytesOfOneCall) {
  const auto [length, pieceLength] = GetParam();
  Bytes plain(length);
  std::mt19937 random(static_cast<unsigned>(length * 31 + pieceLength));
  for (auto& b : plain) b = static_cast<std::uint8_t>(random());
  const seqtest::DataKey key = seqtest::testKey();

  Bytes joined;
  std::vector<std::size_t> pieces;
  const int status =
      arbsuite::seqlink::encryptInPieces(plain.data(), plain.size(), key.data(), pieceLength,
                                         [&](const std::uint8_t* piece, std::size_t n) {
                                           joined.insert(joined.end(), piece, piece + n);
                                           pieces.push_back(n);
                                           return true;
                                         });
  ASSERT_EQ(status, SEQLINK_OK);
  EXPECT_EQ(joined, encryptedInOneCall(plain, key));
  // Whole blocks per piece (at least one), all but the last of the same length.
  const std::size_t whole = std::max<std::size_t>(pieceLength / 8 * 8, 8);
  EXPECT_EQ(pieces.size(), (length + whole - 1) / whole);
  for (std::size_t i = 0; i + 1 < pieces.size(); ++i) EXPECT_EQ(pieces[i], whole) << i;
}

INSTANTIATE_TEST_SUITE_P(
    LengthsAroundPieces, SeqlinkPieceEncryptionTest,
    ::testing::Combine(::testing::Values(0, 4, 8, 12, 56, 60, 64, 68, 72, 124, 128, 132, 1000,
                                         1004),
                       ::testing::Values(1, 8, 60, 64, arbsuite::seqlink::kCipherPieceLength)));

TEST(SeqlinkPieceEncryptionFailureTest, SinkThatCannotWriteStopsAtThatPiece) {
  const Bytes plain(100, 7);
  const seqtest::DataKey key = seqtest::testKey();
  int calls = 0;
  EXPECT_EQ(arbsuite::seqlink::encryptInPieces(
                plain.data(), plain.size(), key.data(), 16,
                [&](const std::uint8_t*, std::size_t) { return ++calls < 2; }),
            SEQLINK_DATA_CANNOT_OPEN);
  EXPECT_EQ(calls, 2);
}

// Whole files around the piece length: the data is that of one call under the
// file's own key (unwrapped here), and reads back as the samples.
class SeqlinkPiecewiseFileTest : public SeqlinkMultiSegWriterTest,
                                 public ::testing::WithParamInterface<int> {};

TEST_P(SeqlinkPiecewiseFileTest, DataIsTheOneCallEncryption) {
  const int pairs = GetParam();
  Segments s;
  s.add("a.arb", 1e8, pairs / 3, 1.0, 8000);
  s.add("b.arb", 1e8, pairs - pairs / 3, 1.0, 3000);
  ASSERT_EQ(s.write(path_), SEQLINK_OK);
  const Bytes file = arbtest::readBytes(path_);
  seqtest::DataKey key{};
  std::uint32_t keyLength = static_cast<std::uint32_t>(key.size());
  ASSERT_EQ(EncOrDecOpt(3, &file[24], 84, nullptr, key.data(), &keyLength, 1) & 0xFFFF, 0);
  const std::uint32_t dataOffset = getU32(file, 204);
  const Bytes data(file.begin() + dataOffset, file.end());
  const std::vector<std::int16_t> values(s.samples.begin(), s.samples.end());
  EXPECT_TRUE(data == encryptedInOneCall(seqtest::plainSamples(values), key));
  std::vector<short> back(s.samples.size());
  ASSERT_EQ(readArbFileData(path_.c_str(), pairs, back.data()), SEQLINK_OK);
  EXPECT_TRUE(back == s.samples);
}

constexpr int kPiecePairs = static_cast<int>(arbsuite::seqlink::kCipherPieceLength / 4);
INSTANTIATE_TEST_SUITE_P(PairsAroundThePieceLength, SeqlinkPiecewiseFileTest,
                         ::testing::Values(kPiecePairs - 1, kPiecePairs, kPiecePairs + 1,
                                           2 * kPiecePairs + 3));

}  // namespace
