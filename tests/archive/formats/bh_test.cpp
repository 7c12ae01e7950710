// Tests of the lister's BH reader. No tool on this machine writes or reads BH, so archives are
// built field by field: members, folders, the end of the chain, and damage.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/ReaderFixture.h"
#include "support/TempDir.h"

namespace {

using parcelo::test::ByteWriter;
using parcelo::test::ListFile;
using parcelo::test::TempDir;
using parcelo::test::WriteBytes;

struct BhFile {
  std::string name;
  std::string data;
  uint32_t unpacked = 0;
  uint16_t attributes = 0x20;
  uint8_t method = 8;
};

// Signature, header size (never 0), versions, flags, method, date-time, sizes, CRC-32,
// attributes, name length at 33; the name and the packed data follow the 37 bytes.
void Member(ByteWriter& w, const BhFile& f) {
  w.Str("BH\x05\x07").U16(37 + static_cast<uint32_t>(f.name.size())).U8(0).U8(20).U8(20).U8(0);
  w.U8(f.method).U32(0x5B8B75D8).U32(static_cast<uint32_t>(f.data.size())).U32(f.unpacked);
  w.U32(0x11223344).U16(f.attributes).Zero(4).U8(static_cast<uint32_t>(f.name.size())).Zero(3);
  w.Str(f.name).Str(f.data);
}

class BhListerTest : public ::testing::Test {
 protected:
  TempDir dir{"bh"};
};

TEST_F(BhListerTest, ListsMembersAndFoldersUpToTheEndOfTheChain) {
  ByteWriter w;
  Member(w, {"README.TXT", "packed readme", 200});
  Member(w, {"DOCS", "", 0, 0x10, 0});
  Member(w, {"DOCS\\GUIDE.TXT", "guide", 5, 0x20, 0});
  w.Str("BH\x05\x07").U16(0).Zero(40);  // a header field of 0 ends the chain
  Member(w, {"NEVER.TXT", "x", 1});
  const std::string path = dir.Host("t.bh");
  WriteBytes(path, w.bytes);
  const auto files = ListFile(path);
  EXPECT_EQ(files.type, atBh);
  EXPECT_EQ(files.names, (std::vector<std::string>{"README.TXT", "DOCS\\GUIDE.TXT"}));
  EXPECT_EQ(files.unpacked, 205);
  EXPECT_EQ(files.packed, 13 + 5);
  ASSERT_EQ(files.entries.size(), 2u);
  EXPECT_EQ(files.entries[0].Crc32, 0x11223344u);
  EXPECT_EQ(files.entries[1].MethodName, "Stored");
  const auto all = ListFile(path, {.showEmptyDirs = true});
  EXPECT_EQ(all.names, (std::vector<std::string>{"README.TXT", "DOCS", "DOCS\\GUIDE.TXT"}));
  EXPECT_EQ(all.numFiles, 2);
}

TEST_F(BhListerTest, DamagedArchivesListWhatCameBefore) {
  ByteWriter w;
  Member(w, {"A.TXT", "alpha", 5});
  Member(w, {"B.TXT", "beta beta", 9});
  Member(w, {"C.TXT", "gamma", 5});
  parcelo::test::DamageSweep(dir.Host("damaged.bh"), w.bytes);
}

}  // namespace
