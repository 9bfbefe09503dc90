// The per-symbol lines a run prints on standard output when it is switched on: formatted by the
// log's exact number text into a large block and written to std::cout a block at a time, the
// same characters as the stream's own formatting at a fraction of its cost per line.
#pragma once

#include <cstddef>
#include <cstring>
#include <iostream>
#include <memory>
#include <string_view>
#include <type_traits>

#include "iqSynthLogText.h"

namespace arbsuite::iqsynth {

class iqSynthStdoutLines {
 public:
  // Lines go through the block only while std::cout formats as a default stream does (the
  // classic locale, decimal, six significant digits, no width or fill); a host that changed
  // that gets its own formatting line by line, as before.
  iqSynthStdoutLines();
  // Writes what is left, also when a stage ends with an exception.
  ~iqSynthStdoutLines() { flush(); }
  iqSynthStdoutLines(const iqSynthStdoutLines&) = delete;
  iqSynthStdoutLines& operator=(const iqSynthStdoutLines&) = delete;

  // One line: the parts (texts, integers and doubles) and an end of line.
  template <typename... Parts>
  void line(const Parts&... parts) {
    if (!block_) {
      (std::cout << ... << parts) << '\n';
      return;
    }
    if (kBlockBytes - used_ < kLineRoom) {
      flush();
    }
    (append(parts), ...);
    block_[used_++] = '\n';
  }

  // Writes the block to std::cout.
  void flush();

 private:
  static constexpr std::size_t kBlockBytes = 1 << 16;
  // Room a line needs at most: the stages print one or two numbers and a short text.
  static constexpr std::size_t kLineRoom = 256;

  void append(std::string_view text) {
    std::memcpy(block_.get() + used_, text.data(), text.size());
    used_ += text.size();
  }
  void append(const char* text) { append(std::string_view(text)); }
  template <typename T>
  requires std::is_arithmetic_v<T>
  void append(T value) {
    char* const out = block_.get() + used_;
    char* end = nullptr;
    if constexpr (std::is_floating_point_v<T>) {
      end = levels_.copyTo(out, static_cast<double>(value));  // the mapped levels repeat
    } else {
      end = writeValueText(out, value);
    }
    used_ = static_cast<std::size_t>(end - block_.get());
  }

  std::unique_ptr<char[]> block_;  // null when the stream formats otherwise
  std::size_t used_ = 0;
  DoubleTextCache levels_;
};

}  // namespace arbsuite::iqsynth
