// The wavepack program on files that lie: MATLAB v5 files whose data elements are
// written byte by byte with wrong types, sizes and compressed streams, WAV headers
// that announce more than the file holds, CSV text with hexadecimal numbers, CR line
// ends, byte-order marks, decimal commas and binary bytes, values at the bottom of the
// double range, and a temporary folder without room. None may convert to wrong data
// with success.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "files.h"
#include "program_fixture.h"

namespace {

using namespace wavepack_test;
using Bytes = std::vector<std::uint8_t>;
using testing::HasSubstr;

// ------------------------------------------------------------ MATLAB v5 elements

void put32(Bytes& out, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) out.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
}

// One data element: its tag, the data, and zeros to the next 8-byte boundary.
Bytes element(std::uint32_t type, const Bytes& data) {
  Bytes out;
  put32(out, type);
  put32(out, static_cast<std::uint32_t>(data.size()));
  out.insert(out.end(), data.begin(), data.end());
  while (out.size() % 8 != 0) out.push_back(0);
  return out;
}

Bytes doubles(const std::vector<double>& values) {
  Bytes out;
  for (const double v : values) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, 8);
    for (int k = 0; k < 8; ++k) out.push_back(static_cast<std::uint8_t>(bits >> (8 * k)));
  }
  return out;
}

constexpr std::uint32_t kInt8 = 1, kInt32 = 5, kUint32 = 6, kDouble = 9, kMatrix = 14,
                        kCompressed = 15;
constexpr std::uint32_t kDoubleClass = 6;

struct MatPart {
  std::uint32_t type = kDouble;
  Bytes data;
};

// A numeric matrix element: array flags, dimensions, name, then the parts given (a
// complex variable normally has two).
Bytes matrix(const std::string& name, std::vector<std::int32_t> dims, bool complex,
             const std::vector<MatPart>& parts) {
  Bytes body;
  Bytes flags;
  put32(flags, kDoubleClass | (complex ? 0x800u : 0u));
  put32(flags, 0);
  Bytes flagElement = element(kUint32, flags);
  body.insert(body.end(), flagElement.begin(), flagElement.end());
  Bytes dimBytes;
  for (const std::int32_t d : dims) put32(dimBytes, static_cast<std::uint32_t>(d));
  const Bytes dimElement = element(kInt32, dimBytes);
  body.insert(body.end(), dimElement.begin(), dimElement.end());
  const Bytes nameElement = element(kInt8, Bytes(name.begin(), name.end()));
  body.insert(body.end(), nameElement.begin(), nameElement.end());
  for (const MatPart& part : parts) {
    const Bytes e = element(part.type, part.data);
    body.insert(body.end(), e.begin(), e.end());
  }
  return element(kMatrix, body);
}

// The 128-byte header of a little-endian v5 file, then the elements.
Bytes matFile(const std::vector<Bytes>& elements) {
  std::string text = "MATLAB 5.0 MAT-file, written byte by byte by the wavepack tests";
  text.resize(116, ' ');
  Bytes out(text.begin(), text.end());
  out.resize(124, 0);  // subsystem offset
  out.push_back(0x00);
  out.push_back(0x01);  // version 0x0100
  out.push_back('I');
  out.push_back('M');
  for (const Bytes& e : elements) out.insert(out.end(), e.begin(), e.end());
  return out;
}

// A compressed element holding `inner`; `keep` cuts its zlib stream to that many bytes.
Bytes compressed(const Bytes& inner, std::size_t keep = SIZE_MAX) {
  uLongf length = compressBound(inner.size());
  Bytes stream(length);
  EXPECT_EQ(compress2(stream.data(), &length, inner.data(), inner.size(), 6), Z_OK);
  stream.resize(std::min<std::size_t>(length, keep));
  Bytes out;
  put32(out, kCompressed);
  put32(out, static_cast<std::uint32_t>(stream.size()));
  out.insert(out.end(), stream.begin(), stream.end());
  return out;
}

const Pairs kMatPairs = {{1, -2}, {3, 0.5}, {-4, 4}, {0.25, -1}};

std::vector<double> reals(const Pairs& pairs) {
  std::vector<double> v;
  for (const auto& p : pairs) v.push_back(p.first);
  return v;
}
std::vector<double> imags(const Pairs& pairs) {
  std::vector<double> v;
  for (const auto& p : pairs) v.push_back(p.second);
  return v;
}

Bytes iqVariable() {
  return matrix("iq", {4, 1}, true,
                {{kDouble, doubles(reals(kMatPairs))}, {kDouble, doubles(imags(kMatPairs))}});
}
Bytes rateVariable(double hz = 2e6) {
  return matrix("fs", {1, 1}, false, {{kDouble, doubles({hz})}});
}

class WavepackHostileFiles : public WavepackFormats {
 protected:
  // A refusal: exit 1, the words on standard error, no output, in strict mode too.
  void expectRefusal(const std::vector<std::string>& args, const std::string& words) {
    for (const bool strict : {false, true}) {
      std::vector<std::string> all = args;
      if (strict) all.push_back("--strict");
      all.insert(all.end(), {"-o", "refused.arb"});
      const ProcessResult r = run(all);
      EXPECT_EQ(r.exitStatus, 1) << arbtest::describe(r);
      EXPECT_THAT(r.err, HasSubstr(words)) << strict;
      EXPECT_EQ(r.out, "");
      EXPECT_FALSE(fs::exists(path("refused.arb")));
    }
  }
  // A warning that --strict makes the error.
  void expectWarning(const std::vector<std::string>& args, const std::string& words) {
    std::vector<std::string> all = args;
    all.insert(all.end(), {"-o", "warned.arb"});
    const ProcessResult r = run(all);
    EXPECT_EQ(r.exitStatus, 0) << arbtest::describe(r);
    EXPECT_THAT(r.err, HasSubstr("WARNING: "));
    EXPECT_THAT(r.err, HasSubstr(words));
    all.push_back("--strict");
    all.back() = "--strict";
    std::vector<std::string> strict = args;
    strict.insert(strict.end(), {"--strict", "-o", "strict.arb"});
    const ProcessResult s = run(strict);
    EXPECT_EQ(s.exitStatus, 1) << arbtest::describe(s);
    EXPECT_THAT(s.err, HasSubstr(words));
    EXPECT_FALSE(fs::exists(path("strict.arb")));
  }
};

TEST_F(WavepackHostileFiles, HandBuiltMatFileConverts) {
  // The builder itself is right: the plain and the compressed file convert.
  arbtest::writeBytes(path("plain.mat"), matFile({iqVariable(), rateVariable()}));
  expectConversion({"-d", "plain.mat"}, kMatPairs, 2000000,
                   "MATLAB v5 variable iq (4x1 complex double)");
  arbtest::writeBytes(path("zipped.mat"),
                      matFile({compressed(iqVariable()), compressed(rateVariable())}));
  expectConversion({"-d", "zipped.mat"}, kMatPairs, 2000000,
                   "MATLAB v5 variable iq (4x1 complex double)");
}

TEST_F(WavepackHostileFiles, MatDataOfAnUnknownOrWrongTypeIsRefused) {
  for (const std::uint32_t type : {99u, kMatrix}) {
    SCOPED_TRACE(type);
    arbtest::writeBytes(
        path("t.mat"),
        matFile({matrix("iq", {4, 1}, true,
                        {{type, doubles(reals(kMatPairs))}, {kDouble, doubles(imags(kMatPairs))}}),
                 rateVariable()}));
    expectRefusal({"-d", "t.mat"}, "variable iq whose real part has data type " +
                                       std::to_string(type) + ", not a numeric type");
  }
}

TEST_F(WavepackHostileFiles, MatPartsThatDoNotFitTheirDimensionsAreRefused) {
  const Bytes shortReal = doubles({1, 3, -4});
  arbtest::writeBytes(
      path("short-real.mat"),
      matFile({matrix("iq", {4, 1}, true,
                      {{kDouble, shortReal}, {kDouble, doubles(imags(kMatPairs))}})}));
  expectRefusal({"-d", "short-real.mat"},
                "variable iq whose real part holds 24 bytes where its dimensions need 32");
  arbtest::writeBytes(
      path("short-imag.mat"),
      matFile({matrix("iq", {4, 1}, true,
                      {{kDouble, doubles(reals(kMatPairs))}, {kDouble, doubles({1, 2})}})}));
  expectRefusal({"-d", "short-imag.mat"},
                "variable iq whose imaginary part holds 16 bytes where its dimensions need 32");
  arbtest::writeBytes(
      path("no-imag.mat"),
      matFile({matrix("iq", {4, 1}, true, {{kDouble, doubles(reals(kMatPairs))}})}));
  expectRefusal({"-d", "no-imag.mat"}, "variable iq marked complex without an imaginary part");
}

TEST_F(WavepackHostileFiles, TruncatedMatFilesAreRefusedNamingTheVariable) {
  const Bytes whole = matFile({iqVariable(), rateVariable()});
  // Cut inside the imaginary part of iq, and inside fs (which would lose the clock).
  const std::size_t iqEnd = 128 + iqVariable().size();
  // fs is cut after its name (8 + 16 + 16 + 16 bytes), inside its value.
  for (const std::size_t cut : {iqEnd - 12, iqEnd + 60}) {
    SCOPED_TRACE(cut);
    arbtest::writeBytes(path("cut.mat"), Bytes(whole.begin(), whole.begin() + cut));
    expectRefusal({"-d", "cut.mat"}, "cut.mat is truncated: variable " +
                                         std::string(cut < iqEnd ? "iq" : "fs") + " needs ");
  }
}

TEST_F(WavepackHostileFiles, BrokenCompressedStreamsAreRefused) {
  const Bytes inner = iqVariable();
  const std::size_t full = compressed(inner).size() - 8;
  arbtest::writeBytes(path("short.mat"), matFile({compressed(inner, full - 10), rateVariable()}));
  expectRefusal({"-d", "short.mat"},
                "has compressed data of variable iq that ends before the variable does");
  // A changed value, or a changed checksum: the stream no longer matches its Adler-32,
  // which only inflating it to its end shows.
  const Bytes good = compressed(inner);
  for (const std::size_t at : {good.size() / 2 + 4, good.size() - 1}) {
    SCOPED_TRACE(at);
    Bytes damaged = good;
    damaged[at] ^= 0x01;
    arbtest::writeBytes(path("damaged.mat"), matFile({damaged, rateVariable()}));
    expectRefusal({"-d", "damaged.mat"}, "damaged.mat has compressed data of ");
  }
}

TEST_F(WavepackHostileFiles, TwoVariablesOfOneNameAreRefused) {
  // libmatio reads the first "iq" (real, 1x3) where the complex one was chosen.
  const Bytes other = matrix("iq", {1, 3}, false, {{kDouble, doubles({1, 2, 3})}});
  arbtest::writeBytes(path("twice.mat"), matFile({other, iqVariable()}));
  expectRefusal({"-d", "twice.mat"}, "twice.mat holds more than one variable named iq");
}

TEST_F(WavepackHostileFiles, ScalarsAndRatesAreNotCountedAsSeveralIqVariables) {
  // A 1x2 fs (warned: not a rate) beside the waveform, and a single complex value.
  const Bytes pairRate = matrix("fs", {1, 2}, false, {{kDouble, doubles({1e6, 2e6})}});
  const Bytes single =
      matrix("z", {1, 1}, true, {{kDouble, doubles({1})}, {kDouble, doubles({2})}});
  arbtest::writeBytes(path("m.mat"), matFile({pairRate, single, iqVariable()}));
  const ProcessResult r = run({"-d", "m.mat", "-o", "m.arb"});
  EXPECT_EQ(r.exitStatus, 0) << arbtest::describe(r);
  EXPECT_THAT(r.out, HasSubstr("MATLAB v5 variable iq (4x1 complex double)"));
  EXPECT_THAT(r.err, testing::Not(HasSubstr("several")));
  std::string text;
  EXPECT_EQ(arbtest::readArb(path("m.arb"), text), quantise(kMatPairs));
  // Alone, the single value is still the waveform, as it always was.
  arbtest::writeBytes(path("one.mat"), matFile({single}));
  expectConversion({"-d", "one.mat"}, {{1, 2}}, 50000000,
                   "MATLAB v5 variable z (1x1 complex double)", "", 0.81,
                   "WARNING: one.mat gives no sample rate (a real scalar fs, Fs, FS, SampleRate "
                   "or sample_rate): the clock is the default, 50000000 Hz (-f chooses it)\n");
}

// ------------------------------------------------------------------- WAV headers

// A 16-bit stereo PCM WAV file of `frames` frames whose data chunk announces `declared`
// bytes, with `extra` bytes after the last whole frame.
Bytes wavFile(std::uint32_t frames, std::uint32_t declared, std::size_t extra = 0) {
  Bytes data;
  for (std::uint32_t k = 0; k < frames; ++k) {
    const auto i = static_cast<std::int16_t>(1000 * std::cos(0.1 * k));
    const auto q = static_cast<std::int16_t>(1000 * std::sin(0.1 * k));
    for (const std::int16_t v : {i, q}) {
      data.push_back(static_cast<std::uint8_t>(v));
      data.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(v) >> 8));
    }
  }
  data.insert(data.end(), extra, 0x11);
  Bytes out = {'R', 'I', 'F', 'F'};
  put32(out, static_cast<std::uint32_t>(36 + data.size()));
  out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  put32(out, 16);
  const std::uint32_t rate = 48000;
  out.insert(out.end(), {1, 0, 2, 0});  // PCM, two channels
  put32(out, rate);
  put32(out, rate * 4);
  out.insert(out.end(), {4, 0, 16, 0});  // block align 4, 16 bits
  out.insert(out.end(), {'d', 'a', 't', 'a'});
  put32(out, declared);
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

TEST_F(WavepackHostileFiles, WavHeadersThatLieAboutTheirSizeAreWarned) {
  arbtest::writeBytes(path("exact.wav"), wavFile(1600, 6400));
  const ProcessResult exact = run({"-d", "exact.wav", "--strict", "-o", "exact.arb"});
  EXPECT_EQ(exact.exitStatus, 0) << arbtest::describe(exact);
  EXPECT_EQ(exact.err, "");

  arbtest::writeBytes(path("short.wav"), wavFile(1349, 6400));
  expectWarning({"-d", "short.wav"},
                "short.wav is truncated: its header announces 1600 frames (6400 bytes of data), "
                "the file holds 1349 frames (5396 bytes of data)");
  arbtest::writeBytes(path("unset.wav"), wavFile(1349, 0xFFFFFFFFu));
  expectWarning({"-d", "unset.wav"}, "unset.wav: its data size is 0xFFFFFFFF");
  arbtest::writeBytes(path("partial.wav"), wavFile(1349, 1349 * 4 + 2, 2));
  expectWarning({"-d", "partial.wav"},
                "partial.wav ends inside a frame: the last 2 bytes of its data are not a whole "
                "4-byte frame");
}

// --------------------------------------------------------------------------- CSV

TEST_F(WavepackHostileFiles, HexadecimalFieldsAreNotNumbers) {
  arbtest::writeText(path("hex.csv"), "1,2\n0x10,0x20\n3,4\n");
  expectWarning({"-d", "hex.csv"},
                "hex.csv line 2: hexadecimal numbers are not read as numbers: \"0x10,0x20\"");
  const ProcessResult r = run({"-d", "hex.csv", "-o", "hex.arb"});
  std::string text;
  EXPECT_EQ(arbtest::readArb(path("hex.arb"), text), quantise({{1, 2}, {3, 4}}));
  // Where a header could stand, too: the line is named, never read as 0.
  arbtest::writeText(path("first.csv"), "0x10,0x20\n1,2\n");
  expectWarning({"-d", "first.csv"},
                "first.csv line 1: hexadecimal numbers are not read as numbers: \"0x10,0x20\"");
}

TEST_F(WavepackHostileFiles, CrLineEndsAreLineEnds) {
  arbtest::writeText(path("mac.csv"), "1,2\r3,4\r5,6\r");
  const ProcessResult r = run({"-d", "mac.csv", "--strict", "-o", "mac.arb"});
  EXPECT_EQ(r.exitStatus, 0) << arbtest::describe(r);
  EXPECT_THAT(r.err, HasSubstr("NOTE: mac.csv ends its lines with a lone CR"));
  std::string text;
  EXPECT_EQ(arbtest::readArb(path("mac.arb"), text), quantise({{1, 2}, {3, 4}, {5, 6}}));
}

TEST_F(WavepackHostileFiles, DenormalValuesReachTheLevel) {
  arbtest::writeText(path("tiny.csv"), "5e-324,5e-324\n-5e-324,0\n");
  const ProcessResult r = run({"-d", "tiny.csv", "-o", "tiny.arb"});
  ASSERT_EQ(r.exitStatus, 0) << arbtest::describe(r);
  // The modulus of (d, d) is sqrt(2) d: each component is the level over sqrt(2).
  const auto c = static_cast<std::int16_t>(std::trunc(0.81 * 8191 / std::sqrt(2.0)));
  const auto w = static_cast<std::int16_t>(std::trunc(-0.81 * 8191 / std::sqrt(2.0)));
  std::string text;
  EXPECT_EQ(arbtest::readArb(path("tiny.arb"), text), (std::vector<std::int16_t>{c, c, w, 0}));
  EXPECT_THAT(r.out, HasSubstr("peak -1.83 dBFS"));
}

// ------------------------------------------------------------ full disk, -b sizes

TEST_F(WavepackHostileFiles, AFullTemporaryFolderNamesTheOutputAndTheCause) {
  std::string csv;
  for (int k = 0; k < 20000; ++k) csv += std::to_string(k % 100) + ",1\n";
  arbtest::writeText(path("big.csv"), csv);
  // A 16 KiB file system for $TMPDIR, in a mount namespace of the child alone.
  const std::string script = "mount -t tmpfs -o size=16k tmpfs \"$1\" && shift && exec \"$@\"";
  arbtest::ProcessOptions options;
  options.workingDirectory = dir_.path().string();
  options.environment = {"TMPDIR=" + tmp_.string()};
  const ProcessResult r = arbtest::runProcess("/usr/bin/unshare",
                                              {"-m", "sh", "-c", script, "sh", tmp_.string(),
                                               WAVEPACK_PROGRAM, "-d", "big.csv", "-o", "big.arb"},
                                              options);
  EXPECT_EQ(r.exitStatus, 1) << arbtest::describe(r);
  EXPECT_THAT(r.err, HasSubstr("PROGRAM ERROR: Cannot write big.arb: writing its samples to the "
                               "temporary file " +
                               tmp_.string() + "/PN"));
  EXPECT_THAT(r.err, HasSubstr("failed: No space left on device"));
  EXPECT_FALSE(fs::exists(path("big.arb")));
}

TEST_F(WavepackHostileFiles, BinaryDoublesFollowTheirHelp) {
  const ProcessResult help = run({"-h"});
  EXPECT_THAT(help.out, HasSubstr("1 to 7 bytes after the"));
  EXPECT_THAT(help.out, HasSubstr("of doubles (an I without its Q) is refused"));
  for (const std::size_t size : {1000u, 1004u, 1009u, 1015u}) {
    SCOPED_TRACE(size);
    Bytes bytes;
    for (std::size_t k = 0; k < size; ++k) bytes.push_back(k % 8 == 7 ? 0x3F : 0);
    arbtest::writeBytes(path("b.bin"), bytes);
    const ProcessResult r = run({"-d", "b.bin", "-b", "-o", "b.arb"});
    // 1000 and 1004 bytes hold 125 doubles (odd); 1009 and 1015 hold 126 and 1 or 7 more bytes.
    if (size / 8 % 2 == 1) {
      EXPECT_EQ(r.exitStatus, 1);
      EXPECT_THAT(r.err, HasSubstr("length is odd"));
    } else {
      EXPECT_EQ(r.exitStatus, 0);
      EXPECT_THAT(r.err, HasSubstr("WARNING: the last " + std::to_string(size % 16) + " bytes"));
    }
  }
}

}  // namespace
