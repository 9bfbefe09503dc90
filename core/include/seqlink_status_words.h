// seqlink result codes in words. The same number means different things in
// different calls (240 is "cannot open" for a reader and "cannot create" for the
// builder), so the words depend on the call that returned it.
#pragma once

#include <string>

namespace arbsuite {

enum class SeqlinkCall {
  ReadInfo,        // readArbFileInf, readArbFileAllInf
  ReadData,        // readArbFileData
  ReadConfig,      // readMultiSegConfig
  OutputSegments,  // outputIQDataAndInf
  BuildFile,       // crtMultiSegArb
};

std::string statusWords(SeqlinkCall call, int status);

}  // namespace arbsuite
