// The look-ahead at the start of a CSV text (see csv_read_ahead.h).
#include "csv_read_ahead.h"

#include <algorithm>
#include <stdexcept>
#include <string_view>

namespace arbsuite::wavepack::csv {

TextStart::TextStart(const ByteReader& reader, const std::string& name, Diagnostics& diagnostics)
    : reader_(reader) {
  start_.resize(kLookAhead);
  std::size_t held = 0;
  while (held < start_.size()) {
    const std::size_t n = reader_(start_.data() + held, start_.size() - held);
    if (n == 0) break;
    held += n;
  }
  start_.resize(held);
  check(name, diagnostics);
}

std::size_t TextStart::read(char* buffer, std::size_t length) {
  std::size_t n = 0;
  if (at_ < start_.size()) {
    n = std::min(length, start_.size() - at_);
    std::memcpy(buffer, start_.data() + at_, n);
    at_ += n;
    // The rest of the first buffer from the file, as if nothing had been read ahead.
    if (n < length && start_.size() == kLookAhead) n += reader_(buffer + n, length - n);
  } else {
    n = reader_(buffer, length);
  }
  if (crLineEnds_) std::replace(buffer, buffer + n, '\r', '\n');
  return n;
}

void TextStart::check(const std::string& name, Diagnostics& diagnostics) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(start_[k]); };
  if (start_.size() >= 2 &&
      ((byte(0) == 0xFF && byte(1) == 0xFE) || (byte(0) == 0xFE && byte(1) == 0xFF)))
    throw std::runtime_error(name + " is UTF-16 text (it starts with the byte-order mark of " +
                             (byte(0) == 0xFF ? "UTF-16LE" : "UTF-16BE") +
                             "); save it as UTF-8 or ASCII text, e.g. with "
                             "iconv -f UTF-16 -t UTF-8");
  if (start_.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) at_ = 3;
  const std::size_t nul = start_.find('\0');
  if (nul != std::string::npos) {
    // ASCII text in UTF-16 without a mark: every other byte is NUL.
    std::size_t evenNul = 0;
    std::size_t oddNul = 0;
    for (std::size_t k = 0; k < start_.size(); ++k) (k % 2 ? oddNul : evenNul) += byte(k) == 0;
    const std::size_t half = start_.size() / 2;
    if (half >= 2 && (oddNul >= half * 9 / 10 || evenNul >= half * 9 / 10) &&
        std::min(oddNul, evenNul) == 0)
      throw std::runtime_error(name +
                               " looks like UTF-16 text (every other byte is NUL); save "
                               "it as UTF-8 or ASCII text, e.g. with iconv -f UTF-16 "
                               "-t UTF-8");
    throw std::runtime_error(
        name + " holds NUL bytes (the first at byte " + std::to_string(nul + 1) +
        "): it looks like binary data, not CSV text. Give its format with --format: cf32_le, "
        "cf64_le, ci32_le, ci16_le, ci8, cu8 (or _be for big-endian), sigmf, mat or wav");
  }
  const std::string_view text = std::string_view(start_).substr(at_);
  if (text.find('\n') == std::string_view::npos && text.find('\r') != std::string_view::npos) {
    crLineEnds_ = true;
    diagnostics.note(name +
                     " ends its lines with a lone CR (classic Mac OS text): each CR is "
                     "read as a line end");
  }
}

}  // namespace arbsuite::wavepack::csv
