// The .arb readers: description, display text and samples, on files built by the
// tests, including truncated and corrupted ones.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "arb_readers.h"
#include "arb_source.h"
#include "failing_source.h"
#include "seqlink.h"
#include "seqlink_test_support.h"

namespace {

using seqtest::Bytes;
using seqtest::putU32;
using seqtest::ScratchDir;

const std::string kText =
    "{Clock:10000000HZ}{ModulationMode:Digital}{Value:3.250000}{Num:3}{DataSource:PRBS9}";

// A version-2 file whose info block holds only the given entries; the first entry
// of type `firstType` and the last one the text.
Bytes makeVersion2TextFile(const std::string& text, std::uint32_t firstType,
                           const std::vector<std::int16_t>& values, bool encrypted = true) {
  const std::uint32_t entries = firstType == 1 ? 1 : 2;
  Bytes block(4 + 16 * entries, 0);
  putU32(block, 0, entries);
  std::uint32_t offset = 208 + static_cast<std::uint32_t>(block.size());
  if (entries == 2) {
    putU32(block, 4, firstType);
    putU32(block, 8, 16);
    putU32(block, 12, offset);
    offset += 16;
  }
  const std::size_t last = 4 + 16 * (entries - 1);
  putU32(block, last, 1);
  putU32(block, last + 4, static_cast<std::uint32_t>(text.size()));
  putU32(block, last + 8, offset);
  if (entries == 2) block.resize(block.size() + 16, 0);
  block.insert(block.end(), text.begin(), text.end());

  Bytes file(208, 0);
  putU32(file, 0, seqtest::zlibCrc(block.data(), block.size()));
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

struct Inf {
  int status;
  int sampleCount = -1;
  double clock = -1;
  double energy = -1;
};

Inf infOf(const Bytes& file) {
  arbsuite::arb::MemorySource source(file);
  Inf r{};
  r.status = arbsuite::seqlink::readInfFrom(source, &r.sampleCount, &r.clock, &r.energy);
  return r;
}

// ---------------------------------------------------------------------------
// readArbFileInf
// ---------------------------------------------------------------------------

TEST(SeqlinkReadInfTest, ReadsCountClockAndEnergyOfVersion1) {
  const Inf r = infOf(seqtest::makeVersion1File(kText, seqtest::rampValues(3, 1000)));
  ASSERT_EQ(r.status, SEQLINK_OK);
  EXPECT_EQ(r.sampleCount, 3);
  EXPECT_DOUBLE_EQ(r.clock, 1e7);
  EXPECT_DOUBLE_EQ(r.energy, 3.25);
}

TEST(SeqlinkReadInfTest, AcceptsVersion2WhoseFirstEntryIsTheText) {
  const Inf r = infOf(makeVersion2TextFile("{Clock:5HZ}{Value:1.5}", 1, seqtest::rampValues(4, 9)));
  ASSERT_EQ(r.status, SEQLINK_OK);
  EXPECT_EQ(r.sampleCount, 4);
  EXPECT_DOUBLE_EQ(r.clock, 5.0);
  EXPECT_DOUBLE_EQ(r.energy, 1.5);
}

TEST(SeqlinkReadInfTest, RefusesMultiSegmentFileAfterStoringItsCount) {
  const Inf r = infOf(makeVersion2TextFile("{Clock:5HZ}{Value:1.5}", 2, seqtest::rampValues(7, 9)));
  EXPECT_EQ(r.status, SEQLINK_MULTI_SEGMENT_REFUSED);
  EXPECT_EQ(r.sampleCount, 7);
  EXPECT_EQ(r.clock, -1);
}

TEST(SeqlinkReadInfTest, MissingItemsAreBadHeaderAndKeepWhatWasStored) {
  Inf r = infOf(seqtest::makeVersion1File("{Clock:8HZ}{Num:3}", {}));
  EXPECT_EQ(r.status, SEQLINK_BAD_HEADER);
  EXPECT_DOUBLE_EQ(r.clock, 8.0);  // stored before the Value item was missed
  EXPECT_EQ(r.energy, -1);
  r = infOf(seqtest::makeVersion1File("{Value:8}", {}));
  EXPECT_EQ(r.status, SEQLINK_BAD_HEADER);
  EXPECT_EQ(r.clock, -1);
}

TEST(SeqlinkReadInfTest, Version1TextIsLimitedToDataOffsetTo1024BytesAndToAZeroByte) {
  const std::string filler = "{Filler:" + std::string(1020, 'x') + "}";
  EXPECT_EQ(infOf(seqtest::makeVersion1File(filler + kText, {})).status, SEQLINK_BAD_HEADER);
  EXPECT_EQ(infOf(seqtest::makeVersion1File(std::string("{Clock:1HZ}\0{Value:2}", 21), {})).status,
            SEQLINK_BAD_HEADER);
  Bytes file = seqtest::makeVersion1File(kText, {});
  putU32(file, 204, 208 + 20);  // the samples begin before the Value item
  EXPECT_EQ(infOf(file).status, SEQLINK_BAD_HEADER);
}

TEST(SeqlinkReadInfTest, VersionZeroOrNegativeIsBadHeader) {
  for (const std::uint32_t version : {0u, 0xFFFFFFFFu, 0x80000000u}) {
    Bytes file = seqtest::makeVersion1File(kText, seqtest::rampValues(3, 10));
    putU32(file, 20, version);
    const Inf r = infOf(file);
    EXPECT_EQ(r.status, SEQLINK_BAD_HEADER) << version;
    EXPECT_EQ(r.sampleCount, 3);
  }
}

TEST(SeqlinkReadInfTest, TextBlockOutsideTheFileIsBadHeader) {
  Bytes file = makeVersion2TextFile("{Clock:5HZ}{Value:1.5}", 1, {});
  for (const auto& [field, value] : std::vector<std::pair<std::size_t, std::uint32_t>>{
           {216, 0xFFFFFFFFu},
           {220, 0xFFFFFFFFu},
           {220, static_cast<std::uint32_t>(file.size())},
           {216, static_cast<std::uint32_t>(file.size())}}) {
    Bytes broken = file;
    putU32(broken, field, value);
    EXPECT_EQ(infOf(broken).status, SEQLINK_BAD_HEADER) << field << " " << value;
  }
}

TEST(SeqlinkReadInfTest, NullOutputIsNoMemory) {
  const Bytes file = seqtest::makeVersion1File(kText, {});
  arbsuite::arb::MemorySource source(file);
  int count = -1;
  double clock = -1, energy = -1;
  EXPECT_EQ(arbsuite::seqlink::readInfFrom(source, nullptr, &clock, &energy), SEQLINK_NO_MEMORY);
  EXPECT_EQ(arbsuite::seqlink::readInfFrom(source, &count, nullptr, &energy), SEQLINK_NO_MEMORY);
  EXPECT_EQ(arbsuite::seqlink::readInfFrom(source, &count, &clock, nullptr), SEQLINK_NO_MEMORY);
  EXPECT_EQ(count, -1);
}

TEST(SeqlinkReadInfTest, MissingFileIsFileCannotOpen) {
  int count = -1;
  double clock = -1, energy = -1;
  EXPECT_EQ(readArbFileInf("/nonexistent/seqlink/file.arb", &count, &clock, &energy),
            SEQLINK_FILE_CANNOT_OPEN);
  EXPECT_EQ(readArbFileInf(nullptr, &count, &clock, &energy), SEQLINK_FILE_CANNOT_OPEN);
  EXPECT_EQ(count, -1);
}

// ---------------------------------------------------------------------------
// readArbFileAllInf and the display form
// ---------------------------------------------------------------------------

// The display form written the plain way: insert the spaces into the text itself.
std::string referenceDisplay(std::string t) {
  const std::size_t last = t.rfind('}');
  if (last != std::string::npos) t.erase(last);
  const auto opens = std::count(t.begin(), t.end(), '{');
  const auto colons = std::count(t.begin(), t.end(), ':');
  if (colons >= opens) {
    std::size_t width = 0;
    for (std::size_t p = 0; p < t.size(); ++p) {
      if (t[p] != '{') continue;
      for (std::size_t q = p + 1; q < t.size() && t[q] != '{'; ++q) {
        if (t[q] == ':') {
          width = std::max(width, q - p);
          break;
        }
      }
    }
    for (std::size_t p = t.find('{'); p != std::string::npos; p = t.find('{', p + 1)) {
      const std::size_t c = t.find(':', p + 1);
      if (c != std::string::npos && c - p < width) t.insert(c, width - (c - p), ' ');
    }
  }
  for (char& c : t) c = c == '{' ? ' ' : c == '}' ? '\n' : c;
  return t;
}

TEST(SeqlinkDisplayFormatTest, AlignsKeysOfTheTwoItemExample) {
  EXPECT_EQ(*arbsuite::seqlink::formatTextForDisplay("{Clock:1HZ}{ModulationMode:Digital}"),
            " Clock         :1HZ\n ModulationMode:Digital");
}

TEST(SeqlinkDisplayFormatTest, KeepsTextsWithoutBracesOrWithTooFewColons) {
  EXPECT_EQ(*arbsuite::seqlink::formatTextForDisplay("plain text"), "plain text");
  EXPECT_EQ(*arbsuite::seqlink::formatTextForDisplay("{a:1}{bb}{c:3}"), " a:1\n bb\n c:3");
}

TEST(SeqlinkDisplayFormatTest, MatchesThePlainInsertionOnRandomTexts) {
  std::mt19937 random(20240613);
  const std::string alphabet = "{}:ab ";
  for (int round = 0; round < 3000; ++round) {
    std::string text(random() % 40, ' ');
    for (char& c : text) c = alphabet[random() % alphabet.size()];
    const std::optional<std::string> got = arbsuite::seqlink::formatTextForDisplay(text);
    ASSERT_TRUE(got);
    ASSERT_EQ(*got, referenceDisplay(text)) << "text: " << text;
  }
}

TEST(SeqlinkDisplayFormatTest, RefusesResultsLongerThanTheLimit) {
  const std::string text = "{Clock:1HZ}{ModulationMode:Digital}";
  const std::string display = referenceDisplay(text);
  EXPECT_TRUE(arbsuite::seqlink::formatTextForDisplay(text, display.size()));
  EXPECT_FALSE(arbsuite::seqlink::formatTextForDisplay(text, display.size() - 1));
}

class SeqlinkReadAllInfTest : public ::testing::Test {
 protected:
  int run(const Bytes& file, int& length) {
    arbsuite::arb::MemorySource source(file);
    return arbsuite::seqlink::readAllInfFrom(source, buffer_.data(), &length);
  }
  std::vector<char> buffer_ = std::vector<char>(SEQLINK_TEXT_CAPACITY, '\0');
};

TEST_F(SeqlinkReadAllInfTest, AppendsToTheCallersText) {
  std::strcpy(buffer_.data(), "Header\n");
  int length = 0;
  ASSERT_EQ(run(seqtest::makeVersion1File("{Clock:1HZ}{ModulationMode:Digital}", {}), length),
            SEQLINK_OK);
  const std::string expected = " Clock         :1HZ\n ModulationMode:Digital";
  EXPECT_EQ(std::string(buffer_.data()), "Header\n" + expected);
  EXPECT_EQ(length, static_cast<int>(expected.size() + 1));
}

TEST_F(SeqlinkReadAllInfTest, ReadsTheLastEntryOfVersion2) {
  int length = 0;
  ASSERT_EQ(run(makeVersion2TextFile("{Value:1.5}{Num:16}{NUMBER SEGMENTS:0}", 2, {}), length),
            SEQLINK_OK);
  EXPECT_EQ(std::string(buffer_.data()),
            " Value          :1.5\n Num            :16\n NUMBER SEGMENTS:0");
}

TEST_F(SeqlinkReadAllInfTest, ResultThatDoesNotFitIsNoMemoryAndLeavesTheBuffer) {
  const Bytes file = seqtest::makeVersion1File("{Clock:1HZ}{ModulationMode:Digital}", {});
  const std::size_t display = referenceDisplay("{Clock:1HZ}{ModulationMode:Digital}").size();
  int length = 0;
  // Exactly full: existing text, the result and the terminator fill all 20,480 bytes.
  std::string existing(SEQLINK_TEXT_CAPACITY - 1 - display, 'x');
  std::strcpy(buffer_.data(), existing.c_str());
  ASSERT_EQ(run(file, length), SEQLINK_OK);
  EXPECT_EQ(std::strlen(buffer_.data()), SEQLINK_TEXT_CAPACITY - 1u);
  // One byte more does not fit.
  existing.push_back('x');
  std::strcpy(buffer_.data(), existing.c_str());
  EXPECT_EQ(run(file, length), SEQLINK_NO_MEMORY);
  EXPECT_EQ(std::string(buffer_.data()), existing);
  // A buffer without a terminator has no room at all.
  std::memset(buffer_.data(), 'y', buffer_.size());
  EXPECT_EQ(run(file, length), SEQLINK_NO_MEMORY);
}

TEST_F(SeqlinkReadAllInfTest, ManyShortItemsPaddedToALongKeyAreRefusedNotBuilt) {
  // 5,000 one-letter items padded to a 10,000-character key would need 50 MB.
  std::string text = "{" + std::string(10000, 'k') + ":v}";
  for (int i = 0; i < 5000; ++i) text += "{a:1}";
  int length = 0;
  EXPECT_EQ(run(seqtest::makeVersion1File(text, {}), length), SEQLINK_NO_MEMORY);
}

TEST_F(SeqlinkReadAllInfTest, BadVersionsAndOutOfFileBlocksAreBadHeader) {
  int length = 0;
  Bytes file = seqtest::makeVersion1File(kText, {});
  for (const std::uint32_t version : {0u, 0xFFFFFFFFu}) {
    Bytes broken = file;
    putU32(broken, 20, version);
    EXPECT_EQ(run(broken, length), SEQLINK_BAD_HEADER);
  }
  for (const std::uint32_t dataOffset :
       {0u, 207u, static_cast<std::uint32_t>(file.size() + 1), 0xFFFFFFFFu}) {
    Bytes broken = file;
    putU32(broken, 204, dataOffset);
    EXPECT_EQ(run(broken, length), SEQLINK_BAD_HEADER) << dataOffset;
  }
  const Bytes v2 = makeVersion2TextFile("{Value:1}", 2, {});
  for (const auto& [field, value] : std::vector<std::pair<std::size_t, std::uint32_t>>{
           {208, 0u}, {208, 0xFFFFFFFFu}, {208, 1000u}, {232, 0xFFFFFFFFu}, {236, 0xFFFFFFF0u}}) {
    Bytes broken = v2;
    putU32(broken, field, value);
    EXPECT_EQ(run(broken, length), SEQLINK_BAD_HEADER) << field << " " << value;
  }
  EXPECT_EQ(std::string(buffer_.data()), "");
}

TEST(SeqlinkReadAllInfFileTest, MissingFileIsFileCannotOpenAndNullBufferIsNoMemory) {
  char text[SEQLINK_TEXT_CAPACITY] = "";
  int length = 0;
  EXPECT_EQ(readArbFileAllInf("/nonexistent/seqlink/file.arb", text, &length),
            SEQLINK_FILE_CANNOT_OPEN);
  ScratchDir dir;
  const std::string path = dir.file("a.arb");
  arbtest::writeBytes(path, seqtest::makeVersion1File(kText, {}));
  EXPECT_EQ(readArbFileAllInf(path.c_str(), nullptr, &length), SEQLINK_NO_MEMORY);
  EXPECT_EQ(readArbFileAllInf(path.c_str(), text, nullptr), SEQLINK_NO_MEMORY);
}

// ---------------------------------------------------------------------------
// Samples
// ---------------------------------------------------------------------------

std::vector<std::int16_t> samplesOf(const Bytes& file, std::size_t pairs, int& status) {
  arbsuite::arb::MemorySource source(file);
  // Two canary pairs after the requested ones must stay as they are.
  std::vector<std::int16_t> out(2 * pairs + 4, 0x5A5A);
  status = arbsuite::seqlink::readSamplesFrom(source, pairs, out.data());
  for (std::size_t i = 2 * pairs; i < out.size(); ++i) EXPECT_EQ(out[i], 0x5A5A);
  out.resize(2 * pairs);
  return out;
}

class SeqlinkSamplePairsTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(SeqlinkSamplePairsTest, ReturnsTheSamplesAsStored) {
  const std::size_t pairs = GetParam();
  const std::vector<std::int16_t> values = seqtest::rampValues(pairs, 32767);
  const Bytes file = seqtest::makeVersion1File(kText, values);
  int status = -1;
  EXPECT_EQ(samplesOf(file, pairs, status), values);
  EXPECT_EQ(status, SEQLINK_OK);
  // Fewer pairs than the file holds: exactly those.
  if (pairs > 0) {
    const auto head = samplesOf(file, pairs - 1, status);
    EXPECT_EQ(status, SEQLINK_OK);
    EXPECT_TRUE(std::equal(head.begin(), head.end(), values.begin()));
  }
  // More pairs than the file holds: the rest is silence.
  auto more = samplesOf(file, pairs + 5, status);
  EXPECT_EQ(status, SEQLINK_OK);
  EXPECT_TRUE(std::equal(values.begin(), values.end(), more.begin()));
  EXPECT_TRUE(std::all_of(more.begin() + values.size(), more.end(), [](auto v) { return v == 0; }));
}

INSTANTIATE_TEST_SUITE_P(Lengths, SeqlinkSamplePairsTest,
                         ::testing::Values(0, 1, 2, 3, 64, 65, 1001));

TEST(SeqlinkSampleReaderTest, UnencryptedVersion2DataIsReadAsItIs) {
  const std::vector<std::int16_t> values = seqtest::rampValues(5, 1234);
  int status = -1;
  EXPECT_EQ(samplesOf(makeVersion2TextFile("{Value:1}", 2, values, false), 5, status), values);
  EXPECT_EQ(status, SEQLINK_OK);
  EXPECT_EQ(samplesOf(makeVersion2TextFile("{Value:1}", 2, values, true), 5, status), values);
  EXPECT_EQ(status, SEQLINK_OK);
}

TEST(SeqlinkSampleReaderTest, WrongHeaderCrcIsHeaderCrcMismatchEvenWithIntactSamples) {
  Bytes file = seqtest::makeVersion1File(kText, seqtest::rampValues(3, 100));
  file[208 + 3] ^= 1;
  int status = -1;
  samplesOf(file, 3, status);
  EXPECT_EQ(status, SEQLINK_HEADER_CRC_MISMATCH);
}

TEST(SeqlinkSampleReaderTest, CrcDoesNotCoverTheSamples) {
  const std::vector<std::int16_t> values = seqtest::rampValues(4, 100);
  Bytes file = seqtest::makeVersion1File(kText, values);
  file.back() ^= 0x40;
  int status = -1;
  const auto got = samplesOf(file, 4, status);
  EXPECT_EQ(status, SEQLINK_OK);
  EXPECT_TRUE(std::equal(values.begin(), values.begin() + 4, got.begin()));  // other block
  EXPECT_NE(got, values);
}

TEST(SeqlinkSampleReaderTest, HeaderBlockUpTo10240BytesIsAccepted) {
  const std::vector<std::int16_t> values = seqtest::rampValues(2, 100);
  int status = -1;
  const std::string filler(10240 - kText.size(), 'f');
  EXPECT_EQ(samplesOf(seqtest::makeVersion1File(kText + filler, values), 2, status), values);
  EXPECT_EQ(status, SEQLINK_OK);
  samplesOf(seqtest::makeVersion1File(kText + filler + "f", values), 2, status);
  EXPECT_EQ(status, SEQLINK_HEADER_CRC_MISMATCH);
}

TEST(SeqlinkSampleReaderTest, DataOffsetBeforeTheBlockOrPastTheFileIsHeaderCrcMismatch) {
  const Bytes file = seqtest::makeVersion1File(kText, seqtest::rampValues(2, 100));
  for (const std::uint32_t dataOffset :
       {0u, 207u, static_cast<std::uint32_t>(file.size() + 1), 0xFFFFFFFFu}) {
    Bytes broken = file;
    putU32(broken, 204, dataOffset);
    int status = -1;
    samplesOf(broken, 2, status);
    EXPECT_EQ(status, SEQLINK_HEADER_CRC_MISMATCH) << dataOffset;
  }
}

TEST(SeqlinkSampleReaderTest, BlankIsSilenceWithoutTouchingTheFileSystem) {
  std::vector<short> out(8, 77);
  EXPECT_EQ(readArbFileData("Blank", 3, out.data()), SEQLINK_OK);
  EXPECT_TRUE(std::all_of(out.begin(), out.begin() + 6, [](short v) { return v == 0; }));
  EXPECT_EQ(out[6], 77);
  EXPECT_EQ(readArbFileData("blank", 3, out.data()),
            SEQLINK_DATA_CANNOT_OPEN);  // a file name like any other
  EXPECT_EQ(readArbFileData("Blank ", 3, out.data()), SEQLINK_DATA_CANNOT_OPEN);
}

TEST(SeqlinkSampleReaderTest, BadArgumentsAndUnopenableFiles) {
  std::vector<short> out(8, 0);
  ScratchDir dir;
  EXPECT_EQ(readArbFileData("Blank", -1, out.data()), SEQLINK_DATA_NO_MEMORY);
  EXPECT_EQ(readArbFileData("Blank", 2, nullptr), SEQLINK_DATA_NO_MEMORY);
  EXPECT_EQ(readArbFileData("Blank", 0, nullptr), SEQLINK_OK);
  EXPECT_EQ(readArbFileData(nullptr, 2, out.data()), SEQLINK_DATA_CANNOT_OPEN);
  EXPECT_EQ(readArbFileData(dir.path().c_str(), 2, out.data()),
            SEQLINK_DATA_CANNOT_OPEN);  // a folder
  EXPECT_EQ(readArbFileData(dir.file("absent.arb").c_str(), 2, out.data()),
            SEQLINK_DATA_CANNOT_OPEN);
}

TEST(SeqlinkReadersTest, SpecialFilesAreRefusedBeforeTheyCanBlock) {
  // A FIFO without a writer blocks an open for reading; each reader refuses it (and
  // the endless /dev/zero) with its cannot-open status at once.
  ScratchDir dir;
  const std::string fifo = dir.file("p.arb");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
  for (const std::string& path : {fifo, std::string("/dev/zero")}) {
    int count = -1;
    double clock = -1, energy = -1;
    EXPECT_EQ(readArbFileInf(path.c_str(), &count, &clock, &energy), SEQLINK_FILE_CANNOT_OPEN)
        << path;
    std::vector<char> text(SEQLINK_TEXT_CAPACITY, '\0');
    int length = 0;
    EXPECT_EQ(readArbFileAllInf(path.c_str(), text.data(), &length), SEQLINK_FILE_CANNOT_OPEN)
        << path;
    std::vector<short> out(8, 0);
    EXPECT_EQ(readArbFileData(path.c_str(), 2, out.data()), SEQLINK_DATA_CANNOT_OPEN) << path;
  }
}

TEST(SeqlinkSampleReaderTest, ReadsFromAFile) {
  ScratchDir dir;
  const std::vector<std::int16_t> values = seqtest::rampValues(9, 8191);
  const std::string path = dir.file("wave.arb");
  arbtest::writeBytes(path, seqtest::makeVersion1File(kText, values));
  std::vector<short> out(values.size());
  ASSERT_EQ(readArbFileData(path.c_str(), 9, out.data()), SEQLINK_OK);
  EXPECT_TRUE(std::equal(values.begin(), values.end(), out.begin()));
}

// ---------------------------------------------------------------------------
// Read errors: each reader's status for an I/O error at each place it reads.
// ---------------------------------------------------------------------------

enum class FailAt { header, block, entries, text, data };

struct ReadErrorCase {
  const char* name;
  int version;
  FailAt failAt;
  int inf;
  bool countStored;
  int allInf;
  int data;
};

void PrintTo(const ReadErrorCase& c, std::ostream* os) { *os << c.name; }

class SeqlinkReadErrorTest : public ::testing::TestWithParam<ReadErrorCase> {};

TEST_P(SeqlinkReadErrorTest, EachReaderGivesItsOwnStatus) {
  const ReadErrorCase& c = GetParam();
  const std::vector<std::int16_t> values = seqtest::rampValues(3, 1000);
  // Version 2: a single text entry, so that readArbFileInf reads its text too.
  const Bytes file = c.version == 1 ? seqtest::makeVersion1File(kText, values)
                                    : makeVersion2TextFile(kText, 1, values);
  const std::uint32_t dataOffset = seqtest::getU32(file, 204);
  std::uint64_t failFrom = 0;
  switch (c.failAt) {
    case FailAt::header:
      failFrom = 100;
      break;
    case FailAt::block:
      failFrom = 208;
      break;
    case FailAt::entries:
      failFrom = 212;
      break;
    case FailAt::text:
      failFrom = c.version == 1 ? 208 : 228;  // the text of a one-entry table
      break;
    case FailAt::data:
      failFrom = dataOffset;
      break;
  }

  arbtest::FailingSource source(file, failFrom);
  Inf inf{};
  inf.status = arbsuite::seqlink::readInfFrom(source, &inf.sampleCount, &inf.clock, &inf.energy);
  EXPECT_EQ(inf.status, c.inf);
  EXPECT_EQ(inf.sampleCount, c.countStored ? 3 : -1);

  std::vector<char> text(SEQLINK_TEXT_CAPACITY, '\0');
  int length = 0;
  EXPECT_EQ(arbsuite::seqlink::readAllInfFrom(source, text.data(), &length), c.allInf);

  std::vector<std::int16_t> samples(6, 0x5A5A);
  EXPECT_EQ(arbsuite::seqlink::readSamplesFrom(source, 3, samples.data()), c.data);
}

INSTANTIATE_TEST_SUITE_P(
    Places, SeqlinkReadErrorTest,
    ::testing::Values(ReadErrorCase{"v1Header", 1, FailAt::header, 7, false, 7, 243},
                      ReadErrorCase{"v1Text", 1, FailAt::text, 7, true, 7, 243},
                      ReadErrorCase{"v1Data", 1, FailAt::data, 0, true, 0, 243},
                      ReadErrorCase{"v2Header", 2, FailAt::header, 7, false, 7, 243},
                      ReadErrorCase{"v2EntryCount", 2, FailAt::block, 7, true, 7, 243},
                      ReadErrorCase{"v2Entries", 2, FailAt::entries, 7, true, 7, 243},
                      ReadErrorCase{"v2Text", 2, FailAt::text, 7, true, 7, 243},
                      ReadErrorCase{"v2Data", 2, FailAt::data, 0, true, 0, 243}),
    [](const ::testing::TestParamInfo<ReadErrorCase>& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// Corrupted and truncated files: a status, never a crash or a stray write.
// ---------------------------------------------------------------------------

class SeqlinkCorruptHeaderTest : public ::testing::TestWithParam<int> {};

TEST_P(SeqlinkCorruptHeaderTest, EveryFieldAtZeroAllOnesOrPastTheEndGivesAStatus) {
  const int version = GetParam();
  const std::vector<std::int16_t> values = seqtest::rampValues(5, 3000);
  const Bytes good = version == 1 ? seqtest::makeVersion1File(kText, values)
                                  : makeVersion2TextFile(kText, 2, values);
  const std::uint32_t size = static_cast<std::uint32_t>(good.size());
  // Header fields, then the entry count and the entries of a version-2 block.
  for (const std::size_t field :
       {0, 8, 12, 16, 20, 24, 60, 104, 200, 204, 208, 212, 216, 220, 228, 232, 236}) {
    for (const std::uint32_t value : {0u, 0xFFFFFFFFu, 0x7FFFFFFFu, size, size + 1000}) {
      SCOPED_TRACE(::testing::Message() << "field " << field << " value " << value);
      Bytes file = good;
      putU32(file, field, value);

      const Inf inf = infOf(file);
      EXPECT_TRUE(inf.status == 0 || inf.status == 7 || inf.status == 15) << inf.status;

      std::vector<char> text(SEQLINK_TEXT_CAPACITY, '\0');
      int length = 0;
      arbsuite::arb::MemorySource source(file);
      const int all = arbsuite::seqlink::readAllInfFrom(source, text.data(), &length);
      EXPECT_TRUE(all == 0 || all == 7 || all == 9) << all;
      EXPECT_LT(std::strlen(text.data()), SEQLINK_TEXT_CAPACITY);

      int status = -1;
      samplesOf(file, 16, status);
      EXPECT_TRUE(status == 0 || status == 241 || status == 248) << status;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, SeqlinkCorruptHeaderTest, ::testing::Values(1, 2));

TEST(SeqlinkTruncatedFileTest, EveryLengthGivesAStatusAndWholeBlocksDecrypt) {
  for (const int version : {1, 2}) {
    const std::vector<std::int16_t> values = seqtest::rampValues(7, 5000);
    const Bytes file = version == 1 ? seqtest::makeVersion1File(kText, values)
                                    : makeVersion2TextFile(kText, 2, values);
    const std::size_t dataOffset = seqtest::getU32(file, 204);
    for (std::size_t length = 0; length < file.size(); ++length) {
      const Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length));
      const Inf inf = infOf(cut);
      EXPECT_TRUE(inf.status == 0 || inf.status == 7 || inf.status == 15);
      int status = -1;
      const auto got = samplesOf(cut, 7, status);
      if (length < dataOffset) {
        EXPECT_EQ(status, SEQLINK_HEADER_CRC_MISMATCH) << length;
        continue;
      }
      ASSERT_EQ(status, SEQLINK_OK) << length;
      // Whole 8-byte blocks present decrypt to the samples; the rest is silence.
      const std::size_t wholeValues = (length - dataOffset) / 8 * 4;
      for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i], i < wholeValues ? values[i] : 0) << length << " " << i;
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Decryption in the caller's buffer: the blocks inside the requested pairs are
// decrypted where they are read; an odd count's last block, half padding, in a
// block of its own, or the whole read in a buffer of its own up to a limit.
// ---------------------------------------------------------------------------

// Reads requested pairs of file through ArbDataFile with the given staged-read
// limit; two canary pairs after them must stay as they are.
std::vector<std::int16_t> pairsWithLimit(const Bytes& file, std::size_t requested,
                                         std::uint64_t limit, int& status,
                                         std::uint64_t failFrom = ~std::uint64_t{0}) {
  arbtest::FailingSource source(file, failFrom);
  arbsuite::seqlink::ArbDataFile reader;
  std::vector<std::int16_t> out(2 * requested + 4, 0x5A5A);
  status = reader.open(source);
  if (status == 0) status = reader.readPairs(out.data(), requested, limit);
  for (std::size_t i = 2 * requested; i < out.size(); ++i) EXPECT_EQ(out[i], 0x5A5A) << i;
  out.resize(2 * requested);
  return out;
}

// The first min(requested, held) pairs of values, then silence.
std::vector<std::int16_t> expectedPairs(const std::vector<std::int16_t>& values,
                                        std::size_t requested, std::size_t held) {
  std::vector<std::int16_t> expected(2 * requested, 0);
  std::copy_n(values.begin(), 2 * std::min(requested, held), expected.begin());
  return expected;
}

// Limits: always in place (0), staged for one block only (8) or two (16), the
// library's own.
const auto kStagedLimits = ::testing::Values(std::uint64_t{0}, std::uint64_t{8}, std::uint64_t{16},
                                             arbsuite::seqlink::kStagedReadLimit);

class SeqlinkInPlaceReadTest
    : public ::testing::TestWithParam<std::tuple<std::size_t, std::uint64_t>> {};

TEST_P(SeqlinkInPlaceReadTest, EveryLimitGivesTheSamePairs) {
  const auto [pairs, limit] = GetParam();
  const std::vector<std::int16_t> values = seqtest::rampValues(pairs, 32767, 3);
  const Bytes file = seqtest::makeVersion1File(kText, values);
  for (const std::size_t requested : {pairs - 1, pairs, pairs + 1, pairs + 4}) {
    int status = -1;
    const auto got = pairsWithLimit(file, requested, limit, status);
    ASSERT_EQ(status, SEQLINK_OK) << requested;
    EXPECT_EQ(got, expectedPairs(values, requested, pairs)) << requested;
  }
}

INSTANTIATE_TEST_SUITE_P(PairsAndLimits, SeqlinkInPlaceReadTest,
                         ::testing::Combine(::testing::Values(1, 2, 3, 4, 5, 63, 64, 65, 1001),
                                            kStagedLimits));

class SeqlinkInPlaceTruncatedTest : public ::testing::TestWithParam<std::uint64_t> {};

TEST_P(SeqlinkInPlaceTruncatedTest, WholeBlocksPresentDecryptAndTheRestIsSilence) {
  const std::uint64_t limit = GetParam();
  const std::vector<std::int16_t> values = seqtest::rampValues(7, 5000, 2);
  const Bytes file = seqtest::makeVersion1File(kText, values);
  const std::size_t dataOffset = seqtest::getU32(file, 204);
  for (std::size_t length = dataOffset; length <= file.size(); ++length) {
    const Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length));
    // The eighth pair of the last block is padding: it reads as silence too.
    const std::size_t heldPairs = std::min<std::size_t>((length - dataOffset) / 8 * 2, 7);
    for (const std::size_t requested : {std::size_t{6}, std::size_t{7}, std::size_t{9}}) {
      int status = -1;
      const auto got = pairsWithLimit(cut, requested, limit, status);
      ASSERT_EQ(status, SEQLINK_OK) << length << " " << requested;
      EXPECT_EQ(got, expectedPairs(values, requested, heldPairs)) << length << " " << requested;
    }
  }
}

TEST_P(SeqlinkInPlaceTruncatedTest, ReadErrorLeavesNoCipherTextInThePairs) {
  const std::uint64_t limit = GetParam();
  const std::vector<std::int16_t> values = seqtest::rampValues(7, 5000, 2);
  const Bytes file = seqtest::makeVersion1File(kText, values);
  const std::size_t dataOffset = seqtest::getU32(file, 204);
  // From the first data byte to the last block's second half: the read of the
  // blocks in place or of the last block alone fails.
  for (std::size_t failFrom = dataOffset; failFrom < file.size(); ++failFrom) {
    int status = -1;
    const auto got = pairsWithLimit(file, 7, limit, status, failFrom);
    EXPECT_EQ(status, SEQLINK_DATA_READ_ERROR) << failFrom;
    EXPECT_EQ(got, std::vector<std::int16_t>(14, 0)) << failFrom;
  }
}

INSTANTIATE_TEST_SUITE_P(Limits, SeqlinkInPlaceTruncatedTest, kStagedLimits);

}  // namespace
