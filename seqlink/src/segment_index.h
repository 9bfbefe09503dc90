// The SEGMENT_i items of a segment configuration line, found in one pass. The
// configuration reader and outputIQDataAndInf look up SEGMENT_0, SEGMENT_1, ... in
// turn; searching the line from its start for each key made a configuration of n
// segments cost n times the line.
#pragma once

#include <cstddef>
#include <string_view>
#include <unordered_map>

namespace arbsuite::seqlink {

class SegmentItemIndex {
 public:
  // Indexes line, which must outlive the index.
  explicit SegmentItemIndex(std::string_view line);

  // For index >= 0, exactly findItemValue(segmentKey(index), line): the text between the end of the
  // first occurrence of "SEGMENT_<index>" anywhere in the line (so SEGMENT_1 also
  // matches the start of SEGMENT_10, or a name that holds the key) and the first
  // "}" after it; empty when the key or the "}" is missing.
  std::string_view value(long long index) const;

 private:
  struct Place {
    std::size_t valueAt;  // just after the key
    std::size_t close;    // the first "}" after it, or npos
  };
  std::string_view line_;
  // Every digit string that follows "SEGMENT_" somewhere in the line, and each of
  // its prefixes (keys of up to 19 digits, as many as a long long has), mapped to
  // its first place.
  std::unordered_map<std::string_view, Place> first_;
};

}  // namespace arbsuite::seqlink
