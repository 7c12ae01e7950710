// Tests of the lister TArcova and its zip reader: list fills and event-mode walks over zips built
// in memory (ZipBuilder), made by Info-ZIP zip and 7-Zip, and the conformance archives when they
// are present.
#include "archive/formats/arvArcova.h"
#include "archive/zip/arvUnZip.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "platform/host.h"
#include "platform/seams.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"
#include "support/ZlibDeflate.h"

namespace {

using testsupport::ZlibDeflate;
using ziptest::Bytes;
using ziptest::ZipBuilder;
using ziptest::ZipMember;

struct TReport {
  std::string fileName;
  std::string extendedMsg;
  int code = 0;
};

Bytes Text(size_t size, char seed) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i)
    b[i] = static_cast<uint8_t>("lorem ipsum dolor "[(i + seed) % 18]);
  return b;
}

void Put32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

ZipMember Stored(const std::string& name, const std::string& contents) {
  ZipMember m;
  m.name = name;
  m.data = ziptest::ToBytes(contents);
  return m;
}

ZipMember Directory(const std::string& name, uint32_t attributes = 0x10) {
  ZipMember m;
  m.name = name;
  m.externalAttributes = attributes;
  return m;
}

// A deflated member whose local header leaves CRC and sizes to a data descriptor.
ZipMember Described(const std::string& name, const Bytes& plain, bool signedDescriptor) {
  ZipMember m;
  m.name = name;
  m.method = 8;
  m.flags = 0x0008;
  m.plain = plain;
  m.data = ZlibDeflate(plain);
  m.localSizesZero = 0;
  m.localCrcOverride = 0;
  if (signedDescriptor) Put32(m.trailer, 0x08074B50);
  Put32(m.trailer, ziptest::Crc32(plain));
  Put32(m.trailer, static_cast<uint32_t>(m.data.size()));
  Put32(m.trailer, static_cast<uint32_t>(plain.size()));
  return m;
}

class ArcovaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    arcova.OnError = [this](TObject*, const std::string& fileName, const std::string& extendedMsg,
                            const std::string&, int code) {
      reports.push_back({fileName, extendedMsg, code});
    };
  }

  std::string Write(const Bytes& bytes, const std::string& name = "a.zip") {
    std::ofstream out(dir.Host(name), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    return dir.System(name);
  }

  // Assigns the archive and fills a list of the members matching `masks`.
  std::vector<std::string> List(const Bytes& zip, const std::vector<std::string>& masks = {"*.*"}) {
    Open(zip, masks);
    return Fill();
  }
  void Open(const Bytes& zip, const std::vector<std::string>& spec = {"*.*"}) {
    arcova.SetArchiveFile(Write(zip));
    SetSpec(spec);
  }
  void SetSpec(const std::vector<std::string>& spec) {
    TStringList lines;
    for (const auto& s : spec) lines.Add(s);
    arcova.SetFileSpec(lines);
  }
  std::vector<std::string> Fill() {
    TStringList list;
    arcova.FillFileList(list);
    return list.Lines();
  }
  std::vector<int> Codes() const {
    std::vector<int> codes;
    for (const auto& r : reports) codes.push_back(r.code);
    return codes;
  }

  parcelo::test::TempDir dir{"lister"};
  TArcova arcova;
  std::vector<TReport> reports;
};

using Names = std::vector<std::string>;

// ---- defaults and the component -----------------------------------------------------------------
TEST_F(ArcovaTest, ConstructorDefaults) {
  EXPECT_EQ(arcova.ReadMode(), rmEvent);
  EXPECT_EQ(arcova.ZipCmntBufSize(), 32000);
  EXPECT_FALSE(arcova.ShowEmptyDirs());
  EXPECT_TRUE(arcova.RecurseDirs());
  EXPECT_TRUE(arcova.TranslateOemChar());
  EXPECT_EQ(arcova.ArcType(), atNA);
  EXPECT_TRUE(arcova.ArchiveFile().empty());
  EXPECT_TRUE(arcova.FileSpec().Empty());
}

// ---- central directory --------------------------------------------------------------------------
TEST_F(ArcovaTest, NamesComeInCentralOrderWithBackslashesAndWithoutDirectories) {
  ZipBuilder zip;
  zip.Add(Stored("zeta.txt", "z")).Add(Directory("dir/")).Add(Stored("dir/a.txt", "a"));
  zip.Add(Directory("dir/sub/")).Add(Stored("dir/sub/b.bin", "bb")).Add(Stored("README", "r"));
  EXPECT_EQ(List(zip.Build()), (Names{"zeta.txt", "dir\\a.txt", "dir\\sub\\b.bin", "README"}));
  EXPECT_TRUE(reports.empty());
  EXPECT_EQ(arcova.NumFiles(), 4);
  EXPECT_EQ(arcova.ReadMode(), rmEvent);  // list mode only while the fill runs
}

TEST_F(ArcovaTest, AllDirectoriesListNothingUnlessShowEmptyDirs) {
  ZipBuilder zip;
  zip.Add(Directory("a/")).Add(Directory("a/b/")).Add(Directory("c/"));
  const Bytes bytes = zip.Build();
  EXPECT_TRUE(List(bytes).empty());
  EXPECT_TRUE(reports.empty()) << "an archive of directories is not a bad header";
  arcova.SetShowEmptyDirs(true);
  EXPECT_EQ(List(bytes), (Names{"a\\", "a\\b\\", "c\\"}));
  EXPECT_EQ(arcova.NumFiles(), 3);
}

TEST_F(ArcovaTest, DirectoryBitDecidesNotTheTrailingSlash) {
  ZipBuilder zip;
  zip.Add(Directory("docs/", 0x20)).Add(Stored("docs/x", "x"));
  EXPECT_EQ(List(zip.Build()), (Names{"docs\\", "docs\\x"}));
}

TEST_F(ArcovaTest, MasksSelectAndOnReadFileSeesRejectedEntriesToo) {
  ZipBuilder zip;
  zip.Add(Stored("a.txt", "1")).Add(Stored("b.bin", "2")).Add(Stored("sub/c.TXT", "3"));
  Names seen;
  arcova.OnReadFile = [&](TObject*, const std::string& name) { seen.push_back(name); };
  EXPECT_EQ(List(zip.Build(), {"*.txt"}), (Names{"a.txt", "sub\\c.TXT"}));
  EXPECT_EQ(seen, (Names{"a.txt", "b.bin", "sub\\c.TXT"}));
  arcova.SetRecurseDirs(false);
  EXPECT_EQ(Fill(), (Names{"a.txt"}));
  SetSpec({});
  EXPECT_TRUE(Fill().empty());
}

TEST_F(ArcovaTest, CommentWithZeroByteAndLongNameKeepTheNextEntry) {
  ZipBuilder zip;
  ZipMember commented = Stored("first.txt", "1");
  commented.comment = std::string("ab\0cd", 5);
  const std::string longName = std::string(300, 'n') + ".txt";
  zip.Add(commented).Add(Stored(longName, "2")).Add(Stored("last.txt", "3"));
  // The long name is listed whole, as the extractor writes it.
  EXPECT_EQ(List(zip.Build()), (Names{"first.txt", longName, "last.txt"}));
  EXPECT_TRUE(reports.empty());
}

TEST_F(ArcovaTest, LongEntryCommentIsCutButSteppedOverWhole) {
  ZipBuilder zip;
  ZipMember commented = Stored("first.txt", "1");
  commented.comment = std::string(40000, 'c');
  zip.Add(commented).Add(Stored("second.txt", "2"));
  Open(zip.Build());
  std::vector<size_t> commentSizes;
  arcova.OnRead = [&](TObject*, int64_t, int) {
    commentSizes.push_back(arcova.Entry().Comment.size());
  };
  EXPECT_TRUE(arcova.Scan());
  EXPECT_EQ(commentSizes, (std::vector<size_t>{32767, 0}));
}

TEST_F(ArcovaTest, HighWordSubfieldGivesFortyEightBitSums) {
  ZipBuilder zip;
  ZipMember big = Stored("big.bin", "0123456789");
  big.packedSizeOverride = (uint64_t{1} << 32) + 10;
  big.unpackedSizeOverride = (uint64_t{2} << 32) + 20;
  zip.Add(big).Add(Stored("small.bin", "abc"));
  Open(zip.Build());
  int64_t unpacked = -1, packed = -1;
  int files = -1;
  arcova.OnRead = [](TObject*, int64_t, int) {};
  arcova.OnTotals = [&](TObject*, int64_t u, int64_t p, uint8_t, int n) {
    unpacked = u;
    packed = p;
    files = n;
  };
  EXPECT_TRUE(arcova.Scan());
  EXPECT_EQ(packed, 4294967296 + 10 + 3);
  EXPECT_EQ(unpacked, 2 * 4294967296 + 20 + 3);
  EXPECT_EQ(files, 2);
}

TEST_F(ArcovaTest, RatioOfTheSumsRoundsHalvesToEven) {
  struct Case {
    uint64_t unpacked, packed;
    int ratio;
  };
  for (const Case c : {Case{1000, 1000, 0}, Case{1000, 250, 75}, Case{0, 0, 0}, Case{200, 1, 100},
                       Case{200, 3, 98}, Case{100, 200, 0}}) {
    ZipBuilder zip;
    ZipMember m = Stored("m", "x");
    m.unpackedSizeOverride = c.unpacked;
    m.packedSizeOverride = c.packed;
    zip.Add(m);
    Open(zip.Build());
    int ratio = -1;
    arcova.OnRead = [](TObject*, int64_t, int) {};
    arcova.OnTotals = [&](TObject*, int64_t, int64_t, uint8_t r, int) { ratio = r; };
    EXPECT_TRUE(arcova.Scan());
    EXPECT_EQ(ratio, c.ratio) << c.unpacked << " / " << c.packed;
  }
}

TEST_F(ArcovaTest, EncipheredHeadersAndAlternativeSignaturesAreRead) {
  ZipBuilder zip;
  ZipMember a = Stored("secret/a.txt", "aaa");
  a.encipheredHeader = true;
  ZipMember b = Stored("b.txt", "bbb");
  b.encipheredHeader = true;
  b.altSignature = true;
  ZipMember c = Stored("c.txt", "ccc");
  c.altSignature = true;
  zip.Add(a).Add(b).Add(c);
  const Bytes bytes = zip.Build();
  EXPECT_EQ(List(bytes), (Names{"secret\\a.txt", "b.txt", "c.txt"}));
  EXPECT_TRUE(reports.empty());
  // The same members through their local headers.
  zip.NoCentralDirectory().NoEndRecord();
  EXPECT_EQ(List(zip.Build()), (Names{"secret\\a.txt", "b.txt", "c.txt"}));
}

TEST_F(ArcovaTest, OemNamesAreConvertedUnlessFlaggedUtf8OrMadeElsewhere) {
  const std::string raw = "\xC3\xA9t\xE9.txt";  // cp437: ├ ⌐ t Θ
  ZipBuilder zip;
  ZipMember dos = Stored("dos-" + raw, "1");
  ZipMember utf8 = Stored("utf8-\xC3\xA9t\xC3\xA9.txt", "2");
  utf8.flags = 0x0800;
  ZipMember unix = Stored("unix-\xC3\xA9t\xC3\xA9.txt", "3");
  unix.versionMadeBy = (3 << 8) | 30;
  ZipMember ntfs = Stored("ntfs-" + raw, "4");
  ntfs.versionMadeBy = (10 << 8) | 20;
  zip.Add(dos).Add(utf8).Add(unix).Add(ntfs);
  const std::string converted = host::OemToAnsi(raw);
  ASSERT_NE(converted, raw);
  EXPECT_EQ(List(zip.Build()), (Names{"dos-" + converted, "utf8-\xC3\xA9t\xC3\xA9.txt",
                                      "unix-\xC3\xA9t\xC3\xA9.txt", "ntfs-" + converted}));
  arcova.SetTranslateOemChar(false);
  EXPECT_EQ(Fill()[0], "dos-" + raw);
}

TEST_F(ArcovaTest, EntriesWithoutTheirLocalHeaderAreReportedAndLeftOut) {
  ZipBuilder zip;
  zip.Add(Stored("one.txt", "1")).Add(Stored("two.txt", "2")).Add(Stored("three.txt", "3"));
  Bytes bytes = zip.Build();
  const size_t second = zip.Layout().localOffsets[1];
  bytes[second + 2] = 'x';  // no longer a local signature
  EXPECT_EQ(List(bytes), (Names{"one.txt", "three.txt"}));
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].code, kErrBadFileHeader);
  EXPECT_EQ(reports[0].fileName, "two.txt");
}

TEST_F(ArcovaTest, ArchiveBehindAStubIsListedThroughTheAdjustment) {
  ZipBuilder zip;
  zip.Prefix(Bytes(5000, 0x90), /*offsetsRelativeToArchive=*/true);
  zip.Add(Stored("x.txt", "x")).Add(Stored("y.txt", "y"));
  EXPECT_EQ(List(zip.Build()), (Names{"x.txt", "y.txt"}));
  EXPECT_TRUE(reports.empty());
}

TEST_F(ArcovaTest, ExtendedEndRecordIsRead) {
  ZipBuilder zip;
  zip.ExtendedEnd().Add(Stored("x.txt", "x")).Add(Stored("y.txt", "y"));
  EXPECT_EQ(List(zip.Build()), (Names{"x.txt", "y.txt"}));
  EXPECT_TRUE(reports.empty());
}

// ---- local headers ------------------------------------------------------------------------------
TEST_F(ArcovaTest, ZipCutBeforeItsEndRecordIsListedFromLocalHeadersAfterOne25270) {
  ZipBuilder zip;
  zip.Add(Stored("a.txt", "aaaa")).Add(Directory("d/")).Add(Stored("d/b.txt", "bb"));
  zip.NoEndRecord();
  EXPECT_EQ(List(zip.Build()), (Names{"a.txt", "d\\", "d\\b.txt"}));
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].code, kErrEventNotAssigned);
  EXPECT_EQ(reports[0].extendedMsg, "OnCorruptZipHeader");
  EXPECT_EQ(reports[0].fileName, arcova.ArchiveFile());
}

TEST_F(ArcovaTest, OnCorruptZipHeaderDecides) {
  ZipBuilder zip;
  zip.Add(Stored("a.txt", "aaaa")).NoEndRecord();
  Open(zip.Build());
  THeaderTypeState seen = 0xFF;
  arcova.OnCorruptZipHeader = [&](TObject*, THeaderTypeState flag, bool& cancel) {
    seen = flag;
    EXPECT_TRUE(cancel);  // preset
  };
  EXPECT_TRUE(Fill().empty());
  EXPECT_EQ(seen, arcova.HeaderState());
  arcova.OnCorruptZipHeader = [](TObject*, THeaderTypeState, bool& cancel) { cancel = false; };
  EXPECT_EQ(Fill(), (Names{"a.txt"}));
  EXPECT_TRUE(reports.empty());
}

TEST_F(ArcovaTest, SpanningMarkerIsSteppedOver) {
  ZipBuilder zip;
  zip.SpanMarker().NoCentralDirectory().NoEndRecord();
  zip.Add(Stored("part/one.txt", "1")).Add(Stored("two.txt", "22"));
  EXPECT_EQ(List(zip.Build()), (Names{"part\\one.txt", "two.txt"}));
  EXPECT_EQ(arcova.ArcType(), atZipMV);
  EXPECT_TRUE(reports.empty()) << "a split set asks no OnCorruptZipHeader";
}

TEST_F(ArcovaTest, LocalWalkGoesPastDataDescriptorsWithAndWithoutSignature) {
  ZipBuilder zip;
  zip.Add(Described("one.txt", Text(5000, 1), true));
  zip.Add(Described("two.txt", Text(70000, 2), false));
  zip.Add(Stored("three.txt", "333"));
  zip.NoCentralDirectory().NoEndRecord();
  Open(zip.Build());
  arcova.OnCorruptZipHeader = [](TObject*, THeaderTypeState, bool& cancel) { cancel = false; };
  std::vector<TArcovaEntry> entries;
  arcova.OnRead = [&](TObject*, int64_t, int) { entries.push_back(arcova.Entry()); };
  EXPECT_TRUE(arcova.Scan());
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].FileName, "one.txt");
  EXPECT_EQ(entries[0].UnpackedSize, 5000);
  EXPECT_EQ(entries[0].Crc32, ziptest::Crc32(Text(5000, 1)));
  EXPECT_EQ(entries[1].UnpackedSize, 70000);
  EXPECT_EQ(entries[1].PackedSize, static_cast<int64_t>(ZlibDeflate(Text(70000, 2)).size()));
  EXPECT_EQ(entries[2].FileName, "three.txt");
  EXPECT_EQ(arcova.UnpackSize(), 5000 + 70000 + 3);
  EXPECT_TRUE(reports.empty());
}

TEST_F(ArcovaTest, StoredMemberWithUnknownSizeEndsTheLocalWalkWith25114) {
  ZipBuilder zip;
  zip.Add(Stored("first.txt", "1"));
  ZipMember unknown = Stored("unknown.txt", "some stored bytes");
  unknown.flags = 0x0008;
  unknown.localSizesZero = 0;
  unknown.localCrcOverride = 0;
  zip.Add(unknown).Add(Stored("after.txt", "2"));
  zip.NoCentralDirectory().NoEndRecord();
  Open(zip.Build());
  arcova.OnCorruptZipHeader = [](TObject*, THeaderTypeState, bool& cancel) { cancel = false; };
  EXPECT_EQ(Fill(), (Names{"first.txt"}));
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].code, kErrBadFileHeader);
  EXPECT_EQ(reports[0].fileName, "unknown.txt");
}

TEST_F(ArcovaTest, FirstHeaderEndingAtTheEndOfTheFileIsNotRead) {
  Bytes bytes = {0x50, 0x4B, 0x03, 0x04};
  bytes.resize(30, 0);  // one local header, no name, nothing behind it
  // A member without a name is listed when everything is selected (extraction refuses it, and
  // says so), and its header is read whole.
  EXPECT_EQ(List(bytes), (Names{""}));
  bytes.push_back(0);  // now it ends before the end of the file
  EXPECT_EQ(List(bytes), (Names{""}));
}

TEST_F(ArcovaTest, FirstHeaderThatIsNoZipHeaderGives25114) {
  // An end record alone at offset 0 that announces an entry, which the locator never finds there:
  // the walk falls back to local headers and meets the end record there.
  Bytes bytes(22, 0);
  bytes[0] = 0x50, bytes[1] = 0x4B, bytes[2] = 0x05, bytes[3] = 0x06;
  bytes[8] = bytes[10] = 1;  // one entry announced
  bytes[20] = 40;            // an archive comment long enough for a local header to be read
  bytes.resize(22 + 40, ' ');
  EXPECT_TRUE(List(bytes).empty());
  EXPECT_EQ(arcova.ArcType(), atZip);
  EXPECT_EQ(Codes(), (std::vector<int>{kErrEventNotAssigned, kErrBadFileHeader}));
}

TEST_F(ArcovaTest, AnEmptyArchiveListsNothingAndIsNotDamaged) {
  // An empty archive is its end record alone, announcing no entry, with or without a comment.
  for (const size_t comment : {0u, 40u}) {
    Bytes bytes(22, 0);
    bytes[0] = 0x50, bytes[1] = 0x4B, bytes[2] = 0x05, bytes[3] = 0x06;
    bytes[20] = static_cast<uint8_t>(comment);
    bytes.resize(22 + comment, ' ');
    EXPECT_TRUE(List(bytes).empty());
    EXPECT_EQ(arcova.ArcType(), atZip);
    EXPECT_TRUE(Codes().empty());
  }
}

TEST_F(ArcovaTest, DiskSpannedSetIsListedFromItsLastDisk) {
  parcelo::test::TempDir disk1{"disk1"}, disk2{"disk2"};
  // Disk 1 starts with the spanning marker; disk 2 holds the end of the data and the directory.
  ZipBuilder first;
  first.SpanMarker().NoCentralDirectory().NoEndRecord().Add(Stored("a.txt", "aaaa"));
  ZipBuilder last;
  last.Prefix(Bytes(64, 'x')).DiskNumbers(1, 1);
  last.Add(Stored("a.txt", "aaaa")).Add(Stored("sub/b.txt", "bb"));
  ASSERT_TRUE(first.WriteTo(disk1.Host("set.zip")));
  ASSERT_TRUE(last.WriteTo(disk2.Host("set.zip")));
  host::TSeams seams;
  host::TFakeDrive floppy;
  floppy.Letter = 'E';
  floppy.Type = host::dtRemovable;
  floppy.Label = "PKBACK# 001";
  floppy.HostFolder = disk1.HostPath();
  seams.Drives.push_back(floppy);
  host::ScopedSeams scope(seams);

  arcova.SetArchiveFile("E:\\set.zip");
  ASSERT_EQ(arcova.ArcType(), atZipDS);
  SetSpec({"*.*"});
  int prompts = 0;
  arcova.OnGetZipLastDisk = [&](TObject*, bool& cancel) {
    ++prompts;
    seams.Drives[0].HostFolder = disk2.HostPath();
    seams.Drives[0].Label = "PKBACK# 002";
    cancel = false;
  };
  EXPECT_EQ(Fill(), (Names{"a.txt", "sub\\b.txt"}));
  EXPECT_EQ(prompts, 1);
  EXPECT_TRUE(reports.empty());

  // Without the prompt there is no way to the directory: nothing is listed.
  seams.Drives[0].HostFolder = disk1.HostPath();
  seams.Drives[0].Label = "PKBACK# 001";
  arcova.SetArchiveFile("E:\\set.zip");
  arcova.OnGetZipLastDisk = nullptr;
  EXPECT_TRUE(Fill().empty());
  EXPECT_EQ(Codes(), (std::vector<int>{kErrEventNotAssigned}));
  EXPECT_EQ(reports[0].extendedMsg, "OnGetZipLastDisk");
}

// ---- the list fill's contract -------------------------------------------------------------------
TEST_F(ArcovaTest, FillFileListLeavesTheCallersHandlersAsTheyWere) {
  int calls = 0;
  arcova.OnRead = [&](TObject*, int64_t, int) { calls += 1; };
  arcova.OnReadBegin = [&](TObject*) { calls += 10; };
  arcova.OnReadEnd = [&](TObject*) { calls += 100; };
  arcova.OnActivate = [&](TObject*) { calls += 1000; };
  arcova.OnDeactivate = [&](TObject*) { calls += 10000; };
  arcova.OnTotals = [&](TObject*, int64_t, int64_t, uint8_t, int) { calls += 100000; };
  auto expectHandlersIntact = [&](const char* when) {
    SCOPED_TRACE(when);
    EXPECT_EQ(calls, 0) << "a list fill fires none of the six";
    arcova.OnRead(&arcova, 0, 0);
    arcova.OnReadBegin(&arcova);
    arcova.OnReadEnd(&arcova);
    arcova.OnActivate(&arcova);
    arcova.OnDeactivate(&arcova);
    arcova.OnTotals(&arcova, 0, 0, 0, 0);
    EXPECT_EQ(calls, 111111);
    calls = 0;
  };
  ZipBuilder zip;
  zip.Add(Stored("a.txt", "a"));
  EXPECT_EQ(List(zip.Build()), (Names{"a.txt"}));
  expectHandlersIntact("after a good walk");

  // The walk fails: the archive vanished after detection.
  const int64_t start = arcova.StartOffset();
  std::filesystem::remove(dir.Host("a.zip"));
  TStringList list;
  list.Add("stale");
  arcova.FillFileList(list);
  EXPECT_TRUE(list.Empty());
  EXPECT_EQ(Codes(), (std::vector<int>{kErrFileNotFound}));
  EXPECT_EQ(arcova.StartOffset(), start);
  expectHandlersIntact("after a failed walk");

  // A handler that raises inside the walk.
  zip.Add(Stored("b.txt", "b"));
  Open(zip.Build());
  arcova.OnReadFile = [](TObject*, const std::string&) { throw std::runtime_error("boom"); };
  EXPECT_NO_THROW(list.Assign(TStringList{}); arcova.FillFileList(list));
  EXPECT_TRUE(list.Empty());
  expectHandlersIntact("after an exception");
  EXPECT_EQ(arcova.ReadMode(), rmEvent);
}

TEST_F(ArcovaTest, UnusableFilesGiveAnEmptyListWithoutReports) {
  arcova.FillFileList(nullptr);  // no list: nothing happens
  EXPECT_TRUE(Fill().empty());   // no archive assigned
  arcova.SetArchiveFile(
      Write(ziptest::ToBytes("just some text, not an archive at all\n"), "t.txt"));
  EXPECT_EQ(arcova.ArcType(), atNA);
  SetSpec({"*.*"});
  EXPECT_TRUE(Fill().empty());
  EXPECT_TRUE(reports.empty());
}

TEST_F(ArcovaTest, UnknownTypeIsNotEvenOpened) {
  arcova.SetArchiveFile(Write(ziptest::ToBytes("PKG5 and some more bytes to be long enough"), "p"));
  ASSERT_EQ(arcova.ArcType(), atUnknown);
  SetSpec({"*.*"});
  host::TSeams seams;
  int opens = 0;
  seams.FailOpen = [&](const std::string&) {
    ++opens;
    return false;
  };
  host::ScopedSeams scope(seams);
  EXPECT_TRUE(Fill().empty());
  EXPECT_EQ(opens, 0);
}

TEST_F(ArcovaTest, ArchiveThatCannotBeOpenedReports25235AndListsNothing) {
  ZipBuilder zip;
  zip.Add(Stored("a.txt", "a"));
  Open(zip.Build());
  host::TSeams seams;
  seams.FailOpen = [](const std::string& path) { return path.ends_with("a.zip"); };
  host::ScopedSeams scope(seams);
  EXPECT_TRUE(Fill().empty());
  EXPECT_EQ(Codes(), (std::vector<int>{kErrOpeningFile}));
}

// ---- event mode ---------------------------------------------------------------------------------
TEST_F(ArcovaTest, EventModeNeedsOnRead) {
  ZipBuilder zip;
  zip.Add(Stored("a.txt", "a"));
  Open(zip.Build());
  EXPECT_FALSE(arcova.Scan());
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].code, kErrEventNotAssigned);
  EXPECT_EQ(reports[0].extendedMsg, "OnRead");
}

TEST_F(ArcovaTest, EventModeFiresInOrderWithEntryDetails) {
  ZipBuilder zip;
  ZipMember deflated;
  deflated.name = "dir/packed.txt";
  deflated.method = 8;
  deflated.plain = Text(1000, 3);
  deflated.data = ZlibDeflate(*deflated.plain);
  deflated.dosDateTime = 0x5A8C6000;  // 2025-04-12 12:00:00
  ZipMember secret = Stored("secret.bin", "hidden");
  secret.password = "pw";
  zip.Add(deflated).Add(Directory("dir/")).Add(secret);
  Open(zip.Build());
  arcova.SetShowEmptyDirs(true);
  std::string order;
  std::vector<TArcovaEntry> entries;
  std::vector<int64_t> offsets;
  std::vector<int> numbers;
  arcova.OnActivate = [&](TObject*) { order += "A"; };
  arcova.OnReadFile = [&](TObject*, const std::string&) { order += "f"; };
  arcova.OnReadBegin = [&](TObject*) { order += "("; };
  arcova.OnRead = [&](TObject* sender, int64_t offset, int filenum) {
    EXPECT_EQ(sender, &arcova);
    order += "r";
    entries.push_back(arcova.Entry());
    offsets.push_back(offset);
    numbers.push_back(filenum);
  };
  arcova.OnReadEnd = [&](TObject*) { order += ")"; };
  arcova.OnTotals = [&](TObject*, int64_t, int64_t, uint8_t, int) { order += "T"; };
  arcova.OnDeactivate = [&](TObject*) { order += "D"; };
  arcova.OnElapsedTime = [&](TObject*, float seconds) {
    order += "E";
    EXPECT_GE(seconds, 0.0f);
  };
  EXPECT_TRUE(arcova.Scan());
  EXPECT_EQ(order, "Af(r)f(r)f(r)TDE");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(numbers, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(offsets[0], static_cast<int64_t>(zip.Layout().centralOffset));

  const TArcovaEntry& p = entries[0];
  EXPECT_EQ(p.FileName, "dir\\packed.txt");
  EXPECT_EQ(p.UnpackedSize, 1000);
  EXPECT_EQ(p.PackedSize, static_cast<int64_t>(deflated.data.size()));
  EXPECT_EQ(p.Ratio, PercentSaved(p.UnpackedSize, p.PackedSize));
  EXPECT_GT(p.Ratio, 50);
  EXPECT_EQ(p.Crc32, ziptest::Crc32(*deflated.plain));
  EXPECT_EQ(p.Method, 8u);
  EXPECT_EQ(p.MethodName, "DeflateN");
  EXPECT_EQ(p.DosDateTime, 0x5A8C6000u);
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
  DecodeDate(p.Date, y, mo, d);
  DecodeTime(p.Date, h, mi, s, ms);
  EXPECT_EQ((std::vector<int>{y, mo, d, h, mi}), (std::vector<int>{2025, 4, 12, 12, 0}));
  EXPECT_FALSE(p.Encrypted);
  EXPECT_FALSE(p.IsDirectory);
  EXPECT_EQ(p.VolumeName, arcova.ArchiveFile());

  EXPECT_TRUE(entries[1].IsDirectory);
  EXPECT_EQ(entries[1].FileName, "dir\\");
  EXPECT_EQ(entries[1].Attributes, 0x10u);
  EXPECT_TRUE(entries[2].Encrypted);
  EXPECT_EQ(entries[2].MethodName, "Stored");
  EXPECT_EQ(entries[2].PackedSize, 6 + 12);  // the encryption header counts as recorded
  EXPECT_EQ(arcova.NumFiles(), 3);
  EXPECT_EQ(arcova.PackSize(), p.PackedSize + 18);  // directories are never summed
}

TEST_F(ArcovaTest, CancelFromAHandlerEndsTheWalkKeepingWhatWasListed) {
  ZipBuilder zip;
  zip.Add(Stored("1", "1")).Add(Stored("2", "2")).Add(Stored("3", "3"));
  Open(zip.Build());
  Names listed;
  arcova.OnRead = [&](TObject*, int64_t, int) {
    listed.push_back(arcova.FileName());
    if (listed.size() == 2) arcova.SetCancel(true);
  };
  EXPECT_TRUE(arcova.Scan());
  EXPECT_EQ(listed, (Names{"1", "2"}));
  EXPECT_EQ(Codes(), (std::vector<int>{kErrUserCanceled}));
  // The next walk starts afresh.
  listed.clear();
  arcova.OnRead = [&](TObject*, int64_t, int) { listed.push_back(arcova.FileName()); };
  EXPECT_TRUE(arcova.Scan());
  EXPECT_EQ(listed.size(), 3u);
}

// ---- archives made by other tools ---------------------------------------------------------------
std::string RunCommand(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
  }
  return out;
}

bool HaveTool(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// A reference listing ("a/b.txt" per line, directories ending in "/") as the lister names files.
Names FilesOf(const std::string& listing) {
  Names names;
  size_t start = 0;
  while (start < listing.size()) {
    size_t end = listing.find('\n', start);
    if (end == std::string::npos) end = listing.size();
    std::string line = listing.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line.back() == '/') continue;
    std::replace(line.begin(), line.end(), '/', '\\');
    names.push_back(line);
  }
  return names;
}

class ArcovaToolsTest : public ArcovaTest {
 protected:
  void MakeTree() {
    dir.WriteFile("src/readme.txt", "read me\n");
    dir.WriteFile("src/docs/guide.md", std::string(20000, 'g'));
    dir.WriteFile("src/docs/deep/er/file.bin", std::string(3000, '\x01'));
    dir.WriteFile("src/NoExtension", "x");
    std::filesystem::create_directories(dir.Host("src/empty"));
  }
};

TEST_F(ArcovaToolsTest, InfoZipArchiveListsAsUnzipDoes) {
  if (!HaveTool("zip") || !HaveTool("unzip")) GTEST_SKIP() << "zip or unzip missing";
  MakeTree();
  ASSERT_EQ(std::system(("cd " + dir.Host("src") + " && zip -qr ../z.zip .").c_str()), 0);
  const Names expected = FilesOf(RunCommand("unzip -Z1 " + dir.Host("z.zip")));
  ASSERT_EQ(expected.size(), 4u);
  arcova.SetArchiveFile(dir.System("z.zip"));
  SetSpec({"*.*"});
  EXPECT_EQ(Fill(), expected);
  EXPECT_TRUE(reports.empty());
}

TEST_F(ArcovaToolsTest, SevenZipArchiveListsAsUnzipDoes) {
  if (!HaveTool("7z") || !HaveTool("unzip")) GTEST_SKIP() << "7z or unzip missing";
  MakeTree();
  ASSERT_EQ(
      std::system(
          ("cd " + dir.Host("src") + " && 7z a -tzip -bd -bso0 ../s.zip . >/dev/null").c_str()),
      0);
  const Names expected = FilesOf(RunCommand("unzip -Z1 " + dir.Host("s.zip")));
  ASSERT_EQ(expected.size(), 4u);
  arcova.SetArchiveFile(dir.System("s.zip"));
  SetSpec({"*.*"});
  EXPECT_EQ(Fill(), expected);
  EXPECT_TRUE(reports.empty());
}

TEST_F(ArcovaToolsTest, StreamedInfoZipArchiveWithoutItsDirectoryListsThroughDescriptors) {
  if (!HaveTool("zip") || !HaveTool("unzip")) GTEST_SKIP() << "zip or unzip missing";
  MakeTree();
  // Written to a pipe, zip cannot seek back: every member gets a data descriptor.
  ASSERT_EQ(std::system(("cd " + dir.Host("src") + " && zip -qr - . | cat > ../p.zip").c_str()), 0);
  const Names expected = FilesOf(RunCommand("unzip -Z1 " + dir.Host("p.zip")));
  ASSERT_EQ(expected.size(), 4u);
  // Cut the archive before its central directory: only the local headers are left.
  std::ifstream in(dir.Host("p.zip"), std::ios::binary);
  Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const uint8_t central[] = {0x50, 0x4B, 0x01, 0x02};
  const auto cut = std::search(bytes.begin(), bytes.end(), std::begin(central), std::end(central));
  ASSERT_NE(cut, bytes.end());
  bytes.erase(cut, bytes.end());
  Open(bytes);
  arcova.OnCorruptZipHeader = [](TObject*, THeaderTypeState, bool& cancel) { cancel = false; };
  Names names = Fill();
  names.erase(std::remove_if(names.begin(), names.end(),
                             [](const std::string& n) { return n.ends_with("\\"); }),
              names.end());
  EXPECT_EQ(names, expected);
  EXPECT_TRUE(reports.empty());
}

// ---- the conformance archives -------------------------------------------------------------------
bool IsUtf8(const std::string& text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<uint8_t>(text[i]);
    const size_t extra = c < 0x80         ? 0
                         : (c >> 5) == 6  ? 1
                         : (c >> 4) == 14 ? 2
                         : (c >> 3) == 30 ? 3
                                          : 9;
    if (extra == 9 || i + extra >= text.size() + (extra == 0 ? 1 : 0)) return false;
    for (size_t k = 1; k <= extra; ++k)
      if ((static_cast<uint8_t>(text[i + k]) >> 6) != 2) return false;
    i += extra + 1;
  }
  return true;
}

std::string AsciiOnly(const std::string& text) {
  std::string out;
  for (char c : text)
    if (static_cast<uint8_t>(c) < 0x80) out += c;
  return out;
}

TEST_F(ArcovaTest, ConformanceZipsListTheirExpectedFiles) {
  const std::filesystem::path root = PARCELO_TESTDATA_DIR;
  if (!std::filesystem::is_directory(root / "zip")) GTEST_SKIP() << "no conformance archives";
  int checked = 0;
  for (const auto& item : std::filesystem::directory_iterator(root / "zip")) {
    const std::filesystem::path expectedFile =
        root / "expected" / (item.path().filename().string() + ".list");
    if (!std::filesystem::exists(expectedFile)) continue;
    SCOPED_TRACE(item.path().filename().string());
    std::ifstream in(expectedFile, std::ios::binary);
    const std::string listing((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    const Names expected = FilesOf(listing);
    arcova.SetArchiveFile(host::FromHostPath(item.path().string()));
    SetSpec({"*.*"});
    arcova.OnCorruptZipHeader = [](TObject*, THeaderTypeState, bool& cancel) { cancel = false; };
    Names names = Fill();
    names.erase(std::remove_if(names.begin(), names.end(),
                               [](const std::string& n) { return n.ends_with("\\"); }),
                names.end());
    // The reference listings show names that are not UTF-8 in the tool's own 8-bit code page;
    // those are compared by their ASCII characters only.
    ASSERT_EQ(names.size(), expected.size());
    for (size_t i = 0; i < names.size(); ++i) {
      if (IsUtf8(expected[i])) {
        EXPECT_EQ(names[i], expected[i]);
      } else {
        EXPECT_TRUE(IsUtf8(names[i])) << names[i];
        EXPECT_EQ(AsciiOnly(names[i]), AsciiOnly(expected[i]));
      }
    }
    ++checked;
  }
  EXPECT_GT(checked, 10);
}

// ---- listing and extraction agree ---------------------------------------------------------------
// The names the extractor would write (relative to its folder), in its order; nothing is written.
Names ExtractorMembers(const std::string& archive, const std::string& extractDir) {
  TUnZip unzip;
  unzip.SetArchiveFile(archive);
  TStringList spec;
  spec.Add("*.*");
  unzip.SetFileSpec(spec);
  unzip.SetExtractDir(extractDir);
  Names names;
  unzip.OnBegin = [&](TObject*, const std::string& path, int, bool& extract) {
    names.push_back(path.substr(unzip.ExtractDir().size()));
    extract = false;
  };
  unzip.OnCorruptZipHeader = [](TObject*, THeaderTypeState, bool& cancel) { cancel = false; };
  unzip.OnNextVolume = [](TObject*, std::string&, const std::string&, bool exists, bool& cancel) {
    cancel = !exists;
  };
  unzip.Extract();
  return names;
}

TEST_F(ArcovaTest, ListingAndExtractionAgreeOnNamesAndMembers) {
  std::vector<std::string> archives;
  {
    ZipBuilder zip;  // names of every kind, one entry without its local header
    ZipMember utf8 = Stored("utf8-\xC3\xA9.txt", "1");
    utf8.flags = 0x0800;
    ZipMember oem = Stored("oem-\x82\x94.txt", "2");
    ZipMember unix = Stored("unix-\xC3\xA9.txt", "3");
    unix.versionMadeBy = 3 << 8;
    zip.Add(utf8).Add(oem).Add(unix).Add(Directory("d/")).Add(Stored("d/x", "4"));
    zip.Add(Stored("gone.txt", "5")).Add(Stored("last", "6"));
    Bytes bytes = zip.Build();
    bytes[zip.Layout().localOffsets[5] + 3] = 0;
    archives.push_back(Write(bytes, "names.zip"));
  }
  {
    ZipBuilder zip;  // local headers only, with data descriptors and an unknown end
    zip.Add(Stored("a", "1")).Add(Described("dd-signed", Text(3000, 4), true));
    zip.Add(Described("dd-plain", Text(100, 5), false)).Add(Stored("utf8-\xC3\xA9", "x"));
    ZipMember unknown = Stored("unknown", "stored, size unknown");
    unknown.flags = 0x0008;
    unknown.localSizesZero = 0;
    zip.Add(unknown).Add(Stored("never", "y"));
    zip.NoCentralDirectory().NoEndRecord();
    archives.push_back(Write(zip.Build(), "local.zip"));
  }
  const std::filesystem::path root = PARCELO_TESTDATA_DIR;
  if (std::filesystem::is_directory(root / "zip"))
    for (const auto& item : std::filesystem::directory_iterator(root / "zip"))
      if (item.path().extension() != ".z01" && item.path().extension() != ".z02")
        archives.push_back(host::FromHostPath(item.path().string()));

  for (const std::string& archive : archives) {
    SCOPED_TRACE(archive);
    arcova.SetArchiveFile(archive);
    SetSpec({"*.*"});
    arcova.OnCorruptZipHeader = [](TObject*, THeaderTypeState, bool& cancel) { cancel = false; };
    const Names listed = Fill();
    EXPECT_EQ(listed, ExtractorMembers(archive, dir.System("out")));
    EXPECT_FALSE(listed.empty());
  }
}

}  // namespace
