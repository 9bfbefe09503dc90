// Conversion driver of the wavepack program (everything after command-line parsing).
#include "convert.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "frequency_text.h"
#include "interrupt_cleanup.h"
#include "output_file.h"
#include "pair_packer.h"
#include "parallel.h"
#include "progress_counting.h"
#include "progress_report.h"
#include "quantizer.h"
#include "sample_file_pack.h"
#include "temp_file.h"
#include "wavepack.h"

namespace arbsuite::wavepack {

double parseFrequency(const std::string& text) {
  const std::optional<double> hz = arbsuite::readFrequencyLeniently(text);
  if (!hz) throw std::invalid_argument("Input string for Frequency is not support");
  return *hz;
}

std::int32_t sampleFrequency(const std::string& text) {
  const double hz = parseFrequency(text);
  const std::out_of_range outOfRange("Fs must in range [1KHz,50MHz] and 100MHz");
  // Checked before the truncation, which is undefined beyond 32 bits (and for NaN).
  if (!(hz > -2147483649.0 && hz < 2147483648.0)) throw outOfRange;
  const auto fs = static_cast<std::int32_t>(hz);
  if (!arb::isPlayableClock(fs)) throw outOfRange;
  return fs;
}

void checkInputOptions(const InputOptions& options) {
  if (options.dual && (options.inPhase || options.quadrature))
    throw std::invalid_argument("-d and (-i or -q) can not be specified at the same time");
  if (!options.dual && !options.inPhase && !options.quadrature)
    throw std::invalid_argument("-d and (-i or -q) must specify at least one");
}

void checkOutputIsNoInput(const std::string& outputPath, const InputOptions& options) {
  for (const auto& input : {options.dual, options.inPhase, options.quadrature}) {
    if (input && arb::outputOverwritesInput(outputPath, *input))
      throw std::invalid_argument("Output " + outputPath + " is the input file " + *input);
  }
}

std::vector<IqPair> readInput(const InputOptions& options) {
  // A separate I or Q file holds its values in its first column.
  auto readOne = [&](const std::string& path, bool asI) {
    return options.binary ? readBinarySamples(path, asI, !asI) : readCsvColumn(path, 1, asI);
  };
  if (options.dual)
    return options.binary ? readBinarySamples(*options.dual, true, true)
                          : readCsvDual(*options.dual);
  if (options.inPhase && options.quadrature) {
    std::vector<IqPair> pairs = readOne(*options.inPhase, true);
    const std::vector<IqPair> quadrature = readOne(*options.quadrature, false);
    if (pairs.size() != quadrature.size())
      throw std::length_error("Data length is not equal in " + *options.inPhase + " and " +
                              *options.quadrature);
    for (std::size_t k = 0; k < pairs.size(); ++k) {
      pairs[k].i += quadrature[k].i;
      pairs[k].q += quadrature[k].q;
    }
    return pairs;
  }
  if (options.inPhase) return readOne(*options.inPhase, true);
  return readOne(*options.quadrature, false);
}

std::string packerResultMessage(int result, const std::string& tempPath,
                                const std::string& outputPath) {
  // The table also maps 20 to 23, results this packer never returns (no name in
  // wavepack.h); the messages stay as the converter has always given them.
  switch (result) {
    case WAVEPACK_INPUT_FAILED:
    case 20:
      return "Open or read " + tempPath + "failed";
    case WAVEPACK_OUTPUT_FAILED:
      return "Created or write " + outputPath + "failed";
    case 21:
    case 22:
    case 23:
      return "Can not find the dependent dll";
    case WAVEPACK_BAD_PARAMETER:
      return "Input parameter for arb is not support";
    case WAVEPACK_FORMAT_FAILED:
      return "Allocation error,Please restart this program and try again";
    default:
      return "Generate arb file error with return value " + std::to_string(result);
  }
}

SampleStatistics convertToArb(PairSource& pairs, std::int32_t fs, const std::string& outputPath,
                              double level) {
  if (pairs.size() > kMaxPairs)
    throw std::length_error("Too many IQ pairs (" + std::to_string(pairs.size()) +
                            "): an .arb file holds at most " + std::to_string(kMaxPairs));
  // Four passes over the pairs: the peak (none when the reader found it), the
  // quantisation into the sample file, the level (summed from the samples as they
  // are written), and the packer's read of that file to encrypt it; a pass saved is
  // reported as done.
  arb::ProgressReport progress("wavepack: converting", 4 * pairs.size(), "pairs");
  CountedPairs counted(pairs, progress);
  // A reader that took the peak while it made the pairs saves the pass over them.
  const std::optional<PeakScale> known = knownPeakScale(pairs);
  if (known) progress.add(pairs.size());
  const PeakScale peak = known ? *known : findPeak(counted);
  std::string tempPath;
  std::optional<FileRemover> removeTemp;
  {
    // The unencrypted samples never stay behind: the file is on the interrupt
    // handlers' list from the moment it exists.
    const arb::InterruptDeferral hold;
    tempPath = makeTempFilePath();
    removeTemp.emplace(tempPath);
  }
  SampleStatistics stats;
  LevelSum levelSum;
  {
    // Quantised block by block straight into the file: the samples are never held
    // in memory all at once. The figures of the summary and the packer's level item
    // are summed from the samples as they are made, each part of a block on its
    // thread, so that the packer reads the file only once, to encrypt it.
    std::vector<SampleStatistics> partStats(threadCount());
    std::vector<std::uint64_t> partSquares(partStats.size());
    try {
      SampleFileWriter writer(tempPath);
      quantizeSource(
          counted, peak, level,
          [&](std::span<const std::int16_t> samples) {
            std::uint64_t squares = 0;
            for (std::size_t part = 0; part < partStats.size(); ++part) {
              const SampleStatistics& s = partStats[part];
              stats.pairs += s.pairs;
              stats.peakSquared = std::max(stats.peakSquared, s.peakSquared);
              stats.sumSquared += s.sumSquared;
              squares += partSquares[part];
              partStats[part] = SampleStatistics{};
              partSquares[part] = 0;
            }
            levelSum.add(samples, squares);
            progress.add(samples.size() / 2);  // the pass the packer would read for it
            writer.write(samples);
          },
          [&](unsigned part, std::span<const std::int16_t> samples) {
            partStats[part].add(samples);
            partSquares[part] = LevelSum::squares(samples);
          });
      writer.close();
    } catch (const std::system_error& e) {
      // The user sees the output that could not be made and why, not just a
      // temporary name they never gave.
      throw std::runtime_error("Cannot write " + outputPath +
                               ": writing its samples to the temporary file " + tempPath +
                               " failed: " + e.code().message());
    }
  }
  const arbsuite::Version1Fields f = arbsuite::converterFields(fs);
  // PackuserIQdata's packing, followed by the progress report.
  const int result =
      packSampleFile(tempPath.c_str(), outputPath.c_str(), f, progress.adder(), levelSum.value());
  progress.finish();
  if (result != WAVEPACK_OK)
    throw PackerError(result, packerResultMessage(result, tempPath, outputPath));
  return stats;
}

void convertToArb(std::vector<IqPair>& pairs, std::int32_t fs, const std::string& outputPath) {
  PairSpan source(pairs);
  convertToArb(source, fs, outputPath, kPeakLevel);
}

}  // namespace arbsuite::wavepack
