// Streamed figures: each range (the whole waveform, each segment) accumulates the
// sums of levels.cpp, the power histogram of power_distribution.cpp, the Welch
// periodograms of welch.cpp and the step counts of loop_figures.cpp piece by piece,
// in the order and arithmetic of those files, so the figures come out the same.
#include "streamed_stats.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <limits>
#include <memory>
#include <numbers>
#include <stdexcept>
#include <utility>

#include "fft.h"
#include "levels.h"
#include "loop_figures.h"
#include "welch.h"
#include "welch_stream.h"

namespace arbsuite::analysis {
namespace {

constexpr unsigned kPowerBinBits = 16;  // power_distribution.cpp's at most 2^16 bins
constexpr unsigned kStepLowBits = 17;   // loop_figures.cpp's split of a squared step
constexpr std::size_t kStepHighBuckets = std::size_t{1} << (33 - kStepLowBits);
constexpr std::uint64_t kStepLowMask = (std::uint64_t{1} << kStepLowBits) - 1;

std::uint32_t powerOf(const std::int16_t* v) {
  const std::int32_t i = v[0];
  const std::int32_t q = v[1];
  return static_cast<std::uint32_t>(i * i) + static_cast<std::uint32_t>(q * q);
}

std::uint64_t squaredStep(const std::int16_t* a, const std::int16_t* b) {
  const std::int64_t di = std::int64_t{b[0]} - a[0];
  const std::int64_t dq = std::int64_t{b[1]} - a[1];
  return static_cast<std::uint64_t>(di * di + dq * dq);
}

// The power histogram with the bin width of the peak so far: bin = power >> shift,
// the shift that PowerDistribution takes for that peak. The peak only grows, so
// bins are only ever merged in pairs, exactly, and the end holds PowerDistribution's
// bins for the true peak.
class PowerHistogram {
 public:
  PowerHistogram() : counts_(std::size_t{1} << kPowerBinBits, 0), sums_(counts_.size(), 0) {}

  void add(std::span<const std::int16_t> iq, std::uint32_t peakSoFar) {
    const unsigned width = static_cast<unsigned>(std::bit_width(peakSoFar));
    const unsigned shift = width > kPowerBinBits ? width - kPowerBinBits : 0;
    while (shift_ < shift) coarsen();
    for (std::size_t k = 0; k < iq.size(); k += 2) {
      const std::uint32_t power = powerOf(&iq[k]);
      const std::size_t bin = power >> shift_;
      ++counts_[bin];
      sums_[bin] += power;
    }
  }

  // PowerDistribution::powerReachedBy for the samples counted.
  double powerReachedBy(double fraction, std::size_t samples) const {
    if (samples == 0) return 0;
    const double wanted = std::ceil(fraction * static_cast<double>(samples) - 1e-9);
    const std::uint64_t m = wanted < 1 ? 1 : static_cast<std::uint64_t>(wanted);
    std::uint64_t above = 0;
    for (std::size_t b = counts_.size(); b-- > 0;) {
      if (above + counts_[b] >= m) {
        return static_cast<double>(sums_[b]) / static_cast<double>(counts_[b]);
      }
      above += counts_[b];
    }
    return 0;
  }

 private:
  void coarsen() {
    for (std::size_t b = 0; b < counts_.size() / 2; ++b) {
      counts_[b] = counts_[2 * b] + counts_[2 * b + 1];
      sums_[b] = sums_[2 * b] + sums_[2 * b + 1];
    }
    std::fill(counts_.begin() + static_cast<std::ptrdiff_t>(counts_.size() / 2), counts_.end(), 0);
    std::fill(sums_.begin() + static_cast<std::ptrdiff_t>(sums_.size() / 2), sums_.end(), 0);
    ++shift_;
  }

  unsigned shift_ = 0;
  std::vector<std::uint64_t> counts_;
  std::vector<std::uint64_t> sums_;
};

// The 99th percentile of squared steps, found as loop_figures.cpp finds it: the
// high bits counted in the first pass, the low bits inside the bucket of the rank
// in the second.
struct StepRank {
  std::size_t steps = 0;
  std::size_t rank = 0;
  std::size_t below = 0;
  std::uint64_t bucket = 0;
  std::vector<std::uint64_t> low;

  // From the high counts of the steps (one or two ranges').
  void choose(const std::vector<std::uint64_t>& high, const std::vector<std::uint64_t>* more) {
    if (steps == 0) return;
    rank = static_cast<std::size_t>(std::ceil(0.99 * static_cast<double>(steps))) - 1;
    const auto at = [&](std::uint64_t b) { return high[b] + (more ? (*more)[b] : 0); };
    while (below + at(bucket) <= rank) below += at(bucket++);
  }
  // Before the second pass reaches the steps.
  void begin() {
    if (steps > 0) low.assign(std::size_t{1} << kStepLowBits, 0);
  }
  void count(std::uint64_t s) {
    if (steps > 0 && (s >> kStepLowBits) == bucket) ++low[s & kStepLowMask];
  }
  double percentile() {
    if (steps == 0) return 0;
    std::uint64_t value = 0;
    while (below + low[value] <= rank) below += low[value++];
    low = {};
    return std::sqrt(static_cast<double>((bucket << kStepLowBits) | value));
  }
};

SeamFigures figures(const std::int16_t* last, const std::int16_t* first, double percentile) {
  SeamFigures s;
  s.jumpLsb = std::sqrt(static_cast<double>(squaredStep(last, first)));
  s.ratio = percentile > 0 ? s.jumpLsb / percentile
                           : (s.jumpLsb > 0 ? std::numeric_limits<double>::infinity() : 0.0);
  return s;
}

// Everything measure needs of one range of pairs, fed in order: the first pass
// gives every figure but the seam's (and frees its buffers), the second the seam's.
class RangeAccumulator {
 public:
  RangeAccumulator(std::size_t count, std::optional<double> clockHz)
      : count_(count), clockHz_(clockHz), high_(kStepHighBuckets, 0) {
    if (clockHz_ && *clockHz_ > 0 && count_ >= kMinSpectrumSamples) {
      welch_ = std::make_unique<WelchStream>(count_);
    }
    if (count_ > 0 && count_ <= kLoopRegrowthLimit) whole_.reserve(2 * count_);
    steps_.steps = count_ >= 2 ? count_ - 1 : 0;
  }

  void add(std::span<const std::int16_t> iq) {
    if (iq.empty()) return;
    levels_.add(iq);
    histogram_->add(iq, static_cast<std::uint32_t>(levels_.levels().peakPower));
    if (welch_) welch_->add(iq);
    if (count_ <= kLoopRegrowthLimit) whole_.insert(whole_.end(), iq.begin(), iq.end());
    forEachStep(iq, [&](std::uint64_t s) { ++high_[s >> kStepLowBits]; });
    if (!seen_) {
      first_[0] = iq[0];
      first_[1] = iq[1];
      seen_ = true;
    }
  }

  // The figures of measure but the seam's; the step rank's bucket is chosen.
  Stats finishFirstPass() {
    steps_.choose(high_, nullptr);
    Stats stats;
    stats.samples = count_;
    if (clockHz_ && *clockHz_ > 0) {
      stats.clockHz = clockHz_;
      stats.durationS = static_cast<double>(count_) / *clockHz_;
    }
    const Levels levels = levels_.levels();
    stats.peak = std::sqrt(static_cast<double>(levels.peakPower));
    stats.clipped = levels.clipped;
    if (count_ > 0) stats = levelFigures(stats, levels);
    histogram_.reset();
    welch_.reset();
    whole_ = {};
    return stats;
  }

  // The step counts of the first pass, for a boundary, until released.
  const std::vector<std::uint64_t>& high() const { return high_; }
  void releaseHigh() { high_ = {}; }
  std::size_t steps() const { return steps_.steps; }

  // Second pass: the steps go to this range's rank and to also (its boundaries').
  void beginRecount() {
    hasPrevious_ = false;
    steps_.begin();
  }
  template <typename F>
  void recount(std::span<const std::int16_t> iq, F also) {
    forEachStep(iq, [&](std::uint64_t s) {
      steps_.count(s);
      also(s);
    });
  }
  void finishSeam(Stats& stats) {
    const double percentile = steps_.percentile();
    if (count_ == 0) return;
    const SeamFigures seam = figures(previous_, first_, percentile);
    stats.seamLsb = seam.jumpLsb;
    stats.seamRatio = seam.ratio;
  }

  const std::int16_t* first() const { return first_; }
  const std::int16_t* last() const { return previous_; }

 private:
  Stats levelFigures(Stats stats, const Levels& levels) {
    const double meanPower = levels.meanPower;
    stats.dcI = levels.dcI;
    stats.dcQ = levels.dcQ;
    if (count_ <= kLoopRegrowthLimit) stats.loopRegrowthDb = loopRegrowthOf(std::move(whole_));
    const auto peak = static_cast<double>(levels.peakPower);
    if (peak == 0) return stats;  // silence: no decibels
    const double fullScalePower = kFullScale * kFullScale;
    stats.peakDbfs = 10 * std::log10(peak / fullScalePower);
    stats.rmsDbfs = 10 * std::log10(meanPower / fullScalePower);
    stats.paprDb = 10 * std::log10(peak / meanPower);
    for (std::size_t k = 0; k < kCcdfFractions.size(); ++k) {
      const double power = histogram_->powerReachedBy(kCcdfFractions[k], count_);
      if (power > 0) stats.ccdfDb[k] = 10 * std::log10(power / meanPower);
    }
    if (welch_) stats.obwHz = occupiedBandwidth(welch_->finish(*stats.clockHz), kOccupiedShare);
    return stats;
  }

  // The steps of iq, continuing from the pair before it; previous_ follows.
  template <typename F>
  void forEachStep(std::span<const std::int16_t> iq, F f) {
    const std::size_t pairs = iq.size() / 2;
    if (pairs == 0) return;
    if (hasPrevious_) f(squaredStep(previous_, &iq[0]));
    for (std::size_t k = 1; k < pairs; ++k) f(squaredStep(&iq[2 * k - 2], &iq[2 * k]));
    previous_[0] = iq[2 * pairs - 2];
    previous_[1] = iq[2 * pairs - 1];
    hasPrevious_ = true;
  }

  std::size_t count_;
  std::optional<double> clockHz_;
  LevelMeter levels_;
  std::unique_ptr<PowerHistogram> histogram_ = std::make_unique<PowerHistogram>();
  std::unique_ptr<WelchStream> welch_;
  std::vector<std::int16_t> whole_;  // for the loop regrowth, up to its limit
  std::vector<std::uint64_t> high_;
  StepRank steps_;
  bool seen_ = false;
  std::int16_t first_[2] = {0, 0};
  std::int16_t previous_[2] = {0, 0};
  bool hasPrevious_ = false;
};

}  // namespace

StatsReport measureWaveform(SamplePieces& pieces, std::optional<double> clockHz,
                            const std::vector<Segment>& segments) {
  const std::size_t total = pieces.samples();
  std::size_t covered = 0;
  for (const Segment& s : segments) {
    if (s.start != covered || s.count > total - covered) {
      throw std::invalid_argument("the segments do not cover the samples in order");
    }
    covered += s.count;
  }
  if (!segments.empty() && covered != total) {
    throw std::invalid_argument("the segments do not cover the samples in order");
  }

  // Calls f(segment index, part) for the parts of a piece in each segment.
  std::size_t position = 0;
  std::size_t current = 0;
  const auto split = [&](std::span<const std::int16_t> piece, auto f) {
    while (!piece.empty() && current < segments.size()) {
      while (current < segments.size() &&
             position >= segments[current].start + segments[current].count) {
        ++current;
      }
      if (current == segments.size()) return;
      const std::size_t end = segments[current].start + segments[current].count;
      const std::size_t take = std::min(piece.size() / 2, end - position);
      f(current, piece.first(2 * take));
      piece = piece.subspan(2 * take);
      position += take;
    }
  };
  const auto segmentClock = [&](std::size_t k) {
    return segments[k].clockHz > 0 ? std::optional<double>(segments[k].clockHz) : std::nullopt;
  };

  // First pass: the whole waveform, and one segment at a time (they follow each
  // other). A segment is finished when the next one starts (or at the end), and with
  // it the step rank of the boundary before it; then the step counts of the one
  // before it are no longer needed.
  RangeAccumulator whole(total, clockHz);
  std::vector<std::unique_ptr<RangeAccumulator>> parts(segments.size());
  std::vector<Stats> partStats(segments.size());
  std::vector<StepRank> boundaries(segments.empty() ? 0 : segments.size() - 1);
  std::size_t finished = 0;  // segments finished in the pass
  const auto finishFirstUpTo = [&](std::size_t end) {
    for (; finished < end; ++finished) {
      const std::size_t k = finished;
      if (!parts[k])
        parts[k] = std::make_unique<RangeAccumulator>(segments[k].count, segmentClock(k));
      partStats[k] = parts[k]->finishFirstPass();
      if (k > 0) {
        boundaries[k - 1].steps = parts[k - 1]->steps() + parts[k]->steps();
        boundaries[k - 1].choose(parts[k - 1]->high(), &parts[k]->high());
        parts[k - 1]->releaseHigh();
      }
    }
  };
  pieces.forEach([&](std::span<const std::int16_t> piece) {
    whole.add(piece);
    split(piece, [&](std::size_t k, std::span<const std::int16_t> part) {
      finishFirstUpTo(k);
      if (!parts[k])
        parts[k] = std::make_unique<RangeAccumulator>(segments[k].count, segmentClock(k));
      parts[k]->add(part);
    });
  });
  finishFirstUpTo(segments.size());
  if (!parts.empty()) parts.back()->releaseHigh();
  Stats wholeStats = whole.finishFirstPass();
  whole.releaseHigh();

  // Second pass: the low bits of the steps inside each rank's bucket, the low
  // counts of a segment and of the boundaries on either side of it held meanwhile.
  std::vector<SeamFigures> jumps(boundaries.size());
  whole.beginRecount();
  position = 0;
  current = 0;
  std::size_t begun = 0;  // segments whose recount has begun
  finished = 0;
  const auto finishSecondUpTo = [&](std::size_t end) {
    for (; finished < end; ++finished) {
      const std::size_t k = finished;
      if (begun <= k) {
        parts[k]->beginRecount();
        if (k < boundaries.size()) boundaries[k].begin();
        begun = k + 1;
      }
      parts[k]->finishSeam(partStats[k]);
      if (k > 0) {
        jumps[k - 1] =
            figures(parts[k - 1]->last(), parts[k]->first(), boundaries[k - 1].percentile());
      }
    }
  };
  pieces.forEach([&](std::span<const std::int16_t> piece) {
    whole.recount(piece, [](std::uint64_t) {});
    split(piece, [&](std::size_t k, std::span<const std::int16_t> part) {
      finishSecondUpTo(k);
      if (begun <= k) {
        parts[k]->beginRecount();
        if (k < boundaries.size()) boundaries[k].begin();
        begun = k + 1;
      }
      parts[k]->recount(part, [&](std::uint64_t s) {
        if (k > 0) boundaries[k - 1].count(s);
        if (k < boundaries.size()) boundaries[k].count(s);
      });
    });
  });
  finishSecondUpTo(segments.size());
  whole.finishSeam(wholeStats);

  StatsReport report;
  report.whole = wholeStats;
  double duration = 0;
  bool durationKnown = true;
  for (std::size_t k = 0; k < parts.size(); ++k) {
    SegmentStats segment{segments[k].name, partStats[k]};
    if (segment.stats.durationS) {
      duration += *segment.stats.durationS;
    } else {
      durationKnown = false;
    }
    report.segments.push_back(std::move(segment));
    if (k > 0 && segments[k - 1].count > 0 && segments[k].count > 0) {
      report.boundaries.push_back({k - 1, jumps[k - 1].jumpLsb, jumps[k - 1].ratio});
    }
  }
  if (!report.whole.durationS && !segments.empty() && durationKnown) {
    report.whole.durationS = duration;
  }
  return report;
}

}  // namespace arbsuite::analysis
