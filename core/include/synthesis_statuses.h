// Library result codes of a synthesis run, in words (the packer's are in
// arb_pack.h).
#pragma once

#include <string>

namespace arbsuite::iqsynth_host {

// Words for a negative result of runIqSynth.
std::string synthesisStatusWords(int status);

}  // namespace arbsuite::iqsynth_host
