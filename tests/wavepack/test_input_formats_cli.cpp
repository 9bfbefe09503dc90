// The wavepack program on GNU Radio metadata files (made byte by byte here, and by
// GNU Radio itself where python3-gnuradio is installed), SigMF archives and the
// SigMF and MATLAB inputs whose clock or first samples were taken without a word,
// and the --format names: converted samples, clocks and diagnostics as a user
// sees them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <matio.h>

#include <cmath>
#include <filesystem>

#include "arb_samples.h"
#include "files.h"
#include "gnuradio_files.h"
#include "process.h"
#include "scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using arbtest::ProcessResult;
using grtest::Bytes;
using Pairs = std::vector<std::pair<double, double>>;

constexpr const char* kPython = "/usr/bin/python3";

// trunc(v / peak x 0.81 x 8191) of every value, the peak being the largest modulus.
std::vector<std::int16_t> quantise(const Pairs& pairs) {
  double peak = 0;
  for (const auto& [i, q] : pairs) peak = std::max(peak, std::hypot(i, q));
  std::vector<std::int16_t> samples;
  for (const auto& [i, q] : pairs)
    for (double v : {i, q})
      samples.push_back(
          peak == 0 ? 0 : static_cast<std::int16_t>(std::trunc(v / peak * (0.81 * 8191))));
  return samples;
}

// Complex floats whose values a float holds exactly, and their bytes.
struct Signal {
  Pairs pairs;
  Bytes cf32;
  Bytes ci16;
};

Signal signal(std::size_t count, int seed = 0) {
  Signal s;
  std::vector<float> floats;
  std::vector<std::int16_t> shorts;
  for (std::size_t k = 0; k < count; ++k) {
    const double i = static_cast<double>((static_cast<int>(k) * 7 + seed) % 201 - 100);
    const double q = static_cast<double>((static_cast<int>(k) * 13 + 3 * seed) % 181 - 90);
    s.pairs.emplace_back(i, q);
    floats.insert(floats.end(), {static_cast<float>(i), static_cast<float>(q)});
    shorts.insert(shorts.end(), {static_cast<std::int16_t>(i), static_cast<std::int16_t>(q)});
  }
  s.cf32 = grtest::littleEndian(floats);
  s.ci16 = grtest::littleEndian(shorts);
  return s;
}

Pairs joined(std::initializer_list<const Pairs*> parts) {
  Pairs all;
  for (const Pairs* p : parts) all.insert(all.end(), p->begin(), p->end());
  return all;
}

class WavepackInputFormats : public testing::Test {
 protected:
  void SetUp() override { fs::create_directory(tmp_); }

  ProcessResult run(std::vector<std::string> args) {
    arbtest::ProcessOptions options;
    options.workingDirectory = dir_.path().string();
    options.environment = {"TMPDIR=" + tmp_.string()};
    return arbtest::runProcess(WAVEPACK_PROGRAM, args, options);
  }
  std::string path(const std::string& name) const { return dir_.file(name); }
  void write(const std::string& name, const Bytes& bytes) {
    arbtest::writeBytes(path(name), bytes);
  }
  void write(const std::string& name, const std::string& text) {
    arbtest::writeText(path(name), text);
  }

  // Converts; checks the samples, the clock, the summary's format and standard error.
  void expectConversion(std::vector<std::string> args, const Pairs& written, int clock,
                        const std::string& format, const std::string& err = "") {
    args.insert(args.end(), {"-o", "out.arb"});
    const ProcessResult r = run(args);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.err, err);
    const std::vector<std::int16_t> expected = quantise(written);
    EXPECT_EQ(r.out, "Successfully converts the binary format file to out.arb\n" +
                         arbtest::expectedSummary(expected, clock, format) + "\n");
    std::string text;
    EXPECT_EQ(arbtest::readArb(path("out.arb"), text), expected);
    fs::remove(path("out.arb"));
  }

  // Refused: exit status 1, nothing written, the message on standard error.
  void expectRefusal(std::vector<std::string> args, const std::string& message) {
    args.insert(args.end(), {"-o", "no.arb"});
    const ProcessResult r = run(args);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.err, "PROGRAM ERROR: " + message + "\n");
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(fs::exists(path("no.arb")));
  }

  // Warned about, and refused with --strict.
  void expectWarning(std::vector<std::string> args, const std::string& warning) {
    args.insert(args.end(), {"-o", "w.arb"});
    const ProcessResult warned = run(args);
    EXPECT_EQ(warned.exitStatus, 0) << warned.err;
    EXPECT_EQ(warned.err, "WARNING: " + warning + "\n");
    fs::remove(path("w.arb"));
    args.push_back("--strict");
    const ProcessResult strict = run(args);
    EXPECT_EQ(strict.exitStatus, 1);
    EXPECT_EQ(strict.err, "PROGRAM ERROR: " + warning + "\n");
    EXPECT_FALSE(fs::exists(path("w.arb")));
  }

  arbtest::ScratchDir dir_;
  fs::path tmp_ = dir_.path() / "tmp";
};

// ------------------------------------------------------------ GNU Radio metadata

TEST_F(WavepackInputFormats, GnuRadioInlineHeadersAreReadNotPackedAsSamples) {
  const Signal s = signal(5000);
  // 149 + 19 bytes: 21 whole cf32 samples, once packed as 5,021 samples for 5,000.
  write("rx.cfile",
        grtest::inlineFile({grtest::segment(1e6, 8, grtest::kFloat, true, s.cf32, 19)}));
  expectConversion({"-d", "rx.cfile"}, s.pairs, 1000000, "GNU Radio cf32_le");
  // 149 + 21 bytes: once refused as ending with a partial sample.
  write("rx.fc32", grtest::inlineFile({grtest::segment(2e6, 8, grtest::kFloat, true, s.cf32, 21)}));
  expectConversion({"-d", "rx.fc32"}, s.pairs, 2000000, "GNU Radio cf32_le");
  // Any other name (once read as CSV), and --format gnuradio in any case.
  write("capture.dat", grtest::inlineFile({grtest::segment(5e5, 4, grtest::kShort, true, s.ci16)}));
  expectConversion({"-d", "capture.dat"}, s.pairs, 500000, "GNU Radio ci16_le");
  expectConversion({"-d", "capture.dat", "--format", "GNURadio"}, s.pairs, 500000,
                   "GNU Radio ci16_le");
  // -f chooses another clock, as for the other formats with a sample rate.
  expectConversion({"-d", "capture.dat", "-f", "10MHz"}, s.pairs, 10000000, "GNU Radio ci16_le");
}

TEST_F(WavepackInputFormats, GnuRadioSegmentsInlineAndDetached) {
  const Signal a = signal(1000, 1);
  const Signal b = signal(1500, 2);
  const Signal c = signal(10, 3);
  const std::vector<grtest::Segment> segments = {
      grtest::segment(250000, 8, grtest::kFloat, true, a.cf32),
      grtest::segment(250000, 8, grtest::kFloat, true, b.cf32, 33),
      grtest::segment(250000, 8, grtest::kFloat, true, c.cf32)};
  const Pairs all = joined({&a.pairs, &b.pairs, &c.pairs});
  write("tagged.dat", grtest::inlineFile(segments));
  expectConversion({"-d", "tagged.dat"}, all, 250000, "GNU Radio cf32_le, 3 headers");
  const auto [headers, data] = grtest::detachedFiles(segments);
  write("rx.cf32", data);
  write("rx.cf32.hdr", headers);
  const std::string format = "GNU Radio cf32_le, detached header, 3 headers";
  expectConversion({"-d", "rx.cf32"}, all, 250000, format);
  expectConversion({"-d", "rx.cf32.hdr"}, all, 250000, format);
  expectConversion({"-d", "rx.cf32", "--format", "gnuradio"}, all, 250000, format);
  // A data file whose name reads as CSV, its header beside it.
  write("plain.txt", data);
  write("plain.txt.hdr", headers);
  expectConversion({"-d", "plain.txt"}, all, 250000, format);
}

TEST_F(WavepackInputFormats, GnuRadioRealFilesForIAndQ) {
  const Signal s = signal(300);
  std::vector<float> iValues, qValues;
  Pairs both;
  for (const auto& [i, q] : s.pairs) {
    iValues.push_back(static_cast<float>(i));
    qValues.push_back(static_cast<float>(q));
  }
  write("i.dat", grtest::inlineFile({grtest::segment(8e5, 4, grtest::kFloat, false,
                                                     grtest::littleEndian(iValues))}));
  write("q.dat", grtest::inlineFile({grtest::segment(8e5, 4, grtest::kFloat, false,
                                                     grtest::littleEndian(qValues))}));
  expectConversion({"-i", "i.dat", "-q", "q.dat"}, s.pairs, 800000,
                   "GNU Radio rf32_le, I and Q files");
  write("q.dat", grtest::inlineFile({grtest::segment(9e5, 4, grtest::kFloat, false,
                                                     grtest::littleEndian(qValues))}));
  expectRefusal({"-i", "i.dat", "-q", "q.dat"},
                "The sample rates of the I and Q files differ: 800000 Hz in i.dat, 900000 Hz in "
                "q.dat");
  expectRefusal({"-d", "i.dat"},
                "i.dat holds real float items (\"cplx\" false, \"size\" 4): -d takes complex "
                "items or items of two values (I and Q); separate I and Q files are given with -i "
                "and -q");
}

TEST_F(WavepackInputFormats, GnuRadioRefusalsNameTheHeaderAndField) {
  grtest::Segment s = grtest::segment(1e6, 8, grtest::kFloat, true, signal(10).cf32);
  grtest::setField(s.fields, "version", grtest::pmtInt32(1));
  write("v.dat", grtest::inlineFile({s}));
  expectRefusal(
      {"-d", "v.dat"},
      "v.dat: header 1 (at byte 0): \"version\" is 1; wavepack reads headers of version 0");
  s = grtest::segment(1e6, 8, grtest::kFloat, true, signal(10).cf32);
  grtest::eraseField(s.fields, "rx_rate");
  write("r.cfile", grtest::inlineFile({s}));
  expectRefusal({"-d", "r.cfile"}, "r.cfile: header 1 (at byte 0): it has no \"rx_rate\" field");
  write("d.raw", signal(10).cf32);
  write("d.raw.hdr",
        grtest::detachedFiles({grtest::segment(1e6, 8, grtest::kLongLong, true, signal(5).cf32)})
            .first);
  expectRefusal({"-d", "d.raw.hdr"},
                "d.raw.hdr: header 1 (at byte 0): \"type\" is 4 (long long): wavepack reads items "
                "of byte, short, int, float and double");
  // Standard input is never GNU Radio metadata.
  expectRefusal({"-d", "-", "--format", "gnuradio"},
                "Standard input is read as CSV or as a raw --format, not GNU Radio metadata");
}

TEST_F(WavepackInputFormats, AnExplicitRawFormatReadsTheHeaderAsSamplesWithAWarning) {
  write("rx.bin",
        grtest::inlineFile({grtest::segment(1e6, 8, grtest::kFloat, true, signal(100).cf32, 19)}));
  expectWarning({"-d", "rx.bin", "--format", "cf32_le"},
                "rx.bin starts with a GNU Radio metadata header, which --format cf32_le reads as "
                "samples (--format gnuradio reads the header)");
}

TEST_F(WavepackInputFormats, FilesGnuRadioWrites) {
  const ProcessResult probe =
      arbtest::runProcess(kPython, {"-c", "import pmt\nfrom gnuradio import gr, blocks"});
  if (probe.exitStatus != 0) GTEST_SKIP() << "python3-gnuradio is not installed";
  // 2,500 samples in segments of at most 1,000 items, with an extra dictionary.
  const std::string script = R"(
import sys, pmt
from gnuradio import gr, blocks
path, detached = sys.argv[1], sys.argv[2] == "1"
data = [complex(k % 201 - 100, (k * 13) % 181 - 90) for k in range(2500)]
extra = pmt.dict_add(pmt.make_dict(), pmt.intern("antenna"), pmt.intern("RX2"))
tb = gr.top_block()
source = blocks.vector_source_c(data, False)
sink = blocks.file_meta_sink(gr.sizeof_gr_complex, path, 1.25e6, 1, blocks.GR_FILE_FLOAT,
                             True, 1000, extra, detached)
tb.connect(source, sink)
tb.run()
sink.close()
)";
  Pairs pairs;
  for (int k = 0; k < 2500; ++k) pairs.emplace_back(k % 201 - 100, (k * 13) % 181 - 90);
  for (const char* detached : {"0", "1"}) {
    SCOPED_TRACE(detached);
    const std::string file = path(std::string("gr") + detached + ".dat");
    const ProcessResult made = arbtest::runProcess(kPython, {"-c", script, file, detached});
    ASSERT_EQ(made.exitStatus, 0) << made.err;
    const ProcessResult r = run({"-d", file, "-o", "gr.arb"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::string text;
    EXPECT_EQ(arbtest::readArb(path("gr.arb"), text), quantise(pairs));
    EXPECT_THAT(r.out, ::testing::HasSubstr("clock 1250000 Hz")) << r.out;
  }
}

// ------------------------------------------------------------------------ SigMF

TEST_F(WavepackInputFormats, SigmfWithoutSampleRateNamesTheDefaultClock) {
  write("n.sigmf-data", signal(64).ci16);
  write("n.sigmf-meta", std::string(R"({"global":{"core:datatype":"ci16_le"}})"));
  expectWarning({"-d", "n.sigmf-meta"},
                "n.sigmf-meta has no core:sample_rate: the clock is the default, 50000000 Hz (-f "
                "chooses it)");
  // With -f nothing is assumed.
  expectConversion({"-d", "n.sigmf-meta", "-f", "2MHz"}, signal(64).pairs, 2000000,
                   "SigMF ci16_le");
}

TEST_F(WavepackInputFormats, SigmfCapturesAfterOrBeforeTheFirstSample) {
  const Signal s = signal(100);
  write("c.sigmf-data", s.ci16);
  write("c.sigmf-meta", std::string(R"({"global":{"core:datatype":"ci16_le","core:sample_rate":1e6},
                        "captures":[{"core:sample_start":40}]})"));
  expectWarning({"-d", "c.sigmf-meta"},
                "c.sigmf-meta: the first capture starts at sample 40 (core:sample_start): the 40 "
                "samples of c.sigmf-data before it are not converted");
  // A capture before core:offset (a start counted in the file, or left from the
  // whole recording) starts at the data file's first sample: nothing is lost.
  write("c.sigmf-meta", std::string(R"({"global":{"core:datatype":"ci16_le","core:sample_rate":1e6,
                                  "core:offset":1000},
                        "captures":[{"core:sample_start":0}]})"));
  expectConversion({"-d", "c.sigmf-meta"}, s.pairs, 1000000, "SigMF ci16_le",
                   "WARNING: c.sigmf-meta: the first capture starts at sample 0 "
                   "(core:sample_start), before core:offset 1000, the index of the data file's "
                   "first sample: it is read from the data file's first sample\n");
  // A capture past the end names both counts.
  write("c.sigmf-meta", std::string(R"({"global":{"core:datatype":"ci16_le","core:offset":1000},
                        "captures":[{"core:sample_start":1200}]})"));
  expectRefusal({"-d", "c.sigmf-meta"},
                "c.sigmf-meta: the first capture starts at sample 1200 (core:sample_start), past "
                "the end of the data: c.sigmf-data holds 100 samples, from sample 1000 "
                "(core:offset)");
  write("c.sigmf-meta", std::string(R"({"global":{"core:datatype":"ci16_le"},
                        "captures":[{"core:sample_start":101}]})"));
  expectRefusal({"-d", "c.sigmf-meta"},
                "c.sigmf-meta: the first capture starts at sample 101 (core:sample_start), past "
                "the end of the data: c.sigmf-data holds 100 samples");
  // Header and trailing bytes larger than the file keep their message.
  write("c.sigmf-meta",
        std::string(R"({"global":{"core:datatype":"ci16_le","core:trailing_bytes":300},
                        "captures":[{"core:sample_start":0,"core:header_bytes":200}]})"));
  expectRefusal({"-d", "c.sigmf-meta"},
                "c.sigmf-data is 400 bytes, shorter than the header and trailing bytes "
                "c.sigmf-meta describes");
}

// A tar file made by Python's tarfile module, in its default (pax) format.
const char* const kMakeArchive = R"(
import io, sys, tarfile
names = sys.argv[2:]
with tarfile.open(sys.argv[1], "w") as archive:
    for name in names:
        data = open(name, "rb").read()
        info = tarfile.TarInfo("a-recording-folder-whose-name-is-longer-than-a-tar-name-field-" +
                               "holds/" + name)
        info.size = len(data)
        archive.addfile(info, io.BytesIO(data))
)";

TEST_F(WavepackInputFormats, SigmfArchivesAreReadNotTakenForCsv) {
  const Signal s = signal(333);
  write("rec.sigmf-data", s.ci16);
  write("rec.sigmf-meta",
        std::string(R"({"global":{"core:datatype":"ci16_le","core:sample_rate":3e6}})"));
  const ProcessResult made = arbtest::runProcess(
      kPython, {"-c", kMakeArchive, "rec.sigmf", "rec.sigmf-meta", "rec.sigmf-data"},
      dir_.path().string());
  ASSERT_EQ(made.exitStatus, 0) << made.err;
  fs::remove(path("rec.sigmf-data"));
  fs::remove(path("rec.sigmf-meta"));
  expectConversion({"-d", "rec.sigmf"}, s.pairs, 3000000, "SigMF ci16_le");
  expectConversion({"-d", "rec.sigmf", "--format", "SIGMF"}, s.pairs, 3000000, "SigMF ci16_le");
  // A .sigmf file that is no archive is refused as such, never read as CSV.
  write("text.sigmf", std::string("1,2\n3,4\n"));
  expectRefusal({"-d", "text.sigmf"},
                "text.sigmf is not a tar archive (a SigMF archive is an uncompressed tar file of "
                ".sigmf-meta and .sigmf-data files)");
}

TEST_F(WavepackInputFormats, MatWithoutRateNamesTheDefaultClock) {
  mat_t* mat = Mat_CreateVer(path("m.mat").c_str(), nullptr, MAT_FT_MAT5);
  ASSERT_NE(mat, nullptr);
  double re[2] = {1, -2};
  double im[2] = {0.5, 3};
  mat_complex_split_t split = {re, im};
  std::size_t dims[2] = {2, 1};
  matvar_t* var = Mat_VarCreate("iq", MAT_C_DOUBLE, MAT_T_DOUBLE, 2, dims, &split, MAT_F_COMPLEX);
  ASSERT_NE(var, nullptr);
  EXPECT_EQ(Mat_VarWrite(mat, var, MAT_COMPRESSION_NONE), 0);
  Mat_VarFree(var);
  Mat_Close(mat);
  expectWarning({"-d", "m.mat"},
                "m.mat gives no sample rate (a real scalar fs, Fs, FS, SampleRate or "
                "sample_rate): the clock is the default, 50000000 Hz (-f chooses it)");
}

// ------------------------------------------------------------------- --format

TEST_F(WavepackInputFormats, FormatNamesInAnyCaseAndTheNamesOfRawFiles) {
  const Signal s = signal(50);
  write("iq.bin", s.cf32);
  write("iq16.bin", s.ci16);
  expectConversion({"-d", "iq.bin", "--format", "CF32_LE"}, s.pairs, 50000000, "cf32_le");
  expectConversion({"-d", "iq.bin", "--format", "cf32"}, s.pairs, 50000000, "cf32_le",
                   "NOTE: --format cf32 is read as cf32_le, little-endian (cf32_be reads "
                   "big-endian samples)\n");
  for (const std::string name : {"cfile", "FC32"})
    expectConversion({"-d", "iq.bin", "--format", name}, s.pairs, 50000000, "cf32_le",
                     "NOTE: --format " + name + " is read as cf32_le, little-endian\n");
  for (const std::string name : {"sc16", "cs16"})
    expectConversion({"-d", "iq16.bin", "--format", name}, s.pairs, 50000000, "ci16_le",
                     "NOTE: --format " + name + " is read as ci16_le, little-endian\n");
  expectConversion({"-d", "iq16.bin", "--format", "ci16"}, s.pairs, 50000000, "ci16_le",
                   "NOTE: --format ci16 is read as ci16_le, little-endian (ci16_be reads "
                   "big-endian samples)\n");
  // A note is no warning: --strict converts.
  expectConversion({"-d", "iq16.bin", "--format", "sc16", "--strict"}, s.pairs, 50000000, "ci16_le",
                   "NOTE: --format sc16 is read as ci16_le, little-endian\n");
  write("iq.txt", std::string("1,2\n3,4\n"));
  const ProcessResult csv = run({"-d", "iq.txt", "--format", "CSV", "-o", "csv.arb"});
  EXPECT_EQ(csv.exitStatus, 0) << csv.err;
  // -b reads cf64_le, however it is written.
  write("d.bin", grtest::littleEndian<double>({1, 2, 3, 4}));
  const ProcessResult b = run({"-b", "-d", "d.bin", "--format", "CF64_LE", "-o", "b.arb"});
  EXPECT_EQ(b.exitStatus, 0) << b.err;
}

// ------------------------------------------------------------- documentation

// The help and the README name the new inputs and the centre of unsigned 8-bit
// data, raw cu8 (127.5) and in a WAV file (128), and the program keeps to it.
TEST_F(WavepackInputFormats, TheCentreOfCu8IsDocumentedForRawAndWavData) {
  const ProcessResult help = run({"--help"});
  const std::string readme = arbtest::readText(std::string(ARBSUITE_SOURCE_DIR) + "/README.md");
  for (const std::string& text : {help.out, readme}) {
    EXPECT_THAT(text, ::testing::HasSubstr("127.5"));
    EXPECT_THAT(text, ::testing::HasSubstr("centred on 128"));
    EXPECT_THAT(text, ::testing::HasSubstr("libsndfile"));
    EXPECT_THAT(text, ::testing::HasSubstr("gnuradio"));
    EXPECT_THAT(text, ::testing::HasSubstr(".sigmf"));
    EXPECT_THAT(text, ::testing::HasSubstr(".hdr"));
  }
  const Bytes values = {128, 127, 255, 0, 200, 10};
  write("u8.cu8", values);
  Pairs raw;
  Pairs wav;
  for (std::size_t k = 0; k < values.size(); k += 2) {
    raw.emplace_back(values[k] - 127.5, values[k + 1] - 127.5);
    wav.emplace_back(values[k] - 128.0, values[k + 1] - 128.0);
  }
  expectConversion({"-d", "u8.cu8"}, raw, 50000000, "cu8");
  // A two-channel 8-bit PCM WAV file (RIFF, fmt, data) of the same bytes.
  Bytes file;
  auto text = [&](const std::string& four) {
    for (char c : four) file.push_back(static_cast<std::uint8_t>(c));
  };
  auto u32 = [&](std::uint32_t v) {
    grtest::append(file, grtest::littleEndian<std::uint32_t>({v}));
  };
  auto u16 = [&](std::uint16_t v) {
    grtest::append(file, grtest::littleEndian<std::uint16_t>({v}));
  };
  text("RIFF");
  u32(static_cast<std::uint32_t>(36 + values.size()));
  text("WAVE");
  text("fmt ");
  u32(16);
  u16(1);      // PCM
  u16(2);      // channels
  u32(48000);  // frames per second
  u32(96000);  // bytes per second
  u16(2);      // bytes per frame
  u16(8);      // bits per sample
  text("data");
  u32(static_cast<std::uint32_t>(values.size()));
  grtest::append(file, values);
  write("u8.wav", file);
  expectConversion({"-d", "u8.wav"}, wav, 48000, "WAV (Microsoft), Unsigned 8 bit PCM");
}

}  // namespace
