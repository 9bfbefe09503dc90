// The digital modulation pipeline runCDMModulation, from data source to shaped I/Q tracks.
#pragma once

namespace arbsuite::iqsynth {

class iqSynthCfg;
struct SampleTracks;
class DataWindowShaper;

// Runs data source, coding, mapping (or the FSK / differential modulators) and pulse shaping
// with the settings of cfg, leaving tracks.i and tracks.q (and tracks.frequency for FSK, else
// emptied) at (sequenceLength + filterLength) * overSamplingRate samples with the lead-in in
// front. Reads the data, coding, modulation and filter settings of cfg; writes modulationFamily,
// sampleOffset, sampleLength (= sequenceLength * overSamplingRate), symbolMap, filterTap and
// filterCoef. Returns 0; failures are thrown (a Config IqSynthError IQSYNTH_ERR_MOD_TYPE for an
// unknown modulation, IQSYNTH_ERR_CFG_VALUE for unusable lengths, before any track is sized).
// With window given, the mapping chains may instead set window up to shape the data window from
// the symbols (shapeDataWindow) and leave tracks.i and tracks.q as they were: window->count() is
// then above 0.
int runCDMModulation(iqSynthCfg& cfg, const SampleTracks& tracks,
                     DataWindowShaper* window = nullptr);

}  // namespace arbsuite::iqsynth
