// Word <-> value tables of the iqsynth command line: modulation, filter, coding,
// ramp shape and data source names, and the packer's header name indexes.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The tables hold the values of the synthesis library's enumerations by their names.
#include "iqsynth.h"

namespace arbsuite::iqsynth_host {

struct NamedValue {
  const char* name;
  int value;
  const char* description;
};

// Tables in the order --help lists them.
const std::vector<NamedValue>& modulationNames();
const std::vector<NamedValue>& filterNames();
const std::vector<NamedValue>& codingNames();
const std::vector<NamedValue>& rampShapeNames();
const std::vector<NamedValue>& modeNames();
const std::vector<int>& prbsOrders();

// Case-insensitive look-up; nullopt when the word is not in the table.
std::optional<int> lookUp(const std::vector<NamedValue>& table, std::string_view word);
// The table's words joined by ", " for error messages.
std::string listNames(const std::vector<NamedValue>& table);
// The name of a value, or "?" when the table does not hold it.
const char* nameOf(const std::vector<NamedValue>& table, int value);

// Indexes into the packer's fixed name tables for the .arb text header.
struct HeaderNames {
  unsigned dataSource;   // 0..7: PRBS7 PRBS9 PRBS11 PRBS15 PRBS16 PRBS20 PRBS21 UserData
  unsigned modulation;   // 0..17: 16QAM ... 4FSK
  unsigned filter;       // 0..3: none, Raised cosine, Root raised cosine, Gauss Filter
  bool modulationExact;  // false when no table entry names the modulation exactly
  bool filterExact;
};

const char* packerDataSourceName(unsigned index);
const char* packerModulationName(unsigned index);
const char* packerFilterName(unsigned index);

// Chooses the header names for a run. dataSrc and prbs as given to the library;
// modulation is the packed modulation type (only read in digital mode).
HeaderNames headerNamesFor(int mode, int modulation, int filterType, int dataSrc, int prbs);

}  // namespace arbsuite::iqsynth_host
