// iqsynth --csv: the synthesised samples as text, one "I,Q" line per sample,
// written under a temporary name and put in place at the end.
#include "csv_output.h"

#include <algorithm>
#include <cstdio>

#include "progress_report.h"
#include "text_output.h"

namespace arbsuite::iqsynth_host {

void writeCsv(const std::string& path, const Waveform& wave) {
  arbsuite::cli::TextOutput file;
  if (!file.open(path)) {
    throw OutputError("cannot create the CSV file " + path + ": " + file.errorText());
  }
  const std::size_t count = std::min(wave.i.size(), wave.q.size());
  arb::ProgressReport progress("iqsynth: writing " + path, count, "pairs");
  std::string lines;
  bool written = true;
  for (std::size_t k = 0; k < count && written; ++k) {
    char line[32];
    std::snprintf(line, sizeof line, "%d,%d\n", wave.i[k], wave.q[k]);
    lines += line;
    if (lines.size() >= 65536) {
      written = file.write(lines);
      lines.clear();
      progress.advance(k + 1);
    }
  }
  if (!written || !file.write(lines) || !file.commit()) {
    throw OutputError("cannot write the CSV file " + path + ": " + file.errorText());
  }
}

}  // namespace arbsuite::iqsynth_host
