// The result codes of PackuserIQdata (wavepack.h) in words, for the programs that
// pack through it and report its failures: one table beside the codes. Internal to
// the suite (not installed with wavepack.h).
#pragma once

#include <string>

namespace wavepack {

// "success", what failed for each WAVEPACK_ code and the codes the packer's steps
// return, else "packer error N".
std::string packerStatusWords(int status);

}  // namespace wavepack
