// Reads the one-line segment configuration file of a multi-segment waveform.
#include "multi_segment_config.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>

#include "arb_format.h"
#include "item_text.h"
#include "regular_file.h"
#include "segment_index.h"
#include "seqlink.h"

namespace arbsuite::seqlink {
namespace {

// Each of the arbsuite::arb::kMaxSegments segment items and the eight other items gets 4,096
// bytes; seqlink.h states the limit as a number for hosts.
inline constexpr std::size_t kConfigItemAllowance = 4096;
inline constexpr std::size_t kOtherConfigItems = 8;
static_assert(kConfigLineLimit ==
              (arbsuite::arb::kMaxSegments + kOtherConfigItems) * kConfigItemAllowance);

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
  const SegmentItemIndex segments(line);
  for (int i = 0; i < *count; ++i) {
    SegmentItem item;
    const int status = parseSegmentValue(segments.value(i), item);
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

// The first line of the configuration file, read up to its first line feed (or
// zero byte) and never beyond a line the writer could use. Returns SEQLINK_OK,
// SEQLINK_CONFIG_CANNOT_OPEN (also for anything but a regular file, which could
// block the read or feed it without end), SEQLINK_CONFIG_EMPTY for a read error, or
// SEQLINK_BAD_ITEM for a line longer than kConfigLineLimit.
int readFirstLine(const char* path, std::string& line) {
  const int fd = arbsuite::arb::openRegularFile(path);
  if (fd < 0) return SEQLINK_CONFIG_CANNOT_OPEN;
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } const closer{fd};
  bool ended = false;
  bool readError = false;
  char block[4096];
  while (!ended && line.size() <= kConfigLineLimit) {
    const ssize_t got = ::read(fd, block, sizeof block);
    if (got < 0) {
      if (errno == EINTR) continue;
      readError = true;
      break;
    }
    if (got == 0) break;
    const std::string_view bytes(block, static_cast<std::size_t>(got));
    const std::size_t end = bytes.find_first_of(std::string_view("\n\0", 2));
    ended = end != std::string_view::npos;
    line.append(bytes.substr(0, ended ? end + 1 : bytes.size()));
  }
  if (readError) return SEQLINK_CONFIG_EMPTY;
  if (firstLine(line).size() > kConfigLineLimit) return SEQLINK_BAD_ITEM;
  return SEQLINK_OK;
}

}  // namespace

SegmentConfig& segmentConfig() {
  static SegmentConfig config;
  return config;
}

std::string segmentKey(long long index) { return "SEGMENT_" + std::to_string(index); }

int parseSegmentItem(std::string_view key, std::string_view configLine, SegmentItem& item) {
  return parseSegmentValue(findItemValue(key, configLine), item);
}

int parseSegmentValue(std::string_view value, SegmentItem& item) {
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

int readConfigText(std::string_view content, SegmentConfig& config, char* outputFile,
                   int* segmentCount, int* totalSamples) {
  if (outputFile == nullptr || segmentCount == nullptr || totalSamples == nullptr) {
    return SEQLINK_BAD_ITEM;
  }
  if (content.empty()) return SEQLINK_CONFIG_EMPTY;

  SegmentConfig fresh;
  fresh.configLine = firstLine(content);
  const int status =
      parseConfigLine(fresh.configLine, fresh, outputFile, segmentCount, totalSamples);
  // A failed read leaves no configuration behind, so that nothing can run on a
  // mixture of this file and an earlier one.
  if (status == SEQLINK_OK) config = std::move(fresh);
  return status;
}

int readConfigFile(const char* path, SegmentConfig& config, char* outputFile, int* segmentCount,
                   int* totalSamples) {
  try {
    std::string line;
    const int status = readFirstLine(path, line);
    if (status != SEQLINK_OK) return status;
    return readConfigText(line, config, outputFile, segmentCount, totalSamples);
  } catch (...) {
    return SEQLINK_CONFIG_EMPTY;
  }
}

int readMultiSegConfigText(std::string_view content, char* outputFile, int* segmentCount,
                           int* totalSamples) {
  SegmentConfig& config = segmentConfig();
  config = SegmentConfig{};
  return readConfigText(content, config, outputFile, segmentCount, totalSamples);
}

}  // namespace arbsuite::seqlink

extern "C" SEQLINK_API int readMultiSegConfig(const char* path, char* outputFile, int* segmentCount,
                                              int* totalSamples) {
  using namespace arbsuite::seqlink;
  SegmentConfig& config = segmentConfig();
  config = SegmentConfig{};
  const int status = readConfigFile(path, config, outputFile, segmentCount, totalSamples);
  if (status != SEQLINK_OK) config = SegmentConfig{};
  return status;
}
