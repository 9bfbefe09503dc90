// A file's pieces as core hands them out (read ahead on a second thread) against the
// file read whole: the same pairs for the whole file and for ranges that start and
// end anywhere, and a caller that stops part-way leaves no reader behind.
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "arb_file_pieces.h"
#include "arb_read.h"
#include "pair_packer.h"
#include "pair_source.h"
#include "scratch_dir.h"
#include "seqlink_stream.h"

namespace {

constexpr std::size_t kPiece = arbsuite::seqlink::kStreamPiecePairs;

class CoreFilePieces : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new arbtest::ScratchDir;
    std::vector<arbsuite::IqPair> pairs(kPairs);
    for (std::size_t k = 0; k < kPairs; ++k) {
      pairs[k] = {std::sin(0.001 * static_cast<double>(k)) * (1 + static_cast<double>(k % 97)),
                  std::cos(0.0137 * static_cast<double>(k))};
    }
    arbsuite::PairSpan source(pairs);
    path_ = new std::string(dir_->file("w.arb"));
    ASSERT_EQ(arbsuite::packPairs(source, 10'000'000, path_->c_str(), 0.81), arbsuite::kPackOk);
    whole_ = new arbsuite::ArbContent(arbsuite::readContent(*path_, false));
  }
  static void TearDownTestSuite() {
    delete whole_;
    delete path_;
    delete dir_;
  }

  // Pairs first ... first + count - 1 as the pieces hand them out.
  static std::vector<std::int16_t> piecesOf(std::size_t first, std::size_t count) {
    arbsuite::ArbFilePieces pieces(arbsuite::describedContent(*path_, false));
    std::vector<std::int16_t> got;
    pieces.forEachIn(first, count, [&](std::span<const std::int16_t> piece) {
      EXPECT_FALSE(piece.empty());
      EXPECT_LE(piece.size(), 2 * kPiece);
      got.insert(got.end(), piece.begin(), piece.end());
    });
    return got;
  }

  static constexpr std::size_t kPairs = 3 * kPiece + 12345;
  static arbtest::ScratchDir* dir_;
  static std::string* path_;
  static arbsuite::ArbContent* whole_;
};

arbtest::ScratchDir* CoreFilePieces::dir_ = nullptr;
std::string* CoreFilePieces::path_ = nullptr;
arbsuite::ArbContent* CoreFilePieces::whole_ = nullptr;

TEST_F(CoreFilePieces, HandOutTheSamplesOfTheWholeReadForAnyRange) {
  ASSERT_EQ(whole_->count, kPairs);
  const std::vector<std::pair<std::size_t, std::size_t>> ranges = {
      {0, kPairs},         {0, kPiece},     {1, kPiece}, {kPiece - 1, 2},
      {3, 2 * kPiece + 7}, {kPairs - 1, 1}, {17, 0},     {kPiece + 5, kPairs - kPiece - 5}};
  for (const auto& [first, count] : ranges) {
    const std::vector<std::int16_t> expected(
        whole_->samples.begin() + static_cast<std::ptrdiff_t>(2 * first),
        whole_->samples.begin() + static_cast<std::ptrdiff_t>(2 * (first + count)));
    EXPECT_TRUE(piecesOf(first, count) == expected) << first << " + " << count;
  }
  // Another pass of the same source gives the same pairs.
  arbsuite::ArbFilePieces pieces(arbsuite::describedContent(*path_, false));
  for (int pass = 0; pass < 2; ++pass) {
    std::size_t pairs = 0;
    pieces.forEach([&](std::span<const std::int16_t> piece) { pairs += piece.size() / 2; });
    EXPECT_EQ(pairs, kPairs);
  }
}

TEST_F(CoreFilePieces, ACallerThatStopsPartWayStopsTheReader) {
  arbsuite::ArbFilePieces pieces(arbsuite::describedContent(*path_, false));
  int seen = 0;
  EXPECT_THROW(pieces.forEach([&](std::span<const std::int16_t>) {
    if (++seen == 2) throw std::runtime_error("enough");
  }),
               std::runtime_error);
  EXPECT_EQ(seen, 2);
  // The source is usable again after the failed pass.
  std::size_t pairs = 0;
  pieces.forEach([&](std::span<const std::int16_t> piece) { pairs += piece.size() / 2; });
  EXPECT_EQ(pairs, kPairs);
}

}  // namespace
