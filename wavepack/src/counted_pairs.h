// A pair source that counts what its readers take from another one, so that the
// converter's passes over the pairs (the peak, then the quantisation) report their
// progress without the quantiser knowing of it.
#pragma once

#include <cstdint>
#include <span>

#include "pair_source.h"
#include "progress_report.h"

namespace arbsuite::wavepack {

// The pairs of `source` (not owned); every read adds the pairs it returns to `report`.
// Safe from several threads at once, as the source itself must be.
class CountedPairs final : public PairSource {
 public:
  CountedPairs(PairSource& source, arb::ProgressReport& report)
      : source_(source), report_(report) {}
  std::uint64_t size() const override { return source_.size(); }
  std::span<const IqPair> read(std::uint64_t start, std::span<IqPair> scratch) override {
    const std::span<const IqPair> pairs = source_.read(start, scratch);
    report_.add(pairs.size());
    return pairs;
  }

 private:
  PairSource& source_;
  arb::ProgressReport& report_;
};

}  // namespace arbsuite::wavepack
