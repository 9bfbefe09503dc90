// Data source of a digital run: the five symbol sources, the lookup tables of
// the pattern and file readers, and the seven PRBS shift registers.
#include "dataSrc.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <iostream>
#include <optional>

#include "iqSynthLog.h"
#include "iqSynthLogStdout.h"

namespace arbsuite::iqsynth {

namespace {

constexpr int kMaxPatternBits = 8;  // bits per symbol the pattern and file readers support
constexpr int kMaxSymbolBits = 16;  // a symbol is a 16-bit value

std::map<std::string, int> makeBitToDataMap(int k) {
  std::map<std::string, int> table;
  for (int value = 0; value < (1 << k); ++value) {
    std::string bits(static_cast<std::size_t>(k), '0');
    for (int b = 0; b < k; ++b) {
      if ((value >> (k - 1 - b)) & 1) {
        bits[static_cast<std::size_t>(b)] = '1';
      }
    }
    table.emplace(bits, value);
  }
  return table;
}

std::map<int, int> makeMaskMap() {
  std::map<int, int> table;
  for (int k = 1; k <= kMaxPatternBits; ++k) {
    table.emplace(k, (1 << k) - 1);
  }
  return table;
}

std::map<char, int> makeCharToIntMap() {
  std::map<char, int> table;
  for (int d = 0; d < 10; ++d) {
    table.emplace(static_cast<char>('0' + d), d);
  }
  for (int d = 0; d < 6; ++d) {
    table.emplace(static_cast<char>('a' + d), 10 + d);
    table.emplace(static_cast<char>('A' + d), 10 + d);
  }
  return table;
}

[[noreturn]] void throwBadSetting(const std::string& field, long long value,
                                  const std::string& need) {
  throwCfgValue(" " + field + " " + to_string(value) + " can not be used: " + need);
}

int bitsPerSymbol(const iqSynthCfg& cfg) { return modBitsOf(cfg.digiModulatingType); }

// Number of symbol slots offset, offset + R, ... (at most count of them) that
// lie inside a track of the given size.
std::size_t symbolSlots(std::size_t size, int offset, int R, long long count) {
  if (count <= 0 || offset < 0 || R < 1 || static_cast<std::size_t>(offset) >= size) {
    return 0;
  }
  const std::size_t fit =
      (size - 1 - static_cast<std::size_t>(offset)) / static_cast<std::size_t>(R) + 1;
  return static_cast<unsigned long long>(count) < fit ? static_cast<std::size_t>(count) : fit;
}

std::size_t slotIndex(int offset, int R, std::size_t j) {
  return static_cast<std::size_t>(offset) + j * static_cast<std::size_t>(R);
}

// Produces k-bit symbols from a character sequence used cyclically: hexadecimal
// digits give four bits each, most significant first across character
// boundaries; otherwise every k characters '0'/'1' give one symbol.
class CyclicSymbolReader {
 public:
  CyclicSymbolReader(const char* chars, std::size_t count, bool isHex, int k)
      : m_chars(chars), m_count(count), m_isHex(isHex), m_k(k), m_mask(maskMap.at(k)) {}

  short next() {
    if (m_isHex) {
      while (m_bits < m_k) {
        m_acc = (m_acc * 16u + static_cast<unsigned>(hexDigitValue(nextChar()))) & 0xFFFFu;
        m_bits += 4;
      }
      m_bits -= m_k;
      return static_cast<short>((m_acc >> m_bits) & static_cast<unsigned>(m_mask));
    }
    std::string group(static_cast<std::size_t>(m_k), '\0');
    for (char& c : group) {
      c = nextChar();
    }
    return static_cast<short>(bitStringValue(group, m_k));
  }

 private:
  char nextChar() {
    const char c = m_chars[m_pos];
    m_pos = (m_pos + 1 == m_count) ? 0 : m_pos + 1;
    return c;
  }

  const char* m_chars;
  std::size_t m_count;
  std::size_t m_pos = 0;
  bool m_isHex;
  int m_k;
  int m_mask;
  unsigned m_acc = 0;
  int m_bits = 0;
};

void checkPatternBits(int k) {
  if (k < 1 || k > kMaxPatternBits) {
    throwBadSetting("bits per symbol of digiModulatingType", k,
                    "pattern and file data need 1 to 8");
  }
}

}  // namespace

const std::map<std::string, int> bitToDataMap1 = makeBitToDataMap(1);
const std::map<std::string, int> bitToDataMap2 = makeBitToDataMap(2);
const std::map<std::string, int> bitToDataMap3 = makeBitToDataMap(3);
const std::map<std::string, int> bitToDataMap4 = makeBitToDataMap(4);
const std::map<std::string, int> bitToDataMap5 = makeBitToDataMap(5);
const std::map<std::string, int> bitToDataMap6 = makeBitToDataMap(6);
const std::map<std::string, int> bitToDataMap7 = makeBitToDataMap(7);
const std::map<std::string, int> bitToDataMap8 = makeBitToDataMap(8);
const std::map<std::string, int>* const pBitToDataMapTbl[8] = {
    &bitToDataMap1, &bitToDataMap2, &bitToDataMap3, &bitToDataMap4,
    &bitToDataMap5, &bitToDataMap6, &bitToDataMap7, &bitToDataMap8,
};
const std::map<int, int> maskMap = makeMaskMap();
const std::map<char, int> charToIntMap = makeCharToIntMap();

int bitStringValue(const std::string& bits, int k) {
  if (k < 1 || k > kMaxPatternBits) {
    return 0;
  }
  const auto& table = *pBitToDataMapTbl[k - 1];
  const auto it = table.find(bits);
  return it == table.end() ? 0 : it->second;
}

int hexDigitValue(char c) {
  const auto it = charToIntMap.find(c);
  return it == charToIntMap.end() ? 0 : it->second;
}

unsigned genPRBS15(unsigned& reg) {
  const unsigned out = reg & 1u;
  const unsigned feedback = ~(reg ^ (reg >> 1)) & 1u;
  reg = (reg >> 1) | (feedback << 14);
  return out;
}

unsigned genPRBS16(unsigned& reg) {
  const unsigned out = reg & 1u;
  const unsigned feedback = (reg ^ (reg >> 2) ^ (reg >> 3) ^ (reg >> 5)) & 1u;
  reg = (reg >> 1) | (feedback << 15);
  return out;
}

unsigned genPRBS23(unsigned& reg) {
  const unsigned out = reg & 1u;
  const unsigned feedback = ~(reg ^ (reg >> 5)) & 1u;
  reg = (reg >> 1) | (feedback << 22);
  return out;
}

unsigned prbsSeed(int order) {
  switch (order) {
    case iqSynthCfg::PRBS9:
    case iqSynthCfg::PRBS11:
    case iqSynthCfg::PRBS16:
    case iqSynthCfg::PRBS20:
    case iqSynthCfg::PRBS21:
      return 1u;
    case iqSynthCfg::PRBS15:
      return 0x7FFEu;
    case iqSynthCfg::PRBS23:
      return 0x7FFFFEu;
    default:
      return 0u;
  }
}

int readPatternLoop(const iqSynthCfg& cfg, std::valarray<short>& symbols, int offset) {
  const int k = bitsPerSymbol(cfg);
  checkPatternBits(k);
  if (cfg.usrListSize < 1) {
    throwBadSetting("usrListSize", cfg.usrListSize, "the pattern needs at least one character");
  }
  // A size above the capacity uses the characters held.
  const int listSize = clampCount(cfg.usrListSize, iqSynthCfg::kMaxUsrListSize);
  CyclicSymbolReader reader(cfg.usrList, static_cast<std::size_t>(listSize), cfg.dataFormatIsHex,
                            k);
  const std::size_t n =
      symbolSlots(symbols.size(), offset, cfg.overSamplingRate, cfg.sequenceLength);
  for (std::size_t j = 0; j < n; ++j) {
    symbols[slotIndex(offset, cfg.overSamplingRate, j)] = reader.next();
  }
  return 0;
}

namespace {

// The data list file, read as the stream extraction of a format word and of single
// characters would read it (white space skipped), from a regular file only: a FIFO
// or device would block the open, and /dev/zero fed the format word without end.
class DataListFile {
 public:
  explicit DataListFile(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) return;
    struct stat info {};
    const bool known = ::fstat(fd_, &info) == 0;
    if (!known || !S_ISREG(info.st_mode)) {
      notRegular_ = known;
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~DataListFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  DataListFile(const DataListFile&) = delete;
  DataListFile& operator=(const DataListFile&) = delete;

  bool isOpen() const { return fd_ >= 0; }
  bool notRegular() const { return notRegular_; }

  // The first white-space-delimited word, at most kMaxWord characters: no format
  // word is longer, so a longer one is cut there and refused as an unknown word.
  std::string word() {
    std::string text;
    char c = 0;
    if (!next(c)) return text;
    do {
      text.push_back(c);
    } while (text.size() < kMaxWord && get(c) && !isSpace(c));
    return text;
  }

  // The next character that is not white space; false at the end of the file.
  bool next(char& c) {
    while (get(c)) {
      if (!isSpace(c)) return true;
    }
    return false;
  }

 private:
  static constexpr std::size_t kMaxWord = 16;

  // White space as the "C" locale has it.
  static bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
  }

  bool get(char& c) {
    if (at_ == length_) {
      ssize_t got = 0;
      do {
        got = ::read(fd_, buffer_, sizeof buffer_);
      } while (got < 0 && errno == EINTR);
      if (got <= 0) return false;
      at_ = 0;
      length_ = static_cast<std::size_t>(got);
    }
    c = buffer_[at_++];
    return true;
  }

  int fd_ = -1;
  bool notRegular_ = false;
  char buffer_[4096] = {};
  std::size_t at_ = 0;
  std::size_t length_ = 0;
};

}  // namespace

int readFileLoop(const iqSynthCfg& cfg, std::valarray<short>& symbols, int offset) {
  DataListFile file(cfg.dataFileList);
  if (file.notRegular()) {
    throw IqSynthError(
        IqSynthError::Kind::File, IQSYNTH_ERR_FILE_OPEN,
        "Can not open the data list file" + cfg.dataFileList + " (not a regular file)");
  }
  if (!file.isOpen()) {
    throw IqSynthError(IqSynthError::Kind::File, IQSYNTH_ERR_FILE_OPEN,
                       "Can not open the data list file" + cfg.dataFileList);
  }
  const std::string format = file.word();
  bool isHex = false;
  if (format == "HEX" || format == "hex") {
    isHex = true;
  } else if (format != "BIN" && format != "bin") {
    throw IqSynthError(IqSynthError::Kind::File, IQSYNTH_ERR_FILE_FORMAT, " file format is error");
  }
  const int k = bitsPerSymbol(cfg);
  checkPatternBits(k);

  // The file's data characters (white space skipped) are used cyclically, so
  // only as many as the symbols consume are read.
  const std::size_t n =
      symbolSlots(symbols.size(), offset, cfg.overSamplingRate, cfg.sequenceLength);
  const std::size_t bitsNeeded = n * static_cast<std::size_t>(k);
  const std::size_t charsNeeded = isHex ? (bitsNeeded + 3) / 4 : bitsNeeded;
  std::string data;
  char c = 0;
  while (data.size() < charsNeeded && file.next(c)) {
    data.push_back(c);
  }
  if (data.empty() && !file.next(c)) {
    throw IqSynthError(
        IqSynthError::Kind::File, IQSYNTH_ERR_FILE_FORMAT,
        " file format is error: no data after the format word in " + cfg.dataFileList);
  }
  if (n == 0) {
    return 0;
  }
  CyclicSymbolReader reader(data.data(), data.size(), isHex, k);
  for (std::size_t j = 0; j < n; ++j) {
    symbols[slotIndex(offset, cfg.overSamplingRate, j)] = reader.next();
  }
  return 0;
}

int genPRBS(const iqSynthCfg& cfg, std::valarray<short>& symbols, int offset) {
  unsigned (*step)(unsigned&) = nullptr;
  switch (cfg.prbs) {
    case iqSynthCfg::PRBS9:
      step = genPRBS9_11_20_21<9, 4>;
      break;
    case iqSynthCfg::PRBS11:
      step = genPRBS9_11_20_21<11, 2>;
      break;
    case iqSynthCfg::PRBS15:
      step = genPRBS15;
      break;
    case iqSynthCfg::PRBS16:
      step = genPRBS16;
      break;
    case iqSynthCfg::PRBS20:
      step = genPRBS9_11_20_21<20, 3>;
      break;
    case iqSynthCfg::PRBS21:
      step = genPRBS9_11_20_21<21, 2>;
      break;
    case iqSynthCfg::PRBS23:
      step = genPRBS23;
      break;
    default:
      return 0;  // unknown order: the symbols stay as they are
  }
  const int k = bitsPerSymbol(cfg);
  unsigned reg = prbsSeed(cfg.prbs);
  const std::size_t n =
      symbolSlots(symbols.size(), offset, cfg.overSamplingRate, cfg.sequenceLength);
  const bool print = stdoutEnabled();
  std::optional<iqSynthStdoutLines> lines;
  if (print) {
    lines.emplace();
  }
  for (std::size_t j = 0; j < n; ++j) {
    std::uint32_t symbol = 0;
    for (int b = 0; b < k; ++b) {
      symbol = (symbol << 1) | step(reg);
    }
    const short value = static_cast<short>(symbol);
    symbols[slotIndex(offset, cfg.overSamplingRate, j)] = value;
    if (print) {
      lines->line(j, "th is : ", value);
    }
  }
  return 0;
}

int runDataSrc(const iqSynthCfg& cfg, std::valarray<short>& symbols, int offset) {
  const int source = cfg.dataSrc;
  if (source < iqSynthCfg::DATA_SRC_ALL_ZERO || source > iqSynthCfg::DATA_SRC_PRBS) {
    throw IqSynthError(IqSynthError::Kind::Config, IQSYNTH_ERR_DATA_SRC,
                       " data src type is no exist");
  }
  if (cfg.overSamplingRate < 1) {
    throwBadSetting("overSamplingRate", cfg.overSamplingRate,
                    "at least 1 sample per symbol is needed");
  }
  if (offset < 0) {
    throwBadSetting("sampleOffset", offset, "the symbols can not start before the track");
  }
  if (bitsPerSymbol(cfg) > kMaxSymbolBits) {
    throwBadSetting("bits per symbol of digiModulatingType", bitsPerSymbol(cfg),
                    "a symbol holds at most 16 bits");
  }
  const int R = cfg.overSamplingRate;
  switch (source) {
    case iqSynthCfg::DATA_SRC_ALL_ZERO:
    case iqSynthCfg::DATA_SRC_ALL_ONE: {
      // Every symbol index of the span sampleLength after the offset.
      const long long span = cfg.sampleLength;
      const long long count = span <= 0 ? 0 : (span + R - 1) / R;
      const short value = source == iqSynthCfg::DATA_SRC_ALL_ONE
                              ? static_cast<short>((1u << bitsPerSymbol(cfg)) - 1u)
                              : short{0};
      const std::size_t n = symbolSlots(symbols.size(), offset, R, count);
      for (std::size_t j = 0; j < n; ++j) {
        symbols[slotIndex(offset, R, j)] = value;
      }
      return 0;
    }
    case iqSynthCfg::DATA_SRC_PATTERN:
      return readPatternLoop(cfg, symbols, offset);
    case iqSynthCfg::DATA_SRC_FILE:
      return readFileLoop(cfg, symbols, offset);
    default:
      return genPRBS(cfg, symbols, offset);
  }
}

}  // namespace arbsuite::iqsynth
