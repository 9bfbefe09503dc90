// The part of wavepack's --help that follows the option list: formats, units,
// reading rules and examples.
#pragma once

namespace arbsuite::wavepack {

extern const char* const kHelpText;

}  // namespace arbsuite::wavepack
