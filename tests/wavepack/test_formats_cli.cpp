// The wavepack program on every input format and CSV dialect, as a user runs it:
// files the test writes itself (raw bytes, SigMF pairs, .mat files through
// libmatio, WAV files through libsndfile, CSV text) convert to .arb files whose
// decrypted samples are the quantisation of the values written; misreadings are
// reported; special files never make the program hang or die.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <matio.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "arb_samples.h"
#include "files.h"
#include "little_endian.h"
#include "process.h"
#include "program_fixture.h"
#include "scratch_dir.h"

namespace {

using namespace wavepack_test;
namespace fs = std::filesystem;
using arbtest::ProcessResult;

// ---------------------------------------------------------------- raw datatypes

std::vector<std::uint8_t> encodeRaw(const std::string& name, const Pairs& pairs) {
  const bool bigEndian = name.ends_with("_be");
  const int bits = std::stoi(name.substr(2));
  std::vector<std::uint8_t> out;
  auto put = [&](std::uint64_t word) {
    for (int k = 0; k < bits / 8; ++k) {
      const int shift = 8 * (bigEndian ? bits / 8 - 1 - k : k);
      out.push_back(static_cast<std::uint8_t>(word >> shift));
    }
  };
  const double unsignedOffset = std::ldexp(1.0, bits - 1) - 0.5;
  for (const auto& [i, q] : pairs) {
    for (double v : {i, q}) {
      if (name[1] == 'f' && bits == 32) put(std::bit_cast<std::uint32_t>(static_cast<float>(v)));
      if (name[1] == 'f' && bits == 64) put(std::bit_cast<std::uint64_t>(v));
      if (name[1] == 'i') put(static_cast<std::uint64_t>(static_cast<std::int64_t>(v)));
      if (name[1] == 'u') put(static_cast<std::uint64_t>(v + unsignedOffset));
    }
  }
  return out;
}

class WavepackRawFormats : public WavepackFormats,
                           public testing::WithParamInterface<const char*> {};

TEST_P(WavepackRawFormats, RoundTripThroughTheArbFile) {
  const std::string name = GetParam();
  const int bits = std::stoi(name.substr(2));
  const Pairs pairs = spiral(1001, bits == 8 ? 100 : 20000);
  arbtest::writeBytes(path("iq.raw"), encodeRaw(name, pairs));
  // Unsigned values are stored offset by half their range less one half, so that
  // they read back as the stored integer minus that offset.
  Pairs read = pairs;
  if (name[1] == 'u') {
    const double offset = std::ldexp(1.0, bits - 1) - 0.5;
    for (auto& [i, q] : read) {
      i = static_cast<double>(static_cast<std::uint64_t>(i + offset)) - offset;
      q = static_cast<double>(static_cast<std::uint64_t>(q + offset)) - offset;
    }
  }
  expectConversion({"-d", "iq.raw", "--format", name}, read, 50000000, name);
}

INSTANTIATE_TEST_SUITE_P(WavepackDatatypes, WavepackRawFormats,
                         testing::Values("cf64_le", "cf64_be", "cf32_le", "cf32_be", "ci32_le",
                                         "ci32_be", "ci16_le", "ci16_be", "ci8", "cu8", "cu16_le",
                                         "cu32_be"));

TEST_F(WavepackFormats, RawFormatsFollowTheFileName) {
  const Pairs pairs = spiral(64, 100);
  for (const auto& [file, format] :
       std::vector<std::pair<std::string, std::string>>{{"rx.cfile", "cf32_le"},
                                                        {"rx.CF32", "cf32_le"},
                                                        {"rx.fc32", "cf32_le"},
                                                        {"rx.cs16", "ci16_le"},
                                                        {"rx.sc16", "ci16_le"},
                                                        {"rx.ci16", "ci16_le"}}) {
    SCOPED_TRACE(file);
    arbtest::writeBytes(path(file), encodeRaw(format, pairs));
    expectConversion({"-d", file}, pairs, 50000000, format);
  }
}

TEST_F(WavepackFormats, RealRawFilesForIAndQ) {
  const Pairs pairs = spiral(300, 1000);
  Pairs onlyI;
  Pairs onlyQ;
  for (const auto& [i, q] : pairs) {
    onlyI.emplace_back(i, 0);
    onlyQ.emplace_back(0, q);
  }
  for (const std::string real : {"rf32_le", "ri16_be", "rf64_be"}) {
    SCOPED_TRACE(real);
    const std::string complex = "c" + real.substr(1);
    std::vector<std::uint8_t> i = encodeRaw(complex, onlyI);
    std::vector<std::uint8_t> q = encodeRaw(complex, onlyQ);
    // Every other value of the complex encoding is the component.
    const std::size_t width = std::stoi(real.substr(2)) / 8;
    std::vector<std::uint8_t> iOnly, qOnly;
    for (std::size_t k = 0; k < i.size(); k += 2 * width) {
      iOnly.insert(iOnly.end(), i.begin() + k, i.begin() + k + width);
      qOnly.insert(qOnly.end(), q.begin() + k + width, q.begin() + k + 2 * width);
    }
    arbtest::writeBytes(path("i.bin"), iOnly);
    arbtest::writeBytes(path("q.bin"), qOnly);
    expectConversion({"-i", "i.bin", "-q", "q.bin", "--format", real}, pairs, 50000000,
                     real + ", I and Q files");
  }
}

TEST_F(WavepackFormats, StandardInputCarriesCsvOrRaw) {
  const Pairs pairs = spiral(500, 3000);
  std::string csv = "I,Q\n";
  for (const auto& [i, q] : pairs) csv += std::to_string(i) + "," + std::to_string(q) + "\n";
  arbtest::writeText(path("in.csv"), csv);
  expectConversion({"-d", "-"}, pairs, 50000000, "CSV", path("in.csv"));
  arbtest::writeBytes(path("in.raw"), encodeRaw("ci16_le", pairs));
  expectConversion({"-d", "-", "--format", "ci16_le", "-f", "1m"}, pairs, 1000000, "ci16_le",
                   path("in.raw"));
}

// ------------------------------------------------------------------------ SigMF

TEST_F(WavepackFormats, SigmfPairFromEitherFileGivesItsClock) {
  const Pairs pairs = spiral(777, 12000);
  arbtest::writeBytes(path("rec.sigmf-data"), encodeRaw("ci16_le", pairs));
  arbtest::writeText(path("rec.sigmf-meta"),
                     R"({"global": {"core:datatype": "ci16_le", "core:sample_rate": 2500000,
                         "core:version": "1.0.0"},
                         "captures": [{"core:sample_start": 0, "core:frequency": 2.4e9}],
                         "annotations": []})");
  expectConversion({"-d", "rec.sigmf-meta"}, pairs, 2500000, "SigMF ci16_le");
  expectConversion({"-d", "rec.sigmf-data"}, pairs, 2500000, "SigMF ci16_le");
  // -f wins over the recording's rate.
  expectConversion({"-d", "rec.sigmf-data", "-f", "10MHz"}, pairs, 10000000, "SigMF ci16_le");
}

TEST_F(WavepackFormats, SigmfOffsetsAndHeaderBytesAreHonoured) {
  Pairs scaled;
  for (const auto& [i, q] : spiral(100, 5000)) scaled.emplace_back(i / 7, q / 3);
  std::vector<std::uint8_t> data(32, 0xEE);  // 32 header bytes, then 10 samples skipped
  const std::vector<std::uint8_t> skipped = encodeRaw("cf32_be", spiral(10, 99));
  data.insert(data.end(), skipped.begin(), skipped.end());
  const std::vector<std::uint8_t> wanted = encodeRaw("cf32_be", scaled);
  data.insert(data.end(), wanted.begin(), wanted.end());
  data.insert(data.end(), {1, 2, 3});  // trailing bytes
  arbtest::writeBytes(path("r.sigmf-data"), data);
  arbtest::writeText(path("r.sigmf-meta"),
                     R"({"global": {"core:datatype": "cf32_be", "core:sample_rate": 48000.0,
                         "core:offset": 500, "core:trailing_bytes": 3},
                         "captures": [{"core:sample_start": 510, "core:header_bytes": 32}]})");
  Pairs asFloats;
  for (const auto& [i, q] : scaled)
    asFloats.emplace_back(static_cast<float>(i), static_cast<float>(q));
  // The 10 samples before the capture are left out, and said to be.
  expectConversion({"-d", "r.sigmf-meta"}, asFloats, 48000, "SigMF cf32_be", "", 0.81,
                   "WARNING: r.sigmf-meta: the first capture starts at sample 510 "
                   "(core:sample_start; core:offset 500): the 10 samples of r.sigmf-data before "
                   "it are not converted\n");
}

// ----------------------------------------------------------------------- MATLAB

struct MatCase {
  const char* name;
  mat_ft version;
  bool complex;
  bool single;
  const char* rateName;  // null: no rate variable
};

void PrintTo(const MatCase& c, std::ostream* os) { *os << c.name; }

// Writes one IQ variable (and optionally a rate scalar and a distractor) with libmatio.
void writeMat(const std::string& file, const MatCase& c, const Pairs& pairs, double rate,
              bool extraCandidate = false) {
  mat_t* mat = Mat_CreateVer(file.c_str(), nullptr, c.version);
  ASSERT_NE(mat, nullptr);
  const std::size_t n = pairs.size();
  std::vector<double> re, im, matrix;
  for (const auto& [i, q] : pairs) {
    re.push_back(i);
    im.push_back(q);
  }
  matrix = re;
  matrix.insert(matrix.end(), im.begin(), im.end());  // column-major N x 2
  std::vector<float> reF(re.begin(), re.end()), imF(im.begin(), im.end()),
      matrixF(matrix.begin(), matrix.end());
  const matio_classes cls = c.single ? MAT_C_SINGLE : MAT_C_DOUBLE;
  const matio_types type = c.single ? MAT_T_SINGLE : MAT_T_DOUBLE;
  auto write = [&](const char* name, matio_classes k, matio_types t, std::size_t rows,
                   std::size_t cols, void* data, int flags) {
    std::size_t dims[2] = {rows, cols};
    matvar_t* var = Mat_VarCreate(name, k, t, 2, dims, data, flags);
    ASSERT_NE(var, nullptr);
    EXPECT_EQ(Mat_VarWrite(mat, var, MAT_COMPRESSION_NONE), 0);
    Mat_VarFree(var);
  };
  double label = 7;
  write("note", MAT_C_DOUBLE, MAT_T_DOUBLE, 1, 1, &label, 0);
  if (c.complex) {
    mat_complex_split_t split = {c.single ? static_cast<void*>(reF.data()) : re.data(),
                                 c.single ? static_cast<void*>(imF.data()) : im.data()};
    write("iq", cls, type, 1, n, &split, MAT_F_COMPLEX);
  } else {
    write("iq", cls, type, n, 2, c.single ? static_cast<void*>(matrixF.data()) : matrix.data(), 0);
  }
  if (c.rateName != nullptr) write(c.rateName, MAT_C_DOUBLE, MAT_T_DOUBLE, 1, 1, &rate, 0);
  if (extraCandidate) {
    mat_complex_split_t split = {re.data(), im.data()};
    write("other", MAT_C_DOUBLE, MAT_T_DOUBLE, n, 1, &split, MAT_F_COMPLEX);
  }
  Mat_Close(mat);
}

class WavepackMatFiles : public WavepackFormats, public testing::WithParamInterface<MatCase> {};

TEST_P(WavepackMatFiles, RoundTripWithTheirSampleRate) {
  const MatCase& c = GetParam();
  Pairs pairs(1234);
  for (std::size_t k = 0; k < pairs.size(); ++k)
    pairs[k] = {std::cos(0.01 * k) * (1 + k % 5), std::sin(0.013 * k) * 0.5};
  if (c.single)
    for (auto& [i, q] : pairs) {
      i = static_cast<float>(i);
      q = static_cast<float>(q);
    }
  writeMat(path("m.mat"), c, pairs, 1.5e6);
  const std::string shape =
      std::string(c.complex ? "1x1234 complex " : "1234x2 ") + (c.single ? "single" : "double");
  const std::string version = c.version == MAT_FT_MAT73 ? "v7.3" : "v5";
  // Without a rate variable the default clock is said to be taken.
  expectConversion({"-d", "m.mat"}, pairs, c.rateName ? 1500000 : 50000000,
                   "MATLAB " + version + " variable iq (" + shape + ")", "", 0.81,
                   c.rateName ? ""
                              : "WARNING: m.mat gives no sample rate (a real scalar fs, Fs, FS, "
                                "SampleRate or sample_rate): the clock is the default, 50000000 "
                                "Hz (-f chooses it)\n");
}

INSTANTIATE_TEST_SUITE_P(
    WavepackMat, WavepackMatFiles,
    testing::Values(MatCase{"v5ComplexDouble", MAT_FT_MAT5, true, false, "fs"},
                    MatCase{"v5TwoColumnsSingle", MAT_FT_MAT5, false, true, "SampleRate"},
                    MatCase{"v73ComplexSingle", MAT_FT_MAT73, true, true, "Fs"},
                    MatCase{"v73TwoColumnsDouble", MAT_FT_MAT73, false, false, nullptr}));

TEST_F(WavepackFormats, MatVariableChoice) {
  const Pairs pairs = spiral(50, 10);
  const MatCase c{"", MAT_FT_MAT5, true, false, "sample_rate"};
  writeMat(path("two.mat"), c, pairs, 2e6, true);
  const ProcessResult several = run({"-d", "two.mat", "-o", "x.arb"});
  EXPECT_EQ(several.exitStatus, 1);
  EXPECT_EQ(several.err,
            "PROGRAM ERROR: two.mat holds several IQ variables: iq (1x50 complex double), other "
            "(50x1 complex double); choose one with --variable\n");
  expectConversion({"-d", "two.mat", "--variable", "other"}, pairs, 2000000,
                   "MATLAB v5 variable other (50x1 complex double)");
  const ProcessResult wrong = run({"-d", "two.mat", "--variable", "note", "-o", "x.arb"});
  EXPECT_EQ(wrong.err,
            "PROGRAM ERROR: Variable note of two.mat is 1x1 double, not a complex vector or a "
            "real Nx2 matrix of single or double precision\n");
  const ProcessResult missing = run({"-d", "two.mat", "--variable", "nope", "-o", "x.arb"});
  EXPECT_EQ(missing.err.rfind("PROGRAM ERROR: two.mat has no variable nope (it holds: note (1x1 "
                              "double), iq (1x50 complex double), ",
                              0),
            0u)
      << missing.err;
  EXPECT_FALSE(fs::exists(path("x.arb")));
  // A file that is no MATLAB file, named by the user's path (matio sees another).
  arbtest::writeText(path("text.mat"), "I,Q\n1,2\n");
  const ProcessResult text = run({"-d", "text.mat", "-o", "x.arb"});
  EXPECT_EQ(text.err,
            "PROGRAM ERROR: text.mat is not a MATLAB file libmatio reads: \"text.mat\" does not "
            "seem to be a valid MAT file\n");
}

// I and Q saved as two real vectors, as MATLAB users often keep them: --variable I,Q pairs
// them whatever their precision and orientation; without it the refusal says how.
TEST_F(WavepackFormats, MatTwoRealVectorsPairedAsIAndQ) {
  const Pairs pairs = spiral(300, 1000);
  std::vector<double> i, wrongLength(299, 1.0);
  std::vector<float> q;
  Pairs written;
  for (const auto& [a, b] : pairs) {
    i.push_back(a);
    q.push_back(static_cast<float>(b));
    written.emplace_back(a, static_cast<float>(b));
  }
  mat_t* mat = Mat_CreateVer(path("iq.mat").c_str(), nullptr, MAT_FT_MAT5);
  ASSERT_NE(mat, nullptr);
  double rate = 4e6;
  const auto write = [&](const char* name, matio_classes k, matio_types t, std::size_t rows,
                         std::size_t cols, void* data, int flags = 0) {
    std::size_t dims[2] = {rows, cols};
    matvar_t* var = Mat_VarCreate(name, k, t, 2, dims, data, flags);
    ASSERT_NE(var, nullptr);
    EXPECT_EQ(Mat_VarWrite(mat, var, MAT_COMPRESSION_NONE), 0);
    Mat_VarFree(var);
  };
  write("I", MAT_C_DOUBLE, MAT_T_DOUBLE, 1, i.size(), i.data());
  write("Q", MAT_C_SINGLE, MAT_T_SINGLE, q.size(), 1, q.data());
  write("short", MAT_C_DOUBLE, MAT_T_DOUBLE, 1, wrongLength.size(), wrongLength.data());
  std::vector<double> withNan(300, 0.5);
  withNan[7] = std::nan("");
  write("withNan", MAT_C_DOUBLE, MAT_T_DOUBLE, withNan.size(), 1, withNan.data());
  write("fs", MAT_C_DOUBLE, MAT_T_DOUBLE, 1, 1, &rate);
  Mat_Close(mat);

  const ProcessResult unnamed = run({"-d", "iq.mat", "-o", "x.arb"});
  EXPECT_EQ(unnamed.exitStatus, 1);
  EXPECT_THAT(unnamed.err, ::testing::EndsWith("; --variable I,Q reads two real vectors as I and "
                                               "Q\n"));
  expectConversion({"-d", "iq.mat", "--variable", "I,Q"}, written, 4000000,
                   "MATLAB v5 variables I (1x300 double) and Q (300x1 single)");
  // The names in the other order swap the channels.
  Pairs swapped;
  for (const auto& [a, b] : written) swapped.emplace_back(b, a);
  expectConversion({"-d", "iq.mat", "--variable", "Q,I"}, swapped, 4000000,
                   "MATLAB v5 variables Q (300x1 single) and I (1x300 double)");

  const std::pair<std::string, std::string> refusals[] = {
      {"I,short",
       "PROGRAM ERROR: Variables I (1x300 double) and short (1x299 double) of iq.mat "
       "are not of one length\n"},
      {"I,fs",
       "PROGRAM ERROR: Variables I (1x300 double) and fs (1x1 double) of iq.mat are not of "
       "one length\n"},
      {"I,", "PROGRAM ERROR: --variable takes one name, or two as I,Q (it was \"I,\")\n"},
      {"I,Q,Q", "PROGRAM ERROR: --variable takes one name, or two as I,Q (it was \"I,Q,Q\")\n"},
      {"I,nope",
       "PROGRAM ERROR: iq.mat has no variable nope (it holds: I (1x300 double), Q "
       "(300x1 single), short (1x299 double), withNan (300x1 double), fs (1x1 double))\n"},
      {"I,withNan",
       "PROGRAM ERROR: Sample 8 of variable withNan in iq.mat is not a finite number\n"}};
  for (const auto& [names, message] : refusals) {
    const ProcessResult r = run({"-d", "iq.mat", "--variable", names, "-o", "x.arb"});
    EXPECT_EQ(r.exitStatus, 1) << names;
    EXPECT_EQ(r.err, message);
  }
  EXPECT_FALSE(fs::exists(path("x.arb")));
}

// -------------------------------------------------------------------------- WAV

TEST_F(WavepackFormats, TwoChannelWavFilesGiveTheirClock) {
  const Pairs pairs = spiral(4000, 30000);
  for (const int subtype : {SF_FORMAT_PCM_16, SF_FORMAT_FLOAT}) {
    SCOPED_TRACE(subtype);
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | subtype;
    SNDFILE* file = sf_open(path("s.wav").c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    Pairs written;
    if (subtype == SF_FORMAT_PCM_16) {
      std::vector<short> frames;
      for (const auto& [i, q] : pairs) frames.insert(frames.end(), {short(i), short(q)});
      sf_writef_short(file, frames.data(), static_cast<sf_count_t>(pairs.size()));
      written = pairs;
    } else {
      std::vector<float> frames;
      for (const auto& [i, q] : pairs) {
        frames.insert(frames.end(), {float(i / 40000), float(q / 40000)});
        written.emplace_back(float(i / 40000), float(q / 40000));
      }
      sf_writef_float(file, frames.data(), static_cast<sf_count_t>(pairs.size()));
    }
    sf_close(file);
    expectConversion({"-d", "s.wav"}, written, 48000,
                     subtype == SF_FORMAT_PCM_16 ? "WAV (Microsoft), Signed 16 bit PCM"
                                                 : "WAV (Microsoft), 32 bit float");
  }
  // One channel is refused, naming the rule.
  SF_INFO mono{};
  mono.samplerate = 8000;
  mono.channels = 1;
  mono.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* file = sf_open(path("mono.wav").c_str(), SFM_WRITE, &mono);
  short frame[4] = {1, 2, 3, 4};
  sf_writef_short(file, frame, 4);
  sf_close(file);
  const ProcessResult r = run({"-d", "mono.wav", "-o", "m.arb"});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.err,
            "PROGRAM ERROR: mono.wav has 1 channels; a WAV input holds I in channel 1 and Q in "
            "channel 2\n");
}

// -------------------------------------------------------------------------- CSV

struct DialectRun {
  const char* name;
  std::string text;
  std::vector<std::string> args;
  std::string format;
};

void PrintTo(const DialectRun& c, std::ostream* os) { *os << c.name; }

class WavepackCsvDialectRuns : public WavepackFormats,
                               public testing::WithParamInterface<DialectRun> {};

TEST_P(WavepackCsvDialectRuns, RoundTrip) {
  const DialectRun& c = GetParam();
  arbtest::writeText(path("d.csv"), c.text);
  std::vector<std::string> args = {"-d", "d.csv"};
  args.insert(args.end(), c.args.begin(), c.args.end());
  expectConversion(args, {{-0.428571, -0.714286}, {0.25, 1.5}, {-1, 0}}, 50000000, c.format);
}

INSTANTIATE_TEST_SUITE_P(
    WavepackDialects, WavepackCsvDialectRuns,
    testing::Values(DialectRun{"europe",
                               "I;Q\n-0,428571;-0,714286\n0,25;1,5\n-1;0\n",
                               {"--delimiter", ";", "--decimal-comma"},
                               "CSV (delimiter ';', decimal comma)"},
                    DialectRun{"scope",
                               "Time,I,Q\n0,-0.428571,-0.714286\n1e-6,0.25,1.5\n2e-6,-1,0\n",
                               {"--columns", "2,3"},
                               "CSV (fields 2,3)"},
                    DialectRun{"numpySavetxt",
                               "-4.285710000000000042e-01 -7.142859999999999765e-01\n"
                               "2.500000000000000000e-01 1.500000000000000000e+00\n"
                               "-1.000000000000000000e+00 0.000000000000000000e+00\n",
                               {"--delimiter", "space"},
                               "CSV (delimiter space)"},
                    DialectRun{"tabs",
                               "-0.428571\t-0.714286\r\n0.25\t1.5\r\n-1\t0\r\n",
                               {"--delimiter", "tab"},
                               "CSV (delimiter tab)"}));

TEST_F(WavepackFormats, LevelSetsThePeak) {
  arbtest::writeText(path("l.csv"), "3,4\n0,1\n");
  expectConversion({"-d", "l.csv", "--level", "0.5"}, {{3, 4}, {0, 1}}, 50000000, "CSV", "", 0.5);
  expectConversion({"-d", "l.csv", "--level", "1"}, {{3, 4}, {0, 1}}, 50000000, "CSV", "", 1.0);
  for (const std::string bad : {"0", "1.5", "-0.2", "x", "0.5x", "nan"}) {
    const ProcessResult r = run({"-d", "l.csv", "--level", bad, "-o", "l.arb"});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.err, "PROGRAM ERROR: --level must be a number greater than 0 and at most 1, not '" +
                         bad + "'\n");
  }
}

// ------------------------------------------------------------ loud misreadings

struct Misreading {
  const char* name;
  std::function<void(const std::string& dir)> write;
  std::vector<std::string> args;
  std::string warning;  // the first line of standard error, without "WARNING: "
};

void PrintTo(const Misreading& c, std::ostream* os) { *os << c.name; }

class WavepackMisreadings : public WavepackFormats,
                            public testing::WithParamInterface<Misreading> {};

TEST_P(WavepackMisreadings, WarnAndFailUnderStrict) {
  const Misreading& c = GetParam();
  c.write(dir_.path().string());
  std::vector<std::string> args = c.args;
  args.insert(args.end(), {"-o", "w.arb"});
  const ProcessResult warned = run(args);
  EXPECT_EQ(warned.exitStatus, 0) << warned.err;
  EXPECT_EQ(warned.err.substr(0, warned.err.find('\n')), "WARNING: " + c.warning);
  EXPECT_TRUE(fs::exists(path("w.arb")));
  fs::remove(path("w.arb"));
  args.push_back("--strict");
  const ProcessResult strict = run(args);
  EXPECT_EQ(strict.exitStatus, 1);
  EXPECT_EQ(strict.err, "PROGRAM ERROR: " + c.warning + "\n");
  EXPECT_EQ(strict.out, "");
  EXPECT_FALSE(fs::exists(path("w.arb")));
  EXPECT_EQ(std::distance(fs::directory_iterator(tmp_), fs::directory_iterator()), 0);
}

std::string garbageAt500() {
  std::string text = "I,Q\n";
  for (int k = 2; k <= 600; ++k)
    text += k == 500 ? "### sensor dropout ###\n" : std::to_string(k) + ",-1\n";
  return text;
}

INSTANTIATE_TEST_SUITE_P(
    WavepackLoud, WavepackMisreadings,
    testing::Values(
        Misreading{"gnuRadioWithMinusB",
                   [](const std::string& d) {
                     arbtest::writeBytes(d + "/rx.cf32", encodeRaw("cf32_le", spiral(64, 9)));
                   },
                   {"-b", "-d", "rx.cf32"},
                   "rx.cf32 is read as 64-bit doubles (-b), but its name says cf32_le: give "
                   "--format cf32_le instead of -b to read it as that"},
        Misreading{"scopeExport",
                   [](const std::string& d) {
                     arbtest::writeText(d + "/s.csv", "Time,I,Q\n0,0.5,0.25\n1e-6,0.75,-0.5\n");
                   },
                   {"-d", "s.csv"},
                   "s.csv line 2 has 3 fields: I is read from field 1 and Q from field 2 "
                   "(--columns chooses others; --delimiter and --decimal-comma read other "
                   "dialects)"},
        Misreading{"europeanAsComma",
                   [](const std::string& d) {
                     arbtest::writeText(d + "/e.csv", "-0,428571;-0,714286\n0,5;0,25\n");
                   },
                   {"-d", "e.csv"},
                   "e.csv line 1 has 3 fields: I is read from field 1 and Q from field 2: "
                   "its values look separated by semicolons with decimal commas; --delimiter "
                   "';' --decimal-comma reads them (--columns chooses others; --delimiter and "
                   "--decimal-comma read other dialects)"},
        Misreading{"garbageOnLine500",
                   [](const std::string& d) { arbtest::writeText(d + "/g.csv", garbageAt500()); },
                   {"-d", "g.csv"},
                   "g.csv line 500: fields 1 and 2 are not numbers, line skipped: \"### sensor "
                   "dropout ###\""},
        Misreading{"trailingBytesWithMinusB",
                   [](const std::string& d) {
                     auto bytes = arbtest::doubleBytes({1.5, -2.5});
                     bytes.insert(bytes.end(), {1, 2, 3, 4});
                     arbtest::writeBytes(d + "/t.bin", bytes);
                   },
                   {"-b", "-d", "t.bin"},
                   "the last 4 bytes of t.bin are ignored: its size, 20 bytes, is not a whole "
                   "number of 16-byte values"},
        Misreading{"fractionalRate",
                   [](const std::string& d) {
                     arbtest::writeBytes(d + "/f.sigmf-data", encodeRaw("cu8", spiral(8, 50)));
                     arbtest::writeText(d + "/f.sigmf-meta",
                                        R"({"global":{"core:datatype":"cu8",
                                            "core:sample_rate":333333.3333}})");
                   },
                   {"-d", "f.sigmf-data"},
                   "the sample rate of f.sigmf-meta, 333333.3333 Hz, is written as the clock "
                   "333333 Hz"}));

TEST_F(WavepackFormats, BlankSeparatedValuesReadAsCsvNameTheDelimiterThatReadsThem) {
  // numpy.savetxt's default form: no comma on any line.
  const std::string text = "5.0e-01 2.5e-01\n-7.5e-01 1.0e+00\n";
  arbtest::writeText(path("np.txt"), text);
  const ProcessResult refused = run({"-d", "np.txt", "-o", "np.arb"});
  EXPECT_EQ(refused.exitStatus, 1);
  EXPECT_THAT(refused.err, ::testing::HasSubstr(
                               "WARNING: np.txt: its lines hold values separated by blanks, not by "
                               "the delimiter; --delimiter space reads them"))
      << refused.err;
  EXPECT_FALSE(fs::exists(path("np.arb")));
  const ProcessResult read = run({"-d", "np.txt", "--delimiter", "space", "-o", "np.arb"});
  EXPECT_EQ(read.exitStatus, 0) << read.err;
  EXPECT_EQ(read.err, "");
  // A line that merely lacks its second field gets no such hint.
  arbtest::writeText(path("one.csv"), "I,Q\n1,2\nabc\n3,4\n");
  EXPECT_THAT(run({"-d", "one.csv", "-o", "one.arb"}).err,
              ::testing::Not(::testing::HasSubstr("--delimiter space")));
}

TEST_F(WavepackFormats, APartialLineIsNamedWithTheLengthFailure) {
  arbtest::writeText(path("p.csv"), "I,Q\n1,2\n3,4\n5,\n6,7\n");
  const ProcessResult r = run({"-d", "p.csv", "-o", "p.arb"});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.err,
            "WARNING: p.csv line 4: field 2 (Q) is not a number: \"5,\"\n"
            "PROGRAM ERROR: Two rows of data length is not equal in p.csv\n"
            "p.csv line 4: field 2 (Q) is not a number: \"5,\"\n");
}

TEST_F(WavepackFormats, ClockFromTheFileMustBePlayable) {
  arbtest::writeBytes(path("r.sigmf-data"), encodeRaw("ci8", spiral(8, 50)));
  arbtest::writeText(path("r.sigmf-meta"),
                     R"({"global":{"core:datatype":"ci8","core:sample_rate":2e8}})");
  const ProcessResult r = run({"-d", "r.sigmf-meta", "-o", "r.arb"});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.err,
            "PROGRAM ERROR: The sample rate of r.sigmf-meta, 200000000 Hz, is not a clock the "
            "instrument plays: Fs must in range [1KHz,50MHz] and 100MHz (give -f to choose the "
            "clock)\n");
  EXPECT_FALSE(fs::exists(path("r.arb")));
  expectConversion({"-d", "r.sigmf-meta", "-f", "100MHz"}, spiral(8, 50), 100000000, "SigMF ci8");
}

struct OptionRule {
  std::vector<std::string> args;
  std::string message;
};

void PrintTo(const OptionRule& c, std::ostream* os) {
  for (const auto& a : c.args) *os << a << ' ';
}

class WavepackFormatRules : public WavepackFormats,
                            public testing::WithParamInterface<OptionRule> {};

TEST_P(WavepackFormatRules, AreCheckedBeforeAnyFileIsOpened) {
  std::vector<std::string> args = GetParam().args;
  args.insert(args.end(), {"-o", "x.arb"});
  const ProcessResult r = run(args);
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.err, "PROGRAM ERROR: " + GetParam().message + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    WavepackRules, WavepackFormatRules,
    testing::Values(
        OptionRule{{"-d", "none.bin", "--format", "cf64"},
                   "Format 'cf64' needs its byte order: cf64_le or cf64_be"},
        OptionRule{{"-d", "none.bin", "--format", "rf32_le"},
                   "rf32_le is a real format: -d takes complex formats (cf32_le); separate I "
                   "and Q files are given with -i and -q"},
        OptionRule{{"-i", "none.bin", "--format", "ci16_le"},
                   "-i takes real formats (ri16_le); none.bin is read as ci16_le, complex: give "
                   "it with -d"},
        OptionRule{{"-q", "none.mat"},
                   "none.mat is a MATLAB recording of I and Q: give it with -d"},
        OptionRule{{"-d", "-", "--format", "wav"},
                   "Standard input is read as CSV or as a raw --format, not WAV"},
        OptionRule{{"-i", "-", "-q", "-"}, "Standard input (-) can be read once only"},
        OptionRule{{"-d", "none.csv", "--format", "text"},
                   "Unknown format 'text': --format takes csv, sigmf, mat, wav or a raw datatype "
                   "such as cf32_le"},
        OptionRule{{"-b", "-d", "none.bin", "--format", "cf32_le"},
                   "-b reads cf64_le and cannot be combined with --format cf32_le"},
        OptionRule{{"-d", "none.csv", "--decimal-comma"},
                   "--decimal-comma needs a delimiter other than ',' (for example --delimiter "
                   "';')"},
        OptionRule{{"-d", "none.csv", "--delimiter", "|"},
                   "--delimiter takes , ; tab or space, not '|'"},
        OptionRule{{"-d", "none.csv", "--columns", "2"},
                   "--columns takes the field numbers of I and Q (from 1) for -d, for example "
                   "2,3, not '2'"},
        OptionRule{{"-d", "none.csv", "--columns", "2,2"},
                   "--columns takes the field numbers of I and Q (from 1) for -d, for example "
                   "2,3, not '2,2'"},
        OptionRule{{"-i", "none.csv", "--columns", "0"},
                   "--columns takes one field number (from 1) for -i and -q files, not '0'"},
        OptionRule{{"-d", "none.cf32", "--delimiter", ";"},
                   "--columns, --delimiter and --decimal-comma apply to CSV input"},
        OptionRule{{"-d", "none.csv", "--variable", "x"},
                   "--variable applies to MATLAB (.mat) input"}));

// ------------------------------------------------- inputs that never hang or kill

// Waits at most `limit` for a running conversion; kills it when it is still running.
ProcessResult finishWithin(arbtest::RunningProcess& process, std::chrono::seconds limit,
                           bool& timedOut) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  timedOut = true;
  while (std::chrono::steady_clock::now() < deadline) {
    std::ifstream stat("/proc/" + std::to_string(process.pid()) + "/stat");
    std::string line;
    std::getline(stat, line);
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos || line.size() < close + 3 || line[close + 2] == 'Z') {
      timedOut = false;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (timedOut) process.kill(SIGKILL);
  return process.wait();
}

class WavepackSpecialInputs : public WavepackFormats,
                              public testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(WavepackSpecialInputs, AFifoIsRefusedWithoutWaitingForAWriter) {
  std::vector<std::string> args = GetParam();
  const std::string fifo = args.back();
  ASSERT_EQ(::mkfifo(path(fifo).c_str(), 0600), 0);
  args.insert(args.end(), {"-o", "f.arb"});
  arbtest::ProcessOptions options;
  options.workingDirectory = dir_.path().string();
  options.environment = {"TMPDIR=" + tmp_.string()};
  arbtest::RunningProcess process(WAVEPACK_PROGRAM, args, options);
  bool timedOut = false;
  const ProcessResult r = finishWithin(process, std::chrono::seconds(20), timedOut);
  ASSERT_FALSE(timedOut) << "the program waited for a writer";
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.err,
            "PROGRAM ERROR: " + fifo + " is not a regular file (standard input is given as -)\n");
}

INSTANTIATE_TEST_SUITE_P(WavepackReaders, WavepackSpecialInputs,
                         testing::Values(std::vector<std::string>{"-d", "p.csv"},
                                         std::vector<std::string>{"-i", "p.csv"},
                                         std::vector<std::string>{"-b", "-d", "p.bin"},
                                         std::vector<std::string>{"-d", "p.cf32"},
                                         std::vector<std::string>{"-d", "p.sigmf-meta"},
                                         std::vector<std::string>{"-d", "p.mat"},
                                         std::vector<std::string>{"-d", "p.wav"}));

TEST_F(WavepackFormats, ASigmfDataFifoIsRefusedToo) {
  arbtest::writeText(path("q.sigmf-meta"), R"({"global":{"core:datatype":"ci8"}})");
  ASSERT_EQ(::mkfifo(path("q.sigmf-data").c_str(), 0600), 0);
  arbtest::ProcessOptions options;
  options.workingDirectory = dir_.path().string();
  options.environment = {"TMPDIR=" + tmp_.string()};
  arbtest::RunningProcess process(WAVEPACK_PROGRAM, {"-d", "q.sigmf-meta", "-o", "q.arb"}, options);
  bool timedOut = false;
  const ProcessResult r = finishWithin(process, std::chrono::seconds(20), timedOut);
  ASSERT_FALSE(timedOut);
  EXPECT_EQ(r.err,
            "PROGRAM ERROR: q.sigmf-data is not a regular file (standard input is given as -)\n");
}

TEST_F(WavepackFormats, HugeInputsAreRefusedFromTheirSize) {
  // A sparse 5 GB file of 625 million doubles: refused before its values are read
  // (reading them first took about 16 GB of memory).
  arbtest::writeBytes(path("huge.bin"), {});
  ASSERT_EQ(::truncate(path("huge.bin").c_str(), 5'000'000'000), 0);
  const auto start = std::chrono::steady_clock::now();
  const ProcessResult r = run({"-b", "-i", "huge.bin", "-o", "h.arb"});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.err,
            "PROGRAM ERROR: Too many IQ pairs in huge.bin (625000000): an .arb file holds at "
            "most 536870911\n");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

TEST_F(WavepackFormats, AnInputThatShrinksWhileReadIsReportedNotASignal) {
  // A conversion long enough to be caught in the middle: the input is cut to a tenth
  // shortly after the start. A memory-mapped reader dies with SIGBUS here.
  std::string text;
  text.reserve(48 << 20);
  char line[64];
  for (int k = 0; text.size() < (40u << 20); ++k) {
    std::snprintf(line, sizeof line, "%.6f,%.6f\n", std::sin(k * 0.001), std::cos(k * 0.001));
    text += line;
  }
  for (const int delayMs : {5, 40, 150}) {
    SCOPED_TRACE(delayMs);
    arbtest::writeText(path("big.csv"), text);
    arbtest::ProcessOptions options;
    options.workingDirectory = dir_.path().string();
    options.environment = {"TMPDIR=" + tmp_.string()};
    arbtest::RunningProcess process(WAVEPACK_PROGRAM, {"-d", "big.csv", "-o", "big.arb"}, options);
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    // Cut at a line end: what is left is a sound file of its own.
    const auto cut = static_cast<off_t>(text.find('\n', text.size() / 10) + 1);
    ASSERT_EQ(::truncate(path("big.csv").c_str(), cut), 0);
    bool timedOut = false;
    const ProcessResult r = finishWithin(process, std::chrono::seconds(120), timedOut);
    ASSERT_FALSE(timedOut);
    EXPECT_EQ(r.signal, 0) << "ended by signal " << r.signal;
    if (r.exitStatus != 0) {
      EXPECT_THAT(r.err, ::testing::HasSubstr("big.csv changed while being read")) << r.err;
    }
  }
}

TEST_F(WavepackFormats, HelpNamesTheFormatsUnitsAndExamples) {
  const ProcessResult r = run({"--help"});
  EXPECT_EQ(r.exitStatus, 0);
  for (const char* part :
       {"in-phase and quadrature components", "--format <FMT>", "--columns <I,Q>",
        "--delimiter <D>", "--decimal-comma", "--variable <NAME>", "--level <X>", "--strict",
        "FORMATS", "cf32_le", "ci16_le", "cu8", ".sigmf-meta", "MATLAB v5 and v7.3", "two channels",
        "CLOCK", "10MHz, 10m, 2.5k, 1e6", "EXAMPLES", "--columns 2,3"})
    EXPECT_THAT(r.out, ::testing::HasSubstr(part)) << part;
}

}  // namespace
