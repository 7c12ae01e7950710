// The RAR 1.5-4 block chain, read for the file headers' unpack versions only: the marker block,
// then blocks of a 7-byte head (CRC 2, type 1, flags 2, size 2), a 4-byte added size behind the
// head when flag 0x8000 says so (a file header's packed size always), up to the end block.
#include "archive/formats/rar_unpack.h"

#include <cstdio>
#include <cstring>

#include "archive/codecs/arvBytes.h"

namespace {

constexpr uint8_t kMarker[7] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
constexpr uint8_t kTypeMain = 0x73;
constexpr uint8_t kTypeFile = 0x74;
constexpr uint8_t kTypeEnd = 0x7B;
constexpr uint16_t kMainEncryptedHeaders = 0x0080;
constexpr uint16_t kFileSplitBefore = 0x0001;
constexpr uint16_t kFileLargeSizes = 0x0100;
constexpr uint16_t kHasAddedSize = 0x8000;
constexpr int kFileFixed = 7 + 25;  // the head and the fixed fields of a file header
constexpr size_t kMaxFiles = 1 << 20;

bool ReadAt(std::FILE* f, int64_t position, uint8_t* buffer, size_t count) {
  return std::fseek(f, static_cast<long>(position), SEEK_SET) == 0 &&
         std::fread(buffer, 1, count, f) == count;
}

// Appends the files of one volume; false when the walk cannot go on.
bool ReadVolume(std::FILE* f, int64_t position, std::vector<TRarUnpack>& files) {
  uint8_t h[kFileFixed];
  if (!ReadAt(f, position, h, sizeof kMarker) || std::memcmp(h, kMarker, sizeof kMarker) != 0)
    return false;
  position += sizeof kMarker;
  while (files.size() < kMaxFiles && ReadAt(f, position, h, 7)) {
    const uint8_t type = h[2];
    const uint16_t flags = GetLe16(h + 3);
    const uint16_t size = GetLe16(h + 5);
    if (size < 7 || type == kTypeEnd) return true;
    if (type == kTypeMain && (flags & kMainEncryptedHeaders)) return false;
    int64_t added = 0;
    if (type == kTypeFile) {
      if (size < kFileFixed || !ReadAt(f, position, h, kFileFixed)) return false;
      added = GetLe32(h + 7);
      if (flags & kFileLargeSizes) {
        uint8_t high[4];
        if (size < kFileFixed + 8 || !ReadAt(f, position + kFileFixed, high, 4)) return false;
        added |= static_cast<int64_t>(GetLe32(high)) << 32;
      }
      if (!(flags & kFileSplitBefore)) files.push_back({h[24], h[25]});
    } else if (flags & kHasAddedSize) {
      uint8_t more[4];
      if (size < 11 || !ReadAt(f, position + 7, more, 4)) return false;
      added = GetLe32(more);
    }
    position += size + added;
  }
  return true;
}

}  // namespace

std::vector<TRarUnpack> ReadRarUnpackVersions(
    const std::vector<std::pair<std::string, int64_t>>& volumes) {
  std::vector<TRarUnpack> files;
  for (const auto& [path, start] : volumes) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) break;
    const bool more = ReadVolume(f, start, files);
    std::fclose(f);
    if (!more) break;
  }
  return files;
}
