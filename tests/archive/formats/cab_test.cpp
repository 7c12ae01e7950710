// Tests of the lister's cabinet reader: cabinets made by gcab on this machine, sets of cabinets
// built field by field (reserve areas, previous and next names, members split over cabinets,
// sets that name themselves again), the conformance cabinets when present, and damage.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/messages/Err_Msgs.h"
#include "platform/seams.h"
#include "support/ReaderFixture.h"
#include "support/TempDir.h"

namespace {

using parcelo::test::ByteWriter;
using parcelo::test::HaveTool;
using parcelo::test::ListFile;
using parcelo::test::ReadBytes;
using parcelo::test::RunTool;
using parcelo::test::TempDir;
using parcelo::test::WriteBytes;

struct CabFile {
  std::string name;
  uint32_t size = 0;
  uint16_t folder = 0;  // 0xFFFD from the previous cabinet, 0xFFFE to the next, 0xFFFF both
  uint16_t attributes = 0x20;
};

struct CabLinks {
  std::string previous, previousDisk, next, nextDisk;
  uint16_t headerReserve = 0;  // with either reserve size the reserve fields are written
  uint8_t folderReserve = 0;
};

// One cabinet with one folder (stored) whose data block follows the file records.
std::vector<uint8_t> Cabinet(const std::vector<CabFile>& files, const CabLinks& links = {}) {
  const bool reserve = links.headerReserve != 0 || links.folderReserve != 0;
  const uint16_t flags = static_cast<uint16_t>((links.previous.empty() ? 0 : 1) |
                                               (links.next.empty() ? 0 : 2) | (reserve ? 4 : 0));
  ByteWriter w;
  w.Str("MSCF").U32(0).U32(0).U32(0).U32(0).U32(0).U8(3).U8(1);
  w.U16(1).U16(static_cast<uint32_t>(files.size())).U16(flags).U16(0x1234).U16(0);
  if (reserve) {
    w.U16(links.headerReserve).U8(links.folderReserve).U8(0).Zero(links.headerReserve);
  }
  if (!links.previous.empty()) w.Str(links.previous).U8(0).Str(links.previousDisk).U8(0);
  if (!links.next.empty()) w.Str(links.next).U8(0).Str(links.nextDisk).U8(0);
  const size_t folderAt = w.Size();
  w.U32(0).U16(1).U16(0).Zero(links.folderReserve);
  w.Patch32(16, static_cast<uint32_t>(w.Size()));  // the first file record
  for (const CabFile& f : files) {
    w.U32(f.size).U32(0).U16(f.folder).U16(0x4D31).U16(0x6000).U16(f.attributes);
    w.Str(f.name).U8(0);
  }
  w.Patch32(folderAt, static_cast<uint32_t>(w.Size()));  // the data block
  w.U32(0).U16(8).U16(8).Str("contents");
  w.Patch32(8, static_cast<uint32_t>(w.Size()));
  return w.bytes;
}

class CabListerTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    WriteBytes(dir.Host(name), bytes);
    return dir.Host(name);
  }
  TempDir dir{"cab"};
};

TEST_F(CabListerTest, ListsWhatGcabStored) {
  if (!HaveTool("gcab")) GTEST_SKIP() << "gcab is not installed";
  dir.WriteFile("a.txt", "hello\n");
  dir.WriteFile("sub/b.txt", std::string(5000, 'b'));
  for (const std::string compress : {"", "-z"}) {
    int status = -1;
    RunTool("cd '" + dir.HostPath() + "' && gcab -c " + compress + " t.cab a.txt sub/b.txt",
            &status);
    ASSERT_EQ(status, 0);
    const auto listing = ListFile(dir.Host("t.cab"));
    EXPECT_EQ(listing.type, atCab);
    EXPECT_EQ(listing.names, (std::vector<std::string>{"a.txt", "sub\\b.txt"}));
    EXPECT_EQ(listing.unpacked, 5006);
    EXPECT_EQ(listing.packed, 5006);  // a cabinet records no packed size per member
    ASSERT_EQ(listing.entries.size(), 2u);
    EXPECT_EQ(listing.entries[1].MethodName, compress.empty() ? "Stored" : "MsZIP");
  }
  parcelo::test::DamageSweep(dir.Host("damaged.cab"), ReadBytes(dir.Host("t.cab")));
}

TEST_F(CabListerTest, SetIsFollowedAndSplitMembersAreListedWhereTheyEnd) {
  // Reserve areas in every cabinet; names of the next cabinets in another case than the files.
  const CabLinks first{"", "", "SET2.CAB", "Disk 2", 20, 4};
  const CabLinks second{"set1.cab", "Disk 1", "Set3.Cab", "Disk 3", 0, 6};
  const CabLinks third{"set2.cab", "Disk 2", "", "", 7, 0};
  const std::string path =
      Write("set1.cab", Cabinet({{"one.txt", 10}, {"long.bin", 9000, 0xFFFE}}, first));
  Write("set2.cab", Cabinet({{"long.bin", 9000, 0xFFFF}}, second));
  Write("set3.cab", Cabinet({{"long.bin", 9000, 0xFFFD}, {"two.txt", 20, 0}}, third));
  const auto listing = ListFile(path);
  EXPECT_EQ(listing.names, (std::vector<std::string>{"one.txt", "long.bin", "two.txt"}));
  EXPECT_EQ(listing.numFiles, 3);
  EXPECT_EQ(listing.unpacked, 10 + 9000 + 20);
  EXPECT_TRUE(listing.errors.empty());
  ASSERT_EQ(listing.volumesAsked.size(), 2u);
  EXPECT_NE(listing.volumesAsked[0].find("SET2.CAB"), std::string::npos);

  // Without the next cabinets: what ends in the first is listed, the walk is cancelled.
  const auto alone = ListFile(path, {.nextVolumeHandler = false});
  EXPECT_EQ(alone.names, std::vector<std::string>{"one.txt"});
  EXPECT_TRUE(alone.HasError(kErrEventNotAssigned));
  std::filesystem::remove(dir.Host("set3.cab"));
  const auto refused = ListFile(path);
  EXPECT_EQ(refused.names, std::vector<std::string>{"one.txt"});
  EXPECT_TRUE(refused.HasError(kErrUserCanceled));
}

TEST_F(CabListerTest, SetsThatNameACabinetAgainEnd) {
  // A cabinet that names itself as the next one, and two that name each other.
  const auto self = ListFile(Write("self.cab", Cabinet({{"a.txt", 1}}, {"", "", "SELF.cab", "d"})));
  EXPECT_EQ(self.names, std::vector<std::string>{"a.txt"});
  EXPECT_TRUE(self.volumesAsked.empty());
  Write("ping.cab", Cabinet({{"ping.txt", 1}}, {"", "", "pong.cab", "d2"}));
  Write("pong.cab", Cabinet({{"pong.txt", 1}}, {"ping.cab", "d1", "ping.cab", "d1"}));
  const auto cycle = ListFile(dir.Host("ping.cab"));
  EXPECT_EQ(cycle.names, (std::vector<std::string>{"ping.txt", "pong.txt"}));
  EXPECT_EQ(cycle.volumesAsked.size(), 1u);
}

TEST_F(CabListerTest, BadCabinetHeadersAreReported) {
  // The next cabinet of the set is no cabinet: 25114 names it and its disk.
  Write("bad2.cab", std::vector<uint8_t>(100, 'x'));
  const auto next =
      ListFile(Write("bad1.cab", Cabinet({{"a.txt", 1}}, {"", "", "bad2.cab", "Disk Two"})));
  EXPECT_EQ(next.names, std::vector<std::string>{"a.txt"});
  ASSERT_TRUE(next.HasError(kErrBadFileHeader));
  EXPECT_EQ(next.errors.back().fileName, "bad2.cab");
  EXPECT_EQ(next.errors.back().extendedMsg, "Disk Two");
  // A first cabinet whose folder points outside the file: nothing is listed.
  std::vector<uint8_t> bytes = Cabinet({{"a.txt", 1}});
  bytes[36] = bytes[37] = bytes[38] = 0x7F;  // the folder's data offset
  const auto first = ListFile(Write("bad.cab", bytes));
  EXPECT_EQ(first.type, atCab);
  EXPECT_TRUE(first.names.empty());
  EXPECT_TRUE(first.HasError(kErrBadFileHeader));
}

TEST_F(CabListerTest, NextCabinetThatCannotBeOpenedIsReported) {
  Write("locked2.cab", Cabinet({{"b.txt", 1}}));
  const std::string path =
      Write("locked1.cab", Cabinet({{"a.txt", 1}}, {"", "", "locked2.cab", "Disk 2"}));
  host::TSeams seams;
  seams.FailOpen = [](const std::string& hostPath) {
    return hostPath.find("locked2") != std::string::npos;
  };
  host::ScopedSeams scope(seams);
  const auto listing = ListFile(path);
  EXPECT_EQ(listing.names, std::vector<std::string>{"a.txt"});
  ASSERT_TRUE(listing.HasError(kErrOpeningFile));
  EXPECT_NE(listing.errors.back().fileName.find("locked2.cab"), std::string::npos);
}

TEST_F(CabListerTest, NamesMarkedUtf8AreNotTakenForDosNames) {
  const auto listing = ListFile(Write(
      "names.cab", Cabinet({{"caf\xC3\xA9.txt", 1, 0, 0xA0}, {"\x82t\x82.txt", 1, 0, 0x20}})));
  // The second is a DOS name (code page 437: 0x82 is e with an acute accent).
  EXPECT_EQ(listing.names, (std::vector<std::string>{"caf\xC3\xA9.txt", "\xC3\xA9t\xC3\xA9.txt"}));
}

TEST(CabConformance, CabinetsOfOtherTools) {
  const std::string other = std::string(PARCELO_TESTDATA_DIR) + "/other/";
  if (!std::filesystem::exists(other + "split-1.cab")) GTEST_SKIP() << "no conformance archives";
  EXPECT_EQ(ListFile(other + "ms_simple.cab").names,
            (std::vector<std::string>{"hello.c", "welcome.c"}));
  // Five cabinets; they name each other "Split-2.CAB" ... while the files are split-2.cab ...
  const auto set = ListFile(other + "split-1.cab");
  EXPECT_EQ(set.names, (std::vector<std::string>{"small1.bin", "small2.bin", "medium1.bin",
                                                 "medium2.bin", "small3.bin", "medium3.bin"}));
  EXPECT_EQ(set.volumesAsked.size(), 4u);
  EXPECT_EQ(set.unpacked, 2000 + 8000 + 40000 + 50000 + 128 + 40000);
  EXPECT_EQ(ListFile(other + "split-1.cab", {.nextVolumeHandler = false}).names,
            std::vector<std::string>{"small1.bin"});
}

}  // namespace
