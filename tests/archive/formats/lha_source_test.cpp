// Tests of the LHA/LZH member source: archives made by jlha (-lh0-, -lh5-, -lh6-, -lh7-; header
// levels 0, 1, 2) decode to the files they were made from; the conformance archives yield lhasa's
// names, folders and symbolic links; stored members with hand-built headers of every level
// (3 included, which the lister reads too); a self-extractor's stub; a wrong CRC, a cut archive
// and random damage. What the source yields is what the lister lists.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "archive/common/arvStreams.h"
#include "archive/formats/lhacab_sources.h"
#include "support/ReaderFixture.h"
#include "support/SourceFixture.h"
#include "support/TempDir.h"

namespace {

using namespace parcelo::test;

std::string Shared(const std::string& name) {
  return std::string(PARCELO_TESTDATA_DIR) + "/other/" + name;
}

std::unique_ptr<TMemberSource> Open(const std::string& hostPath) {
  const TDetected d = Detect(hostPath);
  return CreateLhaSource(hostPath, d.start, TSourceServices{});
}

// What the lister lists of a file, folders included, as the source's names come out.
std::vector<std::string> ListerNames(const std::string& hostPath) {
  TListOptions options;
  options.showEmptyDirs = true;
  return ListFile(hostPath, options).names;
}

uint16_t Crc16(const std::string& data) {
  return static_cast<uint16_t>(
      Crc16Update(0, reinterpret_cast<const uint8_t*>(data.data()), data.size()));
}

// One stored member with a header of the given level; `folder` uses "/" (written as the level's
// separator).
Bytes StoredMember(int level, const std::string& method, const std::string& folder,
                   const std::string& name, const std::string& data, uint16_t crc) {
  ByteWriter w;
  const auto size = static_cast<uint32_t>(data.size());
  if (level == 0 || level == 1) {
    std::string stored = folder.empty() ? name : folder + "/" + name;
    for (char& c : stored)
      if (c == '/') c = '\\';
    const size_t n = stored.size();
    const size_t total = level == 0 ? 24 + n : 27 + n;
    w.U8(static_cast<uint32_t>(total - 2)).U8(0).Str(method);
    w.U32(size).U32(size).U32(0x5A216000).U8(0x20).U8(level).U8(static_cast<uint32_t>(n));
    w.Str(stored).U16(crc);
    if (level == 1) w.U8('M').U16(0);
    uint32_t sum = 0;
    for (size_t i = 2; i < w.bytes.size(); ++i) sum += w.bytes[i];
    w.bytes[1] = static_cast<uint8_t>(sum);
  } else {
    const size_t sizeField = level == 2 ? 2 : 4;
    std::string dir = folder;
    for (char& c : dir)
      if (c == '/') c = '\xFF';
    std::vector<std::pair<uint8_t, std::string>> exts = {{0x01, name}};
    if (!dir.empty()) exts.push_back({0x02, dir + '\xFF'});
    w.U16(level == 2 ? 0 : 4).Str(method).U32(size).U32(size).U32(1700000000).U8(0x20);
    w.U8(level).U16(crc).U8('U');
    const size_t totalAt = w.Size();
    if (level == 3) w.U32(0);
    auto putSize = [&](size_t v) { sizeField == 2 ? w.U16(static_cast<uint32_t>(v)) : w.U32(static_cast<uint32_t>(v)); };
    putSize(1 + exts[0].second.size() + sizeField);
    for (size_t i = 0; i < exts.size(); ++i) {
      w.U8(exts[i].first).Str(exts[i].second);
      putSize(i + 1 < exts.size() ? 1 + exts[i + 1].second.size() + sizeField : 0);
    }
    if (level == 2) w.Patch16(0, static_cast<uint32_t>(w.Size()));
    else w.Patch32(totalAt, static_cast<uint32_t>(w.Size()));
  }
  w.Str(data);
  return w.bytes;
}

TEST(LhaSource, ConformanceArchivesYieldTheListersNamesLinksAndLhasasBytes) {
  for (const char* file : {"la_test_read_format_lha_header0.lzh", "la_test_read_format_lha_header1.lzh",
                           "la_test_read_format_lha_header2.lzh"}) {
    const std::string path = Shared(file);
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "no conformance archives";
    auto source = Open(path);
    const TDrained drained = Drain(source.get());
    EXPECT_EQ(drained.endError, 0) << file;
    EXPECT_EQ(drained.Names(),
              (std::vector<std::string>{"dir/", "dir2/", "dir2/symlink1", "dir2/symlink2", "file1", "file2"}))
        << file;
    EXPECT_EQ(ListerStyleNames(drained, true), ListerNames(path)) << file;
    const TDrainedMember* link = drained.Find("dir2/symlink1");
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->member.Kind, TMemberKind::Symlink);
    EXPECT_EQ(link->member.LinkTarget, "../file1");
    EXPECT_EQ(drained.Find("dir/")->member.Kind, TMemberKind::Folder);
    EXPECT_EQ(drained.Find("file2")->member.Mode & 07777, 0666u) << file;
    if (!HaveTool("lhasa")) continue;
    TempDir out;
    ASSERT_TRUE(RunIn(out.HostPath(), "lhasa xq '" + path + "'"));
    for (const char* name : {"file1", "file2"}) {
      const TDrainedMember* m = drained.Find(name);
      ASSERT_NE(m, nullptr);
      EXPECT_EQ(m->result, TDecodeResult::Ok);
      EXPECT_TRUE(SameBytes(m->data, out.ReadFile(name))) << file << " " << name;
      EXPECT_EQ(m->member.Method, "lh5");
    }
  }
}

TEST(LhaSource, JlhaArchivesOfEveryMethodAndLevelDecodeToTheirFiles) {
  if (!HaveTool("jlha")) GTEST_SKIP() << "jlha missing";
  TempDir dir;
  std::string text;
  for (int i = 0; i < 6000; ++i) text += "line " + std::to_string(i * 7 % 1000) + " of the text\n";
  dir.WriteFile("in/text.txt", text);
  std::string binary;
  for (uint32_t i = 0, x = 1; i < 70000; ++i) binary += static_cast<char>((x = x * 1103515245 + 12345) >> 24);
  dir.WriteFile("in/sub/noise.bin", binary);
  dir.WriteFile("in/empty.txt", "");
  for (const char* options : {"o50", "o61", "o72", "z2"}) {
    const std::string archive = std::string("t_") + options + ".lzh";
    ASSERT_TRUE(RunIn(dir.Host("in"), std::string("jlha a") + options + " ../" + archive +
                                          " text.txt sub/noise.bin empty.txt"))
        << options;
    auto source = Open(dir.Host(archive));
    const TDrained drained = Drain(source.get());
    EXPECT_EQ(drained.endError, 0);
    ASSERT_EQ(drained.members.size(), 3u) << options;
    EXPECT_TRUE(SameBytes(drained.Find("text.txt")->data, text)) << options;
    EXPECT_TRUE(SameBytes(drained.Find("sub/noise.bin")->data, binary)) << options;
    EXPECT_TRUE(SameBytes(drained.Find("empty.txt")->data, "")) << options;
    for (const TDrainedMember& m : drained.members) EXPECT_EQ(m.result, TDecodeResult::Ok) << options;
    EXPECT_EQ(ListerStyleNames(drained, true), ListerNames(dir.Host(archive))) << options;
  }
}

TEST(LhaSource, StoredMembersOfEveryHeaderLevelAndTheListerAgree) {
  TempDir dir;
  const std::string data = "stored member data\n";
  for (int level = 0; level <= 3; ++level) {
    for (const char* method : {"-lh0-", "-lz4-"}) {
      // Upper-case MS-DOS names, which liblhasa would lower-case, keep their case.
      Bytes archive = StoredMember(level, method, "DOCS/INNER", "README.TXT", data, Crc16(data));
      const Bytes second = StoredMember(level, method, "", "b.txt", "bb", Crc16("bb"));
      archive.insert(archive.end(), second.begin(), second.end());
      archive.push_back(0);
      const std::string path = dir.Host("s" + std::to_string(level) + ".lzh");
      WriteBytes(path, archive);
      auto source = Open(path);
      const TDrained drained = Drain(source.get());
      EXPECT_EQ(drained.endError, 0) << level << method;
      ASSERT_EQ(drained.Names(), (std::vector<std::string>{"DOCS/INNER/README.TXT", "b.txt"}))
          << level << method;
      EXPECT_TRUE(SameBytes(drained.members[0].data, data));
      EXPECT_EQ(drained.members[0].result, TDecodeResult::Ok);
      EXPECT_TRUE(SameBytes(drained.members[1].data, "bb"));
      EXPECT_EQ(ListerStyleNames(drained, true), ListerNames(path)) << level << method;
      if (level >= 2) {
        EXPECT_TRUE(drained.members[0].member.HasExactTime);
        EXPECT_EQ(drained.members[0].member.UnixTime, 1700000000);
      } else {
        EXPECT_EQ(drained.members[0].member.DosDateTime, 0x5A216000u);
      }
    }
  }
}

TEST(LhaSource, ASelfExtractorsStubIsSteppedOver) {
  if (!HaveTool("jlha")) GTEST_SKIP() << "jlha missing";
  TempDir dir;
  dir.WriteFile("in/readme.txt", std::string(5000, 'r') + "end\n");
  ASSERT_TRUE(RunIn(dir.Host("in"), "jlha ao5 ../plain.lzh readme.txt"));
  Bytes exe(20000, 0x90);
  exe[0] = 'M';
  exe[1] = 'Z';
  const Bytes plain = ReadBytes(dir.Host("plain.lzh"));
  exe.insert(exe.end(), plain.begin(), plain.end());
  WriteBytes(dir.Host("sfx.exe"), exe);
  const TDetected d = Detect(dir.Host("sfx.exe"));
  ASSERT_EQ(d.type, atLhaExe);
  auto source = Open(dir.Host("sfx.exe"));
  const TDrained drained = Drain(source.get());
  ASSERT_EQ(drained.Names(), std::vector<std::string>{"readme.txt"});
  EXPECT_TRUE(SameBytes(drained.members[0].data, std::string(5000, 'r') + "end\n"));
}

TEST(LhaSource, AWrongCrcACutArchiveAndAnUnknownMethodAreReported) {
  TempDir dir;
  const std::string data = "some data to check";
  Bytes bad = StoredMember(2, "-lh0-", "", "bad.txt", data, static_cast<uint16_t>(Crc16(data) ^ 1));
  bad.push_back(0);
  WriteBytes(dir.Host("crc.lzh"), bad);
  auto source = Open(dir.Host("crc.lzh"));
  TDrained drained = Drain(source.get());
  ASSERT_EQ(drained.members.size(), 1u);
  EXPECT_EQ(drained.members[0].result, TDecodeResult::ChecksumFailed);

  Bytes cut = StoredMember(1, "-lh0-", "", "cut.txt", data, Crc16(data));
  cut.resize(cut.size() - 5);
  WriteBytes(dir.Host("cut.lzh"), cut);
  source = Open(dir.Host("cut.lzh"));
  drained = Drain(source.get());
  ASSERT_EQ(drained.members.size(), 1u);
  EXPECT_EQ(drained.members[0].result, TDecodeResult::Truncated);

  Bytes odd = StoredMember(2, "-lh9-", "", "odd.txt", data, Crc16(data));
  odd.push_back(0);
  WriteBytes(dir.Host("odd.lzh"), odd);
  source = Open(dir.Host("odd.lzh"));
  drained = Drain(source.get());
  ASSERT_EQ(drained.members.size(), 1u);
  EXPECT_EQ(drained.members[0].result, TDecodeResult::Unsupported);
  EXPECT_EQ(drained.members[0].member.Method, "lh9");
}

TEST(LhaSource, DamagedArchivesNeverCrashOrHang) {
  const std::string conformance = Shared("la_test_read_format_lha_header2.lzh");
  TempDir dir;
  Bytes whole;
  if (std::filesystem::exists(conformance)) {
    whole = ReadBytes(conformance);
  } else {
    whole = StoredMember(2, "-lh0-", "f", "a", "abc", Crc16("abc"));
    whole.push_back(0);
  }
  const std::string path = dir.Host("damaged.lzh");
  DrainWithFlips(path, whole, 200, [&] { return CreateLhaSource(path, 0, TSourceServices{}); });
  for (size_t cut = 0; cut < whole.size(); cut += 7) {
    WriteBytes(path, Bytes(whole.begin(), whole.begin() + static_cast<long>(cut)));
    auto source = CreateLhaSource(path, 0, TSourceServices{});
    Drain(source.get());
  }
}

}  // namespace
