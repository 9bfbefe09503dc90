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
void readRange(arbsuite::arb::ByteSource& source, const arbsuite::arb::ByteRange& range) {
  std::string text;
  if (arbsuite::arb::readText(source, range, text) == arbsuite::arb::ParseStatus::ok) {
    check(source.holds(range));
    check(text.size() <= range.length && text.find('\0') == std::string::npos);
    (void)arbsuite::arb::textAfterKey(text, "{Clock");
    (void)arbsuite::arb::findTextItem(text, "Value");
  }
  if (arbsuite::arb::readTextUpTo(source, range, text) == arbsuite::arb::ParseStatus::ok) {
    check(range.offset <= source.size() && text.size() <= range.length);
  }
}

void decodeFromSource(std::span<const std::uint8_t> file) {
  arbsuite::arb::MemorySource source(file);
  arbsuite::arb::HeaderRecord header;
  check(arbsuite::arb::readHeader(source, header) == arbsuite::arb::ParseStatus::ok);
  check(header.present() == std::min<std::size_t>(file.size(), arbsuite::arb::kHeaderLength));
  (void)header.hasMagic();
  (void)header.decode();
  if (const auto version = header.version()) {
    (void)arbsuite::arb::dataEncrypted(*version, header.encryptedFlag().value_or(0));
  }

  arbsuite::arb::ByteRange text;
  if (arbsuite::arb::locateTextHeader(source, header, text) == arbsuite::arb::ParseStatus::ok)
    readRange(source, text);

  if (const auto dataOffset = header.dataOffset()) {
    arbsuite::arb::ByteRange block;
    if (arbsuite::arb::headerBlockRange(*dataOffset, block, 10240) ==
        arbsuite::arb::ParseStatus::ok) {
      check(block.offset == arbsuite::arb::kHeaderLength && block.length <= 10240);
      std::vector<std::uint8_t> bytes(static_cast<std::size_t>(block.length));
      if (arbsuite::arb::readBytes(source, block, bytes.data()) == arbsuite::arb::ParseStatus::ok) {
        check(source.holds(block));
      }
      readRange(source, {block.offset, std::min<std::uint64_t>(block.length, 1024)});
    }
  }

  std::uint32_t count = 0;
  if (arbsuite::arb::readEntryCount(source, count) == arbsuite::arb::ParseStatus::ok) {
    // The first entries and the last one, as the readers look at them.
    for (const std::uint32_t index : {0u, 1u, count - 1}) {
      arbsuite::arb::EntryRecord entry;
      check(arbsuite::arb::readEntry(source, index, entry) == arbsuite::arb::ParseStatus::ok);
      if (const auto block = entry.block()) readRange(source, *block);
    }
  }
}

void decodeWholeFile(std::span<const std::uint8_t> file) {
  arbsuite::arb::ArbHeader header;
  if (arbsuite::arb::parseHeader(file, header) != arbsuite::arb::ParseStatus::ok) return;
  if (arbsuite::arb::checkLayout(header, file.size()) != arbsuite::arb::ParseStatus::ok) return;
  const auto block = arbsuite::arb::headerBlock(file, header);
  check(block.data() >= file.data() && block.data() + block.size() <= file.data() + file.size());
  const std::string_view text(reinterpret_cast<const char*>(block.data()), block.size());
  (void)arbsuite::arb::findTextItem(text, "Clock");
  arbsuite::arb::InfoBlock info;
  if (arbsuite::arb::parseInfoBlock(block, static_cast<std::uint32_t>(arbsuite::arb::kHeaderLength),
                                    info) == arbsuite::arb::ParseStatus::ok) {
    const auto* textBegin = reinterpret_cast<const std::uint8_t*>(info.text.data());
    check(textBegin >= block.data() && textBegin + info.text.size() <= block.data() + block.size());
    (void)arbsuite::arb::findTextItem(info.text, "Value");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> file(data, size);
  decodeFromSource(file);
  decodeWholeFile(file);
  return 0;
}
