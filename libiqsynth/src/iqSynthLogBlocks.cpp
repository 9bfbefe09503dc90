// The block writer of iqSynthLog: the long indexed lists of a run log (one line per sample)
// formatted in blocks on several threads and handed to the log in order, and the options that
// choose between it and the one-line-at-a-time reference.
#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "iqSynthLog.h"

namespace arbsuite::iqsynth {

namespace {

// Lines per block of a list (a chunk of about 2 MB of text: fewer, larger writes), and the
// most formatting threads a list uses.
constexpr std::size_t kDefaultBlockLines = 1 << 16;
constexpr unsigned kMaxFormatThreads = 4;

std::mutex gFormatOptionsMutex;
LogFormatOptions gFormatOptions;

}  // namespace

void setLogFormatOptions(const LogFormatOptions& options) {
  const std::lock_guard lock(gFormatOptionsMutex);
  gFormatOptions = options;
}

LogFormatOptions logFormatOptions() {
  const std::lock_guard lock(gFormatOptionsMutex);
  return gFormatOptions;
}

namespace {

// Formats the blocks of a list on worker threads while the calling thread hands the finished
// blocks to the log in order. Block b is formatted into slot b % slots once the block that
// used the slot before it has been handed on; the slot then takes a fresh (recycled) chunk.
class ParallelBlockWriter {
 public:
  ParallelBlockWriter(std::size_t count, std::size_t blockLines, std::size_t maxLine,
                      const LogBlockFormatter& format, unsigned threads)
      : m_count(count),
        m_blockLines(blockLines),
        m_chunkSize(blockLines * maxLine),
        m_blocks((count + blockLines - 1) / blockLines),
        m_format(format),
        m_slots(2 * static_cast<std::size_t>(threads)) {
    for (Slot& slot : m_slots) {
      slot.chunk = log().takeChunk(m_chunkSize);
    }
  }

  // Returns false when no worker could be started (nothing has been written then).
  bool run(unsigned threads) {
    std::vector<std::thread> workers;
    try {
      for (unsigned t = 0; t < threads; ++t) {
        workers.emplace_back([this] { work(); });
      }
    } catch (const std::system_error&) {
      if (workers.empty()) {
        return false;
      }
    }
    bool lost = false;  // a chunk could not be replaced: the rest of the list is left out
    for (std::size_t b = 0; b < m_blocks; ++b) {
      Slot& slot = m_slots[b % m_slots.size()];
      {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return slot.ready; });
      }
      if (!lost) {
        iqSynthLog::Chunk next;
        try {
          next = log().takeChunk(m_chunkSize);
        } catch (const std::bad_alloc&) {
          lost = true;
        }
        if (!lost) {
          log().writeChunk(std::move(slot.chunk));
          slot.chunk = std::move(next);
        }
      }
      {
        const std::lock_guard lock(m_mutex);
        slot.ready = false;
        m_stop = lost;
        ++m_written;
      }
      m_changed.notify_all();
      if (lost) {
        break;
      }
    }
    for (std::thread& worker : workers) {
      worker.join();
    }
    return true;
  }

 private:
  struct Slot {
    iqSynthLog::Chunk chunk;
    bool ready = false;
  };

  static iqSynthLog& log() { return iqSynthLogClass::m_iqSynthLog; }

  void work() {
    for (;;) {
      std::size_t b = 0;
      {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] {
          return m_stop || m_claimed >= m_blocks || m_claimed < m_written + m_slots.size();
        });
        if (m_stop || m_claimed >= m_blocks) {
          return;
        }
        b = m_claimed++;
      }
      Slot& slot = m_slots[b % m_slots.size()];
      const std::size_t first = b * m_blockLines;
      const std::size_t last = std::min(m_count, first + m_blockLines);
      const char* end = m_format(slot.chunk.data.get(), first, last);
      {
        const std::lock_guard lock(m_mutex);
        slot.chunk.length = static_cast<std::size_t>(end - slot.chunk.data.get());
        slot.ready = true;
      }
      m_changed.notify_all();
    }
  }

  const std::size_t m_count;
  const std::size_t m_blockLines;
  const std::size_t m_chunkSize;
  const std::size_t m_blocks;
  const LogBlockFormatter& m_format;
  std::vector<Slot> m_slots;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::size_t m_claimed = 0;  // blocks handed to a worker
  std::size_t m_written = 0;  // blocks handed to the log
  bool m_stop = false;
};

}  // namespace

void writeLogBlocks(std::size_t count, std::size_t maxLineLength,
                    const LogBlockFormatter& formatBlock) {
  if (!logEnabled() || count == 0) {
    return;
  }
  const LogFormatOptions options = logFormatOptions();
  const std::size_t blockLines = options.blockLines != 0 ? options.blockLines : kDefaultBlockLines;
  const std::size_t blocks = (count + blockLines - 1) / blockLines;
  unsigned threads = options.threads;
  if (threads == 0) {
    // One core is left to the log's writer thread, which puts the text into the file: on two
    // cores a second formatting thread only contends with it (measured 8 % slower).
    const unsigned cores = std::thread::hardware_concurrency();
    threads = std::clamp(cores > 1 ? cores - 1 : 1u, 1u, kMaxFormatThreads);
  }
  iqSynthLog& log = iqSynthLogClass::m_iqSynthLog;
  // Buffers are taken before their text is written; logging never fails a run, so a list
  // whose buffers cannot be had is written by one thread, or left out from there on.
  if (blocks > 1 && threads > 1) {
    threads = static_cast<unsigned>(std::min<std::size_t>(threads, blocks));
    try {
      ParallelBlockWriter writer(count, blockLines, maxLineLength, formatBlock, threads);
      if (writer.run(threads)) {
        return;
      }
    } catch (const std::bad_alloc&) {
    }
  }
  const std::size_t chunkSize = std::min(blockLines, count) * maxLineLength;
  for (std::size_t first = 0; first < count; first += blockLines) {
    iqSynthLog::Chunk chunk;
    try {
      chunk = log.takeChunk(chunkSize);
    } catch (const std::bad_alloc&) {
      return;
    }
    const char* end = formatBlock(chunk.data.get(), first, std::min(count, first + blockLines));
    chunk.length = static_cast<std::size_t>(end - chunk.data.get());
    log.writeChunk(std::move(chunk));
  }
}

}  // namespace arbsuite::iqsynth
