// A pair source and a sample-word source that count what their readers take from
// another one into a progress report, so that the passes of the quantiser and the
// packer report their progress without knowing of it.
#pragma once

#include <cstdint>
#include <span>

#include "arb_pack.h"
#include "pair_source.h"
#include "progress_report.h"

namespace arbsuite {

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

// The words of `words` (not owned); every read adds the IQ pairs it copied (4 bytes
// each) to `report`. The packer reads the words twice, so a run reports twice their
// pair count.
class CountedSampleWords final : public SampleWords {
 public:
  CountedSampleWords(SampleWords& words, arb::ProgressReport& report)
      : words_(words), report_(report) {}
  bool open() override { return words_.open(); }
  std::uint64_t byteCount() const override { return words_.byteCount(); }
  std::size_t read(std::span<std::uint8_t> buffer) override {
    const std::size_t n = words_.read(buffer);
    report_.add(n / arb::kBytesPerPair);
    return n;
  }
  bool failed() const override { return words_.failed(); }
  bool rewind() override { return words_.rewind(); }

 private:
  SampleWords& words_;
  arb::ProgressReport& report_;
};

}  // namespace arbsuite
