// Builds segment configuration lines for the tests, item by item.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace seqtest {

struct ConfigBuilder {
  std::vector<std::string> segments;  // value of each SEGMENT_i item after the colon
  std::string count;                  // empty: the number of segments
  std::string levelMode = "RMS";
  std::string clockRateMode = "HIGHEST";
  std::string userClockRate = "0";
  std::string outputFile = "out.arb";
  std::string marker = "0";
  std::string firstRestart = "0";
  std::string everyRestart = "0";
  std::vector<std::string> omit;  // keys ("LEVEL MODE:" ...) to leave out

  // One segment item value: "name",clock,count,energy
  static std::string segment(const std::string& name, const std::string& clock,
                             const std::string& count, const std::string& energy) {
    return "\"" + name + "\"," + clock + "," + count + "," + energy;
  }

  std::string line() const {
    std::vector<std::pair<std::string, std::string>> items = {
        {"NUMBER SEGMENTS:", count.empty() ? std::to_string(segments.size()) : count}};
    for (std::size_t i = 0; i < segments.size(); ++i) {
      items.emplace_back("SEGMENT_" + std::to_string(i), ":" + segments[i]);
    }
    items.emplace_back("LEVEL MODE:", levelMode);
    items.emplace_back("CLOCKRATE MODE:", clockRateMode);
    items.emplace_back("USER CLOCKRATE:", userClockRate);
    items.emplace_back("OUTPUT FILE:", outputFile);
    items.emplace_back("SEGMENT MARKER:", marker);
    items.emplace_back("FIRST SEGMENT RESTART MARKER:", firstRestart);
    items.emplace_back("EVERY SEGMENT RESTART MARKER:", everyRestart);
    std::string text;
    for (const auto& [key, value] : items) {
      bool skip = false;
      for (const std::string& o : omit) skip = skip || o == key;
      if (!skip) text += "{" + key + value + "}";
    }
    return text;
  }
};

}  // namespace seqtest
