// Library result codes of a synthesis run, in words.
#include "synthesis_statuses.h"

#include <cstdio>

#include "iqsynth.h"

namespace arbsuite::iqsynth_host {
namespace {
std::string hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}
}  // namespace

std::string synthesisStatusWords(int status) {
  if (status >= 0) return "success";
  const unsigned number = static_cast<unsigned>(-static_cast<long long>(status));
  switch (number) {
    case IQSYNTH_ERR_MEM_ALLOC:
      return "out of memory";
    case IQSYNTH_ERR_FILE_OPEN:
      return "the data list file cannot be opened";
    case IQSYNTH_ERR_FILE_FORMAT:
      return "the data list file does not start with HEX, hex, BIN or bin";
    case IQSYNTH_ERR_FILTER_TYPE:
      return "the shaping filter type does not exist";
    case IQSYNTH_ERR_MOD_TYPE:
      return "the modulation type is not supported";
    case IQSYNTH_ERR_DATA_SRC:
      return "the data source does not exist";
    case IQSYNTH_ERR_POWER_RAMP_MODE:
      return "unknown power ramping shape";
    case IQSYNTH_ERR_INVALID_ARGUMENT:
      return "an argument was rejected (invalid argument)";
    case IQSYNTH_ERR_UNEXPECTED:
      return "unexpected error inside the library";
    default:
      break;
  }
  if ((number & 0xFFFFF000u) == IQSYNTH_ERR_NOISE_BASE) {
    return "noise generation failed (noise stage code " + std::to_string(number & 0xFFFu) + ")";
  }
  if ((number & 0xFFFF0000u) == (IQSYNTH_ERR_CFG_VALUE & 0xFFFF0000u))
    return "configuration value rejected (" + hex(number) + ")";
  if ((number & 0xFFFF0000u) == (IQSYNTH_ERR_FILE_OPEN & 0xFFFF0000u))
    return "data file error (" + hex(number) + ")";
  return "error " + hex(number);
}

}  // namespace arbsuite::iqsynth_host
