// Tests of the lister's ARJ reader: archives and multi-volume sets made by the arj program on this
// machine, the conformance archives when present, headers changed field by field, and damage.
#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "archive/messages/Err_Msgs.h"
#include "support/ReaderFixture.h"
#include "support/TempDir.h"

namespace {

using parcelo::test::ListFile;
using parcelo::test::ReadBytes;
using parcelo::test::RunTool;
using parcelo::test::TempDir;
using parcelo::test::WithSlashes;
using parcelo::test::WriteBytes;

std::string Noise(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string s(size, '\0');
  for (char& c : s) c = static_cast<char>(random());
  return s;
}

class ArjListerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!parcelo::test::HaveTool("arj")) GTEST_SKIP() << "arj is not installed";
    dir.WriteFile("small.txt", "hello\n");
    dir.WriteFile("sub/inner.txt", "inner text, inner text, inner text\n");
    dir.WriteFile("big.bin", Noise(150000, 1));
    dir.WriteFile("tail.txt", std::string(3000, 'x'));
  }
  // Runs arj in the fixture's folder.
  void Arj(const std::string& args) {
    int status = -1;
    RunTool("cd '" + dir.HostPath() + "' && arj " + args + " >/dev/null 2>&1", &status);
    ASSERT_EQ(status, 0) << args;
  }
  TempDir dir{"arj"};
};

TEST_F(ArjListerTest, ListsNamesSizesAndDatesArjStored) {
  Arj("a -y t.arj small.txt sub/inner.txt big.bin");
  const auto listing = ListFile(dir.Host("t.arj"));
  EXPECT_EQ(listing.type, atArj);
  EXPECT_EQ(listing.names, (std::vector<std::string>{"small.txt", "sub\\inner.txt", "big.bin"}));
  if (parcelo::test::HaveTool("lsar")) {
    EXPECT_EQ(WithSlashes(listing.names), parcelo::test::LsarNames(dir.Host("t.arj")));
  }
  EXPECT_EQ(listing.numFiles, 3);
  EXPECT_EQ(listing.unpacked, 6 + 35 + 150000);
  ASSERT_EQ(listing.entries.size(), 3u);
  EXPECT_EQ(listing.entries[2].UnpackedSize, 150000);
  // arj on Unix records Unix times; they come out as this year's dates, not 2033's.
  int year = 0, month = 0, day = 0;
  DecodeDate(listing.entries[0].Date, year, month, day);
  EXPECT_GE(year, 2020);
  EXPECT_LE(year, 2107);
  // Masks select; OnReadFile-only entries are not counted.
  const auto masked = ListFile(dir.Host("t.arj"), {.masks = {"*.bin"}});
  EXPECT_EQ(masked.names, std::vector<std::string>{"big.bin"});
  EXPECT_EQ(masked.unpacked, 150000);
}

TEST_F(ArjListerTest, MemberSplitOverVolumesIsListedOnceWithTheSizesOfAllItsParts) {
  Arj("a -y -v40k -jm0 set.arj small.txt big.bin tail.txt");
  ASSERT_TRUE(std::filesystem::exists(dir.Host("set.a03")));
  const auto listing = ListFile(dir.Host("set.arj"));
  EXPECT_EQ(listing.names, (std::vector<std::string>{"small.txt", "big.bin", "tail.txt"}));
  EXPECT_EQ(listing.numFiles, 3);
  EXPECT_EQ(listing.unpacked, 6 + 150000 + 3000);
  ASSERT_EQ(listing.entries.size(), 3u);
  EXPECT_EQ(listing.entries[1].UnpackedSize, 150000);
  EXPECT_EQ(listing.entries[1].PackedSize, 150000);  // stored: the parts add up to the file
  // The walk asked for the volumes in their order and by their names.
  ASSERT_GE(listing.volumesAsked.size(), 3u);
  EXPECT_NE(listing.volumesAsked[0].find("set.a01"), std::string::npos);
  EXPECT_NE(listing.volumesAsked[2].find("set.a03"), std::string::npos);
  EXPECT_TRUE(listing.errors.empty());
}

TEST_F(ArjListerTest, MissingNextVolumeCancelsAfterWhatWasComplete) {
  Arj("a -y -v40k -jm0 set.arj small.txt big.bin tail.txt");
  // Without an OnNextVolume handler the split member cannot be followed: it is not listed, the
  // walk ends cancelled, and the caller hears of it.
  const auto alone = ListFile(dir.Host("set.arj"), {.nextVolumeHandler = false});
  EXPECT_EQ(alone.names, std::vector<std::string>{"small.txt"});
  EXPECT_EQ(alone.numFiles, 1);
  EXPECT_TRUE(alone.HasError(kErrUserCanceled));
  // A volume missing in the middle of the set: the handler refuses, the same happens there.
  std::filesystem::remove(dir.Host("set.a02"));
  const auto gap = ListFile(dir.Host("set.arj"));
  EXPECT_EQ(gap.names, std::vector<std::string>{"small.txt"});
  EXPECT_TRUE(gap.HasError(kErrUserCanceled));
}

TEST_F(ArjListerTest, ListingFromALaterVolumeSkipsTheTailOfAnEarlierMember) {
  Arj("a -y -v40k -jm0 set.arj small.txt big.bin tail.txt");
  // set.a03 opens with the last part of big.bin; it began elsewhere and is not listed here.
  const auto listing = ListFile(dir.Host("set.a03"));
  EXPECT_EQ(listing.type, atArj);
  EXPECT_EQ(listing.names, std::vector<std::string>{"tail.txt"});
}

TEST_F(ArjListerTest, ExtendedHeadersAreSteppedOverByTheirSizes) {
  Arj("a -y t.arj small.txt big.bin");
  std::vector<uint8_t> bytes = ReadBytes(dir.Host("t.arj"));
  // Behind the main header and its CRC stands the 2-byte size of its first extended header (0).
  const size_t basicSize = bytes[2] | bytes[3] << 8;
  const size_t extendedSize = 4 + basicSize + 4;
  ASSERT_EQ(bytes[extendedSize], 0);
  ASSERT_EQ(bytes[extendedSize + 1], 0);
  const std::vector<uint8_t> extended = {5, 0, 'h', 'e', 'l', 'l', 'o', 1, 2, 3, 4};
  bytes.insert(bytes.begin() + static_cast<long>(extendedSize), extended.begin(), extended.end());
  WriteBytes(dir.Host("ext.arj"), bytes);
  EXPECT_EQ(ListFile(dir.Host("ext.arj")).names,
            (std::vector<std::string>{"small.txt", "big.bin"}));
}

TEST_F(ArjListerTest, ABadMainHeaderIsReportedAndNothingIsListed) {
  Arj("a -y t.arj small.txt");
  std::vector<uint8_t> bytes = ReadBytes(dir.Host("t.arj"));
  bytes[2] = bytes[3] = 0;  // a main header of size 0 is an end header
  WriteBytes(dir.Host("bad.arj"), bytes);
  const auto listing = ListFile(dir.Host("bad.arj"));
  ASSERT_EQ(listing.type, atArj);
  EXPECT_TRUE(listing.names.empty());
  EXPECT_TRUE(listing.HasError(kErrBadFileHeader));
}

TEST_F(ArjListerTest, DamagedArchivesListWhatCameBefore) {
  Arj("a -y -jm0 t.arj small.txt sub/inner.txt tail.txt");
  parcelo::test::DamageSweep(dir.Host("damaged.arj"), ReadBytes(dir.Host("t.arj")));
}

TEST(ArjConformance, ArchivesOfOtherToolsList) {
  const std::string other = std::string(PARCELO_TESTDATA_DIR) + "/other/";
  if (!std::filesystem::exists(other + "cc_bla.arj")) GTEST_SKIP() << "no conformance archives";
  EXPECT_EQ(ListFile(other + "cc_bla.arj").names,
            (std::vector<std::string>{"test1.xml", "test2.xml"}));
  // Three members stored over six volumes, the first already split.
  const auto split = ListFile(other + "sc_Arj.store.split.arj");
  EXPECT_EQ(split.names, (std::vector<std::string>{"EXE\\TEST.EXE", "JPG\\TEST.JPG", "TECT.TXT"}));
  EXPECT_EQ(split.volumesAsked.size(), 5u);
  EXPECT_EQ(split.packed, split.unpacked);  // stored
  const auto first = ListFile(other + "sc_Arj.store.split.arj", {.nextVolumeHandler = false});
  EXPECT_TRUE(first.names.empty());
  EXPECT_TRUE(first.HasError(kErrUserCanceled));
}

}  // namespace
