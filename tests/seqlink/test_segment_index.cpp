// The one-pass index of SEGMENT_i items against the plain lookup it replaces: the
// same value for every index, on hand-made lines and on random ones.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "item_text.h"
#include "multi_segment_config.h"
#include "segment_index.h"

namespace {

void expectSameAsThePlainLookup(const std::string& line, long long indexes) {
  const arbsuite::seqlink::SegmentItemIndex index(line);
  for (long long i = 0; i < indexes; ++i) {
    EXPECT_EQ(index.value(i),
              arbsuite::seqlink::findItemValue(arbsuite::seqlink::segmentKey(i), line))
        << "SEGMENT_" << i << " in " << line;
  }
}

TEST(SeqlinkSegmentIndex, KeepsTheFirstOccurrenceAnywhereInTheLine) {
  // SEGMENT_1 matches the start of SEGMENT_10 when that comes first; a name or
  // another item that holds the key text counts too; a missing "}" or key is empty.
  const std::vector<std::string> lines = {
      "{SEGMENT_10:\"ten\",1,2,3}{SEGMENT_1:\"one\",1,2,3}{SEGMENT_0:\"zero\",1,2,3}",
      "{OUTPUT FILE:SEGMENT_2.arb}{SEGMENT_2:\"two\",1,2,3}",
      "{SEGMENT_0:\"no close\",1,2,3",
      "SEGMENT_0SEGMENT_00}{SEGMENT_1}",
      "}}{SEGMENT_3:a}{SEGMENT_30:b}{SEGMENT_300:c}",
      "{SEGMENT_:x}{SEGMENT_ 1:y}{SEGMENT_1",
      "",
      "{SEGMENT_12345678901234567890123:x}",
  };
  for (const std::string& line : lines) expectSameAsThePlainLookup(line, 40);
  const arbsuite::seqlink::SegmentItemIndex index(lines[0]);
  EXPECT_EQ(index.value(1), "0:\"ten\",1,2,3");  // SEGMENT_1 is the start of SEGMENT_10
  EXPECT_EQ(index.value(0), ":\"zero\",1,2,3");
  EXPECT_EQ(arbsuite::seqlink::SegmentItemIndex(lines[1]).value(2), ".arb");
}

TEST(SeqlinkSegmentIndex, EqualsThePlainLookupOnRandomLines) {
  // Lines built from the pieces that matter to the lookup: the key, digits, braces,
  // colons, quotes, commas and other text.
  const std::vector<std::string> pieces = {"SEGMENT_", "SEGMENT_1", "SEGMENT_", "0", "1",  "2",
                                           "9",        "}",         "{",        ":", "\"", ",",
                                           "a",        "SEGMENT",   "_",        " "};
  std::mt19937 random(20260612);
  for (int round = 0; round < 3000; ++round) {
    std::string line;
    const int length = std::uniform_int_distribution<int>(0, 60)(random);
    for (int k = 0; k < length; ++k) {
      line += pieces[std::uniform_int_distribution<std::size_t>(0, pieces.size() - 1)(random)];
    }
    expectSameAsThePlainLookup(line, 130);
  }
}

}  // namespace
