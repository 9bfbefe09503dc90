// The CSV reader (see csv_reader.h): the text is read in chunks, the next read
// ahead while the pieces of one are parsed, and what the pieces find is merged in
// file order. The number scanner, the read-ahead buffers, the line parser and the
// messages each have a file csv_*.cpp of their own.
#include "csv_reader.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <thread>
#include <vector>

#include "csv_line_parser.h"
#include "csv_messages.h"
#include "csv_read_ahead.h"
#include "input_stream.h"
#include "parallel.h"

namespace arbsuite::wavepack {

using csv::kReadAheadBytes;
using csv::Merger;
using csv::parseInParallel;
using csv::Piece;
using csv::PieceParser;
using csv::splitPieces;
using csv::TextBuffer;
using csv::TextStart;

MemoryPairs readCsv(const ByteReader& source, const std::string& name, const CsvOptions& options,
                    Diagnostics& diagnostics) {
  TextStart start(source, name, diagnostics);
  const ByteReader reader = [&](char* buffer, std::size_t length) {
    return start.read(buffer, length);
  };
  const PieceParser parser(options);
  Merger merger(name, options);
  const unsigned threads = threadCount(options.threads);
  const std::size_t chunk = std::max<std::size_t>(options.chunkBytes, 1);
  // Large chunks are read ahead, the next while the pieces of this one are parsed.
  const bool readAhead = chunk >= kReadAheadBytes;
  TextBuffer current;
  TextBuffer next;
  current.reserve(chunk);
  std::size_t n = reader(current.end(), chunk);
  current.grow(n);
  bool atEnd = n == 0;
  for (;;) {
    std::size_t cut = current.held();
    if (!atEnd) {
      const void* nl = ::memrchr(current.data(), '\n', current.held());
      if (nl == nullptr) {
        // One line longer than the chunk: read on, within bounds.
        if (current.held() > kMaxLineBytes)
          throw std::length_error(name + " line " + std::to_string(merger.lines() + 1) +
                                  " is longer than " + std::to_string(kMaxLineBytes >> 20) +
                                  " MiB");
        current.reserve(chunk);
        n = reader(current.end(), chunk);
        current.grow(n);
        atEnd = n == 0;
        continue;
      }
      cut = static_cast<std::size_t>(static_cast<const char*>(nl) - current.data()) + 1;
    }
    // The unfinished last line starts the next buffer, and the read after it fills
    // the buffer up to a chunk: both buffers keep the size of one chunk, so their
    // pages are touched once, not again in a larger buffer for every chunk.
    std::size_t nextLength = chunk;
    if (!atEnd) {
      const std::size_t carry = current.held() - cut;
      if (carry < chunk) nextLength = chunk - carry;
      next.clear();
      next.reserve(carry + nextLength);
      std::memcpy(next.end(), current.data() + cut, carry);
      next.grow(carry);
    }
    std::size_t nextRead = 0;
    std::exception_ptr readFailure;
    std::thread filler;
    auto fill = [&] {
      try {
        nextRead = reader(next.end(), nextLength);
      } catch (...) {
        readFailure = std::current_exception();
      }
    };
    if (!atEnd && readAhead) filler = std::thread(fill);
    std::vector<Piece> pieces;
    try {
      pieces = splitPieces(current.data(), current.data() + cut, threads, options.pieceBytes);
      parseInParallel(pieces, parser);
    } catch (...) {
      if (filler.joinable()) filler.join();
      throw;
    }
    if (filler.joinable()) filler.join();
    // A failure of these lines comes before one of reading further, as in one pass.
    merger.add(pieces);
    if (atEnd) break;
    if (!readAhead) fill();
    if (readFailure) std::rethrow_exception(readFailure);
    next.grow(nextRead);
    atEnd = nextRead == 0;
    std::swap(current, next);
  }
  return merger.finish(diagnostics);
}

MemoryPairs readCsv(InputStream& input, const CsvOptions& options, Diagnostics& diagnostics) {
  CsvOptions sized = options;
  // No buffer larger than the file: one more byte sees its end.
  if (input.size())
    sized.chunkBytes = static_cast<std::size_t>(
        std::min<std::uint64_t>(options.chunkBytes, std::max<std::uint64_t>(*input.size(), 1) + 1));
  std::uint64_t total = 0;
  const ByteReader reader = [&](char* buffer, std::size_t length) {
    const std::size_t n = input.read(buffer, length);
    total += n;
    if (n == 0) input.checkComplete(total);
    return n;
  };
  return readCsv(reader, input.path(), sized, diagnostics);
}

}  // namespace arbsuite::wavepack
