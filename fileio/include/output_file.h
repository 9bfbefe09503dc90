// The one way the suite writes an output file (the .arb writers, the CSV and
// configuration files of the hosts). A regular output, or one that does not exist
// yet, is written to an unnamed temporary file in its folder (O_TMPFILE; a short
// hidden name where the file system refuses that) and put in place under its name
// only when everything is written: a failed or interrupted run leaves no partial
// file and an existing file unchanged. Anything else is never replaced:
//   - a character or block device, a FIFO: written through, as a plain open would
//     (also through /dev/stdout or /proc/self/fd/N);
//   - a symbolic link: the file it points to (resolved link by link) is the output,
//     the link stays;
//   - a folder or a socket: refused.
// An existing regular file that the process may not open for writing is refused
// exactly where a plain open for writing would fail. A replaced file keeps its
// permission bits and, where the process may, its owner and group; a new file
// gets 0666 less the umask.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "interrupt_cleanup.h"

namespace arbsuite::arb {

struct OutputOptions {
  // Tests turn the unnamed temporary off to exercise the named one.
  bool allowUnnamedTemporary = true;
};

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile() { discard(); }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Opens the output at path for writing. Returns true, or false with error()
  // holding the errno value of the step that failed (EISDIR for a folder, ENXIO
  // for a socket, ELOOP for a loop of links).
  bool open(const std::string& path, const OutputOptions& options = {});

  // Appends bytes (buffered). False, with error() set, when a write fails.
  bool write(const void* data, std::size_t length);
  bool write(const std::string& text) { return write(text.data(), text.size()); }

  // Writes bytes over the replacement at offset (what write() buffered is written
  // first), for a writer that fills in a header once what follows it is known. A
  // device or FIFO, written through, has no offsets: false with ESPIPE.
  bool writeAt(std::uint64_t offset, const void* data, std::size_t length);

  // Finishes the output: flushes, then puts a replacement in place under the
  // output's name, or closes a written-through device or FIFO. False, with error()
  // set, when any step fails; a replacement then leaves nothing behind.
  bool commit();

  // Abandons the output: a replacement leaves nothing behind; a device or FIFO is
  // closed (what was written through stays written). Safe to call twice.
  void discard();

  bool isOpen() const { return fd_ >= 0; }
  // The open file, for writers that take a descriptor or a name of their own (a
  // plotting library opens "/proc/self/fd/N"); -1 when not open. Bytes written
  // through it bypass write() and its buffer.
  int descriptor() const { return fd_; }
  // The output is a device or FIFO, written through.
  bool writesThrough() const { return through_; }
  int error() const { return error_; }
  // The file that is written: the output path with its symbolic links resolved (a
  // device or FIFO: the path as given).
  const std::string& destination() const { return destination_; }

 private:
  bool openSpecial(const struct stat& info);
  bool openReplacement(const OutputOptions& options);
  bool openNamedTemporary();
  bool flushBuffer();
  bool publish();
  void fail(int error);

  int fd_ = -1;
  bool through_ = false;
  bool unnamed_ = false;    // an O_TMPFILE file, linked in at commit
  bool existed_ = false;    // a regular file is replaced
  bool keepOwner_ = false;  // owner and group of the replaced file
  uid_t owner_ = 0;
  gid_t group_ = 0;
  mode_t mode_ = 0;  // permission bits of the replaced file
  int error_ = 0;
  std::string destination_;
  std::string folder_;
  std::string temporary_;     // the named temporary, while it exists
  InterruptRemoval removal_;  // the named temporary on the interrupt list
  // Without an installed registry (inside a library) a named temporary holds
  // interrupts back until it is gone, so that none is left named.
  std::optional<InterruptDeferral> deferral_;
  std::vector<std::uint8_t> buffer_;
};

// The file that a path designates for writing once its symbolic links are
// resolved link by link (the path itself when it is no link; a link's target need
// not exist). Returns false with errno set (ELOOP for too many links).
bool resolveOutputPath(const std::string& path, std::string& resolved);

// Whether two outputs would write the same file: the same existing regular file
// (device and inode), or the same name in the same folder where it does not exist
// yet. A device or FIFO may take two outputs; paths that cannot be resolved are
// different.
bool outputsClash(const std::string& a, const std::string& b);

// Whether writing to `output` would write over the existing regular file `input`
// (same device and inode). Paths that do not exist or are not regular files never
// clash: a device or FIFO can be read and written at once.
bool outputOverwritesInput(const std::string& output, const std::string& input);

}  // namespace arbsuite::arb
