// The lister's reader for ZOO archives: the archive header at the start names the first directory
// entry; each directory entry names the next one, and an entry whose next offset is 0 closes the
// chain (it is no member). Entries of the newer form may carry a long name and a folder behind the
// fixed fields. Member data is never read.
#include <cstdint>
#include <memory>
#include <string>

#include "archive/formats/lister_format.h"
#include "archive/records/arvZipRecs.h"

namespace {

constexpr int32_t kZooEntrySize = 58;  // the fixed fields of a directory entry with its lengths
constexpr int32_t kZooNameSize = 13;
constexpr uint8_t kZooLongEntryType = 2;  // entries that may carry a long name and a folder

class TZooLister final : public TListerFormat {
 public:
  void FirstHeader(TArcovaWalk& walk) override {
    walk.SetHeaderSize(kZooEntrySize);
    FArchiveHeaderDone = false;
  }

  void Header(TArcovaWalk& walk) override {
    const uint8_t* h = walk.Header();
    if (!FArchiveHeaderDone) {
      // The archive header holds the first entry's offset twice, the second time negated.
      const uint32_t first = GetLe32(h + 24);
      const uint32_t negated = GetLe32(h + 28);
      if (static_cast<uint32_t>(first + negated) != 0) {
        walk.EndWalk();
        return;
      }
      FArchiveHeaderDone = true;
      walk.CurrentOffset = first;
      if (walk.CurrentOffset <= walk.HeaderStart) walk.EndWalk();
      return;
    }

    const auto next = static_cast<int32_t>(GetLe32(h + 6));
    if (next <= 0) {  // the closing entry
      walk.EndWalk();
      return;
    }
    walk.CurrentOffset = next;

    const uint8_t type = h[4];
    const bool deleted = h[30] != 0;
    size_t shortLength = 0;
    while (shortLength < kZooNameSize && h[38 + shortLength] != 0) ++shortLength;
    std::string stored(reinterpret_cast<const char*>(h + 38), shortLength);
    if (type == kZooLongEntryType && GetLe16(h + 51) != 0) {
      // The variable part: the long name, then the folder.
      const uint8_t nameLength = h[56];
      const uint8_t folderLength = h[57];
      std::string variable(static_cast<size_t>(nameLength + folderLength), '\0');
      const int32_t got = walk.Stream().ReadAt(walk.HeaderStart + kZooEntrySize, variable.data(),
                                               nameLength + folderLength);
      if (got != nameLength + folderLength) {
        walk.EndWalk();  // the entry runs past the end of the file
        return;
      }
      {
        std::string longName = CutAtZero(variable.substr(0, nameLength));
        std::string folder = CutAtZero(variable.substr(nameLength));
        if (!longName.empty()) stored = longName;
        while (!folder.empty() && (folder.back() == '/' || folder.back() == '\\'))
          folder.pop_back();
        if (!folder.empty()) stored = folder + '/' + stored;
      }
    }
    walk.SetFileName(stored);
    walk.ClearEntry();
    TArcovaEntry& entry = walk.Entry();
    entry.Method = h[5];
    entry.DosDateTime = static_cast<uint32_t>(GetLe16(h + 14)) << 16 | GetLe16(h + 16);
    entry.Crc32 = GetLe16(h + 18);
    entry.UnpackedSize = GetLe32(h + 20);
    entry.PackedSize = GetLe32(h + 24);
    walk.FireReadFile();

    // A deleted entry stays in the chain until the archive is packed; it is no member any more.
    if (deleted || !walk.SimpleMatch(walk.FileName())) return;
    walk.CountEntry();
    walk.AddSizes(entry.UnpackedSize, entry.PackedSize);
    walk.ReportEntry(walk.HeaderStart);
  }

 private:
  static std::string CutAtZero(std::string text) {
    const size_t zero = text.find('\0');
    if (zero != std::string::npos) text.resize(zero);
    return text;
  }

  bool FArchiveHeaderDone = false;
};

}  // namespace

std::unique_ptr<TListerFormat> CreateZooLister() {
  return std::make_unique<TZooLister>();
}
