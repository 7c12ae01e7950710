// The zip records: signature test, field-by-field decoding of the fixed records, enciphered
// headers, stored names, the extra fields and the central-directory locator, and where a member
// read through its local header alone ends (which, for a member whose sizes follow its data, means
// inflating it: the one place records use a codec). Reading only; the walk over the members is
// the zip directory reader's (arvZipDir).
#include "archive/records/arvZipRecs.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <tuple>
#include <type_traits>
#include <vector>

#include "archive/codecs/arvInflate.h"
#include "archive/common/arvGbls.h"
#include "archive/common/arvStreams.h"

// ---- signatures ---------------------------------------------------------------------------------
TZipSignature ClassifyZipSignature(uint32_t value, TZipRecordKind kind) {
  TZipSignature s;
  switch (kind) {
    case TZipRecordKind::Local:
      s.Valid = value == kLocalSig || value == kLocalSigAlt || value == kLocalSigCiph ||
                value == kLocalSigCiphAlt;
      s.Enciphered = value == kLocalSigCiph || value == kLocalSigCiphAlt;
      break;
    case TZipRecordKind::Central:
      s.Valid = value == kCentralSig || value == kCentralSigAlt || value == kCentralSigCiph ||
                value == kCentralSigCiphAlt;
      s.Enciphered = value == kCentralSigCiph || value == kCentralSigCiphAlt;
      break;
    case TZipRecordKind::End:
      s.Valid =
          value == kEndSig || value == kEndSigCiph || value == kEndSigEx || value == kEndSigExCiph;
      s.Enciphered = value == kEndSigCiph || value == kEndSigExCiph;
      s.Extended = value == kEndSigEx || value == kEndSigExCiph;
      break;
  }
  return s;
}

// ---- records ------------------------------------------------------------------------------------
// Each fixed record is one table of its fields (the member, and the offset where its
// little-endian bytes lie; the width is the member's): decoding and encoding read the same table,
// so they cannot disagree, and a table that does not fill its record exactly fails to compile.
namespace {

template <class R, class T>
struct TRecordField {
  using Type = T;
  T R::*Member;
  size_t Offset;
};
template <class R, class T>
TRecordField(T R::*, size_t) -> TRecordField<R, T>;

template <class T>
T GetLe(const uint8_t* p) {
  static_assert(sizeof(T) == 2 || sizeof(T) == 4 || sizeof(T) == 8);
  if constexpr (sizeof(T) == 2) return GetLe16(p);
  if constexpr (sizeof(T) == 4) return GetLe32(p);
  if constexpr (sizeof(T) == 8) return GetLe64(p);
}

template <class T>
void PutLe(uint8_t* p, T value) {
  static_assert(sizeof(T) == 2 || sizeof(T) == 4 || sizeof(T) == 8);
  if constexpr (sizeof(T) == 2) PutLe16(p, value);
  if constexpr (sizeof(T) == 4) PutLe32(p, value);
  if constexpr (sizeof(T) == 8) PutLe64(p, value);
}

template <class R, class Layout>
void DecodeFields(R& record, const uint8_t* bytes, const Layout& layout) {
  std::apply(
      [&](const auto&... field) {
        ((record.*field.Member =
              GetLe<typename std::decay_t<decltype(field)>::Type>(bytes + field.Offset)),
         ...);
      },
      layout);
}

template <class R, class Layout>
void EncodeFields(const R& record, uint8_t* bytes, const Layout& layout) {
  std::apply(
      [&](const auto&... field) { (PutLe(bytes + field.Offset, record.*field.Member), ...); },
      layout);
}

// Whether the fields lie one behind the other from offset 0 and end at `size`; `holeSize` bytes at
// `holeAt` belong to a field kept apart from the table.
template <class Layout>
constexpr bool FillsRecord(const Layout& layout, size_t size, size_t holeAt = 0,
                           size_t holeSize = 0) {
  size_t next = 0;
  bool ok = true;
  std::apply(
      [&](const auto&... field) {
        ((next = next == holeAt && holeSize != 0 ? next + holeSize : next,
          ok = ok && field.Offset == next,
          next += sizeof(typename std::decay_t<decltype(field)>::Type)),
         ...);
      },
      layout);
  return ok && next == size;
}

using TLH = TLocalFileHeader;
constexpr std::tuple kLocalLayout{
    TRecordField{&TLH::Signature, 0},    TRecordField{&TLH::VersionNeeded, 4},
    TRecordField{&TLH::Flags, 6},        TRecordField{&TLH::Method, 8},
    TRecordField{&TLH::DosDateTime, 10}, TRecordField{&TLH::Crc32, 14},
    TRecordField{&TLH::PackedSize, 18},  TRecordField{&TLH::UnpackedSize, 22},
    TRecordField{&TLH::NameLength, 26},  TRecordField{&TLH::ExtraLength, 28}};
static_assert(FillsRecord(kLocalLayout, TLH::kSize));

using TCH = TCentralFileHeader;
constexpr std::tuple kCentralLayout{TRecordField{&TCH::Signature, 0},
                                    TRecordField{&TCH::VersionMadeBy, 4},
                                    TRecordField{&TCH::VersionNeeded, 6},
                                    TRecordField{&TCH::Flags, 8},
                                    TRecordField{&TCH::Method, 10},
                                    TRecordField{&TCH::DosDateTime, 12},
                                    TRecordField{&TCH::Crc32, 16},
                                    TRecordField{&TCH::PackedSize, 20},
                                    TRecordField{&TCH::UnpackedSize, 24},
                                    TRecordField{&TCH::NameLength, 28},
                                    TRecordField{&TCH::ExtraLength, 30},
                                    TRecordField{&TCH::CommentLength, 32},
                                    TRecordField{&TCH::DiskNumberStart, 34},
                                    TRecordField{&TCH::InternalAttributes, 36},
                                    TRecordField{&TCH::ExternalAttributes, 38},
                                    TRecordField{&TCH::LocalHeaderOffset, 42}};
static_assert(FillsRecord(kCentralLayout, TCH::kSize));

using TEnd = TEndOfCentralDir;
constexpr std::tuple kEndLayout{
    TRecordField{&TEnd::Signature, 0},          TRecordField{&TEnd::NumberOfThisDisk, 4},
    TRecordField{&TEnd::DiskWithCentralDir, 6}, TRecordField{&TEnd::EntriesOnThisDisk, 8},
    TRecordField{&TEnd::TotalEntries, 10},      TRecordField{&TEnd::CentralDirSize, 12},
    TRecordField{&TEnd::CentralDirOffset, 16},  TRecordField{&TEnd::CommentLength, 20}};
static_assert(FillsRecord(kEndLayout, TEnd::kSize));

// Bytes 4..15 of the extended end record are kept as read, apart from the table.
using TEndEx = TEndOfCentralDirEx;
constexpr size_t kEndExReservedAt = 4;
constexpr std::tuple kEndExLayout{TRecordField{&TEndEx::Signature, 0},
                                  TRecordField{&TEndEx::CentralDirOffset, 16},
                                  TRecordField{&TEndEx::Reserved2, 24}};
static_assert(FillsRecord(kEndExLayout, TEndEx::kSize, kEndExReservedAt, sizeof(TEndEx::Reserved)));

}  // namespace

TLocalFileHeader TLocalFileHeader::Decode(const uint8_t* b) {
  TLocalFileHeader h;
  DecodeFields(h, b, kLocalLayout);
  return h;
}

void TLocalFileHeader::Encode(uint8_t* b) const {
  EncodeFields(*this, b, kLocalLayout);
}

TCentralFileHeader TCentralFileHeader::Decode(const uint8_t* b) {
  TCentralFileHeader h;
  DecodeFields(h, b, kCentralLayout);
  return h;
}

void TCentralFileHeader::Encode(uint8_t* b) const {
  EncodeFields(*this, b, kCentralLayout);
}

TEndOfCentralDir TEndOfCentralDir::Decode(const uint8_t* b) {
  TEndOfCentralDir e;
  DecodeFields(e, b, kEndLayout);
  return e;
}

void TEndOfCentralDir::Encode(uint8_t* b) const {
  EncodeFields(*this, b, kEndLayout);
}

TEndOfCentralDirEx TEndOfCentralDirEx::Decode(const uint8_t* b) {
  TEndOfCentralDirEx e;
  DecodeFields(e, b, kEndExLayout);
  std::memcpy(e.Reserved, b + kEndExReservedAt, sizeof e.Reserved);
  return e;
}

void TEndOfCentralDirEx::Encode(uint8_t* b) const {
  EncodeFields(*this, b, kEndExLayout);
  std::memcpy(b + kEndExReservedAt, Reserved, sizeof Reserved);
}

// ---- enciphered headers -------------------------------------------------------------------------
const TZipCipher& ZipHeaderKeys() {
  // Built on first use and never changed afterwards, so every component may copy it.
  static const TZipCipher keys = [] {
    TZipCipher c;
    c.InitHeaderKeys();
    return c;
  }();
  return keys;
}

size_t EncipheredHeaderLength(const uint8_t* record, TZipRecordKind kind) {
  switch (kind) {
    case TZipRecordKind::Local:
      return TLocalFileHeader::kSize - 4;  // 26
    case TZipRecordKind::Central:
      return TCentralFileHeader::kSize - 4;  // 42
    case TZipRecordKind::End:
      return ClassifyZipSignature(GetLe32(record), TZipRecordKind::End).Extended
                 ? TEndOfCentralDirEx::kSize - 4  // 22
                 : TEndOfCentralDir::kSize - 4;   // 18
  }
  return 0;
}

void DecipherZipHeader(TZipCipher& cipher, uint8_t* record, TZipRecordKind kind) {
  cipher = ZipHeaderKeys();
  cipher.DecipherBuffer(record + 4, EncipheredHeaderLength(record, kind));
}

void DecipherZipName(TZipCipher& cipher, uint8_t* bytes, size_t length) {
  cipher.DecipherBuffer(bytes, length);
}

// ---- names and extra fields ---------------------------------------------------------------------
std::string ReadZipName(TStream32& stream, uint32_t length, TZipCipher* cipher) {
  const uint32_t kept = std::min(length, kMaxZipNameKept);
  std::string name(kept, '\0');
  auto* buffer = reinterpret_cast<uint8_t*>(name.data());
  int32_t got = kept ? stream.Read(buffer, static_cast<int32_t>(kept)) : 0;
  if (got < 0) got = 0;
  if (cipher && got > 0) DecipherZipName(*cipher, buffer, static_cast<size_t>(got));
  if (length > kept) stream.Seek64(length - kept, host::kSeekCurrent);
  const auto* end = std::find(buffer, buffer + got, uint8_t{0});
  name.resize(static_cast<size_t>(end - buffer));
  return name;
}

TZipHighWords ParseZipExtra(const uint8_t* bytes, size_t length, bool central) {
  return ParseZipExtraFields(bytes, length, central, TZip64Wanted{}).High;
}

TZipHighWords ReadZipExtra(TStream32& stream, uint32_t length, bool central) {
  return ReadZipExtraFields(stream, length, central, TZip64Wanted{}).High;
}

TZipExtra ReadZipExtraFields(TStream32& stream, uint32_t length, bool central,
                             TZip64Wanted wanted) {
  if (length == 0) return {};
  const int64_t start = stream.Position();
  length = std::min<uint32_t>(length, 0xFFFF);  // the header field is 16 bits wide
  std::vector<uint8_t> field(length);
  int32_t got = stream.Read(field.data(), static_cast<int32_t>(length));
  if (got < 0) got = 0;
  TZipExtra x = ParseZipExtraFields(field.data(), static_cast<size_t>(got), central, wanted);
  if (static_cast<uint32_t>(got) != length && start >= 0)
    stream.Seek64(start + length, host::kSeekBegin);
  return x;
}

TZip64Wanted Zip64Wanted(const TLocalFileHeader& header) {
  TZip64Wanted w;
  w.Unpacked = header.UnpackedSize == kZip64Marker32;
  w.Packed = header.PackedSize == kZip64Marker32;
  return w;
}

TZip64Wanted Zip64Wanted(const TCentralFileHeader& header) {
  TZip64Wanted w;
  w.Unpacked = header.UnpackedSize == kZip64Marker32;
  w.Packed = header.PackedSize == kZip64Marker32;
  w.Offset = header.LocalHeaderOffset == kZip64Marker32;
  w.Disk = header.DiskNumberStart == kZip64Marker16;
  return w;
}

namespace {

constexpr int64_t kNtfsTicksPerSecond = 10000000;
constexpr int64_t kNtfsEpochToUnix = 11644473600;  // seconds from 1601-01-01 to 1970-01-01
constexpr uint16_t kNtfsTimesTag = 0x0001;

void ParseZip64(const uint8_t* d, size_t size, TZip64Wanted wanted, TZipExtra& x) {
  size_t at = 0;
  auto take64 = [&](bool want, bool& has, uint64_t& value) {
    if (!want || at + 8 > size) return;
    value = GetLe64(d + at);
    has = true;
    at += 8;
  };
  take64(wanted.Unpacked, x.HasUnpacked64, x.Unpacked64);
  take64(wanted.Packed, x.HasPacked64, x.Packed64);
  take64(wanted.Offset, x.HasOffset64, x.Offset64);
  if (wanted.Disk && at + 4 <= size) {
    x.Disk32 = GetLe32(d + at);
    x.HasDisk32 = true;
  }
}

// NTFS times: 4 reserved bytes, then tagged attributes; tag 1 holds the modification, access and
// creation times, 8 bytes each, in 100-ns units since 1601-01-01 UTC.
bool ParseNtfsTime(const uint8_t* d, size_t size, TZipExtra& x) {
  size_t at = 4;
  while (at + 4 <= size) {
    const uint16_t tag = GetLe16(d + at);
    const size_t tagSize = GetLe16(d + at + 2);
    at += 4;
    if (tagSize > size - at) return false;
    if (tag == kNtfsTimesTag && tagSize >= 8) {
      const uint64_t ticks = GetLe64(d + at);
      if (ticks == 0) return false;  // not set
      const int64_t whole = static_cast<int64_t>(ticks / kNtfsTicksPerSecond);
      x.ModTime = whole - kNtfsEpochToUnix;
      x.ModTimeNanos = static_cast<uint32_t>(ticks % kNtfsTicksPerSecond) * 100;
      return true;
    }
    at += tagSize;
  }
  return false;
}

}  // namespace

TZipExtra ParseZipExtraFields(const uint8_t* bytes, size_t length, bool central,
                              TZip64Wanted wanted) {
  TZipExtra x;
  bool ntfs = false;
  size_t pos = 0;
  while (pos + 4 <= length) {
    const uint16_t id = GetLe16(bytes + pos);
    const size_t size = GetLe16(bytes + pos + 2);
    pos += 4;
    if (size > length - pos) break;  // an overlong subfield ends the walk
    const uint8_t* d = bytes + pos;
    switch (id) {
      case kHighWordExtraId:
        if (size >= 2) x.High.PackedHigh = GetLe16(d);
        if (size >= 4) x.High.UnpackedHigh = GetLe16(d + 2);
        if (central && size >= 6) x.High.OffsetHigh = GetLe16(d + 4);
        break;
      case kZip64ExtraId:
        ParseZip64(d, size, wanted, x);
        break;
      case kNtfsExtraId:
        if (!ntfs && ParseNtfsTime(d, size, x)) ntfs = x.HasModTime = true;
        break;
      case kUnixTimeExtraId:
        // Flags, then the times the flags announce; the modification time comes first. A
        // central header keeps only that one, whatever its flags say.
        if (!ntfs && size >= 5 && (d[0] & 1)) {
          x.ModTime = static_cast<int32_t>(GetLe32(d + 1));
          x.ModTimeNanos = 0;
          x.HasModTime = true;
        }
        break;
      case kUnicodePathExtraId:
        if (size >= 5 && d[0] == 1) {
          x.HasUnicodePath = true;
          x.UnicodePathCrc = GetLe32(d + 1);
          x.UnicodePath.assign(reinterpret_cast<const char*>(d + 5), size - 5);
        }
        break;
      case kWinZipAesExtraId:
        if (size >= 7) {
          x.HasAes = true;
          x.AesVersion = GetLe16(d);
          x.AesStrength = d[4];
          x.AesMethod = GetLe16(d + 5);
        }
        break;
      case kStrongEncryptionExtraId:
        x.HasStrongEncryption = true;
        break;
      default:
        break;
    }
    pos += size;
  }
  return x;
}

int64_t TZipExtra::PackedSize(uint32_t field) const {
  return HasPacked64 ? ClampZip64(Packed64) : Combine48(High.PackedHigh, field);
}

int64_t TZipExtra::UnpackedSize(uint32_t field) const {
  return HasUnpacked64 ? ClampZip64(Unpacked64) : Combine48(High.UnpackedHigh, field);
}

int64_t TZipExtra::LocalOffset(uint32_t field, bool extendedEnd) const {
  if (HasOffset64) return ClampZip64(Offset64);
  return extendedEnd ? Combine48(High.OffsetHigh, field) : static_cast<int64_t>(field);
}

std::string TZipExtra::UnicodeNameFor(const uint8_t* stored, size_t length) const {
  if (!HasUnicodePath || Crc32Update(0xFFFFFFFF, stored, length) != ~UnicodePathCrc) return {};
  // Kept whole: a zero byte in it is the caller's to judge.
  return UnicodePath;
}

// ---- ZIP64 end record and locator ---------------------------------------------------------------
namespace {

using TLoc = TZip64EndLocator;
constexpr std::tuple kZip64LocatorLayout{
    TRecordField{&TLoc::Signature, 0}, TRecordField{&TLoc::DiskWithEnd, 4},
    TRecordField{&TLoc::EndOffset, 8}, TRecordField{&TLoc::TotalDisks, 16}};
static_assert(FillsRecord(kZip64LocatorLayout, TLoc::kSize));

using TEnd64 = TZip64EndOfCentralDir;
constexpr std::tuple kZip64EndLayout{
    TRecordField{&TEnd64::Signature, 0},          TRecordField{&TEnd64::RecordSize, 4},
    TRecordField{&TEnd64::VersionMadeBy, 12},     TRecordField{&TEnd64::VersionNeeded, 14},
    TRecordField{&TEnd64::NumberOfThisDisk, 16},  TRecordField{&TEnd64::DiskWithCentralDir, 20},
    TRecordField{&TEnd64::EntriesOnThisDisk, 24}, TRecordField{&TEnd64::TotalEntries, 32},
    TRecordField{&TEnd64::CentralDirSize, 40},    TRecordField{&TEnd64::CentralDirOffset, 48}};
static_assert(FillsRecord(kZip64EndLayout, TEnd64::kSize));

}  // namespace

TZip64EndLocator TZip64EndLocator::Decode(const uint8_t* b) {
  TZip64EndLocator l;
  DecodeFields(l, b, kZip64LocatorLayout);
  return l;
}

TZip64EndOfCentralDir TZip64EndOfCentralDir::Decode(const uint8_t* b) {
  TZip64EndOfCentralDir e;
  DecodeFields(e, b, kZip64EndLayout);
  return e;
}

// ---- the central-directory locator --------------------------------------------------------------
namespace {

// Reads exactly `count` bytes at `position`; false when fewer arrive or the position is invalid.
bool ReadRecordAt(TStream32& stream, int64_t position, int64_t archiveSize, uint8_t* buffer,
                  int32_t count) {
  if (position < 0 || position >= archiveSize) return false;
  return stream.ReadAt(position, buffer, count) == count;
}

// How one end record candidate turned out.
enum class TEndOutcome { Directory, NoDirectory, Unreadable };

// Follows the end record found at `found` (file position `endPosition`) to the central directory
// and fills `location`; `start` gets the directory's position when one is there.
TEndOutcome FollowEndRecord(TStream32& stream, int64_t archiveSize, const uint8_t* found,
                            int64_t endPosition, TZipSignature sig, TZipLocation& location,
                            TZipCipher& cipher, int64_t& start) {
  uint8_t record[TEndOfCentralDirEx::kSize] = {};
  std::memcpy(record, found, sig.Extended ? TEndOfCentralDirEx::kSize : TEndOfCentralDir::kSize);
  if (sig.Enciphered) DecipherZipHeader(cipher, record, TZipRecordKind::End);
  location.EndRecordPosition = endPosition;
  location.Zip64 = false;
  location.Zip64End = TZip64EndOfCentralDir{};
  location.Zip64EndPosition = -1;
  uint64_t dirOffset;
  int64_t dirSize;
  int64_t fallbackBase = endPosition;  // the directory normally ends where this record starts
  if (sig.Extended) {
    location.Extended = true;
    location.EndRecordEx = TEndOfCentralDirEx::Decode(record);
    location.EndRecord = TEndOfCentralDir{};
    location.EndRecord.Signature = location.EndRecordEx.Signature;
    dirOffset = location.EndRecordEx.CentralDirOffset;
    dirSize = 0;
    location.CommentPosition = endPosition + static_cast<int64_t>(TEndOfCentralDirEx::kSize);
  } else {
    location.Extended = false;
    location.EndRecord = TEndOfCentralDir::Decode(record);
    location.EndRecordEx = TEndOfCentralDirEx{};
    dirOffset = location.EndRecord.CentralDirOffset;
    dirSize = location.EndRecord.CentralDirSize;
    location.CommentPosition = endPosition + static_cast<int64_t>(TEndOfCentralDir::kSize);
    // A ZIP64 locator right before the record leads to the ZIP64 end record, whose values count.
    uint8_t bytes[TZip64EndOfCentralDir::kSize];
    const int64_t locatorPosition = endPosition - static_cast<int64_t>(TZip64EndLocator::kSize);
    if (ReadRecordAt(stream, locatorPosition, archiveSize, bytes,
                     static_cast<int32_t>(TZip64EndLocator::kSize)) &&
        GetLe32(bytes) == kZip64LocatorSig) {
      const TZip64EndLocator locator = TZip64EndLocator::Decode(bytes);
      // Where the locator says, or (data in front) right before the locator.
      const int64_t recorded = locator.EndOffset > static_cast<uint64_t>(INT64_MAX)
                                   ? -1
                                   : static_cast<int64_t>(locator.EndOffset);
      const int64_t behind = locatorPosition - static_cast<int64_t>(TZip64EndOfCentralDir::kSize);
      for (const int64_t at : {recorded, behind}) {
        if (ReadRecordAt(stream, at, archiveSize, bytes,
                         static_cast<int32_t>(TZip64EndOfCentralDir::kSize)) &&
            GetLe32(bytes) == kZip64EndSig) {
          location.Zip64 = true;
          location.Zip64End = TZip64EndOfCentralDir::Decode(bytes);
          location.Zip64EndPosition = at;
          dirOffset = location.Zip64End.CentralDirOffset;
          dirSize = ClampZip64(location.Zip64End.CentralDirSize);
          fallbackBase = at;
          break;
        }
      }
    }
  }
  location.HeaderState = kHeaderEnd;

  // The directory where the end record says, or right before the end record (data in front).
  uint8_t central[TCentralFileHeader::kSize];
  const auto isCentral = [&] {
    return ClassifyZipSignature(GetLe32(central), TZipRecordKind::Central).Valid;
  };
  const int64_t recorded =
      dirOffset > static_cast<uint64_t>(INT64_MAX) ? -1 : static_cast<int64_t>(dirOffset);
  int64_t dirPosition = -1;
  if (ReadRecordAt(stream, recorded, archiveSize, central, sizeof central) && isCentral()) {
    dirPosition = recorded;
    location.OffsetAdjustment = 0;
  } else {
    const int64_t fallback = dirSize <= fallbackBase ? fallbackBase - dirSize : -1;
    if (!ReadRecordAt(stream, fallback, archiveSize, central, sizeof central))
      return TEndOutcome::Unreadable;
    if (!isCentral()) return TEndOutcome::NoDirectory;
    dirPosition = fallback;
    location.OffsetAdjustment = fallback - recorded;
  }

  location.HeaderState += kHeaderCentral;
  location.CentralDirPosition = dirPosition;
  if (ClassifyZipSignature(GetLe32(central), TZipRecordKind::Central).Enciphered) {
    DecipherZipHeader(cipher, central, TZipRecordKind::Central);
  }
  location.CentralHeader = TCentralFileHeader::Decode(central);
  uint8_t local[TLocalFileHeader::kSize];
  // The first entry's local header; a ZIP64 offset lives in the entry's extra field, which is not
  // read here, so such an entry is taken on trust.
  if (location.CentralHeader.LocalHeaderOffset == kZip64Marker32) {
    location.HeaderState += kHeaderLocal;
  } else {
    const int64_t localPosition =
        static_cast<int64_t>(location.CentralHeader.LocalHeaderOffset) + location.OffsetAdjustment;
    if (ReadRecordAt(stream, localPosition, archiveSize, local, sizeof local)) {
      location.LocalHeader = TLocalFileHeader::Decode(local);
      if (IsLocalSignature(location.LocalHeader.Signature)) location.HeaderState += kHeaderLocal;
    }
  }
  start = dirPosition;
  return TEndOutcome::Directory;
}

}  // namespace

int64_t LocateCentralDir(TStream32& stream, int64_t archiveSize, TZipLocation& location,
                         TZipCipher& cipher) {
  location.HeaderState = 0;
  if (archiveSize <= 0) return 0;

  // The end record lies in the last window, behind a comment of at most 65,535 bytes.
  const int64_t window = archiveSize > kZipLocatorWindow ? kZipLocatorWindow : archiveSize - 1;
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kZipLocatorWindow]);
  int32_t got = 0;
  if (window > 0 && stream.Seek64(archiveSize - window, host::kSeekBegin) == archiveSize - window) {
    got = stream.Read(buffer.get(), static_cast<int32_t>(window));
    if (got < 0) got = 0;
  }

  // Newest first. Index 0 is never a candidate, and a record must lie wholly inside what was
  // read. The first candidate that leads to a directory wins; the last one in the file decides
  // when none does.
  const TZipLocation given = location;
  TZipLocation first;
  TEndOutcome firstOutcome = TEndOutcome::Unreadable;
  bool any = false;
  for (int64_t i = static_cast<int64_t>(got) - static_cast<int64_t>(TEndOfCentralDir::kSize);
       i >= 1; --i) {
    if (buffer[i] != 'P') continue;
    const TZipSignature sig = ClassifyZipSignature(GetLe32(&buffer[i]), TZipRecordKind::End);
    if (!sig) continue;
    if (sig.Extended && i + static_cast<int64_t>(TEndOfCentralDirEx::kSize) > got) continue;
    TZipLocation trial = given;
    int64_t start = 0;
    const TEndOutcome outcome = FollowEndRecord(
        stream, archiveSize, &buffer[i], (archiveSize - window) + i, sig, trial, cipher, start);
    if (outcome == TEndOutcome::Directory) {
      location = trial;
      return start;
    }
    if (!any) {
      first = trial;
      firstOutcome = outcome;
      any = true;
    }
  }
  if (!any) {
    // An empty archive is nothing but its end record, at the very start of the file (where the
    // window above never looks): no entries, an empty directory, and its comment up to the end.
    uint8_t head[TEndOfCentralDir::kSize];
    if (ReadRecordAt(stream, 0, archiveSize, head, sizeof head) && GetLe32(head) == kEndSig) {
      const TEndOfCentralDir end = TEndOfCentralDir::Decode(head);
      if (end.TotalEntries == 0 && end.EntriesOnThisDisk == 0 && end.CentralDirSize == 0 &&
          end.CentralDirOffset == 0 &&
          static_cast<int64_t>(TEndOfCentralDir::kSize) + end.CommentLength == archiveSize) {
        location = given;
        location.EndRecord = end;
        location.EndRecordPosition = 0;
        location.CommentPosition = static_cast<int64_t>(TEndOfCentralDir::kSize);
        location.HeaderState = kHeaderEnd;
        return 0;
      }
    }
    return 0;
  }
  location = first;
  if (firstOutcome == TEndOutcome::Unreadable) return 0;

  // No directory anywhere: look for a local header in the first four blocks.
  const int64_t block = archiveSize > kZipFallbackBlock ? kZipFallbackBlock : archiveSize - 1;
  for (int b = 0; b < kZipFallbackBlocks; ++b) {
    const int64_t blockStart = b * block;
    if (blockStart >= archiveSize) break;
    if (stream.Seek64(blockStart, host::kSeekBegin) != blockStart) break;
    const int32_t n = stream.Read(buffer.get(), static_cast<int32_t>(block));
    if (n <= 0) break;
    for (int32_t j = 0; j + 4 <= n; ++j) {
      if (buffer[j] == 'P' && IsLocalSignature(GetLe32(&buffer[j]))) {
        location.HeaderState = kHeaderLocal;
        return blockStart + j;
      }
    }
  }
  return -1;
}

namespace {

// Blocks of the decoding that finds where deflated data ends (the output is thrown away).
constexpr int32_t kScanInputSize = 65536;
constexpr int32_t kScanOutputSize = 32768;

constexpr uint32_t kEndSigZip64 = 0x06064B50;      // zip64 end record (only as a neighbour)
constexpr uint32_t kEndLocatorZip64 = 0x07064B50;  // zip64 end locator

// Hosts of "version made by" whose names are OEM text.
bool IsDosLikeHost(int host) {
  return host == 0 || host == 6 || host == 10 || host == 11 || host == 14;
}

// Whether four bytes start one of the records that may follow a member.
bool IsRecordAfterMember(uint32_t value) {
  return IsLocalSignature(value) || IsCentralSignature(value) ||
         ClassifyZipSignature(value, TZipRecordKind::End).Valid || value == kEndSigZip64 ||
         value == kEndLocatorZip64 || value == kSpanMarkerSig;
}

// A data descriptor at `position` whose compressed size is `packed` (compared in 32 bits, or 64 in
// the zip64 form). With the signature the record is 16 bytes (24 in the zip64 form), without it
// 12. Ambiguous forms are settled by what follows them.
bool ReadDescriptorAt(TStream32& archive, int64_t archiveSize, int64_t position, int64_t packed,
                      TDataDescriptor& descriptor, int64_t& next) {
  uint8_t b[28] = {};
  const int32_t n = archive.ReadAt(position, b, static_cast<int32_t>(sizeof b));
  auto followed = [&](int32_t offset) {
    if (offset + 4 <= n) return IsRecordAfterMember(GetLe32(b + offset));
    return position + offset >= archiveSize;
  };
  const uint32_t packed32 = static_cast<uint32_t>(packed);
  const bool marked = n >= 16 && GetLe32(b) == kDataDescriptorSig;
  if (marked && n >= 24 && GetLe64(b + 4 + 4) == static_cast<uint64_t>(packed) && !followed(16) &&
      followed(24)) {
    descriptor = {GetLe32(b + 4), static_cast<int64_t>(GetLe64(b + 8)),
                  static_cast<int64_t>(GetLe64(b + 16))};
    next = position + 24;
    return true;
  }
  if (marked && GetLe32(b + 8) == packed32 &&
      (followed(16) || !(n >= 12 && GetLe32(b + 4) == packed32))) {
    descriptor = {GetLe32(b + 4), packed, static_cast<int64_t>(GetLe32(b + 12))};
    next = position + 16;
    return true;
  }
  if (n >= 12 && GetLe32(b + 4) == packed32) {
    descriptor = {GetLe32(b), packed, static_cast<int64_t>(GetLe32(b + 8))};
    next = position + 12;
    return true;
  }
  return false;
}

// Decodes raw deflate data from `dataStart` to its end, throwing the output away; the number of
// compressed bytes it took, or -1 when the data is broken or cut short.
int64_t DeflateDataLength(TStream32& archive, int64_t dataStart, bool deflate64,
                          const uint8_t* cancel) {
  if (archive.Seek64(dataStart, host::kSeekBegin) != dataStart) return -1;
  std::vector<uint8_t> input(kScanInputSize);
  std::vector<uint8_t> output(kScanOutputSize);
  TInflateDriver driver(input.data(), kScanInputSize);
  if (driver.Start(kRawDeflateWindowBits, deflate64) != kInflateOk) return -1;
  const TInflateSource source = [&archive](uint8_t* buffer, int32_t room) {
    return archive.ReadUpTo(buffer, room);
  };
  for (;;) {
    if (cancel && *cancel) return -1;
    switch (driver.Run(output.data(), kScanOutputSize, source)) {
      case TInflateStep::Full:
        continue;
      case TInflateStep::End:
        return static_cast<int64_t>(driver.Engine().total_in);
      case TInflateStep::Starved:
      case TInflateStep::Cancelled:
      case TInflateStep::Broken:
      case TInflateStep::Block:  // (Run never stops at blocks)
        return -1;
    }
  }
}

// Searches from `from` for a signed data descriptor whose compressed size equals its distance from
// `dataStart` (the data of an encrypted member cannot be decoded without its password).
bool SearchSignedDescriptor(TStream32& archive, int64_t archiveSize, int64_t dataStart,
                            int64_t from, const uint8_t* cancel, TDataDescriptor& descriptor,
                            int64_t& next) {
  constexpr int32_t kBlock = 65536;
  constexpr int32_t kOverlap = 15;  // a descriptor's first 16 bytes may cross a block boundary
  std::vector<uint8_t> block(kBlock);
  for (int64_t pos = from; pos < archiveSize; pos += kBlock - kOverlap) {
    if (cancel && *cancel) return false;
    const int32_t n = archive.ReadAt(pos, block.data(), kBlock);
    if (n < 16) return false;
    for (int32_t i = 0; i + 16 <= n; ++i) {
      if (block[i] != 0x50 || GetLe32(&block[i]) != kDataDescriptorSig) continue;
      const int64_t at = pos + i;
      if (GetLe32(&block[i + 8]) != static_cast<uint32_t>(at - dataStart)) continue;
      if (ReadDescriptorAt(archive, archiveSize, at, at - dataStart, descriptor, next)) return true;
    }
    if (n < kBlock) return false;
  }
  return false;
}

}  // namespace

// ---- where names are OEM text, where members end ------------------------------------------------
bool ZipNameIsOem(uint16_t flags, int versionMadeBy) {
  if (flags & kFlagUtf8Name) return false;
  if (versionMadeBy >= 0 && !IsDosLikeHost((versionMadeBy >> 8) & 0xFF)) return false;
  return true;
}

std::string ConvertZipName(const std::string& raw, bool translateOem, uint16_t flags,
                           int versionMadeBy) {
  return ConvertStoredName(raw, translateOem && ZipNameIsOem(flags, versionMadeBy));
}

bool FindLocalMemberEnd(TStream32& archive, const TLocalFileHeader& header, int64_t packedSize,
                        int64_t /*unpackedSize*/, int64_t dataStart, TLocalMemberEnd& end,
                        const uint8_t* cancel) {
  end = TLocalMemberEnd{};
  if (!(header.Flags & kFlagDataDescriptor)) {
    end.Next = dataStart + packedSize;
    return true;
  }
  const int64_t archiveSize = archive.GetSize();
  int64_t next = 0;
  if (packedSize > 0) {
    // The compressed size is known: the descriptor, if any, lies right behind the data.
    end.Next = dataStart + packedSize;
    if (ReadDescriptorAt(archive, archiveSize, dataStart + packedSize, packedSize, end.Descriptor,
                         next)) {
      end.HasDescriptor = true;
      end.Next = next;
    }
    return true;
  }
  const bool deflated = header.Method == kMethodDeflated || header.Method == kMethodDeflate64;
  if (!deflated) {
    // Only an empty member is certain: its signed descriptor follows the header (and the
    // encryption header of an encrypted one) at once.
    const int64_t empty = (header.Flags & kFlagEncrypted) ? kZipEncryptionHeaderSize : 0;
    uint8_t b[4] = {};
    if (archive.ReadAt(dataStart + empty, b, 4) == 4 && GetLe32(b) == kDataDescriptorSig &&
        ReadDescriptorAt(archive, archiveSize, dataStart + empty, empty, end.Descriptor, next) &&
        end.Descriptor.UnpackedSize == 0) {
      end.HasDescriptor = true;
      end.Next = next;
      return true;
    }
    return false;
  }
  if (header.Flags & kFlagEncrypted) {
    if (!SearchSignedDescriptor(archive, archiveSize, dataStart,
                                dataStart + static_cast<int64_t>(kZipEncryptionHeaderSize), cancel,
                                end.Descriptor, next))
      return false;
    end.HasDescriptor = true;
    end.Next = next;
    return true;
  }
  const int64_t length =
      DeflateDataLength(archive, dataStart, header.Method == kMethodDeflate64, cancel);
  if (length < 0) return false;
  if (!ReadDescriptorAt(archive, archiveSize, dataStart + length, length, end.Descriptor, next))
    return false;
  end.Descriptor.PackedSize = length;
  end.HasDescriptor = true;
  end.Next = next;
  return true;
}
