// Constellations of the synthesis library: the mapping tables, the display
// lists handed to the host, the differential phase and EDGE rotation tables,
// and the IQ mapping stage of a digital run.
#pragma once

#include <complex>
#include <valarray>
#include <vector>

#include "iqSynthCfg.h"

namespace arbsuite::iqsynth {

using ConstelMap = std::vector<std::complex<double>>;

// Mapping tables, index = symbol value.
extern const ConstelMap qam16ConstelMap;
extern const ConstelMap qam32ConstelMap;
extern const ConstelMap qam64ConstelMap;
extern const ConstelMap qam128ConstelMap;
extern const ConstelMap qam256ConstelMap;
extern const ConstelMap bpskConstelMap;
extern const ConstelMap qpskConstelMap;
extern const ConstelMap psk8ConstelMap;
extern const ConstelMap askConstelMap;

// Display lists (getConstelMap only): FSK levels on the real axis and the 8 and
// 16 phase positions of the differential and rotating types.
extern const ConstelMap fsk2ConstelMap;
extern const ConstelMap fsk4ConstelMap;
extern const ConstelMap fsk8ConstelMap;
extern const ConstelMap fsk16ConstelMap;
extern const ConstelMap pi4DqpskConstelMap;
extern const ConstelMap pi8DqpskConstelMap;

// Phase increments of the differential types, index = coded symbol value:
// units of pi/4 (8 positions) and pi/8 (16 positions).
extern const std::vector<short> pi4DqpskDelta;
extern const std::vector<short> pi8DqpskDelta;

// The list getConstelMap reports for a modulation type (by its exact value; any
// type of the user family gives cfg.usrConstelMap), or nullptr when the type has
// no constellation.
const ConstelMap* constelMapFor(const iqSynthCfg& cfg, int digiModulatingType);

// The table runDataIQMapping maps with, or nullptr for a type it does not map.
const ConstelMap* mappingTableFor(const iqSynthCfg& cfg, int digiModulatingType);

// Places the point of every symbol at offset, offset + R, ... (sequenceLength of
// them, R = overSamplingRate) into iDat/qDat and sets its symbolMap flag; EDGE
// symbols are rotated by 3*pi*k/8. Indexes beyond the tracks are skipped.
// Returns 0. Throws a Config IqSynthError IQSYNTH_ERR_MOD_TYPE for a type it does not map,
// IQSYNTH_ERR_CFG_VALUE for a user constellation with more than 8 bits per symbol or fewer
// points than 2^k, or a symbol value outside the table.
int runDataIQMapping(iqSynthCfg& cfg, std::valarray<short>& symbols, std::valarray<double>& iDat,
                     std::valarray<double>& qDat, int offset);

}  // namespace arbsuite::iqsynth

// Exported data symbols, outside the library's namespace:
// cos(3*pi*k/8) and sin(3*pi*k/8), k = 0..15: the rotation of the k-th EDGE symbol.
extern IQSYNTH_API std::valarray<double> edge8PSKRotCos;
extern IQSYNTH_API std::valarray<double> edge8PSKRotSin;
