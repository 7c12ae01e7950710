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
    EXPECT_EQ(s.valid, c.valid) << std::hex << c.value;
    EXPECT_EQ(s.enciphered, c.enciphered) << std::hex << c.value;
    EXPECT_EQ(s.extended, c.extended) << std::hex << c.value;
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
  EXPECT_EQ(k.key0, 0x12345678u & 0x34567890u);
  EXPECT_EQ(k.key1, 0x23456789u & 0x12345678u);
  EXPECT_EQ(k.key2, 0x34567890u & 0x23456789u);
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
  EXPECT_TRUE(ClassifyZipSignature(GetLe32(header), TZipRecordKind::Local).enciphered);
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
  EXPECT_NE(one.HeaderCipher().key0, ZipHeaderKeys().key0);  // moved on through 26 bytes
  EXPECT_EQ(two.HeaderCipher().key0, before.key0);
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
  // An archive that is only an end record at offset 0: index 0 of the window is never tried.
  ZipBuilder empty;
  const Located l = Locate(empty.Build());
  EXPECT_EQ(l.result, 0);
  EXPECT_EQ(l.where.HeaderState, 0);
}

TEST(LocateCentralDir, CommentLengthLimit) {
  for (size_t comment : {32745u, 32746u}) {
    ZipBuilder zb;
    zb.AddStored("a.txt", std::string(2000, 'a')).Comment(std::string(comment, 'c'));
    const Bytes zip = zb.Build();
    ASSERT_GT(zip.size(), 32768u);
    const Located l = Locate(zip);
    if (comment == 32745) {
      EXPECT_EQ(l.where.HeaderState, 7) << comment;
      EXPECT_EQ(l.result, static_cast<int64_t>(zb.Layout().centralOffset));
    } else {
      EXPECT_EQ(l.where.HeaderState, 0) << comment;
      EXPECT_EQ(l.result, 0);
    }
  }
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

TEST(LocateCentralDir, NearestEndSignatureWins) {
  // An end signature inside the comment is the one found (the window is searched from its end).
  ZipBuilder zb;
  zb.AddStored("a.txt", "hello").Comment(std::string("PK\x05\x06", 4) + std::string(30, '\0'));
  const Located l = Locate(zb.Build());
  EXPECT_EQ(l.where.EndRecordPosition, static_cast<int64_t>(zb.Layout().endOffset) + 22);
}

TEST(LocateCentralDir, ReadsOneWindowThenAtMostFourMore) {
  ZipBuilder zb;
  zb.Prefix(Pseudo(300000, 7)).AddStored("a.txt", "hello");
  TMemReadStream s(PointNowhere(zb).Build());
  TZipLocation where;
  TZipCipher cipher;
  EXPECT_EQ(LocateCentralDir(s, s.GetSize(), where, cipher), -1);
  EXPECT_LE(s.BytesRead(), 5 * 32768 + 2 * 46);
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
