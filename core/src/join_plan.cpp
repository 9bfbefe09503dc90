// Writer of the one-line segment configuration read by seqlink.
#include "join_plan.h"

#include <array>
#include <cctype>
#include <charconv>
#include <cmath>

#include "arb_format.h"
#include "frequency_text.h"

namespace arbsuite {
namespace {

constexpr std::array<const char*, 9> kItemKeys = {"NUMBER SEGMENTS:",
                                                  "SEGMENT_",
                                                  "LEVEL MODE:",
                                                  "CLOCKRATE MODE:",
                                                  "USER CLOCKRATE:",
                                                  "OUTPUT FILE:",
                                                  "SEGMENT MARKER:",
                                                  "FIRST SEGMENT RESTART MARKER:",
                                                  "EVERY SEGMENT RESTART MARKER:"};
// The marker items are required but have no effect; this host writes 0.
constexpr const char* kMarkerValue = "0";

// Shortest text that reads back as exactly the same double.
std::string number(double value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

void checkName(const std::string& name, const char* what, bool segment) {
  if (name.empty()) throw ConfigError(std::string(what) + " is empty");
  if (name.size() > kMaxNameLength) {
    throw ConfigError(std::string(what) + " '" + name + "' has " + std::to_string(name.size()) +
                      " characters; at most 255 fit");
  }
  for (const char c : name) {
    const bool forbidden =
        c == '{' || c == '}' || c == '\n' || c == '\r' || (segment && (c == '"' || c == ','));
    if (forbidden) {
      throw ConfigError(std::string(what) + " '" + name +
                        "' contains a character the configuration cannot hold "
                        "(braces, line breaks" +
                        (segment ? ", quotes or commas)" : ")"));
    }
  }
  for (const char* key : kItemKeys) {
    if (name.find(key) != std::string::npos) {
      throw ConfigError(std::string(what) + " '" + name + "' contains the item key '" + key +
                        "'; rename the file");
    }
  }
}

std::string lower(std::string text) {
  for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

std::string formatConfigLine(const JoinPlan& plan) {
  if (plan.levelMode != "RMS" && plan.levelMode != "UNCHANGED") {
    throw ConfigError("unknown level mode " + plan.levelMode);
  }
  if (plan.clockMode != "HIGHEST" && plan.clockMode != "USER" && plan.clockMode != "UNCHANGED") {
    throw ConfigError("unknown clock mode " + plan.clockMode);
  }
  if (!std::isfinite(plan.userClock) || plan.userClock < 0) {
    throw ConfigError("the user clock must be a finite number of hertz, 0 or more");
  }
  checkName(plan.output, "the output path", false);
  std::string line = "{NUMBER SEGMENTS:" + std::to_string(plan.segments.size()) + "}";
  for (std::size_t i = 0; i < plan.segments.size(); ++i) {
    const PlannedSegment& s = plan.segments[i];
    checkName(s.name, "the segment name", true);
    if (s.samples < 0) throw ConfigError("segment " + s.name + " has a negative sample count");
    if (!std::isfinite(s.clock) || !std::isfinite(s.energy) || s.clock < 0 || s.energy < 0) {
      throw ConfigError("segment " + s.name + " has a clock or energy that is not a finite number");
    }
    line += "{SEGMENT_" + std::to_string(i) + ":\"" + s.name + "\"," + number(s.clock) + "," +
            std::to_string(s.samples) + "," + number(s.energy) + "}";
  }
  line += "{LEVEL MODE:" + plan.levelMode + "}";
  line += "{CLOCKRATE MODE:" + plan.clockMode + "}";
  line += "{USER CLOCKRATE:" + number(plan.userClock) + "}";
  line += "{OUTPUT FILE:" + plan.output + "}";
  line += std::string("{SEGMENT MARKER:") + kMarkerValue + "}";
  line += std::string("{FIRST SEGMENT RESTART MARKER:") + kMarkerValue + "}";
  line += std::string("{EVERY SEGMENT RESTART MARKER:") + kMarkerValue + "}";

  // Every item must read back as written: the reader takes the first
  // occurrence of a key, and "SEGMENT_1" is also the start of "SEGMENT_10".
  for (std::size_t i = 0; i < plan.segments.size(); ++i) {
    const auto value = arb::textAfterKey(line, "SEGMENT_" + std::to_string(i));
    if (!value || value->rfind(":\"" + plan.segments[i].name + "\",", 0) != 0) {
      throw ConfigError("segment " + std::to_string(i) + " (" + plan.segments[i].name +
                        ") would not read back from the configuration");
    }
  }
  if (arb::textAfterKey(line, "OUTPUT FILE:") != plan.output) {
    throw ConfigError("the output path " + plan.output +
                      " would not read back from the configuration");
  }
  return line + "\n";
}

std::optional<BlankSegment> parseBlankSegment(const std::string& word) {
  const auto colon = word.find(':');
  if (colon == std::string::npos || lower(word.substr(0, colon)) != "blank") return std::nullopt;
  std::string count = word.substr(colon + 1);
  std::optional<double> clock;
  if (const auto at = count.find('@'); at != std::string::npos) {
    const std::string clockText = count.substr(at + 1);
    count.erase(at);
    // Units as every frequency option takes them (5MHz, 2.5k, 5e6).
    const std::optional<double> read = readFrequency(clockText);
    if (!read || !std::isfinite(*read)) {
      throw ConfigError("blank segment '" + word + "': '" + clockText +
                        "' is not a clock; write e.g. 5e6, 5MHz or 2.5k");
    }
    const double value = *read;
    if (!arb::isPlayableClock(value)) {
      throw ConfigError("blank segment '" + word + "': " + clockText +
                        " is not a clock the instrument plays (" + arb::kPlayableClockText + ")");
    }
    clock = value;
  }
  int samples = 0;
  const auto [end, error] = std::from_chars(count.data(), count.data() + count.size(), samples);
  if (count.empty() || error != std::errc() || end != count.data() + count.size() || samples < 1) {
    throw ConfigError("blank segment '" + word + "': '" + count +
                      "' is not a sample count of 1 or more");
  }
  return BlankSegment{samples, clock};
}

std::string levelModeWord(const std::string& word) {
  const std::string w = lower(word);
  if (w == "rms") return "RMS";
  if (w == "unchanged") return "UNCHANGED";
  throw ConfigError("'" + word + "' is not rms or unchanged");
}

std::string clockModeWord(const std::string& word) {
  const std::string w = lower(word);
  if (w == "highest") return "HIGHEST";
  if (w == "user") return "USER";
  if (w == "unchanged") return "UNCHANGED";
  throw ConfigError("'" + word + "' is not highest, user or unchanged");
}

std::string defaultConfigPath(const std::string& output) {
  std::string base = output;
  if (base.size() > 4 && lower(base.substr(base.size() - 4)) == ".arb") base.erase(base.size() - 4);
  return base + "-segments.txt";
}

}  // namespace arbsuite
