// Reads the one-line segment configuration file of a multi-segment waveform.
#include "segment_config.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <limits>

#include "item_text.h"
#include "seqlink.h"

namespace seqlink {
namespace {

// The first line: everything before the first line feed. A zero byte ends the line
// too, as the configuration is text and its values travel on as C strings.
std::string_view firstLine(std::string_view content) {
  return content.substr(0, content.find_first_of(std::string_view("\n\0", 2)));
}

// Fills the configuration from line; on failure the caller discards it.
int parseConfigLine(std::string_view line, SegmentConfig& config, char* outputFile,
                    int* segmentCount, int* totalSamples) {
  const std::string_view countText = findItemValue("NUMBER SEGMENTS:", line);
  if (countText.empty()) return SEQLINK_BAD_ITEM;
  // A count beyond the range of int cannot be matched by segment items either.
  const std::optional<int> count = textToInt(countText);
  const int storedCount = count ? *count : std::numeric_limits<int>::max();
  config.segmentCount = storedCount;
  *segmentCount = storedCount;
  if (!count || *count < 0) return SEQLINK_BAD_ITEM;

  long long total = 0;
  for (int i = 0; i < *count; ++i) {
    SegmentItem item;
    const int status = parseSegmentItem(segmentKey(i), line, item);
    if (status != SEQLINK_OK) return status;
    const std::optional<int> samples = textToInt(item.count);
    if (!samples || *samples < 0) return SEQLINK_BAD_ITEM;
    total += *samples;
    if (total > std::numeric_limits<int>::max()) return SEQLINK_BAD_ITEM;
  }
  *totalSamples = static_cast<int>(total);

  const std::string_view levelMode = findItemValue("LEVEL MODE:", line);
  if (levelMode.empty()) return SEQLINK_BAD_ITEM;
  config.levelMode = levelMode;
  const std::string_view clockRateMode = findItemValue("CLOCKRATE MODE:", line);
  if (clockRateMode.empty()) return SEQLINK_BAD_ITEM;
  config.clockRateMode = clockRateMode;

  const std::string_view userClock = findItemValue("USER CLOCKRATE:", line);
  if (userClock.empty()) return SEQLINK_BAD_ITEM;
  config.userClockRate = textToDouble(userClock);

  const std::string_view output = findItemValue("OUTPUT FILE:", line);
  if (output.empty()) return SEQLINK_BAD_ITEM;
  if (output.size() >= SEQLINK_NAME_SLOT) return SEQLINK_NAME_TOO_LONG;
  std::memcpy(outputFile, output.data(), output.size());
  outputFile[output.size()] = '\0';

  const std::string_view marker = findItemValue("SEGMENT MARKER:", line);
  if (marker.empty()) return SEQLINK_BAD_ITEM;
  config.segmentMarker = marker;
  const std::string_view firstRestart = findItemValue("FIRST SEGMENT RESTART MARKER:", line);
  if (firstRestart.empty()) return SEQLINK_BAD_ITEM;
  config.firstSegmentRestartMarker = firstRestart;
  const std::string_view everyRestart = findItemValue("EVERY SEGMENT RESTART MARKER:", line);
  if (everyRestart.empty()) return SEQLINK_BAD_ITEM;
  config.everySegmentRestartMarker = everyRestart;
  return SEQLINK_OK;
}

}  // namespace

SegmentConfig& segmentConfig() {
  static SegmentConfig config;
  return config;
}

std::string segmentKey(long long index) { return "SEGMENT_" + std::to_string(index); }

int parseSegmentItem(std::string_view key, std::string_view configLine, SegmentItem& item) {
  const std::string_view value = findItemValue(key, configLine);
  if (value.empty()) return SEQLINK_BAD_ITEM;

  const std::size_t openQuote = value.find('"');
  const std::size_t closeQuote =
      openQuote == std::string_view::npos ? openQuote : value.find('"', openQuote + 1);
  if (closeQuote == std::string_view::npos || closeQuote == openQuote + 1) return SEQLINK_BAD_ITEM;
  item.name = value.substr(openQuote + 1, closeQuote - openQuote - 1);

  // Commas are counted over the whole value, quotes included.
  std::size_t commas[3];
  std::size_t from = 0;
  for (std::size_t& comma : commas) {
    comma = value.find(',', from);
    if (comma == std::string_view::npos) return SEQLINK_BAD_ITEM;
    from = comma + 1;
  }
  item.clock = value.substr(commas[0] + 1, commas[1] - commas[0] - 1);
  item.count = value.substr(commas[1] + 1, commas[2] - commas[1] - 1);
  item.energy = value.substr(commas[2] + 1);
  if (item.clock.empty() || item.count.empty() || item.energy.empty()) return SEQLINK_BAD_ITEM;
  return SEQLINK_OK;
}

int readMultiSegConfigText(std::string_view content, char* outputFile, int* segmentCount,
                           int* totalSamples) {
  SegmentConfig& config = segmentConfig();
  config = SegmentConfig{};
  if (outputFile == nullptr || segmentCount == nullptr || totalSamples == nullptr) {
    return SEQLINK_BAD_ITEM;
  }
  if (content.empty()) return SEQLINK_CONFIG_EMPTY;

  SegmentConfig fresh;
  fresh.configLine = firstLine(content);
  const int status =
      parseConfigLine(fresh.configLine, fresh, outputFile, segmentCount, totalSamples);
  // A failed read leaves no configuration behind, so that outputIQDataAndInf cannot
  // run on a mixture of this file and an earlier one.
  if (status == SEQLINK_OK) config = std::move(fresh);
  return status;
}

}  // namespace seqlink

extern "C" SEQLINK_API int readMultiSegConfig(const char* path, char* outputFile, int* segmentCount,
                                              int* totalSamples) {
  using namespace seqlink;
  segmentConfig() = SegmentConfig{};
  if (path == nullptr) return SEQLINK_CONFIG_CANNOT_OPEN;
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return SEQLINK_CONFIG_CANNOT_OPEN;
  struct stat info {};
  if (::fstat(fileno(file), &info) != 0 || S_ISDIR(info.st_mode)) {
    std::fclose(file);
    return SEQLINK_CONFIG_CANNOT_OPEN;
  }
  try {
    // Only the first line matters: read up to the first line feed.
    std::string line;
    for (int c; (c = std::getc(file)) != EOF;) {
      line.push_back(static_cast<char>(c));
      if (c == '\n') break;
    }
    const bool readError = std::ferror(file) != 0;
    std::fclose(file);
    file = nullptr;
    if (readError) return SEQLINK_CONFIG_EMPTY;
    return readMultiSegConfigText(line, outputFile, segmentCount, totalSamples);
  } catch (...) {
    if (file != nullptr) std::fclose(file);
    segmentConfig() = SegmentConfig{};
    return SEQLINK_CONFIG_EMPTY;
  }
}
