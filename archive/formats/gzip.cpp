// The lister's reader for the GZIP family: gzip (1F 8B and the old 1F 9E), pack (1F 1E), compress
// (1F 9D) and SCO compress (1F A0). Such a file holds one member: its name is the stored name when
// there is one, else the file's own base name; its sizes come from the trailer (gzip) or the file
// size. A gzip whose data is a TAR is listed entry by entry instead (tgz.cpp).
#include "archive/formats/gzip.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "archive/formats/format_dates.h"
#include "archive/formats/lister_format.h"
#include "archive/records/arvZipRecs.h"

namespace gzip {

namespace {

constexpr int32_t kCrcAndSize = 8;  // gzip trailer: CRC-32 and unpacked size (mod 2^32)
constexpr int32_t kCompressOverhead = 10;
constexpr uint8_t kOsUnix = 3;

// A zero-terminated string at `position`, at most `keep` bytes kept; `position` moves past its
// zero byte. False when no zero byte comes before `fileSize` (or within 64 KiB).
bool ReadZeroTerminated(TWalkStream& stream, int64_t& position, int64_t fileSize, size_t keep,
                        std::string& text) {
  constexpr int32_t kLongest = 65536;
  int32_t got = 0;
  const int32_t want = static_cast<int32_t>(std::min<int64_t>(kLongest, fileSize - position));
  if (want <= 0) return false;
  const uint8_t* bytes = stream.Peek(position, want, got);
  if (!bytes) return false;
  const auto* zero = static_cast<const uint8_t*>(std::memchr(bytes, 0, static_cast<size_t>(got)));
  if (!zero) return false;
  const size_t length = static_cast<size_t>(zero - bytes);
  text.assign(reinterpret_cast<const char*>(bytes), std::min(length, keep));
  position += static_cast<int64_t>(length) + 1;
  return true;
}

}  // namespace

bool ReadHeader(TWalkStream& stream, int64_t position, int64_t fileSize, THeaderInfo& info) {
  info = THeaderInfo{};
  uint8_t h[kHeaderSize];
  if (position < 0 || fileSize - position < kHeaderSize ||
      stream.ReadAt(position, h, kHeaderSize) != kHeaderSize)
    return false;
  info.Magic = GetLe16(h);
  if (!IsGZipMagic(info.Magic)) return false;
  info.Method = h[2];
  info.Flags = h[3];
  info.ModTime = GetLe32(h + 4);
  info.Os = h[9];
  int64_t pos = position + kHeaderSize;
  if (info.Magic == kMagicGzip || info.Magic == kMagicOldGzip) {
    if (info.Flags & kFlagExtra) {
      uint8_t x[2];
      if (stream.ReadAt(pos, x, 2) != 2) return false;
      pos += 2 + GetLe16(x);
    }
    std::string text;
    if (info.Flags & kFlagName) {
      if (!ReadZeroTerminated(stream, pos, fileSize, kMaxStoredName, text)) return false;
      info.HasName = true;
      info.Name = text;
    }
    if (info.Flags & kFlagComment) {
      if (!ReadZeroTerminated(stream, pos, fileSize, 0, text)) return false;
    }
    if (info.Flags & kFlagHeaderCrc) pos += 2;
  }
  if (pos > fileSize) return false;
  info.DataStart = pos;
  return true;
}

namespace {

class TGzipLister final : public TListerFormat {
 public:
  explicit TGzipLister(bool tarOnly) : FTarOnly(tarOnly) {}

  void FirstHeader(TArcovaWalk& walk) override { walk.SetHeaderSize(kHeaderSize); }

  void Header(TArcovaWalk& walk) override {
    const int64_t fileSize = walk.ArchiveSize();
    THeaderInfo info;
    const bool known = ReadHeader(walk.Stream(), walk.HeaderStart, fileSize, info);
    walk.EndWalk();  // one member per file, whatever follows
    if (!IsGZipMagic(GetLe16(walk.Header()))) return;
    const bool gzip = info.Magic == kMagicGzip || info.Magic == kMagicOldGzip;
    if (known && info.Magic == kMagicGzip && info.Method == kMethodDeflate &&
        tgz::ListTar(walk, info))
      return;
    if (FTarOnly) return;

    const uint8_t* h = walk.Header();
    const uint8_t flags = h[3];
    walk.ClearEntry();
    if (gzip && (flags & kFlagName) && known) {
      walk.SetFileName(info.Name, h[9] != kOsUnix);
    } else {
      const std::string& archive = walk.ArchiveFile();
      const size_t cut = archive.find_last_of("\\:");
      const std::string file = cut == std::string::npos ? archive : archive.substr(cut + 1);
      walk.SetFileNameRaw(file.substr(0, static_cast<size_t>(BaseNameLength(file.c_str()))));
    }
    int64_t packed = 0;
    int64_t unpacked = 0;
    if (gzip) {
      packed = std::max<int64_t>(fileSize - kCrcAndSize, 0);
      uint8_t trailer[kCrcAndSize];
      if (fileSize >= kHeaderSize + kCrcAndSize &&
          walk.Stream().ReadAt(fileSize - kCrcAndSize, trailer, kCrcAndSize) == kCrcAndSize) {
        walk.Entry().Crc32 = GetLe32(trailer);
        unpacked = GetLe32(trailer + 4);
      }
    } else {
      packed = unpacked = std::max<int64_t>(fileSize - kCompressOverhead, 0);
    }
    unpacked = std::max(unpacked, packed);
    TArcovaEntry& entry = walk.Entry();
    entry.PackedSize = packed;
    entry.UnpackedSize = unpacked;
    entry.Method = h[2];
    if (gzip && GetLe32(h + 4) != 0) entry.DosDateTime = UnixToDosDateTime(GetLe32(h + 4));
    entry.Flags = flags;
    entry.Encrypted = (flags & kFlagEncrypted) != 0;
    entry.Attributes = 0x20;
    walk.CountEntry();
    walk.AddSizes(unpacked, packed);
    walk.FireReadFile();
    walk.ReportEntry(walk.HeaderStart);  // a single member: FileSpec does not apply
  }

 private:
  bool FTarOnly;
};

}  // namespace

}  // namespace gzip

std::unique_ptr<TListerFormat> CreateGzipLister() {
  return std::make_unique<gzip::TGzipLister>(false);
}

std::unique_ptr<TListerFormat> CreateTarGzipLister() {
  return std::make_unique<gzip::TGzipLister>(true);
}
