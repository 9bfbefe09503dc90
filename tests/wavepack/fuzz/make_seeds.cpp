// Writes the binary seed files of the reader fuzz targets for
// tools/make-fuzz-corpus.sh: MATLAB files through libmatio, sound files through
// libsndfile, and raw samples of any datatype (encoded here).
//
//   wavepack_fuzz_seeds mat FOLDER          # <name>.mat files
//   wavepack_fuzz_seeds wav FOLDER          # <name>.wav (and other sound) files
//   wavepack_fuzz_seeds raw DATATYPE COUNT  # COUNT samples to standard output
#include <matio.h>
#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

// A fixed header text, so that the files do not change with the day they are made.
constexpr const char* kMatHeader = "MATLAB 5.0 MAT-file, written by wavepack_fuzz_seeds";
constexpr std::size_t kPairs = 12;

// I and Q of pair k of a spiral of amplitude up to `scale`.
double spiralI(std::size_t k, double scale) {
  return scale * (0.2 + 0.8 * k / kPairs) * std::cos(0.7 * k);
}
double spiralQ(std::size_t k, double scale) {
  return scale * (0.2 + 0.8 * k / kPairs) * std::sin(0.7 * k);
}

// --------------------------------------------------------------------- MATLAB

class MatWriter {
 public:
  MatWriter(const std::string& path, mat_ft version, matio_compression compression)
      : mat_(Mat_CreateVer(path.c_str(), kMatHeader, version)), compression_(compression) {
    if (mat_ == nullptr) throw std::runtime_error("cannot create " + path);
  }
  ~MatWriter() { Mat_Close(mat_); }
  MatWriter(const MatWriter&) = delete;
  MatWriter& operator=(const MatWriter&) = delete;

  // Writes a variable of dims `dims` over `data` (which matio does not take over).
  void write(const char* name, matio_classes c, matio_types t, std::vector<std::size_t> dims,
             void* data, int flags = 0) {
    matvar_t* var = Mat_VarCreate(name, c, t, static_cast<int>(dims.size()), dims.data(), data,
                                  flags | MAT_F_DONT_COPY_DATA);
    if (var == nullptr) throw std::runtime_error(std::string("cannot create variable ") + name);
    const int status = Mat_VarWrite(mat_, var, compression_);
    var->data = nullptr;  // not matio's to free
    Mat_VarFree(var);
    if (status != 0) throw std::runtime_error(std::string("cannot write variable ") + name);
  }

 private:
  mat_t* mat_;
  matio_compression compression_;
};

// The spiral's I and Q as two arrays of T.
template <typename T>
struct SplitPairs {
  std::vector<T> re, im;
  explicit SplitPairs(double scale = 1.0) {
    for (std::size_t k = 0; k < kPairs; ++k) {
      re.push_back(static_cast<T>(spiralI(k, scale)));
      im.push_back(static_cast<T>(spiralQ(k, scale)));
    }
  }
  mat_complex_split_t split() { return {re.data(), im.data()}; }
  // Column-major N x 2: the I column, then the Q column.
  std::vector<T> columns() const {
    std::vector<T> m = re;
    m.insert(m.end(), im.begin(), im.end());
    return m;
  }
};

void writeMatSeeds(const std::string& folder) {
  const auto file = [&](const char* name) { return folder + "/" + name + ".mat"; };
  constexpr auto kNone = MAT_COMPRESSION_NONE;
  constexpr auto kZlib = MAT_COMPRESSION_ZLIB;
  SplitPairs<double> d;
  SplitPairs<float> f;
  std::vector<double> dColumns = d.columns();
  std::vector<float> fColumns = f.columns();
  {
    MatWriter mat(file("complex-double-fs"), MAT_FT_MAT5, kNone);
    double note = 7, fs = 1e6;
    mat_complex_split_t iq = d.split();
    mat.write("note", MAT_C_DOUBLE, MAT_T_DOUBLE, {1, 1}, &note);
    mat.write("iq", MAT_C_DOUBLE, MAT_T_DOUBLE, {kPairs, 1}, &iq, MAT_F_COMPLEX);
    mat.write("fs", MAT_C_DOUBLE, MAT_T_DOUBLE, {1, 1}, &fs);
  }
  {
    MatWriter mat(file("complex-single-int-rate-zlib"), MAT_FT_MAT5, kZlib);
    std::int32_t fs = 250000;
    mat_complex_split_t iq = f.split();
    mat.write("iq", MAT_C_SINGLE, MAT_T_SINGLE, {1, kPairs}, &iq, MAT_F_COMPLEX);
    mat.write("Fs", MAT_C_INT32, MAT_T_INT32, {1, 1}, &fs);
  }
  {
    MatWriter mat(file("columns-double-zlib"), MAT_FT_MAT5, kZlib);
    std::uint16_t fs = 48000;
    mat.write("iq", MAT_C_DOUBLE, MAT_T_DOUBLE, {kPairs, 2}, dColumns.data());
    mat.write("SampleRate", MAT_C_UINT16, MAT_T_UINT16, {1, 1}, &fs);
  }
  {
    MatWriter mat(file("columns-single"), MAT_FT_MAT5, kNone);
    float fs = 8000;
    mat.write("x", MAT_C_SINGLE, MAT_T_SINGLE, {kPairs, 2}, fColumns.data());
    mat.write("sample_rate", MAT_C_SINGLE, MAT_T_SINGLE, {1, 1}, &fs);
  }
  {
    MatWriter mat(file("two-candidates-zlib"), MAT_FT_MAT5, kZlib);
    double fs = 2e6;
    mat_complex_split_t iq = d.split();
    mat.write("iq", MAT_C_DOUBLE, MAT_T_DOUBLE, {kPairs, 1}, &iq, MAT_F_COMPLEX);
    mat.write("x", MAT_C_DOUBLE, MAT_T_DOUBLE, {kPairs, 2}, dColumns.data());
    mat.write("FS", MAT_C_DOUBLE, MAT_T_DOUBLE, {1, 1}, &fs);
  }
  {
    MatWriter mat(file("rate-not-a-scalar"), MAT_FT_MAT5, kNone);
    double fs[2] = {1e6, 2e6};
    mat.write("iq", MAT_C_DOUBLE, MAT_T_DOUBLE, {kPairs, 2}, dColumns.data());
    mat.write("fs", MAT_C_DOUBLE, MAT_T_DOUBLE, {1, 2}, fs);
  }
  {
    MatWriter mat(file("rate-negative"), MAT_FT_MAT5, kNone);
    double fs = -5;
    mat.write("iq", MAT_C_DOUBLE, MAT_T_DOUBLE, {kPairs, 2}, dColumns.data());
    mat.write("fs", MAT_C_DOUBLE, MAT_T_DOUBLE, {1, 1}, &fs);
  }
  {
    MatWriter mat(file("nan-sample-zlib"), MAT_FT_MAT5, kZlib);
    std::vector<double> m = dColumns;
    m[kPairs + 3] = std::numeric_limits<double>::quiet_NaN();
    mat.write("iq", MAT_C_DOUBLE, MAT_T_DOUBLE, {kPairs, 2}, m.data());
  }
  {
    // Nothing IQ-shaped: text, integers, logicals, a sparse matrix, a 3-D array and
    // a 2 x N matrix. (The fuzz target leaves out files with cells and structures.)
    MatWriter mat(file("no-candidate-zlib"), MAT_FT_MAT5, kZlib);
    char text[] = "hello";
    mat.write("name", MAT_C_CHAR, MAT_T_UINT8, {1, 5}, text);
    std::vector<std::int16_t> ints(2 * kPairs, 3);
    mat.write("counts", MAT_C_INT16, MAT_T_INT16, {kPairs, 2}, ints.data());
    std::vector<std::uint8_t> flags(2 * kPairs, 1);
    mat.write("mask", MAT_C_UINT8, MAT_T_UINT8, {kPairs, 2}, flags.data(), MAT_F_LOGICAL);
    mat_uint32_t ir[3] = {0, 2, 1}, jc[5] = {0, 1, 2, 3, 3};
    double values[3] = {1, 2, 3};
    mat_sparse_t sparse{3, ir, 3, jc, 5, 3, values};
    mat.write("sparse", MAT_C_SPARSE, MAT_T_DOUBLE, {4, 4}, &sparse);
    double cube[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    mat.write("cube", MAT_C_DOUBLE, MAT_T_DOUBLE, {2, 2, 2}, cube);
    mat.write("rows", MAT_C_DOUBLE, MAT_T_DOUBLE, {2, kPairs}, dColumns.data());
  }
  {
    MatWriter mat(file("complex-int16"), MAT_FT_MAT5, kNone);
    SplitPairs<std::int16_t> ints(1000);
    mat_complex_split_t iq = ints.split();
    mat.write("iq", MAT_C_INT16, MAT_T_INT16, {1, kPairs}, &iq, MAT_F_COMPLEX);
  }
  {
    MatWriter mat(file("empty-columns"), MAT_FT_MAT5, kNone);
    mat.write("iq", MAT_C_DOUBLE, MAT_T_DOUBLE, {0, 2}, nullptr);
  }
  {
    // Singles stored as 16-bit integers, as MATLAB stores whole numbers.
    MatWriter mat(file("single-stored-as-int16"), MAT_FT_MAT5, kNone);
    std::vector<std::int16_t> stored(2 * kPairs);
    for (std::size_t k = 0; k < stored.size(); ++k) stored[k] = static_cast<std::int16_t>(k - 9);
    mat.write("iq", MAT_C_SINGLE, MAT_T_INT16, {kPairs, 2}, stored.data());
  }
  {
    MatWriter mat(file("version-4"), MAT_FT_MAT4, kNone);
    double fs = 1e5;
    mat.write("iq", MAT_C_DOUBLE, MAT_T_DOUBLE, {kPairs, 2}, dColumns.data());
    mat.write("fs", MAT_C_DOUBLE, MAT_T_DOUBLE, {1, 1}, &fs);
  }
}

// ------------------------------------------------------------------------ WAV

// Zeroes the time of writing in a PEAK chunk (chunk name, size, version, then the
// time), so that the files do not change with the moment they are made.
void clearPeakTime(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "r+b");
  if (file == nullptr) throw std::runtime_error("cannot reopen " + path);
  std::vector<char> bytes(1 << 16);
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
  const std::string_view text(bytes.data(), bytes.size());
  const std::size_t peak = text.find("PEAK");
  if (peak != std::string_view::npos && peak + 16 <= bytes.size()) {
    const char zeros[4] = {};
    std::fseek(file, static_cast<long>(peak + 12), SEEK_SET);
    std::fwrite(zeros, 1, sizeof zeros, file);
  }
  std::fclose(file);
}

// Writes a sound file of `channels` channels and `frames` frames of the spiral
// (scaled to [-0.9, 0.9]; `nanAt` < frames puts a NaN into that frame). Floating-point
// files get the PEAK chunk libsndfile adds.
void writeSound(const std::string& path, int format, int channels, std::size_t frames,
                std::size_t nanAt = SIZE_MAX) {
  SF_INFO info{};
  info.samplerate = 48000;
  info.channels = channels;
  info.format = format;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (file == nullptr) throw std::runtime_error(path + ": " + sf_strerror(nullptr));
  std::vector<double> samples;
  for (std::size_t k = 0; k < frames; ++k)
    for (int c = 0; c < channels; ++c)
      samples.push_back(k == nanAt   ? std::numeric_limits<double>::quiet_NaN()
                        : c % 2 == 0 ? spiralI(k % kPairs, 0.9)
                                     : spiralQ(k % kPairs, 0.9));
  const sf_count_t written =
      sf_writef_double(file, samples.data(), static_cast<sf_count_t>(frames));
  sf_close(file);
  if (written != static_cast<sf_count_t>(frames)) throw std::runtime_error(path + ": short write");
  clearPeakTime(path);
}

void writeWavSeeds(const std::string& folder) {
  struct Seed {
    const char* name;
    int format;
    int channels = 2;
    std::size_t frames = kPairs;
    std::size_t nanAt = SIZE_MAX;
  };
  const Seed seeds[] = {
      {"pcm16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
      {"pcm24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24},
      {"pcm32.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_32},
      {"pcmu8.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8},
      {"float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT},
      {"double.wav", SF_FORMAT_WAV | SF_FORMAT_DOUBLE},
      {"ulaw.wav", SF_FORMAT_WAV | SF_FORMAT_ULAW},
      {"alaw.wav", SF_FORMAT_WAV | SF_FORMAT_ALAW},
      {"ima-adpcm.wav", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 2, 64},
      {"ms-adpcm.wav", SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM, 2, 64},
      {"extensible-pcm16.wav", SF_FORMAT_WAVEX | SF_FORMAT_PCM_16},
      {"rf64-float.wav", SF_FORMAT_RF64 | SF_FORMAT_FLOAT},
      {"w64-double.w64", SF_FORMAT_W64 | SF_FORMAT_DOUBLE},
      {"aiff-pcm16.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
      {"au-float.au", SF_FORMAT_AU | SF_FORMAT_FLOAT},
      {"caf-pcm24.caf", SF_FORMAT_CAF | SF_FORMAT_PCM_24},
      {"flac-pcm16.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
      {"mono.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1},
      {"three-channels.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 3},
      {"no-frames.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 0},
      {"nan-frame.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, kPairs, 5},
  };
  for (const Seed& s : seeds)
    writeSound(folder + "/" + s.name, s.format, s.channels, s.frames, s.nanAt);
}

// ------------------------------------------------------------------------ raw

// COUNT samples of the spiral in a SigMF datatype ([c|r][f|i|u]bits[_le|_be]),
// scaled to most of the datatype's range.
void writeRaw(const std::string& name, std::size_t count) {
  const std::invalid_argument notRaw("not a raw datatype: " + name);
  if (name.size() < 3 || (name[0] != 'c' && name[0] != 'r')) throw notRaw;
  const bool complex = name[0] == 'c';
  const char kind = name[1];
  const unsigned bits = static_cast<unsigned>(std::stoul(name.substr(2)));
  const unsigned bytes = bits / 8;
  const bool bigEndian = name.size() > 4 && name.substr(name.size() - 3) == "_be";
  const bool floating = kind == 'f' && (bits == 32 || bits == 64);
  const bool integer = (kind == 'i' || kind == 'u') && (bits == 8 || bits == 16 || bits == 32);
  if (!floating && !integer) throw notRaw;
  const double full = kind == 'f' ? 1.0 : std::ldexp(1.0, static_cast<int>(bits) - 1) - 1;
  const auto put = [&](double v) {
    std::uint64_t word = 0;
    if (kind == 'f' && bytes == 4) {
      const float x = static_cast<float>(v);
      std::uint32_t w;
      std::memcpy(&w, &x, 4);
      word = w;
    } else if (kind == 'f') {
      std::memcpy(&word, &v, 8);
    } else if (kind == 'i') {
      word = static_cast<std::uint64_t>(static_cast<std::int64_t>(std::lround(v)));
    } else {
      word = static_cast<std::uint64_t>(std::lround(v + full + 0.5));
    }
    for (unsigned k = 0; k < bytes; ++k) {
      const unsigned shift = 8 * (bigEndian ? bytes - 1 - k : k);
      std::putchar(static_cast<int>((word >> shift) & 0xff));
    }
  };
  for (std::size_t k = 0; k < count; ++k) {
    put(spiralI(k % kPairs, 0.9 * full));
    if (complex) put(spiralQ(k % kPairs, 0.9 * full));
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string usage =
      "usage: wavepack_fuzz_seeds mat FOLDER | wav FOLDER | raw DATATYPE COUNT\n";
  try {
    const std::string kind = argc > 1 ? argv[1] : "";
    if (kind == "mat" && argc == 3) {
      writeMatSeeds(argv[2]);
    } else if (kind == "wav" && argc == 3) {
      writeWavSeeds(argv[2]);
    } else if (kind == "raw" && argc == 4) {
      writeRaw(argv[2], std::stoul(argv[3]));
    } else {
      std::fputs(usage.c_str(), stderr);
      return 2;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "wavepack_fuzz_seeds: %s\n", e.what());
    return 1;
  }
  return 0;
}
