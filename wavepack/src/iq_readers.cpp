// The converter's original readers over the CSV and raw readers of the command line.
#include "iq_readers.h"

#include <algorithm>

#include "input_stream.h"
#include "raw_reader.h"

namespace arbsuite::wavepack {

FieldValue parseCsvField(const char* first, const char* last, double& value) {
  return scanNumber(first, last, value).value;
}

std::vector<IqPair> readCsvColumn(const std::string& path, int column, bool asI) {
  InputStream input(path);
  CsvOptions options;
  options.fieldI = asI ? column : 0;
  options.fieldQ = asI ? 0 : column;
  Diagnostics quiet;
  return readCsv(input, options, quiet).release();
}

std::vector<IqPair> readCsvDual(const std::string& path) {
  InputStream input(path);
  Diagnostics quiet;
  return readCsv(input, CsvOptions{}, quiet).release();
}

std::vector<IqPair> readBinarySamples(const std::string& path, bool asI, bool asQ) {
  const bool dual = asI && asQ;
  const RawFormat doubles = rawFormatByName(dual ? "cf64_le" : "rf64_le");
  const RawRole role = dual ? RawRole::iq : asI ? RawRole::inPhase : RawRole::quadrature;
  Diagnostics quiet;
  const auto source = openRaw(path, doubles, role, TailRule::ignore, quiet);
  return readAllPairs(*source);
}

std::vector<IqPair> readAllPairs(PairSource& source) {
  std::vector<IqPair> pairs(static_cast<std::size_t>(source.size()));
  for (std::uint64_t k = 0; k < pairs.size();) {
    const auto block = source.read(k, std::span(pairs).subspan(static_cast<std::size_t>(k)));
    if (block.data() != pairs.data() + k) std::copy(block.begin(), block.end(), pairs.begin() + k);
    k += block.size();
  }
  return pairs;
}

}  // namespace arbsuite::wavepack
