// The CSV reader (see csv_reader.h): a team of threads, started once, reads the text
// block by block and parses the blocks, and what they find is merged in file order.
// The number scanner, the read-ahead buffers, the line parser and the messages each
// have a file csv_*.cpp of their own.
#include "csv_reader.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <map>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include "csv_line_parser.h"
#include "csv_messages.h"
#include "csv_read_ahead.h"
#include "input_stream.h"
#include "parallel.h"

namespace arbsuite::wavepack {

namespace {

using csv::Merger;
using csv::Piece;
using csv::PieceParser;
using csv::TextBuffer;
using csv::TextStart;

// What the reading of one block gave.
struct BlockResult {
  std::vector<Piece> pieces;   // the parsed block (one piece)
  std::exception_ptr failure;  // a failure of reading or parsing it
  bool longLine = false;       // its line passed kMaxLineBytes without ending
};

// The text read by every thread of a team at once: a thread takes the next block of
// whole lines under the lock (reads are made one at a time, in order, and the
// unfinished last line of a block starts the next one), parses it without the lock,
// and hands it back; the blocks are merged in file order as soon as each one's
// predecessors are. A failure, of reading or of the lines, counts where a single
// pass would meet it: blocks after it are neither read nor merged.
class TeamReading {
 public:
  TeamReading(const ByteReader& reader, const std::string& name, const PieceParser& parser,
              Merger& merger, std::size_t blockBytes, unsigned threads)
      : reader_(reader),
        name_(name),
        parser_(parser),
        merger_(merger),
        blockBytes_(blockBytes),
        // Blocks parsed ahead of the merge: enough for threads that finish out of
        // order, few enough to keep the reading close to the merge.
        maxAhead_(2 * std::uint64_t{threads} + 2) {}

  // The work of each thread of the team; returns when nothing is left to read.
  void work() {
    TextBuffer text;  // reused for every block this thread reads
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      moved_.wait(lock, [&] { return done_ || next_ - merged_ < maxAhead_; });
      if (done_) return;
      const std::uint64_t seq = next_++;
      BlockResult result;
      std::size_t cut = 0;
      try {
        cut = readBlock(text, result.longLine);
      } catch (...) {
        result.failure = std::current_exception();
      }
      if (result.failure || result.longLine) done_ = true;  // nothing after it is read
      if (!result.failure && !result.longLine) {
        lock.unlock();
        try {
          Piece piece;
          piece.begin = text.data();
          piece.end = text.data() + cut;
          parser_.parse(piece);
          result.pieces.push_back(std::move(piece));
        } catch (...) {
          result.failure = std::current_exception();
        }
        lock.lock();
      }
      deliver(seq, std::move(result));
      moved_.notify_all();
    }
  }

  // After the team has finished: the first failure in file order, if any.
  void rethrowFailure() const {
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  // Reads the next block into `text` (the lock held): the carried unfinished line,
  // then reads of about a block until a line feed is read, the end is met, or the
  // line passes the limit (longLine). Returns the length of its whole lines; at the
  // end everything held is the block.
  std::size_t readBlock(TextBuffer& text, bool& longLine) {
    text.clear();
    text.reserve(carry_.held() + blockBytes_);
    if (carry_.held() > 0) {
      std::memcpy(text.end(), carry_.data(), carry_.held());
      text.grow(carry_.held());
      carry_.clear();
    }
    for (;;) {
      // The read fills the block up to its size, or reads a block more.
      const std::size_t length =
          text.held() < blockBytes_ ? blockBytes_ - text.held() : blockBytes_;
      text.reserve(length);
      const std::size_t before = text.held();
      const std::size_t n = reader_(text.end(), length);
      text.grow(n);
      if (n == 0) {
        done_ = true;
        return text.held();
      }
      // The held text before this read has no line feed: only the new bytes are searched.
      const void* nl = ::memrchr(text.data() + before, '\n', n);
      if (nl != nullptr) {
        const auto cut = static_cast<std::size_t>(static_cast<const char*>(nl) - text.data()) + 1;
        const std::size_t tail = text.held() - cut;
        if (tail > 0) {
          carry_.reserve(tail);
          std::memcpy(carry_.end(), text.data() + cut, tail);
          carry_.grow(tail);
        }
        return cut;
      }
      if (text.held() > kMaxLineBytes) {
        longLine = true;
        return 0;
      }
    }
  }

  // Stores the result of block `seq` and merges every block that is now next in
  // file order (the lock held).
  void deliver(std::uint64_t seq, BlockResult result) {
    waiting_.emplace(seq, std::move(result));
    for (auto it = waiting_.begin(); it != waiting_.end() && it->first == merged_;
         it = waiting_.erase(it)) {
      ++merged_;
      if (failure_) continue;  // blocks after a failure are dropped
      BlockResult& block = it->second;
      try {
        if (block.failure) std::rethrow_exception(block.failure);
        if (block.longLine)
          throw std::length_error(name_ + " line " + std::to_string(merger_.lines() + 1) +
                                  " is longer than " + std::to_string(kMaxLineBytes >> 20) +
                                  " MiB");
        merger_.add(block.pieces);
      } catch (...) {
        failure_ = std::current_exception();
        done_ = true;
      }
    }
  }

  const ByteReader& reader_;
  const std::string& name_;
  const PieceParser& parser_;
  Merger& merger_;
  const std::size_t blockBytes_;
  const std::uint64_t maxAhead_;

  std::mutex mutex_;  // guards everything below
  std::condition_variable moved_;
  TextBuffer carry_;          // the unfinished line after the last block read
  bool done_ = false;         // the end was read, or a failure met: no more blocks
  std::uint64_t next_ = 0;    // the next block to read
  std::uint64_t merged_ = 0;  // blocks merged (or dropped after a failure)
  std::map<std::uint64_t, BlockResult> waiting_;  // parsed blocks not merged yet
  std::exception_ptr failure_;                    // the first failure in file order
};

}  // namespace

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
  // Threads share the text in pieces: small ones keep every thread busy to the end.
  const std::size_t block =
      threads > 1 ? std::min(chunk, std::max<std::size_t>(options.pieceBytes, 1)) : chunk;
  TeamReading team(reader, name, parser, merger, block, threads);
  {
    std::vector<std::thread> helpers;
    struct Joiner {
      std::vector<std::thread>& threads;
      ~Joiner() {
        for (std::thread& t : threads) t.join();
      }
    } joiner{helpers};
    for (unsigned k = 1; k < threads; ++k) {
      try {
        helpers.emplace_back([&team] { team.work(); });
      } catch (const std::system_error&) {
        break;  // fewer threads read the same text
      }
    }
    team.work();
  }
  team.rethrowFailure();
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
