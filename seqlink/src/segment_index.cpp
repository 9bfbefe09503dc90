// One pass over a configuration line that finds every SEGMENT_i item (see
// segment_index.h).
#include "segment_index.h"

#include <string>

namespace arbsuite::seqlink {
namespace {

constexpr std::string_view kSegmentKey = "SEGMENT_";
constexpr std::size_t kMaxIndexDigits = 19;  // the decimal digits of any long long

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

SegmentItemIndex::SegmentItemIndex(std::string_view line) : line_(line) {
  // The first "}" at or after a position, found with a pointer that only moves
  // forward: the occurrences come in increasing order.
  std::size_t close = line.find('}');
  for (std::size_t at = line.find(kSegmentKey); at != std::string_view::npos;
       at = line.find(kSegmentKey, at + 1)) {
    const std::size_t digits = at + kSegmentKey.size();
    std::size_t end = digits;
    while (end < line.size() && end - digits < kMaxIndexDigits && isDigit(line[end])) ++end;
    if (end == digits) continue;
    // Digits are no "}", so every key of this occurrence ends before the same "}".
    if (close != std::string_view::npos && close < digits) close = line.find('}', digits);
    for (std::size_t length = 1; length <= end - digits; ++length) {
      first_.try_emplace(line.substr(digits, length), Place{digits + length, close});
    }
  }
}

std::string_view SegmentItemIndex::value(long long index) const {
  const std::string digits = std::to_string(index);
  const auto found = first_.find(digits);
  if (found == first_.end() || found->second.close == std::string_view::npos) return {};
  const Place& place = found->second;
  return line_.substr(place.valueAt, place.close - place.valueAt);
}

}  // namespace arbsuite::seqlink
