// The in-memory zip writer for tests. Field layouts are written out by hand here (not through the
// engine's record structs), so a test that reads them back checks the engine against an
// independent writer.
#include "support/ZipBuilder.h"

#include <array>
#include <cstdio>
#include <fstream>

namespace ziptest {
namespace {

const std::array<uint32_t, 256>& CrcTable() {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  return table;
}

void Put16(Bytes& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(Bytes& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Put64(Bytes& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Append(Bytes& out, const Bytes& more) {
  out.insert(out.end(), more.begin(), more.end());
}
void Append(Bytes& out, const std::string& more) {
  out.insert(out.end(), more.begin(), more.end());
}

uint32_t Signature(uint8_t second, uint8_t third, uint8_t fourth) {
  return 0x50u | (static_cast<uint32_t>(second) << 8) | (static_cast<uint32_t>(third) << 16) |
         (static_cast<uint32_t>(fourth) << 24);
}

// "PK", "PL" (enciphered), "PM" (alternative plain), "PN" (alternative enciphered).
uint8_t SecondLetter(const ZipMember& m) {
  if (m.encipheredHeader) return m.altSignature ? 'N' : 'L';
  return m.altSignature ? 'M' : 'K';
}

// Enciphers bytes [4, end) of a header and then the name, with the header keys.
void EncipherHeader(Bytes& out, size_t start, size_t fixedEnd, size_t nameEnd) {
  TestCipher c;
  c.ResetHeaderKeys();
  c.EncryptBuffer(out.data() + start + 4, fixedEnd - start - 4);
  c.EncryptBuffer(out.data() + fixedEnd, nameEnd - fixedEnd);
}

}  // namespace

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc) {
  crc = ~crc;
  const auto& t = CrcTable();
  for (size_t i = 0; i < size; ++i) crc = t[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

Bytes ToBytes(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

// ---- the cipher ---------------------------------------------------------------------------------
void TestCipher::Reset() {
  k0_ = 0x12345678;
  k1_ = 0x23456789;
  k2_ = 0x34567890;
}

void TestCipher::ResetHeaderKeys() {
  k0_ = 0x12345678u & 0x34567890u;
  k1_ = 0x23456789u & 0x12345678u;
  k2_ = 0x34567890u & 0x23456789u;
}

void TestCipher::Update(uint8_t plain) {
  const auto& t = CrcTable();
  k0_ = t[(k0_ ^ plain) & 0xFF] ^ (k0_ >> 8);
  k1_ = (k1_ + (k0_ & 0xFF)) * 134775813u + 1;
  k2_ = t[(k2_ ^ (k1_ >> 24)) & 0xFF] ^ (k2_ >> 8);
}

uint8_t TestCipher::KeyByte() const {
  const uint32_t t = (k2_ & 0xFFFF) | 2;
  return static_cast<uint8_t>((t * (t ^ 1)) >> 8);
}

void TestCipher::Password(const std::string& password) {
  Reset();
  for (char c : password) Update(static_cast<uint8_t>(c));
}

uint8_t TestCipher::Encrypt(uint8_t plain) {
  const uint8_t k = KeyByte();
  Update(plain);
  return plain ^ k;
}

uint8_t TestCipher::Decrypt(uint8_t cipher) {
  const uint8_t plain = cipher ^ KeyByte();
  Update(plain);
  return plain;
}

// ---- the builder --------------------------------------------------------------------------------
ZipBuilder& ZipBuilder::Add(ZipMember member) {
  members_.push_back(std::move(member));
  return *this;
}

ZipBuilder& ZipBuilder::AddStored(const std::string& name, const std::string& contents) {
  ZipMember m;
  m.name = name;
  m.data = ToBytes(contents);
  return Add(std::move(m));
}

ZipBuilder& ZipBuilder::Prefix(Bytes bytes, bool offsetsRelativeToArchive) {
  prefix_ = std::move(bytes);
  relative_ = offsetsRelativeToArchive;
  return *this;
}

ZipBuilder& ZipBuilder::Comment(std::string comment) {
  comment_ = std::move(comment);
  return *this;
}
ZipBuilder& ZipBuilder::SpanMarker(bool on) {
  spanMarker_ = on;
  return *this;
}
ZipBuilder& ZipBuilder::ExtendedEnd(bool on) {
  extended_ = on;
  return *this;
}
ZipBuilder& ZipBuilder::EncipheredEnd(bool on) {
  encipheredEnd_ = on;
  return *this;
}
ZipBuilder& ZipBuilder::NoEndRecord(bool on) {
  noEnd_ = on;
  return *this;
}
ZipBuilder& ZipBuilder::NoCentralDirectory(bool on) {
  noCentral_ = on;
  return *this;
}
ZipBuilder& ZipBuilder::DiskNumbers(uint16_t thisDisk, uint16_t centralDisk) {
  thisDisk_ = thisDisk;
  centralDisk_ = centralDisk;
  return *this;
}
ZipBuilder& ZipBuilder::CentralOffsetOverride(uint64_t offset) {
  centralOffsetOverride_ = offset;
  return *this;
}
ZipBuilder& ZipBuilder::CentralSizeOverride(uint32_t size) {
  centralSizeOverride_ = size;
  return *this;
}
ZipBuilder& ZipBuilder::TotalEntriesOverride(uint16_t entries) {
  totalEntriesOverride_ = entries;
  return *this;
}
ZipBuilder& ZipBuilder::Trailer(Bytes bytes) {
  trailer_ = std::move(bytes);
  return *this;
}

Bytes ZipBuilder::Build() {
  layout_ = ZipLayout{};
  layout_.prefixSize = prefix_.size();
  Bytes out = prefix_;
  // Recorded offsets count from the archive's start when the stub is simply in front.
  const uint64_t base = relative_ ? prefix_.size() : 0;
  if (spanMarker_) Put32(out, Signature('K', 7, 8));

  struct Written {
    uint32_t crc;
    uint64_t packed, unpacked;
    bool high;
  };
  std::vector<Written> written;
  for (const ZipMember& m : members_) {
    const Bytes& plain = m.plain ? *m.plain : m.data;
    const uint32_t crc = m.crcOverride ? *m.crcOverride : Crc32(plain);
    Bytes data = m.data;
    uint16_t flags = m.flags;
    if (m.password) {
      flags |= 0x0001;
      TestCipher c;
      c.Password(*m.password);
      Bytes header(12);
      for (size_t i = 0; i < 11; ++i) header[i] = static_cast<uint8_t>(0x5A ^ (i * 37));
      header[11] = (flags & 0x0008) ? static_cast<uint8_t>(m.dosDateTime >> 8)
                                    : static_cast<uint8_t>(crc >> 24);
      c.EncryptBuffer(header.data(), header.size());
      c.EncryptBuffer(data.data(), data.size());
      data.insert(data.begin(), header.begin(), header.end());
    }
    const uint64_t packed = m.packedSizeOverride ? *m.packedSizeOverride : data.size();
    const uint64_t unpacked = m.unpackedSizeOverride ? *m.unpackedSizeOverride : plain.size();
    const bool high = m.highWordsExtra || packed > 0xFFFFFFFFu || unpacked > 0xFFFFFFFFu;
    written.push_back({crc, packed, unpacked, high});

    Bytes extra;
    const ZipMember::Zip64Fields& z64 = m.zip64Local;
    if (z64.unpacked || z64.packed) {
      Put16(extra, 0x0001);
      Put16(extra, 8 * (z64.unpacked + z64.packed));
      if (z64.unpacked) Put64(extra, unpacked);
      if (z64.packed) Put64(extra, packed);
    }
    if (high) {
      Put16(extra, 0x0064);
      Put16(extra, 4);
      Put16(extra, static_cast<uint32_t>(packed >> 32));
      Put16(extra, static_cast<uint32_t>(unpacked >> 32));
    }
    Append(extra, m.localExtra);

    const size_t start = out.size();
    layout_.localOffsets.push_back(start);
    Put32(out, Signature(SecondLetter(m), 3, 4));
    Put16(out, m.versionNeeded);
    Put16(out, flags);
    Put16(out, m.method);
    Put32(out, m.dosDateTime);
    const bool zeroSizes = m.localSizesZero.has_value();
    Put32(out, m.localCrcOverride ? *m.localCrcOverride : crc);
    Put32(out, zeroSizes ? 0 : z64.packed ? 0xFFFFFFFFu : static_cast<uint32_t>(packed));
    Put32(out, zeroSizes ? 0 : z64.unpacked ? 0xFFFFFFFFu : static_cast<uint32_t>(unpacked));
    Put16(out, m.storedNameLengthOverride ? *m.storedNameLengthOverride
                                          : static_cast<uint32_t>(m.name.size()));
    Put16(out, static_cast<uint32_t>(extra.size()));
    const size_t fixedEnd = out.size();
    Append(out, m.name);
    if (m.encipheredHeader) EncipherHeader(out, start, fixedEnd, out.size());
    Append(out, extra);
    Append(out, data);
    Append(out, m.trailer);
  }

  const uint64_t centralStart = out.size();
  layout_.centralOffset = centralStart;
  uint16_t entries = 0;
  if (!noCentral_) {
    for (size_t i = 0; i < members_.size(); ++i) {
      const ZipMember& m = members_[i];
      if (m.noCentral) continue;
      ++entries;
      const Written& w = written[i];
      const uint64_t localOffset = layout_.localOffsets[i] - base;
      Bytes extra;
      const ZipMember::Zip64Fields& c64 = m.zip64Central;
      if (c64.unpacked || c64.packed || c64.offset || c64.disk) {
        Put16(extra, 0x0001);
        Put16(extra, 8 * (c64.unpacked + c64.packed + c64.offset) + 4 * c64.disk);
        if (c64.unpacked) Put64(extra, w.unpacked);
        if (c64.packed) Put64(extra, w.packed);
        if (c64.offset) Put64(extra, localOffset);
        if (c64.disk) Put32(extra, m.diskNumberStart);
      }
      if (w.high || localOffset > 0xFFFFFFFFu) {
        Put16(extra, 0x0064);
        Put16(extra, 6);
        Put16(extra, static_cast<uint32_t>(w.packed >> 32));
        Put16(extra, static_cast<uint32_t>(w.unpacked >> 32));
        Put16(extra, static_cast<uint32_t>(localOffset >> 32));
      }
      Append(extra, m.centralExtra);
      const size_t start = out.size();
      Put32(out, Signature(SecondLetter(m), 1, 2));
      Put16(out, m.versionMadeBy);
      Put16(out, m.versionNeeded);
      Put16(out, m.flags | (m.password ? 0x0001 : 0));
      Put16(out, m.method);
      Put32(out, m.dosDateTime);
      Put32(out, w.crc);
      Put32(out, c64.packed ? 0xFFFFFFFFu : static_cast<uint32_t>(w.packed));
      Put32(out, c64.unpacked ? 0xFFFFFFFFu : static_cast<uint32_t>(w.unpacked));
      Put16(out, m.storedNameLengthOverride ? *m.storedNameLengthOverride
                                            : static_cast<uint32_t>(m.name.size()));
      Put16(out, static_cast<uint32_t>(extra.size()));
      Put16(out, static_cast<uint32_t>(m.comment.size()));
      Put16(out, c64.disk ? 0xFFFFu : m.diskNumberStart);
      Put16(out, m.internalAttributes);
      Put32(out, m.externalAttributes);
      Put32(out, c64.offset ? 0xFFFFFFFFu : static_cast<uint32_t>(localOffset));
      const size_t fixedEnd = out.size();
      Append(out, m.name);
      if (m.encipheredHeader) EncipherHeader(out, start, fixedEnd, out.size());
      Append(out, extra);
      Append(out, m.comment);
    }
  }
  layout_.centralSize = out.size() - centralStart;

  if (!noEnd_) {
    layout_.endOffset = out.size();
    const size_t start = out.size();
    const uint64_t dirOffset =
        centralOffsetOverride_ ? *centralOffsetOverride_ : centralStart - base;
    const uint8_t second = encipheredEnd_ ? 'L' : 'K';
    if (extended_) {
      // 0x06055B50 / 0x06055C50: the second byte is the standard one plus 0x10.
      Put32(out, Signature(static_cast<uint8_t>(second + 0x10), 5, 6));
      Put16(out, thisDisk_);
      Put16(out, centralDisk_);
      Put16(out, totalEntriesOverride_ ? *totalEntriesOverride_ : entries);
      Put16(out, totalEntriesOverride_ ? *totalEntriesOverride_ : entries);
      Put32(out, centralSizeOverride_ ? *centralSizeOverride_
                                      : static_cast<uint32_t>(layout_.centralSize));
      Put64(out, dirOffset);
      Put16(out, static_cast<uint32_t>(comment_.size()));
    } else {
      Put32(out, Signature(second, 5, 6));
      Put16(out, thisDisk_);
      Put16(out, centralDisk_);
      Put16(out, totalEntriesOverride_ ? *totalEntriesOverride_ : entries);
      Put16(out, totalEntriesOverride_ ? *totalEntriesOverride_ : entries);
      Put32(out, centralSizeOverride_ ? *centralSizeOverride_
                                      : static_cast<uint32_t>(layout_.centralSize));
      Put32(out, static_cast<uint32_t>(dirOffset));
      Put16(out, static_cast<uint32_t>(comment_.size()));
    }
    if (encipheredEnd_) {
      TestCipher c;
      c.ResetHeaderKeys();
      c.EncryptBuffer(out.data() + start + 4, out.size() - start - 4);
    }
    Append(out, comment_);
  }
  Append(out, trailer_);
  return out;
}

bool ZipBuilder::WriteTo(const std::string& hostPath) {
  const Bytes bytes = Build();
  std::ofstream f(hostPath, std::ios::binary | std::ios::trunc);
  if (!f) return false;
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(f);
}

}  // namespace ziptest
