// The block writer of a run's standard-output lines (see iqSynthLogStdout.h).
#include "iqSynthLogStdout.h"

#include <locale>

namespace arbsuite::iqsynth {

iqSynthStdoutLines::iqSynthStdoutLines() {
  const std::ios_base::fmtflags defaults = std::ios_base::dec | std::ios_base::skipws;
  const bool defaultFormat = std::cout.flags() == defaults && std::cout.precision() == 6 &&
                             std::cout.width() == 0 && std::cout.getloc() == std::locale::classic();
  if (defaultFormat) {
    block_ = std::make_unique<char[]>(kBlockBytes);
  }
}

void iqSynthStdoutLines::flush() {
  if (block_ && used_ > 0) {
    std::cout.write(block_.get(), static_cast<std::streamsize>(used_));
    used_ = 0;
  }
}

}  // namespace arbsuite::iqsynth
