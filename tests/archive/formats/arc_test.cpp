// Tests of the lister's ARC and PAK reader and of ARC detection: archives made by the arc program
// on this machine, headers built field by field (subdirectories, the oldest stored form, PAK),
// lsar as a second opinion where it is installed, the conformance archive, and damage.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/ReaderFixture.h"
#include "support/TempDir.h"

namespace {

using parcelo::test::ByteWriter;
using parcelo::test::HaveTool;
using parcelo::test::ListFile;
using parcelo::test::LsarNames;
using parcelo::test::ReadBytes;
using parcelo::test::RunTool;
using parcelo::test::TempDir;
using parcelo::test::WithSlashes;
using parcelo::test::WriteBytes;

// One member: mark, method, name, packed size, date, time, CRC-16, unpacked size (absent for the
// oldest stored form, method 1), then the data.
void Member(ByteWriter& w, uint8_t method, const std::string& name, const std::string& data,
            uint32_t unpacked) {
  w.U8(0x1A).U8(method).Fixed(name, 13).U32(static_cast<uint32_t>(data.size()));
  w.U16(0x5921).U16(0x6000).U16(0x1234);
  if (method != 1) w.U32(unpacked);
  w.Str(data);
}
void Member(ByteWriter& w, uint8_t method, const std::string& name, const std::string& data) {
  Member(w, method, name, data, static_cast<uint32_t>(data.size()));
}

class ArcListerTest : public ::testing::Test {
 protected:
  // Writes the bytes, checks lsar agrees about the names (folders aside), and lists them.
  parcelo::test::TListing ListBytes(const std::vector<uint8_t>& bytes,
                                    parcelo::test::TListOptions options = {}) {
    const std::string path = dir.Host("t" + std::to_string(++files) + ".arc");
    WriteBytes(path, bytes);
    return ListFile(path, options);
  }
  TempDir dir{"arc"};
  int files = 0;
};

TEST_F(ArcListerTest, ListsWhatTheArcProgramStored) {
  if (!HaveTool("arc")) GTEST_SKIP() << "arc is not installed";
  dir.WriteFile("RUNS.DAT", std::string(2000, 'A') + std::string(2000, 'B'));
  std::string text;
  for (int i = 0; i < 100; ++i) text += "the quick brown fox jumps over the lazy dog ";
  dir.WriteFile("TEXT.TXT", text);
  std::mt19937 random(7);
  std::string noise(3000, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  dir.WriteFile("NOISE.BIN", noise);
  int status = -1;
  RunTool("cd '" + dir.HostPath() + "' && arc a t.arc TEXT.TXT RUNS.DAT NOISE.BIN >/dev/null 2>&1",
          &status);
  ASSERT_EQ(status, 0);
  const auto listing = ListFile(dir.Host("t.arc"));
  EXPECT_EQ(listing.type, atArc);
  // arc keeps its members sorted by name.
  EXPECT_EQ(listing.names, (std::vector<std::string>{"NOISE.BIN", "RUNS.DAT", "TEXT.TXT"}));
  EXPECT_EQ(listing.unpacked, 3000 + 4000 + 4400);
  EXPECT_LT(listing.packed, listing.unpacked);  // the text and the runs were crunched
  ASSERT_EQ(listing.entries.size(), 3u);
  EXPECT_EQ(listing.entries[0].MethodName, "Stored");
  EXPECT_EQ(listing.entries[2].Method, 8u);
  EXPECT_EQ(listing.entries[2].MethodName, "Crunched");
  if (HaveTool("lsar")) {
    EXPECT_EQ(listing.names, LsarNames(dir.Host("t.arc")));
  }
}

TEST_F(ArcListerTest, DamagedArchivesListWhatCameBefore) {
  if (!HaveTool("arc")) GTEST_SKIP() << "arc is not installed";
  dir.WriteFile("A.TXT", "alpha alpha alpha alpha alpha");
  dir.WriteFile("B.TXT", "b");
  dir.WriteFile("C.TXT", "gamma delta gamma delta gamma delta gamma delta");
  int status = -1;
  RunTool("cd '" + dir.HostPath() + "' && arc a t.arc A.TXT B.TXT C.TXT >/dev/null 2>&1", &status);
  ASSERT_EQ(status, 0);
  parcelo::test::DamageSweep(dir.Host("damaged.arc"), ReadBytes(dir.Host("t.arc")));
}

TEST_F(ArcListerTest, ArchiveIsRecognisedWhateverMethodItsFirstMemberUses) {
  for (const uint8_t method : {1, 3, 4, 5, 6, 7, 8, 9}) {
    ByteWriter w;
    Member(w, method, "FIRST.TXT", "0123456789");
    Member(w, 2, "SECOND.TXT", "abc");
    w.U8(0x1A).U8(0);
    const auto listing = ListBytes(w.bytes);
    EXPECT_EQ(listing.type, atArc) << int{method};
    EXPECT_EQ(listing.names, (std::vector<std::string>{"FIRST.TXT", "SECOND.TXT"})) << int{method};
  }
  // The same bytes without a plausible name behind the method are no archive.
  ByteWriter notArc;
  notArc.U8(0x1A).U8(0x03).Str("\x01\x02garbage").Zero(40);
  EXPECT_EQ(ListBytes(notArc.bytes).type, atNA);
  ByteWriter unnamed;
  unnamed.U8(0x1A).U8(0x04).Zero(40);
  EXPECT_EQ(ListBytes(unnamed.bytes).type, atNA);
}

TEST_F(ArcListerTest, MethodsAreNamedAsArcNamesThem) {
  ByteWriter w;
  for (const uint8_t method : {1, 2, 3, 4, 5, 6, 7, 8, 9})
    Member(w, method, "M" + std::to_string(method) + ".TXT", "data");
  w.U8(0x1A).U8(0);
  const auto listing = ListBytes(w.bytes);
  std::vector<std::string> names;
  for (const TArcovaEntry& e : listing.entries) names.push_back(e.MethodName);
  EXPECT_EQ(names, (std::vector<std::string>{"Stored", "Stored", "Packed", "Squeezed", "Crunched",
                                             "Crunched", "Crunched", "Crunched", "Squashed"}));
}

TEST_F(ArcListerTest, SubdirectoryPrefixesTheNamesOfItsMembersUntilItsEnd) {
  ByteWriter w;
  Member(w, 30, "SUB", "", 0);
  Member(w, 2, "A.TXT", "hello A\n");
  Member(w, 30, "DEEP", "", 0);
  Member(w, 2, "C.TXT", "sea\n");
  w.U8(0x1A).U8(31);  // DEEP ends
  w.U8(0x1A).U8(31);  // SUB ends
  Member(w, 2, "B.TXT", "bee\n");
  w.U8(0x1A).U8(0);
  const auto files = ListBytes(w.bytes);
  EXPECT_EQ(files.names, (std::vector<std::string>{"SUB\\A.TXT", "SUB\\DEEP\\C.TXT", "B.TXT"}));
  EXPECT_EQ(files.numFiles, 3);
  EXPECT_EQ(files.unpacked, 8 + 4 + 4);
  const auto withDirs = ListBytes(w.bytes, {.showEmptyDirs = true});
  EXPECT_EQ(withDirs.names, (std::vector<std::string>{"SUB\\", "SUB\\A.TXT", "SUB\\DEEP\\",
                                                      "SUB\\DEEP\\C.TXT", "B.TXT"}));
  EXPECT_EQ(withDirs.numFiles, 3);  // folders are listed, not counted
  if (HaveTool("lsar")) {
    const std::string path = dir.Host("sub.arc");
    WriteBytes(path, w.bytes);
    EXPECT_EQ(WithSlashes(withDirs.names), LsarNames(path));
  }
}

TEST_F(ArcListerTest, OldestStoredFormHasAShorterHeader) {
  ByteWriter w;
  Member(w, 1, "OLD.TXT", "hello old\n");
  Member(w, 2, "NEW.TXT", "new");
  w.U8(0x1A).U8(0);
  const auto listing = ListBytes(w.bytes);
  EXPECT_EQ(listing.names, (std::vector<std::string>{"OLD.TXT", "NEW.TXT"}));
  EXPECT_EQ(listing.unpacked, 10 + 3);
}

TEST_F(ArcListerTest, PakMembersAndTheEndMark) {
  ByteWriter w;
  Member(w, 10, "CRUSHED.DAT", "xxxxxxxx", 100);
  Member(w, 11, "DISTILL.DAT", "yyyy", 50);
  w.U8(0x1A).U8(0);
  Member(w, 2, "AFTER.END", "never listed");
  const auto listing = ListBytes(w.bytes);
  EXPECT_EQ(listing.type, atPak);
  EXPECT_EQ(listing.names, (std::vector<std::string>{"CRUSHED.DAT", "DISTILL.DAT"}));
  EXPECT_EQ(listing.unpacked, 150);
  EXPECT_EQ(listing.packed, 12);
  ASSERT_EQ(listing.entries.size(), 2u);
  EXPECT_EQ(listing.entries[0].MethodName, "Crushed");
}

TEST_F(ArcListerTest, DeepOrUnendedFoldersStayBounded) {
  ByteWriter w;
  for (int i = 0; i < 500; ++i) Member(w, 30, "D" + std::to_string(i), "", 0);
  Member(w, 2, "X.TXT", "x");
  const auto listing = ListBytes(w.bytes, {.showEmptyDirs = true});
  EXPECT_LE(listing.names.size(), 100u);  // the walk gives up far below 500 levels
}

TEST(ArcConformance, CrunchedArchiveOfAnotherTool) {
  const std::string path = std::string(PARCELO_TESTDATA_DIR) + "/other/sc_Arc.crunched.arc";
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no conformance archives";
  const auto listing = ListFile(path);
  EXPECT_EQ(listing.names, (std::vector<std::string>{"TECT.TXT", "TEST.EXE", "TEST.JPG"}));
}

}  // namespace
