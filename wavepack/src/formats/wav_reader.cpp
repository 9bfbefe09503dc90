// Two-channel WAV files through libsndfile (see wav_reader.h). The file is opened
// and checked as a regular file first; libsndfile reads that descriptor.
#include "wav_reader.h"

#include <sndfile.h>

#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "input_stream.h"
#include "loaded_library.h"

namespace arbsuite::wavepack {

namespace {

using arb::LoadedLibrary;

// libsndfile's functions, loaded with the library at the first WAV file.
struct Sndfile {
  Sndfile()
      : library(ARBSUITE_SNDFILE_SONAME, "reads WAV files"),
        openFd(library.function<decltype(&sf_open_fd)>("sf_open_fd")),
        close(library.function<decltype(&sf_close)>("sf_close")),
        command(library.function<decltype(&sf_command)>("sf_command")),
        readfDouble(library.function<decltype(&sf_readf_double)>("sf_readf_double")),
        strerror(library.function<decltype(&sf_strerror)>("sf_strerror")) {}
  LoadedLibrary library;
  decltype(&sf_open_fd) openFd;
  decltype(&sf_close) close;
  decltype(&sf_command) command;
  decltype(&sf_readf_double) readfDouble;
  decltype(&sf_strerror) strerror;
};

const Sndfile& sndfile() {
  static const Sndfile functions;
  return functions;
}

struct SoundCloser {
  void operator()(SNDFILE* file) const { sndfile().close(file); }
};

// libsndfile's name of a format code (major or subtype), or its number.
std::string formatName(int code) {
  SF_FORMAT_INFO info{};
  info.format = code;
  if (sndfile().command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) == 0 &&
      info.name != nullptr)
    return info.name;
  return "format " + std::to_string(code);
}

std::uint32_t le32(const unsigned char* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

// What the RIFF chunks of a WAV file say of its sample data, read before libsndfile
// reads it: libsndfile quietly reads what is there when the header announces more.
struct WavDataChunk {
  std::uint64_t declared = 0;  // bytes the header announces (the ds64 size of RF64)
  std::uint64_t present = 0;   // bytes of the file after the chunk's header
  bool unknownSize = false;    // the size field is 0xFFFFFFFF in a plain RIFF file
  std::uint32_t blockAlign = 0;
};

std::optional<WavDataChunk> findDataChunk(InputStream& input) {
  const std::uint64_t size = input.size().value_or(0);
  std::array<unsigned char, 12> riff{};
  if (size < riff.size()) return std::nullopt;
  input.readAt(0, riff.data(), riff.size());
  const bool rf64 =
      std::memcmp(riff.data(), "RF64", 4) == 0 || std::memcmp(riff.data(), "BW64", 4) == 0;
  if ((!rf64 && std::memcmp(riff.data(), "RIFF", 4) != 0) ||
      std::memcmp(riff.data() + 8, "WAVE", 4) != 0)
    return std::nullopt;
  WavDataChunk chunk;
  std::optional<std::uint64_t> ds64Size;
  for (std::uint64_t at = riff.size(); at + 8 <= size;) {
    std::array<unsigned char, 8> header{};
    input.readAt(at, header.data(), header.size());
    const std::uint32_t length = le32(header.data() + 4);
    const std::uint64_t body = at + 8;
    if (std::memcmp(header.data(), "fmt ", 4) == 0 && length >= 16 && body + 16 <= size) {
      std::array<unsigned char, 16> format{};
      input.readAt(body, format.data(), format.size());
      chunk.blockAlign = std::uint32_t{format[12]} | std::uint32_t{format[13]} << 8;
    } else if (std::memcmp(header.data(), "ds64", 4) == 0 && length >= 16 && body + 16 <= size) {
      std::array<unsigned char, 16> sizes{};
      input.readAt(body, sizes.data(), sizes.size());
      ds64Size = le32(sizes.data() + 8) | std::uint64_t{le32(sizes.data() + 12)} << 32;
    } else if (std::memcmp(header.data(), "data", 4) == 0) {
      chunk.present = size - body;
      if (rf64 && length == 0xFFFFFFFFu && ds64Size) {
        chunk.declared = *ds64Size;
      } else {
        chunk.declared = length;
        chunk.unknownSize = length == 0xFFFFFFFFu;
      }
      return chunk;
    }
    at = body + length + (length & 1);  // chunks are padded to an even length
  }
  return std::nullopt;
}

// Warns when the data chunk announces more than the file holds, or ends inside a frame.
void checkDataChunk(const WavDataChunk& chunk, const std::string& path, Diagnostics& diagnostics) {
  if (chunk.blockAlign == 0) return;
  const std::uint64_t frameBytes = chunk.blockAlign;
  const std::uint64_t held = std::min(chunk.declared, chunk.present);
  const std::string holds =
      std::to_string(held / frameBytes) + " frames (" + std::to_string(held) + " bytes of data)";
  if (chunk.unknownSize)
    diagnostics.warn(path +
                     ": its data size is 0xFFFFFFFF (not set: a recording that was not "
                     "finished); the file holds " +
                     holds);
  else if (chunk.declared > chunk.present)
    diagnostics.warn(path + " is truncated: its header announces " +
                     std::to_string(chunk.declared / frameBytes) + " frames (" +
                     std::to_string(chunk.declared) + " bytes of data), the file holds " + holds);
  if (held % frameBytes != 0)
    diagnostics.warn(path + " ends inside a frame: the last " + std::to_string(held % frameBytes) +
                     " bytes of its data are not a whole " + std::to_string(frameBytes) +
                     "-byte frame and are ignored");
}

}  // namespace

InputData readWav(const std::string& path, Diagnostics& diagnostics) {
  InputStream input(path);
  if (input.isStandardInput())
    throw std::invalid_argument("WAV files are not read from standard input");
  const Sndfile& sf = sndfile();
  SF_INFO info{};
  const std::unique_ptr<SNDFILE, SoundCloser> file(
      sf.openFd(input.descriptor(), SFM_READ, &info, SF_FALSE));
  if (!file)
    throw std::runtime_error(path +
                             " is not a sound file libsndfile reads: " + sf.strerror(nullptr));
  if (info.channels != 2)
    throw std::runtime_error(path + " has " + std::to_string(info.channels) +
                             " channels; a WAV input holds I in channel 1 and Q in channel 2");
  const std::optional<WavDataChunk> chunk = findDataChunk(input);
  if (chunk) checkDataChunk(*chunk, path, diagnostics);
  if (info.frames <= 0) throw std::out_of_range("There is no data in " + path);
  const auto frames = static_cast<std::uint64_t>(info.frames);
  if (frames > kMaxPairs)
    throw std::length_error("Too many IQ pairs in " + path + " (" + std::to_string(frames) +
                            "): an .arb file holds at most " + std::to_string(kMaxPairs));
  // Integers as their values: the normalisation to the peak makes their scale irrelevant.
  sf.command(file.get(), SFC_SET_NORM_DOUBLE, nullptr, SF_FALSE);

  // The pairs grow with the frames actually decoded: a header (of a compressed format
  // above all) may count far more frames than the file holds.
  std::vector<IqPair> pairs;
  pairs.reserve(
      static_cast<std::size_t>(std::min<std::uint64_t>(frames, input.size().value_or(0))));
  constexpr std::size_t kBlockFrames = 65536;
  std::vector<double> block(2 * kBlockFrames);
  for (std::size_t k = 0; k < frames;) {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(kBlockFrames, frames - k));
    const sf_count_t got = sf.readfDouble(file.get(), block.data(), static_cast<sf_count_t>(want));
    if (got <= 0)
      throw std::runtime_error(path + " ends at frame " + std::to_string(k) + " of the " +
                               std::to_string(frames) + " its header counts");
    for (sf_count_t j = 0; j < got; ++j, ++k) {
      pairs.push_back({block[2 * j], block[2 * j + 1]});
      if (!std::isfinite(pairs.back().i) || !std::isfinite(pairs.back().q))
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

}  // namespace arbsuite::wavepack
