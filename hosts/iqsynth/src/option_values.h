// The readers of the iqsynth options' values: each checks one option's text and
// sets what it gives, throwing CLI::ValidationError with the reason.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "names.h"
#include "options.h"

namespace arbsuite::iqsynth_host {

// Reader of a word of one of the name tables.
struct Named {
  const std::vector<NamedValue>* table;
  int operator()(const std::string& text) const {
    const auto value = lookUp(*table, text);
    if (!value) throw CLI::ValidationError("'" + text + "' is not one of " + listNames(*table));
    return *value;
  }
  std::string text(int value) const { return nameOf(*table, value); }
};

// --data: zeros, ones, hex:DIGITS, bin:BITS, file:PATH or prbsN.
void setDataSource(Options& o, const std::string& text);

// --ramp: SYMBOL:DB rows with rising start symbols.
std::vector<RampRow> readRamp(const std::string& text);

// --switches: a bit string such as 1101 or a list such as 1,1,0,1.
std::vector<char> readSwitches(const std::string& text);

// --phases: a law's name or radians, one for all carriers or one per carrier.
void setPhases(Options& o, const std::string& text);

}  // namespace arbsuite::iqsynth_host
