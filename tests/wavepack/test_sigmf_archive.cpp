// SigMF archives (.sigmf): tar files written here block by block from the ustar
// layout (with GNU long names and pax paths), read through the SigMF reader.
#include <gtest/gtest.h>

#include <cstdio>

#include "files.h"
#include "formats/sigmf_reader.h"
#include "formats/tar_archive.h"
#include "input_stream.h"
#include "iq_readers.h"
#include "scratch_dir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using arbsuite::wavepack::Diagnostics;

void put(Bytes& block, std::size_t at, const std::string& text) {
  std::copy(text.begin(), text.end(), block.begin() + static_cast<std::ptrdiff_t>(at));
}

std::string octal(std::uint64_t value, int digits) {
  char text[32];
  std::snprintf(text, sizeof text, "%0*llo", digits, static_cast<unsigned long long>(value));
  return text;
}

// A ustar header block: name (and prefix), size, type, checksum.
Bytes header(const std::string& name, std::uint64_t size, char type,
             const std::string& prefix = "") {
  Bytes block(512, 0);
  put(block, 0, name.substr(0, 100));
  put(block, 100, "0000644");
  put(block, 108, "0000000");
  put(block, 116, "0000000");
  put(block, 124, octal(size, 11));
  put(block, 136, "14677002000");
  block[156] = static_cast<std::uint8_t>(type);
  put(block, 257, std::string("ustar\0", 6));
  put(block, 263, "00");
  put(block, 345, prefix);
  put(block, 148, "        ");
  unsigned sum = 0;
  for (std::uint8_t b : block) sum += b;
  put(block, 148, octal(sum, 6));
  block[154] = 0;
  return block;
}

struct Entry {
  std::string name;
  std::string content;
  char type = '0';
  std::string prefix;
};

Bytes tar(const std::vector<Entry>& entries) {
  Bytes out;
  for (const Entry& e : entries) {
    const Bytes h = header(e.name, e.content.size(), e.type, e.prefix);
    out.insert(out.end(), h.begin(), h.end());
    out.insert(out.end(), e.content.begin(), e.content.end());
    out.resize((out.size() + 511) / 512 * 512, 0);
  }
  out.resize(out.size() + 1024, 0);
  return out;
}

// A pax extended header naming the next member: "<length> path=<path>\n".
Entry paxPath(const std::string& path) {
  const std::string record = " path=" + path + "\n";
  std::size_t length = record.size() + 1;
  while (std::to_string(length).size() + record.size() != length) ++length;
  return {"PaxHeader/entry", std::to_string(length) + record, 'x', ""};
}

std::string ci16(const std::vector<std::int16_t>& values) {
  std::string out;
  for (std::int16_t v : values) {
    out.push_back(static_cast<char>(v & 0xff));
    out.push_back(static_cast<char>((static_cast<std::uint16_t>(v) >> 8) & 0xff));
  }
  return out;
}

const std::string kMeta =
    R"({"global":{"core:datatype":"ci16_le","core:sample_rate":250000,"core:version":"1.0.0"},
        "captures":[{"core:sample_start":0}],"annotations":[]})";

class WavepackSigmfArchive : public testing::Test {
 protected:
  std::string archive(const std::string& name, const Bytes& bytes) {
    arbtest::writeBytes(dir_.file(name), bytes);
    return dir_.file(name);
  }
  arbsuite::wavepack::InputData read(const std::string& path) {
    return arbsuite::wavepack::readSigmf(path, diagnostics_);
  }
  std::string failure(const std::string& path) {
    try {
      read(path);
    } catch (const std::exception& e) {
      return e.what();
    }
    return "";
  }
  void expectSamples(const arbsuite::wavepack::InputData& input,
                     const std::vector<std::int16_t>& values) {
    const auto pairs = arbsuite::wavepack::readAllPairs(*input.pairs);
    ASSERT_EQ(pairs.size() * 2, values.size());
    for (std::size_t k = 0; k < pairs.size(); ++k) {
      EXPECT_EQ(pairs[k].i, values[2 * k]) << k;
      EXPECT_EQ(pairs[k].q, values[2 * k + 1]) << k;
    }
  }

  arbtest::ScratchDir dir_;
  Diagnostics diagnostics_;
};

TEST_F(WavepackSigmfArchive, TheRecordingIsReadInPlace) {
  const std::vector<std::int16_t> values = {100, -200, 300, -400, 32767, -32768};
  // The layout of SigMF's own tools: a folder, the metadata, then the data.
  const std::string path =
      archive("rec.sigmf", tar({{"rec", "", '5', ""},
                                {"rec/rec.sigmf-meta", kMeta, '0', ""},
                                {"rec/rec.sigmf-data", ci16(values), '0', ""}}));
  const arbsuite::wavepack::InputData input = read(path);
  EXPECT_EQ(input.formatName, "SigMF ci16_le");
  EXPECT_EQ(input.sampleRate.value_or(0), 250000.0);
  EXPECT_EQ(input.rateSource, path + "(rec/rec.sigmf-meta)");
  expectSamples(input, values);
  EXPECT_TRUE(diagnostics_.notes().empty());
  // Any tar file given as SigMF is read as an archive, whatever its name.
  const std::string tarPath = archive("rec.tar", arbtest::readBytes(path));
  expectSamples(read(tarPath), values);
}

TEST_F(WavepackSigmfArchive, LongNamesOfEveryTarDialect) {
  const std::vector<std::int16_t> values = {1, 2, 3, 4};
  const std::string folder(90, 'f');
  const std::string longName = folder + "/" + std::string(60, 'n');
  // ustar's prefix field, a GNU long name, a pax path; the data comes first.
  const std::vector<std::vector<Entry>> layouts = {
      {{std::string(60, 'n') + ".sigmf-data", ci16(values), '0', folder},
       {std::string(60, 'n') + ".sigmf-meta", kMeta, '0', folder}},
      {{"././@LongLink", longName + ".sigmf-data" + std::string(1, '\0'), 'L', ""},
       {"cut-short-data", ci16(values), '0', ""},
       {"././@LongLink", longName + ".sigmf-meta" + std::string(1, '\0'), 'L', ""},
       {"cut-short-meta", kMeta, '0', ""}},
      {paxPath(longName + ".sigmf-meta"),
       {"cut-short-meta", kMeta, '0', ""},
       paxPath(longName + ".sigmf-data"),
       {"cut-short-data", ci16(values), '0', ""}}};
  for (std::size_t k = 0; k < layouts.size(); ++k) {
    SCOPED_TRACE(k);
    const std::string path = archive("long" + std::to_string(k) + ".sigmf", tar(layouts[k]));
    const arbsuite::wavepack::InputData input = read(path);
    EXPECT_EQ(input.rateSource, path + "(" + longName + ".sigmf-meta)");
    expectSamples(input, values);
  }
}

TEST_F(WavepackSigmfArchive, TheFirstOfSeveralRecordingsIsReadAndTheOthersNamed) {
  const std::string path =
      archive("two.sigmf", tar({{"b/b.sigmf-meta", kMeta, '0', ""},
                                {"a/a.sigmf-meta", kMeta, '0', ""},
                                {"a/a.sigmf-data", ci16({9, 9}), '0', ""},
                                {"b/b.sigmf-data", ci16({5, -5, 6, -6}), '0', ""}}));
  expectSamples(read(path), {5, -5, 6, -6});
  EXPECT_EQ(diagnostics_.notes(),
            std::vector<std::string>{path + " holds 2 recordings: the first, b/b, is read"});
  EXPECT_TRUE(diagnostics_.warnings().empty());
}

TEST_F(WavepackSigmfArchive, ADatasetNamesTheDataMember) {
  const std::string meta = R"({"global":{"core:datatype":"ci16_le","core:dataset":"samples.bin"}})";
  const std::string path =
      archive("ds.sigmf",
              tar({{"r/r.sigmf-meta", meta, '0', ""}, {"r/samples.bin", ci16({7, 8}), '0', ""}}));
  const arbsuite::wavepack::InputData input = read(path);
  expectSamples(input, {7, 8});
  EXPECT_EQ(input.missingRate, path + "(r/r.sigmf-meta) has no core:sample_rate");
}

TEST_F(WavepackSigmfArchive, RefusalsNameTheArchiveAndTheRecording) {
  const std::string text = archive("text.sigmf", Bytes{'I', ',', 'Q', '\n', '1', ',', '2', '\n'});
  EXPECT_EQ(failure(text), text +
                               " is not a tar archive (a SigMF archive is an uncompressed tar "
                               "file of .sigmf-meta and .sigmf-data files)");
  const std::string none = archive("none.sigmf", tar({{"readme.txt", "hello", '0', ""}}));
  EXPECT_EQ(failure(none), none + " holds no SigMF recording (no .sigmf-meta file)");
  const std::string noData = archive("nodata.sigmf", tar({{"r/r.sigmf-meta", kMeta, '0', ""}}));
  EXPECT_EQ(failure(noData),
            noData + "(r/r.sigmf-meta): its data, r/r.sigmf-data, is not in " + noData);
  const std::string badMeta =
      archive("bad.sigmf", tar({{"r/r.sigmf-meta", R"({"global":{}})", '0', ""},
                                {"r/r.sigmf-data", ci16({1, 2}), '0', ""}}));
  EXPECT_EQ(failure(badMeta), badMeta + "(r/r.sigmf-meta): no \"core:datatype\" text");
  const std::string odd = archive(
      "odd.sigmf", tar({{"r/r.sigmf-meta", kMeta, '0', ""}, {"r/r.sigmf-data", "abc", '0', ""}}));
  EXPECT_EQ(failure(odd), odd +
                              "(r/r.sigmf-data) ends with a partial sample: 3 bytes is not a "
                              "whole number of ci16_le samples of 4 bytes");

  // A damaged header, and a member cut short by the end of the file.
  Bytes bytes =
      tar({{"r/r.sigmf-meta", kMeta, '0', ""}, {"r/r.sigmf-data", ci16({1, 2}), '0', ""}});
  Bytes damaged = bytes;
  damaged[1024 + 1] ^= 0x01;  // the name of the second header
  const std::string damagedPath = archive("damaged.sigmf", damaged);
  EXPECT_EQ(failure(damagedPath),
            damagedPath + ": the tar header at byte 1024 is damaged (its checksum is wrong)");
  bytes.resize(1024 + 512 + 2);
  const std::string cut = archive("cut.sigmf", bytes);
  EXPECT_EQ(failure(cut), cut + " ends inside the member at byte 1024 (4 bytes)");
}

TEST(WavepackTarArchive, MembersAndWhereTheirBytesAre) {
  arbtest::ScratchDir dir;
  const std::string path = dir.file("t.tar");
  arbtest::writeBytes(path, tar({{"d", "", '5', ""},
                                 {"d/a", std::string(600, 'a'), '0', ""},
                                 {"d/link", "", '2', ""},
                                 {"d/b", "bb", '\0', ""}}));
  arbsuite::wavepack::InputStream input(path);
  const std::vector<arbsuite::wavepack::TarMember> members =
      arbsuite::wavepack::listTarMembers(input);
  ASSERT_EQ(members.size(), 2u);
  EXPECT_EQ(members[0].name, "d/a");
  EXPECT_EQ(members[0].offset, 1024u);
  EXPECT_EQ(members[0].size, 600u);
  EXPECT_EQ(members[1].name, "d/b");
  EXPECT_EQ(members[1].offset, 1024u + 1024 + 512 + 512);
  EXPECT_EQ(members[1].size, 2u);
}

}  // namespace
