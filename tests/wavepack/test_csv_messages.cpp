// The wavepack program on CSV text the field's tools write: decimal commas without
// --decimal-comma, byte-order marks, quoted numbers, numpy's complex form, UTF-16 and
// binary files, lines of one field, tab- and semicolon-separated files. Each is read
// where that is unambiguous and otherwise refused or warned with the line and cause.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "files.h"
#include "program_fixture.h"

namespace {

using namespace wavepack_test;
using testing::HasSubstr;
using testing::StartsWith;

class WavepackCsvMessages : public WavepackFormats {
 protected:
  ProcessResult runOn(const std::string& text, std::vector<std::string> args = {}) {
    arbtest::writeText(path("in.csv"), text);
    std::vector<std::string> all = {"-d", "in.csv"};
    all.insert(all.end(), args.begin(), args.end());
    all.insert(all.end(), {"-o", "out.arb"});
    return run(all);
  }
  std::vector<std::int16_t> samples() {
    std::string text;
    return arbtest::readArb(path("out.arb"), text);
  }
};

TEST_F(WavepackCsvMessages, DecimalCommasWithoutTheOptionAreWarned) {
  const std::string text = "I;Q\n0,5;0,25\n-0,5;0,1\n";
  const ProcessResult r = runOn(text, {"--delimiter", ";"});
  EXPECT_EQ(r.exitStatus, 0) << arbtest::describe(r);
  EXPECT_THAT(r.err, HasSubstr("WARNING: in.csv line 2: a number followed by a comma and digits, "
                               "a decimal comma, is cut at the comma: \"0,5;0,25\" (2 lines so); "
                               "--decimal-comma reads decimal commas"));
  const ProcessResult strict = runOn(text, {"--delimiter", ";", "--strict"});
  EXPECT_EQ(strict.exitStatus, 1);
  EXPECT_THAT(strict.err, StartsWith("PROGRAM ERROR: in.csv line 2: a number followed by a comma"));
  // With the option the values are read whole, without a word.
  const ProcessResult right = runOn(text, {"--delimiter", ";", "--decimal-comma", "--strict"});
  EXPECT_EQ(right.exitStatus, 0);
  EXPECT_EQ(right.err, "");
  EXPECT_EQ(samples(), quantise({{0.5, 0.25}, {-0.5, 0.1}}));
  // A unit after a number is still no digit group: 1.5V reads 1.5.
  const ProcessResult units = runOn("1.5V;2,5A\n1;1\n", {"--delimiter", ";", "--strict"});
  EXPECT_EQ(units.exitStatus, 1);  // ",5A" is a comma and a digit: warned
  const ProcessResult plain = runOn("1.5V;2V\n1;1\n", {"--delimiter", ";", "--strict"});
  EXPECT_EQ(plain.exitStatus, 0) << arbtest::describe(plain);
}

TEST_F(WavepackCsvMessages, AByteOrderMarkIsSkipped) {
  for (const char* delimiter : {",", ";", "tab", "space"}) {
    SCOPED_TRACE(delimiter);
    const std::string d = std::string(delimiter) == "tab"     ? "\t"
                          : std::string(delimiter) == "space" ? " "
                                                              : delimiter;
    const ProcessResult r = runOn(
        "\xef\xbb\xbf"
        "0.5" +
            d + "0.25\n-0.5" + d + "0.1\n",
        {"--delimiter", delimiter});
    EXPECT_EQ(r.exitStatus, 0) << arbtest::describe(r);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(samples(), quantise({{0.5, 0.25}, {-0.5, 0.1}}));
  }
  arbtest::writeText(path("i.csv"),
                     "\xef\xbb\xbf"
                     "1\n2\n");
  arbtest::writeText(path("q.csv"),
                     "\xef\xbb\xbf"
                     "3\n-4\n");
  const ProcessResult r = run({"-i", "i.csv", "-q", "q.csv", "--strict", "-o", "out.arb"});
  EXPECT_EQ(r.exitStatus, 0) << arbtest::describe(r);
  EXPECT_EQ(samples(), quantise({{1, 3}, {2, -4}}));
}

TEST_F(WavepackCsvMessages, QuotedNumbersAndNumpyComplexValuesAreRead) {
  const ProcessResult quoted = runOn("\"I\",\"Q\"\n\"0.5\",\"0.25\"\n\"-0.5\", \"0.1\"\n");
  EXPECT_EQ(quoted.exitStatus, 0) << arbtest::describe(quoted);
  EXPECT_EQ(quoted.err,
            "NOTE: in.csv: 2 lines hold numbers between double quotes, read as "
            "numbers\n");
  EXPECT_EQ(samples(), quantise({{0.5, 0.25}, {-0.5, 0.1}}));
  // numpy.savetxt of a complex vector.
  const ProcessResult complex = runOn(
      " (1.000000000000000000e+00+2.000000000000000000e+00j)\n"
      " (-5.000000000000000000e-01-1.250000000000000000e-01j)\n",
      {"--strict"});
  EXPECT_EQ(complex.exitStatus, 0) << arbtest::describe(complex);
  EXPECT_THAT(complex.err, HasSubstr("NOTE: in.csv: 2 lines in numpy's complex form (a+bj)"));
  EXPECT_EQ(samples(), quantise({{1, 2}, {-0.5, -0.125}}));
}

TEST_F(WavepackCsvMessages, Utf16AndBinaryFilesAreNamedForWhatTheyAre) {
  std::string utf16 = "\xff\xfe";
  for (const char c : std::string("1,2\n3,4\n")) utf16 += std::string(1, c) + '\0';
  ProcessResult r = runOn(utf16);
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_THAT(r.err, StartsWith("PROGRAM ERROR: in.csv is UTF-16 text"));
  r = runOn(utf16.substr(2));
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_THAT(r.err, StartsWith("PROGRAM ERROR: in.csv looks like UTF-16 text"));
  std::string binary = "12,";
  for (int k = 0; k < 300; ++k) binary += static_cast<char>(k * 37 % 256);
  r = runOn(binary);
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_THAT(r.err, StartsWith("PROGRAM ERROR: in.csv holds NUL bytes"));
  EXPECT_THAT(r.err, HasSubstr("--format: cf32_le"));
  EXPECT_THAT(r.err, testing::Not(HasSubstr("WARNING")));
}

TEST_F(WavepackCsvMessages, KeptWordsGetASecondLineWithTheLineAndCause) {
  // One field per line: Q is never found.
  ProcessResult r = runOn("1\n2\n");
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_THAT(r.err, HasSubstr("\nPROGRAM ERROR: No data found in in.csv second row\n"
                               "in.csv line 1 has 1 field: Q is read from field 2: \"1\"\n"));
  EXPECT_THAT(r.err, HasSubstr("WARNING: in.csv line 1 has 1 field: Q is read from field 2"));
  // A line without Q among whole ones.
  r = runOn("1,2\n3\n5,6\n7,8\n");
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_THAT(r.err, HasSubstr("PROGRAM ERROR: Two rows of data length is not equal in in.csv\n"
                               "in.csv line 2 has 1 field: Q is read from field 2: \"3\"\n"));
  // The line without I comes after more skipped lines than the warnings list.
  r = runOn("1,2\nabc\nabc\nabc\nabc\nabc\nabc\n,5\n7,8\n");
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_THAT(r.err, HasSubstr("PROGRAM ERROR: Two rows of data length is not equal in in.csv\n"
                               "in.csv line 8: field 1 (I) is not a number: \",5\"\n"));
}

TEST_F(WavepackCsvMessages, OtherDelimitersAreNamed) {
  ProcessResult r = runOn("1\t2\n3\t4\n");
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_THAT(r.err, HasSubstr("in.csv: its lines hold values separated by tabs, not by the "
                               "delimiter; --delimiter tab reads them"));
  EXPECT_THAT(r.err, testing::Not(HasSubstr("--delimiter space")));
  r = runOn("1;2\n3;4\n");
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_THAT(r.err, HasSubstr("separated by semicolons, not by the delimiter; --delimiter ';' "
                               "reads them"));
  r = runOn("1 2\n3 4\n");
  EXPECT_THAT(r.err, HasSubstr("--delimiter space reads them (numpy.savetxt's default form)"));
  // The failure repeats the hint under the file's name, as the warning gives it.
  EXPECT_THAT(r.err, HasSubstr("PROGRAM ERROR: No data found in in.csv second row\n"
                               "in.csv line 1 has 1 field: Q is read from field 2: \"1 2\"\n"
                               "in.csv: its lines hold values separated by blanks"));
  EXPECT_THAT(r.err, testing::Not(HasSubstr("\n:")));
  // A spreadsheet's export with decimal commas splits at each comma: the warning says
  // what reads it, --strict refuses it, and the options named read it as meant.
  const std::string european = "1,5;-0,25\n0,5;0,75\n";
  r = runOn(european);
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_THAT(r.err, HasSubstr("WARNING: in.csv line 1 has 3 fields: I is read from field 1 and "
                               "Q from field 2: its values look separated by semicolons with "
                               "decimal commas; --delimiter ';' --decimal-comma reads them"));
  EXPECT_EQ(runOn(european, {"--strict"}).exitStatus, 1);
  r = runOn(european, {"--delimiter", ";", "--decimal-comma"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_THAT(r.err, testing::Not(HasSubstr("WARNING")));
}

}  // namespace
