// The lister's reader for MsGZ archives: a 54-byte archive header that points to a table of
// directory names, then one 29-byte entry header per member, each naming its directory by index.
// Names are taken as stored, without character-set conversion. Member data is skipped.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "archive/formats/lister_format.h"
#include "archive/records/arvZipRecs.h"

namespace {

constexpr int32_t kArchiveHeaderSize = 54;
constexpr int kTableOffsetField = 41;  // 4 bytes in the archive header
constexpr int32_t kEntryHeaderSize = 29;
constexpr int32_t kTableRecordHead = 6;  // the second 16-bit word is the record's whole length
constexpr int32_t kTableEndBack = 4;     // the entries start this far before the table's end
// Entry header fields.
constexpr int kDirIndexOffset = 0;     // 2 bytes
constexpr int kUnpackedOffset = 2;     // 4 bytes
constexpr int kPackedOffset = 6;       // 4 bytes
constexpr int kDateTimeOffset = 14;    // 4 bytes, words swapped
constexpr int kAttributesOffset = 18;  // 4 bytes
constexpr int kEntryLengthOffset = 22;
constexpr int kNameLengthOffset = 28;
constexpr size_t kMaxDirectories = 65536;   // the index is 16 bits
constexpr size_t kMaxTableBytes = 1 << 20;  // folder names kept in all, whatever the table claims

class TMsGzLister final : public TListerFormat {
 public:
  void FirstHeader(TArcovaWalk& walk) override {
    walk.SetHeaderSize(kEntryHeaderSize);
    uint8_t header[kArchiveHeaderSize];
    if (walk.Stream().ReadAt(walk.StartOffset, header, kArchiveHeaderSize) != kArchiveHeaderSize) {
      walk.ReadNothing();
      return;
    }
    int64_t position = GetLe32(header + kTableOffsetField);
    if (position >= walk.ArchiveSize()) {
      walk.ReadNothing();
      return;
    }
    // Directory records until one of length 0; a record shorter than its head ends the table too.
    for (;;) {
      uint8_t head[kTableRecordHead];
      if (walk.Stream().ReadAt(position, head, kTableRecordHead) != kTableRecordHead) {
        walk.ReadNothing();
        return;
      }
      const uint16_t length = GetLe16(head + 2);
      if (length < kTableRecordHead || FDirectories.size() >= kMaxDirectories ||
          FTableBytes + length > kMaxTableBytes) {
        position += kTableRecordHead;
        break;
      }
      std::string name(length - kTableRecordHead, '\0');
      if (walk.Stream().ReadAt(position + kTableRecordHead, name.data(),
                               static_cast<int32_t>(name.size())) !=
          static_cast<int32_t>(name.size())) {
        walk.ReadNothing();
        return;
      }
      name.resize(std::strlen(name.c_str()));
      FTableBytes += length;
      FDirectories.push_back(std::move(name));
      position += length;
    }
    walk.StartOffset = position - kTableEndBack;
  }

  void Header(TArcovaWalk& walk) override {
    const uint8_t* h = walk.Header();
    const int64_t start = walk.HeaderStart;
    const uint16_t entryLength = GetLe16(h + kEntryLengthOffset);
    const uint8_t nameLength = h[kNameLengthOffset];
    if (entryLength < kEntryHeaderSize + nameLength) {
      walk.EndWalk();  // a header that would not advance past itself
      return;
    }
    std::string name(nameLength, '\0');
    if (walk.Stream().ReadAt(start + kEntryHeaderSize, name.data(), nameLength) != nameLength) {
      walk.EndWalk();
      return;
    }
    name.resize(std::strlen(name.c_str()));
    const uint16_t dirIndex = GetLe16(h + kDirIndexOffset);
    if (dirIndex < FDirectories.size() && !FDirectories[dirIndex].empty())
      name = FDirectories[dirIndex] + "\\" + name;
    walk.ClearEntry();
    walk.SetFileNameRaw(name);
    TArcovaEntry& entry = walk.Entry();
    entry.UnpackedSize = GetLe32(h + kUnpackedOffset);
    entry.PackedSize = GetLe32(h + kPackedOffset);
    entry.DosDateTime = SwapWords(GetLe32(h + kDateTimeOffset));
    entry.Attributes = GetLe32(h + kAttributesOffset);
    walk.CurrentOffset = start + entryLength;
    walk.FireReadFile();
    if (!walk.SimpleMatch(name)) return;
    walk.CountEntry();
    walk.AddSizes(entry.UnpackedSize, entry.PackedSize);
    walk.ReportEntry(start);
  }

 private:
  std::vector<std::string> FDirectories;
  size_t FTableBytes = 0;
};

}  // namespace

std::unique_ptr<TListerFormat> CreateMsGzLister() {
  return std::make_unique<TMsGzLister>();
}
