// Tar archives (see tar_archive.h): the header blocks are walked from the start;
// each member's data is stepped over, never read.
#include "tar_archive.h"

#include <array>
#include <stdexcept>

namespace arbsuite::wavepack {

namespace {

// Offsets and widths of the ustar header fields used here.
constexpr std::size_t kNameAt = 0;
constexpr std::size_t kNameBytes = 100;
constexpr std::size_t kSizeAt = 124;
constexpr std::size_t kSizeBytes = 12;
constexpr std::size_t kChecksumAt = 148;
constexpr std::size_t kChecksumBytes = 8;
constexpr std::size_t kTypeAt = 156;
constexpr std::size_t kMagicAt = 257;
constexpr std::size_t kPrefixAt = 345;
constexpr std::size_t kPrefixBytes = 155;

// Largest extended header (a pax record block or a GNU long name) read into memory.
constexpr std::uint64_t kMaxExtendedHeader = std::uint64_t{1} << 20;

using Block = std::array<std::uint8_t, kTarBlockBytes>;

// A text field: up to its first NUL.
std::string text(const Block& block, std::size_t at, std::size_t width) {
  std::size_t length = 0;
  while (length < width && block[at + length] != 0) ++length;
  return std::string(reinterpret_cast<const char*>(block.data() + at), length);
}

// An octal number field (blanks and NULs around it), or a base-256 one (its first
// byte has the top bit set) as GNU tar writes sizes of 8 GiB and more.
bool number(const Block& block, std::size_t at, std::size_t width, std::uint64_t& value) {
  value = 0;
  if ((block[at] & 0x80) != 0) {
    if (block[at] != 0x80) return false;  // negative, or more than 64 bits
    for (std::size_t k = 1; k < width; ++k) {
      if (value >> 56 != 0) return false;
      value = value << 8 | block[at + k];
    }
    return true;
  }
  std::size_t k = 0;
  while (k < width && block[at + k] == ' ') ++k;
  bool digits = false;
  for (; k < width && block[at + k] >= '0' && block[at + k] <= '7'; ++k) {
    if (value >> 61 != 0) return false;
    value = value << 3 | static_cast<std::uint64_t>(block[at + k] - '0');
    digits = true;
  }
  for (; k < width; ++k)
    if (block[at + k] != ' ' && block[at + k] != 0) return false;
  return digits;
}

bool allZero(const Block& block) {
  for (std::uint8_t b : block)
    if (b != 0) return false;
  return true;
}

// The checksum is the sum of the header's bytes with its own field as blanks
// (some old writers summed signed bytes).
bool checksumMatches(const Block& block) {
  std::uint64_t stored = 0;
  if (!number(block, kChecksumAt, kChecksumBytes, stored)) return false;
  std::uint64_t unsignedSum = 0;
  std::int64_t signedSum = 0;
  for (std::size_t k = 0; k < block.size(); ++k) {
    const bool field = k >= kChecksumAt && k < kChecksumAt + kChecksumBytes;
    const std::uint8_t b = field ? ' ' : block[k];
    unsignedSum += b;
    signedSum += static_cast<std::int8_t>(b);
  }
  return stored == unsignedSum || static_cast<std::int64_t>(stored) == signedSum;
}

std::uint64_t padded(std::uint64_t size) {
  return (size + kTarBlockBytes - 1) / kTarBlockBytes * kTarBlockBytes;
}

// The "path" of pax records "<length> <key>=<value>\n", or "" when none.
std::string paxPath(const std::string& records) {
  std::string path;
  std::size_t at = 0;
  while (at < records.size()) {
    const std::size_t space = records.find(' ', at);
    if (space == std::string::npos) break;
    std::size_t length = 0;
    for (std::size_t k = at; k < space; ++k) {
      if (records[k] < '0' || records[k] > '9' || length > records.size()) return path;
      length = length * 10 + static_cast<std::size_t>(records[k] - '0');
    }
    if (length <= space - at || at + length > records.size()) break;
    const std::string record = records.substr(space + 1, at + length - space - 2);
    if (record.starts_with("path=")) path = record.substr(5);
    at += length;
  }
  return path;
}

}  // namespace

bool isTarArchive(InputStream& input) {
  if (input.isStandardInput() || *input.size() < kTarBlockBytes) return false;
  Block block;
  input.readAt(0, block.data(), block.size());
  return !allZero(block) && checksumMatches(block);
}

std::vector<TarMember> listTarMembers(InputStream& input) {
  const std::string& name = input.path();
  const std::uint64_t size = input.size().value_or(0);
  if (!isTarArchive(input))
    throw std::runtime_error(name + " is not a tar archive (a SigMF archive is an uncompressed " +
                             "tar file of .sigmf-meta and .sigmf-data files)");
  std::vector<TarMember> members;
  std::string longName;  // from a GNU 'L' entry or a pax 'x' entry, for the next member
  std::uint64_t at = 0;
  while (size - at >= kTarBlockBytes) {
    Block block;
    input.readAt(at, block.data(), block.size());
    if (allZero(block)) break;  // the end-of-archive blocks
    if (!checksumMatches(block))
      throw std::runtime_error(name + ": the tar header at byte " + std::to_string(at) +
                               " is damaged (its checksum is wrong)");
    std::uint64_t memberSize = 0;
    if (!number(block, kSizeAt, kSizeBytes, memberSize))
      throw std::runtime_error(name + ": the tar header at byte " + std::to_string(at) +
                               " has no size");
    const std::uint64_t dataAt = at + kTarBlockBytes;
    if (memberSize > size - dataAt)
      throw std::runtime_error(name + " ends inside the member at byte " + std::to_string(at) +
                               " (" + std::to_string(memberSize) + " bytes)");
    const char type = static_cast<char>(block[kTypeAt]);
    if (type == 'L' || type == 'x') {
      if (memberSize > kMaxExtendedHeader)
        throw std::runtime_error(name + ": the extended tar header at byte " + std::to_string(at) +
                                 " is larger than " + std::to_string(kMaxExtendedHeader >> 20) +
                                 " MiB");
      std::string content(static_cast<std::size_t>(memberSize), '\0');
      input.readAt(dataAt, content.data(), content.size());
      if (type == 'L') {
        longName = content.substr(0, content.find('\0'));
      } else {
        const std::string path = paxPath(content);
        if (!path.empty()) longName = path;
      }
    } else {
      if (type == '0' || type == '\0' || type == '7') {
        std::string memberName = longName;
        if (memberName.empty()) {
          memberName = text(block, kNameAt, kNameBytes);
          const bool ustar = text(block, kMagicAt, 5) == "ustar";
          const std::string prefix = ustar ? text(block, kPrefixAt, kPrefixBytes) : "";
          if (!prefix.empty()) memberName = prefix + "/" + memberName;
        }
        members.push_back({memberName, dataAt, memberSize});
      }
      longName.clear();
    }
    if (padded(memberSize) > size - dataAt) break;  // the last member, unpadded
    at = dataAt + padded(memberSize);
  }
  return members;
}

}  // namespace arbsuite::wavepack
