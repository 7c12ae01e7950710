// An in-memory zip writer for tests: local headers, central directory, standard or extended end
// record, enciphered-header forms, the 0x0064 high-word extra subfield, comments, the spanning
// marker and arbitrary bytes in front (a self-extracting stub). It writes members exactly as
// given (stored bytes or data compressed by the caller) and can encrypt them with the traditional
// cipher; its own CRC-32 and cipher are independent of the engine's, so tests can use it as an
// oracle. It is not an archiver: no compression, no validation of what a test asks for.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ziptest {

using Bytes = std::vector<uint8_t>;

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0);  // standard zip CRC-32
inline uint32_t Crc32(const Bytes& b) {
  return Crc32(b.data(), b.size());
}
Bytes ToBytes(const std::string& text);

struct ZipMember {
  std::string name;  // stored as given (use "/" separators)
  Bytes data;        // the member's data as stored (already compressed for method != 0)
  std::optional<Bytes>
      plain;  // uncompressed contents, for the CRC and unpacked size; default: data
  uint16_t method = 0;
  uint16_t flags = 0;
  uint32_t dosDateTime = 0x5A8C6000;  // 2025-04-12 12:00:00
  uint16_t versionMadeBy = 20;
  uint16_t versionNeeded = 20;
  uint32_t externalAttributes = 0x20;
  uint16_t internalAttributes = 0;
  uint16_t diskNumberStart = 0;
  std::string comment;  // the member's file comment (central directory)
  Bytes localExtra;     // appended after the 0x0064 subfield when both are present
  Bytes centralExtra;

  // Values that override what the builder would write (for corrupt or special archives).
  std::optional<uint32_t> crcOverride;
  std::optional<uint32_t> localCrcOverride;    // local header only (e.g. 0 with a descriptor)
  std::optional<uint64_t> packedSizeOverride;  // both headers; 48 bits via the 0x0064 subfield
  std::optional<uint64_t> unpackedSizeOverride;
  std::optional<uint32_t> localSizesZero;            // write 0 sizes in the local header when set
  std::optional<uint16_t> storedNameLengthOverride;  // name length field differs from the name

  // Forms.
  bool encipheredHeader = false;  // "PL"/"PN" local and central headers, names enciphered
  bool altSignature = false;      // "PM" (plain) or "PN" (enciphered) instead of "PK"/"PL"
  bool highWordsExtra = false;    // write the 0x0064 subfield (automatic when a size needs it)
  bool noCentral = false;         // leave this member out of the central directory
  // Encrypt with the traditional cipher under this password (adds the 12-byte header and sets
  // flag bit 0). The check byte follows flag bit 3 (time high byte) or the CRC's high byte.
  std::optional<std::string> password;
  // Bytes written after the data (e.g. a data descriptor).
  Bytes trailer;
  // Fields written as all ones with their true values in a ZIP64 (0x0001) subfield, placed before
  // any other extra data, in the published order: uncompressed size, compressed size, local-header
  // offset, disk number.
  struct Zip64Fields {
    bool unpacked = false, packed = false, offset = false, disk = false;
  };
  Zip64Fields zip64Local, zip64Central;
};

// Where things landed in the last Build().
struct ZipLayout {
  std::vector<uint64_t> localOffsets;  // absolute file positions of each local header
  uint64_t centralOffset = 0;          // absolute position of the first central header
  uint64_t centralSize = 0;
  uint64_t endOffset = 0;  // absolute position of the end record
  uint64_t prefixSize = 0;
};

class ZipBuilder {
 public:
  ZipBuilder& Add(ZipMember member);
  ZipBuilder& AddStored(const std::string& name, const std::string& contents);
  // Bytes before the archive (a stub). With offsetsRelativeToArchive the recorded offsets start
  // at the archive's own start (as when a zip is simply appended to a program); otherwise they
  // are absolute file positions (as after "zip -A").
  ZipBuilder& Prefix(Bytes bytes, bool offsetsRelativeToArchive = false);
  ZipBuilder& Comment(std::string comment);
  ZipBuilder& SpanMarker(bool on = true);          // 50 4B 07 08 at the archive's start
  ZipBuilder& ExtendedEnd(bool on = true);         // 26-byte extended end record
  ZipBuilder& EncipheredEnd(bool on = true);       // "PL" end record, enciphered after signature
  ZipBuilder& NoEndRecord(bool on = true);         // stop after the central directory
  ZipBuilder& NoCentralDirectory(bool on = true);  // members only (and an end record unless off)
  ZipBuilder& DiskNumbers(uint16_t thisDisk, uint16_t centralDisk);
  // Recorded directory offset/size that differ from the truth (corrupt archives).
  ZipBuilder& CentralOffsetOverride(uint64_t offset);
  ZipBuilder& CentralSizeOverride(uint32_t size);
  ZipBuilder& TotalEntriesOverride(uint16_t entries);
  // Bytes written after the end record and its comment.
  ZipBuilder& Trailer(Bytes bytes);

  Bytes Build();
  const ZipLayout& Layout() const { return layout_; }
  // Builds and writes to a host path; false when the file cannot be written.
  bool WriteTo(const std::string& hostPath);

 private:
  std::vector<ZipMember> members_;
  Bytes prefix_;
  bool relative_ = false;
  std::string comment_;
  bool spanMarker_ = false, extended_ = false, encipheredEnd_ = false, noEnd_ = false,
       noCentral_ = false;
  uint16_t thisDisk_ = 0, centralDisk_ = 0;
  std::optional<uint64_t> centralOffsetOverride_;
  std::optional<uint32_t> centralSizeOverride_;
  std::optional<uint16_t> totalEntriesOverride_;
  Bytes trailer_;
  ZipLayout layout_;
};

// The traditional cipher, written independently of the engine's (for building test archives).
class TestCipher {
 public:
  TestCipher() { Reset(); }
  void Reset();            // the standard initial keys
  void ResetHeaderKeys();  // the enciphered-header keys
  void Password(const std::string& password);
  uint8_t Encrypt(uint8_t plain);
  uint8_t Decrypt(uint8_t cipher);
  void EncryptBuffer(uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) p[i] = Encrypt(p[i]);
  }

 private:
  void Update(uint8_t plain);
  uint8_t KeyByte() const;
  uint32_t k0_ = 0, k1_ = 0, k2_ = 0;
};

}  // namespace ziptest
