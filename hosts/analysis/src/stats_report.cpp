// JSON and text forms of the stats figures.
#include "stats_report.h"

#include <cmath>
#include <cstdio>

#include "loop_figures.h"

namespace arbsuite::analysis {
namespace {

nlohmann::ordered_json valueOrNull(const std::optional<double>& value) {
  return value && std::isfinite(*value) ? nlohmann::ordered_json(*value)
                                        : nlohmann::ordered_json(nullptr);
}

nlohmann::ordered_json figures(const Stats& s) {
  nlohmann::ordered_json ccdf = nlohmann::ordered_json::object();
  for (std::size_t k = 0; k < kCcdfNames.size(); ++k)
    ccdf[kCcdfNames[k]] = valueOrNull(s.ccdfDb[k]);
  nlohmann::ordered_json out = nlohmann::ordered_json::object();
  out["samples"] = s.samples;
  out["clock_hz"] = valueOrNull(s.clockHz);
  out["duration_s"] = valueOrNull(s.durationS);
  out["peak"] = s.peak;
  out["peak_dbfs"] = valueOrNull(s.peakDbfs);
  out["rms_dbfs"] = valueOrNull(s.rmsDbfs);
  out["papr_db"] = valueOrNull(s.paprDb);
  out["ccdf_db"] = ccdf;
  out["dc"] = nlohmann::ordered_json::array({valueOrNull(s.dcI), valueOrNull(s.dcQ)});
  out["clipped"] = s.clipped;
  out["obw_hz"] = valueOrNull(s.obwHz);
  out["seam_lsb"] = valueOrNull(s.seamLsb);
  out["seam_ratio"] = valueOrNull(s.seamRatio);
  out["loop_regrowth_db"] = valueOrNull(s.loopRegrowthDb);
  return out;
}

std::string format(const char* pattern, double value) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

// "812.0 LSB, 35.20 x the 99th-percentile step" of a seam or boundary.
std::string seamText(double jumpLsb, double ratio) {
  return format("%.1f LSB, ", jumpLsb) +
         (std::isfinite(ratio) ? format("%.2f x the 99th-percentile step", ratio)
                               : std::string("infinite x the 99th-percentile step (0)"));
}

std::string decibels(const std::optional<double>& value, const char* unit) {
  return value ? format("%.2f ", *value) + unit : std::string("undefined (silent)");
}

void appendFigures(std::string& out, const Stats& s, const std::string& indent) {
  const auto line = [&](const char* label, const std::string& value) {
    char padded[32];
    std::snprintf(padded, sizeof padded, "%-12s", label);
    out += indent + padded + value + "\n";
  };
  line("Samples:", std::to_string(s.samples));
  line("Clock:", s.clockHz ? format("%.17g Hz", *s.clockHz) : "per segment (different clocks)");
  line("Duration:", s.durationS ? format("%.9g s", *s.durationS) : "unknown");
  line("Peak:",
       format("%.1f LSB", s.peak) + (s.peakDbfs ? format(" (%.2f dBFS)", *s.peakDbfs) : ""));
  line("RMS:", decibels(s.rmsDbfs, "dBFS"));
  line("PAPR:", decibels(s.paprDb, "dB"));
  std::string ccdf;
  for (std::size_t k = 0; k < kCcdfNames.size(); ++k) {
    if (k > 0) ccdf += ", ";
    ccdf += std::string(kCcdfNames[k]) +
            " %: " + (s.ccdfDb[k] ? format("%.2f dB", *s.ccdfDb[k]) : std::string("-"));
  }
  line("CCDF:", ccdf + " above mean power");
  line("DC offset:", s.dcI ? format("I %.2f LSB, ", *s.dcI) + format("Q %.2f LSB", *s.dcQ)
                           : std::string("undefined (no samples)"));
  line("Clipped:", std::to_string(s.clipped) + " samples at a rail (-8192 or +8191)");
  line("OBW 99 %:", s.obwHz ? hertzText(*s.obwHz)
                            : std::string(s.clockHz ? "undefined (too short or silent)"
                                                    : "per segment (different clocks)"));
  line("Seam:",
       s.seamLsb ? seamText(*s.seamLsb, *s.seamRatio) : std::string("undefined (no samples)"));
  line("Regrowth:",
       s.loopRegrowthDb
           ? format("%.2f dB outside the 99 %% band when looped", *s.loopRegrowthDb)
           : std::string(s.samples == 0 ? "undefined (no samples)"
                                        : "not measured (more than " +
                                              countText(kLoopRegrowthLimit) + " samples)"));
}

}  // namespace

nlohmann::ordered_json statsJson(const StatsReport& report) {
  nlohmann::ordered_json out = figures(report.whole);
  out["segments"] = nlohmann::ordered_json::array();
  for (const SegmentStats& segment : report.segments) {
    nlohmann::ordered_json entry = figures(segment.stats);
    entry["name"] = segment.name;
    out["segments"].push_back(std::move(entry));
  }
  out["boundaries"] = nlohmann::ordered_json::array();
  for (const BoundaryStats& b : report.boundaries) {
    nlohmann::ordered_json entry = nlohmann::ordered_json::object();
    entry["from"] = b.from;
    entry["to"] = b.from + 1;
    entry["seam_lsb"] = b.seamLsb;
    entry["seam_ratio"] = valueOrNull(b.seamRatio);
    out["boundaries"].push_back(std::move(entry));
  }
  return out;
}

std::string statsText(const StatsReport& report, const std::string& file) {
  std::string out = "File:       " + file + "\n";
  appendFigures(out, report.whole, "");
  for (std::size_t k = 0; k < report.segments.size(); ++k) {
    out += "Segment " + std::to_string(k) + ": " + report.segments[k].name + "\n";
    appendFigures(out, report.segments[k].stats, "  ");
  }
  for (const BoundaryStats& b : report.boundaries) {
    out += "Boundary " + std::to_string(b.from) + " -> " + std::to_string(b.from + 1) + ": " +
           seamText(b.seamLsb, b.seamRatio) + "\n";
  }
  return out;
}

std::string countText(std::size_t count) {
  const std::string digits = std::to_string(count);
  std::string grouped;
  for (std::size_t k = 0; k < digits.size(); ++k) {
    if (k > 0 && (digits.size() - k) % 3 == 0) grouped += ',';
    grouped += digits[k];
  }
  return grouped;
}

std::string hertzText(double hertz) {
  const double size = std::fabs(hertz);
  if (size >= 1e9) return format("%.6g GHz", hertz / 1e9);
  if (size >= 1e6) return format("%.6g MHz", hertz / 1e6);
  if (size >= 1e3) return format("%.6g kHz", hertz / 1e3);
  return format("%.6g Hz", hertz);
}

}  // namespace arbsuite::analysis
