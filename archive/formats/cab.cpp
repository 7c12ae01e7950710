// The lister's reader for Microsoft cabinets: the cabinet header (with its optional reserve areas
// and the names of the previous and next cabinets of a set), the folder records, then one file
// record per member. A set is followed from cabinet to cabinet through the names each one gives,
// asking OnNextVolume for every further cabinet; a member split over cabinets is listed once, in
// the cabinet where it ends. Folder data is never read beyond a header's worth.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/formats/lister_format.h"
#include "archive/records/arvZipRecs.h"

namespace {

// ---- the cabinet header -------------------------------------------------------------------------
constexpr int32_t kCabHeaderSize = 36;       // signature to cabinet index
constexpr int32_t kCabReserveSizesSize = 4;  // header reserve 2, folder reserve 1, data reserve 1
constexpr int32_t kCabFolderSize = 8;        // data offset 4, data blocks 2, compression 2
constexpr int32_t kCabDataHeaderSize = 8;    // checksum 4, packed 2, unpacked 2
constexpr int32_t kCabFileRecordSize = 16;   // size, offset, folder, date, time, attributes
constexpr uint16_t kCabFlagPrevious = 0x0001;
constexpr uint16_t kCabFlagNext = 0x0002;
constexpr uint16_t kCabFlagReserve = 0x0004;
// Folder indexes of members split over cabinets: those that go on in the next cabinet are listed
// there, where they end.
constexpr uint16_t kCabContinuedFromPrevious = 0xFFFD;
constexpr uint16_t kCabContinuedToNext = 0xFFFE;
constexpr uint16_t kCabContinuedBothWays = 0xFFFF;
constexpr uint16_t kCabAttributeDirectory = 0x10;
constexpr uint16_t kCabAttributeUtf8Name = 0x80;
constexpr size_t kMaxCabinets = 999;  // a set is never longer; a crafted one may name itself again

struct TCabinetHeader {
  uint32_t FilesOffset = 0;
  uint16_t FolderCount = 0;
  uint16_t FileCount = 0;
  uint16_t Flags = 0;
  std::string PreviousCabinet, PreviousDisk = "0";
  std::string NextCabinet, NextDisk = "0";
  std::vector<uint16_t> FolderMethods;  // compression type per folder
};

// Reads the header of the cabinet that starts at 0, its folder records and the first data-block
// header; false when the signature is wrong or anything of that cannot be read.
bool ReadCabinetHeader(TWalkStream& stream, TCabinetHeader& cabinet) {
  uint8_t h[kCabHeaderSize];
  if (stream.ReadAt(0, h, kCabHeaderSize) != kCabHeaderSize) return false;
  if (h[0] != 'M' || h[1] != 'S' || h[2] != 'C' || h[3] != 'F') return false;
  cabinet = TCabinetHeader{};
  cabinet.FilesOffset = GetLe32(h + 16);
  cabinet.FolderCount = GetLe16(h + 26);
  cabinet.FileCount = GetLe16(h + 28);
  cabinet.Flags = GetLe16(h + 30);
  int64_t position = kCabHeaderSize;
  int32_t folderReserve = 0;
  if (cabinet.Flags & kCabFlagReserve) {
    uint8_t sizes[kCabReserveSizesSize];
    if (stream.ReadAt(position, sizes, kCabReserveSizesSize) != kCabReserveSizesSize) return false;
    folderReserve = sizes[2];
    position += kCabReserveSizesSize + GetLe16(sizes);
  }
  if (cabinet.Flags & kCabFlagPrevious) {
    cabinet.PreviousCabinet = ReadZString(stream, position);
    cabinet.PreviousDisk = ReadZString(stream, position);
  }
  if (cabinet.Flags & kCabFlagNext) {
    cabinet.NextCabinet = ReadZString(stream, position);
    cabinet.NextDisk = ReadZString(stream, position);
  }
  cabinet.FolderMethods.reserve(cabinet.FolderCount);
  for (uint16_t i = 0; i < cabinet.FolderCount; ++i) {
    uint8_t folder[kCabFolderSize];
    if (stream.ReadAt(position, folder, kCabFolderSize) != kCabFolderSize) return false;
    if (i == 0) {
      uint8_t data[kCabDataHeaderSize];
      if (stream.ReadAt(GetLe32(folder), data, kCabDataHeaderSize) != kCabDataHeaderSize)
        return false;
    }
    cabinet.FolderMethods.push_back(GetLe16(folder + 6));
    position += kCabFolderSize + folderReserve;
  }
  return true;
}

// The folder part of a path ("" when it has none), separator included.
std::string DirectoryOf(const std::string& path) {
  const size_t cut = path.find_last_of("\\:");
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

class TCabLister final : public TListerFormat {
 public:
  void FirstHeader(TArcovaWalk& walk) override {
    walk.SetHeaderSize(kCabFileRecordSize);
    if (!ReadCabinetHeader(walk.Stream(), FCabinet)) {
      walk.ReportError(walk.ArchiveFile(), kErrBadFileHeader);
      walk.ReadNothing();
      return;
    }
    FVisited.assign(1, UpperCaseAscii(walk.VolumeName()));
    FRemaining = FCabinet.FileCount;
    walk.CurrentOffset = FCabinet.FilesOffset;
    if (FRemaining == 0) MoveToNextCabinet(walk);
    walk.StartOffset = walk.CurrentOffset;
  }

  void Header(TArcovaWalk& walk) override {
    const uint8_t* h = walk.Header();
    const uint32_t size = GetLe32(h);
    const uint16_t folder = GetLe16(h + 8);
    const uint16_t attributes = GetLe16(h + 14);
    int64_t position = walk.HeaderStart + kCabFileRecordSize;
    const std::string stored = ReadZString(walk.Stream(), position);
    walk.CurrentOffset = position;
    --FRemaining;

    walk.SetFileName(stored, (attributes & kCabAttributeUtf8Name) == 0);
    walk.ClearEntry();
    TArcovaEntry& entry = walk.Entry();
    entry.PackedSize = entry.UnpackedSize = size;
    entry.DosDateTime = static_cast<uint32_t>(GetLe16(h + 10)) << 16 | GetLe16(h + 12);
    entry.Attributes = attributes;
    entry.IsDirectory = (attributes & kCabAttributeDirectory) != 0;
    // A member continued from the previous cabinet lies in this one's first folder, one continued
    // in the next in its last.
    size_t folderIndex = folder;
    if (folder == kCabContinuedFromPrevious || folder == kCabContinuedBothWays) folderIndex = 0;
    if (folder == kCabContinuedToNext) folderIndex = FCabinet.FolderMethods.size() - 1;
    if (folderIndex < FCabinet.FolderMethods.size())
      entry.Method = FCabinet.FolderMethods[folderIndex];
    walk.FireReadFile();

    const bool endsLater = folder == kCabContinuedToNext || folder == kCabContinuedBothWays;
    if (!endsLater && walk.SimpleMatch(walk.FileName()))
      walk.ReportSelected(walk.HeaderStart, entry.IsDirectory, size, size);
    if (FRemaining == 0) MoveToNextCabinet(walk);
  }

 private:
  // The records of this cabinet are used up: on to the next cabinet of the set, or the end.
  void MoveToNextCabinet(TArcovaWalk& walk) {
    while (FRemaining == 0) {
      if (!(FCabinet.Flags & kCabFlagNext) || FCabinet.NextCabinet.empty()) {
        walk.EndWalk();
        return;
      }
      std::string path = DirectoryOf(walk.VolumeName()) + SlashToBackslash(FCabinet.NextCabinet);
      const std::string key = UpperCaseAscii(path);
      if (FVisited.size() >= kMaxCabinets ||
          std::find(FVisited.begin(), FVisited.end(), key) != FVisited.end()) {
        walk.EndWalk();  // the set names a cabinet already read
        return;
      }
      const std::string cabinetName = FCabinet.NextCabinet;
      const std::string diskName = FCabinet.NextDisk;
      if (!walk.AskNextVolume(path, diskName)) {
        walk.CancelWalk();
        walk.EndWalk();
        return;
      }
      auto stream = std::make_unique<TFileStream32>(path, host::fmOpenRead | host::fmShareDenyNone);
      if (stream->Handle() < 0) {
        walk.ReportError(path, kErrOpeningFile);
        walk.EndWalk();
        return;
      }
      walk.ArchiveSlot() = std::move(stream);
      walk.RefreshArchiveSize();
      walk.VolumeName() = path;
      FVisited.push_back(UpperCaseAscii(path));
      if (!ReadCabinetHeader(walk.Stream(), FCabinet)) {
        walk.ReportError(cabinetName, kErrBadFileHeader, diskName);
        walk.EndWalk();
        return;
      }
      FRemaining = FCabinet.FileCount;
      walk.CurrentOffset = FCabinet.FilesOffset;
    }
  }

  TCabinetHeader FCabinet;
  uint32_t FRemaining = 0;            // file records of this cabinet not read yet
  std::vector<std::string> FVisited;  // the cabinets read, upper-cased
};

}  // namespace

std::unique_ptr<TListerFormat> CreateCabLister() {
  return std::make_unique<TCabLister>();
}
