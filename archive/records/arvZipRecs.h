// The zip archive records as the engine reads them: signatures (plain, enciphered-header, extended
// and the spanning marker), the local, central and end records decoded field by field from
// little-endian bytes, the 0x0064 high-word extra subfield, stored names, enciphered headers and
// the central-directory locator. Nothing here writes an archive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "archive/codecs/arvBytes.h"
#include "archive/codecs/arvCrypt.h"
#include "archive/codecs/arvZipConsts.h"

class TStream32;

enum class TZipRecordKind : uint8_t { Local, Central, End };

// What ClassifyZipSignature says about a 32-bit value for one record kind.
struct TZipSignature {
  bool Valid = false;       // a signature of the kind asked for
  bool Enciphered = false;  // an enciphered-header form
  bool Extended = false;    // (end kind only) the extended end record
  explicit operator bool() const { return Valid; }
};
TZipSignature ClassifyZipSignature(uint32_t value, TZipRecordKind kind);
inline bool IsLocalSignature(uint32_t v) {
  return ClassifyZipSignature(v, TZipRecordKind::Local).Valid;
}
inline bool IsCentralSignature(uint32_t v) {
  return ClassifyZipSignature(v, TZipRecordKind::Central).Valid;
}

// ---- records
// ------------------------------------------------------------------------------------- Each record
// decodes from (and, for test builders, encodes to) its fixed-size little-endian form.
struct TLocalFileHeader {
  static constexpr size_t kSize = kLocalHeaderSize;
  uint32_t Signature = 0;
  uint16_t VersionNeeded = 0;
  uint16_t Flags = 0;
  uint16_t Method = 0;
  uint32_t DosDateTime = 0;  // time in the low word, date in the high word
  uint32_t Crc32 = 0;
  uint32_t PackedSize = 0;
  uint32_t UnpackedSize = 0;
  uint16_t NameLength = 0;
  uint16_t ExtraLength = 0;

  static TLocalFileHeader Decode(const uint8_t* bytes);  // kSize bytes
  void Encode(uint8_t* bytes) const;
  uint16_t Time() const { return static_cast<uint16_t>(DosDateTime); }
};

struct TCentralFileHeader {
  static constexpr size_t kSize = kCentralHeaderSize;
  uint32_t Signature = 0;
  uint16_t VersionMadeBy = 0;
  uint16_t VersionNeeded = 0;
  uint16_t Flags = 0;
  uint16_t Method = 0;
  uint32_t DosDateTime = 0;
  uint32_t Crc32 = 0;
  uint32_t PackedSize = 0;
  uint32_t UnpackedSize = 0;
  uint16_t NameLength = 0;
  uint16_t ExtraLength = 0;
  uint16_t CommentLength = 0;
  uint16_t DiskNumberStart = 0;
  uint16_t InternalAttributes = 0;
  uint32_t ExternalAttributes = 0;
  uint32_t LocalHeaderOffset = 0;  // low 32 bits

  static TCentralFileHeader Decode(const uint8_t* bytes);
  void Encode(uint8_t* bytes) const;
};

struct TEndOfCentralDir {
  static constexpr size_t kSize = kEndRecordSize;
  uint32_t Signature = 0;
  uint16_t NumberOfThisDisk = 0;
  uint16_t DiskWithCentralDir = 0;
  uint16_t EntriesOnThisDisk = 0;
  uint16_t TotalEntries = 0;
  uint32_t CentralDirSize = 0;
  uint32_t CentralDirOffset = 0;
  uint16_t CommentLength = 0;

  static TEndOfCentralDir Decode(const uint8_t* bytes);
  void Encode(uint8_t* bytes) const;
};

// Offsets 4..15 and 24..25 of the extended record are not interpreted; they are kept as read.
struct TEndOfCentralDirEx {
  static constexpr size_t kSize = kEndRecordExSize;
  uint32_t Signature = 0;
  uint8_t Reserved[12] = {};  // bytes 4..15
  uint64_t CentralDirOffset = 0;
  uint16_t Reserved2 = 0;  // bytes 24..25

  static TEndOfCentralDirEx Decode(const uint8_t* bytes);
  void Encode(uint8_t* bytes) const;
};

// ---- member sizes and high words
// ----------------------------------------------------------------- The per-member values that the
// decoders work from.
struct TMemberSizes {
  uint16_t Flags = 0;
  uint32_t Method = 0;
  int64_t PackedSize = 0;  // 48-bit values in practice
  int64_t UnpackedSize = 0;
};

// The high words of the 0x0064 extra subfield (all 0 without it).
constexpr uint16_t kHighWordExtraId = 0x0064;
struct TZipHighWords {
  uint16_t PackedHigh = 0;
  uint16_t UnpackedHigh = 0;
  uint16_t OffsetHigh = 0;  // central headers only
};
inline int64_t Combine48(uint16_t high, uint32_t low) {
  return static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | low);
}

// ---- the extra fields of today's writers
// ------------------------------------------------------- ZIP64 sizes, offset and disk (0x0001),
// Info-ZIP's extended timestamp (0x5455), the NTFS times (0x000A) and Info-ZIP's Unicode Path
// (0x7075). Archives without them are read exactly as before.
constexpr uint16_t kZip64ExtraId = 0x0001;
constexpr uint16_t kNtfsExtraId = 0x000A;
constexpr uint16_t kUnixTimeExtraId = 0x5455;
constexpr uint16_t kUnicodePathExtraId = 0x7075;
constexpr uint16_t kWinZipAesExtraId = 0x9901;       // WinZip AES: version, vendor, strength, method
constexpr uint16_t kStrongEncryptionExtraId = 0x0017;  // PKWARE's strong encryption header
constexpr uint32_t kZip64Marker32 = 0xFFFFFFFF;  // the 32-bit field's value lives in 0x0001
constexpr uint16_t kZip64Marker16 = 0xFFFF;
// The largest ZIP64 size or offset the engine takes (2^62 bytes): larger ones are cut to it, so
// that a position plus a size can never overflow.
constexpr int64_t kMaxZip64Value = int64_t{1} << 62;
inline int64_t ClampZip64(uint64_t value) {
  return value > static_cast<uint64_t>(kMaxZip64Value) ? kMaxZip64Value
                                                       : static_cast<int64_t>(value);
}

// Which header fields are all ones: the 0x0001 subfield holds a value for exactly these, in this
// order (uncompressed size, compressed size, local-header offset: 8 bytes each; disk: 4).
struct TZip64Wanted {
  bool Unpacked = false;
  bool Packed = false;
  bool Offset = false;
  bool Disk = false;
};
TZip64Wanted Zip64Wanted(const TLocalFileHeader& header);
TZip64Wanted Zip64Wanted(const TCentralFileHeader& header);

// What the extra field of one header says.
struct TZipExtra {
  TZipHighWords High;  // 0x0064
  // 0x0001: each value only when its header field is all ones and the subfield holds it.
  bool HasUnpacked64 = false;
  bool HasPacked64 = false;
  bool HasOffset64 = false;
  bool HasDisk32 = false;
  uint64_t Unpacked64 = 0;
  uint64_t Packed64 = 0;
  uint64_t Offset64 = 0;
  uint32_t Disk32 = 0;
  // The modification time in UTC, from 0x000A (100-ns units) or else 0x5455 (seconds).
  bool HasModTime = false;
  int64_t ModTime = 0;        // seconds since 1970-01-01 00:00:00 UTC
  uint32_t ModTimeNanos = 0;  // 0..999,999,900
  // 0x7075: the name in UTF-8 and the CRC-32 of the stored name it was made for.
  bool HasUnicodePath = false;
  uint32_t UnicodePathCrc = 0;
  std::string UnicodePath;
  // 0x9901 (7 bytes): AE-1 or AE-2, the vendor "AE", the key strength (1, 2, 3: AES-128, 192,
  // 256) and the method the data is compressed with. Taken as written; the extractor judges it.
  bool HasAes = false;
  uint16_t AesVersion = 0;
  uint8_t AesStrength = 0;
  uint16_t AesMethod = 0;
  bool HasStrongEncryption = false;  // 0x0017

  // A member's values: the 0x0001 value when present (cut to kMaxZip64Value), else the header
  // field with the 0x0064 high word.
  int64_t PackedSize(uint32_t field) const;
  int64_t UnpackedSize(uint32_t field) const;
  // The local-header offset as recorded (before the offset adjustment); the 0x0064 high word
  // counts only behind an extended end record.
  int64_t LocalOffset(uint32_t field, bool extendedEnd) const;
  uint32_t DiskStart(uint16_t field) const { return HasDisk32 ? Disk32 : field; }
  // The Unicode Path's name when it was made for `stored` (the whole stored name as read, after
  // deciphering): its CRC-32 matches. Empty otherwise, or when the UTF-8 name is empty.
  std::string UnicodeNameFor(const uint8_t* stored, size_t length) const;
};
// What a central entry's extra field adds to its fixed header, kept with the entry for the member
// loop: only members that carry one of these fields need it.
struct TZipEntryExtra {
  bool HasPackedSize = false;  // from 0x0001
  bool HasUnpackedSize = false;
  int64_t PackedSize = 0;
  int64_t UnpackedSize = 0;
  bool HasModTime = false;
  int64_t ModTime = 0;
  uint32_t ModTimeNanos = 0;
  std::string UnicodeName;  // UTF-8, from a 0x7075 made for the stored name
  bool Empty() const {
    return !HasPackedSize && !HasUnpackedSize && !HasModTime && UnicodeName.empty();
  }
};

// Walks an extra field held in memory for every subfield above; a subfield whose declared size
// runs past the end ends the walk, one too short for its content is skipped.
TZipExtra ParseZipExtraFields(const uint8_t* bytes, size_t length, bool central,
                              TZip64Wanted wanted);

// ---- enciphered headers
// -------------------------------------------------------------------------- The header keys (each
// initial key AND-ed with another), computed once for the process; immutable.
const TZipCipher& ZipHeaderKeys();
// Number of enciphered bytes after the signature of a record of `kind`; for the end kind the
// signature at record[0..3] tells the standard (18) from the extended (22) form.
size_t EncipheredHeaderLength(const uint8_t* record, TZipRecordKind kind);
// Deciphers a record in place (bytes after the signature up to the end of its fixed part), with
// `cipher` first reset to the header keys. The signature itself is left as it is.
void DecipherZipHeader(TZipCipher& cipher, uint8_t* record, TZipRecordKind kind);
// Deciphers the name that follows a header, continuing the key state of DecipherZipHeader.
void DecipherZipName(TZipCipher& cipher, uint8_t* bytes, size_t length);

// ---- names and extra fields
// ----------------------------------------------------------------------
// A name's length field has 16 bits: every stored name is kept whole, never cut to a shorter one
// (which would be another file's name).
constexpr uint32_t kMaxZipNameKept = 65535;
// Reads a stored name of `length` bytes at the stream's position: up to kMaxZipNameKept are kept
// (deciphered with `cipher` when given), the rest is stepped over; the name ends at its first zero
// byte.
// The stream is left after the whole stored name. A short read keeps what arrived.
std::string ReadZipName(TStream32& stream, uint32_t length, TZipCipher* cipher = nullptr);
// Walks an extra field held in memory; a subfield whose declared size runs past the end ends the
// walk.
TZipHighWords ParseZipExtra(const uint8_t* bytes, size_t length, bool central);
// Walks the extra field of `length` bytes at the stream's position and leaves the stream after it.
TZipHighWords ReadZipExtra(TStream32& stream, uint32_t length, bool central);
TZipExtra ReadZipExtraFields(TStream32& stream, uint32_t length, bool central, TZip64Wanted wanted);

// ---- the central-directory locator
// --------------------------------------------------------------- Header state bits.
using THeaderTypeState = uint8_t;
constexpr THeaderTypeState kHeaderLocal = 1;    // a local header confirmed (or found by the scan)
constexpr THeaderTypeState kHeaderCentral = 2;  // a central header where the end record points
constexpr THeaderTypeState kHeaderEnd = 4;      // an end record found
// Exactly the local bit: the archive is read by walking its local headers.
inline bool IsLocalHeaderMode(THeaderTypeState s) {
  return s == kHeaderLocal;
}

// The end record lies behind a comment of at most 65,535 bytes: the search covers that much (the
// window's first byte is never a candidate).
constexpr int64_t kZipLocatorWindow = TEndOfCentralDir::kSize + 0xFFFF + 1;
// Without a directory, the first local header is looked for in four blocks of this size.
constexpr int64_t kZipFallbackBlock = 32768;
constexpr int kZipFallbackBlocks = 4;

// ---- ZIP64 end record and its locator
// ------------------------------------------------------------ When a value of the end record
// does not fit, the writer puts all ones there and the true values into the ZIP64 end record,
// which a 20-byte locator right before the end record points to.
constexpr uint32_t kZip64EndSig = 0x06064B50;
constexpr uint32_t kZip64LocatorSig = 0x07064B50;
struct TZip64EndLocator {
  static constexpr size_t kSize = 20;
  uint32_t Signature = 0;
  uint32_t DiskWithEnd = 0;
  uint64_t EndOffset = 0;
  uint32_t TotalDisks = 0;
  static TZip64EndLocator Decode(const uint8_t* bytes);
};
struct TZip64EndOfCentralDir {
  static constexpr size_t kSize = 56;  // without the extensible data behind it
  uint32_t Signature = 0;
  uint64_t RecordSize = 0;  // the bytes after this field
  uint16_t VersionMadeBy = 0;
  uint16_t VersionNeeded = 0;
  uint32_t NumberOfThisDisk = 0;
  uint32_t DiskWithCentralDir = 0;
  uint64_t EntriesOnThisDisk = 0;
  uint64_t TotalEntries = 0;
  uint64_t CentralDirSize = 0;
  uint64_t CentralDirOffset = 0;
  static TZip64EndOfCentralDir Decode(const uint8_t* bytes);
};

// What the locator leaves behind for the walks (kept by the root component).
struct TZipLocation {
  THeaderTypeState HeaderState = 0;
  // The end record found. For an extended record, EndRecord holds only its signature and
  // EndRecordEx the rest; Extended tells which.
  TEndOfCentralDir EndRecord;
  TEndOfCentralDirEx EndRecordEx;
  bool Extended = false;
  TCentralFileHeader CentralHeader;  // the first central header (deciphered)
  TLocalFileHeader LocalHeader;      // the local header it points to, as read (signature only
                                     // tested)
  // The ZIP64 end record, when the end record found leads to one (its values then count).
  bool Zip64 = false;
  TZip64EndOfCentralDir Zip64End;
  // How many entries the end record (its ZIP64 form when there is one) announces for the whole
  // directory; -1 when no count can be trusted (no end record, the engine's extended record, a
  // set on several disks, which keeps its directory elsewhere).
  int64_t AnnouncedEntries() const {
    if ((HeaderState & 4) == 0 || Extended) return -1;
    if (Zip64) {
      if (Zip64End.TotalEntries > static_cast<uint64_t>(INT64_MAX)) return -1;
      return static_cast<int64_t>(Zip64End.TotalEntries);
    }
    if (EndRecord.NumberOfThisDisk != 0 || EndRecord.DiskWithCentralDir != 0) return -1;
    return EndRecord.TotalEntries;
  }
  int64_t Zip64EndPosition = -1;
  int64_t OffsetAdjustment = 0;     // added to every local-header offset of the directory
  int64_t CommentPosition = 0;      // where the archive comment starts
  int64_t EndRecordPosition = -1;   // where the end record was found (-1: none)
  int64_t CentralDirPosition = -1;  // where the first central header was found (-1: none)

  // The archive comment's recorded length (0 with an extended end record, whose standard copy
  // holds only the signature).
  uint16_t CommentLength() const { return Extended ? 0 : EndRecord.CommentLength; }
  // The number of the last volume of a split set (its end record's "this disk").
  uint32_t LastDisk() const {
    return Zip64 ? Zip64End.NumberOfThisDisk : EndRecord.NumberOfThisDisk;
  }
  // The entries the directory announces (0 when the end record does not say).
  uint64_t TotalEntries() const {
    return Zip64 ? Zip64End.TotalEntries : Extended ? 0 : EndRecord.TotalEntries;
  }
};

// Searches `stream` (an open archive of `archiveSize` bytes) for its end record and directory.
// End signatures are tried from the file's end backwards, behind a comment of up to 65,535 bytes;
// one counts only when what it points to (through a ZIP64 end record when it leads to one) is a
// central directory, so an end record quoted inside a comment is passed over. When none does, the
// last one in the file decides as before: no directory, and the first local header in the first
// four blocks is the start. Returns the start offset for the walk: the central directory's
// position, 0 when no end record is found, -1 when the fallback scan finds no local header.
// `cipher` deciphers enciphered records.
// The caller sets OffsetAdjustment and CommentPosition to 0 first when it wants them reset.
// Raises only what the stream raises.
int64_t LocateCentralDir(TStream32& stream, int64_t archiveSize, TZipLocation& location,
                         TZipCipher& cipher);

// ---- methods, names and member ends (shared by the extractor and the lister) --------------------
// Whether a stored name is OEM text (to be converted when TranslateOemChar is set): not when flag
// bit 11 marks it UTF-8, nor when the central header's "version made by" names a host other than
// a DOS, OS/2 or Windows file system (0, 6, 10, 11, 14). Local headers carry no host:
// `versionMadeBy` < 0.
bool ZipNameIsOem(uint16_t flags, int versionMadeBy);
// The name in system form: OEM text converted when `translateOem` and ZipNameIsOem, then "/" to
// "\".
std::string ConvertZipName(const std::string& raw, bool translateOem, uint16_t flags,
                           int versionMadeBy);

// What a data descriptor said about a member whose local header left CRC and sizes to it.
struct TDataDescriptor {
  uint32_t Crc32 = 0;
  int64_t PackedSize = 0;
  int64_t UnpackedSize = 0;
};

// Where a member found through its local header ends, and what its data descriptor said.
struct TLocalMemberEnd {
  int64_t Next = 0;            // the position right after the member (and its descriptor)
  bool HasDescriptor = false;  // Descriptor holds the member's CRC and sizes
  TDataDescriptor Descriptor;
};

// For a member read through its local header alone (no central directory): where it ends. Without
// flag bit 3 that is the data start plus the header's compressed size. With it, the data
// descriptor (with or without its 50 4B 07 08 signature, 32- or 64-bit sizes) behind the data is
// read; when the header's compressed size is 0, a deflated or Deflate64 member is decoded (output
// thrown away) to find where its data ends, an encrypted one is searched for a signed descriptor
// whose compressed size matches its distance, and a member of any other method qualifies only when
// a descriptor of an empty member follows its header directly. False when the end cannot be found
// (the walk cannot go on safely). `cancel`, when set and non-zero, stops a long search (false).
bool FindLocalMemberEnd(TStream32& archive, const TLocalFileHeader& header, int64_t packedSize,
                        int64_t unpackedSize, int64_t dataStart, TLocalMemberEnd& end,
                        const uint8_t* cancel = nullptr);
