// The packer's result codes in words (see wavepack_status.h).
#include "wavepack.h"
#include "wavepack_status.h"

namespace wavepack {

std::string packerStatusWords(int status) {
  switch (status) {
    case WAVEPACK_OK:
      return "success";
    case WAVEPACK_INPUT_FAILED:
      return "the sample file cannot be opened for reading";
    case WAVEPACK_OUTPUT_FAILED:
      return "the .arb file cannot be created or written";
    case 20:
      return "the sample file cannot be read";
    case 21:
    case 22:
    case 23:
    case WAVEPACK_CRYPTO_FAILED:
      return "the key draw, the key wrap or the cipher failed";
    case WAVEPACK_BAD_PARAMETER:
      return "a header name index is out of range, or the samples are too many for the format";
    case WAVEPACK_FORMAT_FAILED:
      return "a header name or the text header cannot be formatted";
    default:
      return "packer error " + std::to_string(status);
  }
}

}  // namespace wavepack
