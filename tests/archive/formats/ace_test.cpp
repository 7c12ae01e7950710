// Tests of the lister's ACE reader. No Debian tool writes ACE, so archives are built field by
// field (with the header CRCs ACE uses) and the reader is checked against the conformance archive
// when present; sets of volumes are built the same way.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/messages/Err_Msgs.h"
#include "support/ReaderFixture.h"
#include "support/TempDir.h"

#include <zlib.h>  // CRC-32 of the built headers; after the engine, whose names it shadows

namespace {

using parcelo::test::ByteWriter;
using parcelo::test::ListFile;
using parcelo::test::TempDir;
using parcelo::test::WriteBytes;

constexpr uint16_t kAddSize = 0x0001;
constexpr uint16_t kSplitBefore = 0x1000;
constexpr uint16_t kSplitAfter = 0x2000;
constexpr uint16_t kMultiVolume = 0x0800;

// A header: its CRC (the low word of the inverted CRC-32 of what follows the size field), the
// size, then `body`.
void Header(ByteWriter& w, const std::vector<uint8_t>& body) {
  const uint32_t crc =
      ~static_cast<uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size())));
  w.U16(crc & 0xFFFF).U16(static_cast<uint32_t>(body.size())).Append(body);
}

void ArchiveHeader(ByteWriter& w, uint16_t flags = 0, uint8_t volume = 0) {
  ByteWriter b;
  b.U8(0).U16(flags).Str("**ACE**").U8(20).U8(20).U8(2).U8(volume).U32(0x5B8B75D8).Zero(8).U8(0);
  Header(w, b.bytes);
}

struct AceFile {
  std::string name;
  std::string data;  // this part's packed data
  uint32_t unpacked = 0;
  uint16_t flags = 0;
  uint32_t attributes = 0x20;
};

void File(ByteWriter& w, const AceFile& f) {
  ByteWriter b;
  b.U8(1).U16(kAddSize | f.flags).U32(static_cast<uint32_t>(f.data.size())).U32(f.unpacked);
  b.U32(0x5B8B75D8).U32(f.attributes).U32(0x12345678).U32(0).U16(0);
  b.U16(static_cast<uint32_t>(f.name.size())).Str(f.name);
  Header(w, b.bytes);
  w.Str(f.data);
}

class AceListerTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    WriteBytes(dir.Host(name), bytes);
    return dir.Host(name);
  }
  TempDir dir{"ace"};
};

TEST_F(AceListerTest, ListsFilesAndFoldersOfABuiltArchive) {
  ByteWriter w;
  ArchiveHeader(w);
  File(w, {"docs", "", 0, 0, 0x10});
  File(w, {"docs\\readme.txt", "hello, readme", 13});
  File(w, {"data.bin", "0123456789", 4000});
  const std::string path = Write("t.ace", w.bytes);
  const auto files = ListFile(path);
  EXPECT_EQ(files.type, atAce);
  EXPECT_EQ(files.names, (std::vector<std::string>{"docs\\readme.txt", "data.bin"}));
  EXPECT_EQ(files.unpacked, 13 + 4000);
  EXPECT_EQ(files.packed, 13 + 10);
  const auto all = ListFile(path, {.showEmptyDirs = true});
  EXPECT_EQ(all.names, (std::vector<std::string>{"docs", "docs\\readme.txt", "data.bin"}));
  EXPECT_EQ(all.numFiles, 2);
  // A name longer than 255 bytes is read whole.
  ByteWriter longName;
  ArchiveHeader(longName);
  File(longName, {std::string(300, 'n') + ".txt", "x", 1});
  File(longName, {"after.txt", "y", 1});
  EXPECT_EQ(ListFile(Write("long.ace", longName.bytes)).names,
            (std::vector<std::string>{std::string(300, 'n') + ".txt", "after.txt"}));
}

TEST_F(AceListerTest, MemberSplitOverVolumesIsListedOnceWhereItEnds) {
  ByteWriter v0, v1, v2;
  ArchiveHeader(v0, kMultiVolume, 0);
  File(v0, {"first.txt", "first", 5});
  File(v0, {"split.bin", std::string(100, 'a'), 250, kSplitAfter});
  ArchiveHeader(v1, kMultiVolume, 1);
  File(v1, {"split.bin", std::string(100, 'b'), 250, kSplitBefore | kSplitAfter});
  ArchiveHeader(v2, kMultiVolume, 2);
  File(v2, {"split.bin", std::string(50, 'c'), 250, kSplitBefore});
  File(v2, {"last.txt", "last", 4});
  const std::string path = Write("set.ace", v0.bytes);
  // ACE numbers its further volumes .c00, .c01, ...
  Write("set.c00", v1.bytes);
  Write("set.c01", v2.bytes);
  const auto listing = ListFile(path);
  EXPECT_EQ(listing.names, (std::vector<std::string>{"first.txt", "split.bin", "last.txt"}));
  EXPECT_EQ(listing.numFiles, 3);
  EXPECT_EQ(listing.unpacked, 5 + 250 + 4);
  EXPECT_EQ(listing.packed, 5 + 250 + 4);
  ASSERT_EQ(listing.entries.size(), 3u);
  EXPECT_EQ(listing.entries[1].PackedSize, 250);
  EXPECT_EQ(listing.volumesAsked.size(), 2u);

  const auto alone = ListFile(path, {.nextVolumeHandler = false});
  EXPECT_EQ(alone.names, std::vector<std::string>{"first.txt"});
  EXPECT_EQ(alone.numFiles, 1);
  EXPECT_EQ(alone.unpacked, 5);
  EXPECT_TRUE(alone.HasError(kErrUserCanceled));
}

TEST_F(AceListerTest, WalkEndsAtWhatIsNoFileHeader) {
  ByteWriter w;
  ArchiveHeader(w);
  File(w, {"one.txt", "1", 1});
  ByteWriter recovery;  // a recovery record: another type
  recovery.U8(2).U16(0).Zero(40);
  Header(w, recovery.bytes);
  File(w, {"two.txt", "2", 1});
  EXPECT_EQ(ListFile(Write("rec.ace", w.bytes)).names, std::vector<std::string>{"one.txt"});
}

TEST_F(AceListerTest, DamagedArchivesListWhatCameBefore) {
  ByteWriter w;
  ArchiveHeader(w);
  File(w, {"a.txt", "alpha", 5});
  File(w, {"dir\\b.txt", "beta beta", 9});
  File(w, {"c.txt", "gamma", 5});
  parcelo::test::DamageSweep(dir.Host("damaged.ace"), w.bytes);
}

TEST(AceConformance, ArchiveOfAnotherTool) {
  const std::string path = std::string(PARCELO_TESTDATA_DIR) + "/other/sc_Ace.store.ace";
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no conformance archives";
  EXPECT_EQ(ListFile(path).names,
            (std::vector<std::string>{"exe\\test.exe", "jpg\\test.jpg", "Tect.txt.txt"}));
  EXPECT_EQ(ListFile(path, {.showEmptyDirs = true}).names.size(), 5u);
}

}  // namespace
