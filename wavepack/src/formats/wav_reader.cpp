// Two-channel WAV files through libsndfile (see wav_reader.h). The file is opened
// and checked as a regular file first; libsndfile reads that descriptor.
#include "wav_reader.h"

#include <sndfile.h>

#include <cmath>
#include <memory>
#include <stdexcept>
#include <vector>

#include "input_stream.h"

namespace wavepack {

namespace {

struct SoundCloser {
  void operator()(SNDFILE* file) const { sf_close(file); }
};

// libsndfile's name of a format code (major or subtype), or its number.
std::string formatName(int code) {
  SF_FORMAT_INFO info{};
  info.format = code;
  if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) == 0 && info.name != nullptr)
    return info.name;
  return "format " + std::to_string(code);
}

}  // namespace

InputData readWav(const std::string& path, Diagnostics& diagnostics) {
  (void)diagnostics;
  const InputStream input(path);
  if (input.isStandardInput())
    throw std::invalid_argument("WAV files are not read from standard input");
  SF_INFO info{};
  const std::unique_ptr<SNDFILE, SoundCloser> file(
      sf_open_fd(input.descriptor(), SFM_READ, &info, SF_FALSE));
  if (!file)
    throw std::runtime_error(path +
                             " is not a sound file libsndfile reads: " + sf_strerror(nullptr));
  if (info.channels != 2)
    throw std::runtime_error(path + " has " + std::to_string(info.channels) +
                             " channels; a WAV input holds I in channel 1 and Q in channel 2");
  if (info.frames <= 0) throw std::out_of_range("There is no data in " + path);
  const auto frames = static_cast<std::uint64_t>(info.frames);
  if (frames > kMaxPairs)
    throw std::length_error("Too many IQ pairs in " + path + " (" + std::to_string(frames) +
                            "): an .arb file holds at most " + std::to_string(kMaxPairs));
  // Integers as their values: the normalisation to the peak makes their scale irrelevant.
  sf_command(file.get(), SFC_SET_NORM_DOUBLE, nullptr, SF_FALSE);

  std::vector<IqPair> pairs(static_cast<std::size_t>(frames));
  constexpr std::size_t kBlockFrames = 65536;
  std::vector<double> block(2 * kBlockFrames);
  for (std::size_t k = 0; k < pairs.size();) {
    const std::size_t want = std::min(kBlockFrames, pairs.size() - k);
    const sf_count_t got = sf_readf_double(file.get(), block.data(), static_cast<sf_count_t>(want));
    if (got <= 0)
      throw std::runtime_error(path + " ends at frame " + std::to_string(k) + " of the " +
                               std::to_string(frames) + " its header counts");
    for (sf_count_t j = 0; j < got; ++j, ++k) {
      pairs[k] = {block[2 * j], block[2 * j + 1]};
      if (!std::isfinite(pairs[k].i) || !std::isfinite(pairs[k].q))
        throw std::range_error("Frame " + std::to_string(k + 1) + " of " + path +
                               " is not a finite number");
    }
  }

  InputData data;
  data.pairs = std::make_unique<MemoryPairs>(std::move(pairs));
  data.sampleRate = info.samplerate;
  data.rateSource = path;
  data.formatName = formatName(info.format & SF_FORMAT_TYPEMASK) + ", " +
                    formatName(info.format & SF_FORMAT_SUBMASK);
  return data;
}

}  // namespace wavepack
