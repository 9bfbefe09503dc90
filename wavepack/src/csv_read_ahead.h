// The reading of CSV text ahead of its parsing: the buffers the blocks are read
// into, and the look-ahead at the start of the file that checks what the text is.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "csv_number.h"
#include "csv_piece.h"
#include "csv_reader.h"

namespace arbsuite::wavepack::csv {

// Text read from the input, with kReadSlack zero bytes after what it holds; left
// uninitialised otherwise, so that pages the reads never reach are never touched.
class TextBuffer {
 public:
  char* data() const { return data_.get(); }
  char* end() const { return data_.get() + held_; }
  std::size_t held() const { return held_; }
  void clear() { held_ = 0; }
  // Makes room for `more` bytes after those held.
  void reserve(std::size_t more) {
    if (capacity_ >= held_ + more) return;
    const std::size_t grown = std::max(held_ + more, 2 * capacity_);
    std::unique_ptr<char[]> larger(new char[grown + kReadSlack]);
    if (held_ > 0) std::memcpy(larger.get(), data_.get(), held_);
    data_ = std::move(larger);
    capacity_ = grown;
  }
  // Counts `n` more bytes as held (written at end()).
  void grow(std::size_t n) {
    held_ += n;
    std::memset(data_.get() + held_, 0, kReadSlack);
  }

 private:
  std::unique_ptr<char[]> data_;
  std::size_t capacity_ = 0;
  std::size_t held_ = 0;
};

// The bytes of the text as the pieces parse them: the start of the file is read
// ahead (a fixed length, so that what is found there does not depend on the reads'
// sizes) and checked before anything is parsed. A UTF-8 byte-order mark is dropped;
// UTF-16 text and binary data are refused with what they look like; a text whose
// lines end with a lone CR (classic Mac OS) has each CR read as a line feed.
class TextStart {
 public:
  static constexpr std::size_t kLookAhead = 4096;

  TextStart(const ByteReader& reader, const std::string& name, Diagnostics& diagnostics);

  std::size_t read(char* buffer, std::size_t length);

 private:
  void check(const std::string& name, Diagnostics& diagnostics);

  const ByteReader& reader_;
  std::string start_;
  std::size_t at_ = 0;
  bool crLineEnds_ = false;
};

}  // namespace arbsuite::wavepack::csv
