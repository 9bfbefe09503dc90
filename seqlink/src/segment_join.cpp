// The programs' multi-segment join (seqlink_join.h): the configuration's segments
// loaded and levelled one at a time (small ones kept in memory, the others read in
// pieces), then written through the same layout and piecewise encryption as
// crtMultiSegArb; or, without a check, written as they are read in one pass.
#include "segment_join.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cmath>
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
#include "output_file.h"
#include "segment_index.h"
#include "segment_output.h"
#include "seqlink.h"

namespace arbsuite::seqlink {
namespace {

JoinStatus failedAt(int status, JoinStep step) { return JoinStatus{status, step}; }

// The one-pass join reads, levels, encrypts and writes pieces of 1 MiB: they stay in
// the cores' caches from one step to the next, and the two threads wait less for
// each other at the start and end of every segment than with 4 MiB pieces (a 32 MB
// join took 41 ms against 55 here). The file is the same whatever the piece: every
// cipher block is encrypted on its own.
constexpr std::size_t kOnePassPiecePairs = std::size_t{1} << 18;

// The host's slots of the joined segments, as the writer's checks and records take them.
struct SegmentSlots {
  explicit SegmentSlots(const std::vector<JoinSegment>& joined)
      : names(SEQLINK_NAME_SLOT * joined.size() + 1, '\0'),
        clocks(joined.size() + 1, 0.0),
        counts(joined.size() + 1, 0),
        energies(joined.size() + 1, 0.0) {
    for (std::size_t i = 0; i < joined.size(); ++i) {
      std::memcpy(names.data() + SEQLINK_NAME_SLOT * i, joined[i].name.data(),
                  joined[i].name.size());
      clocks[i] = joined[i].clock;
      counts[i] = joined[i].samples;
      energies[i] = joined[i].energy;
    }
  }
  std::vector<char> names;
  std::vector<double> clocks;
  std::vector<int> counts;
  std::vector<double> energies;
};

// The pairs that complete the piece the encryptor has begun (0 when none is), asked
// of a segment's first piece so that its further pieces are encrypted straight from
// the reader's buffers rather than copied to make up whole pieces.
std::size_t pairsToWholePiece(const PieceEncryptor& pieces) {
  const std::size_t held = pieces.held();
  return held == 0 ? 0 : (pieces.pieceLength() - held) / arb::kBytesPerPair;
}

// Whether the output can be written out of order: a regular file, or none yet (a
// device or FIFO is written through, front to back).
bool outputTakesOffsets(const std::string& output) {
  struct stat info {};
  if (::stat(output.c_str(), &info) != 0) return errno == ENOENT;
  return S_ISREG(info.st_mode);
}

// The join in one pass over the samples: each segment is read, levelled, measured
// and encrypted once, after room for the header and the info block; the two are
// written in front at the end. Their length depends on the energies only through the
// digits before the point of the text's numbers, so it is laid out beforehand from
// the energies expected (a levelled segment's target level over its pairs). The
// bytes are those of the two passes; none when anything does not go as planned (a
// failure, a length that came out otherwise), and the two passes are made instead,
// which report what failed as they always have.
std::optional<JoinStatus> joinInOnePass(const JoinSettings& settings,
                                        std::vector<JoinSegment>& joined,
                                        const std::vector<std::optional<double>>& targets,
                                        std::uint64_t totalPairs, std::uint64_t keptSampleBytes,
                                        const JoinProgress& progress) {
  if (!outputTakesOffsets(settings.output)) return std::nullopt;
  std::vector<JoinSegment> expected = joined;
  long double expectedEnergy = 0;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (targets[i] && *targets[i] > kLevelFloor)
      expected[i].energy = *targets[i] * *targets[i] * static_cast<double>(expected[i].samples);
    expectedEnergy += std::isfinite(expected[i].energy) ? expected[i].energy : 0.0;
  }
  const unsigned count = static_cast<unsigned>(joined.size());
  const std::string& output = settings.output;
  MultiSegmentLayout layout;
  {
    const SegmentSlots slots(expected);
    if (describeMultiSegment(
            slots.names.data(), slots.clocks.data(), slots.counts.data(), slots.energies.data(),
            count, totalPairs, true, [&] { return expectedEnergy; }, output.c_str(),
            layout) != SEQLINK_OK ||
        drawDataKey(layout) != SEQLINK_OK) {
      return std::nullopt;
    }
  }
  const std::size_t front = arb::kHeaderLength + layout.block.size();
  arb::OutputFile out;
  // Created at the first encrypted piece, as the two passes create it.
  PieceEncryptor pieces(
      layout.dataKey.data(), kOnePassPiecePairs * arb::kBytesPerPair,
      [&](const std::uint8_t* piece, std::size_t length) {
        if (!out.isOpen()) {
          const std::vector<std::uint8_t> room(front, 0);
          if (!out.open(output) || out.writesThrough() || !out.write(room.data(), room.size())) {
            return false;
          }
        }
        return out.write(piece, length);
      });
  const auto add = [&](std::span<const std::int16_t> piece) {
    return pieces.add(piece.data(), piece.size_bytes());
  };
  std::vector<std::int16_t> held;
  SegmentStreamer streamer(kOnePassPiecePairs);
  std::uint64_t keptBytes = 0;
  std::uint64_t sumOfAllSquares = 0;
  for (std::size_t i = 0; i < joined.size(); ++i) {
    JoinSegment& segment = joined[i];
    const auto pairs = static_cast<std::size_t>(segment.samples);
    const std::uint64_t bytes = std::uint64_t{pairs} * arb::kBytesPerPair;
    int status = SEQLINK_OK;
    // The two passes' way of reading each segment, so that the samples and their
    // measure are theirs exactly.
    if (segment.name != kBlankName && keptBytes + bytes <= keptSampleBytes) {
      held.assign(2 * pairs, 0);
      status = loadSegmentSamples(held.data(), pairs, targets[i], segment.energy, segment.name);
      if (status == SEQLINK_OK) {
        sumOfAllSquares += arb::sumOfSquares(held);
        status = add(held);
      }
      keptBytes += bytes;
    } else {
      std::uint64_t squares = 0;
      status = streamer.stream(segment.name, pairs, targets[i], segment.energy, squares, add,
                               pairsToWholePiece(pieces));
      sumOfAllSquares += squares;
    }
    if (status != SEQLINK_OK) return std::nullopt;
    // The pass does the work of both: every pair is reported twice.
    if (progress) {
      progress(pairs);
      progress(pairs);
    }
  }
  if (pieces.finish() != SEQLINK_OK) return std::nullopt;

  MultiSegmentLayout measured;
  const SegmentSlots slots(joined);
  if (describeMultiSegment(
          slots.names.data(), slots.clocks.data(), slots.counts.data(), slots.energies.data(),
          count, totalPairs, true, [&] { return arb::exactSignalEnergy(sumOfAllSquares); },
          output.c_str(), measured) != SEQLINK_OK ||
      measured.block.size() != layout.block.size()) {
    return std::nullopt;
  }
  measured.dataKey = layout.dataKey;
  measured.header.wrappedKey = layout.header.wrappedKey;
  if (sealMultiSegment(measured) != SEQLINK_OK) return std::nullopt;
  if (!out.isOpen()) {
    // No samples: nothing was encrypted, and the file is only its front.
    if (!out.open(output) || out.writesThrough()) return std::nullopt;
  }
  if (!out.writeAt(0, measured.headerBytes.data(), measured.headerBytes.size()) ||
      !out.writeAt(arb::kHeaderLength, measured.block.data(), measured.block.size()) ||
      !out.commit()) {
    return std::nullopt;
  }
  return failedAt(SEQLINK_OK, JoinStep::BuildFile);
}

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

  // A check must see every segment measured before anything is written: that takes
  // the two passes. Without one the join is written as it is measured.
  if (!check) {
    const std::vector<JoinSegment> modes = joined;
    if (const std::optional<JoinStatus> done =
            joinInOnePass(settings, joined, targets, totalPairs, keptSampleBytes, progress)) {
      return *done;
    }
    joined = modes;
  }

  // First pass: every segment loaded and levelled, its energy measured, and the sum
  // of squares of the whole join taken. Segments stay in memory for the second pass
  // while they fit keptSampleBytes; the others are read in pieces, in both passes,
  // so that the memory is bounded whatever the length.
  std::vector<std::vector<std::int16_t>> kept(joined.size());
  SegmentStreamer streamer;
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
      status = streamer.stream(segment.name, pairs, targets[i], segment.energy, squares,
                               [](std::span<const std::int16_t>) { return SEQLINK_OK; });
      if (status != SEQLINK_OK) return failedAt(status, JoinStep::LoadSegments);
      sumOfAllSquares += squares;
    }
    if (progress) progress(pairs);
  }
  if (check) check(joined);

  const SegmentSlots slots(joined);
  MultiSegmentLayout layout;
  const std::string output = settings.output;
  status = layoutMultiSegment(
      slots.names.data(), slots.clocks.data(), slots.counts.data(), slots.energies.data(),
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
      status = streamer.stream(
          joined[i].name, pairs, targets[i], energy, squares,
          [&](std::span<const std::int16_t> piece) {
            return out.add(piece.data(), piece.size_bytes());
          },
          pairsToWholePiece(out.pieces()));
    }
    if (status != SEQLINK_OK) return failedAt(status, JoinStep::BuildFile);
    std::vector<std::int16_t>().swap(kept[i]);
    if (progress) progress(pairs);
  }
  status = out.commit();
  return failedAt(status, JoinStep::BuildFile);
}

}  // namespace arbsuite::seqlink
