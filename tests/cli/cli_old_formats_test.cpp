// parcelo-cli extract, test and list on ARJ and ARC archives made by the arj and arc programs at
// test time: every file written whole, list names equal to the files written, garbled members and
// their passwords, volume sets, a self-extracting form, and damage reported with exit status 2.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/CliRun.h"
#include "support/CliTree.h"
#include "support/OldCodecsSupport.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using parcelo::test::FilesBelow;
using parcelo::test::Listed;
using parcelo::test::ReadBytes;
using parcelo::test::RunCli;
using parcelo::test::TCliRun;
using parcelo::test::WriteBytes;

class CliOldFormats : public ::testing::Test {
 protected:
  void SetUp() override {
    files_ = {{"text.txt", parcelo::test::TextPayload(80000)},
              {"sub/runs.bin", parcelo::test::RunsPayload(40000)},
              {"sub/deep/noise.bin", parcelo::test::NoisePayload(25000)}};
    for (const auto& [name, bytes] : files_) {
      dir_.WriteFile("in/" + name, "");
      WriteBytes(dir_.Host("in/" + name), bytes);
    }
  }
  TCliRun Cli(const std::string& arguments) { return RunCli(arguments, dir_.HostPath()); }
  void ExpectExtracted(const std::string& out, const std::map<std::string, Bytes>& files) {
    std::vector<std::string> names;
    for (const auto& [name, bytes] : files) {
      names.push_back(name);
      EXPECT_EQ(ReadBytes(dir_.Host(out + "/" + name)), bytes) << name;
    }
    EXPECT_EQ(FilesBelow(dir_.Host(out)), names);
  }

  parcelo::test::TempDir dir_{"cli-old"};
  std::map<std::string, Bytes> files_;
};

TEST_F(CliOldFormats, ArjEveryMethodExtractsTestsAndListsWhatItWrites) {
  if (!parcelo::test::HaveTool("arj")) GTEST_SKIP() << "the arj program is not installed";
  for (int method = 0; method <= 4; ++method) {
    const std::string archive = "m" + std::to_string(method) + ".arj";
    ASSERT_TRUE(parcelo::test::RunIn(dir_.Host("in"), "arj a -y -r -m" + std::to_string(method) +
                                                          " ../" + archive + " '*'"));
    const TCliRun x = Cli("extract -q " + archive + " -d out" + std::to_string(method));
    EXPECT_EQ(x.status, 0) << archive << ": " << x.err;
    ExpectExtracted("out" + std::to_string(method), files_);
    EXPECT_EQ(Cli("test -q " + archive).status, 0) << archive;
    const TCliRun list = Cli("list " + archive);
    EXPECT_EQ(Listed(list.out), FilesBelow(dir_.Host("out" + std::to_string(method)))) << archive;
  }
}

TEST_F(CliOldFormats, ArjGarbledNeedsItsPassword) {
  if (!parcelo::test::HaveTool("arj")) GTEST_SKIP() << "the arj program is not installed";
  ASSERT_TRUE(parcelo::test::RunIn(dir_.Host("in"), "arj a -y -r -m1 -gTiger ../g.arj '*'"));
  EXPECT_EQ(Cli("extract -q g.arj -d good -p Tiger").status, 0);
  ExpectExtracted("good", files_);
  const TCliRun wrong = Cli("test -q g.arj -p tiger");
  EXPECT_EQ(wrong.status, 2);
  EXPECT_NE(wrong.err.find("password"), std::string::npos) << wrong.err;
}

TEST_F(CliOldFormats, ArjVolumeSetAndSelfExtractingForm) {
  if (!parcelo::test::HaveTool("arj")) GTEST_SKIP() << "the arj program is not installed";
  ASSERT_TRUE(parcelo::test::RunIn(dir_.Host("in"), "arj a -y -r -m1 -v12k ../v.arj '*'"));
  ASSERT_TRUE(fs::exists(dir_.Host("v.a02")));
  const TCliRun x = Cli("extract -q v.arj -d vol");
  EXPECT_EQ(x.status, 0) << x.err;
  ExpectExtracted("vol", files_);

  ASSERT_TRUE(parcelo::test::RunIn(dir_.Host("in"), "arj a -y -m4 ../plain.arj text.txt"));
  Bytes sfx(6000, 0);  // a DOS program image of 6000 bytes (11 pages and 368 bytes)
  sfx[0] = 'M';
  sfx[1] = 'Z';
  sfx[2] = 368 & 0xFF;
  sfx[3] = 368 >> 8;
  sfx[4] = 12;
  const Bytes arj = ReadBytes(dir_.Host("plain.arj"));
  sfx.insert(sfx.end(), arj.begin(), arj.end());
  WriteBytes(dir_.Host("sfx.exe"), sfx);
  EXPECT_EQ(Cli("extract -q sfx.exe -d sfx").status, 0);
  ExpectExtracted("sfx", {{"text.txt", files_.at("text.txt")}});
}

TEST_F(CliOldFormats, ArcExtractsAndReportsDamage) {
  if (!parcelo::test::HaveTool("arc")) GTEST_SKIP() << "the arc program is not installed";
  std::map<std::string, Bytes> flat = {{"TEXT.TXT", files_.at("text.txt")},
                                       {"RUNS.BIN", files_.at("sub/runs.bin")},
                                       {"NOISE.BIN", files_.at("sub/deep/noise.bin")}};
  for (const auto& [name, bytes] : flat) WriteBytes(dir_.Host(name), bytes);
  ASSERT_TRUE(parcelo::test::RunIn(dir_.HostPath(), "arc a t.arc TEXT.TXT RUNS.BIN NOISE.BIN"));
  const TCliRun x = Cli("extract -q t.arc -d out");
  EXPECT_EQ(x.status, 0) << x.err;
  ExpectExtracted("out", flat);
  EXPECT_EQ(Listed(Cli("list t.arc").out), FilesBelow(dir_.Host("out")));
  // One byte changed in the middle of the archive: that member fails, the others come out.
  Bytes damaged = ReadBytes(dir_.Host("t.arc"));
  damaged[damaged.size() / 2] ^= 0x40;
  WriteBytes(dir_.Host("d.arc"), damaged);
  const TCliRun bad = Cli("test -q d.arc");
  EXPECT_EQ(bad.status, 2) << bad.out;
}

}  // namespace
