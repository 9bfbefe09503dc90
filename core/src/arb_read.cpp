// Reading .arb files over seqlink's readers (see arb_read.h).
#include "arb_read.h"

#include <string_view>

#include "arb_file_size.h"
#include "huge_pages.h"
#include "seqlink.h"
#include "seqlink_status_words.h"

namespace arbsuite {
namespace {

std::string_view trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

std::string statusText(SeqlinkCall call, int status) {
  return statusWords(call, status) + " (status " + std::to_string(status) + ")";
}

// A file the description readers refuse: its status in words, as info says it.
Failure readInfoFailure(const std::string& path, int status) {
  return Failure{kExitRead, path + ": " + statusText(SeqlinkCall::ReadInfo, status), status};
}

// readArbFileAllInf into a buffer of SEQLINK_TEXT_CAPACITY bytes; its status.
int readDescription(const std::string& path, std::vector<char>& text) {
  text.assign(SEQLINK_TEXT_CAPACITY, '\0');
  int length = 0;
  const int status = readArbFileAllInf(path.c_str(), text.data(), &length);
  text.back() = '\0';
  return status;
}

}  // namespace

std::vector<HeaderItem> headerItems(std::string_view displayText) {
  std::vector<HeaderItem> items;
  std::size_t at = 0;
  while (at < displayText.size()) {
    auto end = displayText.find('\n', at);
    if (end == std::string_view::npos) end = displayText.size();
    const std::string_view line = displayText.substr(at, end - at);
    at = end + 1;
    if (trimmed(line).empty()) continue;
    const auto colon = line.find(':');
    HeaderItem item;
    item.key = std::string(trimmed(line.substr(0, colon)));
    if (colon != std::string_view::npos) item.value = std::string(line.substr(colon + 1));
    items.push_back(std::move(item));
  }
  return items;
}

std::string describeItems(const std::vector<HeaderItem>& items) {
  std::string text;
  for (const HeaderItem& item : items) {
    if (!text.empty()) text += '\n';
    text += item.key + ": " + item.value;
  }
  return text;
}

int sampleCountOf(const std::string& path, double* clock, double* energy, int* infoStatus) {
  int count = -1;
  double clockValue = 0;
  double energyValue = 0;
  const int status = readArbFileInf(path.c_str(), &count, &clockValue, &energyValue);
  if (status != SEQLINK_OK && status != SEQLINK_MULTI_SEGMENT_REFUSED) {
    throw readInfoFailure(path, status);
  }
  if (status == SEQLINK_MULTI_SEGMENT_REFUSED) {
    // readArbFileInf calls any header with a version above 1 and no text entry first
    // multi-segment, text files and random bytes too; the whole-header reader of info
    // decides whether the file is one. A text too long to show does not make it invalid.
    std::vector<char> text;
    const int headerStatus = readDescription(path, text);
    if (headerStatus != SEQLINK_OK && headerStatus != SEQLINK_NO_MEMORY) {
      throw readInfoFailure(path, headerStatus);
    }
  }
  if (count < 0) {
    throw Failure{
        kExitRead,
        path + ": not a valid .arb file: its header announces a sample count out of range"};
  }
  if (const auto fault = truncation(path, count)) throw Failure{kExitRead, path + ": " + *fault};
  if (clock != nullptr) *clock = clockValue;
  if (energy != nullptr) *energy = energyValue;
  if (infoStatus != nullptr) *infoStatus = status;
  return count;
}

std::string descriptionOf(const std::string& path) {
  std::vector<char> text;
  const int status = readDescription(path, text);
  if (status != SEQLINK_OK) throw readInfoFailure(path, status);
  return text.data();
}

Failure readDataFailure(const std::string& path, int status) {
  return Failure{kExitRead, path + ": " + statusText(SeqlinkCall::ReadData, status), status};
}

ArbContent describedContent(const std::string& path, bool withText) {
  ArbContent content;
  content.path = path;
  int infoStatus = 0;
  const int count = sampleCountOf(path, &content.clockHz, nullptr, &infoStatus);
  content.count = static_cast<std::size_t>(count);
  content.multiSegment = infoStatus == SEQLINK_MULTI_SEGMENT_REFUSED;
  if (withText) content.displayText = descriptionOf(path);
  return content;
}

ArbContent readContent(const std::string& path, bool withText) {
  ArbContent content = describedContent(path, withText);
  const int count = static_cast<int>(content.count);
  const std::size_t values = 2 * content.count + 2;
  content.samples.reserve(values);
  arb::adviseHugePages(content.samples.data(), values * sizeof(short));
  content.samples.assign(values, 0);
  const int status = readArbFileData(path.c_str(), count, content.samples.data());
  if (status != SEQLINK_OK) throw readDataFailure(path, status);
  return content;
}

}  // namespace arbsuite
