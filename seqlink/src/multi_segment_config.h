// The segment configuration of a multi-segment waveform: one line of "{key value}"
// items, read by readMultiSegConfig and kept process-wide for outputIQDataAndInf.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "seqlink.h"

namespace arbsuite::seqlink {

// What the last successful readMultiSegConfig read; empty after a failed one.
struct SegmentConfig {
  std::string configLine;
  int segmentCount = 0;
  std::string levelMode;
  std::string clockRateMode;
  double userClockRate = 0.0;
  std::string segmentMarker;
  std::string firstSegmentRestartMarker;
  std::string everySegmentRestartMarker;
};

// The one configuration of the process (not locked: one caller at a time).
SegmentConfig& segmentConfig();

// The fields of one "{SEGMENT_i:"name",clock,count,energy}" item, as text.
struct SegmentItem {
  std::string_view name;
  std::string_view clock;
  std::string_view count;
  std::string_view energy;
};

// "SEGMENT_" followed by index in decimal.
std::string segmentKey(long long index);

// Splits the item found under key in configLine. Returns SEQLINK_OK, or
// SEQLINK_BAD_ITEM when the item is missing or any of its four fields is empty.
int parseSegmentItem(std::string_view key, std::string_view configLine, SegmentItem& item);
// The same on the item's value, as findItemValue or SegmentItemIndex gives it.
int parseSegmentValue(std::string_view value, SegmentItem& item);

// Longest first line of a configuration file that readMultiSegConfig reads
// (SEQLINK_CONFIG_LINE_LIMIT, derived in seqlink.h from the writer's limits).
inline constexpr std::size_t kConfigLineLimit = SEQLINK_CONFIG_LINE_LIMIT;

// Reads a configuration from the whole content of a configuration file (only its
// first line counts) into config, which is changed only at success. Same outputs and
// statuses as readMultiSegConfig, except SEQLINK_CONFIG_CANNOT_OPEN.
int readConfigText(std::string_view content, SegmentConfig& config, char* outputFile,
                   int* segmentCount, int* totalSamples);

// The same from a file, as readMultiSegConfig reads it (all its statuses).
int readConfigFile(const char* path, SegmentConfig& config, char* outputFile, int* segmentCount,
                   int* totalSamples);

// Reads the configuration from the whole content of a configuration file (only its
// first line counts) and replaces the process-wide configuration. Same outputs and
// statuses as readMultiSegConfig, except SEQLINK_CONFIG_CANNOT_OPEN, which only the
// file opening can give.
int readMultiSegConfigText(std::string_view content, char* outputFile, int* segmentCount,
                           int* totalSamples);

}  // namespace arbsuite::seqlink
