// The conversion driver: option rules, the sample frequency, choosing the reader,
// and convertToArb, which quantises, writes the temporary file and runs the packer.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "arb_format.h"
#include "iq_readers.h"
#include "pair_packer.h"
#include "pair_source.h"
#include "summary.h"
#include "wavepack.h"

namespace arbsuite::wavepack {

// Frequency text to hertz by -f's lenient rule (arbsuite::readFrequencyLeniently:
// the longest leading number times the unit of the first character after it, so "1m"
// is 1 MHz). Throws std::invalid_argument("Input string for Frequency is not
// support") for any other unit.
double parseFrequency(const std::string& text);

// parseFrequency truncated toward zero to Fs and range-checked with the format
// module's rule of playable clocks (arb::isPlayableClock): 1000 <= Fs <= 50000000,
// or exactly 100000000. Throws std::out_of_range("Fs must in range
// [1KHz,50MHz] and 100MHz") otherwise (also for values beyond 32 bits).
std::int32_t sampleFrequency(const std::string& text);

using arbsuite::checkOutputName;

// The input options as given on the command line (absent when not given).
struct InputOptions {
  bool binary = false;
  std::optional<std::string> dual;
  std::optional<std::string> inPhase;
  std::optional<std::string> quadrature;
};

// Throws the option-rule messages when -d is combined with -i/-q or none is given.
void checkInputOptions(const InputOptions& options);

// Throws std::invalid_argument("Output " + output + " is the input file " + input)
// when writing the output would write over one of the input files (the same file,
// by device and inode, also through a link).
void checkOutputIsNoInput(const std::string& outputPath, const InputOptions& options);

// Reads the pairs with the reader the options select; separate I and Q files are
// read in that order and added pair by pair ("Data length is not equal in ...").
std::vector<IqPair> readInput(const InputOptions& options);

// Message of a non-zero packer result.
std::string packerResultMessage(int result, const std::string& tempPath,
                                const std::string& outputPath);

// A non-zero result of PackuserIQdata, with packerResultMessage as its text.
struct PackerError : std::runtime_error {
  PackerError(int packerStatus, const std::string& message)
      : std::runtime_error(message), status(packerStatus) {}
  int status;
};

// Quantises the pairs at `level` (0 < level <= 1) of full scale, writes them to a
// new temporary file, packs it into `outputPath` with clock and symbol rate `fs`,
// and removes the temporary file. Returns the statistics of the samples written.
// Throws PackerError for a packer failure, and the reader's failures; refuses more
// than kMaxPairs pairs before writing anything.
SampleStatistics convertToArb(PairSource& pairs, std::int32_t fs, const std::string& outputPath,
                              double level);

// The same for pairs in memory at the level 0.81 (the pairs are left unchanged).
void convertToArb(std::vector<IqPair>& pairs, std::int32_t fs, const std::string& outputPath);

}  // namespace arbsuite::wavepack
