// An .arb file's samples through seqlink's ArbSampleStream (see arb_file_pieces.h).
#include "arb_file_pieces.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "arb_read.h"
#include "seqlink.h"
#include "seqlink_stream.h"

namespace arbsuite {

ArbFilePieces::ArbFilePieces(const ArbContent& described)
    : path_(described.path),
      count_(described.count),
      stream_(std::make_unique<seqlink::ArbSampleStream>()) {
  const int status = stream_->open(path_.c_str(), count_);
  if (status != SEQLINK_OK) throw readDataFailure(path_, status);
}

ArbFilePieces::~ArbFilePieces() = default;

void ArbFilePieces::forEach(const PieceVisitor& visit) { forEachIn(0, count_, visit); }

void ArbFilePieces::forEachIn(std::size_t first, std::size_t count, const PieceVisitor& visit) {
  stream_->seek(first);
  if (count <= seqlink::kStreamPiecePairs) {
    // One piece: nothing to overlap.
    std::span<const std::int16_t> piece;
    const int status = stream_->next(piece);
    if (status != SEQLINK_OK) throw readDataFailure(path_, status);
    const std::size_t pairs = std::min(piece.size() / 2, count);
    if (pairs > 0) visit(piece.first(2 * pairs));
    return;
  }

  // While the caller works on one piece, a second thread reads and decrypts the next
  // into the other of two buffers, so that a pass over a large file takes about the
  // longer of the two jobs rather than their sum.
  struct Slot {
    std::vector<std::int16_t> values;
    int status = SEQLINK_OK;
    bool full = false;
    bool last = false;
  };
  Slot slots[2];
  std::mutex lock;
  std::condition_variable changed;
  bool stop = false;
  std::thread reader([&] {
    std::size_t left = count;
    for (int k = 0;; k ^= 1) {
      Slot& slot = slots[k];
      {
        std::unique_lock<std::mutex> hold(lock);
        changed.wait(hold, [&] { return !slot.full || stop; });
        if (stop) return;
      }
      std::span<const std::int16_t> piece;
      int status = stream_->next(piece);
      const std::size_t pairs = std::min(piece.size() / 2, left);
      try {
        slot.values.assign(piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(2 * pairs));
      } catch (const std::bad_alloc&) {
        status = SEQLINK_DATA_NO_MEMORY;
      }
      left -= pairs;
      const bool end = status != SEQLINK_OK || pairs == 0 || left == 0;
      {
        const std::lock_guard<std::mutex> hold(lock);
        slot.status = status;
        slot.last = end;
        slot.full = true;
      }
      changed.notify_all();
      if (end) return;
    }
  });
  const auto stopReader = [&] {
    {
      const std::lock_guard<std::mutex> hold(lock);
      stop = true;
    }
    changed.notify_all();
    reader.join();
  };
  try {
    for (int k = 0;; k ^= 1) {
      Slot& slot = slots[k];
      {
        std::unique_lock<std::mutex> hold(lock);
        changed.wait(hold, [&] { return slot.full; });
      }
      if (slot.status != SEQLINK_OK) throw readDataFailure(path_, slot.status);
      if (!slot.values.empty()) visit(slot.values);
      if (slot.last) break;
      {
        const std::lock_guard<std::mutex> hold(lock);
        slot.full = false;
      }
      changed.notify_all();
    }
  } catch (...) {
    stopReader();
    throw;
  }
  stopReader();
}

}  // namespace arbsuite
