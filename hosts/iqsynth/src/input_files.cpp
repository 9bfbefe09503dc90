// The constellation and taps files of iqsynth: read whole (regular files of bounded
// size only), parsed as numbers or complex points, and checked against the options.
#include <cerrno>
#include <charconv>
#include <cmath>
#include <sstream>

#include "options.h"
#include "regular_file.h"

namespace arbsuite::iqsynth_host {
namespace {

std::string readWholeFile(const std::string& path, const char* what) {
  // A regular file only (a FIFO or device would block or feed the read without
  // end), and no larger than any constellation or taps file needs to be.
  std::string text;
  const arb::ReadStatus status = arb::readRegularFile(path.c_str(), kMaxInputFileBytes, text);
  if (status == arb::ReadStatus::cannotOpen) {
    throw InputError("cannot open the " + std::string(what) + " file " + path);
  }
  if (status != arb::ReadStatus::ok) {
    throw InputError("the " + std::string(what) + " file " + path + " " +
                     arb::readStatusText(status, errno, kMaxInputFileBytes));
  }
  return text;
}

}  // namespace

std::vector<double> parseNumbers(const std::string& text, const std::string& origin) {
  std::vector<double> values;
  std::istringstream lines(text);
  std::string line;
  int lineNumber = 0;
  while (std::getline(lines, line)) {
    ++lineNumber;
    if (const auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    for (auto& c : line) {
      if (c == ',' || c == ';' || c == '\t' || c == '\r') c = ' ';
    }
    std::istringstream words(line);
    std::string word;
    while (words >> word) {
      double value = 0;
      const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
      if (error != std::errc() || end != word.data() + word.size() || !std::isfinite(value)) {
        throw InputError(origin + " line " + std::to_string(lineNumber) + ": '" + word +
                         "' is not a number");
      }
      values.push_back(value);
    }
  }
  return values;
}

std::vector<double> parsePoints(const std::string& text, const std::string& origin) {
  std::vector<double> points;
  std::istringstream lines(text);
  std::string line;
  int lineNumber = 0;
  while (std::getline(lines, line)) {
    ++lineNumber;
    std::size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    if (std::isalpha(static_cast<unsigned char>(line[first])) && points.empty()) continue;
    const auto values = parseNumbers(line, origin + " line " + std::to_string(lineNumber) + ":");
    if (values.size() != 2) {
      throw InputError(origin + " line " + std::to_string(lineNumber) +
                       ": expected two numbers, the real and the imaginary part");
    }
    points.insert(points.end(), values.begin(), values.end());
  }
  return points;
}

void loadInputFiles(Options& o) {
  if (!o.constellationFile.empty()) {
    o.constellation =
        parsePoints(readWholeFile(o.constellationFile, "constellation"), o.constellationFile);
    const std::size_t count = o.constellation.size() / 2;
    if (count < 2 || count > static_cast<std::size_t>(kMaxConstellationPoints) ||
        (count & (count - 1)) != 0) {
      throw InputError(o.constellationFile + ": " + std::to_string(count) +
                       " points; a constellation has 2, 4, 8, ... or 256 points");
    }
  }
  if (!o.tapsFile.empty()) {
    o.taps = parseNumbers(readWholeFile(o.tapsFile, "taps"), o.tapsFile);
    const std::size_t wanted =
        static_cast<std::size_t>(o.oversampling) * static_cast<std::size_t>(o.filterSpan);
    if (o.taps.size() != wanted) {
      throw InputError(o.tapsFile + ": " + std::to_string(o.taps.size()) + " taps; oversampling " +
                       std::to_string(o.oversampling) + " x span " + std::to_string(o.filterSpan) +
                       " needs " + std::to_string(wanted));
    }
    double sum = 0;
    for (const double tap : o.taps) sum += tap;
    if (std::fabs(sum) < 1e-12) {
      throw InputError(o.tapsFile + ": the taps sum to 0; the filter is normalised by their sum");
    }
  }
}

}  // namespace arbsuite::iqsynth_host
