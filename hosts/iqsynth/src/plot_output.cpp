// Title, symbol rate and samples of the --plot sheet.
#include "plot_output.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "analysis_output.h"
#include "names.h"
#include "plot_sheet.h"
#include "stats_report.h"

namespace arbsuite::iqsynth_host {

void writePlotSheet(const Options& o, const Waveform& wave) {
  const std::size_t count = std::min(wave.i.size(), wave.q.size());
  std::vector<std::int16_t> iq(2 * count);
  for (std::size_t k = 0; k < count; ++k) {
    iq[2 * k] = wave.i[k];
    iq[2 * k + 1] = wave.q[k];
  }
  analysis::Waveform waveform;
  waveform.iq = iq;
  if (wave.sampleRate > 0) waveform.clockHz = wave.sampleRate;

  analysis::PlotRequest request;
  request.output = o.plotPath;
  request.kind = analysis::PlotKind::All;
  // The sheet names the file the waveform went to, else the plot itself.
  const std::string& named = !o.arbPath.empty()   ? o.arbPath
                             : !o.csvPath.empty() ? o.csvPath
                                                  : o.plotPath;
  request.title = "iqsynth: " + std::filesystem::path(named).filename().string();
  std::string run;
  if (o.mode == IQSYNTH_WORKING_MODE_DIGITAL) {
    request.symbolRateHz = o.symbolRate;
    request.eyeInSheet = true;
    run = std::string(nameOf(modulationNames(), o.modulation)) + ", " + std::to_string(o.symbols) +
          " symbols at " + analysis::hertzText(o.symbolRate) + " x " +
          std::to_string(o.oversampling) + ", " + nameOf(filterNames(), o.filterType);
  } else if (o.mode == IQSYNTH_WORKING_MODE_AWGN) {
    run = "noise";
  } else {
    run = std::to_string(o.carriers) + " carriers spaced " + analysis::hertzText(o.spacing);
  }
  request.subtitle = run + ": " + analysis::countText(count) + " samples at " +
                     analysis::hertzText(wave.sampleRate);
  try {
    analysis::writePlot(waveform, request);
  } catch (const analysis::OutputError& e) {
    throw OutputError(e.what());
  }
}

}  // namespace arbsuite::iqsynth_host
