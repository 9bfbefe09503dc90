// The checks of the iqsynth command line across options (see option_checks.h), and
// the output rate they check the .arb clock by.
#include "option_checks.h"

#include <cmath>
#include <filesystem>
#include <string>
#include <utility>

#include "arb_format.h"
#include "plot_sheet.h"

namespace arbsuite::iqsynth_host {
namespace {

std::string modesOf(unsigned modes) {
  std::string text;
  if (modes & kDigital) text += "digital";
  if (modes & kNoise) text += text.empty() ? "noise" : " or noise";
  if (modes & kMccw) text += text.empty() ? "mccw" : " or mccw";
  return text;
}

unsigned modeBit(int mode) {
  return mode == IQSYNTH_WORKING_MODE_AWGN   ? kNoise
         : mode == IQSYNTH_WORKING_MODE_MCCW ? kMccw
                                             : kDigital;
}

// Whether two paths name the same file (or would, once written).
bool samePath(const std::string& a, const std::string& b) {
  // Empty when the path cannot be resolved.
  const auto full = [](const std::string& path) {
    std::error_code error;
    auto result = std::filesystem::weakly_canonical(std::filesystem::absolute(path, error), error);
    return error ? std::filesystem::path() : result;
  };
  const auto fullA = full(a);
  const auto fullB = full(b);
  return fullA.empty() || fullB.empty() ? a == b : fullA == fullB;
}

}  // namespace

void checkModes(const CLI::App& app, Options& o) {
  for (const CLI::Option* option : app.get_options()) {
    if (option->count() == 0) continue;
    const std::string name = option->get_name();
    for (const Section& s : kSections) {
      if (option->get_group() == s.heading && (s.modes & modeBit(o.mode)) == 0) {
        throw UsageError(name + " applies to --mode " + modesOf(s.modes) + " only");
      }
    }
    o.given.insert(name.substr(2));
  }
}

void checkCombination(const Options& o, bool samplesReturned) {
  if (!samplesReturned && o.arbPath.empty() && o.csvPath.empty() && o.plotPath.empty()) {
    throw UsageError("give an output: -o FILE.arb, --csv FILE.csv, --plot FILE.png, or several");
  }
  if (!o.plotPath.empty() && !analysis::plotFormatOf(o.plotPath)) {
    throw UsageError("--plot: '" + o.plotPath + "' does not end in .png, .svg or .pdf");
  }
  if (o.mode == IQSYNTH_WORKING_MODE_DIGITAL) {
    const bool user = o.modulation == IQSYNTH_MOD_FAMILY_USER;
    if (user != !o.constellationFile.empty()) {
      throw UsageError(user ? "-M user needs --constellation FILE"
                            : "--constellation needs -M user");
    }
    const bool userFilter = o.filterType == IQSYNTH_FILTER_USER;
    if (userFilter != !o.tapsFile.empty()) {
      throw UsageError(userFilter ? "-f user needs --taps FILE" : "--taps needs -f user");
    }
    if (static_cast<long long>(o.symbols) * o.oversampling > kMaxSamples) {
      throw UsageError("--symbols x --oversampling gives more than " + std::to_string(kMaxSamples) +
                       " samples");
    }
    switch (o.filterType) {
      case IQSYNTH_FILTER_RC:
        if (!(o.alphaBt >= 0 && o.alphaBt <= 1)) {
          throw UsageError("--alpha: the raised-cosine roll-off must lie in 0 to 1");
        }
        break;
      case IQSYNTH_FILTER_RRC:
        if (!(o.alphaBt > 0 && o.alphaBt <= 1)) {
          throw UsageError("--alpha: the root-raised-cosine roll-off must lie above 0, up to 1");
        }
        break;
      case IQSYNTH_FILTER_GAUSSIAN:
      case IQSYNTH_FILTER_GAUSSIAN_FSK:
        if (!(o.alphaBt > 0)) throw UsageError("--alpha: the BT product must be greater than 0");
        break;
      default:
        break;
    }
    if (!o.ramp.empty() && o.ramp.back().startSymbol + o.rampTime > o.symbols) {
      throw UsageError("--ramp: the last row starts at symbol " +
                       std::to_string(o.ramp.back().startSymbol) + " and its ramp ends after the " +
                       std::to_string(o.symbols) + " symbols of the waveform");
    }
  }
  if (o.mode == IQSYNTH_WORKING_MODE_MCCW) {
    const auto perCarrier = [&](const char* name, std::size_t size) {
      if (size > 1 && size != static_cast<std::size_t>(o.carriers)) {
        throw UsageError("--" + std::string(name) + ": " + std::to_string(size) + " values for " +
                         std::to_string(o.carriers) + " carriers; give one or one per carrier");
      }
    };
    perCarrier("levels", o.levels.size());
    perCarrier("phases", o.phases.size());
    perCarrier("switches", o.switches.size());
    if (o.crestLaw && o.given.count("phases") != 0) {
      throw UsageError("--phases and --crest-law exclude each other: the law replaces the phases");
    }
  }
  if (o.given.count("log") != 0 && o.logPath.empty()) {
    throw UsageError("--log: the path is empty");
  }
  if (!o.logPath.empty()) {
    const std::pair<const std::string*, const char*> outputs[] = {
        {&o.arbPath, "-o"}, {&o.csvPath, "--csv"}, {&o.plotPath, "--plot"}};
    for (const auto& [output, name] : outputs) {
      if (!output->empty() && samePath(*output, o.logPath)) {
        throw UsageError("--log: '" + o.logPath + "' is also the " + name + " output");
      }
    }
  }
  if (!o.arbPath.empty()) {
    // The .arb header holds the clock in whole hertz; it must be one the instrument
    // plays. The multi-carrier clock is checked once the library has chosen it.
    const double clock = outputRate(o);
    if (o.mode != IQSYNTH_WORKING_MODE_MCCW && !arb::isPlayableClock(std::round(clock))) {
      throw UsageError("the sample clock " + arbsuite::cli::Frequency{}.text(clock) +
                       " is not a clock the instrument plays (" + arb::kPlayableClockText +
                       "); change the symbol rate or the oversampling");
    }
    if (o.mode == IQSYNTH_WORKING_MODE_DIGITAL && !(std::llround(o.symbolRate) >= 1)) {
      throw UsageError("the symbol rate must be at least 1 Hz for the .arb header");
    }
  }
}

double outputRate(const Options& o) {
  if (o.mode == IQSYNTH_WORKING_MODE_AWGN) return o.noiseRate;
  return o.symbolRate * o.oversampling;
}

}  // namespace arbsuite::iqsynth_host
