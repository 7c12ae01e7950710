// The lister's reader for ARJ archives and their self-extracting form: the archive's main header,
// then one local header per member (id 0xEA60, basic header, its CRC, extended headers) followed by
// the member's data, up to the end header whose basic size is 0. A member that goes on in the next
// volume (.a01, .a02, ...) is followed there and listed once, where it ends, with the sizes of all
// its parts. Member data is skipped, never decoded.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/formats/arj_header.h"
#include "archive/formats/format_dates.h"
#include "archive/formats/lister_format.h"
#include "archive/records/arvZipRecs.h"

namespace {

static_assert(arj::kPrefixSize + arj::kMaxBasicSize <=
              TArcova::kArjHeaderBufferSize + arj::kPrefixSize);

class TArjLister final : public TListerFormat {
 public:
  void FirstHeader(TArcovaWalk& walk) override {
    walk.RestartVolumes();  // a walk before this one may have moved the volume number on
    walk.SetHeaderSize(arj::kPrefixSize);
    arj::THeader main;
    if (!arj::ReadHeader(walk.Stream(), walk.StartOffset, main)) {
      walk.ReportError(walk.ArchiveFile(), kErrBadFileHeader);
      walk.ReadNothing();
      return;
    }
    walk.StartOffset = main.Data;
  }

  void Header(TArcovaWalk& walk) override {
    arj::THeader part;
    if (!arj::ReadHeader(walk.Stream(), walk.HeaderStart, part)) {
      walk.EndWalk();  // the end header, or no header at all
      return;
    }
    SetName(walk, part);
    walk.FireReadFile();
    int64_t runningPacked = part.PackedSize;
    int64_t runningUnpacked = part.OriginalSize;
    int64_t partStart = walk.HeaderStart;
    walk.CurrentOffset = part.Data + part.PackedSize;

    if (part.Flags & arj::kFlagVolume) {
      // The member goes on in the next volume: follow it there, part by part.
      while (part.Flags & arj::kFlagVolume) {
        if (!OpenNextVolume(walk)) return;
        arj::THeader main;
        if (!arj::ReadHeader(walk.Stream(), 0, main) ||
            !arj::ReadHeader(walk.Stream(), main.Data, part)) {
          walk.EndWalk();
          return;
        }
        runningPacked += part.PackedSize;
        runningUnpacked += part.OriginalSize;
        partStart = main.Data;
        walk.CurrentOffset = part.Data + part.PackedSize;
      }
      SetName(walk, part);
    } else if (part.Flags & arj::kFlagExtFile) {
      // The rest of a member whose start is in an earlier volume. (Only a set has such parts, also
      // where the main header of its last volume no longer says it is one.)
      return;
    }

    walk.ClearEntry();
    TArcovaEntry& entry = walk.Entry();
    entry.PackedSize = runningPacked;
    entry.UnpackedSize = runningUnpacked;
    entry.DosDateTime =
        arj::HostIsDos(part.HostOs) ? part.Time : UnixToDosDateTime(part.Time);
    entry.Crc32 = part.Crc32;
    entry.Method = part.Method;
    entry.Flags = part.Flags;
    entry.Attributes = part.AccessMode;
    entry.IsDirectory = part.FileType == arj::kTypeDirectory;
    entry.Encrypted = (part.Flags & arj::kFlagGarbled) != 0;
    if (!walk.SimpleMatch(walk.FileName())) return;
    walk.ReportSelected(partStart, entry.IsDirectory, runningUnpacked, runningPacked);
  }

 private:
  static void SetName(TArcovaWalk& walk, const arj::THeader& header) {
    walk.SetFileName(header.Name, arj::HostIsDos(header.HostOs));
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
};

}  // namespace

std::unique_ptr<TListerFormat> CreateArjLister() {
  return std::make_unique<TArjLister>();
}
