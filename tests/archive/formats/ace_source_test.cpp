// Tests of the ACE member source: the conformance archives (stored, ACE 1.0, ACE 2.0 with the
// executable filter) decoded whole and compared with the source suite's files; archives built
// here (solid, in volumes, self-extracting, encrypted, damaged) checked against the independent
// reader acefile.py when it is there; and the names the lister shows equal to those the source
// yields.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "archive/formats/old_sources.h"
#include "archive/messages/Err_Msgs.h"
#include "support/AceWriter.h"
#include "support/MiniZip.h"
#include "support/ReaderFixture.h"
#include "support/TempDir.h"

namespace {

using namespace testsupport;
using parcelo::test::ListFile;
using parcelo::test::TempDir;
using parcelo::test::WriteBytes;

const std::string kOther = std::string(PARCELO_TESTDATA_DIR) + "/other/";
const std::string kExpected = std::string(PARCELO_TESTDATA_DIR) + "/expected/";
const std::string kAcefile = std::string(PARCELO_SOURCE_DIR) + "/../shared/tools/acefile/acefile.py";

bool Exists(const std::string& path) {
  return std::ifstream(path).good();
}

struct TMemberResult {
  TSourceMember Member;
  TDecodeResult Result = TDecodeResult::Ok;
  std::string Data;
  int Error = 0;
  std::string Detail;
};

struct TWalk {
  std::vector<TMemberResult> Members;
  int EndError = 0;
  std::vector<std::string> VolumesAsked;
};

// Walks every member and decodes each (or only those `decode` picks).
TWalk Walk(const std::string& path, int64_t start = 0, bool giveVolumes = true,
           const std::function<bool(size_t)>& decode = nullptr) {
  TWalk walk;
  TSourceServices services;
  if (giveVolumes) {
    services.NextVolume = [&walk](std::string& name, const std::string&) {
      walk.VolumesAsked.push_back(name);
      return Exists(name);
    };
  }
  auto source = CreateAceSource(path, start, services);
  TSourceMember member;
  while (source->Next(member)) {
    TMemberResult r;
    r.Member = member;
    if (!decode || decode(walk.Members.size())) {
      r.Result = source->Decode(
          [&r](const uint8_t* b, size_t n) { r.Data.append(reinterpret_cast<const char*>(b), n); },
          "");
      r.Error = source->ErrorCode();
      r.Detail = source->ErrorDetail();
    }
    walk.Members.push_back(r);
  }
  walk.EndError = source->ErrorCode();
  return walk;
}

std::vector<std::string> Names(const TWalk& walk) {
  std::vector<std::string> names;
  for (const auto& m : walk.Members) names.push_back(m.Member.Name);
  return names;
}

// What acefile.py says of an archive ("" when it is not there): its test verdict.
std::string AcefileTest(const std::string& path) {
  if (!Exists(kAcefile)) return "";
  const std::string command = "python3 '" + kAcefile + "' -b -t '" + path + "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  std::string out;
  char buffer[4096];
  while (pipe && fgets(buffer, sizeof buffer, pipe)) out += buffer;
  const int rc = pipe ? pclose(pipe) : -1;
  return (rc == 0 ? "ok\n" : "failed\n") + out;
}

class AceSourceTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    WriteBytes(dir.Host(name), bytes);
    return dir.Host(name);
  }
  // Checks a built archive with acefile.py when it is there: it must agree that it is whole.
  void ExpectAcefileAccepts(const std::string& path) {
    const std::string verdict = AcefileTest(path);
    if (verdict.empty()) return;
    EXPECT_EQ(verdict.substr(0, 3), "ok\n") << verdict;
  }
  TempDir dir{"ace_source"};
};

TEST_F(AceSourceTest, ConformanceArchivesDecodeToTheOriginalFiles) {
  for (const char* name : {"sc_Ace.store.ace", "sc_Ace.method1.ace", "sc_Ace.method2.ace"}) {
    SCOPED_TRACE(name);
    if (!Exists(kOther + name)) GTEST_SKIP() << "no conformance archives";
    const TWalk walk = Walk(kOther + name);
    EXPECT_EQ(walk.EndError, 0);
    // The names and their order, as the reference reader listed them.
    std::ifstream list(kExpected + name + ".list");
    std::vector<std::string> expected;
    for (std::string line; std::getline(list, line);) {
      if (!line.empty() && line.back() == '/') line.pop_back();
      for (char& c : line)
        if (c == '/') c = '\\';
      expected.push_back(line);
    }
    EXPECT_EQ(Names(walk), expected);
    // Every file decodes, passes its CRC and has the original's sha256 (the stored archive holds
    // the same files as the packed ones).
    std::string hashes = kExpected + name + ".sha256";
    if (!Exists(hashes)) hashes = kExpected + "sc_Ace.method1.ace.sha256";
    std::map<std::string, std::string> want;
    std::ifstream sums(hashes);
    for (std::string hash, file; sums >> hash >> file;) {
      for (char& c : file)
        if (c == '/') c = '\\';
      want[file] = hash;
    }
    for (const auto& m : walk.Members) {
      EXPECT_EQ(m.Result, TDecodeResult::Ok) << m.Member.Name << " " << m.Detail;
      // The suite's Tect.txt.txt is not the file these archives hold (acefile.py decodes the same
      // bytes as here, and the archives' CRCs pass): only its CRC counts.
      if (m.Member.Kind == TMemberKind::Folder || m.Member.Name == "Tect.txt.txt") continue;
      EXPECT_EQ(static_cast<int64_t>(m.Data.size()), m.Member.Size);
      EXPECT_EQ(minizip::Sha256Hex(reinterpret_cast<const uint8_t*>(m.Data.data()), m.Data.size()),
                want[m.Member.Name])
          << m.Member.Name;
    }
    // The lister names the same files.
    const auto listing = ListFile(kOther + name);
    std::vector<std::string> files;
    for (const auto& m : walk.Members)
      if (m.Member.Kind == TMemberKind::File) files.push_back(m.Member.Name);
    EXPECT_EQ(listing.names, files);
  }
}

TEST_F(AceSourceTest, MembersCarryTheirFields) {
  TAceEntry folder = AceStored("docs", "");
  folder.Attributes = 0x10;
  TAceEntry file = AceStored("docs\\read\x84me.txt", "hello");  // an OEM name: a-umlaut
  file.Attributes = 0x21;
  file.DosDateTime = 0x5B5B5722;
  const std::string path = Write("fields.ace", AceArchive({folder, file}));
  ExpectAcefileAccepts(path);
  const TWalk walk = Walk(path);
  ASSERT_EQ(walk.Members.size(), 2u);
  EXPECT_EQ(walk.Members[0].Member.Kind, TMemberKind::Folder);
  const TSourceMember& m = walk.Members[1].Member;
  EXPECT_EQ(m.Name, "docs\\read\xC3\xA4me.txt");
  EXPECT_EQ(m.Kind, TMemberKind::File);
  EXPECT_EQ(m.Size, 5);
  EXPECT_EQ(m.PackedSize, 5);
  EXPECT_EQ(m.DosDateTime, 0x5B5B5722u);
  EXPECT_EQ(m.Attributes, 0x21u);
  EXPECT_EQ(m.Method, "Stored");
  EXPECT_EQ(walk.Members[1].Data, "hello");
}

TEST_F(AceSourceTest, BuiltStreamsAgreeWithAcefile) {
  // One archive of each kind of stream the tests build: ACE 1.0 and 2.0, the filters, matches.
  TAceStreamWriter lz(false);
  lz.Literals("abcabcab");
  lz.Match(3, 20);
  lz.Repeat(0, 5);
  TAceStreamWriter exe;
  exe.Mode(2, {{1, 8}});
  const std::string code("\x90\xE8\x10\x00\x00\x00\xE9\x20\x00\x00\x00", 11);
  exe.Literals(code);
  exe.Match(11, 11);
  exe.Mode(0);
  exe.Literals("end");
  TAceStreamWriter delta;
  delta.Literals("AB");
  delta.Mode(1, {{2, 8}, {4, 17}});
  for (int b = 1; b <= 8; ++b) delta.Literal(static_cast<uint8_t>(b));
  delta.Mode(0);
  delta.Match(8, 4);
  std::string lzData;
  for (int i = 0; i < 11; ++i) lzData += "abc";
  const std::string exeData = std::string("\x90\xE8\x0F\x00\x00\x00\xE9\x1A\x00\x00\x00", 11) +
                              std::string("\x90\xE8\x04\x00\x00\x00\xE9\x0F\x00\x00\x00", 11) +
                              "end";
  const std::string deltaData = std::string("AB\x01\x06\x03\x0A\x0F\x1C\x15\x24", 10) +
                                std::string("\x01\x02\x03\x04", 4);
  const std::string path = Write("streams.ace", AceArchive({AcePacked("lz.txt", lzData, lz, 1),
                                                           AcePacked("exe.bin", exeData, exe),
                                                           AcePacked("delta.bin", deltaData, delta)}));
  ExpectAcefileAccepts(path);
  const TWalk walk = Walk(path);
  ASSERT_EQ(walk.Members.size(), 3u);
  for (const auto& m : walk.Members) EXPECT_EQ(m.Result, TDecodeResult::Ok) << m.Member.Name;
  EXPECT_EQ(walk.Members[0].Data, lzData);
  EXPECT_EQ(walk.Members[1].Data, exeData);
  EXPECT_EQ(walk.Members[2].Data, deltaData);
}

TEST_F(AceSourceTest, SolidArchiveDecodesMembersPassedOver) {
  TAceStreamWriter first, second, third;
  first.Literals("shared words, ");
  second.Match(14, 14);
  second.Literals("more");
  third.Match(18, 18);
  const std::string a = "shared words, ", b = "shared words, more", c = b;
  const std::string path =
      Write("solid.ace", AceArchive({AcePacked("a.txt", a, first), AcePacked("b.txt", b, second),
                                     AcePacked("c.txt", c, third)},
                                    0x8000));
  ExpectAcefileAccepts(path);
  const TWalk all = Walk(path);
  ASSERT_EQ(all.Members.size(), 3u);
  EXPECT_EQ(all.Members[2].Data, c);
  // Only the last one asked for: the ones before are decoded into nothing on the way.
  const TWalk last = Walk(path, 0, true, [](size_t i) { return i == 2; });
  ASSERT_EQ(last.Members.size(), 3u);
  EXPECT_EQ(last.Members[2].Result, TDecodeResult::Ok);
  EXPECT_EQ(last.Members[2].Data, c);
}

TEST_F(AceSourceTest, MemberSplitOverVolumesIsDecodedAcrossThem) {
  const std::string big(250, 'x');
  const std::string part1 = big.substr(0, 100), part2 = big.substr(100, 100),
                    part3 = big.substr(100 + 100);
  TAceEntry first = AceStored("first.txt", "first");
  TAceEntry p1 = AceStored("split.bin", part1), p2 = AceStored("split.bin", part2),
            p3 = AceStored("split.bin", part3);
  for (TAceEntry* p : {&p1, &p2, &p3}) {
    p->Size = 250;
    p->Crc = AceCrc(std::vector<uint8_t>(big.begin(), big.end()));
  }
  p1.Flags = 0x2000;
  p2.Flags = 0x3000;
  p3.Flags = 0x1000;
  const std::string path = Write("set.ace", AceArchive({first, p1}, 0x0800, 0));
  Write("set.c00", AceArchive({p2}, 0x0800, 1));
  Write("set.c01", AceArchive({p3, AceStored("last.txt", "last")}, 0x0800, 2));
  ExpectAcefileAccepts(path);
  const TWalk walk = Walk(path);
  EXPECT_EQ(Names(walk), (std::vector<std::string>{"first.txt", "split.bin", "last.txt"}));
  ASSERT_EQ(walk.Members.size(), 3u);
  EXPECT_EQ(walk.Members[1].Result, TDecodeResult::Ok);
  EXPECT_EQ(walk.Members[1].Data, big);
  EXPECT_EQ(walk.Members[2].Data, "last");
  EXPECT_EQ(walk.VolumesAsked,
            (std::vector<std::string>{dir.Host("set.c00"), dir.Host("set.c01")}));
  EXPECT_EQ(ListFile(path).names, Names(walk));
  // Passed over, the split member still leads to the member behind it.
  const TWalk skipping = Walk(path, 0, true, [](size_t i) { return i != 1; });
  ASSERT_EQ(skipping.Members.size(), 3u);
  EXPECT_EQ(skipping.Members[2].Data, "last");
  // Without the next volume the member ends early and the walk ends with an error.
  const TWalk alone = Walk(path, 0, false);
  ASSERT_EQ(alone.Members.size(), 2u);
  EXPECT_EQ(alone.Members[1].Result, TDecodeResult::Truncated);
  EXPECT_NE(alone.Members[1].Error, 0);
}

TEST_F(AceSourceTest, SelfExtractingFormStartsAtTheGivenOffset) {
  std::vector<uint8_t> bytes(3000, 0x4D);
  const std::vector<uint8_t> archive = AceArchive({AceStored("inside.txt", "from the sfx")}, 0x0200);
  bytes.insert(bytes.end(), archive.begin(), archive.end());
  const std::string path = Write("sfx.exe", bytes);
  const TWalk walk = Walk(path, 3000);
  ASSERT_EQ(walk.Members.size(), 1u);
  EXPECT_EQ(walk.Members[0].Data, "from the sfx");
  const TWalk wrong = Walk(path, 0);
  EXPECT_TRUE(wrong.Members.empty());
  EXPECT_NE(wrong.EndError, 0);
}

TEST_F(AceSourceTest, EncryptedAndDamagedMembersSayWhy) {
  TAceEntry secret = AceStored("secret.txt", "xxxxxxxx");
  secret.Flags = 0x4000;
  TAceEntry badCrc = AceStored("bad.txt", "data");
  badCrc.Crc ^= 1;
  TAceStreamWriter cut;
  cut.Literals("a member whose data ends early");
  TAceEntry truncated = AcePacked("cut.txt", "a member whose data ends early", cut);
  truncated.Packed.resize(8);
  TAceEntry unknown = AceStored("type9.bin", "zz");
  unknown.Type = 9;
  const std::string path =
      Write("mixed.ace", AceArchive({secret, badCrc, truncated, unknown, AceStored("ok.txt", "ok")}));
  const TWalk walk = Walk(path);
  ASSERT_EQ(walk.Members.size(), 5u);
  EXPECT_TRUE(walk.Members[0].Member.Encrypted);
  EXPECT_EQ(walk.Members[0].Result, TDecodeResult::EncryptedUnsupported);
  EXPECT_NE(walk.Members[0].Detail.find("Parcelo cannot decrypt"), std::string::npos);
  EXPECT_EQ(walk.Members[1].Result, TDecodeResult::ChecksumFailed);
  EXPECT_EQ(walk.Members[2].Result, TDecodeResult::Truncated);
  EXPECT_EQ(walk.Members[3].Result, TDecodeResult::Unsupported);
  EXPECT_NE(walk.Members[3].Detail.find("9"), std::string::npos);
  EXPECT_EQ(walk.Members[4].Data, "ok");
  EXPECT_EQ(ListFile(path).names, Names(walk));
  // A header whose CRC does not match is listed, and its member refused as damaged.
  std::vector<uint8_t> bytes = AceArchive({AceStored("a.txt", "alpha")});
  bytes[bytes.size() - 6] ^= 0x20;  // a letter of the name
  const TWalk damaged = Walk(Write("hdr.ace", bytes));
  ASSERT_EQ(damaged.Members.size(), 1u);
  EXPECT_EQ(damaged.Members[0].Result, TDecodeResult::Damaged);
}

TEST_F(AceSourceTest, CutArchivesNeverYieldMoreThanTheyHold) {
  TAceStreamWriter w;
  w.Literals("some text, some text, some text");
  const std::vector<uint8_t> whole = AceArchive(
      {AceStored("a.txt", "alpha"), AcePacked("b.txt", "some text, some text, some text", w),
       AceStored("c.txt", "gamma")});
  for (size_t cut = 0; cut < whole.size(); ++cut) {
    const std::string path = Write("cut.ace", std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<long>(cut)));
    const TWalk walk = Walk(path);
    EXPECT_LE(walk.Members.size(), 3u);
    for (const auto& m : walk.Members)
      if (m.Result == TDecodeResult::Ok && m.Member.Kind == TMemberKind::File) {
        EXPECT_EQ(static_cast<int64_t>(m.Data.size()), m.Member.Size);
      }
  }
}

}  // namespace
