// The lister's reader for ACE archives and their self-extracting form: the archive header (its
// "**ACE**" mark at 7), then one file header per member, each followed by the member's packed data.
// A member split over volumes (.c00, .c01, ...) is followed into the next volume and listed once,
// where it ends, with the packed sizes of all its parts. Member data is skipped, never decoded.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "archive/formats/lister_format.h"
#include "archive/records/arvZipRecs.h"

namespace {

// ---- the headers --------------------------------------------------------------------------------
// Every header starts with its CRC (2) and the size of what follows the size field (2).
constexpr int32_t kAcePrefixSize = 4;
constexpr int32_t kAceArchiveHeaderSize = 31;  // up to the creation date and its reserved bytes
constexpr int32_t kAceFileHeaderSize = 35;     // the fixed fields up to the name
constexpr int32_t kAceNameSizeOffset = 33;
constexpr uint8_t kAceFileHeaderType = 1;
constexpr uint16_t kAceFlagSplitBefore = 0x1000;  // continued from the previous volume
constexpr uint16_t kAceFlagSplitAfter = 0x2000;   // continued in the next volume
constexpr uint16_t kAceFlagPassword = 0x4000;
constexpr uint32_t kAceDirectoryAttribute = 0x10;

struct TAceFileHeader {
  uint16_t HeaderSize = 0;  // bytes behind the size field
  uint8_t Type = 0;
  uint16_t Flags = 0;
  uint32_t PackedSize = 0;
  uint32_t UnpackedSize = 0;
  uint32_t DosDateTime = 0;
  uint32_t Attributes = 0;
  uint32_t Crc32 = 0;
  uint8_t Method = 0;  // the quality byte of the technical info (fastest 0 to best 4)
  uint16_t NameSize = 0;

  static TAceFileHeader Decode(const uint8_t* h) {
    TAceFileHeader r;
    r.HeaderSize = GetLe16(h + 2);
    r.Type = h[4];
    r.Flags = GetLe16(h + 5);
    r.PackedSize = GetLe32(h + 7);
    r.UnpackedSize = GetLe32(h + 11);
    r.DosDateTime = GetLe32(h + 15);
    r.Attributes = GetLe32(h + 19);
    r.Crc32 = GetLe32(h + 23);
    r.Method = h[28];
    r.NameSize = GetLe16(h + kAceNameSizeOffset);
    return r;
  }
};

class TAceLister final : public TListerFormat {
 public:
  void FirstHeader(TArcovaWalk& walk) override {
    walk.RestartVolumes();  // a walk before this one may have moved the volume number on
    walk.SetHeaderSize(kAceFileHeaderSize);
    int64_t first = 0;
    if (!FirstEntryBehindArchiveHeader(walk, walk.StartOffset, first)) {
      walk.ReadNothing();
      return;
    }
    walk.StartOffset = first;
  }

  void Header(TArcovaWalk& walk) override {
    const TAceFileHeader header = TAceFileHeader::Decode(walk.Header());
    if (header.Type != kAceFileHeaderType || header.HeaderSize < kAceFileHeaderSize - 4) {
      walk.EndWalk();  // a recovery record or anything else that is no member
      return;
    }
    // The name takes what the header has room for behind the fixed fields.
    const int32_t room = header.HeaderSize + kAcePrefixSize - kAceFileHeaderSize;
    const int32_t nameSize = std::min<int32_t>(header.NameSize, room);
    std::string stored(static_cast<size_t>(nameSize), '\0');
    const int32_t got =
        walk.Stream().ReadAt(walk.HeaderStart + kAceFileHeaderSize, stored.data(), nameSize);
    if (got != nameSize) {
      walk.EndWalk();  // the name runs past the end of the file
      return;
    }
    walk.SetFileName(stored);
    walk.FireReadFile();

    walk.CurrentOffset =
        walk.HeaderStart + kAcePrefixSize + header.HeaderSize + int64_t{header.PackedSize};
    if (header.Flags & kAceFlagSplitBefore) {
      FRunningPacked += header.PackedSize;
    } else {
      FRunningPacked = header.PackedSize;
    }
    if (header.Flags & kAceFlagSplitAfter) {
      // Counted where it ends, in a later volume.
      MoveToNextVolume(walk);
      return;
    }

    walk.ClearEntry();
    TArcovaEntry& entry = walk.Entry();
    entry.PackedSize = FRunningPacked;
    entry.UnpackedSize = header.UnpackedSize;
    entry.DosDateTime = header.DosDateTime;
    entry.Crc32 = header.Crc32;
    entry.Method = header.Method;
    entry.Flags = header.Flags;
    entry.Attributes = header.Attributes;
    entry.IsDirectory = (header.Attributes & kAceDirectoryAttribute) != 0;
    entry.Encrypted = (header.Flags & kAceFlagPassword) != 0;
    if (!walk.SimpleMatch(walk.FileName())) return;
    walk.ReportSelected(walk.HeaderStart, entry.IsDirectory, entry.UnpackedSize, entry.PackedSize);
  }

 private:
  // Where the first file header lies behind the archive header at `position`.
  static bool FirstEntryBehindArchiveHeader(TArcovaWalk& walk, int64_t position, int64_t& first) {
    uint8_t archiveHeader[kAceArchiveHeaderSize];
    if (walk.Stream().ReadAt(position, archiveHeader, kAceArchiveHeaderSize) !=
        kAceArchiveHeaderSize)
      return false;
    first = position + kAcePrefixSize + GetLe16(archiveHeader + 2);
    return true;
  }

  static void MoveToNextVolume(TArcovaWalk& walk) {
    int64_t first = 0;
    if (!walk.NextVolume()) {
      walk.CancelWalk();
      walk.EndWalk();
    } else if (!FirstEntryBehindArchiveHeader(walk, 0, first)) {
      walk.EndWalk();
    } else {
      walk.CurrentOffset = first;
    }
  }

  int64_t FRunningPacked = 0;
};

}  // namespace

std::unique_ptr<TListerFormat> CreateAceLister() {
  return std::make_unique<TAceLister>();
}
