// The internal library's reading of .arb files over seqlink's readers (compiled in,
// decrypting through libwavecrypt.so loaded at run time): the sample count, text and
// samples of a file, and the items of its display text. arbtool and the Python module
// share it and report the same failures in their own ways.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace arbsuite {

// The programs' exit statuses, one per kind of failure.
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 1;   // bad command line
inline constexpr int kExitRead = 2;    // an .arb file cannot be read (missing, truncated, damaged)
inline constexpr int kExitJoin = 3;    // the multi-segment calls failed
inline constexpr int kExitOutput = 4;  // an output (samples, plot, configuration) cannot be written
inline constexpr int kExitInternal = 5;  // unexpected failure, such as running out of memory

// A failure with the exit status it gives and its message; libraryStatus is the
// seqlink status behind it (0 when the program itself found the fault).
struct Failure {
  int exitStatus;
  std::string message;
  int libraryStatus = 0;
};

// What seqlink's readers gave for one file.
struct ArbContent {
  std::string path;
  std::vector<short> samples;  // I, Q interleaved; at least 2 x count values
  std::size_t count = 0;       // sample pairs
  bool multiSegment = false;   // readArbFileInf said so (status 15)
  double clockHz = 0;          // readArbFileInf's clock (single waveforms)
  std::string displayText;     // readArbFileAllInf's text
};

// One item of the display text.
struct HeaderItem {
  std::string key;
  std::string value;
};

// The items of the display text readArbFileAllInf shows: one " key<padding>:value"
// line per item; a line without a colon is an item with an empty value.
std::vector<HeaderItem> headerItems(std::string_view displayText);

// "key: value" lines, one per item, for a description.
std::string describeItems(const std::vector<HeaderItem>& items);

// The sample count from readArbFileInf (which stores it before any later check,
// so it is also known for multi-segment files), checked against the file size so
// that a truncated file is reported instead of read as silence. A file that call
// takes for multi-segment must also pass readArbFileAllInf, so that a file that is
// no .arb file is refused in info's words and status whatever the command. clock,
// energy and infoStatus (SEQLINK_OK, or SEQLINK_MULTI_SEGMENT_REFUSED) are stored
// when not null. Throws Failure (kExitRead).
int sampleCountOf(const std::string& path, double* clock, double* energy, int* infoStatus);

// The file's description as the library shows it (readArbFileAllInf). Throws
// Failure (kExitRead).
std::string descriptionOf(const std::string& path);

// readContent without the samples: path, count, clock, multi-segment flag and,
// withText, the display text, with the same checks and failures.
ArbContent describedContent(const std::string& path, bool withText = true);

// readContent's failure (kExitRead) for a status of the sample reader.
Failure readDataFailure(const std::string& path, int status);

// The file's samples and descriptions, for dump, stats and plot; the display
// text only withText (the raw and CSV dumps do without it). Throws Failure.
ArbContent readContent(const std::string& path, bool withText = true);

}  // namespace arbsuite
