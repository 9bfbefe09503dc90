// Helpers shared by the synthesis benchmarks: silencing the stages' standard output
// and reading the process's peak memory.
#pragma once

#include <sys/resource.h>

#include <iostream>
#include <streambuf>

namespace bench {

// Accepts and drops every character, after the stream has formatted it.
class DiscardBuffer : public std::streambuf {
 protected:
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// While alive, standard output is formatted as usual and then dropped.
class DiscardStdout {
 public:
  DiscardStdout() : saved_(std::cout.rdbuf(&sink_)) {}
  ~DiscardStdout() { std::cout.rdbuf(saved_); }
  DiscardStdout(const DiscardStdout&) = delete;
  DiscardStdout& operator=(const DiscardStdout&) = delete;

 private:
  DiscardBuffer sink_;
  std::streambuf* saved_;
};

// Peak resident memory of the process so far, in MiB.
inline double peakResidentMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB on Linux
}

}  // namespace bench
