// seqlink result codes in words, by the call that returned them.
#include "status_words.h"

namespace arbtool {
namespace {

const char* cryptoWords(int status) {
  switch (status) {
    case 246:
      return "libwavecrypt.so cannot be loaded";
    case 247:
      return "a crypto function is missing from libwavecrypt.so";
    case 248:
      return "a crypto function failed (data key unwrap, key draw or cipher)";
    default:
      return nullptr;
  }
}

const char* sampleReaderWords(int status) {
  switch (status) {
    case 240:
      return "the file cannot be opened";
    case 241:
      return "the header is damaged: its CRC does not match, or its header block is "
             "truncated, too long or misplaced";
    case 242:
      return "out of memory, or a negative sample count";
    case 243:
      return "read error on the sample data";
    default:
      return cryptoWords(status);
  }
}

const char* words(Call call, int status) {
  if (status == 0) return "success";
  switch (call) {
    case Call::ReadInfo:
      switch (status) {
        case 4:
          return "the file cannot be opened";
        case 7:
          return "not a valid .arb file: bad version, header offsets or lengths that do "
                 "not fit the file, or a missing Clock or Value item";
        case 9:
          return "out of memory, or the text header is too long to show";
        case 15:
          return "a multi-segment file: it has no single clock";
        default:
          return nullptr;
      }
    case Call::ReadData:
      return sampleReaderWords(status);
    case Call::ReadConfig:
      switch (status) {
        case 1:
          return "the configuration file cannot be opened";
        case 2:
          return "a required item is missing or empty, a segment item is malformed, or a "
                 "sample count is negative or too large";
        case 3:
          return "the configuration file is empty";
        case 8:
          return "the output file name has 256 characters or more";
        default:
          return nullptr;
      }
    case Call::OutputSegments:
      switch (status) {
        case 2:
          return "a segment item is malformed, or the level or clock-rate mode is unknown";
        case 8:
          return "a segment name has 256 characters or more";
        default:
          return sampleReaderWords(status);
      }
    case Call::BuildFile:
      switch (status) {
        case 2:
          return "inconsistent segment data (counts that do not add up, or data too long "
                 "for a 32-bit file length)";
        case 8:
          return "a segment name is not terminated";
        case 240:
          return "the output file cannot be created or written";
        case 242:
          return "the text header does not fit the info block (too many segments), or "
                 "out of memory";
        default:
          return cryptoWords(status);
      }
  }
  return nullptr;
}

}  // namespace

std::string statusWords(Call call, int status) {
  const char* text = words(call, status);
  return text != nullptr ? text : "unknown status " + std::to_string(status);
}

}  // namespace arbtool
