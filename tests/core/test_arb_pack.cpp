// The packer of the internal library on its own: the words it reads from memory,
// the results it gives for bad arguments and failing sources (and that nothing is
// left then), and the converter's packing of IQ pairs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "arb_pack.h"
#include "arb_samples.h"
#include "files.h"
#include "pair_packer.h"
#include "progress_counting.h"
#include "progress_report.h"
#include "quantizer.h"
#include "scratch_dir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A source that reports a size and fails its reads at byte failAt of pass failPass
// (0: the level pass, 1: the encryption pass).
class StubWords final : public arbsuite::SampleWords {
 public:
  StubWords(std::uint64_t size, bool opens, std::uint64_t failAt, int failPass = 0)
      : size_(size), opens_(opens), failAt_(failAt), failPass_(failPass) {}
  bool open() override { return opens_; }
  std::uint64_t byteCount() const override { return size_; }
  std::size_t read(std::span<std::uint8_t> buffer) override {
    const std::uint64_t end = std::min<std::uint64_t>(size_, pass_ == failPass_ ? failAt_ : kAll);
    const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), end - at_));
    std::fill(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(take), std::uint8_t{1});
    at_ += take;
    failed_ = pass_ == failPass_ && at_ == failAt_ && failAt_ < size_;
    return take;
  }
  bool failed() const override { return failed_; }
  bool rewind() override {
    at_ = 0;
    failed_ = false;
    ++pass_;
    return true;
  }

 private:
  static constexpr std::uint64_t kAll = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t size_;
  bool opens_;
  std::uint64_t failAt_;
  int failPass_;
  int pass_ = 0;
  std::uint64_t at_ = 0;
  bool failed_ = false;
};

constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();

arbsuite::Version1Fields someFields() { return arbsuite::converterFields(1'000'000); }

TEST(CorePack, MemoryWordsAreHandedOutInAnyPiecesAndAgain) {
  const Bytes bytes = {0x02, 0x01, 0xFE, 0xFF, 0xFF, 0x7F, 0x00, 0x80, 0x05, 0x00};
  arbsuite::MemorySampleWords words(bytes);
  ASSERT_TRUE(words.open());
  EXPECT_EQ(words.byteCount(), 10u);
  Bytes got;
  std::uint8_t piece[3];
  for (std::size_t n; (n = words.read(piece)) > 0;) got.insert(got.end(), piece, piece + n);
  EXPECT_EQ(got, bytes);
  ASSERT_TRUE(words.rewind());
  EXPECT_EQ(words.read(piece), 3u);
  EXPECT_EQ(piece[0], 0x02);
}

// The samples of packSamples reach the file little-endian.
TEST(CorePack, SamplesInMemoryArePackedLittleEndian) {
  arbtest::ScratchDir dir;
  const std::vector<std::int16_t> samples = {0x0102, -2, 0x7FFF, -32768, 5, 0};
  ASSERT_EQ(arbsuite::packSamples(samples, someFields(), dir.file("s.arb").c_str()),
            arbsuite::kPackOk);
  std::string text;
  EXPECT_EQ(arbtest::readArb(dir.file("s.arb"), text), samples);
}

TEST(CorePack, RefusalsAndFailuresLeaveNoFile) {
  arbtest::ScratchDir dir;
  const std::string out = dir.file("out.arb");
  const std::vector<std::int16_t> samples(400, 100);
  arbsuite::Version1Fields badIndex = someFields();
  badIndex.modulationType = 18;
  EXPECT_EQ(arbsuite::packSamples(samples, badIndex, out.c_str()), arbsuite::kPackBadParameter);
  badIndex = someFields();
  badIndex.dataSource = 8;
  EXPECT_EQ(arbsuite::packSamples(samples, badIndex, out.c_str()), arbsuite::kPackBadParameter);

  StubWords tooLarge(arbsuite::kMaxPackedBytes + 1, true, kNever);
  EXPECT_EQ(arbsuite::packVersion1(tooLarge, someFields(), out.c_str()),
            arbsuite::kPackBadParameter);
  StubWords closed(400, false, kNever);
  EXPECT_EQ(arbsuite::packVersion1(closed, someFields(), out.c_str()), arbsuite::kPackInputFailed);
  // A read that fails in the level pass, and one that fails while the samples are
  // encrypted (after the header is written): neither leaves the output.
  for (const int pass : {0, 1}) {
    StubWords failing(400000, true, 300000, pass);
    EXPECT_EQ(arbsuite::packVersion1(failing, someFields(), out.c_str()),
              arbsuite::kPackInputFailed)
        << pass;
  }
  EXPECT_EQ(arbsuite::packSamples(samples, someFields(), dir.file("no/such/folder.arb").c_str()),
            arbsuite::kPackOutputFailed);
  EXPECT_EQ(arbsuite::packSamples(samples, someFields(), nullptr), arbsuite::kPackOutputFailed);
  EXPECT_TRUE(arbtest::listing(dir.path().string()).empty());
}

TEST(CorePack, StatusWordsNameEveryResult) {
  EXPECT_EQ(arbsuite::packStatusWords(arbsuite::kPackOk), "success");
  EXPECT_EQ(arbsuite::packStatusWords(arbsuite::kPackOutputFailed),
            "the .arb file cannot be created or written");
  EXPECT_EQ(arbsuite::packStatusWords(7), "packer error 7");
}

// A report given to the packer counts its two reads of the samples and the pair
// sources' reads, and the samples packed are the same as without it.
TEST(CorePack, ProgressCountsThePackersReads) {
  arbtest::ScratchDir dir;
  std::vector<std::int16_t> samples;
  for (int k = 0; k < 2 * 70001; ++k) samples.push_back(static_cast<std::int16_t>(k % 8000 - 4000));
  arbsuite::arb::ProgressReport report("test", 0, "pairs", arbsuite::arb::ProgressMode::Off);
  ASSERT_EQ(arbsuite::packSamples(samples, arbsuite::converterFields(1'000'000),
                                  dir.file("s.arb").c_str(), &report),
            arbsuite::kPackOk);
  EXPECT_EQ(report.done(), 2u * 70001);
  std::string text;
  EXPECT_EQ(arbtest::readArb(dir.file("s.arb"), text), samples);

  std::vector<arbsuite::IqPair> pairs(12345, arbsuite::IqPair{0.5, -0.25});
  arbsuite::PairSpan source(pairs);
  arbsuite::arb::ProgressReport pairReport("test", 0, "pairs", arbsuite::arb::ProgressMode::Off);
  arbsuite::CountedPairs counted(source, pairReport);
  arbsuite::findPeak(counted);
  EXPECT_EQ(pairReport.done(), pairs.size());
}

// The level item summed term by term in file order, written apart from the packer's
// own sum: (m / 8192)^2 with m the magnitude of the word as a 14-bit sample.
double levelTermByTerm(double sum, std::span<const std::int16_t> samples) {
  for (const std::int16_t s : samples) {
    const int bits = static_cast<std::uint16_t>(s) & 0x3FFF;
    const int value = bits >= 0x2000 ? bits - 0x4000 : bits;
    const double x = std::abs(value) / 8192.0;
    sum += x * x;
  }
  return sum;
}

TEST(CorePack, TheLevelSumIsTheSumTermByTermInAnyPieces) {
  // Past 2^27 words the running sum is rounded at every term: the pieces must then
  // be added term by term too. Streamed in pieces of random sizes, never held whole.
  std::mt19937 random(3);
  arbsuite::LevelSum sum;
  double reference = 0.0;
  std::vector<std::int16_t> piece;
  for (std::uint64_t words = 0; words < (std::uint64_t{1} << 27) + 3'000'000;) {
    piece.resize(1 + random() % 300'000);
    for (std::int16_t& s : piece) s = static_cast<std::int16_t>(8191 - random() % 16383);
    sum.add(piece, arbsuite::LevelSum::squares(piece));
    reference = levelTermByTerm(reference, piece);
    words += piece.size();
    if (words < 2'000'000) {
      ASSERT_EQ(sum.value(), reference) << words;
    }
  }
  EXPECT_EQ(sum.value(), reference);
}

TEST(CorePack, AGivenLevelIsTheLevelTheFirstReadWouldSum) {
  arbtest::ScratchDir dir;
  std::vector<std::int16_t> samples;
  for (int k = 0; k < 100'000; ++k)
    samples.push_back(static_cast<std::int16_t>(8191 * std::sin(k * 0.37)));
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(samples.data());
  arbsuite::MemorySampleWords twice(std::span(bytes, samples.size() * 2));
  ASSERT_EQ(arbsuite::packVersion1(twice, someFields(), dir.file("a.arb").c_str()),
            arbsuite::kPackOk);
  arbsuite::LevelSum level;
  level.add(samples, arbsuite::LevelSum::squares(samples));
  arbsuite::MemorySampleWords words(std::span(bytes, samples.size() * 2));
  ASSERT_EQ(arbsuite::packVersion1(words, someFields(), dir.file("b.arb").c_str(), level.value()),
            arbsuite::kPackOk);
  std::string textA;
  std::string textB;
  EXPECT_EQ(arbtest::readArb(dir.file("a.arb"), textA), samples);
  EXPECT_EQ(arbtest::readArb(dir.file("b.arb"), textB), samples);
  EXPECT_EQ(textA, textB);
  // A failure in what is now the only read is a read failure.
  StubWords failing(4000, true, 1000, 0);
  EXPECT_EQ(arbsuite::packVersion1(failing, someFields(), dir.file("c.arb").c_str(), 1.0),
            arbsuite::kPackInputFailed);
  EXPECT_FALSE(std::filesystem::exists(dir.file("c.arb")));
}

TEST(CorePack, PairsAreQuantisedAsTheConverterQuantisesThem) {
  arbtest::ScratchDir dir;
  std::vector<arbsuite::IqPair> pairs;
  for (int k = 0; k < 5000; ++k) pairs.push_back({std::sin(k * 0.01) * 3, std::cos(k * 0.013)});
  std::vector<arbsuite::IqPair> copy = pairs;
  const std::vector<std::int16_t> expected = arbsuite::quantizeIq(copy, 0.5);
  arbsuite::PairSpan source(pairs);
  ASSERT_EQ(arbsuite::packPairs(source, 2'000'000, dir.file("p.arb").c_str(), 0.5),
            arbsuite::kPackOk);
  std::string text;
  EXPECT_EQ(arbtest::readArb(dir.file("p.arb"), text), expected);
  EXPECT_THAT(text, ::testing::HasSubstr("{Clock:2000000HZ}")) << text;
  EXPECT_THAT(text, ::testing::HasSubstr("{DataSource:PRBS9}")) << text;

  EXPECT_NO_THROW(arbsuite::checkOutputName("x.arb"));
  EXPECT_THROW(arbsuite::checkOutputName("x.ARB"), std::invalid_argument);
}

// A known peak stands for the pairs held when it was set: appending drops it, and a
// peak that needs a prescale (an infinite or subnormal modulus) is left to findPeak.
TEST(CorePackKnownPeak, StandsOnlyForThePairsItWasFoundIn) {
  arbsuite::MemoryPairs pairs(std::vector<arbsuite::IqPair>{{3.0, 4.0}});
  EXPECT_FALSE(arbsuite::knownPeakScale(pairs).has_value());
  pairs.setKnownPeak(5.0);
  const std::optional<arbsuite::PeakScale> known = arbsuite::knownPeakScale(pairs);
  ASSERT_TRUE(known.has_value());
  EXPECT_EQ(known->peak, arbsuite::findPeak(pairs).peak);
  EXPECT_EQ(known->prescale, 1.0);
  pairs.append({{6.0, 8.0}});
  EXPECT_FALSE(pairs.knownPeak().has_value());
  for (const double peak : {std::numeric_limits<double>::infinity(), 1e-300}) {
    pairs.setKnownPeak(peak);
    EXPECT_FALSE(arbsuite::knownPeakScale(pairs).has_value()) << peak;
  }
  pairs.setKnownPeak(0.0);  // every pair zero: divided by nothing
  ASSERT_TRUE(arbsuite::knownPeakScale(pairs).has_value());
  (void)pairs.release();
  EXPECT_FALSE(pairs.knownPeak().has_value());
}

}  // namespace
