// The lister's reader for BH archives and their self-extracting form: a chain of 37-byte member
// headers, each starting with the signature "BH" 05 07 and followed by the member's name and its
// packed data. Member data is skipped, never decoded.
#include <cstdint>
#include <memory>
#include <string>

#include "archive/formats/lister_format.h"
#include "archive/records/arvZipRecs.h"

namespace {

constexpr int32_t kBhHeaderSize = 37;
constexpr uint8_t kBhSignature[4] = {'B', 'H', 0x05, 0x07};
constexpr uint8_t kBhFlagEncrypted = 0x01;
constexpr uint16_t kBhAttributeDirectory = 0x10;

class TBhLister final : public TListerFormat {
 public:
  void FirstHeader(TArcovaWalk& walk) override { walk.SetHeaderSize(kBhHeaderSize); }

  void Header(TArcovaWalk& walk) override {
    const uint8_t* h = walk.Header();
    if (h[0] != kBhSignature[0] || h[1] != kBhSignature[1] || h[2] != kBhSignature[2] ||
        h[3] != kBhSignature[3] || GetLe16(h + 4) == 0) {
      walk.EndWalk();
      return;
    }
    const uint8_t flags = h[9];
    const uint32_t packed = GetLe32(h + 15);
    const uint32_t unpacked = GetLe32(h + 19);
    const uint16_t attributes = GetLe16(h + 27);
    const uint8_t nameLength = h[33];
    int64_t position = walk.HeaderStart + kBhHeaderSize;
    if (position + nameLength > walk.ArchiveSize()) {
      walk.EndWalk();  // the name runs past the end of the file
      return;
    }
    const std::string stored = ReadFixedString(walk.Stream(), position, nameLength);
    walk.CurrentOffset = position + int64_t{packed};

    walk.SetFileName(stored);
    walk.ClearEntry();
    TArcovaEntry& entry = walk.Entry();
    entry.PackedSize = packed;
    entry.UnpackedSize = unpacked;
    entry.Flags = flags;
    entry.Method = h[10];
    entry.DosDateTime = GetLe32(h + 11);
    entry.Crc32 = GetLe32(h + 23);
    entry.Attributes = attributes;
    entry.IsDirectory = (attributes & kBhAttributeDirectory) != 0;
    entry.Encrypted = (flags & kBhFlagEncrypted) != 0;
    walk.FireReadFile();

    if (!walk.SimpleMatch(walk.FileName())) return;
    walk.ReportSelected(walk.HeaderStart, entry.IsDirectory, unpacked, packed);
  }
};

}  // namespace

std::unique_ptr<TListerFormat> CreateBhLister() {
  return std::make_unique<TBhLister>();
}
