// compose and check on files (see prep_commands.h). The composite is written as
// wavepack writes a waveform: normalised to its peak, quantised, put in a private
// temporary sample file and packed by PackuserIQdata (wavepack's convertToArb).
#include "prep_commands.h"

#include <algorithm>
#include <cstdio>

#include "arb_read.h"
#include "composition.h"
#include "output_file.h"
#include "pair_packer.h"
#include "quantizer.h"
#include "readiness.h"

namespace arbsuite::arbtool {
namespace {

static_assert(kDefaultComposeLevel == arbsuite::kPeakLevel,
              "compose writes at the converter's level");

// The composite's samples as the quantiser reads them, block by block, without a
// second copy of the whole waveform.
class CompositeSource final : public arbsuite::PairSource {
 public:
  explicit CompositeSource(std::span<const arbsuite::prep::Iq> iq) : iq_(iq) {}
  std::uint64_t size() const override { return iq_.size(); }
  std::span<const arbsuite::IqPair> read(std::uint64_t start,
                                         std::span<arbsuite::IqPair> scratch) override {
    const auto first = static_cast<std::size_t>(start);
    const std::size_t count = std::min(scratch.size(), iq_.size() - first);
    for (std::size_t k = 0; k < count; ++k)
      scratch[k] = {iq_[first + k].real(), iq_[first + k].imag()};
    return scratch.first(count);
  }

 private:
  std::span<const arbsuite::prep::Iq> iq_;
};

// Refuses an output that is one of the inputs (by device and inode, so also through
// links): the input would be replaced by the composite.
void refuseInputAsOutput(const ComposeRequest& request) {
  for (const CarrierArgument& carrier : request.carriers) {
    if (arb::outputOverwritesInput(request.output, carrier.path)) {
      throw UsageError("compose: the output " + request.output + " is the input file " +
                       carrier.path);
    }
  }
}

}  // namespace

int runCompose(const ComposeRequest& request) {
  refuseInputAsOutput(request);
  std::vector<ArbContent> contents;
  for (const CarrierArgument& carrier : request.carriers) {
    contents.push_back(readContent(carrier.path, false));
  }
  Composition composition = composeCarriers(contents, request);
  contents.clear();
  for (const std::string& warning : composition.composite.warnings) {
    std::fprintf(stderr, "arbtool: warning: %s\n", warning.c_str());
  }
  CompositeSource source(composition.composite.iq);
  // Quantised and packed in memory: no sample file is made.
  const std::int32_t status = arbsuite::packPairs(
      source, static_cast<std::int32_t>(request.clockHz), request.output.c_str(), request.level);
  if (status != arbsuite::kPackOk) {
    throw Failure{status == arbsuite::kPackOutputFailed ? kExitOutput : kExitJoin,
                  "cannot write " + request.output + ": " + arbsuite::packStatusWords(status) +
                      " (status " + std::to_string(status) + ")"};
  }
  std::fputs(compositionReport(composition, request).c_str(), stdout);
  std::printf("Wrote %s\n", request.output.c_str());
  return kExitOk;
}

int runCheck(const CheckRequest& request) {
  const ArbContent content = readContent(request.file);
  const std::vector<Finding> findings = readinessFindings(content, request.minSamples);
  std::fputs(readinessReport(findings, request.file).c_str(), stdout);
  return findings.empty() ? kExitOk : kExitNotReady;
}

}  // namespace arbsuite::arbtool
