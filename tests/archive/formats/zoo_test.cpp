// Tests of the lister's ZOO reader. No Debian tool writes ZOO, so archives are built field by field
// (short-name entries, entries with a long name and a folder, deleted entries, the closing entry)
// and cross-checked with lsar where it is installed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/ReaderFixture.h"
#include "support/TempDir.h"

namespace {

using parcelo::test::ByteWriter;
using parcelo::test::HaveTool;
using parcelo::test::ListFile;
using parcelo::test::LsarNames;
using parcelo::test::TempDir;
using parcelo::test::WithSlashes;
using parcelo::test::WriteBytes;

constexpr uint32_t kZooTag = 0xFDC4A7DC;

struct ZooFile {
  std::string shortName;
  std::string longName;  // with `folder`, only in entries of type 2
  std::string folder;
  std::string data;
  uint32_t unpacked = 0;
  bool deleted = false;
};

// The archive header, the entries each followed by its data, the closing entry.
std::vector<uint8_t> Archive(const std::vector<ZooFile>& files) {
  ByteWriter w;
  constexpr uint32_t kFirst = 42;
  w.Fixed("ZOO 2.10 Archive.\x1A", 20).U32(kZooTag).U32(kFirst).U32(0u - kFirst);
  w.U8(2).U8(0).U8(1).U32(0).U16(0).U8(0);
  for (const ZooFile& f : files) {
    const bool typeTwo = !f.longName.empty() || !f.folder.empty();
    const size_t start = w.Size();
    w.U32(kZooTag).U8(typeTwo ? 2 : 1).U8(0).U32(0).U32(0);
    w.U16(0x5921).U16(0x6000).U16(0xBEEF).U32(f.unpacked).U32(static_cast<uint32_t>(f.data.size()));
    w.U8(2).U8(0).U8(f.deleted ? 1 : 0).U8(0).U32(0).U16(0).Fixed(f.shortName, 13);
    const size_t variable = f.longName.size() + f.folder.size() + 1 + (f.folder.empty() ? 0 : 1);
    w.U16(typeTwo ? static_cast<uint32_t>(variable + 2) : 0).U8(127).U16(0);
    w.U8(typeTwo ? static_cast<uint32_t>(f.longName.size() + 1) : 0);
    w.U8(typeTwo && !f.folder.empty() ? static_cast<uint32_t>(f.folder.size() + 1) : 0);
    if (typeTwo) {
      w.Str(f.longName).U8(0);
      if (!f.folder.empty()) w.Str(f.folder).U8(0);
    }
    w.Patch32(start + 10, static_cast<uint32_t>(w.Size()));  // the data
    w.Str(f.data);
    w.Patch32(start + 6, static_cast<uint32_t>(w.Size()));  // the next entry
  }
  w.U32(kZooTag).U8(2).U8(0).U32(0).U32(0).Zero(64);  // the closing entry
  return w.bytes;
}

class ZooListerTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    WriteBytes(dir.Host(name), bytes);
    return dir.Host(name);
  }
  TempDir dir{"zoo"};
};

TEST_F(ZooListerTest, ListsEntriesButNotTheClosingOne) {
  const std::string path =
      Write("t.zoo", Archive({{"SHORT.TXT", "", "", "short data", 10},
                              {"longna~1.txt", "long name of a file.txt", "docs/sub", "ld", 50},
                              {"GONE.TXT", "", "", "deleted", 7, true},
                              {"LAST.BIN", "", "", "0123", 400}}));
  const auto listing = ListFile(path);
  EXPECT_EQ(listing.type, atZoo);
  EXPECT_EQ(listing.names, (std::vector<std::string>{
                               "SHORT.TXT", "docs\\sub\\long name of a file.txt", "LAST.BIN"}));
  EXPECT_EQ(listing.numFiles, 3);  // the archive header and the closing entry count for nothing
  EXPECT_EQ(listing.unpacked, 10 + 50 + 400);
  EXPECT_EQ(listing.packed, 10 + 2 + 4);
  if (HaveTool("lsar")) {
    // lsar also shows deleted entries (zoo itself does not list them).
    auto lsar = LsarNames(path);
    std::erase(lsar, "GONE.TXT");
    EXPECT_EQ(WithSlashes(listing.names), lsar);
  }
}

TEST_F(ZooListerTest, ArchiveHeaderWithoutItsNegatedOffsetListsNothing) {
  std::vector<uint8_t> bytes = Archive({{"A.TXT", "", "", "a", 1}});
  bytes[28] ^= 1;
  const auto listing = ListFile(Write("bad.zoo", bytes));
  EXPECT_EQ(listing.type, atZoo);
  EXPECT_TRUE(listing.names.empty());
}

TEST_F(ZooListerTest, ChainThatPointsBackEnds) {
  std::vector<uint8_t> bytes =
      Archive({{"A.TXT", "", "", "a", 1}, {"B.TXT", "", "", "b", 1}, {"C.TXT", "", "", "c", 1}});
  // B's next-entry offset points back at A.
  const size_t b = bytes[6 + 42] | bytes[7 + 42] << 8;
  bytes[b + 6] = 42;
  bytes[b + 7] = bytes[b + 8] = bytes[b + 9] = 0;
  EXPECT_EQ(ListFile(Write("loop.zoo", bytes)).names, (std::vector<std::string>{"A.TXT", "B.TXT"}));
}

TEST_F(ZooListerTest, DamagedArchivesListWhatCameBefore) {
  parcelo::test::DamageSweep(dir.Host("damaged.zoo"),
                             Archive({{"A.TXT", "", "", "alpha", 5},
                                      {"b~1.txt", "bee.txt", "d", "beta", 4},
                                      {"C.TXT", "", "", "gamma", 5}}));
}

}  // namespace
