// Test helper: points the library's process-wide run log at a file of the test for the life
// of the object, then puts back the default file, the list format options and the standard
// output switch.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "iqSynthLog.h"

// The ways of formatting the long lists of the log besides the reference (every line through
// to_string, one entry each): each must give the reference text.
inline const arbsuite::iqsynth::LogFormatOptions kFastLogFormats[] = {
    {false, 1, 0},  // one thread, default blocks
    {false, 1, 7},  // one thread, small blocks
    {false, 3, 7},  // three threads, small blocks: many blocks in flight
    {false, 2, 0},  // two threads, default blocks
};
inline constexpr arbsuite::iqsynth::LogFormatOptions kReferenceLogFormat{true, 0, 0};

class GlobalLogToFile {
 public:
  explicit GlobalLogToFile(const std::string& name)
      : path_(std::filesystem::current_path() / name) {
    arbsuite::iqsynth::iqSynthLogClass::m_iqSynthLog.reopen(path_.c_str());
  }
  ~GlobalLogToFile() {
    arbsuite::iqsynth::setLogFormatOptions({});
    arbsuite::iqsynth::setStdoutEnabled(true);
    arbsuite::iqsynth::iqSynthLogClass::m_iqSynthLog.reopen(
        arbsuite::iqsynth::iqSynthLog::kDefaultFileName);
  }
  GlobalLogToFile(const GlobalLogToFile&) = delete;
  GlobalLogToFile& operator=(const GlobalLogToFile&) = delete;

  // Everything logged so far.
  std::string text() const {
    arbsuite::iqsynth::flushLog();
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream os;
    os << in.rdbuf();
    return os.str();
  }

 private:
  std::filesystem::path path_;
};
