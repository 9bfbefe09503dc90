// libFuzzer target: the CSV reader of the wavepack program on arbitrary text, in
// every dialect and choice of fields (the first two bytes choose them). Each text is
// read in one pass and again cut into small chunks and pieces parsed on several
// threads; the two readings must give the same pairs, warnings and failure.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "csv_reader.h"

namespace {

struct Outcome {
  std::vector<arbsuite::wavepack::IqPair> pairs;
  std::string failure;
  std::vector<std::string> warnings;
};

Outcome read(const char* text, std::size_t size, const arbsuite::wavepack::CsvOptions& options,
             bool strict) {
  std::size_t at = 0;
  const arbsuite::wavepack::ByteReader reader = [&](char* buffer, std::size_t length) {
    const std::size_t n = std::min(length, size - at);
    if (n > 0) std::memcpy(buffer, text + at, n);
    at += n;
    return n;
  };
  arbsuite::wavepack::Diagnostics diagnostics(strict);
  Outcome outcome;
  try {
    outcome.pairs = arbsuite::wavepack::readCsv(reader, "fuzz.csv", options, diagnostics).release();
  } catch (const std::exception& e) {
    outcome.failure = e.what();
  }
  outcome.warnings = diagnostics.warnings();
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint8_t a = data[0];
  const std::uint8_t b = data[1];
  static const char kDelimiters[] = {',', ';', '\t', ' '};
  arbsuite::wavepack::CsvOptions options;
  options.dialect.delimiter = kDelimiters[a & 3];
  options.dialect.decimalComma = (a & 4) != 0 && options.dialect.delimiter != ',';
  options.fieldsChosen = (a & 8) != 0;
  const bool strict = (a & 16) != 0;
  options.fieldI = b % 4;
  options.fieldQ = (b / 4) % 4;
  if (options.fieldI == 0 && options.fieldQ == 0) options.fieldI = 1;
  if (options.fieldQ == options.fieldI) options.fieldQ = 0;
  const auto* text = reinterpret_cast<const char*>(data + 2);
  const std::size_t length = size - 2;

  arbsuite::wavepack::CsvOptions whole = options;
  whole.threads = 1;
  whole.pieceBytes = std::size_t{1} << 30;
  whole.chunkBytes = length + 1;
  arbsuite::wavepack::CsvOptions cut = options;
  cut.threads = 3;
  cut.pieceBytes = (b >> 4) + 1u;
  cut.chunkBytes = ((a >> 5) + 1u) * 16u;

  const Outcome one = read(text, length, whole, strict);
  const Outcome many = read(text, length, cut, strict);
  if (one.failure != many.failure || one.warnings != many.warnings ||
      one.pairs.size() != many.pairs.size() ||
      (!one.pairs.empty() &&
       std::memcmp(one.pairs.data(), many.pairs.data(),
                   one.pairs.size() * sizeof(arbsuite::wavepack::IqPair)) != 0))
    std::abort();
  return 0;
}
