// Word <-> value tables of the iqsynth command line and the mapping of a
// configuration onto the packer's header name tables.
#include "names.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace iqsynth_host {

const std::vector<NamedValue>& modulationNames() {
  static const std::vector<NamedValue> table = {
      {"bpsk", 0x90001, "binary PSK"},
      {"qpsk", 0x90002, "quadrature PSK"},
      {"oqpsk", 0xB0002, "offset QPSK (Q delayed by half a symbol)"},
      {"8psk", 0x90003, "8-phase PSK"},
      {"pi4dqpsk", 0xA0002, "pi/4 differential QPSK"},
      {"pi8d8psk", 0xA0003, "pi/8 differential 8PSK"},
      {"edge8psk", 0xD0003, "8PSK with 3pi/8 rotation per symbol (EDGE)"},
      {"16qam", 0x00004, "16QAM"},
      {"32qam", 0x00005, "32QAM cross"},
      {"64qam", 0x00006, "64QAM"},
      {"128qam", 0x00007, "128QAM cross"},
      {"256qam", 0x00008, "256QAM"},
      {"fsk2", 0x30001, "2-level continuous-phase FSK"},
      {"fsk4", 0x30002, "4-level FSK"},
      {"fsk8", 0x30003, "8-level FSK"},
      {"fsk16", 0x30004, "16-level FSK"},
      {"ask", kModAsk, "on/off keying, scaled by --ask-depth"},
      {"user", kModUserFamily, "user constellation from --constellation FILE"},
  };
  return table;
}

const std::vector<NamedValue>& filterNames() {
  static const std::vector<NamedValue> table = {
      {"rrc", 7, "root raised cosine, roll-off --alpha"},
      {"rc", 6, "raised cosine, roll-off --alpha"},
      {"gauss", 3, "Gaussian impulse response, --alpha is BT"},
      {"gauss-fsk", 9, "Gaussian frequency pulse of GFSK, --alpha is BT"},
      {"gauss-linear", kFilterGaussianLinearized, "linearised GMSK pulse (BT 0.3, 5 symbols)"},
      {"rect", 5, "rectangle of one symbol"},
      {"halfsine", 10, "half sine of one symbol"},
      {"user", kFilterUser, "taps from --taps FILE (oversampling x span values)"},
  };
  return table;
}

const std::vector<NamedValue>& codingNames() {
  static const std::vector<NamedValue> table = {
      {"none", 1, "symbols as they are"},
      {"diff", 2, "differential"},
      {"gray", 5, "Gray"},
      {"gray-diff", 4, "Gray, then differential"},
      {"diff1", 6, "differential starting from one"},
  };
  return table;
}

const std::vector<NamedValue>& rampShapeNames() {
  static const std::vector<NamedValue> table = {
      {"linear", 1, "straight line"},
      {"cosine", 2, "raised cosine"},
      {"step", 3, "jump at the start symbol"},
  };
  return table;
}

const std::vector<NamedValue>& modeNames() {
  static const std::vector<NamedValue> table = {
      {"digital", kModeDigital, "digitally modulated signal"},
      {"noise", kModeNoise, "band-limited Gaussian noise only"},
      {"mccw", kModeMultiCarrier, "comb of unmodulated carriers"},
  };
  return table;
}

const std::vector<int>& prbsOrders() {
  static const std::vector<int> orders = {9, 11, 15, 16, 20, 21, 23};
  return orders;
}

namespace {
bool equalNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}
}  // namespace

std::optional<int> lookUp(const std::vector<NamedValue>& table, std::string_view word) {
  for (const auto& entry : table) {
    if (equalNoCase(entry.name, word)) return entry.value;
  }
  return std::nullopt;
}

std::string listNames(const std::vector<NamedValue>& table) {
  std::string text;
  for (const auto& entry : table) {
    if (!text.empty()) text += ", ";
    text += entry.name;
  }
  return text;
}

const char* nameOf(const std::vector<NamedValue>& table, int value) {
  for (const auto& entry : table) {
    if (entry.value == value) return entry.name;
  }
  return "?";
}

namespace {
constexpr std::array<const char*, 8> kPackerDataSources = {
    "PRBS7", "PRBS9", "PRBS11", "PRBS15", "PRBS16", "PRBS20", "PRBS21", "UserData"};
constexpr std::array<const char*, 18> kPackerModulations = {
    "16QAM", "32QAM", "64QAM", "128QAM",   "256QAM",    "2ASK", "4ASK", "8ASK", "16ASK",
    "32ASK", "BPSK",  "QPSK",  "Pi/4QPSK", "Pi/4DQPSK", "8PSK", "MSK",  "2FSK", "4FSK"};
constexpr std::array<const char*, 4> kPackerFilters = {"none", "Raised cosine",
                                                       "Root raised cosine", "Gauss Filter"};
constexpr unsigned kUserData = 7;

struct ModulationEntry {
  int modulation;
  unsigned index;
  bool exact;
};
// Modulations the packer's table has no entry for take the entry of the
// nearest relative (same constellation, or the largest FSK entry).
constexpr std::array<ModulationEntry, 17> kModulationEntries = {{
    {0x00004, 0, true},
    {0x00005, 1, true},
    {0x00006, 2, true},
    {0x00007, 3, true},
    {0x00008, 4, true},
    {kModAsk, 5, true},
    {0x90001, 10, true},
    {0x90002, 11, true},
    {0xB0002, 11, false},
    {0xA0002, 13, true},
    {0x90003, 14, true},
    {0xA0003, 14, false},
    {0xD0003, 14, false},
    {0x30001, 16, true},
    {0x30002, 17, true},
    {0x30003, 17, false},
    {0x30004, 17, false},
}};
}  // namespace

const char* packerDataSourceName(unsigned index) {
  return index < kPackerDataSources.size() ? kPackerDataSources[index] : "?";
}
const char* packerModulationName(unsigned index) {
  return index < kPackerModulations.size() ? kPackerModulations[index] : "?";
}
const char* packerFilterName(unsigned index) {
  return index < kPackerFilters.size() ? kPackerFilters[index] : "?";
}

HeaderNames headerNamesFor(int mode, int modulation, int filterType, int dataSrc, int prbs) {
  HeaderNames names{kUserData, 0, 0, false, false};
  if (mode != kModeDigital) {
    // Noise and carrier combs have no modulation, data or shaping filter: the
    // first modulation entry and "none" stand in.
    names.filterExact = true;
    return names;
  }
  if (dataSrc == kDataPrbs) {
    switch (prbs) {
      case 9:
        names.dataSource = 1;
        break;
      case 11:
        names.dataSource = 2;
        break;
      case 15:
        names.dataSource = 3;
        break;
      case 16:
        names.dataSource = 4;
        break;
      case 20:
        names.dataSource = 5;
        break;
      case 21:
        names.dataSource = 6;
        break;
      default:
        break;  // PRBS23 has no entry
    }
  }
  if ((modulation & 0xFFFF0000) == kModUserFamily) {
    // A user constellation of 2^k points: the table entry of that size.
    static constexpr std::array<unsigned, 9> bySize = {0, 10, 11, 14, 0, 1, 2, 3, 4};
    const int k = modulation & 0xFFFF;
    names.modulation = (k >= 1 && k <= 8) ? bySize[static_cast<std::size_t>(k)] : 0;
  } else {
    for (const auto& entry : kModulationEntries) {
      if (entry.modulation == modulation) {
        names.modulation = entry.index;
        names.modulationExact = entry.exact;
      }
    }
  }
  switch (filterType) {
    case 6:
      names.filter = 1;
      names.filterExact = true;
      break;
    case 7:
      names.filter = 2;
      names.filterExact = true;
      break;
    case 2:
    case 3:
    case 9:
      names.filter = 3;
      names.filterExact = true;
      break;
    case 5:
      names.filter = 0;
      names.filterExact = true;
      break;  // a rectangle shapes nothing
    default:
      names.filter = 0;
      break;  // half sine, user taps
  }
  return names;
}

}  // namespace iqsynth_host
