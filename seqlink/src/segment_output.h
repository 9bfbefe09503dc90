// The middle step of a multi-segment build: joins the configured segments'
// samples, applying the clock-rate and level modes, into the host's buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "segment_index.h"
#include "seqlink_join.h"
#include "seqlink_stream.h"

namespace arbsuite::seqlink {

// Levels at or below this are treated as silence; also the tolerance of "same level".
inline constexpr double kLevelFloor = 0.00001;

// Fills pairs IQ pairs at destination from the segment name ("Blank" or an .arb
// file) and, when a target RMS level is given, rescales them to it and updates
// energy (the segment's signal energy; on entry the configured one). A segment
// without pairs has no level and is left as it is. Returns SEQLINK_OK or a status of
// the sample reader (readSamples).
int loadSegmentSamples(std::int16_t* destination, std::size_t pairs, std::optional<double> target,
                       double& energy, const std::string& name);

// The samples loadSegmentSamples gives, handed to take a piece at a time (each piece
// valid during the call) from the segment's file read in pieces, so that a segment
// of any length takes bounded memory. energy is updated as loadSegmentSamples
// updates it; sumOfSquares gets the exact sum of v^2 over the values handed out.
// Returns SEQLINK_OK, a status of the sample reader, or the first status take
// returned other than SEQLINK_OK.
using SampleTake = std::function<int(std::span<const std::int16_t>)>;
int streamSegmentSamples(const std::string& name, std::size_t pairs, std::optional<double> target,
                         double& energy, std::uint64_t& sumOfSquares, const SampleTake& take);

// streamSegmentSamples for one segment after another, with the buffers kept from one
// to the next. A segment of more than one piece is read ahead: a second thread reads,
// decrypts and levels the next piece while take works on the current one, so that a
// segment takes about the longer of the two jobs rather than their sum. take runs on
// the calling thread, in order; the values, energies, statuses and the piece at
// which a status comes are those of the reading in turn, and the second thread is
// stopped and joined before stream returns or throws.
class SegmentStreamer {
 public:
  // Pieces of piecePairs pairs (at least 2).
  explicit SegmentStreamer(std::size_t piecePairs = kStreamPiecePairs);
  ~SegmentStreamer();
  SegmentStreamer(const SegmentStreamer&) = delete;
  SegmentStreamer& operator=(const SegmentStreamer&) = delete;

  // What streamSegmentSamples does, with its arguments and statuses. firstPairs,
  // when not 0, caps the first piece (the others are whole pieces): a writer short of
  // a whole cipher piece gets its rest first, then whole pieces it encrypts as they are.
  int stream(const std::string& name, std::size_t pairs, std::optional<double> target,
             double& energy, std::uint64_t& sumOfSquares, const SampleTake& take,
             std::size_t firstPairs = 0);

 private:
  struct Piece;
  void readPiece(Piece& piece, unsigned slot, bool first);
  int streamInTurn(std::uint64_t& sumOfSquares, const SampleTake& take);
  int streamAhead(std::uint64_t& sumOfSquares, const SampleTake& take);

  std::size_t piecePairs_;
  ArbSampleStream stream_;
  std::vector<std::int16_t> silence_;
  std::vector<std::int16_t> table_;  // every 16-bit value's level-scaled result
  // The levelled pieces, taking turns; not zeroed when allocated (each piece is
  // written whole before it is handed out).
  std::unique_ptr<std::int16_t[]> scaled_[2];
  std::size_t scaledValues_ = 0;  // the size of each
  bool scale_ = false;
  bool ordered_ = false;  // whether the sum in order can be needed (see stream)
  std::size_t firstPairs_ = 0;
  double orderedEnergy_ = 0.0;  // of the levelled values, summed in order
};

// How far parseSegment read a segment item before it stopped.
enum class SegmentFields { None, NameAndClock, All };

// Reads item SEGMENT_<index> ("name",clock,count,energy) into segment as
// outputIQDataAndInf reads it: SEQLINK_OK; SEQLINK_BAD_ITEM for a missing or
// malformed item or a negative count; SEQLINK_NAME_TOO_LONG for a name that does not
// fit its slot. parsed says which fields were set.
int parseSegment(const SegmentItemIndex& items, int index, JoinSegment& segment,
                 SegmentFields& parsed);

// Applies the clock-rate mode to the segments' clocks (HIGHEST: the highest of them;
// USER: userClock; UNCHANGED) and gives, for the level mode RMS, the level each
// segment is scaled to (the quietest segment's; none for that one); UNCHANGED gives
// none. SEQLINK_BAD_ITEM for another mode word (the clocks are changed first when
// only the level mode is unknown).
int applyModes(std::string_view levelMode, std::string_view clockMode, double userClock,
               std::span<JoinSegment> segments, std::vector<std::optional<double>>& targets);

}  // namespace arbsuite::seqlink
