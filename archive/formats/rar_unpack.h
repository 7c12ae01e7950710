// What libarchive does not say of a RAR 1.5-4 archive: the version of the compression each file
// needs. libarchive decodes the compression of RAR 2.9 and later; a member packed the RAR 1.5 or
// 2.0 way fails in it as damaged data, which it is not.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct TRarUnpack {
  uint8_t Version = 0;  // 15, 20, 26, 29, 36
  uint8_t Method = 0;   // 0x30 stored ... 0x35 best
  bool Packed() const { return Method != 0x30; }
};

// The files of a RAR 1.5-4 archive in header order (the parts of a file that began in an earlier
// volume left out), read over its volumes (host paths with the archive's start in the first);
// shorter than the archive's files when a header cannot be read (encrypted headers: none).
std::vector<TRarUnpack> ReadRarUnpackVersions(
    const std::vector<std::pair<std::string, int64_t>>& volumes);
