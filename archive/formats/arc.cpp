// The lister's reader for ARC and PAK archives: a chain of 29-byte member headers, each marked
// 0x1A and followed by the member's packed data. ARC's subdirectories (method 30) open a folder
// whose members follow; method 31 closes it again. Member data is skipped, never decoded.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/formats/lister_format.h"
#include "archive/records/arvZipRecs.h"

namespace {

// ---- the member header --------------------------------------------------------------------------
constexpr int32_t kArcHeaderSize = 29;  // mark, method, name 13, packed 4, date, time, CRC, size 4
constexpr int32_t kArcOldHeaderSize = 25;  // method 1 records no unpacked size
constexpr int32_t kArcNameSize = 13;
constexpr uint8_t kArcMark = 0x1A;
constexpr uint8_t kArcEnd = 0;               // 1A 00 closes the archive
constexpr uint8_t kArcOldStored = 1;         // the oldest form of a stored member
constexpr uint8_t kArcSubdirectory = 30;     // opens a folder
constexpr uint8_t kArcSubdirectoryEnd = 31;  // closes the innermost open folder
// Folders nest by their names, which take 13 bytes each; deeper than this no real archive goes,
// and it keeps the prefix bounded in a crafted one.
constexpr size_t kMaxArcDepth = 64;

struct TArcHeader {
  uint8_t Method = 0;
  std::string Name;  // as stored, up to its first zero byte
  uint32_t PackedSize = 0;
  uint32_t UnpackedSize = 0;
  uint32_t DosDateTime = 0;
  uint16_t Crc16 = 0;
  int32_t Size = kArcHeaderSize;  // what the header takes in the file

  static TArcHeader Decode(const uint8_t* h) {
    TArcHeader r;
    r.Method = h[1];
    size_t length = 0;
    while (length < kArcNameSize && h[2 + length] != 0) ++length;
    r.Name.assign(reinterpret_cast<const char*>(h + 2), length);
    r.PackedSize = GetLe32(h + 15);
    r.DosDateTime = static_cast<uint32_t>(GetLe16(h + 19)) << 16 | GetLe16(h + 21);
    r.Crc16 = GetLe16(h + 23);
    if (r.Method == kArcOldStored) {
      r.Size = kArcOldHeaderSize;
      r.UnpackedSize = r.PackedSize;
    } else {
      r.UnpackedSize = GetLe32(h + 25);
    }
    return r;
  }
};

class TArcLister final : public TListerFormat {
 public:
  explicit TArcLister(bool pak) : FPak(pak) {}

  void FirstHeader(TArcovaWalk& walk) override {
    walk.SetHeaderSize(kArcHeaderSize);
    FFolders.clear();
  }

  void Header(TArcovaWalk& walk) override {
    const uint8_t* h = walk.Header();
    if (h[0] != kArcMark || h[1] == kArcEnd) {
      walk.EndWalk();
      return;
    }
    const TArcHeader header = TArcHeader::Decode(h);
    if (!FPak && header.Method == kArcSubdirectoryEnd) {
      // The folder's members are done; an end with no folder open is the end of the archive.
      if (FFolders.empty()) {
        walk.EndWalk();
      } else {
        FFolders.pop_back();
        walk.CurrentOffset = walk.HeaderStart + 2;
      }
      return;
    }

    const bool folder = !FPak && header.Method == kArcSubdirectory;
    if (folder) {
      if (FFolders.size() >= kMaxArcDepth) {
        walk.EndWalk();
        return;
      }
      FFolders.push_back(header.Name);
    }
    std::string stored;
    for (const std::string& name : FFolders) stored += name + '\\';
    if (!folder) stored += header.Name;
    walk.SetFileName(stored);

    walk.ClearEntry();
    TArcovaEntry& entry = walk.Entry();
    entry.Method = header.Method;
    entry.IsDirectory = folder;
    entry.DosDateTime = header.DosDateTime;
    entry.Crc32 = header.Crc16;
    if (!folder) {
      entry.PackedSize = header.PackedSize;
      entry.UnpackedSize = header.UnpackedSize;
    }
    walk.FireReadFile();

    if (walk.SimpleMatch(walk.FileName()))
      walk.ReportSelected(walk.HeaderStart, folder, entry.UnpackedSize, entry.PackedSize);
    // A folder's members follow its header directly.
    walk.CurrentOffset = walk.HeaderStart + header.Size + (folder ? 0 : header.PackedSize);
  }

 private:
  bool FPak;
  std::vector<std::string> FFolders;  // the open subdirectories, outermost first
};

}  // namespace

std::unique_ptr<TListerFormat> CreateArcLister() {
  return std::make_unique<TArcLister>(false);
}

std::unique_ptr<TListerFormat> CreatePakLister() {
  return std::make_unique<TArcLister>(true);
}
