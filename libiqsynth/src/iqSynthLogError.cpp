// The error type of a run and the source sites its texts and the log's entries name, for
// iqSynthLog.
#include <string>
#include <string_view>
#include <utility>

#include "iqSynthLog.h"

namespace arbsuite::iqsynth {

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

IqSynthError::IqSynthError(Kind kind, int errNo, std::string text)
    : m_text(std::move(text)), m_kind(kind), m_errNo(errNo) {}
IqSynthError IqSynthError::memAlloc(std::string text) {
  return IqSynthError(Kind::MemAlloc, IQSYNTH_ERR_MEM_ALLOC, std::move(text));
}
IqSynthError::~IqSynthError() = default;
const char* IqSynthError::what() const noexcept { return m_text.c_str(); }

void throwCfgValue(const std::string& text) {
  throw IqSynthError(IqSynthError::Kind::Config, IQSYNTH_ERR_CFG_VALUE, text);
}

}  // namespace arbsuite::iqsynth
