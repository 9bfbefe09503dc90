// Output files against each other and against the input files (see output_checks.h).
#include "output_checks.h"

#include "output_file.h"

namespace arbsuite::iqsynth_host {

void checkOutputFiles(const Options& o) {
  if (!o.arbPath.empty() && !o.csvPath.empty() && arb::outputsClash(o.arbPath, o.csvPath)) {
    throw UsageError("-o " + o.arbPath + " and --csv " + o.csvPath +
                     " are the same file; give two files");
  }
  const std::pair<const char*, std::string> inputs[] = {
      {"--constellation", o.constellationFile},
      {"--taps", o.tapsFile},
      {"--data", o.dataSrc == IQSYNTH_DATA_SRC_FILE ? o.dataFile : std::string()}};
  for (const std::string* output : {&o.arbPath, &o.csvPath}) {
    if (output->empty()) continue;
    for (const auto& [option, input] : inputs) {
      if (!input.empty() && arb::outputOverwritesInput(*output, input)) {
        throw UsageError("the output " + *output + " is the " + option + " file " + input);
      }
    }
  }
}

}  // namespace arbsuite::iqsynth_host
