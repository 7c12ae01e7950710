// parcelo-cli extract, test and list on the formats read through member sources other than ARJ,
// ARC and libarchive's: LHA made by lha and checked by lhasa, cabinets made by gcab and a set of
// five checked by cabextract, ZOO written field by field and checked by unar, the HA archives the
// HA archiver made (../shared/testdata), ACE checked by acefile (../shared/tools), BH (its members
// named, their methods refused), UUE made by uuencode, and self-extracting forms at their offsets.
// Every file is written whole and `list` names exactly the files written.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/CliRun.h"
#include "support/CliTree.h"
#include "support/OldCodecsSupport.h"
#include "support/TempDir.h"
#include "support/ZooWriter.h"

namespace {

namespace fs = std::filesystem;
using namespace parcelo::test;

const std::string kTestdata = std::string(PARCELO_TESTDATA_DIR) + "/other/";
const std::string kAcefile = std::string(PARCELO_SOURCE_DIR) + "/../shared/tools/acefile/acefile.py";

// The sha256 of every file below `root`, by name.
std::map<std::string, std::string> Sha256Below(const std::string& root) {
  std::map<std::string, std::string> sums;
  for (const std::string& name : FilesBelow(root)) {
    const std::string line = RunTool("sha256sum " + Quote(root + "/" + name));
    sums[name] = line.substr(0, 64);
  }
  return sums;
}

// expected/<archive>.sha256 of the conformance archives: "hash  name" lines.
std::map<std::string, std::string> ExpectedSha256(const std::string& archive) {
  std::map<std::string, std::string> sums;
  for (const std::string& line : LinesOf("/", "cat " + Quote(std::string(PARCELO_TESTDATA_DIR) + "/expected/" + archive + ".sha256")))
    if (line.size() > 66) sums[line.substr(66)] = line.substr(0, 64);
  return sums;
}

// expected/<archive>.list without its folders, sorted.
std::vector<std::string> ExpectedList(const std::string& archive) {
  std::vector<std::string> names;
  for (const std::string& line : LinesOf("/", "cat " + Quote(std::string(PARCELO_TESTDATA_DIR) + "/expected/" + archive + ".list")))
    if (!line.empty() && line.back() != '/') names.push_back(line);
  std::sort(names.begin(), names.end());
  return names;
}

// A DOS program image of `size` bytes in front of an archive: LHA's stub is found where the image
// ends, ACE's by the scan of what follows the first 17000 bytes.
Bytes WithStub(const Bytes& archive, size_t size) {
  Bytes sfx(size, 0);
  sfx[0] = 'M';
  sfx[1] = 'Z';
  sfx[2] = static_cast<uint8_t>(size % 512);
  sfx[3] = static_cast<uint8_t>(size % 512 >> 8);
  sfx[4] = static_cast<uint8_t>(size / 512 + 1);
  sfx.insert(sfx.end(), archive.begin(), archive.end());
  return sfx;
}

class CliMoreFormats : public ::testing::Test {
 protected:
  void SetUp() override {
    files_ = {{"text.txt", TextPayload(30000)},
              {"sub/runs.bin", RunsPayload(20000)},
              {"sub/deep/noise.bin", NoisePayload(9000)}};
    for (const auto& [name, bytes] : files_) {
      dir_.WriteFile("in/" + name, "");
      WriteBytes(dir_.Host("in/" + name), bytes);
    }
  }
  TCliRun Cli(const std::string& arguments) { return RunCli(arguments, dir_.HostPath()); }

  // Extracts `archive` into `out`, tests and lists it: all three succeed, the files written are
  // `expected`, and list names them.
  void ExpectWhole(const std::string& archive, const std::string& out,
                   const std::map<std::string, Bytes>& expected) {
    const TCliRun x = Cli("extract -q " + Quote(archive) + " -d " + out);
    EXPECT_EQ(x.status, 0) << archive << ": " << x.err;
    EXPECT_EQ(TreeBelow(dir_.Host(out)), expected) << archive;
    const TCliRun test = Cli("test -q " + Quote(archive));
    EXPECT_EQ(test.status, 0) << archive << ": " << test.err;
    const TCliRun list = Cli("list " + Quote(archive));
    EXPECT_EQ(list.status, 0) << archive << ": " << list.err;
    EXPECT_EQ(Listed(list.out), FilesBelow(dir_.Host(out))) << archive;
  }
  // What `command`, run in a fresh folder `out`, extracts.
  std::map<std::string, Bytes> OracleTree(const std::string& out, const std::string& command) {
    fs::create_directories(dir_.Host(out));
    EXPECT_TRUE(RunIn(dir_.Host(out), command)) << command;
    return TreeBelow(dir_.Host(out));
  }

  TempDir dir_{"cli-more"};
  std::map<std::string, Bytes> files_;
};

TEST_F(CliMoreFormats, LhaOfEveryMethodAndItsSelfExtractingForm) {
  if (!HaveTool("lha")) GTEST_SKIP() << "lha is not installed";
  // -lh5- (the default), -lh6-, -lh7-, and -lh0- for what does not shrink.
  for (const std::string option : {"a", "ao6", "ao7", "az"}) {
    const std::string archive = option + ".lzh";
    ASSERT_TRUE(RunIn(dir_.Host("in"), "lha " + option + " ../" + archive +
                                            " text.txt sub/runs.bin sub/deep/noise.bin"));
    ExpectWhole(archive, "out-" + option, files_);
    if (HaveTool("lhasa")) {
      EXPECT_EQ(OracleTree("lhasa-" + option, "lhasa x ../" + archive), files_) << archive;
    }
  }
  WriteBytes(dir_.Host("sfx.exe"), WithStub(ReadBytes(dir_.Host("a.lzh")), 6000));
  EXPECT_NE(Cli("type sfx.exe").out.find("offset: 6000"), std::string::npos);
  ExpectWhole("sfx.exe", "sfx", files_);
}

TEST_F(CliMoreFormats, LhaHeaderLevelsOfOtherTools) {
  for (int level = 0; level <= 2; ++level) {
    const std::string archive =
        kTestdata + "la_test_read_format_lha_header" + std::to_string(level) + ".lzh";
    if (!fs::exists(archive)) GTEST_SKIP() << "no " << archive;
    if (!HaveTool("lhasa")) GTEST_SKIP() << "lhasa is not installed";
    const std::string out = "level" + std::to_string(level);
    ExpectWhole(archive, out, OracleTree("lhasa" + out, "lhasa x " + Quote(archive)));
  }
}

TEST_F(CliMoreFormats, CabinetsOfGcabAndASetOfFive) {
  if (HaveTool("gcab")) {
    ASSERT_TRUE(RunIn(dir_.Host("in"), "gcab -c ../stored.cab text.txt sub/runs.bin sub/deep/noise.bin"));
    ASSERT_TRUE(RunIn(dir_.Host("in"), "gcab -c -z ../mszip.cab text.txt sub/runs.bin sub/deep/noise.bin"));
    ExpectWhole("stored.cab", "stored", files_);
    ExpectWhole("mszip.cab", "mszip", files_);
    // A damaged MSZIP block: its member fails, with exit status 2.
    Bytes damaged = ReadBytes(dir_.Host("mszip.cab"));
    damaged[damaged.size() / 2] ^= 0x5A;
    WriteBytes(dir_.Host("damaged.cab"), damaged);
    EXPECT_EQ(Cli("test -q damaged.cab").status, 2);
  }
  if (!HaveTool("cabextract")) GTEST_SKIP() << "cabextract is not installed";
  for (const std::string name : {"ms_simple.cab", "split-1.cab"}) {
    const std::string archive = kTestdata + name;
    if (!fs::exists(archive)) continue;
    // split-1.cab goes on in split-2.cab to split-5.cab: six files in all.
    ExpectWhole(archive, "set-" + name, OracleTree("cabextract-" + name, "cabextract -q " + Quote(archive)));
  }
}

TEST_F(CliMoreFormats, ZooStoredAndLzwInFolders) {
  const std::string text(reinterpret_cast<const char*>(files_.at("text.txt").data()), 30000);
  const std::string runs(reinterpret_cast<const char*>(files_.at("sub/runs.bin").data()), 20000);
  WriteBytes(dir_.Host("t.zoo"), ZooArchive({{"text.txt", "", text, 1},
                                             {"runs.bin", "sub", runs, 1},
                                             {"gone.txt", "", "deleted", 0, {}, true},
                                             {"note.txt", "sub/deep", "stored\n", 0}}));
  const std::map<std::string, Bytes> expected = {{"text.txt", files_.at("text.txt")},
                                                 {"sub/runs.bin", files_.at("sub/runs.bin")},
                                                 {"sub/deep/note.txt", Bytes{'s', 't', 'o', 'r', 'e', 'd', '\n'}}};
  ExpectWhole("t.zoo", "zoo", expected);
  // lsar finds every member's CRC right (unar itself crashes now and then on ZOO).
  if (HaveTool("lsar")) {
    EXPECT_TRUE(RunIn(dir_.HostPath(), "lsar -t t.zoo"));
  }
  // A member whose CRC does not match: named, exit status 2, not left behind.
  WriteBytes(dir_.Host("bad.zoo"), ZooArchive({{"bad.txt", "", text, 1, {}, false, 0, true}}));
  const TCliRun bad = Cli("extract -q bad.zoo -d bad");
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("bad.txt"), std::string::npos) << bad.err;
  EXPECT_FALSE(fs::exists(dir_.Host("bad/bad.txt")));
}

TEST_F(CliMoreFormats, HaOfTheHaArchiver) {
  const std::string cpy = kTestdata + "own_ha_cpy.ha";
  const std::string asc = kTestdata + "own_ha_asc.ha";
  const std::string hsc = kTestdata + "own_ha_hsc.ha";
  if (!fs::exists(cpy) || !fs::exists(asc) || !fs::exists(hsc)) GTEST_SKIP() << "no HA archives";
  if (!HaveTool("sha256sum")) GTEST_SKIP() << "sha256sum is not installed";
  // ASC: the files the HA archiver was given, known by their hashes.
  const TCliRun x = Cli("extract -q " + Quote(asc) + " -d asc");
  EXPECT_EQ(x.status, 0) << x.err;
  EXPECT_EQ(Sha256Below(dir_.Host("asc")), ExpectedSha256("own_ha_asc.ha"));
  EXPECT_EQ(Cli("test -q " + Quote(asc)).status, 0);
  EXPECT_EQ(Listed(Cli("list " + Quote(asc)).out), FilesBelow(dir_.Host("asc")));
  // CPY: every member's CRC-32 checked, the names those the archiver listed.
  EXPECT_EQ(Cli("extract -q " + Quote(cpy) + " -d cpy").status, 0);
  EXPECT_EQ(Cli("test -q " + Quote(cpy)).status, 0);
  EXPECT_EQ(FilesBelow(dir_.Host("cpy")), ExpectedList("own_ha_cpy.ha"));
  EXPECT_EQ(Listed(Cli("list " + Quote(cpy)).out), FilesBelow(dir_.Host("cpy")));
  // HSC is not decoded: each member refused with the method named, nothing written, status 2.
  const TCliRun refused = Cli("extract -q " + Quote(hsc) + " -d hsc");
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("Unsupported compression method: HSC"), std::string::npos) << refused.err;
  EXPECT_TRUE(FilesBelow(dir_.Host("hsc")).empty());
}

TEST_F(CliMoreFormats, AceAgreesWithAcefileAndItsSelfExtractingForm) {
  if (!fs::exists(kAcefile) || !HaveTool("python3")) GTEST_SKIP() << "acefile is not at hand";
  bool any = false;
  // (cli_testdata_test compares every ACE archive there with acefile; here the ACE 2.0 one.)
  for (const std::string name : {"sc_Ace.method2.ace"}) {
    const std::string archive = kTestdata + name;
    if (!fs::exists(archive)) continue;
    any = true;
    const auto oracle = OracleTree("acefile-" + name, "python3 " + Quote(kAcefile) + " -x " + Quote(archive));
    ASSERT_EQ(oracle.size(), 3u) << name;
    ExpectWhole(archive, "ace-" + name, oracle);
  }
  if (!any) GTEST_SKIP() << "no ACE archives";
  // The self-extracting form: a program in front, found by the scan, extracted from its offset.
  WriteBytes(dir_.Host("sfx.exe"), WithStub(ReadBytes(kTestdata + "sc_Ace.method2.ace"), 20000));
  ExpectWhole("sfx.exe", "sfx", TreeBelow(dir_.Host("acefile-sc_Ace.method2.ace")));
}

TEST_F(CliMoreFormats, BhMembersAreNamedAndTheirMethodsRefused) {
  ByteWriter w;
  auto member = [&w](const std::string& name, const std::string& data, uint8_t method, uint16_t attributes) {
    w.Str("BH").U8(5).U8(7).U16(37).U8(0).U8(0).U8(0).U8(0).U8(method).U32(0x5B5B5722);
    w.U32(static_cast<uint32_t>(data.size())).U32(static_cast<uint32_t>(data.size()));
    w.U32(0).U16(attributes).Zero(4).U8(static_cast<uint32_t>(name.size())).Zero(3);
    w.Str(name).Str(data);
  };
  member("docs", "", 0, 0x10);
  member("docs\\a.txt", "alpha", 0, 0x20);
  member("b.bin", "fused bytes", 1, 0x20);
  WriteBytes(dir_.Host("t.bh"), w.bytes);
  EXPECT_EQ(Listed(Cli("list t.bh").out), (std::vector<std::string>{"b.bin", "docs/a.txt"}));
  const TCliRun x = Cli("extract -q t.bh -d out");
  EXPECT_EQ(x.status, 2);
  EXPECT_NE(x.err.find("Unsupported compression method: BH method Fused1"), std::string::npos) << x.err;
  EXPECT_NE(x.err.find("a.txt"), std::string::npos) << x.err;
  EXPECT_TRUE(FilesBelow(dir_.Host("out")).empty());
  EXPECT_EQ(Cli("test -q t.bh").status, 2);
}

TEST_F(CliMoreFormats, UueOfUuencodeAndOfOthers) {
  if (!HaveTool("uuencode")) GTEST_SKIP() << "uuencode is not installed";
  ASSERT_TRUE(RunIn(dir_.HostPath(), "uuencode in/sub/deep/noise.bin noise.bin > n.uue"));
  ExpectWhole("n.uue", "uue", {{"noise.bin", files_.at("sub/deep/noise.bin")}});
  const std::string own = kTestdata + "own_text.uue";
  if (fs::exists(own) && HaveTool("uudecode")) {
    ExpectWhole(own, "own", OracleTree("uudecode", "uudecode " + Quote(own)));
  }
}

// A RAR 4 block: CRC-16 (the low half of the CRC-32 from the type on), type, flags, size, body.
void RarBlock(ByteWriter& w, uint8_t type, uint16_t flags, const Bytes& body, const Bytes& data = {}) {
  ByteWriter head;
  head.U8(type).U16(flags).U16(static_cast<uint32_t>(7 + body.size())).Append(body);
  w.U16(Crc32Of(head.bytes) & 0xFFFF).Append(head.bytes).Append(data);
}

TEST_F(CliMoreFormats, RarPackedTheRar20WayIsNamedNotDamaged) {
  // libarchive decodes the compression of RAR 2.9 and later; a member of unpack version 20 (RAR
  // 2.0, method "best") is reported as compression Parcelo does not decode, a stored one of the
  // same archive comes out.
  const Bytes packed(300, 0x5A);
  const std::string text = "stored text\n";
  ByteWriter w;
  w.Str("Rar!").U8(0x1A).U8(7).U8(0);
  RarBlock(w, 0x73, 0, Bytes(6, 0));
  auto file = [&w](const std::string& name, const Bytes& data, uint32_t size, uint32_t crc, uint8_t version, uint8_t method) {
    ByteWriter body;
    body.U32(static_cast<uint32_t>(data.size())).U32(size).U8(2).U32(crc).U32(0x5A210000);
    body.U8(version).U8(method).U16(static_cast<uint32_t>(name.size())).U32(0x20).Str(name);
    RarBlock(w, 0x74, 0x8000, body.bytes, data);
  };
  const Bytes stored(text.begin(), text.end());
  file("plain.txt", stored, static_cast<uint32_t>(stored.size()), Crc32Of(stored), 20, 0x30);
  file("old.bin", packed, 1000, 0x12345678, 20, 0x35);
  RarBlock(w, 0x7B, 0x4000, {});
  WriteBytes(dir_.Host("old.rar"), w.bytes);
  const TCliRun x = Cli("extract -q old.rar -d out");
  EXPECT_EQ(x.status, 2);
  EXPECT_NE(x.err.find("RAR 2.0 compression, which Parcelo does not decode"), std::string::npos) << x.err;
  EXPECT_EQ(TreeBelow(dir_.Host("out")), (std::map<std::string, Bytes>{{"plain.txt", stored}}));
}

}  // namespace
