// The process-wide run log of iqSynthLog: the log file stream with its writer thread, the entry
// points every stage logs through, and the switch of the library's standard output. The block
// writer of long lists is in iqSynthLogBlocks.cpp, the error type in iqSynthLogError.cpp.
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

namespace arbsuite::iqsynth {

namespace {

// Entries are collected in a large buffer: a run logs one line per sample.
constexpr std::size_t kLogBufferSize = 1 << 16;
// Small entries are gathered in chunks of this size before they go to the writer.
constexpr std::size_t kEntryChunkSize = 1 << 18;
// Text queued for the writer at most; a run that gets further ahead waits.
constexpr std::size_t kMaxQueuedBytes = std::size_t{64} << 20;
// Written chunks kept for reuse during a run: enough for all that the queue holds, so that a
// long list reuses its buffers instead of mapping fresh pages for every block.
constexpr std::size_t kMaxSpareChunks = 256;

std::atomic<bool>& stdoutFlag() {
  // Read on first use, which is while the library loads (the configuration record prints
  // its load line from its constructor).
  static std::atomic<bool> flag(stdoutEnabledFor(std::getenv("IQSYNTH_STDOUT")));
  return flag;
}

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
  if (!m_overlapped) {
    m_logFile.write(chunk.data.get(), static_cast<std::streamsize>(chunk.length));
    return;
  }
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

void iqSynthLog::setOverlappedWriting(bool overlapped) {
  flush();
  const std::lock_guard lock(m_mutex);
  m_overlapped = overlapped;
}

void wrLog(const char* text) { iqSynthLogClass::m_iqSynthLog.writeToLog(text); }
void wrLog(char* text) { iqSynthLogClass::m_iqSynthLog.writeToLog(text); }
void wrLog(const std::string& text) { iqSynthLogClass::m_iqSynthLog.writeToLog(text); }

void flushLog() { iqSynthLogClass::m_iqSynthLog.flush(); }

}  // namespace arbsuite::iqsynth
