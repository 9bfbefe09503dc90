// libFuzzer target of the .arb format module on arbitrary bytes: the decoders the
// readers ship with (header and entry records from a byte source, the text header's
// place, text and byte extraction), then the strict decoders of a whole file
// (header, layout, info block) and the item scanner. Every range they accept must
// lie inside the input and every text they return must fit in its range.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "arb_format.h"
#include "arb_source.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

// Reads a text range both ways and checks what comes back.
void readRange(arb::ByteSource& source, const arb::ByteRange& range) {
  std::string text;
  if (arb::readText(source, range, text) == arb::ParseStatus::ok) {
    check(source.holds(range));
    check(text.size() <= range.length && text.find('\0') == std::string::npos);
    (void)arb::textAfterKey(text, "{Clock");
    (void)arb::findTextItem(text, "Value");
  }
  if (arb::readTextUpTo(source, range, text) == arb::ParseStatus::ok) {
    check(range.offset <= source.size() && text.size() <= range.length);
  }
}

void decodeFromSource(std::span<const std::uint8_t> file) {
  arb::MemorySource source(file);
  arb::HeaderRecord header;
  check(arb::readHeader(source, header) == arb::ParseStatus::ok);
  check(header.present() == std::min<std::size_t>(file.size(), arb::kHeaderLength));
  (void)header.hasMagic();
  (void)header.decode();
  if (const auto version = header.version()) {
    (void)arb::dataEncrypted(*version, header.encryptedFlag().value_or(0));
  }

  arb::ByteRange text;
  if (arb::locateTextHeader(source, header, text) == arb::ParseStatus::ok) readRange(source, text);

  if (const auto dataOffset = header.dataOffset()) {
    arb::ByteRange block;
    if (arb::headerBlockRange(*dataOffset, block, 10240) == arb::ParseStatus::ok) {
      check(block.offset == arb::kHeaderLength && block.length <= 10240);
      std::vector<std::uint8_t> bytes(static_cast<std::size_t>(block.length));
      if (arb::readBytes(source, block, bytes.data()) == arb::ParseStatus::ok) {
        check(source.holds(block));
      }
      readRange(source, {block.offset, std::min<std::uint64_t>(block.length, 1024)});
    }
  }

  std::uint32_t count = 0;
  if (arb::readEntryCount(source, count) == arb::ParseStatus::ok) {
    // The first entries and the last one, as the readers look at them.
    for (const std::uint32_t index : {0u, 1u, count - 1}) {
      arb::EntryRecord entry;
      check(arb::readEntry(source, index, entry) == arb::ParseStatus::ok);
      if (const auto block = entry.block()) readRange(source, *block);
    }
  }
}

void decodeWholeFile(std::span<const std::uint8_t> file) {
  arb::ArbHeader header;
  if (arb::parseHeader(file, header) != arb::ParseStatus::ok) return;
  if (arb::checkLayout(header, file.size()) != arb::ParseStatus::ok) return;
  const auto block = arb::headerBlock(file, header);
  check(block.data() >= file.data() && block.data() + block.size() <= file.data() + file.size());
  const std::string_view text(reinterpret_cast<const char*>(block.data()), block.size());
  (void)arb::findTextItem(text, "Clock");
  arb::InfoBlock info;
  if (arb::parseInfoBlock(block, static_cast<std::uint32_t>(arb::kHeaderLength), info) ==
      arb::ParseStatus::ok) {
    const auto* textBegin = reinterpret_cast<const std::uint8_t*>(info.text.data());
    check(textBegin >= block.data() && textBegin + info.text.size() <= block.data() + block.size());
    (void)arb::findTextItem(info.text, "Value");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> file(data, size);
  decodeFromSource(file);
  decodeWholeFile(file);
  return 0;
}
