// The waveform view of an .arb file's content: its samples with the clock, and for a
// multi-segment file the segment table read back from its SEGMENT_i items.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "analysed_waveform.h"
#include "arb_read.h"

namespace arbsuite::analysis {

// A segment table that contradicts the file (exit status 2 of arbtool).
struct HeaderError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The segments of a multi-segment file of `samples` pairs, in order, from its
// items SEGMENT_0 ... SEGMENT_n-1, n the value of NUMBER SEGMENTS; each value is
// "name,clock,count,energy" and the name may itself hold commas. Throws
// HeaderError when an item is missing or malformed or the counts do not add up
// to the file's samples.
std::vector<Segment> segmentTable(const std::vector<HeaderItem>& items, std::size_t samples);

// The waveform view of content (its samples stay in content). Throws HeaderError,
// naming the file, when a multi-segment file's segment table contradicts it.
Waveform waveformOf(const ArbContent& content);

// waveformOf without samples (iq empty): the clock and, for a multi-segment file,
// the segment table of described (its samples are not looked at).
Waveform waveformLayoutOf(const ArbContent& described);

}  // namespace arbsuite::analysis
