// The member sources of ARJ and ARC/PAK on their own: archives the arj and arc programs make at
// test time (methods, folders, garbled members, volume sets, a self-extracting form), the
// conformance archives, hand-built ARC folders and PAK methods; each walked with Next and decoded
// into a buffer, compared with the files that went in, and named as the lister names them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <map>
#include <string>
#include <vector>

#include "archive/formats/arvArcova.h"
#include "archive/formats/old_sources.h"
#include "archive/messages/Err_Msgs.h"
#include "support/OldCodecsSupport.h"
#include "support/TempDir.h"

namespace {

using parcelo::test::ReadBytes;
using parcelo::test::TempDir;
using parcelo::test::WriteBytes;
using Bytes = std::vector<uint8_t>;

struct TWalked {
  TSourceMember Member;
  TDecodeResult Result = TDecodeResult::Ok;
  int ErrorCode = 0;
  Bytes Data;
};

// Walks a source to its end, decoding every member with `password`.
std::vector<TWalked> Walk(TMemberSource& source, const std::string& password = "") {
  std::vector<TWalked> all;
  TSourceMember m;
  while (source.Next(m)) {
    TWalked w;
    w.Member = m;
    w.Result = source.Decode(
        [&w](const uint8_t* bytes, size_t count) { w.Data.insert(w.Data.end(), bytes, bytes + count); },
        password);
    w.ErrorCode = source.ErrorCode();
    all.push_back(std::move(w));
  }
  return all;
}

// Volumes asked for are taken when they exist; the names asked are kept.
TSourceServices Volumes(std::vector<std::string>* asked = nullptr) {
  TSourceServices services;
  services.NextVolume = [asked](std::string& name, const std::string&) {
    if (asked) asked->push_back(name);
    struct stat st;
    return ::stat(name.c_str(), &st) == 0;
  };
  return services;
}

std::vector<std::string> Names(const std::vector<TWalked>& walked) {
  std::vector<std::string> names;
  for (const auto& w : walked) {
    std::string n = SlashToBackslash(w.Member.Name);
    names.push_back(n);
  }
  return names;
}

// The lister's names, folders included.
std::vector<std::string> ListerNames(const std::string& hostPath) {
  parcelo::test::TListOptions options;
  options.showEmptyDirs = true;
  return parcelo::test::ListFile(hostPath, options).names;
}

// ---- ARJ ----------------------------------------------------------------------------------------
class ArjSource : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!parcelo::test::HaveTool("arj")) GTEST_SKIP() << "the arj program is not installed";
    files_ = {{"text.txt", parcelo::test::TextPayload(90000)},
              {"sub/runs.bin", parcelo::test::RunsPayload(50000)},
              {"sub/deeper/noise.bin", parcelo::test::NoisePayload(30000)},
              {"empty.txt", {}}};
    for (const auto& [name, bytes] : files_) {
      dir_.WriteFile("in/" + name, "");
      WriteBytes(dir_.Host("in/" + name), bytes);
    }
  }
  // Runs arj in the folder of the files; archives go one folder up.
  void Arj(const std::string& args) {
    ASSERT_TRUE(parcelo::test::RunIn(dir_.Host("in"), "arj " + args)) << args;
  }
  void ExpectFiles(const std::vector<TWalked>& walked, size_t files) {
    size_t seen = 0;
    for (const auto& w : walked) {
      if (w.Member.Kind == TMemberKind::Folder) continue;
      ++seen;
      ASSERT_EQ(w.Result, TDecodeResult::Ok) << w.Member.Name;
      ASSERT_TRUE(files_.count(w.Member.Name)) << w.Member.Name;
      EXPECT_EQ(w.Data, files_.at(w.Member.Name)) << w.Member.Name;
      EXPECT_EQ(w.Member.Size, static_cast<int64_t>(w.Data.size())) << w.Member.Name;
    }
    EXPECT_EQ(seen, files);
  }

  TempDir dir_{"arjsource"};
  std::map<std::string, Bytes> files_;
};

TEST_F(ArjSource, EveryMethodComesOutWholeAndNamedAsListed) {
  for (int method = 0; method <= 4; ++method) {
    const std::string archive = "m" + std::to_string(method) + ".arj";
    Arj("a -y -r -a1 -m" + std::to_string(method) + " ../" + archive + " '*'");
    auto source = CreateArjSource(dir_.Host(archive), 0, Volumes());
    const auto walked = Walk(*source);
    ExpectFiles(walked, 4);
    EXPECT_EQ(Names(walked), ListerNames(dir_.Host(archive))) << archive;
    EXPECT_EQ(source->ErrorCode(), 0);
  }
}

TEST_F(ArjSource, UnixTimesAndPermissions) {
  ASSERT_EQ(::chmod(dir_.Host("in/text.txt").c_str(), 0640), 0);
  struct utimbuf times = {1500000000, 1500000000};  // 2017-07-14 02:40 UTC
  ASSERT_EQ(::utime(dir_.Host("in/text.txt").c_str(), &times), 0);
  Arj("a -y ../t.arj text.txt");
  auto source = CreateArjSource(dir_.Host("t.arj"), 0, Volumes());
  TSourceMember m;
  ASSERT_TRUE(source->Next(m));
  EXPECT_TRUE(m.HasExactTime);
  EXPECT_EQ(m.UnixTime, 1500000000);
  EXPECT_EQ(m.Mode & 0777, 0640u);
  EXPECT_NE(m.DosDateTime, 0u);
  EXPECT_FALSE(m.Encrypted);
}

TEST_F(ArjSource, GarbledMembersTakeTheirPasswordAndSayWhenItIsWrong) {
  Arj("a -y -r -a1 -m1 -gOpenSesame ../g.arj '*'");
  {
    auto source = CreateArjSource(dir_.Host("g.arj"), 0, Volumes());
    const auto walked = Walk(*source, "OpenSesame");
    ExpectFiles(walked, 4);
    for (const auto& w : walked) {
      if (w.Member.Kind == TMemberKind::File && w.Member.Size > 0) {
        EXPECT_TRUE(w.Member.Encrypted) << w.Member.Name;
      }
    }
  }
  for (const std::string wrong : {"opensesame", "", "OpenSesam"}) {
    auto source = CreateArjSource(dir_.Host("g.arj"), 0, Volumes());
    TSourceMember m;
    ASSERT_TRUE(source->Next(m));
    const auto sink = [](const uint8_t*, size_t) {};
    EXPECT_EQ(source->Decode(sink, wrong), TDecodeResult::WrongPassword) << wrong;
    // The same member again with the right one.
    Bytes data;
    EXPECT_EQ(source->Decode([&](const uint8_t* b, size_t n) { data.insert(data.end(), b, b + n); },
                             "OpenSesame"),
              TDecodeResult::Ok);
    EXPECT_EQ(data, files_.at(m.Name));
  }
}

TEST_F(ArjSource, VolumeSetsContinueMembersAcrossVolumes) {
  // Some 40 KB packed in volumes of 12 KB: members are split, the noise over three volumes.
  Arj("a -y -r -a1 -m1 -v12k ../v.arj '*'");
  ASSERT_TRUE(std::ifstream(dir_.Host("v.a02")).good()) << "arj made fewer volumes than expected";
  std::vector<std::string> asked;
  auto source = CreateArjSource(dir_.Host("v.arj"), 0, Volumes(&asked));
  const auto walked = Walk(*source);
  ExpectFiles(walked, 4);
  EXPECT_EQ(Names(walked), ListerNames(dir_.Host("v.arj")));
  ASSERT_GE(asked.size(), 2u);
  EXPECT_EQ(asked[0], dir_.Host("v.a01"));
  EXPECT_EQ(asked[1], dir_.Host("v.a02"));
  // Without the next volume the walk ends at the split member.
  TSourceServices refuse;
  refuse.NextVolume = [](std::string&, const std::string&) { return false; };
  auto refused = CreateArjSource(dir_.Host("v.arj"), 0, refuse);
  const auto part = Walk(*refused);
  EXPECT_LT(part.size(), walked.size());
}

TEST_F(ArjSource, SelfExtractingFormStartsWhereDetectionSays) {
  Arj("a -y -m4 ../plain.arj text.txt");
  // A DOS program image of 6000 bytes (11 pages of 512 and 368 bytes), the archive behind it.
  Bytes sfx(6000, 0);
  sfx[0] = 'M';
  sfx[1] = 'Z';
  sfx[2] = 368 & 0xFF;
  sfx[3] = 368 >> 8;
  sfx[4] = 12;
  const Bytes arj = ReadBytes(dir_.Host("plain.arj"));
  sfx.insert(sfx.end(), arj.begin(), arj.end());
  WriteBytes(dir_.Host("sfx.exe"), sfx);
  TArcova arcova;
  arcova.SetArchiveFile(dir_.System("sfx.exe"));
  ASSERT_EQ(arcova.ArcType(), atArjExe);
  ASSERT_EQ(arcova.StartOffset(), 6000);
  auto source = CreateArjSource(dir_.Host("sfx.exe"), arcova.StartOffset(), Volumes());
  const auto walked = Walk(*source);
  ExpectFiles(walked, 1);
}

TEST_F(ArjSource, DamageIsReportedNeverPassed) {
  Arj("a -y -m1 ../d.arj text.txt");
  Bytes bytes = ReadBytes(dir_.Host("d.arj"));
  for (size_t at : {size_t{200}, bytes.size() / 2, bytes.size() - 100}) {
    Bytes damaged = bytes;
    damaged[at] ^= 0x5A;
    WriteBytes(dir_.Host("x.arj"), damaged);
    auto source = CreateArjSource(dir_.Host("x.arj"), 0, Volumes());
    for (const auto& w : Walk(*source)) {
      EXPECT_NE(w.Result, TDecodeResult::Ok) << at;
      EXPECT_NE(w.ErrorCode, 0) << at;
    }
  }
  // Cut in the member's data.
  Bytes cut(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(bytes.size() / 2));
  WriteBytes(dir_.Host("c.arj"), cut);
  auto source = CreateArjSource(dir_.Host("c.arj"), 0, Volumes());
  const auto walked = Walk(*source);
  ASSERT_EQ(walked.size(), 1u);
  EXPECT_EQ(walked[0].Result, TDecodeResult::Truncated);
  // No file, no header.
  auto missing = CreateArjSource(dir_.Host("none.arj"), 0, Volumes());
  TSourceMember m;
  EXPECT_FALSE(missing->Next(m));
  EXPECT_EQ(missing->ErrorCode(), kErrOpeningFile);
  WriteBytes(dir_.Host("junk.arj"), Bytes(100, 7));
  auto junk = CreateArjSource(dir_.Host("junk.arj"), 0, Volumes());
  EXPECT_FALSE(junk->Next(m));
  EXPECT_EQ(junk->ErrorCode(), kErrBadFileHeader);
}

TEST(ArjSourceConformance, SharedArchivesDecodeWithTheirCrc) {
  const std::string other = std::string(PARCELO_TESTDATA_DIR) + "/other/";
  if (ReadBytes(other + "cc_bla.arj").empty()) GTEST_SKIP() << "no conformance archives";
  for (const char* name : {"cc_bla.arj", "sc_Arj.store.split.arj"}) {
    std::vector<std::string> asked;
    auto source = CreateArjSource(other + name, 0, Volumes(&asked));
    const auto walked = Walk(*source);
    ASSERT_FALSE(walked.empty()) << name;
    for (const auto& w : walked) {
      EXPECT_EQ(w.Result, TDecodeResult::Ok) << name << " " << w.Member.Name;
      EXPECT_EQ(w.Member.Size, static_cast<int64_t>(w.Data.size()));
    }
    EXPECT_EQ(Names(walked), ListerNames(other + name)) << name;
    // The names lsar printed for the archive (of a set, for its first volume only).
    if (std::string(name) != "cc_bla.arj") continue;
    const Bytes list = ReadBytes(other + "../expected/" + name + ".list");
    std::string expected(list.begin(), list.end());
    std::string got;
    for (const auto& w : walked) got += w.Member.Name + "\n";
    EXPECT_EQ(got, expected) << name;
  }
}

// ---- ARC and PAK --------------------------------------------------------------------------------
TEST(ArcSource, ArcArchivesComeOutWholeAndNamedAsListed) {
  if (!parcelo::test::HaveTool("arc")) GTEST_SKIP() << "the arc program is not installed";
  TempDir dir("arcsource");
  const std::map<std::string, Bytes> files = {{"TEXT.TXT", parcelo::test::TextPayload(70000)},
                                              {"RUNS.BIN", parcelo::test::RunsPayload(30000)},
                                              {"NOISE.BIN", parcelo::test::NoisePayload(4000)},
                                              {"EMPTY.TXT", {}}};
  for (const auto& [name, bytes] : files) WriteBytes(dir.Host(name), bytes);
  for (const char* command : {"a", "aq", "as"}) {
    const std::string archive = std::string(command) + ".arc";
    ASSERT_TRUE(parcelo::test::RunIn(dir.HostPath(),
                                     std::string("arc ") + command + " " + archive +
                                         " TEXT.TXT RUNS.BIN NOISE.BIN EMPTY.TXT"));
    auto source = CreateArcSource(dir.Host(archive), 0, false, TSourceServices{});
    const auto walked = Walk(*source);
    ASSERT_EQ(walked.size(), files.size()) << archive;
    for (const auto& w : walked) {
      ASSERT_EQ(w.Result, TDecodeResult::Ok) << archive << " " << w.Member.Name;
      EXPECT_EQ(w.Data, files.at(w.Member.Name)) << archive << " " << w.Member.Name;
      EXPECT_NE(w.Member.DosDateTime, 0u);
    }
    EXPECT_EQ(Names(walked), ListerNames(dir.Host(archive))) << archive;
  }
}

// An ARC archive of members already packed; method 30 opens a folder, 31 closes it.
struct TArcEntry {
  uint8_t Method;
  std::string Name;
  Bytes Data;
  uint32_t Size;
  uint16_t Crc;
};
Bytes ArcOf(const std::vector<TArcEntry>& entries) {
  parcelo::test::ByteWriter w;
  for (const auto& e : entries) {
    w.U8(0x1A).U8(e.Method);
    if (e.Method == 31) continue;
    w.Fixed(e.Name, 13).U32(static_cast<uint32_t>(e.Data.size())).U16(0x5B8A).U16(0x6000);
    w.U16(e.Crc).U32(e.Size).Append(e.Data);
  }
  w.U8(0x1A).U8(0);
  return w.bytes;
}
TArcEntry Stored(const std::string& name, const std::string& text) {
  Bytes b(text.begin(), text.end());
  return {2, name, b, static_cast<uint32_t>(b.size()), parcelo::test::Crc16Of(b)};
}

TEST(ArcSource, FoldersNestAndCloseAsTheListerReadsThem) {
  TempDir dir("arcfolders");
  const Bytes arc = ArcOf({Stored("TOP.TXT", "top"),
                           {30, "SUB", {}, 0, 0},
                           Stored("A.TXT", "in sub"),
                           {30, "DEEP", {}, 0, 0},
                           Stored("B.TXT", "in deep"),
                           {31, "", {}, 0, 0},
                           Stored("C.TXT", "in sub again"),
                           {31, "", {}, 0, 0},
                           Stored("LAST.TXT", "last")});
  WriteBytes(dir.Host("f.arc"), arc);
  auto source = CreateArcSource(dir.Host("f.arc"), 0, false, TSourceServices{});
  const auto walked = Walk(*source);
  const std::vector<std::string> expected = {"TOP.TXT",     "SUB\\",          "SUB\\A.TXT",
                                             "SUB\\DEEP\\", "SUB\\DEEP\\B.TXT", "SUB\\C.TXT",
                                             "LAST.TXT"};
  EXPECT_EQ(Names(walked), expected);
  EXPECT_EQ(Names(walked), ListerNames(dir.Host("f.arc")));
  ASSERT_EQ(walked.size(), expected.size());
  EXPECT_EQ(walked[1].Member.Kind, TMemberKind::Folder);
  EXPECT_EQ(std::string(walked[5].Data.begin(), walked[5].Data.end()), "in sub again");
  for (const auto& w : walked) EXPECT_EQ(w.Result, TDecodeResult::Ok) << w.Member.Name;
}

TEST(ArcSource, PakMethodsAndChecksumsAreReportedPerMember) {
  TempDir dir("pak");
  TArcEntry crushed = Stored("CRUSH.BIN", "not really crushed");
  crushed.Method = 10;
  TArcEntry badCrc = Stored("BAD.TXT", "checksum will not match");
  badCrc.Crc ^= 1;
  TArcEntry cut = Stored("CUT.TXT", "0123456789");
  cut.Size = 20;
  WriteBytes(dir.Host("p.pak"),
             ArcOf({crushed, Stored("OK.TXT", "fine"), badCrc, cut, Stored("END.TXT", "end")}));
  auto source = CreateArcSource(dir.Host("p.pak"), 0, true, TSourceServices{});
  TSourceMember m;
  const auto sink = [](const uint8_t*, size_t) {};
  ASSERT_TRUE(source->Next(m));
  EXPECT_EQ(m.Method, "Crushed");
  EXPECT_EQ(source->Decode(sink, ""), TDecodeResult::Unsupported);
  EXPECT_EQ(source->ErrorCode(), kErrUnsupportedMethod);
  EXPECT_NE(source->ErrorDetail().find("Crushed"), std::string::npos);
  ASSERT_TRUE(source->Next(m));
  EXPECT_EQ(source->Decode(sink, ""), TDecodeResult::Ok);
  ASSERT_TRUE(source->Next(m));
  EXPECT_EQ(source->Decode(sink, ""), TDecodeResult::ChecksumFailed);
  EXPECT_EQ(source->ErrorCode(), kErrCrcCheck);
  ASSERT_TRUE(source->Next(m));
  EXPECT_EQ(source->Decode(sink, ""), TDecodeResult::Truncated);
  ASSERT_TRUE(source->Next(m));
  EXPECT_EQ(m.Name, "END.TXT");
  EXPECT_EQ(source->Decode(sink, ""), TDecodeResult::Ok);
  EXPECT_FALSE(source->Next(m));
  EXPECT_EQ(source->ErrorCode(), 0);
}

TEST(ArcSource, ConformanceArchiveDecodesWithItsCrc) {
  const std::string path = std::string(PARCELO_TESTDATA_DIR) + "/other/sc_Arc.crunched.arc";
  if (ReadBytes(path).empty()) GTEST_SKIP() << "no conformance archives";
  auto source = CreateArcSource(path, 0, false, TSourceServices{});
  const auto walked = Walk(*source);
  ASSERT_EQ(walked.size(), 3u);
  for (const auto& w : walked) EXPECT_EQ(w.Result, TDecodeResult::Ok) << w.Member.Name;
  EXPECT_EQ(Names(walked), ListerNames(path));
}

}  // namespace
