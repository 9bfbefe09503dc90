// libFuzzer target: the .arb header, layout and info-block parsers and the text-item
// lookup on arbitrary bytes. Every offset they hand back must lie inside the input.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "arb_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> file(data, size);
  arb::ArbHeader header;
  if (arb::parseHeader(file, header) != arb::ParseStatus::ok) return 0;
  if (arb::checkLayout(header, size) != arb::ParseStatus::ok) return 0;
  const auto block = arb::headerBlock(file, header);
  if (block.data() < data || block.data() + block.size() > data + size) std::abort();
  const std::string_view text(reinterpret_cast<const char*>(block.data()), block.size());
  (void)arb::findTextItem(text, "Clock");
  arb::InfoBlock info;
  if (arb::parseInfoBlock(block, static_cast<std::uint32_t>(arb::kHeaderLength), info) ==
      arb::ParseStatus::ok) {
    const auto* textBegin = reinterpret_cast<const std::uint8_t*>(info.text.data());
    if (textBegin < block.data() || textBegin + info.text.size() > block.data() + block.size())
      std::abort();
    (void)arb::findTextItem(info.text, "Value");
  }
  return 0;
}
