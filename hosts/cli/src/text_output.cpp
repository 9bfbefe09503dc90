// Text output to a file or to standard output (see text_output.h).
#include "text_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "standard_output.h"

namespace arbsuite::cli {

bool TextOutput::open(const std::string& path) {
  error_ = 0;
  toStandardOutput_ = path.empty();
  if (toStandardOutput_) return true;
  if (file_.open(path)) return true;
  error_ = file_.error();
  return false;
}

bool TextOutput::write(std::string_view text) {
  if (toStandardOutput_) {
    if (text.empty() || std::fwrite(text.data(), 1, text.size(), stdout) == text.size()) {
      return true;
    }
    error_ = errno;
    arb::standardOutputFailureReported();
    return false;
  }
  if (file_.write(text.data(), text.size())) return true;
  error_ = file_.error();
  return false;
}

bool TextOutput::commit() {
  if (toStandardOutput_) {
    if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) return true;
    error_ = errno;
    arb::standardOutputFailureReported();
    return false;
  }
  if (file_.commit()) return true;
  error_ = file_.error();
  return false;
}

std::string TextOutput::errorText() const {
  return error_ != 0 ? std::strerror(error_) : "write error";
}

}  // namespace arbsuite::cli
