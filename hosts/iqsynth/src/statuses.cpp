// Library result codes of a synthesis run and of the packer, in words.
#include "statuses.h"

#include <cstdio>

namespace iqsynth_host {
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
    case 0x10001:
      return "out of memory";
    case 0x20001:
      return "the data list file cannot be opened";
    case 0x20002:
      return "the data list file does not start with HEX, hex, BIN or bin";
    case 0x40001:
      return "the shaping filter type does not exist";
    case 0x40002:
      return "the modulation type is not supported";
    case 0x40003:
      return "the data source does not exist";
    case 0x40004:
      return "unknown power ramping shape";
    case 16:
      return "an argument was rejected (invalid argument)";
    case 0xA0001:
      return "unexpected error inside the library";
    default:
      break;
  }
  if ((number & 0xFFFFF000u) == 0xF000u) {
    return "noise generation failed (noise stage code " + std::to_string(number & 0xFFFu) + ")";
  }
  if ((number & 0xFFFF0000u) == 0x40000u)
    return "configuration value rejected (" + hex(number) + ")";
  if ((number & 0xFFFF0000u) == 0x20000u) return "data file error (" + hex(number) + ")";
  return "error " + hex(number);
}

std::string packerStatusWords(int status) {
  switch (status) {
    case 0:
      return "success";
    case 17:
      return "the sample file cannot be opened for reading";
    case 19:
      return "the .arb file cannot be created or written";
    case 20:
      return "the sample file cannot be read";
    case 21:
    case 22:
    case 23:
    case 26:
      return "the key draw, the key wrap or the cipher failed";
    case 24:
      return "a header name index is out of range, or the samples are too many for the format";
    case 25:
      return "a header name or the text header cannot be formatted";
    default:
      return "packer error " + std::to_string(status);
  }
}

}  // namespace iqsynth_host
