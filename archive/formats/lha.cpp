// The lister's reader for LHA and LZH archives, header levels 0 to 3, also behind a 128-byte
// prefix: the base header, then the chain of extended headers, where the file name (type 1) and
// the folder name (type 2) are found wherever they stand in the chain. Entry data is skipped.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "archive/formats/format_dates.h"
#include "archive/formats/lister_format.h"
#include "archive/records/arvZipRecs.h"

namespace {

constexpr int32_t kBaseSize = 22;  // what the walk reads of every header
constexpr int32_t kPrefixSize = 128;
// Base header fields.
constexpr int kMethodChar = 5;       // 'd' for a directory entry
constexpr int kPackedOffset = 7;     // 4 bytes
constexpr int kUnpackedOffset = 11;  // 4 bytes
constexpr int kDateTimeOffset = 15;  // 4 bytes: DOS date-time (levels 0, 1), Unix time (level 2)
constexpr int kAttributeOffset = 19;
constexpr int kLevelOffset = 20;
constexpr int kNameLengthOffset = 21;  // levels 0 and 1
// Level 2: total header size (2) at 0; CRC-16 (2) at 21, OS (1) at 23, first extended size at 24.
constexpr int32_t kLevel2FixedSize = 26;
// Level 3: the size field at 0 holds 4 (the width of its sizes); CRC-16 at 21, OS at 23, total
// header size (4) at 24, first extended size (4) at 28.
constexpr int32_t kLevel3FixedSize = 32;
constexpr uint8_t kExtFileName = 0x01;
constexpr uint8_t kExtFolderName = 0x02;
constexpr uint8_t kOsUnix = 'U';
constexpr int32_t kMaxExtendedHeaders = 4096;  // a chain longer than this is taken as a loop

class TLhaLister final : public TListerFormat {
 public:
  void FirstHeader(TArcovaWalk& walk) override {
    walk.SetHeaderSize(kBaseSize);
    uint8_t first = 1;
    if (walk.Stream().ReadAt(walk.StartOffset, &first, 1) == 1 && first == 0)
      walk.StartOffset += kPrefixSize;  // a 128-byte prefix in front of the archive
  }

  void Header(TArcovaWalk& walk) override;

 private:
  // Walks the extended headers from `position` (the first announced `size`) up to `limit`,
  // taking the file and folder names; false when the chain leaves the header. Each header ends
  // with the size of the next, `sizeWidth` bytes (4 at level 3, else 2).
  bool ReadExtended(TArcovaWalk& walk, int64_t position, uint32_t size, int64_t limit,
                    uint32_t sizeWidth = 2);

  std::string FName;
  std::string FFolder;
  bool FHaveExtName = false;
};

bool TLhaLister::ReadExtended(TArcovaWalk& walk, int64_t position, uint32_t size, int64_t limit,
                              uint32_t sizeWidth) {
  for (int32_t count = 0; size != 0; ++count) {
    if (size < 1 + sizeWidth || size > 0xFFFF || count >= kMaxExtendedHeaders ||
        position + size > limit) {
      return false;
    }
    int32_t got = 0;
    const uint8_t* ext = walk.Stream().Peek(position, static_cast<int32_t>(size), got);
    if (!ext || got != static_cast<int32_t>(size)) return false;
    const std::string data(reinterpret_cast<const char*>(ext + 1), size - 1 - sizeWidth);
    if (ext[0] == kExtFileName) {
      FName = data.substr(0, data.find('\0'));
      FHaveExtName = true;
    } else if (ext[0] == kExtFolderName) {
      FFolder = LhaPathToDos(data.substr(0, data.find('\0')));
      while (!FFolder.empty() && FFolder.back() == '\\') FFolder.pop_back();
    }
    position += size;
    size = sizeWidth == 4 ? GetLe32(ext + size - 4) : GetLe16(ext + size - 2);
  }
  return true;
}

void TLhaLister::Header(TArcovaWalk& walk) {
  const uint8_t* h = walk.Header();
  const int64_t start = walk.HeaderStart;
  const uint8_t level = h[kLevelOffset];
  const int64_t packed = GetLe32(h + kPackedOffset);
  const int64_t unpacked = GetLe32(h + kUnpackedOffset);
  // A level-2 header's size is 16 bits, so its first byte may be 0 without ending the archive; a
  // level-3 header's size field holds the width of its sizes.
  if (level > 3 || (level < 2 && h[0] == 0) || (level == 2 && GetLe16(h) == 0) ||
      (level == 3 && GetLe16(h) != 4)) {
    walk.EndWalk();
    return;
  }
  FName.clear();
  FFolder.clear();
  FHaveExtName = false;
  uint8_t os = 0;
  int64_t next = 0;
  bool chainOk = true;
  if (level < 2) {
    const uint8_t nameLength = h[kNameLengthOffset];
    next = start + 2 + h[0] + packed;  // behind the base header (CRC included) and the data
    uint8_t tail[kBaseSize + 255 + 5];
    const int32_t want = kBaseSize + nameLength + (level == 1 ? 5 : 2);
    if (walk.Stream().ReadAt(start, tail, want) != want) {
      walk.EndWalk();
      return;
    }
    FName.assign(reinterpret_cast<const char*>(tail + kBaseSize), nameLength);
    FName.resize(std::strlen(FName.c_str()));
    if (level == 1) {
      os = tail[kBaseSize + nameLength + 2];
      const uint32_t firstSize = GetLe16(tail + kBaseSize + nameLength + 3);
      // The extended headers of level 1 count in the packed size, before the data.
      chainOk = ReadExtended(walk, start + want, firstSize, next);
    }
  } else if (level == 3) {
    uint8_t fixed[kLevel3FixedSize];
    if (walk.Stream().ReadAt(start, fixed, kLevel3FixedSize) != kLevel3FixedSize) {
      walk.EndWalk();
      return;
    }
    os = fixed[23];
    const int64_t headerSize = GetLe32(fixed + 24);
    next = start + headerSize + packed;
    chainOk = headerSize >= kLevel3FixedSize &&
              ReadExtended(walk, start + kLevel3FixedSize, GetLe32(fixed + 28), start + headerSize,
                           4);
  } else {
    next = start + GetLe16(h) + packed;
    uint8_t fixed[kLevel2FixedSize];
    if (walk.Stream().ReadAt(start, fixed, kLevel2FixedSize) != kLevel2FixedSize) {
      walk.EndWalk();
      return;
    }
    os = fixed[23];
    chainOk = ReadExtended(walk, start + kLevel2FixedSize, GetLe16(fixed + 24), start + GetLe16(h));
  }
  if (!chainOk || next > walk.ArchiveSize()) {
    walk.EndWalk();  // a header that runs out of itself or past the file
    if (!chainOk) return;
  } else {
    walk.CurrentOffset = next;
  }

  // A symbolic link is stored as "path|target" in a directory-method entry, the bar standing in
  // the name or, from LHa for Unix, in the folder.
  walk.ClearEntry();
  walk.SetFileName(FName, os != kOsUnix);
  // The folder is text of the same system as the name.
  if (!FFolder.empty()) FFolder = walk.EntryName(FFolder, os != kOsUnix);
  std::string full = walk.FileName();
  if (!FFolder.empty()) full = FFolder + "\\" + full;
  const size_t bar = full.find('|');
  const bool link = bar != std::string::npos;
  if (link) full.resize(bar);
  const bool directory = h[kMethodChar] == 'd' && !link;
  if (directory && !full.empty() && full.back() != '\\') full += '\\';
  walk.SetFileNameRaw(full);

  TArcovaEntry& entry = walk.Entry();
  entry.PackedSize = packed;
  entry.UnpackedSize = unpacked;
  entry.Method = h[kMethodChar];
  entry.Attributes = h[kAttributeOffset];
  const uint32_t stamp = GetLe32(h + kDateTimeOffset);
  entry.DosDateTime = level < 2 ? stamp : UnixToDosDateTime(stamp);  // levels 2 and 3: Unix
  entry.IsDirectory = directory;
  walk.FireReadFile();

  std::string matchName = walk.FileName();
  if (directory && !matchName.empty()) matchName.pop_back();
  if (walk.SimpleMatch(matchName)) walk.ReportSelected(start, directory, unpacked, packed);
}

}  // namespace

std::unique_ptr<TListerFormat> CreateLhaLister() {
  return std::make_unique<TLhaLister>();
}
