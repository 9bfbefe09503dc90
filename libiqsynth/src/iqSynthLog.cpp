// The process-wide run log, the switch of the library's standard output, the block writer
// of the log's long lists and the exception classes of the synthesis library.
#include "iqSynthLog.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

namespace iqsynth {

namespace {

// Entries are collected in a large buffer: a run logs one line per sample.
constexpr std::size_t kLogBufferSize = 1 << 16;
// Small entries are gathered in chunks of this size before they go to the writer.
constexpr std::size_t kEntryChunkSize = 1 << 18;
// Text queued for the writer at most; a run that gets further ahead waits.
constexpr std::size_t kMaxQueuedBytes = std::size_t{64} << 20;
// Written chunks kept for reuse during a run.
constexpr std::size_t kMaxSpareChunks = 16;
// Lines per block of a list, and the most formatting threads a list uses.
constexpr std::size_t kDefaultBlockLines = 1 << 14;
constexpr unsigned kMaxFormatThreads = 4;

std::atomic<bool>& stdoutFlag() {
  // Read on first use, which is while the library loads (the configuration record prints
  // its load line from its constructor).
  static std::atomic<bool> flag(stdoutEnabledFor(std::getenv("IQSYNTH_STDOUT")));
  return flag;
}

std::mutex gFormatOptionsMutex;
LogFormatOptions gFormatOptions;

}  // namespace

bool stdoutEnabledFor(const char* environmentValue) {
  return environmentValue == nullptr || std::string_view(environmentValue) != "0";
}
bool stdoutEnabled() { return stdoutFlag().load(std::memory_order_relaxed); }
void setStdoutEnabled(bool enabled) { stdoutFlag().store(enabled, std::memory_order_relaxed); }

const char* runLogFileFor(const char* environmentValue) {
  if (environmentValue == nullptr) {
    return iqSynthLog::kDefaultFileName;
  }
  return environmentValue[0] == '\0' ? nullptr : environmentValue;
}

iqSynthLog iqSynthLogClass::m_iqSynthLog(runLogFileFor(std::getenv("IQSYNTH_RUN_LOG")));

iqSynthLog::iqSynthLog(const char* fileName) { open(fileName); }

iqSynthLog::~iqSynthLog() {
  flush();
  if (m_logFile.is_open()) {
    m_logFile.close();
  }
}

void iqSynthLog::open(const char* fileName) {
  m_open = false;
  if (fileName == nullptr) {
    return;
  }
  if (!m_buffer) {
    m_buffer = std::make_unique<char[]>(kLogBufferSize);
  }
  m_logFile.rdbuf()->pubsetbuf(m_buffer.get(), kLogBufferSize);
  m_logFile.clear();
  m_logFile.open(fileName, std::ios::out | std::ios::trunc);
  m_open = m_logFile.is_open();
  if (!m_open && stdoutEnabled()) {
    std::cout << "can not open the log file" << std::endl;
  }
}

void iqSynthLog::reopen(const char* fileName) {
  flush();
  if (m_logFile.is_open()) {
    m_logFile.close();
  }
  open(fileName);
}

void iqSynthLog::writeEntry(std::string_view text) {
  if (!m_open) {
    return;
  }
  try {
    if (m_current.capacity - m_current.length < text.size() + 1) {
      if (m_current.length > 0) {
        queue(std::move(m_current));
      }
      m_current = takeChunk(std::max(kEntryChunkSize, text.size() + 1));
    }
    std::memcpy(m_current.data.get() + m_current.length, text.data(), text.size());
    m_current.length += text.size();
    m_current.data[m_current.length++] = '\n';
  } catch (const std::bad_alloc&) {
    // Logging never fails a run: the entry is lost.
  }
}

void iqSynthLog::writeText(const char* text, std::size_t length) {
  if (!m_open || length == 0) {
    return;
  }
  try {
    Chunk chunk = takeChunk(length);
    std::memcpy(chunk.data.get(), text, length);
    chunk.length = length;
    writeChunk(std::move(chunk));
  } catch (const std::bad_alloc&) {
  }
}

iqSynthLog::Chunk iqSynthLog::takeChunk(std::size_t capacity) {
  {
    const std::lock_guard lock(m_mutex);
    for (auto spare = m_spare.begin(); spare != m_spare.end(); ++spare) {
      if (spare->capacity >= capacity) {
        Chunk chunk = std::move(*spare);
        m_spare.erase(spare);
        chunk.length = 0;
        return chunk;
      }
    }
  }
  Chunk chunk;
  chunk.data.reset(new char[capacity]);  // not zeroed: only what is written is touched
  chunk.capacity = capacity;
  return chunk;
}

void iqSynthLog::writeChunk(Chunk&& chunk) {
  if (!m_open || chunk.length == 0) {
    return;
  }
  // The small entries written before the chunk go first.
  if (m_current.length > 0) {
    queue(std::move(m_current));
    m_current = Chunk();
  }
  queue(std::move(chunk));
}

void iqSynthLog::queue(Chunk&& chunk) {
  std::unique_lock lock(m_mutex);
  if (!m_writer.joinable()) {
    try {
      m_stopWriter = false;
      m_writer = std::thread([this] { writeOut(); });
    } catch (const std::system_error&) {
      // No thread to be had: write here (nothing is queued, so the order holds).
      m_logFile.write(chunk.data.get(), static_cast<std::streamsize>(chunk.length));
      return;
    }
  }
  m_changed.wait(lock, [&] { return m_queuedBytes < kMaxQueuedBytes; });
  m_queuedBytes += chunk.length;
  m_queue.push_back(std::move(chunk));
  m_changed.notify_all();
}

void iqSynthLog::writeOut() {
  std::unique_lock lock(m_mutex);
  for (;;) {
    m_changed.wait(lock, [&] { return !m_queue.empty() || m_stopWriter; });
    if (m_queue.empty()) {
      return;  // stopped with everything written
    }
    Chunk chunk = std::move(m_queue.front());
    m_queue.pop_front();
    lock.unlock();
    m_logFile.write(chunk.data.get(), static_cast<std::streamsize>(chunk.length));
    lock.lock();
    m_queuedBytes -= chunk.length;
    if (m_spare.size() < kMaxSpareChunks) {
      m_spare.push_back(std::move(chunk));
    }
    m_changed.notify_all();
  }
}

void iqSynthLog::flush() {
  if (m_current.length > 0) {
    queue(std::move(m_current));
    m_current = Chunk();
  }
  if (m_writer.joinable()) {
    {
      const std::lock_guard lock(m_mutex);
      m_stopWriter = true;
    }
    m_changed.notify_all();
    m_writer.join();
  }
  // The chunks are released between runs.
  m_spare.clear();
  if (m_open) {
    m_logFile.flush();
  }
}

void wrLog(const char* text) { iqSynthLogClass::m_iqSynthLog.writeToLog(text); }
void wrLog(char* text) { iqSynthLogClass::m_iqSynthLog.writeToLog(text); }
void wrLog(const std::string& text) { iqSynthLogClass::m_iqSynthLog.writeToLog(text); }

void flushLog() { iqSynthLogClass::m_iqSynthLog.flush(); }

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
    threads = std::clamp(std::thread::hardware_concurrency(), 1u, kMaxFormatThreads);
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

namespace {
std::string_view fileNameOf(const SourceSite& site) {
  const std::string_view path = site.file_name();
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}
}  // namespace

std::string siteFileAtLine(SourceSite site) {
  return std::string(fileNameOf(site)) + " at " + to_string(site.line());
}
std::string siteLineInFile(SourceSite site) {
  return to_string(site.line()) + " in file " + std::string(fileNameOf(site));
}
std::string siteLineIn(SourceSite site) {
  return to_string(site.line()) + " in " + std::string(fileNameOf(site));
}

IqSynthError::IqSynthError(Kind kind, int errNo, std::string text)
    : m_text(std::move(text)), m_kind(kind), m_errNo(errNo) {}
IqSynthError IqSynthError::memAlloc(std::string text) {
  return IqSynthError(Kind::MemAlloc, IQSYNTH_ERR_MEM_ALLOC, std::move(text));
}
IqSynthError::~IqSynthError() = default;
const char* IqSynthError::what() const noexcept { return m_text.c_str(); }

void throwCfgValue(const std::string& text) {
  throw IqSynthError(IqSynthError::Kind::Config, IQSYNTH_ERR_CFG_VALUE, text);
}

}  // namespace iqsynth
