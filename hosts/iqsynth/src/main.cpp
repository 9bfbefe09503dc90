// iqsynth: command-line host of libiqsynth. Sets the synthesis configuration from
// the options, runs the synthesis and writes an .arb file, a CSV file and/or a plot.
// The library is loaded only for a run, once its environment is set (the synthesis
// run of core, iq_synthesis.h).
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "arb_output.h"
#include "csv_output.h"
#include "interrupt_cleanup.h"
#include "iq_synthesis.h"
#include "names.h"
#include "options.h"
#include "output_checks.h"
#include "plot_output.h"
#include "progress_report.h"
#include "standard_output.h"
#include "synthesis_library.h"
#include "synthesised_waveform.h"

namespace {

using namespace arbsuite::iqsynth_host;

// The carrier phases of a multi-carrier run, in words.
std::string phaseDescription(const Options& o) {
  if (o.crestLaw) return "the library's phase law";
  switch (o.phaseLaw) {
    case PhaseLaw::Newman:
      return "Newman phases";
    case PhaseLaw::Schroeder:
      return "Schroeder phases";
    case PhaseLaw::Random:
      return "random phases";
    case PhaseLaw::List:
      if (!o.phases.empty()) return "the phases given";
      return "zero phases";
    case PhaseLaw::Zero:
    default:
      return "zero phases";
  }
}

// Whether the run draws on its seed: noise, or random carrier phases.
bool usesSeed(const Options& o) {
  return o.mode == IQSYNTH_WORKING_MODE_AWGN || o.cnr.has_value() ||
         (o.mode == IQSYNTH_WORKING_MODE_MCCW && o.phaseLaw == PhaseLaw::Random && !o.crestLaw);
}

std::string describeRun(const Options& o) {
  char text[256];
  switch (o.mode) {
    case IQSYNTH_WORKING_MODE_AWGN:
      return "noise";
    case IQSYNTH_WORKING_MODE_MCCW:
      std::snprintf(text, sizeof text, "mccw, %d carriers spaced %g Hz, %s", o.carriers, o.spacing,
                    phaseDescription(o).c_str());
      return text;
    default: {
      std::string data;
      switch (o.dataSrc) {
        case IQSYNTH_DATA_SRC_ALL_ZERO:
          data = "zeros";
          break;
        case IQSYNTH_DATA_SRC_ALL_ONE:
          data = "ones";
          break;
        case IQSYNTH_DATA_SRC_PATTERN:
          data = (o.patternIsHex ? "hex:" : "bin:") + o.pattern;
          break;
        case IQSYNTH_DATA_SRC_FILE:
          data = "file:" + o.dataFile;
          break;
        default:
          data = "prbs" + std::to_string(o.prbs);
          break;
      }
      if (data.size() > 40) data = data.substr(0, 37) + "...";
      std::snprintf(text, sizeof text,
                    "digital, %s, %d symbols at %g Hz x %d, %s (%g, span %d), %s, coding %s",
                    nameOf(modulationNames(), o.modulation), o.symbols, o.symbolRate,
                    o.oversampling, nameOf(filterNames(), o.filterType), o.alphaBt, o.filterSpan,
                    data.c_str(), nameOf(codingNames(), o.coding));
      return text;
    }
  }
}

// A level in dB, or "undefined" when the library's level formula had no finite
// value (a silent signal).
std::string decibels(double value) {
  if (!std::isfinite(value)) return "undefined";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f dB", value);
  return text;
}

void printSummary(const Options& o, const SynthesisResult& r) {
  const Statistics s = measure(r.wave);
  const double fullScale = 8192.0;
  std::printf("Run:            %s\n", describeRun(o).c_str());
  std::printf("Samples:        %zu\n", s.samples);
  std::printf("Sample rate:    %.6f Hz\n", r.wave.sampleRate);
  std::printf("Peak:           %.1f (%.4f of full scale %g)\n", s.peak, s.peak / fullScale,
              fullScale);
  if (s.rms > 0) {
    std::printf("RMS:            %.1f (%.2f dBFS)\n", s.rms, 20 * std::log10(s.rms / fullScale));
  } else {
    std::printf("RMS:            0 (silent)\n");
  }
  std::printf("Crest factor:   %.2f dB\n", crestFactorDb(s));
  std::printf("Energy:         %.6f\n", s.energy);
  if (o.mode == IQSYNTH_WORKING_MODE_DIGITAL && o.filterType == IQSYNTH_FILTER_USER) {
    // The library leaves its designed-filter count alone for user taps.
    std::printf("Filter taps:    %zu (user taps)\n", o.taps.size());
  } else if (o.mode == IQSYNTH_WORKING_MODE_DIGITAL) {
    std::printf("Filter taps:    %d\n", r.filterTaps);
  }
  if (r.noise.present) {
    const NoiseLevels& n = r.noise;
    std::printf("Noise:          bandwidth %.1f Hz, system bandwidth %.1f Hz\n", n.noiseBandwidth,
                r.systemBandwidth);
    if (n.added) {
      std::printf("Levels:         carrier %s, signal+noise %s (re peak power %s)\n",
                  decibels(n.carrierLevel).c_str(), decibels(n.signalLevel).c_str(),
                  decibels(n.peakLevel).c_str());
    }
    std::printf("Noise level:    %s in the system bandwidth, %s in the total bandwidth\n",
                decibels(n.noiseLevelSystem).c_str(), decibels(n.noiseLevelTotal).c_str());
  }
}

std::string absolute(const std::string& path) {
  std::error_code error;
  const auto full = std::filesystem::absolute(path, error);
  return error ? path : full.string();
}

// The seed and the run log: what repeats the run and where its details are.
void printRunSettings(const Options& o) {
  const unsigned long seed = o.seed.value_or(0);
  if (!usesSeed(o)) {
    std::printf("Seed:           %lu (unused: no noise, no random phases)\n", seed);
  } else if (o.given.count("seed") != 0) {
    std::printf("Seed:           %lu (--seed)\n", seed);
  } else {
    std::printf("Seed:           %lu (drawn; --seed %lu repeats the run)\n", seed, seed);
  }
  if (o.logPath.empty()) {
    std::printf("Run log:        no log (--log FILE keeps one)\n");
  } else {
    std::printf("Run log:        %s\n", absolute(o.logPath).c_str());
  }
}

int run(const std::vector<std::string>& args) {
  ParseResult parsed;
  try {
    parsed = parseCommandLine(args);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "iqsynth: %s\n", e.what());
    return kExitUsage;
  }
  if (parsed.action == Action::Help) {
    std::fputs(helpText().c_str(), stdout);
    return kExitOk;
  }
  if (parsed.action == Action::Version) {
    std::fputs(versionText().c_str(), stdout);
    return kExitOk;
  }
  Options& o = parsed.options;
  // The packing and writing of the outputs report their progress (the synthesis is
  // one call of the library, with nothing to follow).
  arbsuite::arb::setProgressMode(arbsuite::arb::progressModeFromEnvironment(
      o.given.count("quiet") != 0, o.given.count("progress") != 0));
  try {
    checkOutputFiles(o);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "iqsynth: %s\n", e.what());
    return kExitUsage;
  }
  try {
    loadInputFiles(o);
  } catch (const InputError& e) {
    std::fprintf(stderr, "iqsynth: %s\n", e.what());
    return kExitInput;
  }
  if (!o.seed) o.seed = drawSeed();
  SynthesisResult result;
  try {
    result = synthesise(o, besideTheProgram());
  } catch (const SynthesisError& e) {
    std::fprintf(stderr, "iqsynth: %s\n", e.what());
    return e.status == 0 ? kExitUsage : kExitSynthesis;
  } catch (const LibraryError& e) {
    std::fprintf(stderr, "iqsynth: %s\n", e.what());
    return kExitInternal;
  } catch (const OutputError& e) {
    std::fprintf(stderr, "iqsynth: %s\n", e.what());
    return kExitOutput;
  }
  printSummary(o, result);
  printRunSettings(o);
  try {
    if (!o.arbPath.empty()) {
      const ArbHeaderPlan plan = planHeader(o, result.wave.sampleRate);
      writeArb(o.arbPath, result.wave, plan);
      std::printf("Wrote .arb:     %s (Clock %lld Hz; %s, %s, %s)\n", absolute(o.arbPath).c_str(),
                  static_cast<long long>(plan.symbolRate) * plan.overSampling,
                  packerDataSourceName(plan.names.dataSource),
                  packerModulationName(plan.names.modulation), packerFilterName(plan.names.filter));
      if (plan.rateRounded) {
        std::fprintf(stderr,
                     "iqsynth: note: the .arb header holds whole hertz; Clock is %.6f Hz rounded\n",
                     result.wave.sampleRate);
      }
    }
    if (!o.csvPath.empty()) {
      writeCsv(o.csvPath, result.wave);
      std::printf("Wrote CSV:      %s\n", absolute(o.csvPath).c_str());
    }
    if (!o.plotPath.empty()) {
      writePlotSheet(o, result.wave);
      std::printf("Wrote plot:     %s\n", absolute(o.plotPath).c_str());
    }
  } catch (const OutputError& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "iqsynth: %s\n", e.what());
    return kExitOutput;
  }
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  // An interrupt removes the temporary sample file (and any named temporary of an
  // output); a standard output that cannot be written ends the run with status 4.
  arbsuite::arb::installInterruptCleanup();
  arbsuite::arb::checkStandardOutputAtExit("iqsynth: ");
  try {
    return run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "iqsynth: %s\n", e.what());
    return kExitInternal;
  }
}
