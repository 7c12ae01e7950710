// Tests of the cabinet source and of the MS-DOS compress source (both on libmspack): cabinets made
// by gcab (stored and MSZIP) and the conformance cabinets decode to what cabextract writes; a
// five-cabinet set read from each of its cabinets yields what the lister lists, and decodes a
// member begun in a cabinet before the one given; a missing cabinet is asked for through the
// run's next-volume service, and without it the set ends with an error and the member that went
// on is not yielded; SZDD and KWAJ files built field by field; random damage.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "archive/formats/lhacab_sources.h"
#include "support/ReaderFixture.h"
#include "support/SourceFixture.h"
#include "support/TempDir.h"

namespace {

using namespace parcelo::test;

std::string Shared(const std::string& name) {
  return std::string(PARCELO_TESTDATA_DIR) + "/other/" + name;
}

std::unique_ptr<TMemberSource> OpenCab(const std::string& path, const TSourceServices& s = {}) {
  return CreateCabSource(path, Detect(path).start, s);
}

std::vector<std::string> ListerFiles(const std::string& path) {
  return ListFile(path).names;
}

TEST(CabSource, GcabCabinetsDecodeToTheirFilesAndListAlike) {
  if (!HaveTool("gcab")) GTEST_SKIP() << "gcab missing";
  TempDir dir;
  std::string text;
  for (int i = 0; i < 9000; ++i) text += "row " + std::to_string(i % 321) + " of a cabinet\n";
  dir.WriteFile("in/text.txt", text);
  std::string noise;
  for (uint32_t i = 0, x = 9; i < 100000; ++i) noise += static_cast<char>((x = x * 69069 + 1) >> 24);
  dir.WriteFile("in/sub/noise.bin", noise);
  dir.WriteFile("in/empty.txt", "");
  for (const char* option : {"", "-z"}) {
    const std::string cab = dir.Host(std::string("t") + option + ".cab");
    ASSERT_TRUE(RunIn(dir.Host("in"), std::string("gcab -c ") + option + " '" + cab +
                                          "' text.txt sub/noise.bin empty.txt"));
    auto source = OpenCab(cab);
    const TDrained drained = Drain(source.get());
    EXPECT_EQ(drained.endError, 0);
    ASSERT_EQ(drained.members.size(), 3u) << option;
    EXPECT_TRUE(SameBytes(drained.Find("text.txt")->data, text));
    EXPECT_TRUE(SameBytes(drained.Find("sub\\noise.bin")->data, noise));
    EXPECT_TRUE(SameBytes(drained.Find("empty.txt")->data, ""));
    EXPECT_EQ(drained.Find("text.txt")->member.Method, option[0] ? "MSZIP" : "Stored");
    for (const TDrainedMember& m : drained.members) EXPECT_EQ(m.result, TDecodeResult::Ok);
    EXPECT_EQ(ListerStyleNames(drained, false), ListerFiles(cab));
  }
}

TEST(CabSource, ASetReadFromEachCabinetYieldsTheListersMembersAndCabextractsBytes) {
  if (!std::filesystem::exists(Shared("split-1.cab"))) GTEST_SKIP() << "no conformance archives";
  if (!HaveTool("cabextract")) GTEST_SKIP() << "cabextract missing";
  TempDir out;
  ASSERT_TRUE(RunIn(out.HostPath(), "cabextract -q '" + Shared("split-1.cab") + "'"));
  for (int first = 1; first <= 5; ++first) {
    const std::string path = Shared("split-" + std::to_string(first) + ".cab");
    auto source = OpenCab(path);
    const TDrained drained = Drain(source.get());
    EXPECT_EQ(drained.endError, 0) << first;
    EXPECT_EQ(ListerStyleNames(drained, false), ListerFiles(path)) << first;
    EXPECT_FALSE(drained.members.empty());
    for (const TDrainedMember& m : drained.members) {
      EXPECT_EQ(m.result, TDecodeResult::Ok) << first << " " << m.member.Name;
      EXPECT_TRUE(SameBytes(m.data, out.ReadFile(m.member.Name))) << first << " " << m.member.Name;
    }
  }
  auto source = OpenCab(Shared("ms_simple.cab"));
  const TDrained simple = Drain(source.get());
  EXPECT_EQ(simple.Names(), (std::vector<std::string>{"hello.c", "welcome.c"}));
  TempDir simpleOut;
  ASSERT_TRUE(RunIn(simpleOut.HostPath(), "cabextract -q '" + Shared("ms_simple.cab") + "'"));
  for (const TDrainedMember& m : simple.members) EXPECT_TRUE(SameBytes(m.data, simpleOut.ReadFile(m.member.Name)));
}

TEST(CabSource, AMissingCabinetIsAskedForAndWithoutItTheSetEndsWithAnError) {
  if (!std::filesystem::exists(Shared("split-1.cab"))) GTEST_SKIP() << "no conformance archives";
  TempDir dir;
  std::filesystem::create_directories(dir.Host("first"));
  std::filesystem::create_directories(dir.Host("rest"));
  std::filesystem::copy_file(Shared("split-1.cab"), dir.Host("first/split-1.cab"),
                             std::filesystem::copy_options::overwrite_existing);
  for (int i = 2; i <= 5; ++i) {
    const std::string name = "split-" + std::to_string(i) + ".cab";
    std::filesystem::copy_file(Shared(name), dir.Host("rest/" + name));
  }
  // Unanswered: the first cabinet's own member, then the end with an error.
  auto source = OpenCab(dir.Host("first/split-1.cab"));
  TDrained drained = Drain(source.get());
  EXPECT_EQ(drained.Names(), std::vector<std::string>{"small1.bin"});
  EXPECT_NE(drained.endError, 0);

  // Answered with the cabinet in another folder: the rest is found beside it.
  std::vector<std::string> asked;
  TSourceServices services;
  services.NextVolume = [&](std::string& volume, const std::string& id) {
    asked.push_back(id);
    std::string name = volume.substr(volume.find_last_of('/') + 1);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    volume = dir.Host("rest/" + name);
    return true;
  };
  source = OpenCab(dir.Host("first/split-1.cab"), services);
  drained = Drain(source.get());
  EXPECT_EQ(asked.size(), 1u);
  EXPECT_EQ(drained.endError, 0);
  EXPECT_EQ(drained.members.size(), 6u);
  for (const TDrainedMember& m : drained.members) EXPECT_EQ(m.result, TDecodeResult::Ok);

  // A member begun in a cabinet that is not there cannot be decoded, and says so.
  std::filesystem::create_directories(dir.Host("late"));
  for (int i = 3; i <= 5; ++i) {
    const std::string name = "split-" + std::to_string(i) + ".cab";
    std::filesystem::copy_file(Shared(name), dir.Host("late/" + name));
  }
  source = OpenCab(dir.Host("late/split-3.cab"));
  drained = Drain(source.get());
  ASSERT_FALSE(drained.members.empty());
  EXPECT_EQ(drained.members[0].member.Name, "medium2.bin");
  EXPECT_NE(drained.members[0].result, TDecodeResult::Ok);
  EXPECT_NE(source->ErrorDetail().find("Split-2.CAB"), std::string::npos) << source->ErrorDetail();
  EXPECT_EQ(drained.members.size(), 3u);
}

TEST(CabSource, DamagedCabinetsNeverCrashOrHang) {
  TempDir dir;
  Bytes whole;
  if (std::filesystem::exists(Shared("ms_simple.cab"))) {
    whole = ReadBytes(Shared("ms_simple.cab"));
  } else if (HaveTool("gcab")) {
    dir.WriteFile("a.txt", std::string(3000, 'a') + "tail");
    ASSERT_TRUE(RunIn(dir.HostPath(), "gcab -c -z g.cab a.txt"));
    whole = ReadBytes(dir.Host("g.cab"));
  } else {
    GTEST_SKIP() << "no cabinet to damage";
  }
  const std::string path = dir.Host("damaged.cab");
  DrainWithFlips(path, whole, 300, [&] { return CreateCabSource(path, 0, TSourceServices{}); });
  for (size_t cut = 0; cut < whole.size(); cut += 5) {
    WriteBytes(path, Bytes(whole.begin(), whole.begin() + static_cast<long>(cut)));
    auto source = CreateCabSource(path, 0, TSourceServices{});
    Drain(source.get());
  }
}

// ---- SZDD and KWAJ ------------------------------------------------------------------------------
// An SZDD file of literals only: a flag byte of eight set bits before every eight bytes.
Bytes Szdd(const std::string& data, char missing) {
  ByteWriter w;
  w.Str("SZDD").U8(0x88).U8(0xF0).U8(0x27).U8(0x33).U8('A').U8(static_cast<uint8_t>(missing));
  w.U32(static_cast<uint32_t>(data.size()));
  for (size_t i = 0; i < data.size(); i += 8) {
    w.U8(0xFF);
    w.Str(data.substr(i, 8));
  }
  return w.bytes;
}

// A KWAJ file, stored (method 0) or XORed with 0xFF (method 1), with its length and name.
Bytes Kwaj(const std::string& data, int method, const std::string& name, const std::string& ext) {
  ByteWriter w;
  w.Str("KWAJ").U8(0x88).U8(0xF0).U8(0x27).U8(0xD1).U16(static_cast<uint32_t>(method));
  const size_t offsetAt = w.Size();
  w.U16(0).U16(0x01 | 0x08 | 0x10).U32(static_cast<uint32_t>(data.size()));
  w.Str(name).U8(0).Str(ext).U8(0);
  w.Patch16(offsetAt, static_cast<uint32_t>(w.Size()));
  for (const char c : data) w.U8(method == 1 ? static_cast<uint8_t>(c) ^ 0xFF : static_cast<uint8_t>(c));
  return w.bytes;
}

TEST(MsCompressSource, SzddAndKwajFilesExpandUnderTheNamesTheyGive) {
  TempDir dir;
  const std::string data = "A setup file of some length, expanded by the old tools.\n";
  WriteBytes(dir.Host("SETUP.EX_"), Szdd(data, 'E'));
  auto source = CreateMsCompressSource(dir.Host("SETUP.EX_"), 0, TSourceServices{});
  TDrained drained = Drain(source.get());
  ASSERT_EQ(drained.Names(), std::vector<std::string>{"SETUP.EXE"});
  EXPECT_EQ(drained.members[0].result, TDecodeResult::Ok);
  EXPECT_TRUE(SameBytes(drained.members[0].data, data));
  EXPECT_EQ(drained.members[0].member.Size, static_cast<int64_t>(data.size()));

  for (int method : {0, 1}) {
    WriteBytes(dir.Host("readme.tx_"), Kwaj(data, method, "README", "TXT"));
    source = CreateMsCompressSource(dir.Host("readme.tx_"), 0, TSourceServices{});
    drained = Drain(source.get());
    ASSERT_EQ(drained.Names(), std::vector<std::string>{"README.TXT"}) << method;
    EXPECT_EQ(drained.members[0].result, TDecodeResult::Ok);
    EXPECT_TRUE(SameBytes(drained.members[0].data, data)) << method;
  }

  Bytes cut = Szdd(data, 'E');
  cut.resize(cut.size() - 20);
  WriteBytes(dir.Host("CUT.TX_"), cut);
  source = CreateMsCompressSource(dir.Host("CUT.TX_"), 0, TSourceServices{});
  drained = Drain(source.get());
  ASSERT_EQ(drained.members.size(), 1u);
  EXPECT_NE(drained.members[0].data, data);  // never the whole, never a crash

  WriteBytes(dir.Host("plain.txt"), Bytes(data.begin(), data.end()));
  source = CreateMsCompressSource(dir.Host("plain.txt"), 0, TSourceServices{});
  drained = Drain(source.get());
  EXPECT_TRUE(drained.members.empty());
  EXPECT_NE(drained.endError, 0);
}

}  // namespace
