// The waveform view of an .arb file's content (see waveform_header.h).
#include "waveform_header.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <map>

namespace arbsuite::analysis {
namespace {

std::string_view trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

bool readWhole(std::string_view text, unsigned long long& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

bool readReal(std::string_view text, double& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && !text.empty() &&
         std::isfinite(value);
}

}  // namespace

std::vector<Segment> segmentTable(const std::vector<HeaderItem>& items, std::size_t samples) {
  std::map<std::string, std::string, std::less<>> byKey;
  for (const HeaderItem& item : items) byKey.emplace(item.key, item.value);
  const auto number = byKey.find("NUMBER SEGMENTS");
  unsigned long long count = 0;
  if (number == byKey.end() || !readWhole(trimmed(number->second), count)) {
    throw HeaderError("a multi-segment file without a readable NUMBER SEGMENTS item");
  }
  std::vector<Segment> segments;
  std::size_t start = 0;
  for (unsigned long long k = 0; k < count; ++k) {
    const std::string key = "SEGMENT_" + std::to_string(k);
    const auto found = byKey.find(key);
    if (found == byKey.end()) throw HeaderError("the item " + key + " is missing");
    // name,clock,count,energy: the last three fields are numbers.
    const std::string_view value = found->second;
    const auto third = value.rfind(',');
    const auto second = third == 0 || third == std::string_view::npos ? std::string_view::npos
                                                                      : value.rfind(',', third - 1);
    const auto first = second == 0 || second == std::string_view::npos
                           ? std::string_view::npos
                           : value.rfind(',', second - 1);
    Segment segment;
    unsigned long long pairs = 0;
    if (first == std::string_view::npos ||
        !readReal(value.substr(first + 1, second - first - 1), segment.clockHz) ||
        !readWhole(value.substr(second + 1, third - second - 1), pairs)) {
      throw HeaderError("the item " + key + " is not name,clock,count,energy: " + found->second);
    }
    segment.name = std::string(value.substr(0, first));
    segment.start = start;
    segment.count = static_cast<std::size_t>(pairs);
    if (pairs > samples || start > samples - segment.count) {
      throw HeaderError("the segments hold more sample pairs than the file's " +
                        std::to_string(samples));
    }
    start += segment.count;
    segments.push_back(std::move(segment));
  }
  if (start != samples) {
    throw HeaderError("the segments hold " + std::to_string(start) + " sample pairs, the file " +
                      std::to_string(samples));
  }
  return segments;
}

Waveform waveformLayoutOf(const ArbContent& described) {
  Waveform waveform;
  if (described.multiSegment) {
    try {
      waveform.segments = segmentTable(headerItems(described.displayText), described.count);
    } catch (const HeaderError& e) {
      throw HeaderError(described.path + ": " + e.what());
    }
    waveform.clockHz = commonClock(waveform.segments);
  } else if (described.clockHz > 0) {
    waveform.clockHz = described.clockHz;
  }
  return waveform;
}

Waveform waveformOf(const ArbContent& content) {
  Waveform waveform = waveformLayoutOf(content);
  waveform.iq = {content.samples.data(), 2 * content.count};
  return waveform;
}

}  // namespace arbsuite::analysis
