// Streams and file names over arb::OutputFile for the analysis outputs.
#include "analysis_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "standard_output.h"

namespace arbsuite::analysis {
namespace {

std::string reason(int error) { return error != 0 ? std::strerror(error) : "write error"; }

}  // namespace

OutputFile::OutputFile(const std::string& path) : path_(path) {
  if (isStandardOutput()) return;
  if (path.empty()) throw OutputError("the output name is empty");
  if (!file_.open(path)) throw OutputError("cannot write " + path + ": " + reason(file_.error()));
  // A device or FIFO is written through by its own name; a replacement has no name
  // until commit() and is reached through the open descriptor.
  writePath_ = file_.writesThrough() ? file_.destination()
                                     : "/proc/self/fd/" + std::to_string(file_.descriptor());
}

OutputFile::~OutputFile() { abandon(); }

void OutputFile::abandon() {
  if (stream_ != nullptr && stream_ != stdout) std::fclose(stream_);
  stream_ = nullptr;
  file_.discard();
}

std::FILE* OutputFile::stream() {
  if (stream_ != nullptr) return stream_;
  if (isStandardOutput()) {
    stream_ = stdout;
    return stream_;
  }
  // A stream of its own on a duplicate of the descriptor: closing it leaves the
  // output open until commit().
  const int fd = ::fcntl(file_.descriptor(), F_DUPFD_CLOEXEC, 0);
  if (fd >= 0) stream_ = ::fdopen(fd, "wb");
  if (stream_ == nullptr) {
    const int error = errno;
    if (fd >= 0) ::close(fd);
    throw OutputError("cannot write " + path_ + ": " + reason(error));
  }
  return stream_;
}

void OutputFile::close() {
  if (stream_ == nullptr) return;
  errno = 0;
  const bool flushed = std::fflush(stream_) == 0 && std::ferror(stream_) == 0;
  const int flushError = errno;
  const bool closed = stream_ == stdout || std::fclose(stream_) == 0;
  const int error = flushError != 0 ? flushError : errno;
  stream_ = nullptr;
  if (!flushed || !closed) {
    file_.discard();
    // The message below is the report; the exit check of standard output only sets
    // the exit status.
    if (isStandardOutput()) arb::standardOutputFailureReported();
    throw OutputError("cannot write " +
                      (isStandardOutput() ? std::string("standard output") : path_) + ": " +
                      reason(error));
  }
}

void OutputFile::commit() {
  close();
  if (isStandardOutput()) return;
  if (!file_.commit()) throw OutputError("cannot write " + path_ + ": " + reason(file_.error()));
}

}  // namespace arbsuite::analysis
