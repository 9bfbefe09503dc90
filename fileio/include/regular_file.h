// Opening a reader's input: every reader of the suite takes regular files only, and
// finds out without blocking (a FIFO or a device never stalls the open), so that a
// special file named by mistake is refused at once instead of hanging the program
// or feeding it without end.
#pragma once

#include <cstddef>
#include <string>

namespace arbsuite::arb {

// Result of openRegularFile besides a descriptor.
inline constexpr int kCannotOpen = -1;      // errno says why
inline constexpr int kNotRegularFile = -2;  // the path names a FIFO, device, folder...

// Opens path read-only (close-on-exec) and returns the descriptor, positioned at the
// start, or kCannotOpen (errno set) or kNotRegularFile. Symbolic links are followed.
int openRegularFile(const char* path);

enum class ReadStatus { ok, cannotOpen, notRegular, tooLarge, readError };

// The whole content of the regular file at path, at most maxBytes bytes: a larger
// file gives tooLarge, and nothing beyond maxBytes + 1 bytes is ever read. errno
// holds the reason of cannotOpen and readError.
ReadStatus readRegularFile(const char* path, std::size_t maxBytes, std::string& content);

// "cannot open" with the errno reason, "not a regular file", "larger than N bytes"
// or "read error": the words after a path in a reader's message.
std::string readStatusText(ReadStatus status, int error, std::size_t maxBytes);

}  // namespace arbsuite::arb
