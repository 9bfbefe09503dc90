// The member files of an uncompressed tar archive (ustar, with the GNU long-name
// and the POSIX pax extensions), as a SigMF archive holds its recordings: their
// names and where their bytes are, so that a member is read in place.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "input_stream.h"

namespace arbsuite::wavepack {

// Bytes of a tar header block; members are padded to whole blocks.
inline constexpr std::uint64_t kTarBlockBytes = 512;

struct TarMember {
  std::string name;          // the path inside the archive
  std::uint64_t offset = 0;  // first byte of its data in the archive
  std::uint64_t size = 0;    // bytes of data
};

// Whether the first block of the regular file `input` is a tar header (its
// checksum is right); false for a file shorter than a block.
bool isTarArchive(InputStream& input);

// The regular files of the archive, in the archive's order (folders, links and
// other entries are left out). Throws std::runtime_error naming the archive for a
// file that is not a tar archive, a header whose checksum is wrong, and a member
// or extended header that reaches beyond the end of the file.
std::vector<TarMember> listTarMembers(InputStream& input);

}  // namespace arbsuite::wavepack
