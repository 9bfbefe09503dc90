// Symbol coding of a digital run (map2Mary): the running differential sums,
// Gray coding and the FSK level mapping.
#include "dataCoding.h"

namespace arbsuite::iqsynth {

short binaryToGray(short s) {
  const unsigned v = static_cast<unsigned short>(s);
  return static_cast<short>(v ^ (v >> 1));
}

int map2Mary(const iqSynthCfg& cfg, std::valarray<short>& symbols, int offset) {
  const int type = cfg.digiModulatingType;
  const int M = modPointCount(type);
  const bool isFsk = modFamilyOf(type) == iqSynthCfg::MOD_FAMILY_FSK;
  const int R = cfg.overSamplingRate;
  const int coding = cfg.codingType;
  const bool known = coding == iqSynthCfg::CODING_NONE || coding == iqSynthCfg::CODING_DIFF ||
                     coding == iqSynthCfg::CODING_GRAY_DIFF || coding == iqSynthCfg::CODING_GRAY ||
                     coding == iqSynthCfg::CODING_DIFF_FROM_ONE;
  if (!known || M == 0 || R < 1 || offset < 0 || cfg.sampleLength <= 0) {
    return 0;
  }
  // Residue in 0..M-1 even for negative symbol values.
  const auto modM = [M](long long v) { return static_cast<int>(((v % M) + M) % M); };
  const long long end = static_cast<long long>(offset) + cfg.sampleLength;
  const long long size = static_cast<long long>(symbols.size());
  const long long stop = end < size ? end : size;
  int acc = coding == iqSynthCfg::CODING_DIFF_FROM_ONE ? 1 : 0;
  for (long long p = offset; p < stop; p += R) {
    const short s = symbols[static_cast<std::size_t>(p)];
    int v = s;
    switch (coding) {
      case iqSynthCfg::CODING_DIFF:
      case iqSynthCfg::CODING_DIFF_FROM_ONE:
        acc = modM(static_cast<long long>(acc) + s);
        v = acc;
        break;
      case iqSynthCfg::CODING_GRAY_DIFF:
        acc = modM(static_cast<long long>(acc) + binaryToGray(s));
        v = acc;
        break;
      case iqSynthCfg::CODING_GRAY:
        v = binaryToGray(s);
        break;
      default:  // CODING_NONE
        break;
    }
    if (isFsk) {
      v = 2 * v - M + 1;
    }
    symbols[static_cast<std::size_t>(p)] = static_cast<short>(v);
  }
  return 0;
}

int runDataCoding(const iqSynthCfg& cfg, std::valarray<short>& symbols, int offset) {
  return map2Mary(cfg, symbols, offset);
}

}  // namespace arbsuite::iqsynth
