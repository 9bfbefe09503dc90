// The text header of an .arb file as readArbFileAllInf shows it, read back into
// its items, and the segment table of a multi-segment file from its SEGMENT_i
// items: what the analysis commands need besides the samples.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "analysed_waveform.h"

namespace arbsuite::arbtool {

struct HeaderItem {
  std::string key;
  std::string value;
};

// A segment table that contradicts the file (exit status 2 of arbtool).
struct HeaderError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The items of the display text: one " key<padding>:value" line per item; a
// line without a colon is an item with an empty value.
std::vector<HeaderItem> headerItems(std::string_view displayText);

// "key: value" lines, one per item, for a description.
std::string describeItems(const std::vector<HeaderItem>& items);

// The segments of a multi-segment file of `samples` pairs, in order, from its
// items SEGMENT_0 ... SEGMENT_n-1, n the value of NUMBER SEGMENTS; each value is
// "name,clock,count,energy" and the name may itself hold commas. Throws
// HeaderError when an item is missing or malformed or the counts do not add up
// to the file's samples.
std::vector<analysis::Segment> segmentTable(const std::vector<HeaderItem>& items,
                                            std::size_t samples);

}  // namespace arbsuite::arbtool
