// Raw datatypes decoded against an encoder written here from the datatype names,
// the size rules of raw files, and the SigMF metadata parser.
#include <gtest/gtest.h>
#include <unistd.h>

#include <bit>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "files.h"
#include "formats/sigmf_reader.h"
#include "iq_readers.h"
#include "raw_reader.h"
#include "scratch_dir.h"

namespace {

using arbsuite::wavepack::Diagnostics;
using arbsuite::wavepack::IqPair;
using arbsuite::wavepack::RawRole;
using arbsuite::wavepack::TailRule;

// A datatype as the test reads its name: c/r, f/i/u, bits, byte order.
struct Datatype {
  bool complex;
  char kind;
  int bits;
  bool bigEndian;
};

Datatype parseName(const std::string& name) {
  Datatype d{name[0] == 'c', name[1], std::stoi(name.substr(2)), false};
  d.bigEndian = name.size() > 3 && name.substr(name.size() - 3) == "_be";
  return d;
}

void putBytes(std::vector<std::uint8_t>& out, std::uint64_t bits, int bytes, bool bigEndian) {
  for (int k = 0; k < bytes; ++k) {
    const int shift = 8 * (bigEndian ? bytes - 1 - k : k);
    out.push_back(static_cast<std::uint8_t>(bits >> shift));
  }
}

// Stored values of a datatype: raw integers (two's complement or unsigned) or floats.
std::vector<std::uint8_t> encode(const Datatype& d, const std::vector<double>& values) {
  std::vector<std::uint8_t> out;
  for (double v : values) {
    std::uint64_t bits = 0;
    if (d.kind == 'f') {
      bits = d.bits == 32 ? std::bit_cast<std::uint32_t>(static_cast<float>(v))
                          : std::bit_cast<std::uint64_t>(v);
    } else if (d.kind == 'i') {
      bits = static_cast<std::uint64_t>(static_cast<std::int64_t>(v));
    } else {
      bits = static_cast<std::uint64_t>(v);
    }
    putBytes(out, bits, d.bits / 8, d.bigEndian);
  }
  return out;
}

// Values that fill a datatype's range, its ends included.
std::vector<double> valuesFor(const Datatype& d, std::size_t count) {
  std::mt19937_64 random(static_cast<std::uint64_t>(d.bits * 31 + d.kind));
  std::vector<double> values;
  const double top = std::ldexp(1.0, d.bits - 1);
  for (std::size_t k = 0; k < count; ++k) {
    const double u = static_cast<double>(random() >> 11) / 9007199254740992.0;
    if (d.kind == 'f') {
      const double v = (u * 2 - 1) * std::pow(10.0, static_cast<int>(random() % 20) - 10);
      values.push_back(d.bits == 32 ? static_cast<float>(v) : v);
    } else if (d.kind == 'i') {
      values.push_back(std::floor(u * 2 * top) - top);
    } else {
      values.push_back(std::floor(u * 2 * top));
    }
  }
  if (d.kind == 'i') values.insert(values.end(), {-top, top - 1, 0, -1});
  if (d.kind == 'u') values.insert(values.end(), {0, 2 * top - 1});
  if (d.kind == 'f') values.insert(values.end(), {-0.0, 0.0});
  if (d.kind == 'f' && d.bits == 64) values.insert(values.end(), {4.9e-324, -1.7e308});
  if (d.complex && values.size() % 2 != 0) values.push_back(1);
  return values;
}

double expectedValue(const Datatype& d, double stored) {
  return d.kind == 'u' ? stored - (std::ldexp(1.0, d.bits - 1) - 0.5) : stored;
}

class WavepackRawDatatypes : public testing::TestWithParam<const char*> {
 protected:
  arbtest::ScratchDir dir_;
};

TEST_P(WavepackRawDatatypes, DecodeToTheValuesStored) {
  const std::string name = GetParam();
  const Datatype d = parseName(name);
  const std::vector<double> values = valuesFor(d, 40001);  // more than one block
  const std::string path = dir_.file("data.raw");
  arbtest::writeBytes(path, encode(d, values));
  const arbsuite::wavepack::RawFormat format = arbsuite::wavepack::rawFormatByName(name);
  EXPECT_EQ(format.sampleBytes(), static_cast<unsigned>(d.bits / 8 * (d.complex ? 2 : 1)));
  const std::vector<RawRole> roles =
      d.complex ? std::vector<RawRole>{RawRole::iq}
                : std::vector<RawRole>{RawRole::inPhase, RawRole::quadrature};
  for (const RawRole role : roles) {
    Diagnostics diagnostics;
    const auto source =
        arbsuite::wavepack::openRaw(path, format, role, TailRule::refuse, diagnostics);
    const std::vector<IqPair> pairs = arbsuite::wavepack::readAllPairs(*source);
    ASSERT_EQ(pairs.size(), d.complex ? values.size() / 2 : values.size());
    for (std::size_t k = 0; k < pairs.size(); ++k) {
      IqPair expected;
      if (role == RawRole::iq)
        expected = {expectedValue(d, values[2 * k]), expectedValue(d, values[2 * k + 1])};
      else if (role == RawRole::inPhase)
        expected = {expectedValue(d, values[k]), 0.0};
      else
        expected = {0.0, expectedValue(d, values[k])};
      ASSERT_EQ(pairs[k].i, expected.i) << name << " pair " << k;
      ASSERT_EQ(pairs[k].q, expected.q) << name << " pair " << k;
      ASSERT_EQ(std::signbit(pairs[k].i), std::signbit(expected.i)) << name << " pair " << k;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(WavepackNames, WavepackRawDatatypes,
                         testing::Values("cf64_le", "cf64_be", "cf32_le", "cf32_be", "ci32_le",
                                         "ci32_be", "ci16_le", "ci16_be", "ci8", "cu32_le",
                                         "cu32_be", "cu16_le", "cu16_be", "cu8", "rf64_le",
                                         "rf64_be", "rf32_le", "rf32_be", "ri32_le", "ri32_be",
                                         "ri16_le", "ri16_be", "ri8", "ru16_le", "ru8"));

TEST(WavepackRawNames, RefusedNamesSayWhy) {
  const std::pair<const char*, const char*> cases[] = {
      {"cf32", "Format 'cf32' needs its byte order: cf32_le or cf32_be"},
      {"ci8_le", "Format 'ci8_le': one-byte formats have no byte order (ci8)"},
      {"cf16_le", "Unknown format 'cf16_le': raw formats are "},
      {"ci64_le", "Unknown format 'ci64_le': raw formats are "},
      {"cf32_xe", "Unknown format 'cf32_xe': raw formats are "},
      {"wav", "Unknown format 'wav': raw formats are "}};
  for (const auto& [name, message] : cases) {
    try {
      arbsuite::wavepack::rawFormatByName(name);
      ADD_FAILURE() << name << " accepted";
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(std::string(e.what()).rfind(message, 0), 0u) << e.what();
    }
  }
}

class WavepackRawSizes : public testing::Test {
 protected:
  std::string file(const std::vector<std::uint8_t>& bytes) {
    const std::string path = dir_.file("f" + std::to_string(++count_) + ".raw");
    arbtest::writeBytes(path, bytes);
    return path;
  }
  std::string failure(const std::string& path, const char* format, RawRole role, TailRule tail) {
    try {
      const auto source = arbsuite::wavepack::openRaw(
          path, arbsuite::wavepack::rawFormatByName(format), role, tail, diagnostics_);
      arbsuite::wavepack::readAllPairs(*source);
    } catch (const std::exception& e) {
      return e.what();
    }
    return "";
  }
  arbtest::ScratchDir dir_;
  Diagnostics diagnostics_;
  int count_ = 0;
};

TEST_F(WavepackRawSizes, APartialSampleIsRefusedNamingTheSize) {
  const std::string path = file(std::vector<std::uint8_t>(12));
  EXPECT_EQ(failure(path, "cf32_le", RawRole::iq, TailRule::refuse),
            path +
                " ends with a partial sample: 12 bytes is not a whole number of cf32_le "
                "samples of 8 bytes");
  EXPECT_EQ(
      failure(file({}), "cu8", RawRole::iq, TailRule::refuse).rfind("There is no data in ", 0), 0u);
}

TEST_F(WavepackRawSizes, TheDoublesOfMinusBIgnoreATailWithAWarning) {
  const std::string path = file(std::vector<std::uint8_t>(20));
  EXPECT_EQ(failure(path, "cf64_le", RawRole::iq, TailRule::ignore), "");
  EXPECT_EQ(diagnostics_.warnings(),
            (std::vector<std::string>{"the last 4 bytes of " + path +
                                      " are ignored: its size, 20 bytes, is not a whole number "
                                      "of 16-byte values"}));
}

TEST_F(WavepackRawSizes, NonFiniteValuesAreCountedOverTheFile) {
  std::vector<float> values(40000, 0.5f);
  values[33333] = std::numeric_limits<float>::infinity();
  std::vector<std::uint8_t> bytes(values.size() * 4);
  std::memcpy(bytes.data(), values.data(), bytes.size());
  const std::string path = file(bytes);
  EXPECT_EQ(failure(path, "cf32_le", RawRole::iq, TailRule::refuse),
            "Value 33334 in " + path + " is not a finite number");
  EXPECT_EQ(failure(path, "rf32_le", RawRole::quadrature, TailRule::refuse),
            "Value 33334 in " + path + " is not a finite number");
}

TEST_F(WavepackRawSizes, TooManyPairsAreRefusedFromTheSizeAlone) {
  // A sparse 5 GB file of 625,000,000 doubles: refused before a value is read.
  const std::string path = dir_.file("huge.raw");
  arbtest::writeBytes(path, {});
  ASSERT_EQ(::truncate(path.c_str(), 5'000'000'000), 0);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(failure(path, "rf64_le", RawRole::inPhase, TailRule::ignore),
            "Too many IQ pairs in " + path + " (625000000): an .arb file holds at most 536870911");
  EXPECT_EQ(failure(path, "cu8", RawRole::iq, TailRule::refuse),
            "Too many IQ pairs in " + path + " (2500000000): an .arb file holds at most 536870911");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  // Exactly the most pairs the format holds passes the size check.
  ASSERT_EQ(::truncate(path.c_str(), 536870911LL * 2), 0);
  Diagnostics quiet;
  EXPECT_EQ(arbsuite::wavepack::openRaw(path, arbsuite::wavepack::rawFormatByName("ci8"),
                                        RawRole::iq, TailRule::refuse, quiet)
                ->size(),
            536870911u);
}

// One row per metadata text: what the parser makes of it, or its failure.
struct MetaCase {
  const char* name;
  std::string json;
  std::string failure;  // empty: parsed
  std::string datatype = "";
  std::uint64_t startByte = 0;
  std::uint64_t trailing = 0;
  double sampleRate = 0;  // 0: none
  std::string dataPath = "rec.sigmf-data";
};

void PrintTo(const MetaCase& c, std::ostream* os) { *os << c.name; }

class WavepackSigmfMeta : public testing::TestWithParam<MetaCase> {};

TEST_P(WavepackSigmfMeta, ParsesOrNamesTheProblem) {
  const MetaCase& c = GetParam();
  try {
    const arbsuite::wavepack::SigmfLayout layout =
        arbsuite::wavepack::parseSigmfMetadata(c.json, "rec.sigmf-meta");
    ASSERT_EQ(c.failure, "") << "parsed";
    EXPECT_EQ(layout.format.name, c.datatype);
    EXPECT_EQ(layout.startByte, c.startByte);
    EXPECT_EQ(layout.trailingBytes, c.trailing);
    EXPECT_EQ(layout.sampleRate.value_or(0), c.sampleRate);
    EXPECT_EQ(layout.dataPath, c.dataPath);
  } catch (const std::runtime_error& e) {
    // JSON syntax errors carry nlohmann-json's own text after the part checked here.
    const std::string what = e.what();
    EXPECT_EQ(c.name == std::string("notJson") ? what.substr(0, c.failure.size()) : what,
              c.failure);
  }
}

const std::string kWriterOutput = R"({
  "global": {"core:datatype": "ci16_le", "core:sample_rate": 2500000, "core:version": "1.0.0",
             "core:description": "written by arbtool"},
  "captures": [{"core:sample_start": 0}],
  "annotations": [{"core:sample_start": 0, "core:sample_count": 100, "core:label": "x"}]})";

INSTANTIATE_TEST_SUITE_P(
    WavepackMeta, WavepackSigmfMeta,
    testing::Values(
        MetaCase{"writerOutput", kWriterOutput, "", "ci16_le", 0, 0, 2500000},
        MetaCase{
            "offsetAndHeader",
            R"({"global":{"core:datatype":"cf32_be","core:offset":1000,"core:trailing_bytes":3},
                     "captures":[{"core:sample_start":1010,"core:header_bytes":16},
                                 {"core:sample_start":2000}]})",
            "", "cf32_be", 10 * 8 + 16, 3},
        MetaCase{"noCaptures", R"({"global":{"core:datatype":"cu8","core:sample_rate":1e6}})", "",
                 "cu8", 0, 0, 1e6},
        MetaCase{"dataset",
                 R"({"global":{"core:datatype":"ci8","core:dataset":"raw.bin"},"captures":[]})", "",
                 "ci8", 0, 0, 0, "raw.bin"},
        MetaCase{"notJson", "{\"global\": ",
                 "rec.sigmf-meta: not valid JSON ([json.exception.parse_error.101] parse error"},
        MetaCase{"noGlobal", "[1,2]", "rec.sigmf-meta: no \"global\" object: not SigMF metadata"},
        MetaCase{"noDatatype", R"({"global":{}})", "rec.sigmf-meta: no \"core:datatype\" text"},
        MetaCase{"realDatatype", R"({"global":{"core:datatype":"rf32_le"}})",
                 "rec.sigmf-meta: core:datatype \"rf32_le\" holds real samples; wavepack converts "
                 "complex IQ recordings (c...)"},
        MetaCase{"unknownDatatype", R"({"global":{"core:datatype":"cf16_le"}})",
                 "rec.sigmf-meta: core:datatype \"cf16_le\" is not one wavepack reads (Unknown "
                 "format 'cf16_le': raw formats are cf64, cf32, ci32, ci16, cu32, cu16 (each with "
                 "_le or _be), ci8, cu8, and the real forms rf64_le, rf32_le, ri32_le, ri16_le, "
                 "ru32_le, ru16_le, ri8, ru8 (and _be))"},
        MetaCase{"twoChannels", R"({"global":{"core:datatype":"cf32_le","core:num_channels":2}})",
                 "rec.sigmf-meta: the recording has 2 channels; wavepack converts one"},
        MetaCase{"metadataOnly",
                 R"({"global":{"core:datatype":"cf32_le","core:metadata_only":true}})",
                 "rec.sigmf-meta: the recording is metadata only: it has no samples"},
        MetaCase{"badRate", R"({"global":{"core:datatype":"cf32_le","core:sample_rate":-5}})",
                 "rec.sigmf-meta: \"core:sample_rate\" is not a positive number"},
        MetaCase{"textRate", R"({"global":{"core:datatype":"cf32_le","core:sample_rate":"1e6"}})",
                 "rec.sigmf-meta: \"core:sample_rate\" is not a positive number"},
        // A capture that starts before the data file's first sample starts with it.
        MetaCase{"startBeforeOffset",
                 R"({"global":{"core:datatype":"cf32_le","core:offset":5},
                     "captures":[{"core:sample_start":4,"core:header_bytes":8}]})",
                 "", "cf32_le", 8},
        MetaCase{"negativeStart",
                 R"({"global":{"core:datatype":"cf32_le"},"captures":[{"core:sample_start":-1}]})",
                 "rec.sigmf-meta: \"core:sample_start\" is not a non-negative integer"},
        MetaCase{"headerInside",
                 R"({"global":{"core:datatype":"cf32_le"},
                     "captures":[{"core:sample_start":0},{"core:sample_start":9,"core:header_bytes":4}]})",
                 "rec.sigmf-meta: capture 1 has header bytes inside the data, which wavepack does "
                 "not skip"},
        MetaCase{
            "hugeStart",
            R"({"global":{"core:datatype":"cf64_le"},"captures":[{"core:sample_start":18446744073709551615}]})",
            "rec.sigmf-meta: the first capture starts beyond any data file"},
        MetaCase{"datasetPath", R"({"global":{"core:datatype":"cf32_le","core:dataset":"../x"}})",
                 "rec.sigmf-meta: \"core:dataset\" is not a file name"}));

TEST(WavepackSigmfFiles, EitherFileOfTheRecordingReadsThePair) {
  arbtest::ScratchDir dir;
  const std::string base = dir.file("rec");
  arbtest::writeText(base + ".sigmf-meta", kWriterOutput);
  std::vector<std::uint8_t> data;
  for (std::int16_t v : {100, -200, 300, -400, 0, 7}) {
    data.push_back(static_cast<std::uint8_t>(v));
    data.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(v) >> 8));
  }
  arbtest::writeBytes(base + ".sigmf-data", data);
  for (const std::string& given : {base + ".sigmf-meta", base + ".sigmf-data", base}) {
    Diagnostics diagnostics;
    const arbsuite::wavepack::InputData input = arbsuite::wavepack::readSigmf(given, diagnostics);
    EXPECT_EQ(input.formatName, "SigMF ci16_le");
    EXPECT_EQ(input.sampleRate.value_or(0), 2500000.0);
    const auto pairs = arbsuite::wavepack::readAllPairs(*input.pairs);
    ASSERT_EQ(pairs.size(), 3u);
    EXPECT_EQ(pairs[1].i, 300.0);
    EXPECT_EQ(pairs[1].q, -400.0);
  }
  // A data file that ends inside a sample is refused, naming it and its size.
  data.push_back(1);
  arbtest::writeBytes(base + ".sigmf-data", data);
  Diagnostics diagnostics;
  try {
    arbsuite::wavepack::readSigmf(base + ".sigmf-meta", diagnostics);
    FAIL();
  } catch (const std::length_error& e) {
    EXPECT_EQ(std::string(e.what()), base +
                                         ".sigmf-data ends with a partial sample: 13 bytes is "
                                         "not a whole number of ci16_le samples of 4 bytes");
  }
}

}  // namespace
