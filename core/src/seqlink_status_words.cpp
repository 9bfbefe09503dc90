// seqlink result codes in words, by the call that returned them.
#include "seqlink_status_words.h"

#include "seqlink.h"

namespace arbsuite {
namespace {

const char* cryptoWords(int status) {
  switch (status) {
    case SEQLINK_CRYPTO_LOAD_FAILED:
      return "libwavecrypt.so cannot be loaded";
    case SEQLINK_CRYPTO_MISSING_FUNCTION:
      return "a crypto function is missing from libwavecrypt.so";
    case SEQLINK_CRYPTO_CALL_FAILED:
      return "a crypto function failed (data key unwrap, key draw or cipher)";
    default:
      return nullptr;
  }
}

const char* sampleReaderWords(int status) {
  switch (status) {
    case SEQLINK_DATA_CANNOT_OPEN:
      return "the file cannot be opened (missing, unreadable or not a regular file)";
    case SEQLINK_HEADER_CRC_MISMATCH:
      return "the header is damaged: its CRC does not match, or its header block is "
             "truncated, too long or misplaced";
    case SEQLINK_DATA_NO_MEMORY:
      return "out of memory, or a negative sample count";
    case SEQLINK_DATA_READ_ERROR:
      return "read error on the sample data";
    default:
      return cryptoWords(status);
  }
}

const char* words(SeqlinkCall call, int status) {
  if (status == SEQLINK_OK) return "success";
  switch (call) {
    case SeqlinkCall::ReadInfo:
      switch (status) {
        case SEQLINK_FILE_CANNOT_OPEN:
          return "the file cannot be opened (missing, unreadable or not a regular file)";
        case SEQLINK_BAD_HEADER:
          return "not a valid .arb file: bad version, header offsets or lengths that do "
                 "not fit the file, or a missing Clock or Value item";
        case SEQLINK_NO_MEMORY:
          return "out of memory, or the text header is too long to show";
        case SEQLINK_MULTI_SEGMENT_REFUSED:
          return "a multi-segment file: it has no single clock";
        default:
          return nullptr;
      }
    case SeqlinkCall::ReadData:
      return sampleReaderWords(status);
    case SeqlinkCall::ReadConfig:
      switch (status) {
        case SEQLINK_CONFIG_CANNOT_OPEN:
          return "the configuration file cannot be opened (missing, unreadable or not a "
                 "regular file)";
        case SEQLINK_BAD_ITEM:
          return "a required item is missing or empty, a segment item is malformed, a "
                 "sample count is negative or too large, or the line is longer than any "
                 "multi-segment file can use";
        case SEQLINK_CONFIG_EMPTY:
          return "the configuration file is empty";
        case SEQLINK_NAME_TOO_LONG:
          return "the output file name has 256 characters or more";
        default:
          return nullptr;
      }
    case SeqlinkCall::OutputSegments:
      switch (status) {
        case SEQLINK_BAD_ITEM:
          return "a segment item is malformed, or the level or clock-rate mode is unknown";
        case SEQLINK_NAME_TOO_LONG:
          return "a segment name has 256 characters or more";
        default:
          return sampleReaderWords(status);
      }
    case SeqlinkCall::BuildFile:
      switch (status) {
        case SEQLINK_BAD_ITEM:
          return "inconsistent segment data (counts that do not add up, data too long for "
                 "a 32-bit file length, a clock or energy that is negative or not a number, "
                 "or a name holding a brace or a line break)";
        case SEQLINK_NAME_TOO_LONG:
          return "a segment name is not terminated";
        case SEQLINK_DATA_CANNOT_OPEN:
          return "the output file cannot be created or written (no permission, a folder or "
                 "socket in the way, or a write error)";
        case SEQLINK_DATA_NO_MEMORY:
          return "the text header does not fit the info block (too many segments), or "
                 "out of memory";
        default:
          return cryptoWords(status);
      }
  }
  return nullptr;
}

}  // namespace

std::string statusWords(SeqlinkCall call, int status) {
  const char* text = words(call, status);
  return text != nullptr ? text : "unknown status " + std::to_string(status);
}

}  // namespace arbsuite
