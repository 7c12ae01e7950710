// The lister's reader for ARJ archives and their self-extracting form: the archive's main header,
// then one local header per member (id 0xEA60, basic header, its CRC, extended headers) followed by
// the member's data, up to the end header whose basic size is 0. A member that goes on in the next
// volume (.a01, .a02, ...) is followed there and listed once, where it ends, with the sizes of all
// its parts. Member data is skipped, never decoded.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/formats/format_dates.h"
#include "archive/formats/lister_format.h"
#include "archive/records/arvZipRecs.h"

namespace {

// ---- the headers --------------------------------------------------------------------------------
constexpr uint16_t kArjHeaderId = 0xEA60;
constexpr int32_t kArjPrefixSize = 4;       // id 2, basic-header size 2
constexpr int32_t kArjMaxBasicSize = 2600;  // the largest basic header ARJ writes
static_assert(kArjPrefixSize + kArjMaxBasicSize <= TArcova::kArjHeaderBufferSize + kArjPrefixSize);
constexpr int32_t kArjCrcSize = 4;
constexpr int32_t kArjMinFirstSize = 30;   // the fixed fields up to the host data
constexpr uint8_t kArjFlagVolume = 0x04;   // this member goes on in the next volume
constexpr uint8_t kArjFlagExtFile = 0x08;  // this member began in an earlier volume
constexpr uint8_t kArjDirectory = 3;       // file type of a folder
// Host systems of the DOS family (MS-DOS, OS/2, Windows 95, Windows NT): their names are in a DOS
// code page and their times packed DOS date-times; the others write Unix seconds.
constexpr bool ArjHostIsDos(uint8_t hostOs) {
  return hostOs == 0 || hostOs == 5 || hostOs == 10 || hostOs == 11;
}

// A local or main header: the fields at their offsets counted from the id.
struct TArjHeader {
  uint16_t BasicSize = 0;
  uint8_t FirstSize = 0;
  uint8_t HostOs = 0;
  uint8_t Flags = 0;
  uint8_t Method = 0;
  uint8_t FileType = 0;
  uint32_t DosDateTime = 0;  // or Unix seconds, by the host system
  uint32_t PackedSize = 0;
  uint32_t UnpackedSize = 0;
  uint32_t Crc32 = 0;
  uint16_t AccessMode = 0;
  std::string Name;
  int64_t Next = 0;  // behind the header, its CRC and its extended headers (not the data)
};

// Reads the header at `position` into `buffer`; false when no valid header with a basic size above
// 0 is there (the end header included).
bool ReadArjHeader(TWalkStream& stream, int64_t position, std::vector<uint8_t>& buffer,
                   TArjHeader& header) {
  uint8_t prefix[kArjPrefixSize];
  if (stream.ReadAt(position, prefix, kArjPrefixSize) != kArjPrefixSize) return false;
  if (GetLe16(prefix) != kArjHeaderId) return false;
  header.BasicSize = GetLe16(prefix + 2);
  if (header.BasicSize == 0 || header.BasicSize > kArjMaxBasicSize) return false;
  const int32_t total = kArjPrefixSize + header.BasicSize;
  buffer.resize(static_cast<size_t>(total));
  if (stream.ReadAt(position, buffer.data(), total) != total) return false;
  const uint8_t* h = buffer.data();
  header.FirstSize = h[4];
  if (header.FirstSize < kArjMinFirstSize || header.FirstSize > header.BasicSize) return false;
  header.HostOs = h[7];
  header.Flags = h[8];
  header.Method = h[9];
  header.FileType = h[10];
  header.DosDateTime = GetLe32(h + 12);
  header.PackedSize = GetLe32(h + 16);
  header.UnpackedSize = GetLe32(h + 20);
  header.Crc32 = GetLe32(h + 24);
  header.AccessMode = GetLe16(h + 30);
  const int32_t nameStart = kArjPrefixSize + header.FirstSize;
  int32_t nameEnd = nameStart;
  while (nameEnd < total && h[nameEnd] != 0) ++nameEnd;
  header.Name.assign(reinterpret_cast<const char*>(h + nameStart),
                     static_cast<size_t>(nameEnd - nameStart));

  // Extended headers follow the basic header's CRC, each with its size, data and CRC, up to a
  // size of 0. They are stepped over by their sizes.
  int64_t next = position + total + kArjCrcSize;
  for (;;) {
    uint8_t size[2];
    if (stream.ReadAt(next, size, 2) != 2) return false;
    next += 2;
    const uint16_t extended = GetLe16(size);
    if (extended == 0) break;
    next += extended + kArjCrcSize;
  }
  header.Next = next;
  return true;
}

class TArjLister final : public TListerFormat {
 public:
  void FirstHeader(TArcovaWalk& walk) override {
    walk.RestartVolumes();  // a walk before this one may have moved the volume number on
    walk.SetHeaderSize(kArjPrefixSize);
    FBuffer.reserve(static_cast<size_t>(kArjPrefixSize + kArjMaxBasicSize));
    TArjHeader main;
    if (!ReadArjHeader(walk.Stream(), walk.StartOffset, FBuffer, main)) {
      walk.ReportError(walk.ArchiveFile(), kErrBadFileHeader);
      walk.ReadNothing();
      return;
    }
    walk.StartOffset = main.Next;
  }

  void Header(TArcovaWalk& walk) override {
    TArjHeader part;
    if (!ReadArjHeader(walk.Stream(), walk.HeaderStart, FBuffer, part)) {
      walk.EndWalk();  // the end header, or no header at all
      return;
    }
    SetName(walk, part);
    walk.FireReadFile();
    int64_t runningPacked = part.PackedSize;
    int64_t runningUnpacked = part.UnpackedSize;
    int64_t partStart = walk.HeaderStart;
    walk.CurrentOffset = part.Next + part.PackedSize;

    if (part.Flags & kArjFlagVolume) {
      // The member goes on in the next volume: follow it there, part by part.
      while (part.Flags & kArjFlagVolume) {
        if (!OpenNextVolume(walk)) return;
        TArjHeader main;
        if (!ReadArjHeader(walk.Stream(), 0, FBuffer, main) ||
            !ReadArjHeader(walk.Stream(), main.Next, FBuffer, part)) {
          walk.EndWalk();
          return;
        }
        runningPacked += part.PackedSize;
        runningUnpacked += part.UnpackedSize;
        partStart = main.Next;
        walk.CurrentOffset = part.Next + part.PackedSize;
      }
      SetName(walk, part);
    } else if (part.Flags & kArjFlagExtFile) {
      // The rest of a member whose start is in an earlier volume. (Only a set has such parts, also
      // where the main header of its last volume no longer says it is one.)
      return;
    }

    walk.ClearEntry();
    TArcovaEntry& entry = walk.Entry();
    entry.PackedSize = runningPacked;
    entry.UnpackedSize = runningUnpacked;
    entry.DosDateTime =
        ArjHostIsDos(part.HostOs) ? part.DosDateTime : UnixToDosDateTime(part.DosDateTime);
    entry.Crc32 = part.Crc32;
    entry.Method = part.Method;
    entry.Flags = part.Flags;
    entry.Attributes = part.AccessMode;
    entry.IsDirectory = part.FileType == kArjDirectory;
    entry.Encrypted = (part.Flags & 0x01) != 0;
    if (!walk.SimpleMatch(walk.FileName())) return;
    walk.ReportSelected(partStart, entry.IsDirectory, runningUnpacked, runningPacked);
  }

 private:
  static void SetName(TArcovaWalk& walk, const TArjHeader& header) {
    walk.SetFileName(header.Name, ArjHostIsDos(header.HostOs));
  }

  // Moves the walk to the next volume; without it the walk is cancelled.
  static bool OpenNextVolume(TArcovaWalk& walk) {
    if (!walk.NextVolume()) {
      walk.CancelWalk();
      walk.EndWalk();
      return false;
    }
    return true;
  }

  std::vector<uint8_t> FBuffer;  // the basic header being read, its id included
};

}  // namespace

std::unique_ptr<TListerFormat> CreateArjLister() {
  return std::make_unique<TArjLister>();
}
