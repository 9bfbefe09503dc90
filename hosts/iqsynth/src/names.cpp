// Word <-> value tables of the iqsynth command line and the mapping of a
// configuration onto the packer's header name tables.
#include "names.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace arbsuite::iqsynth_host {

const std::vector<NamedValue>& modulationNames() {
  static const std::vector<NamedValue> table = {
      {"bpsk", IQSYNTH_MOD_BPSK, "binary PSK"},
      {"qpsk", IQSYNTH_MOD_QPSK, "quadrature PSK"},
      {"oqpsk", IQSYNTH_MOD_OQPSK, "offset QPSK (Q delayed by half a symbol)"},
      {"8psk", IQSYNTH_MOD_8PSK, "8-phase PSK"},
      {"pi4dqpsk", IQSYNTH_MOD_PI4_DQPSK, "pi/4 differential QPSK"},
      {"pi8d8psk", IQSYNTH_MOD_PI8_D8PSK, "pi/8 differential 8PSK"},
      {"edge8psk", IQSYNTH_MOD_EDGE_8PSK, "8PSK with 3pi/8 rotation per symbol (EDGE)"},
      {"16qam", IQSYNTH_MOD_QAM16, "16QAM"},
      {"32qam", IQSYNTH_MOD_QAM32, "32QAM cross"},
      {"64qam", IQSYNTH_MOD_QAM64, "64QAM"},
      {"128qam", IQSYNTH_MOD_QAM128, "128QAM cross"},
      {"256qam", IQSYNTH_MOD_QAM256, "256QAM"},
      {"fsk2", IQSYNTH_MOD_FSK2, "2-level continuous-phase FSK"},
      {"fsk4", IQSYNTH_MOD_FSK4, "4-level FSK"},
      {"fsk8", IQSYNTH_MOD_FSK8, "8-level FSK"},
      {"fsk16", IQSYNTH_MOD_FSK16, "16-level FSK"},
      {"ask", IQSYNTH_MOD_ASK, "on/off keying, scaled by --ask-depth"},
      {"user", IQSYNTH_MOD_FAMILY_USER, "user constellation from --constellation FILE"},
  };
  return table;
}

const std::vector<NamedValue>& filterNames() {
  static const std::vector<NamedValue> table = {
      {"rrc", IQSYNTH_FILTER_RRC, "root raised cosine, roll-off --alpha"},
      {"rc", IQSYNTH_FILTER_RC, "raised cosine, roll-off --alpha"},
      {"gauss", IQSYNTH_FILTER_GAUSSIAN, "Gaussian impulse response, --alpha is BT"},
      {"gauss-fsk", IQSYNTH_FILTER_GAUSSIAN_FSK, "Gaussian frequency pulse of GFSK, --alpha is BT"},
      {"gauss-linear", IQSYNTH_FILTER_GAUSSIAN_LINEARIZED,
       "linearised GMSK pulse (BT 0.3, 5 symbols)"},
      {"rect", IQSYNTH_FILTER_RECT, "rectangle of one symbol"},
      {"halfsine", IQSYNTH_FILTER_HALF_SINE, "half sine of one symbol"},
      {"user", IQSYNTH_FILTER_USER, "taps from --taps FILE (oversampling x span values)"},
  };
  return table;
}

const std::vector<NamedValue>& codingNames() {
  static const std::vector<NamedValue> table = {
      {"none", IQSYNTH_CODING_NONE, "symbols as they are"},
      {"diff", IQSYNTH_CODING_DIFF, "differential"},
      {"gray", IQSYNTH_CODING_GRAY, "Gray"},
      {"gray-diff", IQSYNTH_CODING_GRAY_DIFF, "Gray, then differential"},
      {"diff1", IQSYNTH_CODING_DIFF_FROM_ONE, "differential starting from one"},
  };
  return table;
}

const std::vector<NamedValue>& rampShapeNames() {
  static const std::vector<NamedValue> table = {
      {"linear", IQSYNTH_RAMP_LINEAR, "straight line"},
      {"cosine", IQSYNTH_RAMP_COSINE, "raised cosine"},
      {"step", IQSYNTH_RAMP_STEP, "jump at the start symbol"},
  };
  return table;
}

const std::vector<NamedValue>& modeNames() {
  static const std::vector<NamedValue> table = {
      {"digital", IQSYNTH_WORKING_MODE_DIGITAL, "digitally modulated signal"},
      {"noise", IQSYNTH_WORKING_MODE_AWGN, "band-limited Gaussian noise only"},
      {"mccw", IQSYNTH_WORKING_MODE_MCCW, "comb of unmodulated carriers"},
  };
  return table;
}

const std::vector<int>& prbsOrders() {
  static const std::vector<int> orders = {IQSYNTH_PRBS9,  IQSYNTH_PRBS11, IQSYNTH_PRBS15,
                                          IQSYNTH_PRBS16, IQSYNTH_PRBS20, IQSYNTH_PRBS21,
                                          IQSYNTH_PRBS23};
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
    {IQSYNTH_MOD_QAM16, 0, true},
    {IQSYNTH_MOD_QAM32, 1, true},
    {IQSYNTH_MOD_QAM64, 2, true},
    {IQSYNTH_MOD_QAM128, 3, true},
    {IQSYNTH_MOD_QAM256, 4, true},
    {IQSYNTH_MOD_ASK, 5, true},
    {IQSYNTH_MOD_BPSK, 10, true},
    {IQSYNTH_MOD_QPSK, 11, true},
    {IQSYNTH_MOD_OQPSK, 11, false},
    {IQSYNTH_MOD_PI4_DQPSK, 13, true},
    {IQSYNTH_MOD_8PSK, 14, true},
    {IQSYNTH_MOD_PI8_D8PSK, 14, false},
    {IQSYNTH_MOD_EDGE_8PSK, 14, false},
    {IQSYNTH_MOD_FSK2, 16, true},
    {IQSYNTH_MOD_FSK4, 17, true},
    {IQSYNTH_MOD_FSK8, 17, false},
    {IQSYNTH_MOD_FSK16, 17, false},
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
  if (mode != IQSYNTH_WORKING_MODE_DIGITAL) {
    // Noise and carrier combs have no modulation, data or shaping filter: the
    // first modulation entry and "none" stand in.
    names.filterExact = true;
    return names;
  }
  if (dataSrc == IQSYNTH_DATA_SRC_PRBS) {
    switch (prbs) {
      case IQSYNTH_PRBS9:
        names.dataSource = 1;
        break;
      case IQSYNTH_PRBS11:
        names.dataSource = 2;
        break;
      case IQSYNTH_PRBS15:
        names.dataSource = 3;
        break;
      case IQSYNTH_PRBS16:
        names.dataSource = 4;
        break;
      case IQSYNTH_PRBS20:
        names.dataSource = 5;
        break;
      case IQSYNTH_PRBS21:
        names.dataSource = 6;
        break;
      default:
        break;  // PRBS23 has no entry
    }
  }
  if ((modulation & IQSYNTH_MOD_FAMILY_MASK) == IQSYNTH_MOD_FAMILY_USER) {
    // A user constellation of 2^k points: the table entry of that size.
    static constexpr std::array<unsigned, 9> bySize = {0, 10, 11, 14, 0, 1, 2, 3, 4};
    const int k = modulation & IQSYNTH_MOD_BITS_MASK;
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
    case IQSYNTH_FILTER_RC:
      names.filter = 1;
      names.filterExact = true;
      break;
    case IQSYNTH_FILTER_RRC:
      names.filter = 2;
      names.filterExact = true;
      break;
    case IQSYNTH_FILTER_GAUSSIAN_LINEARIZED:
    case IQSYNTH_FILTER_GAUSSIAN:
    case IQSYNTH_FILTER_GAUSSIAN_FSK:
      names.filter = 3;
      names.filterExact = true;
      break;
    case IQSYNTH_FILTER_RECT:
      names.filter = 0;
      names.filterExact = true;
      break;  // a rectangle shapes nothing
    default:
      names.filter = 0;
      break;  // half sine, user taps
  }
  return names;
}

}  // namespace arbsuite::iqsynth_host
