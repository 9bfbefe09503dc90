// outputIQDataAndInf: parses the kept segment configuration, applies the clock-rate
// and level modes and loads every segment's samples into the host's buffers.
#include "segment_output.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <span>
#include <vector>

#include "arb_format.h"
#include "arb_readers.h"
#include "item_text.h"
#include "multi_segment_config.h"
#include "read_ahead.h"
#include "segment_index.h"
#include "seqlink.h"
#include "seqlink_stream.h"

namespace arbsuite::seqlink {
namespace {

// Scales one 16-bit value as the level mode asks: target x v / h + 0.5, truncated
// toward zero. The result is kept in the 16-bit range, which a configured energy
// that does not match the samples could otherwise leave.
std::int16_t scaleValue(std::int16_t value, double target, double level) {
  const double scaled = std::trunc(target * value / level + 0.5);
  if (!(scaled >= -32768.0)) return scaled < 0 ? -32768 : 0;  // NaN gives silence
  if (scaled > 32767.0) return 32767;
  return static_cast<std::int16_t>(scaled);
}

// What the level mode does to a file segment of pairs pairs and its configured
// energy: nothing (no pairs, no target, or the level already at it), a new energy
// only (for an energy of silence or a negative one: target^2 x pairs, the samples
// kept), or a scaling of the samples from their level to the target. A NaN or
// infinite energy has no level to scale from and is kept. A segment loaded whole and
// one read in pieces take this one decision, so the two joins write the same file.
struct LevelStep {
  bool scale = false;
  double level = 0;  // the configured level, where scale is set
};

LevelStep levelStep(std::size_t pairs, std::optional<double> target, double& energy) {
  if (pairs == 0 || !target || *target <= kLevelFloor) return {};
  const double level = std::sqrt(energy / static_cast<double>(pairs));
  if (std::fabs(*target - level) <= kLevelFloor) return {};
  if (std::isnan(energy)) return {};
  if (energy <= kLevelFloor) {
    energy = *target * *target * static_cast<double>(pairs);
    return {};
  }
  return {std::isfinite(level), level};
}

struct ParsedSegment {
  std::string name;
  int count = 0;
};

// Segments of more values than this are scaled through a table of every 16-bit
// value's result (twice its size), which saves a division per value.
inline constexpr std::size_t kScaleTableThreshold = 2 * 65536;

// Scales the values as scaleValue does and returns the signal energy of the result,
// in one pass.
double scaleAndMeasure(std::span<std::int16_t> values, double target, double level) {
  std::uint64_t sum = 0;
  if (values.size() > kScaleTableThreshold) {
    std::vector<std::int16_t> table(65536);
    for (int v = -32768; v <= 32767; ++v) {
      table[static_cast<std::uint16_t>(v)] =
          scaleValue(static_cast<std::int16_t>(v), target, level);
    }
    for (std::int16_t& v : values) {
      v = table[static_cast<std::uint16_t>(v)];
      sum += static_cast<std::uint64_t>(std::int32_t{v} * v);
    }
  } else {
    for (std::int16_t& v : values) {
      v = scaleValue(v, target, level);
      sum += static_cast<std::uint64_t>(std::int32_t{v} * v);
    }
  }
  return arbsuite::arb::orderedSignalEnergy(sum, values);
}

}  // namespace

int loadSegmentSamples(std::int16_t* destination, std::size_t pairs, std::optional<double> target,
                       double& energy, const std::string& name) {
  if (name == kBlankName) {
    if (pairs > 0) std::memset(destination, 0, pairs * arbsuite::arb::kBytesPerPair);
    if (pairs > 0 && target && *target > kLevelFloor) energy = *target * *target * pairs;
    return SEQLINK_OK;
  }
  const int status = readSamples(name.c_str(), pairs, destination);
  if (status != SEQLINK_OK) return status;
  if (pairs == 0) return SEQLINK_OK;

  const LevelStep step = levelStep(pairs, target, energy);
  if (step.scale) {
    energy = scaleAndMeasure(std::span<std::int16_t>(destination, 2 * pairs), *target, step.level);
  }
  return SEQLINK_OK;
}

int streamSegmentSamples(const std::string& name, std::size_t pairs, std::optional<double> target,
                         double& energy, std::uint64_t& sumOfSquares, const SampleTake& take) {
  SegmentStreamer streamer;
  return streamer.stream(name, pairs, target, energy, sumOfSquares, take);
}

// One piece as the reading leaves it: levelled when the segment is, with its sum of
// squares; empty after the last.
struct SegmentStreamer::Piece {
  std::span<const std::int16_t> values;
  std::uint64_t squares = 0;
  int status = SEQLINK_OK;
};

SegmentStreamer::SegmentStreamer(std::size_t piecePairs)
    : piecePairs_(std::max<std::size_t>(piecePairs, 2)) {}
SegmentStreamer::~SegmentStreamer() = default;

int SegmentStreamer::stream(const std::string& name, std::size_t pairs,
                            std::optional<double> target, double& energy,
                            std::uint64_t& sumOfSquares, const SampleTake& take,
                            std::size_t firstPairs) {
  sumOfSquares = 0;
  firstPairs_ = firstPairs > 0 ? std::min(firstPairs, piecePairs_) : piecePairs_;
  if (name == kBlankName) {
    if (pairs > 0 && target && *target > kLevelFloor) energy = *target * *target * pairs;
    const std::size_t silent = 2 * std::min(pairs, piecePairs_);
    if (silence_.size() < silent) silence_.assign(silent, 0);
    for (std::size_t done = 0; done < pairs;) {
      const std::size_t piece = std::min(pairs - done, done == 0 ? firstPairs_ : piecePairs_);
      const int status = take(std::span<const std::int16_t>(silence_.data(), 2 * piece));
      if (status != SEQLINK_OK) return status;
      done += piece;
    }
    return SEQLINK_OK;
  }
  // Two buffers only where the next piece is read while take works on one.
  const bool ahead = pairs > firstPairs_;
  int status =
      stream_.open(name.c_str(), pairs, piecePairs_, ahead ? PieceBuffers::Two : PieceBuffers::One);
  if (status != SEQLINK_OK) return status;

  // The level decision of loadSegmentSamples, taken before any sample is read.
  const LevelStep step = levelStep(pairs, target, energy);
  const double level = step.level;
  scale_ = step.scale;
  if (scale_) {
    table_.resize(65536);
    for (int v = -32768; v <= 32767; ++v) {
      table_[static_cast<std::uint16_t>(v)] =
          scaleValue(static_cast<std::int16_t>(v), *target, level);
    }
    // Room for the largest piece in each buffer before the reading starts: the
    // second thread allocates nothing.
    const std::size_t values = 2 * std::min(pairs, piecePairs_);
    if (scaledValues_ < values) {
      scaled_[0].reset();
      scaled_[1].reset();
      scaledValues_ = 0;
      scaled_[0].reset(new std::int16_t[values]);
      scaled_[1].reset(new std::int16_t[values]);
      scaledValues_ = values;
    }
  }
  // The sum in order is only needed where the integer sum can reach 2^53: values of
  // at most 2^30 each (-32768 squared), so from 2^23 values on.
  ordered_ = scale_ && 2 * std::uint64_t{pairs} >= (std::uint64_t{1} << 23);
  orderedEnergy_ = 0.0;
  status = ahead ? streamAhead(sumOfSquares, take) : streamInTurn(sumOfSquares, take);
  if (status != SEQLINK_OK) return status;
  // The energy scaleAndMeasure gives for the whole segment: exact from the integer
  // sum where that is the same double, else the sum in order.
  if (scale_) {
    energy = sumOfSquares < (std::uint64_t{1} << 53)
                 ? arbsuite::arb::orderedSignalEnergy(sumOfSquares, {})
                 : orderedEnergy_;
  }
  return SEQLINK_OK;
}

void SegmentStreamer::readPiece(Piece& piece, unsigned slot, bool first) {
  piece = Piece{};
  std::span<const std::int16_t> values;
  piece.status = stream_.next(values, first ? firstPairs_ : piecePairs_);
  if (piece.status != SEQLINK_OK || values.empty()) return;
  if (scale_) {
    std::int16_t* out = scaled_[slot].get();
    for (std::size_t k = 0; k < values.size(); ++k) {
      out[k] = table_[static_cast<std::uint16_t>(values[k])];
    }
    values = std::span<const std::int16_t>(out, values.size());
    if (ordered_) orderedEnergy_ = arbsuite::arb::signalEnergy(values, orderedEnergy_);
  }
  piece.squares = arbsuite::arb::sumOfSquares(values);
  piece.values = values;
}

int SegmentStreamer::streamInTurn(std::uint64_t& sumOfSquares, const SampleTake& take) {
  for (bool first = true;; first = false) {
    Piece piece;
    readPiece(piece, 0, first);
    if (piece.status != SEQLINK_OK) return piece.status;
    if (piece.values.empty()) return SEQLINK_OK;
    sumOfSquares += piece.squares;
    const int status = take(piece.values);
    if (status != SEQLINK_OK) return status;
  }
}

int SegmentStreamer::streamAhead(std::uint64_t& sumOfSquares, const SampleTake& take) {
  // The stream's two buffers and the two levelled buffers take the same turns as the
  // slots, so a piece's values stay untouched until take is done with them.
  Piece pieces[2];
  bool first = true;
  int status = SEQLINK_OK;
  arb::readAhead(
      [&](unsigned k) {
        Piece& piece = pieces[k];
        readPiece(piece, k, first);
        first = false;
        return piece.status != SEQLINK_OK || piece.values.empty() ||
               stream_.position() >= stream_.pairs();
      },
      [&](unsigned k) {
        const Piece& piece = pieces[k];
        status = piece.status;
        if (status != SEQLINK_OK || piece.values.empty()) return false;
        sumOfSquares += piece.squares;
        status = take(piece.values);
        return status == SEQLINK_OK;
      });
  return status;
}

int parseSegment(const SegmentItemIndex& items, int index, JoinSegment& segment,
                 SegmentFields& parsed) {
  parsed = SegmentFields::None;
  SegmentItem item;
  const int status = parseSegmentValue(items.value(index), item);
  if (status != SEQLINK_OK) return status;
  if (item.name.size() >= SEQLINK_NAME_SLOT) return SEQLINK_NAME_TOO_LONG;
  segment.name = item.name;
  segment.clock = textToDouble(item.clock);
  parsed = SegmentFields::NameAndClock;
  const std::optional<int> pairs = textToInt(item.count);
  if (!pairs || *pairs < 0) return SEQLINK_BAD_ITEM;
  segment.samples = *pairs;
  segment.energy = textToDouble(item.energy);
  parsed = SegmentFields::All;
  return SEQLINK_OK;
}

int applyModes(std::string_view levelMode, std::string_view clockMode, double userClock,
               std::span<JoinSegment> segments, std::vector<std::optional<double>>& targets) {
  const std::size_t count = segments.size();
  if (clockMode == "HIGHEST") {
    double highest = 0.0;
    for (const JoinSegment& s : segments) highest = s.clock > highest ? s.clock : highest;
    for (JoinSegment& s : segments) s.clock = highest;
  } else if (clockMode == "USER") {
    for (JoinSegment& s : segments) s.clock = userClock;
  } else if (clockMode != "UNCHANGED") {
    return SEQLINK_BAD_ITEM;
  }

  targets.assign(count, std::nullopt);
  if (levelMode == "RMS") {
    // The quietest segment (above silence, below 1.0) sets the level of all others.
    // A segment without pairs has no level and is never the reference: the
    // reference starts at the first segment that has pairs.
    double reference = 1.0;
    std::size_t referenceSegment = 0;
    while (referenceSegment < count && segments[referenceSegment].samples == 0) ++referenceSegment;
    for (std::size_t i = 0; i < count; ++i) {
      if (segments[i].samples == 0) continue;  // no pairs, no level
      const double level = std::sqrt(segments[i].energy / segments[i].samples);
      if (level < reference && level > kLevelFloor) {
        reference = level;
        referenceSegment = i;
      }
    }
    for (std::size_t i = 0; i < count; ++i) {
      if (i != referenceSegment) targets[i] = reference;
    }
  } else if (levelMode != "UNCHANGED") {
    return SEQLINK_BAD_ITEM;
  }
  return SEQLINK_OK;
}

namespace {

int outputSegments(short* samples, char* names, double* clockRates, int* sampleCounts,
                   double* energies) {
  const SegmentConfig& config = segmentConfig();
  const int count = config.segmentCount;
  if (count < 0) return SEQLINK_BAD_ITEM;
  if (count > 0 && (names == nullptr || clockRates == nullptr || sampleCounts == nullptr ||
                    energies == nullptr)) {
    return SEQLINK_BAD_ITEM;
  }

  std::vector<JoinSegment> segments(static_cast<std::size_t>(count));
  std::uint64_t totalPairs = 0;
  const SegmentItemIndex items(config.configLine);
  for (int i = 0; i < count; ++i) {
    JoinSegment& segment = segments[static_cast<std::size_t>(i)];
    SegmentFields parsed = SegmentFields::None;
    const int status = parseSegment(items, i, segment, parsed);
    // The host's buffers get each field as far as it was read.
    if (parsed != SegmentFields::None) {
      char* slot = names + SEQLINK_NAME_SLOT * static_cast<std::size_t>(i);
      std::memset(slot, 0, SEQLINK_NAME_SLOT);
      std::memcpy(slot, segment.name.data(), segment.name.size());
      clockRates[i] = segment.clock;
    }
    if (status != SEQLINK_OK) return status;
    sampleCounts[i] = segment.samples;
    energies[i] = segment.energy;
    totalPairs += static_cast<std::uint64_t>(segment.samples);
  }
  if (totalPairs > 0 && samples == nullptr) return SEQLINK_BAD_ITEM;

  std::vector<std::optional<double>> targets;
  const int modes =
      applyModes(config.levelMode, config.clockRateMode, config.userClockRate, segments, targets);
  // The clocks reach the host's buffer even when the level mode is unknown.
  for (int i = 0; i < count; ++i) clockRates[i] = segments[static_cast<std::size_t>(i)].clock;
  if (modes != SEQLINK_OK) return modes;

  std::size_t firstPair = 0;
  for (int i = 0; i < count; ++i) {
    const auto pairs = static_cast<std::size_t>(sampleCounts[i]);
    const int status = loadSegmentSamples(samples + 2 * firstPair, pairs, targets[i], energies[i],
                                          segments[static_cast<std::size_t>(i)].name);
    if (status != SEQLINK_OK) return status;
    firstPair += pairs;
  }
  return SEQLINK_OK;
}

}  // namespace
}  // namespace arbsuite::seqlink

extern "C" SEQLINK_API int outputIQDataAndInf(short* samples, char* names, double* clockRates,
                                              int* sampleCounts, double* energies) {
  try {
    return arbsuite::seqlink::outputSegments(samples, names, clockRates, sampleCounts, energies);
  } catch (...) {
    return SEQLINK_DATA_NO_MEMORY;
  }
}
