// The run log, the standard-output switch, the text helpers of log lines and error texts, and
// the one error type of a run; defined in iqSynthLog.cpp (the log), iqSynthLogBlocks.cpp (long
// lists), iqSynthLogError.cpp (error type, source sites) and iqSynthLogText.cpp (number text).
#pragma once

#include <complex>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <deque>
#include <exception>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <source_location>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <type_traits>
#include <vector>

#include "iqSynthLogText.h"
#include "iqsynth.h"

namespace arbsuite::iqsynth {

// The log file stream. Entries collect in chunks of text that a writer thread puts into the
// file while the run goes on, in the order they were written; flush() waits for them all.
// The writer runs from the first chunk until flush() (runIqSynth flushes before it returns),
// so no thread outlives a run. Only one thread writes entries at a time (the run's).
class iqSynthLog {
 public:
  static constexpr const char* kDefaultFileName = "iqSynthRun.log";

  // A buffer of log text: length bytes used of capacity.
  struct Chunk {
    std::unique_ptr<char[]> data;
    std::size_t length = 0;
    std::size_t capacity = 0;
  };

  // Opens (truncating) the log file; on failure prints "can not open the log
  // file" on standard output (unless standard output is switched off) and drops
  // every later entry. A null fileName makes a log that is off: nothing is opened,
  // created or printed, and every entry is dropped.
  explicit iqSynthLog(const char* fileName = kDefaultFileName);
  ~iqSynthLog();
  iqSynthLog(const iqSynthLog&) = delete;
  iqSynthLog& operator=(const iqSynthLog&) = delete;

  // One entry: the value followed by an end of line.
  template <typename T>
  void writeToLog(const T& value) {
    if (!m_open) {
      return;
    }
    if constexpr (std::is_convertible_v<const T&, std::string_view>) {
      writeEntry(std::string_view(value));
    } else {
      std::ostringstream text;
      text << value;
      writeEntry(text.str());
    }
  }
  // Text written as it is (the caller supplies the ends of line).
  void writeText(const char* text, std::size_t length);

  // An empty chunk of at least capacity bytes for writeChunk, a recycled one where possible.
  // Safe to call from several threads. Throws std::bad_alloc.
  Chunk takeChunk(std::size_t capacity);
  // Appends the chunk's text to the log after everything written so far; the log takes the
  // chunk.
  void writeChunk(Chunk&& chunk);

  // Closes the current file (writing what is buffered) and opens fileName as the
  // constructor does; null switches the log off. For tests and benchmarks, which
  // link the library's objects and cannot load it again with another environment.
  void reopen(const char* fileName);

  // Waits until every entry is in the file, stops the writer and flushes the stream.
  void flush();
  // Whether chunks are written by the writer thread while the run goes on (the default) or
  // by the thread that hands them over, when it hands them over: the same bytes either way.
  // Flushes first. For the tests and benchmarks that compare the two.
  void setOverlappedWriting(bool overlapped);
  bool isOpen() const { return m_open; }

 private:
  void open(const char* fileName);
  void writeEntry(std::string_view text);
  void queue(Chunk&& chunk);
  void writeOut();

  std::ofstream m_logFile;
  std::unique_ptr<char[]> m_buffer;
  bool m_open = false;
  Chunk m_current;  // small entries collect here until it is full or flushed

  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::deque<Chunk> m_queue;  // chunks for the writer, in order
  std::size_t m_queuedBytes = 0;
  std::vector<Chunk> m_spare;  // written chunks kept for takeChunk
  std::thread m_writer;
  bool m_stopWriter = false;
  bool m_overlapped = true;
};

// Holder of the one process-wide log, constructed at load. Its file is named by
// IQSYNTH_RUN_LOG as the library loads: unset, "iqSynthRun.log" in the working
// folder; a path, that file; set and empty, no log at all.
class iqSynthLogClass {
 public:
  static iqSynthLog m_iqSynthLog;
};

// The file the process-wide log opens for a value of IQSYNTH_RUN_LOG: the default name
// for null (unset), null (no log) for an empty text, else the text itself.
const char* runLogFileFor(const char* environmentValue);

// Whether the process-wide log keeps entries. Stages test it before they format
// per-symbol or per-sample text, so that a run without a log pays nothing for it.
inline bool logEnabled() { return iqSynthLogClass::m_iqSynthLog.isOpen(); }

// Writes one entry to the run log.
void wrLog(const char* text);
void wrLog(char* text);
void wrLog(const std::string& text);

// Puts every entry written so far on disk. runIqSynth calls it before it returns.
void flushLog();

// Standard output of the library (the load line, the per-symbol lines, the filter
// taps, "net H is", "mccwMaxFreq is", a log that cannot be opened): on unless
// IQSYNTH_STDOUT is "0" when the library loads.
bool stdoutEnabled();
// Whether the library writes to standard output for a value of IQSYNTH_STDOUT (null: unset).
bool stdoutEnabledFor(const char* environmentValue);
// Switches the library's standard output on or off (tests and benchmarks).
void setStdoutEnabled(bool enabled);

// Text of a value with default stream formatting: integers in decimal, doubles
// with six significant digits (1e+06, 0.35), bool as 1/0, complex as (re,im),
// enumerations as their number. Call it unqualified or as iqsynth::to_string; with
// `using namespace std` in scope, std::to_string(double) would be picked for
// doubles and format them differently.
template <typename T>
std::string to_string(const T& value) {
  std::ostringstream os;
  os << value;
  return os.str();
}

// How the indexed lists of the log are formatted. The default is the fast formatter in
// blocks over several threads; tests compare it with one thread and with the reference,
// which builds every line with to_string and writes it as its own entry.
struct LogFormatOptions {
  bool reference = false;      // every line through to_string, one entry each
  unsigned threads = 0;        // formatting threads; 0: one per processor (at most 4)
  std::size_t blockLines = 0;  // lines per block; 0: the default (1 << 16)
};
void setLogFormatOptions(const LogFormatOptions& options);
LogFormatOptions logFormatOptions();

// Formats the lines first .. last-1 of a list at out and returns the end of the text; out
// has room for (last - first) times the list's longest line.
using LogBlockFormatter = std::function<char*(char* out, std::size_t first, std::size_t last)>;
// Writes count lines of at most maxLineLength characters (end of line included) to the
// log, formatted block by block by formatBlock, in parallel where it pays; the text is the
// same as one pass over the lines.
void writeLogBlocks(std::size_t count, std::size_t maxLineLength,
                    const LogBlockFormatter& formatBlock);

// Writes count lines "<i><label><value i>" (i from 0) to the log, value i being
// valueAt(i): an integer, a double or a complex double in the default stream form.
// Nothing is formatted when the log is off.
template <typename ValueAt>
void logIndexedLines(const char* label, std::size_t count, ValueAt valueAt) {
  if (!logEnabled() || count == 0) {
    return;
  }
  if (logFormatOptions().reference) {
    for (std::size_t i = 0; i < count; ++i) {
      wrLog(to_string(i) + label + to_string(valueAt(i)));
    }
    return;
  }
  const PaddedLabel labelText(label);
  // Room per line: the fixed-size copies of the index and the label may write past the text
  // they leave, so the room covers both copies in full.
  const std::size_t maxLine =
      DecimalCounter::kCopyLength + PaddedLabel::kCopyLength + labelText.size() + kMaxValueText + 1;
  writeLogBlocks(count, maxLine, [&](char* out, std::size_t first, std::size_t last) {
    DecimalCounter index(first);
    for (std::size_t i = first; i < last; ++i, index.next()) {
      out = index.copyTo(out);
      out = labelText.copyTo(out);
      out = writeValueText(out, valueAt(i));
      *out++ = '\n';
    }
    return out;
  });
}

// Dumps a container (vector of complex, valarray of double or short) to the log:
// a size entry, then one entry per element "<i>th is <element>".
template <typename Container>
void ite_print(const Container& items) {
  if (!logEnabled()) {
    return;
  }
  const std::size_t count = items.size();
  wrLog(std::string(" run here") + "  list size is " + to_string(count));
  logIndexedLines("th is ", count, [&](std::size_t i) { return items[i]; });
}

// Where a log line or an error text was written from: the source file's name (without its
// folder) and the line of the call, in the three forms the texts use.
using SourceSite = std::source_location;
// "<file> at <line>"
std::string siteFileAtLine(SourceSite site = SourceSite::current());
// "<line> in file <file>"
std::string siteLineInFile(SourceSite site = SourceSite::current());
// "<line> in <file>"
std::string siteLineIn(SourceSite site = SourceSite::current());

// The one error of a run. Its kind says which stage refused and how runIqSynth turns it into
// a status: Config (IQSYNTH_ERR_FILTER_TYPE, IQSYNTH_ERR_MOD_TYPE, IQSYNTH_ERR_DATA_SRC,
// IQSYNTH_ERR_POWER_RAMP_MODE, IQSYNTH_ERR_CFG_VALUE), Awgn (IQSYNTH_ERR_NOISE_BASE ORed with the
// noise routine's code), File (IQSYNTH_ERR_FILE_OPEN, IQSYNTH_ERR_FILE_FORMAT) and MemAlloc (a
// failed allocation, always IQSYNTH_ERR_MEM_ALLOC; its text names the array, file and line).
class IqSynthError : public std::exception {
 public:
  enum class Kind { Config, Awgn, File, MemAlloc };

  IqSynthError(Kind kind, int errNo, std::string text);
  // A failed allocation: kind MemAlloc, number IQSYNTH_ERR_MEM_ALLOC.
  static IqSynthError memAlloc(std::string text);
  ~IqSynthError() override;
  const char* what() const noexcept override;
  Kind kind() const { return m_kind; }
  int errNo() const { return m_errNo; }

 private:
  std::string m_text;
  Kind m_kind;
  int m_errNo;
};

// Resizes a container (valarray or vector) to count elements. When the memory cannot be had,
// throws a MemAlloc IqSynthError with allocText followed by "<file> at <line>" of the caller.
template <typename Container>
void resizeOrThrow(Container& container, std::size_t count, const char* allocText,
                   SourceSite site = SourceSite::current()) {
  try {
    container.resize(count);
  } catch (const std::bad_alloc&) {
    throw IqSynthError::memAlloc(allocText + siteFileAtLine(site));
  } catch (const std::length_error&) {
    throw IqSynthError::memAlloc(allocText + siteFileAtLine(site));
  }
}

// Throws a Config IqSynthError IQSYNTH_ERR_CFG_VALUE with the text: a setting, or a combination of
// settings, that the run cannot use. The text names the setting.
[[noreturn]] void throwCfgValue(const std::string& text);

}  // namespace arbsuite::iqsynth
