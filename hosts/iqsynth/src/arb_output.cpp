// Writes a synthesised waveform as a version-1 .arb file through the packer,
// with the text header filled from the run's configuration.
#include "arb_output.h"

#include <cmath>
#include <cstdlib>

#include "arb_pack.h"
#include "progress_counting.h"
#include "progress_report.h"

namespace arbsuite::iqsynth_host {
namespace {

bool wholeHertz(double rate) { return std::fabs(rate - std::round(rate)) < 1e-6; }

}  // namespace

ArbHeaderPlan planHeader(const Options& o, double sampleRate) {
  ArbHeaderPlan plan;
  const int modulation =
      o.modulation == IQSYNTH_MOD_FAMILY_USER
          ? IQSYNTH_MOD_FAMILY_USER + static_cast<int>(std::log2(o.constellation.size() / 2))
          : o.modulation;
  plan.names = headerNamesFor(o.mode, modulation, o.filterType, o.dataSrc, o.prbs);
  if (o.mode == IQSYNTH_WORKING_MODE_DIGITAL && wholeHertz(o.symbolRate)) {
    plan.symbolRate = static_cast<int>(std::llround(o.symbolRate));
    plan.overSampling = o.oversampling;
  } else {
    // The header holds whole hertz: the clock keeps its value (rounded) and the
    // symbol rate item becomes the clock with an oversampling of 1.
    plan.symbolRate = static_cast<int>(std::llround(sampleRate));
    plan.overSampling = 1;
    plan.rateRounded = !wholeHertz(sampleRate);
  }
  if (o.mode == IQSYNTH_WORKING_MODE_DIGITAL) {
    switch (o.filterType) {
      case IQSYNTH_FILTER_GAUSSIAN_LINEARIZED:  // fixed design: BT 0.3 over 5 symbols
        plan.filterCoefficient = 0.3;
        plan.impulseLength = 5;
        break;
      case IQSYNTH_FILTER_RECT:
      case IQSYNTH_FILTER_HALF_SINE:  // one-symbol pulses
        plan.filterCoefficient = 0;
        plan.impulseLength = 1;
        break;
      default:
        plan.filterCoefficient = o.filterType == IQSYNTH_FILTER_USER ? 0 : o.alphaBt;
        plan.impulseLength = o.filterSpan;
        break;
    }
  }
  return plan;
}

void writeArb(const std::string& path, const Waveform& wave, const ArbHeaderPlan& plan) {
  // Packed from memory: the samples never reach a file unencrypted.
  const std::vector<unsigned char> bytes = interleavedSamples(wave);
  arbsuite::MemorySampleWords words(bytes);
  // The packer reads the samples twice: once for the level, once to encrypt them.
  arb::ProgressReport progress("iqsynth: packing " + path, 2 * (bytes.size() / 4), "pairs");
  arbsuite::CountedSampleWords samples(words, progress);
  arbsuite::Version1Fields fields;
  fields.dataSource = plan.names.dataSource;
  fields.symbolRate = plan.symbolRate;
  fields.modulationType = plan.names.modulation;
  fields.filterType = plan.names.filter;
  fields.filterCoefficient = plan.filterCoefficient;
  fields.impulseLength = plan.impulseLength;
  fields.overSampling = plan.overSampling;
  const int status = arbsuite::packVersion1(samples, fields, path.c_str());
  if (status != arbsuite::kPackOk) {
    throw OutputError("cannot write " + path + ": " + arbsuite::packStatusWords(status) +
                      " (status " + std::to_string(status) + ")");
  }
}

}  // namespace arbsuite::iqsynth_host
