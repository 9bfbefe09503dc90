// The programs' multi-segment join (seqlink_join.h): the configuration's segments
// loaded and levelled one at a time (small ones kept in memory, the others read in
// pieces), then written through the same layout and piecewise encryption as
// crtMultiSegArb.
#include "segment_join.h"

#include <climits>
#include <cstring>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "arb_format.h"
#include "arb_readers.h"
#include "multi_segment_config.h"
#include "multiseg_writer.h"
#include "segment_index.h"
#include "segment_output.h"
#include "seqlink.h"

namespace arbsuite::seqlink {
namespace {

JoinStatus failedAt(int status, JoinStep step) { return JoinStatus{status, step}; }

}  // namespace

JoinStatus readJoinSettings(const char* configPath, JoinSettings& settings,
                            const JoinCountCheck& countCheck) {
  SegmentConfig config;
  char outputFile[SEQLINK_NAME_SLOT] = {};
  int count = 0;
  int total = 0;
  const int status = readConfigFile(configPath, config, outputFile, &count, &total);
  if (status != SEQLINK_OK) return failedAt(status, JoinStep::ReadConfig);
  outputFile[SEQLINK_NAME_SLOT - 1] = '\0';
  settings = JoinSettings{};
  settings.levelMode = config.levelMode;
  settings.clockMode = config.clockRateMode;
  settings.userClock = config.userClockRate;
  settings.output = outputFile;
  if (countCheck) countCheck(count, total);
  settings.segments.resize(static_cast<std::size_t>(count));
  const SegmentItemIndex items(config.configLine);
  for (int i = 0; i < count; ++i) {
    SegmentFields parsed = SegmentFields::None;
    const int itemStatus =
        parseSegment(items, i, settings.segments[static_cast<std::size_t>(i)], parsed);
    if (itemStatus != SEQLINK_OK) return failedAt(itemStatus, JoinStep::LoadSegments);
  }
  return failedAt(SEQLINK_OK, JoinStep::LoadSegments);
}

JoinStatus joinSegments(const JoinSettings& settings, std::vector<JoinSegment>& joined,
                        const JoinCheck& check, const JoinProgress& progress) {
  return joinSegments(settings, joined, check, kKeptSampleBytes, progress);
}

JoinStatus joinSegments(const JoinSettings& settings, std::vector<JoinSegment>& joined,
                        const JoinCheck& check, std::uint64_t keptSampleBytes,
                        const JoinProgress& progress) {
  joined = settings.segments;
  std::uint64_t totalPairs = 0;
  for (const JoinSegment& segment : joined) {
    if (segment.samples < 0) return failedAt(SEQLINK_BAD_ITEM, JoinStep::LoadSegments);
    if (segment.name.size() >= SEQLINK_NAME_SLOT) {
      return failedAt(SEQLINK_NAME_TOO_LONG, JoinStep::LoadSegments);
    }
    totalPairs += static_cast<std::uint64_t>(segment.samples);
  }
  // The configuration's counts add up to an int, as readMultiSegConfig requires.
  if (totalPairs > static_cast<std::uint64_t>(INT_MAX)) {
    return failedAt(SEQLINK_BAD_ITEM, JoinStep::LoadSegments);
  }
  if (joined.size() > UINT_MAX) return failedAt(SEQLINK_DATA_NO_MEMORY, JoinStep::BuildFile);

  std::vector<std::optional<double>> targets;
  int status =
      applyModes(settings.levelMode, settings.clockMode, settings.userClock, joined, targets);
  if (status != SEQLINK_OK) return failedAt(status, JoinStep::LoadSegments);

  // First pass: every segment loaded and levelled, its energy measured, and the sum
  // of squares of the whole join taken. Segments stay in memory for the second pass
  // while they fit keptSampleBytes; the others are read in pieces, in both passes,
  // so that the memory is bounded whatever the length.
  std::vector<std::vector<std::int16_t>> kept(joined.size());
  std::uint64_t keptBytes = 0;
  std::uint64_t sumOfAllSquares = 0;
  for (std::size_t i = 0; i < joined.size(); ++i) {
    JoinSegment& segment = joined[i];
    const auto pairs = static_cast<std::size_t>(segment.samples);
    const std::uint64_t bytes = std::uint64_t{pairs} * arb::kBytesPerPair;
    if (segment.name != kBlankName && keptBytes + bytes <= keptSampleBytes) {
      kept[i].assign(2 * pairs, 0);
      status = loadSegmentSamples(kept[i].data(), pairs, targets[i], segment.energy, segment.name);
      if (status != SEQLINK_OK) return failedAt(status, JoinStep::LoadSegments);
      sumOfAllSquares += arb::sumOfSquares(kept[i]);
      keptBytes += bytes;
    } else {
      std::uint64_t squares = 0;
      status = streamSegmentSamples(segment.name, pairs, targets[i], segment.energy, squares,
                                    [](std::span<const std::int16_t>) { return SEQLINK_OK; });
      if (status != SEQLINK_OK) return failedAt(status, JoinStep::LoadSegments);
      sumOfAllSquares += squares;
    }
    if (progress) progress(pairs);
  }
  if (check) check(joined);

  // The names in the slots the writer's checks and records take.
  std::vector<char> names(SEQLINK_NAME_SLOT * joined.size() + 1, '\0');
  std::vector<double> clocks(joined.size() + 1, 0.0);
  std::vector<int> counts(joined.size() + 1, 0);
  std::vector<double> energies(joined.size() + 1, 0.0);
  for (std::size_t i = 0; i < joined.size(); ++i) {
    std::memcpy(names.data() + SEQLINK_NAME_SLOT * i, joined[i].name.data(), joined[i].name.size());
    clocks[i] = joined[i].clock;
    counts[i] = joined[i].samples;
    energies[i] = joined[i].energy;
  }
  MultiSegmentLayout layout;
  const std::string output = settings.output;
  status = layoutMultiSegment(
      names.data(), clocks.data(), counts.data(), energies.data(),
      static_cast<unsigned>(joined.size()), totalPairs, true,
      [&] { return arb::exactSignalEnergy(sumOfAllSquares); }, output.c_str(), layout);
  if (status != SEQLINK_OK) return failedAt(status, JoinStep::BuildFile);

  // Second pass: each segment as the first pass left it, encrypted as it comes.
  MultiSegmentOutput out(layout, output.c_str());
  for (std::size_t i = 0; i < joined.size(); ++i) {
    const auto pairs = static_cast<std::size_t>(joined[i].samples);
    if (!kept[i].empty() || pairs == 0) {
      status = out.add(kept[i].data(), pairs * arb::kBytesPerPair);
    } else {
      // Read and levelled again from the segment as configured: the same samples.
      double energy = settings.segments[i].energy;
      std::uint64_t squares = 0;
      status = streamSegmentSamples(joined[i].name, pairs, targets[i], energy, squares,
                                    [&](std::span<const std::int16_t> piece) {
                                      return out.add(piece.data(), piece.size_bytes());
                                    });
    }
    if (status != SEQLINK_OK) return failedAt(status, JoinStep::BuildFile);
    std::vector<std::int16_t>().swap(kept[i]);
    if (progress) progress(pairs);
  }
  status = out.commit();
  return failedAt(status, JoinStep::BuildFile);
}

}  // namespace arbsuite::seqlink
