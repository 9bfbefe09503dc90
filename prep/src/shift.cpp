// Frequency shifts with an exactly reduced phase (see waveform_prep.h): the shift and
// the clock are taken to the microhertz, and the phase of sample n is the whole
// number (n f mod clock) over the clock, carried from sample to sample in integers,
// so that no rounding accumulates over any length.
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <string>

#include "hertz_text.h"
#include "waveform_prep.h"

namespace arbsuite::prep {

namespace {}  // namespace

void shift(std::span<Iq> x, double clock, double freq) {
  if (!std::isfinite(clock) || !(clock > 0) || clock >= 1e12)
    throw std::invalid_argument("The clock must be a positive number of hertz, not " +
                                std::to_string(clock));
  if (!std::isfinite(freq) || std::fabs(freq) > clock / 2)
    throw std::invalid_argument("The shift must be a finite frequency within half the clock (" +
                                hertz(clock / 2) + "), not " + std::to_string(freq));
  if (freq == 0) return;
  const auto period = static_cast<std::int64_t>(std::llround(clock * 1e6));
  std::int64_t step = std::llround(freq * 1e6) % period;
  if (step < 0) step += period;
  const double perUnit = 2 * std::numbers::pi / static_cast<double>(period);
  std::int64_t phase = 0;  // n f mod clock, in microhertz
  for (Iq& v : x) {
    // The phase in (-pi, pi]: cosine and sine of small arguments are the most exact.
    const std::int64_t centred = phase > period / 2 ? phase - period : phase;
    const double angle = static_cast<double>(centred) * perUnit;
    v *= Iq(std::cos(angle), std::sin(angle));
    phase += step;
    if (phase >= period) phase -= period;
  }
}

ShiftCheck checkShift(std::uint64_t n, double clock, double freq) {
  ShiftCheck check;
  check.cycles = freq * static_cast<double>(n) / clock;
  const double nearest = std::round(check.cycles);
  check.seamless = std::fabs(check.cycles - nearest) <= 1e-9 * std::max(1.0, std::fabs(nearest));
  const double cycle = clock / static_cast<double>(n);
  check.below = check.seamless ? freq : std::floor(check.cycles) * cycle;
  check.above = check.seamless ? freq : std::ceil(check.cycles) * cycle;
  return check;
}

std::optional<std::string> shiftWarning(std::uint64_t n, double clock, double freq) {
  const ShiftCheck check = checkShift(n, clock, freq);
  if (check.seamless) return std::nullopt;
  char cycles[64];
  std::snprintf(cycles, sizeof cycles, "%.6g", check.cycles);
  return "a shift of " + hertz(freq) + " turns the " + std::to_string(n) + "-sample period by " +
         cycles + " cycles, not a whole number: the loop has a phase jump at its seam; " +
         hertz(check.below) + " and " + hertz(check.above) + " are the nearest seamless shifts";
}

}  // namespace arbsuite::prep
