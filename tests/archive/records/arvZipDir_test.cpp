// The zip directory reader on archives built in memory: the directory's members in archive order
// with their sizes and offsets, a short directory completed from the local headers (members the
// caller listed marked, the damage said once), the local-header walk (spanning marker, data
// descriptors, a member whose end cannot be found ends the walk), names (Unicode Path, OEM) and a
// walk that meets no header at all. Listing and extraction over the same reader are the lister's
// and the extractor's suites.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "archive/messages/Err_Msgs.h"
#include "archive/records/arvZipDir.h"
#include "support/MemStream.h"
#include "support/ZipBuilder.h"
#include "support/ZlibDeflate.h"

namespace {

using ziptest::Bytes;
using ziptest::ZipBuilder;
using ziptest::ZipMember;

struct TWalked {
  std::vector<TZipDirMember> members;
  std::vector<std::string> reports;  // "severity code detail"
  bool damaged = false;
};

// Walks `bytes` from `start` (the directory, or the local headers); the caller "lists" every
// directory member, as the extractor does with a selected one whose local header is there.
TWalked Walk(const Bytes& bytes, bool directory, int64_t start, int64_t announced = -1,
             bool sayNoHeader = false) {
  TMemReadStream stream(bytes);
  TWalked walked;
  TZipDirectoryReader::TSetup setup;
  setup.Directory = directory;
  setup.Start = start;
  setup.Announced = announced;
  setup.SayNoHeader = sayNoHeader;
  setup.Report = [&](TReportSeverity severity, TReportSubject, const std::string& detail,
                     int code) {
    walked.reports.push_back(std::string(SeverityName(severity)) + " " + std::to_string(code) +
                             (detail.empty() ? "" : " " + detail));
  };
  TZipDirectoryReader reader(stream, setup);
  TZipDirMember member;
  while (reader.Next(member)) {
    if (member.FromDirectory &&
        TZipDirectoryReader::LocalHeaderPresent(stream, member.LocalOffset))
      reader.MarkListed(member.LocalOffset);
    walked.members.push_back(member);
  }
  walked.damaged = reader.DirectoryDamaged();
  return walked;
}

std::vector<std::string> Names(const TWalked& walked) {
  std::vector<std::string> names;
  for (const TZipDirMember& m : walked.members) names.push_back(m.Name);
  return names;
}

TEST(ZipDirectoryReader, TheDirectoryInArchiveOrderWithSizesAndOffsets) {
  ZipBuilder b;
  b.AddStored("a.txt", "A").AddStored("sub/b.txt", "BB").AddStored("sub/", "");
  const Bytes bytes = b.Build();
  const ziptest::ZipLayout layout = b.Layout();
  const TWalked walked = Walk(bytes, true, static_cast<int64_t>(layout.centralOffset), 3);
  EXPECT_EQ(Names(walked), (std::vector<std::string>{"a.txt", "sub\\b.txt", "sub\\"}));
  ASSERT_EQ(walked.members.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_TRUE(walked.members[i].FromDirectory);
    EXPECT_EQ(walked.members[i].LocalOffset, static_cast<int64_t>(layout.localOffsets[i]));
  }
  EXPECT_EQ(walked.members[1].UnpackedSize, 2);
  EXPECT_EQ(walked.members[1].PackedSize, 2);
  EXPECT_TRUE(walked.reports.empty());
  EXPECT_FALSE(walked.damaged);
}

// A directory that holds fewer entries than its end record announces: said once (Failed, the
// archive), then every local header is walked from the start; those the caller listed are marked
// Listed, the one the directory lost is offered as Recovered.
TEST(ZipDirectoryReader, AShortDirectoryIsCompletedFromTheLocalHeaders) {
  ZipBuilder b;
  ZipMember lost = ziptest::ZipMember{};
  lost.name = "lost.txt";
  lost.data = ziptest::ToBytes("L");
  lost.noCentral = true;
  b.AddStored("a.txt", "A").Add(lost).AddStored("c.txt", "C");
  const Bytes bytes = b.Build();
  const TWalked walked = Walk(bytes, true, static_cast<int64_t>(b.Layout().centralOffset), 3);
  EXPECT_TRUE(walked.damaged);
  ASSERT_EQ(walked.reports.size(), 1u);
  EXPECT_EQ(walked.reports[0],
            "failed 25104 the central directory holds 2 of 3 entries; the others are looked for "
            "through their local headers");
  EXPECT_EQ(Names(walked),
            (std::vector<std::string>{"a.txt", "c.txt", "a.txt", "lost.txt", "c.txt"}));
  ASSERT_EQ(walked.members.size(), 5u);
  EXPECT_TRUE(walked.members[2].Recovered && walked.members[2].Listed);
  EXPECT_TRUE(walked.members[3].Recovered && !walked.members[3].Listed);
  EXPECT_TRUE(walked.members[4].Listed);
}

// Without a directory: the spanning marker is stepped over, a member whose sizes follow its data
// takes them from its descriptor, and the walk ends at the first central header.
TEST(ZipDirectoryReader, TheLocalHeadersOneAfterAnother) {
  ZipBuilder b;
  // Deflated, its sizes and CRC in a signed data descriptor behind the data.
  const Bytes plain = ziptest::ToBytes("streamed data, streamed data, streamed data");
  ZipMember streamed = ziptest::ZipMember{};
  streamed.name = "streamed.txt";
  streamed.method = 8;
  streamed.data = testsupport::ZlibDeflate(plain);
  streamed.plain = plain;
  streamed.flags = 0x0008;
  streamed.localSizesZero = 0;
  streamed.localCrcOverride = 0;
  for (const uint32_t v : {0x08074B50u, ziptest::Crc32(plain),
                           static_cast<uint32_t>(streamed.data.size()),
                           static_cast<uint32_t>(plain.size())})
    for (int i = 0; i < 4; ++i) streamed.trailer.push_back(static_cast<uint8_t>(v >> (8 * i)));
  b.SpanMarker().AddStored("a.txt", "A").Add(streamed).AddStored("z.txt", "Z");
  const Bytes bytes = b.Build();
  const TWalked walked = Walk(bytes, false, 0);
  EXPECT_EQ(Names(walked), (std::vector<std::string>{"a.txt", "streamed.txt", "z.txt"}));
  ASSERT_EQ(walked.members.size(), 3u);
  EXPECT_FALSE(walked.members[0].FromDirectory);
  EXPECT_EQ(walked.members[0].HeaderStart, 4);  // behind the marker
  EXPECT_TRUE(walked.members[1].HasDescriptor);
  EXPECT_EQ(walked.members[1].UnpackedSize, static_cast<int64_t>(plain.size()));
  EXPECT_EQ(walked.members[1].Crc32(), ziptest::Crc32(plain));
  EXPECT_EQ(walked.members[1].Crc32(), walked.members[1].Descriptor.Crc32);
  EXPECT_TRUE(walked.reports.empty());
}

// A member whose data has no end that can be found (sizes behind the data, a method nobody can
// decode to find them) is the last one offered, with EndFound false.
TEST(ZipDirectoryReader, AMemberWithoutAnEndEndsTheWalk) {
  ZipBuilder b;
  ZipMember lost = ziptest::ZipMember{};
  lost.name = "noend.bin";
  lost.data = ziptest::ToBytes("xxxxxxxxxxxxxxxxxxxx");
  lost.method = 99;
  lost.flags = 0x0008;
  lost.localSizesZero = 1;
  b.AddStored("a.txt", "A").Add(lost).AddStored("z.txt", "Z").NoCentralDirectory().NoEndRecord();
  const TWalked walked = Walk(b.Build(), false, 0);
  ASSERT_EQ(walked.members.size(), 2u);
  EXPECT_TRUE(walked.members[0].EndFound);
  EXPECT_FALSE(walked.members[1].EndFound);
  EXPECT_EQ(walked.members[1].Name, "noend.bin");
}

// Names: a Unicode Path made for the stored name wins; one made for another name does not; a name
// from a DOS host is OEM text.
TEST(ZipDirectoryReader, NamesFromUnicodePathsAndOemText) {
  auto unicodePath = [](const std::string& stored, const std::string& utf8) {
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(stored.data()),
                      static_cast<uInt>(stored.size()));
    Bytes extra = {0x75, 0x70};
    const uint16_t size = static_cast<uint16_t>(5 + utf8.size());
    extra.push_back(static_cast<uint8_t>(size));
    extra.push_back(static_cast<uint8_t>(size >> 8));
    extra.push_back(1);
    for (int i = 0; i < 4; ++i) extra.push_back(static_cast<uint8_t>(crc >> (8 * i)));
    extra.insert(extra.end(), utf8.begin(), utf8.end());
    return extra;
  };
  ZipBuilder b;
  ZipMember named = ziptest::ZipMember{};
  named.name = "caf\x82.txt";
  named.data = ziptest::ToBytes("x");
  named.centralExtra = unicodePath(named.name, "caf\xC3\xA9-unicode.txt");
  ZipMember stale = named;
  stale.name = "other.txt";  // its Unicode Path was made for another name
  ZipMember oem = ziptest::ZipMember{};
  oem.name = "na\x8Ave.txt";
  oem.data = ziptest::ToBytes("y");
  b.Add(named).Add(stale).Add(oem);
  const Bytes bytes = b.Build();
  const TWalked walked = Walk(bytes, true, static_cast<int64_t>(b.Layout().centralOffset), 3);
  EXPECT_EQ(Names(walked), (std::vector<std::string>{"caf\xC3\xA9-unicode.txt", "other.txt",
                                                      "na\xC3\xA8ve.txt"}));
}

// Nothing that is a header where the walk starts: said once (the archive, 25114) when asked;
// an empty archive is told by its end record alone.
TEST(ZipDirectoryReader, AWalkThatMeetsNoHeader) {
  Bytes garbage(200, 'x');
  const TWalked asked = Walk(garbage, true, 0, -1, true);
  EXPECT_TRUE(asked.members.empty());
  ASSERT_EQ(asked.reports.size(), 1u);
  EXPECT_EQ(asked.reports[0], "fatal 25114");
  EXPECT_TRUE(Walk(garbage, false, 0).reports.empty());

  TZipLocation location;
  location.HeaderState = kHeaderEnd;
  EXPECT_TRUE(ZipArchiveIsEmpty(false, location));
  EXPECT_FALSE(ZipArchiveIsEmpty(true, location));
  location.EndRecord.TotalEntries = 1;
  EXPECT_FALSE(ZipArchiveIsEmpty(false, location));
}

}  // namespace

namespace {

// ---- spans, names the extractor refuses -----------------------------------------------------------
// Every directory member carries whether its span overlaps another's and how far its data may
// reach (the next member's header, or the directory); local members reach exactly their end.
TEST(ZipDirectoryReader, DirectoryMembersKnowTheirSpansAndLimits) {
  ZipBuilder b;
  b.AddStored("a.txt", "AAAA").AddStored("b.txt", "BB");
  Bytes bytes = b.Build();
  const ziptest::ZipLayout layout = b.Layout();
  const int64_t central = static_cast<int64_t>(layout.centralOffset);
  TWalked walked = Walk(bytes, true, central, 2);
  ASSERT_EQ(walked.members.size(), 2u);
  EXPECT_FALSE(walked.members[0].Overlapping);
  EXPECT_FALSE(walked.members[1].Overlapping);
  EXPECT_EQ(walked.members[0].DataLimit, static_cast<int64_t>(layout.localOffsets[1]));
  EXPECT_EQ(walked.members[1].DataLimit, central);

  // b.txt's entry pointed at a.txt's header: both entries name one member that holds data.
  const size_t secondEntry = static_cast<size_t>(central) + 46 + 5;
  for (int i = 0; i < 4; ++i) bytes[secondEntry + 42 + i] = 0;
  walked = Walk(bytes, true, central, 2);
  ASSERT_EQ(walked.members.size(), 2u);
  EXPECT_TRUE(walked.members[0].Overlapping);
  EXPECT_TRUE(walked.members[1].Overlapping);

  const TWalked local = Walk(b.Build(), false, 0);
  ASSERT_EQ(local.members.size(), 2u);
  EXPECT_EQ(local.members[0].DataLimit, 30 + 5 + 4);
  EXPECT_FALSE(local.members[0].Overlapping);
}

// A name with a zero byte is cut there and said to hold one (the whole name kept for messages);
// a Unicode Path holding one, or leading outside, is set aside for the stored name.
TEST(ZipDirectoryReader, ZeroBytesInNamesAndUnicodePathsSetAside) {
  auto unicodePath = [](const std::string& stored, const std::string& utf8) {
    uLong crc =
        crc32(0, reinterpret_cast<const Bytef*>(stored.data()), static_cast<uInt>(stored.size()));
    Bytes extra = {0x75, 0x70};
    const uint16_t size = static_cast<uint16_t>(5 + utf8.size());
    extra.push_back(static_cast<uint8_t>(size));
    extra.push_back(static_cast<uint8_t>(size >> 8));
    extra.push_back(1);
    for (int i = 0; i < 4; ++i) extra.push_back(static_cast<uint8_t>(crc >> (8 * i)));
    extra.insert(extra.end(), utf8.begin(), utf8.end());
    return extra;
  };
  ZipBuilder b;
  ZipMember nul = ziptest::ZipMember{};
  nul.name = std::string("dir/\0x", 6);
  nul.data = ziptest::ToBytes("data");
  ZipMember zeroPath = ziptest::ZipMember{};
  zeroPath.name = "innocent.txt";
  zeroPath.data = ziptest::ToBytes("i");
  zeroPath.centralExtra = unicodePath(zeroPath.name, std::string("a/\0/../../x", 11));
  ZipMember outside = zeroPath;
  outside.name = "up.txt";
  outside.centralExtra = unicodePath(outside.name, "a/../../up.txt");
  ZipMember inside = zeroPath;
  inside.name = "in.txt";
  inside.centralExtra = unicodePath(inside.name, "a/../in-unicode.txt");
  b.Add(nul).Add(zeroPath).Add(outside).Add(inside);
  const Bytes bytes = b.Build();
  const TWalked walked = Walk(bytes, true, static_cast<int64_t>(b.Layout().centralOffset), 4);
  EXPECT_EQ(Names(walked),
            (std::vector<std::string>{"dir\\", "innocent.txt", "up.txt", "a\\..\\in-unicode.txt"}));
  ASSERT_EQ(walked.members.size(), 4u);
  EXPECT_TRUE(walked.members[0].NameFacts.NulInName);
  EXPECT_EQ(walked.members[0].NameFacts.WholeName, std::string("dir/\0x", 6));
  EXPECT_EQ(ZipMemberRefusal(walked.members[0]), TZipRefusal::NulInName);
  EXPECT_EQ(ZipRefusalText(TZipRefusal::NulInName, walked.members[0]),
            "the name \"dir/^@x\" holds a zero byte; not written");
  EXPECT_TRUE(walked.members[1].NameFacts.UnicodePathRefused);
  EXPECT_EQ(ZipMemberWarnings(walked.members[1]),
            std::vector<std::string>{
                "its Unicode Path \"a/^@/../../x\" holds a zero byte; the header's name is used"});
  EXPECT_EQ(ZipMemberRefusal(walked.members[1]), TZipRefusal::None);
  EXPECT_TRUE(walked.members[2].NameFacts.UnicodePathRefused);
  EXPECT_FALSE(walked.members[3].NameFacts.UnicodePathRefused);
}

TEST(ZipNames, LeadingOutsideAndNamingNothing) {
  EXPECT_TRUE(ZipNameLeadsOutside("/etc/passwd"));
  EXPECT_TRUE(ZipNameLeadsOutside("\\x"));
  EXPECT_TRUE(ZipNameLeadsOutside("C:x"));
  EXPECT_TRUE(ZipNameLeadsOutside("a/../../x"));
  EXPECT_TRUE(ZipNameLeadsOutside(".."));
  EXPECT_FALSE(ZipNameLeadsOutside("a/../b"));
  EXPECT_FALSE(ZipNameLeadsOutside("./a/./b/"));
  EXPECT_FALSE(ZipNameLeadsOutside("a..b/c.."));
  for (const char* nothing : {"\\", ".", "..\\", ".\\.\\", "\\\\", "C:\\", ""})
    EXPECT_TRUE(ZipNameNamesNothing(nothing)) << nothing;
  for (const char* something : {"a", "\\a", "..\\a", "C:\\a\\", "...", "a\\..\\"})
    EXPECT_FALSE(ZipNameNamesNothing(something)) << something;
  // Refusals by name: empty, and naming nothing only while holding data.
  TZipDirMember member;
  EXPECT_EQ(ZipMemberRefusal(member), TZipRefusal::EmptyName);
  member.Name = member.RawName = "/";
  EXPECT_EQ(ZipMemberRefusal(member), TZipRefusal::None);
  member.Name = "\\";
  member.UnpackedSize = 3;
  EXPECT_EQ(ZipMemberRefusal(member), TZipRefusal::NamesNothing);
  EXPECT_EQ(ZipRefusalText(TZipRefusal::NamesNothing, member),
            "the name \"/\" names no file, but the member holds 3 bytes; not written");
  member.Name = "dir\\";
  EXPECT_EQ(ZipMemberRefusal(member), TZipRefusal::None);
  member.Overlapping = true;
  EXPECT_EQ(ZipMemberRefusal(member), TZipRefusal::Overlapping);
}

}  // namespace
