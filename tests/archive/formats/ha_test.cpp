// Tests of the lister's HA reader. No Debian tool writes HA, so archives are built field by field
// (machine-specific blocks of DOS and of Unix length side by side) and checked against the
// conformance archive (made by HA on Unix) when present; lsar does not read HA.
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

constexpr uint32_t kJan2020 = 1577880000;  // 2020-01-01 12:00 UTC

struct HaFile {
  std::string path;  // "/" becomes HA's 0xFF separator
  std::string name;
  std::string data;
  uint32_t unpacked = 0;
  uint8_t method = 0;        // 0 stored, 14 a folder
  uint8_t machineBytes = 7;  // 2 from DOS, 7 from Unix
};

std::vector<uint8_t> Archive(const std::vector<HaFile>& files) {
  ByteWriter w;
  w.Str("HA").U16(static_cast<uint32_t>(files.size()));
  for (const HaFile& f : files) {
    std::string path = f.path;
    for (char& c : path) {
      if (c == '/') c = '\xFF';
    }
    w.U8(0x20 | f.method).U32(static_cast<uint32_t>(f.data.size())).U32(f.unpacked);
    w.U32(0xCAFEF00D).U32(kJan2020).Str(path).U8(0).Str(f.name).U8(0);
    w.U8(f.machineBytes);
    for (uint8_t i = 0; i < f.machineBytes; ++i) w.U8(0xA4 + i);
    w.Str(f.data);
  }
  return w.bytes;
}

class HaListerTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    WriteBytes(dir.Host(name), bytes);
    return dir.Host(name);
  }
  TempDir dir{"ha"};
};

TEST_F(HaListerTest, MachineBlocksOfEitherLengthAreSteppedOver) {
  const std::string path =
      Write("t.ha", Archive({{"", "unix.txt", "unix data", 9, 0, 7},
                             {"docs/sub/", "dos.txt", "dos data here", 13, 0, 2},
                             {"docs/", "empty", "", 0, 14, 7},
                             {"", "third.txt", "x", 1, 0, 7}}));
  const auto listing = ListFile(path);
  EXPECT_EQ(listing.type, atHA);
  EXPECT_EQ(listing.names,
            (std::vector<std::string>{"unix.txt", "docs\\sub\\dos.txt", "third.txt"}));
  EXPECT_EQ(listing.numFiles, 3);
  EXPECT_EQ(listing.unpacked, 9 + 13 + 1);
  const auto withDirs = ListFile(path, {.showEmptyDirs = true});
  EXPECT_EQ(withDirs.names.size(), 4u);
  EXPECT_EQ(withDirs.names[2], "docs\\empty");
  ASSERT_EQ(listing.entries.size(), 3u);
  EXPECT_EQ(listing.entries[0].Crc32, 0xCAFEF00Du);
  int year = 0, month = 0, day = 0;
  DecodeDate(listing.entries[0].Date, year, month, day);
  EXPECT_EQ(year * 100 + month, 202001);  // Unix seconds, shown as a date
}

TEST_F(HaListerTest, DamagedArchivesListWhatCameBefore) {
  parcelo::test::DamageSweep(dir.Host("damaged.ha"),
                             Archive({{"", "a.txt", "alpha", 5, 0, 7},
                                      {"d/", "b.txt", "beta", 4, 0, 2},
                                      {"", "c.txt", "gamma gamma", 11, 0, 7}}));
}

TEST(HaConformance, ArchiveMadeByHaOnUnix) {
  const std::string path = std::string(PARCELO_TESTDATA_DIR) + "/other/own_ha_cpy.ha";
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no conformance archives";
  EXPECT_EQ(ListFile(path).names, (std::vector<std::string>{"readme.txt", "docs\\sub\\notes.txt"}));
}

}  // namespace
