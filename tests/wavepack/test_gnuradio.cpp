// GNU Radio metadata: the header parser against dictionaries built byte by byte
// from GNU Radio's description of the header, every field it refuses, and the
// reader on inline and detached files of one and several segments.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

#include "files.h"
#include "formats/gnuradio_header.h"
#include "formats/gnuradio_reader.h"
#include "gnuradio_files.h"
#include "iq_readers.h"
#include "scratch_dir.h"

namespace {

using arbsuite::wavepack::Diagnostics;
using arbsuite::wavepack::IqPair;
using arbsuite::wavepack::RawRole;
using grtest::Bytes;
using grtest::Fields;

arbsuite::wavepack::GnuRadioHeader parse(const Bytes& bytes) {
  return arbsuite::wavepack::parseGnuRadioHeader(std::span<const std::uint8_t>(bytes));
}

std::string parseFailure(const Bytes& bytes) {
  try {
    parse(bytes);
  } catch (const arbsuite::wavepack::GnuRadioHeaderError& e) {
    return e.what();
  }
  return "";
}

TEST(WavepackGnuRadioHeader, TheFieldsOfFileMetaSinksDictionary) {
  const Bytes header = grtest::pmtDict(grtest::headerFields(2.5e6, 8, grtest::kFloat, true, 4096));
  ASSERT_EQ(header.size(), grtest::kHeaderBytes);
  EXPECT_EQ(header.size(), arbsuite::wavepack::kGnuRadioHeaderBytes);
  Bytes withData = header;
  withData.resize(header.size() + 4096, 0x5a);  // the data after it is not read
  const arbsuite::wavepack::GnuRadioHeader h = parse(withData);
  EXPECT_EQ(h.version, 0);
  EXPECT_EQ(h.rate, 2.5e6);
  EXPECT_EQ(h.itemSize, 8);
  EXPECT_EQ(h.type, grtest::kFloat);
  EXPECT_TRUE(h.complex);
  EXPECT_EQ(h.start, 149u);
  EXPECT_EQ(h.bytes, 4096u);
  EXPECT_EQ(h.length, 149u);
}

TEST(WavepackGnuRadioHeader, AnyOrderOtherKeysAndOtherIntegerForms) {
  // Reversed (pmt::dict_add puts a new key first), the integers in their 64-bit
  // forms, and keys of every kind of value before the fields.
  Fields fields = grtest::headerFields(48000, 4, grtest::kShort, false, 960);
  grtest::setField(fields, "size", grtest::pmtInt64(4));
  grtest::setField(fields, "type", grtest::pmtUint64(1));
  grtest::setField(fields, "rx_rate", grtest::pmtInt32(48000));
  Fields all = {{"note", grtest::pmtSymbol("from a tag")},
                {"pair", grtest::pmtList({grtest::pmtInt32(1), grtest::pmtDouble(2)})},
                {"vector", grtest::pmtVector({grtest::pmtComplex(1, 2), grtest::pmtNil()})},
                {"taps", grtest::pmtF32Vector({0.25f, 0.5f, 0.25f})},
                {"flag", grtest::pmtTrue()}};
  all.insert(all.end(), fields.rbegin(), fields.rend());
  // "strt" is the length of this dictionary (its own width is fixed).
  grtest::setField(all, "strt", grtest::pmtUint64(grtest::pmtDict(all).size()));
  const Bytes header = grtest::pmtDict(all);
  const arbsuite::wavepack::GnuRadioHeader h = parse(header);
  EXPECT_EQ(h.rate, 48000.0);
  EXPECT_EQ(h.itemSize, 4);
  EXPECT_EQ(h.type, grtest::kShort);
  EXPECT_FALSE(h.complex);
  EXPECT_EQ(h.start, header.size());
  EXPECT_EQ(h.bytes, 960u);
  EXPECT_EQ(h.length, header.size());
}

TEST(WavepackGnuRadioHeader, RecognisedByItsFirstBytes) {
  const Bytes header = grtest::pmtDict(grtest::headerFields(1e6, 8, grtest::kFloat, true, 0));
  EXPECT_TRUE(arbsuite::wavepack::looksLikeGnuRadioHeader(header));
  Fields reversed = grtest::headerFields(1e6, 8, grtest::kFloat, true, 0);
  std::reverse(reversed.begin(), reversed.end());
  EXPECT_TRUE(arbsuite::wavepack::looksLikeGnuRadioHeader(grtest::pmtDict(reversed)));
  const std::string csv = "I,Q\n1,2\n";
  EXPECT_FALSE(arbsuite::wavepack::looksLikeGnuRadioHeader(Bytes(csv.begin(), csv.end())));
  EXPECT_FALSE(
      arbsuite::wavepack::looksLikeGnuRadioHeader(grtest::littleEndian<float>({0.5f, -1.5f})));
  // A dictionary of other keys is no header, nor are its first bytes alone.
  EXPECT_FALSE(arbsuite::wavepack::looksLikeGnuRadioHeader(
      grtest::pmtDict({{"freq", grtest::pmtInt32(1)}})));
  EXPECT_FALSE(
      arbsuite::wavepack::looksLikeGnuRadioHeader(Bytes(header.begin(), header.begin() + 8)));
}

// One row per fault: how the header is changed, and what the parser says.
struct HeaderFault {
  const char* name;
  std::function<Bytes()> bytes;
  std::string failure;
};

void PrintTo(const HeaderFault& c, std::ostream* os) { *os << c.name; }

Bytes changed(const std::string& key, const Bytes& value) {
  Fields fields = grtest::headerFields(1e6, 8, grtest::kFloat, true, 800);
  grtest::setField(fields, key, value);
  return grtest::pmtDict(fields);
}

Bytes without(const std::string& key) {
  Fields fields = grtest::headerFields(1e6, 8, grtest::kFloat, true, 800);
  grtest::eraseField(fields, key);
  return grtest::pmtDict(fields);
}

class WavepackGnuRadioHeaderFaults : public testing::TestWithParam<HeaderFault> {};

TEST_P(WavepackGnuRadioHeaderFaults, AreRefusedNamingTheField) {
  EXPECT_EQ(parseFailure(GetParam().bytes()), GetParam().failure);
}

const std::string kTypes =
    "not one of GNU Radio's data types (0 byte, 1 short, 2 int, 3 long, 4 long long, 5 float, 6 "
    "double)";

INSTANTIATE_TEST_SUITE_P(
    WavepackGnuRadio, WavepackGnuRadioHeaderFaults,
    testing::Values(
        HeaderFault{"noVersion", [] { return without("version"); }, "it has no \"version\" field"},
        HeaderFault{"noRate", [] { return without("rx_rate"); }, "it has no \"rx_rate\" field"},
        HeaderFault{"noTime", [] { return without("rx_time"); }, "it has no \"rx_time\" field"},
        HeaderFault{"noSize", [] { return without("size"); }, "it has no \"size\" field"},
        HeaderFault{"noType", [] { return without("type"); }, "it has no \"type\" field"},
        HeaderFault{"noCplx", [] { return without("cplx"); }, "it has no \"cplx\" field"},
        HeaderFault{"noStrt", [] { return without("strt"); }, "it has no \"strt\" field"},
        HeaderFault{"noBytes", [] { return without("bytes"); }, "it has no \"bytes\" field"},
        HeaderFault{"version1", [] { return changed("version", grtest::pmtInt32(1)); },
                    "\"version\" is 1; wavepack reads headers of version 0"},
        HeaderFault{"versionText", [] { return changed("version", grtest::pmtSymbol("0")); },
                    "\"version\" is not an integer"},
        HeaderFault{"negativeRate", [] { return changed("rx_rate", grtest::pmtDouble(-1e6)); },
                    "\"rx_rate\" is -1000000, not a positive sample rate"},
        HeaderFault{"nanRate",
                    [] {
                      return changed("rx_rate",
                                     grtest::pmtDouble(std::numeric_limits<double>::quiet_NaN()));
                    },
                    "\"rx_rate\" is nan, not a positive sample rate"},
        HeaderFault{"rateText", [] { return changed("rx_rate", grtest::pmtSymbol("1e6")); },
                    "\"rx_rate\" is not a number"},
        HeaderFault{"sizeZero", [] { return changed("size", grtest::pmtInt32(0)); },
                    "\"size\" is 0, not a size of an item in bytes"},
        HeaderFault{"sizeDouble", [] { return changed("size", grtest::pmtDouble(8)); },
                    "\"size\" is not an integer"},
        HeaderFault{"type7", [] { return changed("type", grtest::pmtInt32(7)); },
                    "\"type\" is 7, " + kTypes},
        HeaderFault{"typeMinus1", [] { return changed("type", grtest::pmtInt32(-1)); },
                    "\"type\" is -1, " + kTypes},
        HeaderFault{"cplxInteger", [] { return changed("cplx", grtest::pmtInt32(1)); },
                    "\"cplx\" is not true or false"},
        HeaderFault{"strtInsideTheHeader", [] { return changed("strt", grtest::pmtUint64(148)); },
                    "\"strt\" is 148, less than the 149 bytes of the header dictionary"},
        HeaderFault{"strtNegative", [] { return changed("strt", grtest::pmtInt32(-5)); },
                    "\"strt\" is not a non-negative integer"},
        HeaderFault{"bytesDouble", [] { return changed("bytes", grtest::pmtDouble(800)); },
                    "\"bytes\" is not a non-negative integer"},
        HeaderFault{"cutShort",
                    [] {
                      Bytes b = changed("bytes", grtest::pmtUint64(800));
                      b.resize(100);
                      return b;
                    },
                    "it ends inside its dictionary, at byte 100"},
        HeaderFault{"unknownTag",
                    [] {
                      Bytes b = grtest::pmtDict({{"odd", Bytes{0x2a}}});
                      return b;
                    },
                    "its dictionary is not well formed: byte 8 holds 0x2a, which is no value of "
                    "a header dictionary"},
        HeaderFault{"notADictionary",
                    [] {
                      return Bytes{'A', 'B', 'C'};
                    },
                    "its dictionary is not well formed: byte 0 holds 0x41, not the start of a "
                    "dictionary"},
        HeaderFault{"keyNotASymbol",
                    [] {
                      Bytes b = {0x07, 0x07};
                      grtest::append(b, grtest::pmtInt32(3));
                      grtest::append(b, grtest::pmtNil());
                      return b;
                    },
                    "its dictionary is not well formed: entry 1 at byte 1 is not a name and its "
                    "value"},
        HeaderFault{"hugeList",
                    [] {
                      Bytes b = grtest::pmtDict(
                          {{"x", grtest::tagged(0x0c, grtest::bigEndian(0xffffffff, 4))}});
                      return b;
                    },
                    "it ends inside its dictionary, at byte 12"},
        HeaderFault{"deepNesting",
                    [] {
                      Bytes nested = grtest::pmtInt32(1);
                      for (int k = 0; k < 100; ++k) nested = grtest::pmtTuple({nested});
                      return grtest::pmtDict({{"deep", nested}});
                    },
                    "its dictionary is not well formed: values nested more than 64 deep"}));

// ------------------------------------------------------------------ the reader

struct Written {
  std::vector<IqPair> pairs;  // what the reader must give
  Bytes data;
};

// Complex floats k * (1, -0.5) + offset, stored as cf32.
Written complexFloats(std::size_t count, float offset) {
  Written w;
  std::vector<float> values;
  for (std::size_t k = 0; k < count; ++k) {
    const float i = static_cast<float>(k) + offset;
    const float q = -0.5f * static_cast<float>(k) - offset;
    values.insert(values.end(), {i, q});
    w.pairs.push_back({i, q});
  }
  w.data = grtest::littleEndian(values);
  return w;
}

class WavepackGnuRadioFiles : public testing::Test {
 protected:
  std::vector<IqPair> read(const std::string& path, RawRole role = RawRole::iq) {
    const arbsuite::wavepack::InputData input =
        arbsuite::wavepack::readGnuRadio(path, role, diagnostics_);
    format_ = input.formatName;
    rate_ = input.sampleRate.value_or(0);
    rateSource_ = input.rateSource;
    return arbsuite::wavepack::readAllPairs(*input.pairs);
  }
  std::string failure(const std::string& path, RawRole role = RawRole::iq) {
    try {
      read(path, role);
    } catch (const std::exception& e) {
      return e.what();
    }
    return "";
  }
  void expectPairs(const std::vector<IqPair>& got, const std::vector<IqPair>& expected) {
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t k = 0; k < got.size(); ++k) {
      ASSERT_EQ(got[k].i, expected[k].i) << k;
      ASSERT_EQ(got[k].q, expected[k].q) << k;
    }
  }
  std::string file(const std::string& name, const Bytes& bytes) {
    arbtest::writeBytes(dir_.file(name), bytes);
    return dir_.file(name);
  }

  arbtest::ScratchDir dir_;
  Diagnostics diagnostics_;
  std::string format_;
  double rate_ = 0;
  std::string rateSource_;
};

TEST_F(WavepackGnuRadioFiles, InlineHeaderWithExtrasIsNoSample) {
  // 149 + 19 = 168 bytes of header: a whole number of cf32 samples, once read as 21 of them.
  const Written w = complexFloats(5000, 0.25f);
  const std::string path = file(
      "rx.dat", grtest::inlineFile({grtest::segment(1e6, 8, grtest::kFloat, true, w.data, 19)}));
  expectPairs(read(path), w.pairs);
  EXPECT_EQ(format_, "GNU Radio cf32_le");
  EXPECT_EQ(rate_, 1e6);
  EXPECT_EQ(rateSource_, path);
  EXPECT_TRUE(diagnostics_.warnings().empty());
}

TEST_F(WavepackGnuRadioFiles, SeveralSegmentsAreReadInOrder) {
  // A file continued after tags: segments with and without extras, one empty.
  const Written a = complexFloats(3000, 0);
  const Written b = complexFloats(20000, 5000);  // more than one block of the raw reader
  const Written c = complexFloats(7, -9);
  const std::vector<grtest::Segment> segments = {
      grtest::segment(2e6, 8, grtest::kFloat, true, a.data),
      grtest::segment(2e6, 8, grtest::kFloat, true, b.data, 40),
      grtest::segment(2e6, 8, grtest::kFloat, true, {}, 21),
      grtest::segment(2e6, 8, grtest::kFloat, true, c.data)};
  std::vector<IqPair> all = a.pairs;
  all.insert(all.end(), b.pairs.begin(), b.pairs.end());
  all.insert(all.end(), c.pairs.begin(), c.pairs.end());
  const std::string path = file("multi.dat", grtest::inlineFile(segments));
  expectPairs(read(path), all);
  EXPECT_EQ(format_, "GNU Radio cf32_le, 4 headers");

  // The same segments with a detached header, given by either name.
  const auto [headers, data] = grtest::detachedFiles(segments);
  const std::string dataPath = file("rx.cf32", data);
  const std::string headerPath = file("rx.cf32.hdr", headers);
  for (const std::string& given : {dataPath, headerPath}) {
    SCOPED_TRACE(given);
    expectPairs(read(given), all);
    EXPECT_EQ(format_, "GNU Radio cf32_le, detached header, 4 headers");
    EXPECT_EQ(rate_, 2e6);
    EXPECT_EQ(rateSource_, headerPath);
  }
  const auto files = arbsuite::wavepack::gnuRadioFiles(dataPath);
  EXPECT_TRUE(files.detached);
  EXPECT_EQ(files.headers, headerPath);
  EXPECT_FALSE(arbsuite::wavepack::gnuRadioFiles(path).detached);
}

// Data types, item sizes and roles, with the datatype each is read as.
struct ItemCase {
  const char* name;
  int type;
  int size;
  bool complex;
  RawRole role;
  std::string format;
  Bytes data;
  std::vector<IqPair> pairs;
};

void PrintTo(const ItemCase& c, std::ostream* os) { *os << c.name; }

class WavepackGnuRadioItems : public WavepackGnuRadioFiles,
                              public testing::WithParamInterface<ItemCase> {};

TEST_P(WavepackGnuRadioItems, AreReadAsTheDatatypeTheyHold) {
  const ItemCase& c = GetParam();
  const std::string path = file(
      "items.dat", grtest::inlineFile({grtest::segment(1e5, c.size, c.type, c.complex, c.data)}));
  expectPairs(read(path, c.role), c.pairs);
  EXPECT_EQ(format_, c.format);
}

INSTANTIATE_TEST_SUITE_P(
    WavepackGnuRadio, WavepackGnuRadioItems,
    testing::Values(ItemCase{"complexByte",
                             grtest::kByte,
                             2,
                             true,
                             RawRole::iq,
                             "GNU Radio ci8",
                             Bytes{0x7f, 0x80, 0x01, 0xff},
                             {{127, -128}, {1, -1}}},
                    ItemCase{"complexShort",
                             grtest::kShort,
                             4,
                             true,
                             RawRole::iq,
                             "GNU Radio ci16_le",
                             grtest::littleEndian<std::int16_t>({-32768, 32767, 5, -6}),
                             {{-32768, 32767}, {5, -6}}},
                    ItemCase{"complexInt",
                             grtest::kInt,
                             8,
                             true,
                             RawRole::iq,
                             "GNU Radio ci32_le",
                             grtest::littleEndian<std::int32_t>({-70000, 70000}),
                             {{-70000, 70000}}},
                    ItemCase{"complexDouble",
                             grtest::kDouble,
                             16,
                             true,
                             RawRole::iq,
                             "GNU Radio cf64_le",
                             grtest::littleEndian<double>({0.125, -1e300}),
                             {{0.125, -1e300}}},
                    ItemCase{"pairsOfShorts",
                             grtest::kShort,
                             4,
                             false,
                             RawRole::iq,
                             "GNU Radio ci16_le (items of two short)",
                             grtest::littleEndian<std::int16_t>({1, 2, 3, 4}),
                             {{1, 2}, {3, 4}}},
                    ItemCase{"realFloatsAsI",
                             grtest::kFloat,
                             4,
                             false,
                             RawRole::inPhase,
                             "GNU Radio rf32_le",
                             grtest::littleEndian<float>({1.5f, -2}),
                             {{1.5, 0}, {-2, 0}}},
                    ItemCase{"realBytesAsQ",
                             grtest::kByte,
                             1,
                             false,
                             RawRole::quadrature,
                             "GNU Radio ri8",
                             Bytes{0x80, 0x05},
                             {{0, -128}, {0, 5}}}));

// One row per file a header does not describe: the file and the reader's words.
struct FileFault {
  const char* name;
  std::function<Bytes()> bytes;
  RawRole role;
  std::string failure;  // after the file's path
};

void PrintTo(const FileFault& c, std::ostream* os) { *os << c.name; }

class WavepackGnuRadioFileFaults : public WavepackGnuRadioFiles,
                                   public testing::WithParamInterface<FileFault> {};

TEST_P(WavepackGnuRadioFileFaults, AreRefusedNamingTheHeaderAndField) {
  const std::string path = file("f.dat", GetParam().bytes());
  EXPECT_EQ(failure(path, GetParam().role), path + GetParam().failure);
}

Bytes floats(std::size_t count) { return complexFloats(count, 1).data; }

Bytes oneSegment(int type, int size, bool complex, const Bytes& data) {
  return grtest::inlineFile({grtest::segment(1e6, size, type, complex, data)});
}

INSTANTIATE_TEST_SUITE_P(
    WavepackGnuRadio, WavepackGnuRadioFileFaults,
    testing::Values(
        FileFault{"wrongVersion",
                  [] {
                    grtest::Segment s = grtest::segment(1e6, 8, grtest::kFloat, true, floats(4));
                    grtest::setField(s.fields, "version", grtest::pmtInt32(2));
                    return grtest::inlineFile({s});
                  },
                  RawRole::iq,
                  ": header 1 (at byte 0): \"version\" is 2; wavepack reads headers of version 0"},
        FileFault{"longIntegers", [] { return oneSegment(grtest::kLong, 16, true, Bytes(32)); },
                  RawRole::iq,
                  ": header 1 (at byte 0): \"type\" is 3 (long): wavepack reads items of byte, "
                  "short, int, float and double"},
        FileFault{"complexSizeWrong", [] { return oneSegment(grtest::kFloat, 4, true, Bytes(8)); },
                  RawRole::iq,
                  ": header 1 (at byte 0): \"size\" is 4: an item of complex float is 8 bytes"},
        FileFault{"realSizeWrong", [] { return oneSegment(grtest::kShort, 6, false, Bytes(12)); },
                  RawRole::iq,
                  ": header 1 (at byte 0): \"size\" is 6: an item of real short is 2 bytes (4 "
                  "for I and Q)"},
        FileFault{"bytesNotWholeItems",
                  [] {
                    grtest::Segment s = grtest::segment(1e6, 8, grtest::kFloat, true, floats(4));
                    s.data.resize(30);
                    grtest::setField(s.fields, "bytes", grtest::pmtUint64(30));
                    return grtest::inlineFile({s});
                  },
                  RawRole::iq,
                  ": header 1 (at byte 0): \"bytes\" is 30, not a whole number of 8-byte items "
                  "(\"size\")"},
        FileFault{"bytesNoHeaderDescribes",
                  [] {
                    Bytes b = oneSegment(grtest::kFloat, 8, true, floats(4));
                    b.insert(b.end(), 12, 0x33);
                    return b;
                  },
                  RawRole::iq,
                  " holds 12 bytes after its last segment that no header describes (the "
                  "\"bytes\" of header 1 end at byte 181)"},
        FileFault{"typeChanges",
                  [] {
                    return grtest::inlineFile(
                        {grtest::segment(1e6, 8, grtest::kFloat, true, floats(2)),
                         grtest::segment(1e6, 8, grtest::kInt, true, Bytes(16))});
                  },
                  RawRole::iq,
                  ": header 2 (at byte 165): \"type\" is 2 (int), header 1's 5 (float): the "
                  "segments of a recording hold one data type"},
        FileFault{"rateChanges",
                  [] {
                    return grtest::inlineFile(
                        {grtest::segment(1e6, 8, grtest::kFloat, true, floats(2)),
                         grtest::segment(2e6, 8, grtest::kFloat, true, floats(2))});
                  },
                  RawRole::iq,
                  ": header 2 (at byte 165): \"rx_rate\" is 2000000 Hz, header 1's 1000000 Hz: "
                  "an .arb file plays its samples at one clock"},
        FileFault{"secondHeaderDamaged",
                  [] {
                    grtest::Segment second =
                        grtest::segment(1e6, 8, grtest::kFloat, true, floats(2));
                    grtest::eraseField(second.fields, "cplx");
                    return grtest::inlineFile(
                        {grtest::segment(1e6, 8, grtest::kFloat, true, floats(2)), second});
                  },
                  RawRole::iq, ": header 2 (at byte 165): it has no \"cplx\" field"},
        FileFault{"realItemsForMinusD",
                  [] { return oneSegment(grtest::kFloat, 4, false, Bytes(8)); }, RawRole::iq,
                  " holds real float items (\"cplx\" false, \"size\" 4): -d takes complex items "
                  "or items of two values (I and Q); separate I and Q files are given with -i and "
                  "-q"}));

// The refusals whose message names the file inside it.
TEST_F(WavepackGnuRadioFiles, MessagesThatNameTheFileInside) {
  {
    grtest::Segment s = grtest::segment(1e6, 8, grtest::kFloat, true, floats(4));
    grtest::setField(s.fields, "bytes", grtest::pmtUint64(40));
    const std::string path = file("b.dat", grtest::inlineFile({s}));
    EXPECT_EQ(failure(path), path + ": header 1 (at byte 0): \"bytes\" is 40, beyond the end of " +
                                 path + ": 32 bytes follow the header");
  }
  {
    grtest::Segment s = grtest::segment(1e6, 8, grtest::kFloat, true, floats(1));
    grtest::setField(s.fields, "strt", grtest::pmtUint64(1000));
    const std::string path = file("s.dat", grtest::inlineFile({s}));
    EXPECT_EQ(failure(path), path + ": header 1 (at byte 0): \"strt\" is 1000, beyond the end of " +
                                 path + " (157 bytes)");
  }
  const std::string empty =
      file("e.dat", grtest::inlineFile({grtest::segment(1e6, 8, grtest::kFloat, true, {}),
                                        grtest::segment(1e6, 8, grtest::kFloat, true, {}, 30)}));
  EXPECT_EQ(failure(empty), "There is no data in " + empty);
  const std::string complex = file("c.dat", oneSegment(grtest::kFloat, 8, true, Bytes(8)));
  EXPECT_EQ(failure(complex, RawRole::inPhase),
            "-i takes real items; " + complex +
                " holds complex float items (\"cplx\" true): give it with -d");
  const std::string pairs = file("p.dat", oneSegment(grtest::kShort, 4, false, Bytes(8)));
  EXPECT_EQ(failure(pairs, RawRole::quadrature),
            "-q takes items of one value; " + pairs +
                " holds items of two short values (\"size\" 4): give it with -d");
}

TEST_F(WavepackGnuRadioFiles, LongDictionariesAreReadUpToAMebibyte) {
  // Values of a tag inside the dictionary itself: 8 kB of taps, then 1.2 MB.
  const Written w = complexFloats(10, 0);
  for (const std::size_t taps : {2000u, 300000u}) {
    SCOPED_TRACE(taps);
    Fields fields = {{"taps", grtest::pmtF32Vector(std::vector<float>(taps, 0.5f))}};
    const Fields header = grtest::headerFields(1e6, 8, grtest::kFloat, true, w.data.size());
    fields.insert(fields.end(), header.begin(), header.end());
    grtest::setField(fields, "strt", grtest::pmtUint64(grtest::pmtDict(fields).size()));
    Bytes bytes = grtest::pmtDict(fields);
    grtest::append(bytes, w.data);
    const std::string path = file("long.dat", bytes);
    if (taps == 2000u)
      expectPairs(read(path), w.pairs);
    else
      EXPECT_EQ(failure(path), path +
                                   ": header 1 (at byte 0): its dictionary is longer than 1 MiB, "
                                   "more than a header holds");
  }
}

TEST_F(WavepackGnuRadioFiles, DetachedHeadersMustDescribeTheWholeDataFile) {
  const std::vector<grtest::Segment> segments = {
      grtest::segment(1e6, 8, grtest::kFloat, true, floats(10)),
      grtest::segment(1e6, 8, grtest::kFloat, true, floats(5), 19)};
  auto [headers, data] = grtest::detachedFiles(segments);
  const std::string headerPath = file("d.raw.hdr", headers);
  data.resize(data.size() + 16);
  const std::string dataPath = file("d.raw", data);
  EXPECT_EQ(failure(headerPath), dataPath + " holds 16 bytes after the 120 that the headers of " +
                                     headerPath + " describe (their \"bytes\")");
  data.resize(100);
  file("d.raw", data);
  EXPECT_EQ(failure(dataPath), headerPath +
                                   ": header 2 (at byte 149): \"bytes\" is 40, beyond the end of " +
                                   dataPath + ": the segment starts at byte 80 of its 100");
  file("d.raw.hdr", {});
  EXPECT_EQ(failure(dataPath), headerPath + " holds no header");
  // A header file whose data file is missing says so.
  const std::string lone = file("lone.hdr", headers);
  EXPECT_EQ(failure(lone), "Open " + dir_.file("lone") +
                               " failed: it is the data file of the GNU Radio header " + lone);
}

TEST_F(WavepackGnuRadioFiles, TooManyPairsAreRefusedFromTheHeaders) {
  // 600 million complex bytes described, in a sparse detached data file.
  grtest::Segment s = grtest::segment(1e6, 2, grtest::kByte, true, {});
  grtest::setField(s.fields, "bytes", grtest::pmtUint64(1'200'000'000));
  const std::string headerPath = file("big.hdr", grtest::pmtDict(s.fields));
  const std::string dataPath = file("big", {});
  ASSERT_EQ(::truncate(dataPath.c_str(), 1'200'000'000), 0);
  EXPECT_EQ(failure(headerPath), "Too many IQ pairs in " + dataPath +
                                     " (600000000): an .arb file holds at most 536870911");
}

}  // namespace
