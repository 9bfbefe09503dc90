// The packer's results in words: one table beside the codes (arb_pack.h), for the
// programs that report its failures.
#include "arb_pack.h"

namespace arbsuite {

std::string packStatusWords(int status) {
  switch (status) {
    case kPackOk:
      return "success";
    case kPackInputFailed:
      return "the sample file cannot be opened for reading";
    case kPackOutputFailed:
      return "the .arb file cannot be created or written";
    case 20:
      return "the sample file cannot be read";
    case 21:
    case 22:
    case 23:
    case kPackCryptoFailed:
      return "the key draw, the key wrap or the cipher failed";
    case kPackBadParameter:
      return "a header name index is out of range, or the samples are too many for the format";
    case kPackFormatFailed:
      return "a header name or the text header cannot be formatted";
    default:
      return "packer error " + std::to_string(status);
  }
}

}  // namespace arbsuite
