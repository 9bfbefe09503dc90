// The digital modulation pipeline runCDMModulation, from data source to shaped I/Q tracks.
#pragma once

namespace iqsynth {

// Runs data source, coding, mapping (or the FSK / differential modulators) and pulse shaping
// on gIqSynthCfg, leaving iMapDat and qMapDat (and mapDat for FSK) at
// (sequenceLenth + filterLengh) * overSamplingRate samples with the lead-in in front.
// Writes modulationFamily, sampleOffset, sampleLength (= sequenceLenth * overSamplingRate),
// symbolMap, filterTap and filterCoef. Returns 0; failures are thrown (a Config IqSynthError
// IQSYNTH_ERR_MOD_TYPE for an unknown modulation, IQSYNTH_ERR_CFG_VALUE for unusable lengths,
// before any track is sized).
int runCDMModulation();

}  // namespace iqsynth
