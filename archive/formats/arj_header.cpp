// ARJ's headers (see arj_header.h).
#include "archive/formats/arj_header.h"

#include "archive/codecs/arvBytes.h"
#include "archive/common/arvStreams.h"

namespace arj {

namespace {

constexpr uint16_t kHeaderId = 0xEA60;
constexpr int32_t kCrcSize = 4;
constexpr int32_t kMinFirstSize = 30;      // the fixed fields up to the host data
constexpr int32_t kEncryptionOffset = 32;  // main header: the encryption version

}  // namespace

bool ReadHeader(TStream32& stream, int64_t position, THeader& header) {
  uint8_t h[kPrefixSize + kMaxBasicSize];
  if (stream.ReadAt(position, h, kPrefixSize) != kPrefixSize) return false;
  if (GetLe16(h) != kHeaderId) return false;
  const int32_t basic = GetLe16(h + 2);
  if (basic == 0 || basic > kMaxBasicSize) return false;
  const int32_t total = kPrefixSize + basic;
  if (stream.ReadAt(position, h, total) != total) return false;
  const int32_t firstSize = h[4];
  if (firstSize < kMinFirstSize || firstSize > basic) return false;
  header.HostOs = h[7];
  header.Flags = h[8];
  header.Method = h[9];
  header.FileType = h[10];
  header.Modifier = h[11];
  header.Time = GetLe32(h + 12);
  header.PackedSize = GetLe32(h + 16);
  header.OriginalSize = GetLe32(h + 20);
  header.Crc32 = GetLe32(h + 24);
  header.AccessMode = GetLe16(h + 30);
  header.Encryption = kPrefixSize + firstSize > kEncryptionOffset ? h[kEncryptionOffset] : 0;
  const int32_t nameStart = kPrefixSize + firstSize;
  int32_t nameEnd = nameStart;
  while (nameEnd < total && h[nameEnd] != 0) ++nameEnd;
  header.Name.assign(reinterpret_cast<const char*>(h + nameStart),
                     static_cast<size_t>(nameEnd - nameStart));
  // Extended headers: a size, its data and CRC each, up to a size of 0; stepped over.
  int64_t next = position + total + kCrcSize;
  for (;;) {
    uint8_t size[2];
    if (stream.ReadAt(next, size, 2) != 2) return false;
    next += 2;
    const uint16_t extended = GetLe16(size);
    if (extended == 0) break;
    next += extended + kCrcSize;
  }
  header.Data = next;
  return true;
}

}  // namespace arj
