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
  if (m_logFile.is_open()) {
    m_logFile.close();
  }
  open(fileName);
}

void iqSynthLog::writeText(const char* text, std::size_t length) {
  if (m_open) {
    m_logFile.write(text, static_cast<std::streamsize>(length));
  }
}

void iqSynthLog::flush() {
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

// Formats the blocks of a list on worker threads while the calling thread writes the
// finished blocks to the log in order. Block b is formatted into slot b % slots once the
// block that used the slot before it has been written.
class ParallelBlockWriter {
 public:
  ParallelBlockWriter(std::size_t count, std::size_t blockLines, std::size_t maxLine,
                      const LogBlockFormatter& format, unsigned threads)
      : m_count(count),
        m_blockLines(blockLines),
        m_blocks((count + blockLines - 1) / blockLines),
        m_format(format),
        m_slots(2 * static_cast<std::size_t>(threads)) {
    for (Slot& slot : m_slots) {
      slot.text = std::make_unique<char[]>(blockLines * maxLine);
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
    for (std::size_t b = 0; b < m_blocks; ++b) {
      Slot& slot = m_slots[b % m_slots.size()];
      {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return slot.ready; });
      }
      iqSynthLogClass::m_iqSynthLog.writeText(slot.text.get(), slot.length);
      {
        const std::lock_guard lock(m_mutex);
        slot.ready = false;
        ++m_written;
      }
      m_changed.notify_all();
    }
    for (std::thread& worker : workers) {
      worker.join();
    }
    return true;
  }

 private:
  struct Slot {
    std::unique_ptr<char[]> text;
    std::size_t length = 0;
    bool ready = false;
  };

  void work() {
    for (;;) {
      std::size_t b = 0;
      {
        std::unique_lock lock(m_mutex);
        m_changed.wait(
            lock, [&] { return m_claimed >= m_blocks || m_claimed < m_written + m_slots.size(); });
        if (m_claimed >= m_blocks) {
          return;
        }
        b = m_claimed++;
      }
      Slot& slot = m_slots[b % m_slots.size()];
      const std::size_t first = b * m_blockLines;
      const std::size_t last = std::min(m_count, first + m_blockLines);
      const char* end = m_format(slot.text.get(), first, last);
      {
        const std::lock_guard lock(m_mutex);
        slot.length = static_cast<std::size_t>(end - slot.text.get());
        slot.ready = true;
      }
      m_changed.notify_all();
    }
  }

  const std::size_t m_count;
  const std::size_t m_blockLines;
  const std::size_t m_blocks;
  const LogBlockFormatter& m_format;
  std::vector<Slot> m_slots;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::size_t m_claimed = 0;  // blocks handed to a worker
  std::size_t m_written = 0;  // blocks written to the log
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
  // Buffers are taken before anything is written; logging never fails a run, so a list
  // whose buffers cannot be had is written by one thread, or left out.
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
  std::unique_ptr<char[]> text;
  try {
    text = std::make_unique<char[]>(std::min(blockLines, count) * maxLineLength);
  } catch (const std::bad_alloc&) {
    return;
  }
  for (std::size_t first = 0; first < count; first += blockLines) {
    const char* end = formatBlock(text.get(), first, std::min(count, first + blockLines));
    iqSynthLogClass::m_iqSynthLog.writeText(text.get(), static_cast<std::size_t>(end - text.get()));
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

IqSynthCfgExcept::IqSynthCfgExcept(int errNo, const std::string& text)
    : m_text(text), m_errNo(errNo) {}
IqSynthCfgExcept::~IqSynthCfgExcept() = default;
const char* IqSynthCfgExcept::what() const noexcept { return m_text.c_str(); }

IqSynthAwgnExcept::IqSynthAwgnExcept(int errNo, const std::string& text)
    : m_text(text), m_errNo(errNo) {}
IqSynthAwgnExcept::~IqSynthAwgnExcept() = default;
const char* IqSynthAwgnExcept::what() const noexcept { return m_text.c_str(); }

IqSynthFileExcept::IqSynthFileExcept(int errNo, const std::string& text)
    : m_text(text), m_errNo(errNo) {}
IqSynthFileExcept::~IqSynthFileExcept() = default;
const char* IqSynthFileExcept::what() const noexcept { return m_text.c_str(); }

IqSynthMemAllocExcept::IqSynthMemAllocExcept(const std::string& text) : m_text(text) {}
IqSynthMemAllocExcept::~IqSynthMemAllocExcept() = default;
const char* IqSynthMemAllocExcept::what() const noexcept { return m_text.c_str(); }

void throwCfgValue(const std::string& text) { throw IqSynthCfgExcept(IQSYNTH_ERR_CFG_VALUE, text); }

}  // namespace iqsynth
