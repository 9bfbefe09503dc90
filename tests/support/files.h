// Whole-file reads and writes for tests, in bytes or text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace arbtest {

using Bytes = std::vector<std::uint8_t>;

// The file's content; empty when it cannot be read.
Bytes readBytes(const std::string& path);
std::string readText(const std::string& path);

// Replaces the file's content (creating it).
void writeBytes(const std::string& path, const Bytes& bytes);
void writeText(const std::string& path, const std::string& text);

// The names of the entries of a folder, sorted.
std::vector<std::string> listing(const std::string& folder);

}  // namespace arbtest
