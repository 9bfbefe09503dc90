// The process-wide run log and the exception classes of the synthesis library.
#include "iqSynthLog.h"

#include <iostream>
#include <string_view>

namespace iqsynth {

namespace {
// Entries are collected in a large buffer: a run logs one line per sample.
constexpr std::size_t kLogBufferSize = 1 << 16;
char gLogBuffer[kLogBufferSize];
}  // namespace

iqSynthLog iqSynthLogClass::m_iqSynthLog;

iqSynthLog::iqSynthLog(const char* fileName) {
  if (&iqSynthLogClass::m_iqSynthLog == this) {
    m_logFile.rdbuf()->pubsetbuf(gLogBuffer, kLogBufferSize);
  }
  m_logFile.open(fileName, std::ios::out | std::ios::trunc);
  if (!m_logFile.is_open()) {
    std::cout << "can not open the log file" << std::endl;
  }
}

iqSynthLog::~iqSynthLog() {
  if (m_logFile.is_open()) {
    m_logFile.close();
  }
}

void iqSynthLog::flush() {
  if (m_logFile.is_open()) {
    m_logFile.flush();
  }
}

void wrLog(const char* text) { iqSynthLogClass::m_iqSynthLog.writeToLog(text); }
void wrLog(char* text) { iqSynthLogClass::m_iqSynthLog.writeToLog(text); }
void wrLog(const std::string& text) { iqSynthLogClass::m_iqSynthLog.writeToLog(text); }

void flushLog() { iqSynthLogClass::m_iqSynthLog.flush(); }

namespace {
std::string_view fileNameOf(const SourceSite& site) {
  const std::string_view path = site.file_name();
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}
}  // namespace

std::string siteFileAtLine(SourceSite site) {
  return std::string(fileNameOf(site)) + " at " + to_string(site.line());
}
std::string siteLineInFile(SourceSite site) {
  return to_string(site.line()) + " in file " + std::string(fileNameOf(site));
}
std::string siteLineIn(SourceSite site) {
  return to_string(site.line()) + " in " + std::string(fileNameOf(site));
}

IqSynthCfgExcept::IqSynthCfgExcept(int errNo, const std::string& text)
    : m_text(text), m_errNo(errNo) {}
IqSynthCfgExcept::~IqSynthCfgExcept() = default;
const char* IqSynthCfgExcept::what() const noexcept { return m_text.c_str(); }

IqSynthAwgnExcept::IqSynthAwgnExcept(int errNo, const std::string& text)
    : m_text(text), m_errNo(errNo) {}
IqSynthAwgnExcept::~IqSynthAwgnExcept() = default;
const char* IqSynthAwgnExcept::what() const noexcept { return m_text.c_str(); }

IqSynthFileExcept::IqSynthFileExcept(int errNo, const std::string& text)
    : m_text(text), m_errNo(errNo) {}
IqSynthFileExcept::~IqSynthFileExcept() = default;
const char* IqSynthFileExcept::what() const noexcept { return m_text.c_str(); }

IqSynthMemAllocExcept::IqSynthMemAllocExcept(const std::string& text) : m_text(text) {}
IqSynthMemAllocExcept::~IqSynthMemAllocExcept() = default;
const char* IqSynthMemAllocExcept::what() const noexcept { return m_text.c_str(); }

void throwCfgValue(const std::string& text) { throw IqSynthCfgExcept(IQSYNTH_ERR_CFG_VALUE, text); }

}  // namespace iqsynth
