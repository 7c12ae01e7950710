// The lister's reader for HA archives: "HA", a 2-byte member count, then per member a header
// (version and method, sizes, CRC-32, Unix time), the zero-terminated path and name, a block of
// machine-specific information with its own length byte, and the packed data. The walk keeps its
// offset one byte before each member header. Member data is skipped, never decoded.
#include <cstdint>
#include <memory>
#include <string>

#include "archive/formats/format_dates.h"
#include "archive/formats/lister_format.h"
#include "archive/records/arvZipRecs.h"

namespace {

constexpr int64_t kHaFirstOffset = 3;  // one byte before the first header, behind "HA" and count
constexpr int32_t kHaHeaderSize = 18;  // that byte, version and method, 4 sizes and CRC and time
constexpr uint8_t kHaMethodDirectory = 14;
constexpr uint8_t kHaPathSeparator = 0xFF;  // HA writes folder separators as 0xFF

class THaLister final : public TListerFormat {
 public:
  void FirstHeader(TArcovaWalk& walk) override {
    walk.SetHeaderSize(kHaHeaderSize);
    walk.StartOffset = kHaFirstOffset;
  }

  void Header(TArcovaWalk& walk) override {
    const uint8_t* h = walk.Header();
    const uint8_t method = h[1] & 0x0F;
    const uint32_t packed = GetLe32(h + 2);
    const uint32_t unpacked = GetLe32(h + 6);
    const uint32_t crc = GetLe32(h + 10);
    const uint32_t unixTime = GetLe32(h + 14);

    int64_t position = walk.HeaderStart + kHaHeaderSize;
    std::string path = ReadZString(walk.Stream(), position);
    const std::string name = ReadZString(walk.Stream(), position);
    // The machine-specific block: its length byte, then that many bytes (2 from DOS, 7 from Unix).
    uint8_t machineLength = 0;
    if (walk.Stream().ReadAt(position, &machineLength, 1) != 1) {
      walk.EndWalk();
      return;
    }
    // The next header starts behind the block and the data; the walk stands one byte before it.
    walk.CurrentOffset = position + machineLength + int64_t{packed};

    for (char& c : path) {
      if (static_cast<uint8_t>(c) == kHaPathSeparator) c = '\\';
    }
    walk.SetFileName(path + name);
    walk.ClearEntry();
    TArcovaEntry& entry = walk.Entry();
    entry.PackedSize = packed;
    entry.UnpackedSize = unpacked;
    entry.Crc32 = crc;
    entry.Method = method;
    entry.DosDateTime = UnixToDosDateTime(unixTime);
    entry.IsDirectory = method == kHaMethodDirectory;
    walk.FireReadFile();

    if (!walk.SimpleMatch(walk.FileName())) return;
    walk.ReportSelected(walk.HeaderStart + 1, entry.IsDirectory, unpacked, packed);
  }
};

}  // namespace

std::unique_ptr<TListerFormat> CreateHaLister() {
  return std::make_unique<THaLister>();
}
