// Reading one piece ahead: a second thread produces the next piece of a long job
// (reads and decrypts it, say) while the calling thread works on the current one, so
// that the job takes about the longer of the two parts rather than their sum.
#pragma once

#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace arbsuite::arb {

// Produces pieces into two slots, taking turns (0, 1, 0, ...), on a second thread,
// and consumes them in order on the calling thread; a slot is produced into again
// only once its last piece was consumed, so each piece stays put while it is used.
//   produce(unsigned slot) -> bool: fills the caller's slot and says whether that
//     was the last piece (a piece that failed is the last).
//   consume(unsigned slot) -> bool: works on the slot's piece; false stops.
// An exception thrown by produce is thrown again on the calling thread at its
// piece's turn, after the pieces before it were consumed; one thrown by consume
// stops the production. The second thread is stopped and joined before readAhead
// returns or throws. Where no thread can be started, the pieces are produced and
// consumed in turn, with the same slots and results.
template <typename Produce, typename Consume>
void readAhead(Produce&& produce, Consume&& consume) {
  struct Turn {
    bool full = false;
    bool last = false;
    std::exception_ptr error;
  };
  Turn turns[2];
  std::mutex lock;
  std::condition_variable changed;
  bool stop = false;

  const auto work = [&] {
    for (unsigned k = 0;; k ^= 1) {
      {
        std::unique_lock<std::mutex> hold(lock);
        changed.wait(hold, [&] { return !turns[k].full || stop; });
        if (stop) return;
      }
      bool last = true;
      std::exception_ptr error;
      try {
        last = produce(k);
      } catch (...) {
        error = std::current_exception();
      }
      {
        const std::lock_guard<std::mutex> hold(lock);
        turns[k].error = error;
        turns[k].last = last || error != nullptr;
        turns[k].full = true;
      }
      changed.notify_all();
      if (last || error != nullptr) return;
    }
  };

  std::optional<std::thread> worker;
  try {
    worker.emplace(work);
  } catch (const std::system_error&) {
    for (unsigned k = 0;; k ^= 1) {
      const bool last = produce(k);
      if (!consume(k) || last) return;
    }
  }
  // Stops and joins the second thread on every way out, a throwing consume included.
  struct StopWorker {
    std::optional<std::thread>& worker;
    std::mutex& lock;
    std::condition_variable& changed;
    bool& stop;
    ~StopWorker() {
      {
        const std::lock_guard<std::mutex> hold(lock);
        stop = true;
      }
      changed.notify_all();
      worker->join();
    }
  } stopWorker{worker, lock, changed, stop};

  for (unsigned k = 0;; k ^= 1) {
    {
      std::unique_lock<std::mutex> hold(lock);
      changed.wait(hold, [&] { return turns[k].full; });
    }
    if (turns[k].error) std::rethrow_exception(turns[k].error);
    if (!consume(k) || turns[k].last) return;
    {
      const std::lock_guard<std::mutex> hold(lock);
      turns[k].full = false;
    }
    changed.notify_all();
  }
}

}  // namespace arbsuite::arb
