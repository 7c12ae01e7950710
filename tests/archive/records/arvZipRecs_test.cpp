// The zip records: signatures, field offsets, enciphered headers, names, the 0x0064 subfield and
// the central-directory locator, on archives from the test zip writer and from Info-ZIP and 7-Zip.
#include "archive/records/arvZipRecs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "archive/common/arvStreams.h"
#include "archive/records/arvregister.h"
#include "support/MemStream.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

namespace {

using ziptest::Bytes;
using ziptest::ZipBuilder;
using ziptest::ZipMember;

struct Located {
  int64_t result;
  TZipLocation where;
};

Located Locate(const Bytes& bytes) {
  TMemReadStream s(bytes);
  Located l{};
  TZipCipher cipher;
  l.result = LocateCentralDir(s, static_cast<int64_t>(bytes.size()), l.where, cipher);
  return l;
}

// An end record whose recorded and fallback positions both miss the directory.
ZipBuilder& PointNowhere(ZipBuilder& zb) {
  return zb.CentralOffsetOverride(7).CentralSizeOverride(1).Comment(std::string(40, 'c'));
}

Bytes Pseudo(size_t n, uint32_t seed) {
  Bytes b(n);
  for (auto& c : b) {
    seed = seed * 1103515245 + 12345;
    c = static_cast<uint8_t>(seed >> 24);
    if (c == 'P') c = 'p';  // no stray signatures
  }
  return b;
}

// ---- signatures
// ----------------------------------------------------------------------------------
TEST(ClassifyZipSignature, EachKindItsForms) {
  using K = TZipRecordKind;
  struct Case {
    uint32_t value;
    K kind;
    bool valid, enciphered, extended;
  } cases[] = {
      {0x04034B50, K::Local, true, false, false},    {0x04034D50, K::Local, true, false, false},
      {0x04034C50, K::Local, true, true, false},     {0x04034E50, K::Local, true, true, false},
      {0x02014B50, K::Local, false, false, false},   {0x02014B50, K::Central, true, false, false},
      {0x02014D50, K::Central, true, false, false},  {0x02014C50, K::Central, true, true, false},
      {0x02014E50, K::Central, true, true, false},   {0x04034B50, K::Central, false, false, false},
      {0x06054B50, K::End, true, false, false},      {0x06054C50, K::End, true, true, false},
      {0x06055B50, K::End, true, false, true},       {0x06055C50, K::End, true, true, true},
      {0x06054D50, K::End, false, false, false},     {0x08074B50, K::Local, false, false, false},
      {0x08074B50, K::End, false, false, false},     {0x06064B50, K::End, false, false, false},
      {0x05054B50, K::Central, false, false, false},
  };
  for (const Case& c : cases) {
    const TZipSignature s = ClassifyZipSignature(c.value, c.kind);
    EXPECT_EQ(s.Valid, c.valid) << std::hex << c.value;
    EXPECT_EQ(s.Enciphered, c.enciphered) << std::hex << c.value;
    EXPECT_EQ(s.Extended, c.extended) << std::hex << c.value;
  }
  EXPECT_EQ(kSpanMarkerSig, GetLe32(reinterpret_cast<const uint8_t*>("PK\x07\x08")));
}

// ---- records at their offsets
// --------------------------------------------------------------------
TEST(Records, FieldsAtTheirOffsets) {
  uint8_t b[46];
  for (int i = 0; i < 46; ++i) b[i] = static_cast<uint8_t>(i + 1);
  const TLocalFileHeader l = TLocalFileHeader::Decode(b);
  EXPECT_EQ(l.Signature, 0x04030201u);
  EXPECT_EQ(l.Flags, 0x0807);
  EXPECT_EQ(l.Method, 0x0A09);
  EXPECT_EQ(l.DosDateTime, 0x0E0D0C0Bu);
  EXPECT_EQ(l.Time(), 0x0C0B);
  EXPECT_EQ(l.Crc32, 0x1211100Fu);
  EXPECT_EQ(l.PackedSize, 0x16151413u);
  EXPECT_EQ(l.UnpackedSize, 0x1A191817u);
  EXPECT_EQ(l.NameLength, 0x1C1B);
  EXPECT_EQ(l.ExtraLength, 0x1E1D);
  const TCentralFileHeader c = TCentralFileHeader::Decode(b);
  EXPECT_EQ(c.VersionMadeBy, 0x0605);
  EXPECT_EQ(c.Flags, 0x0A09);
  EXPECT_EQ(c.Method, 0x0C0B);
  EXPECT_EQ(c.Crc32, 0x14131211u);
  EXPECT_EQ(c.NameLength, 0x1E1D);
  EXPECT_EQ(c.CommentLength, 0x2221);
  EXPECT_EQ(c.DiskNumberStart, 0x2423);
  EXPECT_EQ(c.ExternalAttributes, 0x2A292827u);
  EXPECT_EQ(c.LocalHeaderOffset, 0x2E2D2C2Bu);
  const TEndOfCentralDir e = TEndOfCentralDir::Decode(b);
  EXPECT_EQ(e.NumberOfThisDisk, 0x0605);
  EXPECT_EQ(e.CentralDirSize, 0x100F0E0Du);
  EXPECT_EQ(e.CentralDirOffset, 0x14131211u);
  EXPECT_EQ(e.CommentLength, 0x1615);
  const TEndOfCentralDirEx x = TEndOfCentralDirEx::Decode(b);
  EXPECT_EQ(x.CentralDirOffset, 0x1817161514131211ull);
  // Encoding gives back the same bytes.
  uint8_t again[46] = {};
  l.Encode(again);
  EXPECT_EQ(std::memcmp(again, b, 30), 0);
  c.Encode(again);
  EXPECT_EQ(std::memcmp(again, b, 46), 0);
  e.Encode(again);
  EXPECT_EQ(std::memcmp(again, b, 22), 0);
  x.Encode(again);
  EXPECT_EQ(std::memcmp(again, b, 26), 0);
}

// ---- enciphered headers
// --------------------------------------------------------------------------
TEST(EncipheredHeaders, HeaderKeys) {
  const TZipCipher& k = ZipHeaderKeys();
  EXPECT_EQ(k.Key0, 0x12345678u & 0x34567890u);
  EXPECT_EQ(k.Key1, 0x23456789u & 0x12345678u);
  EXPECT_EQ(k.Key2, 0x34567890u & 0x23456789u);
}

TEST(EncipheredHeaders, LocalHeaderAndNameDecipherExtraDoesNot) {
  ZipMember m;
  m.name = "dir/enciphered.txt";
  m.data = ziptest::ToBytes("secret contents");
  m.encipheredHeader = true;
  m.highWordsExtra = true;  // a 0x0064 subfield in the (plain) extra field
  m.method = 0;
  ZipBuilder zb;
  zb.Add(m);
  const Bytes zip = zb.Build();
  uint8_t header[30];
  std::memcpy(header, zip.data(), 30);
  EXPECT_TRUE(ClassifyZipSignature(GetLe32(header), TZipRecordKind::Local).Enciphered);
  TZipCipher cipher;
  DecipherZipHeader(cipher, header, TZipRecordKind::Local);
  const TLocalFileHeader h = TLocalFileHeader::Decode(header);
  EXPECT_EQ(h.Signature, kLocalSigCiph);
  EXPECT_EQ(h.NameLength, m.name.size());
  EXPECT_EQ(h.UnpackedSize, 15u);
  EXPECT_EQ(h.Crc32, ziptest::Crc32(m.data));
  EXPECT_EQ(h.ExtraLength, 8);
  TMemReadStream s(zip);
  s.SetPosition(30);
  EXPECT_EQ(ReadZipName(s, h.NameLength, &cipher), m.name);
  const TZipHighWords w = ReadZipExtra(s, h.ExtraLength, false);
  EXPECT_EQ(w.PackedHigh, 0);
  EXPECT_EQ(s.Position(), 30 + static_cast<int64_t>(m.name.size()) + 8);
  // Deciphering always starts from the header keys: the same record twice gives the same.
  std::memcpy(header, zip.data(), 30);
  DecipherZipHeader(cipher, header, TZipRecordKind::Local);
  EXPECT_EQ(TLocalFileHeader::Decode(header).UnpackedSize, 15u);
}

TEST(EncipheredHeaders, CipherStateBelongsToTheComponent) {
  ZipMember m;
  m.name = "a.txt";
  m.data = ziptest::ToBytes("x");
  m.encipheredHeader = true;
  ZipBuilder zb;
  zb.Add(m);
  const Bytes zip = zb.Build();
  TRegisterArcova one, two;
  uint8_t header[30];
  std::memcpy(header, zip.data(), 30);
  one.DecipherZipHeader(header, TZipRecordKind::Local);
  const TZipCipher before = two.HeaderCipher();
  EXPECT_NE(one.HeaderCipher().Key0, ZipHeaderKeys().Key0);  // moved on through 26 bytes
  EXPECT_EQ(two.HeaderCipher().Key0, before.Key0);
}

// ---- names and extra fields
// ----------------------------------------------------------------------
TEST(ReadZipName, KeepsTheWholeNameAndLeavesTheStreamAfterIt) {
  // Names are never cut: two long names that share their first bytes stay two names.
  for (const uint32_t length : {300u, 65535u}) {
    Bytes b(length - 1, 'n');
    b.push_back('e');
    b.push_back('X');
    TMemReadStream s(b);
    const std::string name = ReadZipName(s, length);
    EXPECT_EQ(name.size(), length);
    EXPECT_EQ(name.back(), 'e');
    EXPECT_EQ(s.Position(), length);
    uint8_t next;
    EXPECT_EQ(s.Read(&next, 1), 1);
    EXPECT_EQ(next, 'X');
  }
  Bytes z = ziptest::ToBytes(std::string("abc\0def", 7));
  TMemReadStream s2(z);
  EXPECT_EQ(ReadZipName(s2, 7), "abc");
  EXPECT_EQ(s2.Position(), 7);
  TMemReadStream s3(ziptest::ToBytes("ab"));
  EXPECT_EQ(ReadZipName(s3, 10), "ab");  // a short read keeps what arrived
  EXPECT_EQ(ReadZipName(s3, 0), "");
}

TEST(ZipExtra, HighWordsAndOverlongSubfields) {
  // A foreign subfield, then 0x0064 with words 1, 2 and 3.
  const Bytes extra = {0x55, 0x54, 0x05, 0x00, 1, 2, 3, 4, 5, 0x64,
                       0x00, 0x06, 0x00, 1,    0, 2, 0, 3, 0};
  TZipHighWords local = ParseZipExtra(extra.data(), extra.size(), false);
  EXPECT_EQ(local.PackedHigh, 1);
  EXPECT_EQ(local.UnpackedHigh, 2);
  EXPECT_EQ(local.OffsetHigh, 0);
  TZipHighWords central = ParseZipExtra(extra.data(), extra.size(), true);
  EXPECT_EQ(central.OffsetHigh, 3);
  EXPECT_EQ(Combine48(local.PackedHigh, 10), 4294967306);
  EXPECT_EQ(Combine48(local.UnpackedHigh, 20), 8589934612);
  // A subfield that claims more than is left ends the walk; the 0x0064 after it is not seen.
  const Bytes overlong = {0x55, 0x54, 0x40, 0x00, 1, 2, 0x64, 0x00, 0x04, 0x00, 1, 0, 2, 0};
  EXPECT_EQ(ParseZipExtra(overlong.data(), overlong.size(), false).PackedHigh, 0);
  // An overlong 0x0064 is not read either.
  const Bytes overlong64 = {0x64, 0x00, 0x08, 0x00, 1, 0, 2, 0};
  EXPECT_EQ(ParseZipExtra(overlong64.data(), overlong64.size(), false).PackedHigh, 0);
  // Read from a stream: it is left after the field, also when the field runs past the end.
  Bytes withTail = extra;
  withTail.push_back('T');
  TMemReadStream s(withTail);
  EXPECT_EQ(ReadZipExtra(s, static_cast<uint32_t>(extra.size()), true).OffsetHigh, 3);
  EXPECT_EQ(s.Position(), static_cast<int64_t>(extra.size()));
  TMemReadStream shortStream(extra);
  ReadZipExtra(shortStream, 100, false);
  EXPECT_EQ(shortStream.Position(), 100);
}

TEST(ZipExtra, SizesOfAMemberWithHighWords) {
  ZipMember m;
  m.name = "big";
  m.data = ziptest::ToBytes("0123456789");
  m.packedSizeOverride = (1ull << 32) + 10;
  m.unpackedSizeOverride = (2ull << 32) + 20;
  ZipBuilder zb;
  zb.Add(m);
  const Bytes zip = zb.Build();
  const TLocalFileHeader h = TLocalFileHeader::Decode(zip.data());
  EXPECT_EQ(h.PackedSize, 10u);
  EXPECT_EQ(h.UnpackedSize, 20u);
  TMemReadStream s(zip);
  s.SetPosition(30);
  ReadZipName(s, h.NameLength);
  const TZipHighWords w = ReadZipExtra(s, h.ExtraLength, false);
  EXPECT_EQ(Combine48(w.PackedHigh, h.PackedSize), 4294967306);
  EXPECT_EQ(Combine48(w.UnpackedHigh, h.UnpackedSize), 8589934612);
}

// ---- the extra fields of today's writers
// ----------------------------------------------------------------------
Bytes Le(uint64_t v, int n);
Bytes Subfield(uint16_t id, const Bytes& data) {
  Bytes b = Le(id, 2);
  const Bytes size = Le(data.size(), 2);
  b.insert(b.end(), size.begin(), size.end());
  b.insert(b.end(), data.begin(), data.end());
  return b;
}
Bytes Le(uint64_t v, int n) {
  Bytes b;
  for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  return b;
}
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes b;
  for (const Bytes& p : parts)
    for (uint8_t c : p) b.push_back(c);
  return b;
}

// The 0x0001 subfield holds a value for each field that is all ones, and only for those, in the
// order uncompressed size, compressed size, offset, disk.
TEST(ZipExtra, Zip64ValuesFollowTheAllOnesFields) {
  const Bytes four =
      Subfield(1, Cat({Le(0x100000001, 8), Le(0x200000002, 8), Le(0x300000003, 8), Le(7, 4)}));
  TZip64Wanted all{true, true, true, true};
  TZipExtra x = ParseZipExtraFields(four.data(), four.size(), true, all);
  EXPECT_EQ(x.UnpackedSize(0xFFFFFFFF), 0x100000001);
  EXPECT_EQ(x.PackedSize(0xFFFFFFFF), 0x200000002);
  EXPECT_EQ(x.LocalOffset(0xFFFFFFFF, false), 0x300000003);
  EXPECT_EQ(x.DiskStart(0xFFFF), 7u);

  // Only the offset is all ones: the first value is the offset; the sizes keep their fields.
  TCentralFileHeader h;
  h.PackedSize = 10;
  h.UnpackedSize = 20;
  h.LocalHeaderOffset = 0xFFFFFFFF;
  h.DiskNumberStart = 0;
  const TZip64Wanted offsetOnly = Zip64Wanted(h);
  EXPECT_TRUE(offsetOnly.Offset && !offsetOnly.Packed && !offsetOnly.Unpacked && !offsetOnly.Disk);
  const Bytes one = Subfield(1, Le(0x123456789A, 8));
  x = ParseZipExtraFields(one.data(), one.size(), true, offsetOnly);
  EXPECT_EQ(x.LocalOffset(h.LocalHeaderOffset, false), 0x123456789A);
  EXPECT_EQ(x.PackedSize(h.PackedSize), 10);
  EXPECT_EQ(x.UnpackedSize(h.UnpackedSize), 20);

  // Compressed size and disk all ones: the compressed size first, then the disk.
  const Bytes packedAndDisk = Subfield(1, Cat({Le(0x100000001, 8), Le(2, 4)}));
  x = ParseZipExtraFields(packedAndDisk.data(), packedAndDisk.size(), true,
                          TZip64Wanted{false, true, false, true});
  EXPECT_FALSE(x.HasUnpacked64);
  EXPECT_EQ(x.Packed64, 0x100000001u);
  EXPECT_TRUE(x.HasDisk32);
  EXPECT_EQ(x.Disk32, 0x00000002u);

  // A subfield too short for what the header wants gives what it holds; no fields, no values.
  const Bytes shortOne = Subfield(1, Le(5, 8));
  x = ParseZipExtraFields(shortOne.data(), shortOne.size(), false, TZip64Wanted{true, true});
  EXPECT_TRUE(x.HasUnpacked64);
  EXPECT_FALSE(x.HasPacked64);
  EXPECT_EQ(x.PackedSize(0xFFFFFFFF), 0xFFFFFFFF);
  x = ParseZipExtraFields(four.data(), four.size(), false, TZip64Wanted{});
  EXPECT_FALSE(x.HasUnpacked64 || x.HasPacked64 || x.HasOffset64 || x.HasDisk32);
  // A value beyond 2^62 is cut to it: never negative, and a position plus it cannot overflow.
  const Bytes huge = Subfield(1, Le(~0ull, 8));
  x = ParseZipExtraFields(huge.data(), huge.size(), false, TZip64Wanted{true});
  EXPECT_EQ(x.UnpackedSize(0xFFFFFFFF), kMaxZip64Value);
  // The engine's 0x0064 words still count where 0x0001 gives nothing.
  const Bytes both = Cat({Subfield(0x64, Cat({Le(1, 2), Le(2, 2), Le(3, 2)})), one});
  x = ParseZipExtraFields(both.data(), both.size(), true, offsetOnly);
  EXPECT_EQ(x.PackedSize(10), 0x10000000A);
  EXPECT_EQ(x.LocalOffset(0xFFFFFFFF, true), 0x123456789A);
  x = ParseZipExtraFields(both.data(), both.size(), true, TZip64Wanted{});
  EXPECT_EQ(x.LocalOffset(0x10, true), 0x300000010);
  EXPECT_EQ(x.LocalOffset(0x10, false), 0x10);
}

TEST(ZipExtra, ExactTimes) {
  // Extended timestamp: flags (bit 0: modification time), then signed UTC seconds.
  const Bytes ut = Subfield(0x5455, Cat({Le(3, 1), Le(1700000001, 4), Le(1600000000, 4)}));
  TZipExtra x = ParseZipExtraFields(ut.data(), ut.size(), false, {});
  EXPECT_TRUE(x.HasModTime);
  EXPECT_EQ(x.ModTime, 1700000001);
  EXPECT_EQ(x.ModTimeNanos, 0u);
  const Bytes before1970 = Subfield(0x5455, Cat({Le(1, 1), Le(static_cast<uint32_t>(-86400), 4)}));
  EXPECT_EQ(ParseZipExtraFields(before1970.data(), before1970.size(), true, {}).ModTime, -86400);
  const Bytes accessOnly = Subfield(0x5455, Cat({Le(2, 1), Le(5, 4)}));
  EXPECT_FALSE(ParseZipExtraFields(accessOnly.data(), accessOnly.size(), true, {}).HasModTime);

  // NTFS: 100-ns units since 1601; it wins over the extended timestamp in either order.
  const uint64_t ticks = (1700000001ull + 11644473600ull) * 10000000ull + 1234567;
  const Bytes ntfs =
      Subfield(0x000A, Cat({Le(0, 4), Le(1, 2), Le(24, 2), Le(ticks, 8), Le(0, 8), Le(0, 8)}));
  for (const Bytes& field : {Cat({ut, ntfs}), Cat({ntfs, ut})}) {
    x = ParseZipExtraFields(field.data(), field.size(), true, {});
    EXPECT_EQ(x.ModTime, 1700000001);
    EXPECT_EQ(x.ModTimeNanos, 123456700u);
  }
  // An NTFS field without the times tag (or with a zero time) leaves the extended timestamp.
  const Bytes otherTag = Subfield(0x000A, Cat({Le(0, 4), Le(2, 2), Le(8, 2), Le(ticks, 8)}));
  const Bytes otherThenUt = Cat({otherTag, ut});
  x = ParseZipExtraFields(otherThenUt.data(), otherThenUt.size(), true, {});
  EXPECT_EQ(x.ModTime, 1700000001);
  EXPECT_EQ(x.ModTimeNanos, 0u);
}

TEST(ZipExtra, UnicodePathOnlyForItsOwnName) {
  const std::string stored =
      "Gr\x81\xe1"
      "e.txt";  // CP437
  const std::string utf8 =
      "Gr\xc3\xbc\xc3\x9f"
      "e.txt";
  const uint32_t crc = ziptest::Crc32(ziptest::ToBytes(stored));
  const auto storedBytes = reinterpret_cast<const uint8_t*>(stored.data());
  const Bytes good = Subfield(0x7075, Cat({Le(1, 1), Le(crc, 4), ziptest::ToBytes(utf8)}));
  TZipExtra x = ParseZipExtraFields(good.data(), good.size(), true, {});
  EXPECT_EQ(x.UnicodeNameFor(storedBytes, stored.size()), utf8);
  // Made for another name (the stored one was changed since): not used.
  EXPECT_EQ(x.UnicodeNameFor(storedBytes, stored.size() - 1), "");
  // An unknown version is not read.
  const Bytes v2 = Subfield(0x7075, Cat({Le(2, 1), Le(crc, 4), ziptest::ToBytes(utf8)}));
  EXPECT_FALSE(ParseZipExtraFields(v2.data(), v2.size(), true, {}).HasUnicodePath);
}

// ---- the locator
// ---------------------------------------------------------------------------------
TEST(LocateCentralDir, PlainArchive) {
  ZipBuilder zb;
  zb.AddStored("a.txt", "hello").AddStored("b.txt", "world").Comment("a comment");
  const Bytes zip = zb.Build();
  const Located l = Locate(zip);
  EXPECT_EQ(l.result, static_cast<int64_t>(zb.Layout().centralOffset));
  EXPECT_EQ(l.where.HeaderState, 7);
  EXPECT_EQ(l.where.OffsetAdjustment, 0);
  EXPECT_EQ(l.where.EndRecordPosition, static_cast<int64_t>(zb.Layout().endOffset));
  EXPECT_EQ(l.where.CommentPosition, static_cast<int64_t>(zb.Layout().endOffset) + 22);
  EXPECT_EQ(l.where.CommentLength(), 9);
  EXPECT_EQ(l.where.CentralHeader.NameLength, 5);
  EXPECT_EQ(l.where.LocalHeader.Signature, kLocalSig);
  EXPECT_FALSE(l.where.Extended);
}

TEST(LocateCentralDir, EmptyAndTinyArchives) {
  EXPECT_EQ(Locate({}).result, 0);
  EXPECT_EQ(Locate({'P'}).result, 0);
  // An archive that is only an end record at offset 0 (index 0 of the window is never tried) is
  // an empty archive, not a damaged one: its end record is found, with no entries.
  ZipBuilder empty;
  const Located l = Locate(empty.Build());
  EXPECT_EQ(l.result, 0);
  EXPECT_EQ(l.where.HeaderState, kHeaderEnd);
  EXPECT_EQ(l.where.AnnouncedEntries(), 0);
  ZipBuilder commented;
  commented.Comment("nothing here");
  EXPECT_EQ(Locate(commented.Build()).where.HeaderState, kHeaderEnd);
}

// The end record may lie behind a comment of up to 65,535 bytes; what lies further from the end
// (here a trailer behind the longest comment) is out of reach.
TEST(LocateCentralDir, CommentLengthLimit) {
  for (size_t comment : {32745u, 32746u, 40000u, 65535u}) {
    ZipBuilder zb;
    zb.AddStored("a.txt", std::string(2000, 'a')).Comment(std::string(comment, 'c'));
    const Bytes zip = zb.Build();
    const Located l = Locate(zip);
    EXPECT_EQ(l.where.HeaderState, 7) << comment;
    EXPECT_EQ(l.result, static_cast<int64_t>(zb.Layout().centralOffset));
    EXPECT_EQ(l.where.CommentLength(), comment);
  }
  ZipBuilder far;
  far.AddStored("a.txt", std::string(2000, 'a')).Comment(std::string(65535, 'c')).Trailer({0});
  const Located l = Locate(far.Build());
  EXPECT_EQ(l.where.HeaderState, 0);
  EXPECT_EQ(l.result, 0);
}

TEST(LocateCentralDir, DataInFrontShiftsEveryOffset) {
  ZipBuilder zb;
  zb.Prefix(Pseudo(5000, 1), true).AddStored("a.txt", "hello").AddStored("b.txt", "x");
  const Located l = Locate(zb.Build());
  EXPECT_EQ(l.result, static_cast<int64_t>(zb.Layout().centralOffset));
  EXPECT_EQ(l.where.OffsetAdjustment, 5000);
  EXPECT_EQ(l.where.HeaderState, 7);
  ZipBuilder absolute;
  absolute.Prefix(Pseudo(5000, 1), false).AddStored("a.txt", "hello");
  const Located a = Locate(absolute.Build());
  EXPECT_EQ(a.where.OffsetAdjustment, 0);
  EXPECT_EQ(a.where.HeaderState, 7);
}

TEST(LocateCentralDir, ExtendedEndRecord) {
  ZipBuilder zb;
  zb.Prefix(Pseudo(100, 2)).AddStored("a.txt", "hello").ExtendedEnd().Comment("xyz");
  const Located l = Locate(zb.Build());
  EXPECT_EQ(l.result, static_cast<int64_t>(zb.Layout().centralOffset));
  EXPECT_TRUE(l.where.Extended);
  EXPECT_EQ(l.where.EndRecord.Signature, kEndSigEx);
  EXPECT_EQ(l.where.EndRecord.CentralDirOffset, 0u);
  EXPECT_EQ(l.where.EndRecordEx.CentralDirOffset, zb.Layout().centralOffset);
  EXPECT_EQ(l.where.CommentPosition, static_cast<int64_t>(zb.Layout().endOffset) + 26);
  EXPECT_EQ(l.where.HeaderState, 7);
  // With relative offsets the fallback is the end record's own position (no directory size): a
  // directory right before it is not found there.
  ZipBuilder rel;
  rel.Prefix(Pseudo(100, 2), true)
      .AddStored("a.txt", "hello")
      .ExtendedEnd()
      .Comment(std::string(30, 'c'));
  const Located r = Locate(rel.Build());
  EXPECT_EQ(r.where.HeaderState, 1);  // the fallback scan found the local header
  EXPECT_EQ(r.result, 100);
}

TEST(LocateCentralDir, ExtendedSignatureCutOffAtTheEndIsNoRecord) {
  Bytes b = Pseudo(200, 3);
  const Bytes sig = {0x50, 0x5B, 0x05, 0x06};
  std::copy(sig.begin(), sig.end(), b.end() - 24);  // fits 22 bytes, not 26
  EXPECT_EQ(Locate(b).where.HeaderState, 0);
}

TEST(LocateCentralDir, EncipheredEndAndDirectory) {
  ZipMember m;
  m.name = "hidden.txt";
  m.data = ziptest::ToBytes("data");
  m.encipheredHeader = true;
  ZipMember alt = m;
  alt.name = "alt.txt";
  alt.altSignature = true;  // "PN"
  ZipBuilder zb;
  zb.Add(m).Add(alt).EncipheredEnd();
  const Located l = Locate(zb.Build());
  EXPECT_EQ(l.result, static_cast<int64_t>(zb.Layout().centralOffset));
  EXPECT_EQ(l.where.HeaderState, 7);
  EXPECT_EQ(l.where.EndRecord.TotalEntries, 2);
  EXPECT_EQ(l.where.CentralHeader.NameLength, 10);
  EXPECT_EQ(l.where.CentralHeader.Crc32, ziptest::Crc32(m.data));
}

TEST(LocateCentralDir, AlternativePlainSignatures) {
  ZipMember m;
  m.name = "pm.txt";
  m.data = ziptest::ToBytes("data");
  m.altSignature = true;  // "PM"
  ZipBuilder zb;
  zb.Add(m);
  const Bytes zip = zb.Build();
  EXPECT_EQ(zip[1], 'M');
  EXPECT_EQ(Locate(zip).where.HeaderState, 7);
}

TEST(LocateCentralDir, FallbackScanForALocalHeader) {
  // The end record points at nothing: the first local header in four windows is the start.
  ZipBuilder zb;
  zb.Prefix(Pseudo(40000, 4)).AddStored("a.txt", "hello");
  Located l = Locate(PointNowhere(zb).Build());
  EXPECT_EQ(l.result, 40000);
  EXPECT_EQ(l.where.HeaderState, 1);
  // Beyond the fourth window it is not found.
  ZipBuilder far;
  far.Prefix(Pseudo(4 * 32768 + 10, 5)).AddStored("a.txt", "hello");
  l = Locate(PointNowhere(far).Build());
  EXPECT_EQ(l.result, -1);
  EXPECT_EQ(l.where.HeaderState, 4);
  // A local header split across two windows is not seen.
  ZipBuilder split;
  split.Prefix(Pseudo(32768 - 2, 6)).AddStored("a.txt", "hello");
  l = Locate(PointNowhere(split).Build());
  EXPECT_EQ(l.result, -1);
}

TEST(LocateCentralDir, FallbackPositionBeforeTheFileEndsTheSearch) {
  // Neither the recorded nor the fallback position can be read (directory size larger than the
  // file): 0 with the end bit only.
  ZipBuilder zb;
  zb.AddStored("a.txt", "hello").CentralOffsetOverride(1u << 30).CentralSizeOverride(1u << 30);
  const Located l = Locate(zb.Build());
  EXPECT_EQ(l.result, 0);
  EXPECT_EQ(l.where.HeaderState, 4);
}

TEST(LocateCentralDir, DirectoryWithoutItsLocalHeader) {
  ZipMember m;
  m.name = "a.txt";
  m.data = ziptest::ToBytes("hello");
  ZipBuilder zb;
  zb.Add(m);
  Bytes zip = zb.Build();
  zip[0] = 'X';  // the local header is gone
  const Located l = Locate(zip);
  EXPECT_EQ(l.where.HeaderState, 6);
  EXPECT_EQ(l.result, static_cast<int64_t>(zb.Layout().centralOffset));
}

// An end record counts only when it leads to a central directory: one quoted in the comment (or
// planted there) is passed over, whatever it says, and the search goes on towards the file's
// start.
TEST(LocateCentralDir, EndRecordsThatLeadNowhereArePassedOver) {
  ZipBuilder zb;
  zb.AddStored("a.txt", "hello").Comment(std::string("PK\x05\x06", 4) + std::string(30, '\0'));
  Located l = Locate(zb.Build());
  EXPECT_EQ(l.where.EndRecordPosition, static_cast<int64_t>(zb.Layout().endOffset));
  EXPECT_EQ(l.where.HeaderState, 7);
  EXPECT_EQ(l.where.EndRecord.CommentLength, 34);

  // A planted record that announces no entries and a directory at the end record's own place.
  Bytes fake(22, 0);
  fake[0] = 'P', fake[1] = 'K', fake[2] = 5, fake[3] = 6;
  ZipBuilder planted;
  planted.AddStored("a.txt", "hello").AddStored("b.txt", "world");
  const Bytes plain = planted.Build();
  fake[16] = static_cast<uint8_t>(plain.size() + 22);
  planted.Comment(std::string(fake.begin(), fake.end()) + "tail");
  l = Locate(planted.Build());
  EXPECT_EQ(l.result, static_cast<int64_t>(planted.Layout().centralOffset));
  EXPECT_EQ(l.where.EndRecord.TotalEntries, 2);

  // When no record leads anywhere, the last one decides as before: the fallback scan.
  ZipBuilder none;
  none.AddStored("a.txt", "hello");
  PointNowhere(none).Comment(std::string("PK\x05\x06", 4) + std::string(60, '\0'));
  l = Locate(none.Build());
  EXPECT_EQ(l.where.EndRecordPosition, static_cast<int64_t>(none.Layout().endOffset) + 22);
  EXPECT_EQ(l.where.HeaderState, 1);
  EXPECT_EQ(l.result, 0);
}

TEST(LocateCentralDir, ReadsOneWindowThenAtMostFourMore) {
  ZipBuilder zb;
  zb.Prefix(Pseudo(300000, 7)).AddStored("a.txt", "hello");
  TMemReadStream s(PointNowhere(zb).Build());
  TZipLocation where;
  TZipCipher cipher;
  EXPECT_EQ(LocateCentralDir(s, s.GetSize(), where, cipher), -1);
  // The end window, the locator and directory probes of the one end record, four blocks.
  EXPECT_LE(s.BytesRead(), kZipLocatorWindow + 4 * kZipFallbackBlock + 20 + 2 * 46);
}

// A ZIP64 end record and its locator in front of an end record whose fields are all ones; with
// `prefix` bytes in front of the archive whose offsets do not count them.
Bytes Zip64Archive(const Bytes& prefix, uint64_t& centralOffset) {
  ZipBuilder zb;
  zb.AddStored("a.txt", "hello").AddStored("b.txt", "world!").NoEndRecord();
  Bytes zip = zb.Build();
  const uint64_t cdOffset = zb.Layout().centralOffset;
  const uint64_t cdSize = zip.size() - cdOffset;
  const uint64_t endOffset = zip.size();
  Bytes end64 = Cat({Le(0x06064B50, 4), Le(44, 8), Le(45, 2), Le(45, 2), Le(0, 4), Le(0, 4),
                     Le(2, 8), Le(2, 8), Le(cdSize, 8), Le(cdOffset, 8)});
  Bytes locator = Cat({Le(0x07064B50, 4), Le(0, 4), Le(endOffset, 8), Le(1, 4)});
  Bytes end = Cat({Le(0x06054B50, 4), Le(0xFFFF, 2), Le(0xFFFF, 2), Le(0xFFFF, 2), Le(0xFFFF, 2),
                   Le(0xFFFFFFFF, 4), Le(0xFFFFFFFF, 4), Le(0, 2)});
  Bytes all = Cat({prefix, zip, end64, locator, end});
  centralOffset = prefix.size() + cdOffset;
  return all;
}

TEST(LocateCentralDir, Zip64EndRecordThroughItsLocator) {
  uint64_t central = 0;
  Located l = Locate(Zip64Archive({}, central));
  EXPECT_EQ(l.result, static_cast<int64_t>(central));
  EXPECT_EQ(l.where.HeaderState, 7);
  EXPECT_TRUE(l.where.Zip64);
  EXPECT_EQ(l.where.TotalEntries(), 2u);
  EXPECT_EQ(l.where.LastDisk(), 0u);
  EXPECT_EQ(l.where.OffsetAdjustment, 0);
  // Data in front that the offsets do not count: the ZIP64 record is found right before its
  // locator, the directory right before that record.
  l = Locate(Zip64Archive(Pseudo(3000, 9), central));
  EXPECT_EQ(l.result, static_cast<int64_t>(central));
  EXPECT_EQ(l.where.HeaderState, 7);
  EXPECT_EQ(l.where.OffsetAdjustment, 3000);
  // A locator that leads to no ZIP64 record: the all-ones offset and size lead nowhere either.
  Bytes broken = Zip64Archive({}, central);
  broken[broken.size() - 22 - 20 - 56] = 'X';
  l = Locate(broken);
  EXPECT_FALSE(l.where.Zip64);
  EXPECT_EQ(l.where.HeaderState, 4);
  EXPECT_EQ(l.result, 0);
}

// ---- archives made by other tools
// ----------------------------------------------------------------
TEST(LocateCentralDir, InfoZipAnd7Zip) {
  parcelo::test::TempDir dir("ziprecs");
  dir.WriteFile("in/a.txt", std::string(5000, 'a'));
  dir.WriteFile("in/b.txt", "b");
  const std::string cd = "cd '" + dir.Host("in") + "' && ";
  struct Tool {
    const char* probe;
    std::string command;
    const char* out;
  } tools[] = {
      {"zip", cd + "zip -q ../i.zip a.txt b.txt", "i.zip"},
      {"zip", cd + "zip -q -P pw ../e.zip a.txt b.txt", "e.zip"},
      {"7z", cd + "7z a -tzip ../s.zip a.txt b.txt", "s.zip"},
  };
  int ran = 0;
  for (const Tool& t : tools) {
    if (std::system((std::string("command -v ") + t.probe + " >/dev/null 2>&1").c_str()) != 0) {
      continue;
    }
    ASSERT_EQ(std::system(("(" + t.command + ") >/dev/null 2>&1").c_str()), 0) << t.command;
    std::ifstream f(dir.Host(t.out), std::ios::binary);
    const Bytes zip((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const uint8_t central[] = {'P', 'K', 1, 2};
    const auto first = std::search(zip.begin(), zip.end(), central, central + 4);
    const Located l = Locate(zip);
    EXPECT_EQ(l.result, first - zip.begin()) << t.out;
    EXPECT_EQ(l.where.HeaderState, 7) << t.out;
    EXPECT_EQ(l.where.EndRecord.TotalEntries, 2) << t.out;
    ++ran;
  }
  if (ran == 0) GTEST_SKIP() << "neither zip nor 7z installed";
}

}  // namespace
