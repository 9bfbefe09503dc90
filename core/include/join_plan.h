// The one-line segment configuration that seqlink's multi-segment calls read:
// writing it from a list of segments, and the checks that keep every name and
// value readable back exactly as written.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace arbsuite {

struct ConfigError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The name seqlink reads as a segment of silence.
inline constexpr const char* kBlankName = "Blank";
// Names and the output path must fit a 256-byte slot with their terminator.
inline constexpr std::size_t kMaxNameLength = 255;

struct PlannedSegment {
  std::string name;   // path of a single-waveform .arb file, or "Blank"
  double clock = 0;   // Hz
  int samples = 0;    // IQ pairs
  double energy = 0;  // sum of (v / 8192)^2 over the segment's values
};

struct JoinPlan {
  std::vector<PlannedSegment> segments;
  std::string levelMode = "UNCHANGED";  // RMS or UNCHANGED
  std::string clockMode = "UNCHANGED";  // HIGHEST, USER or UNCHANGED
  double userClock = 0;                 // Hz, used by clock mode USER
  std::string output;                   // path of the multi-segment file
};

// The configuration line (with its line feed). Throws ConfigError when a name
// could not be read back as written (quotes, commas, braces, line breaks, an item
// key inside a name, 256 characters or more, or the word Blank used as a file).
std::string formatConfigLine(const JoinPlan& plan);

// A segment word of the command line: "blank:COUNT" or "blank:COUNT@CLOCK"
// (case-insensitive "blank"; CLOCK with the units of every frequency option, 5MHz,
// 2.5k, 5e6). nullopt when the word is not a blank segment. Throws ConfigError for a
// malformed count or clock, or a clock the instrument does not play.
struct BlankSegment {
  int samples;
  std::optional<double> clock;
};
std::optional<BlankSegment> parseBlankSegment(const std::string& word);

// Mode words of the command line (rms, unchanged; highest, user, unchanged) in
// the configuration's spelling. Throw ConfigError for other words, with a
// message that leaves naming the option to the caller.
std::string levelModeWord(const std::string& word);
std::string clockModeWord(const std::string& word);

// Default configuration path for an output: "joined.arb" -> "joined-segments.txt".
std::string defaultConfigPath(const std::string& output);

}  // namespace arbsuite
