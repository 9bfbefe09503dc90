// Library result codes of a synthesis run and of the packer, in words.
#pragma once

#include <string>

namespace iqsynth_host {

// Words for a negative result of runIqSynth.
std::string synthesisStatusWords(int status);
// Words for a non-zero result of PackuserIQdata.
std::string packerStatusWords(int status);

}  // namespace iqsynth_host
