// Tests of the lister's GZIP-family reader: files made by gzip and compress name their one member
// by the stored name or by the file's base name, with the trailer's sizes; masks do not apply; an
// extra field does not hide the stored name; damaged files never crash.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/ReaderFixture.h"
#include "support/TempDir.h"

namespace {

using parcelo::test::Bytes;
using parcelo::test::ListFile;
using parcelo::test::TempDir;
using parcelo::test::TListOptions;

class GzipLister : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!parcelo::test::HaveTool("gzip")) GTEST_SKIP() << "gzip missing";
    dir_.WriteFile("data.txt", std::string(70000, 'q') + "tail");
  }
  TempDir dir_{"gzip-lister"};
};

TEST_F(GzipLister, NameIsTheStoredOneElseTheBaseNameAndMasksDoNotApply) {
  ASSERT_TRUE(
      parcelo::test::RunIn(dir_.HostPath(), "gzip -n -k data.txt && mv data.txt.gz anon.x.gz"));
  ASSERT_TRUE(
      parcelo::test::RunIn(dir_.HostPath(), "gzip -N -k data.txt && mv data.txt.gz named.gz"));
  TListOptions zipOnly;
  zipOnly.masks = {"*.zip"};
  const auto anonymous = ListFile(dir_.Host("anon.x.gz"), zipOnly);
  EXPECT_EQ(anonymous.type, atGZip);
  EXPECT_EQ(anonymous.names, std::vector<std::string>{"anon"});
  EXPECT_EQ(anonymous.numFiles, 1);
  EXPECT_EQ(anonymous.unpacked, 70004);  // from the trailer
  const int64_t size =
      static_cast<int64_t>(parcelo::test::ReadBytes(dir_.Host("anon.x.gz")).size());
  EXPECT_EQ(anonymous.packed, size - 8);

  const auto named = ListFile(dir_.Host("named.gz"), zipOnly);
  EXPECT_EQ(named.names, std::vector<std::string>{"data.txt"});
  EXPECT_EQ(named.readFiles, std::vector<std::string>{"data.txt"});
}

TEST_F(GzipLister, CompressMagicsUseTheFileSize) {
  if (!parcelo::test::HaveTool("compress")) GTEST_SKIP() << "compress missing";
  ASSERT_TRUE(parcelo::test::RunIn(dir_.HostPath(), "compress -c data.txt > data.txt.Z"));
  const auto listed = ListFile(dir_.Host("data.txt.Z"));
  const int64_t size =
      static_cast<int64_t>(parcelo::test::ReadBytes(dir_.Host("data.txt.Z")).size());
  EXPECT_EQ(listed.names, std::vector<std::string>{"data"});
  EXPECT_EQ(listed.packed, size - 10);
  EXPECT_EQ(listed.unpacked, size - 10);
}

TEST_F(GzipLister, ExtraFieldStandsBeforeTheStoredName) {
  // 1F 8B, deflate, FEXTRA | FNAME, then a 6-byte extra field, the name and an empty deflate block.
  Bytes file = {0x1F, 0x8B, 8, 0x0C, 0, 0, 0, 0, 0, 3, 6, 0, 'A', 'B', 2, 0, 'x', 'y'};
  for (char c : std::string("inner.bin")) file.push_back(static_cast<uint8_t>(c));
  file.push_back(0);
  for (uint8_t b : {0x03, 0x00, 0, 0, 0, 0, 0, 0, 0, 0}) file.push_back(b);
  parcelo::test::WriteBytes(dir_.Host("x.gz"), file);
  const auto listed = ListFile(dir_.Host("x.gz"));
  EXPECT_EQ(listed.names, std::vector<std::string>{"inner.bin"});
  EXPECT_EQ(listed.unpacked, listed.packed);  // an unpacked size below the packed one is raised
}

TEST_F(GzipLister, DamagedFilesNeverCrash) {
  ASSERT_TRUE(parcelo::test::RunIn(dir_.HostPath(), "gzip -N -k data.txt"));
  const Bytes whole = parcelo::test::ReadBytes(dir_.Host("data.txt.gz"));
  for (size_t cut : {0, 5, 10, 11, 15, 19, 20, 25, 40, 100}) {
    parcelo::test::WriteBytes(
        dir_.Host("c.gz"), Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut)));
    const auto listed = ListFile(dir_.Host("c.gz"));
    EXPECT_LE(listed.names.size(), 1u);
  }
  parcelo::test::ListWithFlips(dir_.Host("f.gz"), Bytes(whole.begin(), whole.begin() + 64), 300, 7);
}

}  // namespace
