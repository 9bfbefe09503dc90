// Composition of carriers from .arb files (see composition.h).
#include "composition.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "arb_read.h"
#include "stats_report.h"

namespace arbsuite::arbtool {
namespace {

namespace prep = arbsuite::prep;

std::string format(const char* pattern, double value) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

std::string signedHertz(double hertz) {
  return (hertz > 0 ? "+" : "") + analysis::hertzText(hertz);
}

std::vector<prep::Iq> samplesOf(const ArbContent& content) {
  std::vector<prep::Iq> iq(content.count);
  for (std::size_t k = 0; k < content.count; ++k) {
    iq[k] = {static_cast<double>(content.samples[2 * k]),
             static_cast<double>(content.samples[2 * k + 1])};
  }
  return iq;
}

// The carrier's 99 % occupied band at its own clock (as far as the common clock holds
// it), shifted, must stay within the common clock's band: beyond it the carrier would
// wrap round to the other edge.
void checkShiftedBand(const CarrierArgument& carrier, const std::vector<prep::Iq>& iq,
                      double inputClock, double clock) {
  const prep::Band band = prep::occupiedBand(iq, inputClock);
  const double low = std::max(band.low, -clock / 2) + carrier.shiftHz;
  const double high = std::min(band.high, clock / 2) + carrier.shiftHz;
  if (low < -clock / 2 || high > clock / 2) {
    throw UsageError("compose: IN '" + carrier.word + "': shifted by " +
                     signedHertz(carrier.shiftHz) + ", its 99 % occupied band (" +
                     analysis::hertzText(band.low) + " to " + analysis::hertzText(band.high) +
                     ") reaches " + analysis::hertzText(low < -clock / 2 ? low : high) +
                     ", outside the band of the clock (" + analysis::hertzText(-clock / 2) +
                     " to " + analysis::hertzText(clock / 2) + ")");
  }
}

}  // namespace

Composition composeCarriers(const std::vector<ArbContent>& contents,
                            const ComposeRequest& request) {
  if (contents.size() != request.carriers.size()) {
    throw std::logic_error("compose: one content per carrier");
  }
  const double clock = request.clockHz;
  Composition out;
  std::vector<prep::CarrierInput> inputs;
  for (std::size_t k = 0; k < contents.size(); ++k) {
    const ArbContent& content = contents[k];
    const CarrierArgument& carrier = request.carriers[k];
    if (content.multiSegment) {
      throw Failure{kExitRead, content.path +
                                   ": a multi-segment file cannot be a carrier; compose its "
                                   "source files instead"};
    }
    if (content.count == 0) throw Failure{kExitRead, content.path + ": holds no samples"};
    if (!std::isfinite(content.clockHz) || !(content.clockHz > 0)) {
      throw Failure{kExitRead, content.path + ": gives no clock above 0 Hz"};
    }
    prep::CarrierInput input;
    input.iq = samplesOf(content);
    if (std::all_of(input.iq.begin(), input.iq.end(), [](prep::Iq v) { return v == prep::Iq{}; })) {
      throw UsageError("compose: IN '" + carrier.word + "': " + content.path +
                       " is silent (every sample is 0): it has no power to scale");
    }
    checkShiftedBand(carrier, input.iq, content.clockHz, clock);
    input.clock = content.clockHz;
    input.shift = carrier.shiftHz;
    input.gainDb = carrier.gainDb;
    input.name = carrier.path;
    out.inputClocks.push_back(content.clockHz);
    out.inputLengths.push_back(content.count);
    inputs.push_back(std::move(input));
  }
  try {
    out.composite = prep::compose(std::move(inputs), clock);
  } catch (const std::invalid_argument& e) {
    throw UsageError(std::string("compose: ") + e.what());
  } catch (const std::length_error& e) {
    throw UsageError(std::string("compose: ") + e.what());
  }
  inputs.clear();
  out.paprDb = prep::paprDb(out.composite.iq);
  if (request.paprDb) {
    if (*request.paprDb > out.paprDb) {
      throw UsageError("compose: --papr: the target " + format("%.2f dB", *request.paprDb) +
                       " is above the composite's own PAPR, " + format("%.2f dB", out.paprDb));
    }
    try {
      out.cfr = prep::reducePapr(out.composite.iq, clock, *request.paprDb, out.composite.bands);
    } catch (const std::invalid_argument& e) {
      throw UsageError(std::string("compose: --papr: ") + e.what());
    }
    out.paprDb = out.cfr->paprAfterDb;
  }
  return out;
}

std::string compositionReport(const Composition& composition, const ComposeRequest& request) {
  std::string out;
  const prep::Composite& c = composition.composite;
  const std::string clock = analysis::hertzText(request.clockHz);
  for (std::size_t k = 0; k < c.carriers.size(); ++k) {
    const prep::CarrierReport& carrier = c.carriers[k];
    char label[32];
    std::snprintf(label, sizeof label, "%-13s", ("Carrier " + std::to_string(k + 1) + ":").c_str());
    out += label + carrier.name + ", shift " + signedHertz(carrier.shift) + ", power " +
           format("%.2f dB", carrier.powerDb) + ", " + analysis::countText(carrier.length) +
           " samples at " + clock + " (" + analysis::countText(composition.inputLengths[k]) +
           " at " + analysis::hertzText(composition.inputClocks[k]) + "), " +
           analysis::countText(carrier.repeats) + (carrier.repeats == 1 ? " period" : " periods") +
           "\n";
  }
  if (composition.cfr) {
    const prep::CfrReport& r = *composition.cfr;
    out += "CFR:         PAPR " + format("%.2f dB", r.paprBeforeDb) + " -> " +
           format("%.2f dB", r.paprAfterDb) + " (target " + format("%.2f dB", *request.paprDb) +
           ") in " + std::to_string(r.iterations) + (r.iterations == 1 ? " pass" : " passes") +
           "\n";
    out += "EVM:         " + format("%.2f %%", r.evmPercent) + " (" + format("%.2f dB", r.evmDb) +
           ")\n";
    out += "Out of band: " + format("%.2f dB", r.outOfBandBeforeDb) + " before, " +
           format("%.2f dB", r.outOfBandAfterDb) +
           " after (power outside the carriers' 99 % bands)\n";
  }
  out += "Composite:   " + analysis::countText(c.iq.size()) + " samples at " + clock + ", " +
         std::to_string(c.carriers.size()) + (c.carriers.size() == 1 ? " carrier" : " carriers") +
         "\n";
  out += "PAPR:        " + format("%.2f dB", composition.paprDb) + "\n";
  return out;
}

}  // namespace arbsuite::arbtool
