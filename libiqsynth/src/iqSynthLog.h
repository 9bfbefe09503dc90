// The run log "iqSynthRun.log", the text conversion helpers every stage uses for
// log lines and error texts, and the exception classes of a run.
#pragma once

#include <charconv>
#include <complex>
#include <concepts>
#include <cstddef>
#include <exception>
#include <fstream>
#include <new>
#include <source_location>
#include <sstream>
#include <stdexcept>
#include <string>

#include "iqsynth.h"

namespace iqsynth {

// The log file stream. Entries are buffered and reach the disk at flush(), when
// the buffer fills, and when the log is destroyed at unload.
class iqSynthLog {
 public:
  static constexpr const char* kDefaultFileName = "iqSynthRun.log";

  // Opens (truncating) the log file; on failure prints "can not open the log
  // file" on standard output and drops every later entry.
  explicit iqSynthLog(const char* fileName = kDefaultFileName);
  ~iqSynthLog();
  iqSynthLog(const iqSynthLog&) = delete;
  iqSynthLog& operator=(const iqSynthLog&) = delete;

  // One entry: the value followed by an end of line.
  template <typename T>
  void writeToLog(const T& value) {
    if (m_logFile.is_open()) {
      m_logFile << value << '\n';
    }
  }

  // Pushes every buffered entry to the file.
  void flush();
  bool isOpen() const { return m_logFile.is_open(); }

 private:
  std::ofstream m_logFile;
};

// Holder of the one process-wide log, constructed at load.
class iqSynthLogClass {
 public:
  static iqSynthLog m_iqSynthLog;
};

// Writes one entry to the run log.
void wrLog(const char* text);
void wrLog(char* text);
void wrLog(const std::string& text);

// Puts every entry written so far on disk. runIqSynth calls it before it returns.
void flushLog();

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

// Appends the text to_string gives for a value. Numbers and complex numbers go
// through std::to_chars (general format, six significant digits, the same text as
// a default stream) because whole tracks are logged; anything else uses a stream.
template <typename T>
void appendLogText(std::string& out, const T& value) {
  if constexpr (std::same_as<T, bool>) {
    out.push_back(value ? '1' : '0');
  } else if constexpr (std::integral<T> && !std::same_as<T, char>) {
    char digits[24];
    out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
  } else if constexpr (std::floating_point<T>) {
    char digits[32];
    out.append(
        digits,
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::general, 6).ptr);
  } else if constexpr (std::same_as<T, std::complex<double>>) {
    out.push_back('(');
    appendLogText(out, value.real());
    out.push_back(',');
    appendLogText(out, value.imag());
    out.push_back(')');
  } else {
    out += to_string(value);
  }
}

// Writes count lines, each built by appendLine(out, index) without its end of
// line, as a few large log entries. The file holds the same text as one entry
// per line, at a fraction of the cost.
template <typename AppendLine>
void logLines(std::size_t count, AppendLine appendLine) {
  constexpr std::size_t kChunk = 1 << 16;
  std::string chunk;
  chunk.reserve(kChunk + 256);
  for (std::size_t i = 0; i < count; ++i) {
    if (!chunk.empty()) {
      chunk.push_back('\n');
    }
    appendLine(chunk, i);
    if (chunk.size() >= kChunk) {
      wrLog(chunk);  // the entry's own end of line ends the last line
      chunk.clear();
    }
  }
  if (!chunk.empty()) {
    wrLog(chunk);
  }
}

// Dumps a container (vector of complex, valarray of double or short) to the log:
// a size entry, then one entry per element.
template <typename Container>
void ite_print(const Container& items) {
  const std::size_t count = items.size();
  wrLog(std::string(" run here") + "  list size is " + to_string(count));
  logLines(count, [&](std::string& out, std::size_t i) {
    appendLogText(out, i);
    out += "th is ";
    appendLogText(out, items[i]);
  });
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

// Configuration value a run cannot use (IQSYNTH_ERR_FILTER_TYPE, IQSYNTH_ERR_MOD_TYPE,
// IQSYNTH_ERR_DATA_SRC, IQSYNTH_ERR_POWER_RAMP_MODE, IQSYNTH_ERR_CFG_VALUE).
class IqSynthCfgExcept : public std::exception {
 public:
  IqSynthCfgExcept(int errNo, const std::string& text);
  ~IqSynthCfgExcept() override;
  const char* what() const noexcept override;
  int errNo() const { return m_errNo; }

 private:
  std::string m_text;
  int m_errNo;
};

// Noise generation failure (IQSYNTH_ERR_NOISE_BASE ORed with the noise routine's code).
class IqSynthAwgnExcept : public std::exception {
 public:
  IqSynthAwgnExcept(int errNo, const std::string& text);
  ~IqSynthAwgnExcept() override;
  const char* what() const noexcept override;
  int errNo() const { return m_errNo; }

 private:
  std::string m_text;
  int m_errNo;
};

// Data list file problem (IQSYNTH_ERR_FILE_OPEN, IQSYNTH_ERR_FILE_FORMAT).
class IqSynthFileExcept : public std::exception {
 public:
  IqSynthFileExcept(int errNo, const std::string& text);
  ~IqSynthFileExcept() override;
  const char* what() const noexcept override;
  int errNo() const { return m_errNo; }

 private:
  std::string m_text;
  int m_errNo;
};

// Failed allocation; the text names the array, the source file and the line.
class IqSynthMemAllocExcept : public std::exception {
 public:
  explicit IqSynthMemAllocExcept(const std::string& text);
  ~IqSynthMemAllocExcept() override;
  const char* what() const noexcept override;

 private:
  std::string m_text;
};

// Resizes a container (valarray or vector) to count elements. When the memory cannot be had,
// throws IqSynthMemAllocExcept with allocText followed by "<file> at <line>" of the caller.
template <typename Container>
void resizeOrThrow(Container& container, std::size_t count, const char* allocText,
                   SourceSite site = SourceSite::current()) {
  try {
    container.resize(count);
  } catch (const std::bad_alloc&) {
    throw IqSynthMemAllocExcept(allocText + siteFileAtLine(site));
  } catch (const std::length_error&) {
    throw IqSynthMemAllocExcept(allocText + siteFileAtLine(site));
  }
}

// Throws IqSynthCfgExcept IQSYNTH_ERR_CFG_VALUE with the text: a setting, or a combination of
// settings, that the run cannot use. The text names the setting.
[[noreturn]] void throwCfgValue(const std::string& text);

}  // namespace iqsynth
