// The lister's reader for RAR 5 archives: after the 8-byte marker, blocks whose sizes and fields
// are variable-length integers (7 bits a byte, low groups first). File headers are listed, service
// headers (comments, streams, access lists) and the archive header are skipped; a file continued
// on the next volume is followed there and counted once, where it ends. A file's time is the one
// of its extra area's time record when there is one (to the 100 ns or the nanosecond), else its
// header's Unix seconds. An archive whose headers are encrypted reports that a password is needed.
// Member data is never read.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "archive/formats/format_dates.h"
#include "archive/formats/lister_format.h"
#include "archive/formats/rar.h"
#include "archive/records/arvZipRecs.h"

namespace {

constexpr uint8_t kMarker[8] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x01, 0x00};
constexpr int32_t kMarkerSize = 8;
// The least a block can be: CRC-32 (4), header size, type and flags (1 byte each at least).
constexpr int32_t kLeastBlock = 7;
constexpr uint64_t kMaxHeaderSize = 2 * 1024 * 1024;  // larger headers are not written
static_assert(kLeastBlock <= TWalkStream::kWindowSize);
// Block types.
constexpr uint64_t kTypeMain = 1;
constexpr uint64_t kTypeFile = 2;
constexpr uint64_t kTypeService = 3;
constexpr uint64_t kTypeEncryption = 4;
constexpr uint64_t kTypeEnd = 5;
// Flags of every block.
constexpr uint64_t kHasExtra = 0x0001;
constexpr uint64_t kHasData = 0x0002;
constexpr uint64_t kSplitBefore = 0x0008;
constexpr uint64_t kSplitAfter = 0x0010;
// File header flags.
constexpr uint64_t kFileDirectory = 0x0001;
constexpr uint64_t kFileTime = 0x0002;
constexpr uint64_t kFileCrc = 0x0004;
constexpr uint64_t kHostWindows = 0;
// The extra area's time record: flags, then the times they announce (modification, creation,
// access, in that order), each a Windows file time of 8 bytes or Unix seconds of 4; with
// kTimeUnixNanos the nanoseconds of the Unix times follow all of them, in the same order.
constexpr uint64_t kExtraTime = 3;
constexpr uint64_t kTimeUnix = 0x0001;
constexpr uint64_t kTimeModified = 0x0002;
constexpr uint64_t kTimeCreated = 0x0004;
constexpr uint64_t kTimeAccessed = 0x0008;
constexpr uint64_t kTimeUnixNanos = 0x0010;
constexpr uint64_t kFileTimeTicksPerSecond = 10000000;  // 100 ns
constexpr int64_t kFileTimeToUnix = 11644473600;        // seconds from 1601-01-01 to 1970-01-01

// Reads variable-length integers and fixed fields from a header held in memory; every read past
// its end leaves the reader failed (and returns 0).
class TFieldReader {
 public:
  TFieldReader(const uint8_t* data, size_t size) : FData(data), FSize(size) {}
  uint64_t Vint() {
    uint64_t value = 0;
    for (int shift = 0; shift < 70; shift += 7) {
      if (FPos >= FSize) break;
      const uint8_t b = FData[FPos++];
      if (shift < 64) value |= static_cast<uint64_t>(b & 0x7F) << shift;
      if (!(b & 0x80)) return value;
    }
    FFailed = true;
    return 0;
  }
  uint32_t U32() {
    if (FSize - FPos < 4 || FPos > FSize) {
      FFailed = true;
      return 0;
    }
    FPos += 4;
    return GetLe32(FData + FPos - 4);
  }
  uint64_t U64() {
    const uint64_t low = U32();
    return low | static_cast<uint64_t>(U32()) << 32;
  }
  const uint8_t* Bytes(uint64_t count) {
    if (count > FSize - FPos) {
      FFailed = true;
      return nullptr;
    }
    FPos += static_cast<size_t>(count);
    return FData + FPos - count;
  }
  size_t Position() const { return FPos; }
  bool Failed() const { return FFailed; }

 private:
  const uint8_t* FData;
  size_t FSize;
  size_t FPos = 0;
  bool FFailed = false;
};

class TRar5Lister final : public TListerFormat {
 public:
  void FirstHeader(TArcovaWalk& walk) override {
    walk.SetHeaderSize(kLeastBlock);
    if (!SkipMarker(walk, walk.StartOffset)) walk.ReadNothing();
  }
  void Header(TArcovaWalk& walk) override;

 private:
  bool SkipMarker(TArcovaWalk& walk, int64_t position) {
    uint8_t marker[kMarkerSize];
    if (walk.Stream().ReadAt(position, marker, kMarkerSize) != kMarkerSize ||
        std::memcmp(marker, kMarker, kMarkerSize) != 0) {
      walk.ReportError(walk.VolumeName(), kErrBadFileHeader);
      return false;
    }
    walk.StartOffset = walk.CurrentOffset = position + kMarkerSize;
    return true;
  }
  // `extra`: the header's extra area (nullptr when it has none or it lies beyond what was read).
  void FileHeader(TArcovaWalk& walk, TFieldReader& fields, uint64_t blockFlags, uint64_t dataSize,
                  const uint8_t* extra, size_t extraSize);

  int64_t FRunningPacked = 0;
  int FVolumeIndex = 0;
};

void TRar5Lister::Header(TArcovaWalk& walk) {
  const int64_t start = walk.HeaderStart;
  // CRC-32, then the header size: the bytes from the type field to the header's end.
  uint8_t sizeBytes[14];
  const int32_t have = walk.Stream().ReadAt(start + 4, sizeBytes, sizeof sizeBytes);
  TFieldReader sizeField(sizeBytes, static_cast<size_t>(std::max(have, 0)));
  const uint64_t headerSize = sizeField.Vint();
  if (sizeField.Failed() || headerSize == 0 || headerSize > kMaxHeaderSize ||
      static_cast<int64_t>(4 + sizeField.Position() + headerSize) > walk.ArchiveSize() - start) {
    walk.EndWalk();
    return;
  }
  const int64_t headerStart = start + 4 + static_cast<int64_t>(sizeField.Position());
  // Only the fields up to the name are needed; a header larger than the window is cut there.
  const int32_t want =
      static_cast<int32_t>(std::min<uint64_t>(headerSize, TWalkStream::kWindowSize));
  int32_t got = 0;
  const uint8_t* header = walk.Stream().Peek(headerStart, want, got);
  if (!header || got != want) {
    walk.EndWalk();
    return;
  }
  TFieldReader fields(header, static_cast<size_t>(got));
  const uint64_t type = fields.Vint();
  const uint64_t flags = fields.Vint();
  const uint64_t extraSize = (flags & kHasExtra) ? fields.Vint() : 0;
  const uint64_t dataSize = (flags & kHasData) ? fields.Vint() : 0;
  const int64_t headerEnd = headerStart + static_cast<int64_t>(headerSize);
  if (fields.Failed() || dataSize > static_cast<uint64_t>(INT64_MAX - headerEnd)) {
    walk.EndWalk();
    return;
  }
  walk.CurrentOffset = headerEnd + static_cast<int64_t>(dataSize);
  // The extra area closes the header.
  const bool extraRead = extraSize != 0 && extraSize <= headerSize && headerSize <= uint64_t(got);
  const uint8_t* extra = extraRead ? header + (headerSize - extraSize) : nullptr;

  switch (type) {
    case kTypeFile:
      FileHeader(walk, fields, flags, dataSize, extra, extraRead ? extraSize : 0);
      break;
    case kTypeEncryption:
      // Everything behind this block is encrypted: only a password would show the names.
      walk.ReportError(walk.VolumeName(), rar::kErrPasswordProtected);
      walk.EndWalk();
      break;
    case kTypeEnd:
      walk.EndWalk();  // a file continued on the next volume was followed from its header
      break;
    case kTypeMain:
    case kTypeService:
    default:
      break;  // skipped by its sizes
  }
}

// The modification time of an extra area's time record; Valid false without one.
TExactTime ExtraAreaTime(const uint8_t* extra, size_t size) {
  TFieldReader records(extra, size);
  while (!records.Failed() && records.Position() < size) {
    const uint64_t recordSize = records.Vint();
    const uint8_t* record = records.Bytes(recordSize);
    if (!record) break;
    TFieldReader fields(record, static_cast<size_t>(recordSize));
    if (fields.Vint() != kExtraTime) continue;
    const uint64_t flags = fields.Vint();
    if (!(flags & kTimeModified)) continue;
    TExactTime time;
    if (flags & kTimeUnix) {
      time.Seconds = static_cast<int32_t>(fields.U32());
      // The nanoseconds come behind every time the record holds.
      const int others = ((flags & kTimeCreated) ? 1 : 0) + ((flags & kTimeAccessed) ? 1 : 0);
      for (int i = 0; i < others; ++i) fields.U32();
      if (flags & kTimeUnixNanos) time.Nanoseconds = std::min(fields.U32(), 999999999u);
    } else {
      const uint64_t ticks = fields.U64();
      if (ticks == 0) continue;  // not set
      time.Seconds = static_cast<int64_t>(ticks / kFileTimeTicksPerSecond) - kFileTimeToUnix;
      time.Nanoseconds = static_cast<uint32_t>(ticks % kFileTimeTicksPerSecond) * 100;
    }
    if (fields.Failed()) continue;
    time.Valid = true;
    return time;
  }
  return {};
}

void TRar5Lister::FileHeader(TArcovaWalk& walk, TFieldReader& fields, uint64_t blockFlags,
                             uint64_t dataSize, const uint8_t* extra, size_t extraSize) {
  const int64_t start = walk.HeaderStart;
  const uint64_t fileFlags = fields.Vint();
  const uint64_t unpacked = fields.Vint();
  const uint64_t attributes = fields.Vint();
  const uint32_t modTime = (fileFlags & kFileTime) ? fields.U32() : 0;
  const uint32_t crc = (fileFlags & kFileCrc) ? fields.U32() : 0;
  const uint64_t compression = fields.Vint();
  const uint64_t hostOs = fields.Vint();
  const uint64_t nameLength = fields.Vint();
  const uint8_t* name = fields.Bytes(nameLength);
  if (fields.Failed() || nameLength == 0) {
    walk.EndWalk();
    return;
  }
  walk.ClearEntry();
  walk.SetFileName(std::string(reinterpret_cast<const char*>(name), nameLength), false);
  const bool directory = (fileFlags & kFileDirectory) != 0;
  if (directory && walk.FileName().back() != '\\') walk.SetFileNameRaw(walk.FileName() + "\\");
  walk.FireReadFile();

  TArcovaEntry& entry = walk.Entry();
  const auto clamp = [](uint64_t v) {
    return static_cast<int64_t>(std::min<uint64_t>(v, INT64_MAX));
  };
  entry.UnpackedSize = clamp(unpacked);
  entry.Crc32 = crc;
  if (fileFlags & kFileTime) {
    entry.DosDateTime = UnixToDosDateTime(modTime);
    entry.ExactTime = {true, static_cast<int64_t>(modTime), 0};
  }
  if (extra) {
    if (const TExactTime time = ExtraAreaTime(extra, extraSize); time.Valid) {
      entry.ExactTime = time;
      if (time.Seconds >= 0 && time.Seconds <= INT32_MAX)
        entry.DosDateTime = UnixToDosDateTime(static_cast<uint32_t>(time.Seconds));
    }
  }
  entry.Method = '0' + static_cast<uint32_t>((compression >> 7) & 7);
  entry.Flags = static_cast<uint32_t>(blockFlags);
  entry.Attributes = hostOs == kHostWindows ? static_cast<uint32_t>(attributes) : 0x20;
  if (directory) entry.Attributes |= 0x10;
  entry.IsDirectory = directory;

  const int64_t packed = clamp(dataSize);
  FRunningPacked = (blockFlags & kSplitBefore) ? SaturatingAdd(FRunningPacked, packed) : packed;
  entry.PackedSize = FRunningPacked;

  // Counted in the volume where it ends.
  const auto readStart = [this](TArcovaWalk& w, int64_t position) { return SkipMarker(w, position); };
  if ((blockFlags & kSplitAfter) && rar::FollowSplitFile(walk, FVolumeIndex, readStart)) return;

  rar::ReportFileEntry(walk, start, directory, entry.UnpackedSize, FRunningPacked);
}

}  // namespace

std::unique_ptr<TListerFormat> CreateRar5Lister() {
  return std::make_unique<TRar5Lister>();
}
